#include "app/photofile.h"
#include "filesamples.h"
#include "testsupport.h"

#include <QBuffer>
#include <QDir>
#include <QImageReader>
#include <QImageWriter>
#include <QPainter>
#include <QTemporaryDir>
#include <QTransform>
#include <QtTest>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

void writeFile(const QString &name, const QByteArray &bytes)
{
    QFile file(name);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

// A photo with four differently coloured quadrants, so that any turn or
// mirror shows.
QImage quadrants(int w, int h)
{
    QImage image(w, h, QImage::Format_RGB32);
    QPainter painter(&image);
    painter.fillRect(0, 0, w / 2, h / 2, Qt::red);
    painter.fillRect(w / 2, 0, w - w / 2, h / 2, Qt::green);
    painter.fillRect(0, h / 2, w / 2, h - h / 2, Qt::blue);
    painter.fillRect(w / 2, h / 2, w - w / 2, h - h / 2, Qt::white);
    return image;
}

// The layer as the colour layer holds it: transparent except a painted band.
QImage layerWithBand(const QSize &size)
{
    QImage layer(size, QImage::Format_ARGB32);
    layer.fill(Qt::transparent);
    for (int y = 2; y < 6; ++y)
        for (int x = 0; x < size.width(); ++x)
            layer.setPixel(x, y, qRgba(40 + x % 200, 120, 200, 220));
    return layer;
}

// How a save composed every photo before 16-bit output and opacity were
// looked at: the layer drawn over a 32-bit ARGB copy of the photo.
QImage composedAsBefore(const QImage &photo, const QImage &layer)
{
    QImage composed = photo.convertToFormat(QImage::Format_ARGB32);
    QPainter painter(&composed);
    painter.drawImage(0, 0, layer);
    return composed;
}

QImage greyRamp16(int w, int h)
{
    QImage image(w, h, QImage::Format_Grayscale16);
    for (int y = 0; y < h; ++y) {
        auto *line = reinterpret_cast<quint16 *>(image.scanLine(y));
        for (int x = 0; x < w; ++x)
            line[x] = quint16(x * 997 + y * 131 + 7);
    }
    return image;
}

} // namespace

class TestPhotoFile : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void readsUpright_data();
    void readsUpright();
    void readFailures_data();
    void readFailures();
    void notEnoughMemoryNamesTheSize();
    void readableForm_data();
    void readableForm();
    void savedPngIsCompressedAndOpaque();
    void transparentPhotoSaves_data();
    void transparentPhotoSaves();
    void deepPhotoSavedAt16Bits();
    void writeFailures_data();
    void writeFailures();
    void writesOverAFileInAReadOnlyFolder();
    void jpegKeepsFullChroma();
    void metadataSurvives_data();
    void metadataSurvives();
    void heifOpensUpright();
    void metadataLeftOutWithANote_data();
    void metadataLeftOutWithANote();
    void failureMidwayKeepsTheFile_data();
    void failureMidwayKeepsTheFile();

private:
    QTemporaryDir dir;
};

void TestPhotoFile::initTestCase()
{
    QVERIFY(dir.isValid());
    QImageReader::setAllocationLimit(1024);
}

void TestPhotoFile::readsUpright_data()
{
    QTest::addColumn<int>("orientation");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QRgb>("topLeft");
    QTest::newRow("as shot") << 1 << QSize(60, 40) << qRgb(255, 0, 0);
    QTest::newRow("turned 90 clockwise") << 6 << QSize(40, 60) << qRgb(0, 0, 255);
    QTest::newRow("upside down") << 3 << QSize(60, 40) << qRgb(255, 255, 255);
    QTest::newRow("turned 90 anticlockwise") << 8 << QSize(40, 60) << qRgb(0, 255, 0);
}

