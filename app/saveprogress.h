#ifndef SAVEPROGRESS_H
#define SAVEPROGRESS_H

#include <QMutex>
#include <QString>

#include <atomic>

// Shared between a save running on a worker thread and whoever waits for it:
// the worker says how far it got (in thousandths), the other side may ask it
// to stop. A stopped save fails with the reason given, and its file is left as
// it was before. Tests stop a save at a chosen point as a write error would.
class SaveProgress
{
public:
    static constexpr int whole = 1000;

    // Thread-safe; the save stops at its next report.
    void cancel(const QString &reason = QString());
    // The save fails with `reason` once it has reached `permille`.
    void failAt(int permille, const QString &reason);

    bool isCancelled() const { return stopped.load(); }
    QString reason() const;
    int permille() const { return done.load(); }

    // The worker: records progress; false when the save is to stop.
    bool report(int permille);

private:
    std::atomic<int> done{0};
    std::atomic<int> failPoint{whole + 1};
    std::atomic<bool> stopped{false};
    mutable QMutex mutex;
    QString stopReason;
    QString failReason;
};

// A part of a save, from `from` to `to` thousandths of the whole: each step of
// the part reports where it is in the whole. Without a SaveProgress it only
// says to go on.
class ProgressSpan
{
public:
    ProgressSpan() = default;
    ProgressSpan(SaveProgress *progress, int from, int to)
        : progress(progress)
        , from(from)
        , to(to)
    { }

    // `done` of `total` of this part; false when the save is to stop.
    bool step(qint64 done, qint64 total) const;
    // The part from `a` to `b` of this one, in the same thousandths.
    ProgressSpan part(int a, int b) const;
    bool isCancelled() const { return progress && progress->isCancelled(); }
    SaveProgress *target() const { return progress; }

private:
    SaveProgress *progress = nullptr;
    int from = 0;
    int to = SaveProgress::whole;
};

#endif // SAVEPROGRESS_H
