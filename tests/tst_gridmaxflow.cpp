#include "evalset.h"

#include "imaging/gridmaxflow.h"

#include <QRandomGenerator>
#include <QtTest>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <deque>
#include <limits>
#include <vector>

namespace {

// A grid's links and pulls as plain numbers, cut by the textbook method
// (shortest augmenting paths, then what the source reaches) for comparison.
struct Grid {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> links; // (y * width + x) * 8 + k
    std::vector<int32_t> pulls;

    std::vector<bool> textbookSourceSide() const
    {
        struct Arc {
            int to;
            int64_t room;
            size_t back;
        };
        const int n = width * height;
        const int source = n;
        const int sink = n + 1;
        std::vector<std::vector<Arc>> arcs(size_t(n) + 2);
        const auto join = [&](int a, int b, int64_t capacity) {
            arcs[size_t(a)].push_back({b, capacity, arcs[size_t(b)].size()});
            arcs[size_t(b)].push_back({a, 0, arcs[size_t(a)].size() - 1});
        };
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                const int i = y * width + x;
                for (int k = 0; k < 8; ++k) {
                    const int nx = x + GridMaxFlow::directions[size_t(k)][0];
                    const int ny = y + GridMaxFlow::directions[size_t(k)][1];
                    if (nx >= 0 && ny >= 0 && nx < width && ny < height)
                        join(i, ny * width + nx, links[size_t(i) * 8 + size_t(k)]);
                }
                if (pulls[size_t(i)] > 0)
                    join(source, i, pulls[size_t(i)]);
                else if (pulls[size_t(i)] < 0)
                    join(i, sink, -int64_t(pulls[size_t(i)]));
            }
        }
        const auto reach = [&](std::vector<std::pair<int, size_t>> &via) {
            std::vector<bool> seen(size_t(n) + 2, false);
            std::deque<int> queue{source};
            seen[size_t(source)] = true;
            while (!queue.empty()) {
                const int a = queue.front();
                queue.pop_front();
                for (size_t e = 0; e < arcs[size_t(a)].size(); ++e) {
                    const Arc &arc = arcs[size_t(a)][e];
                    if (arc.room > 0 && !seen[size_t(arc.to)]) {
                        seen[size_t(arc.to)] = true;
                        via[size_t(arc.to)] = {a, e};
                        queue.push_back(arc.to);
                    }
                }
            }
            return seen;
        };
        std::vector<std::pair<int, size_t>> via(size_t(n) + 2);
        for (;;) {
            const std::vector<bool> seen = reach(via);
            if (!seen[size_t(sink)])
                return {seen.begin(), seen.begin() + n};
            int64_t bottleneck = std::numeric_limits<int64_t>::max();
            for (int v = sink; v != source; v = via[size_t(v)].first)
                bottleneck = std::min(bottleneck, arcs[size_t(via[size_t(v)].first)][via[size_t(v)].second].room);
            for (int v = sink; v != source; v = via[size_t(v)].first) {
                Arc &arc = arcs[size_t(via[size_t(v)].first)][via[size_t(v)].second];
                arc.room -= bottleneck;
                arcs[size_t(v)][arc.back].room += bottleneck;
            }
        }
    }
};

// A link and its reverse drawn together so that they never pass 255.
Grid randomGrid(int width, int height, quint32 seed, int maxLink, int maxPull, int hardPercent)
{
    QRandomGenerator random(seed);
    Grid grid;
    grid.width = width;
    grid.height = height;
    grid.links.assign(size_t(width) * size_t(height) * 8, 0);
    grid.pulls.assign(size_t(width) * size_t(height), 0);
    for (size_t i = 0; i < grid.links.size(); ++i)
        grid.links[i] = uint8_t(random.bounded(maxLink + 1));
    for (int32_t &pull : grid.pulls) {
        pull = random.bounded(2 * maxPull + 1) - maxPull;
        if (int(random.bounded(100)) < hardPercent)
            pull = random.bounded(2) ? (1 << 28) : -(1 << 28);
    }
    return grid;
}

