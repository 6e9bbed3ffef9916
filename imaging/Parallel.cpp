// The thread count and the parallel loop (Parallel.h).
#include "imaging/Parallel.h"

#include "core/ProgramOutput.h"

#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace qnpar {

namespace {

// Set on every thread while it runs parts of a job, so that a job started
// inside another (a blur inside a piece) runs on that thread alone instead
// of starting threads of its own on an already busy machine.
thread_local bool t_inJob = false;

using Job = std::function<void(uint32_t part, unsigned worker)>;

// Takes parts from `next` until none is left, as worker `worker`.
void RunParts(const Job& job, std::atomic<uint32_t>& next, uint32_t parts, unsigned worker)
{
    const bool outer = t_inJob;
    t_inJob = true;
    for (uint32_t part = next.fetch_add(1); part < parts; part = next.fetch_add(1))
        job(part, worker);
    t_inJob = outer;
}

// Threads started for this job alone and joined at its end: the way when
// the pool is taken by a job of another thread, or in a child process after
// fork (which has the pool's memory but not its threads).
void RunOnNewThreads(uint32_t parts, unsigned threads, const Job& job)
{
    std::atomic<uint32_t> next{0};
    std::vector<std::thread> started;
    started.reserve(threads - 1);
    for (unsigned w = 1; w < threads; ++w) {
        try {
            started.emplace_back([&, w] { RunParts(job, next, parts, w); });
        } catch (const std::system_error&) {
            break;  // fewer threads: the parts still all get done below
        }
    }
    RunParts(job, next, parts, 0);
    for (std::thread& t : started)
        t.join();
}

// Waits until done() or about `us` microseconds have passed, whichever is
// first; true when done. Jobs come in runs (the stages of a cut, the
// filters of a piece), and a thread that looks for the next one a little
// while finds it sooner than one woken from sleep, which takes tens of
// microseconds on a loaded or virtual machine.
template <class Done>
bool SpinFor(unsigned us, Done&& done)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(us);
    for (;;) {
        for (int i = 0; i < 64; ++i) {
            if (done())
                return true;
#if defined(__x86_64__) || defined(__i386__)
            __builtin_ia32_pause();
#endif
        }
        if (std::chrono::steady_clock::now() >= until)
            return done();
        std::this_thread::yield();
    }
}

constexpr unsigned kSpinMicroseconds = 50;

// Threads kept waiting between jobs, so that a small job (a few pieces after
// an effect change) does not pay for starting threads. The calling thread
// starts on the parts at once; a pool thread joins when it sees the job, and
// one that comes after the caller has taken the last part stays out of it,
// so a slow wake-up on a loaded machine never holds the caller back.
class Pool {
public:
    ~Pool()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stop = true;
        }
        m_wake.notify_all();
        for (std::thread& t : m_threads)
            t.join();
    }

    // False when the pool cannot take the job (busy with another thread's
    // job, stopped, or in a forked child); the caller then runs it otherwise.
    bool Run(uint32_t parts, unsigned threads, const Job& job)
    {
        std::unique_lock<std::mutex> own(m_use, std::try_to_lock);
        if (!own.owns_lock() || getpid() != m_pid)
            return false;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_stop)
                return false;
            Grow(threads - 1);
            m_job = &job;
            m_parts = parts;
            m_next.store(0);
            m_workers = unsigned(std::min<size_t>(threads - 1, m_threads.size()));
            m_open = true;
            m_generation.fetch_add(1, std::memory_order_release);
        }
        m_wake.notify_all();
        RunParts(job, m_next, parts, 0);
        std::unique_lock<std::mutex> lock(m_mutex);
        m_open = false;  // late wakers stay out
        if (m_running.load(std::memory_order_relaxed) != 0) {
            lock.unlock();
            SpinFor(kSpinMicroseconds, [&] { return m_running.load(std::memory_order_acquire) == 0; });
            lock.lock();
        }
        m_idle.wait(lock, [&] { return m_running.load(std::memory_order_relaxed) == 0; });
        m_job = nullptr;
        return true;
    }

private:
    // Starts pool threads up to `count` (fewer when the system refuses).
    void Grow(unsigned count)
    {
        while (m_threads.size() < count) {
            const unsigned worker = unsigned(m_threads.size()) + 1;
            try {
                m_threads.emplace_back([this, worker] { Serve(worker); });
            } catch (const std::system_error&) {
                return;
            }
        }
    }

    void Serve(unsigned worker)
    {
        uint64_t seen = 0;
        for (;;) {
            SpinFor(kSpinMicroseconds, [&] { return m_generation.load(std::memory_order_acquire) != seen; });
            std::unique_lock<std::mutex> lock(m_mutex);
            m_wake.wait(lock, [&] { return m_stop || m_generation.load(std::memory_order_relaxed) != seen; });
            if (m_stop)
                return;
            seen = m_generation.load(std::memory_order_relaxed);
            if (!m_open || worker > m_workers)
                continue;
            m_running.fetch_add(1, std::memory_order_relaxed);
            const Job& job = *m_job;
            const uint32_t parts = m_parts;
            lock.unlock();
            RunParts(job, m_next, parts, worker);
            lock.lock();
            if (m_running.fetch_sub(1, std::memory_order_release) == 1)
                m_idle.notify_all();
        }
    }

    const pid_t m_pid = getpid();
    std::mutex m_use;    // one job at a time
    std::mutex m_mutex;  // everything below
    std::condition_variable m_wake, m_idle;
    std::vector<std::thread> m_threads;  // worker k + 1 is m_threads[k]
    const Job* m_job = nullptr;
    uint32_t m_parts = 0;
    std::atomic<uint32_t> m_next{0};
    unsigned m_workers = 0;  // workers 1 .. m_workers take part
    // Changed under m_mutex; read without it while spinning.
    std::atomic<unsigned> m_running{0};
    std::atomic<uint64_t> m_generation{0};
    bool m_open = false;
    bool m_stop = false;
};

Pool& ThePool()
{
    static Pool pool;
    return pool;
}

unsigned MachineThreads()
{
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

}  // namespace

unsigned ThreadCount()
{
    const char* env = std::getenv("TESSOLO_THREADS");
    if (!env || !*env)
        return MachineThreads();
    char* end = nullptr;
    errno = 0;
    const long n = std::strtol(env, &end, 10);
    if (end != env && *end == '\0' && errno == 0 && n >= long(kMinThreads) && n <= long(kMostThreads))
        return static_cast<unsigned>(n);
    const unsigned machine = MachineThreads();
    // Asked for every job: said once a run, as a line of the program's.
    static std::atomic<bool> said{false};
    if (!said.exchange(true))
        std::fprintf(stderr, "%s: TESSOLO_THREADS=%s is not a number of threads from %u to %u; running on %u\n",
                     qnProgramName().c_str(), qnShownLine(env).c_str(), kMinThreads, kMostThreads, machine);
    return machine;
}

void For(uint32_t parts, unsigned threads, const Job& job)
{
    threads = t_inJob ? 1u : std::max(1u, std::min<unsigned>(threads, parts));
    if (threads == 1) {
        std::atomic<uint32_t> next{0};
        RunParts(job, next, parts, 0);
        return;
    }
    if (!ThePool().Run(parts, threads, job))
        RunOnNewThreads(parts, threads, job);
}

void WaitForFlag(const std::atomic<uint8_t>& flag)
{
    while (!SpinFor(kSpinMicroseconds, [&] { return flag.load(std::memory_order_acquire) != 0; })) {
    }
}

}  // namespace qnpar
