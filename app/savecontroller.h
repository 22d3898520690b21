#ifndef SAVECONTROLLER_H
#define SAVECONTROLLER_H

#include <QFuture>
#include <QObject>
#include <QPointer>
#include <QString>

class Document;
class QFileDialog;
class QWidget;

// Save and Save As for the window. The work is written in the format the
// file's name names: JPG and PNG give the coloured photo, .ora the whole work
// (photo, colour layer, marks). The document is taken as it stands (the
// photo shared, the colour layer as a snapshot that keeps only the tiles
// painted meanwhile) and encoded on a worker thread while the window goes on answering; a progress dialog shows
// when a save takes longer than a second. A failed save leaves any existing
// file as it was. The work counts as saved only when nothing changed while
// it was written.
//
// Remembers the file the work was last saved to (or the work file it was
// opened from): Save writes there, and the window's title names it.
class SaveController : public QObject
{
    Q_OBJECT

public:
    // Milliseconds a save runs before its progress shows.
    static constexpr int progressDelay = 1000;

    SaveController(Document *document, QWidget *window);
    // Waits for a save still running.
    ~SaveController() override;

    // Save: to the file last saved to, or as Save As where there is none.
    // True when the file was written.
    bool save();
    // Save As: asks for a name, then saves there.
    bool saveAs();
    // Saves to `fileName` as Save As does once its dialog is answered.
    bool saveTo(const QString &fileName);

    bool isSaving() const { return running; }
    // True, saying so in the status bar, while a save runs: what replaces
    // the document waits until it has ended.
    bool refuseWhileSaving();
    // The file last saved to, or the work file opened; empty otherwise.
    QString savedFile() const { return lastSaved; }
    // The name the window shows: the file last saved to, else the photo's.
    QString workName() const;
    // The window asked to close while a save runs: it is closed again once
    // the save has ended.
    void closeWhenDone() { closeAfter = true; }

    void setProgressDelay(int msec) { delay = msec; }
    // Tests: the next save fails with `reason` once it has done `permille`
    // thousandths, as a disk failing mid-way would.
    void failNextSaveAt(int permille, const QString &reason);

    // The Save As dialog's filters: JPG, PNG, then work files.
    static QString saveFilter();

signals:
    void message(const QString &text, int timeout);
    // The name workName() gives changed (a save or an opening).
    void nameChanged();
    // A save's copy of the work was taken and its writing began.
    void saveStarted(const QString &fileName);

private:
    QString askFileName();
    bool mayReplace(const QString &fileName);
    bool write(const QString &fileName);
    void documentOpened();

    Document *doc;
    QPointer<QWidget> window;
    QString lastSaved;
    bool running = false;
    bool closeAfter = false;
    int delay = progressDelay;
    int failPermille = -1;
    QString failReason;
    QFuture<void> pending;
};

#endif // SAVECONTROLLER_H
