// The toolkit on a real X display (run under Xvfb): the gallery window's
// shape read back from screenshots, and real input from xdotool: a button
// that opens and closes a modal dialog, a caption drag, a shortcut.
// Behaviour in detail is tested headless; these check the GTK backend.
#include "imaging/ImageFile.h"
#include "platform/Backend.h"
#include "ui/App.h"
#include "ui/Toolkit.h"
#include "ui/gallery/Gallery.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using qnui::CGalleryWindow;

// Other builds may run these tests at the same time: names of their own.
std::string TempPath(const std::string& name)
{
    return ::testing::TempDir() + "tessolo_" + std::to_string(::getpid()) + "_" + name;
}

std::unique_ptr<plat::Platform> g_platform;
std::string g_resource;

class GuiTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        std::string error;
        g_platform = plat::OpenGtk(error);
        ASSERT_TRUE(g_platform) << error;
        g_resource = TempPath("gui_gallery.qns4");
        ASSERT_TRUE(qnui::BuildGalleryResource(g_resource, error)) << error;
    }
    static void TearDownTestSuite()
    {
        std::remove(g_resource.c_str());
        g_platform.reset();
    }

    CQNF_App app;
    CGalleryWindow w;
    std::vector<std::string> events;
    std::function<void(const std::string&)> hook;

    void SetUp() override
    {
        ASSERT_TRUE(g_platform);
        qnui::Toolkit::Get().Attach(g_platform.get());
        m_App = &app;
        ASSERT_TRUE(app.InitStorgaeResource(g_resource.c_str(), 0));
        ASSERT_TRUE(w.CreateFromResource(CQNF_String("Gallery"), 100, 100, nullptr, 0)) << w.GetError();
        w.onEvent = [this](const std::string& e) {
            events.push_back(e);
            if (hook)
                hook(e);
        };
        w.RenderRect(qnNullRect);
        w.SetFocus();
        Settle();
    }
    void TearDown() override
    {
        if (w.GetWindowHandle())
            w.Close();
        Settle();
        m_App = nullptr;
        qnui::Toolkit::Get().Attach(nullptr);
    }

    // Runs the loop until the condition holds or the time is up.
    static bool PumpUntil(const std::function<bool()>& done, uint32_t ms = 60000)
    {
        qnui::Toolkit& tk = qnui::Toolkit::Get();
        const uint32_t start = tk.P()->NowMs();
        while (!done()) {
            if (tk.P()->NowMs() - start > ms)
                return false;
            tk.PumpFor(20);
        }
        return true;
    }
    // Lets the X server and GTK finish what was asked of them.
    static void Settle() { qnui::Toolkit::Get().PumpFor(300); }

    // A shell command that waits (a minute at most) until this program shows
    // that many windows.
    static std::string WaitForWindowsCommand(int count)
    {
        return "for i in $(seq 600); do [ $(xdotool search --onlyvisible --classname test_ui_gui | wc -l) -ge " +
               std::to_string(count) + " ] && break; sleep 0.1; done";
    }
    static void WaitForWindows(int count) { std::system(WaitForWindowsCommand(count).c_str()); }

    static void X(const std::string& args)
    {
        const std::string cmd = "xdotool " + args;
        ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
    }

    struct Shot {
        CQNF_ImageFile file;
        uint32_t At(int32_t x, int32_t y) const
        {
            const size_t i = size_t(y) * file.GetWidth() + size_t(x);
            return uint32_t(file.GetPlane(0)[i]) << 16 | uint32_t(file.GetPlane(1)[i]) << 8 | file.GetPlane(2)[i];
        }
    };
    static void Screenshot(Shot& shot)
    {
        const std::string path = TempPath("gui_shot.png");
        ASSERT_EQ(std::system(("import -window root " + path).c_str()), 0);
        ASSERT_TRUE(shot.file.Load(path)) << shot.file.Reason();
        std::remove(path.c_str());
    }
    static bool Near(uint32_t a, uint32_t b, int tolerance = 24)
    {
        for (int s = 0; s <= 16; s += 8)
            if (std::abs(int((a >> s) & 255) - int((b >> s) & 255)) > tolerance)
                return false;
        return true;
    }
    qntPOS Global(int32_t x, int32_t y) const
    {
        const qntRECT_s r = w.GetWindowRect();
        return {r.left + x, r.top + y};
    }
};

