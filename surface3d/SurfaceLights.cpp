// Lights of the first-generation surface: the named list, the change flags
// that tell a caller which shadows need making again, and the ambient values.
#include "surface3d/Surface.h"

#include <cstring>

namespace {

using Source = CQNF_3D_Surface::LIGHT_SOURCE;
using Stored = CQNF_3D_Surface::LIGHT_SRC;

void StoreFields(Stored& r, const Source& s)
{
    r.colourScale = s.colourScale;
    std::memcpy(r.colour, s.colour, sizeof(r.colour));
    r.colourPercentage = s.colourPercentage;
    for (int k = 0; k < 4; ++k)
        r.effectiveColour[k] = r.colour[k] * r.colourScale * r.colourPercentage / 100.0f;
    r.diffusePercentage = s.diffusePercentage;
    r.direction = qnt3D_VECTOR{s.x, s.y, s.z};
    r.enabled = s.enabled;
    r.flag2 = s.flag2;
    r.shadowIntensity = s.shadowIntensity;
    r.smLevel = s.smLevel;
    r.smBlurMode = s.smBlurMode;
    r.smNearRadius = s.smNearRadius;
    r.smFarRadius = s.smFarRadius;
    r.bgShadow = s.bgShadow;
    r.bgStrength = s.bgStrength;
    r.bgLevel = s.bgLevel;
    r.bgBlurMode = s.bgBlurMode;
    r.bgNearRadius = s.bgNearRadius;
    r.bgFarRadius = s.bgFarRadius;
}

bool DirectionDiffers(const Stored& r, const Source& s)
{
    return r.direction.x != s.x || r.direction.y != s.y || r.direction.z != s.z;
}

}  // namespace

CQNF_3D_Surface::CQNF_3D_Surface() = default;

CQNF_3D_Surface::~CQNF_3D_Surface() { Light_KillAll(); }

uint8_t CQNF_3D_Surface::Create(CQNF_3D_Surface* source) { return int_CopyMeshFrom(source); }

uint8_t CQNF_3D_Surface::Light_Add(LIGHT_SOURCE* light)
{
    unsigned short error = 0;
    LIGHT_SRC* rec = m_lights.AddNamed(light ? light->name : nullptr, error);
    if (!rec) {
        SetError(error);
        return 0;
    }
    StoreFields(*rec, *light);
    // A new light needs its shadows made; its map comes with its storage.
    rec->changed = 1;
    rec->bgChanged = 1;
    rec->useShadowMap = 0;
    rec->shadowMap = nullptr;
    return 1;
}

uint8_t CQNF_3D_Surface::Light_Change(LIGHT_SOURCE* light)
{
    LIGHT_SRC* rec = light ? m_lights.FindRecord(light->name) : nullptr;
    if (!rec)
        return 0;
    if (!rec->changed) {
        const bool dir = DirectionDiffers(*rec, *light);
        if (dir || rec->smNearRadius != light->smNearRadius || rec->smFarRadius != light->smFarRadius ||
            rec->smLevel != light->smLevel || rec->smBlurMode != light->smBlurMode)
            rec->changed = 1;
        if (dir || rec->bgNearRadius != light->bgNearRadius || rec->bgFarRadius != light->bgFarRadius ||
            rec->bgLevel != light->bgLevel || rec->bgBlurMode != light->bgBlurMode)
            rec->bgChanged = 1;
    }
    StoreFields(*rec, *light);
    rec->useShadowMap = light->useShadowMap;
    return 1;
}

uint8_t CQNF_3D_Surface::Light_GetData(LIGHT_SOURCE* light)
{
    LIGHT_SRC* rec = light ? m_lights.FindRecord(light->name) : nullptr;
    if (!rec)
        return 0;
    LIGHT_SOURCE& s = *light;
    s.name = rec->name;
    s.enabled = rec->enabled;
    s.flag2 = rec->flag2;
    s.colourScale = rec->colourScale;
    std::memcpy(s.colour, rec->colour, sizeof(s.colour));
    s.colourPercentage = rec->colourPercentage;
    s.diffusePercentage = rec->diffusePercentage;
    s.x = rec->direction.x;
    s.y = rec->direction.y;
    s.z = rec->direction.z;
    s.shadowIntensity = rec->shadowIntensity;
    s.smLevel = rec->smLevel;
    s.smBlurMode = rec->smBlurMode;
    s.smNearRadius = rec->smNearRadius;
    s.smFarRadius = rec->smFarRadius;
    s.bgShadow = rec->bgShadow;
    s.bgStrength = rec->bgStrength;
    s.bgLevel = rec->bgLevel;
    s.bgBlurMode = rec->bgBlurMode;
    s.bgNearRadius = rec->bgNearRadius;
    s.bgFarRadius = rec->bgFarRadius;
    s.useShadowMap = rec->useShadowMap;
    return 1;
}

