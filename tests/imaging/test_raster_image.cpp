#include "imaging/Image.h"
#include "imaging/Div255.h"

#include "core/Mem.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <set>
#include <utility>
#include <vector>

namespace {

constexpr qntRGBA8 kRed{255, 0, 0, 255};

// An image whose every byte is a function of plane, x and y.
void Pattern(CQNF_Image& img, uint16_t w, uint16_t h, uint8_t mode, int seed = 0)
{
    ASSERT_TRUE(img.Create(w, h, mode));
    uint8_t* p = img.GetMemObj()->GetPtr();
    for (uint32_t i = 0; i < img.GetMemObj()->GetSize(); ++i)
        p[i] = static_cast<uint8_t>(i * 7 + seed * 13 + 1);
}

uint8_t At(CQNF_Image& img, unsigned plane, int x, int y) { return img.GetPlane(plane)[y * img.GetImageWidth() + x]; }

std::vector<uint8_t> Bytes(CQNF_Image& img)
{
    const uint8_t* p = img.GetMemObj()->GetPtr();
    return {p, p + img.GetMemObj()->GetSize()};
}

bool SameColour(qntRGBA8 a, qntRGBA8 b) { return a.r == b.r && a.g == b.g && a.b == b.b && a.a == b.a; }

}  // namespace

TEST(RasterImage, CreateRefusesZeroSizeBadModeAndOversize)
{
    CQNF_Image img;
    EXPECT_FALSE(img.Create(0, 10, 1));
    EXPECT_EQ(img.GetError(), 0);
    EXPECT_FALSE(img.Create(10, 10, 3));
    EXPECT_EQ(img.GetError(), qnerr::BadArgument);
    EXPECT_EQ(img.GetImageMode(), 0);
    EXPECT_EQ(img.GetMemObj(), nullptr);
    // 65535 x 65535 x 4 bytes does not fit the 32-bit block size.
    EXPECT_FALSE(img.Create(65535, 65535, 2));
    EXPECT_EQ(img.GetError(), qnerr::NoMemory);
    EXPECT_EQ(img.GetImageWidth(), 0);

    ASSERT_TRUE(img.Create(5, 3, 2));
    EXPECT_EQ(img.GetMemObj()->GetSize(), 5u * 3 * 4);
    uint16_t w = 0, h = 0;
    EXPECT_TRUE(img.GetImageSize(w, h));
    EXPECT_EQ(w, 5);
    EXPECT_EQ(h, 3);
}

TEST(RasterImage, CreateFromSourceConvertsModes)
{
    CQNF_Image rgba;
    Pattern(rgba, 4, 3, 2);
    CQNF_Image rgb;
    ASSERT_TRUE(rgb.Create(&rgba, 1));
    EXPECT_EQ(rgb.GetImageMode(), 1);
    EXPECT_EQ(rgb.GetMemObj()->GetSize(), 36u);
    for (unsigned p = 0; p < 3; ++p)
        for (int i = 0; i < 12; ++i)
            EXPECT_EQ(rgb.GetPlane(p)[i], rgba.GetPlane(p)[i]);

    CQNF_Image back;
    ASSERT_TRUE(back.Create(&rgb, 2));
    for (int i = 0; i < 12; ++i) {
        EXPECT_EQ(back.GetPlane(3)[i], 255);
        EXPECT_EQ(back.GetPlane(1)[i], rgba.GetPlane(1)[i]);
    }
    CQNF_Image same;
    ASSERT_TRUE(same.Create(&rgba, 0));
    EXPECT_EQ(Bytes(same), Bytes(rgba));

    // Onto itself or from nothing: refused, the image is kept.
    EXPECT_FALSE(rgba.Create(&rgba, 1));
    EXPECT_EQ(rgba.GetError(), qnerr::BadArgument);
    EXPECT_EQ(rgba.GetImageMode(), 2);
    CQNF_Image empty;
    EXPECT_FALSE(same.Create(&empty, 0));
    EXPECT_FALSE(same.Create(nullptr, 0));
    EXPECT_EQ(same.GetImageMode(), 2);
}

