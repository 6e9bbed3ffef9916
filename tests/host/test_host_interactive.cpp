// The interactive road inside the stand-in host, headless: About, the main
// window's Cancel and Apply in every image mode, the on-load zoom, and the
// window position. With TESSOLO_SNAPSHOT_DIR set, the windows are also saved
// there as PNG pictures.
#include "host_test_support.h"
#include "road_run.h"

#include "app/App.h"
#include "app/CutterStandIn.h"
#include "app/StatusTips.h"
#include "app/InteractiveRoad.h"
#include "app/Wnd_Main.h"
#include "core/RandomSource.h"
#include "hostapp/HostDescriptor.h"
#include "hostapp/RasterImage.h"
#include "platform/Headless.h"
#include "ui/Control.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>

using namespace hosttest;

TEST(HostInteractive, AboutWithoutTheResourceFileShowsAMessageAndNoWindow)
{
    RoadRun r(false);
    StandInHost host(Document(ColorMode::RGB, 16, 16, false), HostSettings{});
    EXPECT_EQ(r.h.Run(host, StandInHost::Sequence::About), userCanceledErr);
    ASSERT_EQ(r.hp.alerts.size(), 1u);
    EXPECT_EQ(r.hp.alerts[0].title, "Quorvin Tessolo 3.1 Error");
    EXPECT_EQ(r.hp.alerts[0].text.rfind("Cannot load the resource file.", 0), 0u);
    EXPECT_FALSE(r.ran);
    EXPECT_TRUE(r.hp.ZOrder().empty());
    // The interactive Start says the same and leaves the image alone.
    StandInHost start(Document(ColorMode::RGB, 16, 16, false), HostSettings{});
    const auto before = start.Document().Target().pixels.planes;
    EXPECT_EQ(r.h.Run(start, StandInHost::Sequence::Dialog), userCanceledErr);
    EXPECT_EQ(r.hp.alerts.size(), 2u);
    EXPECT_EQ(start.Document().Target().pixels.planes, before);
}

TEST(HostInteractive, AboutOpensAndAClickClosesIt)
{
    if (!HasResources())
        FAIL() << "no compiled resource file in this build";
    RoadRun r;
    r.hp.Script([&] { r.hp.Activate(r.app->m_MainWindow->GetWindowHandle()); });
    r.hp.Script([&] {
        r.Snapshot("about.png");
        const plat::Rect wr = r.hp.ContentRect(r.app->m_MainWindow->GetWindowHandle());
        r.hp.Click({wr.left + 40, wr.top + 120});
    });
    StandInHost host(Document(ColorMode::RGB, 16, 16, false), HostSettings{});
    EXPECT_EQ(r.h.Run(host, StandInHost::Sequence::About), 0);
    EXPECT_TRUE(r.ran);
    EXPECT_EQ(r.hp.ScriptLeft(), 0u);
    EXPECT_TRUE(r.hp.ZOrder().empty());
}

TEST(HostInteractive, CancelWritesNothingInEveryMode)
{
    if (!HasResources())
        FAIL() << "no compiled resource file in this build";
    for (ColorMode mode : {ColorMode::Gray, ColorMode::RGB, ColorMode::CMYK}) {
        RoadRun r;
        StandInHost host(Document(mode, 700, 200, false), HostSettings{});
        const auto before = host.Document().Target().pixels.planes;
        r.hp.Script([&] {
            // A picture twice as wide as the preview opens at half size.
            EXPECT_EQ(r.app->m_WndMain.GetPreview().GetZoom(), 3);
            EXPECT_EQ(r.app->m_WndMain.m_bCutMode, 1);
        });
        r.ClickMain("Main_Cancel", qnctl::Button);
        EXPECT_EQ(r.h.Run(host, StandInHost::Sequence::Dialog), userCanceledErr);
        EXPECT_EQ(r.hp.ScriptLeft(), 0u);
        EXPECT_EQ(host.Document().Target().pixels.planes, before);
        for (const auto& req : host.Requests())
            EXPECT_NE(req.kind, 'o');
        // The window's place is kept for the next run.
        const qntPOS pos = r.h.plugin->WindowPosFromConf("Main", "ROOT", qnNullSize, 0);
        EXPECT_NE(pos.x, -32000);
        EXPECT_TRUE(host.Violations().empty()) << host.Violations().front();
    }
}

