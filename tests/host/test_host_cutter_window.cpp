// The knife editor window inside the interactive road, headless: it is built
// with every control of its table, a node dragged with the mouse redraws the
// editor and every knife of the main window, Cut reaches piece mode, and an
// abort leaves the editor open with no pieces. With TESSOLO_SNAPSHOT_DIR set,
// the editor window is saved there as a PNG picture.
#include "road_run.h"

#include "cutter/Wnd_Cutter.h"
#include "engine/LayoutLimits.h"
#include "ui/Control.h"
#include "ui/CtrlEditLine.h"
#include "ui/CtrlSlider.h"
#include "ui/CtrlStatic.h"
#include "ui/KeyCodes.h"

#include <cmath>
#include <functional>
#include <map>
#include <set>
#include <memory>

namespace {

using namespace hosttest;

struct CutterRun : RoadRun {
    CutterRun() { road.SetCutterFactory(&qnMakeCutterWindow); }

    CWnd_Main& Main() { return app->m_WndMain; }
    CWnd_Cutter& Editor() { return static_cast<CMainCutterWindow*>(Main().GetCutter())->Window(); }

    plat::Point Global(CQNF_Window& w, int32_t x, int32_t y)
    {
        const plat::Rect r = hp.ContentRect(w.GetWindowHandle());
        return {r.left + x, r.top + y};
    }
    plat::Point ControlCentre(CQNF_Window& w, CQNF_Control* c)
    {
        const qntRECT_s r = c->GetRenderRect();
        return Global(w, (r.left + r.right) / 2, (r.top + r.bottom) / 2);
    }
    std::vector<uint32_t> Pixels(CQNF_Window& w)
    {
        uint16_t width = 0, height = 0;
        const std::vector<uint32_t>* fb = hp.Framebuffer(w.GetWindowHandle(), width, height);
        return fb ? *fb : std::vector<uint32_t>{};
    }
    void Snapshot(CQNF_Window& w, const char* file) { SaveWindowSnapshot(hp, w.GetWindowHandle(), file); }
    using RoadRun::ClickMain;
    void ClickEditor(const char* name, uint8_t type)
    {
        CQNF_Control* c = Editor().FindControl(name, type);
        ASSERT_NE(c, nullptr) << name;
        hp.Click(ControlCentre(Editor(), c));
    }
    // The row of the preview's shape menu, chosen with a right click.
    void ShapeMenu(int row)
    {
        hp.Activate(Editor().GetWindowHandle());
        hp.menuAnswers.push_back(row);
        hp.MoveMouse(Global(Editor(), Editor().m_rcPreview.left + 10, Editor().m_rcPreview.top + 10));
        hp.Press(2);
        hp.Release(2);
    }
    // Digits typed over the focused field's text, then Return.
    void TypeOver(const char* field, const std::string& digits)
    {
        CWnd_Cutter& e = Editor();
        ASSERT_EQ(e.GetFocusedControl(), e.FindControlByName(field, qnctl::EditLine)) << field;
        hp.Key(qnkey::vk::A, 'a', plat::mods::Command);
        // Key codes of the digits 0 to 9 on the keyboard the backends model.
        static const uint8_t kDigit[10] = {29, 18, 19, 20, 21, 23, 22, 26, 28, 25};
        for (const char ch : digits)
            hp.Key(kDigit[ch - '0'], uint8_t(ch));
        hp.Key(qnkey::vk::Return, 13);
    }
    // The rows and columns sliders let go at these values.
    void SetGrid(uint32_t rows, uint32_t columns) { SetEditorGrid(Editor(), rows, columns); }
    // Scripted: the grid, then a click on Cut.
    void ScriptCut(uint32_t rows, uint32_t columns)
    {
        hp.Script([this, rows, columns] { SetGrid(rows, columns); });
        hp.Script([this] {
            hp.Activate(Editor().GetWindowHandle());
            ClickEditor("Cutter_Cut", qnctl::Button);
        });
    }
    // At once, inside a scripted step.
    void ClickMain(const char* name)
    {
        hp.Activate(Main().GetWindowHandle());
        hp.Click(ControlCentre(Main(), Main().FindControl(name, qnctl::Button)));
    }
};

size_t Differing(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b)
{
    if (a.size() != b.size())
        return std::max(a.size(), b.size());
    size_t n = 0;
    for (size_t i = 0; i < a.size(); ++i)
        n += a[i] != b[i];
    return n;
}

}  // namespace