TEST_F(GuiTest, ShapedWindowOnScreen)
{
    Shot shot;
    Screenshot(shot);
    struct Probe {
        const char* what;
        int32_t x, y;
        bool inside;
    } probes[] = {{"body", 12, 140, true},       {"rounded corner", 1, 1, false},
                  {"bite", 372, 244, false},     {"beside the bite", 300, 244, true},
                  {"caption", 300, 10, true}};
    for (const Probe& p : probes) {
        const qntPOS g = Global(p.x, p.y);
        const uint32_t c = shot.At(g.x, g.y);
        if (p.inside)
            EXPECT_NE(c, 0u) << p.what;
        else
            EXPECT_EQ(c, 0u) << p.what << ": the root window shows through";
    }
    const qntPOS body = Global(12, 140);
    EXPECT_TRUE(Near(shot.At(body.x, body.y), qnui::gallery::kBodyColour)) << std::hex << shot.At(body.x, body.y);
    const qntPOS cap = Global(300, 10);
    const uint32_t capColour = shot.At(cap.x, cap.y);
    EXPECT_GT(capColour & 255, (capColour >> 16) & 255) << "the active caption is blue";
}

TEST_F(GuiTest, ButtonOpensAndClosesModalDialog)
{
    uint32_t dialogPixel = 0;
    hook = [&](const std::string& e) {
        if (e != "dialog-shown")
            return;
        CQNF_Window* dialog = qnui::Toolkit::Get().TopModal();
        ASSERT_NE(dialog, nullptr);
        const qntRECT_s r = dialog->GetWindowRect();
        // On a busy machine the dialog may still be on its way to the screen.
        WaitForWindows(2);
        Settle();
        Shot shot;
        Screenshot(shot);
        dialogPixel = shot.At(r.left + 20, r.top + 80);
        const qntRECT_s ok = qnui::gallery::kDialogOk;
        X("mousemove " + std::to_string(r.left + (ok.left + ok.right) / 2) + " " +
          std::to_string(r.top + (ok.top + ok.bottom) / 2) + " click 1");
    };
    const qntRECT_s b = qnui::gallery::kDialogButton;
    const qntPOS at = Global((b.left + b.right) / 2, (b.top + b.bottom) / 2);
    X("mousemove " + std::to_string(at.x) + " " + std::to_string(at.y) + " click 1");
    ASSERT_TRUE(PumpUntil([&] { return !events.empty() && events.back().rfind("dialog-closed", 0) == 0; }))
        << "events: " << testing::PrintToString(events);
    EXPECT_EQ(events, (std::vector<std::string>{"dialog-open", "dialog-shown", "dialog-closed 1"}));
    EXPECT_TRUE(Near(dialogPixel, 0xF7F4EC)) << "the dialog was on the screen: " << std::hex << dialogPixel;
    EXPECT_EQ(qnui::Toolkit::Get().TopModal(), nullptr);
}

