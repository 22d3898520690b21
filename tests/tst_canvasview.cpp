#include "canvas/czefgraphicsbrushcursoritem.h"
#include "canvas/czefgraphicsview.h"
#include "imaging/brushgeometry.h"
#include "testsupport.h"

#include <QElapsedTimer>
#include <QGraphicsPixmapItem>
#include <QGraphicsScene>
#include <QPainter>
#include <QResizeEvent>
#include <QScrollBar>
#include <QSettings>
#include <QWheelEvent>
#include <QtTest>

#include <cmath>

using Points = QList<QPoint>;
Q_DECLARE_METATYPE(Points)

namespace {

// A canvas showing a photo-sized item at the scene origin, with the view's
// top-left corner over the scene origin.
struct Canvas {
    explicit Canvas(const QSize &photoSize = QSize(300, 300), qreal scale = 1.0)
    {
        QImage image(photoSize, QImage::Format_RGB32);
        image.fill(Qt::gray);
        photo = scene.addPixmap(QPixmap::fromImage(image));
        photo->setZValue(5);
        scene.setSceneRect(QRectF(QPointF(0, 0), QSizeF(photoSize)));
        view.setScene(&scene);
        view.setAlignment(Qt::AlignLeft | Qt::AlignTop);
        view.setMouseTracking(true);
        view.resize(400, 400);
        view.scale(scale, scale);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
    }
    QWidget *viewport() { return view.viewport(); }
    QPoint at(const QPointF &scenePoint) { return view.mapFromScene(scenePoint); }

    QGraphicsScene scene;
    CZefGraphicsView view;
    QGraphicsPixmapItem *photo = nullptr;
};

// The brush disc exactly as the painting rules define it, without any limit.
Points unboundedDisc(const QPoint &centre, const BrushGeometry::Square &s)
{
    Points points;
    if (s.left >= s.right())
        return points;
    const int r2 = (s.width * s.height) / 4;
    for (int x = s.left; x < s.right(); ++x)
        for (int y = s.top; y < s.bottom(); ++y)
            if ((centre.x() - x) * (centre.x() - x) + (centre.y() - y) * (centre.y() - y) < r2)
                points.append(QPoint(x, y));
    return points;
}

CZefGraphicsBrushCursorItem *cursorIn(QGraphicsScene &scene)
{
    for (QGraphicsItem *item : scene.items())
        if (item->type() == CZefGraphicsBrushCursorItem::Type)
            return static_cast<CZefGraphicsBrushCursorItem *>(item);
    return nullptr;
}

} // namespace

class TestCanvasView : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void noToolIgnoresTheMouse();
    void resizeFollowsTheWindow_data();
    void resizeFollowsTheWindow();
    void resizeBeforeAnyImageChangesNothing();
    void displayImageReusesItsItem();
    void truncationTowardZero_data();
    void truncationTowardZero();
    void keepBrushDisc_data();
    void keepBrushDisc();
    void onlyTheLeftButtonPaints();
    void cursorFollowsAndLeaves();
    void cursorIsAThinRingAtAnyZoom_data();
    void cursorIsAThinRingAtAnyZoom();
    void removeBrushHidesCursorAtTheBorder();
    void discIsLimitedToThePhoto_data();
    void discIsLimitedToThePhoto();
    void farZoomedOutBrushStaysBounded();
    void wholeSceneFitsOrShowsAtFullSize_data();
    void wholeSceneFitsOrShowsAtFullSize();
    void wholeSceneWaitsForTheRealSize();
    void ctrlWheelKeepsThePixelUnderThePointer_data();
    void ctrlWheelKeepsThePixelUnderThePointer();
    void plainWheelScrolls();
    void resizeMatchesAPlainView_data();
    void resizeMatchesAPlainView();
};

void TestCanvasView::initTestCase()
{
    TestSupport::nameApplication();
}

