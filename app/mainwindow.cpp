#include "app/mainwindow.h"

#include "app/busycursor.h"
#include "app/colourcontrols.h"
#include "app/document.h"
#include "app/fillcontroller.h"
#include "app/fillrunner.h"
#include "app/photofile.h"
#include "app/recoveryscheduler.h"
#include "app/referencedock.h"
#include "app/savecontroller.h"
#include "app/spreadcontroller.h"
#include "app/toolchooser.h"
#include "app/viewcommands.h"
#include "app/windowgeometry.h"
#include "canvas/czefgraphicsview.h"
#include "imaging/markset.h"
#include "ui/helpdialog.h"
#include "ui_mainwindow.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QColorDialog>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QImageReader>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QStatusBar>
#include <QUndoStack>
#include <QUrl>

const char *const MainWindow::websiteUrl = "http://www.fendrelsoftware.com/?from=brv10";

namespace {

const QString toolSizeKey = QStringLiteral("TOOLSIZE");
const QString currDirKey = QStringLiteral("CurrDir");

constexpr int nothingToSaveTimeout = 3000;

// The largest image, in megabytes of decoded pixels, that Open accepts. The
// toolkit's default (128 MB) refuses photos above about 32 megapixels. The
// program keeps about four copies of an open photo's size (photo, colour
// layer, its softened picture, and the composed image while saving), so this
// admits 100-megapixel photos, even at 16 bits per channel, without letting a
// corrupt or hostile header claim unbounded memory.
constexpr int imageAllocationLimitMb = 1024;

// The canonical directory of a file, which need not exist itself.
QString canonicalDirOf(const QString &fileName)
{
    return QFileInfo(fileName).dir().canonicalPath();
}

} // namespace

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
    , ui(new Ui_MainWindow)
{
    QImageReader::setAllocationLimit(imageAllocationLimitMb);

    ui->setupUi(this);
    doc = new Document(this);
    CZefGraphicsView *view = ui->graphicsView;
    view->setScene(&scene);
    view->setDocument(doc);

    QAction *undo = doc->history()->createUndoAction(this);
    undo->setObjectName(QStringLiteral("actionUndo"));
    undo->setShortcut(QKeySequence::Undo);
    QAction *redo = doc->history()->createRedoAction(this);
    redo->setObjectName(QStringLiteral("actionRedo"));
    redo->setShortcut(QKeySequence::Redo);
    ui->menuEdit->addAction(undo);
    ui->menuEdit->addAction(redo);

    connect(doc, &Document::modifiedChanged, this, &QWidget::setWindowModified);
    saver = new SaveController(doc, this);
    connect(saver, &SaveController::nameChanged, this, &MainWindow::showDocumentName);
    connect(saver, &SaveController::message, statusBar(), &QStatusBar::showMessage);
    connect(doc, &Document::historyLost, this, [this](const QString &why) { statusBar()->showMessage(why); });
    // A file dropped anywhere, the canvas included, reaches the window.
    setAcceptDrops(true);
    view->setAcceptDrops(false);
    view->viewport()->setAcceptDrops(false);

    // Shortcuts with no menu entry of their own act through the window.
    addAction(ui->actionZoom_In);
    addAction(ui->actionZoom_Out);
    setUpShortcuts();
    tools = new ToolChooser(view, doc, this);
    tools->addTool(ui->actionBrush, CZefGraphicsView::KeepBrush, "brush-tool", QKeySequence(Qt::Key_B));
    tools->addTool(ui->actionKeepMarks, CZefGraphicsView::KeepMarker, "keep-marks", QKeySequence(Qt::Key_K),
                   ui->actionFill);
    tools->addTool(ui->actionRemoveMarks, CZefGraphicsView::RemoveMarker, "remove-marks", QKeySequence(Qt::Key_R),
                   ui->actionFill);
    tools->addCommand(ui->actionFill, "fill", QKeySequence(Qt::Key_F));
    tools->addTool(ui->actionColourMarks, CZefGraphicsView::ColourMarker, "colour-marks", QKeySequence(Qt::Key_C),
                   ui->actionSpread);
    tools->addCommand(ui->actionSpread, "spread", QKeySequence(Qt::Key_S));
    auto *spreading = new SpreadController(this, view, doc, ui->actionColourMarks);
    connect(ui->actionSpread, &QAction::triggered, spreading, &SpreadController::spread);
    connect(spreading, &SpreadController::message, this,
            [this](const QString &text) { statusBar()->showMessage(text); });

    // Every start stores the slider's own start value; the stored one is never
    // read back. The canvas takes the size from the slider itself, so another
    // instance writing the store never changes this window's brush.
    QSettings().setValue(toolSizeKey, ui->horizontalSlider->value());
    view->setToolSize(ui->horizontalSlider->value());

    colours = new ColourControls(this, ui->mainToolBar,
                                 {ui->actionNaturalColour, ui->actionPickColour, ui->actionOpenReference}, view, doc);
    connect(colours, &ColourControls::message, this, [this](const QString &text) { statusBar()->showMessage(text); });

    fillRunner = new FillRunner(this);
    auto *fill = new FillController(view, doc, fillRunner, this);
    connect(ui->actionFill, &QAction::triggered, fill, &FillController::fill);
    connect(fill, &FillController::message, statusBar(), &QStatusBar::showMessage);
    connect(fill, &FillController::messageOutdated, this, [this](const QString &text) {
        if (statusBar()->currentMessage() == text)
            statusBar()->clearMessage();
    });
    connect(fill, &FillController::closeRequested, this, &QWidget::close);
    const auto markerChosen = [this, fill] {
        fill->setMarkerToolActive(ui->actionKeepMarks->isChecked() || ui->actionRemoveMarks->isChecked());
    };
    connect(ui->actionKeepMarks, &QAction::toggled, fill, markerChosen);
    connect(ui->actionRemoveMarks, &QAction::toggled, fill, markerChosen);
    recovery = new RecoveryScheduler(doc, this);
    connect(recovery, &RecoveryScheduler::writeFailed, this,
            [this](const QString &message) { statusBar()->showMessage(message); });
    new ViewCommands(this, ui);
    WindowGeometry::restore(this);
    // The reference photo is not kept: its dock keeps its place for the
    // next one, but an empty one would only take room from the photo.
    if (colours->referenceDock()->image().isNull())
        colours->referenceDock()->hide();
}

