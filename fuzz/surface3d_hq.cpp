// libFuzzer target: the high-quality renderers and the background shadow of
// both generations on a mesh read from the input. The first eight bytes pick
// the render's settings (supersampling, channels, perspective, bump, clip,
// light direction); the rest is a mesh stream.
#include "surface3d/Surface.h"
#include "surface3d/Surface2.h"

#include <cstddef>
#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 8)
        return 0;
    const uint8_t* cfg = data;
    CQNF_3D_Surface2 s2;
    CQNF_3D_Surface s1;
    if (!s2.Create(data + 8, size - 8) || !s1.Create(data + 8, size - 8))
        return 0;
    if (s2.GetTriMeshCount() > 64)
        return 0;  // keep each input quick
    s2.RecreateMappingArrayFromCurrentValues();
    s1.RecreateMappingArrayFromCurrentValues();

    const uint8_t q = static_cast<uint8_t>(1 + cfg[0] % 4);
    const uint8_t n = static_cast<uint8_t>(cfg[1] % 7);  // 0 and 6 are refused
    const uint8_t perspective = cfg[2] & 1, autoCentre = cfg[2] & 2, bump = cfg[2] & 4, solid = cfg[2] & 8;
    const qntRECT_s clip = (cfg[3] & 1) ? qnNullRect
                                        : qntRECT_s{int8_t(cfg[3]) / 8, int8_t(cfg[4]) / 8, 8 + cfg[3] % 16,
                                                    6 + cfg[4] % 12};
    const float lx = int8_t(cfg[5]) / 64.0f, ly = int8_t(cfg[6]) / 64.0f, lz = 0.2f + cfg[7] / 128.0f;

    constexpr int W = 16, H = 12, T = 8;
    std::vector<uint8_t> dst[5], tex[9], bumpMap(T * T);
    for (auto& p : dst)
        p.assign(W * H, 7);
    for (int i = 0; i < 9; ++i)
        tex[i].assign(T * T, static_cast<uint8_t>(40 + 25 * i));
    for (int i = 0; i < T * T; ++i)
        bumpMap[i] = data[(8 + i) % size];
    uint8_t* d[4] = {dst[1].data(), dst[2].data(), dst[3].data(), dst[4].data()};
    uint8_t* f[4] = {tex[1].data(), tex[2].data(), tex[3].data(), tex[4].data()};
    uint8_t* b[4] = {tex[5].data(), tex[6].data(), tex[7].data(), tex[8].data()};
    uint8_t colour[7] = {10, 20, 30, 40, 50, 60, 70};
    uint8_t* bm = bump ? bumpMap.data() : nullptr;

    char name[] = "L";
    CQNF_3D_Surface2::LIGHT_SOURCE l2{};
    l2.name = name;
    l2.x = lx;
    l2.y = ly;
    l2.z = lz;
    l2.diffuseOpacity = l2.specularOpacity = 60.0f;
    l2.gloss = 20.0f;
    l2.diffuseInHighlight = l2.specularInShadow = 1;
    l2.castsShadow = 1;
    l2.shadowIntensity = 70.0f;
    s2.Light_Add(&l2);
    s2.Light_PrecalculateLights(1);
    s2.Light_CreateShadowMapStorage(name, T, T);
    const qnt3D_VERTEX centre{8, 6, 20};
    s2.RenderHQ_Opt(perspective, centre, autoCentre, 1, q, n, d[0], d[1], d[2], d[3], dst[0].data(), W, W, H, solid,
                    colour, f[0], f[1], f[2], f[3], 0, colour, b[0], b[1], b[2], b[3], tex[0].data(), T, T, T, bm, bm,
                    T, 1.5f, 0.5f, clip, cfg[7] & 1 ? 40.0f : -1.0f);
    s2.RenderHQ_Simple(70.0f, q, n, d[0], d[1], d[2], d[3], dst[0].data(), W, W, H, 0, colour, f[0], f[1], f[2], f[3],
                       solid, colour, b[0], b[1], b[2], b[3], tex[0].data(), T, T, T, clip);
    s2.RenderHQ_Opt_InterpolatedShading(q, n, d[0], d[1], d[2], d[3], dst[0].data(), W, W, H, solid, colour, f[0],
                                        f[1], f[2], f[3], 0, colour, b[0], b[1], b[2], b[3], tex[0].data(), T, T, T,
                                        bm, bm, T, 1.0f, 1.0f, clip);

    CQNF_3D_Surface::LIGHT_SOURCE l1{};
    l1.name = name;
    l1.enabled = 1;
    l1.colourScale = 1.0f;
    l1.colour[0] = l1.colour[1] = l1.colour[2] = l1.colour[3] = 0.6f;
    l1.colourPercentage = 100.0f;
    l1.diffusePercentage = 70.0f;
    l1.x = lx;
    l1.y = ly;
    l1.z = lz;
    l1.shadowIntensity = 50.0f;
    l1.bgShadow = 1;
    l1.bgStrength = 80.0f;
    l1.bgLevel = cfg[0] >> 6;
    l1.bgBlurMode = cfg[1] >> 6;
    l1.bgNearRadius = (cfg[2] >> 4) / 4.0f;
    l1.bgFarRadius = (cfg[3] >> 4) / 3.0f;
    s1.Light_Add(&l1);
    s1.Light_SetAmbientLight(0.2f, 0.2f, 0.2f, 0.2f);
    s1.Light_CreateShadowMapStorage(name, T, T);
    s1.RenderHQ_Opt(perspective, centre, autoCentre, 1, q, n, d[0], d[1], d[2], d[3], dst[0].data(), W, W, H, solid,
                    colour, f[0], f[1], f[2], f[3], 0, colour, b[0], b[1], b[2], b[3], tex[0].data(), T, T, T, bm, bm,
                    T, 1.5f, 0.5f, clip, -1.0f);
    s1.RenderHQ(1, q, n, 0, d[0], d[1], d[2], d[3], dst[0].data(), W, W, H, f[0], f[1], f[2], f[3], b[0], b[1], b[2],
                b[3], tex[0].data(), T, T, T, bm, bm, T, 2.0f, 2.0f, clip);
    s1.RenderHQ_Opt_1Light_8_Phong(1, q, n, d[0], d[1], d[2], d[3], dst[0].data(), W, W, H, solid, colour, f[0], f[1],
                                   f[2], f[3], 0, colour, b[0], b[1], b[2], b[3], tex[0].data(), T, T, T, bm, bm, T,
                                   1.0f, 1.0f, clip);
    std::vector<uint8_t> ground(W * H);
    s1.RenderHQ_BgShadow(cfg[4] / 16.0f, tex[0].data(), T, T, T, ground.data(), W, W, H);
    return 0;
}
