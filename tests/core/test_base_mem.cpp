#include "core/Mem.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

std::vector<uint8_t> Bytes(const CQNF_Mem& m) { return {m.GetPtr(), m.GetPtr() + m.GetSize()}; }

CQNF_Mem Filled(std::initializer_list<uint8_t> v)
{
    CQNF_Mem m(v.size());
    std::copy(v.begin(), v.end(), m.GetPtr());
    return m;
}

}  // namespace

TEST(BaseMem, ResizeShrinksKeepingTheHeadAndGrowsWithZeros)
{
    CQNF_Mem m = Filled({1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
    ASSERT_TRUE(m.Resize(4));
    EXPECT_EQ(Bytes(m), (std::vector<uint8_t>{1, 2, 3, 4}));
    ASSERT_TRUE(m.Resize(10));
    EXPECT_EQ(Bytes(m), (std::vector<uint8_t>{1, 2, 3, 4, 0, 0, 0, 0, 0, 0}));

    const unsigned char* before = m.GetPtr();
    EXPECT_TRUE(m.Resize(10));  // same size: nothing moves
    EXPECT_EQ(m.GetPtr(), before);
    EXPECT_TRUE(m.Resize(0));
    EXPECT_EQ(m.GetSize(), 0u);
    EXPECT_EQ(m.GetPtr(), nullptr);
    EXPECT_FALSE(m.IsError());
}

TEST(BaseMem, RequestsBeyond32BitsAreRefusedNotTruncated)
{
    CQNF_Mem m;
    // 2^32 + 16 would truncate to a 16-byte block.
    EXPECT_EQ(m.alloc((uint64_t(1) << 32) + 16), nullptr);
    EXPECT_EQ(m.GetError(), qnerr::NoMemory);
    EXPECT_EQ(m.GetSize(), 0u);
    EXPECT_EQ(m.GetPtr(), nullptr);

    m.ResetError();
    EXPECT_EQ(m.ZallocDWord(0x40000001u), nullptr);  // 4n wraps to 4 in 32 bits
    EXPECT_EQ(m.GetError(), qnerr::NoMemory);
    EXPECT_EQ(m.allocWord(UINT64_MAX / 2 + 1), nullptr);  // 2n wraps even in 64 bits
    EXPECT_EQ(m.GetError(), qnerr::NoMemory);
    EXPECT_EQ(qnMulSize({65536, 65536, 4}), uint64_t(1) << 34);
    EXPECT_EQ(qnMulSize({uint64_t(1) << 40, uint64_t(1) << 40}), UINT64_MAX);

    // A failed resize keeps the old block and its contents.
    CQNF_Mem k = Filled({9, 8, 7});
    EXPECT_FALSE(k.Resize(uint64_t(1) << 33));
    EXPECT_EQ(k.GetError(), qnerr::NoMemory);
    EXPECT_EQ(Bytes(k), (std::vector<uint8_t>{9, 8, 7}));
}

TEST(BaseMem, AllocReplacesAndZallocZeroes)
{
    CQNF_Mem m;
    ASSERT_NE(m.alloc(8), nullptr);
    EXPECT_EQ(m.GetSize(), 8u);
    ASSERT_NE(m.ZallocWord(3), nullptr);
    EXPECT_EQ(Bytes(m), std::vector<uint8_t>(6, 0));
    uint32_t size = 0;
    EXPECT_EQ(m.GetPtr(&size), m.GetPtr());
    EXPECT_EQ(size, 6u);
    EXPECT_EQ(m.alloc(0), nullptr);  // nothing asked, nothing failed
    EXPECT_EQ(m.GetSize(), 0u);
    EXPECT_FALSE(m.IsError());
    m.SetError(5);
    m.free();
    EXPECT_EQ(m.GetError(), 5);  // free leaves the number alone
}

TEST(BaseMem, FillsOfEveryWidthStayInsideTheBlock)
{
    CQNF_Mem m = Filled({1, 1, 1, 1, 1});
    ASSERT_TRUE(m.Set(uint16_t{0xFFFF}));
    EXPECT_EQ(Bytes(m), (std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0xFF, 1}));

    CQNF_Mem w = Filled({0, 0, 0, 0, 0, 0, 0});
    ASSERT_TRUE(w.Set(uint32_t{0xA1B2C3D4}));
    uint32_t first = 0;
    std::memcpy(&first, w.GetPtr(), 4);
    EXPECT_EQ(first, 0xA1B2C3D4u);
    EXPECT_EQ(Bytes(w)[4], 0);

    CQNF_Mem r = Filled({0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    ASSERT_TRUE(r.Set(7, 8, 100));
    EXPECT_EQ(Bytes(r), (std::vector<uint8_t>{0, 0, 0, 0, 0, 0, 0, 0, 7, 7}));
    EXPECT_FALSE(r.Set(7, 10, 1));
    EXPECT_EQ(r.GetError(), qnerr::Empty);
    EXPECT_TRUE(r.Zero());
    EXPECT_FALSE(r.IsError());  // a success resets

    CQNF_Mem e;
    EXPECT_FALSE(e.Set(uint8_t{1}));
    EXPECT_EQ(e.GetError(), qnerr::Empty);
    EXPECT_FALSE(e.Set(uint32_t{1}));
    EXPECT_FALSE(e.Zero());
}

TEST(BaseMem, CopyIsClampedToBothBlocksAndToMax)
{
    CQNF_Mem src(100);
    for (uint32_t i = 0; i < 100; ++i)
        src.GetPtr()[i] = uint8_t(i);
    CQNF_Mem dst(40);
    EXPECT_EQ(dst.Copy(&src, 0, 0), 40u);
    EXPECT_EQ(dst.GetPtr()[39], 39);
    dst.Zero();
    EXPECT_EQ(dst.Copy(&src, 0, 16), 16u);
    EXPECT_EQ(dst.GetPtr()[15], 15);
    EXPECT_EQ(dst.GetPtr()[16], 0);

    EXPECT_EQ(dst.Copy(&src, 90, 0), 10u);  // the source runs out first
    EXPECT_EQ(dst.GetPtr()[0], 90);
    EXPECT_EQ(dst.Copy(30, &src, 0, 0), 10u);  // the destination runs out first
    EXPECT_EQ(dst.GetPtr()[30], 0);
    EXPECT_EQ(dst.GetPtr()[39], 9);

    const char raw[] = "abcdef";
    EXPECT_EQ(dst.Copy(36, raw, 6), 4u);
    EXPECT_EQ(std::memcmp(dst.GetPtr() + 36, "abcd", 4), 0);
    EXPECT_EQ(dst.Copy(40, raw, 6), 0u);  // at the end: nothing to do, no error
    EXPECT_FALSE(dst.IsError());
}

TEST(BaseMem, CopyOffsetsBeyondABlockFailInsteadOfWrapping)
{
    CQNF_Mem src(10), dst(10);
    src.Zero();
    EXPECT_EQ(dst.Copy(&src, 11, 0), 0u);
    EXPECT_EQ(dst.GetError(), qnerr::Empty);
    dst.ResetError();
    EXPECT_EQ(dst.Copy(11, &src, 0, 0), 0u);
    EXPECT_EQ(dst.GetError(), qnerr::Empty);
    dst.ResetError();
    EXPECT_EQ(dst.Copy(0xFFFFFFFF, "x", 1), 0u);
    EXPECT_EQ(dst.GetError(), qnerr::Empty);

    CQNF_Mem empty;
    EXPECT_EQ(empty.Copy(&src, 0, 0), 0u);
    EXPECT_EQ(empty.GetError(), qnerr::Empty);
    EXPECT_EQ(dst.Copy(nullptr, 0, 0), 0u);
    EXPECT_EQ(dst.GetError(), qnerr::BadArgument);
}

TEST(BaseMem, CopyWithinOneBlockMovesLikeMemmove)
{
    CQNF_Mem m = Filled({1, 2, 3, 4, 5, 6});
    EXPECT_EQ(m.Copy(2, &m, 0, 4), 4u);
    EXPECT_EQ(Bytes(m), (std::vector<uint8_t>{1, 2, 1, 2, 3, 4}));
}

TEST(BaseMem, CopiesAreDeepAndIndependent)
{
    CQNF_Mem a = Filled({1, 2, 3});
    CQNF_Mem b(&a);
    CQNF_Mem c = a;
    CQNF_Mem* d = a.Clone();
    ASSERT_NE(d, nullptr);
    a.GetPtr()[0] = 42;
    for (const CQNF_Mem* x : std::initializer_list<const CQNF_Mem*>{&b, &c, d})
        EXPECT_EQ(Bytes(*x), (std::vector<uint8_t>{1, 2, 3}));
    delete d;

    const CQNF_Mem& self = c;
    c = self;  // self-assignment keeps the bytes
    EXPECT_EQ(Bytes(c), (std::vector<uint8_t>{1, 2, 3}));
    CQNF_Mem empty;
    c = empty;
    EXPECT_EQ(c.GetSize(), 0u);
    EXPECT_FALSE(c.IsError());
    CQNF_Mem moved(std::move(b));
    EXPECT_EQ(Bytes(moved), (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(b.GetSize(), 0u);  // NOLINT(bugprone-use-after-move): a moved-from block is empty
    CQNF_Mem nothing(static_cast<const CQNF_Mem*>(nullptr));
    EXPECT_EQ(nothing.GetSize(), 0u);
}

TEST(BaseMem, ABorrowedBlockIsAViewUntilItIsCopiedResizedOrReplaced)
{
    // Under ASan a borrowed block that were released would be a bad free,
    // and a copy that kept the borrowed bytes would change with them.
    std::vector<uint8_t> owner{1, 2, 3, 4};
    CQNF_Mem view;
    view.Borrow(owner.data(), 4);
    EXPECT_TRUE(view.IsBorrowed());
    EXPECT_EQ(view.GetPtr(), owner.data());

    CQNF_Mem copy(view);
    EXPECT_FALSE(copy.IsBorrowed());
    owner[0] = 9;
    EXPECT_EQ(Bytes(copy), (std::vector<uint8_t>{1, 2, 3, 4}));

    CQNF_Mem moved(std::move(view));
    EXPECT_TRUE(moved.IsBorrowed());
    EXPECT_FALSE(view.IsBorrowed());
    EXPECT_EQ(moved.GetPtr(), owner.data());

    ASSERT_TRUE(moved.Resize(6));
    EXPECT_FALSE(moved.IsBorrowed());
    EXPECT_NE(moved.GetPtr(), owner.data());
    EXPECT_EQ(Bytes(moved), (std::vector<uint8_t>{9, 2, 3, 4, 0, 0}));

    CQNF_Mem replaced;
    replaced.Borrow(owner.data(), 4);
    ASSERT_NE(replaced.alloc(3), nullptr);
    EXPECT_FALSE(replaced.IsBorrowed());
    replaced.Borrow(owner.data() + 1, 2);
    replaced.free();
    EXPECT_TRUE(replaced.IsEmpty());
    EXPECT_EQ(owner, (std::vector<uint8_t>{9, 2, 3, 4}));
}
