// The programs on hostile files: devices, huge sparse files and sizes typed
// by hand are refused with one line before anything large is read or
// allocated; "-" takes the pictures the programs write.
#include "test_storage_util.h"
#include "tests/need_program.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <vector>

using namespace storage_test;

namespace {

const std::string kBin = TESSOLO_BINARY_DIR;
const std::string kTool = kBin + "/tools/tessolo-tool";
const std::string kHost = kBin + "/hostapp/tessolo-host";
const std::string kMkdesc = kBin + "/tools/tessolo-mkdesc";
const std::string kSample = std::string(TESSOLO_SOURCE_DIR) + "/samples/sample.png";

std::string Q(const std::string& s) { return "'" + s + "'"; }

struct Outcome {
    int code = -1;         // exit code; 128 + signal when killed
    std::string output;    // standard output and error
    long peakKiB = 0;      // largest resident size of the program
};

// Runs a program directly (no shell), so its own peak memory is measured.
// With a limit, a program still running after that many seconds is ended
// by SIGALRM (exit 128 + 14).
Outcome Program(const std::vector<std::string>& argv, unsigned limitSeconds = 0)
{
    Outcome r;
    int out[2];
    if (::pipe(out) != 0)
        return r;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(out[1], STDOUT_FILENO);
        ::dup2(out[1], STDERR_FILENO);
        ::close(out[0]);
        std::vector<char*> args;
        for (const std::string& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        if (limitSeconds)
            ::alarm(limitSeconds);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    ::close(out[1]);
    char buf[4096];
    for (ssize_t n; (n = ::read(out[0], buf, sizeof buf)) > 0;)
        r.output.append(buf, size_t(n));
    ::close(out[0]);
    int status = 0;
    rusage ru{};
    if (::wait4(pid, &status, 0, &ru) == pid) {
        r.code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        r.peakKiB = ru.ru_maxrss;
    }
    return r;
}

class FilesPrograms : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const std::string& p : {kTool, kHost, kMkdesc})
            ASSERT_TRUE(std::filesystem::exists(p)) << p << " was not built";
        // The folder "psd read" writes into, there as a series' folder must be.
        std::filesystem::create_directory(dir.File("layers"));
    }
    TempDir dir;
};

// One clear line, a failure exit (no abort), and little memory.
void ExpectRefused(const Outcome& r, const std::string& says)
{
    EXPECT_TRUE(r.code >= 1 && r.code < 128) << "exit " << r.code << ": " << r.output;
    EXPECT_NE(r.output.find(says), std::string::npos) << r.output;
    EXPECT_EQ(std::count(r.output.begin(), r.output.end(), '\n'), 1) << r.output;
    EXPECT_LT(r.peakKiB, 400L * 1024) << "KiB at the peak";
}

// A command line and what its one line of refusal says.
struct Refusal {
    std::vector<std::string> argv;
    const char* says;
};

void ExpectAllRefused(const std::vector<Refusal>& cases, unsigned limitSeconds = 0)
{
    for (const Refusal& c : cases) {
        std::string line;
        for (size_t i = 1; i < c.argv.size(); ++i)
            line += c.argv[i] + " ";
        SCOPED_TRACE(line);
        ExpectRefused(Program(c.argv, limitSeconds), c.says);
    }
}

}  // namespace

TEST_F(FilesPrograms, DevicesAndHugeFilesAreRefusedBeforeTheyAreRead)
{
    // 3 GB that takes no disk; junk from its first byte.
    const std::string huge = dir.File("huge");
    WriteFile(huge, {'j', 'u', 'n', 'k'});
    ASSERT_EQ(::truncate(huge.c_str(), off_t(3) << 30), 0);
    const std::string out = dir.File("out");
    // The host, tessolo-mkdesc and layout block check their output's name
    // first: give them one they write.
    const std::string outPng = dir.File("out.png"), outQnds = dir.File("out.qnds"), outBlock = dir.File("out.block");
    const std::vector<Refusal> cases = {
        {{kHost, "--plugin", dir.File("none.so"), "--descriptor", "/dev/zero", kSample, outPng}, "not a regular file"},
        {{kHost, "--plugin", dir.File("none.so"), "--icc", "/dev/zero", kSample, outPng}, "not a regular file"},
        {{kHost, "--plugin", dir.File("none.so"), "--descriptor", huge, kSample, outPng}, "too large"},
        {{kMkdesc, "--block", "/dev/zero", outQnds}, "not a regular file"},
        {{kMkdesc, "--block", huge, outQnds}, "too large"},
        {{kTool, "layout", "show", huge}, "too large"},
        {{kTool, "layout", "block", huge, outBlock}, "too large"},
        {{kTool, "layout", "show", "/dev/zero"}, "not a regular file"},
        {{kTool, "psd", "read", huge, dir.File("layers")}, "huge: not a PSD file"},
        {{kTool, "psd", "read", "/dev/zero", dir.File("layers")}, "not a regular file"},
        {{kTool, "storage", "ls", huge}, "not a storage container"},
        {{kTool, "storage", "check", "/dev/zero"}, "not a regular file"},
        {{kTool, "zip", "/dev/zero", out}, "not a regular file"},
        {{kTool, "unzip", "/dev/zero", out}, "not a regular file"},
    };
    ExpectAllRefused(cases);
    for (const std::string& name : {out, outPng, outQnds, outBlock})
        EXPECT_FALSE(std::filesystem::exists(name)) << name;
}

