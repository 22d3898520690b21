#include "imaging/spreadcolouring.h"

#include "imaging/inbands.h"
#include "imaging/markset.h"
#include "imaging/photopixels.h"

#include <QColor>

#include <algorithm>
#include <array>
#include <cmath>
#include <new>
#include <optional>
#include <vector>

namespace {

// The classic model's HSV conversions cost most of a spread's pixels; the
// same colour at the same value comes back often, so the last few are kept,
// by colour and value. The result is what the conversion gives, bit for bit.
class ClassicCache
{
public:
    explicit ClassicCache(int alpha)
        : alpha(alpha)
    {
        keys.fill(~quint64(0));
    }

    QRgb pixel(QRgb colour, int value)
    {
        const quint64 key = (quint64(colour & 0xFFFFFFu) << 8) | quint64(value & 0xFF);
        const size_t slot = size_t((key * 0x9E3779B97F4A7C15ull) >> (64 - bits));
        if (keys[slot] != key) {
            const QColor c = QColor(colour).toHsv(); // once: hsvHue() and hsvSaturation() would each convert
            keys[slot] = key;
            values[slot] = QColor::fromHsv(c.hsvHue(), c.hsvSaturation(), value & 0xFF, alpha).rgba();
        }
        return values[slot];
    }

private:
    static constexpr int bits = 10;
    std::array<quint64, size_t(1) << bits> keys;
    std::array<QRgb, size_t(1) << bits> values;
    int alpha;
};

} // namespace

SpreadColouring::SpreadColouring(const StrokeStyle &style, QRgb uncoloured)
    : model(style.model)
    , alpha(style.alpha())
    , uncoloured(uncoloured)
{ }

QRgb SpreadColouring::pixel(QRgb photoPixel, float y, int redDifference, int blueDifference) const
{
    return pixel(std::max({qRed(photoPixel), qGreen(photoPixel), qBlue(photoPixel)}), y, redDifference, blueDifference);
}

QRgb SpreadColouring::pixel(int value, float y, int redDifference, int blueDifference) const
{
    if (redDifference == 0 && blueDifference == 0)
        return uncoloured;
    const QRgb colour = ColourSpread::colourFor(double(y), redDifference, blueDifference);
    if (model == StrokeStyle::Model::Natural)
        return qRgba(qRed(colour), qGreen(colour), qBlue(colour), alpha);
    const QColor c = QColor(colour).toHsv(); // once: hsvHue() and hsvSaturation() would each convert
    return QColor::fromHsv(c.hsvHue(), c.hsvSaturation(), std::clamp(value, 0, 255), alpha).rgba();
}

void SpreadColouring::writeRow(const QImage &photo, const ColourSpread::Chroma &chroma, int y, QRgb *layerRow,
                               float *luma) const
{
    const int width = std::min(photo.width(), chroma.width);
    ColourSpread::luminanceRow(photo, y, luma);
    std::optional<ClassicCache> cache;
    if (model == StrokeStyle::Model::Classic)
        cache.emplace(alpha);
    int x = 0;
    PhotoPixels::visitRow(photo, y, 0, width - 1, [&](int r, int g, int b) {
        if (layerRow[x] == uncoloured) {
            const int red = chroma.redDifference(x, y);
            const int blue = chroma.blueDifference(x, y);
            const int value = std::max({r, g, b});
            if (cache && (red != 0 || blue != 0))
                layerRow[x] = cache->pixel(ColourSpread::colourFor(double(luma[x]), red, blue), value);
            else
                layerRow[x] = pixel(value, luma[x], red, blue);
        }
        ++x;
    });
}

void SpreadColouring::write(const QImage &given, const ColourSpread::Chroma &chroma, QImage &layer) const
{
    const QImage photo = ColourSpread::readsInPlace(given.format())
        ? given
        : given.convertToFormat(given.depth() > 32 ? QImage::Format_RGBX64 : QImage::Format_RGB32);
    if (photo.isNull() && !given.isNull())
        throw std::bad_alloc();
    const int height = std::min({photo.height(), chroma.height, layer.height()});
    constexpr int rowsPerBand = 64;
    std::vector<float> luma(size_t(InBands::bandsFor(height, rowsPerBand)) * size_t(photo.width()));
    // Detached once, here: the bands then write through plain pointers.
    uchar *const bits = layer.bits();
    if (bits == nullptr)
        throw std::bad_alloc();
    const qsizetype stride = layer.bytesPerLine();
    InBands::runNumbered(
        height,
        [&](int band, int first, int end) {
            float *room = luma.data() + size_t(band) * size_t(photo.width());
            for (int y = first; y < end; ++y)
                writeRow(photo, chroma, y, reinterpret_cast<QRgb *>(bits + y * stride), room);
        },
        rowsPerBand);
}

