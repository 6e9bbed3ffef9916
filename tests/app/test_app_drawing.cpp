// Drawing the cut map into the overlay images: line widths with zoom and
// razor cut, faint knives that are off, knot markers, knob scaling and the
// ruler handles.
#include "app_fixture.h"

#include <gtest/gtest.h>

#include <cmath>

using app_test::Model;

namespace {

uint8_t Alpha(const CQNF_Image& img, int x, int y) { return img.GetPlane(3)[y * img.GetImageWidth() + x]; }

// An image of w x h shown at a zoom step in a 200 x 100 preview; one column
// splitter in the middle and straight knives.
void ShowGrid(Model& m, uint8_t zoom = 4)
{
    m.m_KnotRandomness = 0.0f;
    ASSERT_TRUE(m.spl_SplitEvenParts(2, 1, kForce, kResetExtras));
    ASSERT_TRUE(m.SetView(qntRECT_s{10, 20, 210, 120}, qntRECT_s{10, 10, 210, 20}, qntRECT_s{0, 20, 10, 120}, zoom, 0,
                          0));
}

}  // namespace

TEST(AppDrawing, LineWidthFollowsZoomAndRazorCut)
{
    Model m(200, 100);
    ShowGrid(m);
    EXPECT_GT(Alpha(m.m_KnivesLayer, 100, 50), 0);
    EXPECT_EQ(Alpha(m.m_KnivesLayer, 102, 50), 0);  // razor cut: one pixel
    EXPECT_EQ(Alpha(m.m_KnivesLayer, 50, 50), 0);

    m.m_bRazorCut = 0;
    m.m_ColKnives[0].thickness = 9;
    m.DoRedrawOverlay();
    EXPECT_GT(Alpha(m.m_KnivesLayer, 103, 50), 0);
    EXPECT_EQ(Alpha(m.m_KnivesLayer, 106, 50), 0);

    // Thickness 3 at zoom step 6 is 12 pixels wide.
    Model z(50, 25);
    ShowGrid(z, 6);
    z.m_bRazorCut = 0;
    z.DoRedrawOverlay();
    EXPECT_GT(Alpha(z.m_KnivesLayer, 105, 50), 0);
    EXPECT_GT(Alpha(z.m_KnivesLayer, 95, 50), 0);
    EXPECT_EQ(Alpha(z.m_KnivesLayer, 108, 50), 0);
    EXPECT_FLOAT_EQ(z.m_ColKnives[0].length, 100.0f);
}

TEST(AppDrawing, OffAndSelectedKnives)
{
    Model m(200, 100);
    ShowGrid(m);
    m.m_ColKnives[0].off = 1;
    m.DoRedrawOverlay();
    const uint8_t faint = Alpha(m.m_KnivesLayer, 100, 50);
    EXPECT_GT(faint, 0);
    EXPECT_LE(faint, 70);
    m.m_ColKnives[0].off = 0;
    m.m_ColKnives[0].selected = 1;
    m.DoRedrawOverlay();
    EXPECT_TRUE(m.m_bSelKnivesLayerVisible);
    EXPECT_EQ(Alpha(m.m_KnivesLayer, 100, 50), 0);
    EXPECT_GT(Alpha(m.m_SelKnivesLayer, 100, 50), 0);
}

TEST(AppDrawing, KnotMarkersOnlyWithExtras)
{
    Model m(200, 100);
    ShowGrid(m);
    EXPECT_EQ(m.m_nKnotMarkers, m.m_nKnots);
    uint32_t fixed = 0;
    for (uint32_t i = 0; i < m.m_nKnotMarkers; ++i)
        fixed += m.m_KnotMarkers[i].fixed;
    EXPECT_EQ(fixed, 4u);
    EXPECT_EQ(Alpha(m.m_OverlayLayer, 100, 2), 255);  // the marker of knot (0, 1)
    m.cmop_Extras(kHide, kRedraw);
    EXPECT_EQ(m.m_nKnotMarkers, 0u);
    EXPECT_FALSE(m.m_bOverlayLayerVisible);
}

TEST(AppDrawing, KnobSizeScalesAroundTheCentre)
{
    Model m(200, 100);
    ShowGrid(m);
    CWnd_Main::KNIFESTRUCT& k = m.m_ColKnives[0];
    k.nodeCount = 1;
    k.U[0] = 0.9f;
    k.H[0] = 0.2f;
    k.S[0] = 0.0f;
    k.centerU = 0.5f;
    k.knobSize = 50;
    m.DoRedrawOverlay();
    // The knife runs from (100, 0) down to (100, 100): U 0.7 and H 0.1 are
    // the point (90, 70) in preview pixels.
    ASSERT_GE(k.pointCount, 3u);
    const qntFPOS* pts = reinterpret_cast<const qntFPOS*>(k.points->GetPtr());
    double best = 1e9;
    for (uint32_t i = 0; i < k.pointCount; ++i)
        best = std::min(best, std::hypot(pts[i].x - 90.0, pts[i].y - 70.0));
    EXPECT_LT(best, 1.0);

    // A knife between coincident points draws nothing and keeps its polyline.
    const uint32_t count = k.pointCount;
    m.i_spl_DrawKnife(&k, qntFPOS{5, 5}, qntFPOS{5, 5});
    EXPECT_EQ(k.pointCount, count);
}

TEST(AppDrawing, RulerHandlesAndInsertionMapping)
{
    Model m(200, 100);
    ShowGrid(m);
    ASSERT_EQ(m.m_nColHandles, 1u);
    EXPECT_EQ(m.m_ColHandles[0].x, 100);
    EXPECT_EQ(Alpha(m.m_HSplitRulerImage, 100, 6), 255);
    EXPECT_TRUE(m.op_TestAllowRCInsertion(kColumn, 60, 0));
    EXPECT_FALSE(m.op_TestAllowRCInsertion(kColumn, 10, 0));  // on the preview's edge
    ASSERT_TRUE(m.op_InsertRC(kColumn, 60, 0));
    EXPECT_FLOAT_EQ(m.m_ColSplitters[0], 0.25f);
    // Scrolled so that no splitter is in view: no handle.
    Model s(800, 100);
    ShowGrid(s);
    ASSERT_TRUE(s.SetView(qntRECT_s{10, 20, 210, 120}, qntRECT_s{10, 10, 210, 20}, qntRECT_s{0, 20, 10, 120}, 4, 600,
                          0));
    EXPECT_EQ(s.m_nColHandles, 0u);
}