TEST(HostCutterWindow, BuildsEveryControlAndADraggedNodeRedrawsBothWindows)
{
    if (!HasResources())
        FAIL() << "no compiled resource file in this build";
    CutterRun r;
    StandInHost host(Document(ColorMode::RGB, 300, 200, false), HostSettings{});
    std::vector<uint32_t> editorBefore, mainBefore;
    double hBefore = 0;
    uint32_t node = 0;
    r.hp.Script([&] {
        CWnd_Cutter& e = r.Editor();
        ASSERT_TRUE(e.IsOpen());
        EXPECT_EQ(r.Main().m_bCutMode, 1);
        // The table: 16 buttons, 3 radios, 5 sliders, 2 texts, 5 edit
        // lines, 3 check boxes, the cover, the abort button, the bar.
        EXPECT_EQ(e.GetControlCount(), 37u);
        struct {
            const char* name;
            uint8_t type;
            bool enabled;
        } expect[] = {
            {"Cutter_Cut", qnctl::Button, true},           {"Cutter_Cancel", qnctl::Button, false},
            {"Cutter_CloseX", qnctl::Button, false},       {"Cutter_Rows", qnctl::EditLine, true},
            {"Cutter_CuttingAbort", qnctl::Button, false}, {"Cutter_CuttingCover", qnctl::StaticImage, false},
        };
        for (const auto& x : expect) {
            CQNF_Control* c = e.FindControl(x.name, x.type);
            ASSERT_NE(c, nullptr) << x.name;
            EXPECT_EQ(c->IsEnabled() != 0, x.enabled) << x.name;
        }
        EXPECT_EQ(e.FindControl("Cutter_1x1", qnctl::RadioButton)->GetCheck(), 1);
        // Opened with the main window's grid (a fresh run has knives).
        const uint16_t rowSplitters = r.Main().m_nRowSplitters;
        EXPECT_GT(rowSplitters, 0);
        EXPECT_EQ(e.m_nRows, rowSplitters + 1);
        EXPECT_EQ(static_cast<CQNF_CtrlEditLine*>(e.FindControl("Cutter_Rows", qnctl::EditLine))->GetText(),
                  CQNF_String(std::to_string(rowSplitters + 1).c_str()));
        EXPECT_EQ(e.FindControl("Cutter_Smoothness", qnctl::Slider)->IsEnabled(), e.m_Ctl.smoothnessEnabled);
        // A 4 x 5 grid through the sliders, as a user would drag them.
        r.SetGrid(4, 5);
    });
    r.hp.Script([&] {
        CWnd_Cutter& e = r.Editor();
        ASSERT_EQ(r.Main().m_nRowSplitters, 3);
        ASSERT_EQ(r.Main().m_nColSplitters, 4);
        EXPECT_EQ(static_cast<CQNF_CtrlEditLine*>(e.FindControl("Cutter_Rows", qnctl::EditLine))->GetText(),
                  CQNF_String("4"));
        r.Snapshot(e, "cutter_window.png");
        editorBefore = r.Pixels(e);
        mainBefore = r.Pixels(r.Main());
        // Drag a middle node 12 pixels across the knife.
        node = e.m_Shape.nodeCount / 2;
        hBefore = e.m_Shape.pos[node].H;
        const qntPOS c = e.NodeCentre(node);
        r.hp.Activate(e.GetWindowHandle());
        r.hp.MoveMouse(r.Global(e, e.m_rcPreview.left + c.x, e.m_rcPreview.top + c.y));
        r.hp.Press();
        r.hp.MoveMouse(r.Global(e, e.m_rcPreview.left + c.x + 6, e.m_rcPreview.top + c.y));
        r.hp.MoveMouse(r.Global(e, e.m_rcPreview.left + c.x + 12, e.m_rcPreview.top + c.y));
        r.hp.Release();
    });
    r.hp.Script([&] {
        CWnd_Cutter& e = r.Editor();
        EXPECT_NE(e.m_Shape.pos[node].H, hBefore);
        EXPECT_GT(Differing(editorBefore, r.Pixels(e)), 20u);
        // Every knife took the shape: the main window's preview changed.
        EXPECT_GT(Differing(mainBefore, r.Pixels(r.Main())), 100u);
        EXPECT_TRUE(e.m_Undo.CanUndo());
        // Every knife of the layout has the dragged node's new offset.
        const CWnd_Main& m = r.Main();
        ASSERT_EQ(m.m_nColKnives + m.m_nRowKnives, 4u * 4 + 5u * 3);
        for (uint32_t k = 0; k < m.m_nColKnives + m.m_nRowKnives; ++k) {
            const auto& knife = k < m.m_nColKnives ? m.m_ColKnives[k] : m.m_RowKnives[k - m.m_nColKnives];
            ASSERT_EQ(knife.nodeCount, e.m_Shape.nodeCount);
            EXPECT_FLOAT_EQ(std::fabs(knife.H[node]), std::fabs(float(e.m_Shape.pos[node].H))) << k;
        }
        r.Snapshot(e, "cutter_window_dragged.png");
        // The Cut's look: the cover, the bar and the abort button, with
        // every other control filtered; all back afterwards.
        e.m_Ctl.cutting = 1;
        e.m_Ctl.progress = 40;
        e.view_ControlsChanged();
        auto* bar = static_cast<CQNF_CtrlProgress*>(e.FindControl("Cutter_CuttingProgress", qnctl::Progress));
        CQNF_Control* abort = e.FindControl("Cutter_CuttingAbort", qnctl::Button);
        EXPECT_TRUE(bar->IsVisible());
        EXPECT_TRUE(abort->IsEnabled() && !abort->IsCtrlFiltered());
        EXPECT_TRUE(e.FindControl("Cutter_Cut", qnctl::Button)->IsCtrlFiltered());
        EXPECT_TRUE(e.FindControl("Cutter_Rows", qnctl::Slider)->IsCtrlFiltered());
        r.Snapshot(e, "cutter_window_cutting.png");
        e.m_Ctl.cutting = 0;
        e.view_ControlsChanged();
        EXPECT_FALSE(bar->IsVisible());
        EXPECT_FALSE(abort->IsEnabled());
        EXPECT_FALSE(e.FindControl("Cutter_Cut", qnctl::Button)->IsCtrlFiltered());
        r.ClickMain("Main_Cancel");
    });
    EXPECT_EQ(r.h.Run(host, StandInHost::Sequence::Dialog), userCanceledErr);
    EXPECT_EQ(r.hp.ScriptLeft(), 0u);
}

