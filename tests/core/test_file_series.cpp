// A series of files goes in whole or not at all, also when its run is
// killed while replacing the targets or runs beside others in one folder,
// and staging folders of dead runs are cleared while a live run's is kept.
#include "core/FileSeries.h"

#include "file_series_util.h"

#include "core/SafeFile.h"
#include "core/SafeFileRunInputs.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mount.h>
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

using namespace series_test;

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
        ASSERT_TRUE(series.Begin(dir.Path()));
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
    ASSERT_TRUE(series.Begin(dir.Path()));
    for (const char* name : {"a.png", "b.png"}) {
        Put(series.StagedPath(name), std::string("new ") + name);
        series.Add(name);
    }
    ASSERT_TRUE(series.Commit()) << series.Failure();
    EXPECT_EQ(Contents(dir.Path()),
              (std::map<std::string, std::string>{{"a.png", "new a.png"}, {"b.png", "new b.png"}, {"c.png", "old c"}}));
}

namespace {

// Every file and folder under dir, by its path there, with what a file holds.
std::map<std::string, std::string> Tree(const std::string& dir)
{
    std::map<std::string, std::string> all;
    for (const auto& e : fs::recursive_directory_iterator(dir)) {
        const Bytes b = e.is_regular_file() ? ReadFile(e.path().string()) : Bytes{};
        all[fs::relative(e.path(), dir).string()] = e.is_regular_file() ? std::string(b.begin(), b.end()) : "(folder)";
    }
    return all;
}

}  // namespace

