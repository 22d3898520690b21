#ifndef PHOTOPIXELS_H
#define PHOTOPIXELS_H

#include <QImage>
#include <QRgb>

// The one place that knows how a photo's pixels are laid out in memory. A
// photo is kept in one of the formats below, read straight from its scan
// lines; anything else is converted to one of them when it is opened, and
// read through QImage::pixel should it turn up all the same.
namespace PhotoPixels {

inline bool isDirect(QImage::Format format)
{
    switch (format) {
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32:
    case QImage::Format_Grayscale8:
    case QImage::Format_RGB888:
    case QImage::Format_Indexed8:
        return true;
    default:
        return false;
    }
}

// Calls visit(red, green, blue) for the pixels left to right of row y, which
// must lie inside the photo. Alpha is not looked at: the colour layer takes
// the photo's colours, not its transparency. An index beyond a palette reads
// as black, as QImage::pixel gives it.
template <typename Visit>
inline void visitRow(const QImage &photo, int y, int left, int right, Visit &&visit)
{
    const uchar *line = photo.constScanLine(y);
    switch (photo.format()) {
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32: {
        // Not premultiplied: the stored channels are what pixel() returns.
        const auto *in = reinterpret_cast<const QRgb *>(line);
        for (int x = left; x <= right; ++x)
            visit(qRed(in[x]), qGreen(in[x]), qBlue(in[x]));
        break;
    }
    case QImage::Format_Grayscale8:
        for (int x = left; x <= right; ++x)
            visit(line[x], line[x], line[x]);
        break;
    case QImage::Format_RGB888:
        for (int x = left; x <= right; ++x) {
            const uchar *p = line + 3 * x;
            visit(p[0], p[1], p[2]);
        }
        break;
    case QImage::Format_Indexed8:
        for (int x = left; x <= right; ++x) {
            const QRgb c = line[x] < photo.colorCount() ? photo.color(line[x]) : qRgb(0, 0, 0);
            visit(qRed(c), qGreen(c), qBlue(c));
        }
        break;
    default:
        for (int x = left; x <= right; ++x) {
            const QRgb c = photo.pixel(x, y);
            visit(qRed(c), qGreen(c), qBlue(c));
        }
        break;
    }
}

} // namespace PhotoPixels

#endif // PHOTOPIXELS_H
