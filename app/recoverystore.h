#ifndef RECOVERYSTORE_H
#define RECOVERYSTORE_H

#include <QDateTime>
#include <QFuture>
#include <QFutureWatcher>
#include <QImage>
#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

class QLockFile;

// What a crashed window left behind: the photo it had open, when the record
// was written, and its colour layer (ARGB32, not premultiplied).
struct RecoveryRecord {
    QString photoPath;
    QDateTime time;
    QImage layer;
    QString fileName;
    // Why the photo cannot be opened now (not found, no permission, changed
    // since); empty when it can. Such a record is kept until the user
    // recovers or discards it.
    QString unavailable;
    // Held while the record is offered, so that no other starting window
    // offers it too.
    std::shared_ptr<QLockFile> lock;
};

// The recovery record of one window: a PNG of its colour layer, with the
// photo's path and the time in text chunks, in the per-user data folder's
// "recovery" folder. Each store writes a file named after its process and a
// per-process number and holds a lock file beside it while it lives, so
// windows never write over each other's record and a start can tell the
// records of running windows from those of windows that died.
//
// Encoding a camera-sized layer takes seconds, so write() copies the layer
// and encodes and writes it on a worker thread, one write at a time; the
// record appears only when complete (QSaveFile). Even the copy would stall
// the UI thread if it went to fresh memory (the first touch of every page is
// what costs), so the store keeps one copy the layer's size, allocated and
// touched on the worker before the first write, and reuses it.
class RecoveryStore : public QObject
{
    Q_OBJECT

public:
    explicit RecoveryStore(QObject *parent = nullptr);
    ~RecoveryStore() override;

    static QString directory();

    // Starts writing the record of `layer` over `photoPath`; false (nothing
    // started) while an earlier write is still running, when the folder
    // cannot be used, or when the copy for a layer of this size is not
    // ready yet: it is then prepared, and readyToWrite() says when.
    bool write(const QString &photoPath, const QImage &layer);
    bool isWriting() const;
    void waitForWrite();
    // Removes this window's record, once any write in progress has finished,
    // and gives back the copy's memory.
    void remove();
    // The file this store writes, empty until its first write.
    QString fileName() const;

    // The newest record of a window that is no longer running, with its
    // layer read: one whose photo can be opened now if there is any, else
    // one whose photo cannot, with the reason. Only damaged records are
    // removed, and `problems` gets a sentence for each; entries that are not
    // regular files (a named pipe, a link to one) are never opened, only
    // skipped with a sentence. Nothing here waits on a pipe.
    static std::optional<RecoveryRecord> takeOrphan(QStringList *problems);
    // Makes a record taken from a dead window this store's own: its next
    // write replaces it, remove() removes it.
    void adopt(const RecoveryRecord &record);
    static void discard(const RecoveryRecord &record);

signals:
    void readyToWrite();
    void written(bool ok);

private:
    bool claimName();
    bool takePrepared();

    QString recordFile;
    std::shared_ptr<QLockFile> lock;
    QImage snapshot;
    QFuture<QImage> preparing;
    QFutureWatcher<QImage> preparingWatcher;
    QFuture<bool> pending;
    QFutureWatcher<bool> watcher;
};

#endif // RECOVERYSTORE_H
