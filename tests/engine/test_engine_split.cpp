// Splitting into pieces: the pieces partition the image and the fast fill
// gives the bytes of the plain span fill with the engine's callbacks, for
// plain and smooth cuts, knives turned off and smooth lines.
#include "core/2DMath.h"
#include "engine/Tessolo.h"
#include "engine_test_util.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <random>

using namespace engine_test;

namespace {

struct RefPiece {
    qntRECT_s box;
    std::vector<uint8_t> placed;  // full-size mask
};

// The split done the plain way: the engine's knife raster, its holes found
// as one-position regions by a labelling of this test's own, and
// CQNF_2DMath::FillBounds with the engine's function-pointer callbacks.
std::vector<RefPiece> ReferenceSplit(CTessolo& e, int32_t w, int32_t h, const uint8_t* selection, int* holes)
{
    const bool bits = e.m_bCut && e.m_bSmooth;
    CTessolo::FILLCONTEXT c{};
    std::vector<uint8_t> raster;
    if (bits) {
        c.width = 4 * w;
        c.height = 4 * h;
        c.rowBytes = uint32_t((c.width + 7) / 8);
        raster.assign(size_t(c.rowBytes) * c.height, 0);
        e.m_Drawing.bitMode = 1;
        e.m_bSmooth = 0;
        EXPECT_TRUE(e.DrawSplitting(c.width, c.height, raster.data(), c.rowBytes, 0, 100));
        e.m_bSmooth = 1;
        e.m_Drawing.bitMode = 0;
    } else {
        c.width = w;
        c.height = h;
        c.rowBytes = uint32_t(w);
        raster.assign(size_t(w) * h, 0);
        EXPECT_TRUE(e.DrawSplitting(w, h, raster.data(), uint32_t(w), 0, 100));
    }
    c.test = raster.data();
    std::vector<uint8_t> out(size_t(w) * h, 0);
    c.output = out.data();
    c.outputStride = uint32_t(w);
    c.smooth = e.m_bSmooth;
    c.linesMode = e.m_bCut ? 0 : 1;

    auto blocked = [&](int32_t x, int32_t y) {
        return bits ? CTessolo::fTestBoundsBit({x, y}, &c) : CTessolo::fTestBounds({x, y}, &c);
    };
    // Holes, found as what they are: free regions (4-connected) of exactly
    // one position. They belong to the knife.
    std::vector<int32_t> label(size_t(c.width) * c.height, -1);
    std::vector<qntPOS> holeList;
    int32_t regions = 0;
    for (int32_t y = 0; y < c.height; ++y)
        for (int32_t x = 0; x < c.width; ++x) {
            if (blocked(x, y) || label[size_t(y) * c.width + x] >= 0)
                continue;
            std::deque<qntPOS> todo{{x, y}};
            label[size_t(y) * c.width + x] = regions;
            size_t size = 0;
            while (!todo.empty()) {
                const qntPOS p = todo.front();
                todo.pop_front();
                ++size;
                for (auto [dx, dy] : {std::pair{-1, 0}, {1, 0}, {0, -1}, {0, 1}}) {
                    const int32_t nx = p.x + dx, ny = p.y + dy;
                    if (blocked(nx, ny) || label[size_t(ny) * c.width + nx] >= 0)
                        continue;
                    label[size_t(ny) * c.width + nx] = regions;
                    todo.push_back({nx, ny});
                }
            }
            if (size == 1)
                holeList.push_back({x, y});
            ++regions;
        }
    *holes += int(holeList.size());
    std::vector<uint8_t> closed = raster;  // every hole decided on the raster as drawn
    for (const qntPOS& q : holeList) {
        const int32_t x = q.x, y = q.y;
        if (bits) {
            closed[size_t(y) * c.rowBytes + x / 8] |= uint8_t(0x80 >> (x % 8));
        } else if (e.m_bSmooth) {
            // Smooth lines: the mean of the neighbours inside the image.
            int sum = 0, n = 0;
            for (auto [dx, dy] : {std::pair{-1, 0}, {1, 0}, {0, -1}, {0, 1}})
                if (x + dx >= 0 && x + dx < w && y + dy >= 0 && y + dy < h)
                    sum += raster[size_t(y + dy) * w + x + dx], ++n;
            closed[size_t(y) * w + x] = uint8_t(n ? sum / n : 255);
        } else {
            closed[size_t(y) * w + x] = 255;
        }
    }
    raster = closed;
    c.test = raster.data();

    std::vector<RefPiece> pieces;
    auto take = [&](const uint8_t* src, qntRECT_s box, bool clear) {
        RefPiece p{box, std::vector<uint8_t>(size_t(w) * h, 0)};
        for (int32_t y = box.top; y < box.bottom; ++y)
            for (int32_t x = box.left; x < box.right; ++x) {
                p.placed[size_t(y) * w + x] = src[size_t(y) * w + x];
                if (clear)
                    out[size_t(y) * w + x] = 0;
            }
        pieces.push_back(std::move(p));
    };
    auto shrink = [&](qntRECT_s box) {
        qntRECT_s s{box.right, box.bottom, box.left - 1, box.top - 1};
        for (int32_t y = box.top; y < box.bottom; ++y)
            for (int32_t x = box.left; x < box.right; ++x) {
                uint8_t& o = out[size_t(y) * w + x];
                o = uint8_t(o * selection[size_t(y) * w + x] / 255);
                if (o) {
                    s.left = std::min(s.left, x);
                    s.top = std::min(s.top, y);
                    s.right = std::max(s.right, x + 1);
                    s.bottom = std::max(s.bottom, y + 1);
                }
            }
        return s;
    };
    if (c.linesMode) {
        if (selection) {
            out = raster;
            const qntRECT_s s = shrink(qntRECT_s{0, 0, w, h});
            if (s.right > s.left)
                take(out.data(), s, true);
        } else {
            take(raster.data(), qntRECT_s{0, 0, w, h}, false);
        }
    }

    CQNF_2DMath m;
    m.fnTest = bits ? &CTessolo::fTestBoundsBit : &CTessolo::fTestBounds;
    m.fnFillLine = &CTessolo::fFillLine;
    for (int32_t y = 0; y < c.height; ++y)
        for (int32_t x = 0; x < c.width; ++x) {
            if (blocked(x, y))
                continue;
            c.left = c.top = 1000000;
            c.right = c.bottom = -1000000;
            m.FillBounds(&c, qntPOS{x, y});
            qntRECT_s box{std::max(c.left, 0), std::max(c.top, 0), std::min(c.right, w), std::min(c.bottom, h)};
            if (box.left >= box.right || box.top >= box.bottom)
                continue;
            if (selection) {
                box = shrink(box);
                if (box.right <= box.left)
                    continue;
            }
            take(out.data(), box, true);
        }
    return pieces;
}

void ExpectSameAsReference(CTessolo& e, int32_t w, int32_t h, const uint8_t* selection, int* holes,
                           const char* what)
{
    TestImage img(w, h, 3);
    ASSERT_TRUE(e.FreeSpliting());
    ASSERT_TRUE(e.SplitCells(w, h, const_cast<uint8_t*>(selection), uint32_t(w), img.Planes(), uint32_t(w), 3, 0,
                             100, 0))
        << what;
    const std::vector<RefPiece> ref = ReferenceSplit(e, w, h, selection, holes);
    ASSERT_EQ(e.m_nPieces, ref.size()) << what;
    for (uint32_t i = 0; i < e.m_nPieces; ++i) {
        const CTessolo::SPLITEDCELL& p = e.m_pPieces[i];
        ASSERT_EQ(p.left, ref[i].box.left) << what << " piece " << i;
        ASSERT_EQ(p.top, ref[i].box.top) << what << " piece " << i;
        ASSERT_EQ(p.right, ref[i].box.right) << what << " piece " << i;
        ASSERT_EQ(p.bottom, ref[i].box.bottom) << what << " piece " << i;
        ASSERT_EQ(PlacedMask(p, w, h), ref[i].placed) << what << " piece " << i;
    }
}

}  // namespace

