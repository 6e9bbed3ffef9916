// Relief filters of the filter engine: the bevel, which lights a height map
// made from the alpha plane, and the inside stroke along the alpha edge.
#include "imaging/ImageFX.h"
#include "imaging/ImageFX_Kernels.h"
#include "imaging/Parallel.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <vector>

namespace {

constexpr int kMapRowLanes = 32;
constexpr int kMapColumnLanes = 64;
// A bevel of at least this many pixels (a puzzle of few, large pieces) runs
// its rows and columns on the machine's threads.
constexpr uint64_t kParallelPixels = 1u << 18;

// f(first, last, worker) over [0, n) in parts of `step` (the last may be
// shorter): on the calling thread alone (worker 0) when threads is 1, else
// in parts on the machine's threads. Each part writes its own rows or
// columns, so the bytes are the same either way.
template <class F>
void Parts(int64_t n, int64_t step, unsigned threads, F&& f)
{
    const uint32_t parts = static_cast<uint32_t>((n + step - 1) / step);
    if (threads <= 1) {
        for (uint32_t part = 0; part < parts; ++part)
            f(part * step, std::min<int64_t>(n, (part + 1) * step), 0u);
        return;
    }
    qnpar::For(parts, threads, [&](uint32_t part, unsigned worker) {
        f(part * step, std::min<int64_t>(n, (int64_t(part) + 1) * step), worker);
    });
}

// The blur down `lanes` columns of a height map (rows `stride` floats
// apart, n rows, in place), where a tap reaches `reach` rows each way.
// Inside the shape and outside it, a group of columns holds one row over and
// over, and a row whose taps all read that row gets the same sum as every
// other such row. So each run of one row is blurred with only `reach` + 1
// rows of its top and `reach` of its bottom: every row kept then reads the
// same taps as in the whole column, with the same edge rule (a run kept
// that way is never shorter than a tap's span), and the first kept row
// whose taps lie in the run gives the rows left out. `kept` holds n rows
// of the group, `ends` n numbers; `line` is the blur's buffer for n rows.
void BlurMapColumns(const CQNF_ImageFX::STRUCT_Blur_VectorData& kd, const qnfx::LaneBlur& all, float* col,
                    int64_t stride, int64_t n, int lanes, int64_t reach, float* kept, int64_t* ends, double* line)
{
    const size_t bytes = static_cast<size_t>(lanes) * sizeof(float);
    // Leaving out fewer rows than this costs more in copies than it saves.
    constexpr int64_t kLeftOutAtLeast = 8;
    const int64_t span = 2 * reach + 1;
    auto runEnd = [&](int64_t r) {
        int64_t e = r + 1;
        while (e < n && std::memcmp(col + e * stride, col + r * stride, bytes) == 0)
            ++e;
        return e;
    };
    // Where each run ends, found once.
    int64_t runs = 0, left = 0;
    for (int64_t r = 0, e; r < n; r = e) {
        e = runEnd(r);
        ends[runs++] = e;
        if (e - r - span >= kLeftOutAtLeast)
            left += e - r - span;
    }
    if (reach <= 0 || left == 0 || left < n / 4) {
        qnfx::BlurLanes(all, col, stride, 1, col, stride, 1, lanes, line);
        return;
    }
    int64_t k = 0, r = 0;
    for (int64_t run = 0; run < runs; ++run) {
        const int64_t e = ends[run];
        const bool shorten = e - r - span >= kLeftOutAtLeast;
        for (int64_t i = r; i < e; ++i) {
            if (shorten && i == r + reach + 1)
                i = e - reach;
            std::memcpy(kept + k++ * lanes, col + i * stride, bytes);
        }
        r = e;
    }
    const qnfx::LaneBlur shortened = qnfx::MakeLaneBlur(kd, static_cast<uint32_t>(k), nullptr);
    qnfx::BlurLanes(shortened, kept, lanes, 1, kept, lanes, 1, lanes, line);
    k = 0;
    r = 0;
    for (int64_t run = 0; run < runs; ++run) {
        const int64_t e = ends[run];
        const bool shorten = e - r - span >= kLeftOutAtLeast;
        const int64_t inRun = k + reach;  // the kept row that stands for those left out
        for (int64_t i = r; i < e; ++i) {
            const bool leftOut = shorten && i > r + reach && i < e - reach;
            std::memcpy(col + i * stride, kept + (leftOut ? inRun : k++) * lanes, bytes);
        }
        r = e;
    }
}

// Rows per part: about four parts a thread.
int64_t RowStep(int64_t rows, unsigned threads)
{
    return threads <= 1 ? std::max<int64_t>(rows, 1) : std::max<int64_t>(1, rows / (int64_t(threads) * 4));
}

// One plane's row toward the highlight colour hc by k = H - S where k is
// positive, toward the shadow colour sc by -k where negative; k = 0 leaves
// the value. Without branches, so that it runs in vector lanes.
[[gnu::always_inline]] inline void ShadeRowBody(const uint8_t* s, uint8_t* d, const uint8_t* hr, const uint8_t* sr,
                                                int32_t w, int hc, int sc)
{
    for (int32_t x = 0; x < w; ++x) {
        const int v = s[x];
        const int k = hr[x] - sr[x];
        const int target = k > 0 ? hc : sc;
        const int amount = k > 0 ? k : -k;
        d[x] = static_cast<uint8_t>(v + (((target - v) * amount) >> 8));
    }
}

void ShadeRowBase(const uint8_t* s, uint8_t* d, const uint8_t* hr, const uint8_t* sr, int32_t w, int hc, int sc)
{
    ShadeRowBody(s, d, hr, sr, w, hc, sc);
}

#if defined(__x86_64__) || defined(__i386__)
// The same integer steps in wider lanes: the bytes do not change.
[[gnu::target("avx2")]] void ShadeRowAvx2(const uint8_t* s, uint8_t* d, const uint8_t* hr, const uint8_t* sr,
                                          int32_t w, int hc, int sc)
{
    ShadeRowBody(s, d, hr, sr, w, hc, sc);
}
[[QNFX_TARGET_AVX512BW]] void ShadeRowAvx512(const uint8_t* s, uint8_t* d, const uint8_t* hr, const uint8_t* sr,
                                               int32_t w, int hc, int sc)
{
    ShadeRowBody(s, d, hr, sr, w, hc, sc);
}
#endif

// Whether the slopes LightRow reads for pixels [0, n) of a row are all 0:
// the samples [0, n] of the map row above all one number, and those
// [1, n] of this row the same. Compared as bytes (a zero of either sign
// counts as a slope, which only means it is lit the long way).
constexpr int32_t kFlatStretch = 64;
// Rows ahead that the lighting asks for.
constexpr int64_t kAheadRows = 4;

bool FlatStretch(const float* up, const float* mid, int32_t n)
{
    const size_t bytes = static_cast<size_t>(n) * sizeof(float);
    return up[0] == up[0] && std::memcmp(up, up + 1, bytes) == 0 && std::memcmp(up + 1, mid + 1, bytes) == 0;
}

using ShadeRowFn = void (*)(const uint8_t*, uint8_t*, const uint8_t*, const uint8_t*, int32_t, int, int);

ShadeRowFn PickShadeRow()
{
#if defined(__x86_64__) || defined(__i386__)
    static const bool byteLanes512 = __builtin_cpu_supports("avx512bw");
    const qnfx::LaneIsa isa = qnfx::CurrentLaneIsa();
    if (isa == qnfx::LaneIsa::Avx512 && byteLanes512)
        return ShadeRowAvx512;
    if (isa != qnfx::LaneIsa::Base)
        return ShadeRowAvx2;
#endif
    return ShadeRowBase;
}

}  // namespace

