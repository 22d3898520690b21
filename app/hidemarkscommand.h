#ifndef HIDEMARKSCOMMAND_H
#define HIDEMARKSCOMMAND_H

#include "imaging/markset.h"

#include <QList>
#include <QPointer>
#include <QUndoCommand>

// Takes the marks a step used up (a fill, a spread) off the canvas, as a part
// of that step, and brings them back when it is undone: those of `kinds`, or
// all when none are named. The marks stay in the set, hidden, so that their
// own commands can still take them away.
class HideMarksCommand : public QUndoCommand
{
public:
    explicit HideMarksCommand(MarkSet *marks, QUndoCommand *parent = nullptr);
    HideMarksCommand(MarkSet *marks, const QList<Mark::Kind> &kinds, QUndoCommand *parent = nullptr);

    void undo() override;
    void redo() override;

private:
    QPointer<MarkSet> marks;
    QList<Mark::Kind> kinds;
    quint64 tag;
};

#endif // HIDEMARKSCOMMAND_H
