// The interactive road through the real programs on a real X display (run
// under Xvfb), driven with xdotool: tessolo-host --dialog opens the main
// window over a photo; Cancel exits with the cancel code and writes nothing;
// Apply Lines writes the knife lines; --about opens the About window and a
// click or any key alone closes it; the message box answers No; a node dragged in the knife
// editor changes every knife and Cut gives pieces; in piece mode a clicked
// piece's bevel goes off and on, a selection comes from a document
// channel, and a clicked piece gets a colour overlay that the applied picture
// shows. With TESSOLO_SNAPSHOT_DIR
// set, screenshots are kept there.
#include "gui_drive.h"
#include "tests/library_loads.h"

#include "app/Wnd_MessageBox.h"
#include "cutter/CutterEditor.h"
#include "core/SafeFile.h"
#include "core/StdFile.h"
#include "imaging/PSDCodec.h"
#include "platform/Backend.h"
#include "ui/App.h"
#include "ui/Toolkit.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <vector>

namespace {

using namespace guidrive;

// The centres of the main window's buttons (from its skin).
constexpr int kCancelX = 797, kCancelY = 659, kApplyX = 929, kApplyY = 659;
// The row of the --channel given in the channels list (after Red, Green, Blue).
constexpr int kMaskRow = 3;

}  // namespace

TEST(HostDialogGui, CancelWritesNothingAndExitsWithTheCancelCode)
{
    const PluginFolder plugin;
    const std::string out = plugin.File("dialog_cancel.png");
    const pid_t pid = Spawn({"--dialog", kSample, out}, plugin.path);
    const Geometry g = FindWindow("Main");
    ASSERT_FALSE(g.id.empty()) << "the main window did not open";
    Snapshot("gui_main_cut_mode.png");
    Click(g, kCancelX, kCancelY);
    EXPECT_EQ(WaitExit(pid, 60000), 1);
    EXPECT_FALSE(std::filesystem::exists(out));
}

TEST(HostDialogGui, ApplyWritesTheKnifeLines)
{
    const PluginFolder plugin;
    const std::string out = plugin.File("dialog_apply.png");
    const pid_t pid = Spawn({"--dialog", kSample, out}, plugin.path);
    const Geometry g = FindWindow("Main");
    ASSERT_FALSE(g.id.empty()) << "the main window did not open";
    Click(g, kApplyX, kApplyY);
    ASSERT_EQ(WaitExit(pid, 60000), 0);
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
}

// Settings a descriptor cannot hold (here a host that takes texts of ten
// bytes at most) are said at Apply: the box in the window, then one line of
// the host naming its descriptor file and how to replay; the picture is
// applied all the same and the descriptor left is refused at replay. Where
// the plug-in could not keep its last settings either (a folder stands in
// their place), the line does not send the user to them.
TEST(HostDialogGui, ApplySaysWhenTheDescriptorCannotHoldTheSettings)
{
    const PluginFolder plugin;
    const std::string desc = plugin.File("small.qnds"), err = plugin.File("small.err");
    // Applies in the window, pressing Return in every box until the host
    // exits; what it said on standard error.
    auto apply = [&](const std::string& out) {
        const pid_t pid = Spawn({"--dialog", "--max-text", "10", "--descriptor", desc, kSample, out}, plugin.path, err);
        const Geometry g = FindWindow("Main");
        EXPECT_FALSE(g.id.empty()) << "the main window did not open";
        Click(g, kApplyX, kApplyY);
        // A box is the desktop's own, untitled: a window of the host's
        // besides Main; Return presses its OK.
        int boxes = 0, status = 0;
        for (int waited = 0; waited < 120000 && waitpid(pid, &status, WNOHANG) != pid; waited += 200) {
            std::istringstream ids(Capture("xdotool search --onlyvisible --pid " + std::to_string(pid)));
            std::string box;
            for (std::string id; ids >> id;)
                if (id != g.id)
                    box = id;
            if (box.empty()) {
                Sleep(200);
                continue;
            }
            // A box may go between the search and the key (the one before
            // it, closing): then the next search finds what is there.
            const std::string key = "xdotool windowfocus --sync " + box + " key --window " + box + " Return 2>/dev/null";
            boxes += std::system(key.c_str()) == 0;
            Sleep(300);
        }
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        EXPECT_GT(boxes, 0) << "Apply said nothing in the window";
        EXPECT_TRUE(std::filesystem::exists(out));
        std::ifstream in(err);
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    };
    auto line = [&](const std::string& said) {
        const size_t at = said.find("tessolo-host: " + desc + " holds no settings");
        EXPECT_NE(at, std::string::npos) << said;
        EXPECT_EQ(said.find("holds no settings", at + desc.size() + 20), std::string::npos) << "said twice: " << said;
        return at == std::string::npos ? std::string() : said.substr(at, said.find('\n', at) - at);
    };
    const std::string kept = line(apply(plugin.File("dialog_small.png")));
    EXPECT_NE(kept.find("last.data"), std::string::npos) << kept;
    const pid_t replay = Spawn({"--descriptor", desc, kSample, plugin.File("again.png")}, plugin.path);
    EXPECT_EQ(WaitExit(replay, 60000), 5);
    EXPECT_FALSE(std::filesystem::exists(plugin.File("again.png")));

    std::filesystem::remove(plugin.File("last.data"));
    std::filesystem::create_directory(plugin.File("last.data"));
    const std::string lost = line(apply(plugin.File("dialog_lost.png")));
    EXPECT_EQ(lost.find("replay this picture"), std::string::npos) << lost;
    EXPECT_NE(lost.find("kept nowhere"), std::string::npos) << lost;
}