int CQNF_ImageFX::Bevel(uint16_t size, uint16_t depth, double soften, qnt3D_VECTOR light,
                        const uint8_t* highlightColour, uint8_t highlightOpacity, const uint8_t* shadowColour,
                        uint8_t shadowOpacity)
{
    if (!i_SameShape(true))
        return 0;
    const float lenSq = light.x * light.x + light.y * light.y + light.z * light.z;
    const float len = std::sqrt(lenSq);
    // A light without a direction lights nothing: refuse it rather than
    // divide by zero.
    if (!std::isfinite(soften) || soften > kMaxBlurSigma || !std::isfinite(len) || !(len > 0.0f) ||
        (m_src.ColourPlanes() > 0 && (!highlightColour || !shadowColour))) {
        SetError(qnerr::BadArgument);
        return 0;
    }
    const int32_t w = m_src.width;
    const int32_t h = m_src.height;
    if (w == 0 || h == 0)
        return 1;
    const unsigned threads =
        static_cast<uint64_t>(w) * static_cast<uint64_t>(h) >= kParallelPixels ? qnpar::ThreadCount() : 1;
    // The light on the slopes.
    qnfx::BevelLight lp;
    lp.lx = -light.x / len;
    lp.ly = light.y / len;
    lp.lz = light.z / len;
    lp.flat = std::max(lp.lz, 0.000001f);
    // With the light straight above nothing can face it more than a flat
    // area; only rounding could say otherwise.
    lp.noHighlight = 1.0f - lp.flat < 1e-6f;
    lp.hiScale = lp.noHighlight ? 0.0f : static_cast<float>(highlightOpacity) / (1.0f - lp.flat);
    lp.depth = depth;
    lp.shadow = shadowOpacity;
    const ShadeRowFn shade = PickShadeRow();
    const int planes = m_src.ColourPlanes();
    const bool soft = soften > 0.0;

    // The height map: the alpha (255 without one) with a one-pixel border
    // of 0, its edge rounded by a blur along the rows and down the columns
    // with 0 beyond it.
    const int64_t mw = static_cast<int64_t>(w) + 2;
    const int64_t mh = static_cast<int64_t>(h) + 2;
    STRUCT_Blur_VectorData kd;
    Blur_PrepareBlurData(size / 3.32, &kd, &m_memBlurWork, 1, 0);
    const qnfx::LaneBlur rows = qnfx::MakeLaneBlur(kd, static_cast<uint32_t>(mw), nullptr);
    // The small kernel along the rows goes a row at a time, run by run:
    // each row is flat inside and outside the shape, and only where it
    // crosses the edge are sums needed. A row is so blurred as soon as it
    // is made, while it is in the cache.
    const bool runs = kd.direct && !rows.Identity();
    const uint64_t lineDoubles = static_cast<uint64_t>(mw + 2 * kd.halfWidth);
    const uint8_t* alpha = m_src.AlphaPlane();
    auto makeRow = [&](int64_t r, float* row, double* line) {
        if (r == 0 || r == mh - 1) {
            std::fill(row, row + mw, 0.0f);
        } else {
            row[0] = 0.0f;
            row[mw - 1] = 0.0f;
            if (alpha) {
                const uint8_t* a = alpha + static_cast<size_t>(r - 1) * m_src.alphaStride;
                for (int32_t x = 0; x < w; ++x)
                    row[x + 1] = a[x];
            } else {
                std::fill(row + 1, row + 1 + w, 255.0f);
            }
        }
        if (runs)
            qnfx::BlurLineRuns(kd, row, 1, row, 1, mw, line);
    };

    // Away from the edge the map is flat, and a flat slope gets one light:
    // those stretches of a row take it as the formula gives it for no slope.
    // Where that light moves no colour, they are copied.
    const float level[2] = {0.0f, 0.0f};
    uint8_t flatHigh = 0, flatShadow = 0;
    qnfx::LightRow(level, level, 1, lp, &flatHigh, &flatShadow);
    const bool flatKeeps = flatHigh == flatShadow;
    // Row y lit from map rows y (up) and y + 1 (mid) and shaded at once,
    // through a row of highlight and one of shadow.
    auto lightAndShade = [&](int64_t y, const float* up, const float* mid, uint8_t* hr, uint8_t* sr) {
        // A piece's rows may lie far apart in a large picture, each plane's
        // in another place: the rows a few ahead are asked for now, which
        // the processor would not guess from short rows.
        if (y + kAheadRows < h)
            for (int p = 0; p < planes; ++p) {
                const uint8_t* ahead = m_src.planes[p] + static_cast<size_t>(y + kAheadRows) * m_src.stride;
                uint8_t* to = m_dst.planes[p] + static_cast<size_t>(y + kAheadRows) * m_dst.stride;
                for (int32_t x = 0; x < w; x += 64) {
                    __builtin_prefetch(ahead + x);
                    __builtin_prefetch(to + x, 1);
                }
            }
        for (int32_t x = 0; x < w; x += kFlatStretch) {
            const int32_t n = std::min(kFlatStretch, w - x);
            const bool flat = FlatStretch(up + x, mid + x, n);
            if (flat && !flatKeeps) {
                std::memset(hr + x, flatHigh, static_cast<size_t>(n));
                std::memset(sr + x, flatShadow, static_cast<size_t>(n));
            } else if (!flat) {
                qnfx::LightRow(up + x, mid + x, n, lp, hr + x, sr + x);
            }
            for (int p = 0; p < planes; ++p) {
                const uint8_t* from = m_src.planes[p] + static_cast<size_t>(y) * m_src.stride + x;
                uint8_t* to = m_dst.planes[p] + static_cast<size_t>(y) * m_dst.stride + x;
                if (flat && flatKeeps)
                    std::memcpy(to, from, static_cast<size_t>(n));
                else
                    shade(from, to, hr + x, sr + x, n, highlightColour[p], shadowColour[p]);
            }
        }
    };

    if (!soft && kd.direct) {
        // A small kernel reaches a few rows: the map is made, blurred, lit
        // and shaded in strips of rows, each with the rows its blur reaches
        // beyond it, so that it never leaves the cache. A map row's blur
        // down its column reads the same rows in a strip as in the whole
        // map, and a strip that holds the map's first or last row gives
        // those rows' edge rule: the bytes are the whole map's.
        const int64_t halo = std::max(0, kd.halfWidth - 1);  // the rows a tap reaches past the centre
        // Strips of half a megabyte of map or so; a map of a megabyte or
        // less on one thread stays in the cache whole.
        const int64_t strip = threads == 1 && mw * mh <= (int64_t(1) << 18)
                                  ? h
                                  : std::clamp<int64_t>((int64_t(1) << 17) / mw, 16, 64);
        const int64_t most = std::min(mh, strip + 1 + 2 * halo);
        const qnfx::LaneBlur longest = qnfx::MakeLaneBlur(kd, static_cast<uint32_t>(most), nullptr);
        const uint64_t need = std::max({rows.BufferDoubles(), longest.BufferDoubles(), lineDoubles});
        const uint64_t floats = qnMulSize({static_cast<uint64_t>(most), static_cast<uint64_t>(mw)});
        // A column group's rows without the repeats (see below), per thread.
        const uint64_t perWorker = floats + qnMulSize({static_cast<uint64_t>(most), kMapColumnLanes});
        float* maps = reinterpret_cast<float*>(i_Grow(m_memBevelHeight, qnMulSize({perWorker, threads, 4})));
        double* bufs = reinterpret_cast<double*>(i_Grow(m_memBlurLine, qnMulSize({need, threads, sizeof(double)})));
        uint8_t* hi = i_Grow(m_memBevelHigh, qnMulSize({static_cast<uint64_t>(w), threads}));
        uint8_t* sh = i_Grow(m_memBevelShadow, qnMulSize({static_cast<uint64_t>(w), threads}));
        if (!maps || !bufs || !hi || !sh)
            return 0;
        std::vector<int64_t> runEnds(static_cast<size_t>(qnMulSize({static_cast<uint64_t>(most), threads})));
        Parts(h, strip, threads, [&](int64_t y0, int64_t y1, unsigned worker) {
            float* f = maps + worker * perWorker;
            double* line = bufs + worker * need;
            const int64_t m0 = std::max<int64_t>(0, y0 - halo), m1 = std::min(mh, y1 + 1 + halo);
            for (int64_t r = m0; r < m1; ++r)
                makeRow(r, f + (r - m0) * mw, line);
            if (!runs)
                qnfx::BlurLanes(rows, f, 1, mw, f, 1, mw, static_cast<int>(m1 - m0), line);
            const qnfx::LaneBlur cols = qnfx::MakeLaneBlur(kd, static_cast<uint32_t>(m1 - m0), nullptr);
            float* kept = f + floats;
            int64_t* ends = runEnds.data() + static_cast<size_t>(worker) * most;
            for (int64_t x0 = 0; x0 < mw; x0 += kMapColumnLanes) {
                const int lanes = static_cast<int>(std::min<int64_t>(kMapColumnLanes, mw - x0));
                BlurMapColumns(kd, cols, f + x0, mw, m1 - m0, lanes, halo, kept, ends, line);
            }
            uint8_t* hr = hi + static_cast<size_t>(worker) * w;
            uint8_t* sr = sh + static_cast<size_t>(worker) * w;
            for (int64_t y = y0; y < y1; ++y)
                lightAndShade(y, f + (y - m0) * mw, f + (y + 1 - m0) * mw, hr, sr);
            // The strip's alpha, just read for its map.
            if (alpha)
                i_CopyPlaneRows(m_src.channels - 1, int32_t(y0), int32_t(y1));
        });
        return 1;
    }

    // A large kernel: the whole map at once.
    float* map = reinterpret_cast<float*>(i_Grow(m_memBevelHeight, qnMulSize({static_cast<uint64_t>(mw),
                                                                              static_cast<uint64_t>(mh), 4})));
    // Softened, the highlight and shadow are blurred as whole planes; else
    // each thread lights its rows through a row pair of its own.
    const uint64_t maskBytes = soft ? qnMulSize({static_cast<uint64_t>(w), static_cast<uint64_t>(h)})
                                    : qnMulSize({static_cast<uint64_t>(w), threads});
    uint8_t* hi = i_Grow(m_memBevelHigh, maskBytes);
    uint8_t* sh = i_Grow(m_memBevelShadow, maskBytes);
    const qnfx::LaneBlur cols = qnfx::MakeLaneBlur(kd, static_cast<uint32_t>(mh), nullptr);
    const uint64_t need = std::max({rows.BufferDoubles(), cols.BufferDoubles(), runs ? lineDoubles : 0});
    // A line buffer for each thread, one after the other.
    double* bufs = reinterpret_cast<double*>(i_Grow(m_memBlurLine, qnMulSize({need, threads, sizeof(double)})));
    if (!map || !hi || !sh || !bufs)
        return 0;
    makeRow(0, map, bufs);
    makeRow(mh - 1, map + (mh - 1) * mw, bufs);
    Parts(h, RowStep(h, threads), threads, [&](int64_t y0, int64_t y1, unsigned worker) {
        for (int64_t y = y0; y < y1; ++y)
            makeRow(y + 1, map + (y + 1) * mw, bufs + worker * need);
    });
    if (!runs)
        Parts(mh, kMapRowLanes, threads, [&](int64_t y0, int64_t y1, unsigned worker) {
            float* p = map + y0 * mw;
            qnfx::BlurLanes(rows, p, 1, mw, p, 1, mw, static_cast<int>(y1 - y0), bufs + worker * need);
        });
    Parts(mw, kMapColumnLanes, threads, [&](int64_t x0, int64_t x1, unsigned worker) {
        float* p = map + x0;
        qnfx::BlurLanes(cols, p, mw, 1, p, mw, 1, static_cast<int>(x1 - x0), bufs + worker * need);
    });

    const int64_t rowStep = RowStep(h, threads);
    if (!soft) {
        Parts(h, rowStep, threads, [&](int64_t y0, int64_t y1, unsigned worker) {
            uint8_t* hr = hi + static_cast<size_t>(worker) * w;
            uint8_t* sr = sh + static_cast<size_t>(worker) * w;
            for (int64_t y = y0; y < y1; ++y)
                lightAndShade(y, map + y * mw, map + (y + 1) * mw, hr, sr);
        });
        i_CopyAlphaPlane();
        return 1;
    }
    Parts(h, rowStep, threads, [&](int64_t y0, int64_t y1, unsigned) {
        for (int64_t y = y0; y < y1; ++y)
            qnfx::LightRow(map + y * mw, map + (y + 1) * mw, w, lp, hi + static_cast<size_t>(y) * w,
                           sh + static_cast<size_t>(y) * w);
    });

    STRUCT_Blur_VectorData sd;
    Blur_PrepareBlurData(soften, &sd, &m_memBlurWork, 1, 0);
    for (uint8_t* m : {hi, sh}) {
        if (!i_BlurRows(sd, m, w, m, w, nullptr, 0, w, h) || !i_BlurColumns(sd, m, w, m, w, nullptr, 0, w, h))
            return 0;
    }
    Parts(h, rowStep, threads, [&](int64_t y0, int64_t y1, unsigned) {
        for (int64_t y = y0; y < y1; ++y)
            for (int p = 0; p < planes; ++p)
                shade(m_src.planes[p] + static_cast<size_t>(y) * m_src.stride,
                      m_dst.planes[p] + static_cast<size_t>(y) * m_dst.stride, hi + static_cast<size_t>(y) * w,
                      sh + static_cast<size_t>(y) * w, w, highlightColour[p], shadowColour[p]);
    });
    i_CopyAlphaPlane();
    return 1;
}

