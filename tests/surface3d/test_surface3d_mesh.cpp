// Mesh model of both surface generations: sizing, the mesh stream reader,
// copies, accessors and the texture mapping.
#include "S3DTestScenes.h"

#include <gtest/gtest.h>

#include <cmath>

using s3dtest::StreamTriangle;
using s3dtest::StreamVertex;
using s3dtest::WriteStream;

template <class S>
class SurfaceMesh : public ::testing::Test {};
using Generations = ::testing::Types<CQNF_3D_Surface2, CQNF_3D_Surface>;
TYPED_TEST_SUITE(SurfaceMesh, Generations);

TYPED_TEST(SurfaceMesh, StreamDecodesMantissaOverPowerOfTen)
{
    TypeParam s;
    const auto bytes = WriteStream({{{100, -5, 7}, {2, 0, 1}}}, {});
    ASSERT_EQ(bytes.size(), 23u);
    ASSERT_EQ(s.Create(bytes.data(), bytes.size()), 1);
    ASSERT_EQ(s.GetVertexCount(), 1u);
    EXPECT_EQ(s.GetTriMeshCount(), 0u);
    const qnt3D_VERTEX v = *s.GetVertex(0);
    EXPECT_EQ(v.x, 1.0f);
    EXPECT_EQ(v.y, -5.0f);
    EXPECT_EQ(v.z, static_cast<float>(7.0 / 10.0));

    const auto more = WriteStream({{{-1250, 2147483647, -2147483647 - 1}, {3, 255, 0}}}, {});
    ASSERT_EQ(s.Create(more.data(), more.size()), 1);
    EXPECT_EQ(s.GetVertex(0)->x, -1.25f);
    EXPECT_EQ(s.GetVertex(0)->y, 0.0f);  // 2^31 / 10^255 underflows f32
    EXPECT_EQ(s.GetVertex(0)->z, -2147483648.0f);
}

TYPED_TEST(SurfaceMesh, StreamReadsTrianglesWithFlags)
{
    TypeParam s;
    const auto bytes =
        WriteStream({{{0, 0, 0}, {0, 0, 0}}, {{1, 0, 0}, {0, 0, 0}}, {{0, 1, 0}, {0, 0, 0}}}, {{2, 1, 0, 0xA5}});
    ASSERT_EQ(bytes.size(), 8u + 45u + 13u);
    ASSERT_EQ(s.Create(bytes.data(), bytes.size()), 1);
    ASSERT_EQ(s.GetTriMeshCount(), 1u);
    const auto* t = s.GetTriMesh(0);
    EXPECT_EQ(t->a, 2u);
    EXPECT_EQ(t->b, 1u);
    EXPECT_EQ(t->c, 0u);
    EXPECT_EQ(t->flags, 0xA5);
    qnt3D_VERTEX a, b, c;
    EXPECT_EQ(s.GetMeshVertex(0, a, b, c), 0xA5);
    EXPECT_EQ(a.y, 1.0f);
    EXPECT_EQ(b.x, 1.0f);
}

TYPED_TEST(SurfaceMesh, StreamRefusesShortStreamsAndBadIndicesAndKeepsTheMesh)
{
    TypeParam s;
    const auto good = WriteStream({{{1, 2, 3}, {0, 0, 0}}}, {});
    ASSERT_EQ(s.Create(good.data(), good.size()), 1);

    const std::vector<StreamVertex> three = {
        {{0, 0, 0}, {0, 0, 0}}, {{1, 0, 0}, {0, 0, 0}}, {{0, 1, 0}, {0, 0, 0}}};
    const auto tri = WriteStream(three, {{0, 1, 2, 0}});
    for (size_t cut : {size_t{0}, size_t{7}, size_t{8}, tri.size() - 1}) {
        s.ResetError();
        EXPECT_EQ(s.Create(tri.data(), cut), 0) << "length " << cut;
        EXPECT_EQ(s.GetError(), qnerr::BadArgument);
    }
    const auto badIndex = WriteStream(three, {{0, 1, 3, 0}});
    EXPECT_EQ(s.Create(badIndex.data(), badIndex.size()), 0);
    // Counts that claim four billion records in a few bytes: refused before
    // anything is allocated.
    const auto huge = WriteStream(three, {}, 0xFFFFFFFFu, 0xFFFFFFFFu);
    EXPECT_EQ(s.Create(huge.data(), huge.size()), 0);
    EXPECT_EQ(s.Create(static_cast<const unsigned char*>(nullptr), 100), 0);
    // Nothing of the refused streams reached the mesh.
    ASSERT_EQ(s.GetVertexCount(), 1u);
    EXPECT_EQ(s.GetVertex(0)->z, 3.0f);
    EXPECT_EQ(s.GetTriMeshCount(), 0u);
}

