#include "canvas/czefgraphicsview.h"

#include "canvas/brushtool.h"
#include "canvas/canvasdocument.h"
#include "canvas/canvasitems.h"
#include "canvas/canvaskeys.h"
#include "canvas/czefgraphicsbrushcursoritem.h"
#include "canvas/markertool.h"
#include "canvas/pickertool.h"
#include "canvas/viewscale.h"
#include "imaging/markset.h"

#include <QGraphicsPixmapItem>
#include <QMetaMethod>
#include <QMouseEvent>
#include <QResizeEvent>
#include <QScrollBar>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace {

constexpr qreal brushCursorZ = 20;

} // namespace

CZefGraphicsView::CZefGraphicsView(QWidget *parent)
    : QGraphicsView(parent)
{
    addTool(KeepMarker, new MarkerTool(this, Mark::Keep));
    addTool(RemoveMarker, new MarkerTool(this, Mark::Remove));
    addTool(ColourMarker, new MarkerTool(this, Mark::Colour));
    addTool(KeepBrush, new BrushTool(this, false));
    addTool(RemoveBrush, new BrushTool(this, true));
    keys = new CanvasKeys(this);
    addTool(Picker, new PickerTool(this));
}

// A cursor that the scene still holds belongs to the scene; one taken out was
// destroyed at once. The document's items belong to the scene too.
CZefGraphicsView::~CZefGraphicsView() = default;

void CZefGraphicsView::setDocument(CanvasDocument *document)
{
    if (activeTool)
        activeTool->abandon();
    delete shown;
    shown = nullptr;
    if (doc)
        disconnect(doc, nullptr, this, nullptr);
    doc = document;
    undoStack = document ? document->history() : nullptr;
    if (!document || !scene())
        return;
    shown = new CanvasItems(scene(), document, this);
    shown->setColouringVisible(colouring);
    shown->setViewScale(zoom());
    connect(document, &CanvasDocument::photoChanged, this, [this] {
        if (activeTool)
            activeTool->abandon();
    });
}

void CZefGraphicsView::addTool(int id, CanvasTool *tool)
{
    if (tools[id].get() == activeTool)
        activeTool = nullptr;
    tools[id].reset(tool);
}

CanvasTool *CZefGraphicsView::tool(int id) const
{
    const auto found = tools.find(id);
    return found == tools.end() ? nullptr : found->second.get();
}

CanvasTool *CZefGraphicsView::currentTool()
{
    CanvasTool *chosen = tool(toolMode);
    if (chosen != activeTool) {
        if (activeTool)
            activeTool->deactivate();
        activeTool = chosen;
        updateCursor();
    }
    return chosen;
}

bool CZefGraphicsView::pointListsWanted() const
{
    static const QMetaMethod signal = QMetaMethod::fromSignal(&CZefGraphicsView::brushPressed);
    return isSignalConnected(signal);
}

bool CZefGraphicsView::isStroking() const
{
    return (activeTool && activeTool->isBusy()) || (doc && doc->isStroking());
}

ToolEvent CZefGraphicsView::sample(QMouseEvent *event) const
{
    ToolEvent e;
    e.viewPos = event->position().toPoint();
    e.scenePos = mapToScene(e.viewPos);
    e.button = event->button();
    e.buttons = event->buttons();
    e.modifiers = event->modifiers();
    return e;
}

void CZefGraphicsView::mousePressEvent(QMouseEvent *event)
{
    lastPointer = event->position().toPoint();
    // A running stroke keeps the mouse; a pan starts only between strokes.
    if (panner.isPanning() || (!isStroking() && panner.press(event))) {
        removeBrushCursor();
        updateCursor();
        return;
    }
    if (CanvasTool *t = currentTool())
        t->press(sample(event));
}

void CZefGraphicsView::mouseReleaseEvent(QMouseEvent *event)
{
    lastPointer = event->position().toPoint();
    if (panner.release(event)) {
        updateCursor();
        return;
    }
    if (CanvasTool *t = currentTool())
        t->release(sample(event));
}

void CZefGraphicsView::mouseMoveEvent(QMouseEvent *event)
{
    lastPointer = event->position().toPoint();
    if (panner.move(event)) {
        updateCursor();
        return;
    }
    CanvasTool *t = currentTool();
    if (!t)
        return;
    if (event->buttons() == Qt::NoButton) {
        if (panner.spaceHeld())
            return; // the open hand shows no brush
        t->hover(sample(event));
    } else {
        t->move(sample(event));
    }
}

