#include "app/workfile.h"

#include "app/photofile.h"
#include "app/pngencoder.h"

#include <QBuffer>
#include <QDir>
#include <QFileInfo>
#include <QImageReader>
#include <QPainter>
#include <QSaveFile>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include <zip.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

const char WorkFile::mimetypeEntry[] = "mimetype";
const char WorkFile::stackEntry[] = "stack.xml";
const char WorkFile::photoEntry[] = "data/photo.png";
const char WorkFile::colourEntry[] = "data/colour.png";
const char WorkFile::mergedEntry[] = "mergedimage.png";
const char WorkFile::thumbnailEntry[] = "Thumbnails/thumbnail.png";
const char WorkFile::marksEntry[] = "brivela/marks";
const char WorkFile::exifEntry[] = "brivela/photo.exif";
const char WorkFile::xmpEntry[] = "brivela/photo.xmp";
const char WorkFile::iccEntry[] = "brivela/photo.icc";

namespace {

const QByteArray mimetype("image/openraster");
const QByteArray pngSignature("\x89PNG\r\n\x1a\n", 8);

// Limits on what a file may make the reader unpack. The images' own limit is
// the image readers' allocation limit; an entry of PNG data larger than the
// pixels it can hold, plus slack for incompressible data, is refused unread.
constexpr qint64 entryCountLimit = 10000;
constexpr qint64 stackLimit = 4 * 1024 * 1024;
constexpr qint64 marksLimit = 256 * 1024 * 1024;
constexpr qint64 metadataLimit = 16 * 1024 * 1024;
constexpr int layerCountLimit = 1000;
constexpr int nestingLimit = 64;
// The layers above the photo may cover the picture this many times over.
constexpr qint64 upperLayerAreaLimit = 64;

qint64 allocationLimit()
{
    const int megabytes = QImageReader::allocationLimit();
    return megabytes > 0 ? qint64(megabytes) * 1024 * 1024 : std::numeric_limits<qint64>::max() / 4;
}

QString lowerFirst(QString text)
{
    if (!text.isEmpty())
        text[0] = text[0].toLower();
    return text;
}

// One layer of stack.xml, with the offsets, opacity and visibility of the
// stacks around it folded in.
struct StackLayer {
    QString name;
    QString src;
    QString op;
    int x = 0;
    int y = 0;
    double opacity = 1;
    bool visible = true;
};

struct StackAttributes {
    int x = 0;
    int y = 0;
    double opacity = 1;
    bool visible = true;
};

StackAttributes within(const QXmlStreamAttributes &attributes, const StackAttributes &outer)
{
    StackAttributes inner = outer;
    inner.x += attributes.value(QLatin1String("x")).toInt();
    inner.y += attributes.value(QLatin1String("y")).toInt();
    bool ok = false;
    const double opacity = attributes.value(QLatin1String("opacity")).toDouble(&ok);
    if (ok && std::isfinite(opacity))
        inner.opacity *= std::clamp(opacity, 0.0, 1.0);
    if (attributes.value(QLatin1String("visibility")) == QLatin1String("hidden"))
        inner.visible = false;
    return inner;
}

// Whether a path inside the archive stays inside it.
bool isInside(const QString &path)
{
    if (path.isEmpty() || path.startsWith(QLatin1Char('/')) || path.contains(QLatin1Char('\\'))
        || path.contains(QLatin1Char(':')))
        return false;
    const QStringList parts = path.split(QLatin1Char('/'));
    return !parts.contains(QStringLiteral(".."));
}

// Nested stacks are folded into their layers: offsets add up, opacities
// multiply, a hidden stack hides what it holds. Blending a group as one
// image would differ only where its layers overlap each other.
class StackParser
{
public:
    bool parse(const QByteArray &xml)
    {
        QXmlStreamReader reader(xml);
        while (reader.readNextStartElement()) {
            if (reader.name() != QLatin1String("image"))
                return failWith(WorkFile::tr("its layer list does not describe an image"));
            const QXmlStreamAttributes attributes = reader.attributes();
            bool okW = false;
            bool okH = false;
            width = attributes.value(QLatin1String("w")).toInt(&okW);
            height = attributes.value(QLatin1String("h")).toInt(&okH);
            if (!okW || !okH || width <= 0 || height <= 0)
                return failWith(WorkFile::tr("its layer list gives no size for the picture"));
            while (reader.readNextStartElement()) {
                if (reader.name() == QLatin1String("stack")) {
                    if (!stack(reader, StackAttributes(), 1) && !reader.hasError())
                        return false;
                } else {
                    reader.skipCurrentElement();
                }
            }
            break;
        }
        if (reader.hasError()) {
            return failWith(WorkFile::tr("its layer list is damaged (line %1: %2)")
                                .arg(reader.lineNumber())
                                .arg(reader.errorString()));
        }
        if (width <= 0)
            return failWith(WorkFile::tr("its layer list does not describe an image"));
        if (topDown.isEmpty())
            return failWith(WorkFile::tr("it holds no layers"));
        std::reverse(topDown.begin(), topDown.end());
        return true;
    }

