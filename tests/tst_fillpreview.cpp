#include "app/document.h"
#include "app/fillcontroller.h"
#include "app/mainwindow.h"
#include "app/previewrunner.h"
#include "canvas/czefgraphicsview.h"
#include "canvas/previewitem.h"
#include "imaging/colourlayer.h"
#include "imaging/markset.h"
#include "referencelayer.h"
#include "testsupport.h"

#include <QAction>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QUndoStack>
#include <QtTest>

#include <vector>

namespace {

// A dark textured disc and a small dark spot on a bright textured ground,
// `factor` times the size of the fill tests' photo.
struct Scene {
    int factor = 1;
    int width() const { return 240 * factor; }
    int height() const { return 180 * factor; }
    QPointF at(qreal x, qreal y) const { return QPointF(x * factor, y * factor); }
    bool inDisc(int x, int y) const
    {
        const int dx = x - 110 * factor;
        const int dy = y - 90 * factor;
        return dx * dx + dy * dy <= 55 * 55 * factor * factor;
    }
    bool inSpot(int x, int y) const
    {
        const int dx = x - 200 * factor;
        const int dy = y - 140 * factor;
        return dx * dx + dy * dy <= 7 * 7 * factor * factor;
    }
    QImage photo() const
    {
        QImage image(width(), height(), QImage::Format_Grayscale8);
        for (int y = 0; y < height(); ++y)
            for (int x = 0; x < width(); ++x)
                image.scanLine(y)[x] = uchar((inDisc(x, y) || inSpot(x, y) ? 60 : 170) + ((x * 7 + y * 13) % 23));
        return image;
    }
};

struct Session {
    explicit Session(int factor = 1)
    {
        scene.factor = factor;
        photo = scene.photo();
        QVERIFY(photo.save(dir.filePath(QStringLiteral("disc.png"))));
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        TestSupport::answerFileDialog(dir.filePath(QStringLiteral("disc.png")));
        action("actionOpen")->trigger();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        view = window.findChild<CZefGraphicsView *>();
        layer = window.document()->colourLayer();
        fill = window.findChild<FillController *>();
        QVERIFY(fill);
        blank = layer->image().copy();
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
    void mark(const char *tool, qreal x0, qreal y0, qreal x1, qreal y1)
    {
        action(tool)->trigger();
        scribble(scene.at(x0, y0), scene.at(x1, y1));
    }
    // Lets the preview the marks asked for arrive.
    void settle()
    {
        QCoreApplication::processEvents();
        fill->previewRunner()->waitForIdle();
        QCoreApplication::processEvents();
    }
    bool previewShown() const { return fill->previewItem()->isVisible() && !fill->previewItem()->picture().isNull(); }
    QString status() const { return window.statusBar()->currentMessage(); }

    Scene scene;
    QTemporaryDir dir;
    QImage photo;
    MainWindow window;
    CZefGraphicsView *view = nullptr;
    ColourLayer *layer = nullptr;
    FillController *fill = nullptr;
    QImage blank;
};

std::vector<quint8> coverageOf(const CoverageSpans &region, const QSize &size)
{
    std::vector<quint8> out(size_t(size.width()) * size_t(size.height()), 0);
    const RowSpans &spans = region.spans();
    for (qsizetype i = 0; i < spans.size(); ++i)
        for (int x = spans[i].left; x <= spans[i].right; ++x)
            out[size_t(spans[i].y) * size_t(size.width()) + size_t(x)] = region.at(i, x);
    return out;
}

std::vector<quint8> maskOf(const RowSpans &spans, const QSize &size)
{
    return coverageOf(CoverageSpans(spans), size);
}

// A preview computation that runs until it is cancelled.
RegionFill::Preview endlessPreview(const QImage &, const QList<QPoint> &, const QList<QPoint> &, qint64,
                                   const std::atomic_bool *cancel)
{
    while (!cancel->load())
        QThread::msleep(1);
    RegionFill::Preview cancelled;
    cancelled.outcome = RegionFill::Outcome::Cancelled;
    return cancelled;
}

} // namespace

class TestFillPreview : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { TestSupport::nameApplication(); }
    void previewIsWhatFillColours_data();
    void previewIsWhatFillColours();
    void previewFollowsToolAndMarks();
    void fillGoesOnFromTheShownPreview_data();
    void fillGoesOnFromTheShownPreview();
    void latePreviewIsDropped_data();
    void latePreviewIsDropped();
    void fillSaysWhatItDid_data();
    void fillSaysWhatItDid();
    void softFillKeepsTheHardPart_data();
    void softFillKeepsTheHardPart();
    void quickPreviewThenSharp_data();
    void quickPreviewThenSharp();
    void outlineDrawsTheBoundary();
    void previewSaysWhyItShowsNothing();
};

