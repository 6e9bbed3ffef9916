// Every dialog of the plug-in keeps the keyboard when the window behind it
// is clicked, on a real X display (run under Xvfb) with real input from
// xdotool, without and with a window manager: each dialog is opened over a
// main window in turn, the main window is clicked, and the dialog must be
// the focused window again, in front, and take Esc or Return. An effect
// window is no dialog: the click leaves the keys with the main window, and a
// click on the effect window gives them back. In every dialog with an edit
// line, the focused line takes Esc and Return, and the next press ends the
// dialog.
//
// The steps run from a timer of the main window while the dialog's modal
// loop (or, for the modeless effect windows, the pump) runs: xdotool's input
// reaches the X server at once and the loop reads it when the step returns.
#include "app/App.h"
#include "app/Wnd_ChannelList.h"
#include "app/Wnd_Export.h"
#include "app/Wnd_MessageBox.h"
#include "app/Wnd_Pref.h"
#include "app/Wnd_PrefAppHost.h"
#include "cutter/Wnd_Dialogs.h"
#include "effects/WndFX_Windows.h"
#include "fx_window_fixture.h"
#include "platform/Backend.h"
#include "tests/need_program.h"
#include "tests/window_manager.h"
#include "ui/App.h"
#include "ui/Control.h"
#include "ui/CtrlEditLine.h"
#include "ui/KeyCodes.h"
#include "ui/Toolkit.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

const std::string kResourceFile = std::string(TESSOLO_BINARY_DIR) + "/resource_ts31_d.qns4";

std::string Run(const std::string& cmd)
{
    std::string out;
    if (FILE* p = popen((cmd + " 2>/dev/null").c_str(), "r")) {
        char buf[128];
        for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;)
            out.append(buf, n);
        pclose(p);
    }
    while (!out.empty() && (out.back() == '\n' || out.back() == ' '))
        out.pop_back();
    return out;
}

// Whether the window stands where the X server has it, as at the last look
// (last keeps this look): a window manager places a new window a moment
// after it is shown, and on a busy machine the toolkit hears of its new place
// later still. A click aimed before both agree lands beside what it aims at.
bool Placed(const CQNF_Window& w, const std::string& xid, qntRECT_s& last)
{
    const qntRECT_s r = w.GetWindowRect();
    const std::string geo = Run("xdotool getwindowgeometry --shell " + xid);
    const size_t x = geo.find("X="), y = geo.find("Y=");
    const bool agree = x != std::string::npos && y != std::string::npos &&
                       std::atoi(geo.c_str() + x + 2) == r.left && std::atoi(geo.c_str() + y + 2) == r.top;
    const bool still = r.left == last.left && r.top == last.top && r.right == last.right && r.bottom == last.bottom;
    last = r;
    return agree && still;
}

// The presses the display sent to our windows, counted on their way to the
// toolkit.
struct PressCounter : plat::EventSink {
    int presses = 0;
    void Push(const plat::Event& e) override
    {
        if (e.kind == plat::Kind::MouseDown)
            ++presses;
        qnui::Toolkit::Get().Push(e);
    }
};

// What one dialog is, how it opens over the main window and how it must end.
struct Case {
    std::string title;  // its window's name (the resource's)
    const char* key;    // xdotool's name of the key sent after the click
    // Opens the dialog over the main window and runs it to its end; the
    // answer it ended with.
    std::function<long(CQNF_Window& main)> run;
    long answer;
    // For a box that Return and Esc do not close: whether the key reached
    // it, and the point of the box (window-local) clicked to end it then.
    std::function<bool()> keyTaken;
    qntPOS endClick{0, 0};
    // A modeless window: found by this (a modal one is the toolkit's top
    // modal window).
    std::function<CQNF_Window*()> modeless;
    // A dialog that opens with its edit line focused: the line takes the
    // first key, the dialog the same key again.
    bool fieldFirst = false;
};

// The main window behind the dialogs: a timer runs the steps of a case.
class Behind : public CQNF_Window {
public:
    std::function<void()> step;
    unsigned char OnTimer(unsigned short id) override
    {
        if (id == 1 && step)
            step();
        return 0;
    }
};

