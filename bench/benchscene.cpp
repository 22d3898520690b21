#include "benchscene.h"

#include "imaging/brushgeometry.h"
#include "referencelayer.h"

#include <QApplication>
#include <QPainter>
#include <QStyleOptionGraphicsItem>

namespace {

int paints = 0;

// The layer as first written: every paint smooths and draws the whole layer.
class ReferenceLayer : public CZefGraphicsImageMaskItem
{
public:
    void paint(QPainter *painter, const QStyleOptionGraphicsItem *, QWidget *) override
    {
        ++paints;
        painter->drawImage(0, 0, Reference::smoothedLayer(*maskImage));
    }
};

class CountingLayer : public CZefGraphicsImageMaskItem
{
public:
    void paint(QPainter *painter, const QStyleOptionGraphicsItem *option, QWidget *widget) override
    {
        ++paints;
        CZefGraphicsImageMaskItem::paint(painter, option, widget);
    }
};

constexpr int brushSize = 40;

} // namespace

QImage benchPhoto(int width, int height)
{
    // Texture in every pixel, as a real photo has.
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const int v = (x * 7 + y * 13 + ((x * y) >> 5)) & 0xFF;
            line[x] = qRgb(v, v, v);
        }
    }
    return image;
}

BenchScene::BenchScene(int width, int height, bool fitToView, bool reference)
    : photo(benchPhoto(width, height))
    , reference(reference)
{
    scene.addPixmap(QPixmap::fromImage(photo))->setZValue(5);
    layer = reference ? static_cast<CZefGraphicsImageMaskItem *>(new ReferenceLayer) : new CountingLayer;
    layer->init(width, height, 0xFFFF0000, 0);
    scene.addItem(layer);
    layer->setZValue(10);

    // The left half coloured, in bands so the point lists stay small.
    for (int y0 = 0; y0 < height; y0 += 64) {
        QList<QPoint> band;
        for (int x = 0; x < width / 2; ++x)
            for (int y = y0; y < std::min(height, y0 + 64); ++y)
                band.append(QPoint(x, y));
        layer->updateMaskFromImage(band, {}, &photo);
    }

    view.setScene(&scene);
    view.resize(1920, 1080);
    if (fitToView) {
        view.fitInView(QRectF(0, 0, width, height), Qt::KeepAspectRatio);
    } else {
        view.centerOn(width / 2.0, height / 2.0);
    }
    view.show();
    while (paints == 0)
        QApplication::processEvents();
    QApplication::processEvents();
}

void BenchScene::colourise(const QList<QPoint> &points)
{
    if (!reference) {
        layer->updateMaskFromImage(points, {}, &photo);
        return;
    }
    layer->layer()->rewrite([&](QImage &pixels) {
        for (const QPoint &p : points) {
            if (pixels.rect().contains(p))
                pixels.setPixel(p, Reference::colourised(0xFFFF0000, photo, p));
        }
    });
    layer->update();
}

void BenchScene::brushStep()
{
    // Up and down along the boundary between coloured and uncoloured.
    const QPointF centre = view.mapToScene(view.viewport()->rect().center());
    const QPoint viewPoint = view.mapFromScene(centre + QPointF(((step % 40) - 20) * 3.0, ((step % 97) - 48) * 5.0));
    ++step;

    const int half = brushSize / 2;
    const QPointF c = view.mapToScene(viewPoint);
    const BrushGeometry::Square square = BrushGeometry::square(view.mapToScene(viewPoint - QPoint(half, half)),
                                                               view.mapToScene(viewPoint + QPoint(half, half)));
    const QList<QPoint> disc = BrushGeometry::disc(QPoint(int(c.x()), int(c.y())), square, photo.rect());

    const int before = paints;
    colourise(disc);
    while (paints == before)
        QApplication::processEvents();
}
