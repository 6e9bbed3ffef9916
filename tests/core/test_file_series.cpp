// A series of files goes in whole or not at all, also when its run is
// killed while replacing the targets or runs beside others in one folder,
// and staging folders of dead runs are cleared while a live run's is kept.
#include "core/FileSeries.h"

#include "test_storage_util.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <thread>

using namespace storage_test;
namespace fs = std::filesystem;

namespace {

std::map<std::string, std::string> Contents(const std::string& dir)
{
    std::map<std::string, std::string> all;
    for (const auto& e : fs::directory_iterator(dir)) {
        const Bytes b = e.is_regular_file() ? ReadFile(e.path().string()) : Bytes{};
        all[e.path().filename().string()] = e.is_regular_file() ? std::string(b.begin(), b.end()) : "(folder)";
    }
    return all;
}

void Put(const std::string& path, const std::string& text) { WriteFile(path, Bytes(text.begin(), text.end())); }

// Stages names (each holding tag and its name) in a series begun in dir and
// commits it; false with the failure in failure.
bool WriteSeries(CQNF_FileSeries& series, const std::string& dir, const std::vector<std::string>& names,
                 const std::string& tag, std::string& failure)
{
    bool ok = series.Begin(dir, names[0]);
    for (size_t k = 0; ok && k < names.size(); ++k) {
        Put(series.StagedPath(names[k]), tag + names[k]);
        series.Add(names[k]);
    }
    ok = ok && series.Commit();
    failure = series.Failure();
    return ok;
}

bool WriteSeries(const std::string& dir, const std::vector<std::string>& names, const std::string& tag)
{
    CQNF_FileSeries series;
    std::string failure;
    return WriteSeries(series, dir, names, tag, failure);
}

enum class Holds { OldSet, NewSet, Neither };

// What a folder holds of a series written over before: exactly what it held
// (the old set), that with every name of the series holding tag and its
// name (the new set), or neither. Names in ignore are left out of the
// comparison; a staging folder left behind makes it neither.
Holds Judge(std::map<std::string, std::string> now, const std::map<std::string, std::string>& before,
            const std::vector<std::string>& names, const std::string& tag, const std::vector<std::string>& ignore)
{
    for (const std::string& name : ignore)
        now.erase(name);
    std::map<std::string, std::string> fresh = before;
    for (const std::string& name : names)
        fresh[name] = tag + name;
    return now == before ? Holds::OldSet : now == fresh ? Holds::NewSet : Holds::Neither;
}

std::vector<std::string> Names(size_t count)
{
    std::vector<std::string> names;
    for (size_t k = 1; k <= count; ++k)
        names.push_back("p_" + std::to_string(k) + ".png");
    return names;
}

// A folder holding old files under the first three names of a series and one
// file that is no part of it.
std::map<std::string, std::string> PutOldFiles(const std::string& dir, const std::vector<std::string>& names)
{
    for (size_t k = 0; k < 3 && k < names.size(); ++k)
        Put(dir + "/" + names[k], "old " + names[k]);
    Put(dir + "/notes.txt", "not in the series");
    return Contents(dir);
}

// In a child process: how many targets its commit replaces before it
// kills itself, and where it says that its commit has begun.
size_t g_killWhenPlaced = 0;
int g_commitBegunFd = -1;

void KillWhenPlaced(size_t placed)
{
    if (placed == g_killWhenPlaced)
        ::kill(::getpid(), SIGKILL);
}

void SayCommitBegun(size_t placed)
{
    if (placed == 0)
        (void)!::write(g_commitBegunFd, "c", 1);
}

}  // namespace

// A file that cannot be put in place late in the series: the targets it had
// already replaced get their old files back, the new ones go.
TEST(FileSeries, AFailureWhilePlacingPutsEveryTargetBack)
{
    TempDir dir;
    Put(dir.File("a.png"), "old a");
    Put(dir.File("c.png"), "old c");
    const auto before = Contents(dir.Path());
    for (const char* lost : {"a.png", "b.png", "c.png"}) {
        CQNF_FileSeries series;
        ASSERT_TRUE(series.Begin(dir.Path(), "a.png"));
        for (const char* name : {"a.png", "b.png", "c.png"}) {
            Put(series.StagedPath(name), std::string("new ") + name);
            series.Add(name);
        }
        // The staged file vanishes: its rename fails after the ones before it.
        fs::remove(series.StagedPath(lost));
        EXPECT_FALSE(series.Commit()) << lost;
        EXPECT_NE(series.Failure().find(lost), std::string::npos) << series.Failure();
        EXPECT_EQ(Contents(dir.Path()), before) << lost;
    }
    CQNF_FileSeries series;
    ASSERT_TRUE(series.Begin(dir.Path(), "a.png"));
    for (const char* name : {"a.png", "b.png"}) {
        Put(series.StagedPath(name), std::string("new ") + name);
        series.Add(name);
    }
    ASSERT_TRUE(series.Commit()) << series.Failure();
    EXPECT_EQ(Contents(dir.Path()),
              (std::map<std::string, std::string>{{"a.png", "new a.png"}, {"b.png", "new b.png"}, {"c.png", "old c"}}));
}

