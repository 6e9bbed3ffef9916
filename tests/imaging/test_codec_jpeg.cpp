// JPEG reader: pixels equal the library's own djpeg, colour spaces, the
// memory source, and bad or truncated data.
#include "imaging/ImageFile.h"
#include "imaging/JPEGCodec.h"
#include "imaging/JPEGSource.h"

#include "test_codec_util.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <sstream>

using namespace codectest;
using JPEG = CQNF_ImageJPEG;

namespace {

struct Pnm {
    int channels = 0;
    uint32_t w = 0, h = 0;
    Bytes pixels;  // interleaved
};

bool ReadPnm(const Bytes& b, Pnm& out)
{
    std::string head(b.begin(), b.begin() + static_cast<long>(std::min<size_t>(b.size(), 64)));
    std::istringstream in(head);
    std::string magic;
    int maxval = 0;
    in >> magic >> out.w >> out.h >> maxval;
    if (!in || maxval != 255 || (magic != "P5" && magic != "P6"))
        return false;
    out.channels = magic == "P6" ? 3 : 1;
    const size_t start = static_cast<size_t>(in.tellg()) + 1;
    const size_t n = size_t{out.w} * out.h * out.channels;
    if (b.size() < start + n)
        return false;
    out.pixels.assign(b.begin() + static_cast<long>(start), b.begin() + static_cast<long>(start + n));
    return true;
}

Bytes MakePnm(int channels, uint32_t w, uint32_t h, unsigned seed)
{
    std::string head = (channels == 3 ? "P6\n" : "P5\n") + std::to_string(w) + " " + std::to_string(h) + "\n255\n";
    Bytes b(head.begin(), head.end());
    std::mt19937 rng(seed);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x)
            for (int c = 0; c < channels; ++c)
                b.push_back(static_cast<unsigned char>((x * 7 + y * 3 + c * 60) ^ (rng() % 32)));
    return b;
}

class CodecJPEGVsDjpeg : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!Have("cjpeg") || !Have("djpeg"))
            GTEST_SKIP() << "cjpeg/djpeg not installed (libjpeg-turbo-progs)";
    }

    // Compresses a PNM with cjpeg and the options; returns the JPEG bytes.
    Bytes Compress(const Bytes& pnm, const std::string& options)
    {
        WriteAll(dir / "in.pnm", pnm);
        EXPECT_TRUE(Sh("cjpeg " + options + " -outfile '" + (dir / "x.jpg") + "' '" + (dir / "in.pnm") + "'"));
        return ReadAll(dir / "x.jpg");
    }

    // Decodes with djpeg and with the codec and compares every sample.
    void ExpectSameAsDjpeg(const Bytes& jpg, int channels)
    {
        WriteAll(dir / "y.jpg", jpg);
        ASSERT_TRUE(Sh("djpeg -pnm -outfile '" + (dir / "y.pnm") + "' '" + (dir / "y.jpg") + "'"));
        Pnm ref;
        ASSERT_TRUE(ReadPnm(ReadAll(dir / "y.pnm"), ref));
        ASSERT_EQ(ref.channels, channels);
        JPEG j;
        ASSERT_TRUE(j.ParseImageByPtr(jpg.data(), jpg.size())) << j.GetError();
        EXPECT_EQ(j.GetImageMode(), channels == 3 ? qncodec::ModeColour : qncodec::ModeGrey);
        unsigned short w, h;
        j.GetMainImageSize(w, h);
        ASSERT_EQ(w, ref.w);
        ASSERT_EQ(h, ref.h);
        EXPECT_EQ(j.GetImageDataPtr(-1), nullptr);
        for (int c = 0; c < channels; ++c) {
            const unsigned char* plane = j.GetImageDataPtr(static_cast<signed char>(c));
            ASSERT_NE(plane, nullptr);
            size_t diff = 0;
            for (size_t i = 0; i < size_t{w} * h; ++i)
                diff += plane[i] != ref.pixels[i * channels + c];
            EXPECT_EQ(diff, 0u) << "channel " << c;
        }
    }

    TempDir dir;
};

}  // namespace

TEST_F(CodecJPEGVsDjpeg, BaselineColour) { ExpectSameAsDjpeg(Compress(MakePnm(3, 37, 23, 1), "-quality 85"), 3); }

TEST_F(CodecJPEGVsDjpeg, ProgressiveWithRestartsAndNoSubsampling)
{
    ExpectSameAsDjpeg(Compress(MakePnm(3, 64, 50, 2), "-progressive -restart 1 -sample 1x1"), 3);
}

