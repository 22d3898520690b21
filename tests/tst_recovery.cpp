#include "app/mainwindow.h"
#include "app/recoveryscheduler.h"
#include "app/recoverystore.h"
#include "canvas/canvasitems.h"
#include "canvas/czefgraphicsview.h"
#include "colourlayer/czefgraphicsimagemaskitem.h"
#include "testsupport.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDataStream>
#include <QMessageBox>
#include <QProcess>
#include <QStatusBar>
#include <QUndoStack>
#include <QtTest>

#include <cstdio>
#include <cstring>

namespace {

const char childFlag[] = "--paint-and-wait-for-the-kill";

QString inHome(const QString &name)
{
    return QDir(TestSupport::homeDir()).filePath(name);
}

QString writePhoto(const QString &name)
{
    QImage photo(200, 150, QImage::Format_Grayscale8);
    for (int y = 0; y < photo.height(); ++y)
        for (int x = 0; x < photo.width(); ++x)
            photo.scanLine(y)[x] = uchar((x * 7 + y * 3) % 256);
    photo.save(inHome(name), "png");
    return inHome(name);
}

CZefGraphicsView *viewOf(MainWindow &window)
{
    return window.findChild<CZefGraphicsView *>(QStringLiteral("graphicsView"));
}

CZefGraphicsImageMaskItem *layerOf(MainWindow &window)
{
    CanvasItems *shown = viewOf(window)->documentItems();
    return shown ? shown->layerItem() : nullptr;
}

void openPhoto(MainWindow &window, const QString &photo)
{
    TestSupport::answerFileDialog(photo);
    window.findChild<QAction *>(QStringLiteral("actionOpen"))->trigger();
}

// A stroke between two photo pixels.
void drag(MainWindow &window, Qt::MouseButton button, QPointF from, QPointF to)
{
    CZefGraphicsView *view = viewOf(window);
    QWidget *viewport = view->viewport();
    TestSupport::sendMouse(viewport, QEvent::MouseButtonPress, view->mapFromScene(from), button, button);
    for (int step = 1; step <= 4; ++step) {
        const QPointF at = from + (to - from) * step / 4.0;
        TestSupport::sendMouse(viewport, QEvent::MouseMove, view->mapFromScene(at), Qt::NoButton, button);
    }
    TestSupport::sendMouse(viewport, QEvent::MouseButtonRelease, view->mapFromScene(to), button, Qt::NoButton);
}

QStringList records()
{
    return QDir(RecoveryStore::directory()).entryList({QStringLiteral("*.png")}, QDir::Files);
}

// Answers the next message box with the button of that text, keeping its
// question.
void answerQuestion(const QString &buttonText, QString *question)
{
    QTimer::singleShot(0, [buttonText, question] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        *question = box->text();
        for (QAbstractButton *button : box->buttons()) {
            if (button->text() == buttonText)
                button->click();
        }
    });
}

// The child of the crash test: paints, keeps its layer as the test expects
// it back, says when the record is on disk, and waits to be killed.
int paintAndWaitForTheKill(const QString &photo, const QString &expected)
{
    MainWindow window;
    window.setRecoveryInterval(10);
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        return 1;
    openPhoto(window, photo);
    drag(window, Qt::LeftButton, {20, 20}, {150, 90});
    drag(window, Qt::LeftButton, {40, 120}, {160, 30});
    drag(window, Qt::RightButton, {60, 42}, {100, 63}); // along the first stroke

    const QImage *layer = layerOf(window)->maskImage;
    QFile file(expected);
    if (!file.open(QIODevice::WriteOnly))
        return 1;
    QDataStream out(&file);
    out << layer->size() << QByteArray(reinterpret_cast<const char *>(layer->constBits()), layer->sizeInBytes());
    file.close();

    // Nothing paints from here on, so the first record holds every stroke.
    while (records().isEmpty())
        QTest::qWait(10);
    std::puts("recorded");
    std::fflush(stdout);
    return QApplication::exec();
}

QImage readExpected(const QString &fileName)
{
    QFile file(fileName);
    file.open(QIODevice::ReadOnly);
    QSize size;
    QByteArray bytes;
    QDataStream in(&file);
    in >> size >> bytes;
    QImage image(size, QImage::Format_ARGB32);
    if (bytes.size() == image.sizeInBytes())
        std::memcpy(image.bits(), bytes.constData(), size_t(bytes.size()));
    return image;
}

} // namespace

class TestRecovery : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { TestSupport::nameApplication(); }
    void init() { QDir(RecoveryStore::directory()).removeRecursively(); }
    void recoversAfterAKill();
    void offerAtStart_data();
    void offerAtStart();
    void noRecordInTheMiddleOfAStroke();
    void recordRemoved_data();
    void recordRemoved();
};

void TestRecovery::recoversAfterAKill()
{
    const QString photo = writePhoto(QStringLiteral("photo.png"));
    const QString expectedFile = inHome(QStringLiteral("expected.layer"));
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(),
                {QString::fromLatin1(childFlag), TestSupport::homeDir(), photo, expectedFile});
    QVERIFY(child.waitForStarted());
    QVERIFY2(child.waitForReadyRead(120000), "the child wrote no record");
    QCOMPARE(child.readAll().trimmed(), QByteArray("recorded"));
    child.kill();
    QVERIFY(child.waitForFinished());
    QCOMPARE(child.exitStatus(), QProcess::CrashExit);

    const QImage expected = readExpected(expectedFile);
    QVERIFY(!expected.isNull());
    QVERIFY2(expected.pixel(20, 20) >> 24 == 220, "the strokes painted nothing");
    QVERIFY2(expected.pixel(80, 52) >> 24 == 0, "the eraser took nothing off");

    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QString question;
    answerQuestion(QStringLiteral("Recover"), &question);
    window.offerRecovery();
    QVERIFY2(question.startsWith(QStringLiteral("Recover the unsaved colouring of photo.png from ")),
             qPrintable(question));
    QVERIFY(layerOf(window));
    QCOMPARE(*layerOf(window)->maskImage, expected);
    QVERIFY(!viewOf(window)->undoStack->isClean());
    QVERIFY(window.isWindowModified());
    // Asked once only.
    QVERIFY(!RecoveryStore::takeOrphan(nullptr));
}

