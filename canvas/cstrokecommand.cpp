#include "canvas/cstrokecommand.h"

#include "colourlayer/czefgraphicsimagemaskitem.h"

#include <QCoreApplication>
#include <QUndoStack>

CStrokeCommand::CStrokeCommand(CZefGraphicsImageMaskItem *layer, LayerTileRecord record, bool erase)
    : layer(layer)
    , record(std::move(record))
{
    setText(erase ? QCoreApplication::translate("MainWindow", "erase")
                  : QCoreApplication::translate("MainWindow", "stroke"));
}

void CStrokeCommand::undo()
{
    if (layer)
        layer->swapRecord(record);
}

void CStrokeCommand::redo()
{
    // QUndoStack::push calls redo once the stroke is already on the layer.
    if (!pushed) {
        pushed = true;
        return;
    }
    if (layer)
        layer->swapRecord(record);
}

void CStrokeCommand::giveUp()
{
    record = LayerTileRecord();
    layer = nullptr;
    // The stack deletes an obsolete command when it is reached, without
    // undoing it.
    setObsolete(true);
}

void CStrokeCommand::limitHistory(QUndoStack *stack, qint64 maxBytes)
{
    // Only commands up to the current index can be undone; those above it
    // (undone strokes) are dropped by the stack at the next push anyway.
    qint64 total = 0;
    int oldestKept = 0;
    for (int i = stack->index() - 1; i >= 0; --i) {
        const auto *stroke = dynamic_cast<const CStrokeCommand *>(stack->command(i));
        if (!stroke)
            continue;
        total += stroke->bytes();
        if (total > maxBytes) {
            oldestKept = i + 1;
            break;
        }
    }
    for (int i = 0; i < oldestKept; ++i) {
        // The stack hands out its commands as const; they are ours to retire.
        auto *command = const_cast<QUndoCommand *>(stack->command(i));
        if (auto *stroke = dynamic_cast<CStrokeCommand *>(command))
            stroke->giveUp();
        else
            command->setObsolete(true);
    }
}
