#include "exactspread.h"

#include <Eigen/Sparse>
#include <Eigen/SparseLU>

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <vector>

namespace ExactSpread {

std::vector<double> levelLuminance(const QImage &photo, int level)
{
    const int w = photo.width();
    const int h = photo.height();
    const QSize size = ColourSpread::levelSize(photo.size(), level);
    std::vector<double> sum(size_t(size.width()) * size_t(size.height()), 0.0);
    std::vector<double> count(sum.size(), 0.0);
    std::vector<float> row(static_cast<size_t>(w));
    for (int y = 0; y < h; ++y) {
        ColourSpread::luminanceRow(photo, y, row.data());
        for (int x = 0; x < w; ++x) {
            const size_t i = size_t(y >> level) * size_t(size.width()) + size_t(x >> level);
            sum[i] += row[size_t(x)];
            count[i] += 1;
        }
    }
    for (size_t i = 0; i < sum.size(); ++i)
        sum[i] /= count[i];
    return sum;
}

ColourSpread::Result compute(const QImage &photo, const QList<ColourSpread::Mark> &marks)
{
    const int w = photo.width();
    const int h = photo.height();
    const std::vector<double> y = levelLuminance(photo, 0);
    const auto at = [w](int px, int py) { return size_t(py) * size_t(w) + size_t(px); };

    std::map<size_t, std::pair<int, int>> fixed;
    for (const ColourSpread::Mark &m : marks) {
        if (!photo.rect().contains(m.pixel))
            continue;
        int red = 0;
        int blue = 0;
        ColourSpread::chromaOf(m.colour, &red, &blue);
        fixed[at(m.pixel.x(), m.pixel.y())] = {red, blue};
    }
    ColourSpread::Result result;
    if (fixed.empty())
        return result;

    const size_t n = size_t(w) * size_t(h);
    std::vector<Eigen::Triplet<double>> entries;
    Eigen::MatrixXd rhs = Eigen::MatrixXd::Zero(Eigen::Index(n), 2);
    for (int py = 0; py < h; ++py) {
        for (int px = 0; px < w; ++px) {
            const size_t r = at(px, py);
            entries.emplace_back(Eigen::Index(r), Eigen::Index(r), 1.0);
            const auto mark = fixed.find(r);
            if (mark != fixed.end()) {
                rhs(Eigen::Index(r), 0) = mark->second.first / double(ColourSpread::chromaUnit);
                rhs(Eigen::Index(r), 1) = mark->second.second / double(ColourSpread::chromaUnit);
                continue;
            }
            // The 3 x 3 window around r, inside the photo.
            std::vector<size_t> window;
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx)
                    if (px + dx >= 0 && px + dx < w && py + dy >= 0 && py + dy < h)
                        window.push_back(at(px + dx, py + dy));
            double mean = 0;
            for (size_t s : window)
                mean += y[s];
            mean /= double(window.size());
            double variance = 0;
            for (size_t s : window)
                variance += (y[s] - mean) * (y[s] - mean);
            variance /= double(window.size());
            double closest = std::numeric_limits<double>::max();
            for (size_t s : window)
                if (s != r)
                    closest = std::min(closest, (y[s] - y[r]) * (y[s] - y[r]));
            double width = std::max(0.6 * variance, 2e-6 * 255 * 255);
            if (window.size() > 1)
                width = std::max(width, closest / std::log(100.0));
            double total = 0;
            std::vector<std::pair<size_t, double>> weights;
            for (size_t s : window)
                if (s != r) {
                    weights.emplace_back(s, std::exp(-(y[s] - y[r]) * (y[s] - y[r]) / width));
                    total += weights.back().second;
                }
            for (const auto &[s, wt] : weights)
                entries.emplace_back(Eigen::Index(r), Eigen::Index(s), -wt / total);
        }
    }
    Eigen::SparseMatrix<double> a(static_cast<Eigen::Index>(n), static_cast<Eigen::Index>(n));
    a.setFromTriplets(entries.begin(), entries.end());
    a.makeCompressed();
    Eigen::SparseLU<Eigen::SparseMatrix<double>, Eigen::COLAMDOrdering<int>> lu;
    lu.compute(a);
    if (lu.info() != Eigen::Success)
        return result;
    const Eigen::MatrixXd x = lu.solve(rhs);

    result.outcome = ColourSpread::Outcome::Spread;
    result.chroma.width = w;
    result.chroma.height = h;
    result.chroma.values.resize(n * 2);
    for (size_t i = 0; i < n; ++i)
        for (int c = 0; c < 2; ++c)
            result.chroma.values[2 * i + size_t(c)] = int16_t(std::lround(x(Eigen::Index(i), c) * ColourSpread::chromaUnit));
    return result;
}

QImage render(const QImage &photo, const ColourSpread::Chroma &chroma)
{
    const std::vector<double> y = levelLuminance(photo, chroma.level);
    QImage out(chroma.width, chroma.height, QImage::Format_RGB32);
    for (int py = 0; py < chroma.height; ++py)
        for (int px = 0; px < chroma.width; ++px)
            out.setPixel(px, py, ColourSpread::colourFor(y[size_t(py) * size_t(chroma.width) + size_t(px)],
                                                         chroma.redDifference(px, py), chroma.blueDifference(px, py)));
    return out;
}

ColourSpread::Chroma reduced(const ColourSpread::Chroma &chroma, int steps)
{
    ColourSpread::Chroma out;
    out.level = chroma.level + steps;
    out.width = (chroma.width + (1 << steps) - 1) >> steps;
    out.height = (chroma.height + (1 << steps) - 1) >> steps;
    std::vector<double> sum(size_t(out.width) * size_t(out.height) * 2, 0.0);
    std::vector<double> count(sum.size() / 2, 0.0);
    for (int py = 0; py < chroma.height; ++py)
        for (int px = 0; px < chroma.width; ++px) {
            const size_t i = size_t(py >> steps) * size_t(out.width) + size_t(px >> steps);
            sum[2 * i] += chroma.redDifference(px, py);
            sum[2 * i + 1] += chroma.blueDifference(px, py);
            count[i] += 1;
        }
    out.values.resize(sum.size());
    for (size_t i = 0; i < sum.size(); ++i)
        out.values[i] = int16_t(std::lround(sum[i] / count[i / 2]));
    return out;
}

} // namespace ExactSpread
