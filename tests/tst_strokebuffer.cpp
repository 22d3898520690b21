#include "colourlayer/czefgraphicsimagemaskitem.h"
#include "imaging/brushgeometry.h"
#include "imaging/colourisetable.h"
#include "imaging/naturalcolourtable.h"
#include "imaging/strokebuffer.h"
#include "testsupport.h"

#include <QBitArray>
#include <QDir>
#include <QRandomGenerator>
#include <QtTest>

#include <cmath>

using BrushGeometry::Disc;

namespace {

constexpr QRgb uncoloured = 0;

QImage greyPhoto(int w, int h)
{
    QImage photo(w, h, QImage::Format_Grayscale8);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            photo.scanLine(y)[x] = uchar(40 + (x * 5 + y * 3 + ((x * y) >> 4)) % 190);
    return photo;
}

QImage colourPhoto(int w, int h)
{
    QImage photo(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            photo.setPixel(x, y, qRgb((x * 7 + y) & 0xFF, (x ^ y) & 0xFF, (x * y + 60) & 0xFF));
    return photo;
}

// The brush disc of a given diameter around a scene point, as the canvas
// makes it at scale 1.
Disc discAt(const QPointF &c, int diameter)
{
    const double half = diameter / 2;
    Disc disc;
    disc.centre = QPoint(int(c.x()), int(c.y()));
    disc.square = BrushGeometry::square(c - QPointF(half, half), c + QPointF(half, half));
    return disc;
}

// A stroke through `points`, one disc per step along each segment.
QList<QList<Disc>> strokeMoves(const QList<QPoint> &points, int diameter)
{
    QList<QList<Disc>> moves;
    for (qsizetype i = 1; i < points.size(); ++i) {
        QList<Disc> discs;
        for (const QPoint &q : BrushGeometry::lineSteps(points[i - 1], points[i]))
            discs.append(discAt(q, diameter));
        moves.append(discs);
    }
    return moves;
}

// Lays a stroke move by move, as the canvas does.
void layStroke(StrokeBuffer &buffer, const QList<QPoint> &points, int diameter, const QRect &limit)
{
    const int softness = buffer.style().clampedSoftness();
    Disc painted = discAt(points.first(), diameter);
    buffer.paint(BrushGeometry::softSweep({painted}, nullptr, limit, softness));
    const QList<QList<Disc>> moves = strokeMoves(points, diameter);
    for (qsizetype i = 0; i < moves.size(); ++i) {
        buffer.paint(BrushGeometry::softSweep(moves[i], &painted, limit, softness));
        painted = discAt(points[i + 1], diameter);
    }
}

StrokeStyle style(StrokeStyle::Model model, QRgb brush, int strength, int softness, bool erase = false)
{
    StrokeStyle s;
    s.model = model;
    s.brush = brush;
    s.strength = strength;
    s.softness = softness;
    s.erase = erase;
    return s;
}

// The premultiplied mix of `from` and `to` with weight c, in floating point.
void mix(QRgb from, QRgb to, double c, double out[4])
{
    const double fa = qAlpha(from) / 255.0 * (1 - c);
    const double ta = qAlpha(to) / 255.0 * c;
    out[0] = (fa + ta) * 255;
    const int shifts[3] = {16, 8, 0};
    for (int i = 0; i < 3; ++i) {
        const double f = (from >> shifts[i]) & 0xFF;
        const double t = (to >> shifts[i]) & 0xFF;
        out[i + 1] = fa + ta > 0 ? (f * fa + t * ta) / (fa + ta) : t;
    }
}

bool near(QRgb got, const double want[4], double slack)
{
    const int channels[4] = {qAlpha(got), qRed(got), qGreen(got), qBlue(got)};
    for (int i = 0; i < 4; ++i)
        if (std::abs(channels[i] - want[i]) > slack)
            return false;
    return true;
}

QString hex(QRgb v)
{
    return QStringLiteral("%1").arg(v, 8, 16, QLatin1Char('0'));
}

// Saves both images next to the test output when they differ.
bool sameImage(const QImage &got, const QImage &want, const char *name)
{
    if (got == want)
        return true;
    got.save(QDir::current().filePath(QString::fromLatin1(name) + QStringLiteral("-actual.png")));
    want.save(QDir::current().filePath(QString::fromLatin1(name) + QStringLiteral("-expected.png")));
    return false;
}

// A layer with earlier colour: a hard red band and a soft green stroke.
QImage earlierColour(const QImage &photo)
{
    QImage layer(photo.size(), QImage::Format_ARGB32);
    layer.fill(uncoloured);
    StrokeBuffer hard(layer, photo, style(StrokeStyle::Model::Classic, 0xFFFF0000, 86, 0), uncoloured);
    layStroke(hard, {QPoint(10, 30), QPoint(150, 50)}, 30, layer.rect());
    StrokeBuffer soft(layer, photo, style(StrokeStyle::Model::Natural, 0xFF20C040, 60, 70), uncoloured);
    layStroke(soft, {QPoint(120, 10), QPoint(60, 110)}, 40, layer.rect());
    return layer;
}

} // namespace

class TestStrokeBuffer : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { TestSupport::nameApplication(); }
    void defaultsLayTheLayersOwnPixels_data();
    void defaultsLayTheLayersOwnPixels();
    void fullCoverageLaysTheModelsColour_data();
    void fullCoverageLaysTheModelsColour();
    void softEdgeProfile_data();
    void softEdgeProfile();
    void noBuildUpWithinOneStroke_data();
    void noBuildUpWithinOneStroke();
    void softRimBlendsIntoEarlierColour_data();
    void softRimBlendsIntoEarlierColour();
    void undoOfASoftStrokeIsExact_data();
    void undoOfASoftStrokeIsExact();
    void withoutItsRecordAStrokeStillBlends();
    void paintsOnlyOverThePhoto();
    void partialCoverageIsTheExactMix();
    void leavingOutWhatCannotGainChangesNothing_data();
    void leavingOutWhatCannotGainChangesNothing();
};