// A window backend that cannot be loaded while the display is there is the
// host's error, said as what it is: cut short (refused before the loader
// maps it past its end), of the right length with its tail lost to zeros
// or garbage, a block in what it maps zeroed or scrambled (refused before
// the loader believes its tables), without its seal (the backend is always
// the plug-in's own), or missing: one line naming the file and why, never
// a signal, never taken for a display that is not there.
TEST(HostDialogGui, AWindowBackendThatCannotBeLoadedIsAHostError)
{
    const PluginFolder plugin;
    const std::string backend = plugin.File("tessolo_gtk.so");
    std::vector<uint8_t> whole;
    std::string err;
    ASSERT_TRUE(qnReadWholeFile(backend, whole, err)) << err;
    const std::vector<library_loads::Range> loads = library_loads::Loaded(whole);
    enum Loss { Gone, Zeros, Garbage, MiddleZeros, MiddleGarbage, NoSeal };
    struct Case {
        size_t keep;  // 0: no backend at all; for a block in the middle, where it starts
        Loss loss;
        const char* why;
        size_t length = 0;  // of a block in the middle
    };
    std::vector<Case> cases = {{whole.size() / 3, Gone, "it is cut short: the file has "},
                               {whole.size() / 2, Zeros, "it is damaged: "},
                               {whole.size() * 3 / 4, Garbage, "it is damaged: "},
                               {0, Gone, "no such file or directory"},
                               {1, NoSeal, "it is damaged: it carries no seal"}};
    // Blocks in the middle: 8 places over the file, 1 byte to 64 KiB.
    const size_t lengths[] = {1, 64, 4096, 65536};
    for (size_t k = 1; k <= 8; ++k)
        cases.push_back({whole.size() * k / 9 + k * 41, k % 2 ? MiddleZeros : MiddleGarbage, "it is damaged: ",
                         std::min(lengths[k % 4], whole.size() - (whole.size() * k / 9 + k * 41))});
    for (const Case& c : cases) {
        const std::string what = std::to_string(c.keep) + " (" + std::to_string(c.loss) + ")";
        std::filesystem::remove(backend);
        if (c.loss == NoSeal) {
            ASSERT_EQ(qnReplaceFile(plugin.File("sealed.so"), whole.data(), whole.size()), 0);
            ASSERT_EQ(std::system(("objcopy --remove-section .note.tessolo '" + plugin.File("sealed.so") + "' '" +
                                   backend + "'")
                                      .c_str()),
                      0);
        } else if (c.keep) {
            std::vector<uint8_t> bytes(whole.begin(), whole.begin() + std::ptrdiff_t(c.keep));
            if (c.loss != Gone)
                bytes.resize(whole.size(), 0);
            for (size_t i = c.keep; c.loss == Garbage && i < bytes.size(); ++i)
                bytes[i] = uint8_t(whole[i] ^ (1 + (i * 2654435761u >> 7) % 255));
            if (c.loss == MiddleZeros || c.loss == MiddleGarbage) {
                bytes = whole;
                for (size_t i = c.keep; i < c.keep + c.length; ++i)
                    bytes[i] = c.loss == MiddleZeros ? 0 : uint8_t(whole[i] ^ (1 + (i * 2654435761u >> 7) % 255));
                if (bytes == whole || !library_loads::Overlaps(loads, c.keep, c.length))
                    continue;  // zeros where zeros were, or nothing the loader maps: nothing lost
            }
            ASSERT_EQ(qnReplaceFile(backend, bytes.data(), bytes.size()), 0);
        }
        const std::string errFile = plugin.File("about.err");
        const pid_t pid = Spawn({"--about"}, plugin.path, errFile);
        EXPECT_EQ(WaitExit(pid, 60000), 3) << what;
        std::ifstream in(errFile);
        const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << what << ": " << text;
        EXPECT_EQ(text.rfind("tessolo-host: cannot load the window backend " + backend + ": " + c.why, 0), 0u)
            << what << ": " << text;
        EXPECT_EQ(text.find("no display"), std::string::npos) << what << ": " << text;
        EXPECT_EQ(text.find("cancelled"), std::string::npos) << what << ": " << text;
    }
}

TEST(HostDialogGui, AboutOpensAndAClickOrAnyKeyAloneClosesIt)
{
    // A click, Shift only pressed (released after the window went), Ctrl
    // and Alt pressed and released alone, and Shift held from before the
    // window opened, only let go there; and a click where the plug-in and
    // its window backend were stripped as a packager strips them.
    const char* const ways[] = {"click", "keydown Shift_L", "key Control_L", "key Alt_L", "keyup Shift_L", "stripped"};
    for (const char* way : ways) {
        SCOPED_TRACE(way);
        const PluginFolder plugin;
        if (std::strcmp(way, "keyup Shift_L") == 0)
            Xdo("keydown Shift_L");
        if (std::strcmp(way, "stripped") == 0) {
            ASSERT_EQ(std::system(("strip --strip-unneeded '" + plugin.File("Tessolo.so") + "' '" +
                                   plugin.File("tessolo_gtk.so") + "'")
                                      .c_str()),
                      0);
        }
        const pid_t pid = Spawn({"--about"}, plugin.path);
        const Geometry g = FindWindow("About");
        ASSERT_FALSE(g.id.empty()) << "the About window did not open";
        if (std::strcmp(way, "click") == 0 || std::strcmp(way, "stripped") == 0) {
            if (std::strcmp(way, "click") == 0)
                Snapshot("gui_about.png");
            Click(g, 200, 120);
        } else {
            Xdo("windowfocus --sync " + g.id + " " + way);
        }
        EXPECT_EQ(WaitExit(pid, 20000), 0);
        if (std::strcmp(way, "keydown Shift_L") == 0)
            Xdo("keyup Shift_L");
    }
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

// Cancel ends the host with the cancel code; the folder goes, unless a
// failure left its pictures for a look.
void CancelAndClean(const Geometry& main, pid_t pid, const std::string& folder)
{
    Click(main, kCancelX, kCancelY);
    EXPECT_EQ(WaitExit(pid, 60000), 1);
    if (!::testing::Test::HasFailure())
        std::filesystem::remove_all(folder);
}
}  // namespace

