// Editing operations: selection rules, random selection, flips, knob
// equalising, copy and paste, extra knives, splitters and editor updates.
#include "app_fixture.h"

#include <gtest/gtest.h>

using app_test::Ids;
using app_test::Model;
using app_test::ScriptedRandom;

namespace {

uint32_t SelectedCount(CWnd_Main& m)
{
    uint32_t n = 0;
    for (uint32_t id = 0; id < m.m_nColKnives; ++id)
        n += m.m_ColKnives[id].selected;
    for (uint32_t id = 0; id < m.m_nRowKnives; ++id)
        n += m.m_RowKnives[id].selected;
    for (uint32_t id = 0; id < m.m_nAuxKnives; ++id)
        n += m.m_AuxKnives[id].knife.selected;
    return n;
}

}  // namespace

TEST(AppOps, RandomSelectionQuota)
{
    Model m;
    ASSERT_TRUE(m.spl_SplitEvenParts(6, 2, kIfChanged, kResetExtras));  // 16 grid knives
    ASSERT_TRUE(m.i_op_AddAuxKnifeToKnots(0, 8));
    ASSERT_TRUE(m.i_op_AddAuxKnifeToKnots(1, 9));
    ASSERT_TRUE(m.i_op_AddAuxKnifeToKnots(2, 10));
    ASSERT_EQ(m.GetKnifeCount(), 19u);
    m.op_SelRandom(kSelect, kNoRedraw);
    EXPECT_EQ(SelectedCount(m), 1u);

    Model big;
    ASSERT_TRUE(big.spl_SplitEvenParts(6, 6, kIfChanged, kResetExtras));  // 60 knives: quota 3
    big.op_SetSelToAllKnives(kSelect, kNoRedraw, kColumnKnives, kRowKnives, kExtraKnives);
    big.m_ColKnives[0].selected = 0;
    big.m_ColKnives[7].selected = 0;
    big.m_RowKnives[3].selected = 0;
    // Draws whose product overflows 32 bits pick candidates too.
    ScriptedRandom r;
    r.values = {2147483647u};
    big.SetRandomSource(&r);
    big.op_SelRandom(kSelect, kNoRedraw);
    EXPECT_EQ(SelectedCount(big), 60u);
    EXPECT_EQ(r.draws, 6u);
}

TEST(AppOps, InterleavedFlipsRestartPerList)
{
    Model m;
    ASSERT_TRUE(m.spl_SplitEvenParts(4, 1, kIfChanged, kResetExtras));  // three column knives
    m.op_Interleaved(kFlipH, kNoFlip, kAllKnives, kNoRedraw);
    EXPECT_EQ(m.m_ColKnives[0].flipH, 0);
    EXPECT_EQ(m.m_ColKnives[1].flipH, 1);
    EXPECT_EQ(m.m_ColKnives[2].flipH, 0);
    EXPECT_EQ(m.m_ColKnives[1].flipU, 0);

    ASSERT_TRUE(m.spl_SplitEvenParts(2, 2, kIfChanged, kResetExtras));  // two column knives, two row knives
    m.op_Interleaved(kFlipH, kFlipU, kAllKnives, kNoRedraw);
    EXPECT_EQ(m.m_ColKnives[1].flipU, 1);
    EXPECT_EQ(m.m_RowKnives[0].flipH, 0);
    EXPECT_EQ(m.m_RowKnives[1].flipH, 1);
    m.op_NonInterleaved(kFlipH, kNoFlip, kAllKnives, kNoRedraw);
    EXPECT_EQ(m.m_RowKnives[1].flipH, 0);
    EXPECT_EQ(m.m_RowKnives[1].flipU, 1);
}

