#ifndef BRUSHCOLOUR_H
#define BRUSHCOLOUR_H

#include "imaging/colourisetable.h"
#include "imaging/naturalcolourtable.h"
#include "imaging/strokestyle.h"

#include <QRgb>

#include <optional>

class QImage;

// The pixel a stroke lays where it covers a photo pixel fully: the brush in
// the stroke's colour model at the stroke's alpha, or the uncoloured value
// when the stroke erases. Made once per stroke, since the natural model's
// table has 25501 entries.
class BrushColour
{
public:
    BrushColour(const StrokeStyle &style, QRgb uncoloured);

    bool erases() const { return erase; }
    QRgb uncoloured() const { return flat; }

    // The stroke's pixels for the photo's row y from left to right, into
    // `out`. The segment must lie inside the photo unless the stroke erases,
    // in which case the photo is not read.
    void row(const QImage &photo, int y, int left, int right, QRgb *out) const;

private:
    bool erase;
    QRgb flat;
    std::optional<ColouriseTable> classic;
    std::optional<NaturalColourTable> natural;
};

#endif // BRUSHCOLOUR_H
