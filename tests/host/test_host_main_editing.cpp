// Editing in the main window, headless, through the plug-in's real window
// and resource file: injected presses, drags, keys and menu choices reach the
// cut map (and, in piece mode, a recording piece map); every edit is undone
// exactly; shortcuts come through the accelerator table; documents go
// through scripted file dialogs.
#include "host_test_support.h"

#include "app/App.h"
#include "app/InteractiveRoad.h"
#include "platform/Headless.h"
#include "ui/Control.h"
#include "ui/CtrlSlider.h"
#include "ui/KeyCodes.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>

namespace {

using namespace hosttest;
using plat::mods::Command;
using plat::mods::Option;
using plat::mods::Shift;

const std::string kResourceFile = std::string(TESSOLO_BINARY_DIR) + "/resource_ts31_d.qns4";

// The preview is 680 x 508 at (26, 52): a picture of that size opens at
// actual pixels, so image pixel (x, y) is window point (26 + x, 52 + y).
constexpr int kW = 680, kH = 508, kLeft = 26, kTop = 52;

std::vector<uint8_t> Block(CWnd_Main& w)
{
    CQNF_Mem m;
    uint32_t n = 0;
    EXPECT_TRUE(w.settings_SaveCurLayoutAndCellSettingsToMem(&m, n));
    return std::vector<uint8_t>(m.GetPtr(), m.GetPtr() + n);
}

// A piece map of 4 x 4 pieces of 170 x 127 image pixels that records what the
// window asked of it.
class FakePieces : public CMainPieceMap {
public:
    std::vector<std::string> calls;
    std::set<uint32_t> selected, hidden;
    uint32_t anchor = kNone;
    bool lines = false;

    uint32_t GetPieceCount() const override { return 16; }
    uint32_t GetPieceByXY(int32_t x, int32_t y) const override
    {
        if (x < 0 || y < 0 || x >= kW || y >= kH)
            return kNone;
        return uint32_t(x / 170 + 4 * (y / 127));
    }
    bool IsPieceSelected(uint32_t p) const override { return selected.count(p) != 0; }
    bool IsPieceHidden(uint32_t p) const override { return hidden.count(p) != 0; }
    uint8_t GetPieceOpacity(uint32_t p) const override { return p == 5 ? 128 : 255; }
    bool HasSplitterPiece() const override { return lines; }
    bool EffectClipboardEmpty() const override { return true; }
    bool ExtrasShown() const override { return true; }
    uint16_t i_pmfx_GetFXOnSelection(uint32_t) const override { return 0; }
    uint32_t GetAnchor() const override { return anchor; }
    void SetAnchor(uint32_t p) override { anchor = p; }
    void SetMenuContext(uint32_t p, uint16_t) override { Log("menu " + std::to_string(p)); }
    void pmop_Sel_SetSelectionToPiece(uint32_t p, uint8_t add, uint8_t remove, uint8_t) override
    {
        if (!add && !remove)
            selected = {p};
        else if (add)
            selected.insert(p);
        else
            selected.erase(p);
        Log("piece " + std::to_string(p) + " " + std::to_string(add) + std::to_string(remove));
    }
    void pmop_Sel_SelectAllPieces(uint8_t) override { Log("all"); }
    void pmop_Sel_DeselectAllPieces(uint8_t) override
    {
        selected.clear();
        Log("none");
    }
    void pmop_Sel_InvertPiecesSelection(uint8_t) override { Log("invert"); }
    void pmop_Sel_RandomSelection(uint8_t s, uint8_t) override { Log("random " + std::to_string(s)); }
    void pmop_Sel_AllHidenOrShown(uint8_t h, uint8_t) override { Log("hidden " + std::to_string(h)); }
    void pmop_Sel_PieceBlockSelection(uint8_t add, uint8_t remove, uint32_t a, uint32_t b, uint8_t) override
    {
        Log("block " + std::to_string(a) + "-" + std::to_string(b) + " " + std::to_string(add) +
            std::to_string(remove));
    }
    void pmop_Sel_SelectRectLocal(qntRECT_s r, uint8_t add, uint8_t remove, uint8_t) override
    {
        Log("rect " + std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right) + "," +
            std::to_string(r.bottom) + " " + std::to_string(add) + std::to_string(remove));
    }
    void pmop_Sel_SelectFreeRgnLocal(const std::vector<uint32_t>& pts, uint8_t add, uint8_t remove, uint8_t) override
    {
        lasso = pts;
        Log("lasso " + std::to_string(pts.size()) + " " + std::to_string(add) + std::to_string(remove));
    }
    void pmop_LoadSelection(uint8_t) override { Log("load"); }
    void i_pmop_PrepareSelLayer() override { Log("outline"); }
    void i_pmop_RedrawDragSelection(qntPOS, qntPOS, bool, const std::vector<uint32_t>&) override { ++redraws; }
    void i_pmop_HideDragSelection() override { Log("hide outline"); }
    void pmop_ShowHideSelectedPieces(uint8_t s, uint8_t) override { Log("show " + std::to_string(s)); }
    void pmop_ShowHidePiece(uint32_t p, uint8_t s, uint8_t) override
    {
        Log("show " + std::to_string(p) + " " + std::to_string(s));
    }
    void pmop_ReverseShownHidden(uint8_t) override { Log("reverse"); }
    void pmop_Extras(uint8_t s, uint8_t) override { Log("extras " + std::to_string(s)); }
    void pmfx_SwitchFX(uint8_t bit, uint8_t ex, uint8_t v) override
    {
        Log("fx " + std::to_string(bit) + " " + std::to_string(ex) + std::to_string(v));
    }
    void pmop_CopyAdjustments(uint32_t) override { Log("copy"); }
    void pmop_PasteAdjustments(uint32_t) override { Log("paste"); }
    void pmop_ResetAdjustments() override { Log("reset"); }
    void pmfx_DoEffect(uint8_t bit) override { Log("open " + std::to_string(bit)); }
    void unpm_PreSave() override { ++preSaves; }
    void unpm_SaveState(uint8_t) override { ++saves; }
    void unpm_Restore() override { Log("undo"); }
    bool unpm_HasStep() const override { return saves > 0; }

