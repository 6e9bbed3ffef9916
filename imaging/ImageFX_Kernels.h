// Private to the filter engine: the one-dimensional blur run over many lines
// at once.
//
// A blur of one line is a chain of dependent steps (each recursive output
// needs the previous three), so a line at a time leaves the processor waiting
// on every multiplication. Here many lines ("lanes") advance together: sample
// j of every lane of a chunk sits in one row of a buffer and the chunk's
// state in vector registers, so each step of the recurrence is a few vector
// operations (ImageFX_LaneKernels.inc, built per instruction set). Each lane
// sees exactly the operations of Blur_BlurVector in the same order, so the
// bytes are identical; only the schedule differs.
//
// The lanes are read and written through (j, k) strides: a block of image
// columns is (stride, 1); rows are first transposed into such blocks.
#pragma once

#include "imaging/ImageFX.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

// A function built for 512-bit byte lanes. gcc keeps to 256-bit vectors
// unless told to prefer the wider ones; clang has no such target option and
// takes the widest width a function may use as an attribute of its own.
#if defined(__clang__)
#define QNFX_TARGET_AVX512BW gnu::target("avx512f,avx512bw"), clang::min_vector_width(512)
#else
#define QNFX_TARGET_AVX512BW gnu::target("avx512f,avx512bw,prefer-vector-width=512")
#endif

namespace qnfx {

// Lanes advance in chunks of at most kChunk: the chunk's recursive state
// stays in registers and its part of the buffer in the nearest cache.
inline constexpr int kChunk = 32;

// BlurBand: lines per band, and lanes at most.
inline constexpr int kBandRows = 64;
inline constexpr int kBandLanes = 256;

// BlurPlaneDirect: output rows per band.
inline constexpr int kFuseRows = 32;

// Instruction sets of the lane kernels, widest last.
enum class LaneIsa { Base, Avx2, Avx512 };
// The set in use; tests force each one the processor has to compare them.
LaneIsa CurrentLaneIsa();
bool ForceLaneIsa(LaneIsa isa);  // false when the processor lacks it

// The forms the direct kernel on bytes tries in turn (single precision,
// plain then folded, then the double sums); tests start later in the list
// to hold each form on its own against the double sums.
enum class SettleFrom { Plain, Folded, Doubles };
SettleFrom CurrentSettleFrom();
void ForceSettleFrom(SettleFrom from);

// The recursive coefficients with the sums the first and last steps use,
// each formed in one fixed order.
struct Recursive {
    double B, B1, B2, B3;
    double sAll;  // B + B1 + B2 + B3
    double s123;  // B1 + B2 + B3
    double s23;   // B2 + B3
};

inline Recursive MakeRecursive(const CQNF_ImageFX::STRUCT_Blur_VectorData& d)
{
    Recursive r;
    r.B = d.B;
    r.B1 = d.B1;
    r.B2 = d.B2;
    r.B3 = d.B3;
    r.sAll = d.B + d.B1 + d.B2 + d.B3;
    r.s123 = d.B1 + d.B2 + d.B3;
    r.s23 = d.B2 + d.B3;
    return r;
}

// Samples added to a line by the recursive filter, and the part in front.
inline uint32_t RecursiveExtension(double sigma) { return static_cast<uint32_t>(7.0 * sigma); }

// Branch-free, so that loops over lanes stay vector code.
inline double Clamp255(double v) { return std::min(255.0, std::max(0.0, v)); }

// A blurred sample as a pixel byte: single precision, truncated toward zero.
inline uint8_t ToByte(double v) { return static_cast<uint8_t>(static_cast<int32_t>(static_cast<float>(Clamp255(v)))); }

// The last three outputs of the forward pass over `pad` copies of x (pad >= 3),
// in the order w[pad-1], w[pad-2], w[pad-3].
inline void FrontState(const Recursive& rc, double x, uint32_t pad, double out[3])
{
    double e3 = rc.sAll * x;                      // w[0]
    double e2 = rc.B * x + rc.s123 * e3;          // w[1]
    double e1 = rc.B * x + rc.B1 * e2 + rc.s23 * e3;  // w[2]
    for (uint32_t i = 3; i < pad; ++i) {
        const double e = rc.B * x + rc.B1 * e1 + rc.B2 * e2 + rc.B3 * e3;
        e3 = e2;
        e2 = e1;
        e1 = e;
    }
    out[0] = e1;
    out[1] = e2;
    out[2] = e3;
}

// Front states of byte-valued lines, computed once per value seen.
struct FrontCache {
    double state[256][3];
    bool have[256] = {};

    const double* Get(const Recursive& rc, uint8_t v, uint32_t pad)
    {
        if (!have[v]) {
            FrontState(rc, v, pad, state[v]);
            have[v] = true;
        }
        return state[v];
    }
};

// Everything a lane kernel needs to know about the blur of one line length.
struct LaneBlur {
    const CQNF_ImageFX::STRUCT_Blur_VectorData* kd;
    Recursive rc;
    uint32_t n;     // samples per lane
    uint32_t pad;   // recursive: samples in front
    uint32_t back;  // recursive: samples behind
    FrontCache* cache;  // replicate rule with byte input; may be null

