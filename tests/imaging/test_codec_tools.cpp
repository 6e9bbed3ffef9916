// Layered documents checked by independent readers (psd-tools, ImageMagick),
// through tessolo-tool and straight from the codec; the tool's PNG/JPEG/PSD
// conversions.
#include "core/SafeFile.h"
#include "imaging/ImageFile.h"
#include "imaging/PNGCodec.h"
#include "imaging/PSDCodec.h"

#include "test_codec_util.h"
#include "tests/need_program.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <memory>

using namespace codectest;

namespace {

const std::string kTool = std::string(TESSOLO_BINARY_DIR) + "/tools/tessolo-tool";

std::string Capture(const std::string& cmd)
{
    std::string out;
    std::unique_ptr<FILE, int (*)(FILE*)> p(popen(cmd.c_str(), "r"), pclose);
    if (!p)
        return out;
    std::array<char, 512> buf;
    while (fgets(buf.data(), buf.size(), p.get()))
        out += buf.data();
    return out;
}

// A Python with psd-tools, or "".
std::string PsdToolsPython()
{
    for (const char* py : {"python3", "/usr/bin/python3"})
        if (Sh(std::string(py) + " -c 'import psd_tools' >/dev/null 2>&1"))
            return py;
    return "";
}

// A solid RGBA PNG.
void SolidPng(const std::string& path, uint16_t w, uint16_t h, std::array<unsigned char, 4> rgba)
{
    std::vector<Bytes> planes;
    for (unsigned char v : rgba)
        planes.emplace_back(size_t{w} * h, v);
    const unsigned char* p[4] = {planes[0].data(), planes[1].data(), planes[2].data(), nullptr};
    unsigned short error;
    ASSERT_TRUE(qnCodecSavePNG(path.c_str(), w, h, qncodec::ModeColour, p, planes[3].data(), w, 72.0, "t", error));
}

}  // namespace

TEST(CodecTools, ToolDocumentOpensInIndependentReaders)
{
    ASSERT_TRUE(std::filesystem::exists(kTool)) << kTool << " was not built";
    NEED_PYTHON_MODULE("psd_tools", "python3-psd-tools");
    NEED_PROGRAM("identify", "imagemagick");
    const std::string py = PsdToolsPython();
    TempDir dir;
    SolidPng(dir / "red.png", 40, 30, {200, 0, 0, 255});
    SolidPng(dir / "blue.png", 10, 20, {0, 0, 255, 128});
    ASSERT_TRUE(Sh("'" + kTool + "' psd write '" + (dir / "d.psd") + "' '" + (dir / "red.png") + "' '" +
                   (dir / "blue.png") + "@-5,12:Blue piece' >/dev/null"));
    {
        const std::string out = Capture(py + " -c \"from psd_tools import PSDImage; p = PSDImage.open('" +
                                        (dir / "d.psd") + "'); print(p.size, [(l.name, l.visible, l.bbox) for l in p])\"");
        EXPECT_EQ(out, "(40, 32) [('red', True, (0, 0, 40, 30)), ('Blue piece', True, (-5, 12, 5, 32))]\n");
    }
    {
        const std::string out = Capture("identify '" + (dir / "d.psd") + "' 2>&1");
        EXPECT_NE(out.find("[0] PSD 40x32 40x32+0+0 8-bit"), std::string::npos) << out;
        EXPECT_NE(out.find("[1] PSD 40x30 40x30+0+0"), std::string::npos) << out;
        EXPECT_NE(out.find("[2] PSD 10x20 10x20-5+12"), std::string::npos) << out;
    }

    // Back through the tool: the layers and the merged image as PNG files.
    std::filesystem::create_directory(dir / "out");
    ASSERT_TRUE(Sh("'" + kTool + "' psd read '" + (dir / "d.psd") + "' '" + (dir / "out") + "' >/dev/null"));
    const Bytes layer = ReadAll(dir / "out/layer_001.png");
    CQNF_ImagePNG png;
    ASSERT_TRUE(png.ParseImageByPtr(layer.data(), layer.size()));
    EXPECT_EQ(png.GetImageDataPtr(2)[0], 255);
    EXPECT_EQ(png.GetImageDataPtr(-1)[0], 128);
    const Bytes merged = ReadAll(dir / "out/merged.png");
    ASSERT_TRUE(png.ParseImageByPtr(merged.data(), merged.size()));
    // Half blue over red at (0, 12): (200 * 127) / 255 = 99 red.
    EXPECT_EQ(png.GetImageDataPtr(0)[12 * 40], 99);
    EXPECT_EQ(png.GetImageDataPtr(0)[0], 200);
}

