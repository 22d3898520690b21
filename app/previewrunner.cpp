#include "app/previewrunner.h"

#include <QtConcurrent>

PreviewRunner::PreviewRunner(QObject *parent)
    : QObject(parent)
{
    limitTimer.setSingleShot(true);
    connect(&limitTimer, &QTimer::timeout, this, [this] {
        if (running && watcher.isRunning()) {
            timedOutNow = true;
            *running = true;
        }
    });
    connect(&watcher, &QFutureWatcherBase::finished, this, &PreviewRunner::finished);
}

PreviewRunner::~PreviewRunner()
{
    cancel();
    watcher.waitForFinished();
}

void PreviewRunner::request(Job job)
{
    if (watcher.isRunning()) {
        *running = true;
        pending = std::make_unique<Job>(std::move(job));
        return;
    }
    start(std::move(job));
}

void PreviewRunner::cancel()
{
    pending.reset();
    if (running)
        *running = true;
}

void PreviewRunner::waitForIdle()
{
    while (isBusy()) {
        watcher.waitForFinished();
        // The watcher tells of the end through the event loop; take it here
        // so that a waiting job starts and the state is settled.
        finished();
    }
}

void PreviewRunner::start(Job job)
{
    running = std::make_shared<std::atomic_bool>(false);
    timedOutNow = false;
    auto flag = running;
    watcher.setFuture(QtConcurrent::run([job = std::move(job), flag] { return job(flag.get()); }));
    if (limitMs > 0)
        limitTimer.start(limitMs);
}

void PreviewRunner::finished()
{
    if (!running || watcher.isRunning())
        return;
    limitTimer.stop();
    const bool dropped = *running;
    Deliver deliver = watcher.future().resultCount() > 0 ? watcher.result() : Deliver();
    // Settled before anything is delivered, so that a delivery may request
    // the next preview.
    running.reset();
    const bool wasTimedOut = timedOutNow;
    timedOutNow = false;

    if (pending) {
        Job next = std::move(*pending);
        pending.reset();
        start(std::move(next));
    } else if (!dropped && deliver) {
        deliver();
        emit delivered();
    } else if (wasTimedOut) {
        emit timedOut();
    }
}
