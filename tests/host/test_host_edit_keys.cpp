// Keys typed into the plug-in's real windows, headless: a focused line takes
// every key, so the shortcuts of its window and of the main window do
// nothing while the user edits a value; Return in a value box of a window
// that stays open confirms the value and leaves the window open; beside an
// effect window the keys go to the window last clicked; a slider's every
// value, its last one included, is reached by the pointer.
#include "main_shortcuts.h"
#include "road_run.h"

#include "cutter/Wnd_Cutter.h"
#include "effects/WndFX_Base.h"
#include "ui/Control.h"
#include "ui/CtrlEditLine.h"
#include "ui/CtrlSlider.h"
#include "ui/KeyCodes.h"

#include <functional>
#include <string>

namespace {

using namespace hosttest;
using plat::mods::Command;
using plat::mods::Shift;

constexpr uint8_t kVkH = 4, kVk5 = 23, kVk7 = 26, kVk0 = 29;

struct EditRun : RoadRun {
    EditRun() { road.SetCutterFactory(&qnMakeCutterWindow); }

    CWnd_Main& Main() { return app->m_WndMain; }
    CWnd_Cutter& Editor() { return static_cast<CMainCutterWindow*>(Main().GetCutter())->Window(); }
    void Do(std::function<void()> step) { hp.Script(std::move(step)); }
    plat::Point Global(CQNF_Window& w, int32_t x, int32_t y)
    {
        const plat::Rect r = hp.ContentRect(w.GetWindowHandle());
        return {r.left + x, r.top + y};
    }
    CQNF_CtrlEditLine* Edit(CQNF_Window& w, const char* name)
    {
        return static_cast<CQNF_CtrlEditLine*>(w.GetControl(w.FindControlByName(name, qnctl::EditLine)));
    }
    void ClickEdit(CQNF_Window& w, const char* name)
    {
        CQNF_CtrlEditLine* c = Edit(w, name);
        ASSERT_NE(c, nullptr) << name;
        ASSERT_TRUE(c->IsEnabled()) << name;
        const qntRECT_s r = c->GetRenderRect();
        hp.Activate(w.GetWindowHandle());
        hp.Click(Global(w, (r.left + r.right) / 2, (r.top + r.bottom) / 2));
    }
    void ClickButton(CQNF_Window& w, const char* name)
    {
        CQNF_Control* c = w.GetControl(w.FindControlByName(name, qnctl::Button));
        ASSERT_NE(c, nullptr) << name;
        const qntRECT_s r = c->GetRenderRect();
        hp.Activate(w.GetWindowHandle());
        hp.Click(Global(w, (r.left + r.right) / 2, (r.top + r.bottom) / 2));
    }
    // Scripted: a 2 x 2 Cut in the editor, then the effect button of the
    // main window opens its window, which fx then names.
    void OpenEffectAfterCut(const char* button, CWndFX_Base*& fx)
    {
        Do([this] { SetEditorGrid(Editor(), 2, 2); });
        Do([this] { ClickButton(Editor(), "Cutter_Cut"); });
        Do([this, button] {
            ASSERT_EQ(Main().m_bCutMode, 0);
            ClickButton(Main(), button);
        });
        Do([this, &fx] {
            fx = Main().GetFXWindow();
            ASSERT_NE(fx, nullptr);
        });
    }
    // Scripted after the test's own steps: the effect window's Cancel (again
    // once its live preview's render ended), then the main window's; the run
    // must end canceled with every step taken.
    void CancelEffectAndRun(StandInHost& host, std::string cancel)
    {
        Do([this, cancel] { ClickButton(*Main().GetFXWindow(), cancel.c_str()); });
        Do([this] { hp.Advance(200); });
        Do([this, cancel] {
            if (Main().m_bFXMode)
                ClickButton(*Main().GetFXWindow(), cancel.c_str());
        });
        Do([this] { ClickButton(Main(), "Main_Cancel"); });
        EXPECT_EQ(h.Run(host, StandInHost::Sequence::Dialog), userCanceledErr);
        EXPECT_EQ(hp.ScriptLeft(), 0u);
    }
    void ClickNode(uint32_t node)
    {
        CWnd_Cutter& e = Editor();
        const qntPOS c = e.NodeCentre(node);
        hp.Activate(e.GetWindowHandle());
        hp.Click(Global(e, e.m_rcPreview.left + c.x, e.m_rcPreview.top + c.y));
    }
};

// The main window's layout and the editor's shape, selection and view.
std::string State(EditRun& r)
{
    CWnd_Main& w = r.Main();
    CQNF_Mem block;
    uint32_t length = 0;
    std::string s = "layout ";
    if (w.settings_SaveCurLayoutAndCellSettingsToMem(&block, length) && block.GetPtr())
        s += std::to_string(std::hash<std::string>{}(
            std::string(reinterpret_cast<const char*>(block.GetPtr()), length)));
    const CWnd_Cutter& e = r.Editor();
    s += "|nodes";
    for (uint32_t i = 0; i < e.m_Shape.nodeCount; ++i)
        s += " " + std::to_string(e.m_Shape.selected[i]) + ":" + std::to_string(e.m_Shape.pos[i].U) + "," +
             std::to_string(e.m_Shape.pos[i].H) + "," + std::to_string(e.m_Shape.S[i]);
    return s + "|anchors " + std::to_string(e.m_bAnchorsShown) + "|extras " + std::to_string(e.m_bExtrasVisible);
}

}  // namespace

