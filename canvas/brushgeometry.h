#ifndef BRUSHGEOMETRY_H
#define BRUSHGEOMETRY_H

#include <QList>
#include <QPoint>
#include <QPointF>
#include <QRect>

// The pixel geometry of the round brush, kept apart from the view's event
// handlers so that it can be checked point by point.
namespace BrushGeometry {

// Converts a scene coordinate to a pixel coordinate by rounding toward zero.
// Coordinates far beyond any photo (a view zoomed out without bound) are
// clamped, so that the integer arithmetic below can never overflow.
int truncated(double v);

// The brush square in scene pixels, from the scene positions of its top-left
// and bottom-right corners in the view. The size is the truncated difference
// of the corners, taken before the corners themselves are truncated.
struct Square {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;

    int right() const { return left + width - 1; }
    int bottom() const { return top + height - 1; }
};
Square square(const QPointF &topLeft, const QPointF &bottomRight);

// The pixels of the brush disc: every (x, y) with left <= x < right and
// top <= y < bottom whose squared distance from `centre` is below
// (width * height) / 4, column by column and top to bottom within a column.
// The square's last column and row are not scanned. Only pixels inside
// `limit` are gathered, which keeps the work bounded by what the disc can
// touch however large it is in scene pixels.
QList<QPoint> disc(const QPoint &centre, const Square &square, const QRect &limit);

} // namespace BrushGeometry

#endif // BRUSHGEOMETRY_H
