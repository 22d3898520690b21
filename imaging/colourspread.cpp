#include "imaging/colourspread.h"

#include "imaging/inbands.h"

#include <QCoreApplication>

#include <Eigen/Dense>

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>
#include <new>
#include <utility>

namespace {

// Luminance weights, the W3C compositing Lum.
constexpr float lumRed = 0.3f;
constexpr float lumGreen = 0.59f;
constexpr float lumBlue = 0.11f;

// The weight constants: the window's variance is scaled by 0.6; the most
// similar neighbour weighs at least 0.01 (exp(-ln 100)); the width never
// falls below 2e-6 on the 0-1 scale.
constexpr float varianceShare = 0.6f;
constexpr float lnHundred = 4.6051702f;
constexpr float smallestWidth = 2e-6f * 255.0f * 255.0f;

// The aggregation's piecewise constant interpolation undershoots smooth
// error; its correction is scaled up by a fixed factor (a fixed one keeps the
// preconditioner linear, as BiCGSTAB needs). 1.5 took the far end of a
// uniform sky to the exact solution's colour in 20 steps where 1 needed 60.
constexpr float overCorrection = 1.5f;

// The solve stops when the residual has fallen by this factor.
constexpr double solveTolerance = 1e-4;

// Symmetric Gauss-Seidel sweeps at each level of the cascade.
constexpr int cascadeSweeps = 2;

// Levels of at most this many cells are solved directly.
constexpr int directCells = 256;

// Cancelling is checked this often while a level is worked on.
constexpr int rowsBetweenChecks = 32;

bool cancelled(const std::atomic_bool *cancel)
{
    return cancel && cancel->load(std::memory_order_relaxed);
}

struct Cancelled {
};

void check(const std::atomic_bool *cancel)
{
    if (cancelled(cancel))
        throw Cancelled();
}

// exp(-t) for t >= 0, from a table with linear interpolation (relative error
// below 1e-4): the weights need eight of these per pixel and sweep.
class NegExp
{
public:
    static constexpr int perUnit = 64;
    static constexpr int units = 32;

    NegExp()
    {
        for (int i = 0; i <= perUnit * units + 1; ++i)
            table[size_t(i)] = float(std::exp(-double(i) / perUnit));
    }

    float operator()(float t) const
    {
        const float s = t * perUnit;
        if (!(s < float(perUnit * units)))
            return table[perUnit * units];
        const int i = int(s);
        const float f = s - float(i);
        return table[size_t(i)] + f * (table[size_t(i) + 1] - table[size_t(i)]);
    }

private:
    std::array<float, perUnit * units + 2> table{};
};

const NegExp &negExp()
{
    static const NegExp table;
    return table;
}

// Neighbours in the order the operator stores them.
constexpr int dxOf[8] = {-1, 0, 1, -1, 1, -1, 0, 1};
constexpr int dyOf[8] = {-1, -1, -1, 0, 0, 1, 1, 1};

// The normalised weights of cell x on a row, from the rows above and below
// (null outside the level). Absent neighbours get weight 0.
void levinWeights(const float *above, const float *row, const float *below, int x, int width, float w[8])
{
    if (above && below && x > 0 && x + 1 < width) {
        // Inside the level, the common case: no neighbour is missing.
        const float c = row[x];
        const float v[8] = {above[x - 1], above[x],     above[x + 1], row[x - 1],
                            row[x + 1],   below[x - 1], below[x],     below[x + 1]};
        float sum = c;
        float closest = std::numeric_limits<float>::max();
        float diff2[8];
        for (int d = 0; d < 8; ++d) {
            sum += v[d];
            diff2[d] = (v[d] - c) * (v[d] - c);
            closest = std::min(closest, diff2[d]);
        }
        const float mean = sum * (1.0f / 9.0f);
        float variance = (c - mean) * (c - mean);
        for (int d = 0; d < 8; ++d)
            variance += (v[d] - mean) * (v[d] - mean);
        variance *= 1.0f / 9.0f;
        const float width2 = std::max({varianceShare * variance, smallestWidth, closest / lnHundred});
        const float inverse = 1.0f / width2;
        const NegExp &e = negExp();
        float total = 0;
        for (int d = 0; d < 8; ++d) {
            w[d] = e(diff2[d] * inverse);
            total += w[d];
        }
        const float scale = 1.0f / total;
        for (int d = 0; d < 8; ++d)
            w[d] *= scale;
        return;
    }
    const float c = row[x];
    const float *rows[3] = {above, row, below};
    float values[8];
    bool present[8];
    float sum = c;
    int count = 1;
    for (int d = 0; d < 8; ++d) {
        const float *r = rows[dyOf[d] + 1];
        const int nx = x + dxOf[d];
        present[d] = r && nx >= 0 && nx < width;
        values[d] = present[d] ? r[nx] : c;
        if (present[d]) {
            sum += values[d];
            ++count;
        }
    }
    const float mean = sum / float(count);
    float variance = (c - mean) * (c - mean);
    float closest = std::numeric_limits<float>::max();
    for (int d = 0; d < 8; ++d) {
        if (!present[d])
            continue;
        variance += (values[d] - mean) * (values[d] - mean);
        closest = std::min(closest, (values[d] - c) * (values[d] - c));
    }
    variance /= float(count);
    float width2 = std::max(varianceShare * variance, smallestWidth);
    if (count > 1)
        width2 = std::max(width2, closest / lnHundred);
    const NegExp &e = negExp();
    const float inverse = 1.0f / width2;
    float total = 0;
    for (int d = 0; d < 8; ++d) {
        w[d] = present[d] ? e((values[d] - c) * (values[d] - c) * inverse) : 0.0f;
        total += w[d];
    }
    if (total > 0)
        for (int d = 0; d < 8; ++d)
            w[d] /= total;
}

// The photo's luminance, row by row, read in place for the formats photos
// come in, so that no full-size copy is made for them.
class PhotoLuma
{
public:
    explicit PhotoLuma(const QImage &photo)
        : image(photo)
    {
        if (image.format() == QImage::Format_Indexed8) {
            const QList<QRgb> table = image.colorTable();
            for (int i = 0; i < int(palette.size()); ++i)
                palette[size_t(i)] = i < table.size() ? float(ColourSpread::luminance(table[i])) : 0.0f;
        } else if (!ColourSpread::readsInPlace(image.format())) {
            image = image.convertToFormat(image.depth() > 32 ? QImage::Format_RGBX64 : QImage::Format_RGB32);
            if (image.isNull())
                throw std::bad_alloc();
        }
    }