TEST(EngineSplit, OneCellGivesOnePieceEqualToTheImage)
{
    for (bool smooth : {true, false})
        for (bool cut : {true, false}) {
            CTessolo e;
            Load(e, 1, 1, cut, smooth);
            TestImage img(37, 23, 3);
            ASSERT_TRUE(e.SplitCells(37, 23, nullptr, 0, img.Planes(), 37, 3, 0, 100, 0));
            // Lines mode adds the (empty) knife piece first.
            const uint32_t first = cut ? 0 : 1;
            ASSERT_EQ(e.m_nPieces, first + 1);
            const CTessolo::SPLITEDCELL& p = e.m_pPieces[first];
            EXPECT_EQ(p.left, 0);
            EXPECT_EQ(p.top, 0);
            EXPECT_EQ(p.right, 37);
            EXPECT_EQ(p.bottom, 23);
            EXPECT_EQ(p.pixels, 37u * 23u);
            EXPECT_EQ(PlacedMask(p, 37, 23), std::vector<uint8_t>(37 * 23, 255));
            EXPECT_EQ(p.column, 1);
            EXPECT_EQ(p.row, 1);
            EXPECT_EQ(p.selected, 0);
            EXPECT_EQ(p.shown, 1);
            EXPECT_EQ(p.sources[0], img.Planes()[0]);
            EXPECT_EQ(p.sources[3], p.mask->GetPtr());
            for (int copy : {CTessolo::FX_APPLIED, CTessolo::FX_REQUESTED}) {
                EXPECT_EQ(std::memcmp(&p.bevel[copy], &e.m_DefBevel, sizeof e.m_DefBevel), 0);
                EXPECT_EQ(std::memcmp(&p.stroke[copy], &e.m_DefStroke, sizeof e.m_DefStroke), 0);
                EXPECT_EQ(p.motionBlur[copy].angle, 45);
            }
            EXPECT_EQ(p.bevel[CTessolo::FX_BACKUP].on, 0);
            EXPECT_EQ(e.m_bLinesMode, cut ? 0 : 1);
        }
}