TEST(AppOps, RandomFlipDrawsOnlyForRequestedFlags)
{
    Model m;
    ASSERT_TRUE(m.spl_SplitEvenParts(3, 3, kIfChanged, kResetExtras));  // 12 knives
    ScriptedRandom r;
    r.values = {Model::kRandFlipLimit, Model::kRandFlipLimit + 1};
    m.SetRandomSource(&r);
    m.op_RandFlip(kFlipH, kNoFlip, kAllKnives, kNoRedraw);
    EXPECT_EQ(r.draws, 12u);
    EXPECT_EQ(m.m_ColKnives[0].flipH, 1);  // a draw at the limit flips
    EXPECT_EQ(m.m_ColKnives[1].flipH, 0);  // one above does not
    for (uint32_t i = 0; i < m.m_nColKnives; ++i)
        EXPECT_EQ(m.m_ColKnives[i].flipU, 0);
}

TEST(AppOps, RandomFlipTurnsAboutHalfTheKnives)
{
    Model m;
    ASSERT_TRUE(m.spl_SplitEvenParts(30, 30, kIfChanged, kResetExtras));  // 1740 knives
    CQNF_SeededRandom r(3);
    m.SetRandomSource(&r);
    m.op_RandFlip(kFlipH, kNoFlip, kAllKnives, kNoRedraw);
    uint32_t flipped = 0;
    for (uint32_t i = 0; i < m.m_nColKnives; ++i)
        flipped += m.m_ColKnives[i].flipH;
    for (uint32_t i = 0; i < m.m_nRowKnives; ++i)
        flipped += m.m_RowKnives[i].flipH;
    const double share = double(flipped) / (m.m_nColKnives + m.m_nRowKnives);
    EXPECT_NEAR(share, 0.5, 0.05);
}

TEST(AppOps, KnifeClickSelection)
{
    Model m;
    ASSERT_TRUE(m.spl_SplitEvenParts(3, 3, kIfChanged, kResetExtras));  // C = R = 2
    CQNF_DWordArray one = Ids({1});
    m.op_SetSelToKnives(kNoKey, kNoKey, kNoKey, &one, kSend, kDeselect, kNoRedraw);
    EXPECT_EQ(m.cutter.shapesReceived, 1);
    EXPECT_TRUE(m.m_ColKnives[1].selected);
    EXPECT_EQ(m.m_Anchor.knife, 1u);
    EXPECT_TRUE(m.m_bKnifeSelection);

    // Shift: the block from the anchor (column knife 1: cell (3, 0)) to row
    // knife 3 (cell (0, 3)).
    CQNF_DWordArray block = Ids({CWnd_Main::kRowKnifeId + 3});
    m.op_SetSelToKnives(kNoKey, kShiftKey, kNoKey, &block, kNoSend, kDeselect, kNoRedraw);
    EXPECT_TRUE(m.m_ColKnives[0].selected);
    EXPECT_TRUE(m.m_ColKnives[3].selected);
    EXPECT_FALSE(m.m_ColKnives[4].selected);
    EXPECT_TRUE(m.m_RowKnives[0].selected);
    EXPECT_TRUE(m.m_RowKnives[4].selected);
    EXPECT_FALSE(m.m_RowKnives[5].selected);
    EXPECT_EQ(m.m_Anchor.knife, 3u);
    EXPECT_FALSE(m.m_Anchor.isColumn);

    // Command-Shift flips across, Command-Shift-Option along, Option nothing.
    m.op_SetSelToKnives(kCommandKey, kShiftKey, kNoKey, &one, kNoSend, kDeselect, kNoRedraw);
    EXPECT_EQ(m.m_ColKnives[1].flipH, 1);
    m.op_SetSelToKnives(kCommandKey, kShiftKey, kOptionKey, &one, kNoSend, kDeselect, kNoRedraw);
    EXPECT_EQ(m.m_ColKnives[1].flipU, 1);
    const uint32_t before = SelectedCount(m);
    m.op_SetSelToKnives(kNoKey, kNoKey, kOptionKey, &one, kNoSend, kDeselect, kNoRedraw);
    EXPECT_EQ(SelectedCount(m), before);
    // A plain click deselects everything else.
    m.op_SetSelToKnives(kNoKey, kNoKey, kNoKey, &one, kNoSend, kDeselect, kNoRedraw);
    EXPECT_EQ(SelectedCount(m), 1u);
    // Command toggles.
    m.op_SetSelToKnives(kCommandKey, kNoKey, kNoKey, &one, kSend, kDeselect, kNoRedraw);
    EXPECT_EQ(SelectedCount(m), 0u);
    EXPECT_FALSE(m.m_bKnifeSelection);
    EXPECT_EQ(m.m_Anchor.knife, CWnd_Main::kNone);
}

