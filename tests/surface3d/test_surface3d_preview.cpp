// Preview rasterisers and renderers (shared by both generations).
#include "S3DTestScenes.h"
#include "imaging/Image.h"
#include "surface3d/TriangleWalk.h"

#include <gtest/gtest.h>

#include <cmath>
#include <algorithm>
#include <random>
#include <set>
#include <utility>

namespace {

using Px = std::pair<int, int>;
constexpr qntRGBA8 kBlack{0, 0, 0, 0};
constexpr qntRGBA8 kWhite{255, 255, 255, 255};

struct Canvas {
    CQNF_Image img;
    Canvas(int w, int h, uint8_t mode = 2, qntRGBA8 fill = kBlack)
    {
        img.Create(uint16_t(w), uint16_t(h), mode);
        img.Set(fill, 255);
    }
    uint8_t At(int p, int x, int y) { return img.GetPlane(unsigned(p))[y * img.GetImageWidth() + x]; }
    qntRECT_s All() const { return qntRECT_s{0, 0, img.GetImageWidth(), img.GetImageHeight()}; }
    // Pixels whose alpha plane was written.
    std::set<Px> Written()
    {
        std::set<Px> s;
        for (int y = 0; y < img.GetImageHeight(); ++y)
            for (int x = 0; x < img.GetImageWidth(); ++x)
                if (At(3, x, y))
                    s.insert({x, y});
        return s;
    }
    std::vector<uint8_t> Bytes()
    {
        const uint8_t* p = img.GetPlane(0);
        return std::vector<uint8_t>(p, p + 4 * img.PlaneSize());
    }
};

// A surface with a z-buffer the size of the whole canvas, for calling the
// rasterisers directly.
struct Bench {
    CQNF_3D_Surface2 s;
    Canvas c;
    Bench(int w, int h) : c(w, h) { s.RecreateZBuffer(uint16_t(w), uint16_t(h)); }
};

}  // namespace

TEST(SurfaceRaster, SpanCoversStartUpToEndAndReachesTheClipsLastColumn)
{
    Bench b(8, 4);
    b.s.int_DrawYLine(1, 2, 2, 0, 0, kWhite, &b.c.img, b.c.All(), 0);
    EXPECT_TRUE(b.c.Written().empty());
    b.s.int_DrawYLine(1, 2, 5, 0, 3, kWhite, &b.c.img, b.c.All(), 7);
    EXPECT_EQ(b.c.Written(), (std::set<Px>{{2, 1}, {3, 1}, {4, 1}}));
    EXPECT_EQ(b.s.GetZBuffer()[1 * 8 + 3].triangle, 7u);
    EXPECT_EQ(b.s.GetZBuffer()[1 * 8 + 3].depth, 1.0f);
    // A span running past the right edge fills the last column too.
    b.s.int_DrawYLine(2, 5, 12, 0, 0, kWhite, &b.c.img, b.c.All(), 0);
    EXPECT_EQ(b.c.At(3, 7, 2), 255);
    EXPECT_EQ(b.c.At(3, 4, 2), 0);
    // Outside the clip, or with a z-buffer of another size: nothing.
    b.s.int_DrawYLine(4, 0, 8, 0, 0, kWhite, &b.c.img, b.c.All(), 0);
    b.s.int_DrawYLine(0, 0, 8, 0, 0, kWhite, &b.c.img, qntRECT_s{0, 0, 4, 4}, 0);
    EXPECT_EQ(b.c.At(3, 0, 0), 0);
}

TEST(SurfaceRaster, EqualDepthKeepsTheFirstNearerWins)
{
    Bench b(4, 1);
    b.s.int_DrawYLine(0, 0, 4, 5, 5, qntRGBA8{10, 0, 0, 255}, &b.c.img, b.c.All(), 1);
    b.s.int_DrawYLine(0, 0, 4, 5, 5, qntRGBA8{20, 0, 0, 255}, &b.c.img, b.c.All(), 2);
    EXPECT_EQ(b.c.At(0, 1, 0), 10);
    EXPECT_EQ(b.s.GetZBuffer()[1].triangle, 1u);
    b.s.int_DrawYLine(0, 0, 4, 4, 4, qntRGBA8{30, 0, 0, 255}, &b.c.img, b.c.All(), 3);
    EXPECT_EQ(b.c.At(0, 1, 0), 30);
}