TEST(EngineSplit, FastFillGivesTheBytesOfThePlainFill)
{
    std::mt19937 rng(11);
    int holes = 0;
    for (int round = 0; round < 12; ++round) {
        const uint16_t cols = uint16_t(1 + rng() % 5), rows = uint16_t(1 + rng() % 4);
        CutMap m = RandomMap(rng, cols, rows, int(rng() % 3));
        const int32_t w = int32_t(30 + rng() % 70), h = int32_t(20 + rng() % 60);
        for (int mode = 0; mode < 4; ++mode) {
            m.razor = mode & 1;
            m.antiAlias = (mode >> 1) & 1;
            CTessolo e;
            Load(e, m);
            ExpectSameAsReference(e, w, h, nullptr, &holes, "no selection");
            std::vector<uint8_t> sel(size_t(w) * h);
            for (int32_t y = 0; y < h; ++y)
                for (int32_t x = 0; x < w; ++x)
                    sel[size_t(y) * w + x] = x < w / 3 ? 0 : uint8_t(std::min(255, (x * 9 + y * 5) % 300));
            ExpectSameAsReference(e, w, h, sel.data(), &holes, "selection");
        }
    }
    // The random layouts must have exercised the hole closing.
    EXPECT_GT(holes, 0);
}

// Independent check of the plain cut: free regions are the 4-connected
// components of the free pixels; a knife pixel belongs to the first region
// (in row-by-row order of its first pixel) that touches it, diagonals
// included; every other knife pixel to none.
TEST(EngineSplit, PlainCutPartitionsTheImage)
{
    std::mt19937 rng(5);
    for (int round = 0; round < 10; ++round) {
        CutMap m = RandomMap(rng, uint16_t(2 + rng() % 4), uint16_t(2 + rng() % 4), 1);
        m.razor = 1;
        m.antiAlias = 0;
        CTessolo e;
        Load(e, m);
        const int32_t w = 64 + int32_t(rng() % 40), h = 48 + int32_t(rng() % 30);
        std::vector<uint8_t> knife(size_t(w) * h);
        ASSERT_TRUE(e.DrawSplitting(w, h, knife.data(), uint32_t(w), 0, 100));
        auto at = [&](int32_t x, int32_t y) -> uint8_t {
            return (x < 0 || y < 0 || x >= w || y >= h) ? 255 : knife[size_t(y) * w + x];
        };
        std::vector<uint8_t> closed = knife;
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x)
                if (!at(x, y) && at(x - 1, y) && at(x + 1, y) && at(x, y - 1) && at(x, y + 1))
                    closed[size_t(y) * w + x] = 255;
        std::vector<int> label(size_t(w) * h, -1);
        int regions = 0;
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x) {
                if (closed[size_t(y) * w + x] || label[size_t(y) * w + x] >= 0)
                    continue;
                std::deque<std::pair<int32_t, int32_t>> q{{x, y}};
                label[size_t(y) * w + x] = regions;
                while (!q.empty()) {
                    auto [cx, cy] = q.front();
                    q.pop_front();
                    for (auto [dx, dy] : {std::pair{-1, 0}, {1, 0}, {0, -1}, {0, 1}}) {
                        const int32_t nx = cx + dx, ny = cy + dy;
                        if (nx < 0 || ny < 0 || nx >= w || ny >= h)
                            continue;
                        const size_t i = size_t(ny) * w + nx;
                        if (!closed[i] && label[i] < 0) {
                            label[i] = regions;
                            q.push_back({nx, ny});
                        }
                    }
                }
                ++regions;
            }
        std::vector<int> owner = label;
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x) {
                if (label[size_t(y) * w + x] >= 0 || closed[size_t(y) * w + x] != 255)
                    continue;
                int best = -1;
                for (int dy = -1; dy <= 1; ++dy)
                    for (int dx = -1; dx <= 1; ++dx) {
                        const int32_t nx = x + dx, ny = y + dy;
                        if (nx < 0 || ny < 0 || nx >= w || ny >= h)
                            continue;
                        const int l = label[size_t(ny) * w + nx];
                        if (l >= 0 && (best < 0 || l < best))
                            best = l;
                    }
                owner[size_t(y) * w + x] = best;
            }

        TestImage img(w, h, 1);
        ASSERT_TRUE(e.SplitCells(w, h, nullptr, 0, img.Planes(), uint32_t(w), 1, 0, 100, 0));
        ASSERT_EQ(int(e.m_nPieces), regions);
        std::vector<int> got(size_t(w) * h, -1);
        for (uint32_t i = 0; i < e.m_nPieces; ++i) {
            const auto placed = PlacedMask(e.m_pPieces[i], w, h);
            for (size_t k = 0; k < placed.size(); ++k) {
                if (!placed[k])
                    continue;
                ASSERT_EQ(placed[k], 255);
                ASSERT_EQ(got[k], -1) << "pixel in two pieces";
                got[k] = int(i);
            }
        }
        EXPECT_EQ(got, owner) << "round " << round;
    }
}

