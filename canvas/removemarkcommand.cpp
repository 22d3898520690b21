#include "canvas/removemarkcommand.h"

RemoveMarkCommand::RemoveMarkCommand(MarkSet *marks, const Mark &mark, QUndoCommand *parent)
    : QUndoCommand(parent)
    , marks(marks)
    , taken(mark)
{ }

void RemoveMarkCommand::undo()
{
    if (!marks)
        return;
    marks->insert(taken);
    putBack = true;
}

void RemoveMarkCommand::redo()
{
    if (!putBack || !marks)
        return;
    // The mark comes off as it is now: a step may have hidden it since.
    if (const std::optional<Mark> mark = marks->take(taken.id))
        taken = *mark;
    putBack = false;
}
