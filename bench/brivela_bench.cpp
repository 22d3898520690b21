// Speed of one brush step on camera-sized photos, for the program's colour
// layer and for the straightforward reference in the same run. Figures are
// reported as ratios, since the machines are noisy.

#include "benchscene.h"
#include "testsupport.h"
#include "windowbench.h"

#include "app/document.h"
#include "app/mainwindow.h"
#include "colourlayer/czefgraphicsimagemaskitem.h"

#include <QAction>
#include <QApplication>
#include <QGraphicsView>
#include <QImageWriter>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

std::map<std::string, double> medians; // milliseconds per brush step, by benchmark

void brushSteps(benchmark::State &state, const char *name, int width, int height, bool fit, bool reference)
{
    BenchScene scene(width, height, fit, reference);
    std::vector<double> times;
    QElapsedTimer timer;
    for (auto _ : state) {
        timer.start();
        scene.brushStep();
        times.push_back(timer.nsecsElapsed() / 1e6);
    }
    std::sort(times.begin(), times.end());
    const double median = times[times.size() / 2];
    state.counters["median_ms"] = median;
    medians[name] = median;
}

void BM_BrushStep_24MP_Scale1(benchmark::State &state)
{
    brushSteps(state, "BM_BrushStep_24MP_Scale1", 6000, 4000, false, false);
}
void BM_BrushStep_24MP_Fit(benchmark::State &state)
{
    brushSteps(state, "BM_BrushStep_24MP_Fit", 6000, 4000, true, false);
}
void BM_BrushStep_100MP_Scale1(benchmark::State &state)
{
    brushSteps(state, "BM_BrushStep_100MP_Scale1", 10000, 10000, false, false);
}
void BM_ReferenceBrushStep_24MP_Scale1(benchmark::State &state)
{
    brushSteps(state, "BM_ReferenceBrushStep_24MP_Scale1", 6000, 4000, false, true);
}
void BM_ReferenceBrushStep_24MP_Fit(benchmark::State &state)
{
    brushSteps(state, "BM_ReferenceBrushStep_24MP_Fit", 6000, 4000, true, true);
}

// Open a 24-megapixel JPEG through the real window and show it.
void BM_Open_24MP(benchmark::State &state)
{
    QTemporaryDir dir;
    const QString name = dir.filePath(QStringLiteral("photo.jpg"));
    benchPhoto(6000, 4000).save(name, "jpg", 90);
    MainWindow window;
    window.resize(1920, 1080);
    window.show();
    QApplication::processEvents();
    for (auto _ : state) {
        TestSupport::answerFileDialog(name);
        window.findChild<QAction *>(QStringLiteral("actionOpen"))->trigger();
        window.findChild<QGraphicsView *>()->viewport()->repaint();
    }
}

// Strokes through the real window: each iteration is one whole drag of
// `moves` moves, each `step` view pixels from the last; the figures are taken
// over every move of every iteration.
std::unique_ptr<WindowBench> sharedWindowBench; // made once: opening the photo takes seconds

WindowBench &windowBench()
{
    if (!sharedWindowBench)
        sharedWindowBench = std::make_unique<WindowBench>();
    return *sharedWindowBench;
}

std::map<std::string, std::vector<double>> moveTimes;
std::map<std::string, std::vector<double>> moveCpuTimes;

double percentile(std::vector<double> times, double p)
{
    std::sort(times.begin(), times.end());
    return times.empty() ? 0 : times[std::min(times.size() - 1, size_t(p * double(times.size())))];
}

void strokes(benchmark::State &state, const char *name, int brush, bool fit, int moves, bool pointLists,
             bool natural = false, int softness = 0)
{
    WindowBench &bench = windowBench();
    bench.setBrush(brush, fit);
    Document *document = bench.mainWindow()->document();
    document->setModel(natural ? StrokeStyle::Model::Natural : StrokeStyle::Model::Classic);
    document->setSoftness(softness);
    std::vector<double> &all = moveTimes[name];
    for (auto _ : state) {
        const std::vector<double> times = pointLists ? bench.pointListDrag(moves, 200) : bench.drag(moves, 200);
        all.insert(all.end(), times.begin(), times.end());
        moveCpuTimes[name].insert(moveCpuTimes[name].end(), bench.lastCpuTimes().begin(), bench.lastCpuTimes().end());
        state.PauseTiming();
        if (!pointLists)
            bench.undo(); // every drag starts from the same layer
        state.ResumeTiming();
    }
    state.counters["median_ms"] = percentile(all, 0.5);
    state.counters["p95_ms"] = percentile(all, 0.95);
}

