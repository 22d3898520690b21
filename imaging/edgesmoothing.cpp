#include "imaging/edgesmoothing.h"

#include <QImage>
#include <QRgb>

namespace EdgeSmoothing {

namespace {

template <bool premultiply> void smoothArea(const QImage &layer, QImage &out, const QRect &area)
{
    if (area.isEmpty())
        return;

    const int width = layer.width();
    const int height = layer.height();
    const qsizetype stride = layer.bytesPerLine() / 4;
    const auto *src = reinterpret_cast<const quint32 *>(layer.constBits());

    for (int y = area.top(); y <= area.bottom(); ++y) {
        const quint32 *row = src + y * stride;
        auto *dst = reinterpret_cast<quint32 *>(out.scanLine(y));
        const bool interiorRow = y > 0 && y < height - 1;
        for (int x = area.left(); x <= area.right(); ++x) {
            const quint32 centre = row[x];
            if (!interiorRow || x == 0 || x == width - 1) {
                dst[x] = premultiply ? qPremultiply(centre) : centre;
                continue;
            }
            const quint32 left = row[x - 1];
            const quint32 right = row[x + 1];
            const quint32 above = row[x - stride];
            const quint32 below = row[x + stride];
            const quint32 value = centre == left && centre == right && centre == above && centre == below
                ? centre
                : average(centre, left, right, above, below);
            dst[x] = premultiply ? qPremultiply(value) : value;
        }
    }
}

} // namespace

void smoothRect(const QImage &layer, QImage &out, const QRect &rect)
{
    Q_ASSERT(layer.size() == out.size());
    Q_ASSERT(layer.format() == QImage::Format_ARGB32);
    Q_ASSERT(out.format() == QImage::Format_ARGB32 || out.format() == QImage::Format_ARGB32_Premultiplied);

    const QRect area = rect & layer.rect();
    if (area.isEmpty())
        return;
    if (out.format() == QImage::Format_ARGB32_Premultiplied)
        smoothArea<true>(layer, out, area);
    else
        smoothArea<false>(layer, out, area);
}

QImage smoothed(const QImage &layer)
{
    QImage out(layer.size(), QImage::Format_ARGB32);
    smoothRect(layer, out, layer.rect());
    return out;
}

} // namespace EdgeSmoothing
