// CQNF_3D_Surface2: the second generation of the mesh surface.
//
// Adds to the shared mesh (SurfaceBase.h) a list of named directional lights,
// each with a diffuse and a specular term that take part in the highlight pass
// (front sides) and the shadow pass (back sides) of the lit renderers, an
// ambient block from which the base factors of both passes are precalculated,
// and texture-space shadow maps made by two generators: a pairwise one that
// tests each receiving triangle against every other, and a tiled one that
// rasterises the mesh into light-space tiles with per-pixel fragment lists.
//
// A light's shadow map is one byte per texel of the texture, 255 fully lit.
// The map remembers the width and height it was made for; renderers use it
// only when those match their texture.
//
// Destroying the surface releases its lights and their maps.
#pragma once

#include "surface3d/LightList.h"
#include "surface3d/SurfaceBase.h"

class CQNF_3D_Surface2 : public CQNF_3D_SurfaceBase {
public:
    // The record a user fills and passes by pointer.
    struct LIGHT_SOURCE {
        char* name;               // stored as its first 49 characters
        float x, y, z;            // direction; used as (-x, y, z) once precalculated
        uint8_t zKept;            // 0: z is negated on use
        float diffuseOpacity;     // percent
        uint8_t diffuseColour[8]; // grey; red, green, blue; four channels
        uint8_t diffuseInHighlight;
        uint8_t diffuseInShadow;
        float specularOpacity;    // percent
        float gloss;              // exponent = gloss^3 x 250 / 1e6 + 1
        uint8_t specularColour[8];
        uint8_t specularInHighlight;
        uint8_t specularInShadow;
        uint8_t castsShadow;      // 1: Light_GenerateAllInnerShadowMaps makes its map
        float shadowIntensity;    // percent
        float shadowSoftness;     // blur sigma of the map before the generator's scale
        uint8_t reserved[4];
    };

    // The stored record, owned by the surface's light list.
    struct INTERNAL_LIGHT_SOURCE {
        char name[s3d::kLightNameChars + 1] = {};
        float diffuseFactor[4] = {};
        float specularFactor[4] = {};
        float specularExponent = 0.0f;
        CQNF_Mem shadowMapBlock;
        uint8_t* shadowMap = nullptr;
        uint32_t shadowMapWidth = 0;   // what the map was made for
        uint32_t shadowMapHeight = 0;
        qnt3D_VECTOR lightVector = {0.0f, 0.0f, 0.0f};
        uint8_t shadowInUse = 0;       // set per render by the lit renderers
        LIGHT_SOURCE source = {};
    };

    // Ambient colours, opacities and the factors precalculated from them.
    struct AMBIENT_BLOCK {
        uint8_t highlightColour[8];
        float highlightOpacity;
        float highlightFactor[4];
        uint8_t shadowColour[8];
        float shadowOpacity;
        float shadowFactor[4];
    };

    // Fragment of the tiled generator's light-space lists; a tile cell is the
    // head of its pixel's list (value 65535 = empty). Fragments are numbered
    // across the fragment blocks (block x fragments per block + position).
    struct SHADOW_FRAGMENT {
        float depth;
        uint32_t next;   // kNoFragment ends the list
        uint16_t value;  // alpha at the texel when stored; light reaching it once resolved
        uint16_t tu;
        uint16_t tv;
    };
    static constexpr uint32_t kNoFragment = 0xFFFFFFFFu;
    static constexpr uint32_t kShadowTileSize = 400;
    static constexpr uint32_t kShadowFragmentsPerBlock = 160000;
    static constexpr uint32_t kShadowMaxBlocks = 500;  // the last usable block is number 498

    // Span record of the tiled generator: one light-space row of a triangle
    // and the tile it is stored into.
    struct SHADOWRENDERER_DATA {
        int32_t y;
        int32_t x0, x1;          // x1 exclusive; either order
        float z0, z1;            // depth at x0 and x1
        float u0, v0, u1, v1;    // texture coordinates at x0 and x1
        int32_t clipLeft, clipTop, clipRight, clipBottom;  // the tile, right and bottom exclusive
        SHADOW_FRAGMENT* tile;   // tileRowLength x tileHeight cells
        uint32_t tileRowLength;
        uint32_t tileHeight;
        uint32_t alphaWidth, alphaHeight;
        const uint8_t* alpha;    // rows alphaWidth apart
        CQNF_Mem* blocks[kShadowMaxBlocks];
        uint32_t blockUsed[kShadowMaxBlocks];
        uint32_t fragmentsPerBlock;
        uint32_t currentBlock;
    };

    CQNF_3D_Surface2();
    ~CQNF_3D_Surface2() override;

    using CQNF_3D_SurfaceBase::Create;
    // A copy of the source's vertices and triangles (nothing else); a null
    // source gives error 1.
    uint8_t Create(CQNF_3D_Surface2* source);

