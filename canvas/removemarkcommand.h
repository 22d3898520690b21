#ifndef REMOVEMARKCOMMAND_H
#define REMOVEMARKCOMMAND_H

#include "imaging/markset.h"

#include <QPointer>
#include <QUndoCommand>

// The undo step of taking one mark off, or a part of the step of a drag that
// takes marks off. The mark is already taken off when the command is pushed,
// so the push's redo does nothing; undo puts the mark back as it was, and a
// later redo takes it off again.
class RemoveMarkCommand : public QUndoCommand
{
public:
    RemoveMarkCommand(MarkSet *marks, const Mark &mark, QUndoCommand *parent = nullptr);

    void undo() override;
    void redo() override;

private:
    QPointer<MarkSet> marks;
    Mark taken;
    bool putBack = false; // by this command's undo, for redo to take off again
};

#endif // REMOVEMARKCOMMAND_H
