// Lights of the second-generation surface: the named list, the ambient block
// and the precalculation of the per-channel factors the renderers read.
#include "surface3d/Surface2.h"

#include <cmath>
#include <cstring>

namespace {

constexpr float kPercentByte = 25500.0f;  // 100 % x 255

float SpecularExponent(float gloss) { return gloss * gloss * gloss * 250.0f / 1000000.0f + 1.0f; }

// Per-channel factors of one colour in a channel mode; false for a mode that
// has no colour layout (the factors are then left alone).
bool ChannelFactors(unsigned char mode, const uint8_t* colour, float opacity, float* factor)
{
    switch (mode) {
    case 0:
        for (int k = 0; k < 4; ++k)
            factor[k] = colour[0] * opacity / kPercentByte;
        return true;
    case 1:
        for (int k = 0; k < 3; ++k)
            factor[k] = colour[1 + k] * opacity / kPercentByte;
        factor[3] = factor[0];
        return true;
    case 2:
        for (int k = 0; k < 4; ++k)
            factor[k] = colour[4 + k] * opacity / kPercentByte;
        return true;
    default:
        return false;
    }
}

float UsedZ(const CQNF_3D_Surface2::LIGHT_SOURCE& s) { return s.zKept ? s.z : -s.z; }

}  // namespace

CQNF_3D_Surface2::CQNF_3D_Surface2() = default;

CQNF_3D_Surface2::~CQNF_3D_Surface2() { Light_KillAll(); }

uint8_t CQNF_3D_Surface2::Create(CQNF_3D_Surface2* source) { return int_CopyMeshFrom(source); }

uint8_t CQNF_3D_Surface2::Light_Add(LIGHT_SOURCE* light)
{
    unsigned short error = 0;
    INTERNAL_LIGHT_SOURCE* rec = m_lights.AddNamed(light ? light->name : nullptr, error);
    if (!rec) {
        SetError(error);
        return 0;
    }
    rec->source = *light;
    rec->source.name = rec->name;
    return 1;
}

uint8_t CQNF_3D_Surface2::Light_Change(LIGHT_SOURCE* light)
{
    INTERNAL_LIGHT_SOURCE* rec = light ? m_lights.FindRecord(light->name) : nullptr;
    if (!rec)
        return 0;
    // The stored name stays the one given when the light was added.
    rec->source = *light;
    rec->source.name = rec->name;
    return 1;
}

uint8_t CQNF_3D_Surface2::Light_GetData(LIGHT_SOURCE* light)
{
    INTERNAL_LIGHT_SOURCE* rec = light ? m_lights.FindRecord(light->name) : nullptr;
    if (!rec)
        return 0;
    *light = rec->source;
    return 1;
}

uint8_t CQNF_3D_Surface2::Light_GetName(unsigned long index, char* buffer, unsigned long size)
{
    return m_lights.GetName(index, buffer, size) ? 1 : 0;
}

uint8_t CQNF_3D_Surface2::Light_Delete(char* name) { return m_lights.Delete(name) ? 1 : 0; }

uint8_t CQNF_3D_Surface2::Light_KillAll()
{
    m_lights.KillAll();
    return 1;
}

uint8_t CQNF_3D_Surface2::int_CreateShadowMapStorage(INTERNAL_LIGHT_SOURCE* light, unsigned long width,
                                                     unsigned long height)
{
    if (!light->shadowMapBlock.Resize(qnMulSize({width, height}))) {
        SetError(light->shadowMapBlock.GetError());
        light->shadowMapBlock.free();
        light->shadowMap = nullptr;
        light->shadowMapWidth = light->shadowMapHeight = 0;
        return 0;
    }
    light->shadowMap = light->shadowMapBlock.GetPtr();
    light->shadowMapWidth = light->shadowMap ? static_cast<uint32_t>(width) : 0;
    light->shadowMapHeight = light->shadowMap ? static_cast<uint32_t>(height) : 0;
    return 1;
}

