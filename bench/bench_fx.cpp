// Every filter of the filter engine on 1 MP (1155 x 866) and 12 MP
// (4000 x 3000) pictures, RGB where the filter needs no alpha, RGBA with a
// soft-edged shape in the alpha plane where it does. One thread.
//
//   build/release/bench/bench_fx --benchmark_filter=Gauss
#include "imaging/ImageFX.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

namespace {

struct Picture {
    int w, h, channels;
    std::vector<uint8_t> data;
    uint8_t* planes[5] = {};

    Picture(int width, int height, int ch) : w(width), h(height), channels(ch)
    {
        data.resize(static_cast<size_t>(w) * h * ch);
        for (int p = 0; p < ch; ++p)
            planes[p] = data.data() + static_cast<size_t>(p) * w * h;
    }
};

// Gradients with noise in the colour planes; a shape with a soft rim in alpha.
Picture MakePicture(int w, int h, int channels)
{
    Picture pic(w, h, channels);
    std::mt19937 rng(42);
    for (int p = 0; p < 3; ++p)
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const int v = (x * (2 + p) / 16 + y * (4 - p) / 16) % 256 + static_cast<int>(rng() % 13) - 6;
                pic.planes[p][static_cast<size_t>(y) * w + x] = static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
            }
    if (channels == 4) {
        const double cx = w / 2.0, cy = h / 2.0;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                // A wavy blob, like a jigsaw piece, with an anti-aliased rim
                // about 1.5 pixels wide.
                const double radius = 0.4 * std::min(w, h);
                const double dx = (x - cx) / radius, dy = (y - cy) / radius;
                const double r = std::sqrt(dx * dx + dy * dy) + 0.08 * std::sin(std::atan2(dy, dx) * 4);
                const double a = (1.0 - r) * radius * 170.0;
                pic.planes[3][static_cast<size_t>(y) * w + x] = static_cast<uint8_t>(a < 0 ? 0 : a > 255 ? 255 : a);
            }
    }
    return pic;
}

// A sheet of 20 x 15 discs with anti-aliased rims in the alpha plane, like
// the pieces of a cut: many edges for the stroke.
Picture MakePieces(int w, int h)
{
    Picture pic = MakePicture(w, h, 4);
    const double r = std::min(w / 20.0, h / 15.0) * 0.42;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const double cx = (std::floor(x * 20.0 / w) + 0.5) * w / 20.0;
            const double cy = (std::floor(y * 15.0 / h) + 0.5) * h / 15.0;
            const double a = (r - std::hypot(x - cx, y - cy)) * 170.0;
            pic.planes[3][static_cast<size_t>(y) * w + x] = static_cast<uint8_t>(a < 0 ? 0 : a > 255 ? 255 : a);
        }
    return pic;
}

struct Size {
    int w, h;
};
Size SizeFor(int64_t megapixels) { return megapixels == 1 ? Size{1155, 866} : Size{4000, 3000}; }

template <class F>
void Run(benchmark::State& state, int channels, F&& filter, Size out = {0, 0}, bool pieces = false)
{
    const Size sz = SizeFor(state.range(0));
    Picture src = pieces ? MakePieces(sz.w, sz.h) : MakePicture(sz.w, sz.h, channels);
    const Size dsz = out.w ? out : sz;
    Picture dst(dsz.w, dsz.h, channels);
    CQNF_ImageFX fx;
    fx.SetSource(src.planes, static_cast<uint32_t>(src.w), static_cast<uint8_t>(channels), channels == 4,
                 static_cast<uint16_t>(src.w), static_cast<uint16_t>(src.h));
    fx.SetDestination(dst.planes, static_cast<uint32_t>(dst.w), static_cast<uint8_t>(channels), channels == 4,
                      static_cast<uint16_t>(dst.w), static_cast<uint16_t>(dst.h));
    for (auto _ : state) {
        if (!filter(fx))
            state.SkipWithError("filter failed");
        benchmark::DoNotOptimize(dst.data.data());
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(sz.w) * sz.h);
}

const uint8_t kColour[4] = {200, 40, 90, 255};
const uint8_t kWhite[4] = {255, 255, 255, 255};
const uint8_t kBlack[4] = {0, 0, 0, 255};

