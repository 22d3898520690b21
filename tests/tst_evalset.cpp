#include "evalset.h"

#include <QtTest>

#include <algorithm>
#include <cmath>

namespace {

const EvalSet &testSet()
{
    static const EvalSet set = EvalSet::load(EvalSet::testSetPath());
    return set;
}

QImage rectMask(const QSize &size, const QRect &inside)
{
    QImage mask(size, QImage::Format_Grayscale8);
    mask.fill(0);
    for (int y = inside.top(); y <= inside.bottom(); ++y)
        for (int x = inside.left(); x <= inside.right(); ++x)
            mask.scanLine(y)[x] = 255;
    return mask;
}

bool insideOf(const QImage &mask, const QPoint &p)
{
    return mask.constScanLine(p.y())[p.x()] >= 128;
}

int channelMedian(QList<int> values)
{
    // numpy's median of an even count is the mean of the middle two, and the
    // generator truncates it to an integer.
    std::sort(values.begin(), values.end());
    const qsizetype n = values.size();
    return n % 2 ? values.at(n / 2) : (values.at(n / 2 - 1) + values.at(n / 2)) / 2;
}

} // namespace

class TestEvalSet : public QObject
{
    Q_OBJECT

private slots:
    void deltaE2000_data();
    void deltaE2000();
    void labFromSrgb_data();
    void labFromSrgb();
    void meanDeltaE2000_data();
    void meanDeltaE2000();
    void iou_data();
    void iou();
    void boundaryWithin_data();
    void boundaryWithin();
    void strokePixels_data();
    void strokePixels();
    void testSetLoads();
    void objects_data();
    void objects();
    void scribbles_data();
    void scribbles();
    void damagedSet_data();
    void damagedSet();
};

