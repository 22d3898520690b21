#include "app/document.h"
#include "app/mainwindow.h"
#include "app/markscodec.h"
#include "app/photofile.h"
#include "app/savecontroller.h"
#include "app/workfile.h"
#include "filesamples.h"
#include "imaging/colourlayer.h"
#include "imaging/markset.h"
#include "testsupport.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QBuffer>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QImageReader>
#include <QLineEdit>

#include <QMessageBox>
#include <QProgressDialog>
#include <QRandomGenerator>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QUndoStack>
#include <QtTest>

#include <optional>

#include <algorithm>
#include <atomic>
#include <thread>
#include <utility>
#include <vector>

namespace {

using FileSamples::png;
using FileSamples::zipOf;

QByteArray readFile(const QString &name)
{
    QFile file(name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString &name, const QByteArray &bytes)
{
    QFile file(name);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

// A photo of the kind named: 8-bit grey, colour, or 16-bit grey.
QImage photoOfKind(const QString &kind, const QSize &size)
{
    const QImage::Format format = kind == QLatin1String("rgb") ? QImage::Format_RGB32
        : kind == QLatin1String("grey16")                      ? QImage::Format_Grayscale16
                                                               : QImage::Format_Grayscale8;
    QImage image(size, format);
    for (int y = 0; y < size.height(); ++y) {
        for (int x = 0; x < size.width(); ++x) {
            if (format == QImage::Format_Grayscale16)
                reinterpret_cast<quint16 *>(image.scanLine(y))[x] = quint16(x * 997 + y * 131);
            else
                image.setPixel(x, y, qRgb(x * 3, y * 5, (x + y) & 255));
        }
    }
    return image;
}

QString writePhoto(const QTemporaryDir &dir, const QString &name, const QImage &image)
{
    const QString fileName = dir.filePath(name);
    if (!image.save(fileName))
        qWarning("cannot write %s", qPrintable(fileName));
    return fileName;
}

// A mark as compared: everything but its number and the step that hid it.
struct MarkView {
    Mark::Kind kind;
    QRectF rect;
    QRgb colour;
    bool hidden;
    friend bool operator==(const MarkView &a, const MarkView &b)
    {
        return a.kind == b.kind && a.rect == b.rect && a.colour == b.colour && a.hidden == b.hidden;
    }
};

QList<MarkView> viewsOf(const MarkSet *marks)
{
    QList<MarkView> views;
    for (const Mark &mark : marks->all())
        views.append({mark.kind, mark.rect, mark.colour, mark.isHidden()});
    return views;
}

// The main window with a photo open, driven through its actions.
struct Session {
    Session()
    {
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
    }
    Document *doc() const { return window.document(); }
    SaveController *saver() const { return window.saveController(); }
    void trigger(const char *action) { window.findChild<QAction *>(QString::fromLatin1(action))->trigger(); }
    void saveAs(const QString &fileName)
    {
        TestSupport::answerFileDialog(fileName, QFile::exists(fileName));
        trigger("actionSave_As");
    }
    // One stroke of the brush over a row of pixels, as one step.
    void stroke(int y, int left, int right, bool erase = false)
    {
        doc()->beginStroke(erase);
        const RowSpans spans{{y, left, right}};
        doc()->paintSpans(erase ? RowSpans() : spans, erase ? spans : RowSpans());
        doc()->endStroke();
    }
    QString status() const { return window.statusBar()->currentMessage(); }

    MainWindow window;
};

// Fails the test when a modal dialog opens before the returned guard is
// checked; the dialog is cancelled.
struct NoDialog {
    NoDialog()
    {
        QTimer::singleShot(0, [this] {
            if (QWidget *modal = QApplication::activeModalWidget()) {
                seen = QString::fromLatin1(modal->metaObject()->className());
                if (auto *dialog = qobject_cast<QDialog *>(modal))
                    dialog->reject();
            }
        });
    }
    QString seen;
};

} // namespace

class TestSaving : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void workFileRoundTrip_data();
    void workFileRoundTrip();
    void foreignWorkFileOpens();
    void refusedWorkFileKeepsThePhoto_data();
    void refusedWorkFileKeepsThePhoto();
    void saveWritesWhereLastSaved_data();
    void saveWritesWhereLastSaved();
    void saveWithoutEarlierSaveAsks();
    void saveAsOffersTheWorkFileAgain_data();
    void saveAsOffersTheWorkFileAgain();
    void unsavedQuestionSavesWhereLastSaved();
    void replacingTheOriginalAsks_data();
    void replacingTheOriginalAsks();
    void failureMidwayKeepsTheFile_data();
    void failureMidwayKeepsTheFile();
    void paintingDuringASaveStaysUnsaved_data();
    void paintingDuringASaveStaysUnsaved();
    void fileHoldsTheWorkAsSaveWasChosen_data();
    void fileHoldsTheWorkAsSaveWasChosen();
    void closingDuringASaveWaits();
    void commandsDuringASaveWait();
    void windowAnswersDuringABigSave();
    void typedNameKeptWhileTheFolderLoads();
    void saveLetsGoOfTheLayerEarly_data();
    void saveLetsGoOfTheLayerEarly();
    void metadataSurvivesTheWindow_data();
    void metadataSurvivesTheWindow();
    void marksCodecRefusesDamage_data();
    void marksCodecRefusesDamage();

private:
    QTemporaryDir dir;
};

void TestSaving::initTestCase()
{
    TestSupport::nameApplication();
    QVERIFY(dir.isValid());
}

void TestSaving::workFileRoundTrip_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("8-bit grey") << "grey";
    QTest::newRow("rgb") << "rgb";
    QTest::newRow("16-bit grey") << "grey16";
}

