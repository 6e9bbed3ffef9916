// PNG reader: against an independent encoder straight on libpng, for input
// kinds our writer does not make; interlace, and bad and hostile data.
#include "imaging/PNGCodec.h"

#include "png_test_util.h"
#include "test_codec_util.h"

#include <gtest/gtest.h>
#include <png.h>
#include <zlib.h>

#include <csetjmp>
#include <cstring>
#include <random>

using namespace codectest;
using namespace pngtest;

namespace {

// ---- an independent encoder, straight on libpng, for input kinds our writer does not make

struct Sink {
    Bytes* out;
};

extern "C" void SinkWrite(png_structp png, png_bytep data, png_size_t n)
{
    auto* s = static_cast<Sink*>(png_get_io_ptr(png));
    s->out->insert(s->out->end(), data, data + n);
}
extern "C" void SinkFlush(png_structp) {}

struct PngShape {
    PngShape(uint32_t w_, uint32_t h_, int colourType_, int depth_) : w(w_), h(h_), colourType(colourType_), depth(depth_) {}
    uint32_t w, h;
    int colourType;
    int depth;
    bool interlace = false;
    std::vector<png_color> palette;
    Bytes trans;
};

// rows: packed samples as libpng takes them (16-bit big-endian).
bool EncodeRaw(const PngShape& s, const std::vector<Bytes>& rows, Bytes& out)
{
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    Sink sink{&out};
    std::vector<png_bytep> ptrs;
    for (auto& r : rows)
        ptrs.push_back(const_cast<png_bytep>(r.data()));
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_set_write_fn(png, &sink, SinkWrite, SinkFlush);
    png_set_IHDR(png, info, s.w, s.h, s.depth, s.colourType, s.interlace ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (!s.palette.empty())
        png_set_PLTE(png, info, s.palette.data(), static_cast<int>(s.palette.size()));
    if (!s.trans.empty())
        png_set_tRNS(png, info, s.trans.data(), static_cast<int>(s.trans.size()), nullptr);
    png_write_info(png, info);
    png_write_image(png, ptrs.data());
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return true;
}

}  // namespace

TEST(CodecPNGRead, GreyPaletteAndSixteenBit)
{
    // Grey without alpha: mode 2, alpha 255 everywhere.
    Bytes f;
    ASSERT_TRUE(EncodeRaw(PngShape(3, 2, PNG_COLOR_TYPE_GRAY, 8), {{1, 2, 3}, {4, 5, 6}}, f));
    PNG png;
    ASSERT_TRUE(Decode(png, f));
    EXPECT_EQ(png.GetImageMode(), qncodec::ModeGrey);
    EXPECT_EQ(Plane(png, 0), (Bytes{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(Plane(png, -1), Bytes(6, 255));
    EXPECT_FALSE(png.HasAlpha());

    // 2-bit grey expands to 8 bits.
    f.clear();
    ASSERT_TRUE(EncodeRaw(PngShape(4, 1, PNG_COLOR_TYPE_GRAY, 2), {{0x1B}}, f));  // 0,1,2,3
    ASSERT_TRUE(Decode(png, f));
    EXPECT_EQ(Plane(png, 0), (Bytes{0, 85, 170, 255}));

    // A palette with transparency: mode 1, the palette's alpha in plane -1.
    PngShape pal(3, 1, PNG_COLOR_TYPE_PALETTE, 8);
    pal.palette = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}};
    pal.trans = {0, 128};
    f.clear();
    ASSERT_TRUE(EncodeRaw(pal, {{0, 1, 2}}, f));
    ASSERT_TRUE(Decode(png, f));
    EXPECT_EQ(png.GetImageMode(), qncodec::ModeColour);
    EXPECT_EQ(Plane(png, 0), (Bytes{255, 0, 0}));
    EXPECT_EQ(Plane(png, 1), (Bytes{0, 255, 0}));
    EXPECT_EQ(Plane(png, -1), (Bytes{0, 128, 255}));
    EXPECT_TRUE(png.HasAlpha());

    // Grey with a transparent value: alpha from it.
    f.clear();
    {
        png_color_16 value{};
        value.gray = 2;
        png_structp wr = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
        png_infop info = png_create_info_struct(wr);
        Sink sink{&f};
        Bytes row{1, 2, 3};
        png_bytep rows[1] = {row.data()};
        png_set_write_fn(wr, &sink, SinkWrite, SinkFlush);
        png_set_IHDR(wr, info, 3, 1, 8, PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                     PNG_FILTER_TYPE_DEFAULT);
        png_set_tRNS(wr, info, nullptr, 0, &value);
        png_write_info(wr, info);
        png_write_image(wr, rows);
        png_write_end(wr, info);
        png_destroy_write_struct(&wr, &info);
    }
    ASSERT_TRUE(Decode(png, f));
    EXPECT_EQ(png.GetImageMode(), qncodec::ModeGrey);
    EXPECT_TRUE(png.HasAlpha());
    EXPECT_EQ(Plane(png, -1), (Bytes{255, 0, 255}));

    // 16-bit RGB keeps the high bytes.
    f.clear();
    ASSERT_TRUE(EncodeRaw(PngShape(1, 1, PNG_COLOR_TYPE_RGB, 16), {{0x12, 0x34, 0xAB, 0xCD, 0xFF, 0x00}}, f));
    ASSERT_TRUE(Decode(png, f));
    EXPECT_EQ(Plane(png, 0), (Bytes{0x12}));
    EXPECT_EQ(Plane(png, 1), (Bytes{0xAB}));
    EXPECT_EQ(Plane(png, 2), (Bytes{0xFF}));
    EXPECT_EQ(Plane(png, -1), (Bytes{255}));
    EXPECT_FALSE(png.HasAlpha());

    // Info reads only the header.
    PNG info;
    ASSERT_TRUE(info.GetImageInfoByPtr(f.data(), f.size()));
    unsigned short w, h;
    info.GetMainImageSize(w, h);
    EXPECT_EQ(w, 1);
    EXPECT_EQ(info.GetImageBPP(), 8);
    EXPECT_EQ(info.GetImageDataPtr(0), nullptr);
}

TEST(CodecPNGRead, InterlacedEqualsPlain)
{
    std::mt19937 rng(8);
    std::vector<Bytes> rows(13, Bytes(17 * 4));
    for (auto& r : rows)
        for (auto& v : r)
            v = static_cast<unsigned char>(rng());
    Bytes plain, interlaced;
    PngShape s(17, 13, PNG_COLOR_TYPE_RGB_ALPHA, 8);
    ASSERT_TRUE(EncodeRaw(s, rows, plain));
    s.interlace = true;
    ASSERT_TRUE(EncodeRaw(s, rows, interlaced));
    ASSERT_NE(plain, interlaced);
    PNG a, b;
    ASSERT_TRUE(Decode(a, plain));
    ASSERT_TRUE(Decode(b, interlaced));
    for (signed char k = -1; k < 3; ++k)
        EXPECT_EQ(Plane(a, k), Plane(b, k)) << int(k);
    EXPECT_EQ(Plane(a, 1)[17 * 2 + 5], rows[2][5 * 4 + 1]);
}

TEST(CodecPNGRead, BadAndTruncatedData)
{
    PNG png;
    const Bytes three{0x89, 'P', 'N'};
    EXPECT_FALSE(png.ParseImageByPtr(three.data(), three.size()));
    EXPECT_EQ(png.GetError(), qncodec::ErrCorrupt);
    EXPECT_FALSE(png.GetImageInfoByPtr(three.data(), three.size()));
    EXPECT_EQ(png.GetError(), qncodec::ErrCorrupt);
    const Bytes notPng{'G', 'I', 'F', '8', '9', 'a'};
    EXPECT_FALSE(png.ParseImageByPtr(notPng.data(), notPng.size()));
    EXPECT_EQ(png.GetError(), qncodec::ErrCorrupt);

    std::vector<Bytes> rows(9, Bytes(9 * 3));
    std::mt19937 rng(2);
    for (auto& r : rows)
        for (auto& v : r)
            v = static_cast<unsigned char>(rng());
    Bytes f;
    ASSERT_TRUE(EncodeRaw(PngShape(9, 9, PNG_COLOR_TYPE_RGB, 8), rows, f));
    ASSERT_TRUE(Decode(png, f));
    for (size_t n = 4; n < f.size(); ++n) {
        Bytes cut(f.begin(), f.begin() + static_cast<long>(n));
        EXPECT_FALSE(Decode(png, cut)) << n;
        EXPECT_NE(png.GetError(), 0) << n;
        EXPECT_EQ(png.GetImageDataPtr(0), nullptr) << n;
    }
    // Cut inside the image data: truncated, 49.
    Bytes cut(f.begin(), f.begin() + static_cast<long>(f.size() - 30));
    EXPECT_FALSE(Decode(png, cut));
    EXPECT_EQ(png.GetError(), qncodec::ErrCorrupt);
}

TEST(CodecPNGRead, HostileSizesAreRefusedBeforeAllocation)
{
    // A header claiming 60000 x 60000 RGBA with almost no data.
    Bytes f;
    ASSERT_TRUE(EncodeRaw(PngShape(1, 1, PNG_COLOR_TYPE_RGB_ALPHA, 8), {{1, 2, 3, 4}}, f));
    auto setIhdr = [](Bytes b, uint32_t w, uint32_t h) {
        for (int k = 0; k < 4; ++k) {
            b[16 + k] = static_cast<unsigned char>(w >> (24 - 8 * k));
            b[20 + k] = static_cast<unsigned char>(h >> (24 - 8 * k));
        }
        const uLong crc = crc32(crc32(0, nullptr, 0), b.data() + 12, 17);
        for (int k = 0; k < 4; ++k)
            b[29 + k] = static_cast<unsigned char>(crc >> (24 - 8 * k));
        return b;
    };
    PNG png;
    const Bytes big = setIhdr(f, 60000, 60000);
    EXPECT_FALSE(Decode(png, big));
    EXPECT_EQ(png.GetError(), qncodec::ErrCorrupt);
    ASSERT_TRUE(png.GetImageInfoByPtr(big.data(), big.size()));
    const Bytes wide = setIhdr(f, 70000, 1);
    EXPECT_FALSE(png.GetImageInfoByPtr(wide.data(), wide.size()));
    EXPECT_EQ(png.GetError(), qncodec::ErrUnsupported);
    qntCODECLIMITS small;
    small.maxBytes = 100;
    png.SetLimits(small);
    const Bytes medium = setIhdr(f, 10, 10);
    EXPECT_FALSE(Decode(png, medium));
    EXPECT_EQ(png.GetError(), qncodec::ErrUnsupported);
}

namespace {

// A PNG spelled out chunk by chunk, so that any field may hold any value.
void Chunk(BE& png, const char* type, const Bytes& data)
{
    png.u32(static_cast<uint32_t>(data.size()));
    const size_t start = png.b.size();
    png.tag(type).raw(data);
    png.u32(static_cast<uint32_t>(crc32(0, png.b.data() + start, static_cast<uInt>(png.b.size() - start))));
}

struct Header {
    uint32_t w = 4, h = 4;
    unsigned depth = 8, colourType = 2, compression = 0, filter = 0, interlace = 0;
};

// The rows given as they are inflated (a filter byte first in each), or
// rows of zeros for the header's size.
Bytes Spelled(const Header& hd, Bytes rows = {})
{
    if (rows.empty())
        rows.assign(size_t{hd.h} * (1 + size_t{hd.w} * 3), 0);
    BE ihdr;
    ihdr.u32(hd.w).u32(hd.h).u8(hd.depth).u8(hd.colourType).u8(hd.compression).u8(hd.filter).u8(hd.interlace);
    Bytes packed(compressBound(static_cast<uLong>(rows.size())));
    uLongf n = static_cast<uLongf>(packed.size());
    compress(packed.data(), &n, rows.data(), static_cast<uLong>(rows.size()));
    packed.resize(n);
    BE png;
    png.u8(0x89).tag("PNG\r\n\x1a\n");
    Chunk(png, "IHDR", ihdr.b);
    Chunk(png, "IDAT", packed);
    Chunk(png, "IEND", {});
    return png.b;
}

// A bit of the checksum of the chunk of the type flipped.
Bytes BadChecksum(Bytes b, const char* type)
{
    for (size_t i = 8; i + 8 <= b.size();) {
        const size_t length = png_get_uint_32(b.data() + i);
        if (std::memcmp(b.data() + i + 4, type, 4) == 0) {
            b[i + 8 + length] ^= 0x10;
            break;
        }
        i += 12 + length;
    }
    return b;
}

}  // namespace

TEST(CodecPNGRead, EveryHostileFileIsRefusedWithItsCause)
{
    Header plain;
    Header colour5 = plain, depth3 = plain, interlace7 = plain, empty = plain, wide = plain, method1 = plain;
    colour5.colourType = 5;
    depth3.depth = 3;
    interlace7.interlace = 7;
    empty.w = empty.h = 0;
    wide.w = 0x7FFFFFFF;
    wide.h = 1;
    method1.compression = 1;
    const Bytes good = Spelled(plain);
    Bytes badFilter(4 * 13, 0);
    badFilter[13] = 9;  // the second row's filter byte
    const Bytes fewRows(2 * 13, 0);
    BE garbage;
    garbage.u8(0x89).tag("PNG\r\n\x1a\n");
    {
        BE ihdr;
        ihdr.u32(4).u32(4).u8(8).u8(2).u8(0).u8(0).u8(0);
        Chunk(garbage, "IHDR", ihdr.b);
        Chunk(garbage, "IDAT", {'n', 'o', 't', ' ', 'z', 'l', 'i', 'b'});
        Chunk(garbage, "IEND", {});
    }
    struct Case {
        const char* what;
        Bytes file;
        unsigned short error;
        const char* reason;  // how the reason begins
    };
    const std::vector<Case> cases = {
        {"colour type 5", Spelled(colour5), qncodec::ErrUnsupported, "colour type 5 is not read"},
        {"bit depth 3", Spelled(depth3), qncodec::ErrUnsupported, "bit depth 3 with colour type 2 is not read"},
        {"interlace method 7", Spelled(interlace7), qncodec::ErrUnsupported, "interlace method 7 is not read"},
        {"compression method 1", Spelled(method1), qncodec::ErrUnsupported, "compression method 1 is not read"},
        {"0 x 0 pixels", Spelled(empty, Bytes(1, 0)), qncodec::ErrCorrupt,
         "damaged: it describes a picture of 0 x 0 pixels"},
        {"2^31 - 1 pixels wide", Spelled(wide, Bytes(16, 0)), qncodec::ErrUnsupported,
         "2147483647 x 1 pixels, more than the 65535 pixels a side"},
        {"a filter byte PNG does not have", Spelled(plain, badFilter), qncodec::ErrCorrupt,
         "damaged: a row begins with a filter byte"},
        {"image data that does not inflate", garbage.b, qncodec::ErrCorrupt,
         "damaged: its image data does not inflate"},
        {"a wrong checksum in IHDR", BadChecksum(good, "IHDR"), qncodec::ErrCorrupt,
         "damaged: the checksum of its IHDR chunk does not match"},
        {"a wrong checksum in IDAT", BadChecksum(good, "IDAT"), qncodec::ErrCorrupt,
         "damaged: the checksum of its IDAT chunk does not match"},
        {"a wrong checksum in IEND", BadChecksum(good, "IEND"), qncodec::ErrCorrupt,
         "damaged: the checksum of its IEND chunk does not match"},
        {"cut inside its image data", Bytes(good.begin(), good.end() - 20), qncodec::ErrCorrupt, "truncated"},
        {"fewer rows than its header gives", Spelled(plain, fewRows), qncodec::ErrCorrupt,
         "truncated: its image data ends before the last row"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        PNG png;
        EXPECT_FALSE(Decode(png, c.file));
        EXPECT_EQ(png.GetError(), c.error);
        EXPECT_EQ(png.GetReason().rfind(c.reason, 0), 0u) << png.GetReason();
        EXPECT_EQ(png.GetImageDataPtr(0), nullptr);
    }
    PNG png;
    EXPECT_TRUE(Decode(png, good)) << "the file every case spoils reads whole";
}

TEST(CodecPNGRead, AChunkLongerThanTheFileIsTruncated)
{
    // After the header chunk, a chunk that claims 16 MiB and holds nothing:
    // what follows it is the rest of a whole picture, which must not be
    // taken for the chunks after it.
    const Bytes good = Spelled(Header{});
    const size_t afterHeader = 8 + 12 + 13;
    for (const char* type : {"tEXt", "zTXt", "iTXt", "iCCP", "sPLT", "eXIf", "quIt"}) {
        SCOPED_TRACE(type);
        BE claim;
        claim.u32(16777224).tag(type);
        Bytes file(good.begin(), good.begin() + static_cast<long>(afterHeader));
        file.insert(file.end(), claim.b.begin(), claim.b.end());
        file.insert(file.end(), good.begin() + static_cast<long>(afterHeader), good.end());
        PNG png;
        EXPECT_FALSE(Decode(png, file));
        EXPECT_EQ(png.GetError(), qncodec::ErrCorrupt);
        EXPECT_EQ(png.GetReason(), "truncated");
    }
}
