#include "app/recoveryscheduler.h"

#include "app/document.h"
#include "imaging/colourlayer.h"

#include <QDir>
#include <QGuiApplication>
#include <QUndoStack>

RecoveryScheduler::RecoveryScheduler(Document *document, QObject *parent)
    : QObject(parent)
    , document(document)
{
    // Connected after the document's own handling, so that the finished
    // stroke is in the record.
    connect(document, &Document::strokeFinished, this, [this] {
        stale = true;
        writeIfDue();
    });
    connect(document->history(), &QUndoStack::indexChanged, this, [this] { stale = true; });
    connect(document->history(), &QUndoStack::cleanChanged, this, [this](bool clean) {
        if (clean)
            remove();
    });
    connect(&recovery, &RecoveryStore::readyToWrite, this, &RecoveryScheduler::writeIfDue);
    connect(&recovery, &RecoveryStore::written, this, [this](bool ok) {
        if (ok)
            return;
        stale = true; // tried again at the next tick
        emit writeFailed(tr("Could not write the recovery record to %1.")
                             .arg(QDir::toNativeSeparators(RecoveryStore::directory())));
    });
    connect(&timer, &QTimer::timeout, this, &RecoveryScheduler::tick);
    timer.start(defaultIntervalMs);
}

RecoveryScheduler::~RecoveryScheduler()
{
    remove();
}

void RecoveryScheduler::setInterval(int msec)
{
    timer.start(msec);
}

void RecoveryScheduler::tick()
{
    due = true;
    writeIfDue();
}

void RecoveryScheduler::writeIfDue()
{
    if (finished || !due || !stale || !document->isModified())
        return;
    // Never half a stroke: the end of the stroke tries again.
    if (document->isStroking() || QGuiApplication::mouseButtons() != Qt::NoButton)
        return;
    if (recovery.write(document->fileName(), document->colourLayer()->image()))
        due = stale = false;
}

void RecoveryScheduler::remove()
{
    recovery.remove();
    due = false;
}

void RecoveryScheduler::discard()
{
    remove();
    stale = true;
}

void RecoveryScheduler::finish()
{
    finished = true;
    timer.stop();
    remove();
}

void RecoveryScheduler::adopt(const RecoveryRecord &record)
{
    // Kept until this window writes its own or the work is saved.
    recovery.adopt(record);
    stale = false;
}