// A work file gives back the photo at its depth, the colouring and every
// mark, hidden ones too; the eraser brings the photo back, and Save writes
// the work file again without asking.
void TestSaving::workFileRoundTrip()
{
    QFETCH(QString, kind);
    const QString photo = writePhoto(dir, kind + QStringLiteral(".png"), photoOfKind(kind, QSize(64, 48)));
    const QString work = dir.filePath(kind + QStringLiteral("-work.ora"));
    QFile::remove(work);

    Session first;
    QVERIFY(first.window.openFile(photo));
    Document *doc = first.doc();
    first.stroke(10, 5, 40);
    doc->marks()->add(Mark::Keep, QRectF(3, 4, 5, 5));
    doc->marks()->add(Mark::Remove, QRectF(30.5, 20.25, 5, 5));
    QVERIFY(doc->fill({{30, 2, 20}, {31, 2, 20}})); // uses up both marks
    doc->marks()->add(Mark::Colour, QRectF(50, 40, 5, 5), qRgb(12, 200, 99));
    doc->marks()->add(Mark::Keep, QRectF(60, 44, 5, 5));
    const QList<MarkView> marks = viewsOf(doc->marks());
    QCOMPARE(std::count_if(marks.begin(), marks.end(), [](const MarkView &m) { return m.hidden; }), 2);

    first.saveAs(work);
    QCOMPARE(first.status(), QStringLiteral("Saved ") + QFileInfo(work).fileName());
    QCOMPARE(first.window.windowTitle(), QFileInfo(work).fileName() + QStringLiteral("[*]"));
    QVERIFY(!first.window.isWindowModified());

    Session second;
    QVERIFY2(second.window.openFile(work), qPrintable(second.status()));
    Document *back = second.doc();
    QCOMPARE(back->photo(), doc->photo());
    QCOMPARE(back->snapshot().original, doc->snapshot().original);
    QCOMPARE(back->colourLayer()->image(), doc->colourLayer()->image());
    QCOMPARE(viewsOf(back->marks()), marks);
    QVERIFY(back->isWorkFile());
    QVERIFY(!second.window.isWindowModified());
    QCOMPARE(back->history()->count(), 0);
    QCOMPARE(second.window.windowTitle(), QFileInfo(work).fileName() + QStringLiteral("[*]"));

    // The eraser takes the colour off: the photo shows again.
    QVERIFY(qAlpha(back->colourLayer()->image().pixel(12, 10)) != 0);
    second.stroke(10, 0, 63, true);
    QCOMPARE(qAlpha(back->colourLayer()->image().pixel(12, 10)), 0);

    NoDialog none;
    second.trigger("actionSave");
    QCOMPARE(none.seen, QString());
    QVERIFY(!second.window.isWindowModified());
    WorkFile again(work);
    QVERIFY(again.read());
    QCOMPARE(again.layer(), back->colourLayer()->image());
}

