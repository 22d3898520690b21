#include "canvas/cstrokecommand.h"

#include "colourlayer/czefgraphicsimagemaskitem.h"

#include <QCoreApplication>
#include <QUndoStack>

CStrokeCommand::CStrokeCommand(CZefGraphicsImageMaskItem *layer, LayerTileRecord record, bool erase)
    : CStrokeCommand(layer, std::move(record),
                     erase ? QCoreApplication::translate("MainWindow", "erase")
                           : QCoreApplication::translate("MainWindow", "stroke"))
{
}

CStrokeCommand::CStrokeCommand(CZefGraphicsImageMaskItem *layer, LayerTileRecord record, const QString &text,
                               QUndoCommand *parent)
    : QUndoCommand(text, parent)
    , layer(layer)
    , record(std::move(record))
{
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

qint64 CStrokeCommand::bytesOf(const QUndoCommand *command)
{
    qint64 total = 0;
    if (const auto *stroke = dynamic_cast<const CStrokeCommand *>(command))
        total += stroke->bytes();
    for (int i = 0; i < command->childCount(); ++i)
        total += bytesOf(command->child(i));
    return total;
}

void CStrokeCommand::giveUp(QUndoCommand *command)
{
    if (auto *stroke = dynamic_cast<CStrokeCommand *>(command)) {
        stroke->record = LayerTileRecord();
        stroke->layer = nullptr;
    }
    for (int i = 0; i < command->childCount(); ++i)
        giveUp(const_cast<QUndoCommand *>(command->child(i)));
    // The stack deletes an obsolete command when it is reached, without
    // undoing it.
    command->setObsolete(true);
}

void CStrokeCommand::limitHistory(QUndoStack *stack, qint64 maxBytes)
{
    // Only commands up to the current index can be undone; those above it
    // (undone strokes) are dropped by the stack at the next push anyway.
    qint64 total = 0;
    int oldestKept = 0;
    for (int i = stack->index() - 1; i >= 0; --i) {
        total += bytesOf(stack->command(i));
        if (total > maxBytes) {
            oldestKept = i + 1;
            break;
        }
    }
    // The stack hands out its commands as const; they are ours to retire.
    for (int i = 0; i < oldestKept; ++i)
        giveUp(const_cast<QUndoCommand *>(stack->command(i)));
}
