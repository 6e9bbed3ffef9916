// The image data of a fast PNG (PNGWRITE_PARAMS::Speed::Fast) compressed in
// bands of rows on every core. Private to imaging/PNG*.cpp.
//
// Every row is filtered by Sub and the rows are cut into bands of about
// kBandBytes; each band is deflated on its own (zlib level 1, matching runs
// only where rows compress poorly: PNGBands.cpp has the figures), as raw
// deflate data ending on a byte boundary (a sync flush; the last band
// finishes the stream), so the bands' data joined in order are one valid
// zlib stream: the two header bytes go before the first band, the Adler-32
// of all rows, combined from the bands' own, after the last. This is how a
// parallel gzip joins its blocks. Each band starts without the previous
// band's history, which costs a few bytes per band, nothing measurable.
//
// The bands follow from the picture's size alone, so the file's bytes are
// the same whatever the number of threads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

namespace qnpng {

// A picture as planes, one per channel (1 to 4), each row `stride` bytes
// apart.
struct BandSource {
    uint32_t width = 0;
    uint32_t height = 0;
    int channels = 0;
    const unsigned char* const* planes = nullptr;
    uint32_t stride = 0;
};

// About this many filtered bytes make a band.
constexpr size_t kBandBytes = size_t{2} << 20;

// Rows per band for rows of rowBytes filtered bytes (filter byte included).
uint32_t BandRows(size_t rowBytes);

// Hands the zlib stream of the picture's filtered rows to put(), in order, a
// band at a time (the first with the stream's header in front, the last
// with its Adler-32 behind). After each band handed on, rowsDone(rows
// handed on so far) may stop the job by returning false. False when memory
// runs out or put() or rowsDone() said stop.
bool DeflateBands(const BandSource& source, const std::function<bool(const unsigned char*, size_t)>& put,
                  const std::function<bool(uint32_t)>& rowsDone);

}  // namespace qnpng