// Another program's file: the bottom layer is the photo, the rest the
// colouring; Save then writes it back as this program's own work file.
void TestSaving::foreignWorkFileOpens()
{
    const QImage bottom = photoOfKind(QStringLiteral("grey"), QSize(20, 10));
    QImage top(20, 10, QImage::Format_ARGB32);
    top.fill(Qt::transparent);
    top.setPixel(3, 4, qRgba(200, 10, 10, 255));
    const QString name = dir.filePath(QStringLiteral("foreign.ora"));
    writeFile(name,
              zipOf({{"mimetype", "image/openraster"},
                     {"stack.xml",
                      "<?xml version='1.0'?><image w=\"20\" h=\"10\"><stack>"
                      "<layer name=\"paint\" src=\"data/top.png\"/>"
                      "<layer name=\"photo\" src=\"data/bottom.png\"/></stack></image>"},
                     {"data/top.png", png(top)},
                     {"data/bottom.png", png(bottom)}}));
    Session s;
    QVERIFY2(s.window.openFile(name), qPrintable(s.status()));
    QCOMPARE(s.doc()->photo().convertToFormat(QImage::Format_Grayscale8), bottom);
    QCOMPARE(s.doc()->colourLayer()->image().pixel(3, 4), qRgba(200, 10, 10, 255));
    QCOMPARE(qAlpha(s.doc()->colourLayer()->image().pixel(4, 4)), 0);
    QVERIFY(s.doc()->marks()->isEmpty());
    QCOMPARE(s.window.windowTitle(), QStringLiteral("foreign.ora[*]"));

    s.stroke(8, 0, 5);
    NoDialog none;
    s.trigger("actionSave");
    QCOMPARE(none.seen, QString());
    WorkFile own(name);
    QVERIFY(own.read());
    QVERIFY(!own.isForeign());
    QCOMPARE(own.layer(), s.doc()->colourLayer()->image());
}

void TestSaving::refusedWorkFileKeepsThePhoto_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("reason");
    QTest::newRow("not a zip") << QByteArray("plain text, no archive") << "";
    QTest::newRow("no stack") << zipOf({{"mimetype", "image/openraster"}}) << "stack.xml";
    const QImage grey = photoOfKind(QStringLiteral("grey"), QSize(8, 8));
    QImage layer(8, 8, QImage::Format_ARGB32);
    layer.fill(Qt::transparent);
    // This program's own entries, with marks that are no marks.
    WorkFile file(dir.filePath(QStringLiteral("bad-marks-source.ora")));
    QVERIFY(file.write(grey, QImage(), layer, QByteArray("BRIVELA-MARKS\x01"), PhotoMetadata()));
    QTest::newRow("damaged marks") << readFile(file.fileName()) << "its marks are";
}

void TestSaving::refusedWorkFileKeepsThePhoto()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, reason);
    const QString photo =
        writePhoto(dir, QStringLiteral("kept.png"), photoOfKind(QStringLiteral("rgb"), QSize(16, 12)));
    const QString bad = dir.filePath(QStringLiteral("refused.ora"));
    writeFile(bad, bytes);
    Session s;
    QVERIFY(s.window.openFile(photo));
    s.stroke(2, 1, 9);
    const QImage layer = s.doc()->colourLayer()->image().copy();

    QVERIFY(!s.window.openFile(bad));
    QVERIFY2(s.status().startsWith(QStringLiteral("Could not open ") + QDir::toNativeSeparators(bad)),
             qPrintable(s.status()));
    QVERIFY2(s.status().contains(reason), qPrintable(s.status()));
    QCOMPARE(s.doc()->fileName(), photo);
    QCOMPARE(s.doc()->colourLayer()->image(), layer);
    QCOMPARE(s.window.windowTitle(), QStringLiteral("kept.png[*]"));
    QVERIFY(s.window.isWindowModified());
}

void TestSaving::saveAsOffersTheWorkFileAgain_data()
{
    QTest::addColumn<bool>("reopen");
    QTest::newRow("right after saving a work file") << false;
    QTest::newRow("with a work file opened") << true;
}

// Work kept in a work file is offered as one again, so that the next Save As
// does not flatten it into a photo by default.
void TestSaving::saveAsOffersTheWorkFileAgain()
{
    QFETCH(bool, reopen);
    const QString photo =
        writePhoto(dir, QStringLiteral("offered.png"), photoOfKind(QStringLiteral("rgb"), QSize(40, 30)));
    const QString work = dir.filePath(QStringLiteral("offered-%1.ora").arg(reopen));
    QFile::remove(work);
    std::optional<Session> s(std::in_place);
    QVERIFY(s->window.openFile(photo));
    s->stroke(3, 0, 10);
    s->saveAs(work);
    QVERIFY2(QFile::exists(work), qPrintable(s->status()));
    if (reopen) {
        s.reset();
        s.emplace();
        QVERIFY(s->window.openFile(work));
    }
    QString filter;
    QString name;
    QTimer::singleShot(0, [&] {
        auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        QVERIFY(dialog);
        filter = dialog->selectedNameFilter();
        if (auto *edit = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit")))
            name = edit->text();
        dialog->reject();
    });
    s->trigger("actionSave_As");
    QVERIFY2(filter.contains(QLatin1String("*.ora")), qPrintable(filter));
    QVERIFY2(name.endsWith(QLatin1String(".ora")), qPrintable(name));
}

void TestSaving::saveWritesWhereLastSaved_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("format");
    QTest::newRow("png") << "again.png" << QByteArray("png");
    QTest::newRow("jpg") << "again.jpg" << QByteArray("jpeg");
    QTest::newRow("work file") << "again.ora" << QByteArray();
}

