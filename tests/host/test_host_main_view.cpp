// The main window's view as the running road shows it, headless: after the
// knife editor has opened (as it does in every run) the rulers, scroll bars
// and navigator follow zoom, pan and units; controls hidden while disabled
// leave nothing on the screen.
#include "road_run.h"

#include "app/MainMenus.h"
#include "ui/App.h"
#include "ui/CtrlScrollBar.h"
#include "ui/CtrlStatic.h"

#include <vector>

namespace {

using namespace hosttest;

// The window's composited pixels of a rectangle, as RGB triples.
std::vector<uint8_t> Pixels(CWnd_Main& w, const qntRECT_s& r)
{
    EXPECT_TRUE(w.RenderRect(r));
    CQNF_Image* canvas = w.GetLayerSet()->GetCanvas();
    std::vector<uint8_t> out;
    for (int32_t y = r.top; y < r.bottom; ++y)
        for (int32_t x = r.left; x < r.right; ++x) {
            const qntRGBA8 p = canvas->GetPixel(uint16_t(x), uint16_t(y));
            out.insert(out.end(), {p.r, p.g, p.b});
        }
    return out;
}

size_t Changed(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b)
{
    size_t n = 0;
    for (size_t i = 0; i < std::min(a.size(), b.size()); ++i)
        n += a[i] != b[i];
    return n;
}

}  // namespace

TEST(HostMainView, RulersScrollBarsAndNavigatorFollowTheViewInCutMode)
{
    if (!HasResources())
        FAIL() << "no compiled resource file in this build";
    RoadRun r;
    // Larger than the preview: it opens fitted, and zooming in makes it scroll.
    StandInHost host(Document(ColorMode::RGB, 1200, 800, false), HostSettings{});
    struct View {
        QNF_RulerData top;
        std::vector<uint8_t> ruler, navigator;
        int32_t thumb = 0, track = 0;
    };
    auto look = [&r] {
        CWnd_Main& w = r.app->m_WndMain;
        auto* ruler = static_cast<CQNF_CtrlRuler*>(w.FindControl("Main_RulerTop", qnctl::Ruler));
        auto* nav = static_cast<CQNF_CtrlStaticImage*>(w.FindControl("Main_Navigator", qnctl::StaticImage));
        auto* bar = static_cast<CQNF_CtrlScrollBar*>(w.FindControl(
            CQNF_App::GetScrollStyle_TwoSideArrows() ? "Main_ScrollH_NR" : "Main_ScrollH_MAC", qnctl::ScrollBar));
        View v;
        EXPECT_TRUE(ruler && nav && bar);
        if (!ruler || !nav || !bar)
            return v;
        v.top = *ruler->GetData();
        v.ruler = Pixels(w, ruler->GetRenderRect());
        v.navigator = Pixels(w, nav->GetRenderRect());
        v.thumb = bar->GetThumbLength();
        const qntRECT_s t = bar->GetTrackRect();
        v.track = t.right - t.left;
        return v;
    };
    View fitted, zoomed, panned, metric;
    r.hp.Script([&] { r.hp.Activate(r.app->m_MainWindow->GetWindowHandle()); });
    r.hp.Script([&] {
        CWnd_Main& w = r.app->m_WndMain;
        ASSERT_EQ(w.m_bCutMode, 1) << "the knife editor opened";
        fitted = look();
        w.OnShortcut(14);
        w.OnShortcut(14);
    });
    r.hp.Script([&] {
        zoomed = look();
        // Pan: the track to the right of the thumb pages the view.
        CWnd_Main& w = r.app->m_WndMain;
        auto* bar = static_cast<CQNF_CtrlScrollBar*>(w.FindControl(
            CQNF_App::GetScrollStyle_TwoSideArrows() ? "Main_ScrollH_NR" : "Main_ScrollH_MAC", qnctl::ScrollBar));
        ASSERT_NE(bar, nullptr);
        const qntRECT_s t = bar->GetTrackRect(), th = bar->GetThumbRect();
        const plat::Rect wr = r.hp.ContentRect(w.GetWindowHandle());
        r.hp.Click({wr.left + (th.right + t.right) / 2, wr.top + (t.top + t.bottom) / 2});
    });
    r.hp.Script([&] {
        panned = look();
        r.app->m_WndMain.OnMenuCommand(qnmenu::UnitsPixels + 2);  // centimetres
    });
    r.hp.Script([&] { metric = look(); });
    r.ClickMain("Main_Cancel", qnctl::Button);
    EXPECT_EQ(r.h.Run(host, StandInHost::Sequence::Dialog), userCanceledErr);
    EXPECT_EQ(r.hp.ScriptLeft(), 0u);

    // Zoomed in twice: the ruler's scale and its drawing change.
    EXPECT_EQ(zoomed.top.zoom, fitted.top.zoom + 2);
    EXPECT_GT(Changed(fitted.ruler, zoomed.ruler), 100u);
    // Fitted, the whole width shows; zoomed, the thumb is part of the track.
    EXPECT_GT(zoomed.thumb, 0);
    EXPECT_LT(zoomed.thumb, zoomed.track);
    EXPECT_LT(zoomed.thumb, fitted.thumb);
    // The page to the right moved the view: the ruler's first coordinate, the
    // navigator's frame.
    EXPECT_GT(panned.top.firstCoord, zoomed.top.firstCoord);
    EXPECT_GT(Changed(zoomed.navigator, panned.navigator), 20u);
    // The units menu reaches the ruler.
    EXPECT_EQ(metric.top.unit, 3);
    EXPECT_GT(Changed(panned.ruler, metric.ruler), 20u);
}