    int redraws = 0, preSaves = 0, saves = 0;
    std::vector<uint32_t> lasso;

private:
    void Log(const std::string& s) { calls.push_back(s); }
};

// The plug-in's interactive Start with a headless backend; steps run one per
// wait of the window's loop, each seeing what the steps before it caused.
class MainRun {
public:
    PluginHarness h;
    plat::HeadlessPlatform hp;
    CAppRoad road;
    CApp* app = nullptr;

    MainRun()
    {
        std::filesystem::copy_file(kResourceFile, h.File(CAppRoad::kResourceFile));
        road.SetPlatform(&hp);
        road.onBeforeRun = [this](CApp& a) { app = &a; };
        h.plugin->SetInteractiveRoad(&road);
        Do([this] { hp.Activate(W().GetWindowHandle()); });
    }
    ~MainRun() { h.plugin->SetInteractiveRoad(nullptr); }

    CWnd_Main& W() { return app->m_WndMain; }
    plat::Point G(int x, int y)
    {
        const plat::Rect r = hp.ContentRect(W().GetWindowHandle());
        return {r.left + x, r.top + y};
    }
    void Do(std::function<void()> f) { hp.Script(std::move(f)); }
    // Pointer and keys; mods are held from the press to the next Keys().
    void Press(int x, int y, uint8_t mods = 0)
    {
        Do([=, this] {
            hp.SetKeyState(mods);
            hp.MoveMouse(G(x, y));
            hp.Press(1, mods);
        });
    }
    void Move(int x, int y) { Do([=, this] { hp.MoveMouse(G(x, y)); }); }
    // The pointer moves first only when it is elsewhere, as a real one would.
    void Release(int x, int y)
    {
        Do([=, this] {
            const plat::Point g = G(x, y);
            if (g.x != hp.PointerGlobal().x || g.y != hp.PointerGlobal().y)
                hp.MoveMouse(g);
            hp.Release(1, uint8_t(hp.KeyState() & 0x0F));
        });
    }
    void Click(int x, int y, uint8_t mods = 0)
    {
        Press(x, y, mods);
        Release(x, y);
        Keys(0);
    }
    void Keys(uint32_t state) { Do([=, this] { hp.SetKeyState(state); }); }
    void Key(uint8_t vkey, uint8_t ch, uint8_t mods = 0) { Do([=, this] { hp.Key(vkey, ch, mods); }); }
    // Ends with Cancel; the run's result.
    int16_t Run(int w = kW, int h_ = kH)
    {
        Do([this] { W().OnButton("Main_Cancel"); });
        StandInHost host(Document(ColorMode::RGB, w, h_, false), HostSettings{});
        const int16_t r = h.Run(host, StandInHost::Sequence::Dialog);
        EXPECT_EQ(hp.ScriptLeft(), 0u);
        return r;
    }
};

bool HasResources() { return std::filesystem::exists(kResourceFile); }

#define NEED_RESOURCES()                                         \
    if (!HasResources())                                         \
    FAIL() << "no compiled resource file in this build"

// A window point on knife id, a fraction along its drawn line.
plat::Point OnKnife(CWnd_Main& w, uint32_t id, double along)
{
    const CWnd_MainModel::KNIFESTRUCT* k = w.GetKnifeById(id);
    EXPECT_TRUE(k && k->points && k->pointCount > 1);
    if (!k || !k->points || k->pointCount < 2)
        return {0, 0};
    const qntFPOS* p = reinterpret_cast<const qntFPOS*>(k->points->GetPtr());
    const qntFPOS q = p[size_t(along * (k->pointCount - 1))];
    return {kLeft + int(q.x + 0.5), kTop + int(q.y + 0.5)};
}

}  // namespace

