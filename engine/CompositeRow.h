// Rows of the composite: where a piece's alpha row is not 0, and the
// composite's alpha limited by the host's selection; the part of a
// transparent picture that is worked on.
#pragma once

#include <cstdint>
#include <cstring>

namespace tessolo_composite {

// The columns [x0, x1) of a piece's alpha row outside which it is 0; x0 ==
// x1 when all of it is. A piece's box has clear corners and clear strips
// beside its knobs, often a third of its pixels, and a clear pixel changes
// nothing, so only this span is read and written. The ends are looked for a
// word at a time.
[[gnu::always_inline]] inline void CoveredSpan(const uint8_t* a, int32_t n, int32_t& x0, int32_t& x1)
{
    int32_t l = 0, r = n;
    for (uint64_t w; l + 8 <= r; l += 8) {
        std::memcpy(&w, a + l, 8);
        if (w)
            break;
    }
    while (l < r && a[l] == 0)
        ++l;
    for (uint64_t w; r - 8 >= l; r -= 8) {
        std::memcpy(&w, a + r - 8, 8);
        if (w)
            break;
    }
    while (r > l && a[r - 1] == 0)
        --r;
    x0 = l;
    x1 = r;
}

// a[x] = min(a[x], s[x]) for x < n. The two rows never overlap: said so,
// the compiler takes the minimum of many bytes at once, where a loop that
// had to reload its bounds after every store went a byte at a time.
inline void LimitToSelection(uint8_t* __restrict a, const uint8_t* __restrict s, int32_t n)
{
    for (int32_t x = 0; x < n; ++x)
        a[x] = a[x] < s[x] ? a[x] : s[x];
}

// The document's colours back into the `colours` colour planes for n bytes
// from offset at, before the pieces go over them: a pixel no piece covers
// shows the document, not what an earlier composite left there. Nothing
// without start, or where a plane is its own start.
inline void StartRow(uint8_t* const* planes, const uint8_t* const* start, uint8_t colours, size_t at, size_t n)
{
    for (uint8_t k = 0; start && k < colours; ++k)
        if (start[k] && start[k] != planes[k])
            std::memcpy(planes[k] + at, start[k] + at, n);
}

// The smallest box [x0, x1) x [y0, y1) holding every pixel of a w x h
// alpha plane (stride w) that is not 0: the part of a transparent layer the
// host's filter works on, the rest a clear border, for Apply, the replay,
// the window and the tool alike. False, and nothing set, when every pixel
// is 0.
inline bool OpaqueBox(const uint8_t* a, int32_t w, int32_t h, int32_t& x0, int32_t& y0, int32_t& x1, int32_t& y1)
{
    int32_t minX = w, minY = h, maxX = -1, maxY = -1;
    for (int32_t y = 0; y < h; ++y) {
        const uint8_t* row = a + size_t(y) * size_t(w);
        for (int32_t x = 0; x < w; ++x)
            if (row[x]) {
                minX = x < minX ? x : minX;
                maxX = x > maxX ? x : maxX;
                minY = y < minY ? y : minY;
                maxY = y > maxY ? y : maxY;
            }
    }
    if (maxX < 0)
        return false;
    x0 = minX;
    y0 = minY;
    x1 = maxX + 1;
    y1 = maxY + 1;
    return true;
}

}  // namespace tessolo_composite
