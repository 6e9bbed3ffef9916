// Types and small helpers of the high-quality frame (HQFrame.h): the
// fragment record, the request and the caller's planes with their checks,
// the byte rounding rules, the flat lighting, per-call set-up records, spans
// and the progress ticker. Private to the mesh renderer.
#pragma once

#include "core/Mem.h"
#include "core/Progress.h"
#include "surface3d/S3DMath.h"
#include "surface3d/SurfaceBase.h"
#include "surface3d/TriangleWalk.h"

#include <algorithm>
#include <bit>
#include <cfloat>
#include <cstddef>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <type_traits>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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
static_assert(offsetof(Fragment, next) == 4 && offsetof(Fragment, alpha) == 8 && offsetof(Fragment, colour) == 9,
              "the span loop stores a fragment as depth, link and an 8-byte body");

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

// ShadeByte with the rule's branch folded into two factors: v = c F +
// (255 - c) G is c f exactly when F = f, G = 0, and c + (255 - c) g exactly
// when F = 1, G = g; clamping before the rounding gives the same bytes as
// ShadeByte's tests.
template <bool Nearest>
inline uint8_t ShadeFolded(float F, float G, uint8_t c)
{
    float v = static_cast<float>(c) * F + static_cast<float>(255 - c) * G;
    if constexpr (Nearest) {
        v = v >= 0.0f ? v : 0.0f;
        v = v < 255.0f ? v : 255.0f;
        return RoundEven(v);
    } else {
        v = v > 0.0f ? v : 0.0f;
        v = v < 255.0f ? v : 255.0f;
        return static_cast<uint8_t>(static_cast<int32_t>(v));
    }
}

// Three channels shaded at once under constant rules: the bytes of
// ShadeFolded for (c0, c1, c2), packed c0 | c1 << 8 | c2 << 16. The vector
// form does the same single-precision operations lane by lane (max and min
// clamp as ShadeFolded does: a value that is not a number becomes 0).
template <bool Nearest>
class ShadeTriple {
public:
    explicit ShadeTriple(const Rule* rules)
    {
        for (int c = 0; c < 3; ++c) {
            m_F[c] = rules[c].over ? 1.0f : rules[c].f;
            m_G[c] = rules[c].over ? rules[c].g : 0.0f;
        }
#if defined(__SSE2__)
        m_Fv = _mm_setr_ps(m_F[0], m_F[1], m_F[2], 0.0f);
        m_Gv = _mm_setr_ps(m_G[0], m_G[1], m_G[2], 0.0f);
        m_255 = _mm_set1_ps(255.0f);
        m_big = _mm_set1_ps(8388608.0f);
#endif
    }
    uint32_t operator()(uint8_t c0, uint8_t c1, uint8_t c2) const
    {
#if defined(__SSE2__)
        const __m128 c = _mm_cvtepi32_ps(_mm_setr_epi32(c0, c1, c2, 0));
        const __m128 rest = _mm_sub_ps(m_255, c);
        __m128 v = _mm_add_ps(_mm_mul_ps(c, m_Fv), _mm_mul_ps(rest, m_Gv));
        v = _mm_min_ps(_mm_max_ps(v, _mm_setzero_ps()), m_255);
        if constexpr (Nearest)
            v = _mm_sub_ps(_mm_add_ps(v, m_big), m_big);
        const __m128i i = _mm_cvttps_epi32(v);
        const __m128i b = _mm_packus_epi16(_mm_packs_epi32(i, i), _mm_setzero_si128());
        return static_cast<uint32_t>(_mm_cvtsi128_si32(b)) & 0xFFFFFFu;
#else
        return uint32_t{ShadeFolded<Nearest>(m_F[0], m_G[0], c0)} |
               uint32_t{ShadeFolded<Nearest>(m_F[1], m_G[1], c1)} << 8 |
               uint32_t{ShadeFolded<Nearest>(m_F[2], m_G[2], c2)} << 16;
#endif
    }

private:
    float m_F[3], m_G[3];
#if defined(__SSE2__)
    __m128 m_Fv, m_Gv, m_255, m_big;
#endif
};

// ShadeFolded for every byte value c, out[c], in the operations and order of
// ShadeTriple's lanes, sixteen values at a time. A triangle that covers many
// subsamples looks its colours up here instead of shading each one.
template <bool Nearest>
inline void ShadeTable(float F, float G, uint8_t* out)
{
#if defined(__SSE2__)
    const __m128 Fv = _mm_set1_ps(F), Gv = _mm_set1_ps(G), v255 = _mm_set1_ps(255.0f), big = _mm_set1_ps(8388608.0f);
    __m128i c = _mm_setr_epi32(0, 1, 2, 3);
    const __m128i four = _mm_set1_epi32(4);
    for (int base = 0; base < 256; base += 16) {
        __m128i b[4];
        for (int k = 0; k < 4; ++k) {
            const __m128 cf = _mm_cvtepi32_ps(c);
            __m128 v = _mm_add_ps(_mm_mul_ps(cf, Fv), _mm_mul_ps(_mm_sub_ps(v255, cf), Gv));
            v = _mm_min_ps(_mm_max_ps(v, _mm_setzero_ps()), v255);
            if constexpr (Nearest)
                v = _mm_sub_ps(_mm_add_ps(v, big), big);
            b[k] = _mm_cvttps_epi32(v);
            c = _mm_add_epi32(c, four);
        }
        const __m128i w = _mm_packus_epi16(_mm_packs_epi32(b[0], b[1]), _mm_packs_epi32(b[2], b[3]));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + base), w);
    }
#else
    for (int c = 0; c < 256; ++c)
        out[c] = ShadeFolded<Nearest>(F, G, static_cast<uint8_t>(c));
#endif
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

}  // namespace s3d::hq
