#include "app/mainwindow.h"
#include "canvas/canvasitems.h"
#include "canvas/czefgraphicsview.h"
#include "colourlayer/czefgraphicsimagemaskitem.h"
#include "modalanswerer.h"
#include "testsupport.h"
#include "watchdog.h"

#include <QAction>
#include <QGraphicsPixmapItem>
#include <QPushButton>
#include <QRandomGenerator>
#include <QSettings>
#include <QSlider>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

// A session of random window events, repeatable from its seed (the variable
// BRIVELA_SEED): presses and drags with either button, brush sizes, zooming,
// colours from the real dialog, opening photos, resizing, undo and redo. It
// checks what must hold after any event; under the sanitizers it also finds
// memory faults that no single test provokes.
class TestRandomSession : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void session();

private:
    void event(int index);
    void drag(Qt::MouseButton button);
    void open(const QString &fileName);
    void checkInvariants();
    QGraphicsPixmapItem *photoItem() const;
    CZefGraphicsImageMaskItem *layer() const;

    QTemporaryDir dir;
    QStringList photos;
    QRandomGenerator rng;
    MainWindow *window = nullptr;
    CZefGraphicsView *view = nullptr;
    ModalAnswerer *answerer = nullptr;
    int zoomSteps = 0;     // zoom clicks since the last open
    qreal openedScale = 1; // the view's scale as the last open left it
    bool fitted = false;   // shown whole since the last open: resizes fit it again
};