// Begin clears what dead runs left in staging folders it can tell it made
// (each holds the mark its run put in first): also one an interrupted run
// had renamed for removal, and the files the gate was still naming there
// when its run was killed. One whose run still holds its lock stays, and
// so does one that holds what no series makes, said in one line. A folder
// named as a series names its own but without its mark stays whole too,
// said in one line that says so (an empty one goes), whatever it holds:
// numbered files, or old files and a file called journal. Every folder of
// an older version's name it cannot tell from a person's stays whole and
// is said nothing of. All of it private or not, on the test's own disk, on
// tmpfs and on vfat (where every folder has mode 0700), through one series
// after another: folders named as older versions named their staging
// folders, one renamed so for removal, and ones holding numbered files, old
// files or a file called journal. A person's copy of a staging folder a run
// killed in its commit left, under such a name and with a file of theirs
// added, is no series' to put back from or empty: it stays whole, said in
// one line.
TEST(FileSeries, BeginClearsOnlyDeadRunsStagingFolders)
{
    TempDir top;
    const std::string disk = top.File("disk");
    fs::create_directory(disk);
    struct Case {
        std::string name;
        bool locked;
        bool stays;
        std::vector<std::string> holds;
        std::string said = {};  // what its line says after its path (empty: none)
        std::string from = {};  // the dead run's folder it is renamed from
        std::map<std::string, std::string> copied = {};  // what it holds besides
    };
    const std::string noMark = ": is named as a staging folder of a series, but holds no mark that a series made it; "
                               "it is left as it is, and may be removed by whoever";
    const auto check = [&](const std::string& kind, const std::string& dir) {
        std::string failed;
        for (const unsigned mode : {0700u, 0755u}) {
            const std::string at = kind + (mode == 0700 ? ", private: " : ", open to others: ");
            const std::string folder = dir + (mode == 0700 ? "/private" : "/open");
            fs::create_directories(folder);
            // What a run killed in its commit here left, which a person then
            // copied under a name of an older version's form, adding a file
            // of their own: the copy is theirs, the run's folder gone.
            Put(folder + "/k1.png", "old k1.png");
            Put(folder + "/k2.png", "old k2.png");
            std::map<std::string, std::string> leftovers;
            if (KilledInCommit(folder, folder, {"k1.png", "k2.png"}, 1) && !StagingFolder(folder).empty()) {
                leftovers = Contents(StagingFolder(folder));
                fs::remove_all(StagingFolder(folder));
            }
            if (leftovers.count("journal") == 0) {
                failed += at + "no killed run's journal\n";
                continue;
            }
            const std::vector<std::string> dead = DeadRunsStagingFolders(folder, 6);
            if (dead.size() != 6) {
                failed += at + "no dead runs' staging folders\n";
                continue;
            }
            const std::vector<Case> cases = {
                {dead[0], false, false, {"7", "2"}},
                {dead[1] + ".gone", false, false, {"3.old", "journal"}, "", dead[1]},
                {dead[2], false, false, {".7.Xy12Zq", ".3.old.Xy12Zq", ".journal.tessolo-Xy12Zq"}},
                {dead[3], true, true, {"7"}},
                {dead[4] + ".gone", true, true, {"7"}, "", dead[4]},
                {dead[5], false, true, {"vacation.jpg"}, ": holds vacation.jpg, which no series makes"},
                {OwnStagingName(), false, true, {"1", "2"}, noMark},
                {OwnStagingName() + ".gone", false, true, {"3.old", "journal"}, noMark},
                {OwnStagingName(), false, false, {}},
                {".holiday.series-photos", false, true, {"pic.png", "trip/day1.png"}},
                {".notes.series-backup", false, true, {"notes.txt"}},
                {".p_0001.png.series-AbC123", false, true, {"p_0001.png"}},
                {".p_0001.png.series-AbC124.gone", false, true, {"p_0001.png"}},
                {".series-photos", false, true, {"1", "2", "3"}},
                {".series-backup.gone", false, true, {"1", "2.old"}},
                {".series-diary1", false, true, {"journal"}},
                {".series-AbC127", false, true, {"7", "3.old"}},
                {".series-AbC128.gone", false, true, {"3.old"}},
                {".series-keep01", false, true, {"readme.txt"},
                 ": the journal of an interrupted series was written in another staging folder", "", leftovers},
            };
            std::vector<int> locks;
            for (const Case& c : cases) {
                const std::string path = folder + "/" + c.name;
                if (!c.from.empty()) {
                    // Copied, not renamed: fusefat loses a folder's files
                    // when it renames it.
                    fs::create_directory(path);
                    for (const auto& [file, text] : Contents(folder + "/" + c.from))
                        Put(path + "/" + file, text);
                    fs::remove_all(folder + "/" + c.from);
                }
                fs::create_directory(path);
                for (const auto& [file, text] : c.copied)
                    Put(path + "/" + file, text);
                for (const std::string& file : c.holds) {
                    fs::create_directories(fs::path(path + "/" + file).parent_path());
                    Put(path + "/" + file, "piece " + file);
                }
                // A series makes its staging folder for its user alone; a
                // person's folder has whatever mode it was given.
                // A copy keeps its original's mode.
                ::chmod(path.c_str(),
                        (c.name.rfind(".series-", 0) == 0 && !c.stays) || !c.copied.empty() ? 0700 : mode);
                if (c.locked) {
                    locks.push_back(::open(path.c_str(), O_RDONLY | O_DIRECTORY));
                    if (::flock(locks.back(), LOCK_EX | LOCK_NB) != 0)
                        failed += at + "cannot lock " + c.name + "\n";
                }
            }
            const auto before = Tree(folder);
            for (int again = 0; again < 2; ++again) {
                CQNF_FileSeries series;
                std::string failure;
                testing::internal::CaptureStderr();
                const bool written = WriteSeries(series, folder, {"a.png"}, "new " + std::to_string(again), failure);
                const std::string said = testing::internal::GetCapturedStderr();
                if (!written)
                    failed += at + "the series failed: " + failure + "\n";
                size_t lines = 0;
                for (const Case& c : cases) {
                    const std::string path = folder + "/" + c.name;
                    if (fs::exists(path) != c.stays)
                        failed += at + c.name + (c.stays ? " was removed\n" : " stayed\n");
                    if (!c.said.empty()) {
                        ++lines;
                        if (said.find(path + c.said) == std::string::npos)
                            failed += at + c.name + " was not said: " + said + "\n";
                    }
                }
                if (LinesOf(said).size() != lines)
                    failed += at + "said: " + said + "\n";
                auto now = Tree(folder);
                now.erase("a.png");
                auto kept = before;
                for (const Case& c : cases)
                    if (!c.stays)
                        for (auto it = kept.begin(); it != kept.end();)
                            it = it->first.rfind(c.name, 0) == 0 ? kept.erase(it) : std::next(it);
                if (now != kept)
                    failed += at + "the folder changed\n";
            }
            for (const int fd : locks)
                ::close(fd);
        }
        return failed;
    };
    EXPECT_EQ(check("own disk", top.File("own")), "");
    const std::optional<std::string> said = InOwnMounts([&] {
        std::string failed;
        if (::mount("tmpfs", disk.c_str(), "tmpfs", 0, nullptr) != 0)
            return std::string("cannot mount tmpfs");
        failed += check("tmpfs", disk);
        ::umount(disk.c_str());
        if (const std::string why = MountFusefat(top.File("vfat.img"), disk); !why.empty())
            return failed + why;
        failed += check("vfat through FUSE", disk);
        ::umount(disk.c_str());
        return failed;
    });
    if (!said)
        GTEST_SKIP() << "this system gives a process no mounts of its own";
    EXPECT_EQ(*said, "");
}