void TestStrokeBuffer::defaultsLayTheLayersOwnPixels_data()
{
    QTest::addColumn<QImage>("photo");
    QTest::addColumn<bool>("erase");
    const QImage colour = colourPhoto(180, 130);
    QTest::newRow("grey photo") << greyPhoto(180, 130) << false;
    QTest::newRow("colour photo") << colour << false;
    QTest::newRow("palette photo") << colour.convertToFormat(QImage::Format_Indexed8) << false;
    QTest::newRow("RGB888 photo") << colour.convertToFormat(QImage::Format_RGB888) << false;
    QTest::newRow("eraser") << colour << true;
}

// With the new controls at their defaults (classic model, strength 86 %, no
// softness) a stroke lays exactly what the layer's own span painting lays,
// over earlier colour too, and its record takes it back bit for bit.
void TestStrokeBuffer::defaultsLayTheLayersOwnPixels()
{
    QFETCH(QImage, photo);
    QFETCH(bool, erase);
    const QImage before = earlierColour(photo.convertToFormat(QImage::Format_RGB32));
    const QList<QPoint> points = {QPoint(20, 100), QPoint(170, 20), QPoint(90, 125), QPoint(5, 5)};
    constexpr QRgb brush = 0xFF3366CC;

    CZefGraphicsImageMaskItem item;
    item.init(photo.width(), photo.height(), brush, uncoloured);
    LayerTileRecord start(before.size());
    start.capture(before, before.rect());
    item.layer()->swapRecord(start);
    item.layer()->beginRecording(std::numeric_limits<qint64>::max());
    Disc painted = discAt(points.first(), 24);
    const auto paintItem = [&](const RowSpans &spans) {
        item.updateSpansFromImage(erase ? RowSpans() : spans, erase ? spans : RowSpans(), &photo);
    };
    paintItem(BrushGeometry::sweep({painted}, nullptr, photo.rect()));
    const QList<QList<Disc>> moves = strokeMoves(points, 24);
    for (qsizetype i = 0; i < moves.size(); ++i) {
        paintItem(BrushGeometry::sweep(moves[i], &painted, photo.rect()));
        painted = discAt(points[i + 1], 24);
    }
    LayerTileRecord itemRecord = item.layer()->endRecording();

    QImage layer = before;
    StrokeStyle defaults;
    defaults.brush = brush;
    defaults.erase = erase;
    StrokeBuffer buffer(layer, photo, defaults, uncoloured);
    layStroke(buffer, points, 24, photo.rect());
    QVERIFY(sameImage(layer, *item.maskImage, "defaults"));

    LayerTileRecord record = buffer.takeRecord();
    const QImage after = layer;
    record.swap(layer);
    QVERIFY(sameImage(layer, before, "defaults-undone"));
    item.layer()->swapRecord(itemRecord);
    QVERIFY(sameImage(*item.maskImage, before, "defaults-item-undone"));
    record.swap(layer);
    QVERIFY(sameImage(layer, after, "defaults-redone"));
}

