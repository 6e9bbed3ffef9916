// High-quality renderers of the first generation: the one-light renderer
// (with perspective, bump maps and the flat rule), the complete renderer with
// every enabled light, and the one-light renderer with interpolated normals.
// The frame is HQFrame.h; this file adds the first generation's lighting.
#include "surface3d/HQFrame.h"
#include "surface3d/Surface.h"

#include <cmath>
#include <vector>

namespace {

using Light = CQNF_3D_Surface::LIGHT_SRC;

// What a light adds, per channel, before its shadow term.
struct LightTerm {
    float colour[4];
    const uint8_t* map;  // its shadow map when in use, else null
    float term[256];     // 1 - (255 - m) x intensity / 25500

    explicit LightTerm(const Light& l)
    {
        std::copy(l.effectiveColour, l.effectiveColour + 4, colour);
        map = l.shadowInUse ? l.shadowMap : nullptr;
        for (int m = 0; m < 256; ++m)
            term[m] = 1.0f - static_cast<float>(255 - m) * l.shadowIntensity / 25500.0f;
    }
    void Add(float f, uint64_t mapIndex, float* out) const
    {
        const float t = map ? term[map[mapIndex]] : 1.0f;
        for (int c = 0; c < 4; ++c)
            out[c] += map ? f * colour[c] * t : f * colour[c];
    }
};

// The first light alone: f = max(0, p dot + (1 - p) max(0, Q)^(material
// shading + 101)) with dot = N.L (negated on back sides), Q = 2 dot^2 - |L|^2,
// p = diffuse percentage / 100; factor = ambient + f x effective colour
// (x shadow term). flat >= 0 uses the flat percentage rule instead.
class LightingOne {
public:
    static constexpr bool kNearest = false;

    LightingOne(const CQNF_3D_Surface& s, const Light& l, float flat)
        : m_flat(flat), m_light(l), m_L(l.direction), m_p(l.diffusePercentage / 100.0f),
          m_exponent(static_cast<double>(s.GetMatShading()) + 101.0)
    {
        std::copy(s.GetAmbientLight(), s.GetAmbientLight() + 4, m_ambient);
    }
    void Begin(const qnt3D_VECTOR& n, bool front)
    {
        if (m_flat >= 0.0f) {
            std::fill(m_factor, m_factor + 4, s3d::hq::FlatFactor(n, front, m_flat));
            m_constant = true;
            return;
        }
        m_f = Strength(n, front);
        m_constant = m_light.map == nullptr;
        if (m_constant)
            TriangleFactors(0, m_factor);
    }
    bool Constant() const { return m_constant; }
    const float* Factors() const { return m_factor; }
    void TriangleFactors(uint64_t mapIndex, float* out) const
    {
        std::copy(m_ambient, m_ambient + 4, out);
        m_light.Add(m_f, mapIndex, out);
    }
    void FactorsAt(const qnt3D_VECTOR& n, bool front, uint64_t mapIndex, float* out) const
    {
        if (m_flat >= 0.0f) {
            std::fill(out, out + 4, s3d::hq::FlatFactor(n, front, m_flat));
            return;
        }
        std::copy(m_ambient, m_ambient + 4, out);
        m_light.Add(Strength(n, front), mapIndex, out);
    }

private:
    float Strength(const qnt3D_VECTOR& n, bool front) const
    {
        float dot = n.x * m_L.x + n.y * m_L.y + n.z * m_L.z;
        const float Q = 2.0f * dot * dot - (m_L.x * m_L.x + m_L.y * m_L.y + m_L.z * m_L.z);
        if (!front)
            dot = -dot;
        const float power = static_cast<float>(std::pow(static_cast<double>(Q > 0.0f ? Q : 0.0f), m_exponent));
        const float f = m_p * dot + (1.0f - m_p) * power;
        return f > 0.0f ? f : 0.0f;
    }

    float m_flat;
    LightTerm m_light;
    qnt3D_VECTOR m_L;
    float m_p;
    double m_exponent;
    float m_ambient[4] = {};
    float m_f = 0.0f;
    bool m_constant = false;
    float m_factor[4] = {};
};

// Every enabled light: c = (L / |L|).(N / |N|), negated on back sides, adds
// (1 - (1 - c^e) x diffuse percentage / 100) x effective colour (x shadow
// term) where c >= 0; e is the surface's cosine power.
class LightingAll {
public:
    static constexpr bool kNearest = false;

