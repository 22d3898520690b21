#include "app/mainwindow.h"
#include "canvas/czefgraphicsbrushcursoritem.h"
#include "canvas/canvasitems.h"
#include "canvas/czefgraphicsview.h"
#include "colourlayer/czefgraphicsimagemaskitem.h"
#include "referencelayer.h"
#include "testsupport.h"

#include <QAction>
#include <QBuffer>
#include <QColorDialog>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QGraphicsPixmapItem>
#include <QImageReader>
#include <QImageWriter>
#include <QLineEdit>
#include <QMimeData>
#include <QPainter>
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QSlider>
#include <QStatusBar>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QUndoStack>
#include <QtTest>

#include <sys/resource.h>
#include <sys/stat.h>

namespace {

// A black-and-white test photo with some structure: a horizontal ramp with a
// darker band.
QImage greyPhoto(int w, int h)
{
    QImage image(w, h, QImage::Format_Grayscale8);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            image.scanLine(y)[x] = uchar((x * 255) / std::max(1, w - 1) / (y > h / 2 ? 2 : 1));
    return image;
}

// The main window and the parts of it the tests drive.
struct Session {
    Session()
    {
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        view = window.findChild<CZefGraphicsView *>(QStringLiteral("graphicsView"));
    }
    void trigger(const char *action)
    {
        window.findChild<QAction *>(QString::fromLatin1(action))->trigger();
    }
    void open(const QString &fileName)
    {
        TestSupport::answerFileDialog(fileName);
        trigger("actionOpen");
    }
    void saveAs(const QString &fileName, bool confirmOverwrite = false)
    {
        TestSupport::answerFileDialog(fileName, confirmOverwrite);
        trigger("actionSave_As");
    }
    QGraphicsPixmapItem *photoItem() const
    {
        QGraphicsPixmapItem *found = nullptr;
        for (QGraphicsItem *item : view->scene()->items())
            if (item->type() == QGraphicsPixmapItem::Type) {
                if (found)
                    qWarning("more than one photo item");
                found = static_cast<QGraphicsPixmapItem *>(item);
            }
        return found;
    }
    CZefGraphicsImageMaskItem *layer() const
    {
        return view->documentItems() ? view->documentItems()->layerItem() : nullptr;
    }
    QString status() const { return window.statusBar()->currentMessage(); }
    QString setting(const char *key) const { return QSettings().value(QString::fromLatin1(key)).toString(); }

    MainWindow window;
    CZefGraphicsView *view = nullptr;
};

void writeFile(const QString &name, const QByteArray &bytes)
{
    QFile file(name);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

QString canonical(const QString &dir)
{
    return QDir(dir).canonicalPath();
}

} // namespace

class TestFiles : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void opensEveryPhotoFormat_data();
    void opensEveryPhotoFormat();
    void secondPhotoReplacesTheFirst();
    void failedOpenKeepsThePhoto();
    void openRemembersTheResolvedDirectory();
    void paintChooseColourAndSave();
    void colourDialogFillsCustomSlots();
    void saveWithoutPhoto();
    void saveCancelled();
    void saveFailures_data();
    void saveFailures();
    void failedWriteKeepsTheExistingFile();
    void saveStartsInTheRememberedDirectory();
    void bigPhotoOpens();
    void openRefusalsSayWhy_data();
    void openRefusalsSayWhy();
    void openFilterOffersEveryFormat();
    void fileArgumentOpens();
    void droppedFileOpens_data();
    void droppedFileOpens();
    void doubleDensityNameKeepsOnePixelGrid();
    void saveSuggestsANameAndSuffix_data();
    void saveSuggestsANameAndSuffix();
    void photoStaysPutUnderTheBrush_data();
    void photoStaysPutUnderTheBrush();
    void newPhotoIsShownWhole();
    void outOfMemoryKeepsThePhoto();
    void openUnderMemoryLimit_data();
    void openUnderMemoryLimit();

private:
    QTemporaryDir dir;
};

void TestFiles::initTestCase()
{
    TestSupport::nameApplication();
    QVERIFY(dir.isValid());
}

void TestFiles::init()
{
    QSettings().clear();
}

void TestFiles::opensEveryPhotoFormat_data()
{
    QTest::addColumn<QString>("suffix");
    QTest::addColumn<QImage::Format>("format");
    QTest::newRow("png grey 8") << "png" << QImage::Format_Grayscale8;
    QTest::newRow("png grey 16") << "png" << QImage::Format_Grayscale16;
    QTest::newRow("png rgb") << "png" << QImage::Format_RGB32;
    QTest::newRow("png palette") << "png" << QImage::Format_Indexed8;
    QTest::newRow("jpeg") << "jpg" << QImage::Format_RGB32;
    QTest::newRow("bmp") << "bmp" << QImage::Format_RGB32;
    QTest::newRow("tiff") << "tif" << QImage::Format_RGB32;
    QTest::newRow("tiff grey 16") << "tiff" << QImage::Format_Grayscale16;
}

