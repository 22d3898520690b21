#include "app/mainwindow.h"
#include "canvas/canvasitems.h"
#include "canvas/czefgraphicsview.h"
#include "colourlayer/czefgraphicsimagemaskitem.h"
#include "modalanswerer.h"
#include "testsupport.h"
#include "watchdog.h"

#include <QAction>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QGraphicsPixmapItem>
#include <QTemporaryDir>
#include <QUndoStack>
#include <QtTest>

#include <algorithm>

// Opens every file of a corpus of damaged and hostile images (the directory
// named by BRIVELA_CORPUS, see scripts/make-hostile-corpus.py) through the
// window's Open command, paints three dabs on what it accepts and saves that
// as PNG; what it refuses must leave the open photo and its colouring as they
// were. Meant to run under the sanitizers, which turn any memory fault into a
// failure.
class TestCorpus : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void everyFile_data();
    void everyFile();
    void cleanupTestCase();

private:
    QGraphicsPixmapItem *photoItem() const;
    CZefGraphicsImageMaskItem *layer() const;
    void trigger(const char *action);
    void paintDab(const QPointF &at);

    QTemporaryDir out;
    QMap<QString, QStringList> seeds; // the files of each seed's folder
    MainWindow *window = nullptr;
    CZefGraphicsView *view = nullptr;
    int accepted = 0;
    QString slowest;
    qint64 slowestMs = -1;
};

namespace {

// Hostile files log a great deal; counted rather than printed, so that a
// failure's own message stays readable.
int warnings = 0;
QtMessageHandler testHandler = nullptr;
void countWarnings(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtCriticalMsg || type == QtFatalMsg)
        testHandler(type, context, message);
    ++warnings;
}

} // namespace

void TestCorpus::initTestCase()
{
    TestSupport::nameApplication();
    const QString corpus = qEnvironmentVariable("BRIVELA_CORPUS");
    QVERIFY2(!corpus.isEmpty(), "BRIVELA_CORPUS names the corpus directory");
    int count = 0;
    QDirIterator it(corpus, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo file(it.next());
        seeds[file.dir().dirName()].append(file.filePath());
        ++count;
    }
    QVERIFY2(count >= 1000, qPrintable(QStringLiteral("%1 files in %2").arg(count).arg(corpus)));
    testHandler = qInstallMessageHandler(countWarnings);
}

void TestCorpus::everyFile_data()
{
    QTest::addColumn<QStringList>("files");
    for (auto it = seeds.cbegin(); it != seeds.cend(); ++it) {
        QStringList files = it.value();
        files.sort();
        // The seed first, so that every mutation meets a coloured photo.
        std::stable_partition(files.begin(), files.end(), [&](const QString &file) {
            return QFileInfo(file).completeBaseName() == it.key();
        });
        QTest::newRow(qPrintable(it.key())) << files;
    }
}

void TestCorpus::cleanupTestCase()
{
    if (testHandler)
        qInstallMessageHandler(testHandler);
    qInfo("%d files accepted; %d warnings logged; slowest %s, %lld ms", accepted, warnings, qPrintable(slowest),
          slowestMs);
}

QGraphicsPixmapItem *TestCorpus::photoItem() const
{
    for (QGraphicsItem *item : view->scene()->items())
        if (item->type() == QGraphicsPixmapItem::Type)
            return static_cast<QGraphicsPixmapItem *>(item);
    return nullptr;
}

CZefGraphicsImageMaskItem *TestCorpus::layer() const
{
    return view->documentItems() ? view->documentItems()->layerItem() : nullptr;
}

void TestCorpus::trigger(const char *action)
{
    window->findChild<QAction *>(QString::fromLatin1(action))->trigger();
}

void TestCorpus::paintDab(const QPointF &at)
{
    const QPoint pos = view->mapFromScene(at);
    TestSupport::sendMouse(view->viewport(), QEvent::MouseButtonPress, pos, Qt::LeftButton, Qt::LeftButton);
    TestSupport::sendMouse(view->viewport(), QEvent::MouseButtonRelease, pos, Qt::LeftButton, Qt::NoButton);
}

void TestCorpus::everyFile()
{
    QFETCH(QStringList, files);
    MainWindow mainWindow;
    window = &mainWindow;
    view = window->findChild<CZefGraphicsView *>(QStringLiteral("graphicsView"));
    window->resize(640, 480);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    ModalAnswerer answerer;
    Watchdog watchdog(std::chrono::seconds(10));
    const QString saved = out.filePath(QStringLiteral("saved.png"));

    for (const QString &file : std::as_const(files)) {
        watchdog.arm(file);
        QElapsedTimer clock;
        clock.start();
        const auto timed = qScopeGuard([&] {
            if (clock.elapsed() > slowestMs)
                slowestMs = clock.elapsed();
            if (clock.elapsed() == slowestMs)
                slowest = file;
        });
        const QGraphicsPixmapItem *before = photoItem();
        const qint64 photoKey = before ? before->pixmap().cacheKey() : 0;
        const QImage layerBefore = before ? layer()->maskImage->copy() : QImage();
        const int strokesBefore = view->undoStack->count();
        const int undoneBefore = view->undoStack->index();

        answerer.expectFile(file);
        trigger("actionOpen");

        if (!photoItem() || photoItem()->pixmap().cacheKey() == photoKey) {
            // A seed is a valid image: refusing one means the corpus lost its format.
            QVERIFY2(before, qPrintable(file + QStringLiteral(" refused")));
            QVERIFY2(*layer()->maskImage == layerBefore, qPrintable(file));
            QCOMPARE(view->undoStack->count(), strokesBefore);
            QCOMPARE(view->undoStack->index(), undoneBefore);
            continue;
        }

        ++accepted;
        const QSize size = photoItem()->pixmap().size();
        QCOMPARE(layer()->maskImage->size(), size);
        for (const qreal f : {0.25, 0.5, 0.75})
            paintDab(QPointF(size.width() * f, size.height() * f));

        QFile::remove(saved);
        answerer.expectFile(saved);
        trigger("actionSave_As");
        QVERIFY2(QImage(saved).size() == size, qPrintable(file + QStringLiteral(" not saved")));
    }
}

QTEST_MAIN(TestCorpus)
#include "tst_corpus.moc"
