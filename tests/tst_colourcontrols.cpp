#include "app/colourcontrols.h"
#include "app/colourswatches.h"
#include "app/document.h"
#include "app/mainwindow.h"
#include "app/referencedock.h"
#include "canvas/canvasitems.h"
#include "canvas/czefgraphicsview.h"
#include "colourlayer/czefgraphicsimagemaskitem.h"
#include "imaging/brushgeometry.h"
#include "imaging/colourlayer.h"
#include "imaging/strokestyle.h"
#include "referencelayer.h"
#include "testsupport.h"

#include <QAction>
#include <QPushButton>
#include <QSettings>
#include <QSlider>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QToolButton>
#include <QUndoStack>
#include <QtTest>

namespace {

// A grey ramp with some texture, so that neighbouring pixels differ.
QImage greyPhoto(const QSize &size)
{
    QImage image(size, QImage::Format_Grayscale8);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x)
            image.scanLine(y)[x] = uchar((x * 2 + y * 3 + (x * y) % 7) & 0xFF);
    return image;
}

QImage colourPhoto(const QSize &size)
{
    QImage image(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x)
            image.setPixel(x, y, qRgb((x * 5) & 0xFF, (y * 3 + 40) & 0xFF, (x + y) & 0xFF));
    return image;
}

// A window showing a photo written to a file of its own, at 100 %.
struct Work {
    explicit Work(const QImage &photo)
    {
        const QString name = dir.filePath(QStringLiteral("photo.png"));
        if (!photo.save(name))
            qWarning("cannot write %s", qPrintable(name));
        window.resize(900, 700);
        window.show();
        if (!QTest::qWaitForWindowExposed(&window))
            qWarning("the window did not show");
        view = window.findChild<CZefGraphicsView *>(QStringLiteral("graphicsView"));
        window.openFile(name);
        doc = window.document();
        controls = window.colourControls();
    }
    void press(const QPointF &scene, Qt::MouseButton button = Qt::LeftButton,
               Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        const QPoint p = view->mapFromScene(scene);
        QMouseEvent down(QEvent::MouseButtonPress, p, view->viewport()->mapToGlobal(p), button, button, modifiers);
        QApplication::sendEvent(view->viewport(), &down);
        QMouseEvent up(QEvent::MouseButtonRelease, p, view->viewport()->mapToGlobal(p), button, Qt::NoButton,
                       modifiers);
        QApplication::sendEvent(view->viewport(), &up);
    }
    void drag(const QList<QPointF> &points, Qt::MouseButton button = Qt::LeftButton)
    {
        QWidget *port = view->viewport();
        TestSupport::sendMouse(port, QEvent::MouseButtonPress, view->mapFromScene(points.first()), button, button);
        for (const QPointF &p : points.mid(1))
            TestSupport::sendMouse(port, QEvent::MouseMove, view->mapFromScene(p), Qt::NoButton, button);
        TestSupport::sendMouse(port, QEvent::MouseButtonRelease, view->mapFromScene(points.last()), button,
                               Qt::NoButton);
    }
    QAction *action(const char *name) const { return window.findChild<QAction *>(QLatin1String(name)); }
    const QImage &layer() const { return doc->colourLayer()->image(); }

    QTemporaryDir dir;
    MainWindow window;
    CZefGraphicsView *view = nullptr;
    Document *doc = nullptr;
    ColourControls *controls = nullptr;
};

void clearSettings()
{
    QSettings settings;
    for (const char *key : {"NaturalColour", "Strength", "Softness", "RecentColours"})
        settings.remove(QLatin1String(key));
}

QString hex(QRgb c)
{
    return QString::number(c, 16);
}

} // namespace

