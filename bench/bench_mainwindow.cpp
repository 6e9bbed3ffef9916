// The main window's responsiveness, headless backend, one thread:
// - from the host's Start call to the window's first full paint on a
//   24-megapixel RGB picture, with its split (host transfer, source image
//   and navigator, first composite);
// - a redraw of the preview with the cut map of a 20 x 15 layout at fit zoom;
// - the interactive latencies a user feels on a 24-megapixel photo: one frame
//   of a knot drag, one step of an effect slider over 30 selected pieces,
//   the Cut of a 20 x 15 layout into pieces shown in the window, and Apply
//   from the press of the button to the host holding the result.
#include "app/App.h"
#include "app/CutterStandIn.h"
#include "app/MainMenus.h"
#include "effects/WndFX_Base.h"
#include "app/InteractiveRoad.h"
#include "host/PluginEntry.h"
#include "hostapp/StandInHost.h"
#include "platform/Headless.h"
#include "ui/CtrlSlider.h"
#include "ui/Toolkit.h"

#include "tests/host/window_cut.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>

namespace {

using Clock = std::chrono::steady_clock;
using hostapp::ColorMode;
using hostapp::HostDocument;
using hostapp::RasterImage;
using hostapp::StandInHost;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// The plug-in in the stand-in host with the road on a headless backend, its
// folder holding the compiled resource file.
struct Bench {
    FSRef folder;
    std::unique_ptr<CPluginMain> plugin = std::make_unique<CPluginMain>();
    plat::HeadlessPlatform hp;
    CAppRoad road;
    CApp* app = nullptr;
    Clock::time_point beforeRun;

    static Bench*& Current()
    {
        static Bench* b = nullptr;
        return b;
    }
    static void Entry(int16_t selector, FilterRecord* record, intptr_t* data, int16_t* result)
    {
        qnPluginDispatch(*Current()->plugin, Current()->folder, selector, record, data, result);
    }
    // False, and the benchmark skipped, without the compiled resource file.
    bool Ready(benchmark::State& state) const
    {
        if (std::filesystem::exists(folder.path + "/" + CAppRoad::kResourceFile))
            return true;
        state.SkipWithError("no compiled resource file");
        return false;
    }

    Bench()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "tessolo_bench_XXXXXX").string();
        if (mkdtemp(pattern.data()))
            folder.path = pattern;
        std::error_code ec;
        std::filesystem::copy_file(std::string(TESSOLO_BINARY_DIR) + "/resource_ts31_d.qns4",
                                   folder.path + "/" + CAppRoad::kResourceFile, ec);
        road.SetPlatform(&hp);
        road.onBeforeRun = [this](CApp& a) {
            app = &a;
            beforeRun = Clock::now();
        };
        plugin->SetInteractiveRoad(&road);
        Current() = this;
    }
    ~Bench()
    {
        plugin->SetInteractiveRoad(nullptr);
        std::error_code ec;
        std::filesystem::remove_all(folder.path, ec);
    }
    // Runs the dialog; inside, once the window is up, f runs, then Cancel.
    void Run(StandInHost& host, const std::function<void(CWnd_Main&)>& f)
    {
        hp.Script([this, f] {
            f(app->m_WndMain);
            app->m_WndMain.Close();
        });
        host.Run(&Entry, StandInHost::Sequence::Dialog);
    }
};

HostDocument Picture(int w, int h)
{
    RasterImage img;
    img.Allocate(ColorMode::RGB, w, h, false);
    for (int p = 0; p < 3; ++p)
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                img.planes[size_t(p)][size_t(y) * w + x] = uint8_t((x * (p + 1) + y * 3) >> 3);
    return HostDocument::FromImage(std::move(img), "Layer 1");
}