void TestPhotoFile::readsUpright()
{
    QFETCH(int, orientation);
    QFETCH(QSize, size);
    QFETCH(QRgb, topLeft);
    const QString name = dir.filePath(QStringLiteral("camera-%1.jpg").arg(orientation));
    writeFile(name, TestSupport::jpegWithOrientation(quadrants(60, 40), quint16(orientation)));

    PhotoFile file(name);
    QVERIFY2(file.read(), qPrintable(file.errorString()));
    QCOMPARE(file.photo().size(), size);
    const QRgb corner = file.photo().pixel(2, 2);
    QVERIFY2(qAbs(qRed(corner) - qRed(topLeft)) < 40 && qAbs(qGreen(corner) - qGreen(topLeft)) < 40
                 && qAbs(qBlue(corner) - qBlue(topLeft)) < 40,
             qPrintable(QString::number(corner, 16)));
}

void TestPhotoFile::readFailures_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("error");
    QTest::addColumn<QString>("reason");
    QTest::newRow("missing") << "missing.png" << int(PhotoFile::NoSuchFile) << "there is no such file";
    QTest::newRow("folder") << "folder.png" << int(PhotoFile::NotRegularFile) << "it is a folder";
    QTest::newRow("named pipe") << "pipe.png" << int(PhotoFile::NotRegularFile) << "it is not a regular file";
    QTest::newRow("device") << "/dev/null" << int(PhotoFile::NotRegularFile) << "it is not a regular file";
    const QString unreadable = QStringLiteral("it is not an image that Brivela can read");
    QTest::newRow("text") << "text.png" << int(PhotoFile::NotAnImage) << unreadable;
    QTest::newRow("truncated") << "truncated.pgm" << int(PhotoFile::NotAnImage) << unreadable;
    QTest::newRow("over the limit") << "huge.ppm" << int(PhotoFile::TooLarge)
                                    << "the photo is too large (20000 x 20000 pixels)";
}

// Every refusal comes at once, names the file and says why; a named pipe
// with no writer is refused without being opened (opening it would block).
void TestPhotoFile::readFailures()
{
    QFETCH(QString, name);
    QFETCH(int, error);
    QFETCH(QString, reason);
    QDir().mkpath(dir.filePath(QStringLiteral("folder.png")));
    QVERIFY(QFile::exists(dir.filePath(QStringLiteral("pipe.png")))
            || mkfifo(QFile::encodeName(dir.filePath(QStringLiteral("pipe.png"))).constData(), 0600) == 0);
    writeFile(dir.filePath(QStringLiteral("text.png")), "not a picture");
    writeFile(dir.filePath(QStringLiteral("truncated.pgm")), "P5\n3000 2000\n255\nabc");
    writeFile(dir.filePath(QStringLiteral("huge.ppm")), "P6\n20000 20000\n255\n");

    const QString path = QDir::isAbsolutePath(name) ? name : dir.filePath(name);
    PhotoFile file(path);
    QVERIFY(!file.read());
    QCOMPARE(int(file.error()), error);
    QCOMPARE(file.errorString(), QStringLiteral("Could not open %1: %2.").arg(QDir::toNativeSeparators(path), reason));
    QVERIFY(file.photo().isNull());
    QVERIFY(file.original().isNull());
}

// Under an address-space limit the photo's pixels cannot be had; the message
// says so with the photo's size instead of calling the file unreadable.
void TestPhotoFile::notEnoughMemoryNamesTheSize()
{
#if defined(__SANITIZE_ADDRESS__)
    QSKIP("AddressSanitizer reserves more address space than the limit leaves");
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
    QSKIP("AddressSanitizer reserves more address space than the limit leaves");
#endif
#endif
    const QString name = dir.filePath(QStringLiteral("large.pgm"));
    writeFile(name, "P5\n20000 20000\n255\nabc");

    QFile statm(QStringLiteral("/proc/self/statm"));
    QVERIFY(statm.open(QIODevice::ReadOnly));
    const qint64 pages = statm.readAll().split(' ').constFirst().toLongLong();
    rlimit saved{};
    QCOMPARE(getrlimit(RLIMIT_AS, &saved), 0);
    rlimit tight = saved;
    tight.rlim_cur = rlim_t(pages * sysconf(_SC_PAGESIZE) + 200 * 1024 * 1024);
    QCOMPARE(setrlimit(RLIMIT_AS, &tight), 0);
    PhotoFile file(name);
    const bool read = file.read();
    setrlimit(RLIMIT_AS, &saved);

    QVERIFY(!read);
    QCOMPARE(file.error(), PhotoFile::NotEnoughMemory);
    QVERIFY2(file.errorString().endsWith(QStringLiteral("not enough memory for a photo of this size "
                                                        "(20000 x 20000 pixels).")),
             qPrintable(file.errorString()));
}

