// The pairwise shadow-map generator shared by both generations: each
// receiving triangle is rasterised over the texture, and each of its samples
// is tested against the triangles that overlap it in the light's view and lie
// nearer the light. Occluders let light through by their texture alpha.
#include "surface3d/S3DMath.h"
#include "surface3d/SurfaceBase.h"

#include <algorithm>
#include <cstring>

namespace {

// A light-space copy of the mesh, made by the generators and dropped after.
class LightSpaceMesh : public CQNF_3D_SurfaceBase {
public:
    using CQNF_3D_SurfaceBase::int_CopyMeshFrom;
    using CQNF_3D_SurfaceBase::Triangles;
    using CQNF_3D_SurfaceBase::Vertices;
};

// What the occluder search needs of each triangle in light space.
struct LightSpaceTriangle {
    qnt2D_VERTEX xy[3];
    float minZ, maxZ, minY, maxY;
    bool usable;  // every coordinate and texture coordinate finite
};

bool Finite(const qnt3D_VERTEX& v) { return s3d::IsFinite(v.x) && s3d::IsFinite(v.y) && s3d::IsFinite(v.z); }

// A point of the receiving triangle: texture position (scaled to samples)
// and its light-space position.
struct TexPoint {
    float u, v;
    qnt3D_VERTEX p;
};

TexPoint Lerp(const TexPoint& a, const TexPoint& b, float t)
{
    return TexPoint{a.u + (b.u - a.u) * t, a.v + (b.v - a.v) * t,
                    qnt3D_VERTEX{a.p.x + (b.p.x - a.p.x) * t, a.p.y + (b.p.y - a.p.y) * t,
                                 a.p.z + (b.p.z - a.p.z) * t}};
}

}  // namespace

bool CQNF_3D_SurfaceBase::int_CheckShadowInputs(const uint8_t* map, uint32_t mapWidth, uint32_t mapHeight,
                                                const uint8_t* alpha, unsigned long alphaRowLength,
                                                unsigned long width, unsigned long height)
{
    const bool sizeOk = width <= UINT32_MAX && height <= UINT32_MAX && mapWidth == width && mapHeight == height &&
                        (map || width == 0 || height == 0);
    if (!sizeOk || !alpha || alphaRowLength < width || !int_IndicesValid() || !int_MappingValid()) {
        SetError(qnerr::BadArgument);
        return false;
    }
    return true;
}

