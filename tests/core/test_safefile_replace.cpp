// Replacing files safely: whole buffers and streamed files, permissions,
// links, special targets (FIFOs, devices, standard output), and failures or
// kills that must leave the target and no temporary file.
#include "core/SafeFile.h"

#include "core/ErrorWords.h"

#include "test_storage_util.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <optional>
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

    // A folder in the way cannot be renamed over: the temporary file goes.
    const std::string folder = dir.File("taken");
    fs::create_directory(folder);
    WriteFile(folder + "/inside", {5});
    EXPECT_EQ(qnReplaceFile(folder, data, 1), qnerr::FileWrite);
    EXPECT_TRUE(fs::is_directory(folder));
    EXPECT_EQ(ReadFile(folder + "/inside"), (Bytes{5}));
    EXPECT_EQ(Entries(dir.Path()), std::set<std::string>{"taken"});

    CQNF_SafeFile f;
    ASSERT_TRUE(f.Open(folder));
    ASSERT_EQ(f.File().Write("abc", 3), 3);
    EXPECT_FALSE(f.Commit());
    EXPECT_EQ(f.GetError(), qnerr::FileWrite);
    EXPECT_EQ(Entries(dir.Path()), std::set<std::string>{"taken"});

    // A full disk says so: the system's reason reaches the message.
    if (fs::exists("/dev/full")) {
        const unsigned short error = qnReplaceFile("/dev/full", data, 1);
        EXPECT_NE(error, 0);
        EXPECT_NE(qnFileFailure("/dev/full", true, error).find(": no space left on device"), std::string::npos)
            << qnFileFailure("/dev/full", true, error);
        ASSERT_TRUE(f.Open("/dev/full"));
        ASSERT_EQ(f.File().Write("abc", 3), 3);
        EXPECT_FALSE(f.Commit());
        EXPECT_NE(qnFileFailure("/dev/full", true, f.GetError()).find(": no space left on device"), std::string::npos);
    }
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

    // A read-only target is replaced and stays read-only; so does one
    // reached through a link.
    ::chmod(target.c_str(), 0444);
    fs::create_symlink(target, dir.File("link"));
    ASSERT_TRUE(f.Open(dir.File("link")));
    ASSERT_EQ(f.File().Write("new", 3), 3);
    ASSERT_TRUE(f.Commit());
    EXPECT_TRUE(fs::is_symlink(dir.File("link")));
    EXPECT_EQ(ReadFile(target), (Bytes{'n', 'e', 'w'}));
    EXPECT_EQ(Mode(target), 0444u);

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

namespace {

// Runs body in a child process; returns its exit status (-1: no child).
template <typename Body>
int InChild(Body body)
{
    const pid_t pid = ::fork();
    if (pid == 0)
        ::_exit(body());
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Reads everything a FIFO gets, in a child, into a file beside it.
pid_t Drain(const std::string& fifo, const std::string& into)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int in = ::open(fifo.c_str(), O_RDONLY);
        const int out = ::open(into.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        char buf[256];
        for (ssize_t n; (n = ::read(in, buf, sizeof buf)) > 0;)
            if (::write(out, buf, size_t(n)) != n)
                ::_exit(1);
        ::_exit(0);
    }
    return pid;
}

bool IsCharDevice(const std::string& path)
{
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0 && S_ISCHR(st.st_mode);
}

}  // namespace

