#include "imaging/texturefeatures.h"

#include <algorithm>
#include <cmath>

namespace {

// Half the window's side: 5 x 5 pixels hold enough of a fine texture to
// measure its spread, and stay within a few pixels of an edge.
constexpr int reach = 2;

} // namespace

TextureFeatures::Sample TextureFeatures::at(const Plane &plane, int x, int y)
{
    const int left = std::max(0, x - reach);
    const int right = std::min(plane.width - 1, x + reach);
    const int top = std::max(0, y - reach);
    const int bottom = std::min(plane.height - 1, y + reach);
    int sum = 0;
    int squares = 0;
    for (int yy = top; yy <= bottom; ++yy) {
        const uint8_t *row = plane.row(yy);
        for (int xx = left; xx <= right; ++xx) {
            sum += row[xx];
            squares += row[xx] * row[xx];
        }
    }
    const float count = float((right - left + 1) * (bottom - top + 1));
    const float mean = float(sum) / count;
    const float spread = std::sqrt(std::max(0.0f, float(squares) / count - mean * mean));

    // Central differences over the 3 x 3 pixels around, as the root of the
    // mean squared gradient.
    int energy = 0;
    int samples = 0;
    for (int yy = std::max(0, y - 1); yy <= std::min(plane.height - 1, y + 1); ++yy) {
        const uint8_t *row = plane.row(yy);
        const uint8_t *above = plane.row(std::max(0, yy - 1));
        const uint8_t *below = plane.row(std::min(plane.height - 1, yy + 1));
        for (int xx = std::max(0, x - 1); xx <= std::min(plane.width - 1, x + 1); ++xx) {
            const int dx = row[std::min(plane.width - 1, xx + 1)] - row[std::max(0, xx - 1)];
            const int dy = below[xx] - above[xx];
            energy += dx * dx + dy * dy;
            ++samples;
        }
    }
    const float gradient = 0.5f * std::sqrt(float(energy) / float(samples));
    return {float(plane.at(x, y)), mean, spread, gradient};
}
