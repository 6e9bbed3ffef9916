// The keys go to the window the user last clicked, on a real X display (run
// under Xvfb) with real input from xdotool, without and with a window
// manager: the plug-in's real windows in the stand-in host, in this process.
// A value typed into a box of the knife editor is taken back by Esc and the
// editor stays. After the Cut an effect window opens; a click on the main
// window's preview leaves the keyboard there, and each shortcut of the main
// window does there what effects mode lets it do: the view commands act, the
// view menu opens, the others change nothing. A click on the effect window
// gives it the keys back: the view menu does not open from there, a zoom
// goes on to the main window, and Esc cancels it.
//
// The steps run from a timer of a hidden window while the application's
// loop runs; each waits for the state it needs. A refused key is followed by
// Ctrl+H, whose extras switch shows that the key before it was handled.
#include "gui_drive.h"
#include "host_test_support.h"
#include "main_shortcuts.h"
#include "road_run.h"

#include "app/App.h"
#include "app/InteractiveRoad.h"
#include "cutter/Wnd_Cutter.h"
#include "effects/WndFX_Base.h"
#include "platform/Backend.h"
#include "tests/need_program.h"
#include "tests/window_manager.h"
#include "ui/Control.h"
#include "ui/CtrlEditLine.h"
#include "ui/Toolkit.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

namespace {

using namespace hosttest;
using namespace mainkeys;

// Runs the steps from its timer: each answers whether its state came (then
// the next one runs); one that waits a minute fails the run and ends it.
class Driver : public CQNF_Window {
public:
    static constexpr uint32_t kWaitMs = 60000;
    struct Step {
        std::string what;  // what it waits for
        std::function<bool()> run;
    };
    std::vector<Step> steps;
    std::string failure;
    std::function<void()> giveUp;
    std::function<std::string()> detail;  // what the screen holds, for a failure
    unsigned char OnTimer(unsigned short) override
    {
        if (m_next >= steps.size() || !failure.empty() || m_inStep)
            return 1;
        const uint32_t now = qnui::Toolkit::Get().P()->NowMs();
        if (!m_since)
            m_since = now;
        m_inStep = true;
        const bool done = steps[m_next].run();
        m_inStep = false;
        if (done) {
            // The steps taken, for a run that stops on the way.
            std::fprintf(stderr, "done: %s\n", steps[m_next].what.c_str());
            ++m_next;
            m_since = now;
        } else if (now - m_since > kWaitMs) {
            failure = "waited in vain: " + steps[m_next].what + (detail ? " (" + detail() + ")" : "");
            if (giveUp)
                giveUp();
        }
        return 1;
    }
    bool Finished() const { return m_next == steps.size(); }

private:
    size_t m_next = 0;
    uint32_t m_since = 0;
    bool m_inStep = false;
};

bool Xdo(const std::string& args)
{
    const bool ok = std::system(("xdotool " + args).c_str()) == 0;
    if (!ok)
        ADD_FAILURE() << "xdotool " << args;
    return ok;
}

std::string FirstLine(const std::string& text) { return text.substr(0, text.find('\n')); }

std::string XFocus() { return FirstLine(guidrive::Capture("xdotool getwindowfocus")); }

std::string XidOf(const std::string& title)
{
    return FirstLine(guidrive::Capture("xdotool search --onlyvisible --name '^" + title + "$'"));
}

// A click at a point of a window (window-local).
bool ClickAt(CQNF_Window& w, int x, int y)
{
    const qntRECT_s r = w.GetWindowRect();
    return Xdo("mousemove " + std::to_string(r.left + x) + " " + std::to_string(r.top + y) + " click 1");
}

bool ClickControl(CQNF_Window& w, const char* name, unsigned char type)
{
    CQNF_Control* c = w.GetControl(w.FindControlByName(name, type));
    if (!c) {
        ADD_FAILURE() << "no control " << name;
        return false;
    }
    const qntRECT_s r = c->GetRenderRect();
    return ClickAt(w, (r.left + r.right) / 2, (r.top + r.bottom) / 2);
}

// Watches for a pop-up menu of this program (one more of its windows on
// the screen); Esc takes one away. Until stopped.
class MenuWatch {
public:
    MenuWatch()
    {
        const int shown = Windows();
        m_thread = std::thread([this, shown] {
            while (!m_stop && !m_seen)
                if (Windows() > shown) {
                    m_seen = true;
                    // With TESSOLO_SNAPSHOT_DIR set, the screen with the menu.
                    if (const char* dir = std::getenv("TESSOLO_SNAPSHOT_DIR"); dir && *dir)
                        std::system(("import -window root '" + std::string(dir) + "/gui_main_keys_view_menu.png'").c_str());
                    std::system("xdotool key Escape");
                }
        });
    }
    ~MenuWatch() { Stop(); }
    // Whether a menu showed.
    bool Stop()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        return m_seen;
    }
    bool Seen() const { return m_seen; }

private:
    static int Windows()
    {
        const std::string ids = guidrive::Capture("xdotool search --onlyvisible --classname test_main_keys_gui");
        return int(std::count(ids.begin(), ids.end(), '\n'));
    }
    std::atomic<bool> m_stop{false}, m_seen{false};
    std::thread m_thread;
};

