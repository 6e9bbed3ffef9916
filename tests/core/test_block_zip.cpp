#include "core/ZipBlock.h"

#include <gtest/gtest.h>

#include <zlib.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Pack(const Bytes& raw, unsigned char mode = 1)
{
    CQNF_ZipBlock zip;
    zip.SetMode(mode);
    zip.SetSourceBlock(raw.data(), raw.size());
    EXPECT_TRUE(zip.Process()) << zip.GetError();
    const CQNF_Mem* out = zip.GetDestBlock();
    return Bytes(out->GetPtr(), out->GetPtr() + out->GetSize());
}

// Unpacks with a fresh stage; returns the error number (0 on success).
unsigned short Unpack(const Bytes& block, Bytes& raw)
{
    CQNF_ZipBlock zip;
    CQNF_Mem out;
    zip.SetMode(0);
    zip.SetSourceBlock(block.data(), block.size());
    zip.SetDestBlock(&out);
    if (!zip.Process())
        return zip.GetError();
    raw.assign(out.GetPtr(), out.GetPtr() + out.GetSize());
    return 0;
}

void Put32(Bytes& b, size_t at, uint32_t v)
{
    b[at] = uint8_t(v >> 24);
    b[at + 1] = uint8_t(v >> 16);
    b[at + 2] = uint8_t(v >> 8);
    b[at + 3] = uint8_t(v);
}

uint32_t Get32(const Bytes& b, size_t at)
{
    return uint32_t(b[at]) << 24 | uint32_t(b[at + 1]) << 16 | uint32_t(b[at + 2]) << 8 | b[at + 3];
}

Bytes Random(size_t n, unsigned seed)
{
    std::mt19937 rng(seed);
    Bytes b(n);
    for (auto& c : b)
        c = uint8_t(rng());
    return b;
}

}  // namespace

TEST(BlockZip, RoundTripsAtEveryLevelWithTheHeaderLayout)
{
    Bytes text(5000);
    for (size_t i = 0; i < text.size(); ++i)
        text[i] = uint8_t("jigsaw pieces "[i % 14]);
    for (const Bytes& raw : {text, Random(3000, 1), Bytes{42}}) {
        for (unsigned char mode : {1, 2, 3}) {
            const Bytes block = Pack(raw, mode);
            ASSERT_GE(block.size(), 16u);
            EXPECT_EQ(std::string(block.begin(), block.begin() + 8), "QNCV2-01");
            EXPECT_EQ(Get32(block, 8), raw.size());
            EXPECT_EQ(Get32(block, 12) + 16, block.size()) << "trimmed to the stream";
            // The stream is zlib's own: zlib alone inflates it.
            Bytes direct(raw.size());
            uLongf n = direct.size();
            ASSERT_EQ(uncompress(direct.data(), &n, block.data() + 16, Get32(block, 12)), Z_OK);
            EXPECT_EQ(direct, raw);
            Bytes back;
            ASSERT_EQ(Unpack(block, back), 0);
            EXPECT_EQ(back, raw);
        }
    }
    // Incompressible data still fits the room reserved for it.
    EXPECT_LE(Pack(Random(100000, 2)).size(), qnZipCapacity(100000));
}

TEST(BlockZip, RefusesEmptySourcesBadModesAndProgress)
{
    CQNF_ZipBlock zip;
    EXPECT_FALSE(zip.Process());
    EXPECT_EQ(zip.GetError(), 66);
    const uint8_t one = 1;
    zip.SetSourceBlock(&one, 0);
    EXPECT_FALSE(zip.Process());
    EXPECT_EQ(zip.GetError(), 66);
    zip.SetSourceBlock(&one, 1);
    zip.SetMode(4);
    EXPECT_FALSE(zip.Process());
    EXPECT_EQ(zip.GetError(), 66);
    zip.SetMode(1);
    EXPECT_FALSE(zip.Compress(42));  // not a zlib level
    EXPECT_EQ(zip.GetError(), 66);
    CQNF_Progress progress;
    zip.SetProgress(progress);
    EXPECT_FALSE(zip.Process());
    EXPECT_EQ(zip.GetError(), 67);
    zip.SetMode(0);
    EXPECT_FALSE(zip.Process());
    EXPECT_EQ(zip.GetError(), 67);
}

TEST(BlockZip, RefusesWhatIsNotAZipBlock)
{
    const Bytes raw(1000, 'x');
    const Bytes good = Pack(raw);
    Bytes out;
    // 15 bytes, and a wrong magic in any of its eight positions.
    EXPECT_EQ(Unpack(Bytes(good.begin(), good.begin() + 15), out), 64);
    for (size_t i = 0; i < 8; ++i) {
        Bytes bad = good;
        bad[i] ^= 0x20;
        EXPECT_EQ(Unpack(bad, out), 64) << i;
    }
    // A packed size beyond the bytes present, also one that would wrap 32 bits.
    Bytes shortBlock(good.begin(), good.end() - 1);
    EXPECT_EQ(Unpack(shortBlock, out), 64);
    for (uint32_t packed : {0xFFFFFFFFu, 0xFFFFFFF0u, 0u}) {
        Bytes bad = good;
        Put32(bad, 12, packed);
        EXPECT_EQ(Unpack(bad, out), 64) << packed;
    }
    // A corrupt stream.
    Bytes corrupt = good;
    corrupt[17] ^= 0xFF;
    corrupt[good.size() - 1] ^= 0xFF;
    EXPECT_EQ(Unpack(corrupt, out), 64);
}

