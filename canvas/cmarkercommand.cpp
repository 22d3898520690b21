#include "canvas/cmarkercommand.h"

#include <QGraphicsItem>

CMarkerCommand::CMarkerCommand(QGraphicsScene *scene, QGraphicsItem *item)
    : scene(scene)
    , item(item)
{
}

CMarkerCommand::~CMarkerCommand()
{
    if (ownsItem)
        delete item;
}

void CMarkerCommand::undo()
{
    if (!item)
        return; // already destroyed by an earlier undo
    if (!ownsItem && !scene) {
        // The scene is gone and took the mark with it.
        item = nullptr;
        return;
    }
    if (scene && item->scene() == scene)
        scene->removeItem(item);
    delete item;
    item = nullptr;
    ownsItem = false;
}

void CMarkerCommand::redo()
{
}

void CMarkerCommand::adoptItem()
{
    if (item)
        ownsItem = true;
}