TEST(HostInteractive, ApplySaysWhenTheSettingsCannotBeKept)
{
    if (!HasResources())
        FAIL() << "no compiled resource file in this build";
    // Kept and not kept: a folder where "last.data" should be cannot be
    // replaced by the settings, whoever runs the test.
    for (const bool blocked : {false, true}) {
        SCOPED_TRACE(blocked ? "blocked" : "writable");
        RoadRun r;
        if (blocked) {
            ASSERT_TRUE(std::filesystem::create_directory(r.h.File("last.data")));
        }
        StandInHost host(Document(ColorMode::RGB, 60, 40, false), HostSettings{});
        const auto before = host.Document().Target().pixels.planes;
        r.ClickMain("Main_ApplyLM", qnctl::Button);
        ASSERT_EQ(r.h.Run(host, StandInHost::Sequence::Dialog), 0) << "the picture is applied all the same";
        EXPECT_NE(host.Document().Target().pixels.planes, before);
        EXPECT_EQ(std::filesystem::is_regular_file(r.h.File("last.data")), !blocked);
        ASSERT_EQ(r.hp.alerts.size(), blocked ? 1u : 0u);
        if (blocked) {
            EXPECT_NE(r.hp.alerts[0].text.find("settings could not be kept"), std::string::npos)
                << r.hp.alerts[0].text;
        }
    }
}

namespace {

// Settings no descriptor holds: the largest grid, its knots moved and its
// knives' nodes mutated at random, drawn as knife lines.
std::vector<uint8_t> TooLargeForADescriptor()
{
    CWindowlessCutter cutter;
    cutter.mutS = cutter.mutH = cutter.mutU = 0.3f;
    CQNF_SeededRandom random(7);
    CWnd_Main model;
    model.SetImageSize(1000, 1000);
    model.SetCutter(&cutter);
    model.SetRandomSource(&random);
    EXPECT_TRUE(model.spl_SplitEvenParts(101, 101, 1, 1));
    model.spl_DoReFillKnivesFromCutter(0, cutter.mutS, cutter.mutH, cutter.mutU, 0);
    model.op_SetSelToAllKnives(0, 0, 1, 1, 1);
    model.m_fRndKnotsValue = 0.1f;
    model.OnUpdateKnotRandomize(0.1f);
    model.m_bCutMode = 1;
    CQNF_Mem block;
    uint32_t length = 0;
    EXPECT_TRUE(model.settings_SaveCurLayoutAndCellSettingsToMem(&block, length));
    return std::vector<uint8_t>(block.GetPtr(), block.GetPtr() + length);
}

}  // namespace

// Settings too large for the host's descriptor leave it without any: Apply
// says so then, and the descriptor left never replays another picture (the
// host refuses it; the plug-in given it replays the last settings, Apply's).
TEST(HostInteractive, ApplySaysWhenTheDescriptorCannotHoldTheSettings)
{
    if (!HasResources())
        FAIL() << "no compiled resource file in this build";
    RoadRun r;
    const std::vector<uint8_t> settings = TooLargeForADescriptor();
    {
        std::ofstream out(r.h.File("last.data"), std::ios::binary);
        out.write(reinterpret_cast<const char*>(settings.data()), std::streamsize(settings.size()));
    }
    StandInHost host(Document(ColorMode::RGB, 240, 160, false), HostSettings{});
    const auto before = host.Document().Target().pixels.planes;
    r.ClickMain("Main_ApplyLM", qnctl::Button);
    ASSERT_EQ(r.h.Run(host, StandInHost::Sequence::Dialog), 0);
    const auto applied = host.Document().Target().pixels.planes;
    EXPECT_NE(applied, before);
    ASSERT_EQ(r.hp.alerts.size(), 1u);
    const std::string& said = r.hp.alerts[0].text;
    for (const char* part : {"descriptor holds no settings", "too large for a descriptor", "replay of it is refused",
                             "last.data", "The picture is applied."})
        EXPECT_NE(said.find(part), std::string::npos) << part << " in: " << said;

    hostapp::HostDescriptor left;
    std::string err;
    ASSERT_TRUE(hostapp::HostDescriptor::Parse(host.DescriptorBytes().data(), host.DescriptorBytes().size(), left, err))
        << err;
    EXPECT_TRUE(left.items.empty());
    StandInHost replay(Document(ColorMode::RGB, 240, 160, false), HostSettings{});
    replay.SetDescriptor(host.DescriptorBytes());
    ASSERT_EQ(r.h.Run(replay, StandInHost::Sequence::Replay), 0);
    EXPECT_TRUE(replay.Document().Target().pixels.planes == applied);
}