// Begin clears what dead runs left, also a staging folder that an
// interrupted run had renamed for removal when it was killed; a staging
// folder whose run still holds its lock, or a folder that only looks alike,
// stays.
TEST(FileSeries, BeginClearsOnlyDeadRunsStagingFolders)
{
    TempDir dir;
    const struct {
        const char* name;
        bool locked;
        bool stays;
    } cases[] = {
        {".p_0001.png.series-AbC123", false, false},
        {".other.png.series-zzzzzz", false, false},
        {".p_0001.png.series-Live00", true, true},
        {".p_0001.png.series-toolong", false, true},
        {"p.series-AbC123", false, true},
        // Renamed by SIGINT or SIGTERM, then killed before it was emptied.
        {".p_0001.png.series-AbC124.gone", false, false},
        {".p_0001.png.series-Live01.gone", true, true},
        {".p_0001.png.series-AbC125.gonex", false, true},
        {"p.series-AbC126.gone", false, true},
    };
    std::vector<int> locks;
    for (const auto& c : cases) {
        fs::create_directory(dir.File(c.name));
        Put(dir.File(c.name) + "/p_0001.png", "piece");
        if (c.locked) {
            locks.push_back(::open(dir.File(c.name).c_str(), O_RDONLY | O_DIRECTORY));
            ASSERT_EQ(::flock(locks.back(), LOCK_EX | LOCK_NB), 0);
        }
    }
    CQNF_FileSeries series;
    ASSERT_TRUE(series.Begin(dir.Path(), "p_0001.png"));
    for (const auto& c : cases)
        EXPECT_EQ(fs::exists(dir.File(c.name)), c.stays) << c.name;
    series.Abandon();
    for (const int fd : locks)
        ::close(fd);
    size_t left = 0;
    for (const auto& c : cases)
        left += c.stays;
    EXPECT_EQ(Contents(dir.Path()).size(), left);
}

// A run killed at any point of its renames leaves its backups behind; the
// next series in the folder, begun after the kill or before it, puts every
// old file back before it removes them, whatever it writes itself.
TEST(FileSeries, ARunKilledWhileReplacingIsPutBackByTheNextSeries)
{
    const std::vector<std::string> names = Names(5);
    const std::vector<std::string> second = {"other.png"};
    const struct {
        size_t killWhenPlaced;
        bool nextBegunBefore;
    } cases[] = {{0, false}, {1, false}, {2, false}, {3, false}, {4, false}, {5, false}, {2, true}, {5, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE("killed after " + std::to_string(c.killWhenPlaced) + " renames" +
                     (c.nextBegunBefore ? ", next series begun before" : ""));
        TempDir dir;
        const auto before = PutOldFiles(dir.Path(), names);
        auto next = std::make_unique<CQNF_FileSeries>();
        if (c.nextBegunBefore) {
            ASSERT_TRUE(next->Begin(dir.Path(), second[0]));
        }
        const pid_t pid = ::fork();
        if (pid == 0) {
            g_killWhenPlaced = c.killWhenPlaced;
            CQNF_FileSeries::SetCommitHook(KillWhenPlaced);
            ::_exit(WriteSeries(dir.Path(), names, "new ") ? 0 : 1);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "the run was not killed in its commit";
        if (c.killWhenPlaced > 0) {
            ASSERT_EQ(Contents(dir.Path())[names[0]], "new " + names[0]) << "the kill came before any rename";
        }

        std::string failure;
        if (c.nextBegunBefore) {
            Put(next->StagedPath(second[0]), "second " + second[0]);
            next->Add(second[0]);
            ASSERT_TRUE(next->Commit()) << next->Failure();
        } else {
            ASSERT_TRUE(WriteSeries(*next, dir.Path(), second, "second ", failure)) << failure;
        }
        const auto after = Contents(dir.Path());
        EXPECT_NE(Judge(after, before, names, "new ", second), Holds::Neither);
        EXPECT_EQ(after.count(second[0]) ? after.at(second[0]) : "", "second " + second[0]);
    }
}

// Runs a series in a child process started in the folder from; false
// when it fails (its failure printed) or dies.
bool WriteSeriesFrom(const std::string& from, const std::string& dir, const std::vector<std::string>& names,
                     const std::string& tag)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        CQNF_FileSeries series;
        std::string failure;
        const bool ok = ::chdir(from.c_str()) == 0 && WriteSeries(series, dir, names, tag, failure);
        if (!ok)
            std::fprintf(stderr, "%s\n", failure.c_str());
        ::_exit(ok ? 0 : 1);
    }
    int status = 0;
    return pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Whether a run started in the folder from, writing names (tagged "new ")
// into dir, was killed by SIGKILL after its commit placed killWhenPlaced.
bool KilledInCommit(const std::string& from, const std::string& dir, const std::vector<std::string>& names,
                    size_t killWhenPlaced)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        g_killWhenPlaced = killWhenPlaced;
        CQNF_FileSeries::SetCommitHook(KillWhenPlaced);
        ::_exit(::chdir(from.c_str()) == 0 && WriteSeries(dir, names, "new ") ? 0 : 1);
    }
    int status = 0;
    return pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
}

