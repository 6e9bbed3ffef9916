// 2D overlap tests and the shadow-map generators of both generations.
#include "S3DTestScenes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <random>

namespace {

using Base = CQNF_3D_SurfaceBase;

constexpr int kTexW = 128;
constexpr int kTexH = 64;

char* C(const char* s) { return const_cast<char*>(s); }

// A 64 x 64 sheet at z = 0 over texture region [0,64)^2 and a square card of
// side 16 centred on (28, 28) at z = -h, its texels at (+64, 0) in the texture.
// Both face +z; the light comes from -z, so the card stands before the sheet.
template <class S>
void CardScene(S& s, float h, float cardSide = 16.0f)
{
    s3dtest::AddQuad(s, 0, 0, 64, 64, 0);
    const float c0 = 28 - cardSide / 2, c1 = 28 + cardSide / 2;
    s3dtest::AddQuad(s, c0, c0, c1, c1, -h, 64, 0);
}

std::vector<uint8_t> OpaqueAlpha() { return std::vector<uint8_t>(kTexW * kTexH, 255); }

CQNF_3D_Surface2::LIGHT_SOURCE Light2(const char* name, float x, float y, float z, float softness = 0)
{
    CQNF_3D_Surface2::LIGHT_SOURCE l{};
    l.name = C(name);
    l.x = x;
    l.y = y;
    l.z = z;
    l.zKept = 1;
    l.castsShadow = 1;
    l.shadowSoftness = softness;
    return l;
}

CQNF_3D_Surface::LIGHT_SOURCE Light1(const char* name, float x, float y, float z)
{
    CQNF_3D_Surface::LIGHT_SOURCE l{};
    l.name = C(name);
    l.x = x;
    l.y = y;
    l.z = z;
    l.enabled = 1;
    return l;
}

// Darkness (255 - value) over the sheet's texels: total and centroid.
struct Darkness {
    double sum = 0, cx = 0, cy = 0;
};
Darkness Measure(const uint8_t* map)
{
    Darkness d;
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) {
            const double w = 255 - map[y * kTexW + x];
            d.sum += w;
            d.cx += w * x;
            d.cy += w * y;
        }
    if (d.sum > 0) {
        d.cx /= d.sum;
        d.cy /= d.sum;
    }
    return d;
}

enum class Gen { Pairwise2, Tiled2, Pairwise1 };

// The sheet's map for a light vector L (as the generators use it) and a
// card at height h, by the chosen generator; blur sigma as given.
std::vector<uint8_t> ShadowMapOf(Gen gen, qnt3D_VECTOR L, float h, float sigma, uint8_t cardAlpha = 255)
{
    std::vector<uint8_t> alpha = OpaqueAlpha();
    for (int y = 0; y < kTexH; ++y)
        for (int x = 64; x < kTexW; ++x)
            alpha[y * kTexW + x] = cardAlpha;
    std::vector<uint8_t> out;
    if (gen == Gen::Pairwise1) {
        CQNF_3D_Surface s;
        CardScene(s, h);
        auto l = Light1("L", L.x, L.y, L.z);
        l.smFarRadius = sigma;
        s.Light_Add(&l);
        EXPECT_EQ(s.Light_CreateShadowMapStorage(C("L"), kTexW, kTexH), 1);
        EXPECT_EQ(s.int_GenerateInternalLightShadowMap(s.int_Light_Get(0), alpha.data(), kTexW, kTexW, kTexH), 1);
        out.assign(s.Light_GetShadowMap(C("L")), s.Light_GetShadowMap(C("L")) + kTexW * kTexH);
        return out;
    }
    CQNF_3D_Surface2 s;
    CardScene(s, h);
    // The stored vector is (-x, y, z) of the caller's direction.
    auto l = Light2("L", -L.x, L.y, L.z, sigma);
    s.Light_Add(&l);
    s.Light_PrecalculateLights(1);
    EXPECT_EQ(s.Light_CreateShadowMapStorage(C("L"), kTexW, kTexH), 1);
    auto* rec = s.int_Light_Get(0);
    const uint8_t ok = gen == Gen::Pairwise2
                           ? s.int_GenerateInternalLightShadowMap(rec, alpha.data(), kTexW, kTexW, kTexH, 1.0f, 0, 100)
                           : s.int_GenerateInternalLightShadowMap_v2(rec, alpha.data(), kTexW, kTexW, kTexH, 1.0f, 0,
                                                                     100);
    EXPECT_EQ(ok, 1);
    out.assign(rec->shadowMap, rec->shadowMap + kTexW * kTexH);
    return out;
}

