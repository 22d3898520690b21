// What a recovery record of a camera-sized layer costs the UI thread, against
// encoding the same layer as PNG right there, in the same run.

#include "benchscene.h"
#include "testsupport.h"

#include "app/recoverystore.h"
#include "imaging/colourisetable.h"

#include <QApplication>
#include <QBuffer>
#include <QElapsedTimer>
#include <QImageWriter>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <map>
#include <string>
#include <vector>

namespace {

std::map<std::string, double> medians; // milliseconds, by benchmark

// The calling thread's processor time: on a shared machine, wall-clock time
// also counts waiting for a core.
double threadCpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

// 6000 x 4000, the left half coloured red over the bench photo's texture.
const QImage &layer24MP()
{
    static const QImage layer = [] {
        const QImage photo = benchPhoto(6000, 4000);
        const ColouriseTable colours(0xFFFF0000);
        QImage image(photo.size(), QImage::Format_ARGB32);
        image.fill(0);
        for (int y = 0; y < image.height(); ++y) {
            auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
            for (int x = 0; x < image.width() / 2; ++x)
                line[x] = colours.colourFor(ColouriseTable::valueAt(photo, x, y));
        }
        return image;
    }();
    return layer;
}

void report(benchmark::State &state, const char *name, std::vector<double> times)
{
    std::sort(times.begin(), times.end());
    medians[name] = times[times.size() / 2];
    state.counters["median_ms"] = medians[name];
}

// The part of a record write the UI thread waits for; the worker's encoding
// and writing is waited for outside the measurement.
void BM_RecordWriteStart_24MP(benchmark::State &state)
{
    const QImage &layer = layer24MP();
    RecoveryStore store;
    // The first write of a size only prepares the store's copy, on the worker.
    store.write(QStringLiteral("/photos/camera.jpg"), layer);
    store.waitForWrite();
    std::vector<double> times;
    std::vector<double> whole;
    std::vector<double> cpu;
    QElapsedTimer timer;
    for (auto _ : state) {
        const double cpuStart = threadCpuMs();
        timer.start();
        if (!store.write(QStringLiteral("/photos/camera.jpg"), layer))
            state.SkipWithError("the record could not be started");
        times.push_back(timer.nsecsElapsed() / 1e6);
        cpu.push_back(threadCpuMs() - cpuStart);
        state.PauseTiming();
        store.waitForWrite();
        whole.push_back(timer.nsecsElapsed() / 1e6);
        state.ResumeTiming();
    }
    store.remove();
    report(state, "BM_RecordWriteStart_24MP", times);
    std::sort(whole.begin(), whole.end());
    state.counters["until_written_ms"] = whole[whole.size() / 2];
    std::sort(cpu.begin(), cpu.end());
    state.counters["ui_cpu_ms"] = cpu[cpu.size() / 2];
}

// The baseline: the same layer encoded as PNG on the calling thread.
void BM_PngEncode_24MP(benchmark::State &state)
{
    const QImage &layer = layer24MP();
    std::vector<double> times;
    QElapsedTimer timer;
    qint64 bytes = 0;
    for (auto _ : state) {
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        timer.start();
        QImageWriter(&buffer, "png").write(layer);
        times.push_back(timer.nsecsElapsed() / 1e6);
        bytes = buffer.size();
    }
    report(state, "BM_PngEncode_24MP", times);
    state.counters["png_MB"] = bytes / 1e6;
}

} // namespace

BENCHMARK(BM_RecordWriteStart_24MP)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_PngEncode_24MP)->Unit(benchmark::kMillisecond)->Iterations(3);

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    TestSupport::nameApplication();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    const char *start = "BM_RecordWriteStart_24MP";
    const char *encode = "BM_PngEncode_24MP";
    if (medians.count(start) && medians.count(encode)) {
        std::printf("\nMedian time on the UI thread to start a 24-megapixel record: %.1f ms (target: at most 100 ms)\n",
                    medians[start]);
        std::printf("%-34s / %-34s = %8.2f\n", encode, start, medians[encode] / medians[start]);
    }
    return 0;
}