TEST(MainEditing, KnotDragsFollowTheBorderRulesAndUndoExactly)
{
    NEED_RESOURCES();
    MainRun r;
    std::vector<uint8_t> before;
    // The default layout: one column and one row splitter at the middle;
    // knot 4 is the middle crossing, knot 3 the left end of the row.
    const int cx = kLeft + kW / 2, cy = kTop + kH / 2;
    r.Do([&] {
        ASSERT_EQ(r.W().m_nColSplitters, 1);
        ASSERT_EQ(r.W().m_nRowSplitters, 1);
        before = Block(r.W());
    });
    r.Press(cx, cy);
    r.Do([&] {
        EXPECT_TRUE(r.W().GetGesture().knotDrag);
        EXPECT_EQ(r.W().GetGesture().dragKnot, 4u);
    });
    r.Move(cx + 85, cy - 127 / 2);
    r.Do([&] {
        // A quarter of the gap to the right border, half of the gap upwards.
        EXPECT_NEAR(r.W().m_Knots[4].dx, 0.25, 0.01);
        EXPECT_NEAR(r.W().m_Knots[4].dy, -0.25, 0.01);
    });
    r.Move(cx + 5000, cy + 5000);
    r.Release(cx + 5000, cy + 5000);
    r.Do([&] {
        EXPECT_EQ(r.W().m_Knots[4].dx, 1.0f);
        EXPECT_EQ(r.W().m_Knots[4].dy, 1.0f);
        EXPECT_FALSE(r.W().GetGesture().knotDrag);
        EXPECT_NE(Block(r.W()), before);
    });
    r.Key(qnkey::vk::Z, 'z', Command);
    r.Do([&] { EXPECT_EQ(Block(r.W()), before); });
    // A border knot moves only along the border.
    r.Press(kLeft, cy);
    r.Move(kLeft + 200, cy + 60);
    r.Release(kLeft + 200, cy + 60);
    r.Do([&] {
        EXPECT_EQ(r.W().m_Knots[3].dx, 0.0f);
        EXPECT_GT(r.W().m_Knots[3].dy, 0.0f);
    });
    r.Key(qnkey::vk::Z, 'z', Command);
    r.Do([&] { EXPECT_EQ(Block(r.W()), before); });
    // A press without moving selects the knot; a corner knot is never dragged.
    r.Click(cx, cy);
    r.Do([&] {
        EXPECT_EQ(r.W().m_nSelKnots, 1u);
        EXPECT_EQ(r.W().m_SelKnot1, 4u);
        EXPECT_EQ(Block(r.W()), before);
    });
    r.Press(kLeft, kTop);
    r.Do([&] {
        EXPECT_FALSE(r.W().GetGesture().knotDrag);
        EXPECT_EQ(r.W().m_nSelKnots, 2u);
        // Two knots that can carry an extra knife: Add Knives is on, "+" adds one.
        EXPECT_TRUE(r.W().FindControl("Main_AddKnives", qnctl::Button)->IsEnabled());
    });
    r.Release(kLeft, kTop);
    // Esc drops the last selected knot; selecting it again brings "+" back.
    r.Key(qnkey::vk::Escape, 27);
    r.Do([&] {
        EXPECT_EQ(r.W().m_nSelKnots, 1u);
        EXPECT_FALSE(r.W().FindControl("Main_AddKnives", qnctl::Button)->IsEnabled());
    });
    r.Key(24, '+');
    r.Do([&] { EXPECT_EQ(r.W().m_nAuxKnives, 0u); });
    r.Click(kLeft, kTop);
    r.Key(24, '+');
    r.Do([&] { EXPECT_EQ(r.W().m_nAuxKnives, 1u); });
    r.Key(qnkey::vk::Z, 'z', Command);
    r.Do([&] { EXPECT_EQ(r.W().m_nAuxKnives, 0u); });
    // Command-click on a moved knot puts it back in one undo step.
    r.Press(cx, cy);
    r.Move(cx + 40, cy);
    r.Release(cx + 40, cy);
    r.Do([&] { EXPECT_GT(r.W().m_Knots[4].dx, 0.0f); });
    r.Click(cx + 40, cy, Command);
    r.Do([&] { EXPECT_EQ(r.W().m_Knots[4].dx, 0.0f); });
    r.Key(qnkey::vk::Z, 'z', Command);
    r.Do([&] { EXPECT_GT(r.W().m_Knots[4].dx, 0.0f); });
    EXPECT_EQ(r.Run(), userCanceledErr);
}

TEST(MainEditing, SplitterDragStopsBeforeItsNeighbourAndAtTheBorder)
{
    NEED_RESOURCES();
    MainRun r;
    std::vector<uint8_t> before;
    const int rulerY = 36 + 3;  // the handles sit 3 pixels into the ruler
    r.Do([&] {
        CWnd_Main& w = r.W();
        w.spl_SplitEvenParts(3, 2, 1, 1);
        w.DoRedrawOverlay();
        ASSERT_EQ(w.m_nColHandles, 2);
        before = Block(w);
    });
    const int h0 = kLeft + int(kW / 3.0f);
    r.Press(h0, rulerY);
    r.Do([&] {
        EXPECT_TRUE(r.W().GetGesture().splitterDrag);
        EXPECT_EQ(r.hp.cursor, 138);
    });
    r.Move(h0 + 600, rulerY + 100);
    r.Do([&] {
        // Three image pixels before the second splitter.
        EXPECT_NEAR(r.W().m_ColSplitters[0], r.W().m_ColSplitters[1] - 3.0 / kW, 1e-6);
    });
    r.Move(h0 - 600, rulerY);
    r.Release(h0 - 600, rulerY);
    r.Do([&] {
        EXPECT_EQ(r.W().m_ColSplitters[0], 0.0f);
        EXPECT_FALSE(r.W().GetGesture().splitterDrag);
    });
    r.Key(qnkey::vk::Z, 'z', Command);
    r.Do([&] { EXPECT_EQ(Block(r.W()), before); });
    // Command-Option on a handle deletes its splitter; Undo brings it back.
    r.Click(h0, rulerY, Command | Option);
    r.Do([&] { EXPECT_EQ(r.W().m_nColSplitters, 1); });
    r.Key(qnkey::vk::Z, 'z', Command);
    r.Do([&] { EXPECT_EQ(Block(r.W()), before); });
    // A row handle: Shift selects the knives of its splitter.
    r.Click(10 + 3, kTop + kH / 2, Shift);
    r.Do([&] {
        uint32_t selected = 0;
        r.W().i_ForEachKnife([&](const CWnd_MainModel::KNIFESTRUCT& k, uint32_t id) {
            if (k.selected) {
                ++selected;
                EXPECT_GE(id, CWnd_MainModel::kRowKnifeId);
            }
        });
        EXPECT_EQ(selected, 3u);  // three columns of cells
    });
    EXPECT_EQ(r.Run(), userCanceledErr);
}

