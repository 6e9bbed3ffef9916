// Lighting of the high-quality renderers of both generations: the flat rule,
// the lights' terms, shadow maps, bump maps, perspective texturing and the
// interpolated normals of the Phong renderers.
#include "S3DHQHelpers.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace s3dtest;

namespace {

char* C(const char* s) { return const_cast<char*>(s); }

// A second-generation light with the vector (x, y, z) as the lighting uses it.
CQNF_3D_Surface2::LIGHT_SOURCE Light2(float x, float y, float z)
{
    CQNF_3D_Surface2::LIGHT_SOURCE l{};
    l.name = C("L");
    l.x = -x;
    l.y = y;
    l.z = z;
    l.zKept = 1;
    for (int k = 0; k < 8; ++k)
        l.diffuseColour[k] = l.specularColour[k] = 255;
    return l;
}

void NoAmbient(CQNF_3D_Surface2& s, float highlight = 0, float shadow = 0)
{
    uint8_t white[8] = {255, 255, 255, 255, 255, 255, 255, 255};
    s.Light_SetAmbientLight(white, highlight, white, shadow, 0, 0);
}

CQNF_3D_Surface::LIGHT_SOURCE Light1(float x, float y, float z, float percent = 100.0f)
{
    CQNF_3D_Surface::LIGHT_SOURCE l{};
    l.name = C("L");
    l.enabled = 1;
    l.colourScale = 1.0f;
    for (int k = 0; k < 4; ++k)
        l.colour[k] = 0.5f;
    l.colourPercentage = 100.0f;
    l.diffusePercentage = percent;
    l.x = x;
    l.y = y;
    l.z = z;
    l.shadowIntensity = 100.0f;
    return l;
}

// A quad over the picture tilted so that its unit normal is (0, -0.8, 0.6).
template <class S>
void Tilted(S& s, int w, int h)
{
    AddQuad(s, 0, 0, float(w), float(h), 0);
    for (uint32_t i = 0; i < 4; ++i)
        s.GetVertex(i)->z = s.GetVertex(i)->y * (4.0f / 3.0f);
}

}  // namespace

TEST(SurfaceHQLighting, FlatRuleAndFactorsAboveOne)
{
    CQNF_3D_Surface2 s;
    Tilted(s, 8, 8);
    ASSERT_NEAR(s.GetMeshNormal(0ul).z, 0.6f, 1e-6f);
    Tex x(8, 8, 255, 200, 0);
    Target t(8, 8);
    Args a;
    a.flat = 50.0f;  // (0.6 - 1) x 0.5 + 1 = 0.8
    ASSERT_EQ(Call(R::Opt2, &s, nullptr, t, x, a), 1);
    EXPECT_EQ(t.at(1, 4, 4), 160);
    // No lights, ambient highlight 150 %: factor 1.5 takes 100 to 151.67.
    CQNF_3D_Surface2 f;
    AddQuad(f, 0, 0, 8, 8, 0);
    NoAmbient(f, 150.0f);
    f.Light_PrecalculateLights(1);
    Tex y(8, 8, 255, 100, 0);
    ASSERT_EQ(Call(R::Opt2, &f, nullptr, t, y, Args{}), 1);
    EXPECT_EQ(t.at(1, 4, 4), 152);
    // The simple rule: 1 - (1 - 0.6) x 0.5 = 0.8 as well, truncated.
    Tex z(8, 8, 255, 201, 0);
    a.shading = 50.0f;
    ASSERT_EQ(Call(R::Simple2, &s, nullptr, t, z, a), 1);
    EXPECT_EQ(t.at(1, 4, 4), 160);  // 160.8
}

