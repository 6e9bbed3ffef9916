// Small numeric helpers shared by the mesh renderer's stages.
//
// Every float-to-integer conversion of a coordinate, texel or colour goes
// through these: a value that is not finite or lies beyond the integer range
// would be undefined behaviour in a plain cast, and a mesh may carry such
// values (a perspective step through z = -distance, a degenerate triangle's
// normal, a caller's stray write through GetVertex).
#pragma once

#include <cmath>
#include <cstdint>

namespace s3d {

// Projected coordinates beyond this many pixels are not drawn: far outside any
// picture this system holds, yet small enough that products of two of them fit
// in 64 bits and a walk along an edge ends in reasonable time.
inline constexpr float kMaxPixelCoord = 16777216.0f;  // 2^24

inline bool IsFinite(float v) { return std::isfinite(v); }
inline bool IsFinite(double v) { return std::isfinite(v); }

// Truncation toward zero into [lo, hi]; NaN gives lo.
inline int32_t TruncClamp(double v, int32_t lo, int32_t hi)
{
    if (!(v > static_cast<double>(lo)))
        return lo;
    if (v >= static_cast<double>(hi))
        return hi;
    return static_cast<int32_t>(v);
}

// Truncation toward zero of a pixel coordinate, refusing what cannot be drawn.
inline bool TruncPixel(float v, int32_t& out)
{
    if (!(v > -kMaxPixelCoord && v < kMaxPixelCoord))
        return false;
    out = static_cast<int32_t>(v);
    return true;
}

// Byte from a truncated float: low 8 bits of the truncated value, as the
// renderers store a channel product; values that are not finite or do not
// fit an int give 0 (only reachable through non-finite shading).
inline uint8_t TruncLowByte(float v)
{
    if (!(v > -2147483648.0f && v < 2147483648.0f))
        return 0;
    return static_cast<uint8_t>(static_cast<uint32_t>(static_cast<int32_t>(v)));
}

inline uint8_t TruncLowByte(double v)
{
    if (!(v > -2147483648.0 && v < 2147483648.0))
        return 0;
    return static_cast<uint8_t>(static_cast<uint32_t>(static_cast<int32_t>(v)));
}

}  // namespace s3d
