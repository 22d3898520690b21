#ifndef BRUSHGEOMETRY_H
#define BRUSHGEOMETRY_H

#include "imaging/coveragespans.h"
#include "imaging/rowspan.h"

#include <QList>
#include <QPoint>
#include <QPointF>
#include <QRect>

#include <array>
#include <vector>

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
    // Pixels closer to the centre than this, squared, are inside.
    qint64 squaredRadius() const { return (qint64(square.width) * square.height) / 4; }
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

// What a stroke paints: the pixels of sweep(), and with them the pixel under
// each disc's centre and the straight line of pixels between consecutive
// centres, from the centre of `painted` (whose centre pixel counts as painted)
// on. A brush too small for its disc to hold a whole pixel (a size of 1 to 3
// at 100 %, or a small brush zoomed in) still leaves a dot or a thin line,
// and a large one paints what sweep() does.
RowSpans strokeSweep(const QList<Disc> &discs, const Disc *painted, const QRect &limit);

// How much of a pixel a soft brush disc covers, by the pixel's squared
// distance d2 from the centre. A disc of squared radius r2 covers the pixels
// with d2 < r2, as the hard disc does; softness s (0 to 100 %) feathers the
// outer s % of the radius R = sqrt(r2): coverage is 255 within (1 - s) R of
// the centre and falls in a straight line to 0 at R, rounded to the nearest
// level. At 0 % every pixel inside is fully covered; at 100 % only the centre.
class SoftProfile
{
public:
    SoftProfile(qint64 r2, int softness);

    // The coverage at squared distance d2, computed from its definition.
    quint8 at(qint64 d2) const;
    // The same, by a search of the 255 level boundaries.
    int level(qint64 d2) const;
    // The coverage of `count` pixels along a row, `dx`, dx + 1, ... columns
    // from the centre and `h` the squared distance of the row, into `out`.
    // With `keepHigher` a value replaces only a lower one already in `out`.
    void row(qint64 dx, qint64 h, qint64 count, quint8 *out, bool keepHigher) const;

    qint64 squaredRadius() const { return r2; }
    int softness() const { return soft; }
    // The largest d2 that is still fully covered; -1 if none is.
    qint64 fullReach() const { return reach[255]; }

private:
    // row() for pixels outside the fully covered core.
    void rim(qint64 dx, qint64 h, qint64 count, quint8 *out, bool keepHigher) const;

    qint64 r2;
    int soft;
    double radius;
    double scale; // levels per pixel of distance
    // reach[c]: the largest d2 with coverage at least c, or -1; reach[0]
    // holds r2 - 1 and reach[256] -1, so that nothing climbs past either.
    std::array<qint64, 257> reach{};
    // The coverage at d2 = i << shift, for i up to (r2 - 1) >> shift: where
    // row() starts, at most a level or so above the coverage within.
    int shift = 0;
    std::vector<quint8> starts;
};

// The pixels that any of `discs` covers with softness `softness` (0 to 100 %),
// clipped to `limit`, each with the highest coverage any of the discs gives
// it. A soft disc covers the pixels of the hard one (Disc::row), each with the
// coverage its SoftProfile gives. Pixels that `painted` (the disc of the
// stroke painted last, or null) covers at least as well as the discs do may be
// left out, since they cannot gain; those it covers fully always are. Pixels
// whose coverage rounds to nothing are left out, and long runs of full
// coverage are whole spans. At softness 0 this is sweep() with every span
// whole.
//
// Time follows the rows times the discs plus the pixels returned: each row
// takes the lower envelope of the discs' squared distances, so each pixel is
// measured against the one centre nearest to it.
CoverageSpans softSweep(const QList<Disc> &discs, const Disc *painted, const QRect &limit, int softness);
// The same, where `earlier` holds other discs of the stroke whose sweeps were
// painted already (with this softness and limit): pixels one of them covers
// at least as well as the discs do may be left out too.
CoverageSpans softSweep(const QList<Disc> &discs, const Disc *painted, const QList<Disc> &earlier, const QRect &limit,
                        int softness);

// `shape` (a soft sweep of `discs` after `painted` at `softness`) with the centres' path
// of strokeSweep() fully covered: a soft disc covers its centre fully, so a
// soft brush too small for its disc to hold a pixel still leaves a dot or a
// thin line, as a hard one does. `shape` as it is when it covers the path
// fully already, as any but the smallest brush does.
CoverageSpans withCentrePath(CoverageSpans shape, const QList<Disc> &discs, const Disc *painted, const QRect &limit,
                             int softness);

// The discs of a move that a soft sweep needs: the first, the last, and
// between them as few as keep every pixel's coverage within about half a
// level of what all of them give (so at most a level lower once rounded,
// never higher). A move has a disc per view pixel, hundreds for a fast hand,
// and each costs a pass over every row of the sweep; a large soft brush
// needs far fewer. Pixels beside a move are nearest to the outline of the
// centres' convex hull, so the hull's corners stay and, along its sides,
// centres close to the side and close enough to each other. A small, hard or
// nearly hard brush, or discs of two sizes, keep every disc.
QList<Disc> thinnedDiscs(const QList<Disc> &discs, int softness);

// The integer points from `from` to `to` on the straight line between them,
// one per step along the longer axis, both ends included.
QList<QPoint> lineSteps(const QPoint &from, const QPoint &to);

} // namespace BrushGeometry

#endif // BRUSHGEOMETRY_H
