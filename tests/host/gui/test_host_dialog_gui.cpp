// The interactive road through the real programs on a real X display (run
// under Xvfb), driven with xdotool: tessolo-host --dialog opens the main
// window over a photo; Cancel exits with the cancel code and writes nothing;
// Apply Lines writes the knife lines; --about opens the About window and a
// click closes it; the message box answers No. With TESSOLO_SNAPSHOT_DIR
// set, screenshots are kept there.
#include "app/Wnd_MessageBox.h"
#include "cutter/CutterEditor.h"
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

// tessolo-host with a bundle's plug-in, in a child process.
pid_t Spawn(const std::vector<std::string>& args, const std::string& bundle = TESSOLO_BUNDLE_DIR)
{
    std::vector<std::string> all = {TESSOLO_HOST_FILE, "--plugin", bundle + "/Tessolo.so"};
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

namespace {

// The window's pixels as the screen shows them.
bool Grab(const Geometry& g, const std::string& file, hostapp::RasterImage& img)
{
    std::string err;
    return std::system(("import -window " + g.id + " " + file).c_str()) == 0 &&
           hostapp::ReadImageFile(file, img, err);
}

bool Gone(const std::string& title, int ms)
{
    for (int waited = 0; waited < ms; waited += 200) {
        if (Capture("xdotool search --onlyvisible --name '^" + title + "$'").empty())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    return false;
}

// Types a number into an edit line of the window and leaves it, which
// commits the value.
void TypeNumber(const Geometry& g, int x, int y, const char* digits)
{
    // Without a window manager a click does not give the keyboard focus.
    ASSERT_EQ(std::system(("xdotool windowfocus --sync " + g.id).c_str()), 0);
    Click(g, x, y);
    const std::string cmd = std::string("xdotool key End BackSpace BackSpace BackSpace BackSpace type ") + digits;
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    // Somewhere without a control: the edit line loses the focus.
    Click(g, 100, 611);
}

}  // namespace

TEST(HostDialogGui, KnifeEditorShapesEveryKnifeAndCutsIntoPieces)
{
    // A plug-in folder of its own: no stored knife, layout or window place.
    std::string bundle = Temp("cutter_gui_XXXXXX");
    ASSERT_NE(mkdtemp(bundle.data()), nullptr);
    for (const auto& f : std::filesystem::directory_iterator(TESSOLO_BUNDLE_DIR))
        if (f.path().extension() == ".so" || f.path().extension() == ".qns4")
            std::filesystem::copy(f.path(), bundle + "/" + f.path().filename().string());
    const std::string out = bundle + "/pieces.png";
    const pid_t pid = Spawn({"--dialog", kSample, out}, bundle);
    const Geometry main = FindWindow("Main");
    ASSERT_FALSE(main.id.empty()) << "the main window did not open";
    const Geometry editor = FindWindow("Cutter");
    ASSERT_FALSE(editor.id.empty()) << "the knife editor did not open";
    // Without a window manager nothing keeps the editor above the main
    // window it belongs to: the user brings it to the front.
    ASSERT_EQ(std::system(("xdotool windowraise " + editor.id).c_str()), 0);
    // Four rows and five columns of pieces.
    TypeNumber(editor, 344, 434, "4");
    TypeNumber(editor, 344, 462, "5");
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    Snapshot("gui_editor_grid.png");
    hostapp::RasterImage before, after;
    ASSERT_TRUE(Grab(main, bundle + "/before.png", before));

    // The default knife's middle node, where the editor draws it.
    CWnd_CutterEditor model;
    const qntRECT_s preview{12, 118, 380, 354};
    ASSERT_TRUE(model.OnCreate(preview, 0));
    const qntPOS node = model.NodeCentre(model.m_Shape.nodeCount / 2);
    const int nx = editor.x + preview.left + node.x, ny = editor.y + preview.top + node.y;
    const std::string drag = "xdotool mousemove " + std::to_string(nx) + " " + std::to_string(ny) +
                             " sleep 0.3 mousedown 1 sleep 0.2 mousemove " + std::to_string(nx + 6) + " " +
                             std::to_string(ny) + " sleep 0.2 mousemove " + std::to_string(nx + 14) + " " +
                             std::to_string(ny) + " sleep 0.3 mouseup 1";
    ASSERT_EQ(std::system(drag.c_str()), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    Snapshot("gui_editor_dragged.png");
    ASSERT_TRUE(Grab(main, bundle + "/after.png", after));
    ASSERT_EQ(before.width, after.width);
    // The main preview where the editor does not cover it, in eight bands
    // across: every knife moved, so each band changed.
    const int left = std::max(26, editor.x + 392 - main.x + 2), right = 706;
    ASSERT_LT(left + 80, right);
    int bandsChanged = 0;
    for (int band = 0; band < 8; ++band) {
        const int x0 = left + (right - left) * band / 8, x1 = left + (right - left) * (band + 1) / 8;
        size_t changed = 0;
        for (int y = 52; y < 560; ++y)
            for (int x = x0; x < x1; ++x) {
                const size_t i = size_t(y) * before.width + size_t(x);
                changed += before.planes[0][i] != after.planes[0][i] || before.planes[1][i] != after.planes[1][i];
            }
        bandsChanged += changed > 20;
    }
    EXPECT_GE(bandsChanged, 6);

    // Cut: the editor closes and the main window shows the pieces.
    Click(editor, 336, 611);
    ASSERT_TRUE(Gone("Cutter", 60000)) << "the knife editor stayed open";
    Snapshot("gui_piece_mode.png");
    Click(main, kApplyX, kApplyY);
    ASSERT_EQ(WaitExit(pid, 30000), 0);
    // Pieces, not knife lines: the picture itself comes back.
    hostapp::RasterImage img, sample;
    std::string err;
    ASSERT_TRUE(hostapp::ReadImageFile(out, img, err)) << err;
    ASSERT_TRUE(hostapp::ReadImageFile(kSample, sample, err)) << err;
    ASSERT_EQ(img.PixelCount(), sample.PixelCount());
    double diff = 0;
    for (size_t i = 0; i < img.PixelCount(); ++i)
        for (int c = 0; c < 3; ++c)
            diff += std::abs(int(img.planes[size_t(c)][i]) - int(sample.planes[size_t(c)][i]));
    EXPECT_LT(diff / (3.0 * img.PixelCount()), 30.0);
    std::filesystem::remove_all(bundle);
}
