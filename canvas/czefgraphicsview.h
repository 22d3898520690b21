#ifndef CZEFGRAPHICSVIEW_H
#define CZEFGRAPHICSVIEW_H

#include "imaging/brushgeometry.h"
#include "imaging/rowspan.h"

#include <QGraphicsView>
#include <QList>
#include <QPoint>

class CZefGraphicsBrushCursorItem;
class QGraphicsPixmapItem;
class QUndoStack;

// The canvas. It shows the scene that the main window owns and routes mouse
// input to the current tool.
//
// With a brush, a stroke runs from a press to the release of that button. The
// press paints the brush disc; every move paints the brush swept along the
// straight line from the previous pointer position, so a fast hand leaves no
// gaps. The keep brush paints with the left button and erases with the right;
// the remove brush erases with the left. What a step covers leaves the view as
// row spans through brushSpans, between strokeStarted and strokeFinished.
// brushPressed still carries the plain disc of each press and left-button
// move as a point list, built only while something listens to it.
//
// The zoom is the view's transformation: the window's zoom buttons and keys
// scale about the view's centre, Ctrl + wheel about the pointer, and each new
// photo starts afresh from showWholeScene.
//
// Tools (toolMode): 3 keep marker, 4 remove marker, 5 keep brush, 6 remove
// brush; any other value is no tool, and the mouse is then ignored.
//
// The view owns its undo stack (a child object), on which every marker mark
// pushes its command. Everything it puts into the scene (brush cursor, marks,
// the pixmap of displayImage) belongs to the scene, except the brush cursor
// once the view takes it out again, and cleared marks, which belong to their
// undo commands.
class CZefGraphicsView : public QGraphicsView
{
    Q_OBJECT

public:
    enum Tool { KeepMarker = 3, RemoveMarker = 4, KeepBrush = 5, RemoveBrush = 6 };
    // The factor of one zoom step: a zoom button, a zoom key, a wheel notch.
    static constexpr qreal zoomStep = 1.2;

    explicit CZefGraphicsView(QWidget *parent = nullptr);
    ~CZefGraphicsView() override;

    void displayImage(QImage *image);

    // Shows the whole scene rectangle afresh: scaled to fit the view when it
    // is larger, at 100 % otherwise, centred. Nothing of an earlier zoom is
    // kept. A view not yet shown does this once it is, at its real size.
    void showWholeScene();
    // Multiplies the zoom by `factor`, keeping the scene point under the
    // viewport position `anchor` where it is (as far as scrolling allows).
    void zoomAbout(qreal factor, const QPointF &anchor);

    void KeepBrushMousePressed(QMouseEvent *event);
    void KeepBrushMouseMoved(QMouseEvent *event);
    void RemoveBrushMousePressed(QMouseEvent *event);
    void RemoveBrushMouseMoved(QMouseEvent *event);

    void KeepMarkerMouseMoved(QMouseEvent *event);
    void RemoveMarkerMouseMoved(QMouseEvent *event);
    QList<int> userfgpoints();
    QList<int> userbgpoints();
    void clearmarks();

    // The brush diameter in view pixels (the window's brush-size slider).
    void setToolSize(int size);
    int brushSize() const { return toolSize; }
    bool isStroking() const { return stroke != NoStroke; }

    QUndoStack *undoStack = nullptr;
    int toolMode = 0;

signals:
    void brushPressed(QList<QPoint> newfg, QList<QPoint> newbg);
    void brushSpans(RowSpans newfg, RowSpans newbg);
    void strokeStarted(bool erase);
    void strokeFinished();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;

private:
    // The pixels a brush disc at the event's position covers, within the area
    // the scene's items (other than the cursor) occupy.
    QList<QPoint> brushDisc(QMouseEvent *event) const;
    bool pointListsWanted() const;
    QRect paintableArea() const;
    // The brush square under the pointer, in scene coordinates.
    QRectF brushCursorRect(QMouseEvent *event) const;
    BrushGeometry::Disc discAt(const QPoint &viewPoint) const;
    // The pointer position, held within reach of the viewport.
    QPoint strokePoint(QMouseEvent *event) const;
    void startStroke(QMouseEvent *event);
    void continueStroke(QMouseEvent *event);
    void finishStroke();
    void showBrushCursor(const QRectF &rect);
    void removeBrushCursor();
    // Lays one mark with its top-left corner at the scene point s, where the
    // scene can hold it; true if it did.
    bool addMark(const QPointF &s, bool keep);
    void layMarks(QMouseEvent *event, bool keep);
    void finishMarkDrag();
    QList<int> markIndices(int itemType);
    void clearmarks_private();

    QGraphicsPixmapItem *pixmapItem = nullptr;
    CZefGraphicsBrushCursorItem *brushCursor = nullptr;
    int keepMarkerSize = 5;
    int removeMarkerSize = 5;
    int toolSize = 20;
    bool imageShown = false;
    bool wholeScenePending = false;

    enum Stroke { NoStroke, Painting, Erasing };
    Stroke stroke = NoStroke;
    Qt::MouseButton strokeButton = Qt::NoButton;
    QPoint strokePosition;              // the last pointer position of the stroke
    BrushGeometry::Disc strokeDisc;     // the disc painted there
    QRect strokeArea;                   // what the stroke can paint: the photo

    enum MarkDrag { NoMarkDrag, MarkDragStarted, MarkMacroOpen };
    MarkDrag markStroke = NoMarkDrag;
    QPointF markAnchor;                 // where the drag's last mark went
    bool markAnchorLaid = false;
};

#endif // CZEFGRAPHICSVIEW_H
