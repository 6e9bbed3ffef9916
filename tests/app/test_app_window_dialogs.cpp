// The message box, the About window and the application object's help menu,
// headless, from the shipped resource file.
#include "app/App.h"
#include "app/Wnd_MessageBox.h"
#include "core/Launcher.h"
#include "host/PluginMain.h"
#include "platform/Headless.h"
#include "ui/KeyCodes.h"
#include "ui/PlatformPopupMenu.h"
#include "ui/Toolkit.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <vector>

#include <unistd.h>
#include <string>

namespace {

const std::string kResourceFile = std::string(TESSOLO_BINARY_DIR) + "/resource_ts31_d.qns4";

// A headless backend and a CApp on the shipped resources, as m_App.
struct HeadlessRun {
    plat::HeadlessPlatform hp;
    CApp app;
    bool ok = false;
    HeadlessRun()
    {
        qnui::Toolkit::Get().Attach(&hp);
        ok = app.InitStorgaeResource(kResourceFile.c_str(), 0);
        m_App = &app;
    }
    ~HeadlessRun()
    {
        m_App = nullptr;
        qnui::Toolkit::Get().Attach(nullptr);
    }
    // The global centre of a control of a window.
    plat::Point At(const CQNF_Window& w, const CQNF_Control* c)
    {
        const plat::Rect r = hp.ContentRect(w.GetWindowHandle());
        CQNF_Control* cc = const_cast<CQNF_Control*>(c);
        const qntRECT_s cr = cc->GetRenderRect();
        return {r.left + (cr.left + cr.right) / 2, r.top + (cr.top + cr.bottom) / 2};
    }
};

CQNF_Control* Named(const CQNF_Window& w, const char* name)
{
    for (unsigned long i = 0; i < w.GetControlCount(); ++i)
        if (std::string(w.GetControl(i)->GetName()) == name)
            return w.GetControl(i);
    return nullptr;
}

}  // namespace

TEST(AppMessageBox, ButtonsAnswersAndKeys)
{
    if (!std::filesystem::exists(kResourceFile))
        FAIL() << "no compiled resource file in this build";
    struct Case {
        uint8_t left, right;
        std::vector<std::string> shown;
        const char* press;
        long answer;
    } cases[] = {
        {0, 1, {"MessageBox_OKr"}, "MessageBox_OKr", 1},
        {2, 3, {"MessageBox_YESl", "MessageBox_NO"}, "MessageBox_NO", 0},
        {2, 3, {"MessageBox_YESl", "MessageBox_NO"}, "MessageBox_YESl", 1},
        {1, 4, {"MessageBox_OKl", "MessageBox_CANCEL"}, "MessageBox_CANCEL", 0},
        {0, 9, {}, nullptr, 0},
    };
    for (const Case& c : cases) {
        HeadlessRun r;
        ASSERT_TRUE(r.ok);
        CWnd_MessageBox box;
        box.Init("Header", "A message\non two lines", c.left, c.right);
        ASSERT_TRUE(box.CreateFromResource("MessageBox", -32000, -32000, nullptr, 1)) << box.GetError();
        box.RenderRect(qnNullRect);
        std::vector<std::string> shown;
        for (unsigned long i = 0; i < box.GetControlCount(); ++i) {
            CQNF_Control* ctl = box.GetControl(i);
            if (ctl->GetType() == qnctl::Button && ctl->IsEnabled())
                shown.push_back(ctl->GetName());
        }
        EXPECT_EQ(shown, c.shown);
        if (!c.press) {
            box.Close();
            continue;
        }
        const plat::Point at = r.At(box, Named(box, c.press));
        r.hp.Script([&] { r.hp.Activate(box.GetWindowHandle()); });
        // Neither Return nor Esc answers for the user.
        r.hp.Script([&] { r.hp.Key(qnkey::vk::Return, '\r'); });
        r.hp.Script([&] { r.hp.Key(qnkey::vk::Escape, 27); });
        r.hp.Script([&] { EXPECT_FALSE(box.IsClosing()); });
        r.hp.Script([&] { r.hp.Click(at); });
        EXPECT_EQ(box.DoModal(), c.answer) << c.press;
        EXPECT_EQ(r.hp.ScriptLeft(), 0u);
    }
}

TEST(AppMessageBox, TextIsCentredAsABlock)
{
    struct Case {
        long cw, ch, tw, th;
        short x, y;
    } cases[] = {
        {380, 48, 100, 24, 140, 12},
        {380, 48, 376, 12, 3, 18},   // an offset of 0..2 becomes 3
        {100, 20, 300, 30, -100, -5},  // larger than the control: centred over it
        {380, 48, 0, 12, 3, 0},      // nothing measured
    };
    for (const Case& c : cases) {
        short x = 0, y = 0;
        CWnd_MessageBox::CentreOffset(c.cw, c.ch, c.tw, c.th, x, y);
        EXPECT_EQ(x, c.x);
        EXPECT_EQ(y, c.y);
    }
}