// Orientation-based references for the 2D tests.
double Orient(qnt2D_VERTEX a, qnt2D_VERTEX b, qnt2D_VERTEX c)
{
    return (double(b.x) - a.x) * (double(c.y) - a.y) - (double(b.y) - a.y) * (double(c.x) - a.x);
}

}  // namespace

TEST(SurfaceGeom2D, SegmentCases)
{
    const qnt2D_VERTEX a[2] = {{0, 0}, {1, 0}}, farOnLine[2] = {{2, 0}, {3, 0}};
    EXPECT_EQ(Base::geom2D_TestLineSegIntersection(a, farOnLine), 3);
    const qnt2D_VERTEX d1[2] = {{0, 0}, {1, 1}}, d2[2] = {{0, 1}, {1, 0}};
    EXPECT_EQ(Base::geom2D_TestLineSegIntersection(d1, d2), 1);
    const qnt2D_VERTEX touch[2] = {{1, 0}, {2, 1}};
    EXPECT_EQ(Base::geom2D_TestLineSegIntersection(a, touch), 1);
    const qnt2D_VERTEX parallel[2] = {{0, 1}, {1, 1}};
    EXPECT_EQ(Base::geom2D_TestLineSegIntersection(a, parallel), 0);
    const qnt2D_VERTEX apart[2] = {{5, -1}, {5, 1}};
    EXPECT_EQ(Base::geom2D_TestLineSegIntersection(a, apart), 0);

    const qnt2D_VERTEX big[3] = {{0, 0}, {10, 0}, {0, 10}}, small[3] = {{1, 1}, {2, 1}, {1, 2}};
    EXPECT_EQ(Base::geom2D_TestTriangeTriangleIntersection(big, small), 1);
    EXPECT_EQ(Base::geom2D_TestTriangeTriangleIntersection(small, big), 1);
    const qnt2D_VERTEX away[3] = {{20, 20}, {21, 20}, {20, 21}};
    EXPECT_EQ(Base::geom2D_TestTriangeTriangleIntersection(big, away), 0);
}

TEST(SurfaceGeom2D, AgreeWithOrientationReference)
{
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> u(-10, 10);
    int checked = 0;
    for (int k = 0; k < 10000; ++k) {
        const qnt2D_VERTEX A[2] = {{u(rng), u(rng)}, {u(rng), u(rng)}}, B[2] = {{u(rng), u(rng)}, {u(rng), u(rng)}};
        const double o1 = Orient(A[0], A[1], B[0]), o2 = Orient(A[0], A[1], B[1]);
        const double o3 = Orient(B[0], B[1], A[0]), o4 = Orient(B[0], B[1], A[1]);
        if (std::min({std::fabs(o1), std::fabs(o2), std::fabs(o3), std::fabs(o4)}) < 1e-3)
            continue;
        const bool cross = (o1 > 0) != (o2 > 0) && (o3 > 0) != (o4 > 0);
        EXPECT_EQ(Base::geom2D_TestLineSegIntersection(A, B), cross ? 1 : 0);

        const qnt2D_VERTEX T[3] = {A[0], A[1], B[0]};
        const qnt2D_VERTEX p{u(rng), u(rng)};
        const double e0 = Orient(T[0], T[1], p), e1 = Orient(T[1], T[2], p), e2 = Orient(T[2], T[0], p);
        if (std::min({std::fabs(e0), std::fabs(e1), std::fabs(e2)}) < 1e-3)
            continue;
        const bool inside = (e0 > 0 && e1 > 0 && e2 > 0) || (e0 < 0 && e1 < 0 && e2 < 0);
        EXPECT_EQ(Base::geom2D_TestPointInTriange(T, p), inside ? 1 : 0);
        ++checked;
    }
    EXPECT_GT(checked, 5000);
}