void TestStrokeBuffer::fullCoverageLaysTheModelsColour_data()
{
    QTest::addColumn<int>("model");
    QTest::addColumn<int>("strength");
    QTest::newRow("natural, default strength") << int(StrokeStyle::Model::Natural) << 86;
    QTest::newRow("natural, 30 %") << int(StrokeStyle::Model::Natural) << 30;
    QTest::newRow("classic, 100 %") << int(StrokeStyle::Model::Classic) << 100;
}

// Where a stroke covers fully (a hard one everywhere), the pixel is the
// model's colour for the photo pixel at the stroke's alpha, whatever was there.
void TestStrokeBuffer::fullCoverageLaysTheModelsColour()
{
    QFETCH(int, model);
    QFETCH(int, strength);
    const QImage photo = colourPhoto(160, 120);
    QImage layer = earlierColour(photo);
    constexpr QRgb brush = qRgb(230, 180, 150);
    const StrokeStyle s = style(StrokeStyle::Model(model), brush, strength, 0);
    StrokeBuffer buffer(layer, photo, s, uncoloured);
    RowSpans all;
    for (int y = 0; y < 120; ++y)
        all.append(RowSpan{y, 0, 159});
    buffer.paint(all);
    const int alpha = StrokeStyle::alphaFor(strength);
    const NaturalColourTable natural(brush, alpha);
    const ColouriseTable classic(brush, alpha);
    for (int y = 0; y < 120; ++y)
        for (int x = 0; x < 160; ++x) {
            const QRgb want = s.model == StrokeStyle::Model::Natural
                ? natural.colourFor(NaturalColourTable::lumIndex(photo.pixel(x, y)))
                : classic.colourFor(ColouriseTable::valueAt(photo, x, y));
            QCOMPARE(hex(layer.pixel(x, y)), hex(want));
        }
}

void TestStrokeBuffer::softEdgeProfile_data()
{
    QTest::addColumn<int>("model");
    QTest::addColumn<int>("strength");
    QTest::addColumn<int>("softness");
    QTest::newRow("natural, 86 %, soft 50 %") << int(StrokeStyle::Model::Natural) << 86 << 50;
    QTest::newRow("natural, 40 %, soft 100 %") << int(StrokeStyle::Model::Natural) << 40 << 100;
    QTest::newRow("classic, 86 %, soft 20 %") << int(StrokeStyle::Model::Classic) << 86 << 20;
}

