#ifndef WORKRUNNER_H
#define WORKRUNNER_H

#include <QObject>
#include <QString>

#include <atomic>
#include <functional>

class QWidget;

// Runs one long computation on the photo (a fill, a spread) off the UI thread
// while the window waits for it: the busy cursor shows, the window keeps
// repainting but takes no other input, Esc cancels, and work that takes
// longer than a second shows its progress in a dialog whose Cancel (or Esc)
// stops it. Nothing of the document is touched here; the caller writes the
// result. Closing the window cancels the work; the caller then closes it
// again once the work has stopped.
class WorkRunner : public QObject
{
    Q_OBJECT

public:
    // How long work runs before its progress dialog appears.
    static constexpr int progressDelayMs = 1000;

    // Called on the worker with a percentage as the work goes on.
    using Progress = std::function<void(int percent)>;
    // Runs on the worker; should read `cancel` now and then.
    using Work = std::function<void(const std::atomic_bool *cancel, const Progress &progress)>;

    explicit WorkRunner(QWidget *window);

    // Runs `work` to its end, `label` standing in the progress dialog; false
    // when it was cancelled (Esc, Cancel, a close of the window).
    bool run(const QString &label, const Work &work);
    bool isRunning() const { return running; }
    // The window was asked to close while the last work ran.
    bool closeRequested() const { return closing; }

    void cancel() { cancelled = true; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QWidget *window;
    std::atomic_bool cancelled{false};
    bool running = false;
    bool closing = false;
};

#endif // WORKRUNNER_H
