#include "imaging/ImageDrawing.h"

#include "core/Mem.h"
#include "imaging/Image.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <thread>
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

namespace {

// Aliased bits of polylines worked out the plain way: segments from point to
// point (skipping points within minSqDist of the last one drawn to), each
// walked from the pixels its ends truncate to in single precision, one pixel
// per step along the longer axis with the other axis at the nearest pixel
// (halves rounded up), kept inside plane, stride, clip and band.
struct BitScene {
    int w, h, rowBytes;
    qntRECT_s clip;
    int bandTop, bandBottom;

    std::vector<uint8_t> Reference(const std::vector<std::vector<qntFPOS>>& lines, double minSq) const
    {
        std::vector<uint8_t> plane(size_t(rowBytes) * h, 0);
        qntRECT_s box = clip;
        if (!qnimg::ClipRect(box, std::min(w, rowBytes * 8), h))
            return plane;
        auto plot = [&](int x, int y) {
            if (x >= box.left && x < box.right && y >= box.top && y < box.bottom &&
                (bandTop >= bandBottom || (y >= bandTop && y < bandBottom)))
                plane[size_t(y) * rowBytes + size_t(x / 8)] |= uint8_t(0x80 >> (x % 8));
        };
        auto walk = [&](qntFPOS p, qntFPOS q) {
            const int ax = int(float(p.x)), ay = int(float(p.y)), bx = int(float(q.x)), by = int(float(q.y));
            const bool alongY = std::abs(by - ay) > std::abs(bx - ax);
            const int major = alongY ? std::abs(by - ay) : std::abs(bx - ax);
            const int minor = alongY ? std::abs(bx - ax) : std::abs(by - ay);
            const int sx = bx < ax ? -1 : 1, sy = by < ay ? -1 : 1;
            for (int i = 0; i < major; ++i) {
                const int k = int((2LL * minor * i + major) / (2LL * major));
                if (alongY)
                    plot(ax + sx * k, ay + sy * i);
                else
                    plot(ax + sx * i, ay + sy * k);
            }
            plot(bx, by);
        };
        for (const auto& pts : lines)
            for (size_t a = 0; pts.size() >= 2 && a + 1 < pts.size();) {
                size_t b = a + 1;
                auto near = [&] {
                    const double dx = pts[b].x - pts[a].x, dy = pts[b].y - pts[a].y;
                    return dx * dx + dy * dy <= minSq;
                };
                while (b + 1 < pts.size() && near())
                    ++b;
                walk(pts[a], pts[b]);
                a = b;
            }
        return plane;
    }

    // The lines drawn by DrawHQPolyLine, shared out over `threads` threads
    // drawing into the one plane at once (atomic bits) when threads > 1.
    std::vector<uint8_t> Drawn(const std::vector<std::vector<qntFPOS>>& lines, double minSq, int threads) const
    {
        std::vector<uint8_t> plane(size_t(rowBytes) * h, 0);
        auto draw = [&](int part) {
            CQNF_ImageDrawing d;
            d.antiAlias = 0;
            d.bitMode = 1;
            d.atomicBits = threads > 1;
            d.SetDestination(plane.data(), unsigned(rowBytes), w, h);
            d.SetClipRect(clip);
            d.SetBitRowBand(bandTop, bandBottom);
            for (size_t i = size_t(part); i < lines.size(); i += size_t(threads))
                d.DrawHQPolyLine(lines[i].data(), lines[i].size(), 3.0, 1, 1, 1, minSq);
        };
        std::vector<std::thread> started;
        for (int t = 1; t < threads; ++t)
            started.emplace_back(draw, t);
        draw(0);
        for (std::thread& t : started)
            t.join();
        return plane;
    }
};

}  // namespace