void TestEvalSet::deltaE2000_data()
{
    QTest::addColumn<double>("L1");
    QTest::addColumn<double>("a1");
    QTest::addColumn<double>("b1");
    QTest::addColumn<double>("L2");
    QTest::addColumn<double>("a2");
    QTest::addColumn<double>("b2");
    QTest::addColumn<double>("expected");

    // The test pairs published by Sharma, Wu and Dalal (2005), table 1.
    const double pairs[][7] = {
        {50.0000, 2.6772, -79.7751, 50.0000, 0.0000, -82.7485, 2.0425},
        {50.0000, 3.1571, -77.2803, 50.0000, 0.0000, -82.7485, 2.8615},
        {50.0000, 2.8361, -74.0200, 50.0000, 0.0000, -82.7485, 3.4412},
        {50.0000, -1.3802, -84.2814, 50.0000, 0.0000, -82.7485, 1.0000},
        {50.0000, -1.1848, -84.8006, 50.0000, 0.0000, -82.7485, 1.0000},
        {50.0000, -0.9009, -85.5211, 50.0000, 0.0000, -82.7485, 1.0000},
        {50.0000, 0.0000, 0.0000, 50.0000, -1.0000, 2.0000, 2.3669},
        {50.0000, -1.0000, 2.0000, 50.0000, 0.0000, 0.0000, 2.3669},
        {50.0000, 2.4900, -0.0010, 50.0000, -2.4900, 0.0009, 7.1792},
        {50.0000, 2.4900, -0.0010, 50.0000, -2.4900, 0.0010, 7.1792},
        {50.0000, 2.4900, -0.0010, 50.0000, -2.4900, 0.0011, 7.2195},
        {50.0000, 2.4900, -0.0010, 50.0000, -2.4900, 0.0012, 7.2195},
        {50.0000, -0.0010, 2.4900, 50.0000, 0.0009, -2.4900, 4.8045},
        {50.0000, -0.0010, 2.4900, 50.0000, 0.0010, -2.4900, 4.8045},
        {50.0000, -0.0010, 2.4900, 50.0000, 0.0011, -2.4900, 4.7461},
        {50.0000, 2.5000, 0.0000, 50.0000, 0.0000, -2.5000, 4.3065},
        {50.0000, 2.5000, 0.0000, 73.0000, 25.0000, -18.0000, 27.1492},
        {50.0000, 2.5000, 0.0000, 61.0000, -5.0000, 29.0000, 22.8977},
        {50.0000, 2.5000, 0.0000, 56.0000, -27.0000, -3.0000, 31.9030},
        {50.0000, 2.5000, 0.0000, 58.0000, 24.0000, 15.0000, 19.4535},
        {50.0000, 2.5000, 0.0000, 50.0000, 3.1736, 0.5854, 1.0000},
        {50.0000, 2.5000, 0.0000, 50.0000, 3.2972, 0.0000, 1.0000},
        {50.0000, 2.5000, 0.0000, 50.0000, 1.8634, 0.5757, 1.0000},
        {50.0000, 2.5000, 0.0000, 50.0000, 3.2592, 0.3350, 1.0000},
        {60.2574, -34.0099, 36.2677, 60.4626, -34.1751, 39.4387, 1.2644},
        {63.0109, -31.0961, -5.8663, 62.8187, -29.7946, -4.0864, 1.2630},
        {61.2901, 3.7196, -5.3901, 61.4292, 2.2480, -4.9620, 1.8731},
        {35.0831, -44.1164, 3.7933, 35.0232, -40.0716, 1.5901, 1.8645},
        {22.7233, 20.0904, -46.6940, 23.0331, 14.9730, -42.5619, 2.0373},
        {36.4612, 47.8580, 18.3852, 36.2715, 50.5065, 21.2231, 1.4146},
        {90.8027, -2.0831, 1.4410, 91.1528, -1.6435, 0.0447, 1.4441},
        {90.9257, -0.5406, -0.9208, 88.6381, -0.8985, -0.7239, 1.5381},
        {6.7747, -0.2908, -2.4247, 5.8714, -0.0985, -2.2286, 0.6377},
        {2.0776, 0.0795, -1.1350, 0.9033, -0.0636, -0.5514, 0.9082},
    };
    int row = 1;
    for (const auto &p : pairs) {
        QTest::addRow("Sharma pair %d", row++) << p[0] << p[1] << p[2] << p[3] << p[4] << p[5] << p[6];
    }
}

void TestEvalSet::deltaE2000()
{
    QFETCH(double, L1);
    QFETCH(double, a1);
    QFETCH(double, b1);
    QFETCH(double, L2);
    QFETCH(double, a2);
    QFETCH(double, b2);
    QFETCH(double, expected);

    const EvalSet::Lab x{L1, a1, b1};
    const EvalSet::Lab y{L2, a2, b2};
    // The table gives four decimals; the measure is symmetric.
    QVERIFY2(std::abs(EvalSet::deltaE2000(x, y) - expected) < 0.5e-4,
             qPrintable(QString::number(EvalSet::deltaE2000(x, y), 'f', 6)));
    QVERIFY2(std::abs(EvalSet::deltaE2000(y, x) - expected) < 0.5e-4,
             qPrintable(QString::number(EvalSet::deltaE2000(y, x), 'f', 6)));
}

void TestEvalSet::labFromSrgb_data()
{
    QTest::addColumn<QColor>("colour");
    QTest::addColumn<double>("L");
    QTest::addColumn<double>("a");
    QTest::addColumn<double>("b");

    QTest::newRow("white") << QColor(255, 255, 255) << 100.0 << 0.0 << 0.0;
    QTest::newRow("black") << QColor(0, 0, 0) << 0.0 << 0.0 << 0.0;
    QTest::newRow("mid grey") << QColor(128, 128, 128) << 53.585 << 0.0 << 0.0;
    QTest::newRow("red") << QColor(255, 0, 0) << 53.2408 << 80.0925 << 67.2032;
    QTest::newRow("green") << QColor(0, 255, 0) << 87.7347 << -86.1827 << 83.1793;
    QTest::newRow("blue") << QColor(0, 0, 255) << 32.2970 << 79.1875 << -107.8602;
    QTest::newRow("tan") << QColor(200, 150, 100) << 65.7601 << 12.7589 << 33.5647;
    QTest::newRow("near black, linear part") << QColor(10, 20, 30) << 5.9485 << -0.6693 << -8.1364;
}

