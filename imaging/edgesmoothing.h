#ifndef EDGESMOOTHING_H
#define EDGESMOOTHING_H

#include <QRect>
#include <QtGlobal>

class QImage;

// The softening that the colour layer gets on screen. Every interior pixel that
// differs (in all 32 bits) from one of its four direct neighbours becomes, byte
// by byte, centre/2 + left/8 + right/8 + above/8 + below/8, each term truncated
// on its own; all values are read from the unsmoothed layer. Pixels on the
// outermost rows and columns, and pixels equal to all four neighbours, keep
// their value. The sum is at most 4 * 31 + 127 = 251, so no byte carries into
// the next one and the four bytes can be averaged in one 32-bit word.
namespace EdgeSmoothing {

// Smoothed value of the pixel with the given value and neighbours.
inline quint32 average(quint32 centre, quint32 left, quint32 right, quint32 above, quint32 below)
{
    constexpr quint32 low5 = 0x1F1F1F1Fu;
    constexpr quint32 low7 = 0x7F7F7F7Fu;
    return ((centre >> 1) & low7) + ((left >> 3) & low5) + ((right >> 3) & low5) + ((above >> 3) & low5)
        + ((below >> 3) & low5);
}

// Writes the smoothed picture of `layer` into `out` for the pixels of `rect`
// (clipped to the layer). `layer` is ARGB32; `out` has its size and is ARGB32,
// or ARGB32_Premultiplied, in which case the smoothed values are stored
// premultiplied, ready to be drawn without a conversion. The two must not
// share pixel memory; pixels of `out` outside `rect` are left alone.
void smoothRect(const QImage &layer, QImage &out, const QRect &rect);

// The smoothed picture of the whole layer, as a new image.
QImage smoothed(const QImage &layer);

} // namespace EdgeSmoothing

#endif // EDGESMOOTHING_H
