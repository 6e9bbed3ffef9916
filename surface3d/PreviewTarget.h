// What the preview rasterisers work on, shared by the rasterisers and the
// renderers that set them up (private to the mesh renderer).
#pragma once

#include "surface3d/SurfaceBase.h"

// A four-plane image: red, green, blue, alpha planes of width x height bytes.
struct CQNF_3D_SurfaceBase::RasterTarget {
    uint8_t* plane[4];
    int32_t width;
    int32_t height;
};

// The renderer's clip, inside the target; right and bottom exclusive. The
// z-buffer has (right - left) x (bottom - top) cells.
struct CQNF_3D_SurfaceBase::Clip {
    int32_t left;
    int32_t top;
    int32_t right;
    int32_t bottom;
};

// Draft textures: the front texture's colour and mask planes and the back
// texture's colour planes, all width x height.
struct CQNF_3D_SurfaceBase::DraftTextures {
    const uint8_t* front[4];
    const uint8_t* back[3];
    int32_t width;
    int32_t height;
};
