#include "windowbench.h"

#include "benchscene.h"
#include "testsupport.h"

#include "canvas/canvasitems.h"
#include "canvas/czefgraphicsview.h"
#include "colourlayer/czefgraphicsimagemaskitem.h"
#include "imaging/brushgeometry.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QGraphicsScene>
#include <QSlider>

#include <ctime>

namespace {

int paints = 0;

double threadCpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

// Counts the canvas's paint events, so that a step is timed to the end of
// the repaint it caused.
class PaintCounter : public QObject
{
public:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

PaintCounter counter;

} // namespace

WindowBench::WindowBench()
    : photo(benchPhoto(6000, 4000))
{
    const QString name = dir.filePath(QStringLiteral("photo.png"));
    photo.save(name, "png", 90);
    window = new MainWindow;
    window->show();
    view = window->findChild<CZefGraphicsView *>();
    // Grow the window until the canvas has the measured size.
    window->resize(1920, 1080);
    QApplication::processEvents();
    window->resize(window->size() + QSize(1920, 1080) - view->viewport()->size());
    QApplication::processEvents();

    TestSupport::answerFileDialog(name);
    window->findChild<QAction *>(QStringLiteral("actionOpen"))->trigger();
    colourLayer = view->documentItems()->layerItem();
    RowSpans half;
    for (int y = 0; y < 4000; ++y)
        half.append(RowSpan{y, 0, 2999});
    colourLayer->updateSpansFromImage(half, {}, &photo);
    view->viewport()->installEventFilter(&counter);
    QApplication::processEvents();
}

WindowBench::~WindowBench()
{
    delete window;
}

void WindowBench::setBrush(int size, bool fitToView)
{
    window->findChild<QSlider *>(QStringLiteral("horizontalSlider"))->setValue(size);
    view->resetTransform();
    if (fitToView)
        view->fitInView(QRectF(0, 0, 6000, 4000), Qt::KeepAspectRatio);
    view->centerOn(3000, 2000);
    const int before = paints;
    view->viewport()->update();
    waitForPaint(before);
}

int WindowBench::paintCount()
{
    return paints;
}

void WindowBench::waitForPaint(int before, int timeoutMs)
{
    QElapsedTimer timeout;
    timeout.start();
    while (paints == before && timeout.elapsed() < timeoutMs)
        QApplication::processEvents();
}

QPoint WindowBench::pathPoint(int i, int step) const
{
    // Back and forth across the middle of the canvas, over the boundary between
    // the coloured and the uncoloured half, drifting down and up again.
    const QPoint centre = view->viewport()->rect().center();
    const int across = (i % 4 < 2 ? i % 4 : 4 - i % 4) - 1; // -1, 0, 1, 0, ...
    const int down = ((i / 4) % 4 < 2 ? (i / 4) % 4 : 4 - (i / 4) % 4) - 1;
    return centre + QPoint(across * step, down * step / 2);
}

std::vector<double> WindowBench::drag(int moves, int step, bool release)
{
    std::vector<double> times;
    cpuTimes.clear();
    QWidget *viewport = view->viewport();
    QPoint p = pathPoint(0, step);
    TestSupport::sendMouse(viewport, QEvent::MouseButtonPress, p, Qt::LeftButton, Qt::LeftButton);
    QApplication::processEvents();
    QElapsedTimer timer;
    for (int i = 1; i <= moves; ++i) {
        p = pathPoint(i, step);
        const int before = paints;
        const double cpu = threadCpuMs();
        timer.start();
        TestSupport::sendMouse(viewport, QEvent::MouseMove, p, Qt::NoButton, Qt::LeftButton);
        waitForPaint(before);
        times.push_back(timer.nsecsElapsed() / 1e6);
        cpuTimes.push_back(threadCpuMs() - cpu);
    }
    if (release)
        TestSupport::sendMouse(viewport, QEvent::MouseButtonRelease, p, Qt::LeftButton, Qt::NoButton);
    return times;
}

std::vector<double> WindowBench::pointListDrag(int moves, int step)
{
    std::vector<double> times;
    cpuTimes.clear();
    QElapsedTimer timer;
    const int half = view->brushSize() / 2;
    for (int i = 1; i <= moves; ++i) {
        const QPoint p = pathPoint(i, step);
        const int before = paints;
        const double cpu = threadCpuMs();
        timer.start();
        const QPointF c = view->mapToScene(p);
        const BrushGeometry::Square square =
            BrushGeometry::square(view->mapToScene(p - QPoint(half, half)), view->mapToScene(p + QPoint(half, half)));
        colourLayer->updateMaskFromImage(BrushGeometry::disc(QPoint(int(c.x()), int(c.y())), square, photo.rect()), {},
                                         &photo);
        waitForPaint(before);
        times.push_back(timer.nsecsElapsed() / 1e6);
        cpuTimes.push_back(threadCpuMs() - cpu);
    }
    return times;
}

void WindowBench::dragAcross(int moves)
{
    QWidget *viewport = view->viewport();
    const QPoint from = view->mapFromScene(QPointF(0, photo.height() / 2.0));
    const QPoint to = view->mapFromScene(QPointF(photo.width() - 1, photo.height() / 2.0));
    TestSupport::sendMouse(viewport, QEvent::MouseButtonPress, from, Qt::LeftButton, Qt::LeftButton);
    QApplication::processEvents();
    QPoint p = from;
    for (int i = 1; i <= moves; ++i) {
        p = from + (to - from) * i / moves;
        const int before = paints;
        TestSupport::sendMouse(viewport, QEvent::MouseMove, p, Qt::NoButton, Qt::LeftButton);
        waitForPaint(before);
    }
    TestSupport::sendMouse(viewport, QEvent::MouseButtonRelease, p, Qt::LeftButton, Qt::NoButton);
    QApplication::processEvents();
}

double WindowBench::trigger(const char *action)
{
    QElapsedTimer timer;
    const int before = paints;
    const double cpu = threadCpuMs();
    timer.start();
    window->findChild<QAction *>(QString::fromLatin1(action))->trigger();
    waitForPaint(before);
    cpuTimes = {threadCpuMs() - cpu};
    return timer.nsecsElapsed() / 1e6;
}
