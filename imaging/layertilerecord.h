#ifndef LAYERTILERECORD_H
#define LAYERTILERECORD_H

#include <QImage>
#include <QList>
#include <QRect>
#include <QtGlobal>

#include <limits>
#include <memory>
#include <vector>

// What a stroke changed on the colour layer, kept so that the stroke can be
// taken back and given again bit for bit. The layer is cut into 64 x 64 tiles;
// a tile's content is copied the first time the stroke touches it, so the
// record holds only the tiles the stroke reached. A tile that was one uniform
// value is kept as that value alone, which makes strokes over uncoloured parts
// cheap to record.
//
// swap() exchanges the kept tiles with the layer's: after the stroke it
// restores the layer as it was before and keeps the stroke's own pixels, and
// a second swap gives the stroke back.
class LayerTileRecord
{
public:
    static constexpr int tileSize = 64;

    LayerTileRecord() = default;
    // Records against a layer of the given size; keeps no tile until capture.
    explicit LayerTileRecord(const QSize &layerSize);
    LayerTileRecord(LayerTileRecord &&) noexcept = default;
    LayerTileRecord &operator=(LayerTileRecord &&) noexcept = default;

    // Copies every tile that `area` touches and that was not copied yet.
    // Stops recording, and frees what it kept, once the kept tiles would pass
    // `maxBytes`, or when a tile cannot be allocated.
    void capture(const QImage &layer, const QRect &area);
    // Same for the tiles of one row segment, the common case of painting.
    void captureRow(const QImage &layer, int y, int left, int right);

    // The kept content of row y from left to right, into `out`: before any
    // swap, the layer as it was when the tiles were captured. False, with
    // nothing written, unless every tile of the segment was captured.
    bool kept(int y, int left, int right, quint32 *out) const;
    // Row y from left to right into `out`: the kept content where a tile was
    // captured, `current` (the layer's row y) elsewhere.
    void keptOver(const quint32 *current, int y, int left, int right, quint32 *out) const;
    // The layer areas of the tiles kept.
    QList<QRect> keptTiles() const;

    // Exchanges the kept tiles with the layer's; returns the layer area that
    // changed. The layer must have the size recorded against.
    QRect swap(QImage &layer);

    // True when every kept tile holds what the layer holds now: whatever was
    // painted over them left the same values, so the record changes nothing.
    // The layer must have the size recorded against.
    bool matches(const QImage &layer) const;

    bool isEmpty() const { return tileCount == 0; }
    bool overflowed() const { return overflow; }
    qint64 bytes() const { return keptBytes; }
    void setMaxBytes(qint64 max) { maxBytes = max; }

private:
    struct Tile {
        bool captured = false;
        quint32 uniform = 0; // the tile's one value, when pixels is null
        std::unique_ptr<quint32[]> pixels;
    };

    void captureTile(const QImage &layer, int tx, int ty);
    QRect tileRect(int tx, int ty) const;
    void drop();

    QSize size;
    int columns = 0;
    int rows = 0;
    std::vector<Tile> tiles; // one entry per tile of the layer, by row
    qsizetype tileCount = 0;
    qint64 keptBytes = 0;
    qint64 maxBytes = std::numeric_limits<qint64>::max();
    bool overflow = false;
};

#endif // LAYERTILERECORD_H
