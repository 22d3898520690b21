#ifndef CMARKERCOMMAND_H
#define CMARKERCOMMAND_H

#include <QGraphicsScene>
#include <QPointer>
#include <QUndoCommand>

class QGraphicsItem;

// The undo step of one marker mark. The mark is already in the scene when the
// command is pushed, so the first redo does nothing; undo takes the mark off
// the scene and keeps it, and a later redo puts it back.
//
// Ownership of the mark: while it is in the scene, the scene owns it. Off the
// scene (undone, or taken off by the view's clearmarks, adoptItem) it belongs
// to this command, which destroys it with itself.
class CMarkerCommand : public QUndoCommand
{
public:
    CMarkerCommand(QGraphicsScene *scene, QGraphicsItem *item);
    ~CMarkerCommand() override;

    void undo() override;
    void redo() override;

    QGraphicsItem *mark() const { return item; }
    // Called when the mark has been taken off the scene and nobody else owns it.
    void adoptItem();

private:
    QPointer<QGraphicsScene> scene;
    QGraphicsItem *item;
    bool ownsItem = false;
    bool takenOff = false; // by this command's undo, for redo to put back
};

#endif // CMARKERCOMMAND_H