void TestCanvasView::noToolIgnoresTheMouse()
{
    Canvas canvas;
    QSignalSpy brushed(&canvas.view, &CZefGraphicsView::brushPressed);
    const QPoint p = canvas.at(QPointF(50, 50));
    TestSupport::sendMouse(canvas.viewport(), QEvent::MouseButtonPress, p, Qt::LeftButton, Qt::LeftButton);
    TestSupport::sendMouse(canvas.viewport(), QEvent::MouseMove, p + QPoint(3, 3), Qt::NoButton, Qt::LeftButton);
    TestSupport::sendMouse(canvas.viewport(), QEvent::MouseButtonRelease, p, Qt::LeftButton, Qt::NoButton);
    QCOMPARE(brushed.size(), 0);
    QCOMPARE(canvas.scene.items().size(), 1);

    // A release does nothing with a tool either.
    canvas.view.toolMode = CZefGraphicsView::KeepBrush;
    TestSupport::sendMouse(canvas.viewport(), QEvent::MouseButtonRelease, p, Qt::LeftButton, Qt::NoButton);
    QCOMPARE(brushed.size(), 0);
    QCOMPARE(canvas.scene.items().size(), 1);
}

void TestCanvasView::resizeFollowsTheWindow_data()
{
    QTest::addColumn<QSize>("sceneSize");
    QTest::addColumn<QSize>("oldSize");
    QTest::addColumn<QSize>("newSize");
    QTest::addColumn<qreal>("factor");

    QTest::newRow("grew beyond the scene") << QSize(900, 500) << QSize(800, 600) << QSize(1000, 600) << 1.25;
    QTest::newRow("shrank") << QSize(900, 500) << QSize(800, 600) << QSize(700, 600) << 0.875;
    QTest::newRow("grew within the scene") << QSize(1200, 900) << QSize(800, 600) << QSize(850, 600) << 1.0;
    QTest::newRow("taller beyond the scene") << QSize(900, 500) << QSize(800, 400) << QSize(800, 600) << 1.5;
    QTest::newRow("first resize has no old size") << QSize(900, 500) << QSize(-1, -1) << QSize(1000, 700) << 1.0;
}

