// Documents, the last settings and the one-step undo of the cut map.
#include "app_fixture.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

using app_test::Model;
using app_test::RandomLayout;

namespace {

std::string TempPath(const std::string& name)
{
    const std::filesystem::path dir = std::filesystem::path(testing::TempDir()) / "tessolo_app";
    std::filesystem::create_directories(dir);
    return (dir / name).string();
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

std::vector<uint8_t> ReadFile(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), {});
}

std::vector<uint8_t> Doc(const char* magic, const std::vector<uint8_t>& block)
{
    std::vector<uint8_t> d(magic, magic + 6);
    d.insert(d.end(), block.begin(), block.end());
    return d;
}

class FakeStore : public CWnd_Main::LastSettingsStore {
public:
    std::vector<uint8_t> descriptor, lastData;
    bool hasDescriptor = false, hasLastData = false;
    int lastDataReads = 0;
    bool WriteDescriptor(const uint8_t* d, uint32_t n) override
    {
        descriptor.assign(d, d + n);
        hasDescriptor = true;
        return true;
    }
    bool ReadDescriptor(CQNF_Mem* block) override
    {
        if (!hasDescriptor)
            return false;
        block->alloc(descriptor.size());
        std::copy(descriptor.begin(), descriptor.end(), block->GetPtr());
        return true;
    }
    bool ConfFile_Write(const uint8_t* d, uint32_t n, const char* name) override
    {
        EXPECT_STREQ(name, "last.data");
        lastData.assign(d, d + n);
        hasLastData = true;
        return true;
    }
    bool ConfFile_Read(CQNF_Mem* block, const char*) override
    {
        ++lastDataReads;
        if (!hasLastData)
            return false;
        if (lastData.empty()) {
            block->free();
            return true;
        }
        block->alloc(lastData.size());
        std::copy(lastData.begin(), lastData.end(), block->GetPtr());
        return true;
    }
};

}  // namespace

TEST(AppDocuments, SaveAndLoad)
{
    Model a;
    RandomLayout(a, 21);
    const std::string path = TempPath("saved.qntd");
    std::string message;
    ASSERT_TRUE(a.settings_SaveDocument(path.c_str(), message)) << message;
    const std::vector<uint8_t> file = ReadFile(path);
    ASSERT_EQ(file, Doc("QNTS30", a.Block()));
    EXPECT_FALSE(std::filesystem::exists(path + ".tmp"));

    Model b;
    ASSERT_TRUE(b.spl_SplitEvenParts(2, 2, kForce, kResetExtras));
    const std::vector<uint8_t> before = b.Block();
    ASSERT_TRUE(b.settings_LoadDocument(path.c_str(), message)) << message;
    EXPECT_EQ(b.Block(), a.Block());
    EXPECT_EQ(b.cutter.columnsSet, a.m_nColSplitters + 1u);
    EXPECT_EQ(b.cutter.initialStates, 1);
    // Undo brings back the layout from before the load, and redo the load.
    b.uncm_Restore();
    EXPECT_EQ(b.Block(), before);
    b.uncm_Restore();
    EXPECT_EQ(b.Block(), a.Block());

    EXPECT_FALSE(a.settings_SaveDocument((TempPath("none") + "/dir/x.qntd").c_str(), message));
    EXPECT_EQ(message, "Cannot write file...");
}

TEST(AppDocuments, RefusedDocumentsKeepTheLayout)
{
    Model m;
    RandomLayout(m, 3);
    const std::vector<uint8_t> layout = m.Block();
    std::string message;
    auto refused = [&](const std::vector<uint8_t>& bytes, const char* text, const char* what) {
        const std::string path = TempPath("refused.qntd");
        WriteFile(path, bytes);
        EXPECT_FALSE(m.settings_LoadDocument(path.c_str(), message)) << what;
        EXPECT_EQ(message, text) << what;
        EXPECT_EQ(m.m_LastMessageTitle, "Error!") << what;
        EXPECT_EQ(m.Block(), layout) << what;
        EXPECT_TRUE(m.UndoEmpty()) << what;
    };
    const char* unknown = "Unknown file format, or the file is damaged.";
    refused({'Q', 'N', 'T', 'S', '3', '0', 0, 0, 0}, unknown, "9 bytes");
    refused({'Q', 'N', 'T', 'S', '3', '0', 0, 0, 0, 0}, unknown, "10 bytes: a damaged block");
    refused(Doc("QNTS40", layout), unknown, "version digit");
    refused(Doc("QNTS20", layout), unknown, "a version-3 block under the old magic");
    std::vector<uint8_t> cut = Doc("QNTS30", layout);
    cut.pop_back();
    refused(cut, unknown, "one byte short");
    EXPECT_FALSE(m.settings_LoadDocument(TempPath("missing.qntd").c_str(), message));
    EXPECT_EQ(m.Block(), layout);
}

TEST(AppDocuments, PieceModeDocumentsCarryTheirRecords)
{
    Model a;
    ASSERT_TRUE(a.spl_SplitEvenParts(3, 2, kForce, kResetExtras));
    a.m_bCutMode = 0;
    ASSERT_TRUE(a.m_PieceRecords.Zalloc(6 * 92));
    a.m_PieceRecords.GetPtr()[5 * 92 + 90] = 2;
    a.m_nPieceRecords = 6;
    const std::string path = TempPath("pieces.qntd");
    std::string message;
    ASSERT_TRUE(a.settings_SaveDocument(path.c_str(), message));

    // Loading in piece mode returns to cut mode first.
    Model b;
    b.m_bCutMode = 0;
    ASSERT_TRUE(b.settings_LoadDocument(path.c_str(), message));
    EXPECT_TRUE(b.m_bCutMode);
    ASSERT_EQ(b.m_nDocumentRecords, 6u);
    EXPECT_EQ(b.m_DocumentRecords.GetPtr()[5 * 92 + 90], 2);
}

