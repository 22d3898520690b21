#ifndef FILLCONTROLLER_H
#define FILLCONTROLLER_H

#include "imaging/regionfill.h"

#include <QImage>
#include <QList>
#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QTimer>

#include <atomic>
#include <functional>
#include <memory>

class QGraphicsScene;
class CZefGraphicsView;
class Document;
class FillRunner;
class PreviewItem;
class PreviewRunner;

// The fill as the window offers it. While a marker tool is chosen, the region
// that Fill would colour shows as an outline over the photo, computed at the
// view's resolution off the UI thread after each drag of marks and each undo
// or redo of them; a preview that runs late is dropped and nothing is shown
// for it. Fill goes on from the preview of the very marks it fills, so that
// it colours what was shown, and computes afresh otherwise. Neither the
// preview nor a fill that fails writes the layer.
class FillController : public QObject
{
    Q_OBJECT

public:
    // How long a preview may take before it is dropped.
    static constexpr int previewTimeLimitMs = 1500;
    // The fewest pixels a preview has, however small the view.
    static constexpr qint64 minPreviewPixels = RegionFill::defaultCutPixels;
    // A view that shows more than this gets a quick preview of this many
    // pixels first, then the sharper one.
    static constexpr qint64 quickPreviewPixels = RegionFill::defaultCutPixels;

    // What a preview computes, on a worker: RegionFill::preview by default.
    using PreviewComputation = std::function<RegionFill::Preview(const QImage &photo, const QList<QPoint> &keepMarks,
                                                                 const QList<QPoint> &removeMarks, qint64 previewPixels,
                                                                 const std::atomic_bool *cancel)>;

    FillController(CZefGraphicsView *view, Document *document, FillRunner *runner, QObject *parent = nullptr);
    ~FillController() override;

    // Whether a marker tool is chosen: the preview shows only then.
    void setMarkerToolActive(bool active);
    bool isMarkerToolActive() const { return markerTool; }

    // The number of pixels a preview may have: the view's, within limits,
    // unless set (0 goes back to the view's).
    qint64 previewPixels() const;
    void setPreviewPixels(qint64 pixels) { fixedPreviewPixels = pixels; }
    void setPreviewComputation(PreviewComputation computation) { computePreview = std::move(computation); }

    PreviewRunner *previewRunner() const { return runner; }
    PreviewItem *previewItem() const { return item; }
    // The preview shown, or null.
    const RegionFill::Preview *preview() const { return shown ? &shown->preview : nullptr; }

    // The outline picture of a preview's region: its boundary two pixels
    // wide, a colour inside and a translucent dark line outside, its inside
    // faintly tinted, the rest clear.
    static QImage outline(const RegionFill::Preview &preview);

public slots:
    // Fills the region of the marks, as the Fill command.
    void fill();

signals:
    // For the status bar; an empty text clears it.
    void message(const QString &text, int timeout = 0);
    // What a fill said no longer holds (the marks or the history changed):
    // the status bar clears `text` if it still shows it.
    void messageOutdated(const QString &text);
    // The window was asked to close while a fill ran; it has stopped now.
    void closeRequested();

private:
    struct Shown {
        QList<QPoint> keep;
        QList<QPoint> remove;
        RegionFill::Preview preview;
    };

    // What carries a shown preview on to a sharper one, on a worker.
    using Sharpening = std::function<Shown(const std::atomic_bool *cancel)>;
    // Shows `made` on the UI thread, then asks for the sharper preview.
    static std::function<void()> delivery(QPointer<FillController> self, std::shared_ptr<const Shown> made,
                                          Sharpening sharpen);
    void scheduleRefresh();
    void refresh();
    // Says what the fill did, until the marks or the history change.
    void tell(const QString &text);
    void outdateMessage();
    void hidePreview();
    void forgetPreview();

    CZefGraphicsView *view;
    Document *doc;
    FillRunner *fillRunner;
    PreviewRunner *runner;
    void showPicture(const QImage &picture, qreal scale);

    PreviewItem *item;
    QPointer<QGraphicsScene> scene;
    bool everShown = false;
    QTimer refreshTimer;
    PreviewComputation computePreview;
    std::shared_ptr<const Shown> shown;
    QString told; // what the last fill said, while it holds
    // The marks of the preview requested last, so that a repeated request
    // for the same marks is not made.
    QList<QPoint> requestedKeep;
    QList<QPoint> requestedRemove;
    bool requested = false;
    // The preview a running fill refines, read on the fill's worker.
    std::shared_ptr<const RegionFill::Preview> refineFrom;
    qint64 fixedPreviewPixels = 0;
    bool markerTool = false;
};

#endif // FILLCONTROLLER_H
