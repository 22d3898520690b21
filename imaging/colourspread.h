#ifndef COLOURSPREAD_H
#define COLOURSPREAD_H

#include <QImage>
#include <QList>
#include <QPoint>
#include <QRgb>
#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

// Colours a whole photo from a few colour marks, by the optimisation of Levin,
// Lischinski and Weiss ("Colorization using Optimization", 2004): each
// unmarked pixel's chroma is the weighted mean of its eight neighbours'
// chroma, w_rs = exp(-(Y_r - Y_s)^2 / c_r), normalised to sum 1, where c_r is
// 0.6 times the brightness variance of the 3 x 3 window around r, raised so
// that the most similar neighbour weighs at least 0.01 before normalising (as
// the paper's authors set it). Marked pixels keep their mark's chroma.
//
// Brightness and chroma. Y is the photo's luminance, 0.3 R + 0.59 G + 0.11 B
// on the 0-255 scale (16-bit photos divided by 257), the Lum of the W3C
// compositing "color" mode. A colour's chroma is its two colour differences
// R - Y and B - Y (G - Y follows, as the three differences weigh to zero), so
// that the colour a pixel gets is the colour with the pixel's own luminance:
// colourFor(). A white, grey or black mark has zero chroma: it spreads no
// colour.
//
// The solver, chosen by measurement (bench/spreadquality.cpp and
// bench/spreadbench.cpp print the figures): the system is solved on a reduced
// level of at most `solvePixels` pixels by BiCGSTAB preconditioned by
// algebraic multigrid (cells aggregated 2 x 2 with Galerkin coarse
// operators, which keep a thin dark line between two regions as a weak link
// where a reduced photo would blur it away; over-corrected W-cycles with
// Gauss-Seidel smoothing), started from a cascade up from the coarsest
// level. Each finer level, doubling up to the photo's size, is a joint
// bilateral upsampling of the level below (Kopf et al. 2007) guided by the
// level's own brightness with the same brightness width as the weights, so
// that colour stops at the level's own edges; Gauss-Seidel sweeps of the
// optimisation at the finer levels are an option (`sweeps`), off by default,
// as they changed the evaluation figures by less than 0.01. On the seven
// evaluation photos (0.1-0.16 MP) the result is 0.03-1.2 closer to the true
// colours than the exact sparse LU solution at full size (mean CIEDE2000,
// median 5.41 against 5.93), at 1/100 of its time; the solver alone at full
// size is within 0.37 of the exact solution but ten times slower. OpenCV's
// fast global smoother, a different optimisation, reaches a median of 5.11
// with settings tuned on the same photos, better on four and worse on three,
// but its full-size working images would break the memory bound.
//
// The upsampling runs in bands of rows on all cores and writes the
// full-resolution level straight into the result; every level's chroma is in
// the result's fixed point, so the peak stays below twice the photo's 32-bit
// size.
//
// Levels and the preview. Level 0 is the photo; a pixel of level k is the
// mean of the 2 x 2 pixels of level k - 1 it covers (fewer at the right and
// bottom edges of odd sizes). A preview is the computation stopped at the
// first level of at most `maxPixels` pixels; as long as `maxPixels` is at
// least `solvePixels` (any view of 128 x 128 or more), the full computation
// passes through that same level with the same arithmetic, so Spread writes
// what the preview showed, refined. The computation is deterministic (the
// bands of rows are independent, whatever the number of cores) and touches
// no shared state: it may run on a worker thread.
class ColourSpread
{
public:
    enum class Outcome {
        Spread,
        NoColourMark,
        Cancelled,
        OutOfMemory,
    };

    struct Mark {
        QPoint pixel;
        QRgb colour = 0; // sRGB; the alpha byte is ignored
    };

    // Chroma differences are stored as fixed point, in 1/chromaUnit of an
    // 8-bit level.
    static constexpr int chromaUnit = 16;

