#ifndef GAUSSIANMIXTURE_H
#define GAUSSIANMIXTURE_H

#include "imaging/texturefeatures.h"

#include <Eigen/Core>

#include <cstddef>
#include <vector>

// The appearance of one side of a cut, as a mixture of a few Gaussians over
// the texture features of its pixels (as GrabCut models colour). Fitting is
// deterministic: the samples are split by brightness into equal groups, then
// each sample is moved to its likeliest component a few times, so the same
// samples always give the same mixture.
class GaussianMixture
{
public:
    using Sample = TextureFeatures::Sample;
    static constexpr int defaultComponents = 5;
    static constexpr int maximumComponents = 8;

    // An empty mixture: cost() is then the same for every sample.
    GaussianMixture() = default;

    // Fits at most `components` Gaussians to the samples; fewer when there
    // are too few samples to give each one several.
    void fit(const std::vector<Sample> &samples, int components = defaultComponents);

    bool isEmpty() const { return parts.empty(); }
    int size() const { return int(parts.size()); }

    // -log of the mixture's density at the sample.
    float cost(const Sample &sample) const;

private:
    using Vector = Eigen::Matrix<float, TextureFeatures::dims, 1>;
    using Matrix = Eigen::Matrix<float, TextureFeatures::dims, TextureFeatures::dims>;
    struct Part {
        Vector mean;
        Matrix inverse;
        float offset = 0; // -log(weight) + log(sqrt(det(2 pi covariance)))
    };

    // The samples given to one component: how many, their mean and the sum
    // of their outer products about it.
    struct Group {
        std::size_t size = 0;
        Eigen::Matrix<double, TextureFeatures::dims, 1> mean = Eigen::Matrix<double, TextureFeatures::dims, 1>::Zero();
        Eigen::Matrix<double, TextureFeatures::dims, TextureFeatures::dims> covariance =
            Eigen::Matrix<double, TextureFeatures::dims, TextureFeatures::dims>::Zero();
    };

    // The samples as one column per feature.
    using Columns = Eigen::Matrix<float, Eigen::Dynamic, TextureFeatures::dims>;

    // Each sample's likeliest component: the first of the lowest cost.
    void assignLikeliest(const Columns &columns, std::vector<int> &assignment) const;
    // The groups of the samples by `assignment`, or all in the first when
    // there is none.
    static void gather(const Columns &points, const std::vector<int> *assignment, std::vector<Group> &groups);
    static bool estimate(const Group &group, std::size_t total, Part &part, std::size_t least);

    std::vector<Part> parts;
};

#endif // GAUSSIANMIXTURE_H