// A series ended by SIGHUP (its terminal closed) while it stages its files
// leaves the folder as it was; one ended so in its commit finishes the
// commit first. Either way nothing hidden stays.
TEST(FileSeries, AHangUpLeavesTheOldOrTheNewSetAndNothingHidden)
{
    for (const bool inCommit : {false, true}) {
        SCOPED_TRACE(inCommit ? "in its commit" : "while it stages");
        TempDir dir;
        const std::vector<std::string> names = Names(4);
        const auto before = PutOldFiles(dir.Path(), names);
        const pid_t pid = ::fork();
        if (pid == 0) {
            if (inCommit)
                CQNF_FileSeries::SetCommitHook([](size_t placed) {
                    if (placed == 1)
                        ::raise(SIGHUP);
                });
            CQNF_FileSeries series;
            bool ok = series.Begin(dir.Path());
            for (size_t k = 0; ok && k < names.size(); ++k) {
                Put(series.StagedPath(names[k]), "new " + names[k]);
                series.Add(names[k]);
            }
            if (!inCommit)
                ::raise(SIGHUP);
            ::_exit(ok && series.Commit() ? 0 : 1);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGHUP) << "ended as the signal ends a program";
        EXPECT_EQ(Judge(Contents(dir.Path()), before, names, "new ", {}), inCommit ? Holds::NewSet : Holds::OldSet);
    }
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
            ASSERT_TRUE(next->Begin(dir.Path()));
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
                journals += fs::exists(e.path() / "journal");
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
// A link the user deletes after the kill is the user's deletion, as of any
// file: it stays deleted, its end's old file kept beside it, and every
// other target is put back.
TEST(FileSeries, ARunKilledAfterReplacingALinksEndIsPutBack)
{
    const std::vector<std::string> names = Names(5);
    const std::vector<std::string> second = {"other.png"};
    for (const size_t killWhenPlaced : {size_t(4), size_t(5)}) {
        SCOPED_TRACE("killed after " + std::to_string(killWhenPlaced) + " renames");
        {
            TempDir top;
            for (const char* folder : {"ser", "away"})
                fs::create_directory(top.File(folder));
            Put(top.File("away/end.png"), "old end");
            fs::create_symlink("../away/end.png", top.File("ser/" + names[3]));
            auto expected = PutOldFiles(top.File("ser"), names);
            ASSERT_TRUE(KilledInCommit(top.Path(), "ser", names, killWhenPlaced))
                << "the run was not killed in its commit";
            fs::remove(top.File("ser/" + names[3]));
            testing::internal::CaptureStderr();
            const bool written = WriteSeriesFrom(top.Path(), "ser", second, "second ");
            const std::string said = testing::internal::GetCapturedStderr();
            EXPECT_TRUE(written) << said;
            expected.erase(names[3]);
            expected[names[3] + ".before-crash"] = "old end";
            expected["other.png"] = "second other.png";
            EXPECT_EQ(Contents(top.File("ser")), expected) << said;
            EXPECT_EQ(StagingFolder(top.File("ser")), "");
            ASSERT_EQ(LinesOf(said).size(), 1u) << said;
            EXPECT_NE(said.find(names[3] + " was deleted"), std::string::npos) << said;
        }
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
    EXPECT_EQ(LinesOf(text).size(), 1u) << text;
    EXPECT_NE(text.find("waiting for another program that is writing into " + dir.Path()), std::string::npos) << text;
    EXPECT_EQ(ReadFile(said), line) << "it said more after the wait";
    EXPECT_EQ(Judge(Contents(dir.Path()), {}, names, "second ", {"notes.txt"}), Holds::NewSet);
}

// The series is part of the one gate every write passes: a file of it that
// leads to a file the run reads (through a link or as a second name of it,
// whoever said the run reads it), a read-only file (also as root), a FIFO or
// a folder is refused before anything moves, in the words the gate gives a
// single file there; a link of the series' names is refused so before any
// work too.
TEST(FileSeries, WhatTheGateRefusesASingleFileTheSeriesRefusesBeforeAnythingMoves)
{
    TempDir top;
    const std::string input = top.File("read.png"), protectedInput = top.File("protected.png");
    Put(input, "the run's input");
    Put(protectedInput, "the caller's input");
    qnAddRunInputs({input});
    const auto text = [](const fs::path& p) {
        const Bytes b = ReadFile(p.string());
        return std::string(b.begin(), b.end());
    };
    const struct {
        const char* what;
        std::function<void(const std::string& target)> make;
        const char* why;
        bool link;  // a link among the series' names, which Refusal looks at
    } cases[] = {
        {"a link to a file the run reads", [&](auto& t) { fs::create_symlink(input, t); }, "read.png", true},
        {"a link to a link to it",
         [&](auto& t) {
             fs::create_symlink(input, t + ".via");
             fs::create_symlink(t + ".via", t);
         },
         "read.png", true},
        {"a second name of it", [&](auto& t) { fs::create_hard_link(input, t); }, "read.png", false},
        {"a link to a protected path", [&](auto& t) { fs::create_symlink(protectedInput, t); }, "protected.png",
         false},
        {"a file without write permission",
         [](auto& t) {
             Put(t, "old");
             fs::permissions(t, fs::perms::owner_read);
         },
         "the file has no write permission", false},
        {"a FIFO", [](auto& t) { ASSERT_EQ(::mkfifo(t.c_str(), 0600), 0); }, "FIFO", false},
        {"a link to a folder", [&](auto& t) { fs::create_symlink(top.Path(), t); }, "is a folder", true},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string dir = top.File("ser" + std::to_string(++n));
        fs::create_directory(dir);
        const std::vector<std::string> names = Names(3);
        PutOldFiles(dir, {names[0], names[2]});
        c.make(dir + "/" + names[1]);
        std::map<std::string, std::string> before;
        for (const auto& e : fs::directory_iterator(dir))
            if (!e.is_fifo())
                before[e.path().filename().string()] = e.is_regular_file() ? text(e.path()) : "";
        // A protected path is the series' caller's word alone.
        const bool byGate = std::string(c.what) != "a link to a protected path";
        const std::string gate = qnWriteRefusal(dir + "/" + names[1], QnWrite::Output, false).Line();
        EXPECT_EQ(gate.find(c.why) != std::string::npos, byGate) << gate;
        if (c.link) {
            EXPECT_NE(CQNF_FileSeries::Refusal(dir, 0, "p_", ".png").reason.find(c.why), std::string::npos);
        }
        CQNF_FileSeries series;
        series.Protect({protectedInput});
        std::string failure;
        EXPECT_FALSE(WriteSeries(series, dir, names, "new ", failure));
        if (byGate) {
            EXPECT_EQ("cannot write " + failure, gate);
        }
        EXPECT_NE(failure.find(c.why), std::string::npos) << failure;
        std::map<std::string, std::string> after;
        for (const auto& e : fs::directory_iterator(dir))
            if (!e.is_fifo())
                after[e.path().filename().string()] = e.is_regular_file() ? text(e.path()) : "";
        EXPECT_EQ(after, before);
        EXPECT_EQ(text(input), "the run's input");
        EXPECT_EQ(text(protectedInput), "the caller's input");
    }
}
