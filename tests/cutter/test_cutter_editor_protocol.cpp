// The knife editor's protocol without a window: creation and closing, the
// status fade, its undo, the menus, keys and shortcuts, the clone modes and
// what reaches the main window, and the layout parameters.
#include "editor_test_util.h"
#include "engine/LayoutLimits.h"

#include <cmath>
#include <map>

using namespace editor_test;

namespace {

using E = CWnd_CutterEditor;

TEST(CutterWindow, MessagesBeforeCreationAreIgnored)
{
    RecorderLink link;
    Editor ed;
    ed.SetMain(&link);
    const uint32_t v = 5;
    const uint16_t item = E::ID_SELECT_ALL;
    EXPECT_FALSE(ed.OnCtrlMessage(E::MSG_CLICK, 0, "Cutter_Reset", E::CT_BUTTON, nullptr));
    EXPECT_FALSE(ed.OnCtrlMessage(E::MSG_SLIDER_FINAL, 0, "Cutter_Rows", E::CT_SLIDER, &v));
    EXPECT_FALSE(ed.OnCtrlMessage(E::MSG_POPUP, 0, "Menu", E::CT_MENU, &item));
    EXPECT_FALSE(ed.OnCtrlMessage(E::MSG_SHORTCUT, 99, nullptr, 0, nullptr));
    EXPECT_FALSE(ed.OnKeyDown(E::KEY_ESC, 0));
    EXPECT_FALSE(ed.Down(100, 100));
    EXPECT_TRUE(link.calls.empty());
    EXPECT_EQ(link.forwarded, 0);
}

TEST(CutterWindow, WithoutPiecesOnlyACutLeaves)
{
    struct Case {
        uint32_t pieces;
        bool closes;
    };
    for (const Case c : {Case{0, false}, Case{3, true}}) {
        Fixture f(c.pieces);
        EXPECT_EQ(f.ed.m_Ctl.cancel, c.closes);
        EXPECT_EQ(f.ed.m_Ctl.closeX, c.closes);
        f.ed.OnKeyDown(E::KEY_ESC, 0);
        EXPECT_EQ(f.ed.IsClosed(), c.closes);
        f.ed.Click("Cutter_Cancel");
        EXPECT_EQ(f.ed.IsClosed(), c.closes);
        EXPECT_EQ(f.link.Count("close"), c.closes ? 1u : 0u);
        // Closing by Cancel reloads the layout held at opening.
        EXPECT_EQ(f.link.Count("resetundo"), c.closes ? 1u : 0u);
        EXPECT_EQ(f.link.loaded, c.closes ? f.link.layout : std::vector<uint8_t>{});
    }
}

TEST(CutterWindow, CancelAfterEditsRestoresTheOpeningLayout)
{
    CutRig rig(640, 480, 4, 3, 12);
    MainModel& main = rig.main;
    Editor& ed = rig.ed;
    const std::vector<uint8_t> opening = main.Block();
    const SPLINE knife = ed.m_Shape;

    ed.Slider("Cutter_Rows", 6, true);
    EXPECT_EQ(main.m_nRowSplitters, 5);
    ed.Shape({{0.2, 0.5}});
    ed.Select({0});
    ed.Down(ed.At(0).x, ed.At(0).y);
    ed.Move(ed.At(0).x + 30, ed.At(0).y);
    ed.Up();
    ASSERT_NE(main.Block(), opening);

    ed.Click("Cutter_Cancel");
    EXPECT_TRUE(ed.IsClosed());
    EXPECT_EQ(main.Block(), opening);
    EXPECT_TRUE(CKnifeShapeUndo::Equal(ed.m_Shape, knife));  // the last knife again
    EXPECT_EQ(ed.m_Ctl.rowsSlider, 3u);
}

TEST(CutterWindow, StatusFadesOutInFourTicksAndInInSeven)
{
    CCutterStatusFader f;
    f.Update("");  // equal to the pending text: nothing happens
    EXPECT_EQ(f.State(), CCutterStatusFader::kIdle);
    f.Update("Tip");
    const uint8_t out[] = {190, 125, 60, 0};
    for (uint8_t o : out) {
        EXPECT_EQ(f.Shown(), "");
        EXPECT_TRUE(f.Tick());
        EXPECT_EQ(f.Opacity(), o);
    }
    EXPECT_EQ(f.Shown(), "Tip");
    const uint8_t in[] = {40, 80, 120, 160, 200, 240, 255};
    for (uint8_t o : in) {
        EXPECT_TRUE(f.Tick());
        EXPECT_EQ(f.Opacity(), o);
    }
    EXPECT_FALSE(f.Tick());  // finds it at 255: done
    EXPECT_EQ(f.State(), CCutterStatusFader::kIdle);
    f.Update("Tip");
    EXPECT_FALSE(f.Tick());

    // The editor's timer 1 drives it; other timers do not.
    Fixture e;
    e.ed.UpdateStatus("Zone_Preview");
    EXPECT_FALSE(e.ed.OnTimer(2));
    for (int i = 0; i < 4; ++i)
        e.ed.OnTimer(1);
    EXPECT_EQ(e.ed.Status().Shown(), "Zone_Preview");
}

TEST(CutterWindow, TipsCursorTicksAndTheContextMenu)
{
    struct Menu : Editor {
        std::vector<qntPOS> shown;
        void DoShaperMenu(qntPOS at) override { shown.push_back(at); }
    } ed;
    RecorderLink link;
    ed.SetMain(&link);
    ASSERT_TRUE(ed.OnCreate(kPreview, 1));
    ed.OnAboveControl("Cutter_Cut", 1, E::CT_BUTTON);
    EXPECT_EQ(ed.Status().Pending(), "Cutter_Cut");
    ed.OnAboveControl("Cutter_CuttingAbort", 1, E::CT_BUTTON);  // the Cut's own controls have none
    EXPECT_EQ(ed.Status().Pending(), "Cutter_Cut");
    // Moves over a control leave its tip; off the controls, the zone's.
    ed.OnMouseMove(kX0 + 50, kY0 + 50, 0);
    EXPECT_EQ(ed.Status().Pending(), "Cutter_Cut");
    ed.OnAboveControl(nullptr, 1, 128);
    ed.OnMouseMove(kX0 + 50, kY0 + 50, 0);
    EXPECT_EQ(ed.Status().Pending(), "Zone_Preview");
    ed.OnMouseMove(0, 0, 0);
    EXPECT_EQ(ed.Status().Pending(), "");

    std::vector<int> cursorTicks;
    for (int t = 1; t <= 11; ++t) {
        ed.OnTimer(1);
        if (ed.IsCursorTick())
            cursorTicks.push_back(t);
    }
    EXPECT_EQ(cursorTicks, (std::vector<int>{1, 6, 11}));

    EXPECT_TRUE(ed.OnContextMenu(kX0 + 5, kY0 + 5));
    EXPECT_FALSE(ed.OnContextMenu(kX0 - 5, kY0 + 5));
    ed.OnCtrlMessage(E::MSG_SHORTCUT, 36, nullptr, 0, nullptr);
    ASSERT_EQ(ed.shown.size(), 2u);
    EXPECT_EQ(ed.shown[1].x, kPreview.left);
    EXPECT_EQ(ed.shown[1].y, kPreview.top);
}

TEST(CutterUndo, ButtonsStepsAndTheDepthOfTwoHundred)
{
    Fixture f;
    EXPECT_FALSE(f.ed.m_Ctl.undo);
    EXPECT_FALSE(f.ed.m_Ctl.redo);

    // A click on an already selected node records nothing.
    f.ed.Shape({{0.1, 0.3}, {-0.1, 0.6}});
    const uint32_t at = f.ed.m_Undo.CurrentIndex();
    f.ed.Down(f.ed.At(0).x, f.ed.At(0).y);
    f.ed.Up();
    EXPECT_EQ(f.ed.m_Undo.CurrentIndex(), at);
    // One that changes the selection records one step.
    f.ed.Down(f.ed.At(0).x, f.ed.At(0).y, E::KM_COMMAND);
    f.ed.Up();
    EXPECT_EQ(f.ed.m_Undo.CurrentIndex(), at + 1);

    // 250 steps; 200 undos reach step 50; the 201st is refused.
    for (int i = 1; i <= 250; ++i)
        f.ed.Shape({{0.1, i / 1000.0}});
    for (int i = 0; i < 200; ++i)
        f.ed.opUndo();
    EXPECT_DOUBLE_EQ(f.ed.m_Shape.pos[0].U, 50 / 1000.0);
    EXPECT_FALSE(f.ed.m_Ctl.undo);
    f.ed.opUndo();
    EXPECT_DOUBLE_EQ(f.ed.m_Shape.pos[0].U, 50 / 1000.0);
    EXPECT_TRUE(f.ed.m_Ctl.redo);
    f.ed.opRedo();
    EXPECT_DOUBLE_EQ(f.ed.m_Shape.pos[0].U, 51 / 1000.0);

    // An edit after an undo drops the redo steps.
    f.ed.opFlipH();
    EXPECT_FALSE(f.ed.m_Ctl.redo);
    EXPECT_TRUE(f.ed.m_Ctl.undo);
    // A load records a step even when the shape is the same.
    const uint32_t before = f.ed.m_Undo.CurrentIndex();
    f.ed.opSetShapeFromData(f.ed.m_Shape, 1);
    EXPECT_EQ(f.ed.m_Undo.CurrentIndex(), before + 1);
}

TEST(CutterUndo, NotANumberNeverComparesEqual)
{
    SPLINE a{};
    a.nodeCount = 1;
    a.pos[0] = {std::nan(""), 0.5};
    EXPECT_FALSE(CKnifeShapeUndo::Equal(a, a));
    CKnifeShapeUndo u;
    u.Init(a);
    EXPECT_TRUE(u.OnNewOperation(a, true));
}

TEST(CutterMenus, ShapeMenuStatesFollowTheSelection)
{
    struct Case {
        std::vector<uint32_t> sel;
        bool selectAll, deselect, align, distribute;
    };
    const Case cases[] = {
        {{}, true, false, false, false},
        {{0, 1}, true, true, true, false},
        {{0, 1, 2}, false, true, true, true},
    };
    for (const Case& c : cases) {
        Fixture f;
        f.ed.Shape({{0.1, 0.2}, {0.0, 0.5}, {-0.1, 0.8}});
        std::fill(std::begin(f.ed.m_Shape.selected), std::end(f.ed.m_Shape.selected), uint8_t(0));
        for (uint32_t i : c.sel)
            f.ed.m_Shape.selected[i] = 1;
        std::map<uint16_t, E::MENUITEM> byId;
        for (const E::MENUITEM& m : f.ed.ShapeMenu())
            byId[m.id] = m;
        EXPECT_EQ(byId[E::ID_SELECT_ALL].enabled, c.selectAll);
        EXPECT_EQ(byId[E::ID_DESELECT].enabled, c.deselect);
        EXPECT_EQ(byId[E::ID_DELETE].enabled, c.deselect);
        EXPECT_EQ(byId[E::ID_ALIGN_FIRST + 3].enabled, c.align);
        EXPECT_EQ(byId[E::ID_DISTRIBUTE_H].enabled, c.distribute);
        EXPECT_TRUE(byId[E::ID_UNDO].enabled);  // the shape was set
        EXPECT_FALSE(byId[E::ID_REDO].enabled);
        EXPECT_TRUE(byId[E::ID_EXTRAS].checked);
    }
    Fixture f;
    const qntPOS p = f.ed.ShapeMenuPoint(E::kShapeMenuAtPreview);
    EXPECT_EQ(p.x, kPreview.left);
    EXPECT_EQ(p.y, kPreview.top);
    // The clone menu: three separators, the current mode checked.
    f.ed.SetCloneMode(3);
    int seps = 0, checked = -1;
    for (const E::MENUITEM& m : f.ed.CloneMenu()) {
        seps += m.id == 0;
        if (m.checked)
            checked = m.id;
    }
    EXPECT_EQ(seps, 3);
    EXPECT_EQ(checked, E::ID_CLONE_FIRST + 3);
}

TEST(CutterMenus, ShortcutsAndCommands)
{
    Fixture f;
    f.ed.Shape({{0.1, 0.2}, {0.0, 0.5}, {-0.1, 0.8}});
    auto sc = [&](uint32_t id) { return f.ed.OnCtrlMessage(E::MSG_SHORTCUT, id, nullptr, 0, nullptr); };
    sc(11);
    EXPECT_EQ(f.ed.GetSelectedNodesCount(), 0u);
    f.ed.m_Shape.selected[1] = 1;
    sc(10);
    EXPECT_EQ(f.ed.GetSelectedNodesCount(), 2u);
    sc(2);
    EXPECT_EQ(f.ed.GetSelectedNodesCount(), 3u);
    sc(1);
    EXPECT_FALSE(f.ed.m_bExtrasVisible);
    sc(8);
    EXPECT_TRUE(f.ed.m_bExtrasVisible);
    EXPECT_EQ(f.link.forwarded, 0);
    EXPECT_TRUE(sc(12));
    EXPECT_EQ(f.link.forwarded, 1);
    // Pop-up ids outside the table are not handled, unless they are the
    // help menu's.
    EXPECT_FALSE(f.ed.OnCommand(40));
    const uint16_t help = 5;
    EXPECT_FALSE(f.ed.OnCtrlMessage(E::MSG_POPUP, 0, "Menu", E::CT_MENU, &help));
    struct Help : Editor {
        bool view_HelpMenuDispatcher(uint16_t id) override { return id == 5; }
    } h;
    ASSERT_TRUE(h.OnCreate(kPreview, 1));
    EXPECT_TRUE(h.OnCtrlMessage(E::MSG_POPUP, 0, "Menu", E::CT_MENU, &help));
    f.ed.Popup(E::ID_DELETE);
    EXPECT_EQ(f.ed.m_Shape.nodeCount, 0);
    f.ed.Popup(E::ID_UNDO);
    EXPECT_EQ(f.ed.m_Shape.nodeCount, 3);
    // Forward delete removes the selection.
    f.ed.OnKeyDown(E::KEY_FORWARD_DELETE, 0);
    EXPECT_EQ(f.ed.m_Shape.nodeCount, 0);
}

// Every operation that may tell the main window of the shape.
void RunEveryEdit(Fixture& f)
{
    f.ed.Shape({{0.1, 0.2}, {0.0, 0.5}, {-0.1, 0.8}});
    f.ed.Down(f.ed.At(0).x, f.ed.At(0).y);
    f.ed.Move(f.ed.At(0).x + 5, f.ed.At(0).y + 5);
    f.ed.Up();
    f.ed.opSetSmoothness(0.7, 1);
    f.ed.opReclone();
    f.ed.opAlign(0);
    f.ed.opDistribute(1);
    f.ed.opUndo();
    f.ed.opRedo();
    f.ed.Down(f.ed.At(1).x, f.ed.At(1).y);
    f.ed.Move(f.ed.At(1).x + 5, f.ed.At(1).y);
    f.ed.DoEsc();
    f.ed.opFlipH();
    f.ed.opFlipU();
    f.ed.opSetShapeFromData(f.ed.m_Shape, 1);
    f.ed.opDelSelectedNodes();
}

TEST(CutterClone, ModeZeroSendsNothingTheOthersSendEveryEdit)
{
    Fixture off;
    off.ed.SetCloneMode(0);
    RunEveryEdit(off);
    EXPECT_EQ(off.link.Count("shape") + off.link.Count("flipH") + off.link.Count("flipU"), 0u);
    EXPECT_FALSE(off.ed.m_Ctl.reClone);

    Fixture on;
    on.ed.SetCloneMode(2);
    ASSERT_EQ(on.link.Count("shape"), 1u);  // the mode change itself, selected nodes only
    EXPECT_EQ(on.link.calls[0].a, 1u);
    EXPECT_EQ(on.link.calls[0].b, 1u);      // with a cut-map undo step
    RunEveryEdit(on);
    // drag, smoothness, reclone, align, distribute, undo, redo, Esc, load, delete
    EXPECT_EQ(on.link.Count("shape"), 11u);
    EXPECT_EQ(on.link.Count("flipH"), 1u);
    EXPECT_EQ(on.link.Count("flipU"), 1u);
    EXPECT_EQ(on.ed.m_Ctl.cloneDisplay, "Cloning with LOW mutation");
}

TEST(CutterClone, AmountsTravelAsSHUAndNoCloningKeepsThem)
{
    Fixture f;
    f.ed.Custom(0.1f, 0.2f, 0.3f);  // S, U, H
    ASSERT_FALSE(f.link.calls.empty());
    f.ed.opFlipH();
    f.ed.opFlipU();
    for (const auto& c : f.link.calls) {
        EXPECT_FLOAT_EQ(c.s, 0.1f) << c.what;
        EXPECT_FLOAT_EQ(c.h, 0.3f) << c.what;
        EXPECT_FLOAT_EQ(c.u, 0.2f) << c.what;
    }
    float s, h, u;
    f.ed.GetMutation(s, h, u);
    EXPECT_FLOAT_EQ(h, 0.3f);
    EXPECT_FLOAT_EQ(u, 0.2f);
    f.ed.Popup(E::ID_CLONE_FIRST + 0);
    EXPECT_EQ(f.ed.m_nCloneMode, 0u);
    EXPECT_FLOAT_EQ(f.ed.m_fMutH, 0.3f);
    f.ed.Popup(E::ID_CLONE_FIRST + 4);
    EXPECT_FLOAT_EQ(f.ed.m_fMutS, 0.6f);
    EXPECT_FLOAT_EQ(f.ed.m_fMutU, 0.35f);
}

TEST(CutterClone, TheLayoutModelMutatesOnlyTheAxisAsked)
{
    // Through the real layout model: an amount given for H alone moves no
    // U, one for U alone moves no H. A swap on the way would show.
    struct Case {
        float s, u, h;
        bool hMoves, uMoves;
    };
    for (const Case c : {Case{0, 0, 0.5f, true, false}, Case{0, 0.5f, 0, false, true}}) {
        CutRig rig(400, 300, 3, 3);
        MainModel& main = rig.main;
        Editor& ed = rig.ed;
        ed.Custom(c.s, c.u, c.h);
        bool hMoved = false, uMoved = false;
        const SPLINE& sh = ed.m_Shape;
        main.i_ForEachKnife([&](const CWnd_MainModel::KNIFESTRUCT& k, uint32_t) {
            for (uint32_t i = 0; i < k.nodeCount; ++i) {
                hMoved |= k.H[i] != float(sh.pos[i].H);
                uMoved |= k.U[i] != float(sh.pos[i].U);
            }
        });
        EXPECT_EQ(hMoved, c.hMoves);
        EXPECT_EQ(uMoved, c.uMoves);
    }
}

TEST(CutterLayout, RowsSliderLinksWithShiftOrTheLinkBox)
{
    struct Case {
        uint8_t keys, link;
        uint32_t columnsShown;
    };
    for (const Case c : {Case{0, 0, 4}, Case{E::KM_SHIFT, 0, 7}, Case{0, 1, 7}}) {
        Fixture f;
        f.ed.m_Ctl.columnsSlider = 4;
        f.ed.m_nKeys = c.keys;
        const uint8_t on = c.link;
        f.ed.OnCtrlMessage(E::MSG_CLICK, 0, "Cutter_LinkRC", E::CT_CHECK, &on);
        f.ed.Slider("Cutter_Rows", 9, false);
        ASSERT_EQ(f.link.calls.back().what, "showlines");
        EXPECT_EQ(f.link.calls.back().a, 9u);
        EXPECT_EQ(f.link.calls.back().b, c.columnsShown);
        f.ed.m_Ctl.columnsSlider = 5;
        f.ed.Slider("Cutter_Rows", 9, true);  // released: no linking
        EXPECT_EQ(f.link.calls.back().what, "rowscols");
        EXPECT_EQ(f.link.calls.back().b, 5u);
    }
}

TEST(CutterLayout, EditsClampAndSendOnLeaving)
{
    struct Case {
        const char* name;
        const char* text;
        uint32_t slider;
        const char* sent;
        uint32_t a, b;
    };
    const uint32_t none = CCutterMainLink::kNotGiven;
    const Case cases[] = {
        {"Cutter_Rows", "0", 1, "rowscols", 1, none},
        {"Cutter_Rows", "250", kQnMostGridCells, "rowscols", kQnMostGridCells, none},
        {"Cutter_Columns", "", 1, "rowscols", none, 1},
        {"Cutter_KnifeTh", "-4", 1, "thickness", 1, 1},
        {"Cutter_TipsSize", "99999999999999", kQnMostKnob, "knob", kQnMostKnob, 0},
        {"Cutter_TipsSize", "0", kQnLeastKnob, "knob", kQnLeastKnob, 0},
    };
    for (const Case& c : cases) {
        Fixture f;
        f.ed.Edit(c.name, c.text);
        EXPECT_TRUE(f.link.calls.empty()) << c.text;
        f.ed.OnCtrlLostFocus(c.name, c.text);
        ASSERT_EQ(f.link.calls.size(), 1u) << c.text;
        EXPECT_EQ(f.link.calls[0].what, c.sent);
        EXPECT_EQ(f.link.calls[0].a, c.a);
        EXPECT_EQ(f.link.calls[0].b, c.b);
        const uint32_t shown = std::string(c.name) == "Cutter_Rows" ? f.ed.m_Ctl.rowsSlider
                               : std::string(c.name) == "Cutter_Columns" ? f.ed.m_Ctl.columnsSlider
                               : std::string(c.name) == "Cutter_KnifeTh" ? f.ed.m_Ctl.thicknessSlider
                                                                           : f.ed.m_Ctl.knobSlider;
        EXPECT_EQ(shown, c.slider);
    }
}

TEST(CutterLayout, MainWindowValuesComeBackWithoutEcho)
{
    Fixture f;
    f.ed.NotifiedByMain_NewKnobSize(40, 1);
    EXPECT_EQ(f.ed.m_Ctl.knobEdit, " ???");
    EXPECT_EQ(f.ed.m_Ctl.knobSlider, 40u);
    f.ed.NotifiedByMain_NewKnobSize(140, 0);
    EXPECT_EQ(f.ed.m_Ctl.knobEdit, "100");
    f.ed.NotifiedByMain_NewThickness(0, 0, 0);
    EXPECT_EQ(f.ed.m_Ctl.thicknessEdit, "1");
    EXPECT_TRUE(f.ed.m_Ctl.thicknessEnabled);
    EXPECT_TRUE(f.link.calls.empty());
    // The user's own razor cut does reach the main window.
    const uint8_t on = 1;
    f.ed.OnCtrlMessage(E::MSG_CLICK, 0, "Cutter_RazorCut", E::CT_CHECK, &on);
    EXPECT_FALSE(f.ed.m_Ctl.thicknessEnabled);
    ASSERT_EQ(f.link.Count("thickness"), 1u);
    EXPECT_EQ(f.link.calls.back().b, 1u);
    // Rows from the main window show without changing the stored value.
    f.ed.ExtSetRows(0);
    EXPECT_EQ(f.ed.m_Ctl.rowsSlider, 1u);
    f.ed.ExtSetColumns(300);
    EXPECT_EQ(f.ed.m_Ctl.columnsEdit, std::to_string(kQnMostGridCells));
}

}  // namespace
