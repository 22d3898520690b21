#include "imaging/regionfill.h"

#include "imaging/edgematte.h"
#include "imaging/gaussianmixture.h"
#include "imaging/geodesicdistance.h"
#include "imaging/gridmaxflow.h"
#include "imaging/inbands.h"
#include "imaging/texturefeatures.h"

#include <QCoreApplication>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <optional>
#include <utility>
#include <vector>

namespace {

// Bits of a level's label map.
enum : uint8_t {
    Inside = 1, // on the keep side of the cut
    InBand = 2, // cut again at the next finer level
    KeepSeed = 4,
    RemoveSeed = 8,
    OnBoundary = 16,
    Reached = 32, // joined to a keep mark
    Open = 64,    // outside the region, joined to the photo's border or a remove mark
};

using Plane = TextureFeatures::Plane;
using Sample = TextureFeatures::Sample;

// The weight of a link between two equal 4-neighbours, and how many weight
// units one nat of the regional term is worth at the coarsest level. Small
// integers keep the max-flow exact and far from overflowing. Measured on the
// evaluation set: a regional term much stronger than this leaks into areas
// the marks never sampled, a much weaker one leaves slivers around short
// marks.
constexpr double flatWeight = 60;
// The coarsest cut keeps each link's residual in a byte: a link and its
// reverse together must fit.
static_assert(2 * flatWeight <= 255);
constexpr double regionalUnit = 2.0;
// Cuts of the coarsest level, each with the models re-estimated from the
// cut before; they rarely change after the third.
constexpr int coarseRounds = 4;
// The regional term's pull on one pixel is bounded: no appearance is so
// unlikely that it outweighs a clear edge around a few pixels.
constexpr double regionalLimit = 12.0;
// The pull of a pixel as near a keep mark as it can be, against a remove mark
// as near, across the photo's edges: as strong as one flat link, so a clear
// edge still outweighs it.
constexpr double geodesicWeight = 60;
// Rounds of the coarsest cut in which the region is held near the keep marks
// (the nearness pulls both ways) before the models, learnt from that region,
// decide alone; from then on only pixels this much nearer a remove mark are
// pushed out, so the region cannot wrap round a thin remove stroke into an
// area beyond it that only looks like the object. Measured on the
// evaluation set: without it, objects at 300 pixels ran into such areas
// (median IoU 0.71); pulling both ways in every round cut off parts far from
// the keep marks.
constexpr int nearKeepRounds = 2;
constexpr float beyondRemove = 0.4f;
// Without a remove mark the outside's model is the photo as a whole, the
// marked area included: a preference weaker than this many nats is no
// evidence, so a large area that looks only a little more like the marks
// cannot pull the region across a weak edge into it.
constexpr double keepOnlyDeadZone = 1.0;
// A region found from keep marks alone stops at an edge when the brightness
// changes across its boundary at least this much more than between
// neighbours anywhere in the photo. Measured on the evaluation set: every
// real object's boundary 2.5 times or more; a blob cut from a textured
// ground, 0.7 times.
constexpr double leastEdgeContrast = 1.5;
// What a step of one pixel costs a path besides the brightness it crosses:
// across an even area, nearer in pixels is nearer.
constexpr float geodesicStep = 1.0f;
constexpr int32_t hardLink = 1 << 28;

// Below this many marked pixels, the marks' neighbours are sampled too.
constexpr size_t fewSamples = 200;

// At most this many samples fit a mixture: more change it little.
constexpr size_t fitSamples = 24000;

// A band's regional term is worked out in parts of at least this many
// vertices on every core: fewer are not worth a thread.
constexpr int parallelVertices = 8192;

// Cancelling is checked this often while a graph is built.
constexpr int rowsBetweenChecks = 64;

bool cancelled(const std::atomic_bool *cancel)
{
    return cancel && cancel->load(std::memory_order_relaxed);
}

// Whether the photo's grey is worked out here, row by row, rather than by
// Qt's conversion.
bool convertedByRow(QImage::Format format)
{
    switch (format) {
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32:
    case QImage::Format_ARGB32_Premultiplied:
    case QImage::Format_RGB888:
    case QImage::Format_Indexed8:
        return true;
    default:
        return false;
    }
}

std::array<uint8_t, 256> paletteOf(const QImage &photo)
{
    std::array<uint8_t, 256> palette{};
    if (photo.format() == QImage::Format_Indexed8) {
        const QList<QRgb> table = photo.colorTable();
        for (int i = 0; i < int(palette.size()); ++i)
            palette[size_t(i)] = i < table.size() ? uint8_t(qGray(table[i])) : 0;
    }
    return palette;
}

// qGray of every pixel of row y, as the program has always turned colour to
// grey.
void convertRow(const QImage &photo, int y, const std::array<uint8_t, 256> &palette, uint8_t *out)
{
    const int width = photo.width();
    const uchar *line = photo.constScanLine(y);
    switch (photo.format()) {
    case QImage::Format_Indexed8:
        for (int x = 0; x < width; ++x)
            out[x] = palette[line[x]];
        break;
    case QImage::Format_RGB888:
        for (int x = 0; x < width; ++x, line += 3)
            out[x] = uint8_t(qGray(line[0], line[1], line[2]));
        break;
    default: {
        const auto *pixels = reinterpret_cast<const QRgb *>(line);
        for (int x = 0; x < width; ++x)
            out[x] = uint8_t(qGray(pixels[x]));
    }
    }
}

// The photo's brightness as one grey plane: in place for a grey photo, a
// converted copy otherwise.
class PhotoGrey
{
public:
    explicit PhotoGrey(const QImage &photo)
    {
        if (convertedByRow(photo.format())) {
            convert(photo);
            return;
        }
        image = photo;
        if (image.format() != QImage::Format_Grayscale8) {
            image = photo.convertToFormat(QImage::Format_Grayscale8);
            if (image.isNull())
                throw std::bad_alloc();
        }
        plane = {image.constBits(), image.width(), image.height(), std::ptrdiff_t(image.bytesPerLine())};
    }

    const Plane &grey() const { return plane; }

private:
    void convert(const QImage &photo)
    {
        const int width = photo.width();
        const int height = photo.height();
        copy.resize(size_t(width) * size_t(height));
        const std::array<uint8_t, 256> palette = paletteOf(photo);
        for (int y = 0; y < height; ++y)
            convertRow(photo, y, palette, copy.data() + size_t(y) * size_t(width));
        plane = {copy.data(), width, height, std::ptrdiff_t(width)};
    }

    QImage image;
    std::vector<uint8_t> copy;
    Plane plane;
};

struct Level {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> grey; // empty at full resolution, read from the photo
    std::vector<uint8_t> map;

