// Splitting into pieces, as callers use it: selections, nearest centres,
// progress and cancel, refused arguments, appending, and an engine reused
// from cut to cut.
#include "core/2DMath.h"
#include "engine/Tessolo.h"
#include "engine_test_util.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <random>

using namespace engine_test;

TEST(EngineSplit, EmptySelectionMakesNoPieces)
{
    for (bool cut : {true, false}) {
        CTessolo e;
        Load(e, 3, 2, cut, true);
        TestImage img(50, 40, 3);
        std::vector<uint8_t> sel(50 * 40, 0);
        ASSERT_TRUE(e.SplitCells(50, 40, sel.data(), 50, img.Planes(), 50, 3, 0, 100, 1));
        EXPECT_EQ(e.m_nPieces, 0u);
    }
}

TEST(EngineSplit, SelectionRestrictsAndScalesThePieces)
{
    CTessolo e;
    Load(e, 2, 2, true, false);
    const int32_t w = 60, h = 40;
    TestImage img(w, h, 3);
    std::vector<uint8_t> sel(size_t(w) * h, 0);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < 20; ++x)
            sel[size_t(y) * w + x] = 128;
    ASSERT_TRUE(e.SplitCells(w, h, sel.data(), w, img.Planes(), w, 3, 0, 100, 0));
    ASSERT_EQ(e.m_nPieces, 2u);
    for (uint32_t i = 0; i < 2; ++i) {
        const auto& p = e.m_pPieces[i];
        EXPECT_EQ(p.left, 0);
        EXPECT_LE(p.right, 20);
        EXPECT_EQ(p.selection, sel.data() + size_t(p.top) * w + p.left);
        for (uint32_t k = 0; k < uint32_t(p.Width() * p.Height()); ++k)
            EXPECT_TRUE(p.mask->GetPtr()[k] == 0 || p.mask->GetPtr()[k] == 128);
    }
}

TEST(EngineSplit, PiecesTakeTheNearestCellCentre)
{
    CTessolo e;
    Load(e, 3, 2, true, true);
    TestImage img(90, 60, 1);
    ASSERT_TRUE(e.SplitCells(90, 60, nullptr, 0, img.Planes(), 90, 1, 0, 100, 0));
    ASSERT_EQ(e.m_nPieces, 6u);
    for (uint32_t i = 0; i < 6; ++i) {
        const auto& p = e.m_pPieces[i];
        EXPECT_EQ(p.column, 1 + (p.left + p.right) / 2 / 30) << i;
        EXPECT_EQ(p.row, 1 + (p.top + p.bottom) / 2 / 30) << i;
    }

    // A cell whose diagonals do not cross (its four knots on one line) has
    // no centre: its piece takes the nearest other one.
    CTessolo f;
    Load(f, EvenMap(2, 1, Knife{}));
    // Squash the left cell: its inner knots move onto the left edge.
    f.m_fColumnGuides[0] = 0.0f;
    ASSERT_TRUE(f.SplitCells(90, 60, nullptr, 0, img.Planes(), 90, 1, 0, 100, 0));
    ASSERT_GE(f.m_nPieces, 1u);
    for (uint32_t i = 0; i < f.m_nPieces; ++i)
        EXPECT_EQ(f.m_pPieces[i].column, 2);
}

TEST(EngineSplit, BucketedCentreSearchEqualsThePlainScan)
{
    std::mt19937 rng(9);
    for (int round = 0; round < 20; ++round) {
        const uint32_t n = 1 + rng() % 300;
        std::vector<qntFPOS> centres(n);
        std::vector<qntPOS> cells(n);
        const bool grid = round % 2;
        for (uint32_t i = 0; i < n; ++i) {
            // Many exact ties on the grid rounds.
            centres[i] = grid ? qntFPOS{double(rng() % 8) * 10, double(rng() % 6) * 10}
                              : qntFPOS{double(rng() % 5000) / 7.0, double(rng() % 3000) / 3.0};
            cells[i] = qntPOS{int32_t(i % 101) + 1, int32_t(i / 101) + 1};
        }
        CTessolo e;
        std::vector<uint8_t> mask(200 * 150, 255);
        uint8_t* planes[1] = {mask.data()};
        for (int q = 0; q < 60; ++q) {
            const int32_t l = int32_t(rng() % 190), t = int32_t(rng() % 140);
            const int32_t r = l + 1 + int32_t(rng() % (200 - l)), b = t + 1 + int32_t(rng() % (150 - t));
            ASSERT_TRUE(e.i_AddRectToSplitedCellsStorage(mask.data(), 200, 150, qntRECT_s{l, t, r, b}, 0, planes,
                                                         200, 1, nullptr, 0, centres.data(), cells.data(), n));
            const double cx = (l + r) / 2.0, cy = (t + b) / 2.0;
            double best = 1e10;
            qntPOS want{1, 1};
            for (uint32_t i = 0; i < n; ++i) {
                const double dx = centres[i].x - cx, dy = centres[i].y - cy;
                const double d = dx * dx + dy * dy;
                if (d < best) {
                    best = d;
                    want = cells[i];
                }
            }
            const auto& p = e.m_pPieces[e.m_nPieces - 1];
            ASSERT_EQ(p.column, want.x) << round << "/" << q;
            ASSERT_EQ(p.row, want.y) << round << "/" << q;
        }
    }
}