void TestPhotoFile::readableForm_data()
{
    QTest::addColumn<QImage>("image");
    QTest::addColumn<QImage::Format>("format");
    QTest::addColumn<bool>("deep");

    QImage mono(33, 7, QImage::Format_Mono);
    mono.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
    mono.fill(1);
    QImage tinted = mono.convertToFormat(QImage::Format_MonoLSB);
    tinted.setColorTable({qRgb(80, 20, 0), qRgb(255, 240, 200)});
    // A palette of one colour for two possible indices: reading it pixel by
    // pixel warns once for every pixel.
    QImage malformed(33, 7, QImage::Format_Mono);
    malformed.fill(1);
    malformed.setColorTable({qRgb(0, 0, 0)});
    QImage rgb64(5, 4, QImage::Format_RGBX64);
    rgb64.fill(QColor(10, 200, 30));
    QImage grey64(5, 4, QImage::Format_RGBX64);
    grey64.fill(QColor(90, 90, 90));
    QImage rgba64(5, 4, QImage::Format_RGBA64);
    rgba64.fill(QColor(10, 200, 30, 100));

    QTest::newRow("grey 8 as it is") << greyRamp16(5, 4).convertToFormat(QImage::Format_Grayscale8)
                                     << QImage::Format_Grayscale8 << false;
    QTest::newRow("rgb 32 as it is") << quadrants(6, 4) << QImage::Format_RGB32 << false;
    QTest::newRow("palette as it is") << quadrants(6, 4).convertToFormat(QImage::Format_Indexed8)
                                      << QImage::Format_Indexed8 << false;
    QTest::newRow("black and white") << mono << QImage::Format_Grayscale8 << false;
    QTest::newRow("two-colour, tinted") << tinted << QImage::Format_RGB32 << false;
    QTest::newRow("two-colour, one-colour palette") << malformed << QImage::Format_Grayscale8 << false;
    QTest::newRow("grey 16") << greyRamp16(5, 4) << QImage::Format_Grayscale8 << true;
    QTest::newRow("rgb 16 per channel") << rgb64 << QImage::Format_RGB32 << true;
    QTest::newRow("rgb 16 per channel, all grey") << grey64 << QImage::Format_Grayscale8 << true;
    QTest::newRow("rgba 16 per channel") << rgba64 << QImage::Format_ARGB32 << true;
    QTest::newRow("float") << rgb64.convertToFormat(QImage::Format_RGBA32FPx4) << QImage::Format_ARGB32 << true;
    QTest::newRow("premultiplied") << quadrants(6, 4).convertToFormat(QImage::Format_ARGB32_Premultiplied)
                                   << QImage::Format_ARGB32 << false;
    QTest::newRow("rgb 565") << quadrants(6, 4).convertToFormat(QImage::Format_RGB16) << QImage::Format_RGB32 << false;
}

// Converted once, into the least memory the colouriser reads from the scan
// line, with the same pixels and without a warning.
void TestPhotoFile::readableForm()
{
    QFETCH(QImage, image);
    QFETCH(QImage::Format, format);
    QFETCH(bool, deep);
    QTest::failOnWarning(QRegularExpression(QStringLiteral(".*")));

    const QImage readable = PhotoFile::readableForm(image);
    QCOMPARE(readable.format(), format);
    QCOMPARE(PhotoFile::hasDeepChannels(image.format()), deep);
    QCOMPARE(readable.convertToFormat(QImage::Format_ARGB32),
             image.convertToFormat(format).convertToFormat(QImage::Format_ARGB32));
    if (format == image.format())
        QCOMPARE(readable.constBits(), image.constBits()); // not copied
}

