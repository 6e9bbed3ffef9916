// Piece effects and the piece-map undo on a real engine split: exactly the
// changed pieces are rendered, the composite always matches the pieces, and
// Undo and Redo give the composite back byte for byte.
#include "piecemap_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>

using pm_test::Split;

namespace {

std::vector<uint32_t> Sorted(std::vector<uint32_t> v)
{
    std::sort(v.begin(), v.end());
    return v;
}

}  // namespace

TEST(PieceMapFX, SwitchCopyPasteResetRenderExactlyTheChangedPieces)
{
    struct Case {
        const char* name;
        std::function<void(Split&)> prepare;  // before the render count starts
        std::function<void(Split&)> run;
        std::vector<uint32_t> rendered;
    };
    const std::vector<Case> cases = {
        {"bevel off on two selected",
         [](Split& s) {
             s.map.pmop_Sel_SetSelectionToPiece(3, 1, 0, 0);
             s.map.pmop_Sel_SetSelectionToPiece(8, 1, 0, 0);
         },
         [](Split& s) { s.map.pmfx_SwitchFX(CPieceMap::FX_BEVEL, 1, 0); }, {3, 8}},
        {"bevel off under a selection that is not opaque everywhere",
         [](Split& s) {
             // Clear, half and full bands across the pieces' boxes.
             for (uint32_t y = 0; y < s.h; ++y)
                 for (uint32_t x = 0; x < s.w; ++x)
                     s.alpha[size_t(y) * s.w + x] = uint8_t((x / 7 + y / 5) % 3 * 127 + (x / 7 + y / 5) % 3 / 2);
             s.map.pm_Begin(&s.engine, &s.image, &s.source, s.alpha.data(), s.selMap.data(), s.w, s.h, 1);
             s.Composite();
             s.map.pmop_Sel_SetSelectionToPiece(5, 1, 0, 0);
         },
         [](Split& s) { s.map.pmfx_SwitchFX(CPieceMap::FX_BEVEL, 1, 0); }, {5}},
        {"toggle where some have it switches it off on all",
         [](Split& s) {
             s.map.pmfx_SwitchFX(CPieceMap::FX_INVERT, 1, 1);  // all pieces inverted
             s.map.pmfx_SwitchFX(CPieceMap::FX_INVERT, 1, 0);  // all back
             s.map.m_nMenuPiece = 4;
             s.map.pmfx_SwitchFX(CPieceMap::FX_INVERT, 1, 1);  // piece 4 only
             s.map.m_nMenuPiece = CPieceMap::kNone;
             s.map.pmop_Sel_SetSelectionToPiece(4, 1, 0, 0);
             s.map.pmop_Sel_SetSelectionToPiece(5, 1, 0, 0);
         },
         [](Split& s) {
             s.map.pmfx_SwitchFX(CPieceMap::FX_INVERT, 0, 0);
             EXPECT_EQ(s.Piece(4).invert[CTessolo::FX_APPLIED], 0);
             EXPECT_EQ(s.Piece(5).invert[CTessolo::FX_APPLIED], 0);
         },
         {4}},
        {"toggle where none has it switches it on",
         [](Split& s) { s.map.pmop_Sel_SetSelectionToPiece(2, 0, 0, 0); },
         [](Split& s) { s.map.pmfx_SwitchFX(CPieceMap::FX_BLUR, 0, 0); }, {2}},
        {"explicit to the state already applied renders nothing",
         [](Split&) {}, [](Split& s) { s.map.pmfx_SwitchFX(CPieceMap::FX_BEVEL, 1, 1); }, {}},
        {"hue-saturation outside RGB renders nothing",
         [](Split& s) { s.map.pm_Begin(&s.engine, &s.image, &s.source, s.alpha.data(), s.selMap.data(), s.w, s.h, 0); },
         [](Split& s) { s.map.pmfx_SwitchFX(CPieceMap::FX_HSL, 1, 1); }, {}},
        {"menu piece alone", [](Split&) {},
         [](Split& s) {
             s.map.m_nMenuPiece = 7;
             s.map.pmfx_SwitchFX(CPieceMap::FX_OPACITY, 0, 0);
             s.map.m_nMenuPiece = CPieceMap::kNone;
         },
         {7}},
        {"paste onto the selection renders only who differs",
         [](Split& s) {
             s.map.m_nMenuPiece = 1;
             s.map.pmfx_SwitchFX(CPieceMap::FX_BEVEL, 1, 0);
             s.map.pmfx_SwitchFX(CPieceMap::FX_INVERT, 1, 1);
             s.map.m_nMenuPiece = 9;
             s.map.pmfx_SwitchFX(CPieceMap::FX_BEVEL, 1, 0);
             s.map.pmfx_SwitchFX(CPieceMap::FX_INVERT, 1, 1);
             s.map.m_nMenuPiece = CPieceMap::kNone;
             s.map.pmop_CopyAdjustments(1);
             for (uint32_t i : {0u, 6u, 9u})
                 s.map.pmop_Sel_SetSelectionToPiece(i, 1, 0, 0);
         },
         [](Split& s) { s.map.pmop_PasteAdjustments(CPieceMap::kNone); }, {0, 6}},
        {"reset shows hidden pieces and renders them",
         [](Split& s) {
             s.map.m_nMenuPiece = 10;
             s.map.pmfx_SwitchFX(CPieceMap::FX_INVERT, 1, 1);
             s.map.m_nMenuPiece = CPieceMap::kNone;
             s.map.pmop_ShowHidePiece(11, 0, 1);
             for (uint32_t i : {10u, 11u, 2u})
                 s.map.pmop_Sel_SetSelectionToPiece(i, 1, 0, 0);
         },
         [](Split& s) {
             s.map.pmop_ResetAdjustments();
             EXPECT_TRUE(s.Piece(11).shown);
         },
         {10, 11}},
    };
    for (const Case& c : cases) {
        Split s(4, 3, 1);
        c.prepare(s);
        s.map.rendered.clear();
        s.map.reports.clear();
        const int refreshes = s.map.refreshes;
        const std::vector<uint8_t> before = s.Image();
        c.run(s);
        EXPECT_EQ(Sorted(s.map.rendered), c.rendered) << c.name;
        // The last batch is composited in its own render: the bar never
        // goes back.
        EXPECT_TRUE(std::is_sorted(s.map.reports.begin(), s.map.reports.end())) << c.name;
        EXPECT_EQ(s.Image(), s.FreshComposite()) << c.name;
        // The picture changed only inside the boxes of the rendered pieces.
        const std::vector<uint8_t> after = s.Image();
        const size_t n = size_t(s.w) * s.h;
        for (size_t i = 0; i < after.size(); ++i) {
            if (after[i] == before[i])
                continue;
            const int32_t x = int32_t(i % n % s.w), y = int32_t(i % n / s.w);
            bool inside = false;
            for (uint32_t p : s.map.rendered) {
                const CTessolo::SPLITEDCELL& c2 = s.Piece(p);
                inside = inside || (x >= c2.left && x < c2.right && y >= c2.top && y < c2.bottom);
            }
            ASSERT_TRUE(inside) << c.name << " pixel " << x << "," << y;
        }
        if (c.rendered.empty() && std::string(c.name).find("explicit") != std::string::npos) {
            EXPECT_EQ(s.map.refreshes, refreshes) << c.name;
        }
        for (uint32_t i = 0; i < s.Count(); ++i)
            EXPECT_EQ(s.map.i_pmop_CheckPieceFXUpdates(i), 0) << c.name << i;  // nothing left unrendered
    }
}