TEST(SurfaceGeom2D, PointOnTriangleInterpolatesDepthAndTexture)
{
    // Plane z = 2x + 3y + 1; texture = position + (10, 20).
    const qnt3D_VERTEX a{0, 0, 1}, b{8, 0, 17}, c{0, 8, 25};
    const qnt3D_VERTEX ta{10, 20, 0}, tb{18, 20, 0}, tc{10, 28, 0};
    Base::SHADOW_MAP_ZVAL z{};
    ASSERT_EQ(Base::int_ShadowMapTriangleCalc(&z, 2.0f, 3.0f, &a, &b, &c, &ta, &tb, &tc), 1);
    EXPECT_FLOAT_EQ(z.depth, 2 * 2 + 3 * 3 + 1);
    EXPECT_FLOAT_EQ(z.u, 12.0f);
    EXPECT_FLOAT_EQ(z.v, 23.0f);
    EXPECT_EQ(Base::int_ShadowMapTriangleCalc(&z, 7.0f, 7.0f, &a, &b, &c, &ta, &tb, &tc), 0);
    // A row through a vertex cuts fewer than two edges strictly: no value.
    const qnt3D_VERTEX d{4, 4, 0};
    EXPECT_EQ(Base::int_ShadowMapTriangleCalc(&z, 1.0f, 4.0f, &a, &d, &c, &ta, &tb, &tc), 0);
}

TEST(SurfaceShadowMap, SingleTriangleIsFullyLitEverywhere)
{
    std::vector<uint8_t> alpha = OpaqueAlpha();
    for (Gen gen : {Gen::Pairwise2, Gen::Tiled2, Gen::Pairwise1}) {
        std::vector<uint8_t> map;
        if (gen == Gen::Pairwise1) {
            CQNF_3D_Surface s;
            s3dtest::AddQuad(s, 0, 0, 40, 40, 0);
            s.Create(3ul, 1ul);
            auto l = Light1("L", 0.2f, 0.1f, 1);
            s.Light_Add(&l);
            s.Light_CreateShadowMapStorage(C("L"), kTexW, kTexH);
            ASSERT_EQ(s.Light_GenerateAllInnerShadowMaps(alpha.data(), kTexW, kTexW, kTexH, 0), 1);
            map.assign(s.Light_GetShadowMap(C("L")), s.Light_GetShadowMap(C("L")) + kTexW * kTexH);
        } else {
            CQNF_3D_Surface2 s;
            s3dtest::AddQuad(s, 0, 0, 40, 40, 0);
            s.Create(3ul, 1ul);
            auto l = Light2("L", 0.2f, 0.1f, 1, 0);
            s.Light_Add(&l);
            s.Light_PrecalculateLights(1);
            s.Light_CreateShadowMapStorage(C("L"), kTexW, kTexH);
            auto* rec = s.int_Light_Get(0);
            ASSERT_EQ(gen == Gen::Pairwise2
                          ? s.int_GenerateInternalLightShadowMap(rec, alpha.data(), kTexW, kTexW, kTexH, 1, 0, 100)
                          : s.int_GenerateInternalLightShadowMap_v2(rec, alpha.data(), kTexW, kTexW, kTexH, 1, 0, 100),
                      1);
            map.assign(rec->shadowMap, rec->shadowMap + kTexW * kTexH);
        }
        EXPECT_TRUE(std::all_of(map.begin(), map.end(), [](uint8_t v) { return v == 255; })) << int(gen);
    }
}

TEST(SurfaceShadowMap, OpaqueCardDarkensExactlyUnderItTransparentCardNothing)
{
    for (Gen gen : {Gen::Pairwise2, Gen::Pairwise1}) {
        const auto map = ShadowMapOf(gen, qnt3D_VECTOR{0, 0, 1}, 10, 0);
        for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 64; ++x) {
                const bool under = x > 20 && x < 36 && y > 20 && y < 36;
                const bool clear = x < 19 || x > 37 || y < 19 || y > 37;
                if (under) {
                    EXPECT_EQ(map[y * kTexW + x], 0) << x << "," << y;
                }
                if (clear) {
                    EXPECT_EQ(map[y * kTexW + x], 255) << x << "," << y;
                }
            }
        // The card itself is lit: nothing stands between it and the light.
        EXPECT_EQ(map[28 * kTexW + 92], 255);
        const auto clearMap = ShadowMapOf(gen, qnt3D_VECTOR{0, 0, 1}, 10, 0, 0);
        EXPECT_TRUE(std::all_of(clearMap.begin(), clearMap.end(), [](uint8_t v) { return v == 255; }));
    }
}

