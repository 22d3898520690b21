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
        return;
    if (!ownsItem && !scene) {
        // The scene is gone and took the mark with it.
        item = nullptr;
        return;
    }
    // Off the scene the mark is kept, so that redo can put it back.
    if (scene && item->scene() == scene) {
        scene->removeItem(item);
        ownsItem = true;
        takenOff = true;
    }
}

void CMarkerCommand::redo()
{
    // The first redo comes from the push, with the mark already laid.
    if (!takenOff || !item || !scene)
        return;
    scene->addItem(item);
    ownsItem = false;
    takenOff = false;
}

void CMarkerCommand::adoptItem()
{
    if (item)
        ownsItem = true;
}