void TestFiles::opensEveryPhotoFormat()
{
    QFETCH(QString, suffix);
    QFETCH(QImage::Format, format);
    QVERIFY2(QImageWriter::supportedImageFormats().contains(suffix.toLatin1()),
             "the image plugins are installed");

    const QString name = dir.filePath(QStringLiteral("photo-%1.%2").arg(int(format)).arg(suffix));
    QVERIFY(greyPhoto(64, 48).convertToFormat(format).save(name));

    Session s;
    s.open(name);
    QCOMPARE(s.view->toolMode, int(CZefGraphicsView::KeepBrush));
    QVERIFY(s.photoItem());
    QCOMPARE(s.photoItem()->pixmap().size(), QSize(64, 48));
    QCOMPARE(s.photoItem()->zValue(), 5.0);
    QVERIFY(s.layer());
    QCOMPARE(s.layer()->zValue(), 10.0);
    QCOMPARE(s.layer()->boundingRect(), QRectF(0, 0, 64, 48));
    QCOMPARE(s.setting("CurrDir"), canonical(dir.path()));
    QVERIFY(s.status().isEmpty());
}

void TestFiles::secondPhotoReplacesTheFirst()
{
    const QString first = dir.filePath(QStringLiteral("first.png"));
    const QString second = dir.filePath(QStringLiteral("second.png"));
    QVERIFY(greyPhoto(80, 60).save(first));
    QVERIFY(greyPhoto(30, 20).save(second));

    Session s;
    s.open(first);
    CZefGraphicsImageMaskItem *layer = s.layer();
    TestSupport::answerColourDialog(QColor(0, 0, 255));
    s.window.findChild<QPushButton *>(QStringLiteral("pushButtonColor"))->click();
    layer->updateMask({QPoint(5, 5)}, {});
    QCOMPARE(layer->maskImage->pixel(5, 5), 0xFF0000FFu);

    s.open(second);
    QCOMPARE(s.layer(), layer); // the same item, re-initialised
    QCOMPARE(s.photoItem()->pixmap().size(), QSize(30, 20));
    QCOMPARE(layer->boundingRect(), QRectF(0, 0, 30, 20));
    QVERIFY(layer->fgpoints().isEmpty());
    layer->updateMask({QPoint(5, 5)}, {});
    QCOMPARE(layer->maskImage->pixel(5, 5), 0xFFFF0000u); // red again
}

void TestFiles::failedOpenKeepsThePhoto()
{
    const QString good = dir.filePath(QStringLiteral("good.png"));
    QVERIFY(greyPhoto(40, 30).save(good));
    QDir().mkpath(dir.filePath(QStringLiteral("other")));
    const QString bad = dir.filePath(QStringLiteral("other/not-an-image.png"));
    writeFile(bad, "this is not a picture");

    Session s;
    s.open(QString()); // cancelled
    QVERIFY(!s.photoItem());
    QVERIFY(s.setting("CurrDir").isEmpty());

    s.open(bad);
    QVERIFY(!s.photoItem());
    QVERIFY(s.status().contains(QStringLiteral("not-an-image.png")));

    s.open(good);
    s.layer()->updateMask({QPoint(1, 1)}, {});
    s.open(bad);
    QCOMPARE(s.photoItem()->pixmap().size(), QSize(40, 30));
    QCOMPARE(s.layer()->fgpoints(), QList<QPoint>({QPoint(1, 1)}));
    QCOMPARE(s.setting("CurrDir"), canonical(dir.filePath(QStringLiteral("other"))));
    QVERIFY(s.status().contains(QStringLiteral("not-an-image.png")));
}

void TestFiles::openRemembersTheResolvedDirectory()
{
    QDir().mkpath(dir.filePath(QStringLiteral("real")));
    const QString link = dir.filePath(QStringLiteral("link"));
    QVERIFY(QFile::link(dir.filePath(QStringLiteral("real")), link));
    QVERIFY(greyPhoto(10, 10).save(dir.filePath(QStringLiteral("real/p.png"))));

    Session s;
    s.open(link + QStringLiteral("/p.png"));
    QCOMPARE(s.setting("CurrDir"), canonical(dir.filePath(QStringLiteral("real"))));
}

