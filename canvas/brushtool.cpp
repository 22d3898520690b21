#include "canvas/brushtool.h"

#include "canvas/canvasdocument.h"
#include "canvas/czefgraphicsbrushcursoritem.h"
#include "canvas/czefgraphicsview.h"
#include "canvas/pickertool.h"

#include <QGraphicsScene>

#include <algorithm>

namespace {

// How far beyond the viewport a stroke follows the pointer. Real pointers stay
// on a screen; the bound keeps a bogus far-away position from turning into
// billions of steps.
constexpr int strokeReach = 1 << 16;

} // namespace

BrushTool::BrushTool(CZefGraphicsView *view, bool removeBrush)
    : CanvasTool(view)
    , removeBrush(removeBrush)
{ }

BrushGeometry::Disc BrushTool::discAt(const QPoint &p) const
{
    const int half = view->brushSize() / 2;
    const QPointF c = view->mapToScene(p);
    BrushGeometry::Disc disc;
    disc.centre = QPoint(BrushGeometry::truncated(c.x()), BrushGeometry::truncated(c.y()));
    disc.square =
        BrushGeometry::square(view->mapToScene(p - QPoint(half, half)), view->mapToScene(p + QPoint(half, half)));
    return disc;
}

QRect BrushTool::paintableArea() const
{
    QRectF area;
    if (!view->scene())
        return QRect();
    const QList<QGraphicsItem *> items = view->scene()->items();
    for (const QGraphicsItem *item : items) {
        if (item->type() != CZefGraphicsBrushCursorItem::Type && !item->parentItem())
            area |= item->sceneBoundingRect();
    }
    return area.toAlignedRect();
}

void BrushTool::emitDisc(const ToolEvent &event)
{
    if (!(event.buttons & Qt::LeftButton) || !view->pointListsWanted())
        return;
    const BrushGeometry::Disc disc = discAt(event.viewPos);
    const QList<QPoint> points = BrushGeometry::disc(disc.centre, disc.square, paintableArea());
    if (removeBrush)
        emit view->brushPressed(QList<QPoint>(), points);
    else
        emit view->brushPressed(points, QList<QPoint>());
}

void BrushTool::showCursor(const ToolEvent &event)
{
    const BrushGeometry::Square s = discAt(event.viewPos).square;
    const QRectF rect(s.left, s.top, s.width, s.height);
    // Near the border the remove brush still clears, but its outline is hidden
    // as soon as any part of it leaves the scene.
    if (removeBrush && !(view->scene() && view->scene()->sceneRect().contains(rect)))
        view->removeBrushCursor();
    else
        view->showBrushCursor(rect);
}

void BrushTool::press(const ToolEvent &event)
{
    // Alt+click takes the colour under the pointer instead of painting.
    if (stroke == NoStroke && event.button == Qt::LeftButton && (event.modifiers & Qt::AltModifier)) {
        PickerTool::pick(view, event.scenePos);
        return;
    }
    emitDisc(event);
    startStroke(event);
}

void BrushTool::move(const ToolEvent &event)
{
    showCursor(event);
    emitDisc(event);
    if (stroke != NoStroke)
        continueStroke(event);
}

void BrushTool::hover(const ToolEvent &event)
{
    showCursor(event);
    if (stroke != NoStroke)
        finishStroke(); // the release went elsewhere
}

void BrushTool::release(const ToolEvent &event)
{
    if (stroke != NoStroke && event.button == strokeButton)
        finishStroke();
}

void BrushTool::leave()
{
    view->removeBrushCursor();
}

void BrushTool::deactivate()
{
    if (stroke != NoStroke)
        finishStroke();
    view->removeBrushCursor();
}

QPoint BrushTool::strokePoint(const ToolEvent &event) const
{
    const QRect reach = view->viewport()->rect().adjusted(-strokeReach, -strokeReach, strokeReach, strokeReach);
    const QPoint p = event.viewPos;
    return QPoint(std::clamp(p.x(), reach.left(), reach.right()), std::clamp(p.y(), reach.top(), reach.bottom()));
}

