#ifndef CANVASDOCUMENT_H
#define CANVASDOCUMENT_H

#include "imaging/coveragespans.h"
#include "imaging/rowspan.h"

#include <QImage>
#include <QObject>
#include <QPixmap>

class ColourLayer;
class MarkSet;
class QUndoCommand;
class QUndoStack;

// The open document as the canvas sees it: what it shows (the photo, its
// colour layer, the marks) and the edits its tools make. The application's
// document implements it; the canvas never creates or trims the history.
class CanvasDocument : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    virtual bool hasPhoto() const = 0;
    virtual const QImage &photo() const = 0;
    // The photo as the screen shows it, sharing its pixels where it can.
    virtual QPixmap photoPixmap() const = 0;
    virtual ColourLayer *colourLayer() const = 0;
    virtual MarkSet *marks() const = 0;
    virtual QUndoStack *history() const = 0;

    // A stroke, press to release: what the brush covers is coloured
    // (`newfg`) or cleared (`newbg`) as it goes, and the whole stroke becomes
    // one step of the history.
    virtual void beginStroke(bool erase) = 0;
    virtual void paintSpans(const RowSpans &newfg, const RowSpans &newbg) = 0;
    // A soft brush's shape, each pixel with its coverage, laid the way the
    // stroke began (colouring or clearing).
    virtual void paintShape(const CoverageSpans &shape) = 0;
    virtual void endStroke() = 0;
    // How far the brush feathers its rim, 0 (hard) to 100 %.
    virtual int strokeSoftness() const = 0;
    virtual bool isStroking() const = 0;

    // Adds a step the canvas made (a drag of marks) to the history; it has
    // already been carried out.
    virtual void push(QUndoCommand *step) = 0;

signals:
    // A new photo (with a fresh layer and no marks) replaced the old one.
    void photoChanged();
};

#endif // CANVASDOCUMENT_H
