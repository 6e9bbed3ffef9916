#include "core/Launcher.h"
#include "core/StdFile.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

// A fresh folder per test, removed afterwards.
class BaseStdFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = fs::temp_directory_path() /
              ("tessolo-stdfile-" + std::to_string(getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
        folder.path = dir.string();
    }
    void TearDown() override
    {
        CQNF_Launcher::SetHandler(nullptr);
        fs::remove_all(dir);
    }
    std::string PathOf(const char* name) const { return (dir / name).string(); }
    void MakeFile(const char* name, const std::string& bytes) const
    {
        std::ofstream(PathOf(name), std::ios::binary) << bytes;
    }
    std::string Contents(const char* name) const
    {
        std::ifstream in(PathOf(name), std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }

    fs::path dir;
    FSRef folder;
};

}  // namespace

TEST_F(BaseStdFile, ModesDecideWhatOpensAndWhatIsAllowed)
{
    CQNF_StdFile f;
    EXPECT_FALSE(f.Open(PathOf("missing").c_str(), 5));
    EXPECT_EQ(f.GetError(), qnerr::BadArgument);
    EXPECT_FALSE(f.IsOpened());
    EXPECT_FALSE(f.Open(PathOf("missing").c_str(), 0));
    EXPECT_EQ(f.GetError(), qnerr::BadArgument);

    for (uint32_t mode : {1u, 3u}) {
        EXPECT_FALSE(f.Open(PathOf("missing").c_str(), mode));
        EXPECT_EQ(f.GetError(), qnerr::FileNotOpened);
        EXPECT_FALSE(f.IsAllowToRead());
        EXPECT_FALSE(f.IsAllowToWrite());
        EXPECT_FALSE(fs::exists(PathOf("missing")));
    }
    ASSERT_TRUE(f.Open(PathOf("w2").c_str(), 2));
    EXPECT_FALSE(f.IsError());
    EXPECT_FALSE(f.IsAllowToRead());
    EXPECT_TRUE(f.IsAllowToWrite());
    char c = 0;
    EXPECT_EQ(f.Read(&c, 1), -1);
    EXPECT_EQ(f.GetError(), qnerr::FileAccess);
    EXPECT_EQ(f.Write("abc", 3), 3);

    ASSERT_TRUE(f.Open(PathOf("w4").c_str(), 4));  // reopening closes w2 first
    EXPECT_TRUE(f.IsAllowToRead());
    EXPECT_TRUE(f.IsAllowToWrite());
    EXPECT_EQ(Contents("w2"), "abc");

    ASSERT_TRUE(f.Open(PathOf("w2").c_str(), 1));
    EXPECT_TRUE(f.IsAllowToRead());
    EXPECT_FALSE(f.IsAllowToWrite());
    EXPECT_EQ(f.Write("x", 1), -1);
    EXPECT_EQ(f.GetError(), qnerr::FileAccess);

    // A folder opens for reading with fopen here, but it is not a file.
    EXPECT_FALSE(f.Open(dir.string().c_str(), 1));
    EXPECT_EQ(f.GetError(), qnerr::FileNotOpened);
    EXPECT_FALSE(f.Open("", 1));
    EXPECT_EQ(f.GetError(), qnerr::FileNotOpened);
}

TEST_F(BaseStdFile, ShortReadsCountAndEmptyReadsFail)
{
    MakeFile("data", "0123456789");
    CQNF_StdFile f(PathOf("data").c_str(), 1);
    ASSERT_TRUE(f.IsOpened());
    EXPECT_EQ(f.GetLength(), 10);
    EXPECT_EQ(f.SetPos(6), 6);
    char buf[10] = {};
    EXPECT_EQ(f.Read(buf, 10), 4);
    EXPECT_EQ(std::string(buf, 4), "6789");
    EXPECT_EQ(f.Read(buf, 10), -1);
    EXPECT_EQ(f.GetError(), qnerr::FileRead);
    EXPECT_EQ(f.Read(buf, 0), 0);

    EXPECT_EQ(f.SetPos(3), 3);
    EXPECT_EQ(f.GetLength(), 10);
    EXPECT_EQ(f.GetPos(), 3);  // the length query keeps the position
    EXPECT_EQ(f.OffsetPos(2), 5);
    EXPECT_EQ(f.OffsetPos(-1), 4);
    EXPECT_EQ(f.OffsetPos(-100), -1);
    EXPECT_EQ(f.GetError(), qnerr::FileSeek);

    // Block forms: a count not below the block's size means the whole block.
    f.SetPos(0);
    CQNF_Mem block(4);
    EXPECT_EQ(f.Read(block, 100), 4);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(block.GetPtr()), 4), "0123");
    EXPECT_EQ(f.Read(block, 2), 2);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(block.GetPtr()), 4), "4523");
    EXPECT_EQ(f.Read(nullptr, 3), -1);
    EXPECT_EQ(f.GetError(), qnerr::BadArgument);
}