// The whole road of a stroke through the real window: open, paint with real
// mouse events, choose a colour in the real dialog, paint again, save through
// the real dialog, and read the file back.
void TestFiles::paintChooseColourAndSave()
{
    const QString photoName = dir.filePath(QStringLiteral("road.png"));
    const QImage photo = greyPhoto(120, 90);
    QVERIFY(photo.save(photoName));

    Session s;
    s.open(photoName);
    CZefGraphicsImageMaskItem *layer = s.layer();
    QWidget *viewport = s.view->viewport();
    QSignalSpy brushed(s.view, &CZefGraphicsView::brushPressed);

    // A move without a button shows the cursor and paints nothing.
    const QPoint a = s.view->mapFromScene(QPointF(30, 30));
    QCOMPARE(s.view->mapToScene(a), QPointF(30, 30));
    TestSupport::sendMouse(viewport, QEvent::MouseMove, a, Qt::NoButton, Qt::NoButton);
    QCOMPARE(brushed.size(), 0);
    bool cursorShown = false;
    for (QGraphicsItem *item : s.view->scene()->items())
        cursorShown |= item->type() == CZefGraphicsBrushCursorItem::Type;
    QVERIFY(cursorShown);

    TestSupport::sendMouse(viewport, QEvent::MouseButtonPress, a, Qt::LeftButton, Qt::LeftButton);
    QCOMPARE(brushed.size(), 1);
    const QList<QPoint> redDisc = brushed.at(0).at(0).value<QList<QPoint>>();
    QCOMPARE(redDisc.size(), 287);
    for (const QPoint &p : redDisc)
        QCOMPARE(layer->maskImage->pixel(p), Reference::colourised(0xFFFF0000, photo, p));

    // Another colour from the real dialog, which always opens at white.
    QColor initial;
    TestSupport::answerColourDialog(QColor(40, 200, 90), &initial);
    s.window.findChild<QPushButton *>(QStringLiteral("pushButtonColor"))->click();
    QCOMPARE(initial, QColor(Qt::white));

    const QPoint b = s.view->mapFromScene(QPointF(80, 60));
    TestSupport::sendMouse(viewport, QEvent::MouseMove, b, Qt::NoButton, Qt::LeftButton);
    QCOMPARE(brushed.size(), 2);
    const QList<QPoint> greenDisc = brushed.at(1).at(0).value<QList<QPoint>>();
    for (const QPoint &p : greenDisc)
        QCOMPARE(layer->maskImage->pixel(p), Reference::colourised(qRgb(40, 200, 90), photo, p));
    TestSupport::sendMouse(viewport, QEvent::MouseButtonRelease, b, Qt::LeftButton, Qt::NoButton);

    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(s.view, &leave);
    for (QGraphicsItem *item : s.view->scene()->items())
        QVERIFY(item->type() != CZefGraphicsBrushCursorItem::Type);

    // What the file holds: the photo with the unsmoothed layer drawn over it.
    QImage expected = photo.convertToFormat(QImage::Format_ARGB32);
    {
        QPainter painter(&expected);
        painter.drawImage(0, 0, *layer->maskImage);
    }
    QDir().mkpath(dir.filePath(QStringLiteral("out")));
    const QString pngName = dir.filePath(QStringLiteral("out/coloured.png"));
    s.saveAs(pngName);
    QCOMPARE(s.status(), QStringLiteral("Saved coloured.png"));
    const QImage saved(pngName);
    QCOMPARE(saved.convertToFormat(QImage::Format_ARGB32), expected);
    // Opaque, so without alpha, and at the writer's own compression.
    QVERIFY(!saved.hasAlphaChannel());
    QBuffer png;
    png.open(QIODevice::WriteOnly);
    QVERIFY(expected.convertToFormat(QImage::Format_RGB32).save(&png, "png"));
    QFile pngFile(pngName);
    QVERIFY(pngFile.open(QIODevice::ReadOnly));
    QCOMPARE(pngFile.readAll(), png.data());
    QCOMPARE(s.setting("CurrSaveDir"), canonical(dir.filePath(QStringLiteral("out"))));

    // JPEG: the same composed picture, encoded at quality 100.
    const QString jpgName = dir.filePath(QStringLiteral("out/coloured.jpg"));
    s.saveAs(jpgName);
    QImageReader jpg(jpgName);
    QCOMPARE(jpg.format(), QByteArray("jpeg"));
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QVERIFY(expected.save(&buffer, "jpg", 100));
    QCOMPARE(jpg.read(), QImage::fromData(buffer.data(), "jpg"));

    // The stored layer was never smoothed by all the painting on screen.
    for (const QPoint &p : redDisc)
        if (!greenDisc.contains(p))
            QCOMPARE(layer->maskImage->pixel(p), Reference::colourised(0xFFFF0000, photo, p));
}

