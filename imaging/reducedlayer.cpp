#include "imaging/reducedlayer.h"

#include "imaging/inbands.h"

#include <QVarLengthArray>

#include <algorithm>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace {

int ceilDiv(int a, int b)
{
    return (a + b - 1) / b;
}

// The rows of a reduced picture, detached once: tiles of it are written on
// several threads, and a QImage's own row access is not for that.
struct Target {
    uchar *bits = nullptr;
    qsizetype stride = 0;

    QRgb *row(int y) const { return reinterpret_cast<QRgb *>(bits + y * stride); }
};

void reduceBlocks(const QImage &layer, int factor, const QRect &reducedArea, const Target &out);

// Stale tiles of a large change are reduced on every core; a few are not worth
// a thread.
constexpr int tilesPerBand = 4;

} // namespace

int ReducedLayer::factorFor(qreal scale)
{
    int factor = 1;
    while (factor < largestFactor && scale * (factor * 2) <= 1.0)
        factor *= 2;
    return factor;
}

int ReducedLayer::levelIndex(int factor)
{
    switch (factor) {
    case 2:
        return 0;
    case 4:
        return 1;
    default:
        return 2;
    }
}

void ReducedLayer::reset(QSize layerSize)
{
    size = layerSize;
    for (Level &level : levels)
        level = Level();
}

void ReducedLayer::invalidate(const QRect &layerArea)
{
    const QRect area = layerArea & QRect(QPoint(0, 0), size);
    if (area.isEmpty())
        return;
    for (int i = 0; i < int(levels.size()); ++i) {
        Level &level = levels[i];
        if (level.image.isNull())
            continue;                         // made whole when first drawn
        const int span = tileSize << (i + 1); // layer pixels per tile
        for (int row = area.top() / span; row <= area.bottom() / span; ++row)
            for (int column = area.left() / span; column <= area.right() / span; ++column)
                level.stale.setBit(row * level.columns + column);
    }
}

const QImage &ReducedLayer::picture(const QImage &layer, int factor, const QRect &layerArea)
{
    Level &level = levels[levelIndex(factor)];
    const QSize reducedSize(ceilDiv(size.width(), factor), ceilDiv(size.height(), factor));
    if (level.image.isNull()) {
        level.image = QImage(reducedSize, format);
        if (level.image.isNull())
            return level.image;
        level.columns = ceilDiv(reducedSize.width(), tileSize);
        level.rows = ceilDiv(reducedSize.height(), tileSize);
        level.stale = QBitArray(level.columns * level.rows, true);
    }
    const QRect area = layerArea & QRect(QPoint(0, 0), size);
    if (area.isEmpty())
        return level.image;
    const int span = tileSize * factor;
    QVarLengthArray<QRect, 64> tiles;
    for (int row = area.top() / span; row <= area.bottom() / span; ++row) {
        for (int column = area.left() / span; column <= area.right() / span; ++column) {
            const int index = row * level.columns + column;
            if (!level.stale.testBit(index))
                continue;
            tiles.append(QRect(column * tileSize, row * tileSize, tileSize, tileSize)
                         & QRect(QPoint(0, 0), reducedSize));
            level.stale.clearBit(index);
        }
    }
    if (tiles.isEmpty())
        return level.image; // and not detached: the view may hold it
    const Target target{level.image.bits(), level.image.bytesPerLine()};
    InBands::run(
        int(tiles.size()),
        [&](int first, int end) {
            for (int t = first; t < end; ++t)
                reduceBlocks(layer, factor, tiles[t], target);
        },
        tilesPerBand);
    return level.image;
}

