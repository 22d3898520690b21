#ifndef TEXTUREFEATURES_H
#define TEXTUREFEATURES_H

#include <array>
#include <cstddef>
#include <cstdint>

// What a grey pixel and its few neighbours look like, for telling one area of
// a photo from another when their brightness alone is alike: the pixel's
// brightness, the mean and the spread of the brightness around it, and how
// strongly the brightness changes there. Windows are clipped at the photo's
// border.
class TextureFeatures
{
public:
    static constexpr int dims = 4;
    using Sample = std::array<float, dims>;

    // A grey image in memory that someone else owns.
    struct Plane {
        const uint8_t *bits = nullptr;
        int width = 0;
        int height = 0;
        std::ptrdiff_t stride = 0;

        const uint8_t *row(int y) const { return bits + std::ptrdiff_t(y) * stride; }
        uint8_t at(int x, int y) const { return row(y)[x]; }
    };

    // The features of pixel (x, y).
    static Sample at(const Plane &plane, int x, int y);
};

#endif // TEXTUREFEATURES_H
