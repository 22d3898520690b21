#include "imaging/strokebuffer.h"

#include <algorithm>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

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
#ifdef __SSE2__
    // The three channels and alpha side by side, each lane the same float
    // operations as below (the sums stay below 2^24, exact as floats).
    const __m128i zero = _mm_setzero_si128();
    const auto lanes = [&zero](QRgb v) {
        return _mm_cvtepi32_ps(_mm_unpacklo_epi16(_mm_unpacklo_epi8(_mm_cvtsi32_si128(int(v)), zero), zero));
    };
    const __m128 sum =
        _mm_add_ps(_mm_mul_ps(lanes(from), _mm_set1_ps(float(wf))), _mm_mul_ps(lanes(to), _mm_set1_ps(float(wt))));
    const __m128i mixed = _mm_cvttps_epi32(_mm_add_ps(_mm_mul_ps(sum, _mm_set1_ps(inverse)), _mm_set1_ps(0.5f)));
    const __m128i packed = _mm_packs_epi32(mixed, mixed);
    return alpha | (QRgb(_mm_cvtsi128_si32(_mm_packus_epi16(packed, packed))) & 0x00FFFFFFu);
#else
    const auto channel = [&](int shift) {
        const unsigned sum = ((from >> shift) & 0xFFu) * wf + ((to >> shift) & 0xFFu) * wt;
        return QRgb(float(sum) * inverse + 0.5f) << shift;
    };
    return alpha | channel(16) | channel(8) | channel(0);
#endif
}

// Whether none of sixteen coverage values (all full where `values` is null)
// rises above the kept ones.
inline bool noneGains(const quint8 *values, const quint8 *kept)
{
#ifdef __SSE2__
    const __m128i k = _mm_loadu_si128(reinterpret_cast<const __m128i *>(kept));
    const __m128i v = values ? _mm_loadu_si128(reinterpret_cast<const __m128i *>(values)) : _mm_set1_epi8(-1);
    return _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_max_epu8(v, k), k)) == 0xFFFF;
#else
    for (int i = 0; i < 16; ++i)
        if ((values ? values[i] : 255) > kept[i])
            return false;
    return true;
#endif
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
    recoloured = true;
    colour = BrushColour(strokeStyle, colour.uncoloured());
}

quint8 *StrokeBuffer::coverageTile(int tx, int ty)
{
    std::unique_ptr<quint8[]> &tile = coverage[size_t(ty) * size_t(columns) + size_t(tx)];
    if (!tile)
        tile.reset(new quint8[tileSize * tileSize]()); // nothing covered yet
    return tile.get();
}

QRect StrokeBuffer::paint(const CoverageSpans &shape, RowSpans *changed)
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
        int l = std::max(span.left, inside.left());
        int r = std::min(span.right, inside.right());
        if (l > r)
            continue;
        const quint8 *values = shape.coverage(i);
        if (!paintSpan(span.y, l, r, values ? values + (l - span.left) : nullptr, &l, &r))
            continue;
        if (changed)
            changed->append(RowSpan{span.y, l, r});
        left = std::min(left, l);
        right = std::max(right, r);
        top = std::min(top, span.y);
        bottom = std::max(bottom, span.y);
    }
    return left > right ? QRect() : QRect(QPoint(left, top), QPoint(right, bottom));
}

QRect StrokeBuffer::paint(const RowSpans &shape, RowSpans *changed)
{
    return paint(CoverageSpans(shape), changed);
}

bool StrokeBuffer::paintSpan(int y, int left, int right, const quint8 *values, int *first, int *last)
{
    record.captureRow(*layer, y, left, right);
    if (beforeWrite)
        beforeWrite(y, left, right);
    auto *row = reinterpret_cast<QRgb *>(layer->scanLine(y));
    const int ty = y / tileSize;
    const int inTile = (y - ty * tileSize) * tileSize;

    if (!soft || (!values && recoloured)) {
        // Full coverage: the stroke's pixels, straight into the layer. After
        // a change of brush a fully covered pixel takes the new colour.
        colour.row(*photo, y, left, right, row + left);
        if (soft) {
            for (int x = left; x <= right;) {
                const int tx = x / tileSize;
                const int end = std::min(right, (tx + 1) * tileSize - 1);
                std::memset(coverageTile(tx, ty) + inTile + (x - tx * tileSize), 0xFF, size_t(end - x + 1));
                x = end + 1;
            }
        }
        *first = left;
        *last = right;
        return true;
    }

    // Only the pixels the shape covers more than the stroke did before
    // change. A stroke goes back over much of what it laid, and finding those
    // first spares their colour, their blend and the redrawing of them.
    const size_t count = size_t(right - left + 1);
    if (gains.size() < count) {
        strokeRow.resize(count);
        beforeRow.resize(count);
        gains.resize(count);
    }
    int changedFirst = -1;
    int changedLast = -1;
    int runs = 0;
    for (int x = left; x <= right;) {
        const int tx = x / tileSize;
        const int end = std::min(right, (tx + 1) * tileSize - 1);
        const quint8 *kept = coverageTile(tx, ty) + inTile + (x - tx * tileSize) - (x - left);
        for (int i = x - left; i <= end - left;) {
            // Past what cannot gain, sixteen at a time while none can.
            while (i + 16 <= end - left + 1 && noneGains(values ? values + i : nullptr, kept + i))
                i += 16;
            while (i <= end - left && (values ? values[i] : 255) <= kept[i])
                ++i;
            if (i > end - left)
                break;
            const int from = i;
            while (i <= end - left && (values ? values[i] : 255) > kept[i])
                ++i;
            // Runs that touch across a tile's edge are one.
            if (runs > 0 && gains[size_t(runs - 1)].second == from - 1)
                gains[size_t(runs - 1)].second = i - 1;
            else
                gains[size_t(runs++)] = {from, i - 1};
        }
        x = end + 1;
    }
    if (runs == 0)
        return false;

    for (int run = 0; run < runs; ++run) {
        const int a = gains[size_t(run)].first;
        const int b = gains[size_t(run)].second;
        if (changedFirst < 0)
            changedFirst = a;
        changedLast = b;
        if (!values) {
            colour.row(*photo, y, left + a, left + b, row + left + a);
            for (int x = left + a; x <= left + b;) {
                const int tx = x / tileSize;
                const int end = std::min(left + b, (tx + 1) * tileSize - 1);
                std::memset(coverageTile(tx, ty) + inTile + (x - tx * tileSize), 0xFF, size_t(end - x + 1));
                x = end + 1;
            }
            continue;
        }
        colour.row(*photo, y, left + a, left + b, strokeRow.data() + a);
        // Without the pixels from before the stroke (the record gave up), a
        // pixel moves from its present value by the share of the way still
        // to go.
        const bool exact = record.kept(y, left + a, left + b, beforeRow.data() + a);
        const QRgb *to = strokeRow.data();
        const quint32 *from = beforeRow.data();
        QRgb *out = row + left;
        for (int x = left + a; x <= left + b;) {
            const int tx = x / tileSize;
            const int end = std::min(left + b, (tx + 1) * tileSize - 1);
            quint8 *kept = coverageTile(tx, ty) + inTile + (x - tx * tileSize);
            for (int i = x - left; i <= end - left; ++i, ++kept) {
                const unsigned c = values[i];
                const unsigned k = *kept;
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
    *first = left + changedFirst;
    *last = left + changedLast;
    return true;
}

LayerTileRecord StrokeBuffer::takeRecord()
{
    inside = QRect();
    coverage.clear();
    return std::move(record);
}