    Plane plane() const { return {grey.data(), width, height, std::ptrdiff_t(width)}; }
    uint8_t *mapRow(int y) { return map.data() + size_t(y) * size_t(width); }
    const uint8_t *mapRow(int y) const { return map.data() + size_t(y) * size_t(width); }
    qint64 area() const { return qint64(width) * height; }
};

// Each pixel of the next level the mean of a 2 x 2 block, the last row or
// column repeated where the size is odd.
void halveRows(const uint8_t *a, const uint8_t *b, int fromWidth, uint8_t *out, int width)
{
    for (int x = 0; x < width; ++x) {
        const int x1 = std::min(2 * x + 1, fromWidth - 1);
        out[x] = uint8_t((a[2 * x] + a[x1] + b[2 * x] + b[x1] + 2) / 4);
    }
}

Level halvedSize(int fromWidth, int fromHeight)
{
    Level half;
    half.width = (fromWidth + 1) / 2;
    half.height = (fromHeight + 1) / 2;
    half.grey.resize(size_t(half.width) * size_t(half.height));
    return half;
}

Level halved(const Plane &from)
{
    Level half = halvedSize(from.width, from.height);
    for (int y = 0; y < half.height; ++y)
        halveRows(from.row(2 * y), from.row(std::min(2 * y + 1, from.height - 1)), from.width,
                  half.grey.data() + size_t(y) * size_t(half.width), half.width);
    return half;
}

// The first reduced level straight from the photo, two rows at a time: a
// colour photo's grey copy is then only made if the full resolution is cut,
// after the coarser cuts have freed their memory.
Level halvedPhoto(const QImage &photo)
{
    if (!convertedByRow(photo.format()))
        return halved(PhotoGrey(photo).grey());
    const int width = photo.width();
    const int height = photo.height();
    Level half = halvedSize(width, height);
    const std::array<uint8_t, 256> palette = paletteOf(photo);
    std::vector<uint8_t> rows(size_t(width) * 2);
    for (int y = 0; y < half.height; ++y) {
        convertRow(photo, 2 * y, palette, rows.data());
        convertRow(photo, std::min(2 * y + 1, height - 1), palette, rows.data() + width);
        halveRows(rows.data(), rows.data() + width, width, half.grey.data() + size_t(y) * size_t(half.width),
                  half.width);
    }
    return half;
}

// Link weights by brightness difference, for 4-neighbours and (divided by
// their distance) diagonal ones. Sigma follows the level's own contrast, the
// mean squared difference of neighbours (as Rother, Kolmogorov and Blake
// estimate it): texture then costs much to cut, a step well above it little.
struct LinkWeights {
    std::array<int32_t, 256> straight{};
    std::array<int32_t, 256> diagonal{};
};

LinkWeights linkWeights(const Plane &plane)
{
    const int step = std::max(1, plane.height / 512);
    double sum = 0;
    double count = 0;
    for (int y = 0; y < plane.height; y += step) {
        const uint8_t *row = plane.row(y);
        const uint8_t *below = y + 1 < plane.height ? plane.row(y + 1) : nullptr;
        for (int x = 0; x < plane.width; ++x) {
            if (x + 1 < plane.width) {
                const double d = double(row[x]) - row[x + 1];
                sum += d * d;
                ++count;
            }
            if (below) {
                const double d = double(row[x]) - below[x];
                sum += d * d;
                ++count;
            }
        }
    }
    const double meanSquare = count > 0 ? std::max(sum / count, 1.0) : 1.0;
    LinkWeights weights;
    for (int d = 0; d < 256; ++d) {
        const double w = flatWeight * std::exp(-double(d) * d / (2 * meanSquare));
        weights.straight[size_t(d)] = std::max<int32_t>(1, int32_t(std::lround(w)));
        weights.diagonal[size_t(d)] = std::max<int32_t>(1, int32_t(std::lround(w / std::sqrt(2.0))));
    }
    return weights;
}

// A run of band pixels on one row; its pixels are the graph's vertices
// `first` to `first + right - left`.
struct Run {
    int y = 0;
    int left = 0;
    int right = 0;
    uint32_t first = 0;
};

struct Band {
    std::vector<Run> runs;          // by row, then left
    std::vector<uint32_t> rowStart; // runs of row y: rowStart[y] to rowStart[y + 1]
    uint32_t vertices = 0;

    void finish(int height)
    {
        rowStart.assign(size_t(height) + 1, 0);
        vertices = 0;
        for (Run &run : runs) {
            run.first = vertices;
            vertices += uint32_t(run.right - run.left + 1);
            ++rowStart[size_t(run.y) + 1];
        }
        for (size_t y = 1; y < rowStart.size(); ++y)
            rowStart[y] += rowStart[y - 1];
    }

    // The vertex of pixel (x, y), or -1 when it is not in the band.
    int64_t vertex(int x, int y) const
    {
        if (y < 0 || size_t(y) + 1 >= rowStart.size())
            return -1;
        const auto begin = runs.begin() + rowStart[size_t(y)];
        const auto end = runs.begin() + rowStart[size_t(y) + 1];
        auto it = std::upper_bound(begin, end, x, [](int value, const Run &run) { return value < run.left; });
        if (it == begin)
            return -1;
        --it;
        return x <= it->right ? int64_t(it->first) + (x - it->left) : -1;
    }
};

// The band's vertices along one row for increasing x, each found in
// amortised constant time.
class RowCursor
{
public:
    RowCursor(const Band &band, int y)
    {
        if (y >= 0 && size_t(y) + 1 < band.rowStart.size()) {
            it = band.runs.begin() + band.rowStart[size_t(y)];
            end = band.runs.begin() + band.rowStart[size_t(y) + 1];
        }
    }

