#include "imaging/strokebuffer.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr int tileSize = LayerTileRecord::tileSize;

// `to` over `from` with weight c (1 to 254) in premultiplied terms, stored
// unpremultiplied. The sums are below 2^24, exact in a float.
inline QRgb blend(QRgb from, QRgb to, unsigned c)
{
    const unsigned wf = qAlpha(from) * (255 - c);
    const unsigned wt = qAlpha(to) * c;
    const unsigned a = wf + wt;
    if (a == 0)
        return to;
    const QRgb alpha = QRgb((a + 127) / 255) << 24;
    if (wf == 0)
        return alpha | (to & 0x00FFFFFFu);
    if (wt == 0)
        return alpha | (from & 0x00FFFFFFu);
    const float inverse = 1.0f / float(a);
    const auto channel = [&](int shift) {
        const unsigned sum = ((from >> shift) & 0xFFu) * wf + ((to >> shift) & 0xFFu) * wt;
        return QRgb(float(sum) * inverse + 0.5f) << shift;
    };
    return alpha | channel(16) | channel(8) | channel(0);
}

} // namespace

StrokeBuffer::StrokeBuffer(QImage &layer, const QImage &photo, const StrokeStyle &style, QRgb uncoloured,
                           qint64 maxRecordBytes)
    : layer(&layer)
    , photo(&photo)
    , strokeStyle(style)
    , colour(style, uncoloured)
    , record(layer.size())
    , inside(style.erase ? layer.rect() : layer.rect() & photo.rect())
    , soft(style.isSoft())
{
    record.setMaxBytes(maxRecordBytes);
    if (soft) {
        columns = (layer.width() + tileSize - 1) / tileSize;
        const int rows = (layer.height() + tileSize - 1) / tileSize;
        coverage.resize(size_t(columns) * size_t(std::max(0, rows)));
    }
}

void StrokeBuffer::setBrush(QRgb brush)
{
    if (brush == strokeStyle.brush)
        return;
    strokeStyle.brush = brush;
    colour = BrushColour(strokeStyle, colour.uncoloured());
}

quint8 *StrokeBuffer::coverageTile(int tx, int ty)
{
    std::unique_ptr<quint8[]> &tile = coverage[size_t(ty) * size_t(columns) + size_t(tx)];
    if (!tile)
        tile.reset(new quint8[tileSize * tileSize]()); // nothing covered yet
    return tile.get();
}

QRect StrokeBuffer::paint(const CoverageSpans &shape)
{
    if (layer->isNull() || inside.isEmpty())
        return QRect();
    int left = std::numeric_limits<int>::max();
    int right = std::numeric_limits<int>::min();
    int top = std::numeric_limits<int>::max();
    int bottom = std::numeric_limits<int>::min();
    const RowSpans &spans = shape.spans();
    for (qsizetype i = 0; i < spans.size(); ++i) {
        const RowSpan &span = spans[i];
        if (span.y < inside.top() || span.y > inside.bottom())
            continue;
        const int l = std::max(span.left, inside.left());
        const int r = std::min(span.right, inside.right());
        if (l > r)
            continue;
        const quint8 *values = shape.coverage(i);
        paintSpan(span.y, l, r, values ? values + (l - span.left) : nullptr);
        left = std::min(left, l);
        right = std::max(right, r);
        top = std::min(top, span.y);
        bottom = std::max(bottom, span.y);
    }
    return left > right ? QRect() : QRect(QPoint(left, top), QPoint(right, bottom));
}

QRect StrokeBuffer::paint(const RowSpans &shape)
{
    return paint(CoverageSpans(shape));
}

void StrokeBuffer::paintSpan(int y, int left, int right, const quint8 *values)
{
    record.captureRow(*layer, y, left, right);
    if (beforeWrite)
        beforeWrite(y, left, right);
    auto *row = reinterpret_cast<QRgb *>(layer->scanLine(y));
    const int ty = y / tileSize;
    const int inTile = (y - ty * tileSize) * tileSize;

    if (!soft || !values) {
        // Full coverage: the stroke's pixels, straight into the layer.
        colour.row(*photo, y, left, right, row + left);
        if (soft) {
            for (int x = left; x <= right;) {
                const int tx = x / tileSize;
                const int end = std::min(right, (tx + 1) * tileSize - 1);
                std::memset(coverageTile(tx, ty) + inTile + (x - tx * tileSize), 0xFF, size_t(end - x + 1));
                x = end + 1;
            }
        }
        return;
    }

    const size_t count = size_t(right - left + 1);
    if (strokeRow.size() < count) {
        strokeRow.resize(count);
        beforeRow.resize(count);
    }
    colour.row(*photo, y, left, right, strokeRow.data());
    // Without the pixels from before the stroke (the record gave up), a pixel
    // moves from its present value by the share of the way still to go.
    const bool exact = record.kept(y, left, right, beforeRow.data());
    const QRgb *to = strokeRow.data();
    const quint32 *from = beforeRow.data();
    QRgb *out = row + left;
    for (int x = left; x <= right;) {
        const int tx = x / tileSize;
        const int end = std::min(right, (tx + 1) * tileSize - 1);
        quint8 *kept = coverageTile(tx, ty) + inTile + (x - tx * tileSize);
        for (int i = x - left; i <= end - left; ++i, ++kept) {
            const unsigned c = values[i];
            const unsigned k = *kept;
            if (c <= k)
                continue;
            *kept = quint8(c);
            if (c == 255)
                out[i] = to[i];
            else if (exact)
                out[i] = blend(from[i], to[i], c);
            else
                out[i] = blend(out[i], to[i], ((c - k) * 255 + (255 - k) / 2) / (255 - k));
        }
        x = end + 1;
    }
}

LayerTileRecord StrokeBuffer::takeRecord()
{
    inside = QRect();
    coverage.clear();
    return std::move(record);
}
