#include "evalset.h"

#include "imaging/geodesicdistance.h"

#include <QtTest>

#include <atomic>
#include <cmath>
#include <functional>
#include <limits>
#include <queue>
#include <utility>
#include <vector>

namespace {

// A grey plane drawn from rows of characters: '.' is 0, '#' is 200, '+' is 20.
struct Drawn {
    std::vector<uint8_t> pixels;
    TextureFeatures::Plane plane;
};

Drawn drawn(const QStringList &rows)
{
    Drawn d;
    const int w = int(rows.first().size());
    const int h = int(rows.size());
    d.pixels.resize(size_t(w) * size_t(h));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const QChar c = rows[y][x];
            d.pixels[size_t(y) * size_t(w) + size_t(x)] = c == u'#' ? 200 : c == u'+' ? 20 : 0;
        }
    d.plane = {d.pixels.data(), w, h, std::ptrdiff_t(w)};
    return d;
}

// Dijkstra's search as in a textbook, for comparison: a heap of (distance,
// pixel), a pixel's distance lowered through each settled neighbour.
std::vector<float> plainDijkstra(const TextureFeatures::Plane &plane, const std::vector<uint32_t> &seeds, float step)
{
    const int w = plane.width;
    std::vector<float> distance(size_t(w) * size_t(plane.height), std::numeric_limits<float>::infinity());
    using Entry = std::pair<float, uint32_t>;
    std::priority_queue<Entry, std::vector<Entry>, std::greater<Entry>> heap;
    for (const uint32_t s : seeds) {
        distance[s] = 0;
        heap.emplace(0.0f, s);
    }
    const float diagonal = float(std::sqrt(2.0)) * step;
    while (!heap.empty()) {
        const auto [d, i] = heap.top();
        heap.pop();
        if (d > distance[i])
            continue;
        const int x = int(i) % w;
        const int y = int(i) / w;
        for (int dy = -1; dy <= 1; ++dy)
            for (int dx = -1; dx <= 1; ++dx) {
                const int nx = x + dx;
                const int ny = y + dy;
                if ((dx == 0 && dy == 0) || nx < 0 || ny < 0 || nx >= w || ny >= plane.height)
                    continue;
                const float next =
                    d + float(std::abs(plane.at(x, y) - plane.at(nx, ny))) + (dx != 0 && dy != 0 ? diagonal : step);
                const uint32_t j = uint32_t(ny * w + nx);
                if (next < distance[j]) {
                    distance[j] = next;
                    heap.emplace(next, j);
                }
            }
    }
    return distance;
}

} // namespace

class TestGeodesicDistance : public QObject
{
    Q_OBJECT

private slots:
    void distance_data();
    void distance();
    void sameAsPlainDijkstraOnPhotos_data();
    void sameAsPlainDijkstraOnPhotos();
    void noSeedIsInfinitelyFar();
    void cancelledGivesNothing();
};

void TestGeodesicDistance::distance_data()
{
    QTest::addColumn<QStringList>("rows");
    QTest::addColumn<QPoint>("seed");
    QTest::addColumn<float>("stepCost");
    QTest::addColumn<QPoint>("pixel");
    QTest::addColumn<double>("expected");

    const QStringList flat{QStringLiteral("......"), QStringLiteral("......"), QStringLiteral("......")};
    QTest::newRow("flat: straight steps") << flat << QPoint(0, 0) << 1.0f << QPoint(5, 0) << 5.0;
    QTest::newRow("flat: diagonal steps") << flat << QPoint(0, 0) << 1.0f << QPoint(2, 2) << 2 * std::sqrt(2.0);
    QTest::newRow("flat: the step cost scales") << flat << QPoint(0, 0) << 3.0f << QPoint(4, 0) << 12.0;
    QTest::newRow("the seed itself") << flat << QPoint(3, 1) << 1.0f << QPoint(3, 1) << 0.0;
    // An edge is paid for once, however the path crosses it.
    const QStringList halves{QStringLiteral("...###"), QStringLiteral("...###"), QStringLiteral("...###")};
    QTest::newRow("one edge crossed") << halves << QPoint(0, 1) << 1.0f << QPoint(5, 1) << 205.0;
    QTest::newRow("no step cost: flat is free") << halves << QPoint(0, 0) << 0.0f << QPoint(2, 2) << 0.0;
    // A bright wall with a gap: the path goes round through the gap rather
    // than over the wall, though it is longer in pixels.
    const QStringList wall{QStringLiteral(".#."), QStringLiteral(".#."), QStringLiteral(".#."), QStringLiteral("...")};
    QTest::newRow("round a wall through its gap")
        << wall << QPoint(0, 0) << 1.0f << QPoint(2, 0) << 4.0 + 2 * std::sqrt(2.0);
    // Small steps add up along a ramp the same as one big step.
    const QStringList ramp{QStringLiteral(".+#")};
    QTest::newRow("a ramp pays its whole rise") << ramp << QPoint(0, 0) << 1.0f << QPoint(2, 0) << 202.0;
}

