// The main window as a new user meets it, on a 1600 x 1000 screen without a
// window manager: a fresh plug-in folder and a 2400 x 1600 photo; both windows
// open whole and side by side; zooming in twice redraws the ruler's marks and
// gives the scroll bars thumbs; a page on the scroll bar moves the view and
// the navigator's frame; a right click on the split ruler beside a handle and
// on a handle shows its menus, one on the ruler's marks the units. With
// TESSOLO_SNAPSHOT_DIR set, screenshots are kept there.
#include "gui_drive.h"

#include "hostapp/RasterImage.h"

#include <cmath>
#include <cstring>

namespace {

using namespace guidrive;

constexpr int kScreenW = 1600, kScreenH = 1000;
// Areas of the main window (its skin): the top ruler, the row of the split
// ruler's handles (its outer half), the horizontal scroll bar, the navigator.
constexpr Area kRuler{26, 36, 706, 52};
constexpr Area kHScroll{26, 560, 706, 574};
constexpr Area kNavigator{736, 68, 990, 238};
constexpr int kBandY = 39;

struct Box {
    int x = 0, y = 0, w = 0, h = 0;
};

Box Geometry_(const Geometry& g)
{
    const std::string geo = Capture("xdotool getwindowgeometry --shell " + g.id);
    auto field = [&geo](const char* name) {
        const size_t at = geo.find(name);
        return at == std::string::npos ? -1 : std::atoi(geo.c_str() + at + std::strlen(name));
    };
    return Box{field("X="), field("Y="), field("WIDTH="), field("HEIGHT=")};
}

// A photo-like picture: sky, sun and hills, so every part of it differs.
void WritePhoto(const std::string& path)
{
    hostapp::RasterImage img;
    img.Allocate(hostapp::ColorMode::RGB, 2400, 1600, false);
    for (int y = 0; y < img.height; ++y)
        for (int x = 0; x < img.width; ++x) {
            const size_t i = size_t(y) * img.width + x;
            const double hill = 1000 + 180 * std::sin(x / 260.0) + 60 * std::sin(x / 47.0);
            const bool sun = std::hypot(x - 1650.0, y - 520.0) < 170;
            const bool ground = y > hill;
            img.planes[0][i] = uint8_t(sun ? 250 : ground ? 40 + (x / 13 + y / 17) % 60 : 60 + y / 12);
            img.planes[1][i] = uint8_t(sun ? 230 : ground ? 110 + (x * 7 / 31) % 80 : 90 + y / 10);
            img.planes[2][i] = uint8_t(sun ? 150 : ground ? 50 : 200 - y / 20);
        }
    std::string err;
    ASSERT_TRUE(hostapp::WritePngFile(path, img, err)) << err;
}

// The x of the first handle in the split ruler's band of a grab (the
// handles' orange), or -1.
int FirstHandleX(const hostapp::RasterImage& grab)
{
    if (grab.planes.size() < 3 || grab.height <= kBandY)
        return -1;
    for (int x = kRuler.x0 + 4; x < kRuler.x1 - 4; ++x) {
        const size_t i = size_t(kBandY) * grab.width + x;
        if (grab.planes[0][i] > 180 && grab.planes[1][i] > 110 && grab.planes[1][i] < 170 && grab.planes[2][i] < 80)
            return x;
    }
    return -1;
}

// A right click at window point (x, y) brings a pop-up below it.
bool MenuAt(const Geometry& g, int x, int y, const std::string& scratch, const char* shot)
{
    const hostapp::RasterImage before = GrabScreen(scratch);
    Xdo("mousemove " + std::to_string(g.x + x) + " " + std::to_string(g.y + y) + " sleep 0.3 click 3");
    const bool shown = WaitScreenChange(g, x + 2, y + 6, x + 120, y + 60, before, scratch, 10000);
    Snapshot(shot);
    // A click on a quiet place of the window (the information line) takes
    // the pop-up away.
    Click(g, 300, 589);
    Sleep(800);
    return shown;
}

}  // namespace

