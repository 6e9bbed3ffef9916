// Files of the plug-in folder: whole-file blobs, the configuration storage
// and the window positions kept in it.
#include "host_test_support.h"

#include "core/Storage.h"
#include "core/StdFile.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>

#include <sys/resource.h>

using namespace hosttest;

namespace {

std::vector<uint8_t> Slurp(const std::string& path)
{
    std::vector<uint8_t> bytes;
    std::string err;
    qnReadWholeFile(path, bytes, err);
    return bytes;
}

TEST(HostConf, WholeFilesRoundTripAndAnEmptyFileReadsEmpty)
{
    PluginHarness h;
    CQNF_8BFPluginVirtual& a = *h.plugin;
    a.SetPluginFolder(h.folder);
    const uint8_t data[] = {1, 2, 3, 0, 5};
    ASSERT_TRUE(a.ConfFile_Write(data, sizeof data, "last.data"));
    CQNF_Mem block;
    ASSERT_TRUE(a.ConfFile_Read(&block, "last.data"));
    ASSERT_EQ(block.GetSize(), 5u);
    EXPECT_EQ(block.GetPtr()[4], 5);
    ASSERT_TRUE(a.ConfFile_Write(static_cast<const void*>(nullptr), 0, "ckss.data"));
    ASSERT_TRUE(a.ConfFile_Read(&block, "ckss.data"));
    EXPECT_EQ(block.GetSize(), 0u);
    EXPECT_FALSE(a.ConfFile_Read(&block, "missing.data"));
    EXPECT_NE(a.GetError(), 0);
    // No temporary file is left behind.
    size_t files = 0;
    for (const auto& e : std::filesystem::directory_iterator(h.folder.path)) {
        (void)e;
        ++files;
    }
    EXPECT_EQ(files, 2u);
}

TEST(HostConf, AFailedWriteKeepsTheOldFile)
{
    PluginHarness h;
    CQNF_8BFPluginVirtual& a = *h.plugin;
    a.SetPluginFolder(h.folder);
    const uint8_t old[] = {9, 9, 9};
    ASSERT_TRUE(a.ConfFile_Write(old, 3, "last.data"));
    // A write that runs out of room (a file size limit here, a full disk in
    // life) fails, and the last good settings survive it.
    const std::vector<uint8_t> fresh(64 * 1024, 7);
    {
        signal(SIGXFSZ, SIG_IGN);
        rlimit old{}, small{};
        ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
        small = old;
        small.rlim_cur = 4096;
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
        EXPECT_FALSE(a.ConfFile_Write(fresh.data(), static_cast<uint32_t>(fresh.size()), "last.data"));
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &old), 0);
    }
    EXPECT_EQ(Slurp(h.File("last.data")), (std::vector<uint8_t>{9, 9, 9}));
    EXPECT_FALSE(a.ConfFile_Write(old, 3, "../escape"));
    // Without a folder nothing is read or written.
    FSRef none;
    a.SetPluginFolder(none);
    EXPECT_FALSE(a.ConfFile_Write(old, 3, "last.data"));
    CQNF_Mem block;
    EXPECT_FALSE(a.ConfFile_Read(&block, "last.data"));
}

TEST(HostConf, ConfigurationStorageIsCreatedReopenedAndAnUnreadableOneKeptAside)
{
    PluginHarness h;
    CPluginMain& p = *h.plugin;
    p.SetPluginFolder(h.folder);
    ASSERT_TRUE(p.ConfStorage_Open("plugin.conf"));
    ASSERT_NE(p.ConfStorage_GetStorage(), nullptr);
    p.PutWindowPosToConf("Cutter", "Main", qntPOS{12, 34});
    // Reopening closes and stamps the first; the value is still there.
    ASSERT_TRUE(p.ConfStorage_Open("plugin.conf"));
    EXPECT_EQ(p.WindowPosFromConf("Cutter", "Main", qnNullSize, 1), (qntPOS{12, 34}));

    // Garbage where the container should be: it is kept as ".bad" and a
    // fresh container takes its place; each later damaged one gets the next
    // number, and every earlier copy keeps its bytes.
    PluginHarness other;
    other.plugin->SetPluginFolder(other.folder);
    const char* asides[] = {"plugin.conf.bad", "plugin.conf.bad2", "plugin.conf.bad3"};
    for (int round = 0; round < 3; ++round) {
        {
            std::filesystem::remove(other.File("plugin.conf"));
            std::ofstream f(other.File("plugin.conf"), std::ios::binary);
            f << "not a storage container, damaged copy " << round;
        }
        ASSERT_TRUE(other.plugin->ConfStorage_Open("plugin.conf"));
        for (int k = 0; k <= round; ++k) {
            std::ifstream kept(other.File(asides[k]), std::ios::binary);
            const std::string bytes((std::istreambuf_iterator<char>(kept)), std::istreambuf_iterator<char>());
            EXPECT_EQ(bytes, "not a storage container, damaged copy " + std::to_string(k)) << asides[k];
        }
    }

    // A folder that does not exist: closed, defaults everywhere, no writes.
    PluginHarness nowhere;
    FSRef missing;
    missing.path = nowhere.folder.path + "/gone";
    nowhere.plugin->SetPluginFolder(missing);
    EXPECT_FALSE(nowhere.plugin->ConfStorage_Open("plugin.conf"));
    EXPECT_EQ(nowhere.plugin->ConfStorage_GetStorage(), nullptr);
    nowhere.plugin->PutWindowPosToConf("Main", "ROOT", qntPOS{1, 1});
    EXPECT_EQ(nowhere.plugin->WindowPosFromConf("Main", "ROOT", qnNullSize, 1), (qntPOS{-32000, -32000}));
}