TYPED_TEST(SurfaceMesh, CreateResizesInPlaceKeepingLeadingRecords)
{
    TypeParam s;
    ASSERT_EQ(s.Create(5ul, 2ul), 1);
    for (uint32_t i = 0; i < 5; ++i)
        *s.GetVertex(i) = qnt3D_VERTEX{float(i), float(10 * i), float(-i)};
    *s.GetTriMesh(0) = {0, 1, 2, 7};
    ASSERT_EQ(s.Create(3ul, 1ul), 1);
    EXPECT_EQ(s.GetVertexCount(), 3u);
    for (uint32_t i = 0; i < 3; ++i)
        EXPECT_EQ(s.GetVertex(i)->y, float(10 * i));
    EXPECT_EQ(s.GetVertex(3), nullptr);
    EXPECT_EQ(s.GetTriMesh(0)->flags, 7);
    EXPECT_EQ(s.GetTriMesh(1), nullptr);
    ASSERT_EQ(s.Create(4ul, 1ul), 1);
    EXPECT_EQ(s.GetVertex(3)->x, 0.0f);  // grown records start at zero
}

TYPED_TEST(SurfaceMesh, GetMeshVertexTellsFlags255FromOutOfRangeOnlyByCount)
{
    TypeParam s;
    ASSERT_EQ(s.Create(3ul, 1ul), 1);
    *s.GetTriMesh(0) = {0, 1, 2, 255};
    qnt3D_VERTEX a{9, 9, 9}, b = a, c = a;
    EXPECT_EQ(s.GetMeshVertex(0, a, b, c), 255);
    EXPECT_EQ(a.x, 0.0f);
    qnt3D_VERTEX d{9, 9, 9};
    EXPECT_EQ(s.GetMeshVertex(1, d, d, d), 255);
    EXPECT_EQ(d.x, 9.0f);
    // An index written past the vertex array is not followed.
    s.GetTriMesh(0)->c = 3;
    EXPECT_EQ(s.GetMeshVertex(0, d, d, d), 255);
    EXPECT_EQ(d.x, 9.0f);
}

TYPED_TEST(SurfaceMesh, CopyTakesVerticesAndTrianglesOnly)
{
    TypeParam src, dst;
    s3dtest::AddQuad(src, 0, 0, 4, 4, 2);
    src.SetMatShading(20);
    ASSERT_EQ(dst.Create(&src), 1);
    EXPECT_EQ(dst.GetVertexCount(), 4u);
    EXPECT_EQ(dst.GetTriMeshCount(), 2u);
    EXPECT_EQ(dst.GetVertex(2)->x, 4.0f);
    EXPECT_EQ(dst.GetTriMesh(1)->c, 3u);
    EXPECT_EQ(dst.GetMappingCount(), 0u);
    EXPECT_EQ(dst.GetMatShading(), 0);

    TypeParam empty;
    EXPECT_EQ(dst.Create(&empty), 1);
    EXPECT_EQ(dst.GetVertexCount(), 0u);
    EXPECT_EQ(dst.GetTriMeshCount(), 0u);

    EXPECT_EQ(dst.Create(static_cast<TypeParam*>(nullptr)), 0);
    EXPECT_EQ(dst.GetError(), qnerr::BadArgument);
    EXPECT_EQ(src.Create(&src), 1);
    EXPECT_EQ(src.GetVertex(2)->x, 4.0f);
}

TYPED_TEST(SurfaceMesh, MappingFollowsPositionsAtTheMomentItIsMade)
{
    TypeParam s;
    EXPECT_EQ(s.RecreateMappingArrayFromCurrentValues(), 1);
    EXPECT_EQ(s.GetMappingCount(), 0u);
    EXPECT_EQ(s.GetMapping(0), nullptr);
    s3dtest::AddQuad(s, 1, 2, 5, 6, 3);
    s.Offset(10, 20, 30);
    EXPECT_EQ(s.GetMapping(2)->x, 5.0f);
    EXPECT_EQ(s.GetMapping(2)->y, 6.0f);
    ASSERT_EQ(s.RecreateMappingArrayFromCurrentValues(), 1);
    EXPECT_EQ(s.GetMapping(2)->x, 15.0f);
    EXPECT_EQ(s.GetMapping(2)->y, 26.0f);
    EXPECT_EQ(s.GetMapping(4), nullptr);
}

TYPED_TEST(SurfaceMesh, ImpossibleSizesFailWithMemoryError)
{
    TypeParam s;
    EXPECT_EQ(s.Create(0xFFFFFFFFul, 0ul), 0);
    EXPECT_EQ(s.GetError(), qnerr::NoMemory);
}
