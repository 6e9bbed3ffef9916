// Transforms, normals, z-buffer and material shading (shared by both
// generations; tested on each).
#include "S3DTestScenes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace {

template <class S>
void OneVertex(S& s, qnt3D_VERTEX v)
{
    s.Create(1ul, 0ul);
    *s.GetVertex(0) = v;
}

double Dist(const qnt3D_VERTEX& a, const qnt3D_VERTEX& b)
{
    const double dx = double(a.x) - b.x, dy = double(a.y) - b.y, dz = double(a.z) - b.z;
    return std::sqrt(dx * dx + dy * dy + dz * dz);
}

// The vertex normals as the quadratic scan describes them: for each vertex,
// every triangle that lists it, in index order, summed in double.
std::vector<qnt3D_VECTOR> NaiveVertexNormals(CQNF_3D_Surface2& s)
{
    std::vector<qnt3D_VECTOR> out(s.GetVertexCount(), qnt3D_VECTOR{0, 0, 0});
    for (uint32_t i = 0; i < s.GetVertexCount(); ++i) {
        double sx = 0, sy = 0, sz = 0;
        int count = 0;
        for (uint32_t t = 0; t < s.GetTriMeshCount(); ++t) {
            const auto* tr = s.GetTriMesh(t);
            if (tr->a != i && tr->b != i && tr->c != i)
                continue;
            const qnt3D_VECTOR n = s.GetMeshNormal(t);
            if (n.x == 0 && n.y == 0 && n.z == 0)
                continue;
            sx += n.x;
            sy += n.y;
            sz += n.z;
            ++count;
        }
        if (!count)
            continue;
        const float mx = float(sx / count), my = float(sy / count), mz = float(sz / count);
        const float len = std::sqrt(mx * mx + my * my + mz * mz);
        out[i] = (mx == 0 && my == 0 && mz == 0) ? qnt3D_VECTOR{mx, my, mz} : qnt3D_VECTOR{mx / len, my / len, mz / len};
    }
    return out;
}

}  // namespace

template <class S>
class SurfaceTransform : public ::testing::Test {};
using Generations = ::testing::Types<CQNF_3D_Surface2, CQNF_3D_Surface>;
TYPED_TEST_SUITE(SurfaceTransform, Generations);

TYPED_TEST(SurfaceTransform, RotateTowardDirection)
{
    TypeParam s;
    const qnt3D_VERTEX origin{0, 0, 0};
    OneVertex(s, {3, 4, 5});
    s.Rotate(qnt3D_VECTOR{0, 0, 5}, qnt3D_VERTEX{1, 2, 3});
    s.Rotate(qnt3D_VECTOR{0, 0, 0}, origin);
    EXPECT_EQ(s.GetVertex(0)->x, 3.0f);
    EXPECT_EQ(s.GetVertex(0)->z, 5.0f);

    OneVertex(s, {1, 0, 0});
    s.Rotate(qnt3D_VECTOR{1, 0, 0}, origin);
    EXPECT_NEAR(s.GetVertex(0)->x, 0.0f, 1e-7);
    EXPECT_NEAR(s.GetVertex(0)->y, 0.0f, 1e-7);
    EXPECT_NEAR(s.GetVertex(0)->z, 1.0f, 1e-7);

    OneVertex(s, {0, 1, 0});
    s.Rotate(qnt3D_VECTOR{0, 1, 0}, origin);
    EXPECT_NEAR(s.GetVertex(0)->x, 0.0f, 1e-7);
    EXPECT_NEAR(s.GetVertex(0)->y, 0.0f, 1e-7);
    EXPECT_NEAR(s.GetVertex(0)->z, -1.0f, 1e-7);

    // The mirrored direction (n.x, -n.y, n.z) lands on +z for any n, and
    // rotations keep distances.
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> u(-1, 1);
    for (int k = 0; k < 200; ++k) {
        qnt3D_VECTOR n{u(rng), u(rng), u(rng)};
        const float len = std::sqrt(n.x * n.x + n.y * n.y + n.z * n.z);
        s.Create(2ul, 0ul);
        *s.GetVertex(0) = {n.x / len, -n.y / len, n.z / len};
        *s.GetVertex(1) = {u(rng) * 10, u(rng) * 10, u(rng) * 10};
        const qnt3D_VERTEX c{u(rng), u(rng), u(rng)};
        const double before = Dist(*s.GetVertex(0), *s.GetVertex(1));
        const qnt3D_VERTEX p0 = *s.GetVertex(0), p1 = *s.GetVertex(1);
        s.Rotate(n, origin);
        EXPECT_NEAR(s.GetVertex(0)->x, 0.0, 1e-5);
        EXPECT_NEAR(s.GetVertex(0)->y, 0.0, 1e-5);
        EXPECT_NEAR(s.GetVertex(0)->z, 1.0, 1e-5);
        EXPECT_NEAR(Dist(*s.GetVertex(0), *s.GetVertex(1)), before, 1e-4 * (1 + before));
        *s.GetVertex(0) = p0;
        *s.GetVertex(1) = p1;
        s.Rotate(n, c);
        EXPECT_NEAR(Dist(*s.GetVertex(0), *s.GetVertex(1)), before, 1e-4 * (1 + before));
    }
}

