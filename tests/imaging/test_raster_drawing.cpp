#include "imaging/ImageDrawing.h"

#include "core/Mem.h"
#include "imaging/Image.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

namespace {

// A plane of w x h inside a buffer with guard bytes on every side and a
// stride wider than the plane, so that any write outside shows.
struct GuardedPlane {
    static constexpr int kGuard = 64;
    static constexpr uint8_t kGuardByte = 0xA5;
    int w;
    int h;
    int stride;
    std::vector<uint8_t> buf;

    GuardedPlane(int width, int height, uint8_t fill, int extraStride = 5)
        : w(width), h(height), stride(width + extraStride),
          buf(size_t(kGuard) * 2 + size_t(stride) * height, kGuardByte)
    {
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                at(x, y) = fill;
    }
    uint8_t* plane() { return buf.data() + kGuard; }
    uint8_t& at(int x, int y) { return plane()[size_t(y) * stride + x]; }
    bool GuardsIntact()
    {
        for (int i = 0; i < kGuard; ++i)
            if (buf[i] != kGuardByte || buf[buf.size() - 1 - i] != kGuardByte)
                return false;
        for (int y = 0; y < h; ++y)
            for (int x = w; x < stride; ++x)
                if (at(x, y) != kGuardByte)
                    return false;
        return true;
    }
    void Bind(CQNF_ImageDrawing& d) { d.SetDestination(plane(), stride, w, h); }
    std::vector<uint8_t> Snapshot() const { return buf; }
};

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

}  // namespace

TEST(RasterDrawing, GoldenHorizontalRowWidthOne)
{
    GuardedPlane g(30, 20, 9);
    CQNF_ImageDrawing d;
    g.Bind(d);
    ASSERT_TRUE(d.DrawHQLine(10, 10.5, 20, 10.5, 1.0, 0, 0, 0));
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 30; ++x) {
            int want = 9;
            if (y >= 9 && y <= 11 && x >= 8 && x <= 20)
                want = 0;
            if (y == 10 && x >= 11 && x <= 19)
                want = 255;
            if (y == 10 && (x == 10 || x == 20))
                want = 127;
            EXPECT_EQ(g.at(x, y), want) << x << "," << y;
        }
    EXPECT_TRUE(g.GuardsIntact());
}

TEST(RasterDrawing, MaxMergeIsIdempotentAndKeepsTheRest)
{
    GuardedPlane g(30, 20, 9);
    CQNF_ImageDrawing d;
    g.Bind(d);
    d.DrawHQLine(qntFPOS{3.2, 4.7}, qntFPOS{25.9, 15.1}, 3.3, 1, 1, 1);
    const auto once = g.Snapshot();
    d.DrawHQLine(qntFPOS{3.2, 4.7}, qntFPOS{25.9, 15.1}, 3.3, 1, 1, 1);
    EXPECT_EQ(g.Snapshot(), once);
    // Nothing was lowered below the 9 it had.
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 30; ++x)
            EXPECT_GE(g.at(x, y), 9);
    EXPECT_EQ(g.at(14, 10), 255);

    // A byte above the drawing value is left alone under max-merge.
    GuardedPlane hi(10, 10, 200);
    hi.Bind(d);
    d.value = 100;
    d.DrawHQLine(1, 5, 9, 5, 4.0, 0, 1, 0);
    EXPECT_EQ(hi.at(5, 5), 200);
    d.DrawHQLine(1, 5, 9, 5, 4.0, 0, 0, 0);
    EXPECT_EQ(hi.at(5, 5), 100);
}

TEST(RasterDrawing, RoundCapsNeedWidthAbove2_1)
{
    CQNF_ImageDrawing d;
    GuardedPlane flat(30, 30, 0), capped(30, 30, 0);
    flat.Bind(d);
    d.DrawHQLine(8, 15, 22, 15, 2.0, 0, 1, 0);
    capped.Bind(d);
    d.DrawHQLine(8, 15, 22, 15, 2.0, 1, 1, 0);
    EXPECT_EQ(flat.Snapshot(), capped.Snapshot());

    GuardedPlane wideFlat(30, 30, 0), wideRound(30, 30, 0);
    wideFlat.Bind(d);
    d.DrawHQLine(8, 15, 22, 15, 6.0, 0, 1, 0);
    wideRound.Bind(d);
    d.DrawHQLine(8, 15, 22, 15, 6.0, 1, 1, 0);
    // The round cap reaches past the end point; the flat end barely does.
    EXPECT_GT(wideRound.at(5, 15), 100);
    EXPECT_LT(wideFlat.at(5, 15), 10);
    // The cap is round: beside the end it covers, diagonally beyond it not.
    EXPECT_GT(wideRound.at(6, 12), 0);
    EXPECT_EQ(wideRound.at(5, 12), 0);
    EXPECT_EQ(wideFlat.at(6, 12), 0);
    // Symmetric about the line.
    for (int x = 0; x < 30; ++x)
        for (int k = 1; k < 5; ++k)
            EXPECT_EQ(wideRound.at(x, 15 - k), wideRound.at(x, 14 + k)) << x << " " << k;
}

