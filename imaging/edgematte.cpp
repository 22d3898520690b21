#include "imaging/edgematte.h"

#include "imaging/inbands.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace {

constexpr int tileSide = 32;

// Fewer tiles, or rows, than these are not worth a thread of their own.
constexpr int tilesPerBand = 16;
constexpr int rowsPerBand = 256;

// The guided filter's window radius and its regularisation, in grey levels
// squared: a step of less than about 25 grey levels across the window is
// smoothed as noise, a larger one is followed.
constexpr int radius = 2;
constexpr double epsilon = 25.0 * 25.0;

struct Tile {
    int x0 = 0;
    int y0 = 0;
    std::vector<uint8_t> coverage; // tileSide x tileSide
};

// The coverage of one tile's pixels, from the tile and a margin around it.
class TileMatte
{
public:
    TileMatte(const TextureFeatures::Plane &grey, const uint8_t *labels, std::ptrdiff_t stride, uint8_t bit,
              uint8_t excludedBit, int band, int x0, int y0)
        : grey(grey)
        , band(band)
        , x0(x0)
        , y0(y0)
    {
        const int margin = band + 2 * radius;
        left = std::max(0, x0 - margin);
        top = std::max(0, y0 - margin);
        right = std::min(grey.width - 1, x0 + tileSide - 1 + margin);
        bottom = std::min(grey.height - 1, y0 + tileSide - 1 + margin);
        w = right - left + 1;
        h = bottom - top + 1;
        inside.resize(size_t(w) * size_t(h));
        excluded.resize(size_t(w) * size_t(h));
        for (int y = 0; y < h; ++y) {
            const uint8_t *row = labels + std::ptrdiff_t(top + y) * stride;
            for (int x = 0; x < w; ++x) {
                inside[index(x, y)] = (row[left + x] & bit) != 0;
                excluded[index(x, y)] = !inside[index(x, y)] && (row[left + x] & excludedBit);
            }
        }
        measureDistances();
    }

    void write(Tile &tile)
    {
        tile.coverage.assign(size_t(tileSide) * tileSide, 0);
        const int tileRight = std::min(grey.width - 1, x0 + tileSide - 1);
        const int tileBottom = std::min(grey.height - 1, y0 + tileSide - 1);
        a.assign(inside.size(), 0);
        b.assign(inside.size(), 0);
        known.assign(inside.size(), 0);
        cover.assign(inside.size(), -1);
        for (int y = y0; y <= tileBottom; ++y)
            for (int x = x0; x <= tileRight; ++x)
                tile.coverage[size_t(y - y0) * tileSide + size_t(x - x0)] = uint8_t(coverageAt(x - left, y - top));
    }

private:
    size_t index(int x, int y) const { return size_t(y) * size_t(w) + size_t(x); }

    // Manhattan distance to the nearest pixel of the other side, up to
    // band + 1, by two chamfer passes.
    void measureDistances()
    {
        const uint8_t far = uint8_t(band + 1);
        distance.assign(inside.size(), far);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const uint8_t side = inside[index(x, y)];
                const bool edge = (x > 0 && inside[index(x - 1, y)] != side)
                    || (x + 1 < w && inside[index(x + 1, y)] != side) || (y > 0 && inside[index(x, y - 1)] != side)
                    || (y + 1 < h && inside[index(x, y + 1)] != side);
                if (edge)
                    distance[index(x, y)] = 1;
            }
        const auto relax = [this](int x, int y, int nx, int ny) {
            if (nx < 0 || ny < 0 || nx >= w || ny >= h || inside[index(nx, ny)] != inside[index(x, y)])
                return;
            uint8_t &d = distance[index(x, y)];
            d = std::min<uint8_t>(d, uint8_t(std::min<int>(band + 1, distance[index(nx, ny)] + 1)));
        };
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                relax(x, y, x - 1, y);
                relax(x, y, x, y - 1);
            }
        for (int y = h - 1; y >= 0; --y)
            for (int x = w - 1; x >= 0; --x) {
                relax(x, y, x + 1, y);
                relax(x, y, x, y + 1);
            }
    }

    // The guided filter's linear coefficients for the window around a pixel,
    // from exact integer sums.
    void coefficients(int x, int y)
    {
        const size_t i = index(x, y);
        if (known[i])
            return;
        int64_t n = 0;
        int64_t sumI = 0;
        int64_t sumP = 0;
        int64_t sumII = 0;
        int64_t sumIP = 0;
        for (int yy = std::max(0, y - radius); yy <= std::min(h - 1, y + radius); ++yy) {
            const uint8_t *row = grey.row(top + yy);
            for (int xx = std::max(0, x - radius); xx <= std::min(w - 1, x + radius); ++xx) {
                const int64_t g = row[left + xx];
                const int64_t p = inside[index(xx, yy)];
                ++n;
                sumI += g;
                sumP += p;
                sumII += g * g;
                sumIP += g * p;
            }
        }
        const double nn = double(n);
        const double coefficient =
            double(n * sumIP - sumI * sumP) / (double(n * sumII - sumI * sumI) + nn * nn * epsilon);
        a[i] = coefficient;
        b[i] = (double(sumP) - coefficient * double(sumI)) / nn;
        known[i] = 1;
    }

    double filtered(int x, int y)
    {
        double sumA = 0;
        double sumB = 0;
        int n = 0;
        for (int yy = std::max(0, y - radius); yy <= std::min(h - 1, y + radius); ++yy)
            for (int xx = std::max(0, x - radius); xx <= std::min(w - 1, x + radius); ++xx) {
                coefficients(xx, yy);
                sumA += a[index(xx, yy)];
                sumB += b[index(xx, yy)];
                ++n;
            }
        return (sumA * grey.at(left + x, top + y) + sumB) / n;
    }

    int coverageAt(int x, int y)
    {
        const size_t i = index(x, y);
        if (cover[i] >= 0)
            return cover[i];
        const bool in = inside[i] != 0;
        int c = in ? 255 : 0;
        if (distance[i] <= band && !excluded[i]) {
            c = int(std::lround(std::clamp(filtered(x, y), 0.0, 1.0) * 255));
            if (in) {
                c = std::max(c, 1);
            } else {
                // No more than the most covered neighbour one step nearer the
                // region: coverage outside never rises away from it.
                int nearer = 0;
                const int d = distance[i];
                const int steps[4][2] = {{-1, 0}, {1, 0}, {0, -1}, {0, 1}};
                for (const auto &s : steps) {
                    const int nx = x + s[0];
                    const int ny = y + s[1];
                    if (nx < 0 || ny < 0 || nx >= w || ny >= h)
                        continue;
                    const size_t j = index(nx, ny);
                    if (inside[j] || distance[j] == d - 1)
                        nearer = std::max(nearer, inside[j] && distance[j] > band ? 255 : coverageAt(nx, ny));
                }
                c = std::min(c, nearer);
            }
        }
        cover[i] = int16_t(c);
        return c;
    }

    const TextureFeatures::Plane &grey;
    int band;
    int x0;
    int y0;
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    int w = 0;
    int h = 0;
    std::vector<uint8_t> inside;
    std::vector<uint8_t> excluded;
    std::vector<uint8_t> distance;
    std::vector<double> a;
    std::vector<double> b;
    std::vector<uint8_t> known;
    std::vector<int16_t> cover;
};

} // namespace

