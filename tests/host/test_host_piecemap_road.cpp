// The piece map on the interactive road, headless: after a Cut the user
// selects pieces, from the document's own extra channel as well, switches an
// effect, undoes and redoes, and applies; the host receives exactly the
// picture the preview showed. TESSOLO_SNAPSHOT_DIR set: the main window is
// saved as PNG along the way.
#include "host_test_support.h"
#include "window_cut.h"

#include "app/App.h"
#include "app/CutterStandIn.h"
#include "app/InteractiveRoad.h"
#include "app/Wnd_ChannelList.h"
#include "hostapp/RasterImage.h"
#include "imaging/ImageFile.h"
#include "platform/Headless.h"
#include "ui/Control.h"
#include "ui/Toolkit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

namespace {

using namespace hosttest;

const std::string kResources = std::string(TESSOLO_BINARY_DIR) + "/resource_ts31_d.qns4";
CWnd_Main* g_window = nullptr;

// The knife editor's Cut, as the editor window will do it.
class CutNow : public CCutterStandIn {
public:
    bool cut = false;
    bool WasCut() const override { return cut; }
    bool Cut(CPluginMain& plugin)
    {
        cut = CutInWindow(*g_window, plugin);
        return cut;
    }
};

void Snapshot(plat::HeadlessPlatform& hp, plat::WinId win, const char* file)
{
    const char* dir = std::getenv("TESSOLO_SNAPSHOT_DIR");
    if (!dir || !*dir)
        return;
    uint16_t w = 0, h = 0;
    const std::vector<uint32_t>* fb = hp.Framebuffer(win, w, h);
    ASSERT_NE(fb, nullptr);
    std::vector<uint8_t> rgb(size_t(w) * h * 3);
    for (size_t i = 0; i < size_t(w) * h; ++i)
        for (int c = 0; c < 3; ++c)
            rgb[size_t(c) * w * h + i] = uint8_t((*fb)[i] >> (16 - 8 * c));
    const unsigned char* planes[4] = {rgb.data(), rgb.data() + size_t(w) * h, rgb.data() + 2 * size_t(w) * h, nullptr};
    unsigned short err = 0;
    EXPECT_TRUE(qnCodecSavePNG((std::string(dir) + "/" + file).c_str(), w, h, 1, planes, nullptr, w, 72.0, "test",
                               err, false));
}

// The plug-in on the interactive road, headless, with the knife editor's
// Cut done in the main window.
struct PieceRoad {
    PluginHarness h;
    plat::HeadlessPlatform hp;
    CAppRoad road;
    CApp* app = nullptr;
    PieceRoad()
    {
        std::filesystem::copy_file(kResources, h.File(CAppRoad::kResourceFile));
        road.SetPlatform(&hp);
        road.onBeforeRun = [this](CApp& a) {
            app = &a;
            g_window = &a.m_WndMain;
            a.m_WndMain.SetCutterFactory(
                []() -> std::unique_ptr<CMainCutter> { return std::make_unique<CutNow>(); });
        };
        h.plugin->SetInteractiveRoad(&road);
    }
};

}  // namespace