void TestCanvasView::resizeFollowsTheWindow()
{
    QFETCH(QSize, sceneSize);
    QFETCH(QSize, oldSize);
    QFETCH(QSize, newSize);
    QFETCH(qreal, factor);

    QGraphicsScene scene;
    CZefGraphicsView view;
    view.setScene(&scene);
    QImage image(sceneSize, QImage::Format_RGB32);
    image.fill(Qt::white);
    view.displayImage(&image);

    // The scroll area hands its viewport's resize events to the view's handler.
    QResizeEvent event(newSize, oldSize);
    QApplication::sendEvent(view.viewport(), &event);
    QCOMPARE(view.transform().m11(), factor);
    QCOMPARE(view.transform().m22(), factor);
    QCOMPARE(view.horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    QCOMPARE(view.verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
}

void TestCanvasView::resizeBeforeAnyImageChangesNothing()
{
    QGraphicsScene scene;
    CZefGraphicsView view;
    view.setScene(&scene);
    scene.addRect(0, 0, 900, 500);
    QResizeEvent event(QSize(1000, 600), QSize(800, 600));
    QApplication::sendEvent(view.viewport(), &event);
    QVERIFY(view.transform().isIdentity());
    QCOMPARE(view.horizontalScrollBarPolicy(), Qt::ScrollBarAsNeeded);
}

void TestCanvasView::displayImageReusesItsItem()
{
    QGraphicsScene scene;
    CZefGraphicsView view;
    view.setScene(&scene);
    QImage big(200, 100, QImage::Format_RGB32);
    big.fill(Qt::red);
    view.displayImage(&big);
    QCOMPARE(scene.items().size(), 1);
    QGraphicsItem *item = scene.items().at(0);
    QCOMPARE(item->zValue(), 0.0);
    QCOMPARE(scene.sceneRect(), QRectF(0, 0, 200, 100));

    QImage small(50, 40, QImage::Format_RGB32);
    small.fill(Qt::blue);
    view.displayImage(&small);
    QCOMPARE(scene.items().size(), 1);
    QCOMPARE(scene.items().at(0), item);
    QCOMPARE(scene.sceneRect(), QRectF(0, 0, 50, 40));

    QImage none;
    view.displayImage(&none);
    QCOMPARE(scene.sceneRect(), QRectF(0, 0, 0, 0));
}

void TestCanvasView::truncationTowardZero_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<int>("expected");
    QTest::newRow("-0.5") << -0.5 << 0;
    QTest::newRow("-1.9") << -1.9 << -1;
    QTest::newRow("2.99") << 2.99 << 2;
    QTest::newRow("far beyond any photo") << 1e15 << (1 << 29);
    QTest::newRow("far before any photo") << -1e15 << -(1 << 29);
}

void TestCanvasView::truncationTowardZero()
{
    QFETCH(double, value);
    QFETCH(int, expected);
    QCOMPARE(BrushGeometry::truncated(value), expected);
}

void TestCanvasView::keepBrushDisc_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<qreal>("scale");
    QTest::addColumn<int>("count");
    QTest::addColumn<Points>("first");
    QTest::addColumn<Points>("last");

    QTest::newRow("brush 20 at scale 1") << 20 << 1.0 << 287 << Points{{91, 96}, {91, 97}, {91, 98}}
                                         << Points{{108, 103}, {108, 104}, {108, 105}};
    QTest::newRow("brush 4 at scale 1") << 4 << 1.0 << 4 << Points{{99, 99}, {99, 100}, {100, 99}, {100, 100}}
                                        << Points{{99, 99}, {99, 100}, {100, 99}, {100, 100}};
    QTest::newRow("brush 20 at scale 2") << 20 << 2.0 << 59 << Points() << Points();
    QTest::newRow("brush 1") << 1 << 1.0 << 0 << Points() << Points();
    QTest::newRow("brush 2") << 2 << 1.0 << 0 << Points() << Points();
    QTest::newRow("brush 3") << 3 << 1.0 << 0 << Points() << Points();
}

void TestCanvasView::keepBrushDisc()
{
    QFETCH(int, size);
    QFETCH(qreal, scale);
    QFETCH(int, count);
    QFETCH(Points, first);
    QFETCH(Points, last);

    Canvas canvas(QSize(300, 300), scale);
    canvas.view.setToolSize(size);
    canvas.view.toolMode = CZefGraphicsView::KeepBrush;
    const QPoint p = canvas.at(QPointF(100, 100));
    QCOMPARE(canvas.view.mapToScene(p), QPointF(100, 100));

    // A move without a button paints nothing.
    QSignalSpy brushed(&canvas.view, &CZefGraphicsView::brushPressed);
    TestSupport::sendMouse(canvas.viewport(), QEvent::MouseMove, p, Qt::NoButton, Qt::NoButton);
    QCOMPARE(brushed.size(), 0);

    TestSupport::sendMouse(canvas.viewport(), QEvent::MouseButtonPress, p, Qt::LeftButton, Qt::LeftButton);
    QCOMPARE(brushed.size(), 1);
    const Points fg = brushed.at(0).at(0).value<Points>();
    const Points bg = brushed.at(0).at(1).value<Points>();
    QCOMPARE(fg.size(), count);
    QVERIFY(bg.isEmpty());
    QCOMPARE(fg.mid(0, first.size()), first);
    QCOMPARE(fg.mid(fg.size() - last.size()), last);
    if (size == 20 && scale == 1.0) {
        // The square's last column and row are never scanned.
        QVERIFY(!fg.contains(QPoint(109, 100)));
        QVERIFY(!fg.contains(QPoint(100, 109)));
    }
}

