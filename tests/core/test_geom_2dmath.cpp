#include "core/2DMath.h"

#include "core/Mem.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

namespace {

using Seg = CQNF_2DMath::QNLINESEGMENT;
using Node = CQNF_2DMath::QNSPLINEPOINT;

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

std::vector<qntFPOS> Points(CQNF_Mem& m, unsigned long n)
{
    const auto* p = reinterpret_cast<const qntFPOS*>(m.GetPtr());
    return {p, p + n};
}

}  // namespace

TEST(Geom2DMath, SegmentIntersection)
{
    CQNF_2DMath g;
    unsigned char col = 9;
    qntFPOS p{-1, -1};
    EXPECT_TRUE(g.IntersectLineSegments_RetPoint({0, 0, 10, 10}, {0, 10, 10, 0}, col, p));
    EXPECT_EQ(col, 0);
    EXPECT_DOUBLE_EQ(p.x, 5.0);
    EXPECT_DOUBLE_EQ(p.y, 5.0);
    // End points count as meeting.
    EXPECT_TRUE(g.IntersectLineSegments({0, 0, 4, 0}, {4, 0, 4, 5}));
    EXPECT_TRUE(g.IntersectLineSegments({0, 0, 4, 0}, {2, -3, 2, 0}));
    EXPECT_FALSE(g.IntersectLineSegments({0, 0, 4, 0}, {2, 0.001, 2, 3}));
    EXPECT_FALSE(g.IntersectLineSegments({0, 0, 4, 0}, {5, -1, 5, 1}));
    // Collinear segments meet even when they do not overlap; the point is
    // left alone and the flag says why.
    col = 0;
    p = {-1, -1};
    EXPECT_TRUE(g.IntersectLineSegments_RetPoint({0, 0, 1, 0}, {2, 0, 3, 0}, col, p));
    EXPECT_EQ(col, 1);
    EXPECT_EQ(p.x, -1);
    EXPECT_FALSE(g.IntersectLineSegments({0, 0, 1, 0}, {0, 1, 1, 1}));
    // Non-finite input never meets.
    EXPECT_FALSE(g.IntersectLineSegments({0, 0, kNaN, 1}, {0, 1, 1, 0}));
    EXPECT_FALSE(g.IntersectLineSegments({0, 0, kInf, 1}, {0, 1, 1, 0}));
    EXPECT_FALSE(g.IntersectLineSegments({-1e308, 0, 1e308, 1}, {0, 1e308, 1, -1e308}));
}

TEST(Geom2DMath, PointToLineDistance)
{
    CQNF_2DMath g;
    double d = -1, u = -1;
    EXPECT_TRUE(g.PointToLineDistance(0, 0, 10, 0, 5, 3, d, u));
    EXPECT_DOUBLE_EQ(d, 3.0);
    EXPECT_DOUBLE_EQ(u, 0.5);
    // Beyond B: the distance to the extended line, and false.
    EXPECT_FALSE(g.PointToLineDistance(qntFPOS{0, 0}, qntFPOS{10, 0}, qntFPOS{14, -2}, d, u));
    EXPECT_DOUBLE_EQ(d, 2.0);
    EXPECT_DOUBLE_EQ(u, 1.4);
    EXPECT_FALSE(g.PointToLineDistance(3, 3, 3, 3, 5, 3, d, u));
    EXPECT_EQ(d, 0.0);
    EXPECT_EQ(u, 0.0);
    EXPECT_FALSE(g.PointToLineDistance(0, 0, 1, 0, kNaN, 3, d, u));
    EXPECT_FALSE(g.PointToLineDistance(0, 0, 1e308, 1e308, 1, 1, d, u));
}

