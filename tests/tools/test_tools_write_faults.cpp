// The programs' writes under faults from outside: a PNG export killed while
// it puts its files in place, and a full disk.
#include "tool_run.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <fcntl.h>
#include <link.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace fs = std::filesystem;

namespace {

const std::string kSample = std::string(TESSOLO_SOURCE_DIR) + "/samples/sample.png";

std::string Q(const std::string& path) { return "'" + path + "'"; }

// Every entry of a folder with its bytes; folders show as themselves.
std::map<std::string, std::string> Contents(const std::string& folder)
{
    std::map<std::string, std::string> all;
    for (const auto& e : fs::directory_iterator(folder))
        all[e.path().filename().string()] = e.is_directory() ? "(folder)" : Slurp(e.path().string());
    return all;
}

// Starts `tessolo-tool args...` in the folder from with its outputs dropped,
// with the temporary folder tmp where one is given.
pid_t Spawn(const std::string& from, const std::vector<std::string>& args, const std::string& tmp = {})
{
    std::vector<char*> argv;
    const std::string tool = TESSOLO_TOOL;
    argv.push_back(const_cast<char*>(tool.c_str()));
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&files, 2, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addchdir_np(&files, from.c_str());
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e)
        if (tmp.empty() || std::strncmp(*e, "TMPDIR=", 7) != 0)
            env.push_back(*e);
    if (!tmp.empty())
        env.push_back("TMPDIR=" + tmp);
    std::vector<char*> envp;
    for (std::string& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, tool.c_str(), &files, nullptr, argv.data(), envp.data()) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&files);
    return pid;
}

// The `unshare` options that give a script mounts of its own here, found by
// CanOwnMounts: "-m" for root, or "-rm", a user namespace, where the system
// lets users make one (a chroot refuses a user namespace even to root).
std::string g_ownMounts = "-rm";

// Runs a shell script with mounts of its own.
Result WithOwnMounts(const std::string& folder, const std::string& script)
{
    const std::string file = folder + "/own-mounts.sh";
    std::ofstream(file) << script << "\n";
    const Result r = RunProgram("unshare", g_ownMounts + " sh " + Q(file));
    fs::remove(file);
    return r;
}

// Whether WithOwnMounts can mount here.
bool CanOwnMounts(const std::string& folder)
{
    for (const char* options : {"-m", "-rm"}) {
        g_ownMounts = options;
        if (WithOwnMounts(folder, "mount -t tmpfs tmpfs " + Q(folder)).code == 0)
            return true;
    }
    return false;
}

}  // namespace

// Old files under the first names of the series and one more; an export
// run in one folder, naming the series' folder relative to it, is killed
// with SIGKILL right after it has put its first, its fourth, or half its
// files in place; another export into the folder follows, run in another
// folder that holds a folder of the same name (a bystander). The series'
// folder then holds the whole old set or the whole new one beside the second
// export's files, and nothing hidden; the bystander is left alone.
TEST(WriteFaults, AnExportKilledWhilePlacingItsFilesLeavesTheOldOrTheNewSet)
{
    const Folder d("killed_commit");
    fs::create_directory(d / "elsewhere");
    ASSERT_EQ(RunTool("layout new --grid 20x15 " + Q(d / "lay.qntd")).code, 0);
    fs::create_directory(d / "whole");
    ASSERT_EQ(RunTool("export pieces --to png " + Q(d / "lay.qntd") + " " + Q(kSample) + " " + Q(d / "whole/p")).code,
              0);
    const auto fresh = Contents(d / "whole");
    ASSERT_EQ(fresh.size(), 300u);
    for (const size_t killAfter : {size_t(1), size_t(4), size_t(150)}) {
        SCOPED_TRACE("killed after " + std::to_string(killAfter) + " files placed");
        const std::string outName = "out" + std::to_string(killAfter);
        const std::string out = d / outName;
        fs::create_directory(out);
        fs::create_directory(d / ("elsewhere/" + outName));
        std::ofstream(d / ("elsewhere/" + outName + "/mine.txt")) << "a bystander's";
        const auto bystander = Contents(d / ("elsewhere/" + outName));
        std::map<std::string, std::string> old;
        for (auto it = fresh.begin(); old.size() < 3; ++it)
            old[it->first] = "old " + it->first;
        old["notes.txt"] = "no part of the series";
        for (const auto& [name, bytes] : old)
            std::ofstream(out + "/" + name, std::ios::binary) << bytes;

        const int watch = ::inotify_init1(IN_CLOEXEC);
        ASSERT_GE(watch, 0);
        ASSERT_GE(::inotify_add_watch(watch, out.c_str(), IN_MOVED_TO), 0);
        const pid_t pid = Spawn(d.path(), {"export", "pieces", "--to", "png", d / "lay.qntd", kSample, outName + "/p"});
        ASSERT_GT(pid, 0);
        // Each file put in place arrives by a rename into the folder.
        size_t placed = 0;
        alignas(struct inotify_event) char events[8192];
        while (placed < killAfter) {
            const ssize_t n = ::read(watch, events, sizeof events);
            ASSERT_GT(n, 0);
            for (ssize_t at = 0; at < n && placed < killAfter;) {
                const auto* e = reinterpret_cast<const struct inotify_event*>(events + at);
                placed += e->len > 0 && e->name[0] != '.';
                at += ssize_t(sizeof(struct inotify_event) + e->len);
            }
        }
        ::kill(pid, SIGKILL);
        ::close(watch);
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);

        const Result next = RunProgram("env", "-C " + Q(d / "elsewhere") + " " + Q(TESSOLO_TOOL) +
                                                  " export pieces --to png " + Q(d / "lay.qntd") + " " + Q(kSample) +
                                                  " " + Q("../" + outName + "/q"));
        ASSERT_EQ(next.code, 0) << next.err;
        EXPECT_EQ(Contents(d / ("elsewhere/" + outName)), bystander);
        std::map<std::string, std::string> series, others;
        for (const auto& [name, bytes] : Contents(out))
            (name.rfind("q_", 0) == 0 ? others : series)[name] = bytes;
        EXPECT_EQ(others.size(), 300u);
        std::map<std::string, std::string> allNew = fresh;
        allNew["notes.txt"] = old["notes.txt"];
        EXPECT_TRUE(series == old || series == allNew)
            << series.size() << " files besides the second export's, of which the old ones left: "
            << (series.count(old.begin()->first) ? series[old.begin()->first].substr(0, 4) : "none");
    }
}

