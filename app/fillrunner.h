#ifndef FILLRUNNER_H
#define FILLRUNNER_H

#include "app/workrunner.h"
#include "imaging/regionfill.h"

#include <atomic>
#include <functional>

// Runs a region fill as a WorkRunner does: off the UI thread, input held
// off, progress after a second, Esc and a close of the window cancelling it.
class FillRunner : public WorkRunner
{
    Q_OBJECT

public:
    // What a fill computes, on the worker thread: RegionFill::compute by
    // default.
    using Computation =
        std::function<RegionFill::Result(const QImage &photo, const QList<QPoint> &keepMarks,
                                         const QList<QPoint> &removeMarks, const std::atomic_bool *cancel,
                                         const RegionFill::Progress &progress)>;

    explicit FillRunner(QWidget *window);

    RegionFill::Result run(const QImage &photo, const QList<QPoint> &keepMarks, const QList<QPoint> &removeMarks);
    void setComputation(Computation computation) { compute = std::move(computation); }

private:
    Computation compute;
};

#endif // FILLRUNNER_H
