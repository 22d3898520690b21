#include "imaging/regionfill.h"

#include <QtTest>

#include <sys/mman.h>

#include <atomic>
#include <cmath>
#include <limits>

#if defined(__SANITIZE_ADDRESS__)
// An allocation too large to ever succeed must fail as it would without the
// sanitizer, so that its handling is what gets tested.
extern "C" const char *__asan_default_options()
{
    return "allocator_may_return_null=1";
}
#endif

namespace {

// Deterministic grain and smooth value noise, so that every photo below is
// the same on every run.
double grain(int x, int y, int seed)
{
    quint32 h = quint32(x) * 374761393u + quint32(y) * 668265263u + quint32(seed) * 2246822519u;
    h = (h ^ (h >> 13)) * 1274126177u;
    return double((h ^ (h >> 16)) & 0xFFFF) / 65535.0;
}

double valueNoise(double x, double y, int seed)
{
    const int x0 = int(std::floor(x));
    const int y0 = int(std::floor(y));
    const auto smooth = [](double t) { return t * t * (3 - 2 * t); };
    const double fx = smooth(x - x0);
    const double fy = smooth(y - y0);
    const double top = grain(x0, y0, seed) * (1 - fx) + grain(x0 + 1, y0, seed) * fx;
    const double bottom = grain(x0, y0 + 1, seed) * (1 - fx) + grain(x0 + 1, y0 + 1, seed) * fx;
    return top * (1 - fy) + bottom * fy;
}

// Four octaves, about 0 to 1, with features of `scale` pixels.
double fractal(double x, double y, double scale, int seed)
{
    double sum = 0;
    double amplitude = 0.5;
    for (int octave = 0; octave < 4; ++octave) {
        sum += amplitude * valueNoise(x / scale, y / scale, seed + octave);
        scale /= 2;
        amplitude /= 2;
    }
    return sum / 0.9375;
}

// A test photo and the region that a user scribbling the two marks means.
struct Scene {
    QImage photo;
    QImage truth; // Format_Grayscale8, 255 inside the region
    QList<QPoint> keep;
    QList<QPoint> remove;
};

bool inside(const QImage &mask, int x, int y)
{
    return mask.constScanLine(y)[x] != 0;
}

// A scribble along a straight line, kept to the pixels on the wanted side,
// as a user draws inside or outside an area.
QList<QPoint> scribble(const QImage &truth, QPoint from, QPoint to, bool wantInside)
{
    QList<QPoint> points;
    const int steps = std::max(std::abs(to.x() - from.x()), std::abs(to.y() - from.y()));
    for (int i = 0; i <= steps; ++i) {
        const QPoint p(from.x() + (to.x() - from.x()) * i / std::max(steps, 1),
                       from.y() + (to.y() - from.y()) * i / std::max(steps, 1));
        if (truth.rect().contains(p) && inside(truth, p.x(), p.y()) == wantInside)
            points.append(p);
    }
    return points;
}

// Softens the composed photo by a 3 x 3 mean, as a lens and demosaicing do.
QImage softened(const QImage &sharp)
{
    QImage soft(sharp.size(), QImage::Format_RGB32);
    for (int y = 0; y < sharp.height(); ++y)
        for (int x = 0; x < sharp.width(); ++x) {
            int sum = 0;
            int n = 0;
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx)
                    if (sharp.rect().contains(x + dx, y + dy)) {
                        sum += qGray(sharp.pixel(x + dx, y + dy));
                        ++n;
                    }
            soft.setPixel(x, y, qRgb(sum / n, sum / n, sum / n));
        }
    return soft;
}

// A lumpy textured object (woven stripes over mottling) over a mottled
// ground about 40 darker.
Scene texturedObject(int w, int h)
{
    Scene s;
    QImage sharp(w, h, QImage::Format_RGB32);
    s.truth = QImage(w, h, QImage::Format_Grayscale8);
    const double cx = w * 0.55;
    const double cy = h * 0.5;
    const double radius = std::min(w, h) * 0.33;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const double a = std::atan2(y - cy, x - cx);
            const double r = radius * (1 + 0.15 * std::sin(3 * a) + 0.07 * std::sin(7 * a + 1));
            const bool in = std::hypot(x - cx, y - cy) < r;
            const double ground = 95 + 30 * (fractal(x, y, w / 6.0, 1) - 0.5) + 8 * (grain(x, y, 9) - 0.5);
            const double object = 138 + 20 * (fractal(x, y, w / 10.0, 5) - 0.5) + 8 * std::sin(x * 0.7 + y * 0.3)
                + 8 * (grain(x, y, 11) - 0.5);
            const int v = int(in ? object : ground);
            sharp.setPixel(x, y, qRgb(v, v, v));
            s.truth.scanLine(y)[x] = in ? 255 : 0;
        }
    s.photo = softened(sharp);
    s.keep = scribble(s.truth, QPoint(int(cx - radius / 3), int(cy)),
                      QPoint(int(cx + radius / 3), int(cy + radius / 6)), true);
    s.remove = scribble(s.truth, QPoint(w / 12, h / 4), QPoint(w / 12, h * 3 / 4), false);
    return s;
}