// Each row: a value box of the knife editor gets the focus, the keys are
// typed; the window's shortcuts for those keys (undo, select all, show the
// anchor points) must not act: the layout, the shape and the view stay, and
// the box shows what its own editing gives.
TEST(HostEditKeys, AFocusedEditLineTakesTheShortcutKeys)
{
    if (!HasResources())
        FAIL() << "no compiled resource file in this build";
    struct Key {
        uint8_t vkey, ch, mods;
    };
    const struct Case {
        const char* what;
        bool selectNode;  // one node selected first (the smoothness box needs one)
        const char* edit;
        std::vector<Key> keys;
        const char* shown;  // the box's text afterwards; null: as it was
    } cases[] = {
        {"Ctrl+Z after typing in Rows", false, "Cutter_Rows", {{kVk7, '7', 0}, {qnkey::vk::Z, 'z', Command}}, nullptr},
        {"Ctrl+A in Smoothness", true, "Cutter_Smoothness", {{qnkey::vk::A, 'a', Command}, {kVk5, '5', 0}, {kVk0, '0', 0}},
         "50"},
        {"Shift+H in Rows", false, "Cutter_Rows", {{kVkH, 'H', Shift}}, nullptr},
    };
    for (const Case& c : cases) {
        EditRun r;
        StandInHost host(Document(ColorMode::RGB, 240, 160, false), HostSettings{});
        std::string before, shownBefore;
        // A layout change of the main window the undo would take back.
        r.Do([&] { SetEditorGrid(r.Editor(), 3, 4); });
        r.Do([&] {
            if (c.selectNode) {
                r.hp.Activate(r.Editor().GetWindowHandle());
                r.hp.Key(qnkey::vk::D, 'd', Command);  // deselect every node
            }
        });
        r.Do([&] {
            if (c.selectNode)
                r.ClickNode(r.Editor().m_Shape.nodeCount / 2);
        });
        r.Do([&] {
            if (c.selectNode) {
                const auto& shape = r.Editor().m_Shape;
                for (uint32_t i = 0; i < shape.nodeCount; ++i)
                    ASSERT_EQ(shape.selected[i], i == shape.nodeCount / 2 ? 1 : 0) << c.what;
            }
            r.ClickEdit(r.Editor(), c.edit);
        });
        r.Do([&] {
            CQNF_CtrlEditLine* e = r.Edit(r.Editor(), c.edit);
            ASSERT_EQ(r.Editor().GetFocusedControl(), r.Editor().FindControlByName(c.edit, qnctl::EditLine))
                << c.what;
            before = State(r);
            shownBefore = e->GetText().GetStr();
            for (const Key& k : c.keys)
                r.hp.Key(k.vkey, k.ch, k.mods);
        });
        r.Do([&] {
            EXPECT_EQ(State(r), before) << c.what;
            EXPECT_EQ(std::string(r.Edit(r.Editor(), c.edit)->GetText().GetStr()), c.shown ? c.shown : shownBefore)
                << c.what;
            r.ClickButton(r.Main(), "Main_Cancel");
        });
        EXPECT_EQ(r.h.Run(host, StandInHost::Sequence::Dialog), userCanceledErr) << c.what;
        EXPECT_EQ(r.hp.ScriptLeft(), 0u) << c.what;
    }
}

