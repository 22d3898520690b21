#ifndef REFERENCELAYER_H
#define REFERENCELAYER_H

#include <QImage>
#include <QPoint>
#include <QRgb>

// Straightforward versions of the colour layer's pixel maths, written as
// plainly as possible. The program's own versions are measured against these,
// in the tests for their results and in the benchmark for their speed.
namespace Reference {

// The layer as drawn on screen: a detached copy in which every interior pixel
// that differs from one of its four neighbours is replaced by the truncated
// weighted average (centre 1/2, each neighbour 1/8, per byte). Edge pixels are
// collected first, their new values computed into an ordered map, and only
// then written back.
QImage smoothedLayer(const QImage &layer);

// The colour a painted pixel takes, through the toolkit's own per-pixel path:
// the brush's hue and saturation, the photo pixel's HSV value, alpha 220.
QRgb colourised(QRgb brush, const QImage &photo, const QPoint &p);

// The natural model as the compositing "color" blend mode defines it, step by
// step in floating point on 0..1 channels: SetLum(brush, Lum(photo pixel))
// with Lum = 0.3 R + 0.59 G + 0.11 B and ClipColor, rounded to the nearest
// level, at the given alpha. `nearTie`, when given, tells whether a channel
// lay so close to halfway between two levels that either is right.
QRgb natural(QRgb brush, QRgb photoPixel, int alpha, bool *nearTie = nullptr);

} // namespace Reference

#endif // REFERENCELAYER_H
