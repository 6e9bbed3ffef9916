// Shadow maps of the second-generation surface: the pairwise generator, the
// tiled light-space generator with its fragment lists, the driver over all
// shadow-casting lights, and the blur through the image filter engine.
#include "imaging/ImageFX.h"
#include "surface3d/S3DMath.h"
#include "surface3d/Surface2.h"
#include "surface3d/TriangleWalk.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

namespace {

// Light-space rasters wider or taller than this are refused: a mesh that
// large in the light's view is beyond any texture this system renders, and
// the tile loop's cost grows with its area.
constexpr int64_t kMaxLightRaster = 65536;

constexpr uint16_t kEmptyValue = 65535;

class LightSpaceMesh2 : public CQNF_3D_SurfaceBase {
public:
    using CQNF_3D_SurfaceBase::int_CopyMeshFrom;
    using CQNF_3D_SurfaceBase::Triangles;
    using CQNF_3D_SurfaceBase::Vertices;
};

// The rotation that takes the light vector L onto +z: Rotate() maps
// (n.x, -n.y, n.z) onto +z, so it is given (lx, -ly, lz), normalised.
qnt3D_VECTOR LightSpaceDirection(const qnt3D_VECTOR& L)
{
    const float x = L.x, y = -L.y, z = L.z;
    const float len = std::sqrt(x * x + y * y + z * z);
    if (!(len > 0.0f))
        return qnt3D_VECTOR{0.0f, 0.0f, 0.0f};
    return qnt3D_VECTOR{x / len, y / len, z / len};
}

bool Finite3(const qnt3D_VERTEX& v) { return s3d::IsFinite(v.x) && s3d::IsFinite(v.y) && s3d::IsFinite(v.z); }

using Fragment = CQNF_3D_Surface2::SHADOW_FRAGMENT;

Fragment* FragmentAt(CQNF_3D_Surface2::SHADOWRENDERER_DATA* d, uint32_t index)
{
    const uint32_t block = index / d->fragmentsPerBlock;
    return reinterpret_cast<Fragment*>(d->blocks[block]->GetPtr()) + (index % d->fragmentsPerBlock);
}

}  // namespace

bool CQNF_3D_Surface2::int_CheckShadowJob(const INTERNAL_LIGHT_SOURCE* light, const unsigned char* alpha,
                                          unsigned long alphaRowLength, unsigned long width, unsigned long height)
{
    if (!light) {
        SetError(qnerr::BadArgument);
        return false;
    }
    return int_CheckShadowInputs(light->shadowMap, light->shadowMapWidth, light->shadowMapHeight, alpha,
                                 alphaRowLength, width, height);
}

uint8_t CQNF_3D_Surface2::int_GenerateInternalLightShadowMap(INTERNAL_LIGHT_SOURCE* light, unsigned char* alpha,
                                                             unsigned long alphaRowLength, unsigned long width,
                                                             unsigned long height, float blurScale,
                                                             double progressFrom, double progressTo)
{
    if (!int_CheckShadowJob(light, alpha, alphaRowLength, width, height))
        return 0;
    const float sigma = blurScale * light->source.shadowSoftness;
    PAIRWISE_JOB job{light->shadowMap, static_cast<uint32_t>(width), static_cast<uint32_t>(height), alpha,
                     alphaRowLength, LightSpaceDirection(light->lightVector), 0, nullptr, true, progressFrom,
                     progressTo};
    const double step = (progressTo - progressFrom) / 100.0;
    const uint64_t texels = static_cast<uint64_t>(width) * height;
    if (!int_ShadowPairwise(job) || int_IsCanceled()) {
        // A half-made map would darken later renders: leave the light unshadowed.
        if (texels)
            std::memset(light->shadowMap, 255, static_cast<size_t>(texels));
        return 0;
    }
    int_ReportProgress(progressFrom + 91.0 * step);
    if (sigma > 0.1f)
        int_Blur_Const(light->shadowMap, width, height, sigma);
    int_ReportProgress(progressTo);
    return 1;
}

