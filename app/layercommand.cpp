#include "app/layercommand.h"

#include "imaging/colourlayer.h"

LayerCommand::LayerCommand(ColourLayer *layer, std::shared_ptr<LayerChange> change, const QString &text,
                           QUndoCommand *parent)
    : QUndoCommand(text, parent)
    , layer(layer)
    , change(std::move(change))
{
}

QString LayerCommand::strokeText(bool erase)
{
    return erase ? tr("erase") : tr("stroke");
}

bool LayerCommand::exchange()
{
    if (change->givenUp || !layer) {
        setObsolete(true);
        return false;
    }
    layer->swapRecord(change->record);
    return true;
}

void LayerCommand::undo()
{
    if (exchange())
        QUndoCommand::undo();
}

void LayerCommand::redo()
{
    // The push's redo finds the change already made.
    if (!pushed) {
        pushed = true;
        QUndoCommand::redo();
        return;
    }
    if (exchange())
        QUndoCommand::redo();
}