TEST_F(CodecJPEGVsDjpeg, Greyscale)
{
    const Bytes jpg = Compress(MakePnm(1, 33, 17, 3), "-grayscale");
    ExpectSameAsDjpeg(jpg, 1);
    JPEG info;
    ASSERT_TRUE(info.GetImageInfoByPtr(jpg.data(), jpg.size()));
    EXPECT_EQ(info.GetImageMode(), qncodec::ModeGrey);
    EXPECT_EQ(info.GetImageBPP(), 8);
    EXPECT_EQ(info.GetImageDataPtr(0), nullptr);
}

TEST_F(CodecJPEGVsDjpeg, MissingEndMarkerStillDecodes)
{
    Bytes jpg = Compress(MakePnm(3, 40, 40, 4), "");
    ASSERT_EQ(jpg[jpg.size() - 2], 0xFF);
    ASSERT_EQ(jpg[jpg.size() - 1], 0xD9);
    const Bytes whole = jpg;
    jpg.resize(jpg.size() - 2);
    JPEG a, b;
    ASSERT_TRUE(a.ParseImageByPtr(whole.data(), whole.size()));
    ASSERT_TRUE(b.ParseImageByPtr(jpg.data(), jpg.size()));
    EXPECT_EQ(std::memcmp(a.GetImageDataPtr(0), b.GetImageDataPtr(0), 1600), 0);
}

TEST_F(CodecJPEGVsDjpeg, TruncatedDataFails)
{
    const Bytes jpg = Compress(MakePnm(3, 64, 64, 5), "");
    JPEG j;
    // Every cut inside the entropy-coded data, and the header.
    for (size_t n = 0; n + 40 < jpg.size(); n += 7) {
        Bytes cut(jpg.begin(), jpg.begin() + static_cast<long>(n));
        EXPECT_FALSE(j.ParseImageByPtr(cut.data(), cut.size())) << n;
        EXPECT_NE(j.GetError(), 0) << n;
        EXPECT_EQ(j.GetImageDataPtr(0), nullptr) << n;
    }
}

TEST(CodecJPEG, ShortAndForeignData)
{
    JPEG j;
    const unsigned char one[] = {0xFF};
    EXPECT_FALSE(j.GetImageInfoByPtr(one, 1));
    EXPECT_EQ(j.GetError(), qncodec::ErrCorrupt);
    EXPECT_FALSE(j.ParseImageByPtr(one, 1));
    EXPECT_EQ(j.GetError(), qncodec::ErrCorrupt);
    const unsigned char eoi[] = {0xFF, 0xD9, 0, 0};
    EXPECT_FALSE(j.GetImageInfoByPtr(eoi, sizeof eoi));
    EXPECT_EQ(j.GetError(), qncodec::ErrUnsupported);
    const unsigned char soiOnly[] = {0xFF, 0xD8, 0xFF, 0xD9};
    EXPECT_FALSE(j.GetImageInfoByPtr(soiOnly, sizeof soiOnly));
    EXPECT_EQ(j.GetError(), qncodec::ErrUnsupported);
    EXPECT_FALSE(j.ParseImageByPtr(soiOnly, sizeof soiOnly));
    EXPECT_EQ(j.GetError(), qncodec::ErrCorrupt);
}

namespace {

// A JPEG made with the library's compressor, in any input colour space;
// adobe false leaves out the Adobe marker the library writes for CMYK.
Bytes CompressWithLibrary(J_COLOR_SPACE space, int components, uint32_t w, uint32_t h, const Bytes& pixels,
                          bool adobe = true)
{
    jpeg_compress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* mem = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &mem, &size);
    c.image_width = w;
    c.image_height = h;
    c.input_components = components;
    c.in_color_space = space;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 100, TRUE);
    if (!adobe)
        c.write_Adobe_marker = FALSE;
    jpeg_start_compress(&c, TRUE);
    for (uint32_t y = 0; y < h; ++y) {
        JSAMPROW row = const_cast<JSAMPROW>(pixels.data() + size_t{y} * w * components);
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    Bytes out(mem, mem + size);
    std::free(mem);
    return out;
}

}  // namespace

TEST(CodecJPEG, CmykDecodesToFourPlanes)
{
    const uint32_t w = 16, h = 8;
    Bytes px(size_t{w} * h * 4);
    for (size_t i = 0; i < px.size(); ++i)
        px[i] = static_cast<unsigned char>(i % 4 * 60 + 10);
    const Bytes jpg = CompressWithLibrary(JCS_CMYK, 4, w, h, px);
    JPEG j;
    ASSERT_TRUE(j.ParseImageByPtr(jpg.data(), jpg.size()));
    EXPECT_EQ(j.GetImageMode(), qncodec::ModeCMYK);
    for (int c = 0; c < 4; ++c) {
        ASSERT_NE(j.GetImageDataPtr(static_cast<signed char>(c)), nullptr);
        EXPECT_NEAR(j.GetImageDataPtr(static_cast<signed char>(c))[37], c * 60 + 10, 2);
    }
    EXPECT_EQ(j.GetImageDataPtr(-1), nullptr);
}

