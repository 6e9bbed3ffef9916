// Splitting an image into pieces, the pieces' side: the fill-line rules that
// turn spans of the test raster into piece coverage, and the piece table.
// The split itself, stage by stage, is in SplitCells.cpp.
#include "engine/CompositeRow.h"
#include "engine/SplitCentres.h"
#include "engine/SplitRaster.h"
#include "engine/Tessolo.h"
#include "imaging/ImageFX_Kernels.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <vector>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

using namespace tessolo_split;

namespace {

void Widen(CTessolo::FILLCONTEXT& c, int32_t l, int32_t t, int32_t r, int32_t b)
{
    c.left = std::min(c.left, l);
    c.top = std::min(c.top, t);
    c.right = std::max(c.right, r);
    c.bottom = std::max(c.bottom, b);
}

// The span [x, x + length) of row y cut to the raster; false when nothing
// of it is left.
bool ClipSpan(const CTessolo::FILLCONTEXT& c, int64_t x, int32_t y, uint32_t length, int32_t& xl, int32_t& xr)
{
    xl = int32_t(std::max<int64_t>(x, 0));
    xr = int32_t(std::min<int64_t>(x + length, c.width));
    return y >= 0 && y < c.height && xl < xr;
}

// Nibble of output pixel ox inside a bit-raster row: the four sub-pixels
// 4 ox .. 4 ox + 3, most significant first.
inline unsigned Nibble(const uint8_t* row, int32_t ox)
{
    const uint8_t b = row[ox >> 1];
    return (ox & 1) ? (b & 0x0Fu) : (b >> 4);
}

// Bits of the nibble of output pixel ox that lie inside [lo, hi): the
// sub-pixels from a on and those before b, without a branch.
inline unsigned NibbleRange(int32_t ox, int32_t lo, int32_t hi)
{
    const int32_t a = std::clamp(lo - 4 * ox, 0, 4);
    const int32_t b = std::clamp(hi - 4 * ox, 0, 4);
    return (0xFu >> a) & ~(0xFu >> b) & 0xFu;
}

// Output pixel ox of a row beside a span: still 0 and with a knife
// sub-pixel among `range` of its nibble in the neighbouring bit row, it gets
// 16.
inline void TouchBlocked(uint8_t* o, const uint8_t* row, int32_t ox, unsigned range)
{
    if (o[ox] == 0 && (Nibble(row, ox) & range))
        o[ox] = 16;
}

// For each byte of a bit-raster row, two bytes of 0xFF or 0: whether the
// high nibble (the even pixel, first in memory) and the low nibble hold a
// set bit.
constexpr std::array<uint16_t, 256> kNibbleFlags = [] {
    std::array<uint16_t, 256> t{};
    for (unsigned b = 0; b < 256; ++b)
        t[b] = uint16_t(((b >> 4) ? 0x00FFu : 0u) | ((b & 0xFu) ? 0xFF00u : 0u));
    return t;
}();

// TouchBlocked with the whole nibble for every pixel of [from, to), sixteen
// pixels a vector or eight a word at a time where the byte order allows: the words whose
// pixels are all covered already (most of them) change nothing.
inline void TouchBlockedRun(uint8_t* o, const uint8_t* row, int32_t from, int32_t to)
{
    int32_t ox = from;
    if constexpr (std::endian::native == std::endian::little) {
        if ((ox & 1) && ox < to)
            TouchBlocked(o, row, ox++, 0xFu);
#if defined(__SSE2__)
        // Sixteen pixels a vector: the nibbles of eight raster bytes spread
        // to one byte each, the even pixel's (the high nibble) first.
        const __m128i none = _mm_setzero_si128();
        const __m128i lowNibbles = _mm_set1_epi8(0x0F);
        const __m128i sixteen = _mm_set1_epi8(16);
        for (; ox + 16 <= to; ox += 16) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(o + ox));
            const __m128i zero = _mm_cmpeq_epi8(v, none);
            if (_mm_movemask_epi8(zero) == 0)
                continue;
            const __m128i b = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(row + (ox >> 1)));
            if (_mm_movemask_epi8(_mm_cmpeq_epi8(b, none)) == 0xFFFF)
                continue;
            const __m128i high = _mm_and_si128(_mm_srli_epi16(b, 4), lowNibbles);
            const __m128i low = _mm_and_si128(b, lowNibbles);
            const __m128i free = _mm_cmpeq_epi8(_mm_unpacklo_epi8(high, low), none);
            const __m128i add = _mm_andnot_si128(free, _mm_and_si128(zero, sixteen));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(o + ox), _mm_or_si128(v, add));
        }
