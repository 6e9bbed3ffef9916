// The frame every high-quality renderer of both generations shares (private
// to the mesh renderer): argument checks, the render rectangle cut into
// square tiles, per-call triangle set-up, binning of triangles per tile, the
// triangle fill, the scan line that appends one fragment per covered
// subsample to that subsample's list, the front-to-back resolve of the lists
// and the box downsampling into the caller's planes. What a renderer adds is
// its lighting, a class with the interface told at `Frame` below.
//
// Exactness and invariance. Every interpolated value (edge position, depth,
// texture coordinate, perspective weight, normal) is computed at its row or
// column from the edge's or span's start, value0 + step x offset, rather than
// summed step by step, so the tile grid, the clip rectangle and the binning
// never change an output byte: a render of the whole picture and renders of
// its four quarters give the same bytes. Edge columns use the rule of the
// preview fill (TriangleWalk.h), so at supersampling 1 the high-quality
// renderers cover exactly the pixels the flat preview covers.
//
// Limits beyond the arguments' own: a triangle with a coordinate that is not
// finite, or that lies 2^24 or more subsamples from the origin, is not drawn;
// a depth of +infinity never shows.
#pragma once

#include "core/Mem.h"
#include "core/Progress.h"
#include "surface3d/S3DMath.h"
#include "surface3d/SurfaceBase.h"
#include "surface3d/TriangleWalk.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

namespace s3d::hq {

inline constexpr uint32_t kEnd = 0xFFFFFFFFu;
inline constexpr float kTaken = std::numeric_limits<float>::infinity();

// One fragment of a subsample's list.
struct Fragment {
    float depth;        // smaller is nearer
    uint32_t next;      // kEnd ends the list
    uint8_t alpha;      // the texture alpha at the fragment's texel
    uint8_t colour[7];  // colour channel c in byte c - 1
};
static_assert(sizeof(Fragment) == 16, "fragments are packed 16-byte records");

// Where one face side takes its colours from.
struct Side {
    bool solid = false;
    uint8_t colour[7] = {};
    const uint8_t* plane[4] = {};
    const uint8_t* bump = nullptr;
    float bumpDepth = 0.0f;
};

enum class TexMode { Linear, PerspectiveDouble, PerspectiveFloat };
enum class NormalMode { Base, BumpDeadZone, BumpPlain, Phong };

// A render as the caller asked for it, checked by Check().
struct Request {
    uint32_t q = 1;
    uint32_t channels = 1;
    uint8_t* dst[5] = {};  // 0 alpha, 1..4 colour
    uint64_t dstStride = 0, dstWidth = 0, dstHeight = 0;
    qntRECT_s clip = qnNullRect;
    Side side[2];  // 0 back, 1 front
    const uint8_t* texAlpha = nullptr;
    uint64_t texStride = 0, texWidth = 0, texHeight = 0;
    uint64_t bumpStride = 0;
    bool solidAllowed = true;