TEST(HostCutterWindow, CutReachesPieceModeAndAbortKeepsTheEditor)
{
    if (!HasResources())
        FAIL() << "no compiled resource file in this build";
    for (const bool abort : {true, false}) {
        CutterRun r;
        StandInHost host(Document(ColorMode::RGB, 240, 160, false), HostSettings{});
        r.hp.Script([&] { r.SetGrid(3, 4); });
        r.hp.Script([&] {
            r.hp.Activate(r.Editor().GetWindowHandle());
            r.ClickEditor("Cutter_Cut", qnctl::Button);
            // Queued behind the Cut's click: the Cut's first look at its
            // events finds it, with the abort button shown by then.
            if (abort)
                r.ClickEditor("Cutter_CuttingAbort", qnctl::Button);
        });
        r.hp.Script([&] {
            CWnd_Main& m = r.Main();
            CTessolo& engine = r.h.plugin->GetEngine();
            if (abort) {
                CWnd_Cutter& e = r.Editor();
                EXPECT_TRUE(e.IsOpen());
                EXPECT_EQ(m.m_bCutMode, 1);
                EXPECT_EQ(engine.m_nPieces, 0u);
                EXPECT_EQ(e.m_bCutting, 0);
                // Back from the Cut: the controls take input again, and
                // without pieces the editor still cannot be cancelled.
                EXPECT_FALSE(e.FindControl("Cutter_Cut", qnctl::Button)->IsCtrlFiltered());
                EXPECT_FALSE(e.FindControl("Cutter_Cancel", qnctl::Button)->IsEnabled());
                EXPECT_FALSE(e.FindControl("Cutter_CuttingAbort", qnctl::Button)->IsEnabled());
                EXPECT_GT(e.m_CutReported.size(), 0u);
            } else {
                EXPECT_FALSE(r.Main().GetCutter()->IsOpen());
                EXPECT_EQ(m.m_bCutMode, 0);
                EXPECT_EQ(engine.m_nPieces, 12u);
                EXPECT_EQ(m.m_MainImage.GetImageWidth(), 240);
                ASSERT_EQ(r.Editor().m_CutReported.back(), 100);
                r.Snapshot(m, "main_after_cut.png");
                // The editor's place is kept for its next opening.
                EXPECT_NE(r.h.plugin->WindowPosFromConf("Cutter", "Main", qnNullSize, 0).x, -32000);
            }
            r.ClickMain("Main_Cancel");
        });
        EXPECT_EQ(r.h.Run(host, StandInHost::Sequence::Dialog), userCanceledErr) << abort;
        EXPECT_EQ(r.hp.ScriptLeft(), 0u);
    }
}

// The Knob size, Columns and Rows fields take the numbers the layout takes
// and, once left, show what the cut uses: a number typed beyond the range
// gives way to the nearest one taken, in the line and on the slider, also
// when that is the number shown before. A layout of the most columns, made
// by the main window (its undo), shows as many.
TEST(HostCutterWindow, TheSizeFieldsShowWhatTheCutUses)
{
    if (!HasResources())
        FAIL() << "no compiled resource file in this build";
    CutterRun r;
    StandInHost host(Document(ColorMode::RGB, 240, 160, false), HostSettings{});
    // Scripted: a click into the field, then the digits over its text and Return.
    const auto type = [&r](const char* field, const std::string& digits) {
        r.hp.Script([&r, field] {
            r.hp.Activate(r.Editor().GetWindowHandle());
            r.ClickEditor(field, qnctl::EditLine);
        });
        r.hp.Script([&r, field, digits] { r.TypeOver(field, digits); });
    };

    // What the field and its slider show, and what the layout holds.
    const auto shown = [&r](const char* field) {
        CWnd_Cutter& e = r.Editor();
        const auto* edit = static_cast<CQNF_CtrlEditLine*>(e.FindControl(field, qnctl::EditLine));
        const std::string text = edit->GetText().GetStr();
        auto* slider = static_cast<CQNF_CtrlSlider*>(e.FindControl(field, qnctl::Slider));
        return std::pair{text, std::to_string(slider->GetValue())};
    };
    const auto used = [&r](const char* field) {
        const CWnd_Main& m = r.Main();
        if (std::string(field) == "Cutter_Columns")
            return uint32_t(m.m_nColSplitters + 1);
        if (std::string(field) == "Cutter_Rows")
            return uint32_t(m.m_nRowSplitters + 1);
        // Every knife takes the size (none is selected).
        std::set<uint32_t> sizes;
        for (uint32_t k = 0; k < m.m_nColKnives + m.m_nRowKnives; ++k)
            sizes.insert(k < m.m_nColKnives ? m.m_ColKnives[k].knobSize : m.m_RowKnives[k - m.m_nColKnives].knobSize);
        return sizes.size() == 1 ? *sizes.begin() : 0u;
    };
    const struct Case {
        const char* field;
        const char* typed;
        uint32_t taken;
    } cases[] = {
        {"Cutter_TipsSize", "0", kQnLeastKnob},      {"Cutter_TipsSize", "101", kQnMostKnob},
        {"Cutter_TipsSize", "101", kQnMostKnob},     {"Cutter_Columns", "101", kQnMostGridCells},
        {"Cutter_Columns", "102", kQnMostGridCells}, {"Cutter_Rows", "102", kQnMostGridCells},
        {"Cutter_Rows", "0", 1},                     {"Cutter_TipsSize", "50", 50},
        {"Cutter_Columns", "7", 7},
    };
    r.hp.Script([&] { r.SetGrid(3, 4); });
    for (const Case& c : cases) {
        type(c.field, c.typed);
        r.hp.Script([&] {
            EXPECT_EQ(used(c.field), c.taken) << c.field << " " << c.typed;
            EXPECT_EQ(shown(c.field), std::pair(std::to_string(used(c.field)), std::to_string(used(c.field))))
                << c.field << " " << c.typed;
        });
    }
    // The main window's undo brings back its layout of the most columns (the
    // knob's change keeps the layout's changes before it a step of their own).
    r.hp.Script([&] {
        r.hp.Activate(r.Main().GetWindowHandle());
        r.hp.Key(qnkey::vk::Z, 'z', plat::mods::Command);
    });
    r.hp.Script([&] {
        EXPECT_EQ(used("Cutter_Columns"), kQnMostGridCells);
        EXPECT_EQ(shown("Cutter_Columns"), std::pair(std::to_string(kQnMostGridCells), std::to_string(kQnMostGridCells)));
        r.ClickMain("Main_Cancel");
    });
    EXPECT_EQ(r.h.Run(host, StandInHost::Sequence::Dialog), userCanceledErr);
    EXPECT_EQ(r.hp.ScriptLeft(), 0u);
}