TEST_F(BaseStdFile, UpdateModeMixesReadsAndWritesWithoutSeeking)
{
    MakeFile("mix", "AAAAAAAA");
    CQNF_StdFile f(PathOf("mix").c_str(), 3);
    ASSERT_TRUE(f.IsOpened());
    char buf[2] = {};
    EXPECT_EQ(f.Read(buf, 2), 2);
    EXPECT_EQ(f.Write("bb", 2), 2);  // lands at offset 2
    EXPECT_EQ(f.Read(buf, 2), 2);    // reads offsets 4 and 5
    EXPECT_EQ(std::string(buf, 2), "AA");
    EXPECT_EQ(f.Write("cc", 2), 2);
    ASSERT_TRUE(f.Close());
    EXPECT_EQ(Contents("mix"), "AAbbAAcc");

    CQNF_StdFile g(PathOf("new").c_str(), 4);
    CQNF_Mem block(6);
    block.Copy(0, "xyzxyz", 6);
    EXPECT_EQ(g.Write(block, 3), 3);
    EXPECT_EQ(g.Write(block), 6);
    EXPECT_EQ(g.SetPos(1), 1);
    char back[3] = {};
    EXPECT_EQ(g.Read(back, 3), 3);
    EXPECT_EQ(std::string(back, 3), "yzx");
    EXPECT_TRUE(g.Flush());
    EXPECT_EQ(Contents("new"), "xyzxyzxyz");
}

TEST_F(BaseStdFile, EveryOperationOnAClosedFileSays37)
{
    CQNF_StdFile f;
    EXPECT_TRUE(f.Close());
    char buf[1];
    CQNF_Mem block(1);
    const std::vector<std::pair<const char*, int64_t>> results = {
        {"SetPos", f.SetPos(0)},         {"OffsetPos", f.OffsetPos(1)},  {"GetPos", f.GetPos()},
        {"GetLength", f.GetLength()},    {"Read", f.Read(buf, 1)},       {"ReadMem", f.Read(block)},
        {"Write", f.Write(buf, 1)},      {"WriteMem", f.Write(block)},   {"Flush", f.Flush() ? 1 : -1},
    };
    for (const auto& [what, r] : results)
        EXPECT_EQ(r, -1) << what;
    EXPECT_EQ(f.GetError(), qnerr::FileClosed);

    MakeFile("x", "1");
    ASSERT_TRUE(f.Open(PathOf("x").c_str(), 1));
    EXPECT_TRUE(f.Close());
    EXPECT_TRUE(f.Close());
    EXPECT_EQ(f.Read(buf, 1), -1);
    EXPECT_EQ(f.GetError(), qnerr::FileClosed);
}