TEST(MainEditing, KnifeClicksWithEachModifierAndUndo)
{
    NEED_RESOURCES();
    MainRun r;
    struct Case {
        uint32_t knife;
        uint8_t mods;
        const char* what;
        std::function<void(CWnd_Main&)> check;
    };
    const uint32_t row = CWnd_MainModel::kRowKnifeId;
    auto selectedIds = [](CWnd_Main& w) {
        std::vector<uint32_t> ids;
        w.i_ForEachKnife([&](const CWnd_MainModel::KNIFESTRUCT& k, uint32_t id) {
            if (k.selected)
                ids.push_back(id);
        });
        return ids;
    };
    const std::vector<Case> cases = {
        {0, 0, "plain: only that knife",
         [&](CWnd_Main& w) { EXPECT_EQ(selectedIds(w), (std::vector<uint32_t>{0})); }},
        {row + 1, Command, "Command adds",
         [&](CWnd_Main& w) { EXPECT_EQ(selectedIds(w), (std::vector<uint32_t>{0, row + 1})); }},
        {0, Command, "Command toggles off",
         [&](CWnd_Main& w) { EXPECT_EQ(selectedIds(w), (std::vector<uint32_t>{row + 1})); }},
        {1, Command | Shift, "Command-Shift flips across",
         [&](CWnd_Main& w) { EXPECT_EQ(w.m_ColKnives[1].flipH, 1); }},
        {1, Command | Shift | Option, "Command-Shift-Option flips along",
         [&](CWnd_Main& w) { EXPECT_EQ(w.m_ColKnives[1].flipU, 1); }},
        {0, Shift, "Shift selects the block from the anchor",
         [&](CWnd_Main& w) { EXPECT_GE(selectedIds(w).size(), 2u); }},
    };
    std::vector<uint8_t> before;
    for (const Case& c : cases) {
        r.Do([&] { before = Block(r.W()); });
        r.Do([&, c] {
            const plat::Point p = OnKnife(r.W(), c.knife, 0.2);
            r.hp.SetKeyState(c.mods);
            r.hp.MoveMouse(r.G(p.x, p.y));
            r.hp.Press(1, c.mods);
            r.hp.Release(1, c.mods);
        });
        r.Keys(0);
        r.Do([&, c] {
            SCOPED_TRACE(c.what);
            c.check(r.W());
            // The selection drives the controls: Off is on for shown knives.
            EXPECT_TRUE(r.W().FindControl("Main_Hide", qnctl::Button)->IsEnabled());
        });
        // Undo, then redo with a second undo: the step swaps exactly.
        r.Key(qnkey::vk::Z, 'z', Command);
        r.Do([&, c] { EXPECT_EQ(Block(r.W()), before) << c.what; });
        r.Key(qnkey::vk::Z, 'z', Command);
    }
    // Empty space: a modifier changes nothing; a plain click deselects all.
    const int ex = kLeft + 80, ey = kTop + 60;
    r.Do([&] { before = Block(r.W()); });
    r.Click(ex, ey, Command);
    r.Do([&] { EXPECT_EQ(Block(r.W()), before); });
    r.Click(ex, ey);
    r.Do([&] {
        EXPECT_TRUE(selectedIds(r.W()).empty());
        EXPECT_EQ(r.W().m_Anchor.knife, CWnd_MainModel::kNone);
    });
    // Delete turns every knife off (no selection: all are considered), Backspace on.
    r.Key(qnkey::vk::ForwardDelete, 0);
    r.Do([&] { EXPECT_EQ(r.W().m_ColKnives[0].off, 1); });
    r.Key(qnkey::vk::Backspace, 8);
    r.Do([&] { EXPECT_EQ(r.W().m_ColKnives[0].off, 0); });
    EXPECT_EQ(r.Run(), userCanceledErr);
}

