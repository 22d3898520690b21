#include "canvas/chidemarkscommand.h"

#include <QGraphicsEllipseItem>
#include <QGraphicsRectItem>

namespace {

qint64 nextTag = 1;

bool isMark(const QGraphicsItem *item)
{
    return item->type() == QGraphicsRectItem::Type || item->type() == QGraphicsEllipseItem::Type;
}

} // namespace

CHideMarksCommand::CHideMarksCommand(QGraphicsScene *scene, QUndoCommand *parent)
    : QUndoCommand(parent)
    , scene(scene)
    , tag(nextTag++)
{
}

void CHideMarksCommand::redo()
{
    if (!scene)
        return;
    const QList<QGraphicsItem *> items = scene->items();
    for (QGraphicsItem *item : items) {
        if (isMark(item) && item->isVisible()) {
            item->setData(tagKey, tag);
            item->hide();
        }
    }
}

void CHideMarksCommand::undo()
{
    if (!scene)
        return;
    const QList<QGraphicsItem *> items = scene->items();
    for (QGraphicsItem *item : items) {
        if (isMark(item) && item->data(tagKey).toLongLong() == tag) {
            item->setData(tagKey, QVariant());
            item->show();
        }
    }
}