TEST(Geom2DMath, SegmentLocalCoordinates)
{
    CQNF_2DMath g;
    double H = 0, U = 0;
    // The knife editor's vertical base segment.
    EXPECT_TRUE(g.Coors2HU({0, 0}, {0, 10}, {-2, 5}, H, U));
    EXPECT_DOUBLE_EQ(U, 0.5);
    EXPECT_DOUBLE_EQ(H, 0.2);
    EXPECT_TRUE(g.Coors2HU({0, 0}, {0, 10}, {2, 5}, H, U));
    EXPECT_DOUBLE_EQ(H, -0.2);
    // A horizontal segment puts the two sides at opposite signs.
    EXPECT_TRUE(g.Coors2HU({0, 0}, {10, 0}, {5, 2}, H, U));
    EXPECT_DOUBLE_EQ(H, 0.2);
    EXPECT_TRUE(g.Coors2HU({0, 0}, {10, 0}, {5, -2}, H, U));
    EXPECT_DOUBLE_EQ(H, -0.2);
    // On the line: H is 0 and U anything.
    EXPECT_TRUE(g.Coors2HU({1, 1}, {3, 3}, {7, 7}, H, U));
    EXPECT_DOUBLE_EQ(H, 0.0);
    EXPECT_DOUBLE_EQ(U, 3.0);

    qntFPOS p{};
    EXPECT_TRUE(g.HU2Coors({0, 0}, {10, 0}, 0.2, 0.5, p));
    EXPECT_DOUBLE_EQ(p.x, 5.0);
    EXPECT_DOUBLE_EQ(p.y, 2.0);

    // Degenerate and non-finite input: refused, outputs untouched.
    H = U = 42;
    p = {42, 42};
    EXPECT_FALSE(g.Coors2HU({1, 1}, {1, 1}, {2, 2}, H, U));
    EXPECT_FALSE(g.Coors2HU({0, 0}, {1, 0}, {kNaN, 2}, H, U));
    EXPECT_FALSE(g.Coors2HU({0, 0}, {1e308, 1e308}, {2, 2}, H, U));
    EXPECT_FALSE(g.HU2Coors({1, 1}, {1, 1}, 0.5, 0.5, p));
    EXPECT_FALSE(g.HU2Coors({0, 0}, {1, 0}, kInf, 0.5, p));
    EXPECT_FALSE(g.HU2Coors({0, 0}, {1e308, 0}, 0, 1e308, p));
    EXPECT_EQ(H, 42);
    EXPECT_EQ(U, 42);
    EXPECT_EQ(p.x, 42);
}

TEST(Geom2DMath, SegmentLocalCoordinatesRoundTrip)
{
    CQNF_2DMath g;
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> coord(-2000.0, 2000.0);
    std::uniform_real_distribution<double> local(-3.0, 3.0);
    for (int i = 0; i < 20000; ++i) {
        const qntFPOS a{coord(rng), coord(rng)};
        qntFPOS b{coord(rng), coord(rng)};
        if (i % 10 == 0)
            b.x = a.x;  // vertical
        if (i % 10 == 1)
            b.y = a.y;  // horizontal
        const qntFPOS p{coord(rng), coord(rng)};
        double H = 0, U = 0;
        ASSERT_TRUE(g.Coors2HU(a, b, p, H, U));
        qntFPOS q{};
        ASSERT_TRUE(g.HU2Coors(a, b, H, U, q));
        const double scale = 1e-9 * (1.0 + std::fabs(p.x) + std::fabs(p.y) + std::fabs(a.x) + std::fabs(a.y));
        EXPECT_NEAR(q.x, p.x, scale) << i;
        EXPECT_NEAR(q.y, p.y, scale) << i;

        // And the other way round, from local coordinates.
        const double h0 = local(rng), u0 = local(rng);
        ASSERT_TRUE(g.HU2Coors(a, b, h0, u0, q));
        ASSERT_TRUE(g.Coors2HU(a, b, q, H, U));
        EXPECT_NEAR(H, h0, 1e-9);
        EXPECT_NEAR(U, u0, 1e-9);
    }
}