    int width() const { return image.width(); }
    int height() const { return image.height(); }

    void row(int y, float *out) const
    {
        const uchar *line = image.constScanLine(y);
        const int w = image.width();
        switch (image.format()) {
        case QImage::Format_Grayscale8:
            for (int x = 0; x < w; ++x)
                out[x] = float(line[x]);
            break;
        case QImage::Format_Grayscale16: {
            const auto *p = reinterpret_cast<const quint16 *>(line);
            for (int x = 0; x < w; ++x)
                out[x] = float(p[x]) * (1.0f / 257.0f);
            break;
        }
        case QImage::Format_Indexed8:
            for (int x = 0; x < w; ++x)
                out[x] = palette[line[x]];
            break;
        case QImage::Format_RGB888:
            for (int x = 0; x < w; ++x, line += 3)
                out[x] = lumRed * line[0] + lumGreen * line[1] + lumBlue * line[2];
            break;
        case QImage::Format_RGBX64:
        case QImage::Format_RGBA64:
        case QImage::Format_RGBA64_Premultiplied: {
            const auto *p = reinterpret_cast<const quint16 *>(line);
            for (int x = 0; x < w; ++x, p += 4)
                out[x] = (lumRed * p[0] + lumGreen * p[1] + lumBlue * p[2]) * (1.0f / 257.0f);
            break;
        }
        default: {
            const auto *p = reinterpret_cast<const QRgb *>(line);
            for (int x = 0; x < w; ++x)
                out[x] = lumRed * qRed(p[x]) + lumGreen * qGreen(p[x]) + lumBlue * qBlue(p[x]);
        }
        }
    }

private:
    QImage image;
    std::array<float, 256> palette{};
};

// One bit per cell.
struct Bits {
    std::vector<uint64_t> words;

    void resize(size_t n) { words.assign((n + 63) / 64, 0); }
    bool test(size_t i) const { return (words[i >> 6] >> (i & 63)) & 1u; }
    void set(size_t i) { words[i >> 6] |= uint64_t(1) << (i & 63); }
};

struct MarkCell {
    uint32_t index;
    float red;
    float blue;
};

// The brightness and marks of one level. Level 0's brightness is not kept:
// its rows are read from the photo when needed.
struct Level {
    int width = 0;
    int height = 0;
    std::vector<float> grey;
    std::vector<MarkCell> marks; // by index, one per marked cell
    Bits marked;

    size_t cells() const { return size_t(width) * size_t(height); }
};

// Rows of a level's brightness: the stored rows, or at level 0 the photo's,
// of which the last four are kept.
class GreyRows
{
public:
    GreyRows(const Level &level, const PhotoLuma *photo)
        : level(level)
        , photo(photo)
    {
        if (photo)
            for (Slot &slot : buffers)
                slot.data.resize(size_t(level.width));
    }

    const float *row(int y)
    {
        if (y < 0 || y >= level.height)
            return nullptr;
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
        std::vector<float> data;
    };
    const Level &level;
    const PhotoLuma *photo;
    std::array<Slot, 4> buffers;
};

// Fewer rows than this are not worth a thread of their own.
constexpr int rowsPerBand = 64;

// The next level's brightness: each cell the mean of the (up to four) cells
// it covers. In bands of rows on all cores: at full resolution this reads the
// whole photo.
std::vector<float> halvedGrey(const Level &fine, const PhotoLuma *photo, const std::atomic_bool *cancel)
{
    const int width = fine.width;
    const int hw = (width + 1) / 2;
    const int hh = (fine.height + 1) / 2;
    std::vector<float> half(size_t(hw) * size_t(hh));
    InBands::run(
        hh,
        [&](int first, int last) {
            GreyRows rows(fine, photo);
            for (int y = first; y < last; ++y) {
                if (y % rowsBetweenChecks == 0)
                    check(cancel);
                const float *a = rows.row(2 * y);
                const float *b = rows.row(2 * y + 1);
                float *out = half.data() + size_t(y) * size_t(hw);
                for (int x = 0; x < hw; ++x) {
                    const bool right = 2 * x + 1 < width;
                    float sum = a[2 * x] + (right ? a[2 * x + 1] : 0.0f);
                    int n = right ? 2 : 1;
                    if (b) {
                        sum += b[2 * x] + (right ? b[2 * x + 1] : 0.0f);
                        n *= 2;
                    }
                    out[x] = sum / float(n);
                }
            }
        },
        rowsPerBand);
    return half;
}

// The marks of the next level: a cell is marked where any cell it covers is,
// with the mean of their chroma.
void halveMarks(const Level &fine, Level &coarse)
{
    coarse.marked.resize(coarse.cells());
    std::vector<std::pair<uint32_t, uint32_t>> order; // (coarse index, fine position)
    order.reserve(fine.marks.size());
    for (uint32_t i = 0; i < fine.marks.size(); ++i) {
        const uint32_t index = fine.marks[i].index;
        const uint32_t x = index % uint32_t(fine.width);
        const uint32_t y = index / uint32_t(fine.width);
        order.emplace_back((y / 2) * uint32_t(coarse.width) + x / 2, i);
    }
    std::sort(order.begin(), order.end());
    coarse.marks.clear();
    for (size_t i = 0; i < order.size();) {
        size_t j = i;
        double red = 0;
        double blue = 0;
        for (; j < order.size() && order[j].first == order[i].first; ++j) {
            red += fine.marks[order[j].second].red;
            blue += fine.marks[order[j].second].blue;
        }
        const double n = double(j - i);
        coarse.marks.push_back({order[i].first, float(red / n), float(blue / n)});
        coarse.marked.set(order[i].first);
        i = j;
    }
}

// A level of the multigrid hierarchy on a grid with a border of one cell, so
// that every cell has its eight neighbours at fixed offsets: per cell the
// eight couplings and the inverse of the diagonal. Fixed cells (marked, or
// aggregates of marked cells only) and the border have no couplings and a
// diagonal of 1, so that the sweeps set them to their right-hand side without
// a test; vectors hold two values per cell, one per chroma channel.
struct Operator {
    int width = 0;
    int height = 0;
    std::vector<float> a;       // 9 per padded cell: couplings by direction, then 1 / diagonal
    std::vector<uint8_t> fixed; // per padded cell, 1 for fixed cells and the border
    std::array<ptrdiff_t, 8> offset{};