// Shaded, engraved coins on a plain, slightly grainy cloth; the region is the
// one coin scribbled on.
Scene coins(int w, int h)
{
    Scene s;
    QImage sharp(w, h, QImage::Format_RGB32);
    s.truth = QImage(w, h, QImage::Format_Grayscale8);
    const double unit = std::min(w, h) / 10.0;
    struct Coin {
        double x, y, r;
    };
    const Coin list[] = {
        {2.5, 2.5, 1.6}, {6.0, 2.2, 1.3}, {2.8, 6.8, 1.2}, {6.6, 6.4, 2.0}, {w / unit - 1.5, 1.5, 0.9}};
    const Coin &chosen = list[3];
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            double v = 62 + 10 * (fractal(x, y, unit * 3, 21) - 0.5) + 6 * (grain(x, y, 22) - 0.5);
            bool in = false;
            for (const Coin &c : list) {
                const double dx = (x - c.x * unit) / (c.r * unit);
                const double dy = (y - c.y * unit) / (c.r * unit);
                if (dx * dx + dy * dy >= 1)
                    continue;
                // Lit from the upper left, darker toward the rim, with relief.
                v = 175 - 35 * (dx + dy) / 2 - 20 * (dx * dx + dy * dy) + 24 * (fractal(x, y, unit / 3, 23) - 0.5);
                in = &c == &chosen;
            }
            const int g = std::clamp(int(v), 0, 255);
            sharp.setPixel(x, y, qRgb(g, g, g));
            s.truth.scanLine(y)[x] = in ? 255 : 0;
        }
    s.photo = softened(sharp);
    const QPoint centre(int(chosen.x * unit), int(chosen.y * unit));
    const int r = int(chosen.r * unit);
    s.keep = scribble(s.truth, centre - QPoint(r / 2, r / 3), centre + QPoint(r / 2, 0), true);
    s.remove =
        scribble(s.truth, QPoint(int(4.4 * unit), int(3.5 * unit)), QPoint(int(4.4 * unit), int(8.5 * unit)), false);
    return s;
}

// The region a brightness threshold cuts out of a natural-looking field (as
// of a cloud or a patch of lichen), the component under the keep mark, with
// its enclosed holes: no mark outside can reach them. Dark areas that reach
// the photo's border look like the removed one and are left out.
Scene thresholded(int w, int h)
{
    Scene s;
    QImage field(w, h, QImage::Format_Grayscale8);
    QPoint peak;
    QPoint trough;
    int high = -1;
    int low = 256;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int f = int(255 * fractal(x, y, w / 3.0, 31));
            field.scanLine(y)[x] = uchar(f);
            if (f > high)
                high = f, peak = QPoint(x, y);
            if (f < low)
                low = f, trough = QPoint(x, y);
        }
    // The outside: dark areas reachable from the trough or the border.
    const int level = (high + low) / 2;
    QImage outside(w, h, QImage::Format_Grayscale8);
    outside.fill(0);
    QList<QPoint> stack{trough};
    for (int x = 0; x < w; ++x)
        stack << QPoint(x, 0) << QPoint(x, h - 1);
    for (int y = 0; y < h; ++y)
        stack << QPoint(0, y) << QPoint(w - 1, y);
    while (!stack.isEmpty()) {
        const QPoint p = stack.takeLast();
        if (!field.rect().contains(p) || outside.scanLine(p.y())[p.x()] || field.scanLine(p.y())[p.x()] >= level)
            continue;
        outside.scanLine(p.y())[p.x()] = 255;
        stack << p + QPoint(1, 0) << p - QPoint(1, 0) << p + QPoint(0, 1) << p - QPoint(0, 1);
    }
    s.truth = QImage(w, h, QImage::Format_Grayscale8);
    QImage sharp(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const bool in = field.scanLine(y)[x] >= level;
            const double v = (in ? 150 : 105) + 24 * (fractal(x, y, w / 12.0, 41) - 0.5) + 8 * (grain(x, y, 42) - 0.5);
            sharp.setPixel(x, y, qRgb(int(v), int(v), int(v)));
            s.truth.scanLine(y)[x] = 0;
        }
    // The part joined to the peak of what is not outside.
    stack = {peak};
    while (!stack.isEmpty()) {
        const QPoint p = stack.takeLast();
        if (!field.rect().contains(p) || outside.scanLine(p.y())[p.x()] || s.truth.scanLine(p.y())[p.x()])
            continue;
        s.truth.scanLine(p.y())[p.x()] = 255;
        stack << p + QPoint(1, 0) << p - QPoint(1, 0) << p + QPoint(0, 1) << p - QPoint(0, 1);
    }
    s.photo = softened(sharp);
    s.keep = scribble(s.truth, peak - QPoint(w / 20, 0), peak + QPoint(w / 20, 0), true);
    s.remove = scribble(s.truth, trough - QPoint(0, h / 20), trough + QPoint(0, h / 20), false);
    return s;
}

QImage maskOf(const RowSpans &spans, QSize size)
{
    QImage mask(size, QImage::Format_Grayscale8);
    mask.fill(0);
    for (const RowSpan &span : spans)
        std::fill(mask.scanLine(span.y) + span.left, mask.scanLine(span.y) + span.right + 1, uchar(255));
    return mask;
}

// Spans in order, apart, inside the photo, and one 4-connected piece per keep
// mark at most: every span reaches a keep mark.
QString spansProblem(const RowSpans &spans, QSize size, const QList<QPoint> &keep)
{
    for (qsizetype i = 0; i < spans.size(); ++i) {
        const RowSpan &s = spans[i];
        if (s.y < 0 || s.y >= size.height() || s.left < 0 || s.right >= size.width() || s.left > s.right)
            return QStringLiteral("span %1 outside the photo").arg(i);
        if (i > 0 && (spans[i - 1].y > s.y || (spans[i - 1].y == s.y && spans[i - 1].right + 1 >= s.left)))
            return QStringLiteral("span %1 out of order or touching the one before").arg(i);
    }
    QImage mask = maskOf(spans, size);
    QList<QPoint> stack;
    for (const QPoint &p : keep)
        if (QRect(QPoint(), size).contains(p))
            stack.append(p);
    while (!stack.isEmpty()) {
        const QPoint p = stack.takeLast();
        if (!mask.rect().contains(p) || mask.scanLine(p.y())[p.x()] != 255)
            continue;
        mask.scanLine(p.y())[p.x()] = 1;
        stack << p + QPoint(1, 0) << p - QPoint(1, 0) << p + QPoint(0, 1) << p - QPoint(0, 1);
    }
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x)
            if (mask.scanLine(y)[x] == 255)
                return QStringLiteral("pixel (%1, %2) not reachable from a keep mark").arg(x).arg(y);
    return {};
}