TEST(SurfaceRaster, TriangleRowsAndEdgeRounding)
{
    Bench b(8, 8);
    b.s.int_FillTriangle({0, 2}, {5, 2}, {7, 2}, 0, 0, 0, kWhite, &b.c.img, b.c.All(), 0);
    EXPECT_TRUE(b.c.Written().empty());
    b.s.int_FillTriangle({0, 0}, {4, 0}, {0, 4}, 0, 0, 0, kWhite, &b.c.img, b.c.All(), 0);
    for (int y = 0; y < 8; ++y) {
        int n = 0;
        for (int x = 0; x < 8; ++x)
            n += b.c.At(3, x, y) != 0;
        EXPECT_EQ(n, y < 4 ? 4 - y : 0) << y;
    }
    // Half a pixel to the right goes down, to the left cuts toward the start.
    EXPECT_EQ(s3d::EdgeColumn(0, 0, 3, 2, 1), 1);
    EXPECT_EQ(s3d::EdgeColumn(3, 0, 0, 2, 1), 2);
    EXPECT_EQ(s3d::EdgeColumn(0, 0, 17, 10, 1), 2);  // 1.7 goes to the nearest
    EXPECT_EQ(s3d::EdgeColumn(0, 0, -17, 10, 1), -1);
}

TEST(SurfaceRaster, SharedEdgesLeaveNoGapAndNoOverlap)
{
    std::mt19937 rng(3);
    for (int round = 0; round < 20; ++round) {
        // A jittered grid over [4, 60)^2 with a straight border, two triangles
        // per cell, each drawn alone; every pixel of the square once.
        const int n = 6;
        int gx[n + 1][n + 1], gy[n + 1][n + 1];
        for (int j = 0; j <= n; ++j)
            for (int i = 0; i <= n; ++i) {
                const bool border = i == 0 || j == 0 || i == n || j == n;
                gx[j][i] = 4 + i * 56 / n + (border && (i == 0 || i == n) ? 0 : int(rng() % 5) - 2);
                gy[j][i] = 4 + j * 56 / n + (border && (j == 0 || j == n) ? 0 : int(rng() % 5) - 2);
            }
        std::vector<int> count(64 * 64, 0);
        for (int j = 0; j < n; ++j)
            for (int i = 0; i < n; ++i) {
                const qntPOS p[4] = {{gx[j][i], gy[j][i]},
                                     {gx[j][i + 1], gy[j][i + 1]},
                                     {gx[j + 1][i + 1], gy[j + 1][i + 1]},
                                     {gx[j + 1][i], gy[j + 1][i]}};
                const qntPOS tris[2][3] = {{p[0], p[1], p[2]}, {p[2], p[3], p[0]}};
                for (const auto& t : tris) {
                    Bench b(64, 64);
                    b.s.int_FillTriangle(t[0], t[1], t[2], 0, 0, 0, kWhite, &b.c.img, b.c.All(), 0);
                    for (const Px& q : b.c.Written())
                        ++count[q.second * 64 + q.first];
                }
            }
        for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 64; ++x) {
                const bool inside = x >= 4 && x < 60 && y >= 4 && y < 60;
                ASSERT_EQ(count[y * 64 + x], inside ? 1 : 0) << x << "," << y << " round " << round;
            }
    }
}