// A run killed in its commit, started in one folder and naming the series'
// folder relative to it; the next series into that folder is started in
// another folder, beside a folder of the same name there (a bystander) or
// none. The dead run's old files go back into the series' own folder, the
// bystander is left alone, and the next series succeeds.
TEST(FileSeries, ARunKilledInItsCommitIsPutBackFromAnyFolder)
{
    const std::vector<std::string> names = Names(5);
    const std::vector<std::string> second = {"other.png"};
    for (const size_t killWhenPlaced : {size_t(0), size_t(2), size_t(5)}) {
        for (const bool bystander : {true, false}) {
            SCOPED_TRACE("killed after " + std::to_string(killWhenPlaced) + " renames" +
                         (bystander ? ", a bystander folder" : ""));
            TempDir top;
            fs::create_directory(top.File("ser"));
            fs::create_directory(top.File("other"));
            const auto before = PutOldFiles(top.File("ser"), names);
            if (bystander) {
                fs::create_directory(top.File("other/ser"));
                Put(top.File("other/ser/mine.txt"), "a bystander's");
            }
            const auto beside = Contents(top.File("other"));
            const auto besideInside = bystander ? Contents(top.File("other/ser")) : decltype(before){};

            ASSERT_TRUE(KilledInCommit(top.Path(), "ser", names, killWhenPlaced))
                << "the run was not killed in its commit";
            size_t journals = 0;
            for (const auto& e : fs::directory_iterator(top.File("ser")))
                journals += fs::exists(e.path() / "journal~~");
            ASSERT_EQ(journals, 1u) << "the dead run left no journal";

            ASSERT_TRUE(WriteSeriesFrom(top.File("other"), "../ser", second, "second "));
            EXPECT_EQ(Judge(Contents(top.File("ser")), before, names, "new ", second), Holds::OldSet);
            EXPECT_EQ(Contents(top.File("ser"))[second[0]], "second " + second[0]);
            EXPECT_EQ(Contents(top.File("other")), beside);
            if (bystander) {
                EXPECT_EQ(Contents(top.File("other/ser")), besideInside);
            }
        }
    }
}

// A file of the series that is a link leading out of the folder: its end
// was replaced, and a run killed after that is put back by the next series
// from another folder, the end getting its old file back and the link
// staying; every later series then succeeds.
TEST(FileSeries, ARunKilledAfterReplacingALinksEndIsPutBack)
{
    const std::vector<std::string> names = Names(5);
    const std::vector<std::string> second = {"other.png"};
    for (const size_t killWhenPlaced : {size_t(4), size_t(5)}) {
        SCOPED_TRACE("killed after " + std::to_string(killWhenPlaced) + " renames");
        TempDir top;
        for (const char* folder : {"ser", "other", "away"})
            fs::create_directory(top.File(folder));
        Put(top.File("away/end.png"), "old end");
        fs::create_symlink("../away/end.png", top.File("ser/" + names[3]));
        const auto before = PutOldFiles(top.File("ser"), names);
        const auto away = Contents(top.File("away"));

        ASSERT_TRUE(KilledInCommit(top.Path(), "ser", names, killWhenPlaced))
            << "the run was not killed in its commit";
        ASSERT_EQ(Contents(top.File("away"))["end.png"], "new " + names[3]) << "the kill came before the link's end";

        EXPECT_TRUE(WriteSeriesFrom(top.File("other"), "../ser", second, "second "));
        EXPECT_EQ(Judge(Contents(top.File("ser")), before, names, "new ", second), Holds::OldSet);
        EXPECT_EQ(Contents(top.File("away")), away);
        EXPECT_TRUE(fs::is_symlink(top.File("ser/" + names[3])));
        EXPECT_TRUE(WriteSeriesFrom(top.File("other"), "../ser", names, "third "));
        EXPECT_EQ(Contents(top.File("away"))["end.png"], "third " + names[3]);
    }
}

