#include "app/document.h"
#include "app/fillrunner.h"
#include "app/mainwindow.h"
#include "canvas/czefgraphicsview.h"
#include "imaging/colourlayer.h"
#include "imaging/markset.h"
#include "modalanswerer.h"
#include "referencelayer.h"
#include "testsupport.h"

#include <QAction>
#include <QGraphicsScene>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QUndoStack>
#include <QtTest>

#include <optional>

namespace {

// A dark textured disc on a bright textured ground: the region a fill from a
// scribble inside the disc should find.
constexpr int photoWidth = 240;
constexpr int photoHeight = 180;
const QPoint discCentre(110, 90);
constexpr int discRadius = 55;

bool inDisc(int x, int y)
{
    const int dx = x - discCentre.x();
    const int dy = y - discCentre.y();
    return dx * dx + dy * dy <= discRadius * discRadius;
}

QImage discPhoto()
{
    QImage image(photoWidth, photoHeight, QImage::Format_Grayscale8);
    for (int y = 0; y < photoHeight; ++y)
        for (int x = 0; x < photoWidth; ++x)
            image.scanLine(y)[x] = uchar((inDisc(x, y) ? 60 : 170) + ((x * 7 + y * 13) % 23));
    return image;
}

struct Session {
    Session()
    {
        QVERIFY(photo.save(dir.filePath(QStringLiteral("disc.png"))));
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        TestSupport::answerFileDialog(dir.filePath(QStringLiteral("disc.png")));
        action("actionOpen")->trigger();
        window.activateWindow(); // back from the file dialog, for the keys
        QVERIFY(QTest::qWaitForWindowActive(&window));
        view = window.findChild<CZefGraphicsView *>();
        layer = window.document()->colourLayer();
    }
    QAction *action(const char *name) { return window.findChild<QAction *>(QString::fromLatin1(name)); }
    void scribble(const QPointF &from, const QPointF &to)
    {
        QWidget *viewport = view->viewport();
        TestSupport::sendMouse(viewport, QEvent::MouseButtonPress, view->mapFromScene(from), Qt::LeftButton,
                               Qt::LeftButton);
        TestSupport::sendMouse(viewport, QEvent::MouseMove, view->mapFromScene(to), Qt::NoButton, Qt::LeftButton);
        TestSupport::sendMouse(viewport, QEvent::MouseButtonRelease, view->mapFromScene(to), Qt::LeftButton,
                               Qt::NoButton);
    }
    QString status() const { return window.statusBar()->currentMessage(); }

    QTemporaryDir dir;
    QImage photo = discPhoto();
    MainWindow window;
    CZefGraphicsView *view = nullptr;
    ColourLayer *layer = nullptr;
};

// A fill that takes as long as it is let: until it is cancelled.
RegionFill::Result endlessFill(const QImage &, const QList<QPoint> &, const QList<QPoint> &,
                               const std::atomic_bool *cancel, const RegionFill::Progress &)
{
    while (!cancel->load())
        QThread::msleep(1);
    return RegionFill::Result{RegionFill::Outcome::Cancelled, {}};
}

} // namespace

class TestFill : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { TestSupport::nameApplication(); }
    void keysChooseTools_data();
    void keysChooseTools();
    void fillColoursTheRegionAndUndoes();
    void fillWithoutKeepMarkSaysWhy();
    void fillHoldsOffInputAndStops_data();
    void fillHoldsOffInputAndStops();
};

void TestFill::keysChooseTools_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("tool");
    QTest::addColumn<QString>("checked");
    QTest::newRow("K") << int(Qt::Key_K) << int(CZefGraphicsView::KeepMarker) << "actionKeepMarks";
    QTest::newRow("R") << int(Qt::Key_R) << int(CZefGraphicsView::RemoveMarker) << "actionRemoveMarks";
    QTest::newRow("B after K") << int(Qt::Key_B) << int(CZefGraphicsView::KeepBrush) << "actionBrush";
}

void TestFill::keysChooseTools()
{
    QFETCH(int, key);
    QFETCH(int, tool);
    QFETCH(QString, checked);
    Session s;
    QCOMPARE(s.view->toolMode, int(CZefGraphicsView::KeepBrush)); // a new photo starts with the brush
    QTest::keyClick(&s.window, Qt::Key_K);
    QTest::keyClick(&s.window, Qt::Key(key));
    QCOMPARE(s.view->toolMode, tool);
    QVERIFY(s.window.findChild<QAction *>(checked)->isChecked());

    // Return fills while marking, and only then.
    QTest::keyClick(&s.window, Qt::Key_Return);
    const bool marking = tool != CZefGraphicsView::KeepBrush;
    QCOMPARE(s.status().startsWith(QStringLiteral("Nothing to fill")), marking);
}