void TestCanvasView::onlyTheLeftButtonPaints()
{
    Canvas canvas;
    canvas.view.setToolSize(20);
    canvas.view.toolMode = CZefGraphicsView::KeepBrush;
    QSignalSpy brushed(&canvas.view, &CZefGraphicsView::brushPressed);
    const QPoint p = canvas.at(QPointF(100, 100));
    TestSupport::sendMouse(canvas.viewport(), QEvent::MouseButtonPress, p, Qt::RightButton, Qt::RightButton);
    TestSupport::sendMouse(canvas.viewport(), QEvent::MouseMove, p, Qt::NoButton, Qt::RightButton);
    QCOMPARE(brushed.size(), 0);
    TestSupport::sendMouse(canvas.viewport(), QEvent::MouseMove, p + QPoint(5, 0), Qt::NoButton,
                           Qt::LeftButton | Qt::RightButton);
    QCOMPARE(brushed.size(), 1);
    QCOMPARE(brushed.at(0).at(0).value<Points>().size(), 287);
}

void TestCanvasView::cursorFollowsAndLeaves()
{
    Canvas canvas;
    canvas.view.setToolSize(20);
    canvas.view.toolMode = CZefGraphicsView::KeepBrush;
    QVERIFY(!cursorIn(canvas.scene));

    TestSupport::sendMouse(canvas.viewport(), QEvent::MouseMove, canvas.at(QPointF(100, 100)), Qt::NoButton,
                           Qt::NoButton);
    CZefGraphicsBrushCursorItem *cursor = cursorIn(canvas.scene);
    QVERIFY(cursor);
    QCOMPARE(cursor->type(), QGraphicsItem::UserType + 1);
    QCOMPARE(cursor->zValue(), 20.0);
    QCOMPARE(cursor->pos(), QPointF(0, 0));
    QCOMPARE(cursor->rect(), QRectF(90, 90, 20, 20));

    canvas.view.setToolSize(41); // the slider can change it at any time
    TestSupport::sendMouse(canvas.viewport(), QEvent::MouseMove, canvas.at(QPointF(150, 120)), Qt::NoButton,
                           Qt::NoButton);
    QCOMPARE(cursorIn(canvas.scene), cursor);
    QCOMPARE(cursor->rect(), QRectF(130, 100, 40, 40));

    // Near the edge the keep brush's cursor reaches past the photo.
    TestSupport::sendMouse(canvas.viewport(), QEvent::MouseMove, canvas.at(QPointF(5, 5)), Qt::NoButton, Qt::NoButton);
    QCOMPARE(cursorIn(canvas.scene)->rect(), QRectF(-15, -15, 40, 40));

    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(&canvas.view, &leave);
    QVERIFY(!cursorIn(canvas.scene));
    QApplication::sendEvent(&canvas.view, &leave);
    QCOMPARE(canvas.scene.items().size(), 1);
}

void TestCanvasView::cursorIsAThinRingAtAnyZoom_data()
{
    QTest::addColumn<qreal>("scale");
    QTest::addColumn<int>("brush");
    QTest::newRow("100 %") << 1.0 << 60;
    QTest::newRow("1500 %: a small brush stays a ring, not a disc") << 15.0 << 100;
    QTest::newRow("9000 %") << 90.0 << 300;
    QTest::newRow("5 %: still drawn") << 0.05 << 200;
}