uint8_t CQNF_3D_Surface2::int_DrawYLine_ShadowMapping(SHADOWRENDERER_DATA* d)
{
    if (!d || !d->tile || !d->alpha || d->fragmentsPerBlock == 0)
        return 1;
    int32_t x0 = d->x0, x1 = d->x1;
    float z0 = d->z0, z1 = d->z1, u0 = d->u0, v0 = d->v0, u1 = d->u1, v1 = d->v1;
    if (x0 == x1)
        return 1;
    if (x0 > x1) {
        std::swap(x0, x1);
        std::swap(z0, z1);
        std::swap(u0, u1);
        std::swap(v0, v1);
    }
    // The tile rectangle must fit the cell array it addresses.
    const int64_t tileW = static_cast<int64_t>(d->clipRight) - d->clipLeft;
    const int64_t tileH = static_cast<int64_t>(d->clipBottom) - d->clipTop;
    if (tileW <= 0 || tileH <= 0 || tileW > d->tileRowLength || tileH > d->tileHeight)
        return 1;
    if (d->y < d->clipTop || d->y >= d->clipBottom || x1 <= d->clipLeft || x0 >= d->clipRight)
        return 1;
    const int32_t xs = std::max(x0, d->clipLeft);
    const int32_t xe = std::min(x1, d->clipRight);
    const float span = static_cast<float>(static_cast<int64_t>(x1) - x0);
    const float dz = (z1 - z0) / span, du = (u1 - u0) / span, dv = (v1 - v0) / span;
    const float lead = static_cast<float>(static_cast<int64_t>(xs) - x0);
    float z = z0 + dz * lead, u = u0 + du * lead, v = v0 + dv * lead;
    Fragment* row = d->tile + static_cast<int64_t>(d->y - d->clipTop) * d->tileRowLength;
    const float aw = static_cast<float>(d->alphaWidth), ah = static_cast<float>(d->alphaHeight);
    for (int32_t x = xs; x < xe; ++x, z += dz, u += du, v += dv) {
        if (!(u > -1.0f && u < aw && v > -1.0f && v < ah))
            continue;  // texel outside the alpha plane (or not a number)
        const int32_t tu = static_cast<int32_t>(u), tv = static_cast<int32_t>(v);
        if (tu < 0 || tv < 0 || static_cast<uint32_t>(tu) >= d->alphaWidth ||
            static_cast<uint32_t>(tv) >= d->alphaHeight)
            continue;
        const uint8_t alpha = d->alpha[static_cast<uint64_t>(tv) * d->alphaWidth + tu];
        Fragment& head = row[x - d->clipLeft];
        if (head.value == kEmptyValue) {
            head = Fragment{z, kNoFragment, alpha, static_cast<uint16_t>(tu), static_cast<uint16_t>(tv)};
            continue;
        }
        // One fragment per surface patch: near depth and texel means the
        // same surface seen again by a neighbouring triangle.
        bool known = false;
        for (const Fragment* f = &head; f; f = f->next == kNoFragment ? nullptr : FragmentAt(d, f->next)) {
            if (std::fabs(f->depth - z) < 20.0f && std::abs(int32_t{f->tu} - tu) <= 3 &&
                std::abs(int32_t{f->tv} - tv) <= 3) {
                known = true;
                break;
            }
        }
        if (known)
            continue;
        if (d->blockUsed[d->currentBlock] >= d->fragmentsPerBlock) {
            const uint32_t next = d->currentBlock + 1;
            if (next > kShadowMaxBlocks - 2 || !d->blocks[next])
                return 1;  // out of blocks: the rest of the span is dropped
            if (d->blocks[next]->GetSize() == 0 &&
                !d->blocks[next]->alloc(qnMulSize({d->fragmentsPerBlock, sizeof(Fragment)}))) {
                SetError(d->blocks[next]->GetError());
                return 0;
            }
            d->currentBlock = next;
            d->blockUsed[next] = 0;
        }
        const uint32_t index = d->currentBlock * d->fragmentsPerBlock + d->blockUsed[d->currentBlock]++;
        *FragmentAt(d, index) =
            Fragment{z, head.next, alpha, static_cast<uint16_t>(tu), static_cast<uint16_t>(tv)};
        head.next = index;
    }
    return 1;
}