TEST(SurfaceHQLighting, SecondGenerationDiffuseSpecularAndPasses)
{
    const float L[3] = {0.6f, 0.0f, 0.8f};
    auto render = [&](bool front, bool diffuse, bool specular, uint8_t texel) {
        CQNF_3D_Surface2 s;
        AddQuad(s, 0, 0, 8, 8, 0, 0, 0, front ? 1 : 0);
        auto l = Light2(L[0], L[1], L[2]);
        l.diffuseOpacity = 50.0f;
        l.specularOpacity = 100.0f;
        l.gloss = 10.0f;  // exponent 1.25
        (front ? l.diffuseInHighlight : l.diffuseInShadow) = diffuse;
        (front ? l.specularInHighlight : l.specularInShadow) = specular;
        s.Light_Add(&l);
        NoAmbient(s, 10.0f, 20.0f);
        s.Light_PrecalculateLights(1);
        Tex x(8, 8, 255, texel, texel);
        Target t(8, 8);
        EXPECT_EQ(Call(R::Opt2, &s, nullptr, t, x, Args{}), 1);
        return int(t.at(1, 4, 4));
    };
    // Front: N = (0, 0, 1), dot 0.8; s = 2 x 0.8 - 0.8 = 0.8.
    const double specular = std::pow(0.8, 1.25);
    EXPECT_EQ(render(true, true, false, 200), int(std::lround(200 * (0.1 + 0.8 * 0.5))));
    EXPECT_EQ(render(true, false, true, 100), int(std::lround(100 * (0.1 + specular))));
    // Back: N = (0, 0, -1), dot -0.8 and the shadow pass takes -dot; the
    // specular term uses s = max(0, 2 x -0.8 x -1 - 0.8) = 0.8 again.
    EXPECT_EQ(render(false, true, false, 200), int(std::lround(200 * (0.2 + 0.8 * 0.5))));
    EXPECT_EQ(render(false, false, true, 100), int(std::lround(100 * (0.2 + specular))));
}

TEST(SurfaceHQLighting, ShadowMapsDarkenTheirLightOnlyWhenMadeForTheTexture)
{
    // One light giving 0.5 at the texel, no ambient, texel 200: 100 lit.
    for (int gen : {1, 2}) {
        for (float intensity : {100.0f, 50.0f}) {
            for (int mapWidth : {8, 9}) {
                CQNF_3D_Surface2 s2;
                CQNF_3D_Surface s1;
                Tex x(8, 8, 255, 200, 0);
                Target t(8, 8);
                Args a;
                a.shadows = 1;
                R r = R::Opt2;
                if (gen == 2) {
                    AddQuad(s2, 0, 0, 8, 8, 0);
                    auto l = Light2(0, 0, 1);
                    l.diffuseOpacity = 50.0f;
                    l.diffuseInHighlight = 1;
                    l.castsShadow = 1;
                    l.shadowIntensity = intensity;
                    s2.Light_Add(&l);
                    NoAmbient(s2);
                    s2.Light_PrecalculateLights(1);
                    ASSERT_EQ(s2.Light_CreateShadowMapStorage(C("L"), mapWidth, 8), 1);
                    std::fill(s2.Light_GetShadowMap(C("L")), s2.Light_GetShadowMap(C("L")) + mapWidth * 8, 0);
                } else {
                    r = R::Opt1;
                    AddQuad(s1, 0, 0, 8, 8, 0);
                    auto l = Light1(0, 0, 1);
                    l.shadowIntensity = intensity;
                    s1.Light_Add(&l);
                    s1.Light_SetAmbientLight(0, 0, 0, 0);
                    ASSERT_EQ(s1.Light_CreateShadowMapStorage(C("L"), mapWidth, 8), 1);
                    std::fill(s1.Light_GetShadowMap(C("L")), s1.Light_GetShadowMap(C("L")) + mapWidth * 8, 0);
                }
                ASSERT_EQ(Call(r, &s2, &s1, t, x, a), 1);
                const int expect = mapWidth != 8 ? 100 : intensity == 100.0f ? 0 : 50;
                EXPECT_EQ(t.at(1, 3, 3), expect) << gen << " " << intensity << " " << mapWidth;
                const uint8_t inUse = gen == 2 ? s2.int_Light_Get(0)->shadowInUse : s1.int_Light_Get(0)->shadowInUse;
                EXPECT_EQ(inUse, mapWidth == 8 ? 1 : 0);
                // The complete renderer and the Phong renderer of the first
                // generation use the map too; the second generation's Phong never.
                if (gen == 1) {
                    Target u(8, 8);
                    ASSERT_EQ(Call(R::Full1, &s2, &s1, u, x, a), 1);
                    EXPECT_EQ(u.at(1, 3, 3), expect);
                    ASSERT_EQ(Call(R::Phong1, &s2, &s1, u, x, a), 1);
                    EXPECT_EQ(u.at(1, 3, 3), expect);
                } else {
                    Target u(8, 8);
                    ASSERT_EQ(Call(R::Phong2, &s2, &s1, u, x, a), 1);
                    EXPECT_EQ(u.at(1, 3, 3), 100);
                    EXPECT_EQ(s2.int_Light_Get(0)->shadowInUse, 0);
                }
            }
        }
    }
}