TEST(MainViewGui, ANewUserSeesBothWindowsAndAViewThatFollowsZoomAndPan)
{
    const std::string folder = UniqueFolder();
    ASSERT_FALSE(folder.empty());
    CopyBundle(folder);
    const std::string photo = folder + "/photo.png";
    WritePhoto(photo);
    const pid_t pid = Spawn({"--dialog", photo, folder + "/out.png"}, folder);
    ASSERT_FALSE(FindWindow("Main").id.empty()) << "the main window did not open";
    const Geometry editor = FindWindow("Cutter");
    ASSERT_FALSE(editor.id.empty()) << "the knife editor did not open";
    // Where the main window is once the editor took its place beside it.
    const Geometry main = FindWindow("Main");
    Snapshot("gui_view_first_open.png");

    // Both whole on the screen, neither over the other.
    const Box m = Geometry_(main), e = Geometry_(editor);
    for (const Box& b : {m, e}) {
        EXPECT_GE(b.x, 0);
        EXPECT_GE(b.y, 0);
        EXPECT_LE(b.x + b.w, kScreenW);
        EXPECT_LE(b.y + b.h, kScreenH);
    }
    EXPECT_TRUE(e.x + e.w <= m.x || m.x + m.w <= e.x) << "editor " << e.x << "+" << e.w << ", main " << m.x << "+"
                                                      << m.w;

    // Zoom in twice with the wheel over the preview.
    const std::string scratch = folder + "/grab.png";
    const hostapp::RasterImage fitted = GrabSettled(main, scratch);
    Xdo("mousemove " + std::to_string(main.x + 366) + " " + std::to_string(main.y + 306) +
        " sleep 0.3 click 4 sleep 0.8 click 4");
    const hostapp::RasterImage zoomed = GrabChanged(main, fitted, scratch, 1000);
    Snapshot("gui_view_zoomed.png");
    EXPECT_GT(AreaDiff(fitted, zoomed, kRuler), 100u) << "the ruler's labels did not change";
    EXPECT_GT(AreaDiff(fitted, zoomed, kHScroll), 50u) << "the scroll bar got no thumb";

    // A page to the right on the scroll bar's track moves the view and the
    // navigator's frame.
    Click(main, kHScroll.x1 - 30, (kHScroll.y0 + kHScroll.y1) / 2);
    const hostapp::RasterImage panned = GrabChanged(main, zoomed, scratch, 1000);
    Snapshot("gui_view_panned.png");
    EXPECT_GT(AreaDiff(zoomed, panned), 1000u) << "the view did not move";
    EXPECT_GT(AreaDiff(zoomed, panned, kNavigator), 20u) << "the navigator's frame did not move";
    EXPECT_GT(AreaDiff(zoomed, panned, kRuler), 50u) << "the ruler did not follow the view";

    // The split ruler's menus and the ruler's own.
    const int handle = FirstHandleX(panned);
    ASSERT_GT(handle, 0) << "no splitter handle on the ruler";
    const int beside = handle + 40 < kRuler.x1 - 10 ? handle + 40 : handle - 40;
    EXPECT_TRUE(MenuAt(main, beside, kBandY, scratch, "gui_view_split_menu.png")) << "no menu beside a handle";
    EXPECT_TRUE(MenuAt(main, handle, kBandY, scratch, "gui_view_handle_menu.png")) << "no menu on a handle";
    EXPECT_TRUE(MenuAt(main, beside, 48, scratch, "gui_view_units_menu.png")) << "no units menu on the marks";

    Xdo("mousemove " + std::to_string(main.x + 797) + " " + std::to_string(main.y + 659) + " sleep 0.3 click 1");
    EXPECT_EQ(WaitExit(pid, 60000), 1);
    if (!::testing::Test::HasFailure())
        std::filesystem::remove_all(folder);
}
