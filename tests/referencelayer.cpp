#include "referencelayer.h"

#include <QColor>
#include <QList>
#include <QMap>

#include <algorithm>
#include <array>
#include <cmath>

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

QRgb natural(QRgb brush, QRgb photoPixel, int alpha, bool *nearTie)
{
    using Colour = std::array<double, 3>;
    const auto lum = [](const Colour &c) { return 0.3 * c[0] + 0.59 * c[1] + 0.11 * c[2]; };
    const auto clipColour = [&lum](Colour c) {
        const double l = lum(c);
        const double n = std::min({c[0], c[1], c[2]});
        const double x = std::max({c[0], c[1], c[2]});
        if (n < 0)
            for (double &v : c)
                v = l + (v - l) * l / (l - n);
        if (x > 1)
            for (double &v : c)
                v = l + (v - l) * (1 - l) / (x - l);
        return c;
    };
    const auto setLum = [&](Colour c, double l) {
        const double d = l - lum(c);
        for (double &v : c)
            v += d;
        return clipColour(c);
    };
    const Colour source = {qRed(brush) / 255.0, qGreen(brush) / 255.0, qBlue(brush) / 255.0};
    const Colour backdrop = {qRed(photoPixel) / 255.0, qGreen(photoPixel) / 255.0, qBlue(photoPixel) / 255.0};
    const Colour result = setLum(source, lum(backdrop));

    int level[3];
    bool tie = false;
    for (int i = 0; i < 3; ++i) {
        const double v = result[i] * 255;
        level[i] = std::clamp(int(std::floor(v + 0.5)), 0, 255);
        tie = tie || std::abs(v - std::floor(v) - 0.5) < 1e-6;
    }
    if (nearTie)
        *nearTie = tie;
    return qRgba(level[0], level[1], level[2], alpha);
}

} // namespace Reference
