#include "app/document.h"
#include "app/hidemarkscommand.h"
#include "canvas/cmarkercommand.h"
#include "canvas/czefgraphicsbrushcursoritem.h"
#include "canvas/czefgraphicsview.h"
#include "colourlayer/czefgraphicsimagemaskitem.h"
#include "testsupport.h"

#include <QGraphicsEllipseItem>
#include <QGraphicsRectItem>
#include <QSettings>
#include <QSet>
#include <QUndoStack>
#include <QtTest>

namespace {

// A 40 x 30 scene shown at scale 10 from its origin, so that the viewport
// point (107, 202) is the scene point (10.7, 20.2). The marks go to a
// document with no photo, so the scene holds nothing else.
struct MarkCanvas {
    MarkCanvas()
    {
        scene.setSceneRect(0, 0, 40, 30);
        view.setScene(&scene);
        view.setDocument(&document);
        view.setAlignment(Qt::AlignLeft | Qt::AlignTop);
        view.setMouseTracking(true);
        view.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        view.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        view.resize(420, 320);
        view.scale(10, 10);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
    }
    void drag(int tool, const QPointF &scenePoint, Qt::MouseButtons buttons = Qt::LeftButton)
    {
        view.toolMode = tool;
        const QPoint p = view.mapFromScene(scenePoint);
        TestSupport::sendMouse(view.viewport(), QEvent::MouseMove, p, Qt::NoButton, buttons);
    }
    int marks(int type)
    {
        int n = 0;
        for (QGraphicsItem *item : scene.items())
            n += item->type() == type;
        return n;
    }

    QGraphicsScene scene;
    Document document;
    CZefGraphicsView view;
};

QList<int> range(int from, int step, int count)
{
    QList<int> list;
    for (int i = 0; i < count; ++i)
        list.append(from + i * step);
    return list;
}

} // namespace

class TestMarkers : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void keepMarkIndices();
    void markAtTheRightBorder();
    void overlappingMarksCountTwice();
    void marksAreLaidOnlyInsideTheScene_data();
    void marksAreLaidOnlyInsideTheScene();
    void removeMarksAreRedCircles();
    void clearmarksTakesOnlyMarks();
    void undoRemovesExactlyOneMark();
    void undoAfterClearmarks();
    void commandsOutliveTheScene();
    void dragLaysMarksWithoutGaps_data();
    void dragLaysMarksWithoutGaps();
    void usedMarksHideUntilUndone();
};

void TestMarkers::initTestCase()
{
    TestSupport::nameApplication();
}

void TestMarkers::keepMarkIndices()
{
    MarkCanvas c;
    QCOMPARE(c.view.mapToScene(QPoint(107, 202)).x(), 10.7);
    TestSupport::sendMouse(c.view.viewport(), QEvent::MouseButtonPress, QPoint(107, 202), Qt::LeftButton,
                           Qt::LeftButton);
    c.view.toolMode = CZefGraphicsView::KeepMarker;
    TestSupport::sendMouse(c.view.viewport(), QEvent::MouseButtonPress, QPoint(107, 202), Qt::LeftButton,
                           Qt::LeftButton);
    QCOMPARE(c.marks(QGraphicsRectItem::Type), 0); // a press lays nothing
    TestSupport::sendMouse(c.view.viewport(), QEvent::MouseMove, QPoint(107, 202), Qt::NoButton, Qt::LeftButton);
    QCOMPARE(c.marks(QGraphicsRectItem::Type), 1);

    auto *mark = qgraphicsitem_cast<QGraphicsRectItem *>(c.scene.items().at(0));
    QVERIFY(mark);
    QCOMPARE(mark->rect().topLeft().toPoint(), QPoint(11, 20));
    QVERIFY(qFuzzyCompare(mark->rect().x(), 10.7));
    QCOMPARE(mark->rect().size(), QSizeF(5, 5));
    QCOMPARE(mark->zValue(), 10.0);
    QCOMPARE(mark->brush().color(), QColor(50, 255, 50));
    QCOMPARE(mark->pen().color(), QColor(50, 255, 50));
    QCOMPARE(mark->pen().widthF(), 0.0);

    const QList<int> indices = c.view.userfgpoints();
    QCOMPARE(indices.size(), 25);
    QCOMPARE(indices.mid(0, 6), QList<int>({810, 850, 890, 930, 970, 811}));
    QCOMPARE(indices.last(), 974);
    QVERIFY(c.view.userbgpoints().isEmpty());
    QCOMPARE(c.view.undoStack->count(), 1);
}