void TestRecovery::offerAtStart_data()
{
    QTest::addColumn<QString>("record");
    QTest::addColumn<QString>("message");
    QTest::newRow("discarded") << "sound" << "";
    QTest::newRow("damaged") << "damaged" << "Removed a damaged recovery record.";
}

void TestRecovery::offerAtStart()
{
    QFETCH(QString, record);
    QFETCH(QString, message);
    const QString photo = writePhoto(QStringLiteral("photo.png"));
    {
        RecoveryStore store;
        QImage layer(200, 150, QImage::Format_ARGB32);
        layer.fill(qRgba(200, 0, 0, 220));
        if (!store.write(photo, layer)) {
            store.waitForWrite();
            QVERIFY(store.write(photo, layer));
        }
        store.waitForWrite();
        if (record == QLatin1String("damaged"))
            QFile(store.fileName()).resize(100);
    }

    MainWindow window;
    window.show();
    QString question;
    answerQuestion(QStringLiteral("Discard"), &question);
    window.offerRecovery();
    QCOMPARE(question.isEmpty(), record != QLatin1String("sound"));
    QVERIFY(records().isEmpty());
    QVERIFY(!layerOf(window));
    if (!message.isEmpty())
        QVERIFY2(window.statusBar()->currentMessage().contains(message),
                 qPrintable(window.statusBar()->currentMessage()));
}

void TestRecovery::noRecordInTheMiddleOfAStroke()
{
    MainWindow window;
    window.setRecoveryInterval(10);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    openPhoto(window, writePhoto(QStringLiteral("photo.png")));
    drag(window, Qt::LeftButton, {20, 20}, {150, 90});
    drag(window, Qt::LeftButton, {40, 120}, {160, 30});
    QTRY_COMPARE(records().size(), 1);
    const QFileInfo record(RecoveryStore::directory() + QLatin1Char('/') + records().constFirst());
    const QDateTime first = record.lastModified();

    // An undo leaves something to record; a stroke begins before any tick
    // and is held down over many.
    window.findChild<QAction *>(QStringLiteral("actionUndo"))->trigger();
    CZefGraphicsView *view = viewOf(window);
    const QPoint at = view->mapFromScene(QPointF(30, 120));
    TestSupport::sendMouse(view->viewport(), QEvent::MouseButtonPress, at, Qt::LeftButton, Qt::LeftButton);
    auto *recovery = window.findChild<RecoveryScheduler *>();
    for (int i = 0; i < 5; ++i) {
        recovery->tick();
        QVERIFY(!recovery->store().isWriting());
    }
    QCOMPARE(QFileInfo(record.filePath()).lastModified(), first);
    TestSupport::sendMouse(view->viewport(), QEvent::MouseButtonRelease, at, Qt::LeftButton, Qt::NoButton);
    QTRY_VERIFY(QFileInfo(record.filePath()).lastModified() != first);
}

void TestRecovery::recordRemoved_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("saved") << "save";
    QTest::newRow("undone to the saved state") << "undo";
    QTest::newRow("discarded on closing") << "close";
}

void TestRecovery::recordRemoved()
{
    QFETCH(QString, how);
    MainWindow window;
    window.setRecoveryInterval(10);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    openPhoto(window, writePhoto(QStringLiteral("photo.png")));
    drag(window, Qt::LeftButton, {20, 20}, {150, 90});
    QTRY_COMPARE(records().size(), 1);

    if (how == QLatin1String("save")) {
        TestSupport::answerFileDialog(inHome(QStringLiteral("coloured.png")), true);
        window.findChild<QAction *>(QStringLiteral("actionSave_As"))->trigger();
        QVERIFY(QFile::exists(inHome(QStringLiteral("coloured.png"))));
    } else if (how == QLatin1String("undo")) {
        window.findChild<QAction *>(QStringLiteral("actionUndo"))->trigger();
    } else {
        TestSupport::answerMessageBox(QMessageBox::Discard);
        QVERIFY(window.close());
    }
    QVERIFY(records().isEmpty());
    // Nothing unsaved, so no new record however many ticks pass.
    if (auto *recovery = window.findChild<RecoveryScheduler *>()) { // gone with a closed window
        for (int i = 0; i < 5; ++i) {
            recovery->tick();
            QVERIFY(!recovery->store().isWriting());
        }
    }
    QVERIFY(records().isEmpty());
}

int main(int argc, char **argv)
{
    if (argc == 5 && qstrcmp(argv[1], childFlag) == 0) {
        // The child works in its parent's home, where the parent looks for
        // the record; its own is not needed.
        QDir(TestSupport::homeDir()).removeRecursively();
        const QByteArray home = argv[2];
        qputenv("HOME", home);
        qputenv("XDG_CONFIG_HOME", home + "/.config");
        qputenv("XDG_DATA_HOME", home + "/.local/share");
        qputenv("XDG_CACHE_HOME", home + "/.cache");
        qputenv("XDG_RUNTIME_DIR", home + "/runtime");
        QApplication app(argc, argv);
        TestSupport::nameApplication();
        return paintAndWaitForTheKill(QString::fromLocal8Bit(argv[3]), QString::fromLocal8Bit(argv[4]));
    }
    QApplication app(argc, argv);
    TestRecovery test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_recovery.moc"