TYPED_TEST(SurfaceTransform, RotateByAnglesZThenXThenY)
{
    TypeParam s;
    OneVertex(s, {1, 0, 0});
    s.Rotate(0.0f, 0.0f, float(M_PI / 2), qnt3D_VERTEX{0, 0, 0});
    EXPECT_NEAR(s.GetVertex(0)->x, 0.0f, 1e-7);
    EXPECT_NEAR(s.GetVertex(0)->y, -1.0f, 1e-7);
    // About x: y goes toward z.
    OneVertex(s, {0, 1, 0});
    s.Rotate(float(M_PI / 2), 0.0f, 0.0f, qnt3D_VERTEX{0, 0, 0});
    EXPECT_NEAR(s.GetVertex(0)->z, -1.0f, 1e-7);
    // About y, around a centre.
    OneVertex(s, {2, 5, 0});
    s.Rotate(0.0f, float(M_PI / 2), 0.0f, qnt3D_VERTEX{1, 5, 0});
    EXPECT_NEAR(s.GetVertex(0)->x, 1.0f, 1e-7);
    EXPECT_NEAR(s.GetVertex(0)->z, 1.0f, 1e-7);
}

TYPED_TEST(SurfaceTransform, OffsetWithCorrectionPullsBackOnOneSide)
{
    TypeParam s;
    s3dtest::AddQuad(s, 90, 10, 98, 20, 0);
    float ax = -1, ay = -1;
    s.OffsetWithCorrectionXY(5, 0, 0, 0, 100, 100, &ax, &ay);
    EXPECT_EQ(ax, 2.0f);
    EXPECT_EQ(ay, 0.0f);
    qntFRECT b = s.GetObjectBounds();
    EXPECT_EQ(b.left, 92.0);
    EXPECT_EQ(b.right, 100.0);

    TypeParam wide;
    s3dtest::AddQuad(wide, -10, 10, 120, 20, 0);
    wide.OffsetWithCorrectionXY(5, 0, 0, 0, 100, 100, &ax, &ay);
    EXPECT_EQ(ax, 5.0f);
    EXPECT_EQ(ay, 0.0f);
    b = wide.GetObjectBounds();
    EXPECT_EQ(b.left, -5.0);
    // Too tall stops both axes too.
    TypeParam tall;
    s3dtest::AddQuad(tall, -50, -10, -40, 120, 0);
    tall.OffsetWithCorrectionXY(0, 0, 0, 0, 100, 100, &ax, nullptr);
    EXPECT_EQ(ax, 0.0f);
    EXPECT_EQ(tall.GetObjectBounds().left, -50.0);
}

