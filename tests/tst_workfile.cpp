#include "app/photofile.h"
#include "app/workfile.h"
#include "filesamples.h"
#include "testsupport.h"

#include <QBuffer>
#include <QColorSpace>
#include <QImageReader>
#include <QPainter>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <QtTest>

#include <zip.h>

#include <utility>
#include <vector>

namespace {

using FileSamples::Entries;
using FileSamples::png;
using FileSamples::zipOf;

void writeFile(const QString &name, const QByteArray &bytes)
{
    QFile file(name);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

QByteArray readFile(const QString &name)
{
    QFile file(name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The names of a zip's entries in order, and each one's bytes.
Entries entriesOf(const QByteArray &archive)
{
    Entries entries;
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t *source = zip_source_buffer_create(archive.constData(), zip_uint64_t(archive.size()), 0, &error);
    zip_t *zip = zip_open_from_source(source, ZIP_RDONLY | ZIP_CHECKCONS, &error);
    if (!zip) {
        zip_source_free(source);
        return entries;
    }
    for (zip_int64_t i = 0; i < zip_get_num_entries(zip, 0); ++i) {
        zip_stat_t stat;
        zip_stat_index(zip, zip_uint64_t(i), 0, &stat);
        QByteArray data(qsizetype(stat.size), Qt::Uninitialized);
        zip_file_t *file = zip_fopen_index(zip, zip_uint64_t(i), 0);
        zip_fread(file, data.data(), stat.size);
        zip_fclose(file);
        entries.emplace_back(QByteArray(stat.name), data);
    }
    zip_discard(zip);
    zip_error_fini(&error);
    return entries;
}

QByteArray entry(const Entries &entries, const QByteArray &name)
{
    for (const auto &[n, data] : entries) {
        if (n == name)
            return data;
    }
    return QByteArray();
}

QImage filled(int w, int h, QRgb colour)
{
    QImage image(w, h, QImage::Format_ARGB32);
    image.fill(colour);
    return image;
}

QByteArray stackOf(int w, int h, const QByteArray &body)
{
    return "<?xml version='1.0' encoding='UTF-8'?>\n<image version=\"0.0.5\" w=\"" + QByteArray::number(w) + "\" h=\""
        + QByteArray::number(h) + "\"><stack>" + body + "</stack></image>";
}

// The photo of each kind the document holds, from a real photo: the form
// the colouriser reads and, for deep photos, the photo's own pixels.
std::pair<QImage, QImage> photoOfKind(const QString &kind)
{
    const QImage source = FileSamples::realPhoto(QStringLiteral("astronaut.png")).copy(40, 30, 301, 203);
    if (source.isNull())
        return {};
    QImage deep;
    if (kind == QLatin1String("grey 8"))
        return {source.convertToFormat(QImage::Format_Grayscale8), QImage()};
    if (kind == QLatin1String("rgb"))
        return {source.convertToFormat(QImage::Format_RGB32), QImage()};
    if (kind == QLatin1String("palette"))
        return {source.convertToFormat(QImage::Format_Indexed8), QImage()};
    if (kind == QLatin1String("transparent")) {
        QImage image = source.convertToFormat(QImage::Format_ARGB32);
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                image.setPixel(x, y, (image.pixel(x, y) & 0xFFFFFF) | (uint((x + y) % 256) << 24));
        return {image, QImage()};
    }
    // 16 bits: the photo widened, with low bits of its own in every pixel.
    QRandomGenerator random(16);
    if (kind == QLatin1String("grey 16")) {
        deep = source.convertToFormat(QImage::Format_Grayscale16);
        for (int y = 0; y < deep.height(); ++y) {
            auto *line = reinterpret_cast<quint16 *>(deep.scanLine(y));
            for (int x = 0; x < deep.width(); ++x)
                line[x] = quint16((line[x] & 0xFF00) | random.bounded(256));
        }
    } else {
        deep = source.convertToFormat(QImage::Format_RGBX64);
        for (int y = 0; y < deep.height(); ++y) {
            auto *line = reinterpret_cast<QRgba64 *>(deep.scanLine(y));
            for (int x = 0; x < deep.width(); ++x)
                line[x] = QRgba64::fromRgba64(line[x].red() ^ quint16(random.bounded(256)), line[x].green(),
                                              line[x].blue() ^ quint16(random.bounded(256)), 65535);
        }
    }
    return {PhotoFile::readableForm(deep), deep};
}

// Strokes as the brush leaves them, and under alpha 0 any colour, which
// must survive too.
QImage colourLayer(const QSize &size)
{
    QImage layer(size, QImage::Format_ARGB32);
    QRandomGenerator random(3);
    for (int y = 0; y < size.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(layer.scanLine(y));
        for (int x = 0; x < size.width(); ++x) {
            if (qAbs(y - size.height() / 2 - (x % 40 - 20)) < 12)
                line[x] = qRgba(200, 60 + x % 100, 30, 220);
            else if (x < 30)
                line[x] = random.generate() & 0x00FFFFFF;
            else
                line[x] = 0;
        }
    }
    return layer;
}

// The image without the colour space its reader attached: the pixels are
// what must come back.
QImage pixelsOf(QImage image)
{
    image.setColorSpace(QColorSpace());
    return image;
}

QByteArray marksBlob()
{
    QByteArray marks(5000, Qt::Uninitialized);
    QRandomGenerator random(11);
    for (char &c : marks)
        c = char(random.bounded(256));
    return marks;
}

} // namespace

class TestWorkFile : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void roundTrip_data();
    void roundTrip();
    void structure_data();
    void structure();
    void foreignFileMerged();
    void hostileFilesRefused_data();
    void hostileFilesRefused();
    void failureMidwayKeepsTheFile_data();
    void failureMidwayKeepsTheFile();

private:
    QTemporaryDir dir;
};

void TestWorkFile::initTestCase()
{
    QVERIFY(dir.isValid());
    // A small limit, so that the bombs are refused quickly.
    QImageReader::setAllocationLimit(64);
}

void TestWorkFile::roundTrip_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QImage::Format>("photoFormat");
    QTest::newRow("grey 8") << "grey 8" << QImage::Format_Grayscale8;
    QTest::newRow("rgb") << "rgb" << QImage::Format_RGB32;
    QTest::newRow("palette") << "palette" << QImage::Format_Indexed8;
    QTest::newRow("transparent") << "transparent" << QImage::Format_ARGB32;
    QTest::newRow("grey 16") << "grey 16" << QImage::Format_Grayscale8;
    QTest::newRow("rgb 16") << "rgb 16" << QImage::Format_RGB32;
}

// Photo (at its own depth), colour layer, marks and metadata come back bit
// for bit.
void TestWorkFile::roundTrip()
{
    QFETCH(QString, kind);
    QFETCH(QImage::Format, photoFormat);
    const auto [photo, original] = photoOfKind(kind);
    if (photo.isNull())
        QSKIP("python3-skimage's sample photos are not installed");
    QCOMPARE(photo.format(), photoFormat);
    const QImage layer = colourLayer(photo.size());
    const PhotoMetadata metadata = FileSamples::cameraMetadata(6, photo.size().transposed());
    const QString name = dir.filePath(kind + QStringLiteral(".ora"));

    WorkFile out(name);
    QVERIFY2(out.write(photo, original, layer, marksBlob(), metadata), qPrintable(out.errorString()));
    QVERIFY(WorkFile::looksLikeWorkFile(name));

    WorkFile in(name);
    QVERIFY2(in.read(), qPrintable(in.errorString()));
    QVERIFY(!in.isForeign());
    QCOMPARE(in.photo().format(), photo.format());
    QCOMPARE(pixelsOf(in.photo()), pixelsOf(photo));
    QCOMPARE(in.original().format(), original.format());
    QCOMPARE(pixelsOf(in.original()), pixelsOf(original));
    QCOMPARE(in.layer().format(), QImage::Format_ARGB32);
    QCOMPARE(in.layer(), layer);
    QCOMPARE(in.marks(), marksBlob());
    QCOMPARE(in.metadata().exif, metadata.exif);
    QCOMPARE(in.metadata().xmp, metadata.xmp);
    QCOMPARE(in.metadata().icc, metadata.icc);
    QVERIFY(in.notes().isEmpty());
}

void TestWorkFile::structure_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("rgb") << "rgb";
    QTest::newRow("grey 16") << "grey 16";
    QTest::newRow("transparent") << "transparent";
}