TEST(RasterImage, ChangeImageModeKeepsColourPlanes)
{
    CQNF_Image img;
    EXPECT_FALSE(img.ChangeImageMode(2));
    EXPECT_EQ(img.GetError(), qnerr::Empty);

    Pattern(img, 3, 2, 1);
    const auto before = Bytes(img);
    EXPECT_TRUE(img.ChangeImageMode(1));
    EXPECT_FALSE(img.ChangeImageMode(5));
    EXPECT_EQ(img.GetError(), 0);
    ASSERT_TRUE(img.ChangeImageMode(2));
    EXPECT_EQ(img.GetImageMode(), 2);
    auto after = Bytes(img);
    ASSERT_EQ(after.size(), 24u);
    EXPECT_TRUE(std::equal(before.begin(), before.end(), after.begin()));
    for (int i = 18; i < 24; ++i)
        EXPECT_EQ(after[i], 255);
    ASSERT_TRUE(img.ChangeImageMode(1));
    EXPECT_EQ(Bytes(img), before);
}

TEST(RasterImage, PixelAccessAndErrors)
{
    CQNF_Image img;
    EXPECT_TRUE(SameColour(img.GetPixel(0, 0), qntRGBA8{0, 0, 0, 0}));
    EXPECT_EQ(img.GetError(), qnerr::Empty);
    EXPECT_EQ(img.GetPixelPtr(0, 0), nullptr);

    ASSERT_TRUE(img.Create(4, 3, 1));
    img.Set(qntRGBA8{1, 2, 3, 4}, 0xFF, qnNullRect);
    EXPECT_TRUE(SameColour(img.GetPixel(3, 2), qntRGBA8{1, 2, 3, 255}));
    EXPECT_EQ(img.GetError(), 0);
    EXPECT_TRUE(SameColour(img.GetPixel(4, 0), qntRGBA8{0, 0, 0, 0}));
    EXPECT_EQ(img.GetError(), qnerr::BadArgument);
    // The point forms take the low 16 bits of each field.
    const qntRGBA8 old = img.SetPixel(qntPOS{0x10002, 0x20001}, qntRGBA8{9, 8, 7, 6});
    EXPECT_TRUE(SameColour(old, qntRGBA8{1, 2, 3, 255}));
    EXPECT_TRUE(SameColour(img.GetPixel(2, 1), qntRGBA8{9, 8, 7, 255}));
    uint8_t* p = img.GetPixelPtr(2, 1);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p[0], 9);
    EXPECT_EQ(p[12], 8);
    EXPECT_EQ(p[24], 7);

    CQNF_Image rgba;
    ASSERT_TRUE(rgba.Create(2, 2, 2));
    rgba.SetPixel(1, 1, qntRGBA8{5, 6, 7, 8});
    EXPECT_EQ(rgba.GetPixel(1, 1).a, 8);
    EXPECT_TRUE(SameColour(rgba.SetPixel(5, 5, kRed), qntRGBA8{0, 0, 0, 0}));
    EXPECT_EQ(rgba.GetError(), qnerr::BadArgument);

    uint8_t* planes[5] = {};
    uint32_t stride32 = 0;
    ASSERT_TRUE(rgba.GetImageChannels(planes, stride32));
    EXPECT_EQ(stride32, 2u);
    EXPECT_EQ(planes[3], rgba.GetMemObj()->GetPtr() + 12);
    unsigned long strideL = 0;
    ASSERT_TRUE(img.GetImageChannels(planes, strideL));
    EXPECT_EQ(strideL, 4ul);
    CQNF_Image none;
    EXPECT_FALSE(none.GetImageChannels(planes, strideL));
    EXPECT_EQ(none.GetError(), qnerr::BadArgument);
}