void TestEvalSet::labFromSrgb()
{
    QFETCH(QColor, colour);
    QFETCH(double, L);
    QFETCH(double, a);
    QFETCH(double, b);

    const EvalSet::Lab lab = EvalSet::labFromSrgb(colour.rgb());
    QVERIFY2(std::abs(lab.L - L) < 0.01 && std::abs(lab.a - a) < 0.01 && std::abs(lab.b - b) < 0.01,
             qPrintable(QStringLiteral("%1 %2 %3").arg(lab.L).arg(lab.a).arg(lab.b)));
}

void TestEvalSet::meanDeltaE2000_data()
{
    QTest::addColumn<QImage>("mask");
    QTest::addColumn<double>("expected");

    // Left half red in the first image and blue in the second, right half
    // grey in both.
    const double redBlue = EvalSet::deltaE2000(EvalSet::labFromSrgb(qRgb(255, 0, 0)),
                                               EvalSet::labFromSrgb(qRgb(0, 0, 255)));
    const QSize size(8, 4);
    QTest::newRow("whole image") << QImage() << redBlue / 2;
    QTest::newRow("differing half") << rectMask(size, QRect(0, 0, 4, 4)) << redBlue;
    QTest::newRow("equal half") << rectMask(size, QRect(4, 0, 4, 4)) << 0.0;
    QTest::newRow("one differing, one equal pixel")
        << EvalSet::maskOf({QPoint(0, 0), QPoint(7, 3)}, size) << redBlue / 2;
    QTest::newRow("empty mask") << rectMask(size, QRect()) << qQNaN();
    QTest::newRow("mask of another size") << rectMask(QSize(4, 4), QRect(0, 0, 4, 4)) << qQNaN();
}

void TestEvalSet::meanDeltaE2000()
{
    QFETCH(QImage, mask);
    QFETCH(double, expected);

    QImage a(8, 4, QImage::Format_RGB32);
    QImage b(8, 4, QImage::Format_ARGB32);
    a.fill(qRgb(128, 128, 128));
    b.fill(qRgb(128, 128, 128));
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 4; ++x) {
            a.setPixel(x, y, qRgb(255, 0, 0));
            b.setPixel(x, y, qRgb(0, 0, 255));
        }
    }
    const double got = EvalSet::meanDeltaE2000(a, b, mask);
    if (std::isnan(expected))
        QVERIFY2(std::isnan(got), qPrintable(QString::number(got)));
    else
        QVERIFY2(std::abs(got - expected) < 1e-9, qPrintable(QString::number(got)));
}

void TestEvalSet::iou_data()
{
    QTest::addColumn<QImage>("a");
    QTest::addColumn<QImage>("b");
    QTest::addColumn<double>("expected");

    const QSize size(20, 10);
    const QImage left = rectMask(size, QRect(0, 0, 10, 10));
    QTest::newRow("equal") << left << left << 1.0;
    QTest::newRow("disjoint") << left << rectMask(size, QRect(10, 0, 10, 10)) << 0.0;
    QTest::newRow("a third shared") << left << rectMask(size, QRect(5, 0, 10, 10)) << 50.0 / 150.0;
    QTest::newRow("inside, a quarter") << left << rectMask(size, QRect(0, 0, 5, 5)) << 0.25;
    QTest::newRow("both empty") << rectMask(size, QRect()) << rectMask(size, QRect()) << 1.0;
    QTest::newRow("one empty") << left << rectMask(size, QRect()) << 0.0;
    QImage soft = left;
    soft.scanLine(0)[0] = 127;
    QTest::newRow("grey below half is outside") << left << soft << 99.0 / 100.0;
    QImage layer(size, QImage::Format_ARGB32);
    layer.fill(Qt::transparent);
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 10; ++x)
            layer.setPixel(x, y, qRgb(255, 255, 255));
    QTest::newRow("any format") << layer << left << 1.0;
    QTest::newRow("sizes differ") << left << rectMask(QSize(10, 10), QRect(0, 0, 10, 10)) << qQNaN();
}

