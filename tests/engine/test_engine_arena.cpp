// The pieces' arena: blocks apart and aligned, zeroed when asked even where
// an earlier cut wrote, kept across Reset, dropped by Trim when unused.
#include "engine/PieceArena.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

TEST(EngineArena, BlocksAreApartAlignedAndZeroedWhenAsked)
{
    // Small blocks, one larger than a whole mapping, odd sizes; each round
    // writes every byte, then the next round (after Reset) asks for zeros
    // on alternate blocks.
    const std::vector<uint64_t> sizes = {1, 63, 64, 65, 4096, 100000, (80ull << 20) + 3, 7, 1 << 20};
    PieceArena arena;
    uint64_t mappedAfterFirst = 0;
    for (int round = 0; round < 3; ++round) {
        std::vector<PieceBlock*> blocks;
        for (size_t i = 0; i < sizes.size(); ++i) {
            const bool zero = (i + round) % 2 == 0;
            PieceBlock* b = arena.Take(sizes[i], zero);
            ASSERT_NE(b, nullptr);
            ASSERT_EQ(b->GetSize(), sizes[i]);
            EXPECT_EQ(reinterpret_cast<uintptr_t>(b->GetPtr()) % 64, 0u);
            if (zero) {
                const uint8_t* p = b->GetPtr();
                EXPECT_TRUE(std::all_of(p, p + sizes[i], [](uint8_t v) { return v == 0; }))
                    << "round " << round << " block " << i;
            }
            std::memset(b->GetPtr(), int(0xA0 + i), sizes[i]);
            blocks.push_back(b);
        }
        // No block overlaps another: each still holds its own byte.
        for (size_t i = 0; i < blocks.size(); ++i) {
            const uint8_t* p = blocks[i]->GetPtr();
            EXPECT_TRUE(std::all_of(p, p + sizes[i], [&](uint8_t v) { return v == uint8_t(0xA0 + i); })) << i;
        }
        if (round == 0)
            mappedAfterFirst = arena.Mapped();
        else
            EXPECT_EQ(arena.Mapped(), mappedAfterFirst) << "a cut after the first takes the memory kept";
        arena.Reset();
    }
    // Nothing taken since the Reset: Trim drops every mapping.
    arena.Trim();
    EXPECT_EQ(arena.Mapped(), 0u);
    EXPECT_EQ(arena.Take(uint64_t(1) << 32, false), nullptr);  // beyond a block's 32-bit size
    PieceBlock* again = arena.Take(10, true);
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(again->GetPtr()[9], 0);
}
