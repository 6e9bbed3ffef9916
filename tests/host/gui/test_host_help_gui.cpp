// The help menu's "Help..." on a real X display (run under Xvfb): the user's
// guide that the build lays out travels in the plug-in's folder, and the
// main window's help button opens it with the desktop's viewer (a stand-in
// here, which records what it was asked to open).
#include "gui_drive.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

using namespace guidrive;

constexpr const char* kGuide = "Quorvin Tessolo 3.1 Help.pdf";

std::string ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

size_t Count(const std::string& text, const std::string& what)
{
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size()))
        ++n;
    return n;
}

TEST(HostHelpGui, HelpOpensTheGuideOfThePluginsFolderInTheViewer)
{
    // The guide in the bundle is a document of several pages, with the
    // windows' pictures.
    const std::string guide = ReadAll(std::string(TESSOLO_BUNDLE_DIR) + "/" + kGuide);
    ASSERT_EQ(guide.rfind("%PDF-", 0), 0u) << "no guide in the bundle";
    EXPECT_GE(Count(guide, "/Type /Page\n") + Count(guide, "/Type /Page "), 6u);
    EXPECT_GE(Count(guide, "/Subtype /Image"), 8u);

    const std::string dir = UniqueFolder();
    ASSERT_FALSE(dir.empty());
    CopyBundle(dir);
    std::filesystem::copy_file(std::string(TESSOLO_BUNDLE_DIR) + "/" + kGuide, dir + "/" + kGuide);
    // The stand-in viewer, found first on the path.
    std::filesystem::create_directory(dir + "/bin");
    {
        std::ofstream viewer(dir + "/bin/xdg-open");
        viewer << "#!/bin/sh\nprintf '%s\\n' \"$1\" > '" << dir << "/opened.part' && mv '" << dir << "/opened.part' '"
               << dir << "/opened.txt'\n";
    }
    std::filesystem::permissions(dir + "/bin/xdg-open", std::filesystem::perms::owner_all);
    const std::string path = dir + "/bin:" + (std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin");
    setenv("PATH", path.c_str(), 1);

    const pid_t pid = Spawn({"--dialog", kSample, dir + "/out.png"}, dir);
    const Geometry g = FindWindow("Main");
    ASSERT_FALSE(g.id.empty()) << "the main window did not open";
    GrabSettled(g, dir + "/start.png");
    // The help button in the title bar, then the menu's first item.
    const hostapp::RasterImage noMenu = GrabScreen(dir + "/screen.png");
    Click(g, 684, 16);
    ASSERT_TRUE(WaitScreenChange(g, 660, 40, 800, 60, noMenu, dir + "/screen.png", 15000)) << "no help menu came";
    Snapshot("gui_help_menu.png");
    Xdo("key Down sleep 0.3 key Return");
    for (int waited = 0; waited < 30000 && !std::filesystem::exists(dir + "/opened.txt"); waited += 100)
        Sleep(100);
    ASSERT_TRUE(std::filesystem::exists(dir + "/opened.txt")) << "the viewer was not asked to open anything";
    std::string opened = ReadAll(dir + "/opened.txt");
    while (!opened.empty() && opened.back() == '\n')
        opened.pop_back();
    EXPECT_EQ(std::filesystem::weakly_canonical(opened), std::filesystem::weakly_canonical(dir + "/" + kGuide));
    Click(g, 797, 659);  // Cancel
    EXPECT_EQ(WaitExit(pid, 60000), 1);
    if (!::testing::Test::HasFailure())
        std::filesystem::remove_all(dir);
}

}  // namespace
