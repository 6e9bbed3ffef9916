// The high-quality renderers' quick forms for the usual case (four channels,
// one lighting per triangle, supersampling 1 or 2) against their general
// forms: a render into four channels must give exactly the alpha and first
// three colour planes of the same render into five, which takes the general
// span loop and resolve. Scenes overlap deeply (so the fragment pool grows
// mid-span), mix opaque, translucent and empty texels, magnify the texture
// (texel runs), show both sides and light the channels alike or apart. The
// three-channel shading and the shade tables are checked against the
// one-channel rule over every byte value.
#include "S3DHQHelpers.h"
#include "surface3d/HQFrameParts.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

using namespace s3dtest;

namespace {

// Random triangles over a w x h picture, depths that tie now and then,
// texture coordinates spread over a small texture (magnified about 3x).
template <class Surface>
void RandomScene(Surface& s, std::mt19937& rng, int triangles, int w, int h)
{
    std::uniform_real_distribution<float> px(-4.0f, float(w) + 4.0f), py(-4.0f, float(h) + 4.0f);
    std::uniform_int_distribution<int> depth(0, 6);
    s.Create(static_cast<unsigned long>(3 * triangles), static_cast<unsigned long>(triangles));
    for (int i = 0; i < triangles; ++i) {
        const float z = float(depth(rng)) * 0.5f;
        for (int k = 0; k < 3; ++k)
            *s.GetVertex(3 * i + k) = qnt3D_VERTEX{px(rng), py(rng), z + 0.01f * float(k)};
        *s.GetTriMesh(i) = {uint32_t(3 * i), uint32_t(3 * i + 1), uint32_t(3 * i + 2), uint8_t(i % 2)};
    }
    s.RecreateMappingArrayFromCurrentValues();
    for (int i = 0; i < 3 * triangles; ++i) {
        qnt2D_VERTEX* m = s.GetMapping(i);
        m->x = m->x / 3.0f + 0.3f;
        m->y = m->y / 3.0f + 0.7f;
    }
}

Tex MixedTexture(std::mt19937& rng, int w, int h)
{
    std::uniform_int_distribution<int> byte(0, 255);
    Tex x(w, h);
    for (int y = 0; y < h; ++y)
        for (int i = 0; i < w; ++i) {
            const int kind = (i + 2 * y) % 5;
            const uint8_t a = kind == 0 ? 0 : kind < 3 ? 255 : uint8_t(1 + byte(rng) % 254);
            x.Set(i, y, a, uint8_t(byte(rng) / 2), uint8_t(byte(rng) / 2));
        }
    return x;
}

void Light(CQNF_3D_Surface& s, float, bool) { AddFrontLight(s, 80.0f, 0.35f, -0.25f); }

// A tinted ambient light gives each colour channel its own factor (and the
// span loop its own shade table per channel).
void Light(CQNF_3D_Surface2& s, float ambient, bool tinted)
{
    AddFrontLight(s, 70.0f, 0.35f, -0.25f);
    uint8_t white[8] = {255, 255, 255, 255, 255, 255, 255, 255};
    uint8_t tint[8] = {255, 255, 150, 40, 255, 255, 255, 255};
    s.Light_SetAmbientLight(tinted ? tint : white, ambient, white, ambient, 0, 0);
    s.Light_PrecalculateLights(1);
}

}  // namespace