// After Save As, Save writes the same file in its format with no dialog; the
// title names that file.
void TestSaving::saveWritesWhereLastSaved()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, format);
    const QString photo =
        writePhoto(dir, QStringLiteral("last.png"), photoOfKind(QStringLiteral("rgb"), QSize(40, 30)));
    const QString target = dir.filePath(name);
    QFile::remove(target);
    Session s;
    QVERIFY(s.window.openFile(photo));
    s.stroke(3, 0, 10);
    s.saveAs(target);
    QVERIFY2(QFile::exists(target), qPrintable(s.status()));
    QCOMPARE(s.window.windowTitle(), name + QStringLiteral("[*]"));
    const QByteArray before = readFile(target);

    s.stroke(20, 0, 39);
    QVERIFY(s.window.isWindowModified());
    NoDialog none;
    s.trigger("actionSave");
    QCOMPARE(none.seen, QString());
    QCOMPARE(s.status(), QStringLiteral("Saved ") + name);
    QVERIFY(!s.window.isWindowModified());
    QVERIFY(readFile(target) != before);
    if (format.isEmpty()) {
        WorkFile back(target);
        QVERIFY(back.read());
        QCOMPARE(back.layer(), s.doc()->colourLayer()->image());
    } else {
        QCOMPARE(QImageReader(target).format(), format);
        // The second stroke is in the file.
        const QImage written = QImage(target).convertToFormat(QImage::Format_RGB32);
        const QColor grey = QImage(photo).pixelColor(25, 20);
        QVERIFY(written.pixelColor(25, 20) != grey);
    }
}

void TestSaving::saveWithoutEarlierSaveAsks()
{
    const QString photo =
        writePhoto(dir, QStringLiteral("first.png"), photoOfKind(QStringLiteral("grey"), QSize(20, 20)));
    const QString target = dir.filePath(QStringLiteral("first-coloured.png"));
    QFile::remove(target);
    Session s;
    QVERIFY(s.window.openFile(photo));
    s.stroke(3, 0, 10);
    TestSupport::answerFileDialog(target);
    s.trigger("actionSave");
    QVERIFY(QFile::exists(target));
    QCOMPARE(s.window.windowTitle(), QStringLiteral("first-coloured.png[*]"));

    Session empty;
    empty.trigger("actionSave");
    QCOMPARE(empty.status(), QStringLiteral("Nothing to save yet"));
}

// The unsaved-work question names the file last saved to, and its Save
// writes there without a dialog.
void TestSaving::unsavedQuestionSavesWhereLastSaved()
{
    const QString photo =
        writePhoto(dir, QStringLiteral("ask.png"), photoOfKind(QStringLiteral("grey"), QSize(20, 20)));
    const QString target = dir.filePath(QStringLiteral("ask-work.ora"));
    QFile::remove(target);
    Session s;
    QVERIFY(s.window.openFile(photo));
    s.stroke(3, 0, 10);
    s.saveAs(target);
    s.stroke(5, 0, 10);
    QString question;
    TestSupport::answerMessageBox(QMessageBox::Save, &question);
    QVERIFY(s.window.close());
    QCOMPARE(question, QStringLiteral("Save changes to ask-work.ora?"));
    WorkFile back(target);
    QVERIFY(back.read());
    QCOMPARE(back.layer(), s.doc()->colourLayer()->image());
}

void TestSaving::replacingTheOriginalAsks_data()
{
    QTest::addColumn<bool>("replace");
    QTest::newRow("replace") << true;
    QTest::newRow("keep the original") << false;
}

