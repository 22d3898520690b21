#include "imaging/gaussianmixture.h"

#include <Eigen/Cholesky>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <numeric>

namespace {

constexpr int dims = TextureFeatures::dims;

// Added to every variance: a component of identical samples (a flat area, a
// clipped highlight) keeps a finite density, and grey levels a step apart
// stay close.
constexpr float minimumVariance = 4.0f;

// A component needs this many samples to be estimated.
constexpr std::size_t minimumMembers = 2 * dims + 2;

constexpr int reassignments = 4;

} // namespace

void GaussianMixture::gather(const Columns &points, const std::vector<int> *assignment, std::vector<Group> &groups)
{
    // Two passes, the spread about the mean, each group summed in the order
    // of the samples.
    for (Group &g : groups)
        g = Group();
    for (Eigen::Index i = 0; i < points.rows(); ++i) {
        Group &g = groups[assignment ? size_t((*assignment)[size_t(i)]) : 0];
        g.mean += points.row(i).transpose().cast<double>();
        ++g.size;
    }
    for (Group &g : groups)
        if (g.size > 0)
            g.mean /= double(g.size);
    for (Eigen::Index i = 0; i < points.rows(); ++i) {
        Group &g = groups[assignment ? size_t((*assignment)[size_t(i)]) : 0];
        const Eigen::Matrix<double, dims, 1> d = points.row(i).transpose().cast<double>() - g.mean;
        g.covariance += d * d.transpose();
    }
}

bool GaussianMixture::estimate(const Group &group, std::size_t total, Part &part, std::size_t least)
{
    if (group.size < least || group.size == 0)
        return false;
    Eigen::Matrix<double, dims, dims> covariance = group.covariance / double(group.size);
    covariance.diagonal().array() += minimumVariance;
    const Eigen::LLT<Eigen::Matrix<double, dims, dims>> llt(covariance);
    if (llt.info() != Eigen::Success)
        return false;
    const double logDet = 2 * llt.matrixL().toDenseMatrix().diagonal().array().log().sum();
    const double weight = double(group.size) / double(total);
    part.mean = group.mean.cast<float>();
    part.inverse = llt.solve(Eigen::Matrix<double, dims, dims>::Identity()).cast<float>();
    part.offset = float(-std::log(weight) + 0.5 * (logDet + dims * std::log(2 * M_PI)));
    return true;
}

void GaussianMixture::assignLikeliest(const Columns &columns, std::vector<int> &assignment) const
{
    // Component by component over a block of samples at a time, small enough
    // to stay in the first-level cache. A sample's cost is summed in the
    // order of a 4 x 4 product and dot product as Eigen works them out for
    // one sample, so that a sample between two components goes where it went
    // when samples were taken one at a time.
    constexpr int block = 256;
    using Block = Eigen::Array<float, Eigen::Dynamic, 1, 0, block, 1>;
    using Chosen = Eigen::Array<int, Eigen::Dynamic, 1, 0, block, 1>;
    const Eigen::Index n = columns.rows();
    for (Eigen::Index start = 0; start < n; start += block) {
        const Eigen::Index size = std::min<Eigen::Index>(block, n - start);
        Block best = Block::Constant(size, std::numeric_limits<float>::max());
        Chosen chosen = Chosen::Zero(size);
        std::array<Block, dims> d;
        std::array<Block, dims> t;
        for (int k = 0; k < int(parts.size()); ++k) {
            const Part &part = parts[size_t(k)];
            const Matrix &a = part.inverse;
            for (int c = 0; c < dims; ++c)
                d[size_t(c)] = columns.col(c).segment(start, size).array() - part.mean[c];
            for (int r = 0; r < dims; ++r)
                t[size_t(r)] = ((a(r, 0) * d[0] + a(r, 1) * d[1]) + a(r, 2) * d[2]) + a(r, 3) * d[3];
            const Block cost = part.offset + 0.5f * ((d[0] * t[0] + d[2] * t[2]) + (d[1] * t[1] + d[3] * t[3]));
            chosen = (cost < best).select(Chosen::Constant(size, k), chosen);
            best = best.min(cost);
        }
        for (Eigen::Index i = 0; i < size; ++i)
            assignment[size_t(start + i)] = chosen[i];
    }
}

void GaussianMixture::fit(const std::vector<Sample> &samples, int components)
{
    parts.clear();
    if (samples.empty() || components < 1)
        return;
    // One column per feature, as the likeliest components are worked out.
    Columns points(Eigen::Index(samples.size()), dims);
    for (size_t i = 0; i < samples.size(); ++i)
        points.row(Eigen::Index(i)) = Eigen::Map<const Vector>(samples[i].data()).transpose();
    const int count =
        std::clamp(int(samples.size() / (4 * minimumMembers)), 1, std::min(components, maximumComponents));

    // Equal groups by brightness to start with: stable, and for grey photos
    // close to where the components end up.
    std::vector<int> order(samples.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&points](int a, int b) { return points(a, 0) < points(b, 0); });
    std::vector<int> assignment(samples.size());
    for (size_t i = 0; i < order.size(); ++i)
        assignment[size_t(order[i])] = int(i * size_t(count) / order.size());

    std::vector<Group> groups(static_cast<size_t>(count));
    for (int round = 0; round <= reassignments; ++round) {
        gather(points, &assignment, groups);
        std::vector<Part> estimated;
        for (const Group &group : groups) {
            Part part;
            if (estimate(group, samples.size(), part, minimumMembers))
                estimated.push_back(part);
        }
        if (estimated.empty()) {
            // Too few samples for any group: one component over them all,
            // its spread at least the least variance.
            std::vector<Group> all(1);
            gather(points, nullptr, all);
            Part part;
            if (estimate(all[0], samples.size(), part, 1))
                estimated.push_back(part);
            parts = std::move(estimated);
            return;
        }
        parts = std::move(estimated);
        if (round == reassignments)
            break;
        assignLikeliest(points, assignment);
        if (int(parts.size()) < count) {
            // Components whose groups were too small are gone; the rest keep
            // their order, so the assignments stay in range.
            for (int &a : assignment)
                a = std::min(a, int(parts.size()) - 1);
        }
    }
}

float GaussianMixture::cost(const Sample &sample) const
{
    if (parts.empty())
        return 0;
    const Vector v = Eigen::Map<const Vector>(sample.data());
    // -log of a sum of exponentials, from the likeliest component.
    std::array<float, maximumComponents> costs{};
    float best = std::numeric_limits<float>::max();
    const size_t n = std::min(parts.size(), costs.size());
    for (size_t k = 0; k < n; ++k) {
        const Vector d = v - parts[k].mean;
        costs[k] = parts[k].offset + 0.5f * d.dot(parts[k].inverse * d);
        best = std::min(best, costs[k]);
    }
    float sum = 0;
    for (size_t k = 0; k < n; ++k)
        sum += std::exp(best - costs[k]);
    return best - std::log(sum);
}