void BM_Stroke_Brush40_Scale1(benchmark::State &state)
{
    strokes(state, "brush 40, scale 1", 40, false, 120, false);
}
void BM_Stroke_Brush300_Fit(benchmark::State &state)
{
    strokes(state, "brush 300, fit", 300, true, 120, false);
}
void BM_Stroke_Brush999_Fit(benchmark::State &state)
{
    strokes(state, "brush 999, fit", 999, true, 120, false);
}
void BM_Stroke_Brush40_Scale1_NaturalSoft50(benchmark::State &state)
{
    strokes(state, "natural, soft 50: brush 40, scale 1", 40, false, 120, false, true, 50);
}
void BM_Stroke_Brush300_Fit_NaturalSoft50(benchmark::State &state)
{
    strokes(state, "natural, soft 50: brush 300, fit", 300, true, 120, false, true, 50);
}
void BM_Stroke_Brush999_Fit_NaturalSoft50(benchmark::State &state)
{
    strokes(state, "natural, soft 50: brush 999, fit", 999, true, 120, false, true, 50);
}
void BM_PointLists_Brush40_Scale1(benchmark::State &state)
{
    strokes(state, "point lists: brush 40, scale 1", 40, false, 120, true);
}
void BM_PointLists_Brush300_Fit(benchmark::State &state)
{
    strokes(state, "point lists: brush 300, fit", 300, true, 20, true);
}
void BM_PointLists_Brush999_Fit(benchmark::State &state)
{
    strokes(state, "point lists: brush 999, fit", 999, true, 6, true);
}

// Undo of a 60-move stroke of brush 300 at the fitting zoom, to the end of
// its repaint. The baseline is the point-list step of the same brush.
// A stroke that changes no pixel is no undo step, and the point-list runs
// leave their colour along the same path: each measured stroke takes a
// colour of its own, so that it always changes pixels and has a step.
void newStrokeColour(WindowBench &bench)
{
    static int next = 0;
    const QRgb colours[] = {qRgb(30, 144, 255), qRgb(255, 140, 0), qRgb(60, 179, 113)};
    bench.mainWindow()->document()->setBrushColour(colours[next++ % 3]);
}

void BM_Undo_Brush300_Fit(benchmark::State &state)
{
    WindowBench &bench = windowBench();
    bench.setBrush(300, true);
    std::vector<double> &all = moveTimes["undo of a 60-move brush 300 stroke, fit"];
    for (auto _ : state) {
        state.PauseTiming();
        newStrokeColour(bench);
        bench.drag(60, 200);
        state.ResumeTiming();
        all.push_back(bench.undo());
        moveCpuTimes["undo of a 60-move brush 300 stroke, fit"].push_back(bench.lastCpuTimes().front());
    }
    state.counters["median_ms"] = percentile(all, 0.5);
}

// Undo and redo of one brush-999 stroke across the whole photo at the
// fitting zoom: about a quarter of the photo's pixels change.
void undoRedoAcross(benchmark::State &state, bool reduced)
{
    WindowBench &bench = windowBench();
    bench.setBrush(999, true);
    CZefGraphicsImageMaskItem::setReducedCopies(reduced);
    const char *undoName =
        reduced ? "undo of a brush 999 stroke across, fit" : "softened picture: undo 999 across, fit";
    const char *redoName =
        reduced ? "redo of a brush 999 stroke across, fit" : "softened picture: redo 999 across, fit";
    for (auto _ : state) {
        state.PauseTiming();
        newStrokeColour(bench);
        bench.dragAcross(30);
        state.ResumeTiming();
        moveTimes[undoName].push_back(bench.undo());
        moveCpuTimes[undoName].push_back(bench.lastCpuTimes().front());
        moveTimes[redoName].push_back(bench.redo());
        moveCpuTimes[redoName].push_back(bench.lastCpuTimes().front());
        state.PauseTiming();
        bench.undo(); // the next stroke starts from the same layer
        state.ResumeTiming();
    }
    state.counters["undo_median_ms"] = percentile(moveTimes[undoName], 0.5);
    state.counters["redo_median_ms"] = percentile(moveTimes[redoName], 0.5);
    CZefGraphicsImageMaskItem::setReducedCopies(true);
}
void BM_UndoRedo_Brush999_Across_Fit(benchmark::State &state)
{
    undoRedoAcross(state, true);
}
// The baseline: zoomed out, the softened picture drawn scaled.
void BM_SoftenedPicture_UndoRedo_Brush999_Across_Fit(benchmark::State &state)
{
    undoRedoAcross(state, false);
}
void BM_SoftenedPicture_Stroke_Brush999_Fit(benchmark::State &state)
{
    CZefGraphicsImageMaskItem::setReducedCopies(false);
    strokes(state, "softened picture: brush 999, fit", 999, true, 120, false);
    CZefGraphicsImageMaskItem::setReducedCopies(true);
}