int CQNF_ImageFX::Stroke_FillCircleMatrix(CQNF_Mem* matrix, uint8_t radius, uint8_t shift)
{
    if (!matrix || shift > 7)
        return 0;
    const int r = radius;
    const int side = 2 * r + 1;
    if (matrix->GetSize() < static_cast<uint32_t>(side * side) && !matrix->alloc(side * side))
        return 0;
    uint8_t* m = matrix->GetPtr();
    std::memset(m, 0, static_cast<size_t>(side) * side);
    const int sub = 1 << shift;
    const int add = std::max(1, 256 >> (2 * shift));
    const int64_t big = static_cast<int64_t>(sub) * r;
    const int64_t limit = big * big;
    // The top-left quadrant with the centre row and column.
    for (int64_t sy = -big; sy < sub; ++sy) {
        const int row = static_cast<int>((sy >> shift) + r);
        const int64_t sy2 = sy * sy;
        for (int64_t sx = -big; sx < sub; ++sx) {
            if (sx * sx + sy2 < limit) {
                uint8_t& cell = m[row * side + static_cast<int>((sx >> shift) + r)];
                cell = static_cast<uint8_t>(std::min(255, cell + add));
            }
        }
    }
    for (int y = 0; y < side; ++y) {
        const int qy = y <= r ? y : 2 * r - y;
        for (int x = 0; x < side; ++x) {
            const int qx = x <= r ? x : 2 * r - x;
            m[y * side + x] = m[qy * side + qx];
        }
    }
    return 1;
}

