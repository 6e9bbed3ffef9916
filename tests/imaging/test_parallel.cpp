// The parallel loop: every part exactly once, worker numbers inside the
// thread count and never held by two threads at once, nested jobs on their
// caller, jobs from several threads at a time, and many small jobs in a row
// on the kept threads.
#include "imaging/Parallel.h"

#include "core/ProgramOutput.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

// Runs one job and checks what it saw: each part once, workers in range,
// no worker number on two threads at the same time.
void CheckJob(uint32_t parts, unsigned threads)
{
    std::vector<std::atomic<int>> hits(parts);
    std::vector<std::atomic<int>> busy(std::max(threads, 1u));
    std::atomic<int> badWorker{0}, overlap{0};
    qnpar::For(parts, threads, [&](uint32_t part, unsigned worker) {
        if (worker >= std::max(threads, 1u)) {
            ++badWorker;
            return;
        }
        if (busy[worker].fetch_add(1) != 0)
            ++overlap;
        hits[part].fetch_add(1);
        busy[worker].fetch_sub(1);
    });
    EXPECT_EQ(badWorker.load(), 0) << parts << " parts, " << threads << " threads";
    EXPECT_EQ(overlap.load(), 0) << parts << " parts, " << threads << " threads";
    for (uint32_t i = 0; i < parts; ++i)
        ASSERT_EQ(hits[i].load(), 1) << "part " << i << " of " << parts << ", " << threads << " threads";
}

}  // namespace

TEST(Parallel, EveryPartOnceOnDistinctWorkers)
{
    struct Case {
        uint32_t parts;
        unsigned threads;
    };
    for (Case c : {Case{0, 4}, Case{1, 8}, Case{3, 8}, Case{100, 1}, Case{100, 2}, Case{1000, 8}, Case{37, 0},
                   Case{64, 16}, Case{5, 3}})
        CheckJob(c.parts, c.threads);
}

TEST(Parallel, ManySmallJobsInARowAndGrowingThreadCounts)
{
    // The kept threads serve job after job; a later job may want more of
    // them than an earlier one, or fewer.
    for (int round = 0; round < 200; ++round)
        CheckJob(uint32_t(1 + round % 9), unsigned(2 + round % 7));
}

TEST(Parallel, NestedJobRunsOnItsCallerAlone)
{
    std::atomic<int> inner{0}, innerOffCaller{0};
    qnpar::For(8, 4, [&](uint32_t, unsigned) {
        const std::thread::id self = std::this_thread::get_id();
        qnpar::For(5, 4, [&](uint32_t, unsigned worker) {
            ++inner;
            if (worker != 0 || std::this_thread::get_id() != self)
                ++innerOffCaller;
        });
    });
    EXPECT_EQ(inner.load(), 40);
    EXPECT_EQ(innerOffCaller.load(), 0);
}

TEST(Parallel, JobsFromSeveralThreadsAtOnceAllComplete)
{
    std::vector<std::thread> callers;
    std::atomic<int> failures{0};
    for (int c = 0; c < 4; ++c)
        callers.emplace_back([&, c] {
            for (int round = 0; round < 30; ++round) {
                const uint32_t parts = uint32_t(10 + c + round);
                std::vector<std::atomic<int>> hits(parts);
                qnpar::For(parts, 3, [&](uint32_t part, unsigned) { hits[part].fetch_add(1); });
                for (auto& h : hits)
                    if (h.load() != 1)
                        ++failures;
            }
        });
    for (std::thread& t : callers)
        t.join();
    EXPECT_EQ(failures.load(), 0);
}

TEST(Parallel, ThreadCountFromTheEnvironmentWhenValid)
{
    struct Case {
        const char* value;
        bool taken;
    };
    const unsigned machine = [] {
        unsetenv("TESSOLO_THREADS");
        return qnpar::ThreadCount();
    }();
    EXPECT_GE(machine, 1u);
    for (Case c : {Case{"1", true}, Case{"7", true}, Case{"256", true}, Case{"0", false}, Case{"257", false},
                   Case{"3x", false}, Case{"", false}, Case{"-2", false}}) {
        setenv("TESSOLO_THREADS", c.value, 1);
        const unsigned n = qnpar::ThreadCount();
        if (c.taken)
            EXPECT_EQ(n, unsigned(std::stoul(c.value))) << c.value;
        else
            EXPECT_EQ(n, machine) << '"' << c.value << '"';
    }
    unsetenv("TESSOLO_THREADS");
}

// A value that is no thread count is said on standard error in one line of
// the program's, once however many jobs ask, and the machine's count is
// used. Each value runs in a fresh process (gtest's "threadsafe" death test
// starts the program anew), where nothing has been said yet.
TEST(Parallel, ThreadCountNotTakenIsSaidOnce)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    for (const std::string value : {"0", "abc", "257", "99999999999999999999"}) {
        EXPECT_EXIT(
            {
                unsetenv("TESSOLO_THREADS");
                const unsigned machine = qnpar::ThreadCount();
                qnNameProgram("tessolo-tool engine");
                setenv("TESSOLO_THREADS", value.c_str(), 1);
                bool same = qnpar::ThreadCount() == machine;
                qnpar::For(16, qnpar::ThreadCount(), [&](uint32_t, unsigned) {});
                same &= qnpar::ThreadCount() == machine;
                std::exit(same ? 0 : 3);
            },
            testing::ExitedWithCode(0), "^tessolo-tool engine: TESSOLO_THREADS=" + value + " [^\n]*\n$")
            << value;
    }
}