void TestEvalSet::iou()
{
    QFETCH(QImage, a);
    QFETCH(QImage, b);
    QFETCH(double, expected);

    const double got = EvalSet::iou(a, b);
    if (std::isnan(expected))
        QVERIFY(std::isnan(got));
    else
        QVERIFY2(std::abs(got - expected) < 1e-12, qPrintable(QString::number(got)));
}

void TestEvalSet::boundaryWithin_data()
{
    QTest::addColumn<QImage>("result");
    QTest::addColumn<QImage>("truth");
    QTest::addColumn<double>("expected");

    const QSize size(60, 60);
    const QImage square = rectMask(size, QRect(20, 20, 20, 20));
    QTest::newRow("equal") << square << square << 1.0;
    // Grown by 2, the boundary's corners are 2.8 away, and so are their
    // neighbours along each side: 12 of 92 pixels.
    QTest::newRow("grown by 2") << rectMask(size, QRect(18, 18, 24, 24)) << square << 80.0 / 92.0;
    QTest::newRow("shrunk by 2") << rectMask(size, QRect(22, 22, 16, 16)) << square << 1.0;
    QTest::newRow("grown by 3") << rectMask(size, QRect(17, 17, 26, 26)) << square << 0.0;
    // Moved right by 3: of the 76 boundary pixels, the top and bottom rows
    // are near but for their last pixel (2 x 19), the left column only
    // within 2 of the true corners (4), the right column nowhere.
    QTest::newRow("moved by 3") << rectMask(size, QRect(23, 20, 20, 20)) << square << 42.0 / 76.0;
    QTest::newRow("a blob inside") << rectMask(size, QRect(28, 28, 4, 4)) << square << 0.0;
    // The photo's edge is not a boundary: a half touching it is judged on its
    // one inner edge only.
    QTest::newRow("half against the edge") << rectMask(size, QRect(0, 0, 30, 60)) << rectMask(size, QRect(0, 0, 31, 60))
                                           << 1.0;
    QTest::newRow("everything, truth everything") << rectMask(size, QRect(0, 0, 60, 60))
                                                  << rectMask(size, QRect(0, 0, 60, 60)) << 1.0;
    QTest::newRow("everything, truth a square") << rectMask(size, QRect(0, 0, 60, 60)) << square << 0.0;
    QTest::newRow("nothing") << rectMask(size, QRect()) << square << 0.0;
    QTest::newRow("sizes differ") << square << rectMask(QSize(10, 10), QRect(0, 0, 5, 5)) << qQNaN();
}

void TestEvalSet::boundaryWithin()
{
    QFETCH(QImage, result);
    QFETCH(QImage, truth);
    QFETCH(double, expected);

    const double got = EvalSet::boundaryWithin(result, truth);
    if (std::isnan(expected))
        QVERIFY(std::isnan(got));
    else
        QVERIFY2(std::abs(got - expected) < 1e-12, qPrintable(QString::number(got)));
}