// Pixels of the region with a 4-neighbour outside it, inside the photo.
QList<QPoint> boundaryOf(const QImage &mask)
{
    QList<QPoint> boundary;
    for (int y = 0; y < mask.height(); ++y)
        for (int x = 0; x < mask.width(); ++x) {
            if (!inside(mask, x, y))
                continue;
            const bool edge = (x > 0 && !inside(mask, x - 1, y)) || (x + 1 < mask.width() && !inside(mask, x + 1, y))
                || (y > 0 && !inside(mask, x, y - 1)) || (y + 1 < mask.height() && !inside(mask, x, y + 1));
            if (edge)
                boundary.append(QPoint(x, y));
        }
    return boundary;
}

// Share of the found boundary within `reach` pixels (8-connected steps) of
// the true boundary.
double boundaryWithin(const QImage &found, const QImage &truth, int reach)
{
    const QList<QPoint> trueEdge = boundaryOf(truth);
    const QList<QPoint> foundEdge = boundaryOf(found);
    QImage near(truth.size(), QImage::Format_Grayscale8);
    near.fill(0);
    for (const QPoint &p : trueEdge)
        for (int dy = -reach; dy <= reach; ++dy)
            for (int dx = -reach; dx <= reach; ++dx)
                if (near.rect().contains(p.x() + dx, p.y() + dy))
                    near.scanLine(p.y() + dy)[p.x() + dx] = 1;
    int close = 0;
    for (const QPoint &p : foundEdge)
        close += near.scanLine(p.y())[p.x()];
    return foundEdge.isEmpty() ? 0 : double(close) / foundEdge.size();
}

double intersectionOverUnion(const QImage &a, const QImage &b)
{
    qint64 both = 0;
    qint64 either = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            both += inside(a, x, y) && inside(b, x, y);
            either += inside(a, x, y) || inside(b, x, y);
        }
    return either ? double(both) / either : 0;
}

// With BRIVELA_FILL_OVERLAYS naming a folder, the photo with the true
// boundary (green), the found one (red, white where they agree) and the marks,
// for looking at what a figure hides.
void saveOverlay(const QImage &photo, const QImage &truth, const QImage &found, const QList<QPoint> &keep,
                 const QList<QPoint> &remove)
{
    const QString folder = qEnvironmentVariable("BRIVELA_FILL_OVERLAYS");
    if (folder.isEmpty())
        return;
    QImage out = photo.convertToFormat(QImage::Format_RGB32);
    for (const QPoint &p : keep)
        out.setPixel(p, qRgb(0, 220, 255));
    for (const QPoint &p : remove)
        out.setPixel(p, qRgb(255, 220, 0));
    const QList<QPoint> trueEdge = boundaryOf(truth);
    for (const QPoint &p : trueEdge)
        out.setPixel(p, qRgb(0, 255, 0));
    for (const QPoint &p : boundaryOf(found))
        out.setPixel(p, out.pixel(p) == qRgb(0, 255, 0) ? qRgb(255, 255, 255) : qRgb(255, 0, 0));
    QDir().mkpath(folder);
    out.save(
        QDir(folder).filePath(QString::fromLatin1(QTest::currentTestFunction()) + QLatin1Char('_')
                              + QString::fromLatin1(QTest::currentDataTag()).replace(QLatin1Char(' '), QLatin1Char('_'))
                              + QStringLiteral(".png")));
}

QList<QPoint> outsidePoints(QSize size)
{
    return {QPoint(-1, 0),           QPoint(0, -1),
            QPoint(size.width(), 0), QPoint(0, size.height()),
            QPoint(-100000, 5),      QPoint(std::numeric_limits<int>::max(), std::numeric_limits<int>::min())};
}

using SceneMaker = Scene (*)(int, int);

} // namespace

Q_DECLARE_METATYPE(SceneMaker)
Q_DECLARE_METATYPE(QImage::Format)
Q_DECLARE_METATYPE(RegionFill::Outcome)

char *toString(const RegionFill::Outcome &outcome)
{
    return QTest::toString(RegionFill::outcomeText(outcome));
}

class TestRegionFill : public QObject
{
    Q_OBJECT

private slots:
    void regionFollowsTheEdge_data();
    void regionFollowsTheEdge();
    void everyPhotoFormatGivesTheSameRegion_data();
    void everyPhotoFormatGivesTheSameRegion();
    void badInput_data();
    void badInput();
    void marksOutsideThePhotoChangeNothing();
    void cancelLeavesNoRegion_data();
    void cancelLeavesNoRegion();
    void progressRisesToTheEnd();
    void failedAllocationIsReported();
    void softRimOnlyNearTheBoundary_data();
    void softRimOnlyNearTheBoundary();
    void softRimFollowsTheEdge_data();
    void softRimFollowsTheEdge();
    void whatTheFillReports_data();
    void whatTheFillReports();
    void fillRefinesThePreview_data();
    void fillRefinesThePreview();
    void sharpenedPreviewIsTheFinerPreview_data();
    void sharpenedPreviewIsTheFinerPreview();
    void previewAndRefineCancel_data();
    void previewAndRefineCancel();
};

void TestRegionFill::regionFollowsTheEdge_data()
{
    QTest::addColumn<SceneMaker>("make");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<qint64>("cutPixels");
    QTest::addColumn<bool>("keepOnly");

    const qint64 whole = std::numeric_limits<qint64>::max();
    const qint64 reduced = RegionFill::defaultCutPixels;
    QTest::newRow("textured object, cut whole") << SceneMaker(texturedObject) << QSize(400, 300) << whole << false;
    QTest::newRow("textured object, cut in bands")
        << SceneMaker(texturedObject) << QSize(400, 300) << qint64(2000) << false;
    QTest::newRow("textured object, 2 megapixels")
        << SceneMaker(texturedObject) << QSize(1700, 1200) << reduced << false;
    QTest::newRow("textured object, keep mark only")
        << SceneMaker(texturedObject) << QSize(400, 300) << reduced << true;
    QTest::newRow("coins, cut whole") << SceneMaker(coins) << QSize(500, 400) << whole << false;
    QTest::newRow("coins, cut in bands") << SceneMaker(coins) << QSize(500, 400) << qint64(3000) << false;
    QTest::newRow("coins, keep mark only") << SceneMaker(coins) << QSize(500, 400) << qint64(3000) << true;
    QTest::newRow("thresholded field, cut whole") << SceneMaker(thresholded) << QSize(480, 360) << whole << false;
    QTest::newRow("thresholded field, cut in bands")
        << SceneMaker(thresholded) << QSize(480, 360) << qint64(2000) << false;
}