TEST(SurfaceRaster, MeshLinesStepAndRespectNeighbours)
{
    Bench b(8, 8);
    b.s.Create(5ul, 3ul);
    *b.s.GetTriMesh(0) = {0, 1, 2, 0};
    *b.s.GetTriMesh(1) = {1, 2, 3, 0};  // shares an edge with 0
    *b.s.GetTriMesh(2) = {2, 3, 4, 0};  // shares one vertex with 0
    b.s.int_DrawMeshLine(3, 3, 3, 3, kWhite, &b.c.img, b.c.All(), 0);
    EXPECT_EQ(b.c.Written(), (std::set<Px>{{3, 3}}));
    Bench l(8, 8);
    l.s.int_DrawMeshLine(0, 0, 4, 2, kWhite, &l.c.img, l.c.All(), 0);
    EXPECT_EQ(l.c.Written(), (std::set<Px>{{0, 0}, {1, 1}, {2, 1}, {3, 2}, {4, 2}}));
    Bench r(8, 8);
    r.s.int_DrawMeshLine(4, 2, 0, 0, kWhite, &r.c.img, r.c.All(), 0);
    EXPECT_EQ(r.c.Written(), (std::set<Px>{{4, 2}, {3, 2}, {2, 1}, {1, 1}, {0, 0}}));
    Bench steep(8, 8);
    steep.s.int_DrawMeshLine(0, 0, 2, 4, kWhite, &steep.c.img, steep.c.All(), 0);
    EXPECT_EQ(steep.c.Written(), (std::set<Px>{{0, 0}, {1, 1}, {1, 2}, {2, 3}, {2, 4}}));

    // Cells owned by a triangle sharing one vertex hide the line; an edge
    // neighbour's cells let it through.
    b.s.int_DrawYLine(5, 0, 8, 0, 0, qntRGBA8{9, 9, 9, 255}, &b.c.img, b.c.All(), 2);
    b.s.int_DrawYLine(6, 0, 8, 0, 0, qntRGBA8{9, 9, 9, 255}, &b.c.img, b.c.All(), 1);
    b.s.int_DrawMeshLine(2, 5, 2, 6, kWhite, &b.c.img, b.c.All(), 0);
    EXPECT_EQ(b.c.At(0, 2, 5), 9);
    EXPECT_EQ(b.c.At(0, 2, 6), 255);
    EXPECT_EQ(b.s.GetZBuffer()[6 * 8 + 2].triangle, 1u);  // lines leave the depth alone
}

TEST(SurfaceRaster, AntiAliasedCoverageWeights)
{
    Bench b(5, 5);
    b.s.int_BlendAAMeshPixel(2, 2, 0, 0.5, 0.0, 1.0, kWhite, b.c.All(), &b.c.img, 0);
    EXPECT_EQ(b.c.At(3, 2, 2), 254);
    EXPECT_EQ(b.c.At(3, 2, 1), 112);
    EXPECT_EQ(b.c.At(3, 2, 3), 27);
    EXPECT_EQ(b.c.At(0, 2, 2), 253);  // white over black at distance 0
    Bench far(5, 5);
    far.s.int_BlendAAMeshPixel(2, 2, 1, 1.5, 1.5, 2.5, kWhite, far.c.All(), &far.c.img, 0);
    EXPECT_TRUE(far.c.Written().empty());
    // Half alpha halves the weight.
    Bench half(5, 5);
    half.s.int_BlendAAMeshPixel(2, 2, 1, 0.0, 0.0, 0.0, qntRGBA8{255, 255, 255, 128}, half.c.All(), &half.c.img, 0);
    EXPECT_EQ(half.c.At(3, 2, 2), (254 * 128) >> 8);
    EXPECT_EQ(half.c.At(3, 1, 2), (254 * 128) >> 8);

    // A horizontal line: its own row at full weight, the rows beside it one
    // pixel away.
    Bench line(8, 5);
    line.s.int_DrawAAMeshLine(1, 2, 6, 2, kWhite, &line.c.img, line.c.All(), 0);
    for (int x = 1; x <= 6; ++x) {
        EXPECT_EQ(line.c.At(3, x, 2), 254) << x;
        EXPECT_EQ(line.c.At(3, x, 1), 27) << x;
        EXPECT_EQ(line.c.At(3, x, 3), 27) << x;
    }
    // A diagonal: the pixels beside it lie 1/sqrt(2) away.
    Bench diag(8, 8);
    diag.s.int_DrawAAMeshLine(1, 1, 6, 6, kWhite, &diag.c.img, diag.c.All(), 0);
    const double t = 1.0 - 2.0 * std::sqrt(0.5) / 3.0;
    for (int k = 1; k <= 6; ++k) {
        EXPECT_EQ(diag.c.At(3, k, k), 254);
        EXPECT_EQ(diag.c.At(3, k - 1, k), uint8_t((int(float(t * t * 255.0)) * 255) >> 8)) << k;
    }
    EXPECT_EQ(line.c.At(3, 0, 2), 0);
    Bench dot(3, 3);
    dot.s.int_DrawAAMeshLine(1, 1, 1, 1, kWhite, &dot.c.img, dot.c.All(), 0);
    EXPECT_EQ(dot.c.Written(), (std::set<Px>{{1, 1}}));
}

