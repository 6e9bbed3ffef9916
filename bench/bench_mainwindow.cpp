// The main window's responsiveness, headless backend, one thread:
// - from the host's Start call to the window's first full paint on a
//   24-megapixel RGB picture, with its split (host transfer, source image
//   and navigator, first composite);
// - a redraw of the preview with the cut map of a 20 x 15 layout at fit zoom.
#include "app/App.h"
#include "app/InteractiveRoad.h"
#include "host/PluginEntry.h"
#include "hostapp/StandInHost.h"
#include "platform/Headless.h"
#include "ui/Toolkit.h"

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
    bool Ready() const { return std::filesystem::exists(folder.path + "/" + CAppRoad::kResourceFile); }

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
    if (!b.Ready()) {
        state.SkipWithError("no compiled resource file");
        return;
    }
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
    if (!b.Ready()) {
        state.SkipWithError("no compiled resource file");
        return;
    }
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

}  // namespace

BENCHMARK_MAIN();
