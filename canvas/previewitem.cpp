#include "canvas/previewitem.h"

#include <QPainter>
#include <QStyleOptionGraphicsItem>

PreviewItem::PreviewItem(QGraphicsItem *parent)
    : QGraphicsItem(parent)
{
    setZValue(stackZ);
    setOpacity(defaultOpacity);
    setAcceptedMouseButtons(Qt::NoButton);
    setAcceptHoverEvents(false);
    setFlag(ItemUsesExtendedStyleOption);
}

void PreviewItem::setPicture(const QImage &picture, qreal pictureScale)
{
    prepareGeometryChange();
    image = picture;
    scale = pictureScale > 0 ? pictureScale : 1;
    update();
}

void PreviewItem::clear()
{
    if (image.isNull())
        return;
    prepareGeometryChange();
    image = QImage();
}

QRectF PreviewItem::boundingRect() const
{
    return QRectF(QPointF(0, 0), QSizeF(image.size()) * scale);
}

void PreviewItem::paint(QPainter *painter, const QStyleOptionGraphicsItem *option, QWidget *)
{
    if (image.isNull())
        return;
    // Only the exposed part is scaled: at a high zoom the whole picture
    // would be many times the screen.
    const QRectF exposed = option->exposedRect.intersected(boundingRect());
    const QRectF source(exposed.topLeft() / scale, exposed.size() / scale);
    painter->drawImage(exposed, image, source);
}