// The brush outline is one screen pixel wide whatever the zoom: zoomed in it
// neither swells into a thick ring nor fills the disc it outlines, zoomed
// out it does not fade away.
void TestCanvasView::cursorIsAThinRingAtAnyZoom()
{
    QFETCH(qreal, scale);
    QFETCH(int, brush);
    Canvas canvas(QSize(4000, 4000), scale);
    canvas.view.setToolSize(brush);
    canvas.view.toolMode = CZefGraphicsView::KeepBrush;
    const QPoint centre(200, 200);
    TestSupport::sendMouse(canvas.viewport(), QEvent::MouseMove, centre, Qt::NoButton, Qt::NoButton);
    QVERIFY(cursorIn(canvas.scene));
    const QImage shot = canvas.viewport()->grab().toImage();
    // Along the row through the centre: the dark pixels, in runs.
    QList<int> runs;
    int run = 0;
    for (int x = 0; x < shot.width(); ++x) {
        if (qGray(shot.pixel(x, centre.y())) < 60) {
            ++run;
        } else if (run > 0) {
            runs.append(run);
            run = 0;
        }
    }
    QVERIFY2(runs.size() == 2, qPrintable(QStringLiteral("%1 runs").arg(runs.size())));
    for (const int r : std::as_const(runs))
        QVERIFY2(r <= 2, qPrintable(QString::number(r)));
}

void TestCanvasView::removeBrushHidesCursorAtTheBorder()
{
    Canvas canvas;
    canvas.view.setToolSize(20);
    canvas.view.toolMode = CZefGraphicsView::RemoveBrush;
    QSignalSpy brushed(&canvas.view, &CZefGraphicsView::brushPressed);

    TestSupport::sendMouse(canvas.viewport(), QEvent::MouseMove, canvas.at(QPointF(100, 100)), Qt::NoButton,
                           Qt::LeftButton);
    QVERIFY(cursorIn(canvas.scene));
    QCOMPARE(brushed.size(), 1);
    QVERIFY(brushed.at(0).at(0).value<Points>().isEmpty());
    QCOMPARE(brushed.at(0).at(1).value<Points>().size(), 287);

    // Part of the square leaves the scene: the cursor goes, the clearing goes on.
    TestSupport::sendMouse(canvas.viewport(), QEvent::MouseMove, canvas.at(QPointF(5, 100)), Qt::NoButton,
                           Qt::LeftButton);
    QVERIFY(!cursorIn(canvas.scene));
    QCOMPARE(brushed.size(), 2);
    const Points cleared = brushed.at(1).at(1).value<Points>();
    QVERIFY(!cleared.isEmpty());
    QCOMPARE(cleared.first(), QPoint(0, 92)); // points left of the photo are not gathered
}

void TestCanvasView::discIsLimitedToThePhoto_data()
{
    QTest::addColumn<QPointF>("centre");
    QTest::addColumn<int>("size");
    QTest::addColumn<qreal>("scale");

    QTest::newRow("left edge") << QPointF(3, 20) << 30 << 1.0;
    QTest::newRow("bottom-right corner") << QPointF(48, 39) << 40 << 1.0;
    QTest::newRow("covers the whole photo") << QPointF(25, 20) << 120 << 1.0;
    QTest::newRow("zoomed out over the corner") << QPointF(2, 2) << 30 << 0.5;
    QTest::newRow("zoomed in") << QPointF(49, 10) << 60 << 3.0;
}

// Within the photo the brush gathers exactly the points, in the same order, as
// the unlimited disc; only points that no pixel lies under are left out.
void TestCanvasView::discIsLimitedToThePhoto()
{
    QFETCH(QPointF, centre);
    QFETCH(int, size);
    QFETCH(qreal, scale);

    Canvas canvas(QSize(50, 40), scale);
    canvas.view.setToolSize(size);
    canvas.view.setAlignment(Qt::AlignCenter);
    canvas.scene.setSceneRect(-400, -400, 850, 840);
    canvas.view.centerOn(25, 20);
    canvas.view.toolMode = CZefGraphicsView::KeepBrush;
    QSignalSpy brushed(&canvas.view, &CZefGraphicsView::brushPressed);
    const QPoint p = canvas.at(centre);
    TestSupport::sendMouse(canvas.viewport(), QEvent::MouseMove, p, Qt::NoButton, Qt::NoButton);
    TestSupport::sendMouse(canvas.viewport(), QEvent::MouseButtonPress, p, Qt::LeftButton, Qt::LeftButton);
    QCOMPARE(brushed.size(), 1);

    const int half = size / 2;
    const QPointF c = canvas.view.mapToScene(p);
    const BrushGeometry::Square square = BrushGeometry::square(canvas.view.mapToScene(p - QPoint(half, half)),
                                                               canvas.view.mapToScene(p + QPoint(half, half)));
    Points expected;
    for (const QPoint &q : unboundedDisc(QPoint(int(c.x()), int(c.y())), square))
        if (QRect(0, 0, 50, 40).contains(q))
            expected.append(q);
    QVERIFY(!expected.isEmpty());
    QCOMPARE(brushed.at(0).at(0).value<Points>(), expected);
}

