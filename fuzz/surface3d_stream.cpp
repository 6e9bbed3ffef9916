// libFuzzer target: the mesh stream reader on arbitrary bytes, and what a
// caller does with a mesh it accepted: mapping, normals, a flat and a draft
// preview, and a pairwise and a tiled shadow map.
#include "imaging/Image.h"
#include "surface3d/Surface2.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace {

// The extent, in mesh units, of a mesh the flat preview and the shadow maps
// take (see below).
constexpr float kModest = 2048.0f;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    CQNF_3D_Surface2 s;
    if (!s.Create(data, size))
        return 0;
    // The reader takes only meshes whose indices name existing vertices.
    for (uint32_t t = 0; t < s.GetTriMeshCount(); ++t) {
        const auto* tr = s.GetTriMesh(t);
        if (tr->a >= s.GetVertexCount() || tr->b >= s.GetVertexCount() || tr->c >= s.GetVertexCount())
            __builtin_trap();
    }
    // The shadow generators keep one fragment list per texel, so a pile of
    // triangles over one spot costs the square of their number; 64 keeps an
    // instrumented run well inside the time limit and still overlaps plenty.
    if (s.GetTriMeshCount() > 64)
        return 0;
    // The shadow generators rasterise the mesh in light space at one texel
    // per unit, and the flat preview walks each mesh line pixel by pixel
    // along its whole length, inside the picture or not: their work grows
    // with the mesh's extent (a line across 2^31 units is 2^31 steps). The
    // draft preview and the grid take any mesh; the flat preview and the
    // shadow maps only meshes of a size one can wait for.
    bool modest = true;
    for (uint32_t v = 0; v < s.GetVertexCount() && modest; ++v) {
        const qnt3D_VERTEX* p = s.GetVertex(v);
        modest = p && std::fabs(p->x) < kModest && std::fabs(p->y) < kModest && std::fabs(p->z) < kModest;
    }
    s.RecreateMappingArrayFromCurrentValues();
    s.PrepareVertexNormalsArray();
    CQNF_Image img, tex, back;
    img.Create(48, 40, 2);
    tex.Create(32, 32, 2);
    back.Create(32, 32, 1);
    img.Set(qntRGBA8{0, 0, 0, 0}, 255);
    tex.Set(qntRGBA8{200, 100, 50, 255}, 255);
    back.Set(qntRGBA8{20, 10, 5, 255}, 255);
    s.RenderDraftTexturedSurface(&img, 2, -3, &tex, &back, qnNullRect);
    s.RenderMeshGrid(&img, 0, 0, qnNullRect, 1, qntRGBA8{255, 0, 0, 128});
    if (!modest)
        return 0;
    s.RenderFlatShadedSurface(&img, 0, 0, qnNullRect, 1, qntRGBA8{255, 255, 255, 255}, qntRGBA8{9, 9, 9, 255},
                              qntRGBA8{90, 90, 90, 255});

    char name[] = "L";
    CQNF_3D_Surface2::LIGHT_SOURCE l{};
    l.name = name;
    l.x = 0.3f;
    l.y = -0.2f;
    l.z = 1.0f;
    l.zKept = 1;
    l.castsShadow = 1;
    l.shadowSoftness = 1.0f;
    s.Light_Add(&l);
    s.Light_PrecalculateLights(1);
    std::vector<uint8_t> alpha(32 * 32, 200);
    s.Light_CreateShadowMapStorage(name, 32, 32);
    s.int_GenerateInternalLightShadowMap(s.int_Light_Get(0), alpha.data(), 32, 32, 32, 1.0f, 0, 100);
    s.Light_GenerateAllInnerShadowMaps(alpha.data(), 32, 32, 32, 1.0f);
    return 0;
}
