#ifndef BRUSHTOOL_H
#define BRUSHTOOL_H

#include "canvas/canvastool.h"
#include "imaging/brushgeometry.h"

#include <QList>
#include <QPoint>
#include <QRect>
#include <QRectF>

// The round brush. Its size is set in view pixels (the view's brushSize()),
// so it covers fewer photo pixels zoomed in and more zoomed out. The keep
// brush colours with the left button and erases with the right; the remove
// brush erases with the left.
//
// A stroke runs from a press to the release of that button. The press paints
// the brush disc; every move paints the brush swept along the straight line
// from the previous pointer position, so a fast hand leaves no gaps. The
// pixel under the brush's centre is always painted, and the line of pixels
// its centre passes over, so a brush smaller than a photo pixel still paints. What a
// step covers goes to the document as row spans, and out through the view's
// brushSpans between strokeStarted and strokeFinished. The view's
// brushPressed carries the plain disc of each press and left-button move as
// a point list, built only while something listens to it.
class BrushTool : public CanvasTool
{
public:
    BrushTool(CZefGraphicsView *view, bool removeBrush);

    void press(const ToolEvent &event) override;
    void move(const ToolEvent &event) override;
    void release(const ToolEvent &event) override;
    void hover(const ToolEvent &event) override;
    void leave() override;
    void deactivate() override;
    bool isBusy() const override { return stroke != NoStroke; }

    // The disc under the pointer as a point list through brushPressed, when
    // the left button is held and someone listens.
    void emitDisc(const ToolEvent &event);
    // Shows the brush outline under the pointer (the remove brush hides it
    // as soon as it leaves the scene).
    void showCursor(const ToolEvent &event);

private:
    // The brush disc a viewport position gives.
    BrushGeometry::Disc discAt(const QPoint &viewPos) const;
    // The area a stroke can paint: what the scene's items cover.
    QRect paintableArea() const;
    // The pointer position, held within reach of the viewport.
    QPoint strokePoint(const ToolEvent &event) const;
    void startStroke(const ToolEvent &event);
    void continueStroke(const ToolEvent &event);
    void finishStroke();
    void deliver(const RowSpans &spans);
    void deliver(const CoverageSpans &shape);

    const bool removeBrush;
    enum Stroke { NoStroke, Painting, Erasing };
    Stroke stroke = NoStroke;
    Qt::MouseButton strokeButton = Qt::NoButton;
    QPoint strokePosition;          // the last pointer position of the stroke
    BrushGeometry::Disc strokeDisc; // the disc painted there
    QRect strokeArea;               // what the stroke can paint: the photo
    int strokeSoftness = 0;
    // Discs a soft stroke swept in its last moves: where one of them is the
    // nearest, a move going back over the way has nothing to add.
    QList<BrushGeometry::Disc> strokeHistory;
};

#endif // BRUSHTOOL_H
