// Mesh renderer benchmarks: the previews over wave grids of growing size,
// vertex normals, both shadow-map generators and the light-mask blurs.
//   build/release/bench/bench_surface3d   (the release build scripts/test.sh makes)
#include "imaging/Image.h"
#include "surface3d/Surface2.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

namespace {

// An n x n cell wave over a size x size picture, mapping = position.
void Wave(CQNF_3D_Surface2& s, int n, float size)
{
    s.Create(static_cast<unsigned long>((n + 1) * (n + 1)), static_cast<unsigned long>(2 * n * n));
    for (int j = 0; j <= n; ++j)
        for (int i = 0; i <= n; ++i) {
            const float x = size * i / n, y = size * j / n;
            *s.GetVertex(j * (n + 1) + i) = {x, y, 20.0f * std::sin(x / 40.0f) * std::cos(y / 40.0f)};
        }
    uint32_t t = 0;
    for (int j = 0; j < n; ++j)
        for (int i = 0; i < n; ++i) {
            const uint32_t a = j * (n + 1) + i, b = a + 1, c = a + n + 2, d = a + n + 1;
            *s.GetTriMesh(t++) = {a, b, c, 7};
            *s.GetTriMesh(t++) = {a, c, d, 7};
        }
    s.RecreateMappingArrayFromCurrentValues();
}

void BM_FlatPreview(benchmark::State& state)
{
    const int size = 1024;
    CQNF_3D_Surface2 s;
    Wave(s, static_cast<int>(state.range(0)), size - 1);
    CQNF_Image img;
    img.Create(size, size, 2);
    for (auto _ : state)
        benchmark::DoNotOptimize(s.RenderFlatShadedSurface(&img, 0, 0, qnNullRect, static_cast<uint8_t>(state.range(1)),
                                                           qntRGBA8{0, 0, 0, state.range(1) ? uint8_t(255) : uint8_t(0)},
                                                           qntRGBA8{90, 150, 220, 255}, qntRGBA8{200, 90, 60, 255}));
    state.counters["triangles"] = s.GetTriMeshCount();
    state.SetItemsProcessed(state.iterations() * int64_t(size) * size);
}
BENCHMARK(BM_FlatPreview)->Args({32, 0})->Args({100, 0})->Args({316, 0})->Args({100, 1})->Unit(benchmark::kMillisecond);

void BM_DraftPreview(benchmark::State& state)
{
    const int size = 1024;
    CQNF_3D_Surface2 s;
    Wave(s, static_cast<int>(state.range(0)), size - 1);
    if (state.range(1))
        s.Rotate(0.3f, 0.2f, 0.1f, qnt3D_VERTEX{512, 512, 0});  // the interpolating path
    CQNF_Image img, front, back;
    img.Create(size, size, 2);
    front.Create(size, size, 2);
    back.Create(size, size, 1);
    front.Set(qntRGBA8{200, 100, 50, 255}, 255);
    back.Set(qntRGBA8{20, 10, 5, 255}, 255);
    for (auto _ : state)
        benchmark::DoNotOptimize(s.RenderDraftTexturedSurface(&img, 0, 0, &front, &back, qnNullRect));
    state.SetItemsProcessed(state.iterations() * int64_t(size) * size);
}
BENCHMARK(BM_DraftPreview)->Args({100, 0})->Args({100, 1})->Unit(benchmark::kMillisecond);

void BM_MeshGrid(benchmark::State& state)
{
    CQNF_3D_Surface2 s;
    Wave(s, 100, 1023);
    CQNF_Image img;
    img.Create(1024, 1024, 2);
    for (auto _ : state)
        benchmark::DoNotOptimize(s.RenderMeshGrid(&img, 0, 0, qnNullRect, static_cast<uint8_t>(state.range(0)),
                                                  qntRGBA8{255, 255, 255, 255}));
}
BENCHMARK(BM_MeshGrid)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_VertexNormals(benchmark::State& state)
{
    CQNF_3D_Surface2 s;
    Wave(s, static_cast<int>(state.range(0)), 1023);
    for (auto _ : state)
        benchmark::DoNotOptimize(s.PrepareVertexNormalsArray());
    state.SetItemsProcessed(state.iterations() * s.GetTriMeshCount());
}
BENCHMARK(BM_VertexNormals)->Arg(100)->Arg(316)->Unit(benchmark::kMillisecond);

// A wave with a card above it, as the shadow generators see it.
void ShadowScene(CQNF_3D_Surface2& s, int n)
{
    Wave(s, n, 255);
    const uint32_t v = s.GetVertexCount(), t = s.GetTriMeshCount();
    s.Create(v + 4ul, t + 2ul);
    const qnt3D_VERTEX card[4] = {{80, 80, -60}, {160, 80, -60}, {160, 160, -60}, {80, 160, -60}};
    for (uint32_t k = 0; k < 4; ++k)
        *s.GetVertex(v + k) = card[k];
    *s.GetTriMesh(t) = {v, v + 1, v + 2, 1};
    *s.GetTriMesh(t + 1) = {v, v + 2, v + 3, 1};
    s.RecreateMappingArrayFromCurrentValues();
    char name[] = "L";
    CQNF_3D_Surface2::LIGHT_SOURCE l{};
    l.name = name;
    l.x = -0.3f;
    l.y = 0.2f;
    l.z = 1;
    l.zKept = 1;
    l.castsShadow = 1;
    l.shadowSoftness = 1;
    s.Light_Add(&l);
    s.Light_PrecalculateLights(1);
    s.Light_CreateShadowMapStorage(name, 256, 256);
}

void BM_ShadowPairwise(benchmark::State& state)
{
    CQNF_3D_Surface2 s;
    ShadowScene(s, static_cast<int>(state.range(0)));
    std::vector<uint8_t> alpha(256 * 256, 255);
    for (auto _ : state)
        benchmark::DoNotOptimize(
            s.int_GenerateInternalLightShadowMap(s.int_Light_Get(0), alpha.data(), 256, 256, 256, 1.0f, 0, 100));
    state.counters["triangles"] = s.GetTriMeshCount();
}
BENCHMARK(BM_ShadowPairwise)->Arg(8)->Arg(24)->Unit(benchmark::kMillisecond);

void BM_ShadowTiled(benchmark::State& state)
{
    CQNF_3D_Surface2 s;
    ShadowScene(s, static_cast<int>(state.range(0)));
    std::vector<uint8_t> alpha(256 * 256, 255);
    for (auto _ : state)
        benchmark::DoNotOptimize(
            s.int_GenerateInternalLightShadowMap_v2(s.int_Light_Get(0), alpha.data(), 256, 256, 256, 1.0f, 0, 100));
    state.counters["triangles"] = s.GetTriMeshCount();
}
BENCHMARK(BM_ShadowTiled)->Arg(8)->Arg(24)->Arg(100)->Unit(benchmark::kMillisecond);

void BM_BlurConst(benchmark::State& state)
{
    std::vector<uint8_t> plane(1024 * 1024);
    for (size_t i = 0; i < plane.size(); ++i)
        plane[i] = static_cast<uint8_t>(i * 7);
    const float sigma = static_cast<float>(state.range(0));
    for (auto _ : state)
        CQNF_3D_SurfaceBase::int_Blur_Const(plane.data(), 1024, 1024, sigma);
    state.SetItemsProcessed(state.iterations() * int64_t(plane.size()));
}
BENCHMARK(BM_BlurConst)->Arg(1)->Arg(4)->Arg(16)->Unit(benchmark::kMillisecond);

void BM_BlurPerspective(benchmark::State& state)
{
    const int w = 256;
    std::vector<uint8_t> plane(w * w, 255), work;
    std::vector<float> depth(w * w, 0.0f), depthWork;
    for (int y = 64; y < 192; ++y)
        for (int x = 64; x < 192; ++x) {
            plane[y * w + x] = 0;
            depth[y * w + x] = 1.0f + float(x) / 64.0f;
        }
    for (auto _ : state) {
        work = plane;
        depthWork = depth;
        CQNF_3D_SurfaceBase::int_Blur_Perspective(static_cast<uint8_t>(state.range(0)), work.data(), w, w, 0.5f, 4.0f,
                                                  depthWork.data());
    }
}
BENCHMARK(BM_BlurPerspective)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
