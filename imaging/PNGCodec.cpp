#include "imaging/PNGCodec.h"

#include "imaging/PNGBands.h"
#include "imaging/PNGGuard.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

using qnpng::Guard;

namespace {

// Memory reading state: the libpng I/O pointer while decoding.
struct PngMemSource {
    const unsigned char* data;
    size_t size;
    size_t pos;
    bool shortRead;
    // The data ends with the first image data chunk's length and type
    // (the file's headers alone): that chunk's data is not there to check.
    bool headerOnly = false;
};

// libpng's own allocations while decoding: none may exceed the cap. A
// chunk header can claim gigabytes that libpng would allocate before it
// finds the data missing; refused, libpng reports the chunk as too large.
struct PngAllocCap {
    size_t cap;
};

png_voidp PngCappedMalloc(png_structp png, png_alloc_size_t size)
{
    const auto* c = static_cast<const PngAllocCap*>(png_get_mem_ptr(png));
    if (c && size > c->cap)
        return nullptr;
    return std::malloc(size);
}

void PngCappedFree(png_structp, png_voidp p) { std::free(p); }

// Errors end in the guard without printing; warnings are dropped.
void PngSilentError(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void PngSilentWarning(png_structp, png_const_charp) {}

// What libpng said while reading: its error, and its first warning (a bad
// header is warned about field by field before the error that stops it).
struct PngNotes {
    char error[128];
    char warning[128];
};

void CopyNote(char (&to)[128], png_const_charp text)
{
    std::strncpy(to, text ? text : "", sizeof to - 1);
    to[sizeof to - 1] = 0;
}

void PngNoteError(png_structp png, png_const_charp text)
{
    if (auto* notes = static_cast<PngNotes*>(png_get_error_ptr(png)))
        CopyNote(notes->error, text);
    png_longjmp(png, 1);
}

void PngNoteWarning(png_structp png, png_const_charp text)
{
    auto* notes = static_cast<PngNotes*>(png_get_error_ptr(png));
    if (notes && !notes->warning[0])
        CopyNote(notes->warning, text);
}

bool Says(const char* text, const char* words) { return std::strstr(text, words) != nullptr; }

// Deflate expands at most about 1032 to 1: data that claims more pixels
// than its bytes can carry is corrupt, and is refused before the planes for
// it are allocated.
constexpr uint64_t MaxDeflateRatio = 1040;

}  // namespace

// libpng callbacks (called from inside a guard).
extern "C" void QNF_IMAGEFORMAT_PNG_Reader(png_structp png, png_bytep out, png_size_t length)
{
    auto* s = static_cast<PngMemSource*>(png_get_io_ptr(png));
    const size_t left = s->size - s->pos;
    const size_t n = length < left ? length : left;
    std::memcpy(out, s->data + s->pos, n);
    s->pos += n;
    if (n < length) {
        // Stale buffer bytes must never be parsed as the rest of the file.
        s->shortRead = true;
        png_error(png, "truncated PNG data");
    }
    // A chunk's header: the file must hold the data and checksum it
    // announces. libpng would meet the end only when it reads them, and
    // not at all where it fails to allocate room for a text chunk first:
    // it drops such a chunk unread and takes its data for the next chunks.
    if (length == 8 && (png_get_io_state(png) & PNG_IO_CHUNK_HDR) != 0 &&
        !(s->headerOnly && s->pos == s->size && std::memcmp(out + 4, "IDAT", 4) == 0)) {
        const uint32_t claimed = png_get_uint_32(out);
        if (claimed <= PNG_UINT_31_MAX && uint64_t{claimed} + 4 > s->size - s->pos) {
            s->shortRead = true;
            png_error(png, "chunk longer than the data");
        }
    }
}

extern "C" void QNF_IMAGEFORMAT_PNG_Writer_Write(png_structp png, png_bytep data, png_size_t length)
{
    auto* w = static_cast<CQNF_ImageWriter*>(png_get_io_ptr(png));
    if (!w->Write_Buffer(data, length))
        png_error(png, "write failed");
}

extern "C" void QNF_IMAGEFORMAT_PNG_Writer_Flush(png_structp png)
{
    auto* w = static_cast<CQNF_ImageWriter*>(png_get_io_ptr(png));
    if (w->GetFile() && !w->Write_Flush())
        png_error(png, "flush failed");
}

uint32_t CQNF_ImagePNG::PixelsPerMetre(double resolution)
{
    // The divisor is the single-precision 2.54 the format has always been
    // written with (72 ppi gives 2834).
    if (!(resolution == resolution))
        resolution = 72.0;
    const double ppm = 100.0 * resolution / static_cast<double>(2.54f);
    if (!(ppm > 0.0))
        return 0;
    if (ppm >= 2147483647.0)
        return 2147483647u;
    return static_cast<uint32_t>(ppm);
}

// --------------------------------------------------------------------------
// Writing

namespace {

struct PngWriteHandles {
    png_structp png = nullptr;
    png_infop info = nullptr;
    ~PngWriteHandles()
    {
        if (png)
            png_destroy_write_struct(&png, info ? &info : nullptr);
    }
};

}  // namespace

bool CQNF_ImagePNG::WritePNG(const PNGWRITE_PARAMS* params)
{
    ResetError();
    if (!m_file || !params) {
        SetError(qncodec::ErrArgument);
        return false;
    }
    if (!i_CheckThenReport(1))
        return false;
    const PNGWRITE_PARAMS& p = *params;
    int colourType, channels;
    if (p.mode == WriteRGBA) {
        colourType = PNG_COLOR_TYPE_RGB_ALPHA;
        channels = 4;
    } else if (p.mode == WriteGreyAlpha) {
        colourType = PNG_COLOR_TYPE_GRAY_ALPHA;
        channels = 2;
    } else if (p.mode == WriteRGB) {
        colourType = PNG_COLOR_TYPE_RGB;
        channels = 3;
    } else if (p.mode == WriteGrey) {
        colourType = PNG_COLOR_TYPE_GRAY;
        channels = 1;
    } else {
        SetError(qncodec::ErrUnsupported);
        return false;
    }
    bool planesOk = p.width >= 1 && p.height >= 1 && p.stride >= p.width;
    for (int c = 0; c < channels; ++c)
        planesOk = planesOk && p.planes[c];
    if (!planesOk) {
        SetError(qncodec::ErrArgument);
        return false;
    }

    PngWriteHandles h;
    h.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, PngSilentError, PngSilentWarning);
    if (h.png)
        h.info = png_create_info_struct(h.png);
    if (!h.png || !h.info) {
        SetError(qncodec::ErrMemory);
        return false;
    }
    if (!i_CheckThenReport(2))
        return false;
    // A failure inside libpng keeps the file's number when a write failed,
    // else it is libpng's own (17).
    auto failed = [this]() {
        if (!GetError())
            SetError(qncodec::ErrMemory);
        return false;
    };
    png_set_write_fn(h.png, static_cast<CQNF_ImageWriter*>(this), QNF_IMAGEFORMAT_PNG_Writer_Write,
                     QNF_IMAGEFORMAT_PNG_Writer_Flush);

