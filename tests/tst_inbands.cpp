#include "imaging/inbands.h"

#include <QtTest>

#include <atomic>
#include <mutex>
#include <new>
#include <thread>
#include <utility>
#include <vector>

class TestInBands : public QObject
{
    Q_OBJECT

private slots:
    void everyItemOnce_data();
    void everyItemOnce();
    void failureWaitsForEveryBand_data();
    void failureWaitsForEveryBand();
};

void TestInBands::everyItemOnce_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("least");
    QTest::addColumn<int>("most");
    QTest::addColumn<int>("bandsAtMost");

    const int cores = std::max(1, int(std::thread::hardware_concurrency()));
    QTest::newRow("nothing") << 0 << 1 << 0 << 0;
    QTest::newRow("one item") << 1 << 1 << 0 << 1;
    QTest::newRow("two sides") << 2 << 1 << 2 << std::min(2, cores);
    QTest::newRow("one band asked for") << 1000 << 1 << 1 << 1;
    QTest::newRow("too few for a second band") << 100 << 64 << 0 << 1;
    QTest::newRow("rows on every core") << 1001 << 64 << 0 << cores;
    QTest::newRow("more cores than items") << 3 << 1 << 64 << std::min(3, cores);
}

void TestInBands::everyItemOnce()
{
    QFETCH(int, count);
    QFETCH(int, least);
    QFETCH(int, most);
    QFETCH(int, bandsAtMost);

    std::vector<std::atomic_int> visits(size_t(std::max(count, 1)));
    std::mutex lock;
    std::vector<std::pair<int, int>> bands;
    InBands::run(
        count,
        [&](int first, int end) {
            {
                const std::lock_guard<std::mutex> hold(lock);
                bands.emplace_back(first, end);
            }
            for (int i = first; i < end; ++i)
                ++visits[size_t(i)];
        },
        least, most);

    for (int i = 0; i < count; ++i)
        QCOMPARE(visits[size_t(i)].load(), 1);
    QVERIFY(int(bands.size()) <= bandsAtMost);
    for (const auto &[first, end] : bands) {
        QVERIFY(first < end);
        if (bands.size() > 1)
            QVERIFY(end - first >= least);
    }
}

void TestInBands::failureWaitsForEveryBand_data()
{
    QTest::addColumn<int>("failing");

    QTest::newRow("the caller's band fails") << 0;
    QTest::newRow("a thread's band fails") << 1;
}

void TestInBands::failureWaitsForEveryBand()
{
    QFETCH(int, failing);

    // Two bands of 500 items; the failing one stops after its first item.
    std::atomic_int done{0};
    bool thrown = false;
    try {
        InBands::run(
            1000,
            [&](int first, int end) {
                for (int i = first; i < end; ++i) {
                    if (first / 500 == failing && i > first)
                        throw std::bad_alloc();
                    // Slow enough that a band left running would still be
                    // counting when the call returns.
                    QThread::usleep(20);
                    ++done;
                }
            },
            500, 2);
    } catch (const std::bad_alloc &) {
        thrown = true;
    }
    QVERIFY(thrown);
    // Both bands ran: the failing one's first item and all of the other's
    // when there were two threads, or all of the failing one before it
    // failed when there was one band.
    const int bands = std::min(2, std::max(1, int(std::thread::hardware_concurrency())));
    QCOMPARE(done.load(), bands == 2 ? 501 : 1);
}

QTEST_APPLESS_MAIN(TestInBands)
#include "tst_inbands.moc"
