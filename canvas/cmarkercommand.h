#ifndef CMARKERCOMMAND_H
#define CMARKERCOMMAND_H

#include <QGraphicsScene>
#include <QPointer>
#include <QUndoCommand>

class QGraphicsItem;

// The undo step of one marker mark. The mark is already in the scene when the
// command is pushed, so redo does nothing; undo takes the mark off and
// destroys it, once.
//
// Ownership of the mark: while it is in the scene, the scene owns it. Once the
// view's clearmarks takes it off the scene it belongs to this command
// (adoptItem), which destroys it on undo or, failing that, in its destructor.
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
};

#endif // CMARKERCOMMAND_H
