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

    // ---- High-quality renderers ------------------------------------------------
    // Planes, result and error numbers as RenderHQ_Simple; perspective, bump
    // maps and the flat rule as the second generation's RenderHQ_Opt. The
    // lighting is the first light of the list alone (its enabled flag is not
    // read): with N the shading normal, L its direction, dot = N.L (negated
    // on back sides), Q = 2 dot^2 - |L|^2, p = diffuse percentage / 100, each
    // factor = ambient + max(0, p dot + (1 - p) max(0, Q)^(material shading +
    // 101)) x the light's effective colour, times its shadow term when its
    // shadow map is in use (useShadowMaps, the light's use-shadow-map flag, a
    // map made for this texture size). The list must hold a light (error 1).
    // The direction is used as it is: with a length above 1, Q can exceed 1
    // and its high power then saturates the picture; give it unit length.
    uint8_t RenderHQ_Opt(unsigned char perspective, qnt3D_VERTEX perspectiveCentre, unsigned char autoCentre,
                         unsigned char useShadowMaps, unsigned char supersampling, unsigned char channels,
                         unsigned char* dst1, unsigned char* dst2, unsigned char* dst3, unsigned char* dst4,
                         unsigned char* dstAlpha, unsigned long dstStride, unsigned long dstWidth,
                         unsigned long dstHeight, unsigned char frontSolid, unsigned char* frontColour,
                         unsigned char* front1, unsigned char* front2, unsigned char* front3, unsigned char* front4,
                         unsigned char backSolid, unsigned char* backColour, unsigned char* back1,
                         unsigned char* back2, unsigned char* back3, unsigned char* back4, unsigned char* texAlpha,
                         unsigned long texStride, unsigned long texWidth, unsigned long texHeight,
                         unsigned char* frontBump, unsigned char* backBump, unsigned long bumpStride,
                         float frontBumpDepth, float backBumpDepth, qntRECT_s clip, float flatShading);
    // The complete renderer: every enabled light, each with its shadow map
    // where one is ready for this texture (useShadowMaps and the light's own
    // flag), texture colours on both sides (no solid colours), bump maps
    // where given; tiles of 600 / q pixels; no progress, no cancel. Per
    // light, c = (L/|L|).(N/|N|) (negated on back sides) adds (1 - (1 - c^e)
    // x diffuse percentage / 100) x effective colour where c >= 0, e the
    // cosine power. altLayout must be 0 (error 1 otherwise).
    uint8_t RenderHQ(unsigned char useShadowMaps, unsigned char supersampling, unsigned char channels,
                     unsigned char altLayout, unsigned char* dst1, unsigned char* dst2, unsigned char* dst3,
                     unsigned char* dst4, unsigned char* dstAlpha, unsigned long dstStride, unsigned long dstWidth,
                     unsigned long dstHeight, unsigned char* front1, unsigned char* front2, unsigned char* front3,
                     unsigned char* front4, unsigned char* back1, unsigned char* back2, unsigned char* back3,
                     unsigned char* back4, unsigned char* texAlpha, unsigned long texStride, unsigned long texWidth,
                     unsigned long texHeight, unsigned char* frontBump, unsigned char* backBump,
                     unsigned long bumpStride, float frontBumpDepth, float backBumpDepth, qntRECT_s clip);
    // RenderHQ_Opt's lighting with the vertex normals (recomputed here)
    // interpolated across each triangle; no perspective, no flat rule. Only
    // the first light's shadow map state is settled, as in RenderHQ_Opt.
    uint8_t RenderHQ_Opt_1Light_8_Phong(
        unsigned char useShadowMaps, unsigned char supersampling, unsigned char channels, unsigned char* dst1,
        unsigned char* dst2, unsigned char* dst3, unsigned char* dst4, unsigned char* dstAlpha,
        unsigned long dstStride, unsigned long dstWidth, unsigned long dstHeight, unsigned char frontSolid,
        unsigned char* frontColour, unsigned char* front1, unsigned char* front2, unsigned char* front3,
        unsigned char* front4, unsigned char backSolid, unsigned char* backColour, unsigned char* back1,
        unsigned char* back2, unsigned char* back3, unsigned char* back4, unsigned char* texAlpha,
        unsigned long texStride, unsigned long texWidth, unsigned long texHeight, unsigned char* frontBump,
        unsigned char* backBump, unsigned long bumpStride, float frontBumpDepth, float backBumpDepth,
        qntRECT_s clip);

    // ---- Background shadow ------------------------------------------------------
    // The shadow the mesh (in screen space) casts on a ground plane lying
    // `distance` behind its farthest vertex, for every enabled light whose
    // background-shadow switch is on, combined as light absorbed twice: dst
    // (dstWidth x dstHeight, rows dstStride apart) gets 0 for no shadow up to
    // 255 x strength / 100. Occluders let light through by the opacity mask
    // texAlpha at their texture position. No qualifying light leaves dst
    // untouched. On failure (error set, result 0) dst holds the shadow of the
    // lights done before, or 0 when the first light failed.
    uint8_t RenderHQ_BgShadow(float distance, unsigned char* texAlpha, unsigned long texStride,
                              unsigned long texWidth, unsigned long texHeight, unsigned char* dst,
                              unsigned long dstStride, unsigned long dstWidth, unsigned long dstHeight);
    // One light's shadow on the ground at groundDepth. On failure dst is 0.
    uint8_t int_RenderBgShadow(LIGHT_SRC* light, float groundDepth, unsigned char* texAlpha, unsigned long texStride,
                               unsigned long texWidth, unsigned long texHeight, unsigned char* dst,
                               unsigned long dstStride, unsigned long dstWidth, unsigned long dstHeight);

private:
    uint8_t int_CreateShadowMapStorage(LIGHT_SRC* light, unsigned long width, unsigned long height);
    // The one-light renderers' light: the first of the list, its shadow map
    // state settled for this render; null with error 1 when there is none.
    LIGHT_SRC* int_HQFirstLight(unsigned char useShadowMaps, unsigned long texWidth, unsigned long texHeight);

    s3d::LightList<LIGHT_SRC> m_lights;
    float m_ambient[4] = {};
};
