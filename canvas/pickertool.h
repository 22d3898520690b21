#ifndef PICKERTOOL_H
#define PICKERTOOL_H

#include "canvas/canvastool.h"

#include <QPointF>
#include <QRgb>

#include <optional>

// Takes the colour the canvas shows under the pointer: the photo with its
// colour layer over it, as drawn, or the photo alone while the layer is
// hidden. A click with the left button reports it through the view's
// colourPicked; a click beside the photo reports nothing.
class PickerTool : public CanvasTool
{
public:
    using CanvasTool::CanvasTool;

    void press(const ToolEvent &event) override;
    void deactivate() override;

    // The colour shown at the scene point, or nothing outside the photo.
    static std::optional<QRgb> shownColour(const CZefGraphicsView *view, const QPointF &scenePos);
    // Reports the colour shown at the scene point, if any; true if it did.
    static bool pick(CZefGraphicsView *view, const QPointF &scenePos);
};

#endif // PICKERTOOL_H
