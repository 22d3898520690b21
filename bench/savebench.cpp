// What a 24-megapixel save costs, by the writers saves use now against the
// toolkit's writers that saves used before, in the same run: the whole save
// (composing, encoding, writing the file) and the file's size. The photo is a
// mosaic of real photos from the packages' sample data, grey as the photos
// Brivela colours are, with the left half coloured.

#include "app/jpegencoder.h"
#include "app/photofile.h"
#include "app/pngencoder.h"
#include "app/workfile.h"
#include "imaging/colourisetable.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QImageWriter>
#include <QSaveFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>
#include <ctime>
#include <spng.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr int photoWidth = 6000;
constexpr int photoHeight = 4000;

struct Result {
    double ms;
    double cpuMs;
    double megabytes;
};

// The calling thread's processor time: on a shared machine, wall-clock time
// also counts waiting for a core.
double threadCpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}
std::map<std::string, Result> results; // medians, by benchmark

// 8 x 8 tiles of 750 x 500 cut from real photos; no photo appears twice in
// a row of tiles, so that the compressor finds no copies within its reach.
const QImage &mosaic()
{
    static const QImage image = [] {
        const QStringList names = {
            QStringLiteral("/usr/lib/python3/dist-packages/skimage/data/astronaut.png"),
            QStringLiteral("/usr/lib/python3/dist-packages/skimage/data/camera.png"),
            QStringLiteral("/usr/lib/python3/dist-packages/skimage/data/chelsea.png"),
            QStringLiteral("/usr/lib/python3/dist-packages/skimage/data/coffee.png"),
            QStringLiteral("/usr/lib/python3/dist-packages/skimage/data/hubble_deep_field.jpg"),
            QStringLiteral("/usr/lib/python3/dist-packages/skimage/data/motorcycle_left.png"),
            QStringLiteral("/usr/lib/python3/dist-packages/skimage/data/rocket.jpg"),
            QStringLiteral("/usr/lib/python3/dist-packages/skimage/data/moon.png"),
            QStringLiteral("/usr/lib/python3/dist-packages/skimage/data/grass.png"),
            QStringLiteral("/usr/lib/python3/dist-packages/skimage/data/gravel.png"),
            QStringLiteral("/usr/share/doc/opencv-doc/examples/data/graf1.png"),
            QStringLiteral("/usr/share/doc/opencv-doc/examples/data/leuvenA.jpg"),
            QStringLiteral("/usr/share/doc/opencv-doc/examples/data/aloeL.jpg"),
            QStringLiteral("/usr/share/doc/opencv-doc/examples/data/baboon.jpg"),
            QStringLiteral("/usr/share/doc/opencv-doc/examples/data/board.jpg"),
            QStringLiteral("/usr/share/doc/opencv-doc/examples/data/fruits.jpg"),
        };
        const QSize tile(750, 500);
        QList<QImage> tiles;
        for (const QString &name : names) {
            const QImage photo(name);
            if (photo.isNull())
                continue;
            const QImage scaled = photo.width() >= tile.width() && photo.height() >= tile.height()
                ? photo
                : photo.scaled(tile, Qt::KeepAspectRatioByExpanding, Qt::SmoothTransformation);
            tiles.append(
                scaled
                    .copy(
                        QRect(QPoint((scaled.width() - tile.width()) / 2, (scaled.height() - tile.height()) / 2), tile))
                    .convertToFormat(QImage::Format_Grayscale8));
        }
        if (tiles.size() < 8)
            qFatal("the sample photos of python3-skimage and opencv-doc are needed");
        QImage out(photoWidth, photoHeight, QImage::Format_Grayscale8);
        for (int row = 0; row < photoHeight / tile.height(); ++row) {
            for (int column = 0; column < photoWidth / tile.width(); ++column) {
                const QImage &source = tiles[(row * 3 + column) % tiles.size()];
                for (int y = 0; y < tile.height(); ++y)
                    std::copy_n(source.constScanLine(y), tile.width(),
                                out.scanLine(row * tile.height() + y) + column * tile.width());
            }
        }
        return out;
    }();
    return image;
}

const QImage &layer()
{
    static const QImage image = [] {
        const QImage &photo = mosaic();
        const ColouriseTable colours(0xFFFF0000);
        QImage out(photo.size(), QImage::Format_ARGB32);
        out.fill(0);
        for (int y = 0; y < out.height(); ++y) {
            auto *line = reinterpret_cast<QRgb *>(out.scanLine(y));
            for (int x = 0; x < out.width() / 2; ++x)
                line[x] = colours.colourFor(ColouriseTable::valueAt(photo, x, y));
        }
        return out;
    }();
    return image;
}

QTemporaryDir &folder()
{
    static QTemporaryDir dir;
    return dir;
}