void BM_StartToFirstPaint24MP(benchmark::State& state)
{
    Bench b;
    if (!b.Ready(state))
        return;
    const HostDocument doc = Picture(6000, 4000);
    double hostSide = 0, window = 0, transfer = 0, navigator = 0, composite = 0;
    for (auto _ : state) {
        StandInHost host(doc, hostapp::HostSettings{});
        const Clock::time_point start = Clock::now();
        Clock::time_point painted;
        b.Run(host, [&](CWnd_Main& w) {
            // The window is up and painted when the loop first waits.
            painted = Clock::now();
            // The split, repeated on the live window.
            Clock::time_point t = Clock::now();
            w.GetSourceDataInRGBA();
            transfer += Ms(Clock::now() - t);
            t = Clock::now();
            w.SetSourceToNavigator();
            navigator += Ms(Clock::now() - t);
            t = Clock::now();
            w.GetPreview().DoRedraw(1, 0);
            w.RenderRect(qnNullRect);
            w.UpdateRect(qnNullRect);
            composite += Ms(Clock::now() - t);
        });
        state.SetIterationTime(std::chrono::duration<double>(painted - start).count());
        hostSide += Ms(b.beforeRun - start);
        window += Ms(painted - b.beforeRun);
    }
    const double n = double(state.iterations());
    // Parameters, Prepare and Start up to the loop: the host's picture of the
    // document, the composite alpha, the resource file.
    state.counters["host_side_ms"] = hostSide / n;
    // The window's creation and first paint (the three below are part of it).
    state.counters["window_ms"] = window / n;
    state.counters["host_transfer_and_rgba_ms"] = transfer / n;
    state.counters["navigator_ms"] = navigator / n;
    state.counters["first_composite_ms"] = composite / n;
}
BENCHMARK(BM_StartToFirstPaint24MP)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_PreviewRedrawWithCutMap20x15(benchmark::State& state)
{
    Bench b;
    if (!b.Ready(state))
        return;
    StandInHost host(Picture(3000, 2000), hostapp::HostSettings{});
    b.Run(host, [&](CWnd_Main& w) {
        // 20 columns and 15 rows.
        w.spl_SplitEvenParts(20, 15, 1, 1);
        w.GetPreview().SetZoom(2, -1, -1, 1, 1);  // 3000 x 2000 fits 680 x 508 at 1:4
        for (auto _ : state)
            w.GetPreview().DoRedraw(1, 0);
    });
}
BENCHMARK(BM_PreviewRedrawWithCutMap20x15)->Unit(benchmark::kMillisecond);

// The window point of the image point (x, y) at the preview's zoom; the
// preview's first point that maps onto or past it, row and column apart.
qntPOS WindowPointOf(CWnd_Main& w, int32_t x, int32_t y)
{
    const qntRECT_s& r = w.m_rcPreview;
    qntPOS p{r.left, r.top};
    auto& pv = w.GetPreview();
    while (p.x < r.right && pv.GetImageCoorsByPreviewCoorsNoOverflowCheck({p.x - r.left, 0}).x < x)
        ++p.x;
    while (p.y < r.bottom && pv.GetImageCoorsByPreviewCoorsNoOverflowCheck({0, p.y - r.top}).y < y)
        ++p.y;
    return p;
}

// One mouse move of a knot drag at fit zoom: the knot where the third column
// and row borders of a 20 x 15 layout meet, pressed, then moved a few pixels
// back and forth; each move moves the knot, redraws the knives that meet it
// and shows the changed part of the preview.
void BM_KnotDragFrame24MP(benchmark::State& state)
{
    Bench b;
    if (!b.Ready(state))
        return;
    StandInHost host(Picture(6000, 4000), hostapp::HostSettings{});
    b.Run(host, [&](CWnd_Main& w) {
        w.spl_SplitEvenParts(20, 15, 1, 1);
        w.GetPreview().SetZoom(0, -1, -1, 1, 1);  // 6000 x 4000 fits 680 x 508 at 1:16
        w.RenderRect(qnNullRect);
        const qntPOS knot = WindowPointOf(w, 900, 800);
        w.UpdateRect(qnNullRect);
        uint16_t fw = 0, fh = 0;
        const std::vector<uint32_t> before = *b.hp.Framebuffer(w.GetWindowHandle(), fw, fh);
        // The pointer comes over the knot and presses it; each frame is one
        // move handled by the window.
        const plat::Rect wr = b.hp.ContentRect(w.GetWindowHandle());
        auto move = [&](int dx, int dy) {
            b.hp.MoveMouse({wr.left + knot.x + dx, wr.top + knot.y + dy});
            qnui::Toolkit::Get().PumpPending();
        };
        b.hp.Activate(w.GetWindowHandle());
        move(0, 0);
        b.hp.Press();
        int step = 0;
        for (auto _ : state) {
            step = (step + 1) % 8;
            move(2 + step, 2 + step / 2);
        }
        b.hp.Release();
        qnui::Toolkit::Get().PumpPending();
        w.UpdateRect(qnNullRect);
        if (*b.hp.Framebuffer(w.GetWindowHandle(), fw, fh) == before)
            state.SkipWithError("the drag moved no knot");
    });
}
BENCHMARK(BM_KnotDragFrame24MP)->Unit(benchmark::kMillisecond);

