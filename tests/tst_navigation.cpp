#include "app/document.h"
#include "app/mainwindow.h"
#include "app/viewcommands.h"
#include "app/windowgeometry.h"
#include "canvas/canvasitems.h"
#include "canvas/czefgraphicsbrushcursoritem.h"
#include "canvas/czefgraphicsview.h"
#include "colourlayer/czefgraphicsimagemaskitem.h"
#include "imaging/brushgeometry.h"
#include "imaging/colourlayer.h"
#include "imaging/markset.h"
#include "testsupport.h"

#include <QAction>
#include <QGraphicsPixmapItem>
#include <QGraphicsScene>
#include <QKeyEvent>
#include <QLabel>
#include <QScreen>
#include <QScrollBar>
#include <QSettings>
#include <QSlider>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QUndoStack>
#include <QWheelEvent>
#include <QtTest>

namespace {

QImage grey(const QSize &size)
{
    QImage image(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x)
            image.setPixel(x, y, qRgb((x * 3 + y) & 0xFF, (x * 3 + y) & 0xFF, (x * 3 + y) & 0xFF));
    return image;
}

// A document with a photo larger than the view, shown at 100 % from its
// top-left corner, so that the view can scroll both ways.
struct DocumentView {
    explicit DocumentView(const QSize &photo = QSize(900, 700), const QSize &viewSize = QSize(300, 240))
    {
        QVERIFY(document.open(grey(photo), QImage(), QStringLiteral("grey.png")) == Document::OpenResult::Opened);
        view.setScene(&scene);
        view.setDocument(&document);
        view.setMouseTracking(true);
        view.resize(viewSize);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        view.horizontalScrollBar()->setValue(view.horizontalScrollBar()->minimum() + 100);
        view.verticalScrollBar()->setValue(view.verticalScrollBar()->minimum() + 100);
    }
    QWidget *viewport() { return view.viewport(); }
    void key(QEvent::Type type, int key, bool repeat = false)
    {
        QKeyEvent event(type, key, Qt::NoModifier, QString(), repeat);
        QApplication::sendEvent(&view, &event);
    }
    QPoint scroll() const { return QPoint(view.horizontalScrollBar()->value(), view.verticalScrollBar()->value()); }
    Qt::CursorShape cursor() { return viewport()->cursor().shape(); }
    bool brushCircleShown()
    {
        for (QGraphicsItem *item : scene.items())
            if (item->type() == CZefGraphicsBrushCursorItem::Type)
                return true;
        return false;
    }

    QGraphicsScene scene;
    Document document;
    CZefGraphicsView view;
};

void sendWheel(QWidget *viewport, const QPointF &pos, const QPoint &angle, Qt::KeyboardModifiers modifiers)
{
    QWheelEvent event(pos, viewport->mapToGlobal(pos), QPoint(), angle, Qt::NoButton, modifiers, Qt::NoScrollPhase,
                      false);
    QApplication::sendEvent(viewport, &event);
}

// The photo's rectangle on screen lies within the viewport and fills it one way.
bool wholeInView(const CZefGraphicsView &view)
{
    const QRectF shown = view.viewportTransform().mapRect(view.sceneRect());
    const QRectF room = QRectF(view.viewport()->rect()).adjusted(-1, -1, 1, 1);
    return room.contains(shown)
        && (qAbs(shown.width() - view.viewport()->width()) < 1.5
            || qAbs(shown.height() - view.viewport()->height()) < 1.5);
}

QString writePhoto(const QTemporaryDir &dir, const QString &name, const QSize &size)
{
    const QString path = dir.filePath(name);
    grey(size).save(path);
    return path;
}

} // namespace

class TestNavigation : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void panningNeverPaints_data();
    void panningNeverPaints();
    void wheelScrolls_data();
    void wheelScrolls();
    void fittedViewStaysFitted_data();
    void fittedViewStaysFitted();
    void noBrushCircleLeftBehind_data();
    void noBrushCircleLeftBehind();
    void backslashShowsThePhoto();
    void markDragLayingNothingIsNoStep_data();
    void markDragLayingNothingIsNoStep();
    void marksStayVisibleFarOut_data();
    void marksStayVisibleFarOut();
    void brushSizeKeysAndBox_data();
    void brushSizeKeysAndBox();
    void zoomCommands();
    void windowGoesWithTheOutlineShown();
    void showColouringFollowsTheKey();
    void windowGeometry_data();
    void windowGeometry();