void CZefGraphicsView::leaveEvent(QEvent *event)
{
    Q_UNUSED(event);
    lastPointer = QPoint(-1, -1);
    if (activeTool)
        activeTool->leave();
    removeBrushCursor();
}

void CZefGraphicsView::displayImage(QImage *image)
{
    const QPixmap pixmap = QPixmap::fromImage(*image);
    if (pixmapItem) {
        pixmapItem->setPixmap(pixmap);
        pixmapItem->update(pixmapItem->boundingRect());
    } else {
        pixmapItem = scene()->addPixmap(pixmap);
    }
    scene()->setSceneRect(0, 0, pixmap.width(), pixmap.height());
    imageShown = true;
}

void CZefGraphicsView::resizeEvent(QResizeEvent *event)
{
    if (isFitted() && !wholeScenePending) {
        QGraphicsView::resizeEvent(event);
        applyFit(fit);
        return;
    }
    // The scale follows the window only for a picture of displayImage; the
    // toolkit's own handling (centring, scroll ranges) follows every resize.
    if (imageShown && scene()) {
        setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

        const QRectF displayed = transform().mapRect(sceneRect());
        const qreal sx = ViewScale::followRatio(event->size().width(), event->oldSize().width(), displayed.width());
        const qreal sy = ViewScale::followRatio(event->size().height(), event->oldSize().height(), displayed.height());
        const qreal ax = sx > 1.0 ? sx : 1.0 / sx;
        const qreal ay = sy > 1.0 ? sy : 1.0 / sy;
        const qreal s = ax > ay ? sx : sy;
        scale(s, s);
    }
    QGraphicsView::resizeEvent(event);
}

void CZefGraphicsView::showEvent(QShowEvent *event)
{
    QGraphicsView::showEvent(event);
    if (wholeScenePending)
        applyFit(fit);
}

bool CZefGraphicsView::isFitted() const
{
    return fit != Fit::None && (wholeScenePending || transform() == fittedTransform);
}

void CZefGraphicsView::showWholeScene()
{
    applyFit(Fit::WholeScene);
}

void CZefGraphicsView::fitToWindow()
{
    applyFit(Fit::Window);
}

void CZefGraphicsView::applyFit(Fit mode)
{
    // Before the window is shown the view has no real size to fit into.
    fit = mode;
    wholeScenePending = !isVisible();
    resetTransform();
    if (wholeScenePending)
        return;

    const QRectF whole = sceneRect();
    const qreal s = ViewScale::fitting(whole, maximumViewportSize(), mode == Fit::Window);
    scale(s, s);
    centerOn(whole.center());
    fittedTransform = transform();
    zoomDone();
}

void CZefGraphicsView::zoomBy(qreal factor)
{
    zoomAbout(factor, QRectF(viewport()->rect()).center());
}

void CZefGraphicsView::actualSize()
{
    zoomAbout(1.0 / zoom(), QRectF(viewport()->rect()).center());
}

void CZefGraphicsView::zoomAbout(qreal factor, const QPointF &anchor)
{
    if (!(factor > 0) || !std::isfinite(factor))
        return;
    fit = Fit::None;
    const QPointF target = viewportTransform().inverted().map(anchor);
    scale(factor, factor);
    const QPointF now = viewportTransform().inverted().map(anchor);
    const QPointF drift = viewportTransform().map(target) - anchor;

    // Scrolling moves by whole screen pixels. Of the nearest steps, take the
    // one that leaves the same photo pixel under the pointer.
    ViewScale::settle(horizontalScrollBar(), drift.x(), now.x(), target.x(), transform().m11());
    ViewScale::settle(verticalScrollBar(), drift.y(), now.y(), target.y(), transform().m22());
    zoomDone();
}

void CZefGraphicsView::zoomDone()
{
    if (shown)
        shown->setViewScale(zoom());
    refreshBrushCursor();
    updateCursor();
    emit zoomChanged(zoom());
}

void CZefGraphicsView::scrollContentsBy(int dx, int dy)
{
    QGraphicsView::scrollContentsBy(dx, dy);
    refreshBrushCursor();
}

void CZefGraphicsView::refreshBrushCursor()
{
    // A scene being destroyed detaches its views, which scrolls them, once
    // it has deleted its items, the outline among them.
    if (!scene()) {
        brushCursor = nullptr;
        return;
    }
    removeBrushCursor();
    if (!activeTool || panner.isPanning() || panner.spaceHeld() || isStroking() || !viewport()->underMouse()
        || !viewport()->rect().contains(lastPointer))
        return;
    ToolEvent e;
    e.viewPos = lastPointer;
    e.scenePos = mapToScene(lastPointer);
    activeTool->hover(e);
}