    // The vertex of pixel x of the row, or -1; x must not decrease between calls.
    int64_t vertex(int x)
    {
        while (it != end && it->right < x)
            ++it;
        return it != end && it->left <= x ? int64_t(it->first) + (x - it->left) : -1;
    }

private:
    std::vector<Run>::const_iterator it{};
    std::vector<Run>::const_iterator end{};
};

Band wholeLevel(const Level &level)
{
    Band band;
    band.runs.reserve(size_t(level.height));
    for (int y = 0; y < level.height; ++y)
        band.runs.push_back({y, 0, level.width - 1, 0});
    band.finish(level.height);
    return band;
}

struct Models {
    GaussianMixture keep;
    GaussianMixture remove;
};

// The eight neighbours in the max-flow's order, so that link k of a pixel
// is the max-flow's direction k.
constexpr const auto &neighbours = GridMaxFlow::directions;

// The regional term of each vertex off the marks, in the weight units its
// terminal link starts from: how much likelier its appearance is under the
// keep model than under the remove model (in nats within the regional limit,
// less the dead zone), and how much nearer it is to a keep mark. A large band
// is measured in parts on every core.
void regionalPulls(const Level &level, const Plane &grey, const Band &band, const Models &models, double regionalScale,
                   const std::vector<Sample> *features, const std::vector<float> *geodesic, double deadZone,
                   std::vector<int32_t> &pulls)
{
    InBands::run(
        int(band.vertices),
        [&](int first, int end) {
            // From the run that holds the part's first vertex.
            auto run = std::partition_point(band.runs.begin(), band.runs.end(), [&](const Run &r) {
                return r.first + uint32_t(r.right - r.left) < uint32_t(first);
            });
            for (; run != band.runs.end() && run->first < uint32_t(end); ++run) {
                const size_t rowStart = size_t(run->y) * size_t(level.width);
                const uint8_t *map = level.mapRow(run->y);
                const int left = std::max(run->left, run->left + first - int(run->first));
                const int right = std::min(run->right, run->left + end - 1 - int(run->first));
                for (int x = left; x <= right; ++x) {
                    if (map[x] & (KeepSeed | RemoveSeed))
                        continue;
                    const Sample f =
                        features ? (*features)[rowStart + size_t(x)] : TextureFeatures::at(grey, x, run->y);
                    const double d =
                        std::clamp(double(models.remove.cost(f)) - models.keep.cost(f), -regionalLimit, regionalLimit);
                    double prior = regionalScale * (d > 0 ? std::max(0.0, d - deadZone) : std::min(0.0, d + deadZone));
                    if (geodesic)
                        prior += geodesicWeight * (*geodesic)[rowStart + size_t(x)];
                    pulls[run->first + uint32_t(x - run->left)] = int32_t(std::lround(prior));
                }
            }
        },
        parallelVertices);
}

// Cuts the band of one level: band pixels are joined to their band
// neighbours by n-links, and pulled toward a terminal by their regional term,
// the links to their neighbours outside the band (whose labels stay), and the
// marks as hard constraints. Writes the labels of the band pixels; false when
// cancelled.
bool cutBand(Level &level, const Plane &grey, const Band &band, const LinkWeights &weights, const Models &models,
             double regionalScale, const std::vector<Sample> *features, const std::atomic_bool *cancel)
{
    const uint32_t n = band.vertices;
    if (n == 0)
        return !cancelled(cancel);

    const auto weightOf = [&](int k, int a, int b) {
        const size_t d = size_t(std::abs(a - b));
        return k < 4 ? weights.straight[d] : weights.diagonal[d];
    };

    // The pulls start from the regional term; the links to neighbours
    // outside the band are added below.
    std::vector<int32_t> terminal(n, 0);
    const bool modelled = !models.keep.isEmpty() && !models.remove.isEmpty();
    if (modelled)
        regionalPulls(level, grey, band, models, regionalScale, features, nullptr, 0, terminal);

    GridMaxFlow flow{size_t(n)};
    uint32_t v = 0;
    for (size_t r = 0; r < band.runs.size(); ++r) {
        const Run &run = band.runs[r];
        const int y = run.y;
        const bool firstOfRow = r == band.rowStart[size_t(y)];
        if (y % rowsBetweenChecks == 0 && firstOfRow && cancelled(cancel))
            return false;
        const uint8_t *row = grey.row(y);
        const uint8_t *map = level.mapRow(y);
        // One cursor per neighbouring row and column offset, as x only grows.
        RowCursor above[3] = {{band, y - 1}, {band, y - 1}, {band, y - 1}};
        RowCursor below[3] = {{band, y + 1}, {band, y + 1}, {band, y + 1}};
        RowCursor same[2] = {{band, y}, {band, y}};
        for (int x = run.left; x <= run.right; ++x, ++v) {
            int64_t pull = 0;
            for (int k = 0; k < 8; ++k) {
                const int dx = neighbours[size_t(k)][0];
                const int dy = neighbours[size_t(k)][1];
                const int nx = x + dx;
                const int ny = y + dy;
                if (nx < 0 || ny < 0 || nx >= level.width || ny >= level.height)
                    continue;
                const int32_t w = weightOf(k, row[x], grey.at(nx, ny));
                int64_t u = -1;
                if (dy == 0)
                    u = nx >= run.left && nx <= run.right ? int64_t(v) + dx : same[(dx + 1) / 2].vertex(nx);
                else
                    u = (dy < 0 ? above : below)[dx + 1].vertex(nx);
                if (u >= 0)
                    flow.linkVertices(int32_t(v), k, int32_t(u), uint8_t(w));
                else
                    pull += (level.mapRow(ny)[nx] & Inside) ? w : -w;
            }
            if (map[x] & RemoveSeed) {
                pull = -hardLink;
            } else if (map[x] & KeepSeed) {
                pull = hardLink;
            } else if (modelled) {
                pull += terminal[v];
            }
            flow.setVertexPull(int32_t(v), int32_t(std::clamp<int64_t>(pull, -hardLink, hardLink)));
        }
    }
    std::vector<int32_t>().swap(terminal);
    if (cancelled(cancel) || !flow.solve(cancel))
        return false;

    // Pixels left in neither search tree could go either way at the same
    // cost; they go to the remove side, which keeps the region smallest.
    for (const Run &run : band.runs) {
        uint8_t *map = level.mapRow(run.y);
        for (int x = run.left; x <= run.right; ++x) {
            const bool inside = flow.vertexOnSourceSide(int32_t(run.first) + (x - run.left));
            map[x] = inside ? (map[x] | Inside) : (map[x] & ~Inside);
        }
    }
    return true;
}

// The coarsest level is cut several times over with the same links, only the
// pulls changing as the models are re-estimated: its grid is built once, and
// each cut goes on from the flow of the cut before. The region read off is
// the part the source still reaches, the same for every maximum flow, so it is
// the region a fresh cut gives.
class WholeCut
{
public:
    // False when cancelled while building.
    bool build(const Level &level, const Plane &grey, const LinkWeights &weights, const std::atomic_bool *cancel)
    {
        flow.emplace(level.width, level.height);
        for (int y = 0; y < level.height; ++y) {
            if (y % rowsBetweenChecks == 0 && cancelled(cancel))
                return false;
            const uint8_t *row = grey.row(y);
            for (int x = 0; x < level.width; ++x) {
                for (int k = 0; k < 8; ++k) {
                    const int nx = x + neighbours[size_t(k)][0];
                    const int ny = y + neighbours[size_t(k)][1];
                    if (nx < 0 || ny < 0 || nx >= level.width || ny >= level.height)
                        continue;
                    const size_t d = size_t(std::abs(row[x] - grey.at(nx, ny)));
                    flow->setLink(x, y, k, uint8_t(k < 4 ? weights.straight[d] : weights.diagonal[d]));
                }
            }
        }
        return !cancelled(cancel);
    }

