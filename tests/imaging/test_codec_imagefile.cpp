// Whole picture files through the codecs: kinds, reasons for refusal, the
// size limit, and PNG saving with and without alpha.
#include "imaging/ImageFile.h"

#include "imaging/Image.h"
#include "imaging/PSDCodec.h"

#include "test_codec_util.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <utility>

#include <zlib.h>

using namespace codectest;

namespace {

// A colour PNG of w x h with the given alpha (or none), through the saver.
void SavePng(const std::string& path, uint16_t w, uint16_t h, bool withAlpha)
{
    Bytes r(size_t{w} * h), g(r.size()), b(r.size()), a(r.size());
    for (size_t i = 0; i < r.size(); ++i) {
        r[i] = static_cast<unsigned char>(i);
        g[i] = static_cast<unsigned char>(i * 3);
        b[i] = static_cast<unsigned char>(255 - i);
        a[i] = static_cast<unsigned char>(i * 7);
    }
    const unsigned char* planes[4] = {r.data(), g.data(), b.data(), nullptr};
    unsigned short error = 0;
    ASSERT_TRUE(qnCodecSavePNG(path.c_str(), w, h, qncodec::ModeColour, planes, withAlpha ? a.data() : nullptr, w,
                               72.0, "test", error, withAlpha))
        << error;
}

}  // namespace

TEST(CodecImageFile, EveryRefusalHasItsReason)
{
    TempDir dir;
    CQNF_ImageFile f;
    EXPECT_FALSE(f.Load(dir / "missing.png"));
    EXPECT_EQ(f.GetFailure(), CQNF_ImageFile::Failure::CannotOpen);
    EXPECT_EQ(f.Reason(), "cannot read " + (dir / "missing.png") + ": no such file");

    WriteAll(dir / "short", {0x89, 'P'});
    EXPECT_FALSE(f.Load(dir / "short"));
    EXPECT_EQ(f.GetFailure(), CQNF_ImageFile::Failure::TooShort);

    WriteAll(dir / "x.gif", {'G', 'I', 'F', '8', '9', 'a'});
    EXPECT_FALSE(f.Load(dir / "x.gif"));
    EXPECT_EQ(f.Reason(), (dir / "x.gif") + ": not a PNG, JPEG or PSD file");
    EXPECT_FALSE(f.Load(dir / "x.gif", CQNF_ImageFile::KindPNG | CQNF_ImageFile::KindJPEG));
    EXPECT_EQ(f.Reason(), (dir / "x.gif") + ": not a PNG or JPEG file");

    // A kind that is not asked for is refused like any other.
    SavePng(dir / "a.png", 40, 3, false);
    EXPECT_FALSE(f.Load(dir / "a.png", CQNF_ImageFile::KindJPEG));
    EXPECT_EQ(f.GetFailure(), CQNF_ImageFile::Failure::UnknownKind);
    EXPECT_EQ(f.Reason(), (dir / "a.png") + ": not a JPEG file");

    // Too large for the caller: refused before decoding, nothing to read.
    EXPECT_FALSE(f.Load(dir / "a.png", CQNF_ImageFile::AllKinds, 39));
    EXPECT_EQ(f.GetFailure(), CQNF_ImageFile::Failure::TooLarge);
    EXPECT_EQ(f.Reason(), (dir / "a.png") +
                              ": the picture is too large: 40 x 3 pixels, more than the 39 pixels a side this program "
                              "reads");
    EXPECT_EQ(f.GetPlane(0), nullptr);
    ASSERT_TRUE(f.Load(dir / "a.png", CQNF_ImageFile::AllKinds, 40));
    EXPECT_STREQ(f.GetKindName(), "PNG");
    EXPECT_EQ(f.GetWidth(), 40);

    // Cut short: the codec's reason.
    Bytes cut = ReadAll(dir / "a.png");
    cut.resize(cut.size() - 20);
    WriteAll(dir / "cut.png", cut);
    EXPECT_FALSE(f.Load(dir / "cut.png"));
    EXPECT_EQ(f.GetFailure(), CQNF_ImageFile::Failure::Undecodable);
    EXPECT_EQ(f.Reason(), (dir / "cut.png") + ": PNG file is truncated");
    EXPECT_EQ(f.GetError(), qncodec::ErrCorrupt);
    EXPECT_EQ(f.GetPlane(-1), nullptr);
}