// The main window's side of the editor as the program wires it, with a look
// at the windows each time the Cut lets them repaint.
class PumpWatch : public CCutterMainAdapter {
public:
    PumpWatch(CWnd_Main& main, std::function<void()> onPump) : CCutterMainAdapter(main), m_Wnd(main), m_OnPump(std::move(onPump)) {}
    void OnCutterClose() override { m_Wnd.OnCutterClose(); }
    void PumpWindowEvents() override
    {
        if (m_Wnd.GetWindowHandle())
            m_Wnd.ProcessPendingEvents();
        m_OnPump();
    }
    bool OnForwardedShortcut(uint16_t command) override
    {
        return m_Wnd.GetWindowHandle() && m_Wnd.OnCtrlMessage(qnmsg::Shortcut, command, nullptr, 0, nullptr) != 0;
    }

private:
    CWnd_Main& m_Wnd;
    std::function<void()> m_OnPump;
};

// Contrast: the spread of brightness (r + g + b) over pixels.
int Spread(const std::vector<uint32_t>& px)
{
    int lo = INT32_MAX, hi = INT32_MIN;
    for (uint32_t p : px) {
        const int v = int((p >> 16) & 0xFF) + int((p >> 8) & 0xFF) + int(p & 0xFF);
        lo = std::min(lo, v);
        hi = std::max(hi, v);
    }
    return px.empty() ? 0 : hi - lo;
}

// Every control but the abort button refuses input while the pieces are
// made, so the whole window lies under the cover for as long as the Cut
// runs: each control is drawn faded far below its own contrast, Cancel and
// the close box disabled beneath it. A Cut that stops while the old pieces
// are still there gives every control its look back.
TEST(HostCutterWindow, TheCutCoversTheWholeWindowAndEveryControlComesBackAfter)
{
    if (!HasResources())
        FAIL() << "no compiled resource file in this build";
    struct Case {
        const char* name;
        bool picture;  // false: the Cut finds nothing to cut and stops at once
    } cases[] = {{"cut", true}, {"no picture", false}};
    const struct {
        const char* name;
        uint8_t type;
    } kControls[] = {
        {"Cutter_Cancel", qnctl::Button},    {"Cutter_CloseX", qnctl::Button},  {"Cutter_Help", qnctl::Button},
        {"Cutter_Presets", qnctl::Button},   {"Cutter_Load", qnctl::Button},    {"Cutter_Cut", qnctl::Button},
        {"Cutter_FlipH", qnctl::Button},     {"Cutter_1x2", qnctl::RadioButton}, {"Cutter_Rows", qnctl::Slider},
        {"Cutter_Rows", qnctl::EditLine},    {"Cutter_AntiAliasing", qnctl::CheckBox},
    };
    constexpr size_t kCount = std::size(kControls);
    for (const Case& c : cases) {
        CutterRun r;
        StandInHost host(Document(ColorMode::RGB, 160, 120, false), HostSettings{});
        std::unique_ptr<PumpWatch> watch;
        std::vector<uint32_t> before[kCount], after[kCount];
        std::vector<std::vector<uint32_t>> during[kCount];
        std::vector<int> spreadDuring[kCount];
        std::vector<bool> closingEnabled, captionDrags;
        auto look = [&](size_t k) {
            CWnd_Cutter& e = r.Editor();
            CQNF_Control* control = e.FindControl(kControls[k].name, kControls[k].type);
            qntRECT_s rc = control->GetRenderRect();
            if (kControls[k].type == qnctl::Slider) {
                // A slider is where its path runs, as wide as its thumb.
                const auto& points = static_cast<CQNF_CtrlSlider*>(control)->GetPoints();
                rc = {points.front().x - 8, points.front().y - 8, points.back().x + 8, points.back().y + 8};
            }
            std::vector<uint32_t> px;
            for (int32_t y = rc.top; y < rc.bottom; ++y)
                for (int32_t x = rc.left; x < rc.right; ++x)
                    px.push_back(r.hp.Pixel(e.GetWindowHandle(), x, y));
            return px;
        };
        r.ScriptCut(2, 3);
        // Back to the knives with pieces made: the editor can be cancelled.
        r.hp.Script([&] {
            ASSERT_EQ(r.Main().m_bCutMode, 0);
            r.ClickMain("Main_Relayout");
        });
        r.hp.Script([&] {
            CWnd_Cutter& e = r.Editor();
            ASSERT_TRUE(e.IsOpen());
            for (size_t k = 0; k < kCount; ++k) {
                ASSERT_NE(e.FindControl(kControls[k].name, kControls[k].type), nullptr) << kControls[k].name;
                before[k] = look(k);
                ASSERT_GT(Spread(before[k]), 60) << kControls[k].name << " shows too little to tell";
            }
            ASSERT_TRUE(e.FindControl("Cutter_Cancel", qnctl::Button)->IsEnabled());
            watch = std::make_unique<PumpWatch>(r.Main(), [&] {
                if (!r.Editor().IsOpen())
                    return;
                for (size_t k = 0; k < kCount; ++k) {
                    during[k].push_back(look(k));
                    spreadDuring[k].push_back(Spread(during[k].back()));
                }
                // The caption under the cover still moves the window.
                captionDrags.push_back(r.Editor().PtInCaption(short(r.Editor().GetWidth() / 2), 10));
                closingEnabled.push_back(r.Editor().FindControl("Cutter_Cancel", qnctl::Button)->IsEnabled() ||
                                         r.Editor().FindControl("Cutter_CloseX", qnctl::Button)->IsEnabled());
                if (c.picture && during[0].size() == 2)
                    r.Snapshot(r.Editor(), "cutter_window_while_cutting.png");
            });
            e.SetMain(watch.get());
            if (!c.picture)
                e.SetCutSource(CWnd_CutterEditor::CUTSOURCE{});
            r.hp.Activate(e.GetWindowHandle());
            r.ClickEditor("Cutter_Cut", qnctl::Button);
        });
        r.hp.Script([&] {
            EXPECT_EQ(r.Main().m_bCutMode, c.picture ? 0 : 1) << c.name;
            // The pointer leaves Cut, which lights up while it is over it.
            if (!c.picture)
                r.hp.MoveMouse(
                    r.ControlCentre(r.Editor(), r.Editor().FindControl("Cutter_Status", qnctl::StaticText)));
        });
        r.hp.Script([&] { r.hp.Advance(100); });
        r.hp.Script([&] {
            for (size_t k = 0; k < kCount && !c.picture; ++k)
                after[k] = look(k);
            r.ClickMain("Main_Cancel");
        });
        EXPECT_EQ(r.h.Run(host, StandInHost::Sequence::Dialog), userCanceledErr) << c.name;
        EXPECT_EQ(r.hp.ScriptLeft(), 0u) << c.name;
        ASSERT_FALSE(closingEnabled.empty()) << c.name;
        for (size_t i = 0; i < closingEnabled.size(); ++i) {
            EXPECT_FALSE(closingEnabled[i]) << c.name << ": Cancel or the close box enabled at pump " << i;
            EXPECT_TRUE(captionDrags[i]) << c.name << ": the caption does not drag at pump " << i;
        }
        for (size_t k = 0; k < kCount; ++k) {
            const char* name = kControls[k].name;
            ASSERT_FALSE(during[k].empty()) << c.name;
            const int most = *std::max_element(spreadDuring[k].begin(), spreadDuring[k].end());
            EXPECT_LE(3 * most, Spread(before[k])) << c.name << ": " << name << " is not covered while cutting";
            if (!c.picture) {
                EXPECT_EQ(after[k], before[k]) << c.name << ": " << name << " after the Cut";
            }
        }
    }
}