// Across the edge of a soft disc laid on an uncoloured layer: the stroke's
// alpha out to (1 - s) of the radius, then alpha falling in proportion to
// the distance left to the rim, nothing beyond; the colour is the brush's
// full colour wherever there is any.
void TestStrokeBuffer::softEdgeProfile()
{
    QFETCH(int, model);
    QFETCH(int, strength);
    QFETCH(int, softness);
    const QImage photo = greyPhoto(120, 120);
    QImage layer(photo.size(), QImage::Format_ARGB32);
    layer.fill(uncoloured);
    const StrokeStyle s = style(StrokeStyle::Model(model), 0xFF2080E0, strength, softness);
    StrokeBuffer buffer(layer, photo, s, uncoloured);
    const Disc disc = discAt(QPointF(60, 60), 60); // radius 30
    buffer.paint(BrushGeometry::softSweep({disc}, nullptr, photo.rect(), softness));

    const int alpha = s.alpha();
    const NaturalColourTable natural(s.brush, alpha);
    const ColouriseTable classic(s.brush, alpha);
    const double radius = 30;
    const double inner = radius * (1 - softness / 100.0);
    for (const int y : {60, 47, 81}) {
        for (int x = 0; x < 120; ++x) {
            // The disc's square (30 to 89) leaves its last column out.
            const double d = std::hypot(x - 60, y - 60);
            const double coverage = d >= radius || x > 88 ? 0 : d <= inner ? 1 : (radius - d) / (radius - inner);
            const QRgb got = layer.pixel(x, y);
            QVERIFY2(std::abs(qAlpha(got) - coverage * alpha) <= 1,
                     qPrintable(QStringLiteral("(%1, %2): alpha %3, expected %4")
                                    .arg(x)
                                    .arg(y)
                                    .arg(qAlpha(got))
                                    .arg(coverage * alpha)));
            if (qAlpha(got) > 0) {
                const int grey = qGray(photo.pixel(x, y));
                const QRgb full =
                    s.model == StrokeStyle::Model::Natural ? natural.colourForGrey(grey) : classic.colourFor(grey);
                QCOMPARE(hex(got & 0xFFFFFF), hex(full & 0xFFFFFF));
            }
        }
    }
}

void TestStrokeBuffer::noBuildUpWithinOneStroke_data()
{
    QTest::addColumn<bool>("erase");
    QTest::addColumn<int>("softness");
    QTest::newRow("brush, soft 50 %") << false << 50;
    QTest::newRow("brush, soft 100 %") << false << 100;
    QTest::newRow("eraser, soft 60 %") << true << 60;
}

// A stroke that scrubs back and forth over the same place lays exactly what
// one pass over the union of its discs lays: each pixel takes the best
// coverage once, however often it is passed.
void TestStrokeBuffer::noBuildUpWithinOneStroke()
{
    QFETCH(bool, erase);
    QFETCH(int, softness);
    const QImage photo = colourPhoto(160, 120);
    const QImage before = earlierColour(photo);
    const StrokeStyle s = style(StrokeStyle::Model::Natural, 0xFFE0C020, 50, softness, erase);

    QList<QPoint> points;
    for (int i = 0; i < 14; ++i)
        points.append(QPoint(i % 2 ? 120 : 35, 55 + (i % 3) * 4));
    QImage scrubbed = before;
    StrokeBuffer scrub(scrubbed, photo, s, uncoloured);
    layStroke(scrub, points, 36, photo.rect());

    QList<Disc> all = {discAt(points.first(), 36)};
    for (const QList<Disc> &move : strokeMoves(points, 36))
        all.append(move);
    QImage once = before;
    StrokeBuffer single(once, photo, s, uncoloured);
    single.paint(BrushGeometry::softSweep(all, nullptr, photo.rect(), softness));
    QVERIFY(sameImage(scrubbed, once, "scrubbed"));

    // Over uncoloured layer, nothing passes the stroke's own alpha.
    if (!erase) {
        for (int y = 0; y < 120; ++y)
            for (int x = 0; x < 160; ++x)
                if (before.pixel(x, y) == uncoloured)
                    QVERIFY(qAlpha(scrubbed.pixel(x, y)) <= s.alpha());
    }
}

void TestStrokeBuffer::softRimBlendsIntoEarlierColour_data()
{
    QTest::addColumn<QRgb>("earlier");
    QTest::addColumn<bool>("erase");
    QTest::newRow("over the layer's usual alpha") << 0xDCFF3010u << false;
    QTest::newRow("over a light wash") << 0x402060FFu << false;
    QTest::newRow("over opaque colour") << 0xFF10A020u << false;
    QTest::newRow("eraser over colour") << 0xDCFF3010u << true;
}