private:
    QTemporaryDir dir;
};

void TestNavigation::initTestCase()
{
    TestSupport::nameApplication();
    QVERIFY(dir.isValid());
}

void TestNavigation::panningNeverPaints_data()
{
    QTest::addColumn<int>("tool");
    QTest::addColumn<bool>("space");
    const QList<QPair<const char *, int>> tools = {{"brush", CZefGraphicsView::KeepBrush},
                                                   {"remove brush", CZefGraphicsView::RemoveBrush},
                                                   {"keep marker", CZefGraphicsView::KeepMarker},
                                                   {"remove marker", CZefGraphicsView::RemoveMarker}};
    for (const auto &[name, id] : tools) {
        QTest::addRow("%s, Space and left drag", name) << id << true;
        QTest::addRow("%s, middle drag", name) << id << false;
    }
}

// Space with the left button, and the middle button, move the picture with
// the hand whatever the tool, and paint, erase or mark nothing.
void TestNavigation::panningNeverPaints()
{
    QFETCH(int, tool);
    QFETCH(bool, space);
    DocumentView c;
    // Something to erase, so that an erase would show.
    RowSpans band;
    for (int y = 150; y < 226; ++y)
        band.append(RowSpan{y, 0, 899});
    c.document.paintSpans(band, {});
    const QImage layer = c.document.colourLayer()->image().copy();
    c.view.toolMode = tool;
    QSignalSpy spans(&c.view, &CZefGraphicsView::brushSpans);
    QSignalSpy points(&c.view, &CZefGraphicsView::brushPressed);
    const Qt::MouseButton button = space ? Qt::LeftButton : Qt::MiddleButton;
    const QPoint from(150, 120);
    const QPoint to(100, 90);
    const QPoint before = c.scroll();

    TestSupport::sendMouse(c.viewport(), QEvent::MouseMove, from, Qt::NoButton, Qt::NoButton);
    if (space) {
        c.key(QEvent::KeyPress, Qt::Key_Space);
        QCOMPARE(c.cursor(), Qt::OpenHandCursor);
        QVERIFY(!c.brushCircleShown());
        c.key(QEvent::KeyPress, Qt::Key_Space, true); // the key repeats while held
    }
    TestSupport::sendMouse(c.viewport(), QEvent::MouseButtonPress, from, button, button);
    QCOMPARE(c.cursor(), Qt::ClosedHandCursor);
    for (int i = 1; i <= 5; ++i)
        TestSupport::sendMouse(c.viewport(), QEvent::MouseMove, from + (to - from) * i / 5, Qt::NoButton, button);
    TestSupport::sendMouse(c.viewport(), QEvent::MouseButtonRelease, to, button, Qt::NoButton);
    QCOMPARE(c.scroll(), before + (from - to)); // the picture followed the hand
    QCOMPARE(c.cursor(), space ? Qt::OpenHandCursor : c.cursor());
    if (space) {
        c.key(QEvent::KeyRelease, Qt::Key_Space);
        QVERIFY(c.cursor() != Qt::OpenHandCursor && c.cursor() != Qt::ClosedHandCursor);
    }

    QCOMPARE(spans.size(), 0);
    QCOMPARE(points.size(), 0);
    QCOMPARE(c.document.history()->count(), 0);
    QVERIFY(c.document.marks()->all().isEmpty());
    QCOMPARE(c.document.colourLayer()->image(), layer);
    QVERIFY(!c.view.isStroking());

    // Afterwards the tool works as before (over the band's edge, so that
    // painting and erasing both change pixels).
    const int edge = int(c.view.mapToScene(from).y());
    RowSpans above;
    for (int y = edge - 40; y <= edge; ++y)
        above.append(RowSpan{y, 0, 899});
    c.document.paintSpans(above, {});
    TestSupport::sendMouse(c.viewport(), QEvent::MouseButtonPress, from, Qt::LeftButton, Qt::LeftButton);
    TestSupport::sendMouse(c.viewport(), QEvent::MouseMove, from + QPoint(10, 10), Qt::NoButton, Qt::LeftButton);
    TestSupport::sendMouse(c.viewport(), QEvent::MouseButtonRelease, from + QPoint(10, 10), Qt::LeftButton,
                           Qt::NoButton);
    QCOMPARE(c.document.history()->count(), 1);
}