// The knot in the middle of the preview dragged with the real mouse moves the
// knives that meet it; the Main menu's Undo and Ctrl+Z take the step back and
// forth; the layout is saved through the real save dialog, changed, and
// opened again through the real open dialog.
TEST(HostDialogGui, DragAKnotUndoItFromTheMenuSaveAndOpenTheLayout)
{
    const std::string dir = UniqueFolder();
    ASSERT_FALSE(dir.empty());
    CopyBundle(dir);
    const pid_t pid = Spawn({"--dialog", kSample, dir + "/out.png"}, dir);
    const Geometry g = FindWindow("Main");
    ASSERT_FALSE(g.id.empty()) << "the main window did not open";
    auto at = [&g](int x, int y) { return std::to_string(g.x + x) + " " + std::to_string(g.y + y); };
    // The sample (360 x 240) opens at actual pixels, centred in the preview,
    // cut in 3 x 2: the knot at image point (120, 120) is window point
    // (26 + 160 + 120, 52 + 134 + 120).
    const hostapp::RasterImage start = GrabSettled(g, dir + "/start.png");
    Xdo("mousemove " + at(306, 306) + " sleep 0.3 mousedown 1 sleep 0.3 mousemove " + at(326, 316) +
        " sleep 0.2 mousemove " + at(346, 336) + " sleep 0.3 mouseup 1");
    const hostapp::RasterImage dragged = GrabSettled(g, dir + "/dragged.png");
    Snapshot("gui_knot_dragged.png");
    EXPECT_GT(PreviewDiff(start, dragged), 100u) << "the knives did not move";
    // Main menu, first item: Undo (once the menu is on the screen).
    const hostapp::RasterImage noMenu = GrabScreen(dir + "/screen.png");
    Xdo("mousemove " + at(452, 16) + " sleep 0.3 click 1");
    ASSERT_TRUE(WaitScreenChange(g, 430, 40, 620, 60, noMenu, dir + "/screen.png", 60000)) << "no menu came";
    Snapshot("gui_main_menu.png");
    const hostapp::RasterImage withMenu = GrabScreen(dir + "/menu.png");
    Xdo("key Down sleep 0.3 key Return");
    EXPECT_TRUE(WaitScreenChange(g, 610, 100, 700, 200, withMenu, dir + "/screen.png", 60000)) << "the menu stayed";
    EXPECT_LT(SettleLike(g, start, dir + "/undone.png"), 20u) << "Undo from the menu did not restore the knives";
    // Ctrl+Z toggles the step back.
    Xdo("mousemove " + at(200, 200) + " sleep 0.2 key ctrl+z");
    EXPECT_LT(SettleLike(g, dragged, dir + "/redone.png"), 20u) << "Ctrl+Z did not bring the drag back";
    const hostapp::RasterImage& redone = dragged;
    // Save through the real dialog, typing a full path as its name.
    Xdo("key ctrl+s");
    const Geometry save = FindWindow("Save Document...", 60000);
    ASSERT_FALSE(save.id.empty()) << "the save dialog did not open";
    Snapshot("gui_save_dialog.png");
    ConfirmPath("Save Document...", "key ctrl+a type --delay 20 '" + dir + "/layout.qntd'");
    for (int i = 0; i < 600 && !std::filesystem::exists(dir + "/layout.qntd"); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ASSERT_TRUE(std::filesystem::exists(dir + "/layout.qntd"));
    // Flip every knife (Ctrl+F), then open the saved layout again.
    Xdo("mousemove " + at(200, 200) + " sleep 0.2 key ctrl+f");
    const hostapp::RasterImage flipped = GrabSettled(g, dir + "/flipped.png");
    EXPECT_GT(PreviewDiff(redone, flipped), 100u) << "Ctrl+F flipped nothing";
    Xdo("key ctrl+l");
    const Geometry open = FindWindow("Load Document...", 60000);
    ASSERT_FALSE(open.id.empty()) << "the open dialog did not open";
    // The location line first (typing into the file list would search it).
    ConfirmPath("Load Document...", "key ctrl+l sleep 0.5 key ctrl+a type --delay 20 '" + dir + "/layout.qntd'");
    EXPECT_LT(SettleLike(g, redone, dir + "/reopened.png"), 20u) << "the saved layout did not come back";
    Snapshot("gui_reopened.png");
    CancelAndClean(g, pid, dir);
}

// Without a window manager the save dialog takes the release of the S that
// opened it, and no focus change follows its close: every Ctrl+S must still
// open it again, not pass for a key held down.
TEST(HostDialogGui, CtrlSOpensTheSaveDialogOnEveryPress)
{
    const PluginFolder plugin;
    const pid_t pid = Spawn({"--dialog", kSample, plugin.File("out.png")}, plugin.path);
    const Geometry g = FindWindow("Main");
    ASSERT_FALSE(g.id.empty()) << "the main window did not open";
    Xdo("mousemove " + std::to_string(g.x + 300) + " " + std::to_string(g.y + 300));
    for (int round = 1; round <= 3; ++round) {
        Xdo("key ctrl+s");
        const Geometry save = FindWindow("Save Document...", 30000);
        ASSERT_FALSE(save.id.empty()) << "Ctrl+S number " << round << " opened no save dialog";
        Xdo("key Escape");
        ASSERT_TRUE(WaitGone("Save Document...", 30000)) << "Esc did not cancel save dialog number " << round;
    }
    EXPECT_FALSE(std::filesystem::exists(plugin.File("Untitled.qntd")));
    Click(g, kCancelX, kCancelY);
    EXPECT_EQ(WaitExit(pid, 60000), 1);
}

TEST(HostDialogGui, KnifeEditorShapesEveryKnifeAndCutsIntoPieces)
{
    // A plug-in folder of its own: no stored knife, layout or window place.
    std::string bundle = Temp("cutter_gui_XXXXXX");
    ASSERT_NE(mkdtemp(bundle.data()), nullptr);
    CopyBundle(bundle);
    const std::string out = bundle + "/pieces.png";
    const pid_t pid = Spawn({"--dialog", kSample, out}, bundle);
    const Geometry main = FindWindow("Main");
    ASSERT_FALSE(main.id.empty()) << "the main window did not open";
    const Geometry editor = FindWindow("Cutter");
    ASSERT_FALSE(editor.id.empty()) << "the knife editor did not open";
    // Without a window manager nothing keeps the editor above the main
    // window it belongs to: the user brings it to the front.
    ASSERT_EQ(std::system(("xdotool windowraise " + editor.id).c_str()), 0);
    // Four rows and five columns of pieces: each number lays the main
    // window's grid anew.
    const hostapp::RasterImage start = GrabSettled(main, bundle + "/start.png");
    ASSERT_NO_FATAL_FAILURE(TypeNumber(editor, 392, 434, "4"));
    const hostapp::RasterImage rows = GrabChanged(main, start, bundle + "/rows.png", 200, 120000);
    ASSERT_GT(PreviewDiff(start, rows), 200u) << "the rows did not change";
    ASSERT_NO_FATAL_FAILURE(TypeNumber(editor, 392, 462, "5"));
    const hostapp::RasterImage before = GrabChanged(main, rows, bundle + "/before.png", 200, 120000);
    ASSERT_GT(PreviewDiff(rows, before), 200u) << "the columns did not change";
    Snapshot("gui_editor_grid.png");

    // The default knife's middle node, where the editor draws it.
    CWnd_CutterEditor model;
    const qntRECT_s preview{12, 118, 428, 354};
    ASSERT_TRUE(model.OnCreate(preview, 0));
    const qntPOS node = model.NodeCentre(model.m_Shape.nodeCount / 2);
    const int nx = editor.x + preview.left + node.x, ny = editor.y + preview.top + node.y;
    const std::string drag = "xdotool mousemove " + std::to_string(nx) + " " + std::to_string(ny) +
                             " sleep 0.3 mousedown 1 sleep 0.2 mousemove " + std::to_string(nx + 6) + " " +
                             std::to_string(ny) + " sleep 0.2 mousemove " + std::to_string(nx + 14) + " " +
                             std::to_string(ny) + " sleep 0.3 mouseup 1";
    ASSERT_EQ(std::system(drag.c_str()), 0);
    const hostapp::RasterImage after = GrabChanged(main, before, bundle + "/after.png", 200, 120000);
    Snapshot("gui_editor_dragged.png");
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
    Click(editor, 384, 611);
    ASSERT_TRUE(WaitGone("Cutter", 60000)) << "the knife editor stayed open";
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

// The presets manager from the knife editor's Presets button: a double click
// on "Wave" of the default set (the fourth icon; the first is the default
// knife) puts it into the editor, whose preview then shows another knife.
TEST(HostDialogGui, APresetDoubleClickedInTheManagerReachesTheEditor)
{
    // A plug-in folder of its own: the presets store is written there.
    const std::string bundle = UniqueFolder();
    ASSERT_FALSE(bundle.empty());
    CopyBundle(bundle);
    const pid_t pid = Spawn({"--dialog", kSample, bundle + "/out.png"}, bundle);
    const Geometry main = FindWindow("Main");
    ASSERT_FALSE(main.id.empty()) << "the main window did not open";
    const Geometry editor = FindWindow("Cutter");
    ASSERT_FALSE(editor.id.empty()) << "the knife editor did not open";
    ASSERT_EQ(std::system(("xdotool windowraise " + editor.id).c_str()), 0);
    const Area editorPreview{12, 118, 428, 354};
    const hostapp::RasterImage before = GrabSettled(editor, bundle + "/before.png", 30000, editorPreview);
    ASSERT_GE(before.planes.size(), 3u);
    Snapshot("gui_editor_before_preset.png");
    // Presets (the button at 12,85 - 96,109 of the editor).
    Click(editor, 54, 97);
    const Geometry presets = FindWindow("PresMng", 60000);
    ASSERT_FALSE(presets.id.empty()) << "the presets manager did not open";
    Snapshot("gui_presets_manager.png");
    // The fourth icon (320,68 - 360,108), double-clicked.
    Xdo("mousemove " + std::to_string(presets.x + 340) + " " + std::to_string(presets.y + 88) +
        " sleep 0.3 click --repeat 2 --delay 80 1");
    // Done, when the double click did not close it.
    if (!WaitGone("PresMng", 3000))
        Click(presets, 384, 489);
    ASSERT_TRUE(WaitGone("PresMng", 60000)) << "the presets manager stayed open";
    ASSERT_EQ(std::system(("xdotool windowraise " + editor.id).c_str()), 0);
    const hostapp::RasterImage after = GrabChanged(editor, before, bundle + "/after.png", 400, 60000, editorPreview);
    Snapshot("gui_editor_after_preset.png");
    ASSERT_EQ(before.width, after.width);
    ASSERT_EQ(before.height, after.height);
    // The editor's preview (12,118 - 428,354).
    size_t changed = 0;
    for (int y = 118; y < 354; ++y)
        for (int x = 12; x < 428; ++x) {
            const size_t i = size_t(y) * size_t(before.width) + size_t(x);
            changed += before.planes[0][i] != after.planes[0][i] || before.planes[1][i] != after.planes[1][i];
        }
    EXPECT_GT(changed, 400u) << "the preset did not reach the editor";
    EXPECT_TRUE(WaitFile(bundle + "/ckss.data", 60000)) << "the presets store was not written";
    // The editor had the focus back when the manager closed: with no window
    // manager here the press on the main window's Cancel must still reach it.
    Click(main, kCancelX, kCancelY);
    EXPECT_EQ(WaitExit(pid, 60000), 1);
    EXPECT_FALSE(std::filesystem::exists(bundle + "/out.png"));
    if (!::testing::Test::HasFailure())
        std::filesystem::remove_all(bundle);
}

namespace {

// A fresh copy of the bundle's plug-in (no stored knife, layout or window
// place), the host started on the sample in it, and the default knives cut
// into pieces; the main window, or an empty id when something failed.
Geometry CutIntoPieces(const std::string& bundle, const std::vector<std::string>& extra, pid_t& pid,
                       const std::string& input = kSample)
{
    CopyBundle(bundle);
    std::vector<std::string> args = {"--dialog", input, bundle + "/out.png"};
    args.insert(args.end(), extra.begin(), extra.end());
    pid = Spawn(args, bundle);
    const Geometry main = FindWindow("Main");
    const Geometry editor = FindWindow("Cutter");
    if (main.id.empty() || editor.id.empty())
        return Geometry{};
    if (std::system(("xdotool windowraise " + editor.id).c_str()) != 0)
        return Geometry{};
    Click(editor, 384, 611);
    return WaitGone("Cutter", 60000) ? main : Geometry{};
}

// Preview pixels that differ between a and b inside the window rectangle
// (x0, y0)-(x1, y1), and outside it.
std::pair<size_t, size_t> DiffInOut(const hostapp::RasterImage& a, const hostapp::RasterImage& b, int x0, int y0,
                                    int x1, int y1)
{
    std::pair<size_t, size_t> n{0, 0};
    if (a.width != b.width || a.height != b.height || a.planes.size() < 3 || b.planes.size() < 3)
        return {0, size_t(-1)};
    for (int y = 52; y < std::min(560, a.height); ++y)
        for (int x = 26; x < std::min(706, a.width); ++x) {
            const size_t i = size_t(y) * a.width + x;
            bool differs = false;
            for (int c = 0; c < 3; ++c)
                differs |= std::abs(a.planes[c][i] - b.planes[c][i]) > 8;
            if (differs)
                ++(x >= x0 && x < x1 && y >= y0 && y < y1 ? n.first : n.second);
        }
    return n;
}

// Grabs the settled window until at least `atLeast` preview pixels changed
// from ref within the top-left piece of the sample's 3 x 2 cut (image
// (0, 0) - (120, 120) at window point (186, 186), with its tabs reaching a
// little into its neighbours); the changes inside it and outside it.
std::pair<size_t, size_t> TopLeftPieceChange(const Geometry& main, const hostapp::RasterImage& ref,
                                             const std::string& file, size_t atLeast)
{
    std::pair<size_t, size_t> d{0, size_t(-1)};
    for (int waited = 0; waited < 15000 && d.first < atLeast; waited += 300)
        d = DiffInOut(ref, GrabSettled(main, file), 186, 186, 186 + 160, 186 + 160);
    return d;
}

}  // namespace

// In piece mode a click selects the top-left piece; the Bevel check box
// switches its bevel off, which re-renders that piece alone, and on again,
// which brings the first picture back.
TEST(HostDialogGui, BevelSwitchedOffAndOnForAClickedPiece)
{
    const std::string bundle = UniqueFolder();
    ASSERT_FALSE(bundle.empty());
    pid_t pid = -1;
    const Geometry main = CutIntoPieces(bundle, {}, pid);
    ASSERT_FALSE(main.id.empty()) << "no pieces";
    // Inside the top-left piece.
    Click(main, 186 + 50, 186 + 50);
    const hostapp::RasterImage selected = GrabSettled(main, bundle + "/selected.png");
    Snapshot("gui_piece_selected.png");
    Click(main, 756, 445);
    const std::pair<size_t, size_t> off = TopLeftPieceChange(main, selected, bundle + "/off.png", 200);
    Snapshot("gui_piece_bevel_off.png");
    EXPECT_GT(off.first, 200u) << "the piece's bevel did not go";
    EXPECT_LT(off.second, 20u) << "pieces besides the clicked one changed";
    Click(main, 756, 445);
    EXPECT_LT(SettleLike(main, selected, bundle + "/on.png", 60000), 20u) << "the bevel did not come back";
    Snapshot("gui_piece_bevel_on.png");
    CancelAndClean(main, pid, bundle);
}

// A selection loaded from a document channel through the Select menu's
// Load Selection and the channels list: a piece is taken where the channel
// is dark under it, here a square inside the top-left piece, so that piece
// shows the selection and the others do not.
TEST(HostDialogGui, ASelectionLoadedFromAChannelSelectsThePiecesUnderIt)
{
    const std::string bundle = UniqueFolder();
    ASSERT_FALSE(bundle.empty());
    const std::string mask = bundle + "/mask.png";
    ASSERT_EQ(std::system(("convert -size 360x240 xc:white -fill black -draw 'rectangle 20,20 59,59' "
                           "-define png:bit-depth=8 -define png:color-type=0 " +
                           mask)
                              .c_str()),
              0);
    pid_t pid = -1;
    const Geometry main = CutIntoPieces(bundle, {"--channel", mask + ":Mask"}, pid);
    ASSERT_FALSE(main.id.empty()) << "no pieces";
    const hostapp::RasterImage pieces = GrabSettled(main, bundle + "/pieces.png");
    // The Select menu; Load Selection is the last item but one.
    const hostapp::RasterImage noMenu = GrabScreen(bundle + "/screen.png");
    Click(main, 520, 16);
    ASSERT_TRUE(WaitScreenChange(main, 490, 40, 600, 60, noMenu, bundle + "/screen.png", 60000)) << "no menu";
    Xdo("key Up sleep 0.3 key Up sleep 0.3 key Return");
    const Geometry list = FindWindow("ChannelList", 60000);
    ASSERT_FALSE(list.id.empty()) << "the channels list did not open";
    ASSERT_EQ(std::system(("xdotool windowraise " + list.id).c_str()), 0);
    Click(list, 60, 40 + 2 + 16 * kMaskRow + 8);
    Snapshot("gui_channel_list.png");
    Click(list, 452, 405);
    ASSERT_TRUE(WaitGone("ChannelList", 60000)) << "the channels list stayed open";
    const std::pair<size_t, size_t> d = TopLeftPieceChange(main, pieces, bundle + "/loaded.png", 500);
    Snapshot("gui_channel_loaded.png");
    EXPECT_GT(d.first, 500u) << "the piece under the dark square shows no selection";
    EXPECT_LT(d.second, 20u) << "pieces outside the channel were selected";
    CancelAndClean(main, pid, bundle);
}

// The top-left piece, clicked, gets a colour overlay through the Color Over
// button and its window's OK: the window opens with the piece's own overlay
// (the engine's red at full opacity), OK switches it on for that piece
// alone, and Apply writes a picture whose top-left piece is red while the
// rest is still the photo.
TEST(HostDialogGui, AColourOverlayGivenToASelectedPieceReachesTheAppliedPicture)
{
    const std::string bundle = UniqueFolder();
    ASSERT_FALSE(bundle.empty());
    pid_t pid = -1;
    const Geometry main = CutIntoPieces(bundle, {}, pid);
    ASSERT_FALSE(main.id.empty()) << "no pieces";
    Click(main, 186 + 50, 186 + 50);
    // The Color Over button (768,518 - 860,540).
    Click(main, 814, 529);
    const Geometry fx = FindWindow("FXcovr", 30000);
    ASSERT_FALSE(fx.id.empty()) << "the colour overlay window did not open";
    ASSERT_EQ(std::system(("xdotool windowraise " + fx.id).c_str()), 0);
    Snapshot("gui_colour_overlay_window.png");
    // OK (208,396 - 284,422), once the opening render has given it back.
    ASSERT_TRUE(PressOkOnceIdle(main, fx, "FXcovr", 306, 409, bundle + "/idle.png"))
        << "the colour overlay window stayed open";
    Snapshot("gui_colour_overlay_applied.png");
    Click(main, kApplyX, kApplyY);
    ASSERT_EQ(WaitExit(pid, 30000), 0);

    hostapp::RasterImage img, sample;
    std::string err;
    ASSERT_TRUE(hostapp::ReadImageFile(bundle + "/out.png", img, err)) << err;
    ASSERT_TRUE(hostapp::ReadImageFile(kSample, sample, err)) << err;
    ASSERT_EQ(img.width, sample.width);
    ASSERT_EQ(img.height, sample.height);
    // Mean colour inside a square and its mean difference from the photo.
    auto measure = [&](int x0, int y0, int x1, int y1, double mean[3]) {
        double diff = 0;
        mean[0] = mean[1] = mean[2] = 0;
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x) {
                const size_t i = size_t(y) * size_t(img.width) + size_t(x);
                for (int c = 0; c < 3; ++c) {
                    mean[c] += img.planes[size_t(c)][i];
                    diff += std::abs(int(img.planes[size_t(c)][i]) - int(sample.planes[size_t(c)][i]));
                }
            }
        const double n = double(x1 - x0) * (y1 - y0);
        for (int c = 0; c < 3; ++c)
            mean[c] /= n;
        return diff / (3 * n);
    };
    double red[3], other[3];
    measure(30, 30, 90, 90, red);  // inside the top-left piece, clear of its bevel
    EXPECT_GT(red[0], 200.0);
    EXPECT_LT(red[1], 50.0);
    EXPECT_LT(red[2], 50.0);
    // The top-middle and bottom-right pieces are still the photo.
    EXPECT_LT(measure(150, 30, 210, 90, other), 30.0);
    EXPECT_LT(measure(270, 150, 330, 210, other), 30.0);
    if (!::testing::Test::HasFailure())
        std::filesystem::remove_all(bundle);
}

namespace {

// The two layers of the overlay test, in image pixels: a soft gradient below
// and, above it, stripes on a layer that hangs over the top-left corner and
// ends inside the picture.
constexpr int kPsdW = 360, kPsdH = 240;
constexpr int kStripesX = -20, kStripesY = -10, kStripesW = 240, kStripesH = 180;
void Gradient(int x, int y, uint8_t rgb[3])
{
    rgb[0] = uint8_t(x * 255 / kPsdW);
    rgb[1] = uint8_t(y * 255 / kPsdH);
    rgb[2] = 128;
}
void Stripes(int x, int y, uint8_t rgb[3])
{
    const bool light = ((x + y) / 12) % 2 == 0;
    rgb[0] = light ? 250 : 20;
    rgb[1] = light ? 230 : 30;
    rgb[2] = light ? 20 : 170;
}

bool WriteTwoLayerPsd(const std::string& path)
{
    CQNF_StdFile file;
    if (!file.Open(CQNF_String(path.c_str()), 2))
        return false;
    CQNF_ImagePSD psd;
    CQNF_ImagePSD::PSDMLWRITE_INITPARAMS init;
    init.width = kPsdW;
    init.height = kPsdH;
    init.mode = qncodec::ModeColour;
    if (!psd.Create(file) || !psd.Write_Init(&init))
        return false;
    // The writer reads the pixels only when it writes the file.
    std::vector<std::vector<uint8_t>> kept;
    kept.reserve(2);
    auto layer = [&](int x0, int y0, int w, int h, void (*colour)(int, int, uint8_t*), const char* name) {
        const size_t n = size_t(w) * size_t(h);
        std::vector<uint8_t>& planes = kept.emplace_back(4 * n, 255);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                uint8_t rgb[3];
                colour(x0 + x, y0 + y, rgb);
                for (int c = 0; c < 3; ++c)
                    planes[size_t(c) * n + size_t(y) * w + size_t(x)] = rgb[c];
            }
        unsigned char* p[5] = {&planes[0], &planes[n], &planes[2 * n], &planes[3 * n], nullptr};
        CQNF_ImagePSD::PSDMLWRITE_LAYERPARAMS l;
        l.width = uint16_t(w);
        l.height = uint16_t(h);
        l.x = int16_t(x0);
        l.y = int16_t(y0);
        std::strncpy(l.name, name, sizeof l.name - 1);
        return psd.Write_AddLayer(&l, p, uint32_t(w)) != 0;
    };
    const bool ok = layer(0, 0, kPsdW, kPsdH, Gradient, "Gradient") &&
                    layer(kStripesX, kStripesY, kStripesW, kStripesH, Stripes, "Stripes") && psd.WritePSD();
    psd.WriteClean();
    return file.Close() && ok;
}

// Pixels of img within (x0, y0)-(x1, y1) that are within 40 of colour(x, y)
// in each channel.
size_t Matching(const hostapp::RasterImage& img, int x0, int y0, int x1, int y1,
                void (*colour)(int, int, uint8_t*))
{
    size_t n = 0;
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x) {
            uint8_t rgb[3];
            colour(x, y, rgb);
            const size_t i = size_t(y) * size_t(img.width) + size_t(x);
            bool near = true;
            for (int c = 0; c < 3; ++c)
                near &= std::abs(img.planes[size_t(c)][i] - rgb[c]) <= 40;
            n += near;
        }
    return n;
}

}  // namespace

