#include "app/hidemarkscommand.h"

#include "imaging/markset.h"

HideMarksCommand::HideMarksCommand(MarkSet *marks, QUndoCommand *parent)
    : HideMarksCommand(marks, {}, parent)
{ }

HideMarksCommand::HideMarksCommand(MarkSet *marks, const QList<Mark::Kind> &kinds, QUndoCommand *parent)
    : QUndoCommand(parent)
    , marks(marks)
    , kinds(kinds)
    , tag(MarkSet::newTag())
{ }

void HideMarksCommand::redo()
{
    if (marks)
        marks->hide(tag, kinds);
}

void HideMarksCommand::undo()
{
    if (marks)
        marks->show(tag);
}
