#include "app/photofile.h"

#include "app/heifreader.h"
#include "app/jpegencoder.h"
#include "app/pngencoder.h"
#include "imaging/photopixels.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QImageWriter>
#include <QMimeData>
#include <QPainter>
#include <QPixelFormat>
#include <QRegularExpression>
#include <QSaveFile>
#include <QUrl>

#include <algorithm>

namespace {

bool isJpeg(const QByteArray &format)
{
    return format == "jpg" || format == "jpeg";
}

// Whether every pixel of a composed image (Format_ARGB32 or Format_RGBA64)
// is fully opaque.
bool allOpaque(const QImage &image)
{
    for (int y = 0; y < image.height(); ++y) {
        if (image.format() == QImage::Format_RGBA64) {
            const auto *line = reinterpret_cast<const QRgba64 *>(image.constScanLine(y));
            if (!std::all_of(line, line + image.width(), [](QRgba64 p) { return p.isOpaque(); }))
                return false;
        } else {
            const auto *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
            if (!std::all_of(line, line + image.width(), [](QRgb p) { return qAlpha(p) == 255; }))
                return false;
        }
    }
    return true;
}

// A two-colour image with a grey palette, or a 16-bit colour scan of a
// black-and-white print, is grey in every pixel; it is worked on as one byte
// per pixel.
bool allGrey(const QImage &image)
{
    if (image.format() == QImage::Format_Mono || image.format() == QImage::Format_MonoLSB) {
        const QList<QRgb> table = image.colorTable();
        return std::all_of(table.cbegin(), table.cend(), [](QRgb c) { return qIsGray(c); });
    }
    if (image.format() != QImage::Format_RGBX64)
        return false;
    for (int y = 0; y < image.height(); ++y) {
        const auto *line = reinterpret_cast<const QRgba64 *>(image.constScanLine(y));
        if (!std::all_of(line, line + image.width(),
                         [](QRgba64 p) { return p.red() == p.green() && p.green() == p.blue(); }))
            return false;
    }
    return true;
}

qint64 bytesFor(const QSize &size, QImage::Format format)
{
    const int depth = format == QImage::Format_Invalid ? 32 : QImage::toPixelFormat(format).bitsPerPixel();
    return qint64(size.width()) * size.height() * depth / 8;
}

QString lowerFirst(QString text)
{
    if (!text.isEmpty())
        text[0] = text[0].toLower();
    return text;
}

} // namespace

PhotoFile::PhotoFile(const QString &fileName)
    : name(fileName)
{ }

// Files up to this size are read into memory before decoding.
constexpr qint64 bufferedReadLimit = qint64(256) * 1024 * 1024;

bool PhotoFile::read()
{
    readPhoto = QImage();
    readOriginal = QImage();
    readMetadata = PhotoMetadata();
    failure = NoError;
    message.clear();
    remarks.clear();

    const QFileInfo info(name);
    if (!info.exists())
        return failRead(NoSuchFile, tr("there is no such file"));
    // Checked before anything opens it: opening a named pipe waits for a
    // writer that may never come.
    if (info.isDir())
        return failRead(NotRegularFile, tr("it is a folder"));
    if (!info.isFile())
        return failRead(NotRegularFile, tr("it is not a regular file"));

    // Decoded from memory where the file is of a sensible size: some readers
    // (TGA) read past the end of a short file one byte and one system call at
    // a time, which a damaged header turns into minutes.
    QFile file(name);
    QBuffer buffer;
    if (info.size() <= bufferedReadLimit && file.open(QIODevice::ReadOnly)) {
        buffer.setData(file.readAll());
        file.close();
        buffer.open(QIODevice::ReadOnly);
    }
    if (buffer.isOpen() && HeifReader::canRead(buffer.data()))
        return readHeif(buffer.data());
    QImageReader reader;
    if (buffer.isOpen())
        reader.setDevice(&buffer);
    else
        reader.setFileName(name);
    reader.setFormat(info.suffix().toLower().toLatin1()); // a hint; the content decides
    reader.setAutoTransform(true);
    const QSize size = reader.size();
    const QImage::Format format = reader.imageFormat();
    QImage image = reader.read();
    if (image.isNull()) {
        if (!size.isValid() || size.isEmpty())
            return failRead(NotAnImage, tr("it is not an image that Brivela can read"));
        const qint64 limit = qint64(QImageReader::allocationLimit()) * 1024 * 1024;
        if (limit > 0 && bytesFor(size, format) > limit)
            return failRead(TooLarge, tr("the photo is too large"), size);
        // The reader does not say why it gave up; if an image of that size
        // cannot be had now, memory was the reason.
        if (QImage(size, format == QImage::Format_Invalid ? QImage::Format_ARGB32 : format).isNull())
            return failRead(NotEnoughMemory, tr("there is not enough memory for a photo of this size"), size);
        return failRead(NotAnImage, tr("it is not an image that Brivela can read"));
    }

    // A name like photo@2x.png makes the reader scale the image for
    // high-density screens; the photo, its layer and the saved file share one
    // pixel grid.
    image.setDevicePixelRatio(1);
    if (!keep(std::move(image)))
        return false;
    readMetadata = buffer.isOpen() ? PhotoMetadata::fromFileData(buffer.data(), &remarks)
                                   : PhotoMetadata::fromFile(name, &remarks);
    return true;
}

