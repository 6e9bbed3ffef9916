// Background shadow of the first generation: for each light that asks for
// one, the scene is turned so that the light shines along the depth axis, a
// ground rectangle behind the mesh is walked sample by sample, and the mesh
// triangles between each ground point and the light absorb the light by
// their opacity. The result is blurred with one radius or with a radius that
// grows with the distance between occluder and ground.
//
// Choices of this implementation:
//  * the light turns the scene along its own direction, as the first
//    generation's shadow maps do, so the shadow on the ground falls on the
//    same side as the shadows on the mesh;
//  * the darkness of the 2^L x 2^L samples of a pixel is summed and taken off
//    once, so full shadow stays full at every supersampling level (L is at
//    most 4), and a sample where the two ground triangles meet counts once;
//  * every light is rendered into a plane of its own, row after row, and
//    copied out with the caller's stride, so any stride works;
//  * the strength is taken as 0..100 percent.
#include "surface3d/S3DMath.h"
#include "surface3d/Surface.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>

namespace {

constexpr uint32_t kMaxLevel = 4;

// A surface the background shadow turns in place: a copy of the mesh, or the
// ground rectangle.
class Turned : public CQNF_3D_SurfaceBase {
public:
    using CQNF_3D_SurfaceBase::int_CopyMeshFrom;
    using CQNF_3D_SurfaceBase::Mapping;
    using CQNF_3D_SurfaceBase::Triangles;
    using CQNF_3D_SurfaceBase::Vertices;
};

struct Occluder {
    qnt2D_VERTEX xy[3];
    float minZ, maxZ, minY, maxY;
    bool usable;
};

// A point of a ground triangle: its sample position and light-view position.
struct GroundPoint {
    float x, y;
    qnt3D_VERTEX p;
};

GroundPoint Lerp(const GroundPoint& a, const GroundPoint& b, float t)
{
    return GroundPoint{a.x + (b.x - a.x) * t, a.y + (b.y - a.y) * t,
                       qnt3D_VERTEX{a.p.x + (b.p.x - a.p.x) * t, a.p.y + (b.p.y - a.p.y) * t,
                                    a.p.z + (b.p.z - a.p.z) * t}};
}

bool Finite(const qnt3D_VERTEX& v) { return s3d::IsFinite(v.x) && s3d::IsFinite(v.y) && s3d::IsFinite(v.z); }

}  // namespace

