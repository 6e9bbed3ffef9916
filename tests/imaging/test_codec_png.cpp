// PNG writer: chunks, round trips of every colour type, row filters, bad
// arguments, failed writes and progress.
#include "imaging/PNGCodec.h"

#include "png_test_util.h"
#include "test_codec_util.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <random>

using namespace codectest;
using namespace pngtest;

namespace {

struct Chunk {
    std::string type;
    Bytes data;
};

std::vector<Chunk> Chunks(const Bytes& f)
{
    std::vector<Chunk> out;
    size_t p = 8;
    while (p + 12 <= f.size()) {
        const uint32_t n = (uint32_t{f[p]} << 24) | (f[p + 1] << 16) | (f[p + 2] << 8) | f[p + 3];
        if (p + 12 + n > f.size())
            break;
        out.push_back({std::string(f.begin() + long(p + 4), f.begin() + long(p + 8)),
                       Bytes(f.begin() + long(p + 8), f.begin() + long(p + 8 + n))});
        p += 12 + n;
    }
    return out;
}

uint32_t U32(const Bytes& b, size_t at)
{
    return (uint32_t{b[at]} << 24) | (uint32_t{b[at + 1]} << 16) | (uint32_t{b[at + 2]} << 8) | b[at + 3];
}

// Writes planes through WritePNG into path.
bool WritePlanes(const std::string& path, PNG::PNGWRITE_PARAMS& p, PNG& png, CQNF_Progress* progress = nullptr)
{
    CQNF_StdFile file;
    EXPECT_TRUE(file.Open(path.c_str(), 2));
    EXPECT_TRUE(png.Create(file));
    png.SetProgress(progress);
    const bool ok = png.WritePNG(&p);
    file.Close();
    return ok;
}

}  // namespace

TEST(CodecPNGWrite, RgbaRoundTripWithTextAndResolution)
{
    TempDir dir;
    // 2 x 2 planes with a wider stride.
    Bytes r{1, 2, 0, 3, 4, 0}, g{10, 20, 0, 30, 40, 0}, b{100, 110, 0, 120, 130, 0}, a{255, 0, 0, 128, 7, 0};
    PNG::PNGWRITE_PARAMS p;
    p.width = 2;
    p.height = 2;
    p.mode = PNG::WriteRGBA;
    p.planes[0] = r.data();
    p.planes[1] = g.data();
    p.planes[2] = b.data();
    p.planes[3] = a.data();
    p.stride = 3;
    p.product = "Quorvin Tessolo 3.1";
    p.resolution = 72.0;
    PNG w;
    ASSERT_TRUE(WritePlanes(dir / "a.png", p, w));
    const Bytes f = ReadAll(dir / "a.png");

    std::vector<std::string> texts;
    bool phys = false;
    for (const auto& c : Chunks(f)) {
        if (c.type == "IHDR") {
            EXPECT_EQ(U32(c.data, 0), 2u);
            EXPECT_EQ(c.data[8], 8);  // depth
            EXPECT_EQ(c.data[9], 6);  // RGBA
            EXPECT_EQ(c.data[12], 0);  // no interlace
        } else if (c.type == "tEXt") {
            texts.emplace_back(c.data.begin(), c.data.end());
        } else if (c.type == "pHYs") {
            phys = true;
            EXPECT_EQ(U32(c.data, 0), 2834u);
            EXPECT_EQ(U32(c.data, 4), 2834u);
            EXPECT_EQ(c.data[8], 1);
        }
    }
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[0], std::string("Generator\0Quorvin FrameWork", 27));
    EXPECT_EQ(texts[1], std::string("Product\0Quorvin Tessolo 3.1", 27));
    EXPECT_TRUE(phys);

    PNG rd;
    ASSERT_TRUE(Decode(rd, f));
    EXPECT_EQ(rd.GetImageMode(), qncodec::ModeColour);
    EXPECT_EQ(Plane(rd, 0), (Bytes{1, 2, 3, 4}));
    EXPECT_EQ(Plane(rd, 1), (Bytes{10, 20, 30, 40}));
    EXPECT_EQ(Plane(rd, 2), (Bytes{100, 110, 120, 130}));
    EXPECT_EQ(Plane(rd, -1), (Bytes{255, 0, 128, 7}));
    EXPECT_EQ(rd.GetImageDataPtr(3), nullptr);
}