TEST(EngineSplit, SmoothCutCoversEveryPixelOnce)
{
    // Inside a region the coverage is 255 in exactly one piece; every pixel
    // with a free sub-pixel is covered by some piece (no cracks).
    std::mt19937 rng(3);
    CutMap m = RandomMap(rng, 4, 3, 2);
    m.razor = 1;
    m.antiAlias = 1;
    CTessolo e;
    Load(e, m);
    const int32_t w = 120, h = 90;
    TestImage img(w, h, 3);
    ASSERT_TRUE(e.SplitCells(w, h, nullptr, 0, img.Planes(), w, 3, 0, 100, 0));
    std::vector<int> full(size_t(w) * h, 0), any(size_t(w) * h, 0);
    for (uint32_t i = 0; i < e.m_nPieces; ++i) {
        const auto placed = PlacedMask(e.m_pPieces[i], w, h);
        for (size_t k = 0; k < placed.size(); ++k) {
            full[k] += placed[k] == 255;
            any[k] += placed[k] != 0;
        }
    }
    std::vector<uint8_t> bits(size_t((4 * w + 7) / 8) * 4 * h);
    e.m_Drawing.bitMode = 1;
    e.m_bSmooth = 0;
    ASSERT_TRUE(e.DrawSplitting(4 * w, 4 * h, bits.data(), uint32_t((4 * w + 7) / 8), 0, 100));
    e.m_bSmooth = 1;
    e.m_Drawing.bitMode = 0;
    int covered = 0;
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            int knifeBits = 0;
            for (int sy = 0; sy < 4; ++sy)
                for (int sx = 0; sx < 4; ++sx) {
                    const int32_t bx = 4 * x + sx, by = 4 * y + sy;
                    knifeBits += (bits[size_t(by) * ((4 * w + 7) / 8) + bx / 8] >> (7 - bx % 8)) & 1;
                }
            const size_t k = size_t(y) * w + x;
            EXPECT_LE(full[k], 1) << x << "," << y;
            if (knifeBits == 0) {
                EXPECT_EQ(any[k], 1) << x << "," << y;
            }
            if (knifeBits < 16) {
                EXPECT_GE(any[k], 1) << x << "," << y;
                ++covered;
            }
        }
    EXPECT_GT(covered, w * h / 2);
}