void TestFillPreview::previewIsWhatFillColours_data()
{
    QTest::addColumn<int>("factor");
    QTest::addColumn<qint64>("previewPixels");
    QTest::newRow("whole photo") << 1 << qint64(0);
    QTest::newRow("reduced to a quarter") << 2 << qint64(240 * 180);
}

// The preview shows the region Fill colours: at the photo's own size the very
// same pixels, reduced the region Fill refines from it. The preview itself
// writes nothing.
void TestFillPreview::previewIsWhatFillColours()
{
    QFETCH(int, factor);
    QFETCH(qint64, previewPixels);
    Session s(factor);
    s.fill->setPreviewPixels(previewPixels);
    const int steps = s.view->undoStack->count();
    s.mark("actionKeepMarks", 90, 80, 130, 100);
    s.mark("actionRemoveMarks", 200, 20, 210, 120);
    s.settle();
    QVERIFY(s.previewShown());
    const RegionFill::Preview *preview = s.fill->preview();
    QVERIFY(preview);
    QCOMPARE(preview->outcome, RegionFill::Outcome::Filled);
    QCOMPARE(preview->scale, factor);
    QCOMPARE(s.fill->previewItem()->pictureScale(), qreal(factor));
    QCOMPARE(s.layer->image(), s.blank);
    QCOMPARE(s.view->undoStack->count(), steps + 2); // the two drags, nothing more

    const RegionFill::Result expected = RegionFill::refine(s.photo, *preview);
    QCOMPARE(expected.outcome, RegionFill::Outcome::Filled);
    const QSize size = s.photo.size();
    if (preview->scale == 1)
        QCOMPARE(expected.spans, preview->spans);
    // Reduced, the preview and the fill still agree but near the boundary.
    const std::vector<quint8> shown = maskOf(preview->spans, preview->size);
    const std::vector<quint8> hard = maskOf(expected.spans, size);
    qint64 both = 0;
    qint64 either = 0;
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x) {
            const bool a =
                shown[size_t(y / preview->scale) * size_t(preview->size.width()) + size_t(x / preview->scale)];
            const bool b = hard[size_t(y) * size_t(size.width()) + size_t(x)];
            both += a && b;
            either += a || b;
        }
    QVERIFY2(both >= 0.97 * either, qPrintable(QStringLiteral("IoU %1").arg(double(both) / either)));

    s.action("actionFill")->trigger();
    // Wholly covered pixels are what the hard fill has always laid; the rim
    // is the same colour, weaker; nothing else changed.
    const std::vector<quint8> coverage = coverageOf(expected.region, size);
    const QImage filled = s.layer->image();
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x) {
            const quint8 c = coverage[size_t(y) * size_t(size.width()) + size_t(x)];
            const QRgb pixel = filled.pixel(x, y);
            const QRgb full = Reference::colourised(0xFFFF0000, s.photo, QPoint(x, y));
            if (c == CoverageSpans::full) {
                QCOMPARE(pixel, full);
            } else if (c == 0) {
                QCOMPARE(pixel, s.blank.pixel(x, y));
            } else {
                QCOMPARE(pixel & 0xFFFFFFu, full & 0xFFFFFFu);
                QVERIFY(qAbs(qAlpha(pixel) - (qAlpha(full) * c + 127) / 255) <= 1);
            }
        }
    QCOMPARE(s.view->undoStack->count(), steps + 3);
    s.settle();
    QVERIFY(!s.previewShown()); // the marks are used up
    s.action("actionUndo")->trigger();
    QCOMPARE(s.layer->image(), s.blank);
}