TEST(HostInteractive, ApplyInCutModeDrawsTheKnifeLinesInEveryMode)
{
    if (!HasResources())
        FAIL() << "no compiled resource file in this build";
    for (ColorMode mode : {ColorMode::Gray, ColorMode::RGB, ColorMode::CMYK}) {
        RoadRun r;
        StandInHost host(Document(mode, 120, 90, false), HostSettings{});
        if (mode == ColorMode::RGB)
            r.hp.Script([&] { r.Snapshot("main_cut_mode.png"); });
        r.ClickMain("Main_ApplyLM", qnctl::Button);
        ASSERT_EQ(r.h.Run(host, StandInHost::Sequence::Dialog), 0);
        // Knife lines in the foreground (black) on the background (white).
        const RasterImage& out = host.Document().Target().pixels;
        size_t white = 0, dark = 0;
        const size_t n = out.PixelCount();
        for (size_t i = 0; i < n; ++i) {
            int light = 0;
            if (mode == ColorMode::CMYK) {
                const uint8_t cmyk[4] = {out.planes[0][i], out.planes[1][i], out.planes[2][i], out.planes[3][i]};
                uint8_t rgb[3];
                hostapp::RGBFromCMYK(cmyk, rgb);
                light = (rgb[0] + rgb[1] + rgb[2]) / 3;
            } else {
                int sum = 0;
                for (int c = 0; c < hostapp::ColorPlanes(mode); ++c)
                    sum += out.planes[size_t(c)][i];
                light = sum / hostapp::ColorPlanes(mode);
            }
            white += light > 250;
            dark += light < 60;
        }
        EXPECT_GT(white, n / 2) << int(mode);
        EXPECT_GT(dark, 0u) << int(mode);
        EXPECT_TRUE(std::filesystem::exists(r.h.File("last.data")));
        EXPECT_TRUE(host.Violations().empty()) << host.Violations().front();
    }
}

namespace {

// A knife editor whose Cut splits the window's source image with the
// engine, as the editor window's Cut will.
CWnd_Main* g_main = nullptr;

class CuttingEditor : public CCutterStandIn {
public:
    bool cut = false;
    bool WasCut() const override { return cut; }
    bool Cut(CPluginMain& plugin)
    {
        CTessolo& engine = plugin.GetEngine();
        int32_t w = 0, h = 0;
        const uint8_t* alpha = plugin.GetCompositeAlpha(w, h);
        if (!g_main->engine_PutLayoutToPuzzleEngine(&engine) || !engine.FreeSpliting())
            return false;
        uint8_t* planes[3] = {g_main->m_SourceImage.GetPlane(0), g_main->m_SourceImage.GetPlane(1),
                              g_main->m_SourceImage.GetPlane(2)};
        cut = engine.SplitCells(w, h, const_cast<uint8_t*>(alpha), uint32_t(w), planes, uint32_t(w), 3, 0, 100, 1);
        return cut;
    }
};

std::unique_ptr<CMainCutter> MakeCuttingEditor() { return std::make_unique<CuttingEditor>(); }

// The run's main window gets its knife editors from make.
void UseEditor(RoadRun& r, std::unique_ptr<CMainCutter> (*make)())
{
    r.road.onBeforeRun = [&r, make](CApp& a) {
        r.app = &a;
        g_main = &a.m_WndMain;
        a.m_WndMain.SetCutterFactory(make);
    };
}

}  // namespace

