#include "imaging/layertilerecord.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace {

constexpr int tilePixels = LayerTileRecord::tileSize * LayerTileRecord::tileSize;
// What a tile costs beyond its pixels: the bookkeeping entry.
constexpr qint64 tileOverhead = sizeof(void *) * 4;

} // namespace

LayerTileRecord::LayerTileRecord(const QSize &layerSize)
    : size(layerSize)
    , columns((std::max(0, layerSize.width()) + tileSize - 1) / tileSize)
    , rows((std::max(0, layerSize.height()) + tileSize - 1) / tileSize)
{
    // One small entry per tile of the layer (a 24-megapixel layer has about
    // 6000); the pixels come only with the tiles that are touched.
    tiles.resize(size_t(columns) * size_t(rows));
}

QRect LayerTileRecord::tileRect(int tx, int ty) const
{
    return QRect(tx * tileSize, ty * tileSize, tileSize, tileSize) & QRect(QPoint(0, 0), size);
}

void LayerTileRecord::drop()
{
    overflow = true;
    tiles.clear();
    tiles.shrink_to_fit();
    tileCount = 0;
    keptBytes = 0;
}

void LayerTileRecord::captureTile(const QImage &layer, int tx, int ty)
{
    Tile &tile = tiles[size_t(ty) * size_t(columns) + size_t(tx)];
    if (tile.captured)
        return;
    const QRect r = tileRect(tx, ty);
    const auto rowOf = [&layer, &r](int y) {
        return reinterpret_cast<const quint32 *>(layer.constScanLine(y)) + r.left();
    };

    const quint32 first = rowOf(r.top())[0];
    bool uniform = true;
    for (int y = r.top(); y <= r.bottom() && uniform; ++y) {
        const quint32 *row = rowOf(y);
        uniform = std::all_of(row, row + r.width(), [first](quint32 v) { return v == first; });
    }

    const qint64 cost = tileOverhead + (uniform ? 0 : qint64(tilePixels) * 4);
    if (keptBytes + cost > maxBytes) {
        drop();
        return;
    }
    if (!uniform) {
        tile.pixels.reset(new (std::nothrow) quint32[tilePixels]);
        if (!tile.pixels) {
            drop();
            return;
        }
        for (int y = r.top(); y <= r.bottom(); ++y)
            std::memcpy(tile.pixels.get() + (y - r.top()) * tileSize, rowOf(y), size_t(r.width()) * 4);
    }
    tile.uniform = first;
    tile.captured = true;
    ++tileCount;
    keptBytes += cost;
}

void LayerTileRecord::capture(const QImage &layer, const QRect &area)
{
    const QRect a = area & QRect(QPoint(0, 0), size);
    if (overflow || a.isEmpty())
        return;
    for (int ty = a.top() / tileSize; ty <= a.bottom() / tileSize && !overflow; ++ty)
        for (int tx = a.left() / tileSize; tx <= a.right() / tileSize && !overflow; ++tx)
            captureTile(layer, tx, ty);
}

void LayerTileRecord::captureRow(const QImage &layer, int y, int left, int right)
{
    if (overflow)
        return;
    const int ty = y / tileSize;
    for (int tx = left / tileSize; tx <= right / tileSize && !overflow; ++tx) {
        if (!tiles[size_t(ty) * size_t(columns) + size_t(tx)].captured)
            captureTile(layer, tx, ty);
    }
}

bool LayerTileRecord::kept(int y, int left, int right, quint32 *out) const
{
    if (overflow || y < 0 || y >= size.height() || left < 0 || right >= size.width() || left > right)
        return false;
    const int ty = y / tileSize;
    const Tile *row = tiles.data() + size_t(ty) * size_t(columns);
    for (int tx = left / tileSize; tx <= right / tileSize; ++tx)
        if (!row[tx].captured)
            return false;
    // Every tile is kept: nothing is read from a current row.
    keptOver(nullptr, y, left, right, out);
    return true;
}

