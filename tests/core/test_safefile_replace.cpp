// Replacing files safely: whole buffers and streamed files, permissions and
// owners, links, targets that are no regular file, standard output, and
// failures or kills that must leave the target and no temporary file.
#include "core/SafeFile.h"

#include "core/ErrorWords.h"
#include "core/FileSeries.h"

#include "test_storage_util.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <new>
#include <optional>
#include <system_error>
#include <vector>

#include <filesystem>
#include <set>

using namespace storage_test;
namespace fs = std::filesystem;

namespace {

std::set<std::string> Entries(const std::string& dir)
{
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(dir))
        names.insert(e.path().filename().string());
    return names;
}

unsigned Mode(const std::string& path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 ? unsigned(st.st_mode & 07777) : 0u;
}

// Sets the umask for one test.
class Umask {
public:
    explicit Umask(mode_t m) : m_old(::umask(m)) {}
    ~Umask() { ::umask(m_old); }

private:
    mode_t m_old;
};

}  // namespace

TEST(SafeFileReplace, WholeBufferKeepsPermissionsAndFollowsLinks)
{
    TempDir dir;
    const Umask mask(022);
    const std::string target = dir.File("real.bin");
    const std::string link = dir.File("link.bin");

    // A new file gets the permissions any new file gets.
    const uint8_t first[] = {1, 2, 3};
    ASSERT_EQ(qnReplaceFile(target, first, sizeof first), 0);
    EXPECT_EQ(ReadFile(target), (Bytes{1, 2, 3}));
    EXPECT_EQ(Mode(target), 0644u);

    // Through a link: the file it names is replaced and keeps its bits.
    ::chmod(target.c_str(), 0640);
    fs::create_symlink("real.bin", link);
    const uint8_t second[] = {9, 8};
    ASSERT_EQ(qnReplaceFile(link, second, sizeof second), 0);
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(ReadFile(target), (Bytes{9, 8}));
    EXPECT_EQ(Mode(target), 0640u);

    // Nothing at all is content too.
    ASSERT_EQ(qnReplaceFile(target, nullptr, 0), 0);
    EXPECT_EQ(fs::file_size(target), 0u);
    EXPECT_EQ(Entries(dir.Path()), (std::set<std::string>{"real.bin", "link.bin"}));
}

// A link to a file not made yet: the file is made where it points and the
// link stays, through both writers and a chain of links.
TEST(SafeFileReplace, DanglingLinksKeepTheirLinkAndGetTheirFile)
{
    TempDir dir;
    fs::create_directory(dir.File("sub"));
    const struct {
        std::vector<std::pair<std::string, std::string>> links;  // name, where it points
        std::string written;                                      // the name given to the writer
        std::string made;                                         // the file that must appear
    } cases[] = {
        {{{"rel", "sub/a.bin"}}, "rel", "sub/a.bin"},
        {{{"abs", dir.File("b.bin")}}, "abs", "b.bin"},
        {{{"first", "second"}, {"second", "sub/../sub/c.bin"}}, "first", "sub/c.bin"},
        {{{"sub/up", "../d.bin"}}, "sub/up", "d.bin"},
    };
    for (const bool streamed : {false, true}) {
        for (const auto& c : cases) {
            for (const auto& [name, to] : c.links)
                fs::create_symlink(to, dir.File(name));
            const uint8_t data[] = {uint8_t(streamed), 4, 2};
            if (streamed) {
                CQNF_SafeFile f;
                ASSERT_TRUE(f.Open(dir.File(c.written)));
                ASSERT_EQ(f.File().Write(data, sizeof data), int64_t(sizeof data));
                ASSERT_TRUE(f.Commit());
            } else {
                ASSERT_EQ(qnReplaceFile(dir.File(c.written), data, sizeof data), 0);
            }
            for (const auto& [name, to] : c.links)
                EXPECT_TRUE(fs::is_symlink(dir.File(name))) << name;
            EXPECT_EQ(ReadFile(dir.File(c.made)), (Bytes{uint8_t(streamed), 4, 2})) << c.made;
            for (const auto& [name, to] : c.links)
                fs::remove(dir.File(name));
            fs::remove(dir.File(c.made));
        }
    }
}