TEST(CodecImageFile, SavedWithOrWithoutAlphaAndReadBack)
{
    TempDir dir;
    CQNF_ImageFile f;
    for (bool alpha : {false, true}) {
        SavePng(dir / "c.png", 5, 4, alpha);
        EXPECT_EQ(ReadAll(dir / "c.png")[25], alpha ? 6 : 2);  // colour type
        ASSERT_TRUE(f.Load(dir / "c.png"));
        EXPECT_EQ(f.GetMode(), qncodec::ModeColour);
        EXPECT_EQ(f.HasAlpha(), alpha);
        EXPECT_EQ(f.GetPlane(1)[6], 18);
        EXPECT_EQ(f.GetPlane(2)[6], 249);
        EXPECT_EQ(f.GetPlane(-1)[6], alpha ? 42 : 255);
    }

    // CMYK (inverted form) becomes RGB; grey stays grey.
    Bytes c{200, 10}, m{100, 20}, y{50, 30}, k{255, 51};
    const unsigned char* cmyk[4] = {c.data(), m.data(), y.data(), k.data()};
    unsigned short error = 0;
    ASSERT_TRUE(qnCodecSavePNG((dir / "k.png").c_str(), 2, 1, qncodec::ModeCMYK, cmyk, nullptr, 2, 72.0, "t", error,
                               false));
    ASSERT_TRUE(f.Load(dir / "k.png"));
    EXPECT_EQ(f.GetMode(), qncodec::ModeColour);
    EXPECT_EQ(Bytes(f.GetPlane(0), f.GetPlane(0) + 2), (Bytes{200, 2}));
    EXPECT_EQ(Bytes(f.GetPlane(2), f.GetPlane(2) + 2), (Bytes{50, 6}));
    ASSERT_TRUE(qnCodecSavePNG((dir / "g.png").c_str(), 2, 1, qncodec::ModeGrey, cmyk, k.data(), 2, 72.0, "t", error));
    ASSERT_TRUE(f.Load(dir / "g.png"));
    EXPECT_EQ(f.GetMode(), qncodec::ModeGrey);
    EXPECT_TRUE(f.HasAlpha());
    EXPECT_EQ(Bytes(f.GetPlane(-1), f.GetPlane(-1) + 2), k);

    // An image: RGB stays without alpha, RGBA keeps it.
    CQNF_Image img;
    ASSERT_TRUE(img.Create(3, 2, qnimg::ModeRGB));
    img.Set(qntRGBA8{10, 20, 30, 40}, 0x0F);
    ASSERT_TRUE(qnSaveImagePNG((dir / "i.png").c_str(), img, "t", error));
    ASSERT_TRUE(f.Load(dir / "i.png"));
    EXPECT_FALSE(f.HasAlpha());
    EXPECT_EQ(f.GetPlane(2)[5], 30);
    ASSERT_TRUE(img.ChangeImageMode(qnimg::ModeRGBA));
    img.Set(qntRGBA8{10, 20, 30, 40}, 0x0F);
    ASSERT_TRUE(qnSaveImagePNG((dir / "i.png").c_str(), img, "t", error));
    ASSERT_TRUE(f.Load(dir / "i.png"));
    EXPECT_TRUE(f.HasAlpha());
    EXPECT_EQ(f.GetPlane(-1)[5], 40);

    // Nothing to save, or nowhere to save it: no file.
    CQNF_Image empty;
    EXPECT_FALSE(qnSaveImagePNG((dir / "e.png").c_str(), empty, "t", error));
    EXPECT_EQ(error, qncodec::ErrArgument);
    EXPECT_FALSE(qnSaveImagePNG((dir / "none/i.png").c_str(), img, "t", error));
    EXPECT_EQ(error, qnerr::FileNotOpened);
    EXPECT_FALSE(std::filesystem::exists(dir / "e.png"));
}

