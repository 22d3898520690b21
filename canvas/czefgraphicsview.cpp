#include "canvas/czefgraphicsview.h"

#include "imaging/brushgeometry.h"
#include "canvas/cmarkercommand.h"
#include "canvas/czefgraphicsbrushcursoritem.h"

#include <QGraphicsEllipseItem>
#include <QGraphicsPixmapItem>
#include <QGraphicsRectItem>
#include <QMetaMethod>
#include <QMouseEvent>
#include <QResizeEvent>
#include <QScrollBar>
#include <QSet>
#include <QUndoStack>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <functional>

namespace {

constexpr qreal brushCursorZ = 20;
// How far beyond the viewport a stroke follows the pointer. Real pointers stay
// on a screen; the bound keeps a bogus far-away position from turning into
// billions of steps.
constexpr int strokeReach = 1 << 16;
constexpr qreal markZ = 10;

QPoint eventPosition(const QMouseEvent *event)
{
    return event->position().toPoint();
}

// The ratio by which the view follows one dimension of a resize: the new size
// over the old one when the view grew beyond the displayed scene or shrank,
// otherwise 1. A first resize has no valid old size and is not followed.
qreal followRatio(int newSize, int oldSize, qreal displayed)
{
    if (oldSize <= 0)
        return 1.0;
    if (newSize > displayed || newSize < oldSize)
        return qreal(newSize) / qreal(oldSize);
    return 1.0;
}

// Cuts the segment a-b to the part inside `rect` (Liang and Barsky's
// clipping); false when no part is inside.
bool clipToRect(QPointF *a, QPointF *b, const QRectF &rect)
{
    const QPointF d = *b - *a;
    qreal t0 = 0;
    qreal t1 = 1;
    const qreal p[4] = {-d.x(), d.x(), -d.y(), d.y()};
    const qreal q[4] = {a->x() - rect.left(), rect.right() - a->x(), a->y() - rect.top(), rect.bottom() - a->y()};
    for (int i = 0; i < 4; ++i) {
        if (p[i] == 0) {
            if (q[i] < 0)
                return false;
            continue;
        }
        const qreal t = q[i] / p[i];
        if (p[i] < 0)
            t0 = std::max(t0, t);
        else
            t1 = std::min(t1, t);
    }
    if (t0 > t1)
        return false;
    const QPointF start = *a;
    if (t1 < 1)
        *b = start + d * t1;
    if (t0 > 0)
        *a = start + d * t0;
    return true;
}

} // namespace

CZefGraphicsView::CZefGraphicsView(QWidget *parent)
    : QGraphicsView(parent)
    , undoStack(new QUndoStack(this))
{
}

// A cursor that the scene still holds belongs to the scene; one taken out was
// destroyed at once, so there is nothing of ours left to free.
CZefGraphicsView::~CZefGraphicsView() = default;

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

void CZefGraphicsView::mousePressEvent(QMouseEvent *event)
{
    if (toolMode == KeepBrush)
        KeepBrushMousePressed(event);
    else if (toolMode == RemoveBrush)
        RemoveBrushMousePressed(event);
    if (toolMode == KeepBrush || toolMode == RemoveBrush)
        startStroke(event);
    // A marker press lays nothing yet; it anchors the drag's line of marks.
    if ((toolMode == KeepMarker || toolMode == RemoveMarker) && event->button() == Qt::LeftButton) {
        finishMarkDrag();
        markStroke = MarkDragStarted;
        markAnchor = mapToScene(eventPosition(event));
        markAnchorLaid = false;
    }
}

void CZefGraphicsView::mouseReleaseEvent(QMouseEvent *event)
{
    if (stroke != NoStroke && event->button() == strokeButton)
        finishStroke();
    if (event->button() == Qt::LeftButton)
        finishMarkDrag();
}

void CZefGraphicsView::finishMarkDrag()
{
    if (markStroke == MarkMacroOpen && undoStack)
        undoStack->endMacro();
    markStroke = NoMarkDrag;
}