void TestMarkers::markAtTheRightBorder()
{
    MarkCanvas c;
    c.drag(CZefGraphicsView::KeepMarker, QPointF(38.2, 20.0));
    QCOMPARE(c.view.userfgpoints(), range(20 * 40 + 38, 40, 5) + range(20 * 40 + 39, 40, 5));
}

void TestMarkers::overlappingMarksCountTwice()
{
    MarkCanvas c;
    c.drag(CZefGraphicsView::KeepMarker, QPointF(5, 5));
    c.drag(CZefGraphicsView::KeepMarker, QPointF(7, 5));
    const QList<int> indices = c.view.userfgpoints();
    QCOMPARE(indices.size(), 50);
    // The later mark comes first (items() lists the topmost first).
    QCOMPARE(indices.first(), 5 * 40 + 7);
    QCOMPARE(indices.count(5 * 40 + 8), 2);
    QCOMPARE(indices.count(5 * 40 + 5), 1);
}

void TestMarkers::marksAreLaidOnlyInsideTheScene_data()
{
    QTest::addColumn<QPointF>("at");
    QTest::addColumn<int>("buttons");
    QTest::addColumn<int>("laid");
    QTest::newRow("inside") << QPointF(1.5, 1.5) << int(Qt::LeftButton) << 1;
    QTest::newRow("first column") << QPointF(0.9, 10) << int(Qt::LeftButton) << 0;
    QTest::newRow("first row") << QPointF(10, 0.5) << int(Qt::LeftButton) << 0;
    QTest::newRow("last column") << QPointF(39.5, 10) << int(Qt::LeftButton) << 1;
    QTest::newRow("right button") << QPointF(10, 10) << int(Qt::RightButton) << 0;
    QTest::newRow("no button") << QPointF(10, 10) << int(Qt::NoButton) << 0;
}

void TestMarkers::marksAreLaidOnlyInsideTheScene()
{
    QFETCH(QPointF, at);
    QFETCH(int, buttons);
    QFETCH(int, laid);
    MarkCanvas c;
    c.drag(CZefGraphicsView::KeepMarker, at, Qt::MouseButtons(buttons));
    c.drag(CZefGraphicsView::RemoveMarker, at, Qt::MouseButtons(buttons));
    QCOMPARE(c.marks(QGraphicsRectItem::Type), laid);
    QCOMPARE(c.marks(QGraphicsEllipseItem::Type), laid);
    QCOMPARE(c.view.undoStack->count(), 2 * laid);

    // Beyond the scene's right edge nothing is laid either.
    QGraphicsScene outside;
    outside.setSceneRect(0, 0, 40, 30);
    c.view.setScene(&outside);
    c.view.toolMode = CZefGraphicsView::KeepMarker;
    TestSupport::sendMouse(c.view.viewport(), QEvent::MouseMove, QPoint(410, 100), Qt::NoButton, Qt::LeftButton);
    QVERIFY(outside.items().isEmpty());
}

void TestMarkers::removeMarksAreRedCircles()
{
    MarkCanvas c;
    c.drag(CZefGraphicsView::RemoveMarker, QPointF(3, 4));
    auto *mark = qgraphicsitem_cast<QGraphicsEllipseItem *>(c.scene.items().at(0));
    QVERIFY(mark);
    QCOMPARE(mark->brush().color(), QColor(255, 10, 10));
    QCOMPARE(mark->rect(), QRectF(3, 4, 5, 5));
    QCOMPARE(c.view.userbgpoints().size(), 25); // the whole bounding square
    QVERIFY(c.view.userfgpoints().isEmpty());

    // The brush cursor is an ellipse too, but never counted.
    QSettings().setValue(QStringLiteral("TOOLSIZE"), 20);
    c.drag(CZefGraphicsView::KeepBrush, QPointF(20, 15), Qt::NoButton);
    QCOMPARE(c.view.userbgpoints().size(), 25);
}