// A staging folder planted in a folder (or copied into it with the folder)
// before a series is written there: its journal names a file outside the
// folder, describing that file truly, with an old file to put over it, in
// a form this version does not read; in another folder a journal is
// damaged. Every series writer leaves each as it is, says so in one line
// that names the staging folder, and writes its series: the file outside
// keeps its bytes, and nothing else in the folder changes.
TEST(WriteFaults, APlantedJournalIsLeftAsItIsAndTheSeriesGoesOn)
{
    const Folder d("planted");
    ASSERT_EQ(RunTool("layout new --grid 3x2 " + Q(d / "lay.qntd")).code, 0);
    ASSERT_EQ(RunTool("psd write " + Q(d / "in.psd") + " " + Q(kSample)).code, 0);
    const std::string victim = d / "victim.txt";
    std::ofstream(victim) << "precious";
    struct stat st {};
    ASSERT_EQ(::stat(victim.c_str(), &st), 0);
    const std::string nul(1, '\0');
    const std::string entry =
        std::to_string(st.st_dev) + " " + std::to_string(st.st_ino) + " " + std::to_string(st.st_size) + " ";
    const struct {
        const char* folder;
        std::string journal;
        const char* why;
    } plants[] = {
        {"outside", "tessolo series journal 2\n" + entry + "piece.png" + nul + victim + nul, "was written by an older version"},
        {"damaged", "tessolo series journal 5\n0 0 0 0 0 1\n1 " + entry + std::string(32, '0') + " piece.png" + nul +
                        victim + nul + "seal 0123456789abcdef0123456789abcdef\n",
         "is damaged"},
    };
    for (const auto& p : plants) {
        const std::string staging = d / (std::string(p.folder) + "/.series-Plant0");
        fs::create_directories(staging);
        std::ofstream(staging + "/1.old") << "planted";
        std::ofstream(staging + "/journal", std::ios::binary) << p.journal;
        const auto before = Contents(d / p.folder);
        const auto kept = Contents(staging);
        for (const std::string& run :
             {"export pieces --to png " + Q(d / "lay.qntd") + " " + Q(kSample) + " " + Q(d / p.folder),
              "psd read " + Q(d / "in.psd") + " " + Q(d / p.folder)}) {
            SCOPED_TRACE(run);
            const Result r = RunTool(run);
            EXPECT_EQ(r.code, 0) << r.err;
            EXPECT_EQ(Lines(r.err), 1u) << r.err;
            EXPECT_NE(r.err.find(".series-Plant0: the journal of an interrupted series " + std::string(p.why)),
                      std::string::npos)
                << r.err;
            EXPECT_NE(r.err.find("left as it is"), std::string::npos) << r.err;
            auto now = Contents(d / p.folder);
            for (const auto& [name, bytes] : before)
                EXPECT_EQ(now[name], bytes) << name;
            EXPECT_GT(now.size(), before.size());
            EXPECT_EQ(Contents(staging), kept);
            EXPECT_EQ(Slurp(victim), "precious");
        }
    }
}

// On a full disk every command that writes says so, in one line, and fails;
// every one names it by the system's reason alone, whichever step met it. A
// run that writes many files (the tour's pictures) names it once.
TEST(WriteFaults, AFullDiskIsNamedByEveryCommand)
{
    const Folder d("full_disk");
    const std::string full = d / "full";
    fs::create_directory(full);
    if (!CanOwnMounts(full))
        GTEST_SKIP() << "no mounts of its own for a test here (not root and no user namespaces, or a chroot whose root is no mount point)";
    ASSERT_EQ(RunTool("layout new --grid 20x15 " + Q(d / "lay.qntd")).code, 0);
    ASSERT_EQ(RunTool("psd write " + Q(d / "in.psd") + " " + Q(kSample)).code, 0);
    ASSERT_EQ(RunProgram(TESSOLO_MKDESC, "--grid 2x2 " + Q(d / "job.qnds")).code, 0);
    {
        std::ofstream blob(d / "blob", std::ios::binary);
        for (int k = 0; k < 100000; ++k)
            blob.put(char(k * 7919 % 251));
    }
    const std::string tool = Q(TESSOLO_TOOL);
    const std::string cases[] = {
        tool + " layout new --grid 100x100 " + Q(full + "/g.qntd"),
        tool + " psd write " + Q(full + "/o.psd") + " " + Q(kSample),
        tool + " storage put " + Q(full + "/s.qnst") + " a 5 - < " + Q(d / "blob"),
        tool + " convert " + Q(kSample) + " " + Q(full + "/o.png"),
        tool + " export pieces --to png " + Q(d / "lay.qntd") + " " + Q(kSample) + " " + Q(full),
        tool + " psd read " + Q(d / "in.psd") + " " + Q(full),
        tool + " ui-tour " + Q(full),
        Q(TESSOLO_HOST) + " --plugin " + Q(OwnPluginFolder() + "/Tessolo.so") + " --descriptor " +
            Q(d / "job.qnds") + " " + Q(kSample) + " " + Q(full + "/h.png"),
    };
    for (const std::string& c : cases) {
        // The data does not fit, or no file can be made at all.
        for (const char* options : {"size=16k", "nr_inodes=1"}) {
            const Result r =
                WithOwnMounts(d.path(), "mount -t tmpfs -o " + std::string(options) + " tmpfs " + Q(full) + " && " + c);
            EXPECT_EQ(r.code, c.find("tessolo-host") == std::string::npos ? 1 : 3) << c << ": " << r.err;
            EXPECT_EQ(Lines(r.err), 1u) << c << ": " << r.err;
            EXPECT_NE(r.err.find(": no space left on device"), std::string::npos) << options << " " << c << ": " << r.err;
            // One form, naming one path that was written (the folder or a
            // file in it), never a series' first name that is no file.
            const size_t at = r.err.find("cannot write ");
            const std::string path = at == std::string::npos ? "" : r.err.substr(at + 13, r.err.rfind(": no space") - at - 13);
            EXPECT_TRUE(path == full || path.rfind(full + "/", 0) == 0) << options << " " << c << ": " << r.err;
            EXPECT_EQ(path.find(": "), std::string::npos) << options << " " << c << ": " << r.err;
            EXPECT_NE(path, full + "/piece") << options << " " << c << ": " << r.err;
            EXPECT_EQ(r.err.find("(error"), std::string::npos) << options << " " << c << ": " << r.err;
        }
    }
}

