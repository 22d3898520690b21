#include "imaging/reducedlayer.h"

#include <QRandomGenerator>
#include <QTest>

#include <cmath>

namespace {

// Half the layer coloured in random colours at random strengths, the rest
// uncoloured, as a layer looks after a few soft strokes.
QImage randomLayer(QSize size, quint32 seed)
{
    QRandomGenerator random(seed);
    QImage layer(size, QImage::Format_ARGB32);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x)
            layer.setPixel(x, y,
                           random.bounded(2) ? qRgba(random.bounded(256), random.bounded(256), random.bounded(256),
                                                     random.bounded(256))
                                             : 0u);
    return layer;
}

// The premultiplied mean of the block, worked out in floating point.
QRgb expectedPixel(const QImage &layer, int factor, int x, int y)
{
    double a = 0, r = 0, g = 0, b = 0;
    int count = 0;
    for (int sy = y * factor; sy < qMin((y + 1) * factor, layer.height()); ++sy)
        for (int sx = x * factor; sx < qMin((x + 1) * factor, layer.width()); ++sx, ++count) {
            const QRgb p = layer.pixel(sx, sy);
            a += qAlpha(p);
            r += qRed(p) * qAlpha(p) / 255.0;
            g += qGreen(p) * qAlpha(p) / 255.0;
            b += qBlue(p) * qAlpha(p) / 255.0;
        }
    return qRgba(int(std::lround(r / count)), int(std::lround(g / count)), int(std::lround(b / count)),
                 int(std::lround(a / count)));
}

bool near(QRgb a, QRgb b)
{
    return qAbs(qRed(a) - qRed(b)) <= 1 && qAbs(qGreen(a) - qGreen(b)) <= 1 && qAbs(qBlue(a) - qBlue(b)) <= 1
        && qAlpha(a) == qAlpha(b);
}

} // namespace

class TestReducedLayer : public QObject
{
    Q_OBJECT

private slots:
    void factorForScale_data();
    void factorForScale();
    void blockMeans_data();
    void blockMeans();
    void halvingIsExact_data();
    void halvingIsExact();
    void followsChangesOnlyWhereTold();
};

void TestReducedLayer::factorForScale_data()
{
    QTest::addColumn<qreal>("scale");
    QTest::addColumn<int>("factor");
    QTest::newRow("zoomed in") << 4.0 << 1;
    QTest::newRow("actual size") << 1.0 << 1;
    QTest::newRow("just over a half") << 0.51 << 1;
    QTest::newRow("a half") << 0.5 << 2;
    QTest::newRow("6000 wide fitted in 1920") << 0.32 << 2;
    QTest::newRow("a quarter") << 0.25 << 4;
    QTest::newRow("far out") << 0.05 << 8;
}

void TestReducedLayer::factorForScale()
{
    QFETCH(qreal, scale);
    QFETCH(int, factor);
    QCOMPARE(ReducedLayer::factorFor(scale), factor);
}

void TestReducedLayer::blockMeans_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<int>("factor");
    QTest::newRow("whole blocks by 2") << QSize(64, 32) << 2;
    QTest::newRow("partial blocks by 4") << QSize(150, 67) << 4;
    QTest::newRow("partial blocks by 8") << QSize(523, 130) << 8;
    QTest::newRow("one pixel by 8") << QSize(1, 1) << 8;
    // Enough stale tiles to be reduced on several threads.
    QTest::newRow("many tiles by 4") << QSize(1100, 610) << 4;
}

void TestReducedLayer::blockMeans()
{
    QFETCH(QSize, size);
    QFETCH(int, factor);
    const QImage layer = randomLayer(size, quint32(size.width() * 31 + factor));
    ReducedLayer reduced;
    reduced.reset(size);
    const QImage picture = reduced.picture(layer, factor, layer.rect());
    QCOMPARE(picture.format(), ReducedLayer::format);
    QCOMPARE(picture.size(), QSize((size.width() + factor - 1) / factor, (size.height() + factor - 1) / factor));
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x) {
            const QRgb got = reinterpret_cast<const QRgb *>(picture.constScanLine(y))[x];
            const QRgb want = expectedPixel(layer, factor, x, y);
            if (!near(got, want))
                QFAIL(qPrintable(QStringLiteral("reduced pixel (%1, %2): %3, expected %4")
                                     .arg(x)
                                     .arg(y)
                                     .arg(got, 8, 16)
                                     .arg(want, 8, 16)));
        }
}

