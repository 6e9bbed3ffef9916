// The container file as several processes see it: a writer killed at any
// point, writers running at once (and the lock they share), and inputs that
// must be refused before they are read (devices, huge junk).
#include "core/FileLock.h"
#include "core/SafeFile.h"
#include "core/Storage.h"

#include "test_storage_util.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

using namespace storage_test;

namespace {

CQNF_String S(const std::string& s) { return CQNF_String(s.c_str()); }

// Runs body in a child process and returns its exit code (-1: it crashed).
template <typename Body>
pid_t Spawn(Body body)
{
    const pid_t pid = ::fork();
    if (pid == 0)
        ::_exit(body());
    return pid;
}

int Wait(pid_t pid)
{
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

// Peak memory of this process so far, in KiB.
long PeakKiB()
{
    rusage ru{};
    ::getrusage(RUSAGE_SELF, &ru);
    return ru.ru_maxrss;
}

}  // namespace

TEST(StorageProcesses, AWriterEndingAfterAnyOperationLeavesAStampedContainer)
{
    // The process ends without Close, as a killed one would: whatever it
    // wrote last must pass the container's own check.
    using Step = bool (*)(CQNF_Storage&);
    const std::vector<std::pair<const char*, Step>> steps = {
        {"create", [](CQNF_Storage&) { return true; }},
        {"folder", [](CQNF_Storage& st) { return st.AddFolder("F"); }},
        {"big value", [](CQNF_Storage& st) {
             const std::vector<unsigned char> big(1 << 20, 0x5A);
             return st.SetRecord("F>big", big.data(), uint32_t(big.size()));
         }},
        {"removal", [](CQNF_Storage& st) { return st.KillRec("F>big"); }},
        {"rename", [](CQNF_Storage& st) { return st.Rename("F", "G"); }},
    };
    TempDir dir;
    const std::string path = dir.File("c.qns");
    for (size_t upto = 0; upto < steps.size(); ++upto) {
        SCOPED_TRACE(steps[upto].first);
        const int code = Wait(Spawn([&] {
            CQNF_Storage st;
            if (!st.Open(S(path), 2))
                return 2;
            for (size_t i = 0; i <= upto; ++i)
                if (!steps[i].second(st))
                    return 3;
            ::_exit(0);  // no Close, no destructor
        }));
        ASSERT_EQ(code, 0);
        CQNF_Storage check;
        EXPECT_TRUE(check.CheckMD5(S(path))) << check.GetError();
        EXPECT_TRUE(check.Open(S(path), 1));
    }
}

TEST(StorageProcesses, WritersRunningAtOnceKeepEveryKey)
{
    TempDir dir;
    const std::string path = dir.File("shared.qns");
    {
        CQNF_Storage st;
        ASSERT_TRUE(st.Open(S(path), 2));
    }
    // Each writer opens the container once, as the plug-in keeps its
    // settings open, and adds its own keys one operation at a time; one
    // more makes its keys in updates of several operations.
    // Every writer has read the container before any writes: a gate each
    // waits at until the parent closes it.
    constexpr int kWriters = 4, kKeys = 12;
    int gate[2];
    ASSERT_EQ(::pipe(gate), 0);
    std::vector<pid_t> pids;
    for (int w = 0; w < kWriters; ++w) {
        pids.push_back(Spawn([&, w] {
            ::close(gate[1]);
            CQNF_Storage st;
            if (!st.Open(S(path), 0))
                return 2;
            char byte;
            while (::read(gate[0], &byte, 1) > 0) {
            }
            for (int k = 0; k < kKeys; ++k) {
                const std::string key = "w" + std::to_string(w) + ">" + std::to_string(k);
                const bool batched = w == 0;
                if (batched && !st.BeginUpdate())
                    return 3;
                if (k == 0 && !st.AddFolder(S("w" + std::to_string(w))))
                    return 4;
                if (!st.SetRecord(S(key), uint32_t(w * 100 + k)))
                    return 5;
                if (batched && !st.EndUpdate())
                    return 6;
            }
            return st.Close() ? 0 : 7;
        }));
    }
    ::close(gate[0]);
    ::close(gate[1]);
    for (const pid_t pid : pids)
        EXPECT_EQ(Wait(pid), 0);

    CQNF_Storage st;
    ASSERT_TRUE(st.Open(S(path), 1));
    EXPECT_EQ(st.GetTotalRecords(), uint32_t(kWriters * (kKeys + 1)));
    for (int w = 0; w < kWriters; ++w)
        for (int k = 0; k < kKeys; ++k) {
            uint32_t v = 0;
            EXPECT_TRUE(st.GetRec(S("w" + std::to_string(w) + ">" + std::to_string(k)), v)) << w << " " << k;
            EXPECT_EQ(v, uint32_t(w * 100 + k));
        }
    EXPECT_TRUE(st.CheckMD5(S(path)));
}

TEST(StorageProcesses, DevicesAndHugeJunkAreRefusedBeforeTheyAreRead)
{
    TempDir dir;
    // 3 GB of nothing, taking no disk: a sparse file.
    const std::string junk = dir.File("junk.qns");
    WriteFile(junk, {'n', 'o', 't', ' ', 'a', ' ', 'c', 'o'});
    ASSERT_EQ(::truncate(junk.c_str(), off_t(3) << 30), 0);
    const long before = PeakKiB();
    for (const std::string& path : {std::string("/dev/zero"), junk}) {
        SCOPED_TRACE(path);
        for (const unsigned short mode : {0, 1}) {
            CQNF_Storage st;
            EXPECT_FALSE(st.Open(S(path), mode));
            EXPECT_EQ(st.GetError(), qnerr::StorageFormat);
        }
    }
    CQNF_Storage st;
    EXPECT_FALSE(st.CheckMD5(S("/dev/zero"))) << "a device has no stamp to match";
    EXPECT_EQ(st.GetError(), qnerr::StorageFormat);
    EXPECT_LT(PeakKiB() - before, 64L * 1024) << "nothing was read whole";
}

TEST(StorageProcesses, LockedCyclesOnAReplacedFileNeverInterleave)
{
    // Each cycle reads a counter, and replaces the file with the counter
    // plus one: the lock must follow the file from one replacement to the
    // next, or increments are lost.
    TempDir dir;
    const std::string path = dir.File("count");
    WriteFile(path, {0, 0, 0, 0});
    constexpr int kProcesses = 4, kCycles = 25;
    std::vector<pid_t> pids;
    for (int p = 0; p < kProcesses; ++p)
        pids.push_back(Spawn([&] {
            for (int i = 0; i < kCycles; ++i) {
                CQNF_FileLock lock;
                if (!lock.Lock(path))
                    return 2;
                Bytes b = ReadFile(path);
                if (b.size() != 4)
                    return 3;
                Bytes next;
                Put32(next, Get32(b, 0) + 1);
                if (qnReplaceFile(path, next.data(), next.size()) != 0)
                    return 4;
            }
            return 0;
        }));
    for (const pid_t pid : pids)
        EXPECT_EQ(Wait(pid), 0);
    EXPECT_EQ(Get32(ReadFile(path), 0), uint32_t(kProcesses * kCycles));
    CQNF_FileLock none;
    EXPECT_FALSE(none.Lock(dir.File("missing")));
}
