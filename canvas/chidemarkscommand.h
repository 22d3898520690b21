#ifndef CHIDEMARKSCOMMAND_H
#define CHIDEMARKSCOMMAND_H

#include <QGraphicsScene>
#include <QPointer>
#include <QUndoCommand>

// Takes the marks off the canvas after a fill, as part of the fill's undo
// step, and puts them back when the fill is undone. The marks stay in the
// scene, hidden, so they keep belonging to the scene and to their own marker
// commands; the command finds them again by a tag rather than by pointer,
// because a mark's own command may destroy it meanwhile.
class CHideMarksCommand : public QUndoCommand
{
public:
    explicit CHideMarksCommand(QGraphicsScene *scene, QUndoCommand *parent = nullptr);

    void undo() override;
    void redo() override;

    // The item data key under which hidden marks carry their command's tag.
    static constexpr int tagKey = 0x4272;

private:
    QPointer<QGraphicsScene> scene;
    qint64 tag;
};

#endif // CHIDEMARKSCOMMAND_H
