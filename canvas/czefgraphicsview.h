#ifndef CZEFGRAPHICSVIEW_H
#define CZEFGRAPHICSVIEW_H

#include "canvas/canvasdocument.h"
#include "imaging/rowspan.h"

#include <QGraphicsView>
#include <QList>
#include <QPoint>
#include <QPointer>

#include <map>
#include <memory>

class CanvasItems;
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
// brush, 7 colour marker; any other value is no tool, and the mouse is then ignored. More
// tools are added with addTool().
//
// The zoom is the view's transformation: the window's zoom buttons and keys
// scale about the view's centre, Ctrl + wheel about the pointer, and each new
// photo starts afresh from showWholeScene.
class CZefGraphicsView : public QGraphicsView
{
    Q_OBJECT

public:
    enum Tool { KeepMarker = 3, RemoveMarker = 4, KeepBrush = 5, RemoveBrush = 6, ColourMarker = 7 };
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

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;

private:
    // The tool toolMode chooses now; a change of choice deactivates the
    // tool chosen before.
    CanvasTool *currentTool();
    ToolEvent sample(QMouseEvent *event) const;
    void clearmarks_private();
    QSize sceneSize() const;

    QPointer<CanvasDocument> doc;
    CanvasItems *shown = nullptr;
    std::map<int, std::unique_ptr<CanvasTool>> tools;
    CanvasTool *activeTool = nullptr;
    QGraphicsPixmapItem *pixmapItem = nullptr;
    CZefGraphicsBrushCursorItem *brushCursor = nullptr;
    int toolSize = 20;
    bool imageShown = false;
    bool wholeScenePending = false;
};

#endif // CZEFGRAPHICSVIEW_H