void TestMarkers::clearmarksTakesOnlyMarks()
{
    MarkCanvas c;
    QImage image(40, 30, QImage::Format_RGB32);
    image.fill(Qt::gray);
    QGraphicsItem *photo = c.scene.addPixmap(QPixmap::fromImage(image));
    auto *layer = new CZefGraphicsImageMaskItem;
    layer->init(40, 30, 0xFFFF0000, 0);
    c.scene.addItem(layer);
    c.drag(CZefGraphicsView::KeepMarker, QPointF(5, 5));
    c.drag(CZefGraphicsView::RemoveMarker, QPointF(9, 9));
    QSettings().setValue(QStringLiteral("TOOLSIZE"), 20);
    c.drag(CZefGraphicsView::KeepBrush, QPointF(20, 15), Qt::NoButton);
    QCOMPARE(c.scene.items().size(), 5);

    c.view.clearmarks();
    const QList<QGraphicsItem *> left = c.scene.items();
    QCOMPARE(left.size(), 3);
    QVERIFY(left.contains(photo));
    QVERIFY(left.contains(layer));
    QCOMPARE(c.marks(CZefGraphicsBrushCursorItem::Type), 1);
    QVERIFY(c.view.userfgpoints().isEmpty());
    QVERIFY(c.view.userbgpoints().isEmpty());
}

void TestMarkers::undoRemovesExactlyOneMark()
{
    MarkCanvas c;
    c.drag(CZefGraphicsView::KeepMarker, QPointF(5, 5));
    c.drag(CZefGraphicsView::KeepMarker, QPointF(15, 5));
    QCOMPARE(c.marks(QGraphicsRectItem::Type), 2);

    c.view.undoStack->undo();
    QCOMPARE(c.marks(QGraphicsRectItem::Type), 1);
    QCOMPARE(c.view.userfgpoints().first(), 5 * 40 + 5); // the first mark is the one left

    c.view.undoStack->redo();
    QCOMPARE(c.marks(QGraphicsRectItem::Type), 2); // redo puts the mark back
    c.view.undoStack->undo();
    c.view.undoStack->undo();
    QCOMPARE(c.marks(QGraphicsRectItem::Type), 0);
    c.view.undoStack->redo();
    c.view.undoStack->redo();
    QCOMPARE(c.view.userfgpoints().size(), 50);
    c.view.undoStack->undo();
    c.view.undoStack->undo();
    QVERIFY(c.scene.items().isEmpty());

    // A new mark after undos drops the undone commands.
    c.drag(CZefGraphicsView::KeepMarker, QPointF(5, 5));
    QCOMPARE(c.view.undoStack->count(), 1);
}

void TestMarkers::undoAfterClearmarks()
{
    MarkCanvas c;
    c.drag(CZefGraphicsView::KeepMarker, QPointF(5, 5));
    c.drag(CZefGraphicsView::RemoveMarker, QPointF(15, 5));
    c.drag(CZefGraphicsView::KeepMarker, QPointF(25, 5));
    c.view.clearmarks();
    QVERIFY(c.scene.items().isEmpty());
    // Undoing a cleared mark destroys it without touching the scene; the
    // marks never undone are freed with their commands (see the leak check
    // of the sanitizer build).
    c.view.undoStack->undo();
    QVERIFY(c.scene.items().isEmpty());
    c.view.clearmarks(); // nothing left to clear

    // Marks of a whole drag: their commands sit inside the drag's step.
    TestSupport::sendMouse(c.view.viewport(), QEvent::MouseButtonPress, QPoint(50, 50), Qt::LeftButton,
                           Qt::LeftButton);
    TestSupport::sendMouse(c.view.viewport(), QEvent::MouseMove, QPoint(150, 60), Qt::NoButton, Qt::LeftButton);
    TestSupport::sendMouse(c.view.viewport(), QEvent::MouseButtonRelease, QPoint(150, 60), Qt::LeftButton,
                           Qt::NoButton);
    QVERIFY(c.marks(QGraphicsRectItem::Type) > 5);
    c.view.clearmarks();
    c.view.undoStack->undo(); // the sanitizer build sees any mark freed twice
    c.view.undoStack->redo();
    QVERIFY(c.scene.items().isEmpty());
}

void TestMarkers::commandsOutliveTheScene()
{
    QUndoStack stack;
    {
        MarkSet marks;
        const Mark kept = marks.add(Mark::Keep, QRectF(1, 1, 5, 5));
        const Mark undone = marks.add(Mark::Keep, QRectF(2, 2, 5, 5));
        stack.push(new CMarkerCommand(&marks, kept));
        stack.push(new CMarkerCommand(&marks, undone));
        stack.undo();
        QCOMPARE(marks.count(), 1);
    }
    // The marks are gone: undoing now must not touch them.
    stack.undo();
    stack.redo();
    stack.clear();
}