// What other programs look for: "mimetype" first and stored, so that its
// text sits at byte 38; stack.xml listing the photo at the bottom and the
// colour above it; a merged picture that is exactly the flat PNG save; a
// thumbnail within 256 x 256.
void TestWorkFile::structure()
{
    QFETCH(QString, kind);
    const auto [photo, original] = photoOfKind(kind);
    if (photo.isNull())
        QSKIP("python3-skimage's sample photos are not installed");
    const QImage layer = colourLayer(photo.size());
    const PhotoMetadata metadata = FileSamples::cameraMetadata(1, photo.size());
    const QString name = dir.filePath(QStringLiteral("structure.ora"));
    WorkFile work(name);
    QVERIFY2(work.write(photo, original, layer, marksBlob(), metadata), qPrintable(work.errorString()));
    const QByteArray bytes = readFile(name);

    QCOMPARE(bytes.left(4), QByteArray("PK\x03\x04"));
    QCOMPARE(bytes.mid(8, 2), QByteArray("\0\0", 2));        // stored
    QCOMPARE(bytes.mid(26, 4), QByteArray("\x08\0\0\0", 4)); // name of 8, no extra field
    QCOMPARE(bytes.mid(30, 8), QByteArray("mimetype"));
    QCOMPARE(bytes.mid(38, 16), QByteArray("image/openraster"));

    const Entries entries = entriesOf(bytes);
    QVERIFY(!entries.empty());
    QCOMPARE(entries.front().first, QByteArray("mimetype"));
    QXmlStreamReader xml(entry(entries, "stack.xml"));
    QStringList sources;
    QSize size;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (xml.name() == QLatin1String("image"))
            size = QSize(xml.attributes().value(QLatin1String("w")).toInt(),
                         xml.attributes().value(QLatin1String("h")).toInt());
        if (xml.name() == QLatin1String("layer"))
            sources.prepend(xml.attributes().value(QLatin1String("src")).toString()); // listed top first
    }
    QVERIFY(!xml.hasError());
    QCOMPARE(size, photo.size());
    QCOMPARE(sources,
             QStringList({QString::fromLatin1(WorkFile::photoEntry), QString::fromLatin1(WorkFile::colourEntry)}));

    QImageReader photoLayer;
    QBuffer photoBytes;
    photoBytes.setData(entry(entries, WorkFile::photoEntry));
    QImage readBack = QImage::fromData(photoBytes.data(), "png");
    QCOMPARE(readBack.format(),
             original.isNull() ? QImage(photo).convertToFormat(readBack.format()).format() : original.format());
    QCOMPARE(QImage::fromData(entry(entries, WorkFile::colourEntry), "png"), layer);

    const QString flat = dir.filePath(QStringLiteral("flat.png"));
    PhotoFile flatFile(flat);
    QVERIFY(flatFile.write(photo, original, layer, metadata));
    QVERIFY(entry(entries, WorkFile::mergedEntry) == readFile(flat));

    const QImage thumbnail = QImage::fromData(entry(entries, WorkFile::thumbnailEntry), "png");
    QVERIFY(!thumbnail.isNull());
    QVERIFY(thumbnail.width() <= 256 && thumbnail.height() <= 256);
    QVERIFY(qAbs(thumbnail.width() * photo.height() - thumbnail.height() * photo.width()) <= photo.width());
}