bool PhotoFile::readHeif(const QByteArray &data)
{
    HeifReader heif;
    const qint64 limit = qint64(QImageReader::allocationLimit()) * 1024 * 1024;
    if (!heif.read(data, limit)) {
        switch (heif.error()) {
        case HeifReader::TooLarge:
            return failRead(TooLarge, tr("the photo is too large"), heif.size());
        case HeifReader::NotEnoughMemory:
            return failRead(NotEnoughMemory, tr("there is not enough memory for a photo of this size"), heif.size());
        default:
            return failRead(NotAnImage, tr("it is not an image that Brivela can read"));
        }
    }
    readMetadata = heif.metadata();
    return keep(heif.takeImage());
}

bool PhotoFile::keep(QImage image)
{
    if (hasDeepChannels(image.format()))
        readOriginal = image;
    readPhoto = readableForm(image);
    if (readPhoto.isNull()) {
        readOriginal = QImage();
        return failRead(NotEnoughMemory, tr("there is not enough memory for a photo of this size"), image.size());
    }
    return true;
}

bool PhotoFile::write(const QImage &photo, const QImage &original, const QImage &layer, const PhotoMetadata &metadata,
                      SaveProgress *progress)
{
    return writeReleasing(QImage(photo), QImage(original), QImage(layer), metadata, progress);
}

bool PhotoFile::writeReleasing(QImage &&photo, QImage &&original, QImage &&layer, const PhotoMetadata &metadata,
                               SaveProgress *progress)
{
    auto snapshot = std::make_shared<const LayerSnapshot>(layer);
    layer = QImage();
    return writeReleasing(std::move(photo), std::move(original), std::move(snapshot), metadata, progress);
}