TEST(SafeFileReplace, FailuresLeaveTheTargetAndNoTemporaryFile)
{
    TempDir dir;
    const uint8_t data[] = {7};
    EXPECT_EQ(qnReplaceFile("", data, 1), qnerr::BadArgument);
    EXPECT_EQ(qnReplaceFile(dir.File("missing/x.bin"), data, 1), qnerr::FileNotOpened);

    // A folder in the way is refused before anything is made.
    const std::string folder = dir.File("taken");
    fs::create_directory(folder);
    WriteFile(folder + "/inside", {5});
    EXPECT_EQ(qnReplaceFile(folder, data, 1), qnerr::FileNotOpened);
    CQNF_SafeFile f;
    EXPECT_FALSE(f.Open(folder));
    EXPECT_EQ(f.GetError(), qnerr::FileNotOpened);
    EXPECT_TRUE(fs::is_directory(folder));
    EXPECT_EQ(ReadFile(folder + "/inside"), (Bytes{5}));
    EXPECT_EQ(Entries(dir.Path()), std::set<std::string>{"taken"});
}

TEST(SafeFileReplace, StreamedFileReplacesOnlyOnCommit)
{
    TempDir dir;
    const std::string target = dir.File("out.bin");
    WriteFile(target, {9, 9});
    ::chmod(target.c_str(), 0640);
    {
        CQNF_SafeFile f;
        ASSERT_TRUE(f.Open(target));
        ASSERT_EQ(f.File().Write("abc", 3), 3);
        // Dropped without Commit: the target keeps its bytes, no leftovers.
    }
    EXPECT_EQ(ReadFile(target), (Bytes{9, 9}));
    EXPECT_EQ(Entries(dir.Path()), std::set<std::string>{"out.bin"});

    CQNF_SafeFile f;
    ASSERT_TRUE(f.Open(target));
    ASSERT_EQ(f.File().Write("x", 1), 1);
    // Opening again abandons the first temporary file.
    ASSERT_TRUE(f.Open(target));
    ASSERT_EQ(f.File().Write("abc", 3), 3);
    ASSERT_EQ(f.File().SetPos(1), 1);
    ASSERT_EQ(f.File().Write("B", 1), 1);
    ASSERT_TRUE(f.Commit());
    EXPECT_EQ(ReadFile(target), (Bytes{'a', 'B', 'c'}));
    EXPECT_EQ(Mode(target), 0640u);
    EXPECT_EQ(Entries(dir.Path()), std::set<std::string>{"out.bin"});
    // Nothing is open any more.
    EXPECT_FALSE(f.Commit());
    EXPECT_EQ(f.GetError(), qnerr::FileClosed);

    // A target without write permission is refused by the gate itself, also through a
    // link, whoever runs the program: the writer's message says why.
    ::chmod(target.c_str(), 0444);
    fs::create_symlink(target, dir.File("link"));
    EXPECT_FALSE(f.Open(dir.File("link")));
    EXPECT_EQ(qnFileFailure(dir.File("link"), true, f.GetError()),
              "cannot write " + dir.File("link") + ": the file has no write permission");
    EXPECT_NE(qnReplaceFile(target, "new", 3), 0);
    EXPECT_EQ(qnFileFailure(target, true, qnerr::FileWrite), "cannot write " + target + ": the file has no write permission");
    EXPECT_TRUE(fs::is_symlink(dir.File("link")));
    EXPECT_EQ(ReadFile(target), (Bytes{'a', 'B', 'c'}));
    EXPECT_EQ(Mode(target), 0444u);
    EXPECT_EQ(Entries(dir.Path()), (std::set<std::string>{"link", "out.bin"}));

    // A folder that does not exist: no file at all.
    CQNF_SafeFile g;
    EXPECT_FALSE(g.Open(dir.File("missing/x.png")));
    EXPECT_EQ(g.GetError(), qnerr::FileNotOpened);
    EXPECT_FALSE(g.Open(""));
    EXPECT_EQ(g.GetError(), qnerr::BadArgument);
}

TEST(SafeFileReplace, LongestNamesStillGetATemporaryFile)
{
    TempDir dir;
    const std::string name(255, 'n');
    const uint8_t data[] = {4, 2};
    ASSERT_EQ(qnReplaceFile(dir.File(name), data, sizeof data), 0);
    EXPECT_EQ(ReadFile(dir.File(name)), (Bytes{4, 2}));
    CQNF_SafeFile f;
    ASSERT_TRUE(f.Open(dir.File(name)));
    ASSERT_EQ(f.File().Write("z", 1), 1);
    ASSERT_TRUE(f.Commit());
    EXPECT_EQ(ReadFile(dir.File(name)), (Bytes{'z'}));
    EXPECT_EQ(Entries(dir.Path()), std::set<std::string>{name});
}


