#ifndef MAINWINDOW_H
#define MAINWINDOW_H

#include "app/recoverystore.h"
#include "canvas/rowspan.h"

#include <QGraphicsScene>
#include <QImage>
#include <QList>
#include <QMainWindow>
#include <QPoint>
#include <QTimer>

class CZefGraphicsImageMaskItem;
class PhotoFile;
class QGraphicsPixmapItem;
class Ui_MainWindow;

// The program's one window. It owns the document: the scene the canvas shows,
// the opened photo, and (through the scene) the photo's pixmap item and the
// colour layer above it. Every user command is a slot here; most are bound by
// object name when the form is set up.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    // Where Help > Visit Website and the Website button lead.
    static const char *const websiteUrl;

    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    // Opens the photo in fileName, as Open does after its dialog; an
    // unreadable file leaves the document as it was and says why in the
    // status bar.
    bool openFile(const QString &fileName);

    // How often unsaved strokes are written to the recovery record (60 s).
    void setRecoveryInterval(int msec);

public slots:
    // Offers what a window that died left unsaved; called once the window
    // is shown at start.
    void offerRecovery();

protected:
    void changeEvent(QEvent *e) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private slots:
    void on_actionOpen_triggered();
    void updatemask(QList<QPoint> newfg, QList<QPoint> newbg);
    void on_pushButtonColor_clicked();
    void on_horizontalSlider_valueChanged(int value);
    void on_pushButtonZoomPlus_clicked();
    void on_pushButtonZoomMinus_clicked();
    void on_actionSave_As_triggered();
    void on_actionAbout_triggered();
    void on_actionIndex_triggered();
    void on_actionVisit_Website_triggered();
    void on_pushButtonWebsite_clicked();

    void updatespans(RowSpans newfg, RowSpans newbg);
    void beginStroke(bool erase);
    void endStroke();

private:
    // Shows the photo and gives it a fresh colour layer; false, with the
    // reason in `file`, if the file holds no photo that can be opened.
    bool openPhoto(PhotoFile &file);
    // Writes the photo with its colouring; false, with the reason in `file`,
    // if nothing was written.
    bool savePhoto(PhotoFile &file) const;
    // Asks about unsaved work before the document is replaced; false when
    // the user chose to keep it.
    bool askToSaveChanges();
    void openWebsite();

    // Crash recovery: the record follows the unsaved strokes.
    void writeRecoveryRecord();
    void removeRecoveryRecord();
    bool restoreLayer(const QImage &layer);

    Ui_MainWindow *ui;
    QGraphicsPixmapItem *photoItem = nullptr;
    QGraphicsScene scene;
    QImage photo;
    // The photo's own pixels where they are deeper than 8 bits per channel,
    // for a 16-bit save; null otherwise.
    QImage photoOriginal;
    QString photoFileName;
    CZefGraphicsImageMaskItem *colorLayer = nullptr;
    int customColorCount = 0;
    bool strokeErases = false;

    RecoveryStore recovery;
    QTimer recoveryTimer;
    bool recoveryDue = false;   // a tick came and found strokes to record
    bool recoveryStale = false; // the layer changed since the last record
};

#endif // MAINWINDOW_H
