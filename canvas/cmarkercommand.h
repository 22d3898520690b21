#ifndef CMARKERCOMMAND_H
#define CMARKERCOMMAND_H

#include "imaging/markset.h"

#include <QPointer>
#include <QUndoCommand>

// The undo step of one mark, or a part of the step of a drag of marks. The
// mark is already laid when the command is pushed, so the push's redo does
// nothing; undo takes the mark off and keeps it, and a later redo puts it
// back as it was.
class CMarkerCommand : public QUndoCommand
{
public:
    CMarkerCommand(MarkSet *marks, const Mark &mark, QUndoCommand *parent = nullptr);

    void undo() override;
    void redo() override;

    const Mark &mark() const { return laid; }

private:
    QPointer<MarkSet> marks;
    Mark laid;
    bool takenOff = false; // by this command's undo, for redo to put back
};

#endif // CMARKERCOMMAND_H
