#include "imaging/brushgeometry.h"

#include "imaging/inbands.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

namespace BrushGeometry {

int truncated(double v)
{
    // Far larger than any image the program can hold, small enough that the
    // squared distances of two such coordinates fit in 64 bits.
    constexpr double bound = 1 << 29;
    if (std::isnan(v))
        return 0;
    return static_cast<int>(std::clamp(v, -bound, bound));
}

Square square(const QPointF &topLeft, const QPointF &bottomRight)
{
    Square s;
    s.left = truncated(topLeft.x());
    s.top = truncated(topLeft.y());
    s.width = truncated(bottomRight.x() - topLeft.x());
    s.height = truncated(bottomRight.y() - topLeft.y());
    return s;
}

QList<QPoint> disc(const QPoint &centre, const Square &square, const QRect &limit)
{
    QList<QPoint> points;
    if (square.left >= square.right())
        return points;

    const qint64 r2 = (qint64(square.width) * square.height) / 4;
    const int x0 = std::max(square.left, limit.left());
    const int x1 = std::min(square.right() - 1, limit.right());
    const int y0 = std::max(square.top, limit.top());
    const int y1 = std::min(square.bottom() - 1, limit.bottom());
    if (x0 > x1 || y0 > y1 || limit.isEmpty())
        return points;

    // The disc fills about pi/4 of its square.
    points.reserve(qsizetype(double(x1 - x0 + 1) * double(y1 - y0 + 1) * 0.8) + 1);
    for (int x = x0; x <= x1; ++x) {
        const qint64 dx = qint64(centre.x()) - x;
        for (int y = y0; y <= y1; ++y) {
            const qint64 dy = qint64(centre.y()) - y;
            if (dx * dx + dy * dy < r2)
                points.append(QPoint(x, y));
        }
    }
    return points;
}

} // namespace BrushGeometry