// The rotation circles are drawn like the box and handles they replace: the
// colour most of their pixels show is the one most box pixels showed.
TEST(HostCutterWindow, RotationCirclesShowLikeTheBoxAndHandles)
{
    if (!HasResources())
        FAIL() << "no compiled resource file in this build";
    CutterRun r;
    StandInHost host(Document(ColorMode::RGB, 200, 150, false), HostSettings{});
    // The window colour most often seen where the extras layer draws a
    // see-through figure (the anchors are opaque).
    auto figureColour = [&] {
        CWnd_Cutter& e = r.Editor();
        const CQNF_Layer& x = e.ExtrasLayer();
        const uint8_t* alpha = x.GetPlane(3);
        const int32_t w = x.GetImageWidth(), h = x.GetImageHeight();
        std::map<uint32_t, size_t> seen;
        for (int32_t y = 0; y < h; ++y)
            for (int32_t xx = 0; xx < w; ++xx) {
                const size_t at = size_t(y) * size_t(w) + size_t(xx);
                if (alpha[at] && alpha[at] < 255)
                    ++seen[r.hp.Pixel(e.GetWindowHandle(), e.m_rcPreview.left + xx, e.m_rcPreview.top + y) & 0xFFFFFFu];
            }
        std::pair<uint32_t, size_t> most{0, 0};
        for (const auto& [colour, n] : seen)
            if (n > most.second)
                most = {colour, n};
        return most;
    };
    std::pair<uint32_t, size_t> box{0, 0};
    plat::Point handle{0, 0};
    // Select All from the preview's menu (its fourth row).
    r.hp.Script([&] { r.ShapeMenu(3); });
    r.hp.Script([&] {
        CWnd_Cutter& e = r.Editor();
        ASSERT_GE(e.m_Shape.nodeCount, 2u);
        ASSERT_TRUE(e.m_Shape.selected[0] && e.m_Shape.selected[1]);
        box = figureColour();
        r.Snapshot(e, "cutter_window_selected.png");
        const qntRECT_s h = e.HandleRect(2);
        ASSERT_TRUE(e.HandleEnabled(2));
        handle = r.Global(e, e.m_rcPreview.left + (h.left + h.right) / 2, e.m_rcPreview.top + (h.top + h.bottom) / 2);
        // A press with Command on a handle turns the selection.
        r.hp.MoveMouse(handle);
        r.hp.SetKeyState(plat::mods::Command);
        r.hp.Press(1, plat::mods::Command);
        r.hp.MoveMouse({handle.x - 6, handle.y + 10});
    });
    r.hp.Script([&] {
        CWnd_Cutter& e = r.Editor();
        ASSERT_TRUE(e.m_bHandleDrag && e.m_bRotate);
        r.Snapshot(e, "cutter_window_rotating.png");
        const std::pair<uint32_t, size_t> circles = figureColour();
        EXPECT_GT(box.second, 20u);
        EXPECT_GT(circles.second, 2u * e.m_nRotRadius) << "the circles are not there";
        EXPECT_EQ(circles.first, box.first) << std::hex << "circles " << circles.first << ", box " << box.first;
        r.hp.Release(1, plat::mods::Command);
        r.hp.SetKeyState(0);
    });
    r.hp.Script([&] { r.ClickMain("Main_Cancel"); });
    EXPECT_EQ(r.h.Run(host, StandInHost::Sequence::Dialog), userCanceledErr);
    EXPECT_EQ(r.hp.ScriptLeft(), 0u);
}