// Return in an effect window's value box confirms the value and leaves the
// window open for the next change; Esc there takes the typing back; the
// next Return, with no box focused, runs OK with the value confirmed.
TEST(HostEditKeys, ReturnInAnEffectValueBoxConfirmsTheValueOnly)
{
    if (!HasResources())
        FAIL() << "no compiled resource file in this build";
    EditRun r;
    StandInHost host(Document(ColorMode::RGB, 240, 160, false), HostSettings{});
    const char* box = "FXopac_Opacity";
    CWndFX_Base* fx = nullptr;
    r.OpenEffectAfterCut("Main_FXOpacity", fx);
    r.Do([&] { r.ClickEdit(*fx, box); });
    r.Do([&] {
        r.hp.Key(23, '4');
        r.hp.Key(29, '0');
        r.hp.Key(qnkey::vk::Return, 13);
    });
    r.Do([&] {
        ASSERT_EQ(r.Main().GetFXWindow(), fx) << "Return in the value box closed the window";
        EXPECT_TRUE(r.Main().m_bFXMode);
        EXPECT_EQ(fx->GetFocusedControl(), CQNF_Window::None);
        EXPECT_EQ(std::string(r.Edit(*fx, box)->GetText().GetStr()), "40");
        auto* slider = static_cast<CQNF_CtrlSlider*>(fx->GetControl(fx->FindControlByName(box, qnctl::Slider)));
        ASSERT_NE(slider, nullptr);
        EXPECT_EQ(slider->GetValueD(0, 100), 40u);
        // Typing taken back with Esc: the box shows the confirmed value
        // and the window stays.
        r.ClickEdit(*fx, box);
    });
    r.Do([&] {
        r.hp.Key(qnkey::vk::One, '1');
        r.hp.Key(qnkey::vk::Escape, 27);
    });
    r.Do([&] {
        ASSERT_EQ(r.Main().GetFXWindow(), fx) << "Esc in the value box closed the window";
        EXPECT_EQ(std::string(r.Edit(*fx, box)->GetText().GetStr()), "40");
    });
    // The live preview's render ends first: the window closes after it.
    r.Do([&] { r.hp.Advance(200); });
    r.Do([] {});
    r.Do([&] { r.hp.Key(qnkey::vk::Return, 13); });
    r.Do([&] {
        EXPECT_FALSE(r.Main().m_bFXMode);
        CTessolo& engine = r.h.plugin->GetEngine();
        ASSERT_EQ(engine.m_nPieces, 4u);
        for (uint32_t i = 0; i < engine.m_nPieces; ++i) {
            const auto& o = engine.m_pPieces[i].opacity[CTessolo::FX_APPLIED];
            EXPECT_TRUE(o.on) << i;
            EXPECT_EQ(o.opacity, 40 * 255 / 100) << i;  // 40 %
        }
        r.ClickButton(r.Main(), "Main_Cancel");
    });
    EXPECT_EQ(r.h.Run(host, StandInHost::Sequence::Dialog), userCanceledErr);
    EXPECT_EQ(r.hp.ScriptLeft(), 0u);
}