uint8_t CQNF_3D_SurfaceBase::int_ShadowPairwise(const PAIRWISE_JOB& job)
{
    const double step = (job.to - job.from) / 100.0;
    auto stage = [&](double k) {
        if (!job.progress)
            return true;
        if (int_IsCanceled())
            return false;
        int_ReportProgress(job.from + k * step);
        return true;
    };
    const uint64_t texels = static_cast<uint64_t>(job.width) * job.height;
    if (!stage(0))
        return 0;
    if (texels)
        std::memset(job.map, 255, static_cast<size_t>(texels));
    if (!stage(1))
        return 0;
    LightSpaceMesh ls;
    if (!ls.int_CopyMeshFrom(this)) {
        SetError(ls.GetError());
        return 0;
    }
    if (!stage(3))
        return 0;
    ls.Rotate(job.direction, qnt3D_VERTEX{0.0f, 0.0f, 0.0f});
    if (!stage(4))
        return 0;
    const uint32_t T = m_triangleCount;
    CQNF_Mem infoBlock, candBlock, rowCandBlock, texBlock, accBlock;
    if (!infoBlock.alloc(qnMulSize({T, sizeof(LightSpaceTriangle)})) && T) {
        SetError(infoBlock.GetError());
        return 0;
    }
    if ((!candBlock.alloc(qnMulSize({T, 4})) || !rowCandBlock.alloc(qnMulSize({T, 4}))) && T) {
        SetError(qnerr::NoMemory);
        return 0;
    }
    if (!stage(5))
        return 0;
    // Texture coordinates as points, in texel units, for the occluder lookup.
    if (!texBlock.alloc(qnMulSize({m_vertexCount, sizeof(qnt3D_VERTEX)})) && m_vertexCount) {
        SetError(texBlock.GetError());
        return 0;
    }
    qnt3D_VERTEX* tex = reinterpret_cast<qnt3D_VERTEX*>(texBlock.GetPtr());
    const qnt2D_VERTEX* map2 = Mapping();
    for (uint32_t i = 0; i < m_vertexCount; ++i)
        tex[i] = qnt3D_VERTEX{map2[i].x, map2[i].y, 0.0f};
    const qnt3D_VERTEX* lv = ls.Vertices();
    const TRIMESH* tr = Triangles();
    auto* info = reinterpret_cast<LightSpaceTriangle*>(infoBlock.GetPtr());
    for (uint32_t i = 0; i < T; ++i) {
        const qnt3D_VERTEX* p[3] = {&lv[tr[i].a], &lv[tr[i].b], &lv[tr[i].c]};
        LightSpaceTriangle& t = info[i];
        t.usable = Finite(*p[0]) && Finite(*p[1]) && Finite(*p[2]) && Finite(tex[tr[i].a]) && Finite(tex[tr[i].b]) &&
                   Finite(tex[tr[i].c]);
        for (int k = 0; k < 3; ++k)
            t.xy[k] = qnt2D_VERTEX{p[k]->x, p[k]->y};
        t.minZ = std::min({p[0]->z, p[1]->z, p[2]->z});
        t.maxZ = std::max({p[0]->z, p[1]->z, p[2]->z});
        t.minY = std::min({p[0]->y, p[1]->y, p[2]->y});
        t.maxY = std::max({p[0]->y, p[1]->y, p[2]->y});
    }
    if (!stage(6))
        return 0;
    // Darkness is summed per texel over all samples and receivers and taken
    // off once at the end: exact for any supersampling, and a texel that
    // several receivers cover goes down to 0, never round past it.
    if (!accBlock.Zalloc(qnMulSize({texels, 4})) && texels) {
        SetError(accBlock.GetError());
        return 0;
    }
    uint32_t* acc = reinterpret_cast<uint32_t*>(accBlock.GetPtr());
    if (!stage(7))
        return 0;

    uint32_t* cand = reinterpret_cast<uint32_t*>(candBlock.GetPtr());
    uint32_t* rowCand = reinterpret_cast<uint32_t*>(rowCandBlock.GetPtr());
    const uint32_t level = std::min<uint32_t>(job.level, 4);
    const float scale = static_cast<float>(1u << level);
    const int64_t sw = static_cast<int64_t>(job.width) << level;
    const int64_t sh = static_cast<int64_t>(job.height) << level;
    const int32_t lastCol = job.width ? static_cast<int32_t>(std::min<uint64_t>(job.width - 1, INT32_MAX)) : 0;
    const int32_t lastRow = job.height ? static_cast<int32_t>(std::min<uint64_t>(job.height - 1, INT32_MAX)) : 0;

    for (uint32_t i = 0; i < T; ++i) {
        const LightSpaceTriangle& recv = info[i];
        uint32_t nc = 0;
        if (recv.usable && texels) {
            for (uint32_t j = 0; j < T; ++j) {
                if (j == i || !info[j].usable || !(info[j].minZ <= recv.maxZ))
                    continue;
                if (geom2D_TestTriangeTriangleIntersection(info[j].xy, recv.xy))
                    cand[nc++] = j;
            }
        }
        if (nc) {
            const uint32_t idx[3] = {tr[i].a, tr[i].b, tr[i].c};
            TexPoint tp[3];
            for (int k = 0; k < 3; ++k)
                tp[k] = TexPoint{tex[idx[k]].x * scale, tex[idx[k]].y * scale, lv[idx[k]]};
            // Stable order by v.
            if (tp[1].v < tp[0].v)
                std::swap(tp[0], tp[1]);
            if (tp[2].v < tp[1].v) {
                std::swap(tp[1], tp[2]);
                if (tp[1].v < tp[0].v)
                    std::swap(tp[0], tp[1]);
            }
            for (int part = 0; part < 2; ++part) {
                const TexPoint& s0 = part == 0 ? tp[0] : tp[1];
                const TexPoint& s1 = part == 0 ? tp[1] : tp[2];
                const TexPoint& l0 = tp[0];
                const TexPoint& l1 = tp[2];
                const float vStart = s0.v, vEnd = s1.v;
                if (!(vEnd > vStart))
                    continue;
                const int64_t yFrom = std::max<int64_t>(s3d::TruncClamp(vStart, -2, INT32_MAX - 1) - 1, 0);
                const int64_t yTo = std::min<int64_t>(int64_t{s3d::TruncClamp(vEnd, -2, INT32_MAX - 1)} + 1, sh);
                for (int64_t y = yFrom; y < yTo; ++y) {
                    const float fy = static_cast<float>(y);
                    if (!(vStart < fy && fy < vEnd))
                        continue;
                    TexPoint a = Lerp(s0, s1, (fy - s0.v) / (s1.v - s0.v));
                    TexPoint b = Lerp(l0, l1, (fy - l0.v) / (l1.v - l0.v));
                    if (b.u < a.u)
                        std::swap(a, b);
                    const float rowMinY = std::min(a.p.y, b.p.y), rowMaxY = std::max(a.p.y, b.p.y);
                    uint32_t nr = 0;
                    for (uint32_t c = 0; c < nc; ++c)
                        if (info[cand[c]].minY < rowMaxY && info[cand[c]].maxY > rowMinY)
                            rowCand[nr++] = cand[c];
                    if (!nr)
                        continue;
                    const int64_t xFrom = std::max<int64_t>(s3d::TruncClamp(a.u, -2, INT32_MAX - 1) - 1, 0);
                    const int64_t xTo = std::min<int64_t>(int64_t{s3d::TruncClamp(b.u, -2, INT32_MAX - 1)} + 1, sw);
                    const uint64_t texelRow = static_cast<uint64_t>(y >> level) * job.width;
                    for (int64_t x = xFrom; x < xTo; ++x) {
                        const float fx = static_cast<float>(x);
                        if (!(a.u < fx && fx <= b.u))
                            continue;
                        const TexPoint p = Lerp(a, b, (fx - a.u) / (b.u - a.u));
                        uint32_t transmitted = 255;
                        float weightSum = 0.0f, distSum = 0.0f;
                        for (uint32_t c = 0; c < nr; ++c) {
                            const TRIMESH& o = tr[rowCand[c]];
                            SHADOW_MAP_ZVAL z;
                            if (!int_ShadowMapTriangleCalc(&z, p.p.x, p.p.y, &lv[o.a], &lv[o.b], &lv[o.c], &tex[o.a],
                                                           &tex[o.b], &tex[o.c]))
                                continue;
                            const float gap = p.p.z - 0.01f - z.depth;
                            if (!(gap > 0.0f))
                                continue;
                            const int32_t au = s3d::TruncClamp(z.u, 0, lastCol);
                            const int32_t av = s3d::TruncClamp(z.v, 0, lastRow);
                            const uint32_t alpha = job.alpha[static_cast<uint64_t>(av) * job.alphaRowLength + au];
                            if (job.distance) {
                                weightSum += static_cast<float>(alpha);
                                distSum += static_cast<float>(alpha) * gap;
                            }
                            if (alpha == 255) {
                                transmitted = 0;
                                break;
                            }
                            if (alpha != 0) {
                                transmitted = ((255 - alpha) * transmitted) >> 8;
                                if (transmitted == 0)
                                    break;
                            }
                        }
                        const uint64_t t = texelRow + static_cast<uint64_t>(x >> level);
                        const uint32_t dark = 255 - transmitted;
                        acc[t] = acc[t] > UINT32_MAX - dark ? UINT32_MAX : acc[t] + dark;
                        if (job.distance && weightSum > 0.0f)
                            job.distance[t] += distSum / weightSum;
                    }
                }
            }
        }
        if (!stage(7.0 + 83.0 * (i + 1) / T))
            return 0;
    }
    for (uint64_t t = 0; t < texels; ++t) {
        const uint32_t dark = acc[t] >> (2 * level);
        job.map[t] = static_cast<uint8_t>(dark >= 255 ? 0 : 255 - dark);
    }
    return 1;
}