bool PhotoFile::writeReleasing(QImage &&photo, QImage &&original, std::shared_ptr<const LayerSnapshot> layer,
                               const PhotoMetadata &metadata, SaveProgress *progress)
{
    failure = NoError;
    message.clear();
    remarks.clear();

    // The format follows the suffix; refuse before touching the disk when it
    // names no format that can be written.
    const QByteArray format = QFileInfo(name).suffix().toLower().toLatin1();
    if (format.isEmpty() || !QImageWriter::supportedImageFormats().contains(format))
        return failWrite(tr("the name does not end in .jpg or .png"));

    const ProgressSpan whole(progress, 0, SaveProgress::whole);
    if (!whole.step(0, 1))
        return failWrite(progress->reason());
    if (!layer)
        layer = std::make_shared<const LayerSnapshot>();
    const QImage image = composed(photo, original, *layer, format);
    if (image.isNull()) {
        return failWrite(
            tr("there is not enough memory to compose it (%1 x %2 pixels)").arg(photo.width()).arg(photo.height()));
    }
    if (!layer->isIntact())
        return failWrite(tr("there was not enough memory to keep the colouring as it was when the save began"));
    layer.reset();
    original = QImage();
    photo = QImage();

    // Written beside the target and renamed over it only when complete, so a
    // failed save leaves an existing file intact; where the folder takes no
    // new file, an existing writable file is written in place.
    QSaveFile file(name);
    file.setDirectWriteFallback(true);
    if (!file.open(QIODevice::WriteOnly)) {
        if (!QFileInfo(name).dir().exists())
            return failWrite(tr("the folder does not exist"));
        return failWrite(lowerFirst(file.errorString()));
    }
    QString reason;
    bool tooLarge = false;
    if (!encode(image, format, metadata, &file, whole.part(100, 1000), &reason, &remarks, &tooLarge)) {
        if (progress && progress->isCancelled())
            reason = progress->reason();
        else if (file.error() != QFileDevice::NoError)
            reason = file.errorString();
        // A format that refuses an image, e.g. JPEG beyond 65535 pixels a
        // side, gives no reason of its own.
        if (tooLarge) {
            reason = tr("%1 cannot hold this image (%2 x %3 pixels)")
                         .arg(QString::fromLatin1(format.toUpper()))
                         .arg(image.width())
                         .arg(image.height());
        }
        file.cancelWriting();
        return failWrite(lowerFirst(reason));
    }
    if (progress && !progress->report(SaveProgress::whole)) {
        file.cancelWriting();
        return failWrite(progress->reason());
    }
    if (!file.commit())
        return failWrite(lowerFirst(file.errorString()));
    return true;
}

bool PhotoFile::encode(const QImage &image, const QByteArray &format, const PhotoMetadata &metadata, QIODevice *device,
                       const ProgressSpan &progress, QString *error, QStringList *notes, bool *tooLarge)
{
    if (tooLarge)
        *tooLarge = false;
    if (format == "png") {
        PngEncoder encoder(device);
        encoder.setMetadata(metadata);
        const bool ok = encoder.write(image, progress);
        if (notes)
            notes->append(encoder.notes());
        if (!ok && error)
            *error = encoder.errorString();
        return ok;
    }
    if (isJpeg(format)) {
        JpegEncoder encoder(device);
        encoder.setMetadata(metadata);
        const bool ok = encoder.write(image, progress);
        if (notes)
            notes->append(encoder.notes());
        if (!ok && error)
            *error = encoder.errorString();
        if (!ok && tooLarge)
            *tooLarge = encoder.tooLarge();
        return ok;
    }
    // The other formats Qt writes keep its writer, without metadata.
    QImageWriter writer(device, format);
    writer.setQuality(100);
    if (writer.write(image))
        return progress.step(1, 1);
    if (error)
        *error = writer.errorString();
    if (tooLarge)
        *tooLarge = writer.error() == QImageWriter::UnknownError;
    return false;
}

QImage PhotoFile::composed(const QImage &photo, const QImage &original, const QImage &layer, const QByteArray &format)
{
    return composed(photo, original, LayerSnapshot(layer), format);
}

QImage PhotoFile::composed(const QImage &photo, const QImage &original, const LayerSnapshot &layer,
                           const QByteArray &format)
{
    const bool jpeg = isJpeg(format);
    const bool deep = !original.isNull() && format == "png";
    const bool mayBeTransparent = deep ? original.hasAlphaChannel() : photo.hasAlphaChannel();

    QImage image;
    if (deep) {
        // The layer's 8-bit colours are widened exactly (times 257); where the
        // layer is transparent the photo's 16-bit values pass unchanged.
        image = original.convertToFormat(QImage::Format_RGBA64);
    } else if (jpeg && mayBeTransparent) {
        // JPEG holds no transparency: the photo goes over white, as the canvas
        // shows it.
        image = QImage(photo.size(), QImage::Format_ARGB32);
        if (!image.isNull()) {
            image.fill(Qt::white);
            QPainter painter(&image);
            painter.drawImage(0, 0, photo);
        }
    } else {
        image = photo.convertToFormat(QImage::Format_ARGB32);
    }
    if (image.isNull())
        return image;
    {
        // A band of rows at a time: the layer may be a snapshot that painting
        // goes on changing, and no whole copy of it is made.
        constexpr int bandRows = 64;
        QPainter painter(&image);
        QImage band;
        for (int top = 0; top < layer.height(); top += bandRows) {
            const int count = std::min(bandRows, layer.height() - top);
            if (!layer.readRows(top, count, &band))
                return QImage();
            painter.drawImage(QPoint(0, top), band, QRect(0, 0, layer.width(), count));
        }
    }

    if (jpeg || !mayBeTransparent || allOpaque(image))
        image.convertTo(deep ? QImage::Format_RGBX64 : QImage::Format_RGB32);
    return image;
}

