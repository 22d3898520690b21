// The pixel work of a stroke move without the window: the swept shape and its
// painting into the colour layer, for the natural and the classic model, hard
// and soft, beside today's hard spans path (the layer item's span painting)
// in the same run. Moves follow the window benchmark: 200 view pixels each,
// zig-zagging over the boundary between a coloured and an uncoloured half of
// a 6000 x 4000 photo, brush 40 at scale 1, brushes 300 and 999 at the zoom
// that fits the photo in a 1920 x 1080 canvas; and a slow hand's moves of 10
// view pixels.

#include "colourlayer/czefgraphicsimagemaskitem.h"
#include "imaging/brushgeometry.h"
#include "imaging/strokebuffer.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

using BrushGeometry::Disc;

constexpr int photoWidth = 6000;
constexpr int photoHeight = 4000;
constexpr int moves = 120;
constexpr int moveLength = 200;
constexpr qsizetype remembered = 40; // earlier discs a soft sweep is given
// fitInView leaves a margin of 2 pixels on each side.
constexpr double fitScale = std::min((1920.0 - 4) / photoWidth, (1080.0 - 4) / photoHeight);

QImage greyPhoto()
{
    // Texture in every pixel, as a real photo has (the window benchmark's photo).
    QImage image(photoWidth, photoHeight, QImage::Format_Grayscale8);
    for (int y = 0; y < photoHeight; ++y) {
        uchar *line = image.scanLine(y);
        for (int x = 0; x < photoWidth; ++x)
            line[x] = uchar((x * 7 + y * 13 + ((x * y) >> 5)) & 0xFF);
    }
    return image;
}

struct Shared {
    QImage photo = greyPhoto();
    QImage colourPhoto; // the same in RGB32, for recolouring
    QImage layer;       // the left half coloured, as every stroke starts
};

Shared &shared()
{
    static std::unique_ptr<Shared> s;
    if (!s) {
        s = std::make_unique<Shared>();
        s->colourPhoto = s->photo.convertToFormat(QImage::Format_RGB32);
        s->layer = QImage(photoWidth, photoHeight, QImage::Format_ARGB32);
        s->layer.fill(0);
        RowSpans half;
        for (int y = 0; y < photoHeight; ++y)
            half.append(RowSpan{y, 0, photoWidth / 2 - 1});
        StrokeStyle classic;
        classic.brush = 0xFFFF0000;
        StrokeBuffer(s->layer, s->photo, classic, 0).paint(half);
    }
    return *s;
}

// The canvas's view: the photo centre at the canvas centre.
struct View {
    double scale;
    QPointF scene(const QPoint &p) const
    {
        return QPointF(photoWidth / 2.0, photoHeight / 2.0) + QPointF(p - QPoint(960, 540)) / scale;
    }
    Disc discAt(const QPoint &p, int brush) const
    {
        const int half = brush / 2;
        const QPointF c = scene(p);
        Disc disc;
        disc.centre = QPoint(BrushGeometry::truncated(c.x()), BrushGeometry::truncated(c.y()));
        disc.square = BrushGeometry::square(scene(p - QPoint(half, half)), scene(p + QPoint(half, half)));
        return disc;
    }
};

// A slow, steady hand: 10 view pixels a move, left to right across the
// middle of the canvas.
constexpr int slowStep = 10;
QPoint slowPoint(int i)
{
    return QPoint(960 - moves * slowStep / 2 + i * slowStep, 540 + i / 4);
}

QPoint pathPoint(int i)
{
    const int across = (i % 4 < 2 ? i % 4 : 4 - i % 4) - 1;
    const int down = ((i / 4) % 4 < 2 ? (i / 4) % 4 : 4 - (i / 4) % 4) - 1;
    return QPoint(960, 540) + QPoint(across * moveLength, down * moveLength / 2);
}

enum class Path { Today, Buffer };

double threadCpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

struct Figures {
    std::vector<double> move;  // whole move, milliseconds
    std::vector<double> cpu;   // its processor time: what it takes on an idle machine
    std::vector<double> shape; // the sweep alone
    qint64 pixels = 0;         // pixels handed to the painting
    qint64 changed = 0;        // of them, the span parts the painting changed
    qint64 samples = 0;
};
std::map<std::string, Figures> figures;
std::vector<std::string> order;

double percentile(std::vector<double> v, double p)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[std::min(v.size() - 1, size_t(p * double(v.size())))];
}

