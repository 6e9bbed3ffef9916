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

#include "surface3d/HQFrameParts.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

namespace s3d::hq {

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
    __attribute__((always_inline)) inline bool ScanLine(const Span<NA>& s);
    template <TexMode TM, NormalMode NM>
    bool Fill(uint32_t i, const int32_t* box)
    {
        return m_r.channels == 4 ? FillTriangle<TM, NM, 3>(i, box) : FillTriangle<TM, NM, -1>(i, box);
    }
    bool Grow();
    void PrepareTables(uint32_t i, const int32_t* box);
    void ResolveTile(int32_t ox, int32_t oy, int32_t tw, int32_t th);
    template <int QC, int NC>
    void ResolveRows(int32_t ox, int32_t oy, int32_t tw, int32_t th);
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
    // The pool's first m_cells records are the subsamples' own slots, laid
    // out like the heads: a subsample's first fragment goes to its slot, so
    // the resolve reads the usual one-fragment lists in memory order; later
    // fragments go after the slots. m_count and m_capacity count fragments
    // (the pool grows, and meets its limit, exactly as if they were packed
    // from record 0); m_over counts those stored after the slots.
    Fragment* m_pool = nullptr;
    uint32_t m_cells = 0;
    uint32_t m_count = 0;
    uint32_t m_over = 0;
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
    const uint8_t* m_planes[4] = {};
    qnt3D_VECTOR m_base{};
    qnt3D_VECTOR m_baseUnit{};
    bool m_constant = false;
    Rule m_rules[4]{};
    // Shade tables of the current triangle's three colour channels (channels
    // with equal rules share one), when it covers enough subsamples to pay.
    bool m_tablesOn = false;
    const uint8_t* m_table[3] = {};
    uint8_t m_tables[3][256] = {};
    Ticker m_ticker;
    std::vector<uint64_t> m_recip;
    // The current tile's bands: where each band's triangles start in the
    // list, and the list.
    std::vector<uint32_t> m_bandStart, m_bandFill, m_bandList;
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
    if (!m_poolBlock.alloc(qnMulSize({cells, 3, sizeof(Fragment)}))) {
        error = m_poolBlock.GetError();
        return Outcome::Failed;
    }
    m_heads = reinterpret_cast<uint32_t*>(m_headBlock.GetPtr());
    m_pool = reinterpret_cast<Fragment*>(m_poolBlock.GetPtr());
    m_cells = static_cast<uint32_t>(cells);
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
    // A texel is in the texture when its truncated coordinates are, that is
    // for -1 < u < width; an empty texture has none (-1 < u < -1 never
    // holds), where u in (-1, 0) would otherwise read texel 0 of nothing.
    const bool empty = m_r.texWidth == 0 || m_r.texHeight == 0;
    m_texW = empty ? -1.0f : static_cast<float>(m_r.texWidth);
    m_texH = empty ? -1.0f : static_cast<float>(m_r.texHeight);
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

// Subsamples per band of a tile (see TilesIn): with the head and the record
// of each, about 640 KB.
inline constexpr int32_t kBandCells = 32768;

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
            // The tile is drawn and resolved in bands of whole output rows
            // small enough that their lists stay in the processor's cache
            // between the drawing and the resolve (a whole tile's records
            // run to megabytes). A band is drawn like a tile: every value is
            // computed from its own row, so bands change no byte. The
            // fragments are counted over the whole tile, so the pool grows,
            // and meets its limit, exactly as if the tile were drawn at once;
            // the progress counts the tile's triangles once, in its first
            // band.
            // Each band's triangles, in the tile's (mesh) order. Where the
            // triangles are small (fewer than about sixteen subsamples each),
            // sorting them into bands costs more than the cache saves, and
            // the tile is one band.
            const uint64_t tileCells = uint64_t{static_cast<uint32_t>(tw * q)} * static_cast<uint32_t>(th * q);
            const bool banded = static_cast<uint64_t>(binEnd - bin) * 16 <= tileCells;
            const int32_t bandRows =
                banded ? std::max<int32_t>(1, kBandCells / std::max<int32_t>(1, tw * q * q)) : th;
            const int32_t bands = (th + bandRows - 1) / bandRows, bandSub = bandRows * q;
            const int32_t tileTop = m_tt, tileBottom = m_tb;
            if (bands > 1)
                m_bandStart.assign(static_cast<size_t>(bands) + 1, 0);
            auto bandsOf = [&](const TriangleSetup& t, int32_t& b0, int32_t& b1) {
                const int32_t lo = std::max(t.box[1], tileTop), hi = std::min(t.box[3], tileBottom);
                if (std::max(t.box[0], m_tl) >= std::min(t.box[2], m_tr) || lo >= hi)
                    return false;
                b0 = (lo - tileTop) / bandSub;
                b1 = (hi - 1 - tileTop) / bandSub;
                return true;
            };
            if (bands > 1) {
                for (const uint32_t* b = bin; b != binEnd; ++b) {
                    int32_t b0, b1;
                    if (bandsOf(m_ts[*b], b0, b1))
                        for (int32_t k = b0; k <= b1; ++k)
                            ++m_bandStart[static_cast<size_t>(k) + 1];
                }
                for (int32_t k = 0; k < bands; ++k)
                    m_bandStart[static_cast<size_t>(k) + 1] += m_bandStart[static_cast<size_t>(k)];
                m_bandList.resize(m_bandStart[static_cast<size_t>(bands)]);
                m_bandFill.assign(m_bandStart.begin(), m_bandStart.end() - 1);
                for (const uint32_t* b = bin; b != binEnd; ++b) {
                    int32_t b0, b1;
                    if (bandsOf(m_ts[*b], b0, b1))
                        for (int32_t k = b0; k <= b1; ++k)
                            m_bandList[m_bandFill[static_cast<size_t>(k)]++] = *b;
                }
            }
            m_count = 0;
            for (int32_t band = 0; band < bands; ++band) {
                const int32_t by = oy + band * bandRows;
                const int32_t bh = std::min(bandRows, oy + th - by);
                const bool firstBand = band == 0;
                m_tt = by * q;
                m_tb = (by + bh) * q;
                for (int32_t r = 0; r < bh * q; ++r)
                    std::memset(m_heads + static_cast<size_t>(r) * m_stride, 0xFF, sizeof(uint32_t) * tw * q);
                m_over = 0;
                const uint32_t* const list =
                    bands > 1 ? m_bandList.data() + m_bandStart[static_cast<size_t>(band)] : bin;
                const uint32_t* const listEnd =
                    bands > 1 ? m_bandList.data() + m_bandStart[static_cast<size_t>(band) + 1] : binEnd;
                for (const uint32_t* b = list; b != listEnd; ++b) {
                    const uint32_t i = *b;
                    if (firstBand && !tickTo(i + 1))
                        return Outcome::Canceled;
                    const TriangleSetup& t = m_ts[i];
                    const int32_t box[4] = {std::max(t.box[0], m_tl), std::max(t.box[1], m_tt),
                                            std::min(t.box[2], m_tr), std::min(t.box[3], m_tb)};
                    if (box[0] >= box[2] || box[1] >= box[3])
                        continue;
                    m_side = &m_r.side[t.front];
                    m_front = t.front != 0;
                    m_solid = m_r.solidAllowed && m_side->solid;
                    // Colour sources of the four colour channels; channels past
                    // n - 1 read the alpha plane and are never used.
                    for (uint32_t c = 0; c < 4; ++c)
                        m_planes[c] = (c + 1 < m_r.channels && !m_solid) ? m_side->plane[c] : m_r.texAlpha;
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
                        m_tablesOn = false;
                        if (m_constant && !m_solid && m_r.channels == 4)
                            PrepareTables(i, box);
                        ok = Fill<TM, NormalMode::Base>(i, box);
                    }
                    if (!ok) {
                        error = m_poolError;
                        return Outcome::Failed;
                    }
                }
                if (firstBand && !tickTo(nt))
                    return Outcome::Canceled;
                ResolveTile(ox, by, tw, bh);
            }
        }
    }
    return Outcome::Done;
}

