#include "app/fillcontroller.h"

#include "app/document.h"
#include "app/fillrunner.h"
#include "app/previewrunner.h"
#include "canvas/czefgraphicsview.h"
#include "canvas/previewitem.h"
#include "imaging/markset.h"

#include <QGraphicsScene>
#include <QPointer>
#include <QUndoStack>

#include <algorithm>
#include <vector>

namespace {

constexpr int messageTimeout = 3000;
// Amber stands out on a grey photo and from the keep and remove marks; the
// dark line beside it keeps the boundary seen on light grey too.
constexpr QRgb outlineColour = qRgb(255, 176, 0);
constexpr QRgb shadowColour = qRgba(0, 0, 0, 150);
constexpr int tintAlpha = 40;

} // namespace

FillController::FillController(CZefGraphicsView *view, Document *document, FillRunner *fillRunner, QObject *parent)
    : QObject(parent)
    , view(view)
    , doc(document)
    , fillRunner(fillRunner)
    , runner(new PreviewRunner(this))
    , item(new PreviewItem)
    , computePreview(
          [](const QImage &photo, const QList<QPoint> &keep, const QList<QPoint> &remove, qint64 pixels,
             const std::atomic_bool *cancel) { return RegionFill::preview(photo, keep, remove, pixels, cancel); })
{
    runner->setTimeLimit(previewTimeLimitMs);
    // The picture carries its own translucency: the outline must stay seen.
    item->setOpacity(1);
    item->setVisible(false);

    fillRunner->setComputation([this](const QImage &photo, const QList<QPoint> &keep, const QList<QPoint> &remove,
                                      const std::atomic_bool *cancel, const RegionFill::Progress &progress) {
        if (refineFrom)
            return RegionFill::refine(photo, *refineFrom, cancel, progress);
        return RegionFill::compute(photo, keep, remove, cancel, progress);
    });

    // Marks change one by one during a drag; the preview waits for the drag's
    // end, and a burst of changes (an undo of a drag) asks once.
    refreshTimer.setSingleShot(true);
    refreshTimer.setInterval(0);
    connect(&refreshTimer, &QTimer::timeout, this, &FillController::refresh);
    // What the marks or the history change asks for a new preview, and
    // outdates what the last fill said.
    const auto changed = [this] {
        outdateMessage();
        scheduleRefresh();
    };
    MarkSet *marks = doc->marks();
    connect(marks, &MarkSet::added, this, changed);
    connect(marks, &MarkSet::removed, this, changed);
    connect(marks, &MarkSet::hiddenChanged, this, changed);
    connect(doc->history(), &QUndoStack::indexChanged, this, changed);
    connect(doc, &Document::photoChanged, this, [this] {
        outdateMessage();
        // A preview of the former photo must not arrive over this one.
        runner->cancel();
        requested = false;
        forgetPreview();
        scheduleRefresh();
    });
}

FillController::~FillController()
{
    runner->cancel();
    // Once shown, the item belongs to the scene, which may go first or last;
    // one never shown is still ours.
    if (!scene && !everShown)
        delete item;
}

void FillController::showPicture(const QImage &picture, qreal scale)
{
    // The scene holds the photo and what shows it, so the item joins it
    // only with its first picture.
    if (!everShown && view->scene()) {
        scene = view->scene();
        scene->addItem(item);
        everShown = true;
    }
    item->setPicture(picture, scale);
}

void FillController::setMarkerToolActive(bool active)
{
    if (markerTool == active)
        return;
    markerTool = active;
    if (!active) {
        runner->cancel();
        requested = false;
        hidePreview();
    }
    scheduleRefresh();
}

qint64 FillController::previewPixels() const
{
    if (fixedPreviewPixels > 0)
        return fixedPreviewPixels;
    const qreal ratio = view->viewport()->devicePixelRatioF();
    const qint64 shownPixels = qint64(view->viewport()->width() * ratio) * qint64(view->viewport()->height() * ratio);
    return std::clamp(shownPixels, minPreviewPixels, RegionFill::defaultPreviewPixels);
}

void FillController::scheduleRefresh()
{
    if (markerTool)
        refreshTimer.start();
}

void FillController::refresh()
{
    if (!markerTool || !doc->hasPhoto() || fillRunner->isRunning())
        return;
    if (view->isStroking())
        return; // the drag's end asks again
    const QSize size = doc->photo().size();
    QList<QPoint> keep = doc->marks()->pixels(Mark::Keep, size);
    QList<QPoint> remove = doc->marks()->pixels(Mark::Remove, size);
    if (keep.isEmpty()) {
        runner->cancel();
        requested = false;
        forgetPreview();
        return;
    }
    if (requested && keep == requestedKeep && remove == requestedRemove)
        return;
    if (shown && keep == shown->keep && remove == shown->remove) {
        // Back to the marks shown (a drag undone and redone before the
        // preview came): nothing to compute.
        runner->cancel();
        requested = false;
        item->setVisible(true);
        return;
    }
    requestedKeep = keep;
    requestedRemove = remove;
    requested = true;

    // A quick preview at the coarsest cut's size first, then, when the view
    // shows more, the same carried on to the view's size: the outline follows
    // a drag at once and sharpens a moment later.
    const qint64 pixels = previewPixels();
    const qint64 quick = std::min(pixels, quickPreviewPixels);
    QPointer<FillController> self(this);
    runner->request([self, photo = doc->photo(), keep = std::move(keep), remove = std::move(remove), quick, pixels,
                     compute = computePreview](const std::atomic_bool *cancel) {
        auto made = std::make_shared<Shown>(Shown{keep, remove, compute(photo, keep, remove, quick, cancel)});
        if (cancel->load() || made->preview.outcome == RegionFill::Outcome::Cancelled)
            return PreviewRunner::Deliver();
        // Whether the next finer halving still fits the view.
        const int finer = made->preview.scale / 2;
        const bool sharper = finer >= 1 && made->preview.outcome == RegionFill::Outcome::Filled && made->preview.state
            && qint64((photo.width() + finer - 1) / finer) * ((photo.height() + finer - 1) / finer) <= pixels;
        return delivery(self, made, sharper ? [photo, made, pixels](const std::atomic_bool *cancel) {
            return Shown{made->keep, made->remove, RegionFill::sharpen(photo, made->preview, pixels, cancel)};
        } : Sharpening());
    });
}