    // Doubles the lane buffer needs (one chunk of lanes at a time).
    uint64_t BufferDoubles() const
    {
        if (kd->direct) {  // a chunk at a time, or a band of floats
            const uint64_t band = (kBandRows + 2ull * kd->halfWidth) * kBandLanes / 2;
            const uint64_t chunk = static_cast<uint64_t>(n) * kChunk;
            return chunk > band ? chunk : band;
        }
        return (static_cast<uint64_t>(n) + back) * kChunk;
    }
    // Doubles BlurRagged needs for lines of at most maxN samples.
    uint64_t RaggedDoubles(uint32_t maxN) const { return (static_cast<uint64_t>(maxN) + back) * kChunk; }
    // True when the blur leaves lines as they are.
    bool Identity() const { return n == 0 || (kd->direct && kd->sigma < 0.1); }
};

inline LaneBlur MakeLaneBlur(const CQNF_ImageFX::STRUCT_Blur_VectorData& kd, uint32_t n, FrontCache* cache)
{
    LaneBlur lb{&kd, MakeRecursive(kd), n, 0, 0, cache};
    const uint32_t ext = RecursiveExtension(kd.sigma);
    lb.pad = ext / 2;
    lb.back = ext - lb.pad;
    return lb;
}


// Blurs `lanes` lines of lb.n samples, read at in[j * inJ + k * inK] and
// written at out[j * outJ + k * outK] (in and out may be the same memory).
// buf holds lb.BufferDoubles() doubles. Built for several instruction sets;
// the widest the processor has is taken, and every one gives the same bytes,
// as no operation is fused or reordered.
// The recursive filter (byte-valued replicate rule, lb.cache set) over up to
// kChunk lines of different lengths n[k] >= 1, staged at [j * kChunk + k] in
// `in` (samples beyond a line's end are overwritten) and written likewise to
// `out`. buf holds lb.RaggedDoubles(max n) doubles.
void BlurRagged(const LaneBlur& lb, const uint32_t* n, int lanes, uint8_t* in, uint8_t* out, double* buf);

// The recovery of transparent samples (Blur_ZeroAlphaRecoveryData) over
// samples `step` bytes apart.
void RecoverStrided(uint8_t* v, const uint8_t* alpha, uint32_t count, size_t step);

// The direct kernel (kd.direct) under the constant rule along one line of n
// floats, in[j * inStep] to out[j * outStep] (the same memory allowed): the
// values BlurLanes gives, with each run of samples whose taps all read one
// value summed once. line holds n + 2 (kd.halfWidth - 1) doubles. False,
// touching nothing, for a kernel it does not cover.
bool BlurLineRuns(const CQNF_ImageFX::STRUCT_Blur_VectorData& kd, const float* in, ptrdiff_t inStep, float* out,
                  ptrdiff_t outStep, int64_t n, double* line);

// The bevel's light on one row of slopes.
struct BevelLight {
    float lx, ly, lz;   // the light, unit length, x mirrored
    float flat;         // the light a flat area receives (at least 0.000001)
    bool noHighlight;   // the light stands straight above
    float hiScale;      // highlight opacity / (1 - flat)
    float depth;        // slope factor in percent
    float shadow;       // shadow opacity
};

// Highlight hr and shadow sr of one row of w pixels from two rows of the
// bevel's height map (up: the row above the pixels, mid: their own; w + 1
// values each). Built per instruction set like the blur lanes; every copy
// gives the same bytes.
void LightRow(const float* up, const float* mid, int32_t w, const BevelLight& lp, uint8_t* hr, uint8_t* sr);

// dst[c * dstStride + r] = src[r * srcStride + c] for a rows x cols block.
void TransposeBytes(const uint8_t* src, size_t srcStride, uint8_t* dst, size_t dstStride, int rows, int cols);

void BlurLanes(const LaneBlur& lb, const uint8_t* in, ptrdiff_t inJ, ptrdiff_t inK, uint8_t* out, ptrdiff_t outJ,
               ptrdiff_t outK, int lanes, double* buf);
// The direct kernel (lb.kd->direct) over `lanes` <= kBandLanes byte lines
// lying side by side: lane k of sample j at in[j * inJ + k], written at
// out[j * outJ + k] (in and out may be the same memory). The same bytes as
// BlurLanes with (inJ, 1); faster where lines are far apart. buf holds
// lb.BufferDoubles() doubles.
void BlurBand(const LaneBlur& lb, const uint8_t* in, ptrdiff_t inJ, uint8_t* out, ptrdiff_t outJ, int lanes,
              double* buf);
void BlurLanes(const LaneBlur& lb, const float* in, ptrdiff_t inJ, ptrdiff_t inK, float* out, ptrdiff_t outJ,
               ptrdiff_t outK, int lanes, double* buf);

// The direct kernel (both blurs direct, bytes) along the rows of a plane and
// then down its columns, for output rows [y0, y1) of a plane rowLb.n wide
// and colLb.n high, without staging the row pass in the picture. With
// alpha, each row's transparent pixels are recovered first. src may be dst
// only when one call covers all rows. floats holds FusedFloats(width,
// halfWidth) floats, bytes width + kChunk bytes.
inline constexpr uint64_t kCacheFloats = 16;  // floats in a cache line
// The zeros on either side of a row staged in floats: the reach, a chunk
// and a register past it, in whole cache lines.
inline uint64_t RowMargin(uint64_t reach) { return (reach + kChunk + 2 * kCacheFloats - 1) / kCacheFloats * kCacheFloats; }
inline uint64_t FusedFloats(uint64_t width, int halfWidth)
{
    const uint64_t reach = halfWidth > 0 ? static_cast<uint64_t>(halfWidth) - 1 : 0;
    const uint64_t span = (width + kChunk - 1) / kChunk * kChunk;
    // The row and the band, each moved up to a whole cache line.
    return width + 2 * RowMargin(reach) + 2 * kCacheFloats + (kFuseRows + 2 * reach) * span;
}
void BlurPlaneDirect(const LaneBlur& rowLb, const LaneBlur& colLb, const uint8_t* src, ptrdiff_t srcStride,
                     uint8_t* dst, ptrdiff_t dstStride, const uint8_t* alpha, ptrdiff_t alphaStride, int64_t y0,
                     int64_t y1, float* floats, uint8_t* bytes);

}  // namespace qnfx
