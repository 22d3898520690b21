#include "referencelayer.h"

#include <QColor>
#include <QList>
#include <QMap>

namespace Reference {

QImage smoothedLayer(const QImage &layer)
{
    QImage copy = layer;
    auto *p = reinterpret_cast<uint *>(copy.bits()); // detaches the copy
    const uint stride = uint(copy.bytesPerLine()) >> 2;
    const int w = copy.width();
    const int h = copy.height();

    QList<uint> edges;
    if (w >= 3 && h >= 3) {
        for (int x = 1; x <= w - 2; ++x) {
            for (int y = 1; y <= h - 2; ++y) {
                const uint i = uint(y) * stride + uint(x);
                const uint c = p[i];
                if (c != p[i + 1] || c != p[i - 1] || c != p[i - stride] || c != p[i + stride])
                    edges.append(i);
            }
        }
    }

    QMap<uint, uint> smoothed;
    for (const uint i : std::as_const(edges)) {
        uint value = 0;
        for (int shift = 0; shift < 32; shift += 8) {
            const auto byte = [shift](uint pixel) { return (pixel >> shift) & 0xFFu; };
            const uint sum = (byte(p[i - 1]) >> 3) + (byte(p[i + 1]) >> 3) + (byte(p[i]) >> 1)
                + (byte(p[i - stride]) >> 3) + (byte(p[i + stride]) >> 3);
            value |= sum << shift;
        }
        smoothed.insert(i, value);
    }
    for (auto it = smoothed.cbegin(); it != smoothed.cend(); ++it)
        p[it.key()] = it.value();
    return copy;
}

QRgb colourised(QRgb brush, const QImage &photo, const QPoint &p)
{
    const QColor brushColour(brush);
    const int value = QColor(photo.pixel(p.x(), p.y())).value();
    return QColor::fromHsv(brushColour.hsvHue(), brushColour.hsvSaturation(), value, 220).rgba();
}

} // namespace Reference
