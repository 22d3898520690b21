// Speed and peak memory of filling a region from one keep and one remove
// scribble, on a 1-megapixel and a 24-megapixel photo, of the preview at
// view resolution (alone, and with the outline the window shows of it), and
// of a fill that goes on from a preview of the same marks. Baselines measured in
// the same run: the whole photo cut at full resolution in one go (1 MP), and
// a plain copy of the photo (24 MP), so that the figures can be read as
// ratios on a noisy machine.

#include "memorystatus.h"

#include "app/fillcontroller.h"
#include "imaging/regionfill.h"

#include <QElapsedTimer>
#include <QFile>
#include <QImage>

#include <benchmark/benchmark.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <map>
#include <string>
#include <vector>

namespace {

double grain(int x, int y, int seed)
{
    quint32 h = quint32(x) * 374761393u + quint32(y) * 668265263u + quint32(seed) * 2246822519u;
    h = (h ^ (h >> 13)) * 1274126177u;
    return double((h ^ (h >> 16)) & 0xFFFF) / 65535.0;
}

double valueNoise(double x, double y, int seed)
{
    const int x0 = int(std::floor(x));
    const int y0 = int(std::floor(y));
    const double fx = x - x0;
    const double fy = y - y0;
    const double top = grain(x0, y0, seed) * (1 - fx) + grain(x0 + 1, y0, seed) * fx;
    const double bottom = grain(x0, y0 + 1, seed) * (1 - fx) + grain(x0 + 1, y0 + 1, seed) * fx;
    return top * (1 - fy) + bottom * fy;
}

// A lumpy textured object left of centre and five shaded coins on a mottled
// ground, brightness steps of about 40 at every border; the keep scribble
// crosses the object, the remove scribble runs down the ground at the left.
struct FillScene {
    QImage photo;
    QList<QPoint> keep;
    QList<QPoint> remove;
};

FillScene fillScene(int w, int h)
{
    FillScene s;
    s.photo = QImage(w, h, QImage::Format_RGB32);
    const double unit = std::min(w, h) / 10.0;
    const double cx = 4.0 * unit;
    const double cy = 5.0 * unit;
    const double radius = 3.0 * unit;
    const double coins[][3] = {
        {8.5, 2.0, 1.0}, {9.0, 5.0, 1.2}, {8.2, 8.0, 0.9}, {w / unit - 1.5, 8.3, 1.1}, {w / unit - 1.5, 2.0, 0.8}};
    for (int y = 0; y < h; ++y) {
        auto *line = reinterpret_cast<QRgb *>(s.photo.scanLine(y));
        for (int x = 0; x < w; ++x) {
            double v = 95 + 24 * (valueNoise(x / unit, y / unit, 1) - 0.5) + 8 * (grain(x, y, 2) - 0.5);
            const double a = std::atan2(y - cy, x - cx);
            if (std::hypot(x - cx, y - cy) < radius * (1 + 0.15 * std::sin(3 * a) + 0.07 * std::sin(7 * a + 1)))
                v = 138 + 16 * (valueNoise(x * 4 / unit, y * 4 / unit, 3) - 0.5) + 8 * std::sin(x * 0.7 + y * 0.3)
                    + 8 * (grain(x, y, 4) - 0.5);
            for (const auto &c : coins) {
                const double dx = (x - c[0] * unit) / (c[2] * unit);
                const double dy = (y - c[1] * unit) / (c[2] * unit);
                if (dx * dx + dy * dy < 1)
                    v = 175 - 17 * (dx + dy) - 20 * (dx * dx + dy * dy)
                        + 20 * (valueNoise(x * 3 / unit, y * 3 / unit, 5) - 0.5);
            }
            const int g = std::clamp(int(v), 0, 255);
            line[x] = qRgb(g, g, g);
        }
    }
    for (int i = -int(radius / 2); i <= int(radius / 2); ++i)
        s.keep.append(QPoint(int(cx) + i, int(cy) + i / 4));
    for (int i = int(unit); i < int(9 * unit); ++i)
        s.remove.append(QPoint(int(0.4 * unit), i));
    return s;
}

// Patches cut from a smooth noise field by a threshold, lighter by 45 than
// the ground between them: a boundary of many thousand pixels. The keep marks
// lie on every patch that the middle row crosses, the remove marks between.
FillScene patchScene(int w, int h)
{
    FillScene s;
    s.photo = QImage(w, h, QImage::Format_RGB32);
    const double scale = std::min(w, h) / 25.0;
    for (int y = 0; y < h; ++y) {
        auto *line = reinterpret_cast<QRgb *>(s.photo.scanLine(y));
        for (int x = 0; x < w; ++x) {
            const double f = 0.6 * valueNoise(x / scale, y / scale, 11)
                + 0.3 * valueNoise(2 * x / scale, 2 * y / scale, 12)
                + 0.1 * valueNoise(4 * x / scale, 4 * y / scale, 13);
            const int g = (f > 0.5 ? 150 : 105) + int(20 * (valueNoise(x / scale, y / scale, 14) - 0.5))
                + int(8 * (grain(x, y, 15) - 0.5));
            line[x] = qRgb(g, g, g);
        }
    }
    for (int x = 0; x < w; x += 3)
        (qGray(s.photo.pixel(x, h / 2)) > 127 ? s.keep : s.remove).append(QPoint(x, h / 2));
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

void fill(benchmark::State &state, const char *name, int width, int height, qint64 cutPixels,
          FillScene (*make)(int, int) = fillScene)
{
    const FillScene scene = make(width, height);
    std::vector<double> times;
    QElapsedTimer timer;
    for (auto _ : state) {
        timer.start();
        const RegionFill::Result result =
            RegionFill::compute(scene.photo, scene.keep, scene.remove, nullptr, {}, cutPixels);
        times.push_back(timer.nsecsElapsed() / 1e6);
        if (result.outcome != RegionFill::Outcome::Filled)
            state.SkipWithError("nothing filled");
        benchmark::DoNotOptimize(result.spans.size());
    }
    record(state, name, times);
}

// The preview a marker drag asks for: the region at the largest halving of
// the photo that fits `viewPixels`.
void preview(benchmark::State &state, const char *name, int width, int height, qint64 viewPixels)
{
    const FillScene scene = fillScene(width, height);
    std::vector<double> times;
    QElapsedTimer timer;
    for (auto _ : state) {
        timer.start();
        const RegionFill::Preview result = RegionFill::preview(scene.photo, scene.keep, scene.remove, viewPixels);
        times.push_back(timer.nsecsElapsed() / 1e6);
        if (result.outcome != RegionFill::Outcome::Filled)
            state.SkipWithError("nothing previewed");
        benchmark::DoNotOptimize(result.spans.size());
    }
    record(state, name, times);
}

// What a drag of marks costs until the window can show its outline: the
// preview and the outline picture made of it (on the preview's worker).
void previewShown(benchmark::State &state, const char *name, int width, int height, qint64 viewPixels)
{
    const FillScene scene = fillScene(width, height);
    std::vector<double> times;
    QElapsedTimer timer;
    for (auto _ : state) {
        timer.start();
        const RegionFill::Preview result = RegionFill::preview(scene.photo, scene.keep, scene.remove, viewPixels);
        const QImage picture = FillController::outline(result);
        times.push_back(timer.nsecsElapsed() / 1e6);
        if (picture.isNull())
            state.SkipWithError("nothing previewed");
        benchmark::DoNotOptimize(picture.constBits());
    }
    record(state, name, times);
}

// After a drag on a photo the view shows larger than the quick preview: the
// quick preview and its outline (what shows first), and then the preview
// carried on to the view's size with its outline (what replaces it).
void quickThenSharp(benchmark::State &state, const char *quickName, const char *sharpName, int width, int height,
                    qint64 viewPixels)
{
    const FillScene scene = fillScene(width, height);
    std::vector<double> quickTimes;
    std::vector<double> sharpTimes;
    QElapsedTimer timer;
    for (auto _ : state) {
        timer.start();
        const RegionFill::Preview quick =
            RegionFill::preview(scene.photo, scene.keep, scene.remove, FillController::quickPreviewPixels);
        const QImage first = FillController::outline(quick);
        quickTimes.push_back(timer.nsecsElapsed() / 1e6);
        timer.start();
        const RegionFill::Preview sharp = RegionFill::sharpen(scene.photo, quick, viewPixels);
        const QImage second = FillController::outline(sharp);
        sharpTimes.push_back(timer.nsecsElapsed() / 1e6);
        if (first.isNull() || second.isNull() || sharp.scale >= quick.scale)
            state.SkipWithError("no quick and sharp preview");
        benchmark::DoNotOptimize(second.constBits());
    }
    record(state, sharpName, sharpTimes);
    record(state, quickName, quickTimes);
}

// The outline picture alone, of a preview made beforehand.
void outlineOnly(benchmark::State &state, const char *name, int width, int height, qint64 viewPixels)
{
    const FillScene scene = fillScene(width, height);
    const RegionFill::Preview shown = RegionFill::preview(scene.photo, scene.keep, scene.remove, viewPixels);
    std::vector<double> times;
    QElapsedTimer timer;
    for (auto _ : state) {
        timer.start();
        const QImage picture = FillController::outline(shown);
        times.push_back(timer.nsecsElapsed() / 1e6);
        benchmark::DoNotOptimize(picture.constBits());
    }
    record(state, name, times);
}

// Fill once the preview of the same marks is shown: only the refinement.
void fillFromPreview(benchmark::State &state, const char *name, int width, int height, qint64 viewPixels)
{
    const FillScene scene = fillScene(width, height);
    const RegionFill::Preview shown = RegionFill::preview(scene.photo, scene.keep, scene.remove, viewPixels);
    std::vector<double> times;
    QElapsedTimer timer;
    for (auto _ : state) {
        timer.start();
        const RegionFill::Result result = RegionFill::refine(scene.photo, shown);
        times.push_back(timer.nsecsElapsed() / 1e6);
        if (result.outcome != RegionFill::Outcome::Filled)
            state.SkipWithError("nothing filled");
        benchmark::DoNotOptimize(result.spans.size());
    }
    record(state, name, times);
}

void photoCopy(benchmark::State &state, const char *name, int width, int height)
{
    const FillScene scene = fillScene(width, height);
    std::vector<double> times;
    QElapsedTimer timer;
    for (auto _ : state) {
        timer.start();
        QImage copy = scene.photo.copy();
        benchmark::DoNotOptimize(copy.bits());
        times.push_back(timer.nsecsElapsed() / 1e6);
    }
    record(state, name, times);
}

constexpr qint64 wholePhoto = std::numeric_limits<qint64>::max();

void BM_Fill_1MP(benchmark::State &state)
{
    fill(state, "BM_Fill_1MP", 1224, 816, RegionFill::defaultCutPixels);
}
void BM_FillSingleCut_1MP(benchmark::State &state)
{
    fill(state, "BM_FillSingleCut_1MP", 1224, 816, wholePhoto);
}
void BM_Fill_24MP(benchmark::State &state)
{
    fill(state, "BM_Fill_24MP", 6000, 4000, RegionFill::defaultCutPixels);
}
void BM_FillPatches_24MP(benchmark::State &state)
{
    fill(state, "BM_FillPatches_24MP", 6000, 4000, RegionFill::defaultCutPixels, patchScene);
}
void BM_PhotoCopy_24MP(benchmark::State &state)
{
    photoCopy(state, "BM_PhotoCopy_24MP", 6000, 4000);
}
// A 1-megapixel photo shown whole, and a 24-megapixel one fitted in a 1920 x
// 1080 view (1620 x 1080 pixels of it on screen).
void BM_Preview_1MP(benchmark::State &state)
{
    preview(state, "BM_Preview_1MP", 1224, 816, 1224 * 816);
}
void BM_Preview_24MP_View(benchmark::State &state)
{
    preview(state, "BM_Preview_24MP_View", 6000, 4000, 1620 * 1080);
}
void BM_PreviewShown_1MP(benchmark::State &state)
{
    previewShown(state, "BM_PreviewShown_1MP", 1224, 816, 1224 * 816);
}
void BM_PreviewShown_24MP_View(benchmark::State &state)
{
    previewShown(state, "BM_PreviewShown_24MP_View", 6000, 4000, 1620 * 1080);
}
void BM_QuickThenSharp_1MP(benchmark::State &state)
{
    quickThenSharp(state, "quick preview shown, 1 MP", "then sharpened, 1 MP", 1224, 816, 1224 * 816);
}
void BM_QuickThenSharp_24MP_View(benchmark::State &state)
{
    quickThenSharp(state, "quick preview shown, 24 MP", "then sharpened, 24 MP", 6000, 4000, 1620 * 1080);
}
void BM_PreviewOutline_1MP(benchmark::State &state)
{
    outlineOnly(state, "BM_PreviewOutline_1MP", 1224, 816, 1224 * 816);
}
void BM_FillFromPreview_1MP(benchmark::State &state)
{
    fillFromPreview(state, "BM_FillFromPreview_1MP", 1224, 816, 1224 * 816);
}
void BM_FillFromPreview_24MP(benchmark::State &state)
{
    fillFromPreview(state, "BM_FillFromPreview_24MP", 6000, 4000, 1620 * 1080);
}

// Peak resident memory of one fill above what the open photo already holds,
// against the photo's size as a 32-bit image. Each in a process of its own,
// so that no earlier measurement has left the heap grown. Linux only. Cold:
// the first fill of the process, which also brings the fill's code into
// memory and starts the worker threads' heaps. Warm: after one fill of a
// small photo, as in the program, where the preview has run before Fill.
void peakMemory(const char *what, FillScene (*make)(int, int), int width, int height, bool warm)
{
    std::fflush(stdout);
    const pid_t child = fork();
    if (child != 0) {
        int status = 0;
        waitpid(child, &status, 0);
        return;
    }
    if (warm) {
        const FillScene small = make(160, 120);
        RegionFill::compute(small.photo, small.keep, small.remove);
    }
    const FillScene scene = make(width, height);
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (!clear.open(QIODevice::WriteOnly) || clear.write("5") != 1) {
        std::printf("peak memory: cannot reset the peak on this system\n");
        std::fflush(stdout);
        _exit(0);
    }
    clear.close();
    const long before = MemoryStatus::kb("VmRSS:");
    const RegionFill::Result result = RegionFill::compute(scene.photo, scene.keep, scene.remove);
    const long peak = MemoryStatus::kb("VmHWM:");
    const double photoKb = double(width) * height * 4 / 1024;
    std::printf("peak memory of a fill, %s, %d x %d, %s (%s, %lld spans): %.1f MB = %.2f x the photo as a 32-bit "
                "image\n",
                what, width, height, warm ? "warm" : "cold",
                result.outcome == RegionFill::Outcome::Filled ? "filled" : "NOT filled", qlonglong(result.spans.size()),
                (peak - before) / 1024.0, (peak - before) / photoKb);
    std::fflush(stdout);
    _exit(0);
}

} // namespace

BENCHMARK(BM_Fill_1MP)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_FillSingleCut_1MP)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_Fill_24MP)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_FillPatches_24MP)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_PhotoCopy_24MP)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_Preview_1MP)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_Preview_24MP_View)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_PreviewShown_1MP)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_PreviewShown_24MP_View)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_QuickThenSharp_1MP)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_QuickThenSharp_24MP_View)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_PreviewOutline_1MP)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_FillFromPreview_1MP)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_FillFromPreview_24MP)->Unit(benchmark::kMillisecond)->Iterations(5);

