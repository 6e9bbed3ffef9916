// The layout model: sizing, knot positions, progress mapping, the stored
// form of the effect record, and the knife lines.
#include "engine/Tessolo.h"
#include "engine_test_util.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

using namespace engine_test;

TEST(EngineModel, InitSizesTheLayout)
{
    CTessolo e;
    ASSERT_TRUE(e.Init(1, 1, 0));
    EXPECT_EQ(e.m_nInnerColumns, 0);
    EXPECT_EQ(e.m_nKnots, 4u);
    EXPECT_EQ(e.m_nVKnives, 0u);
    EXPECT_EQ(e.m_nHKnives, 0u);

    ASSERT_TRUE(e.Init(150, 2, 0));
    EXPECT_EQ(e.m_nInnerColumns, 100);
    EXPECT_EQ(e.m_nKnotColumns, 102);
    EXPECT_EQ(e.m_nKnotRows, 3);
    EXPECT_EQ(e.m_nVKnives, 100u * 2u);
    EXPECT_EQ(e.m_nVKnivesPerRow, 100);
    EXPECT_EQ(e.m_nHKnives, 101u);

    ASSERT_TRUE(e.Init(0, 0, 0));
    EXPECT_EQ(e.m_nKnots, 4u);

    ASSERT_TRUE(e.Init(4, 3, 2));
    e.m_fColumnGuides[0] = 0.3f;
    e.m_pKnots[3].dx = 0.5f;
    e.m_pVKnives[0].nodes = 7;
    e.m_pFreeKnives[1].knotB = 9;
    // Too many free knives: refused, nothing changed.
    EXPECT_FALSE(e.Init(5, 5, 20001));
    EXPECT_EQ(e.m_nInnerColumns, 3);
    EXPECT_EQ(e.m_fColumnGuides[0], 0.3f);
    EXPECT_EQ(e.m_pKnots[3].dx, 0.5f);
    EXPECT_EQ(e.m_pVKnives[0].nodes, 7u);
    EXPECT_EQ(e.m_nFreeKnives, 2u);

    ASSERT_TRUE(e.Init(5, 5, 20000));
    EXPECT_EQ(e.m_nFreeKnives, 20000u);
    // A new layout starts clear, even where a larger one was before.
    ASSERT_TRUE(e.Init(4, 3, 2));
    EXPECT_EQ(e.m_fColumnGuides[0], 0.0f);
    EXPECT_EQ(e.m_pKnots[3].dx, 0.0f);
    EXPECT_EQ(e.m_pVKnives[0].nodes, 0u);
    EXPECT_EQ(e.m_pFreeKnives[1].knotB, 0u);
}

TEST(EngineModel, KnotPositions)
{
    CTessolo e;
    ASSERT_TRUE(e.Init(3, 2, 0));  // guides: two columns, one row
    e.m_fColumnGuides[0] = 0.25f;
    e.m_fColumnGuides[1] = 0.75f;
    e.m_fRowGuides[0] = 0.5f;
    auto knot = [&](uint32_t c, uint32_t r) -> CTessolo::KNOT& { return e.m_pKnots[r * e.m_nKnotColumns + c]; };

    // Border knots stay on the border whatever their offsets say.
    knot(0, 1).dx = 0.5f;
    EXPECT_EQ(e.i_ConvertKnot(0, 1, 200, 100).x, 0.0);
    knot(3, 1).dx = -0.5f;
    EXPECT_EQ(e.i_ConvertKnot(3, 1, 200, 100).x, 200.0);
    knot(1, 0).dy = 0.7f;
    EXPECT_EQ(e.i_ConvertKnot(1, 0, 200, 100).y, 0.0);
    EXPECT_EQ(e.i_ConvertKnot(1, 2, 200, 100).y, 100.0);

    // First inner column: -1 lands on the left edge, +1 on the next guide.
    knot(1, 1).dx = -1.0f;
    EXPECT_DOUBLE_EQ(e.i_ConvertKnot(1, 1, 200, 100).x, 0.0);
    knot(1, 1).dx = 1.0f;
    EXPECT_DOUBLE_EQ(e.i_ConvertKnot(1, 1, 200, 100).x, 150.0);
    // Last inner column: +0.5 goes half way to the right edge.
    knot(2, 1).dx = 0.5f;
    EXPECT_DOUBLE_EQ(e.i_ConvertKnot(2, 1, 200, 100).x, 175.0);
    knot(2, 1).dy = -0.5f;
    EXPECT_DOUBLE_EQ(e.i_ConvertKnot(2, 1, 200, 100).y, 25.0);
    // A single index: column n mod 4, row n div 4.
    EXPECT_DOUBLE_EQ(e.i_ConvertKnot(6u, 200, 100).x, 175.0);
    EXPECT_DOUBLE_EQ(e.i_ConvertKnot(6u, 200, 100).y, 25.0);

    // Values that are not numbers or lie far outside stay inside the image.
    knot(1, 1).dx = std::numeric_limits<float>::quiet_NaN();
    EXPECT_DOUBLE_EQ(e.i_ConvertKnot(1, 1, 200, 100).x, 50.0);
    knot(1, 1).dx = 1e30f;
    EXPECT_DOUBLE_EQ(e.i_ConvertKnot(1, 1, 200, 100).x, 150.0);
    e.m_fRowGuides[0] = std::numeric_limits<float>::infinity();
    EXPECT_TRUE(std::isfinite(e.i_ConvertKnot(1, 1, 200, 100).y));
    // Outside the grid: the origin, never a read past the knots.
    EXPECT_EQ(e.i_ConvertKnot(99u, 200, 100).x, 0.0);
}