TEST(AppAboutWindow, AnyClickOrKeyClosesIt)
{
    if (!std::filesystem::exists(kResourceFile))
        FAIL() << "no compiled resource file in this build";
    // A left click, a key, a right press, Shift pressed alone, Ctrl let go
    // alone.
    for (int how = 0; how < 5; ++how) {
        HeadlessRun r;
        ASSERT_TRUE(r.ok);
        CWnd_About about;
        ASSERT_TRUE(about.CreateFromResource("About", -32000, -32000, nullptr, 1));
        about.RenderRect(qnNullRect);
        const plat::Rect wr = r.hp.ContentRect(about.GetWindowHandle());
        r.hp.Script([&] { r.hp.Activate(about.GetWindowHandle()); });
        r.hp.Script([&] {
            if (how == 0)
                r.hp.Click({wr.left + 30, wr.top + wr.Height() - 20});
            else if (how == 1)
                r.hp.Key(qnkey::vk::Q, 'q');
            else if (how == 2) {
                r.hp.MoveMouse({wr.left + 200, wr.top + 100});
                r.hp.Press(2);
            } else if (how == 3)
                r.hp.Key(qnkey::vk::Shift, 0);
            else
                r.hp.KeyUp(qnkey::vk::Command, 0, plat::mods::Command);
        });
        EXPECT_EQ(about.DoModal(), 0);
        EXPECT_FALSE(r.hp.Exists(about.GetWindowHandle()));
    }
}

TEST(AppHelpMenu, MenuItemsAndDispatch)
{
    if (!std::filesystem::exists(kResourceFile))
        FAIL() << "no compiled resource file in this build";
    HeadlessRun r;
    ASSERT_TRUE(r.ok);
    r.app.InitHelpMenuItems();
    CQNF_PlatformPopupMenu menu;
    ASSERT_TRUE(menu.Create());
    r.app.FillHelpMenu(&menu, 0);
    r.app.FillHelpMenu(nullptr, 0);
    std::vector<std::string> texts;
    for (const plat::MenuItem& m : menu.Items())
        texts.push_back(m.separator ? "-" : m.text);
    EXPECT_EQ(texts, (std::vector<std::string>{"Help...", "-", "Tessolo Web Site", "Tutorials", "Knife Shape Library",
                                               "-", "Report a Problem", "-", "About Plug-in..."}));
    EXPECT_EQ(r.app.HelpMenuDispatcher(3, nullptr), 0);
    EXPECT_EQ(r.app.HelpMenuDispatcher(15, nullptr), 0);
    // A web link without the plug-in to open it: the platform alert.
    EXPECT_EQ(r.app.HelpMenuDispatcher(5, nullptr), 1);
    ASSERT_EQ(r.hp.alerts.size(), 1u);
    // It names the address and why it was not shown, so that it can be
    // opened by hand.
    const std::string& said = r.hp.alerts[0].text;
    EXPECT_EQ(said.rfind("Cannot show the web page", 0), 0u) << said;
    ASSERT_FALSE(r.app.m_HelpItems.empty());
    EXPECT_NE(said.find(r.app.m_HelpItems[0].link), std::string::npos) << said;
    EXPECT_NE(said.find("no web browser could be started"), std::string::npos) << said;
    // About from the menu runs modally and any click ends it.
    r.hp.Script([&] {
        const std::vector<plat::WinId> z = r.hp.ZOrder();
        ASSERT_FALSE(z.empty());
        const plat::Rect wr = r.hp.ContentRect(z.back());
        r.hp.Activate(z.back());
        r.hp.Click({wr.left + 10, wr.top + 100});
    });
    EXPECT_EQ(r.app.HelpMenuDispatcher(1, nullptr), 1);
    EXPECT_EQ(r.hp.ScriptLeft(), 0u);
}

