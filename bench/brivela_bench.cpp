// Speed of one brush step on camera-sized photos, for the program's colour
// layer and for the straightforward reference in the same run. Figures are
// reported as ratios, since the machines are noisy.

#include "benchscene.h"
#include "testsupport.h"

#include "app/mainwindow.h"

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

void BM_BrushStep_24MP_Scale1(benchmark::State &state) { brushSteps(state, "BM_BrushStep_24MP_Scale1", 6000, 4000, false, false); }
void BM_BrushStep_24MP_Fit(benchmark::State &state) { brushSteps(state, "BM_BrushStep_24MP_Fit", 6000, 4000, true, false); }
void BM_BrushStep_100MP_Scale1(benchmark::State &state) { brushSteps(state, "BM_BrushStep_100MP_Scale1", 10000, 10000, false, false); }
void BM_ReferenceBrushStep_24MP_Scale1(benchmark::State &state) { brushSteps(state, "BM_ReferenceBrushStep_24MP_Scale1", 6000, 4000, false, true); }
void BM_ReferenceBrushStep_24MP_Fit(benchmark::State &state) { brushSteps(state, "BM_ReferenceBrushStep_24MP_Fit", 6000, 4000, true, true); }

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

} // namespace

BENCHMARK(BM_BrushStep_24MP_Scale1)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_BrushStep_24MP_Fit)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_BrushStep_100MP_Scale1)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_ReferenceBrushStep_24MP_Scale1)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_ReferenceBrushStep_24MP_Fit)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_Open_24MP)->Unit(benchmark::kMillisecond)->Iterations(5);

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    TestSupport::nameApplication();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

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
    return 0;
}