void setPulls(GridMaxFlow &flow, const Grid &grid)
{
    for (int y = 0; y < grid.height; ++y)
        for (int x = 0; x < grid.width; ++x)
            flow.setPull(x, y, grid.pulls[size_t(y) * size_t(grid.width) + size_t(x)]);
}

GridMaxFlow flowOf(const Grid &grid)
{
    GridMaxFlow flow(grid.width, grid.height);
    for (int y = 0; y < grid.height; ++y)
        for (int x = 0; x < grid.width; ++x)
            for (int k = 0; k < 8; ++k)
                flow.setLink(x, y, k, grid.links[(size_t(y) * size_t(grid.width) + size_t(x)) * 8 + size_t(k)]);
    setPulls(flow, grid);
    return flow;
}

// The pixels of a band numbered in a shuffled order, the links to pixels
// outside it dropped from the grid: the band's cut must then be the grid's.
struct BandOf {
    std::vector<int32_t> vertexOf; // by pixel; -1 outside the band
};

BandOf bandOf(Grid &grid, quint32 seed, int percent)
{
    QRandomGenerator random(seed);
    const size_t n = grid.pulls.size();
    BandOf band;
    band.vertexOf.assign(n, -1);
    std::vector<size_t> inside;
    for (size_t i = 0; i < n; ++i) {
        if (int(random.bounded(100)) < percent)
            inside.push_back(i);
    }
    std::shuffle(inside.begin(), inside.end(), random);
    for (size_t v = 0; v < inside.size(); ++v)
        band.vertexOf[inside[v]] = int32_t(v);
    for (int y = 0; y < grid.height; ++y) {
        for (int x = 0; x < grid.width; ++x) {
            const size_t i = size_t(y) * size_t(grid.width) + size_t(x);
            if (band.vertexOf[i] < 0)
                grid.pulls[i] = 0;
            for (int k = 0; k < 8; ++k) {
                const int nx = x + GridMaxFlow::directions[size_t(k)][0];
                const int ny = y + GridMaxFlow::directions[size_t(k)][1];
                const bool linked = nx >= 0 && ny >= 0 && nx < grid.width && ny < grid.height && band.vertexOf[i] >= 0
                    && band.vertexOf[size_t(ny) * size_t(grid.width) + size_t(nx)] >= 0;
                if (!linked)
                    grid.links[i * 8 + size_t(k)] = 0;
            }
        }
    }
    return band;
}

GridMaxFlow bandFlowOf(const Grid &grid, const BandOf &band)
{
    const int32_t vertices =
        int32_t(std::count_if(band.vertexOf.begin(), band.vertexOf.end(), [](int32_t v) { return v >= 0; }));
    GridMaxFlow flow(vertices);
    for (int y = 0; y < grid.height; ++y) {
        for (int x = 0; x < grid.width; ++x) {
            const size_t i = size_t(y) * size_t(grid.width) + size_t(x);
            if (band.vertexOf[i] < 0)
                continue;
            for (int k = 0; k < 8; ++k) {
                const int nx = x + GridMaxFlow::directions[size_t(k)][0];
                const int ny = y + GridMaxFlow::directions[size_t(k)][1];
                if (nx < 0 || ny < 0 || nx >= grid.width || ny >= grid.height)
                    continue;
                const int32_t u = band.vertexOf[size_t(ny) * size_t(grid.width) + size_t(nx)];
                if (u >= 0)
                    flow.linkVertices(band.vertexOf[i], k, u, grid.links[i * 8 + size_t(k)]);
            }
            flow.setVertexPull(band.vertexOf[i], grid.pulls[i]);
        }
    }
    return flow;
}

int bandDifferences(const GridMaxFlow &flow, const Grid &grid, const BandOf &band)
{
    const std::vector<bool> expected = grid.textbookSourceSide();
    int differing = 0;
    for (size_t i = 0; i < expected.size(); ++i) {
        if (band.vertexOf[i] >= 0)
            differing += flow.vertexOnSourceSide(band.vertexOf[i]) != expected[i];
    }
    return differing;
}