namespace {

// Rows of the alpha plane with the rows above and below; outside the image
// they read as a row of zeros.
struct AlphaRows {
    const uint8_t* up;
    const uint8_t* at;
    const uint8_t* down;
};

// The colour of one plane through the stroke mask m: v + opacity m (c - v)
// / 65025, or v + (c - v) m / 255 at full opacity, divisions truncated
// toward zero. A mask of 0 leaves v; a full mask (the transparent surround
// and the stroke's core, most of the pixels it touches) goes through full[v].
inline int StrokeValue(int v, int m, int c, int opacity)
{
    return opacity < 255 ? v + (opacity * m * (c - v)) / 65025 : v + ((c - v) * m) / 255;
}

// The end of the run of bytes equal to row[x], eight at a time.
int32_t RunEnd(const uint8_t* row, int32_t x, int32_t w)
{
    const uint8_t v = row[x];
    int32_t e = x + 1;
    if constexpr (std::endian::native == std::endian::little) {
        const uint64_t pattern = v * 0x0101010101010101ull;
        while (e + 8 <= w) {
            uint64_t q;
            std::memcpy(&q, row + e, 8);
            if (const uint64_t d = q ^ pattern)
                return e + std::countr_zero(d) / 8;
            e += 8;
        }
    }
    while (e < w && row[e] == v)
        ++e;
    return e;
}

void StrokeRow(const uint8_t* src, uint8_t* dst, const uint8_t* mask, int32_t w, int c, int opacity,
               const uint8_t* full)
{
    int32_t x = 0;
    while (x < w) {
        const uint8_t m = mask[x];
        const int32_t e = RunEnd(mask, x, w);
        if (m == 0) {
            if (src != dst)
                std::memmove(dst + x, src + x, static_cast<size_t>(e - x));
        } else if (m == 255) {
            for (int32_t k = x; k < e; ++k)
                dst[k] = full[src[k]];
        } else {
            for (int32_t k = x; k < e; ++k)
                dst[k] = static_cast<uint8_t>(StrokeValue(src[k], m, c, opacity));
        }
        x = e;
    }
}

}  // namespace