class TestColourControls : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { TestSupport::nameApplication(); }
    void init() { clearSettings(); }

    void naturalColourIsRememberedAndOffAtFirst();
    void storedValuesOutsideTheirRangeFallBack_data();
    void storedValuesOutsideTheirRangeFallBack();
    void defaultsLayTheFormerPixels_data();
    void defaultsLayTheFormerPixels();
    void eachStrokeAndFillKeepsTheStyleItWasMadeWith();
    void softStrokeFadesTowardsItsRimAndUndoesExactly();
    void smallSoftBrushesPaintTheirCentres_data();
    void smallSoftBrushesPaintTheirCentres();
    void aColourChosenDuringAStrokeColoursTheRestOfIt_data();
    void aColourChosenDuringAStrokeColoursTheRestOfIt();
    void pickingFromTheCanvasTakesWhatIsShown_data();
    void pickingFromTheCanvasTakesWhatIsShown();
    void pickColourIsOnePickThenTheToolBefore();
    void referencePhotoIsPickedFromAndBadFilesLeaveItAlone();
    void recentColoursAreKeptAndChosenByAClick();
};

void TestColourControls::naturalColourIsRememberedAndOffAtFirst()
{
    {
        Work work(greyPhoto(QSize(40, 30)));
        QAction *natural = work.action("actionNaturalColour");
        QVERIFY(natural->isCheckable());
        QVERIFY(!natural->isChecked());
        QCOMPARE(work.doc->style().model, StrokeStyle::Model::Classic);
        natural->trigger();
        QCOMPARE(work.doc->style().model, StrokeStyle::Model::Natural);
        QCOMPARE(QSettings().value(QStringLiteral("NaturalColour")).toBool(), true);
    }
    MainWindow again;
    QVERIFY(again.findChild<QAction *>(QStringLiteral("actionNaturalColour"))->isChecked());
    QCOMPARE(again.document()->style().model, StrokeStyle::Model::Natural);
    again.findChild<QAction *>(QStringLiteral("actionNaturalColour"))->trigger();
    QCOMPARE(again.document()->style().model, StrokeStyle::Model::Classic);
    QCOMPARE(QSettings().value(QStringLiteral("NaturalColour")).toBool(), false);
}

void TestColourControls::storedValuesOutsideTheirRangeFallBack_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QVariant>("stored");
    QTest::addColumn<int>("expected");
    QTest::newRow("strength lowest") << QStringLiteral("Strength") << QVariant(1) << 1;
    QTest::newRow("strength highest") << QStringLiteral("Strength") << QVariant(100) << 100;
    QTest::newRow("strength 0") << QStringLiteral("Strength") << QVariant(0) << 86;
    QTest::newRow("strength 101") << QStringLiteral("Strength") << QVariant(101) << 86;
    QTest::newRow("strength negative") << QStringLiteral("Strength") << QVariant(-40) << 86;
    QTest::newRow("strength text") << QStringLiteral("Strength") << QVariant(QStringLiteral("strong")) << 86;
    QTest::newRow("strength fraction") << QStringLiteral("Strength") << QVariant(QStringLiteral("50.5")) << 86;
    QTest::newRow("softness 0") << QStringLiteral("Softness") << QVariant(0) << 0;
    QTest::newRow("softness 100") << QStringLiteral("Softness") << QVariant(100) << 100;
    QTest::newRow("softness 50") << QStringLiteral("Softness") << QVariant(50) << 50;
    QTest::newRow("softness -1") << QStringLiteral("Softness") << QVariant(-1) << 0;
    QTest::newRow("softness 1000") << QStringLiteral("Softness") << QVariant(1000) << 0;
    QTest::newRow("softness huge") << QStringLiteral("Softness") << QVariant(QStringLiteral("99999999999999")) << 0;
    QTest::newRow("softness list") << QStringLiteral("Softness")
                                   << QVariant(QStringList{QStringLiteral("1"), QStringLiteral("2")}) << 0;
}