void TestGeodesicDistance::distance()
{
    QFETCH(QStringList, rows);
    QFETCH(QPoint, seed);
    QFETCH(float, stepCost);
    QFETCH(QPoint, pixel);
    QFETCH(double, expected);

    const Drawn d = drawn(rows);
    const std::vector<float> result =
        GeodesicDistance::from(d.plane, {uint32_t(seed.y() * d.plane.width + seed.x())}, stepCost);
    QCOMPARE(result.size(), d.pixels.size());
    QVERIFY2(std::abs(result[size_t(pixel.y() * d.plane.width + pixel.x())] - expected) < 1e-4,
             qPrintable(QString::number(result[size_t(pixel.y() * d.plane.width + pixel.x())])));
}

void TestGeodesicDistance::sameAsPlainDijkstraOnPhotos_data()
{
    QTest::addColumn<float>("stepCost");
    // Whole step costs and others, below 1 and above; every distance must be
    // the very float the textbook search gives.
    QTest::newRow("step 1") << 1.0f;
    QTest::newRow("step 1.7") << 1.7f;
    QTest::newRow("step 6") << 6.0f;
    QTest::newRow("step 0.5") << 0.5f;
    QTest::newRow("step 0") << 0.0f;
}

void TestGeodesicDistance::sameAsPlainDijkstraOnPhotos()
{
    QFETCH(float, stepCost);
    const EvalSet set = EvalSet::load(EvalSet::testSetPath());
    QVERIFY2(set.isValid(), qPrintable(set.errorString()));
    for (const EvalSet::Photo &photo : set.photos()) {
        const QImage &grey = photo.grey;
        const TextureFeatures::Plane plane{grey.constBits(), grey.width(), grey.height(),
                                           std::ptrdiff_t(grey.bytesPerLine())};
        // A few scattered seeds, and a line of them, as a stroke gives.
        std::vector<uint32_t> seeds{uint32_t(grey.width() / 3), uint32_t(grey.width() * grey.height() - 1)};
        for (int x = grey.width() / 4; x < grey.width() / 2; ++x)
            seeds.push_back(uint32_t((grey.height() / 2) * grey.width() + x));
        const std::vector<float> expected = plainDijkstra(plane, seeds, stepCost);
        const std::vector<float> result = GeodesicDistance::from(plane, seeds, stepCost);
        QCOMPARE(result.size(), expected.size());
        int differing = 0;
        for (size_t i = 0; i < result.size(); ++i)
            differing += result[i] != expected[i];
        QVERIFY2(differing == 0, qPrintable(QStringLiteral("%1: %2 pixels differ").arg(photo.name).arg(differing)));
    }
}

void TestGeodesicDistance::noSeedIsInfinitelyFar()
{
    const Drawn d = drawn({QStringLiteral("..."), QStringLiteral("...")});
    // A seed index outside the plane counts as no seed.
    for (const std::vector<uint32_t> &seeds : {std::vector<uint32_t>{}, std::vector<uint32_t>{6, 1000}}) {
        const std::vector<float> result = GeodesicDistance::from(d.plane, seeds, 1.0f);
        QCOMPARE(result.size(), size_t(6));
        for (const float v : result)
            QVERIFY(std::isinf(v));
    }
}

void TestGeodesicDistance::cancelledGivesNothing()
{
    // Large enough that the flag is read before the last pixel settles.
    std::vector<uint8_t> pixels(size_t(400) * 400, 0);
    const TextureFeatures::Plane plane{pixels.data(), 400, 400, 400};
    const std::atomic_bool cancel{true};
    QVERIFY(GeodesicDistance::from(plane, {0}, 1.0f, &cancel).empty());
    const std::atomic_bool go{false};
    QCOMPARE(GeodesicDistance::from(plane, {0}, 1.0f, &go).size(), pixels.size());
}

QTEST_GUILESS_MAIN(TestGeodesicDistance)
#include "tst_geodesicdistance.moc"