// Only regular files are written: a FIFO nobody reads (which would hold the
// writer for ever), a UNIX socket, a device and a folder, named or behind a
// link, are refused by the check and by every way of writing, at once, and
// stay what they were.
TEST(SafeFileReplace, FifosSocketsDevicesAndFoldersAreRefusedUntouched)
{
    TempDir dir;
    ASSERT_EQ(::mkfifo(dir.File("pipe").c_str(), 0600), 0);
    fs::create_symlink("pipe", dir.File("to-pipe"));
    ASSERT_TRUE(MakeSocket(dir.File("socket")));
    // A null device node of our own where we may make one (so a failure
    // cannot touch the system's), else /dev/null itself.
    std::string device = dir.File("null");
    if (::mknod(device.c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0)
        device = "/dev/null";
    fs::create_directory(dir.File("folder"));
    const struct {
        std::string path;
        const char* says;
    } cases[] = {{dir.File("pipe"), "a FIFO"},
                 {dir.File("to-pipe"), "a FIFO"},
                 {dir.File("socket"), "a socket"},
                 {device, "a device"},
                 {dir.File("folder"), "is a folder"}};
    auto kinds = [&] {
        std::string all;
        for (const auto& c : cases)
            all += std::to_string(int(fs::symlink_status(c.path).type())) + "/" +
                   std::to_string(int(fs::status(c.path).type())) + " ";
        return all;
    };
    const std::string before = kinds();
    const std::set<std::string> entries = Entries(dir.Path());
    // In a child that an alarm ends: a writer held by the FIFO fails the
    // test instead of hanging it.
    TempDir talk;
    const int status = InChild([&] {
        ::alarm(20);
        std::string failed;
        for (const auto& c : cases) {
            const std::string why = qnTargetRefusal(c.path);
            if (why.find(c.says) == std::string::npos)
                failed += c.path + ": the check says \"" + why + "\"\n";
            if (qnReplaceFile(c.path, "abc", 3) != qnerr::FileNotOpened)
                failed += c.path + ": written whole\n";
            CQNF_SafeFile f;
            if (f.Open(c.path) && (f.File().Write("abc", 3) != 3 || f.Commit()))
                failed += c.path + ": streamed\n";
            if (qnFileFailure(c.path, true, qnerr::FileNotOpened).find(c.says[0] == 'i' ? "is a folder"
                                                                                       : "not a regular file") ==
                std::string::npos)
                failed += c.path + ": " + qnFileFailure(c.path, true, qnerr::FileNotOpened) + "\n";
        }
        std::ofstream(talk.File("said")) << failed;
        return 0;
    });
    ASSERT_EQ(status, 0) << "a writer waited (killed by signal " << status - 128 << ")";
    const Bytes said = ReadFile(talk.File("said"));
    EXPECT_EQ(std::string(said.begin(), said.end()), "");
    EXPECT_EQ(kinds(), before);
    EXPECT_EQ(Entries(dir.Path()), entries);
}

// Replacing a file keeps what cp keeps when it writes into one: its owner
// and group (as root, a file of another user stays theirs; otherwise the
// group, where the user is in it) and its mode bits, set-id bits included,
// through both writers.
TEST(SafeFileReplace, AReplacedFileKeepsItsOwnerGroupAndModeBits)
{
    TempDir dir;
    const std::string target = dir.File("owned.bin");
    const auto [uid, gid] = AnotherOwner();
    for (const bool streamed : {false, true}) {
        SCOPED_TRACE(streamed ? "streamed" : "whole buffer");
        WriteFile(target, {'o', 'l', 'd'});
        ASSERT_EQ(::chown(target.c_str(), uid, gid), 0);
        ASSERT_EQ(::chmod(target.c_str(), 06751), 0);
        if (streamed) {
            CQNF_SafeFile f;
            ASSERT_TRUE(f.Open(target));
            ASSERT_EQ(f.File().Write("new", 3), 3);
            ASSERT_TRUE(f.Commit());
        } else {
            ASSERT_EQ(qnReplaceFile(target, "new", 3), 0);
        }
        EXPECT_EQ(ReadFile(target), (Bytes{'n', 'e', 'w'}));
        struct stat st;
        ASSERT_EQ(::stat(target.c_str(), &st), 0);
        EXPECT_EQ(st.st_uid, uid);
        EXPECT_EQ(st.st_gid, gid);
        EXPECT_EQ(st.st_mode & 07777, 06751u);
    }
}

// The target a program checked before its work is the one it writes: a
// link re-pointed meanwhile (at the program's input, say), and a link put
// in place of the file, are never followed; the file the link led to at the
// check gets the bytes, through both writers.
TEST(SafeFileReplace, TheCheckedTargetIsTheOneWritten)
{
    TempDir dir;
    WriteFile(dir.File("input"), {'i', 'n'});
    WriteFile(dir.File("safe"), {'o', 'l', 'd'});
    fs::create_symlink("safe", dir.File("swap"));
    fs::create_directory(dir.File("sub"));
    WriteFile(dir.File("sub/plain"), {'o', 'l', 'd'});
    fs::create_symlink("sub", dir.File("via"));
    const std::string swap = dir.File("swap"), plain = dir.File("via/plain");
    for (const bool streamed : {false, true}) {
        SCOPED_TRACE(streamed ? "streamed" : "whole buffer");
        ASSERT_EQ(qnTargetRefusal(swap), "");
        ASSERT_EQ(qnTargetRefusal(plain), "");
        // Meanwhile: the link turns to the input, the folder link to
        // another folder, and the file there becomes a link to the input.
        fs::remove(swap);
        fs::create_symlink("input", swap);
        fs::remove(dir.File("via"));
        fs::create_directory(dir.File("other"));
        fs::create_symlink("other", dir.File("via"));
        fs::rename(dir.File("sub/plain"), dir.File("sub/plain.kept"));
        fs::create_symlink("../input", dir.File("sub/plain"));
        for (const std::string& path : {swap, plain}) {
            if (streamed) {
                CQNF_SafeFile f;
                ASSERT_TRUE(f.Open(path));
                ASSERT_EQ(f.File().Write("new", 3), 3);
                ASSERT_TRUE(f.Commit());
            } else {
                ASSERT_EQ(qnReplaceFile(path, "new", 3), 0);
            }
        }
        EXPECT_EQ(ReadFile(dir.File("input")), (Bytes{'i', 'n'}));
        EXPECT_EQ(ReadFile(dir.File("safe")), (Bytes{'n', 'e', 'w'}));
        EXPECT_EQ(ReadFile(dir.File("sub/plain")), (Bytes{'n', 'e', 'w'}));
        EXPECT_FALSE(fs::is_symlink(dir.File("sub/plain")));
        EXPECT_TRUE(fs::is_empty(dir.File("other")));
        // Back as it was for the next round.
        fs::remove(swap);
        fs::create_symlink("safe", swap);
        fs::remove(dir.File("via"));
        fs::remove(dir.File("other"));
        fs::create_symlink("sub", dir.File("via"));
        fs::rename(dir.File("sub/plain.kept"), dir.File("sub/plain"));
    }
}

TEST(SafeFileReplace, DashWritesStandardOutput)
{
    TempDir dir;
    const std::string out = dir.File("stdout");
    // The child's standard output is a file: "-" must append to what the
    // shell opened, not put a new file in its place.
    const int status = InChild([&] {
        const int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (fd < 0 || ::dup2(fd, STDOUT_FILENO) < 0 || ::write(STDOUT_FILENO, "<", 1) != 1)
            return 2;
        if (qnReplaceFile(kQnStandardOutput, "ab", 2) != 0)
            return 3;
        CQNF_SafeFile f;
        if (!f.Open(kQnStandardOutput) || f.File().Write("cd", 2) != 2 || !f.Commit())
            return 4;
        CQNF_SafeFile dropped;
        if (!dropped.Open(kQnStandardOutput) || dropped.File().Write("no", 2) != 2)
            return 5;
        return 0;  // dropped without Commit: sends nothing
    });
    ASSERT_EQ(status, 0);
    EXPECT_EQ(ReadFile(out), (Bytes{'<', 'a', 'b', 'c', 'd'}));
    EXPECT_EQ(Entries(dir.Path()), std::set<std::string>{"stdout"});
}

TEST(SafeFileReplace, AKilledWriterLeavesNoFileBehind)
{
    // SIGKILL can only be survived by a temporary file without a name;
    // SIGTERM, SIGINT and SIGHUP (a closed terminal) also by the named one,
    // removed by the handler, also after a held region was left by an
    // exception.
    struct Case {
        bool named;
        int sig;
    };
    for (const Case c : {Case{false, SIGKILL}, Case{false, SIGTERM}, Case{true, SIGTERM}, Case{true, SIGINT},
                         Case{true, SIGHUP}}) {
        SCOPED_TRACE(std::string(c.named ? "named, " : "unnamed, ") + strsignal(c.sig));
        TempDir dir;
        const std::string target = dir.File("big.bin");
        WriteFile(target, {1, 2, 3});
        int ready[2];
        ASSERT_EQ(::pipe(ready), 0);
        const pid_t pid = ::fork();
        if (pid == 0) {
            // Work held from signals that failed half-way (memory ran out)
            // leaves no hold behind: the signal still ends the writer and
            // its clean-up still runs.
            try {
                const CQNF_TerminationHold outer;
                const CQNF_TerminationHold inner;
                throw std::bad_alloc();
            } catch (const std::bad_alloc&) {
            }
            qnSafeFileForceNamedTemp(c.named);
            CQNF_SafeFile f;
            std::vector<char> block(1 << 20, 'z');
            if (!f.Open(target) || f.File().Write(block.data(), uint32_t(block.size())) <= 0 || !f.File().Flush())
                ::_exit(2);
            (void)!::write(ready[1], "r", 1);
            // A signal the writer caught and let go on with ends here.
            ::pause();
            ::_exit(4);
        }
        ::close(ready[1]);
        char byte = 0;
        ASSERT_EQ(::read(ready[0], &byte, 1), 1) << "the writer did not start";
        ::close(ready[0]);
        ::kill(pid, c.sig);
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == c.sig) << "ended as the signal ends a program";
        EXPECT_EQ(Entries(dir.Path()), std::set<std::string>{"big.bin"});
        EXPECT_EQ(ReadFile(target), (Bytes{1, 2, 3}));
    }
}

