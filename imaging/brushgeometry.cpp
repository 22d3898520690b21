#include "imaging/brushgeometry.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
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

RowSpans sweep(const QList<Disc> &discs, const Disc *painted, const QRect &limit)
{
    RowSpans spans;
    if (limit.isEmpty())
        return spans;

    int top = std::numeric_limits<int>::max();
    int bottom = std::numeric_limits<int>::min();
    for (const Disc &disc : discs) {
        if (disc.isEmpty())
            continue;
        top = std::min(top, std::max(disc.firstRow(), limit.top()));
        bottom = std::max(bottom, std::min(disc.lastRow(), limit.bottom()));
    }
    if (top > bottom)
        return spans;

    std::vector<std::vector<Interval>> rows(size_t(bottom - top + 1));
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

    for (int y = top; y <= bottom; ++y) {
        const std::vector<Interval> &row = rows[size_t(y - top)];
        int pl = 0;
        int pr = -1;
        const bool cut = painted && painted->row(y, &pl, &pr);
        for (const Interval &interval : row) {
            if (!cut || pr < interval.left || pl > interval.right) {
                spans.append(RowSpan{y, interval.left, interval.right});
                continue;
            }
            // What the painted disc leaves of this interval: a part on each side.
            if (interval.left < pl)
                spans.append(RowSpan{y, interval.left, pl - 1});
            if (pr < interval.right)
                spans.append(RowSpan{y, pr + 1, interval.right});
        }
    }
    return spans;
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