// The main window's Random field: Esc takes the typing back and changes
// nothing else, even with nothing typed (the knots stay where they are, the
// slider shows the value again); Return randomises the knots, with the
// value typed or the same one.
TEST(HostEditKeys, EscInTheMainRandomFieldChangesNothing)
{
    if (!HasResources())
        FAIL() << "no compiled resource file in this build";
    EditRun r;
    StandInHost host(Document(ColorMode::RGB, 240, 160, false), HostSettings{});
    const char* field = "Main_RndKnots";
    std::string before;
    auto slider = [&] {
        CWnd_Main& w = r.Main();
        auto* s = static_cast<CQNF_CtrlSlider*>(w.GetControl(w.FindControlByName(field, qnctl::Slider)));
        return s ? s->GetValueD(0, 100) : 1000u;
    };
    auto text = [&] { return std::string(r.Edit(r.Main(), field)->GetText().GetStr()); };
    // Each row: the keys typed into the field after a click into it; the
    // field's text after; whether the knots move.
    const struct Row {
        const char* what;
        const char* keys;  // the last one, Return or Esc, ends the edit
        const char* shown;
        bool moves;
    } rows[] = {
        {"40 and Return", "40\r", "40", true},
        {"Esc alone", "\x1b", "40", false},
        {"7 and Esc", "7\x1b", "40", false},
        {"Return alone", "\r", "40", true},
    };
    r.Do([&] { SetEditorGrid(r.Editor(), 3, 3); });
    for (const Row& row : rows) {
        r.Do([&] {
            ASSERT_TRUE(r.Main().m_bCutMode);
            r.ClickEdit(r.Main(), field);
        });
        r.Do([&] {
            ASSERT_EQ(r.Main().GetFocusedControl(), r.Main().FindControlByName(field, qnctl::EditLine)) << row.what;
            before = State(r);
            for (const char* k = row.keys; *k; ++k) {
                if (*k == '\r')
                    r.hp.Key(qnkey::vk::Return, 13);
                else if (*k == '\x1b')
                    r.hp.Key(qnkey::vk::Escape, 27);
                else
                    r.hp.Key(0xFF, uint8_t(*k));
            }
        });
        r.Do([&] {
            EXPECT_EQ(r.Main().GetFocusedControl(), CQNF_Window::None) << row.what;
            EXPECT_EQ(text(), row.shown) << row.what;
            EXPECT_EQ(slider(), 40u) << row.what;
            if (row.moves)
                EXPECT_NE(State(r), before) << row.what << " left the knots";
            else
                EXPECT_EQ(State(r), before) << row.what << " moved the knots";
        });
    }
    r.Do([&] { r.ClickButton(r.Main(), "Main_Cancel"); });
    EXPECT_EQ(r.h.Run(host, StandInHost::Sequence::Dialog), userCanceledErr);
    EXPECT_EQ(r.hp.ScriptLeft(), 0u);
}

