#ifndef BRUSHGEOMETRY_H
#define BRUSHGEOMETRY_H

#include "imaging/rowspan.h"

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

// One brush disc: the truncated centre and the brush square, as a pointer
// position gives them.
struct Disc {
    QPoint centre;
    Square square;

    // The x-interval the disc covers on row y, the same pixels that disc()
    // gathers there; false where it covers none.
    bool row(int y, int *left, int *right) const;
    // The rows the disc can cover: top to bottom - 1 of its square.
    int firstRow() const { return square.top; }
    int lastRow() const { return square.bottom() - 1; }
    bool isEmpty() const { return square.left >= square.right(); }
    friend bool operator==(const Disc &a, const Disc &b)
    {
        return a.centre == b.centre && a.square.left == b.square.left && a.square.top == b.square.top
            && a.square.width == b.square.width && a.square.height == b.square.height;
    }
};

// The pixels that any of `discs` covers, as row spans clipped to `limit`,
// less the pixels of `painted` (a disc already painted, or null). Memory
// follows the rows covered, time the rows times the discs: no pixel is
// visited, however large the brush.
RowSpans sweep(const QList<Disc> &discs, const Disc *painted, const QRect &limit);

// The integer points from `from` to `to` on the straight line between them,
// one per step along the longer axis, both ends included.
QList<QPoint> lineSteps(const QPoint &from, const QPoint &to);

} // namespace BrushGeometry

#endif // BRUSHGEOMETRY_H
