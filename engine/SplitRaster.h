// Private to the engine: the test rasters of a split, the span fill over
// them and the fill-line rules that turn spans into piece coverage.
//
// The fill visits spans in exactly the order of CQNF_2DMath::FillBounds
// (a last-in-first-out seed stack; each neighbour row scanned right to left,
// one seed per run at its rightmost position), because the smooth cut's
// coverage depends on that order. It differs only in speed: the rasters are
// walked a 64-bit word at a time and the callbacks are inlined.
#pragma once

#include "core/Mem.h"
#include "engine/Tessolo.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace tessolo_split {

// The messages a split shows the user.
inline constexpr char kMemoryText[] = "Memory allocation problem...";
inline constexpr char kTooManyText[] = "Too many (>100'000!) pieces...";
inline constexpr char kErrorTitle[] = "Error!";

inline uint64_t LoadBE64(const uint8_t* p)
{
    uint64_t v;
    std::memcpy(&v, p, 8);
    return __builtin_bswap64(v);
}

// A raster of one bit per position, most significant bit first, rows of
// rowBytes bytes. The buffer must have 8 readable bytes past its last row.
// Positions outside width x height count as blocked.
struct BitRaster {
    uint8_t* bits;
    uint32_t rowBytes;
    int32_t width;
    int32_t height;

    uint8_t* Row(int32_t y) const { return bits + size_t(y) * rowBytes; }
    static bool Get(const uint8_t* row, int32_t x) { return row[x >> 3] & (0x80u >> (x & 7)); }
    bool Blocked(int32_t x, int32_t y) const
    {
        return x < 0 || y < 0 || x >= width || y >= height || Get(Row(y), x);
    }

    // First position p >= x whose bit is set (clear when invert), or width.
    template <bool invert>
    int32_t NextMatch(const uint8_t* row, int32_t x) const
    {
        while (x < width) {
            uint64_t w = LoadBE64(row + (x >> 3));
            if (invert)
                w = ~w;
            w <<= (x & 7);
            const int valid = 64 - (x & 7);
            if (w) {
                const int z = __builtin_clzll(w);
                if (z < valid)
                    return std::min(x + z, width);
            }
            x += valid;
        }
        return width;
    }
    int32_t NextBlocked(const uint8_t* row, int32_t x) const { return NextMatch<false>(row, x); }
    int32_t NextFree(const uint8_t* row, int32_t x) const { return NextMatch<true>(row, x); }

    // Last position p in [lo, x] whose bit is set (free when invert), or lo - 1.
    template <bool invert>
    static int32_t PrevMatch(const uint8_t* row, int32_t x, int32_t lo)
    {
        while (x >= lo) {
            // Past the first word x ends a byte: whole words inside [lo, x]
            // need no shift, so the loads of a long run do not wait on one
            // another.
            if ((x & 7) == 7) {
                while (x >= 63 && x - 63 >= lo) {
                    uint64_t w = LoadBE64(row + ((x - 63) >> 3));
                    if (invert)
                        w = ~w;
                    if (w)
                        return x - __builtin_ctzll(w);
                    x -= 64;
                }
                if (x < lo)
                    break;
            }
            const int32_t startByte = std::max(0, (x >> 3) - 7);
            const int32_t startBit = startByte * 8;
            uint64_t w = LoadBE64(row + startByte);
            if (invert)
                w = ~w;
            const int pos = x - startBit;  // 0..63 from the most significant bit
            w >>= (63 - pos);              // bit k is now position x - k
            if (w) {
                const int t = __builtin_ctzll(w);
                if (t <= pos) {
                    const int32_t p = x - t;
                    return p >= lo ? p : lo - 1;
                }
            }
            x = startBit - 1;
        }
        return lo - 1;
    }
    static int32_t PrevBlocked(const uint8_t* row, int32_t x, int32_t lo) { return PrevMatch<false>(row, x, lo); }
    static int32_t PrevFree(const uint8_t* row, int32_t x, int32_t lo) { return PrevMatch<true>(row, x, lo); }
};

// A raster of one byte per position: 0 free, anything else blocked.
struct ByteRaster {
    uint8_t* bytes;
    uint32_t stride;
    int32_t width;
    int32_t height;

    uint8_t* Row(int32_t y) const { return bytes + size_t(y) * stride; }
    static bool Get(const uint8_t* row, int32_t x) { return row[x] != 0; }
    bool Blocked(int32_t x, int32_t y) const
    {
        return x < 0 || y < 0 || x >= width || y >= height || Get(Row(y), x);
    }

