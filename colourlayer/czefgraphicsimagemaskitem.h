#ifndef CZEFGRAPHICSIMAGEMASKITEM_H
#define CZEFGRAPHICSIMAGEMASKITEM_H

#include "imaging/rowspan.h"
#include "imaging/layertilerecord.h"

#include <QBitArray>
#include <QGraphicsItem>
#include <QImage>
#include <QList>
#include <QPoint>

#include <memory>

// The colour layer: one ARGB32 image (not premultiplied) the size of the photo,
// drawn above it. A pixel holds either the background value `bg` (uncoloured,
// the photo shows through) or the colour the photo pixel beneath takes on. The
// item owns the layer image; the main window reads `maskImage` when it saves.
//
// On screen the layer is drawn with its edges softened (see EdgeSmoothing). The
// softened picture is kept between paints and only the 64 x 64 tiles changed
// since the last paint (and exposed) are recomputed, so the cost of a brush step
// follows what the brush changes, not the size of the photo. The stored layer is
// never softened.
//
// While a stroke is being recorded, every write first keeps the earlier content
// of the tiles it reaches (LayerTileRecord), so that the stroke can be undone.
class CZefGraphicsImageMaskItem : public QGraphicsItem
{
public:
    explicit CZefGraphicsImageMaskItem(QGraphicsItem *parent = nullptr);
    ~CZefGraphicsImageMaskItem() override;

    // The formats of the layer image and of its softened picture.
    static constexpr QImage::Format layerFormat = QImage::Format_ARGB32;
    static constexpr QImage::Format smoothedFormat = QImage::Format_ARGB32_Premultiplied;

    // Both return false, leaving the layer exactly as it was, when the images
    // for the new size cannot be allocated. The second form takes the two
    // images from the caller (of equal size, in the formats above), so that an
    // opening can secure all its memory before it replaces anything.
    bool init(int width, int height, unsigned int fg, unsigned int bg);
    bool init(QImage layer, QImage smoothed, unsigned int fg, unsigned int bg);
    void setFg(unsigned int fg);

    QRectF boundingRect() const override;
    void paint(QPainter *painter, const QStyleOptionGraphicsItem *option, QWidget *widget) override;

    QList<QPoint> fgpoints();

    void updateMaskFromImage(QList<QPoint> newfg, QList<QPoint> newbg, QImage *photo);
    void updateMask(QList<QPoint> newfg, QList<QPoint> newbg);
    void recreateMaskfromFg(QList<QPoint> points);

    // Colourises the pixels of `newfg` from the photo (as updateMaskFromImage
    // does point by point), then clears those of `newbg`. Spans are clipped to
    // the layer and the photo.
    void updateSpansFromImage(const RowSpans &newfg, const RowSpans &newbg, const QImage *photo);

    // Starts keeping the earlier content of whatever the following writes
    // change, up to `maxBytes`; endRecording hands over what was kept.
    void beginRecording(qint64 maxBytes);
    LayerTileRecord endRecording();
    bool isRecording() const { return recording != nullptr; }
    // Exchanges a record's tiles with the layer's (undo, then redo).
    void swapRecord(LayerTileRecord &record);

    QImage *maskImage = nullptr;

private:
    // Marks `changed` (layer pixels written) for recomputation at the next paint
    // and asks for a repaint of what the change can affect on screen.
    void layerChanged(const QRect &changed, bool repaint);

    unsigned int fg = 0;
    unsigned int bg = 0;

    void markStale(const QRect &rect);
    void record(const QRect &area);

    QImage smoothedImage;   // the layer as drawn, premultiplied; valid outside the stale tiles
    QBitArray staleTiles;   // tiles of smoothedImage to recompute before drawing
    int tileColumns = 0;
    std::unique_ptr<LayerTileRecord> recording;
};

#endif // CZEFGRAPHICSIMAGEMASKITEM_H
