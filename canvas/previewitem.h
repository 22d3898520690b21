#ifndef PREVIEWITEM_H
#define PREVIEWITEM_H

#include <QGraphicsItem>
#include <QImage>

// Shows a preview over the photo: a picture computed at a reduced size, each
// of its pixels standing for scale x scale photo pixels, drawn translucently
// above the colour layer (its user may restack it). It takes no input.
class PreviewItem : public QGraphicsItem
{
public:
    static constexpr qreal stackZ = 10.5;
    static constexpr qreal defaultOpacity = 0.6;

    explicit PreviewItem(QGraphicsItem *parent = nullptr);

    void setPicture(const QImage &picture, qreal scale);
    void clear();
    const QImage &picture() const { return image; }
    qreal pictureScale() const { return scale; }

    QRectF boundingRect() const override;
    void paint(QPainter *painter, const QStyleOptionGraphicsItem *option, QWidget *widget) override;

private:
    QImage image;
    qreal scale = 1;
};

#endif // PREVIEWITEM_H
