#include "app/document.h"
#include "app/mainwindow.h"
#include "app/previewrunner.h"
#include "app/spreadcontroller.h"
#include "app/workrunner.h"
#include "canvas/canvasitems.h"
#include "canvas/czefgraphicsview.h"
#include "canvas/previewitem.h"
#include "imaging/colourlayer.h"
#include "imaging/colourspread.h"
#include "imaging/markset.h"
#include "imaging/spreadcolouring.h"
#include "testsupport.h"

#include <QAction>
#include <QGraphicsScene>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QUndoStack>
#include <QtTest>

#include <cmath>

namespace {

const QPoint discCentre(110, 90);
constexpr int discRadius = 55;

bool inDisc(int x, int y)
{
    const int dx = x - discCentre.x();
    const int dy = y - discCentre.y();
    return dx * dx + dy * dy <= discRadius * discRadius;
}

// A dark disc on a bright ground, both lightly textured, `scale` times the
// 240 x 180 pixels of the basic photo.
QImage discPhoto(int scale = 1)
{
    QImage image(240 * scale, 180 * scale, QImage::Format_Grayscale8);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            image.scanLine(y)[x] = uchar((inDisc(x / scale, y / scale) ? 60 : 170) + ((x * 7 + y * 13) % 23));
    return image;
}

struct Session {
    explicit Session(int scale = 1)
        : photo(discPhoto(scale))
    {
        QVERIFY(photo.save(dir.filePath(QStringLiteral("disc.png"))));
        window.resize(900, 700);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        view = window.findChild<CZefGraphicsView *>();
        QVERIFY(window.openFile(dir.filePath(QStringLiteral("disc.png"))));
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        doc = window.document();
        layer = doc->colourLayer();
        controller = window.findChild<SpreadController *>();
        QVERIFY(controller);
    }
    QAction *action(const char *name) { return window.findChild<QAction *>(QString::fromLatin1(name)); }
    // A drag in scene coordinates with one button.
    void drag(const QPointF &from, const QPointF &to, Qt::MouseButton button = Qt::LeftButton)
    {
        QWidget *viewport = view->viewport();
        TestSupport::sendMouse(viewport, QEvent::MouseButtonPress, view->mapFromScene(from), button, button);
        TestSupport::sendMouse(viewport, QEvent::MouseMove, view->mapFromScene((from + to) / 2), Qt::NoButton, button);
        TestSupport::sendMouse(viewport, QEvent::MouseMove, view->mapFromScene(to), Qt::NoButton, button);
        TestSupport::sendMouse(viewport, QEvent::MouseButtonRelease, view->mapFromScene(to), button, Qt::NoButton);
    }
    // Colour marks in `colour` along a drag.
    void scribble(QRgb colour, const QPointF &from, const QPointF &to)
    {
        doc->setBrushColour(colour);
        drag(from, to);
    }
    QList<Mark> shownMarks(Mark::Kind kind) const
    {
        QList<Mark> list;
        const QList<Mark> all = doc->marks()->all();
        for (const Mark &mark : all)
            if (mark.kind == kind && !mark.isHidden())
                list.append(mark);
        return list;
    }
    // Lets a requested preview finish and reach the item.
    void settlePreview() { controller->previewRunner()->waitForIdle(); }
    QString status() const { return window.statusBar()->currentMessage(); }

    QTemporaryDir dir;
    QImage photo;
    MainWindow window;
    CZefGraphicsView *view = nullptr;
    Document *doc = nullptr;
    ColourLayer *layer = nullptr;
    SpreadController *controller = nullptr;
};

constexpr QRgb red = 0xFFD03020;
constexpr QRgb blue = 0xFF2050D0;

// Hue of a layer pixel, in degrees, -1 for grey.
int hueOf(QRgb pixel)
{
    return QColor(pixel).hsvHue();
}

} // namespace

