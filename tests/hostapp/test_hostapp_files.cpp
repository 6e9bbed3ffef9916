// Image files, the descriptor file format, layer compositing and the command line.
#include "core/SafeFile.h"
#include "core/StdFile.h"
#include "hostapp/HostDescriptor.h"
#include "hostapp/HostDocument.h"
#include "hostapp/HostProgram.h"
#include "hostapp/RasterImage.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>

#include <jpeglib.h>

using namespace hostapp;

namespace {

std::string TempPath(const std::string& name)
{
    const auto dir = std::filesystem::temp_directory_path() /
                     ("hostapp_files_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
    std::filesystem::create_directories(dir);
    return (dir / name).string();
}

void WriteJpeg(const std::string& path, J_COLOR_SPACE space, int components, bool adobe, uint8_t value)
{
    jpeg_compress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    jpeg_stdio_dest(&c, f);
    c.image_width = 16;
    c.image_height = 8;
    c.input_components = components;
    c.in_color_space = space;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 100, TRUE);
    if (space == JCS_CMYK)
        jpeg_set_colorspace(&c, JCS_CMYK);
    c.write_Adobe_marker = adobe ? TRUE : FALSE;
    jpeg_start_compress(&c, TRUE);
    std::vector<uint8_t> row(16 * static_cast<size_t>(components), value);
    while (c.next_scanline < c.image_height) {
        JSAMPROW r = row.data();
        jpeg_write_scanlines(&c, &r, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    std::fclose(f);
}

TEST(HostFiles, PngRoundTripKeepsEveryLayoutAndCmykWritesAsRgb)
{
    for (ColorMode mode : {ColorMode::Gray, ColorMode::RGB})
        for (bool alpha : {false, true}) {
            RasterImage img;
            img.Allocate(mode, 13, 7, alpha);
            for (size_t p = 0; p < img.planes.size(); ++p)
                for (size_t i = 0; i < img.PixelCount(); ++i)
                    img.planes[p][i] = static_cast<uint8_t>(i * 31 + p * 17);
            std::string err;
            const std::string path = TempPath("round.png");
            ASSERT_TRUE(WritePngFile(path, img, err)) << err;
            RasterImage back;
            ASSERT_TRUE(ReadImageFile(path, back, err)) << err;
            EXPECT_EQ(back.mode, mode);
            EXPECT_EQ(back.hasAlpha, alpha);
            EXPECT_EQ(back.planes, img.planes);
        }
    RasterImage cmyk;
    cmyk.Allocate(ColorMode::CMYK, 2, 1, false, 255);
    cmyk.planes[0][0] = 100;
    std::string err;
    const std::string path = TempPath("cmyk.png");
    ASSERT_TRUE(WritePngFile(path, cmyk, err));
    RasterImage back;
    ASSERT_TRUE(ReadImageFile(path, back, err));
    EXPECT_EQ(back.mode, ColorMode::RGB);
    EXPECT_EQ(back.planes[0][0], 100);
    EXPECT_EQ(back.planes[1][0], 255);
}

TEST(HostFiles, JpegGrayRgbAndBothCmykConventionsRead)
{
    std::string err;
    RasterImage img;
    const std::string path = TempPath("t.jpg");
    WriteJpeg(path, JCS_GRAYSCALE, 1, false, 90);
    ASSERT_TRUE(ReadImageFile(path, img, err)) << err;
    EXPECT_EQ(img.mode, ColorMode::Gray);
    EXPECT_NEAR(img.planes[0][5], 90, 1);
    WriteJpeg(path, JCS_RGB, 3, false, 90);
    ASSERT_TRUE(ReadImageFile(path, img, err)) << err;
    EXPECT_EQ(img.mode, ColorMode::RGB);
    EXPECT_EQ(img.width, 16);
    // With the Adobe marker the stored bytes are the plane form already;
    // without it they are ink amounts.
    WriteJpeg(path, JCS_CMYK, 4, true, 40);
    ASSERT_TRUE(ReadImageFile(path, img, err)) << err;
    EXPECT_EQ(img.mode, ColorMode::CMYK);
    EXPECT_NEAR(img.planes[3][0], 40, 1);
    WriteJpeg(path, JCS_CMYK, 4, false, 40);
    ASSERT_TRUE(ReadImageFile(path, img, err)) << err;
    EXPECT_NEAR(img.planes[3][0], 215, 1);
}

TEST(HostFiles, DamagedImagesAreRefusedWithAReason)
{
    std::string err;
    RasterImage img;
    EXPECT_FALSE(ReadImageFile(TempPath("missing.png"), img, err));
    EXPECT_FALSE(err.empty());
    const std::string path = TempPath("cut.png");
    RasterImage src;
    src.Allocate(ColorMode::RGB, 64, 64, false, 9);
    ASSERT_TRUE(WritePngFile(path, src, err));
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(qnReadWholeFile(path, bytes, err));
    bytes.resize(bytes.size() / 2);
    ASSERT_EQ(qnReplaceFile(path, bytes.data(), bytes.size()), 0);
    err.clear();
    EXPECT_FALSE(ReadImageFile(path, img, err));
    EXPECT_FALSE(err.empty());
    ASSERT_EQ(qnReplaceFile(path, "GIF89a", 6), 0);
    EXPECT_FALSE(ReadImageFile(path, img, err));
}

TEST(HostFiles, DescriptorParseRefusesEveryTruncation)
{
    HostDescriptor d;
    d.PutInteger(FILTER_FOURCC('q', 'n', 'e', 'S'), 20000010);
    d.PutText(FILTER_FOURCC('q', 'n', 'e', '0'), {'A', 'A', 'A', '0', '1', 0});
    const std::vector<uint8_t> bytes = d.Serialize();
    HostDescriptor back;
    std::string err;
    ASSERT_TRUE(HostDescriptor::Parse(bytes.data(), bytes.size(), back, err));
    ASSERT_EQ(back.items.size(), 2u);
    EXPECT_EQ(HostDescriptor::IntegerOf(back.items[0]), 20000010);
    EXPECT_EQ(back.items[1].value, d.items[1].value);
    for (size_t n = 0; n < bytes.size(); ++n)
        EXPECT_FALSE(HostDescriptor::Parse(bytes.data(), n, back, err)) << n;
    std::vector<uint8_t> hostile = bytes;
    hostile[4] = 0xFF;  // item count far above the data
    EXPECT_FALSE(HostDescriptor::Parse(hostile.data(), hostile.size(), back, err));
}

TEST(HostFiles, CompositeBlendsLayersBottomFirst)
{
    RasterImage bottom;
    bottom.Allocate(ColorMode::Gray, 3, 1, false, 0);
    HostDocument doc = HostDocument::FromImage(bottom, "bg");
    RasterImage top;
    top.Allocate(ColorMode::Gray, 3, 1, true, 255);
    top.planes[1] = {0, 128, 255};
    std::string err;
    ASSERT_TRUE(doc.AddLayer(top, "top", err));
    const RasterImage c = doc.Composite();
    EXPECT_EQ(c.planes[0], (std::vector<uint8_t>{0, 128, 255}));
    EXPECT_EQ(c.planes[1], (std::vector<uint8_t>{255, 255, 255}));
    RasterImage wrong;
    wrong.Allocate(ColorMode::Gray, 2, 1, false);
    EXPECT_FALSE(doc.AddLayer(wrong, "small", err));
}

// Stacks of layers: opaque ones at full opacity (which cover what lies
// below), faded ones, ones with transparency, hidden ones, in every mode:
// the composite is "over" of the visible layers from the bottom up, its
// coverage accumulated exactly.
TEST(HostFiles, CompositeIsOverOfTheVisibleLayersInEveryStack)
{
    struct Spec {
        bool alpha;
        uint8_t opacity;
        bool visible;
    };
    struct Case {
        const char* what;
        ColorMode mode;
        std::vector<Spec> layers;  // bottom first
    } cases[] = {
        {"one opaque layer", ColorMode::RGB, {{false, 255, true}}},
        {"opaque over transparent", ColorMode::RGB, {{true, 255, true}, {false, 255, true}}},
        {"transparent over opaque", ColorMode::Gray, {{false, 255, true}, {true, 200, true}}},
        {"faded opaque layers", ColorMode::CMYK, {{false, 90, true}, {false, 170, true}}},
        {"hidden opaque top", ColorMode::RGB, {{true, 255, true}, {true, 77, true}, {false, 255, false}}},
        {"opaque between transparent", ColorMode::RGB, {{true, 255, true}, {false, 255, true}, {true, 255, true}}},
    };
    uint32_t seed = 9;
    auto next = [&seed]() {
        seed = seed * 1664525u + 1013904223u;
        return static_cast<uint8_t>(seed >> 24);
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const int w = 37, h = 5;
        HostDocument doc;
        std::string err;
        bool anyAlpha = false;
        for (size_t i = 0; i < c.layers.size(); ++i) {
            RasterImage img;
            img.Allocate(c.mode, w, h, c.layers[i].alpha, 0);
            for (auto& plane : img.planes)
                for (auto& v : plane)
                    v = next();
            if (c.layers[i].alpha)  // some pixels wholly clear or covered
                for (size_t k = 0; k < img.PixelCount(); k += 3)
                    img.planes.back()[k] = k % 2 ? 255 : 0;
            anyAlpha = anyAlpha || c.layers[i].alpha;
            if (i == 0) {
                doc = HostDocument::FromImage(img, "bottom");
            } else {
                ASSERT_TRUE(doc.AddLayer(img, "layer", err)) << err;
            }
            doc.layers.back().opacity = c.layers[i].opacity;
            doc.layers.back().visible = c.layers[i].visible;
        }
        const RasterImage got = doc.Composite();
        const int colours = ColorPlanes(c.mode);
        ASSERT_EQ(got.hasAlpha, anyAlpha);
        for (size_t i = 0; i < got.PixelCount(); ++i) {
            uint32_t colour[4] = {}, cover = 0;
            for (const HostLayer& l : doc.layers) {
                if (!l.visible)
                    continue;
                const uint32_t sa = (l.pixels.hasAlpha ? l.pixels.planes[size_t(colours)][i] : 255) * l.opacity / 255;
                if (!sa)
                    continue;
                const uint32_t dw = cover * (255 - sa), oa = sa * 255 + dw;
                for (int k = 0; k < colours; ++k)
                    colour[k] = (l.pixels.planes[size_t(k)][i] * sa * 255 + colour[k] * dw + oa / 2) / oa;
                cover = (oa + 127) / 255;
            }
            for (int k = 0; k < colours; ++k)
                ASSERT_EQ(got.planes[size_t(k)][i], colour[k]) << "plane " << k << " pixel " << i;
            if (anyAlpha) {
                ASSERT_EQ(got.planes[size_t(colours)][i], cover) << "pixel " << i;
            }
        }
    }
}

TEST(HostFiles, CommandLineRefusesBadValuesWithAReason)
{
    const std::vector<std::vector<std::string>> bad = {
        {"in.png"},
        {"--mode", "lab", "a", "b"},
        {"--fg", "12345", "a", "b"},
        {"--max-space", "-5", "a", "b"},
        {"--frobnicate", "a", "b"},
        {"a", "b", "--repeat"},
    };
    for (const auto& args : bad) {
        HostCommandLine cmd;
        bool help = false;
        std::string err;
        EXPECT_FALSE(ParseHostCommandLine(args, cmd, help, err)) << args[0];
        EXPECT_FALSE(err.empty());
    }
    HostCommandLine cmd;
    bool help = false;
    std::string err;
    ASSERT_TRUE(ParseHostCommandLine({"--dialog", "--fg", "FF8000", "--max-text", "2000", "--pick", "0a0b0c", "in.jpg",
                                      "out.png", "--plugin", "x.so"},
                                     cmd, help, err))
        << err;
    EXPECT_EQ(cmd.sequence, StandInHost::Sequence::Dialog);
    EXPECT_EQ(cmd.foreground[1], 0x80);
    EXPECT_EQ(cmd.settings.maxText, 2000);
    EXPECT_FALSE(cmd.settings.pickCancels);
    EXPECT_EQ(cmd.settings.pick[2], 12);
    EXPECT_EQ(cmd.plugin, "x.so");
    EXPECT_EQ(cmd.output, "out.png");
}

}  // namespace

#include "hostapp/PsdDocument.h"
#include "imaging/PSDCodec.h"

namespace {

TEST(HostFiles, LayeredPsdBecomesADocumentOfLayersOnTheCanvas)
{
    const std::string path = TempPath("layers.psd");
    {
        CQNF_StdFile file;
        ASSERT_TRUE(file.Open(CQNF_String(path.c_str()), 2));
        CQNF_ImagePSD psd;
        ASSERT_TRUE(psd.Create(file));
        CQNF_ImagePSD::PSDMLWRITE_INITPARAMS init;
        init.width = 20;
        init.height = 10;
        init.mode = qncodec::ModeColour;
        ASSERT_TRUE(psd.Write_Init(&init));
        // A full background and a small half-transparent layer that hangs
        // over the right edge.
        std::vector<uint8_t> bg(4 * 200, 255);
        std::fill(bg.begin(), bg.begin() + 200, 10);
        unsigned char* bgPlanes[5] = {&bg[0], &bg[200], &bg[400], &bg[600], nullptr};
        CQNF_ImagePSD::PSDMLWRITE_LAYERPARAMS l1;
        l1.width = 20;
        l1.height = 10;
        std::strcpy(l1.name, "Bottom");
        ASSERT_TRUE(psd.Write_AddLayer(&l1, bgPlanes, 20));
        std::vector<uint8_t> top(4 * 16, 128);
        unsigned char* topPlanes[5] = {&top[0], &top[16], &top[32], &top[48], nullptr};
        CQNF_ImagePSD::PSDMLWRITE_LAYERPARAMS l2;
        l2.width = 4;
        l2.height = 4;
        l2.x = 18;
        l2.y = 3;
        std::strcpy(l2.name, "Top");
        ASSERT_TRUE(psd.Write_AddLayer(&l2, topPlanes, 4));
        ASSERT_TRUE(psd.WritePSD());
        psd.WriteClean();
        ASSERT_TRUE(file.Close());
    }
    HostDocument doc;
    std::string err;
    ASSERT_TRUE(ReadPsdDocument(path, doc, err)) << err;
    EXPECT_EQ(doc.mode, ColorMode::RGB);
    ASSERT_EQ(doc.layers.size(), 2u);
    EXPECT_EQ(doc.target, 1u);
    EXPECT_EQ(doc.layers[0].name, "Bottom");
    EXPECT_EQ(doc.layers[1].id, 2);
    const RasterImage& t = doc.layers[1].pixels;
    EXPECT_EQ(t.width, 20);
    EXPECT_EQ(t.planes[3][3 * 20 + 18], 128);  // inside the canvas
    EXPECT_EQ(t.planes[3][3 * 20 + 17], 0);    // left of the layer
    EXPECT_EQ(t.planes[0][4 * 20 + 19], 128);
    EXPECT_EQ(doc.layers[0].pixels.planes[0][5], 10);

    // Not a PSD, or a cut one: refused with a reason.
    EXPECT_FALSE(ReadPsdDocument(TempPath("missing.psd"), doc, err));
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(qnReadWholeFile(path, bytes, err));
    bytes.resize(bytes.size() / 3);
    ASSERT_EQ(qnReplaceFile(path, bytes.data(), bytes.size()), 0);
    err.clear();
    EXPECT_FALSE(ReadPsdDocument(path, doc, err));
    EXPECT_FALSE(err.empty());
}

}  // namespace