    int stride() const { return width + 2; }
    size_t cells() const { return size_t(width + 2) * size_t(height + 2); }
    size_t inner() const { return size_t(width) * size_t(height); }
    size_t at(int x, int y) const { return size_t(y + 1) * size_t(stride()) + size_t(x + 1); }

    void shape(int w, int h)
    {
        width = w;
        height = h;
        a.assign(cells() * 9, 0.0f);
        fixed.assign(cells(), 1);
        for (size_t i = 0; i < cells(); ++i)
            a[i * 9 + 8] = 1.0f;
        for (int d = 0; d < 8; ++d)
            offset[size_t(d)] = ptrdiff_t(dyOf[d]) * stride() + dxOf[d];
    }
};

// The system at the solved level: A x = b over the unmarked cells, with the
// marked neighbours' chroma moved into b; marked cells have b their chroma.
Operator buildOperator(const Level &level, std::vector<float> &b, const std::atomic_bool *cancel)
{
    Operator op;
    op.shape(level.width, level.height);
    b.assign(op.cells() * 2, 0.0f);
    for (const MarkCell &m : level.marks) {
        const size_t i = op.at(int(m.index % uint32_t(level.width)), int(m.index / uint32_t(level.width)));
        b[2 * i] = m.red;
        b[2 * i + 1] = m.blue;
    }
    GreyRows rows(level, nullptr);
    float w[8];
    for (int y = 0; y < level.height; ++y) {
        if (y % rowsBetweenChecks == 0)
            check(cancel);
        for (int x = 0; x < level.width; ++x) {
            const size_t i = op.at(x, y);
            if (level.marked.test(size_t(y) * size_t(level.width) + size_t(x)))
                continue;
            op.fixed[i] = 0;
            levinWeights(rows.row(y - 1), rows.row(y), rows.row(y + 1), x, level.width, w);
            float *a = op.a.data() + i * 9;
            for (int d = 0; d < 8; ++d) {
                if (w[d] == 0.0f)
                    continue;
                if (level.marked.test(size_t(y + dyOf[d]) * size_t(level.width) + size_t(x + dxOf[d]))) {
                    const size_t j = i + size_t(op.offset[size_t(d)]);
                    b[2 * i] += w[d] * b[2 * j];
                    b[2 * i + 1] += w[d] * b[2 * j + 1];
                } else {
                    a[d] = -w[d];
                }
            }
        }
    }
    return op;
}

// The Galerkin operator of 2 x 2 aggregates: P^T A P with P piecewise
// constant on the unfixed cells. The couplings between two aggregates are the
// sums of the couplings between their cells, so a weak line stays weak.
Operator coarsened(const Operator &fine)
{
    Operator coarse;
    coarse.shape((fine.width + 1) / 2, (fine.height + 1) / 2);
    std::vector<double> sums(coarse.cells() * 9, 0.0);
    for (int y = 0; y < fine.height; ++y) {
        for (int x = 0; x < fine.width; ++x) {
            const size_t i = fine.at(x, y);
            if (fine.fixed[i])
                continue;
            const int cx = x / 2;
            const int cy = y / 2;
            const size_t ci = coarse.at(cx, cy);
            coarse.fixed[ci] = 0;
            const float *a = fine.a.data() + i * 9;
            double *ca = sums.data() + ci * 9;
            ca[8] += 1.0 / double(a[8]);
            for (int d = 0; d < 8; ++d) {
                if (a[d] == 0.0f)
                    continue;
                const int ddx = (x + dxOf[d]) / 2 - cx;
                const int ddy = (y + dyOf[d]) / 2 - cy;
                if (ddx == 0 && ddy == 0) {
                    ca[8] += a[d];
                } else {
                    int cd = 0;
                    while (dxOf[cd] != ddx || dyOf[cd] != ddy)
                        ++cd;
                    ca[cd] += a[d];
                }
            }
        }
    }
    for (size_t ci = 0; ci < coarse.cells(); ++ci) {
        if (coarse.fixed[ci])
            continue;
        float *ca = coarse.a.data() + ci * 9;
        for (int d = 0; d < 8; ++d)
            ca[d] = float(sums[ci * 9 + size_t(d)]);
        ca[8] = sums[ci * 9 + 8] > 0 ? float(1.0 / sums[ci * 9 + 8]) : 0.0f;
    }
    return coarse;
}

// One Gauss-Seidel sweep over both chroma channels, forward or backward.
void relax(const Operator &op, const float *b, float *x, bool forward)
{
    const ptrdiff_t *off = op.offset.data();
    for (int yy = 0; yy < op.height; ++yy) {
        const int y = forward ? yy : op.height - 1 - yy;
        const size_t first = op.at(0, y);
        for (int xx = 0; xx < op.width; ++xx) {
            const size_t i = first + size_t(forward ? xx : op.width - 1 - xx);
            const float *a = op.a.data() + i * 9;
            float red = b[2 * i];
            float blue = b[2 * i + 1];
            for (int d = 0; d < 8; ++d) {
                const size_t j = size_t(ptrdiff_t(i) + off[d]);
                red -= a[d] * x[2 * j];
                blue -= a[d] * x[2 * j + 1];
            }
            x[2 * i] = red * a[8];
            x[2 * i + 1] = blue * a[8];
        }
    }
}

// y = A x, with the fixed cells' rows the identity.
void apply(const Operator &op, const float *x, float *y)
{
    const ptrdiff_t *off = op.offset.data();
    for (int row = 0; row < op.height; ++row) {
        const size_t first = op.at(0, row);
        for (size_t i = first; i < first + size_t(op.width); ++i) {
            const float *a = op.a.data() + i * 9;
            const float diagonal = 1.0f / a[8];
            float red = diagonal * x[2 * i];
            float blue = diagonal * x[2 * i + 1];
            for (int d = 0; d < 8; ++d) {
                const size_t j = size_t(ptrdiff_t(i) + off[d]);
                red += a[d] * x[2 * j];
                blue += a[d] * x[2 * j + 1];
            }
            y[2 * i] = red;
            y[2 * i + 1] = blue;
        }
    }
}

void residual(const Operator &op, const float *b, const float *x, float *r)
{
    apply(op, x, r);
    for (size_t i = 0; i < op.cells() * 2; ++i)
        r[i] = b[i] - r[i];
}

// Sums of the unfixed cells' values over each aggregate (P^T).
std::vector<float> restricted(const Operator &fine, const Operator &coarse, const float *v)
{
    std::vector<float> out(coarse.cells() * 2, 0.0f);
    for (int y = 0; y < fine.height; ++y)
        for (int x = 0; x < fine.width; ++x) {
            const size_t i = fine.at(x, y);
            if (fine.fixed[i])
                continue;
            const size_t ci = coarse.at(x / 2, y / 2);
            out[2 * ci] += v[2 * i];
            out[2 * ci + 1] += v[2 * i + 1];
        }
    return out;
}

// Adds each aggregate's value to its unfixed cells (P), or sets them.
void prolong(const Operator &fine, const Operator &coarse, const float *v, float *x, bool add)
{
    for (int y = 0; y < fine.height; ++y)
        for (int cx = 0; cx < fine.width; ++cx) {
            const size_t i = fine.at(cx, y);
            if (fine.fixed[i])
                continue;
            const size_t ci = coarse.at(cx / 2, y / 2);
            x[2 * i] = (add ? x[2 * i] : 0.0f) + v[2 * ci];
            x[2 * i + 1] = (add ? x[2 * i + 1] : 0.0f) + v[2 * ci + 1];
        }
}

// The coarsest level, factorised once and solved exactly.
class DirectSolver
{
public:
    explicit DirectSolver(const Operator &op)
        : op(op)
        , unknown(op.cells(), -1)
    {
        int n = 0;
        for (size_t i = 0; i < op.cells(); ++i)
            if (!op.fixed[i])
                unknown[i] = n++;
        Eigen::MatrixXd m = Eigen::MatrixXd::Zero(n, n);
        for (size_t i = 0; i < op.cells(); ++i) {
            if (unknown[i] < 0)
                continue;
            const float *a = op.a.data() + i * 9;
            m(unknown[i], unknown[i]) = 1.0 / a[8];
            for (int d = 0; d < 8; ++d)
                if (a[d] != 0.0f)
                    m(unknown[i], unknown[size_t(ptrdiff_t(i) + op.offset[size_t(d)])]) = a[d];
        }
        if (n > 0)
            lu.compute(m);
        count = n;
    }

