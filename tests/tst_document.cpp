#include "app/document.h"
#include "canvas/czefgraphicsbrushcursoritem.h"
#include "colourlayer/czefgraphicsimagemaskitem.h"
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
    QPixmap pixmapFor(const QImage &photo) override
    {
        return failFrom == 0 ? QPixmap() : Document::pixmapFor(photo);
    }
    QImage allocate(const QSize &size, QImage::Format format) override
    {
        ++allocations;
        return failFrom >= 1 && allocations >= failFrom ? QImage() : Document::allocate(size, format);
    }

private:
    int failFrom = -1;
    int allocations = 0;
};

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
    QGraphicsScene scene;
    QUndoStack history;
    Document document(&scene, &history);
    QCOMPARE(document.open(writePhoto(dir, QStringLiteral("big.png"), QSize(300, 200))),
             Document::OpenResult::Opened);
    QCOMPARE(scene.sceneRect(), QRectF(0, 0, 300, 200));

    // Items reaching past the photo (the brush cursor, marks) leave it so.
    auto *cursor = new CZefGraphicsBrushCursorItem(QRectF(250, 150, 400, 400));
    scene.addItem(cursor);
    QCOMPARE(scene.sceneRect(), QRectF(0, 0, 300, 200));

    QCOMPARE(document.open(writePhoto(dir, QStringLiteral("small.png"), QSize(40, 30))),
             Document::OpenResult::Opened);
    QCOMPARE(scene.sceneRect(), QRectF(0, 0, 40, 30));
    QCOMPARE(document.photoItem()->pixmap().size(), QSize(40, 30));
    QCOMPARE(document.colourLayer()->boundingRect(), QRectF(0, 0, 40, 30));
    delete cursor;
}

void TestDocument::savedStateFollowsTheHistory()
{
    QGraphicsScene scene;
    QUndoStack history;
    Document document(&scene, &history);
    QSignalSpy modified(&document, &Document::modifiedChanged);
    QVERIFY(!document.isModified());
    history.push(new QUndoCommand); // a step before any photo is no unsaved work
    QVERIFY(!document.isModified());

    QCOMPARE(document.open(writePhoto(dir, QStringLiteral("h.png"), QSize(10, 10))),
             Document::OpenResult::Opened);
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
    QCOMPARE(document.open(writePhoto(dir, QStringLiteral("h2.png"), QSize(10, 10))),
             Document::OpenResult::Opened);
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
    QGraphicsScene scene;
    QUndoStack history;
    StarvedDocument document(&scene, &history);
    const QString photo = writePhoto(dir, QStringLiteral("old.png"), QSize(50, 40));
    QCOMPARE(document.open(photo), Document::OpenResult::Opened);
    document.paint({QPoint(5, 5), QPoint(6, 5)}, {});
    history.push(new QUndoCommand);

    const QImage photoBefore = document.photo();
    const QImage shownBefore = document.photoItem()->pixmap().toImage();
    const QImage layerBefore = *document.colourLayer()->maskImage;
    const auto itemsBefore = itemsOf(scene);

    document.failFromStep(failFrom);
    QCOMPARE(document.open(writePhoto(dir, QStringLiteral("new.png"), QSize(70, 60))),
             Document::OpenResult::OutOfMemory);
    QCOMPARE(document.refusedSize(), QSize(70, 60));

    QCOMPARE(document.photo(), photoBefore);
    QCOMPARE(document.photoItem()->pixmap().toImage(), shownBefore);
    QCOMPARE(*document.colourLayer()->maskImage, layerBefore);
    QCOMPARE(itemsOf(scene), itemsBefore);
    QCOMPARE(scene.sceneRect(), QRectF(0, 0, 50, 40));
    QCOMPARE(document.fileName(), photo);
    QCOMPARE(history.count(), 1);
    QVERIFY(document.isModified());

    // The old photo is still painted on.
    document.paint({QPoint(10, 10)}, {});
    QVERIFY(document.colourLayer()->maskImage->pixel(10, 10) != layerBefore.pixel(10, 10));
}

QTEST_MAIN(TestDocument)
#include "tst_document.moc"