void TestReducedLayer::halvingIsExact_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<bool>("opaque");
    QTest::newRow("random colours and alphas") << QSize(517, 301) << false;
    QTest::newRow("a lone last column and row") << QSize(255, 127) << false;
    QTest::newRow("opaque colours") << QSize(300, 200) << true;
}

// Halving, however it is computed, gives the float mean of its block bit for
// bit: the same sums, scaled in single precision and rounded half up.
void TestReducedLayer::halvingIsExact()
{
    QFETCH(QSize, size);
    QFETCH(bool, opaque);
    QRandomGenerator random(quint32(size.width() * 7 + size.height()));
    QImage layer(size, QImage::Format_ARGB32);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x)
            layer.setPixel(x, y, random.bounded(8) == 0 ? 0u : (random.generate() | (opaque ? 0xFF000000u : 0u)));
    ReducedLayer reduced;
    reduced.reset(size);
    const QImage picture = reduced.picture(layer, 2, layer.rect());
    const auto at = [&layer](int x, int y) {
        return layer.pixel(qMin(x, layer.width() - 1), qMin(y, layer.height() - 1));
    };
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x) {
            const QRgb p[4] = {at(2 * x, 2 * y), at(2 * x + 1, 2 * y), at(2 * x, 2 * y + 1), at(2 * x + 1, 2 * y + 1)};
            QRgb want = qPremultiply(p[0]);
            if (!(p[0] == p[1] && p[0] == p[2] && p[0] == p[3])) {
                quint32 a = 0, r = 0, g = 0, b = 0;
                for (const QRgb v : p) {
                    a += quint32(qAlpha(v));
                    r += quint32(qRed(v) * qAlpha(v));
                    g += quint32(qGreen(v) * qAlpha(v));
                    b += quint32(qBlue(v) * qAlpha(v));
                }
                const float per = 1.0f / 1020;
                want = qRgba(int(float(r) * per + 0.5f), int(float(g) * per + 0.5f), int(float(b) * per + 0.5f),
                             int((a + 2) / 4));
            }
            const QRgb got = reinterpret_cast<const QRgb *>(picture.constScanLine(y))[x];
            if (got != want)
                QFAIL(qPrintable(QStringLiteral("reduced pixel (%1, %2): %3, expected %4")
                                     .arg(x)
                                     .arg(y)
                                     .arg(got, 8, 16)
                                     .arg(want, 8, 16)));
        }
}

void TestReducedLayer::followsChangesOnlyWhereTold()
{
    // Tiles of 64 reduced pixels: by 2, a 300 x 300 layer has 3 x 3 tiles.
    QImage layer(300, 300, QImage::Format_ARGB32);
    layer.fill(0u);
    ReducedLayer reduced;
    reduced.reset(layer.size());
    QCOMPARE(reduced.picture(layer, 2, layer.rect()).pixel(10, 10), 0u);

    layer.setPixel(20, 20, qRgba(255, 0, 0, 255));
    layer.setPixel(21, 20, qRgba(255, 0, 0, 255));
    layer.setPixel(20, 21, qRgba(255, 0, 0, 255));
    layer.setPixel(21, 21, qRgba(255, 0, 0, 255));
    layer.setPixel(280, 280, qRgba(0, 0, 255, 255));
    reduced.invalidate(QRect(20, 20, 2, 2));
    // Drawn only around the first change: the second, not announced and
    // not drawn, waits.
    const QImage &near = reduced.picture(layer, 2, QRect(0, 0, 40, 40));
    QCOMPARE(QColor::fromRgba(near.pixel(10, 10)), QColor(255, 0, 0));
    QCOMPARE(near.pixel(140, 140), 0u);
    reduced.invalidate(QRect(280, 280, 1, 1));
    const QImage &whole = reduced.picture(layer, 2, layer.rect());
    QCOMPARE(qAlpha(whole.pixel(140, 140)), 64);
    // A new layer size starts over.
    reduced.reset(QSize(10, 10));
    QImage small(10, 10, QImage::Format_ARGB32);
    small.fill(qRgba(0, 255, 0, 255));
    QCOMPARE(reduced.picture(small, 4, small.rect()).size(), QSize(3, 3));
    QCOMPARE(QColor::fromRgba(reduced.picture(small, 4, small.rect()).pixel(2, 2)), QColor(0, 255, 0));
}

QTEST_GUILESS_MAIN(TestReducedLayer)
#include "tst_reducedlayer.moc"