#endif
        constexpr uint64_t kLow7 = 0x7F7F7F7F7F7F7F7Full;
        // High bit of each byte of v that is 0, spread to the whole byte.
        auto zeroBytes = [](uint64_t v) { return ((~(((v & kLow7) + kLow7) | v | kLow7)) >> 7) * 0xFFu; };
        for (; ox + 8 <= to; ox += 8) {
            uint64_t v;
            std::memcpy(&v, o + ox, 8);
            const uint64_t zero = zeroBytes(v);
            if (!zero)
                continue;
            const uint8_t* b = row + (ox >> 1);
            // A free stretch of the neighbouring row (the row not yet filled,
            // the common case) blocks nothing.
            uint32_t bits;
            std::memcpy(&bits, b, 4);
            if (!bits)
                continue;
            const uint64_t blocked = uint64_t(kNibbleFlags[b[0]]) | uint64_t(kNibbleFlags[b[1]]) << 16 |
                                     uint64_t(kNibbleFlags[b[2]]) << 32 | uint64_t(kNibbleFlags[b[3]]) << 48;
            v |= zero & blocked & 0x1010101010101010ull;
            std::memcpy(o + ox, &v, 8);
        }
    }
    for (; ox < to; ++ox)
        TouchBlocked(o, row, ox, 0xFu);
}

// A whole pixel inside the widened span gains four sub-pixels: 64 reaches
// 240 from 176 on.
inline uint8_t Gain4(uint8_t v) { return v >= 176 ? uint8_t(255) : uint8_t(v + 64); }

// On one output row, for every pixel of [from, to): TouchBlocked with the
// whole nibble from the bit row a, then from b (either may be null), then
// Gain4. One pass over the output instead of three; the steps of each pixel
// keep their order, and pixels do not depend on one another.
inline void TouchGainRun(uint8_t* o, const uint8_t* a, const uint8_t* b, int32_t from, int32_t to)
{
    int32_t ox = from;
    auto one = [&](int32_t p) {
        if (a)
            TouchBlocked(o, a, p, 0xFu);
        if (b)
            TouchBlocked(o, b, p, 0xFu);
        o[p] = Gain4(o[p]);
    };
#if defined(__SSE2__)
    if ((ox & 1) && ox < to)
        one(ox++);
    // One row alone is read twice: the or of a row with itself is the row.
    const uint8_t* a2 = a ? a : b;
    const uint8_t* b2 = b ? b : a;
    const __m128i none = _mm_setzero_si128();
    const __m128i lowNibbles = _mm_set1_epi8(0x0F);
    const __m128i sixteen = _mm_set1_epi8(16);
    const __m128i plus = _mm_set1_epi8(64);
    const __m128i full = _mm_set1_epi8(char(176));
    for (; ox + 16 <= to; ox += 16) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(o + ox));
        const __m128i zero = _mm_cmpeq_epi8(v, none);
        if (a2 && _mm_movemask_epi8(zero) != 0) {
            const __m128i bits =
                _mm_or_si128(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(a2 + (ox >> 1))),
                             _mm_loadl_epi64(reinterpret_cast<const __m128i*>(b2 + (ox >> 1))));
            const __m128i high = _mm_and_si128(_mm_srli_epi16(bits, 4), lowNibbles);
            const __m128i low = _mm_and_si128(bits, lowNibbles);
            const __m128i free = _mm_cmpeq_epi8(_mm_unpacklo_epi8(high, low), none);
            v = _mm_or_si128(v, _mm_andnot_si128(free, _mm_and_si128(zero, sixteen)));
        }
        const __m128i sat = _mm_cmpeq_epi8(_mm_max_epu8(v, full), v);
        v = _mm_or_si128(_mm_adds_epu8(v, plus), sat);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(o + ox), v);
    }
#endif
    for (; ox < to; ++ox)
        one(ox);
}