CoverageSpans EdgeMatte::soften(const TextureFeatures::Plane &grey, const uint8_t *labels, std::ptrdiff_t labelStride,
                                uint8_t insideBit, uint8_t excludedBit, int band)
{
    const int width = grey.width;
    const int height = grey.height;
    const int tilesX = (width + tileSide - 1) / tileSide;
    const int tilesY = (height + tileSide - 1) / tileSide;
    band = std::clamp(band, 0, 8);

    // Tiles within reach of a boundary pixel.
    std::vector<int32_t> tileIndex(size_t(tilesX) * size_t(tilesY), -1);
    std::vector<uint8_t> wanted(tileIndex.size(), 0);
    const auto isIn = [&](int x, int y) { return (labels[std::ptrdiff_t(y) * labelStride + x] & insideBit) != 0; };
    for (int y = 0; y < height && band > 0; ++y) {
        for (int x = 0; x < width; ++x) {
            const bool in = isIn(x, y);
            const bool edge = (x + 1 < width && isIn(x + 1, y) != in) || (y + 1 < height && isIn(x, y + 1) != in);
            if (!edge)
                continue;
            for (int ty = std::max(0, (y - band - 1) / tileSide); ty <= std::min(tilesY - 1, (y + band + 1) / tileSide);
                 ++ty)
                for (int tx = std::max(0, (x - band - 1) / tileSide);
                     tx <= std::min(tilesX - 1, (x + band + 1) / tileSide); ++tx)
                    wanted[size_t(ty) * size_t(tilesX) + size_t(tx)] = 1;
        }
    }
    std::vector<Tile> tiles;
    for (int ty = 0; ty < tilesY; ++ty)
        for (int tx = 0; tx < tilesX; ++tx) {
            if (!wanted[size_t(ty) * size_t(tilesX) + size_t(tx)])
                continue;
            Tile tile;
            tile.x0 = tx * tileSide;
            tile.y0 = ty * tileSide;
            tileIndex[size_t(ty) * size_t(tilesX) + size_t(tx)] = int32_t(tiles.size());
            tiles.push_back(std::move(tile));
        }
    // Each tile reads the photo and the labels only: a long boundary's
    // tiles are shared among the cores.
    InBands::run(
        int(tiles.size()),
        [&](int first, int end) {
            for (int t = first; t < end; ++t) {
                Tile &tile = tiles[size_t(t)];
                TileMatte(grey, labels, labelStride, insideBit, excludedBit, band, tile.x0, tile.y0).write(tile);
            }
        },
        tilesPerBand);

    // The rows as spans, in bands of rows joined in order.
    const auto spansOf = [&](int first, int end, CoverageSpans &region) {
        std::vector<uint8_t> row(static_cast<size_t>(width));
        for (int y = first; y < end; ++y) {
            const int ty = y / tileSide;
            for (int x = 0; x < width; ++x) {
                const int32_t t = tileIndex[size_t(ty) * size_t(tilesX) + size_t(x / tileSide)];
                row[size_t(x)] = t >= 0
                    ? tiles[size_t(t)].coverage[size_t(y - ty * tileSide) * tileSide + size_t(x % tileSide)]
                    : (isIn(x, y) ? 255 : 0);
            }
            for (int x = 0; x < width; ++x) {
                if (row[size_t(x)] == 0)
                    continue;
                const bool whole = row[size_t(x)] == CoverageSpans::full;
                const int start = x;
                while (x + 1 < width && row[size_t(x) + 1] != 0 && (row[size_t(x) + 1] == CoverageSpans::full) == whole)
                    ++x;
                if (whole)
                    region.appendFull({y, start, x});
                else
                    region.append({y, start, x}, row.data() + start);
            }
        }
    };
    std::vector<CoverageSpans> parts(static_cast<size_t>(InBands::bandsFor(height, rowsPerBand)));
    InBands::runNumbered(
        height, [&](int band, int first, int end) { spansOf(first, end, parts[size_t(band)]); }, rowsPerBand);
    CoverageSpans region = std::move(parts[0]);
    for (size_t b = 1; b < parts.size(); ++b)
        region.append(parts[b]);
    return region;
}
