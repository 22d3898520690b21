#include "imaging/colourisetable.h"

#include <QColor>
#include <QImage>

#include <algorithm>

ColouriseTable::ColouriseTable(QRgb brush, int alpha)
{
    const QColor brushColour(brush);
    const int hue = brushColour.hsvHue();
    const int saturation = brushColour.hsvSaturation();
    alpha = std::clamp(alpha, 0, 255);
    for (int value = 0; value < 256; ++value)
        table[value] = QColor::fromHsv(hue, saturation, value, alpha).rgba();
}

static inline int maxOfRgb(QRgb rgb)
{
    return std::max({qRed(rgb), qGreen(rgb), qBlue(rgb)});
}

int ColouriseTable::valueAt(const QImage &photo, int x, int y)
{
    const uchar *line = photo.constScanLine(y);
    switch (photo.format()) {
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32:
        // Not premultiplied: the stored red, green and blue are what pixel() returns.
        return maxOfRgb(reinterpret_cast<const QRgb *>(line)[x]);
    case QImage::Format_Grayscale8:
        return line[x];
    case QImage::Format_RGB888: {
        const uchar *p = line + 3 * x;
        return std::max({p[0], p[1], p[2]});
    }
    case QImage::Format_Indexed8: {
        // An index beyond the colour table reads as 0, as pixel() gives it.
        const int index = line[x];
        return index < photo.colorCount() ? maxOfRgb(photo.color(index)) : 0;
    }
    default:
        return maxOfRgb(photo.pixel(x, y));
    }
}

void ColouriseTable::colouriseRow(const QImage &photo, int y, int left, int right, QRgb *out) const
{
    const uchar *line = photo.constScanLine(y);
    switch (photo.format()) {
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32: {
        const auto *in = reinterpret_cast<const QRgb *>(line);
        for (int x = left; x <= right; ++x)
            *out++ = table[maxOfRgb(in[x])];
        break;
    }
    case QImage::Format_Grayscale8:
        for (int x = left; x <= right; ++x)
            *out++ = table[line[x]];
        break;
    case QImage::Format_RGB888:
        for (int x = left; x <= right; ++x) {
            const uchar *p = line + 3 * x;
            *out++ = table[std::max({p[0], p[1], p[2]})];
        }
        break;
    default:
        for (int x = left; x <= right; ++x)
            *out++ = table[valueAt(photo, x, y)];
        break;
    }
}
