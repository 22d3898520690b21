#ifndef CANVASTOOL_H
#define CANVASTOOL_H

#include <QCursor>
#include <QPoint>
#include <QPointF>
#include <Qt>

class CZefGraphicsView;

// One pointer sample on the canvas, as a tool receives it.
struct ToolEvent {
    QPoint viewPos;                        // in the viewport
    QPointF scenePos;                      // the same point in the scene: photo pixels
    Qt::MouseButton button = Qt::NoButton; // the button pressed or released, if any
    Qt::MouseButtons buttons;              // the buttons held
    Qt::KeyboardModifiers modifiers;
};

// What the canvas does with the pointer while a tool is chosen. The view
// forwards every sample to the current tool: a press, a move with a button
// held, a release, a hover (a move with none), and the pointer leaving the
// canvas. A tool reaches the document through the view. Choosing another
// tool deactivates the current one, which ends whatever it has open.
class CanvasTool
{
public:
    explicit CanvasTool(CZefGraphicsView *view)
        : view(view)
    { }
    virtual ~CanvasTool() = default;
    CanvasTool(const CanvasTool &) = delete;
    CanvasTool &operator=(const CanvasTool &) = delete;

    virtual void press(const ToolEvent &event) { Q_UNUSED(event); }
    virtual void move(const ToolEvent &event) { Q_UNUSED(event); }
    virtual void release(const ToolEvent &event) { Q_UNUSED(event); }
    virtual void hover(const ToolEvent &event) { Q_UNUSED(event); }
    virtual void leave() { }
    virtual void deactivate() { }
    // The document changed under the tool: drop what it has open, leaving
    // nothing behind in the new document's history.
    virtual void abandon() { deactivate(); }
    // A stroke or a drag is under way.
    virtual bool isBusy() const { return false; }
    // The pointer's look over the canvas; false for the usual arrow.
    virtual bool cursor(QCursor *cursor) const
    {
        Q_UNUSED(cursor);
        return false;
    }

protected:
    CZefGraphicsView *const view;
};

#endif // CANVASTOOL_H