TEST(EngineSplit, ProgressStaysInsideTheCallersRangeAndCancelStops)
{
    for (bool smooth : {true, false}) {
        CTessolo e;
        Load(e, 3, 3, true, smooth);
        TestImage img(60, 45, 3);
        ProbeProgress probe;
        e.m_pProgress = &probe;
        ASSERT_TRUE(e.SplitCells(60, 45, nullptr, 0, img.Planes(), 60, 3, 7, 60, 1));
        ASSERT_FALSE(probe.reports.empty());
        EXPECT_EQ(probe.reports.front(), 7);
        EXPECT_EQ(probe.reports.back(), 60);
        EXPECT_TRUE(std::is_sorted(probe.reports.begin(), probe.reports.end()));
        EXPECT_EQ(std::adjacent_find(probe.reports.begin(), probe.reports.end()), probe.reports.end());
        const int queries = probe.queries;

        // A cancel at any query makes the split fail; pieces made so far
        // stay until FreeSpliting.
        for (int at = 1; at <= queries; at += std::max(1, queries / 40)) {
            ProbeProgress stop;
            stop.cancelAt = at;
            e.m_pProgress = &stop;
            ASSERT_TRUE(e.FreeSpliting());
            EXPECT_FALSE(e.SplitCells(60, 45, nullptr, 0, img.Planes(), 60, 3, 7, 60, 1)) << at;
            // Planes the split meant to render and did not are cleared
            // (their blocks may come from the last cut's pieces).
            for (uint32_t i = 0; i < e.m_nPieces; ++i) {
                const CTessolo::SPLITEDCELL& p = e.m_pPieces[i];
                ASSERT_TRUE(PlanesReadZero(p, e.m_nWorkPlaneCount)) << at << ", piece " << i;
            }
        }
        e.m_pProgress = nullptr;
    }
}

TEST(EngineSplit, ASplitThatRendersGivesThePlanesOfRenderingAfter)
{
    // The rendering split runs twice in one engine, the second time on the
    // first cut's blocks; the other splits and then renders every piece.
    for (bool smooth : {true, false}) {
        TestImage img(70, 50, 3, 2);
        CTessolo rendering, after;
        for (CTessolo* e : {&rendering, &after})
            Load(*e, 4, 3, true, smooth);
        for (int cut = 0; cut < 2; ++cut) {
            ASSERT_TRUE(rendering.FreeSpliting());
            ASSERT_TRUE(rendering.SplitCells(70, 50, nullptr, 0, img.Planes(), 70, 3, 0, 100, 1));
        }
        ASSERT_TRUE(after.SplitCells(70, 50, nullptr, 0, img.Planes(), 70, 3, 0, 100, 0));
        std::vector<uint32_t> all(after.m_nPieces);
        for (uint32_t i = 0; i < after.m_nPieces; ++i)
            all[i] = i;
        ASSERT_TRUE(after.RenderPieces(all.data(), after.m_nPieces));
        ASSERT_EQ(rendering.m_nPieces, after.m_nPieces);
        for (uint32_t i = 0; i < after.m_nPieces; ++i)
            EXPECT_EQ(RenderedBytes(after, after.m_pPieces[i]), RenderedBytes(rendering, rendering.m_pPieces[i]))
                << "smooth " << smooth << ", piece " << i;
    }
}

TEST(EngineSplit, NestedCallsFromAProgressAreRefused)
{
    CTessolo e;
    Load(e, 2, 2, true, true);
    TestImage img(40, 40, 3);
    ProbeProgress probe;
    int refused = 0;
    probe.onReport = [&]() {
        refused += !e.FreeSpliting();
        refused += !e.SplitCells(40, 40, nullptr, 0, img.Planes(), 40, 3, 0, 100, 0);
        refused += !e.RenderPiece(0);
        refused += !e.Init(5, 5, 0);
        std::vector<uint8_t> plane(40 * 40);
        refused += !e.DrawSplitting(40, 40, plane.data(), 40, 0, 100);
    };
    e.m_pProgress = &probe;
    ASSERT_TRUE(e.SplitCells(40, 40, nullptr, 0, img.Planes(), 40, 3, 0, 100, 1));
    e.m_pProgress = nullptr;
    EXPECT_EQ(refused, int(probe.reports.size()) * 5);
    EXPECT_EQ(e.m_nPieces, 4u);
}