namespace BrushGeometry {

namespace {

// A soft sweep shares its rows among the cores in bands of at least this
// many: a band of a large brush's rows takes far longer than starting a
// thread, a small brush's rows stay on one.
constexpr int rowsPerBand = 128;

// The largest d with d * d <= v, for v >= 0.
qint64 floorSqrt(qint64 v)
{
    qint64 d = static_cast<qint64>(std::sqrt(static_cast<double>(v)));
    while (d > 0 && d * d > v)
        --d;
    while ((d + 1) * (d + 1) <= v)
        ++d;
    return d;
}

struct Interval {
    int left;
    int right;
};

// Adds [left, right] to a row's sorted, disjoint intervals, merging with any
// it overlaps or touches. Rows of a sweep hold one or two intervals, so the
// linear walk is cheap.
void addInterval(std::vector<Interval> &row, int left, int right)
{
    auto it = row.begin();
    while (it != row.end() && qint64(it->right) + 1 < left)
        ++it;
    if (it == row.end() || qint64(right) + 1 < it->left) {
        row.insert(it, Interval{left, right});
        return;
    }
    it->left = std::min(it->left, left);
    it->right = std::max(it->right, right);
    auto next = it + 1;
    while (next != row.end() && qint64(next->left) <= qint64(it->right) + 1) {
        it->right = std::max(it->right, next->right);
        next = row.erase(next);
    }
}

} // namespace

bool Disc::row(int y, int *left, int *right) const
{
    if (isEmpty() || y < firstRow() || y > lastRow())
        return false;
    const qint64 r2 = (qint64(square.width) * square.height) / 4;
    const qint64 dy = qint64(centre.y()) - y;
    // dx * dx + dy * dy < r2, that is dx * dx <= r2 - dy * dy - 1.
    const qint64 room = r2 - dy * dy - 1;
    if (room < 0)
        return false;
    const qint64 d = floorSqrt(room);
    const qint64 l = std::max<qint64>(qint64(centre.x()) - d, square.left);
    const qint64 r = std::min<qint64>(qint64(centre.x()) + d, square.right() - 1);
    if (l > r)
        return false;
    *left = int(l);
    *right = int(r);
    return true;
}

namespace {

// The pixels of the straight line from `from` to `to` that lie inside
// `limit`. A line reaching far beyond the limit is cut to it first, so that
// the work follows what the limit can hold.
void appendLine(const QPoint &from, const QPoint &to, const QRect &limit, QList<QPoint> *out)
{
    QPointF a(from);
    QPointF b(to);
    const QRectF room = QRectF(limit).adjusted(-2, -2, 2, 2);
    if (!room.contains(a) || !room.contains(b)) {
        const QPointF d = b - a;
        double t0 = 0;
        double t1 = 1;
        const double p[4] = {-d.x(), d.x(), -d.y(), d.y()};
        const double q[4] = {a.x() - room.left(), room.right() - a.x(), a.y() - room.top(), room.bottom() - a.y()};
        for (int i = 0; i < 4; ++i) {
            if (p[i] == 0) {
                if (q[i] < 0)
                    return;
                continue;
            }
            const double t = q[i] / p[i];
            if (p[i] < 0)
                t0 = std::max(t0, t);
            else
                t1 = std::min(t1, t);
        }
        if (t0 > t1)
            return;
        const QPointF start = a;
        a = start + d * t0;
        b = start + d * t1;
    }
    const QList<QPoint> steps = lineSteps(a.toPoint(), b.toPoint());
    for (const QPoint &q : steps)
        if (limit.contains(q))
            out->append(q);
}

// The centres' path: from the painted disc's centre (taken as painted)
// through each disc's centre, one pixel per step, within `limit`; only the
// pixels `keep(q, from, to)` takes of the step from disc `from` to `to`.
template <typename Keep>
QList<QPoint> centrePath(const QList<Disc> &discs, const Disc *painted, const QRect &limit, Keep &&keep)
{
    QList<QPoint> path;
    if (discs.isEmpty())
        return path;
    const Disc *previous = painted ? painted : &discs.constFirst();
    if (!painted && limit.contains(previous->centre) && keep(previous->centre, *previous, *previous))
        path.append(previous->centre);
    QList<QPoint> step;
    for (const Disc &disc : discs) {
        if (disc.centre != previous->centre) {
            step.clear();
            appendLine(previous->centre, disc.centre, limit, &step);
            for (const QPoint &q : std::as_const(step))
                if (keep(q, *previous, disc))
                    path.append(q);
        }
        previous = &disc;
    }
    return path;
}

RowSpans sweepWithPath(const QList<Disc> &discs, const Disc *painted, const QRect &limit, bool withPath)
{
    RowSpans spans;
    if (limit.isEmpty())
        return spans;

    const QList<QPoint> path = withPath
        ? centrePath(discs, painted, limit, [](const QPoint &, const Disc &, const Disc &) { return true; })
        : QList<QPoint>();

    int top = std::numeric_limits<int>::max();
    int bottom = std::numeric_limits<int>::min();
    for (const Disc &disc : discs) {
        if (disc.isEmpty())
            continue;
        top = std::min(top, std::max(disc.firstRow(), limit.top()));
        bottom = std::max(bottom, std::min(disc.lastRow(), limit.bottom()));
    }
    for (const QPoint &q : path) {
        top = std::min(top, q.y());
        bottom = std::max(bottom, q.y());
    }
    if (top > bottom)
        return spans;

    std::vector<std::vector<Interval>> rows(size_t(bottom - top + 1));
    for (const QPoint &q : path)
        addInterval(rows[size_t(q.y() - top)], q.x(), q.x());
    // The half-width of a disc's row depends only on r2 and the row's distance
    // from the centre, and the discs of one step share one or two r2: tables
    // spare the square root for every row of every disc.
    struct HalfWidths {
        qint64 r2 = -1;
        std::vector<int> of; // by |dy|; -1 where the row is empty
    };
    std::vector<HalfWidths> tables;
    const auto halfWidths = [&tables](qint64 r2, qint64 reach) -> const std::vector<int> & {
        auto it = std::find_if(tables.begin(), tables.end(), [r2](const HalfWidths &t) { return t.r2 == r2; });
        if (it == tables.end()) {
            tables.push_back(HalfWidths{r2, {}});
            it = tables.end() - 1;
        }
        for (qint64 k = qint64(it->of.size()); k <= reach; ++k) {
            const qint64 room = r2 - k * k - 1;
            it->of.push_back(room < 0 ? -1 : int(floorSqrt(room)));
        }
        return it->of;
    };

    for (const Disc &disc : discs) {
        if (disc.isEmpty())
            continue;
        const int y0 = std::max(disc.firstRow(), top);
        const int y1 = std::min(disc.lastRow(), bottom);
        if (y0 > y1)
            continue;
        const qint64 r2 = (qint64(disc.square.width) * disc.square.height) / 4;
        const qint64 cy = disc.centre.y();
        const qint64 reach = std::max(std::abs(cy - y0), std::abs(cy - y1));
        const qint64 xmin = std::max<qint64>(disc.square.left, limit.left());
        const qint64 xmax = std::min<qint64>(qint64(disc.square.right()) - 1, limit.right());
        if (xmin > xmax)
            continue;
        if (reach > 2 * (qint64(bottom) - top + 1)) {
            // A centre far from the rows in question: no table for that.
            for (int y = y0; y <= y1; ++y) {
                int l = 0;
                int r = 0;
                if (disc.row(y, &l, &r) && std::max<qint64>(l, xmin) <= std::min<qint64>(r, xmax))
                    addInterval(rows[size_t(y - top)], int(std::max<qint64>(l, xmin)), int(std::min<qint64>(r, xmax)));
            }
            continue;
        }
        const std::vector<int> &half = halfWidths(r2, reach);
        const qint64 cx = disc.centre.x();
        for (int y = y0; y <= y1; ++y) {
            const int d = half[size_t(std::abs(cy - y))];
            if (d < 0)
                continue;
            const qint64 l = std::max(cx - d, xmin);
            const qint64 r = std::min(cx + d, xmax);
            if (l <= r)
                addInterval(rows[size_t(y - top)], int(l), int(r));
        }
    }

    std::vector<Interval> cuts;
    for (int y = top; y <= bottom; ++y) {
        const std::vector<Interval> &row = rows[size_t(y - top)];
        cuts.clear();
        int pl = 0;
        int pr = -1;
        if (painted && painted->row(y, &pl, &pr))
            addInterval(cuts, pl, pr);
        if (painted && withPath && painted->centre.y() == y)
            addInterval(cuts, painted->centre.x(), painted->centre.x());
        for (const Interval &interval : row) {
            // What the painted pixels leave of this interval.
            qint64 from = interval.left;
            for (const Interval &cut : cuts) {
                if (cut.right < from || cut.left > interval.right)
                    continue;
                if (from < cut.left)
                    spans.append(RowSpan{y, int(from), cut.left - 1});
                from = qint64(cut.right) + 1;
            }
            if (from <= interval.right)
                spans.append(RowSpan{y, int(from), interval.right});
        }
    }
    return spans;
}

} // namespace

RowSpans sweep(const QList<Disc> &discs, const Disc *painted, const QRect &limit)
{
    return sweepWithPath(discs, painted, limit, false);
}

RowSpans strokeSweep(const QList<Disc> &discs, const Disc *painted, const QRect &limit)
{
    return sweepWithPath(discs, painted, limit, true);
}

CoverageSpans withCentrePath(CoverageSpans shape, const QList<Disc> &discs, const Disc *painted, const QRect &limit,
                             int softness)
{
    if (limit.isEmpty() || discs.isEmpty())
        return shape;
    // The squared distance within which a disc surely covers fully: its
    // coverage (R - d) * 255 / ramp rounds to 255 up to d = R - 254.5 * ramp
    // / 255, less three pixels for the square's last row and column, which
    // a disc leaves out, and a centre off the square's middle; -1 for none.
    const auto surelyFull = [softness](const Disc &disc) -> double {
        const double radius = std::sqrt(double(disc.squaredRadius()));
        const double reach = radius - 254.5 / 255.0 * radius * std::clamp(softness, 0, 100) / 100.0 - 3;
        return reach > 0 ? reach * reach : -1;
    };
    const auto within = [](const QPoint &q, const QPoint &c, double d2) {
        const double dx = q.x() - c.x();
        const double dy = q.y() - c.y();
        return dx * dx + dy * dy <= d2;
    };
    // The path less what either end's disc surely covers fully: all of it
    // for any but a small brush, and the shape then needs no copy.
    QList<QPoint> path = centrePath(discs, painted, limit, [&](const QPoint &q, const Disc &from, const Disc &to) {
        return !within(q, from.centre, surelyFull(from)) && !within(q, to.centre, surelyFull(to));
    });
    // The painted disc's centre is painted already.
    if (painted)
        path.removeAll(painted->centre);
    const RowSpans &spans = shape.spans();
    // The span of `shape` that holds (x, y), or -1.
    const auto spanAt = [&spans](int x, int y) -> qsizetype {
        const auto it = std::upper_bound(spans.begin(), spans.end(), std::make_pair(y, x),
                                         [](const std::pair<int, int> &p, const RowSpan &s) {
                                             return p.first < s.y || (p.first == s.y && p.second < s.left);
                                         });
        if (it == spans.begin())
            return -1;
        const RowSpan &s = *(it - 1);
        return s.y == y && x <= s.right ? qsizetype(it - 1 - spans.begin()) : -1;
    };
    // A brush that holds its centre pixels, as any but the smallest does,
    // needs nothing more.
    path.erase(std::remove_if(path.begin(), path.end(),
                              [&](const QPoint &q) {
                                  const qsizetype i = spanAt(q.x(), q.y());
                                  return i >= 0 && shape.at(i, q.x()) == CoverageSpans::full;
                              }),
               path.end());
    if (path.isEmpty())
        return shape;
    std::sort(path.begin(), path.end(),
              [](const QPoint &a, const QPoint &b) { return a.y() < b.y() || (a.y() == b.y() && a.x() < b.x()); });
    path.erase(std::unique(path.begin(), path.end()), path.end());

    CoverageSpans out;
    out.reserve(spans.size() + path.size(), 0);
    std::vector<quint8> values;
    qsizetype next = 0; // the first path pixel not yet laid
    // Lays the path pixels outside the shape that come before (x, y).
    const auto pathBefore = [&](int y, int x) {
        for (; next < path.size() && (path[next].y() < y || (path[next].y() == y && path[next].x() < x)); ++next)
            out.appendFull(RowSpan{path[next].y(), path[next].x(), path[next].x()});
    };
    for (qsizetype i = 0; i < spans.size(); ++i) {
        const RowSpan &s = spans[i];
        pathBefore(s.y, s.left);
        const quint8 *c = shape.coverage(i);
        if (!c || next >= path.size() || path[next].y() != s.y || path[next].x() > s.right) {
            if (c)
                out.append(s, c);
            else
                out.appendFull(s);
            continue;
        }
        values.assign(c, c + s.length());
        for (; next < path.size() && path[next].y() == s.y && path[next].x() <= s.right; ++next)
            values[size_t(path[next].x() - s.left)] = CoverageSpans::full;
        out.append(s, values.data());
    }
    pathBefore(std::numeric_limits<int>::max(), 0);
    return out;
}

SoftProfile::SoftProfile(qint64 squaredRadius, int softness)
    : r2(std::max<qint64>(squaredRadius, 0))
    , soft(std::clamp(softness, 0, 100))
    , radius(std::sqrt(double(r2)))
{
    const double ramp = radius * soft / 100.0;
    scale = ramp > 0 ? 255.0 / ramp : 0;
    reach[0] = r2 - 1;
    // at() never rises with d2, so each level's reach is found by bisection,
    // within the reach of the level below.
    qint64 upper = r2 - 1;
    for (int c = 1; c < 256; ++c) {
        if (upper < 0 || at(0) < c) {
            reach[size_t(c)] = -1;
            upper = -1;
            continue;
        }
        qint64 lo = 0; // at(lo) >= c
        qint64 hi = upper;
        if (at(hi) >= c) {
            lo = hi;
        } else {
            while (hi - lo > 1) { // at(hi) < c
                const qint64 mid = lo + (hi - lo) / 2;
                (at(mid) >= c ? lo : hi) = mid;
            }
        }
        reach[size_t(c)] = lo;
        upper = lo;
    }
    reach[256] = -1;

    // 16384 steps of d2 over the disc: a level spans at least 2 d s R / 255
    // of d2 at distance d, more than a step but near the centre of a very
    // soft brush.
    if (r2 <= 0)
        return;
    while (((r2 - 1) >> shift) >= 16384)
        ++shift;
    starts.resize(size_t((r2 - 1) >> shift) + 1);
    int level = 255;
    for (size_t i = 0; i < starts.size(); ++i) {
        const qint64 d2 = qint64(i) << shift;
        while (level > 0 && d2 > reach[size_t(level)])
            --level;
        starts[i] = quint8(level);
    }
}

quint8 SoftProfile::at(qint64 d2) const
{
    if (d2 < 0 || d2 >= r2)
        return 0;
    if (soft == 0)
        return 255;
    const double v = (radius - std::sqrt(double(d2))) * scale;
    return quint8(std::clamp(std::floor(v + 0.5), 0.0, 255.0));
}

int SoftProfile::level(qint64 d2) const
{
    if (d2 > reach[0] || d2 < 0)
        return 0;
    // The highest c with d2 <= reach[c]; reach falls as c rises.
    int lo = 0;
    int hi = 256;
    while (hi - lo > 1) {
        const int mid = (lo + hi) / 2;
        (d2 <= reach[size_t(mid)] ? lo : hi) = mid;
    }
    return lo;
}

void SoftProfile::row(qint64 dx, qint64 h, qint64 count, quint8 *out, bool keepHigher) const
{
    // The fully covered core of the row is one run, written whole; at 50 %
    // softness it is half the row through the centre. Pieces of a few
    // pixels, as many discs close together give, go straight to the rim.
    const qint64 full = reach[255];
    if (full >= h && count >= 32) {
        const qint64 d = floorSqrt(full - h);
        const qint64 lo = std::max<qint64>(0, -d - dx);
        const qint64 hi = std::min<qint64>(count - 1, d - dx);
        if (lo <= hi) {
            rim(dx, h, lo, out, keepHigher);
            std::memset(out + lo, 255, size_t(hi - lo + 1));
            rim(dx + hi + 1, h, count - hi - 1, out + hi + 1, keepHigher);
            return;
        }
    }
    rim(dx, h, count, out, keepHigher);
}

void SoftProfile::rim(qint64 dx, qint64 h, qint64 count, quint8 *out, bool keepHigher) const
{
    // The squared distance grows by 2 dx + 1 from one column to the next.
    // Each pixel starts from the table and steps down the level or so left,
    // so that no pixel waits for the one before it.
    qint64 d2 = dx * dx + h;
    const qint64 *levels = reach.data();
    const quint8 *start = starts.data();
    const qint64 inside = reach[0];
    for (qint64 i = 0; i < count; ++i) {
        int level = 0;
        if (d2 <= inside) {
            level = start[d2 >> shift];
            level -= int(d2 > levels[level]);
            while (d2 > levels[level]) // only near the centre of a very soft brush
                --level;
        }
        out[i] = quint8(keepHigher ? std::max(int(out[i]), level) : level);
        d2 += 2 * dx + 1;
        ++dx;
    }
}

namespace {

// One disc as the rows of a soft sweep see it.
struct SoftSource {
    qint64 cx = 0;
    qint64 cy = 0;
    int top = 0; // rows, within the limit
    int bottom = -1;
    qint64 xmin = 0; // columns of its square, within the limit
    qint64 xmax = -1;
    int profile = 0;
    bool painted = false;
};

// Hands one run of a row's coverage values to `out`: nothing where it is 0,
// whole spans for long runs of full coverage.
// Eight coverage values at once, for skipping along a run.
inline quint64 word(const quint8 *p)
{
    quint64 w;
    std::memcpy(&w, p, sizeof w);
    return w;
}
inline bool hasZeroByte(quint64 w)
{
    return ((w - 0x0101010101010101ull) & ~w & 0x8080808080808080ull) != 0;
}

void appendRun(CoverageSpans &out, int y, qint64 left, const quint8 *values, qint64 count)
{
    // Shorter runs of 255 stay in the span around them: a whole span costs
    // the layer a second pass over the row.
    constexpr qint64 wholeRun = 16;
    qint64 part = -1;
    const auto close = [&](qint64 end) {
        if (part >= 0)
            out.append(RowSpan{y, int(left + part), int(left + end - 1)}, values + part);
        part = -1;
    };
    qint64 i = 0;
    while (i < count) {
        if (values[i] == 0) {
            close(i);
            while (i + 8 <= count && word(values + i) == 0)
                i += 8;
            while (i < count && values[i] == 0)
                ++i;
            continue;
        }
        if (values[i] == CoverageSpans::full) {
            qint64 j = i;
            while (j + 8 <= count && word(values + j) == ~quint64(0))
                j += 8;
            while (j < count && values[j] == CoverageSpans::full)
                ++j;
            if (j - i >= wholeRun) {
                close(i);
                out.appendFull(RowSpan{y, int(left + i), int(left + j - 1)});
                i = j;
                continue;
            }
            if (part < 0)
                part = i;
            i = j;
            continue;
        }
        if (part < 0)
            part = i;
        // Past values that are neither 0 nor 255.
        ++i;
        while (i + 8 <= count && !hasZeroByte(word(values + i)) && !hasZeroByte(~word(values + i)))
            i += 8;
    }
    close(count);
}

} // namespace

CoverageSpans softSweep(const QList<Disc> &discs, const Disc *painted, const QRect &limit, int softness)
{
    return softSweep(discs, painted, QList<Disc>(), limit, softness);
}

CoverageSpans softSweep(const QList<Disc> &discs, const Disc *painted, const QList<Disc> &earlier, const QRect &limit,
                        int softness)
{
    if (softness <= 0)
        return CoverageSpans(sweep(discs, painted, limit));
    CoverageSpans out;
    if (limit.isEmpty())
        return out;

    std::vector<SoftProfile> profiles;
    const auto profileFor = [&profiles, softness](qint64 r2) {
        for (size_t i = 0; i < profiles.size(); ++i)
            if (profiles[i].squaredRadius() == r2)
                return int(i);
        profiles.emplace_back(r2, softness);
        return int(profiles.size() - 1);
    };
    const auto sourceOf = [&](const Disc &disc, bool isPainted, SoftSource *source) {
        if (disc.isEmpty())
            return false;
        const qint64 r2 = disc.squaredRadius();
        if (r2 <= 0)
            return false;
        const qint64 reachY = floorSqrt(r2 - 1);
        source->cx = disc.centre.x();
        source->cy = disc.centre.y();
        source->top = int(std::max<qint64>({disc.firstRow(), source->cy - reachY, limit.top()}));
        source->bottom = int(std::min<qint64>({disc.lastRow(), source->cy + reachY, limit.bottom()}));
        source->xmin = std::max<qint64>(disc.square.left, limit.left());
        source->xmax = std::min<qint64>(qint64(disc.square.right()) - 1, limit.right());
        source->painted = isPainted;
        if (source->top > source->bottom || source->xmin > source->xmax)
            return false;
        source->profile = profileFor(r2);
        return true;
    };

    std::vector<SoftSource> sources;
    int top = std::numeric_limits<int>::max();
    int bottom = std::numeric_limits<int>::min();
    for (const Disc &disc : discs) {
        SoftSource source;
        if (!sourceOf(disc, false, &source))
            continue;
        sources.push_back(source);
        top = std::min(top, source.top);
        bottom = std::max(bottom, source.bottom);
    }
    if (sources.empty())
        return out;
    const size_t newProfiles = profiles.size();
    const size_t newSources = sources.size(); // the painted ones follow

    // The painted disc: what it covers fully needs nothing more. Where it is
    // the nearest centre and all discs have its size, nothing can gain.
    SoftSource last;
    const bool hasPainted = painted && sourceOf(*painted, true, &last);
    const qint64 lastFull = hasPainted ? profiles[size_t(last.profile)].fullReach() : -1;
    if (hasPainted && newProfiles == 1 && last.profile == 0)
        sources.push_back(last);
    // Earlier discs of the stroke of the same size count as the painted one
    // does where they are nearest; a brush going back over its way then
    // finds little to do. Those beyond the new discs' rows and columns, and
    // any of another size, are left out.
    if (newProfiles == 1 && !earlier.isEmpty()) {
        qint64 left = std::numeric_limits<qint64>::max();
        qint64 right = std::numeric_limits<qint64>::min();
        for (const SoftSource &source : sources) {
            left = std::min(left, source.xmin);
            right = std::max(right, source.xmax);
        }
        const qint64 r2 = profiles[0].squaredRadius();
        for (const Disc &disc : earlier) {
            SoftSource source;
            if (disc.squaredRadius() != r2 || !sourceOf(disc, true, &source) || source.bottom < top
                || source.top > bottom || source.xmax < left || source.xmin > right)
                continue;
            sources.push_back(source);
        }
    }

    // The discs of one size, by centre column, as the lower envelope of their
    // squared distances takes them. Discs of a move share one size but for a
    // rounding in the view's transform, which can give two.
    std::vector<std::vector<int>> groups(newProfiles);
    for (size_t i = 0; i < sources.size(); ++i)
        groups[size_t(sources[i].profile)].push_back(int(i));
    for (std::vector<int> &group : groups)
        std::stable_sort(group.begin(), group.end(),
                         [&sources](int a, int b) { return sources[size_t(a)].cx < sources[size_t(b)].cx; });
    const bool merging = groups.size() > 1;

    // The coverage of one pixel from every new disc whose square holds it.
    const auto bruteForce = [&sources, &profiles, newSources](qint64 x, qint64 y) {
        int best = 0;
        for (size_t i = 0; i < newSources; ++i) {
            const SoftSource &s = sources[i];
            if (y < s.top || y > s.bottom || x < s.xmin || x > s.xmax)
                continue;
            const qint64 dx = x - s.cx;
            const qint64 dy = y - s.cy;
            best = std::max(best, profiles[size_t(s.profile)].level(dx * dx + dy * dy));
        }
        return best;
    };

    struct Candidate {
        qint64 cx;
        qint64 h;    // squared row distance from the centre
        double f;    // h + cx * cx, the parabola's constant
        qint64 xmin; // the columns of its square (of both, for two alike)
        qint64 xmax;
        bool painted;
    };
    const qint64 base = limit.left();
    constexpr double infinity = std::numeric_limits<double>::infinity();
    // The first column at or after z, within a column of the limit.
    const auto firstColumn = [&limit](double z) {
        const double bounded = std::clamp(z, double(limit.left()) - 1, double(limit.right()) + 1);
        auto c = qint64(bounded);
        return double(c) < bounded ? c + 1 : c;
    };

    // Rows [first, final] into `band`; rows depend on nothing but the discs.
    const auto sweepRows = [&](int first, int final, CoverageSpans &band) {
        std::vector<Candidate> candidates;
        std::vector<int> envelope;                            // into candidates, left to right
        std::vector<double> starts;                           // piece k of the envelope: starts[k] <= x < starts[k + 1]
        std::vector<quint8> buffer(size_t(limit.width()), 0); // the row, by x - base
        std::vector<std::pair<qint64, qint64>> runs;          // written columns of the row
        // A rim on each side of each row, and the core between.
        band.reserve(3 * qsizetype(final - first + 1), 0);
        for (int y = first; y <= final; ++y) {
            qint64 holeLeft = 1;
            qint64 holeRight = 0;
            if (hasPainted && y >= last.top && y <= last.bottom && lastFull >= 0) {
                const qint64 dy = y - last.cy;
                if (dy * dy <= lastFull) {
                    const qint64 d = floorSqrt(lastFull - dy * dy);
                    holeLeft = std::max(last.cx - d, last.xmin);
                    holeRight = std::min(last.cx + d, last.xmax);
                }
            }
            runs.clear();
            // Marks [a, b] as written.
            const auto written = [&runs](qint64 a, qint64 b) {
                if (!runs.empty() && runs.back().second + 1 == a)
                    runs.back().second = b;
                else
                    runs.emplace_back(a, b);
            };
            const auto brute = [&](qint64 a, qint64 b) {
                for (qint64 x = a; x <= b; ++x) {
                    if (x >= holeLeft && x <= holeRight)
                        continue;
                    quint8 &v = buffer[size_t(x - base)];
                    v = quint8(merging ? std::max(int(v), bruteForce(x, y)) : bruteForce(x, y));
                    written(x, x);
                }
            };

            for (const std::vector<int> &group : groups) {
                const SoftProfile &profile = profiles[size_t(sources[size_t(group.front())].profile)];
                const qint64 r2 = profile.squaredRadius();
                candidates.clear();
                qint64 left = std::numeric_limits<qint64>::max();
                qint64 right = std::numeric_limits<qint64>::min();
                for (const int i : group) {
                    const SoftSource &s = sources[size_t(i)];
                    if (y < s.top || y > s.bottom)
                        continue;
                    left = std::min(left, s.xmin);
                    right = std::max(right, s.xmax);
                    const qint64 dy = y - s.cy;
                    const Candidate c{s.cx,   dy * dy, double(dy * dy) + double(s.cx) * double(s.cx),
                                      s.xmin, s.xmax,  s.painted};
                    if (!candidates.empty() && candidates.back().cx == c.cx) {
                        // One centre column keeps its nearest centre; the painted
                        // disc wins a tie, since it needs no painting. Columns
                        // beyond the kept square go to every disc below, so two
                        // new discs on one centre may share their squares.
                        Candidate &kept = candidates.back();
                        if (c.h < kept.h || (c.h == kept.h && c.painted)) {
                            kept = c;
                        } else if (c.h == kept.h && !kept.painted) {
                            kept.xmin = std::min(kept.xmin, c.xmin);
                            kept.xmax = std::max(kept.xmax, c.xmax);
                        }
                        continue;
                    }
                    candidates.push_back(c);
                }
                if (candidates.empty())
                    continue;

                // The lower envelope of the parabolas (x - cx)^2 + h. Where two
                // meet between columns the comparison with a column is exact, since
                // the squared distances there differ by whole numbers.
                envelope.clear();
                starts.clear();
                for (int c = 0; c < int(candidates.size()); ++c) {
                    const Candidate &q = candidates[size_t(c)];
                    double start = -infinity;
                    while (!envelope.empty()) {
                        const Candidate &p = candidates[size_t(envelope.back())];
                        start = (q.f - p.f) / (2.0 * double(q.cx - p.cx));
                        if (start > starts.back())
                            break;
                        envelope.pop_back();
                        starts.pop_back();
                        start = -infinity;
                    }
                    envelope.push_back(c);
                    starts.push_back(start);
                }

                // The columns of the row less the hole, piece by piece.
                size_t k = 0;
                const auto walk = [&](qint64 from, qint64 to) {
                    qint64 x = from;
                    while (x <= to && k < envelope.size()) {
                        const qint64 pieceEnd = k + 1 < envelope.size() ? firstColumn(starts[k + 1]) - 1
                                                                        : std::numeric_limits<qint64>::max();
                        const qint64 e = std::min(to, pieceEnd);
                        if (x > e) {
                            ++k;
                            continue;
                        }
                        const Candidate &c = candidates[size_t(envelope[k])];
                        qint64 a = x;
                        qint64 b = e;
                        x = e + 1;
                        if (e == pieceEnd)
                            ++k;
                        // Cut to the winner's circle: beyond it no disc of this
                        // size reaches.
                        const auto inside = [&c, r2](qint64 col) { return (col - c.cx) * (col - c.cx) + c.h < r2; };
                        if (!inside(a) || !inside(b)) {
                            const qint64 d = floorSqrt(r2 - 1 - c.h);
                            a = std::max(a, c.cx - d);
                            b = std::min(b, c.cx + d);
                            if (a > b)
                                continue;
                        }
                        // Columns beyond the winner's square are measured against
                        // every disc; within it the winner alone decides.
                        if (a < c.xmin)
                            brute(a, std::min(b, c.xmin - 1));
                        const qint64 ia = std::max(a, c.xmin);
                        const qint64 ib = std::min(b, c.xmax);
                        if (ia <= ib && !c.painted) {
                            written(ia, ib);
                            profile.row(ia - c.cx, c.h, ib - ia + 1, buffer.data() + (ia - base), merging);
                        }
                        if (b > c.xmax)
                            brute(std::max(a, c.xmax + 1), b);
                    }
                };
                const qint64 from = std::max<qint64>(left, limit.left());
                const qint64 to = std::min<qint64>(right, limit.right());
                if (holeLeft > holeRight || holeRight < from || holeLeft > to) {
                    walk(from, to);
                } else {
                    walk(from, holeLeft - 1);
                    walk(holeRight + 1, to);
                }
            }

            if (!merging) {
                for (const auto &[a, b] : runs)
                    appendRun(band, y, a, buffer.data() + (a - base), b - a + 1);
                continue;
            }
            std::sort(runs.begin(), runs.end());
            for (size_t i = 0; i < runs.size();) {
                const qint64 a = runs[i].first;
                qint64 b = runs[i].second;
                for (++i; i < runs.size() && runs[i].first <= b + 1; ++i)
                    b = std::max(b, runs[i].second);
                quint8 *row = buffer.data() + (a - base);
                appendRun(band, y, a, row, b - a + 1);
                std::fill(row, row + (b - a + 1), quint8(0));
            }
        }
    };

    // A large brush's rows are shared among the cores, a band each, and
    // joined in order.
    const int rows = bottom - top + 1;
    const int bands = InBands::bandsFor(rows, rowsPerBand);
    if (bands == 1) {
        sweepRows(top, bottom, out);
        return out;
    }
    std::vector<CoverageSpans> parts(static_cast<size_t>(bands));
    InBands::runNumbered(
        rows, [&](int band, int first, int end) { sweepRows(top + first, top + end - 1, parts[size_t(band)]); },
        rowsPerBand);
    for (const CoverageSpans &part : parts)
        out.append(part);
    return out;
}

QList<Disc> thinnedDiscs(const QList<Disc> &discs, int softness)
{
    const double s = std::clamp(softness, 0, 100) / 100.0;
    if (s <= 0 || discs.size() <= 2)
        return discs;
    // Discs of another size than their neighbours stay; thinning works on
    // the runs of one size between them.
    const qint64 r2 = discs.first().squaredRadius();
    for (const Disc &d : discs)
        if (d.squaredRadius() != r2)
            return discs;

    // A pixel beyond the centres' convex hull is nearest to its outline.
    // Along each side of the hull, from corner to corner, the kept centres
    // are at most `gap` apart and at most `off` from the side; then such a
    // pixel, at distance d from the nearest centre, is at most
    // sqrt(d^2 + gap^2 / 4) + off from a kept one (for points on one line,
    // the nearer of two lies within sqrt(d^2 + gap^2 / 4), by Stewart's
    // theorem). In the ramp, where d is at least (1 - s) R, the coverage
    // falls 255 / (s R) levels a pixel; `slack` levels are allowed for the
    // gap, as much again for the offset. Pixels within the hull, a pixel or
    // so wide, lie in the core unless the core is about as narrow as the gap.
    constexpr double slack = 0.3;
    const double radius = std::sqrt(double(r2));
    const double slope = 255 / (s * radius);
    const double gap = std::max(radius * std::sqrt(8 * slack * s * (1 - s) / 255), 2 * slack / slope);
    const double off = slack / slope;
    if (gap < 2)
        return discs; // neighbours are about that close already

    const qint64 n = discs.size();
    const QPoint origin = discs.first().centre;
    const QPoint axis = discs.last().centre - origin;
    std::vector<qint64> along(static_cast<size_t>(n));
    std::vector<qint64> across(static_cast<size_t>(n));
    std::vector<int> order(static_cast<size_t>(n));
    for (qint64 i = 0; i < n; ++i) {
        const QPoint v = discs[i].centre - origin;
        along[size_t(i)] = qint64(v.x()) * axis.x() + qint64(v.y()) * axis.y();
        across[size_t(i)] = qint64(axis.x()) * v.y() - qint64(axis.y()) * v.x();
        order[size_t(i)] = int(i);
    }
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
        return along[size_t(a)] != along[size_t(b)] ? along[size_t(a)] < along[size_t(b)]
                                                    : across[size_t(a)] < across[size_t(b)];
    });
    const auto centre = [&discs](int i) { return discs[i].centre; };
    // Exact, so that the hull's corners are exact.
    const auto turn = [&centre](int a, int b, int c) {
        const QPoint u = centre(b) - centre(a);
        const QPoint v = centre(c) - centre(a);
        return qint64(u.x()) * v.y() - qint64(u.y()) * v.x();
    };
    const auto distance = [&centre](int a, int b) {
        return std::hypot(double(centre(a).x()) - centre(b).x(), double(centre(a).y()) - centre(b).y());
    };

    std::vector<bool> keep(static_cast<size_t>(n), false);
    for (const int side : {1, -1}) {
        // The corners of one side of the hull.
        std::vector<size_t> corners; // into order
        for (size_t k = 0; k < order.size(); ++k) {
            while (corners.size() >= 2
                   && side * turn(order[corners[corners.size() - 2]], order[corners.back()], order[k]) <= 0)
                corners.pop_back();
            corners.push_back(k);
        }
        for (size_t c = 0; c + 1 < corners.size(); ++c) {
            const int from = order[corners[c]];
            const int to = order[corners[c + 1]];
            const double length = distance(from, to);
            keep[size_t(from)] = keep[size_t(to)] = true;
            // From the corner on, the farthest centre within the gap that
            // lies close enough to the side; where none does (the centres of
            // a move step by a view pixel, several photo pixels when zoomed
            // out), the farthest of those nearest to it.
            const auto offSide = [&](size_t j) { return std::abs(double(turn(from, to, order[j]))) / length; };
            int last = from;
            size_t k = corners[c] + 1;
            while (k < corners[c + 1] && distance(last, to) > gap) {
                size_t end = k;
                double nearest = offSide(k);
                while (end + 1 < corners[c + 1] && distance(last, order[end + 1]) <= gap)
                    nearest = std::min(nearest, offSide(++end));
                size_t best = k;
                for (size_t j = k; j <= end; ++j)
                    if (offSide(j) <= std::max(off, nearest + 0.05))
                        best = j;
                last = order[best];
                keep[size_t(last)] = true;
                k = best + 1;
            }
        }
    }
    keep[0] = keep[size_t(n - 1)] = true;

    QList<Disc> kept;
    for (qint64 i = 0; i < n; ++i)
        if (keep[size_t(i)])
            kept.append(discs[i]);
    return kept;
}

QList<QPoint> lineSteps(const QPoint &from, const QPoint &to)
{
    QList<QPoint> points;
    const qint64 dx = std::abs(qint64(to.x()) - from.x());
    const qint64 dy = std::abs(qint64(to.y()) - from.y());
    const int sx = from.x() < to.x() ? 1 : -1;
    const int sy = from.y() < to.y() ? 1 : -1;
    points.reserve(qsizetype(std::max(dx, dy) + 1));
    qint64 err = dx - dy;
    int x = from.x();
    int y = from.y();
    for (;;) {
        points.append(QPoint(x, y));
        if (x == to.x() && y == to.y())
            break;
        const qint64 e2 = 2 * err;
        if (e2 > -dy) {
            err -= dy;
            x += sx;
        }
        if (e2 < dx) {
            err += dx;
            y += sy;
        }
    }
    return points;
}

} // namespace BrushGeometry