// Digits typed into the knot randomness field stay as typed, in order,
// with the slider following them; the field is tidied when it loses the
// focus.
TEST(HostCutterWindow, TheKnotRandomnessFieldKeepsWhatIsTypedInto)
{
    if (!HasResources())
        FAIL() << "no compiled resource file in this build";
    struct Case {
        const char* typed;
        const char* shownThen;  // after the focus has left
        uint32_t slider;
    } cases[] = {{"25", "25", 25}, {"150", "100", 100}, {"7", "7", 7}};
    for (const Case& c : cases) {
        CutterRun r;
        StandInHost host(Document(ColorMode::RGB, 240, 160, false), HostSettings{});
        std::string whileTyping, afterwards;
        uint32_t slider = 0;
        r.hp.Script([&] {
            CWnd_Main& m = r.Main();
            r.hp.Activate(m.GetWindowHandle());
            r.hp.Click(r.ControlCentre(m, m.FindControl("Main_RndKnots", qnctl::EditLine)));
            for (const char* t = c.typed; *t; ++t)
                r.hp.Key(0xFF, uint8_t(*t));
        });
        r.hp.Script([&] {
            CWnd_Main& m = r.Main();
            whileTyping = static_cast<CQNF_CtrlEditLine*>(m.FindControl("Main_RndKnots", qnctl::EditLine))->GetText().GetStr();
            slider = static_cast<CQNF_CtrlSlider*>(m.FindControl("Main_RndKnots", qnctl::Slider))->GetValue();
            // Away from the field: a click on the preview's corner.
            r.hp.Click(r.Global(m, m.m_rcPreview.left + 2, m.m_rcPreview.top + 2));
        });
        r.hp.Script([&] {
            CWnd_Main& m = r.Main();
            afterwards = static_cast<CQNF_CtrlEditLine*>(m.FindControl("Main_RndKnots", qnctl::EditLine))->GetText().GetStr();
            r.ClickMain("Main_Cancel");
        });
        EXPECT_EQ(r.h.Run(host, StandInHost::Sequence::Dialog), userCanceledErr);
        EXPECT_EQ(whileTyping, c.typed);
        EXPECT_EQ(slider, c.slider) << c.typed;
        EXPECT_EQ(afterwards, c.shownThen);
    }
}

// Piece mode draws each control as its state says. The knot randomness
// field is drawn in cut mode only: after a Cut nothing of it is on the screen
// (hiding its layer changes no pixel) and it takes no input. The image
// overlay button, hidden in cut mode, is disabled in piece mode when the
// host offers no document layers, and shows its disabled picture: entering
// that state afresh changes no pixel.
TEST(HostCutterWindow, PieceModeHidesTheKnotRandomnessAndDimsImageOverlay)
{
    if (!HasResources())
        FAIL() << "no compiled resource file in this build";
    CutterRun r;
    HostSettings noLayers;
    noLayers.offerDocumentInfo = false;
    StandInHost host(Document(ColorMode::RGB, 240, 160, false), noLayers);
    // The field's pixels on the screen that its layer puts there.
    auto drawn = [&r] {
        CWnd_Main& m = r.Main();
        auto* field = static_cast<CQNF_CtrlEditLine*>(m.FindControl("Main_RndKnots", qnctl::EditLine));
        const qntRECT_s box = field->GetRenderRect();
        CQNF_Layer& layer = *field->GetControlLayer();
        const uint8_t visible = layer.GetVisible();
        const std::vector<uint32_t> shown = r.Pixels(m);
        layer.SetVisible(0);
        m.RenderRect(box);
        m.UpdateRect(box);
        const size_t n = Differing(shown, r.Pixels(m));
        layer.SetVisible(visible);
        m.RenderRect(box);
        m.UpdateRect(box);
        return n;
    };
    size_t inCutMode = 0, inPieceMode = 0, overlayStale = 0;
    r.hp.Script([&] {
        inCutMode = drawn();
        r.SetGrid(2, 2);
        r.hp.Activate(r.Editor().GetWindowHandle());
        r.ClickEditor("Cutter_Cut", qnctl::Button);
    });
    r.hp.Script([&] {
        CWnd_Main& m = r.Main();
        ASSERT_EQ(m.m_bCutMode, 0);
        inPieceMode = drawn();
        EXPECT_FALSE(m.FindControl("Main_RndKnots", qnctl::EditLine)->IsEnabled());
        // Nor does the skin leave an empty frame where the field was: its
        // place and a pixel around it show the panel's one colour.
        const qntRECT_s box = m.FindControl("Main_RndKnots", qnctl::EditLine)->GetRenderRect();
        std::set<uint32_t> colours;
        for (int32_t y = box.top - 2; y < box.bottom + 2; ++y)
            for (int32_t x = box.left - 2; x < box.right + 2; ++x)
                colours.insert(r.hp.Pixel(m.GetWindowHandle(), x, y) & 0xFFFFFFu);
        EXPECT_EQ(colours.size(), 1u) << "a frame is left where the knot randomness field was";
        CQNF_Control* overlay = m.FindControl("Main_FXIOver", qnctl::Button);
        ASSERT_FALSE(overlay->IsEnabled());
        const std::vector<uint32_t> shown = r.Pixels(m);
        overlay->Enable(1);
        overlay->Enable(0);
        overlayStale = Differing(shown, r.Pixels(m));
        r.ClickMain("Main_Cancel");
    });
    EXPECT_EQ(r.h.Run(host, StandInHost::Sequence::Dialog), userCanceledErr);
    EXPECT_EQ(r.hp.ScriptLeft(), 0u);
    EXPECT_GT(inCutMode, 0u);
    EXPECT_EQ(inPieceMode, 0u);
    EXPECT_EQ(overlayStale, 0u);
}