uint8_t CQNF_3D_Surface::int_RenderBgShadow(LIGHT_SRC* light, float groundDepth, unsigned char* texAlpha,
                                            unsigned long texStride, unsigned long texWidth, unsigned long texHeight,
                                            unsigned char* dst, unsigned long dstStride, unsigned long dstWidth,
                                            unsigned long dstHeight)
{
    if (!light || !dst || dstStride < dstWidth || !texAlpha || texStride < texWidth || !texWidth || !texHeight ||
        dstWidth > (1u << 20) || dstHeight > (1u << 20) || !s3d::IsFinite(groundDepth) || !int_IndicesValid() ||
        !int_MappingValid()) {
        SetError(qnerr::BadArgument);
        return 0;
    }
    const uint64_t W = dstWidth, H = dstHeight, pixels = W * H;
    auto fail = [&](unsigned short error) {
        SetError(error);
        for (uint64_t y = 0; y < H; ++y)
            std::memset(dst + y * dstStride, 0, static_cast<size_t>(W));
        return uint8_t{0};
    };
    const float nearR = light->bgNearRadius, farR = light->bgFarRadius;
    const uint8_t mode = light->bgBlurMode;
    // A wide blur hides what supersampling would add.
    uint32_t level = std::min<uint32_t>(light->bgLevel, kMaxLevel);
    if ((mode == 0 && farR > 3.0f) || (mode != 0 && std::min(nearR, farR) > 3.0f))
        level = 0;
    const uint32_t s = 1u << level;

    CQNF_Mem planeBlock, darkBlock, distBlock;
    const bool own = dstStride != dstWidth;
    if ((own && !planeBlock.alloc(pixels) && pixels) || (!darkBlock.Zalloc(qnMulSize({pixels, 4})) && pixels))
        return fail(qnerr::NoMemory);
    uint8_t* plane = own ? planeBlock.GetPtr() : dst;
    uint32_t* dark = reinterpret_cast<uint32_t*>(darkBlock.GetPtr());
    float* distance = nullptr;
    if (mode != 0 && pixels) {
        if (!distBlock.Zalloc(qnMulSize({pixels, sizeof(float)})))
            return fail(distBlock.GetError());
        distance = reinterpret_cast<float*>(distBlock.GetPtr());
    }

    Turned mesh, ground;
    if (!mesh.int_CopyMeshFrom(this))
        return fail(mesh.GetError());
    if (!ground.Create(4, 2))
        return fail(ground.GetError());
    *ground.GetTriMesh(0) = TRIMESH{3, 0, 1, 0};
    *ground.GetTriMesh(1) = TRIMESH{3, 2, 1, 0};
    const float fw = static_cast<float>(W), fh = static_cast<float>(H);
    const qnt3D_VERTEX corners[4] = {{0, 0, groundDepth}, {fw, 0, groundDepth}, {fw, fh, groundDepth},
                                     {0, fh, groundDepth}};
    for (uint32_t k = 0; k < 4; ++k)
        *ground.GetVertex(k) = corners[k];
    if (!ground.RecreateMappingArrayFromCurrentValues())
        return fail(ground.GetError());

    const qnt3D_VECTOR& d = light->direction;
    const float lx = d.x, ly = -d.y, lz = d.z;
    const float len = std::sqrt(lx * lx + ly * ly + lz * lz);
    const qnt3D_VECTOR dir = len > 0.0f ? qnt3D_VECTOR{lx / len, ly / len, lz / len} : qnt3D_VECTOR{0, 0, 0};
    mesh.Rotate(dir, qnt3D_VERTEX{0, 0, 0});
    ground.Rotate(dir, qnt3D_VERTEX{0, 0, 0});

    const uint32_t T = GetTriMeshCount();
    CQNF_Mem occBlock, candBlock, rowBlock;
    if ((!occBlock.alloc(qnMulSize({T, sizeof(Occluder)})) || !candBlock.alloc(qnMulSize({T, 4})) ||
         !rowBlock.alloc(qnMulSize({T, 4}))) &&
        T)
        return fail(qnerr::NoMemory);
    auto* occ = reinterpret_cast<Occluder*>(occBlock.GetPtr());
    auto* cand = reinterpret_cast<uint32_t*>(candBlock.GetPtr());
    auto* rowCand = reinterpret_cast<uint32_t*>(rowBlock.GetPtr());
    const qnt3D_VERTEX* lv = mesh.Vertices();
    const TRIMESH* tr = Triangles();
    const qnt2D_VERTEX* map = Mapping();
    for (uint32_t i = 0; i < T; ++i) {
        const qnt3D_VERTEX* p[3] = {&lv[tr[i].a], &lv[tr[i].b], &lv[tr[i].c]};
        Occluder& o = occ[i];
        o.usable = Finite(*p[0]) && Finite(*p[1]) && Finite(*p[2]);
        for (int k = 0; k < 3; ++k)
            o.xy[k] = qnt2D_VERTEX{p[k]->x, p[k]->y};
        o.minZ = std::min({p[0]->z, p[1]->z, p[2]->z});
        o.maxZ = std::max({p[0]->z, p[1]->z, p[2]->z});
        o.minY = std::min({p[0]->y, p[1]->y, p[2]->y});
        o.maxY = std::max({p[0]->y, p[1]->y, p[2]->y});
    }

    // Samples the first ground triangle took, per sample row: [first, last].
    const uint64_t sampleRows = H * s, sampleCols = W * s;
    CQNF_Mem takenBlock;
    if (!takenBlock.alloc(qnMulSize({sampleRows, 2, 8})) && sampleRows)
        return fail(qnerr::NoMemory);
    int64_t* taken = reinterpret_cast<int64_t*>(takenBlock.GetPtr());
    for (uint64_t y = 0; y < sampleRows; ++y) {
        taken[2 * y] = 0;
        taken[2 * y + 1] = -1;
    }

    const qnt3D_VERTEX* gv = ground.Vertices();
    const qnt2D_VERTEX* gm = ground.Mapping();
    const int32_t lastU = static_cast<int32_t>(std::min<uint64_t>(texWidth - 1, INT32_MAX));
    const int32_t lastV = static_cast<int32_t>(std::min<uint64_t>(texHeight - 1, INT32_MAX));
    const float scale = static_cast<float>(s);
    for (uint32_t g = 0; g < 2; ++g) {
        const TRIMESH& gt = ground.Triangles()[g];
        const uint32_t gi[3] = {gt.a, gt.b, gt.c};
        qnt2D_VERTEX gxy[3];
        float gMaxZ = -FLT_MAX;
        for (int k = 0; k < 3; ++k) {
            gxy[k] = qnt2D_VERTEX{gv[gi[k]].x, gv[gi[k]].y};
            gMaxZ = std::max(gMaxZ, gv[gi[k]].z);
        }
        uint32_t nc = 0;
        for (uint32_t i = 0; i < T; ++i)
            if (occ[i].usable && occ[i].minZ <= gMaxZ && geom2D_TestTriangeTriangleIntersection(occ[i].xy, gxy))
                cand[nc++] = i;
        if (!nc)
            continue;
        GroundPoint gp[3];
        for (int k = 0; k < 3; ++k)
            gp[k] = GroundPoint{gm[gi[k]].x * scale, gm[gi[k]].y * scale, gv[gi[k]]};
        if (gp[1].y < gp[0].y)
            std::swap(gp[0], gp[1]);
        if (gp[2].y < gp[1].y) {
            std::swap(gp[1], gp[2]);
            if (gp[1].y < gp[0].y)
                std::swap(gp[0], gp[1]);
        }
        for (int part = 0; part < 2; ++part) {
            const GroundPoint& s0 = part == 0 ? gp[0] : gp[1];
            const GroundPoint& s1 = part == 0 ? gp[1] : gp[2];
            if (!(s1.y > s0.y))
                continue;
            const int64_t yFrom = std::max<int64_t>(int64_t{s3d::TruncClamp(s0.y, -2, INT32_MAX - 1)} - 1, 0);
            const int64_t yTo =
                std::min<int64_t>(int64_t{s3d::TruncClamp(s1.y, -2, INT32_MAX - 1)} + 1, static_cast<int64_t>(sampleRows));
            for (int64_t y = yFrom; y < yTo; ++y) {
                const float fy = static_cast<float>(y);
                if (!(s0.y <= fy && fy < s1.y))
                    continue;
                GroundPoint a = Lerp(s0, s1, (fy - s0.y) / (s1.y - s0.y));
                GroundPoint b = Lerp(gp[0], gp[2], (fy - gp[0].y) / (gp[2].y - gp[0].y));
                if (b.x < a.x)
                    std::swap(a, b);
                const float rowMinY = std::min(a.p.y, b.p.y), rowMaxY = std::max(a.p.y, b.p.y);
                uint32_t nr = 0;
                for (uint32_t c = 0; c < nc; ++c)
                    if (occ[cand[c]].minY < rowMaxY && occ[cand[c]].maxY > rowMinY)
                        rowCand[nr++] = cand[c];
                const int64_t xFrom = std::max<int64_t>(int64_t{s3d::TruncClamp(a.x, -2, INT32_MAX - 1)} - 1, 0);
                const int64_t xTo = std::min<int64_t>(int64_t{s3d::TruncClamp(b.x, -2, INT32_MAX - 1)} + 1,
                                                      static_cast<int64_t>(sampleCols));
                int64_t* rowTaken = taken + 2 * y;
                for (int64_t x = xFrom; x < xTo; ++x) {
                    const float fx = static_cast<float>(x);
                    if (!(a.x <= fx && fx <= b.x))
                        continue;
                    if (g == 0) {
                        if (rowTaken[1] < rowTaken[0])
                            rowTaken[0] = x;
                        rowTaken[1] = x;
                    } else if (x >= rowTaken[0] && x <= rowTaken[1]) {
                        continue;  // the first ground triangle has this sample
                    }
                    if (!nr)
                        continue;
                    const GroundPoint p = b.x > a.x ? Lerp(a, b, (fx - a.x) / (b.x - a.x)) : a;
                    const double ground_ = static_cast<double>(p.p.z) - 0.01;
                    uint32_t t = 255;
                    double wSum = 0.0, dSum = 0.0;
                    for (uint32_t c = 0; c < nr; ++c) {
                        const TRIMESH& o = tr[rowCand[c]];
                        const qnt3D_VERTEX ta{map[o.a].x, map[o.a].y, 0}, tb{map[o.b].x, map[o.b].y, 0},
                            tc{map[o.c].x, map[o.c].y, 0};
                        SHADOW_MAP_ZVAL z;
                        if (!int_ShadowMapTriangleCalc(&z, p.p.x, p.p.y, &lv[o.a], &lv[o.b], &lv[o.c], &ta, &tb, &tc))
                            continue;
                        if (!(static_cast<double>(z.depth) < ground_))
                            continue;
                        const int32_t au = s3d::TruncClamp(z.u, 0, lastU);
                        const int32_t av = s3d::TruncClamp(z.v, 0, lastV);
                        const uint32_t alpha = texAlpha[static_cast<uint64_t>(av) * texStride + au];
                        if (distance) {
                            wSum += alpha;
                            dSum += alpha * (ground_ - z.depth);
                        }
                        if (alpha == 255) {
                            t = 0;
                            break;
                        }
                        if (alpha) {
                            t = ((255 - alpha) * t) >> 8;
                            if (!t)
                                break;
                        }
                    }
                    const uint64_t px = static_cast<uint64_t>(y >> level) * W + static_cast<uint64_t>(x >> level);
                    dark[px] += 255 - t;
                    if (distance && wSum > 0.0)
                        distance[px] += static_cast<float>(dSum / wSum);
                }
            }
        }
    }
    for (uint64_t i = 0; i < pixels; ++i) {
        const uint32_t lost = dark[i] >> (2 * level);
        plane[i] = static_cast<uint8_t>(lost >= 255 ? 0 : 255 - lost);
    }

    const unsigned long bw = static_cast<unsigned long>(W), bh = static_cast<unsigned long>(H);
    if ((mode == 1 || mode == 2) && nearR != farR)
        int_Blur_Perspective(mode == 1 ? 1 : 0, plane, bw, bh, nearR, farR, distance);
    else if ((mode == 0 || nearR == farR) && farR > 0.1f)
        int_Blur_Const(plane, bw, bh, farR);

    const float st = light->bgStrength;
    const uint32_t strength = st >= 100.0f ? 100u : st > 0.0f ? static_cast<uint32_t>(st) : 0u;
    for (uint64_t i = 0; i < pixels; ++i)
        plane[i] = static_cast<uint8_t>((255u - plane[i]) * strength / 100u);
    if (own)
        for (uint64_t y = 0; y < H; ++y)
            std::memcpy(dst + y * dstStride, plane + y * W, static_cast<size_t>(W));
    return 1;
}