#if defined(__x86_64__) || defined(__i386__)
// The same two runs in 256-bit lanes, 32 pixels a vector; the rest of a run
// goes to the 128-bit forms. The sixteen raster bytes of 32 pixels widen to
// 16-bit lanes whose low byte holds the high nibble (the even pixel).
[[gnu::target("avx2")]] inline __m256i NibblesAvx2(const uint8_t* bits)
{
    const __m256i w = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(bits)));
    return _mm256_or_si256(_mm256_srli_epi16(w, 4), _mm256_slli_epi16(_mm256_and_si256(w, _mm256_set1_epi16(15)), 8));
}

[[gnu::target("avx2")]] void TouchBlockedRunAvx2(uint8_t* o, const uint8_t* row, int32_t ox, int32_t to)
{
    if ((ox & 1) && ox < to)
        TouchBlocked(o, row, ox++, 0xFu);
    const __m256i none = _mm256_setzero_si256();
    const __m256i sixteen = _mm256_set1_epi8(16);
    for (; ox + 32 <= to; ox += 32) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(o + ox));
        const __m256i zero = _mm256_cmpeq_epi8(v, none);
        if (_mm256_testz_si256(zero, zero))
            continue;
        const __m256i free = _mm256_cmpeq_epi8(NibblesAvx2(row + (ox >> 1)), none);
        const __m256i add = _mm256_andnot_si256(free, _mm256_and_si256(zero, sixteen));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(o + ox), _mm256_or_si256(v, add));
    }
    TouchBlockedRun(o, row, ox, to);
}

[[gnu::target("avx2")]] void TouchGainRunAvx2(uint8_t* o, const uint8_t* a, const uint8_t* b, int32_t ox, int32_t to)
{
    if ((ox & 1) && ox < to) {
        TouchGainRun(o, a, b, ox, ox + 1);
        ++ox;
    }
    const uint8_t* a2 = a ? a : b;
    const uint8_t* b2 = b ? b : a;
    const __m256i none = _mm256_setzero_si256();
    const __m256i sixteen = _mm256_set1_epi8(16);
    const __m256i plus = _mm256_set1_epi8(64);
    const __m256i full = _mm256_set1_epi8(char(176));
    for (; ox + 32 <= to; ox += 32) {
        __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(o + ox));
        const __m256i zero = _mm256_cmpeq_epi8(v, none);
        if (a2 && !_mm256_testz_si256(zero, zero)) {
            const __m256i nib = _mm256_or_si256(NibblesAvx2(a2 + (ox >> 1)), NibblesAvx2(b2 + (ox >> 1)));
            const __m256i free = _mm256_cmpeq_epi8(nib, none);
            v = _mm256_or_si256(v, _mm256_andnot_si256(free, _mm256_and_si256(zero, sixteen)));
        }
        const __m256i sat = _mm256_cmpeq_epi8(_mm256_max_epu8(v, full), v);
        v = _mm256_or_si256(_mm256_adds_epu8(v, plus), sat);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(o + ox), v);
    }
    TouchGainRun(o, a, b, ox, to);
}

// 512-bit byte lanes and byte masks on 256-bit vectors too (see
// QNFX_TARGET_AVX512BW).
#if defined(__clang__)
#define TESSOLO_TARGET_AVX512BWVL gnu::target("avx512f,avx512bw,avx512vl"), clang::min_vector_width(512)
#else
#define TESSOLO_TARGET_AVX512BWVL gnu::target("avx512f,avx512bw,avx512vl,prefer-vector-width=512")
#endif

// And in 512-bit lanes, 64 pixels a vector, with byte masks: a run starts
// on the even pixel at or before `from`, and its first and last vectors
// leave alone the lanes outside it (masked loads do not fault).
[[TESSOLO_TARGET_AVX512BWVL]] inline __mmask64 BlockedAvx512(const uint8_t* bits, __mmask64 lanes)
{
    const __m512i w = _mm512_cvtepu8_epi16(_mm256_maskz_loadu_epi8(__mmask32(lanes), bits));
    const __m512i nib =
        _mm512_or_si512(_mm512_srli_epi16(w, 4), _mm512_slli_epi16(_mm512_and_si512(w, _mm512_set1_epi16(15)), 8));
    return _mm512_test_epi8_mask(nib, nib);
}

// Lanes [from - base, to - base) of the 64 from base.
[[TESSOLO_TARGET_AVX512BWVL]] inline __mmask64 LanesAvx512(int32_t base, int32_t from, int32_t to)
{
    const int32_t lo = std::max(from - base, 0), hi = std::min(to - base, 64);
    const uint64_t upto = hi >= 64 ? ~uint64_t(0) : (uint64_t(1) << hi) - 1;
    return __mmask64(upto & (~uint64_t(0) << lo));
}