TEST(CodecPNGWrite, GreyAlphaRoundTrip)
{
    TempDir dir;
    std::mt19937 rng(3);
    Bytes grey(40 * 30), alpha(40 * 30);
    for (size_t i = 0; i < grey.size(); ++i) {
        grey[i] = static_cast<unsigned char>(rng());
        alpha[i] = static_cast<unsigned char>(rng());
    }
    PNG::PNGWRITE_PARAMS p;
    p.width = 40;
    p.height = 30;
    p.mode = PNG::WriteGreyAlpha;
    p.planes[0] = grey.data();
    p.planes[1] = alpha.data();
    p.stride = 40;
    p.product = "test";
    p.resolution = 300.0;
    PNG w;
    ASSERT_TRUE(WritePlanes(dir / "g.png", p, w));
    const Bytes f = ReadAll(dir / "g.png");
    for (const auto& c : Chunks(f)) {
        if (c.type == "IHDR") {
            EXPECT_EQ(c.data[9], 4);
        }
        if (c.type == "pHYs") {
            EXPECT_EQ(U32(c.data, 0), 11811u);  // 30000 / 2.54f
        }
    }
    PNG rd;
    ASSERT_TRUE(Decode(rd, f));
    EXPECT_EQ(rd.GetImageMode(), qncodec::ModeGrey);
    EXPECT_EQ(Plane(rd, 0), grey);
    EXPECT_EQ(Plane(rd, -1), alpha);
    EXPECT_EQ(rd.GetImageDataPtr(1), nullptr);
    EXPECT_EQ(PNG::PixelsPerMetre(72.0), 2834u);
    EXPECT_EQ(PNG::PixelsPerMetre(-5.0), 0u);
    EXPECT_EQ(PNG::PixelsPerMetre(1e300), 2147483647u);
}

TEST(CodecPNGWrite, RgbAndGreyWithoutAlpha)
{
    TempDir dir;
    Bytes r{1, 2, 3, 4}, g{5, 6, 7, 8}, b{9, 10, 11, 12};
    PNG::PNGWRITE_PARAMS p;
    p.width = 2;
    p.height = 2;
    p.stride = 2;
    p.planes[0] = r.data();
    p.planes[1] = g.data();
    p.planes[2] = b.data();
    const struct {
        uint8_t mode;
        int colourType;
        uint8_t codecMode;
    } cases[] = {{PNG::WriteRGB, 2, qncodec::ModeColour}, {PNG::WriteGrey, 0, qncodec::ModeGrey}};
    for (const auto& c : cases) {
        p.mode = c.mode;
        PNG w;
        ASSERT_TRUE(WritePlanes(dir / "n.png", p, w));
        const Bytes f = ReadAll(dir / "n.png");
        ASSERT_GE(f.size(), 26u);
        EXPECT_EQ(f[25], c.colourType);
        PNG rd;
        ASSERT_TRUE(Decode(rd, f));
        EXPECT_FALSE(rd.HasAlpha());
        EXPECT_EQ(rd.GetImageMode(), c.codecMode);
        EXPECT_EQ(Plane(rd, 0), r);
        if (c.codecMode == qncodec::ModeColour) {
            EXPECT_EQ(Plane(rd, 2), b);
        }
        EXPECT_EQ(Plane(rd, -1), Bytes(4, 255));
    }
}

// The filter byte in front of each row of the image data.
std::vector<int> RowFilters(const Bytes& file, uint32_t rowBytes)
{
    Bytes z;
    for (const auto& c : Chunks(file))
        if (c.type == "IDAT")
            z.insert(z.end(), c.data.begin(), c.data.end());
    uint32_t h = 0;
    for (const auto& c : Chunks(file))
        if (c.type == "IHDR")
            h = U32(c.data, 4);
    uLongf size = uLongf(h) * (1 + rowBytes);
    Bytes raw(size);
    EXPECT_EQ(uncompress(raw.data(), &size, z.data(), uLong(z.size())), Z_OK);
    std::vector<int> filters;
    for (uint32_t y = 0; y < h && (y + 1) * (1 + rowBytes) <= size; ++y)
        filters.push_back(raw[y * (1 + rowBytes)]);
    return filters;
}