// One case, step by step: the dialog shown with the focus; the main window
// clicked; the dialog focused in front again; the key; (a box: the click
// that ends it). A step that does not come within half a minute fails the case
// and ends the dialog.
class Steps {
public:
    Steps(Behind& behind, PressCounter& counter, const Case& c) : m_Behind(behind), m_Counter(counter), m_Case(c) {}
    std::string failure;
    void operator()()
    {
        plat::Platform* p = qnui::Toolkit::Get().P();
        CQNF_Window* d = m_Case.modeless ? m_Case.modeless() : qnui::Toolkit::Get().TopModal();
        if (m_Done || !d || !d->GetWindowHandle())
            return;
        const uint32_t now = p->NowMs();
        if (!m_Since)
            m_Since = now;
        if (now - m_Since > 30000) {
            failure = m_Case.title + ": " + Waiting() + " (the X focus is on " + Run("xdotool getwindowfocus") +
                      ", the dialog is " + m_Xid + ")";
            m_Done = true;
            if (m_Case.modeless)
                d->Close();
            else
                d->EndModal(-7);
            return;
        }
        const std::string xfocus = Run("xdotool getwindowfocus");
        const bool focused = p->ActiveWindow() == d->GetWindowHandle() && !m_Xid.empty() && xfocus == m_Xid;
        switch (m_Step) {
        case 0:  // shown, and the keyboard's
            if (m_Xid.empty())
                m_Xid = Run("xdotool search --onlyvisible --name '^" + m_Case.title + "$' | head -1");
            if (!focused)
                return;
            m_Presses = m_Counter.presses;
            {
                // A point of the main window that no dialog covers.
                const qntRECT_s r = m_Behind.GetWindowRect();
                Xdo("mousemove " + std::to_string(r.left + 60) + " " + std::to_string(r.top + 90) + " click 1");
            }
            Next(now);
            return;
        case 1:  // the press came
            if (m_Counter.presses > m_Presses)
                Next(now);
            return;
        case 2:  // the dialog has the keyboard again
            if (m_Case.modeless) {
                // The main window has it, until the effect window is clicked.
                if (m_BehindXid.empty())
                    m_BehindXid = Run("xdotool search --onlyvisible --name '^Behind$' | head -1");
                if (p->ActiveWindow() != m_Behind.GetWindowHandle() || xfocus != m_BehindXid ||
                    !Placed(*d, m_Xid, m_Last))
                    return;
                const qntRECT_s r = d->GetWindowRect();
                CQNF_Control* sample = d->GetControl(
                    d->FindControlByName((m_Case.title + "_Object").c_str(), qnctl::StaticImage));
                const qntRECT_s c = sample ? sample->GetRenderRect() : qntRECT_s{20, 60, 21, 61};
                Xdo("mousemove " + std::to_string(r.left + (c.left + c.right) / 2) + " " +
                    std::to_string(r.top + (c.top + c.bottom) / 2) + " click 1");
                Next(now);
                return;
            }
            [[fallthrough]];
        case 3:  // (an effect window: clicked, it has the keyboard again)
            if (!focused)
                return;
            if (m_Step == 2)
                ++m_Step;
            Xdo(std::string("key ") + m_Case.key);
            Next(now);
            return;
        case 4:  // a box that keeps its keys: ended by its button
            if (m_Case.fieldFirst) {
                // The line took the key; the dialog takes the next.
                if (d->GetFocusedControl() != CQNF_Window::None)
                    return;
                Xdo(std::string("key ") + m_Case.key);
                Next(now);
                return;
            }
            if (!m_Case.keyTaken || !m_Case.keyTaken() || !Placed(*d, m_Xid, m_Last))
                return;
            {
                const qntRECT_s r = d->GetWindowRect();
                Xdo("mousemove " + std::to_string(r.left + m_Case.endClick.x) + " " +
                    std::to_string(r.top + m_Case.endClick.y) + " click 1");
            }
            Next(now);
            return;
        default: return;
        }
    }

private:
    static void Xdo(const std::string& args)
    {
        if (std::system(("xdotool " + args).c_str()) != 0)
            ADD_FAILURE() << "xdotool " << args;
    }
    void Next(uint32_t now)
    {
        ++m_Step;
        m_Since = now;
    }
    std::string Waiting() const
    {
        switch (m_Step) {
        case 0: return "the dialog never had the keyboard";
        case 1: return "the click on the main window never came";
        case 2:
            return m_Case.modeless ? "after the click on the main window the main window did not have the keyboard"
                                   : "after the click on the main window the dialog did not get the keyboard back";
        case 3: return "after the click on the effect window it did not get the keyboard back";
        case 4:
            return m_Case.fieldFirst ? "the focused field did not end its edit on " + std::string(m_Case.key)
                   : m_Case.keyTaken ? std::string("the box never took ") + m_Case.key
                                     : std::string("the dialog did not end on ") + m_Case.key;
        default: return "the dialog did not end after its button";
        }
    }
    Behind& m_Behind;
    PressCounter& m_Counter;
    const Case& m_Case;
    int m_Step = 0;
    int m_Presses = 0;
    uint32_t m_Since = 0;
    bool m_Done = false;
    std::string m_Xid, m_BehindXid;
    qntRECT_s m_Last{0, 0, 0, 0};
};

