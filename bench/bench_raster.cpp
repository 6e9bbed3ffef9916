// Raster foundation: knife drawing, flood filling, compositing and blending
// on pictures of the sizes the windows and the engine work with.
//   build/release/bench/bench_raster   (the release build scripts/test.sh makes)
#include "core/2DMath.h"
#include "core/Mem.h"
#include "imaging/Image.h"
#include "imaging/ImageDrawing.h"
#include "imaging/Layer.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

namespace {

// A grid of wavy knives over a w x h plane, as the engine rasterises a layout.
std::vector<std::vector<qntFPOS>> Knives(int w, int h, int cells)
{
    CQNF_2DMath g;
    std::vector<std::vector<qntFPOS>> out;
    std::mt19937 rng(3);
    std::uniform_real_distribution<double> jitter(-0.15, 0.15);
    for (int k = 1; k < cells; ++k) {
        for (int dir = 0; dir < 2; ++dir) {
            std::vector<CQNF_2DMath::QNSPLINEPOINT> nodes;
            for (int i = 0; i <= cells; ++i) {
                const double along = double(i) / cells, across = (k + jitter(rng)) / cells;
                nodes.push_back(dir ? CQNF_2DMath::QNSPLINEPOINT{along * w, across * h, 0.3f}
                                    : CQNF_2DMath::QNSPLINEPOINT{across * w, along * h, 0.3f});
            }
            CQNF_Mem pts;
            unsigned long n = 0;
            g.CalcPointSpline(nodes.data(), nodes.size(), 2.0, &pts, n);
            const auto* p = reinterpret_cast<const qntFPOS*>(pts.GetPtr());
            out.emplace_back(p, p + n);
        }
    }
    return out;
}

void BM_KnifePolylines(benchmark::State& state)
{
    const int w = int(state.range(0)), h = w * 3 / 4;
    const double width = double(state.range(1));
    auto knives = Knives(w, h, 10);
    std::vector<uint8_t> plane(size_t(w) * h);
    CQNF_ImageDrawing d;
    d.SetDestination(plane.data(), w, w, h);
    for (auto _ : state) {
        for (auto& k : knives)
            d.DrawHQPolyLine(k.data(), k.size(), width, 1, 1, 1, std::max(1.0, width * 0.25));
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * int64_t(knives.size()));
}
BENCHMARK(BM_KnifePolylines)->Args({1000, 2})->Args({4000, 2})->Args({4000, 8})->Unit(benchmark::kMillisecond);

struct Mask {
    int w;
    int h;
    std::vector<uint8_t> wall;
    std::vector<uint8_t> filled;
};

unsigned char MaskTest(qntPOS p, void* user)
{
    auto* m = static_cast<Mask*>(user);
    if (p.x < 0 || p.y < 0 || p.x >= m->w || p.y >= m->h)
        return 1;
    const size_t i = size_t(p.y) * m->w + p.x;
    return m->wall[i] | m->filled[i];
}

void MaskFill(qntPOS p, uint32_t n, void* user)
{
    auto* m = static_cast<Mask*>(user);
    std::fill_n(m->filled.begin() + ptrdiff_t(size_t(p.y) * m->w + p.x), n, uint8_t(1));
}

// Every region of a cut: the engine's labelling pass.
void BM_FloodFillEveryRegion(benchmark::State& state)
{
    const int w = int(state.range(0)), h = w * 3 / 4;
    Mask m{w, h, std::vector<uint8_t>(size_t(w) * h), {}};
    CQNF_ImageDrawing d;
    d.SetDestination(m.wall.data(), w, w, h);
    for (auto& k : Knives(w, h, 20))
        d.DrawHQPolyLine(k.data(), k.size(), 2.0, 1, 1, 1, 1.0);
    CQNF_2DMath g;
    g.fnTest = MaskTest;
    g.fnFillLine = MaskFill;
    for (auto _ : state) {
        m.filled.assign(m.wall.size(), 0);
        int regions = 0;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                if (!MaskTest({x, y}, &m)) {
                    g.FillBounds(&m, {x, y});
                    ++regions;
                }
        benchmark::DoNotOptimize(regions);
    }
    state.SetItemsProcessed(state.iterations() * int64_t(w) * h);
}
BENCHMARK(BM_FloodFillEveryRegion)->Arg(1000)->Arg(4000)->Unit(benchmark::kMillisecond);

// A window-sized canvas: background, a translucent RGB layer, an RGBA overlay.
void BM_LayerSetRender(benchmark::State& state)
{
    const uint16_t w = uint16_t(state.range(0)), h = uint16_t(w * 3 / 4);
    CQNF_LayerSet set;
    set.Create(w, h);
    CQNF_Layer bg, mid, top;
    bg.Create(qntRECT_s{0, 0, w, h}, 1);
    mid.Create(qntRECT_s{10, 10, w - 10, h - 10}, 1);
    top.Create(qntRECT_s{0, 0, w, h}, 2);
    std::mt19937 rng(1);
    for (CQNF_Layer* l : {&bg, &mid, &top})
        for (uint32_t i = 0; i < l->GetMemObj()->GetSize(); ++i)
            l->GetMemObj()->GetPtr()[i] = uint8_t(rng());
    mid.SetOpacity(128);
    set.AddLayer(&bg);
    set.AddLayer(&mid);
    set.AddLayer(&top);
    for (auto _ : state)
        benchmark::DoNotOptimize(set.Render(qnNullRect));
    state.SetItemsProcessed(state.iterations() * int64_t(w) * h);
}
BENCHMARK(BM_LayerSetRender)->Arg(1000)->Arg(4000)->Unit(benchmark::kMillisecond);

void BM_ImageBlend(benchmark::State& state)
{
    const uint16_t w = uint16_t(state.range(0)), h = uint16_t(w * 3 / 4);
    CQNF_Image dst, src;
    dst.Create(w, h, 1);
    src.Create(w, h, 2);
    std::mt19937 rng(2);
    for (uint32_t i = 0; i < src.GetMemObj()->GetSize(); ++i)
        src.GetMemObj()->GetPtr()[i] = uint8_t(rng());
    for (auto _ : state)
        benchmark::DoNotOptimize(dst.Blend(&src, 0, 0, qnNullRect, uint8_t(state.range(1))));
    state.SetItemsProcessed(state.iterations() * int64_t(w) * h);
}
BENCHMARK(BM_ImageBlend)->Args({4000, 100})->Args({4000, 50})->Unit(benchmark::kMillisecond);

void BM_AALines(benchmark::State& state)
{
    CQNF_Image img;
    img.Create(1000, 750, 2);
    for (auto _ : state)
        for (int k = 0; k < 100; ++k)
            img.DrawAALine(int16_t(k * 10), 0, int16_t(999 - k * 10), 749, qntRGBA8{10, 20, 30, 200}, qnNullRect, 1);
    state.SetItemsProcessed(state.iterations() * 100);
}
BENCHMARK(BM_AALines)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
