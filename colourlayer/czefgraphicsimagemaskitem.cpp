#include "colourlayer/czefgraphicsimagemaskitem.h"

#include "imaging/colourisetable.h"
#include "imaging/edgesmoothing.h"

#include <QPainter>
#include <QStyleOptionGraphicsItem>

#include <algorithm>
#include <limits>
#include <utility>

namespace {

// Collects the bounding rectangle of the pixels a pass writes.
class ChangedArea
{
public:
    void add(int x, int y)
    {
        left = std::min(left, x);
        right = std::max(right, x);
        top = std::min(top, y);
        bottom = std::max(bottom, y);
    }
    QRect rect() const { return left > right ? QRect() : QRect(QPoint(left, top), QPoint(right, bottom)); }

private:
    int left = std::numeric_limits<int>::max();
    int right = std::numeric_limits<int>::min();
    int top = std::numeric_limits<int>::max();
    int bottom = std::numeric_limits<int>::min();
};

inline quint32 *pixelAt(uchar *bits, qsizetype bytesPerLine, const QPoint &p)
{
    return reinterpret_cast<quint32 *>(bits + p.y() * bytesPerLine) + p.x();
}

// Writes `value` at every point inside the layer, straight into its memory.
void writeValue(QImage &layer, const QList<QPoint> &points, quint32 value, ChangedArea &changed,
                LayerTileRecord *record)
{
    const QRect layerRect(0, 0, layer.width(), layer.height());
    uchar *bits = layer.bits();
    const qsizetype bytesPerLine = layer.bytesPerLine();
    for (const QPoint &p : points) {
        if (!layerRect.contains(p, false))
            continue;
        if (record)
            record->captureRow(layer, p.y(), p.x(), p.x());
        *pixelAt(bits, bytesPerLine, p) = value;
        changed.add(p.x(), p.y());
    }
}

} // namespace

CZefGraphicsImageMaskItem::CZefGraphicsImageMaskItem(QGraphicsItem *parent)
    : QGraphicsItem(parent)
{
    // paint() draws only the exposed part of the layer.
    setFlag(ItemUsesExtendedStyleOption);
}

CZefGraphicsImageMaskItem::~CZefGraphicsImageMaskItem()
{
    delete maskImage;
}

bool CZefGraphicsImageMaskItem::init(int width, int height, unsigned int fg, unsigned int bg)
{
    QImage layer(width, height, layerFormat);
    QImage smoothed = layer.isNull() ? QImage() : QImage(width, height, smoothedFormat);
    return init(std::move(layer), std::move(smoothed), fg, bg);
}

bool CZefGraphicsImageMaskItem::init(QImage layer, QImage smoothed, unsigned int fg, unsigned int bg)
{
    // A null image is what a failed allocation leaves; the old layer stays.
    if (layer.isNull() || smoothed.size() != layer.size() || layer.format() != layerFormat
        || smoothed.format() != smoothedFormat)
        return false;

    prepareGeometryChange();
    if (maskImage)
        *maskImage = std::move(layer);
    else
        maskImage = new QImage(std::move(layer));
    this->fg = fg;
    this->bg = bg;
    maskImage->fill(bg);

    // A uniform layer has no edges: its softened picture is the layer itself.
    // Kept premultiplied: that is what drawing blends from, so a paint draws it
    // as it is instead of converting the exposed part every time.
    smoothedImage = std::move(smoothed);
    smoothedImage.fill(qPremultiply(bg));
    constexpr int tile = LayerTileRecord::tileSize;
    tileColumns = (maskImage->width() + tile - 1) / tile;
    staleTiles = QBitArray(tileColumns * ((maskImage->height() + tile - 1) / tile));
    recording.reset();
    update(QRectF());
    return true;
}

void CZefGraphicsImageMaskItem::setFg(unsigned int fg)
{
    this->fg = fg;
}

QRectF CZefGraphicsImageMaskItem::boundingRect() const
{
    if (!maskImage)
        return QRectF(0, 0, 0, 0);
    return QRectF(0, 0, maskImage->width(), maskImage->height());
}

void CZefGraphicsImageMaskItem::paint(QPainter *painter, const QStyleOptionGraphicsItem *option,
                                      QWidget *widget)
{
    Q_UNUSED(widget);
    if (!maskImage || maskImage->isNull() || smoothedImage.size() != maskImage->size())
        return;

    const QRect exposed = option->exposedRect.toAlignedRect() & maskImage->rect();
    if (exposed.isEmpty())
        return;

    // Only what is about to be drawn is brought up to date; stale tiles
    // elsewhere wait until they are exposed.
    constexpr int tile = LayerTileRecord::tileSize;
    for (int ty = exposed.top() / tile; ty <= exposed.bottom() / tile; ++ty) {
        for (int tx = exposed.left() / tile; tx <= exposed.right() / tile; ++tx) {
            const int index = ty * tileColumns + tx;
            if (!staleTiles.testBit(index))
                continue;
            EdgeSmoothing::smoothRect(*maskImage, smoothedImage, QRect(tx * tile, ty * tile, tile, tile));
            staleTiles.clearBit(index);
        }
    }
    painter->drawImage(exposed.topLeft(), smoothedImage, exposed);
}

QList<QPoint> CZefGraphicsImageMaskItem::fgpoints()
{
    QList<QPoint> points;
    if (!maskImage)
        return points;
    for (int x = 0; x < maskImage->width(); ++x)
        for (int y = 0; y < maskImage->height(); ++y)
            if (maskImage->pixel(x, y) == fg)
                points.append(QPoint(x, y));
    return points;
}

