#include "imaging/brushgeometry.h"
#include "imaging/coveragespans.h"
#include "testsupport.h"

#include <QRandomGenerator>
#include <QtTest>

#include <cmath>
#include <map>
#include <vector>

using BrushGeometry::Disc;
using BrushGeometry::SoftProfile;

namespace {

// A view of the photo at `scale`, its top-left corner at scene point
// `origin`: the brush disc at view point p, as the canvas builds it.
struct View {
    double scale = 1;
    QPointF origin;

    QPointF scene(const QPoint &p) const { return origin + QPointF(p) / scale; }
    Disc discAt(const QPoint &p, int brush) const
    {
        const int half = brush / 2;
        const QPointF c = scene(p);
        Disc disc;
        disc.centre = QPoint(BrushGeometry::truncated(c.x()), BrushGeometry::truncated(c.y()));
        disc.square = BrushGeometry::square(scene(p - QPoint(half, half)), scene(p + QPoint(half, half)));
        return disc;
    }
    // The discs of one move, as the canvas gathers them.
    QList<Disc> move(const QPoint &from, const QPoint &to, int brush) const
    {
        QList<Disc> discs;
        for (const QPoint &q : BrushGeometry::lineSteps(from, to)) {
            const Disc d = discAt(q, brush);
            if (discs.isEmpty() || !(discs.constLast() == d))
                discs.append(d);
        }
        return discs;
    }
};

// The coverage of one disc at one pixel, from the definitions: inside the
// square's scanned part (its last row and column left out) and closer than
// the radius, with the profile's value.
int discCoverage(const Disc &disc, int softness, int x, int y)
{
    if (disc.isEmpty() || x < disc.square.left || x > disc.square.right() - 1 || y < disc.square.top
        || y > disc.square.bottom() - 1)
        return 0;
    const qint64 dx = x - disc.centre.x();
    const qint64 dy = y - disc.centre.y();
    // Profiles are costly to make; the brute force below asks for few sizes.
    static std::map<std::pair<qint64, int>, SoftProfile> profiles;
    const auto key = std::make_pair(disc.squaredRadius(), softness);
    auto it = profiles.find(key);
    if (it == profiles.end())
        it = profiles.emplace(key, SoftProfile(key.first, key.second)).first;
    return it->second.at(dx * dx + dy * dy);
}

// The sweep's coverage laid out as an image-sized array; -1 marks pixels the
// sweep left out. Fails on spans out of order or overlapping.
std::vector<int> layOut(const CoverageSpans &spans, const QRect &area, bool *ordered)
{
    std::vector<int> out(size_t(area.width()) * size_t(area.height()), -1);
    *ordered = true;
    for (qsizetype i = 0; i < spans.size(); ++i) {
        const RowSpan &s = spans.spans()[i];
        if (i > 0) {
            const RowSpan &p = spans.spans()[i - 1];
            *ordered = *ordered && (p.y < s.y || (p.y == s.y && p.right < s.left));
        }
        *ordered = *ordered && area.contains(s.left, s.y) && area.contains(s.right, s.y) && s.left <= s.right;
        for (int x = s.left; x <= s.right && area.contains(x, s.y); ++x)
            out[size_t(s.y - area.top()) * size_t(area.width()) + size_t(x - area.left())] = spans.at(i, x);
    }
    return out;
}

} // namespace

class TestSoftSweep : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { TestSupport::nameApplication(); }
    void profileFollowsItsDefinition_data();
    void profileFollowsItsDefinition();
    void softnessZeroIsTheHardSweep_data();
    void softnessZeroIsTheHardSweep();
    void sweepGivesEachPixelItsBestDisc_data();
    void sweepGivesEachPixelItsBestDisc();
    void wholeStrokeGivesEachPixelItsBestDisc_data();
    void wholeStrokeGivesEachPixelItsBestDisc();
    void centrePathIsFullyCovered_data();
    void centrePathIsFullyCovered();
    void thinnedDiscsLoseAtMostOneLevel_data();
    void thinnedDiscsLoseAtMostOneLevel();
};

