#ifndef CZEFGRAPHICSVIEW_H
#define CZEFGRAPHICSVIEW_H

#include "canvas/canvasdocument.h"
#include "imaging/rowspan.h"

#include <QGraphicsView>
#include <QList>
#include <QPoint>
#include <QPointer>

#include "canvas/viewpanner.h"

#include <map>
#include <memory>

class CanvasItems;
class CanvasKeys;
class CanvasTool;
class CZefGraphicsBrushCursorItem;
class QGraphicsPixmapItem;
class QUndoStack;
struct ToolEvent;

// The canvas. It shows the document in the scene the window gives it (the
// photo, the colour layer above it, the marks), zooms and scrolls, keeps the
// brush outline, and forwards the pointer to the current tool, which turns it
// into calls on the document.
//
// Tools (toolMode): 3 keep marker, 4 remove marker, 5 keep brush, 6 remove
// brush, 7 colour picker, 8 colour marker; any other value is no tool, and the
// mouse is then ignored. More tools are added with addTool().
//
// The zoom is the view's transformation: the window's zoom buttons and keys
// scale about the view's centre, Ctrl + wheel about the pointer, and each new
// photo starts afresh from showWholeScene. A view fitted (showWholeScene or
// fitToWindow) stays fitted as it is resized, until a zoom or a scale.
//
// Whatever the tool, the middle button and the left button with Space held
// pan (ViewPanner); the wheel scrolls, sideways with Shift. Holding \ (or
// setColouringShown(false)) hides the colour layer and the marks.
class CZefGraphicsView : public QGraphicsView
{
    Q_OBJECT

public:
    enum Tool { KeepMarker = 3, RemoveMarker = 4, KeepBrush = 5, RemoveBrush = 6, Picker = 7, ColourMarker = 8 };
    // The factor of one zoom step: a zoom button, a zoom key, a wheel notch.
    static constexpr qreal zoomStep = 1.2;

    explicit CZefGraphicsView(QWidget *parent = nullptr);
    ~CZefGraphicsView() override;

    // Shows `document` in the view's scene and lets the tools edit it. The
    // view's undoStack becomes the document's history.
    void setDocument(CanvasDocument *document);
    CanvasDocument *document() const { return doc; }
    CanvasItems *documentItems() const { return shown; }

    // Makes `tool` the one chosen by toolMode == id; the view owns it.
    void addTool(int id, CanvasTool *tool);
    CanvasTool *tool(int id) const;
    // Something listens to brushPressed. A point list of a large brush at a
    // far zoom runs to millions of points, so it is built only then.
    bool pointListsWanted() const;
    // A stroke or a drag of the current tool is under way.
    bool isStroking() const;

    void displayImage(QImage *image);

    // Shows the whole scene rectangle afresh: scaled to fit the view when it
    // is larger, at 100 % otherwise, centred. Nothing of an earlier zoom is
    // kept. A view not yet shown does this once it is, at its real size.
    void showWholeScene();
    // Multiplies the zoom by `factor`, keeping the scene point under the
    // viewport position `anchor` where it is (as far as scrolling allows).
    void zoomAbout(qreal factor, const QPointF &anchor);
    // Zooms by `factor` about the middle of the view.
    void zoomBy(qreal factor);
    // Scales the whole photo to fill the view, larger or smaller.
    void fitToWindow();
    // One photo pixel to one screen pixel, about the middle of the view.
    void actualSize();
    qreal zoom() const { return transform().m11(); }
    bool isFitted() const;

    // Space held: a left press pans rather than reaching the tool.
    void setSpaceHeld(bool held);
    bool isPanning() const { return panner.isPanning(); }
    // Shows the colour layer and marks, or the photo as it was.
    void setColouringShown(bool shown);
    bool colouringShown() const { return colouring; }
    // While `down`, the photo as it was; then the colouring as it was before.
    void holdPhoto(bool down);
    // Sets the viewport's cursor: the hand of a pan, or the tool's.
    void updateCursor();

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

    // The brush outline, a circle in the scene's rectangle `rect`.
    void showBrushCursor(const QRectF &rect);
    void removeBrushCursor();

    QUndoStack *undoStack = nullptr;
    int toolMode = 0;

signals:
    void brushPressed(QList<QPoint> newfg, QList<QPoint> newbg);
    void brushSpans(RowSpans newfg, RowSpans newbg);
    void strokeStarted(bool erase);
    void strokeFinished();
    void zoomChanged(qreal zoom);
    void colouringShownChanged(bool shown);
    // The colour shown under the pointer was taken (the picker, Alt+click).
    void colourPicked(QRgb colour);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    // The tool toolMode chooses now; a change of choice deactivates the
    // tool chosen before.
    CanvasTool *currentTool();
    ToolEvent sample(QMouseEvent *event) const;
    void clearmarks_private();
    QSize sceneSize() const;
    // After a scroll or zoom the outline follows the pointer, or goes.
    void refreshBrushCursor();
    void zoomDone();
    enum class Fit { None, WholeScene, Window };
    void applyFit(Fit mode);

    QPointer<CanvasDocument> doc;
    CanvasItems *shown = nullptr;
    std::map<int, std::unique_ptr<CanvasTool>> tools;
    CanvasTool *activeTool = nullptr;
    QGraphicsPixmapItem *pixmapItem = nullptr;
    CZefGraphicsBrushCursorItem *brushCursor = nullptr;
    int toolSize = 20;
    bool imageShown = false;
    bool wholeScenePending = false;
    Fit fit = Fit::None;
    QTransform fittedTransform; // the transform the fit gave; another is a zoom
    ViewPanner panner{this};
    CanvasKeys *keys = nullptr;
    bool colouring = true;
    bool colouringBeforeHold = true;
    bool holding = false;
    QPoint lastPointer{-1, -1};
};

#endif // CZEFGRAPHICSVIEW_H
