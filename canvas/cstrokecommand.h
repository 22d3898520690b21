#ifndef CSTROKECOMMAND_H
#define CSTROKECOMMAND_H

#include "imaging/layertilerecord.h"

#include <QUndoCommand>

class CZefGraphicsImageMaskItem;
class QUndoStack;

// The undo step of one brush stroke, press to release. The stroke has already
// been painted when the command is pushed, so the first redo does nothing;
// undo and redo exchange the recorded tiles with the layer's.
//
// The layer is the one the stroke was painted on; it outlives the command's
// use, because the history is cleared whenever the layer is initialised anew.
class CStrokeCommand : public QUndoCommand
{
public:
    // The most pixel data the whole history keeps; the oldest strokes are
    // given up first once it is passed.
    static constexpr qint64 historyBytes = qint64(512) * 1024 * 1024;

    CStrokeCommand(CZefGraphicsImageMaskItem *layer, LayerTileRecord record, bool erase);
    // A change of the layer by other means than a brush (a fill), named by
    // `text`, possibly as a part of a larger step.
    CStrokeCommand(CZefGraphicsImageMaskItem *layer, LayerTileRecord record, const QString &text,
                   QUndoCommand *parent = nullptr);

    void undo() override;
    void redo() override;

    qint64 bytes() const { return record.bytes(); }

    // What the records of a command and of its parts keep.
    static qint64 bytesOf(const QUndoCommand *command);

    // Gives up the oldest strokes of `stack` while their records together keep
    // more than `maxBytes`. A stroke given up can no longer be undone, and
    // neither can anything older, since its tiles would restore pixels that
    // the newer strokes were painted over.
    static void limitHistory(QUndoStack *stack, qint64 maxBytes = historyBytes);

private:
    static void giveUp(QUndoCommand *command);

    CZefGraphicsImageMaskItem *layer;
    LayerTileRecord record;
    bool pushed = false;
};

#endif // CSTROKECOMMAND_H
