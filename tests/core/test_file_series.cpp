// A series of files goes in whole or not at all, and staging folders of
// dead runs are cleared while a live run's is kept.
#include "core/FileSeries.h"

#include "test_storage_util.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <filesystem>
#include <map>

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

// Begin clears what dead runs left; a staging folder whose run still holds
// its lock, or a folder that only looks alike, stays.
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