void BrushTool::startStroke(const ToolEvent &event)
{
    if (stroke != NoStroke) {
        if (event.buttons & strokeButton)
            return;     // another button joined a running stroke
        finishStroke(); // the release went elsewhere (a dialog took the mouse)
    }
    if (event.button == Qt::LeftButton)
        stroke = removeBrush ? Erasing : Painting;
    else if (event.button == Qt::RightButton && !removeBrush)
        stroke = Erasing;
    else
        return;
    strokeButton = event.button;
    strokePosition = strokePoint(event);
    if (CanvasDocument *document = view->document())
        document->beginStroke(stroke == Erasing);
    emit view->strokeStarted(stroke == Erasing);

    strokeDisc = discAt(strokePosition);
    // The photo does not change during a stroke; its area is found once, not
    // over all the scene's items (marks included) at every move.
    strokeArea = paintableArea();
    // Like the colour, the softness stays what it was when the stroke began.
    CanvasDocument *document = view->document();
    strokeSoftness = document ? document->strokeSoftness() : 0;
    strokeHistory.clear();
    if (strokeSoftness > 0)
        deliver(
            BrushGeometry::withCentrePath(BrushGeometry::softSweep({strokeDisc}, nullptr, strokeArea, strokeSoftness),
                                          {strokeDisc}, nullptr, strokeArea, strokeSoftness));
    else
        deliver(BrushGeometry::strokeSweep({strokeDisc}, nullptr, strokeArea));
}

void BrushTool::continueStroke(const ToolEvent &event)
{
    if (!(event.buttons & strokeButton)) {
        finishStroke(); // the release went elsewhere
        return;
    }
    const QPoint to = strokePoint(event);
    if (to == strokePosition)
        return;

    // Pointer positions whose brush square cannot reach the photo add nothing.
    const int half = view->brushSize() / 2;
    const QRect useful =
        view->mapFromScene(QRectF(strokeArea)).boundingRect().adjusted(-half - 2, -half - 2, half + 2, half + 2);

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
    if (strokeSoftness > 0) {
        const QList<BrushGeometry::Disc> swept = BrushGeometry::thinnedDiscs(discs, strokeSoftness);
        const CoverageSpans shape =
            BrushGeometry::withCentrePath(BrushGeometry::softSweep(swept, &strokeDisc, strokeHistory, strokeArea,
                                                                   strokeSoftness),
                                          discs, &strokeDisc, strokeArea, strokeSoftness);
        // A few moves back are enough for a hand going to and fro; more
        // would cost every row of every move.
        constexpr qsizetype remembered = 40;
        strokeHistory.append(swept);
        if (strokeHistory.size() > remembered)
            strokeHistory.remove(0, strokeHistory.size() - remembered);
        strokePosition = to;
        strokeDisc = discAt(to);
        deliver(shape);
        return;
    }
    const RowSpans spans = BrushGeometry::strokeSweep(discs, &strokeDisc, strokeArea);
    strokePosition = to;
    strokeDisc = discAt(to);
    deliver(spans);
}

void BrushTool::deliver(const RowSpans &spans)
{
    if (spans.isEmpty())
        return;
    const RowSpans none;
    const RowSpans &fg = stroke == Erasing ? none : spans;
    const RowSpans &bg = stroke == Erasing ? spans : none;
    if (CanvasDocument *document = view->document())
        document->paintSpans(fg, bg);
    emit view->brushSpans(fg, bg);
}

void BrushTool::deliver(const CoverageSpans &shape)
{
    if (shape.isEmpty())
        return;
    if (CanvasDocument *document = view->document())
        document->paintShape(shape);
    const RowSpans none;
    if (stroke == Erasing)
        emit view->brushSpans(none, shape.spans());
    else
        emit view->brushSpans(shape.spans(), none);
}

void BrushTool::finishStroke()
{
    stroke = NoStroke;
    strokeButton = Qt::NoButton;
    if (CanvasDocument *document = view->document())
        document->endStroke();
    emit view->strokeFinished();
}