    // Fixed cells take their right-hand side.
    void solve(const float *b, float *x) const
    {
        Eigen::MatrixXd rhs(count, 2);
        for (size_t i = 0; i < op.cells(); ++i)
            if (unknown[i] >= 0) {
                rhs(unknown[i], 0) = b[2 * i];
                rhs(unknown[i], 1) = b[2 * i + 1];
            } else {
                x[2 * i] = b[2 * i];
                x[2 * i + 1] = b[2 * i + 1];
            }
        if (count == 0)
            return;
        const Eigen::MatrixXd solution = lu.solve(rhs);
        for (size_t i = 0; i < op.cells(); ++i)
            if (unknown[i] >= 0) {
                x[2 * i] = float(solution(unknown[i], 0));
                x[2 * i + 1] = float(solution(unknown[i], 1));
            }
    }

private:
    const Operator &op;
    std::vector<int> unknown;
    int count = 0;
    Eigen::FullPivLU<Eigen::MatrixXd> lu;
};

class Multigrid
{
public:
    Multigrid(Operator finest, const std::atomic_bool *cancel)
    {
        levels.push_back(std::move(finest));
        while (levels.back().inner() > size_t(directCells)) {
            check(cancel);
            levels.push_back(coarsened(levels.back()));
        }
        direct = std::make_unique<DirectSolver>(levels.back());
    }

