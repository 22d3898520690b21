#include "app/photofile.h"
#include "imaging/colourisetable.h"
#include "imaging/naturalcolourtable.h"
#include "imaging/strokestyle.h"
#include "referencelayer.h"
#include "testsupport.h"

#include <QColor>
#include <QRandomGenerator>
#include <QtTest>

#include <vector>

namespace {

// Random colours, every grey level and the extremes, with some alpha.
QImage mixedSource(int w, int h)
{
    QRandomGenerator random(11);
    QImage source(w, h, QImage::Format_ARGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            source.setPixel(x, y, random.generate());
    for (int v = 0; v < 256; ++v)
        source.setPixel(v % w, v / w, qRgba(v, v, v, 255 - v));
    return source;
}

QImage greyPalettePhoto(int w, int h)
{
    QRandomGenerator random(5);
    QImage photo(w, h, QImage::Format_Indexed8);
    QList<QRgb> greys;
    for (int v = 0; v < 256; ++v)
        greys.append(qRgb(v, v, v));
    photo.setColorTable(greys);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            photo.setPixel(x, y, (x + y * w) < 256 ? uint(x + y * w) : random.bounded(256u));
    return photo;
}

QImage deepGreyPhoto(int w, int h)
{
    QRandomGenerator random(9);
    QImage photo(w, h, QImage::Format_Grayscale16);
    for (int y = 0; y < h; ++y) {
        auto *line = reinterpret_cast<quint16 *>(photo.scanLine(y));
        for (int x = 0; x < w; ++x)
            line[x] = quint16(random.bounded(65536u));
    }
    return photo;
}

const QList<QRgb> brushes = {
    0xFFFF0000,       0xFF00FF00, 0xFF0000FF, qRgb(230, 180, 150), qRgb(110, 160, 220), qRgb(255, 240, 0),
    qRgb(20, 90, 30), 0xFFFFFFFF, 0xFF000000, qRgb(77, 77, 77),    qRgb(128, 129, 128),
};

QString hex(QRgb v)
{
    return QStringLiteral("%1").arg(v, 8, 16, QLatin1Char('0'));
}

} // namespace

class TestNaturalColourTable : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { TestSupport::nameApplication(); }
    void matchesTheBlendFormulaOnPhotoFormats_data();
    void matchesTheBlendFormulaOnPhotoFormats();
    void workedValues_data();
    void workedValues();
    void greyBrushesGiveThePhotosGrey_data();
    void greyBrushesGiveThePhotosGrey();
    void keepsTheLuminanceOfEveryGrey();
    void classicTableLaysTheStrokesAlpha_data();
    void classicTableLaysTheStrokesAlpha();
    void strengthToAlpha_data();
    void strengthToAlpha();
};

void TestNaturalColourTable::matchesTheBlendFormulaOnPhotoFormats_data()
{
    QTest::addColumn<QImage>("photo");
    const QImage source = mixedSource(64, 40);
    QImage shortPalette = source.convertToFormat(QImage::Format_Indexed8);
    shortPalette.setColorCount(200); // indices beyond the table read as 0

    QTest::newRow("Grayscale8") << source.convertToFormat(QImage::Format_Grayscale8);
    QTest::newRow("Indexed8, grey palette") << greyPalettePhoto(64, 40);
    QTest::newRow("Indexed8, colour palette cut short") << shortPalette;
    QTest::newRow("RGB32") << source.convertToFormat(QImage::Format_RGB32);
    QTest::newRow("ARGB32") << source;
    QTest::newRow("RGB888") << source.convertToFormat(QImage::Format_RGB888);
    QTest::newRow("ARGB32 premultiplied, through pixel()")
        << source.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QTest::newRow("RGB16, through pixel()") << source.convertToFormat(QImage::Format_RGB16);
    QTest::newRow("Grayscale16 as the program reads it") << PhotoFile::readableForm(deepGreyPhoto(64, 40));
    QTest::newRow("Grayscale16, through pixel()") << deepGreyPhoto(64, 40);
    QTest::newRow("RGBA64 as the program reads it")
        << PhotoFile::readableForm(source.convertToFormat(QImage::Format_RGBA64));
}