int main(int argc, char **argv)
{
    for (const bool warm : {false, true}) {
        peakMemory("object", fillScene, 1224, 816, warm);
        peakMemory("object", fillScene, 6000, 4000, warm);
        peakMemory("patches", patchScene, 6000, 4000, warm);
    }

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    const auto median = [](const char *name) {
        const auto found = medians.find(name);
        return found == medians.end() ? 0.0 : found->second;
    };
    const auto ratio = [&median](const char *a, const char *b) {
        if (median(a) > 0 && median(b) > 0)
            std::printf("%-22s / %-22s = %8.2f\n", a, b, median(a) / median(b));
    };
    std::printf("\nMedian fill times: 1 MP %.1f ms (target 150), 24 MP %.1f ms and %.1f ms with a long boundary "
                "(target 1500)\n",
                median("BM_Fill_1MP"), median("BM_Fill_24MP"), median("BM_FillPatches_24MP"));
    std::printf("Median previews: 1 MP %.1f ms (target 150), 24 MP in a 1920 x 1080 view %.1f ms (target 500)\n",
                median("BM_Preview_1MP"), median("BM_Preview_24MP_View"));
    std::printf("Median previews with their outline, after a drag: 1 MP %.1f ms (target 150), 24 MP in a 1920 x 1080 "
                "view %.1f ms (target 500)\n",
                median("BM_PreviewShown_1MP"), median("BM_PreviewShown_24MP_View"));
    std::printf("After a drag, the quick outline shows after 1 MP %.1f ms, 24 MP in the view %.1f ms (target 150 "
                "and 500); the sharp one replaces it %.1f ms and %.1f ms later\n",
                median("quick preview shown, 1 MP"), median("quick preview shown, 24 MP"),
                median("then sharpened, 1 MP"), median("then sharpened, 24 MP"));
    std::printf("Ratios of medians (same run):\n");
    ratio("BM_FillSingleCut_1MP", "BM_Fill_1MP");
    ratio("BM_Fill_24MP", "BM_PhotoCopy_24MP");
    ratio("BM_Fill_24MP", "BM_Fill_1MP");
    ratio("BM_FillPatches_24MP", "BM_PhotoCopy_24MP");
    ratio("BM_Preview_24MP_View", "BM_PhotoCopy_24MP");
    ratio("BM_Preview_1MP", "BM_Fill_1MP");
    ratio("BM_Preview_24MP_View", "BM_Fill_24MP");
    ratio("BM_PreviewShown_1MP", "BM_Fill_1MP");
    ratio("BM_PreviewShown_24MP_View", "BM_Fill_24MP");
    ratio("quick preview shown, 1 MP", "BM_Fill_1MP");
    ratio("quick preview shown, 24 MP", "BM_Fill_24MP");
    ratio("BM_FillFromPreview_1MP", "BM_Fill_1MP");
    ratio("BM_FillFromPreview_24MP", "BM_Fill_24MP");
    return 0;
}
