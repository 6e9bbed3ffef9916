// The knife editor's preview: geometry, node commands and the gestures of
// the mouse, replayed numerically.
#include "editor_test_util.h"

#include <cmath>

using namespace editor_test;

namespace {

constexpr uint8_t kCmd = CWnd_CutterEditor::KM_COMMAND;
constexpr uint8_t kShift = CWnd_CutterEditor::KM_SHIFT;
constexpr uint8_t kOption = CWnd_CutterEditor::KM_OPTION;
using E = CWnd_CutterEditor;

TEST(CutterGeometry, BaseSegmentAndLimitPerZoom)
{
    struct Case {
        int32_t w, h;
        uint8_t zoom;
        double length, y0, y1, limit;
    };
    const Case cases[] = {
        {225, 425, 0, 400, 12.5, 412.5, 0.25},
        {225, 425, 1, 200, 112.5, 312.5, 0.5},
        {225, 425, 2, 100, 162.5, 262.5, 1.0},
        // Wider than tall: the segment still runs top to bottom.
        {425, 125, 0, 100, 12.5, 112.5, 2.0},
    };
    for (const Case& c : cases) {
        const auto g = CWnd_CutterEditor::ComputeGeometry(c.w, c.h, c.zoom);
        EXPECT_DOUBLE_EQ(g.length, c.length);
        EXPECT_DOUBLE_EQ(g.start.x, double(c.w / 2));
        EXPECT_DOUBLE_EQ(g.start.y, c.y0);
        EXPECT_DOUBLE_EQ(g.end.y, c.y1);
        EXPECT_DOUBLE_EQ(g.hLimit, c.limit);
    }
}

TEST(CutterGeometry, NodeCentresHitRectsAndPositiveHToTheLeft)
{
    Fixture f;
    f.ed.Shape({{0.1, 0.5}, {-0.05, 0.25}});
    // 112 - 0.1 * 400 = 72; 12.5 + 0.5 * 400 = 212.5, truncated.
    EXPECT_EQ(f.ed.At(0).x, 72);
    EXPECT_EQ(f.ed.At(0).y, 212);
    EXPECT_EQ(f.ed.At(1).x, 132);
    const qntRECT_s r = f.ed.NodeRect(0);
    EXPECT_EQ(r.left, 69);
    EXPECT_EQ(r.right, 76);
    EXPECT_EQ(r.top, 209);
    EXPECT_EQ(r.bottom, 216);
}

TEST(CutterHandles, EnabledByTheSelectionsExtent)
{
    Fixture f;
    struct Case {
        std::vector<std::pair<double, double>> nodes;
        std::vector<int> enabled;
    };
    const Case cases[] = {
        // One column: only top and bottom.
        {{{0.1, 0.2}, {0.1, 0.6}}, {1, 5}},
        // One row: only right and left.
        {{{0.1, 0.3}, {-0.1, 0.3}}, {3, 7}},
        // Both spread: all eight.
        {{{0.1, 0.2}, {-0.1, 0.6}}, {0, 1, 2, 3, 4, 5, 6, 7}},
        // One node: none.
        {{{0.1, 0.2}}, {}},
    };
    for (const Case& c : cases) {
        SPLINE s{};
        for (const auto& p : c.nodes) {
            s.pos[s.nodeCount] = {p.first, p.second};
            s.S[s.nodeCount++] = 0.5;
        }
        f.ed.opSetShapeFromData(s, 0);
        std::vector<int> on;
        for (int h = 0; h < 8; ++h)
            if (f.ed.HandleEnabled(uint32_t(h)))
                on.push_back(h);
        EXPECT_EQ(on, c.enabled);
    }
}

TEST(CutterNodes, InsertOnTheCurveOrStartASelection)
{
    Fixture f;
    f.ed.Shape({});
    // 2.5 px beside the straight segment inserts the first node and drags it.
    f.ed.Down(112 - 2, 200);
    ASSERT_EQ(f.ed.m_Shape.nodeCount, 1);
    EXPECT_TRUE(f.ed.m_bNodeDrag);
    EXPECT_NEAR(f.ed.m_Shape.pos[0].H, 2.0 / 400, 1e-12);
    EXPECT_NEAR(f.ed.m_Shape.pos[0].U, (200 - 12.5) / 400, 1e-12);
    f.ed.Up();

    // 3 px away is too far: a selection rectangle starts instead.
    Fixture g;
    g.ed.Shape({});
    g.ed.Down(112 + 3, 200);
    EXPECT_EQ(g.ed.m_Shape.nodeCount, 0);
    EXPECT_TRUE(g.ed.m_bSelRect);

    // On a curve: the node goes between the nodes of that segment; with
    // Command the old selection stays.
    Fixture h;
    h.ed.Shape({{0.0, 0.2}, {0.0, 0.8}});
    h.ed.Select({0});
    h.ed.Down(112, 212, kCmd);  // U = 0.5: between node 0 and node 1
    ASSERT_EQ(h.ed.m_Shape.nodeCount, 3);
    EXPECT_NEAR(h.ed.m_Shape.pos[1].U, 0.49875, 1e-9);
    EXPECT_EQ(std::vector<int>(h.ed.m_Shape.selected, h.ed.m_Shape.selected + 3), (std::vector<int>{1, 1, 0}));
    h.ed.Up();
    h.ed.Down(112, 112);  // U = 0.25, without Command: only the new node
    ASSERT_EQ(h.ed.m_Shape.nodeCount, 4);
    EXPECT_EQ(std::vector<int>(h.ed.m_Shape.selected, h.ed.m_Shape.selected + 4), (std::vector<int>{0, 1, 0, 0}));
}

TEST(CutterNodes, SixtyFourAtMostAndDeleteKeepsOrder)
{
    Fixture f;
    SPLINE s{};
    s.nodeCount = 64;
    for (int i = 0; i < 64; ++i)
        s.pos[i] = {0.0, i / 64.0};
    f.ed.opSetShapeFromData(s, 0);
    EXPECT_EQ(f.ed.opAddNode(qntFPOS{100, 100}, 0, 0), 0);
    EXPECT_EQ(f.ed.beeps, 1);
    EXPECT_EQ(f.ed.m_Shape.nodeCount, 64);

    // A shape of 70 nodes from the main window keeps the first 64, all
    // selected whatever its flags say.
    CCutterLink::SHAPE big;
    big.nodeCount = 70;
    for (int i = 0; i < 64; ++i)
        big.U[i] = i / 100.0;
    static_cast<CCutterLink&>(f.ed).opSetShapeFromData(big, 0);
    EXPECT_EQ(f.ed.m_Shape.nodeCount, 64);
    EXPECT_EQ(f.ed.m_Shape.selected[63], 1);
    EXPECT_DOUBLE_EQ(f.ed.m_Shape.pos[63].U, 0.63);

    f.ed.Shape({{0.1, 0.1}, {0.2, 0.2}, {0.3, 0.3}, {0.4, 0.4}});
    f.ed.Select({0, 2});
    f.ed.opDelSelectedNodes();
    ASSERT_EQ(f.ed.m_Shape.nodeCount, 2);
    EXPECT_DOUBLE_EQ(f.ed.m_Shape.pos[0].H, 0.2);
    EXPECT_DOUBLE_EQ(f.ed.m_Shape.pos[1].H, 0.4);
}

TEST(CutterNodes, AlignUsesMaxHForLeft)
{
    struct Case {
        uint8_t mode;
        double h, u;  // of every selected node afterwards
    };
    // Selected: (0.1, 0.2), (-0.2, 0.6), (0.05, 0.3); node 3 unselected.
    const Case cases[] = {{0, 0.1, 0.2}, {1, 0.1, 0.4}, {2, 0.1, 0.6}, {3, 0.1, 0.2}, {4, -0.05, 0.2}, {5, -0.2, 0.2}};
    for (const Case& c : cases) {
        Fixture f;
        f.ed.Shape({{0.1, 0.2}, {-0.2, 0.6}, {0.05, 0.3}, {0.2, 0.9}});
        f.ed.Select({0, 1, 2});
        f.ed.opAlign(c.mode);
        const bool vertical = c.mode < 3;
        for (int i = 0; i < 3; ++i) {
            if (vertical)
                EXPECT_DOUBLE_EQ(f.ed.m_Shape.pos[i].U, c.u) << int(c.mode);
            else
                EXPECT_DOUBLE_EQ(f.ed.m_Shape.pos[i].H, c.h) << int(c.mode);
        }
        EXPECT_DOUBLE_EQ(f.ed.m_Shape.pos[3].H, 0.2);
        EXPECT_DOUBLE_EQ(f.ed.m_Shape.pos[3].U, 0.9);
        EXPECT_EQ(f.link.Count("shape"), 1u);
    }
}

TEST(CutterNodes, DistributeSpreadsBetweenTheOuterValues)
{
    struct Case {
        std::vector<double> u;
        std::vector<double> expected;
    };
    const Case cases[] = {
        {{0.1, 0.7, 0.2}, {0.1, 0.7, 0.4}},
        {{0.9, 0.1, 0.3, 0.2}, {0.9, 0.1, 0.6333333333333333, 0.3666666666666667}},
        {{0.5, 0.5, 0.5}, {0.5, 0.5, 0.5}},
        {{0.8, 0.1}, {0.8, 0.1}},  // two: nothing
    };
    for (const Case& c : cases) {
        Fixture f;
        SPLINE s{};
        for (double u : c.u) {
            s.pos[s.nodeCount] = {0.0, u};
            s.S[s.nodeCount++] = 0.5;
        }
        f.ed.opSetShapeFromData(s, 0);
        const size_t steps = f.ed.m_Undo.CurrentIndex();
        f.ed.opDistribute(0);
        for (size_t i = 0; i < c.u.size(); ++i)
            EXPECT_NEAR(f.ed.m_Shape.pos[i].U, c.expected[i], 1e-12);
        // Equal values: nothing moved, so no step either.
        if (c.u.size() == 3 && c.u[0] == c.u[1]) {
            EXPECT_EQ(f.ed.m_Undo.CurrentIndex(), steps);
        }
    }
}

TEST(CutterNodes, NodeSorterComparesTheChosenValueAndNeverReadsPastTheShape)
{
    Fixture f;
    // (H, U) per node.
    f.ed.Shape({{0.3, 0.1}, {-0.2, 0.6}, {0.3, 0.4}});
    using Sorter = CWnd_CutterEditor::CNodesSorterIDS;
    struct Case {
        bool byU;
        uint32_t i, j;
        int expected;
    };
    const Case cases[] = {
        {true, 0, 1, -1}, {true, 1, 0, 1}, {true, 2, 2, 0},  // by U
        {false, 0, 1, 1}, {false, 1, 2, -1},                  // by H
        {false, 0, 2, 0},                                     // equal H
        {true, 0, 3, 0},  {true, 64, 0, 0}, {false, 0xFFFFFFFFu, 1, 0},
    };
    for (const Case& c : cases) {
        Sorter sorter(&f.ed, c.byU);
        EXPECT_EQ(sorter.CompareElements(&c.i, &c.j), c.expected) << c.byU << ' ' << c.i << ' ' << c.j;
        Sorter orphan(nullptr, c.byU);
        EXPECT_EQ(orphan.CompareElements(&c.i, &c.j), 0);
    }
    // A value that is not a number compares unordered both ways.
    f.ed.m_Shape.pos[1].U = std::nan("");
    Sorter byU(&f.ed, true);
    const uint32_t a = 0, b = 1;
    EXPECT_EQ(byU.CompareElements(&a, &b), 1);
    EXPECT_EQ(byU.CompareElements(&b, &a), 1);
}

TEST(CutterNodes, DistributeAcrossSortsByHAndSurvivesValuesThatAreNotNumbers)
{
    struct Case {
        std::vector<double> h;
        std::vector<double> expected;  // NaN: anything, as long as nothing else moved
    };
    const double nan = std::nan("");
    const Case cases[] = {
        // Sorted by H: nodes 1, 2, 0, 3; the inner two take -0.4 + k * 0.4.
        {{0.2, -0.4, 0.0, 0.8}, {0.4, -0.4, 0.0, 0.8}},
        {{0.25, 0.0, -0.25}, {0.25, 0.0, -0.25}},
        {{0.1, nan, 0.3, 0.2}, {nan, nan, nan, nan}},
    };
    for (const Case& c : cases) {
        Fixture f;
        SPLINE s{};
        for (double h : c.h) {
            s.pos[s.nodeCount] = {h, 0.5};
            s.S[s.nodeCount++] = 0.5;
        }
        f.ed.opSetShapeFromData(s, 0);
        f.ed.opDistribute(1);
        for (size_t i = 0; i < c.h.size(); ++i) {
            EXPECT_DOUBLE_EQ(f.ed.m_Shape.pos[i].U, 0.5) << i;  // across only
            if (!std::isnan(c.expected[i])) {
                EXPECT_NEAR(f.ed.m_Shape.pos[i].H, c.expected[i], 1e-12) << i;
            }
        }
        EXPECT_EQ(f.ed.m_Shape.nodeCount, c.h.size());
    }
}

TEST(CutterNodes, FlipAlongTwiceRestoresShapeAndOrder)
{
    Fixture f;
    // Values exact in binary, so that 1 - (1 - U) is U again.
    f.ed.Shape({{0.125, 0.25}, {-0.25, 0.625}, {0.0625, 0.375}}, 0.25);
    f.ed.m_Shape.S[0] = 0.875;
    f.ed.Select({0});
    const SPLINE before = f.ed.m_Shape;
    f.ed.opFlipU();
    EXPECT_DOUBLE_EQ(f.ed.m_Shape.pos[0].U, 0.625);
    EXPECT_DOUBLE_EQ(f.ed.m_Shape.S[2], 0.875);
    EXPECT_EQ(f.ed.m_Shape.selected[2], 1);
    f.ed.opFlipU();
    EXPECT_TRUE(CKnifeShapeUndo::Equal(f.ed.m_Shape, before));
    f.ed.opFlipH();
    EXPECT_DOUBLE_EQ(f.ed.m_Shape.pos[1].H, 0.25);
    EXPECT_EQ(f.link.Count("flipU"), 2u);
    EXPECT_EQ(f.link.Count("flipH"), 1u);
}

TEST(CutterGestures, DragStopsTheWholeSelectionAtTheLimit)
{
    Fixture f;
    f.ed.Shape({{0.2, 0.3}, {0.0, 0.6}});
    const qntPOS c = f.ed.At(0);
    f.ed.Down(c.x, c.y);
    ASSERT_TRUE(f.ed.m_bNodeDrag);
    f.ed.Move(0, c.y);  // H 0.28 wanted, 0.25 is the limit
    EXPECT_NEAR(f.ed.m_Shape.pos[0].H, 0.25, 1e-12);
    EXPECT_NEAR(f.ed.m_Shape.pos[1].H, 0.05, 1e-12);
    f.ed.Move(c.x, 1000);  // far below: the lower node stops at U 1
    EXPECT_NEAR(f.ed.m_Shape.pos[1].U, 1.0, 1e-12);
    EXPECT_NEAR(f.ed.m_Shape.pos[0].U, 0.7, 1e-12);
    f.ed.Up();
    ASSERT_EQ(f.link.Count("shape"), 1u);
    EXPECT_EQ(f.link.calls.back().a, 1u);  // only the selected nodes
}

TEST(CutterGestures, CommandClickTogglesAndEscRestores)
{
    Fixture f;
    f.ed.Shape({{0.1, 0.3}, {-0.1, 0.6}});
    f.ed.Select({0});
    f.ed.Up();
    const SPLINE before = f.ed.m_Shape;
    const qntPOS c1 = f.ed.At(1);
    f.ed.Down(c1.x, c1.y, kCmd);  // added to the selection
    EXPECT_EQ(f.ed.GetSelectedNodesCount(), 2u);
    f.ed.Move(c1.x + 20, c1.y + 40);
    EXPECT_NE(f.ed.m_Shape.pos[1].U, before.pos[1].U);
    f.ed.OnKeyDown(CWnd_CutterEditor::KEY_ESC, 0);
    EXPECT_FALSE(f.ed.m_bNodeDrag);
    EXPECT_TRUE(CKnifeShapeUndo::Equal(f.ed.m_Shape, before));
    EXPECT_FALSE(f.ed.IsClosed());
    ASSERT_EQ(f.link.Count("shape"), 1u);
    EXPECT_EQ(f.link.calls.back().a, 0u);  // every node
    // Command on a selected node deselects it and drags nothing.
    f.ed.Down(f.ed.At(0).x, f.ed.At(0).y, kCmd);
    EXPECT_EQ(f.ed.m_Shape.selected[0], 0);
    EXPECT_FALSE(f.ed.m_bNodeDrag);
}

TEST(CutterGestures, SelectionRectangleAddsOrRemoves)
{
    Fixture f;
    f.ed.Shape({{0.1, 0.3}, {-0.1, 0.3}, {0.1, 0.8}});
    f.ed.Select({2});
    f.ed.Down(20, 100, kShift);  // Shift keeps the selection
    EXPECT_TRUE(f.ed.m_bSelRect);
    f.ed.Move(200, 150);
    EXPECT_EQ(std::vector<int>(f.ed.m_Shape.selected, f.ed.m_Shape.selected + 3), (std::vector<int>{1, 1, 1}));
    f.ed.Up();
    f.ed.m_nKeys = kOption;
    f.ed.Down(20, 100);
    f.ed.Move(100, 150);  // over node 0 only: Option takes it out
    EXPECT_EQ(std::vector<int>(f.ed.m_Shape.selected, f.ed.m_Shape.selected + 3), (std::vector<int>{0, 1, 1}));
    f.ed.Up();
}

TEST(CutterGestures, ScaleHandlePastTheOppositeSideMirrors)
{
    struct Case {
        int past;     // pixels the right edge is dragged beyond the left one
        double h1;    // H of the right node afterwards
    };
    // Box L 72 .. R 152: within 14 px past, the box collapses onto L; from
    // 14 px on it turns inside out, 14 px narrower than the drag.
    const Case cases[] = {{0, 0.1}, {10, 0.1}, {13, 0.1}, {14, 0.1}, {20, (112.0 - 66.0) / 400}, {40, (112.0 - 46.0) / 400}};
    for (const Case& c : cases) {
        Fixture f;
        f.ed.Shape({{0.1, 0.3}, {-0.1, 0.5}});
        ASSERT_TRUE(f.ed.HandleEnabled(3));
        const qntRECT_s r = f.ed.HandleRect(3);
        const int sx = r.left + 2, sy = r.top + 2;
        f.ed.Down(sx, sy);
        ASSERT_TRUE(f.ed.m_bHandleDrag);
        f.ed.Move(sx + (72 - c.past - 152), sy);
        EXPECT_NEAR(f.ed.m_Shape.pos[0].H, 0.1, 1e-12) << c.past;
        EXPECT_NEAR(f.ed.m_Shape.pos[1].H, c.h1, 1e-12) << c.past;
        f.ed.Up();
    }
}

TEST(CutterGestures, ShiftKeepsProportionsOnACorner)
{
    Fixture f;
    // Box 72..152 x 132..212: 80 by 80.
    f.ed.Shape({{0.1, 0.3}, {-0.1, 0.5}});
    const qntRECT_s r = f.ed.HandleRect(4);
    f.ed.Down(r.left, r.top);
    f.ed.Move(r.left + 40, r.top + 10, kShift);  // dx follows dy: 10
    EXPECT_NEAR(f.ed.m_Shape.pos[1].H, (112.0 - 162.0) / 400, 1e-12);
    EXPECT_NEAR(f.ed.m_Shape.pos[1].U, (222.0 - 12.5) / 400, 1e-12);
}

TEST(CutterGestures, RotationSnapsToFifteenOrFortyFive)
{
    struct Case {
        int px, py;
        uint8_t shift, option;
        double degrees;  // the turn applied, negative = clockwise on screen
    };
    const double free20 = -std::atan2(20.0, 47.0) * 180.0 / 3.14159265358979323846;
    const double free50 = -std::atan2(36.0, 30.0) * 180.0 / 3.14159265358979323846;
    const Case cases[] = {
        {65, 192, 0, 0, free20}, {65, 192, 1, 0, -15}, {65, 192, 1, 1, 0},
        {82, 176, 0, 0, free50}, {82, 176, 1, 0, -45}, {82, 176, 1, 1, -45},
    };
    for (const Case& c : cases) {
        Fixture f;
        // One row: centres (72, 212) and (152, 212), centre of turn (112, 212).
        f.ed.Shape({{0.1, 0.4999}, {-0.1, 0.4999}});
        ASSERT_TRUE(f.ed.HandleEnabled(7));
        f.ed.m_nKeys = c.option ? kOption : 0;
        f.ed.Down(65, 212, kCmd);
        ASSERT_TRUE(f.ed.m_bRotate);
        f.ed.Move(c.px, c.py, c.shift ? kShift : 0);
        const double d = c.degrees * 3.14159265358979323846 / 180.0;
        const double x = -40.0 * std::cos(d) + 112.0, y = 40.0 * std::sin(d) + 212.0;
        EXPECT_NEAR(f.ed.m_Shape.pos[0].H, (112.0 - x) / 400, 1e-9) << c.px << " " << int(c.shift) << int(c.option);
        EXPECT_NEAR(f.ed.m_Shape.pos[0].U, (y - 12.5) / 400, 1e-9) << c.px << " " << int(c.shift) << int(c.option);
        f.ed.Up();
    }
}

}  // namespace

