#include "app/saveprogress.h"

#include <QCoreApplication>
#include <QMutexLocker>

#include <algorithm>

void SaveProgress::cancel(const QString &reason)
{
    QMutexLocker locker(&mutex);
    if (stopped.load())
        return;
    stopReason = reason.isEmpty() ? QCoreApplication::translate("SaveProgress", "the save was cancelled") : reason;
    stopped = true;
}

void SaveProgress::failAt(int permille, const QString &reason)
{
    QMutexLocker locker(&mutex);
    failReason = reason;
    failPoint = permille;
}

QString SaveProgress::reason() const
{
    QMutexLocker locker(&mutex);
    return stopReason;
}

bool SaveProgress::report(int permille)
{
    permille = std::clamp(permille, 0, whole);
    int before = done.load();
    while (permille > before && !done.compare_exchange_weak(before, permille)) { }
    if (permille >= failPoint.load()) {
        QString reason;
        {
            QMutexLocker locker(&mutex);
            reason = failReason;
        }
        cancel(reason);
    }
    return !stopped.load();
}

bool ProgressSpan::step(qint64 done, qint64 total) const
{
    if (!progress)
        return true;
    const int at = total <= 0 ? to : from + int((to - from) * std::clamp(done, qint64(0), total) / total);
    return progress->report(at);
}

ProgressSpan ProgressSpan::part(int a, int b) const
{
    const auto scale = [this](int v) { return from + (to - from) * v / SaveProgress::whole; };
    return ProgressSpan(progress, scale(a), scale(b));
}
