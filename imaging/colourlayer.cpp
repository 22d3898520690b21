#include "imaging/colourlayer.h"

#include "imaging/colourisetable.h"
#include "imaging/edgesmoothing.h"
#include "imaging/strokebuffer.h"

#include <algorithm>
#include <limits>
#include <utility>

namespace {

constexpr int tile = LayerTileRecord::tileSize;

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

inline QRgb *pixelAt(QImage &image, const QPoint &p)
{
    return reinterpret_cast<QRgb *>(image.scanLine(p.y())) + p.x();
}

} // namespace

ColourLayer::ColourLayer(QObject *parent)
    : QObject(parent)
{ }

ColourLayer::~ColourLayer()
{
    handOverSnapshots();
}

std::shared_ptr<const LayerSnapshot> ColourLayer::snapshot()
{
    if (pixels.isNull())
        return std::make_shared<const LayerSnapshot>();
    // The pixels are written only through writableRow() and writableArea(),
    // which keep for the snapshot what a write is about to change.
    auto snapshot = std::shared_ptr<LayerSnapshot>(new LayerSnapshot(pixels, LayerSnapshot::InPlace()));
    snapshots.push_back(snapshot);
    return snapshot;
}

bool ColourLayer::keepingSnapshots()
{
    if (snapshots.empty())
        return false;
    snapshots.erase(std::remove_if(snapshots.begin(), snapshots.end(),
                                   [](const std::weak_ptr<LayerSnapshot> &s) { return s.expired(); }),
                    snapshots.end());
    if (snapshots.empty())
        return false;
    // Pixels shared with another image are copied to new memory at the first
    // write; the snapshots keep the memory they read.
    if (!pixels.isDetached()) {
        handOverSnapshots();
        return false;
    }
    return true;
}

void ColourLayer::handOverSnapshots()
{
    for (const std::weak_ptr<LayerSnapshot> &kept : snapshots)
        if (const std::shared_ptr<LayerSnapshot> snapshot = kept.lock())
            snapshot->adopt(pixels);
    snapshots.clear();
}

QRgb *ColourLayer::writableRow(int y, int left, int right)
{
    if (recording)
        recording->captureRow(pixels, y, left, right);
    if (keepingSnapshots()) {
        for (const std::weak_ptr<LayerSnapshot> &kept : snapshots)
            if (const std::shared_ptr<LayerSnapshot> snapshot = kept.lock())
                snapshot->keepRow(pixels, y, left, right);
    }
    return reinterpret_cast<QRgb *>(pixels.scanLine(y));
}

QImage &ColourLayer::writableArea(const QRect &area)
{
    if (recording)
        recording->capture(pixels, area);
    if (keepingSnapshots()) {
        for (const std::weak_ptr<LayerSnapshot> &kept : snapshots)
            if (const std::shared_ptr<LayerSnapshot> snapshot = kept.lock())
                snapshot->keep(pixels, area);
    }
    return pixels;
}

bool ColourLayer::init(int width, int height, QRgb fg, QRgb bg)
{
    QImage layer(width, height, format);
    QImage smoothed = layer.isNull() ? QImage() : QImage(width, height, smoothedFormat);
    return init(std::move(layer), std::move(smoothed), fg, bg);
}

bool ColourLayer::init(QImage layer, QImage smoothed, QRgb fg, QRgb bg)
{
    // A null image is what a failed allocation leaves; the old layer stays.
    if (layer.isNull() || smoothed.size() != layer.size() || layer.format() != format
        || smoothed.format() != smoothedFormat)
        return false;

    handOverSnapshots();
    pixels = std::move(layer);
    brush = fg;
    background = bg;
    pixels.fill(bg);
    // A uniform layer has no edges: its softened picture is the layer itself.
    smoothedPixels = std::move(smoothed);
    smoothedPixels.fill(qPremultiply(bg));
    tileColumns = (pixels.width() + tile - 1) / tile;
    staleTiles = QBitArray(tileColumns * ((pixels.height() + tile - 1) / tile));
    reducedCopies.reset(pixels.size());
    recording.reset();
    stroke.reset();
    emit changed(pixels.rect());
    return true;
}

