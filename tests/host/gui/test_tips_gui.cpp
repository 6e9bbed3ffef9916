// The status lines as a person reads them, on a 1600 x 1000 screen without a
// window manager, through tessolo-host and xdotool: each icon button of the
// knife editor shows its own tip, after a Cut the pointer brought back
// over the main preview finds the piece-mode tip there, and the tip of Hide
// Extras follows the click and the key that turn it into Show Extras (with a
// window manager too). The lines are read
// from grabs of the windows by tesseract. With TESSOLO_SNAPSHOT_DIR set,
// screenshots are kept there.
#include "gui_drive.h"
#include "tests/need_program.h"
#include "tests/window_manager.h"

#include "app/StatusTips.h"
#include "ui/Control.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using namespace guidrive;

// The status lines of the two windows (their skins' rectangles).
constexpr Area kEditorStatus{12, 564, 428, 590};
constexpr Area kMainStatus{10, 604, 720, 644};

// The words of a text, in lower case, letters and digits only.
std::vector<std::string> Words(const std::string& text)
{
    std::vector<std::string> out(1);
    for (const char c : text) {
        if (std::isalnum(static_cast<unsigned char>(c)))
            out.back() += char(std::tolower(static_cast<unsigned char>(c)));
        else if (!out.back().empty())
            out.emplace_back();
    }
    if (out.back().empty())
        out.pop_back();
    return out;
}

// The share of want's words that the read text has, each read word counted once.
double Share(const std::string& want, const std::string& read)
{
    const std::vector<std::string> w = Words(want);
    std::vector<std::string> r = Words(read);
    size_t found = 0;
    for (const std::string& word : w)
        if (const auto it = std::find(r.begin(), r.end(), word); it != r.end()) {
            ++found;
            r.erase(it);
        }
    return w.empty() ? 0.0 : double(found) / double(w.size());
}

// What a status line of the window says: its area of a grab, enlarged four
// times, light letters turned dark, read by tesseract.
std::string ReadLine(const Geometry& g, const Area& a, const std::string& folder)
{
    const std::string shot = folder + "/line.png", big = folder + "/line_big.png";
    if (std::system(("timeout 20 import -window " + g.id + " " + shot).c_str()) != 0)
        return "";
    const std::string crop = std::to_string(a.x1 - a.x0) + "x" + std::to_string(a.y1 - a.y0) + "+" +
                             std::to_string(a.x0) + "+" + std::to_string(a.y0);
    if (std::system(("convert " + shot + " +repage -crop " + crop +
                     " +repage -resize 400% -colorspace Gray -negate " + big)
                        .c_str()) != 0)
        return "";
    // One thread: tesseract's OpenMP workers spin while they wait for each
    // other, and on a machine whose every core is busy one reading then
    // takes minutes instead of a second.
    return Capture("OMP_THREAD_LIMIT=1 tesseract " + big + " stdout --psm 6");
}

// Reads the line until it says most of want's words (a fade takes a
// moment, a loaded machine longer); the last reading.
std::string WaitForLine(const Geometry& g, const Area& a, const std::string& want, const std::string& folder,
                        int ms = 60000)
{
    std::string read;
    for (int waited = 0; waited < ms; waited += 300) {
        read = ReadLine(g, a, folder);
        if (Share(want, read) >= 0.8)
            break;
        Sleep(300);
    }
    return read;
}

void MoveTo(const Geometry& g, int x, int y)
{
    Xdo("mousemove " + std::to_string(g.x + x) + " " + std::to_string(g.y + y));
}

struct Box {
    int x = 0, y = 0, w = 0, h = 0;
};

Box BoxOf(const std::string& id)
{
    const std::string geo = Capture("xdotool getwindowgeometry --shell " + id);
    auto field = [&geo](const char* name) {
        const size_t at = geo.find(name);
        return at == std::string::npos ? -1 : std::atoi(geo.c_str() + at + std::strlen(name));
    };
    return Box{field("X="), field("Y="), field("WIDTH="), field("HEIGHT=")};
}

// Waits until the main window has made room for the editor: both stand
// where two readings in a row find them, side by side. Their places then go
// into editor and main; false when that never came.
bool SideBySide(Geometry& editor, Geometry& main, int ms = 180000)
{
    Box lastE, lastM;
    for (int waited = 0; waited < ms; waited += 300) {
        const Box e = BoxOf(editor.id), m = BoxOf(main.id);
        const bool apart = e.w > 0 && m.w > 0 && (e.x + e.w <= m.x || m.x + m.w <= e.x);
        if (apart && e.x == lastE.x && e.y == lastE.y && m.x == lastM.x && m.y == lastM.y) {
            editor.x = e.x;
            editor.y = e.y;
            main.x = m.x;
            main.y = m.y;
            return true;
        }
        lastE = e;
        lastM = m;
        Sleep(300);
    }
    return false;
}