// Another program's file: the bottom layer is the photo; the layers above
// are merged by their order, offsets (nested stacks' too), opacity and
// visibility; it has no marks.
void TestWorkFile::foreignFileMerged()
{
    QImage background = FileSamples::realPhoto(QStringLiteral("camera.png"));
    if (background.isNull())
        QSKIP("python3-skimage's sample photos are not installed");
    background = background.copy(100, 100, 40, 30).convertToFormat(QImage::Format_Grayscale8);
    QImage wash(40, 30, QImage::Format_ARGB32);
    wash.fill(Qt::transparent);
    QPainter(&wash).fillRect(0, 0, 10, 10, QColor(255, 0, 0));
    const QByteArray stack =
        stackOf(40, 30,
                "<layer name=\"sketch\" src=\"data/hidden.png\" visibility=\"hidden\"/>"
                "<stack x=\"10\" y=\"5\" opacity=\"0.5\">"
                "<layer name=\"dab\" src=\"data/dab.png\" x=\"2\" y=\"3\"/></stack>"
                "<layer name=\"wash\" src=\"data/wash.png\" opacity=\"0.5\" composite-op=\"svg:multiply\"/>"
                "<layer name=\"background\" src=\"data/background.png\"/>");
    const QString name = dir.filePath(QStringLiteral("foreign.ora"));
    writeFile(name,
              zipOf({{"mimetype", "image/openraster"},
                     {"stack.xml", stack},
                     {"data/hidden.png", png(filled(40, 30, qRgb(0, 255, 0)))},
                     {"data/dab.png", png(filled(4, 4, qRgb(0, 0, 255)))},
                     {"data/wash.png", png(wash)},
                     {"data/background.png", png(background)}}));

    WorkFile file(name);
    QVERIFY2(file.read(), qPrintable(file.errorString()));
    QVERIFY(file.isForeign());
    QCOMPARE(pixelsOf(file.photo()), pixelsOf(background));
    QVERIFY(file.marks().isEmpty());
    QVERIFY2(file.notes().join(QLatin1Char(' ')).contains(QStringLiteral("wash")),
             qPrintable(file.notes().join(QLatin1Char(' '))));
    const QImage &layer = file.layer();
    QCOMPARE(layer.format(), QImage::Format_ARGB32);
    const auto near = [](QRgb got, QRgb want) {
        return qAbs(qRed(got) - qRed(want)) <= 2 && qAbs(qGreen(got) - qGreen(want)) <= 2
            && qAbs(qBlue(got) - qBlue(want)) <= 2 && qAbs(qAlpha(got) - qAlpha(want)) <= 2;
    };
    QVERIFY(near(layer.pixel(2, 2), qRgba(255, 0, 0, 128)));
    QVERIFY(near(layer.pixel(12, 8), qRgba(0, 0, 255, 128)));
    QVERIFY(near(layer.pixel(15, 11), qRgba(0, 0, 255, 128)));
    for (const QPoint p : {QPoint(11, 8), QPoint(16, 12), QPoint(30, 25), QPoint(10, 4)})
        QCOMPARE(qAlpha(layer.pixel(p)), 0);
}

