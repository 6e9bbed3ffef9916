// Replacing files safely: whole buffers and streamed files, permissions,
// links, and failures that must leave the target and no temporary file.
#include "core/SafeFile.h"

#include "test_storage_util.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

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