// A PNG keeps the writer's compression, carries no alpha channel for an
// opaque picture, and holds exactly the pixels saves have always composed.
void TestPhotoFile::savedPngIsCompressedAndOpaque()
{
    QImage photo(300, 200, QImage::Format_Grayscale8);
    for (int y = 0; y < photo.height(); ++y)
        for (int x = 0; x < photo.width(); ++x)
            photo.scanLine(y)[x] = uchar((x + y) / 2);
    const QImage layer = layerWithBand(photo.size());
    const QString name = dir.filePath(QStringLiteral("compressed.png"));

    PhotoFile file(name);
    QVERIFY2(file.write(photo, QImage(), layer), qPrintable(file.errorString()));

    QImageReader reader(name);
    QCOMPARE(reader.imageFormat(), QImage::Format_RGB32);
    const QImage saved = reader.read();
    QVERIFY(!saved.hasAlphaChannel());
    QCOMPARE(saved.convertToFormat(QImage::Format_ARGB32), composedAsBefore(photo, layer));
    QBuffer uncompressed;
    uncompressed.open(QIODevice::WriteOnly);
    QVERIFY(saved.save(&uncompressed, "png", 100));
    QVERIFY2(QFileInfo(name).size() * 4 < uncompressed.size(),
             qPrintable(QStringLiteral("%1 bytes").arg(QFileInfo(name).size())));
}

void TestPhotoFile::transparentPhotoSaves_data()
{
    QTest::addColumn<QString>("suffix");
    QTest::newRow("jpg, over white") << "jpg";
    QTest::newRow("png, transparent") << "png";
}

void TestPhotoFile::transparentPhotoSaves()
{
    QFETCH(QString, suffix);
    QImage photo(40, 30, QImage::Format_ARGB32);
    photo.fill(Qt::transparent);
    for (int y = 20; y < 30; ++y)
        for (int x = 0; x < 40; ++x)
            photo.setPixel(x, y, qRgba(60, 60, 60, 255));
    const QImage layer = layerWithBand(photo.size());
    const QString name = dir.filePath(QStringLiteral("transparent.") + suffix);

    PhotoFile file(name);
    QVERIFY2(file.write(photo, QImage(), layer), qPrintable(file.errorString()));
    const QImage saved(name);
    QImage expected(photo.size(), QImage::Format_ARGB32);
    if (suffix == QLatin1String("jpg")) {
        expected.fill(Qt::white);
        QPainter painter(&expected);
        painter.drawImage(0, 0, photo);
        painter.drawImage(0, 0, layer);
    } else {
        expected = composedAsBefore(photo, layer);
    }
    QCOMPARE(saved.hasAlphaChannel(), suffix == QLatin1String("png"));
    for (const QPoint p : {QPoint(5, 10), QPoint(30, 12), QPoint(10, 3), QPoint(20, 25)}) {
        const QRgb got = saved.pixel(p);
        const QRgb want = expected.pixel(p);
        const int slack = suffix == QLatin1String("jpg") ? 6 : 0;
        QVERIFY2(qAbs(qRed(got) - qRed(want)) <= slack && qAbs(qGreen(got) - qGreen(want)) <= slack
                     && qAbs(qBlue(got) - qBlue(want)) <= slack && qAlpha(got) == qAlpha(want),
                 qPrintable(
                     QStringLiteral("%1,%2: %3 instead of %4").arg(p.x()).arg(p.y()).arg(got, 8, 16).arg(want, 8, 16)));
    }
}