// The raster bytes of the pixels of lanes: a byte for each pair.
[[TESSOLO_TARGET_AVX512BWVL]] inline __mmask64 ByteLanesAvx512(int32_t base, int32_t to)
{
    const int32_t bytes = std::min((to - base + 1) >> 1, 32);
    return __mmask64((uint64_t(1) << bytes) - 1);
}

[[TESSOLO_TARGET_AVX512BWVL]] void TouchBlockedRunAvx512(uint8_t* o, const uint8_t* row, int32_t from, int32_t to)
{
    const __m512i sixteen = _mm512_set1_epi8(16);
    for (int32_t base = from & ~1; base < to; base += 64) {
        const __mmask64 lanes = LanesAvx512(base, from, to);
        const __m512i v = _mm512_maskz_loadu_epi8(lanes, o + base);
        const __mmask64 zero = _mm512_testn_epi8_mask(v, v) & lanes;
        if (!zero)
            continue;
        const __mmask64 touch = zero & BlockedAvx512(row + (base >> 1), ByteLanesAvx512(base, to));
        if (touch)
            _mm512_mask_storeu_epi8(o + base, touch, sixteen);
    }
}

[[TESSOLO_TARGET_AVX512BWVL]] void TouchGainRunAvx512(uint8_t* o, const uint8_t* a, const uint8_t* b, int32_t from,
                                                 int32_t to)
{
    if (!a)
        a = b;
    if (!b)
        b = a;
    const __m512i sixteen = _mm512_set1_epi8(16);
    const __m512i plus = _mm512_set1_epi8(64);
    const __m512i full = _mm512_set1_epi8(char(176));
    const __m512i all = _mm512_set1_epi8(char(255));
    for (int32_t base = from & ~1; base < to; base += 64) {
        const __mmask64 lanes = LanesAvx512(base, from, to);
        __m512i v = _mm512_maskz_loadu_epi8(lanes, o + base);
        const __mmask64 zero = _mm512_testn_epi8_mask(v, v) & lanes;
        if (a && zero) {
            const __mmask64 bytes = ByteLanesAvx512(base, to);
            const __mmask64 blocked = BlockedAvx512(a + (base >> 1), bytes) | BlockedAvx512(b + (base >> 1), bytes);
            v = _mm512_mask_mov_epi8(v, zero & blocked, sixteen);
        }
        const __mmask64 sat = _mm512_cmpge_epu8_mask(v, full);
        v = _mm512_mask_mov_epi8(_mm512_adds_epu8(v, plus), sat, all);
        _mm512_mask_storeu_epi8(o + base, lanes, v);
    }
}
#endif

// The run forms of one instruction set.
struct RunForms {
    void (*touch)(uint8_t* o, const uint8_t* row, int32_t from, int32_t to);
    void (*touchGain)(uint8_t* o, const uint8_t* a, const uint8_t* b, int32_t from, int32_t to);
};

RunForms ChosenRunForms()
{
#if defined(__x86_64__) || defined(__i386__)
    static const bool byteLanes512 = __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vl");
    const qnfx::LaneIsa isa = qnfx::CurrentLaneIsa();
    if (isa == qnfx::LaneIsa::Avx512 && byteLanes512)
        return {TouchBlockedRunAvx512, TouchGainRunAvx512};
    if (isa != qnfx::LaneIsa::Base)
        return {TouchBlockedRunAvx2, TouchGainRunAvx2};
#endif
    return {TouchBlockedRun, TouchGainRun};
}

// Set bits of a nibble (a table: without a popcount instruction in the
// baseline the builtin is a library call).
constexpr std::array<uint8_t, 16> kNibbleCount = {0, 1, 1, 2, 1, 2, 2, 3, 1, 2, 2, 3, 2, 3, 3, 4};

