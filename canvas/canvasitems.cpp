#include "canvas/canvasitems.h"

#include "canvas/canvasdocument.h"
#include "colourlayer/czefgraphicsimagemaskitem.h"

#include <QBrush>
#include <QGraphicsEllipseItem>
#include <QGraphicsPixmapItem>
#include <QGraphicsRectItem>
#include <QGraphicsScene>
#include <QPen>

namespace {

constexpr qreal photoZ = 5;
constexpr qreal colourLayerZ = 10;
constexpr qreal markZ = 10;

} // namespace

CanvasItems::CanvasItems(QGraphicsScene *scene, CanvasDocument *document, QObject *parent)
    : QObject(parent)
    , scene(scene)
    , document(document)
{
    connect(document, &CanvasDocument::photoChanged, this, &CanvasItems::showPhoto);
    MarkSet *set = document->marks();
    connect(set, &MarkSet::added, this, &CanvasItems::addMark);
    connect(set, &MarkSet::removed, this, &CanvasItems::removeMark);
    connect(set, &MarkSet::hiddenChanged, this, &CanvasItems::setMarkHidden);
    if (document->hasPhoto())
        showPhoto();
    const QList<Mark> existing = set->all();
    for (const Mark &mark : existing)
        addMark(mark);
}

void CanvasItems::showPhoto()
{
    if (!scene || !document->hasPhoto())
        return;
    if (photo) {
        photo->setPixmap(document->photoPixmap());
    } else {
        photo = scene->addPixmap(document->photoPixmap());
        photo->setZValue(photoZ);
    }
    if (!layer) {
        layer = new CZefGraphicsImageMaskItem(document->colourLayer());
        scene->addItem(layer);
        layer->setZValue(colourLayerZ);
    }
    scene->setSceneRect(0, 0, document->photo().width(), document->photo().height());
}

void CanvasItems::addMark(const Mark &mark)
{
    if (!scene)
        return;
    const QColor colour = QColor::fromRgb(mark.colour);
    QPen pen(colour);
    pen.setWidth(0); // cosmetic: one device pixel at any zoom
    const QBrush brush(colour, Qt::SolidPattern);
    QGraphicsItem *item = mark.kind == Mark::Keep ? static_cast<QGraphicsItem *>(scene->addRect(mark.rect, pen, brush))
                                                  : scene->addEllipse(mark.rect, pen, brush);
    item->setZValue(markZ);
    item->setVisible(!mark.isHidden());
    marks.insert(mark.id, item);
}

void CanvasItems::removeMark(quint64 id)
{
    QGraphicsItem *item = marks.take(id);
    if (item && scene)
        delete item; // leaves the scene as it goes
}

void CanvasItems::setMarkHidden(quint64 id, bool hidden)
{
    if (QGraphicsItem *item = marks.value(id); item && scene)
        item->setVisible(!hidden);
}