void TestFiles::colourDialogFillsCustomSlots()
{
    const int count = QColorDialog::customCount();
    QCOMPARE(count, 16);
    Session s;
    QPushButton *button = s.window.findChild<QPushButton *>(QStringLiteral("pushButtonColor"));

    // Before any photo only the custom colours change.
    for (int i = 0; i < count; ++i) {
        TestSupport::answerColourDialog(QColor(i, 2 * i, 3 * i));
        button->click();
        QCOMPARE(QColorDialog::customColor(i), QColor(i, 2 * i, 3 * i));
    }
    TestSupport::answerColourDialog(QColor());
    button->click(); // cancelled: the counter stays
    TestSupport::answerColourDialog(QColor(200, 100, 50));
    button->click();
    QCOMPARE(QColorDialog::customColor(0), QColor(200, 100, 50));
    QCOMPARE(QColorDialog::customColor(1), QColor(1, 2, 3));
    TestSupport::answerColourDialog(QColor(10, 100, 50));
    button->click();
    QCOMPARE(QColorDialog::customColor(0), QColor(10, 100, 50));
    QCOMPARE(QColorDialog::customColor(15), QColor(15, 30, 45));
}

void TestFiles::saveWithoutPhoto()
{
    Session s;
    bool dialogShown = false;
    QTimer::singleShot(0, [&] {
        if (QWidget *modal = QApplication::activeModalWidget()) {
            dialogShown = true;
            modal->close();
        }
    });
    s.trigger("actionSave_As");
    QCOMPARE(s.status(), QStringLiteral("Nothing to save yet"));
    QVERIFY(!dialogShown);
    QVERIFY(s.setting("CurrSaveDir").isEmpty());
    QTRY_VERIFY_WITH_TIMEOUT(s.status().isEmpty(), 5000); // shown for three seconds
}

void TestFiles::saveCancelled()
{
    const QString photoName = dir.filePath(QStringLiteral("c.png"));
    QVERIFY(greyPhoto(10, 10).save(photoName));
    Session s;
    s.open(photoName);
    s.saveAs(QString());
    QCOMPARE(s.status(), QStringLiteral("No file selected"));
    QVERIFY(!QSettings().contains(QStringLiteral("CurrSaveDir")));
    // Shown until replaced: the bar keeps no timer that would take it away.
    const QList<QTimer *> timers = s.window.statusBar()->findChildren<QTimer *>();
    QVERIFY(std::none_of(timers.begin(), timers.end(), [](const QTimer *t) { return t->isActive(); }));
}

void TestFiles::saveFailures_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("reason");
    QTest::newRow("suffix of no format") << "out/picture.xyz" << "the name does not end in .jpg or .png";
    QTest::newRow("read-only format") << "out/picture.gif" << "the name does not end in .jpg or .png";
    QTest::newRow("missing folder") << "out/gone/picture.png" << "the folder does not exist";
}

void TestFiles::saveFailures()
{
    QFETCH(QString, name);
    QFETCH(QString, reason);
    const QString photoName = dir.filePath(QStringLiteral("f.png"));
    QVERIFY(greyPhoto(10, 10).save(photoName));
    QDir().mkpath(dir.filePath(QStringLiteral("out")));
    const QString target = dir.filePath(name);

    Session s;
    s.open(photoName);
    s.saveAs(target);
    QVERIFY(!QFile::exists(target));
    QCOMPARE(s.status(),
             QStringLiteral("Could not save %1: %2.").arg(QDir::toNativeSeparators(target), reason));
    QVERIFY(QSettings().contains(QStringLiteral("CurrSaveDir")));
    QVERIFY(s.setting("CurrSaveDir").isEmpty());
    QCOMPARE(QDir(dir.filePath(QStringLiteral("out"))).entryList(QDir::Files).filter(QStringLiteral("picture")),
             QStringList());
}

// A write that fails half-way (JPEG cannot hold an image this wide) leaves the
// file that was there untouched, and says so.
void TestFiles::failedWriteKeepsTheExistingFile()
{
    const QString photoName = dir.filePath(QStringLiteral("wide.png"));
    QVERIFY(greyPhoto(70000, 2).save(photoName));
    const QString target = dir.filePath(QStringLiteral("keep.jpg"));
    writeFile(target, "precious");

    Session s;
    s.open(photoName);
    s.saveAs(target, true);
    QVERIFY2(s.status().contains(QStringLiteral("keep.jpg")), qPrintable(s.status()));
    QFile existing(target);
    QVERIFY(existing.open(QIODevice::ReadOnly));
    QCOMPARE(existing.readAll(), QByteArray("precious"));
    QCOMPARE(QDir(dir.path()).entryList({QStringLiteral("keep.jpg*")}, QDir::Files | QDir::Hidden),
             QStringList({QStringLiteral("keep.jpg")}));
    QCOMPARE(s.setting("CurrSaveDir"), canonical(dir.path())); // the file of that name still exists
    QVERIFY(QApplication::overrideCursor() == nullptr);
}