TEST(PieceMapFX, TogglingTwiceWithoutAMenuComesBack)
{
    Split s(4, 3, 1);
    s.map.pmop_Sel_SetSelectionToPiece(4, 0, 0, 0);
    s.map.pmfx_SwitchFX(CPieceMap::FX_BEVEL, 0, 0);
    EXPECT_EQ(s.Piece(4).bevel[CTessolo::FX_APPLIED].on, 0);
    s.map.pmfx_SwitchFX(CPieceMap::FX_BEVEL, 0, 0);
    EXPECT_EQ(s.Piece(4).bevel[CTessolo::FX_APPLIED].on, 1);
    EXPECT_EQ(s.map.m_nMenuFXState, 0xFFFF);
    EXPECT_EQ(s.Image(), s.FreshComposite());
}

TEST(PieceMapFX, ResetAfterANewCutTakesEveryPieceWhateverIsSelected)
{
    Split s(4, 3, 1);
    s.map.pmfx_SwitchFX(CPieceMap::FX_INVERT, 1, 1);
    s.map.pmop_Sel_SetSelectionToPiece(2, 0, 0, 0);
    s.map.rendered.clear();
    s.map.pm_ResetAllPieces();
    EXPECT_EQ(s.map.rendered.size(), s.Count());
    // Side by side, at least two pieces a call.
    EXPECT_GE(s.map.batches, 1);
    EXPECT_LE(s.map.batches, int(s.Count()) / 2);
    EXPECT_EQ(s.Image(), s.FreshComposite());
}