namespace {

#ifdef __SSE2__
// The mean of four pixels as below, the four channels side by side: the same
// sums, and the same float operations in each lane.
inline QRgb blockMean(QRgb a, QRgb b, QRgb c, QRgb d)
{
    const __m128i zero = _mm_setzero_si128();
    // Each pixel's channels as 16-bit lanes, blue, green, red, alpha.
    const __m128i ab = _mm_unpacklo_epi8(_mm_set_epi32(0, 0, int(b), int(a)), zero);
    const __m128i cd = _mm_unpacklo_epi8(_mm_set_epi32(0, 0, int(d), int(c)), zero);
    // Weights: the pixel's alpha for its colours, 1 for its alpha.
    const __m128i one = _mm_set_epi16(1, 0, 0, 0, 1, 0, 0, 0);
    const __m128i colours = _mm_set_epi16(0, -1, -1, -1, 0, -1, -1, -1);
    const auto weights = [&](__m128i p) {
        const __m128i alpha = _mm_shufflehi_epi16(_mm_shufflelo_epi16(p, 0xFF), 0xFF);
        return _mm_or_si128(_mm_and_si128(alpha, colours), one);
    };
    // At most 255 * 255 per product, which 16 bits hold.
    const __m128i pab = _mm_mullo_epi16(ab, weights(ab));
    const __m128i pcd = _mm_mullo_epi16(cd, weights(cd));
    const auto sum32 = [&](__m128i p) {
        return _mm_add_epi32(_mm_unpacklo_epi16(p, zero), _mm_unpackhi_epi16(p, zero));
    };
    const __m128i sums = _mm_add_epi32(sum32(pab), sum32(pcd));
    constexpr float perColour = 1.0f / (4 * 255);
    const __m128i means =
        _mm_cvttps_epi32(_mm_add_ps(_mm_mul_ps(_mm_cvtepi32_ps(sums), _mm_set1_ps(perColour)), _mm_set1_ps(0.5f)));
    const __m128i alpha = _mm_srli_epi32(_mm_add_epi32(sums, _mm_set1_epi32(2)), 2);
    const __m128i alphaLane = _mm_set_epi32(-1, 0, 0, 0);
    const __m128i mean = _mm_or_si128(_mm_and_si128(alphaLane, alpha), _mm_andnot_si128(alphaLane, means));
    const __m128i packed = _mm_packs_epi32(mean, mean);
    return QRgb(_mm_cvtsi128_si32(_mm_packus_epi16(packed, packed)));
}
#endif

// Halving, the common zoom of a big photo fitted in a window: most blocks
// are one colour (inside a stroke or nowhere coloured) and cost a compare.
void halve(const QImage &layer, const QRect &reducedArea, const Target &out)
{
    const int width = layer.width();
    const int height = layer.height();
    for (int y = reducedArea.top(); y <= reducedArea.bottom(); ++y) {
        const auto *upper = reinterpret_cast<const QRgb *>(layer.constScanLine(2 * y));
        const auto *lower = 2 * y + 1 < height ? reinterpret_cast<const QRgb *>(layer.constScanLine(2 * y + 1)) : upper;
        QRgb *target = out.row(y);
        for (int x = reducedArea.left(); x <= reducedArea.right(); ++x) {
            const int left = 2 * x;
            const int right = left + 1 < width ? left + 1 : left;
            const QRgb a = upper[left], b = upper[right], c = lower[left], d = lower[right];
            if (a == b && c == d && a == c) {
                target[x] = qPremultiply(a);
                continue;
            }
            // A lone edge row or column counts twice, which is its mean.
#ifdef __SSE2__
            target[x] = blockMean(a, b, c, d);
#else
            const quint32 alpha = qAlpha(a) + qAlpha(b) + qAlpha(c) + qAlpha(d);
            const quint32 red = qRed(a) * qAlpha(a) + qRed(b) * qAlpha(b) + qRed(c) * qAlpha(c) + qRed(d) * qAlpha(d);
            const quint32 green =
                qGreen(a) * qAlpha(a) + qGreen(b) * qAlpha(b) + qGreen(c) * qAlpha(c) + qGreen(d) * qAlpha(d);
            const quint32 blue =
                qBlue(a) * qAlpha(a) + qBlue(b) * qAlpha(b) + qBlue(c) * qAlpha(c) + qBlue(d) * qAlpha(d);
            constexpr float perColour = 1.0f / (4 * 255);
            target[x] = qRgba(int(float(red) * perColour + 0.5f), int(float(green) * perColour + 0.5f),
                              int(float(blue) * perColour + 0.5f), int((alpha + 2) / 4));
#endif
        }
    }
}

void reduceBlocks(const QImage &layer, int factor, const QRect &reducedArea, const Target &out)
{
    if (factor == 2) {
        halve(layer, reducedArea, out);
        return;
    }
    Q_ASSERT(layer.format() == QImage::Format_ARGB32);
    const int width = layer.width();
    const int height = layer.height();
    // Sums of alpha and of alpha-weighted channels over one row of blocks.
    QVarLengthArray<quint32, 256> sums(4 * reducedArea.width());
    for (int y = reducedArea.top(); y <= reducedArea.bottom(); ++y) {
        std::fill(sums.begin(), sums.end(), 0u);
        const int top = y * factor;
        const int bottom = qMin(top + factor, height);
        for (int sourceY = top; sourceY < bottom; ++sourceY) {
            const auto *line = reinterpret_cast<const QRgb *>(layer.constScanLine(sourceY));
            quint32 *sum = sums.data();
            for (int x = reducedArea.left(); x <= reducedArea.right(); ++x, sum += 4) {
                const int left = x * factor;
                const int right = qMin(left + factor, width);
                quint32 a = 0, r = 0, g = 0, b = 0;
                for (int sourceX = left; sourceX < right; ++sourceX) {
                    const QRgb pixel = line[sourceX];
                    const quint32 alpha = qAlpha(pixel);
                    a += alpha;
                    r += qRed(pixel) * alpha;
                    g += qGreen(pixel) * alpha;
                    b += qBlue(pixel) * alpha;
                }
                sum[0] += a;
                sum[1] += r;
                sum[2] += g;
                sum[3] += b;
            }
        }
        QRgb *target = out.row(y);
        const quint32 *sum = sums.data();
        // One division per block rather than four: a reciprocal, exact
        // enough for 8-bit results from at most 64 pixels.
        const int rows = bottom - top;
        const float fullAlpha = 1.0f / float(factor * rows);
        const float fullColour = fullAlpha / 255.0f;
        for (int x = reducedArea.left(); x <= reducedArea.right(); ++x, sum += 4) {
            const int left = x * factor;
            const int columns = qMin(left + factor, width) - left;
            const float perAlpha = columns == factor ? fullAlpha : 1.0f / float(columns * rows);
            const float perColour = columns == factor ? fullColour : perAlpha / 255.0f;
            target[x] = qRgba(int(float(sum[1]) * perColour + 0.5f), int(float(sum[2]) * perColour + 0.5f),
                              int(float(sum[3]) * perColour + 0.5f), int(float(sum[0]) * perAlpha + 0.5f));
        }
    }
}

} // namespace

void ReducedLayer::reduce(const QImage &layer, int factor, const QRect &reducedArea, QImage *out)
{
    reduceBlocks(layer, factor, reducedArea, Target{out->bits(), out->bytesPerLine()});
}