TEST(SurfaceRaster, DraftSpansSkipMaskedAndOutsideTexels)
{
    Canvas front(4, 4, 2, qntRGBA8{100, 150, 200, 255}), back(4, 4, 1, qntRGBA8{1, 2, 3, 255});
    front.img.SetPixel(1, 0, qntRGBA8{7, 7, 7, 0});  // masked texel
    Bench b(6, 2);
    b.s.int_DrawYLine_DraftMapping_Simple(0, 0, 6, 0, 0, &front.img, &back.img, 1, 1.0, 0, 0, &b.c.img, b.c.All(), 4);
    EXPECT_EQ(b.c.At(0, 0, 0), 100);
    EXPECT_EQ(b.c.At(3, 1, 0), 0);
    EXPECT_EQ(b.s.GetZBuffer()[1].triangle, 0xFFFFFFFFu);
    EXPECT_EQ(b.c.At(3, 4, 0), 0);  // past the texture's width
    b.s.int_DrawYLine_DraftMapping_Simple(1, 0, 3, 0, 0, &front.img, &back.img, 0, 0.5, 0, 0, &b.c.img, b.c.All(), 4);
    EXPECT_EQ(b.c.At(2, 0, 1), 1);  // trunc(3 x 0.5): back colour, shaded

    Bench t(4, 1);
    t.s.int_DrawYLine_DraftMapping_Transformed(0, 0, 2, 0, 0, -0.5f, 0, 0.5f, 0, &front.img, &back.img, 1, 1.0,
                                               &t.c.img, t.c.All(), 0);
    EXPECT_EQ(t.c.At(0, 0, 0), 100);  // u = -0.5 cuts to texel column 0
    Bench s(4, 1);
    s.s.int_DrawYLine_DraftMapping_Transformed(0, 0, 2, 0, 0, -1.0f, 1, 3.0f, 1, &front.img, &back.img, 1, 1.0,
                                               &s.c.img, s.c.All(), 0);
    EXPECT_EQ(s.c.At(3, 0, 0), 0);  // u = -1 is outside
    EXPECT_EQ(s.c.At(0, 1, 0), 100);
}

// ---- Renderers ---------------------------------------------------------------------

namespace {

template <class S>
void Triangle(S& s, qnt3D_VERTEX a, qnt3D_VERTEX b, qnt3D_VERTEX c, uint8_t flags)
{
    s.Create(3ul, 1ul);
    *s.GetVertex(0) = a;
    *s.GetVertex(1) = b;
    *s.GetVertex(2) = c;
    *s.GetTriMesh(0) = {0, 1, 2, flags};
}

}  // namespace

template <class S>
class SurfacePreview : public ::testing::Test {};
using Generations = ::testing::Types<CQNF_3D_Surface2, CQNF_3D_Surface>;
TYPED_TEST_SUITE(SurfacePreview, Generations);

