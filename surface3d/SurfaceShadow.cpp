// Shadow maps of the first-generation surface: the pairwise generator with
// supersampling and a blur whose radius grows with the occluder's distance.
#include "surface3d/Surface.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// Supersampling beyond 2^4 x 2^4 samples per texel adds nothing a blur would
// not hide and multiplies the work by four per level.
constexpr uint32_t kMaxShadowLevel = 4;

}  // namespace

uint8_t CQNF_3D_Surface::int_GenerateInternalLightShadowMap(LIGHT_SRC* light, unsigned char* alpha,
                                                            unsigned long alphaRowLength, unsigned long width,
                                                            unsigned long height)
{
    if (!light) {
        SetError(qnerr::BadArgument);
        return 0;
    }
    if (!int_CheckShadowInputs(light->shadowMap, light->shadowMapWidth, light->shadowMapHeight, alpha,
                               alphaRowLength, width, height))
        return 0;
    const float nearR = light->smNearRadius, farR = light->smFarRadius;
    const uint8_t mode = light->smBlurMode;
    // Wide blurs hide what supersampling would add.
    uint32_t level = light->smLevel;
    if ((mode != 0 && std::min(nearR, farR) > 3.0f) || (mode == 0 && farR > 3.0f))
        level = 0;
    level = std::min(level, kMaxShadowLevel);

    const float x = light->direction.x, y = -light->direction.y, z = light->direction.z;
    const float len = std::sqrt(x * x + y * y + z * z);
    const qnt3D_VECTOR dir = len > 0.0f ? qnt3D_VECTOR{x / len, y / len, z / len} : qnt3D_VECTOR{0.0f, 0.0f, 0.0f};

    CQNF_Mem distanceBlock;
    float* distance = nullptr;
    const uint64_t texels = static_cast<uint64_t>(width) * height;
    if (mode != 0 && texels) {
        if (!distanceBlock.Zalloc(qnMulSize({texels, sizeof(float)}))) {
            SetError(distanceBlock.GetError());
            return 0;
        }
        distance = reinterpret_cast<float*>(distanceBlock.GetPtr());
    }
    PAIRWISE_JOB job{light->shadowMap, static_cast<uint32_t>(width), static_cast<uint32_t>(height), alpha,
                     alphaRowLength, dir, level, distance, false, 0.0, 0.0};
    if (!int_ShadowPairwise(job)) {
        if (texels)
            std::memset(light->shadowMap, 255, static_cast<size_t>(texels));
        return 0;
    }
    if (mode != 0 && nearR != farR) {
        if (mode == 1 || mode == 2)
            int_Blur_Perspective(mode == 1 ? 1 : 0, light->shadowMap, width, height, nearR, farR, distance);
    } else if (farR > 0.1f) {
        int_Blur_Const(light->shadowMap, width, height, farR);
    }
    light->changed = 0;
    return 1;
}

uint8_t CQNF_3D_Surface::Light_GenerateAllInnerShadowMaps(unsigned char* alpha, unsigned long alphaRowLength,
                                                          unsigned long width, unsigned long height,
                                                          unsigned char onlyChanged)
{
    for (uint32_t i = 0; i < m_lights.Count(); ++i) {
        LIGHT_SRC* light = m_lights.At(i);
        if (!light->enabled || !light->useShadowMap || (onlyChanged && !light->changed))
            continue;
        if (!int_CreateShadowMapStorage(light, width, height))
            return 0;
        if (!int_GenerateInternalLightShadowMap(light, alpha, alphaRowLength, width, height))
            return 0;
    }
    return 1;
}