BENCHMARK(BM_Stroke_Brush40_Scale1)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_Stroke_Brush300_Fit)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_Stroke_Brush999_Fit)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_Stroke_Brush40_Scale1_NaturalSoft50)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_Stroke_Brush300_Fit_NaturalSoft50)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_Stroke_Brush999_Fit_NaturalSoft50)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_PointLists_Brush40_Scale1)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_PointLists_Brush300_Fit)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_PointLists_Brush999_Fit)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_Undo_Brush300_Fit)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_BrushStep_24MP_Scale1)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_BrushStep_24MP_Fit)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_BrushStep_100MP_Scale1)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_ReferenceBrushStep_24MP_Scale1)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_ReferenceBrushStep_24MP_Fit)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_Open_24MP)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_UndoRedo_Brush999_Across_Fit)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_SoftenedPicture_UndoRedo_Brush999_Across_Fit)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_SoftenedPicture_Stroke_Brush999_Fit)->Unit(benchmark::kMillisecond)->Iterations(2);

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    TestSupport::nameApplication();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    sharedWindowBench.reset(); // the window goes before the application object

    const auto ratio = [](const char *a, const char *b) {
        if (!medians.count(a) || !medians.count(b))
            return;
        std::printf("%-34s / %-34s = %8.2f\n", a, b, medians[a] / medians[b]);
    };
    std::printf("\nRatios of median brush steps (same run):\n");
    ratio("BM_ReferenceBrushStep_24MP_Scale1", "BM_BrushStep_24MP_Scale1");
    ratio("BM_ReferenceBrushStep_24MP_Fit", "BM_BrushStep_24MP_Fit");
    ratio("BM_BrushStep_100MP_Scale1", "BM_BrushStep_24MP_Scale1");
    ratio("BM_BrushStep_24MP_Fit", "BM_BrushStep_24MP_Scale1");

    std::printf("\nStroke moves through the window (6000 x 4000 photo, 1920 x 1080 canvas, 200-pixel moves):\n");
    for (const auto &[name, times] : moveTimes)
        std::printf(
            "%-44s median %8.2f ms   p95 %8.2f ms   (%zu samples); main-thread CPU: median %8.2f ms   p95 %8.2f ms\n",
            name.c_str(), percentile(times, 0.5), percentile(times, 0.95), times.size(),
            percentile(moveCpuTimes[name], 0.5), percentile(moveCpuTimes[name], 0.95));
    const auto strokeRatio = [](const char *base, const char *name, double p) {
        if (moveTimes.count(base) && moveTimes.count(name))
            std::printf("%-44s / %-30s = %8.1f x\n", base, name,
                        percentile(moveTimes[base], p) / percentile(moveTimes[name], p));
    };
    strokeRatio("point lists: brush 40, scale 1", "brush 40, scale 1", 0.5);
    strokeRatio("point lists: brush 300, fit", "brush 300, fit", 0.95);
    strokeRatio("point lists: brush 999, fit", "brush 999, fit", 0.95);
    strokeRatio("point lists: brush 300, fit", "undo of a 60-move brush 300 stroke, fit", 0.5);
    strokeRatio("softened picture: brush 999, fit", "brush 999, fit", 0.95);
    strokeRatio("softened picture: undo 999 across, fit", "undo of a brush 999 stroke across, fit", 0.5);
    strokeRatio("softened picture: redo 999 across, fit", "redo of a brush 999 stroke across, fit", 0.5);
    return 0;
}