TEST(RasterImage, FillHonoursPlaneMaskAndClipping)
{
    CQNF_Image rgb;
    ASSERT_TRUE(rgb.Create(6, 4, 1));
    EXPECT_TRUE(rgb.Set(qntRGBA8{0, 0, 0, 0}, 0xFF, qnNullRect));
    // The alpha bit is ignored on an RGB image; a rectangle is cut to the image.
    EXPECT_TRUE(rgb.Set(qntRGBA8{10, 20, 30, 40}, 0x0F, qntRECT_s{-3, 2, 3, 100}));
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 6; ++x) {
            const bool in = x < 3 && y >= 2;
            EXPECT_EQ(At(rgb, 0, x, y), in ? 10 : 0);
            EXPECT_EQ(At(rgb, 2, x, y), in ? 30 : 0);
        }
    const auto before = Bytes(rgb);
    EXPECT_TRUE(rgb.Set(kRed, 0xFF, qntRECT_s{6, 0, 10, 4}));
    EXPECT_TRUE(rgb.Set(kRed, 0xFF, qntRECT_s{2, 2, 2, 3}));
    EXPECT_EQ(Bytes(rgb), before);

    CQNF_Image rgba;
    ASSERT_TRUE(rgba.Create(3, 3, 2));
    rgba.Set(qntRGBA8{1, 1, 1, 1}, 0xFF, qnNullRect);
    rgba.Set(qntRGBA8{9, 9, 9, 200}, 8, qnNullRect);
    EXPECT_TRUE(SameColour(rgba.GetPixel(1, 1), qntRGBA8{1, 1, 1, 200}));

    CQNF_Image none;
    EXPECT_FALSE(none.Set(kRed, 0xFF, qnNullRect));
    EXPECT_EQ(none.GetError(), qnerr::Empty);
}

TEST(RasterImage, TileRepeatsAnchoredAndFillsMissingAlpha)
{
    CQNF_Image src;
    Pattern(src, 5, 4, 1);
    CQNF_Image dst;
    ASSERT_TRUE(dst.Create(11, 9, 2));
    dst.Set(qntRGBA8{0, 0, 0, 0}, 0xFF, qnNullRect);
    const qntRECT_s from{1, 1, 4, 3};  // 3 x 2
    const qntRECT_s to{2, 1, 10, 8};
    ASSERT_TRUE(dst.Tile(&src, from, to));
    for (int y = 0; y < 9; ++y)
        for (int x = 0; x < 11; ++x) {
            const bool in = x >= 2 && x < 10 && y >= 1 && y < 8;
            for (unsigned p = 0; p < 3; ++p) {
                const uint8_t want = in ? At(src, p, 1 + (x - 2) % 3, 1 + (y - 1) % 2) : 0;
                EXPECT_EQ(At(dst, p, x, y), want) << p << " " << x << "," << y;
            }
            EXPECT_EQ(At(dst, 3, x, y), in ? 255 : 0);
        }
    EXPECT_FALSE(dst.Tile(&dst, qnNullRect, qnNullRect));
    EXPECT_EQ(dst.GetError(), qnerr::BadArgument);
    EXPECT_FALSE(dst.Tile(nullptr, qnNullRect, qnNullRect));
    // A source rectangle that misses the source leaves nothing to repeat.
    const auto before = Bytes(dst);
    EXPECT_TRUE(dst.Tile(&src, qntRECT_s{5, 0, 9, 4}, qnNullRect));
    EXPECT_EQ(Bytes(dst), before);
}

TEST(RasterImage, CopyPlacesSourcePointAndKeepsAlignment)
{
    CQNF_Image src;
    Pattern(src, 6, 5, 2);
    CQNF_Image dst;
    ASSERT_TRUE(dst.Create(8, 8, 2));
    dst.Set(qntRGBA8{0, 0, 0, 0}, 0xFF, qnNullRect);
    // Source point (2, 1) lands at (3, 4); the copy stops at the source's edge.
    ASSERT_TRUE(dst.Set(&src, 2, 1, qntRECT_s{3, 4, 8, 8}));
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
            const bool in = x >= 3 && x < 7 && y >= 4;
            EXPECT_EQ(At(dst, 1, x, y), in ? At(src, 1, x - 1, y - 3) : 0) << x << "," << y;
        }
    // The clipped part of the rectangle moves the source point with it.
    dst.Set(qntRGBA8{0, 0, 0, 0}, 0xFF, qnNullRect);
    ASSERT_TRUE(dst.Set(&src, 0, 0, qntRECT_s{-2, -1, 4, 4}));
    EXPECT_EQ(At(dst, 0, 0, 0), At(src, 0, 2, 1));
    EXPECT_EQ(At(dst, 0, 3, 2), At(src, 0, 5, 3));
    // A source point left of and above the source keeps the picture aligned:
    // source pixel (0, 0) lands where the point (-2, -1) puts it.
    dst.Set(qntRGBA8{0, 0, 0, 0}, 0xFF, qnNullRect);
    ASSERT_TRUE(dst.Set(&src, -2, -1, qnNullRect));
    EXPECT_EQ(At(dst, 0, 0, 0), 0);
    EXPECT_EQ(At(dst, 0, 1, 0), 0);
    EXPECT_EQ(At(dst, 0, 2, 1), At(src, 0, 0, 0));
    EXPECT_EQ(At(dst, 2, 7, 5), At(src, 2, 5, 4));
    // A point beyond the source copies nothing and succeeds.
    const auto before = Bytes(dst);
    EXPECT_TRUE(dst.Set(&src, 6, 0, qnNullRect));
    EXPECT_TRUE(dst.Set(&src, -100, 0, qnNullRect));
    EXPECT_EQ(Bytes(dst), before);
}

