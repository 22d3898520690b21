#ifndef STROKESTYLE_H
#define STROKESTYLE_H

#include <QRgb>

#include <algorithm>

// How one stroke or fill lays its pixels: the colour model, the brush colour,
// the layer alpha it lays (strength) and how far in from the rim its edge is
// feathered (softness). A stroke keeps the style it began with; the defaults
// lay exactly the pixels the layer has always had.
struct StrokeStyle {
    enum class Model {
        Classic, // the brush's hue and saturation at the photo pixel's HSV value
        Natural, // the brush's hue and saturation at the photo pixel's luminance
    };

    static constexpr int defaultStrength = 86; // percent: alpha 220
    static constexpr int minStrength = 1;
    static constexpr int maxStrength = 100;
    static constexpr int maxSoftness = 100;

    Model model = Model::Classic;
    QRgb brush = 0xFFFFFFFF;
    int strength = defaultStrength; // 1 to 100 %
    int softness = 0;               // 0 (a hard disc) to 100 % (a ramp from the centre)
    bool erase = false;

    // The least alpha that is at least `percent` % of opaque, so that 86 %
    // gives the 220 the layer has always used and 100 % gives 255.
    static int alphaFor(int percent)
    {
        const int p = std::clamp(percent, minStrength, maxStrength);
        return (p * 255 + 99) / 100;
    }
    int alpha() const { return alphaFor(strength); }
    int clampedSoftness() const { return std::clamp(softness, 0, maxSoftness); }
    bool isSoft() const { return clampedSoftness() > 0; }
};

#endif // STROKESTYLE_H
