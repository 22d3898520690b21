#include "app/document.h"
#include "app/mainwindow.h"
#include "canvas/czefgraphicsview.h"
#include "colourlayer/czefgraphicsimagemaskitem.h"
#include "imaging/brushgeometry.h"
#include "imaging/colourlayer.h"
#include "referencelayer.h"
#include "testsupport.h"

#include <QAction>
#include <QGraphicsPixmapItem>
#include <QGraphicsScene>
#include <QRandomGenerator>
#include <QSet>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QUndoStack>
#include <QtTest>

namespace {

QImage texturedPhoto(int w, int h)
{
    QImage image(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            image.setPixel(x, y, qRgb((x * 7 + y * 3) & 0xFF, (x ^ y) & 0xFF, (x * y) & 0xFF));
    return image;
}

// The brush disc by the painting rules, written out plainly: pixels of the
// square but its last row and column, closer to the centre than the radius.
QSet<QPoint> plainDisc(const QGraphicsView &view, const QPoint &p, int size, const QRect &photo)
{
    const int half = size / 2;
    const QPointF c = view.mapToScene(p);
    const QPointF a = view.mapToScene(p - QPoint(half, half));
    const QPointF b = view.mapToScene(p + QPoint(half, half));
    const int left = int(a.x());
    const int top = int(a.y());
    const int w = int(b.x() - a.x());
    const int h = int(b.y() - a.y());
    const qint64 r2 = qint64(w) * h / 4;
    QSet<QPoint> disc;
    for (int x = left; x < left + w - 1; ++x)
        for (int y = top; y < top + h - 1; ++y) {
            const qint64 dx = int(c.x()) - x;
            const qint64 dy = int(c.y()) - y;
            if (dx * dx + dy * dy < r2 && photo.contains(x, y))
                disc.insert(QPoint(x, y));
        }
    return disc;
}

// A photo, its colour layer and a canvas wired as the main window wires them.
struct Canvas {
    Canvas(const QSize &size, qreal scale, int brush)
        : photo(texturedPhoto(size.width(), size.height()))
    {
        scene.addPixmap(QPixmap::fromImage(photo))->setZValue(5);
        layer->init(size.width(), size.height(), 0xFFFF0000, 0);
        scene.addItem(layer);
        layer->setZValue(10);
        view.setScene(&scene);
        view.resize(500, 400);
        view.scale(scale, scale);
        view.centerOn(size.width() / 2.0, size.height() / 2.0);
        view.toolMode = CZefGraphicsView::KeepBrush;
        view.setToolSize(brush);
        QObject::connect(&view, &CZefGraphicsView::brushSpans, [this](const RowSpans &fg, const RowSpans &bg) {
            layer->updateSpansFromImage(fg, bg, &photo);
        });
    }
    QPoint at(const QPointF &scenePoint) const { return view.mapFromScene(scenePoint); }
    void drag(const QPoint &from, const QPoint &to, Qt::MouseButton button)
    {
        TestSupport::sendMouse(view.viewport(), QEvent::MouseButtonPress, from, button, button);
        TestSupport::sendMouse(view.viewport(), QEvent::MouseMove, to, Qt::NoButton, button);
        TestSupport::sendMouse(view.viewport(), QEvent::MouseButtonRelease, to, button, Qt::NoButton);
    }

    QImage photo;
    QGraphicsScene scene;
    CZefGraphicsView view;
    CZefGraphicsImageMaskItem *layer = new CZefGraphicsImageMaskItem;
};

QImage layerOf(const MainWindow &window)
{
    return window.document()->colourLayer()->image().copy();
}

} // namespace

class TestStrokes : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { TestSupport::nameApplication(); }
    void lineStepsFollowTheLine_data();
    void lineStepsFollowTheLine();
    void dragPaintsTheSweptBrush_data();
    void dragPaintsTheSweptBrush();
    void spansAndPointListsAgree();
    void smallBrushesPaint_data();
    void smallBrushesPaint();
    void nothingOutsideThePhoto_data();
    void nothingOutsideThePhoto();
    void undoAndRedoBitForBit();
    void historyIsBounded();
};