void TestRegionFill::regionFollowsTheEdge()
{
    QFETCH(SceneMaker, make);
    QFETCH(QSize, size);
    QFETCH(qint64, cutPixels);
    QFETCH(bool, keepOnly);

    const Scene scene = make(size.width(), size.height());
    QVERIFY(scene.keep.size() > 10 && scene.remove.size() > 10);
    const RegionFill::Result result =
        RegionFill::compute(scene.photo, scene.keep, keepOnly ? QList<QPoint>() : scene.remove, nullptr, {}, cutPixels);
    QCOMPARE(result.outcome, RegionFill::Outcome::Filled);
    const QString problem = spansProblem(result.spans, size, scene.keep);
    QVERIFY2(problem.isEmpty(), qPrintable(problem));

    const QImage found = maskOf(result.spans, size);
    const double iou = intersectionOverUnion(found, scene.truth);
    const double near = boundaryWithin(found, scene.truth, 2);
    saveOverlay(scene.photo, scene.truth, found, scene.keep, keepOnly ? QList<QPoint>() : scene.remove);
    QVERIFY2(iou >= 0.95, qPrintable(QStringLiteral("intersection over union %1").arg(iou)));
    QVERIFY2(near >= 0.95, qPrintable(QStringLiteral("boundary within 2 pixels: %1").arg(near)));
}

void TestRegionFill::everyPhotoFormatGivesTheSameRegion_data()
{
    QTest::addColumn<QImage::Format>("format");
    QTest::newRow("grayscale 8") << QImage::Format_Grayscale8;
    QTest::newRow("grayscale 16") << QImage::Format_Grayscale16;
    QTest::newRow("ARGB32") << QImage::Format_ARGB32;
    QTest::newRow("RGB888") << QImage::Format_RGB888;
    QTest::newRow("indexed 8") << QImage::Format_Indexed8;
    QTest::newRow("RGBA64, converted whole") << QImage::Format_RGBA64;
}

void TestRegionFill::everyPhotoFormatGivesTheSameRegion()
{
    QFETCH(QImage::Format, format);
    const Scene scene = coins(300, 240);
    const QImage converted = scene.photo.convertToFormat(format);
    QCOMPARE(converted.convertToFormat(QImage::Format_RGB32), scene.photo); // the grey levels survive the format
    const RegionFill::Result reference = RegionFill::compute(scene.photo, scene.keep, scene.remove, nullptr, {}, 4000);
    const RegionFill::Result result = RegionFill::compute(converted, scene.keep, scene.remove, nullptr, {}, 4000);
    QCOMPARE(result.outcome, RegionFill::Outcome::Filled);
    QCOMPARE(result.spans, reference.spans);
}

void TestRegionFill::badInput_data()
{
    QTest::addColumn<QImage>("photo");
    QTest::addColumn<QList<QPoint>>("keep");
    QTest::addColumn<QList<QPoint>>("remove");
    QTest::addColumn<RegionFill::Outcome>("outcome");
    QTest::addColumn<QList<QPoint>>("inRegion");
    QTest::addColumn<QList<QPoint>>("notInRegion");

    QImage uniform(200, 150, QImage::Format_RGB32);
    uniform.fill(qRgb(128, 128, 128));
    QImage single(1, 1, QImage::Format_RGB32);
    single.fill(qRgb(10, 10, 10));
    const Scene object = texturedObject(200, 150);
    const QSize size = object.photo.size();
    QList<QPoint> manyKeep;
    QList<QPoint> manyRemove;
    for (int i = 0; i < 6000; ++i) {
        const QPoint p(int(grain(i, 0, 51) * size.width()), int(grain(i, 0, 52) * size.height()));
        (inside(object.truth, p.x(), p.y()) ? manyKeep : manyRemove).append(p);
    }
    const QPoint k = object.keep.first();
    const QPoint r = object.remove.first();

    using O = RegionFill::Outcome;
    QTest::newRow("no keep mark") << object.photo << QList<QPoint>() << object.remove << O::NoKeepMark
                                  << QList<QPoint>() << QList<QPoint>();
    QTest::newRow("no marks at all") << object.photo << QList<QPoint>() << QList<QPoint>() << O::NoKeepMark
                                     << QList<QPoint>() << QList<QPoint>();
    QTest::newRow("keep marks only outside the photo")
        << object.photo << outsidePoints(size) << object.remove << O::NoKeepMark << QList<QPoint>() << QList<QPoint>();
    QTest::newRow("marks outside the photo ignored")
        << object.photo << object.keep + outsidePoints(size) << object.remove + outsidePoints(size) << O::Filled
        << QList<QPoint>{k} << QList<QPoint>{r};
    QTest::newRow("every keep mark also removed") << object.photo << object.keep << object.remove + object.keep
                                                  << O::NoKeepMark << QList<QPoint>() << QList<QPoint>();
    QTest::newRow("remove wins on a shared pixel")
        << object.photo << object.keep << object.remove + QList<QPoint>{k} << O::Filled
        << QList<QPoint>{object.keep.last()} << QList<QPoint>{k, r};
    QTest::newRow("thousands of marks") << object.photo << manyKeep + object.keep << manyRemove << O::Filled << manyKeep
                                        << manyRemove;
    QTest::newRow("thousands of repeated marks") << object.photo << QList<QPoint>(5000, k) << QList<QPoint>(5000, r)
                                                 << O::Filled << QList<QPoint>{k} << QList<QPoint>{r};
    QTest::newRow("uniform photo, keep only") << uniform << QList<QPoint>{{100, 75}} << QList<QPoint>()
                                              << O::NoEdgeToStopAt << QList<QPoint>() << QList<QPoint>();
    QTest::newRow("uniform photo, both marks") << uniform << QList<QPoint>{{50, 75}} << QList<QPoint>{{150, 75}}
                                               << O::Filled << QList<QPoint>{{50, 75}} << QList<QPoint>{{150, 75}};
    QTest::newRow("textured ground, keep only")
        << object.photo << object.remove << QList<QPoint>() << O::NoEdgeToStopAt << QList<QPoint>() << QList<QPoint>();
    // Reduced, every keep mark shares its pixel with a remove mark: only the
    // full resolution tells them apart.
    QTest::newRow("keep and remove marks side by side")
        << object.photo << QList<QPoint>{{110, 75}} << QList<QPoint>{{111, 75}} << O::Filled << QList<QPoint>{{110, 75}}
        << QList<QPoint>{{111, 75}};
    QTest::newRow("1 x 1 photo, keep only") << single << QList<QPoint>{{0, 0}} << QList<QPoint>() << O::NoEdgeToStopAt
                                            << QList<QPoint>() << QList<QPoint>();
    QTest::newRow("1 x 1 photo, both marks on it") << single << QList<QPoint>{{0, 0}} << QList<QPoint>{{0, 0}}
                                                   << O::NoKeepMark << QList<QPoint>() << QList<QPoint>();
    QTest::newRow("1 x 1 photo, remove mark outside") << single << QList<QPoint>{{0, 0}} << QList<QPoint>{{1, 0}}
                                                      << O::NoEdgeToStopAt << QList<QPoint>() << QList<QPoint>();
    QTest::newRow("null photo") << QImage() << QList<QPoint>{{0, 0}} << QList<QPoint>{{1, 0}} << O::NoKeepMark
                                << QList<QPoint>() << QList<QPoint>();
    QTest::newRow("one row photo") << QImage(uniform.copy(0, 0, 200, 1)) << QList<QPoint>{{10, 0}}
                                   << QList<QPoint>{{190, 0}} << O::Filled << QList<QPoint>{{10, 0}}
                                   << QList<QPoint>{{190, 0}};
}

