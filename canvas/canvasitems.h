#ifndef CANVASITEMS_H
#define CANVASITEMS_H

#include "imaging/markset.h"

#include <QHash>
#include <QObject>
#include <QPointer>

class CanvasDocument;
class CZefGraphicsImageMaskItem;
class QGraphicsItem;
class QGraphicsPixmapItem;
class QGraphicsScene;

// The scene items that show a document, kept in step with it: the photo
// (z 5) with its colour layer (z 10) from the first photo on, and one item
// per mark (z 10): a green square for a keep mark, a red circle for a remove
// mark, a circle of its own colour for a colour mark. The scene is the photo and nothing else, so that the brush
// outline and strokes past the border never widen what the view scrolls over. The items belong to the scene.
class CanvasItems : public QObject
{
    Q_OBJECT

public:
    CanvasItems(QGraphicsScene *scene, CanvasDocument *document, QObject *parent = nullptr);

    QGraphicsPixmapItem *photoItem() const { return photo; }
    CZefGraphicsImageMaskItem *layerItem() const { return layer; }
    QGraphicsItem *markItem(quint64 id) const { return marks.value(id); }

    // Shows the colour layer and the marks, or only the photo.
    void setColouringVisible(bool visible);
    // The view's scale: below the scale at which a mark is 2 screen pixels
    // wide, the marks are outlined so that they stay that wide on screen.
    // Only their look changes, never the pixels they stand for.
    void setViewScale(qreal scale);
    // The smallest width a mark shows on screen, in screen pixels.
    static constexpr qreal minimumMarkWidth = 2;

private:
    void showPhoto();
    void addMark(const Mark &mark);
    void removeMark(quint64 id);
    void setMarkHidden(quint64 id, bool hidden);
    void outline(QGraphicsItem *item) const;

    QPointer<QGraphicsScene> scene;
    CanvasDocument *document;
    QGraphicsPixmapItem *photo = nullptr;
    CZefGraphicsImageMaskItem *layer = nullptr;
    QHash<quint64, QGraphicsItem *> marks;
    bool colouringVisible = true;
    qreal markPen = 0; // the marks' outline width in scene pixels; 0 is one screen pixel
};

#endif // CANVASITEMS_H