// Sets (or clears) the bits [lo, hi) of a bit-raster row: a mask for each
// end byte (bit by bit, each bit would wait on the store of the one before)
// and the whole bytes between a few words, stored here rather than by a
// library call.
template <bool set>
inline void ChangeBits(uint8_t* row, int32_t lo, int32_t hi)
{
    if (lo >= hi)
        return;
    auto apply = [row](int32_t i, unsigned mask) {
        row[i] = set ? uint8_t(row[i] | mask) : uint8_t(row[i] & ~mask);
    };
    const int32_t b0 = lo >> 3, b1 = (hi - 1) >> 3;
    const unsigned head = 0xFFu >> (lo & 7);
    const unsigned tail = (0xFF00u >> (((hi - 1) & 7) + 1)) & 0xFFu;
    if (b0 == b1) {
        apply(b0, head & tail);
        return;
    }
    apply(b0, head);
    apply(b1, tail);
    uint8_t* p = row + b0 + 1;
    const int32_t whole = b1 - b0 - 1;
    constexpr uint64_t fill = set ? ~uint64_t(0) : 0;
    if (whole >= 8) {
        // Word stores, the last one ending at the last byte.
        for (int32_t i = 0; i + 8 < whole; i += 8)
            std::memcpy(p + i, &fill, 8);
        std::memcpy(p + whole - 8, &fill, 8);
    } else {
        for (int32_t i = 0; i < whole; ++i)
            p[i] = uint8_t(fill);
    }
}

void SetBits(uint8_t* row, int32_t lo, int32_t hi) { ChangeBits<true>(row, lo, hi); }

}  // namespace