// The knife editor's part in a Cut: the editor window is not needed to time
// the split, the render and the composite, only its answer that it cut.
class CutterThatCuts : public CCutterStandIn {
public:
    bool cut = false;
    bool WasCut() const override { return cut; }
};

void UseCutterThatCuts(Bench& b)
{
    b.road.SetCutterFactory([]() -> std::unique_ptr<CMainCutter> { return std::make_unique<CutterThatCuts>(); });
}

// Cuts the window's layout as the knife editor's Cut does and shows the
// pieces; false when the engine failed.
bool CutAndShow(CWnd_Main& w, CPluginMain& plugin)
{
    const bool cut = hosttest::CutInWindow(w, plugin);
    if (auto* c = dynamic_cast<CutterThatCuts*>(w.GetCutter()))
        c->cut = cut;
    if (!cut)
        return false;
    w.OnCutterClose();
    return w.m_bCutMode == 0;
}

// One step of the opacity slider with 30 pieces of a 20 x 15 cut selected:
// the pieces rendered again and composited into the window.
void BM_EffectSliderStep30Pieces24MP(benchmark::State& state)
{
    Bench b;
    if (!b.Ready(state))
        return;
    UseCutterThatCuts(b);
    StandInHost host(Picture(6000, 4000), hostapp::HostSettings{});
    b.Run(host, [&](CWnd_Main& w) {
        w.spl_SplitEvenParts(20, 15, 1, 1);
        CMainPieceMap* pm = CutAndShow(w, *b.plugin) ? w.GetPieceMap() : nullptr;
        if (!pm || pm->GetPieceCount() < 31) {
            state.SkipWithError("the cut failed");
            return;
        }
        // Thirty pieces (the first after the knife lines' piece).
        for (uint32_t p = 1; p <= 30; ++p)
            pm->pmop_Sel_SetSelectionToPiece(p, 1, 0, 0);
        w.OnMenuCommand(qnmenu::Opacity);
        CWndFX_Base* fx = w.GetFXWindow();
        auto* slider = fx ? static_cast<CQNF_CtrlSlider*>(fx->GetControl(fx->FindControlByName("FXopac_Opacity",
                                                                                                qnctl::Slider)))
                          : nullptr;
        if (!slider) {
            state.SkipWithError("no opacity window");
            return;
        }
        unsigned long value = 40;
        for (auto _ : state) {
            value = value == 40 ? 60 : 40;
            slider->SetValue(value, 1);
        }
    });
}
BENCHMARK(BM_EffectSliderStep30Pieces24MP)->Unit(benchmark::kMillisecond)->Iterations(5);

// The Cut of a 20 x 15 layout: the engine's split and render of 300 pieces
// and their composite into the window.
void BM_Cut20x15_24MP(benchmark::State& state)
{
    Bench b;
    if (!b.Ready(state))
        return;
    UseCutterThatCuts(b);
    for (auto _ : state) {
        StandInHost host(Picture(6000, 4000), hostapp::HostSettings{});
        double ms = 0;
        b.Run(host, [&](CWnd_Main& w) {
            w.spl_SplitEvenParts(20, 15, 1, 1);
            const Clock::time_point t = Clock::now();
            if (!CutAndShow(w, *b.plugin))
                state.SkipWithError("the cut failed");
            ms = Ms(Clock::now() - t);
        });
        state.SetIterationTime(ms / 1000);
    }
}
BENCHMARK(BM_Cut20x15_24MP)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(2);

// Apply in piece mode (6 x 5 pieces with their bevel): from the press of
// Apply to the host holding the result.
void BM_Apply24MP(benchmark::State& state)
{
    Bench b;
    if (!b.Ready(state))
        return;
    UseCutterThatCuts(b);
    for (auto _ : state) {
        StandInHost host(Picture(6000, 4000), hostapp::HostSettings{});
        Clock::time_point pressed;
        b.hp.Script([&] {
            CWnd_Main& w = b.app->m_WndMain;
            w.spl_SplitEvenParts(6, 5, 1, 1);
            if (!CutAndShow(w, *b.plugin))
                state.SkipWithError("the cut failed");
            pressed = Clock::now();
            w.OnButton("Main_Apply");
        });
        const int16_t result = host.Run(&Bench::Entry, StandInHost::Sequence::Dialog);
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - pressed).count());
        if (result != 0)
            state.SkipWithError("Apply failed");
    }
}
BENCHMARK(BM_Apply24MP)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(2);

}  // namespace

BENCHMARK_MAIN();