// A 16-bit scan keeps 16 bits: unpainted pixels exactly, painted ones as the
// layer's colours widened and laid over the deep photo.
void TestPhotoFile::deepPhotoSavedAt16Bits()
{
    const QString source = dir.filePath(QStringLiteral("scan16.png"));
    QVERIFY(greyRamp16(64, 12).save(source));
    PhotoFile in(source);
    QVERIFY(in.read());
    QCOMPARE(in.original().format(), QImage::Format_Grayscale16);
    const QImage layer = layerWithBand(in.photo().size());

    const QString name = dir.filePath(QStringLiteral("saved16.png"));
    PhotoFile out(name);
    QVERIFY2(out.write(in.photo(), in.original(), layer), qPrintable(out.errorString()));

    QImageReader reader(name);
    QCOMPARE(reader.imageFormat(), QImage::Format_RGBX64);
    const QImage saved = reader.read();
    for (int y = 0; y < saved.height(); ++y) {
        const auto *grey = reinterpret_cast<const quint16 *>(in.original().constScanLine(y));
        for (int x = 0; x < saved.width(); ++x) {
            const QRgba64 got = saved.pixelColor(x, y).rgba64();
            if (qAlpha(layer.pixel(x, y)) == 0) {
                QCOMPARE(got.red(), grey[x]);
                QCOMPARE(got.blue(), grey[x]);
            } else {
                // The layer's 8-bit colour widened by 257, blended at 16 bits.
                const QRgb paint = layer.pixel(x, y);
                const double a = qAlpha(paint) / 255.0;
                const auto blend = [&](int c) { return c * 257 * a + grey[x] * (1 - a); };
                QVERIFY2(qAbs(got.red() - blend(qRed(paint))) < 2 && qAbs(got.green() - blend(qGreen(paint))) < 2
                             && qAbs(got.blue() - blend(qBlue(paint))) < 2,
                         qPrintable(QStringLiteral("%1,%2: %3 instead of %4")
                                        .arg(x)
                                        .arg(y)
                                        .arg(got.red())
                                        .arg(blend(qRed(paint)))));
            }
        }
    }

    // JPEG is 8-bit: written from the 8-bit photo as always.
    const QString jpg = dir.filePath(QStringLiteral("saved16.jpg"));
    PhotoFile outJpg(jpg);
    QVERIFY(outJpg.write(in.photo(), in.original(), layer));
    QCOMPARE(QImageReader(jpg).imageFormat(), QImage::Format_RGB32);
}

void TestPhotoFile::writeFailures_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("reason");
    QTest::newRow("no suffix") << "out/plain"
                               << "the name does not end in .jpg or .png";
    QTest::newRow("suffix of no format") << "out/picture.xyz"
                                         << "the name does not end in .jpg or .png";
    QTest::newRow("read-only format") << "out/picture.gif"
                                      << "the name does not end in .jpg or .png";
    QTest::newRow("missing folder") << "out/missing/picture.png"
                                    << "the folder does not exist";
    QTest::newRow("a folder of that name") << "out/taken.png"
                                           << "directory";
    QTest::newRow("too wide for JPEG") << "out/wide.jpg"
                                       << "JPG cannot hold this image (70000 x 2 pixels)";
}

void TestPhotoFile::writeFailures()
{
    QFETCH(QString, name);
    QFETCH(QString, reason);
    QDir().mkpath(dir.filePath(QStringLiteral("out/taken.png")));
    const QSize size = name.endsWith(QLatin1String("wide.jpg")) ? QSize(70000, 2) : QSize(8, 8);
    QImage photo(size, QImage::Format_Grayscale8);
    photo.fill(90);
    QImage layer(size, QImage::Format_ARGB32);
    layer.fill(Qt::transparent);

    const QString path = dir.filePath(name);
    PhotoFile file(path);
    QVERIFY(!file.write(photo, QImage(), layer));
    QCOMPARE(file.error(), PhotoFile::CannotWrite);
    const QString start = QStringLiteral("Could not save %1: ").arg(QDir::toNativeSeparators(path));
    QVERIFY2(file.errorString().startsWith(start) && file.errorString().contains(reason, Qt::CaseInsensitive),
             qPrintable(file.errorString()));
    QVERIFY(QFileInfo(path).isDir() || !QFile::exists(path));
}