    bool perspective = false;
    TexMode texMode = TexMode::Linear;
    qnt3D_VERTEX centre{0.0f, 0.0f, 0.0f};
    bool autoCentre = false;
    bool bumpAllowed = true;
    NormalMode bumpMode = NormalMode::BumpDeadZone;  // for a side with a bump map
    bool phong = false;                               // smooth normals on the other triangles
    uint32_t tileBase = 800;                          // tile side = tileBase / q output pixels
    bool progress = true;
    uint32_t fragmentLimit = 0;                       // records; 0 = as memory allows
};

// The caller's planes and sizes in the order every renderer takes them.
struct Planes {
    unsigned char *dst1, *dst2, *dst3, *dst4, *dstAlpha;
    unsigned long dstStride, dstWidth, dstHeight;
    unsigned char frontSolid;
    unsigned char* frontColour;
    unsigned char *front1, *front2, *front3, *front4;
    unsigned char backSolid;
    unsigned char* backColour;
    unsigned char *back1, *back2, *back3, *back4;
    unsigned char* texAlpha;
    unsigned long texStride, texWidth, texHeight;
    unsigned char *frontBump, *backBump;
    unsigned long bumpStride;
    float frontBumpDepth, backBumpDepth;
};

inline void Fill(Request& r, unsigned char supersampling, unsigned char channels, const Planes& p, qntRECT_s clip)
{
    r.q = supersampling;
    r.channels = channels;
    uint8_t* dst[5] = {p.dstAlpha, p.dst1, p.dst2, p.dst3, p.dst4};
    std::copy(dst, dst + 5, r.dst);
    r.dstStride = p.dstStride;
    r.dstWidth = p.dstWidth;
    r.dstHeight = p.dstHeight;
    r.clip = clip;
    auto side = [&](Side& s, unsigned char solid, const unsigned char* colour, unsigned char* const* planes,
                    const unsigned char* bump, float depth) {
        s.solid = solid != 0;
        if (s.solid && colour)
            for (uint32_t c = 1; c < std::min<uint32_t>(channels, 8); ++c)
                s.colour[c - 1] = colour[c - 1];
        for (int k = 0; k < 4; ++k)
            s.plane[k] = planes[k];
        s.bump = bump;
        s.bumpDepth = depth;
    };
    unsigned char* front[4] = {p.front1, p.front2, p.front3, p.front4};
    unsigned char* back[4] = {p.back1, p.back2, p.back3, p.back4};
    side(r.side[1], p.frontSolid, p.frontColour, front, p.frontBump, p.frontBumpDepth);
    side(r.side[0], p.backSolid, p.backColour, back, p.backBump, p.backBumpDepth);
    r.texAlpha = p.texAlpha;
    r.texStride = p.texStride;
    r.texWidth = p.texWidth;
    r.texHeight = p.texHeight;
    r.bumpStride = p.bumpStride;
}

// The arguments a render cannot run without: supersampling 1..255, 1..5
// channels, every plane it will write or read, strides that hold a row,
// sizes whose subsample coordinates fit 32 bits, a solid colour for a solid
// side. The side's colour bytes are read here (n - 1 of them).
inline bool Check(const Request& r, const Planes& p)
{
    if (r.q < 1 || r.q > 255 || r.channels < 1 || r.channels > 5)
        return false;
    const uint32_t n = r.channels;
    for (uint32_t c = 0; c < n; ++c)
        if (!r.dst[c])
            return false;
    const uint64_t limit = static_cast<uint64_t>(INT32_MAX) / r.q;
    if (r.dstStride < r.dstWidth || r.dstWidth > limit || r.dstHeight > limit)
        return false;
    if (!r.texAlpha || r.texStride < r.texWidth || r.texWidth > (1u << 24) || r.texHeight > (1u << 24))
        return false;
    const unsigned char* colour[2] = {p.backColour, p.frontColour};
    for (int s = 0; s < 2; ++s) {
        const Side& side = r.side[s];
        if (side.solid && r.solidAllowed) {
            if (n > 1 && !colour[s])
                return false;
        } else {
            for (uint32_t c = 1; c < n; ++c)
                if (!side.plane[c - 1])
                    return false;
        }
        if (r.bumpAllowed && side.bump && side.bumpDepth != 0.0f && r.bumpStride < r.texWidth)
            return false;
    }
    return true;
}

// The render rectangle: the whole output for the null clip, else the clip
// cut to the output; false when nothing is left.
inline bool RenderRect(const Request& r, qntRECT_s& out)
{
    const int64_t w = static_cast<int64_t>(r.dstWidth), h = static_cast<int64_t>(r.dstHeight);
    int64_t l = 0, t = 0, rr = w, b = h;
    if (!qnIsNullRect(r.clip)) {
        l = std::max<int64_t>(r.clip.left, 0);
        t = std::max<int64_t>(r.clip.top, 0);
        rr = std::min<int64_t>(r.clip.right, w);
        b = std::min<int64_t>(r.clip.bottom, h);
    }
    if (l >= rr || t >= b)
        return false;
    out = qntRECT_s{static_cast<int32_t>(l), static_cast<int32_t>(t), static_cast<int32_t>(rr),
                    static_cast<int32_t>(b)};
    return true;
}

// Colour of one channel from its base value C and its factor f: C x f up to
// f = 1, above it C moved toward 255 by (f - 1) / f.
struct Rule {
    float f;
    float g;
    bool over;
};

inline Rule MakeRule(float f)
{
    if (f <= 1.0f)
        return Rule{f, 0.0f, false};
    return Rule{f, static_cast<float>((static_cast<double>(f) - 1.0) / static_cast<double>(f)), true};
}

// Nearest integer, ties to even, for 0 <= v < 2^23 (the addition rounds in
// the default rounding mode).
inline uint8_t RoundEven(float v)
{
    const float big = 8388608.0f;
    const float r = (v + big) - big;
    return static_cast<uint8_t>(static_cast<int32_t>(r));
}

// Nearest: clamped, rounded to even. Otherwise truncated toward zero and
// clamped to 0..255, so a negative or runaway value cannot wrap into a
// speckle; a value that is not a number gives 0 in both.
template <bool Nearest>
inline uint8_t ShadeByte(const Rule& r, uint8_t c)
{
    const float v = r.over ? static_cast<float>(c) + static_cast<float>(255 - c) * r.g : static_cast<float>(c) * r.f;
    if constexpr (Nearest) {
        if (!(v >= 0.0f))
            return 0;
        if (v > 254.5f)
            return 255;
        return RoundEven(v);
    } else {
        if (!(v > 0.0f))
            return 0;
        if (v >= 255.0f)
            return 255;
        return static_cast<uint8_t>(static_cast<int32_t>(v));
    }
}

// Normalised in single precision.
inline qnt3D_VECTOR Normalise(float x, float y, float z)
{
    const float len = std::sqrt(x * x + y * y + z * z);
    return qnt3D_VECTOR{x / len, y / len, z / len};
}

// The flat percentage rule of the lit renderers: (max(0, Nz) - 1) k + 1.
inline float FlatFactor(const qnt3D_VECTOR& n, bool front, float k)
{
    const float nz = front ? n.z : -n.z;
    return ((nz > 0.0f ? nz : 0.0f) - 1.0f) * k + 1.0f;
}

// Lighting of RenderHQ_Simple in both generations: the factor
// 1 - (1 - Nz) k, or 0 where the normal turns away; no lights.
class SimpleLighting {
public:
    static constexpr bool kNearest = false;
    explicit SimpleLighting(float k) : m_k(k) {}
    void Begin(const qnt3D_VECTOR& n, bool front) { m_factor = At(n, front); }
    bool Constant() const { return true; }
    void TriangleFactors(uint64_t, float* out) const { std::fill(out, out + 4, m_factor); }
    void FactorsAt(const qnt3D_VECTOR& n, bool front, uint64_t, float* out) const
    {
        std::fill(out, out + 4, At(n, front));
    }
    const float* Factors() const
    {
        m_all[0] = m_all[1] = m_all[2] = m_all[3] = m_factor;
        return m_all;
    }

private:
    float At(const qnt3D_VECTOR& n, bool front) const
    {
        const double nz = front ? n.z : -n.z;
        if (nz < 0.0)
            return 0.0f;
        return static_cast<float>(1.0 - (1.0 - nz) * static_cast<double>(m_k));
    }
    float m_k;
    float m_factor = 0.0f;
    mutable float m_all[4] = {};
};

// Per-vertex values of one call: position in subsamples (and truncated),
// depth, texture coordinate (times the weight in perspective) and weight.
struct VertexSetup {
    float x, y;
    int32_t ix, iy;
    float z, u, v, w;
    bool usable;
};

// Per-triangle values of one call.
struct TriangleSetup {
    int32_t box[4];  // left, top, right, bottom in subsamples, cut to the render rectangle
    qnt3D_VECTOR normal;
    uint8_t front;
    uint8_t bump;
    uint8_t drawn;   // usable and its box meets the render rectangle
};

// One span of a triangle: row, two ends in either order, their values.
template <int NA>
struct Span {
    int32_t y;
    int32_t x0, x1;
    float a0[NA], a1[NA];  // depth, u, v[, nx, ny, nz]
    double w0, w1;
};

// Progress of the (tile, triangle) loop: a tick per pair, a report and a
// cancel poll every fifth tick.
struct Ticker {
    CQNF_Progress* p = nullptr;
    double value = 2.0;
    double step = 0.0;
    uint32_t counter = 0;
    bool Tick()
    {
        if (++counter > 4) {
            if (p->IsCanceled())
                return false;
            const int64_t whole = (value > -1.0e15 && value < 1.0e15) ? static_cast<int64_t>(value) : 0;
            p->Progress(static_cast<uint8_t>(whole & 0xFF), p->GetUserDataPtr());
            counter = 0;
        }
        value += step;
        return true;
    }
};

enum class Outcome { Done, Canceled, Failed };

// The frame, run as Start (cancel poll and 0 %, render rectangle, buffers,
// cancel poll and 2 %) and then Draw (per-call set-up, tiles). A renderer may
// do more between the two. Lighting provides:
//   static constexpr bool kNearest;  bytes rounded to even, else truncated
//   void Begin(const qnt3D_VECTOR& n, bool front);  per triangle, its face normal
//   bool Constant() const;           after Begin: no factor depends on the texel
//   const float* Factors() const;    the four factors when Constant()
//   void TriangleFactors(uint64_t mapIndex, float* out) const;   Begin's normal
//   void FactorsAt(const qnt3D_VECTOR& n, bool front, uint64_t mapIndex, float* out) const;
// mapIndex = texel row x texture width + texel column addresses the lights'
// shadow maps (which are made one byte per texel, rows texture-width apart).
template <class Lighting>
class Frame {
public:
    Frame(const Request& r, Lighting& light, CQNF_Progress* progress)
        : m_r(r), m_light(light), m_progress(r.progress ? progress : nullptr)
    {
    }