// One dialog's edit line, step by step: clicked, typed into, Esc (the line
// takes its text back and the dialog stays); clicked, typed into, Return
// (the line confirms and the dialog stays); then the dialog's own key. A
// step that does not come within half a minute fails and ends the dialog.
class FieldSteps {
public:
    FieldSteps(const char* field, const char* end) : m_Field(field), m_End(end) {}
    std::string failure;
    void operator()()
    {
        plat::Platform* p = qnui::Toolkit::Get().P();
        CQNF_Window* d = qnui::Toolkit::Get().TopModal();
        if (m_Done || !d || !d->GetWindowHandle())
            return;
        auto* line = static_cast<CQNF_CtrlEditLine*>(d->GetControl(d->FindControlByName(m_Field, qnctl::EditLine)));
        const uint32_t now = p->NowMs();
        if (!m_Since)
            m_Since = now;
        if (!line || now - m_Since > 30000) {
            failure = std::string(m_Field) + ": " + (line ? Waiting() : "no such edit line");
            m_Done = true;
            d->EndModal(-7);
            return;
        }
        const std::string text = line->GetText().GetStr();
        const qntRECT_s w = d->GetWindowRect(), r = line->GetRenderRect();
        const std::string click = "mousemove " + std::to_string(w.left + (r.left + r.right) / 2) + " " +
                                  std::to_string(w.top + (r.top + r.bottom) / 2) + " click 1";
        switch (m_Step) {
        case 0:  // the dialog has the keyboard
            if (m_Xid.empty())
                m_Xid = Run("xdotool search --onlyvisible --name '^" + std::string(d->GetName()) +
                            "$' | head -1");
            if (p->ActiveWindow() != d->GetWindowHandle() || m_Xid.empty() ||
                Run("xdotool getwindowfocus") != m_Xid || !Placed(*d, m_Xid, m_Last))
                return;
            m_Before = text;
            Xdo(click);
            break;
        case 3:  // Esc took the typing back and ended the edit alone
            if (line->IsFocused() || text != m_Before || !Placed(*d, m_Xid, m_Last))
                return;
            // With TESSOLO_SNAPSHOT_DIR set, the screen with the dialog still up.
            if (const char* dir = std::getenv("TESSOLO_SNAPSHOT_DIR"); dir && *dir)
                std::system(("import -window root '" + std::string(dir) + "/gui_field_esc_" + m_Field + ".png'").c_str());
            Xdo(click);
            break;
        case 1:
        case 4:  // the line has the focus: a digit
            if (!line->IsFocused())
                return;
            Xdo("key 5");
            break;
        case 2:
        case 5:  // typed: Esc, then Return
            if (text != "5")
                return;
            Xdo(m_Step == 2 ? "key Escape" : "key Return");
            break;
        case 6:  // Return ended the edit alone: the dialog's key
            if (line->IsFocused())
                return;
            Xdo(std::string("key ") + m_End);
            break;
        default: return;
        }
        ++m_Step;
        m_Since = now;
    }

private:
    static void Xdo(const std::string& args)
    {
        if (std::system(("xdotool " + args).c_str()) != 0)
            ADD_FAILURE() << "xdotool " << args;
    }
    std::string Waiting() const
    {
        switch (m_Step) {
        case 0: return "the dialog never had the keyboard";
        case 1:
        case 4: return "the click did not give the line the focus";
        case 2:
        case 5: return "the digit typed did not reach the line";
        case 3: return "Esc in the line did not take the text back and end the edit (or it ended the dialog)";
        case 6: return "Return in the line did not end the edit (or it ended the dialog)";
        default: return std::string("the dialog did not end on ") + m_End;
        }
    }
    const char* m_Field;
    const char* m_End;
    int m_Step = 0;
    uint32_t m_Since = 0;
    bool m_Done = false;
    std::string m_Xid, m_Before;
    qntRECT_s m_Last{0, 0, 0, 0};
};

