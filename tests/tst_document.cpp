#include "app/document.h"
#include "canvas/canvasitems.h"
#include "canvas/czefgraphicsbrushcursoritem.h"
#include "colourlayer/czefgraphicsimagemaskitem.h"
#include "imaging/colourlayer.h"
#include "imaging/markset.h"
#include "testsupport.h"

#include <QGraphicsPixmapItem>
#include <QGraphicsScene>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QUndoStack>
#include <QtTest>

namespace {

QString writePhoto(const QTemporaryDir &dir, const QString &name, const QSize &size)
{
    QImage image(size, QImage::Format_Grayscale8);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x)
            image.scanLine(y)[x] = uchar(3 * x + y);
    const QString fileName = dir.filePath(name);
    if (!image.save(fileName))
        qWarning("cannot write %s", qPrintable(fileName));
    return fileName;
}

// A document whose allocations for the next opening fail from the given step
// on: 0 the pixmap, 1 the layer image, 2 the layer's softened picture.
class StarvedDocument : public Document
{
public:
    using Document::Document;
    void failFromStep(int step)
    {
        failFrom = step;
        allocations = 0;
    }

protected:
    QPixmap pixmapFor(const QImage &photo) override { return failFrom == 0 ? QPixmap() : Document::pixmapFor(photo); }
    QImage allocate(const QSize &size, QImage::Format format) override
    {
        ++allocations;
        return failFrom >= 1 && allocations >= failFrom ? QImage() : Document::allocate(size, format);
    }

private:
    int failFrom = -1;
    int allocations = 0;
};

// A document shown in a scene, as the canvas shows it.
template <typename D> struct Shown {
    Shown()
        : items(&scene, &document)
    { }
    QUndoStack &history() { return *document.history(); }
    QGraphicsScene scene;
    D document;
    CanvasItems items;
};

// One horizontal stroke over row y, from x to x + length - 1.
void stroke(Document &document, int y, int x, int length, bool erase = false)
{
    document.beginStroke(erase);
    const RowSpans spans{RowSpan{y, x, x + length - 1}};
    document.paintSpans(erase ? RowSpans() : spans, erase ? spans : RowSpans());
    document.endStroke();
}

// The scene's items, as (type, bounds) pairs.
QList<QPair<int, QRectF>> itemsOf(const QGraphicsScene &scene)
{
    QList<QPair<int, QRectF>> list;
    for (const QGraphicsItem *item : scene.items())
        list.append({item->type(), item->sceneBoundingRect()});
    return list;
}

} // namespace

class TestDocument : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void sceneIsThePhoto();
    void savedStateFollowsTheHistory();
    void allocationFailureKeepsEverything_data();
    void allocationFailureKeepsEverything();
    void historyKeepsWithinItsBound_data();
    void historyKeepsWithinItsBound();
    void strokeTooLargeToRecordSaysSo();
    void openingClearsMarksAndHistory();
    void strokeChangingNothingIsNoStep_data();
    void strokeChangingNothingIsNoStep();

private:
    QTemporaryDir dir;
};

void TestDocument::initTestCase()
{
    TestSupport::nameApplication();
    QVERIFY(dir.isValid());
}

void TestDocument::sceneIsThePhoto()
{
    Shown<Document> shown;
    QGraphicsScene &scene = shown.scene;
    Document &document = shown.document;
    QCOMPARE(document.open(writePhoto(dir, QStringLiteral("big.png"), QSize(300, 200))), Document::OpenResult::Opened);
    QCOMPARE(scene.sceneRect(), QRectF(0, 0, 300, 200));

    // Items reaching past the photo (the brush cursor, marks) leave it so.
    auto *cursor = new CZefGraphicsBrushCursorItem(QRectF(250, 150, 400, 400));
    scene.addItem(cursor);
    QCOMPARE(scene.sceneRect(), QRectF(0, 0, 300, 200));

    QCOMPARE(document.open(writePhoto(dir, QStringLiteral("small.png"), QSize(40, 30))), Document::OpenResult::Opened);
    QCOMPARE(scene.sceneRect(), QRectF(0, 0, 40, 30));
    QCOMPARE(shown.items.photoItem()->pixmap().size(), QSize(40, 30));
    QCOMPARE(shown.items.layerItem()->boundingRect(), QRectF(0, 0, 40, 30));
    delete cursor;
}