TEST_F(GuiTest, CaptionDragMovesTheWindow)
{
    const qntRECT_s before = w.GetWindowRect();
    const qntPOS from = Global(200, 12);
    X("mousemove " + std::to_string(from.x) + " " + std::to_string(from.y) + " mousedown 1 mousemove " +
      std::to_string(from.x + 30) + " " + std::to_string(from.y + 20) + " mousemove " + std::to_string(from.x + 60) +
      " " + std::to_string(from.y + 40) + " mouseup 1");
    ASSERT_TRUE(PumpUntil([&] { return w.GetWindowRect().left == before.left + 60; }))
        << "window at " << w.GetWindowRect().left << "," << w.GetWindowRect().top;
    EXPECT_EQ(w.GetWindowRect().top, before.top + 40);
    Settle();
    Shot shot;
    Screenshot(shot);
    const qntPOS body = Global(12, 140);
    EXPECT_TRUE(Near(shot.At(body.x, body.y), qnui::gallery::kBodyColour)) << "drawn at its new place";
    EXPECT_EQ(shot.At(before.left + 20, before.top + 140), 0u) << "and gone from the old one";
    EXPECT_TRUE(events.empty()) << "a caption press is no click";
}

TEST_F(GuiTest, PopupMenuChoiceByKeyboard)
{
    const qntPOS at = Global(12, 140);
    X("mousemove " + std::to_string(at.x) + " " + std::to_string(at.y));
    Settle();
    const std::string shot = TempPath("gui_menu.png");
    // The menu runs a loop of its own: the keys come from outside, once it is up.
    hook = [&](const std::string& e) {
        if (e != "shortcut 2002")
            return;
        // Once the menu is up, as a second visible window of this program,
        // it is pictured and an item chosen by keyboard.
        const std::string later =
            "(" + WaitForWindowsCommand(2) + "; import -window root '" + shot + "'; xdotool key Down Down Return) > /dev/null 2>&1 &";
        ASSERT_EQ(std::system(later.c_str()), 0);
    };
    X("key ctrl+m");
    ASSERT_TRUE(PumpUntil([&] { return events.size() >= 2; }, 60000)) << testing::PrintToString(events);
    EXPECT_EQ(events, (std::vector<std::string>{"shortcut 2002", "menu 2"})) << "the second item, Zoom out";
    // TESSOLO_GUI_SHOTS=FOLDER keeps the picture of the open menu.
    if (const char* keep = std::getenv("TESSOLO_GUI_SHOTS"))
        std::rename(shot.c_str(), (std::string(keep) + "/menu.png").c_str());
    std::remove(shot.c_str());
}

TEST_F(GuiTest, DesktopColourChooserOpensOnTheColourAndAnswersBothWays)
{
    // The chooser is modal and runs a loop of its own: a background shell
    // clicks one of its two buttons once it is up (from the dialog's
    // bottom-right corner). Cancel keeps the colour; Select takes the colour
    // the editor opened on.
    struct Case {
        const char* button;
        int fromRight;
        bool chosen;
    };
    for (const Case& c : {Case{"Cancel", 141, false}, Case{"Select", 51, true}}) {
        const std::string later =
            "(for i in $(seq 600); do d=$(xdotool search --onlyvisible --name '^Choose a Colour$' | head -1); "
            "[ -n \"$d\" ] && break; sleep 0.1; done; sleep 0.5; eval $(xdotool getwindowgeometry --shell $d); "
            "xdotool mousemove --window $d $((WIDTH-" + std::to_string(c.fromRight) +
            ")) $((HEIGHT-25)) click 1) > /dev/null 2>&1 &";
        ASSERT_EQ(std::system(later.c_str()), 0);
        uint16_t rgb[3] = {0x1111, 0x8080, 0xFFFF};
        EXPECT_EQ(g_platform->PickColor(rgb), c.chosen) << c.button;
        EXPECT_EQ(rgb[0], 0x1111) << c.button;
        EXPECT_EQ(rgb[1], 0x8080) << c.button;
        EXPECT_EQ(rgb[2], 0xFFFF) << c.button;
        Settle();
    }
}

TEST_F(GuiTest, ShortcutReachesTheWindow)
{
    X("key ctrl+i");
    ASSERT_TRUE(PumpUntil([&] { return !events.empty(); }));
    EXPECT_EQ(events.front(), "shortcut 2006");
}

}  // namespace