TEST(EngineSplit, KnifeOffJoinsTheRegionsOnBothSides)
{
    Knife k = DefaultKnife();
    CutMap m = EvenMap(3, 1, k);
    m.razor = 1;
    m.antiAlias = 1;
    CTessolo e;
    Load(e, m);
    TestImage img(90, 40, 1);
    ASSERT_TRUE(e.SplitCells(90, 40, nullptr, 0, img.Planes(), 90, 1, 0, 100, 0));
    EXPECT_EQ(e.m_nPieces, 3u);
    m.columnKnives[1].flags = 4;
    Load(e, m);
    ASSERT_TRUE(e.FreeSpliting());
    ASSERT_TRUE(e.SplitCells(90, 40, nullptr, 0, img.Planes(), 90, 1, 0, 100, 0));
    ASSERT_EQ(e.m_nPieces, 2u);
    EXPECT_EQ(e.m_pPieces[1].right, 90);
}

TEST(EngineSplit, SmoothLinesModeGivesTheComplementToEachSide)
{
    Knife straight;
    CutMap m = EvenMap(2, 1, straight);
    m.columnGuides[0] = 0.5f + 0.3f / 40;  // the line falls between pixel columns
    m.razor = 0;
    m.antiAlias = 1;
    m.columnKnives[0].thickness = 1;
    CTessolo e;
    Load(e, m);
    const int32_t w = 40, h = 10;
    TestImage img(w, h, 1);
    ASSERT_TRUE(e.SplitCells(w, h, nullptr, 0, img.Planes(), w, 1, 0, 100, 0));
    ASSERT_EQ(e.m_nPieces, 3u);
    const auto lines = PlacedMask(e.m_pPieces[0], w, h);
    const auto left = PlacedMask(e.m_pPieces[1], w, h);
    const auto right = PlacedMask(e.m_pPieces[2], w, h);
    int partial = 0;
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            const size_t k = size_t(y) * w + x;
            const uint8_t v = lines[k];
            if (v > 0 && v < 255) {
                ++partial;
                // Each region beside it takes 255 - v; a region that does not
                // touch it takes nothing.
                const bool touchesLeft = x > 0 && left[k - 1] == 255;
                const bool touchesRight = x + 1 < w && right[k + 1] == 255;
                EXPECT_EQ(left[k], touchesLeft ? 255 - v : 0);
                EXPECT_EQ(right[k], touchesRight ? 255 - v : 0);
            } else if (v == 0) {
                EXPECT_EQ(left[k] == 255, x < w / 2) << x;
                EXPECT_EQ(right[k] == 255, x >= w / 2) << x;
            }
        }
    EXPECT_GT(partial, 0);
}