// Each pixel of a soft disc over earlier colour is that colour moved towards
// the stroke's pixel by its coverage, in premultiplied terms; the eraser
// moves it towards nothing.
void TestStrokeBuffer::softRimBlendsIntoEarlierColour()
{
    QFETCH(QRgb, earlier);
    QFETCH(bool, erase);
    const QImage photo = colourPhoto(100, 100);
    QImage layer(photo.size(), QImage::Format_ARGB32);
    layer.fill(earlier);
    const StrokeStyle s = style(StrokeStyle::Model::Natural, 0xFF2040D0, 70, 80, erase);
    StrokeBuffer buffer(layer, photo, s, uncoloured);
    const Disc disc = discAt(QPointF(50, 50), 70);
    buffer.paint(BrushGeometry::softSweep({disc}, nullptr, photo.rect(), 80));

    const NaturalColourTable natural(s.brush, s.alpha());
    const BrushGeometry::SoftProfile profile(disc.squaredRadius(), 80);
    int blended = 0;
    for (int y = 0; y < 100; ++y) {
        for (int x = 0; x < 100; ++x) {
            const qint64 d2 = qint64(x - 50) * (x - 50) + qint64(y - 50) * (y - 50);
            const bool inSquare = x <= disc.square.right() - 1 && y <= disc.square.bottom() - 1;
            const int c = inSquare ? profile.at(d2) : 0;
            const QRgb to = erase ? uncoloured : natural.colourFor(NaturalColourTable::lumIndex(photo.pixel(x, y)));
            double want[4];
            mix(earlier, to, c / 255.0, want);
            // Half a level of rounding each way, a little more where the
            // colour is divided by a small alpha.
            const double slack = 0.5 + 1e-3 + (want[0] < 64 ? 1 : 0);
            if (!near(layer.pixel(x, y), want, slack))
                QFAIL(qPrintable(QStringLiteral("(%1, %2) at coverage %3: %4, expected %5 %6 %7 %8")
                                     .arg(x)
                                     .arg(y)
                                     .arg(c)
                                     .arg(hex(layer.pixel(x, y)))
                                     .arg(want[0])
                                     .arg(want[1])
                                     .arg(want[2])
                                     .arg(want[3])));
            blended += c > 0 && c < 255;
        }
    }
    QVERIFY(blended > 1000);
}

void TestStrokeBuffer::undoOfASoftStrokeIsExact_data()
{
    QTest::addColumn<bool>("erase");
    QTest::newRow("soft brush") << false;
    QTest::newRow("soft eraser") << true;
}

// A soft stroke over earlier colour, many times over the same pixels: its
// record restores the layer from before it bit for bit, and gives it back.
void TestStrokeBuffer::undoOfASoftStrokeIsExact()
{
    QFETCH(bool, erase);
    const QImage photo = colourPhoto(200, 140);
    const QImage before = earlierColour(photo);
    QImage layer = before;
    StrokeBuffer buffer(layer, photo, style(StrokeStyle::Model::Natural, 0xFF8040C0, 45, 65, erase), uncoloured);
    layStroke(buffer, {QPoint(5, 70), QPoint(195, 75), QPoint(30, 60), QPoint(100, 135), QPoint(100, 2)}, 50,
              photo.rect());
    const QImage after = layer;
    QVERIFY(after != before);
    LayerTileRecord record = buffer.takeRecord();
    QVERIFY(!record.overflowed());
    record.swap(layer);
    QVERIFY(sameImage(layer, before, "soft-undone"));
    record.swap(layer);
    QVERIFY(sameImage(layer, after, "soft-redone"));
}

// When the record gives up (its memory bound), the stroke goes on from each
// pixel's present value: close to the exact result, never building up.
void TestStrokeBuffer::withoutItsRecordAStrokeStillBlends()
{
    const QImage photo = colourPhoto(160, 120);
    const QImage before = earlierColour(photo);
    const StrokeStyle s = style(StrokeStyle::Model::Natural, 0xFF30B0B0, 70, 60);
    QList<QPoint> points;
    for (int i = 0; i < 9; ++i)
        points.append(QPoint(i % 2 ? 130 : 30, 60 + (i % 3) * 5));

    QImage exact = before;
    StrokeBuffer kept(exact, photo, s, uncoloured);
    layStroke(kept, points, 40, photo.rect());
    QImage bounded = before;
    StrokeBuffer unkept(bounded, photo, s, uncoloured, 0);
    layStroke(unkept, points, 40, photo.rect());
    QVERIFY(unkept.takeRecord().overflowed());

    int worst = 0;
    for (int y = 0; y < 120; ++y)
        for (int x = 0; x < 160; ++x) {
            const QRgb a = exact.pixel(x, y);
            const QRgb b = bounded.pixel(x, y);
            worst = std::max({worst, std::abs(qAlpha(a) - qAlpha(b))});
            if (qAlpha(a) > 32)
                worst = std::max({worst, std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                                  std::abs(qBlue(a) - qBlue(b))});
        }
    QVERIFY2(worst <= 3, qPrintable(QStringLiteral("off by %1 levels").arg(worst)));
}