// Where the folder takes no new file, an existing writable file is written
// in place. Root passes every permission check, so as root the save runs
// with the effective user "nobody" for its duration.
void TestPhotoFile::writesOverAFileInAReadOnlyFolder()
{
    const QString folder = dir.filePath(QStringLiteral("locked"));
    QDir().mkpath(folder);
    const QString name = folder + QStringLiteral("/photo.png");
    writeFile(name, "old contents");
    const auto readWrite = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::WriteGroup
        | QFile::ReadOther | QFile::WriteOther;
    const auto readOnly =
        QFile::ReadOwner | QFile::ExeOwner | QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther;
    QVERIFY(QFile::setPermissions(name, readWrite));
    QVERIFY(QFile::setPermissions(folder, readOnly));
    QVERIFY(QFile::setPermissions(dir.path(), readOnly | QFile::WriteOwner));
    const auto unlock = qScopeGuard([&] { QFile::setPermissions(folder, readOnly | QFile::WriteOwner); });

    const bool root = geteuid() == 0;
    constexpr uid_t nobody = 65534;
    if (root && (setegid(nobody) != 0 || seteuid(nobody) != 0))
        QSKIP("running as root without the right to take another user's identity");
    QImage photo(16, 16, QImage::Format_Grayscale8);
    photo.fill(77);
    QImage layer(photo.size(), QImage::Format_ARGB32);
    layer.fill(Qt::transparent);
    PhotoFile file(name);
    const bool written = file.write(photo, QImage(), layer);
    PhotoFile created(folder + QStringLiteral("/new.png"));
    const bool createdWritten = created.write(photo, QImage(), layer);
    if (root)
        QVERIFY(seteuid(0) == 0 && setegid(0) == 0);

    QVERIFY2(written, qPrintable(file.errorString()));
    QCOMPARE(QImage(name).convertToFormat(QImage::Format_Grayscale8), photo);
    QVERIFY(!createdWritten);
    QVERIFY2(created.errorString().contains(QStringLiteral("permission denied")), qPrintable(created.errorString()));
    QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList({QStringLiteral("photo.png")}));
}

// Quality 100 without chroma subsampling: every component samples every
// pixel, and a one-pixel colour line does not tint the pixels beside it.
void TestPhotoFile::jpegKeepsFullChroma()
{
    QImage photo = FileSamples::realPhoto(QStringLiteral("camera.png")).convertToFormat(QImage::Format_Grayscale8);
    if (photo.isNull())
        QSKIP("python3-skimage's sample photos are not installed");
    QImage layer(photo.size(), QImage::Format_ARGB32);
    layer.fill(Qt::transparent);
    for (int y = 0; y < layer.height(); ++y)
        layer.setPixel(201, y, qRgba(255, 0, 0, 255));
    const QString name = dir.filePath(QStringLiteral("chroma.jpg"));
    PhotoFile file(name);
    QVERIFY2(file.write(photo, QImage(), layer), qPrintable(file.errorString()));

    QFile saved(name);
    QVERIFY(saved.open(QIODevice::ReadOnly));
    QCOMPARE(FileSamples::samplingFactors(saved.readAll()), QByteArray("\x11\x11\x11"));
    const QImage back(name);
    int worst = 0;
    for (int y = 0; y < back.height(); ++y) {
        for (const int x : {200, 202}) {
            const QRgb p = back.pixel(x, y);
            worst = std::max({worst, qAbs(qRed(p) - qGreen(p)), qAbs(qRed(p) - qBlue(p))});
        }
    }
    // 4:2:0 puts a third of the red on the neighbours (about 80 levels).
    QVERIFY2(worst <= 12, qPrintable(QStringLiteral("tint %1 beside the line").arg(worst)));
}

void TestPhotoFile::metadataSurvives_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("saved");
    QTest::newRow("camera JPG saved as JPG") << "jpg"
                                             << "jpg";
    QTest::newRow("camera JPG saved as PNG") << "jpg"
                                             << "png";
    QTest::newRow("phone HEIC saved as JPG") << "heic"
                                             << "jpg";
    QTest::newRow("phone HEIC saved as PNG") << "heic"
                                             << "png";
}

