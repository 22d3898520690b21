#ifndef RECOVERYSCHEDULER_H
#define RECOVERYSCHEDULER_H

#include "app/recoverystore.h"

#include <QObject>
#include <QTimer>

class Document;

// When a window's unsaved colouring goes to its recovery record: once an
// interval (60 s) has passed and the colouring changed since the last record,
// never in the middle of a stroke (the stroke's end tries again), and again
// after a failed write at the next tick. The record is removed once the work
// is saved (the history is clean), discarded, or the window ends normally.
class RecoveryScheduler : public QObject
{
    Q_OBJECT

public:
    static constexpr int defaultIntervalMs = 60 * 1000;

    explicit RecoveryScheduler(Document *document, QObject *parent = nullptr);
    ~RecoveryScheduler() override;

    void setInterval(int msec);
    // What the timer does at each interval.
    void tick();
    // The work was discarded: the record goes, and is written again should
    // the work stay after all (an Open that was cancelled).
    void discard();
    // The window ends normally: nothing is left to recover, and nothing is
    // written from now on.
    void finish();
    // A record taken from a window that died now belongs to this one.
    void adopt(const RecoveryRecord &record);

    RecoveryStore &store() { return recovery; }

signals:
    void writeFailed(const QString &message);

private:
    void writeIfDue();
    void remove();

    Document *document;
    RecoveryStore recovery;
    QTimer timer;
    bool due = false;   // a tick came and found changes to record
    bool stale = false; // the layer changed since the last record
    bool finished = false;
};

#endif // RECOVERYSCHEDULER_H