TEST(RasterImage, BlendFormulas)
{
    CQNF_Image dst;
    ASSERT_TRUE(dst.Create(4, 1, 2));
    CQNF_Image src;
    ASSERT_TRUE(src.Create(4, 1, 2));
    // Pixels: opaque, transparent, half, opaque again.
    const uint8_t sv[4] = {0, 255, 200, 77};
    const uint8_t sa[4] = {255, 0, 128, 255};
    for (int i = 0; i < 4; ++i) {
        src.SetPixel(i, 0, qntRGBA8{sv[i], sv[i], sv[i], sa[i]});
        dst.SetPixel(i, 0, qntRGBA8{250, 100, 100, 200});
    }
    ASSERT_TRUE(dst.Blend(&src, 0, 0, qnNullRect, 100));
    // An opaque pixel lands exactly, a transparent one leaves the destination.
    EXPECT_EQ(dst.GetPixel(0, 0).r, 0);
    EXPECT_EQ(dst.GetPixel(1, 0).g, 100);
    EXPECT_EQ(dst.GetPixel(2, 0).b, (127 * 100 + 128 * 200 + 127) / 255);
    EXPECT_EQ(dst.GetPixel(3, 0).r, 77);
    // The destination alpha is multiplied by the source alpha.
    EXPECT_EQ(dst.GetPixel(0, 0).a, 200);
    EXPECT_EQ(dst.GetPixel(1, 0).a, 0);
    EXPECT_EQ(dst.GetPixel(2, 0).a, 128 * 200 / 255);

    // Below 100 percent: d - a * o * (d - s) / 25500, truncated toward d.
    for (int i = 0; i < 4; ++i)
        dst.SetPixel(i, 0, qntRGBA8{10, 101, 250, 255});
    ASSERT_TRUE(dst.Blend(&src, 0, 0, qnNullRect, 50));
    EXPECT_EQ(dst.GetPixel(0, 0).r, 10 - (255 * 50 * 10) / 25500);  // 5
    EXPECT_EQ(dst.GetPixel(0, 0).g, 101 - (255 * 50 * 101) / 25500);  // 51, not 50
    EXPECT_EQ(dst.GetPixel(3, 0).b, 250 - (255 * 50 * (250 - 77)) / 25500);
    EXPECT_EQ(dst.GetPixel(1, 0).b, 250);

    // An RGB source is copied whatever the opacity.
    CQNF_Image rgb;
    Pattern(rgb, 4, 1, 1);
    ASSERT_TRUE(dst.Blend(&rgb, 0, 0, qnNullRect, 1));
    EXPECT_EQ(At(dst, 1, 2, 0), At(rgb, 1, 2, 0));
    EXPECT_EQ(At(dst, 3, 2, 0), 255);
}

