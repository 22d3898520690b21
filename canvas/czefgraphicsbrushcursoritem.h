#ifndef CZEFGRAPHICSBRUSHCURSORITEM_H
#define CZEFGRAPHICSBRUSHCURSORITEM_H

#include <QGraphicsEllipseItem>

// The circle that shows the brush outline under the pointer. Its own type
// number keeps it apart from the remove marker's circles, which are plain
// ellipse items.
class CZefGraphicsBrushCursorItem : public QGraphicsEllipseItem
{
public:
    enum { Type = UserType + 1 };

    CZefGraphicsBrushCursorItem(const QRectF &rect, QGraphicsItem *parent = nullptr);
    ~CZefGraphicsBrushCursorItem() override;

    int type() const override;
};

#endif // CZEFGRAPHICSBRUSHCURSORITEM_H
