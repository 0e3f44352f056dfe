// Runs independent bands of rows on a few threads. For loops whose result does not
// depend on the order rows are done in: each row is written by exactly one call and
// reads only what no other row writes.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <system_error>
#include <thread>
#include <vector>

namespace qel {

// Most row-band threads the calling thread may use; 0 for no limit. A caller that already runs
// one picture per core sets 1 on each of its workers so they do not share the cores again.
inline int& rowThreadLimit() {
    thread_local int limit = 0;
    return limit;
}

// Threads used for row bands (the machine's cores, at most 8, at most rowThreadLimit()).
inline int rowThreads() {
    // Asking the system costs a few file reads: once per process is enough.
    static const unsigned n = std::thread::hardware_concurrency();
    const int threads = static_cast<int>(std::clamp(n, 1u, 8u));
    return rowThreadLimit() > 0 ? std::min(threads, rowThreadLimit()) : threads;
}

// Calls body(worker, first, last) for consecutive bands [first, last) covering 0..rows, on
// up to rowThreads() threads when rows * workPerRow is large enough to pay for them, else
// on the calling thread. Bands are handed out as threads become free; `worker` (0 up to
// rowThreads() - 1) names the thread running the band, for state kept per thread. A thread takes
// at most `mostRows` rows at a time (1: rows are taken strictly in order, one by one).
template <typename Body>
void forEachRowBandOnWorkers(int64_t rows, int64_t workPerRow, Body&& body, int64_t mostRows = 64) {
    constexpr int64_t kMinWork = int64_t(1) << 17;
    if (rows <= 0) return;
    const bool small = rows < 2 || rows * std::max<int64_t>(workPerRow, 1) < kMinWork;
    const int threads = small ? 1 : rowThreads();
    if (threads < 2) {
        body(0, int64_t(0), rows);
        return;
    }
    const int64_t band = std::max<int64_t>(1, std::min<int64_t>(mostRows, rows / (8 * threads)));
    std::atomic<int64_t> next{0};
    auto run = [&](int worker) {
        for (;;) {
            const int64_t first = next.fetch_add(band);
            if (first >= rows) return;
            body(worker, first, std::min(rows, first + band));
        }
    };
    std::vector<std::thread> helpers;
    helpers.reserve(static_cast<size_t>(threads - 1));
    try {
        for (int i = 1; i < threads; ++i) helpers.emplace_back(run, i);
    } catch (const std::system_error&) {
        // No more threads to be had: the ones started and this one share the rows.
    }
    run(0);
    for (auto& t : helpers) t.join();
}

// The same without the worker index: body(first, last).
template <typename Body>
void forEachRowBand(int64_t rows, int64_t workPerRow, Body&& body, int64_t mostRows = 64) {
    forEachRowBandOnWorkers(rows, workPerRow, [&body](int, int64_t first, int64_t last) { body(first, last); }, mostRows);
}

}  // namespace qel