void TestSaving::replacingTheOriginalAsks()
{
    QFETCH(bool, replace);
    const QString photo =
        writePhoto(dir, QStringLiteral("original.png"), photoOfKind(QStringLiteral("grey"), QSize(20, 20)));
    const QByteArray before = readFile(photo);
    Session s;
    QVERIFY(s.window.openFile(photo));
    s.stroke(3, 0, 10);

    QString question;
    // The dialog's own "replace?" first, then the question about the photo.
    TestSupport::answerFileDialog(photo, true, [&] {
        QTimer::singleShot(0, [&] {
            TestSupport::answerMessageBox(replace ? QMessageBox::Yes : QMessageBox::Cancel, &question);
        });
    });
    s.trigger("actionSave_As");
    QCOMPARE(question, QStringLiteral("Replace the original photo original.png with the coloured one?"));
    QCOMPARE(readFile(photo) == before, !replace);
    QCOMPARE(s.window.isWindowModified(), !replace);
    if (!replace)
        return;

    // Replaced once: Save goes on writing there without asking again.
    s.stroke(8, 0, 10);
    NoDialog none;
    s.trigger("actionSave");
    QCOMPARE(none.seen, QString());
    QVERIFY(!s.window.isWindowModified());
}

void TestSaving::failureMidwayKeepsTheFile_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("png") << "midway.png";
    QTest::newRow("jpg") << "midway.jpg";
    QTest::newRow("work file") << "midway.ora";
}

// A save that fails half way on its worker leaves the earlier file as it
// was, says why, and the work stays unsaved.
void TestSaving::failureMidwayKeepsTheFile()
{
    QFETCH(QString, name);
    const QString photo =
        writePhoto(dir, QStringLiteral("midway-photo.png"), photoOfKind(QStringLiteral("rgb"), QSize(300, 200)));
    const QString target = dir.filePath(name);
    QFile::remove(target);
    Session s;
    QVERIFY(s.window.openFile(photo));
    s.stroke(3, 0, 100);
    s.saveAs(target);
    const QByteArray before = readFile(target);
    QVERIFY(!before.isEmpty());

    s.stroke(50, 0, 299);
    s.saver()->failNextSaveAt(500, QStringLiteral("the disk went away"));
    s.trigger("actionSave");
    QCOMPARE(readFile(target), before);
    QVERIFY2(s.status().contains(QStringLiteral("the disk went away")), qPrintable(s.status()));
    QVERIFY(s.window.isWindowModified());
    QCOMPARE(QDir(dir.path()).entryList({name + QStringLiteral("*")}, QDir::Files | QDir::Hidden), QStringList{name});

    // The next save works.
    s.trigger("actionSave");
    QVERIFY(readFile(target) != before);
    QVERIFY(!s.window.isWindowModified());
}

void TestSaving::paintingDuringASaveStaysUnsaved_data()
{
    QTest::addColumn<QString>("change");
    QTest::newRow("nothing") << "";
    QTest::newRow("stroke") << "stroke";
    QTest::newRow("mark") << "mark";
    QTest::newRow("undo") << "undo";
}

// What was painted while a save ran is not in the file, and the work stays
// unsaved; a save during which nothing changed marks the work saved.
void TestSaving::paintingDuringASaveStaysUnsaved()
{
    QFETCH(QString, change);
    const QString photo =
        writePhoto(dir, QStringLiteral("during.png"), photoOfKind(QStringLiteral("rgb"), QSize(60, 40)));
    const QString target = dir.filePath(QStringLiteral("during.ora"));
    QFile::remove(target);
    Session s;
    QVERIFY(s.window.openFile(photo));
    s.stroke(3, 0, 10);
    const QImage saved = s.doc()->colourLayer()->image().copy();
    connect(s.saver(), &SaveController::saveStarted, this, [&] {
        if (change == QLatin1String("stroke"))
            s.stroke(30, 0, 59);
        else if (change == QLatin1String("mark"))
            s.doc()->marks()->add(Mark::Keep, QRectF(10, 10, 5, 5));
        else if (change == QLatin1String("undo"))
            s.doc()->history()->undo();
    });
    s.saveAs(target);
    QCOMPARE(s.window.isWindowModified(), !change.isEmpty());
    WorkFile back(target);
    QVERIFY(back.read());
    QCOMPARE(back.layer(), saved);
    QVERIFY(back.marks() == MarksCodec::encode({}));
}

void TestSaving::fileHoldsTheWorkAsSaveWasChosen_data()
{
    QTest::addColumn<QString>("suffix");
    QTest::newRow("jpg") << "jpg";
    QTest::newRow("png") << "png";
    QTest::newRow("work file") << "ora";
}