// A message box that counts the keys it is given.
class CountingBox : public CWnd_MessageBox {
public:
    int returns = 0, escapes = 0;
    unsigned char OnKeyDown(unsigned char key, unsigned char mods) override
    {
        returns += key == qnkey::Return;
        escapes += key == qnkey::Escape;
        return CWnd_MessageBox::OnKeyDown(key, mods);
    }
};

// The centre of a button of the resource window (window-local).
qntPOS CentreOf(const char* window, const char* button)
{
    CQNF_Window probe;
    qntPOS at{0, 0};
    const bool made = probe.CreateFromResource(window, 0, 0, nullptr, 0);
    const unsigned long id = made ? probe.AddControl(button, qnctl::Button) : CQNF_Window::None;
    if (id == CQNF_Window::None) {
        ADD_FAILURE() << "no " << button << " in " << window;
    } else {
        const qntRECT_s r = probe.GetControl(id)->GetRenderRect();
        at = qntPOS{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    }
    probe.Close();
    return at;
}

class OneChannel : public CChannelSource {
public:
    std::vector<qntCHANNELITEM> Items() override { return {{"Red", 0}}; }
    uint32_t Width() override { return 40; }
    uint32_t Height() override { return 30; }
    bool Read(uint32_t, uint8_t* buffer) override
    {
        for (uint32_t i = 0; i < 40 * 30; ++i)
            buffer[i] = uint8_t(i % 40 * 6);
        return true;
    }
};

// An effect window's link whose main window is the one behind.
class FxOverBehind : public fxtest::FakeWindowMain {
public:
    FxOverBehind(fxtest::Puzzle& p, CQNF_Window& behind) : FakeWindowMain(p), m_Behind(behind) {}
    CQNF_Window* FxParentWindow() override { return &m_Behind; }

private:
    CQNF_Window& m_Behind;
};

// Runs body with the dialogs' host over a main window whose 40 ms timer
// drives each case's steps; sink, when given, sees every platform event.
void OverAMainWindow(plat::EventSink* sink, const std::function<void(CAppDialogHost&, Behind&)>& body)
{
    std::string error;
    std::unique_ptr<plat::Platform> platform = plat::OpenGtk(error);
    ASSERT_TRUE(platform) << error;
    qnui::Toolkit& tk = qnui::Toolkit::Get();
    tk.Attach(platform.get());
    if (sink)
        platform->SetSink(sink);
    {
        CApp app;
        m_App = &app;
        ASSERT_TRUE(app.InitStorgaeResource(kResourceFile.c_str(), 0));
        CAppDialogHost host(app);
        Behind behind;
        behind.SetMainWindowFlag(1);
        ASSERT_TRUE(behind.Create("Behind", 10, 10, 320, 240, 1, nullptr, 0, 0));
        behind.RenderRect(qnNullRect);
        behind.Show();
        ASSERT_TRUE(behind.SetTimer(40, 1));
        body(host, behind);
        behind.KillTimer(1);
        behind.Close();
        tk.PumpFor(50);
        m_App = nullptr;
    }
    tk.Attach(nullptr);
}

void EveryDialogKeepsTheKeys()
{
    PressCounter counter;
    OverAMainWindow(&counter, [&counter](CAppDialogHost& host, Behind& behind) {
        qnui::Toolkit& tk = qnui::Toolkit::Get();

        std::vector<Case> cases;
        auto add = [&cases](const std::string& title, const char* key, long answer,
                            std::function<long(CQNF_Window&)> run) -> Case& {
            Case c;
            c.title = title;
            c.key = key;
            c.answer = answer;
            c.run = std::move(run);
            cases.push_back(std::move(c));
            return cases.back();
        };
        add("Pref", "Return", 1, [&](CQNF_Window& m) {
            CPreferences prefs;
            return long(DoPrefDialog(&m, host, prefs));
        });
        add("Export", "Escape", 0, [&](CQNF_Window& m) {
            CWnd_Export d(host, CExportStats{6, 2, 0, 1}, CExportSettings{});
            return long(qnRunDialog(d, host, "Export", "Main", &m));
        });
        add("ExportLM", "Escape", 0, [&](CQNF_Window& m) {
            CWnd_ExportLM d(host, CExportLMStats{12, 3, 1, 0}, CExportLMSettings{});
            return long(qnRunDialog(d, host, "ExportLM", "Main", &m));
        });
        OneChannel channel;
        add("ChannelList", "Escape", 0, [&](CQNF_Window& m) {
            CWnd_ChannelList d;
            d.m_pSource = &channel;
            return long(qnRunDialog(d, host, "ChannelList", "MAIN", &m));
        });
        // The box with a lone OK, as the export's refusal shows it: the OK on
        // the right ends it.
        Case& lone = add("MessageBox", "Return", 1, [&](CQNF_Window& m) {
            host.ShowMessage(&m, "Unsupported Color mode for Export!", "the document is not RGB");
            return 1L;
        });
        lone.keyTaken = [] { return true; };
        lone.endClick = CentreOf("MessageBox", "MessageBox_OKr");
        CountingBox* box = nullptr;
        auto ask = [&](uint8_t left, uint8_t right) {
            return [&, left, right](CQNF_Window& m) {
                CountingBox b;
                box = &b;
                b.Init("Pieces Layout Has Changed", "Do you want to reset effects?", left, right);
                long r = -1;
                if (b.CreateFromResource("MessageBox", -32000, -32000, &m, 1)) {
                    b.RenderRect(qnNullRect);
                    r = b.DoModal();
                }
                box = nullptr;
                return r;
            };
        };
        Case& yesNo = add("MessageBox", "Escape", 0, ask(CWnd_MessageBox::YES, CWnd_MessageBox::NO));
        yesNo.keyTaken = [&] { return box && box->escapes > 0; };
        yesNo.endClick = CentreOf("MessageBox", "MessageBox_NO");
        Case& okCancel = add("MessageBox", "Return", 0, ask(CWnd_MessageBox::OK, CWnd_MessageBox::CANCEL));
        okCancel.keyTaken = [&] { return box && box->returns > 0; };
        okCancel.endClick = CentreOf("MessageBox", "MessageBox_CANCEL");
        add("ShapeName", "Return", 1, [&](CQNF_Window& m) {
            std::string name = "Wave";
            return long(DoShapeNameDialog(&m, host, "Cutter", name) && name == "Wave");
        }).fieldFirst = true;
        add("CMuts", "Return", 1, [&](CQNF_Window& m) { return long(DoCustomMutationsWindow(&m, host, nullptr)); });
        add("AutoLayout", "Escape", 0, [&](CQNF_Window& m) { return long(DoAutoLayoutWindow(&m, host, nullptr)); });
        // The effect windows are modeless: the pump runs while one is open;
        // OK stores its place, Cancel does not.
        std::unique_ptr<CWndFX_Base> fx;
        const struct {
            FxWindowKind kind;
            const char* name;
        } effects[] = {{FxWindowKind::BrightnessContrast, "FXbc"}, {FxWindowKind::Blur, "FXblur"},
                       {FxWindowKind::Opacity, "FXopac"},          {FxWindowKind::Bevel, "FXbevel"},
                       {FxWindowKind::MotionBlur, "FXmblur"},      {FxWindowKind::ColorOverlay, "FXcovr"},
                       {FxWindowKind::Stroke, "FXstroke"},         {FxWindowKind::HSL, "FXhsl"},
                       {FxWindowKind::ImageOverlay, "FXiovr"}};
        for (size_t i = 0; i < std::size(effects); ++i) {
            const auto e = effects[i];
            const bool ok = i % 2 == 0;
            Case& c = add(e.name, ok ? "Return" : "Escape", ok ? 1 : 0, [&fx, e](CQNF_Window& m) {
                fxtest::Puzzle puzzle;
                FxOverBehind link(puzzle, m);
                if (!FxOpenWindow(e.kind, link, fx))
                    return -1L;
                while (!fx->Session().Closed())
                    qnui::Toolkit::Get().PumpFor(20);
                const long stored = long(link.stored.count(e.name));
                qnui::Toolkit::Get().PumpFor(50);
                fx.reset();
                return stored;
            });
            c.modeless = [&fx] { return fx.get(); };
        }

        int failed = 0;
        for (const Case& c : cases) {
            // A fault that holds for one dialog mostly holds for all: two
            // failed ones tell, and keep the test within its time.
            if (failed == 2) {
                ADD_FAILURE() << "the dialogs after two failed ones were not tried";
                break;
            }
            SCOPED_TRACE(c.title + " with " + c.key);
            Steps steps(behind, counter, c);
            behind.step = std::ref(steps);
            const long answer = c.run(behind);
            behind.step = nullptr;
            EXPECT_EQ(steps.failure, "");
            EXPECT_EQ(answer, c.answer);
            failed += !steps.failure.empty() || answer != c.answer;
            tk.PumpFor(50);
        }
    });
}

// Every dialog with an edit line, over a main window: its line takes Esc
// and Return, and the dialog the key after.
void EveryDialogsFieldTakesEscAndReturn()
{
    OverAMainWindow(nullptr, [](CAppDialogHost& host, Behind& behind) {
        const struct {
            const char* field;
            const char* end;
            long answer;
            std::function<long(CQNF_Window&)> run;
        } cases[] = {
            {"Pref_DisOpacity", "Return", 1,
             [&](CQNF_Window& m) {
                 CPreferences prefs;
                 return long(DoPrefDialog(&m, host, prefs));
             }},
            {"CMuts_MutU", "Return", 1,
             [&](CQNF_Window& m) { return long(DoCustomMutationsWindow(&m, host, nullptr)); }},
            {"AutoLayout_Rows", "Escape", 0,
             [&](CQNF_Window& m) { return long(DoAutoLayoutWindow(&m, host, nullptr)); }},
            {"ShapeName_Name", "Escape", 0,
             [&](CQNF_Window& m) {
                 std::string name = "Wave";
                 return long(DoShapeNameDialog(&m, host, "Cutter", name));
             }},
        };
        for (const auto& c : cases) {
            SCOPED_TRACE(c.field);
            FieldSteps steps(c.field, c.end);
            behind.step = std::ref(steps);
            const long answer = c.run(behind);
            behind.step = nullptr;
            EXPECT_EQ(steps.failure, "");
            EXPECT_EQ(answer, c.answer);
            qnui::Toolkit::Get().PumpFor(50);
        }
    });
}

TEST(ModalKeysGui, EveryDialogKeepsTheKeysWhenTheWindowBehindIsClicked) { EveryDialogKeepsTheKeys(); }

TEST(ModalKeysGui, EveryDialogKeepsTheKeysWhenTheWindowBehindIsClickedUnderAWindowManager)
{
    NEED_PROGRAM("openbox", "openbox");
    wmtest::WindowManager wm;
    ASSERT_TRUE(wm.Managing()) << "openbox did not take the screen";
    EveryDialogKeepsTheKeys();
}

}  // namespace

TEST(ModalKeysGui, EveryDialogsFocusedFieldTakesEscAndReturnTheNextKeyEndsTheDialog)
{
    EveryDialogsFieldTakesEscAndReturn();
}

TEST(ModalKeysGui, EveryDialogsFocusedFieldTakesEscAndReturnTheNextKeyEndsTheDialogUnderAWindowManager)
{
    NEED_PROGRAM("openbox", "openbox");
    wmtest::WindowManager wm;
    ASSERT_TRUE(wm.Managing()) << "openbox did not take the screen";
    EveryDialogsFieldTakesEscAndReturn();
}
