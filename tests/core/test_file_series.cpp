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

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
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
// in a staging folder other than the one it was written in, or reads only in
// part; or the staging folder is a link to a dead run's elsewhere. The
// planted old file would go over the file named, which the journal
// describes truly. Each is refused in one line naming the staging folder,
// before the work and again when the series begins; nothing changes inside
// the folder or outside it, and the staging folder stays as it was.
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
                      v3 = "tessolo series journal 3\n";
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