TEST(RasterDrawing, FixedFootprintDiagonalIsSymmetric)
{
    GuardedPlane g(40, 40, 0);
    CQNF_ImageDrawing d;
    g.Bind(d);
    d.DrawHQLine(5, 5, 35, 35, 3.0, 1, 1, 1);
    // Sample points sit at (x + 0.5, y + 0.5): mirror symmetric about x = y.
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 40; ++x)
            EXPECT_EQ(g.at(x, y), g.at(y, x)) << x << "," << y;
    EXPECT_EQ(g.at(20, 20), 255);
    EXPECT_EQ(g.at(30, 10), 0);
}

TEST(RasterDrawing, AliasedModes)
{
    CQNF_ImageDrawing d;
    d.antiAlias = 0;
    d.bitMode = 1;
    GuardedPlane bits(4, 3, 0);  // 32 bits per row
    d.SetDestination(bits.plane(), bits.stride, 32, 3);
    d.DrawHQLine(0, 0, 7, 0, 1.0, 0, 0, 0);
    EXPECT_EQ(bits.at(0, 0), 255);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x)
            if (x || y) {
                EXPECT_EQ(bits.at(x, y), 0);
            }
    d.DrawHQLine(9, 2, 9, 2, 1.0, 0, 0, 0);
    EXPECT_EQ(bits.at(1, 2), 0x40);
    // Bits beyond what the stride holds are never written: rows of 2 bytes
    // hold 16 bits whatever width is claimed.
    d.SetDestination(bits.plane(), 2, 100, 3);
    d.DrawHQLine(0, 1, 99, 1, 1.0, 0, 0, 0);
    EXPECT_EQ(bits.plane()[2], 0xFF);
    EXPECT_EQ(bits.plane()[3], 0xFF);
    EXPECT_TRUE(bits.GuardsIntact());  // byte 4 is the first guard byte

    // One pixel wide: Bresenham, max-merge always.
    d.bitMode = 0;
    GuardedPlane one(10, 10, 50);
    one.Bind(d);
    d.value = 40;
    d.DrawHQLine(0, 0, 9, 3, 1.0, 0, 0, 0);
    EXPECT_EQ(one.at(0, 0), 50);
    d.value = 255;
    d.DrawHQLine(0, 0, 9, 3, 1.0, 0, 0, 0);
    int lit = 0;
    for (int x = 0; x < 10; ++x) {
        int col = 0;
        for (int y = 0; y < 10; ++y)
            col += one.at(x, y) == 255;
        EXPECT_EQ(col, 1) << x;
        lit += col;
    }
    EXPECT_EQ(lit, 10);
    EXPECT_EQ(one.at(9, 3), 255);

    // n pixels wide: discs of diameter n; a point stamps 5 x 5 minus corners.
    GuardedPlane disc(20, 20, 0);
    disc.Bind(d);
    d.DrawHQLine(10, 10, 10, 10, 5.9, 0, 0, 0);
    int count = 0;
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 20; ++x)
            count += disc.at(x, y) == 255;
    EXPECT_EQ(count, 21);
    EXPECT_EQ(disc.at(8, 9), 255);
    EXPECT_EQ(disc.at(8, 8), 0);
    EXPECT_TRUE(disc.GuardsIntact());
}

TEST(RasterDrawing, PolyLineThinsByMinimumSquaredDistance)
{
    CQNF_ImageDrawing d;
    GuardedPlane poly(40, 20, 0), seg(40, 20, 0);
    qntFPOS pts[5] = {{5, 10}, {5.5, 10.2}, {6, 9.9}, {5.2, 10.4}, {30, 12}};
    poly.Bind(d);
    ASSERT_TRUE(d.DrawHQPolyLine(pts, 5, 2.5, 1, 1, 1, 4.0));
    seg.Bind(d);
    d.DrawHQLine(pts[0], pts[4], 2.5, 1, 1, 1);
    EXPECT_EQ(poly.Snapshot(), seg.Snapshot());

    // All within the distance: still one segment, first to last.
    qntFPOS close[5] = {{5, 10}, {5.5, 10}, {6, 10}, {6.5, 10}, {7, 10}};
    GuardedPlane p2(40, 20, 0), s2(40, 20, 0);
    p2.Bind(d);
    ASSERT_TRUE(d.DrawHQPolyLine(close, 5, 2.5, 1, 1, 1, 100.0));
    s2.Bind(d);
    d.DrawHQLine(close[0], close[4], 2.5, 1, 1, 1);
    EXPECT_EQ(p2.Snapshot(), s2.Snapshot());

    EXPECT_FALSE(d.DrawHQPolyLine(pts, 1, 2.5, 1, 1, 1, 1.0));
    EXPECT_FALSE(d.DrawHQPolyLine(nullptr, 5, 2.5, 1, 1, 1, 1.0));
}