void TestNavigation::wheelScrolls_data()
{
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<QPoint>("angle");
    QTest::addColumn<QPoint>("direction"); // the sign of the scroll bars' movement
    QTest::newRow("wheel down scrolls down") << int(Qt::NoModifier) << QPoint(0, -120) << QPoint(0, 1);
    QTest::newRow("wheel up scrolls up") << int(Qt::NoModifier) << QPoint(0, 120) << QPoint(0, -1);
    QTest::newRow("Shift+wheel down scrolls right") << int(Qt::ShiftModifier) << QPoint(0, -120) << QPoint(1, 0);
    QTest::newRow("Shift+wheel up scrolls left") << int(Qt::ShiftModifier) << QPoint(0, 120) << QPoint(-1, 0);
    QTest::newRow("a sideways wheel") << int(Qt::NoModifier) << QPoint(-120, 0) << QPoint(1, 0);
}

void TestNavigation::wheelScrolls()
{
    QFETCH(int, modifiers);
    QFETCH(QPoint, angle);
    QFETCH(QPoint, direction);
    DocumentView c;
    const QPoint before = c.scroll();
    sendWheel(c.viewport(), QPointF(100, 100), angle, Qt::KeyboardModifiers(modifiers));
    const QPoint moved = c.scroll() - before;
    QCOMPARE(QPoint((moved.x() > 0) - (moved.x() < 0), (moved.y() > 0) - (moved.y() < 0)), direction);
    QCOMPARE(c.view.zoom(), 1.0);
}

void TestNavigation::fittedViewStaysFitted_data()
{
    QTest::addColumn<QSize>("photo");
    QTest::addColumn<bool>("fitCommand"); // Fit to window, or the fit of an opening
    QTest::addColumn<bool>("zoomAfter");
    QTest::addColumn<QSize>("resized");
    QTest::newRow("opened large, window grows") << QSize(2000, 1500) << false << false << QSize(600, 500);
    QTest::newRow("opened large, window shrinks") << QSize(2000, 1500) << false << false << QSize(200, 120);
    QTest::newRow("opened small, window shrinks below it") << QSize(250, 200) << false << false << QSize(150, 100);
    QTest::newRow("Fit, window grows") << QSize(2000, 1500) << true << false << QSize(700, 300);
    QTest::newRow("Fit enlarges a small photo") << QSize(60, 40) << true << false << QSize(500, 400);
    QTest::newRow("a zoom keeps its scale") << QSize(2000, 1500) << true << true << QSize(600, 500);
}

void TestNavigation::fittedViewStaysFitted()
{
    QFETCH(QSize, photo);
    QFETCH(bool, fitCommand);
    QFETCH(bool, zoomAfter);
    QFETCH(QSize, resized);
    DocumentView c(photo, QSize(400, 300));
    QSignalSpy zoomed(&c.view, &CZefGraphicsView::zoomChanged);
    if (fitCommand)
        c.view.fitToWindow();
    else
        c.view.showWholeScene();
    QTRY_VERIFY(wholeInView(c.view) || (!fitCommand && c.view.zoom() == 1.0));
    QVERIFY(c.view.isFitted());
    QVERIFY(!zoomed.isEmpty());
    if (zoomAfter) {
        c.view.zoomBy(CZefGraphicsView::zoomStep);
        QVERIFY(!c.view.isFitted());
    }
    const qreal zoom = c.view.zoom();

    c.view.resize(resized);
    QTRY_COMPARE(c.view.size(), resized);
    QCoreApplication::processEvents();
    if (zoomAfter) {
        QCOMPARE(c.view.zoom(), zoom);
        return;
    }
    QVERIFY(c.view.isFitted());
    const bool larger =
        photo.width() > c.view.maximumViewportSize().width() || photo.height() > c.view.maximumViewportSize().height();
    if (fitCommand || larger)
        QVERIFY2(wholeInView(c.view), qPrintable(QString::number(c.view.zoom())));
    else
        QCOMPARE(c.view.zoom(), 1.0);
    if (fitCommand && photo.width() < 100)
        QVERIFY(c.view.zoom() > 1.0);
}

