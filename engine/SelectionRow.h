// The composite's alpha limited by the host's selection, one row at a time.
#pragma once

#include <cstdint>

namespace tessolo_composite {

// a[x] = min(a[x], s[x]) for x < n. The two rows never overlap: said so,
// the compiler takes the minimum of many bytes at once, where a loop that
// had to reload its bounds after every store went a byte at a time.
inline void LimitToSelection(uint8_t* __restrict a, const uint8_t* __restrict s, int32_t n)
{
    for (int32_t x = 0; x < n; ++x)
        a[x] = a[x] < s[x] ? a[x] : s[x];
}

}  // namespace tessolo_composite