TEST(SurfaceHQQuickForms, FourChannelsEqualTheGeneralFiveChannelRender)
{
    struct Case {
        const char* what;
        R renderer;
        float ambient;  // 60 % pushes factors above 1 (the brightening rule)
        float flat;
        uint8_t frontSolid;
        bool quarterClip;
        bool tinted = false;
    };
    const Case cases[] = {
        {"lit, factors below 1", R::Opt2, 0.0f, -1.0f, 0, false},
        {"lit, factors above 1", R::Opt2, 60.0f, -1.0f, 0, false},
        {"tinted, a factor per channel", R::Opt2, 60.0f, -1.0f, 0, false, true},
        {"tinted and clipped", R::Opt2, 30.0f, -1.0f, 0, true, true},
        {"flat rule", R::Opt2, 0.0f, 35.0f, 0, false},
        {"solid front", R::Opt2, 60.0f, -1.0f, 1, false},
        {"clipped, cuts texel runs", R::Opt2, 20.0f, -1.0f, 0, true},
        {"simple, truncating", R::Simple2, 0.0f, -1.0f, 0, false},
        {"first generation, one light", R::Opt1, 0.0f, -1.0f, 0, false},
        {"first generation, clipped", R::Opt1, 0.0f, -1.0f, 0, true},
    };
    constexpr int W = 40, H = 32;
    for (const Case& c : cases)
        for (int q : {1, 2, 3})
            for (int seed = 0; seed < 3; ++seed) {
                std::mt19937 rng(static_cast<unsigned>(100 * q + seed));
                CQNF_3D_Surface2 s;
                CQNF_3D_Surface s1;
                std::mt19937 rng1 = rng;
                RandomScene(s, rng, 14, W, H);
                RandomScene(s1, rng1, 14, W, H);
                Light(s, c.ambient, c.tinted);
                Light(s1, c.ambient, c.tinted);
                Tex x = MixedTexture(rng, W / 3 + 4, H / 3 + 4);
                Args a;
                a.q = uint8_t(q);
                a.flat = c.flat;
                a.frontSolid = c.frontSolid;
                a.shading = 70.0f;
                if (c.quarterClip)
                    a.clip = qntRECT_s{7, 5, 31, 27};
                Target four(W, H), five(W, H);
                a.n = 4;
                ASSERT_EQ(Call(c.renderer, &s, &s1, four, x, a), 1) << c.what;
                a.n = 5;
                ASSERT_EQ(Call(c.renderer, &s, &s1, five, x, a), 1) << c.what;
                int covered = 0;
                for (size_t i = 0; i < four.plane[0].size(); ++i)
                    covered += four.plane[0][i] != 0 && four.plane[0][i] != 77;
                EXPECT_GT(covered, W * H / 4) << c.what << ": the scene must cover the picture";
                for (int p = 0; p < 4; ++p)
                    EXPECT_EQ(four.plane[p], five.plane[p]) << c.what << " q " << q << " seed " << seed << " plane "
                                                            << p;
            }
}

TEST(SurfaceHQQuickForms, ThreeChannelShadingEqualsTheOneChannelRule)
{
    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    const float factors[] = {0.0f, -0.0f, -0.5f, 0.25f, 0.5f, 0.999f, 1.0f, 1.0001f, 1.5f, 2.0f, 7.0f, 1e30f, inf, nan,
                             254.5f / 255.0f, 127.0f / 255.0f, -inf};
    for (float f0 : factors)
        for (float f1 : {0.5f, 1.25f}) {
            const s3d::hq::Rule rules[3] = {s3d::hq::MakeRule(f0), s3d::hq::MakeRule(f1), s3d::hq::MakeRule(f0 * 0.7f)};
            const s3d::hq::ShadeTriple<true> nearest(rules);
            const s3d::hq::ShadeTriple<false> truncating(rules);
            // The shade tables of large triangles, built from the folded factors.
            uint8_t tableN[3][256], tableT[3][256];
            for (int k = 0; k < 3; ++k) {
                const float F = rules[k].over ? 1.0f : rules[k].f, G = rules[k].over ? rules[k].g : 0.0f;
                s3d::hq::ShadeTable<true>(F, G, tableN[k]);
                s3d::hq::ShadeTable<false>(F, G, tableT[k]);
            }
            for (int v = 0; v < 256; ++v) {
                const uint8_t c0 = uint8_t(v), c1 = uint8_t(255 - v), c2 = uint8_t(v * 7);
                const uint32_t n = nearest(c0, c1, c2), t = truncating(c0, c1, c2);
                const uint8_t cs[3] = {c0, c1, c2};
                for (int k = 0; k < 3; ++k) {
                    EXPECT_EQ((n >> (8 * k)) & 0xFF, s3d::hq::ShadeByte<true>(rules[k], cs[k]))
                        << "factor " << f0 << " value " << v << " channel " << k;
                    EXPECT_EQ((t >> (8 * k)) & 0xFF, s3d::hq::ShadeByte<false>(rules[k], cs[k]))
                        << "factor " << f0 << " value " << v << " channel " << k;
                    EXPECT_EQ(tableN[k][v], s3d::hq::ShadeByte<true>(rules[k], uint8_t(v)))
                        << "table, factor " << f0 << " value " << v << " channel " << k;
                    EXPECT_EQ(tableT[k][v], s3d::hq::ShadeByte<false>(rules[k], uint8_t(v)))
                        << "table, factor " << f0 << " value " << v << " channel " << k;
                }
                EXPECT_EQ(n >> 24, 0u);
            }
        }
}
