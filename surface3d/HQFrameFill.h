// The drawing members of the high-quality frame: a triangle cut into spans
// of subsample rows, the fragment pool's growth, and the scan line that
// appends one fragment per covered subsample. Included by HQFrame.h only.
#pragma once

#include "surface3d/HQFrame.h"

namespace s3d::hq {

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
            if constexpr (TM == TexMode::Linear)
                w = 1.0;  // the linear scan line reads no weight
            else if constexpr (TM == TexMode::PerspectiveFloat)
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
    // Records past the slots are numbered from m_cells on and must stay
    // below the list end mark.
    if (next + m_cells >= kEnd || (m_r.fragmentLimit && next > m_r.fragmentLimit) ||
        !m_poolBlock.Resize(qnMulSize({next + m_cells, sizeof(Fragment)}))) {
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
    // The triangle's colour sources (set per triangle) and solid colour.
    const uint8_t* planes[4];
    uint8_t solidColour[4];
    for (uint32_t c = 0; c < 4; ++c) {
        planes[c] = m_planes[c];
        solidColour[c] = side.colour[c];
    }
    Fragment* pool = m_pool;
    uint32_t count = m_count;
    uint32_t over = m_over;
    uint32_t capacity = m_capacity;
    uint32_t* const heads = m_heads;
    const uint32_t cells = m_cells;
    // The record a subsample's next fragment goes to: its slot while its
    // list is empty, else the next one after the slots.
    auto place = [&](const uint32_t* head) {
        return *head == kEnd ? static_cast<uint32_t>(head - heads) : cells + over++;
    };
    // One more fragment stored; false when the pool had to grow and could
    // not.
    auto counted = [&]() __attribute__((always_inline)) {
        if (++count != capacity)
            return true;
        m_count = count;
        m_over = over;
        if (!Grow())
            return false;
        pool = m_pool;
        capacity = m_capacity;
        return true;
    };
    // Links record `at` in front of the subsample's list.
    auto append = [&](uint32_t* head, uint32_t at) {
        pool[at].next = *head;
        *head = at;
        return counted();
    };
    uint32_t* head = heads + static_cast<size_t>(y - m_tt) * m_stride + (xs - m_tl);
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
    if constexpr (NM == NormalMode::Base && NC == 3 && std::endian::native == std::endian::little) {
        // The common case, one lighting for the whole triangle: the same
        // fragments with the loop's branches and member traffic taken out.
        if (constant) {
            const ShadeTriple<Lighting::kNearest> shade(m_rules);
            const uint32_t solidShade = solid ? shade(solidColour[0], solidColour[1], solidColour[2]) : 0;
            const uint8_t* const p0 = planes[0];
            const uint8_t* const p1 = planes[1];
            const uint8_t* const p2 = planes[2];
            // The fragment as depth, link and an 8-byte body (alpha and
            // colours), stored from registers: assembling it byte by byte in
            // memory and copying it stalls every store.
            float runDepth = 0.0f;
            uint64_t body = 0;
            bool have = false;
#if defined(__SSE2__)
            // The linear texel with u and v side by side in one vector: the
            // same single-precision products, sums and range tests.
            const __m128 uv0 = _mm_setr_ps(a0[1], a0[2], 0.0f, 0.0f);
            const __m128 uvStep = _mm_setr_ps(step[1], step[2], 0.0f, 0.0f);
            const __m128 lo = _mm_set1_ps(-1.0f);
            const __m128 hi = _mm_setr_ps(texW, texH, 0.0f, 0.0f);
#endif
            // The texel as one key, column in the low half and row in the
            // high half; kOutside (both INT32_MIN) outside the texture.
            constexpr uint64_t kOutside = 0x8000000080000000u;
            auto texelKey = [&](float fx) __attribute__((always_inline)) -> uint64_t {
#if defined(__SSE2__) && defined(__x86_64__)
                if constexpr (TM == TexMode::Linear) {
                    const __m128 uv = _mm_add_ps(uv0, _mm_mul_ps(uvStep, _mm_set1_ps(fx)));
                    const int in = _mm_movemask_ps(_mm_and_ps(_mm_cmpgt_ps(uv, lo), _mm_cmplt_ps(uv, hi))) & 3;
                    const uint64_t k = static_cast<uint64_t>(_mm_cvtsi128_si64(_mm_cvttps_epi32(uv)));
                    return in == 3 ? k : kOutside;
                }
#endif
                int32_t tu, tv;
                texel(fx, tu, tv);
                return uint64_t{static_cast<uint32_t>(tu)} | uint64_t{static_cast<uint32_t>(tv)} << 32;
            };
            uint64_t previous = kOutside;
            const uint8_t* const table0 = m_table[0];
            const uint8_t* const table1 = m_table[1];
            const uint8_t* const table2 = m_table[2];
            // The loop, once shading each texel and once looking it up. The
            // first pixel's run may have begun before the cut (runStart);
            // every later run begins at its own pixel.
            auto run = [&](auto tables) -> bool {
                uint32_t slot = static_cast<uint32_t>(head - heads);
                // Kept inline: as a call its state would live in memory.
                auto pixel = [&](int32_t x, float fxRun) __attribute__((always_inline)) -> bool {
                    const uint64_t key = texelKey(static_cast<float>(x - x0));
                    if (key != previous) {
                        previous = key;
                        have = false;
                        if (key == kOutside)
                            return true;
                        const uint64_t tu = static_cast<uint32_t>(key), tv = key >> 32;
                        const uint64_t t = tv * texStride + tu;
                        const uint8_t alpha = alphaPlane[t];
                        if (alpha == 0)
                            return true;
                        runDepth = a0[0] + step[0] * fxRun;
                        uint32_t colours3;
                        if constexpr (decltype(tables)::value)
                            colours3 = uint32_t{table0[p0[t]]} | uint32_t{table1[p1[t]]} << 8 |
                                       uint32_t{table2[p2[t]]} << 16;
                        else
                            colours3 = solid ? solidShade : shade(p0[t], p1[t], p2[t]);
                        body = uint64_t{alpha} | uint64_t{colours3} << 8;
                        have = true;
                    } else if (!have) {
                        return true;
                    }
                    const uint32_t next = *head;
                    uint32_t at = slot;
                    if (next != kEnd)
                        at = cells + over++;
                    unsigned char* rec = reinterpret_cast<unsigned char*>(pool + at);
                    std::memcpy(rec, &runDepth, 4);
                    std::memcpy(rec + 4, &next, 4);
                    std::memcpy(rec + 8, &body, 8);
                    *head = at;
                    return counted();
                };
                if (xs >= xe)
                    return true;
                if (!pixel(xs, runStart))
                    return false;
                for (int32_t x = xs + 1; x < xe; ++x) {
                    ++head;
                    ++slot;
                    if (!pixel(x, static_cast<float>(x - x0)))
                        return false;
                }
                return true;
            };
            const bool ok = m_tablesOn ? run(std::true_type{}) : run(std::false_type{});
            m_count = count;
            m_over = over;
            return ok;
        }
    }
    Rule rules[4];
    std::copy(m_rules, m_rules + 4, rules);
    bool produced = false;
    bool ok = true;
    uint32_t last = 0;  // the record of the most recent fragment
    for (int32_t x = xs; x < xe; ++x, ++head) {
        int32_t tu, tv;
        texel(static_cast<float>(x - x0), tu, tv);
        if (tu == pu && tv == pv) {
            if (produced) {
                const uint32_t at = place(head);
                pool[at] = pool[last];
                last = at;
                if (!(ok = append(head, at)))
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
        last = place(head);
        Fragment& f = pool[last];
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
        if (!(ok = append(head, last)))
            break;
        produced = true;
    }
    m_count = count;
    m_over = over;
    return ok;
}

}  // namespace s3d::hq