template <typename Save> void measure(benchmark::State &state, const char *name, const QString &fileName, Save save)
{
    mosaic();
    layer();
    std::vector<double> times;
    std::vector<double> cpu;
    QElapsedTimer timer;
    for (auto _ : state) {
        const double cpuStart = threadCpuMs();
        timer.start();
        if (!save(fileName))
            state.SkipWithError("the save failed");
        times.push_back(timer.nsecsElapsed() / 1e6);
        cpu.push_back(threadCpuMs() - cpuStart);
    }
    std::sort(times.begin(), times.end());
    std::sort(cpu.begin(), cpu.end());
    const double megabytes = QFileInfo(fileName).size() / 1e6;
    results[name] = {times[times.size() / 2], cpu[cpu.size() / 2], megabytes};
    state.counters["median_ms"] = results[name].ms;
    state.counters["cpu_ms"] = results[name].cpuMs;
    state.counters["file_MB"] = megabytes;
    QFile::remove(fileName);
}

// A save as it was before: composed, then the toolkit's writer into a file
// written beside the target.
bool saveBefore(const QString &fileName, const QByteArray &format)
{
    const QImage image = PhotoFile::composed(mosaic(), QImage(), layer(), format);
    QSaveFile file(fileName);
    file.open(QIODevice::WriteOnly);
    QImageWriter writer(&file, format);
    if (format != "png")
        writer.setQuality(100);
    return writer.write(image) && file.commit();
}

void BM_PngSaveBefore(benchmark::State &state)
{
    measure(state, "PNG before", folder().filePath(QStringLiteral("before.png")),
            [](const QString &name) { return saveBefore(name, "png"); });
}

void BM_PngSave(benchmark::State &state)
{
    measure(state, "PNG now", folder().filePath(QStringLiteral("now.png")),
            [](const QString &name) { return PhotoFile(name).write(mosaic(), QImage(), layer()); });
}

void BM_JpgSaveBefore(benchmark::State &state)
{
    measure(state, "JPG before", folder().filePath(QStringLiteral("before.jpg")),
            [](const QString &name) { return saveBefore(name, "jpg"); });
}

void BM_JpgSave(benchmark::State &state)
{
    measure(state, "JPG now", folder().filePath(QStringLiteral("now.jpg")),
            [](const QString &name) { return PhotoFile(name).write(mosaic(), QImage(), layer()); });
}

void BM_WorkFileSave(benchmark::State &state)
{
    measure(state, "work file", folder().filePath(QStringLiteral("now.ora")), [](const QString &name) {
        return WorkFile(name).write(mosaic(), QImage(), layer(), QByteArray(), PhotoMetadata());
    });
}

// The PNG encoder alone at each compression level and filter choice: how
// the default was chosen.
void BM_PngEncoderSettings(benchmark::State &state)
{
    const int level = int(state.range(0));
    const int filters = int(state.range(1));
    static const QImage composed = PhotoFile::composed(mosaic(), QImage(), layer(), "png");
    std::vector<double> times;
    qint64 bytes = 0;
    QElapsedTimer timer;
    for (auto _ : state) {
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        PngEncoder encoder(&buffer);
        encoder.setCompressionLevel(level);
        encoder.setFilters(filters);
        timer.start();
        encoder.write(composed);
        times.push_back(timer.nsecsElapsed() / 1e6);
        bytes = buffer.size();
    }
    std::sort(times.begin(), times.end());
    state.counters["median_ms"] = times[times.size() / 2];
    state.counters["file_MB"] = bytes / 1e6;
}

} // namespace

BENCHMARK(BM_PngSaveBefore)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_PngSave)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_JpgSaveBefore)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_JpgSave)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_WorkFileSave)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_PngEncoderSettings)
    ->ArgsProduct({{1, 2, 3, 4, 6},
                   {SPNG_FILTER_CHOICE_ALL, SPNG_FILTER_CHOICE_UP, SPNG_FILTER_CHOICE_PAETH,
                    SPNG_FILTER_CHOICE_UP | SPNG_FILTER_CHOICE_SUB | SPNG_FILTER_CHOICE_PAETH}})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->UseRealTime();

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    std::printf("\n24-megapixel saves (median of 3, whole save to a file):\n");
    for (const char *format : {"PNG", "JPG"}) {
        const std::string before = std::string(format) + " before";
        const std::string now = std::string(format) + " now";
        if (!results.count(before) || !results.count(now))
            continue;
        std::printf("%s: %.0f ms (%.0f ms processor; target at most %d ms), %.1f MB; before %.0f ms (%.0f ms "
                    "processor), %.1f MB; time ratio %.2f (processor %.2f), size ratio %.3f\n",
                    format, results[now].ms, results[now].cpuMs, format == std::string("PNG") ? 3000 : 1000,
                    results[now].megabytes, results[before].ms, results[before].cpuMs, results[before].megabytes,
                    results[now].ms / results[before].ms, results[now].cpuMs / results[before].cpuMs,
                    results[now].megabytes / results[before].megabytes);
    }
    if (results.count("work file")) {
        std::printf("Work file: %.0f ms (%.0f ms processor), %.1f MB\n", results["work file"].ms,
                    results["work file"].cpuMs, results["work file"].megabytes);
    }
    return 0;
}