namespace {

// Hidden files of the user's named like the writer's temporary ones, with
// six letters or digits after the tag as the writer's once had, or after the
// name as earlier versions had: no write ever removes them.
const std::vector<std::string> kUsersLookalikes = {"tessolo-backup", "tessolo-draft1", "tessolo-2024v2",
                                                   "tessolo-AbC123", "Mine01"};

void PutUsersLookalikes(const std::string& folder, const std::string& name)
{
    for (const std::string& tail : kUsersLookalikes)
        WriteFile(folder + "/." + name + "." + tail, {7});
}

// Which of them are missing or changed, in words; empty when all stayed.
std::string MissingLookalikes(const std::string& folder, const std::string& name)
{
    std::string missing;
    for (const std::string& tail : kUsersLookalikes)
        if (!fs::exists(folder + "/." + name + "." + tail) || ReadFile(folder + "/." + name + "." + tail) != Bytes{7})
            missing += " ." + name + "." + tail;
    return missing.empty() ? missing : "the user's files were removed:" + missing;
}

}  // namespace

// A writer killed between naming its whole file and renaming it over the
// target leaves it under its hidden name (no signal can be caught there):
// the next write of that target removes it, and only it, once nobody holds
// it. A file of such a name that the gate did not make, one another process
// holds locked, or one a live writer holds, stays.
TEST(SafeFileReplace, TheNextWriteRemovesWhatAKilledWriterLeftNamed)
{
    TempDir dir;
    const std::string target = dir.File("out.bin");
    WriteFile(target, {1});
    PutUsersLookalikes(dir.Path(), "out.bin");
    const std::set<std::string> users = Entries(dir.Path());
    const pid_t dead = ::fork();
    if (dead == 0) {
        qnSafeFileForceNamedTemp(true);
        CQNF_SafeFile f;
        ::_exit(f.Open(target) && f.File().Write("new", 3) == 3 && f.File().Flush() ? 0 : 2);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(dead, &status, 0), dead);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    std::set<std::string> left = Entries(dir.Path());
    for (const std::string& name : users)
        left.erase(name);
    ASSERT_EQ(left.size(), 1u) << "the killed writer left its named file";
    const std::string leftover = *left.begin();
    // Held by another process (as one reading it might), it stays.
    const int holder = ::open(dir.File(leftover).c_str(), O_RDWR);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX), 0);
    ASSERT_EQ(qnReplaceFile(target, "held", 4), 0);
    EXPECT_TRUE(fs::exists(dir.File(leftover))) << "a locked file was removed";
    ::close(holder);
    // The next writer, named too, removes the dead one's file as it begins.
    qnSafeFileForceNamedTemp(true);
    CQNF_SafeFile live;
    ASSERT_TRUE(live.Open(target));
    qnSafeFileForceNamedTemp(false);
    std::set<std::string> now = Entries(dir.Path());
    EXPECT_FALSE(now.count(leftover)) << "the dead writer's file stayed";
    for (const std::string& name : users)
        now.erase(name);
    ASSERT_EQ(now.size(), 1u) << "the live writer's file is there";
    // Another write while that one lives leaves its file alone.
    ASSERT_EQ(qnReplaceFile(target, "ok", 2), 0);
    EXPECT_TRUE(Entries(dir.Path()).count(*now.begin())) << "a live writer's file was removed";
    live.Abandon();
    EXPECT_EQ(Entries(dir.Path()), users);
    EXPECT_EQ(MissingLookalikes(dir.Path(), "out.bin"), "");
    EXPECT_EQ(ReadFile(target), (Bytes{'o', 'k'}));
}

