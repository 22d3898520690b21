#ifndef SPREADCOLOURING_H
#define SPREADCOLOURING_H

#include "imaging/colourspread.h"
#include "imaging/layersnapshot.h"
#include "imaging/strokestyle.h"

#include <QImage>
#include <QList>
#include <QRgb>
#include <QSize>

#include <atomic>

class MarkSet;

// Turns a spread's chroma into colour layer pixels through a stroke style's
// colour model and strength: the Natural model lays the spread's colour at
// the photo pixel's luminance as it is, the Classic model its hue and
// saturation at the photo pixel's HSV value, both at the style's alpha. A
// pixel whose chroma is exactly zero (where only neutral marks reach) gets no
// colour: it stays uncoloured, as a white, grey or black mark spreads none.
//
// Only uncoloured pixels are written: brush work and fills stay as they are.
// The preview of a reduced chroma is the same pixels at that level, each
// standing for the photo pixels it covers, with the level's brightness as
// the photo's; at level 0 it is exactly what writeRow() writes.
class SpreadColouring
{
public:
    SpreadColouring(const StrokeStyle &style, QRgb uncoloured);

    // The layer pixel for a photo pixel `photoPixel` of luminance `y`
    // (0-255, as ColourSpread reads it) and the given chroma differences.
    QRgb pixel(QRgb photoPixel, float y, int redDifference, int blueDifference) const;
    QRgb pixel(int value, float y, int redDifference, int blueDifference) const;

    // Writes the layer's row y from a full-resolution chroma: every pixel
    // holding the uncoloured value takes its colour; `luma` is room for one
    // photo row.
    void writeRow(const QImage &photo, const ColourSpread::Chroma &chroma, int y, QRgb *layerRow, float *luma) const;
    // The same for every row of `layer` (the photo's size), in bands of rows
    // on all cores. Throws std::bad_alloc, having written nothing, when the
    // room for the photo's rows cannot be had.
    void write(const QImage &photo, const ColourSpread::Chroma &chroma, QImage &layer) const;

    // The picture of a chroma at its own level over `layer` (the colour
    // layer, the photo's size): transparent where every photo pixel a level
    // pixel covers is coloured already or where no colour reaches. The
    // level's brightness is taken from `brightness` when it holds that
    // level, else made from the photo. Null when cancelled or out of memory.
    QImage preview(const QImage &photo, const ColourSpread::Chroma &chroma, const QImage &layer,
                   const ColourSpread::Brightness *brightness, const std::atomic_bool *cancel = nullptr) const;
    // The same over a snapshot of the layer, read while painting goes on.
    QImage preview(const QImage &photo, const ColourSpread::Chroma &chroma, const LayerSnapshot &layer,
                   const ColourSpread::Brightness *brightness, const std::atomic_bool *cancel = nullptr) const;

    // The shown colour marks as the spread reads them, pixel by pixel, the
    // oldest first so that the newest counts where marks overlap; pixels
    // outside `photoSize` are left out.
    static QList<ColourSpread::Mark> marksOf(const MarkSet &marks, QSize photoSize);

private:
    StrokeStyle::Model model;
    int alpha;
    QRgb uncoloured;
};

#endif // SPREADCOLOURING_H