TEST(EngineModel, LocalProgressReportsOnlyChanges)
{
    CTessolo e;
    e.SetLocalProgress(50, 0, 100);  // no progress object: nothing
    ProbeProgress p;
    e.m_pProgress = &p;
    e.SetLocalProgress(0, 20, 60);
    e.SetLocalProgress(1, 20, 60);  // 20.4: the same byte
    e.SetLocalProgress(50, 20, 60);
    e.SetLocalProgress(100, 20, 60);
    e.SetLocalProgress(99.9, 20, 60);  // 59.96 -> 59
    EXPECT_EQ(p.reports, (std::vector<int>{20, 40, 60, 59}));
    ProbeProgress q;
    e.m_pProgress = &q;  // a new listener hears the first report
    e.SetLocalProgress(99.9, 20, 60);
    EXPECT_EQ(q.reports, (std::vector<int>{59}));
}

TEST(EngineModel, EffectRecordStoredBytes)
{
    CTessolo e;
    CTessolo::SFX_ONEPIECE r = e.DefaultOnePiece();
    r.brightnessContrast = {1, -5, 7};
    r.hsl = {1, 0, -180, -100, 100};
    r.imageOverlay.layerId = -2;
    r.bevel.depth = 999;
    r.stroke.color.black = 0x42;
    r.selected = 1;
    r.row = 101;
    r.column = 3;
    uint8_t b[92];
    r.StoreLE(b);
    EXPECT_EQ(b[0], 1);
    EXPECT_EQ(b[1], 0xFB);
    EXPECT_EQ(b[2], 7);
    EXPECT_EQ(b[4], 1);  // bevel on by default
    // The default light vector, little-endian.
    const float lx = -0.46829286f;
    uint32_t bitsX;
    std::memcpy(&bitsX, &lx, 4);
    EXPECT_EQ(b[8], uint8_t(bitsX));
    EXPECT_EQ(b[11], uint8_t(bitsX >> 24));
    EXPECT_EQ(b[20], 191);
    EXPECT_EQ(b[21], 255);
    EXPECT_EQ(b[29], 191);
    EXPECT_EQ(b[37], 255);  // shadow black plane value
    EXPECT_EQ(b[38], 2);
    EXPECT_EQ(b[40], 999 & 0xFF);
    EXPECT_EQ(b[41], 999 >> 8);
    EXPECT_EQ(b[47], 255);  // overlay opacity
    EXPECT_EQ(b[48], 85);
    EXPECT_EQ(b[49], 255);
    EXPECT_EQ(b[57], 255);
    EXPECT_EQ(b[60], 0xFE);
    EXPECT_EQ(b[63], 0xFF);
    EXPECT_EQ(b[66], 3);
    EXPECT_EQ(b[74], 0x42);
    EXPECT_EQ(b[76], 1);
    EXPECT_EQ(b[78], uint8_t(-180 & 0xFF));
    EXPECT_EQ(b[79], uint8_t((-180 >> 8) & 0xFF));
    EXPECT_EQ(b[80], 0x9C);
    EXPECT_EQ(b[81], 100);
    EXPECT_EQ(b[83], 45);
    EXPECT_EQ(b[86], 255);
    EXPECT_EQ(b[88], 1);
    EXPECT_EQ(b[89], 1);
    EXPECT_EQ(b[90], 101);
    EXPECT_EQ(b[91], 3);
    const CTessolo::SFX_ONEPIECE back = CTessolo::SFX_ONEPIECE::LoadLE(b);
    uint8_t again[92];
    back.StoreLE(again);
    EXPECT_EQ(std::memcmp(b, again, 92), 0);
    EXPECT_EQ(back.hsl.hue, -180);
    EXPECT_EQ(back.imageOverlay.layerId, -2);
}