TEST(AppOps, ShowHideAndCommandStates)
{
    Model m;
    ASSERT_TRUE(m.spl_SplitEvenParts(3, 1, kIfChanged, kResetExtras));
    ASSERT_TRUE(m.i_op_AddAuxKnifeToKnots(0, 6));
    m.m_ColKnives[0].selected = 1;
    m.spl_OnKnifeSelChanged();
    EXPECT_TRUE(m.m_bCmdHide);
    EXPECT_FALSE(m.m_bCmdShow);
    EXPECT_FALSE(m.m_bCmdDelKnives);
    m.op_ShowHideSelectedKnives(kHide, kRedraw);
    EXPECT_TRUE(m.m_ColKnives[0].off);
    EXPECT_FALSE(m.m_ColKnives[1].off);
    EXPECT_TRUE(m.m_bCmdShow);
    EXPECT_FALSE(m.m_bCmdHide);
    m.op_SetSelToAllKnives(kSelect, kNoRedraw, kSkip, kSkip, kExtraKnives);
    EXPECT_TRUE(m.m_bCmdDelKnives);
    m.op_SetSelToHiddenOrShownKnives(kHiddenKnives, kNoRedraw);
    EXPECT_EQ(SelectedCount(m), 1u);
    m.op_SetSelToAllKnives(kDeselect, kNoRedraw, kColumnKnives, kRowKnives, kExtraKnives);
    m.op_ReverseShownHidden(kRedraw);  // no selection: every knife
    EXPECT_FALSE(m.m_ColKnives[0].off);
    EXPECT_TRUE(m.m_ColKnives[1].off);
    EXPECT_TRUE(m.m_AuxKnives[0].knife.off);
}

TEST(AppOps, EqualizeKnobs)
{
    Model m;
    ASSERT_TRUE(m.spl_SplitEvenParts(4, 1, kIfChanged, kResetExtras));
    auto shape = [](CWnd_Main::KNIFESTRUCT& k, float length) {
        k.nodeCount = 2;
        k.U[0] = 0.4f;
        k.U[1] = 0.6f;
        k.H[0] = k.H[1] = 0.0f;  // no extent across: only U speaks
        k.length = length;
    };
    // No measurable knife: nothing, no undo step.
    m.op_EqualizeKnobs(kAllKnives, kNoRedraw);
    EXPECT_TRUE(m.UndoEmpty());
    // One measurable knife: nothing changes but the step is recorded.
    shape(m.m_ColKnives[0], 100.0f);
    EXPECT_FALSE(m.check_IsAvail_EqualizeKnobs(kAllKnives));
    m.op_EqualizeKnobs(kAllKnives, kNoRedraw);
    EXPECT_FALSE(m.UndoEmpty());
    EXPECT_EQ(m.UndoSub(), CWnd_Main::CMSUB_KNOBSIZE);
    EXPECT_EQ(m.m_ColKnives[0].knobSize, 100u);

    shape(m.m_ColKnives[1], 200.0f);
    shape(m.m_ColKnives[2], 400.0f);
    EXPECT_TRUE(m.check_IsAvail_EqualizeKnobs(kAllKnives));
    m.op_EqualizeKnobs(kAllKnives, kNoRedraw);
    EXPECT_EQ(m.m_ColKnives[0].knobSize, 100u);
    EXPECT_EQ(m.m_ColKnives[1].knobSize, 50u);
    EXPECT_EQ(m.m_ColKnives[2].knobSize, 25u);

    // A knife whose nodes coincide has no extent at all: its size stays.
    m.m_ColKnives[2].U[1] = 0.4f;
    m.m_ColKnives[2].knobSize = 77;
    m.op_EqualizeKnobs(kAllKnives, kNoRedraw);
    EXPECT_EQ(m.m_ColKnives[2].knobSize, 77u);
}

