#include "app/previewrunner.h"
#include "canvas/previewitem.h"

#include <QGraphicsScene>
#include <QGraphicsView>
#include <QPainter>
#include <QSignalSpy>
#include <QTest>

#include <QMutex>
#include <QWaitCondition>

namespace {

// A job that runs until it is cancelled or let go, and tells when it started.
struct Gate {
    QMutex mutex;
    QWaitCondition condition;
    bool open = false;
    std::atomic_bool started{false};

    void release()
    {
        QMutexLocker lock(&mutex);
        open = true;
        condition.wakeAll();
    }
    // True when let go, false when cancelled.
    bool wait(const std::atomic_bool *cancel)
    {
        started = true;
        QMutexLocker lock(&mutex);
        while (!open && !*cancel)
            condition.wait(&mutex, 5);
        return open && !*cancel;
    }
};

PreviewRunner::Job gated(Gate *gate, QStringList *log, const QString &name)
{
    return [gate, log, name](const std::atomic_bool *cancel) -> PreviewRunner::Deliver {
        if (!gate->wait(cancel))
            return {};
        return [log, name] { log->append(name); };
    };
}

PreviewRunner::Job immediate(QStringList *log, const QString &name)
{
    return
        [log, name](const std::atomic_bool *) -> PreviewRunner::Deliver { return [log, name] { log->append(name); }; };
}

} // namespace

class TestPreviewRunner : public QObject
{
    Q_OBJECT

private slots:
    void onlyTheNewestRequestIsDelivered();
    void aJobPastTheLimitIsDropped();
    void cancelDropsRunningAndWaiting();
    void aDeliveryMayAskForTheNext();
    void destroyedWhileRunning();
    void pictureCoversThePhoto();
};

void TestPreviewRunner::onlyTheNewestRequestIsDelivered()
{
    PreviewRunner runner;
    QStringList log;
    Gate first;
    runner.request(gated(&first, &log, QStringLiteral("first")));
    QTRY_VERIFY(first.started);
    runner.request(immediate(&log, QStringLiteral("second")));
    runner.request(immediate(&log, QStringLiteral("third")));
    QSignalSpy delivered(&runner, &PreviewRunner::delivered);
    QVERIFY(delivered.wait(5000));
    QCOMPARE(log, QStringList{QStringLiteral("third")});
    QVERIFY(!runner.isBusy());
}

void TestPreviewRunner::aJobPastTheLimitIsDropped()
{
    PreviewRunner runner;
    runner.setTimeLimit(50);
    QStringList log;
    Gate never;
    QSignalSpy delivered(&runner, &PreviewRunner::delivered);
    QSignalSpy timedOut(&runner, &PreviewRunner::timedOut);
    runner.request(gated(&never, &log, QStringLiteral("slow")));
    QVERIFY(timedOut.wait(5000));
    QVERIFY(log.isEmpty());
    QCOMPARE(delivered.count(), 0);
    QVERIFY(!runner.isBusy());
}

void TestPreviewRunner::cancelDropsRunningAndWaiting()
{
    PreviewRunner runner;
    QStringList log;
    Gate first;
    QSignalSpy delivered(&runner, &PreviewRunner::delivered);
    runner.request(gated(&first, &log, QStringLiteral("first")));
    runner.request(immediate(&log, QStringLiteral("second")));
    runner.cancel();
    runner.waitForIdle();
    QCoreApplication::processEvents();
    QVERIFY(log.isEmpty());
    QCOMPARE(delivered.count(), 0);
}

void TestPreviewRunner::aDeliveryMayAskForTheNext()
{
    PreviewRunner runner;
    QStringList log;
    QSignalSpy delivered(&runner, &PreviewRunner::delivered);
    runner.request([&](const std::atomic_bool *) -> PreviewRunner::Deliver {
        return [&] {
            log.append(QStringLiteral("first"));
            runner.request(immediate(&log, QStringLiteral("second")));
        };
    });
    QTRY_COMPARE(delivered.count(), 2);
    QCOMPARE(log, (QStringList{QStringLiteral("first"), QStringLiteral("second")}));
}

void TestPreviewRunner::destroyedWhileRunning()
{
    QStringList log;
    Gate never;
    {
        PreviewRunner runner;
        runner.request(gated(&never, &log, QStringLiteral("never")));
        QTRY_VERIFY(never.started);
    }
    QCoreApplication::processEvents();
    QVERIFY(log.isEmpty());
}

void TestPreviewRunner::pictureCoversThePhoto()
{
    // A preview of a 601 x 401 photo at a third of its size: every photo
    // pixel is under the picture, whatever the rounding.
    QImage picture(201, 134, QImage::Format_ARGB32_Premultiplied);
    picture.fill(qRgba(0, 0, 255, 255));
    QGraphicsScene scene;
    auto *item = new PreviewItem;
    scene.addItem(item);
    item->setPicture(picture, 3);
    QVERIFY(item->boundingRect().contains(QRectF(0, 0, 601, 401)));
    QVERIFY(item->QGraphicsItem::zValue() > 10);
    QImage shown(60, 60, QImage::Format_ARGB32_Premultiplied);
    shown.fill(Qt::white);
    QPainter painter(&shown);
    scene.render(&painter, QRectF(0, 0, 60, 60), QRectF(300, 300, 60, 60));
    painter.end();
    // Translucent blue over white.
    const QColor middle = shown.pixelColor(30, 30);
    QVERIFY(middle.blue() == 255 && middle.red() < 200 && middle.red() > 50);
    item->clear();
    QCOMPARE(item->boundingRect(), QRectF());
}

QTEST_MAIN(TestPreviewRunner)
#include "tst_previewrunner.moc"