// With no stored places the editor shows at its place at once: on a screen
// wide enough for both the editor and the main window are side by side, both
// whole; on a narrower one the editor
// goes to the screen's left edge over the main window, which stays centred.
TEST(HostCutterWindow, FirstOpeningPlacesBothWindowsOnTheScreen)
{
    if (!HasResources())
        FAIL() << "no compiled resource file in this build";
    struct Case {
        int32_t screenW, screenH;
        bool sideBySide;
    } cases[] = {{1600, 1000, true}, {1280, 1024, false}};
    for (const Case& c : cases) {
        CutterRun r;
        r.hp.SetScreens({{0, 0, c.screenW, c.screenH}});
        StandInHost host(Document(ColorMode::RGB, 240, 160, false), HostSettings{});
        r.hp.Script([&] {
            const plat::Rect m = r.hp.ContentRect(r.Main().GetWindowHandle());
            const plat::Rect e = r.hp.ContentRect(r.Editor().GetWindowHandle());
            for (const plat::Rect& w : {m, e}) {
                EXPECT_GE(w.left, 0) << c.screenW;
                EXPECT_GE(w.top, 0) << c.screenW;
                EXPECT_LE(w.right, c.screenW) << c.screenW;
                EXPECT_LE(w.bottom, c.screenH) << c.screenW;
            }
            // Shown where it belongs from the start, never in the middle first.
            for (const auto& move : r.hp.movesShown)
                EXPECT_NE(move.win, r.Editor().GetWindowHandle())
                    << "the editor jumped to " << move.to.x << "," << move.to.y << " on " << c.screenW;
            const bool overlap = e.left < m.right && m.left < e.right;
            EXPECT_EQ(!overlap, c.sideBySide) << c.screenW;
            if (!c.sideBySide) {
                EXPECT_EQ(e.left, 0);
                EXPECT_EQ(m.left, (c.screenW - m.Width()) / 2) << "the main window stays centred";
            }
            r.ClickMain("Main_Cancel");
        });
        EXPECT_EQ(r.h.Run(host, StandInHost::Sequence::Dialog), userCanceledErr);
        EXPECT_EQ(r.hp.ScriptLeft(), 0u);
    }
}

// Applying pieces to a grey picture renders them again from the host's
// planes; the host's abort test saying yes there is the user's cancel.
TEST(HostCutterWindow, ApplyOfGreyPiecesReportsACancelAsACancel)
{
    if (!HasResources())
        FAIL() << "no compiled resource file in this build";
    struct Case {
        long abortAfter;
        int16_t result;
    } cases[] = {{-1, 0}, {1, userCanceledErr}};
    for (const Case& c : cases) {
        CutterRun r;
        HostSettings settings;
        settings.abortAfter = c.abortAfter;
        StandInHost host(Document(ColorMode::Gray, 120, 80, false), settings);
        r.ScriptCut(2, 2);
        r.hp.Script([&] {
            ASSERT_EQ(r.Main().m_bCutMode, 0);
            r.ClickMain("Main_Apply");
        });
        EXPECT_EQ(r.h.Run(host, StandInHost::Sequence::Dialog), c.result) << c.abortAfter;
        EXPECT_EQ(r.hp.ScriptLeft(), 0u);
    }
}

TEST(HostCutterWindow, PopupsKeysAndEscThroughTheWindow)
{
    if (!HasResources())
        FAIL() << "no compiled resource file in this build";
    CutterRun r;
    StandInHost host(Document(ColorMode::RGB, 200, 150, false), HostSettings{});
    double hBefore = 0;
    uint32_t node = 0;
    qntPOS at{0, 0};  // the node's centre in the window
    r.hp.Script([&] {
        CWnd_Cutter& e = r.Editor();
        r.hp.Activate(e.GetWindowHandle());
        // The clone pop-up: "Clone With Low Mutation" is the fifth row
        // (separators count as rows).
        r.hp.menuAnswers.push_back(4);
        r.ClickEditor("Cutter_Clone", qnctl::Button);
    });
    r.hp.Script([&] {
        CWnd_Cutter& e = r.Editor();
        ASSERT_EQ(r.hp.menusShown.size(), 1u);
        ASSERT_EQ(r.hp.menusShown[0].size(), 10u);
        EXPECT_EQ(r.hp.menusShown[0][4].text, "Clone With Low Mutation");
        EXPECT_TRUE(r.hp.menusShown[0][2].checked);  // the mode at opening
        EXPECT_TRUE(r.hp.menusShown[0][1].separator);
        EXPECT_EQ(e.m_Ctl.cloneDisplay, "Cloning with LOW mutation");
        // Each pop-up at its window point, the menu's top 5 pixels below:
        // the clone menu, and the help and save menus, closed unchosen.
        ASSERT_EQ(r.hp.menuPoints.size(), 1u);
        EXPECT_EQ(r.hp.menuPoints[0], r.Global(e, 77, 384 + 5));
        r.hp.menuAnswers.push_back(-1);
        r.ClickEditor("Cutter_Help", qnctl::Button);
        r.hp.menuAnswers.push_back(-1);
        r.ClickEditor("Cutter_Save", qnctl::Button);
    });
    r.hp.Script([&] {
        CWnd_Cutter& e = r.Editor();
        ASSERT_EQ(r.hp.menuPoints.size(), 3u);
        EXPECT_EQ(r.hp.menuPoints[1], r.Global(e, 328, 30 + 5));
        EXPECT_EQ(r.hp.menuPoints[2], r.Global(e, 300, 109 + 5));
        r.hp.menusShown.resize(1);  // the shape menu below is the second again
        // The shape menu on a right click in the preview: "Select All" is
        // the fourth row, shown with its shortcut.
        r.hp.menuAnswers.push_back(3);
        const plat::Point at = r.Global(e, e.m_rcPreview.left + 10, e.m_rcPreview.top + 10);
        r.hp.MoveMouse(at);
        r.hp.Press(2);
        r.hp.Release(2);
    });
    r.hp.Script([&] {
        CWnd_Cutter& e = r.Editor();
        ASSERT_EQ(r.hp.menusShown.size(), 2u);
        const plat::MenuItem& all = r.hp.menusShown[1][3];
        EXPECT_EQ(all.text, "Select All");
        EXPECT_TRUE(all.cmd && !all.shift && all.key == "A");
        EXPECT_TRUE(r.hp.menusShown[1][5].cmd && r.hp.menusShown[1][5].shift);  // Inverse Selection
        for (uint32_t i = 0; i < e.m_Shape.nodeCount; ++i)
            EXPECT_EQ(e.m_Shape.selected[i], 1) << i;
        // The preview's cursors: the arrow of the editor away from the
        // shape, the move cursor over a node.
        node = e.m_Shape.nodeCount / 2;
        hBefore = e.m_Shape.pos[node].H;
        at = e.NodeCentre(node);
        at.x += e.m_rcPreview.left;
        at.y += e.m_rcPreview.top;
        r.hp.MoveMouse(r.Global(e, e.m_rcPreview.left + 2, e.m_rcPreview.bottom - 3));
    });
    r.hp.Script([&] {
        EXPECT_EQ(r.hp.cursor, CWnd_CutterEditor::CUR_DEFAULT);
        r.hp.MoveMouse(r.Global(r.Editor(), at.x, at.y));
    });
    r.hp.Script([&] {
        EXPECT_EQ(r.hp.cursor, CWnd_CutterEditor::CUR_MOVE);
        // Esc during a node drag puts the shape back.
        r.hp.Press();
        r.hp.MoveMouse(r.Global(r.Editor(), at.x + 15, at.y));
    });
    r.hp.Script([&] {
        CWnd_Cutter& e = r.Editor();
        EXPECT_NE(e.m_Shape.pos[node].H, hBefore);
        r.hp.Key(qnkey::vk::Escape, 27);
    });
    r.hp.Script([&] {
        CWnd_Cutter& e = r.Editor();
        EXPECT_EQ(e.m_Shape.pos[node].H, hBefore);
        EXPECT_EQ(e.m_bNodeDrag, 0);
        r.hp.Release();
        // Without pieces Esc does not close the editor.
        r.hp.Key(qnkey::vk::Escape, 27);
    });
    r.hp.Script([&] {
        EXPECT_TRUE(r.Editor().IsOpen());
        r.ClickMain("Main_Cancel");
    });
    EXPECT_EQ(r.h.Run(host, StandInHost::Sequence::Dialog), userCanceledErr);
    EXPECT_EQ(r.hp.ScriptLeft(), 0u);
}