void TestFiles::saveStartsInTheRememberedDirectory()
{
    const QString photoName = dir.filePath(QStringLiteral("s.png"));
    QVERIFY(greyPhoto(10, 10).save(photoName));
    Session s;
    s.open(photoName);

    QString startDir;
    QTimer::singleShot(0, [&] {
        auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        QVERIFY(dialog);
        startDir = dialog->directory().canonicalPath();
        dialog->reject();
    });
    s.trigger("actionSave_As");
    QCOMPARE(startDir, canonical(dir.path())); // CurrSaveDir absent: CurrDir
}

void TestFiles::bigPhotoOpens()
{
    // Over the toolkit's default limit of 128 MB of pixels.
    const QString name = dir.filePath(QStringLiteral("big.png"));
    {
        QImage big(7000, 6000, QImage::Format_Grayscale8);
        big.fill(128);
        QVERIFY(big.save(name, nullptr, 0));
    }
    Session s;
    s.open(name);
    QVERIFY2(s.photoItem(), qPrintable(s.status()));
    QCOMPARE(s.layer()->boundingRect(), QRectF(0, 0, 7000, 6000));
    QFile::remove(name);
}

void TestFiles::openRefusalsSayWhy_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("reason");
    QTest::newRow("missing") << "nowhere.png" << "there is no such file";
    QTest::newRow("named pipe") << "pipe.png" << "it is not a regular file";
    QTest::newRow("folder") << "out" << "it is a folder";
}

// A refused file says why and leaves the open photo and its colouring.
void TestFiles::openRefusalsSayWhy()
{
    QFETCH(QString, name);
    QFETCH(QString, reason);
    const QString good = dir.filePath(QStringLiteral("kept.png"));
    QVERIFY(greyPhoto(40, 30).save(good));
    QDir().mkpath(dir.filePath(QStringLiteral("out")));
    const QString pipe = dir.filePath(QStringLiteral("pipe.png"));
    QVERIFY(QFile::exists(pipe) || mkfifo(QFile::encodeName(pipe).constData(), 0600) == 0);

    Session s;
    s.open(good);
    s.layer()->updateMask({QPoint(1, 1)}, {});
    const QString path = dir.filePath(name);
    QVERIFY(!s.window.openFile(path)); // the dialog itself accepts none of these
    QCOMPARE(s.status(), QStringLiteral("Could not open %1: %2.").arg(QDir::toNativeSeparators(path), reason));
    QCOMPARE(s.photoItem()->pixmap().size(), QSize(40, 30));
    QCOMPARE(s.layer()->fgpoints(), QList<QPoint>({QPoint(1, 1)}));
}

void TestFiles::openFilterOffersEveryFormat()
{
    Session s;
    QStringList filters;
    QTimer::singleShot(0, [&] {
        auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        QVERIFY(dialog);
        filters = dialog->nameFilters();
        dialog->reject();
    });
    s.trigger("actionOpen");
    QCOMPARE(filters.size(), 3);
    QVERIFY2(filters.at(0).contains(QStringLiteral("*.webp")), qPrintable(filters.at(0)));
    QVERIFY(filters.at(0).contains(QStringLiteral("*.png")));
    QCOMPARE(filters.at(1), QStringLiteral("Image Files (*.png *.jpg *.bmp *.jpeg *.tiff *.tif *.gif)"));
    QCOMPARE(filters.at(2), QStringLiteral("All files (*)"));
}

// What `brivela FILE` does once the window is shown.
void TestFiles::fileArgumentOpens()
{
    const QString name = dir.filePath(QStringLiteral("argument.png"));
    QVERIFY(greyPhoto(50, 40).save(name));
    Session s;
    QVERIFY(!s.window.openFile(dir.filePath(QStringLiteral("absent.png"))));
    QVERIFY(s.status().contains(QStringLiteral("absent.png: there is no such file")));
    QVERIFY(s.window.openFile(name));
    QCOMPARE(s.photoItem()->pixmap().size(), QSize(50, 40));
    QCOMPARE(s.layer()->boundingRect(), QRectF(0, 0, 50, 40));
    QVERIFY(s.status().isEmpty());
}

void TestFiles::droppedFileOpens_data()
{
    QTest::addColumn<QStringList>("urls");
    QTest::addColumn<bool>("opens");
    const QString photo = QUrl::fromLocalFile(dir.filePath(QStringLiteral("dropped.png"))).toString();
    QTest::newRow("one photo") << QStringList({photo}) << true;
    QTest::newRow("two files") << QStringList({photo, photo}) << false;
    QTest::newRow("a web address") << QStringList({QStringLiteral("https://example.org/a.png")}) << false;
}

