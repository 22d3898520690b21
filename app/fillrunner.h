#ifndef FILLRUNNER_H
#define FILLRUNNER_H

#include "imaging/regionfill.h"

#include <QObject>

#include <atomic>
#include <functional>

class QWidget;

// Runs a region fill off the UI thread while the window waits for it: the busy
// cursor shows, the window keeps repainting but takes no other input, Esc
// cancels, and a fill that takes longer than a second shows its progress in a
// dialog whose Cancel (or Esc) stops it. The layer is not touched here; the
// caller writes the result. Closing the window cancels the fill; the caller
// then closes it again once the fill has stopped.
class FillRunner : public QObject
{
    Q_OBJECT

public:
    // How long a fill runs before its progress dialog appears.
    static constexpr int progressDelayMs = 1000;

    // What a fill computes, on the worker thread: RegionFill::compute by
    // default.
    using Computation = std::function<RegionFill::Result(const QImage &photo, const QList<QPoint> &keepMarks,
                                                         const QList<QPoint> &removeMarks,
                                                         const std::atomic_bool *cancel,
                                                         const RegionFill::Progress &progress)>;

    explicit FillRunner(QWidget *window);

    RegionFill::Result run(const QImage &photo, const QList<QPoint> &keepMarks, const QList<QPoint> &removeMarks);
    bool isRunning() const { return running; }
    // The window was asked to close while the last fill ran.
    bool closeRequested() const { return closing; }

    void cancel() { cancelled = true; }
    void setComputation(Computation computation) { compute = std::move(computation); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QWidget *window;
    Computation compute;
    std::atomic_bool cancelled{false};
    bool running = false;
    bool closing = false;
};

#endif // FILLRUNNER_H