// Tables pay once a triangle covers about thirty subsamples of the tile per
// table: its area in subsamples, or its box cut to the tile if smaller. (A
// table of 256 bytes costs about what thirty shadings do; a lookup is far
// shorter than a shading's chain of float operations.)
template <class Lighting>
void Frame<Lighting>::PrepareTables(uint32_t i, const int32_t* box)
{
    constexpr float kPerTable = 32.0f;
    const CQNF_3D_SurfaceBase::TRIMESH& tri = m_mesh.triangles[i];
    const VertexSetup &a = m_vs[tri.a], &b = m_vs[tri.b], &c = m_vs[tri.c];
    const float area = 0.5f * std::fabs((b.x - a.x) * (c.y - a.y) - (c.x - a.x) * (b.y - a.y));
    const float cut = static_cast<float>(box[2] - box[0]) * static_cast<float>(box[3] - box[1]);
    const float covered = std::min(area, cut);
    float F[3], G[3];
    for (int k = 0; k < 3; ++k) {
        F[k] = m_rules[k].over ? 1.0f : m_rules[k].f;
        G[k] = m_rules[k].over ? m_rules[k].g : 0.0f;
    }
    const bool shared = F[1] == F[0] && F[2] == F[0] && G[1] == G[0] && G[2] == G[0];
    if (!(covered >= kPerTable * (shared ? 1.0f : 3.0f)))
        return;
    for (int k = 0; k < 3; ++k) {
        if (shared && k > 0) {
            m_table[k] = m_tables[0];
            continue;
        }
        ShadeTable<Lighting::kNearest>(F[k], G[k], m_tables[k]);
        m_table[k] = m_tables[k];
    }
    m_tablesOn = true;
}

}  // namespace s3d::hq

// The members that draw (triangle fill, scan line) and resolve (lists, box
// downsampling) live in their own headers, included here so that every
// renderer still needs only this one.
#include "surface3d/HQFrameFill.h"
#include "surface3d/HQFrameResolve.h"

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
