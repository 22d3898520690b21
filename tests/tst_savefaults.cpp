#include "app/mainwindow.h"
#include "modalanswerer.h"
#include "testsupport.h"

#include <QAction>
#include <QRandomGenerator>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <unistd.h>

// Saves that the file system refuses, on a tmpfs of 64 kB mounted for each
// case: the window says the save failed, naming the file, and no byte of a
// file already there changes. Mounting needs root (CI runs as root); the test
// skips otherwise.
class TestSaveFaults : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void saveFails_data();
    void saveFails();

private:
    QString saveAs(const QString &fileName, bool replace);

    QTemporaryDir dir;
    QString mountPoint;
    QString photoFile;
    QString successMessage;
    bool mounted = false;
    QString immutableFile;
};

namespace {

// The words of a status message with the file's name taken out, so that
// messages about different files compare.
QString wording(QString message, const QString &fileName)
{
    return message.replace(QDir::toNativeSeparators(fileName), QStringLiteral("@"))
        .replace(QFileInfo(fileName).fileName(), QStringLiteral("@"));
}

QByteArray contents(const QString &fileName)
{
    QFile file(fileName);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool setImmutable(const QString &fileName, bool on)
{
    const int fd = ::open(QFile::encodeName(fileName).constData(), O_RDONLY);
    int flags = 0;
    bool done = fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
    done = done && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    if (fd >= 0)
        ::close(fd);
    return done;
}

} // namespace

void TestSaveFaults::initTestCase()
{
    TestSupport::nameApplication();
    if (::geteuid() != 0)
        QSKIP("save faults need a tmpfs of their own, which only root can mount");

    // Noise, so that its PNG (about 160 kB) cannot fit on the small disk.
    QImage noise(200, 200, QImage::Format_RGB32);
    QRandomGenerator rng(5);
    for (int y = 0; y < noise.height(); ++y)
        for (int x = 0; x < noise.width(); ++x)
            noise.setPixel(x, y, rng.generate());
    photoFile = dir.filePath(QStringLiteral("noise.png"));
    QVERIFY(noise.save(photoFile));
    mountPoint = dir.filePath(QStringLiteral("disk"));
    QVERIFY(QDir().mkpath(mountPoint));

    // What a save that works says, for comparison with the failures.
    const QString good = dir.filePath(QStringLiteral("good.png"));
    successMessage = wording(saveAs(good, false), good);
    QVERIFY(QFile::exists(good));
}

void TestSaveFaults::init()
{
    if (::mount("brivela-test", QFile::encodeName(mountPoint).constData(), "tmpfs", 0, "size=64k") != 0)
        QSKIP(qPrintable(QStringLiteral("cannot mount a tmpfs: %1").arg(QString::fromLocal8Bit(std::strerror(errno)))));
    mounted = true;
}

void TestSaveFaults::cleanup()
{
    if (!immutableFile.isEmpty())
        setImmutable(std::exchange(immutableFile, QString()), false);
    if (mounted)
        QVERIFY(::umount2(QFile::encodeName(mountPoint).constData(), MNT_DETACH) == 0);
    mounted = false;
}

QString TestSaveFaults::saveAs(const QString &fileName, bool replace)
{
    MainWindow window;
    window.show();
    ModalAnswerer answerer;
    answerer.expectFile(photoFile);
    window.findChild<QAction *>(QStringLiteral("actionOpen"))->trigger();
    answerer.expectFile(fileName, replace);
    window.findChild<QAction *>(QStringLiteral("actionSave_As"))->trigger();
    return window.statusBar()->currentMessage();
}

void TestSaveFaults::saveFails_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("fault");
    QTest::newRow("full disk") << "new.png"
                               << "";
    QTest::newRow("full disk, over a file") << "keep.png"
                                            << "existing";
    QTest::newRow("missing folder") << "missing/new.png"
                                    << "";
    QTest::newRow("file in place of a folder") << "keep.png/new.png"
                                               << "existing";
    QTest::newRow("folder as name") << "taken.png"
                                    << "folder";
    QTest::newRow("read-only file") << "keep.png"
                                    << "existing read-only";
    QTest::newRow("read-only mount") << "new.png"
                                     << "read-only mount";
    QTest::newRow("read-only mount, over a file") << "keep.png"
                                                  << "existing read-only mount";
}

void TestSaveFaults::saveFails()
{
    QFETCH(QString, name);
    QFETCH(QString, fault);
    const QString keep = mountPoint + QStringLiteral("/keep.png");
    const QByteArray precious = QByteArray("precious colouring ").repeated(100);
    if (fault.contains(QLatin1String("existing"))) {
        QFile file(keep);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(precious);
    }
    if (fault == QLatin1String("folder"))
        QVERIFY(QDir(mountPoint).mkdir(name));
    if (fault.contains(QLatin1String("read-only file"))) {
        // Root writes through file permissions; the immutable flag stops it too.
        QFile::setPermissions(keep, QFileDevice::ReadOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther);
        if (!setImmutable(keep, true))
            QSKIP("this file system keeps no immutable flag");
        immutableFile = keep;
    }
    if (fault.contains(QLatin1String("read-only mount")))
        QVERIFY(::mount(nullptr, QFile::encodeName(mountPoint).constData(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr)
                == 0);
    const QStringList before = QDir(mountPoint).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);

    const QString target = mountPoint + QLatin1Char('/') + name;
    const QString message = saveAs(target, true);

    QVERIFY2(wording(message, target) != successMessage, qPrintable(message));
    QCOMPARE(QDir(mountPoint).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), before);
    if (fault.contains(QLatin1String("existing")))
        QCOMPARE(contents(keep), precious);
    if (fault == QLatin1String("folder")) {
        // The file dialog opens a folder given as the name rather than
        // returning it, so the save never starts; the folder stays empty.
        QVERIFY(QDir(target).isEmpty());
        return;
    }
    QVERIFY2(message.contains(QFileInfo(target).fileName()), qPrintable(message));
}

QTEST_MAIN(TestSaveFaults)
#include "tst_savefaults.moc"
