#ifndef COVERAGEBLEND_H
#define COVERAGEBLEND_H

#include <QRgb>

// A stroke's pixel laid over the layer's pixel by a coverage c (0 to 255):
// in premultiplied terms `from * (1 - c / 255) + to * c / 255`, stored
// unpremultiplied and rounded to the nearest level.
class CoverageBlend
{
public:
    static inline QRgb one(QRgb from, QRgb to, unsigned c);
    // out[i] = one(from[i], to[i], c[i]) for `count` pixels; the same values,
    // four pixels at a time where the processor allows.
    static void row(const QRgb *from, const QRgb *to, const unsigned char *c, int count, QRgb *out);
};

// The weights' sums stay below 2^24, exact as floats, so this and row() do
// the same float operations on the same values and round alike.
inline QRgb CoverageBlend::one(QRgb from, QRgb to, unsigned c)
{
    const unsigned wf = qAlpha(from) * (255 - c);
    const unsigned wt = qAlpha(to) * c;
    const unsigned a = wf + wt;
    if (a == 0)
        return to;
    const QRgb alpha = QRgb((a + 127) / 255) << 24;
    if (wf == 0)
        return alpha | (to & 0x00FFFFFFu);
    if (wt == 0)
        return alpha | (from & 0x00FFFFFFu);
    const float inverse = 1.0f / float(a);
    const auto channel = [&](int shift) {
        const float sum = float((from >> shift) & 0xFFu) * float(wf) + float((to >> shift) & 0xFFu) * float(wt);
        return QRgb(sum * inverse + 0.5f) << shift;
    };
    return alpha | channel(16) | channel(8) | channel(0);
}

#endif // COVERAGEBLEND_H