    const Operator &finest() const { return levels[0]; }

    // A start from the coarsest level up: each level's Galerkin solution,
    // piecewise constant on the next finer, smoothed. `x` holds the marks.
    void cascade(const std::vector<float> &b, std::vector<float> &x, int sweeps, const std::atomic_bool *cancel)
    {
        std::vector<std::vector<float>> rhs(levels.size());
        rhs[0] = b;
        for (size_t l = 1; l < levels.size(); ++l)
            rhs[l] = restricted(levels[l - 1], levels[l], rhs[l - 1].data());
        std::vector<float> v(levels.back().cells() * 2, 0.0f);
        direct->solve(rhs.back().data(), v.data());
        for (size_t l = levels.size() - 1; l-- > 0;) {
            check(cancel);
            std::vector<float> finer = l == 0 ? std::move(x) : std::vector<float>(levels[l].cells() * 2, 0.0f);
            prolong(levels[l], levels[l + 1], v.data(), finer.data(), false);
            for (int s = 0; s < sweeps; ++s) {
                relax(levels[l], rhs[l].data(), finer.data(), true);
                relax(levels[l], rhs[l].data(), finer.data(), false);
            }
            v = std::move(finer);
        }
        x = std::move(v);
    }

    // BiCGSTAB, preconditioned on the right by one V-cycle: the aggregation
    // cycle alone converges slowly, as its interpolation is piecewise
    // constant, but it removes the long-range error that Gauss-Seidel cannot,
    // and the Krylov steps the rest. Both channels form one system. Stops
    // after `iterations` or when the residual has fallen by `tolerance`.
    int bicgstab(const std::vector<float> &b, std::vector<float> &x, int iterations, double tolerance,
                 const std::atomic_bool *cancel)
    {
        const Operator &op = levels[0];
        const size_t n = op.cells() * 2;
        std::vector<float> r(n);
        residual(op, b.data(), x.data(), r.data());
        const double start = std::sqrt(dot(r, r));
        if (start == 0)
            return 0;
        std::vector<float> r0 = r;
        std::vector<float> p(n, 0.0f), v(n, 0.0f), ph(n), sh(n), t(n);
        // BiCGSTAB's residual is not monotone and may break down; the best
        // iterate seen is the answer.
        std::vector<float> best = x;
        double bestNorm = start;
        double rho = 1, alpha = 1, omega = 1;
        int it = 0;
        while (it < iterations) {
            check(cancel);
            ++it;
            const double rhoNew = dot(r0, r);
            if (rhoNew == 0)
                break;
            const double beta = (rhoNew / rho) * (alpha / omega);
            rho = rhoNew;
            for (size_t i = 0; i < n; ++i)
                p[i] = float(r[i] + beta * (p[i] - omega * v[i]));
            precondition(p, ph);
            apply(op, ph.data(), v.data());
            const double r0v = dot(r0, v);
            if (r0v == 0)
                break;
            alpha = rho / r0v;
            for (size_t i = 0; i < n; ++i)
                r[i] = float(r[i] - alpha * v[i]); // now s
            precondition(r, sh);
            apply(op, sh.data(), t.data());
            const double tt = dot(t, t);
            omega = tt > 0 ? dot(t, r) / tt : 0;
            for (size_t i = 0; i < n; ++i) {
                x[i] = float(x[i] + alpha * ph[i] + omega * sh[i]);
                r[i] = float(r[i] - omega * t[i]);
            }
            const double norm = std::sqrt(dot(r, r));
            if (!std::isfinite(norm))
                break;
            if (norm < bestNorm) {
                bestNorm = norm;
                best = x;
            }
            if (norm <= tolerance * start || omega == 0)
                break;
        }
        x = std::move(best);
        return it;
    }

private:
    static double dot(const std::vector<float> &a, const std::vector<float> &b)
    {
        double s = 0;
        for (size_t i = 0; i < a.size(); ++i)
            s += double(a[i]) * b[i];
        return s;
    }

    void precondition(const std::vector<float> &v, std::vector<float> &out)
    {
        std::fill(out.begin(), out.end(), 0.0f);
        cycle(0, v, out);
    }

    // A W-cycle: the coarse levels are visited twice, which costs little as
    // they are small, and keeps the BiCGSTAB steps steady where a V-cycle
    // let them stall (measured on the evaluation photos).
    void cycle(size_t l, const std::vector<float> &b, std::vector<float> &x)
    {
        const Operator &op = levels[l];
        if (l + 1 == levels.size()) {
            direct->solve(b.data(), x.data());
            return;
        }
        relax(op, b.data(), x.data(), true);
        std::vector<float> r(op.cells() * 2);
        std::vector<float> e(levels[l + 1].cells() * 2);
        for (int visit = 0; visit < (l == 0 ? 1 : 2); ++visit) {
            residual(op, b.data(), x.data(), r.data());
            const std::vector<float> rc = restricted(op, levels[l + 1], r.data());
            std::fill(e.begin(), e.end(), 0.0f);
            cycle(l + 1, rc, e);
            for (float &v : e)
                v *= overCorrection;
            prolong(op, levels[l + 1], e.data(), x.data(), true);
        }
        relax(op, b.data(), x.data(), false);
    }

