// Where the zero bytes at either end of a row stop, eight bytes at a time:
// for coverage rows whose fully transparent ends nothing needs to touch.
#pragma once

#include <cstdint>
#include <cstring>

// The first byte of row[0, n) that is not 0, else n.
inline uint32_t qnFirstNonZero(const unsigned char* row, uint32_t n)
{
    uint32_t x = 0;
    for (; x + 8 <= n; x += 8) {
        uint64_t v;
        std::memcpy(&v, row + x, 8);
        if (v)
            break;
    }
    while (x < n && !row[x])
        ++x;
    return x;
}

// One past the last byte of row[from, n) that is not 0, else from.
inline uint32_t qnEndNonZero(const unsigned char* row, uint32_t from, uint32_t n)
{
    uint32_t e = n;
    for (; e >= from + 8; e -= 8) {
        uint64_t v;
        std::memcpy(&v, row + e - 8, 8);
        if (v)
            break;
    }
    while (e > from && !row[e - 1])
        --e;
    return e;
}