TEST(Geom2DMath, SplineSamplesAndEndsOnLastNode)
{
    CQNF_2DMath g;
    CQNF_Mem out;
    CQNF_Mem idx;
    unsigned long n = 0;
    // Collinear nodes: every sample lies on the line, in order.
    Node line[3] = {{0, 0, 0.3f}, {10, 0, 0.3f}, {30, 0, 0.3f}};
    ASSERT_TRUE(g.CalcPointSpline(line, 3, 2.0, &out, n, &idx));
    // Segment 0: trunc(30 / 2) = 15 steps, segment 1: 30. The parameter
    // accumulates 1/15 (1/30) by addition and stays just below 1 after 15
    // (30) additions, so each segment gives one sample more; then the last node.
    EXPECT_EQ(n, 16u + 31u + 1u);
    ASSERT_GE(out.GetSize(), n * sizeof(qntFPOS));
    const auto pts = Points(out, n);
    const auto* seg = reinterpret_cast<const uint32_t*>(idx.GetPtr());
    for (unsigned long i = 0; i < n; ++i) {
        EXPECT_EQ(pts[i].y, 0.0);
        if (i) {
            EXPECT_GE(pts[i].x, pts[i - 1].x);
        }
        EXPECT_EQ(seg[i], i < 16 ? 0u : 1u);
    }
    EXPECT_EQ(pts[0].x, 0.0);
    EXPECT_EQ(pts[n - 1].x, 30.0);
    EXPECT_EQ(pts[n - 1].y, 0.0);

    // A segment shorter than the step gets exactly 3 samples.
    Node shortSeg[3] = {{0, 0, 0.5f}, {1, 0, 0.5f}, {1, 1, 0.5f}};
    ASSERT_TRUE(g.CalcPointSpline(shortSeg, 3, 5.0, &out, n));
    EXPECT_EQ(n, 7u);
    EXPECT_EQ(Points(out, n).back().x, 1.0);
    EXPECT_EQ(Points(out, n).back().y, 1.0);
}

TEST(Geom2DMath, SplineIsSmoothThroughInnerNodes)
{
    CQNF_2DMath g;
    CQNF_Mem out;
    unsigned long n = 0;
    Node zig[5] = {{0, 0, 0.4f}, {20, 15, 0.4f}, {40, -10, 0.4f}, {60, 20, 0.4f}, {80, 0, 0.4f}};
    ASSERT_TRUE(g.CalcPointSpline(zig, 5, 1.0, &out, n));
    const auto pts = Points(out, n);
    // Every inner node is a sample; the curve passes through it without a
    // jump, and consecutive samples are close together.
    for (int k = 1; k < 4; ++k) {
        bool found = false;
        for (const auto& p : pts)
            found |= (p.x == zig[k].x && p.y == zig[k].y);
        EXPECT_TRUE(found) << k;
    }
    for (unsigned long i = 1; i < n; ++i)
        EXPECT_LT(std::hypot(pts[i].x - pts[i - 1].x, pts[i].y - pts[i - 1].y), 1.0);
    EXPECT_EQ(pts.back().x, 80.0);
}

TEST(Geom2DMath, SplineRefusesBadInput)
{
    CQNF_2DMath g;
    CQNF_Mem out;
    unsigned long n = 77;
    Node ok[3] = {{0, 0, 0.3f}, {10, 0, 0.3f}, {30, 0, 0.3f}};
    EXPECT_FALSE(g.CalcPointSpline(ok, 2, 2.0, &out, n));
    EXPECT_EQ(g.GetError(), qnerr::BadArgument);
    EXPECT_FALSE(g.CalcPointSpline(nullptr, 3, 2.0, &out, n));
    EXPECT_FALSE(g.CalcPointSpline(ok, 3, 2.0, nullptr, n));
    EXPECT_FALSE(g.CalcPointSpline(ok, 3, 0.0, &out, n));
    EXPECT_FALSE(g.CalcPointSpline(ok, 3, -1.0, &out, n));
    EXPECT_FALSE(g.CalcPointSpline(ok, 3, kNaN, &out, n));
    EXPECT_EQ(n, 77u);
    Node bad[3] = {{0, 0, 0.3f}, {kNaN, 0, 0.3f}, {30, 0, 0.3f}};
    EXPECT_FALSE(g.CalcPointSpline(bad, 3, 2.0, &out, n));
    bad[1] = {10, 0, std::numeric_limits<float>::infinity()};
    EXPECT_FALSE(g.CalcPointSpline(bad, 3, 2.0, &out, n));
    // Finite nodes whose chord overflows.
    Node huge[3] = {{-1e308, 0, 0.3f}, {0, 0, 0.3f}, {1e308, 1e308, 0.3f}};
    EXPECT_FALSE(g.CalcPointSpline(huge, 3, 2.0, &out, n));
    EXPECT_EQ(g.GetError(), qnerr::BadArgument);
    EXPECT_LT(out.GetSize(), 1000u);
    EXPECT_EQ(n, 77u);
}