TEST(RasterImage, CheckerboardStartsWithSecondColour)
{
    CQNF_Image img;
    ASSERT_TRUE(img.Create(10, 7, 2));
    img.Set(qntRGBA8{0, 0, 0, 0}, 0xFF, qnNullRect);
    const qntRGBA8 a{200, 200, 200, 255};
    const qntRGBA8 b{50, 60, 70, 80};
    ASSERT_TRUE(img.Set(3, 2, a, b, qntRECT_s{1, 1, 10, 7}));
    for (int y = 1; y < 7; ++y)
        for (int x = 1; x < 10; ++x) {
            const bool second = (((x - 1) / 3) + ((y - 1) / 2)) % 2 == 0;
            EXPECT_TRUE(SameColour(img.GetPixel(x, y), second ? b : a)) << x << "," << y;
        }
    EXPECT_TRUE(SameColour(img.GetPixel(0, 0), qntRGBA8{0, 0, 0, 0}));
    EXPECT_FALSE(img.Set(0, 2, a, b, qnNullRect));
    EXPECT_EQ(img.GetError(), qnerr::BadArgument);
    // Cells larger than the area (even beyond what a 16-bit pattern holds
    // twice) cover it with their one first cell.
    EXPECT_TRUE(img.Set(40000, 1, a, b, qnNullRect));
    EXPECT_TRUE(SameColour(img.GetPixel(9, 0), b));
    EXPECT_TRUE(SameColour(img.GetPixel(9, 1), a));
    EXPECT_TRUE(img.Set(65535, 65535, a, b, qntRECT_s{2, 2, 5, 5}));
    EXPECT_TRUE(SameColour(img.GetPixel(4, 4), b));
    EXPECT_TRUE(SameColour(img.GetPixel(5, 5), a));
}

TEST(RasterImage, RotationsAndFlips)
{
    CQNF_Image img;
    Pattern(img, 5, 3, 2);
    CQNF_Image orig;
    ASSERT_TRUE(orig.Create(&img, 0));

    ASSERT_TRUE(img.Rotate90());
    EXPECT_EQ(img.GetImageWidth(), 3);
    EXPECT_EQ(img.GetImageHeight(), 5);
    // Counter-clockwise: the old top-right corner is the new top-left.
    for (unsigned p = 0; p < 4; ++p)
        for (int Y = 0; Y < 5; ++Y)
            for (int X = 0; X < 3; ++X)
                EXPECT_EQ(At(img, p, X, Y), At(orig, p, 4 - Y, X));
    ASSERT_TRUE(img.Rotate270());
    EXPECT_EQ(Bytes(img), Bytes(orig));

    for (int i = 0; i < 4; ++i)
        ASSERT_TRUE(img.Rotate270());
    EXPECT_EQ(Bytes(img), Bytes(orig));

    ASSERT_TRUE(img.Rotate180());
    for (int Y = 0; Y < 3; ++Y)
        for (int X = 0; X < 5; ++X)
            EXPECT_EQ(At(img, 3, X, Y), At(orig, 3, 4 - X, 2 - Y));
    ASSERT_TRUE(img.FlipHor());
    ASSERT_TRUE(img.FlipVert());
    EXPECT_EQ(Bytes(img), Bytes(orig));

    CQNF_Image none;
    EXPECT_FALSE(none.Rotate90());
    EXPECT_EQ(none.GetError(), qnerr::Empty);
}

TEST(RasterImage, DrawLineFixedPointWalk)
{
    CQNF_Image img;
    ASSERT_TRUE(img.Create(8, 8, 2));
    auto lit = [&]() {
        std::set<std::pair<int, int>> s;
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 8; ++x)
                if (At(img, 0, x, y))
                    s.insert({x, y});
        return s;
    };
    img.Set(qntRGBA8{0, 0, 0, 0}, 0xFF, qnNullRect);
    img.DrawLine(0, 0, 3, 1, kRed, qnNullRect);
    EXPECT_EQ(lit(), (std::set<std::pair<int, int>>{{0, 0}, {1, 0}, {2, 1}, {3, 1}}));
    EXPECT_EQ(At(img, 3, 3, 1), 255);

    // Walked backwards, the line still runs from its first to its second point.
    img.Set(qntRGBA8{0, 0, 0, 0}, 0xFF, qnNullRect);
    img.DrawLine(qntPOS{3, 1}, qntPOS{0, 0}, kRed, qnNullRect);
    EXPECT_EQ(lit(), (std::set<std::pair<int, int>>{{3, 1}, {2, 1}, {1, 0}, {0, 0}}));

    img.Set(qntRGBA8{0, 0, 0, 0}, 0xFF, qnNullRect);
    img.DrawLine(1, 6, 2, 0, kRed, qntRECT_s{0, 2, 8, 8});
    EXPECT_EQ(lit(), (std::set<std::pair<int, int>>{{1, 6}, {1, 5}, {1, 4}, {1, 3}, {2, 2}}));

    // A clip reaching far outside the image and lines spanning the whole
    // coordinate range stay inside the planes.
    img.DrawLine(-32768, -32768, 32767, 32767, kRed, qntRECT_s{-100, -100, 1000, 1000});
    img.DrawLine(32767, 0, -32768, 7, kRed, qnNullRect);
    EXPECT_EQ(At(img, 0, 7, 7), 255);
    EXPECT_EQ(At(img, 0, 4, 4), 255);
}