    // Cuts with the pull of each pixel toward keep (positive) or remove
    // (negative), marks as hard constraints, and writes the level's labels.
    // False when cancelled.
    bool cut(Level &level, const std::vector<int32_t> &pulls, const std::atomic_bool *cancel)
    {
        size_t i = 0;
        for (int y = 0; y < level.height; ++y) {
            for (int x = 0; x < level.width; ++x, ++i) {
                const uint8_t m = level.map[i];
                flow->setPull(x, y, (m & RemoveSeed) ? -hardLink : (m & KeepSeed) ? hardLink : pulls[i]);
            }
        }
        if (!flow->solve(cancel))
            return false;
        i = 0;
        for (int y = 0; y < level.height; ++y) {
            for (int x = 0; x < level.width; ++x, ++i)
                level.map[i] = flow->sourceSide(x, y) ? (level.map[i] | Inside) : (level.map[i] & ~Inside);
        }
        return true;
    }

private:
    std::optional<GridMaxFlow> flow;
};

struct Seed {
    int x = 0;
    int y = 0;
    bool keep = false;
};

// Marks the seeds on a level's map. Above full resolution a pixel that holds
// both kinds of mark is left free for the finer levels to settle.
void placeSeeds(Level &level, const std::vector<Seed> &seeds, int shift)
{
    for (const Seed &seed : seeds)
        level.mapRow(seed.y >> shift)[seed.x >> shift] |= seed.keep ? KeepSeed : RemoveSeed;
    if (shift == 0)
        return;
    for (const Seed &seed : seeds) {
        uint8_t &m = level.mapRow(seed.y >> shift)[seed.x >> shift];
        if ((m & KeepSeed) && (m & RemoveSeed))
            m &= ~(KeepSeed | RemoveSeed);
    }
}

// Samples of the pixels on each side of the current labels, at most
// `fitSamples` of each, taken at an even stride so that the choice is the
// same on every run.
template <typename Visit> void sampleSides(const Level &level, const Band &band, Visit &&visit)
{
    for (const Run &run : band.runs)
        for (int x = run.left; x <= run.right; ++x)
            visit(x, run.y, level.mapRow(run.y)[x]);
}

// Which of `count` items in turn thinning keeps: items i * count /
// fitSamples for i below fitSamples, or all of them when they are fewer.
class EvenPick
{
public:
    explicit EvenPick(size_t count)
        : count(count)
    { }

    bool next()
    {
        const size_t item = seen++;
        if (count <= fitSamples)
            return true;
        if (taken >= fitSamples || item != taken * count / fitSamples)
            return false;
        ++taken;
        return true;
    }

private:
    size_t count = 0;
    size_t seen = 0;
    size_t taken = 0;
};

void thin(std::vector<Sample> &samples)
{
    if (samples.size() <= fitSamples)
        return;
    std::vector<Sample> kept;
    kept.reserve(fitSamples);
    for (size_t i = 0; i < fitSamples; ++i)
        kept.push_back(samples[i * samples.size() / fitSamples]);
    samples.swap(kept);
}

// The mixtures of the two sides as the labels have them; seeds alone when
// `seedsOnly`, with the whole level standing for the remove side when it
// holds no remove mark.
Models fitModels(const Level &level, const Band &band, const Plane &grey, const std::vector<Sample> *features,
                 bool seedsOnly)
{
    std::vector<Sample> keep;
    std::vector<Sample> remove;
    const auto featuresAt = [&](int x, int y) {
        return features ? (*features)[size_t(y) * size_t(level.width) + size_t(x)] : TextureFeatures::at(grey, x, y);
    };
    if (seedsOnly) {
        sampleSides(level, band, [&](int x, int y, uint8_t m) {
            if (m & KeepSeed)
                keep.push_back(featuresAt(x, y));
            else if (m & RemoveSeed)
                remove.push_back(featuresAt(x, y));
        });
    } else {
        // Only the pixels that thinning would keep are measured: the same
        // samples as measuring all, at a fraction of the cost in a wide band.
        size_t inside = 0;
        size_t outside = 0;
        sampleSides(level, band, [&](int, int, uint8_t m) { ++((m & Inside) ? inside : outside); });
        EvenPick pickKeep(inside);
        EvenPick pickRemove(outside);
        keep.reserve(std::min(inside, fitSamples));
        remove.reserve(std::min(outside, fitSamples));
        sampleSides(level, band, [&](int x, int y, uint8_t m) {
            if (m & Inside) {
                if (pickKeep.next())
                    keep.push_back(featuresAt(x, y));
            } else if (pickRemove.next()) {
                remove.push_back(featuresAt(x, y));
            }
        });
    }
    if (seedsOnly && keep.size() < fewSamples) {
        // Marks a few pixels long on a reduced photo say little about the
        // spread of what they cover: their neighbours count too.
        keep.clear();
        sampleSides(level, band, [&](int x, int y, uint8_t m) {
            if (!(m & KeepSeed))
                return;
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx)
                    if (x + dx >= 0 && y + dy >= 0 && x + dx < level.width && y + dy < level.height
                        && !(level.mapRow(y + dy)[x + dx] & RemoveSeed))
                        keep.push_back(features ? (*features)[size_t(y + dy) * size_t(level.width) + size_t(x + dx)]
                                                : TextureFeatures::at(grey, x + dx, y + dy));
        });
    }
    if (seedsOnly && remove.empty()) {
        // No remove mark: what the photo looks like overall stands for the
        // remove side.
        const size_t step = std::max<size_t>(1, size_t(level.area()) / fitSamples);
        for (size_t i = 0; i < size_t(level.area()); i += step) {
            const int x = int(i % size_t(level.width));
            const int y = int(i / size_t(level.width));
            remove.push_back(features ? (*features)[i] : TextureFeatures::at(grey, x, y));
        }
    }
    thin(keep);
    thin(remove);
    Models models;
    models.keep.fit(keep);
    models.remove.fit(remove);
    return models;
}

