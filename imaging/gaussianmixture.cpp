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

bool GaussianMixture::estimate(const std::vector<Vector> &members, std::size_t total, Part &part, std::size_t least)
{
    if (members.size() < least || members.empty())
        return false;
    Eigen::Matrix<double, dims, 1> sum = Eigen::Matrix<double, dims, 1>::Zero();
    for (const Vector &v : members)
        sum += v.cast<double>();
    const Eigen::Matrix<double, dims, 1> mean = sum / double(members.size());
    Eigen::Matrix<double, dims, dims> covariance = Eigen::Matrix<double, dims, dims>::Zero();
    for (const Vector &v : members) {
        const Eigen::Matrix<double, dims, 1> d = v.cast<double>() - mean;
        covariance += d * d.transpose();
    }
    covariance /= double(members.size());
    covariance.diagonal().array() += minimumVariance;
    const Eigen::LLT<Eigen::Matrix<double, dims, dims>> llt(covariance);
    if (llt.info() != Eigen::Success)
        return false;
    const double logDet = 2 * llt.matrixL().toDenseMatrix().diagonal().array().log().sum();
    const double weight = double(members.size()) / double(total);
    part.mean = mean.cast<float>();
    part.inverse = llt.solve(Eigen::Matrix<double, dims, dims>::Identity()).cast<float>();
    part.offset = float(-std::log(weight) + 0.5 * (logDet + dims * std::log(2 * M_PI)));
    return true;
}

int GaussianMixture::likeliest(const Vector &v) const
{
    int best = 0;
    float bestCost = std::numeric_limits<float>::max();
    for (int k = 0; k < int(parts.size()); ++k) {
        const Vector d = v - parts[size_t(k)].mean;
        const float c = parts[size_t(k)].offset + 0.5f * d.dot(parts[size_t(k)].inverse * d);
        if (c < bestCost) {
            bestCost = c;
            best = k;
        }
    }
    return best;
}

void GaussianMixture::fit(const std::vector<Sample> &samples, int components)
{
    parts.clear();
    if (samples.empty() || components < 1)
        return;
    std::vector<Vector> points(samples.size());
    for (size_t i = 0; i < samples.size(); ++i)
        points[i] = Eigen::Map<const Vector>(samples[i].data());
    const int count =
        std::clamp(int(samples.size() / (4 * minimumMembers)), 1, std::min(components, maximumComponents));

    // Equal groups by brightness to start with: stable, and for grey photos
    // close to where the components end up.
    std::vector<int> order(points.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(),
                     [&points](int a, int b) { return points[size_t(a)][0] < points[size_t(b)][0]; });
    std::vector<int> assignment(points.size());
    for (size_t i = 0; i < order.size(); ++i)
        assignment[size_t(order[i])] = int(i * size_t(count) / order.size());

    for (int round = 0; round <= reassignments; ++round) {
        std::vector<std::vector<Vector>> members(static_cast<size_t>(count));
        for (size_t i = 0; i < points.size(); ++i)
            members[size_t(assignment[i])].push_back(points[i]);
        std::vector<Part> estimated;
        for (const std::vector<Vector> &group : members) {
            Part part;
            if (estimate(group, points.size(), part, minimumMembers))
                estimated.push_back(part);
        }
        if (estimated.empty()) {
            // Too few samples for any group: one component over them all,
            // its spread at least the least variance.
            Part part;
            if (estimate(points, points.size(), part, 1))
                estimated.push_back(part);
            parts = std::move(estimated);
            return;
        }
        parts = std::move(estimated);
        if (round == reassignments)
            break;
        for (size_t i = 0; i < points.size(); ++i)
            assignment[i] = likeliest(points[i]);
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