class TestSpread : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { TestSupport::nameApplication(); }
    void colourMarksLayAndRightButtonTakesThemOff_data();
    void colourMarksLayAndRightButtonTakesThemOff();
    void spreadWritesUncolouredPixelsOnlyAndUndoes_data();
    void spreadWritesUncolouredPixelsOnlyAndUndoes();
    void neutralMarksLeaveTheLayerUncoloured();
    void nothingToSpreadSaysWhy_data();
    void nothingToSpreadSaysWhy();
    void unrecordableSpreadChangesNothing();
    void escStopsASpread();
    void spreadWritesWhatThePreviewShowed_data();
    void spreadWritesWhatThePreviewShowed();
    void previewHidesWithAnotherTool();
    void rowsAreThePixelsOfTheModel_data();
    void rowsAreThePixelsOfTheModel();
    void previewReadsTheLayerAsItWas_data();
    void previewReadsTheLayerAsItWas();
};

void TestSpread::colourMarksLayAndRightButtonTakesThemOff_data()
{
    QTest::addColumn<bool>("dragAcross");
    QTest::newRow("right click on the red line") << false;
    QTest::newRow("right drag along the red line") << true;
}

// Colour marks lay in the brush colour of the moment, one step a drag, two
// colours side by side, never on the layer; the right button takes off only
// the colour marks under the pointer, as one step that undo gives back.
void TestSpread::colourMarksLayAndRightButtonTakesThemOff()
{
    QFETCH(bool, dragAcross);
    Session s;
    QTest::keyClick(&s.window, Qt::Key_C);
    QCOMPARE(s.view->toolMode, int(CZefGraphicsView::ColourMarker));
    QVERIFY(s.action("actionColourMarks")->isChecked());
    const QImage blank = s.layer->image().copy();
    const int steps = s.doc->history()->count();

    s.scribble(red, QPointF(40, 30), QPointF(100, 30));
    s.scribble(blue, QPointF(40, 120), QPointF(100, 120));
    QCOMPARE(s.doc->history()->count(), steps + 2);
    const QList<Mark> marks = s.shownMarks(Mark::Colour);
    QVERIFY(marks.size() >= 120); // a mark per pixel along each line
    int reds = 0;
    for (const Mark &mark : marks) {
        QVERIFY(mark.colour == red || mark.colour == blue);
        reds += mark.colour == red;
    }
    QVERIFY(reds > 0 && reds < marks.size());
    QCOMPARE(s.layer->image(), blank);

    // A keep mark under the pointer stays: the right button is the colour
    // marks' own.
    s.action("actionKeepMarks")->trigger();
    s.drag(QPointF(70, 29), QPointF(72, 29));
    const qsizetype keeps = s.shownMarks(Mark::Keep).size();
    QVERIFY(keeps > 0);
    s.action("actionColourMarks")->trigger();
    const int before = s.doc->history()->count();
    if (dragAcross) {
        s.drag(QPointF(30, 30), QPointF(110, 30), Qt::RightButton);
    } else {
        QWidget *viewport = s.view->viewport();
        const QPoint at = s.view->mapFromScene(QPointF(70, 30));
        TestSupport::sendMouse(viewport, QEvent::MouseButtonPress, at, Qt::RightButton, Qt::RightButton);
        TestSupport::sendMouse(viewport, QEvent::MouseButtonRelease, at, Qt::RightButton, Qt::NoButton);
    }
    QCOMPARE(s.doc->history()->count(), before + 1);
    const QList<Mark> left = s.shownMarks(Mark::Colour);
    int redsLeft = 0;
    for (const Mark &mark : left)
        redsLeft += mark.colour == red;
    if (dragAcross)
        QCOMPARE(redsLeft, 0);
    else
        QVERIFY(redsLeft > 0 && redsLeft < reds);
    QCOMPARE(left.size() - redsLeft, marks.size() - reds); // every blue mark stays
    QCOMPARE(s.shownMarks(Mark::Keep).size(), keeps);

    s.doc->history()->undo();
    QCOMPARE(s.shownMarks(Mark::Colour).size(), marks.size());
    s.doc->history()->redo();
    QCOMPARE(s.shownMarks(Mark::Colour).size(), left.size());
    QCOMPARE(s.layer->image(), blank);
}

void TestSpread::spreadWritesUncolouredPixelsOnlyAndUndoes_data()
{
    QTest::addColumn<int>("model");
    QTest::addColumn<QString>("key");
    QTest::newRow("classic model, S") << int(StrokeStyle::Model::Classic) << "S";
    QTest::newRow("natural model, Return with the colour marks") << int(StrokeStyle::Model::Natural) << "Return";
}

