#include "imaging/brushcolour.h"

#include <algorithm>

BrushColour::BrushColour(const StrokeStyle &style, QRgb uncoloured)
    : erase(style.erase)
    , flat(uncoloured)
{
    if (erase)
        return;
    if (style.model == StrokeStyle::Model::Natural)
        natural.emplace(style.brush, style.alpha());
    else
        classic.emplace(style.brush, style.alpha());
}

void BrushColour::row(const QImage &photo, int y, int left, int right, QRgb *out) const
{
    if (erase)
        std::fill(out, out + (right - left + 1), flat);
    else if (natural)
        natural->colouriseRow(photo, y, left, right, out);
    else
        classic->colouriseRow(photo, y, left, right, out);
}