void strokes(benchmark::State &state, const std::string &name, int brush, double scale, Path path,
             StrokeStyle::Model model, int softness, bool colourPhoto, bool everyDisc, bool slow)
{
    Shared &s = shared();
    const QImage &photo = colourPhoto ? s.colourPhoto : s.photo;
    const View view{scale};
    const QRect area = photo.rect();
    if (!figures.count(name))
        order.push_back(name);
    Figures &f = figures[name];
    QElapsedTimer timer;

    for (auto _ : state) {
        state.PauseTiming();
        QImage layer = s.layer; // a fresh copy: every stroke starts from the same layer
        layer.detach();
        CZefGraphicsImageMaskItem item;
        std::unique_ptr<StrokeBuffer> buffer;
        if (path == Path::Today) {
            item.init(photoWidth, photoHeight, 0xFF2060E0, 0);
            LayerTileRecord start(layer.size());
            start.capture(layer, layer.rect());
            item.layer()->swapRecord(start);
            item.layer()->beginRecording(qint64(512) * 1024 * 1024);
        } else {
            StrokeStyle style;
            style.model = model;
            style.brush = 0xFF2060E0;
            style.softness = softness;
            buffer = std::make_unique<StrokeBuffer>(layer, photo, style, 0, qint64(512) * 1024 * 1024);
        }
        state.ResumeTiming();

        const auto point = [slow](int i) { return slow ? slowPoint(i) : pathPoint(i); };
        QList<Disc> history; // the discs of the last moves, as the canvas keeps them
        QPoint at = point(0);
        Disc painted = view.discAt(at, brush);
        for (int i = 0; i <= moves; ++i) {
            const double cpu = threadCpuMs();
            timer.start();
            const QPoint to = point(i);
            QList<Disc> discs;
            if (i == 0) {
                discs.append(painted);
            } else {
                for (const QPoint &q : BrushGeometry::lineSteps(at, to)) {
                    const Disc d = view.discAt(q, brush);
                    if (discs.isEmpty() || !(discs.constLast() == d))
                        discs.append(d);
                }
            }
            const Disc *last = i == 0 ? nullptr : &painted;
            qint64 pixels = 0;
            double shapeMs = 0;
            RowSpans changed;
            if (path == Path::Today || softness == 0) {
                const RowSpans spans = BrushGeometry::sweep(discs, last, area);
                shapeMs = timer.nsecsElapsed() / 1e6;
                for (const RowSpan &span : spans)
                    pixels += span.length();
                if (path == Path::Today)
                    item.updateSpansFromImage(spans, {}, &photo);
                else
                    buffer->paint(spans, &changed);
            } else {
                // As the canvas will: a soft sweep needs only some of the discs.
                const QList<Disc> swept = everyDisc ? discs : BrushGeometry::thinnedDiscs(discs, softness);
                const CoverageSpans spans = BrushGeometry::softSweep(swept, last, history, area, softness);
                history.append(swept);
                if (history.size() > remembered)
                    history.remove(0, history.size() - remembered);
                shapeMs = timer.nsecsElapsed() / 1e6;
                for (const RowSpan &span : spans.spans())
                    pixels += span.length();
                buffer->paint(spans, &changed);
            }
            const double ms = timer.nsecsElapsed() / 1e6;
            if (i > 0) { // the press is not a move
                f.move.push_back(ms);
                f.cpu.push_back(threadCpuMs() - cpu);
                f.shape.push_back(shapeMs);
                f.pixels += pixels;
                for (const RowSpan &span : changed)
                    f.changed += span.length();
                ++f.samples;
            }
            at = to;
            painted = view.discAt(at, brush);
        }

        state.PauseTiming();
        if (buffer)
            benchmark::DoNotOptimize(buffer->takeRecord().bytes());
        else
            benchmark::DoNotOptimize(item.layer()->endRecording().bytes());
        state.ResumeTiming();
    }
    state.counters["median_ms"] = percentile(f.move, 0.5);
    state.counters["p95_ms"] = percentile(f.move, 0.95);
}

using Model = StrokeStyle::Model;

struct Case {
    const char *name;
    int brush;
    double scale;
    Path path;
    Model model;
    int softness;
    bool colourPhoto = false;
    bool everyDisc = false;
    bool slow = false;
};