TEST(HostPieceMap, SelectSwitchUndoRedoAndApplyGiveTheHostWhatThePreviewShowed)
{
    if (!std::filesystem::exists(kResources))
        FAIL() << "no compiled resource file in this build";
    PieceRoad r;
    PluginHarness& h = r.h;
    plat::HeadlessPlatform& hp = r.hp;
    CApp*& app = r.app;

    const int W = 160, H = 120;
    HostDocument doc = Document(ColorMode::RGB, W, H, false);
    // An extra channel, dark in a small square near the top-left corner.
    hostapp::HostChannel spot{"Spot", std::vector<uint8_t>(size_t(W) * H, 255)};
    for (int y = 10; y < 14; ++y)
        for (int x = 10; x < 14; ++x)
            spot.plane[size_t(y) * W + x] = 0;
    doc.channels.push_back(spot);
    StandInHost host(doc, HostSettings{});

    std::vector<uint8_t> shown;
    hp.Script([&] { hp.Activate(app->m_MainWindow->GetWindowHandle()); });
    hp.Script([&] {
        CWnd_Main& w = app->m_WndMain;
        ASSERT_TRUE(static_cast<CutNow*>(w.GetCutter())->Cut(*h.plugin));
        w.OnCutterClose();
        ASSERT_EQ(w.m_bCutMode, 0);
        ASSERT_TRUE(w.pm_IsBound());
        ASSERT_GT(w.pm_PieceCount(), 1u);
        // Every piece has the bevel: its check box says so.
        EXPECT_TRUE(w.FindControl("Main_FXBevel", qnctl::CheckBox)->GetCheck());

        // Pieces from the document's extra channel, chosen in the channels
        // dialog: only the one under the square.
        CHostChannelSource channels(*h.plugin);
        int spotRow = -1;
        const std::vector<qntCHANNELITEM> items = channels.Items();
        for (size_t i = 0; i < items.size(); ++i)
            if (items[i].text == "Spot")
                spotRow = int(i);
        ASSERT_GE(spotRow, 0);
        hp.Script([&] {
            const plat::WinId box = hp.ZOrder().back();
            ASSERT_NE(box, w.GetWindowHandle());
            hp.Activate(box);
            const plat::Rect br = hp.ContentRect(box);
            // The list's rows are 16 pixels from its top at 40; OK at the bottom right.
            hp.Click({br.left + 60, br.top + 40 + 2 + 16 * spotRow + 8});
        });
        hp.Script([&] {
            const plat::WinId box = hp.ZOrder().back();
            Snapshot(hp, box, "channellist_spot.png");
            const plat::Rect br = hp.ContentRect(box);
            hp.Click({br.left + 452, br.top + 405});
        });
        w.unpm_PreSave();
        w.pmop_LoadSelection(1);
        w.unpm_SaveState(1);
        const uint32_t corner = w.GetPieceByXY(qntPOS{12, 12});
        ASSERT_NE(corner, CPieceMap::kNone);
        EXPECT_EQ(w.SelectedCount(), 1u);
        EXPECT_TRUE(h.plugin->GetEngine().m_pPieces[corner].selected);

        // Bevel off for that piece, undone and redone.
        const std::vector<uint8_t> before = Planes(w.m_MainImage);
        w.unpm_PreSave();
        w.pmfx_SwitchFX(CPieceMap::FX_BEVEL, 0, 0);
        w.unpm_SaveState(1);
        const std::vector<uint8_t> after = Planes(w.m_MainImage);
        EXPECT_NE(after, before);
        // The controls follow the selection: bevel off, something to hide, nothing to show.
        EXPECT_FALSE(w.FindControl("Main_FXBevel", qnctl::CheckBox)->GetCheck());
        EXPECT_TRUE(w.FindControl("Main_Hide", qnctl::Button)->IsEnabled());
        EXPECT_FALSE(w.FindControl("Main_Show", qnctl::Button)->IsEnabled());
        Snapshot(hp, w.GetWindowHandle(), "main_piece_selected_nobevel.png");
        w.unpm_Restore();
        EXPECT_EQ(Planes(w.m_MainImage), before);
        w.unpm_Restore();
        EXPECT_EQ(Planes(w.m_MainImage), after);
        shown = after;

        // A rectangle over the whole preview, in preview coordinates, takes
        // every piece.
        const qntRECT_s pr = w.m_rcPreview;
        w.pmop_Sel_SelectRectLocal(qntRECT_s{0, 0, pr.right - pr.left, pr.bottom - pr.top}, 0, 0, 1);
        EXPECT_EQ(w.SelectedCount(), w.pm_PieceCount());
        // A lasso around the square, in preview points: its piece alone.
        const qntPOS o = w.GetPreview().GetImageCoorsByPreviewCoorsNoOverflowCheck(qntPOS{0, 0});
        ASSERT_EQ(w.GetPreview().GetZoom(), 4);  // one image pixel a preview pixel
        auto pack = [&](int32_t x, int32_t y) { return (uint32_t(x - o.x) << 16) | uint32_t(y - o.y); };
        w.pmop_Sel_SelectFreeRgnLocal(std::vector<uint32_t>{pack(10, 10), pack(14, 10), pack(14, 14), pack(10, 14)}, 0,
                                      0, 1);
        EXPECT_EQ(w.SelectedCount(), 1u);
        EXPECT_TRUE(w.IsPieceSelected(corner));
        // The outline of a rectangle drag: its four sides, nothing else.
        w.i_pmop_PrepareSelLayer();
        w.m_bPMRectDrag = 1;
        w.m_PMDragStart = qntPOS{pr.left + 10, pr.top + 10};
        w.i_pmop_RedrawDragSelection(short(pr.left + 30), short(pr.top + 20));
        const CQNF_Layer& outline = w.m_SelKnivesLayer;
        size_t drawn = 0;
        for (size_t i = 0; i < size_t(outline.GetImageWidth()) * outline.GetImageHeight(); ++i)
            drawn += outline.GetPlane(3)[i] != 0;
        EXPECT_EQ(drawn, size_t(2 * 21 + 2 * 11 - 4));
        // Queued only now: steps run in the order they were added.
        hp.Script([&hp, app] {
            CWnd_Main& main = app->m_WndMain;
            CQNF_Control* c = main.FindControl("Main_Apply", qnctl::Button);
            ASSERT_NE(c, nullptr);
            const plat::Rect wr = hp.ContentRect(main.GetWindowHandle());
            const qntRECT_s r = c->GetRenderRect();
            hp.Click({wr.left + (r.left + r.right) / 2, wr.top + (r.top + r.bottom) / 2});
        });
    });
    ASSERT_EQ(h.Run(host, StandInHost::Sequence::Dialog), 0);
    EXPECT_TRUE(host.Violations().empty());
    EXPECT_EQ(hp.ScriptLeft(), 0u);
    h.plugin->SetInteractiveRoad(nullptr);

    // Every opaque pixel of the preview's picture is what the host holds.
    ASSERT_EQ(shown.size(), size_t(W) * H * 4);
    const RasterImage& out = host.Document().Target().pixels;
    size_t compared = 0;
    for (size_t i = 0; i < size_t(W) * H; ++i) {
        if (shown[3 * size_t(W) * H + i] != 255)
            continue;
        ++compared;
        for (size_t c = 0; c < 3; ++c)
            ASSERT_EQ(out.planes[c][i], shown[c * size_t(W) * H + i]) << i << " plane " << c;
    }
    EXPECT_GT(compared, size_t(W) * H / 2);
}