// Killed at random moments, while writing its files or while putting them
// in place: after the next series the folder holds the whole old set or the
// whole new one, never a mixture and never a dead run's staging folder.
TEST(FileSeries, RunsKilledAtRandomMomentsLeaveTheOldOrTheNewSet)
{
    const std::vector<std::string> names = Names(150);
    const std::vector<std::string> second = {"other.png"};
    // Starts a run in a child; waits until it has begun, and with
    // untilCommit until its commit has. Returns its process.
    auto start = [&](const std::string& dir, bool untilCommit) {
        int pipeFds[2];
        if (::pipe(pipeFds) != 0)
            return pid_t(-1);
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::close(pipeFds[0]);
            // The parent may have stopped listening.
            ::signal(SIGPIPE, SIG_IGN);
            g_commitBegunFd = pipeFds[1];
            CQNF_FileSeries::SetCommitHook(SayCommitBegun);
            (void)!::write(pipeFds[1], "s", 1);
            ::_exit(WriteSeries(dir, names, "new ") ? 0 : 1);
        }
        ::close(pipeFds[1]);
        char byte = 0;
        bool ok = ::read(pipeFds[0], &byte, 1) == 1;
        if (untilCommit)
            ok = ok && ::read(pipeFds[0], &byte, 1) == 1;
        ::close(pipeFds[0]);
        return ok ? pid : pid_t(-1);
    };
    using Clock = std::chrono::steady_clock;
    // How long a whole run and its commit take here, unkilled: the moments
    // to kill at are drawn from those spans.
    std::chrono::microseconds spans[2];
    for (const bool untilCommit : {false, true}) {
        TempDir dir;
        PutOldFiles(dir.Path(), names);
        const pid_t pid = start(dir.Path(), untilCommit);
        ASSERT_GT(pid, 0);
        const auto t0 = Clock::now();
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        spans[untilCommit] = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - t0);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    std::mt19937 random(20240517);
    for (int round = 0; round < 24; ++round) {
        const bool untilCommit = round % 2 == 1;
        const auto delay = std::chrono::microseconds(
            std::uniform_int_distribution<long>(0, long(spans[untilCommit].count()))(random));
        SCOPED_TRACE("round " + std::to_string(round) + ", killed " + std::to_string(delay.count()) + " us after " +
                     (untilCommit ? "its commit began" : "it began"));
        TempDir dir;
        const auto before = PutOldFiles(dir.Path(), names);
        const pid_t pid = start(dir.Path(), untilCommit);
        ASSERT_GT(pid, 0);
        std::this_thread::sleep_for(delay);
        ::kill(pid, SIGKILL);
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFSIGNALED(status) || (WIFEXITED(status) && WEXITSTATUS(status) == 0));
        ASSERT_TRUE(WriteSeries(dir.Path(), second, "second "));
        EXPECT_NE(Judge(Contents(dir.Path()), before, names, "new ", second), Holds::Neither);
    }
}

// Eight runs write series of the same names into one folder at once, many
// times each: every one of them succeeds (none loses its staging folder to
// another's sweep), and the folder ends with the whole series of one run.
TEST(FileSeries, EightRunsIntoOneFolderAtOnceAllSucceedWhole)
{
    TempDir dir;
    const std::vector<std::string> names = Names(3);
    constexpr int kRuns = 8;
    constexpr int kSeriesEach = 12;
    int gate[2];
    ASSERT_EQ(::pipe(gate), 0);
    std::vector<pid_t> runs;
    for (int r = 0; r < kRuns; ++r) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            // All start together, when the gate closes.
            ::close(gate[1]);
            char byte;
            (void)!::read(gate[0], &byte, 1);
            for (int k = 0; k < kSeriesEach; ++k) {
                CQNF_FileSeries series;
                std::string failure;
                const std::string tag = "run " + std::to_string(r) + " series " + std::to_string(k) + ": ";
                if (!WriteSeries(series, dir.Path(), names, tag, failure)) {
                    std::fprintf(stderr, "%s%s\n", tag.c_str(), failure.c_str());
                    ::_exit(1);
                }
            }
            ::_exit(0);
        }
        ASSERT_GT(pid, 0);
        runs.push_back(pid);
    }
    ::close(gate[0]);
    ::close(gate[1]);
    for (const pid_t pid : runs) {
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a run failed (see its line above)";
    }
    const auto after = Contents(dir.Path());
    ASSERT_EQ(after.size(), names.size());
    const std::string& first = after.begin()->second;
    const std::string tag = first.substr(0, first.find(": ") + 2);
    EXPECT_EQ(Judge(after, {}, names, tag, {}), Holds::NewSet) << "the files come from different runs";
}