TEST(HostMainView, ControlsHiddenWhileDisabledLeaveNothingDrawn)
{
    if (!HasResources())
        FAIL() << "no compiled resource file in this build";
    RoadRun r;
    StandInHost host(Document(ColorMode::RGB, 200, 150, false), HostSettings{});
    // In cut mode the piece-mode controls are disabled with opacity 0 (the
    // skin has Disabled pictures for them); Export stays, drawn.
    struct Case {
        const char* name;
        uint8_t type;
        bool drawn;
    } cases[] = {{"Main_Relayout", qnctl::Button, false},
                 {"Main_FXBevel", qnctl::Button, false},
                 {"Main_FXBevel", qnctl::CheckBox, false},
                 {"Main_Export", qnctl::Button, true}};
    r.hp.Script([&] { r.hp.Activate(r.app->m_MainWindow->GetWindowHandle()); });
    r.hp.Script([&] {
        CWnd_Main& w = r.app->m_WndMain;
        for (const Case& c : cases) {
            CQNF_Control* ctl = w.FindControl(c.name, c.type);
            ASSERT_NE(ctl, nullptr) << c.name;
            const qntRECT_s rc = ctl->GetRenderRect();
            const std::vector<uint8_t> px = Pixels(w, rc);
            // Drawn: more than one colour; hidden: the panel behind, one colour.
            size_t differing = 0;
            for (size_t i = 0; i + 2 < px.size(); i += 3)
                differing += px[i] != px[0] || px[i + 1] != px[1] || px[i + 2] != px[2];
            EXPECT_EQ(differing > 0, c.drawn) << c.name << " " << int(c.type) << ": " << differing;
        }
    });
    r.ClickMain("Main_Cancel", qnctl::Button);
    EXPECT_EQ(r.h.Run(host, StandInHost::Sequence::Dialog), userCanceledErr);
}

// A second Save opens where the first went, also in the next run of the
// plug-in (the folder is kept in its settings).
TEST(HostMainView, SaveDialogsOpenWhereTheLastSaveWent)
{
    if (!HasResources())
        FAIL() << "no compiled resource file in this build";
    RoadRun r;
    const std::string chosen = r.h.folder.path + "/layouts";
    std::filesystem::create_directories(chosen);
    std::vector<std::string> shown;
    for (int run = 0; run < 2; ++run) {
        StandInHost host(Document(ColorMode::RGB, 120, 80, false), HostSettings{});
        r.hp.Script([&] { r.hp.Activate(r.app->m_MainWindow->GetWindowHandle()); });
        r.hp.Script([&, run] {
            if (run == 0)
                r.hp.saveAnswers.push_back(plat::SaveChoice{chosen, "layout.qntd", false});
            else
                r.hp.saveAnswers.push_back(std::nullopt);
            r.app->m_WndMain.OnMenuCommand(qnmenu::Save);
            shown.push_back(r.hp.dialogsShown.empty() ? "" : r.hp.dialogsShown.back().folder);
        });
        r.ClickMain("Main_Cancel", qnctl::Button);
        EXPECT_EQ(r.h.Run(host, StandInHost::Sequence::Dialog), userCanceledErr);
    }
    EXPECT_TRUE(std::filesystem::exists(chosen + "/layout.qntd"));
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_NE(shown[0], chosen) << "nothing was remembered before the first save";
    EXPECT_EQ(shown[1], chosen);
}