void TestEvalSet::strokePixels_data()
{
    QTest::addColumn<QList<QPoint>>("points");
    QTest::addColumn<double>("width");
    QTest::addColumn<int>("count");

    QTest::newRow("a dot of width 1") << QList<QPoint>{{10, 10}} << 1.0 << 1;
    QTest::newRow("a dot of width 3") << QList<QPoint>{{10, 10}} << 3.0 << 9;
    QTest::newRow("a dot of width 5: 5 x 5 without the corners") << QList<QPoint>{{10, 10}} << 5.0 << 21;
    QTest::newRow("a dot of width 3 in the photo's corner") << QList<QPoint>{{0, 0}} << 3.0 << 4;
    // 11 x 3 along the segment and a cap of three pixels beyond each end.
    QTest::newRow("a line of width 3") << QList<QPoint>{{5, 10}, {15, 10}} << 3.0 << 39;
    QTest::newRow("a line doubling back covers it once") << QList<QPoint>{{5, 10}, {15, 10}, {5, 10}} << 3.0 << 39;
    QTest::newRow("off the photo") << QList<QPoint>{{-20, -20}, {-10, -20}} << 5.0 << 0;
    QTest::newRow("no points") << QList<QPoint>{} << 5.0 << 0;
}

void TestEvalSet::strokePixels()
{
    QFETCH(QList<QPoint>, points);
    QFETCH(double, width);
    QFETCH(int, count);

    EvalSet::Stroke stroke;
    stroke.points = points;
    stroke.width = width;
    const QList<QPoint> pixels = EvalSet::strokePixels(stroke, QSize(40, 30));
    QCOMPARE(pixels.size(), count);
    for (qsizetype i = 1; i < pixels.size(); ++i) {
        const QPoint a = pixels.at(i - 1);
        const QPoint b = pixels.at(i);
        QVERIFY2(a.y() < b.y() || (a.y() == b.y() && a.x() < b.x()), "each pixel once, row by row");
    }
}

void TestEvalSet::testSetLoads()
{
    const EvalSet &set = testSet();
    QVERIFY2(set.isValid(), qPrintable(set.errorString()));
    int objects = 0;
    int spread = 0;
    for (const EvalSet::Photo &photo : set.photos()) {
        objects += int(photo.objects.size());
        spread += !photo.scribbles.isEmpty();
        QCOMPARE(photo.grey.format(), QImage::Format_Grayscale8);
        QCOMPARE(photo.colour.format(), QImage::Format_RGB32);
        QVERIFY(std::max(photo.grey.width(), photo.grey.height()) <= 320);
        // The grey the algorithms see is the colour photo's luma, as the
        // reader computes it.
        QCOMPARE(photo.grey, EvalSet::greyOf(photo.colour));
        QVERIFY(photo.source.startsWith(QLatin1String("/usr/")));
        // A grey photo is named as such, so that colour measures can leave it out.
        QCOMPARE(photo.greyOnly, photo.colour == photo.grey.convertToFormat(QImage::Format_RGB32));
    }
    QVERIFY(set.photos().size() >= 3);
    QVERIFY(objects >= 6);
    QVERIFY(spread >= 2);
}

void TestEvalSet::objects_data()
{
    QTest::addColumn<int>("photo");
    QTest::addColumn<int>("object");
    for (int p = 0; p < testSet().photos().size(); ++p) {
        const EvalSet::Photo &photo = testSet().photos().at(p);
        for (int o = 0; o < photo.objects.size(); ++o)
            QTest::addRow("%s/%s", qPrintable(photo.name), qPrintable(photo.objects.at(o).name)) << p << o;
    }
}