TEST(SafeFileReplace, FifosAndDevicesAreWrittenThroughNeverReplaced)
{
    TempDir dir;
    const std::string fifo = dir.File("pipe");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    fs::create_symlink("pipe", dir.File("to-pipe"));
    // Both forms, through the FIFO itself and through a link to it.
    struct Case {
        const char* name;
        bool streamed;
    };
    for (const Case c : {Case{"pipe", false}, Case{"to-pipe", true}}) {
        SCOPED_TRACE(c.name);
        const std::string got = dir.File("got");
        const pid_t reader = Drain(fifo, got);
        if (c.streamed) {
            CQNF_SafeFile f;
            ASSERT_TRUE(f.Open(dir.File(c.name)));
            ASSERT_EQ(f.File().Write("xyz", 3), 3);
            ASSERT_EQ(f.File().SetPos(0), 0);  // writers may seek back
            ASSERT_EQ(f.File().Write("a", 1), 1);
            ASSERT_TRUE(f.Commit()) << f.GetError();
        } else {
            ASSERT_EQ(qnReplaceFile(dir.File(c.name), "abc", 3), 0);
        }
        struct stat now;
        if (::stat(fifo.c_str(), &now) != 0 || !S_ISFIFO(now.st_mode))
            ::kill(reader, SIGKILL);  // the FIFO was replaced: its reader would wait for ever
        int status = 0;
        ASSERT_EQ(::waitpid(reader, &status, 0), reader);
        EXPECT_EQ(ReadFile(got), c.streamed ? (Bytes{'a', 'y', 'z'}) : (Bytes{'a', 'b', 'c'}));
        struct stat st;
        ASSERT_EQ(::stat(fifo.c_str(), &st), 0);
        EXPECT_TRUE(S_ISFIFO(st.st_mode)) << "the FIFO is still a FIFO";
        EXPECT_TRUE(fs::is_symlink(dir.File("to-pipe")));
    }

    // A device: a null device node of our own where we may make one (so a
    // failure cannot touch the system's), else /dev/null itself.
    std::string device = dir.File("null");
    if (::mknod(device.c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0)
        device = "/dev/null";
    ASSERT_TRUE(IsCharDevice(device));
    EXPECT_EQ(qnReplaceFile(device, "abc", 3), 0);
    CQNF_SafeFile f;
    ASSERT_TRUE(f.Open(device));
    ASSERT_EQ(f.File().Write("abc", 3), 3);
    EXPECT_TRUE(f.Commit());
    EXPECT_TRUE(IsCharDevice(device)) << "the device is still a device";
    EXPECT_EQ(Entries(dir.Path()).count(".null") + Entries("/dev").count(".null"), 0u);
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
    // SIGTERM and SIGINT also by the named one, removed by the handler.
    struct Case {
        bool named;
        int sig;
    };
    for (const Case c : {Case{false, SIGKILL}, Case{false, SIGTERM}, Case{true, SIGTERM}, Case{true, SIGINT}}) {
        SCOPED_TRACE(std::string(c.named ? "named, " : "unnamed, ") + strsignal(c.sig));
        TempDir dir;
        const std::string target = dir.File("big.bin");
        WriteFile(target, {1, 2, 3});
        int ready[2];
        ASSERT_EQ(::pipe(ready), 0);
        const pid_t pid = ::fork();
        if (pid == 0) {
            qnSafeFileForceNamedTemp(c.named);
            CQNF_SafeFile f;
            std::vector<char> block(1 << 20, 'z');
            if (!f.Open(target) || f.File().Write(block.data(), uint32_t(block.size())) <= 0 || !f.File().Flush())
                ::_exit(2);
            (void)!::write(ready[1], "r", 1);
            for (;;)
                ::pause();
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

// Gives the calling process mounts of its own, which go with it: as root,
// or in a user namespace of its own where the system lets users make one.
// False where neither is allowed. Call it in a child process: a user
// namespace takes only a process with one thread.
bool OwnMounts()
{
    if (::unshare(CLONE_NEWNS) != 0) {
        const std::string uid = std::to_string(::geteuid());
        const std::string gid = std::to_string(::getegid());
        if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0)
            return false;
        std::ofstream("/proc/self/setgroups") << "deny";
        std::ofstream("/proc/self/uid_map") << uid << ' ' << uid << " 1";
        std::ofstream("/proc/self/gid_map") << gid << ' ' << gid << " 1";
    }
    return ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
}

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

// Runs body in a child process with mounts of its own: what it said
// (nothing when all went well), or nothing at all where the system gives
// no such process.
std::optional<std::string> InOwnMounts(const std::function<std::string()>& body)
{
    TempDir talk;
    const std::string said = talk.File("said");
    const int status = InChild([&] {
        if (!OwnMounts())
            return 77;
        std::ofstream(said) << body();
        return 0;
    });
    if (status == 77)
        return std::nullopt;
    const Bytes b = ReadFile(said);
    return status == 0 ? std::string(b.begin(), b.end()) : "the child ended with " + std::to_string(status);
}

}  // namespace

// On a full disk every way of writing fails with the system's reason in its
// message, the old file stays whole and nothing is left beside it.
TEST(SafeFileReplace, AFullDiskIsNamedInTheMessageAndLosesNothing)
{
    TempDir dir;
    const std::string small = dir.File("small");
    fs::create_directory(small);
    const std::optional<std::string> said = InOwnMounts([&] {
        if (::mount("tmpfs", small.c_str(), "tmpfs", 0, "size=64k") != 0)
            return std::string("cannot mount a small file system: ") + std::strerror(errno);
        const std::string target = small + "/out.bin";
        std::string failed;
        for (const Writer& w : kWriters) {
            WriteFile(target, {'o', 'l', 'd'});
            const unsigned short error = w.write(target, 200 * 1000);
            const std::string message = qnFileFailure(target, true, error);
            if (error == 0 || message.find(": no space left on device (error ") == std::string::npos)
                failed += std::string(w.name) + ": " + message + "\n";
            if (ReadFile(target) != Bytes{'o', 'l', 'd'} || Entries(small) != std::set<std::string>{"out.bin"})
                failed += std::string(w.name) + ": the old file or the folder changed\n";
        }
        return failed;
    });
    if (!said)
        GTEST_SKIP() << "this system gives a process no mounts of its own (not root and no user namespaces, or a chroot whose root is no mount point)";
    EXPECT_EQ(*said, "");
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
