// The high-quality frame shared by every high-quality renderer: tiles,
// coverage, supersampling, the resolve of translucent fragments, progress
// and cancel, argument checks, and the scan line's texel runs and bump maps.
#include "S3DHQHelpers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

using namespace s3dtest;

namespace {

// A surface of each generation with the same mesh and a light each.
struct Pair {
    CQNF_3D_Surface2 s2;
    CQNF_3D_Surface s1;
    template <class Fn>
    void Build(Fn fn)
    {
        fn(s2);
        fn(s1);
    }
    void Lights()
    {
        AddFrontLight(s2);
        AddFrontLight(s1);
    }
    uint8_t Run(R r, Target& t, Tex& x, const Args& a) { return Call(r, &s2, &s1, t, x, a); }
};

}  // namespace

TEST(SurfaceHQFrame, EmptyClipFailsWithErrorOneAndTouchesNothing)
{
    for (R r : kAll) {
        Pair p;
        p.Build([](auto& s) { AddQuad(s, 2, 2, 10, 10, 0); });
        p.Lights();
        Target t(16, 16), before(16, 16);
        Tex x(16, 16);
        Args a;
        a.clip = qntRECT_s{20, 0, 30, 10};
        EXPECT_EQ(p.Run(r, t, x, a), 0) << Name(r);
        EXPECT_EQ(IsGen2(r) ? p.s2.GetError() : p.s1.GetError(), qnerr::BadArgument) << Name(r);
        EXPECT_TRUE(t == before) << Name(r);
    }
}

TEST(SurfaceHQFrame, BadArgumentsAreRefusedBeforeAnythingIsWritten)
{
    Pair p;
    p.Build([](auto& s) { AddQuad(s, 0, 0, 8, 8, 0); });
    p.Lights();
    Tex x(8, 8);
    auto expectRefused = [&](R r, Args a, Target& t, const char* what) {
        Target before = t;
        EXPECT_EQ(p.Run(r, t, x, a), 0) << Name(r) << " " << what;
        EXPECT_EQ(IsGen2(r) ? p.s2.GetError() : p.s1.GetError(), qnerr::BadArgument) << Name(r) << " " << what;
        EXPECT_TRUE(t == before) << Name(r) << " " << what;
    };
    for (R r : kAll) {
        Target t(8, 8);
        Args a;
        a.q = 0;
        expectRefused(r, a, t, "q 0");
        a = Args{};
        a.n = 0;
        expectRefused(r, a, t, "no channel");
        a.n = 6;
        expectRefused(r, a, t, "six channels");
        Target narrow(8, 8, 8);
        narrow.stride = 7;
        a = Args{};
        expectRefused(r, a, narrow, "stride below width");
    }
    // A solid side without its colour, a null texture plane.
    Target t(8, 8);
    Args a;
    a.frontSolid = 1;
    EXPECT_EQ(p.s2.RenderHQ_Simple(100, 1, 4, t.p(1), t.p(2), t.p(3), t.p(4), t.p(0), 8, 8, 8, 1, nullptr, nullptr,
                                   nullptr, nullptr, nullptr, 0, nullptr, x.back[0].data(), x.back[1].data(),
                                   x.back[2].data(), x.back[3].data(), x.alpha.data(), 8, 8, 8, qnNullRect),
              0);
    EXPECT_EQ(p.s2.RenderHQ_Simple(100, 1, 2, t.p(1), t.p(2), t.p(3), t.p(4), t.p(0), 8, 8, 8, 0, nullptr,
                                   x.front[0].data(), nullptr, nullptr, nullptr, 0, nullptr, nullptr, nullptr,
                                   nullptr, nullptr, x.alpha.data(), 8, 8, 8, qnNullRect),
              0);
    // A triangle naming a vertex that does not exist.
    p.s2.GetTriMesh(0)->c = 99;
    expectRefused(R::Opt2, Args{}, t, "index past the vertices");
    // The first generation's one-light renderers need a light.
    CQNF_3D_Surface lonely;
    AddQuad(lonely, 0, 0, 8, 8, 0);
    for (R r : {R::Opt1, R::Phong1}) {
        Target u(8, 8), before(8, 8);
        EXPECT_EQ(Call(r, nullptr, &lonely, u, x, Args{}), 0);
        EXPECT_EQ(lonely.GetError(), qnerr::BadArgument);
        EXPECT_TRUE(u == before);
    }
    CQNF_3D_Surface full;
    AddQuad(full, 0, 0, 8, 8, 0);
    EXPECT_EQ(full.RenderHQ(0, 1, 4, 1, t.p(1), t.p(2), t.p(3), t.p(4), t.p(0), 8, 8, 8, x.front[0].data(),
                            x.front[1].data(), x.front[2].data(), x.front[3].data(), x.back[0].data(), x.back[1].data(),
                            x.back[2].data(), x.back[3].data(), x.alpha.data(), 8, 8, 8, nullptr, nullptr, 8, 0, 0,
                            qnNullRect),
              0);
    EXPECT_EQ(full.GetError(), qnerr::BadArgument);  // the alternative layout is refused
}

