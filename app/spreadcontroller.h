#ifndef SPREADCONTROLLER_H
#define SPREADCONTROLLER_H

#include "imaging/colourspread.h"

#include <QImage>
#include <QList>
#include <QMutex>
#include <QObject>
#include <QPointer>

#include <memory>

class CZefGraphicsView;
class Document;
class PreviewItem;
class PreviewRunner;
class QAction;
class QGraphicsScene;
class QWidget;
class WorkRunner;

// The window's side of the colour spread. Spread colours computes the spread
// from the shown colour marks off the UI thread (WorkRunner: progress after a
// second, Esc cancels, input held off) and has the document write it into the
// layer's uncoloured pixels as one step. While the colour-marks tool is
// chosen, each change of the history (a drag of marks, an undo) asks for a
// preview at the view's resolution on a PreviewRunner, shown in a
// PreviewItem over the photo; the newest request wins, one that runs past
// the time limit is dropped, and a preview never writes the layer. Spread
// computes the same levels with the same marks, options and brightness, so it
// writes what the preview showed, refined to the photo's own resolution.
class SpreadController : public QObject
{
    Q_OBJECT

public:
    // How long a preview may take before it is dropped.
    static constexpr int previewTimeLimitMs = 1500;
    // The preview's place in the scene: that of the colour layer and marks.
    static constexpr qreal previewZ = 10;

    SpreadController(QWidget *window, CZefGraphicsView *view, Document *document, QAction *colourMarksTool);
    ~SpreadController() override;

    PreviewItem *previewItem() const { return item; }
    PreviewRunner *previewRunner() const { return previews; }
    WorkRunner *runner() const { return work; }
    // The largest preview, in pixels: the view's own size.
    qint64 previewPixels() const;

public slots:
    void spread();
    // Shows previews while the colour-marks tool is chosen; hides them else.
    void setPreviewing(bool on);

signals:
    // A line for the status bar; empty to clear it.
    void message(const QString &text);

private:
    // The photo's reduced brightness, made by the first preview on a worker
    // and kept for the photo; a new photo gets a new holder.
    struct BrightnessCache {
        QMutex mutex;
        std::shared_ptr<const ColourSpread::Brightness> brightness;
    };

    void requestPreview();
    // Shows a delivered preview, putting the item in the scene the first time.
    void show(const QImage &picture, qreal scale);
    void photoChanged();
    ColourSpread::Options options(qint64 maxPixels) const;

    QWidget *window;
    CZefGraphicsView *view;
    QPointer<Document> document;
    QAction *tool;
    WorkRunner *work;
    PreviewRunner *previews;
    PreviewItem *item;
    QPointer<QGraphicsScene> scene; // the item's, while it lasts
    bool inScene = false;
    std::shared_ptr<BrightnessCache> cache;
    bool previewing = false;
};

#endif // SPREADCONTROLLER_H