namespace {

// Mounts a file system of kind at folder: "tmpfs"; "ramfs", which keeps no
// extended attributes; or "vfat", an image made in scratch by mkfs.vfat, which keeps
// neither those nor unnamed files (the kernel's own driver where it has
// one, else fusefat). Empty, or why it could not.
std::string MountDisk(const std::string& kind, const std::string& folder, const std::string& scratch)
{
    if (kind == "ramfs" || kind == "tmpfs")
        return ::mount(kind.c_str(), folder.c_str(), kind.c_str(), 0, nullptr) == 0
                   ? std::string()
                   : "cannot mount " + kind + ": " + std::string(std::strerror(errno));
    const std::string image = scratch + "/vfat.img";
    std::ofstream(image).close();
    fs::resize_file(image, 8 << 20);
    const std::string q = "'" + image + "' '" + folder + "'";
    if (std::system(("mkfs.vfat '" + image + "' > /dev/null").c_str()) != 0)
        return "mkfs.vfat failed (scripts/setup.sh installs dosfstools)";
    if (std::system(("mount -t vfat -o loop " + q + " 2> /dev/null || fusefat -o rw+ " + q + " > /dev/null").c_str()) != 0)
        return "cannot mount a vfat image (scripts/setup.sh installs fusefat)";
    return {};
}

// The hidden names beside target's in folder: what a writer may leave.
std::set<std::string> HiddenBeside(const std::string& folder, const std::string& name)
{
    std::set<std::string> hidden;
    for (const std::string& e : Entries(folder))
        if (e.rfind("." + name + ".", 0) == 0)
            hidden.insert(e);
    return hidden;
}

// What the hooks of the test below do when a writer's temporary file has
// its hidden name.
enum class AtNamed { Nothing, Die, WriteBeside };
std::atomic<AtNamed> g_atNamed{AtNamed::Nothing};
std::string g_besideTarget;
std::atomic<bool> g_liveFileStayed{false};

void OnNamed(const std::string& temp)
{
    switch (g_atNamed.exchange(AtNamed::Nothing)) {
    case AtNamed::Die: ::raise(SIGKILL); break;
    case AtNamed::WriteBeside:
        // Another writer of the same target, while this one lives.
        g_liveFileStayed = qnReplaceFile(g_besideTarget, "beside", 6) == 0 && fs::exists(temp);
        break;
    case AtNamed::Nothing: break;
    }
}

}  // namespace