void TestNavigation::noBrushCircleLeftBehind_data()
{
    QTest::addColumn<int>("what");
    QTest::newRow("a wheel scroll") << 0;
    QTest::newRow("a Ctrl+wheel zoom") << 1;
    QTest::newRow("a zoom command") << 2;
    QTest::newRow("leaving the canvas") << 3;
    QTest::newRow("Fit to window") << 4;
}

void TestNavigation::noBrushCircleLeftBehind()
{
    QFETCH(int, what);
    DocumentView c;
    c.view.toolMode = CZefGraphicsView::KeepBrush;
    TestSupport::sendMouse(c.viewport(), QEvent::MouseMove, QPoint(120, 100), Qt::NoButton, Qt::NoButton);
    QVERIFY(c.brushCircleShown());
    QEvent leave(QEvent::Leave);
    switch (what) {
    case 0:
        sendWheel(c.viewport(), QPointF(120, 100), QPoint(0, -120), Qt::NoModifier);
        break;
    case 1:
        sendWheel(c.viewport(), QPointF(120, 100), QPoint(0, 120), Qt::ControlModifier);
        break;
    case 2:
        c.view.zoomBy(1 / CZefGraphicsView::zoomStep);
        break;
    case 3:
        QApplication::sendEvent(&c.view, &leave);
        break;
    default:
        c.view.fitToWindow();
    }
    // Gone, or moved to where the pointer now is over the photo.
    CZefGraphicsBrushCursorItem *circle = nullptr;
    for (QGraphicsItem *item : c.scene.items())
        if (item->type() == CZefGraphicsBrushCursorItem::Type)
            circle = static_cast<CZefGraphicsBrushCursorItem *>(item);
    if (what == 3 || !circle) {
        QVERIFY(!circle);
        return;
    }
    const int half = c.view.brushSize() / 2;
    const QPoint p(120, 100);
    const BrushGeometry::Square s =
        BrushGeometry::square(c.view.mapToScene(p - QPoint(half, half)), c.view.mapToScene(p + QPoint(half, half)));
    QCOMPARE(circle->rect(), QRectF(s.left, s.top, s.width, s.height));
}

// Holding \ shows the photo alone; letting go brings back what showed.
void TestNavigation::backslashShowsThePhoto()
{
    DocumentView c;
    c.document.marks()->add(Mark::Keep, QRectF(50, 50, 5, 5));
    c.document.marks()->add(Mark::Remove, QRectF(80, 50, 5, 5));
    CanvasItems *items = c.view.documentItems();
    const auto marksShown = [&c, items] {
        int shown = 0;
        for (const Mark &mark : c.document.marks()->all())
            shown += items->markItem(mark.id)->isVisible();
        return shown;
    };
    QCOMPARE(marksShown(), 2);
    QSignalSpy changed(&c.view, &CZefGraphicsView::colouringShownChanged);

    c.key(QEvent::KeyPress, Qt::Key_Backslash);
    QVERIFY(!items->layerItem()->isVisible());
    QCOMPARE(marksShown(), 0);
    QVERIFY(items->photoItem()->isVisible());
    c.key(QEvent::KeyRelease, Qt::Key_Backslash, true); // a repeat lets go of nothing
    c.key(QEvent::KeyPress, Qt::Key_Backslash, true);
    QVERIFY(!items->layerItem()->isVisible());
    c.document.marks()->add(Mark::Keep, QRectF(90, 90, 5, 5)); // laid meanwhile: hidden too
    QCOMPARE(marksShown(), 0);
    c.key(QEvent::KeyRelease, Qt::Key_Backslash);
    QVERIFY(items->layerItem()->isVisible());
    QCOMPARE(marksShown(), 3);
    QCOMPARE(changed.size(), 2);

    // Hidden by the command, the colouring stays hidden after a hold.
    c.view.setColouringShown(false);
    c.key(QEvent::KeyPress, Qt::Key_Backslash);
    c.key(QEvent::KeyRelease, Qt::Key_Backslash);
    QVERIFY(!items->layerItem()->isVisible());
    QCOMPARE(marksShown(), 0);
}