// The band of the next finer level: the pixels within `ring` pixels of this
// level's boundary, and around any mark whose side disagrees with this
// level's labels. Returned as runs of the finer level.
Band finerBand(Level &coarse, const std::vector<Seed> &seeds, int coarseShift, int fineWidth, int fineHeight, int ring)
{
    const int w = coarse.width;
    const int h = coarse.height;
    for (int y = 0; y < h; ++y) {
        uint8_t *row = coarse.mapRow(y);
        uint8_t *below = y + 1 < h ? coarse.mapRow(y + 1) : nullptr;
        for (int x = 0; x < w; ++x) {
            const uint8_t inside = row[x] & Inside;
            if (x + 1 < w && (row[x + 1] & Inside) != inside) {
                row[x] |= OnBoundary;
                row[x + 1] |= OnBoundary;
            }
            if (below && (below[x] & Inside) != inside) {
                row[x] |= OnBoundary;
                below[x] |= OnBoundary;
            }
        }
    }
    for (const Seed &seed : seeds) {
        uint8_t &m = coarse.mapRow(seed.y >> coarseShift)[seed.x >> coarseShift];
        if (bool(m & Inside) != seed.keep)
            m |= OnBoundary;
    }
    for (int y = 0; y < h; ++y) {
        const uint8_t *row = coarse.mapRow(y);
        for (int x = 0; x < w; ++x) {
            if (!(row[x] & OnBoundary))
                continue;
            for (int yy = std::max(0, y - ring); yy <= std::min(h - 1, y + ring); ++yy) {
                uint8_t *r = coarse.mapRow(yy);
                for (int xx = std::max(0, x - ring); xx <= std::min(w - 1, x + ring); ++xx)
                    r[xx] |= InBand;
            }
        }
    }

    Band band;
    std::vector<std::pair<int, int>> coarseRuns;
    for (int y = 0; y < h; ++y) {
        const uint8_t *row = coarse.mapRow(y);
        coarseRuns.clear();
        for (int x = 0; x < w; ++x) {
            if (!(row[x] & InBand))
                continue;
            const int left = x;
            while (x + 1 < w && (row[x + 1] & InBand))
                ++x;
            coarseRuns.emplace_back(left, x);
        }
        for (int fy = 2 * y; fy <= std::min(2 * y + 1, fineHeight - 1); ++fy)
            for (const auto &[left, right] : coarseRuns)
                band.runs.push_back({fy, 2 * left, std::min(2 * right + 1, fineWidth - 1), 0});
    }
    band.finish(fineHeight);
    return band;
}

// The finer level's labels, each pixel taking its parent's.
void inheritLabels(Level &fine, const Level &coarse)
{
    fine.map.assign(size_t(fine.width) * size_t(fine.height), 0);
    for (int y = 0; y < fine.height; ++y) {
        const uint8_t *parent = coarse.mapRow(y / 2);
        uint8_t *row = fine.mapRow(y);
        for (int x = 0; x < fine.width; ++x)
            row[x] = parent[x / 2] & Inside;
    }
}

// Marks the pixels 4-connected to a keep mark within the region as Reached
// and takes the rest out of the region; returns how many were reached.
qint64 keepReached(Level &level, const std::vector<Seed> &seeds, int shift)
{
    const int w = level.width;
    std::vector<std::pair<int, int>> stack;
    const auto open = [](uint8_t m) { return (m & Inside) && !(m & Reached); };
    qint64 count = 0;
    for (const Seed &seed : seeds) {
        if (!seed.keep || !open(level.mapRow(seed.y >> shift)[seed.x >> shift]))
            continue;
        stack.emplace_back(seed.x >> shift, seed.y >> shift);
        while (!stack.empty()) {
            const auto [x, y] = stack.back();
            stack.pop_back();
            uint8_t *row = level.mapRow(y);
            if (!open(row[x]))
                continue;
            int left = x;
            int right = x;
            while (left > 0 && open(row[left - 1]))
                --left;
            while (right + 1 < w && open(row[right + 1]))
                ++right;
            for (int i = left; i <= right; ++i)
                row[i] |= Reached;
            count += right - left + 1;
            for (const int ny : {y - 1, y + 1}) {
                if (ny < 0 || ny >= level.height)
                    continue;
                const uint8_t *next = level.mapRow(ny);
                for (int i = left; i <= right; ++i)
                    if (open(next[i]) && (i == left || !open(next[i - 1])))
                        stack.emplace_back(i, ny);
            }
        }
    }
    for (uint8_t &m : level.map) {
        if (m & Reached)
            m = uint8_t((m & ~Reached) | Inside);
        else
            m &= ~Inside;
    }
    return count;
}

// Fills the region's holes: the areas outside it that neither reach the
// photo's border nor hold a remove mark. A highlight on a fruit or a
// reflection in a window is part of what was marked; an area the user wants
// left out inside a region gets a remove mark.
void fillHoles(Level &level, const std::vector<Seed> &seeds, int shift)
{
    const int w = level.width;
    const int h = level.height;
    std::vector<std::pair<int, int>> stack;
    const auto open = [](uint8_t m) { return !(m & (Inside | Open)); };
    const auto flood = [&](int sx, int sy) {
        if (!open(level.mapRow(sy)[sx]))
            return;
        stack.emplace_back(sx, sy);
        while (!stack.empty()) {
            const auto [x, y] = stack.back();
            stack.pop_back();
            uint8_t *row = level.mapRow(y);
            if (!open(row[x]))
                continue;
            int left = x;
            int right = x;
            while (left > 0 && open(row[left - 1]))
                --left;
            while (right + 1 < w && open(row[right + 1]))
                ++right;
            for (int i = left; i <= right; ++i)
                row[i] |= Open;
            for (const int ny : {y - 1, y + 1}) {
                if (ny < 0 || ny >= h)
                    continue;
                const uint8_t *next = level.mapRow(ny);
                for (int i = left; i <= right; ++i)
                    if (open(next[i]) && (i == left || !open(next[i - 1])))
                        stack.emplace_back(i, ny);
            }
        }
    };
    for (int x = 0; x < w; ++x) {
        flood(x, 0);
        flood(x, h - 1);
    }
    for (int y = 0; y < h; ++y) {
        flood(0, y);
        flood(w - 1, y);
    }
    for (const Seed &seed : seeds)
        if (!seed.keep)
            flood(seed.x >> shift, seed.y >> shift);
    for (uint8_t &m : level.map) {
        if (!(m & (Inside | Open)))
            m |= Inside;
        m &= ~Open;
    }
}

// How much more the brightness changes across the region's boundary than
// between neighbours anywhere: the mean difference of 4-neighbours on either
// side of the boundary over that of all 4-neighbours. The photo's border is
// no boundary.
double boundaryContrast(const Level &level, const Plane &grey)
{
    double across = 0;
    double all = 0;
    qint64 acrossCount = 0;
    qint64 allCount = 0;
    for (int y = 0; y < level.height; ++y) {
        const uint8_t *row = level.mapRow(y);
        const uint8_t *g = grey.row(y);
        const uint8_t *below = y + 1 < level.height ? level.mapRow(y + 1) : nullptr;
        const uint8_t *gb = below ? grey.row(y + 1) : nullptr;
        for (int x = 0; x < level.width; ++x) {
            if (x + 1 < level.width) {
                const int d = std::abs(g[x] - g[x + 1]);
                all += d;
                ++allCount;
                if ((row[x] ^ row[x + 1]) & Inside) {
                    across += d;
                    ++acrossCount;
                }
            }
            if (below) {
                const int d = std::abs(g[x] - gb[x]);
                all += d;
                ++allCount;
                if ((row[x] ^ below[x]) & Inside) {
                    across += d;
                    ++acrossCount;
                }
            }
        }
    }
    if (acrossCount == 0 || all <= 0)
        return 0;
    return (across / double(acrossCount)) / (all / double(allCount));
}