    png_text text[2];
    std::memset(text, 0, sizeof text);
    text[0].compression = PNG_TEXT_COMPRESSION_NONE;
    text[0].key = const_cast<char*>("Generator");
    text[0].text = const_cast<char*>("Quorvin FrameWork");
    text[1].compression = PNG_TEXT_COMPRESSION_NONE;
    text[1].key = const_cast<char*>("Product");
    text[1].text = const_cast<char*>(p.product ? p.product : "");
    const uint32_t ppm = PixelsPerMetre(p.resolution);
    const uint32_t ppmY = p.resolutionY > 0.0 ? PixelsPerMetre(p.resolutionY) : ppm;
    png_structp png = h.png;
    png_infop info = h.info;
    if (!Guard(png, [&] {
            png_set_IHDR(png, info, p.width, p.height, 8, colourType, PNG_INTERLACE_NONE,
                         PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
            png_set_text(png, info, text, 2);
            png_set_pHYs(png, info, ppm, ppmY, PNG_RESOLUTION_METER);
            png_write_info(png, info);
        }))
        return failed();
    if (!i_CheckThenReport(10))
        return false;
    if (p.speed == PNGWRITE_PARAMS::Speed::Fast)
        return i_WriteFastData(png, p, channels) && i_Finish();

    CQNF_Mem row;
    if (!row.alloc(qnMulSize({p.width, static_cast<uint64_t>(channels)}))) {
        SetError(qncodec::ErrMemory);
        return false;
    }
    if (!i_CheckThenReport(12))
        return false;
    unsigned char* r = row.GetPtr();
    for (uint32_t y = 0; y < p.height; ++y) {
        const size_t off = size_t{y} * p.stride;
        for (int c = 0; c < channels; ++c) {
            const unsigned char* src = p.planes[c] + off;
            for (uint32_t x = 0; x < p.width; ++x)
                r[size_t{x} * channels + c] = src[x];
        }
        if (!Guard(png, [&] { png_write_row(png, r); }))
            return failed();
        if (!i_CheckThenReport(static_cast<uint8_t>(12 + 83 * uint64_t{y} / p.height)))
            return false;
    }
    if (!i_CheckThenReport(95))
        return false;
    if (!Guard(png, [&] { png_write_end(png, info); }))
        return failed();
    return i_Finish();
}

bool CQNF_ImagePNG::i_WriteFastData(png_structp png, const PNGWRITE_PARAMS& p, int channels)
{
    // The image data in bands compressed on every core (PNGBands.h), a band
    // to an IDAT chunk, then the end chunk: libpng wrote the header chunks
    // and writes these, but its own compressor is not used.
    auto failed = [this]() {
        if (!GetError())
            SetError(qncodec::ErrMemory);
        return false;
    };
    qnpng::BandSource source;
    source.width = p.width;
    source.height = p.height;
    source.channels = channels;
    source.planes = p.planes;
    source.stride = p.stride;
    bool stopped = false;
    const bool ok = qnpng::DeflateBands(
        source,
        [&](const unsigned char* data, size_t size) {
            return Guard(png, [&] { png_write_chunk(png, reinterpret_cast<png_const_bytep>("IDAT"), data, size); });
        },
        [&](uint32_t rows) {
            stopped = !i_CheckThenReport(static_cast<uint8_t>(12 + 83 * uint64_t{rows} / p.height));
            return !stopped;
        });
    if (stopped)
        return false;
    if (!ok)
        return failed();
    if (!Guard(png, [&] { png_write_chunk(png, reinterpret_cast<png_const_bytep>("IEND"), nullptr, 0); }))
        return failed();
    return true;
}

bool CQNF_ImagePNG::i_Finish()
{
    if (!Write_Flush())
        return false;
    // Past this point the file is complete: a cancellation no longer stops it.
    if (m_progress && !m_progress->IsCanceled())
        m_progress->Progress(98, m_progress->GetUserDataPtr());
    if (m_progress)
        m_progress->Progress(100, m_progress->GetUserDataPtr());
    return true;
}

// --------------------------------------------------------------------------
// Reading

namespace {

struct PngReadHandles {
    png_structp png = nullptr;
    png_infop info = nullptr;
    ~PngReadHandles()
    {
        if (png)
            png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
    }
};

}  // namespace

uint64_t CQNF_ImagePNG::DecodeBytes(uint64_t width, uint64_t height, uint8_t colourType, bool interlaced)
{
    const bool grey = colourType == PNG_COLOR_TYPE_GRAY || colourType == PNG_COLOR_TYPE_GRAY_ALPHA;
    const uint64_t planes = grey ? 2 : 4;
    const uint64_t rowBytes = width * (grey ? 2 : 4);
    return width * height * planes + (interlaced ? height * (rowBytes + sizeof(void*)) : 0);
}

bool CQNF_ImagePNG::i_Failed(const char* error, const char* warning, const unsigned char* data, size_t size)
{
    // libpng's words for what it met, turned into the cause. A header libpng
    // refuses is warned about field by field first; the fields are read
    // back from the header chunk, which comes first in every PNG libpng
    // gets that far with.
    if (Says(error, "Invalid IHDR data") && size >= 29) {
        const uint32_t w = png_get_uint_32(data + 16), h = png_get_uint_32(data + 20);
        const unsigned depth = data[24], type = data[25];
        if (Says(warning, "is zero"))
            return i_Damaged("it describes a picture of " + std::to_string(w) + " x " + std::to_string(h) + " pixels");
        // libpng's own limit lies beyond ours.
        if (Says(warning, "user limit") || Says(warning, "too large"))
            return i_WithinLimits(w, h, 0) && i_Refuse(std::to_string(w) + " x " + std::to_string(h) + " pixels");
        if (Says(warning, "Invalid image"))
            return i_Damaged("it describes a picture of " + std::to_string(w) + " x " + std::to_string(h) +
                             " pixels, more than the format allows");
        if (Says(warning, "bit depth"))
            return i_Refuse("bit depth " + std::to_string(depth) + " with colour type " + std::to_string(type) +
                            " is not read");
        if (Says(warning, "color type"))
            return i_Refuse("colour type " + std::to_string(type) + " is not read");
        if (Says(warning, "interlace method"))
            return i_Refuse("interlace method " + std::to_string(data[28]) + " is not read");
        if (Says(warning, "compression method"))
            return i_Refuse("compression method " + std::to_string(data[26]) + " is not read");
        if (Says(warning, "filter method"))
            return i_Refuse("filter method " + std::to_string(data[27]) + " is not read");
        return i_Damaged("its header chunk does not read");
    }
    if (Says(error, "CRC error")) {
        // "IDAT: CRC error": the chunk's name comes first.
        const char* colon = std::strchr(error, ':');
        const std::string chunk = colon ? std::string(error, size_t(colon - error)) : std::string("a");
        return i_Damaged("the checksum of its " + chunk + " chunk does not match");
    }
    if (Says(error, "Not enough image data"))
        return i_Truncated("its image data ends before the last row");
    if (Says(error, "bad adaptive filter value"))
        return i_Damaged("a row begins with a filter byte PNG does not have");
    // zlib's words for a stream that does not inflate, as libpng passes
    // them on ("IDAT: incorrect header check").
    if (Says(error, "IDAT:") && (Says(error, "check") || Says(error, "invalid") || Says(error, "LZ") ||
                                 Says(error, "too many") || Says(error, "unknown compression")))
        return i_Damaged("its image data does not inflate (" + std::string(error) + ")");
    if (Says(error, "out of range"))
        return i_Damaged("a size or length in it is beyond what PNG allows");
    if (Says(error, "memory") || Says(error, "Memory")) {
        SetError(qncodec::ErrMemory);
        return false;
    }
    return i_Damaged(error[0] ? std::string(error) : std::string("libpng stopped without a reason"));
}

bool CQNF_ImagePNG::GetImageInfoByPtr(const void* data, size_t size) { return i_Decode(data, size, true); }

bool CQNF_ImagePNG::ParseImageByPtr(const void* data, size_t size)
{
    if (i_Decode(data, size, false))
        return true;
    i_FreePlanes();
    return false;
}

bool CQNF_ImagePNG::i_Decode(const void* data, size_t size, bool infoOnly)
{
    i_Begin();
    m_hasAlpha = false;
    const auto* bytes = static_cast<const unsigned char*>(data);
    if (!bytes || size < 4)
        return i_Truncated();
    if (png_sig_cmp(bytes, 0, 4) != 0)
        return i_Damaged("it does not begin with the PNG signature");
    if (!infoOnly && !i_Report(1))
        return false;
    PngReadHandles h;
    // Rows of the widest image and the inflater need far less than 4 MB; a
    // chunk can be no longer than the data.
    PngAllocCap cap{size + (size_t{4} << 20)};
    PngNotes notes{};
    h.png = png_create_read_struct_2(PNG_LIBPNG_VER_STRING, &notes, PngNoteError, PngNoteWarning, &cap,
                                     PngCappedMalloc, PngCappedFree);
    if (h.png)
        h.info = png_create_info_struct(h.png);
    if (!h.png || !h.info) {
        SetError(qncodec::ErrMemory);
        return false;
    }
    png_structp png = h.png;
    png_infop info = h.info;
    PngMemSource src{bytes, size, 0, false, m_headerOnly};
    auto failed = [&]() { return src.shortRead ? i_Truncated() : i_Failed(notes.error, notes.warning, bytes, size); };
    png_set_read_fn(png, &src, QNF_IMAGEFORMAT_PNG_Reader);
    if (!infoOnly && !i_Report(2))
        return false;
    if (!Guard(png, [&] { png_read_info(png, info); }))
        return failed();

    png_uint_32 width = 0, height = 0;
    int bitDepth = 0, colourType = 0, interlace = 0;
    png_get_IHDR(png, info, &width, &height, &bitDepth, &colourType, &interlace, nullptr, nullptr);
    const bool grey = colourType == PNG_COLOR_TYPE_GRAY || colourType == PNG_COLOR_TYPE_GRAY_ALPHA;
    m_hasAlpha = (colourType & PNG_COLOR_MASK_ALPHA) != 0 || png_get_valid(png, info, PNG_INFO_tRNS) != 0;
    const uint64_t bpp = grey ? 2 : 4;
    const uint64_t planes = grey ? 2 : 4;
    const uint64_t pixels = uint64_t{width} * height;
    const uint64_t need = DecodeBytes(width, height, static_cast<uint8_t>(colourType), interlace != PNG_INTERLACE_NONE);
    if (!i_WithinLimits(width, height, 0))
        return false;
    m_width = static_cast<uint16_t>(width);
    m_height = static_cast<uint16_t>(height);
    m_depth = 8;
    m_mode = grey ? qncodec::ModeGrey : qncodec::ModeColour;
    if (infoOnly)
        return true;

    const uint64_t fileRowBytes = (uint64_t{width} * png_get_channels(png, info) * bitDepth + 7) / 8;
    if (fileRowBytes * height > MaxDeflateRatio * size)
        return i_Truncated("the file has " + std::to_string(size) + " bytes, too few to hold the compressed rows of its " +
                           std::to_string(width) + " x " + std::to_string(height) + " picture");
    if (!i_WithinLimits(width, height, need))
        return false;
    if (!i_Report(5))
        return false;

    i_FreePlanes();
    const signed char used[] = {-1, 0, 1, 2};
    for (uint64_t k = 0; k < planes; ++k) {
        CQNF_Mem& m = i_Plane(used[k]);
        if (!m.alloc(pixels)) {
            SetError(qncodec::ErrMemory);
            return false;
        }
    }
    i_Plane(-1).Set(uint8_t{255});
    if (!i_Report(10))
        return false;

    // Everything becomes 8-bit grey, grey+alpha, RGB or RGBA.
    if (colourType == PNG_COLOR_TYPE_PALETTE)
        png_set_expand(png);
    if (colourType == PNG_COLOR_TYPE_GRAY && bitDepth < 8)
        png_set_expand(png);
    if (png_get_valid(png, info, PNG_INFO_tRNS))
        png_set_expand(png);
    if (bitDepth == 16)
        png_set_strip_16(png);
    int passes = 1;
    if (!Guard(png, [&] {
            passes = png_set_interlace_handling(png);
            png_read_update_info(png, info);
        }))
        return failed();
    png_get_IHDR(png, info, &width, &height, &bitDepth, &colourType, &interlace, nullptr, nullptr);
    const uint32_t channels = png_get_channels(png, info);
    // What libpng will write per row must fit the rows it is given.
    if (bitDepth != 8 || channels < 1 || channels > bpp || png_get_rowbytes(png, info) > width * bpp ||
        width != m_width || height != m_height) {
        SetError(qncodec::ErrUnsupported);
        return false;
    }

    unsigned char* alpha = i_Plane(-1).GetPtr();
    unsigned char* p0 = i_Plane(0).GetPtr();
    unsigned char* p1 = grey ? nullptr : i_Plane(1).GetPtr();
    unsigned char* p2 = grey ? nullptr : i_Plane(2).GetPtr();
    // One decoded row of y into the planes, a loop per channel count so
    // that each stays simple vector code.
    auto split = [&](const unsigned char* s, uint32_t y) {
        const size_t o = size_t{y} * width;
        switch (channels) {
        case 1: std::memcpy(p0 + o, s, width); break;
        case 2:
            for (uint32_t x = 0; x < width; ++x) {
                p0[o + x] = s[2 * x];
                alpha[o + x] = s[2 * x + 1];
            }
            break;
        case 3:
            for (uint32_t x = 0; x < width; ++x) {
                p0[o + x] = s[3 * x];
                p1[o + x] = s[3 * x + 1];
                p2[o + x] = s[3 * x + 2];
            }
            break;
        default:
            for (uint32_t x = 0; x < width; ++x) {
                p0[o + x] = s[4 * x];
                p1[o + x] = s[4 * x + 1];
                p2[o + x] = s[4 * x + 2];
                alpha[o + x] = s[4 * x + 3];
            }
            break;
        }
    };
    // Grey rows have one or two channels, colour rows three or four.
    if (grey ? channels > 2 : channels < 3) {
        SetError(qncodec::ErrUnsupported);
        return false;
    }

    // A picture in one pass goes into the planes row by row, through one
    // row of memory; an interlaced one is put together whole first.
    const bool whole = passes > 1;
    CQNF_Mem buffer, rows;
    if (!buffer.alloc(whole ? pixels * bpp : uint64_t{width} * bpp) ||
        (whole && !rows.alloc(qnMulSize({height, sizeof(png_bytep)})))) {
        SetError(qncodec::ErrMemory);
        return false;
    }
    auto** rowPtr = whole ? reinterpret_cast<png_bytep*>(rows.GetPtr()) : nullptr;
    for (uint32_t y = 0; whole && y < height; ++y)
        rowPtr[y] = buffer.GetPtr() + size_t{y} * width * bpp;
    if (!i_Report(11) || !i_Report(20))
        return false;

    const uint64_t totalRows = uint64_t(passes) * height;
    uint64_t done = 0;
    for (int pass = 0; pass < passes; ++pass) {
        for (uint32_t y = 0; y < height; ++y) {
            png_bytep row = whole ? rowPtr[y] : buffer.GetPtr();
            if (!Guard(png, [&] { png_read_row(png, row, nullptr); }))
                return failed();
            if (!whole)
                split(row, y);
            ++done;
            if (!i_Report(static_cast<uint8_t>(20 + 70 * done / totalRows)))
                return false;
        }
    }
    if (!i_Report(90))
        return false;

    for (uint32_t y = 0; y < height; ++y) {
        if (whole)
            split(rowPtr[y], y);
        if (!i_Report(static_cast<uint8_t>(90 + 9 * uint64_t(y + 1) / height)))
            return false;
    }
    if (!Guard(png, [&] { png_read_end(png, nullptr); }))
        return failed();
    if (m_progress)
        m_progress->Progress(100, m_progress->GetUserDataPtr());
    return true;
}
