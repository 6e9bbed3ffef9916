// Bands of Sub-filtered rows deflated side by side into one zlib stream
// (PNGBands.h).
#include "imaging/PNGBands.h"

#include "core/Mem.h"
#include "imaging/Parallel.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

namespace qnpng {

namespace {

// The Sub filter's type byte in front of a row.
constexpr unsigned char kFilterSub = 1;
// The zlib header: deflate with a 32 KB window (0x78), the fastest level, no
// preset dictionary; 0x7801 is a multiple of 31, as the header's check wants.
constexpr unsigned char kZlibHeader[2] = {0x78, 0x01};
constexpr int kLevel = 1;
constexpr int kRawWindowBits = -15;  // negative: raw deflate, no header or trailer of zlib's own
constexpr int kMemLevel = 8;         // zlib's default; 9 measured no faster
// Run-length matching only (distance 1) where the rows compress poorly, as
// a photo's: it has few longer matches worth the search. Measured on one
// core, 6000x4000 RGB, filter and deflate of all rows:
//   noisy photo   level 1 default 1.64 s, 54.7 MB; level 1 RLE 0.63 s, 51.8 MB
//   smooth drawing               0.19 s,  6.5 MB;              0.19 s,  8.2 MB
//   flat graphic                 0.10 s,  0.51 MB;             0.11 s,  0.25 MB
//   the graphic cut in pieces  (whole road) 1.95 s, 2.1 MB;    2.01 s, 5.7 MB
// Where the rows compress well, matching at any distance finds the
// repeats (a bevel's edge row after row) at the same speed, so a stretch of
// rows that came to less than kMatchBelowPercent of its size is followed by
// ordinary level 1 matching, and back when it does not: the photo, the
// drawing and the cut graphic then come to 51.8, 6.7 and 2.4 MB, each as
// fast as the faster way alone.
// Huffman alone is as fast on the photo but 2-40 times bigger on the
// others; Up and Paeth filters gave the same sizes within 1 % (Paeth costs
// 0.35 s more to filter), no filter 15 % more on the photo and 10-40 times
// more on the drawings.
constexpr int kRunsStrategy = Z_RLE;
constexpr int kMatchStrategy = Z_DEFAULT_STRATEGY;
constexpr uLong kMatchBelowPercent = 40;
// A stretch: at least this many bytes of rows, ended by a block boundary.
// Its choice follows from the band's own rows alone, so the bytes stay the
// same whatever the thread count.
constexpr uLong kStretchBytes = 256 * 1024;
constexpr size_t kAdlerBytes = 4;

// One row, Sub-filtered: the planes interleaved into `packed` first, then
// each byte less the byte one pixel to the left. Two passes that the
// compiler turns into vector code beat one that writes every C-th byte:
// measured two to six times faster for three and four channels.
template <int C>
void FilterRowT(const BandSource& s, uint32_t y, unsigned char* packed, unsigned char* out)
{
    const unsigned char* src[C];
    for (int c = 0; c < C; ++c)
        src[c] = s.planes[c] + size_t{y} * s.stride;
    for (uint32_t x = 0; x < s.width; ++x)
        for (int c = 0; c < C; ++c)
            packed[size_t{x} * C + c] = src[c][x];
    out[0] = kFilterSub;
    unsigned char* o = out + 1;
    for (int c = 0; c < C; ++c)
        o[c] = packed[c];
    const size_t n = size_t{s.width} * C;
    for (size_t i = C; i < n; ++i)
        o[i] = static_cast<unsigned char>(packed[i] - packed[i - C]);
}

void FilterRow(const BandSource& s, uint32_t y, unsigned char* packed, unsigned char* out)
{
    switch (s.channels) {
    case 1: FilterRowT<1>(s, y, packed, out); break;
    case 2: FilterRowT<2>(s, y, packed, out); break;
    case 3: FilterRowT<3>(s, y, packed, out); break;
    default: FilterRowT<4>(s, y, packed, out); break;
    }
}

// Row y filtered when it is one colour (every plane's row a single value,
// as in the empty rows around a piece placed on its canvas): the first
// pixel, then zeros. False, with nothing written, for any other row. The
// Adler-32 of the zeros follows from their count alone, so such a row costs
// a comparison and a fill instead of packing, filtering and summing.
bool FilterFlatRow(const BandSource& s, uint32_t y, unsigned char* out, uLong& adler)
{
    const size_t C = size_t(s.channels);
    for (size_t c = 0; c < C; ++c) {
        const unsigned char* src = s.planes[c] + size_t{y} * s.stride;
        if (s.width > 1 && std::memcmp(src, src + 1, s.width - 1) != 0)
            return false;
    }
    out[0] = kFilterSub;
    for (size_t c = 0; c < C; ++c)
        out[1 + c] = s.planes[c][size_t{y} * s.stride];
    const size_t zeros = (size_t{s.width} - 1) * C;
    std::memset(out + 1 + C, 0, zeros);
    adler = adler32(adler, out, static_cast<uInt>(1 + C));
    // n zero bytes: the sum stays 1, the sum of sums is n.
    const uLong zeroAdler = (static_cast<uLong>(zeros % 65521) << 16) | 1;
    adler = adler32_combine(adler, zeroAdler, static_cast<z_off_t>(zeros));
    return true;
}

// A thread's deflater and row, kept from band to band.
struct Worker {
    z_stream z{};
    bool ready = false;
    CQNF_Mem row;     // the filtered row, its filter byte first
    CQNF_Mem packed;  // the row's pixels interleaved, before filtering
    int strategy = kRunsStrategy;
    Worker() = default;
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;
    ~Worker()
    {
        if (ready)
            deflateEnd(&z);
    }
};

// One band's compressed bytes and the Adler-32 of its filtered rows.
struct Band {
    CQNF_Mem out;
    size_t used = 0;
    uLong adler = 0;
    bool ok = false;
};

// Makes room for at least `more` further bytes after `used`, keeping them.
bool Grow(CQNF_Mem& m, size_t used, size_t more)
{
    if (m.GetSize() - used >= more)
        return true;
    CQNF_Mem bigger;
    if (!bigger.alloc(std::max<uint64_t>(uint64_t{used} + more, qnMulSize({2, used}))))
        return false;
    if (used)
        std::memcpy(bigger.GetPtr(), m.GetPtr(), used);
    m = std::move(bigger);
    return true;
}

// Deflates rows [y0, y1) into b: the zlib header first when first, the
// stream finished when last (with room left for the Adler-32), else ended on
// a byte boundary by a sync flush.
bool CompressBand(const BandSource& s, Worker& w, uint32_t y0, uint32_t y1, bool first, bool last, Band& b)
{
    const size_t rowBytes = size_t{s.width} * size_t(s.channels) + 1;
    if (!w.ready) {
        if (!w.row.alloc(rowBytes) || !w.packed.alloc(rowBytes) ||
            deflateInit2(&w.z, kLevel, Z_DEFLATED, kRawWindowBits, kMemLevel, kRunsStrategy) != Z_OK)
            return false;
        w.ready = true;
        w.strategy = kRunsStrategy;
    } else if (deflateReset(&w.z) != Z_OK) {
        return false;
    }
    // Every band starts with runs, whatever the worker's last band ended
    // with (nothing is compressed yet, so this flushes nothing).
    if (w.strategy != kRunsStrategy) {
        if (deflateParams(&w.z, kLevel, kRunsStrategy) != Z_OK)
            return false;
        w.strategy = kRunsStrategy;
    }
    uLong stretchIn = 0, stretchOut = 0;
    // Deflate's own bound for the band, and a little for the flush mark,
    // the header and the Adler-32; a band that still needs more grows.
    const uLong raw = static_cast<uLong>(rowBytes * (y1 - y0));
    if (!Grow(b.out, 0, deflateBound(&w.z, raw) + 32))
        return false;
    b.used = 0;
    if (first) {
        std::memcpy(b.out.GetPtr(), kZlibHeader, sizeof kZlibHeader);
        b.used = sizeof kZlibHeader;
    }
    unsigned char* row = w.row.GetPtr();
    b.adler = adler32(0, nullptr, 0);
    for (uint32_t y = y0; y < y1; ++y) {
        if (!FilterFlatRow(s, y, row, b.adler)) {
            FilterRow(s, y, w.packed.GetPtr(), row);
            b.adler = adler32(b.adler, row, static_cast<uInt>(rowBytes));
        }
        w.z.next_in = row;
        w.z.avail_in = static_cast<uInt>(rowBytes);
        const bool stretchEnds = w.z.total_in + rowBytes - stretchIn >= kStretchBytes;
        const int flush = y + 1 < y1 ? (stretchEnds ? Z_BLOCK : Z_NO_FLUSH) : last ? Z_FINISH : Z_SYNC_FLUSH;
        for (;;) {
            if (!Grow(b.out, b.used, 1))
                return false;
            w.z.next_out = b.out.GetPtr() + b.used;
            w.z.avail_out = static_cast<uInt>(b.out.GetSize() - b.used);
            const int r = deflate(&w.z, flush);
            b.used = b.out.GetSize() - w.z.avail_out;
            if (r == Z_STREAM_ERROR)
                return false;
            if (flush == Z_FINISH ? r == Z_STREAM_END : w.z.avail_in == 0 && w.z.avail_out != 0)
                break;
        }
        if (flush == Z_BLOCK) {
            // The stretch's bytes are out (but for a few bits): choose the
            // next stretch's way by how far this one shrank.
            const uLong in = w.z.total_in - stretchIn, out = w.z.total_out - stretchOut;
            const int next = out * 100 < in * kMatchBelowPercent ? kMatchStrategy : kRunsStrategy;
            if (next != w.strategy) {
                if (!Grow(b.out, b.used, 64))
                    return false;
                w.z.next_out = b.out.GetPtr() + b.used;
                w.z.avail_out = static_cast<uInt>(b.out.GetSize() - b.used);
                const int r = deflateParams(&w.z, kLevel, next);
                b.used = b.out.GetSize() - w.z.avail_out;
                if (r != Z_OK)
                    return false;
                w.strategy = next;
            }
            stretchIn = w.z.total_in;
            stretchOut = w.z.total_out;
        }
    }
    return !last || Grow(b.out, b.used, kAdlerBytes);
}

}  // namespace

uint32_t BandRows(size_t rowBytes)
{
    return static_cast<uint32_t>(std::max<size_t>(1, kBandBytes / std::max<size_t>(1, rowBytes)));
}

bool DeflateBands(const BandSource& s, const std::function<bool(const unsigned char*, size_t)>& put,
                  const std::function<bool(uint32_t)>& rowsDone)
{
    if (s.width == 0 || s.height == 0 || s.channels < 1 || s.channels > 4 || !s.planes)
        return false;
    const size_t rowBytes = size_t{s.width} * size_t(s.channels) + 1;
    const uint32_t per = BandRows(rowBytes);
    const uint32_t bands = (s.height - 1) / per + 1;
    const unsigned threads = std::max(1u, std::min<unsigned>(qnpar::ThreadCount(), bands));
    // Two bands per thread at a time: a thread that finishes early takes
    // another, and no more compressed bytes wait in memory than that.
    const uint32_t group = std::min<uint32_t>(bands, threads * 2);
    std::unique_ptr<Worker[]> workers(new Worker[threads]);
    std::vector<Band> slots(group);
    uLong adler = adler32(0, nullptr, 0);
    for (uint32_t b0 = 0; b0 < bands; b0 += group) {
        const uint32_t n = std::min(group, bands - b0);
        qnpar::For(n, threads, [&](uint32_t i, unsigned worker) {
            const uint32_t b = b0 + i;
            const uint32_t y0 = b * per;
            const uint32_t y1 = std::min(s.height, y0 + per);
            slots[i].ok = CompressBand(s, workers[worker], y0, y1, b == 0, b + 1 == bands, slots[i]);
        });
        for (uint32_t i = 0; i < n; ++i) {
            Band& band = slots[i];
            if (!band.ok)
                return false;
            const uint32_t y0 = (b0 + i) * per;
            const uint32_t rows = std::min(s.height, y0 + per) - y0;
            adler = adler32_combine(adler, band.adler, static_cast<z_off_t>(rowBytes * rows));
            if (b0 + i + 1 == bands) {
                unsigned char* end = band.out.GetPtr() + band.used;
                end[0] = static_cast<unsigned char>(adler >> 24);
                end[1] = static_cast<unsigned char>(adler >> 16);
                end[2] = static_cast<unsigned char>(adler >> 8);
                end[3] = static_cast<unsigned char>(adler);
                band.used += kAdlerBytes;
            }
            if (!put(band.out.GetPtr(), band.used) || !rowsDone(y0 + rows))
                return false;
        }
    }
    return true;
}

}  // namespace qnpng