// The spread colours every uncoloured pixel, the disc from the red mark and
// the ground from the blue one, leaves painted pixels as they were, and is
// one step whose undo gives back the layer bit for bit and the marks.
void TestSpread::spreadWritesUncolouredPixelsOnlyAndUndoes()
{
    QFETCH(int, model);
    QFETCH(QString, key);
    Session s;
    s.doc->setModel(StrokeStyle::Model(model));
    // Earlier work: a painted block across the disc's edge.
    s.doc->setBrushColour(0xFF20C040);
    RowSpans block;
    for (int y = 70; y < 110; ++y)
        block.append(RowSpan{y, 150, 200});
    QVERIFY(s.doc->fill(block));
    const QImage before = s.layer->image().copy();

    s.action("actionColourMarks")->trigger();
    s.scribble(red, QPointF(90, 80), QPointF(120, 100));
    s.scribble(blue, QPointF(20, 20), QPointF(60, 15));
    const qsizetype marks = s.shownMarks(Mark::Colour).size();
    const int steps = s.doc->history()->count();
    QTest::keyClick(&s.window, key == QLatin1String("S") ? Qt::Key_S : Qt::Key_Return);
    QCOMPARE(s.doc->history()->count(), steps + 1);
    QCOMPARE(s.doc->history()->undoText(), QStringLiteral("spread"));
    QCOMPARE(s.shownMarks(Mark::Colour).size(), qsizetype(0));

    const QImage after = s.layer->image();
    const int alpha = s.doc->style().alpha();
    int reddish = 0;
    int bluish = 0;
    for (int y = 0; y < after.height(); ++y) {
        for (int x = 0; x < after.width(); ++x) {
            const QRgb was = before.pixel(x, y);
            const QRgb now = after.pixel(x, y);
            if (was != s.layer->bg()) {
                QCOMPARE(now, was);
                continue;
            }
            QCOMPARE(qAlpha(now), alpha);
            const int hue = hueOf(now);
            if (inDisc(x, y) && (x - 110) * (x - 110) + (y - 90) * (y - 90) < 45 * 45)
                reddish += hue >= 0 && (hue < 30 || hue > 330);
            else if (!inDisc(x, y) && (x < 40 || y < 20))
                bluish += hue > 190 && hue < 250;
        }
    }
    QVERIFY2(reddish > 4000, qPrintable(QString::number(reddish)));
    QVERIFY2(bluish > 3000, qPrintable(QString::number(bluish)));

    s.doc->history()->undo();
    QCOMPARE(s.layer->image(), before);
    QCOMPARE(s.shownMarks(Mark::Colour).size(), marks);
    s.doc->history()->redo();
    QCOMPARE(s.layer->image(), after);
    QCOMPARE(s.shownMarks(Mark::Colour).size(), qsizetype(0));
}

// Where only a grey mark reaches, nothing is coloured; the marks are used up
// all the same, as one step.
void TestSpread::neutralMarksLeaveTheLayerUncoloured()
{
    Session s;
    s.action("actionColourMarks")->trigger();
    s.scribble(0xFF808080, QPointF(90, 80), QPointF(120, 100));
    s.scribble(0xFFFFFFFF, QPointF(20, 20), QPointF(60, 15));
    const QImage blank = s.layer->image().copy();
    s.action("actionSpread")->trigger();
    QCOMPARE(s.layer->image(), blank);
    QCOMPARE(s.shownMarks(Mark::Colour).size(), qsizetype(0));
    QCOMPARE(s.doc->history()->undoText(), QStringLiteral("spread"));
}

void TestSpread::nothingToSpreadSaysWhy_data()
{
    QTest::addColumn<QString>("marks");
    QTest::newRow("no marks") << "none";
    QTest::newRow("keep and remove marks only") << "keep";
    QTest::newRow("colour marks used up by a spread") << "used";
}

