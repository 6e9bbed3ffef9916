// Where the container's bytes go: replacing files safely, caller's files,
// names in folders.
#include "core/Storage.h"

#include "test_storage_util.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <set>

using namespace storage_test;
namespace fs = std::filesystem;

namespace {

CQNF_String S(const std::string& s) { return CQNF_String(s.c_str()); }

std::set<std::string> Entries(const std::string& dir)
{
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(dir))
        names.insert(e.path().filename().string());
    return names;
}

}  // namespace

TEST(StorageFiles, AFailedWriteLeavesFileAndContainerAsTheyWere)
{
    TempDir root;
    const std::string dir = root.File("d");
    fs::create_directory(dir);
    const std::string path = dir + "/plugin.conf";
    CQNF_Storage st;
    ASSERT_TRUE(st.Open(S(path), 2));
    ASSERT_TRUE(st.AddFolder("Preferences"));
    ASSERT_TRUE(st.SetRecord("Preferences>Zoom", uint8_t(2)));
    ASSERT_TRUE(st.SetRecord("Preferences>Name", S("abc")));
    const Bytes before = ReadFile(path);

    // The folder goes away under the open container: nothing can be written.
    const std::string moved = root.File("moved");
    fs::rename(dir, moved);
    EXPECT_FALSE(st.SetRecord("Preferences>New", uint32_t(1)));
    EXPECT_EQ(st.GetError(), 32);
    EXPECT_FALSE(st.SetRecord("Preferences>Zoom", uint8_t(9))) << "in place";
    EXPECT_FALSE(st.SetRecord("Preferences>Name", S("a much longer text"))) << "kill and append";
    EXPECT_FALSE(st.KillRec("Preferences"));
    EXPECT_FALSE(st.Rename("Preferences", "P"));
    fs::rename(moved, dir);
    EXPECT_EQ(ReadFile(path), before);

    // The open container is still the one on disk.
    EXPECT_EQ(st.GetRecType("Preferences>New"), kQnStorageNoRecord);
    uint8_t zoom = 0;
    EXPECT_TRUE(st.GetRec("Preferences>Zoom", zoom));
    EXPECT_EQ(zoom, 2);
    CQNF_String name;
    EXPECT_TRUE(st.GetRec("Preferences>Name", name));
    EXPECT_EQ(name, "abc");

    // And carries on from there.
    ASSERT_TRUE(st.SetRecord("Preferences>Zoom", uint8_t(3)));
    ASSERT_TRUE(st.Close());
    CQNF_Storage back;
    ASSERT_TRUE(back.Open(S(path), 1));
    EXPECT_TRUE(back.GetRec("Preferences>Zoom", zoom));
    EXPECT_EQ(zoom, 3);
    EXPECT_EQ(back.GetTotalRecords(), 3u);
    EXPECT_TRUE(back.CheckMD5(S(path)));
    EXPECT_EQ(Entries(dir), std::set<std::string>{"plugin.conf"}) << "no temporary file is left";
}

TEST(StorageFiles, CloseThatCannotWriteTheUpdateStillReleases)
{
    TempDir root;
    const std::string dir = root.File("d");
    fs::create_directory(dir);
    const std::string path = dir + "/c.qns";
    CQNF_Storage st;
    ASSERT_TRUE(st.Open(S(path), 2));
    ASSERT_TRUE(st.SetRecord("v", uint32_t(7)));
    const Bytes before = ReadFile(path);
    ASSERT_TRUE(st.BeginUpdate());
    ASSERT_TRUE(st.SetRecord("w", uint32_t(8)));
    EXPECT_EQ(ReadFile(path), before) << "an update is written at its end";
    fs::rename(dir, root.File("gone"));
    EXPECT_FALSE(st.Close());
    EXPECT_FALSE(st.IsOpened());
    fs::rename(root.File("gone"), dir);
    EXPECT_EQ(ReadFile(path), before) << "content and stamp kept";
    CQNF_Storage back;
    ASSERT_TRUE(back.Open(S(path), 1));
    EXPECT_EQ(back.GetTotalRecords(), 1u);
    EXPECT_TRUE(back.CheckMD5(S(path)));
}

TEST(StorageFiles, LinksAreFollowedAndPermissionsKept)
{
    TempDir dir;
    const std::string target = dir.File("real.qns");
    const std::string link = dir.File("link.qns");
    {
        CQNF_Storage st;
        ASSERT_TRUE(st.Open(S(target), 2));
        ASSERT_TRUE(st.Close());
    }
    ::chmod(target.c_str(), 0640);
    fs::create_symlink(target, link);
    CQNF_Storage st;
    ASSERT_TRUE(st.Open(S(link), 0));
    ASSERT_TRUE(st.SetRecord("x", uint8_t(1)));
    ASSERT_TRUE(st.Close());
    EXPECT_TRUE(fs::is_symlink(link));
    struct stat sb;
    ASSERT_EQ(::stat(target.c_str(), &sb), 0);
    EXPECT_EQ(sb.st_mode & 0777, 0640u);
    CQNF_Storage back;
    ASSERT_TRUE(back.Open(S(target), 1));
    EXPECT_EQ(back.GetRecType("x"), 1);
}

