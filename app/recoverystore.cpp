#include "app/recoverystore.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QImageReader>
#include <QImageWriter>
#include <QLockFile>
#include <QSaveFile>
#include <QStandardPaths>
#include <QUrl>
#include <QtConcurrent/QtConcurrentRun>

#include <QBuffer>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString photoKey = QStringLiteral("Photo");
const QString timeKey = QStringLiteral("Time");
const QString recordSuffix = QStringLiteral(".png");
const QString lockSuffix = QStringLiteral(".lock");

std::atomic<int> lastNumber{0};

QString lockFileFor(const QString &recordFile)
{
    return recordFile.chopped(recordSuffix.size()) + lockSuffix;
}

std::shared_ptr<QLockFile> tryLock(const QString &lockFile)
{
    auto lock = std::make_shared<QLockFile>(lockFile);
    // Only a dead owner makes a lock stale, never its age: a window may run
    // for days.
    lock->setStaleLockTime(0);
    if (!lock->tryLock(0))
        return nullptr;
    return lock;
}

// Runs on a worker thread.
bool writeRecord(const QString &fileName, const QString &photoPath, const QDateTime &time, const QImage &layer)
{
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QImageWriter writer(&file, "png");
    // Percent-encoded, since a text chunk holds Latin-1 only.
    writer.setText(photoKey, QUrl::fromLocalFile(photoPath).toString(QUrl::FullyEncoded));
    writer.setText(timeKey, time.toString(Qt::ISODateWithMs));
    if (!writer.write(layer)) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

// A record's layer may be a camera-sized image of noise at worst.
constexpr qint64 recordSizeLimit = qint64(1024) * 1024 * 1024;

// Whether the path, links followed, is missing or a regular file: anything
// else (a named pipe, a device, a folder) is never to be opened.
bool isAbsentOrRegular(const QString &path)
{
    struct stat info {
    };
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return errno == ENOENT;
    return S_ISREG(info.st_mode);
}

// Opens a regular file, links followed, without waiting: a named pipe is
// opened without a writer and then refused. On failure returns -1 and sets
// `error` (an errno value, or 0 for "not a regular file").
int openRegular(const QString &path, int *error, qint64 *size = nullptr)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *error = errno;
        return -1;
    }
    struct stat info {
    };
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        *error = 0;
        return -1;
    }
    if (size)
        *size = info.st_size;
    return fd;
}

// Why the photo cannot be opened now, or empty with its size as the window
// shows it: upright, as its orientation tag says.
QString photoProblem(const QString &photo, QSize *size)
{
    const QString shownName = QDir::toNativeSeparators(photo);
    int error = 0;
    const int fd = openRegular(photo, &error);
    if (fd < 0) {
        if (error == ENOENT || error == ENOTDIR) {
            return RecoveryStore::tr("The photo %1 cannot be found; it may be on a drive that is not connected.")
                .arg(shownName);
        }
        if (error == 0)
            return RecoveryStore::tr("The photo %1 is not a regular file.").arg(shownName);
        return RecoveryStore::tr("The photo %1 cannot be read: %2.")
            .arg(shownName, QString::fromLocal8Bit(std::strerror(error)));
    }
    QFile file;
    file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle);
    QImageReader reader(&file);
    reader.setAutoTransform(true);
    const QSize stored = reader.size();
    if (!stored.isValid())
        return RecoveryStore::tr("The photo %1 cannot be read: %2.").arg(shownName, reader.errorString());
    *size = reader.transformation() & QImageIOHandler::TransformationRotate90 ? stored.transposed() : stored;
    return QString();
}

enum class RecordState { Usable, Damaged, Skipped };

// Reads a record; on failure returns a sentence saying why it is unusable.
RecordState readRecord(const QString &fileName, RecoveryRecord &record, QString *problem)
{
    record.fileName = fileName;
    int error = 0;
    qint64 size = 0;
    const int fd = openRegular(fileName, &error, &size);
    // What cannot be read now may be readable later: skipped, not removed.
    if (fd < 0) {
        *problem = RecoveryStore::tr("Skipped %1 in the recovery folder: %2.")
                       .arg(QDir::toNativeSeparators(fileName),
                            error == 0 ? RecoveryStore::tr("it is not a regular file")
                                       : QString::fromLocal8Bit(std::strerror(error)));
        return RecordState::Skipped;
    }
    QFile file;
    file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle);
    if (size > recordSizeLimit) {
        *problem = RecoveryStore::tr("Skipped %1 in the recovery folder: it is too large for a record.")
                       .arg(QDir::toNativeSeparators(fileName));
        return RecordState::Skipped;
    }
    QBuffer buffer;
    buffer.setData(file.readAll());
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "png");
    record.photoPath = QUrl(reader.text(photoKey), QUrl::StrictMode).toLocalFile();
    record.time = QDateTime::fromString(reader.text(timeKey), Qt::ISODateWithMs);
    if (record.photoPath.isEmpty() || !record.time.isValid()) {
        *problem = RecoveryStore::tr("Removed a damaged recovery record.");
        return RecordState::Damaged;
    }
    record.layer = reader.read();
    if (record.layer.isNull()) {
        *problem = RecoveryStore::tr("Removed a damaged recovery record.");
        return RecordState::Damaged;
    }
    record.layer.convertTo(QImage::Format_ARGB32);

    // Any other size would put the colouring on the wrong pixels; the
    // record is kept all the same, for the user to decide.
    QSize photoSize;
    record.unavailable = photoProblem(record.photoPath, &photoSize);
    if (record.unavailable.isEmpty() && photoSize != record.layer.size()) {
        record.unavailable =
            RecoveryStore::tr("The photo %1 has changed since.").arg(QDir::toNativeSeparators(record.photoPath));
    }
    return RecordState::Usable;
}

} // namespace