TYPED_TEST(SurfacePreview, ClipAndFailures)
{
    TypeParam s;
    s3dtest::AddQuad(s, 2, 2, 30, 30, 0);
    Canvas c(32, 32);
    EXPECT_EQ(s.RenderFlatShadedSurface(&c.img, 0, 0, qnNullRect, 0, kBlack, kWhite, kWhite), 1);
    EXPECT_EQ(c.Written().size(), 28u * 28u);
    const auto zb = s.GetZBuffer();
    Canvas d(32, 32);
    EXPECT_EQ(s.RenderFlatShadedSurface(&d.img, 0, 0, qntRECT_s{40, 40, 50, 50}, 0, kBlack, kWhite, kWhite), 0);
    EXPECT_EQ(s.GetError(), qnerr::BadArgument);
    Canvas rgb(32, 32, 1);
    s.ResetError();
    EXPECT_EQ(s.RenderFlatShadedSurface(&rgb.img, 0, 0, qnNullRect, 0, kBlack, kWhite, kWhite), 0);
    EXPECT_EQ(s.GetError(), qnerr::BadArgument);
    EXPECT_EQ(s.RenderDraftTexturedSurface(&rgb.img, 0, 0, &c.img, &c.img, qnNullRect), 0);
    EXPECT_EQ(s.RenderFlatShadedSurface(nullptr, 0, 0, qnNullRect, 0, kBlack, kWhite, kWhite), 0);
    EXPECT_EQ(s.RenderMeshGrid(nullptr, 0, 0, qnNullRect, 0, kWhite), 0);
    EXPECT_TRUE(d.Written().empty());
    EXPECT_EQ(s.GetZBuffer(), zb);
    EXPECT_EQ(s.GetZBufferWidth(), 32);
    EXPECT_EQ(s.GetZBuffer()[5 * 32 + 5].triangle, 0u);  // the z-buffer of the last good render
    // A clip reaching out of the image is cut to it; offsets move the mesh.
    Canvas e(32, 32);
    EXPECT_EQ(s.RenderFlatShadedSurface(&e.img, 10, -10, qntRECT_s{-5, -5, 20, 100}, 0, kBlack, kWhite, kWhite), 1);
    EXPECT_EQ(e.Written().size(), 8u * 20u);
    EXPECT_EQ(e.At(3, 12, 0), 255);
    // A mesh index past the vertex array is refused, not followed.
    s.GetTriMesh(1)->c = 40;
    EXPECT_EQ(s.RenderFlatShadedSurface(&e.img, 0, 0, qnNullRect, 0, kBlack, kWhite, kWhite), 0);
    EXPECT_EQ(s.RenderMeshGrid(&e.img, 0, 0, qnNullRect, 0, kWhite), 0);
}

TYPED_TEST(SurfacePreview, TrianglesWithNoVertexInTheClipAreSkipped)
{
    TypeParam s;
    Triangle(s, {-100, -100, 0}, {200, -100, 0}, {-100, 200, 0}, 1);
    Canvas c(16, 16);
    EXPECT_EQ(s.RenderFlatShadedSurface(&c.img, 0, 0, qnNullRect, 0, kBlack, kWhite, kWhite), 1);
    EXPECT_TRUE(c.Written().empty());
    // Shifted so that one vertex lands inside, it fills the whole clip.
    EXPECT_EQ(s.RenderFlatShadedSurface(&c.img, 100, 100, qnNullRect, 0, kBlack, kWhite, kWhite), 1);
    EXPECT_EQ(c.Written().size(), 16u * 16u);
}

TYPED_TEST(SurfacePreview, GridEdgesFollowFlags)
{
    const qnt3D_VERTEX a{2, 2, 0}, b{12, 2, 0}, c{2, 12, 0};
    auto drawn = [&](uint8_t flags) {
        TypeParam s;
        Triangle(s, a, b, c, flags);
        Canvas cv(16, 16);
        EXPECT_EQ(s.RenderMeshGrid(&cv.img, 0, 0, qnNullRect, 0, kWhite), 1);
        return cv.Written();
    };
    auto lines = [&](std::vector<std::pair<qnt3D_VERTEX, qnt3D_VERTEX>> ls) {
        Canvas cv(16, 16);
        for (auto& l : ls)
            cv.img.DrawLine(qntPOS{int(l.first.x), int(l.first.y)}, qntPOS{int(l.second.x), int(l.second.y)}, kWhite,
                            cv.All());
        return cv.Written();
    };
    EXPECT_TRUE(drawn(0).empty());
    EXPECT_TRUE(drawn(1).empty());
    EXPECT_EQ(drawn(4), lines({{a, b}, {c, a}}));
    EXPECT_EQ(drawn(2), lines({{b, c}, {c, a}}));
    EXPECT_EQ(drawn(6), lines({{a, b}, {b, c}, {c, a}}));
    EXPECT_FALSE(drawn(6).empty());
}