void CZefGraphicsView::mouseMoveEvent(QMouseEvent *event)
{
    if (toolMode != KeepBrush && toolMode != RemoveBrush)
        removeBrushCursor(); // left over from a brush chosen before
    switch (toolMode) {
    case KeepMarker:
        KeepMarkerMouseMoved(event);
        break;
    case RemoveMarker:
        RemoveMarkerMouseMoved(event);
        break;
    case KeepBrush:
        KeepBrushMouseMoved(event);
        break;
    case RemoveBrush:
        RemoveBrushMouseMoved(event);
        break;
    default:
        break;
    }
    if (stroke != NoStroke)
        continueStroke(event);
}

void CZefGraphicsView::leaveEvent(QEvent *event)
{
    Q_UNUSED(event);
    removeBrushCursor();
}

void CZefGraphicsView::resizeEvent(QResizeEvent *event)
{
    // The scale follows the window only for a picture of displayImage; the
    // toolkit's own handling (centring, scroll ranges) follows every resize.
    if (imageShown && scene()) {
        setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

        const QRectF displayed = transform().mapRect(sceneRect());
        const qreal sx = followRatio(event->size().width(), event->oldSize().width(), displayed.width());
        const qreal sy = followRatio(event->size().height(), event->oldSize().height(), displayed.height());
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
        showWholeScene();
}

void CZefGraphicsView::showWholeScene()
{
    // Before the window is shown the view has no real size to fit into.
    wholeScenePending = !isVisible();
    resetTransform();
    if (wholeScenePending)
        return;

    const QRectF whole = sceneRect();
    const QSize room = maximumViewportSize();
    if (whole.width() > room.width() || whole.height() > room.height()) {
        qreal s = std::min(room.width() / whole.width(), room.height() / whole.height());
        // Rounding must not leave the fitted picture a fraction too large,
        // which would bring up scroll bars for nothing.
        while (s > 0 && (whole.width() * s > room.width() || whole.height() * s > room.height()))
            s = std::nextafter(s, 0.0);
        scale(s, s);
    }
    centerOn(whole.center());
}

void CZefGraphicsView::zoomAbout(qreal factor, const QPointF &anchor)
{
    const QPointF target = viewportTransform().inverted().map(anchor);
    scale(factor, factor);
    const QPointF now = viewportTransform().inverted().map(anchor);
    const QPointF drift = viewportTransform().map(target) - anchor;

    // Scrolling moves by whole screen pixels. Of the nearest steps, take the
    // one that leaves the same photo pixel under the pointer.
    const auto settle = [](QScrollBar *bar, qreal drift, qreal now, qreal target, qreal scale) {
        const int steps[] = {qRound(drift), int(std::floor(drift)), int(std::ceil(drift))};
        int chosen = steps[0];
        for (const int step : steps) {
            if (std::floor(now + step / scale) == std::floor(target)) {
                chosen = step;
                break;
            }
        }
        bar->setValue(bar->value() + chosen);
    };
    settle(horizontalScrollBar(), drift.x(), now.x(), target.x(), transform().m11());
    settle(verticalScrollBar(), drift.y(), now.y(), target.y(), transform().m22());
}

void CZefGraphicsView::wheelEvent(QWheelEvent *event)
{
    if (!(event->modifiers() & Qt::ControlModifier)) {
        QGraphicsView::wheelEvent(event);
        return;
    }
    // One notch (120) is one press of a zoom button; finer wheels zoom by
    // the same factor spread over their smaller steps.
    const qreal notches = event->angleDelta().y() / 120.0;
    if (notches != 0)
        zoomAbout(std::pow(zoomStep, notches), event->position());
    event->accept();
}

// Brush tools

QRect CZefGraphicsView::paintableArea() const
{
    QRectF area;
    if (!scene())
        return QRect();
    const QList<QGraphicsItem *> items = scene()->items();
    for (const QGraphicsItem *item : items) {
        if (item->type() != CZefGraphicsBrushCursorItem::Type && !item->parentItem())
            area |= item->sceneBoundingRect();
    }
    return area.toAlignedRect();
}

QList<QPoint> CZefGraphicsView::brushDisc(QMouseEvent *event) const
{
    const QPoint p = eventPosition(event);
    const int half = toolSize / 2;
    const QPointF c = mapToScene(p);
    const QPoint centre(BrushGeometry::truncated(c.x()), BrushGeometry::truncated(c.y()));
    const QPointF b = mapToScene(p + QPoint(half, half));
    const QPointF a = mapToScene(p - QPoint(half, half));
    return BrushGeometry::disc(centre, BrushGeometry::square(a, b), paintableArea());
}

// A point list of a large brush at a far zoom runs to millions of points, so it
// is built only for a receiver that asked for it.
bool CZefGraphicsView::pointListsWanted() const
{
    static const QMetaMethod signal = QMetaMethod::fromSignal(&CZefGraphicsView::brushPressed);
    return isSignalConnected(signal);
}

void CZefGraphicsView::KeepBrushMousePressed(QMouseEvent *event)
{
    if (!(event->buttons() & Qt::LeftButton) || !pointListsWanted())
        return;
    emit brushPressed(brushDisc(event), QList<QPoint>());
}

void CZefGraphicsView::RemoveBrushMousePressed(QMouseEvent *event)
{
    if (!(event->buttons() & Qt::LeftButton) || !pointListsWanted())
        return;
    emit brushPressed(QList<QPoint>(), brushDisc(event));
}

void CZefGraphicsView::setToolSize(int size)
{
    toolSize = std::max(0, size);
}

BrushGeometry::Disc CZefGraphicsView::discAt(const QPoint &p) const
{
    const int half = toolSize / 2;
    const QPointF c = mapToScene(p);
    BrushGeometry::Disc disc;
    disc.centre = QPoint(BrushGeometry::truncated(c.x()), BrushGeometry::truncated(c.y()));
    disc.square = BrushGeometry::square(mapToScene(p - QPoint(half, half)), mapToScene(p + QPoint(half, half)));
    return disc;
}

QPoint CZefGraphicsView::strokePoint(QMouseEvent *event) const
{
    const QRect reach = viewport()->rect().adjusted(-strokeReach, -strokeReach, strokeReach, strokeReach);
    const QPoint p = eventPosition(event);
    return QPoint(std::clamp(p.x(), reach.left(), reach.right()), std::clamp(p.y(), reach.top(), reach.bottom()));
}

void CZefGraphicsView::startStroke(QMouseEvent *event)
{
    if (stroke != NoStroke) {
        if (event->buttons() & strokeButton)
            return; // another button joined a running stroke
        finishStroke(); // the release went elsewhere (a dialog took the mouse)
    }
    const Qt::MouseButton button = event->button();
    if (button == Qt::LeftButton)
        stroke = toolMode == RemoveBrush ? Erasing : Painting;
    else if (button == Qt::RightButton && toolMode == KeepBrush)
        stroke = Erasing;
    else
        return;
    strokeButton = button;
    strokePosition = strokePoint(event);
    emit strokeStarted(stroke == Erasing);

    strokeDisc = discAt(strokePosition);
    // The photo does not change during a stroke; its area is found once, not
    // over all the scene's items (marks included) at every move.
    strokeArea = paintableArea();
    const RowSpans spans = BrushGeometry::sweep({strokeDisc}, nullptr, strokeArea);
    if (stroke == Erasing)
        emit brushSpans(RowSpans(), spans);
    else
        emit brushSpans(spans, RowSpans());
}

void CZefGraphicsView::continueStroke(QMouseEvent *event)
{
    if (!(event->buttons() & strokeButton)) {
        finishStroke(); // the release went elsewhere
        return;
    }
    const QPoint to = strokePoint(event);
    if (to == strokePosition)
        return;

    // Pointer positions whose brush square cannot reach the photo add nothing.
    const QRect &area = strokeArea;
    const int half = toolSize / 2;
    const QRect useful = mapFromScene(QRectF(area)).boundingRect().adjusted(-half - 2, -half - 2, half + 2, half + 2);

    QList<BrushGeometry::Disc> discs;
    const QList<QPoint> steps = BrushGeometry::lineSteps(strokePosition, to);
    for (const QPoint &q : steps) {
        if (!useful.contains(q))
            continue;
        const BrushGeometry::Disc disc = discAt(q);
        // Zoomed in, neighbouring pointer positions often give the same disc.
        if (discs.isEmpty() || !(discs.constLast() == disc))
            discs.append(disc);
    }
    // The disc painted last is already on the layer. It is kept as painted, not
    // recomputed, in case the view was zoomed or scrolled in between.
    const RowSpans spans = BrushGeometry::sweep(discs, &strokeDisc, area);
    strokePosition = to;
    strokeDisc = discAt(to);
    if (spans.isEmpty())
        return;
    if (stroke == Erasing)
        emit brushSpans(RowSpans(), spans);
    else
        emit brushSpans(spans, RowSpans());
}

void CZefGraphicsView::finishStroke()
{
    stroke = NoStroke;
    strokeButton = Qt::NoButton;
    emit strokeFinished();
}

QRectF CZefGraphicsView::brushCursorRect(QMouseEvent *event) const
{
    const QPoint p = eventPosition(event);
    const int half = toolSize / 2;
    const QPointF a = mapToScene(p - QPoint(half, half));
    const QPointF b = mapToScene(p + QPoint(half, half));
    const BrushGeometry::Square s = BrushGeometry::square(a, b);
    return QRectF(s.left, s.top, s.width, s.height);
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

void CZefGraphicsView::KeepBrushMouseMoved(QMouseEvent *event)
{
    showBrushCursor(brushCursorRect(event));
    KeepBrushMousePressed(event);
}

void CZefGraphicsView::RemoveBrushMouseMoved(QMouseEvent *event)
{
    const QRectF rect = brushCursorRect(event);
    // Near the border the remove brush still clears, but its outline is hidden
    // as soon as any part of it leaves the scene.
    if (scene() && scene()->sceneRect().contains(rect))
        showBrushCursor(rect);
    else
        removeBrushCursor();
    RemoveBrushMousePressed(event);
}

// Marker tools

bool CZefGraphicsView::addMark(const QPointF &s, bool keep)
{
    const int tx = BrushGeometry::truncated(s.x());
    const int ty = BrushGeometry::truncated(s.y());
    const QRectF bounds = scene()->sceneRect();
    if (tx <= 0 || ty <= 0 || !(bounds.width() > tx) || !(bounds.height() > ty))
        return false;

    const QColor colour = keep ? QColor(50, 255, 50, 255) : QColor(255, 10, 10, 255);
    QPen pen(colour);
    pen.setWidth(0); // cosmetic: one device pixel at any zoom
    const QBrush brush(colour, Qt::SolidPattern);
    QGraphicsItem *mark = nullptr;
    if (keep)
        mark = scene()->addRect(s.x(), s.y(), keepMarkerSize, keepMarkerSize, pen, brush);
    else
        mark = scene()->addEllipse(s.x(), s.y(), removeMarkerSize, removeMarkerSize, pen, brush);
    mark->setZValue(markZ);

    if (undoStack) {
        // The marks of one drag are one undo step.
        if (markStroke == MarkDragStarted) {
            undoStack->beginMacro(keep ? tr("keep marks") : tr("remove marks"));
            markStroke = MarkMacroOpen;
        }
        undoStack->push(new CMarkerCommand(scene(), mark));
    }
    return true;
}

void CZefGraphicsView::layMarks(QMouseEvent *event, bool keep)
{
    if (!(event->buttons() & Qt::LeftButton) || !scene())
        return;
    const QPointF s = mapToScene(eventPosition(event));
    if (markStroke == NoMarkDrag) {
        addMark(s, keep); // a move without a press seen: one mark, where it is
        return;
    }

    // Along a drag, one mark per scene pixel on the straight line from the last
    // one, so that a fast hand leaves no gaps; the ends keep their exact
    // positions. Only the part inside the scene can hold marks.
    const QPointF from = markAnchor;
    const QRectF bounds = scene()->sceneRect();
    QPointF a = from;
    QPointF b = s;
    if (!clipToRect(&a, &b, bounds.adjusted(-1, -1, 1, 1))) {
        markAnchor = s;
        markAnchorLaid = false;
        return;
    }
    const QPoint pa(BrushGeometry::truncated(a.x()), BrushGeometry::truncated(a.y()));
    const QPoint pb(BrushGeometry::truncated(b.x()), BrushGeometry::truncated(b.y()));
    const QList<QPoint> steps = BrushGeometry::lineSteps(pa, pb);
    for (qsizetype i = 0; i < steps.size(); ++i) {
        if (i == 0 && markAnchorLaid && a == from)
            continue; // marked by the previous move
        const QPointF at = i == 0 && a == from ? from : i + 1 == steps.size() && b == s ? s : QPointF(steps[i]);
        addMark(at, keep);
    }
    markAnchor = s;
    markAnchorLaid = true;
}

void CZefGraphicsView::KeepMarkerMouseMoved(QMouseEvent *event)
{
    layMarks(event, true);
}

void CZefGraphicsView::RemoveMarkerMouseMoved(QMouseEvent *event)
{
    layMarks(event, false);
}

QList<int> CZefGraphicsView::markIndices(int itemType)
{
    QList<int> indices;
    if (!scene())
        return indices;
    const QRectF bounds = scene()->sceneRect();
    const int w = int(bounds.width());
    const int h = int(bounds.height());

    const QList<QGraphicsItem *> items = scene()->items();
    for (const QGraphicsItem *item : items) {
        // Marks a fill has used up are hidden until the fill is undone.
        if (item->type() != itemType || !item->isVisible())
            continue;
        const QRectF r = itemType == QGraphicsRectItem::Type
            ? static_cast<const QGraphicsRectItem *>(item)->rect()
            : static_cast<const QGraphicsEllipseItem *>(item)->rect();
        const int rx = int(r.x());
        const int ry = int(r.y());
        const int side = int(r.width()); // the square's side serves both directions
        if (rx >= w || ry > h || side <= 0)
            continue;
        for (int i = 0; i < side && i < w - rx; ++i)
            for (int j = 0; j < side && j < h - ry; ++j)
                indices.append((ry + j) * w + (rx + i));
    }
    return indices;
}

QList<int> CZefGraphicsView::userfgpoints()
{
    return markIndices(QGraphicsRectItem::Type);
}

QList<int> CZefGraphicsView::userbgpoints()
{
    return markIndices(QGraphicsEllipseItem::Type);
}

void CZefGraphicsView::clearmarks()
{
    clearmarks_private();
}

void CZefGraphicsView::clearmarks_private()
{
    if (!scene())
        return;
    QSet<QGraphicsItem *> removed;
    const QList<QGraphicsItem *> items = scene()->items();
    for (QGraphicsItem *item : items) {
        if (item->type() == QGraphicsRectItem::Type || item->type() == QGraphicsEllipseItem::Type) {
            scene()->removeItem(item);
            removed.insert(item);
        }
    }
    if (removed.isEmpty())
        return;

    // Off the scene, a mark belongs to its undo command, which destroys it
    // with itself; the marks of a drag are commands inside its step. The
    // stack hands out its commands as const; it is our own stack, so
    // adjusting ownership through it is safe.
    const std::function<void(const QUndoCommand *)> adopt = [&](const QUndoCommand *command) {
        const auto *marker = dynamic_cast<const CMarkerCommand *>(command);
        if (marker && removed.remove(marker->mark()))
            const_cast<CMarkerCommand *>(marker)->adoptItem();
        for (int i = 0; i < command->childCount(); ++i)
            adopt(command->child(i));
    };
    if (undoStack) {
        for (int i = 0; i < undoStack->count(); ++i)
            adopt(undoStack->command(i));
    }
    // Marks without a command (it was dropped by the stack, or none was made)
    // can never be restored or undone: nobody else would free them.
    qDeleteAll(removed);
}