void TestSoftSweep::profileFollowsItsDefinition_data()
{
    QTest::addColumn<qint64>("r2");
    QTest::addColumn<int>("softness");
    QTest::newRow("brush 40, 50 %") << qint64(400) << 50;
    QTest::newRow("brush 40, 100 %: a ramp from the centre") << qint64(400) << 100;
    QTest::newRow("brush 40, 1 %") << qint64(400) << 1;
    QTest::newRow("brush 3, 50 %") << qint64(2) << 50;
    QTest::newRow("brush 1111, 50 %") << qint64(308580) << 50;
    QTest::newRow("brush 3700, 30 %") << qint64(3422500) << 30;
}

// Coverage 255 within (1 - s) of the radius, then a straight fall to 0 at
// the radius, nothing beyond; the searching and row forms agree with it.
void TestSoftSweep::profileFollowsItsDefinition()
{
    QFETCH(qint64, r2);
    QFETCH(int, softness);
    const SoftProfile profile(r2, softness);
    const double radius = std::sqrt(double(r2));
    const double inner = radius * (1 - softness / 100.0);
    const qint64 stride = std::max<qint64>(1, r2 / 20000);
    for (qint64 d2 = 0; d2 <= r2 + 3; d2 += (d2 < 50 || d2 > r2 - 50) ? 1 : stride) {
        const double d = std::sqrt(double(d2));
        const double exact = d2 >= r2 ? 0 : d <= inner ? 255 : 255 * (radius - d) / (radius - inner);
        const int got = profile.at(d2);
        const bool tie = std::abs(exact - std::floor(exact) - 0.5) < 1e-6;
        QVERIFY2(got == int(std::floor(exact + 0.5)) || (tie && std::abs(got - exact) <= 0.5 + 1e-6),
                 qPrintable(QStringLiteral("d2 %1: %2, expected %3").arg(d2).arg(got).arg(exact)));
        QCOMPARE(profile.level(d2), got);
    }
    QCOMPARE(int(profile.at(0)), 255);

    // Pieces of rows anywhere, as the sweep hands them: short or long, in the
    // core, across it or beside it.
    QRandomGenerator random(quint32(r2 + softness));
    const qint64 span = qint64(radius) + 3;
    for (int piece = 0; piece < 300; ++piece) {
        const qint64 dy = qint64(random.bounded(int(span)));
        const qint64 dx = qint64(random.bounded(int(2 * span + 1))) - span;
        const qint64 count = 1 + qint64(random.bounded(int(piece % 2 ? 8 : 2 * span + 2)));
        std::vector<quint8> got(size_t(count), 0);
        profile.row(dx, dy * dy, count, got.data(), false);
        for (qint64 i = 0; i < count; ++i)
            QCOMPARE(int(got[size_t(i)]), int(profile.at((dx + i) * (dx + i) + dy * dy)));
    }

    // Whole rows: across the disc and past its rim, each pixel as at() gives it.
    const qint64 reach = qint64(radius) + 2;
    for (const qint64 h : {qint64(0), r2 / 3, r2 - 1}) {
        std::vector<quint8> row(size_t(2 * reach + 1), 7);
        profile.row(-reach, h, qint64(row.size()), row.data(), false);
        for (qint64 i = 0; i < qint64(row.size()); ++i) {
            const qint64 dx = i - reach;
            QCOMPARE(int(row[size_t(i)]), int(profile.at(dx * dx + h)));
        }
        // Keeping the higher value leaves what is already above.
        std::fill(row.begin(), row.end(), quint8(100));
        profile.row(-reach, h, qint64(row.size()), row.data(), true);
        for (qint64 i = 0; i < qint64(row.size()); ++i) {
            const qint64 dx = i - reach;
            QCOMPARE(int(row[size_t(i)]), std::max(100, int(profile.at(dx * dx + h))));
        }
    }
}