void TestRegionFill::badInput()
{
    QFETCH(QImage, photo);
    QFETCH(QList<QPoint>, keep);
    QFETCH(QList<QPoint>, remove);
    QFETCH(RegionFill::Outcome, outcome);
    QFETCH(QList<QPoint>, inRegion);
    QFETCH(QList<QPoint>, notInRegion);

    for (const qint64 cutPixels : {RegionFill::defaultCutPixels, qint64(1000)}) {
        const RegionFill::Result result = RegionFill::compute(photo, keep, remove, nullptr, {}, cutPixels);
        QCOMPARE(result.outcome, outcome);
        QVERIFY(!RegionFill::outcomeText(result.outcome).isEmpty());
        if (outcome != RegionFill::Outcome::Filled) {
            QVERIFY(result.spans.isEmpty());
            continue;
        }
        const QString problem = spansProblem(result.spans, photo.size(), keep);
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
        const QImage found = maskOf(result.spans, photo.size());
        for (const QPoint &p : inRegion)
            QVERIFY2(inside(found, p.x(), p.y()),
                     qPrintable(QStringLiteral("(%1, %2) left out").arg(p.x()).arg(p.y())));
        for (const QPoint &p : notInRegion)
            QVERIFY2(!inside(found, p.x(), p.y()), qPrintable(QStringLiteral("(%1, %2) filled").arg(p.x()).arg(p.y())));
    }
}

void TestRegionFill::marksOutsideThePhotoChangeNothing()
{
    const Scene scene = coins(300, 240);
    const QList<QPoint> outside = outsidePoints(scene.photo.size());
    const RegionFill::Result plain = RegionFill::compute(scene.photo, scene.keep, scene.remove);
    const RegionFill::Result marked =
        RegionFill::compute(scene.photo, outside + scene.keep + outside, scene.remove + outside);
    QCOMPARE(marked.outcome, RegionFill::Outcome::Filled);
    QCOMPARE(marked.spans, plain.spans);
}

void TestRegionFill::cancelLeavesNoRegion_data()
{
    QTest::addColumn<int>("cancelAt");
    QTest::addColumn<qint64>("cutPixels");
    QTest::newRow("before starting") << -1 << RegionFill::defaultCutPixels;
    QTest::newRow("after the reduced copy") << 10 << qint64(5000);
    QTest::newRow("after the first cut") << 20 << qint64(5000);
}

void TestRegionFill::cancelLeavesNoRegion()
{
    QFETCH(int, cancelAt);
    QFETCH(qint64, cutPixels);
    const Scene scene = coins(300, 240);
    std::atomic_bool cancel{cancelAt < 0};
    const RegionFill::Result result = RegionFill::compute(
        scene.photo, scene.keep, scene.remove, &cancel,
        [&](int percent) {
            if (percent >= cancelAt)
                cancel = true;
        },
        cutPixels);
    QCOMPARE(result.outcome, RegionFill::Outcome::Cancelled);
    QVERIFY(result.spans.isEmpty());
}

void TestRegionFill::progressRisesToTheEnd()
{
    const Scene scene = coins(300, 240);
    QList<int> reports;
    const RegionFill::Result result = RegionFill::compute(
        scene.photo, scene.keep, scene.remove, nullptr, [&](int percent) { reports.append(percent); }, 1000);
    QCOMPARE(result.outcome, RegionFill::Outcome::Filled);
    QVERIFY(reports.size() >= 4);
    QVERIFY(std::is_sorted(reports.begin(), reports.end()));
    QCOMPARE(reports.last(), 100);
}