    std::vector<Operator> levels;
    std::unique_ptr<DirectSolver> direct;
};

// Chroma storage of a level, in the result's fixed point.
struct FixedCells {
    int16_t *v;
    static int16_t fixedPoint(float value)
    {
        const float scaled = std::clamp(value * ColourSpread::chromaUnit, -32767.0f, 32767.0f);
        return int16_t(scaled < 0 ? scaled - 0.5f : scaled + 0.5f);
    }
    float get(size_t i, int c) const { return float(v[2 * i + size_t(c)]) * (1.0f / ColourSpread::chromaUnit); }
    void put(size_t i, float red, float blue)
    {
        v[2 * i] = fixedPoint(red);
        v[2 * i + 1] = fixedPoint(blue);
    }
};

// The level's chroma from the coarser level's: each cell a mean of the four
// nearest coarse cells, weighted bilinearly and by brightness likeness
// (joint bilateral upsampling, Kopf et al. 2007), marked cells their mark.
// Rows [first, last) only, so that parts of a level can be upsampled at once.
template <class Cells>
void upsample(const Level &level, const PhotoLuma *photo, const Level &coarse, const int16_t *coarseFixed, Cells out,
              int first, int last, const std::atomic_bool *cancel)
{
    const NegExp &e = negExp();
    const int cw = coarse.width;
    const int ch = coarse.height;
    GreyRows rows(level, photo);
    // Sums of each column of the 3 x 3 windows on a row, with a zero column
    // either side, so that a window's sums are three lookups.
    std::vector<float> columnSum(size_t(level.width) + 2, 0.0f);
    std::vector<float> columnSquares(columnSum.size(), 0.0f);
    std::vector<float> columnCount(columnSum.size(), 0.0f);
    size_t nextMark =
        size_t(std::lower_bound(level.marks.begin(), level.marks.end(), uint32_t(first) * uint32_t(level.width),
                                [](const MarkCell &m, uint32_t i) { return m.index < i; })
               - level.marks.begin());
    for (int y = first; y < last; ++y) {
        if (y % rowsBetweenChecks == 0)
            check(cancel);
        const float *above = rows.row(y - 1);
        const float *row = rows.row(y);
        const float *below = rows.row(y + 1);
        const int j0 = (y & 1) ? y / 2 : y / 2 - 1;
        const int cy[2] = {std::clamp(j0, 0, ch - 1), std::clamp(j0 + 1, 0, ch - 1)};
        const float wy[2] = {(y & 1) ? 0.75f : 0.25f, (y & 1) ? 0.25f : 0.75f};
        const float rowsPresent = 1.0f + (above ? 1.0f : 0.0f) + (below ? 1.0f : 0.0f);
        for (int x = 0; x < level.width; ++x) {
            const float a = above ? above[x] : 0.0f;
            const float b = below ? below[x] : 0.0f;
            columnSum[size_t(x) + 1] = a + row[x] + b;
            columnSquares[size_t(x) + 1] = a * a + row[x] * row[x] + b * b;
            columnCount[size_t(x) + 1] = rowsPresent;
        }
        for (int x = 0; x < level.width; ++x) {
            const size_t i = size_t(y) * size_t(level.width) + size_t(x);
            if (nextMark < level.marks.size() && level.marks[nextMark].index == i) {
                out.put(i, level.marks[nextMark].red, level.marks[nextMark].blue);
                ++nextMark;
                continue;
            }
            const int i0 = (x & 1) ? x / 2 : x / 2 - 1;
            const int cx[2] = {std::clamp(i0, 0, cw - 1), std::clamp(i0 + 1, 0, cw - 1)};
            const float wx[2] = {(x & 1) ? 0.75f : 0.25f, (x & 1) ? 0.25f : 0.75f};
            // The brightness width as for the cell's own weights.
            const float c = row[x];
            const size_t k0 = size_t(x);
            const float sum = columnSum[k0] + columnSum[k0 + 1] + columnSum[k0 + 2];
            const float sq = columnSquares[k0] + columnSquares[k0 + 1] + columnSquares[k0 + 2];
            const float count = columnCount[k0] + columnCount[k0 + 1] + columnCount[k0 + 2];
            const float mean = sum / count;
            const float variance = std::max(0.0f, sq / count - mean * mean);
            float closest = std::numeric_limits<float>::max();
            float g[4];
            size_t ci[4];
            float bw[4];
            for (int k = 0; k < 4; ++k) {
                ci[k] = size_t(cy[k >> 1]) * size_t(cw) + size_t(cx[k & 1]);
                g[k] = coarse.grey[ci[k]];
                bw[k] = wy[k >> 1] * wx[k & 1];
                closest = std::min(closest, (g[k] - c) * (g[k] - c));
            }
            const float width2 = std::max({varianceShare * variance, smallestWidth, closest / lnHundred});
            const float inverse = 1.0f / width2;
            float total = 0;
            float red = 0;
            float blue = 0;
            for (int k = 0; k < 4; ++k) {
                const float wk = bw[k] * e((g[k] - c) * (g[k] - c) * inverse);
                total += wk;
                red += wk * float(coarseFixed[2 * ci[k]]);
                blue += wk * float(coarseFixed[2 * ci[k] + 1]);
            }
            out.put(i, red / (total * ColourSpread::chromaUnit), blue / (total * ColourSpread::chromaUnit));
        }
    }
}

// Gauss-Seidel sweeps of the optimisation at a level, with the weights
// worked out as they are needed (they would take eight times the chroma's
// storage at full resolution).
template <class Cells>
void sweep(const Level &level, GreyRows &rows, Cells x, bool forward, const std::atomic_bool *cancel)
{
    const int w = level.width;
    const int h = level.height;
    float wt[8];
    for (int yy = 0; yy < h; ++yy) {
        if (yy % rowsBetweenChecks == 0)
            check(cancel);
        const int y = forward ? yy : h - 1 - yy;
        const float *above = rows.row(y - 1);
        const float *row = rows.row(y);
        const float *below = rows.row(y + 1);
        for (int xx = 0; xx < w; ++xx) {
            const int cx = forward ? xx : w - 1 - xx;
            const size_t i = size_t(y) * size_t(w) + size_t(cx);
            if (level.marked.test(i))
                continue;
            levinWeights(above, row, below, cx, w, wt);
            float red = 0;
            float blue = 0;
            for (int d = 0; d < 8; ++d) {
                if (wt[d] == 0.0f)
                    continue;
                const size_t j = size_t(y + dyOf[d]) * size_t(w) + size_t(cx + dxOf[d]);
                red += wt[d] * x.get(j, 0);
                blue += wt[d] * x.get(j, 1);
            }
            x.put(i, red, blue);
        }
    }
}

} // namespace

