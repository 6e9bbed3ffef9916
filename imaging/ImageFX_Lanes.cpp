// The lane kernels of the blurs for the base instruction set, and the choice
// among the copies built for wider sets (ImageFX_LanesAvx2.cpp,
// ImageFX_LanesAvx512.cpp).
#include "imaging/ImageFX_Kernels.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#define QNFX_ISA base
#define QNFX_VEC 2
#include "imaging/ImageFX_LaneKernels.inc"
#undef QNFX_ISA
#undef QNFX_VEC

namespace qnfx {

#if defined(__x86_64__) || defined(__i386__)
namespace avx2 {
void BlurRaggedU8(const LaneBlur&, const uint32_t*, int, uint8_t*, uint8_t*, double*);
void BlurLanesU8(const LaneBlur&, const uint8_t*, ptrdiff_t, ptrdiff_t, uint8_t*, ptrdiff_t, ptrdiff_t, int, double*);
void BlurLanesF32(const LaneBlur&, const float*, ptrdiff_t, ptrdiff_t, float*, ptrdiff_t, ptrdiff_t, int, double*);
void BlurBandU8(const LaneBlur&, const uint8_t*, ptrdiff_t, uint8_t*, ptrdiff_t, int, double*);
void BlurPlaneDirectU8(const LaneBlur&, const LaneBlur&, const uint8_t*, ptrdiff_t, uint8_t*, ptrdiff_t,
                       const uint8_t*, ptrdiff_t, int64_t, int64_t, int64_t, float*, uint8_t*);
void LightRowK(const float*, const float*, int32_t, const BevelLight&, uint8_t*, uint8_t*);
}  // namespace avx2
namespace avx512 {
void BlurRaggedU8(const LaneBlur&, const uint32_t*, int, uint8_t*, uint8_t*, double*);
void BlurLanesU8(const LaneBlur&, const uint8_t*, ptrdiff_t, ptrdiff_t, uint8_t*, ptrdiff_t, ptrdiff_t, int, double*);
void BlurLanesF32(const LaneBlur&, const float*, ptrdiff_t, ptrdiff_t, float*, ptrdiff_t, ptrdiff_t, int, double*);
void BlurBandU8(const LaneBlur&, const uint8_t*, ptrdiff_t, uint8_t*, ptrdiff_t, int, double*);
void BlurPlaneDirectU8(const LaneBlur&, const LaneBlur&, const uint8_t*, ptrdiff_t, uint8_t*, ptrdiff_t,
                       const uint8_t*, ptrdiff_t, int64_t, int64_t, int64_t, float*, uint8_t*);
void LightRowK(const float*, const float*, int32_t, const BevelLight&, uint8_t*, uint8_t*);
}  // namespace avx512
#endif

namespace {

bool Supported(LaneIsa isa)
{
#if defined(__x86_64__) || defined(__i386__)
    switch (isa) {
    case LaneIsa::Base:
        return true;
    case LaneIsa::Avx2:
        return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    case LaneIsa::Avx512:
        return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl") &&
               __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512dq");
    }
    return false;
#else
    return isa == LaneIsa::Base;
#endif
}

LaneIsa Widest()
{
    if (Supported(LaneIsa::Avx512))
        return LaneIsa::Avx512;
    if (Supported(LaneIsa::Avx2))
        return LaneIsa::Avx2;
    return LaneIsa::Base;
}

LaneIsa& Chosen()
{
    static LaneIsa isa = Widest();
    return isa;
}

}  // namespace

LaneIsa CurrentLaneIsa() { return Chosen(); }

namespace {
SettleFrom g_settleFrom = SettleFrom::Plain;
}  // namespace

SettleFrom CurrentSettleFrom() { return g_settleFrom; }
void ForceSettleFrom(SettleFrom from) { g_settleFrom = from; }

namespace {

#if defined(__SSE2__)
// A 16 x 16 tile in four rounds of interleaving: bytes, then pairs, quads
// and eights.
void Transpose16(const uint8_t* src, size_t ss, uint8_t* dst, size_t ds)
{
    __m128i a[16], b[16];
    for (int i = 0; i < 16; ++i)
        a[i] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i * ss));
    for (int k = 0; k < 8; ++k) {
        b[2 * k] = _mm_unpacklo_epi8(a[2 * k], a[2 * k + 1]);
        b[2 * k + 1] = _mm_unpackhi_epi8(a[2 * k], a[2 * k + 1]);
    }
    for (int g = 0; g < 4; ++g) {  // rows 4g .. 4g + 3
        const __m128i* p = b + 4 * g;
        a[4 * g + 0] = _mm_unpacklo_epi16(p[0], p[2]);
        a[4 * g + 1] = _mm_unpackhi_epi16(p[0], p[2]);
        a[4 * g + 2] = _mm_unpacklo_epi16(p[1], p[3]);
        a[4 * g + 3] = _mm_unpackhi_epi16(p[1], p[3]);
    }
    for (int h = 0; h < 2; ++h) {  // rows 8h .. 8h + 7
        const __m128i* lo = a + 8 * h;
        const __m128i* hi = a + 8 * h + 4;
        for (int m = 0; m < 4; ++m) {
            b[8 * h + 2 * m] = _mm_unpacklo_epi32(lo[m], hi[m]);
            b[8 * h + 2 * m + 1] = _mm_unpackhi_epi32(lo[m], hi[m]);
        }
    }
    for (int m = 0; m < 8; ++m) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + (2 * m) * ds), _mm_unpacklo_epi64(b[m], b[8 + m]));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + (2 * m + 1) * ds), _mm_unpackhi_epi64(b[m], b[8 + m]));
    }
}
#endif

}  // namespace