TEST(BlockZip, IgnoresBytesAfterTheStream)
{
    const Bytes raw(777, 'q');
    Bytes block = Pack(raw);
    block.insert(block.end(), {1, 2, 3, 4, 5});
    Bytes out;
    ASSERT_EQ(Unpack(block, out), 0);
    EXPECT_EQ(out, raw);
}

TEST(BlockZip, TheRawSizeMustBeExact)
{
    const Bytes raw = Random(4000, 3);
    const Bytes good = Pack(raw);
    Bytes out;
    Bytes smaller = good;
    Put32(smaller, 8, 3999);
    EXPECT_EQ(Unpack(smaller, out), 64);
    // A stream that ends early is no success with a tail of zeros.
    Bytes larger = good;
    Put32(larger, 8, 4001);
    EXPECT_EQ(Unpack(larger, out), 64);
    // Nor with stale bytes of a destination reused at the same size.
    CQNF_ZipBlock zip;
    CQNF_Mem dest;
    dest.alloc(4001);
    dest.Set(uint8_t(0xEE));
    zip.SetMode(0);
    zip.SetDestBlock(&dest);
    zip.SetSourceBlock(larger.data(), larger.size());
    EXPECT_FALSE(zip.Process());
    EXPECT_EQ(zip.GetError(), 64);
}

TEST(BlockZip, RefusesRawSizesNoStreamOfThatLengthCanReach)
{
    // A few packed bytes claiming gigabytes: refused before any allocation.
    const Bytes good = Pack(Bytes(100, 0));
    Bytes bomb = good;
    Put32(bomb, 8, 0xFFFFFFF0);
    Bytes out;
    EXPECT_EQ(Unpack(bomb, out), 64);
    // A real stream at the deflate limit still passes: 10 MB of zeros.
    const Bytes zeros(10u << 20, 0);
    const Bytes block = Pack(zeros);
    EXPECT_LT(Get32(block, 12) * kQnZipMaxRatio, uint64_t(zeros.size()) * 2);
    ASSERT_EQ(Unpack(block, out), 0);
    EXPECT_EQ(out.size(), zeros.size());
    // Above the sane limit even when the ratio would allow it.
    Bytes huge = Bytes(16, 0);
    std::memcpy(huge.data(), "QNCV2-01", 8);
    Put32(huge, 8, kQnZipMaxRawSize + 1);
    Put32(huge, 12, 1u << 20);
    huge.resize(16 + (1u << 20));
    EXPECT_EQ(Unpack(huge, out), 64);
}

TEST(BlockZip, DestinationOwnership)
{
    const Bytes raw(300, 'k');
    CQNF_Mem mine;
    {
        CQNF_ZipBlock zip;
        zip.SetSourceBlock(raw.data(), raw.size());
        EXPECT_EQ(zip.SetDestBlock(&mine), &mine);
        ASSERT_TRUE(zip.Process());
    }
    // The caller's block survives the stage with its content.
    ASSERT_GT(mine.GetSize(), 16u);
    EXPECT_EQ(std::memcmp(mine.GetPtr(), "QNCV2-01", 8), 0);

    CQNF_ZipBlock zip;
    zip.Clean();
    EXPECT_EQ(zip.GetDestBlock(), nullptr);
    zip.SetSourceBlock(raw.data(), raw.size());
    EXPECT_TRUE(zip.Process()) << "a stage without destination makes its own";
    EXPECT_NE(zip.GetDestBlock(), nullptr);
    // Handing the stage a caller's block after its own one frees its own
    // (checked by the leak detector) and never the caller's.
    zip.SetDestBlock(&mine);
    zip.SetDestBlock();
    EXPECT_GT(mine.GetSize(), 16u);
}

TEST(BlockZip, StringSourceLeavesOutTheTerminatorAndStagesCanBeReused)
{
    CQNF_ZipBlock zip;
    zip.SetSourceBlock(CQNF_String("hello, pieces"));
    ASSERT_TRUE(zip.Process());
    Bytes block(zip.GetDestBlock()->GetPtr(), zip.GetDestBlock()->GetPtr() + zip.GetDestBlock()->GetSize());
    EXPECT_EQ(Get32(block, 8), 13u);

    // The same stage, now inflating into the same destination.
    zip.SetMode(0);
    zip.SetSourceBlock(block.data(), block.size());
    Bytes copy = block;
    zip.SetSourceBlock(copy.data(), copy.size());
    ASSERT_TRUE(zip.Process());
    EXPECT_EQ(std::string(reinterpret_cast<char*>(zip.GetDestBlock()->GetPtr()), zip.GetDestBlock()->GetSize()),
              "hello, pieces");
}

TEST(BlockBase, CopiesTheSource)
{
    CQNF_BlockProcessor copy;
    const char text[] = "abc";
    EXPECT_FALSE(copy.Process()) << "empty source";
    EXPECT_EQ(copy.GetError(), 0);
    copy.SetSourceBlock(text, 3);
    ASSERT_TRUE(copy.Process());
    EXPECT_EQ(copy.GetDestBlock()->GetSize(), 3u);
    EXPECT_EQ(std::memcmp(copy.GetDestBlock()->GetPtr(), "abc", 3), 0);
    copy.Clean();
    EXPECT_FALSE(copy.Process());
    EXPECT_EQ(copy.GetError(), 0);
}
