// The interactive road through the real programs on a real X display (run
// under Xvfb), driven with xdotool: tessolo-host --dialog opens the main
// window over a photo; Cancel exits with the cancel code and writes nothing;
// Apply Lines writes the knife lines; --about opens the About window and a
// click closes it; the message box answers No; a node dragged in the knife
// editor changes every knife and Cut gives pieces; in piece mode a clicked
// piece's bevel goes off and on, and a selection comes from a document
// channel. With TESSOLO_SNAPSHOT_DIR
// set, screenshots are kept there.
#include "gui_drive.h"

#include "app/Wnd_MessageBox.h"
#include "cutter/CutterEditor.h"
#include "platform/Backend.h"
#include "ui/App.h"
#include "ui/Toolkit.h"

namespace {

using namespace guidrive;

// The centres of the main window's buttons (from its skin).
constexpr int kCancelX = 797, kCancelY = 659, kApplyX = 929, kApplyY = 659;
// The row of the --channel given in the channels list (after Red, Green, Blue).
constexpr int kMaskRow = 3;

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

// Cancel ends the host with the cancel code; the folder goes, unless a
// failure left its pictures for a look.
void CancelAndClean(const Geometry& main, pid_t pid, const std::string& folder)
{
    Click(main, kCancelX, kCancelY);
    EXPECT_EQ(WaitExit(pid, 20000), 1);
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
    const pid_t pid = Spawn({"--dialog", kSample, dir + "/out.png"});
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
    ASSERT_TRUE(WaitScreenChange(g, 430, 40, 620, 60, noMenu, dir + "/screen.png", 10000)) << "no menu came";
    Snapshot("gui_main_menu.png");
    const hostapp::RasterImage withMenu = GrabScreen(dir + "/menu.png");
    Xdo("key Down sleep 0.3 key Return");
    EXPECT_TRUE(WaitScreenChange(g, 610, 100, 700, 200, withMenu, dir + "/screen.png", 10000)) << "the menu stayed";
    EXPECT_LT(SettleLike(g, start, dir + "/undone.png"), 20u) << "Undo from the menu did not restore the knives";
    // Ctrl+Z toggles the step back.
    Xdo("mousemove " + at(200, 200) + " sleep 0.2 key ctrl+z");
    EXPECT_LT(SettleLike(g, dragged, dir + "/redone.png"), 20u) << "Ctrl+Z did not bring the drag back";
    const hostapp::RasterImage& redone = dragged;
    // Save through the real dialog, typing a full path as its name.
    Xdo("key ctrl+s");
    const Geometry save = FindWindow("Save Document...", 15000);
    ASSERT_FALSE(save.id.empty()) << "the save dialog did not open";
    Snapshot("gui_save_dialog.png");
    ConfirmPath("Save Document...", "key ctrl+a type --delay 20 '" + dir + "/layout.qntd'");
    for (int i = 0; i < 40 && !std::filesystem::exists(dir + "/layout.qntd"); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ASSERT_TRUE(std::filesystem::exists(dir + "/layout.qntd"));
    // Flip every knife (Ctrl+F), then open the saved layout again.
    Xdo("mousemove " + at(200, 200) + " sleep 0.2 key ctrl+f");
    const hostapp::RasterImage flipped = GrabSettled(g, dir + "/flipped.png");
    EXPECT_GT(PreviewDiff(redone, flipped), 100u) << "Ctrl+F flipped nothing";
    Xdo("key ctrl+l");
    const Geometry open = FindWindow("Load Document...", 15000);
    ASSERT_FALSE(open.id.empty()) << "the open dialog did not open";
    // The location line first (typing into the file list would search it).
    ConfirmPath("Load Document...", "key ctrl+l sleep 0.5 key ctrl+a type --delay 20 '" + dir + "/layout.qntd'");
    EXPECT_LT(SettleLike(g, redone, dir + "/reopened.png"), 20u) << "the saved layout did not come back";
    Snapshot("gui_reopened.png");
    CancelAndClean(g, pid, dir);
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
    // Four rows and five columns of pieces.
    TypeNumber(editor, 344, 434, "4");
    TypeNumber(editor, 344, 462, "5");
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    Snapshot("gui_editor_grid.png");
    const hostapp::RasterImage before = Grab(main, bundle + "/before.png");
    ASSERT_GE(before.planes.size(), 3u);

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
    const hostapp::RasterImage after = Grab(main, bundle + "/after.png");
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
    std::this_thread::sleep_for(std::chrono::milliseconds(800));
    const hostapp::RasterImage before = Grab(editor, bundle + "/before.png");
    ASSERT_GE(before.planes.size(), 3u);
    Snapshot("gui_editor_before_preset.png");
    // Presets (the button at 12,85 - 96,109 of the editor).
    Click(editor, 54, 97);
    const Geometry presets = FindWindow("PresMng", 15000);
    ASSERT_FALSE(presets.id.empty()) << "the presets manager did not open";
    Snapshot("gui_presets_manager.png");
    // The fourth icon (320,68 - 360,108), double-clicked.
    Xdo("mousemove " + std::to_string(presets.x + 340) + " " + std::to_string(presets.y + 88) +
        " sleep 0.3 click --repeat 2 --delay 80 1");
    // Done, when the double click did not close it.
    if (!WaitGone("PresMng", 3000))
        Click(presets, 320, 489);
    ASSERT_TRUE(WaitGone("PresMng", 10000)) << "the presets manager stayed open";
    ASSERT_EQ(std::system(("xdotool windowraise " + editor.id).c_str()), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    Snapshot("gui_editor_after_preset.png");
    const hostapp::RasterImage after = Grab(editor, bundle + "/after.png");
    ASSERT_EQ(before.width, after.width);
    ASSERT_EQ(before.height, after.height);
    // The editor's preview (12,118 - 380,354).
    size_t changed = 0;
    for (int y = 118; y < 354; ++y)
        for (int x = 12; x < 380; ++x) {
            const size_t i = size_t(y) * size_t(before.width) + size_t(x);
            changed += before.planes[0][i] != after.planes[0][i] || before.planes[1][i] != after.planes[1][i];
        }
    EXPECT_GT(changed, 400u) << "the preset did not reach the editor";
    EXPECT_TRUE(std::filesystem::exists(bundle + "/ckss.data"));
    // The editor had the focus back when the manager closed: with no window
    // manager here the press on the main window's Cancel must still reach it.
    Click(main, kCancelX, kCancelY);
    EXPECT_EQ(WaitExit(pid, 20000), 1);
    EXPECT_FALSE(std::filesystem::exists(bundle + "/out.png"));
    if (!::testing::Test::HasFailure())
        std::filesystem::remove_all(bundle);
}

namespace {

// A fresh copy of the bundle's plug-in (no stored knife, layout or window
// place), the host started on the sample in it, and the default knives cut
// into pieces; the main window, or an empty id when something failed.
Geometry CutIntoPieces(const std::string& bundle, const std::vector<std::string>& extra, pid_t& pid)
{
    CopyBundle(bundle);
    std::vector<std::string> args = {"--dialog", kSample, bundle + "/out.png"};
    args.insert(args.end(), extra.begin(), extra.end());
    pid = Spawn(args, bundle);
    const Geometry main = FindWindow("Main");
    const Geometry editor = FindWindow("Cutter");
    if (main.id.empty() || editor.id.empty())
        return Geometry{};
    if (std::system(("xdotool windowraise " + editor.id).c_str()) != 0)
        return Geometry{};
    Click(editor, 336, 611);
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
    EXPECT_LT(SettleLike(main, selected, bundle + "/on.png", 15000), 20u) << "the bevel did not come back";
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
    ASSERT_TRUE(WaitScreenChange(main, 490, 40, 600, 60, noMenu, bundle + "/screen.png", 10000)) << "no menu";
    Xdo("key Up sleep 0.3 key Up sleep 0.3 key Return");
    const Geometry list = FindWindow("ChannelList", 15000);
    ASSERT_FALSE(list.id.empty()) << "the channels list did not open";
    ASSERT_EQ(std::system(("xdotool windowraise " + list.id).c_str()), 0);
    Click(list, 60, 40 + 2 + 16 * kMaskRow + 8);
    Snapshot("gui_channel_list.png");
    Click(list, 388, 395);
    ASSERT_TRUE(WaitGone("ChannelList", 10000)) << "the channels list stayed open";
    const std::pair<size_t, size_t> d = TopLeftPieceChange(main, pieces, bundle + "/loaded.png", 500);
    Snapshot("gui_channel_loaded.png");
    EXPECT_GT(d.first, 500u) << "the piece under the dark square shows no selection";
    EXPECT_LT(d.second, 20u) << "pieces outside the channel were selected";
    CancelAndClean(main, pid, bundle);
}