void TestStrokes::lineStepsFollowTheLine_data()
{
    QTest::addColumn<QPoint>("from");
    QTest::addColumn<QPoint>("to");
    QTest::newRow("flat") << QPoint(0, 0) << QPoint(201, 37);
    QTest::newRow("steep, backwards") << QPoint(40, 300) << QPoint(-3, -1);
    QTest::newRow("diagonal") << QPoint(5, 5) << QPoint(-60, 70);
    QTest::newRow("one point") << QPoint(7, 9) << QPoint(7, 9);
}

// One point per step of the longer axis, each the nearest to the true line.
void TestStrokes::lineStepsFollowTheLine()
{
    QFETCH(QPoint, from);
    QFETCH(QPoint, to);
    const QList<QPoint> steps = BrushGeometry::lineSteps(from, to);
    const QPoint d = to - from;
    const int n = std::max(std::abs(d.x()), std::abs(d.y()));
    QCOMPARE(steps.size(), n + 1);
    for (int i = 0; i <= n; ++i) {
        const QPointF exact = n ? QPointF(from) + QPointF(d) * (qreal(i) / n) : QPointF(from);
        QVERIFY2(std::abs(steps[i].x() - exact.x()) <= 0.5 && std::abs(steps[i].y() - exact.y()) <= 0.5,
                 qPrintable(QStringLiteral("step %1 is off the line").arg(i)));
    }
}

void TestStrokes::dragPaintsTheSweptBrush_data()
{
    QTest::addColumn<qreal>("scale");
    QTest::addColumn<int>("brush");
    QTest::addColumn<QPointF>("from");
    QTest::addColumn<QPointF>("to");
    QTest::addColumn<int>("button");

    // Odd lengths along the longer axis keep the nearest pixel of each step
    // free of ties, so that the steps here and in the view agree.
    QTest::newRow("press alone: the brush disc") << 1.0 << 20 << QPointF(100, 100) << QPointF(100, 100) << 1;
    QTest::newRow("brush 20, fast") << 1.0 << 20 << QPointF(20, 30) << QPointF(221, 143) << 1;
    QTest::newRow("brush 8, fast and steep") << 1.0 << 8 << QPointF(50, 10) << QPointF(71, 199) << 1;
    QTest::newRow("brush 40 zoomed out") << 0.3 << 40 << QPointF(30, 20) << QPointF(250, 180) << 1;
    QTest::newRow("brush 12 zoomed in") << 3.0 << 12 << QPointF(120, 100) << QPointF(161, 111) << 1;
    QTest::newRow("over the border") << 1.0 << 30 << QPointF(-30, 50) << QPointF(151, 230) << 1;
    QTest::newRow("right button erases") << 1.0 << 16 << QPointF(40, 150) << QPointF(241, 60) << 2;
}

// The layer after one fast drag holds exactly the union of the brush discs at
// every pointer position along the drag, for the brush and for the eraser.
void TestStrokes::dragPaintsTheSweptBrush()
{
    QFETCH(qreal, scale);
    QFETCH(int, brush);
    QFETCH(QPointF, from);
    QFETCH(QPointF, to);
    QFETCH(int, button);
    const bool erase = button == 2;

    Canvas canvas(QSize(260, 200), scale, brush);
    if (erase) { // start from a fully coloured layer
        RowSpans all;
        for (int y = 0; y < 200; ++y)
            all.append(RowSpan{y, 0, 259});
        canvas.layer->updateSpansFromImage(all, {}, &canvas.photo);
    }
    const QImage before = canvas.layer->maskImage->copy();

    const QPoint p0 = canvas.at(from);
    const QPoint p1 = canvas.at(to);
    canvas.drag(p0, p1, erase ? Qt::RightButton : Qt::LeftButton);

    QSet<QPoint> expected;
    const QPoint d = p1 - p0;
    const int n = std::max(std::abs(d.x()), std::abs(d.y()));
    for (int i = 0; i <= n; ++i) {
        const QPointF exact = n ? QPointF(p0) + QPointF(d) * (qreal(i) / n) : QPointF(p0);
        expected.unite(plainDisc(canvas.view, exact.toPoint(), brush, canvas.photo.rect()));
    }
    QVERIFY(!expected.isEmpty());

    const QImage &layer = *canvas.layer->maskImage;
    int wrong = 0;
    for (int y = 0; y < layer.height(); ++y)
        for (int x = 0; x < layer.width(); ++x) {
            const QPoint p(x, y);
            QRgb want = before.pixel(p);
            if (expected.contains(p))
                want = erase ? 0 : Reference::colourised(0xFFFF0000, canvas.photo, p);
            wrong += layer.pixel(p) != want;
        }
    QCOMPARE(wrong, 0);
}

