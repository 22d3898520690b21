#include "referencefill.h"

#include <QCoreApplication>

#include <boost/graph/boykov_kolmogorov_max_flow.hpp>
#include <boost/graph/compressed_sparse_row_graph.hpp>
#include <boost/property_map/function_property_map.hpp>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <iterator>
#include <new>
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
};

// The weight of a link between two equal pixels. Small integers keep the
// max-flow exact, and even a million-pixel cut far from overflowing.
constexpr int32_t flatWeight = 100;
constexpr int32_t hardLink = 1 << 30;

// Without a remove mark, a cut whose crossings weigh on average more than
// this share of a flat crossing runs across flat or textured areas, not
// along an edge.
constexpr double edgeShare = 0.5;

// Cancelling is checked this often while a graph is built.
constexpr int rowsBetweenChecks = 64;

using Graph = boost::compressed_sparse_row_graph<boost::directedS, boost::no_property, boost::no_property,
                                                 boost::no_property, uint32_t, uint32_t>;
using Edge = boost::graph_traits<Graph>::edge_descriptor;

bool cancelled(const std::atomic_bool *cancel)
{
    return cancel && cancel->load(std::memory_order_relaxed);
}

// Brightness rows of the photo at full resolution, read in place for the
// formats the program opens, so that no full-size copy is made for them.
class PhotoGrey
{
public:
    explicit PhotoGrey(const QImage &photo)
        : image(photo)
    {
        switch (image.format()) {
        case QImage::Format_RGB32:
        case QImage::Format_ARGB32:
        case QImage::Format_ARGB32_Premultiplied:
        case QImage::Format_Grayscale8:
        case QImage::Format_RGB888:
            break;
        case QImage::Format_Indexed8: {
            const QList<QRgb> table = image.colorTable();
            for (int i = 0; i < int(palette.size()); ++i)
                palette[i] = i < table.size() ? uint8_t(qGray(table[i])) : 0;
            break;
        }
        default:
            image = image.convertToFormat(QImage::Format_Grayscale8);
            if (image.isNull())
                throw std::bad_alloc();
        }
    }