TEST(AppOps, CopyAndPaste)
{
    Model m;
    ASSERT_TRUE(m.spl_SplitEvenParts(3, 2, kIfChanged, kResetExtras));
    ASSERT_TRUE(m.i_op_AddAuxKnifeToKnots(0, 6));
    m.m_AuxKnives[0].knife.nodeCount = 0;
    CQNF_DWordArray target = Ids({CWnd_Main::kAuxKnifeId});
    m.op_PasteKnife(&target);  // empty clipboard: nothing
    EXPECT_EQ(m.m_AuxKnives[0].knife.nodeCount, 0u);

    CWnd_Main::settings_SetDefaultKnife(&m.m_ColKnives[1]);
    m.m_ColKnives[1].flipU = 1;
    m.m_ColKnives[1].knobSize = 60;
    m.op_CopyKnife(1, kColumn, kGridKnife);
    EXPECT_FALSE(m.m_bClipboardEmpty);
    m.m_AuxKnives[0].knife.off = 1;
    m.op_PasteKnife(&target);
    const CWnd_Main::AUXKNIFESTRUCT& a = m.m_AuxKnives[0];
    EXPECT_EQ(a.knife.nodeCount, 5u);
    EXPECT_EQ(a.knife.flipU, 1);
    EXPECT_EQ(a.knife.knobSize, 60u);
    EXPECT_EQ(a.knife.off, 1);  // off and selected stay
    EXPECT_EQ(a.knotA, 0u);
    EXPECT_EQ(a.knotB, 6u);
    m.op_CopyKnife(99, kColumn, kGridKnife);  // out of range: clipboard unchanged
    EXPECT_EQ(m.m_KnifeClipboard.knobSize, 60u);
}

TEST(AppOps, ExtraKnivesDeleted)
{
    Model m;
    ASSERT_TRUE(m.spl_SplitEvenParts(3, 2, kIfChanged, kResetExtras));
    ASSERT_TRUE(m.i_op_AddAuxKnifeToKnots(0, 6));
    ASSERT_TRUE(m.i_op_AddAuxKnifeToKnots(1, 7));
    ASSERT_TRUE(m.i_op_AddAuxKnifeToKnots(2, 8));
    CQNF_DWordArray ids = Ids({CWnd_Main::kAuxKnifeId + 1, 5});
    m.op_DelAuxKnives(kAllKnives, &ids, kDropMarks, kRedraw);
    ASSERT_EQ(m.m_nAuxKnives, 2u);
    EXPECT_EQ(m.m_AuxKnives[1].knotA, 2u);
    m.m_AuxKnives[0].knife.selected = 1;
    m.spl_OnKnifeSelChanged();
    m.op_DelAuxKnives(kOnlySelected, nullptr, kDropMarks, kNoRedraw);
    ASSERT_EQ(m.m_nAuxKnives, 1u);
    EXPECT_EQ(m.m_AuxKnives[0].knotA, 2u);
}

TEST(AppOps, KnotSelectionPairs)
{
    Model m;
    ASSERT_TRUE(m.spl_SplitEvenParts(4, 2, kIfChanged, kResetExtras));  // stride 5
    m.i_cmop_KnotClickToSelect(0);
    EXPECT_EQ(m.m_nSelKnots, 1u);
    m.i_cmop_KnotClickToSelect(6);
    EXPECT_EQ(m.m_nSelKnots, 2u);
    EXPECT_TRUE(m.m_bCanAddKnives);
    // 7 cannot pair with 6: it is left alone.
    m.i_cmop_KnotClickToSelect(7);
    EXPECT_EQ(m.m_nSelKnots, 1u);
    EXPECT_EQ(m.m_SelKnot1, 7u);
    EXPECT_FALSE(m.m_bCanAddKnives);
    m.i_cmop_KnotClickToSelect(7);
    EXPECT_EQ(m.m_nSelKnots, 0u);
    m.i_cmop_KnotClickToSelect(0);
    m.i_cmop_KnotClickToSelect(12);
    m.op_AddAuxKnifeToSelectedKnots(kRedraw);
    EXPECT_EQ(m.m_nAuxKnives, 1u);
    EXPECT_FALSE(m.m_bCanAddKnives);  // the pair is taken now
}

