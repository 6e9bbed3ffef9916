// The pieces' arena: blocks that never overlap, zeroed bytes told apart from
// reused ones, memory given back, and a cut in an engine that cut before
// starting from clean planes.
#include "engine/PieceArena.h"
#include "engine/Tessolo.h"
#include "engine_test_util.h"

#include <gtest/gtest.h>

#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

using namespace engine_test;

namespace {

// Pages of memory lying wholly inside the pieces' own alpha planes that are
// in memory (-1 where that cannot be told).
long ResidentAlphaPages(const CTessolo& e)
{
#if defined(__linux__)
    const uintptr_t page = uintptr_t(sysconf(_SC_PAGESIZE));
    long resident = 0;
    for (uint32_t i = 0; i < e.m_nPieces; ++i) {
        const uintptr_t from = reinterpret_cast<uintptr_t>(e.m_pPieces[i].alpha->GetPtr());
        const uintptr_t to = from + uintptr_t(e.m_pPieces[i].Width()) * uintptr_t(e.m_pPieces[i].Height());
        for (uintptr_t p = (from + page - 1) / page * page; p + page <= to; p += page) {
            unsigned char in = 0;
            if (mincore(reinterpret_cast<void*>(p), size_t(page), &in) != 0)
                return -1;
            resident += in & 1;
        }
    }
    return resident;
#else
    (void)e;
    return -1;
#endif
}

}  // namespace

TEST(EnginePieceArena, BlocksAreAlignedApartAndToldWhetherTheyReadZero)
{
    PieceArena arena;
    struct Block {
        uint8_t* p;
        uint64_t n;
    };
    // Sizes that fill a chunk unevenly, one over a whole chunk on its own.
    const uint64_t sizes[] = {1, 63, 64, 65, 3000, 700000, 5u << 20, 100u << 20, 17, 2u << 20};
    for (int round = 0; round < 2; ++round) {
        std::vector<Block> blocks;
        for (uint64_t n : sizes) {
            bool zeroed = false;
            uint8_t* p = arena.Take(n, zeroed);
            ASSERT_NE(p, nullptr) << n;
            EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 64, 0u) << n;
            if (zeroed) {
                for (uint64_t i = 0; i < n; i += 4093)
                    ASSERT_EQ(p[i], 0) << n << " at " << i;
            }
            // The first round's bytes are fresh; the second reuses them.
            EXPECT_EQ(zeroed, round == 0) << n;
            std::memset(p, 0xA5, size_t(n));
            blocks.push_back({p, n});
        }
        for (size_t i = 0; i < blocks.size(); ++i)
            for (size_t j = i + 1; j < blocks.size(); ++j)
                EXPECT_TRUE(blocks[i].p + blocks[i].n <= blocks[j].p || blocks[j].p + blocks[j].n <= blocks[i].p)
                    << i << " and " << j;
        arena.Reset();
    }
    bool zeroed = false;
    EXPECT_EQ(arena.Take(0, zeroed), nullptr);
}

TEST(EnginePieceArena, TrimGivesBackWhatTheCutDidNotUseAndItReadsZeroAgain)
{
    PieceArena arena(size_t(64) << 20);
    bool zeroed = false;
    for (int i = 0; i < 3; ++i)
        std::memset(arena.Take(40u << 20, zeroed), 1, 40u << 20);
    const size_t before = arena.Mapped();
    arena.Reset();
    uint8_t* first = arena.Take(100000, zeroed);
    ASSERT_NE(first, nullptr);
    EXPECT_FALSE(zeroed);
    arena.Trim();
    EXPECT_LT(arena.Mapped(), before);
    // The pages past the block in use were given back: they read 0 where
    // the first cut wrote 1s (the rest of the block's last page need not).
    uint8_t* next = arena.Take(1u << 20, zeroed);
    ASSERT_NE(next, nullptr);
    EXPECT_GE(next, first + 100000);
    EXPECT_FALSE(zeroed);
    EXPECT_EQ(std::count(next + 4096, next + (1u << 20), 0), (1 << 20) - 4096);
    uint8_t* beyond = arena.Take(1u << 20, zeroed);
    EXPECT_TRUE(zeroed);
    EXPECT_EQ(std::count(beyond, beyond + (1u << 20), 0), 1 << 20);
    arena.Release();
    EXPECT_EQ(arena.Mapped(), 0u);
}