// tessolo-host on the sample, with a plug-in folder of its own; the knife
// editor and the main window once both are up and placed (an empty id: one
// never came).
struct HostOnSample {
    PluginFolder folder;
    pid_t pid = Spawn({"--dialog", kSample, folder.File("out.png")}, folder.path);
    Geometry editor = FindWindow("Cutter");
    Geometry main = FindWindow("Main");
    bool placed = !editor.id.empty() && !main.id.empty() && SideBySide(editor, main);
};

}  // namespace

TEST(TipsGui, TheEditorsIconButtonsAndThePreviewAfterACutShowTheirOwnTips)
{
    // tesseract reads the status lines.
    NEED_PROGRAM("tesseract", "tesseract-ocr");
    HostOnSample host;
    const PluginFolder& folder = host.folder;
    const pid_t pid = host.pid;
    const Geometry& editor = host.editor;
    const Geometry& main = host.main;
    ASSERT_FALSE(editor.id.empty()) << "the knife editor did not open";
    ASSERT_FALSE(main.id.empty()) << "the main window did not open";
    ASSERT_TRUE(host.placed) << "the main window never made room for the editor beside it";

    const char* const buttons[] = {"Cutter_Undo",  "Cutter_Redo",  "Cutter_Reset",
                                   "Cutter_FlipH", "Cutter_FlipU", "Cutter_AutoLayout"};
    for (const char* name : buttons) {
        const auto [x, y] = Skin::Get().Centre("Cutter", name);
        MoveTo(editor, x, y);
        // The rules of these buttons hold enabled or not.
        const std::string want = qnGetStatusTip(name, "Cutter", 1, qnctl::Button);
        const std::string read = WaitForLine(editor, kEditorStatus, want, folder.path);
        EXPECT_GE(Share(want, read), 0.8) << name << ": the line reads \"" << read << "\", its tip is \"" << want
                                          << "\"";
        if (std::string(name) == "Cutter_FlipH")
            Snapshot("gui_tips_editor_flip.png");
    }

    // The main preview's tip in cut mode; then Cut, and back over the preview.
    const int px = (kMainPreview.x0 + kMainPreview.x1) / 2, py = (kMainPreview.y0 + kMainPreview.y1) / 2;
    MoveTo(main, px, py);
    const std::string cutTip = qnGetStatusTip("Zone_Preview", "Main", 2, kTipZone);
    EXPECT_GE(Share(cutTip, WaitForLine(main, kMainStatus, cutTip, folder.path)), 0.8);
    ClickControl(editor, "Cutter", "Cutter_Cut");
    ASSERT_TRUE(WaitGone("Cutter", 180000)) << "the editor did not close after the Cut";
    MoveTo(main, px + 40, py + 20);
    const std::string pieceTip = qnGetStatusTip("Zone_Preview", "Main", 3, kTipZone);
    const std::string read = WaitForLine(main, kMainStatus, pieceTip, folder.path);
    Snapshot("gui_tips_piece_mode.png");
    EXPECT_GE(Share(pieceTip, read), 0.8) << "the line reads \"" << read << "\"";

    ClickControl(main, "Main", "Main_Cancel");
    EXPECT_EQ(WaitExit(pid, 60000), 1);
}