TEST(EngineModel, RecordsMoveBetweenAppliedAndRequested)
{
    CTessolo e;
    Load(e, 2, 1, true, false);
    TestImage img(40, 20, 3);
    ASSERT_TRUE(e.SplitCells(40, 20, nullptr, 0, img.Planes(), 40, 3, 0, 100, 0));
    ASSERT_EQ(e.m_nPieces, 2u);
    CTessolo::SPLITEDCELL& p = e.m_pPieces[1];
    p.gaussianBlur[CTessolo::FX_APPLIED] = {1, 9};
    p.selected = 1;
    const CTessolo::SFX_ONEPIECE r = CTessolo::MakeOnePiece(p);
    EXPECT_EQ(r.gaussianBlur.radius, 9);
    EXPECT_EQ(r.selected, 1);
    EXPECT_EQ(r.shown, 1);
    EXPECT_EQ(r.column, 2);
    EXPECT_EQ(r.row, 1);
    CTessolo::SPLITEDCELL& q = e.m_pPieces[0];
    CTessolo::PutOnePieceRequested(r, q);
    EXPECT_EQ(q.gaussianBlur[CTessolo::FX_REQUESTED].radius, 9);
    EXPECT_EQ(q.gaussianBlur[CTessolo::FX_APPLIED].radius, 0);
    EXPECT_EQ(q.selected, 0);  // the flags stay the piece's own
}

TEST(EngineModel, KnifeLines)
{
    Knife straight;
    CutMap m = EvenMap(2, 1, straight);
    m.razor = 1;
    m.antiAlias = 0;
    CTessolo e;
    Load(e, m);
    std::vector<uint8_t> plane(40 * 10, 7);
    ASSERT_TRUE(e.DrawSplitting(40, 10, plane.data(), 40, 0, 100));
    for (int32_t y = 0; y < 10; ++y)
        for (int32_t x = 0; x < 40; ++x)
            EXPECT_EQ(plane[size_t(y) * 40 + x], x == 20 ? 255 : 0) << x << "," << y;

    // Off, too many nodes, or a free knife between knots outside the grid:
    // nothing drawn.
    e.m_pVKnives[0].nodes = CTessolo::kKnifeOff;
    ASSERT_TRUE(e.DrawSplitting(40, 10, plane.data(), 40, 0, 100));
    EXPECT_EQ(std::count(plane.begin(), plane.end(), 0), 400);
    e.m_pVKnives[0].nodes = 65;
    ASSERT_TRUE(e.DrawSplitting(40, 10, plane.data(), 40, 0, 100));
    EXPECT_EQ(std::count(plane.begin(), plane.end(), 0), 400);
    ASSERT_TRUE(e.Init(2, 1, 1));
    e.m_pVKnives[0].nodes = CTessolo::kKnifeOff;
    e.m_pFreeKnives[0].knotA = 0;
    e.m_pFreeKnives[0].knotB = 1000;
    ASSERT_TRUE(e.DrawSplitting(40, 10, plane.data(), 40, 0, 100));
    EXPECT_EQ(std::count(plane.begin(), plane.end(), 0), 400);

    // Lines mode draws the knife's own width, anti-aliased with smooth on.
    m.razor = 0;
    m.antiAlias = 1;
    m.columnKnives[0].thickness = 5;
    Load(e, m);
    ASSERT_TRUE(e.DrawSplitting(40, 10, plane.data(), 40, 0, 100));
    int full = 0, partial = 0;
    for (uint8_t v : plane) {
        full += v == 255;
        partial += v > 0 && v < 255;
    }
    EXPECT_GE(full, 4 * 10);
    EXPECT_GT(partial, 0);

    // Hostile node values draw within the plane and end.
    m.columnKnives[0] = DefaultKnife();
    Load(e, m);
    e.m_pVKnives[0].H[2] = std::numeric_limits<float>::infinity();
    e.m_pVKnives[0].U[1] = std::numeric_limits<float>::quiet_NaN();
    EXPECT_TRUE(e.DrawSplitting(40, 10, plane.data(), 40, 0, 100));

    EXPECT_FALSE(e.DrawSplitting(40, 10, nullptr, 40, 0, 100));
    EXPECT_FALSE(e.DrawSplitting(0, 10, plane.data(), 40, 0, 100));
}