int ColourSpread::levelFor(QSize photoSize, qint64 maxPixels)
{
    if (maxPixels <= 0)
        return 0;
    int level = 0;
    QSize size = photoSize;
    while (qint64(size.width()) * size.height() > maxPixels && (size.width() > 1 || size.height() > 1)) {
        ++level;
        size = levelSize(photoSize, level);
    }
    return level;
}

QSize ColourSpread::levelSize(QSize photoSize, int level)
{
    const qint64 step = qint64(1) << level;
    return QSize(int((photoSize.width() + step - 1) / step), int((photoSize.height() + step - 1) / step));
}

double ColourSpread::luminance(QRgb colour)
{
    return 0.3 * qRed(colour) + 0.59 * qGreen(colour) + 0.11 * qBlue(colour);
}

void ColourSpread::chromaOf(QRgb colour, int *redDifference, int *blueDifference)
{
    const double y = luminance(colour);
    *redDifference = int(std::lround((qRed(colour) - y) * chromaUnit));
    *blueDifference = int(std::lround((qBlue(colour) - y) * chromaUnit));
}

QRgb ColourSpread::colourFor(double y, int redDifference, int blueDifference)
{
    const double dr = double(redDifference) / chromaUnit;
    const double db = double(blueDifference) / chromaUnit;
    const double dg = -(0.3 * dr + 0.11 * db) / 0.59;
    double c[3] = {y + dr, y + dg, y + db};
    const double lo = std::min({c[0], c[1], c[2]});
    const double hi = std::max({c[0], c[1], c[2]});
    if (lo < 0 && y > lo)
        for (double &v : c)
            v = y + (v - y) * y / (y - lo);
    if (hi > 255 && hi > y)
        for (double &v : c)
            v = y + (v - y) * (255 - y) / (hi - y);
    const auto byte = [](double v) { return int(std::clamp(std::lround(v), 0L, 255L)); };
    return qRgb(byte(c[0]), byte(c[1]), byte(c[2]));
}

void ColourSpread::luminanceRow(const QImage &photo, int y, float *out)
{
    PhotoLuma(photo).row(y, out);
}

bool ColourSpread::readsInPlace(QImage::Format format)
{
    switch (format) {
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32:
    case QImage::Format_ARGB32_Premultiplied:
    case QImage::Format_Grayscale8:
    case QImage::Format_Grayscale16:
    case QImage::Format_RGB888:
    case QImage::Format_RGBX64:
    case QImage::Format_RGBA64:
    case QImage::Format_RGBA64_Premultiplied:
    case QImage::Format_Indexed8:
        return true;
    default:
        return false;
    }
}

ColourSpread::Result ColourSpread::compute(const QImage &photo, const QList<Mark> &marks,
                                           const std::atomic_bool *cancel, const Progress &progress)
{
    return compute(photo, marks, Options(), cancel, progress);
}