// Help that cannot be shown says why and where its document lies: no
// program takes PDF files, or the document is missing from the plug-in's
// folder; a web item that cannot be shown names its address.
TEST(AppHelpMenu, HelpThatCannotBeShownSaysWhyAndWhereItsFileIs)
{
    if (!std::filesystem::exists(kResourceFile))
        FAIL() << "no compiled resource file in this build";
    HeadlessRun r;
    ASSERT_TRUE(r.ok);
    const std::string folder = ::testing::TempDir() + "help_" + std::to_string(::getpid());
    std::filesystem::create_directories(folder);
    const std::string pdf = folder + "/" + CApp::kHelpFile;
    std::ofstream(pdf) << "%PDF-1.4\n";
    CPluginMain plugin;
    plugin.SetPluginFolder(FSRef{folder});
    r.app.m_pPlugin = &plugin;
    std::vector<std::string> opened;
    CQNF_Launcher::SetHandler([&](const std::string& target) {
        opened.push_back(target);
        return false;  // as when no opener program is installed
    });
    r.app.ShowHelp();
    ASSERT_EQ(opened.size(), 1u);
    ASSERT_EQ(r.hp.alerts.size(), 1u);
    EXPECT_NE(r.hp.alerts[0].text.find("no program to open PDF files"), std::string::npos) << r.hp.alerts[0].text;
    EXPECT_NE(r.hp.alerts[0].text.find(pdf), std::string::npos) << r.hp.alerts[0].text;

    std::filesystem::remove(pdf);
    r.app.ShowHelp();
    ASSERT_EQ(r.hp.alerts.size(), 2u);
    EXPECT_NE(r.hp.alerts[1].text.find("missing"), std::string::npos) << r.hp.alerts[1].text;
    EXPECT_NE(r.hp.alerts[1].text.find(pdf), std::string::npos) << r.hp.alerts[1].text;

    // A web item hands its address to the desktop; when no browser could be
    // started, the box names the address to open by hand.
    r.app.InitHelpMenuItems();
    ASSERT_FALSE(r.app.m_HelpItems.empty());
    const std::string link = r.app.m_HelpItems[0].link;
    EXPECT_EQ(r.app.HelpMenuDispatcher(qnhelp::kFirstLink, nullptr), 1);
    ASSERT_EQ(opened.size(), 2u);
    EXPECT_EQ(opened[1], link);
    ASSERT_EQ(r.hp.alerts.size(), 3u);
    EXPECT_EQ(r.hp.alerts[2].text, "Cannot show the web page: no web browser could be started for it. Open its "
                                   "address in a browser by hand:\n" + link);
    CQNF_Launcher::SetHandler(nullptr);
    r.app.m_pPlugin = nullptr;
    std::filesystem::remove_all(folder);
}

// Help names what the desktop lacks to open its document: xdg-open (its
// Debian package), or a PDF viewer registered for PDF files; with both,
// xdg-open gets the document and no box is shown.
TEST(AppHelpMenu, HelpNamesWhatTheDesktopLacksToOpenItsDocument)
{
    if (!std::filesystem::exists(kResourceFile))
        FAIL() << "no compiled resource file in this build";
    HeadlessRun r;
    ASSERT_TRUE(r.ok);
    namespace fs = std::filesystem;
    const std::string folder = ::testing::TempDir() + "helpdesk_" + std::to_string(::getpid());
    fs::remove_all(folder);
    fs::create_directories(folder + "/bin");
    const std::string pdf = folder + "/" + CApp::kHelpFile, opened = folder + "/opened";
    std::ofstream(pdf) << "%PDF-1.4\n";
    CPluginMain plugin;
    plugin.SetPluginFolder(FSRef{folder});
    r.app.m_pPlugin = &plugin;
    CQNF_Launcher::SetHandler(nullptr);
    const char* const path = std::getenv("PATH");
    const std::string oldPath = path ? path : "";
    setenv("PATH", (folder + "/bin").c_str(), 1);
    const auto script = [&](const std::string& name, const std::string& body) {
        std::ofstream(folder + "/bin/" + name) << "#!/bin/sh\n" << body << "\n";
        fs::permissions(folder + "/bin/" + name, fs::perms::owner_all);
    };

    r.app.ShowHelp();
    ASSERT_EQ(r.hp.alerts.size(), 1u);
    EXPECT_NE(r.hp.alerts[0].text.find("xdg-open, which opens it, is missing. Install the Debian package xdg-utils"),
              std::string::npos)
        << r.hp.alerts[0].text;
    EXPECT_NE(r.hp.alerts[0].text.find(pdf), std::string::npos) << r.hp.alerts[0].text;

    script("xdg-open", "echo \"$1\" > '" + opened + "'");
    script("xdg-mime", "exit 0");
    r.app.ShowHelp();
    ASSERT_EQ(r.hp.alerts.size(), 2u);
    EXPECT_NE(r.hp.alerts[1].text.find("no PDF viewer is registered for PDF files"), std::string::npos)
        << r.hp.alerts[1].text;
    EXPECT_NE(r.hp.alerts[1].text.find(pdf), std::string::npos) << r.hp.alerts[1].text;
    EXPECT_FALSE(fs::exists(opened));

    script("xdg-mime", "echo evince.desktop");
    r.app.ShowHelp();
    EXPECT_EQ(r.hp.alerts.size(), 2u);
    // xdg-open runs apart from the plug-in: its note is awaited.
    std::string said;
    for (int wait = 0; wait < 1000 && said.empty(); ++wait) {
        std::ifstream note(opened);
        std::getline(note, said);
        if (said.empty())
            usleep(10000);
    }
    EXPECT_EQ(said, fs::absolute(pdf).string());

    setenv("PATH", oldPath.c_str(), 1);
    r.app.m_pPlugin = nullptr;
    fs::remove_all(folder);
}
