// The smooth cut's fill-line rule, held against a plain pixel-by-pixel form
// written from its description: each output pixel gains 16 for every
// sub-pixel of the span and of the knife sub-pixels just left and right of
// it (reaching 255 from 15 counts on), and a pixel still at 0 beside the span
// (the sub-pixel rows above and below) gets 16 where a knife sub-pixel lies
// above or below the span.
#include "engine/SplitRaster.h"
#include "imaging/ImageFX_Kernels.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

struct Rasters {
    int32_t w, h;  // output pixels
    uint32_t rowBytes;
    std::vector<uint8_t> test, out;

    Rasters(int32_t width, int32_t height, std::mt19937& rng)
        : w(width), h(height), rowBytes(uint32_t((4 * width + 7) / 8)), test(size_t(rowBytes) * 4 * height + 8),
          out(size_t(width) * height)
    {
        for (auto& b : test)
            b = uint8_t(rng() % 4 == 0 ? rng() : 0);
        for (auto& v : out)
            v = uint8_t(rng() % 3 == 0 ? rng() % 256 : 0);
    }
    bool Bit(int32_t x, int32_t y) const { return test[size_t(y) * rowBytes + x / 8] & (0x80 >> (x % 8)); }
    void Set(int32_t x, int32_t y) { test[size_t(y) * rowBytes + x / 8] |= uint8_t(0x80 >> (x % 8)); }
    CTessolo::FILLCONTEXT Context()
    {
        CTessolo::FILLCONTEXT c{};
        c.rowBytes = rowBytes;
        c.width = 4 * w;
        c.height = 4 * h;
        c.test = test.data();
        c.output = out.data();
        c.outputStride = uint32_t(w);
        c.smooth = 1;
        c.left = c.top = 1000000;
        c.right = c.bottom = -1000000;
        return c;
    }
};

void PlainFillLineBit(Rasters& r, int64_t x, int32_t y, uint32_t length)
{
    const int32_t W = 4 * r.w, H = 4 * r.h;
    const int32_t xl = int32_t(std::max<int64_t>(x, 0)), xr = int32_t(std::min<int64_t>(x + length, W));
    if (y < 0 || y >= H || xl >= xr)
        return;
    for (int32_t yy : {y - 1, y + 1}) {
        if (yy < 0 || yy >= H)
            continue;
        for (int32_t ox = xl / 4; ox <= (xr - 1) / 4; ++ox) {
            bool knife = false;
            for (int32_t sx = std::max(4 * ox, xl); sx < std::min(4 * ox + 4, xr); ++sx)
                knife = knife || r.Bit(sx, yy);
            uint8_t& o = r.out[size_t(yy / 4) * r.w + ox];
            if (o == 0 && knife)
                o = 16;
        }
    }
    const int32_t wl = std::max(xl - 1, 0), wr = std::min(xr + 1, W);
    for (int32_t sx = wl; sx < wr; ++sx) {
        r.Set(sx, y);
        uint8_t& o = r.out[size_t(y / 4) * r.w + sx / 4];
        o = uint8_t(o + 16 >= 240 ? 255 : o + 16);
    }
}

}  // namespace

