#ifndef LAYERCOMMAND_H
#define LAYERCOMMAND_H

#include "imaging/layertilerecord.h"

#include <QCoreApplication>
#include <QPointer>
#include <QUndoCommand>

#include <memory>

class ColourLayer;

// What one step changed on the colour layer, shared between its command and
// the document, which keeps the history within its memory bound by giving up
// the oldest records.
struct LayerChange {
    LayerTileRecord record;
    // Given up to keep the history's memory bound: the step can no longer
    // be undone, and neither can anything older.
    bool givenUp = false;
};

// The undo step of a change of the colour layer (a stroke, a fill, a
// recovery), possibly with other parts of the same step as children. The
// change has already been made when the command is pushed, so the push's redo
// only carries out the children; undo and redo exchange the recorded tiles
// with the layer's. A step whose record was given up makes itself obsolete
// when it is reached, so the history drops it without touching the layer.
class LayerCommand : public QUndoCommand
{
    Q_DECLARE_TR_FUNCTIONS(LayerCommand)

public:
    LayerCommand(ColourLayer *layer, std::shared_ptr<LayerChange> change, const QString &text,
                 QUndoCommand *parent = nullptr);

    // The name of a brush stroke's step: "stroke" or "erase".
    static QString strokeText(bool erase);

    void undo() override;
    void redo() override;

private:
    bool exchange();

    QPointer<ColourLayer> layer;
    std::shared_ptr<LayerChange> change;
    bool pushed = false;
};

#endif // LAYERCOMMAND_H
