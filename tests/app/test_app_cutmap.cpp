// The cut map model: grid sizing, knot offsets and positions, knot index
// remapping, the extra knife rule, value queries, knife setting and hit tests.
#include "app_fixture.h"

#include <gtest/gtest.h>

#include <cmath>

using app_test::Model;
using app_test::ScriptedRandom;

TEST(AppCutMap, GridSizesAndLimits)
{
    Model m;
    ASSERT_TRUE(m.spl_SplitEvenParts(1, 1, kIfChanged, kResetExtras));
    EXPECT_EQ(m.m_nColSplitters, 0);
    EXPECT_EQ(m.m_nRowSplitters, 0);
    EXPECT_EQ(m.m_nKnots, 4u);
    EXPECT_EQ(m.GetKnifeCount(), 0u);

    ASSERT_TRUE(m.spl_SplitEvenParts(300, 5, kIfChanged, kResetExtras));
    EXPECT_EQ(m.m_nColSplitters, 100);
    EXPECT_EQ(m.m_nRowSplitters, 4);
    EXPECT_EQ(m.m_nKnots, 102u * 6u);
    EXPECT_EQ(m.m_nColKnives, 100u * 5u);
    EXPECT_EQ(m.m_nRowKnives, 101u * 4u);

    ASSERT_TRUE(m.spl_SplitEvenParts(4, 0, kIfChanged, kResetExtras));
    EXPECT_EQ(m.m_nRowSplitters, 0);
    EXPECT_FLOAT_EQ(m.m_ColSplitters[0], 0.25f);
    EXPECT_FLOAT_EQ(m.m_ColSplitters[1], 0.5f);
    EXPECT_FLOAT_EQ(m.m_ColSplitters[2], 0.75f);
    for (uint32_t i = 0; i < m.m_nColKnives; ++i) {
        EXPECT_EQ(m.m_ColKnives[i].knobSize, 100u);
        EXPECT_EQ(m.m_ColKnives[i].thickness, 3u);
        EXPECT_EQ(m.m_ColKnives[i].nodeCount, 0u);
    }
}

TEST(AppCutMap, SameCountsWithoutForceKeepShapesAndOffsets)
{
    Model m;
    m.m_KnotRandomness = 0.5f;
    ASSERT_TRUE(m.spl_SplitEvenParts(4, 3, kIfChanged, kResetExtras));
    CWnd_Main::settings_SetDefaultKnife(&m.m_ColKnives[2]);
    m.m_ColSplitters[0] = 0.1f;
    const float dx = m.m_Knots[5].dx;
    ASSERT_TRUE(m.spl_SplitEvenParts(4, 3, kIfChanged, kResetExtras));
    EXPECT_EQ(m.m_ColKnives[2].nodeCount, 5u);
    EXPECT_EQ(m.m_Knots[5].dx, dx);
    EXPECT_EQ(m.m_ColSplitters[0], 0.1f);
    ASSERT_TRUE(m.spl_SplitEvenParts(4, 3, kForce, kResetExtras));
    EXPECT_EQ(m.m_ColKnives[2].nodeCount, 0u);
    EXPECT_FLOAT_EQ(m.m_ColSplitters[0], 0.25f);
}

TEST(AppCutMap, KnotOffsetsFollowTheAmount)
{
    Model m;
    m.m_KnotRandomness = 0.5f;
    ASSERT_TRUE(m.spl_SplitEvenParts(5, 5, kIfChanged, kResetExtras));
    bool someNonZero = false;
    for (uint32_t i = 0; i < m.m_nKnots; ++i) {
        EXPECT_GE(m.m_Knots[i].dx, -0.5f);
        EXPECT_LE(m.m_Knots[i].dx, 0.5f);
        EXPECT_GE(m.m_Knots[i].dy, -0.5f);
        EXPECT_LE(m.m_Knots[i].dy, 0.5f);
        someNonZero = someNonZero || m.m_Knots[i].dx != 0.0f;
    }
    EXPECT_TRUE(someNonZero);

    // 0.001 is not more than 0.001: every offset becomes 0.
    m.m_KnotRandomness = 0.001f;
    m.spl_AutoFillKnots(kAllKnots);
    for (uint32_t i = 0; i < m.m_nKnots; ++i) {
        EXPECT_EQ(m.m_Knots[i].dx, 0.0f);
        EXPECT_EQ(m.m_Knots[i].dy, 0.0f);
    }

    // The extreme draws give exactly -a and +a.
    ScriptedRandom r;
    r.values = {0, 2147483647u};
    m.SetRandomSource(&r);
    m.m_KnotRandomness = 0.25f;
    m.spl_AutoFillKnots(kAllKnots);
    EXPECT_FLOAT_EQ(m.m_Knots[0].dx, -0.25f);
    EXPECT_FLOAT_EQ(m.m_Knots[0].dy, 0.25f);
}

