#include "colourlayer/czefgraphicsimagemaskitem.h"
#include "imaging/colourisetable.h"
#include "imaging/edgesmoothing.h"
#include "referencelayer.h"
#include "testsupport.h"

#include <QGraphicsScene>
#include <QGraphicsView>
#include <QPainter>
#include <QRandomGenerator>
#include <QStyleOptionGraphicsItem>
#include <QtTest>

#include <atomic>
#include <memory>
#include <thread>

namespace {

constexpr QRgb red = 0xFFFF0000;
constexpr QRgb transparent = 0x00000000;

// What paint() puts on a premultiplied canvas for the given exposed rectangle;
// pixels outside it keep the marker value.
QImage drawn(CZefGraphicsImageMaskItem &item, const QRect &exposed, QRgb marker = 0x12345678)
{
    QImage canvas(item.boundingRect().size().toSize(), QImage::Format_ARGB32_Premultiplied);
    canvas.fill(marker);
    QPainter painter(&canvas);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    QStyleOptionGraphicsItem option;
    option.exposedRect = exposed;
    item.paint(&painter, &option, nullptr);
    painter.end();
    return canvas;
}

QImage premultiplied(const QImage &image)
{
    return image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

QImage layerOf(int w, int h, QRgb fill)
{
    QImage image(w, h, QImage::Format_ARGB32);
    image.fill(fill);
    return image;
}

} // namespace

class TestColourLayer : public QObject
{
    Q_OBJECT

private slots:
    void boundingRectFollowsInit();
    void initClearsAndResetsForeground();
    void setFgChangesNoPixel();
    void fgpointsIsColumnMajorAndExact();
    void pointsOutsideTheLayerAreSkipped();
    void colourisedValues_data();
    void colourisedValues();
    void clearingPassRunsSecond();
    void updateMaskWritesFlatColour();
    void recreateMaskfromFgStartsFromBackground();
    void tableMatchesToolkitForPhotoFormats_data();
    void tableMatchesToolkitForPhotoFormats();
    void smoothingWorkedValues_data();
    void smoothingWorkedValues();
    void paintLeavesStoredLayerUnsmoothed();
    void repaintCoversWhatChanged();
    void paintMatchesReferenceForRandomStrokes();
    void snapshotKeepsWhatWasThere_data();
    void snapshotKeepsWhatWasThere();
    void snapshotReadWhilePainting();
};

void TestColourLayer::boundingRectFollowsInit()
{
    CZefGraphicsImageMaskItem item;
    QCOMPARE(item.boundingRect(), QRectF(0, 0, 0, 0));
    item.init(640, 480, red, transparent);
    QCOMPARE(item.boundingRect(), QRectF(0, 0, 640, 480));
    item.init(300, 200, red, transparent);
    QCOMPARE(item.boundingRect(), QRectF(0, 0, 300, 200));
    QCOMPARE(item.maskImage->format(), QImage::Format_ARGB32);
}

void TestColourLayer::initClearsAndResetsForeground()
{
    CZefGraphicsImageMaskItem item;
    item.init(4, 3, red, transparent);
    item.setFg(0xFF00FF00);
    item.updateMask({QPoint(1, 1), QPoint(2, 2)}, {});
    QCOMPARE(item.fgpoints().size(), 2);

    item.init(5, 4, red, 0x11223344);
    QCOMPARE(*item.maskImage, layerOf(5, 4, 0x11223344));
    item.updateMask({QPoint(0, 0)}, {});
    QCOMPARE(item.maskImage->pixel(0, 0), red); // the green set before is gone
}

void TestColourLayer::setFgChangesNoPixel()
{
    CZefGraphicsImageMaskItem item;
    item.init(6, 6, red, transparent);
    const QImage before = *item.maskImage;
    item.setFg(0xFF0000FF);
    QCOMPARE(*item.maskImage, before);
}

void TestColourLayer::fgpointsIsColumnMajorAndExact()
{
    CZefGraphicsImageMaskItem item;
    item.init(3, 2, red, transparent);
    item.updateMask({QPoint(2, 0), QPoint(0, 1)}, {});
    QCOMPARE(item.fgpoints(), QList<QPoint>({QPoint(0, 1), QPoint(2, 0)}));

    // Same red, green and blue but another alpha is not the foreground.
    QImage white = layerOf(3, 2, 0xFFFFFFFF);
    item.updateMaskFromImage({QPoint(1, 1)}, {}, &white);
    QCOMPARE(item.maskImage->pixel(1, 1), 0xDCFF0000);
    QCOMPARE(item.fgpoints().size(), 2);
}

void TestColourLayer::pointsOutsideTheLayerAreSkipped()
{
    CZefGraphicsImageMaskItem item;
    item.init(100, 80, red, transparent);
    const QImage photo = layerOf(100, 80, 0xFFFFFFFF);
    QImage mutablePhoto = photo;
    item.updateMaskFromImage({QPoint(0, 0), QPoint(99, 79), QPoint(100, 0), QPoint(0, 80), QPoint(-1, 5),
                              QPoint(5, -1)},
                             {}, &mutablePhoto);
    QCOMPARE(item.maskImage->pixel(0, 0), 0xDCFF0000);
    QCOMPARE(item.maskImage->pixel(99, 79), 0xDCFF0000);
    QImage expected = layerOf(100, 80, transparent);
    expected.setPixel(0, 0, 0xDCFF0000);
    expected.setPixel(99, 79, 0xDCFF0000);
    QCOMPARE(*item.maskImage, expected);
    QCOMPARE(mutablePhoto, photo); // the photo is only read

    // A photo smaller than the layer is not read beyond its edge.
    QImage small = layerOf(10, 10, 0xFFFFFFFF);
    item.updateMaskFromImage({QPoint(50, 50)}, {}, &small);
    QCOMPARE(item.maskImage->pixel(50, 50), transparent);
    item.updateMaskFromImage({QPoint(50, 50)}, {}, nullptr);
    QCOMPARE(item.maskImage->pixel(50, 50), transparent);
}

void TestColourLayer::colourisedValues_data()
{
    QTest::addColumn<QRgb>("brush");
    QTest::addColumn<QRgb>("photoPixel");
    QTest::addColumn<QRgb>("expected");

    QTest::newRow("red brush keeps brightness") << red << qRgb(100, 150, 50) << 0xDC960000u;
    QTest::newRow("dark red colours like red") << qRgb(128, 0, 0) << qRgb(100, 150, 50) << 0xDC960000u;
    QTest::newRow("brush alpha is ignored") << 0x10FF0000u << qRgb(100, 150, 50) << 0xDC960000u;
    QTest::newRow("white brush greys") << 0xFFFFFFFFu << qRgb(30, 200, 90) << 0xDCC8C8C8u;
    QTest::newRow("black brush greys") << 0xFF000000u << qRgb(30, 200, 90) << 0xDCC8C8C8u;
    QTest::newRow("grey brush greys") << qRgb(77, 77, 77) << qRgb(30, 200, 90) << 0xDCC8C8C8u;
    QTest::newRow("white photo pixel gives the brush at full value") << qRgb(0, 0, 128) << 0xFFFFFFFFu << 0xDC0000FFu;
    QTest::newRow("black photo pixel gives black") << qRgb(20, 200, 40) << 0xFF000000u << 0xDC000000u;
}

void TestColourLayer::colourisedValues()
{
    QFETCH(QRgb, brush);
    QFETCH(QRgb, photoPixel);
    QFETCH(QRgb, expected);

    CZefGraphicsImageMaskItem item;
    item.init(3, 3, red, transparent);
    item.setFg(brush);
    QImage photo = layerOf(3, 3, photoPixel);
    item.updateMaskFromImage({QPoint(1, 1)}, {}, &photo);
    QCOMPARE(item.maskImage->pixel(1, 1), expected);

    // Painting over with another colour recolours as if uncoloured before.
    item.setFg(0xFF00FF00);
    item.updateMaskFromImage({QPoint(1, 1)}, {}, &photo);
    item.setFg(brush);
    item.updateMaskFromImage({QPoint(1, 1)}, {}, &photo);
    QCOMPARE(item.maskImage->pixel(1, 1), expected);
}

void TestColourLayer::clearingPassRunsSecond()
{
    CZefGraphicsImageMaskItem item;
    item.init(4, 4, red, transparent);
    QImage photo = layerOf(4, 4, 0xFFFFFFFF);
    item.updateMaskFromImage({QPoint(1, 1), QPoint(2, 2)}, {QPoint(2, 2)}, &photo);
    QCOMPARE(item.maskImage->pixel(1, 1), 0xDCFF0000);
    QCOMPARE(item.maskImage->pixel(2, 2), transparent);
    item.updateMaskFromImage({}, {QPoint(1, 1), QPoint(9, 9)}, &photo);
    QCOMPARE(*item.maskImage, layerOf(4, 4, transparent));
}

void TestColourLayer::updateMaskWritesFlatColour()
{
    CZefGraphicsImageMaskItem item;
    item.init(4, 4, red, 0x01020304);
    item.updateMask({QPoint(0, 0), QPoint(3, 3), QPoint(4, 0)}, {QPoint(3, 3)});
    QCOMPARE(item.maskImage->pixel(0, 0), red);
    QCOMPARE(item.maskImage->pixel(3, 3), 0x01020304u);
}

void TestColourLayer::recreateMaskfromFgStartsFromBackground()
{
    CZefGraphicsImageMaskItem item;
    item.init(4, 4, red, transparent);
    item.updateMask({QPoint(0, 0)}, {});
    item.recreateMaskfromFg({});
    QCOMPARE(*item.maskImage, layerOf(4, 4, transparent));
    item.recreateMaskfromFg({QPoint(2, 1), QPoint(-1, 0)});
    QCOMPARE(item.fgpoints(), QList<QPoint>({QPoint(2, 1)}));
}

void TestColourLayer::tableMatchesToolkitForPhotoFormats_data()
{
    QTest::addColumn<QImage::Format>("format");
    QTest::newRow("RGB32") << QImage::Format_RGB32;
    QTest::newRow("ARGB32") << QImage::Format_ARGB32;
    QTest::newRow("ARGB32 premultiplied") << QImage::Format_ARGB32_Premultiplied;
    QTest::newRow("Grayscale8") << QImage::Format_Grayscale8;
    QTest::newRow("Grayscale16") << QImage::Format_Grayscale16;
    QTest::newRow("Indexed8") << QImage::Format_Indexed8;
    QTest::newRow("RGB888") << QImage::Format_RGB888;
    QTest::newRow("RGBA64") << QImage::Format_RGBA64;
}

void TestColourLayer::tableMatchesToolkitForPhotoFormats()
{
    QFETCH(QImage::Format, format);

    QRandomGenerator random(7);
    QImage source(64, 48, QImage::Format_ARGB32);
    for (int y = 0; y < source.height(); ++y)
        for (int x = 0; x < source.width(); ++x)
            source.setPixel(x, y, random.generate());
    // Every grey level and the extremes appear somewhere.
    for (int v = 0; v < 256; ++v)
        source.setPixel(v % 64, v / 64, qRgba(v, v, v, 255 - v));
    QImage photo = source.convertToFormat(format);
    if (format == QImage::Format_Indexed8) {
        // A colour table one entry short: index 255 reads as 0.
        photo.setColorCount(255);
    }

    const QList<QRgb> brushes = {red, 0xFF00FF00, 0xFF3366CC, 0xFFFFFFFF, 0xFF808080, qRgb(200, 120, 7)};
    QList<QPoint> all;
    for (int x = 0; x < photo.width(); ++x)
        for (int y = 0; y < photo.height(); ++y)
            all.append(QPoint(x, y));

    for (const QRgb brush : brushes) {
        CZefGraphicsImageMaskItem item;
        item.init(photo.width(), photo.height(), brush, transparent);
        item.updateMaskFromImage(all, {}, &photo);
        for (const QPoint &p : std::as_const(all)) {
            const QRgb expected = Reference::colourised(brush, photo, p);
            if (item.maskImage->pixel(p) != expected) {
                QFAIL(qPrintable(QStringLiteral("brush %1 at (%2, %3): %4, expected %5")
                                     .arg(brush, 8, 16)
                                     .arg(p.x())
                                     .arg(p.y())
                                     .arg(item.maskImage->pixel(p), 8, 16)
                                     .arg(expected, 8, 16)));
            }
        }
    }
}

void TestColourLayer::smoothingWorkedValues_data()
{
    QTest::addColumn<QImage>("layer");
    QTest::addColumn<QList<QPoint>>("points");
    QTest::addColumn<QList<QRgb>>("expected");

    const QRgb painted = qRgba(150, 0, 0, 220);

    QImage single = layerOf(7, 7, transparent);
    single.setPixel(3, 3, painted);
    QTest::newRow("single pixel") << single << QList<QPoint>{{3, 3}, {2, 3}, {4, 3}, {3, 2}, {3, 4}, {2, 2}, {4, 4}}
                                  << QList<QRgb>{qRgba(75, 0, 0, 110), qRgba(18, 0, 0, 27), qRgba(18, 0, 0, 27),
                                                 qRgba(18, 0, 0, 27),  qRgba(18, 0, 0, 27), transparent,
                                                 transparent};

    QImage boundary = layerOf(8, 6, transparent);
    for (int y = 0; y < 6; ++y)
        for (int x = 4; x < 8; ++x)
            boundary.setPixel(x, y, painted);
    QTest::newRow("vertical boundary")
        << boundary << QList<QPoint>{{4, 2}, {3, 2}, {5, 2}, {2, 2}, {4, 0}, {3, 5}}
        << QList<QRgb>{qRgba(129, 0, 0, 191), qRgba(18, 0, 0, 27), painted, transparent, painted, transparent};

    QImage border = layerOf(5, 5, transparent);
    border.setPixel(0, 2, painted);
    border.setPixel(4, 4, painted);
    QTest::newRow("border pixels stay as stored")
        << border << QList<QPoint>{{0, 2}, {4, 4}, {1, 2}} << QList<QRgb>{painted, painted, qRgba(18, 0, 0, 27)};
}

void TestColourLayer::smoothingWorkedValues()
{
    QFETCH(QImage, layer);
    QFETCH(QList<QPoint>, points);
    QFETCH(QList<QRgb>, expected);

    const QImage mine = EdgeSmoothing::smoothed(layer);
    const QImage reference = Reference::smoothedLayer(layer);
    for (int i = 0; i < points.size(); ++i) {
        QCOMPARE(mine.pixel(points[i]), expected[i]);
        QCOMPARE(reference.pixel(points[i]), expected[i]);
    }
    QCOMPARE(mine, reference);
}

void TestColourLayer::paintLeavesStoredLayerUnsmoothed()
{
    QRandomGenerator random(11);
    for (const QSize size : {QSize(2, 9), QSize(9, 2), QSize(3, 3), QSize(1, 5), QSize(20, 16)}) {
        CZefGraphicsImageMaskItem item;
        item.init(size.width(), size.height(), red, transparent);
        QCOMPARE(drawn(item, item.maskImage->rect()), premultiplied(*item.maskImage));

        QImage photo(size, QImage::Format_RGB32);
        for (int y = 0; y < size.height(); ++y)
            for (int x = 0; x < size.width(); ++x)
                photo.setPixel(x, y, random.generate());
        QList<QPoint> some;
        for (int y = 0; y < size.height(); ++y)
            for (int x = 0; x < size.width(); ++x)
                if (random.bounded(3) != 0)
                    some.append(QPoint(x, y));
        item.updateMaskFromImage(some, {}, &photo);
        const QImage stored = *item.maskImage;

        const QImage screen = drawn(item, item.maskImage->rect());
        QCOMPARE(*item.maskImage, stored);
        QCOMPARE(screen, premultiplied(Reference::smoothedLayer(stored)));
        if (size.width() < 3 || size.height() < 3)
            QCOMPARE(screen, premultiplied(stored)); // too small to have interior pixels
    }
}

void TestColourLayer::repaintCoversWhatChanged()
{
    // Records the area each paint is asked to draw.
    class RecordingLayer : public CZefGraphicsImageMaskItem
    {
    public:
        QList<QRectF> exposed;
        void paint(QPainter *painter, const QStyleOptionGraphicsItem *option, QWidget *widget) override
        {
            exposed.append(option->exposedRect);
            CZefGraphicsImageMaskItem::paint(painter, option, widget);
        }
    };

    // Lets whatever the first showing left to draw be drawn, then forgets it:
    // a marked area is asked for last, and everything pending is drawn by
    // the time it is.
    const auto settle = [](RecordingLayer *item) {
        item->exposed.clear();
        item->update(QRectF(49, 39, 1, 1));
        QTRY_VERIFY(!item->exposed.isEmpty() && item->exposed.constLast().contains(QRectF(49, 39, 1, 1)));
        item->exposed.clear();
    };
    QGraphicsScene scene;
    auto *item = new RecordingLayer;
    item->init(50, 40, red, transparent);
    scene.addItem(item);
    QGraphicsView view(&scene);
    view.setOptimizationFlag(QGraphicsView::DontAdjustForAntialiasing);
    view.resize(200, 200);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    QTRY_VERIFY(!item->exposed.isEmpty());
    settle(item);

    QImage photo = layerOf(50, 40, 0xFF808080);
    item->updateMaskFromImage({QPoint(10, 12), QPoint(14, 20), QPoint(60, 60)}, {}, &photo);
    QTRY_COMPARE(item->exposed.size(), 1);
    const QRectF changed(9, 11, 7, 11); // the points written, grown by one pixel
    QVERIFY2(item->exposed.at(0).contains(changed), "the repaint covers every pixel that changed");
    QVERIFY2(item->exposed.at(0).width() <= changed.width() + 2 && item->exposed.at(0).height() <= changed.height() + 2,
             "the repaint covers little more than what changed");

    // Nothing written, nothing to repaint; a new brush colour repaints
    // nothing. One pixel written after them shows whether they asked for
    // more: the scene draws every pending area with it.
    item->exposed.clear();
    item->updateMaskFromImage({QPoint(-5, 3)}, {}, &photo);
    item->setFg(0xFF00FF00);
    item->updateMaskFromImage({QPoint(40, 5)}, {}, &photo);
    QTRY_COMPARE(item->exposed.size(), 1);
    QVERIFY2(QRectF(38, 3, 5, 5).contains(item->exposed.at(0)), "only the one pixel written is repainted");

    // A fresh layer repaints as a whole.
    item->exposed.clear();
    item->init(30, 20, red, transparent);
    QTRY_COMPARE(item->exposed.size(), 1);
    QCOMPARE(item->exposed.at(0), QRectF(0, 0, 30, 20));
}

// Random layers and random sequences of strokes, each followed by a paint of a
// random exposed rectangle: every pixel drawn equals the reference's
// whole-layer result, and nothing outside the exposed rectangle is drawn.
void TestColourLayer::paintMatchesReferenceForRandomStrokes()
{
    QRandomGenerator random(2024);
    const QList<QSize> sizes = {QSize(1, 17), QSize(17, 1), QSize(2, 13),  QSize(13, 2), QSize(3, 3),
                                QSize(4, 4),  QSize(31, 7), QSize(64, 48), QSize(97, 61)};
    for (const QSize size : sizes) {
        for (int round = 0; round < 4; ++round) {
            CZefGraphicsImageMaskItem item;
            item.init(size.width(), size.height(), red, transparent);

            QImage noise(size, QImage::Format_RGB32);
            for (int y = 0; y < size.height(); ++y)
                for (int x = 0; x < size.width(); ++x)
                    noise.setPixel(x, y, random.generate());
            QImage flat = layerOf(size.width(), size.height(), 0xFFB0B0B0);

            for (int step = 0; step < 25; ++step) {
                // A random rectangle of points, thinned out at random.
                const int x0 = random.bounded(-2, size.width() + 1);
                const int y0 = random.bounded(-2, size.height() + 1);
                const int w = random.bounded(1, std::max(2, size.width() / 2 + 2));
                const int h = random.bounded(1, std::max(2, size.height() / 2 + 2));
                const int density = random.bounded(1, 4);
                QList<QPoint> points;
                for (int x = x0; x < x0 + w; ++x)
                    for (int y = y0; y < y0 + h; ++y)
                        if (random.bounded(density) == 0)
                            points.append(QPoint(x, y));

                switch (random.bounded(5)) {
                case 0: // texture from a noisy photo
                    item.setFg(random.generate() | 0xFF000000u);
                    item.updateMaskFromImage(points, {}, &noise);
                    break;
                case 1: // a uniform area
                    item.updateMaskFromImage(points, {}, &flat);
                    break;
                case 2: // a transparent hole
                    item.updateMaskFromImage({}, points, &noise);
                    break;
                case 3:
                    item.updateMask(points, {});
                    break;
                default: // a paint with nothing changed since the last one
                    break;
                }

                const int ex = random.bounded(0, size.width());
                const int ey = random.bounded(0, size.height());
                QRectF exposed(ex + random.bounded(1.0), ey + random.bounded(1.0),
                               random.bounded(0, size.width() - ex + 1) + random.bounded(1.0),
                               random.bounded(0, size.height() - ey + 1) + random.bounded(1.0));
                if (random.bounded(4) == 0)
                    exposed = item.boundingRect();

                const QRgb marker = 0x12345678;
                const QImage screen = drawn(item, exposed.toAlignedRect(), marker);
                const QImage expected = premultiplied(Reference::smoothedLayer(*item.maskImage));
                const QRect area = exposed.toAlignedRect() & item.maskImage->rect();
                for (int y = 0; y < size.height(); ++y) {
                    for (int x = 0; x < size.width(); ++x) {
                        const QRgb want = area.contains(x, y) ? expected.pixel(x, y) : marker;
                        if (screen.pixel(x, y) != want) {
                            QFAIL(qPrintable(QStringLiteral("%1x%2 round %3 step %4: pixel (%5, %6) "
                                                            "is %7, expected %8")
                                                 .arg(size.width())
                                                 .arg(size.height())
                                                 .arg(round)
                                                 .arg(step)
                                                 .arg(x)
                                                 .arg(y)
                                                 .arg(screen.pixel(x, y), 8, 16)
                                                 .arg(want, 8, 16)));
                        }
                    }
                }
            }
        }
    }
}

namespace {

// A layer of noise over a grey photo, uniform tiles and all.
struct NoisyLayer {
    NoisyLayer()
        : photo(150, 130, QImage::Format_Grayscale8)
    {
        QRandomGenerator random(11);
        for (int y = 0; y < photo.height(); ++y)
            for (int x = 0; x < photo.width(); ++x)
                photo.scanLine(y)[x] = uchar(random.bounded(256));
        layer.init(photo.width(), photo.height(), red, transparent);
        // Noise on the left, uniform tiles on the right.
        layer.rewrite([&random](QImage &pixels) {
            for (int y = 0; y < pixels.height(); ++y)
                for (int x = 0; x < 70; ++x)
                    pixels.setPixel(x, y, random.generate());
        });
    }
    QImage photo;
    ColourLayer layer;
};

} // namespace

void TestColourLayer::snapshotKeepsWhatWasThere_data()
{
    QTest::addColumn<QString>("write");
    // Every way the layer's pixels change.
    for (const char *write : {"spans", "points", "set points", "recreate", "rewrite", "stroke", "soft stroke", "erase",
                              "fill record", "undo", "new size", "layer gone", "shared pixels"})
        QTest::newRow(write) << write;
}

// A snapshot shows the layer as it was when taken, whatever is written after,
// while the layer itself shows the writes; a later snapshot has them.
void TestColourLayer::snapshotKeepsWhatWasThere()
{
    QFETCH(QString, write);
    auto s = std::make_unique<NoisyLayer>();
    ColourLayer &layer = s->layer;
    const QImage before = layer.image().copy();
    const std::shared_ptr<const LayerSnapshot> snapshot = layer.snapshot();
    // A row read before the writes, across tiles written and not.
    std::vector<quint32> row(size_t(before.width()));
    snapshot->readRow(64, 0, before.width() - 1, row.data());
    QVERIFY(std::equal(row.begin(), row.end(), reinterpret_cast<const quint32 *>(before.constScanLine(64))));

    const RowSpans spans{{5, 0, 149}, {64, 30, 100}, {129, 60, 61}};
    QImage shared;
    if (write == QLatin1String("spans")) {
        layer.paintSpans(spans, {{70, 0, 20}}, &s->photo);
    } else if (write == QLatin1String("points")) {
        layer.paintPoints({QPoint(3, 3), QPoint(140, 120)}, {QPoint(10, 64)}, &s->photo);
    } else if (write == QLatin1String("set points")) {
        layer.setPoints({QPoint(100, 100)}, {QPoint(0, 0)});
    } else if (write == QLatin1String("recreate")) {
        layer.recreateFromFg({QPoint(1, 1)});
    } else if (write == QLatin1String("rewrite")) {
        layer.rewrite([](QImage &pixels) { pixels.fill(0xFF102030); });
    } else if (write == QLatin1String("stroke") || write == QLatin1String("soft stroke")
               || write == QLatin1String("erase")) {
        StrokeStyle style;
        style.brush = 0xFF00FF00;
        style.erase = write == QLatin1String("erase");
        style.softness = write == QLatin1String("soft stroke") ? 60 : 0;
        layer.beginStroke(style, &s->photo, std::numeric_limits<qint64>::max());
        CoverageSpans shape(spans);
        layer.paintStroke(shape);
        layer.endStroke();
    } else if (write == QLatin1String("fill record")) {
        layer.beginRecording(std::numeric_limits<qint64>::max());
        layer.paintSpans(spans, {}, &s->photo);
        layer.endRecording();
    } else if (write == QLatin1String("undo")) {
        // A record taken before the snapshot, given back after it.
        LayerTileRecord record(before.size());
        QImage other = before.copy();
        other.fill(0xFF405060);
        record.capture(other, QRect(60, 60, 70, 70));
        layer.swapRecord(record);
    } else if (write == QLatin1String("new size")) {
        QVERIFY(layer.init(40, 30, red, transparent));
    } else if (write == QLatin1String("layer gone")) {
        s.reset();
    } else if (write == QLatin1String("shared pixels")) {
        // Someone else holds the pixels: the next write copies them away.
        shared = layer.image();
        layer.setPoints({QPoint(100, 100)}, {});
    }
    if (s && write != QLatin1String("new size"))
        QVERIFY(s->layer.image() != before); // the write did write
    QVERIFY(snapshot->isIntact());
    QCOMPARE(snapshot->size(), before.size());
    QCOMPARE(snapshot->image(), before);
    if (s && write != QLatin1String("new size"))
        QCOMPARE(s->layer.snapshot()->image(), s->layer.image());
}

// A snapshot read on another thread while the layer is painted on reads the
// layer as it was, row by row; run under the thread sanitizer, no race.
void TestColourLayer::snapshotReadWhilePainting()
{
    NoisyLayer s;
    const QImage before = s.layer.image().copy();
    const std::shared_ptr<const LayerSnapshot> snapshot = s.layer.snapshot();
    std::atomic<bool> stop{false};
    std::atomic<int> wrong{0};
    std::atomic<int> passes{0};
    std::thread reader([&] {
        std::vector<quint32> row(size_t(before.width()));
        while (!stop || passes == 0) {
            for (int y = 0; y < before.height(); ++y) {
                snapshot->readRow(y, 0, before.width() - 1, row.data());
                if (!std::equal(row.begin(), row.end(), reinterpret_cast<const quint32 *>(before.constScanLine(y))))
                    ++wrong;
            }
            ++passes;
        }
    });
    QRandomGenerator random(5);
    for (int i = 0; i < 300; ++i) {
        const int y = random.bounded(before.height());
        const int left = random.bounded(before.width());
        s.layer.paintSpans({{y, left, std::min(before.width() - 1, left + random.bounded(80))}}, {}, &s.photo);
    }
    stop = true;
    reader.join();
    QCOMPARE(wrong.load(), 0);
    QCOMPARE(snapshot->image(), before);
}

QTEST_MAIN(TestColourLayer)
#include "tst_colourlayer.moc"
