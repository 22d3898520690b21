#ifndef EDGEMATTE_H
#define EDGEMATTE_H

#include "imaging/coveragespans.h"
#include "imaging/texturefeatures.h"

#include <cstdint>

// A hard region's edge made soft where the photo's edge is soft: within a
// band a few pixels wide around the region's boundary, the coverage is the
// guided filter (He, Sun and Tang) of the hard region with the photo's
// brightness as the guide, so that it follows a blurred edge or fine hair
// across the boundary and stays a sharp step where the photo has one.
//
// Coverage strictly between none and full appears only in the band; pixels of
// the region outside it are wholly covered, pixels outside the region and the
// band are not covered. Region pixels keep at least the least coverage, and
// coverage outside the region never rises away from it, so the covered
// pixels stay one 4-connected piece with the region. Only the band's
// neighbourhood is computed, tile by tile, in integers where sums are taken,
// so the result is the same whatever the order of the tiles.
class EdgeMatte
{
public:
    // Pixels on each side of the boundary that may be partly covered.
    static constexpr int defaultBand = 2;

    // `labels` holds one byte per pixel of the grey plane's size, rows
    // `labelStride` bytes apart; the region is where `insideBit` is set. The
    // photo's border is no boundary. Pixels outside the region with
    // `excludedBit` set are never covered.
    static CoverageSpans soften(const TextureFeatures::Plane &grey, const uint8_t *labels, std::ptrdiff_t labelStride,
                                uint8_t insideBit, uint8_t excludedBit = 0, int band = defaultBand);
};

#endif // EDGEMATTE_H
