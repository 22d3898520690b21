#ifndef VIEWPANNER_H
#define VIEWPANNER_H

#include <QPoint>
#include <Qt>

#include <QWheelEvent>

class QAbstractScrollArea;
class QMouseEvent;

// Drags the view's picture with the hand, whatever tool is chosen: the
// middle button, or the left button while Space is held. A pan moves the
// scroll bars by the pointer's movement and reaches no tool. The hand shows
// open while Space is held and closed while dragging.
class ViewPanner
{
public:
    explicit ViewPanner(QAbstractScrollArea *area);

    void setSpaceHeld(bool held) { space = held; }
    bool spaceHeld() const { return space; }
    bool isPanning() const { return panButton != Qt::NoButton; }

    // Each is true when the event belongs to a pan and must reach no tool.
    bool press(const QMouseEvent *event);
    bool move(const QMouseEvent *event);
    bool release(const QMouseEvent *event);
    // Ends a pan whose release went elsewhere.
    void cancel() { panButton = Qt::NoButton; }

    // The wheel event that scrolls as `event` should: with Shift, the
    // vertical turn of the wheel moves the picture sideways.
    static QWheelEvent scrolling(const QWheelEvent &event);

    // The hand the pointer shows now; false when the pan asks for none.
    bool cursor(Qt::CursorShape *shape) const;

private:
    QAbstractScrollArea *area;
    bool space = false;
    Qt::MouseButton panButton = Qt::NoButton;
    QPoint last;
};

#endif // VIEWPANNER_H
