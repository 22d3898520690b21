#ifndef DOCUMENT_H
#define DOCUMENT_H

#include "app/photometadata.h"
#include "canvas/canvasdocument.h"
#include "imaging/colourspread.h"
#include "imaging/coveragespans.h"
#include "imaging/rowspan.h"
#include "imaging/strokestyle.h"

#include <QImage>
#include <QList>
#include <QPixmap>
#include <QPoint>
#include <QSize>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

struct LayerChange;
class LayerSnapshot;

// The open photo and everything made on it: the photo itself (and its deeper
// original, for a 16-bit save), the colour layer's pixels, the marks, the
// history of changes, and the name it was opened from. Whatever shows the
// document (the canvas) follows its signals and those of its layer and marks.
//
// The history is what "saved" means: saving marks it clean, undoing back to
// that point is clean again, opening another photo starts a fresh one. It
// keeps at most historyLimit() bytes of recorded pixels: past that the oldest
// steps are given up and can no longer be undone, and a step too large to
// record at all ends the history before it.
//
// Opening secures every large allocation (photo, pixmap, both layer images)
// before it replaces anything, so a photo too large for the memory left leaves
// the current one, its colouring and its history exactly as they were.
class Document : public CanvasDocument
{
    Q_OBJECT

public:
    enum class OpenResult { Opened, Unreadable, OutOfMemory };

    // The most recorded pixel data the history keeps by default.
    static constexpr qint64 defaultHistoryBytes = qint64(512) * 1024 * 1024;

    explicit Document(QObject *parent = nullptr);
    ~Document() override;

    // What a save needs of the document, for a worker thread to read while
    // painting goes on: the photo as implicitly shared copies (nothing
    // paints on them), the colour layer as a snapshot that copies only the
    // tiles painted meanwhile.
    struct Snapshot {
        QImage photo;
        QImage original;
        std::shared_ptr<const LayerSnapshot> layer;
        QByteArray marks;
        PhotoMetadata metadata;
    };

    // Opens a photo or a work file (.ora): a work file of this program gives
    // back the photo, the colour layer and the marks as they were saved.
    OpenResult open(const QString &fileName);
    // Opens a photo already read: `photo` in a form the colouriser reads,
    // `original` its deeper pixels or null.
    OpenResult open(QImage photo, QImage original, const QString &fileName);
    // Writes the photo with its colouring, or the whole work where the name
    // ends in .ora; on success the work counts as saved.
    bool save(const QString &fileName);
    Snapshot snapshot() const;
    // The photo's EXIF, XMP and colour profile as opened, for saved files.
    const PhotoMetadata &metadata() const { return photoMetadata; }
    // Whether the document was opened from a work file.
    bool isWorkFile() const { return openedWork; }
    // What the last open that worked left out, for the status bar.
    QStringList openNotes() const { return lastNotes; }
    // The work as it stands counts as saved.
    void setSaved();
    // Why the last open or save failed, naming the file, for the status bar.
    QString errorString() const { return lastError; }
    // The pixel size of the photo the last open found no memory for.
    QSize refusedSize() const { return lastRefusedSize; }

    bool hasPhoto() const override { return !photoImage.isNull(); }
    const QImage &photo() const override { return photoImage; }
    QPixmap photoPixmap() const override { return pixmap; }
    ColourLayer *colourLayer() const override { return layer; }
    MarkSet *marks() const override { return markSet; }
    QUndoStack *history() const override { return undoHistory; }
    QString fileName() const { return photoFileName; }
    bool isModified() const;

    // The brush colour every photo opens with.
    static constexpr QRgb openingBrushColour = 0xFFFF0000u;
    // The brush colour: strokes and fills take its hue and saturation.
    void setBrushColour(QRgb colour);
    // How the next stroke, fill or spread lays its pixels: the colour model,
    // strength and softness chosen, with the brush colour. The defaults lay
    // exactly the pixels the layer has always had.
    StrokeStyle style() const;
    void setModel(StrokeStyle::Model model) { brushStyle.model = model; }
    void setStrength(int percent) { brushStyle.strength = percent; }
    void setSoftness(int percent) { brushStyle.softness = percent; }

    void beginStroke(bool erase) override;
    void paintSpans(const RowSpans &newfg, const RowSpans &newbg) override;
    void paintShape(const CoverageSpans &shape) override;
    int strokeSoftness() const override { return brushStyle.clampedSoftness(); }
    void endStroke() override;
    bool isStroking() const override { return stroking; }
    void push(QUndoCommand *step) override;

    // Colours (newfg) and clears (newbg) the listed photo pixels.
    void paint(const QList<QPoint> &newfg, const QList<QPoint> &newbg);
    // Colours the region in the current style (model, strength, brush colour)
    // as one step of the history, which also takes the marks off (and gives
    // them back on undo); a partly covered pixel takes that share of the
    // strength. False when the step was too large to record: the region stays
    // coloured, the marks are gone and the history before it is given up.
    bool fill(const CoverageSpans &region);
    bool fill(const RowSpans &region) { return fill(CoverageSpans(region)); }
    // Writes a spread's full-resolution chroma through the current style into
    // every pixel the layer has not coloured yet, as one step of the history
    // that also hides the colour marks (and gives them back on undo). False,
    // with the layer, the marks and the history untouched, when the chroma
    // is not the photo's size or the step cannot be recorded (no memory, or
    // more than the history may keep).
    bool spread(const ColourSpread::Chroma &chroma);
    // Puts a whole colour layer (ARGB32, the photo's size) on the photo as one
    // step of the history, so the work is unsaved and Undo takes it off; false
    // when the sizes differ or there is no memory to record the step.
    bool restoreColouring(const QImage &colouring);

    qint64 historyLimit() const { return maxHistoryBytes; }
    // What the history's records keep now.
    qint64 historyBytes() const;
    void setHistoryLimit(qint64 bytes) { maxHistoryBytes = bytes; }

signals:
    void modifiedChanged(bool modified);
    void opened(const QString &fileName);
    void strokeFinished();
    // The history before a step too large to record was given up.
    void historyLost(const QString &why);

protected:
    // Every allocation an opening makes beyond reading the file goes through
    // these two, so that tests can make any one of them fail.
    virtual QPixmap pixmapFor(const QImage &photo);
    virtual QImage allocate(const QSize &size, QImage::Format format);

private:
    // Pushes a recorded change of the layer as (the head of) a step.
    void pushChange(QUndoCommand *step, std::shared_ptr<LayerChange> change);
    void limitHistory();
    void endHistory();
    OpenResult openWork(const QString &fileName);
    OpenResult adopt(QImage photo, QImage original, const QString &fileName, bool work);

    ColourLayer *layer;
    MarkSet *markSet;
    QUndoStack *undoHistory;
    QImage photoImage;
    // The photo's own pixels where they are deeper than 8 bits per channel,
    // for a 16-bit save; null otherwise.
    QImage photoOriginal;
    QPixmap pixmap;
    QString photoFileName;
    PhotoMetadata photoMetadata;
    QStringList lastNotes;
    bool openedWork = false;
    QString lastError;
    QSize lastRefusedSize;
    StrokeStyle brushStyle; // all but the brush colour, which the layer keeps
    bool stroking = false;
    bool strokeErases = false;
    qint64 maxHistoryBytes = defaultHistoryBytes;
    // The recorded changes of the history, oldest first; a change dies with
    // its command.
    std::vector<std::weak_ptr<LayerChange>> changes;
};

#endif // DOCUMENT_H