TYPED_TEST(SurfacePreview, GridEdgeSharedByTwoTrianglesBlendsTwice)
{
    TypeParam s;
    s3dtest::AddQuad(s, 2, 2, 12, 12, 0, 0, 0, 6);  // diagonal (2,2)-(12,12) in both triangles
    Canvas c(16, 16);
    ASSERT_EQ(s.RenderMeshGrid(&c.img, 0, 0, qnNullRect, 0, qntRGBA8{255, 255, 255, 128}), 1);
    const uint8_t once = (255 * 128) >> 8;
    EXPECT_EQ(c.At(0, 7, 2), once);                              // outer edge: one triangle
    EXPECT_EQ(c.At(0, 7, 7), (255 * 128 + once * 127) >> 8);  // the shared diagonal: both
}

TYPED_TEST(SurfacePreview, FlatShadingFactorAndSides)
{
    // Normal (0, -0.866, 0.5): a face seen at 60 degrees.
    TypeParam s;
    Triangle(s, {50, 10, 0}, {10, 10, 0}, {10, 35, 43.3f}, 0);
    ASSERT_GT(s.GetMeshNormal(0ul).z, 0.5f);
    ASSERT_LT(s.GetMeshNormal(0ul).z, 0.5001f);
    Canvas c(64, 64);
    ASSERT_EQ(s.RenderFlatShadedSurface(&c.img, 0, 0, qnNullRect, 0, kBlack, qntRGBA8{200, 100, 50, 77},
                                        qntRGBA8{1, 2, 3, 4}),
              1);
    EXPECT_EQ(c.At(0, 15, 12), 160);
    EXPECT_EQ(c.At(1, 15, 12), 80);
    EXPECT_EQ(c.At(2, 15, 12), 40);
    EXPECT_EQ(c.At(3, 15, 12), 255);  // an opaque write, whatever the colour's alpha
    // Facing straight: unchanged; facing away: the back colour.
    for (uint8_t flags : {uint8_t{1}, uint8_t{0}}) {
        TypeParam q;
        s3dtest::AddQuad(q, 0, 0, 8, 8, 0, 0, 0, flags);
        Canvas cq(8, 8);
        ASSERT_EQ(q.RenderFlatShadedSurface(&cq.img, 0, 0, qnNullRect, 0, kBlack, qntRGBA8{200, 100, 50, 77},
                                            qntRGBA8{10, 20, 30, 40}),
                  1);
        EXPECT_EQ(cq.At(0, 3, 3), flags ? 200 : 10);
        EXPECT_EQ(cq.At(2, 3, 3), flags ? 50 : 30);
    }
}