TEST(HostInteractive, ApplyOfPiecesTakesTheWindowImageOnlyOnRGB)
{
    if (!HasResources())
        FAIL() << "no compiled resource file in this build";
    for (ColorMode mode : {ColorMode::RGB, ColorMode::Gray, ColorMode::CMYK}) {
        RoadRun r;
        UseEditor(r, &MakeCuttingEditor);
        StandInHost host(Document(mode, 90, 60, false), HostSettings{});
        const auto before = host.Document().Target().pixels.planes;
        r.hp.Script([&] { r.hp.Activate(r.app->m_MainWindow->GetWindowHandle()); });
        r.hp.Script([&] {
            CWnd_Main& w = r.app->m_WndMain;
            auto* editor = static_cast<CuttingEditor*>(w.GetCutter());
            ASSERT_TRUE(editor->Cut(*r.h.plugin));
            w.OnCutterClose();
            ASSERT_EQ(w.m_bCutMode, 0);
            ASSERT_EQ(w.m_MainImage.GetImageWidth(), 90);
            // A mark only the window's own image carries.
            w.m_MainImage.Set(qntRGBA8{255, 0, 0, 255}, 255, qntRECT_s{4, 4, 14, 14});
        });
        r.ClickMain("Main_Apply", qnctl::Button);
        ASSERT_EQ(r.h.Run(host, StandInHost::Sequence::Dialog), 0) << int(mode);
        EXPECT_EQ(r.hp.ScriptLeft(), 0u);
        const RasterImage& out = host.Document().Target().pixels;
        const size_t at = 8 * 90 + 8;
        if (mode == ColorMode::RGB) {
            EXPECT_EQ(out.planes[0][at], 255);
            EXPECT_EQ(out.planes[1][at], 0);
        } else {
            // Rendered again from the host's planes: the picture, no mark.
            for (size_t p = 0; p < out.planes.size(); ++p)
                EXPECT_EQ(out.planes[p][at], before[p][at]) << int(mode) << " plane " << p;
        }
        EXPECT_TRUE(host.Violations().empty()) << host.Violations().front();
    }
}

namespace {

class ChangedLayoutEditor : public CuttingEditor {
public:
    bool LayoutChanged() const override { return true; }
};

std::unique_ptr<CMainCutter> MakeChangedLayoutEditor() { return std::make_unique<ChangedLayoutEditor>(); }

}  // namespace

TEST(HostInteractive, AChangedLayoutAsksInTheMessageBox)
{
    if (!HasResources())
        FAIL() << "no compiled resource file in this build";
    RoadRun r;
    UseEditor(r, &MakeChangedLayoutEditor);
    StandInHost host(Document(ColorMode::RGB, 200, 150, false), HostSettings{});
    bool asked = false;
    r.hp.Script([&] { r.hp.Activate(r.app->m_MainWindow->GetWindowHandle()); });
    r.hp.Script([&] {
        CWnd_Main& w = r.app->m_WndMain;
        ASSERT_TRUE(static_cast<CuttingEditor*>(w.GetCutter())->Cut(*r.h.plugin));
        // The question's box runs its own loop inside the closing of the editor.
        r.hp.Script([&] {
            const plat::WinId box = r.hp.ZOrder().back();
            ASSERT_NE(box, w.GetWindowHandle());
            asked = true;
            r.Snapshot("message_box.png");
            r.hp.Activate(box);
            const plat::Rect br = r.hp.ContentRect(box);
            r.hp.Click({br.left + 355, br.top + 141});  // NO
        });
        w.OnCutterClose();
        EXPECT_EQ(w.m_bCutMode, 0);
        // Scripted only now: steps run in the order they were added.
        r.hp.Script([&] { r.Snapshot("main_piece_mode.png"); });
        r.ClickMain("Main_Cancel", qnctl::Button);
    });
    EXPECT_EQ(r.h.Run(host, StandInHost::Sequence::Dialog), userCanceledErr);
    EXPECT_TRUE(asked);
    EXPECT_EQ(r.hp.ScriptLeft(), 0u);
}