// Random strokes written as spans and as point lists give the same layer.
void TestStrokes::spansAndPointListsAgree()
{
    QImage photo = texturedPhoto(120, 90);
    CZefGraphicsImageMaskItem bySpans;
    CZefGraphicsImageMaskItem byPoints;
    bySpans.init(120, 90, 0xFF2080C0, 0);
    byPoints.init(120, 90, 0xFF2080C0, 0);
    QRandomGenerator random(20261208);
    for (int round = 0; round < 40; ++round) {
        QList<BrushGeometry::Disc> discs;
        QList<QPoint> points;
        for (int i = random.bounded(1, 6); i > 0; --i) {
            BrushGeometry::Disc disc;
            const int w = random.bounded(0, 40);
            disc.square = {random.bounded(-30, 130), random.bounded(-30, 100), w, w + random.bounded(-1, 2)};
            disc.centre = QPoint(disc.square.left + w / 2, disc.square.top + w / 2);
            discs.append(disc);
            points += BrushGeometry::disc(disc.centre, disc.square, photo.rect());
        }
        const RowSpans spans = BrushGeometry::sweep(discs, nullptr, photo.rect());
        if (round % 3 == 2) {
            bySpans.updateSpansFromImage({}, spans, &photo);
            byPoints.updateMaskFromImage({}, points, &photo);
        } else {
            bySpans.updateSpansFromImage(spans, {}, &photo);
            byPoints.updateMaskFromImage(points, {}, &photo);
        }
        QCOMPARE(*bySpans.maskImage, *byPoints.maskImage);
    }
}

void TestStrokes::smallBrushesPaint_data()
{
    QTest::addColumn<qreal>("scale");
    QTest::addColumn<int>("brush");
    QTest::addColumn<QPointF>("from");
    QTest::addColumn<QPointF>("to");
    QTest::newRow("brush 1, a dot") << 1.0 << 1 << QPointF(100, 100) << QPointF(100, 100);
    QTest::newRow("brush 2, a dot") << 1.0 << 2 << QPointF(60, 70) << QPointF(60, 70);
    QTest::newRow("brush 3, a dot") << 1.0 << 3 << QPointF(61, 71) << QPointF(61, 71);
    QTest::newRow("brush 1, a line") << 1.0 << 1 << QPointF(20, 30) << QPointF(221, 143);
    QTest::newRow("brush 2, a steep line") << 1.0 << 2 << QPointF(50, 10) << QPointF(71, 189);
    QTest::newRow("brush 3, a line") << 1.0 << 3 << QPointF(40, 150) << QPointF(241, 60);
    QTest::newRow("brush 8 at 800 %") << 8.0 << 8 << QPointF(120.5, 100.5) << QPointF(141.5, 111.5);
    QTest::newRow("brush 12 at 1000 %") << 10.0 << 12 << QPointF(130.5, 100.5) << QPointF(121.5, 109.5);
    QTest::newRow("brush 1 at 25 %: no gaps") << 0.25 << 1 << QPointF(10, 20) << QPointF(250, 170);
    QTest::newRow("brush 4 at 100 %: the disc alone") << 1.0 << 4 << QPointF(30, 30) << QPointF(90, 60);
}

