#include "app/savecontroller.h"

#include "app/document.h"
#include "app/photofile.h"
#include "app/saveprogress.h"
#include "app/workfile.h"
#include "imaging/colourlayer.h"
#include "imaging/markset.h"

#include <QAbstractItemView>
#include <QDir>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QSettings>
#include <QTimer>
#include <QUndoStack>
#include <QtConcurrent/QtConcurrentRun>

#include <memory>
#include <utility>

namespace {

const QString currDirKey = QStringLiteral("CurrDir");
const QString currSaveDirKey = QStringLiteral("CurrSaveDir");
constexpr int nothingToSaveTimeout = 3000;
constexpr int savedTimeout = 5000;
constexpr int progressInterval = 100;

QString canonicalDirOf(const QString &fileName)
{
    return QFileInfo(fileName).dir().canonicalPath();
}

bool sameFile(const QString &a, const QString &b)
{
    const QString ca = QFileInfo(a).canonicalFilePath();
    return !ca.isEmpty() && ca == QFileInfo(b).canonicalFilePath();
}

// What the worker gives back.
struct Outcome {
    bool saved = false;
    QString error;
    QStringList notes;
};

} // namespace

SaveController::SaveController(Document *document, QWidget *window)
    : QObject(window)
    , doc(document)
    , window(window)
{
    connect(doc, &Document::opened, this, &SaveController::documentOpened);
}

SaveController::~SaveController()
{
    // The worker reads the document's images; they must outlive it.
    pending.waitForFinished();
}

QString SaveController::saveFilter()
{
    return tr("JPG Files (*.jpg);;PNG Files (*.png);;Brivela work (*.ora)");
}

QString SaveController::workName() const
{
    return lastSaved.isEmpty() ? doc->fileName() : lastSaved;
}

void SaveController::failNextSaveAt(int permille, const QString &reason)
{
    failPermille = permille;
    failReason = reason;
}

void SaveController::documentOpened()
{
    // A work file is saved back to itself; a photo asks where to first.
    lastSaved = doc->isWorkFile() ? doc->fileName() : QString();
    emit nameChanged();
}

bool SaveController::save()
{
    if (!running && doc->hasPhoto() && !lastSaved.isEmpty())
        return write(lastSaved);
    return saveAs();
}

bool SaveController::refuseWhileSaving()
{
    if (running)
        emit message(tr("Still saving: wait until the save has finished."), nothingToSaveTimeout);
    return running;
}

bool SaveController::saveAs()
{
    if (refuseWhileSaving())
        return false;
    if (!doc->hasPhoto()) {
        emit message(tr("Nothing to save yet"), nothingToSaveTimeout);
        return false;
    }
    const QString fileName = askFileName();
    if (fileName.isEmpty()) {
        emit message(tr("No file selected"), 0);
        return false;
    }
    return write(fileName);
}

bool SaveController::saveTo(const QString &fileName)
{
    if (running || !doc->hasPhoto())
        return false;
    return write(fileName);
}

QString SaveController::askFileName()
{
    const QString currDir = QSettings().value(currDirKey, QString()).toString();
    const QString startDir = QSettings().value(currSaveDirKey, currDir).toString();
    QFileDialog dialog(window, tr("Save Image"), startDir, saveFilter());
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    // Work saved as a work file before is offered as one again.
    if (WorkFile::hasWorkFileName(lastSaved))
        dialog.selectNameFilter(dialog.nameFilters().constLast());
    // A typed name without a suffix takes the selected filter's; the dialog
    // itself swaps the suggested name's suffix when the filter changes.
    dialog.setDefaultSuffix(PhotoFile::suffixOfFilter(dialog.selectedNameFilter()));
    connect(&dialog, &QFileDialog::filterSelected, &dialog,
            [&dialog](const QString &filter) { dialog.setDefaultSuffix(PhotoFile::suffixOfFilter(filter)); });
    dialog.selectFile(QFileInfo(workName()).completeBaseName() + QLatin1Char('.') + dialog.defaultSuffix());
    // The toolkit's own dialog returns what its list has selected before the
    // typed name, and selects the suggested file once the folder is listed:
    // unless the name field had the keyboard focus all along, a name typed
    // meanwhile would be dropped for the suggestion. Typing clears that
    // selection, so the typed name is the one saved to.
    if (auto *edit = dialog.findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))) {
        connect(edit, &QLineEdit::textEdited, &dialog, [&dialog] {
            const QList<QAbstractItemView *> views = dialog.findChildren<QAbstractItemView *>();
            for (QAbstractItemView *view : views) {
                if (view->selectionModel())
                    view->selectionModel()->clearSelection();
            }
        });
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    return dialog.selectedFiles().constFirst();
}

bool SaveController::mayReplace(const QString &fileName)
{
    // Only the opened photo's own file is worth a question of its own: the
    // photo's grey would be gone for good.
    if (doc->isWorkFile() || !sameFile(fileName, doc->fileName()) || sameFile(fileName, lastSaved))
        return true;
    QMessageBox question(QMessageBox::Warning, tr("Brivela"),
                         tr("Replace the original photo %1 with the coloured one?").arg(QFileInfo(fileName).fileName()),
                         QMessageBox::Yes | QMessageBox::Cancel, window);
    question.button(QMessageBox::Yes)->setText(tr("Replace"));
    question.setDefaultButton(QMessageBox::Cancel);
    return question.exec() == QMessageBox::Yes;
}