// The outline shows while a marker tool is chosen and there are keep marks,
// and follows undo and redo of the marks.
void TestFillPreview::previewFollowsToolAndMarks()
{
    Session s;
    s.mark("actionRemoveMarks", 200, 20, 210, 120);
    s.settle();
    QVERIFY(!s.previewShown()); // nothing to fill without a keep mark
    s.mark("actionKeepMarks", 90, 80, 130, 100);
    s.settle();
    QVERIFY(s.previewShown());
    const QImage withBoth = s.fill->previewItem()->picture();

    s.action("actionBrush")->trigger();
    s.settle();
    QVERIFY(!s.previewShown());
    s.action("actionRemoveMarks")->trigger();
    s.settle();
    QVERIFY(s.previewShown());

    s.action("actionUndo")->trigger(); // the keep marks
    s.settle();
    QVERIFY(!s.previewShown());
    QVERIFY(!s.fill->preview());
    s.action("actionRedo")->trigger();
    s.settle();
    QVERIFY(s.previewShown());
    QCOMPARE(s.fill->previewItem()->picture(), withBoth);

    // Another photo forgets the preview.
    QVERIFY(s.photo.save(s.dir.filePath(QStringLiteral("other.png"))));
    QVERIFY(s.window.openFile(s.dir.filePath(QStringLiteral("other.png"))));
    s.action("actionKeepMarks")->trigger();
    s.settle();
    QVERIFY(!s.previewShown());
    QVERIFY(!s.fill->preview());
}

void TestFillPreview::fillGoesOnFromTheShownPreview_data()
{
    QTest::addColumn<bool>("marksChanged");
    QTest::newRow("the preview of these marks") << false;
    QTest::newRow("marks laid since the preview") << true;
}

// Fill colours the region previewed for the very marks it fills, even where a
// fresh cut would differ (here the preview is made to see a wall of remove
// marks across the disc); once the marks have changed it cuts afresh.
void TestFillPreview::fillGoesOnFromTheShownPreview()
{
    QFETCH(bool, marksChanged);
    Session s;
    s.fill->setPreviewComputation([](const QImage &photo, const QList<QPoint> &keep, QList<QPoint> remove,
                                     qint64 pixels, const std::atomic_bool *cancel) {
        for (int y = 0; y < 180; ++y)
            remove.append(QPoint(110, y));
        return RegionFill::preview(photo, keep, remove, pixels, cancel);
    });
    s.mark("actionKeepMarks", 80, 80, 100, 100);
    s.mark("actionRemoveMarks", 200, 20, 210, 120);
    s.settle();
    QVERIFY(s.fill->preview());
    const RegionFill::Result previewed = RegionFill::refine(s.photo, *s.fill->preview());
    const RegionFill::Result fresh =
        RegionFill::compute(s.photo, s.window.document()->marks()->pixels(Mark::Keep, s.photo.size()),
                            s.window.document()->marks()->pixels(Mark::Remove, s.photo.size()));
    QVERIFY(previewed.spans != fresh.spans);
    if (marksChanged) {
        s.fill->setPreviewComputation(endlessPreview);
        s.mark("actionRemoveMarks", 230, 170, 230, 170); // a corner, changing nothing of the region
        QTRY_VERIFY(s.fill->previewRunner()->isBusy());
    }
    s.action("actionFill")->trigger();
    const QImage filled = s.layer->image();
    const std::vector<quint8> expected = coverageOf(marksChanged ? fresh.region : previewed.region, s.photo.size());
    for (int y = 0; y < s.photo.height(); ++y)
        for (int x = 0; x < s.photo.width(); ++x)
            QCOMPARE(qAlpha(filled.pixel(x, y)) == 0, expected[size_t(y) * size_t(s.photo.width()) + size_t(x)] == 0);
}