namespace tessolo_split {

// Smooth cut on the 4 x 4 bit raster: each output pixel sums 16 for every
// sub-pixel of the region and for the knife sub-pixels just left and right
// of each span, so piece edges are soft and neighbouring pieces share the
// knife; a pixel reaches 255 from 15 counts on. A pixel that only touches
// the region from the row above or below gets 16 at least.
void FillLineBit(CTessolo::FILLCONTEXT& c, int64_t x, int32_t y, uint32_t length)
{
    const int32_t W = c.width;
    const int32_t H = c.height;
    int32_t xl = 0, xr = 0;
    if (!ClipSpan(c, x, y, length, xl, xr))
        return;
    const RunForms forms = ChosenRunForms();
    uint8_t* const out = c.output;
    const size_t ostride = c.outputStride;
    const int32_t oy = y >> 2;
    auto inBand = [&c](int32_t row) { return row >= c.bandTop && row < c.bandBottom; };
    // The fill mostly goes on downwards: the raster row after next and the
    // next output row are fetched while this span is worked, rather than
    // waited for when the fill gets there.
    auto prefetch = [](const uint8_t* from, const uint8_t* to) {
        for (const uint8_t* p = from; p <= to; p += 64)
            __builtin_prefetch(p, 1, 3);
        __builtin_prefetch(to, 1, 3);
    };
    if (y + 2 < H) {
        const uint8_t* ahead = c.test + size_t(y + 2) * c.rowBytes;
        prefetch(ahead + (xl >> 3), ahead + ((xr - 1) >> 3));
    }
    if ((y & 3) == 1 && y + 3 < H) {
        const uint8_t* ahead = out + size_t(oy + 1) * ostride;
        prefetch(ahead + (xl >> 2), ahead + ((xr - 1) >> 2));
    }

    const int32_t spanFirst = xl >> 2;
    const int32_t spanLast = (xr - 1) >> 2;
    // The neighbour rows: one on another output row is touched on a pass of
    // its own; one on the span's output row in the span's pass below.
    const uint8_t* same[2] = {nullptr, nullptr};
    for (int32_t yy : {y - 1, y + 1}) {
        if (yy < 0 || yy >= H)
            continue;
        const uint8_t* row = c.test + size_t(yy) * c.rowBytes;
        if ((yy >> 2) == oy) {
            same[yy > y] = row;
            continue;
        }
        if (!inBand(yy >> 2))
            continue;
        uint8_t* o = out + size_t(yy >> 2) * ostride;
        // The end pixels see only the sub-pixels above or below the span.
        TouchBlocked(o, row, spanFirst, NibbleRange(spanFirst, xl, xr));
        if (spanLast > spanFirst) {
            forms.touch(o, row, spanFirst + 1, spanLast);
            TouchBlocked(o, row, spanLast, NibbleRange(spanLast, xl, xr));
        }
    }

    const int32_t wl = std::max(xl - 1, 0);
    const int32_t wr = std::min(xr + 1, W);
    const int32_t first = wl >> 2;
    const int32_t last = (wr - 1) >> 2;
    Widen(c, first, std::max(y - 1, 0) >> 2, last + 1, (std::min(y + 1, H - 1) >> 2) + 1);
    // Another band's raster row is another thread's.
    if (!inBand(oy))
        return;
    SetBits(c.test + size_t(y) * c.rowBytes, wl, wr);
    uint8_t* o = out + size_t(oy) * ostride;
    // A pixel of the span's output row: touched from the row above, then
    // from the row below, then gains 16 for each of its sub-pixels in
    // [wl, wr). The widened span holds the span, so [first, last] holds
    // [spanFirst, spanLast], and the pixels strictly between the span's end
    // pixels take whole nibbles and whole gains.
    auto endPixel = [&](int32_t ox) {
        const unsigned range = NibbleRange(ox, xl, xr);
        for (const uint8_t* row : same)
            if (row)
                TouchBlocked(o, row, ox, range);
        const int t = o[ox] + 16 * kNibbleCount[NibbleRange(ox, wl, wr)];
        o[ox] = uint8_t(t >= 240 ? 255 : t);
    };
    for (int32_t ox = first; ox <= spanFirst; ++ox)
        endPixel(ox);
    if (spanLast > spanFirst + 1)
        forms.touchGain(o, same[0], same[1], spanFirst + 1, spanLast);
    for (int32_t ox = std::max(spanLast, spanFirst + 1); ox <= last; ++ox)
        endPixel(ox);
}

void ClearBits(uint8_t* row, int32_t lo, int32_t hi) { ChangeBits<false>(row, lo, hi); }

// The byte-raster cases: the plain cut (a knife pixel joins the first region
// that reaches it), the smooth lines mode (a partly covered knife pixel gives
// each region beside it its complement) and the plain lines mode.
void FillLineByte(CTessolo::FILLCONTEXT& c, int64_t x, int32_t y, uint32_t length)
{
    const int32_t W = c.width;
    const int32_t H = c.height;
    int32_t xl = 0, xr = 0;
    if (!ClipSpan(c, x, y, length, xl, xr))
        return;
    uint8_t* test = c.test + size_t(y) * c.width;
    uint8_t* out = c.output + size_t(y) * c.outputStride;
    const uint8_t mark = (c.smooth && c.linesMode) ? 255 : 1;
    std::memset(test + xl, mark, size_t(xr - xl));
    std::memset(out + xl, 255, size_t(xr - xl));
    Widen(c, xl, y, xr, y + 1);
    if (!c.smooth && c.linesMode)
        return;

    // A neighbour position: its test value decides whether this region takes it.
    auto neighbour = [&](int32_t px, int32_t py) {
        uint8_t& t = c.test[size_t(py) * c.width + px];
        uint8_t& o = c.output[size_t(py) * c.outputStride + px];
        if (c.smooth) {
            if (t == 0 || t == 255)
                return;
            o = uint8_t(255 - t);
        } else {
            if (t != 255)
                return;
            t = 254;
            o = 255;
        }
        Widen(c, px, py, px + 1, py + 1);
    };
    const int32_t nl = xl > 0 ? xl - 1 : xl;
    const int32_t nr = std::min(xr + 1, W);
    for (int32_t yy : {y - 1, y + 1})
        if (yy >= 0 && yy < H)
            for (int32_t px = nl; px < nr; ++px)
                neighbour(px, yy);
    if (xl > 0)
        neighbour(xl - 1, y);
    if (xr < W)
        neighbour(xr, y);
}

}  // namespace tessolo_split

unsigned char CTessolo::fTestBounds(qntPOS pos, void* context)
{
    const FILLCONTEXT& c = *static_cast<const FILLCONTEXT*>(context);
    if (pos.x < 0 || pos.y < 0 || pos.x >= c.width || pos.y >= c.height)
        return 1;
    return c.test[size_t(pos.y) * c.width + pos.x] != 0;
}

unsigned char CTessolo::fTestBoundsBit(qntPOS pos, void* context)
{
    const FILLCONTEXT& c = *static_cast<const FILLCONTEXT*>(context);
    if (pos.x < 0 || pos.y < 0 || pos.x >= c.width || pos.y >= c.height)
        return 1;
    return BitRaster::Get(c.test + size_t(pos.y) * c.rowBytes, pos.x) ? 1 : 0;
}

void CTessolo::fFillLine(qntPOS pos, uint32_t length, void* context)
{
    FILLCONTEXT& c = *static_cast<FILLCONTEXT*>(context);
    if (c.smooth && !c.linesMode)
        FillLineBit(c, pos.x, pos.y, length);
    else
        FillLineByte(c, pos.x, pos.y, length);
}

