#include "canvas/czefgraphicsbrushcursoritem.h"

#include <QPen>

CZefGraphicsBrushCursorItem::CZefGraphicsBrushCursorItem(const QRectF &rect, QGraphicsItem *parent)
    : QGraphicsEllipseItem(rect, parent)
{
    // One screen pixel at every zoom: a pen of one photo pixel swells into a
    // thick ring, or a solid disc over what a small brush paints, zoomed in,
    // and fades away zoomed out.
    setPen(QPen(Qt::black, 0));
}

CZefGraphicsBrushCursorItem::~CZefGraphicsBrushCursorItem() = default;

int CZefGraphicsBrushCursorItem::type() const
{
    return Type;
}
