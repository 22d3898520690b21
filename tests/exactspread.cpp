#include "exactspread.h"

#include <Eigen/Sparse>
#include <Eigen/SparseLU>

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <vector>

namespace {

struct Lab {
    double l, a, b;
};

double linear(double c)
{
    c /= 255.0;
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

Lab lab(QRgb c)
{
    const double r = linear(qRed(c)), g = linear(qGreen(c)), b = linear(qBlue(c));
    const double x = (0.4124564 * r + 0.3575761 * g + 0.1804375 * b) / 0.95047;
    const double y = 0.2126729 * r + 0.7151522 * g + 0.0721750 * b;
    const double z = (0.0193339 * r + 0.1191920 * g + 0.9503041 * b) / 1.08883;
    const auto f = [](double t) { return t > 216.0 / 24389 ? std::cbrt(t) : (24389.0 / 27 * t + 16) / 116; };
    return {116 * f(y) - 16, 500 * (f(x) - f(y)), 200 * (f(y) - f(z))};
}

double ciede2000(const Lab &p, const Lab &q)
{
    const double pi = 3.14159265358979323846;
    const double c1 = std::hypot(p.a, p.b), c2 = std::hypot(q.a, q.b);
    const double cm = (c1 + c2) / 2;
    const double g = 0.5 * (1 - std::sqrt(std::pow(cm, 7) / (std::pow(cm, 7) + std::pow(25.0, 7))));
    const double a1 = (1 + g) * p.a, a2 = (1 + g) * q.a;
    const double c1p = std::hypot(a1, p.b), c2p = std::hypot(a2, q.b);
    auto hue = [pi](double b, double a) {
        if (a == 0 && b == 0)
            return 0.0;
        double h = std::atan2(b, a) * 180 / pi;
        return h < 0 ? h + 360 : h;
    };
    const double h1 = hue(p.b, a1), h2 = hue(q.b, a2);
    const double dl = q.l - p.l, dc = c2p - c1p;
    double dh = 0;
    if (c1p * c2p != 0) {
        dh = h2 - h1;
        if (dh > 180)
            dh -= 360;
        else if (dh < -180)
            dh += 360;
    }
    const double dH = 2 * std::sqrt(c1p * c2p) * std::sin(dh / 2 * pi / 180);
    const double lm = (p.l + q.l) / 2, cmp = (c1p + c2p) / 2;
    double hm = h1 + h2;
    if (c1p * c2p != 0) {
        if (std::abs(h1 - h2) <= 180)
            hm = (h1 + h2) / 2;
        else
            hm = (h1 + h2 < 360) ? (h1 + h2 + 360) / 2 : (h1 + h2 - 360) / 2;
    }
    const double t = 1 - 0.17 * std::cos((hm - 30) * pi / 180) + 0.24 * std::cos(2 * hm * pi / 180)
        + 0.32 * std::cos((3 * hm + 6) * pi / 180) - 0.20 * std::cos((4 * hm - 63) * pi / 180);
    const double dtheta = 30 * std::exp(-std::pow((hm - 275) / 25, 2));
    const double rc = 2 * std::sqrt(std::pow(cmp, 7) / (std::pow(cmp, 7) + std::pow(25.0, 7)));
    const double sl = 1 + 0.015 * std::pow(lm - 50, 2) / std::sqrt(20 + std::pow(lm - 50, 2));
    const double sc = 1 + 0.045 * cmp, sh = 1 + 0.015 * cmp * t;
    const double rt = -std::sin(2 * dtheta * pi / 180) * rc;
    return std::sqrt(std::pow(dl / sl, 2) + std::pow(dc / sc, 2) + std::pow(dH / sh, 2) + rt * (dc / sc) * (dH / sh));
}

} // namespace

namespace ExactSpread {

double meanCiede2000(const QImage &a, const QImage &b)
{
    double sum = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            sum += ciede2000(lab(a.pixel(x, y)), lab(b.pixel(x, y)));
    return sum / (double(a.width()) * a.height());
}

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
            result.chroma.values[2 * i + size_t(c)] =
                int16_t(std::lround(x(Eigen::Index(i), c) * ColourSpread::chromaUnit));
    return result;
}

QImage render(const QImage &photo, const ColourSpread::Chroma &chroma)
{
    const std::vector<double> y = levelLuminance(photo, chroma.level);
    QImage out(chroma.width, chroma.height, QImage::Format_RGB32);
    for (int py = 0; py < chroma.height; ++py)
        for (int px = 0; px < chroma.width; ++px)
            out.setPixel(px, py,
                         ColourSpread::colourFor(y[size_t(py) * size_t(chroma.width) + size_t(px)],
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
