#ifndef DOCUMENT_H
#define DOCUMENT_H

#include "imaging/rowspan.h"

#include <QImage>
#include <QList>
#include <QObject>
#include <QPixmap>
#include <QPoint>
#include <QSize>
#include <QString>

class CZefGraphicsImageMaskItem;
class QGraphicsPixmapItem;
class QGraphicsScene;
class QUndoStack;

// The open photo and its colouring: the photo itself, the scene items that
// show it (the pixmap item and the colour layer, both owned by the scene), the
// name it was opened from, and whether the colouring holds unsaved work.
//
// The scene and the undo history belong to the window; the document only puts
// items into the scene and reads and marks the history's clean state, which
// is what "saved" means: saving marks it clean, undoing back to that point is
// clean again, and opening another photo starts a fresh history.
//
// Opening secures every large allocation (photo, pixmap, both layer images)
// before it replaces anything, so a photo too large for the memory left leaves
// the current one, its colouring and its history exactly as they were.
class Document : public QObject
{
    Q_OBJECT

public:
    enum class OpenResult { Opened, Unreadable, OutOfMemory };

    Document(QGraphicsScene *scene, QUndoStack *history, QObject *parent = nullptr);
    ~Document() override;

    OpenResult open(const QString &fileName);
    // Writes the photo with its colouring; on success the work counts as saved.
    bool save(const QString &fileName);
    // Why the last open or save failed, naming the file, for the status bar.
    QString errorString() const { return lastError; }
    // Colours (newfg) and clears (newbg) the listed photo pixels.
    void paint(QList<QPoint> newfg, QList<QPoint> newbg);
    void paintSpans(const RowSpans &newfg, const RowSpans &newbg);
    // A stroke, press to release, becomes one step of the history. endStroke
    // is false when the stroke was too large to record: it stays painted, the
    // history before it is given up, and the work counts as unsaved.
    void beginStroke(bool erase);
    bool endStroke();
    // Colours the region with the brush colour as one step of the history,
    // which also takes the marks off (and gives them back on undo). False
    // when the step was too large to record: the region stays coloured and
    // the history before it is given up.
    bool fill(const RowSpans &region);
    // Pixels of the photo from the canvas's mark indices (y * width + x).
    QList<QPoint> markedPixels(const QList<int> &indices) const;
    // Puts a whole colour layer (ARGB32, the photo's size) on the photo as one
    // step of the history, so the work is unsaved and Undo takes it off; false
    // when the sizes differ or there is no memory to record the step.
    bool restoreColouring(const QImage &colouring);

    bool hasPhoto() const { return !photoImage.isNull(); }
    const QImage &photo() const { return photoImage; }
    QString fileName() const { return photoFileName; }
    bool isModified() const;
    // The pixel size of the photo the last open found no memory for.
    QSize refusedSize() const { return lastRefusedSize; }
    QGraphicsPixmapItem *photoItem() const { return pixmapItem; }
    CZefGraphicsImageMaskItem *colourLayer() const { return layer; }

signals:
    void modifiedChanged(bool modified);
    void opened(const QString &fileName);

protected:
    // Every allocation an opening makes beyond reading the file goes through
    // these two, so that tests can make any one of them fail.
    virtual QPixmap pixmapFor(const QImage &photo);
    virtual QImage allocate(const QSize &size, QImage::Format format);

private:
    void endHistory();
    void removeMarks();

    QGraphicsScene *scene;
    QUndoStack *history;
    QGraphicsPixmapItem *pixmapItem = nullptr;
    CZefGraphicsImageMaskItem *layer = nullptr;
    QImage photoImage;
    // The photo's own pixels where they are deeper than 8 bits per channel,
    // for a 16-bit save; null otherwise.
    QImage photoOriginal;
    QString photoFileName;
    QString lastError;
    QSize lastRefusedSize;
    bool strokeErases = false;
};

#endif // DOCUMENT_H
