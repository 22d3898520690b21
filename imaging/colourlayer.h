#ifndef COLOURLAYER_H
#define COLOURLAYER_H

#include "imaging/coveragespans.h"
#include "imaging/layersnapshot.h"
#include "imaging/layertilerecord.h"
#include "imaging/reducedlayer.h"
#include "imaging/rowspan.h"
#include "imaging/strokestyle.h"

#include <QBitArray>
#include <QImage>
#include <QList>
#include <QObject>
#include <QPoint>
#include <QRect>
#include <QRgb>

#include <functional>
#include <memory>
#include <vector>

// The colour layer's pixels: one ARGB32 image (not premultiplied) the size of
// the photo. A pixel holds either the background value (uncoloured, the photo
// shows through) or the colour the photo pixel beneath takes on. Every change
// of the pixels goes through here, so that it can be recorded for undo and
// announced to whatever shows the layer.
//
// The layer also keeps the picture it is shown as: its edges softened (see
// EdgeSmoothing), premultiplied, ready to draw. Only the 64 x 64 tiles
// changed since they were last drawn are softened again, and only when they
// are about to be drawn, so a brush step costs what it changes, not what the
// photo holds. The stored pixels are never softened.
//
// While a change is being recorded, every write first keeps the earlier
// content of the tiles it reaches (LayerTileRecord), so it can be undone;
// the same goes for the snapshots a save reads (LayerSnapshot). Every write
// therefore goes through writableRow() or writableArea(), and nothing else
// gets a writable hold of the pixels.
class StrokeBuffer;

class ColourLayer : public QObject
{
    Q_OBJECT

public:
    static constexpr QImage::Format format = QImage::Format_ARGB32;
    static constexpr QImage::Format smoothedFormat = QImage::Format_ARGB32_Premultiplied;

    explicit ColourLayer(QObject *parent = nullptr);
    ~ColourLayer() override;

    // Both return false, leaving the layer exactly as it was, when the images
    // for the new size cannot be allocated. The second form takes the images
    // from the caller (of equal size, in the formats above), so that opening
    // a photo can secure all its memory before it replaces anything.
    bool init(int width, int height, QRgb fg, QRgb bg);
    bool init(QImage pixels, QImage smoothed, QRgb fg, QRgb bg);

    const QImage &image() const { return pixels; }
    // The same image, for the painting item's long-standing public member.
    const QImage *imagePointer() const { return &pixels; }
    // The pixels as they are now, for another thread to read while painting
    // goes on: painting keeps, tile by tile, what the snapshot has to show.
    std::shared_ptr<const LayerSnapshot> snapshot();
    QRect rect() const { return pixels.rect(); }
    bool isNull() const { return pixels.isNull(); }

    // The brush colour: strokes take its hue and saturation.
    QRgb fg() const { return brush; }
    // A stroke under way lays the rest of its pixels in the new colour.
    void setFg(QRgb fg);
    QRgb bg() const { return background; }

    // Colourises the pixels of `newfg` from the photo, then clears those of
    // `newbg`; a pixel in both ends uncoloured. Spans are cut to the layer,
    // and the colouring ones to the photo too.
    void paintSpans(const RowSpans &newfg, const RowSpans &newbg, const QImage *photo);
    // The same for point lists; points outside are skipped.
    void paintPoints(const QList<QPoint> &newfg, const QList<QPoint> &newbg, const QImage *photo);
    // Hands the whole image to `write`, which may change any of its pixels
    // (a spread over the whole photo).
    void rewrite(const std::function<void(QImage &pixels)> &write);
    // Sets the points of `newfg` to the brush colour itself and those of
    // `newbg` to the background value.
    void setPoints(const QList<QPoint> &newfg, const QList<QPoint> &newbg);
    // Clears the layer, then sets `points` to the brush colour. Announces no
    // change: the caller decides when to show it.
    void recreateFromFg(const QList<QPoint> &points);
    // Every pixel holding exactly the brush colour, column by column.
    QList<QPoint> fgPoints() const;

    // Starts keeping the earlier content of whatever the following writes
    // change, up to `maxBytes`; endRecording hands over what was kept.
    void beginRecording(qint64 maxBytes);
    LayerTileRecord endRecording();
    bool isRecording() const { return recording != nullptr; }
    // A stroke or fill laid in `style` over `photo` (which must outlive it):
    // its shapes go through a StrokeBuffer, so that within it no pixel builds
    // up past the stroke's own alpha, and its record is what endStroke hands
    // over, keeping at most `maxBytes`. A stroke at the default style lays
    // the pixels paintSpans does.
    void beginStroke(const StrokeStyle &style, const QImage *photo, qint64 maxBytes);
    void paintStroke(const CoverageSpans &shape);
    LayerTileRecord endStroke();
    bool isStroking() const { return stroke != nullptr; }

    // Exchanges a record's tiles with the layer's (undo, then redo).
    void swapRecord(LayerTileRecord &record);

    // The softened picture, brought up to date wherever `area` reaches.
    const QImage &smoothed(const QRect &area);
    // The layer reduced by `factor` (2, 4 or 8) for zoomed-out views, up to
    // date wherever `area` (in layer pixels) reaches; see ReducedLayer.
    const QImage &reduced(int factor, const QRect &area) { return reducedCopies.picture(pixels, factor, area); }

signals:
    // The pixels of `area` changed; what shows the layer repaints it. The
    // area is already grown by the one pixel the softening reaches.
    void changed(const QRect &area);

private:
    // The only ways to write the pixels: the undo record and the snapshots
    // keep what the write is about to change first.
    QRgb *writableRow(int y, int left, int right);
    QImage &writableArea(const QRect &area);
    // Whether any snapshot still reads the pixels in place (those let go of
    // are dropped); false too once they were handed pixels about to be
    // copied away by the write.
    bool keepingSnapshots();
    // The pixels are let go of: the snapshots hold them from now on.
    void handOverSnapshots();
    void markStale(const QRect &rect);
    void layerChanged(const QRect &changed, bool announce);

    QImage pixels;
    QRgb brush = 0;
    QRgb background = 0;
    QImage smoothedPixels; // valid outside the stale tiles
    QBitArray staleTiles;
    int tileColumns = 0;
    ReducedLayer reducedCopies;
    std::unique_ptr<LayerTileRecord> recording;
    std::unique_ptr<StrokeBuffer> stroke;
    RowSpans changedSpans; // what the last paintStroke changed, kept for its memory
    std::vector<std::weak_ptr<LayerSnapshot>> snapshots;
};

#endif // COLOURLAYER_H