TEST(MainEditing, ShortcutsReachTheirOperationsThroughTheAcceleratorTable)
{
    NEED_RESOURCES();
    MainRun r;
    auto count = [](CWnd_Main& w, bool selected) {
        uint32_t n = 0;
        w.i_ForEachKnife([&](const CWnd_MainModel::KNIFESTRUCT& k, uint32_t) { n += (k.selected != 0) == selected; });
        return n;
    };
    struct Case {
        uint8_t vkey;
        char ch;
        uint8_t mods;
        const char* what;
        std::function<void(CWnd_Main&)> check;
    };
    // vkeys of a US layout: F 3, H 4, M 46, I 34, 0 29, = 24, - 27, [ 33, ] 30.
    const std::vector<Case> cases = {
        {qnkey::vk::A, 'a', Command, "select all", [&](CWnd_Main& w) { EXPECT_EQ(count(w, false), 0u); }},
        {3, 'f', Command, "flip H", [](CWnd_Main& w) { EXPECT_EQ(w.m_ColKnives[0].flipH, 1); }},
        {3, 'f', Command | Shift, "flip U", [](CWnd_Main& w) { EXPECT_EQ(w.m_ColKnives[0].flipU, 1); }},
        {qnkey::vk::D, 'd', Command, "deselect", [&](CWnd_Main& w) { EXPECT_EQ(count(w, true), 0u); }},
        {34, 'i', Command | Shift, "inverse", [&](CWnd_Main& w) { EXPECT_EQ(count(w, false), 0u); }},
        {30, ']', Command, "deselect random", [&](CWnd_Main& w) { EXPECT_GT(count(w, false), 0u); }},
        {4, 'h', Command, "extras off", [](CWnd_Main& w) { EXPECT_EQ(w.m_bCMExtras, 0); }},
        {4, 'h', Command, "extras on", [](CWnd_Main& w) { EXPECT_EQ(w.m_bCMExtras, 1); }},
        {24, '=', Command, "zoom in", [](CWnd_Main& w) { EXPECT_EQ(w.GetPreview().GetZoom(), 5); }},
        {27, '-', Command, "zoom out", [](CWnd_Main& w) { EXPECT_EQ(w.GetPreview().GetZoom(), 4); }},
        {27, '-', Command, "zoom out", [](CWnd_Main& w) { EXPECT_EQ(w.GetPreview().GetZoom(), 3); }},
        {29, '0', Command | Option, "actual pixels", [](CWnd_Main& w) { EXPECT_EQ(w.GetPreview().GetZoom(), 4); }},
        {29, '0', Command, "fit on preview", [](CWnd_Main& w) { EXPECT_EQ(w.GetPreview().GetZoom(), 4); }},
    };
    for (const Case& c : cases) {
        r.Key(c.vkey, c.ch, c.mods);
        r.Do([&r, c] {
            SCOPED_TRACE(c.what);
            c.check(r.W());
        });
    }
    // Zoom stays within its steps at both ends.
    for (int i = 0; i < 6; ++i)
        r.Key(24, '=', Command);
    r.Do([&] { EXPECT_EQ(r.W().GetPreview().GetZoom(), 8); });
    r.Do([&] { EXPECT_EQ(r.W().OnShortcut(14), 1); });
    r.Do([&] { EXPECT_EQ(r.W().GetPreview().GetZoom(), 8); });
    // Save (Cmd+S) and Load (Cmd+L) open their dialogs; cancelled, nothing changes.
    r.Do([&] {
        r.hp.saveAnswers.push_back(std::nullopt);
        r.hp.openAnswers.push_back(std::nullopt);
    });
    r.Key(qnkey::vk::S, 's', Command);
    r.Key(37, 'l', Command);
    r.Do([&] {
        ASSERT_EQ(r.hp.dialogsShown.size(), 2u);
        EXPECT_EQ(r.hp.dialogsShown[0].title, "Save Document...");
        EXPECT_EQ(r.hp.dialogsShown[0].proposedName, "Untitled.qntd");
        EXPECT_EQ(r.hp.dialogsShown[1].title, "Load Document...");
    });
    EXPECT_EQ(r.Run(), userCanceledErr);
}