namespace {

// Orders a cell's list nearest first (depth and value move together) and
// turns each fragment's alpha into the light that reaches it; the list ends
// after the first fragment that no light reaches.
bool ResolveCell(CQNF_3D_Surface2::SHADOWRENDERER_DATA* d, Fragment& head, CQNF_Mem& scratch)
{
    uint32_t n = 0;
    for (const Fragment* f = &head; f; f = f->next == CQNF_3D_Surface2::kNoFragment ? nullptr : FragmentAt(d, f->next))
        ++n;
    if (n == 1) {
        head.value = 255;
        return true;
    }
    struct Entry {
        float depth;
        uint16_t value;
    };
    if (scratch.GetSize() < n * sizeof(Entry) && !scratch.alloc(qnMulSize({n, 2 * sizeof(Entry)})))
        return false;
    Entry* e = reinterpret_cast<Entry*>(scratch.GetPtr());
    uint32_t k = 0;
    for (const Fragment* f = &head; f; f = f->next == CQNF_3D_Surface2::kNoFragment ? nullptr : FragmentAt(d, f->next))
        e[k++] = Entry{f->depth, f->value};
    std::stable_sort(e, e + n, [](const Entry& a, const Entry& b) { return a.depth < b.depth; });
    uint32_t acc = 0;
    k = 0;
    for (Fragment* f = &head; f; f = f->next == CQNF_3D_Surface2::kNoFragment ? nullptr : FragmentAt(d, f->next), ++k) {
        f->depth = e[k].depth;
        const uint32_t t = e[k].value;
        if (k == 0) {
            f->value = 255;
            acc = t;
            continue;
        }
        f->value = static_cast<uint16_t>(255 - acc);
        if (acc == 255) {
            f->next = CQNF_3D_Surface2::kNoFragment;
            break;
        }
        acc = 255 - ((255 - t) * (255 - acc)) / 255;
    }
    return true;
}

}  // namespace