// A stroke paints the pixels its disc covers and the pixel under the brush's
// centre, and a line of them with no gaps along a drag, however small the
// brush is in photo pixels; the point lists keep the disc alone.
void TestStrokes::smallBrushesPaint()
{
    QFETCH(qreal, scale);
    QFETCH(int, brush);
    QFETCH(QPointF, from);
    QFETCH(QPointF, to);
    Canvas canvas(QSize(260, 200), scale, brush);
    canvas.view.centerOn((from + to) / 2);
    const QImage before = canvas.layer->maskImage->copy();
    QList<QPoint> listed;
    QObject::connect(&canvas.view, &CZefGraphicsView::brushPressed,
                     [&listed](const QList<QPoint> &fg, const QList<QPoint> &) { listed += fg; });
    const QPoint p0 = canvas.at(from);
    const QPoint p1 = canvas.at(to);
    canvas.drag(p0, p1, Qt::LeftButton);

    // Every view step's disc, and its centre pixel.
    QSet<QPoint> expected;
    QSet<QPoint> discs;
    QList<QPoint> centres;
    const QList<QPoint> steps = BrushGeometry::lineSteps(p0, p1);
    for (const QPoint &q : steps) {
        const QSet<QPoint> disc = plainDisc(canvas.view, q, brush, canvas.photo.rect());
        expected.unite(disc);
        discs.unite(disc);
        const QPointF c = canvas.view.mapToScene(q);
        const QPoint centre(int(c.x()), int(c.y()));
        centres.append(centre);
        expected.insert(centre);
    }
    // Zoomed out, the centres of neighbouring steps lie apart: the line
    // between them is painted too.
    for (qsizetype i = 1; i < centres.size(); ++i)
        for (const QPoint &q : BrushGeometry::lineSteps(centres[i - 1], centres[i]))
            expected.insert(q);

    const QImage &layer = *canvas.layer->maskImage;
    int wrong = 0;
    int painted = 0;
    for (int y = 0; y < layer.height(); ++y)
        for (int x = 0; x < layer.width(); ++x) {
            const QPoint p(x, y);
            const QRgb want =
                expected.contains(p) ? Reference::colourised(0xFFFF0000, canvas.photo, p) : before.pixel(p);
            wrong += layer.pixel(p) != want;
            painted += layer.pixel(p) != before.pixel(p);
        }
    QCOMPARE(wrong, 0);
    QVERIFY(painted >= 1);
    // Brushes of 1 to 3 pixels at 100 % have no disc: the point lists stay empty.
    if (brush < 4 && scale == 1.0)
        QVERIFY(listed.isEmpty());
    for (const QPoint &q : std::as_const(listed))
        QVERIFY(discs.contains(q));
}

void TestStrokes::nothingOutsideThePhoto_data()
{
    QTest::addColumn<qreal>("scale");
    QTest::addColumn<int>("brush");
    QTest::addColumn<QPoint>("from");
    QTest::addColumn<QPoint>("to");
    QTest::newRow("brush 999 at 1e-7") << 1e-7 << 999 << QPoint(10, 10) << QPoint(400, 300);
    QTest::newRow("far outside the window") << 1.0 << 999 << QPoint(-2000000000, 5) << QPoint(2000000000, 9);
    QTest::newRow("zero-length move") << 1.0 << 50 << QPoint(200, 200) << QPoint(200, 200);
}

void TestStrokes::nothingOutsideThePhoto()
{
    QFETCH(qreal, scale);
    QFETCH(int, brush);
    QFETCH(QPoint, from);
    QFETCH(QPoint, to);
    Canvas canvas(QSize(64, 48), scale, brush);
    int rowsSeen = 0;
    QObject::connect(&canvas.view, &CZefGraphicsView::brushSpans, [&](const RowSpans &fg, const RowSpans &) {
        for (const RowSpan &span : fg)
            QVERIFY(span.y >= 0 && span.y < 48 && span.left >= 0 && span.right < 64 && span.left <= span.right);
        rowsSeen += int(fg.size());
    });
    canvas.drag(from, to, Qt::LeftButton);
    QVERIFY(rowsSeen <= 2 * 48 * 4); // a few spans per row, never one per pixel
}

