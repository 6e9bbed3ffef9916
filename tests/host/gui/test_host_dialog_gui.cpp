// The interactive road through the real programs on a real X display (run
// under Xvfb), driven with xdotool: tessolo-host --dialog opens the main
// window over a photo; Cancel exits with the cancel code and writes nothing;
// Apply Lines writes the knife lines; --about opens the About window and a
// click closes it; the message box answers No. With TESSOLO_SNAPSHOT_DIR
// set, screenshots are kept there.
#include "app/Wnd_MessageBox.h"
#include "hostapp/RasterImage.h"
#include "platform/Backend.h"
#include "ui/App.h"
#include "ui/Toolkit.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

const std::string kSample = std::string(TESSOLO_SOURCE_DIR) + "/samples/sample.png";

std::string Capture(const std::string& cmd)
{
    std::string out;
    FILE* p = popen((cmd + " 2>/dev/null").c_str(), "r");
    if (!p)
        return out;
    char buf[256];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, n);
    pclose(p);
    return out;
}

// tessolo-host with the bundle's plug-in, in a child process.
pid_t Spawn(const std::vector<std::string>& args)
{
    std::vector<std::string> all = {TESSOLO_HOST_FILE, "--plugin", std::string(TESSOLO_BUNDLE_DIR) + "/Tessolo.so"};
    all.insert(all.end(), args.begin(), args.end());
    const pid_t pid = fork();
    if (pid == 0) {
        std::vector<char*> argv;
        for (std::string& a : all)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

// The exit code, or -1 when the child is still running after ms (then killed).
int WaitExit(pid_t pid, int ms)
{
    int status = 0;
    for (int waited = 0; waited < ms; waited += 50) {
        if (waitpid(pid, &status, WNOHANG) == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return -1;
}

struct Geometry {
    std::string id;
    int x = 0, y = 0;
};

// The visible window with this title; an empty id when none came in time.
Geometry FindWindow(const std::string& title, int ms = 30000)
{
    Geometry g;
    for (int waited = 0; waited < ms; waited += 200) {
        const std::string ids = Capture("xdotool search --onlyvisible --name '^" + title + "$'");
        if (!ids.empty()) {
            g.id = ids.substr(0, ids.find('\n'));
            const std::string geo = Capture("xdotool getwindowgeometry --shell " + g.id);
            const size_t x = geo.find("X="), y = geo.find("Y=");
            if (x != std::string::npos && y != std::string::npos) {
                g.x = std::atoi(geo.c_str() + x + 2);
                g.y = std::atoi(geo.c_str() + y + 2);
                // Let the first paint and the timers settle.
                std::this_thread::sleep_for(std::chrono::milliseconds(800));
                return g;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    return Geometry{};
}

void Click(const Geometry& g, int x, int y)
{
    const std::string cmd = "xdotool mousemove " + std::to_string(g.x + x) + " " + std::to_string(g.y + y) +
                            " sleep 0.3 click 1";
    ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
}

void Snapshot(const char* name)
{
    const char* dir = std::getenv("TESSOLO_SNAPSHOT_DIR");
    if (!dir || !*dir)
        return;
    // A loaded machine may still be painting the window.
    std::this_thread::sleep_for(std::chrono::milliseconds(2000));
    if (std::system(("import -window root " + std::string(dir) + "/" + name).c_str()) != 0)
        ADD_FAILURE() << "no screenshot " << name;
}

std::string Temp(const char* name) { return ::testing::TempDir() + name; }

// The centres of the main window's buttons (from its skin).
constexpr int kCancelX = 797, kCancelY = 659, kApplyX = 929, kApplyY = 659;

}  // namespace

TEST(HostDialogGui, CancelWritesNothingAndExitsWithTheCancelCode)
{
    const std::string out = Temp("dialog_cancel.png");
    std::filesystem::remove(out);
    const pid_t pid = Spawn({"--dialog", kSample, out});
    const Geometry g = FindWindow("Main");
    ASSERT_FALSE(g.id.empty()) << "the main window did not open";
    Snapshot("gui_main_cut_mode.png");
    Click(g, kCancelX, kCancelY);
    EXPECT_EQ(WaitExit(pid, 20000), 1);
    EXPECT_FALSE(std::filesystem::exists(out));
}

TEST(HostDialogGui, ApplyWritesTheKnifeLines)
{
    const std::string out = Temp("dialog_apply.png");
    std::filesystem::remove(out);
    const pid_t pid = Spawn({"--dialog", kSample, out});
    const Geometry g = FindWindow("Main");
    ASSERT_FALSE(g.id.empty()) << "the main window did not open";
    Click(g, kApplyX, kApplyY);
    ASSERT_EQ(WaitExit(pid, 20000), 0);
    hostapp::RasterImage img;
    std::string err;
    ASSERT_TRUE(hostapp::ReadImageFile(out, img, err)) << err;
    size_t white = 0, dark = 0;
    for (size_t i = 0; i < img.PixelCount(); ++i) {
        const int v = (img.planes[0][i] + img.planes[1][i] + img.planes[2][i]) / 3;
        white += v > 250;
        dark += v < 60;
    }
    EXPECT_GT(white, img.PixelCount() / 2);
    EXPECT_GT(dark, 200u);
    std::filesystem::remove(out);
}

TEST(HostDialogGui, AboutOpensAndAClickClosesIt)
{
    const pid_t pid = Spawn({"--about"});
    const Geometry g = FindWindow("About");
    ASSERT_FALSE(g.id.empty()) << "the About window did not open";
    Snapshot("gui_about.png");
    Click(g, 200, 120);
    EXPECT_EQ(WaitExit(pid, 20000), 0);
}

TEST(HostDialogGui, MessageBoxAnswersNo)
{
    std::string error;
    std::unique_ptr<plat::Platform> p = plat::OpenGtk(error);
    ASSERT_TRUE(p) << error;
    qnui::Toolkit::Get().Attach(p.get());
    {
        CQNF_App app;
        ASSERT_TRUE(app.InitStorgaeResource((std::string(TESSOLO_BUNDLE_DIR) + "/resource_ts31_d.qns4").c_str(), 0));
        m_App = &app;
        CWnd_MessageBox box;
        box.Init("Pieces Layout Has Changed", "Do you want to reset effects?", CWnd_MessageBox::YES,
                 CWnd_MessageBox::NO);
        ASSERT_TRUE(box.CreateFromResource("MessageBox", -32000, -32000, nullptr, 1));
        box.RenderRect(qnNullRect);
        // The user, from outside: find the box, look at it, press No.
        std::thread user([] {
            const Geometry g = FindWindow("MessageBox");
            if (g.id.empty())
                return;
            Snapshot("gui_message_box.png");
            Click(g, 355, 141);
        });
        const long answer = box.DoModal();
        user.join();
        EXPECT_EQ(answer, 0);
        m_App = nullptr;
    }
    qnui::Toolkit::Get().Attach(nullptr);
}
