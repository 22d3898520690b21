// Speed of moving around a camera-sized photo in the real window: a pan move
// of 200 screen pixels, Fit to window and Actual size, and the before/after
// key, each timed from the event to the end of the repaint it causes. Beside
// each, in the same run, a baseline: the same scroll made with the scroll
// bars, one zoom step, and a full repaint of the canvas. Figures are
// reported as ratios too, since the machines are noisy.

#include "testsupport.h"
#include "windowbench.h"

#include "canvas/czefgraphicsview.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QScrollBar>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr int samples = 40;
WindowBench &bench()
{
    static WindowBench *shared = new WindowBench;
    return *shared;
}

// Runs `step`, then waits for the canvas's repaint; the time in ms. A step
// that leaves nothing to repaint (a pan where the photo fits) is timed to the
// end of its events.
template <typename F> double timed(F step, bool repaints = true)
{
    const int before = WindowBench::paintCount();
    QElapsedTimer timer;
    timer.start();
    step();
    if (!repaints) {
        QApplication::processEvents();
        return timer.nsecsElapsed() / 1e6;
    }
    WindowBench::waitForPaint(before, 2000);
    return timer.nsecsElapsed() / 1e6;
}

double percentile(std::vector<double> v, double p)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[std::min(v.size() - 1, size_t(p * double(v.size())))];
}

std::map<std::string, std::vector<double>> figures;
std::vector<std::string> order;

void record(benchmark::State &state, const std::string &name, std::vector<double> times)
{
    if (!figures.count(name))
        order.push_back(name);
    auto &all = figures[name];
    all.insert(all.end(), times.begin(), times.end());
    state.counters["median_ms"] = percentile(all, 0.5);
    state.counters["p95_ms"] = percentile(all, 0.95);
}

void placeView(bool fitted)
{
    CZefGraphicsView *view = bench().canvas();
    if (fitted) {
        view->fitToWindow();
    } else {
        view->actualSize();
        view->centerOn(3000, 2000);
    }
    QApplication::processEvents();
}

// Back and forth by 200 x 100 screen pixels, with the middle button.
void panMoves(benchmark::State &state, bool fitted)
{
    placeView(fitted);
    QWidget *viewport = bench().canvas()->viewport();
    const QPoint centre = viewport->rect().center();
    for (auto _ : state) {
        std::vector<double> times;
        QPoint p = centre;
        TestSupport::sendMouse(viewport, QEvent::MouseButtonPress, p, Qt::MiddleButton, Qt::MiddleButton);
        for (int i = 0; i < samples; ++i) {
            p = centre + (i % 2 ? QPoint(-100, -50) : QPoint(100, 50));
            times.push_back(
                timed([&] { TestSupport::sendMouse(viewport, QEvent::MouseMove, p, Qt::NoButton, Qt::MiddleButton); },
                      !fitted));
        }
        TestSupport::sendMouse(viewport, QEvent::MouseButtonRelease, p, Qt::MiddleButton, Qt::NoButton);
        record(state, fitted ? "pan move, fitted" : "pan move, 100 %", times);
    }
}

// The same distance with the scroll bars: what the view's own scrolling costs.
void scrollMoves(benchmark::State &state, bool fitted)
{
    placeView(fitted);
    CZefGraphicsView *view = bench().canvas();
    for (auto _ : state) {
        std::vector<double> times;
        for (int i = 0; i < samples; ++i) {
            const int dx = i % 2 ? -200 : 200;
            times.push_back(timed([&] {
                view->horizontalScrollBar()->setValue(view->horizontalScrollBar()->value() + dx);
                view->verticalScrollBar()->setValue(view->verticalScrollBar()->value() + dx / 2);
                if (fitted)
                    view->viewport()->update(); // nothing scrolls when the photo fits
            }));
        }
        record(state, fitted ? "scroll bars, fitted (baseline)" : "scroll bars, 100 % (baseline)", times);
    }
}

void fitAndActual(benchmark::State &state)
{
    CZefGraphicsView *view = bench().canvas();
    for (auto _ : state) {
        std::vector<double> fit;
        std::vector<double> actual;
        std::vector<double> zoom;
        for (int i = 0; i < samples / 4; ++i) {
            fit.push_back(timed([view] { view->fitToWindow(); }));
            actual.push_back(timed([view] { view->actualSize(); }));
            zoom.push_back(timed([view] { view->zoomBy(CZefGraphicsView::zoomStep); }));
        }
        record(state, "Fit to window", fit);
        record(state, "Actual size", actual);
        record(state, "one zoom step (baseline)", zoom);
    }
}

void beforeAfter(benchmark::State &state, bool fitted)
{
    placeView(fitted);
    CZefGraphicsView *view = bench().canvas();
    const auto key = [view](QEvent::Type type) {
        QKeyEvent event(type, Qt::Key_Backslash, Qt::NoModifier, QStringLiteral("\\"));
        QApplication::sendEvent(view, &event);
    };
    for (auto _ : state) {
        std::vector<double> hold;
        std::vector<double> repaint;
        for (int i = 0; i < samples / 2; ++i) {
            hold.push_back(timed([&] { key(QEvent::KeyPress); }));
            timed([&] { key(QEvent::KeyRelease); });
            repaint.push_back(timed([view] { view->viewport()->update(); }));
        }
        record(state, fitted ? "\\ held, fitted" : "\\ held, 100 %", hold);
        record(state, fitted ? "full repaint, fitted (baseline)" : "full repaint, 100 % (baseline)", repaint);
    }
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    TestSupport::nameApplication();
    for (const bool fitted : {true, false}) {
        const std::string where = fitted ? "fitted" : "100 %";
        benchmark::RegisterBenchmark(("scroll bars, " + where).c_str(),
                                     [fitted](benchmark::State &s) { scrollMoves(s, fitted); })
            ->Unit(benchmark::kMillisecond)
            ->Iterations(2);
        benchmark::RegisterBenchmark(("pan, " + where).c_str(), [fitted](benchmark::State &s) { panMoves(s, fitted); })
            ->Unit(benchmark::kMillisecond)
            ->Iterations(2);
        benchmark::RegisterBenchmark(("before/after, " + where).c_str(),
                                     [fitted](benchmark::State &s) { beforeAfter(s, fitted); })
            ->Unit(benchmark::kMillisecond)
            ->Iterations(2);
    }
    benchmark::RegisterBenchmark("fit and actual size", fitAndActual)->Unit(benchmark::kMillisecond)->Iterations(2);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    std::printf("\nMoving around a 6000 x 4000 photo, half coloured, in a 1920 x 1080 canvas; ms to the end of the\n"
                "repaint; ratio of p95 to the baseline of the same run:\n");
    const std::map<std::string, std::string> baseOf = {
        {"pan move, fitted", "scroll bars, fitted (baseline)"}, {"pan move, 100 %", "scroll bars, 100 % (baseline)"},
        {"Fit to window", "one zoom step (baseline)"},          {"Actual size", "one zoom step (baseline)"},
        {"\\ held, fitted", "full repaint, fitted (baseline)"}, {"\\ held, 100 %", "full repaint, 100 % (baseline)"},
    };
    std::printf("%-36s %8s %8s %8s\n", "", "median", "p95", "p95 x");
    for (const std::string &name : order) {
        const double p95 = percentile(figures[name], 0.95);
        const auto base = baseOf.find(name);
        const double ratio = base != baseOf.end() ? p95 / percentile(figures[base->second], 0.95) : 0.0;
        std::printf("%-36s %8.2f %8.2f %8.2f\n", name.c_str(), percentile(figures[name], 0.5), p95, ratio);
    }
    return 0;
}
