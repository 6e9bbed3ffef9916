// Blurs of 8-bit light masks: a separable Gaussian with one radius, and the
// depth-dependent blur that spreads shadow outwards with a radius taken from
// a per-pixel distance map.
#include "surface3d/SurfaceBase.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// The depth-dependent blur keeps its kernel in a table of 1000 taps.
constexpr int32_t kMaxPerspectiveRadius = 499;

// r = trunc(sigma x 3.32 + 1), kept to [0, limit]: taps farther than the plane
// is long never fall inside it, so the limit changes no result there.
int64_t KernelRadius(float sigma, int64_t limit)
{
    const double r = static_cast<double>(sigma) * 3.32 + 1.0;
    if (!(r < static_cast<double>(limit)))
        return limit;
    return r > 0.0 ? static_cast<int64_t>(r) : 0;
}

// trunc(exp(-k^2 / (2 sigma^2)) x 255) with 2 sigma^2 formed in f32.
uint8_t KernelWeight(int64_t k2, float twoSigma2)
{
    if (k2 == 0)
        return 255;  // also for a sigma whose square underflows to 0
    const double w = std::exp(-static_cast<double>(k2) / static_cast<double>(twoSigma2)) * 255.0;
    return w >= 0.0 ? static_cast<uint8_t>(std::min(w, 255.0)) : 0;
}

float TwoSigmaSquared(float sigma)
{
    const float s2 = sigma * sigma;
    return s2 * 2.0f;
}

}  // namespace

void CQNF_3D_SurfaceBase::int_Blur_Const(unsigned char* plane, unsigned long width, unsigned long height, float sigma)
{
    if (!(sigma >= 0.5f) || !plane || width == 0 || height == 0)
        return;
    const int64_t w = static_cast<int64_t>(width);
    const int64_t h = static_cast<int64_t>(height);
    const int64_t r = KernelRadius(sigma, std::max(w, h));
    CQNF_Mem weightBlock, tempBlock, accBlock;
    if (!weightBlock.alloc(static_cast<uint64_t>(2 * r + 1)) || !tempBlock.alloc(qnMulSize({width, height})) ||
        !accBlock.alloc(qnMulSize({width, sizeof(uint64_t)})))
        return;
    uint8_t* weight = weightBlock.GetPtr() + r;  // weight[-r .. r]
    const float two = TwoSigmaSquared(sigma);
    for (int64_t k = -r; k <= r; ++k)
        weight[k] = KernelWeight(k * k, two);
    uint8_t* temp = tempBlock.GetPtr();
    uint64_t* acc = reinterpret_cast<uint64_t*>(accBlock.GetPtr());

    // Vertical pass into the temporary plane; the kernel is renormalised
    // over the taps inside the plane, so the borders keep their level.
    for (int64_t y = 0; y < h; ++y) {
        std::fill(acc, acc + w, uint64_t{0});
        uint64_t sumW = 0;
        const int64_t k0 = std::max<int64_t>(-r, -y);
        const int64_t k1 = std::min<int64_t>(r, h - 1 - y);
        for (int64_t k = k0; k <= k1; ++k) {
            const uint64_t wk = weight[k];
            sumW += wk;
            if (wk == 0)
                continue;
            const uint8_t* src = plane + (y + k) * w;
            for (int64_t x = 0; x < w; ++x)
                acc[x] += wk * src[x];
        }
        uint8_t* dst = temp + y * w;
        for (int64_t x = 0; x < w; ++x)
            dst[x] = static_cast<uint8_t>(acc[x] / sumW);
    }
    // Horizontal pass back into the plane.
    for (int64_t y = 0; y < h; ++y) {
        const uint8_t* src = temp + y * w;
        uint8_t* dst = plane + y * w;
        for (int64_t x = 0; x < w; ++x) {
            const int64_t k0 = std::max<int64_t>(-r, -x);
            const int64_t k1 = std::min<int64_t>(r, w - 1 - x);
            uint64_t sumW = 0, sumV = 0;
            for (int64_t k = k0; k <= k1; ++k) {
                sumW += weight[k];
                sumV += static_cast<uint64_t>(weight[k]) * src[x + k];
            }
            dst[x] = static_cast<uint8_t>(sumV / sumW);
        }
    }
}