// The brush colours only where there is photo; the eraser clears the layer.
void TestStrokeBuffer::paintsOnlyOverThePhoto()
{
    const QImage photo = greyPhoto(60, 40);
    QImage layer(100, 80, QImage::Format_ARGB32);
    layer.fill(0xDC112233);
    RowSpans all;
    for (int y = 0; y < 80; ++y)
        all.append(RowSpan{y, -5, 104});
    StrokeBuffer brush(layer, photo, style(StrokeStyle::Model::Natural, 0xFFFF0000, 86, 0), uncoloured);
    QCOMPARE(brush.paint(all), QRect(0, 0, 60, 40));
    QCOMPARE(layer.pixel(70, 10), 0xDC112233u);
    QCOMPARE(layer.pixel(10, 50), 0xDC112233u);
    StrokeBuffer eraser(layer, photo, style(StrokeStyle::Model::Natural, 0xFFFF0000, 86, 0, true), uncoloured);
    QCOMPARE(eraser.paint(all), QRect(0, 0, 100, 80));
    QImage empty(100, 80, QImage::Format_ARGB32);
    empty.fill(uncoloured);
    QCOMPARE(layer, empty);
}

// Every partly covered pixel is the mix of the pixel before the stroke and
// the stroke's own pixel as written out below, bit for bit, over layers of
// every alpha and colour and at every coverage.
void TestStrokeBuffer::partialCoverageIsTheExactMix()
{
    const QImage photo = colourPhoto(256, 64);
    QRandomGenerator random(11);
    QImage before(photo.size(), QImage::Format_ARGB32);
    for (int y = 0; y < before.height(); ++y)
        for (int x = 0; x < before.width(); ++x)
            before.setPixel(x, y, random.bounded(6) == 0 ? 0u : random.generate());
    CoverageSpans shape;
    std::vector<quint8> values(256);
    for (int y = 0; y < photo.height(); ++y) {
        for (quint8 &v : values)
            v = quint8(1 + random.bounded(254));
        shape.append(RowSpan{y, 0, 255}, values.data());
    }
    const StrokeStyle s = style(StrokeStyle::Model::Natural, 0xFF40A0E0, 77, 50);
    RowSpans whole;
    for (int y = 0; y < photo.height(); ++y)
        whole.append(RowSpan{y, 0, 255});
    QImage full = before;
    StrokeBuffer(full, photo, s, uncoloured).paint(whole);
    QImage layer = before;
    StrokeBuffer(layer, photo, s, uncoloured).paint(shape);
    for (int y = 0; y < photo.height(); ++y)
        for (int x = 0; x < 256; ++x) {
            const QRgb from = before.pixel(x, y);
            const QRgb to = full.pixel(x, y);
            const unsigned c = shape.at(y, x);
            const unsigned wf = unsigned(qAlpha(from)) * (255 - c);
            const unsigned wt = unsigned(qAlpha(to)) * c;
            const unsigned a = wf + wt;
            QRgb want = to;
            if (a > 0) {
                const float inverse = 1.0f / float(a);
                const auto channel = [&](int shift) {
                    const unsigned sum = ((from >> shift) & 0xFFu) * wf + ((to >> shift) & 0xFFu) * wt;
                    return QRgb(float(sum) * inverse + 0.5f) << shift;
                };
                want = (QRgb((a + 127) / 255) << 24) | channel(16) | channel(8) | channel(0);
            }
            QCOMPARE(hex(layer.pixel(x, y)), hex(want));
        }
}