// On a two-layer PSD (the gradient filtered, the stripes above it), the
// clicked top-left piece gets an image overlay from the stripes layer,
// picked in the document layers list, and a stroke (the engine's three red
// pixels); Apply writes the gradient with the stripes and the red edge on
// that piece only.
TEST(HostDialogGui, ImageOverlayFromTheSecondLayerOfAPsdAndAStroke)
{
    const std::string bundle = UniqueFolder();
    ASSERT_FALSE(bundle.empty());
    const std::string psd = bundle + "/layers.psd";
    ASSERT_TRUE(WriteTwoLayerPsd(psd));
    pid_t pid = -1;
    const Geometry main = CutIntoPieces(bundle, {"--target", "0"}, pid, psd);
    ASSERT_FALSE(main.id.empty()) << "no pieces";
    Click(main, 186 + 50, 186 + 50);
    // The Image Over button opens the effect window.
    Click(main, 934, 529);
    const Geometry fx = FindWindow("FXiovr", 60000);
    ASSERT_FALSE(fx.id.empty()) << "the image overlay window did not open";
    ASSERT_EQ(std::system(("xdotool windowraise " + fx.id).c_str()), 0);
    // Its Image menu: the second item opens the layers list.
    const hostapp::RasterImage noMenu = GrabScreen(bundle + "/screen.png");
    Click(fx, 119, 198);
    ASSERT_TRUE(WaitScreenChange(fx, 87, 214, 200, 260, noMenu, bundle + "/screen.png", 60000)) << "no menu";
    Xdo("key Down sleep 0.3 key Down sleep 0.3 key Return");
    const Geometry list = FindWindow("Layers", 60000);
    ASSERT_FALSE(list.id.empty()) << "the layers list did not open";
    ASSERT_EQ(std::system(("xdotool windowraise " + list.id).c_str()), 0);
    // Rows: the composite, the stripes, the gradient.
    Click(list, 100, 40 + 2 + 16 + 8);
    Snapshot("gui_layers_list.png");
    Click(list, 454, 375);
    ASSERT_TRUE(WaitGone("Layers", 30000)) << "the layers list stayed open";
    Snapshot("gui_image_overlay_window.png");
    ASSERT_TRUE(PressOkOnceIdle(main, fx, "FXiovr", 306, 380, bundle + "/idle.png"))
        << "the image overlay window stayed open";
    // The Stroke button (768,546 - 860,568), then OK (208,472 - 284,498).
    Click(main, 814, 557);
    const Geometry stroke = FindWindow("FXstroke", 60000);
    ASSERT_FALSE(stroke.id.empty()) << "the stroke window did not open";
    ASSERT_EQ(std::system(("xdotool windowraise " + stroke.id).c_str()), 0);
    Snapshot("gui_stroke_window.png");
    ASSERT_TRUE(PressOkOnceIdle(main, stroke, "FXstroke", 306, 485, bundle + "/idle.png"))
        << "the stroke window stayed open";
    GrabSettled(main, bundle + "/overlay.png");
    Snapshot("gui_image_overlay_pieces.png");
    Click(main, kApplyX, kApplyY);
    ASSERT_EQ(WaitExit(pid, 30000), 0);
    hostapp::RasterImage out;
    std::string err;
    ASSERT_TRUE(hostapp::ReadImageFile(bundle + "/out.png", out, err)) << err;
    if (const char* dir = std::getenv("TESSOLO_SNAPSHOT_DIR"); dir && *dir)
        std::filesystem::copy_file(bundle + "/out.png", std::string(dir) + "/gui_image_overlay_stroke_out.png",
                                   std::filesystem::copy_options::overwrite_existing);
    ASSERT_EQ(out.width, kPsdW);
    ASSERT_EQ(out.height, kPsdH);
    // The middle of the top-left piece shows the stripes; the middle of the
    // bottom-right piece the gradient.
    const size_t area = 50 * 50;
    EXPECT_GT(Matching(out, 35, 35, 85, 85, Stripes), area * 9 / 10);
    EXPECT_LT(Matching(out, 35, 35, 85, 85, Gradient), area / 10);
    EXPECT_GT(Matching(out, 275, 155, 325, 205, Gradient), area * 9 / 10);
    // The red edge, shaded by the bevel over it, runs round the top-left
    // piece alone (to the right of it and below, the gradient has no red
    // without blue or green, even in a bevel's shadow).
    auto reds = [&out](int x0, int y0, int x1, int y1) {
        size_t n = 0;
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x) {
                const size_t i = size_t(y) * size_t(out.width) + size_t(x);
                n += out.planes[0][i] > 150 && out.planes[1][i] < 90 && out.planes[2][i] < 90;
            }
        return n;
    };
    EXPECT_GT(reds(0, 0, 170, 170), 400u);
    EXPECT_LT(reds(170, 0, 250, kPsdH), 20u);
    EXPECT_LT(reds(0, 170, 170, kPsdH), 20u);
    if (!::testing::Test::HasFailure())
        std::filesystem::remove_all(bundle);
}