TEST(AppCutMap, OnlyKnotsOfSelectedKnivesMove)
{
    Model m;
    ASSERT_TRUE(m.spl_SplitEvenParts(3, 3, kIfChanged, kResetExtras));  // C = R = 2, 4 x 4 knots
    for (uint32_t i = 0; i < m.m_nKnots; ++i)
        m.m_Knots[i].dx = 0.9f;
    m.m_ColKnives[0].selected = 1;  // knots (0, 1) and (1, 1)
    m.spl_OnKnifeSelChanged();
    m.m_KnotRandomness = 0.0f;
    m.spl_AutoFillKnots(kMarkedKnots);
    for (uint32_t i = 0; i < m.m_nKnots; ++i)
        EXPECT_EQ(m.m_Knots[i].dx, (i == 1 || i == 5) ? 0.0f : 0.9f) << "knot " << i;
}

TEST(AppCutMap, KnotPositionsStayBetweenNeighbours)
{
    Model m;
    m.m_KnotRandomness = 0.0f;
    ASSERT_TRUE(m.spl_SplitEvenParts(3, 1, kIfChanged, kResetExtras));  // splitters at 1/3 and 2/3
    const qntFPOS o{10.0, 0.0};
    m.m_Knots[2].dx = 1.0f;  // last splitter, towards the right border
    EXPECT_NEAR(m.i_spl_ConvertKnot(2, 0, 300.0, 100.0, o).x, 300.0 - 10.0, 1e-4);
    m.m_Knots[1].dx = -1.0f;  // first splitter, towards the left border
    EXPECT_NEAR(m.i_spl_ConvertKnot(1, 0, 300.0, 100.0, o).x, -10.0, 1e-4);
    m.m_Knots[1].dx = 0.5f;  // half-way to the next splitter
    EXPECT_NEAR(m.i_spl_ConvertKnot(1u, 300.0, 100.0, qntFPOS{0, 0}).x, 150.0, 1e-4);
    // The corners and borders ignore the offset across their border.
    m.m_Knots[4].dy = 1.0f;
    EXPECT_NEAR(m.i_spl_ConvertKnot(0, 1, 300.0, 100.0, qntFPOS{0, 0}).y, 100.0, 1e-9);
    EXPECT_EQ(m.i_spl_ConvertKnot(9, 9, 300.0, 100.0, qntFPOS{0, 0}).x, 0.0);
}

TEST(AppCutMap, KnotIndexAfterSplitterChanges)
{
    Model m;
    ASSERT_TRUE(m.spl_SplitEvenParts(3, 3, kIfChanged, kResetExtras));  // stride 4, 16 knots
    EXPECT_EQ(m.i_CovertKnotID(1, 0, 1, 0), -1);    // on the deleted column
    EXPECT_EQ(m.i_CovertKnotID(2, 0, 1, 0), 1);
    EXPECT_EQ(m.i_CovertKnotID(15, 0, 1, 0), 11);
    EXPECT_EQ(m.i_CovertKnotID(4, 0, 0, 0), -1);  // on the deleted row
    EXPECT_EQ(m.i_CovertKnotID(8, 0, 0, 0), 4);
    EXPECT_EQ(m.i_CovertKnotID(15, 1, 1, 1), 19);  // last knot of the wider grid
    EXPECT_EQ(m.i_CovertKnotID(15, 1, 0, 0), 19);  // last knot of the taller grid
    EXPECT_EQ(m.i_CovertKnotID(16, 1, 1, 0), -1);
}