RowSpans spansOf(const Level &level)
{
    RowSpans spans;
    for (int y = 0; y < level.height; ++y) {
        const uint8_t *row = level.mapRow(y);
        for (int x = 0; x < level.width; ++x) {
            if (!(row[x] & Inside))
                continue;
            const int left = x;
            while (x + 1 < level.width && (row[x + 1] & Inside))
                ++x;
            spans.append({y, left, x});
        }
    }
    return spans;
}

// The sides of the level the region touches that no keep mark is near.
Qt::Edges edgesReached(const Level &level, const std::vector<Seed> &seeds, int shift)
{
    Qt::Edges touched;
    for (int x = 0; x < level.width; ++x) {
        if (level.mapRow(0)[x] & Inside)
            touched |= Qt::TopEdge;
        if (level.mapRow(level.height - 1)[x] & Inside)
            touched |= Qt::BottomEdge;
    }
    for (int y = 0; y < level.height; ++y) {
        if (level.mapRow(y)[0] & Inside)
            touched |= Qt::LeftEdge;
        if (level.mapRow(y)[level.width - 1] & Inside)
            touched |= Qt::RightEdge;
    }
    // Near: within a sixth of the photo's extent across that side.
    const double nearX = level.width / 6.0;
    const double nearY = level.height / 6.0;
    for (const Seed &seed : seeds) {
        if (!seed.keep)
            continue;
        const int x = seed.x >> shift;
        const int y = seed.y >> shift;
        if (x < nearX)
            touched &= ~Qt::LeftEdge;
        if (level.width - 1 - x < nearX)
            touched &= ~Qt::RightEdge;
        if (y < nearY)
            touched &= ~Qt::TopEdge;
        if (level.height - 1 - y < nearY)
            touched &= ~Qt::BottomEdge;
    }
    return touched;
}

// How far the finer levels' regional term counts against their links: the
// same region energy per area at every scale halves its weight per pixel
// against the boundary's at each finer level.
double regionalScaleAt(int level, int coarsest)
{
    return regionalUnit * std::ldexp(1.0, level - coarsest);
}

} // namespace

struct RegionFill::State {
    QSize photoSize;
    std::vector<Seed> seeds;
    std::vector<Level> levels; // the finer levels' grey, and the preview's labels
    int previewLevel = 0;
    int coarsest = 0;
    Models models;
};