QImage SpreadColouring::preview(const QImage &photo, const ColourSpread::Chroma &chroma, const QImage &layer,
                                const ColourSpread::Brightness *brightness, const std::atomic_bool *cancel) const
{
    return preview(photo, chroma, LayerSnapshot(layer), brightness, cancel);
}

QImage SpreadColouring::preview(const QImage &photo, const ColourSpread::Chroma &chroma, const LayerSnapshot &layer,
                                const ColourSpread::Brightness *brightness, const std::atomic_bool *cancel) const
{
    const auto stopped = [cancel] { return cancel && cancel->load(std::memory_order_relaxed); };
    if (chroma.isNull() || layer.size() != photo.size())
        return {};
    std::vector<QRgb> layerRow(size_t(layer.width()));
    const auto layerAt = [&](int y) {
        layer.readRow(y, 0, layer.width() - 1, layerRow.data());
        return layerRow.data();
    };
    QImage picture(chroma.width, chroma.height, QImage::Format_ARGB32);
    if (picture.isNull())
        return {};
    const int level = chroma.level;
    try {
        if (level == 0) {
            std::vector<float> luma(size_t(photo.width()));
            for (int y = 0; y < chroma.height; ++y) {
                auto *row = reinterpret_cast<QRgb *>(picture.scanLine(y));
                const QRgb *below = layerAt(y);
                std::copy(below, below + chroma.width, row);
                writeRow(photo, chroma, y, row, luma.data());
                // What the layer holds already is not the preview's.
                for (int x = 0; x < chroma.width; ++x)
                    if (below[x] != uncoloured || row[x] == uncoloured)
                        row[x] = 0;
                if (stopped())
                    return {};
            }
            return picture;
        }

        std::shared_ptr<const ColourSpread::Brightness> made;
        if (!brightness || brightness->photoSize != photo.size() || level < brightness->firstLevel
            || level - brightness->firstLevel >= int(brightness->levels.size())) {
            made = ColourSpread::brightness(photo, level, cancel);
            if (!made || made->levels.empty())
                return {};
            brightness = made.get();
        }
        const std::vector<float> &grey = brightness->levels[size_t(level - brightness->firstLevel)];
        if (grey.size() != size_t(chroma.width) * size_t(chroma.height))
            return {};

        // Which level pixels still cover an uncoloured photo pixel.
        std::vector<char> open(size_t(chroma.width) * size_t(chroma.height), 0);
        for (int y = 0; y < layer.height(); ++y) {
            const QRgb *row = layerAt(y);
            char *cells = open.data() + size_t(y >> level) * size_t(chroma.width);
            for (int x = 0; x < layer.width(); ++x)
                if (row[x] == uncoloured)
                    cells[x >> level] = 1;
            if ((y & 63) == 0 && stopped())
                return {};
        }
        std::optional<ClassicCache> cache;
        if (model == StrokeStyle::Model::Classic)
            cache.emplace(alpha);
        for (int y = 0; y < chroma.height; ++y) {
            auto *row = reinterpret_cast<QRgb *>(picture.scanLine(y));
            for (int x = 0; x < chroma.width; ++x) {
                const size_t i = size_t(y) * size_t(chroma.width) + size_t(x);
                const float luminance = grey[i];
                const int red = chroma.redDifference(x, y);
                const int blue = chroma.blueDifference(x, y);
                const int value = int(std::lround(luminance));
                const QRgb p = cache && (red != 0 || blue != 0)
                    ? cache->pixel(ColourSpread::colourFor(double(luminance), red, blue), value)
                    : pixel(value, luminance, red, blue);
                row[x] = open[i] && p != uncoloured ? p : 0;
            }
        }
    } catch (const std::bad_alloc &) {
        return {};
    }
    return picture;
}

QList<ColourSpread::Mark> SpreadColouring::marksOf(const MarkSet &marks, QSize photoSize)
{
    QList<ColourSpread::Mark> list;
    const QList<Mark> all = marks.all();
    for (const Mark &mark : all) {
        if (mark.kind != Mark::Colour || mark.isHidden())
            continue;
        // The same pixels MarkSet::indices gives for a mark.
        const int rx = int(mark.rect.x());
        const int ry = int(mark.rect.y());
        const int side = int(mark.rect.width());
        for (int j = 0; j < side; ++j)
            for (int i = 0; i < side; ++i) {
                const QPoint p(rx + i, ry + j);
                if (p.x() >= 0 && p.y() >= 0 && p.x() < photoSize.width() && p.y() < photoSize.height())
                    list.append({p, mark.colour});
            }
    }
    return list;
}