TEST(SurfaceShadowMap, TranslucentOccludersMultiplyTheLightThrough)
{
    CQNF_3D_Surface2 s;
    s3dtest::AddQuad(s, 0, 0, 64, 64, 0);
    s3dtest::AddQuad(s, 20, 20, 36, 36, -4, 64, 0);
    s3dtest::AddQuad(s, 20, 20, 36, 36, -8, 64, 0);
    std::vector<uint8_t> alpha = OpaqueAlpha();
    for (int y = 0; y < kTexH; ++y)
        for (int x = 64; x < kTexW; ++x)
            alpha[y * kTexW + x] = 128;
    auto l = Light2("L", 0, 0, 1);
    s.Light_Add(&l);
    s.Light_PrecalculateLights(1);
    s.Light_CreateShadowMapStorage(C("L"), kTexW, kTexH);
    auto* rec = s.int_Light_Get(0);
    ASSERT_EQ(s.int_GenerateInternalLightShadowMap(rec, alpha.data(), kTexW, kTexW, kTexH, 0, 0, 100), 1);
    EXPECT_EQ(rec->shadowMap[28 * kTexW + 28], (127 * ((127 * 255) >> 8)) >> 8);
    // The nearer card shades the farther one by one layer.
    EXPECT_EQ(rec->shadowMap[28 * kTexW + 92], (127 * 255) >> 8);
}

TEST(SurfaceShadowMap, TexelsSharedByTwoReceiversGoDownToZeroNotRoundPastIt)
{
    // Two sheets on the same texels, one under the other, both in the
    // card's shadow: each lowers the texel by 255.
    for (int gen = 1; gen <= 2; ++gen) {
        std::vector<uint8_t> map;
        auto alpha = OpaqueAlpha();
        if (gen == 1) {
            CQNF_3D_Surface s;
            CardScene(s, 10);
            s3dtest::AddQuad(s, 0, 0, 64, 64, 2);
            auto l = Light1("L", 0, 0, 1);
            s.Light_Add(&l);
            s.Light_CreateShadowMapStorage(C("L"), kTexW, kTexH);
            ASSERT_EQ(s.int_GenerateInternalLightShadowMap(s.int_Light_Get(0), alpha.data(), kTexW, kTexW, kTexH), 1);
            map.assign(s.Light_GetShadowMap(C("L")), s.Light_GetShadowMap(C("L")) + kTexW * kTexH);
        } else {
            CQNF_3D_Surface2 s;
            CardScene(s, 10);
            s3dtest::AddQuad(s, 0, 0, 64, 64, 2);
            auto l = Light2("L", 0, 0, 1);
            s.Light_Add(&l);
            s.Light_PrecalculateLights(1);
            s.Light_CreateShadowMapStorage(C("L"), kTexW, kTexH);
            ASSERT_EQ(s.int_GenerateInternalLightShadowMap(s.int_Light_Get(0), alpha.data(), kTexW, kTexW, kTexH, 0,
                                                           0, 100),
                      1);
            map.assign(s.int_Light_Get(0)->shadowMap, s.int_Light_Get(0)->shadowMap + kTexW * kTexH);
        }
        EXPECT_EQ(map[28 * kTexW + 28], 0) << gen;
        EXPECT_EQ(map[5 * kTexW + 5], 0) << gen;  // the lower sheet is shadowed by the upper
    }
}

TEST(SurfaceShadowMap, CardShadowIsDisplacedByHeightTimesLightSlope)
{
    const qnt3D_VECTOR lights[] = {{0, 0, 1}, {0.3f, -0.2f, 1}, {-0.25f, 0.4f, 0.8f}};
    for (Gen gen : {Gen::Pairwise2, Gen::Tiled2, Gen::Pairwise1}) {
        for (const auto& L : lights) {
            for (float h : {4.0f, 10.0f}) {
                const auto map = ShadowMapOf(gen, L, h, gen == Gen::Tiled2 ? 1.0f : 0.0f);
                const Darkness d = Measure(map.data());
                // Texel n samples texture position n: the card's 17 x 17 covered
                // positions 20..36 have their mean at 28.
                EXPECT_NEAR(d.cx, 28 + h * L.x / L.z, 1.0) << int(gen) << " h " << h << " L " << L.x << "," << L.y;
                EXPECT_NEAR(d.cy, 28 + h * L.y / L.z, 1.0) << int(gen) << " h " << h << " L " << L.x << "," << L.y;
                EXPECT_NEAR(d.sum / 255.0, 16.0 * 16.0, 16.0 * 4.0) << int(gen);
            }
        }
    }
}