void TestSoftSweep::softnessZeroIsTheHardSweep_data()
{
    QTest::addColumn<double>("scale");
    QTest::addColumn<int>("brush");
    QTest::addColumn<QPoint>("from");
    QTest::addColumn<QPoint>("to");
    QTest::newRow("brush 40, scale 1") << 1.0 << 40 << QPoint(60, 70) << QPoint(180, 95);
    QTest::newRow("brush 25 zoomed out, steep") << 0.37 << 25 << QPoint(30, 10) << QPoint(45, 70);
    QTest::newRow("brush 10 zoomed in") << 2.5 << 10 << QPoint(100, 100) << QPoint(60, 130);
}

void TestSoftSweep::softnessZeroIsTheHardSweep()
{
    QFETCH(double, scale);
    QFETCH(int, brush);
    QFETCH(QPoint, from);
    QFETCH(QPoint, to);
    const View view{scale, QPointF(3.3, -7.6)};
    const QRect limit(0, 0, 300, 200);
    const QList<Disc> discs = view.move(from, to, brush);
    const Disc painted = view.discAt(from, brush);
    const CoverageSpans soft = BrushGeometry::softSweep(discs, &painted, limit, 0);
    QVERIFY(soft.isHard());
    QCOMPARE(soft.spans(), BrushGeometry::sweep(discs, &painted, limit));
}

void TestSoftSweep::sweepGivesEachPixelItsBestDisc_data()
{
    QTest::addColumn<double>("scale");
    QTest::addColumn<int>("brush");
    QTest::addColumn<QPoint>("from");
    QTest::addColumn<QPoint>("to");
    QTest::addColumn<int>("softness");
    QTest::addColumn<bool>("withPainted");
    QTest::addColumn<double>("otherScale"); // of the painted disc, and of every other disc when mixed
    QTest::addColumn<bool>("mixed");
    QTest::addColumn<QSize>("area");

    const QPoint a(100, 90);
    QTest::newRow("press: one disc, 50 %") << 1.0 << 40 << a << a << 50 << false << 0.0 << false << QSize(240, 190);
    QTest::newRow("brush 40 flat, 50 %") << 1.0 << 40 << QPoint(40, 90) << QPoint(211, 97) << 50 << true << 0.0 << false
                                         << QSize(240, 190);
    QTest::newRow("brush 40 steep, 100 %")
        << 1.0 << 40 << QPoint(120, 20) << QPoint(101, 171) << 100 << true << 0.0 << false << QSize(240, 190);
    QTest::newRow("brush 40 diagonal back, 1 %")
        << 1.0 << 40 << QPoint(200, 150) << QPoint(80, 40) << 1 << true << 0.0 << false << QSize(240, 190);
    QTest::newRow("brush 60 zoomed out, 50 %")
        << 0.5 << 60 << QPoint(20, 30) << QPoint(110, 80) << 50 << true << 0.0 << false << QSize(240, 190);
    QTest::newRow("brush 300 zoomed far out, 90 %")
        << 0.27 << 300 << QPoint(10, 10) << QPoint(50, 25) << 90 << true << 0.0 << false << QSize(240, 190);
    QTest::newRow("brush 15 zoomed in, 70 %")
        << 3.0 << 15 << QPoint(30, 30) << QPoint(80, 41) << 70 << true << 0.0 << false << QSize(240, 190);
    QTest::newRow("a short move inside the last disc")
        << 1.0 << 50 << a << QPoint(103, 102) << 50 << true << 0.0 << false << QSize(240, 190);
    QTest::newRow("over the border") << 1.0 << 70 << QPoint(-10, 20) << QPoint(60, -15) << 50 << true << 0.0 << false
                                     << QSize(240, 190);
    QTest::newRow("painted at another zoom")
        << 1.0 << 40 << a << QPoint(150, 120) << 50 << true << 0.8 << false << QSize(240, 190);
    // Enough rows to be shared among threads, joined in order.
    QTest::newRow("brush 400, rows in bands, 50 %")
        << 1.0 << 400 << QPoint(160, 250) << QPoint(214, 270) << 50 << true << 0.0 << false << QSize(420, 560);
    QTest::newRow("brush 400, rows in bands, 100 %, no painted disc")
        << 1.0 << 400 << QPoint(160, 250) << QPoint(190, 330) << 100 << false << 0.0 << false << QSize(420, 560);
    QTest::newRow("discs of two sizes") << 1.0 << 40 << QPoint(60, 90) << QPoint(160, 60) << 60 << true << 0.7 << true
                                        << QSize(240, 190);
}