void TestDocument::savedStateFollowsTheHistory()
{
    Document document;
    QUndoStack &history = *document.history();
    QSignalSpy modified(&document, &Document::modifiedChanged);
    QVERIFY(!document.isModified());
    history.push(new QUndoCommand); // a step before any photo is no unsaved work
    QVERIFY(!document.isModified());

    QCOMPARE(document.open(writePhoto(dir, QStringLiteral("h.png"), QSize(10, 10))), Document::OpenResult::Opened);
    QCOMPARE(history.count(), 0); // a fresh history for the new photo
    QVERIFY(!document.isModified());
    modified.clear();

    history.push(new QUndoCommand);
    QVERIFY(document.isModified());
    QVERIFY(document.save(dir.filePath(QStringLiteral("h-saved.png"))));
    QVERIFY(!document.isModified());
    history.undo();
    QVERIFY(document.isModified());
    history.redo();
    QVERIFY(!document.isModified());
    history.push(new QUndoCommand);
    QCOMPARE(document.open(writePhoto(dir, QStringLiteral("h2.png"), QSize(10, 10))), Document::OpenResult::Opened);
    QVERIFY(!document.isModified());

    const QList<bool> expected = {true, false, true, false, true, false};
    QCOMPARE(modified.size(), expected.size());
    for (int i = 0; i < expected.size(); ++i)
        QCOMPARE(modified.at(i).at(0).toBool(), expected.at(i));
}

void TestDocument::allocationFailureKeepsEverything_data()
{
    QTest::addColumn<int>("failFrom");
    QTest::newRow("pixmap") << 0;
    QTest::newRow("colour layer") << 1;
    QTest::newRow("softened picture") << 2;
}

void TestDocument::allocationFailureKeepsEverything()
{
    QFETCH(int, failFrom);
    Shown<StarvedDocument> shown;
    QGraphicsScene &scene = shown.scene;
    StarvedDocument &document = shown.document;
    QUndoStack &history = shown.history();
    const QString photo = writePhoto(dir, QStringLiteral("old.png"), QSize(50, 40));
    QCOMPARE(document.open(photo), Document::OpenResult::Opened);
    document.paint({QPoint(5, 5), QPoint(6, 5)}, {});
    history.push(new QUndoCommand);

    const QImage photoBefore = document.photo();
    const QImage shownBefore = shown.items.photoItem()->pixmap().toImage();
    const QImage layerBefore = document.colourLayer()->image();
    const auto itemsBefore = itemsOf(scene);

    document.failFromStep(failFrom);
    QCOMPARE(document.open(writePhoto(dir, QStringLiteral("new.png"), QSize(70, 60))),
             Document::OpenResult::OutOfMemory);
    QCOMPARE(document.refusedSize(), QSize(70, 60));

    QCOMPARE(document.photo(), photoBefore);
    QCOMPARE(shown.items.photoItem()->pixmap().toImage(), shownBefore);
    QCOMPARE(document.colourLayer()->image(), layerBefore);
    QCOMPARE(itemsOf(scene), itemsBefore);
    QCOMPARE(scene.sceneRect(), QRectF(0, 0, 50, 40));
    QCOMPARE(document.fileName(), photo);
    QCOMPARE(history.count(), 1);
    QVERIFY(document.isModified());

    // The old photo is still painted on.
    document.paint({QPoint(10, 10)}, {});
    QVERIFY(document.colourLayer()->image().pixel(10, 10) != layerBefore.pixel(10, 10));
}

void TestDocument::historyKeepsWithinItsBound_data()
{
    // A stroke over one row of a 64-pixel-high tile keeps one 64 x 64 tile
    // (16 kB); the bound counts what the steps keep.
    QTest::addColumn<int>("tilesKept");
    QTest::addColumn<int>("undoable");
    QTest::newRow("room for all five") << 5 << 5;
    QTest::newRow("room for three") << 3 << 3;
    QTest::newRow("room for one") << 1 << 1;
    QTest::newRow("room for less than one") << 0 << 0;
}

// The bound is the document's: however the steps come, the history never
// keeps more than its limit, and what it gave up can no longer be undone.
void TestDocument::historyKeepsWithinItsBound()
{
    QFETCH(int, tilesKept);
    QFETCH(int, undoable);
    Document document;
    QCOMPARE(document.open(writePhoto(dir, QStringLiteral("bound.png"), QSize(64 * 5, 64))),
             Document::OpenResult::Opened);
    const qint64 tileBytes = 64 * 64 * 4;
    // Past the tile's own bytes a record keeps a little bookkeeping.
    document.setHistoryLimit(tilesKept * (tileBytes + 1024) + (tilesKept ? 0 : tileBytes / 2));
    // A dot in every tile, painted outside any step, so that no tile is one
    // uniform value (which a record keeps as that value alone).
    for (int i = 0; i < 5; ++i)
        document.paint({QPoint(64 * i, 0)}, {});
    const QImage blank = document.colourLayer()->image().copy();
    for (int i = 0; i < 5; ++i)
        stroke(document, 10, 64 * i + 5, 20); // one tile each, a different one every time
    const QImage painted = document.colourLayer()->image().copy();

    int undone = 0;
    while (document.history()->canUndo()) {
        const QImage before = document.colourLayer()->image().copy();
        document.history()->undo();
        undone += document.colourLayer()->image() != before;
    }
    QCOMPARE(undone, undoable);
    // Undone from the newest: what is left painted is exactly the oldest strokes.
    QImage expected = painted;
    for (int i = 5 - undoable; i < 5; ++i)
        for (int x = 64 * i + 5; x < 64 * i + 25; ++x)
            expected.setPixel(x, 10, blank.pixel(x, 10));
    QCOMPARE(document.colourLayer()->image(), expected);
}