void TestFillPreview::latePreviewIsDropped_data()
{
    QTest::addColumn<bool>("newerDrag");
    QTest::newRow("past the time limit") << false;
    QTest::newRow("overtaken by a newer drag") << true;
}

// A preview that does not finish in time shows nothing and writes nothing,
// and the window goes on meanwhile; Fill then computes the region itself.
void TestFillPreview::latePreviewIsDropped()
{
    QFETCH(bool, newerDrag);
    Session s;
    s.fill->setPreviewComputation(endlessPreview);
    PreviewRunner *runner = s.fill->previewRunner();
    runner->setTimeLimit(newerDrag ? 0 : 50);
    QSignalSpy timedOut(runner, &PreviewRunner::timedOut);
    QSignalSpy delivered(runner, &PreviewRunner::delivered);
    s.mark("actionKeepMarks", 90, 80, 130, 100);
    if (newerDrag) {
        QTRY_VERIFY(runner->isBusy());
        s.mark("actionRemoveMarks", 200, 20, 210, 120);
        // The first job is cancelled; the second runs until the fill.
        QTest::qWait(50);
        QVERIFY(runner->isBusy());
    } else {
        // The spy is told through the event loop: the window did not wait.
        QTRY_COMPARE(timedOut.count(), 1);
    }
    QCOMPARE(delivered.count(), 0);
    QVERIFY(!s.previewShown());
    QVERIFY(!s.fill->preview());
    QCOMPARE(s.layer->image(), s.blank);

    s.action("actionFill")->trigger();
    QVERIFY(!runner->isBusy());
    QCOMPARE(delivered.count(), 0);
    QVERIFY(s.layer->image() != s.blank);
}

void TestFillPreview::fillSaysWhatItDid_data()
{
    QTest::addColumn<QPointF>("keepFrom");
    QTest::addColumn<QPointF>("keepTo");
    QTest::addColumn<QPointF>("removeFrom");
    QTest::addColumn<QPointF>("removeTo");
    QTest::addColumn<QString>("message");
    QTest::newRow("the disc") << QPointF(90, 80) << QPointF(130, 100) << QPointF(200, 20) << QPointF(210, 120)
                              << QString();
    QTest::newRow("the ground, out to the far edges") << QPointF(10, 10) << QPointF(30, 20) << QPointF(100, 80)
                                                      << QPointF(120, 100) << "The fill reached the photo's edge";
    QTest::newRow("a small spot") << QPointF(198, 138) << QPointF(199, 139) << QPointF(180, 120) << QPointF(225, 120)
                                  << "Only a small area was filled: add keep marks";
}