// A photo shot on its side: the saved file is upright, says so (orientation
// 1, its own pixel size), and keeps the date, the camera, the XMP and the
// colour profile, as another program reads them.
void TestPhotoFile::metadataSurvives()
{
    QFETCH(QString, source);
    QFETCH(QString, saved);
    const QImage upright = FileSamples::realPhoto(QStringLiteral("chelsea.png"));
    if (upright.isNull())
        QSKIP("python3-skimage's sample photos are not installed");
    const QImage stored = upright.transformed(QTransform().rotate(-90));
    const PhotoMetadata metadata = FileSamples::cameraMetadata(6, stored.size());
    const QByteArray bytes = source == QLatin1String("jpg") ? FileSamples::jpegWith(stored, metadata)
                                                            : FileSamples::heicWith(stored, 6, metadata);
    if (bytes.isEmpty())
        QSKIP("libheif has no HEVC encoder here");
    const QString sourceName = dir.filePath(QStringLiteral("shot.") + source);
    writeFile(sourceName, bytes);

    PhotoFile in(sourceName);
    QVERIFY2(in.read(), qPrintable(in.errorString()));
    QCOMPARE(in.photo().size(), upright.size());
    const QString name = dir.filePath(QStringLiteral("kept-%1.%2").arg(source, saved));
    PhotoFile out(name);
    QVERIFY2(out.write(in.photo(), in.original(), layerWithBand(in.photo().size()), in.metadata()),
             qPrintable(out.errorString()));
    QVERIFY2(out.notes().isEmpty(), qPrintable(out.notes().join(QLatin1Char(' '))));

    const PhotoMetadata back = FileSamples::readBack(name);
    QCOMPARE(PhotoMetadata::exifOrientation(back.exif), 1);
    QCOMPARE(PhotoMetadata::exifValue(back.exif, "Exif.Photo.DateTimeOriginal"), QStringLiteral("2019:07:14 16:32:05"));
    QCOMPARE(PhotoMetadata::exifValue(back.exif, "Exif.Image.Make"), QStringLiteral("Fendrel Optics"));
    QCOMPARE(PhotoMetadata::exifValue(back.exif, "Exif.Image.Model"), QStringLiteral("FX-100"));
    QCOMPARE(PhotoMetadata::exifValue(back.exif, "Exif.Photo.PixelXDimension"), QString::number(upright.width()));
    QVERIFY2(back.xmp.contains("Harbour at dusk"), back.xmp.constData());
    QVERIFY2(
        QRegularExpression(QStringLiteral("tiff:Orientation(=\"|>)1")).match(QString::fromUtf8(back.xmp)).hasMatch(),
        back.xmp.constData());
    QCOMPARE(back.icc, FileSamples::srgbProfile());
    QCOMPARE(QImage(name).size(), upright.size());
}

// A phone photo stored on its side with the turn that makes it upright: it
// opens upright, as the camera saw it.
void TestPhotoFile::heifOpensUpright()
{
    const QImage upright = FileSamples::realPhoto(QStringLiteral("astronaut.png"))
                               .copy(0, 0, 512, 320)
                               .convertToFormat(QImage::Format_RGB32);
    if (upright.isNull())
        QSKIP("python3-skimage's sample photos are not installed");
    const QImage stored = upright.transformed(QTransform().rotate(-90));
    const QByteArray heic = FileSamples::heicWith(stored, 6, PhotoMetadata());
    if (heic.isEmpty())
        QSKIP("libheif has no HEVC encoder here");
    const QString name = dir.filePath(QStringLiteral("phone.heic"));
    writeFile(name, heic);

    PhotoFile file(name);
    QVERIFY2(file.read(), qPrintable(file.errorString()));
    QCOMPARE(file.photo().size(), upright.size());
    const QImage got = file.photo().convertToFormat(QImage::Format_RGB32);
    const auto meanDifference = [&](const QImage &want) {
        qint64 sum = 0;
        for (int y = 0; y < got.height(); ++y)
            for (int x = 0; x < got.width(); ++x)
                sum += qAbs(qGray(got.pixel(x, y)) - qGray(want.pixel(x, y)));
        return double(sum) / (got.width() * got.height());
    };
    const double asShot = meanDifference(upright);
    const double turnedTwice = meanDifference(upright.transformed(QTransform().rotate(180)));
    QVERIFY2(asShot < 4 && turnedTwice > 20, qPrintable(QStringLiteral("%1 against %2").arg(asShot).arg(turnedTwice)));
    QVERIFY(file.original().isNull());
}

void TestPhotoFile::metadataLeftOutWithANote_data()
{
    QTest::addColumn<QString>("suffix");
    QTest::addColumn<QString>("problem");
    QTest::addColumn<QString>("note");
    QTest::newRow("EXIF too large for a JPG") << "jpg"
                                              << "large exif"
                                              << "EXIF data is too large";
    QTest::newRow("grey profile on a colour JPG") << "jpg"
                                                  << "grey profile"
                                                  << "not for colour pictures";
    QTest::newRow("grey profile on a colour PNG") << "png"
                                                  << "grey profile"
                                                  << "not for colour pictures";
    QTest::newRow("damaged XMP") << "png"
                                 << "bad xmp"
                                 << "XMP data is damaged";
}

