// CQNF_3D_Surface: the first generation of the mesh surface.
//
// The same mesh, transforms, previews and blurs as the second generation
// (SurfaceBase.h), with its own light model: each light has one colour with a
// scale and a percentage, a diffuse share, enable and shadow-map switches,
// change flags that tell a caller which shadows need making again, and
// settings for its shadow map (supersampling level, blur mode, near and far
// radius) and for a background shadow. Shadow maps come from a pairwise
// generator that can supersample and blur with a radius that grows with the
// occluder's distance. Four ambient values replace the second generation's
// ambient block.
//
// Destroying the surface releases its lights and their maps.
#pragma once

#include "surface3d/LightList.h"
#include "surface3d/SurfaceBase.h"

class CQNF_3D_Surface : public CQNF_3D_SurfaceBase {
public:
    // The record a user fills and passes by pointer.
    struct LIGHT_SOURCE {
        char* name;
        uint8_t enabled;
        uint8_t flag2;              // stored and handed back, read by nothing
        float colourScale;
        float colour[4];
        float colourPercentage;
        float diffusePercentage;    // share of the diffuse term
        float x, y, z;              // direction
        float shadowIntensity;      // percent
        uint8_t smLevel;            // shadow-map supersampling level
        uint8_t smBlurMode;         // 0 constant, 1 separable, 2 two-dimensional
        float smNearRadius;
        float smFarRadius;
        uint8_t bgShadow;           // casts a background shadow
        float bgStrength;           // percent
        uint8_t bgLevel;
        uint8_t bgBlurMode;
        float bgNearRadius;
        float bgFarRadius;
        uint8_t useShadowMap;
    };

    // The stored record, owned by the surface's light list.
    struct LIGHT_SRC {
        char name[s3d::kLightNameChars + 1] = {};
        float colourScale = 0.0f;
        float colour[4] = {};
        float effectiveColour[4] = {};  // colour x scale x percentage / 100
        float colourPercentage = 0.0f;
        float diffusePercentage = 0.0f;
        float shadowIntensity = 0.0f;
        uint8_t smLevel = 0;
        uint8_t smBlurMode = 0;
        float smNearRadius = 0.0f;
        float smFarRadius = 0.0f;
        uint8_t bgShadow = 0;
        float bgStrength = 0.0f;
        uint8_t bgLevel = 0;
        uint8_t bgBlurMode = 0;
        float bgNearRadius = 0.0f;
        float bgFarRadius = 0.0f;
        uint8_t bgChanged = 0;
        qnt3D_VECTOR direction = {0.0f, 0.0f, 0.0f};
        uint8_t enabled = 0;
        uint8_t flag2 = 0;
        CQNF_Mem shadowMapBlock;
        uint8_t* shadowMap = nullptr;
        uint32_t shadowMapWidth = 0;   // what the map was made for
        uint32_t shadowMapHeight = 0;
        uint8_t useShadowMap = 0;
        uint8_t changed = 0;
        uint8_t shadowInUse = 0;       // set per render by the lit renderers
        CQNF_Mem bgBlock;              // work block of the background shadow
    };

    CQNF_3D_Surface();
    ~CQNF_3D_Surface() override;

    using CQNF_3D_SurfaceBase::Create;
    uint8_t Create(CQNF_3D_Surface* source);

    // ---- Lights -------------------------------------------------------------------
    uint8_t Light_Add(LIGHT_SOURCE* light);
    uint8_t Light_Change(LIGHT_SOURCE* light);
    uint8_t Light_GetData(LIGHT_SOURCE* light);
    uint8_t Light_GetName(unsigned long index, char* buffer, unsigned long size);
    uint32_t Light_Count() const { return m_lights.Count(); }
    uint8_t Light_Delete(char* name);
    uint8_t Light_KillAll();
    uint8_t Light_Enable(char* name, unsigned char enable);
    uint8_t Light_UseShadowMap(char* name, unsigned char use);
    uint8_t Light_SetChangedFlag(char* name, unsigned char value);
    uint8_t Light_SetBgChangedFlag(char* name, unsigned char value);
    uint8_t Light_GetChangedFlag(char* name);
    uint8_t Light_GetBgChangedFlag(char* name);
    uint8_t Light_CheckAllLightsChanges();
    uint8_t Light_CheckAllLightsBgShadowChanges();
    uint8_t Light_CreateShadowMapStorage(char* name, unsigned long width, unsigned long height);
    unsigned char* Light_GetShadowMap(char* name);
    uint8_t Light_SetAmbientLight(float a0, float a1, float a2, float a3);
    const float* GetAmbientLight() const { return m_ambient; }

    int32_t int_Light_GetIDByName(char* name) const { return m_lights.Find(name); }
    LIGHT_SRC* int_Light_Get(unsigned long index) const
    {
        return index < m_lights.Count() ? m_lights.At(static_cast<uint32_t>(index)) : nullptr;
    }

    // ---- Shadow maps ------------------------------------------------------------------
    uint8_t int_GenerateInternalLightShadowMap(LIGHT_SRC* light, unsigned char* alpha, unsigned long alphaRowLength,
                                               unsigned long width, unsigned long height);
    uint8_t Light_GenerateAllInnerShadowMaps(unsigned char* alpha, unsigned long alphaRowLength, unsigned long width,
                                             unsigned long height, unsigned char onlyChanged);

private:
    uint8_t int_CreateShadowMapStorage(LIGHT_SRC* light, unsigned long width, unsigned long height);

    s3d::LightList<LIGHT_SRC> m_lights;
    float m_ambient[4] = {};
};