TEST(MainEditing, MenusShowTheirItemsAndRunTheChoice)
{
    NEED_RESOURCES();
    MainRun r;
    auto clickButton = [&](const char* name) {
        r.Do([&r, name] {
            CQNF_Control* c = r.W().FindControl(name, qnctl::Button);
            ASSERT_NE(c, nullptr);
            const qntRECT_s b = c->GetRenderRect();
            r.hp.Click(r.G((b.left + b.right) / 2, (b.top + b.bottom) / 2));
        });
    };
    auto indexOf = [](const std::vector<plat::MenuItem>& items, const char* text) {
        for (size_t i = 0; i < items.size(); ++i)
            if (items[i].text == text)
                return int(i);
        return -1;
    };
    // Adjust: Flip H, chosen by its place in the list (the first unselected
    // layout: every knife is considered).
    r.Do([&] { r.hp.menuAnswers.push_back(12); });
    clickButton("Main_Adjust");
    r.Do([&] {
        ASSERT_EQ(r.hp.menusShown.size(), 1u);
        const auto& items = r.hp.menusShown[0];
        ASSERT_EQ(indexOf(items, "Flip H"), 12);
        EXPECT_TRUE(items[12].cmd);
        EXPECT_EQ(items[12].key, "F");
        EXPECT_EQ(r.W().m_ColKnives[0].flipH, 1);
    });
    // Main: Undo is there and enabled now; choosing it undoes the flip.
    r.Do([&] { r.hp.menuAnswers.push_back(0); });
    clickButton("Main_Main");
    r.Do([&] {
        ASSERT_EQ(r.hp.menusShown.size(), 2u);
        EXPECT_EQ(r.hp.menusShown[1][0].text, "Undo");
        EXPECT_FALSE(r.hp.menusShown[1][0].disabled);
        EXPECT_EQ(r.W().m_ColKnives[0].flipH, 0);
    });
    // The preview's menu on a knife, then on empty space (the view menu);
    // the split ruler's menus on its outer half, beside a handle and on one;
    // the units on the ruler's inner half (inches need a resolution, the
    // picture has 72).
    r.Do([&] {
        for (int i = 0; i < 4; ++i)
            r.hp.menuAnswers.push_back(-1);
        r.hp.menuAnswers.push_back(1);
    });
    r.Do([&] {
        CWnd_Main& w = r.W();
        ASSERT_GT(w.m_nColHandles, 0);
        const int handleX = w.m_rcHSplitRuler.left + w.m_ColHandles[0].x;
        const int handleY = w.m_rcHSplitRuler.top + w.m_ColHandles[0].y;
        const plat::Point p = OnKnife(w, 0, 0.2);
        const plat::Point at[] = {{p.x, p.y},           {kLeft + 80, kTop + 60}, {handleX + 40, 40},
                                  {handleX, handleY}, {handleX + 40, 48}};
        for (const plat::Point& q : at) {
            r.hp.MoveMouse(r.G(q.x, q.y));
            r.hp.Press(2);
            r.hp.Release(2);
        }
    });
    r.Do([&] {
        const char* first[] = {"Add to Selection", "Actual Pixels", "Arrange", "Center", "Pixels"};
        ASSERT_EQ(r.hp.menusShown.size(), 2u + std::size(first));
        for (size_t i = 0; i < std::size(first); ++i)
            EXPECT_EQ(r.hp.menusShown[2 + i][0].text, first[i]) << i;
        EXPECT_EQ(r.W().m_nUnits, 2);
    });
    EXPECT_EQ(r.Run(), userCanceledErr);
}

TEST(MainEditing, EffectsModeRefusesEditsButKeepsTheView)
{
    NEED_RESOURCES();
    MainRun r;
    r.Do([&] {
        CWnd_Main& w = r.W();
        const std::vector<uint8_t> before = Block(w);
        w.m_bFXMode = 1;
        for (unsigned long id : {2ul, 3ul, 10ul, 11ul, 32ul, 33ul, 37ul, 41ul, 42ul})
            EXPECT_EQ(w.OnShortcut(id), 0) << id;
        for (unsigned short item : {80, 84, 88, 85, 86, 96, 110, 111})
            EXPECT_EQ(w.OnMenuCommand(item), 0) << item;
        for (const char* b : {"Main_Cancel", "Main_Apply", "Main_Show", "Main_RevShowHide"})
            EXPECT_EQ(w.OnButton(b), 0) << b;
        EXPECT_EQ(Block(w), before);
        EXPECT_TRUE(w.GetWindowHandle());
        // The view still answers.
        EXPECT_EQ(w.OnShortcut(14), 1);
        EXPECT_EQ(w.GetPreview().GetZoom(), 5);
        EXPECT_EQ(w.OnKeyDown(qnkey::Escape, 0), 0);
        w.m_bFXMode = 0;
    });
    EXPECT_EQ(r.Run(), userCanceledErr);
}

TEST(MainEditing, CursorsByZone)
{
    NEED_RESOURCES();
    MainRun r;
    struct Case {
        int x, y;
        uint32_t keys;
        int32_t cursor;
    };
    const int hx = kLeft + kW / 2, vy = kTop + kH / 2;
    const std::vector<Case> cases = {
        {hx, 39, 0, 138},                  // column handle
        {hx, 39, Option, 136},             // Option: removes from the selection
        {hx, 39, Command | Option, 141},   // deletes
        {hx + 100, 39, Command | Shift, 140},  // inserts
        {13, vy, 0, 139},                  // row handle
        {kLeft + 80, kTop + 60, 0, 136},   // the preview in cut mode
        {kLeft + 80, kTop + 60, 16, 129},  // Space: the picture fits, nothing to pan
        {kLeft + 80, kTop + 60, 16 | Command, 133},
        {kLeft + 80, kTop + 60, 16 | Option, 132},
        {800, 150, 0, 134},  // the navigator
    };
    for (const Case& c : cases) {
        r.Do([&r, c] {
            r.hp.SetKeyState(c.keys);
            r.hp.MoveMouse(r.G(c.x, c.y));
        });
        r.Do([&r, c] { EXPECT_EQ(r.hp.cursor, c.cursor) << c.x << "," << c.y << " keys " << c.keys; });
    }
    r.Keys(0);
    EXPECT_EQ(r.Run(), userCanceledErr);
}

