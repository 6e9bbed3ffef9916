// Scanline flood fill of CQNF_2DMath: one span per row run, one pending seed
// per run of fillable positions next to a span.
#include "core/2DMath.h"

#include "core/Mem.h"

#include <cstdint>

namespace {

constexpr uint32_t kSeedChunk = 500;  // pairs added to the stack at a time

struct SeedStack {
    CQNF_Mem block;
    uint32_t capacity = 0;
    uint32_t count = 0;

    bool Init()
    {
        if (!block.alloc(kSeedChunk * 8u))
            return false;
        capacity = kSeedChunk;
        return true;
    }

    int32_t* Pairs() { return static_cast<int32_t*>(static_cast<void*>(block.GetPtr())); }

    // False when the stack could not grow: the fill then stops.
    bool Push(int32_t x, int32_t y)
    {
        int32_t* p = Pairs();
        p[2 * count] = x;
        p[2 * count + 1] = y;
        ++count;
        if (count < capacity)
            return true;
        if (capacity > UINT32_MAX / 8 - kSeedChunk)
            return false;
        if (!block.Resize((capacity + kSeedChunk) * 8u))
            return false;
        capacity += kSeedChunk;
        return true;
    }

    void Pop(int32_t& x, int32_t& y)
    {
        --count;
        x = Pairs()[2 * count];
        y = Pairs()[2 * count + 1];
    }
};

}  // namespace

void CQNF_2DMath::FillBounds(void* user, qntPOS seed)
{
    if (!fnTest || !fnFillLine || fnTest(seed, user))
        return;
    SeedStack stack;
    if (!stack.Init() || !stack.Push(seed.x, seed.y))
        return;

    // Seeds each run of fillable positions in row y between xl and xr - 1
    // once, at its rightmost position.
    auto scanRow = [&](int32_t xl, int32_t xr, int32_t y) {
        bool blocked = true;
        for (int32_t x = xr - 1; x >= xl; --x) {
            if (fnTest({x, y}, user)) {
                blocked = true;
            } else if (blocked) {
                if (!stack.Push(x, y))
                    return false;
                blocked = false;
            }
        }
        return true;
    };

    while (stack.count > 0) {
        int32_t x = 0;
        int32_t y = 0;
        stack.Pop(x, y);
        if (fnTest({x, y}, user))
            continue;
        // The callbacks must refuse positions outside the raster, so the
        // walks stop there; the limits only keep the arithmetic defined.
        int32_t xl = x;
        while (xl > INT32_MIN && !fnTest({xl - 1, y}, user))
            --xl;
        int32_t xr = x + 1;
        while (xr < INT32_MAX && !fnTest({xr, y}, user))
            ++xr;
        fnFillLine({xl, y}, static_cast<uint32_t>(static_cast<int64_t>(xr) - xl), user);
        if (y > INT32_MIN && !scanRow(xl, xr, y - 1))
            return;
        if (y < INT32_MAX && !scanRow(xl, xr, y + 1))
            return;
    }
}