ColourSpread::Result ColourSpread::compute(const QImage &photo, const QList<Mark> &marks, const Options &options,
                                           const std::atomic_bool *cancel, const Progress &progress)
{
    Result result;
    if (photo.isNull())
        return result;
    const QRect bounds = photo.rect();
    bool anyMark = false;
    for (const Mark &m : marks)
        anyMark = anyMark || bounds.contains(m.pixel);
    if (!anyMark)
        return result;

    const auto report = [&progress](int percent) {
        if (progress)
            progress(percent);
    };

    try {
        const PhotoLuma luma(photo);
        const int target = levelFor(photo.size(), options.maxPixels);
        const int solved = std::max(target, levelFor(photo.size(), std::max<qint64>(options.solvePixels, 1)));

        std::vector<Level> levels(size_t(solved) + 1);
        for (int l = 0; l <= solved; ++l) {
            const QSize s = levelSize(photo.size(), l);
            levels[size_t(l)].width = s.width();
            levels[size_t(l)].height = s.height();
        }

        // Marks at full resolution: the last on a pixel counts.
        {
            Level &top = levels[0];
            std::vector<std::pair<uint32_t, uint32_t>> order; // (pixel, position in the list)
            for (int i = 0; i < marks.size(); ++i)
                if (bounds.contains(marks[i].pixel))
                    order.emplace_back(uint32_t(marks[i].pixel.y()) * uint32_t(top.width)
                                           + uint32_t(marks[i].pixel.x()),
                                       uint32_t(i));
            std::sort(order.begin(), order.end());
            top.marked.resize(top.cells());
            for (size_t i = 0; i < order.size(); ++i) {
                if (i + 1 < order.size() && order[i + 1].first == order[i].first)
                    continue;
                int red = 0;
                int blue = 0;
                chromaOf(marks[int(order[i].second)].colour, &red, &blue);
                top.marks.push_back({order[i].first, float(red) / chromaUnit, float(blue) / chromaUnit});
                top.marked.set(order[i].first);
            }
        }
        check(cancel);

        // The brightness pyramid down to the solved level: the levels the
        // cache holds are copied, those finer than the result skipped when
        // the cache holds the next.
        const Brightness *cache = options.brightness;
        const auto cached = [cache, &photo](int l) {
            return cache && cache->photoSize == photo.size() && l >= cache->firstLevel
                && l - cache->firstLevel < int(cache->levels.size());
        };
        for (int l = 1; l <= solved; ++l) {
            Level &fine = levels[size_t(l) - 1];
            if (cached(l))
                levels[size_t(l)].grey = cache->levels[size_t(l - cache->firstLevel)];
            else if (l >= target || !cached(l + 1))
                levels[size_t(l)].grey = halvedGrey(fine, l == 1 ? &luma : nullptr, cancel);
            halveMarks(fine, levels[size_t(l)]);
        }
        if (solved == 0) {
            // The photo is its own solved level; its brightness is kept.
            Level &top = levels[0];
            top.grey.resize(top.cells());
            for (int y = 0; y < top.height; ++y)
                luma.row(y, top.grey.data() + size_t(y) * size_t(top.width));
        }
        report(10);

        // The solved level. Every level's chroma is kept in the result's
        // fixed point: half the memory of floats, and a sixteenth of a level
        // is well below what shows.
        std::vector<int16_t> chroma;
        {
            Level &level = levels[size_t(solved)];
            std::vector<float> b;
            Multigrid mg(buildOperator(level, b, cancel), cancel);
            std::vector<float> padded = b; // the marks, where the sweeps keep them
            mg.cascade(b, padded, cascadeSweeps, cancel);
            mg.bicgstab(b, padded, options.iterations, solveTolerance, cancel);
            chroma.resize(level.cells() * 2);
            FixedCells cells{chroma.data()};
            for (int y = 0; y < level.height; ++y)
                for (int x = 0; x < level.width; ++x) {
                    const size_t i = mg.finest().at(x, y);
                    cells.put(size_t(y) * size_t(level.width) + size_t(x), padded[2 * i], padded[2 * i + 1]);
                }
        }
        report(40);

        // Finer levels up to the target.
        for (int l = solved - 1; l >= target; --l) {
            Level &level = levels[size_t(l)];
            Level &coarse = levels[size_t(l) + 1];
            std::vector<int16_t> finer(level.cells() * 2);
            FixedCells cells{finer.data()};
            const PhotoLuma *photo = l == 0 ? &luma : nullptr;
            InBands::run(
                level.height,
                [&](int first, int last) { upsample(level, photo, coarse, chroma.data(), cells, first, last, cancel); },
                rowsPerBand);
            chroma = std::move(finer);
            coarse.grey = {};
            coarse.marks = {};
            GreyRows rows(level, photo);
            for (int s = 0; s < options.sweeps; ++s)
                sweep(level, rows, cells, s % 2 == 0, cancel);
            report(95 - 55 * l / std::max(1, solved));
        }

        const Level &out = levels[size_t(target)];
        result.chroma.values = std::move(chroma);
        result.chroma.width = out.width;
        result.chroma.height = out.height;
        result.chroma.level = target;
        result.outcome = Outcome::Spread;
        report(100);
    } catch (const Cancelled &) {
        return Result{Outcome::Cancelled, {}};
    } catch (const std::bad_alloc &) {
        return Result{Outcome::OutOfMemory, {}};
    }
    return result;
}

std::shared_ptr<const ColourSpread::Brightness> ColourSpread::brightness(const QImage &photo, int firstLevel,
                                                                         const std::atomic_bool *cancel)
{
    try {
        auto made = std::make_shared<Brightness>();
        made->photoSize = photo.size();
        made->firstLevel = std::max(1, firstLevel);
        if (photo.isNull())
            return made;
        const PhotoLuma luma(photo);
        Level fine;
        fine.width = photo.width();
        fine.height = photo.height();
        for (int l = 1; fine.width > 1 || fine.height > 1; ++l) {
            Level coarse;
            coarse.width = (fine.width + 1) / 2;
            coarse.height = (fine.height + 1) / 2;
            coarse.grey = halvedGrey(fine, l == 1 ? &luma : nullptr, cancel);
            if (l >= made->firstLevel)
                made->levels.push_back(coarse.grey);
            fine = std::move(coarse);
        }
        return made;
    } catch (const Cancelled &) {
        return {};
    } catch (const std::bad_alloc &) {
        return {};
    }
}

QString ColourSpread::outcomeText(Outcome outcome)
{
    switch (outcome) {
    case Outcome::Spread:
        return QCoreApplication::translate("ColourSpread", "Spread the marked colours");
    case Outcome::NoColourMark:
        return QCoreApplication::translate("ColourSpread", "Nothing to spread: lay a colour mark on the photo first");
    case Outcome::Cancelled:
        return QCoreApplication::translate("ColourSpread", "Spread cancelled");
    case Outcome::OutOfMemory:
        return QCoreApplication::translate("ColourSpread", "Not enough memory to spread the colours");
    }
    return {};
}