TEST(SurfaceHQFrame, UncoveredPixelsGetAlphaZeroAndKeepTheirColour)
{
    for (R r : kAll) {
        for (uint8_t q : {1, 2, 5}) {
            Pair p;
            // A square on the left half only; a 900-wide picture at q 1 has a
            // second tile that no triangle reaches.
            p.Build([](auto& s) { AddQuad(s, 1, 1, 5, 5, 0); });
            p.Lights();
            Target t(900, 8);
            Tex x(900, 8);
            Args a;
            a.q = q;
            ASSERT_EQ(p.Run(r, t, x, a), 1) << Name(r);
            EXPECT_EQ(t.at(0, 3, 3), 255) << Name(r);
            for (int px : {0, 6, 600, 850})
                for (int c = 0; c < 5; ++c)
                    EXPECT_EQ(t.at(c, px, 6), c == 0 ? 0 : 33 + c) << Name(r) << " q " << int(q) << " x " << px;
        }
    }
}

TEST(SurfaceHQFrame, EmptyMeshClearsAlphaOfTheRenderRectangleOnly)
{
    for (R r : kAll) {
        Pair p;
        p.Lights();
        Target t(20, 10);
        Tex x(4, 4);
        Args a;
        a.clip = qntRECT_s{5, 2, 9, 30};
        ASSERT_EQ(p.Run(r, t, x, a), 1) << Name(r);
        for (int y = 0; y < 10; ++y)
            for (int px = 0; px < 20; ++px) {
                const bool inside = px >= 5 && px < 9 && y >= 2;
                EXPECT_EQ(t.at(0, px, y), inside ? 0 : 77) << Name(r);
                EXPECT_EQ(t.at(2, px, y), 35) << Name(r);
            }
    }
}

TEST(SurfaceHQFrame, SpanCoversItsStartColumnUpToButNotItsEnd)
{
    Pair p;
    p.Build([](auto& s) { AddQuad(s, 10, 3, 14, 4, 0); });
    Target t(20, 6);
    Tex x(20, 6);
    ASSERT_EQ(p.Run(R::Simple2, t, x, Args{}), 1);
    for (int px = 0; px < 20; ++px)
        EXPECT_EQ(t.at(0, px, 3), px >= 10 && px < 14 ? 255 : 0) << px;
    for (int px = 0; px < 20; ++px)
        EXPECT_EQ(t.at(0, px, 4), 0);
}

TEST(SurfaceHQFrame, TwoOfFourSubsamplesGiveHalfAlphaAndTheMeanColour)
{
    // q = 2: a quad half a pixel wide covers the left column of subsamples;
    // its two subsample rows read texel rows 0 and 1 (colours 100 and 201).
    Pair p;
    p.Build([](auto& s) {
        AddQuad(s, 0, 0, 0.5f, 1, 0);
        for (uint32_t i = 0; i < 4; ++i)
            s.GetMapping(i)->y *= 2.0f;
    });
    Target t(2, 1);
    Tex x(2, 2);
    x.Set(0, 0, 255, 100, 0);
    x.Set(0, 1, 255, 201, 0);
    Args a;
    a.q = 2;
    a.shading = 0;  // factor 1: texture colours unchanged
    ASSERT_EQ(p.Run(R::Simple2, t, x, a), 1);
    EXPECT_EQ(t.at(0, 0, 0), 127);
    EXPECT_EQ(t.at(1, 0, 0), 150);
    EXPECT_EQ(t.at(2, 0, 0), 151);
}