TEST(EngineSplit, RefusesBadArguments)
{
    CTessolo e;
    Load(e, 2, 2, true, true);
    TestImage img(20, 20, 3);
    EXPECT_FALSE(e.SplitCells(0, 20, nullptr, 0, img.Planes(), 20, 3, 0, 100, 0));
    EXPECT_FALSE(e.SplitCells(20, -1, nullptr, 0, img.Planes(), 20, 3, 0, 100, 0));
    EXPECT_FALSE(e.SplitCells(20, 20, nullptr, 0, img.Planes(), 20, 2, 0, 100, 0));
    EXPECT_FALSE(e.SplitCells(20, 20, nullptr, 0, nullptr, 20, 3, 0, 100, 0));
    EXPECT_FALSE(e.SplitCells(20, 20, nullptr, 0, img.Planes(), 10, 3, 0, 100, 0));
    EXPECT_EQ(e.m_nPieces, 0u);
}

TEST(EngineSplit, AppendingKeepsEveryPieceRenderable)
{
    // Without FreeSpliting a second split appends; the first split's larger
    // pieces must still fit the work planes, and a split of another channel
    // count is refused.
    CTessolo e;
    Load(e, 1, 1, true, true);
    TestImage big(80, 60, 3);
    ASSERT_TRUE(e.SplitCells(80, 60, nullptr, 0, big.Planes(), 80, 3, 0, 100, 0));
    Load(e, 2, 2, true, true);
    TestImage small(20, 10, 3);
    ASSERT_TRUE(e.SplitCells(20, 10, nullptr, 0, small.Planes(), 20, 3, 0, 100, 0));
    ASSERT_EQ(e.m_nPieces, 5u);
    EXPECT_EQ(e.m_nLargestWidth, 80);
    NoEffects(e);
    for (uint32_t i = 0; i < e.m_nPieces; ++i)
        EXPECT_TRUE(e.RenderPiece(i));
    TestImage grey(20, 10, 1);
    EXPECT_FALSE(e.SplitCells(20, 10, nullptr, 0, grey.Planes(), 20, 1, 0, 100, 0));
    EXPECT_EQ(e.m_nPieces, 5u);
}

// An engine keeps its rasters and piece blocks from cut to cut: a cut after
// others, of larger and smaller pictures and other modes, gives exactly the
// pieces of a fresh engine.
TEST(EngineSplit, ACutAfterOtherCutsEqualsAFreshOne)
{
    struct Cut {
        int32_t w, h;
        uint16_t cols, rows;
        bool cut, smooth;
    };
    const Cut cuts[] = {{90, 70, 4, 3, true, true}, {50, 40, 2, 2, true, false}, {120, 80, 5, 3, true, true},
                        {60, 90, 3, 4, false, true}, {90, 70, 4, 3, true, true}};
    CTessolo reused;
    for (const Cut& c : cuts) {
        TestImage img(c.w, c.h, 3);
        CTessolo fresh;
        for (CTessolo* e : {&reused, &fresh}) {
            ASSERT_TRUE(e->FreeSpliting());
            Load(*e, c.cols, c.rows, c.cut, c.smooth);
            ASSERT_TRUE(e->SplitCells(c.w, c.h, nullptr, 0, img.Planes(), uint32_t(c.w), 3, 0, 100, 1));
        }
        ASSERT_EQ(reused.m_nPieces, fresh.m_nPieces);
        for (uint32_t i = 0; i < fresh.m_nPieces; ++i) {
            const CTessolo::SPLITEDCELL& a = reused.m_pPieces[i];
            const CTessolo::SPLITEDCELL& b = fresh.m_pPieces[i];
            ASSERT_EQ(PlacedMask(a, c.w, c.h), PlacedMask(b, c.w, c.h)) << c.w << "x" << c.h << " piece " << i;
            const size_t n = size_t(b.Width()) * b.Height();
            for (uint8_t k = 0; k < 4; ++k)
                ASSERT_EQ(std::memcmp(a.planePtrs[k], b.planePtrs[k], n), 0) << "plane " << int(k) << " piece " << i;
        }
    }
}