// Journals no series may act on, planted or copied into a folder or cut
// short: each names a file outside the folder (by an absolute path, in the
// form of either version, or by ".."), or a file of the folder while it lies
// in a staging folder other than the one it was written in or on another
// disk, or reads only in part; or the staging folder is a link to a dead
// run's elsewhere. The planted old file would go over the file named, which
// the journal describes truly. Each is refused in one line naming the
// staging folder, before the work and again when the series begins;
// nothing changes inside the folder or outside it, and the staging folder
// stays as it was.
TEST(FileSeries, AJournalNamingAnythingButAFileOfItsFolderIsRefused)
{
    TempDir top;
    const std::string victim = top.File("victim.txt");
    Put(victim, "precious");
    auto ident = [](const std::string& path) {
        struct stat st {};
        ::stat(path.c_str(), &st);
        return std::to_string(st.st_dev) + " " + std::to_string(st.st_ino) + " " + std::to_string(st.st_size);
    };
    auto inode = [](const std::string& path) {
        struct stat st {};
        ::stat(path.c_str(), &st);
        return std::to_string(st.st_dev) + " " + std::to_string(st.st_ino);
    };
    const std::string nul(1, '\0');
    const std::string v1 = "tessolo series journal 1\n", v2 = "tessolo series journal 2\n",
                      v3 = "tessolo series journal 3\n", v4 = "tessolo series journal 4\n";
    // The journal for a staging folder at staging in folder.
    using Make = std::function<std::string(const std::string& folder, const std::string& staging)>;
    const struct {
        const char* what;
        Make journal;
        bool linked;  // the staging folder is a link to one beside the victim
    } cases[] = {
        {"an absolute path, version 2",
         [&](const std::string&, const std::string&) { return v2 + ident(victim) + " p_1.png" + nul + victim + nul; },
         false},
        {"an absolute path, version 3",
         [&](const std::string& folder, const std::string& staging) {
             return v3 + inode(folder) + " " + inode(staging) + " 1\n" + ident(victim) + " p_1.png" + nul + victim + nul;
         },
         false},
        {"a path out of the folder, version 3",
         [&](const std::string& folder, const std::string& staging) {
             return v3 + inode(folder) + " " + inode(staging) + " 1\n" + ident(victim) + " p_1.png" + nul +
                    "../victim.txt" + nul;
         },
         false},
        {"the folder above, version 1",
         [&](const std::string& folder, const std::string&) { return v1 + ident(folder + "/..") + " .." + nul; },
         false},
        {"a staging folder it was not written in",
         [&](const std::string& folder, const std::string&) {
             return v3 + inode(folder) + " " + inode(folder) + " 1\n" + ident(folder + "/p_1.png") + " p_1.png" +
                    nul + "p_1.png" + nul;
         },
         false},
        {"a journal of another disk, version 4",
         [&](const std::string& folder, const std::string& staging) {
             return v4 + "1 " + inode(folder) + " " + inode(staging) + " 1\n" + ident(folder + "/p_1.png") + " " +
                    std::string(32, '0') + " p_1.png" + nul + "p_1.png" + nul;
         },
         false},
        {"cut short in an entry",
         [&](const std::string& folder, const std::string&) {
             return v2 + ident(folder + "/p_1.png") + " p_1.png" + nul + folder + "/p_1.png" + nul +
                    ident(folder + "/p_2.png") + " p_2.p";
         },
         false},
        {"cut short between entries",
         [&](const std::string& folder, const std::string& staging) {
             return v3 + inode(folder) + " " + inode(staging) + " 2\n" + ident(folder + "/p_1.png") + " p_1.png" +
                    nul + "p_1.png" + nul;
         },
         false},
        {"a link to a dead run's staging folder elsewhere",
         [&](const std::string&, const std::string&) { return v2 + ident(victim) + " p_1.png" + nul + victim + nul; },
         true},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string folder = top.File("shared" + std::to_string(++n));
        fs::create_directory(folder);
        Put(folder + "/p_1.png", "old p_1");
        Put(folder + "/p_2.png", "old p_2");
        const std::string name = ".p_1.png.series-Plant" + std::to_string(n);
        const std::string staging =
            c.linked ? top.File(name) : folder + "/" + name;
        fs::create_directory(staging);
        if (c.linked)
            fs::create_symlink(staging, folder + "/" + name);
        Put(staging + "/p_1.png~", "planted");
        Put(staging + "/p_2.png~", "planted");
        Put(staging + "/journal~~", c.journal(folder, staging));
        const auto inFolder = Contents(folder);
        const auto inStaging = Contents(staging);

        const std::string early = CQNF_FileSeries::Refusal(folder, 0);
        EXPECT_NE(early.find(name), std::string::npos) << early;
        EXPECT_EQ(early.find('\n'), std::string::npos) << early;
        CQNF_FileSeries series;
        EXPECT_FALSE(series.Begin(folder, "p_1.png"));
        EXPECT_NE(series.Failure().find(name), std::string::npos) << series.Failure();
        EXPECT_EQ(series.Failure().find('\n'), std::string::npos) << series.Failure();
        series.Abandon();

        EXPECT_EQ(Contents(folder), inFolder);
        EXPECT_EQ(Contents(staging), inStaging);
        EXPECT_EQ(ReadFile(victim), Bytes({'p', 'r', 'e', 'c', 'i', 'o', 'u', 's'}));
    }
}