// The mode badge (LAYOUT) has no tip of its own: reached straight from the
// navigator, or from empty space, it leaves the line as it was; leaving it
// for empty space shows the window's own line again.
TEST(TipsGui, TheModeBadgeLeavesTheTipShownAlone)
{
    NEED_PROGRAM("tesseract", "tesseract-ocr");
    HostOnSample host;
    const PluginFolder& folder = host.folder;
    const Geometry& main = host.main;
    ASSERT_FALSE(host.editor.id.empty()) << "the knife editor did not open";
    ASSERT_FALSE(main.id.empty()) << "the main window did not open";
    ASSERT_TRUE(host.placed) << "the main window never made room for the editor beside it";
    const std::string file = folder.File("badge.png");
    const auto [bx, by] = Skin::Get().Centre("Main", "Main_ModeL");
    // Between the preview's scroll bar and the right column: no control.
    const int emptyX = 728, emptyY = 300;

    // Watches the line for a while after the pointer went onto the badge: a
    // new tip would fade the line out within a few of the window's 30 ms
    // ticks.
    auto staysOnBadge = [&](const char* from, const std::string& tip) {
        const hostapp::RasterImage before = GrabValid(main, file);
        MoveTo(main, bx, by);
        size_t most = 0;
        for (int waited = 0; waited < 3000; waited += 250) {
            const size_t d = AreaDiff(before, GrabValid(main, file), kMainStatus);
            most = std::max(most, d == size_t(-1) ? 0 : d);
            Sleep(250);
        }
        EXPECT_LT(most, 20u) << "from " << from << " the line changed on the badge; it reads \""
                             << ReadLine(main, kMainStatus, folder.path) << "\", it said \"" << tip << "\"";
    };

    const auto [nx, ny] = Skin::Get().Centre("Main", "Main_Navigator");
    MoveTo(main, nx, ny);
    const std::string navigator = qnGetStatusTip("Main_Navigator", "Main", 2, qnctl::StaticImage);
    EXPECT_GE(Share(navigator, WaitForLine(main, kMainStatus, navigator, folder.path)), 0.8);
    WaitStill(main, file);
    staysOnBadge("the navigator", navigator);

    MoveTo(main, emptyX, emptyY);
    const std::string window = qnGetStatusTip("", "Main", 2, kTipNoControl);
    const std::string read = WaitForLine(main, kMainStatus, window, folder.path);
    EXPECT_GE(Share(window, read), 0.8) << "off the badge the line reads \"" << read << "\"";
    WaitStill(main, file);
    staysOnBadge("empty space", window);
    Snapshot("gui_tips_badge.png");

    ClickControl(main, "Main", "Main_Cancel");
    EXPECT_EQ(WaitExit(host.pid, 60000), 1);
}


namespace {

// Whether a reading says want, told from its twin by the word that differs
// (hide or show).
bool Tells(const std::string& read, const std::string& want, const std::string& word, const std::string& twin)
{
    const std::vector<std::string> w = Words(read);
    return Share(want, read) >= 0.8 && std::find(w.begin(), w.end(), word) != w.end() &&
           std::find(w.begin(), w.end(), twin) == w.end();
}

// Reads the main window's line until it tells want; the last reading.
std::string WaitForTip(const Geometry& g, const std::string& want, const std::string& word, const std::string& twin,
                       const std::string& folder)
{
    std::string read;
    for (int waited = 0; waited < 60000 && !Tells(read, want, word, twin); waited += 300) {
        if (waited)
            Sleep(300);
        read = ReadLine(g, kMainStatus, folder);
    }
    return read;
}

// The pointer rests on Hide Extras; a click turns it into Show Extras, and
// Ctrl+H back: each time the line says what the button under the pointer
// now does, the pointer never moving.
void TheExtrasTipFollowsTheClickAndTheKey(const char* shot)
{
    NEED_PROGRAM("tesseract", "tesseract-ocr");
    HostOnSample host;
    const PluginFolder& folder = host.folder;
    const Geometry& main = host.main;
    ASSERT_FALSE(host.editor.id.empty()) << "the knife editor did not open";
    ASSERT_FALSE(main.id.empty()) << "the main window did not open";
    ASSERT_TRUE(host.placed) << "the main window never made room for the editor beside it";
    const std::string hide = qnGetStatusTip("Main_HideExtras", "Main", 2, qnctl::Button);
    const std::string show = qnGetStatusTip("Main_ShowExtras", "Main", 2, qnctl::Button);

    const auto [x, y] = Skin::Get().Centre("Main", "Main_HideExtras");
    MoveTo(main, x, y);
    std::string read = WaitForTip(main, hide, "hide", "show", folder.path);
    EXPECT_TRUE(Tells(read, hide, "hide", "show")) << "on Hide Extras the line reads \"" << read << "\"";
    Xdo("click 1");
    read = WaitForTip(main, show, "show", "hide", folder.path);
    Snapshot(shot);
    EXPECT_TRUE(Tells(read, show, "show", "hide")) << "after the click the line reads \"" << read << "\"";
    Xdo("key ctrl+h");
    read = WaitForTip(main, hide, "hide", "show", folder.path);
    EXPECT_TRUE(Tells(read, hide, "hide", "show")) << "after Ctrl+H the line reads \"" << read << "\"";

    ClickControl(main, "Main", "Main_Cancel");
    EXPECT_EQ(WaitExit(host.pid, 60000), 1);
}

}  // namespace

TEST(TipsGui, TheExtrasTipFollowsTheClickAndTheKeyUnderAStillPointer)
{
    TheExtrasTipFollowsTheClickAndTheKey("gui_tips_extras.png");
}

TEST(TipsGui, TheExtrasTipFollowsTheClickAndTheKeyUnderAStillPointerUnderAWindowManager)
{
    NEED_PROGRAM("openbox", "openbox");
    wmtest::WindowManager wm;
    ASSERT_TRUE(wm.Managing()) << "openbox did not take the screen";
    TheExtrasTipFollowsTheClickAndTheKey("gui_tips_extras_wm.png");
}
