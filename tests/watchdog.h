#ifndef WATCHDOG_H
#define WATCHDOG_H

#include <QString>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

// Aborts the process, naming what it was doing, when one step of a long run
// takes longer than the limit: a hang then fails the run at once, with the
// input that caused it, instead of at the test's overall timeout.
class Watchdog
{
public:
    explicit Watchdog(std::chrono::seconds limit);
    ~Watchdog();
    Watchdog(const Watchdog &) = delete;
    Watchdog &operator=(const Watchdog &) = delete;

    // Starts a new step with the whole limit before it.
    void arm(const QString &step);

private:
    void watch();

    const std::chrono::seconds limit;
    std::mutex mutex;
    std::condition_variable wake;
    std::string step;
    std::chrono::steady_clock::time_point deadline;
    bool armed = false;
    bool stopping = false;
    std::thread thread;
};

#endif // WATCHDOG_H