    Outcome Start(unsigned short& error);
    Outcome Draw(const CQNF_3D_SurfaceBase::MESH_VIEW& mesh, unsigned short& error);

private:
    bool SetUp(unsigned short& error);
    template <TexMode TM>
    Outcome TilesIn(unsigned short& error);
    // NC: colour channels known at compile time (3, the common case), or -1.
    template <TexMode TM, NormalMode NM, int NC>
    bool FillTriangle(uint32_t i, const int32_t* box);
    template <TexMode TM, NormalMode NM, int NA, int NC>
    bool ScanLine(const Span<NA>& s);
    template <TexMode TM, NormalMode NM>
    bool Fill(uint32_t i, const int32_t* box)
    {
        return m_r.channels == 4 ? FillTriangle<TM, NM, 3>(i, box) : FillTriangle<TM, NM, -1>(i, box);
    }
    bool Grow();
    void ResolveTile(int32_t ox, int32_t oy, int32_t tw, int32_t th);
    void Composite(Fragment* pool, uint32_t first);
    void ClearTile(int32_t ox, int32_t oy, int32_t tw, int32_t th);

    const Request& m_r;
    Lighting& m_light;
    CQNF_Progress* m_progress;
    CQNF_3D_SurfaceBase::MESH_VIEW m_mesh{};

    qntRECT_s m_rect{};
    int32_t m_T = 0;        // tile side, output pixels
    int32_t m_S = 0;        // tile side, subsamples
    int32_t m_stride = 0;   // head rows, subsamples
    int32_t m_tilesX = 0, m_tilesY = 0;
    CQNF_Mem m_headBlock, m_poolBlock, m_vertexBlock, m_triBlock, m_binBlock, m_binStartBlock;
    uint32_t* m_heads = nullptr;
    Fragment* m_pool = nullptr;
    uint32_t m_count = 0;
    uint32_t m_capacity = 0;
    uint32_t m_growth = 0;
    unsigned short m_poolError = 0;
    VertexSetup* m_vs = nullptr;
    TriangleSetup* m_ts = nullptr;
    uint32_t* m_bins = nullptr;
    uint32_t* m_binStart = nullptr;
    float m_texW = 0.0f, m_texH = 0.0f;