void TestCanvasView::farZoomedOutBrushStaysBounded()
{
    Canvas canvas(QSize(64, 48), 1e-7);
    canvas.view.setToolSize(999);
    canvas.view.toolMode = CZefGraphicsView::KeepBrush;
    QSignalSpy brushed(&canvas.view, &CZefGraphicsView::brushPressed);
    QElapsedTimer timer;
    timer.start();
    const QPoint p = canvas.at(QPointF(0, 0));
    TestSupport::sendMouse(canvas.viewport(), QEvent::MouseMove, p, Qt::NoButton, Qt::LeftButton);
    QCOMPARE(brushed.size(), 1);
    const Points fg = brushed.at(0).at(0).value<Points>();
    // Billions of scene pixels wide, the disc still yields only the photo's pixels.
    QVERIFY(fg.size() <= 64 * 48);
    for (const QPoint &q : fg)
        QVERIFY(QRect(0, 0, 64, 48).contains(q));
}

namespace {

// A view of its own size showing a scene of the given size, not yet zoomed.
struct SizedView {
    SizedView(const QSize &sceneSize, const QSize &viewSize)
    {
        QImage image(sceneSize, QImage::Format_RGB32);
        image.fill(Qt::gray);
        scene.addPixmap(QPixmap::fromImage(image))->setZValue(5);
        scene.setSceneRect(QRectF(QPointF(0, 0), QSizeF(sceneSize)));
        view.setScene(&scene);
        view.resize(viewSize);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
    }
    QPointF sceneAt(const QPointF &viewportPoint) const
    {
        return view.viewportTransform().inverted().map(viewportPoint);
    }
    bool scrolls() const
    {
        return view.horizontalScrollBar()->maximum() > view.horizontalScrollBar()->minimum()
            || view.verticalScrollBar()->maximum() > view.verticalScrollBar()->minimum();
    }

