#include "canvas/cmarkercommand.h"

CMarkerCommand::CMarkerCommand(MarkSet *marks, const Mark &mark, QUndoCommand *parent)
    : QUndoCommand(parent)
    , marks(marks)
    , laid(mark)
{
}

void CMarkerCommand::undo()
{
    // A mark already gone (the marks were cleared) stays gone.
    if (!marks)
        return;
    if (const std::optional<Mark> taken = marks->take(laid.id)) {
        laid = *taken;
        takenOff = true;
    }
}

void CMarkerCommand::redo()
{
    if (!takenOff || !marks)
        return;
    marks->insert(laid);
    takenOff = false;
}
