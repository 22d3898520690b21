#ifndef PREVIEWRUNNER_H
#define PREVIEWRUNNER_H

#include <QElapsedTimer>
#include <QFutureWatcher>
#include <QObject>
#include <QTimer>

#include <atomic>
#include <functional>
#include <memory>

// Computes previews off the UI thread, one at a time, the newest request
// winning: a request while another runs cancels that one, and only the last
// request's result is ever handed back. A job that runs past the time limit
// is cancelled and dropped, so a preview never holds up painting; nothing is
// shown that the marks have already moved past.
class PreviewRunner : public QObject
{
    Q_OBJECT

public:
    // Runs on the UI thread once the job is done, if no newer request came.
    using Deliver = std::function<void()>;
    // Runs on a worker. Should read `cancel` now and then and return an empty
    // Deliver once it is raised.
    using Job = std::function<Deliver(const std::atomic_bool *cancel)>;

    explicit PreviewRunner(QObject *parent = nullptr);
    ~PreviewRunner() override;

    // How long a job may run before it is dropped; 0 for no limit.
    void setTimeLimit(int milliseconds) { limitMs = milliseconds; }
    int timeLimit() const { return limitMs; }

    void request(Job job);
    // Drops the running and the waiting job; nothing more is delivered.
    void cancel();
    bool isBusy() const { return watcher.isRunning() || pending != nullptr; }
    // Blocks until no job runs or waits: before the document changes under
    // a running job, and in tests.
    void waitForIdle();

signals:
    void delivered();
    // A job was dropped because it ran past the time limit.
    void timedOut();

private:
    void start(Job job);
    void finished();

    QFutureWatcher<Deliver> watcher;
    std::shared_ptr<std::atomic_bool> running; // the running job's cancel flag
    std::unique_ptr<Job> pending;
    QTimer limitTimer;
    int limitMs = 0;
    bool timedOutNow = false;
};

#endif // PREVIEWRUNNER_H