TEST(CodecImageFile, PsdGivesItsMergedImage)
{
    TempDir dir;
    {
        CQNF_StdFile file;
        ASSERT_TRUE(file.Open((dir / "m.psd").c_str(), 2));
        CQNF_ImagePSD psd;
        ASSERT_TRUE(psd.Create(file));
        CQNF_ImagePSD::PSDMLWRITE_INITPARAMS init;
        init.width = 4;
        init.height = 2;
        init.mode = qncodec::ModeColour;
        ASSERT_TRUE(psd.Write_Init(&init));
        Bytes red(8, 200), zero(8, 0), opaque(8, 255);
        unsigned char* planes[5] = {red.data(), zero.data(), zero.data(), opaque.data(), nullptr};
        CQNF_ImagePSD::PSDMLWRITE_LAYERPARAMS l;
        l.width = 4;
        l.height = 2;
        std::strcpy(l.name, "only");
        ASSERT_TRUE(psd.Write_AddLayer(&l, planes, 4));
        ASSERT_TRUE(psd.WritePSD());
        psd.WriteClean();
        ASSERT_TRUE(file.Close());
    }
    CQNF_ImageFile f;
    ASSERT_TRUE(f.Load(dir / "m.psd"));
    EXPECT_EQ(f.GetKind(), CQNF_ImageFile::KindPSD);
    EXPECT_EQ(f.GetMode(), qncodec::ModeColour);
    EXPECT_FALSE(f.HasAlpha());
    EXPECT_EQ(f.GetPlane(0)[7], 200);
    EXPECT_EQ(f.GetPlane(1)[7], 0);
    EXPECT_FALSE(f.Load(dir / "m.psd", CQNF_ImageFile::KindPNG));
    EXPECT_EQ(CQNF_ImageFile::KindOfFile(dir / "m.psd"), CQNF_ImageFile::KindPSD);
    EXPECT_EQ(CQNF_ImageFile::KindOfFile(dir / "missing.psd"), 0);

    // The layers come from the bytes the merged image was read from.
    ASSERT_TRUE(f.Load(dir / "m.psd"));
    auto& psd = static_cast<CQNF_ImagePSD&>(*f.GetReader());
    ASSERT_TRUE(psd.LParseLocal());
    ASSERT_EQ(psd.GetLayersCount(), 1u);
    CQNF_ImagePSD::PSDLayerInfoExt_s info{};
    ASSERT_TRUE(psd.GetLayerInfo(0, info));
    EXPECT_STREQ(info.name, "only");
}

namespace {

// A PNG of its header alone: IHDR, an empty IDAT and IEND.
void HeaderOnlyPng(const std::string& path, uint32_t w, uint32_t h, uint8_t colourType)
{
    Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    auto chunk = [&](const char* type, const Bytes& data) {
        Bytes body(type, type + 4);
        body.insert(body.end(), data.begin(), data.end());
        for (int s = 24; s >= 0; s -= 8)
            png.push_back(static_cast<unsigned char>(data.size() >> s));
        png.insert(png.end(), body.begin(), body.end());
        const uint32_t crc = static_cast<uint32_t>(crc32(0, body.data(), static_cast<uInt>(body.size())));
        for (int s = 24; s >= 0; s -= 8)
            png.push_back(static_cast<unsigned char>(crc >> s));
    };
    Bytes ihdr;
    for (uint32_t v : {w, h})
        for (int s = 24; s >= 0; s -= 8)
            ihdr.push_back(static_cast<unsigned char>(v >> s));
    ihdr.insert(ihdr.end(), {8, colourType, 0, 0, 0});
    chunk("IHDR", ihdr);
    chunk("IDAT", {});
    chunk("IEND", {});
    WriteAll(path, png);
}

}  // namespace

TEST(CodecImageFile, DecodeLimitCountsThePlanesExactly)
{
    // A colour PNG decodes into four planes (alpha always), a grey one into
    // two: 16384 x 16384 colour and 23170 x 23170 grey lie within the 1 GiB
    // a picture may take, one row or column more does not. Judged from the
    // header, before any plane is made.
    TempDir dir;
    struct Case {
        uint32_t w, h;
        uint8_t colourType;
        bool over;
    };
    const Case cases[] = {{16384, 16384, 2, false}, {16384, 16385, 2, true},  {16385, 16384, 6, true},
                          {23170, 23170, 0, false}, {23171, 23170, 0, true}, {23170, 23171, 4, true}};
    for (const Case& c : cases) {
        const std::string size = std::to_string(c.w) + " x " + std::to_string(c.h);
        SCOPED_TRACE(size);
        const std::string path = dir / "p.png";
        HeaderOnlyPng(path, c.w, c.h, c.colourType);
        CQNF_ImageFile f;
        EXPECT_FALSE(f.Load(path));
        if (c.over) {
            EXPECT_EQ(f.GetFailure(), CQNF_ImageFile::Failure::TooLarge);
            EXPECT_EQ(f.Reason(), path + ": the picture is too large: " + size +
                                      " pixels, which take 1025 MiB to decode, more than the 1024 MiB one picture "
                                      "may take");
            EXPECT_FALSE(f.LoadHeader(path));
            EXPECT_EQ(f.GetFailure(), CQNF_ImageFile::Failure::TooLarge);
        } else {
            // Within the limit: what stops it is the missing image data.
            EXPECT_EQ(f.GetFailure(), CQNF_ImageFile::Failure::Undecodable);
            EXPECT_NE(f.Reason().find("PNG file is truncated"), std::string::npos) << f.Reason();
            // Its header alone reads, and makes no plane.
            ASSERT_TRUE(f.LoadHeader(path)) << f.Reason();
            EXPECT_EQ(f.GetWidth(), c.w);
            EXPECT_EQ(f.GetHeight(), c.h);
            EXPECT_EQ(f.GetPlane(0), nullptr);
        }
    }
}