    explicit LightingAll(const CQNF_3D_Surface& s) : m_e(s.GetCosPower())
    {
        std::copy(s.GetAmbientLight(), s.GetAmbientLight() + 4, m_ambient);
        for (uint32_t i = 0; i < s.Light_Count(); ++i) {
            const Light& l = *s.int_Light_Get(i);
            if (!l.enabled)
                continue;
            const qnt3D_VECTOR& d = l.direction;
            const float len = std::sqrt(d.x * d.x + d.y * d.y + d.z * d.z);
            m_lights.push_back(Data{LightTerm(l), qnt3D_VECTOR{d.x / len, d.y / len, d.z / len}, l.diffusePercentage});
            m_anyShadow = m_anyShadow || m_lights.back().term.map;
        }
        m_f.resize(m_lights.size());
    }
    void Begin(const qnt3D_VECTOR& n, bool front)
    {
        const qnt3D_VECTOR u = s3d::hq::Normalise(n.x, n.y, n.z);
        for (size_t i = 0; i < m_lights.size(); ++i)
            m_f[i] = Strength(m_lights[i], u, front);
        m_constant = !m_anyShadow;
        if (m_constant)
            TriangleFactors(0, m_factor);
    }
    bool Constant() const { return m_constant; }
    const float* Factors() const { return m_factor; }
    void TriangleFactors(uint64_t mapIndex, float* out) const
    {
        std::copy(m_ambient, m_ambient + 4, out);
        for (size_t i = 0; i < m_lights.size(); ++i)
            m_lights[i].term.Add(m_f[i], mapIndex, out);
    }
    void FactorsAt(const qnt3D_VECTOR& n, bool front, uint64_t mapIndex, float* out) const
    {
        const qnt3D_VECTOR u = s3d::hq::Normalise(n.x, n.y, n.z);
        std::copy(m_ambient, m_ambient + 4, out);
        for (const Data& d : m_lights)
            d.term.Add(Strength(d, u, front), mapIndex, out);
    }

private:
    struct Data {
        LightTerm term;
        qnt3D_VECTOR L;  // unit
        float percent;
    };
    float Strength(const Data& d, const qnt3D_VECTOR& n, bool front) const
    {
        float c = d.L.x * n.x + d.L.y * n.y + d.L.z * n.z;
        if (!front)
            c = -c;
        if (!(c >= 0.0f))
            return 0.0f;
        const float ce = static_cast<float>(std::pow(static_cast<double>(c), static_cast<double>(m_e)));
        return 1.0f - (1.0f - ce) * d.percent / 100.0f;
    }

    float m_e;
    float m_ambient[4] = {};
    std::vector<Data> m_lights;
    std::vector<float> m_f;
    bool m_anyShadow = false;
    bool m_constant = false;
    float m_factor[4] = {};
};

// Whether a light's map darkens it in this render: asked for, wanted by the
// light, and made for this texture size.
bool ShadowUsable(const Light& l, unsigned char useShadowMaps, unsigned long texWidth, unsigned long texHeight)
{
    return useShadowMaps && l.useShadowMap && l.shadowMap && l.shadowMapWidth == texWidth &&
           l.shadowMapHeight == texHeight;
}

}  // namespace

CQNF_3D_Surface::LIGHT_SRC* CQNF_3D_Surface::int_HQFirstLight(unsigned char useShadowMaps, unsigned long texWidth,
                                                              unsigned long texHeight)
{
    if (m_lights.Count() == 0) {
        SetError(qnerr::BadArgument);
        return nullptr;
    }
    LIGHT_SRC* first = m_lights.At(0);
    first->shadowInUse = ShadowUsable(*first, useShadowMaps, texWidth, texHeight) ? 1 : 0;
    return first;
}

uint8_t CQNF_3D_Surface::RenderHQ_Opt(unsigned char perspective, qnt3D_VERTEX perspectiveCentre,
                                      unsigned char autoCentre, unsigned char useShadowMaps,
                                      unsigned char supersampling, unsigned char channels, unsigned char* dst1,
                                      unsigned char* dst2, unsigned char* dst3, unsigned char* dst4,
                                      unsigned char* dstAlpha, unsigned long dstStride, unsigned long dstWidth,
                                      unsigned long dstHeight, unsigned char frontSolid, unsigned char* frontColour,
                                      unsigned char* front1, unsigned char* front2, unsigned char* front3,
                                      unsigned char* front4, unsigned char backSolid, unsigned char* backColour,
                                      unsigned char* back1, unsigned char* back2, unsigned char* back3,
                                      unsigned char* back4, unsigned char* texAlpha, unsigned long texStride,
                                      unsigned long texWidth, unsigned long texHeight, unsigned char* frontBump,
                                      unsigned char* backBump, unsigned long bumpStride, float frontBumpDepth,
                                      float backBumpDepth, qntRECT_s clip, float flatShading)
{
    LIGHT_SRC* first = int_HQFirstLight(useShadowMaps, texWidth, texHeight);
    if (!first)
        return 0;
    const s3d::hq::Planes p{dst1,      dst2,       dst3,       dst4,     dstAlpha,   dstStride,     dstWidth,
                            dstHeight, frontSolid, frontColour, front1,  front2,     front3,        front4,
                            backSolid, backColour, back1,      back2,    back3,      back4,         texAlpha,
                            texStride, texWidth,   texHeight,  frontBump, backBump,  bumpStride,    frontBumpDepth,
                            backBumpDepth};
    s3d::hq::Request r;
    s3d::hq::Fill(r, supersampling, channels, p, clip);
    r.perspective = perspective != 0;
    r.texMode = r.perspective ? s3d::hq::TexMode::PerspectiveFloat : s3d::hq::TexMode::Linear;
    r.centre = perspectiveCentre;
    r.autoCentre = autoCentre != 0;
    // Bump maps without a dead zone, with or without perspective.
    r.bumpMode = s3d::hq::NormalMode::BumpPlain;
    r.fragmentLimit = GetHQFragmentLimit();
    if (!int_HQReady(r, p))
        return 0;
    LightingOne light(*this, *first, flatShading / 100.0f);
    return s3d::hq::Render(
        *this, r, light, GetProgress(), [] { return true; }, [this] { return int_MeshView(); });
}

