#include "imaging/inbands.h"

#include <algorithm>
#include <cstdint>
#include <exception>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

int InBands::bandsFor(int count, int least, int most)
{
    int bands = std::max(1, int(std::thread::hardware_concurrency()));
    if (most > 0)
        bands = std::min(bands, most);
    return std::clamp(count / std::max(1, least), 1, bands);
}

void InBands::run(int count, const std::function<void(int, int)> &work, int least, int most)
{
    runNumbered(
        count, [&work](int, int first, int end) { work(first, end); }, least, most);
}

void InBands::runNumbered(int count, const std::function<void(int, int, int)> &work, int least, int most)
{
    if (count <= 0)
        return;
    const int bands = bandsFor(count, least, most);
    if (bands == 1) {
        work(0, 0, count);
        return;
    }
    std::vector<std::exception_ptr> failures(static_cast<size_t>(bands));
    const auto band = [&](int b) {
        try {
            work(b, int(std::int64_t(count) * b / bands), int(std::int64_t(count) * (b + 1) / bands));
        } catch (...) {
            failures[size_t(b)] = std::current_exception();
        }
    };
    std::vector<std::thread> threads;
    int started = 1;
    try {
        threads.reserve(size_t(bands));
        for (; started < bands; ++started)
            threads.emplace_back(band, started);
    } catch (const std::system_error &) {
        // No thread to be had: the rest on this one.
    } catch (const std::bad_alloc &) { }
    for (int rest = started; rest < bands; ++rest)
        band(rest);
    band(0);
    for (std::thread &t : threads)
        t.join();
    for (const std::exception_ptr &failure : failures)
        if (failure)
            std::rethrow_exception(failure);
}