    int width = 0;
    int height = 0;
    QList<StackLayer> topDown; // bottom-up once parsed
    QString reason;

private:
    bool failWith(const QString &text)
    {
        reason = text;
        return false;
    }

    bool stack(QXmlStreamReader &reader, const StackAttributes &outer, int depth)
    {
        if (depth > nestingLimit)
            return failWith(WorkFile::tr("its layers are nested too deeply"));
        const StackAttributes here = within(reader.attributes(), outer);
        while (reader.readNextStartElement()) {
            if (reader.name() == QLatin1String("stack")) {
                if (!stack(reader, here, depth + 1))
                    return false;
            } else if (reader.name() == QLatin1String("layer")) {
                const QXmlStreamAttributes attributes = reader.attributes();
                const StackAttributes own = within(attributes, here);
                StackLayer layer;
                layer.name = attributes.value(QLatin1String("name")).toString();
                layer.src = attributes.value(QLatin1String("src")).toString();
                layer.op = attributes.value(QLatin1String("composite-op")).toString();
                layer.x = own.x;
                layer.y = own.y;
                layer.opacity = own.opacity;
                layer.visible = own.visible;
                if (layer.name.isEmpty())
                    layer.name = layer.src;
                if (!isInside(layer.src))
                    return failWith(WorkFile::tr("it names a file outside the archive (%1)").arg(layer.src));
                if (topDown.size() >= layerCountLimit)
                    return failWith(WorkFile::tr("it holds more than %1 layers").arg(layerCountLimit));
                topDown.append(layer);
                reader.skipCurrentElement();
            } else {
                reader.skipCurrentElement();
            }
        }
        return !reader.hasError();
    }
};

struct ZipFileCloser {
    void operator()(zip_file_t *file) const { zip_fclose(file); }
};

QString zipReason(zip_error_t *error)
{
    return QString::fromLocal8Bit(zip_error_strerror(error));
}

} // namespace

// The archive being read, with what has been unpacked counted against a
// limit.
class WorkFile::Archive
{
public:
    ~Archive()
    {
        if (zip)
            zip_discard(zip);
    }