TEST(SurfaceHQLighting, FirstGenerationOneLightAndAllLights)
{
    // N = (0, 0, 1), L = (0.6, 0, 0.8): dot 0.8; Q = 2 x 0.64 - 1 = 0.28,
    // whose power 101 vanishes; f = 0.8; factor 0.1 + 0.8 x 0.5 = 0.5. A back
    // side, N = (0, 0, -1), takes -dot: the same light reaches it.
    for (bool front : {true, false}) {
        CQNF_3D_Surface s;
        AddQuad(s, 0, 0, 8, 8, 0, 0, 0, front ? 1 : 0);
        auto l = Light1(0.6f, 0, 0.8f);
        s.Light_Add(&l);
        s.Light_SetAmbientLight(0.1f, 0.1f, 0.1f, 0.1f);
        Tex x(8, 8, 255, 200, 200);
        Target t(8, 8);
        ASSERT_EQ(Call(R::Opt1, nullptr, &s, t, x, Args{}), 1);
        EXPECT_EQ(t.at(1, 4, 4), 100) << front;
        // All enabled lights: c = 0.8, f = 1 - (1 - 0.8) = 0.8, the same.
        ASSERT_EQ(Call(R::Full1, nullptr, &s, t, x, Args{}), 1);
        EXPECT_EQ(t.at(1, 4, 4), 100) << front;
        // A second, disabled light changes nothing; enabled it adds.
        auto l2 = Light1(0, 0, 1.0f, 50.0f);
        l2.name = C("M");
        l2.enabled = 0;
        s.Light_Add(&l2);
        ASSERT_EQ(Call(R::Full1, nullptr, &s, t, x, Args{}), 1);
        EXPECT_EQ(t.at(1, 4, 4), 100);
        s.Light_Enable(C("M"), 1);
        ASSERT_EQ(Call(R::Full1, nullptr, &s, t, x, Args{}), 1);
        // c = 1: f = 1, adds 0.5: factor 1.0.
        EXPECT_EQ(t.at(1, 4, 4), 200);
    }
}