void CZefGraphicsView::setSpaceHeld(bool held)
{
    panner.setSpaceHeld(held);
    if (held)
        removeBrushCursor();
    else
        refreshBrushCursor();
    updateCursor();
}

void CZefGraphicsView::updateCursor()
{
    Qt::CursorShape hand;
    QCursor toolCursor;
    if (panner.cursor(&hand))
        viewport()->setCursor(hand);
    else if (activeTool && activeTool->cursor(&toolCursor))
        viewport()->setCursor(toolCursor);
    else
        viewport()->unsetCursor();
}

void CZefGraphicsView::setColouringShown(bool show)
{
    if (colouring == show)
        return;
    colouring = show;
    if (shown)
        shown->setColouringVisible(show);
    emit colouringShownChanged(show);
}

void CZefGraphicsView::holdPhoto(bool down)
{
    if (down == holding)
        return;
    holding = down;
    if (down) {
        colouringBeforeHold = colouring;
        setColouringShown(false);
    } else {
        setColouringShown(colouringBeforeHold);
    }
}

void CZefGraphicsView::wheelEvent(QWheelEvent *event)
{
    if (!(event->modifiers() & Qt::ControlModifier)) {
        QWheelEvent turned = ViewPanner::scrolling(*event);
        QGraphicsView::wheelEvent(&turned);
        event->setAccepted(turned.isAccepted());
        return;
    }
    // One notch (120) is one press of a zoom button; finer wheels zoom by
    // the same factor spread over their smaller steps.
    const qreal notches = event->angleDelta().y() / 120.0;
    if (notches != 0)
        zoomAbout(std::pow(zoomStep, notches), event->position());
    event->accept();
}

void CZefGraphicsView::setToolSize(int size)
{
    toolSize = std::max(0, size);
}

void CZefGraphicsView::showBrushCursor(const QRectF &rect)
{
    if (!scene())
        return;
    if (!brushCursor) {
        brushCursor = new CZefGraphicsBrushCursorItem(rect);
        scene()->addItem(brushCursor);
        brushCursor->setZValue(brushCursorZ);
    }
    brushCursor->setRect(rect);
}

void CZefGraphicsView::removeBrushCursor()
{
    if (!brushCursor)
        return;
    if (brushCursor->scene())
        brushCursor->scene()->removeItem(brushCursor);
    delete brushCursor;
    brushCursor = nullptr;
}

// The tool handlers by name: each is the tool's own handling of that event.

void CZefGraphicsView::KeepBrushMousePressed(QMouseEvent *event)
{
    static_cast<BrushTool *>(tool(KeepBrush))->emitDisc(sample(event));
}

void CZefGraphicsView::KeepBrushMouseMoved(QMouseEvent *event)
{
    auto *brush = static_cast<BrushTool *>(tool(KeepBrush));
    brush->showCursor(sample(event));
    brush->emitDisc(sample(event));
}

void CZefGraphicsView::RemoveBrushMousePressed(QMouseEvent *event)
{
    static_cast<BrushTool *>(tool(RemoveBrush))->emitDisc(sample(event));
}

void CZefGraphicsView::RemoveBrushMouseMoved(QMouseEvent *event)
{
    auto *brush = static_cast<BrushTool *>(tool(RemoveBrush));
    brush->showCursor(sample(event));
    brush->emitDisc(sample(event));
}

void CZefGraphicsView::KeepMarkerMouseMoved(QMouseEvent *event)
{
    tool(KeepMarker)->move(sample(event));
}

void CZefGraphicsView::RemoveMarkerMouseMoved(QMouseEvent *event)
{
    tool(RemoveMarker)->move(sample(event));
}

// The scene rectangle's size, truncated: the width the mark indices count in.
QSize CZefGraphicsView::sceneSize() const
{
    return scene() ? QSize(int(scene()->sceneRect().width()), int(scene()->sceneRect().height())) : QSize();
}

QList<int> CZefGraphicsView::userfgpoints()
{
    if (!doc || !scene())
        return {};
    return doc->marks()->indices(Mark::Keep, sceneSize());
}

QList<int> CZefGraphicsView::userbgpoints()
{
    if (!doc || !scene())
        return {};
    return doc->marks()->indices(Mark::Remove, sceneSize());
}

void CZefGraphicsView::clearmarks()
{
    clearmarks_private();
}

void CZefGraphicsView::clearmarks_private()
{
    // The marks' commands stay in the history; undoing one finds its mark
    // gone and leaves it gone.
    if (doc)
        doc->marks()->clear();
}