// The smoothness slider with no node selected and the knife width slider
// with razor cut on are disabled, and then all but vanish: their pixels are
// within a step of those the window shows with the slider hidden outright.
TEST(HostCutterWindow, DisabledSmoothnessAndKnifeWidthSlidersNearlyVanish)
{
    if (!HasResources())
        GTEST_SKIP() << "no compiled resource file in this build";
    CutterRun r;
    StandInHost host(Document(ColorMode::RGB, 240, 160, false), HostSettings{});
    // The pixels along the slider's path, as wide as its thumb.
    auto look = [&](CQNF_CtrlSlider* s) {
        CWnd_Cutter& e = r.Editor();
        int32_t left = INT32_MAX, top = INT32_MAX, right = INT32_MIN, bottom = INT32_MIN;
        for (const qnctl::SliderPoint& p : s->GetPoints()) {
            left = std::min(left, int32_t(p.x) - 8);
            right = std::max(right, int32_t(p.x) + 8);
            top = std::min(top, int32_t(p.y) - 8);
            bottom = std::max(bottom, int32_t(p.y) + 8);
        }
        std::vector<uint32_t> px;
        for (int32_t y = top; y < bottom; ++y)
            for (int32_t x = left; x < right; ++x)
                px.push_back(r.hp.Pixel(e.GetWindowHandle(), x, y));
        return px;
    };
    r.hp.Script([&] {
        r.hp.Activate(r.Editor().GetWindowHandle());
        if (!r.Editor().m_bRazorCut)
            r.ClickEditor("Cutter_RazorCut", qnctl::CheckBox);
        // "Deselect" from the preview's menu (its fifth row).
        r.ShapeMenu(4);
    });
    r.hp.Script([&] {
        CWnd_Cutter& e = r.Editor();
        r.Snapshot(e, "cutter_window_sliders_disabled.png");
        for (const char* name : {"Cutter_Smoothness", "Cutter_KnifeTh"}) {
            auto* slider = static_cast<CQNF_CtrlSlider*>(e.FindControl(name, qnctl::Slider));
            ASSERT_NE(slider, nullptr) << name;
            ASSERT_FALSE(slider->IsEnabled()) << name;
            const std::vector<uint32_t> shown = look(slider);
            ASSERT_GT(shown.size(), 16u * 100) << name;
            const unsigned char opacity = slider->GetDisabledOpacity();
            slider->SetDisabledOpacity(0);
            const std::vector<uint32_t> hidden = look(slider);
            slider->SetDisabledOpacity(opacity);
            EXPECT_EQ(look(slider), shown) << name;
            ASSERT_EQ(shown.size(), hidden.size());
            int most = 0;
            for (size_t i = 0; i < shown.size(); ++i)
                for (int s = 0; s < 24; s += 8)
                    most = std::max(most, std::abs(int((shown[i] >> s) & 0xFF) - int((hidden[i] >> s) & 0xFF)));
            EXPECT_LE(most, 2) << name << " stays plainly visible while disabled";
        }
        r.ClickMain("Main_Cancel");
    });
    EXPECT_EQ(r.h.Run(host, StandInHost::Sequence::Dialog), userCanceledErr);
    EXPECT_EQ(r.hp.ScriptLeft(), 0u);
}