TEST(MainEditing, PieceModeClicksRectangleLassoAndEsc)
{
    NEED_RESOURCES();
    MainRun r;
    FakePieces pm;
    // Window point of the middle of piece p.
    auto at = [](uint32_t p) { return plat::Point{kLeft + int(p % 4) * 170 + 85, kTop + int(p / 4) * 127 + 60}; };
    auto last = [&pm] { return pm.calls.empty() ? std::string() : pm.calls.back(); };
    r.Do([&] {
        r.W().m_bCutMode = 0;
        r.W().SetPieceMap(&pm);
    });
    struct Case {
        uint32_t piece;
        uint8_t mods;
        std::string expect;
    };
    const std::vector<Case> cases = {
        {5, 0, "piece 5 00"},             // only this one
        {6, Command, "piece 6 10"},       // Command adds
        {6, Command, "piece 6 01"},       // and removes
        {10, Shift, "block 6-10 10"},     // a block from the anchor (the last added)
        {15, Shift | Option, "block 10-15 01"},  // Option-Shift removes the block
    };
    for (const Case& c : cases) {
        r.Click(at(c.piece).x, at(c.piece).y, c.mods);
        r.Do([&, c] { EXPECT_EQ(last(), c.expect); });
    }
    // Empty space outside the picture: a plain click deselects all.
    r.Do([&] { pm.calls.clear(); });
    r.Do([&] { r.W().OnLMouseDown(kLeft + 5, kTop + kH + 30, 0); });
    r.Do([&] { EXPECT_TRUE(pm.calls.empty()); });  // outside the preview: nothing
    // Rectangle: 5 pixels is still a click, 6 starts the outline.
    const plat::Point p = at(0);
    r.Press(p.x, p.y);
    r.Move(p.x + 5, p.y + 5);
    r.Do([&] { EXPECT_FALSE(r.W().GetGesture().dragSelection); });
    r.Move(p.x + 6, p.y);
    r.Do([&] {
        EXPECT_TRUE(r.W().GetGesture().dragSelection);
        EXPECT_EQ(pm.calls.back(), "outline");
    });
    r.Move(p.x + 200, p.y + 150);
    r.Release(p.x + 200, p.y + 150);
    r.Do([&] {
        const int lx = p.x - kLeft, ly = p.y - kTop;
        EXPECT_EQ(pm.calls[pm.calls.size() - 2], "rect " + std::to_string(lx) + "," + std::to_string(ly) + "," +
                                                      std::to_string(lx + 201) + "," + std::to_string(ly + 151) +
                                                      " 10");
        EXPECT_EQ(last(), "hide outline");
    });
    // Lasso with Command-Shift; Option removes.
    r.Press(p.x, p.y, Command | Shift | Option);
    r.Move(p.x + 100, p.y);
    r.Move(p.x + 100, p.y + 100);
    r.Release(p.x + 100, p.y + 100);
    r.Do([&] { EXPECT_EQ(pm.calls[pm.calls.size() - 2], "lasso 3 01"); });
    // A lasso drawn out past the preview's left and top edges keeps its
    // points on the preview: none wraps round to the far side.
    r.Press(p.x, p.y, Command | Shift);
    r.Move(p.x + 30, p.y);
    r.Move(kLeft - 40, kTop - 30);
    r.Release(kLeft - 40, kTop - 30);
    r.Do([&] {
        ASSERT_EQ(pm.lasso.size(), 3u);
        EXPECT_EQ(pm.lasso[2], 0u);  // (0, 0)
        for (uint32_t v : pm.lasso) {
            EXPECT_LT(v >> 16, uint32_t(kW));
            EXPECT_LT(v & 0xFFFF, uint32_t(kH));
        }
    });
    r.Keys(0);
    // Esc during a rectangle drag ends it without selecting.
    r.Do([&] { pm.calls.clear(); });
    r.Press(p.x, p.y);
    r.Move(p.x + 50, p.y + 50);
    r.Key(qnkey::vk::Escape, 27);
    r.Release(p.x + 50, p.y + 50);
    r.Do([&] {
        EXPECT_EQ(last(), "hide outline");
        for (const std::string& s : pm.calls)
            EXPECT_NE(s.rfind("rect", 0), 0u) << "after Esc: " << s;
    });
    // Cursors over pieces: hidden 137, half transparent 142, plain 136.
    r.Do([&] { pm.hidden = {2}; });
    for (const auto& pc : {std::pair{2u, 137}, std::pair{5u, 142}, std::pair{7u, 136}}) {
        const unsigned piece = pc.first;
        const int cursor = pc.second;
        r.Do([&r, &at, piece] { r.hp.MoveMouse(r.G(at(piece).x, at(piece).y)); });
        r.Do([&r, cursor, piece] { EXPECT_EQ(r.hp.cursor, cursor) << piece; });
    }
    // Piece-mode commands reach the piece map, each as one undo step.
    r.Do([&] {
        pm.calls.clear();
        const int saves = pm.saves;
        CWnd_Main& w = r.W();
        EXPECT_EQ(w.OnShortcut(2), 1);
        EXPECT_EQ(w.OnShortcut(24), 1);
        EXPECT_EQ(w.OnMenuCommand(119), 1);
        EXPECT_EQ(w.OnShortcut(3), 1);
        EXPECT_EQ(w.OnShortcut(18), 0);  // flips are cut-mode commands
        EXPECT_EQ(pm.calls, (std::vector<std::string>{"all", "open 1", "fx 1 01", "undo"}));
        EXPECT_EQ(pm.saves, saves + 2);
        w.SetPieceMap(nullptr);
        w.m_bCutMode = 1;
    });
    EXPECT_EQ(r.Run(), userCanceledErr);
}