// Each pixel holds the highest coverage any disc of the move gives it, and
// every pixel left out is one the last painted disc already covers as well.
void TestSoftSweep::sweepGivesEachPixelItsBestDisc()
{
    QFETCH(double, scale);
    QFETCH(int, brush);
    QFETCH(QPoint, from);
    QFETCH(QPoint, to);
    QFETCH(int, softness);
    QFETCH(bool, withPainted);
    QFETCH(double, otherScale);
    QFETCH(bool, mixed);
    QFETCH(QSize, area);
    const View view{scale, QPointF(0.4, 0.7)};
    // The other zoom keeps the press point where it was.
    const QPointF pressed = QPointF(0.4, 0.7) + QPointF(from) / scale;
    const View other{otherScale, pressed - QPointF(from) / std::max(otherScale, 0.01)};
    const QRect limit(QPoint(0, 0), area);
    QList<Disc> discs = view.move(from, to, brush);
    if (mixed) {
        for (qsizetype i = 1; i < discs.size(); i += 2)
            discs[i] = other.discAt(BrushGeometry::lineSteps(from, to).value(i, to), brush);
    }
    const Disc painted = otherScale > 0 ? other.discAt(from, brush) : view.discAt(from, brush);
    const CoverageSpans spans = BrushGeometry::softSweep(discs, withPainted ? &painted : nullptr, limit, softness);
    QVERIFY(!spans.isEmpty());
    bool ordered = false;
    const std::vector<int> got = layOut(spans, limit, &ordered);
    QVERIFY2(ordered, "spans out of order, overlapping or outside the limit");

    int partial = 0;
    for (int y = limit.top(); y <= limit.bottom(); ++y) {
        for (int x = limit.left(); x <= limit.right(); ++x) {
            int best = 0;
            for (const Disc &d : discs)
                best = std::max(best, discCoverage(d, softness, x, y));
            const int before = withPainted ? discCoverage(painted, softness, x, y) : 0;
            const int value = got[size_t(y) * size_t(limit.width()) + size_t(x)];
            partial += value > 0 && value < 255;
            if (value >= 0 ? value != best || best <= 0 : best > before)
                QFAIL(qPrintable(QStringLiteral("(%1, %2): %3, the discs give %4, the painted one %5")
                                     .arg(x)
                                     .arg(y)
                                     .arg(value)
                                     .arg(best)
                                     .arg(before)));
        }
    }
    if (softness > 1)
        QVERIFY(partial > 0);
}

void TestSoftSweep::wholeStrokeGivesEachPixelItsBestDisc_data()
{
    QTest::addColumn<double>("scale");
    QTest::addColumn<int>("brush");
    QTest::addColumn<int>("softness");
    QTest::newRow("brush 40 at scale 1, 50 %") << 1.0 << 40 << 50;
    QTest::newRow("brush 80 zoomed out, 100 %") << 0.6 << 80 << 100;
    QTest::newRow("brush 15 zoomed in, 30 %") << 2.0 << 15 << 30;
}