// Strokes, erasing and undo all through a save, before and after the worker
// reads the rows they change, leave the file as the work was when Save was
// chosen; the next save has them.
void TestSaving::fileHoldsTheWorkAsSaveWasChosen()
{
    QFETCH(QString, suffix);
    const QSize size(1200, 800);
    const QString photo = writePhoto(dir, QStringLiteral("chosen-photo.png"), photoOfKind(QStringLiteral("rgb"), size));
    const QString target = dir.filePath(QStringLiteral("chosen.") + suffix);
    QFile::remove(target);
    Session s;
    QVERIFY(s.window.openFile(photo));
    for (int y = 0; y < size.height(); y += 7)
        s.stroke(y, 0, size.width() / 2);
    const QImage chosen = s.doc()->colourLayer()->image().copy();
    // The file as a save of `layer` writes it.
    const auto matches = [&](const QImage &layer) -> bool {
        if (suffix == QLatin1String("ora")) {
            WorkFile back(target);
            return back.read() && back.layer() == layer;
        }
        const QString reference = dir.filePath(QStringLiteral("reference.") + suffix);
        PhotoFile file(reference);
        return file.write(s.doc()->photo(), QImage(), layer, s.doc()->metadata())
            && readFile(reference) == readFile(target);
    };

    int painted = 0;
    QTimer painter;
    connect(&painter, &QTimer::timeout, this, [&] {
        s.stroke((painted * 37) % size.height(), 0, size.width() - 1, painted % 3 == 2);
        if (painted % 5 == 4)
            s.doc()->history()->undo();
        ++painted;
    });
    connect(s.saver(), &SaveController::saveStarted, this, [&] {
        s.stroke(1, 0, size.width() - 1);
        painter.start(0);
    });
    s.saveAs(target);
    painter.stop();
    QVERIFY2(QFile::exists(target), qPrintable(s.status()));
    QVERIFY(painted > 0);
    QVERIFY(s.window.isWindowModified());
    QVERIFY(matches(chosen));

    disconnect(s.saver(), &SaveController::saveStarted, this, nullptr);
    const QImage later = s.doc()->colourLayer()->image().copy();
    QVERIFY(later != chosen);
    s.trigger("actionSave");
    QVERIFY(!s.window.isWindowModified());
    QVERIFY(matches(later));
}

// Closing the window while a save runs waits for the save, then closes.
void TestSaving::closingDuringASaveWaits()
{
    const QString photo =
        writePhoto(dir, QStringLiteral("closing.png"), photoOfKind(QStringLiteral("rgb"), QSize(400, 300)));
    const QString target = dir.filePath(QStringLiteral("closing.ora"));
    QFile::remove(target);
    Session s;
    QVERIFY(s.window.openFile(photo));
    s.stroke(3, 0, 100);
    bool refused = false;
    connect(s.saver(), &SaveController::saveStarted, this, [&] {
        refused = !s.window.close();
        QVERIFY(s.window.isVisible());
    });
    s.saveAs(target);
    QVERIFY(refused);
    QVERIFY(QFile::exists(target));
    QTRY_VERIFY(!s.window.isVisible());
    WorkFile back(target);
    QVERIFY2(back.read(), qPrintable(back.errorString()));
    QCOMPARE(back.layer(), s.doc()->colourLayer()->image());
}

// Open, Save and Save As while a save runs say so and change nothing.
void TestSaving::commandsDuringASaveWait()
{
    const QString photo =
        writePhoto(dir, QStringLiteral("busy.png"), photoOfKind(QStringLiteral("rgb"), QSize(40, 30)));
    const QString target = dir.filePath(QStringLiteral("busy.ora"));
    QFile::remove(target);
    Session s;
    QVERIFY(s.window.openFile(photo));
    s.stroke(3, 0, 20);
    QStringList said;
    QString dialogs;
    connect(s.saver(), &SaveController::saveStarted, this, [&] {
        for (const char *command : {"actionOpen", "actionSave", "actionSave_As"}) {
            NoDialog none;
            s.trigger(command);
            QCoreApplication::processEvents();
            dialogs += none.seen;
            said.append(s.status());
        }
    });
    s.saveAs(target);
    QCOMPARE(dialogs, QString());
    QCOMPARE(said, QStringList(3, QStringLiteral("Still saving: wait until the save has finished.")));
    QCOMPARE(s.doc()->fileName(), photo);
    QCOMPARE(s.status(), QStringLiteral("Saved busy.ora"));
}