void TestSpread::nothingToSpreadSaysWhy()
{
    QFETCH(QString, marks);
    Session s;
    if (marks == QLatin1String("keep")) {
        s.action("actionKeepMarks")->trigger();
        s.drag(QPointF(90, 80), QPointF(120, 100));
        s.action("actionRemoveMarks")->trigger();
        s.drag(QPointF(20, 20), QPointF(60, 15));
    } else if (marks == QLatin1String("used")) {
        s.action("actionColourMarks")->trigger();
        s.scribble(red, QPointF(90, 80), QPointF(120, 100));
        s.action("actionSpread")->trigger();
    }
    const QImage layer = s.layer->image().copy();
    const int steps = s.doc->history()->count();
    const qsizetype all = s.doc->marks()->count();
    s.window.statusBar()->clearMessage();
    s.action("actionSpread")->trigger();
    QCOMPARE(s.status(), ColourSpread::outcomeText(ColourSpread::Outcome::NoColourMark));
    QCOMPARE(s.layer->image(), layer);
    QCOMPARE(s.doc->history()->count(), steps);
    QCOMPARE(s.doc->marks()->count(), all);
}

// A spread the history cannot record (here: more than it may keep; a failed
// allocation takes the same way) leaves the layer, the marks and the history
// as they were, and says so.
void TestSpread::unrecordableSpreadChangesNothing()
{
    Session s;
    s.action("actionColourMarks")->trigger();
    s.scribble(red, QPointF(90, 80), QPointF(120, 100));
    const QImage layer = s.layer->image().copy();
    const int steps = s.doc->history()->count();
    const qsizetype marks = s.shownMarks(Mark::Colour).size();
    s.doc->setHistoryLimit(16);
    s.action("actionSpread")->trigger();
    QCOMPARE(s.layer->image(), layer);
    QCOMPARE(s.doc->history()->count(), steps);
    QCOMPARE(s.shownMarks(Mark::Colour).size(), marks);
    QVERIFY2(s.status().contains(QStringLiteral("unchanged")), qPrintable(s.status()));
}

// Esc while a spread runs stops it: nothing is written, the marks stay, and
// the window takes no other key meanwhile.
void TestSpread::escStopsASpread()
{
    Session s(10);
    s.action("actionColourMarks")->trigger();
    s.scribble(red, QPointF(900, 800), QPointF(1200, 1000));
    s.scribble(blue, QPointF(200, 200), QPointF(600, 150));
    s.settlePreview();
    const QImage layer = s.layer->image().copy();
    const int steps = s.doc->history()->count();
    const qsizetype marks = s.shownMarks(Mark::Colour).size();
    bool tried = false;
    QTimer::singleShot(0, &s.window, [&] {
        QVERIFY(s.controller->runner()->isRunning());
        QTest::keyClick(&s.window, Qt::Key_B);
        QTest::keyClick(&s.window, Qt::Key_Escape);
        tried = true;
    });
    s.action("actionSpread")->trigger();
    QVERIFY(tried);
    QVERIFY(!s.controller->runner()->isRunning());
    QCOMPARE(s.status(), ColourSpread::outcomeText(ColourSpread::Outcome::Cancelled));
    QCOMPARE(s.layer->image(), layer);
    QCOMPARE(s.doc->history()->count(), steps);
    QCOMPARE(s.shownMarks(Mark::Colour).size(), marks);
    QCOMPARE(s.view->toolMode, int(CZefGraphicsView::ColourMarker));
}

void TestSpread::spreadWritesWhatThePreviewShowed_data()
{
    QTest::addColumn<int>("scale");
    QTest::addColumn<int>("level");
    QTest::newRow("the photo within the view: its own pixels") << 1 << 0;
    QTest::newRow("a photo larger than the view") << 6 << 2;
}

