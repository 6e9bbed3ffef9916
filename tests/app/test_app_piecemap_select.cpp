// The piece map's selection paths and visibility on a real engine split.
#include "piecemap_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>

using pm_test::Split;

TEST(PieceMapSelect, HitTestFindsThePieceUnderAPointAndTheSplitterOnALine)
{
    Split razor(4, 3, 1);
    ASSERT_EQ(razor.Count(), 12u);
    for (uint32_t i = 0; i < razor.Count(); ++i)
        EXPECT_EQ(razor.map.GetPieceByXY(razor.Inside(i)), i);
    EXPECT_EQ(razor.map.GetPieceByXY(qntPOS{-1, 5}), CPieceMap::kNone);
    EXPECT_EQ(razor.map.pm_FirstAreaPiece(), 0u);

    Split lines(4, 3, 0);
    ASSERT_EQ(lines.map.pm_FirstAreaPiece(), 1u);
    // A point on the first column line (a quarter of the width, mid-row).
    const uint32_t hit = lines.map.GetPieceByXY(qntPOS{int32_t(lines.w / 4), int32_t(lines.h / 6)});
    EXPECT_EQ(hit, 0u);
}

TEST(PieceMapSelect, EveryPathSelectsTheRightPiecesAndPaintsTheMap)
{
    struct Case {
        const char* name;
        std::function<void(Split&)> run;
        std::function<std::vector<uint32_t>(Split&)> expected;
    };
    auto all = [](Split& s) {
        std::vector<uint32_t> v(s.Count());
        for (uint32_t i = 0; i < s.Count(); ++i)
            v[i] = i;
        return v;
    };
    const std::vector<Case> cases = {
        {"one piece", [](Split& s) { s.map.pmop_Sel_SetSelectionToPiece(5, 0, 0, 1); },
         [](Split&) { return std::vector<uint32_t>{5}; }},
        {"one piece replaces", [](Split& s) {
             s.map.pmop_Sel_SetSelectionToPiece(2, 0, 0, 0);
             s.map.pmop_Sel_SetSelectionToPiece(7, 0, 0, 1);
         },
         [](Split&) { return std::vector<uint32_t>{7}; }},
        {"add then remove", [](Split& s) {
             s.map.pmop_Sel_SetSelectionToPiece(2, 1, 0, 0);
             s.map.pmop_Sel_SetSelectionToPiece(7, 1, 0, 0);
             s.map.pmop_Sel_SetSelectionToPiece(2, 0, 1, 1);
         },
         [](Split&) { return std::vector<uint32_t>{7}; }},
        {"out of range ignored", [](Split& s) { s.map.pmop_Sel_SetSelectionToPiece(99, 0, 0, 1); },
         [](Split&) { return std::vector<uint32_t>{}; }},
        {"invert of none is all", [](Split& s) { s.map.pmop_Sel_InvertPiecesSelection(1); }, all},
        {"invert of some", [](Split& s) {
             s.map.pmop_Sel_SetSelectionToPiece(0, 1, 0, 0);
             s.map.pmop_Sel_InvertPiecesSelection(1);
         },
         [](Split& s) {
             std::vector<uint32_t> v;
             for (uint32_t i = 1; i < s.Count(); ++i)
                 v.push_back(i);
             return v;
         }},
        {"rectangle around one centre", [](Split& s) {
             const qntPOS p = s.Inside(6);
             s.map.pmop_Sel_SelectRect(qntRECT_s{p.x - 1, p.y - 1, p.x + 2, p.y + 2}, 0, 0, 1);
         },
         [](Split&) { return std::vector<uint32_t>{6}; }},
        {"rectangle across two centres", [](Split& s) {
             const qntPOS a = s.Inside(1), b = s.Inside(2);
             s.map.pmop_Sel_SelectRect(qntRECT_s{a.x, a.y, b.x + 1, a.y + 1}, 0, 0, 1);
         },
         [](Split&) { return std::vector<uint32_t>{1, 2}; }},
        {"rectangle off the image changes nothing", [](Split& s) {
             s.map.pmop_Sel_SetSelectionToPiece(3, 0, 0, 0);
             s.map.pmop_Sel_SelectRect(qntRECT_s{-50, -50, -10, -10}, 0, 0, 1);
         },
         [](Split&) { return std::vector<uint32_t>{3}; }},
        {"block from a piece to itself", [](Split& s) { s.map.pmop_Sel_PieceBlockSelection(0, 0, 5, 5, 1); },
         [](Split&) { return std::vector<uint32_t>{5}; }},
        {"block between corners", [](Split& s) {
             // Pieces 0 and 5 are the first two cells of a 4 x 3 grid's
             // diagonal: the block is the top-left 2 x 2 cells.
             s.map.pmop_Sel_PieceBlockSelection(0, 0, s.map.GetPieceByXY(s.Inside(0)),
                                                s.map.GetPieceByXY(s.Inside(5)), 1);
         },
         [](Split&) { return std::vector<uint32_t>{0, 1, 4, 5}; }},
        {"free region around one centre", [](Split& s) {
             const qntPOS a = s.Inside(4);
             const long xs[4] = {a.x - 2, a.x + 2, a.x + 2, a.x - 2};
             const long ys[4] = {a.y - 2, a.y - 2, a.y + 2, a.y + 2};
             s.map.pmop_Sel_SelectFreeRgn(xs, ys, 4, 0, 0, 1);
         },
         [](Split&) { return std::vector<uint32_t>{4}; }},
        {"free region of one point selects nothing", [](Split& s) {
             const qntPOS a = s.Inside(4);
             const long xs[1] = {a.x}, ys[1] = {a.y};
             s.map.pmop_Sel_SelectFreeRgn(xs, ys, 1, 0, 0, 1);
         },
         [](Split&) { return std::vector<uint32_t>{}; }},
        {"all hidden", [](Split& s) {
             s.Piece(3).shown = 0;
             s.Piece(8).shown = 0;
             s.map.pmop_Sel_AllHidenOrShown(1, 1);
         },
         [](Split&) { return std::vector<uint32_t>{3, 8}; }},
        {"all shown", [](Split& s) {
             s.Piece(3).shown = 0;
             s.map.pmop_Sel_AllHidenOrShown(0, 1);
         },
         [](Split& s) {
             std::vector<uint32_t> v;
             for (uint32_t i = 0; i < s.Count(); ++i)
                 if (i != 3)
                     v.push_back(i);
             return v;
         }},
    };
    for (const Case& c : cases) {
        Split s(4, 3, 1);
        c.run(s);
        EXPECT_EQ(s.Selected(), c.expected(s)) << c.name;
        EXPECT_EQ(s.selMap, s.ExpectedMap()) << c.name;
    }
}