TEST(PieceMapFX, CopyAndPasteGuards)
{
    Split s(2, 2, 1);
    s.map.fxWindow = true;
    s.map.pmop_PasteAdjustments(CPieceMap::kNone);  // empty clipboard: not even the window closes
    EXPECT_EQ(s.map.fxDeleted, 0);
    s.map.pmop_CopyAdjustments(CPieceMap::kNone);  // no selection: nothing copied
    EXPECT_TRUE(s.map.pm_ClipboardEmpty());
    s.map.pmop_CopyAdjustments(99);
    EXPECT_TRUE(s.map.pm_ClipboardEmpty());
    s.map.pmop_CopyAdjustments(2);
    EXPECT_FALSE(s.map.pm_ClipboardEmpty());
    s.map.pmop_PasteAdjustments(0);
    EXPECT_EQ(s.map.fxDeleted, 1);
    EXPECT_TRUE(s.map.rendered.empty());  // the same effects: nothing to render
}

TEST(PieceMapFX, ChangeDetectionFollowsTheFieldsThatChangePixels)
{
    Split s(2, 2, 1);
    CTessolo::SPLITEDCELL& c = s.Piece(0);
    constexpr auto R = CTessolo::FX_REQUESTED;
    EXPECT_EQ(s.map.i_pmop_CheckPieceFXUpdates(0), 0);
    c.bevel[R].lightX = std::numeric_limits<float>::quiet_NaN();
    EXPECT_EQ(s.map.i_pmop_CheckPieceFXUpdates(0), 1);
    c.bevel[R] = c.bevel[CTessolo::FX_APPLIED];
    c.bevel[R].highlightColor.gray = 17;  // not a compared byte
    EXPECT_EQ(s.map.i_pmop_CheckPieceFXUpdates(0), 0);
    c.bevel[R].highlightColor.red = 17;
    EXPECT_EQ(s.map.i_pmop_CheckPieceFXUpdates(0), 1);
    c.bevel[R] = c.bevel[CTessolo::FX_APPLIED];
    c.gaussianBlur[R].radius = 9;  // switched off: its fields do not count
    EXPECT_EQ(s.map.i_pmop_CheckPieceFXUpdates(0), 0);
    EXPECT_EQ(s.map.i_pmop_CheckPieceFXUpdates(s.Count()), 0);
}

