// The automatic tilings: grid sizes, margins, splitter patterns and knives.
#include "app_fixture.h"

#include <gtest/gtest.h>

#include <cmath>

using app_test::Model;

TEST(AppAutoLayout, TrianglesGrid)
{
    Model m;
    m.AutoLayout_Triangles(4, 6, 0);
    EXPECT_EQ(m.m_nColSplitters, 6);
    EXPECT_EQ(m.m_nRowSplitters, 3);
    m.AutoLayout_Triangles(200, 200, 0);
    EXPECT_EQ(m.m_nColSplitters, 97);
    EXPECT_EQ(m.m_nRowSplitters, 97);
    EXPECT_EQ(m.cutter.columnsSet, 98u);
    EXPECT_EQ(m.cutter.rowsShown, 98u);
}

TEST(AppAutoLayout, OneTriangle)
{
    Model m;
    m.AutoLayout_Triangles(1, 1, 0);  // knots 3 x 2: one triangle on the top middle knot
    ASSERT_EQ(m.m_nAuxKnives, 2u);
    EXPECT_EQ(m.m_AuxKnives[0].knotA, 1u);
    EXPECT_EQ(m.m_AuxKnives[0].knotB, 3u);
    EXPECT_EQ(m.m_AuxKnives[1].knotB, 5u);
    for (uint32_t i = 0; i < m.m_nColKnives; ++i)
        EXPECT_TRUE(m.m_ColKnives[i].off);
    // The tiling's knives are selected and shaped by the editor.
    EXPECT_TRUE(m.m_AuxKnives[0].knife.selected);
    EXPECT_EQ(m.m_AuxKnives[1].knife.nodeCount, 5u);
    EXPECT_FALSE(m.UndoEmpty());
    EXPECT_EQ(m.UndoSub(), CWnd_Main::CMSUB_NEWLAYOUT);
}

TEST(AppAutoLayout, FlatHexagonSplitters)
{
    Model m;
    m.AutoLayout_Hexagons(3, 2, 0);
    ASSERT_EQ(m.m_nColSplitters, 4);
    ASSERT_EQ(m.m_nRowSplitters, 3);
    const float d = float(1.0 / 3.5);
    EXPECT_NEAR(m.m_ColSplitters[0], d / 2, 1e-6);
    EXPECT_NEAR(m.m_ColSplitters[1], 1.5 * d, 1e-6);
    EXPECT_NEAR(m.m_ColSplitters[2], 2 * d, 1e-6);
    EXPECT_NEAR(m.m_ColSplitters[3], 3 * d, 1e-6);
    EXPECT_GT(m.m_nAuxKnives, 0u);
    // Flat sides are row knives turned back on; every knife that is on is selected.
    uint32_t on = 0;
    for (uint32_t i = 0; i < m.m_nRowKnives; ++i) {
        on += !m.m_RowKnives[i].off;
        EXPECT_EQ(m.m_RowKnives[i].selected, !m.m_RowKnives[i].off);
    }
    EXPECT_GT(on, 0u);
    for (uint32_t i = 0; i < m.m_nAuxKnives; ++i)
        EXPECT_TRUE(m.i_cmop_IsPossibleKnotsForAuxKnife(m.m_AuxKnives[i].knotA, m.m_AuxKnives[i].knotA + 1) ||
                    m.m_AuxKnives[i].knotA < m.m_nKnots);
}

TEST(AppAutoLayout, RegularPointedHexagonsOnASquare)
{
    Model m(600, 600);
    m.AutoLayout_Hexagons_R(2, 2, 1);
    EXPECT_EQ(m.m_nColSplitters, 4);
    EXPECT_EQ(m.m_nRowSplitters, 4);
    const double ah = 600.0 / 3.5;
    const double margin = (600.0 - ah * 3 * std::sin(1.0471975511965976)) / 2 / 600.0;
    EXPECT_NEAR(m.m_ColSplitters[0], margin, 1e-6);
    EXPECT_NEAR(m.m_ColSplitters[3], 1.0 - margin, 1e-6);
    EXPECT_NEAR(m.m_ColSplitters[1], margin + (1 - 2 * margin) / 3, 1e-6);
    const float d = float(1.0 / 3.5);
    EXPECT_NEAR(m.m_RowSplitters[0], d / 2, 1e-6);
    EXPECT_NEAR(m.m_RowSplitters[1], 1.5 * d, 1e-6);
    // No knife starts in the margin column.
    for (uint32_t i = 0; i < m.m_nAuxKnives; ++i) {
        EXPECT_NE(m.m_AuxKnives[i].knotA % m.m_nKnotCols, 0u);
        EXPECT_NE(m.m_AuxKnives[i].knotB % m.m_nKnotCols, 0u);
    }
    EXPECT_GT(m.m_nAuxKnives, 0u);
}

TEST(AppAutoLayout, RegularTrianglesKeepTilesEquilateral)
{
    Model m(1000, 300);
    m.AutoLayout_Triangles(2, 4, 1);
    // Wide image: side from the height, horizontal margins.
    ASSERT_EQ(m.m_nColSplitters, 6);
    const double s = 300.0 / (std::sin(1.0471975511965976) * 2);
    const double margin = (1000.0 - s * 5 / 2.0) / 2 / 1000.0;
    EXPECT_NEAR(m.m_ColSplitters[0], margin, 1e-6);
    EXPECT_NEAR(m.m_ColSplitters[5], 1 - margin, 1e-6);
    const double step = (m.m_ColSplitters[2] - m.m_ColSplitters[1]) * 1000.0;
    EXPECT_NEAR(step, s / 2, 1e-3);
}