void TestFiles::droppedFileOpens()
{
    QFETCH(QStringList, urls);
    QFETCH(bool, opens);
    QVERIFY(greyPhoto(24, 16).save(dir.filePath(QStringLiteral("dropped.png"))));
    QMimeData data;
    QList<QUrl> list;
    for (const QString &url : urls)
        list.append(QUrl(url));
    data.setUrls(list);

    Session s;
    const QPoint centre = s.view->mapTo(&s.window, s.view->rect().center());
    QDragEnterEvent enter(centre, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&s.window, &enter);
    QCOMPARE(enter.isAccepted(), opens);
    QDropEvent drop(QPointF(centre), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&s.window, &drop);
    QCOMPARE(s.photoItem() != nullptr, opens);
    if (opens)
        QCOMPARE(s.photoItem()->pixmap().size(), QSize(24, 16));
    // The canvas leaves drops to the window.
    QVERIFY(!s.view->viewport()->acceptDrops());
}

// A name that asks for double density still gives one photo pixel per
// layer pixel, so a dab colours the pixels under it.
void TestFiles::doubleDensityNameKeepsOnePixelGrid()
{
    const QString name = dir.filePath(QStringLiteral("photo@2x.png"));
    QVERIFY(greyPhoto(40, 20).save(name));
    Session s;
    s.open(name);
    QCOMPARE(s.photoItem()->pixmap().devicePixelRatio(), 1.0);
    QCOMPARE(s.photoItem()->boundingRect(), s.layer()->boundingRect());
    QCOMPARE(s.photoItem()->boundingRect(), QRectF(0, 0, 40, 20));
}

void TestFiles::saveSuggestsANameAndSuffix_data()
{
    QTest::addColumn<int>("filter");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("suggested");
    QTest::addColumn<QString>("written");
    QTest::newRow("suggestion kept") << 0 << QString() << "holiday.jpg" << "holiday.jpg";
    QTest::newRow("jpg filter, no suffix") << 0 << "typed" << "holiday.jpg" << "typed.jpg";
    QTest::newRow("png filter, no suffix") << 1 << "typed" << "holiday.png" << "typed.png";
    QTest::newRow("png filter, jpg typed") << 1 << "typed.jpg" << "holiday.png" << "typed.jpg";
}

// The real dialog starts in the last save folder with the photo's name and
// the selected filter's suffix, and gives a bare name that suffix.
void TestFiles::saveSuggestsANameAndSuffix()
{
    QFETCH(int, filter);
    QFETCH(QString, typed);
    QFETCH(QString, suggested);
    QFETCH(QString, written);
    const QString photoName = dir.filePath(QStringLiteral("holiday.png"));
    QVERIFY(greyPhoto(20, 10).save(photoName));
    const QString tag = QString::fromUtf8(QTest::currentDataTag()).replace(QLatin1Char(' '), QLatin1Char('-'));
    const QString folder = dir.filePath(QStringLiteral("saves-") + tag);
    QDir().mkpath(folder);
    QSettings().setValue(QStringLiteral("CurrSaveDir"), folder);

    Session s;
    s.open(photoName);
    QString initialName;
    QString filteredName;
    QString startDir;
    QTimer::singleShot(0, [&] {
        auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        QVERIFY(dialog);
        auto *edit = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
        QVERIFY(edit);
        initialName = edit->text();
        startDir = dialog->directory().canonicalPath();
        // As a user picks a filter: arrow keys on the filter box.
        auto *filters = dialog->findChild<QComboBox *>(QStringLiteral("fileTypeCombo"));
        QVERIFY(filters);
        for (int i = 0; i < filter; ++i)
            QTest::keyClick(filters, Qt::Key_Down);
        QCOMPARE(dialog->selectedNameFilter(), dialog->nameFilters().at(filter));
        filteredName = edit->text();
        if (!typed.isNull())
            edit->setText(typed);
        static_cast<QDialog *>(dialog)->accept();
    });
    s.trigger("actionSave_As");
    QCOMPARE(startDir, canonical(folder));
    QCOMPARE(initialName, QStringLiteral("holiday.jpg"));
    QCOMPARE(filteredName, suggested);
    const QString target = folder + QLatin1Char('/') + written;
    QVERIFY2(QFile::exists(target), qPrintable(s.status()));
    QCOMPARE(QImageReader(target).format(), written.endsWith(QLatin1String("png")) ? QByteArray("png")
                                                                                     : QByteArray("jpeg"));
    QCOMPARE(s.status(), QStringLiteral("Saved ") + written);
}