MainWindow::~MainWindow()
{
    delete saver; // waits for a save still running
    // The record goes with a normal end; the document's history goes with the
    // document, and nothing of this half-destroyed window may hear of it.
    delete recovery;
    disconnect(doc, nullptr, this, nullptr);
    delete doc;
    delete ui;
}

void MainWindow::changeEvent(QEvent *e)
{
    QMainWindow::changeEvent(e);
    if (e->type() == QEvent::LanguageChange) {
        ui->retranslateUi(this);
        showDocumentName(); // the form's title stands only while no photo is open
    }
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    if (saver->isSaving()) {
        // Closes once the file is complete.
        saver->closeWhenDone();
        event->ignore();
    } else if (maybeSave()) {
        // A normal end leaves nothing to recover.
        recovery->finish();
        WindowGeometry::save(this);
        event->accept();
    } else {
        event->ignore();
    }
}

void MainWindow::dragEnterEvent(QDragEnterEvent *event)
{
    if (!PhotoFile::droppedFile(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent *event)
{
    const QString fileName = PhotoFile::droppedFile(event->mimeData());
    if (fileName.isEmpty())
        return;
    event->acceptProposedAction();
    if (!saver->refuseWhileSaving() && maybeSave())
        openFile(fileName);
}

void MainWindow::setUpShortcuts()
{
    ui->actionOpen->setShortcuts(QKeySequence::Open);
    // Not every key scheme binds Save As (the generic one binds nothing).
    ui->actionSave->setShortcuts(ViewCommands::keysFor(QKeySequence::Save, {QKeySequence(Qt::CTRL | Qt::Key_S)}));
    ui->actionSave_As->setShortcuts(
        ViewCommands::keysFor(QKeySequence::SaveAs, {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S)}));
    ui->actionQuit->setShortcuts(QKeySequence::Quit);
    ui->actionIndex->setShortcuts(QKeySequence::HelpContents);
}

void MainWindow::showDocumentName()
{
    if (doc->hasPhoto()) {
        // An empty title lets the window show the file's name with its
        // modified marker.
        setWindowTitle(QString());
        setWindowFilePath(saver->workName());
    }
    setWindowModified(doc->isModified());
}

bool MainWindow::maybeSave()
{
    if (!doc->isModified())
        return true;
    QMessageBox question(QMessageBox::Warning, tr("Brivela"),
                         tr("Save changes to %1?").arg(QFileInfo(saver->workName()).fileName()),
                         QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, this);
    question.setDefaultButton(QMessageBox::Save);
    switch (question.exec()) {
    case QMessageBox::Save:
        return saver->save();
    case QMessageBox::Discard:
        recovery->discard();
        return true;
    default:
        return false;
    }
}

void MainWindow::on_actionOpen_triggered()
{
    if (saver->refuseWhileSaving() || !maybeSave())
        return;
    const QString startDir = QSettings().value(currDirKey, QString()).toString();
    const QString fileName = QFileDialog::getOpenFileName(this, tr("Open File"), startDir, PhotoFile::openFilter());
    if (fileName.isNull())
        return;

    // Remembered before reading, so that the next dialog starts here even when
    // this file turns out to be unreadable.
    QSettings().setValue(currDirKey, canonicalDirOf(fileName));
    openFile(fileName);
}

bool MainWindow::openFile(const QString &fileName)
{
    Document::OpenResult result = Document::OpenResult::Unreadable;
    {
        BusyCursor busy;
        result = doc->open(fileName);
    }
    switch (result) {
    case Document::OpenResult::Opened:
        ui->graphicsView->showWholeScene();
        // A new photo starts with the brush.
        tools->choose(CZefGraphicsView::KeepBrush);
        if (doc->openNotes().isEmpty())
            statusBar()->clearMessage();
        else
            statusBar()->showMessage(doc->openNotes().join(QLatin1Char(' ')));
        return true;
    case Document::OpenResult::OutOfMemory:
        statusBar()->showMessage(tr("Not enough memory to open %1, a photo of %2 x %3 pixels.")
                                     .arg(QDir::toNativeSeparators(fileName))
                                     .arg(doc->refusedSize().width())
                                     .arg(doc->refusedSize().height()));
        return false;
    case Document::OpenResult::Unreadable:
        break;
    }
    statusBar()->showMessage(doc->errorString());
    return false;
}

void MainWindow::updatemask(QList<QPoint> newfg, QList<QPoint> newbg)
{
    doc->paint(newfg, newbg);
}

void MainWindow::on_pushButtonColor_clicked()
{
    const QColor colour = QColorDialog::getColor(Qt::white, nullptr);
    if (!colour.isValid())
        return;

    const QRgb opaque = colour.rgb();
    colours->setBrushColour(opaque);

    const int slot = QColorDialog::customCount() > customColorCount ? customColorCount : 0;
    QColorDialog::setCustomColor(slot, QColor::fromRgb(opaque));
    ++customColorCount;
}

void MainWindow::on_horizontalSlider_valueChanged(int value)
{
    QSettings().setValue(toolSizeKey, value);
    ui->graphicsView->setToolSize(value);
}

void MainWindow::on_actionSave_triggered()
{
    saver->save();
}

void MainWindow::on_actionSave_As_triggered()
{
    saver->saveAs();
}

void MainWindow::on_actionAbout_triggered()
{
    QMessageBox::about(this, tr("Brivela 1.0"), tr("Made by Fendrel software,\nhttp://www.fendrelsoftware.com/"));
}

void MainWindow::on_actionIndex_triggered()
{
    auto *help = new HelpDialog(this);
    help->setAttribute(Qt::WA_DeleteOnClose);
    help->show();
}

void MainWindow::on_actionQuit_triggered()
{
    close();
}

void MainWindow::on_actionVisit_Website_triggered()
{
    openWebsite();
}

void MainWindow::on_pushButtonWebsite_clicked()
{
    openWebsite();
}

void MainWindow::openWebsite()
{
    QDesktopServices::openUrl(QUrl(QString::fromLatin1(websiteUrl)));
}

void MainWindow::setRecoveryInterval(int msec)
{
    recovery->setInterval(msec);
}

void MainWindow::offerRecovery()
{
    QStringList problems;
    const std::optional<RecoveryRecord> record = RecoveryStore::takeOrphan(&problems);
    if (!problems.isEmpty())
        statusBar()->showMessage(problems.join(QLatin1Char(' ')));
    if (!record)
        return;

    QMessageBox question(QMessageBox::Question, tr("Recover colouring"),
                         tr("Recover the unsaved colouring of %1 from %2?")
                             .arg(QFileInfo(record->photoPath).fileName(),
                                  QLocale().toString(record->time.toLocalTime(), QLocale::ShortFormat)),
                         QMessageBox::NoButton, this);
    QPushButton *recover = question.addButton(tr("Recover"), QMessageBox::AcceptRole);
    QPushButton *discard = question.addButton(tr("Discard"), QMessageBox::DestructiveRole);
    question.setDefaultButton(recover);
    question.exec();
    if (question.clickedButton() == discard) {
        RecoveryStore::discard(*record);
    } else if (question.clickedButton() == recover && openFile(record->photoPath)) {
        if (doc->restoreColouring(record->layer)) {
            recovery->adopt(*record);
        } else {
            statusBar()->showMessage(
                tr("Could not recover the colouring of %1.").arg(QDir::toNativeSeparators(record->photoPath)));
        }
    }
}