void TestColourControls::storedValuesOutsideTheirRangeFallBack()
{
    QFETCH(QString, key);
    QFETCH(QVariant, stored);
    QFETCH(int, expected);
    QSettings().setValue(key, stored);
    MainWindow window;
    QSlider *slider = key == QLatin1String("Strength") ? window.colourControls()->strengthSlider()
                                                       : window.colourControls()->softnessSlider();
    QCOMPARE(slider->objectName(),
             QLatin1String(key == QLatin1String("Strength") ? "sliderStrength" : "sliderSoftness"));
    QCOMPARE(slider->value(), expected);
    const StrokeStyle style = window.document()->style();
    QCOMPARE(key == QLatin1String("Strength") ? style.strength : style.softness, expected);

    // A move of the slider is stored and reaches the document.
    slider->setValue(expected == 37 ? 38 : 37);
    QCOMPARE(QSettings().value(key).toInt(), slider->value());
    QCOMPARE(key == QLatin1String("Strength") ? window.document()->style().strength
                                              : window.document()->style().softness,
             slider->value());
}

// With every new control at its default, strokes, erasing and fills lay
// exactly what the layer's own painting of the same spans lays.
void TestColourControls::defaultsLayTheFormerPixels_data()
{
    QTest::addColumn<QImage>("photo");
    QTest::addColumn<QString>("what");
    const QImage grey = greyPhoto(QSize(160, 120));
    const QImage colour = colourPhoto(QSize(160, 120));
    QTest::newRow("grey stroke") << grey << QStringLiteral("stroke");
    QTest::newRow("grey erase") << grey << QStringLiteral("erase");
    QTest::newRow("grey fill") << grey << QStringLiteral("fill");
    QTest::newRow("colour stroke") << colour << QStringLiteral("stroke");
    QTest::newRow("colour fill") << colour << QStringLiteral("fill");
}

void TestColourControls::defaultsLayTheFormerPixels()
{
    QFETCH(QImage, photo);
    QFETCH(QString, what);
    Work work(photo);
    QVERIFY(work.doc->hasPhoto());
    work.controls->setBrushColour(qRgb(40, 120, 200));
    ColourLayer former;
    QVERIFY(former.init(photo.width(), photo.height(), work.doc->colourLayer()->fg(), work.doc->colourLayer()->bg()));

    int steps = 0;
    QObject::connect(work.view, &CZefGraphicsView::brushSpans, &former, [&](const RowSpans &fg, const RowSpans &bg) {
        former.paintSpans(fg, bg, &work.doc->photo());
        ++steps;
    });
    work.drag({QPointF(30, 30), QPointF(60, 45), QPointF(100, 80)});
    if (what == QLatin1String("erase"))
        work.drag({QPointF(40, 60), QPointF(90, 40)}, Qt::RightButton);
    QVERIFY(steps > 2);
    if (what == QLatin1String("fill")) {
        RowSpans region;
        for (int y = 5; y < 100; y += 2)
            region.append(RowSpan{y, 3 + y / 3, 150 - y / 4});
        QVERIFY(work.doc->fill(region));
        former.paintSpans(region, {}, &work.doc->photo());
    }
    QCOMPARE(work.layer(), former.image());
    if (what == QLatin1String("erase"))
        return;
    // The old colouring itself, pixel by pixel.
    const QPoint inside(60, 45);
    QCOMPARE(hex(work.layer().pixel(inside)),
             hex(Reference::colourised(qRgb(40, 120, 200), work.doc->photo(), inside)));
}

