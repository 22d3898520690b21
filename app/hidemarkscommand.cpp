#include "app/hidemarkscommand.h"

#include "imaging/markset.h"

HideMarksCommand::HideMarksCommand(MarkSet *marks, QUndoCommand *parent)
    : QUndoCommand(parent)
    , marks(marks)
    , tag(MarkSet::newTag())
{
}

void HideMarksCommand::redo()
{
    if (marks)
        marks->hide(tag);
}

void HideMarksCommand::undo()
{
    if (marks)
        marks->show(tag);
}
