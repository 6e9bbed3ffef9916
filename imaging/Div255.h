// x / 255, truncated, for x from 0 to 255 x 255 (a byte times a byte), with
// shifts and adds only: the same result as the division, and loops that use
// it stay vector code in 16-bit lanes.
#pragma once

#include <cstdint>

inline uint16_t qnDivBy255(uint16_t x)
{
    return static_cast<uint16_t>((x + 1 + (x >> 8)) >> 8);
}