TYPED_TEST(SurfacePreview, FlatEvenlyLitPlaneIsOneColourAndGridOnlyWhereVisible)
{
    TypeParam s;
    s3dtest::MakeGrid(s, 8, 8, 0, 0, 8, [](float, float) { return 5.0f; }, 7);
    Canvas c(64, 64);
    ASSERT_EQ(s.RenderFlatShadedSurface(&c.img, 0, 0, qnNullRect, 0, kBlack, qntRGBA8{90, 120, 150, 255}, kBlack), 1);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) {
            ASSERT_EQ(c.At(0, x, y), 90);
            ASSERT_EQ(c.At(1, x, y), 120);
            ASSERT_EQ(c.At(2, x, y), 150);
        }
    // With a grid, a second plane in front hides the grid lines behind it.
    s3dtest::AddQuad(s, 0, 0, 64, 32, 1, 0, 0, 1);
    for (unsigned char aa : {0, 1}) {
        Canvas g(64, 64);
        ASSERT_EQ(s.RenderFlatShadedSurface(&g.img, 0, 0, qnNullRect, aa, kWhite, qntRGBA8{90, 120, 150, 255}, kBlack),
                  1);
        int gridAbove = 0, gridBelow = 0;
        for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 64; ++x)
                if (g.At(1, x, y) != 120)
                    (y < 31 ? gridAbove : gridBelow)++;
        EXPECT_EQ(gridAbove, 0) << int(aa);
        EXPECT_GT(gridBelow, 100) << int(aa);
    }
}

TYPED_TEST(SurfacePreview, DepthOrderDoesNotDependOnTriangleOrder)
{
    // Overlapping quads at distinct depths, some facing away; every
    // permutation of the triangle array gives the same picture.
    TypeParam s;
    s3dtest::AddQuad(s, 4, 4, 20, 20, 1, 0, 0, 1);
    s3dtest::AddQuad(s, 12, 8, 28, 24, 2, 0, 0, 0);
    s3dtest::AddQuad(s, 0, 14, 30, 18, 1.5f, 0, 0, 1);
    s3dtest::AddQuad(s, 6, 0, 10, 31, 0.5f, 0, 0, 0);
    const qntRGBA8 front{200, 0, 0, 255}, back{0, 0, 200, 255};
    Canvas ref(32, 32);
    ASSERT_EQ(s.RenderFlatShadedSurface(&ref.img, 0, 0, qnNullRect, 0, kBlack, front, back), 1);
    EXPECT_EQ(ref.At(0, 15, 10), 200);  // the nearer quad wins the overlap
    EXPECT_EQ(ref.At(2, 8, 16), 200);   // the nearest of all, facing away
    std::vector<typename TypeParam::TRIMESH> tris;
    for (uint32_t i = 0; i < s.GetTriMeshCount(); ++i)
        tris.push_back(*s.GetTriMesh(i));
    std::mt19937 rng(9);
    for (int round = 0; round < 10; ++round) {
        std::shuffle(tris.begin(), tris.end(), rng);
        for (uint32_t i = 0; i < tris.size(); ++i)
            *s.GetTriMesh(i) = tris[i];
        Canvas c(32, 32);
        ASSERT_EQ(s.RenderFlatShadedSurface(&c.img, 0, 0, qnNullRect, 0, kBlack, front, back), 1);
        EXPECT_EQ(c.Bytes(), ref.Bytes()) << round;
    }
}

TYPED_TEST(SurfacePreview, EqualDepthLowerIndexKeepsThePixel)
{
    TypeParam s;
    s3dtest::AddQuad(s, 0, 0, 8, 8, 3, 0, 0, 1);
    s3dtest::AddQuad(s, 0, 0, 8, 8, 3, 0, 0, 0);
    Canvas c(8, 8);
    ASSERT_EQ(s.RenderFlatShadedSurface(&c.img, 0, 0, qnNullRect, 0, kBlack, qntRGBA8{200, 0, 0, 255},
                                        qntRGBA8{0, 0, 200, 255}),
              1);
    EXPECT_EQ(c.At(0, 4, 2), 200);
    EXPECT_LT(s.GetZBuffer()[2 * 8 + 4].triangle, 2u);
}

