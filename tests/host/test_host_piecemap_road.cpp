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

#include <gtest/gtest.h>

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

}  // namespace

TEST(HostPieceMap, SelectSwitchUndoRedoAndApplyGiveTheHostWhatThePreviewShowed)
{
    if (!std::filesystem::exists(kResources))
        FAIL() << "no compiled resource file in this build";
    PluginHarness h;
    plat::HeadlessPlatform hp;
    CAppRoad road;
    CApp* app = nullptr;
    std::filesystem::copy_file(kResources, h.File(CAppRoad::kResourceFile));
    road.SetPlatform(&hp);
    road.onBeforeRun = [&](CApp& a) {
        app = &a;
        g_window = &a.m_WndMain;
        a.m_WndMain.SetCutterFactory([]() -> std::unique_ptr<CMainCutter> { return std::make_unique<CutNow>(); });
    };
    h.plugin->SetInteractiveRoad(&road);

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