void TestMarkers::dragLaysMarksWithoutGaps_data()
{
    QTest::addColumn<qreal>("scale");
    QTest::addColumn<QPointF>("from");
    QTest::addColumn<QPointF>("to");
    QTest::newRow("zoomed in") << 10.0 << QPointF(2.5, 3.5) << QPointF(37.5, 25.5);
    QTest::newRow("zoomed out") << 0.5 << QPointF(2, 28) << QPointF(38, 2);
    QTest::newRow("from outside the scene") << 1.0 << QPointF(-20, 10) << QPointF(30, 12);
}

// One fast move of a drag marks every scene pixel on its way, and the whole
// drag is one undo step.
void TestMarkers::dragLaysMarksWithoutGaps()
{
    QFETCH(qreal, scale);
    QFETCH(QPointF, from);
    QFETCH(QPointF, to);
    MarkCanvas c;
    c.view.resetTransform();
    c.view.scale(scale, scale);
    c.view.toolMode = CZefGraphicsView::KeepMarker;
    QWidget *viewport = c.view.viewport();
    const QPoint a = c.view.mapFromScene(from);
    const QPoint b = c.view.mapFromScene(to);
    TestSupport::sendMouse(viewport, QEvent::MouseButtonPress, a, Qt::LeftButton, Qt::LeftButton);
    TestSupport::sendMouse(viewport, QEvent::MouseMove, b, Qt::NoButton, Qt::LeftButton);
    TestSupport::sendMouse(viewport, QEvent::MouseButtonRelease, b, Qt::LeftButton, Qt::NoButton);

    QSet<QPoint> corners;
    for (QGraphicsItem *item : c.scene.items())
        if (auto *mark = qgraphicsitem_cast<QGraphicsRectItem *>(item))
            corners.insert(QPoint(int(mark->rect().x()), int(mark->rect().y())));
    const QPointF sa = c.view.mapToScene(a);
    const QPointF sb = c.view.mapToScene(b);
    const int steps = int(std::max(std::abs(sb.x() - sa.x()), std::abs(sb.y() - sa.y())));
    int missing = 0;
    for (int i = 0; i <= steps; ++i) {
        const QPointF p = sa + (sb - sa) * (qreal(i) / steps);
        const bool inside = p.x() >= 1 && p.y() >= 1 && p.x() < 40 && p.y() < 30;
        bool near = false; // a mark's corner within a pixel of the line
        for (int dx = -1; dx <= 1 && !near; ++dx)
            for (int dy = -1; dy <= 1 && !near; ++dy)
                near = corners.contains(QPoint(int(p.x()) + dx, int(p.y()) + dy));
        missing += inside && !near;
    }
    QCOMPARE(missing, 0);
    QVERIFY(corners.size() >= steps / 2);
    QCOMPARE(c.view.undoStack->count(), 1);
    QCOMPARE(c.view.undoStack->undoText(), QStringLiteral("keep marks"));
    c.view.undoStack->undo();
    QCOMPARE(c.marks(QGraphicsRectItem::Type), 0);
    c.view.undoStack->redo();
    QCOMPARE(c.marks(QGraphicsRectItem::Type), int(corners.size()));
}

void TestMarkers::usedMarksHideUntilUndone()
{
    MarkCanvas c;
    c.drag(CZefGraphicsView::KeepMarker, QPointF(5, 5));
    c.drag(CZefGraphicsView::RemoveMarker, QPointF(15, 5));
    c.view.undoStack->push(new HideMarksCommand(c.document.marks()));
    QVERIFY(c.view.userfgpoints().isEmpty() && c.view.userbgpoints().isEmpty());
    c.drag(CZefGraphicsView::KeepMarker, QPointF(25, 5)); // a new mark after the fill
    QCOMPARE(c.view.userfgpoints().size(), 25);
    c.view.undoStack->undo(); // the new mark goes
    c.view.undoStack->undo(); // the used marks come back
    QCOMPARE(c.view.userfgpoints().size(), 25);
    QCOMPARE(c.view.userbgpoints().size(), 25);
    c.view.undoStack->undo(); // a mark's own command still takes it away
    QVERIFY(c.view.userbgpoints().isEmpty());
    c.view.undoStack->redo();
    c.view.undoStack->redo(); // hides what is left, and touches nothing gone
    QVERIFY(c.view.userfgpoints().isEmpty());
}

QTEST_MAIN(TestMarkers)
#include "tst_markers.moc"