RecoveryStore::RecoveryStore(QObject *parent)
    : QObject(parent)
{
    connect(&preparingWatcher, &QFutureWatcher<QImage>::finished, this, [this] {
        // Without the memory for the copy, the next write asks again.
        if (takePrepared() && !snapshot.isNull())
            emit readyToWrite();
    });
    connect(&watcher, &QFutureWatcher<bool>::finished, this, [this] { emit written(pending.result()); });
}

RecoveryStore::~RecoveryStore()
{
    waitForWrite();
}

QString RecoveryStore::directory()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + QStringLiteral("/recovery");
}

bool RecoveryStore::write(const QString &photoPath, const QImage &layer)
{
    if (isWriting() || !claimName())
        return false;
    if (snapshot.size() != layer.size()) {
        snapshot = QImage();
        preparing = QtConcurrent::run([size = layer.size()] {
            QImage image(size, QImage::Format_ARGB32);
            image.fill(0);
            return image;
        });
        preparingWatcher.setFuture(preparing);
        return false;
    }

    // Painting goes on in the layer while the worker encodes the copy.
    const QImage source = layer.convertToFormat(QImage::Format_ARGB32);
    const qsizetype rowBytes = qsizetype(source.width()) * 4;
    for (int y = 0; y < source.height(); ++y)
        std::memcpy(snapshot.scanLine(y), source.constScanLine(y), rowBytes);
    // A view that holds no reference: the copy stays this store's alone, and
    // no write starts before the worker is done with it.
    const QImage view(snapshot.constBits(), snapshot.width(), snapshot.height(), snapshot.bytesPerLine(),
                      QImage::Format_ARGB32);
    pending = QtConcurrent::run(writeRecord, recordFile, QFileInfo(photoPath).absoluteFilePath(),
                                QDateTime::currentDateTimeUtc(), view);
    watcher.setFuture(pending);
    return true;
}

bool RecoveryStore::isWriting() const
{
    return pending.isRunning() || preparing.isRunning();
}

void RecoveryStore::waitForWrite()
{
    preparing.waitForFinished();
    takePrepared();
    pending.waitForFinished();
}

bool RecoveryStore::takePrepared()
{
    if (!preparing.isValid() || !preparing.isFinished())
        return false;
    // Taken, not copied: a second reference would make the next write copy
    // the whole image to fresh memory again.
    snapshot = preparing.takeResult();
    // A future whose result was taken never reads as finished again.
    preparing = QFuture<QImage>();
    return true;
}

void RecoveryStore::remove()
{
    waitForWrite();
    snapshot = QImage();
    if (!lock)
        return;
    QFile::remove(recordFile);
    lock.reset();
    recordFile.clear();
}

QString RecoveryStore::fileName() const
{
    return recordFile;
}

bool RecoveryStore::claimName()
{
    if (lock)
        return true;
    const QString dir = directory();
    if (!QDir().mkpath(dir))
        return false;
    const QString stem =
        dir + QLatin1Char('/') + QString::number(QCoreApplication::applicationPid()) + QLatin1Char('-');
    // A dead process with this one's id may have left records behind; they
    // wait to be offered, so their names are passed over.
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QString name = stem + QString::number(++lastNumber) + recordSuffix;
        // A lock that is not a regular file would make the lock wait on it.
        if (QFileInfo::exists(name) || !isAbsentOrRegular(lockFileFor(name)))
            continue;
        if (auto claimed = tryLock(lockFileFor(name))) {
            lock = std::move(claimed);
            recordFile = name;
            return true;
        }
    }
    return false;
}

std::optional<RecoveryRecord> RecoveryStore::takeOrphan(QStringList *problems)
{
    // Named pipes and links to them are listed too, so that they can be
    // reported; they are never opened.
    const QFileInfoList files =
        QDir(directory()).entryInfoList({QLatin1Char('*') + recordSuffix}, QDir::Files | QDir::System, QDir::Time);
    std::optional<RecoveryRecord> waiting;
    for (const QFileInfo &file : files) {
        const QString lockFile = lockFileFor(file.filePath());
        if (!isAbsentOrRegular(lockFile)) {
            if (problems) {
                problems->append(tr("Skipped %1 in the recovery folder: it is not a regular file.")
                                     .arg(QDir::toNativeSeparators(lockFile)));
            }
            continue;
        }
        auto held = tryLock(lockFile);
        if (!held)
            continue; // a running window's
        RecoveryRecord record;
        QString problem;
        switch (readRecord(file.filePath(), record, &problem)) {
        case RecordState::Usable:
            record.lock = std::move(held);
            if (record.unavailable.isEmpty())
                return record;
            // Offered when no record's photo can be opened; kept either way.
            if (!waiting)
                waiting = std::move(record);
            break;
        case RecordState::Damaged:
            QFile::remove(file.filePath());
            [[fallthrough]];
        case RecordState::Skipped:
            if (problems)
                problems->append(problem);
            break;
        }
    }
    return waiting;
}

void RecoveryStore::adopt(const RecoveryRecord &record)
{
    remove();
    recordFile = record.fileName;
    lock = record.lock;
}

void RecoveryStore::discard(const RecoveryRecord &record)
{
    QFile::remove(record.fileName);
    if (record.lock)
        record.lock->unlock();
}