TEST(CodecJPEG, ImageFileTurnsInkAmountsIntoInvertedCmyk)
{
    // With the Adobe marker the stored bytes are the inverted form already;
    // without it they are ink amounts.
    TempDir dir;
    const uint32_t w = 16, h = 8;
    const Bytes px(size_t{w} * h * 4, 40);
    for (bool adobe : {true, false}) {
        const Bytes jpg = CompressWithLibrary(JCS_CMYK, 4, w, h, px, adobe);
        JPEG j;
        ASSERT_TRUE(j.GetImageInfoByPtr(jpg.data(), jpg.size()));
        EXPECT_EQ(j.InvertedCMYK(), adobe);
        WriteAll(dir / "k.jpg", jpg);
        CQNF_ImageFile f;
        ASSERT_TRUE(f.Load(dir / "k.jpg"));
        EXPECT_EQ(f.GetKind(), CQNF_ImageFile::KindJPEG);
        EXPECT_EQ(f.GetMode(), qncodec::ModeCMYK);
        for (signed char c = 0; c < 4; ++c)
            EXPECT_NEAR(f.GetPlane(c)[37], adobe ? 40 : 215, 1);
        EXPECT_EQ(f.GetPlane(-1), nullptr);
    }
}

TEST(CodecJPEG, LimitsProgressAndCancel)
{
    const uint32_t w = 64, h = 64;
    Bytes px(size_t{w} * h * 3, 100);
    const Bytes jpg = CompressWithLibrary(JCS_RGB, 3, w, h, px);
    {
        RecordingProgress prog;
        int marker;
        prog.SetUserDataPtr(&marker);
        JPEG j;
        j.SetProgress(&prog);
        ASSERT_TRUE(j.ParseImageByPtr(jpg.data(), jpg.size()));
        EXPECT_EQ(prog.reports.front(), 0);
        EXPECT_EQ(prog.reports.back(), 100);
        EXPECT_TRUE(Rising(prog.reports));
        EXPECT_EQ(prog.lastData, &marker);
        EXPECT_EQ(j.GetImageDataPtr(1)[100], 100);
    }
    {
        RecordingProgress prog(50);
        JPEG j;
        j.SetProgress(&prog);
        EXPECT_FALSE(j.ParseImageByPtr(jpg.data(), jpg.size()));
        EXPECT_EQ(j.GetError(), 0);
        EXPECT_EQ(j.GetImageDataPtr(0), nullptr);
    }
    {
        qntCODECLIMITS small;
        small.maxBytes = 1000;
        JPEG j;
        j.SetLimits(small);
        EXPECT_FALSE(j.ParseImageByPtr(jpg.data(), jpg.size()));
        EXPECT_EQ(j.GetError(), qncodec::ErrUnsupported);
    }
}

TEST(CodecJPEG, MemorySourceSkipsAndEnds)
{
    jpeg_decompress_struct cinfo;
    qntJPEGERROR err;
    qnJpegErrorSetup(&cinfo, &err);
    jpeg_create_decompress(&cinfo);
    const unsigned char data[] = {1, 2, 3, 4, 5};
    jpeg_frommem_src(&cinfo, data, sizeof data);
    jpeg_source_mgr* src = cinfo.src;
    src->init_source(&cinfo);
    ASSERT_TRUE(src->fill_input_buffer(&cinfo));
    EXPECT_EQ(src->next_input_byte, data);
    EXPECT_EQ(src->bytes_in_buffer, sizeof data);
    src->skip_input_data(&cinfo, 0);
    EXPECT_EQ(src->bytes_in_buffer, 5u);
    src->skip_input_data(&cinfo, 2);
    EXPECT_EQ(src->next_input_byte, data + 2);
    // A skip beyond the data stops at its end.
    src->skip_input_data(&cinfo, 100);
    EXPECT_EQ(src->next_input_byte, data + sizeof data);
    EXPECT_EQ(src->bytes_in_buffer, 0u);
    // More data after the end is an end-of-image marker, never the buffer
    // again from its start.
    ASSERT_TRUE(src->fill_input_buffer(&cinfo));
    ASSERT_EQ(src->bytes_in_buffer, 2u);
    EXPECT_EQ(src->next_input_byte[0], 0xFF);
    EXPECT_EQ(src->next_input_byte[1], 0xD9);
    EXPECT_EQ(err.pub.num_warnings, 1);
    jpeg_destroy_decompress(&cinfo);
}
