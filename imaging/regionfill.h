#ifndef REGIONFILL_H
#define REGIONFILL_H

#include "imaging/coveragespans.h"
#include "imaging/rowspan.h"

#include <QImage>
#include <QList>
#include <QPoint>
#include <QSize>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>

// The region that keep marks and remove marks stand for: an interactive graph
// cut (Boykov and Jolly) whose energy has a regional and a boundary term.
// The regional term is how likely each pixel's appearance (brightness and the
// texture around it) is under the keep side's and the remove side's Gaussian
// mixtures, re-estimated from the cut a few times as GrabCut does. The first
// cuts also weigh how much nearer each pixel is to a keep mark than to a
// remove mark along paths that pay for the edges they cross, so that a short
// stroke grows to the region's edges instead of a sliver around it, and the
// region does not wrap round a thin remove stroke into an area beyond it
// that only looks like the object; later cuts push out only what lies
// clearly nearer a remove mark. The
// boundary term joins each pixel to its eight neighbours by
// exp(-dI^2 / 2 sigma^2), sigma from the photo's own contrast. Marks are hard
// constraints; the photo's border is no cheaper to cut along than any other
// place. The minimum cut is found with Boykov and Kolmogorov's max-flow on
// the pixel grid itself (GridMaxFlow).
//
// Large photos are cut as a multilevel banded graph cut (Lombaert et al.):
// with the model's iterations on a reduced copy of at most `cutPixels`
// pixels, then, halving the scale step by step, only in a band a few pixels
// wide around the boundary found and around any mark that the coarser cut put
// on the wrong side. A part thinner than the reduced copy's pixels that the
// coarse cut missed away from the band is not found again.
//
// A preview stops at a reduced size (the view's); sharpen() carries it on to
// a finer preview and refine() to full resolution, so that a fill refines
// exactly the region previewed. compute() is all in one go.
//
// Only pixels 4-connected within the region to a keep mark are returned. The
// edge of the full-resolution region is softened by an edge-aware matte in a
// band of a few pixels. Nothing here touches shared state, so it may run on a
// worker thread; the same input always gives the same region.
class RegionFill
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
        Result() = default;
        // The region's pixels all wholly covered.
        Result(Outcome outcome, const RowSpans &spans)
            : outcome(outcome)
            , spans(spans)
            , region(spans)
        { }

        Outcome outcome = Outcome::NoKeepMark;
        // The region as the cut found it, every pixel wholly covered: what a
        // hard fill colours. Empty unless `outcome` is Filled.
        RowSpans spans;
        // The same region with a soft rim: a few pixels on each side of its
        // boundary partly covered, so `spans` and pixels just outside them.
        CoverageSpans region;
        Qt::Edges edgesReached; // sides of the photo the region touches with no keep mark near
        bool small = false;     // the region is under 1 % of the photo
    };

    struct State;

    // The region at a reduced size, and what a refinement needs to go on.
    struct Preview {
        Outcome outcome = Outcome::NoKeepMark;
        int scale = 1;  // a preview pixel stands for scale x scale photo pixels
        QSize size;     // the reduced photo's size
        RowSpans spans; // the region at the reduced size; empty unless Filled
        Qt::Edges edgesReached;
        bool small = false;
        std::shared_ptr<const State> state;
    };

    // Called with a percentage as the stages finish, on the computing thread.
    using Progress = std::function<void(int percent)>;

    // The largest cut on the whole (reduced) photo: a photo larger than this
    // is halved until it fits.
    static constexpr qint64 defaultCutPixels = 1 << 17;
    // A photo larger than this is previewed reduced: a 1920 x 1080 view.
    static constexpr qint64 defaultPreviewPixels = 1920 * 1080;
    // A region under this share of the photo is reported as small.
    static constexpr double smallShare = 0.01;

    // Marks outside the photo are ignored; a pixel marked both ways counts as
    // removed. `cancel`, when given, is read between stages and while the
    // graphs are built; a raised flag ends the computation with Cancelled.
    // `cutPixels` is for measurements: a value at least the photo's area cuts
    // the whole photo at full resolution in one go.
    static Result compute(const QImage &photo, const QList<QPoint> &keepMarks, const QList<QPoint> &removeMarks,
                          const std::atomic_bool *cancel = nullptr, const Progress &progress = {},
                          qint64 cutPixels = defaultCutPixels);

    // The region at the largest halving of the photo with at most
    // `previewPixels` pixels (the photo itself when it is that small).
    static Preview preview(const QImage &photo, const QList<QPoint> &keepMarks, const QList<QPoint> &removeMarks,
                           qint64 previewPixels = defaultPreviewPixels, const std::atomic_bool *cancel = nullptr,
                           const Progress &progress = {}, qint64 cutPixels = defaultCutPixels);

    // A preview carried on to the largest halving with at most
    // `previewPixels` pixels, exactly as preview() would have cut it with
    // that many: a quick coarse preview first, a sharper one after. One
    // already that fine, or one that did not fill, is given back as it is.
    static Preview sharpen(const QImage &photo, const Preview &coarse, qint64 previewPixels,
                           const std::atomic_bool *cancel = nullptr);
    // The previewed region at full resolution. `photo` must be the photo the
    // preview was computed from; a preview that did not fill gives its own
    // outcome back.
    static Result refine(const QImage &photo, const Preview &preview, const std::atomic_bool *cancel = nullptr,
                         const Progress &progress = {});

    // A one-line explanation of an outcome, for the status bar.
    static QString outcomeText(Outcome outcome);
    // What a filled region says about the marks, or an empty string.
    static QString adviceText(Qt::Edges edgesReached, bool small);
};

#endif // REGIONFILL_H