// Undo and redo through the window's actions give back the layer bit for bit,
// on screen and in the saved file.
void TestStrokes::undoAndRedoBitForBit()
{
    QTemporaryDir dir;
    const QString name = dir.filePath(QStringLiteral("photo.png"));
    QVERIFY(texturedPhoto(200, 150).save(name));
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    TestSupport::answerFileDialog(name);
    window.findChild<QAction *>(QStringLiteral("actionOpen"))->trigger();
    auto *view = window.findChild<CZefGraphicsView *>();
    QAction *undo = window.findChild<QAction *>(QStringLiteral("actionUndo"));
    QAction *redo = window.findChild<QAction *>(QStringLiteral("actionRedo"));
    QVERIFY(!undo->isEnabled());
    const auto drag = [view](QPointF a, QPointF b, Qt::MouseButton button) {
        QWidget *viewport = view->viewport();
        TestSupport::sendMouse(viewport, QEvent::MouseButtonPress, view->mapFromScene(a), button, button);
        for (int i = 1; i <= 4; ++i)
            TestSupport::sendMouse(viewport, QEvent::MouseMove, view->mapFromScene(a + (b - a) * i / 4), Qt::NoButton,
                                   button);
        TestSupport::sendMouse(viewport, QEvent::MouseButtonRelease, view->mapFromScene(b), button, Qt::NoButton);
        QEvent leave(QEvent::Leave); // no brush cursor in the pictures below
        QApplication::sendEvent(view, &leave);
    };
    const auto screen = [view] { return view->viewport()->grab().toImage(); };

    const QImage blank = layerOf(window);
    const QImage blankScreen = screen();
    drag(QPointF(20, 20), QPointF(180, 120), Qt::LeftButton);
    const QImage painted = layerOf(window);
    const QImage paintedScreen = screen();
    QCOMPARE(undo->text(), QStringLiteral("Undo stroke"));
    drag(QPointF(100, 10), QPointF(60, 140), Qt::RightButton);
    const QImage erased = layerOf(window);
    QCOMPARE(undo->text(), QStringLiteral("Undo erase"));
    QVERIFY(painted != blank && erased != painted);

    undo->trigger();
    QCOMPARE(layerOf(window), painted);
    QCOMPARE(screen(), paintedScreen);
    QCOMPARE(redo->text(), QStringLiteral("Redo erase"));
    undo->trigger();
    QCOMPARE(layerOf(window), blank);
    QCOMPARE(screen(), blankScreen);
    redo->trigger();
    redo->trigger();
    QCOMPARE(layerOf(window), erased);

    // A stroke too large for the history still paints, says it cannot be
    // undone, and leaves nothing to undo.
    window.document()->setHistoryLimit(10);
    drag(QPointF(20, 130), QPointF(180, 130), Qt::LeftButton);
    QVERIFY(layerOf(window) != erased);
    QCOMPARE(window.statusBar()->currentMessage(),
             QStringLiteral("This stroke was too large to record: it cannot be undone."));
    QVERIFY(!undo->isEnabled() && !redo->isEnabled());
    QVERIFY(window.isWindowModified());

    // A new photo starts a new history, once the unsaved strokes are given up.
    TestSupport::answerMessageBox(QMessageBox::Discard, nullptr, [&name] { TestSupport::answerFileDialog(name); });
    window.findChild<QAction *>(QStringLiteral("actionOpen"))->trigger();
    QVERIFY(!undo->isEnabled() && !redo->isEnabled());
}

// Past its bound the history gives up its oldest strokes; a stroke too large
// to record still paints.
void TestStrokes::historyIsBounded()
{
    const QImage photo = texturedPhoto(256, 256);
    Document document;
    QCOMPARE(document.open(photo, QImage(), QStringLiteral("textured.png")), Document::OpenResult::Opened);
    ColourLayer &layer = *document.colourLayer();
    // Each stroke keeps four tiles that were uniform: the bookkeeping alone.
    // Room for two such strokes.
    LayerTileRecord probe(layer.image().size());
    probe.captureRow(layer.image(), 10, 0, 255);
    const qint64 one = probe.bytes();
    QVERIFY(one > 0);
    document.setHistoryLimit(2 * one);
    QList<QImage> states{layer.image().copy()};
    for (int i = 0; i < 3; ++i) {
        document.beginStroke(false);
        document.paintSpans({RowSpan{10 + 60 * i, 0, 255}, RowSpan{11 + 60 * i, 0, 255}}, {});
        document.endStroke();
        states.append(layer.image().copy());
    }
    for (int i = 0; i < 3; ++i)
        document.history()->undo();
    QCOMPARE(layer.image(), states.at(1)); // the oldest stroke stays

    layer.setFg(0xFF00FF00);
    layer.beginRecording(20000); // room for one coloured tile, not two
    layer.paintSpans({RowSpan{10, 0, 5}, RowSpan{10, 64, 70}, RowSpan{200, 0, 255}}, {}, &photo);
    LayerTileRecord tooLarge = layer.endRecording();
    QVERIFY(tooLarge.overflowed());
    QCOMPARE(layer.image().pixel(5, 200), Reference::colourised(0xFF00FF00, photo, QPoint(5, 200)));
}

QTEST_MAIN(TestStrokes)
#include "tst_strokes.moc"
