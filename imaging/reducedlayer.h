#ifndef REDUCEDLAYER_H
#define REDUCEDLAYER_H

#include <QBitArray>
#include <QImage>
#include <QRect>

#include <array>

// A colour layer reduced by 2, 4 or 8, for drawing at zooms of one half and
// below: each reduced pixel is the premultiplied mean of the block of layer
// pixels it stands for. It is made from the layer's own pixels, not from
// its softened picture: at such zooms the softening is finer than a screen
// pixel and the block mean already smooths the edges, so a stroke or an undo
// at the fitting zoom costs one pass over what it changed. Only the tiles
// about to be drawn are brought up to date.
class ReducedLayer
{
public:
    static constexpr QImage::Format format = QImage::Format_ARGB32_Premultiplied;
    // Tiles are this many reduced pixels wide and high.
    static constexpr int tileSize = 64;
    static constexpr int largestFactor = 8;

    // The reduction to draw at `scale` screen pixels per layer pixel: the
    // largest of 2, 4 and 8 that still leaves a reduced pixel at most one
    // screen pixel, or 1 (draw the layer itself) above one half.
    static int factorFor(qreal scale);

    // Every tile stale, for a layer of this size.
    void reset(QSize layerSize);
    void invalidate(const QRect &layerArea);

    // The layer reduced by `factor` (2, 4 or 8), up to date wherever it
    // covers `layerArea`. `layer` is ARGB32 and of the size given to reset().
    const QImage &picture(const QImage &layer, int factor, const QRect &layerArea);

    // The reduced pixels of `layer` by `factor` over a rectangle of reduced
    // pixels, written into `out` at the same place.
    static void reduce(const QImage &layer, int factor, const QRect &reducedArea, QImage *out);

private:
    struct Level {
        QImage image;
        QBitArray stale;
        int columns = 0;
        int rows = 0;
    };
    static int levelIndex(int factor);

    std::array<Level, 3> levels;
    QSize size;
};

#endif // REDUCEDLAYER_H
