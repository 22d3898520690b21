#ifndef BENCHSCENE_H
#define BENCHSCENE_H

#include "colourlayer/czefgraphicsimagemaskitem.h"

#include <QGraphicsPixmapItem>
#include <QGraphicsScene>
#include <QGraphicsView>

#include <memory>

// A photo with its colour layer in a scene, shown in a 1920 x 1080 view: the
// main window's canvas without the window around it. The left half of the
// photo is coloured before measuring.
class BenchScene
{
public:
    // `reference` selects the straightforward layer: per-pixel colourisation
    // through QColor, whole-item repaints, and whole-layer smoothing on every
    // paint.
    BenchScene(int width, int height, bool fitToView, bool reference);

    // One brush step: the disc of a size-40 brush at the next position on a
    // path over the coloured boundary, colourised, then the view repainted
    // until the layer has drawn what it asked for.
    void brushStep();

    QImage photo;

private:
    void colourise(const QList<QPoint> &points);

    QGraphicsScene scene;
    QGraphicsView view;
    CZefGraphicsImageMaskItem *layer = nullptr;
    bool reference;
    int step = 0;
};

QImage benchPhoto(int width, int height);

#endif // BENCHSCENE_H