TYPED_TEST(SurfacePreview, DraftTextureSimpleAndTransformedPathsAgree)
{
    Canvas front(40, 40, 2), back(40, 40, 1, qntRGBA8{5, 6, 7, 255});
    std::mt19937 rng(2);
    for (int p = 0; p < 4; ++p)
        for (size_t i = 0; i < front.img.PlaneSize(); ++i)
            front.img.GetPlane(unsigned(p))[i] = uint8_t(p == 3 ? (rng() % 4 ? 255 : 0) : rng());
    TypeParam s;
    s3dtest::MakeGrid(s, 4, 4, 2, 3, 8, [](float, float) { return 3.0f; }, 1);
    s.Offset(5, -2, 0);  // whole pixels: still unrotated on the texture
    Canvas simple(48, 48);
    ASSERT_EQ(s.RenderDraftTexturedSurface(&simple.img, 1, 2, &front.img, &back.img, qnNullRect), 1);
    // Every written pixel shows its texel: position - (6, 0).
    int written = 0;
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 48; ++x)
            if (simple.At(3, x, y)) {
                ++written;
                ASSERT_EQ(simple.At(0, x, y), front.At(0, x - 6, y));
            }
    EXPECT_GT(written, 600);
    // The interpolating path, triangle by triangle, gives the same pixels on
    // a mesh that sits on its texture unrotated.
    Canvas transformed(48, 48);
    s.RecreateZBuffer(48, 48);
    for (uint32_t i = 0; i < s.GetTriMeshCount(); ++i) {
        qnt3D_VERTEX a, b, c;
        s.GetMeshVertex(i, a, b, c);
        const auto* t = s.GetTriMesh(i);
        auto proj = [](const qnt3D_VERTEX& v) { return qntPOS{int32_t(v.x) + 1, int32_t(v.y) + 2}; };
        s.int_FillTriangle_DraftMapping_Transformed(proj(a), proj(b), proj(c), a.z, b.z, c.z, s.GetMapping(t->a),
                                                    s.GetMapping(t->b), s.GetMapping(t->c), &front.img, &back.img,
                                                    s.GetMeshNormal(i).z > 0, std::fabs(double(s.GetMeshNormal(i).z)),
                                                    &transformed.img, transformed.All(), i);
    }
    EXPECT_EQ(transformed.Bytes(), simple.Bytes());

    // Textures that do not fit together are refused; so is a stale mapping.
    Canvas small(20, 40, 1);
    EXPECT_EQ(s.RenderDraftTexturedSurface(&simple.img, 0, 0, &front.img, &small.img, qnNullRect), 0);
    EXPECT_EQ(s.RenderDraftTexturedSurface(&simple.img, 0, 0, &back.img, &back.img, qnNullRect), 0);
    EXPECT_EQ(s.RenderDraftTexturedSurface(&simple.img, 0, 0, &front.img, nullptr, qnNullRect), 0);
    s.Create(s.GetVertexCount() + 1ul, s.GetTriMeshCount());
    EXPECT_EQ(s.RenderDraftTexturedSurface(&simple.img, 0, 0, &front.img, &back.img, qnNullRect), 0);
    EXPECT_EQ(s.GetError(), qnerr::BadArgument);
}

TYPED_TEST(SurfacePreview, DraftShadeByFaceSlant)
{
    Canvas front(64, 64, 2, qntRGBA8{200, 100, 50, 255}), back(64, 64, 1, qntRGBA8{9, 9, 9, 255});
    TypeParam s;
    Triangle(s, {50, 10, 0}, {10, 10, 0}, {10, 35, 43.3f}, 0);
    s.RecreateMappingArrayFromCurrentValues();
    Canvas c(64, 64);
    ASSERT_EQ(s.RenderDraftTexturedSurface(&c.img, 0, 0, &front.img, &back.img, qnNullRect), 1);
    const double d = s.GetMeshNormal(0ul).z;
    EXPECT_EQ(c.At(0, 15, 12), uint8_t(float(200 * d)));
    EXPECT_EQ(c.At(1, 15, 12), uint8_t(float(100 * d)));
    TypeParam flat;
    s3dtest::AddQuad(flat, 0, 0, 8, 8, 0, 0, 0, 1);
    Canvas f(8, 8);
    ASSERT_EQ(flat.RenderDraftTexturedSurface(&f.img, 0, 0, &front.img, &back.img, qnNullRect), 1);
    EXPECT_EQ(f.At(0, 3, 3), 200);
    EXPECT_EQ(f.At(2, 7, 7), 50);  // the clip's last column and row are filled
}
