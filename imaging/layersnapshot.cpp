#include "imaging/layersnapshot.h"

#include <QMutexLocker>

#include <algorithm>

LayerSnapshot::LayerSnapshot(const QImage &image)
    : held(image.format() == format ? image : image.convertToFormat(format))
    , bits(held.constBits())
    , bytesPerLine(held.bytesPerLine())
    , extent(held.size())
{ }

LayerSnapshot::LayerSnapshot(const QImage &live, InPlace)
    : bits(live.constBits())
    , bytesPerLine(live.bytesPerLine())
    , extent(live.size())
    , before(live.size())
{ }

void LayerSnapshot::readRow(int y, int left, int right, quint32 *out) const
{
    left = std::max(left, 0);
    right = std::min(right, extent.width() - 1);
    if (y < 0 || y >= extent.height() || left > right)
        return;
    QMutexLocker lock(&mutex);
    before.keptOver(reinterpret_cast<const quint32 *>(bits + y * bytesPerLine), y, left, right, out);
}

bool LayerSnapshot::readRows(int top, int count, QImage *band) const
{
    if (band->width() < extent.width() || band->height() < count || band->format() != format) {
        *band = QImage(extent.width(), count, format);
        if (band->isNull())
            return false;
    }
    for (int i = 0; i < count; ++i)
        readRow(top + i, 0, extent.width() - 1, reinterpret_cast<quint32 *>(band->scanLine(i)));
    return true;
}

QImage LayerSnapshot::image() const
{
    QImage whole(extent, format);
    if (whole.isNull())
        return whole;
    for (int y = 0; y < extent.height(); ++y)
        readRow(y, 0, extent.width() - 1, reinterpret_cast<quint32 *>(whole.scanLine(y)));
    return whole;
}

bool LayerSnapshot::isIntact() const
{
    QMutexLocker lock(&mutex);
    return !before.overflowed();
}

void LayerSnapshot::keep(const QImage &live, const QRect &area)
{
    QMutexLocker lock(&mutex);
    before.capture(live, area);
}

void LayerSnapshot::keepRow(const QImage &live, int y, int left, int right)
{
    QMutexLocker lock(&mutex);
    before.captureRow(live, y, left, right);
}

void LayerSnapshot::adopt(const QImage &live)
{
    QMutexLocker lock(&mutex);
    held = live;
    bits = held.constBits();
}