TEST(CodecTools, HiddenLayersAndGroupsInPsdTools)
{
    NEED_PYTHON_MODULE("psd_tools", "python3-psd-tools");
    const std::string py = PsdToolsPython();
    TempDir dir;
    CQNF_ImagePSD psd;
    CQNF_ImagePSD::PSDMLWRITE_INITPARAMS init;
    init.width = 16;
    init.height = 16;
    init.mode = qncodec::ModeColour;
    init.globalAngle = 130;
    ASSERT_TRUE(psd.Write_Init(&init));
    Bytes white(64, 255), black(64, 0), opaque(64, 255);
    unsigned char* planes[5] = {black.data(), black.data(), black.data(), opaque.data(), nullptr};
    CQNF_ImagePSD::PSDMLWRITE_LAYERPARAMS l;
    l.width = 8;
    l.height = 8;
    l.x = 4;
    l.y = 2;
    std::strcpy(l.name, "shown");
    ASSERT_TRUE(psd.Write_AddLayer(&l, planes, 8));
    l.visible = 0;
    l.x = -3;
    std::strcpy(l.name, "Layer \xC3\xA9");  // UTF-8
    ASSERT_TRUE(psd.Write_AddLayer(&l, planes, 8));
    CQNF_SafeFile out;
    ASSERT_TRUE(out.Open((dir / "h.psd").c_str()));
    ASSERT_TRUE(psd.Create(out.File()));
    ASSERT_TRUE(psd.WritePSD());
    ASSERT_TRUE(out.Commit());
    const std::string got = Capture(py + " -c \"from psd_tools import PSDImage; p = PSDImage.open('" + (dir / "h.psd") +
                                    "'); print([(l.name, l.visible, l.bbox) for l in p]); m = p.topil(); "
                                    "print(m.getpixel((0, 2)), m.getpixel((5, 3)))\"");
    EXPECT_EQ(got, "[('shown', True, (4, 2, 12, 10)), ('Layer \xC3\xA9', False, (-3, 2, 5, 10))]\n"
                   "(255, 255, 255) (0, 0, 0)\n");
}

TEST(CodecTools, ConvertReadsEveryFormat)
{
    ASSERT_TRUE(std::filesystem::exists(kTool)) << kTool << " was not built";
    NEED_PROGRAM("cjpeg", "libjpeg-turbo-progs");
    TempDir dir;
    SolidPng(dir / "a.png", 9, 7, {1, 2, 3, 4});
    ASSERT_TRUE(Sh("'" + kTool + "' convert '" + (dir / "a.png") + "' '" + (dir / "b.png") + "' >/dev/null"));
    const Bytes b = ReadAll(dir / "b.png");
    CQNF_ImagePNG png;
    ASSERT_TRUE(png.ParseImageByPtr(b.data(), b.size()));
    EXPECT_EQ(png.GetImageDataPtr(2)[62], 3);
    EXPECT_EQ(png.GetImageDataPtr(-1)[62], 4);
    {
        WriteAll(dir / "g.pgm", Bytes{'P', '5', ' ', '2', ' ', '1', ' ', '2', '5', '5', '\n', 0, 255});
        ASSERT_TRUE(Sh("cjpeg -grayscale -outfile '" + (dir / "g.jpg") + "' '" + (dir / "g.pgm") + "'"));
        ASSERT_TRUE(Sh("'" + kTool + "' convert '" + (dir / "g.jpg") + "' '" + (dir / "g.png") + "' >/dev/null"));
        const Bytes g = ReadAll(dir / "g.png");
        ASSERT_TRUE(png.ParseImageByPtr(g.data(), g.size()));
        EXPECT_EQ(png.GetImageMode(), qncodec::ModeGrey);
    }
    // Bad input: a clear error, and the existing output stays as it was.
    WriteAll(dir / "junk.png", Bytes{0x89, 'P', 'N', 'G', 1, 2, 3});
    EXPECT_FALSE(Sh("'" + kTool + "' convert '" + (dir / "junk.png") + "' '" + (dir / "b.png") + "' 2>/dev/null"));
    EXPECT_EQ(ReadAll(dir / "b.png"), b);
    EXPECT_FALSE(Sh("'" + kTool + "' convert '" + (dir / "a.png") + "' 2>/dev/null"));
}