TEST(SurfaceHQFrame, TranslucentFragmentsCompositeFrontToBack)
{
    // Two quads of alpha 128 at depths 1 (nearer, colour 200) and 2 (colour 0).
    for (R r : {R::Simple2, R::Full1}) {
        Pair p;
        p.Build([](auto& s) {
            AddQuad(s, 0, 0, 4, 4, 2.0f, 4, 0);
            AddQuad(s, 0, 0, 4, 4, 1.0f, 0, 0);
        });
        p.Lights();
        p.s1.Light_SetAmbientLight(1, 1, 1, 1);
        p.s1.int_Light_Get(0)->enabled = 0;
        Target t(4, 4);
        Tex x(8, 4);
        for (int y = 0; y < 4; ++y)
            for (int px = 0; px < 8; ++px)
                x.Set(px, y, 128, px < 4 ? 200 : 0, 0);
        Args a;
        a.shading = 0;
        a.n = 2;
        ASSERT_EQ(p.Run(r, t, x, a), 1);
        // A = 128 + 128 - 64; colour (200 x 128 x 255 + 0) / (128 x 255 + 128 x 127).
        EXPECT_EQ(t.at(0, 2, 2), 192) << Name(r);
        EXPECT_EQ(t.at(1, 2, 2), 133) << Name(r);
        // The farther quad opaque with colour 0: (200 x 128) / 256 = 100, alpha 255.
        for (int y = 0; y < 4; ++y)
            for (int px = 4; px < 8; ++px)
                x.Set(px, y, 255, 0, 0);
        ASSERT_EQ(p.Run(r, t, x, a), 1);
        EXPECT_EQ(t.at(0, 2, 2), 255) << Name(r);
        EXPECT_EQ(t.at(1, 2, 2), 100) << Name(r);
        // The nearer opaque: the farther does not count at all.
        for (int y = 0; y < 4; ++y)
            for (int px = 0; px < 4; ++px)
                x.Set(px, y, 255, 200, 0);
        ASSERT_EQ(p.Run(r, t, x, a), 1);
        EXPECT_EQ(t.at(1, 2, 2), 200) << Name(r);
    }
}

TEST(SurfaceHQFrame, EqualDepthsShowTheFragmentAddedLastAndFarDepthsStillShow)
{
    Pair p;
    p.Build([](auto& s) {
        AddQuad(s, 0, 0, 4, 4, 3.0e9f, 0, 0);
        AddQuad(s, 0, 0, 4, 4, 3.0e9f, 4, 0);
    });
    Target t(4, 4);
    Tex x(8, 4);
    for (int y = 0; y < 4; ++y)
        for (int px = 0; px < 8; ++px)
            x.Set(px, y, 255, px < 4 ? 10 : 90, 0);
    Args a;
    a.shading = 0;
    ASSERT_EQ(p.Run(R::Simple2, t, x, a), 1);
    EXPECT_EQ(t.at(0, 1, 1), 255);
    EXPECT_EQ(t.at(1, 1, 1), 90);
}

TEST(SurfaceHQFrame, OnlyTheAlphaPlaneWithOneChannel)
{
    for (R r : kAll) {
        Pair p;
        p.Build([](auto& s) { AddQuad(s, 0, 0, 6, 6, 0); });
        p.Lights();
        Target t(6, 6);
        Tex x(6, 6);
        Args a;
        a.n = 1;
        ASSERT_EQ(p.Run(r, t, x, a), 1) << Name(r);
        for (int c = 1; c < 5; ++c)
            EXPECT_EQ(t.plane[c], std::vector<uint8_t>(36, uint8_t(33 + c))) << Name(r);
        EXPECT_EQ(t.plane[0], std::vector<uint8_t>(36, 255)) << Name(r);
    }
}