const Case cases[] = {
    {"brush 40, scale 1: today's hard path", 40, 1.0, Path::Today, Model::Classic, 0, false},
    {"brush 40, scale 1: classic, hard", 40, 1.0, Path::Buffer, Model::Classic, 0, false},
    {"brush 40, scale 1: natural, hard", 40, 1.0, Path::Buffer, Model::Natural, 0, false},
    {"brush 40, scale 1: classic, soft 50 %", 40, 1.0, Path::Buffer, Model::Classic, 50, false},
    {"brush 40, scale 1: natural, soft 50 %", 40, 1.0, Path::Buffer, Model::Natural, 50, false},
    {"brush 300, fit: today's hard path", 300, fitScale, Path::Today, Model::Classic, 0, false},
    {"brush 300, fit: classic, hard", 300, fitScale, Path::Buffer, Model::Classic, 0, false},
    {"brush 300, fit: natural, hard", 300, fitScale, Path::Buffer, Model::Natural, 0, false},
    {"brush 300, fit: classic, soft 50 %", 300, fitScale, Path::Buffer, Model::Classic, 50, false},
    {"brush 300, fit: natural, soft 50 %", 300, fitScale, Path::Buffer, Model::Natural, 50, false},
    {"brush 300, fit: natural, soft 50 %, every disc", 300, fitScale, Path::Buffer, Model::Natural, 50, false, true},
    {"brush 999, fit: today's hard path", 999, fitScale, Path::Today, Model::Classic, 0, false},
    {"brush 999, fit: classic, hard", 999, fitScale, Path::Buffer, Model::Classic, 0, false},
    {"brush 999, fit: natural, hard", 999, fitScale, Path::Buffer, Model::Natural, 0, false},
    {"brush 999, fit: classic, soft 50 %", 999, fitScale, Path::Buffer, Model::Classic, 50, false},
    {"brush 999, fit: natural, soft 50 %", 999, fitScale, Path::Buffer, Model::Natural, 50, false},
    {"brush 999, fit: natural, soft 50 %, every disc", 999, fitScale, Path::Buffer, Model::Natural, 50, false, true},
    {"brush 999, fit: natural, soft 50 %, colour photo", 999, fitScale, Path::Buffer, Model::Natural, 50, true},
    {"brush 999, fit: natural, soft 100 %", 999, fitScale, Path::Buffer, Model::Natural, 100, false},
    {"slow brush 300, fit: today's hard path", 300, fitScale, Path::Today, Model::Classic, 0, false, false, true},
    {"slow brush 300, fit: natural, soft 50 %", 300, fitScale, Path::Buffer, Model::Natural, 50, false, false, true},
    {"slow brush 999, fit: today's hard path", 999, fitScale, Path::Today, Model::Classic, 0, false, false, true},
    {"slow brush 999, fit: natural, soft 50 %", 999, fitScale, Path::Buffer, Model::Natural, 50, false, false, true},
};

} // namespace

int main(int argc, char **argv)
{
    // No window is shown: the benchmark runs without a display as well.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    for (const Case &c : cases) {
        benchmark::RegisterBenchmark(c.name,
                                     [c](benchmark::State &state) {
                                         strokes(state, c.name, c.brush, c.scale, c.path, c.model, c.softness,
                                                 c.colourPhoto, c.everyDisc, c.slow);
                                     })
            ->Unit(benchmark::kMillisecond)
            ->Iterations(3);
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    std::printf("\nStroke moves, pure pixel work (6000 x 4000 photo, 200-pixel moves, %d moves a stroke);\n"
                "times in ms, wall clock and processor; ratios of p95 to today's hard path, same brush:\n",
                moves);
    std::printf("%-50s %8s %8s %8s %8s %9s %12s %12s %8s %8s\n", "", "median", "p95", "cpu med", "cpu p95", "shape p95",
                "pixels/move", "changed/move", "p95 x", "cpu p95 x");
    for (const std::string &name : order) {
        const Figures &f = figures[name];
        const std::string base = name.substr(0, name.find(':')) + ": today's hard path";
        const bool hasBase = figures.count(base) > 0;
        const double p95 = percentile(f.move, 0.95);
        const double cpu95 = percentile(f.cpu, 0.95);
        std::printf("%-50s %8.2f %8.2f %8.2f %8.2f %9.2f %12lld %12lld %8.2f %8.2f\n", name.c_str(),
                    percentile(f.move, 0.5), p95, percentile(f.cpu, 0.5), cpu95, percentile(f.shape, 0.95),
                    f.samples ? (long long)(f.pixels / f.samples) : 0LL,
                    f.samples ? (long long)(f.changed / f.samples) : 0LL,
                    hasBase ? p95 / percentile(figures[base].move, 0.95) : 0.0,
                    hasBase ? cpu95 / percentile(figures[base].cpu, 0.95) : 0.0);
    }
    return 0;
}
