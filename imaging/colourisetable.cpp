#include "imaging/colourisetable.h"

#include "imaging/photopixels.h"

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

int ColouriseTable::valueAt(const QImage &photo, int x, int y)
{
    int value = 0;
    PhotoPixels::visitRow(photo, y, x, x, [&value](int r, int g, int b) { value = std::max({r, g, b}); });
    return value;
}

void ColouriseTable::colouriseRow(const QImage &photo, int y, int left, int right, QRgb *out) const
{
    if (photo.format() == QImage::Format_Grayscale8) {
        // The common case of a black-and-white photo: its value is its byte.
        const uchar *line = photo.constScanLine(y);
        for (int x = left; x <= right; ++x)
            *out++ = table[line[x]];
        return;
    }
    PhotoPixels::visitRow(photo, y, left, right, [this, &out](int r, int g, int b) {
        *out++ = table[std::max({r, g, b})];
    });
}