void TestColourControls::eachStrokeAndFillKeepsTheStyleItWasMadeWith()
{
    Work work(greyPhoto(QSize(160, 120)));
    const QRgb brush = qRgb(230, 190, 60);
    work.controls->setBrushColour(brush);
    work.action("actionNaturalColour")->trigger();
    work.press(QPointF(30, 30));
    work.action("actionNaturalColour")->trigger();
    work.controls->strengthSlider()->setValue(50);
    work.press(QPointF(90, 30));
    work.action("actionNaturalColour")->trigger();
    work.controls->strengthSlider()->setValue(100);
    RowSpans region;
    for (int y = 80; y < 100; ++y)
        region.append(RowSpan{y, 20, 140});
    QVERIFY(work.doc->fill(region));
    // Changing the style afterwards changes nothing laid.
    work.action("actionNaturalColour")->trigger();
    work.controls->strengthSlider()->setValue(10);

    const QImage &photo = work.doc->photo();
    const auto photoPixel = [&](const QPoint &p) { return photo.pixel(p); };
    const QPoint a(30, 30), b(90, 30), c(70, 90);
    QCOMPARE(hex(work.layer().pixel(a)), hex(Reference::natural(brush, photoPixel(a), 220)));
    const QRgb classic = Reference::colourised(brush, photo, b);
    QCOMPARE(hex(work.layer().pixel(b)), hex((classic & 0xFFFFFFu) | (QRgb(StrokeStyle::alphaFor(50)) << 24)));
    QCOMPARE(hex(work.layer().pixel(c)), hex(Reference::natural(brush, photoPixel(c), 255)));

    // Undo takes each back to what was there before it.
    work.doc->history()->undo();
    QCOMPARE(work.layer().pixel(c), work.doc->colourLayer()->bg());
    work.doc->history()->redo();
    QCOMPARE(hex(work.layer().pixel(c)), hex(Reference::natural(brush, photoPixel(c), 255)));
}

void TestColourControls::softStrokeFadesTowardsItsRimAndUndoesExactly()
{
    Work work(greyPhoto(QSize(200, 150)));
    work.window.findChild<QSlider *>(QStringLiteral("horizontalSlider"))->setValue(60);
    work.controls->setBrushColour(qRgb(200, 40, 40));
    work.drag({QPointF(40, 60), QPointF(160, 60)}); // hard, earlier colour
    const QImage before = work.layer();
    work.controls->setBrushColour(qRgb(40, 40, 220));
    work.controls->softnessSlider()->setValue(100);
    work.drag({QPointF(100, 40), QPointF(100, 110)});

    // Across the soft stroke, alpha over uncoloured layer rises to the
    // stroke's own at its middle and falls again, never above it.
    int last = -1;
    bool rising = true;
    for (int x = 60; x <= 140; ++x) {
        const int alpha = qAlpha(work.layer().pixel(x, 100));
        QVERIFY2(alpha <= 220, qPrintable(QString::number(x)));
        if (rising && alpha < last)
            rising = false;
        else if (!rising)
            QVERIFY2(alpha <= last, qPrintable(QString::number(x)));
        last = alpha;
    }
    QVERIFY(qAlpha(work.layer().pixel(100, 100)) >= 200);
    QVERIFY(qAlpha(work.layer().pixel(75, 100)) > 0 && qAlpha(work.layer().pixel(75, 100)) < 200);
    // Over the earlier red the rim blends: neither colour alone.
    // Over the earlier red the rim blends: it is neither the red nor the blue
    // the stroke lays where it covers fully, and keeps the red's alpha.
    const QPoint rim(80, 60);
    const QRgb full = Reference::colourised(qRgb(40, 40, 220), work.doc->photo(), rim);
    const QRgb got = work.layer().pixel(rim);
    QCOMPARE(qAlpha(got), 220);
    QVERIFY2(got != before.pixel(rim) && got != full, qPrintable(hex(got)));
    QVERIFY(qBlue(got) > qBlue(before.pixel(rim)) && qRed(got) < qRed(before.pixel(rim)));

    work.doc->history()->undo();
    QCOMPARE(work.layer(), before);
}