TEST(AppCutMap, ExtraKnifeRule)
{
    Model m;
    ASSERT_TRUE(m.spl_SplitEvenParts(4, 2, kIfChanged, kResetExtras));  // C = 3: stride 5, 15 knots
    EXPECT_FALSE(m.i_cmop_IsPossibleKnotsForAuxKnife(4, 5));  // 4 ends its row, still refused
    EXPECT_FALSE(m.i_cmop_IsPossibleKnotsForAuxKnife(0, 5));  // vertical neighbours
    EXPECT_FALSE(m.i_cmop_IsPossibleKnotsForAuxKnife(3, 3));
    EXPECT_FALSE(m.i_cmop_IsPossibleKnotsForAuxKnife(0, 15));
    ASSERT_TRUE(m.i_cmop_IsPossibleKnotsForAuxKnife(0, 6));
    ASSERT_TRUE(m.i_op_AddAuxKnifeToKnots(0, 6));
    EXPECT_FALSE(m.i_cmop_IsPossibleKnotsForAuxKnife(6, 0));
    EXPECT_FALSE(m.i_op_AddAuxKnifeToKnots(0, 6));
    EXPECT_EQ(m.m_nAuxKnives, 1u);
    // The new knife took the editor's shape, knob size and thickness.
    EXPECT_EQ(m.m_AuxKnives[0].knife.nodeCount, 5u);
    EXPECT_EQ(m.m_AuxKnives[0].knotB, 6u);
}

TEST(AppCutMap, ThicknessAndKnobQueries)
{
    Model m;
    ASSERT_TRUE(m.spl_SplitEvenParts(1, 1, kIfChanged, kResetExtras));
    uint8_t mixed = 9;
    EXPECT_EQ(m.spl_DoGetKnobSize(kAllKnives, mixed), 100);
    EXPECT_EQ(mixed, 0);
    EXPECT_EQ(m.spl_DoGetKnifeThickness(kAllKnives, mixed), 1);

    ASSERT_TRUE(m.spl_SplitEvenParts(3, 1, kIfChanged, kResetExtras));
    m.m_ColKnives[0].knobSize = 50;
    m.m_ColKnives[0].selected = 1;
    m.m_ColKnives[1].selected = 1;
    m.spl_OnKnifeSelChanged();
    EXPECT_EQ(m.spl_DoGetKnobSize(kOnlySelected, mixed), 75);
    EXPECT_EQ(mixed, 1);
    m.m_ColKnives[1].knobSize = 50;
    EXPECT_EQ(m.spl_DoGetKnobSize(kOnlySelected, mixed), 50);
    EXPECT_EQ(mixed, 0);

    // Setters stay within what the settings block stores.
    m.spl_DoSetKnifeTh(1000, kNoRazorCut, kAllKnives);
    EXPECT_EQ(m.m_ColKnives[0].thickness, 255u);
    m.spl_DoSetKnobSize(0, kAllKnives);
    EXPECT_EQ(m.m_ColKnives[0].knobSize, 1u);
}

