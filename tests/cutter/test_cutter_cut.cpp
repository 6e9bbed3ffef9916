// The Cut: progress, abort, failures, and the effects carried over to the
// new pieces in order or by row and column, with the real engine on a small
// image.
#include "editor_test_util.h"

#include "host/CutterProgress.h"

#include <cstring>

using namespace editor_test;

namespace {

constexpr uint32_t kRec = CTessolo::kSettingsRecordSize;

// The stored records of the engine's current pieces, each given the opacity
// 10 + its index so that it can be told apart.
std::vector<uint8_t> MarkedRecords(const CTessolo& e)
{
    std::vector<uint8_t> out(size_t(e.m_nPieces) * kRec);
    for (uint32_t i = 0; i < e.m_nPieces; ++i) {
        CTessolo::SFX_ONEPIECE r = CTessolo::MakeOnePiece(e.m_pPieces[i]);
        r.opacity.on = 1;
        r.opacity.opacity = uint8_t(10 + i);
        r.StoreLE(out.data() + size_t(i) * kRec);
    }
    return out;
}

uint8_t Requested(const CTessolo& e, uint32_t i) { return e.m_pPieces[i].opacity[CTessolo::FX_REQUESTED].opacity; }

class Bar : public CCutterProgressTarget {
public:
    std::vector<uint8_t> shown;
    int pumps = 0;
    bool abort = false;
    void CutterProgress_SetBar(uint8_t p) override { shown.push_back(p); }
    void CutterProgress_PumpEvents() override { ++pumps; }
    bool CutterProgress_AbortRequested() const override { return abort; }
};

TEST(CutterProgressBar, MovesInStepsOfFiveAndPumpsBeforeAnswering)
{
    Bar bar;
    CCutterProgress p;
    p.SetEditor(&bar);
    for (int v = 0; v <= 100; ++v)
        p.Progress(uint8_t(v), nullptr);
    EXPECT_EQ(bar.shown.size(), 21u);
    EXPECT_EQ(bar.shown.back(), 100);
    bar.shown.clear();
    p.Progress(5, nullptr);
    p.Progress(5, nullptr);
    EXPECT_EQ(bar.shown.size(), 1u);
    EXPECT_FALSE(p.IsCanceled());
    bar.abort = true;
    EXPECT_TRUE(p.IsCanceled());
    EXPECT_EQ(bar.pumps, 2);
    CCutterProgress detached;
    EXPECT_FALSE(detached.IsCanceled());
}

TEST(CutterCut, SevenPiecesAdvanceByTwentySeventhsFromEighty)
{
    CutRig rig(70, 20, 7, 1);
    ASSERT_EQ(rig.ed.DoCutting(), 1);
    ASSERT_EQ(rig.engine.m_nPieces, 7u);
    const std::vector<uint8_t> tail = {5, 80, 82, 85, 88, 91, 94, 97, 100};
    EXPECT_EQ(rig.ed.m_CutReported, tail);
    EXPECT_EQ(rig.ed.m_Ctl.progress, 0);  // hidden again
    EXPECT_FALSE(rig.ed.m_bCutting);
    EXPECT_EQ(rig.link.undoMarked, 1);
    EXPECT_GT(rig.link.pumps, 0);
    EXPECT_FALSE(rig.ed.m_bFXMatchedByRC);
}

TEST(CutterCut, CutButtonClosesIntoPieceMode)
{
    CutRig rig(60, 40, 3, 2);
    rig.ed.Click("Cutter_Cut");
    EXPECT_TRUE(rig.ed.IsClosed());
    EXPECT_TRUE(rig.ed.m_bClosingAfterCut);
    EXPECT_EQ(rig.engine.m_nPieces, 6u);
}

TEST(CutterCut, EffectsCarryOverInOrderOrByRowAndColumn)
{
    struct Case {
        uint16_t columns, rows;  // of the re-cut
        bool byRC;
    };
    // From a 3 x 2 cut: the same grid copies record i to piece i; a wider or
    // taller grid finds each piece's record by its row and column.
    for (const Case c : {Case{3, 2, false}, Case{4, 2, true}, Case{3, 3, true}}) {
        CutRig first(60, 40, 3, 2);
        ASSERT_EQ(first.ed.DoCutting(), 1);
        const std::vector<uint8_t> recs = MarkedRecords(first.engine);
        std::vector<std::pair<int32_t, int32_t>> rc;
        for (uint32_t i = 0; i < first.engine.m_nPieces; ++i)
            rc.emplace_back(first.engine.m_pPieces[i].row, first.engine.m_pPieces[i].column);

        CutRig again(60, 40, c.columns, c.rows, 6);
        ASSERT_TRUE(again.ed.SetOpeningRecords(recs.data(), uint32_t(recs.size() / kRec)));
        ASSERT_EQ(again.ed.DoCutting(), 1);
        EXPECT_EQ(again.ed.m_bFXMatchedByRC, c.byRC);
        for (uint32_t i = 0; i < again.engine.m_nPieces; ++i) {
            const auto& p = again.engine.m_pPieces[i];
            uint8_t expected = again.engine.m_DefOpacity.opacity;
            for (size_t k = 0; k < rc.size(); ++k)
                if (rc[k] == std::make_pair(p.row, p.column))
                    expected = uint8_t(10 + k);
            EXPECT_EQ(Requested(again.engine, i), expected) << i;
        }
    }
}

TEST(CutterCut, DocumentRecordsComeFirstUntilReset)
{
    CutRig first(60, 40, 3, 2);
    ASSERT_EQ(first.ed.DoCutting(), 1);
    std::vector<uint8_t> opening = MarkedRecords(first.engine);
    std::vector<uint8_t> document = opening;
    for (size_t i = 0; i < document.size() / kRec; ++i)
        document[i * kRec + 85 + 1] = uint8_t(200 + i);  // opacity byte

    CutRig rig(60, 40, 3, 2, 6);
    rig.ed.SetOpeningRecords(opening.data(), 6);
    rig.ed.SetDocumentRecords(document.data(), 6);
    ASSERT_EQ(rig.ed.DoCutting(), 1);
    EXPECT_EQ(Requested(rig.engine, 0), 200);
    rig.ed.OnBtnReset();
    EXPECT_EQ(rig.ed.GetDocumentRecordCount(), 0u);
    ASSERT_EQ(rig.ed.DoCutting(), 1);
    EXPECT_EQ(Requested(rig.engine, 0), 10);
}

TEST(CutterCut, RowColumnTableKeepsEveryByteValue)
{
    // Rows and columns up to 255 are found (a grid of 101 keeps its last
    // row); a later record of the same place wins; beyond 255 nothing.
    std::vector<uint8_t> recs(4 * kRec, 0);
    const uint8_t places[4][2] = {{100, 100}, {255, 3}, {7, 7}, {7, 7}};
    for (int k = 0; k < 4; ++k) {
        recs[size_t(k) * kRec + 90] = places[k][0];
        recs[size_t(k) * kRec + 91] = places[k][1];
        recs[size_t(k) * kRec + 0] = uint8_t(k + 1);
    }
    struct Case {
        uint32_t row, column;
        int found;  // record number + 1, 0 = none
    };
    const Case cases[] = {{100, 100, 1}, {255, 3, 2}, {7, 7, 4}, {3, 255, 0}, {256, 3, 0}, {0, 0, 0}};
    CQNF_Mem table;
    for (const Case& c : cases) {
        uint8_t out[kRec] = {};
        const bool ok = CWnd_CutterEditor::i_DoCuttingSetFXByRC(out, recs.data(), 4, c.row, c.column, &table);
        EXPECT_EQ(ok, c.found != 0) << c.row << "," << c.column;
        if (ok) {
            EXPECT_EQ(out[0], c.found);
        }
    }
}

TEST(CutterCut, AbortAnywhereLeavesTheLayoutAndNoPieces)
{
    // Abort at the first pump, during the split, and during the rendering.
    for (int at : {1, 3, -2}) {
        CutRig rig(120, 80, 4, 3, 12);
        const std::vector<uint8_t> layout = rig.main.Block();
        int pumps = 0, total = 0;
        if (at < 0) {
            // Count the pumps of a whole Cut first, to abort near its end.
            CutRig probe(120, 80, 4, 3);
            probe.ed.onPump = [&](Editor&) { ++total; };
            ASSERT_EQ(probe.ed.DoCutting(), 1);
            at = total + at;
        }
        rig.ed.onPump = [&](Editor& e) {
            if (++pumps == at)
                e.OnCtrlMessage(CWnd_CutterEditor::MSG_CLICK, 0, "Cutter_CuttingAbort", CWnd_CutterEditor::CT_BUTTON, nullptr);
        };
        EXPECT_EQ(rig.ed.DoCutting(), 0) << at;
        EXPECT_EQ(rig.engine.m_nPieces, 0u) << at;
        EXPECT_EQ(rig.main.Block(), layout);
        EXPECT_FALSE(rig.ed.m_bCutting);
        EXPECT_FALSE(rig.ed.m_Ctl.cutting);
        // The old pieces are gone: only a new Cut leaves the editor.
        EXPECT_FALSE(rig.ed.m_Ctl.cancel);
        rig.ed.onPump = nullptr;
        rig.ed.Click("Cutter_Cancel");
        EXPECT_FALSE(rig.ed.IsClosed());
        // Controls work again, and a new Cut succeeds.
        EXPECT_EQ(rig.ed.DoCutting(), 1);
        EXPECT_GT(rig.engine.m_nPieces, 0u);
    }
}

TEST(CutterCut, EscDuringTheCutAbortsAndOtherInputIsRefused)
{
    CutRig rig(120, 80, 4, 3, 12);
    bool refused = true;
    rig.ed.onPump = [&](Editor& e) {
        const uint32_t v = 9;
        refused &= !e.OnCtrlMessage(CWnd_CutterEditor::MSG_SLIDER_FINAL, 0, "Cutter_Rows", CWnd_CutterEditor::CT_SLIDER, &v);
        refused &= !e.Down(100, 100);
        e.OnKeyDown(CWnd_CutterEditor::KEY_ESC, 0);
    };
    EXPECT_EQ(rig.ed.DoCutting(), 0);
    EXPECT_TRUE(refused);
    EXPECT_FALSE(rig.ed.IsClosed());
}

TEST(CutterCut, AFailureBeforeTheOldPiecesGoKeepsCancel)
{
    CutRig rig(60, 40, 3, 2, 6);
    ASSERT_EQ(rig.ed.DoCutting(), 1);
    const uint32_t pieces = rig.engine.m_nPieces;
    // A layout the engine refuses: the old pieces stay, and so does Cancel.
    struct Refuse : ModelLink {
        using ModelLink::ModelLink;
        bool engine_PutLayoutToPuzzleEngine(CTessolo*) override { return false; }
    } refuse(rig.main);
    rig.ed.SetMain(&refuse);
    EXPECT_EQ(rig.ed.DoCutting(), 0);
    EXPECT_EQ(rig.engine.m_nPieces, pieces);
    EXPECT_TRUE(rig.ed.m_Ctl.cancel);
    EXPECT_TRUE(rig.ed.m_bCancelAllowed);
}

}  // namespace