TEST(RasterDrawing, DestinationFromImage)
{
    CQNF_ImageDrawing d;
    CQNF_Image rgb;
    ASSERT_TRUE(rgb.Create(10, 10, 1));
    EXPECT_FALSE(d.SetDestination(&rgb));
    EXPECT_EQ(d.GetError(), qnerr::BadArgument);
    // Nothing bound yet: drawing is a no-op.
    EXPECT_TRUE(d.DrawHQLine(0, 0, 9, 9, 3.0, 1, 1, 1));

    CQNF_Image rgba;
    ASSERT_TRUE(rgba.Create(10, 10, 2));
    rgba.Set(qntRGBA8{1, 2, 3, 0}, 0xFF, qnNullRect);
    ASSERT_TRUE(d.SetDestination(&rgba));
    EXPECT_FALSE(d.SetDestination(&rgb));  // keeps the RGBA image
    d.DrawHQLine(0, 5.5, 10, 5.5, 2.0, 0, 1, 0);
    EXPECT_EQ(rgba.GetPixel(5, 5).a, 255);
    EXPECT_EQ(rgba.GetPixel(5, 5).r, 1);
    EXPECT_EQ(rgba.GetPixel(5, 1).a, 0);
}

TEST(RasterDrawing, ClipIsCutToThePlane)
{
    for (int aa = 0; aa < 2; ++aa) {
        CQNF_ImageDrawing d;
        d.antiAlias = static_cast<uint8_t>(aa);
        GuardedPlane g(16, 12, 0);
        g.Bind(d);
        d.SetClipRect({-50, -50, 500, 500});
        d.DrawHQLine(-30, -20, 60, 40, 7.0, 1, 0, 0);
        d.DrawHQLine(-3, 6, 40, 6, 9.0, 1, 1, 1);
        EXPECT_TRUE(g.GuardsIntact()) << aa;
        // A clip inside the plane limits the drawing to it.
        GuardedPlane c(16, 12, 0);
        c.Bind(d);
        d.SetClipRect({4, 2, 8, 10});
        d.DrawHQLine(0, 6, 16, 6, 3.0, 0, 1, 0);
        for (int y = 0; y < 12; ++y)
            for (int x = 0; x < 16; ++x)
                if (x < 4 || x >= 8 || y < 2 || y >= 10) {
                    EXPECT_EQ(c.at(x, y), 0) << aa << " " << x << "," << y;
                }
        EXPECT_EQ(c.at(5, 6), 255);
    }
}

TEST(RasterDrawing, NonFiniteAndHugeInputStayInsideThePlane)
{
    std::mt19937 rng(99);
    const double specials[] = {kNaN, kInf, -kInf, 1e308, -1e308, 1e30, -1e30, 3e9, -3e9, 0.5, 7.25};
    std::uniform_real_distribution<double> near(-20.0, 40.0);
    std::uniform_int_distribution<int> pick(0, 14);
    auto coord = [&]() {
        const int k = pick(rng);
        return k < 11 ? specials[k] : near(rng);
    };
    for (int trial = 0; trial < 3000; ++trial) {
        CQNF_ImageDrawing d;
        d.antiAlias = trial % 3 != 0;
        d.bitMode = trial % 6 == 0;
        GuardedPlane g(24, 17, 3);
        g.Bind(d);
        if (trial % 4 == 1)
            d.SetClipRect({-1000, -5, 1000, 9});
        const double w = trial % 5 == 0 ? coord() : std::fabs(near(rng)) / 3.0;
        d.DrawHQLine(coord(), coord(), coord(), coord(), w, trial & 1, trial & 2, trial & 4);
        qntFPOS pts[4] = {{coord(), coord()}, {coord(), coord()}, {coord(), coord()}, {coord(), coord()}};
        d.DrawHQPolyLine(pts, 4, w, 1, 1, 1, coord());
        ASSERT_TRUE(g.GuardsIntact()) << trial;
    }
    // Extents that overflow doubles in every aliased mode.
    for (int mode = 0; mode < 3; ++mode) {
        CQNF_ImageDrawing d;
        d.antiAlias = 0;
        d.bitMode = mode == 0;
        GuardedPlane g(24, 17, 3);
        g.Bind(d);
        d.DrawHQLine(-1e308, 5, 1e308, 5, mode == 2 ? 4.0 : 1.0, 0, 0, 0);
        d.DrawHQLine(-1e308, -1e308, 1e308, 1e308, mode == 2 ? 4.0 : 1.0, 0, 0, 0);
        d.DrawHQLine(-1e7, 5.5, 1e7, 5.5, mode == 2 ? 4.0 : 1.0, 0, 0, 0);
        EXPECT_TRUE(g.GuardsIntact());
        if (mode == 1) {
            EXPECT_EQ(g.at(0, 5), 255);  // a far-reaching line cut to the plane
            EXPECT_EQ(g.at(23, 5), 255);
        }
    }
    // Non-finite end points draw nothing at all.
    GuardedPlane g(24, 17, 3);
    CQNF_ImageDrawing d;
    g.Bind(d);
    const auto before = g.Snapshot();
    d.DrawHQLine(kNaN, 3, 10, 10, 3.0, 1, 0, 0);
    d.DrawHQLine(1, 3, 10, 10, kInf, 1, 0, 0);
    d.DrawHQLine(5, 5, 5, 5, 3.0, 1, 0, 0);
    EXPECT_EQ(g.Snapshot(), before);
}