void ColourLayer::paintSpans(const RowSpans &newfg, const RowSpans &newbg, const QImage *photo)
{
    if (pixels.isNull())
        return;
    const QRect layerRect = pixels.rect();
    const QRect photoRect = photo ? photo->rect() & layerRect : QRect();
    ChangedArea area;

    // Each span is cut to what lies inside, then handed to `write` for the row.
    const auto each = [this, &area](const RowSpans &spans, const QRect &inside, auto write) {
        for (const RowSpan &span : spans) {
            if (span.y < inside.top() || span.y > inside.bottom())
                continue;
            const int left = std::max(span.left, inside.left());
            const int right = std::min(span.right, inside.right());
            if (left > right)
                continue;
            write(writableRow(span.y, left, right), span.y, left, right);
            area.add(left, span.y);
            area.add(right, span.y);
            // Only the tiles along the span go stale, not the whole bounding
            // box: a wide sweep is mostly a thin crescent of new pixels.
            markStale(QRect(left - 1, span.y - 1, right - left + 3, 3));
        }
    };
    if (!newfg.isEmpty()) {
        const ColouriseTable colours(brush);
        each(newfg, photoRect,
             [&](QRgb *row, int y, int left, int right) { colours.colouriseRow(*photo, y, left, right, row + left); });
    }
    each(newbg, layerRect,
         [this](QRgb *row, int, int left, int right) { std::fill(row + left, row + right + 1, background); });
    const QRect written = area.rect();
    if (!written.isEmpty())
        emit changed(written.adjusted(-1, -1, 1, 1) & layerRect);
}

void ColourLayer::rewrite(const std::function<void(QImage &pixels)> &write)
{
    if (pixels.isNull())
        return;
    write(writableArea(pixels.rect()));
    markStale(pixels.rect());
    emit changed(pixels.rect());
}

void ColourLayer::paintPoints(const QList<QPoint> &newfg, const QList<QPoint> &newbg, const QImage *photo)
{
    if (pixels.isNull())
        return;
    // Points the photo does not cover (a photo smaller than the layer, or
    // none) are treated like points outside the layer.
    const QRect photoRect = photo ? photo->rect() & pixels.rect() : QRect();
    ChangedArea area;
    if (!newfg.isEmpty()) {
        const ColouriseTable colours(brush);
        for (const QPoint &p : newfg) {
            if (!photoRect.contains(p, false))
                continue;
            writableRow(p.y(), p.x(), p.x())[p.x()] = colours.colourFor(ColouriseTable::valueAt(*photo, p.x(), p.y()));
            area.add(p.x(), p.y());
        }
    }
    for (const QPoint &p : newbg) {
        if (!pixels.rect().contains(p, false))
            continue;
        writableRow(p.y(), p.x(), p.x())[p.x()] = background;
        area.add(p.x(), p.y());
    }
    layerChanged(area.rect(), true);
}

void ColourLayer::setPoints(const QList<QPoint> &newfg, const QList<QPoint> &newbg)
{
    if (pixels.isNull())
        return;
    ChangedArea area;
    const auto write = [&](const QList<QPoint> &points, QRgb value) {
        for (const QPoint &p : points) {
            if (!pixels.rect().contains(p, false))
                continue;
            writableRow(p.y(), p.x(), p.x())[p.x()] = value;
            area.add(p.x(), p.y());
        }
    };
    write(newfg, brush);
    write(newbg, background);
    layerChanged(area.rect(), true);
}

void ColourLayer::recreateFromFg(const QList<QPoint> &points)
{
    if (pixels.isNull())
        return;
    QImage &image = writableArea(pixels.rect());
    image.fill(background);
    for (const QPoint &p : points)
        if (image.rect().contains(p, false))
            *pixelAt(image, p) = brush;
    layerChanged(pixels.rect(), false);
}