// The two contact sheets go in as a pair: on a disk that has room for the
// first but not the second, both old files stay as they were and nothing
// is left beside them.
TEST(WriteFaults, TheResourceSheetsAreWrittenBothOrNeither)
{
    const Folder d("sheet_pair");
    const std::string full = d / "full";
    fs::create_directory(full);
    if (!CanOwnMounts(full))
        GTEST_SKIP() << "no mounts of its own for a test here (not root and no user namespaces, or a chroot whose root is no mount point)";
    const std::string skin = std::string(TESSOLO_BINARY_DIR) + "/resource_ts31_d.qns4";
    // One window's: the first sheet takes some 50 KB, the second some 140.
    const Result r = WithOwnMounts(
        d.path(), "mount -t tmpfs -o size=128k tmpfs " + Q(full) + " && printf one > " + Q(full + "/o.png") +
                      " && printf two > " + Q(full + "/o-states.png") + " && { " + Q(TESSOLO_TOOL) +
                      " resources sheet " + Q(skin) + " " + Q(full + "/o.png") + " --window AutoLayout; code=$?; echo; ls -A " +
                      Q(full) + " | tr '\\n' ' '; cat " + Q(full + "/o.png") + " " + Q(full + "/o-states.png") +
                      "; exit $code; } >&2");
    EXPECT_EQ(r.code, 1) << r.err;
    EXPECT_NE(r.err.find(": no space left on device\n"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("\no-states.png o.png onetwo"), std::string::npos) << r.err;
}

// ui-tour, text-demo and ui-gallery keep scratch files in a folder of the
// temporary folder: stopped by Ctrl-C, kill or a closed terminal (SIGINT, SIGTERM,
// SIGHUP) while that folder holds them, they end as the signal ends a
// program and leave nothing there.
TEST(WriteFaults, StoppedToolsLeaveNothingInTheTemporaryFolder)
{
    const Folder d("stopped_scratch");
    fs::create_directory(d / "tour");
    const std::string font = std::string(TESSOLO_SOURCE_DIR) + "/resources/fonts/DejaVuSans.ttf";
    const struct {
        const char* name;
        std::vector<std::string> args;
    } tools[] = {
        {"ui-tour", {"ui-tour", d / "tour"}},
        {"text-demo", {"text-demo", "--size", "120", font, "Stopped while it draws", d / "t.png"}},
        {"ui-gallery", {"ui-gallery", "--snap", d / "g.png"}},
    };
    for (const auto& t : tools) {
        for (const int sig : {SIGINT, SIGTERM, SIGHUP}) {
            SCOPED_TRACE(std::string(t.name) + ", " + strsignal(sig));
            const std::string tmp = d / "tmp";
            fs::create_directory(tmp);
            // The signal goes as soon as the scratch folder holds a file;
            // a run that ended before it could be stopped is tried again.
            bool stopped = false;
            for (int attempt = 0; attempt < 5 && !stopped; ++attempt) {
                const int watch = ::inotify_init1(IN_CLOEXEC);
                ASSERT_GE(watch, 0);
                ASSERT_GE(::inotify_add_watch(watch, tmp.c_str(), IN_CREATE), 0);
                const pid_t pid = Spawn(d.path(), t.args, tmp);
                ASSERT_GT(pid, 0);
                // Until a file is made in the scratch folder (or the
                // temporary folder itself), or the run ends.
                const int ended = int(::syscall(SYS_pidfd_open, pid, 0));
                ASSERT_GE(ended, 0);
                alignas(struct inotify_event) char events[4096];
                bool fileMade = false;
                for (;;) {
                    struct pollfd wait[2] = {{watch, POLLIN, 0}, {ended, POLLIN, 0}};
                    ASSERT_GT(::poll(wait, 2, -1), 0);
                    if (!(wait[0].revents & POLLIN))
                        break;
                    const ssize_t n = ::read(watch, events, sizeof events);
                    ASSERT_GT(n, 0);
                    for (ssize_t at = 0; at < n;) {
                        const auto* e = reinterpret_cast<const struct inotify_event*>(events + at);
                        at += ssize_t(sizeof(struct inotify_event) + e->len);
                        if (e->mask & IN_ISDIR)
                            ::inotify_add_watch(watch, (tmp + "/" + e->name).c_str(), IN_CREATE);
                        else if (e->len > 0)
                            fileMade = true;
                    }
                    if (fileMade)
                        break;
                }
                ::close(ended);
                ::kill(pid, sig);
                ::close(watch);
                int status = 0;
                ASSERT_EQ(::waitpid(pid, &status, 0), pid);
                stopped = WIFSIGNALED(status) && WTERMSIG(status) == sig;
                EXPECT_TRUE(stopped || (WIFEXITED(status) && WEXITSTATUS(status) == 0)) << status;
                EXPECT_TRUE(fs::is_empty(tmp)) << (fs::is_empty(tmp) ? "" : fs::directory_iterator(tmp)->path().string())
                                               << " was left";
                fs::remove_all(tmp);
                fs::create_directory(tmp);
            }
            EXPECT_TRUE(stopped) << "every run ended before the signal came";
        }
    }
}

// On a full disk a file written whole once more (the demo's piece list,
// the help document) keeps its old bytes, and the failure names the real
// reason, the disk being full, in one line.
TEST(WriteFaults, AFullDiskLeavesTheOldFileWholeAndSaysSo)
{
    const Folder d("full_disk_old_file");
    const std::string full = d / "full";
    fs::create_directory(full);
    if (!CanOwnMounts(full))
        GTEST_SKIP() << "no mounts of its own for a test here (not root and no user namespaces, or a chroot whose root is no mount point)";
    fs::create_directory(d / "pictures");
    std::ofstream(d / "guide.txt") << "@title A guide\n\nSome words of it.\n";
    const struct {
        std::string command;
        std::string out;
    } cases[] = {
        {Q(TESSOLO_TOOL) + " core-demo " + Q(full), full + "/pieces.txt"},
        // Fontconfig keeps its caches to the end, which the leak checker
        // takes for leaks.
        {"ASAN_OPTIONS=detect_leaks=0 " + Q(TESSOLO_HELPDOC) + " " + Q(d / "guide.txt") + " " + Q(d / "pictures") + " -o " + Q(full + "/guide.pdf"),
         full + "/guide.pdf"},
    };
    for (const auto& c : cases) {
        // The old file is there, then a filler takes the rest of the disk.
        const Result r = WithOwnMounts(d.path(), "mount -t tmpfs -o size=16k tmpfs " + Q(full) + " && printf old > " +
                                                     Q(c.out) + " && { head -c 1000000 /dev/zero > " +
                                                     Q(full + "/filler") + " 2>/dev/null; " + c.command +
                                                     "; code=$?; cat " + Q(c.out) + " >&2; exit $code; }");
        EXPECT_EQ(r.code, 1) << c.command << ": " << r.err;
        EXPECT_NE(r.err.find("cannot write " + c.out + ": no space left on device\nold"), std::string::npos)
            << c.command << ": " << r.err;
        EXPECT_EQ(Lines(r.err), 1u) << r.err;  // the line, then the old bytes
    }
}

// Every library a program loaded is a file its run reads, wherever the
// loader found it: an output that leads to a copy of libpng found through
// LD_LIBRARY_PATH, by a symbolic or a hard link, is refused before any
// work, the copy stays as it was, and the program still starts afterwards.
TEST(WriteFaults, NoProgramWritesOverALibraryItLoaded)
{
    const Folder d("loaded_library");
    void* png = ::dlopen("libpng16.so.16", RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(png, nullptr) << ::dlerror();
    link_map* map = nullptr;
    ASSERT_EQ(::dlinfo(png, RTLD_DI_LINKMAP, &map), 0) << ::dlerror();
    const std::string lib = d / "lib";
    fs::create_directory(lib);
    const std::string copy = lib + "/libpng16.so.16";
    fs::copy_file(map->l_name, copy);
    ::dlclose(png);
    fs::create_symlink(copy, d / "soft.png");
    fs::create_hard_link(copy, d / "hard.png");
    const std::string before = Slurp(copy);
    const std::string env = "LD_LIBRARY_PATH=" + Q(lib) + " " + Q(TESSOLO_TOOL);
    for (const std::string& out : {d / "soft.png", d / "hard.png"}) {
        const Result r = RunProgram("env", env + " convert " + Q(kSample) + " " + Q(out));
        EXPECT_EQ(r.code, 1) << r.err;
        EXPECT_EQ(Lines(r.err), 1u) << r.err;
        EXPECT_NE(r.err.find("cannot write " + out + ": it would write over the loaded library " + copy + ";"),
                  std::string::npos)
            << r.err;
        EXPECT_TRUE(Slurp(copy) == before) << "the loaded library was written over";
    }
    EXPECT_TRUE(fs::is_symlink(d / "soft.png"));
    const Result again = RunProgram("env", env + " convert " + Q(kSample) + " " + Q(d / "fine.png"));
    EXPECT_EQ(again.code, 0) << again.err;
}

// The program's own file is one the run reads: a link to it as the output
// is refused before any work, and the program still starts afterwards. A
// folder without write permission is named in the one wording whether the
// file is there or not, by the name the user gave.
TEST(WriteFaults, NoProgramWritesOverItsOwnFile)
{
    const Folder d("own_program_file");
    const std::string copy = d / "tool-copy";
    fs::copy_file(TESSOLO_TOOL, copy);
    fs::permissions(copy, fs::perms::owner_all);
    fs::create_symlink(copy, d / "self.png");
    const std::string before = Slurp(copy);
    const Result r = RunProgram(copy.c_str(), "convert " + Q(kSample) + " " + Q(d / "self.png"));
    EXPECT_EQ(r.code, 1) << r.err;
    EXPECT_NE(r.err.find("cannot write " + (d / "self.png") + ": it would write over the program's own file " + copy +
                         ";"),
              std::string::npos)
        << r.err;
    EXPECT_TRUE(Slurp(copy) == before) << "the program's own file was written over";
    EXPECT_TRUE(fs::is_symlink(d / "self.png"));

    const std::string shut = d / "shut";
    fs::create_directory(shut);
    std::ofstream(shut + "/there.png") << "old";
    fs::permissions(shut, fs::perms::owner_read | fs::perms::owner_exec);
    for (const std::string name : {"there.png", "new.png"}) {
        const std::string out = shut + "/" + name;
        const Result w = RunProgram(TESSOLO_TOOL, "convert " + Q(kSample) + " " + Q(out));
        EXPECT_EQ(w.code, 1) << w.err;
        EXPECT_NE(w.err.find("cannot write " + out + ": the folder has no write permission"), std::string::npos) << w.err;
    }
    fs::permissions(shut, fs::perms::owner_all);
}

// The loader this test program was started by, as its header names it.
std::string Loader()
{
    std::string found;
    ::dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void* into) {
            for (int i = 0; i < info->dlpi_phnum; ++i)
                if (info->dlpi_phdr[i].p_type == PT_INTERP) {
                    *static_cast<std::string*>(into) =
                        reinterpret_cast<const char*>(info->dlpi_addr + info->dlpi_phdr[i].p_vaddr);
                    return 1;
                }
            return 0;
        },
        &found);
    return found;
}

