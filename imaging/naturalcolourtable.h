#ifndef NATURALCOLOURTABLE_H
#define NATURALCOLOURTABLE_H

#include <QRgb>

#include <array>
#include <vector>

class QImage;

// The colour a painted pixel takes in the natural model: the brush's hue and
// saturation at the luminance of the photo pixel beneath, as the "color" blend
// mode of compositing defines it (SetLum(brush, Lum(photo)) with ClipColor,
// Lum = 0.3 R + 0.59 G + 0.11 B), at the stroke's alpha. Laid over the grey
// photo, the colour changes and the brightness stays.
//
// Lum of an 8-bit pixel is a whole number of hundredths of a level,
// 30 R + 59 G + 11 B out of 25500, so one table of 25501 colours per brush
// gives the exact result for any pixel with one lookup. A grey pixel v reads
// entry 100 v: the 256 grey entries are the table a grey photo uses.
class NaturalColourTable
{
public:
    static constexpr int levels = 25501;

    // Only the red, green and blue of `brush` matter; `alpha` is the alpha of
    // every colour the table gives.
    NaturalColourTable(QRgb brush, int alpha);

    // 100 times the luminance of `rgb`: 30 R + 59 G + 11 B, 0 to 25500.
    static int lumIndex(QRgb rgb) { return 30 * qRed(rgb) + 59 * qGreen(rgb) + 11 * qBlue(rgb); }

    QRgb colourFor(int lumIndex) const { return table[static_cast<unsigned>(lumIndex) % levels]; }
    QRgb colourForGrey(int value) const { return greys[static_cast<unsigned>(value) & 0xFFu]; }

    // lumIndex() of the photo pixel at (x, y) as QImage::pixel gives it, read
    // straight from the scan line for the formats photos come in.
    static int lumIndexAt(const QImage &photo, int x, int y);

    // Colourises the photo's pixels left to right on row y into `out`, as
    // colourFor(lumIndexAt(...)) would one by one. The row segment must lie
    // inside the photo.
    void colouriseRow(const QImage &photo, int y, int left, int right, QRgb *out) const;

private:
    std::vector<QRgb> table;
    // Every 100th entry, side by side: a grey photo reads only these.
    std::array<QRgb, 256> greys{};
};

#endif // NATURALCOLOURTABLE_H