QImage PhotoFile::readableForm(const QImage &image)
{
    if (PhotoPixels::isDirect(image.format()))
        return image;
    const bool grey =
        image.pixelFormat().colorModel() == QPixelFormat::Grayscale || image.isGrayscale() || allGrey(image);
    if (grey)
        return image.convertToFormat(QImage::Format_Grayscale8);
    return image.convertToFormat(image.hasAlphaChannel() ? QImage::Format_ARGB32 : QImage::Format_RGB32);
}

bool PhotoFile::hasDeepChannels(QImage::Format format)
{
    switch (format) {
    case QImage::Format_Grayscale16:
    case QImage::Format_RGBX64:
    case QImage::Format_RGBA64:
    case QImage::Format_RGBA64_Premultiplied:
    case QImage::Format_BGR30:
    case QImage::Format_A2BGR30_Premultiplied:
    case QImage::Format_RGB30:
    case QImage::Format_A2RGB30_Premultiplied:
    case QImage::Format_RGBX16FPx4:
    case QImage::Format_RGBA16FPx4:
    case QImage::Format_RGBA16FPx4_Premultiplied:
    case QImage::Format_RGBX32FPx4:
    case QImage::Format_RGBA32FPx4:
    case QImage::Format_RGBA32FPx4_Premultiplied:
        return true;
    default:
        return false;
    }
}

QString PhotoFile::openFilter()
{
    QStringList patterns;
    QList<QByteArray> formats = QImageReader::supportedImageFormats();
    formats << "heic"
            << "heif"
            << "ora"; // work files
    for (const QByteArray &format : std::as_const(formats))
        patterns.append(QStringLiteral("*.") + QString::fromLatin1(format));
    return tr("All images (%1)").arg(patterns.join(QLatin1Char(' '))) + QStringLiteral(";;")
        + tr("Image Files (*.png *.jpg *.bmp *.jpeg *.tiff *.tif *.gif)") + QStringLiteral(";;") + tr("All files (*)");
}

bool PhotoFile::fail(Error error, const QString &text)
{
    failure = error;
    message = text;
    return false;
}

bool PhotoFile::failRead(Error error, const QString &reason)
{
    return fail(error, tr("Could not open %1: %2.").arg(QDir::toNativeSeparators(name), reason));
}

bool PhotoFile::failRead(Error error, const QString &reason, const QSize &size)
{
    return failRead(error, tr("%1 (%2 x %3 pixels)").arg(reason).arg(size.width()).arg(size.height()));
}

bool PhotoFile::failWrite(const QString &reason)
{
    return fail(CannotWrite, tr("Could not save %1: %2.").arg(QDir::toNativeSeparators(name), reason));
}

QString PhotoFile::suffixOfFilter(const QString &filter)
{
    const int star = filter.indexOf(QStringLiteral("*."));
    if (star < 0)
        return QString();
    const int end = filter.indexOf(QRegularExpression(QStringLiteral("[ )]")), star);
    return filter.mid(star + 2, end < 0 ? -1 : end - star - 2);
}

QString PhotoFile::droppedFile(const QMimeData *data)
{
    if (!data || !data->hasUrls() || data->urls().size() != 1 || !data->urls().constFirst().isLocalFile())
        return QString();
    return data->urls().constFirst().toLocalFile();
}
