// The first generation's background shadow: the shadow of the mesh on a
// ground plane behind it, per light, supersampled, blurred and combined.
#include "S3DTestScenes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

using namespace s3dtest;

namespace {

char* C(const char* s) { return const_cast<char*>(s); }

constexpr int kW = 40, kH = 32;

CQNF_3D_Surface::LIGHT_SOURCE BgLight(const char* name, float x, float y, float z, float strength = 100.0f)
{
    CQNF_3D_Surface::LIGHT_SOURCE l{};
    l.name = C(name);
    l.enabled = 1;
    l.x = x;
    l.y = y;
    l.z = z;
    l.bgShadow = 1;
    l.bgStrength = strength;
    return l;
}

// A card over [10, 20) x [8, 18) at depth 0, its texture alpha `alpha`.
struct Card {
    CQNF_3D_Surface s;
    std::vector<uint8_t> alpha;
    explicit Card(uint8_t a = 255, float x0 = 10, float y0 = 8) : alpha(32 * 32, a)
    {
        AddQuad(s, x0, y0, x0 + 10, y0 + 10, 0.0f, -x0, -y0);
    }
    uint8_t Render(std::vector<uint8_t>& dst, float distance = 10.0f, int stride = kW)
    {
        return s.RenderHQ_BgShadow(distance, alpha.data(), 32, 32, 32, dst.data(), stride, kW, kH);
    }
};

struct Centroid {
    double sum = 0, x = 0, y = 0;
};
Centroid Measure(const std::vector<uint8_t>& d)
{
    Centroid c;
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) {
            const double w = d[y * kW + x];
            c.sum += w;
            c.x += w * (x + 0.5);
            c.y += w * (y + 0.5);
        }
    if (c.sum > 0) {
        c.x /= c.sum;
        c.y /= c.sum;
    }
    return c;
}

}  // namespace

TEST(SurfaceBgShadow, OpaqueCardStraightOnShadowsItsFootprint)
{
    Card card;
    auto l = BgLight("L", 0, 0, 1, 60.0f);
    card.s.Light_Add(&l);
    std::vector<uint8_t> dst(kW * kH, 7);
    ASSERT_EQ(card.Render(dst), 1);
    EXPECT_EQ(dst[12 * kW + 14], 255 * 60 / 100);
    EXPECT_EQ(dst[2 * kW + 2], 0);
    EXPECT_EQ(dst[25 * kW + 30], 0);
    const Centroid c = Measure(dst);
    EXPECT_NEAR(c.x, 15.0, 0.6);
    EXPECT_NEAR(c.y, 13.0, 0.6);
    EXPECT_NEAR(c.sum / 153.0, 100.0, 12.0);
}

TEST(SurfaceBgShadow, ShadowFallsAlongTheLightLikeTheShadowMaps)
{
    // The ground lies 10 behind the card: the shadow moves by 10 x (Lx, Ly) / Lz,
    // the same way the first generation's shadow maps move a card's shadow.
    for (const qnt3D_VECTOR L : {qnt3D_VECTOR{0.3f, -0.2f, 1.0f}, qnt3D_VECTOR{-0.4f, 0.25f, 1.0f}}) {
        Card card;
        auto l = BgLight("L", L.x, L.y, L.z);
        card.s.Light_Add(&l);
        std::vector<uint8_t> dst(kW * kH, 0);
        ASSERT_EQ(card.Render(dst, 10.0f), 1);
        const Centroid c = Measure(dst);
        EXPECT_NEAR(c.x, 15.0 + 10.0 * L.x / L.z, 0.8) << L.x;
        EXPECT_NEAR(c.y, 13.0 + 10.0 * L.y / L.z, 0.8) << L.y;
    }
}

TEST(SurfaceBgShadow, TranslucencyStrengthAndSupersampling)
{
    // Opacity 128: t = (127 x 255) >> 8 = 126, shadow 129.
    {
        Card card(128);
        auto l = BgLight("L", 0, 0, 1);
        card.s.Light_Add(&l);
        std::vector<uint8_t> dst(kW * kH);
        ASSERT_EQ(card.Render(dst), 1);
        EXPECT_EQ(dst[12 * kW + 14], 129);
    }
    // Strength 0: nothing; strengths past 0..100 are held to it.
    for (float strength : {0.0f, -20.0f, 250.0f}) {
        Card card;
        auto l = BgLight("L", 0, 0, 1, strength);
        card.s.Light_Add(&l);
        std::vector<uint8_t> dst(kW * kH, 9);
        ASSERT_EQ(card.Render(dst), 1);
        EXPECT_EQ(dst[12 * kW + 14], strength > 100 ? 255 : 0) << strength;
        EXPECT_EQ(dst[2 * kW + 2], 0);
    }
    // Supersampling: full shadow stays full; a half-covered edge pixel is half.
    for (uint8_t level : {1, 2, 9}) {
        Card card(255, 10.5f, 8);
        auto l = BgLight("L", 0, 0, 1);
        l.bgLevel = level;
        card.s.Light_Add(&l);
        std::vector<uint8_t> dst(kW * kH);
        ASSERT_EQ(card.Render(dst), 1);
        EXPECT_EQ(dst[12 * kW + 14], 255) << int(level);
        EXPECT_NEAR(dst[12 * kW + 10], 128, 40) << int(level);
    }
}

