#include "app/recoverystore.h"
#include "testsupport.h"
#include "watchdog.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTransform>
#include <QtTest>

#include <memory>

#include <sys/stat.h>
#include <unistd.h>

namespace {

QImage layerOf(const QString &kind, int w, int h)
{
    QImage layer(w, h, QImage::Format_ARGB32);
    layer.fill(0);
    QRandomGenerator random(7);
    for (int y = 0; y < h; ++y) {
        auto *row = reinterpret_cast<QRgb *>(layer.scanLine(y));
        for (int x = 0; x < w; ++x) {
            if (kind == QLatin1String("left half coloured") && x < w / 2)
                row[x] = qRgba(x % 256, y % 256, (x * y) % 256, 220);
            else if (kind == QLatin1String("any value"))
                row[x] = random.generate(); // colour under alpha 0 must survive too
        }
    }
    return layer;
}

// A JPEG is stored on its side, with the orientation tag that turns it
// upright to w x h.
QString writePhoto(const QString &name, int w, int h)
{
    const QString path = QDir(TestSupport::homeDir()).filePath(name);
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    QImage photo(w, h, QImage::Format_Grayscale8);
    photo.fill(128);
    if (name.endsWith(QLatin1String(".jpg")))
        file.write(TestSupport::jpegWithOrientation(photo.transformed(QTransform().rotate(-90)), 6));
    else
        photo.save(&file, "png");
    return path;
}

// The first write of a layer size only prepares the store's copy.
bool startWrite(RecoveryStore &store, const QString &photo, const QImage &layer)
{
    if (store.write(photo, layer))
        return true;
    store.waitForWrite();
    return store.write(photo, layer);
}

// Writes a record and lets its store go, as a window that dies does.
QString leaveRecord(const QString &photo, const QImage &layer)
{
    RecoveryStore store;
    if (!startWrite(store, photo, layer))
        return QString();
    store.waitForWrite();
    return store.fileName();
}

void clearRecords()
{
    QDir(RecoveryStore::directory()).removeRecursively();
}

} // namespace

class TestRecoveryStore : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { TestSupport::nameApplication(); }
    void init() { clearRecords(); }
    void restoresLayerBitForBit_data();
    void restoresLayerBitForBit();
    void removesUnusableRecords_data();
    void removesUnusableRecords();
    void storesKeepTheirOwnRecords();
    void entriesThatAreNotFilesAreSkipped_data();
    void entriesThatAreNotFilesAreSkipped();
    void unavailablePhotoKeepsTheRecord_data();
    void unavailablePhotoKeepsTheRecord();
    void recordsWithTheirPhotoComeFirst();
};

void TestRecoveryStore::restoresLayerBitForBit_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("photoName");
    QTest::newRow("uncoloured") << "uncoloured"
                                << "photo.png";
    QTest::newRow("left half coloured, alpha 220") << "left half coloured"
                                                   << "photo.png";
    QTest::newRow("photo on its side with an orientation tag") << "left half coloured"
                                                               << "camera.jpg";
    QTest::newRow("every channel value, name with spaces and accents")
        << "any value" << QStringLiteral("Sommer am Seeufer %1 (\u00e9t\u00e9).png");
}

void TestRecoveryStore::restoresLayerBitForBit()
{
    QFETCH(QString, kind);
    QFETCH(QString, photoName);
    const QString photo = writePhoto(photoName, 301, 157);
    const QImage layer = layerOf(kind, 301, 157);
    const QDateTime before = QDateTime::currentDateTimeUtc().addMSecs(-1);
    QVERIFY(!leaveRecord(photo, layer).isEmpty());

    QStringList problems;
    const auto record = RecoveryStore::takeOrphan(&problems);
    QVERIFY2(record, qPrintable(problems.join(QLatin1Char(' '))));
    QCOMPARE(record->photoPath, photo);
    QVERIFY(record->time >= before && record->time <= QDateTime::currentDateTimeUtc());
    QCOMPARE(record->layer.format(), QImage::Format_ARGB32);
    QCOMPARE(record->layer, layer);

    // Offered to one start only.
    QVERIFY(!RecoveryStore::takeOrphan(nullptr));
    RecoveryStore::discard(*record);
    QVERIFY(QDir(RecoveryStore::directory()).isEmpty());
}

