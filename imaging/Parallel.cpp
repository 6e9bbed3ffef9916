// The thread count and the parallel loop (Parallel.h).
#include "imaging/Parallel.h"

#include <sched.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <system_error>
#include <thread>
#include <vector>

namespace qnpar {

namespace {

// Set on every thread while it runs parts of a job, so that a job started
// inside another (a blur inside a piece) runs on that thread alone instead
// of starting threads of its own on an already busy machine.
thread_local bool t_inJob = false;

}  // namespace

unsigned ThreadCount()
{
    if (const char* env = std::getenv("TESSOLO_THREADS")) {
        char* end = nullptr;
        const long n = std::strtol(env, &end, 10);
        if (end != env && *end == '\0' && n >= 1 && n <= 256)
            return static_cast<unsigned>(n);
    }
#if defined(__linux__)
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0) {
        const int n = CPU_COUNT(&set);
        if (n >= 1)
            return static_cast<unsigned>(n);
    }
#endif
    return std::max(1u, std::thread::hardware_concurrency());
}

void For(uint32_t parts, unsigned threads, const std::function<void(uint32_t part, unsigned worker)>& job)
{
    threads = t_inJob ? 1u : std::max(1u, std::min<unsigned>(threads, parts));
    std::atomic<uint32_t> next{0};
    auto run = [&](unsigned worker) {
        const bool outer = t_inJob;
        t_inJob = true;
        for (uint32_t part = next.fetch_add(1); part < parts; part = next.fetch_add(1))
            job(part, worker);
        t_inJob = outer;
    };
    std::vector<std::thread> pool;
    pool.reserve(threads - 1);
    for (unsigned w = 1; w < threads; ++w) {
        try {
            pool.emplace_back(run, w);
        } catch (const std::system_error&) {
            break;  // fewer threads: the parts still all get done below
        }
    }
    run(0);
    for (std::thread& t : pool)
        t.join();
}

}  // namespace qnpar