TEST(MainEditing, DocumentsSaveAndLoadThroughTheDialogsAndRefuseDamage)
{
    NEED_RESOURCES();
    MainRun r;
    std::vector<uint8_t> saved;
    const std::string folder = r.h.folder.path;
    r.Do([&] {
        r.hp.saveAnswers.push_back(plat::SaveChoice{folder, "layout.qntd", false});
        EXPECT_EQ(r.W().OnMenuCommand(84), 1);
        saved = Block(r.W());
    });
    r.Key(3, 'f', Command);  // flip every knife
    r.Do([&] {
        EXPECT_NE(Block(r.W()), saved);
        std::ifstream in(folder + "/layout.qntd", std::ios::binary);
        std::string head(6, '\0');
        in.read(head.data(), 6);
        EXPECT_EQ(head, "QNTS30");
        // A damaged copy: the right magic, a block cut short.
        std::filesystem::copy_file(folder + "/layout.qntd", folder + "/damaged.qntd");
        std::filesystem::resize_file(folder + "/damaged.qntd", 40);
        r.hp.openAnswers.push_back(folder + "/damaged.qntd");
        const std::vector<uint8_t> flipped = Block(r.W());
        EXPECT_EQ(r.W().OnMenuCommand(88), 1);
        ASSERT_EQ(r.hp.alerts.size(), 1u);
        EXPECT_EQ(r.hp.alerts[0].title, "Error!");
        EXPECT_EQ(r.hp.alerts[0].text.rfind("Unknown file format, or the file is damaged.", 0), 0u);
        EXPECT_EQ(Block(r.W()), flipped);
        // The good one brings the saved layout back, as one undo step.
        r.hp.openAnswers.push_back(folder + "/layout.qntd");
        EXPECT_EQ(r.W().OnMenuCommand(88), 1);
        EXPECT_EQ(Block(r.W()), saved);
        EXPECT_EQ(r.W().OnShortcut(3), 1);
        EXPECT_EQ(Block(r.W()), flipped);
    });
    EXPECT_EQ(r.Run(), userCanceledErr);
}

TEST(MainEditing, WheelZoomsSpaceIgnoresPressesAndZonesGiveTheirTips)
{
    NEED_RESOURCES();
    MainRun r;
    float length = 0;
    std::vector<uint8_t> before;
    r.Do([&] {
        length = r.W().m_ColKnives[0].length;
        before = Block(r.W());
        r.hp.MoveMouse(r.G(kLeft + kW / 2 + 7, kTop + kH / 2 + 9));
        r.hp.Wheel(1);
    });
    r.Do([&] {
        CWnd_Main& w = r.W();
        EXPECT_EQ(w.GetPreview().GetZoom(), 5);
        EXPECT_EQ(w.m_nZoom, 5);
        EXPECT_EQ(static_cast<CQNF_CtrlSlider*>(w.FindControl("Main_Zoom", qnctl::Slider))->GetValue(), 5u);
        // The knives follow the zoom at once.
        EXPECT_NEAR(w.m_ColKnives[0].length, 2 * length, 1.0);
        r.hp.Wheel(-1);
    });
    // With Space held a press pans the picture; the layout stays as it was.
    r.Do([&] {
        const plat::Point p = OnKnife(r.W(), 0, 0.2);
        r.hp.SetKeyState(plat::mods::Space);
        r.hp.MoveMouse(r.G(p.x, p.y));
        r.hp.Press(1);
        r.hp.Release(1);
    });
    r.Keys(0);
    r.Do([&] {
        EXPECT_EQ(Block(r.W()), before);
        EXPECT_EQ(r.W().GetPreview().GetZoom(), 4);
    });
    // The status zone of the status line has its tip.
    r.Move(700, 640);
    r.Do([&] {
        EXPECT_STREQ(r.W().GetFader().Pending().c_str(), CApp::GetStatusTip("Zone_Status", "Main", 2, 255));
    });
    EXPECT_EQ(r.Run(), userCanceledErr);
}

TEST(MainEditing, MinusTypedIntoTheEditLineDeletesNoKnife)
{
    NEED_RESOURCES();
    MainRun r;
    r.Do([&] {
        CWnd_Main& w = r.W();
        w.i_cmop_KnotClickToSelect(4);
        w.i_cmop_KnotClickToSelect(0);
        w.OnChangeSelectedKnots();
        w.op_AddAuxKnifeToSelectedKnots(1);
        ASSERT_EQ(w.m_nAuxKnives, 1u);
        EXPECT_TRUE(w.FindControl("Main_DelKnives", qnctl::Button)->IsEnabled());
    });
    r.Click(958, 348);  // the randomness edit line takes the focus
    r.Key(27, '-');
    r.Do([&] { EXPECT_EQ(r.W().m_nAuxKnives, 1u); });
    r.Click(kLeft + 80, kTop + 60);  // the preview: the line loses it
    r.Key(27, '-');
    r.Do([&] { EXPECT_EQ(r.W().m_nAuxKnives, 0u); });
    EXPECT_EQ(r.Run(), userCanceledErr);
}