void TestStrokeBuffer::leavingOutWhatCannotGainChangesNothing_data()
{
    QTest::addColumn<int>("softness");
    QTest::addColumn<bool>("erase");
    QTest::addColumn<bool>("colour");
    QTest::addColumn<quint32>("seed");
    QTest::newRow("soft 50 %") << 50 << false << false << 1u;
    QTest::newRow("soft 50 %, colour photo") << 50 << false << true << 2u;
    QTest::newRow("soft 20 %") << 20 << false << false << 3u;
    QTest::newRow("soft 100 %") << 100 << false << true << 4u;
    QTest::newRow("soft 75 %, eraser") << 75 << true << false << 5u;
    QTest::newRow("soft 35 %, another stroke") << 35 << false << true << 6u;
}

// The canvas's sweep leaves out what the disc painted last and the stroke's
// earlier discs cover at least as well, and the buffer writes only what
// gains. Random strokes, going to and fro, partly beyond the photo and
// changing size as a zoom would, lay exactly what every move's discs laid
// whole lay; and each paint reports every pixel it changed.
void TestStrokeBuffer::leavingOutWhatCannotGainChangesNothing()
{
    QFETCH(int, softness);
    QFETCH(bool, erase);
    QFETCH(bool, colour);
    QFETCH(quint32, seed);
    const QImage photo = colour ? colourPhoto(170, 130) : greyPhoto(170, 130);
    const QImage before = earlierColour(photo);
    const StrokeStyle s = style(StrokeStyle::Model::Natural, 0xFF3070D0, 70, softness, erase);
    const QRect limit = photo.rect();
    QRandomGenerator random(seed);

    for (int stroke = 0; stroke < 6; ++stroke) {
        QImage fast = before;
        QImage whole = before;
        StrokeBuffer fastBuffer(fast, photo, s, uncoloured);
        StrokeBuffer wholeBuffer(whole, photo, s, uncoloured);
        int diameter = 10 + int(random.bounded(70));
        QPoint at(int(random.bounded(200)) - 15, int(random.bounded(160)) - 15);
        Disc painted = discAt(at, diameter);
        fastBuffer.paint(BrushGeometry::softSweep({painted}, nullptr, limit, softness));
        wholeBuffer.paint(BrushGeometry::softSweep({painted}, nullptr, limit, softness));
        QList<Disc> history;
        for (int move = 0; move < 25; ++move) {
            // Mostly back over the way, now and then somewhere new.
            const QPoint to = random.bounded(3) == 0
                ? QPoint(int(random.bounded(200)) - 15, int(random.bounded(160)) - 15)
                : at + QPoint(int(random.bounded(41)) - 20, int(random.bounded(41)) - 20);
            if (random.bounded(12) == 0)
                diameter = 10 + int(random.bounded(70));
            QList<Disc> discs;
            for (const QPoint &q : BrushGeometry::lineSteps(at, to)) {
                const Disc d = discAt(q, diameter);
                if (discs.isEmpty() || !(discs.constLast() == d))
                    discs.append(d);
            }
            const QList<Disc> swept = BrushGeometry::thinnedDiscs(discs, softness);
            const QImage was = fast;
            RowSpans changed;
            fastBuffer.paint(BrushGeometry::softSweep(swept, &painted, history, limit, softness), &changed);
            wholeBuffer.paint(BrushGeometry::softSweep(swept, nullptr, limit, softness));
            history.append(swept);
            if (history.size() > 40)
                history.remove(0, history.size() - 40);
            at = to;
            painted = discAt(to, diameter);

            QBitArray reported(fast.width() * fast.height());
            for (const RowSpan &span : changed)
                for (int x = span.left; x <= span.right; ++x)
                    reported.setBit(span.y * fast.width() + x);
            for (int y = 0; y < fast.height(); ++y)
                for (int x = 0; x < fast.width(); ++x)
                    if (fast.pixel(x, y) != was.pixel(x, y) && !reported.testBit(y * fast.width() + x))
                        QFAIL(qPrintable(QStringLiteral("stroke %1, move %2: (%3, %4) changed unreported")
                                             .arg(stroke)
                                             .arg(move)
                                             .arg(x)
                                             .arg(y)));
        }
        QVERIFY2(sameImage(fast, whole, "left-out"), qPrintable(QStringLiteral("stroke %1").arg(stroke)));
    }
}

QTEST_MAIN(TestStrokeBuffer)
#include "tst_strokebuffer.moc"