// On disks that keep no extended attributes (ramfs) or neither those nor
// unnamed files (vfat, a USB stick), as on the test's own and on tmpfs, writers killed as their file got its
// hidden name, half-way through writing it, or before the rename leave
// nothing that outlives the next writes of the target; a user's file named
// like a temporary one stays, and a writer living beside another keeps its
// file and puts it in place.
TEST(SafeFileReplace, KilledWritersLeaveNothingOnDisksWithoutAttributesOrUnnamedFiles)
{
    TempDir dir;
    const std::string disk = dir.File("disk");
    fs::create_directory(disk);
    qnSafeFileSetNamedHook(OnNamed);
    const std::optional<std::string> said = InOwnMounts([&] {
        std::string failed;
        // The test's own disk as well, where a file may carry attributes.
        for (const std::string kind : {"own disk", "tmpfs", "ramfs", "vfat"}) {
            if (std::string why = kind == "own disk" ? "" : MountDisk(kind, disk, dir.Path()); !why.empty())
                return failed + why;
            const std::string target = disk + "/out.bin";
            WriteFile(target, {1});
            PutUsersLookalikes(disk, "out.bin");
            const std::set<std::string> users = HiddenBeside(disk, "out.bin");
            // Where each writer is killed: at its file's naming, by the
            // writer's own route or by the named one, or once it is written.
            struct Kill {
                bool named;
                bool atNaming;
            };
            for (const Kill k : {Kill{false, true}, Kill{true, true}, Kill{true, false}, Kill{false, false}}) {
                const pid_t pid = ::fork();
                if (pid == 0) {
                    qnSafeFileForceNamedTemp(k.named);
                    g_atNamed = k.atNaming ? AtNamed::Die : AtNamed::Nothing;
                    CQNF_SafeFile f;
                    const std::vector<char> block(100000, 'k');
                    if (f.Open(target) && f.File().Write(block.data(), uint32_t(block.size())) > 0 && f.File().Flush() &&
                        !k.atNaming)
                        ::raise(SIGKILL);
                    f.Commit();
                    ::_exit(3);
                }
                int status = 0;
                if (::waitpid(pid, &status, 0) != pid || !WIFSIGNALED(status) || WTERMSIG(status) != SIGKILL)
                    failed += kind + ": a writer was not killed where it was meant to be\n";
            }
            // A writer that meets another at its file's naming.
            g_besideTarget = target;
            g_liveFileStayed = false;
            g_atNamed = AtNamed::WriteBeside;
            qnSafeFileForceNamedTemp(true);
            const unsigned short live = qnReplaceFile(target, "live", 4);
            qnSafeFileForceNamedTemp(false);
            if (live != 0)
                failed += kind + ": " + qnFileFailure(target, true, live) + "\n";
            if (!g_liveFileStayed)
                failed += kind + ": a live writer's file was taken by another writer\n";
            for (const char* text : {"one", "two"})
                if (const unsigned short error = qnReplaceFile(target, text, 3))
                    failed += kind + ": " + qnFileFailure(target, true, error) + "\n";
            const Bytes now = ReadFile(target);
            if (std::string(now.begin(), now.end()) != "two")
                failed += kind + ": the target does not hold the last write\n";
            for (const std::string& left : HiddenBeside(disk, "out.bin"))
                if (!users.count(left))
                    failed += kind + ": " + left + " was left\n";
            if (const std::string missing = MissingLookalikes(disk, "out.bin"); !missing.empty())
                failed += kind + ": " + missing + "\n";
            if (kind == "own disk") {
                fs::remove_all(disk);
                fs::create_directory(disk);
            } else if (::umount(disk.c_str()) != 0)
                failed += kind + ": cannot unmount it\n";
        }
        return failed;
    });
    qnSafeFileSetNamedHook(nullptr);
    if (!said)
        GTEST_SKIP() << "this system gives a process no mounts of its own (not root and no user namespaces, or a chroot whose root is no mount point)";
    EXPECT_EQ(*said, "");
}

