// High-quality renderers of the second generation: the lit renderer with
// optional perspective, bump maps and shadow maps, and the renderer with
// normals interpolated across each triangle. The frame is HQFrame.h; this
// file adds the second generation's lighting.
#include "surface3d/HQFrame.h"
#include "surface3d/Surface2.h"

#include <cmath>
#include <vector>

namespace {

using Light = CQNF_3D_Surface2::INTERNAL_LIGHT_SOURCE;

// The lights summed per channel, starting from the ambient factors of the
// pass (highlight for front sides, shadow for back sides). Per light, with N
// the shading normal and L the light vector: dot = N.L; diffuse = dot
// (highlight) or -dot (shadow) when its switch for the pass is on, at least
// 0; specular = max(0, 2 dot N.z - L.z) ^ exponent when its switch is on;
// contribution = diffuse x diffuse factor + specular x specular factor, times
// 1 - (255 - m) x intensity / 25500 for a light darkened by its shadow map
// (m the map at the texel). A factor left below 0 becomes 0. flat >= 0 uses
// the flat percentage rule instead.
class Lighting2 {
public:
    static constexpr bool kNearest = true;

    Lighting2(const CQNF_3D_Surface2& s, float flat) : m_flat(flat)
    {
        const CQNF_3D_Surface2::AMBIENT_BLOCK& a = s.GetAmbientBlock();
        std::copy(a.highlightFactor, a.highlightFactor + 4, m_ambient[1]);
        std::copy(a.shadowFactor, a.shadowFactor + 4, m_ambient[0]);
        m_lights.reserve(s.Light_Count());
        for (uint32_t i = 0; i < s.Light_Count(); ++i) {
            const Light* l = s.int_Light_Get(i);
            Data d;
            d.L = l->lightVector;
            std::copy(l->diffuseFactor, l->diffuseFactor + 4, d.diffuse);
            std::copy(l->specularFactor, l->specularFactor + 4, d.specular);
            d.exponent = l->specularExponent;
            d.on[1][0] = l->source.diffuseInHighlight != 0;
            d.on[1][1] = l->source.specularInHighlight != 0;
            d.on[0][0] = l->source.diffuseInShadow != 0;
            d.on[0][1] = l->source.specularInShadow != 0;
            d.map = l->shadowInUse ? l->shadowMap : nullptr;
            if (d.map) {
                for (int m = 0; m < 256; ++m)
                    d.term[m] = 1.0f - static_cast<float>(255 - m) * l->source.shadowIntensity / 25500.0f;
                m_anyShadow = true;
            }
            m_lights.push_back(d);
        }
        m_contrib.resize(m_lights.size() * 4);
    }

    void Begin(const qnt3D_VECTOR& n, bool front)
    {
        m_front = front;
        if (m_flat >= 0.0f) {
            std::fill(m_factor, m_factor + 4, s3d::hq::FlatFactor(n, front, m_flat));
            m_constant = true;
            return;
        }
        for (size_t i = 0; i < m_lights.size(); ++i)
            Contribution(m_lights[i], n, front, &m_contrib[i * 4]);
        m_constant = !m_anyShadow;
        if (m_constant)
            Sum(0, m_factor);
    }
    bool Constant() const { return m_constant; }
    const float* Factors() const { return m_factor; }
    void TriangleFactors(uint64_t mapIndex, float* out) const { Sum(mapIndex, out); }
    void FactorsAt(const qnt3D_VECTOR& n, bool front, uint64_t mapIndex, float* out) const
    {
        if (m_flat >= 0.0f) {
            std::fill(out, out + 4, s3d::hq::FlatFactor(n, front, m_flat));
            return;
        }
        std::copy(m_ambient[front], m_ambient[front] + 4, out);
        float c[4];
        for (const Data& d : m_lights) {
            Contribution(d, n, front, c);
            Add(d, c, mapIndex, out);
        }
        Clamp(out);
    }

private:
    struct Data {
        qnt3D_VECTOR L;
        float diffuse[4];
        float specular[4];
        double exponent;
        bool on[2][2];  // [pass][diffuse, specular]
        const uint8_t* map;
        float term[256];
    };

    static void Contribution(const Data& d, const qnt3D_VECTOR& n, bool front, float* out)
    {
        const float dot = n.x * d.L.x + n.y * d.L.y + n.z * d.L.z;
        float s = 2.0f * dot * n.z - d.L.z;
        if (!(s > 0.0f))
            s = 0.0f;
        float diffuse = d.on[front][0] ? (front ? dot : -dot) : 0.0f;
        if (!(diffuse > 0.0f))
            diffuse = 0.0f;
        const float specular = d.on[front][1] ? static_cast<float>(std::pow(static_cast<double>(s), d.exponent)) : 0.0f;
        for (int c = 0; c < 4; ++c)
            out[c] = diffuse * d.diffuse[c] + specular * d.specular[c];
    }
    static void Add(const Data& d, const float* c, uint64_t mapIndex, float* out)
    {
        if (d.map) {
            const float t = d.term[d.map[mapIndex]];
            for (int k = 0; k < 4; ++k)
                out[k] += c[k] * t;
        } else {
            for (int k = 0; k < 4; ++k)
                out[k] += c[k];
        }
    }
    static void Clamp(float* out)
    {
        for (int k = 0; k < 4; ++k)
            if (!(out[k] >= 0.0f))
                out[k] = 0.0f;
    }
    void Sum(uint64_t mapIndex, float* out) const
    {
        std::copy(m_ambient[m_front], m_ambient[m_front] + 4, out);
        for (size_t i = 0; i < m_lights.size(); ++i)
            Add(m_lights[i], &m_contrib[i * 4], mapIndex, out);
        Clamp(out);
    }