// After a drag of colour marks the preview shows, at the view's resolution,
// what Spread then writes: at the photo's own resolution the very pixels,
// on a larger photo the written pixels' mean over each preview pixel.
void TestSpread::spreadWritesWhatThePreviewShowed()
{
    QFETCH(int, scale);
    QFETCH(int, level);
    Session s(scale);
    s.view->setFixedSize(560, 420);
    QApplication::processEvents();
    s.doc->setBrushColour(0xFF20C040);
    RowSpans block;
    for (int y = 70 * scale; y < 110 * scale; ++y)
        block.append(RowSpan{y, 150 * scale, 200 * scale});
    QVERIFY(s.doc->fill(block));
    s.action("actionColourMarks")->trigger();
    s.scribble(red, QPointF(90, 80) * scale, QPointF(120, 100) * scale);
    s.scribble(blue, QPointF(20, 20) * scale, QPointF(60, 15) * scale);
    s.settlePreview();
    const PreviewItem *item = s.controller->previewItem();
    QVERIFY(!item->picture().isNull());
    const int factor = 1 << level;
    QCOMPARE(item->pictureScale(), qreal(factor));
    QCOMPARE(item->picture().size(), ColourSpread::levelSize(s.photo.size(), level));
    const QImage picture = item->picture();

    s.action("actionSpread")->trigger();
    const QImage written = s.layer->image();
    if (level == 0) {
        for (int y = 0; y < written.height(); ++y)
            for (int x = 0; x < written.width(); ++x) {
                const QRgb shown = picture.pixel(x, y);
                if (qAlpha(shown) != 0)
                    QCOMPARE(written.pixel(x, y), shown);
                else
                    QVERIFY(written.pixel(x, y) == s.layer->bg() || (x >= 150 && x <= 200 && y >= 70 && y < 110));
            }
        return;
    }
    // Each preview pixel against the mean of what was written under it,
    // away from the painted block.
    double total = 0;
    int counted = 0;
    for (int py = 0; py < picture.height(); ++py) {
        for (int px = 0; px < picture.width(); ++px) {
            const QRgb shown = picture.pixel(px, py);
            if (qAlpha(shown) == 0)
                continue;
            double sum[3] = {0, 0, 0};
            int n = 0;
            bool painted = false;
            for (int y = py * factor; y < (py + 1) * factor; ++y)
                for (int x = px * factor; x < (px + 1) * factor; ++x) {
                    const QRgb w = written.pixel(x, y);
                    painted = painted || qGreen(w) > qRed(w) + 60; // the green block
                    sum[0] += qRed(w);
                    sum[1] += qGreen(w);
                    sum[2] += qBlue(w);
                    ++n;
                }
            if (painted)
                continue;
            total += (std::abs(sum[0] / n - qRed(shown)) + std::abs(sum[1] / n - qGreen(shown))
                      + std::abs(sum[2] / n - qBlue(shown)))
                / 3;
            ++counted;
        }
    }
    QVERIFY(counted > picture.width() * picture.height() / 2);
    const double mean = total / counted;
    qInfo("mean difference of a preview pixel from the written pixels under it: %.2f levels", mean);
    QVERIFY2(mean < 3, qPrintable(QString::number(mean)));
}

// The preview goes with the colour-marks tool and comes back with it.
void TestSpread::previewHidesWithAnotherTool()
{
    Session s;
    s.action("actionColourMarks")->trigger();
    s.scribble(red, QPointF(90, 80), QPointF(120, 100));
    s.settlePreview();
    QVERIFY(!s.controller->previewItem()->picture().isNull());
    // The colour marks are drawn over the preview.
    const Mark mark = s.shownMarks(Mark::Colour).constFirst();
    const QList<QGraphicsItem *> stack = s.view->scene()->items(mark.rect.center());
    const auto *preview = static_cast<const QGraphicsItem *>(s.controller->previewItem());
    QVERIFY(stack.contains(preview));
    QVERIFY(stack.indexOf(s.view->documentItems()->markItem(mark.id)) < stack.indexOf(preview));
    QTest::keyClick(&s.window, Qt::Key_B);
    QVERIFY(s.controller->previewItem()->picture().isNull());
    QVERIFY(!s.controller->previewRunner()->isBusy());
    QTest::keyClick(&s.window, Qt::Key_C);
    s.settlePreview();
    QVERIFY(!s.controller->previewItem()->picture().isNull());
}

void TestSpread::rowsAreThePixelsOfTheModel_data()
{
    QTest::addColumn<int>("model");
    QTest::newRow("classic") << int(StrokeStyle::Model::Classic);
    QTest::newRow("natural") << int(StrokeStyle::Model::Natural);
}

