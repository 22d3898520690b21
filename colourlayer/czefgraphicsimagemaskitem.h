#ifndef CZEFGRAPHICSIMAGEMASKITEM_H
#define CZEFGRAPHICSIMAGEMASKITEM_H

#include "imaging/colourlayer.h"
#include "imaging/rowspan.h"

#include <QGraphicsItem>
#include <QImage>
#include <QList>
#include <QMetaObject>
#include <QPoint>
#include <QPointer>

#include <memory>

// Draws a colour layer above the photo, its edges softened (the layer keeps
// that picture up to date tile by tile), and repaints what the layer says
// changed. It shows the document's layer; an item made without one keeps a
// layer of its own, which its own operations below then edit. `maskImage`
// points at the layer's pixels.
class CZefGraphicsImageMaskItem : public QGraphicsItem
{
public:
    static constexpr QImage::Format layerFormat = ColourLayer::format;
    static constexpr QImage::Format smoothedFormat = ColourLayer::smoothedFormat;

    explicit CZefGraphicsImageMaskItem(QGraphicsItem *parent = nullptr);
    explicit CZefGraphicsImageMaskItem(ColourLayer *layer, QGraphicsItem *parent = nullptr);
    ~CZefGraphicsImageMaskItem() override;

    ColourLayer *layer() const { return shownLayer; }

    bool init(int width, int height, unsigned int fg, unsigned int bg);
    bool init(QImage layer, QImage smoothed, unsigned int fg, unsigned int bg);
    void setFg(unsigned int fg);

    QRectF boundingRect() const override;
    void paint(QPainter *painter, const QStyleOptionGraphicsItem *option, QWidget *widget) override;

    QList<QPoint> fgpoints();
    void updateMaskFromImage(QList<QPoint> newfg, QList<QPoint> newbg, QImage *photo);
    void updateMask(QList<QPoint> newfg, QList<QPoint> newbg);
    void recreateMaskfromFg(QList<QPoint> points);
    void updateSpansFromImage(const RowSpans &newfg, const RowSpans &newbg, const QImage *photo);

    const QImage *maskImage = nullptr;

    // Whether zoomed-out views draw from the layer's reduced copies (on by
    // default); off only to measure against drawing the softened picture.
    static void setReducedCopies(bool on) { reducedCopies = on; }

private:
    void follow(ColourLayer *layer);
    void layerChanged(const QRect &area);

    std::unique_ptr<ColourLayer> ownLayer;
    QPointer<ColourLayer> shownLayer;
    QMetaObject::Connection changes;
    QSize shownSize;
    static inline bool reducedCopies = true;
};

#endif // CZEFGRAPHICSIMAGEMASKITEM_H