void TestRecoveryStore::removesUnusableRecords_data()
{
    QTest::addColumn<QString>("damage");
    QTest::addColumn<QString>("message");
    QTest::newRow("truncated") << "truncate"
                               << "damaged";
    QTest::newRow("a flipped bit in the pixels") << "flip"
                                                 << "damaged";
    QTest::newRow("empty") << "empty"
                           << "damaged";
}

void TestRecoveryStore::removesUnusableRecords()
{
    QFETCH(QString, damage);
    QFETCH(QString, message);
    const QString photo = writePhoto(QStringLiteral("photo.png"), 400, 300);
    const QString other = writePhoto(QStringLiteral("other.png"), 400, 300);
    const QString sound = leaveRecord(other, layerOf(QStringLiteral("left half coloured"), 400, 300));
    QFile older(sound);
    QVERIFY(older.open(QIODevice::ReadWrite));
    older.setFileTime(QDateTime::currentDateTime().addSecs(-60), QFileDevice::FileModificationTime);
    older.close();
    const QString record = leaveRecord(photo, layerOf(QStringLiteral("any value"), 400, 300));

    QFile file(record);
    QVERIFY(file.open(QIODevice::ReadWrite));
    QByteArray bytes = file.readAll();
    if (damage == QLatin1String("truncate"))
        bytes.truncate(bytes.size() / 2);
    else if (damage == QLatin1String("flip"))
        bytes[bytes.size() - 40] = char(bytes.at(bytes.size() - 40) ^ 0x10);
    else if (damage == QLatin1String("empty"))
        bytes.clear();
    file.resize(0);
    file.write(bytes);
    file.close();

    QStringList problems;
    const auto found = RecoveryStore::takeOrphan(&problems);
    QVERIFY(!QFile::exists(record));
    QCOMPARE(problems.size(), 1);
    QVERIFY2(problems.constFirst().contains(message), qPrintable(problems.constFirst()));
    // An older sound record is offered instead.
    QVERIFY(found);
    QCOMPARE(found->fileName, sound);
}

void TestRecoveryStore::storesKeepTheirOwnRecords()
{
    const QString photo = writePhoto(QStringLiteral("photo.png"), 200, 100);
    const QImage first = layerOf(QStringLiteral("left half coloured"), 200, 100);
    const QImage second = layerOf(QStringLiteral("any value"), 200, 100);
    auto one = std::make_unique<RecoveryStore>();
    auto two = std::make_unique<RecoveryStore>();
    QSignalSpy written(two.get(), &RecoveryStore::written);
    QVERIFY(startWrite(*one, photo, first));
    QVERIFY(startWrite(*two, photo, second));
    one->waitForWrite();
    QVERIFY(written.count() == 1 || written.wait());
    QCOMPARE(written.constFirst().constFirst().toBool(), true);
    QVERIFY(one->fileName() != two->fileName());

    // Records of running windows are not offered.
    QVERIFY(!RecoveryStore::takeOrphan(nullptr));

    const QString firstFile = one->fileName();
    one->remove();
    QVERIFY(!QFile::exists(firstFile));
    two.reset();
    const auto left = RecoveryStore::takeOrphan(nullptr);
    QVERIFY(left);
    QCOMPARE(left->layer, second);
}

void TestRecoveryStore::entriesThatAreNotFilesAreSkipped_data()
{
    QTest::addColumn<QString>("entry");
    QTest::addColumn<QString>("kind");
    QTest::newRow("record is a link to a named pipe") << "99999-1.png"
                                                      << "link to pipe";
    QTest::newRow("record is a named pipe") << "99999-2.png"
                                            << "pipe";
    QTest::newRow("lock is a link to a named pipe") << "99999-3.lock"
                                                    << "link to pipe";
    QTest::newRow("lock is a named pipe") << "99999-4.lock"
                                          << "pipe";
}