TEST(Geom2DMath, SplineSamplesNoFinerThanTheLargestPictureNeeds)
{
    CQNF_2DMath g;
    CQNF_Mem out;
    unsigned long n = 0;
    const double side = double(kQnMaxPictureSide);
    const double step = CQNF_2DMath::kFinestKnifeStep;
    // A chord across the largest picture at the finest step keeps every
    // sample it asks for: trunc(3 d / step) plus the one the parameter's
    // rounding adds, for each of the two segments, then the last node.
    Node across[3] = {{0, 0, 0.5f}, {side, side, 0.5f}, {0, 2 * side, 0.5f}};
    ASSERT_TRUE(g.CalcPointSpline(across, 3, step, &out, n));
    const auto asked = static_cast<unsigned long>(std::hypot(side, side) * 3.0 / step);
    EXPECT_GE(n, 2 * asked + 1);
    EXPECT_EQ(Points(out, n).back().y, 2 * side);

    // What no picture has: nodes 1e-96 apart sampled at a step millions of
    // times finer, chords far beyond the largest picture, and both of those
    // over the most segments a knife has. Each segment gets no more samples
    // than the chord across the picture, and the curve still ends on its
    // last node.
    const unsigned long most = CQNF_2DMath::kMostSegmentSamples;
    struct Case {
        double spacing, step, zigzag;
        unsigned long segments;
    };
    for (const Case c : {Case{1e-96, 1.2e-102, 0, 4}, Case{1e7, step, 0, 2}, Case{1e150, 1e-150, 0, 2},
                         Case{side, step, 3 * side, 65}}) {
        std::vector<Node> nodes;
        for (unsigned long i = 0; i <= c.segments; ++i)
            nodes.push_back({c.spacing * double(i), i % 2 ? c.zigzag : -c.zigzag, 0.5f});
        CQNF_Mem sampled;
        ASSERT_TRUE(g.CalcPointSpline(nodes.data(), nodes.size(), c.step, &sampled, n)) << c.spacing;
        EXPECT_LE(n, c.segments * (most + 2)) << c.spacing;
        EXPECT_GE(n, c.segments * most) << c.spacing;
        EXPECT_LE(sampled.GetSize(), c.segments * (most + 2) * sizeof(qntFPOS)) << c.spacing;
        EXPECT_EQ(Points(sampled, n).back().x, nodes.back().x) << c.spacing;
    }
}

TEST(Geom2DMath, BezierControlPoints)
{
    CQNF_2DMath g;
    CQNF_Mem out;
    unsigned long n = 0;
    Node nodes[3] = {{0, 0, 0.5f}, {10, 0, 0.5f}, {10, 10, 0.5f}};
    ASSERT_TRUE(g.CalcBezierPointSpline(nodes, 3, &out, n));
    ASSERT_EQ(n, 4u);
    const auto c = Points(out, n);
    // Segment 0, first control: no previous node, so A = P0 + 0.5 (P1 - P0)
    // and B = P0: the midpoint is (2.5, 0).
    EXPECT_DOUBLE_EQ(c[0].x, 2.5);
    EXPECT_DOUBLE_EQ(c[0].y, 0.0);
    // Segment 0, second control: D = P1 - (P2 - P1) 0.5 * 1 = (10, -5),
    // E = P1 - (P1 - P0) 0.5 = (5, 0): midpoint (7.5, -2.5).
    EXPECT_DOUBLE_EQ(c[1].x, 7.5);
    EXPECT_DOUBLE_EQ(c[1].y, -2.5);
    // Segment 1, second control: no node after, so D = P2, E = P2 - (P2 - P1) 0.5.
    EXPECT_DOUBLE_EQ(c[3].x, 10.0);
    EXPECT_DOUBLE_EQ(c[3].y, 7.5);
    EXPECT_FALSE(g.CalcBezierPointSpline(nodes, 2, &out, n));
}
