// PackBits, the run-length code of PSD channel rows (as published for TIFF).
#include "imaging/PSDCodec.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <string>
#include <type_traits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// Rows are scanned eight bytes at a time where the machine is little-endian
// (the first byte of a word is its lowest); elsewhere, and for the last
// bytes of a row, one at a time. The packed bytes are the same either way.
constexpr bool kWordScan = std::endian::native == std::endian::little;
constexpr uint64_t kOnes = 0x0101010101010101ull;
constexpr uint64_t kHighs = 0x8080808080808080ull;

uint64_t Load64(const unsigned char* p)
{
    uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// The first j in [from, end) with in[j] != v, else end.
long RunEnd(const unsigned char* in, long from, long end, unsigned char v)
{
    long j = from;
    if constexpr (kWordScan) {
        const uint64_t pattern = kOnes * v;
        for (; j + 8 <= end; j += 8)
            if (const uint64_t x = Load64(in + j) ^ pattern)
                return j + (__builtin_ctzll(x) >> 3);
    }
    while (j < end && in[j] == v)
        ++j;
    return j;
}

// The first k in [from, end) where two equal bytes in[k], in[k + 1] start
// (k + 1 < length), else end.
long LiteralEnd(const unsigned char* in, long from, long end, long length)
{
    long k = from;
    if constexpr (kWordScan) {
        for (; k + 8 <= end && k + 9 <= length; k += 8) {
            // A zero byte in x marks a pair; the lowest flagged byte is
            // always a true zero (a borrow only flags bytes above one).
            const uint64_t x = Load64(in + k) ^ Load64(in + k + 1);
            if (const uint64_t zero = (x - kOnes) & ~x & kHighs)
                return k + (__builtin_ctzll(zero) >> 3);
        }
    }
    while (k < end && !(k + 1 < length && in[k] == in[k + 1]))
        ++k;
    return k;
}

// Bit b set where p[b] == p[b + 1], for b from 0 to 15 (p[0..16] are read).
#if defined(__SSE2__)
constexpr bool HasPairs16 = true;
uint32_t Pairs16(const unsigned char* p)
{
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 1));
    return static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(a, b)));
}
// The same for b from 0 to 63 (p[0..64] are read).
uint64_t Pairs64(const unsigned char* p)
{
    uint64_t m = 0;
    for (int k = 0; k < 4; ++k)
        m |= uint64_t{Pairs16(p + 16 * k)} << (16 * k);
    return m;
}
#else
constexpr bool HasPairs16 = false;
uint32_t Pairs16(const unsigned char*) { return 0; }
uint64_t Pairs64(const unsigned char*) { return 0; }
#endif

// Packs a row. With Bytes, out receives the packed row; without, its plan:
// the packets' headers alone, the bytes they take from the row left in it.
// put: the bytes put in out. Returns the length of the packed row.
template <bool Bytes>
long PackRow(const unsigned char* in, long length, unsigned char* out, long& put)
{
    long i = 0;
    long o = 0;
    long left = 0;
    // The pairs among the 64 bytes from base, while the row has them: made
    // again once i is more than 47 into them.
    bool windowed = false;
    long base = 0;
    uint64_t window = 0;
    while (i < length) {
        // A photograph's packets are short: where 17 bytes are left, the
        // pairs among the next 16 find most packets' ends at once.
        long j = 0;
        uint32_t pairs = 0;
        const bool near = HasPairs16 && i + 17 <= length;
        if (near) {
            if (!windowed || i - base > 47) {
                windowed = i + 65 <= length;
                base = i;
                if (windowed)
                    window = Pairs64(in + i);
            }
            pairs = windowed ? static_cast<uint32_t>(window >> (i - base)) & 0xFFFFu : Pairs16(in + i);
            // A run goes on while each byte equals the next: it ends after
            // the first byte that does not (or is looked for further).
            const int same = std::countr_one(pairs);
            j = same == 0 ? i + 1 : same < 16 ? i + same + 1 : RunEnd(in, i + 17, std::min(length, i + 128), in[i]);
        } else {
            j = RunEnd(in, i + 1, std::min(length, i + 128), in[i]);
        }
        // A run of two or more equal bytes, at most 128.
        if (j - i >= 2) {
            out[o++] = static_cast<unsigned char>(static_cast<signed char>(1 - (j - i)));
            if constexpr (Bytes)
                out[o++] = in[i];
            else
                ++left;
            i = j;
            continue;
        }
        // A literal: it ends where two equal bytes follow each other, which
        // then start a run, or at 128 bytes.
        const long start = i;
        if (near && (pairs & 0xFFFEu))
            i += std::countr_zero(pairs & 0xFFFEu);
        else
            i = LiteralEnd(in, near ? i + 16 : i + 1, std::min(length, start + 128), length);
        out[o++] = static_cast<unsigned char>(i - start - 1);
        if constexpr (Bytes) {
            std::memcpy(out + o, in + start, static_cast<size_t>(i - start));
            o += i - start;
        } else {
            left += i - start;
        }
    }
    put = o;
    return o + left;
}

}  // namespace

void CQNF_ImagePSD::PackBits(const unsigned char* in, long length, unsigned char* out, long* outLength)
{
    PackRow<true>(in, length, out, *outLength);
}

long CQNF_ImagePSD::PackBitsPlan(const unsigned char* in, long length, unsigned char* plan, long* planLength)
{
    return PackRow<false>(in, length, plan, *planLength);
}

