#ifndef HIDEMARKSCOMMAND_H
#define HIDEMARKSCOMMAND_H

#include <QPointer>
#include <QUndoCommand>

class MarkSet;

// Takes the marks a step used up (a fill) off the canvas, as a part of that
// step, and brings them back when it is undone. The marks stay in the set,
// hidden, so that their own commands can still take them away.
class HideMarksCommand : public QUndoCommand
{
public:
    explicit HideMarksCommand(MarkSet *marks, QUndoCommand *parent = nullptr);

    void undo() override;
    void redo() override;

private:
    QPointer<MarkSet> marks;
    quint64 tag;
};

#endif // HIDEMARKSCOMMAND_H