namespace {

constexpr int eventCount = 5000;
constexpr int maxZoomSteps = 40;

QImage photo(int w, int h, QImage::Format format)
{
    QImage image(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            image.setPixel(x, y, qRgb(x * 255 / w, y * 255 / h, (x ^ y) & 0xFF));
    return image.convertToFormat(format);
}

} // namespace

void TestRandomSession::initTestCase()
{
    TestSupport::nameApplication();
    const quint32 seed = qEnvironmentVariableIntValue("BRIVELA_SEED");
    rng.seed(seed);
    qInfo("seed %u", seed);
    const struct {
        const char *name;
        QSize size;
        QImage::Format format;
    } kinds[] = {{"grey.png", {64, 48}, QImage::Format_Grayscale8},
                 {"colour.jpg", {120, 80}, QImage::Format_RGB32},
                 {"palette.gif", {33, 70}, QImage::Format_Indexed8},
                 {"mono.bmp", {50, 50}, QImage::Format_Mono}};
    for (const auto &kind : kinds) {
        photos.append(dir.filePath(QString::fromLatin1(kind.name)));
        const QImage image = photo(kind.size.width(), kind.size.height(), kind.format);
        // No GIF writer: the palette photo is written as PNG under a GIF name,
        // which the reader's content detection still opens.
        QVERIFY(image.save(photos.last(), photos.last().endsWith(QLatin1String("gif")) ? "png" : nullptr));
    }
}

QGraphicsPixmapItem *TestRandomSession::photoItem() const
{
    for (QGraphicsItem *item : view->scene()->items())
        if (item->type() == QGraphicsPixmapItem::Type)
            return static_cast<QGraphicsPixmapItem *>(item);
    return nullptr;
}

CZefGraphicsImageMaskItem *TestRandomSession::layer() const
{
    return view->documentItems() ? view->documentItems()->layerItem() : nullptr;
}

void TestRandomSession::drag(Qt::MouseButton button)
{
    QWidget *viewport = view->viewport();
    // A little beyond the viewport too: strokes that leave the photo or the view.
    const auto point = [&] {
        return QPoint(rng.bounded(-20, viewport->width() + 20), rng.bounded(-20, viewport->height() + 20));
    };
    QPoint at = point();
    TestSupport::sendMouse(viewport, QEvent::MouseButtonPress, at, button, button);
    for (int steps = rng.bounded(12); steps > 0; --steps) {
        at = rng.bounded(4) == 0 ? point() : at + QPoint(rng.bounded(-15, 16), rng.bounded(-15, 16));
        TestSupport::sendMouse(viewport, QEvent::MouseMove, at, Qt::NoButton, button);
    }
    TestSupport::sendMouse(viewport, QEvent::MouseButtonRelease, at, button, Qt::NoButton);
}

void TestRandomSession::open(const QString &fileName)
{
    answerer->expectFile(fileName);
    window->findChild<QAction *>(QStringLiteral("actionOpen"))->trigger();
    // A new photo may be shown whole, whatever the zoom was.
    zoomSteps = 0;
    openedScale = view->transform().m11();
    fitted = view->isFitted();
}

void TestRandomSession::event(int index)
{
    const auto click = [this](const char *name) {
        window->findChild<QPushButton *>(QString::fromLatin1(name))->click();
    };
    switch (rng.bounded(12)) {
    case 0:
    case 1:
    case 2:
        drag(Qt::LeftButton);
        break;
    case 3:
        drag(Qt::RightButton);
        break;
    case 4:
        TestSupport::sendMouse(view->viewport(), QEvent::MouseMove,
                               QPoint(rng.bounded(view->viewport()->width()), rng.bounded(view->viewport()->height())),
                               Qt::NoButton, Qt::NoButton);
        break;
    case 5:
        window->findChild<QSlider *>(QStringLiteral("horizontalSlider"))->setValue(rng.bounded(1, 1000));
        break;
    case 6: {
        // Zoom stays within maxZoomSteps of the start in either direction.
        const int target = rng.bounded(-maxZoomSteps, maxZoomSteps + 1);
        fitted = fitted && target == zoomSteps;
        for (; zoomSteps < target; ++zoomSteps)
            click("pushButtonZoomPlus");
        for (; zoomSteps > target; --zoomSteps)
            click("pushButtonZoomMinus");
        break;
    }
    case 7:
        answerer->expectColour(QColor::fromRgb(rng.generate() | 0xFF000000u));
        click("pushButtonColor");
        break;
    case 8:
        if (index % 4 == 0)
            open(photos.at(rng.bounded(photos.size())));
        break;
    case 9:
        window->resize(rng.bounded(200, 1400), rng.bounded(150, 1000));
        if (fitted) {
            // Still shown whole, at the new window's fit.
            QVERIFY(view->isFitted());
            const QRectF shown = view->viewportTransform().mapRect(view->sceneRect());
            QVERIFY(QRectF(view->viewport()->rect()).adjusted(-1, -1, 1, 1).contains(shown));
            openedScale = view->transform().m11();
        }
        break;
    default: {
        // Undo and redo, where the window has them; an undo that is redone
        // gives back the layer bit for bit.
        auto *undo = window->findChild<QAction *>(QStringLiteral("actionUndo"));
        auto *redo = window->findChild<QAction *>(QStringLiteral("actionRedo"));
        if (!undo || !redo)
            break;
        if (rng.bounded(3) == 0 && undo->isEnabled() && layer()) {
            const QImage before = layer()->maskImage->copy();
            undo->trigger();
            redo->trigger();
            QVERIFY(*layer()->maskImage == before);
        } else {
            (rng.bounded(2) ? undo : redo)->trigger();
        }
        break;
    }
    }
}

void TestRandomSession::checkInvariants()
{
    auto *slider = window->findChild<QSlider *>(QStringLiteral("horizontalSlider"));
    QVERIFY(slider->value() >= 1 && slider->value() <= 999);
    QCOMPARE(QSettings().value(QStringLiteral("TOOLSIZE")).toInt(), slider->value());
    QVERIFY(qAbs(view->transform().m11() / (openedScale * std::pow(1.2, zoomSteps)) - 1) < 1e-6);
    QVERIFY(QApplication::activeModalWidget() == nullptr);

    QGraphicsPixmapItem *shown = photoItem();
    if (!shown)
        return;
    // The layer covers the photo exactly; anything it does not colour is clear.
    CZefGraphicsImageMaskItem *colours = layer();
    QVERIFY(colours);
    QCOMPARE(colours->maskImage->size(), shown->pixmap().size());
    QCOMPARE(colours->boundingRect(), QRectF(QPointF(0, 0), shown->pixmap().size()));
    QCOMPARE(shown->pos(), QPointF(0, 0));
    QCOMPARE(colours->pos(), QPointF(0, 0));
    for (int y = 0; y < colours->maskImage->height(); ++y) {
        const auto *row = reinterpret_cast<const QRgb *>(colours->maskImage->constScanLine(y));
        for (int x = 0; x < colours->maskImage->width(); ++x)
            QVERIFY2(qAlpha(row[x]) != 0 || row[x] == 0, "an uncoloured pixel keeps no colour");
    }
}

void TestRandomSession::session()
{
    MainWindow mainWindow;
    window = &mainWindow;
    view = window->findChild<CZefGraphicsView *>(QStringLiteral("graphicsView"));
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    ModalAnswerer modalAnswerer;
    answerer = &modalAnswerer;
    Watchdog watchdog(std::chrono::seconds(10));

    open(photos.first());
    QVERIFY(photoItem());
    for (int i = 0; i < eventCount; ++i) {
        watchdog.arm(QStringLiteral("event %1").arg(i));
        event(i);
        checkInvariants();
        if (QTest::currentTestFailed())
            QFAIL(qPrintable(QStringLiteral("after event %1").arg(i)));
    }
    qInfo("%lld questions answered", static_cast<long long>(answerer->questions.size()));
}

QTEST_MAIN(TestRandomSession)
#include "tst_randomsession.moc"
