#include "canvas/viewpanner.h"

#include <QAbstractScrollArea>
#include <QMouseEvent>
#include <QScrollBar>

ViewPanner::ViewPanner(QAbstractScrollArea *area)
    : area(area)
{ }

bool ViewPanner::press(const QMouseEvent *event)
{
    if (isPanning())
        return true; // another button during a pan does nothing
    const bool starts = event->button() == Qt::MiddleButton || (event->button() == Qt::LeftButton && space);
    if (!starts)
        return false;
    panButton = event->button();
    last = event->position().toPoint();
    return true;
}

bool ViewPanner::move(const QMouseEvent *event)
{
    if (!isPanning())
        return false;
    if (!(event->buttons() & panButton)) {
        cancel(); // the release went elsewhere
        return true;
    }
    const QPoint now = event->position().toPoint();
    const QPoint d = now - last;
    last = now;
    QScrollBar *h = area->horizontalScrollBar();
    QScrollBar *v = area->verticalScrollBar();
    h->setValue(h->value() + (area->isRightToLeft() ? d.x() : -d.x()));
    v->setValue(v->value() - d.y());
    return true;
}

bool ViewPanner::release(const QMouseEvent *event)
{
    if (!isPanning())
        return false;
    if (event->button() == panButton)
        cancel();
    return true;
}

bool ViewPanner::cursor(Qt::CursorShape *shape) const
{
    if (isPanning())
        *shape = Qt::ClosedHandCursor;
    else if (space)
        *shape = Qt::OpenHandCursor;
    else
        return false;
    return true;
}

QWheelEvent ViewPanner::scrolling(const QWheelEvent &event)
{
    const bool shift = event.modifiers() & Qt::ShiftModifier;
    const QPoint a = event.angleDelta();
    const QPoint delta = !shift || a.x() != 0 ? a : QPoint(a.y(), 0);
    return QWheelEvent(event.position(), event.globalPosition(), shift ? QPoint() : event.pixelDelta(), delta,
                       event.buttons(), shift ? event.modifiers() & ~Qt::ShiftModifier : event.modifiers(),
                       event.phase(), event.inverted(), event.source());
}