TEST(SurfaceHQFrame, ProgressCountsTilesTimesTrianglesAndCancelStops)
{
    // One tile, ten triangles: 0, 2, then at the fifth 2 + 4 x 9.8 and at the
    // tenth 2 + 9 x 9.8.
    CQNF_3D_Surface2 s;
    for (int i = 0; i < 5; ++i)
        AddQuad(s, float(i), 0, float(i + 1), 1, 0);
    Target t(8, 8);
    Tex x(8, 8);
    RecordingProgress rec;
    s.SetProgress(&rec);
    ASSERT_EQ(Call(R::Opt2, &s, nullptr, t, x, Args{}), 1);
    EXPECT_EQ(rec.reports, (std::vector<int>{0, 2, 41, 90}));

    // Tiles of 800 / q pixels: 801 pixels wide make two tiles at q 1, 267 at
    // q 3 and 4 at q 255; one tile fewer a pixel narrower.
    struct Case {
        int q, width, tiles;
    } cases[] = {{1, 801, 2}, {1, 800, 1}, {3, 267, 2}, {3, 266, 1}, {255, 4, 2}, {255, 3, 1}};
    for (const Case& c : cases) {
        RecordingProgress count;
        s.SetProgress(&count);
        Target w(c.width, 2);
        Args a;
        a.q = static_cast<uint8_t>(c.q);
        ASSERT_EQ(Call(R::Simple2, &s, nullptr, w, x, a), 1);
        EXPECT_EQ(count.reports.size(), 2u + c.tiles * 10 / 5) << c.q << " " << c.width;
    }

    // Cancel at the first poll: nothing written, 0 returned, error untouched.
    for (int at : {1, 2, 3}) {
        RecordingProgress cancel(at);
        s.SetProgress(&cancel);
        s.SetError(0);
        Target u(8, 8), before(8, 8);
        EXPECT_EQ(Call(R::Opt2, &s, nullptr, u, x, Args{}), 0) << at;
        EXPECT_EQ(s.GetError(), 0);
        EXPECT_TRUE(u == before) << at;
    }
    // The complete first-generation renderer neither reports nor cancels.
    CQNF_3D_Surface s1;
    AddQuad(s1, 0, 0, 4, 4, 0);
    RecordingProgress never(1);
    s1.SetProgress(&never);
    Target v(8, 8);
    EXPECT_EQ(Call(R::Full1, nullptr, &s1, v, x, Args{}), 1);
    EXPECT_TRUE(never.reports.empty());
}

TEST(SurfaceHQFrame, AnEmptyTextureShowsNoTexel)
{
    // Coordinates in (-1, 0) truncate to texel 0, which an empty texture
    // does not have: nothing is drawn. A texture one texel wide or high is
    // the control: the same coordinates show its texel.
    struct Case {
        const char* what;
        int w, h;        // texture as handed over
        float u, v;      // constant coordinate on that axis; the other runs 0..8
        bool drawn;
    };
    const Case cases[] = {
        {"no columns", 0, 4, -0.5f, -1.0f, false},
        {"no rows", 4, 0, -1.0f, -0.5f, false},
        {"one column", 1, 4, -0.5f, -1.0f, true},
        {"one row", 4, 1, -1.0f, -0.5f, true},
    };
    for (const Case& c : cases)
        for (R r : {R::Opt2, R::Simple2, R::Phong2, R::Opt1, R::Full1})
            for (uint8_t q : {1, 2}) {
                CQNF_3D_Surface2 s2;
                CQNF_3D_Surface s1;
                AddQuad(s2, 0, 0, 8, 8, 0);
                AddQuad(s1, 0, 0, 8, 8, 0);
                AddFrontLight(s1);  // the first generation's lit renderer needs a light
                for (CQNF_3D_SurfaceBase* s : {static_cast<CQNF_3D_SurfaceBase*>(&s2), static_cast<CQNF_3D_SurfaceBase*>(&s1)})
                    for (uint32_t i = 0; i < s->GetVertexCount(); ++i) {
                        qnt2D_VERTEX* m = s->GetMapping(i);
                        m->x = c.u >= -0.99f ? c.u : m->x / 2.0f;
                        m->y = c.v >= -0.99f ? c.v : m->y / 2.0f;
                    }
                // The planes hold at least one texel row, so a wrong read stays in the buffers.
                Tex x(std::max(c.w, 1), std::max(c.h, 1), 255, 200, 100, 4);
                x.w = c.w;
                x.h = c.h;
                Target t(8, 8);
                Args a;
                a.q = q;
                ASSERT_EQ(Call(r, &s2, &s1, t, x, a), 1) << c.what << " " << Name(r);
                int shown = 0;
                for (uint8_t v : t.plane[0])
                    shown += v == 255;
                EXPECT_EQ(shown > 0, c.drawn) << c.what << " " << Name(r) << " q " << int(q);
            }
}

