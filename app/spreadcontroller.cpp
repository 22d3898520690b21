#include "app/spreadcontroller.h"

#include "app/document.h"
#include "app/previewrunner.h"
#include "app/workrunner.h"
#include "canvas/canvasitems.h"
#include "canvas/czefgraphicsview.h"
#include "canvas/previewitem.h"
#include "colourlayer/czefgraphicsimagemaskitem.h"
#include "imaging/colourlayer.h"
#include "imaging/markset.h"
#include "imaging/spreadcolouring.h"

#include <QAction>
#include <QGraphicsScene>
#include <QUndoStack>

#include <algorithm>

SpreadController::SpreadController(QWidget *window, CZefGraphicsView *view, Document *document,
                                   QAction *colourMarksTool)
    : QObject(window)
    , window(window)
    , view(view)
    , document(document)
    , tool(colourMarksTool)
    , work(new WorkRunner(window))
    , previews(new PreviewRunner(this))
    , item(new PreviewItem)
    , cache(std::make_shared<BrightnessCache>())
{
    previews->setTimeLimit(previewTimeLimitMs);
    item->setZValue(previewZ);
    connect(previews, &PreviewRunner::timedOut, this, [this] {
        // What shows is of marks that have changed since.
        item->clear();
        emit message(tr("The preview took too long and is not shown; Spread colours still works."));
    });
    connect(document->history(), &QUndoStack::indexChanged, this, [this] {
        if (previewing)
            requestPreview();
    });
    connect(document, &CanvasDocument::photoChanged, this, &SpreadController::photoChanged);
    if (tool)
        connect(tool, &QAction::toggled, this, &SpreadController::setPreviewing);
}

SpreadController::~SpreadController()
{
    // No job may deliver to the item once it is gone.
    delete previews;
    // A scene deletes its items as it goes: the item is left to a scene
    // that went first, and taken back from one that is still there.
    if (scene)
        scene->removeItem(item);
    if (scene || !inScene)
        delete item;
}

qint64 SpreadController::previewPixels() const
{
    const QSize size = view->viewport()->size();
    return std::max(qint64(size.width()) * size.height(), ColourSpread::Options().solvePixels);
}

ColourSpread::Options SpreadController::options(qint64 maxPixels) const
{
    ColourSpread::Options options;
    options.maxPixels = maxPixels;
    return options;
}

void SpreadController::photoChanged()
{
    previews->cancel();
    item->clear();
    // A job still running fills the old holder, never the new photo's.
    cache = std::make_shared<BrightnessCache>();
    if (previewing)
        requestPreview();
}

void SpreadController::setPreviewing(bool on)
{
    previewing = on;
    if (on) {
        requestPreview();
    } else {
        previews->cancel();
        item->clear();
    }
}

void SpreadController::requestPreview()
{
    if (!document || !document->hasPhoto())
        return;
    const QImage photo = document->photo();
    const QList<ColourSpread::Mark> marks = SpreadColouring::marksOf(*document->marks(), photo.size());
    if (marks.isEmpty()) {
        previews->cancel();
        item->clear();
        return;
    }
    // A job reads these while the UI thread goes on: the photo shared, the
    // colouring through a snapshot, so that painting meanwhile copies only
    // the tiles it changes.
    const std::shared_ptr<const LayerSnapshot> layer = document->colourLayer()->snapshot();
    const SpreadColouring colouring(document->style(), document->colourLayer()->bg());
    const ColourSpread::Options settings = options(previewPixels());
    const int level = ColourSpread::levelFor(photo.size(), settings.maxPixels);
    const std::shared_ptr<BrightnessCache> holder = cache;
    previews->request([this, photo, marks, layer, colouring, settings, level,
                       holder](const std::atomic_bool *cancel) -> PreviewRunner::Deliver {
        std::shared_ptr<const ColourSpread::Brightness> brightness;
        {
            QMutexLocker lock(&holder->mutex);
            brightness = holder->brightness;
        }
        if (!brightness) {
            // Made to the end even when this job is dropped, so that the
            // next preview finds it.
            brightness = ColourSpread::brightness(photo, std::max(1, level));
            QMutexLocker lock(&holder->mutex);
            holder->brightness = brightness;
        }
        ColourSpread::Options options = settings;
        options.brightness = brightness.get();
        const ColourSpread::Result result = ColourSpread::compute(photo, marks, options, cancel);
        if (result.outcome != ColourSpread::Outcome::Spread)
            return {};
        const QImage picture = colouring.preview(photo, result.chroma, *layer, brightness.get(), cancel);
        if (picture.isNull())
            return {};
        const qreal scale = qreal(qint64(1) << result.chroma.level);
        return [this, picture, scale] { show(picture, scale); };
    });
}

void SpreadController::show(const QImage &picture, qreal scale)
{
    if (!inScene && view->scene()) {
        // Only once there is something to show: the scene is the photo's.
        // At the layer's and the marks' height, stacked just below the
        // layer: the colour marks stay on top, and the preview, only ever
        // where the layer is uncoloured, shows through it.
        scene = view->scene();
        scene->addItem(item);
        inScene = true;
        if (CanvasItems *items = view->documentItems(); items && items->layerItem())
            item->stackBefore(items->layerItem());
    }
    item->setPicture(picture, scale);
}

void SpreadController::spread()
{
    if (!document || !document->hasPhoto()) {
        emit message(tr("Open a photo first"));
        return;
    }
    if (view->isStroking() || work->isRunning())
        return;
    const QImage photo = document->photo();
    const QList<ColourSpread::Mark> marks = SpreadColouring::marksOf(*document->marks(), photo.size());
    if (marks.isEmpty()) {
        emit message(ColourSpread::outcomeText(ColourSpread::Outcome::NoColourMark));
        return;
    }
    // A running preview holds a copy of the layer, which the write would
    // then duplicate.
    previews->cancel();
    previews->waitForIdle();

    std::shared_ptr<const ColourSpread::Brightness> brightness;
    {
        QMutexLocker lock(&cache->mutex);
        brightness = cache->brightness;
    }
    // The preview's settings but the photo's own size: the computation
    // passes through the level the preview showed.
    ColourSpread::Options settings = options(0);
    settings.brightness = brightness.get();
    ColourSpread::Result result;
    const bool finished = work->run(tr("Spreading the colours..."),
                                    [&](const std::atomic_bool *cancel, const WorkRunner::Progress &progress) {
                                        result = ColourSpread::compute(photo, marks, settings, cancel, progress);
                                    });
    if (work->closeRequested()) {
        // The window was closed while the spread ran; it has stopped.
        window->close();
        return;
    }
    if (!finished)
        result = ColourSpread::Result{ColourSpread::Outcome::Cancelled, {}};
    if (result.outcome != ColourSpread::Outcome::Spread) {
        emit message(ColourSpread::outcomeText(result.outcome));
        return;
    }
    if (!document->spread(result.chroma)) {
        emit message(tr("Not enough memory to record the spread: the colouring and the marks are unchanged."));
        return;
    }
    item->clear();
    emit message(QString());
}