// Every instruction-set form of the runs the processor has, with spans from
// one sub-pixel to past both ends of rows up to 100 pixels (a 64-pixel vector
// and a partial one), on every sub-pixel row of an output row.
TEST(EngineFillLine, SmoothRuleMatchesThePlainForm)
{
    const qnfx::LaneIsa widest = qnfx::CurrentLaneIsa();
    for (qnfx::LaneIsa isa : {qnfx::LaneIsa::Base, qnfx::LaneIsa::Avx2, qnfx::LaneIsa::Avx512}) {
        if (!qnfx::ForceLaneIsa(isa))
            continue;
        SCOPED_TRACE(int(isa));
        std::mt19937 rng(21);
        for (int round = 0; round < 300; ++round) {
            Rasters fast(int32_t(1 + rng() % 100), int32_t(1 + rng() % 6), rng);
            Rasters plain = fast;
            CTessolo::FILLCONTEXT c = fast.Context();
            for (int span = 0; span < 20; ++span) {
                const int32_t W = 4 * fast.w;
                // Short spans at every offset, and long ones, some past the ends.
                const int64_t x = int64_t(rng() % (W + 8)) - 4;
                const uint32_t length = rng() % 2 ? 1 + rng() % 12 : 1 + rng() % (W + 8);
                const int32_t y = int32_t(rng() % (4 * fast.h + 2)) - 1;
                tessolo_split::FillLineBit(c, x, y, length);
                PlainFillLineBit(plain, x, y, length);
                ASSERT_EQ(fast.out, plain.out) << "round " << round << " span " << span;
                ASSERT_EQ(fast.test, plain.test) << "round " << round << " span " << span;
            }
        }
    }
    qnfx::ForceLaneIsa(widest);
}

// Clearing bits of a row, from every start to every end across a few words,
// leaves every other bit as it was.
TEST(EngineFillLine, ClearBitsMatchesAPlainWalk)
{
    std::mt19937 rng(5);
    std::vector<uint8_t> row(24);
    for (int32_t lo = 0; lo < 150; ++lo)
        for (int32_t hi = lo; hi <= 160; hi += 1 + hi % 3) {
            for (auto& b : row)
                b = uint8_t(rng());
            std::vector<uint8_t> plain = row;
            for (int32_t x = lo; x < hi; ++x)
                plain[size_t(x) / 8] &= uint8_t(~(0x80u >> (x % 8)));
            tessolo_split::ClearBits(row.data(), lo, hi);
            ASSERT_EQ(row, plain) << lo << ".." << hi;
        }
}

// The word-at-a-time searches of a bit row against a plain walk, on rows
// from all free to all blocked, at every start and with lower bounds that
// cut words anywhere.
TEST(EngineFillLine, BitRowSearchesMatchAPlainWalk)
{
    std::mt19937 rng(8);
    for (unsigned density : {0u, 1u, 8u, 50u, 92u, 100u}) {
        SCOPED_TRACE(density);
        for (int round = 0; round < 6; ++round) {
            const int32_t width = int32_t(1 + rng() % 300);
            std::vector<uint8_t> row(size_t(width + 7) / 8 + 8, 0);
            for (int32_t x = 0; x < width; ++x)
                if (rng() % 100 < density)
                    row[size_t(x) / 8] |= uint8_t(0x80u >> (x % 8));
            const tessolo_split::BitRaster r{row.data(), uint32_t(row.size()), width, 1};
            auto set = [&](int32_t x) { return (row[size_t(x) / 8] >> (7 - x % 8)) & 1; };
            auto plainPrev = [&](int32_t x, int32_t lo, int want) {
                for (; x >= lo; --x)
                    if (set(x) == want)
                        return x;
                return lo - 1;
            };
            auto plainNext = [&](int32_t x, int want) {
                for (; x < width; ++x)
                    if (set(x) == want)
                        return x;
                return width;
            };
            for (int32_t x = 0; x < width; ++x) {
                ASSERT_EQ(r.NextBlocked(row.data(), x), plainNext(x, 1)) << density << " at " << x;
                ASSERT_EQ(r.NextFree(row.data(), x), plainNext(x, 0)) << density << " at " << x;
                for (int32_t lo : {0, x / 3, x - 64, x - 63, x - 7, x}) {
                    if (lo < 0)
                        continue;
                    ASSERT_EQ(r.PrevBlocked(row.data(), x, lo), plainPrev(x, lo, 1)) << x << "/" << lo;
                    ASSERT_EQ(r.PrevFree(row.data(), x, lo), plainPrev(x, lo, 0)) << x << "/" << lo;
                }
            }
        }
    }
}