void CZefGraphicsImageMaskItem::updateMaskFromImage(QList<QPoint> newfg, QList<QPoint> newbg,
                                                    QImage *photo)
{
    if (!maskImage || maskImage->isNull())
        return;
    const QRect layerRect(0, 0, maskImage->width(), maskImage->height());
    uchar *bits = maskImage->bits();
    const qsizetype bytesPerLine = maskImage->bytesPerLine();
    ChangedArea changed;

    // Points the photo does not cover (a photo smaller than the layer, or none)
    // are treated like points outside the layer.
    const QRect photoRect = photo ? photo->rect() : QRect();
    const ColouriseTable colours(fg);
    for (const QPoint &p : std::as_const(newfg)) {
        if (!layerRect.contains(p, false) || !photoRect.contains(p, false))
            continue;
        if (recording)
            recording->captureRow(*maskImage, p.y(), p.x(), p.x());
        *pixelAt(bits, bytesPerLine, p) = colours.colourFor(ColouriseTable::valueAt(*photo, p.x(), p.y()));
        changed.add(p.x(), p.y());
    }
    // The clearing pass runs second: a point in both lists ends uncoloured.
    writeValue(*maskImage, newbg, bg, changed, recording.get());
    layerChanged(changed.rect(), true);
}

void CZefGraphicsImageMaskItem::updateMask(QList<QPoint> newfg, QList<QPoint> newbg)
{
    if (!maskImage || maskImage->isNull())
        return;
    ChangedArea changed;
    writeValue(*maskImage, newfg, fg, changed, recording.get());
    writeValue(*maskImage, newbg, bg, changed, recording.get());
    layerChanged(changed.rect(), true);
}

void CZefGraphicsImageMaskItem::recreateMaskfromFg(QList<QPoint> points)
{
    if (!maskImage || maskImage->isNull())
        return;
    record(maskImage->rect());
    maskImage->fill(bg);
    ChangedArea changed;
    writeValue(*maskImage, points, fg, changed, recording.get());
    // The whole layer was rewritten; the caller decides when to repaint.
    layerChanged(maskImage->rect(), false);
}

void CZefGraphicsImageMaskItem::layerChanged(const QRect &changed, bool repaint)
{
    if (changed.isEmpty())
        return;
    // A changed pixel alters the softened value of its four neighbours too.
    const QRect affected = changed.adjusted(-1, -1, 1, 1) & maskImage->rect();
    markStale(affected);
    if (repaint)
        update(affected);
}

void CZefGraphicsImageMaskItem::markStale(const QRect &rect)
{
    constexpr int tile = LayerTileRecord::tileSize;
    const QRect r = rect & maskImage->rect();
    if (r.isEmpty())
        return;
    for (int ty = r.top() / tile; ty <= r.bottom() / tile; ++ty)
        staleTiles.fill(true, ty * tileColumns + r.left() / tile, ty * tileColumns + r.right() / tile + 1);
}

void CZefGraphicsImageMaskItem::record(const QRect &area)
{
    if (recording)
        recording->capture(*maskImage, area);
}

void CZefGraphicsImageMaskItem::updateSpansFromImage(const RowSpans &newfg, const RowSpans &newbg,
                                                     const QImage *photo)
{
    if (!maskImage || maskImage->isNull())
        return;
    const QRect layerRect = maskImage->rect();
    const QRect photoRect = photo ? photo->rect() & layerRect : QRect();
    const ColouriseTable colours(fg);
    ChangedArea changed;

    // Each span is cut to what lies inside, then handed to `write` for the row.
    const auto each = [this, &changed](const RowSpans &spans, const QRect &inside, auto write) {
        for (const RowSpan &span : spans) {
            if (span.y < inside.top() || span.y > inside.bottom())
                continue;
            const int left = std::max(span.left, inside.left());
            const int right = std::min(span.right, inside.right());
            if (left > right)
                continue;
            if (recording)
                recording->captureRow(*maskImage, span.y, left, right);
            write(reinterpret_cast<QRgb *>(maskImage->scanLine(span.y)), span.y, left, right);
            changed.add(left, span.y);
            changed.add(right, span.y);
            // Only the tiles along the span go stale, not the whole bounding
            // box: a wide sweep is mostly a thin crescent of new pixels.
            markStale(QRect(left - 1, span.y - 1, right - left + 3, 3));
        }
    };
    each(newfg, photoRect, [&](QRgb *row, int y, int left, int right) {
        colours.colouriseRow(*photo, y, left, right, row + left);
    });
    // The clearing pass runs second: a pixel in both ends uncoloured.
    each(newbg, layerRect, [this](QRgb *row, int, int left, int right) {
        std::fill(row + left, row + right + 1, QRgb(bg));
    });
    if (!changed.rect().isEmpty())
        update(changed.rect().adjusted(-1, -1, 1, 1) & layerRect);
}

void CZefGraphicsImageMaskItem::beginRecording(qint64 maxBytes)
{
    if (!maskImage)
        return;
    recording = std::make_unique<LayerTileRecord>(maskImage->size());
    recording->setMaxBytes(maxBytes);
}

LayerTileRecord CZefGraphicsImageMaskItem::endRecording()
{
    LayerTileRecord kept;
    if (recording)
        kept = std::move(*recording);
    recording.reset();
    return kept;
}

void CZefGraphicsImageMaskItem::swapRecord(LayerTileRecord &record)
{
    if (!maskImage)
        return;
    layerChanged(record.swap(*maskImage), true);
}