void TestColourControls::smallSoftBrushesPaintTheirCentres_data()
{
    QTest::addColumn<int>("brush");
    QTest::addColumn<int>("softness");
    QTest::addColumn<qreal>("zoom");
    QTest::addColumn<bool>("erase");
    QTest::newRow("brush 1, soft 50") << 1 << 50 << 1.0 << false;
    QTest::newRow("brush 2, soft 53") << 2 << 53 << 1.0 << false;
    QTest::newRow("brush 3, soft 100") << 3 << 100 << 1.0 << false;
    QTest::newRow("brush 6 at 900 %, soft 50") << 6 << 50 << 9.0 << false;
    QTest::newRow("brush 1 at 25 %, soft 50: no gaps") << 1 << 50 << 0.25 << false;
    QTest::newRow("soft eraser of 2 pixels") << 2 << 50 << 1.0 << true;
}

// A soft brush too small for its disc to hold a pixel still paints the
// pixel under its centre at the stroke's full strength, and a line of them
// along a drag, as the hard brush does; one undo takes it back.
void TestColourControls::smallSoftBrushesPaintTheirCentres()
{
    QFETCH(int, brush);
    QFETCH(int, softness);
    QFETCH(qreal, zoom);
    QFETCH(bool, erase);
    Work work(greyPhoto(QSize(200, 150)));
    work.view->resetTransform();
    work.view->scale(zoom, zoom);
    const QRgb colour = qRgb(200, 60, 30);
    work.controls->setBrushColour(colour);
    if (erase) {
        work.window.findChild<QSlider *>(QStringLiteral("horizontalSlider"))->setValue(30);
        work.drag({QPointF(40, 75), QPointF(160, 75)});
    }
    work.window.findChild<QSlider *>(QStringLiteral("horizontalSlider"))->setValue(brush);
    work.controls->softnessSlider()->setValue(softness);
    const QImage before = work.layer();
    const QPointF from(60.5, 70.5);
    const QPointF to(140.5, 80.5);
    work.view->centerOn((from + to) / 2);
    work.drag({from, to}, erase ? Qt::RightButton : Qt::LeftButton);

    const QList<QPoint> steps = BrushGeometry::lineSteps(work.view->mapFromScene(from), work.view->mapFromScene(to));
    QVERIFY(steps.size() > 10);
    // Zoomed out, the centres of neighbouring steps lie apart: the line
    // between them is painted too.
    QList<QPoint> centres;
    for (const QPoint &q : steps) {
        const QPointF c = work.view->mapToScene(q);
        const QPoint centre(int(c.x()), int(c.y()));
        if (!centres.isEmpty() && centres.constLast() != centre)
            centres += BrushGeometry::lineSteps(centres.constLast(), centre).mid(1);
        else if (centres.isEmpty())
            centres.append(centre);
    }
    for (const QPoint &centre : std::as_const(centres)) {
        const QRgb want = erase ? 0 : Reference::colourised(colour, work.doc->photo(), centre);
        QVERIFY2(work.layer().pixel(centre) == want,
                 qPrintable(QStringLiteral("(%1, %2): %3, expected %4")
                                .arg(centre.x())
                                .arg(centre.y())
                                .arg(hex(work.layer().pixel(centre)), hex(want))));
    }
    work.doc->history()->undo();
    QCOMPARE(work.layer(), before);
}

// The colour dialog can open while the button is held; the rest of the
// stroke takes the new colour, but not a new model or strength.
void TestColourControls::aColourChosenDuringAStrokeColoursTheRestOfIt_data()
{
    QTest::addColumn<bool>("natural");
    QTest::newRow("classic") << false;
    QTest::newRow("natural") << true;
}