TEST(AppDocuments, LastSettings)
{
    FakeStore store;
    Model a;
    a.SetLastSettingsStore(&store);
    RandomLayout(a, 8);
    ASSERT_TRUE(a.settings_SaveCurLayoutAndCellSettings());
    EXPECT_EQ(store.descriptor, a.Block());
    EXPECT_EQ(store.lastData, a.Block());

    // The descriptor comes first; "last.data" is not read then.
    Model b;
    b.SetLastSettingsStore(&store);
    store.lastData = {1, 2, 3};
    ASSERT_TRUE(b.settings_LoadCurLayoutAndCellSettings());
    EXPECT_EQ(store.lastDataReads, 0);
    EXPECT_EQ(b.Block(), a.Block());

    // No descriptor and an empty "last.data": the default layout.
    store.hasDescriptor = false;
    store.lastData.clear();
    Model c(300, 200);
    c.SetLastSettingsStore(&store);
    ASSERT_TRUE(c.settings_LoadCurLayoutAndCellSettings());
    EXPECT_EQ(store.lastDataReads, 1);
    EXPECT_EQ(c.m_nRowSplitters, 1);
    EXPECT_EQ(c.m_ColKnives[0].nodeCount, 5u);
}

TEST(AppUndo, PartialStepsToggle)
{
    Model m;
    ASSERT_TRUE(m.spl_SplitEvenParts(3, 3, kForce, kResetExtras));
    EXPECT_TRUE(m.UndoEmpty());
    m.uncm_PreSave(CWnd_Main::CMUNDO_KNOTS);
    const float before = m.m_Knots[5].dx;
    m.m_Knots[5].dx = 0.75f;
    m.uncm_SaveState(CWnd_Main::CMUNDO_KNOTS, CWnd_Main::CMSUB_NONE);
    ASSERT_FALSE(m.UndoEmpty());
    m.uncm_Restore();
    EXPECT_EQ(m.m_Knots[5].dx, before);
    m.uncm_Restore();
    EXPECT_EQ(m.m_Knots[5].dx, 0.75f);

    // A knife click that changes nothing keeps the step held before.
    m.uncm_PreSave(CWnd_Main::CMUNDO_KNIFEFLAGS);
    m.uncm_SaveState(CWnd_Main::CMUNDO_KNIFEFLAGS, CWnd_Main::CMSUB_NONE);
    EXPECT_EQ(m.UndoKind(), CWnd_Main::CMUNDO_KNOTS);
    // Selection with its anchor.
    CQNF_DWordArray ids = app_test::Ids({2});
    m.uncm_PreSave(CWnd_Main::CMUNDO_KNIFEFLAGS);
    m.op_SetSelToKnives(kNoKey, kNoKey, kNoKey, &ids, kNoSend, kDeselect, kNoRedraw);
    m.uncm_SaveState(CWnd_Main::CMUNDO_KNIFEFLAGS, CWnd_Main::CMSUB_NONE);
    EXPECT_EQ(m.UndoKind(), CWnd_Main::CMUNDO_KNIFEFLAGS);
    m.uncm_Restore();
    EXPECT_FALSE(m.m_ColKnives[2].selected);
    EXPECT_FALSE(m.m_bKnifeSelection);
    m.uncm_Restore();
    EXPECT_TRUE(m.m_ColKnives[2].selected);
    EXPECT_EQ(m.m_Anchor.knife, 2u);
}

TEST(AppUndo, WholeLayoutStepsMergeBySubKind)
{
    Model m;
    ASSERT_TRUE(m.spl_SplitEvenParts(3, 3, kForce, kResetExtras));
    m.OnCutterUpdateKnifeThickness(5, kNoRazorCut);
    m.OnCutterUpdateKnifeThickness(7, kNoRazorCut);
    m.OnCutterUpdateKnifeThickness(9, kNoRazorCut);
    m.uncm_Restore();
    EXPECT_EQ(m.m_ColKnives[0].thickness, 3u);
    EXPECT_EQ(m.m_bRazorCut, 1);
    m.uncm_Restore();
    EXPECT_EQ(m.m_ColKnives[0].thickness, 9u);

    // A knob change after a thickness change is a step of its own.
    m.OnCutterUpdateKnifeThickness(4, kNoRazorCut);
    m.OnCutterUpdateKnifeSize(50);
    m.uncm_Restore();
    EXPECT_EQ(m.m_ColKnives[0].knobSize, 100u);
    EXPECT_EQ(m.m_ColKnives[0].thickness, 4u);
}

TEST(AppUndo, ASnapshotOfAnotherGridIsNeverApplied)
{
    Model m;
    ASSERT_TRUE(m.spl_SplitEvenParts(4, 2, kForce, kResetExtras));
    m.uncm_PreSave(CWnd_Main::CMUNDO_SPLITTERS);
    m.OnCutterUpdateRowsCols(2, 2);  // the grid shrinks between pre-save and commit
    m.m_ColSplitters[0] = 0.9f;
    m.uncm_SaveState(CWnd_Main::CMUNDO_SPLITTERS, CWnd_Main::CMSUB_NONE);
    EXPECT_EQ(m.UndoKind(), CWnd_Main::CMUNDO_LAYOUT);
    m.uncm_Restore();
    EXPECT_EQ(m.m_nColSplitters, 3);
    m.uncm_Empty();
    EXPECT_TRUE(m.UndoEmpty());
    m.uncm_Restore();
    EXPECT_EQ(m.m_nColSplitters, 3);
}