TEST(HostPieceMap, ChannelPreviewIsBlackExactlyWhereOkSelects)
{
    if (!std::filesystem::exists(kResources))
        FAIL() << "no compiled resource file in this build";
    PieceRoad r;
    PluginHarness& h = r.h;
    plat::HeadlessPlatform& hp = r.hp;
    CApp*& app = r.app;

    // A transparent layer: Red dark in the left half, a transparent hole in
    // the middle (the layer's edges opaque, so the filter rectangle is the
    // whole canvas), and a channel black above the middle.
    const int W = 160, H = 120;
    HostDocument doc = Document(ColorMode::RGB, W, H, true);
    RasterImage& px = doc.layers[0].pixels;
    hostapp::HostChannel band{"TopBand", std::vector<uint8_t>(size_t(W) * H, 255)};
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            const size_t i = size_t(y) * W + x;
            px.planes[0][i] = x < W / 2 ? 10 : 245;
            px.planes.back()[i] = x >= 56 && x < 104 && y >= 36 && y < 84 ? 0 : 255;
            band.plane[i] = y < H / 2 ? 0 : 255;
        }
    doc.channels.push_back(band);
    StandInHost host(doc, HostSettings{});
    // Where each channel counts as inside, before Invert.
    const struct {
        const char* item;
        bool (*inside)(int x, int y);
    } kChannels[] = {
        {"TopBand", [](int, int y) { return y < 60; }},
        {"Red", [](int x, int) { return x < 80; }},
        {"Transparency", [](int x, int y) { return x >= 56 && x < 104 && y >= 36 && y < 84; }},
    };

    // The centre of a control of the dialog, on the screen.
    auto centre = [&hp](CWnd_ChannelList& d, const char* name) {
        const plat::Rect br = hp.ContentRect(d.GetWindowHandle());
        for (unsigned long i = 0; i < d.GetControlCount(); ++i)
            if (std::string(d.GetControl(i)->GetName()) == name) {
                const qntRECT_s r = d.GetControl(i)->GetRenderRect();
                return plat::Point{br.left + (r.left + r.right) / 2, br.top + (r.top + r.bottom) / 2};
            }
        ADD_FAILURE() << "no " << name;
        return plat::Point{0, 0};
    };
    size_t checked = 0;
    hp.Script([&] { hp.Activate(app->m_MainWindow->GetWindowHandle()); });
    hp.Script([&] {
        CWnd_Main& w = app->m_WndMain;
        ASSERT_TRUE(static_cast<CutNow*>(w.GetCutter())->Cut(*h.plugin));
        w.OnCutterClose();
        ASSERT_TRUE(w.pm_IsBound());
        CHostChannelSource channels(*h.plugin);
        const std::vector<qntCHANNELITEM> items = channels.Items();
        for (const auto& ch : kChannels)
            for (const bool invert : {false, true}) {
                SCOPED_TRACE(std::string(ch.item) + (invert ? " inverted" : ""));
                int row = -1;
                for (size_t i = 0; i < items.size(); ++i)
                    if (items[i].text.find(ch.item) != std::string::npos)
                        row = int(i);
                ASSERT_GE(row, 0);
                // Image points whose preview pixel is dark, as the user sees it.
                std::vector<std::pair<int, int>> dark, light;
                hp.Script([&] {
                    const plat::WinId box = hp.ZOrder().back();
                    auto* d = dynamic_cast<CWnd_ChannelList*>(qnui::Toolkit::Get().Find(box));
                    ASSERT_NE(d, nullptr);
                    hp.Activate(box);
                    const plat::Point list = centre(*d, "ChannelList_List");
                    hp.Click({list.x, hp.ContentRect(box).top + 40 + 2 + 16 * row + 8});
                    if (invert)
                        hp.Click(centre(*d, "ChannelList_Invert"));
                });
                hp.Script([&] {
                    const plat::WinId box = hp.ZOrder().back();
                    auto* d = dynamic_cast<CWnd_ChannelList*>(qnui::Toolkit::Get().Find(box));
                    ASSERT_NE(d, nullptr);
                    ASSERT_EQ(d->m_bInvert, invert ? 1 : 0);
                    const std::string shot =
                        std::string("channellist_") + ch.item + (invert ? "_inverted" : "") + ".png";
                    Snapshot(hp, box, shot.c_str());
                    // The picture's extent inside the preview (its margins are
                    // transparent), and each of its pixels back to the image.
                    const CQNF_Layer& l = d->GetPreviewLayer();
                    const int pw = l.GetImageWidth(), ph = l.GetImageHeight();
                    int x0 = pw, y0 = ph, x1 = 0, y1 = 0;
                    for (int y = 0; y < ph; ++y)
                        for (int x = 0; x < pw; ++x)
                            if (l.GetPlane(3)[size_t(y) * pw + x] == 255) {
                                x0 = std::min(x0, x), x1 = std::max(x1, x + 1);
                                y0 = std::min(y0, y), y1 = std::max(y1, y + 1);
                            }
                    ASSERT_LT(x0, x1);
                    ASSERT_EQ(d->GetChannelWidth(), uint32_t(W));
                    ASSERT_EQ(d->GetChannelHeight(), uint32_t(H));
                    const qntRECT_s pr = l.GetRect();
                    for (int y = y0; y < y1; ++y)
                        for (int x = x0; x < x1; ++x) {
                            const int ix = (x - x0) * W / (x1 - x0), iy = (y - y0) * H / (y1 - y0);
                            const uint8_t grey = uint8_t(hp.Pixel(box, pr.left + x, pr.top + y) & 0xFF);
                            (grey < 128 ? dark : light).emplace_back(ix, iy);
                        }
                    hp.Click(centre(*d, "ChannelList_Ok"));
                });
                w.pmop_LoadSelection(1);
                // A dark pixel is inside, so its piece is selected; a light one
                // is not, and lies in a selected piece only when that piece
                // reaches into the inside elsewhere. Points within two pixels
                // of the edge of the inside may round either way.
                auto settled = [&](int x, int y, bool& in) {
                    in = ch.inside(x, y) != invert;
                    for (int dy = -2; dy <= 2; ++dy)
                        for (int dx = -2; dx <= 2; ++dx) {
                            const int nx = std::clamp(x + dx, 0, W - 1), ny = std::clamp(y + dy, 0, H - 1);
                            if ((ch.inside(nx, ny) != invert) != in)
                                return false;
                        }
                    return true;
                };
                // Counted, with the first point of each kind of fault.
                size_t darkInside = 0, lightOutside = 0, darkOutside = 0, lightInside = 0, darkUnselected = 0;
                std::string first;
                auto note = [&first](const char* what, int x, int y) {
                    if (first.empty())
                        first = std::string(what) + " at " + std::to_string(x) + "," + std::to_string(y);
                };
                for (const auto& [x, y] : dark) {
                    bool in = false;
                    if (!settled(x, y, in))
                        continue;
                    if (in) {
                        ++darkInside;
                    } else {
                        ++darkOutside;
                        note("dark outside", x, y);
                    }
                    const uint32_t piece = w.GetPieceByXY(qntPOS{x, y});
                    if (piece != CPieceMap::kNone && !w.IsPieceSelected(piece)) {
                        ++darkUnselected;
                        note("dark over an unselected piece", x, y);
                    }
                }
                for (const auto& [x, y] : light) {
                    bool in = false;
                    if (!settled(x, y, in))
                        continue;
                    if (in) {
                        ++lightInside;
                        note("light inside", x, y);
                    } else {
                        ++lightOutside;
                    }
                }
                EXPECT_EQ(darkOutside + lightInside + darkUnselected, 0u) << first;
                EXPECT_GT(darkInside, 0u);
                EXPECT_GT(lightOutside, 0u);
                checked += darkInside;
                if (::testing::Test::HasFatalFailure())
                    return;
            }
        hp.Script([&hp, app] {
            CWnd_Main& main = app->m_WndMain;
            CQNF_Control* c = main.FindControl("Main_Cancel", qnctl::Button);
            ASSERT_NE(c, nullptr);
            const plat::Rect wr = hp.ContentRect(main.GetWindowHandle());
            const qntRECT_s r = c->GetRenderRect();
            hp.Click({wr.left + (r.left + r.right) / 2, wr.top + (r.top + r.bottom) / 2});
        });
    });
    h.Run(host, StandInHost::Sequence::Dialog);
    EXPECT_EQ(hp.ScriptLeft(), 0u);
    h.plugin->SetInteractiveRoad(nullptr);
    EXPECT_GT(checked, 0u);
}
