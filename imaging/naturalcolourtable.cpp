#include "imaging/naturalcolourtable.h"

#include <QImage>

#include <algorithm>
#include <cmath>

NaturalColourTable::NaturalColourTable(QRgb brush, int alpha)
    : table(levels)
{
    // SetLum moves the brush by the same amount on every channel, so the
    // result is L + k * (brush - Lum(brush)) with k = 1 unless ClipColor pulls
    // the colour towards grey: to reach 0 on the lowest channel, k = L / -min,
    // or 255 on the highest, k = (255 - L) / max. Applying the two clips in
    // turn comes to the smaller k.
    const double channel[3] = {double(qRed(brush)), double(qGreen(brush)), double(qBlue(brush))};
    const double brushLum = 0.3 * channel[0] + 0.59 * channel[1] + 0.11 * channel[2];
    double offset[3];
    for (int c = 0; c < 3; ++c)
        offset[c] = channel[c] - brushLum;
    const double low = std::min({offset[0], offset[1], offset[2]});
    const double high = std::max({offset[0], offset[1], offset[2]});
    const auto toByte = [](double v) { return std::clamp(int(std::floor(v + 0.5)), 0, 255); };
    const QRgb a = QRgb(std::clamp(alpha, 0, 255)) << 24;

    for (int i = 0; i < levels; ++i) {
        const double lum = i / 100.0;
        double k = 1;
        if (low < 0 && lum + low < 0)
            k = std::min(k, lum / -low);
        if (high > 0 && lum + high > 255)
            k = std::min(k, (255 - lum) / high);
        table[size_t(i)] = a | QRgb(toByte(lum + k * offset[0])) << 16 | QRgb(toByte(lum + k * offset[1])) << 8
            | QRgb(toByte(lum + k * offset[2]));
    }
    for (int v = 0; v < 256; ++v)
        greys[size_t(v)] = table[size_t(100 * v)];
}

int NaturalColourTable::lumIndexAt(const QImage &photo, int x, int y)
{
    const uchar *line = photo.constScanLine(y);
    switch (photo.format()) {
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32:
        // Not premultiplied: the stored red, green and blue are what pixel() returns.
        return lumIndex(reinterpret_cast<const QRgb *>(line)[x]);
    case QImage::Format_Grayscale8:
        return 100 * line[x];
    case QImage::Format_RGB888: {
        const uchar *p = line + 3 * x;
        return 30 * p[0] + 59 * p[1] + 11 * p[2];
    }
    case QImage::Format_Indexed8: {
        // An index beyond the colour table reads as 0, as pixel() gives it.
        const int index = line[x];
        return index < photo.colorCount() ? lumIndex(photo.color(index)) : 0;
    }
    default:
        return lumIndex(photo.pixel(x, y));
    }
}

void NaturalColourTable::colouriseRow(const QImage &photo, int y, int left, int right, QRgb *out) const
{
    const uchar *line = photo.constScanLine(y);
    const QRgb *t = table.data();
    switch (photo.format()) {
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32: {
        const auto *in = reinterpret_cast<const QRgb *>(line);
        for (int x = left; x <= right; ++x)
            *out++ = t[lumIndex(in[x])];
        break;
    }
    case QImage::Format_Grayscale8:
        for (int x = left; x <= right; ++x)
            *out++ = greys[line[x]];
        break;
    case QImage::Format_RGB888:
        for (int x = left; x <= right; ++x) {
            const uchar *p = line + 3 * x;
            *out++ = t[30 * p[0] + 59 * p[1] + 11 * p[2]];
        }
        break;
    case QImage::Format_Indexed8: {
        const QList<QRgb> palette = photo.colorTable();
        const qsizetype count = palette.size();
        for (int x = left; x <= right; ++x) {
            const int index = line[x];
            *out++ = t[index < count ? lumIndex(palette[index]) : 0];
        }
        break;
    }
    default:
        for (int x = left; x <= right; ++x)
            *out++ = t[lumIndexAt(photo, x, y)];
        break;
    }
}