void TestNavigation::markDragLayingNothingIsNoStep_data()
{
    QTest::addColumn<int>("tool");
    QTest::addColumn<QPoint>("from");
    QTest::addColumn<QPoint>("to");
    QTest::addColumn<bool>("lays");
    QTest::newRow("keep, a click") << int(CZefGraphicsView::KeepMarker) << QPoint(50, 50) << QPoint(50, 50) << false;
    QTest::newRow("remove, a click") << int(CZefGraphicsView::RemoveMarker) << QPoint(50, 50) << QPoint(50, 50)
                                     << false;
    QTest::newRow("keep, off the photo") << int(CZefGraphicsView::KeepMarker) << QPoint(-150, -150)
                                         << QPoint(-110, -140) << false;
    QTest::newRow("keep, a drag") << int(CZefGraphicsView::KeepMarker) << QPoint(50, 50) << QPoint(60, 52) << true;
}

// A mark drag that lays no mark adds no step, and the work stays as saved.
void TestNavigation::markDragLayingNothingIsNoStep()
{
    QFETCH(int, tool);
    QFETCH(QPoint, from);
    QFETCH(QPoint, to);
    QFETCH(bool, lays);
    DocumentView c;
    c.view.toolMode = tool;
    TestSupport::sendMouse(c.viewport(), QEvent::MouseButtonPress, from, Qt::LeftButton, Qt::LeftButton);
    if (from != to)
        TestSupport::sendMouse(c.viewport(), QEvent::MouseMove, to, Qt::NoButton, Qt::LeftButton);
    TestSupport::sendMouse(c.viewport(), QEvent::MouseButtonRelease, to, Qt::LeftButton, Qt::NoButton);
    QCOMPARE(c.document.history()->count(), lays ? 1 : 0);
    QCOMPARE(c.document.isModified(), lays);
}

void TestNavigation::marksStayVisibleFarOut_data()
{
    QTest::addColumn<qreal>("zoom");
    QTest::addColumn<bool>("laidBefore"); // the mark was laid before the zoom, or after
    for (const qreal zoom : {0.02, 0.1, 0.25, 0.4, 1.0, 8.0}) {
        QTest::addRow("%g %%, laid before", zoom * 100) << zoom << true;
        QTest::addRow("%g %%, laid after", zoom * 100) << zoom << false;
    }
}

// However far out, a mark shows at least 2 screen pixels wide; close in it
// looks as it always has, and the photo pixels it stands for never change.
void TestNavigation::marksStayVisibleFarOut()
{
    QFETCH(qreal, zoom);
    QFETCH(bool, laidBefore);
    DocumentView c(QSize(3000, 2000));
    MarkSet &marks = *c.document.marks();
    if (laidBefore)
        marks.add(Mark::Remove, QRectF(100.4, 200.6, MarkSet::markSize, MarkSet::markSize));
    c.view.zoomBy(zoom);
    if (!laidBefore)
        marks.add(Mark::Remove, QRectF(100.4, 200.6, MarkSet::markSize, MarkSet::markSize));
    auto *item = static_cast<QAbstractGraphicsShapeItem *>(c.view.documentItems()->markItem(marks.all().at(0).id));
    const QRectF onScreen = c.view.transform().mapRect(item->sceneBoundingRect());
    QVERIFY2(onScreen.width() >= 2 - 1e-9 && onScreen.height() >= 2 - 1e-9,
             qPrintable(QStringLiteral("%1 wide").arg(onScreen.width())));
    if (MarkSet::markSize * zoom >= 2)
        QCOMPARE(item->pen().widthF(), 0.0);

    MarkSet plain;
    plain.add(Mark::Remove, QRectF(100.4, 200.6, MarkSet::markSize, MarkSet::markSize));
    QCOMPARE(marks.pixels(Mark::Remove, QSize(3000, 2000)), plain.pixels(Mark::Remove, QSize(3000, 2000)));
}