namespace {

// Kernel taps of one radius, recomputed only when the radius changes (many
// neighbouring pixels carry the same one).
struct SeparableKernel {
    uint8_t* table = nullptr;  // 1000 bytes; taps at table[0 .. 2r]
    int64_t limit = kMaxPerspectiveRadius;
    float sigma = -1.0f;
    int64_t r = 0;
    void For(float s)
    {
        if (s == sigma)
            return;
        sigma = s;
        r = KernelRadius(s, limit);
        const float two = TwoSigmaSquared(s);
        for (int64_t k = -r; k <= r; ++k)
            table[k + r] = KernelWeight(k * k, two);
    }
};

// One pass of the separable spread along a line of `count` pixels that start
// at `src`/`res`/`dep` and lie `step` apart. Visiting is done by the caller in
// row order; this handles the pixel at position i of its line.
struct Spread {
    static uint8_t Darkness(const uint8_t* line, int64_t i, int64_t count, int64_t step, const SeparableKernel& k)
    {
        uint64_t W = 0, V = 0;
        const int64_t k0 = std::max<int64_t>(-k.r, -i);
        const int64_t k1 = std::min<int64_t>(k.r, count - 1 - i);
        for (int64_t d = k0; d <= k1; ++d) {
            const uint64_t wk = k.table[d + k.r];
            W += wk;
            V += wk * line[(i + d) * step];
        }
        if (W == 0)
            return 0;
        return static_cast<uint8_t>(255 - std::min<uint64_t>(V / W, 255));
    }
};

}  // namespace

