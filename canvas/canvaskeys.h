#ifndef CANVASKEYS_H
#define CANVASKEYS_H

#include <QObject>

class CZefGraphicsView;

// The keys that are held rather than pressed: Space, for the hand that pans,
// and \, which shows the photo as it was while it is down. They act in the
// view's window whichever widget has the focus, except one that takes typed
// text; Space only while the pointer is over the canvas or the canvas has
// the focus, so that it still presses a focused button elsewhere. Letting go
// of the window lets go of both keys.
class CanvasKeys : public QObject
{
    Q_OBJECT

public:
    explicit CanvasKeys(CZefGraphicsView *view);

    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    bool concerns(QObject *watched, int key) const;
    void hold(int key, bool down);

    CZefGraphicsView *view;
    bool spaceDown = false;
    bool backslashDown = false;
};

#endif // CANVASKEYS_H