TEST(RasterImage, PixelBlendOfDrawingOperations)
{
    CQNF_Image img;
    ASSERT_TRUE(img.Create(6, 6, 2));
    img.Set(qntRGBA8{100, 100, 100, 100}, 0xFF, qnNullRect);
    const qntRGBA8 half{200, 0, 100, 128};
    img.DrawRect(qntRECT_s{1, 1, 4, 4}, half, qnNullRect);
    // (128 * 200 + 127 * 100) >> 8 once, corners twice.
    const int once = (128 * 200 + 127 * 100) >> 8;
    const int twice = (128 * 200 + 127 * once) >> 8;
    EXPECT_EQ(At(img, 0, 2, 1), once);
    EXPECT_EQ(At(img, 0, 4, 2), once);
    EXPECT_EQ(At(img, 0, 1, 1), twice);
    EXPECT_EQ(At(img, 0, 4, 4), twice);
    EXPECT_EQ(At(img, 0, 2, 2), 100);
    EXPECT_EQ(At(img, 3, 2, 1), 255 - ((127 * 155) >> 8));
    // Alpha 0 draws nothing.
    img.DrawLine(0, 0, 5, 0, qntRGBA8{255, 255, 255, 0}, qnNullRect);
    EXPECT_EQ(At(img, 0, 3, 0), 100);
}

TEST(RasterImage, DrawCircleMidpointOutline)
{
    CQNF_Image img;
    ASSERT_TRUE(img.Create(41, 41, 1));
    img.Set(qntRGBA8{0, 0, 0, 0}, 0xFF, qnNullRect);
    img.DrawCircle(20, 20, 15, kRed, qnNullRect);
    int count = 0;
    for (int y = 0; y < 41; ++y)
        for (int x = 0; x < 41; ++x) {
            if (!At(img, 0, x, y))
                continue;
            ++count;
            const double r = std::hypot(x - 20, y - 20);
            EXPECT_NEAR(r, 15.0, 1.0) << x << "," << y;
            // Eight-fold symmetric.
            EXPECT_TRUE(At(img, 0, 40 - x, y) && At(img, 0, x, 40 - y) && At(img, 0, y, x));
        }
    EXPECT_GT(count, 80);
    EXPECT_EQ(At(img, 0, 35, 20), 255);
    EXPECT_EQ(At(img, 0, 20, 5), 255);
    // Clipped at the image's edges: no write outside the planes.
    img.DrawCircle(qntPOS{0, 0}, 30, kRed, qntRECT_s{-50, -50, 500, 500});
    EXPECT_EQ(At(img, 0, 30, 0), 255);
}

TEST(RasterImage, DrawAlphaLineTouchesOnlyAlpha)
{
    CQNF_Image rgb;
    ASSERT_TRUE(rgb.Create(4, 4, 1));
    rgb.Set(qntRGBA8{7, 7, 7, 7}, 0xFF, qnNullRect);
    const auto before = Bytes(rgb);
    EXPECT_TRUE(rgb.DrawAlphaLine(0, 0, 3, 3, 99, qnNullRect));
    EXPECT_EQ(Bytes(rgb), before);

    CQNF_Image rgba;
    ASSERT_TRUE(rgba.Create(4, 4, 2));
    rgba.Set(qntRGBA8{7, 7, 7, 250}, 0xFF, qnNullRect);
    rgba.DrawAlphaLine(0, 3, 3, 0, 99, qnNullRect);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(At(rgba, 3, i, 3 - i), 99);
        EXPECT_EQ(At(rgba, 0, i, 3 - i), 7);
    }
    EXPECT_EQ(At(rgba, 3, 0, 0), 250);
}