// The razor cut switched off in the knife editor (the knives 6 pixels wide,
// anti-aliased), Cut, Apply: a replay of the descriptor Apply recorded,
// without the dialog, writes the same bytes.
TEST(HostDialogGui, KnivesWithWidthAppliedAndReplayedGiveTheSameBytes)
{
    const PluginFolder plugin;
    const std::string out = plugin.File("applied.png"), replay = plugin.File("replayed.png");
    const std::string descriptor = plugin.File("last.qnds");
    const pid_t pid = Spawn({"--dialog", kSample, out, "--descriptor", descriptor}, plugin.path);
    const Geometry main = FindWindow("Main");
    ASSERT_FALSE(main.id.empty()) << "the main window did not open";
    const Geometry editor = FindWindow("Cutter");
    ASSERT_FALSE(editor.id.empty()) << "the knife editor did not open";
    ASSERT_EQ(std::system(("xdotool windowraise " + editor.id).c_str()), 0);
    const hostapp::RasterImage start = GrabSettled(main, plugin.File("start.png"));
    ClickControl(editor, "Cutter", "Cutter_RazorCut");
    const hostapp::RasterImage razorOff = GrabChanged(main, start, plugin.File("razor_off.png"), 50, 120000);
    ASSERT_GT(PreviewDiff(start, razorOff), 50u) << "the razor cut did not go off";
    ASSERT_EQ(std::system(("xdotool windowraise " + editor.id).c_str()), 0);
    const auto [wx, wy] = Skin::Get().Centre("Cutter", "Cutter_KnifeTh", "edit");
    ASSERT_NO_FATAL_FAILURE(TypeNumber(editor, wx, wy, "6", 200, 575));
    const hostapp::RasterImage wide = GrabChanged(main, razorOff, plugin.File("wide.png"), 50, 120000);
    ASSERT_GT(PreviewDiff(razorOff, wide), 50u) << "the knives did not widen";
    Snapshot("gui_knives_6.png");
    ASSERT_EQ(std::system(("xdotool windowraise " + editor.id).c_str()), 0);
    ClickControl(editor, "Cutter", "Cutter_Cut");
    ASSERT_TRUE(WaitGone("Cutter", 60000)) << "the knife editor stayed open";
    Snapshot("gui_knives_6_pieces.png");
    Click(main, kApplyX, kApplyY);
    ASSERT_EQ(WaitExit(pid, 60000), 0);

    ASSERT_TRUE(std::filesystem::exists(descriptor)) << "no descriptor was recorded";
    ASSERT_EQ(WaitExit(Spawn({"--descriptor", descriptor, kSample, replay}, plugin.path), 60000), 0);
    hostapp::RasterImage applied, replayed;
    std::string err;
    ASSERT_TRUE(hostapp::ReadImageFile(out, applied, err)) << err;
    ASSERT_TRUE(hostapp::ReadImageFile(replay, replayed, err)) << err;
    ASSERT_EQ(applied.planes.size(), replayed.planes.size());
    ASSERT_EQ(applied.PixelCount(), replayed.PixelCount());
    size_t differ = 0;
    for (size_t p = 0; p < applied.planes.size(); ++p)
        for (size_t i = 0; i < applied.PixelCount(); ++i)
            differ += applied.planes[p][i] != replayed.planes[p][i];
    EXPECT_EQ(differ, 0u) << "bytes where the replay differs from Apply";
}