namespace {

// Streams size bytes to target through a CQNF_SafeFile, and with patch goes
// back to change the first, as a PSD writer does; the error number or 0.
unsigned short WriteStream(const std::string& target, size_t size, bool patch)
{
    CQNF_SafeFile f;
    const std::vector<uint8_t> chunk(1000, 'n');
    if (!f.Open(target))
        return f.GetError();
    for (size_t at = 0; at < size; at += chunk.size())
        if (f.File().Write(chunk.data(), uint32_t(chunk.size())) != int64_t(chunk.size()) && !patch)
            return f.File().GetError() ? f.File().GetError() : qnerr::FileWrite;
    if (patch && (f.File().SetPos(0) != 0 || f.File().Write("N", 1) != 1))
        return f.File().GetError();
    return f.Commit() ? 0 : f.GetError();
}

// The ways files are written: a whole buffer; a stream, committed; a
// stream that goes back to patch what it wrote.
// Each writes size bytes to target and returns its error number (0: done).
struct Writer {
    const char* name;
    std::function<unsigned short(const std::string& target, size_t size)> write;
};

const Writer kWriters[] = {
    {"whole buffer",
     [](const std::string& target, size_t size) -> unsigned short {
         const std::vector<uint8_t> data(size, 'n');
         return qnReplaceFile(target, data.data(), data.size());
     }},
    {"stream", [](const std::string& target, size_t size) { return WriteStream(target, size, false); }},
    {"stream patched", [](const std::string& target, size_t size) { return WriteStream(target, size, true); }},
};


}  // namespace

// On a full disk every way of writing fails with the system's reason as its
// message, the same line whichever step met it (the data that does not fit,
// or no inode left for the temporary file), also when the disk has changed
// by the time the message is made; the old file stays whole and nothing is
// left beside it.
TEST(SafeFileReplace, AFullDiskIsNamedInTheMessageAndLosesNothing)
{
    TempDir dir;
    const std::string small = dir.File("small");
    fs::create_directory(small);
    const std::optional<std::string> said = InOwnMounts([&] {
        std::string failed;
        // Room for the folder and the old file, and 64 KiB of data.
        for (const char* options : {"size=64k", "nr_inodes=2"}) {
            if (::mount("tmpfs", small.c_str(), "tmpfs", 0, options) != 0)
                return std::string("cannot mount a small file system: ") + std::strerror(errno);
            const std::string target = small + "/out.bin";
            WriteFile(target, {'o', 'l', 'd'});
            for (const Writer& w : kWriters) {
                const unsigned short error = w.write(target, 200 * 1000);
                // Worded once the disk is read-only: the failure keeps its
                // own reason.
                ::mount(nullptr, small.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr);
                const std::string message = qnFileFailure(target, true, error);
                if (::mount(nullptr, small.c_str(), nullptr, MS_REMOUNT, options) != 0)
                    return failed + "cannot make the disk writable again";
                if (error == 0 || message != "cannot write " + target + ": no space left on device")
                    failed += std::string(options) + " " + w.name + ": " + message + "\n";
                if (ReadFile(target) != Bytes{'o', 'l', 'd'} || Entries(small) != std::set<std::string>{"out.bin"})
                    failed += std::string(options) + " " + w.name + ": the old file or the folder changed\n";
            }
            ::umount(small.c_str());
        }
        return failed;
    });
    if (!said)
        GTEST_SKIP() << "this system gives a process no mounts of its own (not root and no user namespaces, or a chroot whose root is no mount point)";
    EXPECT_EQ(*said, "");
}