void TestColourControls::aColourChosenDuringAStrokeColoursTheRestOfIt()
{
    QFETCH(bool, natural);
    Work work(greyPhoto(QSize(160, 120)));
    work.action("actionNaturalColour")->setChecked(natural);
    const QRgb first = qRgb(220, 60, 30);
    const QRgb second = qRgb(30, 90, 230);
    work.controls->setBrushColour(first);
    QWidget *port = work.view->viewport();
    TestSupport::sendMouse(port, QEvent::MouseButtonPress, work.view->mapFromScene(QPointF(30, 60)), Qt::LeftButton,
                           Qt::LeftButton);
    work.controls->setBrushColour(second);
    work.controls->strengthSlider()->setValue(20);
    work.action("actionNaturalColour")->setChecked(!natural);
    TestSupport::sendMouse(port, QEvent::MouseMove, work.view->mapFromScene(QPointF(130, 60)), Qt::NoButton,
                           Qt::LeftButton);
    TestSupport::sendMouse(port, QEvent::MouseButtonRelease, work.view->mapFromScene(QPointF(130, 60)), Qt::LeftButton,
                           Qt::NoButton);
    QCOMPARE(work.doc->history()->count(), 1);

    const QImage &photo = work.doc->photo();
    const auto laid = [&](QRgb brush, const QPoint &p) {
        return natural ? Reference::natural(brush, photo.pixel(p), 220) : Reference::colourised(brush, photo, p);
    };
    const QPoint start(22, 60), end(135, 60);
    QCOMPARE(hex(work.layer().pixel(start)), hex(laid(first, start)));
    QCOMPARE(hex(work.layer().pixel(end)), hex(laid(second, end)));
}

void TestColourControls::pickingFromTheCanvasTakesWhatIsShown_data()
{
    QTest::addColumn<QImage>("photo");
    QTest::addColumn<QPointF>("where");
    QTest::addColumn<bool>("coloured");
    QTest::addColumn<bool>("picked");
    const QImage grey = greyPhoto(QSize(160, 120));
    QTest::newRow("grey photo, uncoloured") << grey << QPointF(120.5, 100.5) << false << true;
    QTest::newRow("grey photo, coloured") << grey << QPointF(40.5, 40.5) << true << true;
    QTest::newRow("colour photo, coloured") << colourPhoto(QSize(160, 120)) << QPointF(40.5, 40.5) << true << true;
    QTest::newRow("beside the photo") << grey << QPointF(-20, 40) << false << false;
    QTest::newRow("below the photo") << grey << QPointF(40, 150) << false << false;
}

void TestColourControls::pickingFromTheCanvasTakesWhatIsShown()
{
    QFETCH(QImage, photo);
    QFETCH(QPointF, where);
    QFETCH(bool, coloured);
    QFETCH(bool, picked);
    Work work(photo);
    work.controls->setBrushColour(qRgb(30, 160, 90));
    work.drag({QPointF(30, 40), QPointF(50, 40)});
    const QRgb brushBefore = work.doc->style().brush;
    QSignalSpy picks(work.view, &CZefGraphicsView::colourPicked);
    const int steps = work.doc->history()->count();

    work.press(where, Qt::LeftButton, Qt::AltModifier);
    QCOMPARE(work.doc->history()->count(), steps); // nothing painted
    QCOMPARE(picks.size(), picked ? 1 : 0);
    if (!picked) {
        QCOMPARE(work.doc->style().brush, brushBefore);
        return;
    }
    const QPoint p = where.toPoint();
    QCOMPARE(qAlpha(work.layer().pixel(p)) > 0, coloured);
    // What the screen shows there, read back from the drawn view at 100 %.
    QCOMPARE(work.view->transform().m11(), 1.0);
    const QImage shown = work.view->viewport()->grab().toImage();
    const QRgb screen = shown.pixel(work.view->mapFromScene(where));
    const QRgb got = work.doc->style().brush;
    QVERIFY2(std::abs(qRed(got) - qRed(screen)) <= 1 && std::abs(qGreen(got) - qGreen(screen)) <= 1
                 && std::abs(qBlue(got) - qBlue(screen)) <= 1,
             qPrintable(hex(got) + QLatin1Char(' ') + hex(screen)));
    QCOMPARE(work.controls->swatches()->current(), got);
    QCOMPARE(work.controls->swatches()->recent().value(0), got);

    // With the colouring hidden, the photo alone is what shows.
    if (coloured) {
        work.view->documentItems()->layerItem()->setVisible(false);
        work.press(where, Qt::LeftButton, Qt::AltModifier);
        QCOMPARE(work.doc->style().brush, photo.pixel(p) | 0xFF000000u);
    }
}

