#ifndef MAINWINDOW_H
#define MAINWINDOW_H

#include <QGraphicsScene>
#include <QList>
#include <QMainWindow>
#include <QPoint>

class ColourControls;
class Document;
class FillRunner;
class RecoveryScheduler;
class SaveController;
class ToolChooser;
class Ui_MainWindow;

// The program's one window: its menus, tool bar and dialogs. It owns the scene
// the canvas shows and the document, which holds the opened photo, its colour
// layer, marks and history; the canvas shows the document and its tools edit
// it. Every user command is a slot here; most are bound by object name when
// the form is set up. The slots ask and answer the user; the document does
// the work.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    // Where Help > Visit Website and the Website button lead.
    static const char *const websiteUrl;

    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    // Asks what to do with unsaved work, if there is any: true when the
    // caller may go on (saved, discarded or nothing to lose), false when the
    // user cancelled or the save did not succeed.
    bool maybeSave();
    // Opens the named photo, as Open does after its dialog; an unreadable
    // file leaves the document as it was and says why in the status bar.
    bool openFile(const QString &fileName);

    // How often unsaved strokes are written to the recovery record (60 s).
    void setRecoveryInterval(int msec);

    Document *document() const { return doc; }
    ColourControls *colourControls() const { return colours; }
    SaveController *saveController() const { return saver; }

public slots:
    // Offers what a window that died left unsaved; called once the window
    // is shown at start.
    void offerRecovery();

protected:
    void changeEvent(QEvent *e) override;
    void closeEvent(QCloseEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private slots:
    void on_actionOpen_triggered();
    void updatemask(QList<QPoint> newfg, QList<QPoint> newbg);
    void on_pushButtonColor_clicked();
    void on_horizontalSlider_valueChanged(int value);
    void on_actionSave_triggered();
    void on_actionSave_As_triggered();
    void on_actionAbout_triggered();
    void on_actionIndex_triggered();
    void on_actionVisit_Website_triggered();
    void on_pushButtonWebsite_clicked();
    void on_actionQuit_triggered();

private:
    void setUpShortcuts();
    void showDocumentName();
    void openWebsite();

    Ui_MainWindow *ui;
    QGraphicsScene scene;
    Document *doc = nullptr;
    int customColorCount = 0;
    RecoveryScheduler *recovery = nullptr;
    FillRunner *fillRunner = nullptr;
    ToolChooser *tools = nullptr;
    ColourControls *colours = nullptr;
    SaveController *saver = nullptr;
};

#endif // MAINWINDOW_H