void TestRegionFill::failedAllocationIsReported()
{
    // A 1-bit photo of 2^24 x 2^24 pixels over untouched address space: its
    // brightness copy would need 256 TB, more than any address space holds.
    const int side = 1 << 24;
    const size_t bytes = size_t(side / 8) * size_t(side);
    void *zeros = mmap(nullptr, bytes, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (zeros == MAP_FAILED)
        QSKIP("this system will not reserve the address space for the photo");
    {
        const QImage photo(static_cast<const uchar *>(zeros), side, side, side / 8, QImage::Format_Mono);
        QVERIFY(!photo.isNull());
        const RegionFill::Result result = RegionFill::compute(photo, {QPoint(1, 1)}, {QPoint(5, 5)});
        QCOMPARE(result.outcome, RegionFill::Outcome::OutOfMemory);
        QVERIFY(result.spans.isEmpty());
    }
    munmap(zeros, bytes);
}

// Chebyshev distance from every pixel to the nearest pixel of the other side
// of a mask, up to `cap`; the photo's border is no boundary.
QList<int> distanceToBoundary(const QImage &mask, int cap)
{
    const int w = mask.width();
    const int h = mask.height();
    QList<int> distance(qsizetype(w) * h, cap);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int r = 1; r < cap && distance[y * w + x] == cap; ++r)
                for (int dy = -r; dy <= r && distance[y * w + x] == cap; ++dy)
                    for (int dx = -r; dx <= r; ++dx)
                        if (mask.rect().contains(x + dx, y + dy)
                            && inside(mask, x + dx, y + dy) != inside(mask, x, y)) {
                            distance[y * w + x] = r;
                            break;
                        }
    return distance;
}

QImage coverageOf(const CoverageSpans &region, QSize size)
{
    QImage coverage(size, QImage::Format_Grayscale8);
    coverage.fill(0);
    for (qsizetype i = 0; i < region.size(); ++i) {
        const RowSpan &s = region.spans()[i];
        for (int x = s.left; x <= s.right; ++x)
            coverage.scanLine(s.y)[x] = region.at(i, x);
    }
    return coverage;
}

void TestRegionFill::softRimOnlyNearTheBoundary_data()
{
    QTest::addColumn<SceneMaker>("make");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<qint64>("cutPixels");
    QTest::newRow("textured object") << SceneMaker(texturedObject) << QSize(400, 300) << RegionFill::defaultCutPixels;
    QTest::newRow("coins, cut in bands") << SceneMaker(coins) << QSize(500, 400) << qint64(3000);
    QTest::newRow("thresholded field") << SceneMaker(thresholded) << QSize(480, 360) << RegionFill::defaultCutPixels;
}

void TestRegionFill::softRimOnlyNearTheBoundary()
{
    QFETCH(SceneMaker, make);
    QFETCH(QSize, size);
    QFETCH(qint64, cutPixels);
    const Scene scene = make(size.width(), size.height());
    const RegionFill::Result result =
        RegionFill::compute(scene.photo, scene.keep, scene.remove, nullptr, {}, cutPixels);
    QCOMPARE(result.outcome, RegionFill::Outcome::Filled);

    // The region's spans are in order and apart, as a painter needs them.
    const RowSpans &spans = result.region.spans();
    for (qsizetype i = 1; i < spans.size(); ++i)
        QVERIFY(spans[i - 1].y < spans[i].y || (spans[i - 1].y == spans[i].y && spans[i - 1].right < spans[i].left));
    QVERIFY(!result.region.isHard());

    const QImage hard = maskOf(result.spans, size);
    const QImage coverage = coverageOf(result.region, size);
    const int band = 2;
    const QList<int> distance = distanceToBoundary(hard, band + 2);
    int partial = 0;
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x) {
            const int c = coverage.constScanLine(y)[x];
            const bool in = inside(hard, x, y);
            const int d = distance[y * size.width() + x];
            const QString where = QStringLiteral("(%1, %2): coverage %3, %4 pixels from the boundary, %5")
                                      .arg(x)
                                      .arg(y)
                                      .arg(c)
                                      .arg(d)
                                      .arg(in ? QStringLiteral("inside") : QStringLiteral("outside"));
            if (d > band)
                QVERIFY2(c == (in ? 255 : 0), qPrintable(where));
            if (in)
                QVERIFY2(c > 0, qPrintable(where));
            partial += c > 0 && c < 255;
        }
    QVERIFY(partial > 0);
    // No remove mark is ever covered.
    for (const QPoint &p : scene.remove)
        QCOMPARE(int(coverage.pixel(p) & 0xFF), 0);
    // Every covered pixel is joined to the region.
    QImage covered(size, QImage::Format_Grayscale8);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x)
            covered.scanLine(y)[x] = coverage.constScanLine(y)[x] ? 255 : 0;
    RowSpans coveredSpans;
    for (const RowSpan &s : result.region.spans()) {
        if (!coveredSpans.isEmpty() && coveredSpans.last().y == s.y && coveredSpans.last().right + 1 == s.left)
            coveredSpans.last().right = s.right;
        else
            coveredSpans.append(s);
    }
    const QString problem = spansProblem(coveredSpans, size, scene.keep);
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
}

void TestRegionFill::softRimFollowsTheEdge_data()
{
    QTest::addColumn<int>("blur");
    QTest::addColumn<int>("leastPartial");
    QTest::addColumn<int>("mostPartial");
    // A disc of 150 on 60, its edge sharp or blurred over a few pixels.
    QTest::newRow("sharp edge: nearly hard") << 0 << 0 << 0;
    QTest::newRow("edge blurred over 5 pixels: a ramp") << 2 << 2 << 5;
}

void TestRegionFill::softRimFollowsTheEdge()
{
    QFETCH(int, blur);
    QFETCH(int, leastPartial);
    QFETCH(int, mostPartial);
    const QSize size(160, 120);
    QImage sharp(size, QImage::Format_Grayscale8);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x)
            sharp.scanLine(y)[x] = std::hypot(x - 80.0, y - 60.0) < 40 ? 150 : 60;
    QImage photo = sharp;
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x) {
            int sum = 0;
            int n = 0;
            for (int dy = -blur; dy <= blur; ++dy)
                for (int dx = -blur; dx <= blur; ++dx)
                    if (sharp.rect().contains(x + dx, y + dy)) {
                        sum += sharp.constScanLine(y + dy)[x + dx];
                        ++n;
                    }
            photo.scanLine(y)[x] = uchar(sum / n);
        }
    const RegionFill::Result result = RegionFill::compute(photo, {QPoint(80, 60), QPoint(85, 60)}, {QPoint(5, 5)});
    QCOMPARE(result.outcome, RegionFill::Outcome::Filled);
    const QImage coverage = coverageOf(result.region, size);
    // Along the row through the centre, rightward out of the disc: coverage
    // never rises, and the number of pixels between an eighth and seven
    // eighths covered tells a ramp from a step.
    int partial = 0;
    int last = 255;
    for (int x = 80; x < size.width(); ++x) {
        const int c = coverage.constScanLine(60)[x];
        QVERIFY2(c <= last, qPrintable(QStringLiteral("coverage rises at x = %1").arg(x)));
        last = c;
        partial += c >= 32 && c <= 223;
    }
    QVERIFY2(partial >= leastPartial && partial <= mostPartial,
             qPrintable(QStringLiteral("%1 half covered").arg(partial)));
}