TEST(HostInteractive, TheRandomCaptionShowsOnlyWithTheKnotRandomnessControls)
{
    if (!HasResources())
        FAIL() << "no compiled resource file in this build";
    RoadRun r;
    UseEditor(r, &MakeCuttingEditor);
    StandInHost host(Document(ColorMode::RGB, 200, 150, false), HostSettings{});
    // The colours on the screen where the caption stands: left in the
    // knives panel, on the line of the randomness field.
    auto colours = [&r] {
        CWnd_Main& w = r.app->m_WndMain;
        const qntRECT_s add = w.FindControl("Main_AddKnives", qnctl::Button)->GetRenderRect();
        const qntRECT_s line = w.FindControl("Main_RndKnots", qnctl::EditLine)->GetRenderRect();
        std::set<uint32_t> seen;
        for (int32_t y = line.top; y < line.bottom; ++y)
            for (int32_t x = add.left; x < add.left + 40; ++x)
                seen.insert(r.hp.Pixel(w.GetWindowHandle(), x, y) & 0xFFFFFF);
        return seen.size();
    };
    r.hp.Script([&] { r.hp.Activate(r.app->m_MainWindow->GetWindowHandle()); });
    r.hp.Script([&] {
        CWnd_Main& w = r.app->m_WndMain;
        ASSERT_EQ(w.m_bCutMode, 1);
        EXPECT_GT(colours(), 2u) << "no caption beside the slider in cut mode";
        ASSERT_TRUE(static_cast<CuttingEditor*>(w.GetCutter())->Cut(*r.h.plugin));
        w.OnCutterClose();
        ASSERT_EQ(w.m_bCutMode, 0);
        EXPECT_EQ(colours(), 1u) << "a caption stays in the emptied panel";
        r.Snapshot("main_piece_mode_knives_panel.png");
    });
    r.ClickMain("Main_Cancel", qnctl::Button);
    EXPECT_EQ(r.h.Run(host, StandInHost::Sequence::Dialog), userCanceledErr);
    EXPECT_EQ(r.hp.ScriptLeft(), 0u);
}

TEST(HostInteractive, StatusTipsFollowThePointer)
{
    if (!HasResources())
        FAIL() << "no compiled resource file in this build";
    RoadRun r;
    StandInHost host(Document(ColorMode::RGB, 60, 40, false), HostSettings{});
    // dy: from the control's centre (the split ruler is the rulers' outer half).
    struct Over {
        const char* control;
        uint8_t type;
        int dy;
        const char* tipName;
        uint8_t tipType;
    };
    const Over overs[] = {{"Main_ApplyLM", qnctl::Button, 0, "Main_ApplyLM", 5},
                          {"Main_RulerTop", qnctl::Ruler, 2, "Main_Ruler", qnctl::Ruler},
                          {"Main_RulerTop", qnctl::Ruler, -5, "Zone_HSplitter", kTipZone},
                          {"Main_RulerLeft", qnctl::Ruler, 0, "Main_Ruler", qnctl::Ruler},
                          // No tip of its own: the ruler's stays.
                          {"Main_ModeL", qnctl::StaticImage, 0, "Main_Ruler", qnctl::Ruler},
                          {"Main_Export", qnctl::Button, 0, "Main_Export", 5}};
    r.hp.Script([&] { r.hp.Activate(r.app->m_MainWindow->GetWindowHandle()); });
    for (const Over& o : overs) {
        r.hp.Script([&r, o] {
            CWnd_Main& w = r.app->m_WndMain;
            CQNF_Control* c = w.FindControl(o.control, o.type);
            ASSERT_NE(c, nullptr);
            const plat::Rect wr = r.hp.ContentRect(w.GetWindowHandle());
            const qntRECT_s cr = c->GetRenderRect();
            r.hp.MoveMouse({wr.left + (cr.left + cr.right) / 2, wr.top + (cr.top + cr.bottom) / 2 + o.dy});
        });
        r.hp.Script([&r, o] {
            EXPECT_EQ(r.app->m_WndMain.GetFader().Pending(), qnGetStatusTip(o.tipName, "Main", 2, o.tipType))
                << o.control;
        });
    }
    r.ClickMain("Main_Cancel", qnctl::Button);
    EXPECT_EQ(r.h.Run(host, StandInHost::Sequence::Dialog), userCanceledErr);
    EXPECT_EQ(r.hp.ScriptLeft(), 0u);
}