// A start never waits on what is not a regular file in the recovery folder:
// it says so, leaves it alone and offers the sound record.
void TestRecoveryStore::entriesThatAreNotFilesAreSkipped()
{
    QFETCH(QString, entry);
    QFETCH(QString, kind);
    const QString photo = writePhoto(QStringLiteral("photo.png"), 120, 80);
    const QImage layer = layerOf(QStringLiteral("left half coloured"), 120, 80);
    const QString sound = leaveRecord(photo, layer);
    QVERIFY(!sound.isEmpty());
    // Older, so that the entry is examined first.
    QFile older(sound);
    QVERIFY(older.open(QIODevice::ReadWrite));
    older.setFileTime(QDateTime::currentDateTime().addSecs(-60), QFileDevice::FileModificationTime);
    older.close();
    const QString dir = RecoveryStore::directory();
    const QString path = dir + QLatin1Char('/') + entry;
    if (entry.endsWith(QLatin1String(".lock"))) {
        // A record beside the lock, so that the lock is the only fault.
        QVERIFY(QFile::copy(sound, path.chopped(5) + QStringLiteral(".png")));
    }
    const QString pipe =
        kind == QLatin1String("pipe") ? path : QDir(TestSupport::homeDir()).filePath(entry + QStringLiteral(".fifo"));
    QCOMPARE(mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    if (kind == QLatin1String("link to pipe"))
        QVERIFY(QFile::link(pipe, path));

    Watchdog watchdog(std::chrono::seconds(20));
    for (int start = 0; start < 2; ++start) {
        watchdog.arm(QStringLiteral("a start with %1").arg(entry));
        QStringList problems;
        const auto found = RecoveryStore::takeOrphan(&problems);
        QVERIFY2(problems.join(QLatin1Char(' '))
                     .contains(QStringLiteral("Skipped %1 in the recovery folder: it is not a regular file.")
                                   .arg(QDir::toNativeSeparators(path))),
                 qPrintable(problems.join(QLatin1Char(' '))));
        QVERIFY(found);
        QCOMPARE(found->layer, layer);
        QVERIFY(QFileInfo(path).exists() || QFileInfo(path).isSymLink());
    }
    // A store of this process writes its own record all the same.
    watchdog.arm(QStringLiteral("a write beside %1").arg(entry));
    QVERIFY(!leaveRecord(photo, layer).isEmpty());
}

void TestRecoveryStore::unavailablePhotoKeepsTheRecord_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("reason");
    QTest::newRow("drive not mounted") << "unmount"
                                       << "cannot be found; it may be on a drive that is not connected";
    QTest::newRow("no permission") << "permission"
                                   << "cannot be read: Permission denied";
    QTest::newRow("photo replaced by another size") << "resize"
                                                    << "has changed since";
    QTest::newRow("photo replaced by a named pipe") << "pipe"
                                                    << "is not a regular file";
}