bool SaveController::write(const QString &fileName)
{
    if (running)
        return false;
    if (!mayReplace(fileName)) {
        emit message(tr("Not saved: the original photo is kept."), savedTimeout);
        return false;
    }

    // What is written is the work as it stands now; whatever changes while
    // it is written keeps the work unsaved.
    Document::Snapshot work = doc->snapshot();
    bool changed = false;
    bool reopened = false;
    QList<QMetaObject::Connection> watches;
    const auto note = [&changed] { changed = true; };
    watches << connect(doc->history(), &QUndoStack::indexChanged, this, note)
            << connect(doc->history(), &QUndoStack::cleanChanged, this, note)
            << connect(doc->colourLayer(), &ColourLayer::changed, this, note)
            << connect(doc->marks(), &MarkSet::added, this, note)
            << connect(doc->marks(), &MarkSet::removed, this, note)
            << connect(doc->marks(), &MarkSet::hiddenChanged, this, note)
            << connect(doc, &Document::opened, this, [&] { changed = reopened = true; });

    auto progress = std::make_shared<SaveProgress>();
    if (failPermille >= 0) {
        progress->failAt(failPermille, failReason);
        failPermille = -1;
    }
    auto outcome = std::make_shared<Outcome>();
    const bool asWork =
        WorkFile::hasWorkFileName(fileName) || (doc->isWorkFile() && sameFile(fileName, doc->fileName()));
    running = true;
    // The worker holds the only copies, and lets each go as soon as it can.
    pending = QtConcurrent::run([work = std::move(work), fileName, asWork, progress, outcome]() mutable {
        if (asWork) {
            WorkFile file(fileName);
            outcome->saved = file.writeReleasing(std::move(work.photo), std::move(work.original), std::move(work.layer),
                                                 work.marks, work.metadata, progress.get());
            outcome->error = file.errorString();
            outcome->notes = file.notes();
        } else {
            PhotoFile file(fileName);
            outcome->saved = file.writeReleasing(std::move(work.photo), std::move(work.original), std::move(work.layer),
                                                 work.metadata, progress.get());
            outcome->error = file.errorString();
            outcome->notes = file.notes();
        }
        work = Document::Snapshot();
    });
    emit saveStarted(fileName);

    // The window goes on answering: painting, scrolling, closing (which
    // waits for this save).
    QEventLoop loop;
    QFutureWatcher<void> watcher;
    connect(&watcher, &QFutureWatcher<void>::finished, &loop, &QEventLoop::quit);
    watcher.setFuture(pending);
    QPointer<QProgressDialog> dialog;
    QTimer shower;
    shower.setSingleShot(true);
    connect(&shower, &QTimer::timeout, this, [&] {
        dialog = new QProgressDialog(tr("Saving %1...").arg(QFileInfo(fileName).fileName()), tr("Cancel"), 0,
                                     SaveProgress::whole, window);
        dialog->setWindowTitle(tr("Brivela"));
        dialog->setAutoClose(false);
        dialog->setAutoReset(false);
        dialog->setMinimumDuration(0);
        dialog->setValue(progress->permille());
        connect(dialog, &QProgressDialog::canceled, this, [progress] { progress->cancel(); });
        dialog->show();
    });
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, this, [&] {
        if (dialog)
            dialog->setValue(progress->permille());
    });
    shower.start(delay);
    ticker.start(progressInterval);
    // Even a small save lets the window's events run: waiting for it here
    // would add to the longest time the window does not answer.
    if (!pending.isFinished())
        loop.exec();
    // An application quitting ends every loop early; the save still ends here.
    pending.waitForFinished();
    shower.stop();
    ticker.stop();
    delete dialog;
    for (const QMetaObject::Connection &watch : std::as_const(watches))
        disconnect(watch);
    running = false;

    // Where nothing of that name exists after the attempt, there is no
    // directory to remember and the next dialog starts at its default.
    const QFileInfo written(fileName);
    QSettings().setValue(currSaveDirKey, written.exists() ? canonicalDirOf(fileName) : QString());
    if (outcome->saved) {
        // The file holds the work as it was when the save began: whatever
        // changed since differs from it, even where undo went back to where
        // the work was saved or opened before.
        if (changed)
            doc->history()->resetClean();
        else
            doc->setSaved();
        if (!reopened && lastSaved != fileName) {
            lastSaved = fileName;
            emit nameChanged();
        }
        QString text = tr("Saved %1").arg(written.fileName());
        if (!outcome->notes.isEmpty())
            text += QLatin1Char(' ') + outcome->notes.join(QLatin1Char(' '));
        emit message(text, outcome->notes.isEmpty() ? savedTimeout : 0);
    } else {
        emit message(outcome->error, 0);
    }
    if (closeAfter && window) {
        closeAfter = false;
        QTimer::singleShot(0, window, &QWidget::close);
    }
    return outcome->saved;
}