// Every pixel of every format, for many brushes and two strengths, against
// the blend mode's own steps in floating point.
void TestNaturalColourTable::matchesTheBlendFormulaOnPhotoFormats()
{
    QFETCH(QImage, photo);
    QVERIFY(!photo.isNull());
    std::vector<QRgb> row(size_t(photo.width()));
    for (const int alpha : {220, 77}) {
        for (const QRgb brush : brushes) {
            const NaturalColourTable table(brush, alpha);
            for (int y = 0; y < photo.height(); ++y) {
                // A segment inside the row, so that its offsets are checked too.
                const int left = y % 5;
                const int right = photo.width() - 1 - y % 3;
                table.colouriseRow(photo, y, left, right, row.data());
                for (int x = left; x <= right; ++x) {
                    const QRgb pixel = photo.pixel(x, y);
                    QCOMPARE(NaturalColourTable::lumIndexAt(photo, x, y), NaturalColourTable::lumIndex(pixel));
                    bool tie = false;
                    const QRgb expected = Reference::natural(brush, pixel, alpha, &tie);
                    const QRgb got = row[size_t(x - left)];
                    const bool close = qAlpha(got) == qAlpha(expected) && std::abs(qRed(got) - qRed(expected)) <= 1
                        && std::abs(qGreen(got) - qGreen(expected)) <= 1 && std::abs(qBlue(got) - qBlue(expected)) <= 1;
                    if (got != expected && !(tie && close))
                        QFAIL(qPrintable(QStringLiteral("brush %1 alpha %2 at (%3, %4) over %5: %6, expected %7")
                                             .arg(hex(brush))
                                             .arg(alpha)
                                             .arg(x)
                                             .arg(y)
                                             .arg(hex(pixel), hex(got), hex(expected))));
                }
            }
        }
    }
}

void TestNaturalColourTable::workedValues_data()
{
    QTest::addColumn<QRgb>("brush");
    QTest::addColumn<QRgb>("photoPixel");
    QTest::addColumn<QRgb>("expected");

    QTest::newRow("red on mid grey: clipped at 255, luminance 128")
        << 0xFFFF0000u << qRgb(128, 128, 128) << 0xDCFF4A4Au;
    QTest::newRow("a brush over its own luminance comes back whole")
        << qRgb(100, 150, 50) << qRgb(124, 124, 124) << 0xDC649632u;
    QTest::newRow("lemon over light grey") << qRgb(255, 240, 0) << qRgb(200, 200, 200) << 0xDCEADC00u;
    QTest::newRow("skin over dark grey") << qRgb(230, 180, 150) << qRgb(60, 60, 60) << 0xDC623012u;
    QTest::newRow("blue over near black stays blue") << 0xFF0000FFu << qRgb(30, 30, 30) << 0xDC0202FFu;
    QTest::newRow("brush alpha is ignored") << 0x10FF0000u << qRgb(128, 128, 128) << 0xDCFF4A4Au;
    QTest::newRow("colour photo pixel: its own luminance") << qRgb(77, 77, 77) << qRgb(30, 200, 90) << 0xDC898989u;
    QTest::newRow("black photo pixel gives black") << qRgb(20, 200, 40) << 0xFF000000u << 0xDC000000u;
    QTest::newRow("white photo pixel gives white") << qRgb(20, 200, 40) << 0xFFFFFFFFu << 0xDCFFFFFFu;
}