TEST(PieceMapFX, ARunningRenderIsRestartedNeverReentered)
{
    Split s(4, 3, 1);
    s.map.fxWindow = true;
    for (uint32_t i = 0; i < s.Count(); ++i)
        s.Piece(i).invert[CTessolo::FX_REQUESTED] = 1;
    // The effect window asks again (with a longer list) from the events
    // pumped before the first pieces, once; and something composites from
    // inside a render.
    int asks = 0;
    s.map.onEvents = [&] {
        if (asks++ == 0) {
            EXPECT_EQ(s.map.pmop_RerenderPieces(std::vector<uint32_t>{0, 1, 2, 3, 4, 5}, 1, 1), 1);
            s.map.pmop_ShowHidePiece(11, 0, 1);
            s.map.unpm_Restore();  // refused while busy
            s.map.pmfx_SwitchFX(CPieceMap::FX_BEVEL, 1, 1);  // closing the window waits
        }
    };
    EXPECT_EQ(s.map.pmop_RerenderPieces(std::vector<uint32_t>{0, 1, 2}, 1, 1), 1);
    EXPECT_EQ(s.map.maxDepth, 1);
    EXPECT_EQ(s.map.m_bBusy, 0);
    EXPECT_EQ(s.map.m_bRestart, 0);
    EXPECT_EQ(Sorted(s.map.rendered), (std::vector<uint32_t>{0, 1, 2, 3, 4, 5}));
    EXPECT_EQ(s.map.fxDeleted, 1);
    EXPECT_EQ(s.Image(), s.FreshComposite());

    // A request from inside a render that does not pump (the engine's own
    // progress pumping) is honoured once the running one ends.
    Split t(4, 3, 1);
    for (uint32_t i = 0; i < t.Count(); ++i)
        t.Piece(i).invert[CTessolo::FX_REQUESTED] = 1;
    bool asked = false;
    t.map.onRender = [&] {
        if (!asked) {
            asked = true;
            t.map.pmop_RerenderPieces(std::vector<uint32_t>{7, 8}, 1, 1);
        }
    };
    EXPECT_EQ(t.map.pmop_RerenderPieces(std::vector<uint32_t>{0}, 1, 0), 1);
    EXPECT_EQ(t.map.maxDepth, 1);
    EXPECT_EQ(Sorted(t.map.rendered), (std::vector<uint32_t>{0, 7, 8}));
    EXPECT_EQ(t.Image(), t.FreshComposite());
}

TEST(PieceMapFX, AFailedRenderStillCompositesWhatWasRendered)
{
    Split s(4, 3, 1);
    for (uint32_t i = 0; i < s.Count(); ++i)
        s.Piece(i).invert[CTessolo::FX_REQUESTED] = 1;
    s.map.failAt = 2;
    EXPECT_EQ(s.map.pmop_RerenderPieces(std::vector<uint32_t>{0, 1, 2, 3}, 1, 0), 0);
    EXPECT_EQ(s.map.rendered, (std::vector<uint32_t>{0, 1}));
    EXPECT_EQ(s.map.m_bBusy, 0);
    EXPECT_EQ(s.Image(), s.FreshComposite());
}

TEST(PieceMapUndo, EveryKindOfChangeUndoesAndRedoesByteForByte)
{
    struct Case {
        const char* name;
        std::function<void(Split&)> change;
        bool renders;
    };
    const std::vector<Case> cases = {
        {"select", [](Split& s) { s.map.pmop_Sel_SelectRect(qntRECT_s{0, 0, 40, 30}, 0, 0, 1); }, false},
        {"hide", [](Split& s) {
             s.map.pmop_Sel_SetSelectionToPiece(5, 0, 0, 0);
             s.map.pmop_ShowHideSelectedPieces(0, 1);
         },
         false},
        {"switch", [](Split& s) {
             s.map.pmop_Sel_SetSelectionToPiece(5, 0, 0, 0);
             s.map.pmfx_SwitchFX(CPieceMap::FX_BEVEL, 0, 0);
         },
         true},
        {"paste", [](Split& s) {
             s.map.m_nMenuPiece = 0;
             s.map.pmfx_SwitchFX(CPieceMap::FX_INVERT, 1, 1);
             s.map.m_nMenuPiece = CPieceMap::kNone;
             s.map.pmop_CopyAdjustments(0);
             s.map.pmop_Sel_SetSelectionToPiece(6, 0, 0, 0);
             s.map.pmop_PasteAdjustments(CPieceMap::kNone);
         },
         true},
        {"reset", [](Split& s) { s.map.pmop_ResetAdjustments(); }, true},
    };
    for (const Case& c : cases) {
        Split s(4, 3, 1);
        if (std::string(c.name) == "reset") {
            s.map.pmfx_SwitchFX(CPieceMap::FX_OPACITY, 1, 1);
            s.map.pmop_ShowHidePiece(3, 0, 1);
        }
        const std::vector<uint8_t> before = s.Image(), mapBefore = s.selMap;
        s.map.unpm_PreSave();
        c.change(s);
        s.map.unpm_SaveState(1);
        ASSERT_TRUE(s.map.unpm_HasStep()) << c.name;
        const std::vector<uint8_t> after = s.Image(), mapAfter = s.selMap;
        EXPECT_EQ(after, s.FreshComposite()) << c.name;
        s.map.rendered.clear();
        s.map.unpm_Restore();
        EXPECT_EQ(s.Image(), before) << c.name;
        EXPECT_EQ(s.selMap, mapBefore) << c.name;
        EXPECT_EQ(s.map.rendered.empty(), !c.renders) << c.name;
        s.map.unpm_Restore();
        EXPECT_EQ(s.Image(), after) << c.name;
        EXPECT_EQ(s.selMap, mapAfter) << c.name;
    }
}

