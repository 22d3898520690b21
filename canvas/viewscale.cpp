#include "canvas/viewscale.h"

#include <QScrollBar>

#include <algorithm>
#include <cmath>

namespace ViewScale {

qreal followRatio(int newSize, int oldSize, qreal displayed)
{
    if (oldSize <= 0)
        return 1.0;
    if (newSize > displayed || newSize < oldSize)
        return qreal(newSize) / qreal(oldSize);
    return 1.0;
}

qreal fitting(const QRectF &whole, const QSize &room, bool enlarge)
{
    const bool larger = whole.width() > room.width() || whole.height() > room.height();
    if (whole.isEmpty() || room.isEmpty() || !(larger || enlarge))
        return 1.0;
    qreal s = std::min(room.width() / whole.width(), room.height() / whole.height());
    while (s > 0 && (whole.width() * s > room.width() || whole.height() * s > room.height()))
        s = std::nextafter(s, 0.0);
    return s > 0 ? s : 1.0;
}

void settle(QScrollBar *bar, qreal drift, qreal now, qreal target, qreal scale)
{
    const int steps[] = {qRound(drift), int(std::floor(drift)), int(std::ceil(drift))};
    int chosen = steps[0];
    for (const int step : steps) {
        if (std::floor(now + step / scale) == std::floor(target)) {
            chosen = step;
            break;
        }
    }
    bar->setValue(bar->value() + chosen);
}

} // namespace ViewScale