TEST(PieceMapSelect, SelectAllPaintsTheAlphaAndInvertOfAllRedrawsOnlyQuickly)
{
    Split s(4, 3, 1);
    std::fill(s.alpha.begin(), s.alpha.begin() + 10, uint8_t(0));
    s.map.pmop_Sel_SelectAllPieces(1);
    EXPECT_EQ(s.Selected().size(), s.Count());
    for (size_t i = 0; i < s.selMap.size(); ++i)
        ASSERT_EQ(s.selMap[i], i < 10 ? 0 : 255) << i;
    EXPECT_EQ(s.map.previewRedraws, 1);
    s.map.pmop_Sel_InvertPiecesSelection(1);
    EXPECT_TRUE(s.Selected().empty());
    EXPECT_EQ(s.map.previewRedraws, 1);
    EXPECT_EQ(s.map.quickRedraws, 1);
    EXPECT_EQ(std::count(s.selMap.begin(), s.selMap.end(), 0), long(s.selMap.size()));
}

TEST(PieceMapSelect, AreaSelectionsSkipTheSplitterPieceWholeSelectionsDoNot)
{
    Split s(4, 3, 0);
    s.map.pmop_Sel_SelectRect(qntRECT_s{0, 0, int32_t(s.w), int32_t(s.h)}, 0, 0, 1);
    EXPECT_FALSE(s.Piece(0).selected);
    EXPECT_EQ(s.Selected().size(), s.Count() - 1);
    const long xs[4] = {0, long(s.w), long(s.w), 0}, ys[4] = {0, 0, long(s.h), long(s.h)};
    s.map.pmop_Sel_DeselectAllPieces(0);
    s.map.pmop_Sel_SelectFreeRgn(xs, ys, 4, 0, 0, 1);
    EXPECT_FALSE(s.Piece(0).selected);
    s.map.pmop_Sel_SelectSplitter(1, 1);
    EXPECT_TRUE(s.Piece(0).selected);
    EXPECT_EQ(s.Selected().size(), s.Count());
    s.map.pmop_Sel_SelectSplitter(0, 1);
    EXPECT_FALSE(s.Piece(0).selected);
    EXPECT_EQ(s.Selected().size(), s.Count() - 1);
    s.map.pmop_Sel_InvertPiecesSelection(0);
    EXPECT_EQ(s.Selected(), std::vector<uint32_t>{0});
}