TEST_F(FilesPrograms, ValidFilesFollowedByGigabytesAreRefusedUnread)
{
    NEED_PROGRAM("convert", "imagemagick");
    // Each reader knows from the header how much its file can need: a
    // small valid file with 2 GB of zeros after it is never read whole.
    std::vector<std::string> files = {dir.File("a.png"), dir.File("a.psd"), dir.File("lay.qntd"),
                                      dir.File("a.qnzb")};
    ASSERT_EQ(Program({kTool, "convert", kSample, files[0]}).code, 0);
    ASSERT_EQ(Program({kTool, "psd", "write", files[1], kSample}).code, 0);
    ASSERT_EQ(Program({kTool, "layout", "new", "--grid", "2x1", files[2]}).code, 0);
    ASSERT_EQ(Program({kTool, "zip", kSample, files[3]}).code, 0);
    {
        files.push_back(dir.File("a.jpg"));
        ASSERT_EQ(std::system(("convert " + Q(kSample) + " " + Q(files.back())).c_str()), 0);
    }
    for (const std::string& f : files) {
        const off_t size = off_t(std::filesystem::file_size(f));
        ASSERT_EQ(::truncate(f.c_str(), size + (off_t(2) << 30)), 0);
    }
    std::vector<Refusal> cases = {
        {{kTool, "convert", files[0], dir.File("o.png")}, "more than the picture it describes can need"},
        {{kTool, "psd", "read", files[1], dir.File("layers")}, "more than the picture it describes can need"},
        {{kTool, "export", "pieces", "--to", "psd", files[2], kSample, dir.File("p.psd")}, "too large"},
        {{kTool, "unzip", files[3], dir.File("o")}, "too large"},
    };
    if (files.size() > 4)
        cases.push_back({{kTool, "convert", files[4], dir.File("o.png")}, "can need"});
    ExpectAllRefused(cases);
}

TEST_F(FilesPrograms, TypedPictureSizesAreCheckedBeforeAllocating)
{
    const std::string out = dir.File("out.png");
    for (const char* filter : {"tile", "resize", "resizezo"}) {
        SCOPED_TRACE(filter);
        ExpectRefused(Program({kTool, "fx", filter, "65535", "65535", kSample, out}), "1 to 30000");
        ExpectRefused(Program({kTool, "fx", filter, "30000", "30000", kSample, out}), "MiB");
    }
    EXPECT_FALSE(std::filesystem::exists(out));
    // A size within both limits still works.
    const Outcome small = Program({kTool, "fx", "tile", "64", "48", kSample, out});
    EXPECT_EQ(small.code, 0) << small.output;
}

TEST_F(FilesPrograms, PicturesGoToStandardOutput)
{
    // "-": the picture on standard output, no file named "-" anywhere.
    const std::string png = dir.File("a.png");
    ASSERT_EQ(Program({kTool, "convert", kSample, png}).code, 0);
    const Bytes want = ReadFile(png);
    ASSERT_GT(want.size(), 8u);
    const std::string piped = dir.File("piped.png");
    ASSERT_EQ(std::system(("cd " + Q(dir.Path()) + " && " + Q(kTool) + " convert " + Q(kSample) + " - | cat > " +
                           Q(piped))
                              .c_str()),
              0);
    EXPECT_EQ(ReadFile(piped), want);
    EXPECT_FALSE(std::filesystem::exists(dir.File("-")));
}