// A failed write is worded by its own reason, never by the folder as it is
// once the write failed: a write past the file-size limit into a folder
// made read-only since, and a folder that refused the file (EACCES, which
// root never meets) and may be written since.
TEST(SafeFileReplace, AFailedWriteIsWordedByItsOwnReason)
{
    TempDir dir;
    const std::string target = dir.File("out.bin");
    TempDir talk;
    const int status = InChild([&] {
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{4096, 4096};
        std::string failed;
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0)
            failed += "cannot limit the file size\n";
        for (const Writer& w : kWriters) {
            ::chmod(dir.Path().c_str(), 0755);
            const unsigned short error = w.write(target, 100000);
            ::chmod(dir.Path().c_str(), 0555);
            const std::string message = qnFileFailure(target, true, error);
            if (error == 0 || message != "cannot write " + target + ": file too large")
                failed += std::string(w.name) + ": " + message + "\n";
        }
        ::chmod(dir.Path().c_str(), 0755);
        qnNoteWriteErrno(EACCES);
        if (const std::string message = qnFileFailure(target, true, qnerr::FileNotOpened);
            message != "cannot write " + target + ": the folder has no write permission")
            failed += "refused: " + message + "\n";
        std::ofstream(talk.File("said")) << failed;
        return 0;
    });
    ASSERT_EQ(status, 0);
    const Bytes said = ReadFile(talk.File("said"));
    EXPECT_EQ(std::string(said.begin(), said.end()), "");
    EXPECT_EQ(Entries(dir.Path()), std::set<std::string>{}) << "a file was left";
}

// A series that waits for another writer of its folder starts a thread to
// say so: where none can be started, the caller's signal mask stays as it
// was, no signal held back for the rest of the program.
TEST(SafeFileReplace, AThreadThatCannotStartLeavesTheSignalMaskAsItWas)
{
    TempDir dir;
    const int other = ::open(dir.Path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(other, 0);
    ASSERT_EQ(::flock(other, LOCK_EX), 0);
    sigset_t mine, before, now;
    sigemptyset(&mine);
    sigaddset(&mine, SIGUSR1);
    ASSERT_EQ(::pthread_sigmask(SIG_SETMASK, &mine, &before), 0);
    qnSafeFileFailThreadStarts(true);
    {
        CQNF_FileSeries series;
        EXPECT_THROW(series.Begin(dir.Path()), std::system_error);
    }
    qnSafeFileFailThreadStarts(false);
    ::pthread_sigmask(SIG_SETMASK, &before, &now);
    ::close(other);
    for (int sig = 1; sig < NSIG; ++sig)
        EXPECT_EQ(sigismember(&now, sig), sigismember(&mine, sig)) << "signal " << sig;
}

// Where /proc is not mounted every way of writing still replaces the file.
TEST(SafeFileReplace, FilesAreReplacedWithoutProc)
{
    TempDir dir;
    const std::optional<std::string> said = InOwnMounts([&] {
        if (::mount("tmpfs", "/proc", "tmpfs", 0, "size=64k") != 0)
            return std::string("cannot hide /proc: ") + std::strerror(errno);
        const std::string target = dir.File("out.bin");
        std::string failed;
        for (const Writer& w : kWriters) {
            WriteFile(target, {'o', 'l', 'd'});
            if (const unsigned short error = w.write(target, 5000))
                failed += std::string(w.name) + ": " + qnFileFailure(target, true, error) + "\n";
            else if (ReadFile(target).size() != 5000 || Entries(dir.Path()) != std::set<std::string>{"out.bin"})
                failed += std::string(w.name) + ": not the file written, or a file left beside it\n";
        }
        return failed;
    });
    if (!said)
        GTEST_SKIP() << "this system gives a process no mounts of its own (not root and no user namespaces, or a chroot whose root is no mount point)";
    EXPECT_EQ(*said, "");
}
