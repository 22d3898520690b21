#include "canvas/brushgeometry.h"

#include <algorithm>
#include <cmath>

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