// The bevel's depth slider reaches its last value: dragged past its end, and
// touched where the thumb stands after that value was typed into its box.
TEST(HostEditKeys, TheDepthSliderReachesItsLastValue)
{
    if (!HasResources())
        FAIL() << "no compiled resource file in this build";
    EditRun r;
    StandInHost host(Document(ColorMode::RGB, 240, 160, false), HostSettings{});
    CWndFX_Base* fx = nullptr;
    CQNF_CtrlSlider* depth = nullptr;
    uint32_t last = 0;
    auto at = [&](const qnctl::SliderPoint& p, int32_t dx) { return r.Global(*fx, p.x + dx, p.y); };
    auto shown = [&] { return std::string(r.Edit(*fx, "FXbevel_Depth")->GetText().GetStr()); };
    r.OpenEffectAfterCut("Main_FXBevel", fx);
    r.Do([&] {
        depth = static_cast<CQNF_CtrlSlider*>(fx->GetControl(fx->FindControlByName("FXbevel_Depth1", qnctl::Slider)));
        ASSERT_NE(depth, nullptr);
        ASSERT_GT(depth->GetPointCount(), 1u);
        last = depth->GetPoints().back().value;
        // Dragged from the thumb to well past the track's end.
        const qnctl::SliderPoint thumb = depth->GetPoints()[depth->GetPointIndex()];
        r.hp.Activate(fx->GetWindowHandle());
        r.hp.MoveMouse(at(thumb, 0));
        r.hp.Press();
        r.hp.MoveMouse(at(depth->GetPoints().back(), 20));
        r.hp.Release();
    });
    r.Do([&] {
        EXPECT_EQ(depth->GetValue(), last);
        EXPECT_EQ(shown(), std::to_string(last));
        // Somewhere in the middle first, then the last value typed.
        const qnctl::SliderPoint mid = depth->GetPoints()[depth->GetPointCount() / 2];
        r.hp.MoveMouse(at(mid, 0));
        r.hp.Press();
        r.hp.Release();
    });
    r.Do([&] {
        EXPECT_LT(depth->GetValue(), last);
        r.ClickEdit(*fx, "FXbevel_Depth");
    });
    r.Do([&] {
        for (const char ch : std::to_string(last))
            r.hp.Key(0xFF, uint8_t(ch));
        r.hp.Key(qnkey::vk::Return, 13);
    });
    r.Do([&] {
        ASSERT_EQ(depth->GetValue(), last);
        // A touch on the thumb where it stands keeps the value.
        r.hp.MoveMouse(at(depth->GetPoints()[depth->GetPointIndex()], 0));
        r.hp.Press();
        r.hp.Release();
    });
    r.Do([&] {
        EXPECT_EQ(depth->GetValue(), last);
        EXPECT_EQ(shown(), std::to_string(last));
    });
    r.CancelEffectAndRun(host, "FXbevel_Cancel");
}

// A disabled check box looks disabled as a whole: its label, not only its
// mark, is drawn dimmer than when the box is enabled.
TEST(HostEditKeys, ADisabledCheckBoxDimsItsLabel)
{
    if (!HasResources())
        FAIL() << "no compiled resource file in this build";
    EditRun r;
    StandInHost host(Document(ColorMode::RGB, 240, 160, false), HostSettings{});
    CWndFX_Base* fx = nullptr;
    CQNF_Control* box = nullptr;
    // The brightness of the label's pixels on screen: the line right of the
    // mark, as wide as the label "Auto adjust".
    auto label = [&] {
        uint16_t w = 0, h = 0;
        const std::vector<uint32_t>* fb = r.hp.Framebuffer(fx->GetWindowHandle(), w, h);
        EXPECT_NE(fb, nullptr);
        const qntRECT_s rc = box->GetRenderRect();
        uint64_t sum = 0;
        for (int32_t y = rc.top; fb && y < rc.bottom && y < h; ++y)
            for (int32_t x = rc.left + 20; x < rc.left + 110 && x < w; ++x) {
                const uint32_t p = (*fb)[size_t(y) * w + size_t(x)];
                sum += ((p >> 16) & 0xFF) + ((p >> 8) & 0xFF) + (p & 0xFF);
            }
        return sum;
    };
    uint64_t enabled = 0;
    r.OpenEffectAfterCut("Main_FXBlur", fx);
    r.Do([&] {
        box = fx->GetControl(fx->FindControlByName("FXblur_AAdjust", qnctl::CheckBox));
        ASSERT_NE(box, nullptr);
        box->Enable(1);
    });
    r.Do([&] {
        enabled = label();
        box->Enable(0);
    });
    r.Do([&] {
        const uint64_t disabled = label();
        EXPECT_GT(enabled, 0u);
        EXPECT_LT(disabled * 10, enabled * 9) << "the disabled label is not visibly dimmer";
        SaveWindowSnapshot(r.hp, fx->GetWindowHandle(), "blur_auto_adjust_disabled.png");
    });
    r.CancelEffectAndRun(host, "FXblur_Cancel");
}