namespace {

uint8_t Alpha(const CQNF_Image& img, int x, int y) { return img.GetPlane(3)[size_t(y) * img.GetImageWidth() + x]; }

TEST(CutterDrawing, CurveAlphaAnchorsAndSelectionRectangle)
{
    Fixture f;
    f.ed.Shape({});
    // No nodes: the straight base segment down the middle.
    EXPECT_GT(Alpha(f.ed.CurveLayer(), 112, 200), 128);
    EXPECT_EQ(Alpha(f.ed.CurveLayer(), 60, 200), 0);
    EXPECT_EQ(f.ed.CurveLayer().GetPlane(1)[0], 145);  // the colour planes stay

    f.ed.Shape({{0.1, 0.3}, {-0.1, 0.6}});
    f.ed.Select({0});
    const qntPOS a = f.ed.At(0), b = f.ed.At(1);
    const CQNF_Image& x = f.ed.ExtrasLayer();
    // Selected: filled; unselected: the outline only.
    EXPECT_EQ(Alpha(x, a.x, a.y), 255);
    EXPECT_EQ(x.GetPlane(2)[size_t(a.y) * x.GetImageWidth() + a.x], 138);
    EXPECT_EQ(Alpha(x, b.x, b.y), 0);
    EXPECT_EQ(Alpha(x, b.x - 3, b.y), 255);
    // A selection rectangle paints only where nothing is drawn yet.
    f.ed.Down(a.x - 20, a.y - 20, kShift);
    f.ed.Move(a.x + 20, a.y + 20);
    EXPECT_EQ(Alpha(x, a.x - 20, a.y), 220);  // edge
    EXPECT_EQ(Alpha(x, a.x - 10, a.y), 80);   // inside
    EXPECT_EQ(Alpha(x, a.x, a.y), 255);       // the anchor stays
    f.ed.Up();
}

TEST(CutterDrawing, CursorRules)
{
    Fixture f;
    f.ed.Shape({{0.1, 0.3}, {-0.1, 0.6}});
    const qntPOS a = f.ed.At(0);
    auto at = [&](int px, int py) { return f.ed.CursorAt(int16_t(kX0 + px), int16_t(kY0 + py)); };
    EXPECT_EQ(f.ed.CursorAt(0, 0), E::CUR_BASE);
    EXPECT_EQ(at(a.x, a.y), E::CUR_MOVE);
    EXPECT_EQ(at(5, 5), E::CUR_DEFAULT);
    const qntRECT_s h3 = f.ed.HandleRect(3), h1 = f.ed.HandleRect(1), h0 = f.ed.HandleRect(0);
    EXPECT_EQ(at(h3.left, h3.top), E::CUR_HORIZONTAL);
    EXPECT_EQ(at(h1.left, h1.top), E::CUR_VERTICAL);
    EXPECT_EQ(at(h0.left, h0.top), E::CUR_MOVE);
    f.ed.m_nKeys = kCmd;
    EXPECT_EQ(at(h0.left, h0.top), E::CUR_ROTATE);
    // Anchors hidden: inside the selection's box the selection moves.
    f.ed.m_nKeys = 0;
    f.ed.DoHideNodes();
    EXPECT_FALSE(f.ed.m_bAnchorsShown);
    EXPECT_EQ(at((a.x + f.ed.At(1).x) / 2, (a.y + f.ed.At(1).y) / 2), E::CUR_MOVE);
}

}  // namespace
