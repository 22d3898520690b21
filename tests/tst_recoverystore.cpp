#include "app/recoverystore.h"
#include "testsupport.h"

#include <QDir>
#include <QFile>
#include <QTransform>
#include <QRandomGenerator>
#include <QtTest>

#include <memory>

namespace {

QImage layerOf(const QString &kind, int w, int h)
{
    QImage layer(w, h, QImage::Format_ARGB32);
    layer.fill(0);
    QRandomGenerator random(7);
    for (int y = 0; y < h; ++y) {
        auto *row = reinterpret_cast<QRgb *>(layer.scanLine(y));
        for (int x = 0; x < w; ++x) {
            if (kind == QLatin1String("left half coloured") && x < w / 2)
                row[x] = qRgba(x % 256, y % 256, (x * y) % 256, 220);
            else if (kind == QLatin1String("any value"))
                row[x] = random.generate(); // colour under alpha 0 must survive too
        }
    }
    return layer;
}

// A JPEG is stored on its side, with the orientation tag that turns it
// upright to w x h.
QString writePhoto(const QString &name, int w, int h)
{
    const QString path = QDir(TestSupport::homeDir()).filePath(name);
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    QImage photo(w, h, QImage::Format_Grayscale8);
    photo.fill(128);
    if (name.endsWith(QLatin1String(".jpg")))
        file.write(TestSupport::jpegWithOrientation(photo.transformed(QTransform().rotate(-90)), 6));
    else
        photo.save(&file, "png");
    return path;
}

// The first write of a layer size only prepares the store's copy.
bool startWrite(RecoveryStore &store, const QString &photo, const QImage &layer)
{
    if (store.write(photo, layer))
        return true;
    store.waitForWrite();
    return store.write(photo, layer);
}

// Writes a record and lets its store go, as a window that dies does.
QString leaveRecord(const QString &photo, const QImage &layer)
{
    RecoveryStore store;
    if (!startWrite(store, photo, layer))
        return QString();
    store.waitForWrite();
    return store.fileName();
}

void clearRecords()
{
    QDir(RecoveryStore::directory()).removeRecursively();
}

} // namespace

class TestRecoveryStore : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { TestSupport::nameApplication(); }
    void init() { clearRecords(); }
    void restoresLayerBitForBit_data();
    void restoresLayerBitForBit();
    void removesUnusableRecords_data();
    void removesUnusableRecords();
    void storesKeepTheirOwnRecords();
};

void TestRecoveryStore::restoresLayerBitForBit_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("photoName");
    QTest::newRow("uncoloured") << "uncoloured" << "photo.png";
    QTest::newRow("left half coloured, alpha 220") << "left half coloured" << "photo.png";
    QTest::newRow("photo on its side with an orientation tag") << "left half coloured" << "camera.jpg";
    QTest::newRow("every channel value, name with spaces and accents")
        << "any value" << QStringLiteral("Sommer am Seeufer %1 (\u00e9t\u00e9).png");
}

void TestRecoveryStore::restoresLayerBitForBit()
{
    QFETCH(QString, kind);
    QFETCH(QString, photoName);
    const QString photo = writePhoto(photoName, 301, 157);
    const QImage layer = layerOf(kind, 301, 157);
    const QDateTime before = QDateTime::currentDateTimeUtc().addMSecs(-1);
    QVERIFY(!leaveRecord(photo, layer).isEmpty());

    QStringList problems;
    const auto record = RecoveryStore::takeOrphan(&problems);
    QVERIFY2(record, qPrintable(problems.join(QLatin1Char(' '))));
    QCOMPARE(record->photoPath, photo);
    QVERIFY(record->time >= before && record->time <= QDateTime::currentDateTimeUtc());
    QCOMPARE(record->layer.format(), QImage::Format_ARGB32);
    QCOMPARE(record->layer, layer);

    // Offered to one start only.
    QVERIFY(!RecoveryStore::takeOrphan(nullptr));
    RecoveryStore::discard(*record);
    QVERIFY(QDir(RecoveryStore::directory()).isEmpty());
}

void TestRecoveryStore::removesUnusableRecords_data()
{
    QTest::addColumn<QString>("damage");
    QTest::addColumn<QString>("message");
    QTest::newRow("truncated") << "truncate" << "damaged";
    QTest::newRow("a flipped bit in the pixels") << "flip" << "damaged";
    QTest::newRow("empty") << "empty" << "damaged";
    QTest::newRow("photo gone") << "remove photo" << "no longer there";
    QTest::newRow("photo replaced by another size") << "resize photo" << "changed";
}

void TestRecoveryStore::removesUnusableRecords()
{
    QFETCH(QString, damage);
    QFETCH(QString, message);
    const QString photo = writePhoto(QStringLiteral("photo.png"), 400, 300);
    const QString other = writePhoto(QStringLiteral("other.png"), 400, 300);
    const QString sound = leaveRecord(other, layerOf(QStringLiteral("left half coloured"), 400, 300));
    QFile older(sound);
    QVERIFY(older.open(QIODevice::ReadWrite));
    older.setFileTime(QDateTime::currentDateTime().addSecs(-60), QFileDevice::FileModificationTime);
    older.close();
    const QString record = leaveRecord(photo, layerOf(QStringLiteral("any value"), 400, 300));

    QFile file(record);
    QVERIFY(file.open(QIODevice::ReadWrite));
    QByteArray bytes = file.readAll();
    if (damage == QLatin1String("truncate"))
        bytes.truncate(bytes.size() / 2);
    else if (damage == QLatin1String("flip"))
        bytes[bytes.size() - 40] = char(bytes.at(bytes.size() - 40) ^ 0x10);
    else if (damage == QLatin1String("empty"))
        bytes.clear();
    file.resize(0);
    file.write(bytes);
    file.close();
    if (damage == QLatin1String("remove photo"))
        QFile::remove(photo);
    else if (damage == QLatin1String("resize photo"))
        writePhoto(QStringLiteral("photo.png"), 300, 400);

    QStringList problems;
    const auto found = RecoveryStore::takeOrphan(&problems);
    QVERIFY(!QFile::exists(record));
    QCOMPARE(problems.size(), 1);
    QVERIFY2(problems.constFirst().contains(message), qPrintable(problems.constFirst()));
    // An older sound record is offered instead.
    QVERIFY(found);
    QCOMPARE(found->fileName, sound);
}

void TestRecoveryStore::storesKeepTheirOwnRecords()
{
    const QString photo = writePhoto(QStringLiteral("photo.png"), 200, 100);
    const QImage first = layerOf(QStringLiteral("left half coloured"), 200, 100);
    const QImage second = layerOf(QStringLiteral("any value"), 200, 100);
    auto one = std::make_unique<RecoveryStore>();
    auto two = std::make_unique<RecoveryStore>();
    QSignalSpy written(two.get(), &RecoveryStore::written);
    QVERIFY(startWrite(*one, photo, first));
    QVERIFY(startWrite(*two, photo, second));
    one->waitForWrite();
    QVERIFY(written.count() == 1 || written.wait());
    QCOMPARE(written.constFirst().constFirst().toBool(), true);
    QVERIFY(one->fileName() != two->fileName());

    // Records of running windows are not offered.
    QVERIFY(!RecoveryStore::takeOrphan(nullptr));

    const QString firstFile = one->fileName();
    one->remove();
    QVERIFY(!QFile::exists(firstFile));
    two.reset();
    const auto left = RecoveryStore::takeOrphan(nullptr);
    QVERIFY(left);
    QCOMPARE(left->layer, second);
}

QTEST_GUILESS_MAIN(TestRecoveryStore)
#include "tst_recoverystore.moc"