    // Per pixel of a level, row by row, two values: (R - Y) * chromaUnit and
    // (B - Y) * chromaUnit, rounded; the pixel's colour is the one with these
    // differences at the pixel's own luminance Y, colourFor(Y, red, blue),
    // which the Natural colour model writes as it is and the HSV model takes
    // the hue and saturation of. A pixel of a level above 0 gives the
    // differences for each of the photo pixels it stands for, each at its own
    // luminance.
    struct Chroma {
        int width = 0;
        int height = 0;
        int level = 0; // each pixel stands for 2^level x 2^level photo pixels
        std::vector<int16_t> values;

        bool isNull() const { return values.empty(); }
        int redDifference(int x, int y) const { return values[(size_t(y) * size_t(width) + size_t(x)) * 2]; }
        int blueDifference(int x, int y) const { return values[(size_t(y) * size_t(width) + size_t(x)) * 2 + 1]; }
    };

    struct Result {
        Outcome outcome = Outcome::NoColourMark;
        Chroma chroma; // null unless `outcome` is Spread
    };

    // Called with a percentage as the stages finish, on the computing thread.
    using Progress = std::function<void(int percent)>;

    // The photo's brightness at its reduced levels from `firstLevel` down,
    // made once for a photo and handed to every preview: the photo does not
    // change between mark drags, and reading all of it is most of a preview's
    // time on a large photo. At most a third of the photo's pixels as floats
    // from level 1, a twelfth from level 2.
    struct Brightness {
        QSize photoSize;
        int firstLevel = 1;
        std::vector<std::vector<float>> levels; // levels[k - firstLevel], row by row
    };

    // Null when cancelled or out of memory.
    static std::shared_ptr<const Brightness> brightness(const QImage &photo, int firstLevel,
                                                        const std::atomic_bool *cancel = nullptr);

    struct Options {
        // The result's largest size in pixels: 0 for the photo's own size, a
        // view's size for a preview (the result is then the first level that
        // fits, at most the photo's size).
        qint64 maxPixels = 0;
        // The largest level solved by multigrid; finer levels are refined.
        qint64 solvePixels = qint64(1) << 14;
        // BiCGSTAB steps at the solved level, and Gauss-Seidel sweeps at each
        // finer level.
        int iterations = 20;
        int sweeps = 0;
        // The photo's reduced brightness, made by brightness(); the levels
        // it holds are not read from the photo again. Ignored when made for
        // a photo of another size.
        const Brightness *brightness = nullptr;
    };

    // Marks outside the photo are ignored; of several marks on one pixel the
    // last counts. `cancel`, when given, is read between stages and while
    // they run; a raised flag ends the computation with Cancelled. A failed
    // allocation ends it with OutOfMemory; nothing outside the result is
    // changed either way.
    static Result compute(const QImage &photo, const QList<Mark> &marks, const std::atomic_bool *cancel = nullptr,
                          const Progress &progress = {});
    static Result compute(const QImage &photo, const QList<Mark> &marks, const Options &options,
                          const std::atomic_bool *cancel = nullptr, const Progress &progress = {});

    // The first level of at most `maxPixels` pixels, 0 for the photo itself.
    static int levelFor(QSize photoSize, qint64 maxPixels);

    // The size of level `level` of a photo of `photoSize`.
    static QSize levelSize(QSize photoSize, int level);

    // A colour's luminance on the 0-255 scale, and its two differences in
    // chroma units.
    static double luminance(QRgb colour);
    static void chromaOf(QRgb colour, int *redDifference, int *blueDifference);

    // The colour of luminance `y` (0-255) and the given differences in chroma
    // units; out of gamut it is brought back towards grey at that luminance,
    // as the W3C ClipColor does, so its luminance stays `y`.
    static QRgb colourFor(double y, int redDifference, int blueDifference);

    // The photo's luminance at full resolution, one row, as the computation
    // reads it.
    static void luminanceRow(const QImage &photo, int y, float *out);
    // Whether luminanceRow() reads a photo of this format in place; a photo
    // of any other format is converted whole for every row asked for, so a
    // caller reading many rows converts it once first.
    static bool readsInPlace(QImage::Format format);

    // A one-line explanation of an outcome, for the status bar.
    static QString outcomeText(Outcome outcome);
};

#endif // COLOURSPREAD_H