uint8_t CQNF_3D_Surface2::int_GenerateInternalLightShadowMap_v2(INTERNAL_LIGHT_SOURCE* light, unsigned char* alpha,
                                                                unsigned long alphaRowLength, unsigned long width,
                                                                unsigned long height, float blurScale,
                                                                double progressFrom, double progressTo)
{
    if (alphaRowLength != width || width > 65535 || height > 65535) {
        SetError(qnerr::BadArgument);
        return 0;
    }
    if (!int_CheckShadowJob(light, alpha, alphaRowLength, width, height))
        return 0;
    const uint64_t texels = static_cast<uint64_t>(width) * height;
    uint8_t* map = light->shadowMap;
    const double step = (progressTo - progressFrom) / 100.0;
    auto stage = [&](double k) {
        if (int_IsCanceled())
            return false;
        int_ReportProgress(progressFrom + k * step);
        return true;
    };
    // Every way out but success leaves the map fully lit.
    auto fail = [&](unsigned short error) -> uint8_t {
        if (error)
            SetError(error);
        if (texels)
            std::memset(map, 255, static_cast<size_t>(texels));
        return 0;
    };

    if (!stage(0))
        return fail(0);
    if (texels)
        std::memset(map, 255, static_cast<size_t>(texels));
    const float sigma = std::max(1.0f, blurScale * light->source.shadowSoftness);
    if (!stage(1))
        return fail(0);
    LightSpaceMesh2 ls;
    if (!ls.int_CopyMeshFrom(this))
        return fail(ls.GetError());
    ls.Rotate(LightSpaceDirection(light->lightVector), qnt3D_VERTEX{0.0f, 0.0f, 0.0f});
    const uint32_t T = GetTriMeshCount();
    int64_t W = 0, H = 0;
    const qntFRECT b0 = ls.GetObjectBounds();
    const bool hasBounds = !(b0.left == qnNullFRect.left && b0.right == qnNullFRect.right);
    if (hasBounds && T && texels) {
        if (!(std::isfinite(b0.left) && std::isfinite(b0.top) && std::isfinite(b0.right) && std::isfinite(b0.bottom)))
            return fail(qnerr::BadArgument);
        ls.Offset(static_cast<float>(1.0 - b0.left), static_cast<float>(1.0 - b0.top), 0.0f);
        const qntFRECT b = ls.GetObjectBounds();
        if (!(b.right < static_cast<double>(kMaxLightRaster) && b.bottom < static_cast<double>(kMaxLightRaster)))
            return fail(qnerr::BadArgument);
        W = static_cast<int64_t>(b.right) + 2;
        H = static_cast<int64_t>(b.bottom) + 2;
    }
    if (!stage(3))
        return fail(0);
    const uint32_t tileCells = kShadowTileSize * kShadowTileSize;
    CQNF_Mem tileBlock;
    auto blocks = std::make_unique<CQNF_Mem[]>(kShadowMaxBlocks);
    auto data = std::make_unique<SHADOWRENDERER_DATA>();
    if (!tileBlock.alloc(qnMulSize({tileCells, sizeof(SHADOW_FRAGMENT)})))
        return fail(tileBlock.GetError());
    if (!blocks[0].alloc(qnMulSize({kShadowFragmentsPerBlock, sizeof(SHADOW_FRAGMENT)})))
        return fail(blocks[0].GetError());
    if (!stage(4))
        return fail(0);
    CQNF_Mem notedBlock, boxBlock, scratch;
    if (T && (!notedBlock.alloc(qnMulSize({T, 4})) || !boxBlock.alloc(qnMulSize({T, 4 * sizeof(int32_t)}))))
        return fail(qnerr::NoMemory);
    if (!stage(5))
        return fail(0);

    // Light-space boxes, widened by one pixel; unusable triangles get none.
    const qnt3D_VERTEX* lv = ls.Vertices();
    const TRIMESH* tr = Triangles();
    const qnt2D_VERTEX* mapping = Mapping();
    int32_t* box = reinterpret_cast<int32_t*>(boxBlock.GetPtr());
    for (uint32_t i = 0; i < T; ++i) {
        const qnt3D_VERTEX& a = lv[tr[i].a];
        const qnt3D_VERTEX& b = lv[tr[i].b];
        const qnt3D_VERTEX& c = lv[tr[i].c];
        const qnt2D_VERTEX* m[3] = {&mapping[tr[i].a], &mapping[tr[i].b], &mapping[tr[i].c]};
        bool usable = Finite3(a) && Finite3(b) && Finite3(c);
        for (const qnt2D_VERTEX* mm : m)
            usable = usable && std::fabs(mm->x) < s3d::kMaxPixelCoord && std::fabs(mm->y) < s3d::kMaxPixelCoord;
        int32_t* bx = box + 4 * static_cast<size_t>(i);
        if (!usable) {
            bx[0] = bx[1] = 1;
            bx[2] = bx[3] = 0;  // empty
            continue;
        }
        bx[0] = static_cast<int32_t>(std::min({a.x, b.x, c.x})) - 1;
        bx[1] = static_cast<int32_t>(std::min({a.y, b.y, c.y})) - 1;
        bx[2] = static_cast<int32_t>(std::max({a.x, b.x, c.x})) + 1;
        bx[3] = static_cast<int32_t>(std::max({a.y, b.y, c.y})) + 1;
    }
    if (!stage(6))
        return fail(0);

    SHADOWRENDERER_DATA& d = *data;
    d.tile = reinterpret_cast<SHADOW_FRAGMENT*>(tileBlock.GetPtr());
    d.tileRowLength = kShadowTileSize;
    d.tileHeight = kShadowTileSize;
    d.alphaWidth = static_cast<uint32_t>(width);
    d.alphaHeight = static_cast<uint32_t>(height);
    d.alpha = alpha;
    for (uint32_t k = 0; k < kShadowMaxBlocks; ++k)
        d.blocks[k] = &blocks[k];
    d.fragmentsPerBlock = kShadowFragmentsPerBlock;

    const int64_t tilesX = (W + kShadowTileSize - 1) / kShadowTileSize;
    const int64_t tilesY = (H + kShadowTileSize - 1) / kShadowTileSize;
    const double visits = static_cast<double>(tilesX * tilesY) * T;
    uint64_t done = 0;
    uint32_t* noted = reinterpret_cast<uint32_t*>(notedBlock.GetPtr());
    for (int64_t ty = 0; ty < tilesY; ++ty) {
        for (int64_t tx = 0; tx < tilesX; ++tx) {
            const int32_t left = static_cast<int32_t>(tx * kShadowTileSize);
            const int32_t top = static_cast<int32_t>(ty * kShadowTileSize);
            const int32_t right = static_cast<int32_t>(std::min<int64_t>(left + kShadowTileSize, W));
            const int32_t bottom = static_cast<int32_t>(std::min<int64_t>(top + kShadowTileSize, H));
            // The triangles whose box meets the tile, with the progress and
            // cancel poll of every fifth visit. A tile none reaches is left.
            uint32_t nNoted = 0;
            for (uint32_t i = 0; i < T; ++i) {
                if (++done % 5 == 0) {
                    if (int_IsCanceled())
                        return fail(0);
                    int_ReportProgress(progressFrom + step * (6.0 + 89.0 * static_cast<double>(done) / visits));
                }
                const int32_t* bx = box + 4 * static_cast<size_t>(i);
                if (bx[0] >= right || bx[2] < left || bx[1] >= bottom || bx[3] < top || bx[2] < bx[0])
                    continue;
                noted[nNoted++] = i;
            }
            if (!nNoted)
                continue;
            for (uint32_t k = 0; k < tileCells; ++k)
                d.tile[k] = SHADOW_FRAGMENT{0.0f, kNoFragment, kEmptyValue, 0, 0};
            std::fill(d.blockUsed, d.blockUsed + kShadowMaxBlocks, 0u);
            d.currentBlock = 0;
            d.clipLeft = left;
            d.clipTop = top;
            d.clipRight = right;
            d.clipBottom = bottom;
            for (uint32_t n = 0; n < nNoted; ++n) {
                const uint32_t i = noted[n];
                const uint32_t idx[3] = {tr[i].a, tr[i].b, tr[i].c};
                s3d::WalkVertex<3> w[3];
                for (int k = 0; k < 3; ++k) {
                    const qnt3D_VERTEX& p = lv[idx[k]];
                    w[k] = s3d::WalkVertex<3>{static_cast<int32_t>(p.x), static_cast<int32_t>(p.y),
                                              {p.z, mapping[idx[k]].x, mapping[idx[k]].y}};
                }
                bool ok = true;
                s3d::WalkTriangle<3>(w[0], w[1], w[2], top, bottom,
                                     [&](int32_t y, int32_t xl, const float* al, int32_t xr, const float* ar) {
                                         if (!ok)
                                             return;
                                         d.y = y;
                                         d.x0 = xl;
                                         d.x1 = xr;
                                         d.z0 = al[0];
                                         d.u0 = al[1];
                                         d.v0 = al[2];
                                         d.z1 = ar[0];
                                         d.u1 = ar[1];
                                         d.v1 = ar[2];
                                         ok = int_DrawYLine_ShadowMapping(&d) != 0;
                                     });
                if (!ok)
                    return fail(0);
            }
            for (uint32_t k = 0; k < tileCells; ++k)
                if (d.tile[k].value != kEmptyValue && !ResolveCell(&d, d.tile[k], scratch))
                    return fail(qnerr::NoMemory);
            // Each noted triangle's texels take the light reaching the
            // fragment nearest their own depth in their light-space pixel.
            for (uint32_t n = 0; n < nNoted; ++n) {
                const uint32_t idx[3] = {tr[noted[n]].a, tr[noted[n]].b, tr[noted[n]].c};
                s3d::WalkVertex<3> w[3];
                for (int k = 0; k < 3; ++k) {
                    const qnt3D_VERTEX& p = lv[idx[k]];
                    w[k] = s3d::WalkVertex<3>{static_cast<int32_t>(mapping[idx[k]].x),
                                              static_cast<int32_t>(mapping[idx[k]].y),
                                              {p.x, p.y, p.z}};
                }
                s3d::WalkTriangle<3>(
                    w[0], w[1], w[2], 0, static_cast<int32_t>(height),
                    [&](int32_t y, int32_t xl, const float* al, int32_t xr, const float* ar) {
                        const int32_t xs = std::max(xl, 0);
                        const int32_t xe = static_cast<int32_t>(std::min<int64_t>(xr, static_cast<int64_t>(width)));
                        const float len = static_cast<float>(static_cast<int64_t>(xr) - xl);
                        for (int32_t x = xs; x < xe; ++x) {
                            const float s = static_cast<float>(static_cast<int64_t>(x) - xl) / len;
                            const float px = al[0] + (ar[0] - al[0]) * s;
                            const float py = al[1] + (ar[1] - al[1]) * s;
                            const float pz = al[2] + (ar[2] - al[2]) * s;
                            const int32_t cx = s3d::TruncClamp(px, -1, INT32_MAX - 1);
                            const int32_t cy = s3d::TruncClamp(py, -1, INT32_MAX - 1);
                            if (cx < left || cx >= right || cy < top || cy >= bottom)
                                continue;
                            const SHADOW_FRAGMENT* f =
                                &d.tile[static_cast<size_t>(cy - top) * kShadowTileSize + (cx - left)];
                            if (f->value == kEmptyValue)
                                continue;
                            float best = 1000000.0f;
                            int32_t value = -1;
                            for (; f; f = f->next == kNoFragment ? nullptr : FragmentAt(&d, f->next)) {
                                const float dist = std::fabs(f->depth - pz);
                                if (dist < best) {
                                    best = dist;
                                    value = f->value;
                                }
                            }
                            if (value >= 0)
                                map[static_cast<uint64_t>(y) * width + x] = static_cast<uint8_t>(value);
                        }
                    });
            }
        }
    }
    if (!stage(96))
        return fail(0);
    int_Blur_Const_v2(map, alphaRowLength, height, sigma);
    int_ReportProgress(progressTo);
    return 1;
}

