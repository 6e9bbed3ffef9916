// High-quality mesh renderers over wave grids of 2k to 200k triangles at
// 1024 x 1024, opaque, one light, 1024 x 1024 texture. The 2M-triangle and
// 3840 x 2160 cases take seconds each: they run only with S3D_BENCH_LARGE=1
// in the environment.
//   build/release/bench/bench_surface3d_hq   (the release build scripts/test.sh makes)
#include "surface3d/Surface.h"
#include "surface3d/Surface2.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <vector>

namespace {

constexpr int kTex = 1024;

// n x n cells over w x h pixels, mapping spread over the texture.
template <class S>
void Wave(S& s, int n, int w, int h)
{
    s.Create(static_cast<unsigned long>((n + 1) * (n + 1)), static_cast<unsigned long>(2 * n * n));
    for (int j = 0; j <= n; ++j)
        for (int i = 0; i <= n; ++i) {
            const float x = float(w) * i / n, y = float(h) * j / n;
            *s.GetVertex(j * (n + 1) + i) = {x, y, 30.0f * std::sin(x / 60.0f) * std::cos(y / 45.0f)};
        }
    uint32_t t = 0;
    for (int j = 0; j < n; ++j)
        for (int i = 0; i < n; ++i) {
            const uint32_t a = j * (n + 1) + i, b = a + 1, c = a + n + 2, d = a + n + 1;
            *s.GetTriMesh(t++) = {a, b, c, 1};
            *s.GetTriMesh(t++) = {a, c, d, 1};
        }
    s.RecreateMappingArrayFromCurrentValues();
    for (uint32_t i = 0; i < s.GetVertexCount(); ++i) {
        s.GetMapping(i)->x *= float(kTex - 1) / float(w);
        s.GetMapping(i)->y *= float(kTex - 1) / float(h);
    }
}

struct Planes {
    std::vector<uint8_t> dst[4], tex[4];
    Planes(int w, int h)
    {
        for (auto& p : dst)
            p.assign(static_cast<size_t>(w) * h, 0);
        for (int c = 0; c < 4; ++c) {
            tex[c].resize(static_cast<size_t>(kTex) * kTex);
            for (int y = 0; y < kTex; ++y)
                for (int x = 0; x < kTex; ++x)
                    tex[c][static_cast<size_t>(y) * kTex + x] =
                        c == 0 ? 255 : static_cast<uint8_t>(((x / 32 + y / 32) & 1) ? 60 + 50 * c : 230 - 30 * c);
        }
    }
};

void Light(CQNF_3D_Surface2& s)
{
    static char name[] = "Key";
    CQNF_3D_Surface2::LIGHT_SOURCE l{};
    l.name = name;
    l.x = -0.4f;
    l.y = -0.3f;
    l.z = 1.0f;
    l.zKept = 1;
    l.diffuseOpacity = 70.0f;
    l.specularOpacity = 40.0f;
    l.gloss = 20.0f;
    for (int k = 0; k < 8; ++k)
        l.diffuseColour[k] = l.specularColour[k] = 255;
    l.diffuseInHighlight = l.specularInHighlight = 1;
    s.Light_Add(&l);
    uint8_t grey[8] = {255, 255, 255, 255, 255, 255, 255, 255};
    s.Light_SetAmbientLight(grey, 30.0f, grey, 30.0f, 0, 0);
    s.Light_PrecalculateLights(1);
}

void Light(CQNF_3D_Surface& s)
{
    static char name[] = "Key";
    CQNF_3D_Surface::LIGHT_SOURCE l{};
    l.name = name;
    l.enabled = 1;
    l.colourScale = 1.0f;
    for (float& c : l.colour)
        c = 0.7f;
    l.colourPercentage = 100.0f;
    l.diffusePercentage = 80.0f;
    l.x = 0.4f;
    l.y = -0.3f;
    l.z = 1.0f;
    s.Light_Add(&l);
    s.Light_SetAmbientLight(0.3f, 0.3f, 0.3f, 0.3f);
}

enum Kind { kOpt2, kOpt2Persp, kSimple2, kPhong2, kOpt1, kFull1, kPhong1 };

// Arguments: cells per side, width, height, supersampling.
template <Kind K>
void BM_HQ(benchmark::State& state)
{
    const int n = static_cast<int>(state.range(0)), w = static_cast<int>(state.range(1)),
              h = static_cast<int>(state.range(2));
    const uint8_t q = static_cast<uint8_t>(state.range(3));
    constexpr bool gen2 = K == kOpt2 || K == kOpt2Persp || K == kSimple2 || K == kPhong2;
    using S = std::conditional_t<gen2, CQNF_3D_Surface2, CQNF_3D_Surface>;
    S s;
    Wave(s, n, w, h);
    Light(s);
    Planes p(w, h);
    uint8_t* t[4] = {p.tex[1].data(), p.tex[2].data(), p.tex[3].data(), nullptr};
    uint8_t* d[4] = {p.dst[1].data(), p.dst[2].data(), p.dst[3].data(), nullptr};
    uint8_t colour[4] = {200, 100, 50, 0};
    for (auto _ : state) {
        uint8_t ok = 0;
        if constexpr (K == kOpt2 || K == kOpt2Persp || K == kOpt1)
            ok = s.RenderHQ_Opt(K == kOpt2Persp, qnt3D_VERTEX{float(w) / 2, float(h) / 2, 2000.0f}, 0, 0, q, 4, d[0],
                                d[1], d[2], d[3], p.dst[0].data(), w, w, h, 0, colour, t[0], t[1], t[2], t[3], 1,
                                colour, t[0], t[1], t[2], t[3], p.tex[0].data(), kTex, kTex, kTex, nullptr, nullptr,
                                kTex, 0.0f, 0.0f, qnNullRect, -1.0f);
        else if constexpr (K == kSimple2)
            ok = s.RenderHQ_Simple(60.0f, q, 4, d[0], d[1], d[2], d[3], p.dst[0].data(), w, w, h, 0, colour, t[0],
                                   t[1], t[2], t[3], 1, colour, t[0], t[1], t[2], t[3], p.tex[0].data(), kTex, kTex,
                                   kTex, qnNullRect);
        else if constexpr (K == kPhong2)
            ok = s.RenderHQ_Opt_InterpolatedShading(q, 4, d[0], d[1], d[2], d[3], p.dst[0].data(), w, w, h, 0, colour,
                                                    t[0], t[1], t[2], t[3], 1, colour, t[0], t[1], t[2], t[3],
                                                    p.tex[0].data(), kTex, kTex, kTex, nullptr, nullptr, kTex, 0.0f,
                                                    0.0f, qnNullRect);
        else if constexpr (K == kFull1)
            ok = s.RenderHQ(0, q, 4, 0, d[0], d[1], d[2], d[3], p.dst[0].data(), w, w, h, t[0], t[1], t[2], t[3],
                            t[0], t[1], t[2], t[3], p.tex[0].data(), kTex, kTex, kTex, nullptr, nullptr, kTex, 0.0f,
                            0.0f, qnNullRect);
        else
            ok = s.RenderHQ_Opt_1Light_8_Phong(0, q, 4, d[0], d[1], d[2], d[3], p.dst[0].data(), w, w, h, 0, colour,
                                               t[0], t[1], t[2], t[3], 1, colour, t[0], t[1], t[2], t[3],
                                               p.tex[0].data(), kTex, kTex, kTex, nullptr, nullptr, kTex, 0.0f, 0.0f,
                                               qnNullRect);
        if (!ok)
            state.SkipWithError("render failed");
        benchmark::DoNotOptimize(p.dst[0].data());
    }
    state.counters["triangles"] = s.GetTriMeshCount();
    state.SetItemsProcessed(state.iterations() * int64_t(w) * h * q * q);
}

void Sizes(benchmark::internal::Benchmark* b, bool all)
{
    const bool large = std::getenv("S3D_BENCH_LARGE") != nullptr;
    for (int q : {1, 2})
        for (int n : {32, 100, 316, 1000}) {
            for (int size : {1024, 3840}) {
                const bool big = n == 1000 || size == 3840;
                if (big && !large)
                    continue;
                if (!all && (q != 1 || n == 316))
                    continue;
                b->Args({n, size, size == 1024 ? 1024 : 2160, q});
            }
        }
    b->Unit(benchmark::kMillisecond);
}

void AllSizes(benchmark::internal::Benchmark* b) { Sizes(b, true); }
void SomeSizes(benchmark::internal::Benchmark* b) { Sizes(b, false); }

BENCHMARK(BM_HQ<kOpt2>)->Apply(AllSizes);
BENCHMARK(BM_HQ<kOpt2Persp>)->Apply(SomeSizes);
BENCHMARK(BM_HQ<kSimple2>)->Apply(SomeSizes);
BENCHMARK(BM_HQ<kPhong2>)->Apply(SomeSizes);
BENCHMARK(BM_HQ<kOpt1>)->Apply(AllSizes);
BENCHMARK(BM_HQ<kFull1>)->Apply(SomeSizes);
BENCHMARK(BM_HQ<kPhong1>)->Apply(SomeSizes);

}  // namespace

BENCHMARK_MAIN();