    // ---- Lights -------------------------------------------------------------------
    uint8_t Light_Add(LIGHT_SOURCE* light);
    uint8_t Light_Change(LIGHT_SOURCE* light);
    // Copies the stored record over the given one; its name then points at
    // the surface's own copy, valid while the light exists.
    uint8_t Light_GetData(LIGHT_SOURCE* light);
    // At most size bytes, always NUL-terminated; 0 for size 0.
    uint8_t Light_GetName(unsigned long index, char* buffer, unsigned long size);
    uint32_t Light_Count() const { return m_lights.Count(); }
    uint8_t Light_Delete(char* name);
    uint8_t Light_KillAll();
    uint8_t Light_CreateShadowMapStorage(char* name, unsigned long width, unsigned long height);
    unsigned char* Light_GetShadowMap(char* name);
    uint8_t Light_SetAmbientLight(unsigned char* highlightColour, float highlightOpacity, unsigned char* shadowColour,
                                  float shadowOpacity, unsigned char autoHighlight, unsigned char autoShadow);
    // Channel modes: 0 grey, 1 red-green-blue, 2 four channels; others change
    // only the exponents and light vectors.
    uint8_t Light_PrecalculateLights(unsigned char mode);

    int32_t int_Light_GetIDByName(char* name) const { return m_lights.Find(name); }
    INTERNAL_LIGHT_SOURCE* int_Light_Get(unsigned long index) const
    {
        return index < m_lights.Count() ? m_lights.At(static_cast<uint32_t>(index)) : nullptr;
    }
    const AMBIENT_BLOCK& GetAmbientBlock() const { return m_ambient; }

    // ---- Shadow maps ------------------------------------------------------------------
    // Both fill the light's existing map (made by Light_CreateShadowMapStorage
    // at width x height) from the alpha plane of the texture.
    uint8_t int_GenerateInternalLightShadowMap(INTERNAL_LIGHT_SOURCE* light, unsigned char* alpha,
                                               unsigned long alphaRowLength, unsigned long width,
                                               unsigned long height, float blurScale, double progressFrom,
                                               double progressTo);
    uint8_t int_GenerateInternalLightShadowMap_v2(INTERNAL_LIGHT_SOURCE* light, unsigned char* alpha,
                                                  unsigned long alphaRowLength, unsigned long width,
                                                  unsigned long height, float blurScale, double progressFrom,
                                                  double progressTo);
    // Returns 0 when the span's fragment blocks run out of memory.
    uint8_t int_DrawYLine_ShadowMapping(SHADOWRENDERER_DATA* span);
    uint8_t Light_GenerateAllInnerShadowMaps(unsigned char* alpha, unsigned long alphaRowLength, unsigned long width,
                                             unsigned long height, float blurScale);

    // ---- High-quality renderers ------------------------------------------------
    // The textured mesh lit by the lights (their precalculated values, Light_
    // PrecalculateLights) into caller-supplied planes, supersampled q x q with
    // translucent fragments composited front to back; see RenderHQ_Simple for
    // the planes, the result and the error numbers. Front sides (face normal z
    // > 0) take the highlight pass and the front texture set, back sides the
    // shadow pass and the back set. A side with a bump map and a nonzero bump
    // depth is bump mapped (height differences of 1 ignored). flatShading >= 0
    // replaces the lights by the factor (max(0, Nz) - 1) x flatShading / 100 + 1.
    // With perspective, vertices are drawn toward the centre (x, y; z the
    // viewing distance, 1 when not positive; autoCentre takes the middle of
    // the mesh) with perspective-correct texturing. With useShadowMaps, a
    // casting light whose map was made for this texture size is darkened by
    // it; each light's shadowInUse tells afterwards whether it was.
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
    // As RenderHQ_Opt without perspective, flat rule or shadow maps (every
    // light's shadowInUse is cleared), shading with the vertex normals
    // (recomputed here) interpolated across each triangle and normalised per
    // pixel; bump-mapped sides bump the face normal without a dead zone.
    uint8_t RenderHQ_Opt_InterpolatedShading(
        unsigned char supersampling, unsigned char channels, unsigned char* dst1, unsigned char* dst2,
        unsigned char* dst3, unsigned char* dst4, unsigned char* dstAlpha, unsigned long dstStride,
        unsigned long dstWidth, unsigned long dstHeight, unsigned char frontSolid, unsigned char* frontColour,
        unsigned char* front1, unsigned char* front2, unsigned char* front3, unsigned char* front4,
        unsigned char backSolid, unsigned char* backColour, unsigned char* back1, unsigned char* back2,
        unsigned char* back3, unsigned char* back4, unsigned char* texAlpha, unsigned long texStride,
        unsigned long texWidth, unsigned long texHeight, unsigned char* frontBump, unsigned char* backBump,
        unsigned long bumpStride, float frontBumpDepth, float backBumpDepth, qntRECT_s clip);

    // Gaussian blur of one plane through the image filter engine.
    void int_Blur_Const_v2(unsigned char* plane, unsigned long width, unsigned long height, float sigma);

private:
    uint8_t int_CreateShadowMapStorage(INTERNAL_LIGHT_SOURCE* light, unsigned long width, unsigned long height);
    bool int_CheckShadowJob(const INTERNAL_LIGHT_SOURCE* light, const unsigned char* alpha,
                            unsigned long alphaRowLength, unsigned long width, unsigned long height);

    AMBIENT_BLOCK m_ambient = {};
    s3d::LightList<INTERNAL_LIGHT_SOURCE> m_lights;
};