// While a large photo is written the window's own events go on being
// handled, and the progress shows.
void TestSaving::windowAnswersDuringABigSave()
{
    QImage noise(3000, 2000, QImage::Format_RGB32);
    QRandomGenerator random(7);
    for (int y = 0; y < noise.height(); ++y) {
        auto *line = reinterpret_cast<quint32 *>(noise.scanLine(y));
        for (int x = 0; x < noise.width(); ++x)
            line[x] = random.generate() | 0xff000000u;
    }
    const QString photo = dir.filePath(QStringLiteral("big.bmp"));
    QVERIFY(noise.save(photo));
    const QString target = dir.filePath(QStringLiteral("big.png"));
    QFile::remove(target);
    Session s;
    QVERIFY(s.window.openFile(photo));
    s.stroke(3, 0, 1000);
    s.saver()->setProgressDelay(0);
    int ticks = 0;
    bool progressShown = false;
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, this, [&] {
        ++ticks;
        if (auto *progress = s.window.findChild<QProgressDialog *>())
            progressShown = progressShown || progress->isVisible();
    });
    connect(s.saver(), &SaveController::saveStarted, this, [&] {
        ticker.start(1);
        // Painting goes on while the file is written.
        s.stroke(500, 0, 2999);
    });
    s.saveAs(target);
    ticker.stop();
    QVERIFY2(QFile::exists(target), qPrintable(s.status()));
    QVERIFY(ticks > 0);
    QVERIFY(progressShown);
    QVERIFY(s.window.isWindowModified());
    QVERIFY(!s.window.findChild<QProgressDialog *>());
}

// A name typed while the dialog still lists the folder is the name saved to,
// even where the suggested name exists in that folder.
void TestSaving::typedNameKeptWhileTheFolderLoads()
{
    const QString folder = dir.filePath(QStringLiteral("typed"));
    QDir().mkpath(folder);
    const QString photo =
        writePhoto(dir, QStringLiteral("typed/holiday.png"), photoOfKind(QStringLiteral("grey"), QSize(20, 20)));
    for (int i = 0; i < 300; ++i)
        writeFile(folder + QStringLiteral("/other%1.txt").arg(i), "x");
    QVERIFY(QFile::copy(photo, folder + QStringLiteral("/holiday.jpg")));
    QSettings().setValue(QStringLiteral("CurrSaveDir"), folder);
    Session s;
    QVERIFY(s.window.openFile(photo));
    s.stroke(3, 0, 10);

    QString suggested;
    QString kept;
    QString asked;
    QTimer::singleShot(0, [&] {
        auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        QVERIFY(dialog);
        auto *edit = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
        auto *model = dialog->findChild<QFileSystemModel *>();
        QVERIFY(edit && model);
        suggested = edit->text();
        QSignalSpy loaded(model, &QFileSystemModel::directoryLoaded);
        edit->setFocus();
        edit->selectAll();
        QTest::keyClicks(edit, QStringLiteral("mine"));
        loaded.wait(2000);
        QTest::qWait(100);
        kept = edit->text();
        // A question here (a file of that name exists) would mean the typed
        // name was lost; it is noted and declined.
        QTimer::singleShot(0, [&] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                asked = box->text();
                box->button(QMessageBox::No)->click();
                dialog->reject();
            }
        });
        static_cast<QDialog *>(dialog)->accept();
    });
    s.trigger("actionSave_As");
    QCOMPARE(suggested, QStringLiteral("holiday.jpg"));
    QCOMPARE(kept, QStringLiteral("mine"));
    QCOMPARE(asked, QString());
    QVERIFY2(QFile::exists(folder + QStringLiteral("/mine.jpg")), qPrintable(s.status()));
}

void TestSaving::saveLetsGoOfTheLayerEarly_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("after"); // thousandths of the save by which the layer is let go
    QTest::newRow("png") << "released.png" << 150;
    QTest::newRow("work file") << "released.ora" << 250;
}

// A save holds no share of the colour layer once it no longer needs it (a
// photo once composed, a work file once the layer is encoded), so painting
// on while the rest is written copies nothing.
void TestSaving::saveLetsGoOfTheLayerEarly()
{
    QFETCH(QString, name);
    QFETCH(int, after);
    QImage photo(1500, 1000, QImage::Format_RGB32);
    QRandomGenerator random(3);
    for (int y = 0; y < photo.height(); ++y) {
        auto *line = reinterpret_cast<quint32 *>(photo.scanLine(y));
        for (int x = 0; x < photo.width(); ++x)
            line[x] = random.generate() | 0xff000000u;
    }
    QImage layer(photo.size(), QImage::Format_ARGB32);
    layer.fill(qRgba(200, 0, 0, 255));
    QImage shared = layer;
    QVERIFY(!layer.isDetached());
    SaveProgress progress;
    bool saved = false;
    std::atomic<bool> done{false};
    const QString fileName = dir.filePath(name);
    std::thread worker([&] {
        if (WorkFile::hasWorkFileName(fileName)) {
            WorkFile file(fileName);
            saved = file.writeReleasing(QImage(photo), QImage(), std::move(shared), MarksCodec::encode({}),
                                        PhotoMetadata(), &progress);
        } else {
            PhotoFile file(fileName);
            saved = file.writeReleasing(QImage(photo), QImage(), std::move(shared), PhotoMetadata(), &progress);
        }
        done = true;
    });
    QTRY_VERIFY(progress.permille() > after || done);
    const bool alone = layer.isDetached();
    worker.join();
    QVERIFY(saved);
    QVERIFY(alone);
}