// What cannot be written is left out with a note; the save itself works and
// keeps the rest.
void TestPhotoFile::metadataLeftOutWithANote()
{
    QFETCH(QString, suffix);
    QFETCH(QString, problem);
    QFETCH(QString, note);
    QImage photo = quadrants(64, 48);
    PhotoMetadata metadata = FileSamples::cameraMetadata(1, photo.size());
    if (problem == QLatin1String("large exif")) {
        metadata.exif = FileSamples::cameraExif(1, photo.size(), 30000);
        QVERIFY(metadata.exif.size() > 65536);
    } else if (problem == QLatin1String("grey profile")) {
        metadata.icc.replace(16, 4, "GRAY");
    } else {
        metadata.xmp = "<x:xmpmeta><rdf:RDF><unclosed";
    }
    const QString name = dir.filePath(QStringLiteral("left-out.") + suffix);
    PhotoFile file(name);
    QVERIFY2(file.write(photo, QImage(), layerWithBand(photo.size()), metadata), qPrintable(file.errorString()));
    QVERIFY2(file.notes().join(QLatin1Char(' ')).contains(note), qPrintable(file.notes().join(QLatin1Char(' '))));
    QCOMPARE(QImage(name).size(), photo.size());
    const PhotoMetadata back = FileSamples::readBack(name);
    if (problem != QLatin1String("large exif"))
        QCOMPARE(PhotoMetadata::exifValue(back.exif, "Exif.Image.Model"), QStringLiteral("FX-100"));
    if (problem != QLatin1String("grey profile"))
        QCOMPARE(back.icc, metadata.icc);
}

void TestPhotoFile::failureMidwayKeepsTheFile_data()
{
    QTest::addColumn<QString>("suffix");
    QTest::addColumn<int>("permille");
    QTest::newRow("PNG, half written") << "png" << 500;
    QTest::newRow("PNG, at the last row") << "png" << 999;
    QTest::newRow("JPG, encoded, not written") << "jpg" << 500;
}

// A save that fails on its way, as a worker thread's save does when a write
// fails or it is cancelled, leaves the file that was there byte for byte and
// no temporary file beside it.
void TestPhotoFile::failureMidwayKeepsTheFile()
{
    QFETCH(QString, suffix);
    QFETCH(int, permille);
    const QString folder = dir.filePath(QStringLiteral("midway-") + suffix + QString::number(permille));
    QVERIFY(QDir().mkpath(folder));
    const QString name = folder + QStringLiteral("/work.") + suffix;
    const QByteArray precious = QByteArray("yesterday's colouring ").repeated(500);
    writeFile(name, precious);

    QImage photo = FileSamples::realPhoto(QStringLiteral("coffee.png"));
    if (photo.isNull())
        photo = quadrants(600, 400);
    SaveProgress progress;
    progress.failAt(permille, QStringLiteral("No space left on device"));
    PhotoFile file(name);
    QVERIFY(!file.write(photo, QImage(), layerWithBand(photo.size()), PhotoMetadata(), &progress));
    QCOMPARE(file.error(), PhotoFile::CannotWrite);
    QCOMPARE(file.errorString(),
             QStringLiteral("Could not save %1: no space left on device.").arg(QDir::toNativeSeparators(name)));
    QFile kept(name);
    QVERIFY(kept.open(QIODevice::ReadOnly));
    QCOMPARE(kept.readAll(), precious);
    QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList({QStringLiteral("work.") + suffix}));
    QVERIFY(progress.permille() >= permille);

    // The same save without the failure writes the file.
    PhotoFile again(name);
    QVERIFY2(again.write(photo, QImage(), layerWithBand(photo.size())), qPrintable(again.errorString()));
    QCOMPARE(QImage(name).size(), photo.size());
}

QTEST_MAIN(TestPhotoFile)
#include "tst_photofile.moc"