namespace {

// The staging folder a dead run left in dir (empty: none).
std::string StagingFolder(const std::string& dir)
{
    for (const auto& e : fs::directory_iterator(dir))
        if (e.is_directory() && e.path().filename().string().find(CQNF_FileSeries::kStagingMark) != std::string::npos)
            return e.path().string();
    return {};
}

// Rewrites the journal in staging in the form series wrote before their
// journals held digests (version 3), keeping when it was written.
bool WriteOlderForm(const std::string& staging)
{
    const std::string path = staging + "/journal~~";
    struct stat st;
    const Bytes bytes = ReadFile(path);
    CQNF_FileSeries::Journal journal;
    std::string why;
    if (::stat(path.c_str(), &st) != 0 || !CQNF_FileSeries::ParseJournal(bytes.data(), bytes.size(), journal, why))
        return false;
    std::string text = "tessolo series journal 3\n";
    for (const uint64_t n : {journal.folderDevice, journal.folderInode, journal.stagingDevice, journal.stagingInode})
        text += std::to_string(n) + ' ';
    text += std::to_string(journal.entries.size()) + '\n';
    for (const auto& e : journal.entries)
        text += std::to_string(e.device) + ' ' + std::to_string(e.inode) + ' ' + std::to_string(e.size) + ' ' + e.name +
                '\0' + e.file + '\0';
    Put(path, text);
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    return ::utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
}

// Changes the first three bytes of the file at path in place, as an editor
// that keeps its size does, a second after at.
void EditInPlace(const std::string& path, const std::string& three, const struct timespec& at)
{
    const int fd = ::open(path.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0) << path;
    ASSERT_EQ(::pwrite(fd, three.data(), 3, 0), 3);
    struct timespec later[2] = {at, at};
    later[0].tv_sec += 1;
    later[1].tv_sec += 1;
    ASSERT_EQ(::futimens(fd, later), 0);
    ::close(fd);
}

size_t Lines(const std::string& text) { return size_t(std::count(text.begin(), text.end(), '\n')); }

}  // namespace

// A run killed in its commit, after which the user edits two of its new
// files in place, keeping their sizes: one that replaced an old file and
// one that had none. The next series, of another name, puts back only what
// is still as the dead run left it: the edited files stay as the user left
// them, the old file of the one that had one is kept beside it (under a
// name of its own, never over the user's file of the first name tried), and
// one line says so. A next series of the same name, which replaces the
// edited files, keeps each beside its new file first (again never over the
// user's file of the first name tried), with one line for each that says
// where each kept file is. A journal of the older form, which holds no
// digests, is judged alike by when the files were last written.
TEST(FileSeries, AFileChangedAfterAKilledCommitStaysWithItsOldFileBeside)
{
    const std::vector<std::string> names = Names(5);
    for (const int form : {0, 1, 2, 3}) {
        const bool olderForm = form >= 2, sameName = form % 2 == 1;
        SCOPED_TRACE(std::string(olderForm ? "a journal of the older form" : "the journal as written") +
                     (sameName ? ", a next series of the same name" : ", a next series of another name"));
        const std::vector<std::string> second = sameName ? names : std::vector<std::string>{"other.png"};
        TempDir dir;
        PutOldFiles(dir.Path(), names);
        Put(dir.File(names[0] + ".before-crash"), "the user's own");
        Put(dir.File(names[0] + ".changed-after-crash"), "the user's own too");
        const auto before = Contents(dir.Path());
        ASSERT_TRUE(KilledInCommit(dir.Path(), dir.Path(), names, names.size()))
            << "the run was not killed in its commit";
        const std::string staging = StagingFolder(dir.Path());
        struct stat journalSt;
        ASSERT_EQ(::stat((staging + "/journal~~").c_str(), &journalSt), 0) << "the dead run left no journal";
        for (const std::string& name : {names[0], names[4]})
            EditInPlace(dir.File(name), "NEW", journalSt.st_mtim);
        if (olderForm) {
            ASSERT_TRUE(WriteOlderForm(staging));
        }

        testing::internal::CaptureStderr();
        const bool written = WriteSeries(dir.Path(), second, "second ");
        const std::string said = testing::internal::GetCapturedStderr();
        ASSERT_TRUE(written);
        auto expected = before;
        expected[names[0]] = "NEW " + names[0];
        expected[names[0] + ".before-crash-2"] = "old " + names[0];
        expected[names[4]] = "NEW " + names[4];
        if (sameName) {
            expected[names[0] + ".changed-after-crash-2"] = "NEW " + names[0];
            expected[names[4] + ".changed-after-crash"] = "NEW " + names[4];
        }
        for (const std::string& name : second)
            expected[name] = "second " + name;
        EXPECT_EQ(Contents(dir.Path()), expected);
        const auto lines = [&] {
            std::vector<std::string> all;
            for (size_t from = 0, end; (end = said.find('\n', from)) != std::string::npos; from = end + 1)
                all.push_back(said.substr(from, end - from));
            return all;
        }();
        ASSERT_EQ(lines.size(), sameName ? 2u : 1u) << said;
        const std::string first = lines[0];
        EXPECT_NE(first.find(dir.File(names[0]) + " was changed"), std::string::npos) << said;
        EXPECT_NE(first.find(dir.File(names[0] + ".before-crash-2")), std::string::npos) << said;
        if (!sameName) {
            EXPECT_NE(first.find("it stays as it is"), std::string::npos) << said;
            continue;
        }
        EXPECT_EQ(first.find("stays"), std::string::npos) << said;
        EXPECT_NE(first.find("kept as " + dir.File(names[0] + ".changed-after-crash-2")), std::string::npos) << said;
        EXPECT_NE(first.find(dir.File(names[0]) + " now holds the new file"), std::string::npos) << said;
        EXPECT_NE(lines[1].find(dir.File(names[4]) + " was changed"), std::string::npos) << said;
        EXPECT_NE(lines[1].find("kept as " + dir.File(names[4] + ".changed-after-crash")), std::string::npos) << said;
        EXPECT_EQ(lines[1].find("before-crash"), std::string::npos) << said;
    }
}