    float m_flat;
    float m_ambient[2][4] = {};
    std::vector<Data> m_lights;
    std::vector<float> m_contrib;
    bool m_anyShadow = false;
    bool m_front = false;
    bool m_constant = false;
    float m_factor[4] = {};
};

}  // namespace

uint8_t CQNF_3D_Surface2::RenderHQ_Opt(
    unsigned char perspective, qnt3D_VERTEX perspectiveCentre, unsigned char autoCentre, unsigned char useShadowMaps,
    unsigned char supersampling, unsigned char channels, unsigned char* dst1, unsigned char* dst2,
    unsigned char* dst3, unsigned char* dst4, unsigned char* dstAlpha, unsigned long dstStride,
    unsigned long dstWidth, unsigned long dstHeight, unsigned char frontSolid, unsigned char* frontColour,
    unsigned char* front1, unsigned char* front2, unsigned char* front3, unsigned char* front4,
    unsigned char backSolid, unsigned char* backColour, unsigned char* back1, unsigned char* back2,
    unsigned char* back3, unsigned char* back4, unsigned char* texAlpha, unsigned long texStride,
    unsigned long texWidth, unsigned long texHeight, unsigned char* frontBump, unsigned char* backBump,
    unsigned long bumpStride, float frontBumpDepth, float backBumpDepth, qntRECT_s clip, float flatShading)
{
    // A map darkens its light only when it was made for this texture.
    for (uint32_t i = 0; i < m_lights.Count(); ++i) {
        INTERNAL_LIGHT_SOURCE* l = m_lights.At(i);
        l->shadowInUse = (useShadowMaps && l->source.castsShadow && l->shadowMap && l->shadowMapWidth == texWidth &&
                          l->shadowMapHeight == texHeight)
                             ? 1
                             : 0;
    }
    const s3d::hq::Planes p{dst1,      dst2,       dst3,       dst4,     dstAlpha,   dstStride,     dstWidth,
                            dstHeight, frontSolid, frontColour, front1,  front2,     front3,        front4,
                            backSolid, backColour, back1,      back2,    back3,      back4,         texAlpha,
                            texStride, texWidth,   texHeight,  frontBump, backBump,  bumpStride,    frontBumpDepth,
                            backBumpDepth};
    s3d::hq::Request r;
    s3d::hq::Fill(r, supersampling, channels, p, clip);
    r.perspective = perspective != 0;
    r.texMode = r.perspective ? s3d::hq::TexMode::PerspectiveDouble : s3d::hq::TexMode::Linear;
    r.centre = perspectiveCentre;
    r.autoCentre = autoCentre != 0;
    r.bumpMode = s3d::hq::NormalMode::BumpDeadZone;
    r.fragmentLimit = GetHQFragmentLimit();
    if (!int_HQReady(r, p))
        return 0;
    Lighting2 light(*this, flatShading / 100.0f);
    return s3d::hq::Render(
        *this, r, light, GetProgress(), [] { return true; }, [this] { return int_MeshView(); });
}

uint8_t CQNF_3D_Surface2::RenderHQ_Opt_InterpolatedShading(
    unsigned char supersampling, unsigned char channels, unsigned char* dst1, unsigned char* dst2,
    unsigned char* dst3, unsigned char* dst4, unsigned char* dstAlpha, unsigned long dstStride,
    unsigned long dstWidth, unsigned long dstHeight, unsigned char frontSolid, unsigned char* frontColour,
    unsigned char* front1, unsigned char* front2, unsigned char* front3, unsigned char* front4,
    unsigned char backSolid, unsigned char* backColour, unsigned char* back1, unsigned char* back2,
    unsigned char* back3, unsigned char* back4, unsigned char* texAlpha, unsigned long texStride,
    unsigned long texWidth, unsigned long texHeight, unsigned char* frontBump, unsigned char* backBump,
    unsigned long bumpStride, float frontBumpDepth, float backBumpDepth, qntRECT_s clip)
{
    // This renderer never darkens by shadow maps.
    for (uint32_t i = 0; i < m_lights.Count(); ++i)
        m_lights.At(i)->shadowInUse = 0;
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
    Lighting2 light(*this, -1.0f);
    return s3d::hq::Render(
        *this, r, light, GetProgress(), [this] { return PrepareVertexNormalsArray() != 0; },
        [this] { return int_MeshView(); });
}