    // Current tile (subsamples, right and bottom exclusive) and triangle.
    int32_t m_tl = 0, m_tt = 0, m_tr = 0, m_tb = 0;
    const Side* m_side = nullptr;
    bool m_front = false;
    bool m_solid = false;
    qnt3D_VECTOR m_base{};
    qnt3D_VECTOR m_baseUnit{};
    bool m_constant = false;
    Rule m_rules[4]{};
    Ticker m_ticker;
    std::vector<uint64_t> m_recip;
};

template <class Lighting>
Outcome Frame<Lighting>::Start(unsigned short& error)
{
    if (m_progress) {
        if (m_progress->IsCanceled())
            return Outcome::Canceled;
        m_progress->Progress(0, m_progress->GetUserDataPtr());
    }
    if (!RenderRect(m_r, m_rect)) {
        error = qnerr::BadArgument;
        return Outcome::Failed;
    }
    const int32_t q = static_cast<int32_t>(m_r.q);
    m_T = static_cast<int32_t>(m_r.tileBase / m_r.q);
    m_S = q * m_T;
    const int32_t rw = m_rect.right - m_rect.left, rh = m_rect.bottom - m_rect.top;
    m_tilesX = (rw - 1) / m_T + 1;
    m_tilesY = (rh - 1) / m_T + 1;
    // The buffers serve the largest tile of this render.
    m_stride = static_cast<int32_t>(std::min<int64_t>(m_S, int64_t{q} * rw));
    const int32_t rows = static_cast<int32_t>(std::min<int64_t>(m_S, int64_t{q} * rh));
    const uint64_t cells = static_cast<uint64_t>(m_stride) * rows;
    // Neither block is read before it is written: no need to zero them.
    if (!m_headBlock.alloc(qnMulSize({cells, 4}))) {
        error = m_headBlock.GetError();
        return Outcome::Failed;
    }
    if (!m_poolBlock.alloc(qnMulSize({cells, 2, sizeof(Fragment)}))) {
        error = m_poolBlock.GetError();
        return Outcome::Failed;
    }
    m_heads = reinterpret_cast<uint32_t*>(m_headBlock.GetPtr());
    m_pool = reinterpret_cast<Fragment*>(m_poolBlock.GetPtr());
    m_capacity = static_cast<uint32_t>(2 * cells);
    const uint32_t qq = m_r.q * m_r.q;
    m_recip.resize(qq + 1);
    for (uint32_t d = 1; d <= qq; ++d)
        m_recip[d] = ((uint64_t{1} << 40) + d - 1) / d;
    m_growth = static_cast<uint32_t>(cells);
    if (m_progress) {
        if (m_progress->IsCanceled())
            return Outcome::Canceled;
        m_progress->Progress(2, m_progress->GetUserDataPtr());
    }
    return Outcome::Done;
}

template <class Lighting>
Outcome Frame<Lighting>::Draw(const CQNF_3D_SurfaceBase::MESH_VIEW& mesh, unsigned short& error)
{
    m_mesh = mesh;
    if (m_progress) {
        m_ticker.p = m_progress;
        const double units = static_cast<double>(m_tilesX) * m_tilesY * mesh.triangleCount;
        m_ticker.step = 98.0 / std::max(1.0, units);
    }
    if (!SetUp(error))
        return Outcome::Failed;
    switch (m_r.texMode) {
    case TexMode::PerspectiveDouble:
        return TilesIn<TexMode::PerspectiveDouble>(error);
    case TexMode::PerspectiveFloat:
        return TilesIn<TexMode::PerspectiveFloat>(error);
    default:
        return TilesIn<TexMode::Linear>(error);
    }
}

// Vertices projected and scaled once, triangles' sides, normals and boxes
// once, and every triangle binned into the tiles its box meets, in index
// order, so that each tile visits its own triangles in mesh order.
template <class Lighting>
bool Frame<Lighting>::SetUp(unsigned short& error)
{
    const uint32_t nv = m_mesh.vertexCount, nt = m_mesh.triangleCount;
    if ((!m_vertexBlock.alloc(qnMulSize({nv, sizeof(VertexSetup)})) && nv) ||
        (!m_triBlock.alloc(qnMulSize({nt, sizeof(TriangleSetup)})) && nt)) {
        error = qnerr::NoMemory;
        return false;
    }
    m_vs = reinterpret_cast<VertexSetup*>(m_vertexBlock.GetPtr());
    m_ts = reinterpret_cast<TriangleSetup*>(m_triBlock.GetPtr());
    m_texW = static_cast<float>(m_r.texWidth);
    m_texH = static_cast<float>(m_r.texHeight);
    const qnt3D_VERTEX* V = m_mesh.vertices;
    const qnt2D_VERTEX* M = m_mesh.mapping;
    const float q = static_cast<float>(m_r.q);

    // Central perspective: the nearest vertex keeps its size, farther ones
    // shrink toward the centre; the weight makes texture lookups perspective
    // correct.
    double zmin = 0.0, cx = m_r.centre.x, cy = m_r.centre.y;
    const double F = m_r.centre.z > 0.0f ? static_cast<double>(m_r.centre.z) : 1.0;
    if (m_r.perspective) {
        float lo[3] = {FLT_MAX, FLT_MAX, FLT_MAX}, hi[2] = {-FLT_MAX, -FLT_MAX};
        for (uint32_t i = 0; i < nv; ++i) {
            const qnt3D_VERTEX& p = V[i];
            if (!IsFinite(p.x) || !IsFinite(p.y) || !IsFinite(p.z))
                continue;
            lo[0] = std::min(lo[0], p.x);
            lo[1] = std::min(lo[1], p.y);
            lo[2] = std::min(lo[2], p.z);
            hi[0] = std::max(hi[0], p.x);
            hi[1] = std::max(hi[1], p.y);
        }
        zmin = lo[2];
        if (m_r.autoCentre && lo[0] <= hi[0]) {
            cx = (static_cast<double>(lo[0]) + hi[0]) * 0.5;
            cy = (static_cast<double>(lo[1]) + hi[1]) * 0.5;
        }
    }
    for (uint32_t i = 0; i < nv; ++i) {
        VertexSetup& s = m_vs[i];
        float x = V[i].x, y = V[i].y, z = V[i].z, u = M[i].x, v = M[i].y, w = 1.0f;
        if (m_r.perspective) {
            const double d = static_cast<double>(z) - zmin + 1.0;
            const double sc = F / (F + d);
            x = static_cast<float>((x - cx) * sc + cx);
            y = static_cast<float>((y - cy) * sc + cy);
            z = static_cast<float>(d / (F + d));
            if (m_r.texMode == TexMode::PerspectiveFloat)
                w = static_cast<float>(sc) / (static_cast<float>(d) + 10000.0f);
            else
                w = static_cast<float>(sc / (d + 1000000.0));
            if (w == 0.0f)
                w = 1.0f;
            u = u * w;
            v = v * w;
        }
        s.x = x * q;
        s.y = y * q;
        s.z = z;
        s.u = u;
        s.v = v;
        s.w = w;
        s.usable = s.x > -kMaxPixelCoord && s.x < kMaxPixelCoord && s.y > -kMaxPixelCoord &&
                   s.y < kMaxPixelCoord && IsFinite(z) && IsFinite(u) && IsFinite(v) && IsFinite(w);
        s.ix = s.usable ? static_cast<int32_t>(s.x) : 0;
        s.iy = s.usable ? static_cast<int32_t>(s.y) : 0;
    }

    const int32_t qi = static_cast<int32_t>(m_r.q);
    const int32_t R[4] = {m_rect.left * qi, m_rect.top * qi, m_rect.right * qi, m_rect.bottom * qi};
    const CQNF_3D_SurfaceBase::TRIMESH* T = m_mesh.triangles;
    if (!m_binStartBlock.Zalloc(qnMulSize({static_cast<uint64_t>(m_tilesX) * m_tilesY + 1, 4}))) {
        error = m_binStartBlock.GetError();
        return false;
    }
    m_binStart = reinterpret_cast<uint32_t*>(m_binStartBlock.GetPtr());
    uint64_t entries = 0;
    for (uint32_t i = 0; i < nt; ++i) {
        TriangleSetup& t = m_ts[i];
        const VertexSetup* p[3] = {&m_vs[T[i].a], &m_vs[T[i].b], &m_vs[T[i].c]};
        t.drawn = p[0]->usable && p[1]->usable && p[2]->usable;
        t.normal = CQNF_3D_SurfaceBase::GetMeshNormal(&V[T[i].a], &V[T[i].b], &V[T[i].c], T[i].flags);
        t.front = t.normal.z > 0.0f ? 1 : 0;
        const Side& side = m_r.side[t.front];
        t.bump = (m_r.bumpAllowed && side.bump && side.bumpDepth != 0.0f) ? 1 : 0;
        if (!t.drawn)
            continue;
        const float xmin = std::min({p[0]->x, p[1]->x, p[2]->x}), xmax = std::max({p[0]->x, p[1]->x, p[2]->x});
        const float ymin = std::min({p[0]->y, p[1]->y, p[2]->y}), ymax = std::max({p[0]->y, p[1]->y, p[2]->y});
        t.box[0] = std::max(static_cast<int32_t>(xmin - 1.0f), R[0]);
        t.box[1] = std::max(static_cast<int32_t>(ymin - 1.0f), R[1]);
        t.box[2] = std::min(static_cast<int32_t>(xmax + 1.0f), R[2]);
        t.box[3] = std::min(static_cast<int32_t>(ymax + 1.0f), R[3]);
        if (t.box[0] >= t.box[2] || t.box[1] >= t.box[3]) {
            t.drawn = 0;
            continue;
        }
        const int32_t c0 = (t.box[0] - R[0]) / m_S, c1 = (t.box[2] - 1 - R[0]) / m_S;
        const int32_t r0 = (t.box[1] - R[1]) / m_S, r1 = (t.box[3] - 1 - R[1]) / m_S;
        for (int32_t r = r0; r <= r1; ++r)
            for (int32_t c = c0; c <= c1; ++c)
                ++m_binStart[r * m_tilesX + c + 1];
        entries += static_cast<uint64_t>(r1 - r0 + 1) * static_cast<uint64_t>(c1 - c0 + 1);
    }
    if (entries > UINT32_MAX || (!m_binBlock.alloc(qnMulSize({entries, 4})) && entries)) {
        error = qnerr::NoMemory;
        return false;
    }
    m_bins = reinterpret_cast<uint32_t*>(m_binBlock.GetPtr());
    const uint32_t tiles = static_cast<uint32_t>(m_tilesX * m_tilesY);
    for (uint32_t k = 0; k < tiles; ++k)
        m_binStart[k + 1] += m_binStart[k];
    CQNF_Mem fillBlock;
    if (!fillBlock.alloc(qnMulSize({tiles, 4}))) {
        error = fillBlock.GetError();
        return false;
    }
    uint32_t* fill = reinterpret_cast<uint32_t*>(fillBlock.GetPtr());
    std::copy(m_binStart, m_binStart + tiles, fill);
    for (uint32_t i = 0; i < nt; ++i) {
        const TriangleSetup& t = m_ts[i];
        if (!t.drawn)
            continue;
        const int32_t c0 = (t.box[0] - R[0]) / m_S, c1 = (t.box[2] - 1 - R[0]) / m_S;
        const int32_t r0 = (t.box[1] - R[1]) / m_S, r1 = (t.box[3] - 1 - R[1]) / m_S;
        for (int32_t r = r0; r <= r1; ++r)
            for (int32_t c = c0; c <= c1; ++c)
                m_bins[fill[r * m_tilesX + c]++] = i;
    }
    return true;
}

template <class Lighting>
template <TexMode TM>
Outcome Frame<Lighting>::TilesIn(unsigned short& error)
{
    const int32_t q = static_cast<int32_t>(m_r.q);
    const uint32_t nt = m_mesh.triangleCount;
    for (int32_t ty = 0; ty < m_tilesY; ++ty) {
        const int32_t oy = m_rect.top + ty * m_T;
        const int32_t th = std::min(m_T, m_rect.bottom - oy);
        for (int32_t tx = 0; tx < m_tilesX; ++tx) {
            const int32_t ox = m_rect.left + tx * m_T;
            const int32_t tw = std::min(m_T, m_rect.right - ox);
            m_tl = ox * q;
            m_tt = oy * q;
            m_tr = (ox + tw) * q;
            m_tb = (oy + th) * q;
            const uint32_t* bin = m_bins + m_binStart[ty * m_tilesX + tx];
            const uint32_t* binEnd = m_bins + m_binStart[ty * m_tilesX + tx + 1];
            uint32_t ticked = 0;  // triangles of this tile the progress has counted
            auto tickTo = [&](uint32_t upTo) {
                if (!m_progress) {
                    ticked = upTo;
                    return true;
                }
                for (; ticked < upTo; ++ticked)
                    if (!m_ticker.Tick())
                        return false;
                return true;
            };
            if (bin == binEnd) {
                if (!tickTo(nt))
                    return Outcome::Canceled;
                ClearTile(ox, oy, tw, th);
                continue;
            }
            for (int32_t r = 0; r < th * q; ++r)
                std::memset(m_heads + static_cast<size_t>(r) * m_stride, 0xFF, sizeof(uint32_t) * tw * q);
            m_count = 0;
            for (; bin != binEnd; ++bin) {
                const uint32_t i = *bin;
                if (!tickTo(i + 1))
                    return Outcome::Canceled;
                const TriangleSetup& t = m_ts[i];
                const int32_t box[4] = {std::max(t.box[0], m_tl), std::max(t.box[1], m_tt), std::min(t.box[2], m_tr),
                                        std::min(t.box[3], m_tb)};
                if (box[0] >= box[2] || box[1] >= box[3])
                    continue;
                m_side = &m_r.side[t.front];
                m_front = t.front != 0;
                m_solid = m_r.solidAllowed && m_side->solid;
                m_base = t.normal;
                bool ok;
                if (t.bump) {
                    m_baseUnit = Normalise(m_base.x, m_base.y, m_base.z);
                    ok = m_r.bumpMode == NormalMode::BumpPlain ? Fill<TM, NormalMode::BumpPlain>(i, box)
                                                               : Fill<TM, NormalMode::BumpDeadZone>(i, box);
                } else if (m_r.phong) {
                    ok = Fill<TexMode::Linear, NormalMode::Phong>(i, box);
                } else {
                    m_light.Begin(m_base, m_front);
                    m_constant = m_light.Constant();
                    if (m_constant) {
                        const float* f = m_light.Factors();
                        for (int c = 0; c < 4; ++c)
                            m_rules[c] = MakeRule(f[c]);
                    }
                    ok = Fill<TM, NormalMode::Base>(i, box);
                }
                if (!ok) {
                    error = m_poolError;
                    return Outcome::Failed;
                }
            }
            if (!tickTo(nt))
                return Outcome::Canceled;
            ResolveTile(ox, oy, tw, th);
        }
    }
    return Outcome::Done;
}

// The triangle as spans of subsample rows: vertices truncated and ordered
// top to bottom, upper part between the top and the middle row, lower part
// between the middle and the bottom row, the bottom row itself not drawn;
// rows cut to the box. Depth, texture coordinate (and weight, and normal)
// are linear along each edge.
template <class Lighting>
template <TexMode TM, NormalMode NM, int NC>
bool Frame<Lighting>::FillTriangle(uint32_t i, const int32_t* box)
{
    constexpr int NA = NM == NormalMode::Phong ? 6 : 3;
    const CQNF_3D_SurfaceBase::TRIMESH& tri = m_mesh.triangles[i];
    uint32_t top = tri.a, mid = tri.b, bot = tri.c;
    if (m_vs[top].iy > m_vs[mid].iy)
        std::swap(top, mid);
    if (m_vs[bot].iy < m_vs[top].iy)
        std::swap(top, bot);
    if (m_vs[bot].iy < m_vs[mid].iy)
        std::swap(mid, bot);
    const uint32_t idx[3] = {top, mid, bot};
    struct End {
        int32_t x, y;
        float a[NA];
        double w;
    } e[3];
    for (int k = 0; k < 3; ++k) {
        const VertexSetup& s = m_vs[idx[k]];
        e[k].x = s.ix;
        e[k].y = s.iy;
        e[k].a[0] = s.z;
        e[k].a[1] = s.u;
        e[k].a[2] = s.v;
        e[k].w = s.w;
        if constexpr (NA == 6) {
            const qnt3D_VECTOR& n = m_mesh.vertexNormals[idx[k]];
            e[k].a[3] = n.x;
            e[k].a[4] = n.y;
            e[k].a[5] = n.z;
        }
    }
    const End& A = e[0];
    const End& B = e[1];
    const End& C = e[2];
    if (A.y == C.y)
        return true;
    // Per edge: values at row offset k are P + slope x k.
    struct Edge {
        const End* p;
        const End* q;
        float slope[NA];
        double wslope;
        float wslopeF;
        void Init(const End& P, const End& Q)
        {
            p = &P;
            q = &Q;
            const float dy = static_cast<float>(Q.y - P.y);
            for (int k = 0; k < NA; ++k)
                slope[k] = (Q.a[k] - P.a[k]) / dy;
            wslope = (Q.w - P.w) / static_cast<double>(Q.y - P.y);
            wslopeF = (static_cast<float>(Q.w) - static_cast<float>(P.w)) / dy;
        }
        // The edge rule of TriangleWalk.h's EdgeColumn, its integer quotient
        // (dx k) / dy kept by exact stepping from row to row.
        int64_t dx = 0, dy = 1, quot = 0, rem = 0, dq = 0, dr = 0;
        int32_t at = -1;
        int32_t Column(int32_t k)
        {
            if (at < 0 || k != at + 1) {
                dx = int64_t{q->x} - p->x;
                dy = int64_t{q->y} - p->y;
                dq = dx / dy;
                dr = dx - dq * dy;
                quot = (dx * k) / dy;
                rem = dx * k - quot * dy;
            } else {
                quot += dq;
                rem += dr;
                if (dx >= 0 && rem >= dy) {
                    rem -= dy;
                    ++quot;
                } else if (dx < 0 && rem <= -dy) {
                    rem += dy;
                    --quot;
                }
            }
            at = k;
            int64_t col = p->x + quot;
            const float exact =
                static_cast<float>(p->x) + static_cast<float>(dx) * static_cast<float>(k) / static_cast<float>(dy);
            if (exact - static_cast<float>(col) > 0.5f)
                ++col;
            return static_cast<int32_t>(col);
        }
        void Values(int32_t k, float* out, double& w) const
        {
            const float fk = static_cast<float>(k);
            for (int j = 0; j < NA; ++j)
                out[j] = p->a[j] + slope[j] * fk;
            if constexpr (TM == TexMode::PerspectiveFloat)
                w = static_cast<double>(static_cast<float>(p->w) + wslopeF * fk);
            else
                w = p->w + wslope * static_cast<double>(k);
        }
    };
    Span<NA> s;
    Edge ac;
    ac.Init(A, C);
    if (B.y > A.y) {
        Edge ab;
        ab.Init(A, B);
        const int32_t y0 = std::max(A.y, box[1]), y1 = std::min(B.y, box[3]);
        for (int32_t y = y0; y < y1; ++y) {
            const int32_t k = y - A.y;
            s.y = y;
            s.x0 = ab.Column(k);
            s.x1 = ac.Column(k);
            ab.Values(k, s.a0, s.w0);
            ac.Values(k, s.a1, s.w1);
            if (!ScanLine<TM, NM, NA, NC>(s))
                return false;
        }
    }
    if (C.y > B.y) {
        Edge bc;
        bc.Init(B, C);
        const int32_t y0 = std::max(B.y, box[1]), y1 = std::min(C.y, box[3]);
        for (int32_t y = y0; y < y1; ++y) {
            s.y = y;
            s.x0 = ac.Column(y - A.y);
            s.x1 = bc.Column(y - B.y);
            ac.Values(y - A.y, s.a0, s.w0);
            bc.Values(y - B.y, s.a1, s.w1);
            if (!ScanLine<TM, NM, NA, NC>(s))
                return false;
        }
    }
    return true;
}

template <class Lighting>
bool Frame<Lighting>::Grow()
{
    const uint64_t next = static_cast<uint64_t>(m_capacity) + m_growth;
    if (next > UINT32_MAX || (m_r.fragmentLimit && next > m_r.fragmentLimit) ||
        !m_poolBlock.Resize(qnMulSize({next, sizeof(Fragment)}))) {
        m_poolError = m_poolBlock.GetError() ? m_poolBlock.GetError() : qnerr::NoMemory;
        return false;
    }
    m_pool = reinterpret_cast<Fragment*>(m_poolBlock.GetPtr());
    m_capacity = static_cast<uint32_t>(next);
    return true;
}

// One span: ends ordered, cut to the tile (the end column itself excluded);
// per pixel the texel, a skip where it lies outside the texture or its alpha
// is 0, a copy of the previous fragment (depth included) while the texel
// stays the same, else the shading normal, the lighting and a new fragment.
template <class Lighting>
template <TexMode TM, NormalMode NM, int NA, int NC>
bool Frame<Lighting>::ScanLine(const Span<NA>& sp)
{
    int32_t x0 = sp.x0, x1 = sp.x1;
    if (x0 == x1)
        return true;
    const float* a0 = sp.a0;
    const float* a1 = sp.a1;
    double w0 = sp.w0, w1 = sp.w1;
    if (x0 > x1) {
        std::swap(x0, x1);
        std::swap(a0, a1);
        std::swap(w0, w1);
    }
    const int32_t y = sp.y;
    if (y < m_tt || y >= m_tb || x0 >= m_tr || x1 < m_tl)
        return true;
    const int32_t xs = std::max(x0, m_tl), xe = std::min(x1, m_tr);
    const float dx = static_cast<float>(x1 - x0);
    float step[NA];
    for (int k = 0; k < NA; ++k)
        step[k] = (a1[k] - a0[k]) / dx;
    (void)w0;
    (void)w1;
    double dw = 0.0;
    float w0f = 0.0f, dwf = 0.0f;
    if constexpr (TM == TexMode::PerspectiveDouble)
        dw = (w1 - w0) / static_cast<double>(x1 - x0);
    if constexpr (TM == TexMode::PerspectiveFloat) {
        w0f = static_cast<float>(w0);
        dwf = (static_cast<float>(w1) - w0f) / dx;
    }

    // The loop keeps what it needs in locals: its byte stores could alias
    // any member, which would make the compiler reload them per pixel.
    const uint32_t n = m_r.channels;
    const uint8_t* alphaPlane = m_r.texAlpha;
    const uint64_t texStride = m_r.texStride;
    const uint64_t texWidth = m_r.texWidth;
    const uint64_t texHeight = m_r.texHeight;
    const float texW = m_texW, texH = m_texH;
    const Side& side = *m_side;
    const bool solid = m_solid;
    const bool constant = NM == NormalMode::Base && m_constant;
    const uint32_t colours = NC >= 0 ? static_cast<uint32_t>(NC) : n - 1;
    // Colour sources of the four colour channels; channels past n - 1 read
    // the alpha plane and are never used.
    const uint8_t* planes[4];
    uint8_t solidColour[4];
    for (uint32_t c = 0; c < 4; ++c) {
        planes[c] = (c + 1 < n && !solid) ? side.plane[c] : alphaPlane;
        solidColour[c] = side.colour[c];
    }
    Rule rules[4];
    std::copy(m_rules, m_rules + 4, rules);
    Fragment* pool = m_pool;
    uint32_t count = m_count;
    uint32_t capacity = m_capacity;
    auto append = [&](uint32_t* head) {
        pool[count].next = *head;
        *head = count;
        if (++count != capacity)
            return true;
        m_count = count;
        if (!Grow())
            return false;
        pool = m_pool;
        capacity = m_capacity;
        return true;
    };
    uint32_t* head = m_heads + static_cast<size_t>(y - m_tt) * m_stride + (xs - m_tl);
    auto texel = [&](float fx, int32_t& tu, int32_t& tv) {
        float u, v;
        if constexpr (TM == TexMode::Linear) {
            u = a0[1] + step[1] * fx;
            v = a0[2] + step[2] * fx;
        } else if constexpr (TM == TexMode::PerspectiveDouble) {
            const double w = w0 + dw * static_cast<double>(fx);
            u = static_cast<float>(static_cast<double>(a0[1] + step[1] * fx) / w);
            v = static_cast<float>(static_cast<double>(a0[2] + step[2] * fx) / w);
        } else {
            const float w = w0f + dwf * fx;
            u = (a0[1] + step[1] * fx) / w;
            v = (a0[2] + step[2] * fx) / w;
        }
        tu = tv = INT32_MIN;  // outside the texture
        if (u > -1.0f && u < texW && v > -1.0f && v < texH) {
            tu = static_cast<int32_t>(u);
            tv = static_cast<int32_t>(v);
        }
    };
    // A run of pixels on one texel shares the fragment of its first pixel.
    // Where a tile or the clip cuts the span inside a run, that first pixel
    // lies before the cut: the run's fragment is evaluated there, as an uncut
    // span would, so the cut changes nothing. Texel coordinates move one way
    // along a span, so the run is found by doubling steps back, then halving.
    float runStart = static_cast<float>(xs - x0);
    if (xs > x0) {
        int32_t tu, tv, bu, bv;
        texel(runStart, tu, tv);
        auto same = [&](int32_t x) {
            texel(static_cast<float>(x - x0), bu, bv);
            return bu == tu && bv == tv;
        };
        int32_t in = xs, jump = 1;  // `in` is known to be in the run
        int32_t out = x0 - 1;       // before the span
        while (in - jump >= x0) {
            if (!same(in - jump)) {
                out = in - jump;
                break;
            }
            in -= jump;
            jump *= 2;
        }
        if (out == x0 - 1 && in > x0 && !same(x0))
            out = x0;
        else if (out == x0 - 1 && in > x0)
            in = x0;
        while (in - out > 1) {
            const int32_t m = out + (in - out) / 2;
            if (same(m))
                in = m;
            else
                out = m;
        }
        runStart = static_cast<float>(in - x0);
    }
    int32_t pu = INT32_MIN, pv = INT32_MIN;
    bool produced = false;
    bool ok = true;
    for (int32_t x = xs; x < xe; ++x, ++head) {
        int32_t tu, tv;
        texel(static_cast<float>(x - x0), tu, tv);
        if (tu == pu && tv == pv) {
            if (produced) {
                pool[count] = pool[count - 1];
                if (!(ok = append(head)))
                    break;
            }
            continue;
        }
        pu = tu;
        pv = tv;
        produced = false;
        if (tu == INT32_MIN)
            continue;
        const uint64_t t = static_cast<uint64_t>(tv) * texStride + static_cast<uint64_t>(tu);
        const uint8_t alpha = alphaPlane[t];
        if (alpha == 0)
            continue;
        const float fx = x == xs ? runStart : static_cast<float>(x - x0);
        const uint64_t mapIndex = static_cast<uint64_t>(tv) * texWidth + static_cast<uint64_t>(tu);
        Fragment& f = pool[count];
        f.depth = a0[0] + step[0] * fx;
        f.alpha = alpha;
        if (!constant) {
            float fac[4];
            if constexpr (NM == NormalMode::Base) {
                m_light.TriangleFactors(mapIndex, fac);
            } else {
                qnt3D_VECTOR N = m_baseUnit;
                if constexpr (NM == NormalMode::Phong) {
                    N = Normalise(a0[3] + step[3] * fx, a0[4] + step[4] * fx, a0[5] + step[5] * fx);
                } else if (tu >= 1 && tv >= 1 && static_cast<uint64_t>(tu) + 2 <= texWidth &&
                           static_cast<uint64_t>(tv) + 2 <= texHeight) {
                    const uint64_t bs = m_r.bumpStride;
                    const uint8_t* M = side.bump + static_cast<uint64_t>(tu) + static_cast<uint64_t>(tv) * bs;
                    const int32_t ddx = int32_t{M[1]} - int32_t{M[-1]};
                    const int32_t ddy = int32_t{M[bs]} - int32_t{M[-static_cast<int64_t>(bs)]};
                    const double k = side.bumpDepth;
                    double bx, by;
                    if constexpr (NM == NormalMode::BumpDeadZone) {
                        auto damp = [k](int32_t d) { return d < -1 ? k * (d + 1) : d > 1 ? k * (d - 1) : 0.0; };
                        bx = damp(ddx);
                        by = damp(ddy);
                    } else {
                        bx = k * ddx;
                        by = k * ddy;
                    }
                    N = Normalise(static_cast<float>(m_base.x + bx), static_cast<float>(m_base.y + by), m_base.z);
                }
                m_light.FactorsAt(N, m_front, mapIndex, fac);
            }
            for (uint32_t c = 0; c < colours; ++c)
                rules[c] = MakeRule(fac[c]);
        }
        for (uint32_t c = 0; c < colours; ++c)
            f.colour[c] = ShadeByte<Lighting::kNearest>(rules[c], solid ? solidColour[c] : planes[c][t]);
        if (!(ok = append(head)))
            break;
        produced = true;
    }
    m_count = count;
    return ok;
}

// Uncovered pixels of an empty tile: alpha 0, colours kept.
template <class Lighting>
void Frame<Lighting>::ClearTile(int32_t ox, int32_t oy, int32_t tw, int32_t th)
{
    for (int32_t py = oy; py < oy + th; ++py)
        std::memset(m_r.dst[0] + static_cast<uint64_t>(py) * m_r.dstStride + ox, 0, static_cast<size_t>(tw));
}

// Every list of two or more fragments composited front to back into its head
// (non-premultiplied "over", stopping once opaque), then each output pixel
// the mean of its q x q subsamples: alpha over all of them (empty ones 0),
// colour over the covered ones only (kept where none is).
template <class Lighting>
void Frame<Lighting>::ResolveTile(int32_t ox, int32_t oy, int32_t tw, int32_t th)
{
    const int32_t q = static_cast<int32_t>(m_r.q);
    const uint32_t n = m_r.channels;
    const uint32_t qq = static_cast<uint32_t>(q * q);
    Fragment* pool = m_pool;
    // Quotients by 1..q^2 as a multiply and a shift: x / d = (x * ceil(2^40 / d)) >> 40
    // holds exactly while x * d < 2^40, and here x <= 255 q^2, d <= q^2.
    const uint64_t* recip = m_recip.data();
    auto div = [recip](uint32_t x, uint32_t d) { return static_cast<uint8_t>((x * recip[d]) >> 40); };
    for (int32_t py = 0; py < th; ++py) {
        const uint64_t row = static_cast<uint64_t>(oy + py) * m_r.dstStride + static_cast<uint64_t>(ox);
        uint8_t* dst[5];
        for (uint32_t c = 0; c < n; ++c)
            dst[c] = m_r.dst[c] + row;
        if (q == 1) {
            const uint32_t* h = m_heads + static_cast<size_t>(py) * m_stride;
            for (int32_t px = 0; px < tw; ++px) {
                if (h[px] == kEnd) {
                    dst[0][px] = 0;
                    continue;
                }
                Fragment& f = pool[h[px]];
                if (f.next != kEnd)
                    Composite(pool, h[px]);
                dst[0][px] = f.alpha;
                for (uint32_t c = 1; c < n; ++c)
                    dst[c][px] = f.colour[c - 1];
            }
            continue;
        }
        for (int32_t px = 0; px < tw; ++px) {
            uint32_t sumA = 0, covered = 0, sumC[4] = {0, 0, 0, 0};
            for (int32_t sy = 0; sy < q; ++sy) {
                const uint32_t* h = m_heads + static_cast<size_t>(py * q + sy) * m_stride + px * q;
                for (int32_t sx = 0; sx < q; ++sx) {
                    if (h[sx] == kEnd)
                        continue;
                    Fragment& f = pool[h[sx]];
                    if (f.next != kEnd)
                        Composite(pool, h[sx]);
                    sumA += f.alpha;
                    ++covered;
                    for (uint32_t c = 1; c < n; ++c)
                        sumC[c - 1] += f.colour[c - 1];
                }
            }
            dst[0][px] = div(sumA, qq);
            if (covered)
                for (uint32_t c = 1; c < n; ++c)
                    dst[c][px] = div(sumC[c - 1], covered);
        }
    }
}

// One list of two or more fragments composited front to back into its head:
// repeatedly the nearest fragment not yet taken (the one nearest the head
// among equal depths), non-premultiplied "over", until opaque.
template <class Lighting>
void Frame<Lighting>::Composite(Fragment* pool, uint32_t first)
{
    const uint32_t n = m_r.channels;
    uint32_t A = 0;
    int32_t acc[7] = {};
    while (A != 255) {
        uint32_t best = kEnd;
        float bestDepth = kTaken;
        for (uint32_t j = first; j != kEnd; j = pool[j].next)
            if (pool[j].depth < bestDepth) {
                bestDepth = pool[j].depth;
                best = j;
            }
        if (best == kEnd)
            break;
        Fragment& f = pool[best];
        const int32_t a = f.alpha;
        if (A == 0) {
            A = static_cast<uint32_t>(a);
            for (uint32_t c = 1; c < n; ++c)
                acc[c - 1] = f.colour[c - 1];
        } else {
            const int32_t Ai = static_cast<int32_t>(A);
            const int32_t den = (Ai + a) * 255 - Ai * a;
            for (uint32_t c = 1; c < n; ++c) {
                const int32_t C = f.colour[c - 1];
                acc[c - 1] = ((a * C + acc[c - 1] * Ai) * 255 - C * Ai * a) / den;
            }
            A = static_cast<uint32_t>(Ai + a - (Ai * a) / 255) & 0xFF;
        }
        f.depth = kTaken;
    }
    Fragment& head = pool[first];
    head.alpha = static_cast<uint8_t>(A);
    for (uint32_t c = 1; c < n; ++c)
        head.colour[c - 1] = static_cast<uint8_t>(acc[c - 1]);
}

}  // namespace s3d::hq

namespace s3d::hq {

// Runs a render: Start, then `between` (false ends the call with the error it
// left in the owner), then Draw over the mesh `mesh()` gives at that moment.
// 1 when rendered; 0 on failure (the owner's error set) or on cancel.
template <class Lighting, class Between, class MeshFn>
uint8_t Render(CQNF_ErrorManager& owner, const Request& r, Lighting& light, CQNF_Progress* progress,
               Between&& between, MeshFn&& mesh)
{
    Frame<Lighting> frame(r, light, progress);
    unsigned short error = 0;
    Outcome o = frame.Start(error);
    if (o == Outcome::Done) {
        if (!between())
            return 0;
        o = frame.Draw(mesh(), error);
    }
    if (o == Outcome::Failed) {
        owner.SetError(error);
        return 0;
    }
    return o == Outcome::Done ? 1 : 0;
}

}  // namespace s3d::hq