// ---- Pieces ----------------------------------------------------------------

bool CTessolo::i_AddRectToSplitedCellsStorage(uint8_t* mask, long maskStride, long height, qntRECT_s box,
                                              uint8_t clear, uint8_t** channels, uint32_t channelStride,
                                              uint8_t channelCount, uint8_t* selection, uint32_t selectionStride,
                                              const qntFPOS* centres, const qntPOS* cells, uint32_t centreCount)
{
    CentreIndex index;
    index.Build(centres, cells, centres && cells ? centreCount : 0);
    return i_AddPiece(mask, maskStride, height, box, clear, channels, channelStride, channelCount, selection,
                      selectionStride, &index);
}

bool CTessolo::i_AddPiece(uint8_t* mask, long maskStride, long height, qntRECT_s box, uint8_t clear,
                          uint8_t** channels, uint32_t channelStride, uint8_t channelCount, uint8_t* selection,
                          uint32_t selectionStride, const CentreIndex* centres, qntPOS origin, bool copyMask)
{
    box.left = std::max<int32_t>(box.left, 0);
    box.top = std::max<int32_t>(box.top, 0);
    box.right = int32_t(std::min<long>(box.right, maskStride));
    box.bottom = int32_t(std::min<long>(box.bottom, height));
    if (box.left >= box.right || box.top >= box.bottom)
        return true;
    const uint32_t bw = uint32_t(box.right - box.left);
    const uint32_t bh = uint32_t(box.bottom - box.top);

    int32_t column = 1, row = 1;
    if (centres)
        centres->Nearest((box.left + origin.x + box.right + origin.x) / 2.0,
                         (box.top + origin.y + box.bottom + origin.y) / 2.0, column, row);

    if (m_nPieces * sizeof(SPLITEDCELL) >= m_memPieces.GetSize()) {
        if (!m_memPieces.Resize((uint64_t(m_nPieces) + kPieceTableStep) * sizeof(SPLITEDCELL))) {
            i_SplitFailed(SplitFailure::NoMemory);
            return false;
        }
        m_pPieces = reinterpret_cast<SPLITEDCELL*>(m_memPieces.GetPtr());
    }

    // Every block of the piece exists before it is counted, so that no piece
    // of the table ever lacks its mask or planes.
    const uint64_t area = uint64_t(bw) * bh;
    // The mask, then its rows' spans on a 4-byte boundary.
    const uint64_t spansAt = (area + 3) & ~uint64_t(3);
    CQNF_Mem* maskMem = i_TakeBlock(spansAt + uint64_t(bh) * 2 * sizeof(int32_t), false, m_MaskArena);
    bool planesZero = false;
    CQNF_Mem* planes = i_TakeBlock(qnMulSize({area, channelCount}), !m_bPlanesRendered, m_PlaneArena, &planesZero);
    // The alpha plane reads 0 until an effect writes it: most renders take
    // the mask for alpha and never touch it, so its pages never come in.
    CQNF_Mem* alpha = i_TakeBlock(area, true, m_AlphaArena);
    if (!maskMem || !planes || !alpha || (m_bPlanesRendered && !planesZero && !i_NoteDirtyPlanes())) {
        delete maskMem;
        delete planes;
        delete alpha;
        i_SplitFailed(SplitFailure::NoMemory);
        return false;
    }

    SPLITEDCELL& p = m_pPieces[m_nPieces];
    std::memset(&p, 0, sizeof p);
    p.mask = maskMem;
    p.planes = planes;
    p.left = box.left + origin.x;
    p.top = box.top + origin.y;
    p.right = box.right + origin.x;
    p.bottom = box.bottom + origin.y;
    for (uint8_t k = 0; k < channelCount; ++k) {
        p.sources[k] = channels[k] + size_t(box.top) * channelStride + box.left;
        p.sourceStrides[k] = channelStride;
    }
    p.sources[channelCount] = maskMem->GetPtr();
    p.sourceStrides[channelCount] = bw;
    p.rowSpans = reinterpret_cast<int32_t*>(maskMem->GetPtr() + spansAt);
    if (selection) {
        p.selection = selection + size_t(box.top) * selectionStride + box.left;
        p.selectionStride = selectionStride;
    }
    p.alpha = alpha;
    for (uint8_t k = 0; k <= channelCount; ++k) {
        p.planePtrs[k] = k < channelCount ? planes->GetPtr() + size_t(k) * area : alpha->GetPtr();
        p.planeStrides[k] = bw;
    }

    if (copyMask)
        i_CopyPieceMask(p, mask, maskStride, origin, clear != 0);
    p.column = column;
    p.row = row;
    p.selected = 0;
    p.shown = 1;
    m_nLargestWidth = std::max<int32_t>(m_nLargestWidth, int32_t(bw));
    m_nLargestHeight = std::max<int32_t>(m_nLargestHeight, int32_t(bh));
    for (int copy : {FX_APPLIED, FX_REQUESTED}) {
        p.colorOverlay[copy] = m_DefColorOverlay;
        p.imageOverlay[copy] = m_DefImageOverlay;
        p.stroke[copy] = m_DefStroke;
        p.hsl[copy] = m_DefHSL;
        p.opacity[copy] = m_DefOpacity;
        p.gaussianBlur[copy] = m_DefGaussianBlur;
        p.motionBlur[copy] = m_DefMotionBlur;
        p.brightnessContrast[copy] = m_DefBrightnessContrast;
        p.bevel[copy] = m_DefBevel;
        p.invert[copy] = m_DefInvert;
    }
    ++m_nPieces;
    return true;
}