TEST(SurfaceHQFrame, PoolThatCannotGrowStopsTheRenderWithErrorSeventeen)
{
    CQNF_3D_Surface2 s;
    for (int i = 0; i < 4; ++i)
        AddQuad(s, 0, 0, 16, 16, float(i), 0, 0);
    Tex x(16, 16, 100);
    Target t(16, 16);
    // 2 x 256 records to start with, four layers need 1024.
    s.SetHQFragmentLimit(600);
    EXPECT_EQ(Call(R::Simple2, &s, nullptr, t, x, Args{}), 0);
    EXPECT_EQ(s.GetError(), qnerr::NoMemory);
    s.SetHQFragmentLimit(1024 + 256);
    s.SetError(0);
    EXPECT_EQ(Call(R::Simple2, &s, nullptr, t, x, Args{}), 1);
    // Four layers of alpha 100: 100, 161, 198, 221.
    EXPECT_EQ(t.at(0, 8, 8), 221);
}

TEST(SurfaceHQFrame, TexelRunsShareTheFragmentOfTheirFirstPixel)
{
    // A quad at depth 5 and, before it, a quad whose depth rises from 4.6 to
    // 5.4 across 8 pixels while its texture is magnified 8 times: the whole
    // run of 8 pixels carries the depth 4.6 of its first pixel and stays in
    // front, though its own depth passes 5 half-way.
    CQNF_3D_Surface2 s;
    AddQuad(s, 0, 0, 16, 1, 5.0f, 0, 0);
    AddQuad(s, 0, 0, 16, 1, 0.0f, 0, 0);
    for (uint32_t i = 4; i < 8; ++i) {
        qnt3D_VERTEX* v = s.GetVertex(i);
        v->z = 4.6f + 0.1f * v->x;
        s.GetMapping(i)->x = 16.0f + v->x / 8.0f;
        s.GetMapping(i)->y = 0.0f;
    }
    Tex x(18, 1);
    for (int px = 0; px < 18; ++px)
        x.Set(px, 0, 255, px < 16 ? 10 : 240, 0);
    Target t(16, 1);
    Args a;
    a.shading = 0;
    ASSERT_EQ(Call(R::Simple2, &s, nullptr, t, x, a), 1);
    for (int px = 0; px < 8; ++px)
        EXPECT_EQ(t.at(1, px, 0), 240) << px;
    for (int px = 8; px < 16; ++px)
        EXPECT_EQ(t.at(1, px, 0), 10) << px;  // the run from 5.4 on is behind
    // Cut by a clip in the middle of the first run: the same bytes.
    Target left(16, 1);
    a.clip = qntRECT_s{0, 0, 5, 1};
    ASSERT_EQ(Call(R::Simple2, &s, nullptr, left, x, a), 1);
    a.clip = qntRECT_s{5, 0, 16, 1};
    ASSERT_EQ(Call(R::Simple2, &s, nullptr, left, x, a), 1);
    EXPECT_TRUE(left == t);
}

TEST(SurfaceHQFrame, NonFiniteTrianglesAreSkippedAndTheRestDrawn)
{
    CQNF_3D_Surface2 s;
    AddQuad(s, 0, 0, 4, 4, 0);
    AddQuad(s, 4, 0, 8, 4, 0);
    s.GetVertex(5)->x = std::nanf("");
    s.GetVertex(6)->y = 1.0e30f;
    Target t(8, 4);
    Tex x(8, 4);
    ASSERT_EQ(Call(R::Simple2, &s, nullptr, t, x, Args{}), 1);
    EXPECT_EQ(t.at(0, 2, 2), 255);
}

