// Speed and peak memory of the colour spread: a 1-megapixel and a
// 24-megapixel photo spread in full, and the preview of the 24-megapixel photo
// fitted in a 1920 x 1080 view. The baseline, measured in the same run, is
// the exact sparse LU solution of the same optimisation on the photo at
// evaluation size (about 0.13 MP; at 1 MP it would not finish in minutes), so
// that the figures can be read as ratios on a noisy machine. The photos are a
// real photo enlarged, with 30 short strokes in its own colours.

#include "exactspread.h"
#include "memorystatus.h"

#include "imaging/colourlayer.h"
#include "imaging/colourspread.h"
#include "imaging/spreadcolouring.h"

#include <QElapsedTimer>
#include <QImage>

#include <benchmark/benchmark.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

const char *const photoPath = "/usr/lib/python3/dist-packages/skimage/data/chelsea.png";

struct Scene {
    QImage photo; // grey, as the spread sees it
    QList<ColourSpread::Mark> marks;
};

// The colour photo enlarged to width x height, turned grey; strokes of about
// 2 % of the width laid from a fixed seed, each in the colour under its middle.
Scene scene(int width, int height)
{
    Scene s;
    const QImage colour = QImage(QString::fromLatin1(photoPath))
                              .convertToFormat(QImage::Format_RGB32)
                              .scaled(width, height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    if (colour.isNull())
        return s;
    s.photo = QImage(width, height, QImage::Format_Grayscale8);
    for (int y = 0; y < height; ++y) {
        const auto *in = reinterpret_cast<const QRgb *>(colour.constScanLine(y));
        uchar *out = s.photo.scanLine(y);
        for (int x = 0; x < width; ++x)
            out[x] = uchar(std::lround(ColourSpread::luminance(in[x])));
    }
    std::mt19937 random(7);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const double length = std::max(4.0, width * 0.02);
    for (int stroke = 0; stroke < 30; ++stroke) {
        const double cx = (0.05 + 0.9 * unit(random)) * width;
        const double cy = (0.05 + 0.9 * unit(random)) * height;
        const double angle = unit(random) * 3.14159;
        const QRgb c = colour.pixel(int(cx), int(cy));
        for (double t = -length / 2; t <= length / 2; t += 0.5)
            s.marks.append({QPoint(int(cx + t * std::cos(angle)), int(cy + t * std::sin(angle))), c});
    }
    return s;
}

std::map<std::string, double> medians; // milliseconds, by benchmark

void record(benchmark::State &state, const char *name, std::vector<double> &times)
{
    std::sort(times.begin(), times.end());
    const double median = times[times.size() / 2];
    state.counters["median_ms"] = median;
    medians[name] = median;
}

void spread(benchmark::State &state, const char *name, int width, int height, qint64 maxPixels, bool cached = false)
{
    const Scene s = scene(width, height);
    if (s.photo.isNull()) {
        state.SkipWithError("the photo cannot be read");
        return;
    }
    ColourSpread::Options options;
    options.maxPixels = maxPixels;
    // As the window would: the photo's brightness made once, when it opens.
    const std::shared_ptr<const ColourSpread::Brightness> brightness =
        cached ? ColourSpread::brightness(s.photo, ColourSpread::levelFor(s.photo.size(), maxPixels)) : nullptr;
    options.brightness = brightness.get();
    std::vector<double> times;
    QElapsedTimer timer;
    for (auto _ : state) {
        timer.start();
        const ColourSpread::Result result = ColourSpread::compute(s.photo, s.marks, options);
        times.push_back(timer.nsecsElapsed() / 1e6);
        if (result.outcome != ColourSpread::Outcome::Spread)
            state.SkipWithError("nothing spread");
        benchmark::DoNotOptimize(result.chroma.values.data());
    }
    record(state, name, times);
}

void exact(benchmark::State &state, const char *name, int width, int height)
{
    const Scene s = scene(width, height);
    if (s.photo.isNull()) {
        state.SkipWithError("the photo cannot be read");
        return;
    }
    std::vector<double> times;
    QElapsedTimer timer;
    for (auto _ : state) {
        timer.start();
        const ColourSpread::Result result = ExactSpread::compute(s.photo, s.marks);
        times.push_back(timer.nsecsElapsed() / 1e6);
        benchmark::DoNotOptimize(result.chroma.values.data());
    }
    record(state, name, times);
}

constexpr qint64 viewPixels = 1920 * 1080;

void BM_SpreadExact_013MP(benchmark::State &state)
{
    exact(state, "BM_SpreadExact_013MP", 442, 294);
}
void BM_Spread_013MP(benchmark::State &state)
{
    spread(state, "BM_Spread_013MP", 442, 294, 0);
}
void BM_Spread_1MP(benchmark::State &state)
{
    spread(state, "BM_Spread_1MP", 1224, 816, 0);
}
void BM_Spread_24MP(benchmark::State &state)
{
    spread(state, "BM_Spread_24MP", 6000, 4000, 0);
}
void BM_SpreadPreview_24MP(benchmark::State &state)
{
    spread(state, "BM_SpreadPreview_24MP", 6000, 4000, viewPixels);
}
void BM_SpreadPreviewCached_24MP(benchmark::State &state)
{
    spread(state, "BM_SpreadPreviewCached_24MP", 6000, 4000, viewPixels, true);
}

// The window's preview job after a mark drag: the spread at the view's size
// with the brightness the first preview kept, and its picture over an
// uncoloured layer (which it reads whole, for what is coloured already).
void BM_SpreadPreviewPicture_24MP(benchmark::State &state)
{
    const Scene s = scene(6000, 4000);
    if (s.photo.isNull()) {
        state.SkipWithError("the photo cannot be read");
        return;
    }
    QImage layer(s.photo.size(), ColourLayer::format);
    layer.fill(0);
    ColourSpread::Options options;
    options.maxPixels = viewPixels;
    const std::shared_ptr<const ColourSpread::Brightness> brightness =
        ColourSpread::brightness(s.photo, std::max(1, ColourSpread::levelFor(s.photo.size(), viewPixels)));
    options.brightness = brightness.get();
    const SpreadColouring colouring(StrokeStyle(), 0);
    std::vector<double> times;
    QElapsedTimer timer;
    for (auto _ : state) {
        timer.start();
        const ColourSpread::Result result = ColourSpread::compute(s.photo, s.marks, options);
        const QImage picture = colouring.preview(s.photo, result.chroma, layer, brightness.get());
        times.push_back(timer.nsecsElapsed() / 1e6);
        if (picture.isNull())
            state.SkipWithError("no preview");
        benchmark::DoNotOptimize(picture.constBits());
    }
    record(state, "BM_SpreadPreviewPicture_24MP", times);
}

// Writing a full-resolution spread into an uncoloured 24-megapixel layer
// through a colour model: the part of Spread that runs on the UI thread.
void spreadWrite(benchmark::State &state, const char *name, StrokeStyle::Model model)
{
    const Scene s = scene(6000, 4000);
    if (s.photo.isNull()) {
        state.SkipWithError("the photo cannot be read");
        return;
    }
    const ColourSpread::Result result = ColourSpread::compute(s.photo, s.marks);
    QImage layer(s.photo.size(), ColourLayer::format);
    StrokeStyle style;
    style.model = model;
    const SpreadColouring colouring(style, 0);
    std::vector<double> times;
    QElapsedTimer timer;
    for (auto _ : state) {
        layer.fill(0);
        timer.start();
        colouring.write(s.photo, result.chroma, layer);
        times.push_back(timer.nsecsElapsed() / 1e6);
        benchmark::DoNotOptimize(layer.constBits());
    }
    record(state, name, times);
}

void BM_SpreadWriteClassic_24MP(benchmark::State &state)
{
    spreadWrite(state, "BM_SpreadWriteClassic_24MP", StrokeStyle::Model::Classic);
}
void BM_SpreadWriteNatural_24MP(benchmark::State &state)
{
    spreadWrite(state, "BM_SpreadWriteNatural_24MP", StrokeStyle::Model::Natural);
}

// Peak resident memory of one spread above what the open photo already
// holds, the result included, against the photo's size as a 32-bit image.
// Each in a process of its own, so that no earlier measurement has left the
// heap grown. Linux only.
void peakMemory(int width, int height, qint64 maxPixels)
{
    std::fflush(stdout);
    const pid_t child = fork();
    if (child != 0) {
        int status = 0;
        waitpid(child, &status, 0);
        return;
    }
    const Scene s = scene(width, height);
    MemoryStatus::resetPeak();
    const long before = MemoryStatus::kb("VmRSS:");
    ColourSpread::Options options;
    options.maxPixels = maxPixels;
    const ColourSpread::Result result = ColourSpread::compute(s.photo, s.marks, options);
    const long peak = MemoryStatus::kb("VmHWM:");
    const double photoKb = double(width) * height * 4 / 1024;
    std::printf("peak memory of a %s, %d x %d (%s): %.1f MB = %.2f x the photo as a 32-bit image\n",
                maxPixels ? "preview" : "spread", width, height,
                result.outcome == ColourSpread::Outcome::Spread ? "spread" : "NOT spread", (peak - before) / 1024.0,
                (peak - before) / photoKb);
    std::fflush(stdout);
    _exit(0);
}

} // namespace