void TestWorkFile::hostileFilesRefused_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("reason");
    const QByteArray type = "image/openraster";
    const QByteArray photo = png(filled(40, 30, qRgb(90, 90, 90)));
    const QByteArray layer = png(filled(40, 30, qRgba(0, 0, 0, 0)));
    const QByteArray ours = stackOf(40, 30,
                                    "<layer src=\"data/colour.png\" name=\"Colour\"/>"
                                    "<layer src=\"data/photo.png\" name=\"Photo\"/>");
    const QByteArray good = zipOf({{"mimetype", type},
                                   {"stack.xml", ours},
                                   {"data/photo.png", photo},
                                   {"data/colour.png", layer},
                                   {"brivela/marks", "m"}});
    const QByteArray zeros(100 * 1024 * 1024, '\0');

    QTest::newRow("not a zip") << QByteArray("PK\x03\x04 and then nothing of a zip")
                               << "it is not a work file that Brivela can read";
    QTest::newRow("truncated") << good.left(good.size() / 2) << "it is not a work file that Brivela can read";
    QTest::newRow("no mimetype") << zipOf({{"stack.xml", ours}, {"data/photo.png", photo}})
                                 << "it is not an OpenRaster file";
    QTest::newRow("another mimetype") << zipOf({{"mimetype", "application/zip"}, {"stack.xml", ours}})
                                      << "it is not an OpenRaster file";
    QTest::newRow("missing stack.xml") << zipOf({{"mimetype", type}, {"data/photo.png", photo}})
                                       << "the file stack.xml is missing from the archive";
    QTest::newRow("damaged stack.xml") << zipOf(
        {{"mimetype", type}, {"stack.xml", "<image w=\"4\" h=\"4\"><stack><layer"}})
                                       << "its layer list is damaged";
    QTest::newRow("no layers") << zipOf({{"mimetype", type}, {"stack.xml", stackOf(40, 30, "")}})
                               << "it holds no layers";
    QTest::newRow("colour layer of another size") << zipOf({{"mimetype", type},
                                                            {"stack.xml", ours},
                                                            {"data/photo.png", photo},
                                                            {"data/colour.png", png(filled(20, 20, 0))},
                                                            {"brivela/marks", "m"}})
                                                  << "the layer colour is 20 x 20 pixels, not the picture's 40 x 30";
    QTest::newRow("bottom layer of another size")
        << zipOf({{"mimetype", type},
                  {"stack.xml", stackOf(40, 30, "<layer src=\"a.png\" name=\"a\"/>")},
                  {"a.png", png(filled(41, 30, 0))}})
        << "the bottom layer a does not cover the picture";
    QTest::newRow("huge picture") << zipOf(
        {{"mimetype", type}, {"stack.xml", stackOf(100000, 100000, "<layer src=\"a.png\"/>")}})
                                  << "the picture is too large (100000 x 100000 pixels)";
    // Sizes whose byte count does not fit in 64 bits.
    QTest::newRow("largest declared size")
        << zipOf({{"mimetype", type}, {"stack.xml", stackOf(2147483647, 2147483647, "<layer src=\"a.png\"/>")}})
        << "the picture is too large (2147483647 x 2147483647 pixels)";
    QByteArray hugePng = png(filled(40, 30, 0));
    hugePng.replace(16, 8, QByteArray("\x00\x00\xEA\x60\x00\x00\xEA\x60", 8)); // 60000 x 60000, checksum now wrong
    QTest::newRow("huge layer") << zipOf(
        {{"mimetype", type},
         {"stack.xml", stackOf(40, 30, "<layer src=\"b.png\" name=\"b\"/><layer src=\"a.png\" name=\"a\"/>")},
         {"a.png", photo},
         {"b.png", hugePng}}) << "the layer b";
    QTest::newRow("layer path with ..") << zipOf(
        {{"mimetype", type}, {"stack.xml", stackOf(40, 30, "<layer src=\"data/../../etc/passwd\"/>")}})
                                        << "it names a file outside the archive (data/../../etc/passwd)";
    QTest::newRow("absolute layer path") << zipOf(
        {{"mimetype", type}, {"stack.xml", stackOf(40, 30, "<layer src=\"/etc/passwd\"/>")}})
                                         << "it names a file outside the archive (/etc/passwd)";
    QTest::newRow("entry named with ..") << zipOf({{"mimetype", type}, {"stack.xml", ours}, {"../evil.png", photo}})
                                         << "it names a file outside the archive (../evil.png)";
    QTest::newRow("zip bomb") << zipOf(
        {{"mimetype", type}, {"stack.xml", stackOf(40, 30, "<layer src=\"a.png\"/>")}, {"a.png", zeros}})
                              << "the file a.png in the archive is too large (100.0 MB)";
    // The same bomb declaring a size of 1000 bytes in both its headers.
    QByteArray lying = zipOf(
        {{"mimetype", type}, {"stack.xml", stackOf(40, 30, "<layer src=\"a.png\"/>")}, {"a.png", zeros.left(8 << 20)}});
    // The entry's name follows its local header (30 bytes) and, at the end,
    // its central directory entry (46 bytes).
    const qsizetype local = lying.indexOf("a.png") - 30;
    const qsizetype central = lying.lastIndexOf("a.png") - 46;
    Q_ASSERT(lying.mid(local, 4) == "PK\x03\x04" && lying.mid(central, 4) == "PK\x01\x02");
    lying.replace(local + 22, 4, QByteArray("\xE8\x03\0\0", 4));
    lying.replace(central + 24, 4, QByteArray("\xE8\x03\0\0", 4));
    QTest::newRow("zip bomb declaring a small size")
        << lying << "the file a.png in the archive unpacks to more than it declares";
    QTest::newRow("layer not a PNG") << zipOf({{"mimetype", type},
                                               {"stack.xml", stackOf(40, 30, "<layer src=\"a.jpg\" name=\"sky\"/>")},
                                               {"a.jpg", QByteArray("\xFF\xD8\xFF\xE0 not a png")}})
                                     << "the layer sky is not a PNG image";
    QByteArray nested;
    for (int i = 0; i < 100; ++i)
        nested = "<stack>" + nested + "</stack>";
    QTest::newRow("nested too deeply") << zipOf({{"mimetype", type}, {"stack.xml", stackOf(40, 30, nested)}})
                                       << "its layers are nested too deeply";
}

