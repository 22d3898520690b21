#include "app/mainwindow.h"

#include "canvas/cstrokecommand.h"
#include "app/photofile.h"
#include "canvas/czefgraphicsview.h"
#include "colourlayer/czefgraphicsimagemaskitem.h"
#include "ui/helpdialog.h"
#include "ui_mainwindow.h"

#include <QAction>
#include <QApplication>
#include <QColorDialog>
#include <QDesktopServices>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QGraphicsPixmapItem>
#include <QImageReader>
#include <QLocale>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QStatusBar>
#include <QUndoStack>
#include <QUrl>

const char *const MainWindow::websiteUrl = "http://www.fendrelsoftware.com/?from=brv10";

namespace {

const QString toolSizeKey = QStringLiteral("TOOLSIZE");
const QString currDirKey = QStringLiteral("CurrDir");
const QString currSaveDirKey = QStringLiteral("CurrSaveDir");

constexpr qreal zoomFactor = 1.2;
constexpr qreal photoZ = 5;
constexpr qreal colourLayerZ = 10;
constexpr int nothingToSaveTimeout = 3000;
constexpr int savedTimeout = 5000;
constexpr int recoveryIntervalMs = 60 * 1000;

// The largest image, in megabytes of decoded pixels, that Open accepts. The
// toolkit's default (128 MB) refuses photos above about 32 megapixels. The
// program keeps about four copies of an open photo's size (photo, colour
// layer, its softened picture, and the composed image while saving), so this
// admits 100-megapixel photos, even at 16 bits per channel, without letting a
// corrupt or hostile header claim unbounded memory.
constexpr int imageAllocationLimitMb = 1024;

// Shows the busy cursor for as long as it lives, whichever way a slow
// operation ends.
class BusyCursor
{
public:
    BusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~BusyCursor() { QApplication::restoreOverrideCursor(); }
    BusyCursor(const BusyCursor &) = delete;
    BusyCursor &operator=(const BusyCursor &) = delete;
};

// The canonical directory of a file, which need not exist itself.
QString canonicalDirOf(const QString &fileName)
{
    return QFileInfo(fileName).dir().canonicalPath();
}

// The one local file a drag carries, or the empty text.
QString droppedFile(const QMimeData *data)
{
    if (!data || !data->hasUrls() || data->urls().size() != 1 || !data->urls().constFirst().isLocalFile())
        return QString();
    return data->urls().constFirst().toLocalFile();
}

// The suffix a save-dialog filter such as "PNG Files (*.png)" gives a name.
QString suffixOfFilter(const QString &filter)
{
    const int star = filter.indexOf(QStringLiteral("*."));
    if (star < 0)
        return QString();
    const int end = filter.indexOf(QRegularExpression(QStringLiteral("[ )]")), star);
    return filter.mid(star + 2, end < 0 ? -1 : end - star - 2);
}

} // namespace

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
    , ui(new Ui_MainWindow)
{
    QImageReader::setAllocationLimit(imageAllocationLimitMb);

    ui->setupUi(this);
    CZefGraphicsView *view = ui->graphicsView;
    view->setScene(&scene);
    // Strokes arrive as row spans; the point lists of brushPressed stay
    // available to other receivers, but painting no longer needs them.
    connect(view, &CZefGraphicsView::brushSpans, this, &MainWindow::updatespans);
    connect(view, &CZefGraphicsView::strokeStarted, this, &MainWindow::beginStroke);
    connect(view, &CZefGraphicsView::strokeFinished, this, &MainWindow::endStroke);

    QAction *undo = view->undoStack->createUndoAction(this);
    undo->setObjectName(QStringLiteral("actionUndo"));
    undo->setShortcut(QKeySequence::Undo);
    QAction *redo = view->undoStack->createRedoAction(this);
    redo->setObjectName(QStringLiteral("actionRedo"));
    redo->setShortcut(QKeySequence::Redo);
    ui->menuEdit->addAction(undo);
    ui->menuEdit->addAction(redo);

    // A file dropped anywhere, the canvas included, reaches the window.
    setAcceptDrops(true);
    ui->graphicsView->setAcceptDrops(false);
    ui->graphicsView->viewport()->setAcceptDrops(false);

    // Every start stores the slider's own start value; the stored one is never
    // read back. The canvas takes the size from the slider itself, so another
    // instance writing the store never changes this window's brush.
    QSettings().setValue(toolSizeKey, ui->horizontalSlider->value());
    view->setToolSize(ui->horizontalSlider->value());

    // Connected after endStroke, so that the finished stroke is in the record.
    connect(view, &CZefGraphicsView::strokeFinished, this, [this] {
        recoveryStale = true;
        writeRecoveryRecord();
    });
    connect(view->undoStack, &QUndoStack::indexChanged, this, [this] { recoveryStale = true; });
    connect(view->undoStack, &QUndoStack::cleanChanged, this, [this](bool clean) {
        if (clean)
            removeRecoveryRecord();
    });
    connect(&recovery, &RecoveryStore::readyToWrite, this, &MainWindow::writeRecoveryRecord);
    connect(&recovery, &RecoveryStore::written, this, [this](bool ok) {
        if (ok)
            return;
        recoveryStale = true; // tried again at the next tick
        statusBar()->showMessage(tr("Could not write the recovery record to %1.")
                                     .arg(QDir::toNativeSeparators(RecoveryStore::directory())));
    });
    connect(&recoveryTimer, &QTimer::timeout, this, [this] {
        recoveryDue = true;
        writeRecoveryRecord();
    });
    recoveryTimer.start(recoveryIntervalMs);
}

