#ifndef WINDOWBENCH_H
#define WINDOWBENCH_H

#include "app/mainwindow.h"

#include <QTemporaryDir>

#include <vector>

class CZefGraphicsImageMaskItem;
class CZefGraphicsView;

// The real main window with a 6000 x 4000 photo open, its left half coloured,
// and a canvas of about 1920 x 1080 pixels: strokes are measured from the
// mouse event to the end of the repaint it causes.
class WindowBench
{
public:
    WindowBench();
    ~WindowBench();

    // Brush size and zoom for the next drag.
    void setBrush(int size, bool fitToView);

    // Presses at the canvas centre and moves `moves` times, each `step` view
    // pixels from the last, zig-zagging so that the brush stays over the
    // photo; returns the time of each move in milliseconds. With
    // `release` false the stroke is left open.
    std::vector<double> drag(int moves, int step, bool release = true);
    // The main thread's processor time of each move of the last drag, in
    // milliseconds: on a busy machine, what the move would take on an idle one.
    const std::vector<double> &lastCpuTimes() const { return cpuTimes; }
    // The same drag through the point-list path: the disc of every move event
    // colourised point by point, as strokes were painted before spans.
    std::vector<double> pointListDrag(int moves, int step);
    // A stroke across the whole photo at its middle height, left edge to
    // right edge in `moves` moves.
    void dragAcross(int moves);
    // Times one undo or redo, through the window's action, to the end of
    // its repaint.
    double undo() { return trigger("actionUndo"); }
    double redo() { return trigger("actionRedo"); }

    // How many times the canvas has painted, and a wait (at most
    // `timeoutMs`) for it to paint again after `before`.
    static int paintCount();
    static void waitForPaint(int before, int timeoutMs = 5000);

    CZefGraphicsImageMaskItem *layer() const { return colourLayer; }
    CZefGraphicsView *canvas() const { return view; }
    MainWindow *mainWindow() const { return window; }
    QImage photo;

private:
    double trigger(const char *action);
    QPoint pathPoint(int i, int step) const;

    std::vector<double> cpuTimes;
    QTemporaryDir dir;
    MainWindow *window = nullptr;
    CZefGraphicsView *view = nullptr;
    CZefGraphicsImageMaskItem *colourLayer = nullptr;
};

#endif // WINDOWBENCH_H