uint8_t CQNF_3D_Surface::Light_GetName(unsigned long index, char* buffer, unsigned long size)
{
    return m_lights.GetName(index, buffer, size) ? 1 : 0;
}

uint8_t CQNF_3D_Surface::Light_Delete(char* name) { return m_lights.Delete(name) ? 1 : 0; }

uint8_t CQNF_3D_Surface::Light_KillAll()
{
    m_lights.KillAll();
    return 1;
}

namespace {

// Sets one byte field of the named light; 0 when there is no such light.
uint8_t SetField(const s3d::LightList<Stored>& lights, const char* name, uint8_t Stored::*field, uint8_t value)
{
    Stored* rec = lights.FindRecord(name);
    if (!rec)
        return 0;
    rec->*field = value;
    return 1;
}

}  // namespace

uint8_t CQNF_3D_Surface::Light_Enable(char* name, unsigned char enable)
{
    return SetField(m_lights, name, &LIGHT_SRC::enabled, enable);
}

uint8_t CQNF_3D_Surface::Light_UseShadowMap(char* name, unsigned char use)
{
    return SetField(m_lights, name, &LIGHT_SRC::useShadowMap, use);
}

uint8_t CQNF_3D_Surface::Light_SetChangedFlag(char* name, unsigned char value)
{
    return SetField(m_lights, name, &LIGHT_SRC::changed, value);
}

uint8_t CQNF_3D_Surface::Light_SetBgChangedFlag(char* name, unsigned char value)
{
    return SetField(m_lights, name, &LIGHT_SRC::bgChanged, value);
}

uint8_t CQNF_3D_Surface::Light_GetChangedFlag(char* name)
{
    const LIGHT_SRC* rec = m_lights.FindRecord(name);
    return rec ? rec->changed : 0;
}

uint8_t CQNF_3D_Surface::Light_GetBgChangedFlag(char* name)
{
    const LIGHT_SRC* rec = m_lights.FindRecord(name);
    return rec ? rec->bgChanged : 0;
}

uint8_t CQNF_3D_Surface::Light_CheckAllLightsChanges()
{
    for (uint32_t i = 0; i < m_lights.Count(); ++i) {
        const LIGHT_SRC* rec = m_lights.At(i);
        if (rec->useShadowMap && rec->changed)
            return 1;
    }
    return 0;
}

uint8_t CQNF_3D_Surface::Light_CheckAllLightsBgShadowChanges()
{
    for (uint32_t i = 0; i < m_lights.Count(); ++i) {
        const LIGHT_SRC* rec = m_lights.At(i);
        if (rec->bgShadow && rec->bgChanged)
            return 1;
    }
    return 0;
}

uint8_t CQNF_3D_Surface::int_CreateShadowMapStorage(LIGHT_SRC* light, unsigned long width, unsigned long height)
{
    // A failed resize keeps the old block, so the old map stays usable.
    if (!light->shadowMapBlock.Resize(qnMulSize({width, height}))) {
        SetError(light->shadowMapBlock.GetError());
        return 0;
    }
    light->shadowMap = light->shadowMapBlock.GetPtr();
    light->shadowMapWidth = light->shadowMap ? static_cast<uint32_t>(width) : 0;
    light->shadowMapHeight = light->shadowMap ? static_cast<uint32_t>(height) : 0;
    light->useShadowMap = 1;
    return 1;
}

uint8_t CQNF_3D_Surface::Light_CreateShadowMapStorage(char* name, unsigned long width, unsigned long height)
{
    LIGHT_SRC* rec = m_lights.FindRecord(name);
    if (!rec)
        return 0;
    return int_CreateShadowMapStorage(rec, width, height);
}

unsigned char* CQNF_3D_Surface::Light_GetShadowMap(char* name)
{
    LIGHT_SRC* rec = m_lights.FindRecord(name);
    return rec ? rec->shadowMap : nullptr;
}

uint8_t CQNF_3D_Surface::Light_SetAmbientLight(float a0, float a1, float a2, float a3)
{
    m_ambient[0] = a0;
    m_ambient[1] = a1;
    m_ambient[2] = a2;
    m_ambient[3] = a3;
    return 1;
}