void TestRegionFill::whatTheFillReports_data()
{
    QTest::addColumn<QRect>("light"); // a light rectangle on a dark, grainy photo
    QTest::addColumn<QList<QPoint>>("keep");
    QTest::addColumn<QList<QPoint>>("remove");
    QTest::addColumn<int>("edges"); // Qt::Edges
    QTest::addColumn<bool>("small");

    const auto line = [](QPoint from, QPoint to) {
        QList<QPoint> points;
        const int steps = std::max(std::abs(to.x() - from.x()), std::abs(to.y() - from.y()));
        for (int i = 0; i <= steps; ++i)
            points.append(from + (to - from) * i / std::max(steps, 1));
        return points;
    };
    const QList<QPoint> darkMarks = line({20, 280}, {380, 280});
    QTest::newRow("object in the middle")
        << QRect(120, 90, 160, 120) << line({160, 150}, {240, 150}) << darkMarks << 0 << false;
    QTest::newRow("band along the top, marked in the middle")
        << QRect(0, 0, 400, 80) << line({180, 40}, {220, 40}) << darkMarks << int(Qt::LeftEdge | Qt::RightEdge)
        << false;
    QTest::newRow("band along the top, marked across")
        << QRect(0, 0, 400, 80) << line({10, 40}, {390, 40}) << darkMarks << 0 << false;
    QTest::newRow("strip at the left, marked far from it")
        << QRect(0, 100, 200, 60) << line({150, 130}, {190, 130}) << darkMarks << int(Qt::LeftEdge) << false;
    QTest::newRow("small spot") << QRect(190, 140, 14, 12) << line({195, 146}, {199, 146}) << darkMarks << 0 << true;
}

void TestRegionFill::whatTheFillReports()
{
    QFETCH(QRect, light);
    QFETCH(QList<QPoint>, keep);
    QFETCH(QList<QPoint>, remove);
    QFETCH(int, edges);
    QFETCH(bool, small);
    QImage photo(400, 300, QImage::Format_Grayscale8);
    for (int y = 0; y < photo.height(); ++y)
        for (int x = 0; x < photo.width(); ++x)
            photo.scanLine(y)[x] = uchar((light.contains(x, y) ? 170 : 70) + 20 * (grain(x, y, 61) - 0.5));
    const RegionFill::Result result = RegionFill::compute(photo, keep, remove);
    QCOMPARE(result.outcome, RegionFill::Outcome::Filled);
    QCOMPARE(int(result.edgesReached), edges);
    QCOMPARE(result.small, small);
    const QString advice = RegionFill::adviceText(result.edgesReached, result.small);
    QCOMPARE(advice.isEmpty(), !edges && !small);
    const RegionFill::Preview preview = RegionFill::preview(photo, keep, remove, 400 * 300 / 4);
    QCOMPARE(int(preview.edgesReached), edges);
    QCOMPARE(preview.small, small);
}

void TestRegionFill::fillRefinesThePreview_data()
{
    QTest::addColumn<SceneMaker>("make");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<qint64>("previewPixels");
    QTest::addColumn<qint64>("cutPixels");
    QTest::newRow("textured object, preview at a quarter")
        << SceneMaker(texturedObject) << QSize(800, 600) << qint64(400 * 300) << qint64(20000);
    QTest::newRow("coins, preview at a sixteenth")
        << SceneMaker(coins) << QSize(1000, 800) << qint64(250 * 200) << qint64(3000);
    QTest::newRow("thresholded field, preview whole")
        << SceneMaker(thresholded) << QSize(480, 360) << qint64(480 * 360) << qint64(5000);
}

void TestRegionFill::fillRefinesThePreview()
{
    QFETCH(SceneMaker, make);
    QFETCH(QSize, size);
    QFETCH(qint64, previewPixels);
    QFETCH(qint64, cutPixels);
    const Scene scene = make(size.width(), size.height());
    const RegionFill::Preview preview =
        RegionFill::preview(scene.photo, scene.keep, scene.remove, previewPixels, nullptr, {}, cutPixels);
    QCOMPARE(preview.outcome, RegionFill::Outcome::Filled);
    QVERIFY(qint64(preview.size.width()) * preview.size.height() <= previewPixels);
    QCOMPARE(preview.size,
             QSize((size.width() + preview.scale - 1) / preview.scale,
                   (size.height() + preview.scale - 1) / preview.scale));
    const RegionFill::Result refined = RegionFill::refine(scene.photo, preview);
    QCOMPARE(refined.outcome, RegionFill::Outcome::Filled);

    // The same preview refined twice, or computed again, gives the same
    // region: nothing depends on timing or on state left behind.
    QCOMPARE(RegionFill::refine(scene.photo, preview).spans, refined.spans);
    const RegionFill::Preview again =
        RegionFill::preview(scene.photo, scene.keep, scene.remove, previewPixels, nullptr, {}, cutPixels);
    QCOMPARE(again.spans, preview.spans);

    // The fill moves the previewed boundary by at most a few preview pixels:
    // each full-resolution pixel whose side differs from its preview pixel's
    // lies within two preview pixels of the previewed boundary.
    const QImage shown = maskOf(preview.spans, preview.size);
    const QImage full = maskOf(refined.spans, size);
    const QList<int> distance = distanceToBoundary(shown, 3);
    qint64 moved = 0;
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x) {
            const int px = x / preview.scale;
            const int py = y / preview.scale;
            if (inside(full, x, y) == inside(shown, px, py))
                continue;
            ++moved;
            QVERIFY2(distance[py * preview.size.width() + px] <= 2,
                     qPrintable(
                         QStringLiteral("(%1, %2) changed sides far from the previewed boundary").arg(x).arg(y)));
        }
    // And the fill is what compute() gives when it previews at the same size.
    if (previewPixels >= RegionFill::defaultPreviewPixels || preview.scale == 1)
        QCOMPARE(RegionFill::compute(scene.photo, scene.keep, scene.remove, nullptr, {}, cutPixels).spans,
                 refined.spans);
    // A preview of another photo's size is not refined.
    QCOMPARE(RegionFill::refine(scene.photo.copy(0, 0, 10, 10), preview).outcome, RegionFill::Outcome::NoKeepMark);
}