TYPED_TEST(SurfaceTransform, BoundsCentreZoomAndPerspective)
{
    TypeParam s;
    const qntFRECT none = s.GetObjectBounds();
    EXPECT_EQ(none.left, -1.0e10);
    EXPECT_EQ(none.top, -1.0e10);
    EXPECT_EQ(none.right, -1.0e10);
    EXPECT_EQ(none.bottom, -1.0e10);

    s3dtest::AddQuad(s, 2, 4, 6, 12, 1);
    s.OffsetByCenterXY(0, 0);
    qntFRECT b = s.GetObjectBounds();
    EXPECT_EQ(b.left, -2.0);
    EXPECT_EQ(b.right, 2.0);
    EXPECT_EQ(b.top, -4.0);
    EXPECT_EQ(b.bottom, 4.0);
    EXPECT_EQ(s.GetVertex(0)->z, 1.0f);

    // Zoom: s * v + (1 - r) * s per axis.
    OneVertex(s, {3, -2, 5});
    s.Zoom(2, 3, 0.5f, qnt3D_VERTEX{1, 1, 1});
    EXPECT_EQ(s.GetVertex(0)->x, 6.0f);
    EXPECT_EQ(s.GetVertex(0)->y, -6.0f);
    EXPECT_EQ(s.GetVertex(0)->z, 2.5f);
    s.Zoom(2, 1, 1, qnt3D_VERTEX{0, 1, 1});
    EXPECT_EQ(s.GetVertex(0)->x, 14.0f);

    // PerspectiveZ: offsets from the centre divided by z / distance + 1.
    OneVertex(s, {10, 20, 100});
    s.PerspectiveZ(100, qnt3D_VERTEX{0, 10, 0});
    EXPECT_EQ(s.GetVertex(0)->x, 5.0f);
    EXPECT_EQ(s.GetVertex(0)->y, 15.0f);
    EXPECT_EQ(s.GetVertex(0)->z, 50.0f);
    s.PerspectiveZ(0, qnt3D_VERTEX{0, 0, 0});
    EXPECT_EQ(s.GetVertex(0)->x, 5.0f);

    // PerspectiveZ_2: nearest depth keeps its place, the vanishing depth
    // collapses onto the vanishing point, nothing moves when they coincide.
    s.Create(2ul, 0ul);
    *s.GetVertex(0) = {4, 4, 1};
    *s.GetVertex(1) = {8, 0, 11};
    s.PerspectiveZ_2(qnt3D_VERTEX{0, 0, 1});
    EXPECT_EQ(s.GetVertex(1)->x, 8.0f);
    s.PerspectiveZ_2(qnt3D_VERTEX{2, 2, 11});
    EXPECT_EQ(s.GetVertex(0)->x, 4.0f);
    EXPECT_EQ(s.GetVertex(1)->x, 2.0f);
    EXPECT_EQ(s.GetVertex(1)->y, 2.0f);
    EXPECT_EQ(s.GetVertex(1)->z, 1.0f);
}

TYPED_TEST(SurfaceTransform, FaceNormalsFollowFlagBits)
{
    TypeParam s;
    s.Create(3ul, 1ul);
    *s.GetVertex(0) = {0, 1, 0};
    *s.GetVertex(1) = {0, 0, 0};
    *s.GetVertex(2) = {1, 0, 0};
    const struct {
        uint8_t flags;
        float z;
    } cases[] = {{0, -1}, {1, 1}, {2, 1}, {4, 1}, {3, -1}, {6, -1}, {7, 1}, {0xF8, -1}};
    for (const auto& c : cases) {
        *s.GetTriMesh(0) = {0, 1, 2, c.flags};
        const qnt3D_VECTOR n = s.GetMeshNormal(0ul);
        EXPECT_EQ(n.x, 0.0f);
        EXPECT_EQ(n.y, 0.0f);
        EXPECT_EQ(n.z, c.z) << int(c.flags);
    }
    *s.GetTriMesh(0) = {0, 1, 2, 0};
    ASSERT_EQ(s.PrepareVertexNormalsArray(), 1);
    for (uint32_t i = 0; i < 3; ++i)
        EXPECT_EQ(s.GetVertexNormal(i)->z, -1.0f);
    s.GetTriMesh(0)->flags = 1;
    ASSERT_EQ(s.PrepareVertexNormalsArray(), 1);
    for (uint32_t i = 0; i < 3; ++i)
        EXPECT_EQ(s.GetVertexNormal(i)->z, 1.0f);
    EXPECT_EQ(s.GetMeshNormal(1ul).z, 0.0f);  // past the end
}