// A run killed in its commit on a disk that is then mounted again under
// another device number, as a USB disk plugged in again is: the next series
// there puts the old files back and succeeds, and nothing refuses it before
// the work. A copy of the dead run's staging folder in another folder of
// that disk is still refused, for being copied; a journal of the older form,
// bound by the device number alone, is refused for that.
TEST(FileSeries, ARunKilledInItsCommitIsPutBackAfterItsDiskIsMountedAgain)
{
    TempDir top;
    for (const char* folder : {"lower", "upper", "work", "disk", "hold"})
        fs::create_directory(top.File(folder));
    const std::string disk = top.File("disk"), hold = top.File("hold");
    const std::vector<std::string> names = Names(5);
    const std::vector<std::string> second = {"other.png"};
    const std::string noOverlay = "no overlay file system here";
    const std::optional<std::string> said = InOwnMounts([&] {
        // The disk: an overlay, which gets a device number at each mount
        // while its files stay in the folders under it.
        auto mountDisk = [&] {
            const std::string options = "lowerdir=" + top.File("lower") + ",upperdir=" + top.File("upper") +
                                        ",workdir=" + top.File("work");
            return ::mount("overlay", disk.c_str(), "overlay", 0, options.c_str()) == 0 ||
                   ::mount("overlay", disk.c_str(), "overlay", 0, (options + ",userxattr").c_str()) == 0;
        };
        if (!mountDisk())
            return noOverlay;
        const std::string ser = disk + "/ser", copy = disk + "/copy", older = disk + "/older";
        for (const std::string& folder : {ser, copy, older})
            fs::create_directory(folder);
        const auto before = PutOldFiles(ser, names);
        PutOldFiles(copy, names);
        PutOldFiles(older, names);
        if (!KilledInCommit(disk, ser, names, 2) || !KilledInCommit(disk, older, names, 2))
            return std::string("the run was not killed in its commit");
        if (!WriteOlderForm(StagingFolder(older)))
            return std::string("cannot write the older journal");
        const std::string staging = StagingFolder(ser);
        fs::copy(staging, copy + "/" + fs::path(staging).filename().string(), fs::copy_options::recursive);
        struct stat was, now;
        ::stat(ser.c_str(), &was);
        // Meanwhile the disk's device number goes to another file system.
        if (::umount(disk.c_str()) != 0 || ::mount("tmpfs", hold.c_str(), "tmpfs", 0, "size=16k") != 0 ||
            !mountDisk())
            return std::string("cannot mount the disk again: ") + std::strerror(errno);
        ::stat(ser.c_str(), &now);
        std::string failed;
        if (now.st_dev == was.st_dev || now.st_ino != was.st_ino)
            failed += "the disk came back under the same device number, or changed\n";
        if (const std::string early = CQNF_FileSeries::Refusal(ser, 0); !early.empty())
            failed += "refused before the work: " + early + "\n";
        CQNF_FileSeries series;
        std::string failure;
        if (!WriteSeries(series, ser, second, "second ", failure))
            failed += "the next series failed: " + failure + "\n";
        else if (Judge(Contents(ser), before, names, "new ", second) != Holds::OldSet)
            failed += "the folder holds neither the old set nor the new\n";
        if (const std::string copied = CQNF_FileSeries::Refusal(copy, 0);
            copied.find("copied or moved here") == std::string::npos)
            failed += "the copy: \"" + copied + "\"\n";
        if (const std::string old = CQNF_FileSeries::Refusal(older, 0);
            old.find("under another device number") == std::string::npos)
            failed += "the older journal: \"" + old + "\"\n";
        ::umount(disk.c_str());
        ::umount(hold.c_str());
        return failed;
    });
    if (!said || *said == noOverlay)
        GTEST_SKIP() << "this system gives a process no mounts of its own, or no overlay file system";
    EXPECT_EQ(*said, "");
}