int differences(const GridMaxFlow &flow, const Grid &grid)
{
    const std::vector<bool> expected = grid.textbookSourceSide();
    int differing = 0;
    for (int y = 0; y < grid.height; ++y)
        for (int x = 0; x < grid.width; ++x)
            differing += flow.sourceSide(x, y) != expected[size_t(y) * size_t(grid.width) + size_t(x)];
    return differing;
}

} // namespace

class TestGridMaxFlow : public QObject
{
    Q_OBJECT

private slots:
    void matchesTheTextbookCut_data();
    void matchesTheTextbookCut();
    void matchesTheTextbookCutOnPhotos();
    void cancelStopsTheSearch();
    void tooManyPixelsAreRefused();
    void cutsABandAsTheGridAroundIt_data();
    void cutsABandAsTheGridAroundIt();
};

void TestGridMaxFlow::matchesTheTextbookCut_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("maxLink");
    QTest::addColumn<int>("maxPull");
    QTest::addColumn<int>("hardPercent");
    QTest::addColumn<int>("rounds");

    QTest::newRow("one pixel") << 1 << 1 << 60 << 50 << 0 << 6;
    QTest::newRow("one row") << 17 << 1 << 60 << 80 << 0 << 3;
    QTest::newRow("one column") << 1 << 13 << 60 << 80 << 0 << 3;
    QTest::newRow("weak pulls, strong links") << 12 << 9 << 60 << 20 << 0 << 1;
    QTest::newRow("strong pulls, weak links") << 12 << 9 << 10 << 300 << 0 << 1;
    QTest::newRow("marks among weak pulls") << 16 << 11 << 60 << 30 << 5 << 1;
    QTest::newRow("links at the byte's limit") << 10 << 10 << 127 << 400 << 3 << 1;
    QTest::newRow("pulls changed four times") << 15 << 12 << 60 << 100 << 2 << 4;
    QTest::newRow("marks changed eight times") << 9 << 14 << 40 << 60 << 10 << 8;
}

// The same region as the textbook cut, for every new set of pulls, going on
// from the flow the last solve left.
void TestGridMaxFlow::matchesTheTextbookCut()
{
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(int, maxLink);
    QFETCH(int, maxPull);
    QFETCH(int, hardPercent);
    QFETCH(int, rounds);

    for (quint32 seed = 1; seed <= 12; ++seed) {
        Grid grid = randomGrid(width, height, seed, maxLink, maxPull, hardPercent);
        GridMaxFlow flow = flowOf(grid);
        for (int round = 0; round < rounds; ++round) {
            if (round > 0) {
                grid.pulls =
                    randomGrid(width, height, seed * 100 + quint32(round), maxLink, maxPull, hardPercent).pulls;
                setPulls(flow, grid);
            }
            QVERIFY(flow.solve());
            const int differing = differences(flow, grid);
            QVERIFY2(differing == 0,
                     qPrintable(
                         QStringLiteral("seed %1, round %2: %3 pixels differ").arg(seed).arg(round).arg(differing)));
        }
    }
}