TYPED_TEST(SurfaceTransform, DegenerateAndBrokenTrianglesDoNotPoisonNormals)
{
    TypeParam s;
    s3dtest::AddQuad(s, 0, 0, 1, 1, 0);  // two triangles facing +z
    s.Create(5ul, 4ul);
    *s.GetVertex(4) = {0.5f, 0.5f, NAN};
    *s.GetTriMesh(2) = {0, 1, 1, 0};  // a line: no area
    *s.GetTriMesh(3) = {0, 2, 4, 0};  // a coordinate that is not a number
    EXPECT_EQ(s.GetMeshNormal(2ul).z, 0.0f);
    EXPECT_EQ(s.GetMeshNormal(3ul).x, 0.0f);
    ASSERT_EQ(s.PrepareVertexNormalsArray(), 1);
    for (uint32_t i = 0; i < 4; ++i)
        EXPECT_EQ(s.GetVertexNormal(i)->z, 1.0f) << i;
    EXPECT_EQ(s.GetVertexNormal(4)->z, 0.0f);  // only a broken triangle uses it

    // A vertex index written past the end is refused, not followed.
    s.GetTriMesh(0)->b = 99;
    s.ResetError();
    EXPECT_EQ(s.PrepareVertexNormalsArray(), 0);
    EXPECT_EQ(s.GetError(), qnerr::BadArgument);
    EXPECT_EQ(s.GetMeshNormal(0ul).z, 0.0f);
}

TEST(SurfaceTransformNormals, LinearPassMatchesQuadraticScanBitForBit)
{
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> u(-50, 50);
    for (int round = 0; round < 20; ++round) {
        CQNF_3D_Surface2 s;
        const uint32_t nv = 30 + round, nt = 80;
        s.Create(static_cast<unsigned long>(nv), static_cast<unsigned long>(nt));
        for (uint32_t i = 0; i < nv; ++i)
            *s.GetVertex(i) = {u(rng), u(rng), u(rng)};
        for (uint32_t t = 0; t < nt; ++t)
            *s.GetTriMesh(t) = {uint32_t(rng() % nv), uint32_t(rng() % nv), uint32_t(rng() % nv), static_cast<uint8_t>(rng() & 7)};
        const auto ref = NaiveVertexNormals(s);
        ASSERT_EQ(s.PrepareVertexNormalsArray(), 1);
        for (uint32_t i = 0; i < nv; ++i) {
            const qnt3D_VECTOR* n = s.GetVertexNormal(i);
            EXPECT_EQ(n->x, ref[i].x);
            EXPECT_EQ(n->y, ref[i].y);
            EXPECT_EQ(n->z, ref[i].z);
        }
    }
}

TYPED_TEST(SurfaceTransform, ZBufferGrowsOnlyAndEmptiesItsCells)
{
    TypeParam s;
    ASSERT_EQ(s.RecreateZBuffer(8, 8), 1);
    const auto* big = s.GetZBuffer();
    ASSERT_EQ(s.RecreateZBuffer(4, 3), 1);
    EXPECT_EQ(s.GetZBuffer(), big);
    EXPECT_EQ(s.GetZBufferWidth(), 4);
    EXPECT_EQ(s.GetZBufferHeight(), 3);
    for (int i = 0; i < 12; ++i)
        EXPECT_EQ(s.GetZBuffer()[i].triangle, 0xFFFFFFFFu);
    EXPECT_EQ(s.RecreateZBuffer(0, 5), 1);
}

TYPED_TEST(SurfaceTransform, MaterialShadingGivesCosinePower)
{
    TypeParam s;
    EXPECT_EQ(s.GetCosPower(), 1.0f);
    const struct {
        short shading;
        float power;
    } cases[] = {{0, 1.0f}, {20, 2.0f}, {100, 32.0f}, {-50, 0.5f}, {-100, 0.25f}, {10, float(std::sqrt(2.0))}};
    for (const auto& c : cases) {
        s.SetMatShading(c.shading);
        EXPECT_EQ(s.GetMatShading(), c.shading);
        EXPECT_EQ(s.GetCosPower(), c.power) << c.shading;
    }
}