TEST(SurfaceBgShadow, LightsCombineAsLightAbsorbedTwice)
{
    // One light straight on, one from the side with the shadow far enough to
    // miss the first one's in part.
    Card card;
    auto a = BgLight("A", 0, 0, 1, 50.0f);
    auto b = BgLight("B", 0.5f, 0, 1, 40.0f);
    card.s.Light_Add(&a);
    card.s.Light_Add(&b);
    std::vector<uint8_t> both(kW * kH);
    ASSERT_EQ(card.Render(both), 1);
    const int s1 = 255 * 50 / 100, s2 = 255 * 40 / 100;
    EXPECT_EQ(both[12 * kW + 12], s1);                                   // only A
    EXPECT_EQ(both[12 * kW + 22], s2);                                   // only B
    EXPECT_EQ(both[12 * kW + 17], 255 - (255 - s1) * (255 - s2) / 255);  // both
    // Disabled lights or lights without the switch take no part.
    card.s.Light_Enable(C("B"), 0);
    std::vector<uint8_t> one(kW * kH);
    ASSERT_EQ(card.Render(one), 1);
    EXPECT_EQ(one[12 * kW + 22], 0);
    card.s.Light_Enable(C("A"), 0);
    std::vector<uint8_t> none(kW * kH, 42);
    ASSERT_EQ(card.Render(none), 1);
    EXPECT_EQ(none, std::vector<uint8_t>(kW * kH, 42));
}

TEST(SurfaceBgShadow, BlurModes)
{
    auto render = [](uint8_t mode, float nearR, float farR) {
        Card card;
        auto l = BgLight("L", 0, 0, 1);
        l.bgBlurMode = mode;
        l.bgNearRadius = nearR;
        l.bgFarRadius = farR;
        card.s.Light_Add(&l);
        std::vector<uint8_t> dst(kW * kH);
        EXPECT_EQ(card.Render(dst), 1);
        return dst;
    };
    const auto sharp = render(0, 0, 0);
    EXPECT_EQ(render(0, 0, 0.1f), sharp);  // a radius of 0.1 or less does not blur
    const auto soft = render(0, 0, 2.0f);
    EXPECT_NE(soft, sharp);
    EXPECT_GT(soft[12 * kW + 8], 0);  // darkness spreads past the edge
    EXPECT_EQ(render(1, 2.0f, 2.0f), soft);  // equal radii: one radius
    // One occluder distance: the depth-dependent blur has nothing to vary.
    const auto byDistance = render(1, 0.5f, 3.0f);
    EXPECT_NE(byDistance, sharp);
    EXPECT_EQ(render(7, 0.5f, 3.0f), sharp);  // an unknown mode does not blur
}

TEST(SurfaceBgShadow, AnyStrideAndTheGroundBias)
{
    Card card;
    auto l = BgLight("L", 0.2f, 0.1f, 1, 80.0f);
    l.bgBlurMode = 0;
    l.bgFarRadius = 1.5f;
    card.s.Light_Add(&l);
    std::vector<uint8_t> packed(kW * kH), wide(static_cast<size_t>(kW + 9) * kH, 201);
    ASSERT_EQ(card.Render(packed), 1);
    ASSERT_EQ(card.Render(wide, 10.0f, kW + 9), 1);
    for (int y = 0; y < kH; ++y) {
        for (int x = 0; x < kW; ++x)
            ASSERT_EQ(wide[y * (kW + 9) + x], packed[y * kW + x]);
        for (int x = kW; x < kW + 9; ++x)
            ASSERT_EQ(wide[y * (kW + 9) + x], 201);
    }
    // A ground at the card's own depth: the 0.01 bias lets nothing cast.
    std::vector<uint8_t> flush(kW * kH, 5);
    ASSERT_EQ(card.s.int_RenderBgShadow(card.s.int_Light_Get(0), 0.0f, card.alpha.data(), 32, 32, 32, flush.data(),
                                        kW, kW, kH),
              1);
    EXPECT_EQ(flush, std::vector<uint8_t>(kW * kH, 0));
    // Bad input: error 1.
    EXPECT_EQ(card.s.RenderHQ_BgShadow(1.0f, card.alpha.data(), 32, 32, 32, nullptr, kW, kW, kH), 0);
    EXPECT_EQ(card.s.GetError(), qnerr::BadArgument);
    EXPECT_EQ(card.s.RenderHQ_BgShadow(1.0f, card.alpha.data(), 32, 32, 32, packed.data(), kW - 1, kW, kH), 0);
}

TEST(SurfaceBgShadow, WhereTheGroundTrianglesMeetEachSampleCountsOnce)
{
    // A square ground has its diagonal on whole sample positions; a wide
    // translucent card shadows it evenly, diagonal included.
    for (uint8_t level : {0, 1}) {
        CQNF_3D_Surface s;
        AddQuad(s, -5, -5, 37, 37, 0.0f, 5, 5);
        std::vector<uint8_t> alpha(48 * 48, 128), dst(32 * 32);
        auto l = BgLight("L", 0, 0, 1);
        l.bgLevel = level;
        s.Light_Add(&l);
        ASSERT_EQ(s.RenderHQ_BgShadow(4.0f, alpha.data(), 48, 48, 48, dst.data(), 32, 32, 32), 1);
        EXPECT_EQ(dst, std::vector<uint8_t>(32 * 32, 129)) << int(level);
    }
}
