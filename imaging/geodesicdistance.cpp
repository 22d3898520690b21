#include "imaging/geodesicdistance.h"

#include <cmath>
#include <functional>
#include <limits>
#include <queue>
#include <utility>

std::vector<float> GeodesicDistance::from(const TextureFeatures::Plane &plane, const std::vector<uint32_t> &seeds,
                                          float stepCost, const std::atomic_bool *cancel)
{
    const int w = plane.width;
    const int h = plane.height;
    std::vector<float> distance(size_t(w) * size_t(h), std::numeric_limits<float>::infinity());
    using Entry = std::pair<float, uint32_t>;
    std::priority_queue<Entry, std::vector<Entry>, std::greater<Entry>> queue;
    for (const uint32_t s : seeds) {
        if (s < distance.size() && distance[s] > 0) {
            distance[s] = 0;
            queue.emplace(0.0f, s);
        }
    }
    const float diagonal = float(std::sqrt(2.0)) * stepCost;
    constexpr int offsets[8][2] = {{1, 0}, {-1, 0}, {0, 1}, {0, -1}, {1, 1}, {-1, -1}, {1, -1}, {-1, 1}};
    size_t settled = 0;
    while (!queue.empty()) {
        const auto [d, i] = queue.top();
        queue.pop();
        if (d > distance[i])
            continue;
        if (++settled % 65536 == 0 && cancel && cancel->load(std::memory_order_relaxed))
            return {};
        const int x = int(i % uint32_t(w));
        const int y = int(i / uint32_t(w));
        const int value = plane.at(x, y);
        for (int k = 0; k < 8; ++k) {
            const int nx = x + offsets[k][0];
            const int ny = y + offsets[k][1];
            if (nx < 0 || ny < 0 || nx >= w || ny >= h)
                continue;
            const uint32_t j = uint32_t(ny) * uint32_t(w) + uint32_t(nx);
            const float next = d + float(std::abs(value - plane.at(nx, ny))) + (k < 4 ? stepCost : diagonal);
            if (next < distance[j]) {
                distance[j] = next;
                queue.emplace(next, j);
            }
        }
    }
    return distance;
}