TEST(PieceMapSelect, FreeRegionAgreesWithAPixelByPixelTest)
{
    // Random polygons: a piece is selected exactly when one of its pixels
    // lies inside the polygon; no piece is taken by its box alone.
    Split s(5, 4, 1, 100, 80);
    CQNF_SeededRandom pick(11);
    for (int round = 0; round < 25; ++round) {
        const long n = 3 + long(pick.Next() % 5);
        std::vector<long> xs(n), ys(n);
        for (long k = 0; k < n; ++k) {
            xs[k] = long(pick.Next() % 120) - 10;
            ys[k] = long(pick.Next() % 100) - 10;
        }
        s.map.pmop_Sel_SelectFreeRgn(xs.data(), ys.data(), n, 0, 0, 0);
        std::vector<uint32_t> expected;
        for (uint32_t i = 0; i < s.Count(); ++i) {
            const CTessolo::SPLITEDCELL& c = s.Piece(i);
            bool in = false;
            for (int32_t y = std::max(c.top, 0); y < std::min<int32_t>(c.bottom, s.h) && !in; ++y)
                for (int32_t x = std::max(c.left, 0); x < std::min<int32_t>(c.right, s.w) && !in; ++x)
                    in = c.mask->GetPtr()[size_t(y - c.top) * c.Width() + (x - c.left)] &&
                         CPieceMap::i_pmop_PtInRgn(xs.data(), ys.data(), n, x, y);
            if (in)
                expected.push_back(i);
        }
        EXPECT_EQ(s.Selected(), expected) << round;
    }
}

TEST(PieceMapSelect, PointInPolygonHandlesHugeCoordinates)
{
    const long xs[3] = {0, 2000000000, 0}, ys[3] = {0, 0, 2000000000};
    EXPECT_EQ(CPieceMap::i_pmop_PtInRgn(xs, ys, 3, 10, 10), 1u);
    EXPECT_EQ(CPieceMap::i_pmop_PtInRgn(xs, ys, 3, 1500000000, 1500000000), 0u);
    EXPECT_EQ(CPieceMap::i_pmop_PtInRgn(xs, ys, 3, 999999990, 999999990), 1u);
}

TEST(PieceMapSelect, RandomSelectionTakesTheQuota)
{
    Split s(4, 3, 1);  // 12 pieces: one a call
    s.map.pmop_Sel_RandomSelection(1, 1);
    EXPECT_EQ(s.Selected().size(), 1u);
    s.map.pmop_Sel_RandomSelection(1, 1);
    EXPECT_EQ(s.Selected().size(), 2u);
    s.map.pmop_Sel_RandomSelection(0, 1);
    EXPECT_EQ(s.Selected().size(), 1u);
    EXPECT_EQ(s.selMap, s.ExpectedMap());
    Split big(6, 4, 1, 120, 80);  // 24 pieces: 24 / 20 = 1
    big.map.pmop_Sel_RandomSelection(1, 0);
    EXPECT_EQ(big.Selected().size(), 1u);
    // Removing with nothing selected: nothing, but the progress ends.
    Split none(4, 3, 1);
    none.map.pmop_Sel_RandomSelection(0, 1);
    EXPECT_TRUE(none.Selected().empty());
    EXPECT_EQ(none.map.reports, (std::vector<int>{0, 5, 100}));
}

