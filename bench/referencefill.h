#ifndef REFERENCEFILL_H
#define REFERENCEFILL_H

#include "imaging/rowspan.h"

#include <QImage>
#include <QList>
#include <QPoint>
#include <QString>

#include <atomic>
#include <functional>

// The region fill as it was before it had a model of the region's appearance,
// kept for the benchmarks to measure against. The region that keep marks and
// remove marks enclose along the photo's own edges: an interactive graph cut (Boykov and Jolly) on the photo's
// brightness, with the marks as hard constraints and neighbouring pixels joined by exp(-dI^2 / 2 sigma^2). The minimum
// cut is found with Boost Graph's Boykov-Kolmogorov max-flow.
//
// Large photos are cut as a multilevel banded graph cut (Lombaert et al.):
// once on a reduced copy of at most `defaultCutPixels` pixels, then, halving
// the scale step by step, only in a narrow band around the boundary found,
// with the pixels just outside the band holding their labels. The work then
// follows the boundary's length rather than the photo's area.
//
// Without a remove mark the outside of the photo stands for it, joined to the
// photo's border as a flat area would be: a keep mark inside a shape with a
// clear edge then fills the shape. When the cut found follows no edge (a
// uniform photo, or a boundary mostly across flat or textured areas), nothing
// is filled: the region would be arbitrary.
//
// Only pixels 4-connected within the region to a keep mark are returned. The
// computation touches no shared state, so it may run on a worker thread.
class ReferenceFill
{
public:
    enum class Outcome {
        Filled,
        NoKeepMark,
        NoEdgeToStopAt,
        Cancelled,
        OutOfMemory,
    };

    struct Result {
        Outcome outcome = Outcome::NoKeepMark;
        RowSpans spans; // empty unless `outcome` is Filled
    };

    // Called with a percentage as the stages finish, on the computing thread.
    using Progress = std::function<void(int percent)>;

    // The largest cut on the whole (reduced) photo: a photo larger than this
    // is halved until it fits.
    static constexpr qint64 defaultCutPixels = 1 << 17;

    // Marks outside the photo are ignored; a pixel marked both ways counts as
    // removed. `cancel`, when given, is read between stages and while the
    // graphs are built; a raised flag ends the computation with Cancelled.
    // `cutPixels` is for measurements: a value at least the photo's area cuts
    // the whole photo at full resolution in one go.
    static Result compute(const QImage &photo, const QList<QPoint> &keepMarks, const QList<QPoint> &removeMarks,
                          const std::atomic_bool *cancel = nullptr, const Progress &progress = {},
                          qint64 cutPixels = defaultCutPixels);

    // A one-line explanation of an outcome, for the status bar.
    static QString outcomeText(Outcome outcome);
};

#endif // REFERENCEFILL_H
