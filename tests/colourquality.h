#ifndef COLOURQUALITY_H
#define COLOURQUALITY_H

#include "imaging/strokestyle.h"

#include <QImage>

// How a colour model looks on a real photo: an object of the evaluation set
// painted with its true median colour over the grey photo, laid on the photo
// as the canvas and a flat save show it (the layer drawn over the photo), and
// measured against the true colour photo. Shared by the quality test and the
// quality benchmark.
namespace ColourQuality {

struct Figures {
    double deltaE = 0;     // mean CIEDE2000 against the colour photo, over the object
    double lumaShift = 0;  // mean luma of the painted pixels against the grey photo's, relative
    double lumaLevels = 0; // mean absolute luma difference per pixel, in levels
};

// Fills `mask` (non-zero inside) with a hard stroke of `style` on an empty
// layer over `grey` (Format_Grayscale8), composes and measures. The composed
// photo is stored in *composed when given.
Figures paintObject(const QImage &grey, const QImage &colour, const QImage &mask, const StrokeStyle &style,
                    QImage *composed = nullptr);

} // namespace ColourQuality

#endif // COLOURQUALITY_H