// Keep marks inside the disc and remove marks outside colour the disc as
// brush dabs would, with a soft rim; the fill is one undo step that gives the
// marks back.
void TestFill::fillColoursTheRegionAndUndoes()
{
    Session s;
    const QImage blank = s.layer->image().copy();
    s.action("actionKeepMarks")->trigger();
    s.scribble(QPointF(90, 80), QPointF(130, 100));
    s.action("actionRemoveMarks")->trigger();
    s.scribble(QPointF(200, 20), QPointF(210, 160));
    const QList<int> keepBefore = s.view->userfgpoints();
    QVERIFY(!keepBefore.isEmpty());

    s.action("actionFill")->trigger();
    const QImage filled = s.layer->image().copy();
    int both = 0;
    int either = 0;
    for (int y = 0; y < photoHeight; ++y)
        for (int x = 0; x < photoWidth; ++x) {
            // The region is coloured as brush dabs would; its soft rim the
            // same colour, weaker.
            const QRgb pixel = filled.pixel(x, y);
            const QRgb full = Reference::colourised(0xFFFF0000, s.photo, QPoint(x, y));
            if (qAlpha(pixel) == qAlpha(full))
                QCOMPARE(pixel, full);
            else if (pixel != 0)
                QVERIFY(qAlpha(pixel) < qAlpha(full) && (pixel & 0xFFFFFFu) == (full & 0xFFFFFFu));
            // A rim pixel counts as filled when at least half covered.
            const bool coloured = 2 * qAlpha(pixel) >= qAlpha(full);
            both += coloured && inDisc(x, y);
            either += coloured || inDisc(x, y);
        }
    QVERIFY2(both >= 0.95 * either, qPrintable(QStringLiteral("IoU %1").arg(double(both) / either)));
    QVERIFY(s.view->userfgpoints().isEmpty() && s.view->userbgpoints().isEmpty()); // the marks are used up
    QCOMPARE(s.action("actionUndo")->text(), QStringLiteral("Undo fill"));
    QVERIFY(s.window.isWindowModified());

    s.action("actionUndo")->trigger();
    QCOMPARE(s.layer->image(), blank);
    QCOMPARE(s.view->userfgpoints(), keepBefore);
    s.action("actionRedo")->trigger();
    QCOMPARE(s.layer->image(), filled);
}

void TestFill::fillWithoutKeepMarkSaysWhy()
{
    Session s;
    s.action("actionRemoveMarks")->trigger();
    s.scribble(QPointF(200, 20), QPointF(210, 160));
    const QImage before = s.layer->image().copy();
    const int steps = s.view->undoStack->count();
    s.action("actionFill")->trigger();
    QVERIFY(s.status().startsWith(QStringLiteral("Nothing to fill")));
    QCOMPARE(s.layer->image(), before);
    QCOMPARE(s.view->undoStack->count(), steps);
    QVERIFY(!s.view->userbgpoints().isEmpty());
}

void TestFill::fillHoldsOffInputAndStops_data()
{
    QTest::addColumn<QString>("stop");
    QTest::newRow("Esc") << "esc";
    QTest::newRow("Esc in the progress dialog") << "dialog esc";
    QTest::newRow("Cancel in the progress dialog") << "cancel";
    QTest::newRow("closing the window") << "close";
}

// While a fill runs, the window takes no input (a stroke, a key, a tool)
// and the fill stops at Esc, at Cancel, and when the window is closed; a
// close goes on to close the window once the fill has stopped.
void TestFill::fillHoldsOffInputAndStops()
{
    QFETCH(QString, stop);
    Session s;
    s.action("actionKeepMarks")->trigger();
    s.scribble(QPointF(90, 80), QPointF(130, 100));
    s.action("actionBrush")->trigger();
    const QImage blank = s.layer->image().copy();
    const int steps = s.view->undoStack->count();
    const qsizetype marks = s.window.document()->marks()->count();
    s.window.findChild<FillRunner *>()->setComputation(endlessFill);

    bool tried = false;
    QTimer::singleShot(0, &s.window, [&] {
        // A stroke, a tool key and the fill key again: none may reach anything.
        s.scribble(QPointF(20, 20), QPointF(200, 150));
        QTest::keyClick(&s.window, Qt::Key_K);
        QTest::keyClick(&s.window, Qt::Key_F);
        tried = true;
        if (stop == QLatin1String("esc")) {
            QTest::keyClick(&s.window, Qt::Key_Escape);
        } else if (stop == QLatin1String("cancel") || stop == QLatin1String("dialog esc")) {
            QProgressDialog *progress = nullptr;
            QTRY_VERIFY((progress = s.window.findChild<QProgressDialog *>()) && progress->isVisible());
            if (stop == QLatin1String("cancel"))
                progress->findChild<QPushButton *>()->click();
            else
                QTest::keyClick(progress, Qt::Key_Escape);
        } else {
            s.window.close();
        }
    });
    // The marks are unsaved work: the window asks once the fill has stopped.
    std::optional<ModalAnswerer> answerer;
    if (stop == QLatin1String("close"))
        answerer.emplace();
    s.action("actionFill")->trigger();

    QVERIFY(tried);
    QCOMPARE(s.layer->image(), blank);
    QCOMPARE(s.view->undoStack->count(), steps);
    QCOMPARE(s.window.document()->marks()->count(), marks);
    QCOMPARE(s.view->toolMode, int(CZefGraphicsView::KeepBrush));
    QCOMPARE(s.window.isVisible(), stop != QLatin1String("close"));
    if (answerer)
        QCOMPARE(answerer->questions.size(), 1);
    QVERIFY(!s.window.findChild<FillRunner *>()->isRunning());
}

QTEST_MAIN(TestFill)
#include "tst_fill.moc"