void TestNavigation::brushSizeKeysAndBox_data()
{
    QTest::addColumn<int>("start");
    QTest::addColumn<bool>("larger");
    QTest::addColumn<int>("expected");
    QTest::newRow("20 larger") << 20 << true << 23;
    QTest::newRow("20 smaller") << 20 << false << 17;
    QTest::newRow("100 larger") << 100 << true << 115;
    QTest::newRow("1 larger: at least a pixel") << 1 << true << 2;
    QTest::newRow("3 larger") << 3 << true << 4;
    QTest::newRow("3 smaller") << 3 << false << 2;
    QTest::newRow("1 smaller stays 1") << 1 << false << 1;
    QTest::newRow("999 larger stays 999") << 999 << true << 999;
    QTest::newRow("990 larger stops at 999") << 990 << true << 999;
}

// [ and ] step the brush by about 15 %; the slider, the box and the canvas
// always show one size, whichever of them changed it.
void TestNavigation::brushSizeKeysAndBox()
{
    QFETCH(int, start);
    QFETCH(bool, larger);
    QFETCH(int, expected);
    MainWindow window;
    auto *slider = window.findChild<QSlider *>(QStringLiteral("horizontalSlider"));
    auto *box = window.findChild<QSpinBox *>(QStringLiteral("spinBoxToolSize"));
    auto *view = window.findChild<CZefGraphicsView *>();
    QCOMPARE(box->value(), slider->value());
    box->setValue(start);
    QCOMPARE(slider->value(), start);
    QCOMPARE(view->brushSize(), start);
    window.findChild<QAction *>(larger ? QStringLiteral("actionLargerBrush") : QStringLiteral("actionSmallerBrush"))
        ->trigger();
    QCOMPARE(slider->value(), expected);
    QCOMPARE(box->value(), expected);
    QCOMPARE(view->brushSize(), expected);
    slider->setValue(start);
    QCOMPARE(box->value(), start);
}

void TestNavigation::zoomCommands()
{
    MainWindow window;
    window.resize(700, 500);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    TestSupport::answerFileDialog(writePhoto(dir, QStringLiteral("large.png"), QSize(2400, 1600)));
    window.findChild<QAction *>(QStringLiteral("actionOpen"))->trigger();
    auto *view = window.findChild<CZefGraphicsView *>();
    auto *label = window.findChild<QLabel *>(QStringLiteral("zoomLabel"));
    const auto trigger = [&window](const char *name) {
        window.findChild<QAction *>(QString::fromLatin1(name))->trigger();
    };
    QVERIFY(view->isFitted() && wholeInView(*view));
    QCOMPARE(label->text(), ViewCommands::zoomText(view->zoom()));

    trigger("actionActualSize");
    QCOMPARE(view->zoom(), 1.0);
    QCOMPARE(label->text(), QStringLiteral("100 %"));
    trigger("actionZoom_In");
    QCOMPARE(label->text(), QStringLiteral("120 %"));
    trigger("actionFitToWindow");
    QVERIFY(wholeInView(*view));
    const qreal fitted = view->zoom();
    window.resize(1000, 800);
    QTRY_VERIFY(view->zoom() > fitted);
    QVERIFY(wholeInView(*view));
    QCOMPARE(label->text(), ViewCommands::zoomText(view->zoom()));
    trigger("actionZoom_Out");
    const qreal zoom = view->zoom();
    window.resize(600, 450);
    QTRY_COMPARE(window.size(), QSize(600, 450));
    QCOMPARE(view->zoom(), zoom);

    QCOMPARE(ViewCommands::zoomText(0.124), QStringLiteral("12 %"));
    QCOMPARE(ViewCommands::zoomText(0.0125), QStringLiteral("1.3 %"));
}