// Standard output takes every picture whatever the temporary folder is:
// with TMPDIR missing, read-only or full each writer sends the bytes it
// writes to a file, and leaves nothing in that folder.
TEST_F(FilesPrograms, StandardOutputNeedsNoTemporaryFolder)
{
    namespace fs = std::filesystem;
    const std::string layout = dir.File("lay.qntd");
    ASSERT_EQ(Program({kTool, "layout", "new", "--grid", "2x1", layout}).code, 0);
    // Each writer with "OUT" where its output goes.
    const std::vector<std::vector<std::string>> writers = {
        {"convert", kSample, "OUT"},
        {"fx", "invert", kSample, "OUT"},
        {"psd", "write", "OUT", kSample},
        {"export", "pieces", "--to", "psd", layout, kSample, "OUT"},
    };
    const auto named = [&](const std::vector<std::string>& w, const std::string& out) {
        std::vector<std::string> argv = {kTool};
        for (const std::string& a : w)
            argv.push_back(a == "OUT" ? out : a);
        return argv;
    };
    std::vector<Bytes> want;
    for (size_t i = 0; i < writers.size(); ++i) {
        const std::string file = dir.File("want" + std::to_string(i) + (i < 2 ? ".png" : ".psd"));
        const Outcome r = Program(named(writers[i], file));
        ASSERT_EQ(r.code, 0) << r.output;
        want.push_back(ReadFile(file));
        ASSERT_FALSE(want.back().empty());
    }
    // Every writer to standard output with TMPDIR set to tmp (called state):
    // what went wrong, or nothing.
    const auto toStandardOutput = [&](const std::string& tmp, const std::string& state) {
        std::error_code ec;
        std::set<std::string> before;
        for (const auto& e : fs::directory_iterator(tmp, ec))
            before.insert(e.path().filename().string());
        std::string failed;
        const std::string out = dir.File("out"), err = dir.File("err");
        for (size_t i = 0; i < writers.size(); ++i) {
            std::string line = "TMPDIR=" + Q(tmp);
            for (const std::string& a : named(writers[i], "-"))
                line += " " + Q(a);
            const int status = std::system((line + " > " + Q(out) + " 2> " + Q(err)).c_str());
            const Bytes said = ReadFile(err);
            if (status != 0)
                failed += state + ": " + writers[i][0] + ": " + std::string(said.begin(), said.end());
            else if (ReadFile(out) != want[i])
                failed += state + ": " + writers[i][0] + ": not the bytes it writes to a file\n";
            std::set<std::string> after;
            for (const auto& e : fs::directory_iterator(tmp, ec))
                after.insert(e.path().filename().string());
            if (after != before)
                failed += state + ": " + writers[i][0] + ": left something in TMPDIR\n";
        }
        return failed;
    };
    EXPECT_EQ(toStandardOutput(dir.File("missing"), "missing"), "");
    const std::string tmp = dir.File("tmp");
    fs::create_directory(tmp);
    const std::optional<std::string> said = InOwnMounts([&] {
        if (::mount("tmpfs", tmp.c_str(), "tmpfs", MS_RDONLY, "size=64k") != 0)
            return std::string("cannot mount a read-only file system: ") + std::strerror(errno);
        std::string failed = toStandardOutput(tmp, "read-only");
        ::umount(tmp.c_str());
        if (::mount("tmpfs", tmp.c_str(), "tmpfs", 0, "size=64k") != 0)
            return std::string("cannot mount a small file system: ") + std::strerror(errno);
        // Filled to its last block.
        const int fd = ::open((tmp + "/filler").c_str(), O_WRONLY | O_CREAT, 0600);
        const std::vector<char> block(4096, 'f');
        while (fd >= 0 && ::write(fd, block.data(), block.size()) > 0) {
        }
        ::close(fd);
        failed += toStandardOutput(tmp, "full");
        ::umount(tmp.c_str());
        return failed;
    });
    if (!said)
        GTEST_SKIP() << "the read-only and full temporary folders need mounts of the test's own (not root and no user namespaces, or a chroot whose root is no mount point)";
    EXPECT_EQ(*said, "");
}