// Beside an open effect window the user works in the window last clicked:
// after a click on the main window's preview the main window keeps the
// keyboard, and each of its shortcuts does there what effects mode lets it
// do (the view commands and the view menu act, the rest change nothing); a
// click on the effect window gives it the keys back, where only the view
// commands go on to the main window, and Esc cancels it.
TEST(HostEditKeys, BesideAnEffectWindowTheKeysGoToTheWindowLastClicked)
{
    if (!HasResources())
        FAIL() << "no compiled resource file in this build";
    using namespace mainkeys;
    EditRun r;
    StandInHost host(Document(ColorMode::RGB, 240, 160, false), HostSettings{});
    CWndFX_Base* fx = nullptr;
    r.OpenEffectAfterCut("Main_FXOpacity", fx);
    // The live preview's render ends first.
    r.Do([&] { r.hp.Advance(200); });
    r.Do([&] {
        EXPECT_EQ(UncoveredShortcuts(*r.app), "") << "shortcuts of the resource file the test does not type";
        EXPECT_EQ(r.hp.ActiveWindow(), fx->GetWindowHandle());
        // The window manager gives the clicked window the focus.
        r.hp.Activate(r.Main().GetWindowHandle());
        const qntPOS at = PreviewPointBeside(r.Main(), *fx);
        r.hp.Click(r.Global(r.Main(), at.x, at.y));
    });
    r.Do([&] {
        EXPECT_EQ(r.hp.ActiveWindow(), r.Main().GetWindowHandle()) << "the effect window took the keys back";
    });
    std::string before;
    uint32_t zoom = 0;
    bool extras = false;
    size_t menus = 0;
    for (const Shortcut& k : kShortcuts) {
        r.Do([&] {
            before = State(r.Main());
            zoom = r.Main().m_nZoom;
            extras = r.Main().GetPieceMap()->ExtrasShown();
            menus = r.hp.menusShown.size();
            if (k.effect == Effect::ViewMenu)
                r.hp.menuAnswers.push_back(-1);
            r.hp.Key(k.vkey, k.ch, k.mods);
        });
        r.Do([&] {
            EXPECT_EQ(Judge(k, r.Main(), before, zoom, extras, int(r.hp.menusShown.size() - menus)), "");
            r.hp.menuAnswers.clear();
        });
    }
    // A click on the effect window's sample gives it the keys back: the
    // view menu is the main window's alone, a zoom goes on, Esc cancels.
    r.Do([&] {
        CQNF_Control* sample = fx->GetControl(fx->FindControlByName("FXopac_Object", qnctl::StaticImage));
        ASSERT_NE(sample, nullptr);
        const qntRECT_s rc = sample->GetRenderRect();
        r.hp.Activate(fx->GetWindowHandle());
        r.hp.Click(r.Global(*fx, (rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2));
    });
    r.Do([&] {
        EXPECT_EQ(r.hp.ActiveWindow(), fx->GetWindowHandle());
        menus = r.hp.menusShown.size();
        zoom = r.Main().m_nZoom;
        r.hp.Key(qnkey::vk::F10, 0, plat::mods::Shift);
        r.hp.Key(24, '=', plat::mods::Command);
    });
    r.Do([&] {
        EXPECT_EQ(r.hp.menusShown.size(), menus) << "the view menu opened from the effect window";
        EXPECT_EQ(r.Main().m_nZoom, zoom + 1) << "the zoom was not passed on";
        r.hp.Key(qnkey::vk::Escape, 27);
    });
    r.Do([&] {
        EXPECT_FALSE(r.Main().m_bFXMode) << "Esc did not cancel the effect window";
        r.ClickButton(r.Main(), "Main_Cancel");
    });
    EXPECT_EQ(r.h.Run(host, StandInHost::Sequence::Dialog), userCanceledErr);
    EXPECT_EQ(r.hp.ScriptLeft(), 0u);
}