#define FX_BENCH(name, channels, call)                                                                \
    void BM_##name(benchmark::State& state) { Run(state, channels, [](CQNF_ImageFX& fx) { return call; }); } \
    BENCHMARK(BM_##name)->Arg(1)->Arg(12)->Unit(benchmark::kMillisecond)

FX_BENCH(Gauss_s1, 3, fx.GaussianBlur(1.0, 0, 1));
FX_BENCH(Gauss_s5, 3, fx.GaussianBlur(5.0, 0, 1));
FX_BENCH(Gauss_s20, 3, fx.GaussianBlur(20.0, 0, 1));
FX_BENCH(Gauss_s5_RGBA_recover, 4, fx.GaussianBlur(5.0, 0, 1));
FX_BENCH(Motion_0deg_d10, 3, fx.MotionBlur(0.0, 10.0, 0, 1));
FX_BENCH(Motion_90deg_d10, 3, fx.MotionBlur(90.0, 10.0, 0, 1));
FX_BENCH(Motion_30deg_d10, 3, fx.MotionBlur(30.0, 10.0, 0, 1));
FX_BENCH(Motion_120deg_d10_RGBA, 4, fx.MotionBlur(120.0, 10.0, 0, 1));
FX_BENCH(HSL, 3, fx.HSLCorrection(-10, 30, 10, 1));
FX_BENCH(Colorize, 3, fx.HSLColorize(200, 60, 10, 1));
FX_BENCH(BrightnessContrast, 3, fx.BrightnessContrast(10, 20, 128));
FX_BENCH(Invert, 3, fx.Invert());
FX_BENCH(ColorOverlay, 3, fx.ColorOverlay(kColour, 128));
FX_BENCH(Combine_RGBA, 4, fx.Combine_DonStoD(180));
FX_BENCH(Gray, 3, fx.ConvertSourceToGray());
FX_BENCH(Bevel_s10, 4, fx.Bevel(10, 100, 1.0, (qnt3D_VECTOR{-0.5f, 0.5f, 0.7071f}), kWhite, 180, kBlack, 180));
FX_BENCH(Bevel_s40_soften4, 4, fx.Bevel(40, 200, 4.0, (qnt3D_VECTOR{-0.5f, 0.5f, 0.7071f}), kWhite, 180, kBlack, 180));
FX_BENCH(Stroke_1, 4, fx.StrokeInside(kColour, 255, 1));
FX_BENCH(Stroke_3, 4, fx.StrokeInside(kColour, 200, 3));
FX_BENCH(Stroke_10, 4, fx.StrokeInside(kColour, 200, 10));
FX_BENCH(Stroke_30, 4, fx.StrokeInside(kColour, 200, 30));
FX_BENCH(UnsharpNormal, 3, fx.filter_UnsharpenMaskNormal(0));

// The stroke stamps a disc at every edge pixel: its cost grows with the
// square of the width on a picture with many edges.
void BM_Stroke_Pieces(benchmark::State& state)
{
    const uint8_t size = static_cast<uint8_t>(state.range(1));
    Run(state, 4, [size](CQNF_ImageFX& fx) { return fx.StrokeInside(kColour, 200, size); }, Size{0, 0}, true);
}
BENCHMARK(BM_Stroke_Pieces)
    ->ArgsProduct({{1, 12}, {3, 10, 30, 100, 255}})
    ->Unit(benchmark::kMillisecond);

void BM_ResizeHalf(benchmark::State& state)
{
    const Size sz = SizeFor(state.range(0));
    Run(state, 3, [](CQNF_ImageFX& fx) { return fx.Resize(1); }, Size{sz.w / 2, sz.h / 2});
}
BENCHMARK(BM_ResizeHalf)->Arg(1)->Arg(12)->Unit(benchmark::kMillisecond);

void BM_ResizeDouble(benchmark::State& state)
{
    const Size sz = SizeFor(state.range(0));
    Run(state, 3, [](CQNF_ImageFX& fx) { return fx.Resize(0); }, Size{sz.w * 2 > 65535 ? 65535 : sz.w * 2, sz.h * 2});
}
BENCHMARK(BM_ResizeDouble)->Arg(1)->Arg(12)->Unit(benchmark::kMillisecond);

void BM_ResizeIntZO_Thumb(benchmark::State& state)
{
    Run(state, 3, [](CQNF_ImageFX& fx) { return fx.Resize_Int_ZO(1); }, Size{200, 150});
}
BENCHMARK(BM_ResizeIntZO_Thumb)->Arg(1)->Arg(12)->Unit(benchmark::kMillisecond);

void BM_Tile(benchmark::State& state)
{
    const Size sz = SizeFor(state.range(0));
    Run(state, 3, [](CQNF_ImageFX& fx) { return fx.Tile(); }, Size{sz.w + sz.w / 3, sz.h});
}
BENCHMARK(BM_Tile)->Arg(1)->Arg(12)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