void TheKeysGoToTheWindowLastClicked()
{
    NEED_PROGRAM("import", "imagemagick");
    std::string error;
    std::unique_ptr<plat::Platform> platform = plat::OpenGtk(error);
    ASSERT_TRUE(platform) << error;
    PluginHarness h;
    std::filesystem::copy_file(kResourceFile, h.File(CAppRoad::kResourceFile));
    CAppRoad road;
    road.SetPlatform(platform.get());
    road.SetCutterFactory(&qnMakeCutterWindow);
    h.plugin->SetInteractiveRoad(&road);
    StandInHost host(Document(ColorMode::RGB, 240, 160, false), HostSettings{});

    Driver driver;
    CApp* app = nullptr;
    auto main = [&app]() -> CWnd_Main& { return app->m_WndMain; };
    auto editor = [&]() -> CWnd_Cutter* {
        auto* c = dynamic_cast<CMainCutterWindow*>(main().GetCutter());
        return c ? &c->Window() : nullptr;
    };
    auto rows = [&]() {
        return static_cast<CQNF_CtrlEditLine*>(
            editor()->GetControl(editor()->FindControlByName("Cutter_Rows", qnctl::EditLine)));
    };
    std::string mainXid, fxXid, rowsBefore, before;
    uint32_t zoom = 0;
    bool extras = false;
    std::unique_ptr<MenuWatch> watch;
    auto add = [&driver](std::string what, std::function<bool()> run) {
        driver.steps.push_back({std::move(what), std::move(run)});
    };
    auto mainFocused = [&] {
        return platform->ActiveWindow() == main().GetWindowHandle() && XFocus() == mainXid;
    };
    auto fx = [&] { return main().GetFXWindow(); };

    // The knife editor's Rows box: a digit typed, then Esc.
    add("the knife editor with the keyboard", [&] {
        if (!editor() || !editor()->GetWindowHandle() || XidOf("Cutter").empty() || XidOf("Main").empty())
            return false;
        mainXid = XidOf("Main");
        rowsBefore = rows()->GetText().GetStr();
        return ClickControl(*editor(), "Cutter_Rows", qnctl::EditLine);
    });
    add("the Rows box focused", [&] { return rows()->IsFocused() && Xdo("key 7"); });
    add("the digit in the Rows box", [&] { return std::string(rows()->GetText().GetStr()) == "7" && Xdo("key Escape"); });
    add("Esc taking the Rows box's text back, the editor staying", [&] {
        if (!editor() || rows()->IsFocused() || std::string(rows()->GetText().GetStr()) != rowsBefore)
            return false;
        SetEditorGrid(*editor(), 2, 2);
        return ClickControl(*editor(), "Cutter_Cut", qnctl::Button);
    });
    add("the pieces after the Cut", [&] {
        if (main().m_bCutMode || !main().GetPieceMap() || main().GetPieceMap()->GetPieceCount() != 4)
            return false;
        return ClickControl(main(), "Main_FXOpacity", qnctl::Button);
    });
    add("the opacity window with the keyboard, its render done", [&] {
        if (!fx() || !fx()->GetWindowHandle())
            return false;
        if (fxXid.empty())
            fxXid = XidOf("FXopac");
        CQNF_Control* ok = fx()->GetControl(fx()->FindControlByName("FXopac_Ok", qnctl::Button));
        if (!ok || !ok->IsEnabled() || platform->ActiveWindow() != fx()->GetWindowHandle() ||
            XFocus() != fxXid)
            return false;
        EXPECT_EQ(UncoveredShortcuts(*app), "") << "shortcuts of the resource file the test does not type";
        const qntPOS at = PreviewPointBeside(main(), *fx());
        return ClickAt(main(), at.x, at.y);
    });
    add("the main window with the keyboard after the click", mainFocused);
    for (const Shortcut& k : kShortcuts) {
        add(std::string("the main window ready for ") + k.xdotool, [&, k] {
            if (!mainFocused())
                return false;
            before = State(main());
            zoom = main().m_nZoom;
            extras = main().GetPieceMap()->ExtrasShown();
            if (k.effect == Effect::ViewMenu)
                watch = std::make_unique<MenuWatch>();
            // Ctrl+H after a key that should do nothing: its switch shows
            // when the key before it was handled.
            return Xdo(std::string("key ") + k.xdotool + (k.effect == Effect::Nothing ? " ctrl+h" : ""));
        });
        if (k.effect == Effect::Nothing) {
            add(std::string("Ctrl+H after ") + k.xdotool, [&] {
                return main().GetPieceMap()->ExtrasShown() != extras && Xdo("key ctrl+h");
            });
        }
        add(std::string("what ") + k.xdotool + " does", [&, k] {
            const bool extrasNow = main().GetPieceMap()->ExtrasShown();
            switch (k.effect) {
            case Effect::ViewMenu:
                if (!watch->Seen())
                    return false;
                watch->Stop();
                break;
            case Effect::Nothing:
            case Effect::Extras:
                if ((extrasNow != extras) != (k.effect == Effect::Extras))
                    return false;
                break;
            case Effect::ZoomIn: if (uint32_t(main().m_nZoom) != zoom + 1) return false; break;
            case Effect::ZoomOut: if (uint32_t(main().m_nZoom) + 1 != zoom) return false; break;
            case Effect::ActualPixels: if (main().m_nZoom != 4) return false; break;
            case Effect::Fit: if (main().m_nZoom <= 4) return false; break;
            }
            EXPECT_EQ(Judge(k, main(), before, zoom, extras, k.effect == Effect::ViewMenu ? 1 : 0), "");
            return true;
        });
    }
    // The effect window clicked: the keys are its own again.
    add("the main window before the click on the effect window", [&] {
        if (!mainFocused())
            return false;
        return ClickControl(*fx(), "FXopac_Object", qnctl::StaticImage);
    });
    add("the effect window with the keyboard after its click", [&] {
        if (platform->ActiveWindow() != fx()->GetWindowHandle() || XFocus() != fxXid)
            return false;
        zoom = main().m_nZoom;
        watch = std::make_unique<MenuWatch>();
        return Xdo("key shift+F10 ctrl+equal");
    });
    add("the zoom passed on by the effect window", [&] {
        if (uint32_t(main().m_nZoom) != zoom + 1)
            return false;
        EXPECT_FALSE(watch->Stop()) << "the view menu opened from the effect window";
        return Xdo("key Escape");
    });
    add("Esc cancelling the effect window", [&] {
        if (main().m_bFXMode)
            return false;
        return ClickControl(main(), "Main_Cancel", qnctl::Button);
    });
    driver.giveUp = [&] {
        if (watch)
            watch->Stop();
        if (fx())
            fx()->Close();
        if (app && app->m_MainWindow)
            app->m_MainWindow->Close();
    };
    driver.detail = [&] {
        return "the X focus on " + XFocus() + ", the main window is " + mainXid + ", the effect window " + fxXid +
               "; the toolkit's active window " + std::to_string(platform->ActiveWindow()) + ", the main window's " +
               std::to_string(app ? main().GetWindowHandle() : 0);
    };

    road.onBeforeRun = [&](CApp& a) {
        app = &a;
        ASSERT_TRUE(driver.Create("Driver", 0, 0, 8, 8, 1, nullptr, 0, 0));
        ASSERT_TRUE(driver.SetTimer(60, 1));
    };
    const int16_t result = h.Run(host, StandInHost::Sequence::Dialog);
    if (watch)
        watch->Stop();
    driver.KillTimer(1);
    driver.Close();
    EXPECT_EQ(driver.failure, "");
    EXPECT_TRUE(driver.Finished());
    EXPECT_EQ(result, userCanceledErr);
    h.plugin->SetInteractiveRoad(nullptr);
}

}  // namespace

TEST(MainKeysGui, TheKeysGoToTheWindowLastClicked) { TheKeysGoToTheWindowLastClicked(); }

TEST(MainKeysGui, TheKeysGoToTheWindowLastClickedUnderAWindowManager)
{
    NEED_PROGRAM("openbox", "openbox");
    wmtest::WindowManager wm;
    ASSERT_TRUE(wm.Managing()) << "openbox did not take the screen";
    TheKeysGoToTheWindowLastClicked();
}