    QGraphicsScene scene;
    CZefGraphicsView view;
};

void sendWheel(QWidget *viewport, const QPointF &pos, int angle, Qt::KeyboardModifiers modifiers)
{
    QWheelEvent event(pos, viewport->mapToGlobal(pos), QPoint(), QPoint(0, angle), Qt::NoButton, modifiers,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(viewport, &event);
}

} // namespace

void TestCanvasView::wholeSceneFitsOrShowsAtFullSize_data()
{
    QTest::addColumn<QSize>("sceneSize");
    QTest::addColumn<qreal>("earlierZoom");
    QTest::addColumn<bool>("fits");
    QTest::newRow("smaller photo at 100 %") << QSize(200, 100) << 1.0 << false;
    QTest::newRow("smaller photo after a zoom-out") << QSize(200, 100) << 0.1 << false;
    QTest::newRow("smaller photo after a zoom-in") << QSize(200, 100) << 5.0 << false;
    QTest::newRow("wide photo fits the width") << QSize(4000, 500) << 1.0 << true;
    QTest::newRow("tall photo fits the height") << QSize(300, 3000) << 1.0 << true;
    QTest::newRow("large photo after a zoom-out") << QSize(6000, 4000) << 0.01 << true;
    QTest::newRow("one pixel too wide") << QSize(1, 1) << 1.0 << true; // sized below
}

void TestCanvasView::wholeSceneFitsOrShowsAtFullSize()
{
    QFETCH(QSize, sceneSize);
    QFETCH(qreal, earlierZoom);
    QFETCH(bool, fits);

    SizedView probe(QSize(10, 10), QSize(400, 300));
    const QSize room = probe.view.maximumViewportSize();
    if (sceneSize == QSize(1, 1))
        sceneSize = QSize(room.width() + 1, room.height());

    SizedView sized(sceneSize, QSize(400, 300));
    sized.view.scale(earlierZoom, earlierZoom);
    sized.view.showWholeScene();

    const QTransform t = sized.view.transform();
    QCOMPARE(t.m11(), t.m22());
    QVERIFY2(!sized.scrolls(), "the whole photo is in view");
    QTRY_COMPARE(sized.view.viewport()->size(), room); // no scroll bars left
    const QRectF shown = t.mapRect(sized.scene.sceneRect());
    if (fits) {
        QVERIFY(t.m11() < 1.0);
        // It fills the view in one direction.
        QVERIFY(qAbs(shown.width() - room.width()) < 0.5 || qAbs(shown.height() - room.height()) < 0.5);
    } else {
        QCOMPARE(t.m11(), 1.0);
    }
    // Centred.
    const QPointF centre = sized.view.viewportTransform().map(sized.scene.sceneRect().center());
    const QPointF middle = QRectF(sized.view.viewport()->rect()).center();
    QVERIFY2(qAbs(centre.x() - middle.x()) <= 1 && qAbs(centre.y() - middle.y()) <= 1,
             qPrintable(QStringLiteral("centre at %1, %2 in %3, %4")
                            .arg(centre.x())
                            .arg(centre.y())
                            .arg(middle.x())
                            .arg(middle.y())));
}

void TestCanvasView::wholeSceneWaitsForTheRealSize()
{
    QGraphicsScene scene;
    scene.setSceneRect(0, 0, 2000, 1000);
    CZefGraphicsView view;
    view.setScene(&scene);
    view.scale(3, 3);
    view.showWholeScene();
    QVERIFY(view.transform().isIdentity());
    view.resize(500, 400);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    QVERIFY(view.transform().m11() < 0.25);
    QCOMPARE(view.horizontalScrollBar()->maximum(), view.horizontalScrollBar()->minimum());
}

void TestCanvasView::ctrlWheelKeepsThePixelUnderThePointer_data()
{
    QTest::addColumn<qreal>("startZoom");
    QTest::addColumn<QPointF>("pixel");
    QTest::addColumn<int>("angle");
    QTest::addColumn<qreal>("factor");

    QTest::newRow("in at 100 %") << 1.0 << QPointF(500, 400) << 120 << 1.2;
    QTest::newRow("in by two notches") << 1.0 << QPointF(310, 620) << 240 << 1.44;
    QTest::newRow("in by a fine step") << 1.5 << QPointF(700, 300) << 30 << std::pow(1.2, 0.25);
    QTest::newRow("out at 300 %") << 3.0 << QPointF(123, 456) << -120 << 1 / 1.2;
    QTest::newRow("in near the top left corner") << 2.0 << QPointF(40, 30) << 120 << 1.2;
    QTest::newRow("in near the bottom right corner") << 2.0 << QPointF(1170, 860) << 120 << 1.2;
}

void TestCanvasView::ctrlWheelKeepsThePixelUnderThePointer()
{
    QFETCH(qreal, startZoom);
    QFETCH(QPointF, pixel);
    QFETCH(int, angle);
    QFETCH(qreal, factor);

    SizedView sized(QSize(1200, 900), QSize(400, 300));
    sized.view.scale(startZoom, startZoom);
    sized.view.centerOn(pixel);
    // The pointer over the middle of a view pixel near the photo pixel.
    const QPoint near = sized.view.mapFromScene(pixel + QPointF(0.5, 0.5));
    const QPointF pointer = QPointF(near) + QPointF(0.5, 0.5);
    const QPointF before = sized.sceneAt(pointer);

    sendWheel(sized.view.viewport(), pointer, angle, Qt::ControlModifier);
    QVERIFY(qFuzzyCompare(sized.view.transform().m11(), startZoom * factor));
    const QPointF after = sized.sceneAt(pointer);
    QCOMPARE(QPoint(int(after.x()), int(after.y())), QPoint(int(before.x()), int(before.y())));
    // No more than a screen pixel away.
    const qreal tolerance = 1 / sized.view.transform().m11() + 1e-9;
    QVERIFY2(qAbs(after.x() - before.x()) <= tolerance && qAbs(after.y() - before.y()) <= tolerance,
             qPrintable(QStringLiteral("moved by %1, %2").arg(after.x() - before.x()).arg(after.y() - before.y())));
}

void TestCanvasView::plainWheelScrolls()
{
    SizedView sized(QSize(1200, 900), QSize(400, 300));
    const int before = sized.view.verticalScrollBar()->value();
    sendWheel(sized.view.viewport(), QPointF(100, 100), -120, Qt::NoModifier);
    QVERIFY(sized.view.transform().isIdentity());
    QVERIFY(sized.view.verticalScrollBar()->value() > before);
}

void TestCanvasView::resizeMatchesAPlainView_data()
{
    QTest::addColumn<qreal>("zoom");
    QTest::addColumn<QSize>("from");
    QTest::addColumn<QSize>("to");
    QTest::newRow("400 x 300 to 1600 x 1200") << 1.0 << QSize(400, 300) << QSize(1600, 1200);
    QTest::newRow("1600 x 1200 to 400 x 300") << 1.0 << QSize(1600, 1200) << QSize(400, 300);
    QTest::newRow("zoomed in, wider") << 2.0 << QSize(500, 400) << QSize(900, 400);
    QTest::newRow("zoomed out, smaller") << 0.3 << QSize(900, 700) << QSize(300, 200);
}

void TestCanvasView::resizeMatchesAPlainView()
{
    QFETCH(qreal, zoom);
    QFETCH(QSize, from);
    QFETCH(QSize, to);

    SizedView sized(QSize(800, 600), from);
    QImage detail(800, 600, QImage::Format_RGB32);
    detail.fill(Qt::white);
    QPainter(&detail).fillRect(300, 200, 150, 100, Qt::darkBlue);
    sized.scene.addPixmap(QPixmap::fromImage(detail))->setZValue(6);
    QGraphicsView plain(&sized.scene);
    plain.resize(from);
    plain.show();
    QVERIFY(QTest::qWaitForWindowExposed(&plain));
    sized.view.scale(zoom, zoom);
    plain.scale(zoom, zoom);

    sized.view.resize(to);
    plain.resize(to);
    QTRY_COMPARE(sized.view.viewport()->size(), plain.viewport()->size());
    QTRY_COMPARE(plain.size(), to);
    QCoreApplication::processEvents();

    for (auto bar : {&QAbstractScrollArea::horizontalScrollBar, &QAbstractScrollArea::verticalScrollBar}) {
        QCOMPARE((sized.view.*bar)()->minimum(), (plain.*bar)()->minimum());
        QCOMPARE((sized.view.*bar)()->maximum(), (plain.*bar)()->maximum());
        QCOMPARE((sized.view.*bar)()->value(), (plain.*bar)()->value());
    }
    QCOMPARE(sized.view.mapFromScene(QPointF(400, 300)), plain.mapFromScene(QPointF(400, 300)));
    QCOMPARE(sized.view.viewport()->grab().toImage(), plain.viewport()->grab().toImage());
}

QTEST_MAIN(TestCanvasView)
#include "tst_canvasview.moc"
