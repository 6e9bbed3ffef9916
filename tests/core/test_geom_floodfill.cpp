#include "core/2DMath.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <deque>
#include <random>
#include <string>
#include <vector>

namespace {

// A byte raster the way the cutting engine hands it to the fill: nonzero is
// a boundary, everything outside is refused, filled positions are refused.
struct Raster {
    int w = 0;
    int h = 0;
    std::vector<uint8_t> wall;
    std::vector<uint8_t> filled;
    std::vector<std::pair<qntPOS, uint32_t>> spans;
    long tests = 0;

    Raster(int width, int height) : w(width), h(height), wall(size_t(width) * height), filled(wall.size()) {}

    static Raster FromRows(const std::vector<std::string>& rows)
    {
        Raster r(static_cast<int>(rows[0].size()), static_cast<int>(rows.size()));
        for (int y = 0; y < r.h; ++y)
            for (int x = 0; x < r.w; ++x)
                r.wall[size_t(y) * r.w + x] = rows[y][x] == '#';
        return r;
    }

    bool Free(int x, int y) const
    {
        return x >= 0 && y >= 0 && x < w && y < h && !wall[size_t(y) * w + x] && !filled[size_t(y) * w + x];
    }

    static unsigned char Test(qntPOS p, void* user)
    {
        auto* r = static_cast<Raster*>(user);
        ++r->tests;
        return r->Free(p.x, p.y) ? 0 : 1;
    }

    static void Fill(qntPOS p, uint32_t n, void* user)
    {
        auto* r = static_cast<Raster*>(user);
        r->spans.push_back({p, n});
        for (uint32_t i = 0; i < n; ++i) {
            // Every span handed out must be fillable and not yet filled.
            EXPECT_TRUE(r->Free(p.x + int(i), p.y)) << p.x + int(i) << "," << p.y;
            r->filled[size_t(p.y) * r->w + p.x + i] = 1;
        }
    }

    void Run(qntPOS seed)
    {
        CQNF_2DMath g;
        g.fnTest = Test;
        g.fnFillLine = Fill;
        g.FillBounds(this, seed);
    }

    // Breadth-first reference: the four-connected region of the seed.
    std::vector<uint8_t> Reference(qntPOS seed) const
    {
        std::vector<uint8_t> seen(wall.size());
        auto open = [&](int x, int y) {
            return x >= 0 && y >= 0 && x < w && y < h && !wall[size_t(y) * w + x] && !seen[size_t(y) * w + x];
        };
        if (!open(seed.x, seed.y))
            return seen;
        std::deque<qntPOS> q{seed};
        seen[size_t(seed.y) * w + seed.x] = 1;
        while (!q.empty()) {
            const qntPOS p = q.front();
            q.pop_front();
            const qntPOS next[4] = {{p.x + 1, p.y}, {p.x - 1, p.y}, {p.x, p.y + 1}, {p.x, p.y - 1}};
            for (const auto& n : next)
                if (open(n.x, n.y)) {
                    seen[size_t(n.y) * w + n.x] = 1;
                    q.push_back(n);
                }
        }
        return seen;
    }
};

}  // namespace

TEST(GeomFloodFill, EqualsBreadthFirstReferenceOnRandomMasks)
{
    std::mt19937 rng(12345);
    for (int trial = 0; trial < 1000; ++trial) {
        const int w = 1 + int(rng() % 40);
        const int h = 1 + int(rng() % 40);
        const double density = (rng() % 70) / 100.0;
        Raster r(w, h);
        std::bernoulli_distribution wall(density);
        for (auto& b : r.wall)
            b = wall(rng);
        const qntPOS seed{int(rng() % w), int(rng() % h)};
        const auto want = r.Reference(seed);
        r.Run(seed);
        ASSERT_EQ(r.filled, want) << "trial " << trial << " " << w << "x" << h;
    }
}

TEST(GeomFloodFill, RefusedSeedAndMissingCallbacksDoNothing)
{
    Raster r = Raster::FromRows({"...", ".#.", "..."});
    r.Run({1, 1});
    EXPECT_TRUE(r.spans.empty());
    EXPECT_EQ(r.tests, 1);
    r.Run({5, 0});
    EXPECT_TRUE(r.spans.empty());

    CQNF_2DMath g;
    g.fnTest = Raster::Test;
    g.FillBounds(&r, {0, 0});
    g.fnTest = nullptr;
    g.fnFillLine = Raster::Fill;
    g.FillBounds(&r, {0, 0});
    EXPECT_TRUE(r.spans.empty());
    EXPECT_EQ(r.tests, 2);
}

TEST(GeomFloodFill, UShapeColumnAndBorder)
{
    Raster u = Raster::FromRows({
        ".##.",
        ".##.",
        ".##.",
        "....",
    });
    u.Run({0, 0});
    int filled = 0;
    for (auto f : u.filled)
        filled += f;
    EXPECT_EQ(filled, 10);
    EXPECT_TRUE(u.filled[3]);  // the far arm, seeded from the bottom span

    // One position wide: one span per row, each of length 1.
    Raster col = Raster::FromRows({"#.#", "#.#", "#.#", "#.#", "#.#"});
    col.Run({1, 2});
    ASSERT_EQ(col.spans.size(), 5u);
    for (const auto& s : col.spans) {
        EXPECT_EQ(s.first.x, 1);
        EXPECT_EQ(s.second, 1u);
    }

    // A region touching every border is filled up to the border.
    Raster open(7, 5);
    open.Run({3, 2});
    EXPECT_EQ(open.spans.size(), 5u);
    for (const auto& s : open.spans) {
        EXPECT_EQ(s.first.x, 0);
        EXPECT_EQ(s.second, 7u);
    }
}

TEST(GeomFloodFill, CombNeedingAGrowingSeedStack)
{
    // A bar on top and 1500 teeth below it: the first span seeds every tooth
    // at once, three times the stack's first allotment.
    const int teeth = 1500;
    Raster comb(2 * teeth, 12);
    for (int y = 1; y < 12; ++y)
        for (int x = 1; x < 2 * teeth; x += 2)
            comb.wall[size_t(y) * comb.w + x] = 1;
    comb.Run({0, 0});
    const auto want = comb.Reference({0, 0});
    // Reference() ignores the filled flags, so compare against the walls.
    EXPECT_EQ(comb.filled, want);
    EXPECT_EQ(comb.spans.size(), 1u + size_t(teeth) * 11);
}
