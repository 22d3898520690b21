#ifndef GEODESICDISTANCE_H
#define GEODESICDISTANCE_H

#include "imaging/texturefeatures.h"

#include <atomic>
#include <cstdint>
#include <vector>

// How far each pixel of a grey plane is from a set of seed pixels when a path
// pays for every change of brightness it crosses: the length of the cheapest
// 8-connected path, a step costing the brightness difference of its two ends
// plus `stepCost` per pixel of its length. Within an even area every pixel is
// near a seed in it; one beyond a strong edge is far, however close in
// pixels. Exact (Dijkstra), so the same seeds always give the same distances.
class GeodesicDistance
{
public:
    // `seeds` holds the seed pixels' indices (y * width + x). Pixels no path
    // reaches (no seed at all) are at infinity. Returns an empty vector when
    // cancelled.
    static std::vector<float> from(const TextureFeatures::Plane &plane, const std::vector<uint32_t> &seeds,
                                   float stepCost, const std::atomic_bool *cancel = nullptr);
};

#endif // GEODESICDISTANCE_H