void TestColourControls::pickColourIsOnePickThenTheToolBefore()
{
    Work work(greyPhoto(QSize(160, 120)));
    QAction *pick = work.action("actionPickColour");
    QCOMPARE(pick->shortcut(), QKeySequence(Qt::Key_I));
    work.action("actionKeepMarks")->trigger();
    QCOMPARE(work.view->toolMode, int(CZefGraphicsView::KeepMarker));
    const int steps = work.doc->history()->count();

    pick->trigger();
    QCOMPARE(work.view->toolMode, int(CZefGraphicsView::Picker));
    work.press(QPointF(-30, 10)); // beside the photo: nothing, still picking
    QCOMPARE(work.view->toolMode, int(CZefGraphicsView::Picker));
    const QPointF at = work.view->mapToScene(work.view->mapFromScene(QPointF(70.5, 50.5)));
    // The photo pixel that holds the point.
    const QRgb under = work.doc->photo().pixel(int(std::floor(at.x())), int(std::floor(at.y()))) | 0xFF000000u;
    work.press(at);
    QCOMPARE(work.doc->style().brush, under);
    QCOMPARE(work.view->toolMode, int(CZefGraphicsView::KeepMarker));
    QCOMPARE(work.doc->history()->count(), steps); // no mark laid by the pick
    QVERIFY(work.doc->marks()->pixels(Mark::Keep, work.doc->photo().size()).isEmpty());

    // The key starts a pick and Esc gives it up, back to the tool before.
    QTest::keyClick(&work.window, Qt::Key_I);
    QCOMPARE(work.view->toolMode, int(CZefGraphicsView::Picker));
    QTest::keyClick(&work.window, Qt::Key_Escape);
    QCOMPARE(work.view->toolMode, int(CZefGraphicsView::KeepMarker));
    QCOMPARE(work.doc->style().brush, under); // Esc took nothing

    // A tool chosen while picking stays chosen after a later pick.
    pick->trigger();
    work.action("actionBrush")->trigger();
    work.press(QPointF(20.5, 20.5), Qt::LeftButton, Qt::AltModifier);
    QCOMPARE(work.view->toolMode, int(CZefGraphicsView::KeepBrush));
}

