#include "watchdog.h"

#include <cstdio>
#include <cstdlib>

Watchdog::Watchdog(std::chrono::seconds limit)
    : limit(limit)
    , thread(&Watchdog::watch, this)
{ }

Watchdog::~Watchdog()
{
    {
        std::lock_guard lock(mutex);
        stopping = true;
    }
    wake.notify_one();
    thread.join();
}

void Watchdog::arm(const QString &what)
{
    {
        std::lock_guard lock(mutex);
        step = what.toStdString();
        deadline = std::chrono::steady_clock::now() + limit;
        armed = true;
    }
    wake.notify_one();
}

void Watchdog::watch()
{
    std::unique_lock lock(mutex);
    while (!stopping) {
        if (!armed) {
            wake.wait(lock);
            continue;
        }
        if (wake.wait_until(lock, deadline) == std::cv_status::timeout && !stopping
            && std::chrono::steady_clock::now() >= deadline) {
            std::fprintf(stderr, "watchdog: more than %lld s on %s\n", static_cast<long long>(limit.count()),
                         step.c_str());
            std::abort();
        }
    }
}
