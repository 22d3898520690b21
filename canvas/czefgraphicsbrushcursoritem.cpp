#include "canvas/czefgraphicsbrushcursoritem.h"

CZefGraphicsBrushCursorItem::CZefGraphicsBrushCursorItem(const QRectF &rect, QGraphicsItem *parent)
    : QGraphicsEllipseItem(rect, parent)
{ }

CZefGraphicsBrushCursorItem::~CZefGraphicsBrushCursorItem() = default;

int CZefGraphicsBrushCursorItem::type() const
{
    return Type;
}