void CQNF_3D_SurfaceBase::int_Blur_Perspective(unsigned char separable, unsigned char* plane, unsigned long width,
                                               unsigned long height, float sigmaNear, float sigmaFar, float* depth)
{
    if (!plane || !depth || width == 0 || height == 0)
        return;
    const int64_t w = static_cast<int64_t>(width);
    const int64_t h = static_cast<int64_t>(height);
    const uint64_t n = qnMulSize({width, height});
    if (n > UINT32_MAX)
        return;
    float dmin = HUGE_VALF, dmax = -HUGE_VALF;
    for (uint64_t i = 0; i < n; ++i) {
        const float d = depth[i];
        if (d > 0.0f && std::isfinite(d)) {
            dmin = std::min(dmin, d);
            dmax = std::max(dmax, d);
        }
    }
    if (!(dmin < dmax) || !(sigmaNear < sigmaFar)) {
        int_Blur_Const(plane, width, height, sigmaFar);
        return;
    }
    CQNF_Mem tableBlock;
    if (!tableBlock.Zalloc(1000))
        return;
    // Distances become blur radii; an infinite distance has no usable
    // radius and counts as none.
    for (uint64_t i = 0; i < n; ++i) {
        const float d = depth[i];
        if (d > 0.0f) {
            if (std::isfinite(d))
                depth[i] = (d - dmin) / (dmax - dmin) * (sigmaFar - sigmaNear) + sigmaNear;
            else
                depth[i] = 0.0f;
        }
    }
    CQNF_Mem resultBlock;
    if (!resultBlock.alloc(n))
        return;
    uint8_t* R = resultBlock.GetPtr();
    std::memset(R, 255, static_cast<size_t>(n));

    if (separable) {
        SeparableKernel k;
        k.table = tableBlock.GetPtr();
        // Taps farther than the plane is long never land inside it.
        k.limit = std::min<int64_t>(kMaxPerspectiveRadius, std::max(w, h));
        // Along rows: gather from the plane, scatter the darkest into R, and
        // hand the radius on to pixels that had none, so the spread goes on
        // from them when they are visited.
        for (int64_t y = 0; y < h; ++y) {
            uint8_t* line = plane + y * w;
            uint8_t* res = R + y * w;
            float* dep = depth + y * w;
            for (int64_t x = 0; x < w; ++x) {
                const float s = dep[x];
                if (!(s > 0.0f))
                    continue;
                k.For(s);
                const uint32_t m = Spread::Darkness(line, x, w, 1, k);
                const uint32_t f = (m * (255u - line[x])) >> 8;
                const int64_t k0 = std::max<int64_t>(-k.r, -x);
                const int64_t k1 = std::min<int64_t>(k.r, w - 1 - x);
                for (int64_t d = k0; d <= k1; ++d) {
                    const uint8_t c = static_cast<uint8_t>(255u - ((k.table[d + k.r] * f) >> 8));
                    if (c < res[x + d]) {
                        res[x + d] = c;
                        if (dep[x + d] == 0.0f)
                            dep[x + d] = s;
                    }
                }
            }
        }
        std::memset(plane, 255, static_cast<size_t>(n));
        // Along columns: gather from R, scatter into the plane.
        for (int64_t y = 0; y < h; ++y) {
            for (int64_t x = 0; x < w; ++x) {
                const float s = depth[y * w + x];
                if (!(s > 0.0f))
                    continue;
                k.For(s);
                const uint32_t m = Spread::Darkness(R + x, y, h, w, k);
                const uint32_t f = (m * (255u - R[y * w + x])) >> 8;
                const int64_t k0 = std::max<int64_t>(-k.r, -y);
                const int64_t k1 = std::min<int64_t>(k.r, h - 1 - y);
                for (int64_t d = k0; d <= k1; ++d) {
                    const uint8_t c = static_cast<uint8_t>(255u - ((k.table[d + k.r] * f) >> 8));
                    uint8_t& p = plane[(y + d) * w + x];
                    if (c < p)
                        p = c;
                }
            }
        }
        return;
    }

    // Two-dimensional kernel, computed per radius into a (2r+1)^2 table.
    const int64_t side = 2 * std::min<int64_t>(kMaxPerspectiveRadius, std::max(w, h)) + 1;
    CQNF_Mem kernelBlock;
    if (!kernelBlock.alloc(static_cast<uint64_t>(side * side)))
        return;
    uint8_t* kern = kernelBlock.GetPtr();
    const int64_t limit = std::min<int64_t>(kMaxPerspectiveRadius, std::max(w, h));
    float kernSigma = -1.0f;
    int64_t r = 0;
    for (int64_t y = 0; y < h; ++y) {
        for (int64_t x = 0; x < w; ++x) {
            const float s = depth[y * w + x];
            if (!(s > 0.0f))
                continue;
            if (s != kernSigma) {
                kernSigma = s;
                r = KernelRadius(s, limit);
                const float two = TwoSigmaSquared(s);
                const int64_t span = 2 * r + 1;
                for (int64_t dy = -r; dy <= r; ++dy)
                    for (int64_t dx = -r; dx <= r; ++dx)
                        kern[(dy + r) * span + (dx + r)] = KernelWeight(dx * dx + dy * dy, two);
            }
            const int64_t span = 2 * r + 1;
            const int64_t y0 = std::max<int64_t>(-r, -y), y1 = std::min<int64_t>(r, h - 1 - y);
            const int64_t x0 = std::max<int64_t>(-r, -x), x1 = std::min<int64_t>(r, w - 1 - x);
            uint64_t W = 0, V = 0;
            for (int64_t dy = y0; dy <= y1; ++dy) {
                const uint8_t* krow = kern + (dy + r) * span + r;
                const uint8_t* prow = plane + (y + dy) * w + x;
                for (int64_t dx = x0; dx <= x1; ++dx) {
                    W += krow[dx];
                    V += static_cast<uint64_t>(krow[dx]) * prow[dx];
                }
            }
            const uint32_t m = W ? static_cast<uint32_t>(255 - std::min<uint64_t>(V / W, 255)) : 0;
            const uint32_t f = (m * (255u - plane[y * w + x])) >> 8;
            for (int64_t dy = y0; dy <= y1; ++dy) {
                const uint8_t* krow = kern + (dy + r) * span + r;
                uint8_t* rrow = R + (y + dy) * w + x;
                float* drow = depth + (y + dy) * w + x;
                for (int64_t dx = x0; dx <= x1; ++dx) {
                    const uint8_t c = static_cast<uint8_t>(255u - ((krow[dx] * f) >> 8));
                    if (c < rrow[dx]) {
                        rrow[dx] = c;
                        if (drow[dx] == 0.0f)
                            drow[dx] = s;
                    }
                }
            }
        }
    }
    std::memcpy(plane, R, static_cast<size_t>(n));
}
