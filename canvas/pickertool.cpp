#include "canvas/pickertool.h"

#include "canvas/canvasdocument.h"
#include "canvas/canvasitems.h"
#include "canvas/czefgraphicsview.h"
#include "colourlayer/czefgraphicsimagemaskitem.h"
#include "imaging/colourlayer.h"

#include <cmath>

void PickerTool::press(const ToolEvent &event)
{
    if (event.button == Qt::LeftButton)
        pick(view, event.scenePos);
}

void PickerTool::deactivate()
{
    view->viewport()->unsetCursor();
}

std::optional<QRgb> PickerTool::shownColour(const CZefGraphicsView *view, const QPointF &scenePos)
{
    CanvasDocument *document = view->document();
    if (!document || !document->hasPhoto() || !std::isfinite(scenePos.x()) || !std::isfinite(scenePos.y()))
        return std::nullopt;
    const QImage &photo = document->photo();
    const QPointF floored(std::floor(scenePos.x()), std::floor(scenePos.y()));
    if (!QRectF(photo.rect()).contains(floored))
        return std::nullopt;
    const QPoint p = floored.toPoint();
    const QRgb under = photo.pixel(p) | 0xFF000000u;

    const CanvasItems *items = view->documentItems();
    ColourLayer *layer = document->colourLayer();
    const bool layerShown =
        items && items->layerItem() && items->layerItem()->isVisible() && layer && layer->rect().contains(p);
    if (!layerShown)
        return under;
    // The layer is drawn as its softened, premultiplied picture over the photo.
    const QImage &drawn = layer->smoothed(QRect(p, QSize(1, 1)));
    const QRgb over = reinterpret_cast<const QRgb *>(drawn.constScanLine(p.y()))[p.x()];
    const unsigned rest = 255 - unsigned(qAlpha(over));
    const auto channel = [&](int shift) {
        const unsigned mixed = ((over >> shift) & 0xFFu) + (((under >> shift) & 0xFFu) * rest + 127) / 255;
        return QRgb(std::min(mixed, 255u)) << shift;
    };
    return 0xFF000000u | channel(16) | channel(8) | channel(0);
}

bool PickerTool::pick(CZefGraphicsView *view, const QPointF &scenePos)
{
    const std::optional<QRgb> colour = shownColour(view, scenePos);
    if (!colour)
        return false;
    emit view->colourPicked(*colour);
    return true;
}
