#ifndef STROKEBUFFER_H
#define STROKEBUFFER_H

#include "imaging/brushcolour.h"
#include "imaging/coveragespans.h"
#include "imaging/layertilerecord.h"
#include "imaging/rowspan.h"
#include "imaging/strokestyle.h"

#include <QImage>
#include <QRect>

#include <functional>
#include <limits>
#include <memory>
#include <utility>
#include <vector>

// One stroke, or one fill, being laid on the colour layer. Whatever the order
// and number of the shapes a stroke lays, a pixel's value is the pixel as it
// was before the stroke moved towards the stroke's own pixel by the highest
// coverage the stroke has given it: in premultiplied terms
//
//     value = before * (1 - c) + stroke * c,   c = coverage / 255,
//
// so a stroke never builds up past its own strength, full coverage replaces
// the pixel as the hard brush always has, a soft rim over uncoloured layer
// has alpha c times the stroke's, and over earlier colour it blends into it.
// The eraser moves pixels towards the uncoloured value the same way.
//
// To stay exact it keeps the layer as it was in 64 x 64 tiles copied the
// first time the stroke reaches them (which become the stroke's undo record)
// and, for a soft stroke, the highest coverage of each pixel, a byte per
// pixel of the tiles reached. A hard stroke keeps no coverage: every pixel it
// reaches is fully covered.
class StrokeBuffer
{
public:
    // `layer` is Format_ARGB32 and `photo` the photo it colours; both must
    // outlive the buffer and keep their size while it paints. `uncoloured`
    // is the layer's empty value, what the eraser lays. The undo record stops
    // keeping tiles beyond `maxRecordBytes` (see LayerTileRecord); the stroke
    // itself goes on, each pixel then moving from its present value.
    StrokeBuffer(QImage &layer, const QImage &photo, const StrokeStyle &style, QRgb uncoloured,
                 qint64 maxRecordBytes = std::numeric_limits<qint64>::max());

    // Lays `shape`, clipped to the photo (to the layer when erasing); returns
    // the bounding rectangle of the pixels it wrote. A hard stroke takes every
    // pixel of the shape as fully covered. A soft stroke writes only the
    // pixels the shape covers more than the stroke did before; `changed`, if
    // given, receives for each span the part from the first such pixel to
    // the last (for a hard stroke, each span as clipped).
    QRect paint(const CoverageSpans &shape, RowSpans *changed = nullptr);
    QRect paint(const RowSpans &shape, RowSpans *changed = nullptr);

    // Called with each row segment just before the buffer writes it, for
    // whoever must keep what the layer held there (see ColourLayer).
    void setBeforeWrite(std::function<void(int y, int left, int right)> hook) { beforeWrite = std::move(hook); }

    const StrokeStyle &style() const { return strokeStyle; }
    // Lays the rest of the stroke in another brush colour; what the stroke
    // has laid stays as it is, unless it is covered again more fully.
    void setBrush(QRgb brush);

    // The layer as it was, for every tile the stroke reached: swap() it with
    // the layer to take the stroke back. The buffer paints no more after this.
    LayerTileRecord takeRecord();

private:
    // Lays one clipped span; false if no pixel of it changed, else the
    // first and last pixels written.
    bool paintSpan(int y, int left, int right, const quint8 *coverage, int *first, int *last);
    quint8 *coverageTile(int tx, int ty);

    QImage *layer;
    const QImage *photo;
    StrokeStyle strokeStyle;
    BrushColour colour;
    LayerTileRecord record;
    QRect inside;
    bool soft;
    bool recoloured = false; // the brush changed during the stroke
    int columns = 0;
    std::vector<std::unique_ptr<quint8[]>> coverage; // by tile, made on first touch
    std::vector<QRgb> strokeRow;
    std::vector<quint32> beforeRow;
    std::vector<std::pair<int, int>> gains; // runs of a span that gain coverage
    std::function<void(int y, int left, int right)> beforeWrite;
};

#endif // STROKEBUFFER_H