std::function<void()> FillController::delivery(QPointer<FillController> self, std::shared_ptr<const Shown> made,
                                               Sharpening sharpen)
{
    QImage picture = outline(made->preview);
    return PreviewRunner::Deliver([self, made, picture, sharpen = std::move(sharpen)] {
        if (!self)
            return;
        self->shown = made;
        if (picture.isNull()) {
            self->hidePreview();
            // Marks that cannot make a region: why nothing shows, while
            // the marks are being laid.
            const RegionFill::Outcome why = made->preview.outcome;
            if (self->markerTool
                && (why == RegionFill::Outcome::NoEdgeToStopAt || why == RegionFill::Outcome::OutOfMemory))
                self->tell(RegionFill::outcomeText(why));
        } else {
            self->showPicture(picture, made->preview.scale);
            self->item->setVisible(self->markerTool);
        }
        if (!sharpen) {
            self->requested = false;
            return;
        }
        self->runner->request([self, sharpen](const std::atomic_bool *cancel) {
            auto finer = std::make_shared<const Shown>(sharpen(cancel));
            if (cancel->load() || finer->preview.outcome == RegionFill::Outcome::Cancelled)
                return PreviewRunner::Deliver();
            return delivery(self, finer, Sharpening());
        });
    });
}

void FillController::hidePreview()
{
    item->setVisible(false);
}

void FillController::forgetPreview()
{
    shown.reset();
    item->clear();
    item->setVisible(false);
}

QImage FillController::outline(const RegionFill::Preview &preview)
{
    if (preview.outcome != RegionFill::Outcome::Filled || preview.spans.isEmpty() || preview.size.isEmpty())
        return QImage();
    const int width = preview.size.width();
    const int height = preview.size.height();
    // The region with a frame of outside pixels around it, so that the photo's
    // edge reads as outside without a test per pixel.
    const qsizetype stride = qsizetype(width) + 2;
    std::vector<quint8> inside(size_t(stride) * size_t(height + 2), 0);
    for (const RowSpan &span : preview.spans) {
        if (span.y < 0 || span.y >= height)
            continue;
        const int left = std::max(span.left, 0);
        const int right = std::min(span.right, width - 1);
        if (left <= right)
            std::fill_n(inside.begin() + (span.y + 1) * stride + left + 1, right - left + 1, quint8(1));
    }

    QImage picture(preview.size, QImage::Format_ARGB32_Premultiplied);
    if (picture.isNull())
        return picture;
    picture.fill(Qt::transparent);
    const QRgb line = outlineColour;
    const QRgb tint = qPremultiply(qRgba(qRed(line), qGreen(line), qBlue(line), tintAlpha));
    const QRgb shadow = qPremultiply(shadowColour);
    for (int y = 0; y < height; ++y) {
        auto *row = reinterpret_cast<QRgb *>(picture.scanLine(y));
        const quint8 *above = inside.data() + y * stride + 1;
        const quint8 *here = above + stride;
        const quint8 *below = here + stride;
        for (int x = 0; x < width; ++x) {
            const quint8 in = here[x];
            // A pixel on either side of the boundary: one inside with a
            // neighbour outside (the photo's edge counts as outside), or the
            // reverse.
            const bool edge = in ? !(here[x - 1] & here[x + 1] & above[x] & below[x])
                                 : (here[x - 1] | here[x + 1] | above[x] | below[x]);
            if (edge)
                row[x] = in ? line : shadow;
            else if (in)
                row[x] = tint;
        }
    }
    return picture;
}

void FillController::fill()
{
    if (!doc->hasPhoto()) {
        emit message(tr("Open a photo first"), messageTimeout);
        return;
    }
    if (view->isStroking() || fillRunner->isRunning())
        return;
    const QSize size = doc->photo().size();
    const QList<QPoint> keep = doc->marks()->pixels(Mark::Keep, size);
    const QList<QPoint> remove = doc->marks()->pixels(Mark::Remove, size);
    // A preview still to come is of no use now; the fill needs the cores.
    runner->cancel();
    requested = false;
    if (shown && shown->keep == keep && shown->remove == remove)
        refineFrom = std::shared_ptr<const RegionFill::Preview>(shown, &shown->preview);
    const RegionFill::Result result = fillRunner->run(doc->photo(), keep, remove);
    refineFrom.reset();
    if (fillRunner->closeRequested()) {
        emit closeRequested();
        return;
    }
    if (result.outcome != RegionFill::Outcome::Filled) {
        tell(RegionFill::outcomeText(result.outcome));
        return;
    }
    if (!doc->fill(result.region)) {
        emit message(tr("The fill was too large to record: it cannot be undone."));
        return;
    }
    tell(RegionFill::adviceText(result.edgesReached, result.small));
}

void FillController::tell(const QString &text)
{
    emit message(text);
    told = text;
}

void FillController::outdateMessage()
{
    if (told.isEmpty())
        return;
    emit messageOutdated(told);
    told.clear();
}