// A zig-zag stroke, move by move: the best coverage each pixel got from the
// moves is the best any disc of the whole stroke gives it, however much the
// moves left out as already covered.
void TestSoftSweep::wholeStrokeGivesEachPixelItsBestDisc()
{
    QFETCH(double, scale);
    QFETCH(int, brush);
    QFETCH(int, softness);
    const View view{scale, QPointF(-5.5, 2.25)};
    const QRect limit(0, 0, 200, 160);
    QRandomGenerator random(4);
    QList<Disc> all;
    std::vector<int> kept(size_t(limit.width()) * size_t(limit.height()), 0);
    QPoint at(100, 80);
    Disc painted = view.discAt(at, brush);
    const auto keep = [&](const CoverageSpans &spans) {
        for (qsizetype i = 0; i < spans.size(); ++i) {
            const RowSpan &s = spans.spans()[i];
            for (int x = s.left; x <= s.right; ++x) {
                int &k = kept[size_t(s.y) * size_t(limit.width()) + size_t(x)];
                k = std::max(k, int(spans.at(i, x)));
            }
        }
    };
    all.append(painted);
    keep(BrushGeometry::softSweep({painted}, nullptr, limit, softness));
    for (int move = 0; move < 25; ++move) {
        const QPoint to(int(random.bounded(200)), int(random.bounded(160)));
        const QList<Disc> discs = view.move(at, to, brush);
        keep(BrushGeometry::softSweep(discs, &painted, limit, softness));
        all.append(discs);
        at = to;
        painted = view.discAt(at, brush);
    }
    for (int y = 0; y < limit.height(); ++y) {
        for (int x = 0; x < limit.width(); ++x) {
            int best = 0;
            for (const Disc &d : std::as_const(all))
                best = std::max(best, discCoverage(d, softness, x, y));
            const int got = kept[size_t(y) * size_t(limit.width()) + size_t(x)];
            if (got != best)
                QFAIL(qPrintable(QStringLiteral("(%1, %2): %3, expected %4").arg(x).arg(y).arg(got).arg(best)));
        }
    }
}

void TestSoftSweep::centrePathIsFullyCovered_data()
{
    QTest::addColumn<double>("scale");
    QTest::addColumn<int>("brush");
    QTest::addColumn<int>("softness");
    QTest::addColumn<QPoint>("to");
    QTest::newRow("brush 2 at 100 %: no disc, the path alone") << 1.0 << 2 << 50 << QPoint(40, 17);
    QTest::newRow("brush 6 at 25 %: the path between far centres crosses soft rims")
        << 0.25 << 6 << 100 << QPoint(21, 14);
    QTest::newRow("brush 40: the path inside the core") << 1.0 << 40 << 50 << QPoint(60, 30);
    QTest::newRow("a path leaving the limit") << 0.5 << 4 << 80 << QPoint(90, 60);
}

// The centres' path comes out fully covered, every other pixel as the soft
// sweep gave it, the spans still in order and apart.
void TestSoftSweep::centrePathIsFullyCovered()
{
    QFETCH(double, scale);
    QFETCH(int, brush);
    QFETCH(int, softness);
    QFETCH(QPoint, to);
    const View view{scale, QPointF(0.3, 0.6)};
    const QRect limit(0, 0, 70, 50);
    const QPoint from(5, 4);
    const Disc painted = view.discAt(from, brush);
    const QList<Disc> discs = view.move(from, to, brush);
    const CoverageSpans soft = BrushGeometry::softSweep(discs, &painted, limit, softness);
    const CoverageSpans merged = BrushGeometry::withCentrePath(soft, discs, &painted, limit, softness);

    // The path: the line through the centres from the painted one on, that
    // one left out.
    QSet<QPoint> path;
    QPoint previous = painted.centre;
    for (const Disc &d : discs) {
        for (const QPoint &q : BrushGeometry::lineSteps(previous, d.centre))
            if (limit.contains(q))
                path.insert(q);
        previous = d.centre;
    }
    path.remove(painted.centre);

    bool ordered = false;
    const std::vector<int> before = layOut(soft, limit, &ordered);
    const std::vector<int> after = layOut(merged, limit, &ordered);
    QVERIFY2(ordered, "spans out of order, overlapping or outside the limit");
    int added = 0;
    int raised = 0; // within the soft rims
    for (int y = limit.top(); y <= limit.bottom(); ++y) {
        for (int x = limit.left(); x <= limit.right(); ++x) {
            const size_t i = size_t(y) * size_t(limit.width()) + size_t(x);
            const int want = path.contains(QPoint(x, y)) ? 255 : before[i];
            // What the painted disc covers fully is painted already.
            const bool paintedFully = discCoverage(painted, softness, x, y) == 255;
            if (after[i] != want && !(paintedFully && after[i] == before[i]))
                QFAIL(qPrintable(QStringLiteral("(%1, %2): %3, expected %4").arg(x).arg(y).arg(after[i]).arg(want)));
            added += after[i] != before[i];
            raised += after[i] != before[i] && before[i] > 0;
        }
    }
    QVERIFY(!path.isEmpty());
    if (scale < 0.5)
        QVERIFY2(raised > 0, "no path pixel inside a soft rim");
    // A brush that covers its own path leaves the shape as it was.
    if (brush < 40)
        QVERIFY(added > 0);
    else
        QCOMPARE(added, 0);
}