TEST(SurfaceShadowMap, PairwiseAndTiledGeneratorsAgree)
{
    for (const qnt3D_VECTOR L : {qnt3D_VECTOR{0, 0, 1}, qnt3D_VECTOR{0.3f, -0.2f, 1}}) {
        auto pair = ShadowMapOf(Gen::Pairwise2, L, 8, 0);
        CQNF_3D_SurfaceBase::int_Blur_Const(pair.data(), kTexW, kTexH, 1.0f);
        const auto tiled = ShadowMapOf(Gen::Tiled2, L, 8, 1.0f);
        double diff = 0;
        int differing = 0;
        for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 64; ++x) {
                const int dv = std::abs(int(pair[y * kTexW + x]) - int(tiled[y * kTexW + x]));
                diff += dv;
                differing += dv > 64;
            }
        EXPECT_LT(diff / (64 * 64), 4.0);
        EXPECT_LT(differing, 64 * 2);  // at most along the shadow's outline
    }
}

TEST(SurfaceShadowMap, SupersamplingStillGivesFullShadow)
{
    for (uint8_t level : {uint8_t{1}, uint8_t{3}, uint8_t{255}}) {
        CQNF_3D_Surface s;
        CardScene(s, 6);
        auto l = Light1("L", 0, 0, 1);
        l.smLevel = level;
        s.Light_Add(&l);
        s.Light_CreateShadowMapStorage(C("L"), kTexW, kTexH);
        auto alpha = OpaqueAlpha();
        ASSERT_EQ(s.int_GenerateInternalLightShadowMap(s.int_Light_Get(0), alpha.data(), kTexW, kTexW, kTexH), 1);
        const uint8_t* map = s.Light_GetShadowMap(C("L"));
        EXPECT_EQ(map[28 * kTexW + 28], 0) << int(level);
        EXPECT_EQ(map[5 * kTexW + 5], 255);
        EXPECT_EQ(s.Light_GetChangedFlag(C("L")), 0);
    }
}

TEST(SurfaceShadowMap, FirstGenerationDepthBlurSoftensWithDistance)
{
    auto haloOf = [](float h) {
        CQNF_3D_Surface s;
        CardScene(s, h);
        // A second card, low over the sheet.
        s3dtest::AddQuad(s, 44, 44, 56, 56, -1, 64, 0);
        auto l = Light1("L", 0, 0, 1);
        l.smBlurMode = 1;
        l.smNearRadius = 0.5f;
        l.smFarRadius = 3.0f;
        s.Light_Add(&l);
        s.Light_CreateShadowMapStorage(C("L"), kTexW, kTexH);
        auto alpha = OpaqueAlpha();
        EXPECT_EQ(s.int_GenerateInternalLightShadowMap(s.int_Light_Get(0), alpha.data(), kTexW, kTexW, kTexH), 1);
        const uint8_t* map = s.Light_GetShadowMap(C("L"));
        // Partly lit texels around each shadow.
        int high = 0, low = 0;
        for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 64; ++x) {
                const uint8_t v = map[y * kTexW + x];
                if (v > 0 && v < 255)
                    (x < 40 ? high : low)++;
            }
        return std::make_pair(high, low);
    };
    const auto [high, low] = haloOf(20);
    EXPECT_GT(high, low);
}