    bool open(const QString &fileName, WorkFile::Error *error, QString *reason)
    {
        // Opened without waiting and checked before any read: a named pipe
        // would wait for a writer that may never come.
        const int fd = ::open(QFile::encodeName(fileName).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            *error = errno == ENOENT ? NoSuchFile : NotAWorkFile;
            *reason = errno == ENOENT ? tr("there is no such file")
                                      : lowerFirst(QString::fromLocal8Bit(std::strerror(errno)));
            return false;
        }
        struct stat info {
        };
        if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
            *error = NotRegularFile;
            *reason = S_ISDIR(info.st_mode) ? tr("it is a folder") : tr("it is not a regular file");
            ::close(fd);
            return false;
        }
        int code = 0;
        zip = zip_fdopen(fd, ZIP_CHECKCONS, &code);
        if (!zip) {
            ::close(fd);
            zip_error_t zipError;
            zip_error_init_with_code(&zipError, code);
            *error = NotAWorkFile;
            *reason = tr("it is not a work file that Brivela can read (%1)").arg(lowerFirst(zipReason(&zipError)));
            zip_error_fini(&zipError);
            return false;
        }
        const zip_int64_t count = zip_get_num_entries(zip, 0);
        if (count > entryCountLimit) {
            *error = NotAWorkFile;
            *reason = tr("the archive holds more than %1 files").arg(entryCountLimit);
            return false;
        }
        for (zip_int64_t i = 0; i < count; ++i) {
            const char *entry = zip_get_name(zip, zip_uint64_t(i), ZIP_FL_ENC_GUESS);
            const QString path = entry ? QString::fromUtf8(entry) : QString();
            // A directory entry ends in a slash.
            const QString stripped = path.endsWith(QLatin1Char('/')) ? path.chopped(1) : path;
            if (!isInside(stripped)) {
                *error = NotAWorkFile;
                *reason = tr("it names a file outside the archive (%1)").arg(path);
                return false;
            }
        }
        budget = 4 * allocationLimit();
        return true;
    }

    bool contains(const char *path) const { return zip_name_locate(zip, path, 0) >= 0; }

    // The entry's bytes, refused unread where it says it is larger than
    // `limit`, and refused where it unpacks to more than it says.
    bool read(const QString &path, qint64 limit, QByteArray *out, QString *reason)
    {
        const QByteArray encoded = path.toUtf8();
        const zip_int64_t index = zip_name_locate(zip, encoded.constData(), 0);
        if (index < 0) {
            *reason = tr("the file %1 is missing from the archive").arg(path);
            return false;
        }
        zip_stat_t stat;
        zip_stat_init(&stat);
        if (zip_stat_index(zip, zip_uint64_t(index), 0, &stat) != 0 || !(stat.valid & ZIP_STAT_SIZE)) {
            *reason = tr("the file %1 in the archive is damaged").arg(path);
            return false;
        }
        if (stat.size > zip_uint64_t(limit) || stat.size > zip_uint64_t(budget)) {
            *reason = tr("the file %1 in the archive is too large (%2 MB)")
                          .arg(path)
                          .arg(double(stat.size) / (1024 * 1024), 0, 'f', 1);
            return false;
        }
        if ((stat.valid & ZIP_STAT_ENCRYPTION_METHOD) && stat.encryption_method != ZIP_EM_NONE) {
            *reason = tr("the file %1 in the archive is encrypted").arg(path);
            return false;
        }
        std::unique_ptr<zip_file_t, ZipFileCloser> file(zip_fopen_index(zip, zip_uint64_t(index), 0));
        if (!file) {
            *reason = tr("the file %1 in the archive cannot be unpacked (%2)")
                          .arg(path, lowerFirst(zipReason(zip_get_error(zip))));
            return false;
        }
        QByteArray data(qsizetype(stat.size), Qt::Uninitialized);
        qint64 got = 0;
        while (got < qint64(stat.size)) {
            const zip_int64_t n = zip_fread(file.get(), data.data() + got, zip_uint64_t(qint64(stat.size) - got));
            if (n <= 0)
                break;
            got += n;
        }
        // Reading on to the end makes the library check the checksum; a
        // byte more than the entry declares is a bomb or a lie.
        char extra = 0;
        const zip_int64_t more = got == qint64(stat.size) ? zip_fread(file.get(), &extra, 1) : -1;
        if (got != qint64(stat.size) || more != 0) {
            *reason = more > 0 ? tr("the file %1 in the archive unpacks to more than it declares").arg(path)
                               : tr("the file %1 in the archive is damaged").arg(path);
            return false;
        }
        budget -= got;
        *out = std::move(data);
        return true;
    }

private:
    zip_t *zip = nullptr;
    qint64 budget = 0;
};