void TestEvalSet::objects()
{
    QFETCH(int, photo);
    QFETCH(int, object);
    const EvalSet::Photo &p = testSet().photos().at(photo);
    const EvalSet::Object &o = p.objects.at(object);
    const QSize size = p.grey.size();

    // A binary mask of the photo's size with something inside.
    QCOMPARE(o.mask.size(), size);
    qint64 inside = 0;
    QList<int> channels[3];
    for (int y = 0; y < size.height(); ++y) {
        for (int x = 0; x < size.width(); ++x) {
            const uchar v = o.mask.constScanLine(y)[x];
            QVERIFY(v == 0 || v == 255);
            if (!v)
                continue;
            ++inside;
            const QRgb c = p.colour.pixel(x, y);
            channels[0].append(qRed(c));
            channels[1].append(qGreen(c));
            channels[2].append(qBlue(c));
        }
    }
    QVERIFY(inside > 0);
    QCOMPARE(o.median, QColor(channelMedian(channels[0]), channelMedian(channels[1]), channelMedian(channels[2])));

    // The reader covers the same pixels as the generator, stroke by stroke.
    const auto sameCount = [&](const EvalSet::Stroke &s) {
        return EvalSet::strokePixels(s, size).size() == s.pixelCount && s.pixelCount > 0;
    };
    QVERIFY(o.keepStrokes.size() >= 3);
    QVERIFY(o.removeStrokes.size() >= 3);
    QVERIFY(std::all_of(o.keepStrokes.cbegin(), o.keepStrokes.cend(), sameCount));
    QVERIFY(std::all_of(o.removeStrokes.cbegin(), o.removeStrokes.cend(), sameCount));
    QVERIFY(sameCount(o.shortKeepStroke));

    // Keep marks inside the truth, remove marks outside, the short stroke a
    // small part of the keep marks.
    const auto inTruth = [&](const QPoint &q) { return insideOf(o.mask, q); };
    QVERIFY(std::all_of(o.keep.cbegin(), o.keep.cend(), inTruth));
    QVERIFY(std::all_of(o.shortKeep.cbegin(), o.shortKeep.cend(), inTruth));
    QVERIFY(std::none_of(o.remove.cbegin(), o.remove.cend(), inTruth));
    QVERIFY(o.shortKeep.size() < o.keep.size());
}

void TestEvalSet::scribbles_data()
{
    QTest::addColumn<int>("photo");
    for (int p = 0; p < testSet().photos().size(); ++p) {
        const EvalSet::Photo &photo = testSet().photos().at(p);
        if (!photo.scribbles.isEmpty())
            QTest::addRow("%s", qPrintable(photo.name)) << p;
    }
}

void TestEvalSet::scribbles()
{
    QFETCH(int, photo);
    const EvalSet::Photo &p = testSet().photos().at(photo);
    QVERIFY(p.scribbles.size() >= 15);
    QImage covered(p.grey.size(), QImage::Format_Grayscale8);
    covered.fill(0);
    for (const EvalSet::Scribble &s : p.scribbles) {
        QVERIFY(s.colour.isValid());
        QCOMPARE(s.pixels.size(), s.stroke.pixelCount);
        // One scribble per region: no two scribbles share a pixel.
        for (const QPoint &q : s.pixels) {
            QCOMPARE(covered.scanLine(q.y())[q.x()], uchar(0));
            covered.scanLine(q.y())[q.x()] = 255;
        }
    }
}

void TestEvalSet::damagedSet_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QString>("complaint");

    QTest::newRow("not JSON") << QByteArray("{ photos: ") << QStringLiteral("evalset.json");
    QTest::newRow("no photos") << QByteArray("{\"photos\": []}") << QStringLiteral("holds no photos");
    QTest::newRow("a missing photo")
        << QByteArray("{\"photos\": [{\"name\": \"x\", \"grey\": \"photos/x-grey.png\", \"colour\": \"x.png\"}]}")
        << QStringLiteral("make-eval-set.py --photos");
}

void TestEvalSet::damagedSet()
{
    QFETCH(QByteArray, json);
    QFETCH(QString, complaint);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QFile file(dir.filePath(QStringLiteral("evalset.json")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(json);
    file.close();
    const EvalSet set = EvalSet::load(file.fileName());
    QVERIFY(!set.isValid());
    QVERIFY(set.photos().isEmpty());
    QVERIFY2(set.errorString().contains(complaint), qPrintable(set.errorString()));
}

QTEST_GUILESS_MAIN(TestEvalSet)
#include "tst_evalset.moc"