TEST(SurfaceShadowMap, RefusesBadInputsAndLeavesTheMapLitOnCancel)
{
    CQNF_3D_Surface2 s;
    CardScene(s, 10);
    auto l = Light2("L", 0, 0, 1);
    s.Light_Add(&l);
    s.Light_PrecalculateLights(1);
    auto* rec = s.int_Light_Get(0);
    auto alpha = OpaqueAlpha();
    // No storage yet.
    EXPECT_EQ(s.int_GenerateInternalLightShadowMap(rec, alpha.data(), kTexW, kTexW, kTexH, 1, 0, 100), 0);
    EXPECT_EQ(s.GetError(), qnerr::BadArgument);
    ASSERT_EQ(s.Light_CreateShadowMapStorage(C("L"), 500, kTexH), 1);
    std::fill(rec->shadowMap, rec->shadowMap + 500 * kTexH, 7);
    std::vector<uint8_t> wide(512 * kTexH, 255);
    s.ResetError();
    EXPECT_EQ(s.int_GenerateInternalLightShadowMap_v2(rec, wide.data(), 512, 500, kTexH, 1, 0, 100), 0);
    EXPECT_EQ(s.GetError(), qnerr::BadArgument);
    EXPECT_TRUE(std::all_of(rec->shadowMap, rec->shadowMap + 500 * kTexH, [](uint8_t v) { return v == 7; }));
    // A map made for another size is refused; so are null planes and a
    // stale mapping.
    EXPECT_EQ(s.int_GenerateInternalLightShadowMap(rec, alpha.data(), kTexW, kTexW, kTexH, 1, 0, 100), 0);
    ASSERT_EQ(s.Light_CreateShadowMapStorage(C("L"), kTexW, kTexH), 1);
    EXPECT_EQ(s.int_GenerateInternalLightShadowMap(rec, nullptr, kTexW, kTexW, kTexH, 1, 0, 100), 0);
    EXPECT_EQ(s.int_GenerateInternalLightShadowMap(nullptr, alpha.data(), kTexW, kTexW, kTexH, 1, 0, 100), 0);
    s.Create(9ul, 4ul);
    EXPECT_EQ(s.int_GenerateInternalLightShadowMap(rec, alpha.data(), kTexW, kTexW, kTexH, 1, 0, 100), 0);
    EXPECT_EQ(s.GetError(), qnerr::BadArgument);
    s.Create(8ul, 4ul);

    // Cancel part-way: the map is left fully lit, not half made.
    for (int cancelAt : {1, 4, 9}) {
        s3dtest::RecordingProgress p(cancelAt);
        s.SetProgress(&p);
        EXPECT_EQ(s.int_GenerateInternalLightShadowMap(rec, alpha.data(), kTexW, kTexW, kTexH, 0, 0, 100), 0);
        EXPECT_TRUE(std::all_of(rec->shadowMap, rec->shadowMap + kTexW * kTexH, [](uint8_t v) { return v == 255; }));
        EXPECT_EQ(s.int_GenerateInternalLightShadowMap_v2(rec, alpha.data(), kTexW, kTexW, kTexH, 0, 0, 100), 0);
        EXPECT_TRUE(std::all_of(rec->shadowMap, rec->shadowMap + kTexW * kTexH, [](uint8_t v) { return v == 255; }));
        s.SetProgress(nullptr);
    }
}

TEST(SurfaceShadowMap, DriverReportsItsStepsAroundEachLight)
{
    CQNF_3D_Surface2 s;
    CardScene(s, 10);
    auto a = Light2("A", 0, 0, 1), b = Light2("B", 0.1f, 0, 1), off = Light2("Off", 0, 0, 1);
    off.castsShadow = 0;
    s.Light_Add(&a);
    s.Light_Add(&off);
    s.Light_Add(&b);
    s.Light_PrecalculateLights(1);
    s3dtest::RecordingProgress p;
    s.SetProgress(&p);
    auto alpha = OpaqueAlpha();
    ASSERT_EQ(s.Light_GenerateAllInnerShadowMaps(alpha.data(), kTexW, kTexW, kTexH, 1.0f), 1);
    // The driver's own reports, in order, with the generators' in between.
    const int mine[] = {0, 1, 1, 13, 50, 50, 62, 100, 100};
    size_t at = 0;
    for (int v : p.reports)
        if (at < std::size(mine) && v == mine[at])
            ++at;
    EXPECT_EQ(at, std::size(mine));
    EXPECT_TRUE(std::is_sorted(p.reports.begin(), p.reports.end()));
    EXPECT_EQ(p.reports.front(), 0);
    EXPECT_EQ(p.reports.back(), 100);
    EXPECT_NE(s.Light_GetShadowMap(C("A")), nullptr);
    EXPECT_EQ(s.Light_GetShadowMap(C("Off")), nullptr);
    EXPECT_EQ(s.Light_GetShadowMap(C("A"))[28 * kTexW + 28], s.Light_GetShadowMap(C("A"))[28 * kTexW + 29]);

    // Without shadow-casting lights: 0 then 100.
    CQNF_3D_Surface2 none;
    s3dtest::RecordingProgress q;
    none.SetProgress(&q);
    ASSERT_EQ(none.Light_GenerateAllInnerShadowMaps(alpha.data(), kTexW, kTexW, kTexH, 1.0f), 1);
    EXPECT_EQ(q.reports, (std::vector<int>{0, 100}));
}