void TestNaturalColourTable::workedValues()
{
    QFETCH(QRgb, brush);
    QFETCH(QRgb, photoPixel);
    QFETCH(QRgb, expected);
    QImage photo(1, 1, QImage::Format_RGB32);
    photo.setPixel(0, 0, photoPixel);
    QRgb got = 0;
    NaturalColourTable(brush, 220).colouriseRow(photo, 0, 0, 0, &got);
    QCOMPARE(hex(got), hex(expected));
}

void TestNaturalColourTable::greyBrushesGiveThePhotosGrey_data()
{
    QTest::addColumn<QRgb>("brush");
    QTest::newRow("white") << 0xFFFFFFFFu;
    QTest::newRow("black") << 0xFF000000u;
    QTest::newRow("dark grey") << qRgb(77, 77, 77);
    QTest::newRow("light grey") << qRgb(200, 200, 200);
}

void TestNaturalColourTable::greyBrushesGiveThePhotosGrey()
{
    QFETCH(QRgb, brush);
    QImage photo(256, 1, QImage::Format_Grayscale8);
    for (int v = 0; v < 256; ++v)
        photo.scanLine(0)[v] = uchar(v);
    std::vector<QRgb> row(256);
    NaturalColourTable(brush, 220).colouriseRow(photo, 0, 0, 255, row.data());
    for (int v = 0; v < 256; ++v)
        QCOMPARE(hex(row[size_t(v)]), hex(qRgba(v, v, v, 220)));
}

// Laid over a grey photo the colour keeps the photo's brightness: the table's
// luminance is the grey level to within the rounding of the three channels.
void TestNaturalColourTable::keepsTheLuminanceOfEveryGrey()
{
    QRandomGenerator random(3);
    QList<QRgb> many = brushes;
    for (int i = 0; i < 200; ++i)
        many.append(random.generate() | 0xFF000000u);
    for (const QRgb brush : std::as_const(many)) {
        const NaturalColourTable table(brush, 255);
        for (int v = 0; v < 256; ++v) {
            const QRgb c = table.colourForGrey(v);
            const double lum = 0.3 * qRed(c) + 0.59 * qGreen(c) + 0.11 * qBlue(c);
            QVERIFY2(std::abs(lum - v) <= 0.5 + 1e-9,
                     qPrintable(
                         QStringLiteral("brush %1 at grey %2 has luminance %3").arg(hex(brush)).arg(v).arg(lum)));
        }
    }
}

void TestNaturalColourTable::classicTableLaysTheStrokesAlpha_data()
{
    QTest::addColumn<int>("alpha");
    QTest::newRow("default strength") << 220;
    QTest::newRow("a light wash") << 40;
    QTest::newRow("opaque") << 255;
}

void TestNaturalColourTable::classicTableLaysTheStrokesAlpha()
{
    QFETCH(int, alpha);
    for (const QRgb brush : brushes) {
        const ColouriseTable table(brush, alpha);
        const QColor b(brush);
        for (int v = 0; v < 256; ++v)
            QCOMPARE(hex(table.colourFor(v)), hex(QColor::fromHsv(b.hsvHue(), b.hsvSaturation(), v, alpha).rgba()));
    }
}

void TestNaturalColourTable::strengthToAlpha_data()
{
    QTest::addColumn<int>("strength");
    QTest::addColumn<int>("alpha");
    QTest::newRow("default 86 % is the layer's 220") << StrokeStyle::defaultStrength << 220;
    QTest::newRow("100 % is opaque") << 100 << 255;
    QTest::newRow("50 %") << 50 << 128;
    QTest::newRow("1 %") << 1 << 3;
    QTest::newRow("below the range: 1 %") << 0 << 3;
    QTest::newRow("above the range: 100 %") << 250 << 255;
}

void TestNaturalColourTable::strengthToAlpha()
{
    QFETCH(int, strength);
    QFETCH(int, alpha);
    QCOMPARE(StrokeStyle::alphaFor(strength), alpha);
}

QTEST_MAIN(TestNaturalColourTable)
#include "tst_naturalcolourtable.moc"