void TransposeBytes(const uint8_t* src, size_t srcStride, uint8_t* dst, size_t dstStride, int rows, int cols)
{
    int r0 = 0;
#if defined(__SSE2__)
    for (; r0 + 16 <= rows; r0 += 16) {
        int c0 = 0;
        for (; c0 + 16 <= cols; c0 += 16)
            Transpose16(src + r0 * srcStride + c0, srcStride, dst + c0 * dstStride + r0, dstStride);
        for (int c = c0; c < cols; ++c)
            for (int r = r0; r < r0 + 16; ++r)
                dst[c * dstStride + r] = src[r * srcStride + c];
    }
#endif
    for (int c = 0; c < cols; ++c)
        for (int r = r0; r < rows; ++r)
            dst[c * dstStride + r] = src[r * srcStride + c];
}

bool ForceLaneIsa(LaneIsa isa)
{
    if (!Supported(isa))
        return false;
    Chosen() = isa;
    return true;
}

// The copy of a kernel for the chosen instruction set.
#if defined(__x86_64__) || defined(__i386__)
#define QNFX_PICK(name) Pick(&base::name, &avx2::name, &avx512::name)
template <class F>
F Pick(F baseCopy, F avx2Copy, F avx512Copy)
{
    switch (Chosen()) {
    case LaneIsa::Avx512:
        return avx512Copy;
    case LaneIsa::Avx2:
        return avx2Copy;
    default:
        return baseCopy;
    }
}
#else
#define QNFX_PICK(name) (&base::name)
#endif

void BlurLanes(const LaneBlur& lb, const uint8_t* in, ptrdiff_t inJ, ptrdiff_t inK, uint8_t* out, ptrdiff_t outJ,
               ptrdiff_t outK, int lanes, double* buf)
{
    QNFX_PICK(BlurLanesU8)(lb, in, inJ, inK, out, outJ, outK, lanes, buf);
}

void BlurBand(const LaneBlur& lb, const uint8_t* in, ptrdiff_t inJ, uint8_t* out, ptrdiff_t outJ, int lanes,
              double* buf)
{
    QNFX_PICK(BlurBandU8)(lb, in, inJ, out, outJ, lanes, buf);
}

void BlurPlaneDirect(const LaneBlur& rowLb, const LaneBlur& colLb, const uint8_t* src, ptrdiff_t srcStride,
                     uint8_t* dst, ptrdiff_t dstStride, const uint8_t* alpha, ptrdiff_t alphaStride, int64_t y0,
                     int64_t y1, float* floats, uint8_t* bytes)
{
    QNFX_PICK(BlurPlaneDirectU8)(rowLb, colLb, src, srcStride, dst, dstStride, alpha, alphaStride, rowLb.n, y0, y1,
                                 floats, bytes);
}

void BlurRagged(const LaneBlur& lb, const uint32_t* n, int lanes, uint8_t* in, uint8_t* out, double* buf)
{
    QNFX_PICK(BlurRaggedU8)(lb, n, lanes, in, out, buf);
}

void BlurLanes(const LaneBlur& lb, const float* in, ptrdiff_t inJ, ptrdiff_t inK, float* out, ptrdiff_t outJ,
               ptrdiff_t outK, int lanes, double* buf)
{
    QNFX_PICK(BlurLanesF32)(lb, in, inJ, inK, out, outJ, outK, lanes, buf);
}

void LightRow(const float* up, const float* mid, int32_t w, const BevelLight& lp, uint8_t* hr, uint8_t* sr)
{
    QNFX_PICK(LightRowK)(up, mid, w, lp, hr, sr);
}

}  // namespace qnfx