void TestRegionFill::sharpenedPreviewIsTheFinerPreview_data()
{
    QTest::addColumn<SceneMaker>("make");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<qint64>("coarsePixels");
    QTest::addColumn<qint64>("finePixels");
    QTest::addColumn<qint64>("cutPixels");
    QTest::newRow("textured object, coarsest to a quarter")
        << SceneMaker(texturedObject) << QSize(800, 600) << qint64(20000) << qint64(400 * 300) << qint64(20000);
    QTest::newRow("coins, a sixteenth to whole")
        << SceneMaker(coins) << QSize(1000, 800) << qint64(250 * 200) << qint64(1000 * 800) << qint64(3000);
    QTest::newRow("coins, already as fine")
        << SceneMaker(coins) << QSize(600, 480) << qint64(300 * 240) << qint64(300 * 240) << qint64(3000);
    QTest::newRow("thresholded field, coarsest to whole")
        << SceneMaker(thresholded) << QSize(640, 480) << qint64(5000) << qint64(640 * 480) << qint64(5000);
}

void TestRegionFill::sharpenedPreviewIsTheFinerPreview()
{
    QFETCH(SceneMaker, make);
    QFETCH(QSize, size);
    QFETCH(qint64, coarsePixels);
    QFETCH(qint64, finePixels);
    QFETCH(qint64, cutPixels);
    const Scene scene = make(size.width(), size.height());
    const RegionFill::Preview coarse =
        RegionFill::preview(scene.photo, scene.keep, scene.remove, coarsePixels, nullptr, {}, cutPixels);
    QCOMPARE(coarse.outcome, RegionFill::Outcome::Filled);
    const RegionFill::Preview direct =
        RegionFill::preview(scene.photo, scene.keep, scene.remove, finePixels, nullptr, {}, cutPixels);
    const RegionFill::Preview sharpened = RegionFill::sharpen(scene.photo, coarse, finePixels);
    QCOMPARE(sharpened.outcome, direct.outcome);
    QCOMPARE(sharpened.scale, direct.scale);
    QCOMPARE(sharpened.size, direct.size);
    QCOMPARE(sharpened.spans, direct.spans);
    QCOMPARE(sharpened.edgesReached, direct.edgesReached);
    // A fill goes on from either, or from the coarse one, to the same region;
    // the coarse preview is left as it was for that.
    const RegionFill::Result fromDirect = RegionFill::refine(scene.photo, direct);
    QCOMPARE(RegionFill::refine(scene.photo, sharpened).spans, fromDirect.spans);
    QCOMPARE(RegionFill::refine(scene.photo, coarse).spans, fromDirect.spans);
    QCOMPARE(RegionFill::sharpen(scene.photo, coarse, finePixels).spans, direct.spans);
    // Not for another photo's size; a cancelled one stops.
    QCOMPARE(RegionFill::sharpen(scene.photo.copy(0, 0, 10, 10), coarse, finePixels).outcome,
             RegionFill::Outcome::NoKeepMark);
    if (sharpened.scale < coarse.scale) {
        const std::atomic_bool cancel{true};
        QCOMPARE(RegionFill::sharpen(scene.photo, coarse, finePixels, &cancel).outcome, RegionFill::Outcome::Cancelled);
    }
}

void TestRegionFill::previewAndRefineCancel_data()
{
    QTest::addColumn<bool>("inPreview");
    QTest::addColumn<int>("cancelAt");
    QTest::newRow("preview, before starting") << true << -1;
    QTest::newRow("preview, after the first cut") << true << 20;
    QTest::newRow("refinement, before starting") << false << -1;
    QTest::newRow("refinement, after the first level") << false << 10;
}

void TestRegionFill::previewAndRefineCancel()
{
    QFETCH(bool, inPreview);
    QFETCH(int, cancelAt);
    const Scene scene = coins(600, 480);
    std::atomic_bool cancel{false};
    const auto raise = [&](int percent) {
        if (percent >= cancelAt)
            cancel = true;
    };
    if (inPreview) {
        cancel = cancelAt < 0;
        const RegionFill::Preview preview =
            RegionFill::preview(scene.photo, scene.keep, scene.remove, 150 * 120, &cancel, raise, 3000);
        QCOMPARE(preview.outcome, RegionFill::Outcome::Cancelled);
        QVERIFY(preview.spans.isEmpty());
        QCOMPARE(RegionFill::refine(scene.photo, preview).outcome, RegionFill::Outcome::Cancelled);
        return;
    }
    const RegionFill::Preview preview =
        RegionFill::preview(scene.photo, scene.keep, scene.remove, 150 * 120, nullptr, {}, 3000);
    QCOMPARE(preview.outcome, RegionFill::Outcome::Filled);
    cancel = cancelAt < 0;
    const RegionFill::Result result = RegionFill::refine(scene.photo, preview, &cancel, raise);
    QCOMPARE(result.outcome, RegionFill::Outcome::Cancelled);
    QVERIFY(result.spans.isEmpty());
    QVERIFY(result.region.isEmpty());
}

QTEST_GUILESS_MAIN(TestRegionFill)
#include "tst_regionfill.moc"