TEST(StorageFiles, ACallersFileIsWrittenAndClosedButNotOwned)
{
    TempDir dir;
    const std::string path = dir.File("shape.qnth");
    CQNF_StdFile file;
    ASSERT_TRUE(file.Open(S(path), 4));
    CQNF_Storage st;
    EXPECT_FALSE(st.Open(static_cast<CQNF_StdFile*>(nullptr), 2));
    EXPECT_EQ(st.GetError(), 1);
    ASSERT_TRUE(st.Open(&file, 2));
    ASSERT_TRUE(st.SetRecord("Version", S("Shape 2.0")));
    ASSERT_TRUE(st.SetRecord("Nodes", uint32_t(3)));
    ASSERT_TRUE(st.SetRecord("Version", S("Shape")));
    ASSERT_TRUE(st.Close());
    EXPECT_FALSE(file.IsOpened()) << "closed with the container";

    const Bytes img = ReadFile(path);
    CQNF_Storage check;
    EXPECT_TRUE(check.CheckMD5(img.data(), img.size()));
    ASSERT_TRUE(check.Open(img.data(), img.size()));
    CQNF_String v;
    EXPECT_TRUE(check.GetRec("Version", v));
    EXPECT_EQ(v, "Shape");

    // An existing container in a caller's file is opened, not replaced.
    ASSERT_TRUE(file.Open(S(path), 3));
    ASSERT_TRUE(st.Open(&file, 0));
    EXPECT_EQ(st.GetTotalRecords(), 2u);
    ASSERT_TRUE(st.SetRecord("Nodes", uint32_t(4)));
    ASSERT_TRUE(st.Close());
    ASSERT_TRUE(check.Open(S(path), 1));
    uint32_t nodes = 0;
    EXPECT_TRUE(check.GetRec("Nodes", nodes));
    EXPECT_EQ(nodes, 4u);
    EXPECT_TRUE(check.CheckMD5(S(path)));

    // A read-only caller's file cannot take a new container.
    const std::string empty = dir.File("empty");
    WriteFile(empty, {});
    ASSERT_TRUE(file.Open(S(empty), 1));
    EXPECT_FALSE(st.Open(&file, 0));
    EXPECT_EQ(st.GetError(), 35);
}

TEST(StorageFiles, NamesInAFolder)
{
    TempDir dir;
    const FSRef folder{dir.Path()};
    CQNF_Storage st;
    EXPECT_FALSE(st.Open("absent.qnth", &folder, 1));
    EXPECT_EQ(st.GetError(), 32);
    EXPECT_FALSE(st.Open("absent.qnth", &folder, 0));
    EXPECT_FALSE(st.Open("a/b", &folder, 2));
    EXPECT_FALSE(st.Open("..", &folder, 2));
    EXPECT_EQ(Entries(dir.Path()), std::set<std::string>{});

    ASSERT_TRUE(st.Open("last.qnth", &folder, 2));
    ASSERT_TRUE(st.SetRecord("Nodes", uint32_t(12)));
    ASSERT_TRUE(st.Close());
    EXPECT_TRUE(st.CheckMD5("last.qnth", &folder));
    ASSERT_TRUE(st.Open("last.qnth", &folder, 0));
    ASSERT_TRUE(st.SetRecord("Nodes", uint32_t(13)));
    ASSERT_TRUE(st.Close());
    ASSERT_TRUE(st.Open("last.qnth", &folder, 1));
    uint32_t n = 0;
    EXPECT_TRUE(st.GetRec("Nodes", n));
    EXPECT_EQ(n, 13u);
    st.Close();
    // Mode 2 replaces the existing container with a new one.
    ASSERT_TRUE(st.Open("last.qnth", &folder, 2));
    EXPECT_EQ(st.GetTotalRecords(), 0u);
    ASSERT_TRUE(st.Close());
    EXPECT_EQ(ReadFile(dir.File("last.qnth")).size(), 40u);
    EXPECT_EQ(Entries(dir.Path()), std::set<std::string>{"last.qnth"});
}

TEST(StorageFiles, AContainerNamedDashIsAFile)
{
    TempDir dir;
    {
        // In the folder for the relative name; back out whatever happens.
        struct Cd {
            fs::path before = fs::current_path();
            ~Cd() { fs::current_path(before); }
        } cd;
        fs::current_path(dir.Path());
        CQNF_Storage st;
        ASSERT_TRUE(st.Open(S("-"), 2));
        ASSERT_TRUE(st.SetRecord("k", uint8_t(1)));
        ASSERT_TRUE(st.Close());
    }
    CQNF_Storage back;
    ASSERT_TRUE(back.Open(S(dir.File("-")), 1));
    uint8_t v = 0;
    EXPECT_TRUE(back.GetRec("k", v));
    EXPECT_EQ(v, 1);
}