// Every file of a series keeps the owner, group and mode bits (set-id bits
// included) of the file it replaces, as a single replaced file does; a new
// file is this process's own.
TEST(FileSeries, ReplacedFilesKeepTheirOwnerGroupAndModeBits)
{
    TempDir dir;
    const auto [uid, gid] = AnotherOwner();
    const struct {
        const char* name;
        mode_t mode;
    } olds[] = {{"p_1.png", 06751}, {"p_2.png", 0640}};
    for (const auto& old : olds) {
        Put(dir.File(old.name), "old");
        ASSERT_EQ(::chown(dir.File(old.name).c_str(), uid, gid), 0);
        ASSERT_EQ(::chmod(dir.File(old.name).c_str(), old.mode), 0);
    }
    ASSERT_TRUE(WriteSeries(dir.Path(), Names(3), "new "));
    struct stat st;
    for (const auto& old : olds) {
        SCOPED_TRACE(old.name);
        ASSERT_EQ(::stat(dir.File(old.name).c_str(), &st), 0);
        EXPECT_EQ(ReadFile(dir.File(old.name)).size(), std::string("new ").size() + std::strlen(old.name));
        EXPECT_EQ(st.st_uid, uid);
        EXPECT_EQ(st.st_gid, gid);
        EXPECT_EQ(st.st_mode & 07777, old.mode);
    }
    ASSERT_EQ(::stat(dir.File("p_3.png").c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, ::geteuid());
}

// A series whose folder another writer holds, one stopped in its commit,
// says once, after a while, that it waits and for what; when the other goes
// on, both finish and the folder holds the later series whole.
TEST(FileSeries, ASeriesWaitingForAStoppedWriterOfItsFolderSaysSo)
{
    TempDir dir, talk;
    const std::vector<std::string> names = Names(3);
    PutOldFiles(dir.Path(), names);
    const pid_t stopped = ::fork();
    if (stopped == 0) {
        CQNF_FileSeries::SetCommitHook([](size_t placed) {
            if (placed == 0)
                ::raise(SIGSTOP);
        });
        ::_exit(WriteSeries(dir.Path(), names, "first ") ? 0 : 1);
    }
    ASSERT_GT(stopped, 0);
    int status = 0;
    ASSERT_EQ(::waitpid(stopped, &status, WUNTRACED), stopped);
    ASSERT_TRUE(WIFSTOPPED(status)) << "the first writer ended before its commit";

    const std::string said = talk.File("said");
    const pid_t waiting = ::fork();
    if (waiting == 0) {
        const int fd = ::open(said.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (fd < 0 || ::dup2(fd, 2) != 2)
            ::_exit(2);
        ::_exit(WriteSeries(dir.Path(), names, "second ") ? 0 : 1);
    }
    ASSERT_GT(waiting, 0);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    std::error_code ec;
    while ((fs::file_size(said, ec) == 0 || ec) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const Bytes line = ReadFile(said);
    const std::string text(line.begin(), line.end());
    EXPECT_EQ(::waitpid(waiting, &status, WNOHANG), 0) << "the second writer did not wait";
    ::kill(stopped, SIGCONT);
    ASSERT_EQ(::waitpid(stopped, &status, 0), stopped);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    ASSERT_EQ(::waitpid(waiting, &status, 0), waiting);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(Lines(text), 1u) << text;
    EXPECT_NE(text.find("waiting for another program that is writing into " + dir.Path()), std::string::npos) << text;
    EXPECT_EQ(ReadFile(said), line) << "it said more after the wait";
    EXPECT_EQ(Judge(Contents(dir.Path()), {}, names, "second ", {"notes.txt"}), Holds::NewSet);
}
