#include "imaging/geodesicdistance.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <queue>
#include <utility>

namespace {

constexpr int offsets[8][2] = {{1, 0}, {-1, 0}, {0, 1}, {0, -1}, {1, 1}, {-1, -1}, {1, -1}, {-1, 1}};

// The widest brightness step a path can pay for.
constexpr float widestStep = 255.0f;

bool cancelledAt(size_t settled, const std::atomic_bool *cancel)
{
    return settled % 65536 == 0 && cancel && cancel->load(std::memory_order_relaxed);
}

// The distance to pixel j through pixel i, which is at d.
inline float through(float d, int from, int to, int k, float stepCost, float diagonal)
{
    return d + float(std::abs(from - to)) + (k < 4 ? stepCost : diagonal);
}

// Lowers each neighbour of pixel i, at distance d, that a step from i
// brings nearer, and hands it with its new distance to `lowered`.
template <typename Lowered>
void relax(const TextureFeatures::Plane &plane, std::vector<float> &distance, uint32_t i, float d, float stepCost,
           float diagonal, Lowered &&lowered)
{
    const int w = plane.width;
    const int x = int(i % uint32_t(w));
    const int y = int(i / uint32_t(w));
    const int value = plane.at(x, y);
    for (int k = 0; k < 8; ++k) {
        const int nx = x + offsets[k][0];
        const int ny = y + offsets[k][1];
        if (nx < 0 || ny < 0 || nx >= w || ny >= plane.height)
            continue;
        const uint32_t j = uint32_t(ny) * uint32_t(w) + uint32_t(nx);
        const float next = through(d, value, plane.at(nx, ny), k, stepCost, diagonal);
        if (next < distance[j]) {
            distance[j] = next;
            lowered(j, next);
        }
    }
}

// Dijkstra's search with a binary heap, for any step cost.
bool byHeap(const TextureFeatures::Plane &plane, std::vector<float> &distance, float stepCost,
            const std::atomic_bool *cancel)
{
    using Entry = std::pair<float, uint32_t>;
    std::priority_queue<Entry, std::vector<Entry>, std::greater<Entry>> queue;
    for (uint32_t i = 0; i < distance.size(); ++i)
        if (distance[i] == 0)
            queue.emplace(0.0f, i);
    const float diagonal = float(std::sqrt(2.0)) * stepCost;
    size_t settled = 0;
    while (!queue.empty()) {
        const auto [d, i] = queue.top();
        queue.pop();
        if (d > distance[i])
            continue;
        if (cancelledAt(++settled, cancel))
            return false;
        relax(plane, distance, i, d, stepCost, diagonal, [&queue](uint32_t j, float next) { queue.emplace(next, j); });
    }
    return true;
}

// The same search with Dial's buckets, one unit of distance wide, for a step
// cost of at least 1. A step then lifts a distance past the next whole
// number (the sum rounds to no less than that number, which a float holds
// exactly up to 2^24), so a pixel taken from one bucket only ever lowers
// pixels in later ones: the pixels of a bucket are final as they are taken,
// in any order, and the distances are those the heap finds. A ring of
// buckets covers the widest step.
bool byBuckets(const TextureFeatures::Plane &plane, std::vector<float> &distance, float stepCost,
               const std::atomic_bool *cancel)
{
    const float diagonal = float(std::sqrt(2.0)) * stepCost;
    size_t ringSize = 1;
    while (double(ringSize) < widestStep + diagonal + 4)
        ringSize *= 2;
    const auto bucketOf = [](float d) { return uint64_t(d); };
    std::vector<std::vector<uint32_t>> ring(ringSize);
    std::vector<uint8_t> done(distance.size(), 0);
    size_t waiting = 0;
    for (uint32_t i = 0; i < distance.size(); ++i)
        if (distance[i] == 0) {
            ring[0].push_back(i);
            ++waiting;
        }
    size_t settled = 0;
    for (uint64_t b = 0; waiting > 0; ++b) {
        std::vector<uint32_t> &bucket = ring[size_t(b) & (ringSize - 1)];
        // Nothing is added to the bucket being taken.
        for (const uint32_t i : bucket) {
            --waiting;
            // A pixel is first taken from the bucket of its lowest distance;
            // the entries its higher ones left are passed over.
            if (done[i])
                continue;
            done[i] = 1;
            if (cancelledAt(++settled, cancel))
                return false;
            relax(plane, distance, i, distance[i], stepCost, diagonal, [&](uint32_t j, float next) {
                // Past 2^24 a step can round away: never into the bucket
                // being taken.
                const uint64_t later = std::max(bucketOf(next), b + 1);
                ring[size_t(later) & (ringSize - 1)].push_back(j);
                ++waiting;
            });
        }
        bucket.clear();
    }
    return true;
}

} // namespace

std::vector<float> GeodesicDistance::from(const TextureFeatures::Plane &plane, const std::vector<uint32_t> &seeds,
                                          float stepCost, const std::atomic_bool *cancel)
{
    std::vector<float> distance(size_t(plane.width) * size_t(plane.height), std::numeric_limits<float>::infinity());
    for (const uint32_t s : seeds)
        if (s < distance.size())
            distance[s] = 0;
    const bool done =
        stepCost >= 1 ? byBuckets(plane, distance, stepCost, cancel) : byHeap(plane, distance, stepCost, cancel);
    return done ? distance : std::vector<float>();
}