TEST(CodecPNGWrite, FastSpeedKeepsThePixelsAndFiltersEveryRowBySub)
{
    TempDir dir;
    std::mt19937 rng(5);
    const uint16_t w = 57, h = 33;
    Bytes planes[4];
    for (auto& pl : planes) {
        pl.resize(size_t(w) * h);
        for (size_t i = 0; i < pl.size(); ++i)
            pl[i] = uint8_t(i % w * 3 + rng() % 9);
    }
    struct Case {
        uint8_t mode;
        int channels;
    };
    for (Case c :
         {Case{PNG::WriteRGBA, 4}, Case{PNG::WriteGreyAlpha, 2}, Case{PNG::WriteRGB, 3}, Case{PNG::WriteGrey, 1}}) {
        Bytes files[2];
        for (int fast = 0; fast < 2; ++fast) {
            PNG::PNGWRITE_PARAMS p;
            p.width = w;
            p.height = h;
            p.mode = c.mode;
            for (int k = 0; k < c.channels; ++k)
                p.planes[k] = planes[k].data();
            p.stride = w;
            p.speed = fast ? PNG::PNGWRITE_PARAMS::Speed::Fast : PNG::PNGWRITE_PARAMS::Speed::Default;
            PNG wr;
            const std::string path = dir / ("f" + std::to_string(fast) + ".png");
            ASSERT_TRUE(WritePlanes(path, p, wr));
            files[fast] = ReadAll(path);
        }
        PNG a, b;
        ASSERT_TRUE(Decode(a, files[0]));
        ASSERT_TRUE(Decode(b, files[1]));
        for (signed char k : {0, 1, 2, -1})
            EXPECT_EQ(Plane(a, k), Plane(b, k)) << "mode " << int(c.mode) << " plane " << int(k);
        EXPECT_EQ(RowFilters(files[1], uint32_t(w) * c.channels), std::vector<int>(h, 1)) << int(c.mode);
    }
}

// Pictures of several bands of rows (about 2 MB of rows each): the fast
// form's bands, compressed on their own threads, join into one stream that
// zlib inflates whole, with every row Sub-filtered; the pixels read back are
// the planes; the file is the same bytes whatever the thread count.
TEST(CodecPNGWrite, FastSpeedBandsMakeOneStreamWhateverTheThreads)
{
    TempDir dir;
    struct Case {
        uint16_t w, h;
        uint8_t mode;
        int channels;
    };
    std::mt19937 rng(5);
    for (Case c : {Case{1500, 400, PNG::WriteRGBA, 4}, Case{3000, 800, PNG::WriteGrey, 1}}) {
        std::vector<Bytes> planes(size_t(c.channels));
        for (auto& pl : planes) {
            pl.resize(size_t(c.w) * c.h);
            uint32_t noise = rng();
            for (size_t i = 0; i < pl.size(); ++i) {
                noise = noise * 1664525u + 1013904223u;
                pl[i] = uint8_t(i / c.w / 7 + i % c.w / 5 + (noise >> 27));
            }
        }
        PNG::PNGWRITE_PARAMS p;
        p.width = c.w;
        p.height = c.h;
        p.mode = c.mode;
        for (int k = 0; k < c.channels; ++k)
            p.planes[k] = planes[size_t(k)].data();
        p.stride = c.w;
        p.speed = PNG::PNGWRITE_PARAMS::Speed::Fast;
        auto write = [&](int threads) {
            setenv("TESSOLO_THREADS", std::to_string(threads).c_str(), 1);
            PNG wr;
            const std::string path = dir / "f.png";
            EXPECT_TRUE(WritePlanes(path, p, wr));
            unsetenv("TESSOLO_THREADS");
            return ReadAll(path);
        };
        const Bytes one = write(1);
        EXPECT_EQ(write(3), one) << c.w;
        EXPECT_EQ(RowFilters(one, uint32_t(c.w) * uint32_t(c.channels)), std::vector<int>(c.h, 1)) << c.w;
        int idat = 0;
        for (const auto& chunk : Chunks(one))
            idat += chunk.type == "IDAT";
        EXPECT_GT(idat, 1) << c.w;  // more than one band
        // Progress rises band by band; a cancel stops between bands.
        {
            RecordingProgress prog;
            PNG png;
            ASSERT_TRUE(WritePlanes(dir / "p.png", p, png, &prog));
            EXPECT_TRUE(Rising(prog.reports));
            EXPECT_GT(std::count_if(prog.reports.begin(), prog.reports.end(), [](int r) { return r > 12 && r < 95; }),
                      0);
        }
        {
            RecordingProgress prog(13);
            PNG png;
            EXPECT_FALSE(WritePlanes(dir / "c.png", p, png, &prog));
            EXPECT_EQ(png.GetError(), 0);
            EXPECT_LT(prog.reports.back(), 95);
        }
        PNG b;
        ASSERT_TRUE(Decode(b, one));
        // Grey decodes to plane 0; colour to 0..2 and alpha to -1.
        const std::vector<signed char> read =
            c.channels == 1 ? std::vector<signed char>{0} : std::vector<signed char>{0, 1, 2, -1};
        for (size_t k = 0; k < read.size(); ++k)
            EXPECT_EQ(Plane(b, read[k]), planes[k]) << c.w << " plane " << int(read[k]);
    }
}