// Started through the loader ("ld.so PROGRAM") the kernel names the loader
// as the running program, and where /proc is not mounted it names none:
// the program's own file is known all the same, so a link to it as the
// output is refused in one line and the file stays as it was.
TEST(WriteFaults, NoProgramWritesOverItsOwnFileThroughTheLoaderOrWithoutProc)
{
    const Folder d("own_program_loader");
    const std::string loader = Loader();
    ASSERT_FALSE(loader.empty());
    // A mount namespace of its own, where /proc can go: as root.
    const bool withoutProc = std::system("unshare -m true 2> /dev/null") == 0;
    const std::tuple<const char*, std::string, std::string> programs[] = {
        {TESSOLO_TOOL, "convert \"" + kSample + "\" ", d / "self.png"}, {TESSOLO_MKDESC, "--grid 2x2 ", d / "self.qnds"}};
    for (const auto& [built, args, self] : programs) {
        const std::string name = fs::path(built).filename().string();
        const std::string copy = d / name;
        fs::create_symlink(copy, self);
        // How it is started: a program, and its arguments.
        std::vector<std::pair<std::string, std::string>> starts = {
            {loader, "\"" + copy + "\" " + args + "\"" + self + "\""}};
        // The sanitizer's run-time reads its options from /proc: without
        // it, its leak check fails the exit code, so the code is not judged.
        if (withoutProc)
            for (const std::string& start :
                 {"PATH=\"" + d / "" + ":$PATH\" && exec " + name, "exec \"" + loader + "\" \"" + copy + "\""})
                starts.emplace_back("unshare", "-m sh -c " + Q("umount -l /proc && " + start + " " + args + "\"" +
                                                                self + "\""));
        for (const auto& [program, command] : starts) {
            const std::string how = program + " " + command;
            fs::copy_file(built, copy, fs::copy_options::overwrite_existing);
            const Result r = RunProgram(program.c_str(), command);
            std::string lines;
            std::istringstream err(r.err);
            for (std::string line; std::getline(err, line);)
                if (line.rfind("==", 0) != 0)
                    lines += line + "\n";
            EXPECT_NE(r.code, 0) << name << " " << how;
            EXPECT_EQ(lines, name + (name == "tessolo-tool" ? " convert" : "") + ": cannot write " + self +
                                 ": it would write over the program's own file " + copy + "; name another output\n")
                << name << " " << how;
            EXPECT_EQ(std::system(("cmp -s " + Q(built) + " " + Q(copy)).c_str()), 0) << name << " " << how << ": the program's own file was written over";
        }
        fs::remove(self);
    }
    if (!withoutProc)
        GTEST_SKIP() << "the cases without /proc need a mount namespace of the test's own";
}