// Refused with a reason that names the file, quickly and without unpacking
// past the limits.
void TestWorkFile::hostileFilesRefused()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, reason);
    const QString name = dir.filePath(QStringLiteral("hostile.ora"));
    writeFile(name, bytes);
    WorkFile file(name);
    QVERIFY(!file.read());
    QVERIFY2(file.errorString().startsWith(QStringLiteral("Could not open %1: ").arg(QDir::toNativeSeparators(name)))
                 && file.errorString().contains(reason),
             qPrintable(file.errorString()));
    QVERIFY(file.photo().isNull() && file.layer().isNull() && file.marks().isEmpty());
}

void TestWorkFile::failureMidwayKeepsTheFile_data()
{
    QTest::addColumn<int>("permille");
    QTest::newRow("in the photo layer") << 200;
    QTest::newRow("in the merged picture") << 700;
    QTest::newRow("writing the archive") << 950;
}

void TestWorkFile::failureMidwayKeepsTheFile()
{
    QFETCH(int, permille);
    const auto [photo, original] = photoOfKind(QStringLiteral("rgb"));
    if (photo.isNull())
        QSKIP("python3-skimage's sample photos are not installed");
    const QString folder = dir.filePath(QStringLiteral("midway%1").arg(permille));
    QVERIFY(QDir().mkpath(folder));
    const QString name = folder + QStringLiteral("/work.ora");
    WorkFile first(name);
    QVERIFY(first.write(photo, original, colourLayer(photo.size()), marksBlob(), PhotoMetadata()));
    const QByteArray before = readFile(name);

    SaveProgress progress;
    progress.failAt(permille, QStringLiteral("Input/output error"));
    WorkFile again(name);
    QVERIFY(!again.write(photo, original, QImage(colourLayer(photo.size())).mirrored(), "other marks", PhotoMetadata(),
                         &progress));
    QCOMPARE(again.errorString(),
             QStringLiteral("Could not save %1: input/output error.").arg(QDir::toNativeSeparators(name)));
    QVERIFY(readFile(name) == before);
    QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList({QStringLiteral("work.ora")}));
}

QTEST_GUILESS_MAIN(TestWorkFile)
#include "tst_workfile.moc"