// The fast form is for pictures a user saves: flat areas of a drawing must
// still shrink to almost nothing, under 2 % (a compressor without matches,
// Huffman alone, leaves at least a bit a byte, over 12 %), and the pixels
// come back, the same bytes whatever the thread count. Rows of one colour
// (the last hundred, in the second band of the colour cases) take a shorter
// way; zlib checks the stream's sum whole. The rows shrink so well that
// stretches of them switch to ordinary matching on the way.
TEST(CodecPNGWrite, FastSpeedShrinksFlatAreas)
{
    TempDir dir;
    struct Case {
        uint8_t mode;
        int channels;
    };
    const uint16_t w = 1200, h = 700;  // over one band
    for (Case c : {Case{PNG::WriteRGB, 3}, Case{PNG::WriteRGBA, 4}, Case{PNG::WriteGrey, 1}}) {
        // Two shapes on a plain ground, and a thin diagonal line at the top.
        std::vector<Bytes> planes(size_t(c.channels), Bytes(size_t(w) * h));
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const bool disc = (x - 300) * (x - 300) + (y - 350) * (y - 350) < 200 * 200;
                const bool box = x >= 700 && x < 1100 && y >= 100 && y < 600;
                const bool line = y < 300 && x / 12 == y / 7;
                for (int k = 0; k < c.channels; ++k)
                    planes[size_t(k)][size_t(y) * w + x] =
                        uint8_t(line ? 0 : disc ? 190 + 20 * k : box ? 40 + 60 * k : 255 - k);
            }
        PNG::PNGWRITE_PARAMS p;
        p.width = w;
        p.height = h;
        p.mode = c.mode;
        for (int k = 0; k < c.channels; ++k)
            p.planes[k] = planes[size_t(k)].data();
        p.stride = w;
        p.speed = PNG::PNGWRITE_PARAMS::Speed::Fast;
        auto write = [&](int threads) {
            setenv("TESSOLO_THREADS", std::to_string(threads).c_str(), 1);
            PNG wr;
            EXPECT_TRUE(WritePlanes(dir / "flat.png", p, wr));
            unsetenv("TESSOLO_THREADS");
            return ReadAll(dir / "flat.png");
        };
        const Bytes file = write(1);
        EXPECT_EQ(write(3), file) << int(c.mode);
        EXPECT_LT(file.size(), size_t(w) * h * size_t(c.channels) / 50) << int(c.mode);
        EXPECT_EQ(RowFilters(file, uint32_t(w) * uint32_t(c.channels)), std::vector<int>(h, 1)) << int(c.mode);
        PNG b;
        ASSERT_TRUE(Decode(b, file));
        const std::vector<signed char> read =
            c.channels == 1 ? std::vector<signed char>{0} : std::vector<signed char>{0, 1, 2, -1};
        for (size_t k = 0; k < read.size() && k < size_t(c.channels); ++k)
            EXPECT_EQ(Plane(b, read[k]), planes[k]) << int(c.mode) << " plane " << int(read[k]);
    }
}