BENCHMARK(BM_SpreadExact_013MP)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_Spread_013MP)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_Spread_1MP)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_Spread_24MP)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_SpreadPreview_24MP)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_SpreadPreviewCached_24MP)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_SpreadPreviewPicture_24MP)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_SpreadWriteClassic_24MP)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_SpreadWriteNatural_24MP)->Unit(benchmark::kMillisecond)->Iterations(3);

int main(int argc, char **argv)
{
    peakMemory(1224, 816, 0);
    peakMemory(6000, 4000, 0);
    peakMemory(6000, 4000, viewPixels);

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    const auto median = [](const char *name) {
        const auto found = medians.find(name);
        return found == medians.end() ? 0.0 : found->second;
    };
    const auto ratio = [&median](const char *a, const char *b) {
        if (median(a) > 0 && median(b) > 0)
            std::printf("%-24s / %-24s = %8.3f\n", a, b, median(a) / median(b));
    };
    std::printf("\nMedian spread times: 1 MP %.1f ms (target 300), 24 MP %.1f ms (target 5000), preview of 24 MP in "
                "a 1920 x 1080 view %.1f ms, %.1f ms with the brightness made beforehand (target 300)\n",
                median("BM_Spread_1MP"), median("BM_Spread_24MP"), median("BM_SpreadPreview_24MP"),
                median("BM_SpreadPreviewCached_24MP"));
    std::printf("Ratios of medians to the exact solve at 0.13 MP (same run):\n");
    ratio("BM_Spread_013MP", "BM_SpreadExact_013MP");
    ratio("BM_Spread_1MP", "BM_SpreadExact_013MP");
    ratio("BM_Spread_24MP", "BM_SpreadExact_013MP");
    ratio("BM_SpreadPreview_24MP", "BM_SpreadExact_013MP");
    ratio("BM_SpreadPreviewCached_24MP", "BM_SpreadExact_013MP");
    return 0;
}