TEST(PieceMapUndo, AnUnchangedEditKeepsTheStepBeforeIt)
{
    Split s(4, 3, 1);
    s.map.unpm_PreSave();
    s.map.pmop_Sel_SetSelectionToPiece(2, 0, 0, 1);
    s.map.unpm_SaveState(1);
    s.map.unpm_PreSave();
    s.map.pmfx_SwitchFX(CPieceMap::FX_BEVEL, 1, 1);  // already on everywhere
    s.map.unpm_SaveState(1);
    s.map.unpm_Restore();
    EXPECT_TRUE(s.Selected().empty());
    // A failed render during Undo composites what changed and drops the step.
    s.map.pmop_Sel_DeselectAllPieces(0);
    s.map.unpm_PreSave();
    s.map.pmfx_SwitchFX(CPieceMap::FX_INVERT, 1, 1);
    s.map.unpm_SaveState(1);
    s.map.failAt = int(s.map.rendered.size()) + 1;
    s.map.unpm_Restore();
    EXPECT_FALSE(s.map.unpm_HasStep());
    EXPECT_EQ(s.map.m_bBusy, 0);
    EXPECT_EQ(s.Image(), s.FreshComposite());
}

TEST(PieceMapFX, WhatThePumpedEventsDoDuringARenderWaitsForIt)
{
    // The engine's progress pumps window events inside every render: a
    // selection, a hide, another re-render and leaving piece mode may all
    // arrive then.
    Split s(4, 3, 1);
    for (uint32_t i = 0; i < s.Count(); ++i)
        s.Piece(i).invert[CTessolo::FX_REQUESTED] = 1;
    bool once = false;
    s.map.onRender = [&] {
        if (once)
            return;
        once = true;
        s.map.pmop_Sel_RandomSelection(1, 1);
        s.map.pmop_ShowHidePiece(5, 0, 1);
        s.map.pmop_RerenderPieces(std::vector<uint32_t>{9}, 1, 0);
    };
    EXPECT_EQ(s.map.pmop_RerenderPieces(std::vector<uint32_t>{0, 1}, 1, 0), 1);
    EXPECT_EQ(s.map.maxDepth, 1);
    EXPECT_EQ(Sorted(s.map.rendered), (std::vector<uint32_t>{0, 1, 9}));
    EXPECT_EQ(s.Selected().size(), 1u);
    EXPECT_FALSE(s.Piece(5).shown);
    EXPECT_EQ(s.Image(), s.FreshComposite());

    // Leaving piece mode from inside a render unbinds once it has finished.
    Split t(4, 3, 1);
    t.Piece(2).invert[CTessolo::FX_REQUESTED] = 1;
    t.map.onRender = [&] { t.map.pm_End(); };
    t.map.pmop_RerenderPieces(std::vector<uint32_t>{2}, 1, 0);
    EXPECT_FALSE(t.map.pm_IsBound());
    EXPECT_EQ(t.map.rendered, std::vector<uint32_t>{2});
}