uint8_t CQNF_3D_Surface2::Light_GenerateAllInnerShadowMaps(unsigned char* alpha, unsigned long alphaRowLength,
                                                           unsigned long width, unsigned long height, float blurScale)
{
    if (int_IsCanceled())
        return 0;
    int_ReportProgress(0);
    uint32_t count = 0;
    for (uint32_t i = 0; i < m_lights.Count(); ++i)
        if (m_lights.At(i)->source.castsShadow)
            ++count;
    if (count == 0) {
        if (int_IsCanceled())
            return 0;
        int_ReportProgress(100);
        return 1;
    }
    if (int_IsCanceled())
        return 0;
    int_ReportProgress(1);
    const double step = 99.0 / count;
    double position = 1.0;
    for (uint32_t i = 0; i < m_lights.Count(); ++i) {
        INTERNAL_LIGHT_SOURCE* light = m_lights.At(i);
        if (!light->source.castsShadow)
            continue;
        if (int_IsCanceled())
            return 0;
        int_ReportProgress(position);
        // Storage for this very record: a second light of the same name
        // would not be found by name.
        if (!int_CreateShadowMapStorage(light, width, height))
            return 0;
        const double from = position + step / 4.0;
        if (int_IsCanceled())
            return 0;
        int_ReportProgress(from);
        const double to = from + 3.0 * step / 4.0;
        if (!int_GenerateInternalLightShadowMap_v2(light, alpha, alphaRowLength, width, height, blurScale, from, to))
            return 0;
        if (int_IsCanceled())
            return 0;
        int_ReportProgress(to);
        position = to;
    }
    if (int_IsCanceled())
        return 0;
    int_ReportProgress(100);
    return 1;
}

void CQNF_3D_Surface2::int_Blur_Const_v2(unsigned char* plane, unsigned long width, unsigned long height, float sigma)
{
    if (!plane || width == 0 || height == 0)
        return;
    // The filter engine describes planes by 16-bit sizes; larger ones take
    // the separable blur of this class instead.
    if (width > 65535 || height > 65535) {
        int_Blur_Const(plane, width, height, sigma);
        return;
    }
    CQNF_Mem temp;
    if (!temp.alloc(qnMulSize({width, height})))
        return;
    uint8_t* source[1] = {plane};
    uint8_t* destination[1] = {temp.GetPtr()};
    const uint16_t w = static_cast<uint16_t>(width), h = static_cast<uint16_t>(height);
    CQNF_ImageFX fx;
    if (!fx.SetSource(source, w, 1, 0, w, h) || !fx.SetDestination(destination, w, 1, 0, w, h))
        return;
    if (fx.GaussianBlur(static_cast<double>(sigma), 0, 0))
        std::memcpy(plane, temp.GetPtr(), static_cast<size_t>(width) * height);
}
