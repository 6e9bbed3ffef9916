// Small helpers shared by the knife editor's files: pixel coordinates and
// rectangles of the preview (its drawing and mouse gestures), and numbers as
// the edit lines show them and the layout takes them.
#pragma once

#include "core/Types.h"
#include "engine/LayoutLimits.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>

namespace cutteredit {

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

inline std::string Number(uint32_t v) { return std::to_string(v); }

// The nearest number of columns or rows, and of a knob's per cent, that the
// layout takes: what a field shows is what the cut uses.
inline uint32_t GridCells(int64_t v) { return uint32_t(std::clamp<int64_t>(v, 1, kQnMostGridCells)); }
inline uint32_t KnobSize(int64_t v) { return uint32_t(std::clamp<int64_t>(v, kQnLeastKnob, kQnMostKnob)); }

}  // namespace cutteredit
