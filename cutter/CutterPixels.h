// Pixel helpers of the knife editor's preview, shared by its drawing and its
// mouse gestures.
#pragma once

#include "core/Types.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace cutterpix {

// Pixel coordinates from doubles that may be huge: saturated before the
// integer conversion.
inline int32_t Pix(double v)
{
    if (!(v == v))
        return 0;
    return int32_t(std::clamp(v, -1.0e9, 1.0e9));
}

inline int32_t Round(double v) { return Pix(std::floor(v + 0.5)); }

inline qntRECT_s Rect(int32_t l, int32_t t, int32_t r, int32_t b) { return qntRECT_s{l, t, r, b}; }

inline bool Inside(const qntRECT_s& r, int32_t x, int32_t y)
{
    return x >= r.left && x < r.right && y >= r.top && y < r.bottom;
}

inline bool Overlap(const qntRECT_s& a, const qntRECT_s& b)
{
    return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

}  // namespace cutterpix