// A signal that comes as a program makes its staging folder (a PNG series)
// or its scratch folder (text-demo), before it could list the folder for
// removal, still ends the program as the signal would, with the folder
// gone. strace sends it at the making's system call.
TEST(WriteFaults, ASignalAsAFolderIsMadeLeavesNoFolder)
{
    if (std::system("strace -V > /dev/null 2>&1") != 0)
        GTEST_FAIL() << "strace is missing (scripts/setup.sh installs it)";
    const Folder d("signal_at_mkdir");
    fs::create_directory(d / "out");
    fs::create_directory(d / "tmp");
    ASSERT_EQ(RunProgram(TESSOLO_TOOL, "layout new --grid 3x3 " + Q(d / "lay.qntd")).code, 0);
    const std::string font = Q(std::string(TESSOLO_SOURCE_DIR) + "/resources/fonts/DejaVuSans.ttf");
    const std::pair<const char*, std::string> runs[] = {
        {"mkdirat", "export pieces --to png --what all " + Q(d / "lay.qntd") + " " + Q(kSample) + " " +
                        Q(d / "out/pp.png")},
        {"mkdir", "text-demo " + font + " Hello " + Q(d / "out/t.png")}};
    for (const auto& [call, args] : runs)
        for (const auto& [sig, name] : {std::pair{SIGINT, "INT"}, {SIGTERM, "TERM"}, {SIGHUP, "HUP"}}) {
            const std::string how = std::string(name) + " at " + call + ": " + args;
            const Result r = RunProgram("env", "TMPDIR=" + Q(d / "tmp") + " strace -f -o /dev/null -e inject=" + call +
                                                   ":signal=" + name + ":when=1 " + Q(TESSOLO_TOOL) + " " + args);
            EXPECT_EQ(r.code, 128 + sig) << how << "\n" << r.err;
            EXPECT_TRUE(Contents(d / "out").empty()) << how;
            EXPECT_TRUE(Contents(d / "tmp").empty()) << how;
            fs::remove_all(d / "out");
            fs::remove_all(d / "tmp");
            fs::create_directory(d / "out");
            fs::create_directory(d / "tmp");
        }
}