int CQNF_ImageFX::StrokeInside(const uint8_t* colour, uint8_t opacity, uint8_t size)
{
    if (!i_SameShape())
        return 0;
    const int32_t w = m_src.width;
    const int32_t h = m_src.height;
    if (w < 1 || h < 1 || !m_src.alpha || (!colour && m_src.ColourPlanes() > 0)) {
        SetError(qnerr::BadArgument);
        return 0;
    }
    if (size == 0) {
        i_CopyAllPlanes();
        return 1;
    }
    // The mask is built apart from the destination, so that a destination
    // sharing its alpha plane with the source still reads the source alpha.
    // One more row of zeros serves as the alpha outside the image.
    const uint64_t area = qnMulSize({static_cast<uint64_t>(w), static_cast<uint64_t>(h)});
    uint8_t* mask = i_Grow(m_memBevelHigh, area);
    uint8_t* zeros = i_Grow(m_memBevelShadow, 2 * static_cast<uint64_t>(w));
    if (!mask || !zeros)
        return 0;
    std::memset(zeros, 0, static_cast<size_t>(w));
    const uint8_t* alpha = m_src.AlphaPlane();
    const uint32_t as = m_src.stride;
    auto rows = [&](int32_t y) {
        const uint8_t* at = alpha + static_cast<size_t>(y) * as;
        return AlphaRows{y > 0 ? at - as : zeros, at, y < h - 1 ? at + as : zeros};
    };

    // Every pixel that is not opaque, and every border pixel, is stroked
    // fully; size 1 also strokes opaque pixels next to less opaque ones.
    for (int32_t y = 0; y < h; ++y) {
        const AlphaRows r = rows(y);
        uint8_t* m = mask + static_cast<size_t>(y) * w;
        for (int32_t x = 0; x < w; ++x)
            m[x] = r.at[x] < 255 ? 255 : 0;
        m[0] = 255;
        m[w - 1] = 255;
        if (y == 0 || y == h - 1) {
            std::memset(m, 255, static_cast<size_t>(w));
            continue;
        }
        if (size != 1)
            continue;
        for (int32_t x = 1; x < w - 1; ++x) {
            if (r.at[x] != 255)
                continue;
            const int lo = std::min({r.up[x - 1], r.up[x], r.up[x + 1], r.at[x - 1], r.at[x + 1], r.down[x - 1],
                                     r.down[x], r.down[x + 1]});
            m[x] = static_cast<uint8_t>(255 - lo);
        }
    }

    if (size >= 2) {
        const int s = size;
        const int side = 2 * s + 1;
        CQNF_Mem outer;
        CQNF_Mem inner;
        if (!Stroke_FillCircleMatrix(&outer, static_cast<uint8_t>(s), 3) ||
            !Stroke_FillCircleMatrix(&inner, static_cast<uint8_t>(s - 1), 3)) {
            SetError(outer.GetError() ? outer.GetError() : (inner.GetError() ? inner.GetError() : qnerr::NoMemory));
            return 0;
        }
        // Inner disc inside a one-cell frame of 0, the size of the outer one.
        std::vector<uint8_t> framed(static_cast<size_t>(side) * side, 0);
        for (int y = 0; y < side - 2; ++y)
            std::memcpy(&framed[static_cast<size_t>(y + 1) * side + 1], inner.GetPtr() + y * (side - 2), side - 2);
        const uint8_t* am = outer.GetPtr();
        // The stamp of an edge pixel with alpha a, made once per a.
        std::vector<std::vector<uint8_t>> stamps(256);
        auto stampFor = [&](int a) -> const uint8_t* {
            std::vector<uint8_t>& st = stamps[a];
            if (st.empty()) {
                st.resize(static_cast<size_t>(side) * side);
                for (size_t c = 0; c < st.size(); ++c) {
                    const int av = am[c];
                    st[c] = static_cast<uint8_t>(av - (a * (av - framed[c])) / 255);
                }
            }
            return st.data();
        };
        // Edge pixels (stroked themselves, with an opaque direct neighbour)
        // stamp their disc into the mask. They are marked a row at a time
        // first, which the compiler does in vector code.
        uint8_t* edge = zeros + w;
        for (int32_t y = 0; y < h; ++y) {
            const AlphaRows r = rows(y);
            const bool borderRow = y == 0 || y == h - 1;
            for (int32_t x = 1; x < w - 1; ++x)
                edge[x] = static_cast<uint8_t>(
                    ((r.up[x] == 255) | (r.down[x] == 255) | (r.at[x - 1] == 255) | (r.at[x + 1] == 255)) &
                    ((r.at[x] != 255) | borderRow));
            for (int32_t x : {0, w - 1})
                edge[x] = static_cast<uint8_t>(r.up[x] == 255 || r.down[x] == 255 || (x > 0 && r.at[x - 1] == 255) ||
                                               (x < w - 1 && r.at[x + 1] == 255));
            for (int32_t x = 0; x < w; x = edge[x] ? x + 1 : RunEnd(edge, x, w)) {
                if (!edge[x])
                    continue;
                const int a = r.at[x];
                const uint8_t* st = stampFor(a);
                const int32_t x0 = std::max(0, x - s);
                const int32_t x1 = std::min(w - 1, x + s);
                const int32_t y0 = std::max(0, y - s);
                const int32_t y1 = std::min(h - 1, y + s);
                const int32_t n = x1 - x0 + 1;
                for (int32_t yy = y0; yy <= y1; ++yy) {
                    uint8_t* mr = mask + static_cast<size_t>(yy) * w + x0;
                    const uint8_t* sr = st + static_cast<size_t>(yy - y + s) * side + (x0 - x + s);
                    for (int32_t k = 0; k < n; ++k)
                        mr[k] = std::max(mr[k], sr[k]);
                }
            }
        }
    }

    const int planes = m_src.channels - 1;
    for (int p = 0; p < planes; ++p) {
        uint8_t full[256];
        for (int v = 0; v < 256; ++v)
            full[v] = static_cast<uint8_t>(StrokeValue(v, 255, colour[p], opacity));
        for (int32_t y = 0; y < h; ++y)
            StrokeRow(m_src.planes[p] + static_cast<size_t>(y) * m_src.stride,
                      m_dst.planes[p] + static_cast<size_t>(y) * m_dst.stride, mask + static_cast<size_t>(y) * w, w,
                      colour[p], opacity, full);
    }
    i_CopyPlane(m_src.channels - 1);
    return 1;
}