TEST(EnginePieceArena, LentMemoryIsWhereTheNextBlocksGoAndTheSameAgainAfterAReset)
{
    struct Case {
        uint64_t offset, bytes;
    };
    // Small, behind another loan, and larger than a chunk.
    for (Case c : {Case{0, 4096}, Case{1u << 20, 8u << 20}, Case{0, 70u << 20}}) {
        PieceArena arena;
        bool zeroed = true;
        uint8_t* lent = arena.Lend(c.offset, c.bytes);
        ASSERT_NE(lent, nullptr);
        std::memset(lent, 1, size_t(c.bytes));
        uint8_t* block = arena.Take(4096, zeroed);
        ASSERT_NE(block, nullptr);
        EXPECT_EQ(block + c.offset, lent) << c.bytes;
        EXPECT_FALSE(zeroed) << "lent memory was written: it does not read 0";
        const size_t mapped = arena.Mapped();
        arena.Trim();
        arena.Reset();
        EXPECT_EQ(arena.Lend(c.offset, c.bytes), lent) << "a second cut borrows the same pages";
        EXPECT_EQ(arena.Mapped(), mapped);
    }
}

TEST(EnginePieceArena, ACutAfterARenderedCutStartsFromClearPlanes)
{
    // The second cut's planes lie where the first cut rendered its pieces;
    // a cut that does not render hands them out cleared, and rendering them
    // then gives the bytes of a fresh engine. The first cut renders its
    // pieces through their own alpha planes (no bevel read in place); those
    // of the second cut, not written since, hold no memory.
    for (bool smooth : {true, false}) {
        TestImage img(400, 300, 3, 5);
        CTessolo used, fresh;
        for (CTessolo* e : {&used, &fresh})
            Load(*e, 5, 4, true, smooth);
        used.m_nReadInPlaceWidth = UINT32_MAX;
        ASSERT_TRUE(used.SplitCells(400, 300, nullptr, 0, img.Planes(), 400, 3, 0, 100, 1));
        ASSERT_GT(ResidentAlphaPages(used), 0);
        ASSERT_TRUE(used.FreeSpliting());
        used.m_nReadInPlaceWidth = 0;
        ASSERT_TRUE(used.SplitCells(400, 300, nullptr, 0, img.Planes(), 400, 3, 0, 100, 0));
        ASSERT_TRUE(fresh.SplitCells(400, 300, nullptr, 0, img.Planes(), 400, 3, 0, 100, 0));
        ASSERT_EQ(used.m_nPieces, fresh.m_nPieces);
        EXPECT_LE(ResidentAlphaPages(used), 0);
        for (uint32_t i = 0; i < used.m_nPieces; ++i) {
            const CTessolo::SPLITEDCELL& p = used.m_pPieces[i];
            ASSERT_TRUE(PlanesReadZero(p, used.m_nWorkPlaneCount)) << i;
            ASSERT_TRUE(std::equal(p.mask->GetPtr(), p.mask->GetPtr() + size_t(p.Width()) * p.Height(),
                                   fresh.m_pPieces[i].mask->GetPtr()))
                << i;
        }
        std::vector<uint32_t> all(used.m_nPieces);
        for (uint32_t i = 0; i < used.m_nPieces; ++i)
            all[i] = i;
        ASSERT_TRUE(used.RenderPieces(all.data(), used.m_nPieces));
        ASSERT_TRUE(fresh.RenderPieces(all.data(), fresh.m_nPieces));
        for (uint32_t i = 0; i < used.m_nPieces; ++i)
            EXPECT_EQ(RenderedBytes(used, used.m_pPieces[i]), RenderedBytes(fresh, fresh.m_pPieces[i]))
                << smooth << " piece " << i;
    }
}
