#include "app/fillrunner.h"

FillRunner::FillRunner(QWidget *window)
    : WorkRunner(window)
    , compute([](const QImage &photo, const QList<QPoint> &keep, const QList<QPoint> &remove,
                 const std::atomic_bool *cancel, const RegionFill::Progress &progress) {
        return RegionFill::compute(photo, keep, remove, cancel, progress);
    })
{ }

RegionFill::Result FillRunner::run(const QImage &photo, const QList<QPoint> &keepMarks,
                                   const QList<QPoint> &removeMarks)
{
    RegionFill::Result result;
    const bool finished = WorkRunner::run(tr("Filling the marked area..."),
                                          [&](const std::atomic_bool *cancel, const Progress &progress) {
                                              result = compute(photo, keepMarks, removeMarks, cancel, progress);
                                          });
    if (!finished && result.outcome == RegionFill::Outcome::Filled)
        result = RegionFill::Result{RegionFill::Outcome::Cancelled, {}};
    return result;
}