    void row(int y, uint8_t *out) const
    {
        const uchar *line = image.constScanLine(y);
        const int width = image.width();
        switch (image.format()) {
        case QImage::Format_Grayscale8:
            std::copy(line, line + width, out);
            break;
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

private:
    QImage image;
    std::array<uint8_t, 256> palette{};
};

struct Level {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> grey; // empty at full resolution, read from the photo
    std::vector<uint8_t> map;

    uint8_t *mapRow(int y) { return map.data() + size_t(y) * size_t(width); }
};

// Rows of one level's brightness; at full resolution a few recent rows are
// kept, as the graph is built row after row.
class GreyRows
{
public:
    GreyRows(const Level &level, const PhotoGrey *photo)
        : level(level)
        , photo(photo)
    {
        if (photo)
            for (Slot &slot : buffers)
                slot.data.resize(size_t(level.width));
    }

    const uint8_t *row(int y)
    {
        if (!photo)
            return level.grey.data() + size_t(y) * size_t(level.width);
        Slot &slot = buffers[size_t(y) & 3];
        if (slot.y != y) {
            photo->row(y, slot.data.data());
            slot.y = y;
        }
        return slot.data.data();
    }

private:
    struct Slot {
        int y = -1;
        std::vector<uint8_t> data;
    };
    const Level &level;
    const PhotoGrey *photo;
    std::array<Slot, 4> buffers;
};

// The link weights of one level, by brightness difference. Sigma follows the
// level's own contrast, the mean squared difference of neighbours (as Rother,
// Kolmogorov and Blake estimate it): texture then costs much to cut, a step
// well above the texture little.
std::array<int32_t, 256> linkWeights(const Level &level, const PhotoGrey *photo)
{
    GreyRows rows(level, photo);
    const int step = std::max(1, level.height / 512);
    double sum = 0;
    double count = 0;
    for (int y = 0; y < level.height; y += step) {
        const uint8_t *row = rows.row(y);
        const uint8_t *below = y + 1 < level.height ? rows.row(y + 1) : nullptr;
        for (int x = 0; x < level.width; ++x) {
            if (x + 1 < level.width) {
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
    std::array<int32_t, 256> weights{};
    for (int d = 0; d < 256; ++d)
        weights[size_t(d)] =
            std::max<int32_t>(1, int32_t(std::lround(flatWeight * std::exp(-double(d) * d / (2 * meanSquare)))));
    return weights;
}

// Each pixel of the next level the mean of a 2 x 2 block, the last row or
// column repeated where the size is odd.
Level halved(int width, int height, const std::function<const uint8_t *(int)> &rowOf)
{
    Level half;
    half.width = (width + 1) / 2;
    half.height = (height + 1) / 2;
    half.grey.resize(size_t(half.width) * size_t(half.height));
    for (int y = 0; y < half.height; ++y) {
        const uint8_t *a = rowOf(2 * y);
        const uint8_t *b = rowOf(std::min(2 * y + 1, height - 1));
        uint8_t *out = half.grey.data() + size_t(y) * size_t(half.width);
        for (int x = 0; x < half.width; ++x) {
            const int x1 = std::min(2 * x + 1, width - 1);
            out[x] = uint8_t((a[2 * x] + a[x1] + b[2 * x] + b[x1] + 2) / 4);
        }
    }
    return half;
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
        for (Run &run : runs) {
            run.first = vertices;
            vertices += uint32_t(run.right - run.left + 1);
            ++rowStart[size_t(run.y) + 1];
        }
        for (size_t y = 1; y < rowStart.size(); ++y)
            rowStart[y] += rowStart[y - 1];
    }
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

// The pairs (source, target) of the graph's edges, in the order of the
// edge arrays, so that the compressed graph is built without a list of pairs.
class EdgePairs
{
public:
    using iterator_category = std::input_iterator_tag;
    using value_type = std::pair<uint32_t, uint32_t>;
    using difference_type = std::ptrdiff_t;
    using pointer = const value_type *;
    using reference = const value_type &;

    EdgePairs(const std::vector<uint32_t> &offsets, const std::vector<uint32_t> &targets, uint32_t edge)
        : offsets(&offsets)
        , targets(&targets)
        , edge(edge)
    {
        settle();
    }
    reference operator*() const { return current; }
    pointer operator->() const { return &current; }
    EdgePairs &operator++()
    {
        ++edge;
        settle();
        return *this;
    }
    bool operator==(const EdgePairs &other) const { return edge == other.edge; }
    bool operator!=(const EdgePairs &other) const { return edge != other.edge; }

private:
    void settle()
    {
        if (edge >= targets->size())
            return;
        while ((*offsets)[current.first + 1] <= edge)
            ++current.first;
        current.second = (*targets)[edge];
    }

    const std::vector<uint32_t> *offsets;
    const std::vector<uint32_t> *targets;
    uint32_t edge;
    value_type current{0, 0};
};

enum : uint8_t { LinkLeft = 1, LinkRight = 2, LinkUp = 4, LinkDown = 8 };

// Cuts the band of one level: band pixels are joined to their band
// neighbours by n-links, and to a terminal by a t-link that sums the links to
// their neighbours outside the band (whose labels stay), the photo's outside
// when it stands for the remove marks, and the marks as hard constraints.
// Writes the labels of the band pixels; false when cancelled.
bool cutBand(Level &level, const PhotoGrey *photo, const Band &band, bool outsideRemoves,
             const std::atomic_bool *cancel)
{
    const uint32_t n = band.vertices;
    if (n == 0)
        return !cancelled(cancel);
    const std::array<int32_t, 256> weights = linkWeights(level, photo);
    std::vector<uint8_t> links(n);
    std::vector<uint8_t> rightWeight(n);
    std::vector<uint8_t> downWeight(n);
    std::vector<uint32_t> up(n);
    std::vector<uint32_t> down(n);
    std::vector<int32_t> terminal(n);

    GreyRows rows(level, photo);
    const auto weight = [&weights](int a, int b) { return weights[size_t(std::abs(a - b))]; };
    for (int y = 0; y < level.height; ++y) {
        if (y % rowsBetweenChecks == 0 && cancelled(cancel))
            return false;
        const uint32_t firstRun = band.rowStart[size_t(y)];
        const uint32_t endRun = band.rowStart[size_t(y) + 1];
        if (firstRun == endRun)
            continue;
        const uint8_t *above = y > 0 ? rows.row(y - 1) : nullptr;
        const uint8_t *row = rows.row(y);
        const uint8_t *below = y + 1 < level.height ? rows.row(y + 1) : nullptr;
        const uint8_t *mapAbove = y > 0 ? level.mapRow(y - 1) : nullptr;
        const uint8_t *map = level.mapRow(y);
        const uint8_t *mapBelow = below ? level.mapRow(y + 1) : nullptr;
        uint32_t upRun = y > 0 ? band.rowStart[size_t(y) - 1] : 0;
        const uint32_t upEnd = firstRun;
        uint32_t downRun = endRun;
        const uint32_t downEnd = below ? band.rowStart[size_t(y) + 2] : endRun;
        // The label of a neighbour outside the band pulls toward its side.
        const auto held = [](uint8_t label, int32_t w) { return (label & Inside) ? w : -w; };

        for (uint32_t r = firstRun; r < endRun; ++r) {
            const Run &run = band.runs[r];
            for (int x = run.left; x <= run.right; ++x) {
                const uint32_t v = run.first + uint32_t(x - run.left);
                uint8_t mask = 0;
                int32_t pull = 0;
                if (x > 0) {
                    if (x > run.left)
                        mask |= LinkLeft;
                    else
                        pull += held(map[x - 1], weight(row[x], row[x - 1]));
                } else if (outsideRemoves) {
                    pull -= flatWeight;
                }
                if (x + 1 < level.width) {
                    const int32_t w = weight(row[x], row[x + 1]);
                    if (x < run.right) {
                        mask |= LinkRight;
                        rightWeight[v] = uint8_t(w);
                    } else {
                        pull += held(map[x + 1], w);
                    }
                } else if (outsideRemoves) {
                    pull -= flatWeight;
                }
                if (above) {
                    while (upRun < upEnd && band.runs[upRun].right < x)
                        ++upRun;
                    if (upRun < upEnd && band.runs[upRun].left <= x) {
                        mask |= LinkUp;
                        up[v] = band.runs[upRun].first + uint32_t(x - band.runs[upRun].left);
                    } else {
                        pull += held(mapAbove[x], weight(row[x], above[x]));
                    }
                } else if (outsideRemoves) {
                    pull -= flatWeight;
                }
                if (below) {
                    const int32_t w = weight(row[x], below[x]);
                    while (downRun < downEnd && band.runs[downRun].right < x)
                        ++downRun;
                    if (downRun < downEnd && band.runs[downRun].left <= x) {
                        mask |= LinkDown;
                        down[v] = band.runs[downRun].first + uint32_t(x - band.runs[downRun].left);
                        downWeight[v] = uint8_t(w);
                    } else {
                        pull += held(mapBelow[x], w);
                    }
                } else if (outsideRemoves) {
                    pull -= flatWeight;
                }
                if (map[x] & RemoveSeed)
                    pull = -hardLink;
                else if (map[x] & KeepSeed)
                    pull = hardLink;
                links[v] = mask;
                terminal[v] = pull;
            }
        }
    }

    // Edges in the order of their source vertex: each pixel's links (left,
    // right, up, down, terminal), then the source's, then the sink's.
    const uint32_t source = n;
    const uint32_t sink = n + 1;
    std::vector<uint32_t> offsets(size_t(n) + 3, 0);
    uint32_t sources = 0;
    uint32_t sinks = 0;
    for (uint32_t v = 0; v < n; ++v) {
        offsets[v + 1] = offsets[v] + uint32_t(__builtin_popcount(links[v])) + (terminal[v] != 0);
        sources += terminal[v] > 0;
        sinks += terminal[v] < 0;
    }
    offsets[size_t(n) + 1] = offsets[n] + sources;
    offsets[size_t(n) + 2] = offsets[size_t(n) + 1] + sinks;
    const uint32_t edges = offsets[size_t(n) + 2];

    std::vector<uint32_t> targets(edges);
    std::vector<int32_t> capacity(edges);
    std::vector<uint32_t> reverse(edges);
    const auto slot = [&](uint32_t v, uint8_t link) {
        return offsets[v] + uint32_t(__builtin_popcount(links[v] & (link - 1)));
    };
    uint32_t sourceEdge = offsets[source];
    uint32_t sinkEdge = offsets[sink];
    for (uint32_t v = 0; v < n; ++v) {
        uint32_t e = offsets[v];
        const uint8_t mask = links[v];
        if (mask & LinkLeft) {
            targets[e] = v - 1;
            capacity[e] = rightWeight[v - 1];
            reverse[e++] = slot(v - 1, LinkRight);
        }
        if (mask & LinkRight) {
            targets[e] = v + 1;
            capacity[e] = rightWeight[v];
            reverse[e++] = slot(v + 1, LinkLeft);
        }
        if (mask & LinkUp) {
            targets[e] = up[v];
            capacity[e] = downWeight[up[v]];
            reverse[e++] = slot(up[v], LinkDown);
        }
        if (mask & LinkDown) {
            targets[e] = down[v];
            capacity[e] = downWeight[v];
            reverse[e++] = slot(down[v], LinkUp);
        }
        if (terminal[v] > 0) {
            targets[e] = source;
            capacity[e] = 0;
            reverse[e] = sourceEdge;
            targets[sourceEdge] = v;
            capacity[sourceEdge] = terminal[v];
            reverse[sourceEdge++] = e;
        } else if (terminal[v] < 0) {
            targets[e] = sink;
            capacity[e] = -terminal[v];
            reverse[e] = sinkEdge;
            targets[sinkEdge] = v;
            capacity[sinkEdge] = 0;
            reverse[sinkEdge++] = e;
        }
    }
    // Only the up links are needed from here on, to write the labels back.
    std::vector<uint8_t>().swap(rightWeight);
    std::vector<uint8_t>().swap(downWeight);
    std::vector<uint32_t>().swap(up);
    std::vector<uint32_t>().swap(down);
    std::vector<int32_t>().swap(terminal);
    std::vector<uint8_t>().swap(links);
    if (cancelled(cancel))
        return false;

    Graph graph(boost::edges_are_sorted, EdgePairs(offsets, targets, 0), EdgePairs(offsets, targets, edges), n + 2,
                edges);
    std::vector<uint32_t>().swap(targets);
    std::vector<uint32_t>().swap(offsets);

    // The capacities are only read to start the residuals, so the residuals
    // start as the capacities themselves; a reverse edge starts where its
    // edge ends. Both save memory that grows with the cut.
    const auto edgeIndex = get(boost::edge_index, graph);
    const auto vertexIndex = get(boost::vertex_index, graph);
    const auto residual = boost::make_iterator_property_map(capacity.begin(), edgeIndex);
    const auto reverseEdge = boost::make_function_property_map<Edge>(
        [&graph, &reverse](const Edge &e) { return Edge(boost::target(e, graph), reverse[e.idx]); });
    std::vector<Edge> predecessor(size_t(n) + 2);
    std::vector<boost::default_color_type> colour(size_t(n) + 2);
    std::vector<int32_t> distance(size_t(n) + 2);
    boost::boykov_kolmogorov_max_flow(graph, residual, residual, reverseEdge,
                                      boost::make_iterator_property_map(predecessor.begin(), vertexIndex),
                                      boost::make_iterator_property_map(colour.begin(), vertexIndex),
                                      boost::make_iterator_property_map(distance.begin(), vertexIndex), vertexIndex,
                                      source, sink);

    // Pixels left in neither search tree could go either way at the same
    // cost; they go to the remove side, which keeps the region smallest.
    for (const Run &run : band.runs) {
        uint8_t *map = level.mapRow(run.y);
        for (int x = run.left; x <= run.right; ++x) {
            const bool inside = colour[run.first + uint32_t(x - run.left)] == boost::black_color;
            map[x] = inside ? (map[x] | Inside) : (map[x] & ~Inside);
        }
    }
    return true;
}

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

// The band of the next finer level: the pixels within one pixel of this
// level's boundary, and around any mark whose side disagrees with this
// level's labels. Returned as runs of the finer level.
Band finerBand(Level &coarse, const std::vector<Seed> &seeds, int coarseShift, int fineWidth, int fineHeight)
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
            for (int yy = std::max(0, y - 1); yy <= std::min(h - 1, y + 1); ++yy) {
                uint8_t *r = coarse.mapRow(yy);
                for (int xx = std::max(0, x - 1); xx <= std::min(w - 1, x + 1); ++xx)
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
        const uint8_t *parent = coarse.map.data() + size_t(y / 2) * size_t(coarse.width);
        uint8_t *row = fine.mapRow(y);
        for (int x = 0; x < fine.width; ++x)
            row[x] = parent[x / 2] & Inside;
    }
}

// Whether the cut found runs along edges: the mean weight of the links it
// crosses inside the photo, against a flat link.
bool followsEdge(Level &level, const PhotoGrey *photo)
{
    const std::array<int32_t, 256> weights = linkWeights(level, photo);
    GreyRows rows(level, photo);
    double crossed = 0;
    double count = 0;
    for (int y = 0; y < level.height; ++y) {
        const uint8_t *grey = rows.row(y);
        const uint8_t *greyBelow = y + 1 < level.height ? rows.row(y + 1) : nullptr;
        const uint8_t *row = level.mapRow(y);
        const uint8_t *below = greyBelow ? level.mapRow(y + 1) : nullptr;
        for (int x = 0; x < level.width; ++x) {
            if (x + 1 < level.width && ((row[x] ^ row[x + 1]) & Inside)) {
                crossed += weights[size_t(std::abs(grey[x] - grey[x + 1]))];
                ++count;
            }
            if (below && ((row[x] ^ below[x]) & Inside)) {
                crossed += weights[size_t(std::abs(grey[x] - greyBelow[x]))];
                ++count;
            }
        }
    }
    return count > 0 && crossed / (count * flatWeight) <= edgeShare;
}

// The pixels 4-connected to a keep mark within the region, as spans.
RowSpans reachedSpans(Level &level, const std::vector<Seed> &seeds)
{
    const int w = level.width;
    std::vector<std::pair<int, int>> stack;
    const auto open = [](uint8_t m) { return (m & Inside) && !(m & Reached); };
    int top = level.height;
    int bottom = -1;
    for (const Seed &seed : seeds) {
        if (!seed.keep || !open(level.mapRow(seed.y)[seed.x]))
            continue;
        stack.emplace_back(seed.x, seed.y);
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
            top = std::min(top, y);
            bottom = std::max(bottom, y);
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

    RowSpans spans;
    for (int y = top; y <= bottom; ++y) {
        const uint8_t *row = level.mapRow(y);
        for (int x = 0; x < w; ++x) {
            if (!(row[x] & Reached))
                continue;
            const int left = x;
            while (x + 1 < w && (row[x + 1] & Reached))
                ++x;
            spans.append({y, left, x});
        }
    }
    return spans;
}

ReferenceFill::Result fill(const QImage &photo, const QList<QPoint> &keepMarks, const QList<QPoint> &removeMarks,
                           const std::atomic_bool *cancel, const ReferenceFill::Progress &progress, qint64 cutPixels)
{
    using Outcome = ReferenceFill::Outcome;
    const QRect bounds = photo.rect();
    std::vector<Seed> seeds;
    std::vector<quint64> removed;
    for (const QPoint &p : removeMarks) {
        if (bounds.contains(p)) {
            seeds.push_back({p.x(), p.y(), false});
            removed.push_back(quint64(p.y()) << 32 | quint32(p.x()));
        }
    }
    std::sort(removed.begin(), removed.end());
    bool anyKeep = false;
    for (const QPoint &p : keepMarks) {
        if (bounds.contains(p)
            && !std::binary_search(removed.begin(), removed.end(), quint64(p.y()) << 32 | quint32(p.x()))) {
            seeds.push_back({p.x(), p.y(), true});
            anyKeep = true;
        }
    }
    if (!anyKeep)
        return {Outcome::NoKeepMark, {}};
    const bool outsideRemoves = removed.empty();
    std::vector<quint64>().swap(removed);

    const auto report = [&progress](int percent) {
        if (progress)
            progress(percent);
    };
    const PhotoGrey photoGrey(photo);

    // Level 0 is the photo; each further level halves it, up to the first
    // that is small enough to cut whole.
    std::vector<Level> levels(1);
    levels[0].width = photo.width();
    levels[0].height = photo.height();
    while (qint64(levels.back().width) * levels.back().height > std::max<qint64>(cutPixels, 1)) {
        const Level &last = levels.back();
        if (levels.size() == 1) {
            // Rows are asked for in pairs, even then odd, so two buffers do.
            std::vector<uint8_t> even(size_t(last.width));
            std::vector<uint8_t> odd(size_t(last.width));
            Level next = halved(last.width, last.height, [&](int y) -> const uint8_t * {
                std::vector<uint8_t> &buffer = (y & 1) ? odd : even;
                photoGrey.row(y, buffer.data());
                return buffer.data();
            });
            levels.push_back(std::move(next));
        } else {
            const int width = last.width;
            const uint8_t *grey = last.grey.data();
            Level next =
                halved(last.width, last.height, [grey, width](int y) { return grey + size_t(y) * size_t(width); });
            levels.push_back(std::move(next));
        }
        if (cancelled(cancel))
            return {Outcome::Cancelled, {}};
    }
    report(10);

    const int topIndex = int(levels.size()) - 1;
    Level &top = levels.back();
    const PhotoGrey *topPhoto = topIndex == 0 ? &photoGrey : nullptr;
    top.map.assign(size_t(top.width) * size_t(top.height), 0);
    placeSeeds(top, seeds, topIndex);
    if (!cutBand(top, topPhoto, wholeLevel(top), outsideRemoves, cancel))
        return {Outcome::Cancelled, {}};
    if (outsideRemoves && !followsEdge(top, topPhoto))
        return {Outcome::NoEdgeToStopAt, {}};
    report(10 + 80 / (topIndex + 1));

    for (int i = topIndex - 1; i >= 0; --i) {
        Level &coarse = levels[size_t(i) + 1];
        Level &fine = levels[size_t(i)];
        const Band band = finerBand(coarse, seeds, i + 1, fine.width, fine.height);
        inheritLabels(fine, coarse);
        std::vector<uint8_t>().swap(coarse.map);
        std::vector<uint8_t>().swap(coarse.grey);
        placeSeeds(fine, seeds, i);
        if (cancelled(cancel) || !cutBand(fine, i == 0 ? &photoGrey : nullptr, band, outsideRemoves, cancel))
            return {Outcome::Cancelled, {}};
        report(10 + 80 * (topIndex - i + 1) / (topIndex + 1));
    }

    RowSpans spans = reachedSpans(levels[0], seeds);
    report(100);
    if (spans.isEmpty())
        return {Outcome::NoKeepMark, {}};
    return {Outcome::Filled, std::move(spans)};
}

} // namespace

ReferenceFill::Result ReferenceFill::compute(const QImage &photo, const QList<QPoint> &keepMarks,
                                             const QList<QPoint> &removeMarks, const std::atomic_bool *cancel,
                                             const Progress &progress, qint64 cutPixels)
{
    // Every allocation here is sized by the photo; a photo too large for the
    // memory left ends the fill cleanly rather than the program.
    try {
        return fill(photo, keepMarks, removeMarks, cancel, progress, cutPixels);
    } catch (const std::bad_alloc &) {
        return {Outcome::OutOfMemory, {}};
    }
}

QString ReferenceFill::outcomeText(Outcome outcome)
{
    switch (outcome) {
    case Outcome::Filled:
        return QCoreApplication::translate("ReferenceFill", "Filled the marked area");
    case Outcome::NoKeepMark:
        return QCoreApplication::translate("ReferenceFill", "Nothing to fill: put a keep mark inside the area first");
    case Outcome::NoEdgeToStopAt:
        return QCoreApplication::translate("ReferenceFill", "No edge to stop at: put a remove mark outside the area");
    case Outcome::Cancelled:
        return QCoreApplication::translate("ReferenceFill", "Fill cancelled");
    case Outcome::OutOfMemory:
        return QCoreApplication::translate("ReferenceFill", "Not enough memory to fill this area");
    }
    return {};
}