void TestSaving::metadataSurvivesTheWindow_data()
{
    QTest::addColumn<QString>("saved");
    QTest::newRow("jpg") << "jpg";
    QTest::newRow("png") << "png";
    QTest::newRow("through a work file") << "ora";
}

// A camera photo opened in the window and saved keeps its date, camera, XMP
// and profile, upright; so does one saved through a work file first.
void TestSaving::metadataSurvivesTheWindow()
{
    QFETCH(QString, saved);
    QImage upright = photoOfKind(QStringLiteral("rgb"), QSize(48, 32));
    const QImage stored = upright.transformed(QTransform().rotate(-90));
    const PhotoMetadata metadata = FileSamples::cameraMetadata(6, stored.size());
    const QString photo = dir.filePath(QStringLiteral("camera-shot.jpg"));
    writeFile(photo, FileSamples::jpegWith(stored, metadata));
    Session s;
    QVERIFY(s.window.openFile(photo));
    QCOMPARE(s.doc()->photo().size(), upright.size());
    s.stroke(3, 0, 20);
    QString name = dir.filePath(QStringLiteral("camera-kept.") + saved);
    QFile::remove(name);
    s.saveAs(name);
    QVERIFY2(QFile::exists(name), qPrintable(s.status()));
    if (saved == QLatin1String("ora")) {
        // Reopened the next day, then saved as a photo.
        Session next;
        QVERIFY(next.window.openFile(name));
        name = dir.filePath(QStringLiteral("camera-kept-from-work.jpg"));
        QFile::remove(name);
        next.saveAs(name);
        QVERIFY2(QFile::exists(name), qPrintable(next.status()));
    }
    const PhotoMetadata back = FileSamples::readBack(name);
    QCOMPARE(PhotoMetadata::exifOrientation(back.exif), 1);
    QCOMPARE(PhotoMetadata::exifValue(back.exif, "Exif.Photo.DateTimeOriginal"), QStringLiteral("2019:07:14 16:32:05"));
    QCOMPARE(PhotoMetadata::exifValue(back.exif, "Exif.Image.Model"), QStringLiteral("FX-100"));
    QVERIFY2(back.xmp.contains("Harbour at dusk"), back.xmp.constData());
    QCOMPARE(back.icc, FileSamples::srgbProfile());
}

void TestSaving::marksCodecRefusesDamage_data()
{
    QTest::addColumn<QByteArray>("data");
    const QByteArray good = MarksCodec::encode({Mark{1, Mark::Colour, QRectF(1, 2, 5, 5), qRgb(1, 2, 3), 0}});
    QList<Mark> marks;
    QString reason;
    QVERIFY(MarksCodec::decode(good, &marks, &reason));
    QCOMPARE(marks.size(), 1);
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("truncated") << good.left(good.size() - 1);
    QTest::newRow("extra bytes") << good + "x";
    QByteArray huge = good;
    huge[13 + 4 + 7] = char(0x7f); // a count far past the data
    QTest::newRow("count past the data") << huge;
    QByteArray kind = good;
    kind[13 + 12] = 9;
    QTest::newRow("unknown kind") << kind;
    QByteArray nan = good;
    nan.replace(13 + 13, 8, QByteArray("\x00\x00\x00\x00\x00\x00\xf8\x7f", 8));
    QTest::newRow("not a number") << nan;
    QByteArray version = good;
    version[13] = 2;
    QTest::newRow("later version") << version;
}

void TestSaving::marksCodecRefusesDamage()
{
    QFETCH(QByteArray, data);
    QList<Mark> marks{Mark()};
    QString reason;
    QVERIFY(!MarksCodec::decode(data, &marks, &reason));
    QVERIFY(marks.isEmpty());
    QVERIFY(!reason.isEmpty());
}

QTEST_MAIN(TestSaving)
#include "tst_saving.moc"