TEST(CodecPNGWrite, BadArgumentsAndNoFile)
{
    TempDir dir;
    Bytes plane(4, 1);
    PNG::PNGWRITE_PARAMS p;
    p.width = 2;
    p.height = 2;
    p.stride = 2;
    for (auto& q : p.planes)
        q = plane.data();
    {
        PNG png;
        EXPECT_FALSE(png.WritePNG(&p));  // no file bound
        EXPECT_EQ(png.GetError(), qncodec::ErrArgument);
    }
    p.mode = 5;
    PNG png;
    EXPECT_FALSE(WritePlanes(dir / "m.png", p, png));
    EXPECT_EQ(png.GetError(), qncodec::ErrUnsupported);
    p.mode = PNG::WriteRGBA;
    p.height = 0;
    EXPECT_FALSE(WritePlanes(dir / "z.png", p, png));
    EXPECT_EQ(png.GetError(), qncodec::ErrArgument);
    p.height = 2;
    p.planes[3] = nullptr;
    EXPECT_FALSE(WritePlanes(dir / "n.png", p, png));
    EXPECT_EQ(png.GetError(), qncodec::ErrArgument);
}

TEST(CodecPNGWrite, FailedWriteIsAFailure)
{
    if (!std::filesystem::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full";
    Bytes plane(size_t{200} * 200);
    std::mt19937 rng(1);
    for (auto& v : plane)
        v = static_cast<unsigned char>(rng());
    PNG::PNGWRITE_PARAMS p;
    p.width = 200;
    p.height = 200;
    p.stride = 200;
    for (auto& q : p.planes)
        q = plane.data();
    for (auto speed : {PNG::PNGWRITE_PARAMS::Speed::Default, PNG::PNGWRITE_PARAMS::Speed::Fast}) {
        p.speed = speed;
        PNG png;
        CQNF_StdFile file;
        ASSERT_TRUE(file.Open("/dev/full", 2));
        ASSERT_TRUE(png.Create(file));
        EXPECT_FALSE(png.WritePNG(&p));
        EXPECT_NE(png.GetError(), 0);
        EXPECT_NE(png.GetError(), qncodec::ErrMemory);  // the file's own reason
    }
}

TEST(CodecPNGWrite, ProgressAndCancel)
{
    TempDir dir;
    Bytes plane(size_t{64} * 64, 9);
    PNG::PNGWRITE_PARAMS p;
    p.width = 64;
    p.height = 64;
    p.stride = 64;
    for (auto& q : p.planes)
        q = plane.data();
    {
        RecordingProgress prog;
        PNG png;
        ASSERT_TRUE(WritePlanes(dir / "a.png", p, png, &prog));
        EXPECT_EQ(prog.reports.front(), 1);
        EXPECT_EQ(prog.reports.back(), 100);
        EXPECT_TRUE(Rising(prog.reports));
    }
    {
        RecordingProgress prog(40);
        PNG png;
        EXPECT_FALSE(WritePlanes(dir / "b.png", p, png, &prog));
        EXPECT_EQ(png.GetError(), 0);
        EXPECT_LT(prog.reports.back(), 50);
    }
    {
        // Decoding cancels the same way and keeps no planes.
        const Bytes f = ReadAll(dir / "a.png");
        RecordingProgress prog(50);
        PNG png;
        png.SetProgress(&prog);
        EXPECT_FALSE(Decode(png, f));
        EXPECT_EQ(png.GetError(), 0);
        EXPECT_EQ(png.GetImageDataPtr(0), nullptr);
    }
}