MainWindow::~MainWindow()
{
    // The view and its history outlive this window's members.
    disconnect(ui->graphicsView->undoStack, nullptr, this, nullptr);
    removeRecoveryRecord();
    delete ui;
}

void MainWindow::changeEvent(QEvent *e)
{
    QMainWindow::changeEvent(e);
    if (e->type() == QEvent::LanguageChange)
        ui->retranslateUi(this);
}

void MainWindow::on_actionOpen_triggered()
{
    const QString startDir = QSettings().value(currDirKey, QString()).toString();
    const QString fileName =
        QFileDialog::getOpenFileName(this, tr("Open File"), startDir, PhotoFile::openFilter());
    if (fileName.isNull())
        return;

    // Remembered before reading, so that the next dialog starts here even when
    // this file turns out to be unreadable.
    QSettings().setValue(currDirKey, canonicalDirOf(fileName));
    openFile(fileName);
}

bool MainWindow::openFile(const QString &fileName)
{
    PhotoFile file(fileName);
    if (!openPhoto(file)) {
        statusBar()->showMessage(file.errorString());
        return false;
    }
    statusBar()->clearMessage();
    return true;
}

bool MainWindow::askToSaveChanges()
{
    return true;
}

void MainWindow::dragEnterEvent(QDragEnterEvent *event)
{
    if (!droppedFile(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent *event)
{
    const QString fileName = droppedFile(event->mimeData());
    if (fileName.isEmpty())
        return;
    event->acceptProposedAction();
    if (askToSaveChanges())
        openFile(fileName);
}

bool MainWindow::openPhoto(PhotoFile &file)
{
    BusyCursor busy;

    if (!file.read())
        return false;
    QImage image = file.takePhoto();
    photoOriginal = file.original();
    photoFileName = file.fileName();

    QPixmap pixmap = QPixmap::fromImage(image);
    // Where the pixmap keeps the photo's own format it holds the same pixels;
    // sharing them saves a whole copy of a possibly very large photo.
    QImage shown = pixmap.toImage();
    photo = shown.format() == image.format() ? shown : image;
    image = QImage();
    shown = QImage();

    if (photoItem)
        photoItem->setPixmap(pixmap);
    else
        photoItem = scene.addPixmap(pixmap);
    photoItem->setZValue(photoZ);

    // The history refers to the layer's pixels as they were; it ends here.
    ui->graphicsView->undoStack->clear();
    if (!colorLayer)
        colorLayer = new CZefGraphicsImageMaskItem();
    colorLayer->init(photo.width(), photo.height(), QColor(Qt::red).rgba(), QColor(Qt::transparent).rgba());
    if (colorLayer->scene() != &scene)
        scene.addItem(colorLayer);
    colorLayer->setZValue(colourLayerZ);

    ui->graphicsView->toolMode = CZefGraphicsView::KeepBrush;
    return true;
}

void MainWindow::updatemask(QList<QPoint> newfg, QList<QPoint> newbg)
{
    if (colorLayer)
        colorLayer->updateMaskFromImage(std::move(newfg), std::move(newbg), &photo);
}

void MainWindow::updatespans(RowSpans newfg, RowSpans newbg)
{
    if (colorLayer)
        colorLayer->updateSpansFromImage(newfg, newbg, &photo);
}

void MainWindow::beginStroke(bool erase)
{
    if (!colorLayer)
        return;
    strokeErases = erase;
    colorLayer->beginRecording(CStrokeCommand::historyBytes);
}

void MainWindow::endStroke()
{
    if (!colorLayer || !colorLayer->isRecording())
        return;
    LayerTileRecord record = colorLayer->endRecording();
    QUndoStack *history = ui->graphicsView->undoStack;
    if (record.overflowed()) {
        // Older steps would restore pixels this stroke painted over, so the
        // history ends here; the document stays modified.
        history->clear();
        history->resetClean();
        statusBar()->showMessage(tr("This stroke was too large to record: it cannot be undone."));
        return;
    }
    if (record.isEmpty())
        return; // nothing on the photo changed
    history->push(new CStrokeCommand(colorLayer, std::move(record), strokeErases));
    CStrokeCommand::limitHistory(history);
}

void MainWindow::on_pushButtonColor_clicked()
{
    const QColor colour = QColorDialog::getColor(Qt::white, nullptr);
    if (!colour.isValid())
        return;

    const QRgb opaque = colour.rgb();
    if (colorLayer)
        colorLayer->setFg(opaque);

    const int slot = QColorDialog::customCount() > customColorCount ? customColorCount : 0;
    QColorDialog::setCustomColor(slot, QColor::fromRgb(opaque));
    ++customColorCount;
}

void MainWindow::on_horizontalSlider_valueChanged(int value)
{
    QSettings().setValue(toolSizeKey, value);
    ui->graphicsView->setToolSize(value);
}

void MainWindow::on_pushButtonZoomPlus_clicked()
{
    ui->graphicsView->scale(zoomFactor, zoomFactor);
}

void MainWindow::on_pushButtonZoomMinus_clicked()
{
    ui->graphicsView->scale(1 / zoomFactor, 1 / zoomFactor);
}

void MainWindow::on_actionSave_As_triggered()
{
    if (photo.isNull()) {
        statusBar()->showMessage(tr("Nothing to save yet"), nothingToSaveTimeout);
        return;
    }

    const QString currDir = QSettings().value(currDirKey, QString()).toString();
    const QString startDir = QSettings().value(currSaveDirKey, currDir).toString();
    QFileDialog dialog(this, tr("Save Image"), startDir, tr("JPG Files (*.jpg);;PNG Files (*.png)"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    // A typed name without a suffix takes the selected filter's; the dialog
    // itself swaps the suggested name's suffix when the filter changes.
    dialog.setDefaultSuffix(suffixOfFilter(dialog.selectedNameFilter()));
    connect(&dialog, &QFileDialog::filterSelected, &dialog,
            [&dialog](const QString &filter) { dialog.setDefaultSuffix(suffixOfFilter(filter)); });
    dialog.selectFile(QFileInfo(photoFileName).completeBaseName() + QLatin1Char('.') + dialog.defaultSuffix());
    const QString fileName = dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()
        ? dialog.selectedFiles().constFirst()
        : QString();
    if (fileName.isEmpty()) {
        statusBar()->showMessage(tr("No file selected"));
        return;
    }

    PhotoFile file(fileName);
    const bool saved = savePhoto(file);

    // Where nothing of that name exists after the attempt, there is no
    // directory to remember and the next dialog starts at its default.
    const QFileInfo written(fileName);
    QSettings().setValue(currSaveDirKey, written.exists() ? canonicalDirOf(fileName) : QString());

    if (!saved) {
        statusBar()->showMessage(file.errorString());
        return;
    }
    removeRecoveryRecord();
    statusBar()->showMessage(tr("Saved %1").arg(written.fileName()), savedTimeout);
}

bool MainWindow::savePhoto(PhotoFile &file) const
{
    BusyCursor busy;
    return file.write(photo, photoOriginal, *colorLayer->maskImage);
}

void MainWindow::on_actionAbout_triggered()
{
    QMessageBox::about(this, tr("Brivela 1.0"),
                       tr("Made by Fendrel software,\nhttp://www.fendrelsoftware.com/"));
}

void MainWindow::on_actionIndex_triggered()
{
    (new HelpDialog(this))->show();
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
    recoveryTimer.start(msec);
}

void MainWindow::writeRecoveryRecord()
{
    const CZefGraphicsView *view = ui->graphicsView;
    if (!recoveryDue || !recoveryStale || !colorLayer || view->undoStack->isClean())
        return;
    // Never half a stroke: the end of the stroke tries again.
    if (view->isStroking() || QApplication::mouseButtons() != Qt::NoButton)
        return;
    if (recovery.write(photoFileName, *colorLayer->maskImage))
        recoveryDue = recoveryStale = false;
}

void MainWindow::removeRecoveryRecord()
{
    recovery.remove();
    recoveryDue = false;
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
        if (restoreLayer(record->layer)) {
            // Kept until this window writes its own or the work is saved.
            recovery.adopt(*record);
            recoveryStale = false;
        } else {
            statusBar()->showMessage(tr("Could not recover the colouring of %1.")
                                         .arg(QDir::toNativeSeparators(record->photoPath)));
        }
    }
}

bool MainWindow::restoreLayer(const QImage &layer)
{
    if (!colorLayer || colorLayer->maskImage->size() != layer.size())
        return false;
    // Put on the layer as one undoable step, so the document is unsaved and
    // Undo goes back to the uncoloured photo.
    LayerTileRecord tiles(layer.size());
    tiles.capture(layer, layer.rect());
    if (tiles.overflowed())
        return false;
    colorLayer->swapRecord(tiles);
    auto *step = new CStrokeCommand(colorLayer, std::move(tiles), false);
    step->setText(tr("recovery"));
    ui->graphicsView->undoStack->push(step);
    return true;
}