TEST_F(BaseStdFile, DataLostOnTheWayToDiskIsReported)
{
    if (!fs::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full";
    CQNF_StdFile f("/dev/full", 2);
    ASSERT_TRUE(f.IsOpened());
    EXPECT_EQ(f.Write("buffered", 8), 8);  // still in the stream's buffer
    EXPECT_FALSE(f.Close());
    EXPECT_EQ(f.GetError(), qnerr::FileWrite);
    EXPECT_FALSE(f.IsOpened());

    ASSERT_TRUE(f.Open("/dev/full", 2));
    EXPECT_EQ(f.Write("x", 1), 1);
    EXPECT_FALSE(f.Flush());
    EXPECT_EQ(f.GetError(), qnerr::FileWrite);
}

TEST_F(BaseStdFile, NamesInAFolder)
{
    MakeFile("plugin.conf", "old contents");
    CQNF_StdFile f;
    ASSERT_TRUE(f.Open("plugin.conf", &folder, 4));  // opens and truncates
    EXPECT_EQ(f.GetLength(), 0);
    f.Close();
    EXPECT_EQ(Contents("plugin.conf"), "");

    EXPECT_FALSE(f.Open("last.data", &folder, 1));
    EXPECT_EQ(f.GetError(), qnerr::FileNotOpened);
    ASSERT_TRUE(f.Open("last.data", &folder, 2));
    EXPECT_EQ(f.Write("1", 1), 1);
    f.Close();
    EXPECT_EQ(Contents("last.data"), "1");

    FSRef slashed{dir.string() + "/"};
    EXPECT_TRUE(f.Open("last.data", &slashed, 1));

    // Only single folder entries are names.
    for (const char* bad : {"", ".", "..", "../escape", "sub/name"}) {
        EXPECT_FALSE(f.Open(bad, &folder, 4)) << bad;
        EXPECT_EQ(f.GetError(), qnerr::FileNotOpened) << bad;
    }
    EXPECT_FALSE(fs::exists(dir.parent_path() / "escape"));
    EXPECT_FALSE(f.Open("x", nullptr, 4));
    EXPECT_EQ(f.GetError(), qnerr::FileNotOpened);
    EXPECT_FALSE(f.Open("x", &folder, 9));
    EXPECT_EQ(f.GetError(), qnerr::BadArgument);

    // By reference.
    FSRef ref{PathOf("last.data")};
    ASSERT_TRUE(f.Open(&ref, 1));
    EXPECT_EQ(f.GetLength(), 1);
    EXPECT_FALSE(f.Open(static_cast<const FSRef*>(nullptr), 1));
    EXPECT_EQ(f.GetError(), qnerr::FileNotOpened);

    // A Latin-1 name is stored under its UTF-8 form.
    ASSERT_TRUE(f.Open("caf\xE9", &folder, 2));
    f.Close();
    EXPECT_TRUE(fs::exists(PathOf("caf\xC3\xA9")));
}

TEST_F(BaseStdFile, WholeFilesAreReadWithinALimit)
{
    // More than one read's worth, so the limit is met inside a later read.
    std::string big(100000, 'b');
    big[99999] = 'e';
    MakeFile("big", big);
    std::vector<uint8_t> bytes{1};
    std::string error;
    ASSERT_TRUE(qnReadWholeFile(PathOf("big"), bytes, error, 100000)) << error;
    ASSERT_EQ(bytes.size(), 100000u);
    EXPECT_EQ(bytes.back(), 'e');
    EXPECT_FALSE(qnReadWholeFile(PathOf("big"), bytes, error, 99999));
    EXPECT_TRUE(bytes.empty());
    EXPECT_EQ(error, PathOf("big") + " is too large (over 99999 bytes)");

    MakeFile("empty", "");
    bytes = {1};
    ASSERT_TRUE(qnReadWholeFile(PathOf("empty"), bytes, error, 0));
    EXPECT_TRUE(bytes.empty());

    EXPECT_FALSE(qnReadWholeFile(PathOf("missing"), bytes, error));
    EXPECT_EQ(error, "cannot read " + PathOf("missing") + ": no such file");
    fs::create_directory(dir / "folder");
    EXPECT_FALSE(qnReadWholeFile(PathOf("folder"), bytes, error));
    EXPECT_EQ(error, "cannot read " + PathOf("folder") + ": is a folder");
}

TEST_F(BaseStdFile, WholeFileReadsCheckTheSizeBeforeReading)
{
    // A sparse file far over the limit and /dev/zero (no size, no end):
    // each refused, none read whole.
    MakeFile("huge", "x");
    ASSERT_EQ(::truncate(PathOf("huge").c_str(), off_t(3) << 30), 0);
    rusage ru{};
    ::getrusage(RUSAGE_SELF, &ru);
    const long before = ru.ru_maxrss;
    std::vector<uint8_t> bytes;
    std::string error;
    EXPECT_FALSE(qnReadWholeFile(PathOf("huge"), bytes, error, uint64_t(1) << 30));
    EXPECT_EQ(error, PathOf("huge") + " is too large (over 1073741824 bytes)");
    EXPECT_FALSE(qnReadWholeFile(PathOf("huge"), bytes, error)) << "the default has a limit too";
    EXPECT_FALSE(qnReadWholeFile("/dev/zero", bytes, error, UINT64_MAX));
    EXPECT_EQ(error, "cannot read /dev/zero: not a regular file");
    ::getrusage(RUSAGE_SELF, &ru);
    EXPECT_LT(ru.ru_maxrss - before, 64L * 1024) << "KiB taken";

    // A FIFO without a writer is refused at once, by every reading road.
    const std::string fifo = PathOf("pipe");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(qnReadWholeFile(fifo, bytes, error, 100000));
    EXPECT_EQ(error, "cannot read " + fifo + ": not a regular file");
    EXPECT_FALSE(qnCheckInputFile(fifo, 100000, error));
    EXPECT_EQ(error, "cannot read " + fifo + ": not a regular file");
    for (const uint32_t mode : {qnfile::kRead, qnfile::kUpdate}) {
        CQNF_StdFile file;
        EXPECT_FALSE(file.Open(CQNF_String(fifo.c_str()), mode));
        EXPECT_EQ(file.GetError(), qnerr::FileNotOpened);
    }
}

TEST(BaseFileNames, EightBitNamesBecomeUtf16Units)
{
    HFSUniStr255 u;
    EXPECT_EQ(CQNF_StdFile::HFSNameGetUnicodeName("a", nullptr, 65535), -50);
    EXPECT_EQ(CQNF_StdFile::HFSNameGetUnicodeName("", &u, 65535), 0);
    EXPECT_EQ(u.length, 0);
    EXPECT_EQ(CQNF_StdFile::HFSNameGetUnicodeName("abc", &u, 0), -50);

    ASSERT_EQ(CQNF_StdFile::HFSNameGetUnicodeName("A\xC3\xA9\xF0\x9F\x98\x80", &u, 65535), 0);
    ASSERT_EQ(u.length, 4);
    EXPECT_EQ(u.unicode[0], 'A');
    EXPECT_EQ(u.unicode[1], 0xE9);
    EXPECT_EQ(u.unicode[2], 0xD83D);  // U+1F600 as a surrogate pair
    EXPECT_EQ(u.unicode[3], 0xDE00);

    // Not UTF-8 (a lone lead byte, an overlong slash): read as Latin-1.
    ASSERT_EQ(CQNF_StdFile::HFSNameGetUnicodeName("\xE9t\xC0\xAF", &u, 65535), 0);
    ASSERT_EQ(u.length, 4);
    EXPECT_EQ(u.unicode[0], 0xE9);
    EXPECT_EQ(u.unicode[2], 0xC0);
    EXPECT_EQ(u.unicode[3], 0xAF);

    const std::string longest(255, 'n');
    EXPECT_EQ(CQNF_StdFile::HFSNameGetUnicodeName(longest.c_str(), &u, 65535), 0);
    EXPECT_EQ(u.length, 255);
    EXPECT_EQ(CQNF_StdFile::HFSNameGetUnicodeName((longest + "n").c_str(), &u, 65535), -8785);
    EXPECT_EQ(u.length, 0);
}

TEST_F(BaseStdFile, LaunchingGoesThroughTheReplaceableHandler)
{
    std::vector<std::string> opened;
    CQNF_Launcher::SetHandler([&](const std::string& target) {
        opened.push_back(target);
        return true;
    });
    MakeFile("help.pdf", "%PDF");
    MakeFile("-rf", "not an option");
    CQNF_StdFile f;
    FSRef ref{PathOf("help.pdf")};
    EXPECT_TRUE(f.LaunchFile(&ref));
    EXPECT_TRUE(f.LaunchFile("help.pdf", &folder));

    const fs::path cwd = fs::current_path();
    fs::current_path(dir);
    FSRef relative{"-rf"};
    EXPECT_TRUE(f.LaunchFile(&relative));
    fs::current_path(cwd);
    ASSERT_EQ(opened.size(), 3u);
    EXPECT_EQ(opened[0], PathOf("help.pdf"));
    EXPECT_EQ(opened[1], PathOf("help.pdf"));
    EXPECT_EQ(fs::path(opened[2]), dir / "-rf");  // absolute: never read as an option

    FSRef missing{PathOf("missing.pdf")};
    EXPECT_FALSE(f.LaunchFile(&missing));
    EXPECT_EQ(f.GetError(), qnerr::FileNotOpened);
    EXPECT_FALSE(f.LaunchFile("../help.pdf", &folder));
    EXPECT_EQ(opened.size(), 3u);

    CQNF_Launcher::SetHandler([](const std::string&) { return false; });
    EXPECT_FALSE(f.LaunchFile(&ref));
    EXPECT_EQ(f.GetError(), qnerr::FileNotOpened);
}

TEST(BaseLauncher, SpawnReportsWhetherTheProgramStarted)
{
    EXPECT_TRUE(CQNF_Launcher::SpawnDetached("true", "--ignored"));
    EXPECT_FALSE(CQNF_Launcher::SpawnDetached("tessolo-no-such-program", "x"));
    EXPECT_FALSE(CQNF_Launcher::SpawnDetached("", "x"));
    EXPECT_FALSE(CQNF_Launcher::Open(""));
}