void TestColourControls::referencePhotoIsPickedFromAndBadFilesLeaveItAlone()
{
    Work work(greyPhoto(QSize(100, 80)));
    ReferenceDock *dock = work.controls->referenceDock();
    QVERIFY(dock->isHidden());

    const QString missing = work.dir.filePath(QStringLiteral("missing.png"));
    QVERIFY(!work.controls->openReference(missing));
    QVERIFY(work.window.statusBar()->currentMessage().contains(QStringLiteral("missing.png")));
    QVERIFY(dock->isHidden());

    QImage reference(300, 100, QImage::Format_RGB32);
    reference.fill(qRgb(10, 20, 30));
    for (int y = 0; y < 100; ++y)
        for (int x = 150; x < 300; ++x)
            reference.setPixel(x, y, qRgb(210, 150, 120));
    const QString good = work.dir.filePath(QStringLiteral("skin.jpg"));
    QVERIFY(reference.save(good, "PNG")); // a name whose suffix lies is still read
    QVERIFY(work.controls->openReference(good));
    QVERIFY(dock->isVisible());
    QCOMPARE(dock->image().size(), QSize(300, 100));

    const QString broken = work.dir.filePath(QStringLiteral("broken.png"));
    QFile file(broken);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("\x89PNG\r\n\x1a\nnot really");
    file.close();
    QVERIFY(!work.controls->openReference(broken));
    QVERIFY(work.window.statusBar()->currentMessage().contains(QStringLiteral("broken.png")));
    QCOMPARE(dock->fileName(), good);
    QCOMPARE(dock->image().pixel(200, 50), qRgb(210, 150, 120));

    // The picture is fitted and centred: a wide photo in a narrower dock
    // leaves bands above and below, where a click takes nothing.
    QWidget *area = dock->view();
    area->setFixedSize(240, 240);
    const QRect shown = dock->pictureRect();
    QCOMPARE(shown, QRect(0, 80, 240, 80));
    QSignalSpy picks(dock, &ReferenceDock::colourPicked);
    const auto click = [&](const QPoint &p) { QTest::mouseClick(area, Qt::LeftButton, Qt::NoModifier, p); };
    click(QPoint(120, 20));
    click(QPoint(120, 230));
    QCOMPARE(picks.size(), 0);
    click(QPoint(200, 120));
    QCOMPARE(picks.size(), 1);
    QCOMPARE(work.doc->style().brush, qRgb(210, 150, 120));
    click(QPoint(20, 120));
    QCOMPARE(work.doc->style().brush, qRgb(10, 20, 30));
    QCOMPARE(work.controls->swatches()->recent().mid(0, 2), QList<QRgb>({qRgb(10, 20, 30), qRgb(210, 150, 120)}));

    // The reference photo is not kept: the next start shows no empty dock,
    // though the window left it open.
    QVERIFY(work.window.close());
    MainWindow again;
    QVERIFY(again.colourControls()->referenceDock()->image().isNull());
    QVERIFY(again.colourControls()->referenceDock()->isHidden());
}

void TestColourControls::recentColoursAreKeptAndChosenByAClick()
{
    QSettings().setValue(QStringLiteral("RecentColours"),
                         QStringList{QStringLiteral("#102030"), QStringLiteral("nonsense"), QStringLiteral("#102030"),
                                     QString(), QStringLiteral("#a0b0c0")});
    {
        Work work(greyPhoto(QSize(40, 30)));
        ColourSwatches *swatches = work.controls->swatches();
        QCOMPARE(swatches->recent(), QList<QRgb>({qRgb(0x10, 0x20, 0x30), qRgb(0xa0, 0xb0, 0xc0)}));
        // The swatches take the same room however many colours there are, so
        // the tool bar's sliders stay where they are as colours come.
        const QSize room = swatches->sizeHint();

        QColor initial;
        TestSupport::answerColourDialog(QColor(1, 2, 3), &initial);
        work.window.findChild<QPushButton *>(QStringLiteral("pushButtonColor"))->click();
        QCOMPARE(initial, QColor(Qt::white));
        QCOMPARE(work.doc->style().brush, qRgb(1, 2, 3));
        QCOMPARE(swatches->current(), qRgb(1, 2, 3));
        for (int i = 0; i < 15; ++i)
            work.controls->setBrushColour(qRgb(i, i, 100));
        QCOMPARE(swatches->recent().size(), ColourSwatches::recentCount);
        QCOMPARE(swatches->recent().first(), qRgb(14, 14, 100));
        QCOMPARE(swatches->sizeHint(), room);

        swatches->findChild<QToolButton *>(QStringLiteral("swatchRecent5"))->click();
        QCOMPARE(work.doc->style().brush, qRgb(9, 9, 100));
        QCOMPARE(swatches->recent().first(), qRgb(9, 9, 100));
        QCOMPARE(swatches->recent().size(), ColourSwatches::recentCount);
    }
    MainWindow again;
    const QList<QRgb> kept = again.colourControls()->swatches()->recent();
    QCOMPARE(kept.size(), ColourSwatches::recentCount);
    QCOMPARE(kept.first(), qRgb(9, 9, 100));
    QCOMPARE(kept.at(1), qRgb(14, 14, 100));
}

QTEST_MAIN(TestColourControls)
#include "tst_colourcontrols.moc"
