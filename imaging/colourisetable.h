#ifndef COLOURISETABLE_H
#define COLOURISETABLE_H

#include <QRgb>

#include <array>

class QImage;

// The colour a painted pixel takes: the brush's hue and saturation, the HSV
// value (brightness) of the photo pixel beneath, alpha 220 unless a stroke of
// another strength asks otherwise. The toolkit's HSV to RGB conversion depends
// only on hue, saturation and value, and a photo pixel's value is 0 to 255, so
// one table of 256 colours per brush reproduces QColor::fromHsv(...).rgba()
// exactly at the price of a lookup.
class ColouriseTable
{
public:
    static constexpr int paintedAlpha = 220;

    // Only the hue and saturation of `brush` matter; its alpha byte and its
    // brightness are ignored. `alpha` is the alpha of every colour given.
    explicit ColouriseTable(QRgb brush, int alpha = paintedAlpha);

    QRgb colourFor(int value) const { return table[static_cast<unsigned>(value) & 0xFFu]; }

    // The HSV value (the largest of red, green and blue) of the photo pixel at
    // (x, y), as QColor(photo.pixel(x, y)).value() gives it. Formats that photos
    // usually come in are read straight from the scan line; the rest go through
    // QImage::pixel. (x, y) must lie inside the photo.
    static int valueAt(const QImage &photo, int x, int y);

    // Colourises the photo's pixels left to right on row y into `out`, as
    // colourFor(valueAt(...)) would one by one. The row segment must lie
    // inside the photo.
    void colouriseRow(const QImage &photo, int y, int left, int right, QRgb *out) const;

private:
    std::array<QRgb, 256> table;
};

#endif // COLOURISETABLE_H