// A written row, whatever it keeps between pixels, is pixel() of each photo
// pixel: here a real colour photo, whose HSV value is not its luminance,
// spread from marks in its own colours, over a layer half coloured already.
void TestSpread::rowsAreThePixelsOfTheModel()
{
    QFETCH(int, model);
    const QImage photo = QImage(QFINDTESTDATA("data/spread/chelsea.png")).convertToFormat(QImage::Format_RGB32);
    QVERIFY(!photo.isNull());
    QList<ColourSpread::Mark> marks;
    for (int i = 0; i < 12; ++i)
        for (int t = 0; t < 20; ++t) {
            const QPoint p((37 * i + t) % photo.width(), (53 * i + 5) % photo.height());
            marks.append({p, photo.pixel(p)});
        }
    const ColourSpread::Result result = ColourSpread::compute(photo, marks);
    QCOMPARE(result.outcome, ColourSpread::Outcome::Spread);
    StrokeStyle style;
    style.model = StrokeStyle::Model(model);
    style.strength = 70;
    const QRgb uncoloured = 0;
    const SpreadColouring colouring(style, uncoloured);
    QImage layer(photo.size(), QImage::Format_ARGB32);
    layer.fill(uncoloured);
    for (int y = 0; y < layer.height(); y += 2)
        for (int x = 0; x < layer.width() / 2; ++x)
            layer.setPixel(x, y, 0xDC20C040);
    const QImage before = layer.copy();
    colouring.write(photo, result.chroma, layer);

    std::vector<float> luma(size_t(photo.width()));
    int coloured = 0;
    for (int y = 0; y < photo.height(); ++y) {
        ColourSpread::luminanceRow(photo, y, luma.data());
        for (int x = 0; x < photo.width(); ++x) {
            const QRgb expected = before.pixel(x, y) != uncoloured
                ? before.pixel(x, y)
                : colouring.pixel(photo.pixel(x, y), luma[size_t(x)], result.chroma.redDifference(x, y),
                                  result.chroma.blueDifference(x, y));
            if (layer.pixel(x, y) != expected)
                QFAIL(qPrintable(QStringLiteral("pixel %1, %2").arg(x).arg(y)));
            coloured += qAlpha(expected) == style.alpha() ? 1 : 0;
        }
    }
    QVERIFY(coloured > photo.width() * photo.height() / 2);
}

void TestSpread::previewReadsTheLayerAsItWas_data()
{
    QTest::addColumn<int>("maxPixels");
    QTest::newRow("at the photo's size") << 0;
    QTest::newRow("reduced") << 20000;
}

// A preview job reads the colour layer through a snapshot while painting
// goes on: what is painted after the snapshot was taken is not in it.
void TestSpread::previewReadsTheLayerAsItWas()
{
    QFETCH(int, maxPixels);
    const QImage photo = QImage(QFINDTESTDATA("data/spread/chelsea.png")).convertToFormat(QImage::Format_RGB32);
    QVERIFY(!photo.isNull());
    QList<ColourSpread::Mark> marks;
    for (int i = 0; i < 8; ++i)
        for (int t = 0; t < 20; ++t) {
            const QPoint p((41 * i + t) % photo.width(), (59 * i + 7) % photo.height());
            marks.append({p, photo.pixel(p)});
        }
    ColourSpread::Options options;
    if (maxPixels > 0)
        options.maxPixels = maxPixels;
    const ColourSpread::Result result = ColourSpread::compute(photo, marks, options);
    QCOMPARE(result.outcome, ColourSpread::Outcome::Spread);
    const SpreadColouring colouring(StrokeStyle(), 0);

    ColourLayer layer;
    QVERIFY(layer.init(photo.width(), photo.height(), 0xFFC02020, 0));
    RowSpans first;
    for (int y = 10; y < 60; ++y)
        first.append({y, 5, 200});
    layer.paintSpans(first, {}, &photo);
    const QImage then = layer.image().copy();
    const std::shared_ptr<const LayerSnapshot> snapshot = layer.snapshot();
    RowSpans later;
    for (int y = 0; y < photo.height(); y += 3)
        later.append({y, 0, photo.width() - 1});
    layer.paintSpans(later, {}, &photo);
    QVERIFY(layer.image() != then);

    const QImage expected = colouring.preview(photo, result.chroma, then, nullptr);
    QVERIFY(!expected.isNull());
    QCOMPARE(colouring.preview(photo, result.chroma, *snapshot, nullptr), expected);
}

QTEST_MAIN(TestSpread)
#include "tst_spread.moc"