// Links and pulls as the fill makes them from a real photo: links weak across
// the photo's edges, pulls from how bright a pixel is, a few marks.
void TestGridMaxFlow::matchesTheTextbookCutOnPhotos()
{
    const EvalSet set = EvalSet::load(EvalSet::testSetPath());
    QVERIFY2(!set.photos().isEmpty(), qPrintable(set.errorString()));
    for (const EvalSet::Photo &photo : set.photos()) {
        const QImage small = photo.grey.scaled(48, 36, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        Grid grid;
        grid.width = small.width();
        grid.height = small.height();
        grid.links.assign(size_t(grid.width) * size_t(grid.height) * 8, 0);
        grid.pulls.assign(size_t(grid.width) * size_t(grid.height), 0);
        const auto grey = [&](int x, int y) { return int(small.constScanLine(y)[x]); };
        int mean = 0;
        for (int y = 0; y < grid.height; ++y)
            for (int x = 0; x < grid.width; ++x)
                mean += grey(x, y);
        mean /= grid.width * grid.height;
        for (int y = 0; y < grid.height; ++y) {
            for (int x = 0; x < grid.width; ++x) {
                const size_t i = size_t(y) * size_t(grid.width) + size_t(x);
                for (int k = 0; k < 8; ++k) {
                    const int nx = std::clamp(x + GridMaxFlow::directions[size_t(k)][0], 0, grid.width - 1);
                    const int ny = std::clamp(y + GridMaxFlow::directions[size_t(k)][1], 0, grid.height - 1);
                    const int d = std::abs(grey(x, y) - grey(nx, ny));
                    grid.links[i * 8 + size_t(k)] = uint8_t(std::max(1, 60 - d) / (k < 4 ? 1 : 2));
                }
                grid.pulls[i] = (grey(x, y) - mean) / 4;
            }
        }
        grid.pulls[size_t(grid.height / 2) * size_t(grid.width) + size_t(grid.width / 2)] = 1 << 28;
        grid.pulls[0] = -(1 << 28);
        GridMaxFlow flow = flowOf(grid);
        QVERIFY(flow.solve());
        const int differing = differences(flow, grid);
        QVERIFY2(differing == 0, qPrintable(QStringLiteral("%1: %2 pixels differ").arg(photo.name).arg(differing)));
    }
}

void TestGridMaxFlow::cutsABandAsTheGridAroundIt_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("percent");
    QTest::addColumn<int>("hardPercent");

    QTest::newRow("every pixel") << 11 << 9 << 100 << 3;
    QTest::newRow("most pixels") << 14 << 10 << 80 << 3;
    QTest::newRow("scattered pixels") << 14 << 10 << 35 << 5;
    QTest::newRow("one vertex") << 1 << 1 << 100 << 0;
    QTest::newRow("no vertex") << 3 << 3 << 0 << 0;
}

// Any set of pixels in any order: a band's region is the one the whole grid
// gives when only the band's pixels are linked and pulled.
void TestGridMaxFlow::cutsABandAsTheGridAroundIt()
{
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(int, percent);
    QFETCH(int, hardPercent);

    for (quint32 seed = 1; seed <= 12; ++seed) {
        Grid grid = randomGrid(width, height, seed, 60, 120, hardPercent);
        const BandOf band = bandOf(grid, seed, percent);
        GridMaxFlow flow = bandFlowOf(grid, band);
        QVERIFY(flow.solve());
        const int differing = bandDifferences(flow, grid, band);
        QVERIFY2(differing == 0, qPrintable(QStringLiteral("seed %1: %2 pixels differ").arg(seed).arg(differing)));
    }
}

void TestGridMaxFlow::cancelStopsTheSearch()
{
    // Large enough that the flag is read before the trees meet.
    const int side = 300;
    const auto make = [&] {
        GridMaxFlow flow(side, side);
        for (int y = 0; y < side; ++y) {
            for (int x = 0; x < side; ++x) {
                for (int k = 0; k < 8; ++k)
                    flow.setLink(x, y, k, 30);
            }
            flow.setPull(0, y, 1 << 28);
            flow.setPull(side - 1, y, -(1 << 28));
        }
        return flow;
    };
    const std::atomic_bool cancel{true};
    GridMaxFlow cancelled = make();
    QVERIFY(!cancelled.solve(&cancel));
    const std::atomic_bool go{false};
    GridMaxFlow finished = make();
    QVERIFY(finished.solve(&go));
    // Even links everywhere: the cheapest cut is a straight line, and the
    // smallest source side ends right after the source's own column.
    QVERIFY(finished.sourceSide(0, side / 2));
    QVERIFY(!finished.sourceSide(1, side / 2));
    QVERIFY(!finished.sourceSide(side - 1, side / 2));
}

// Nodes are numbered with 32-bit integers: a grid or band with more is
// refused as memory that cannot be had, never numbered round.
void TestGridMaxFlow::tooManyPixelsAreRefused()
{
    QVERIFY_THROWS_EXCEPTION(std::bad_alloc, GridMaxFlow(50000, 50000));
    QVERIFY_THROWS_EXCEPTION(std::bad_alloc, GridMaxFlow(std::numeric_limits<int32_t>::max()));
}

QTEST_GUILESS_MAIN(TestGridMaxFlow)
#include "tst_gridmaxflow.moc"