void LayerTileRecord::keptOver(const quint32 *current, int y, int left, int right, quint32 *out) const
{
    const int ty = y / tileSize;
    // After an overflow nothing is kept.
    const Tile *row = tiles.empty() ? nullptr : tiles.data() + size_t(ty) * size_t(columns);
    for (int x = left; x <= right;) {
        const int tx = x / tileSize;
        const int end = std::min(right, (tx + 1) * tileSize - 1);
        const size_t count = size_t(end - x + 1);
        const Tile *tile = row ? row + tx : nullptr;
        if (!tile || !tile->captured)
            std::memcpy(out, current + x, count * 4);
        else if (tile->pixels)
            std::memcpy(out, tile->pixels.get() + (y - ty * tileSize) * tileSize + (x - tx * tileSize), count * 4);
        else
            std::fill(out, out + count, tile->uniform);
        out += count;
        x = end + 1;
    }
}

QList<QRect> LayerTileRecord::keptTiles() const
{
    QList<QRect> kept;
    if (overflow)
        return kept;
    for (int ty = 0; ty < rows; ++ty)
        for (int tx = 0; tx < columns; ++tx)
            if (tiles[size_t(ty) * size_t(columns) + size_t(tx)].captured)
                kept.append(tileRect(tx, ty));
    return kept;
}

QRect LayerTileRecord::swap(QImage &layer)
{
    QRect changed;
    if (overflow || tileCount == 0 || layer.size() != size)
        return changed;

    std::unique_ptr<quint32[]> spare;
    for (int ty = 0; ty < rows; ++ty) {
        for (int tx = 0; tx < columns; ++tx) {
            Tile &tile = tiles[size_t(ty) * size_t(columns) + size_t(tx)];
            if (!tile.captured)
                continue;
            const QRect r = tileRect(tx, ty);
            changed |= r;
            const auto rowOf = [&layer, &r](int y) {
                return reinterpret_cast<quint32 *>(layer.scanLine(y)) + r.left();
            };

            // What the layer holds now becomes the kept content.
            const quint32 first = rowOf(r.top())[0];
            bool uniform = true;
            for (int y = r.top(); y <= r.bottom() && uniform; ++y) {
                const quint32 *row = rowOf(y);
                uniform = std::all_of(row, row + r.width(), [first](quint32 v) { return v == first; });
            }
            std::unique_ptr<quint32[]> now;
            if (!uniform) {
                now = spare ? std::move(spare) : std::unique_ptr<quint32[]>(new quint32[tilePixels]);
                for (int y = r.top(); y <= r.bottom(); ++y)
                    std::memcpy(now.get() + (y - r.top()) * tileSize, rowOf(y), size_t(r.width()) * 4);
            }

            for (int y = r.top(); y <= r.bottom(); ++y) {
                quint32 *row = rowOf(y);
                if (tile.pixels)
                    std::memcpy(row, tile.pixels.get() + (y - r.top()) * tileSize, size_t(r.width()) * 4);
                else
                    std::fill(row, row + r.width(), tile.uniform);
            }

            keptBytes += (uniform ? 0 : qint64(tilePixels) * 4) - (tile.pixels ? qint64(tilePixels) * 4 : 0);
            if (tile.pixels && !spare)
                spare = std::move(tile.pixels);
            tile.pixels = std::move(now);
            tile.uniform = first;
        }
    }
    return changed;
}

bool LayerTileRecord::matches(const QImage &layer) const
{
    if (overflow || layer.size() != size)
        return false;
    for (int ty = 0; ty < rows; ++ty) {
        for (int tx = 0; tx < columns; ++tx) {
            const Tile &tile = tiles[size_t(ty) * size_t(columns) + size_t(tx)];
            if (!tile.captured)
                continue;
            const QRect r = tileRect(tx, ty);
            for (int y = r.top(); y <= r.bottom(); ++y) {
                const quint32 *row = reinterpret_cast<const quint32 *>(layer.constScanLine(y)) + r.left();
                const bool same = tile.pixels
                    ? std::memcmp(row, tile.pixels.get() + (y - r.top()) * tileSize, size_t(r.width()) * 4) == 0
                    : std::all_of(row, row + r.width(), [&tile](quint32 v) { return v == tile.uniform; });
                if (!same)
                    return false;
            }
        }
    }
    return true;
}