TEST(PieceMapSelect, ShowAndHideRecompositeTheirAreaOnly)
{
    Split s(4, 3, 1);
    const std::vector<uint8_t> before = s.Image();
    s.map.pmop_Sel_SetSelectionToPiece(5, 0, 0, 0);
    s.map.pmop_ShowHideSelectedPieces(0, 1);
    EXPECT_FALSE(s.Piece(5).shown);
    EXPECT_EQ(s.Image(), s.FreshComposite());
    EXPECT_NE(s.Image(), before);
    EXPECT_EQ(s.map.lastWord & CPieceMap::kSomeHidden, CPieceMap::kSomeHidden);
    // Already hidden: nothing is composited, the controls stay.
    const int refreshes = s.map.refreshes;
    s.map.pmop_ShowHideSelectedPieces(0, 1);
    EXPECT_EQ(s.map.refreshes, refreshes);
    // Reverse with nothing selected flips every piece.
    s.map.pmop_Sel_DeselectAllPieces(0);
    s.map.pmop_ReverseShownHidden(1);
    for (uint32_t i = 0; i < s.Count(); ++i)
        EXPECT_EQ(s.Piece(i).shown, i == 5 ? 1 : 0) << i;
    EXPECT_EQ(s.Image(), s.FreshComposite());
    s.map.pmop_ShowHidePiece(5, 0, 1);
    s.map.pmop_ShowHideSelectedPieces(1, 1);
    EXPECT_EQ(s.Image(), before);
}

TEST(PieceMapSelect, OverlaySwitchOnlyActsOnAChange)
{
    Split s(2, 2, 1);
    s.map.pmop_Extras(1, 1);
    EXPECT_EQ(s.map.extrasChanges, 0);
    EXPECT_EQ(s.map.previewRedraws, 0);
    s.map.pmop_Extras(0, 1);
    EXPECT_EQ(s.map.extrasChanges, 1);
    // A selection with redraw switches it back on.
    s.map.pmop_Sel_SetSelectionToPiece(1, 0, 0, 1);
    EXPECT_EQ(s.map.extrasChanges, 2);
}

TEST(PieceMapSelect, ChannelSelectionPicksThePiecesItReaches)
{
    Split s(4, 3, 1);
    std::vector<uint8_t> channel(size_t(s.w) * s.h, 255);
    // A dark spot in the middle of piece 6 only.
    const qntPOS p = s.Inside(6);
    channel[size_t(p.y) * s.w + p.x] = 0;
    s.map.pmop_LoadSelectionFromMap(channel.data(), s.w, s.h, 0, 0, 1);
    EXPECT_EQ(s.Selected(), std::vector<uint32_t>{6});
    // Invert: every piece that has a pixel above 127.
    s.map.pmop_LoadSelectionFromMap(channel.data(), s.w, s.h, 0, 1, 1);
    EXPECT_EQ(s.Selected().size(), s.Count());
    EXPECT_EQ(s.selMap, s.ExpectedMap());

    const std::vector<uint8_t> black(size_t(s.w) * s.h, 0), white(size_t(s.w) * s.h, 255);
    s.map.pmop_Sel_SetSelectionToPiece(2, 0, 0, 0);
    s.map.pmop_Sel_SetSelectionToPiece(9, 1, 0, 0);
    s.map.pmop_LoadSelectionFromMap(black.data(), s.w, s.h, 3, 0, 1);  // intersect keeps all
    EXPECT_EQ(s.Selected(), (std::vector<uint32_t>{2, 9}));
    s.map.pmop_LoadSelectionFromMap(channel.data(), s.w, s.h, 1, 0, 1);  // add
    EXPECT_EQ(s.Selected(), (std::vector<uint32_t>{2, 6, 9}));
    s.map.pmop_LoadSelectionFromMap(black.data(), s.w, s.h, 2, 0, 1);  // subtract drops all
    EXPECT_TRUE(s.Selected().empty());
    s.map.pmop_LoadSelectionFromMap(white.data(), s.w, s.h, 0, 0, 1);
    EXPECT_TRUE(s.Selected().empty());
    s.map.pmop_LoadSelectionFromMap(white.data(), s.w, s.h, 0, 1, 1);
    EXPECT_EQ(s.Selected().size(), s.Count());
    EXPECT_EQ(s.map.i_pmop_CheckPieceByMap(s.Count(), black.data(), s.w, s.h, 128, 0), 0);
}
