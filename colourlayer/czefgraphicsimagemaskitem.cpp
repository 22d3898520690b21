#include "colourlayer/czefgraphicsimagemaskitem.h"

#include <QPainter>
#include <QStyleOptionGraphicsItem>

#include <utility>

CZefGraphicsImageMaskItem::CZefGraphicsImageMaskItem(QGraphicsItem *parent)
    : QGraphicsItem(parent)
    , ownLayer(std::make_unique<ColourLayer>())
{
    follow(ownLayer.get());
}

CZefGraphicsImageMaskItem::CZefGraphicsImageMaskItem(ColourLayer *layer, QGraphicsItem *parent)
    : QGraphicsItem(parent)
{
    follow(layer);
}

CZefGraphicsImageMaskItem::~CZefGraphicsImageMaskItem()
{
    QObject::disconnect(changes);
}

void CZefGraphicsImageMaskItem::follow(ColourLayer *layer)
{
    // paint() draws only the exposed part of the layer.
    setFlag(ItemUsesExtendedStyleOption);
    shownLayer = layer;
    maskImage = layer->imagePointer();
    shownSize = layer->image().size();
    changes = QObject::connect(layer, &ColourLayer::changed, layer, [this](const QRect &area) { layerChanged(area); });
}

void CZefGraphicsImageMaskItem::layerChanged(const QRect &area)
{
    if (shownLayer->image().size() != shownSize) {
        prepareGeometryChange();
        shownSize = shownLayer->image().size();
        update();
        return;
    }
    update(area);
}

bool CZefGraphicsImageMaskItem::init(int width, int height, unsigned int fg, unsigned int bg)
{
    return shownLayer && shownLayer->init(width, height, fg, bg);
}

bool CZefGraphicsImageMaskItem::init(QImage layer, QImage smoothed, unsigned int fg, unsigned int bg)
{
    return shownLayer && shownLayer->init(std::move(layer), std::move(smoothed), fg, bg);
}

void CZefGraphicsImageMaskItem::setFg(unsigned int fg)
{
    if (shownLayer)
        shownLayer->setFg(fg);
}

QRectF CZefGraphicsImageMaskItem::boundingRect() const
{
    return QRectF(QPointF(0, 0), QSizeF(shownSize));
}

void CZefGraphicsImageMaskItem::paint(QPainter *painter, const QStyleOptionGraphicsItem *option, QWidget *widget)
{
    Q_UNUSED(widget);
    if (!shownLayer || shownLayer->isNull())
        return;
    const QRect exposed = option->exposedRect.toAlignedRect() & shownLayer->rect();
    if (exposed.isEmpty())
        return;
    const int factor =
        ReducedLayer::factorFor(QStyleOptionGraphicsItem::levelOfDetailFromTransform(painter->worldTransform()));
    if (factor > 1 && reducedCopies) {
        // Far out, the softening is finer than a screen pixel: a reduced
        // copy, made from the layer itself, costs a quarter of the pixels
        // or less. The neighbours a scaled drawing may sample come along.
        const QRect around = exposed.adjusted(-factor, -factor, factor, factor);
        const QImage &picture = shownLayer->reduced(factor, around);
        if (!picture.isNull()) {
            const QRectF target(exposed);
            painter->drawImage(target, picture, QRectF(target.topLeft() / factor, target.size() / factor));
            return;
        }
    }
    // Only what is about to be drawn is brought up to date; stale tiles
    // elsewhere wait until they are exposed.
    painter->drawImage(exposed.topLeft(), shownLayer->smoothed(exposed), exposed);
}

QList<QPoint> CZefGraphicsImageMaskItem::fgpoints()
{
    return shownLayer ? shownLayer->fgPoints() : QList<QPoint>();
}

void CZefGraphicsImageMaskItem::updateMaskFromImage(QList<QPoint> newfg, QList<QPoint> newbg, QImage *photo)
{
    if (shownLayer)
        shownLayer->paintPoints(newfg, newbg, photo);
}

void CZefGraphicsImageMaskItem::updateMask(QList<QPoint> newfg, QList<QPoint> newbg)
{
    if (shownLayer)
        shownLayer->setPoints(newfg, newbg);
}

void CZefGraphicsImageMaskItem::recreateMaskfromFg(QList<QPoint> points)
{
    if (shownLayer)
        shownLayer->recreateFromFg(points);
}

void CZefGraphicsImageMaskItem::updateSpansFromImage(const RowSpans &newfg, const RowSpans &newbg, const QImage *photo)
{
    if (shownLayer)
        shownLayer->paintSpans(newfg, newbg, photo);
}