uint8_t CQNF_3D_Surface::RenderHQ_BgShadow(float distance, unsigned char* texAlpha, unsigned long texStride,
                                           unsigned long texWidth, unsigned long texHeight, unsigned char* dst,
                                           unsigned long dstStride, unsigned long dstWidth, unsigned long dstHeight)
{
    if (!dst || dstStride < dstWidth || dstWidth > (1u << 20) || dstHeight > (1u << 20)) {
        SetError(qnerr::BadArgument);
        return 0;
    }
    float zmax = -1000000.0f;
    for (uint32_t i = 0; i < GetVertexCount(); ++i)
        if (s3d::IsFinite(GetVertex(i)->z))
            zmax = std::max(zmax, GetVertex(i)->z);
    const float ground = zmax + (distance > 0.1f ? distance : 0.1f);
    const uint64_t W = dstWidth, H = dstHeight;
    CQNF_Mem work;
    bool first = true;
    for (uint32_t i = 0; i < m_lights.Count(); ++i) {
        LIGHT_SRC* l = m_lights.At(i);
        if (!l->enabled || !l->bgShadow)
            continue;
        if (first) {
            if (!int_RenderBgShadow(l, ground, texAlpha, texStride, texWidth, texHeight, dst, dstStride, dstWidth,
                                    dstHeight))
                return 0;
            first = false;
            continue;
        }
        if (work.IsEmpty() && W * H != 0 && !work.alloc(W * H)) {
            SetError(work.GetError());
            return 0;
        }
        if (!int_RenderBgShadow(l, ground, texAlpha, texStride, texWidth, texHeight, work.GetPtr(), dstWidth,
                                dstWidth, dstHeight))
            return 0;
        // Light absorbed twice: each shadow takes its share of what the other left.
        const uint8_t* w = work.GetPtr();
        for (uint64_t y = 0; y < H; ++y) {
            uint8_t* row = dst + y * dstStride;
            for (uint64_t x = 0; x < W; ++x)
                row[x] = static_cast<uint8_t>(255 - (255 - row[x]) * (255 - w[y * W + x]) / 255);
        }
    }
    return 1;
}