namespace {

using Outcome = RegionFill::Outcome;

// The whole-level cut of the coarsest level, its models re-estimated from
// each cut.
bool cutCoarsest(Level &level, const Plane &grey, Models &models, int coarsest, const std::atomic_bool *cancel,
                 const RegionFill::Progress &report)
{
    const LinkWeights weights = linkWeights(grey);
    std::vector<Sample> features(size_t(level.area()));
    for (int y = 0; y < level.height; ++y) {
        if (y % rowsBetweenChecks == 0 && cancelled(cancel))
            return false;
        for (int x = 0; x < level.width; ++x)
            features[size_t(y) * size_t(level.width) + size_t(x)] = TextureFeatures::at(grey, x, y);
    }
    const Band everything = wholeLevel(level);
    models = fitModels(level, everything, grey, &features, true);

    // How much nearer each pixel is to a keep mark than to a remove mark along
    // paths that pay for the edges they cross, in [-1, 1]. Marks of a few
    // pixels give a keep model too narrow to recognise the rest of the
    // region, and the cuts would stay on a sliver around them: then only the
    // first cut leans on it, and the models are re-estimated from that
    // region.
    std::vector<uint32_t> keepSeeds;
    std::vector<uint32_t> removeSeeds;
    for (size_t i = 0; i < level.map.size(); ++i) {
        if (level.map[i] & KeepSeed)
            keepSeeds.push_back(uint32_t(i));
        else if (level.map[i] & RemoveSeed)
            removeSeeds.push_back(uint32_t(i));
    }
    const bool fewKeep = keepSeeds.size() < fewSamples;
    std::vector<float> geodesic;
    if (!keepSeeds.empty() && !removeSeeds.empty()) {
        std::vector<float> toKeep;
        std::vector<float> toRemove;
        InBands::run(2, [&](int first, int end) {
            for (int side = first; side < end; ++side)
                (side == 0 ? toKeep : toRemove) =
                    GeodesicDistance::from(grey, side == 0 ? keepSeeds : removeSeeds, geodesicStep, cancel);
        });
        if (toKeep.empty() || toRemove.empty())
            return false;
        geodesic.resize(toKeep.size());
        for (size_t i = 0; i < geodesic.size(); ++i)
            geodesic[i] = (toRemove[i] - toKeep[i]) / std::max(1e-3f, toRemove[i] + toKeep[i]);
    }
    const auto nearness = [&](int round) -> const std::vector<float> * {
        if (geodesic.empty())
            return nullptr;
        if (fewKeep)
            return round == 0 ? &geodesic : nullptr;
        // From then on only what lies well beyond a remove mark is pushed
        // out; the nearness itself is not needed again.
        if (round == nearKeepRounds) {
            for (float &g : geodesic)
                g = std::min(0.0f, g + beyondRemove);
        }
        return &geodesic;
    };
    std::vector<uint8_t> previous;
    WholeCut whole;
    if (!whole.build(level, grey, weights, cancel))
        return false;
    std::vector<int32_t> pulls(size_t(level.area()), 0);
    for (int round = 0; round < coarseRounds; ++round) {
        const std::vector<float> *near = nearness(round);
        if (!models.keep.isEmpty() && !models.remove.isEmpty())
            regionalPulls(level, grey, everything, models, regionalScaleAt(coarsest, coarsest), &features, near,
                          removeSeeds.empty() ? keepOnlyDeadZone : 0.0, pulls);
        if (cancelled(cancel))
            return false;
        if (!whole.cut(level, pulls, cancel))
            return false;
        if (report)
            report(10 + 40 * (round + 1) / coarseRounds);
        if (level.map == previous || round + 1 == coarseRounds)
            break;
        previous = level.map;
        Models next = fitModels(level, everything, grey, &features, false);
        if (!next.keep.isEmpty() && !next.remove.isEmpty())
            models = std::move(next);
    }
    return true;
}

// Cuts level `i` in the band around the boundary of level i + 1.
bool refineLevel(std::vector<Level> &levels, int i, const Plane &grey, const std::vector<Seed> &seeds,
                 const Models &coarseModels, int coarsest, const std::atomic_bool *cancel)
{
    Level &coarse = levels[size_t(i) + 1];
    Level &fine = levels[size_t(i)];
    const Band band = finerBand(coarse, seeds, i + 1, fine.width, fine.height, 1);
    inheritLabels(fine, coarse);
    std::vector<uint8_t>().swap(coarse.map);
    placeSeeds(fine, seeds, i);
    if (cancelled(cancel))
        return false;
    Models models = fitModels(fine, band, grey, nullptr, false);
    if (models.keep.isEmpty() || models.remove.isEmpty())
        models = coarseModels;
    return cutBand(fine, grey, band, linkWeights(grey), models, regionalScaleAt(i, coarsest), nullptr, cancel);
}

std::vector<Seed> seedsOf(const QRect &bounds, const QList<QPoint> &keepMarks, const QList<QPoint> &removeMarks,
                          bool &anyKeep, bool &anyRemove)
{
    std::vector<Seed> seeds;
    std::vector<quint64> removed;
    for (const QPoint &p : removeMarks) {
        if (bounds.contains(p)) {
            seeds.push_back({p.x(), p.y(), false});
            removed.push_back(quint64(p.y()) << 32 | quint32(p.x()));
        }
    }
    std::sort(removed.begin(), removed.end());
    anyKeep = false;
    anyRemove = !removed.empty();
    for (const QPoint &p : keepMarks) {
        if (bounds.contains(p)
            && !std::binary_search(removed.begin(), removed.end(), quint64(p.y()) << 32 | quint32(p.x()))) {
            seeds.push_back({p.x(), p.y(), true});
            anyKeep = true;
        }
    }
    return seeds;
}

// The preview at the state's preview level, once that level is cut: only
// what a refinement needs is kept.
RegionFill::Preview finishedPreview(std::shared_ptr<RegionFill::State> state)
{
    RegionFill::Preview preview;
    const int previewLevel = state->previewLevel;
    std::vector<Level> &levels = state->levels;
    Level &shown = levels[size_t(previewLevel)];
    if (keepReached(shown, state->seeds, previewLevel) == 0)
        return preview;
    fillHoles(shown, state->seeds, previewLevel);
    // Coarser levels are not needed to refine, nor the preview's grey.
    levels.resize(size_t(previewLevel) + 1);
    if (previewLevel > 0)
        std::vector<uint8_t>().swap(shown.grey);

    preview.outcome = Outcome::Filled;
    preview.scale = 1 << previewLevel;
    preview.size = QSize(shown.width, shown.height);
    preview.spans = spansOf(shown);
    qint64 area = 0;
    for (const RowSpan &s : preview.spans)
        area += s.length();
    preview.small = double(area) < RegionFill::smallShare * double(shown.area());
    preview.edgesReached = edgesReached(shown, state->seeds, previewLevel);
    preview.state = std::move(state);
    return preview;
}

RegionFill::Preview previewOf(const QImage &photo, const QList<QPoint> &keepMarks, const QList<QPoint> &removeMarks,
                              qint64 previewPixels, const std::atomic_bool *cancel,
                              const RegionFill::Progress &progress, qint64 cutPixels)
{
    RegionFill::Preview preview;
    const auto report = [&progress](int percent) {
        if (progress)
            progress(percent);
    };
    bool anyKeep = false;
    bool anyRemove = false;
    auto state = std::make_shared<RegionFill::State>();
    state->photoSize = photo.size();
    state->seeds = seedsOf(photo.rect(), keepMarks, removeMarks, anyKeep, anyRemove);
    if (!anyKeep)
        return preview;
    const bool keepOnly = !anyRemove;
    if (cancelled(cancel)) {
        preview.outcome = Outcome::Cancelled;
        return preview;
    }

    // Level 0 is the photo; each further level halves it, up to the first
    // that is small enough to cut whole.
    std::vector<Level> &levels = state->levels;
    std::optional<PhotoGrey> photoGrey;
    levels.resize(1);
    levels[0].width = photo.width();
    levels[0].height = photo.height();
    while (levels.back().area() > std::max<qint64>(cutPixels, 1)) {
        Level next = levels.size() == 1 ? halvedPhoto(photo) : halved(levels.back().plane());
        levels.push_back(std::move(next));
        if (cancelled(cancel)) {
            preview.outcome = Outcome::Cancelled;
            return preview;
        }
    }
    const auto greyOf = [&](int i) {
        if (i > 0)
            return levels[size_t(i)].plane();
        if (!photoGrey)
            photoGrey.emplace(photo);
        return photoGrey->grey();
    };
    report(10);

    const int coarsest = int(levels.size()) - 1;
    state->coarsest = coarsest;
    int previewLevel = 0;
    while (levels[size_t(previewLevel)].area() > std::max<qint64>(previewPixels, 1) && previewLevel < coarsest)
        ++previewLevel;
    state->previewLevel = previewLevel;

    Level &top = levels.back();
    top.map.assign(size_t(top.area()), 0);
    placeSeeds(top, state->seeds, coarsest);
    if (!cutCoarsest(top, greyOf(coarsest), state->models, coarsest, cancel, report)) {
        preview.outcome = Outcome::Cancelled;
        return preview;
    }
    keepReached(top, state->seeds, coarsest);
    fillHoles(top, state->seeds, coarsest);
    if (keepOnly) {
        // With keep marks alone, a region of the marks themselves or of the
        // whole photo, or one whose boundary runs where the photo changes no
        // more than anywhere, says that nothing told the marked area apart.
        qint64 inside = 0;
        qint64 marked = 0;
        for (const uint8_t m : top.map) {
            inside += (m & Inside) != 0;
            marked += (m & KeepSeed) != 0;
        }
        if (inside >= top.area() - std::max<qint64>(1, top.area() / 100) || inside <= 2 * marked + 2
            || boundaryContrast(top, greyOf(coarsest)) < leastEdgeContrast) {
            preview.outcome = Outcome::NoEdgeToStopAt;
            return preview;
        }
    }

    for (int i = coarsest - 1; i >= previewLevel; --i) {
        if (cancelled(cancel) || !refineLevel(levels, i, greyOf(i), state->seeds, state->models, coarsest, cancel)) {
            preview.outcome = Outcome::Cancelled;
            return preview;
        }
        report(50 + 40 * (coarsest - i) / std::max(1, coarsest - previewLevel));
    }
    preview = finishedPreview(std::move(state));
    report(100);
    return preview;
}

RegionFill::Preview sharpenOf(const QImage &photo, const RegionFill::Preview &coarse, qint64 previewPixels,
                              const std::atomic_bool *cancel)
{
    if (coarse.outcome != Outcome::Filled || !coarse.state)
        return coarse;
    const RegionFill::State &from = *coarse.state;
    if (photo.size() != from.photoSize)
        return RegionFill::Preview();
    int target = 0;
    while (target < from.previewLevel && from.levels[size_t(target)].area() > std::max<qint64>(previewPixels, 1))
        ++target;
    if (target >= from.previewLevel)
        return coarse;

    // The coarse preview's state is shared and stays as it is: the levels
    // refined here are copies.
    auto state = std::make_shared<RegionFill::State>(from);
    std::vector<Level> &levels = state->levels;
    std::optional<PhotoGrey> photoGrey;
    if (target == 0)
        photoGrey.emplace(photo);
    for (int i = from.previewLevel - 1; i >= target; --i) {
        const Plane grey = i == 0 ? photoGrey->grey() : levels[size_t(i)].plane();
        if (cancelled(cancel) || !refineLevel(levels, i, grey, state->seeds, state->models, state->coarsest, cancel)) {
            RegionFill::Preview stopped;
            stopped.outcome = Outcome::Cancelled;
            return stopped;
        }
    }
    state->previewLevel = target;
    return finishedPreview(std::move(state));
}

RegionFill::Result refineOf(const QImage &photo, const RegionFill::Preview &preview, const std::atomic_bool *cancel,
                            const RegionFill::Progress &progress)
{
    RegionFill::Result result;
    if (preview.outcome != Outcome::Filled || !preview.state) {
        result.outcome = preview.outcome;
        return result;
    }
    const auto report = [&progress](int percent) {
        if (progress)
            progress(percent);
    };
    const RegionFill::State &state = *preview.state;
    if (photo.size() != state.photoSize) {
        result.outcome = Outcome::NoKeepMark;
        return result;
    }
    // The state is shared and stays as it is: the levels refined here are
    // copies.
    std::vector<Level> levels(size_t(state.previewLevel) + 1);
    for (int i = 1; i < state.previewLevel; ++i)
        levels[size_t(i)] = state.levels[size_t(i)];
    levels[size_t(state.previewLevel)].width = state.levels[size_t(state.previewLevel)].width;
    levels[size_t(state.previewLevel)].height = state.levels[size_t(state.previewLevel)].height;
    levels[size_t(state.previewLevel)].map = state.levels[size_t(state.previewLevel)].map;
    levels[0].width = photo.width();
    levels[0].height = photo.height();

    const PhotoGrey photoGrey(photo);
    const Plane fullGrey = photoGrey.grey();
    if (state.previewLevel == 0)
        levels[0].map = state.levels[0].map;
    for (int i = state.previewLevel - 1; i >= 0; --i) {
        const Plane grey = i == 0 ? fullGrey : levels[size_t(i)].plane();
        if (cancelled(cancel) || !refineLevel(levels, i, grey, state.seeds, state.models, state.coarsest, cancel)) {
            result.outcome = Outcome::Cancelled;
            return result;
        }
        std::vector<uint8_t>().swap(levels[size_t(i) + 1].grey);
        report(10 + 70 * (state.previewLevel - i) / std::max(1, state.previewLevel));
    }
    Level &full = levels[0];
    if (keepReached(full, state.seeds, 0) == 0) {
        result.outcome = Outcome::NoKeepMark;
        return result;
    }
    fillHoles(full, state.seeds, 0);
    if (cancelled(cancel)) {
        result.outcome = Outcome::Cancelled;
        return result;
    }
    result.region = EdgeMatte::soften(fullGrey, full.map.data(), full.width, Inside, RemoveSeed);
    report(95);
    result.spans = spansOf(full);
    qint64 area = 0;
    for (const RowSpan &s : result.spans)
        area += s.length();
    result.small = double(area) < RegionFill::smallShare * double(full.area());
    result.edgesReached = edgesReached(full, state.seeds, 0);
    result.outcome = Outcome::Filled;
    report(100);
    return result;
}

} // namespace

