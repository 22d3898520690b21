#include "app/mainwindow.h"
#include "canvas/czefgraphicsview.h"
#include "modalanswerer.h"
#include "testsupport.h"

#include <QAction>
#include <QDir>
#include <QGraphicsPixmapItem>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

// Whatever the settings file holds, the window starts and works: it opens a
// photo, paints and saves. The file is written before the window is made,
// and again once it stands (as another instance would), since the window
// stores its brush size at start and the brush reads it back at every dab.
class TestSettingsFile : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void startsAndWorks_data();
    void startsAndWorks();

private:
    void writeSettings(const QByteArray &content, bool asFolder);

    QTemporaryDir dir;
    QString settingsFile;
};

void TestSettingsFile::initTestCase()
{
    TestSupport::nameApplication();
    settingsFile = qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/Fendrel software/Brivela 1.0.conf");
    QVERIFY(settingsFile.startsWith(TestSupport::homeDir()));
    QVERIFY(QDir().mkpath(QFileInfo(settingsFile).path()));
    QImage photo(40, 30, QImage::Format_Grayscale8);
    photo.fill(140);
    QVERIFY(photo.save(dir.filePath(QStringLiteral("photo.png"))));
}

void TestSettingsFile::writeSettings(const QByteArray &content, bool asFolder)
{
    QFile::remove(settingsFile);
    QDir(settingsFile).removeRecursively();
    if (asFolder) {
        QVERIFY(QDir().mkpath(settingsFile + QStringLiteral("/inside")));
        return;
    }
    QFile file(settingsFile);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
}

void TestSettingsFile::startsAndWorks_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("asFolder");

    // One value for every key the window keeps.
    const auto every = [](const QByteArray &value) {
        return "[General]\nTOOLSIZE=" + value + "\nCurrDir=" + value + "\nCurrSaveDir=" + value
            + "\nNaturalColour=" + value + "\nStrength=" + value + "\nSoftness=" + value + "\nRecentColours=" + value
            + "\nReferenceDir=" + value + "\n";
    };
    QTest::newRow("text for a number") << every("brush") << false;
    QTest::newRow("zero") << every("0") << false;
    QTest::newRow("negative") << every("-2147483648") << false;
    QTest::newRow("beyond 32 bits") << every("99999999999999999999999") << false;
    QTest::newRow("float") << every("1e308") << false;
    QTest::newRow("not a number") << every("nan") << false;
    QTest::newRow("list") << every("1, 2, 3") << false;
    QTest::newRow("rectangle") << every("@Rect(0 0 -5 99999)") << false;
    QTest::newRow("byte array") << every("@ByteArray(\\0\\xff\\xfe)") << false;
    QTest::newRow("variant of no known type") << every("@Variant(\\0\\0\\0\\x7f\\0\\0\\0\\x10NoSuchType\\0)") << false;
    QTest::newRow("broken variant") << every("@Variant(\\0\\0") << false;
    QTest::newRow("folder that does not exist") << every("/no/such/folder") << false;
    QTest::newRow("device") << every("/dev/null") << false;
    QTest::newRow("one megabyte") << every(QByteArray(1 << 20, 'x')) << false;
    QTest::newRow("escapes gone wrong") << every("\\x\\u\\\"\\") << false;
    QTest::newRow("empty values") << every("") << false;
    QTest::newRow("empty file") << QByteArray() << false;
    QTest::newRow("unterminated section") << QByteArray("[General\nTOOLSIZE") << false;
    QTest::newRow("repeated keys") << QByteArray(
        "[General]\nTOOLSIZE=5\nTOOLSIZE=x\n[General]\nTOOLSIZE=\n[%General]\nTOOLSIZE=9\n")
                                   << false;
    QTest::newRow("invalid UTF-8") << QByteArray("\xff\xfe[General]\nTOOLSIZE=\xc3\x28\nCurrDir=\xed\xa0\x80\n")
                                   << false;
    QTest::newRow("zero bytes") << QByteArray(4096, '\0') << false;
    QByteArray junk(64 * 1024, Qt::Uninitialized);
    QRandomGenerator rng(11);
    for (char &c : junk)
        c = char(rng.bounded(256));
    QTest::newRow("binary junk") << junk << false;
    QTest::newRow("a folder in place of the file") << QByteArray() << true;
}

void TestSettingsFile::startsAndWorks()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, asFolder);
    writeSettings(content, asFolder);

    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    writeSettings(content, asFolder);
    ModalAnswerer answerer;

    answerer.expectFile(dir.filePath(QStringLiteral("photo.png")));
    window.findChild<QAction *>(QStringLiteral("actionOpen"))->trigger();
    auto *view = window.findChild<CZefGraphicsView *>(QStringLiteral("graphicsView"));
    bool photoShown = false;
    for (QGraphicsItem *item : view->scene()->items())
        photoShown |= item->type() == QGraphicsPixmapItem::Type;
    QVERIFY2(photoShown, "the photo opens");

    const QPoint centre = view->mapFromScene(QPointF(20, 15));
    TestSupport::sendMouse(view->viewport(), QEvent::MouseButtonPress, centre, Qt::LeftButton, Qt::LeftButton);
    TestSupport::sendMouse(view->viewport(), QEvent::MouseMove, centre + QPoint(3, 2), Qt::NoButton, Qt::LeftButton);
    TestSupport::sendMouse(view->viewport(), QEvent::MouseButtonRelease, centre, Qt::LeftButton, Qt::NoButton);

    const QString saved = dir.filePath(QStringLiteral("saved.png"));
    QFile::remove(saved);
    answerer.expectFile(saved);
    window.findChild<QAction *>(QStringLiteral("actionSave_As"))->trigger();
    QCOMPARE(QImage(saved).size(), QSize(40, 30));
    QVERIFY(answerer.questions.isEmpty());
}

QTEST_MAIN(TestSettingsFile)
#include "tst_settingsfile.moc"