namespace qnfx {

namespace {

// The lanes' sums at samples [j0, j1) of a padded line into consecutive
// floats, for T taps a side known when compiling, so that the samples go
// through side by side in vector registers, each still term for term in the
// lanes' order.
template <int T>
void SumStretch(const double* line, const double* w, double wsum, float* out, int64_t j0, int64_t j1)
{
    for (int64_t j = j0; j < j1; ++j) {
        const double* c = line + (T - 1) + j;
        double a = 0.0;
        for (int t = 0; t < T; ++t)
            a = a + w[t] * c[t];
        for (int t = 1; t < T; ++t)
            a = a + w[t] * c[-t];
        out[j] = static_cast<float>(a / wsum);
    }
}

using SumStretchFn = void (*)(const double*, const double*, double, float*, int64_t, int64_t);

SumStretchFn PickSumStretch(int taps)
{
    switch (taps) {
    case 2: return SumStretch<2>;
    case 3: return SumStretch<3>;
    case 4: return SumStretch<4>;
    case 5: return SumStretch<5>;
    case 6: return SumStretch<6>;
    case 7: return SumStretch<7>;
    case 8: return SumStretch<8>;
    default: return nullptr;
    }
}

}  // namespace

bool BlurLineRuns(const CQNF_ImageFX::STRUCT_Blur_VectorData& kd, const float* in, ptrdiff_t inStep, float* out,
                  ptrdiff_t outStep, int64_t n, double* line)
{
    if (!kd.direct || !kd.constantEdge || kd.halfWidth < 1)
        return false;
    const int taps = kd.halfWidth;
    const int64_t reach = taps - 1;
    // The line between `reach` copies of the constant on each side: a tap
    // beyond the line then adds the constant's product as the lanes' edge sum
    // does, and its weight goes into the same sum, so every sample takes the
    // inside form.
    const double edge = kd.constantValue;
    for (int64_t j = 0; j < reach; ++j) {
        line[j] = edge;
        line[reach + n + j] = edge;
    }
    if (inStep == 1)
        for (int64_t j = 0; j < n; ++j)
            line[reach + j] = static_cast<double>(in[j]);
    else
        for (int64_t j = 0; j < n; ++j)
            line[reach + j] = static_cast<double>(in[j * inStep]);
    double wsum = 0.0;
    for (int t = 0; t < taps; ++t)
        wsum += kd.weights[t];
    for (int t = 1; t < taps; ++t)
        wsum += kd.weights[t];
    // The lanes' sum at one sample, term for term in their order.
    auto at = [&](int64_t j) {
        const double* c = line + reach + j;
        double a = 0.0;
        for (int t = 0; t < taps; ++t)
            a = a + kd.weights[t] * c[t];
        for (int t = 1; t < taps; ++t)
            a = a + kd.weights[t] * c[-t];
        return static_cast<float>(a / wsum);
    };
    // Where every tap reads one value (the flat inside and outside of a
    // shape) the sum is the same at each sample: formed once per run. Runs
    // are samples of the same bits, found four at a time.
    const int64_t span = 2 * reach + 1;
    const SumStretchFn stretch = PickSumStretch(taps);
    const int64_t padded = n + 2 * reach;
    auto bits = [&](int64_t j) {
        uint64_t b;
        std::memcpy(&b, line + j, 8);
        return b;
    };
    auto runEnd = [&](int64_t j) {
        const uint64_t v = bits(j);
        int64_t e = j + 1;
        while (e + 4 <= padded && ((bits(e) ^ v) | (bits(e + 1) ^ v) | (bits(e + 2) ^ v) | (bits(e + 3) ^ v)) == 0)
            e += 4;
        while (e < padded && bits(e) == v)
            ++e;
        return e;
    };
    int64_t j = 0;
    while (j < n) {
        // The samples up to the next run of a whole span are summed one by
        // one; that run's samples whose taps lie in it take one sum.
        int64_t s = j, e = j;
        while (s < n) {
            e = runEnd(s);
            if (e - s >= span)
                break;
            s = e;
        }
        const int64_t stop = std::min(s, n);
        if (stretch && outStep == 1) {
            stretch(line, kd.weights, wsum, out, j, stop);
            j = stop;
        }
        for (; j < stop; ++j)
            out[j * outStep] = at(j);
        if (s >= n)
            break;
        const int64_t flatEnd = e - 2 * reach;
        const float value = at(s);
        if (outStep == 1)
            std::fill(out + s, out + flatEnd, value);
        else
            for (int64_t k = s; k < flatEnd; ++k)
                out[k * outStep] = value;
        j = flatEnd;
    }
    return true;
}

}  // namespace qnfx