WorkFile::WorkFile(const QString &fileName)
    : name(fileName)
{ }

bool WorkFile::hasWorkFileName(const QString &fileName)
{
    return QFileInfo(fileName).suffix().compare(QLatin1String("ora"), Qt::CaseInsensitive) == 0;
}

bool WorkFile::looksLikeWorkFile(const QString &fileName)
{
    const int fd = ::open(QFile::encodeName(fileName).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat info {
    };
    char head[64] = {};
    const bool regular = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    const ssize_t n = regular ? ::read(fd, head, sizeof head) : 0;
    ::close(fd);
    // A zip's first local header, for an entry named "mimetype".
    const QByteArray start(head, int(std::max<ssize_t>(n, 0)));
    return start.startsWith("PK\x03\x04") && start.mid(30, 8) == "mimetype";
}

bool WorkFile::read()
{
    readPhoto = QImage();
    readOriginal = QImage();
    readLayer = QImage();
    readMarks.clear();
    readMetadata = PhotoMetadata();
    foreign = false;
    failure = NoError;
    message.clear();
    remarks.clear();

    Archive archive;
    Error error = NoError;
    QString reason;
    if (!archive.open(name, &error, &reason))
        return failRead(error, reason);
    if (!readArchive(archive)) {
        readPhoto = QImage();
        readOriginal = QImage();
        readLayer = QImage();
        readMarks.clear();
        return false;
    }
    return true;
}

namespace {

// A PNG layer decoded within the readers' allocation limit; `size` is the
// size the layer must have, or empty for any.
QImage decodeLayer(const QByteArray &data, const QString &layerName, qint64 areaLeft, QString *reason)
{
    if (!data.startsWith(pngSignature)) {
        *reason = WorkFile::tr("the layer %1 is not a PNG image").arg(layerName);
        return QImage();
    }
    QBuffer buffer;
    buffer.setData(data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "png");
    const QSize size = reader.size();
    if (!size.isValid() || size.isEmpty()) {
        *reason = WorkFile::tr("the layer %1 is damaged").arg(layerName);
        return QImage();
    }
    if (qint64(size.width()) * size.height() > areaLeft
        || qint64(size.width()) * size.height() * 8 > allocationLimit()) {
        *reason = WorkFile::tr("the layer %1 is too large (%2 x %3 pixels)")
                      .arg(layerName)
                      .arg(size.width())
                      .arg(size.height());
        return QImage();
    }
    QImage image = reader.read();
    if (image.isNull()) {
        *reason = WorkFile::tr("the layer %1 is damaged").arg(layerName);
        return QImage();
    }
    image.setDevicePixelRatio(1);
    return image;
}

QString sizeMismatch(const QString &layerName, const QSize &size, int width, int height)
{
    return WorkFile::tr("the layer %1 is %2 x %3 pixels, not the picture's %4 x %5")
        .arg(layerName)
        .arg(size.width())
        .arg(size.height())
        .arg(width)
        .arg(height);
}

} // namespace

bool WorkFile::readArchive(Archive &archive)
{
    QString reason;
    QByteArray type;
    if (!archive.read(QString::fromLatin1(mimetypeEntry), 1024, &type, &reason) || type.trimmed() != mimetype)
        return failRead(NotAWorkFile, tr("it is not an OpenRaster file"));
    QByteArray xml;
    if (!archive.read(QString::fromLatin1(stackEntry), stackLimit, &xml, &reason))
        return failRead(NotAWorkFile, reason);
    StackParser stack;
    if (!stack.parse(xml))
        return failRead(NotAWorkFile, stack.reason);
    const int width = stack.width;
    const int height = stack.height;
    const qint64 area = qint64(width) * height;
    if (area > allocationLimit() / 4)
        return failRead(TooLarge, tr("the picture is too large (%1 x %2 pixels)").arg(width).arg(height));

    const QList<StackLayer> &layers = stack.topDown;
    const bool ours = archive.contains(marksEntry) && layers.size() == 2 && layers[0].src == QLatin1String(photoEntry)
        && layers[1].src == QLatin1String(colourEntry);
    if (ours)
        return readOwn(archive, width, height);

    // Another program's file: the bottom layer is the photo.
    foreign = true;
    if (archive.contains(marksEntry))
        remarks.append(tr("The marks were left out: another program changed the layers."));
    const StackLayer &bottom = layers.constFirst();
    QByteArray data;
    if (!archive.read(bottom.src, allocationLimit() + 1024 * 1024, &data, &reason))
        return failRead(NotAWorkFile, reason);
    QImage photo = decodeLayer(data, bottom.name, area * upperLayerAreaLimit, &reason);
    if (photo.isNull())
        return failRead(NotAWorkFile, reason);
    if (photo.size() != QSize(width, height) || bottom.x != 0 || bottom.y != 0) {
        return failRead(NotAWorkFile,
                        tr("the bottom layer %1 does not cover the picture (%2 x %3 pixels at %4, %5)")
                            .arg(bottom.name)
                            .arg(photo.width())
                            .arg(photo.height())
                            .arg(bottom.x)
                            .arg(bottom.y));
    }
    readMetadata = PhotoMetadata::fromFileData(data, &remarks);
    data.clear();
    if (PhotoFile::hasDeepChannels(photo.format()))
        readOriginal = photo;
    readPhoto = PhotoFile::readableForm(photo);
    photo = QImage();

    QImage merged(width, height, QImage::Format_ARGB32_Premultiplied);
    if (readPhoto.isNull() || merged.isNull())
        return failRead(
            NotEnoughMemory,
            tr("there is not enough memory for a picture of this size (%1 x %2 pixels)").arg(width).arg(height));
    merged.fill(Qt::transparent);
    QPainter painter(&merged);
    qint64 areaLeft = area * upperLayerAreaLimit;
    QStringList blended;
    for (qsizetype i = 1; i < layers.size(); ++i) {
        const StackLayer &layer = layers[i];
        if (!layer.visible || layer.opacity <= 0)
            continue;
        if (!archive.read(layer.src, allocationLimit() + 1024 * 1024, &data, &reason))
            return failRead(NotAWorkFile, reason);
        const QImage image = decodeLayer(data, layer.name, areaLeft, &reason);
        if (image.isNull())
            return failRead(NotAWorkFile, reason);
        areaLeft -= qint64(image.width()) * image.height();
        if (!layer.op.isEmpty() && layer.op != QLatin1String("svg:src-over"))
            blended.append(layer.name);
        painter.setOpacity(layer.opacity);
        painter.drawImage(layer.x, layer.y, image);
    }
    painter.end();
    if (!blended.isEmpty())
        remarks.append(tr("Layers that blend otherwise were merged as normal layers: %1.")
                           .arg(blended.join(QStringLiteral(", "))));
    readLayer = merged.convertToFormat(QImage::Format_ARGB32);
    if (readLayer.isNull())
        return failRead(
            NotEnoughMemory,
            tr("there is not enough memory for a picture of this size (%1 x %2 pixels)").arg(width).arg(height));
    return true;
}

bool WorkFile::readOwn(Archive &archive, int width, int height)
{
    const qint64 area = qint64(width) * height;
    QString reason;
    QByteArray data;
    if (!archive.read(QString::fromLatin1(photoEntry), allocationLimit() + 1024 * 1024, &data, &reason))
        return failRead(NotAWorkFile, reason);
    QImage photo = decodeLayer(data, tr("photo"), area, &reason);
    if (photo.isNull())
        return failRead(NotAWorkFile, reason);
    if (photo.size() != QSize(width, height))
        return failRead(NotAWorkFile, sizeMismatch(tr("photo"), photo.size(), width, height));
    const QByteArray photoData = std::exchange(data, QByteArray());

    if (!archive.read(QString::fromLatin1(colourEntry), allocationLimit() + 1024 * 1024, &data, &reason))
        return failRead(NotAWorkFile, reason);
    QImage layer = decodeLayer(data, tr("colour"), area, &reason);
    data.clear();
    if (layer.isNull())
        return failRead(NotAWorkFile, reason);
    if (layer.size() != QSize(width, height))
        return failRead(NotAWorkFile, sizeMismatch(tr("colour"), layer.size(), width, height));

    if (!archive.read(QString::fromLatin1(marksEntry), marksLimit, &readMarks, &reason))
        return failRead(NotAWorkFile, reason);

    // The metadata as the photo had it, where kept; otherwise what the photo
    // layer carries.
    const bool kept = archive.contains(exifEntry) || archive.contains(xmpEntry) || archive.contains(iccEntry);
    if (kept) {
        const std::pair<const char *, QByteArray *> entries[] = {{exifEntry, &readMetadata.exif},
                                                                 {xmpEntry, &readMetadata.xmp},
                                                                 {iccEntry, &readMetadata.icc}};
        for (const auto &[entry, target] : entries) {
            if (archive.contains(entry) && !archive.read(QString::fromLatin1(entry), metadataLimit, target, &reason))
                return failRead(NotAWorkFile, reason);
        }
    } else {
        readMetadata = PhotoMetadata::fromFileData(photoData, &remarks);
    }

    if (PhotoFile::hasDeepChannels(photo.format()))
        readOriginal = photo;
    readPhoto = PhotoFile::readableForm(photo);
    readLayer = layer.format() == QImage::Format_ARGB32 ? layer : layer.convertToFormat(QImage::Format_ARGB32);
    if (readPhoto.isNull() || readLayer.isNull())
        return failRead(
            NotEnoughMemory,
            tr("there is not enough memory for a picture of this size (%1 x %2 pixels)").arg(width).arg(height));
    return true;
}

namespace {

QByteArray stackXml(int width, int height)
{
    QByteArray xml;
    QXmlStreamWriter writer(&xml);
    writer.setAutoFormatting(true);
    writer.writeStartDocument();
    writer.writeStartElement(QStringLiteral("image"));
    writer.writeAttribute(QStringLiteral("version"), QStringLiteral("0.0.5"));
    writer.writeAttribute(QStringLiteral("w"), QString::number(width));
    writer.writeAttribute(QStringLiteral("h"), QString::number(height));
    writer.writeStartElement(QStringLiteral("stack"));
    const std::pair<QString, const char *> layers[] = {{WorkFile::tr("Colour"), WorkFile::colourEntry},
                                                       {WorkFile::tr("Photo"), WorkFile::photoEntry}};
    for (const auto &[layerName, src] : layers) {
        writer.writeStartElement(QStringLiteral("layer"));
        writer.writeAttribute(QStringLiteral("name"), layerName);
        writer.writeAttribute(QStringLiteral("src"), QString::fromLatin1(src));
        writer.writeAttribute(QStringLiteral("x"), QStringLiteral("0"));
        writer.writeAttribute(QStringLiteral("y"), QStringLiteral("0"));
        writer.writeAttribute(QStringLiteral("opacity"), QStringLiteral("1.0"));
        writer.writeAttribute(QStringLiteral("visibility"), QStringLiteral("visible"));
        writer.writeAttribute(QStringLiteral("composite-op"), QStringLiteral("svg:src-over"));
        writer.writeEndElement();
    }
    writer.writeEndElement();
    writer.writeEndElement();
    writer.writeEndDocument();
    return xml;
}

bool encodePng(const QImage &image, const PhotoMetadata &metadata, const ProgressSpan &progress, QByteArray *out,
               QString *error, QStringList *notes)
{
    QBuffer buffer(out);
    buffer.open(QIODevice::WriteOnly);
    return PhotoFile::encode(image, "png", metadata, &buffer, progress, error, notes);
}

// The archive built in memory; its entries point into the byte arrays
// handed to it, which must outlive it.
class ArchiveWriter
{
public:
    ArchiveWriter()
    {
        zip_error_init(&error);
        source = zip_source_buffer_create(nullptr, 0, 0, &error);
        if (source)
            zip = zip_open_from_source(source, ZIP_TRUNCATE, &error);
        if (zip)
            zip_source_keep(source);
    }
    ~ArchiveWriter()
    {
        if (zip)
            zip_discard(zip);
        if (source)
            zip_source_free(source);
        zip_error_fini(&error);
    }

    bool isValid() const { return zip; }

    bool add(const char *path, const QByteArray &data, bool compress)
    {
        zip_source_t *entry = zip_source_buffer(zip, data.constData(), zip_uint64_t(data.size()), 0);
        if (!entry)
            return false;
        const zip_int64_t index = zip_file_add(zip, path, entry, ZIP_FL_ENC_UTF_8);
        if (index < 0) {
            zip_source_free(entry);
            return false;
        }
        return zip_set_file_compression(zip, zip_uint64_t(index), compress ? ZIP_CM_DEFLATE : ZIP_CM_STORE, 0) == 0;
    }

    // Closes the archive and gives its bytes.
    bool finish(QByteArray *out)
    {
        const int closed = zip_close(zip);
        if (closed != 0)
            return false;
        zip = nullptr;
        if (zip_source_open(source) != 0)
            return false;
        bool ok = zip_source_seek(source, 0, SEEK_END) == 0;
        const zip_int64_t size = ok ? zip_source_tell(source) : -1;
        ok = ok && size >= 0 && zip_source_seek(source, 0, SEEK_SET) == 0;
        if (ok) {
            out->resize(qsizetype(size));
            ok = zip_source_read(source, out->data(), zip_uint64_t(size)) == size;
        }
        zip_source_close(source);
        return ok;
    }

    QString errorString()
    {
        return lowerFirst(QString::fromLocal8Bit(zip ? zip_strerror(zip) : zip_error_strerror(&error)));
    }

private:
    zip_error_t error;
    zip_source_t *source = nullptr;
    zip_t *zip = nullptr;
};

} // namespace

bool WorkFile::write(const QImage &photo, const QImage &original, const QImage &layer, const QByteArray &marks,
                     const PhotoMetadata &metadata, SaveProgress *progress)
{
    return writeReleasing(QImage(photo), QImage(original), QImage(layer), marks, metadata, progress);
}

bool WorkFile::writeReleasing(QImage &&photo, QImage &&original, QImage &&layer, const QByteArray &marks,
                              const PhotoMetadata &metadata, SaveProgress *progress)
{
    auto snapshot = std::make_shared<const LayerSnapshot>(layer);
    layer = QImage();
    return writeReleasing(std::move(photo), std::move(original), std::move(snapshot), marks, metadata, progress);
}

bool WorkFile::writeReleasing(QImage &&photo, QImage &&original, std::shared_ptr<const LayerSnapshot> layer,
                              const QByteArray &marks, const PhotoMetadata &metadata, SaveProgress *progress)
{
    failure = NoError;
    message.clear();
    remarks.clear();
    const ProgressSpan whole(progress, 0, SaveProgress::whole);
    const auto stopped = [&] { return failWrite(lowerFirst(progress->reason())); };
    if (!whole.step(0, 1))
        return stopped();
    if (photo.isNull() || !layer || layer->size() != photo.size())
        return failWrite(tr("the colour layer does not fit the photo"));
    const QImage flat = PhotoFile::composed(photo, original, *layer, "png");
    if (flat.isNull()) {
        return failWrite(
            tr("there is not enough memory to compose it (%1 x %2 pixels)").arg(photo.width()).arg(photo.height()));
    }

    // The photo's own pixels (16 bits stay 16) with its metadata, upright.
    QString reason;
    QByteArray photoPng;
    QByteArray colourPng;
    QByteArray mergedPng;
    QByteArray thumbnailPng;
    // The colour layer first: past it, the snapshot is let go.
    {
        QBuffer buffer(&colourPng);
        buffer.open(QIODevice::WriteOnly);
        PngEncoder encoder(&buffer);
        if (!encoder.write(*layer, whole.part(50, 200))) {
            return progress && progress->isCancelled() ? stopped() : failWrite(lowerFirst(encoder.errorString()));
        }
    }
    if (!layer->isIntact())
        return failWrite(tr("there was not enough memory to keep the colouring as it was when the save began"));
    layer.reset();
    // What the photo layer cannot carry is kept in the entries of its own.
    if (!encodePng(original.isNull() ? photo : original, metadata, whole.part(200, 500), &photoPng, &reason, nullptr))
        return progress && progress->isCancelled() ? stopped() : failWrite(lowerFirst(reason));
    // What a flat PNG save writes, byte for byte.
    if (!encodePng(flat, metadata, whole.part(500, 850), &mergedPng, &reason, &remarks))
        return progress && progress->isCancelled() ? stopped() : failWrite(lowerFirst(reason));
    const QImage small = flat.scaled(QSize(thumbnailSide, thumbnailSide).boundedTo(flat.size()), Qt::KeepAspectRatio,
                                     Qt::SmoothTransformation)
                             .convertToFormat(flat.hasAlphaChannel() ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    if (!encodePng(small, PhotoMetadata(), whole.part(850, 870), &thumbnailPng, &reason, nullptr))
        return progress && progress->isCancelled() ? stopped() : failWrite(lowerFirst(reason));

    ArchiveWriter archive;
    const QByteArray xml = stackXml(photo.width(), photo.height());
    bool added = archive.isValid() && archive.add(mimetypeEntry, mimetype, false) && archive.add(stackEntry, xml, true)
        && archive.add(photoEntry, photoPng, false) && archive.add(colourEntry, colourPng, false)
        && archive.add(mergedEntry, mergedPng, false) && archive.add(thumbnailEntry, thumbnailPng, false)
        && archive.add(marksEntry, marks, true);
    const std::pair<const char *, const QByteArray *> kept[] = {{exifEntry, &metadata.exif},
                                                                {xmpEntry, &metadata.xmp},
                                                                {iccEntry, &metadata.icc}};
    for (const auto &[entry, data] : kept) {
        if (added && !data->isEmpty())
            added = archive.add(entry, *data, true);
    }
    QByteArray bytes;
    if (!added || !archive.finish(&bytes))
        return failWrite(archive.errorString());
    photoPng.clear();
    colourPng.clear();
    mergedPng.clear();
    if (!whole.step(900, 1000))
        return stopped();

    // Written beside the target and renamed over it only when complete, as
    // flat saves are.
    QSaveFile file(name);
    file.setDirectWriteFallback(true);
    if (!file.open(QIODevice::WriteOnly)) {
        if (!QFileInfo(name).dir().exists())
            return failWrite(tr("the folder does not exist"));
        return failWrite(lowerFirst(file.errorString()));
    }
    constexpr qint64 chunk = 4 * 1024 * 1024;
    const ProgressSpan writing = whole.part(900, 1000);
    for (qint64 at = 0; at < bytes.size(); at += chunk) {
        const qint64 n = std::min(chunk, qint64(bytes.size()) - at);
        if (file.write(bytes.constData() + at, n) != n) {
            const QString error = file.errorString();
            file.cancelWriting();
            return failWrite(lowerFirst(error));
        }
        if (!writing.step(at + n, bytes.size())) {
            file.cancelWriting();
            return stopped();
        }
    }
    if (!file.commit())
        return failWrite(lowerFirst(file.errorString()));
    return true;
}

bool WorkFile::fail(Error error, const QString &text)
{
    failure = error;
    message = text;
    return false;
}

bool WorkFile::failRead(Error error, const QString &reason)
{
    return fail(error, tr("Could not open %1: %2.").arg(QDir::toNativeSeparators(name), reason));
}

bool WorkFile::failWrite(const QString &reason)
{
    return fail(CannotWrite, tr("Could not save %1: %2.").arg(QDir::toNativeSeparators(name), reason));
}