void TestFiles::photoStaysPutUnderTheBrush_data()
{
    QTest::addColumn<QSize>("photoSize");
    QTest::addColumn<bool>("stroke");
    QTest::addColumn<QPointF>("from"); // scene points
    QTest::addColumn<QPointF>("to");
    QTest::newRow("cursor past the right edge") << QSize(600, 400) << false << QPointF(590, 200) << QPointF(640, 200);
    QTest::newRow("cursor over the blank canvas") << QSize(600, 400) << false << QPointF(300, 390)
                                                  << QPointF(300, 600);
    QTest::newRow("stroke past the bottom edge") << QSize(600, 400) << true << QPointF(300, 380) << QPointF(300, 460);
    QTest::newRow("stroke past the top left, fitted") << QSize(4000, 3000) << true << QPointF(200, 200)
                                                      << QPointF(-300, -300);
}

// The photo keeps its place on screen, and the scrollable area its size,
// whatever the brush reaches past the photo's border.
void TestFiles::photoStaysPutUnderTheBrush()
{
    QFETCH(QSize, photoSize);
    QFETCH(bool, stroke);
    QFETCH(QPointF, from);
    QFETCH(QPointF, to);
    const QString name = dir.filePath(QStringLiteral("put-%1.png").arg(photoSize.width()));
    QVERIFY(greyPhoto(photoSize.width(), photoSize.height()).save(name));

    Session s;
    s.window.resize(1600, 1000);
    QTRY_COMPARE(s.window.size(), QSize(1600, 1000));
    s.open(name);
    s.window.findChild<QSlider *>(QStringLiteral("horizontalSlider"))->setValue(300);
    QWidget *viewport = s.view->viewport();
    QCoreApplication::processEvents();
    const QPoint origin = s.view->mapFromScene(QPointF(0, 0));
    const int hmax = s.view->horizontalScrollBar()->maximum();
    const int vmax = s.view->verticalScrollBar()->maximum();

    const Qt::MouseButtons held = stroke ? Qt::LeftButton : Qt::NoButton;
    const QPoint start = s.view->mapFromScene(from);
    if (stroke)
        TestSupport::sendMouse(viewport, QEvent::MouseButtonPress, start, Qt::LeftButton, held);
    const QPoint end = s.view->mapFromScene(to);
    for (int i = 0; i <= 10; ++i) {
        const QPoint p = start + (end - start) * i / 10;
        TestSupport::sendMouse(viewport, QEvent::MouseMove, p, Qt::NoButton, held);
        QCoreApplication::processEvents();
        QCOMPARE(s.view->mapFromScene(QPointF(0, 0)), origin);
    }
    if (stroke)
        TestSupport::sendMouse(viewport, QEvent::MouseButtonRelease, end, Qt::LeftButton, Qt::NoButton);
    QCoreApplication::processEvents();

    QCOMPARE(s.view->scene()->sceneRect(), QRectF(QPointF(0, 0), QSizeF(photoSize)));
    QCOMPARE(s.view->mapFromScene(QPointF(0, 0)), origin);
    QCOMPARE(s.view->horizontalScrollBar()->maximum(), hmax);
    QCOMPARE(s.view->verticalScrollBar()->maximum(), vmax);
    if (stroke) // what was painted lies where the pointer was over the photo
        QVERIFY(s.layer()->maskImage->pixel(from.toPoint()) != 0);
}

void TestFiles::newPhotoIsShownWhole()
{
    const QString big = dir.filePath(QStringLiteral("whole-big.png"));
    const QString small = dir.filePath(QStringLiteral("whole-small.png"));
    QVERIFY(greyPhoto(3000, 2000).save(big));
    QVERIFY(greyPhoto(60, 40).save(small));

    Session s;
    const auto scrolls = [&s] {
        return s.view->horizontalScrollBar()->maximum() > 0 || s.view->verticalScrollBar()->maximum() > 0;
    };
    s.open(big);
    QVERIFY(s.view->transform().m11() < 0.2);
    QVERIFY(!scrolls());
    QPushButton *plus = s.window.findChild<QPushButton *>(QStringLiteral("pushButtonZoomPlus"));
    for (int i = 0; i < 20; ++i)
        plus->click();
    QVERIFY(scrolls());

    s.open(small); // no zoom carried over: at 100 %, centred
    QCOMPARE(s.view->transform().m11(), 1.0);
    QVERIFY(!scrolls());
    QTRY_VERIFY(qAbs(s.view->viewportTransform().map(QPointF(30, 20)).x() - s.view->viewport()->width() / 2.0) <= 1);

    s.window.findChild<QPushButton *>(QStringLiteral("pushButtonZoomMinus"))->click();
    s.open(big);
    QVERIFY(s.view->transform().m11() < 0.2);
    QTRY_VERIFY(!scrolls());
}