TEST(CodecImageFile, PsdHeaderGivesTheSizeWithoutItsPixels)
{
    // Uncompressed documents of 16000 x 16000 grey and 30000 x 30000 RGB
    // (256 MB and 2.7 GB of pixels) at 300 dpi, cut after the merged image's
    // compression word: what comes before the pixels is whole, the pixels
    // are not there. The header read gives the size and the resolution
    // without going near them; a whole read finds them missing.
    TempDir dir;
    constexpr auto Opening = CQNF_ImageFile::PsdRead::Opening;
    auto opening = [](uint32_t side, uint16_t channels, uint32_t resources) {
        BE psd;
        psd.tag("8BPS").u16(1).zeros(6).u16(channels).u32(side).u32(side).u16(8).u16(channels == 1 ? 1 : 3);
        psd.u32(0).u32(resources).tag("8BIM").u16(1005).u16(0).u32(16);
        psd.u32(300u << 16).u16(1).u16(1).u32(300u << 16).u16(1).u16(1);
        return psd.u32(0).u16(0).b;  // no layers; raw channels
    };
    for (const auto& [side, channels] : {std::pair{16000u, uint16_t{1}}, std::pair{30000u, uint16_t{3}}}) {
        SCOPED_TRACE(side);
        const std::string path = dir / "cut.psd";
        WriteAll(path, opening(side, channels, 28));
        CQNF_ImageFile f;
        ASSERT_TRUE(f.LoadHeader(path, CQNF_ImageFile::AllKinds, 30000, UINT64_MAX, Opening)) << f.Reason();
        EXPECT_EQ(f.GetKind(), CQNF_ImageFile::KindPSD);
        EXPECT_EQ(f.GetWidth(), side);
        EXPECT_EQ(f.GetHeight(), side);
        EXPECT_EQ(f.GetResolutionX(), 300.0);
        EXPECT_EQ(f.GetResolutionY(), 300.0);
        EXPECT_EQ(f.GetPlane(0), nullptr);
        EXPECT_FALSE(f.Load(path, CQNF_ImageFile::AllKinds, 30000));
        EXPECT_FALSE(f.LoadHeader(path, CQNF_ImageFile::AllKinds, 30000, UINT64_MAX));  // read whole
        if (side == 16000) {
            EXPECT_EQ(f.Reason(), path + ": PSD file is truncated: it ends inside its merged image");
        }
    }
    // What comes before the pixels is judged all the same: image resources
    // longer than the file, a side over the limit, a depth not read.
    const std::string path = dir / "bad.psd";
    WriteAll(path, opening(16000, 1, 0xFFFFFF00u));
    CQNF_ImageFile f;
    EXPECT_FALSE(f.LoadHeader(path, CQNF_ImageFile::AllKinds, 30000, UINT64_MAX, Opening));
    EXPECT_EQ(f.Reason(), path + ": PSD file is truncated: it ends inside its image resources");
    WriteAll(path, opening(30001, 1, 28));
    EXPECT_FALSE(f.LoadHeader(path, CQNF_ImageFile::AllKinds, 30000, UINT64_MAX, Opening));
    EXPECT_EQ(f.GetFailure(), CQNF_ImageFile::Failure::TooLarge);
    Bytes deep = opening(100, 1, 28);
    deep[23] = 16;
    WriteAll(path, deep);
    EXPECT_FALSE(f.LoadHeader(path, CQNF_ImageFile::AllKinds, 30000, UINT64_MAX, Opening));
    EXPECT_EQ(f.Reason(), path + ": cannot read this PSD: 16 bits per channel");
}
