#ifndef FILLRUNNER_H
#define FILLRUNNER_H

#include "imaging/regionfill.h"

#include <QObject>

#include <atomic>

class QWidget;

// Runs a region fill off the UI thread while the window waits for it: the busy
// cursor shows, the window keeps repainting but takes no other input, Esc
// cancels, and a fill that takes longer than a second shows its progress in a
// dialog whose Cancel (or Esc) stops it. The layer is not touched here; the
// caller writes the result.
class FillRunner : public QObject
{
    Q_OBJECT

public:
    // How long a fill runs before its progress dialog appears.
    static constexpr int progressDelayMs = 1000;

    explicit FillRunner(QWidget *window);

    RegionFill::Result run(const QImage &photo, const QList<QPoint> &keepMarks, const QList<QPoint> &removeMarks);

    void cancel() { cancelled = true; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QWidget *window;
    std::atomic_bool cancelled{false};
};

#endif // FILLRUNNER_H