TEST(SurfaceHQFrame, HostileInputStaysSafe)
{
    // Meshes with coordinates that are not finite or far away, odd channel
    // counts, extreme supersampling and clips: every call returns 0 or 1 and
    // the sanitizers stay quiet.
    std::mt19937 rng(17);
    const float odd[] = {std::nanf(""), INFINITY, -INFINITY, 1.0e30f, -1.0e30f, 3.0e7f, -0.0f, 1.0e-30f};
    std::uniform_int_distribution<int> pick(0, 99);
    for (int round = 0; round < 30; ++round) {
        Pair p;
        p.Build([](auto& s) { MakeGrid(s, 3, 2, -1.5f, -0.5f, 3.3f, [](float x, float) { return x * 0.7f; }); });
        p.Lights();
        for (uint32_t v = 0; v < p.s2.GetVertexCount(); ++v)
            if (pick(rng) < 25) {
                const float f = odd[pick(rng) % 8];
                float* c = &p.s2.GetVertex(v)->x + pick(rng) % 3;
                *c = f;
                (&p.s1.GetVertex(v)->x)[c - &p.s2.GetVertex(v)->x] = f;
                if (pick(rng) < 30)
                    p.s2.GetMapping(v)->y = f;
            }
        Target t(8, 6, 9);
        Tex x(6, 5, uint8_t(pick(rng) * 2));
        Args a;
        const uint8_t qs[] = {1, 2, 3, 17};
        a.q = qs[pick(rng) % 4];
        a.n = uint8_t(pick(rng) % 8);
        a.bump = pick(rng) < 50;
        a.bumpDepth[0] = a.bumpDepth[1] = pick(rng) < 50 ? 1.0e9f : -3.0f;
        a.perspective = pick(rng) < 40;
        a.autoCentre = pick(rng) < 50;
        a.centre = qnt3D_VERTEX{odd[pick(rng) % 8], 2.0f, pick(rng) < 50 ? 0.0f : 1.0e-20f};
        a.flat = pick(rng) < 30 ? std::nanf("") : pick(rng) < 50 ? 1.0e9f : -1.0f;
        a.shading = pick(rng) < 50 ? -1.0e6f : 250.0f;
        a.frontSolid = uint8_t(pick(rng) < 30);
        a.shadows = 1;
        const qntRECT_s clips[] = {qnNullRect, {-100000, -5, 3, 100000}, {INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX},
                                   {5, 5, 4, 4}};
        a.clip = clips[pick(rng) % 4];
        for (R r : kAll) {
            const uint8_t res = p.Run(r, t, x, a);
            EXPECT_TRUE(res == 0 || res == 1) << Name(r);
        }
    }
    // The largest supersampling: tiles of 3 pixels.
    CQNF_3D_Surface2 s;
    AddQuad(s, 0.5f, 0.5f, 3.5f, 2.5f, 0);
    Tex x(4, 4);
    Target t(4, 4);
    Args a;
    a.q = 255;
    ASSERT_EQ(Call(R::Simple2, &s, nullptr, t, x, a), 1);
    EXPECT_EQ(t.at(0, 2, 1), 255);
    EXPECT_EQ(t.at(0, 0, 0), 128 * 128 * 255 / (255 * 255));  // from subsample 127 on: 128 x 128 covered
    // Huge outputs whose subsample coordinates would not fit 32 bits.
    EXPECT_EQ(s.RenderHQ_Simple(100, 255, 2, t.p(1), nullptr, nullptr, nullptr, t.p(0), 1ul << 30, 1ul << 24, 4, 0,
                                nullptr, x.front[0].data(), nullptr, nullptr, nullptr, 0, nullptr, x.back[0].data(),
                                nullptr, nullptr, nullptr, x.alpha.data(), 4, 4, 4, qntRECT_s{0, 0, 4, 4}),
              0);
    EXPECT_EQ(s.GetError(), qnerr::BadArgument);
}