namespace {

const char memoryLimitChild[] = "BRIVELA_TEST_MEMORY_LIMIT_CHILD";

// The process's address space now, in bytes.
qint64 addressSpaceInUse()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmSize:"))
            return line.mid(7).trimmed().split(' ').value(0).toLongLong() * 1024;
    return -1;
}

} // namespace

// Opening a photo that the memory left cannot hold, for real: the scenario
// runs in a process of its own under an address-space limit.
void TestFiles::outOfMemoryKeepsThePhoto()
{
#if defined(__SANITIZE_ADDRESS__)
    QSKIP("the sanitizer's shadow memory cannot live under an address-space limit");
#endif
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QString::fromLatin1(memoryLimitChild), QStringLiteral("1"));
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("openUnderMemoryLimit")});
    QVERIFY(child.waitForFinished(120000));
    const QByteArray output = child.readAll();
    QVERIFY2(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0, output.constData());
    QVERIFY2(output.contains("PASS   : TestFiles::openUnderMemoryLimit(room to read)"), output.constData());
    QVERIFY2(output.contains("PASS   : TestFiles::openUnderMemoryLimit(no room to read)"), output.constData());
}

void TestFiles::openUnderMemoryLimit_data()
{
    // The photo takes 16 MB to read, 64 MB for its layer, as much for the
    // layer's softened picture, and the pixmap besides.
    QTest::addColumn<int>("roomMb");
    QTest::newRow("room to read") << 40;
    QTest::newRow("no room to read") << 8;
}

void TestFiles::openUnderMemoryLimit()
{
    QFETCH(int, roomMb);
    if (!qEnvironmentVariableIsSet(memoryLimitChild))
        QSKIP("run by outOfMemoryKeepsThePhoto, in a process of its own");

    const QString oldName = dir.filePath(QStringLiteral("before-the-limit.png"));
    const QString bigName = dir.filePath(QStringLiteral("too-big-for-the-limit.png"));
    QVERIFY(greyPhoto(200, 150).save(oldName));
    {
        QImage big(4000, 4000, QImage::Format_Grayscale8);
        big.fill(90);
        QVERIFY(big.save(bigName));
    }

    Session s;
    s.open(oldName);
    QWidget *viewport = s.view->viewport();
    const QPoint a = s.view->mapFromScene(QPointF(50, 50));
    TestSupport::sendMouse(viewport, QEvent::MouseButtonPress, a, Qt::LeftButton, Qt::LeftButton);
    TestSupport::sendMouse(viewport, QEvent::MouseButtonRelease, a, Qt::LeftButton, Qt::NoButton);
    const QImage layerBefore = *s.layer()->maskImage;
    const QImage shownBefore = s.photoItem()->pixmap().toImage();
    const int steps = s.view->undoStack->count();
    QVERIFY(steps > 0);

    rlimit limit {};
    QCOMPARE(getrlimit(RLIMIT_AS, &limit), 0);
    const rlimit before = limit;
    const qint64 inUse = addressSpaceInUse();
    QVERIFY(inUse > 0);
    limit.rlim_cur = rlim_t(inUse + qint64(roomMb) * 1024 * 1024);
    QCOMPARE(setrlimit(RLIMIT_AS, &limit), 0);
    const bool opened = s.window.openFile(bigName);
    const QString status = s.status();
    QCOMPARE(setrlimit(RLIMIT_AS, &before), 0);

    QVERIFY(!opened);
    QVERIFY2(status.startsWith(QStringLiteral("Not enough memory")) && status.contains(QStringLiteral("4000 x 4000")),
             qPrintable(status));
    QCOMPARE(s.photoItem()->pixmap().toImage(), shownBefore);
    QCOMPARE(*s.layer()->maskImage, layerBefore);
    QCOMPARE(s.view->undoStack->count(), steps);
    QCOMPARE(s.view->scene()->sceneRect(), QRectF(0, 0, 200, 150));
    QVERIFY(s.window.isWindowModified());

    // The old photo is still painted on.
    const QPoint b = s.view->mapFromScene(QPointF(150, 100));
    TestSupport::sendMouse(viewport, QEvent::MouseButtonPress, b, Qt::LeftButton, Qt::LeftButton);
    TestSupport::sendMouse(viewport, QEvent::MouseButtonRelease, b, Qt::LeftButton, Qt::NoButton);
    QVERIFY(s.layer()->maskImage->pixel(150, 100) != 0);
}

QTEST_MAIN(TestFiles)
#include "tst_files.moc"