// Damaged settings met run after run keep a few copies, not one a run: the
// same damaged bytes are kept once, and beyond five different ones the
// oldest copy makes room for the newest, so the latest damage is always
// there to look at.
TEST(HostConf, DamagedSettingsCopiesStayFewAndTheNewestIsKept)
{
    PluginHarness h;
    h.plugin->SetPluginFolder(h.folder);
    // Each damaged file a second younger than the one before.
    const auto start = std::filesystem::file_time_type::clock::now() - std::chrono::hours(1);
    int made = 0;
    auto damage = [&](const std::string& bytes) {
        std::filesystem::remove(h.File("plugin.conf"));
        std::ofstream(h.File("plugin.conf"), std::ios::binary) << bytes;
        std::filesystem::last_write_time(h.File("plugin.conf"), start + std::chrono::seconds(++made));
        ASSERT_TRUE(h.plugin->ConfStorage_Open("plugin.conf"));
    };
    auto asides = [&] {
        std::vector<std::string> kept;
        for (const auto& e : std::filesystem::directory_iterator(h.folder.path)) {
            const std::string name = e.path().filename().string();
            if (name.rfind("plugin.conf.bad", 0) == 0) {
                std::ifstream in(e.path(), std::ios::binary);
                kept.emplace_back((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            }
        }
        std::sort(kept.begin(), kept.end());
        return kept;
    };
    for (int run = 0; run < 40; ++run)
        damage("the same damage every run");
    EXPECT_EQ(asides(), std::vector<std::string>{"the same damage every run"});
    // Eight other damaged contents, one after another.
    for (int k = 0; k < 8; ++k)
        damage("damage " + std::to_string(k));
    EXPECT_EQ(asides(), (std::vector<std::string>{"damage 3", "damage 4", "damage 5", "damage 6", "damage 7"}));
}

TEST(HostConf, WindowNamesAreTrimmedUpperCasedAndPositionsClamped)
{
    PluginHarness h;
    CPluginMain& p = *h.plugin;
    p.SetPluginFolder(h.folder);
    ASSERT_TRUE(p.ConfStorage_Open("plugin.conf"));
    const qntPOS centred{-32000, -32000};
    EXPECT_EQ(p.WindowPosFromConf("Main", "ROOT", qnNullSize, 1), centred);

    p.PutWindowPosToConf("  main ", "root", qntPOS{100, 200});
    EXPECT_EQ(p.WindowPosFromConf("Main", "ROOT", qnNullSize, 0), (qntPOS{100, 200}));
    uint32_t x = 0;
    EXPECT_TRUE(p.ConfStorage_GetStorage()->GetRec(CQNF_String("Windows Positions>MAIN>ROOT>Left"), x));
    EXPECT_EQ(x, 100u);

    p.PutWindowPosToConf("", "Main", qntPOS{5, 6});
    EXPECT_TRUE(p.ConfStorage_GetStorage()->GetRec(CQNF_String("Windows Positions>-->MAIN>Top"), x));
    EXPECT_EQ(x, 6u);

    // Stored unclamped, read back clamped.
    p.PutWindowPosToConf("FXblur", "MAIN", qntPOS{9000, -50});
    EXPECT_TRUE(p.ConfStorage_GetStorage()->GetRec(CQNF_String("Windows Positions>FXBLUR>MAIN>Left"), x));
    EXPECT_EQ(x, 9000u);
    EXPECT_EQ(p.WindowPosFromConf("FXblur", "MAIN", qnNullSize, 1), (qntPOS{7000, -10}));
    p.PutWindowPosToConf("Low", "MAIN", qntPOS{-500, 9999});
    EXPECT_EQ(p.WindowPosFromConf("Low", "MAIN", qnNullSize, 1), (qntPOS{-100, 6000}));

    // Only Left stored: centred.
    CQNF_Storage* st = p.ConfStorage_GetStorage();
    st->AddFolder(CQNF_String("Windows Positions>HALF"));
    st->AddFolder(CQNF_String("Windows Positions>HALF>MAIN"));
    st->SetRecord(CQNF_String("Windows Positions>HALF>MAIN>Left"), uint32_t{10});
    EXPECT_EQ(p.WindowPosFromConf("Half", "Main", qnNullSize, 1), centred);
}

}  // namespace
