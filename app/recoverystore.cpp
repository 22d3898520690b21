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

#include <atomic>
#include <cstring>

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
bool writeRecord(const QString &fileName, const QString &photoPath, const QDateTime &time,
                 const QImage &layer)
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

// The photo's size as the window shows it: upright, as its orientation tag
// says.
QSize uprightSize(const QString &photo)
{
    QImageReader reader(photo);
    reader.setAutoTransform(true);
    const QSize size = reader.size();
    return reader.transformation() & QImageIOHandler::TransformationRotate90 ? size.transposed() : size;
}

// Reads a record; on failure returns a sentence saying why it is unusable.
QString readRecord(const QString &fileName, RecoveryRecord &record)
{
    QImageReader reader(fileName, "png");
    record.fileName = fileName;
    record.photoPath = QUrl(reader.text(photoKey), QUrl::StrictMode).toLocalFile();
    record.time = QDateTime::fromString(reader.text(timeKey), Qt::ISODateWithMs);
    if (record.photoPath.isEmpty() || !record.time.isValid())
        return RecoveryStore::tr("Removed a damaged recovery record.");

    const QString shownName = QDir::toNativeSeparators(record.photoPath);
    if (!QFileInfo(record.photoPath).isFile())
        return RecoveryStore::tr("Removed the recovery record of %1: the photo is no longer there.").arg(shownName);

    record.layer = reader.read();
    if (record.layer.isNull())
        return RecoveryStore::tr("Removed a damaged recovery record.");
    // Any other size would put the colouring on the wrong pixels.
    if (uprightSize(record.photoPath) != record.layer.size())
        return RecoveryStore::tr("Removed the recovery record of %1: the photo has changed since.").arg(shownName);
    record.layer.convertTo(QImage::Format_ARGB32);
    return QString();
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
    const QString stem = dir + QLatin1Char('/') + QString::number(QCoreApplication::applicationPid()) + QLatin1Char('-');
    // A dead process with this one's id may have left records behind; they
    // wait to be offered, so their names are passed over.
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QString name = stem + QString::number(++lastNumber) + recordSuffix;
        if (QFileInfo::exists(name))
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
    const QFileInfoList files =
        QDir(directory()).entryInfoList({QLatin1Char('*') + recordSuffix}, QDir::Files, QDir::Time);
    for (const QFileInfo &file : files) {
        auto held = tryLock(lockFileFor(file.filePath()));
        if (!held)
            continue; // a running window's
        RecoveryRecord record;
        const QString problem = readRecord(file.filePath(), record);
        if (problem.isEmpty()) {
            record.lock = std::move(held);
            return record;
        }
        QFile::remove(file.filePath());
        if (problems)
            problems->append(problem);
    }
    return std::nullopt;
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