// On a disk that cannot rename without replacing (a vfat image through
// fusefat, as a USB stick is mounted without the kernel's own driver), an
// export of pieces killed after its series is in place, as it removes its
// staging folder, leaves nothing that outlives the next export there, and
// no later run says a series was interrupted.
TEST(WriteFaults, ASeriesKilledAsItTidiesUpOnAFuseDiskLeavesNothing)
{
    if (std::system("strace -V > /dev/null 2>&1") != 0 || std::system("fusefat -h > /dev/null 2>&1; [ $? -ne 127 ]") != 0)
        GTEST_FAIL() << "strace or fusefat is missing (scripts/setup.sh installs them)";
    if (std::system("unshare -m true 2> /dev/null") != 0)
        GTEST_SKIP() << "mounting a disk needs a mount namespace of the test's own";
    const Folder d("series_on_fuse");
    fs::create_directory(d / "disk");
    ASSERT_EQ(RunProgram(TESSOLO_TOOL, "layout new --grid 3x3 " + Q(d / "lay.qntd")).code, 0);
    const std::string tool = "\"" + std::string(TESSOLO_TOOL) + "\"";
    const std::string exportTo = " export pieces --to png --what all \"" + (d / "lay.qntd") + "\" \"" + kSample +
                                 "\" \"" + (d / "disk/rep/pp.png") + "\"";
    // The kill comes at the second removal of a file: the staging folder's
    // journal is gone and its old files are being removed. What the later
    // runs say, and the folder's names, come on standard output.
    const std::string script = "truncate -s 16M \"" + (d / "v.img") + "\" && mkfs.vfat \"" + (d / "v.img") +
                               "\" > /dev/null && fusefat -o rw+ \"" + (d / "v.img") + "\" \"" + (d / "disk") +
                               "\" > /dev/null 2>&1 && mkdir \"" + (d / "disk/rep") + "\" && " + tool + exportTo +
                               " > /dev/null && { (strace -f -o /dev/null -e inject=unlinkat:signal=KILL:when=2 " +
                               tool + exportTo + " > /dev/null 2>&1) 2> /dev/null; echo killed $?; } && " + tool +
                               exportTo + " 2>&1 > /dev/null && " + tool + exportTo + " 2>&1 > /dev/null && ls -a \"" +
                               (d / "disk/rep") + "\"; umount \"" + (d / "disk") + "\"";
    const Result r = RunProgram("unshare", "-m sh -c " + Q(script));
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("killed 137\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find(".series"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("pp_F0009"), std::string::npos) << r.out;
}

// A vfat stick mounted through FUSE (fusefat), FAT32 and a small FAT16,
// misplaces a write that goes back into what a file holds, and cannot read
// back a file unlinked while open: both PSD writers still give there the
// bytes they give on the test's own disk, and a PSD written to standard
// output with the temporary folder on such a disk comes out whole and
// leaves nothing in that folder.
TEST(WriteFaults, PsdsOnAFuseVfatDiskAreTheLocalDisksBytes)
{
    if (std::system("fusefat -h > /dev/null 2>&1; [ $? -ne 127 ]") != 0)
        GTEST_FAIL() << "fusefat is missing (scripts/setup.sh installs it)";
    if (std::system("unshare -m true 2> /dev/null") != 0)
        GTEST_SKIP() << "mounting a disk needs a mount namespace of the test's own";
    const Folder d("psd_on_fuse");
    fs::create_directory(d / "local");
    fs::create_directory(d / "got");
    fs::create_directory(d / "disk");
    ASSERT_EQ(RunProgram(TESSOLO_TOOL, "layout new --grid 3x3 " + Q(d / "lay.qntd")).code, 0);
    ASSERT_EQ(RunProgram(TESSOLO_MKDESC, "--grid 3x3 " + Q(d / "job.qnds")).code, 0);
    const auto host = [&](const std::string& out) {
        return Q(TESSOLO_HOST) + " --plugin " + Q(OwnPluginFolder() + "/Tessolo.so") + " --descriptor " +
               Q(d / "job.qnds") + " " + Q(kSample) + " " + out;
    };
    const auto pieces = [&](const std::string& out) {
        return Q(TESSOLO_TOOL) + " export pieces --to psd " + Q(d / "lay.qntd") + " " + Q(kSample) + " " + out;
    };
    for (const std::string& local : {host(Q(d / "local/h.psd")), pieces(Q(d / "local/p.psd"))}) {
        const Result r = RunProgram("sh", "-c " + Q(local));
        ASSERT_EQ(r.code, 0) << local << "\n" << r.err;
    }
    // Each disk is made, written and let go in turn; what came of each run
    // and what the temporary folder kept are said on standard output.
    std::string script;
    for (const std::string f : {"32", "16"}) {
        const std::string disk = Q(d / "disk"), image = Q(d / ("v" + f + ".img"));
        script += "truncate -s 64M " + image + " && mkfs.vfat -F " + f + " " + image +
                  " > /dev/null && fusefat -o rw+ " + image + " " + disk + " > /dev/null 2>&1 && mkdir " +
                  Q(d / "disk/tmp") + " && { " + host(Q(d / "disk/h.psd")) + " > /dev/null; echo host" + f +
                  " $?; " + pieces(Q(d / "disk/p.psd")) + " > /dev/null; echo pieces" + f + " $?; TMPDIR=" +
                  Q(d / "disk/tmp") + " " + pieces("-") + " > " + Q(d / ("got/s" + f + ".psd")) + "; echo stdout" +
                  f + " $?; cp " + Q(d / "disk/h.psd") + " " + Q(d / ("got/h" + f + ".psd")) + "; cp " +
                  Q(d / "disk/p.psd") + " " + Q(d / ("got/p" + f + ".psd")) + "; ls -A " + Q(d / "disk/tmp") +
                  " | sed \"s/^/left" + f + " /\"; umount " + disk + "; }; ";
    }
    const Result r = RunProgram("unshare", "-m sh -c " + Q(script));
    const std::string h = Slurp(d / "local/h.psd"), p = Slurp(d / "local/p.psd");
    ASSERT_FALSE(h.empty());
    ASSERT_FALSE(p.empty());
    for (const std::string f : {"32", "16"}) {
        for (const std::string run : {"host", "pieces", "stdout"})
            EXPECT_NE(r.out.find(run + f + " 0\n"), std::string::npos) << run << " on FAT" << f << ":\n" << r.out << r.err;
        EXPECT_EQ(r.out.find("left" + f), std::string::npos) << "left in the temporary folder on FAT" << f << ":\n" << r.out;
        EXPECT_TRUE(Slurp(d / ("got/h" + f + ".psd")) == h) << "tessolo-host's PSD on FAT" << f << " is not the local one";
        EXPECT_TRUE(Slurp(d / ("got/p" + f + ".psd")) == p) << "the exported PSD on FAT" << f << " is not the local one";
        EXPECT_TRUE(Slurp(d / ("got/s" + f + ".psd")) == p) << "the PSD on standard output (FAT" << f << ") is not the local one";
    }
}

// The help document is written through the one gate: a user's file named
// like a fixed temporary name is no business of it, a link stays a link
// and gets the document at its end, a dangling link has the file made where
// it points, a loop of links and a link to the guide are refused with
// nothing written, and no temporary file is left beside them.
TEST(WriteFaults, TheHelpDocumentIsWrittenThroughTheGate)
{
    const Folder d("helpdoc_gate");
    fs::create_directory(d / "pictures");
    fs::create_directory(d / "away");
    std::ofstream(d / "guide.txt") << "@title A guide\n\nSome words of it.\n";
    std::ofstream(d / "out.pdf.part") << "the user's own";
    std::ofstream(d / "away/end.pdf") << "old end";
    fs::create_symlink("away/end.pdf", d / "link.pdf");
    fs::create_symlink("away/none.pdf", d / "dangling.pdf");
    fs::create_symlink("loop.pdf", d / "loop.pdf");
    fs::create_symlink("guide.txt", d / "guide.pdf");
    const auto run = [&](const std::string& out) {
        // Fontconfig keeps its caches to the end, which the leak checker
        // takes for leaks.
        return RunProgram("/usr/bin/env", "ASAN_OPTIONS=detect_leaks=0 " + Q(TESSOLO_HELPDOC) + " " + Q(d / "guide.txt") + " " + Q(d / "pictures") + " -o " + Q(d / out));
    };
    for (const char* out : {"out.pdf", "link.pdf", "dangling.pdf"}) {
        const Result r = run(out);
        EXPECT_EQ(r.code, 0) << out << ": " << r.err;
    }
    EXPECT_EQ(Slurp(d / "out.pdf").rfind("%PDF-", 0), 0u);
    EXPECT_EQ(Slurp(d / "out.pdf.part"), "the user's own");
    EXPECT_TRUE(fs::is_symlink(d / "link.pdf"));
    EXPECT_TRUE(Slurp(d / "away/end.pdf") == Slurp(d / "out.pdf")) << "the link's end holds no document";
    EXPECT_TRUE(fs::is_symlink(d / "dangling.pdf"));
    EXPECT_TRUE(Slurp(d / "away/none.pdf") == Slurp(d / "out.pdf")) << "the dangling link's end holds no document";
    const Result loop = run("loop.pdf");
    EXPECT_EQ(loop.code, 1);
    EXPECT_NE(loop.err.find("loop.pdf: too many levels of symbolic links"), std::string::npos) << loop.err;
    const Result guide = run("guide.pdf");
    EXPECT_EQ(guide.code, 1);
    EXPECT_NE(guide.err.find("would write over the input"), std::string::npos) << guide.err;
    EXPECT_EQ(Slurp(d / "guide.txt"), "@title A guide\n\nSome words of it.\n");
    EXPECT_TRUE(fs::is_symlink(d / "loop.pdf"));
    for (const auto& e : fs::directory_iterator(d.path()))
        EXPECT_TRUE(e.path().filename() == "out.pdf.part" || e.path().filename().string().find(".pdf.") == std::string::npos)
            << e.path() << " left behind";
}

// Under a file-size limit (ulimit -f) a write that passes it fails as a
// write, in one line that names it, instead of the signal ending the
// program without a word; the old file stays as it was.
TEST(WriteFaults, AFileSizeLimitIsNamedAndLeavesTheOldFile)
{
    const Folder d("file_size_limit");
    ASSERT_EQ(RunProgram(TESSOLO_MKDESC, "--grid 2x2 " + Q(d / "job.qnds")).code, 0);
    const struct {
        std::string command;
        std::string out;
        int code;
    } cases[] = {
        {Q(TESSOLO_HOST) + " --plugin " + Q(OwnPluginFolder() + "/Tessolo.so") + " --descriptor " +
             Q(d / "job.qnds") + " " + Q(kSample) + " " + Q(d / "h.png"),
         d / "h.png", 3},
        {Q(TESSOLO_TOOL) + " convert " + Q(kSample) + " " + Q(d / "c.png"), d / "c.png", 1},
        {Q(TESSOLO_TOOL) + " psd write " + Q(d / "p.psd") + " " + Q(kSample), d / "p.psd", 1},
    };
    for (const auto& c : cases) {
        std::ofstream(c.out) << "old";
        // 8 blocks of 512 bytes: the pictures take more.
        const Result r = RunProgram("sh", "-c " + Q("ulimit -f 8 && exec " + c.command));
        EXPECT_EQ(r.code, c.code) << c.command << ": " << r.err;
        EXPECT_EQ(Lines(r.err), 1u) << r.err;
        EXPECT_NE(r.err.find("cannot write " + c.out + ": file too large"), std::string::npos) << r.err;
        EXPECT_EQ(Slurp(c.out), "old");
        for (const auto& [name, bytes] : Contents(d.path()))
            EXPECT_NE(name[0], '.') << name << " left behind";
    }
}

// Standard output on a full device: every program that printed something
// it could not write says so in one line and fails, whatever it printed
// (a listing, a value, a usage text, a verbose log).
TEST(WriteFaults, LostStandardOutputFailsEveryProgram)
{
    ASSERT_TRUE(fs::exists("/dev/full"));
    const Folder d("lost_output");
    ASSERT_EQ(RunTool("layout new --grid 3x2 " + Q(d / "lay.qntd")).code, 0);
    ASSERT_EQ(RunTool("psd write " + Q(d / "in.psd") + " " + Q(kSample)).code, 0);
    ASSERT_EQ(RunTool("storage put " + Q(d / "c.qns") + " 'A>b' 4 hello").code, 0);
    {
        // A value larger than the output's buffer fails inside the command.
        std::ofstream blob(d / "blob", std::ios::binary);
        for (int k = 0; k < 200000; ++k)
            blob.put(char(k % 251));
    }
    ASSERT_EQ(RunTool("storage put " + Q(d / "c.qns") + " Big 5 - < " + Q(d / "blob")).code, 0);
    ASSERT_EQ(RunProgram(TESSOLO_MKDESC, "--grid 2x2 " + Q(d / "job.qnds")).code, 0);
    const std::string knob = Q(std::string(TESSOLO_SOURCE_DIR) + "/fuzz/corpus/shape_file/knob.qnth");
    const std::string c = Q(d / "c.qns");
    const struct {
        const char* program;
        std::string args;
        int code;  // when the output is lost
    } cases[] = {
        {TESSOLO_TOOL, "--help", 1},
        {TESSOLO_TOOL, "storage --help", 1},
        {TESSOLO_TOOL, "storage get " + c + " 'A>b'", 1},
        {TESSOLO_TOOL, "storage get " + c + " Big", 1},
        {TESSOLO_TOOL, "storage ls " + c, 1},
        {TESSOLO_TOOL, "md5 " + c, 1},
        {TESSOLO_TOOL, "shapes show " + knob, 1},
        {TESSOLO_TOOL, "resources dump " + c, 1},
        {TESSOLO_TOOL, "layout show " + Q(d / "lay.qntd"), 1},
        {TESSOLO_TOOL, "psd read " + Q(d / "in.psd") + " " + Q(d / "layers"), 1},
        {TESSOLO_HOST, "--help", 3},
        {TESSOLO_HOST, "-v --descriptor " + Q(d / "job.qnds") + " " + Q(kSample) + " " + Q(d / "out.png"), 3},
        {TESSOLO_MKDESC, "--help", 1},
        {TESSOLO_RC, "--help", 1},
        {TESSOLO_HELPDOC, "--help", 1},
        {TESSOLO_S3D_DEMO, "--help", 1},
    };
    for (const auto& k : cases) {
        const std::string name = fs::path(k.program).filename().string();
        SCOPED_TRACE(name + " " + k.args);
        // The same run with its output kept succeeds and prints.
        fs::create_directory(d / "layers");
        const Result kept = RunProgram(k.program, k.args);
        ASSERT_EQ(kept.code, 0) << kept.err;
        EXPECT_FALSE(kept.out.empty());
        fs::remove_all(d / "layers");
        fs::create_directory(d / "layers");
        const Result lost = RunProgram(k.program, k.args, "/dev/full");
        EXPECT_EQ(lost.code, k.code);
        // Named as a closed standard output is, by the command that lost it.
        const std::string command =
            k.args.rfind("--", 0) == 0 || k.program != std::string(TESSOLO_TOOL) ? "" : " " + k.args.substr(0, k.args.find(' '));
        EXPECT_EQ(lost.err, name + command + ": cannot write -: no space left on device\n");
        fs::remove_all(d / "layers");
    }
}

// Every program that writes says the same two things the same way: a name
// on a read-only file system (a new file, a file that is there, a folder to
// be made or one that is there) is "the folder is on a read-only file
// system", and a file this user may not write (mode 000 too: it is no
// read-only file) is "the file has no write permission", each in one line
// naming where it would have written, with nothing written.
TEST(WriteFaults, EveryWriterWordsAReadOnlyDiskAndAClosedFileAlike)
{
    const Folder d("one_wording");
    const std::string ro = d / "ro";
    fs::create_directory(ro);
    if (!CanOwnMounts(ro))
        GTEST_SKIP() << "no mounts of its own for a test here (not root and no user namespaces, or a chroot whose root is no mount point)";
    const std::string src = TESSOLO_SOURCE_DIR, bin = TESSOLO_BINARY_DIR;
    const std::string in = Q(d / "in.png"), lay = Q(d / "lay.qntd"), psd = Q(d / "in.psd");
    fs::copy_file(kSample, d / "in.png");
    ASSERT_EQ(RunTool("layout new --grid 3x2 " + lay).code, 0);
    ASSERT_EQ(RunTool("psd write " + psd + " " + in).code, 0);
    ASSERT_EQ(RunTool("zip " + in + " " + Q(d / "in.zip")).code, 0);
    const std::string knob = Q(src + "/fuzz/corpus/shape_file/knob.qnth");
    const std::string tool = Q(TESSOLO_TOOL) + " ";
    // Fontconfig keeps its caches to the end, which the leak checker takes
    // for leaks.
    const std::string host = "TESSOLO_PLUGIN=" + Q(OwnPluginFolder() + "/Tessolo.so") + " " + Q(TESSOLO_HOST) + " ";
    const std::string helpdoc = "ASAN_OPTIONS=detect_leaks=0 " + Q(TESSOLO_HELPDOC) + " ";
    // Each writer, given where its file (or its folder, ending in "/") goes.
    // A folder's writer makes its folder when it is missing ("+/"), or
    // takes only one that is there.
    const std::vector<std::pair<std::string, std::function<std::string(const std::string&)>>> writers = {
        {"o.png", [&](const std::string& t) { return host + in + " " + Q(t); }},
        {"o.qnds", [&](const std::string& t) { return Q(TESSOLO_MKDESC) + " --grid 2x2 " + Q(t); }},
        {"o.qns4",
         [&](const std::string& t) {
             return Q(TESSOLO_RC) + " " + Q(src + "/resources/manifest/ui.qnui") + " -o " + Q(t) + " --fonts " +
                    Q(src + "/resources/fonts");
         }},
        {"o.pdf",
         [&](const std::string& t) {
             return helpdoc + Q(src + "/resources/help/guide.txt") + " " + Q(bin + "/help/pictures") + " -o " + Q(t);
         }},
        {"o.png", [&](const std::string& t) { return Q(TESSOLO_S3D_DEMO) + " --scene wave --view flat -o " + Q(t); }},
        {"s3d+/", [&](const std::string& t) { return Q(TESSOLO_S3D_DEMO) + " --all " + Q(t); }},
        {"o.png", [&](const std::string& t) { return tool + "convert " + in + " " + Q(t); }},
        {"o.png", [&](const std::string& t) { return tool + "fx invert " + in + " " + Q(t); }},
        {"o.png", [&](const std::string& t) { return tool + "engine lines --grid 2x2 " + in + " " + Q(t); }},
        {"o.psd", [&](const std::string& t) { return tool + "export pieces " + lay + " " + in + " " + Q(t); }},
        {"p.png",
         [&](const std::string& t) { return tool + "export pieces --to png --names simple " + lay + " " + in + " " + Q(t); }},
        {"o.eps", [&](const std::string& t) { return tool + "export knives --size 10x10 " + lay + " " + Q(t); }},
        {"o.qntd", [&](const std::string& t) { return tool + "layout new --grid 2x2 " + Q(t); }},
        {"o.block", [&](const std::string& t) { return tool + "layout block " + lay + " " + Q(t); }},
        {"o.psd", [&](const std::string& t) { return tool + "psd write " + Q(t) + " " + in; }},
        {"layers/", [&](const std::string& t) { return tool + "psd read " + psd + " " + Q(t); }},
        {"o.zip", [&](const std::string& t) { return tool + "zip " + in + " " + Q(t); }},
        {"o.bin", [&](const std::string& t) { return tool + "unzip " + Q(d / "in.zip") + " " + Q(t); }},
        {"o.conf", [&](const std::string& t) { return tool + "storage put " + Q(t) + " A 1 1"; }},
        {"o.qnth", [&](const std::string& t) { return tool + "shapes convert " + knob + " " + Q(t); }},
        {"o.png", [&](const std::string& t) { return tool + "shapes show " + knob + " --png " + Q(t); }},
        {"demo+/", [&](const std::string& t) { return tool + "core-demo " + Q(t); }},
        {"o.png",
         [&](const std::string& t) { return tool + "resources sheet " + Q(bin + "/resource_ts31_d.qns4") + " " + Q(t); }},
        {"o.png", [&](const std::string& t) { return tool + "draw-demo " + Q(t); }},
        {"o.png",
         [&](const std::string& t) { return tool + "text-demo " + Q(src + "/resources/fonts/DejaVuSans.ttf") + " hi " + Q(t); }},
        {"o.png", [&](const std::string& t) { return tool + "ui-gallery --snap " + Q(t); }},
        {"o.png", [&](const std::string& t) { return tool + "ui-controls --snap " + Q(t); }},
        {"o.png", [&](const std::string& t) { return tool + "ui-edit --snap " + Q(t); }},
        {"tour/", [&](const std::string& t) { return tool + "ui-tour " + Q(t); }},
    };

    // On the read-only file system: each writer's file or folder new, and
    // there already; the answers kept outside it. A series' refusal names
    // the folder it would go into.
    const std::string said = d / "said";
    fs::create_directory(said);
    std::string made = "mount -t tmpfs -o size=1m tmpfs " + Q(ro) + " || exit 1\n", run;
    std::vector<std::string> runs;
    for (size_t i = 0; i < writers.size(); ++i) {
        const auto& [name, command] = writers[i];
        const bool folder = name.back() == '/';
        const std::string there = ro + "/there" + std::to_string(i);
        made += folder ? "mkdir " + Q(there) + "\n" : "printf old > " + Q(there + name) + "\n";
        for (const std::string& target : {ro + "/new" + std::to_string(i) + (folder ? std::string() : name),
                                          folder ? there : there + name}) {
            if (target.find("/new") != std::string::npos && folder && name.find('+') == std::string::npos)
                continue;
            run += command(target) + " >/dev/null 2>" + Q(said + "/" + std::to_string(runs.size())) + "; echo $? >>" +
                   Q(said + "/codes") + "\n";
            runs.push_back(command(target));
        }
    }
    const std::string script = made + "mount -o remount,ro " + Q(ro) + " || exit 1\n" + run;
    const Result mounted = WithOwnMounts(d.path(), script);
    ASSERT_EQ(mounted.code, 0) << mounted.err;
    std::istringstream codes(Slurp(said + "/codes"));
    for (size_t k = 0; k < runs.size(); ++k) {
        int code = -1;
        codes >> code;
        const std::string err = Slurp(said + "/" + std::to_string(k));
        SCOPED_TRACE(runs[k]);
        EXPECT_TRUE(code == 1 || code == 3) << code << ": " << err;
        EXPECT_EQ(Lines(err), 1u) << err;
        EXPECT_NE(err.find("cannot write " + ro), std::string::npos) << err;
        EXPECT_NE(err.find(": the folder is on a read-only file system\n"), std::string::npos) << err;
    }

    // A file of mode 000 where each writer of one file writes (for a
    // folder's writer, the demo's list in its folder): as root too.
    const std::string shut = d / "shut";
    fs::create_directory(shut);
    for (size_t i = 0; i < writers.size(); ++i) {
        const auto& [name, command] = writers[i];
        if (name.back() == '/' && name != "demo+/")
            continue;
        const std::string target = shut + "/" + std::to_string(i) + (name == "demo+/" ? "" : name);
        std::string file = target;
        if (name == "demo+/") {
            fs::create_directory(target);
            file = target + "/pieces.txt";
        } else if (name == "p.png") {
            file = shut + "/" + std::to_string(i) + "p_0001.png";
        }
        std::ofstream(file) << "old";
        fs::permissions(file, fs::perms::none);
        const Result r = RunProgram("sh", "-c " + Q(command(target)));
        SCOPED_TRACE(command(target));
        EXPECT_TRUE(r.code == 1 || r.code == 3) << r.code << ": " << r.err;
        EXPECT_EQ(Lines(r.err), 1u) << r.err;
        EXPECT_NE(r.err.find("cannot write " + file + ": the file has no write permission\n"), std::string::npos) << r.err;
        fs::permissions(file, fs::perms::owner_read);
        EXPECT_EQ(Slurp(file), "old");
    }
}