// A record whose photo cannot be opened now keeps its colouring: it is
// offered, with the reason, at every start until the photo is back (then it
// recovers) or the user discards it.
void TestRecoveryStore::unavailablePhotoKeepsTheRecord()
{
    QFETCH(QString, fault);
    QFETCH(QString, reason);
    const QString drive = QDir(TestSupport::homeDir()).filePath(QStringLiteral("drive"));
    QDir(drive).removeRecursively();
    QVERIFY(QDir().mkpath(drive));
    const QString photo = writePhoto(QStringLiteral("drive/photo.png"), 160, 90);
    const QImage layer = layerOf(QStringLiteral("any value"), 160, 90);
    const QString record = leaveRecord(photo, layer);
    QVERIFY(!record.isEmpty());

    const QString away = drive + QStringLiteral(".away");
    QDir(away).removeRecursively();
    if (fault == QLatin1String("unmount")) {
        QVERIFY(QDir().rename(drive, away));
    } else if (fault == QLatin1String("permission")) {
        QVERIFY(QFile::setPermissions(photo, QFileDevice::WriteOwner));
    } else if (fault == QLatin1String("resize")) {
        writePhoto(QStringLiteral("drive/photo.png"), 90, 160);
    } else {
        QVERIFY(QFile::remove(photo));
        QCOMPARE(mkfifo(QFile::encodeName(photo).constData(), 0600), 0);
    }

    // Root reads whatever the permissions say: the start is made as
    // "nobody", who needs to reach the home and write locks in the folder.
    const bool root = geteuid() == 0;
    const bool asNobody = root && fault == QLatin1String("permission");
    QStringList opened;
    if (asNobody) {
        for (QString path = RecoveryStore::directory();
             path.startsWith(TestSupport::homeDir()) || path == QLatin1String("/tmp"); path = QFileInfo(path).path())
            chmod(QFile::encodeName(path).constData(), 0777);
        chmod(QFile::encodeName(record).constData(), 0666);
    }
    const auto start = [&](QStringList *problems) {
        constexpr uid_t nobody = 65534;
        if (asNobody && seteuid(nobody) != 0)
            qFatal("could not take the identity of nobody");
        auto found = RecoveryStore::takeOrphan(problems);
        if (asNobody && seteuid(0) != 0)
            qFatal("could not become root again");
        return found;
    };

    Watchdog watchdog(std::chrono::seconds(20));
    for (int later = 0; later < 2; ++later) {
        watchdog.arm(QStringLiteral("start %1 with the photo unavailable").arg(later));
        QStringList problems;
        const auto found = start(&problems);
        QVERIFY(problems.isEmpty());
        QVERIFY(found);
        QVERIFY2(found->unavailable.contains(reason), qPrintable(found->unavailable));
        QVERIFY(found->unavailable.contains(QDir::toNativeSeparators(photo)));
        QCOMPARE(found->layer, layer);
        QCOMPARE(found->photoPath, photo);
    }
    QVERIFY(QFile::exists(record));

    // The photo back in place: the record is offered as any other.
    if (fault == QLatin1String("unmount")) {
        QVERIFY(QDir().rename(away, drive));
    } else if (fault == QLatin1String("permission")) {
        QVERIFY(QFile::setPermissions(photo, QFileDevice::ReadOwner | QFileDevice::WriteOwner));
    } else {
        QFile::remove(photo);
        writePhoto(QStringLiteral("drive/photo.png"), 160, 90);
    }
    watchdog.arm(QStringLiteral("start with the photo back"));
    const auto back = RecoveryStore::takeOrphan(nullptr);
    QVERIFY(back);
    QVERIFY2(back->unavailable.isEmpty(), qPrintable(back->unavailable));
    QCOMPARE(back->layer, layer);
    RecoveryStore::discard(*back);
    QVERIFY(!QFile::exists(record));
}

// Of two records, the one whose photo opens now is offered first, whatever
// their age; the other waits.
void TestRecoveryStore::recordsWithTheirPhotoComeFirst()
{
    const QString usablePhoto = writePhoto(QStringLiteral("here.png"), 100, 60);
    const QString usable = leaveRecord(usablePhoto, layerOf(QStringLiteral("left half coloured"), 100, 60));
    QFile older(usable);
    QVERIFY(older.open(QIODevice::ReadWrite));
    older.setFileTime(QDateTime::currentDateTime().addSecs(-600), QFileDevice::FileModificationTime);
    older.close();
    const QString gonePhoto = writePhoto(QStringLiteral("gone.png"), 100, 60);
    const QString waiting = leaveRecord(gonePhoto, layerOf(QStringLiteral("any value"), 100, 60));
    QVERIFY(QFile::remove(gonePhoto));

    auto first = RecoveryStore::takeOrphan(nullptr);
    QVERIFY(first);
    QCOMPARE(first->fileName, usable);
    RecoveryStore::discard(*first);
    first.reset();
    const auto second = RecoveryStore::takeOrphan(nullptr);
    QVERIFY(second);
    QCOMPARE(second->fileName, waiting);
    QVERIFY(!second->unavailable.isEmpty());
}

QTEST_GUILESS_MAIN(TestRecoveryStore)
#include "tst_recoverystore.moc"