TEST(RasterDrawing, BitPolyLinesAreTheWalksOfTheirSegments)
{
    std::mt19937 rng(17);
    std::uniform_real_distribution<double> coord(-30.0, 230.0), step(-3.0, 3.0);
    // Random lines across and beyond the plane, and knife-like ones: many
    // points a pixel or less apart, so that the thinning matters.
    std::vector<std::vector<qntFPOS>> lines(24);
    for (size_t i = 0; i < lines.size(); ++i) {
        qntFPOS p{coord(rng), coord(rng)};
        for (int k = 0, n = i % 2 ? 2 + int(rng() % 6) : 60 + int(rng() % 200); k < n; ++k) {
            lines[i].push_back(p);
            p = i % 2 ? qntFPOS{coord(rng), coord(rng)} : qntFPOS{p.x + step(rng) * 0.4, p.y + step(rng) * 0.4};
        }
    }
    lines.push_back({{5.5, 7.25}, {5.9, 7.75}});                  // one pixel
    lines.push_back({{150.0, 2.0}, {3.0, 2.0}, {3.0, 120.0}});      // backward, flat, steep
    lines.push_back({{0.0, 0.0}, {199.99, 149.99}, {-0.5, 149.5}});  // corner to corner
    // Along the edges of the plane, the clips and the bands below.
    for (double x : {0.2, 17.5, 179.6, 199.9})
        lines.push_back({{x, 150.0}, {x + 0.3, -1.0}});
    for (double y : {0.7, 9.1, 40.5, 76.9, 132.5, 149.2})
        lines.push_back({{-1.0, y}, {201.0, y - 0.4}});
    const BitScene scenes[] = {
        {200, 150, 25, qnNullRect, 0, 0},
        {200, 150, 31, qnNullRect, 0, 0},                  // rows wider than the plane
        {200, 150, 16, qnNullRect, 0, 0},                  // rows narrower than the plane
        {200, 150, 25, {17, 9, 180, 133}, 0, 0},           // a clip
        {200, 150, 25, qnNullRect, 40, 77},                // a band
        {200, 150, 25, {-50, 60, 500, 300}, 40, 77},       // clip and band overlapping
        {200, 150, 25, {0, 90, 200, 150}, 40, 77},         // clip and band apart
        {13, 9, 2, qnNullRect, 0, 0},                       // a plane most lines miss
    };
    for (const BitScene& s : scenes)
        for (double minSq : {0.0, 1.0, 6.5}) {
            const std::vector<uint8_t> want = s.Reference(lines, minSq);
            for (int threads : {1, 4})
                EXPECT_EQ(s.Drawn(lines, minSq, threads), want)
                    << s.w << "x" << s.h << " rows of " << s.rowBytes << ", clip " << s.clip.left << "," << s.clip.top
                    << ", band " << s.bandTop << "-" << s.bandBottom << ", minSq " << minSq << ", " << threads
                    << " threads";
        }
}

namespace {

// Anti-aliased coverage worked out the plain way: every pixel of the
// segment's box (cut to the plane and the clip) weighed by the distance
// rules, one after the other.
void PlainSegment(std::vector<uint8_t>& plane, int w, int h, qntRECT_s clip, qntFPOS p1, qntFPOS p2, double width,
                  bool roundCaps, bool maxMerge, bool fixedFootprint, int val)
{
    const double x1 = p1.x, y1 = p1.y, x2 = p2.x, y2 = p2.y;
    if ((x1 == x2 && y1 == y2) || !qnimg::ClipRect(clip, w, h))
        return;
    const double r = width / 2.0;
    const bool caps = roundCaps && width >= 2.1;
    auto bound = [](double v) { return int(float(v)); };
    const int left = std::max(bound(std::min(x1, x2) - r - 1.0), clip.left);
    const int right = std::min(bound(std::max(x1, x2) + r + 1.0), clip.right);
    const int top = std::max(bound(std::min(y1, y2) - r - 1.0), clip.top);
    const int bottom = std::min(bound(std::max(y1, y2) + r + 1.0), clip.bottom);
    const double dx = x2 - x1, dy = y2 - y1, len2 = dx * dx + dy * dy, len = std::sqrt(len2);
    const double foot = fixedFootprint ? 1.414213 : len / std::max(std::fabs(dx), std::fabs(dy));
    const double ox = fixedFootprint ? 0.5 : 0.0, hf = foot / 2.0;
    const double cap = caps ? r / len : 0.0, e = hf / len;
    const double outer = (r + hf) * (r + hf), inner = (r - hf) * (r - hf);
    auto body = [&](double s) -> int {
        if (s < inner)
            return val;
        const float k = float(val * ((std::sqrt(s) - r) / foot + 0.5));
        return uint8_t(val - int(std::clamp(k, 0.0f, 255.0f)));
    };
    for (int y = top; y < bottom; ++y)
        for (int x = left; x < right; ++x) {
            uint8_t& v = plane[size_t(y) * w + x];
            if (maxMerge && v > val)
                continue;
            const double px = x + ox, py = y + 0.5;
            const double t = ((px - x1) * dx + (py - y1) * dy) / len2;
            int byte = -1;
            const double c = (px - x1) * dy - (py - y1) * dx;
            double s = c * c / len2;
            if (t >= -(cap + e) && t <= 1.0 + cap + e && s <= outer) {
                if (t >= e && t <= 1.0 - e) {
                    byte = body(s);
                } else if (caps) {
                    s = std::min((px - x1) * (px - x1) + (py - y1) * (py - y1),
                                 (px - x2) * (px - x2) + (py - y2) * (py - y2));
                    if (s <= outer)
                        byte = body(s);
                } else {
                    double cov = (t < e ? t : 1.0 - t) / (2.0 * e) + 0.5;
                    if (s >= inner)
                        cov = std::min(cov, 0.5 - (std::sqrt(s) - r) / foot);
                    byte = int(std::clamp(float(cov * val), 0.0f, 255.0f));
                }
            }
            if (byte >= 0)
                v = uint8_t(maxMerge ? std::max<int>(byte, v) : byte);
            else if (!maxMerge)
                v = 0;
        }
}

}  // namespace