TEST(SurfaceHQLighting, BumpMapsTiltTheNormalInsideTheTexture)
{
    // Bump heights rising by 3 per texel along x: differences of 6, damped to
    // 5 with the dead zone. k = 0.1 gives N = normalise(0.5, 0, 1) or
    // normalise(0.6, 0, 1); a white light along z at full diffuse strength.
    CQNF_3D_Surface2 s;
    AddQuad(s, 0, 0, 16, 4, 0);
    auto l = Light2(0, 0, 1);
    l.diffuseOpacity = 100.0f;
    l.diffuseInHighlight = 1;
    s.Light_Add(&l);
    NoAmbient(s);
    s.Light_PrecalculateLights(1);
    Tex x(16, 4, 255, 200, 0);
    for (int y = 0; y < 4; ++y)
        for (int px = 0; px < 16; ++px)
            x.bump[1][y * 16 + px] = uint8_t(3 * px);
    Args a;
    a.bump = true;
    a.bumpDepth[1] = 0.1f;
    Target t(16, 4), u(16, 4);
    ASSERT_EQ(Call(R::Opt2, &s, nullptr, t, x, a), 1);
    ASSERT_EQ(Call(R::Phong2, &s, nullptr, u, x, a), 1);
    EXPECT_EQ(t.at(1, 5, 1), int(std::lround(200 / std::sqrt(1.25))));  // 179
    EXPECT_EQ(u.at(1, 5, 1), 171);                                     // 200 / sqrt(1.36) = 171.499
    // Column 0, the last column and the border rows keep the face normal.
    EXPECT_EQ(t.at(1, 0, 1), 200);
    EXPECT_EQ(t.at(1, 15, 1), 200);
    EXPECT_EQ(t.at(1, 5, 0), 200);
    // Neighbours differing by 1 fall in the dead zone.
    for (int y = 0; y < 4; ++y)
        for (int px = 0; px < 16; ++px)
            x.bump[1][y * 16 + px] = uint8_t((px + y) & 1);
    ASSERT_EQ(Call(R::Opt2, &s, nullptr, t, x, a), 1);
    EXPECT_EQ(t.plane[1], std::vector<uint8_t>(64, 200));
    // Depth 0 switches the bump map off.
    a.bumpDepth[1] = 0.0f;
    for (int y = 0; y < 4; ++y)
        for (int px = 0; px < 16; ++px)
            x.bump[1][y * 16 + px] = uint8_t(3 * px);
    ASSERT_EQ(Call(R::Opt2, &s, nullptr, t, x, a), 1);
    EXPECT_EQ(t.plane[1], std::vector<uint8_t>(64, 200));
}

TEST(SurfaceHQLighting, PerspectiveDrawsTowardTheCentreWithCorrectTexels)
{
    // A plane at one depth shrinks about the centre by F / (F + 1); texel
    // columns follow the inverse of that scaling.
    for (R r : {R::Opt2, R::Opt1}) {
        CQNF_3D_Surface2 s2;
        CQNF_3D_Surface s1;
        for (CQNF_3D_SurfaceBase* s : {static_cast<CQNF_3D_SurfaceBase*>(&s2), static_cast<CQNF_3D_SurfaceBase*>(&s1)})
            AddQuad(*s, 0, 0, 64, 8, 5.0f);
        AddFrontLight(s2);
        AddFrontLight(s1);
        Tex x(64, 8);
        for (int px = 0; px < 64; ++px)
            for (int y = 0; y < 8; ++y)
                x.Set(px, y, 255, uint8_t(px * 3), 0);
        Target t(64, 8);
        Args a;
        a.perspective = 1;
        a.centre = qnt3D_VERTEX{0, 0, 3.0f};  // scale 0.75
        a.flat = 0.0f;
        ASSERT_EQ(Call(r, &s2, &s1, t, x, a), 1);
        EXPECT_EQ(t.at(0, 47, 5), 255) << Name(r);
        EXPECT_EQ(t.at(0, 48, 5), 0) << Name(r);
        for (int px : {0, 10, 33, 47})
            EXPECT_EQ(t.at(1, px, 2), uint8_t(int((px + 0.0) / 0.75) * 3)) << Name(r) << " " << px;
    }
    // The first generation's perspective fill draws bump-mapped sides too.
    CQNF_3D_Surface s;
    AddQuad(s, 0, 0, 8, 8, 0);
    AddFrontLight(s);
    Tex x(8, 8);
    Target t(8, 8);
    Args a;
    a.perspective = 1;
    a.autoCentre = 1;
    a.bump = true;
    a.bumpDepth[1] = 1.0f;
    ASSERT_EQ(Call(R::Opt1, nullptr, &s, t, x, a), 1);
    EXPECT_EQ(t.at(0, 4, 4), 255);
}