TEST(AppOps, RandomKnotsEdit)
{
    struct Spy : Model {
        uint32_t shown = 999;
        void view_RandomKnotsControls(uint32_t percent, uint8_t, bool) override { shown = percent; }
    } m;
    m.OnEditRandomKnots("150");
    EXPECT_EQ(m.shown, 100u);
    EXPECT_FLOAT_EQ(m.m_fRndKnotsValue, 1.0f);
    m.OnEditRandomKnots("-5");
    EXPECT_EQ(m.shown, 0u);
    EXPECT_EQ(m.m_fRndKnotsValue, 0.0f);
    ASSERT_TRUE(m.spl_SplitEvenParts(3, 3, kIfChanged, kResetExtras));
    m.OnSldrRandomKnots(40, 0);
    EXPECT_FLOAT_EQ(m.m_KnotRandomness, 0.4f);
    EXPECT_TRUE(m.m_bCanRndKnots);
    EXPECT_EQ(m.UndoKind(), CWnd_Main::CMUNDO_KNOTS);
}

TEST(AppOps, InsertSplitterRemapsKnotsAndKnives)
{
    Model m;
    m.m_KnotRandomness = 0.0f;
    ASSERT_TRUE(m.spl_SplitEvenParts(4, 2, kIfChanged, kResetExtras));  // C = 3, R = 1
    m.m_ColKnives[0].knobSize = 42;                 // splitter 0, segment row 0
    m.m_RowKnives[0].thickness = 9;                 // row splitter 0, segment 0
    m.m_Knots[1].dx = 0.7f;                         // knot (0, 1)
    ASSERT_TRUE(m.i_op_AddAuxKnifeToKnots(1, 8));
    m.cutter.knob = 80;

    ASSERT_TRUE(m.op_InsertRCAt(kColumn, 0.05));
    EXPECT_EQ(m.m_nColSplitters, 4);
    EXPECT_FLOAT_EQ(m.m_ColSplitters[0], 0.05f);
    EXPECT_FLOAT_EQ(m.m_ColSplitters[1], 0.25f);
    EXPECT_EQ(m.cutter.columnsSet, 5u);
    EXPECT_EQ(m.m_ColKnives[0].knobSize, 80u);  // new: from the editor
    EXPECT_EQ(m.m_ColKnives[1].knobSize, 42u);  // the old one, one to the right
    EXPECT_EQ(m.m_RowKnives[0].thickness, 3u);  // the split segment is new
    EXPECT_EQ(m.m_RowKnives[1].thickness, 9u);
    EXPECT_EQ(m.m_Knots[1].dx, 0.0f);  // the new knot line
    EXPECT_EQ(m.m_Knots[2].dx, 0.7f);
    EXPECT_EQ(m.m_AuxKnives[0].knotA, 2u);
    EXPECT_EQ(m.m_AuxKnives[0].knotB, 10u);

    Model full;
    ASSERT_TRUE(full.spl_SplitEvenParts(100, 1, kIfChanged, kResetExtras));  // 99 splitters
    EXPECT_FALSE(full.op_InsertRCAt(kColumn, 0.5));
    EXPECT_EQ(full.m_nColSplitters, 99);
    m.cutter.open = false;
    EXPECT_FALSE(m.op_InsertRCAt(kRow, 0.5));
}