TEST(RasterImage, DrawAALineGoldenIntensities)
{
    CQNF_Image img;
    ASSERT_TRUE(img.Create(10, 5, 2));
    img.Set(qntRGBA8{0, 0, 0, 0}, 0xFF, qnNullRect);
    const qntRGBA8 white{255, 255, 255, 255};
    img.DrawAALine(1, 2, 8, 2, white, qnNullRect, 0);
    // Centre: trunc(255) * 255 >> 8 = 254; neighbours at distance 1:
    // trunc((1/3)^2 * 255) = 28, * 255 >> 8 = 27.
    for (int x = 1; x <= 8; ++x) {
        EXPECT_EQ(At(img, 3, x, 2), 254) << x;
        EXPECT_EQ(At(img, 0, x, 2), (255 * 254) >> 8);
        EXPECT_EQ(At(img, 3, x, 1), 27);
        EXPECT_EQ(At(img, 3, x, 3), 27);
    }
    EXPECT_EQ(At(img, 3, 0, 2), 0);
    EXPECT_EQ(At(img, 3, 9, 2), 0);
    EXPECT_EQ(At(img, 3, 4, 0), 0);

    // Union rule versus maximum rule on a second pass.
    img.DrawAALine(1, 2, 8, 2, white, qnNullRect, 0);
    EXPECT_EQ(At(img, 3, 4, 1), 27);
    img.DrawAALine(1, 2, 8, 2, white, qnNullRect, 1);
    EXPECT_EQ(At(img, 3, 4, 1), 255 - ((228 * 228) >> 8));

    // A diagonal is symmetric about its direction and keeps the centre
    // strongest; the neighbours of an end point use the full offset.
    CQNF_Image d;
    ASSERT_TRUE(d.Create(9, 9, 2));
    d.Set(qntRGBA8{0, 0, 0, 0}, 0xFF, qnNullRect);
    d.DrawAALine(qntPOS{1, 1}, qntPOS{7, 7}, white, qnNullRect, 0);
    for (int i = 1; i <= 7; ++i) {
        EXPECT_EQ(At(d, 3, i, i), 254);
        EXPECT_EQ(At(d, 3, i - 1, i), At(d, 3, i + 1, i));
        EXPECT_LT(At(d, 3, i - 1, i), 254);
    }
}

TEST(RasterImage, DrawAALineDegenerateAndClipped)
{
    CQNF_Image img;
    ASSERT_TRUE(img.Create(4, 4, 2));
    img.Set(qntRGBA8{0, 0, 0, 0}, 0xFF, qnNullRect);
    const qntRGBA8 white{255, 255, 255, 255};
    // No length: only its own pixel, no division by zero.
    EXPECT_TRUE(img.DrawAALine(2, 2, 2, 2, white, qnNullRect, 0));
    int lit = 0;
    for (int i = 0; i < 16; ++i)
        lit += img.GetPlane(3)[i] != 0;
    EXPECT_EQ(lit, 1);
    EXPECT_EQ(At(img, 3, 2, 2), 254);

    // Lines along the image's edges and a clip beyond it: the neighbours
    // outside the clip are not drawn.
    img.Set(qntRGBA8{0, 0, 0, 0}, 0xFF, qnNullRect);
    img.DrawAALine(0, 0, 0, 3, white, qntRECT_s{-10, -10, 20, 20}, 0);
    img.DrawAALine(3, 3, 0, 3, white, qnNullRect, 1);
    img.DrawAALine(-300, -200, 300, 250, white, qnNullRect, 1);
    EXPECT_EQ(At(img, 3, 0, 1), 254);
    EXPECT_EQ(At(img, 3, 1, 1), 27);
    // A clip that keeps only column 1 lets through nothing of a line in column 0.
    img.Set(qntRGBA8{0, 0, 0, 0}, 0xFF, qnNullRect);
    img.DrawAALine(0, 0, 0, 3, white, qntRECT_s{1, 0, 2, 4}, 0);
    EXPECT_EQ(At(img, 3, 1, 1), 0);
}

// The shift-and-add division the composites use, against the division, for
// every product of two bytes and every sum of two such products that a
// blend forms (f x m + b x (255 - m) stays within 255 x 255).
TEST(RasterImage, DivBy255IsTheTruncatedDivisionForEveryByteProduct)
{
    for (uint32_t x = 0; x <= 255u * 255u; ++x)
        ASSERT_EQ(qnDivBy255(static_cast<uint16_t>(x)), x / 255) << x;
}