TEST(AppCutMap, SettingAKnifeFromTheEditor)
{
    Model m;
    ASSERT_TRUE(m.spl_SplitEvenParts(2, 1, kIfChanged, kResetExtras));
    ScriptedRandom low;
    low.values = {0};
    m.SetRandomSource(&low);
    CWnd_Main::KNIFESTRUCT& k = m.m_ColKnives[0];
    m.i_spl_SetKnife(&k, 0.5f, 0.5f, 0.5f, kAllNodes, kNoFlip, kNoFlip, kTakeSizes);  // amounts squared: 0.25
    ASSERT_EQ(k.nodeCount, 5u);
    EXPECT_EQ(low.draws, 15u);
    EXPECT_FLOAT_EQ(k.S[2], 0.25f);
    EXPECT_FLOAT_EQ(k.H[2], -0.297f - 0.125f);
    EXPECT_FLOAT_EQ(k.U[2], 0.5f - 0.125f);
    double mean = 0;
    for (int i = 0; i < 5; ++i)
        mean += k.U[i];
    EXPECT_NEAR(k.centerU, mean / 5, 1e-6);

    // H beyond the range every reader of the block keeps is clamped.
    ScriptedRandom high;
    high.values = {2147483647u};
    m.SetRandomSource(&high);
    m.cutter.shape.H[2] = 2.9;
    m.i_spl_SetKnife(&k, 0.0f, 1.0f, 0.0f, kAllNodes, kNoFlip, kNoFlip, kKeepSizes);
    EXPECT_EQ(k.H[2], 3.0f);

    // A flip along on unselected nodes mirrors and reverses them.
    CWnd_Main::KNIFESTRUCT& f = m.m_ColKnives[0];
    m.cutter.shape.nodeCount = 3;
    m.cutter.shape.U[0] = 0.2;
    m.cutter.shape.U[1] = 0.5;
    m.cutter.shape.U[2] = 0.9;
    m.i_spl_SetKnife(&f, 0, 0, 0, kOnlySelectedNodes, kNoFlip, kNoFlip, kKeepSizes);  // copies: node count changed
    m.i_spl_SetKnife(&f, 0, 0, 0, kOnlySelectedNodes, kFlip, kNoFlip, kKeepSizes);  // flip along, no node selected
    EXPECT_FLOAT_EQ(f.U[0], 0.1f);
    EXPECT_FLOAT_EQ(f.U[1], 0.5f);
    EXPECT_FLOAT_EQ(f.U[2], 0.8f);
    EXPECT_NEAR(f.centerU, (0.1 + 0.5 + 0.8) / 3, 1e-6);
}

TEST(AppCutMap, IdealCounts)
{
    Model m(300, 200);
    EXPECT_EQ(m.icGetIdealColumnsForRows(2), 3u);
    EXPECT_EQ(m.icGetIdealRowsForColumns(3), 2u);
    EXPECT_EQ(m.icGetIdealColumnsForRows(500), 100u);
    Model flat(300, 0);
    EXPECT_EQ(flat.icGetIdealColumnsForRows(4), 1u);
    Model thin(0, 300);
    EXPECT_EQ(thin.icGetIdealRowsForColumns(4), 1u);
}

TEST(AppCutMap, HitTestRadiusGrowsWithZoom)
{
    Model m(200, 200);
    m.m_KnotRandomness = 0.0f;
    ASSERT_TRUE(m.spl_SplitEvenParts(2, 1, kIfChanged, kResetExtras));  // one straight column knife at x = 100
    m.m_bRazorCut = 0;
    ASSERT_TRUE(m.SetView(qntRECT_s{0, 0, 200, 200}, qntRECT_s{0, 0, 0, 0}, qntRECT_s{0, 0, 0, 0}, 4, 0, 0));
    CQNF_DWordArray ids;
    EXPECT_TRUE(m.spl_GetKnifeByXY(104, 50, &ids));
    ASSERT_EQ(ids.GetSize(), 1u);
    EXPECT_EQ(ids[0], 0u);
    EXPECT_FALSE(m.spl_GetKnifeByXY(106, 50, &ids));

    // Zoom step 6: thickness 3 is 12 preview pixels, radius 6.
    Model z(50, 50);
    z.m_KnotRandomness = 0.0f;
    ASSERT_TRUE(z.spl_SplitEvenParts(2, 1, kIfChanged, kResetExtras));
    z.m_bRazorCut = 0;
    ASSERT_TRUE(z.SetView(qntRECT_s{0, 0, 200, 200}, qntRECT_s{0, 0, 0, 0}, qntRECT_s{0, 0, 0, 0}, 6, 0, 0));
    EXPECT_TRUE(z.spl_GetKnifeByXY(106, 50, &ids));
    EXPECT_FALSE(z.spl_GetKnifeByXY(107, 50, &ids));
}