void CTessolo::i_CopyPieceMask(SPLITEDCELL& p, uint8_t* mask, long maskStride, qntPOS origin, bool clear)
{
    p.pixels = i_CopyPieceMaskRows(p, mask, maskStride, origin, clear, 0, uint32_t(p.bottom - p.top));
}

uint32_t CTessolo::i_CopyPieceMaskRows(const SPLITEDCELL& p, uint8_t* mask, long maskStride, qntPOS origin,
                                       bool clear, uint32_t y0, uint32_t y1)
{
    const uint32_t bw = uint32_t(p.right - p.left);
    uint32_t pixels = 0;
    for (uint32_t y = y0; y < y1; ++y) {
        uint8_t* dst = p.mask->GetPtr() + size_t(y) * bw;
        uint8_t* src = mask + size_t(p.top - origin.y + int32_t(y)) * size_t(maskStride) + size_t(p.left - origin.x);
        std::memcpy(dst, src, bw);
        for (uint32_t x = 0; x < bw; ++x)
            pixels += dst[x] != 0;
        tessolo_composite::CoveredSpan(dst, int32_t(bw), p.rowSpans[2 * y], p.rowSpans[2 * y + 1]);
        if (clear)
            std::memset(src, 0, bw);
    }
    return pixels;
}

bool CTessolo::i_NoteDirtyPlanes()
{
    try {
        m_PlanesToClear.push_back(m_nPieces);
    } catch (...) {
        return false;
    }
    return true;
}

CQNF_Mem* CTessolo::i_TakeBlock(uint64_t bytes, bool zero, PieceArena& arena, bool* readsZero)
{
    if (readsZero)
        *readsZero = zero;
    size_t best = m_PiecePool.size();
    for (size_t i = 0; i < m_PiecePool.size(); ++i) {
        const uint64_t size = m_PiecePool[i]->GetSize();
        if (size >= bytes && size <= 2 * bytes && (best == m_PiecePool.size() || size < m_PiecePool[best]->GetSize()))
            best = i;
    }
    if (best < m_PiecePool.size()) {
        CQNF_Mem* block = m_PiecePool[best];
        m_PiecePool[best] = m_PiecePool.back();
        m_PiecePool.pop_back();
        if (zero)
            std::memset(block->GetPtr(), 0, size_t(bytes));
        return block;
    }
    CQNF_Mem* block = new (std::nothrow) CQNF_Mem();
    if (!block)
        return nullptr;
    bool zeroed = false;
    if (bytes <= UINT32_MAX) {
        if (uint8_t* p = arena.Take(bytes, zeroed)) {
            if (zero && !zeroed)
                std::memset(p, 0, size_t(bytes));
            if (readsZero)
                *readsZero = zero || zeroed;
            block->Borrow(p, uint32_t(bytes));
            return block;
        }
    }
    if (!(zero ? block->Zalloc(bytes) : block->alloc(bytes))) {
        delete block;
        return nullptr;
    }
    return block;
}