// The scene goes before the canvas and takes the outline with it; the
// scroll that its going causes must not touch the outline again.
void TestNavigation::windowGoesWithTheOutlineShown()
{
    auto *window = new MainWindow;
    window->resize(500, 400);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    TestSupport::answerFileDialog(writePhoto(dir, QStringLiteral("outline.png"), QSize(1600, 1200)));
    window->findChild<QAction *>(QStringLiteral("actionOpen"))->trigger();
    window->findChild<QAction *>(QStringLiteral("actionActualSize"))->trigger();
    auto *view = window->findChild<CZefGraphicsView *>();
    view->horizontalScrollBar()->setValue(view->horizontalScrollBar()->maximum());
    TestSupport::sendMouse(view->viewport(), QEvent::MouseMove, QPoint(50, 50), Qt::NoButton, Qt::NoButton);
    QVERIFY(view->horizontalScrollBar()->value() > 0);
    delete window;
}

// Show colouring is checked while the colouring shows, \ included.
void TestNavigation::showColouringFollowsTheKey()
{
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    TestSupport::answerFileDialog(writePhoto(dir, QStringLiteral("small.png"), QSize(60, 40)));
    window.findChild<QAction *>(QStringLiteral("actionOpen"))->trigger();
    auto *view = window.findChild<CZefGraphicsView *>();
    QAction *show = window.findChild<QAction *>(QStringLiteral("actionShowColouring"));
    QGraphicsItem *layer = view->documentItems()->layerItem();
    QVERIFY(show->isCheckable() && show->isChecked() && layer->isVisible());

    QKeyEvent press(QEvent::KeyPress, Qt::Key_Backslash, Qt::NoModifier, QStringLiteral("\\"));
    QApplication::sendEvent(&window, &press);
    QVERIFY(!show->isChecked() && !layer->isVisible());
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_Backslash, Qt::NoModifier, QStringLiteral("\\"));
    QApplication::sendEvent(&window, &release);
    QVERIFY(show->isChecked() && layer->isVisible());

    show->trigger();
    QVERIFY(!show->isChecked() && !layer->isVisible());
    show->trigger();
    QVERIFY(layer->isVisible());
}

void TestNavigation::windowGeometry_data()
{
    QTest::addColumn<QString>("stored"); // what the store holds before the window opens
    QTest::newRow("nothing: 70 % of the screen") << "none";
    QTest::newRow("the last window's") << "last";
    QTest::newRow("off the screen") << "off";
    QTest::newRow("larger than the screen") << "large";
    QTest::newRow("damaged") << "damaged";
}

void TestNavigation::windowGeometry()
{
    QFETCH(QString, stored);
    QSettings().remove(QStringLiteral("window"));
    const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
    QRect expected;
    if (stored == QLatin1String("damaged"))
        QSettings().setValue(QStringLiteral("window/geometry"), QByteArray("\x01\xd9\xd0\xcb garbage", 12));
    if (stored != QLatin1String("none") && stored != QLatin1String("damaged")) {
        MainWindow last;
        if (stored == QLatin1String("last"))
            expected = QRect(available.topLeft() + QPoint(30, 40), QSize(420, 310));
        else if (stored == QLatin1String("off"))
            expected = QRect(available.topLeft() + QPoint(available.width() * 3, -5000), QSize(420, 310));
        else
            expected = QRect(available.topLeft(), available.size() * 2);
        last.setGeometry(expected);
        QVERIFY(last.close());
    }

    MainWindow window;
    const QRect g = window.geometry();
    QVERIFY2(available.contains(g),
             qPrintable(QStringLiteral("%1,%2 %3x%4").arg(g.x()).arg(g.y()).arg(g.width()).arg(g.height())));
    if (stored == QLatin1String("last")) {
        QCOMPARE(g, expected);
    } else if (stored == QLatin1String("off")) {
        QCOMPARE(g.size(), expected.size());
    } else if (stored != QLatin1String("large")) {
        const double share = double(g.width()) * g.height() / (double(available.width()) * available.height());
        QVERIFY2(qAbs(share - WindowGeometry::firstShare) < 0.03, qPrintable(QString::number(share)));
    }
    // A second window opens as the first closed.
    QVERIFY(window.close());
    MainWindow second;
    QCOMPARE(second.geometry(), g);
}

QTEST_MAIN(TestNavigation)
#include "tst_navigation.moc"
