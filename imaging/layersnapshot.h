#ifndef LAYERSNAPSHOT_H
#define LAYERSNAPSHOT_H

#include "imaging/layertilerecord.h"

#include <QImage>
#include <QMutex>
#include <QRect>
#include <QSize>

// The colour layer as it was at one moment, for another thread (a save) to
// read while painting goes on. It reads the layer's own pixels in place,
// without sharing the image, so that painting never copies the whole layer:
// before the layer writes into a 64 x 64 tile, it hands the tile's content
// here (see ColourLayer::snapshot), and a layer that lets go of its image
// (a new photo, its end) hands the image over whole. Reading takes the lock
// once a row, the layer once a change.
//
// Pixels are Format_ARGB32, as the layer's are.
class LayerSnapshot
{
public:
    static constexpr QImage::Format format = QImage::Format_ARGB32;

    // A snapshot of an image nobody writes to: it shares it (converted to
    // the format above where it is in another).
    explicit LayerSnapshot(const QImage &image = QImage());
    LayerSnapshot(const LayerSnapshot &) = delete;
    LayerSnapshot &operator=(const LayerSnapshot &) = delete;

    QSize size() const { return extent; }
    int width() const { return extent.width(); }
    int height() const { return extent.height(); }
    bool isNull() const { return extent.isEmpty(); }

    // Row y, from left to right, as it was, into `out`.
    void readRow(int y, int left, int right, quint32 *out) const;
    // `count` whole rows from `top` into the first rows of `band`, which is
    // made (or remade) in the format above when it is not at least that
    // large; false when it cannot be allocated.
    bool readRows(int top, int count, QImage *band) const;
    // The whole picture as a new image; null without memory for it.
    QImage image() const;
    // False once a tile the layer was about to change could not be kept
    // (no memory): what is read then may hold later pixels.
    bool isIntact() const;

private:
    friend class ColourLayer;
    struct InPlace {
    };
    // For the layer: reads `live` in place until told otherwise.
    LayerSnapshot(const QImage &live, InPlace);
    // The layer is about to write into `area` (or row y from left to right)
    // of `live`, the image read in place.
    void keep(const QImage &live, const QRect &area);
    void keepRow(const QImage &live, int y, int left, int right);
    // The layer lets go of the image read in place, or is about to have it
    // copied away from under the snapshot: the snapshot holds it from now on.
    void adopt(const QImage &live);

    mutable QMutex mutex;
    QImage held; // the image read, once the snapshot holds it
    const uchar *bits = nullptr;
    qsizetype bytesPerLine = 0;
    QSize extent;
    LayerTileRecord before; // the tiles changed since
};

#endif // LAYERSNAPSHOT_H