// Whatever shortcuts the drawing takes (rows weighed only where the line can
// reach, segments far outside passed over, several threads raising the
// bytes of one plane at once), every byte is the plain rules' byte.
TEST(RasterDrawing, AntiAliasedLinesAreThePlainRulesByte)
{
    std::mt19937 rng(5);
    std::uniform_real_distribution<double> coord(-40.0, 140.0), unit(0.0, 1.0);
    const int w = 97, h = 71;
    for (int trial = 0; trial < 400; ++trial) {
        std::vector<uint8_t> start(size_t(w) * h);
        for (uint8_t& b : start)
            b = uint8_t(rng() % 4 == 0 ? rng() : 0);
        const qntRECT_s clip = trial % 3 == 0 ? qntRECT_s{int(rng() % 30), int(rng() % 20), 60 + int(rng() % 60), 40 + int(rng() % 40)}
                                              : qnNullRect;
        const double width = trial % 5 == 0 ? 0.3 + unit(rng) : 0.5 + unit(rng) * 9.0;
        const bool caps = trial & 1, merge = (trial & 2) || trial % 7 == 0, foot = trial & 4;
        const int val = trial % 4 == 0 ? int(rng() % 256) : 255;
        // A polyline: long random segments, or a knife-like run of points
        // about a pixel apart that leaves the plane and comes back.
        std::vector<qntFPOS> pts;
        qntFPOS p{coord(rng), coord(rng)};
        const bool knife = trial % 2 == 0;
        const double angle0 = unit(rng) * 6.3;
        for (int k = 0, n = knife ? 300 : 2 + int(rng() % 5); k < n; ++k) {
            pts.push_back(p);
            const double a = angle0 + k * 0.02;
            p = knife ? qntFPOS{p.x + std::cos(a) * unit(rng) * 1.5, p.y + std::sin(a) * unit(rng) * 1.5}
                      : qntFPOS{coord(rng), coord(rng)};
        }
        if (trial % 11 == 0)
            pts.push_back({pts.back().x + 0.25, pts.back().y});  // a short last step
        const double minSq = trial % 3 == 1 ? 0.0 : 1.0 + unit(rng);

        // Plain: the thinned points' segments one by one, from each point
        // to the first one farther than minSq (squared) from it.
        std::vector<std::pair<size_t, size_t>> segments;
        for (size_t a = 0; a + 1 < pts.size();) {
            size_t b = a + 1;
            while (b + 1 < pts.size()) {
                const double ex = pts[b].x - pts[a].x, ey = pts[b].y - pts[a].y;
                if (!(ex * ex + ey * ey <= minSq))
                    break;
                ++b;
            }
            segments.push_back({a, b});
            a = b;
        }
        std::vector<uint8_t> plain = start;
        for (const auto& [a, b] : segments)
            PlainSegment(plain, w, h, clip, pts[a], pts[b], width, caps, merge, foot, val);

        std::vector<uint8_t> drawn = start;
        CQNF_ImageDrawing d;
        d.value = uint8_t(val);
        d.SetDestination(drawn.data(), w, w, h);
        d.SetClipRect(clip);
        d.DrawHQPolyLine(pts.data(), pts.size(), width, caps, merge, foot, minSq);
        ASSERT_EQ(drawn, plain) << trial;

        // The same line cut in four and drawn by four threads at once into
        // one plane, bytes raised atomically: with max-merge, the same bytes.
        if (!merge)
            continue;
        // The plain drawing's own segments shared out.
        std::vector<uint8_t> shared = start;
        auto part = [&](size_t first) {
            CQNF_ImageDrawing t;
            t.value = uint8_t(val);
            t.atomicMax = 1;
            t.SetDestination(shared.data(), w, w, h);
            t.SetClipRect(clip);
            for (size_t i = first; i < segments.size(); i += 4)
                t.DrawHQLine(pts[segments[i].first], pts[segments[i].second], width, caps, 1, foot);
        };
        std::vector<std::thread> threads;
        for (size_t k = 1; k < 4; ++k)
            threads.emplace_back(part, k);
        part(0);
        for (std::thread& t : threads)
            t.join();
        ASSERT_EQ(shared, plain) << trial;
    }
}