TEST_F(FilesPrograms, FifosAreRefusedWithoutWaiting)
{
    // A FIFO nobody writes to: opening it to read would wait for ever.
    const std::string fifo = dir.File("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string out = dir.File("out"), outPng = dir.File("out.png"), outQnds = dir.File("out.qnds");
    const std::string plugin = kBin + "/bundle/Tessolo/Tessolo.so";
    const std::string desc = dir.File("job.qnds");
    ASSERT_EQ(Program({kMkdesc, "--grid", "2x2", desc}).code, 0);
    const std::string layout = dir.File("lay.qntd");
    ASSERT_EQ(Program({kTool, "layout", "new", "--grid", "2x1", layout}).code, 0);
    const std::vector<Refusal> cases = {
        {{kHost, "--plugin", plugin, "--descriptor", desc, fifo, outPng}, "not a regular file"},
        {{kHost, "--plugin", plugin, "--descriptor", fifo, kSample, outPng}, "not a regular file"},
        {{kHost, "--plugin", plugin, "--icc", fifo, "--descriptor", desc, kSample, outPng}, "not a regular file"},
        {{kHost, "--plugin", plugin, "--add-layer", fifo, "--descriptor", desc, kSample, outPng}, "not a regular file"},
        {{kHost, "--plugin", plugin, "--selection", fifo, "--descriptor", desc, kSample, outPng}, "not a regular file"},
        {{kMkdesc, "--block", fifo, outQnds}, "not a regular file"},
        {{kTool, "layout", "show", fifo}, "not a regular file"},
        {{kTool, "export", "pieces", "--to", "psd", fifo, kSample, dir.File("p.psd")}, "not a regular file"},
        {{kTool, "export", "pieces", "--to", "psd", layout, fifo, dir.File("p.psd")}, "not a regular file"},
        {{kTool, "convert", fifo, outPng}, "not a regular file"},
        {{kTool, "psd", "read", fifo, dir.File("layers")}, "not a regular file"},
        {{kTool, "shapes", "ls", fifo}, "not a regular file"},
        {{kTool, "storage", "ls", fifo}, "not a regular file"},
        {{kTool, "zip", fifo, out}, "not a regular file"},
        {{kTool, "md5", fifo}, "not a regular file"},
        {{kTool, "text-demo", fifo, "hi", outPng}, "not a regular file"},
    };
    ExpectAllRefused(cases, 60);
    for (const std::string& name : {out, outPng, outQnds})
        EXPECT_FALSE(std::filesystem::exists(name)) << name;

    // "last.data" as a FIFO in the plug-in's folder: the replay ends.
    const std::string folder = dir.File("bundle");
    std::filesystem::create_directory(folder);
    std::filesystem::copy_file(plugin, folder + "/Tessolo.so");
    ASSERT_EQ(::mkfifo((folder + "/last.data").c_str(), 0600), 0);
    const Outcome replay = Program({kHost, "--plugin", folder + "/Tessolo.so", kSample, outPng}, 60);
    EXPECT_EQ(replay.code, 1) << replay.output;
    EXPECT_FALSE(std::filesystem::exists(outPng));
}

// An output that is no regular file is refused by every writer before any
// work, in one line, and stays what it was: a FIFO nobody reads (which would
// hold the writer for ever after all its work), a link to one, a UNIX socket
// (which would be replaced by a file) and a device.
TEST_F(FilesPrograms, OutputsThatAreNoRegularFileAreRefusedBeforeAnyWork)
{
    namespace fs = std::filesystem;
    // Named as pictures, so that no program stops at the name.
    ASSERT_EQ(::mkfifo(dir.File("fifo.png").c_str(), 0600), 0);
    fs::create_symlink("fifo.png", dir.File("to-fifo.png"));
    ASSERT_TRUE(MakeSocket(dir.File("socket.png")));
    // A null device node of our own where we may make one, else a link to
    // the system's.
    const std::string device = dir.File("null.png");
    if (::mknod(device.c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0)
        fs::create_symlink("/dev/null", device);
    const std::string plugin = kBin + "/bundle/Tessolo/Tessolo.so";
    const std::string layout = dir.File("lay.qntd");
    ASSERT_EQ(Program({kTool, "layout", "new", "--grid", "2x1", layout}).code, 0);
    const auto kinds = [&] {
        std::set<std::string> all;
        for (const auto& e : fs::directory_iterator(dir.Path()))
            all.insert(e.path().filename().string() + ":" + std::to_string(int(e.symlink_status().type())));
        return all;
    };
    const auto before = kinds();
    std::vector<Refusal> cases;
    for (const std::string& out : {dir.File("fifo.png"), dir.File("to-fifo.png"), dir.File("socket.png"), device}) {
        const std::vector<std::vector<std::string>> writers = {
            {kHost, "--plugin", plugin, kSample, out},
            {kTool, "convert", kSample, out},
            {kTool, "export", "pieces", "--to", "psd", layout, kSample, out},
            {kTool, "export", "pieces", layout, kSample, out},
            {kTool, "export", "knives", "--size", "10x10", layout, out},
            {kTool, "psd", "write", out, kSample},
            {kTool, "layout", "new", "--grid", "2x2", out},
            {kTool, "storage", "put", out, "A", "4", "x"},
            {kMkdesc, "--grid", "2x2", out},
            {kBin + "/resources/help/tessolo-helpdoc", kSample, dir.Path(), "-o", out},
            {kBin + "/resources/tessolo-rc", dir.File("missing.manifest"), "-o", out, "--fonts", dir.Path()},
            {kBin + "/surface3d/surface3d-demo", "--scene", "wave", "--view", "flat", "-o", out},
        };
        for (const auto& w : writers)
            cases.push_back({w, "not a regular file"});
    }
    ExpectAllRefused(cases, 60);
    EXPECT_EQ(kinds(), before);
}

TEST_F(FilesPrograms, PicturesTooLargeForTheirFilesOrTheLimitsAreRefusedBeforeTheWork)
{
    NEED_PROGRAM("convert", "imagemagick");
    // Sizes the headers give that the files cannot hold, or that the limits
    // do not admit, are refused from the headers: the programs neither read
    // such a file whole nor make the planes it describes.
    const std::string out = dir.File("out.png"), none = dir.File("none.so");
    // A 30000 x 30000 colour document, its merged image raw: 2.7 GB of holes.
    const std::string psd = dir.File("huge.psd");
    Bytes header = {'8', 'B', 'P', 'S', 0, 1, 0, 0, 0, 0, 0, 0, 0, 3};
    Put32(header, 30000);
    Put32(header, 30000);
    Put16(header, 8);
    Put16(header, 3);
    header.resize(header.size() + 3 * 4 + 2, 0);  // three empty sections, raw data
    WriteFile(psd, header);
    ASSERT_EQ(::truncate(psd.c_str(), off_t(header.size()) + off_t(30000) * 30000 * 3), 0);
    // Forty layers on a canvas of 17 megapixels: 2.7 GB once each is placed
    // on the canvas, from a file of 70 MB.
    const std::string layered = dir.File("layered.psd");
    std::vector<std::string> write = {kTool, "psd", "write", layered, kSample + "@3800,3900"};
    write.insert(write.end(), 39, kSample);
    ASSERT_EQ(Program(write).code, 0);
    // A container's magic, then 3 GiB of nothing.
    const std::string container = dir.File("huge.qnc");
    WriteFile(container, {'Q', 'N', 'C', 'P', 'S', 'v', '4', '0'});
    ASSERT_EQ(::truncate(container.c_str(), off_t(3) << 30), 0);
    std::vector<Refusal> cases = {
        {{kTool, "convert", psd, out}, "30000 x 30000 pixels, which take 2575 MiB"},
        {{kTool, "psd", "read", psd, dir.File("layers")}, "30000 x 30000 pixels, which take 2575 MiB"},
        {{kHost, "--plugin", none, psd, out}, "30000 x 30000 pixels, which take 2575 MiB"},
        {{kHost, "--plugin", none, layered, out}, "more than the 2048 MiB a document may take"},
        {{kTool, "storage", "ls", container}, "not a storage container"},
        {{kTool, "storage", "put", container, "a", "1", "5"}, "not a storage container"},
    };
    // An 18000 x 18000 JPEG of a few hundred bytes.
    {
        const std::string jpeg = dir.File("tiny.jpg");
        ASSERT_EQ(std::system(("convert -size 16x16 xc:gray " + Q(jpeg)).c_str()), 0);
        Bytes bytes = ReadFile(jpeg);
        const uint8_t frame[] = {0xFF, 0xC0};
        const auto sof = std::search(bytes.begin(), bytes.end(), frame, frame + 2);
        ASSERT_NE(sof, bytes.end());
        for (int k : {5, 7}) {
            sof[k] = uint8_t(18000 >> 8);
            sof[k + 1] = uint8_t(18000 & 0xFF);
        }
        WriteFile(jpeg, bytes);
        cases.push_back({{kTool, "convert", jpeg, out}, "JPEG file is truncated: the file has"});
        cases.push_back({{kHost, "--plugin", none, jpeg, out}, "JPEG file is truncated: the file has"});
    }
    ExpectAllRefused(cases);
    EXPECT_FALSE(std::filesystem::exists(out));
    EXPECT_EQ(std::filesystem::file_size(container), uint64_t(3) << 30);
}