uint8_t CQNF_3D_Surface::RenderHQ(unsigned char useShadowMaps, unsigned char supersampling, unsigned char channels,
                                  unsigned char altLayout, unsigned char* dst1, unsigned char* dst2,
                                  unsigned char* dst3, unsigned char* dst4, unsigned char* dstAlpha,
                                  unsigned long dstStride, unsigned long dstWidth, unsigned long dstHeight,
                                  unsigned char* front1, unsigned char* front2, unsigned char* front3,
                                  unsigned char* front4, unsigned char* back1, unsigned char* back2,
                                  unsigned char* back3, unsigned char* back4, unsigned char* texAlpha,
                                  unsigned long texStride, unsigned long texWidth, unsigned long texHeight,
                                  unsigned char* frontBump, unsigned char* backBump, unsigned long bumpStride,
                                  float frontBumpDepth, float backBumpDepth, qntRECT_s clip)
{
    for (uint32_t i = 0; i < m_lights.Count(); ++i) {
        LIGHT_SRC& l = *m_lights.At(i);
        if (l.enabled)
            l.shadowInUse = ShadowUsable(l, useShadowMaps, texWidth, texHeight) ? 1 : 0;
    }
    // The alternative layout renders nothing a caller could use: refused.
    if (altLayout) {
        SetError(qnerr::BadArgument);
        return 0;
    }
    const s3d::hq::Planes p{dst1,      dst2,     dst3,      dst4,      dstAlpha, dstStride,  dstWidth,
                            dstHeight, 0,        nullptr,   front1,    front2,   front3,     front4,
                            0,         nullptr,  back1,     back2,     back3,    back4,      texAlpha,
                            texStride, texWidth, texHeight, frontBump, backBump, bumpStride, frontBumpDepth,
                            backBumpDepth};
    s3d::hq::Request r;
    s3d::hq::Fill(r, supersampling, channels, p, clip);
    r.solidAllowed = false;
    r.bumpMode = s3d::hq::NormalMode::BumpPlain;
    r.tileBase = 600;
    r.progress = false;
    r.fragmentLimit = GetHQFragmentLimit();
    if (!int_HQReady(r, p))
        return 0;
    LightingAll light(*this);
    return s3d::hq::Render(
        *this, r, light, nullptr, [] { return true; }, [this] { return int_MeshView(); });
}

uint8_t CQNF_3D_Surface::RenderHQ_Opt_1Light_8_Phong(
    unsigned char useShadowMaps, unsigned char supersampling, unsigned char channels, unsigned char* dst1,
    unsigned char* dst2, unsigned char* dst3, unsigned char* dst4, unsigned char* dstAlpha, unsigned long dstStride,
    unsigned long dstWidth, unsigned long dstHeight, unsigned char frontSolid, unsigned char* frontColour,
    unsigned char* front1, unsigned char* front2, unsigned char* front3, unsigned char* front4,
    unsigned char backSolid, unsigned char* backColour, unsigned char* back1, unsigned char* back2,
    unsigned char* back3, unsigned char* back4, unsigned char* texAlpha, unsigned long texStride,
    unsigned long texWidth, unsigned long texHeight, unsigned char* frontBump, unsigned char* backBump,
    unsigned long bumpStride, float frontBumpDepth, float backBumpDepth, qntRECT_s clip)
{
    LIGHT_SRC* first = int_HQFirstLight(useShadowMaps, texWidth, texHeight);
    if (!first)
        return 0;
    const s3d::hq::Planes p{dst1,      dst2,       dst3,       dst4,     dstAlpha,   dstStride,     dstWidth,
                            dstHeight, frontSolid, frontColour, front1,  front2,     front3,        front4,
                            backSolid, backColour, back1,      back2,    back3,      back4,         texAlpha,
                            texStride, texWidth,   texHeight,  frontBump, backBump,  bumpStride,    frontBumpDepth,
                            backBumpDepth};
    s3d::hq::Request r;
    s3d::hq::Fill(r, supersampling, channels, p, clip);
    r.phong = true;
    r.bumpMode = s3d::hq::NormalMode::BumpPlain;
    r.fragmentLimit = GetHQFragmentLimit();
    if (!int_HQReady(r, p))
        return 0;
    LightingOne light(*this, *first, -1.0f);
    return s3d::hq::Render(
        *this, r, light, GetProgress(), [this] { return PrepareVertexNormalsArray() != 0; },
        [this] { return int_MeshView(); });
}