size_t CQNF_ImagePSD::PackBitsByPlan(const unsigned char* in, long length, const unsigned char* plan,
                                     unsigned char* out, long* outLength)
{
    long i = 0;
    long o = 0;
    size_t p = 0;
    // A run puts out the row's next byte and takes 257 - h bytes; a literal
    // puts out and takes h + 1. Most packets put out 32 bytes or fewer:
    // while the row has 32 more, one copy of 32 reaches past the packet
    // into out's room (out holds three times the row, and no packet puts
    // out more than twice what it takes), overwritten by what follows.
    // Copies: 0 none (only the length), 1 exact, 2 of 32 bytes.
    const auto packet = [&](auto copies) {
        constexpr int kCopies = decltype(copies)::value;
        const long h = plan[p++];
        const bool run = h & 0x80;
        const long take = run ? 257 - h : h + 1;
        const long put = run ? 1 : take;
        if constexpr (kCopies > 0)
            out[o] = static_cast<unsigned char>(h);
        ++o;
        if constexpr (kCopies == 2) {
            std::memcpy(out + o, in + i, 32);
            if (put > 32)
                std::memcpy(out + o + 32, in + i + 32, static_cast<size_t>(put - 32));
        } else if constexpr (kCopies == 1) {
            std::memcpy(out + o, in + i, static_cast<size_t>(put));
        }
        o += put;
        i += take;
    };
    if (!out) {
        while (i < length)
            packet(std::integral_constant<int, 0>{});
    } else {
        while (i + 32 <= length)
            packet(std::integral_constant<int, 2>{});
        while (i < length)
            packet(std::integral_constant<int, 1>{});
    }
    *outLength = o;
    return p;
}

namespace {

enum class RowFit { Fits, Short, Past };

// Unpacks packets from in until outLength bytes are out (out null: only
// walked). Short when the input runs out first, Past when a packet reaches
// beyond the row: a run or a literal never spans two rows, so a packet that
// would is damage, not a row to cut. used: the input bytes taken.
RowFit UnpackRow(const unsigned char* in, size_t inLength, unsigned char* out, size_t outLength, size_t& used)
{
    size_t i = 0;
    size_t o = 0;
    while (o < outLength) {
        if (i >= inLength)
            return RowFit::Short;
        const int h = static_cast<signed char>(in[i++]);
        if (h == -128)
            continue;  // no operation in the published code
        const size_t n = h < 0 ? static_cast<size_t>(1 - h) : static_cast<size_t>(h) + 1;
        if (n > outLength - o)
            return RowFit::Past;
        if (h < 0) {
            if (i >= inLength)
                return RowFit::Short;
            if (out)
                std::memset(out + o, in[i], n);
            ++i;
        } else {
            if (n > inLength - i)
                return RowFit::Short;
            if (out)
                std::memcpy(out + o, in + i, n);
            i += n;
        }
        o += n;
    }
    used = i;
    return RowFit::Fits;
}

}  // namespace

bool CQNF_ImagePSD::UnpackMacPack(const unsigned char* in, size_t inLength, unsigned char* out, size_t outLength,
                                  size_t* used)
{
    size_t n = 0;
    if (UnpackRow(in, inLength, out, outLength, n) != RowFit::Fits)
        return false;
    if (used)
        *used = n;
    return true;
}

bool CQNF_ImagePSD::ExpandChanelPixels(unsigned char compression, const unsigned char* in, size_t inLength,
                                       unsigned char* out, uint32_t width, uint32_t height, size_t* used,
                                       const unsigned char* rowTable)
{
    if (compression > 1) {
        SetError(qncodec::ErrUnsupported);
        return false;
    }
    const uint64_t total = uint64_t{width} * height;
    if (compression == 0) {
        if (used ? inLength < total : inLength != total) {
            SetError(qncodec::ErrCorrupt);
            return false;
        }
        if (total && out)
            std::memcpy(out, in, static_cast<size_t>(total));
        if (used)
            *used = static_cast<size_t>(total);
        return true;
    }
    size_t pos = 0;
    if (!rowTable) {
        const uint64_t table = uint64_t{height} * 2;
        if (table > inLength)
            return i_Truncated("it ends inside a table of row lengths");
        rowTable = in;
        pos = static_cast<size_t>(table);
    }
    // The table says where each row lies: its lengths take up the data
    // exactly (or, with used, lie within them), and each row's bytes unpack
    // to exactly its width, but for no-op bytes some writers end a row with.
    uint64_t sum = 0;
    for (uint32_t y = 0; y < height; ++y)
        sum += uint64_t{rowTable[2 * size_t{y}]} << 8 | rowTable[2 * size_t{y} + 1];
    const uint64_t data = inLength - pos;
    if (used ? sum > data : sum != data)
        return i_Damaged("its table of row lengths gives its rows " + std::to_string(sum) + " bytes where " +
                         (used ? "only " : "") + std::to_string(data) + " follow");
    for (uint32_t y = 0; y < height; ++y) {
        const size_t length = size_t{rowTable[2 * size_t{y}]} << 8 | rowTable[2 * size_t{y} + 1];
        size_t n = 0;
        const RowFit fit = UnpackRow(in + pos, length, out ? out + static_cast<size_t>(uint64_t{y} * width) : nullptr,
                                     width, n);
        bool more = fit == RowFit::Past;
        for (size_t i = n; fit == RowFit::Fits && i < length && !more; ++i)
            more = in[pos + i] != 0x80;
        if (fit == RowFit::Short)
            return i_Damaged("its row " + std::to_string(y + 1) + " holds fewer than its " + std::to_string(width) +
                             " pixels in the " + std::to_string(length) + " bytes its table of row lengths gives it");
        if (more)
            return i_Damaged("its row " + std::to_string(y + 1) + " holds more than its " + std::to_string(width) +
                             " pixels in the " + std::to_string(length) + " bytes its table of row lengths gives it");
        pos += length;
    }
    if (used)
        *used = pos;
    return true;
}