TEST(SurfaceHQLighting, PhongInterpolatesVertexNormals)
{
    // A flat grid: the interpolated normal is the face normal everywhere.
    CQNF_3D_Surface2 flat;
    MakeGrid(flat, 4, 4, 0, 0, 6, [](float, float) { return 2.0f; });
    AddFrontLight(flat, 70.0f, 0.3f, -0.4f);
    Tex x(30, 30, 255, 190, 0);
    Target a(24, 24), b(24, 24);
    ASSERT_EQ(Call(R::Opt2, &flat, nullptr, a, x, Args{}), 1);
    ASSERT_EQ(Call(R::Phong2, &flat, nullptr, b, x, Args{}), 1);
    EXPECT_TRUE(a == b);

    // A sheet folded along x = 12: flat shading jumps at the fold, the
    // interpolated normals change smoothly across it.
    for (int gen : {2, 1}) {
        CQNF_3D_Surface2 s2;
        CQNF_3D_Surface s1;
        auto fold = [](float xx, float) { return std::fabs(xx - 12.0f) * 0.8f; };
        MakeGrid(s2, 4, 4, 0, 0, 6, fold);
        MakeGrid(s1, 4, 4, 0, 0, 6, fold);
        AddFrontLight(s2, 80.0f, 0.5f, 0.0f);
        AddFrontLight(s1, 100.0f, 0.5f, 0.0f);
        Target f(24, 24), p(24, 24);
        ASSERT_EQ(Call(gen == 2 ? R::Opt2 : R::Opt1, &s2, &s1, f, x, Args{}), 1);
        ASSERT_EQ(Call(gen == 2 ? R::Phong2 : R::Phong1, &s2, &s1, p, x, Args{}), 1);
        auto step = [](const Target& t, int px) { return std::abs(int(t.at(1, px, 10)) - int(t.at(1, px + 1, 10))); };
        EXPECT_GT(step(f, 11), 10) << gen;
        EXPECT_EQ(step(f, 10) + step(f, 12), 0) << gen;
        // Across the fold no bigger a step than beside it.
        EXPECT_LE(step(p, 11), std::max(step(p, 10), step(p, 12)) + 1) << gen;
    }
}

TEST(SurfaceHQLighting, PhongCancelledAtFirstCheckComputesNothing)
{
    CQNF_3D_Surface2 s;
    MakeGrid(s, 2, 2, 0, 0, 4, [](float, float) { return 0.0f; });
    Tex x(8, 8);
    Target t(8, 8), before(8, 8);
    RecordingProgress cancel(1);
    s.SetProgress(&cancel);
    EXPECT_EQ(Call(R::Phong2, &s, nullptr, t, x, Args{}), 0);
    EXPECT_EQ(s.GetVertexNormal(0), nullptr);
    EXPECT_TRUE(t == before);
    EXPECT_TRUE(cancel.reports.empty());
}

TEST(SurfaceHQLighting, FaceNormalWithZeroDepthTakesTheBackSide)
{
    // A triangle standing edge-on (its normal has z = 0) shows an area only
    // through the perspective; it takes the back side's colour.
    CQNF_3D_Surface2 s;
    s.Create(3, 1);
    *s.GetVertex(0) = qnt3D_VERTEX{0, 0, 0};
    *s.GetVertex(1) = qnt3D_VERTEX{40, 40, 0};
    *s.GetVertex(2) = qnt3D_VERTEX{0, 0, 40};
    *s.GetTriMesh(0) = {0, 1, 2, 0};
    s.RecreateMappingArrayFromCurrentValues();
    ASSERT_EQ(s.GetMeshNormal(0ul).z, 0.0f);
    Tex x(48, 48);
    Target t(48, 48);
    Args a;
    a.perspective = 1;
    a.centre = qnt3D_VERTEX{0, 48, 20};
    a.flat = 0.0f;  // factor 1: the solid colours as they are
    a.frontSolid = a.backSolid = 1;
    ASSERT_EQ(Call(R::Opt2, &s, nullptr, t, x, a), 1);
    int covered = 0;
    for (int i = 0; i < 48 * 48; ++i)
        if (t.plane[0][i] == 255) {
            ++covered;
            EXPECT_EQ(t.plane[1][i], 50);  // the back colour
        }
    EXPECT_GT(covered, 20);
}