void TestFillPreview::fillSaysWhatItDid()
{
    QFETCH(QPointF, keepFrom);
    QFETCH(QPointF, keepTo);
    QFETCH(QPointF, removeFrom);
    QFETCH(QPointF, removeTo);
    QFETCH(QString, message);
    Session s;
    s.window.statusBar()->showMessage(QStringLiteral("before"));
    s.mark("actionKeepMarks", keepFrom.x(), keepFrom.y(), keepTo.x(), keepTo.y());
    s.mark("actionRemoveMarks", removeFrom.x(), removeFrom.y(), removeTo.x(), removeTo.y());
    s.settle();
    s.action("actionFill")->trigger();
    QVERIFY(s.layer->image() != s.blank);
    QCOMPARE(s.status(), message);
    // Undo and a second try are a key each. What the fill said goes with it.
    QTest::keyClick(&s.window, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(s.layer->image(), s.blank);
    QCOMPARE(s.window.document()->marks()->pixels(Mark::Keep, s.photo.size()).isEmpty(), false);
    QCOMPARE(s.status(), QString());

    // So it does when another mark is laid; a later message of another kind stays.
    s.action("actionFill")->trigger();
    QCOMPARE(s.status(), message);
    QTest::keyClick(&s.window, Qt::Key_Z, Qt::ControlModifier);
    s.action("actionFill")->trigger();
    s.mark("actionKeepMarks", keepFrom.x() + 1, keepFrom.y(), keepTo.x() + 1, keepTo.y());
    QCOMPARE(s.status(), QString());
    s.action("actionFill")->trigger();
    s.window.statusBar()->showMessage(QStringLiteral("another"));
    QTest::keyClick(&s.window, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(s.status(), QStringLiteral("another"));
}

void TestFillPreview::softFillKeepsTheHardPart_data()
{
    QTest::addColumn<int>("strength");
    QTest::newRow("default strength") << StrokeStyle::defaultStrength;
    QTest::newRow("half strength") << 50;
    QTest::newRow("full strength") << 100;
}

// A fill's soft rim takes a share of the strength; its wholly covered pixels
// are the brush's at that strength, as a hard fill lays them.
void TestFillPreview::softFillKeepsTheHardPart()
{
    QFETCH(int, strength);
    Session s;
    Document *doc = s.window.document();
    doc->setStrength(strength);
    const int alpha = StrokeStyle::alphaFor(strength);
    CoverageSpans shape;
    const quint8 ramp[] = {0, 1, 64, 128, 200, 254};
    for (int y = 20; y < 30; ++y) {
        shape.append(RowSpan{y, 4, 9}, ramp);
        shape.appendFull(RowSpan{y, 10, 60});
    }
    QVERIFY(doc->fill(shape));
    const QImage filled = s.layer->image();
    for (int y = 15; y < 35; ++y)
        for (int x = 0; x < 70; ++x) {
            const QRgb pixel = filled.pixel(x, y);
            const QRgb full = Reference::colourised(0xFFFF0000, s.photo, QPoint(x, y));
            const bool row = y >= 20 && y < 30;
            const int c = !row || x < 4 || x > 60 ? 0 : x < 10 ? ramp[x - 4] : 255;
            if (c == 0) {
                QCOMPARE(pixel, s.blank.pixel(x, y));
                continue;
            }
            QVERIFY2((pixel & 0xFFFFFFu) == (full & 0xFFFFFFu),
                     qPrintable(QStringLiteral("%1 at (%2, %3), coverage %4").arg(pixel, 8, 16).arg(x).arg(y).arg(c)));
            if (c == 255)
                QCOMPARE(qAlpha(pixel), alpha);
            else
                QVERIFY2(qAbs(qAlpha(pixel) - (alpha * c + 127) / 255) <= 1,
                         qPrintable(QStringLiteral("alpha %1 at coverage %2").arg(qAlpha(pixel)).arg(c)));
        }
    s.action("actionUndo")->trigger();
    QCOMPARE(s.layer->image(), s.blank);
}

void TestFillPreview::quickPreviewThenSharp_data()
{
    QTest::addColumn<bool>("fillEarly");
    QTest::newRow("fill after the sharp preview") << false;
    QTest::newRow("fill while only the quick one shows") << true;
}

// On a photo larger than the quick preview, a drag shows a coarse outline
// first and the view-sized one after it; Fill colours the same region
// whichever was shown.
void TestFillPreview::quickPreviewThenSharp()
{
    QFETCH(bool, fillEarly);
    Session s(4);
    const qint64 whole = qint64(s.photo.width()) * s.photo.height();
    QVERIFY(whole > FillController::quickPreviewPixels);
    s.fill->setPreviewPixels(whole);
    QList<int> scales;
    connect(s.fill->previewRunner(), &PreviewRunner::delivered, this, [&] {
        scales << (s.fill->preview() ? s.fill->preview()->scale : 0);
        if (fillEarly && scales.size() == 1)
            s.fill->previewRunner()->cancel();
    });
    s.mark("actionKeepMarks", 90, 80, 130, 100);
    QCoreApplication::processEvents();
    s.fill->previewRunner()->waitForIdle();
    scales.clear(); // the keep mark's own previews
    s.mark("actionRemoveMarks", 200, 20, 210, 120);
    s.settle();
    if (fillEarly) {
        QCOMPARE(scales.size(), 1);
        QVERIFY(scales.first() > 1);
    } else {
        QCOMPARE(scales.size(), 2);
        QVERIFY(scales.first() > 1);
        QCOMPARE(scales.last(), 1);
    }
    QVERIFY(s.previewShown());
    QCOMPARE(s.fill->previewItem()->pictureScale(), qreal(scales.last()));

    const QSize size = s.photo.size();
    const RegionFill::Result expected =
        RegionFill::compute(s.photo, s.window.document()->marks()->pixels(Mark::Keep, size),
                            s.window.document()->marks()->pixels(Mark::Remove, size));
    QCOMPARE(expected.outcome, RegionFill::Outcome::Filled);
    s.action("actionFill")->trigger();
    const std::vector<quint8> coverage = coverageOf(expected.region, size);
    const QImage filled = s.layer->image();
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x) {
            const quint8 c = coverage[size_t(y) * size_t(size.width()) + size_t(x)];
            if (c == CoverageSpans::full)
                QVERIFY(filled.pixel(x, y) != s.blank.pixel(x, y));
            else if (c == 0)
                QCOMPARE(filled.pixel(x, y), s.blank.pixel(x, y));
        }
}

void TestFillPreview::outlineDrawsTheBoundary()
{
    RegionFill::Preview preview;
    preview.outcome = RegionFill::Outcome::Filled;
    preview.size = QSize(20, 10);
    for (int y = 0; y < 6; ++y)
        preview.spans.append(RowSpan{y, 5, 14});
    const QImage picture = FillController::outline(preview);
    QCOMPARE(picture.size(), preview.size);
    const auto alphaAt = [&](int x, int y) { return qAlpha(picture.pixel(x, y)); };
    QCOMPARE(alphaAt(0, 0), 0);                          // outside, away from the region
    QVERIFY(alphaAt(4, 3) >= 128);                       // just outside its left side
    QCOMPARE(alphaAt(5, 3), 255);                        // just inside it
    QCOMPARE(alphaAt(10, 0), 255);                       // along the photo's edge
    QVERIFY(alphaAt(10, 6) >= 128);                      // just below it
    QVERIFY(alphaAt(10, 3) > 0 && alphaAt(10, 3) < 128); // a faint tint inside
    QCOMPARE(alphaAt(10, 8), 0);
    preview.outcome = RegionFill::Outcome::NoEdgeToStopAt;
    QVERIFY(FillController::outline(preview).isNull());
}

// Keep marks alone in a photo with no edge around them: no outline shows,
// and the status bar says why until the marks change.
void TestFillPreview::previewSaysWhyItShowsNothing()
{
    Session s;
    s.fill->setPreviewComputation(
        [](const QImage &, const QList<QPoint> &, const QList<QPoint> &remove, qint64, const std::atomic_bool *) {
            RegionFill::Preview preview;
            preview.outcome = remove.isEmpty() ? RegionFill::Outcome::NoEdgeToStopAt : RegionFill::Outcome::NoKeepMark;
            return preview;
        });
    s.mark("actionKeepMarks", 90, 80, 130, 100);
    s.settle();
    QVERIFY(!s.previewShown());
    QCOMPARE(s.status(), RegionFill::outcomeText(RegionFill::Outcome::NoEdgeToStopAt));
    s.mark("actionRemoveMarks", 200, 20, 210, 120);
    s.settle();
    QCOMPARE(s.status(), QString());
}

QTEST_MAIN(TestFillPreview)
#include "tst_fillpreview.moc"
