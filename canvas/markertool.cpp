#include "canvas/markertool.h"

#include "canvas/canvasdocument.h"
#include "canvas/cmarkercommand.h"
#include "canvas/czefgraphicsview.h"
#include "canvas/removemarkcommand.h"
#include "imaging/brushgeometry.h"
#include "imaging/colourlayer.h"

#include "canvas/canvasitems.h"

#include <QGraphicsScene>
#include <QPainter>
#include <QPixmap>
#include <QUndoStack>

#include <algorithm>
#include <cmath>

namespace {

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

MarkerTool::MarkerTool(CZefGraphicsView *view, Mark::Kind kind)
    : CanvasTool(view)
    , kind(kind)
{ }

bool MarkerTool::addMark(const QPointF &s)
{
    CanvasDocument *document = view->document();
    if (!document || !view->scene())
        return false;
    const int tx = BrushGeometry::truncated(s.x());
    const int ty = BrushGeometry::truncated(s.y());
    const QRectF bounds = view->scene()->sceneRect();
    if (tx <= 0 || ty <= 0 || !(bounds.width() > tx) || !(bounds.height() > ty))
        return false;

    const QRgb colour = kind == Mark::Colour && document->colourLayer() ? document->colourLayer()->fg() : 0;
    const Mark mark = document->marks()->add(kind, QRectF(s, QSizeF(MarkSet::markSize, MarkSet::markSize)), colour);
    openStep(kind == Mark::Keep ? tr("keep marks") : kind == Mark::Remove ? tr("remove marks") : tr("colour marks"));
    document->push(new CMarkerCommand(document->marks(), mark));
    return true;
}

bool MarkerTool::cursor(QCursor *cursor) const
{
    // The mark's top-left corner is at the pointer; the outline is drawn
    // around the pixels the mark covers on screen, in black and white so
    // that it shows on any photo.
    constexpr int largest = 128;
    const qreal onScreen = MarkSet::markSize * view->zoom();
    const int side = int(std::clamp(std::ceil(onScreen), CanvasItems::minimumMarkWidth, qreal(largest)));
    QPixmap picture(side + 2, side + 2);
    picture.fill(Qt::transparent);
    {
        QPainter painter(&picture);
        painter.setRenderHint(QPainter::Antialiasing, kind == Mark::Remove && side > 4);
        const QRectF outer(0.5, 0.5, side + 1, side + 1);
        const QRectF inner(1.5, 1.5, side - 1, side - 1);
        painter.setPen(QPen(Qt::black, 1));
        painter.setBrush(Qt::NoBrush);
        if (kind == Mark::Keep)
            painter.drawRect(outer);
        else
            painter.drawEllipse(outer);
        if (side > 2) {
            painter.setPen(QPen(Qt::white, 1));
            if (kind == Mark::Keep)
                painter.drawRect(inner);
            else
                painter.drawEllipse(inner);
        }
    }
    *cursor = QCursor(picture, 1, 1);
    return true;
}

void MarkerTool::openStep(const QString &text)
{
    // The changes of one drag are one step; the step is open from its first.
    if (dragging && !stepOpen) {
        view->document()->history()->beginMacro(text);
        stepOpen = true;
    }
}

void MarkerTool::removeMarksAt(const QPointF &s)
{
    CanvasDocument *document = view->document();
    if (!document)
        return;
    // A mark is under the pointer when it overlaps a mark laid there.
    const QRectF reach(s, QSizeF(MarkSet::markSize, MarkSet::markSize));
    const QList<Mark> marks = document->marks()->all();
    for (const Mark &mark : marks) {
        if (mark.kind != kind || mark.isHidden() || !mark.rect.intersects(reach))
            continue;
        openStep(tr("erase colour marks"));
        if (const std::optional<Mark> taken = document->marks()->take(mark.id))
            document->push(new RemoveMarkCommand(document->marks(), *taken));
    }
}

void MarkerTool::press(const ToolEvent &event)
{
    // A press lays nothing yet; it anchors the drag's line of marks.
    const bool erase = event.button == Qt::RightButton && kind == Mark::Colour;
    if (event.button != Qt::LeftButton && !erase)
        return;
    finishDrag();
    dragging = true;
    erasing = erase;
    anchor = event.scenePos;
    anchorLaid = false;
    if (erasing)
        removeMarksAt(anchor);
}

void MarkerTool::move(const ToolEvent &event)
{
    if (erasing) {
        if (!(event.buttons & Qt::RightButton))
            return;
        const QPoint from(BrushGeometry::truncated(anchor.x()), BrushGeometry::truncated(anchor.y()));
        const QPoint to(BrushGeometry::truncated(event.scenePos.x()), BrushGeometry::truncated(event.scenePos.y()));
        const QList<QPoint> steps = BrushGeometry::lineSteps(from, to);
        for (qsizetype i = 1; i < steps.size(); ++i)
            removeMarksAt(QPointF(steps[i]));
        removeMarksAt(event.scenePos);
        anchor = event.scenePos;
        return;
    }
    if (!(event.buttons & Qt::LeftButton) || !view->scene())
        return;
    const QPointF s = event.scenePos;
    if (!dragging) {
        addMark(s); // a move without a press seen: one mark, where it is
        return;
    }

    // The ends keep their exact positions; only the part inside the scene
    // can hold marks.
    const QPointF from = anchor;
    QPointF a = from;
    QPointF b = s;
    if (!clipToRect(&a, &b, view->scene()->sceneRect().adjusted(-1, -1, 1, 1))) {
        anchor = s;
        anchorLaid = false;
        return;
    }
    const QPoint pa(BrushGeometry::truncated(a.x()), BrushGeometry::truncated(a.y()));
    const QPoint pb(BrushGeometry::truncated(b.x()), BrushGeometry::truncated(b.y()));
    const QList<QPoint> steps = BrushGeometry::lineSteps(pa, pb);
    for (qsizetype i = 0; i < steps.size(); ++i) {
        if (i == 0 && anchorLaid && a == from)
            continue; // marked by the previous move
        const QPointF at = i == 0 && a == from ? from : i + 1 == steps.size() && b == s ? s : QPointF(steps[i]);
        addMark(at);
    }
    anchor = s;
    anchorLaid = true;
}

void MarkerTool::release(const ToolEvent &event)
{
    if (event.button == (erasing ? Qt::RightButton : Qt::LeftButton))
        finishDrag();
}

void MarkerTool::deactivate()
{
    finishDrag();
}

void MarkerTool::abandon()
{
    // The history that held the open step was cleared with it.
    stepOpen = false;
    dragging = false;
    erasing = false;
}

void MarkerTool::finishDrag()
{
    dragging = false;
    erasing = false;
    if (stepOpen && view->document())
        view->document()->history()->endMacro();
    stepOpen = false;
}