QList<QPoint> ColourLayer::fgPoints() const
{
    QList<QPoint> points;
    for (int x = 0; x < pixels.width(); ++x)
        for (int y = 0; y < pixels.height(); ++y)
            if (reinterpret_cast<const QRgb *>(pixels.constScanLine(y))[x] == brush)
                points.append(QPoint(x, y));
    return points;
}

void ColourLayer::beginRecording(qint64 maxBytes)
{
    if (pixels.isNull())
        return;
    recording = std::make_unique<LayerTileRecord>(pixels.size());
    recording->setMaxBytes(maxBytes);
}

LayerTileRecord ColourLayer::endRecording()
{
    LayerTileRecord kept;
    if (recording)
        kept = std::move(*recording);
    recording.reset();
    return kept;
}

void ColourLayer::setFg(QRgb fg)
{
    brush = fg;
    if (stroke)
        stroke->setBrush(fg);
}

void ColourLayer::beginStroke(const StrokeStyle &style, const QImage *photo, qint64 maxBytes)
{
    stroke.reset();
    if (pixels.isNull())
        return;
    static const QImage noPhoto;
    stroke = std::make_unique<StrokeBuffer>(pixels, photo ? *photo : noPhoto, style, background, maxBytes);
    stroke->setBeforeWrite([this](int y, int left, int right) { writableRow(y, left, right); });
}

void ColourLayer::paintStroke(const CoverageSpans &shape)
{
    if (!stroke)
        return;
    changedSpans.clear();
    const QRect written = stroke->paint(shape, &changedSpans);
    if (written.isEmpty())
        return;
    // Only the tiles along what changed go stale, as in paintSpans: a soft
    // stroke goes back over much of what it laid without changing it.
    for (const RowSpan &span : std::as_const(changedSpans))
        markStale(QRect(span.left - 1, span.y - 1, span.right - span.left + 3, 3));
    emit changed(written.adjusted(-1, -1, 1, 1) & pixels.rect());
}

LayerTileRecord ColourLayer::endStroke()
{
    LayerTileRecord kept;
    if (stroke)
        kept = stroke->takeRecord();
    stroke.reset();
    return kept;
}

void ColourLayer::swapRecord(LayerTileRecord &record)
{
    if (pixels.isNull())
        return;
    const QList<QRect> tiles = record.keptTiles();
    for (const QRect &tile : tiles)
        writableArea(tile);
    layerChanged(record.swap(pixels), true);
}

void ColourLayer::layerChanged(const QRect &changedArea, bool announce)
{
    if (changedArea.isEmpty())
        return;
    // A changed pixel alters the softened value of its four neighbours too.
    const QRect affected = changedArea.adjusted(-1, -1, 1, 1) & pixels.rect();
    markStale(affected);
    if (announce)
        emit changed(affected);
}

void ColourLayer::markStale(const QRect &rect)
{
    const QRect r = rect & pixels.rect();
    if (r.isEmpty())
        return;
    for (int ty = r.top() / tile; ty <= r.bottom() / tile; ++ty)
        staleTiles.fill(true, ty * tileColumns + r.left() / tile, ty * tileColumns + r.right() / tile + 1);
    reducedCopies.invalidate(r);
}

const QImage &ColourLayer::smoothed(const QRect &area)
{
    const QRect r = area & pixels.rect();
    if (r.isEmpty() || smoothedPixels.size() != pixels.size())
        return smoothedPixels;
    for (int ty = r.top() / tile; ty <= r.bottom() / tile; ++ty) {
        for (int tx = r.left() / tile; tx <= r.right() / tile; ++tx) {
            const int index = ty * tileColumns + tx;
            if (!staleTiles.testBit(index))
                continue;
            EdgeSmoothing::smoothRect(pixels, smoothedPixels, QRect(tx * tile, ty * tile, tile, tile));
            staleTiles.clearBit(index);
        }
    }
    return smoothedPixels;
}