RegionFill::Preview RegionFill::preview(const QImage &photo, const QList<QPoint> &keepMarks,
                                        const QList<QPoint> &removeMarks, qint64 previewPixels,
                                        const std::atomic_bool *cancel, const Progress &progress, qint64 cutPixels)
{
    // Every allocation here is sized by the photo; a photo too large for the
    // memory left ends the fill cleanly rather than the program.
    try {
        return previewOf(photo, keepMarks, removeMarks, previewPixels, cancel, progress, cutPixels);
    } catch (const std::bad_alloc &) {
        Preview failed;
        failed.outcome = Outcome::OutOfMemory;
        return failed;
    }
}

RegionFill::Preview RegionFill::sharpen(const QImage &photo, const Preview &coarse, qint64 previewPixels,
                                        const std::atomic_bool *cancel)
{
    try {
        return sharpenOf(photo, coarse, previewPixels, cancel);
    } catch (const std::bad_alloc &) {
        Preview failed;
        failed.outcome = Outcome::OutOfMemory;
        return failed;
    }
}

RegionFill::Result RegionFill::refine(const QImage &photo, const Preview &preview, const std::atomic_bool *cancel,
                                      const Progress &progress)
{
    try {
        return refineOf(photo, preview, cancel, progress);
    } catch (const std::bad_alloc &) {
        Result failed;
        failed.outcome = Outcome::OutOfMemory;
        return failed;
    }
}

RegionFill::Result RegionFill::compute(const QImage &photo, const QList<QPoint> &keepMarks,
                                       const QList<QPoint> &removeMarks, const std::atomic_bool *cancel,
                                       const Progress &progress, qint64 cutPixels)
{
    const Progress firstHalf = [&progress](int percent) {
        if (progress)
            progress(percent / 2);
    };
    const Progress secondHalf = [&progress](int percent) {
        if (progress)
            progress(50 + percent / 2);
    };
    // The preview runs at full resolution when the photo is small enough;
    // then the refinement only softens its edge.
    const Preview first = preview(photo, keepMarks, removeMarks, defaultPreviewPixels, cancel, firstHalf, cutPixels);
    if (first.outcome != Outcome::Filled) {
        Result result;
        result.outcome = first.outcome;
        return result;
    }
    return refine(photo, first, cancel, secondHalf);
}

QString RegionFill::outcomeText(Outcome outcome)
{
    switch (outcome) {
    case Outcome::Filled:
        return QCoreApplication::translate("RegionFill", "Filled the marked area");
    case Outcome::NoKeepMark:
        return QCoreApplication::translate("RegionFill", "Nothing to fill: put a keep mark inside the area first");
    case Outcome::NoEdgeToStopAt:
        return QCoreApplication::translate("RegionFill", "No edge to stop at: put a remove mark outside the area");
    case Outcome::Cancelled:
        return QCoreApplication::translate("RegionFill", "Fill cancelled");
    case Outcome::OutOfMemory:
        return QCoreApplication::translate("RegionFill", "Not enough memory to fill this area");
    }
    return {};
}

QString RegionFill::adviceText(Qt::Edges edgesReached, bool small)
{
    if (edgesReached)
        return QCoreApplication::translate("RegionFill", "The fill reached the photo's edge");
    if (small)
        return QCoreApplication::translate("RegionFill", "Only a small area was filled: add keep marks");
    return {};
}