uint8_t CQNF_3D_Surface2::Light_CreateShadowMapStorage(char* name, unsigned long width, unsigned long height)
{
    INTERNAL_LIGHT_SOURCE* rec = m_lights.FindRecord(name);
    if (!rec)
        return 0;
    return int_CreateShadowMapStorage(rec, width, height);
}

unsigned char* CQNF_3D_Surface2::Light_GetShadowMap(char* name)
{
    INTERNAL_LIGHT_SOURCE* rec = m_lights.FindRecord(name);
    return rec ? rec->shadowMap : nullptr;
}

uint8_t CQNF_3D_Surface2::Light_SetAmbientLight(unsigned char* highlightColour, float highlightOpacity,
                                                unsigned char* shadowColour, float shadowOpacity,
                                                unsigned char autoHighlight, unsigned char autoShadow)
{
    if ((!autoHighlight && !highlightColour) || (!autoShadow && !shadowColour)) {
        SetError(qnerr::BadArgument);
        return 0;
    }
    if (!autoHighlight && !autoShadow) {
        std::memcpy(m_ambient.highlightColour, highlightColour, 8);
        m_ambient.highlightOpacity = highlightOpacity;
        std::memcpy(m_ambient.shadowColour, shadowColour, 8);
        m_ambient.shadowOpacity = shadowOpacity;
        return 1;
    }
    // What a flat surface facing +z receives from all lights, per pass.
    float highlightSum = 0.0f, shadowSum = 0.0f;
    for (uint32_t i = 0; i < m_lights.Count(); ++i) {
        const LIGHT_SOURCE& s = m_lights.At(i)->source;
        const float z = UsedZ(s);
        const float t = z > 0.0f ? z : 0.0f;
        const float e = SpecularExponent(s.gloss);
        const float d = s.diffuseOpacity / 100.0f;
        const float q = s.specularOpacity / 100.0f;
        // The power in double; each light's term joins the f32 sums.
        const double specular = std::pow(static_cast<double>(t), static_cast<double>(e));
        const float hDiffuse = (s.diffuseInHighlight ? z : 0.0f) * d;
        const float sDiffuse = (s.diffuseInShadow ? z : 0.0f) * d;
        highlightSum = static_cast<float>(highlightSum + ((hDiffuse > 0.0f ? hDiffuse : 0.0f) +
                                                          (s.specularInHighlight ? specular : 0.0) * q));
        shadowSum = static_cast<float>(shadowSum + ((sDiffuse > 0.0f ? sDiffuse : 0.0f) +
                                                    (s.specularInShadow ? specular : 0.0) * q));
    }
    if (autoHighlight) {
        std::memset(m_ambient.highlightColour, 255, 8);
        m_ambient.highlightOpacity = (1.0f - highlightSum) * 100.0f;
    } else {
        std::memcpy(m_ambient.highlightColour, highlightColour, 8);
        m_ambient.highlightOpacity = highlightOpacity;
    }
    if (autoShadow) {
        std::memset(m_ambient.shadowColour, 255, 8);
        m_ambient.shadowOpacity = (1.0f - shadowSum) * 100.0f;
    } else {
        std::memcpy(m_ambient.shadowColour, shadowColour, 8);
        m_ambient.shadowOpacity = shadowOpacity;
    }
    return 1;
}

uint8_t CQNF_3D_Surface2::Light_PrecalculateLights(unsigned char mode)
{
    for (uint32_t i = 0; i < m_lights.Count(); ++i) {
        INTERNAL_LIGHT_SOURCE& rec = *m_lights.At(i);
        const LIGHT_SOURCE& s = rec.source;
        ChannelFactors(mode, s.diffuseColour, s.diffuseOpacity, rec.diffuseFactor);
        ChannelFactors(mode, s.specularColour, s.specularOpacity, rec.specularFactor);
        rec.specularExponent = SpecularExponent(s.gloss);
        rec.lightVector = qnt3D_VECTOR{-s.x, s.y, UsedZ(s)};
    }
    ChannelFactors(mode, m_ambient.highlightColour, m_ambient.highlightOpacity, m_ambient.highlightFactor);
    ChannelFactors(mode, m_ambient.shadowColour, m_ambient.shadowOpacity, m_ambient.shadowFactor);
    return 1;
}