void TestDocument::strokeTooLargeToRecordSaysSo()
{
    Document document;
    QCOMPARE(document.open(writePhoto(dir, QStringLiteral("large.png"), QSize(200, 200))),
             Document::OpenResult::Opened);
    stroke(document, 5, 5, 20);
    QVERIFY(document.history()->canUndo());
    document.paint({QPoint(0, 64), QPoint(64, 64), QPoint(128, 64)}, {}); // no tile of the row is uniform
    document.setHistoryLimit(1000);                                       // less than one tile
    QSignalSpy lost(&document, &Document::historyLost);
    stroke(document, 100, 0, 200);
    QCOMPARE(lost.size(), 1);
    QCOMPARE(lost.at(0).at(0).toString(), QStringLiteral("This stroke was too large to record: it cannot be undone."));
    // Painted all the same, with the history before it given up and the work unsaved.
    QVERIFY(document.colourLayer()->image().pixel(150, 100) != 0);
    QCOMPARE(document.history()->count(), 0);
    QVERIFY(document.isModified());
}

void TestDocument::openingClearsMarksAndHistory()
{
    Document document;
    QCOMPARE(document.open(writePhoto(dir, QStringLiteral("m1.png"), QSize(40, 30))), Document::OpenResult::Opened);
    document.marks()->add(Mark::Keep, QRectF(5, 5, 5, 5));
    stroke(document, 3, 3, 10);
    QVERIFY(document.history()->canUndo());
    QCOMPARE(document.open(writePhoto(dir, QStringLiteral("m2.png"), QSize(40, 30))), Document::OpenResult::Opened);
    QVERIFY(document.marks()->isEmpty());
    QCOMPARE(document.history()->count(), 0);
    QCOMPARE(document.colourLayer()->image().pixel(5, 3), 0u);
}

QTEST_MAIN(TestDocument)
void TestDocument::strokeChangingNothingIsNoStep_data()
{
    QTest::addColumn<bool>("paintFirst"); // a stroke that changes pixels, then saved
    QTest::addColumn<int>("y");           // the stroke that follows
    QTest::addColumn<int>("x");
    QTest::addColumn<int>("length");
    QTest::addColumn<bool>("erase");
    QTest::addColumn<bool>("changes");
    QTest::newRow("erase over nothing") << false << 10 << 0 << 100 << true << false;
    QTest::newRow("erase over nothing, after a saved stroke") << true << 40 << 0 << 100 << true << false;
    QTest::newRow("the same stroke again") << true << 10 << 5 << 50 << false << false;
    QTest::newRow("a stroke off the photo") << true << 500 << 0 << 20 << false << false;
    QTest::newRow("a stroke within the painted row") << true << 10 << 20 << 10 << false << false;
    QTest::newRow("a stroke one pixel further") << true << 10 << 5 << 51 << false << true;
    QTest::newRow("erasing the stroke") << true << 10 << 54 << 1 << true << true;
}

// A stroke or erase that leaves every pixel as it was adds no step and leaves
// the work's saved state as it was; one changed pixel makes a step.
void TestDocument::strokeChangingNothingIsNoStep()
{
    QFETCH(bool, paintFirst);
    QFETCH(int, y);
    QFETCH(int, x);
    QFETCH(int, length);
    QFETCH(bool, erase);
    QFETCH(bool, changes);
    Document document;
    QCOMPARE(document.open(writePhoto(dir, QStringLiteral("empty.png"), QSize(100, 80))), Document::OpenResult::Opened);
    QUndoStack &history = *document.history();
    if (paintFirst) {
        stroke(document, 10, 5, 50);
        QCOMPARE(history.count(), 1);
        history.setClean();
    }
    const int steps = history.count();
    QSignalSpy modified(&document, &Document::modifiedChanged);
    QSignalSpy finished(&document, &Document::strokeFinished);
    stroke(document, y, x, length, erase);
    QCOMPARE(finished.size(), 1);
    QCOMPARE(history.count(), steps + (changes ? 1 : 0));
    QCOMPARE(document.isModified(), changes);
    QCOMPARE(modified.size(), changes ? 1 : 0);
}

#include "tst_document.moc"