TEST(AppOps, DeleteTheOnlyRowSplitter)
{
    Model m;
    m.m_KnotRandomness = 0.0f;
    ASSERT_TRUE(m.spl_SplitEvenParts(3, 2, kIfChanged, kResetExtras));  // C = 2, R = 1, stride 4
    ASSERT_TRUE(m.i_op_AddAuxKnifeToKnots(0, 6));   // ends on the deleted row
    ASSERT_TRUE(m.i_op_AddAuxKnifeToKnots(1, 10));  // bottom row: kept
    m.m_ColKnives[3].knobSize = 33;                 // below the splitter, column 1
    m.m_Knots[9].dy = -0.5f;
    ASSERT_TRUE(m.op_DeleteRC(kRow, 0));
    EXPECT_EQ(m.m_nRowSplitters, 0);
    ASSERT_EQ(m.m_nAuxKnives, 1u);
    EXPECT_EQ(m.m_AuxKnives[0].knotA, 1u);
    EXPECT_EQ(m.m_AuxKnives[0].knotB, 6u);
    EXPECT_EQ(m.m_ColKnives[1].knobSize, 33u);  // the merged segment keeps the lower knife
    EXPECT_EQ(m.m_Knots[5].dy, -0.5f);
    EXPECT_EQ(m.cutter.rowsSet, 1u);
    EXPECT_FALSE(m.op_DeleteRC(kRow, 0));
}

TEST(AppOps, CentringAndArrangingSplitters)
{
    Model m;
    ASSERT_TRUE(m.spl_SplitEvenParts(4, 1, kIfChanged, kResetExtras));  // 0.25, 0.5, 0.75
    m.op_CenterSplitingHandle(kColumnSplitter, 5, kNoRedraw);
    EXPECT_TRUE(m.UndoEmpty());
    m.m_ColSplitters[1] = 0.3f;
    m.op_CenterSplitingHandle(kColumnSplitter, 1, kNoRedraw);
    EXPECT_FLOAT_EQ(m.m_ColSplitters[1], 0.5f);
    m.op_CenterSplitingHandle(kColumnSplitter, 1, kNoRedraw);  // already centred: nothing to undo
    m.m_ColSplitters[2] = 0.9f;
    m.op_CenterSplitingHandle(kColumnSplitter, 2, kNoRedraw);
    EXPECT_FLOAT_EQ(m.m_ColSplitters[2], 0.75f);
    m.m_ColSplitters[0] = 0.1f;
    m.op_ArrangeSplitingHandles(kColumnSplitter, kNoRedraw);
    EXPECT_FLOAT_EQ(m.m_ColSplitters[0], 0.25f);
    EXPECT_EQ(m.UndoKind(), CWnd_Main::CMUNDO_SPLITTERS);
    m.uncm_Restore();
    EXPECT_FLOAT_EQ(m.m_ColSplitters[0], 0.1f);
}

TEST(AppOps, EditorRowsAndColumns)
{
    Model m;
    ASSERT_TRUE(m.spl_SplitEvenParts(3, 3, kIfChanged, kResetExtras));
    CWnd_Main::settings_SetDefaultKnife(&m.m_ColKnives[0]);
    m.m_ColKnives[0].U[0] = 0.1f;
    // Nothing changed: no refill, no step.
    m.OnCutterUpdateRowsCols(CWnd_Main::kNone, CWnd_Main::kNone);
    m.OnCutterUpdateRowsCols(3, 3);
    EXPECT_TRUE(m.UndoEmpty());
    EXPECT_EQ(m.m_ColKnives[0].U[0], 0.1f);
    // Only the columns change; every new knife takes the editor's shape.
    m.OnCutterUpdateRowsCols(CWnd_Main::kNone, 5);
    EXPECT_EQ(m.m_nColSplitters, 4);
    EXPECT_EQ(m.m_nRowSplitters, 2);
    EXPECT_FALSE(m.UndoEmpty());
    for (uint32_t i = 0; i < m.m_nRowKnives; ++i)
        EXPECT_EQ(m.m_RowKnives[i].nodeCount, 5u);
}