void TestSoftSweep::thinnedDiscsLoseAtMostOneLevel_data()
{
    QTest::addColumn<double>("scale");
    QTest::addColumn<int>("brush");
    QTest::addColumn<QPoint>("to");
    QTest::addColumn<int>("softness");
    QTest::addColumn<int>("mostKept");

    // Moves of 200 view pixels from the view's origin, as fast hands make them.
    QTest::newRow("brush 300 at the fitting zoom, 50 %") << 0.269 << 300 << QPoint(200, 30) << 50 << 70;
    QTest::newRow("brush 300 at the fitting zoom, 90 %, steep") << 0.269 << 300 << QPoint(-60, 200) << 90 << 130;
    QTest::newRow("brush 300 at the fitting zoom, 100 %") << 0.269 << 300 << QPoint(141, 141) << 100 << 200;
    QTest::newRow("brush 600 at the fitting zoom, 10 %") << 0.269 << 600 << QPoint(200, -90) << 10 << 95;
    QTest::newRow("brush 600 at the fitting zoom, 60 %, flat") << 0.269 << 600 << QPoint(200, 0) << 60 << 30;
    QTest::newRow("brush 120 at half size, 30 %") << 0.5 << 120 << QPoint(-200, -20) << 30 << 201;
    QTest::newRow("brush 40 at scale 1: nothing to leave out") << 1.0 << 40 << QPoint(200, 70) << 50 << 201;
}

// Fewer discs, the coverage of every pixel as many give it but for one level
// at most, and never more.
void TestSoftSweep::thinnedDiscsLoseAtMostOneLevel()
{
    QFETCH(double, scale);
    QFETCH(int, brush);
    QFETCH(QPoint, to);
    QFETCH(int, softness);
    QFETCH(int, mostKept);
    const View view{scale, QPointF(0.3, 0.6)};
    const QList<Disc> discs = view.move(QPoint(0, 0), to, brush);
    const QList<Disc> thinned = BrushGeometry::thinnedDiscs(discs, softness);
    QVERIFY2(thinned.size() <= mostKept,
             qPrintable(QStringLiteral("%1 of %2 kept").arg(thinned.size()).arg(discs.size())));
    QCOMPARE(thinned.first(), discs.first());
    QCOMPARE(thinned.last(), discs.last());

    QRect limit;
    for (const Disc &d : discs)
        limit |= QRect(d.square.left, d.square.top, d.square.width, d.square.height);
    bool ordered = false;
    const std::vector<int> all = layOut(BrushGeometry::softSweep(discs, nullptr, limit, softness), limit, &ordered);
    QVERIFY(ordered);
    const std::vector<int> few = layOut(BrushGeometry::softSweep(thinned, nullptr, limit, softness), limit, &ordered);
    QVERIFY(ordered);
    int lower = 0;
    int worst = 0;
    for (size_t i = 0; i < all.size(); ++i) {
        const int a = std::max(all[i], 0);
        const int f = std::max(few[i], 0);
        worst = std::max(worst, a - f);
        if (f > a || a - f > 1)
            QFAIL(qPrintable(QStringLiteral("(%1, %2): %3 from all discs, %4 from the kept ones")
                                 .arg(limit.left() + int(i % size_t(limit.width())))
                                 .arg(limit.top() + int(i / size_t(limit.width())))
                                 .arg(a)
                                 .arg(f)));
        lower += f < a;
    }
    qInfo("%lld of %lld discs kept; %d of %zu pixels lower, at most %d", qlonglong(thinned.size()),
          qlonglong(discs.size()), lower, all.size(), worst);
}

QTEST_MAIN(TestSoftSweep)
#include "tst_softsweep.moc"