    int32_t NextBlocked(const uint8_t* row, int32_t x) const
    {
        while (x + 8 <= width) {
            uint64_t w;
            std::memcpy(&w, row + x, 8);
            if (w)
                break;
            x += 8;
        }
        while (x < width && row[x] == 0)
            ++x;
        return x;
    }

    int32_t NextFree(const uint8_t* row, int32_t x) const
    {
        while (x < width && row[x] != 0)
            ++x;
        return x;
    }

    static int32_t PrevBlocked(const uint8_t* row, int32_t x, int32_t lo)
    {
        while (x >= lo && row[x] == 0)
            --x;
        return x >= lo ? x : lo - 1;
    }
    static int32_t PrevFree(const uint8_t* row, int32_t x, int32_t lo)
    {
        while (x >= lo && row[x] != 0)
            --x;
        return x >= lo ? x : lo - 1;
    }
};

// The seed stack of one split, reused by every region.
class SeedStack {
public:
    bool Push(int32_t x, int32_t y)
    {
        if (m_count == m_capacity) {
            const uint64_t grown = uint64_t(m_capacity) + 4096;
            if (!m_mem.Resize(grown * sizeof(qntPOS)))
                return false;
            m_capacity = static_cast<uint32_t>(grown);
        }
        reinterpret_cast<qntPOS*>(m_mem.GetPtr())[m_count++] = qntPOS{x, y};
        return true;
    }
    bool Pop(qntPOS& p)
    {
        if (m_count == 0)
            return false;
        p = reinterpret_cast<qntPOS*>(m_mem.GetPtr())[--m_count];
        return true;
    }
    void Clear() { m_count = 0; }

private:
    CQNF_Mem m_mem;
    uint32_t m_capacity = 0;
    uint32_t m_count = 0;
};

// Fills the region of the raster that holds (sx, sy), handing every span to
// fill(xl, y, length), which must leave the span blocked. False when the
// seed stack could not grow (the fill then stops, as FillBounds does).
template <class Raster, class Fill>
bool FillRegion(const Raster& r, SeedStack& stack, int32_t sx, int32_t sy, Fill&& fill)
{
    if (r.Blocked(sx, sy))
        return true;
    stack.Clear();
    if (!stack.Push(sx, sy))
        return false;

    // The last seed pushed is the next popped, and nothing changes the
    // raster between: the search left of it that the scan made is kept, so
    // the pop searches on only where the scan stopped at its bound.
    struct {
        bool valid = false;
        int32_t prev = 0, lo = 0;  // PrevBlocked(row, seed, lo) as the scan found it
    } last;

    // One seed per run of free positions of row y in [xl, xr), pushed from
    // the right.
    auto scan = [&](int32_t xl, int32_t xr, int32_t y) {
        if (y < 0 || y >= r.height)
            return true;
        const uint8_t* row = r.Row(y);
        int32_t x = xr - 1;
        while (x >= xl) {
            if (Raster::Get(row, x)) {
                x = Raster::PrevFree(row, x, xl);
                continue;
            }
            if (!stack.Push(x, y))
                return false;
            x = Raster::PrevBlocked(row, x, xl);
            last.valid = true;
            last.prev = x;
            last.lo = xl;
        }
        return true;
    };

    qntPOS p;
    while (stack.Pop(p)) {
        const uint8_t* row = r.Row(p.y);
        const bool known = last.valid;
        last.valid = false;
        if (Raster::Get(row, p.x))
            continue;
        int32_t xl = 0;
        if (known)
            xl = (last.prev >= last.lo ? last.prev : Raster::PrevBlocked(row, last.lo - 1, 0)) + 1;
        else
            xl = Raster::PrevBlocked(row, p.x, 0) + 1;
        const int32_t xr = r.NextBlocked(row, p.x + 1);
        fill(xl, p.y, uint32_t(xr - xl));
        if (!scan(xl, xr, p.y - 1) || !scan(xl, xr, p.y + 1))
            return false;
    }
    return true;
}

// The fill-line rules on a fill context (shared by the fast fill and the
// function-pointer callbacks of the engine).
void FillLineBit(CTessolo::FILLCONTEXT& c, int64_t x, int32_t y, uint32_t length);
// Clears the bits [lo, hi) of a bit-raster row.
void ClearBits(uint8_t* row, int32_t lo, int32_t hi);
// Output mask of the box multiplied by the selection (test the mask before);
// the box shrunk to what stays covered (right <= left when nothing does).
qntRECT_s MaskBySelection(uint8_t* out, int32_t outStride, const uint8_t* test, const uint8_t* selection,
                          uint32_t selectionStride, qntRECT_s box);
void FillLineByte(CTessolo::FILLCONTEXT& c, int64_t x, int32_t y, uint32_t length);

}  // namespace tessolo_split
