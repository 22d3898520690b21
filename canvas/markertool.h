#ifndef MARKERTOOL_H
#define MARKERTOOL_H

#include "canvas/canvastool.h"
#include "imaging/markset.h"

#include <QCoreApplication>
#include <QList>
#include <QPointF>

// Lays keep, remove or colour marks with the left button. Along a drag, one
// mark per scene pixel on the straight line from the last one, so that a fast
// hand leaves no gaps; the whole drag is one undo step. A move with the button
// held but no press seen lays one mark, as its own step. Marks are laid only
// where the scene can hold them: away from its first row and column. Colour
// marks take the brush colour of the moment, and a drag with the right
// button takes the shown colour marks under the pointer off, again as one
// undo step. The pointer shows the outline of the mark it would lay, as
// large as the mark shows on screen.
class MarkerTool : public CanvasTool
{
    Q_DECLARE_TR_FUNCTIONS(MarkerTool)

public:
    MarkerTool(CZefGraphicsView *view, Mark::Kind kind);

    void press(const ToolEvent &event) override;
    void move(const ToolEvent &event) override;
    void release(const ToolEvent &event) override;
    void deactivate() override;
    void abandon() override;
    bool isBusy() const override { return dragging; }
    bool cursor(QCursor *cursor) const override;

private:
    // Lays one mark with its top-left corner at the scene point s, where the
    // scene can hold it; true if it did.
    bool addMark(const QPointF &s);
    // Takes off the shown marks of the tool's kind under the scene point s.
    void removeMarksAt(const QPointF &s);
    // Opens the drag's step before its first change.
    void openStep(const QString &text);
    void finishDrag();

    const Mark::Kind kind;
    bool dragging = false;
    bool erasing = false; // the drag takes marks off
    QPointF anchor;       // where the drag's last mark went
    bool anchorLaid = false;
    bool stepOpen = false; // the drag's step takes the marks it lays
};

#endif // MARKERTOOL_H
