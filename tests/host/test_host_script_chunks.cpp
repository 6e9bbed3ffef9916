// The text form of the scripting descriptor's settings: keys, index letters,
// the mode value, hexadecimal and the placing of chunks.
#include "host/ScriptChunks.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

using namespace qnscript;

namespace {

std::string FourCC(uint32_t v)
{
    return std::string{static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
                       static_cast<char>(v)};
}

TEST(ScriptChunks, KeysRunFromQne0AndQnaaToQnhz)
{
    EXPECT_EQ(FourCC(kModeKey), "qneS");
    EXPECT_EQ(FourCC(LargeKey(0)), "qne0");
    EXPECT_EQ(FourCC(LargeKey(9)), "qne9");
    EXPECT_EQ(FourCC(SmallKey(0)), "qnaa");
    EXPECT_EQ(FourCC(SmallKey(25)), "qnaz");
    EXPECT_EQ(FourCC(SmallKey(26)), "qnba");
    EXPECT_EQ(FourCC(SmallKey(kSmallKeys - 1)), "qnhz");
}

TEST(ScriptChunks, IndexLettersAreBase26AndRefuseOtherCharacters)
{
    char l[3];
    ASSERT_TRUE(IndexLetters(0, l));
    EXPECT_EQ(std::string(l, 3), "AAA");
    ASSERT_TRUE(IndexLetters(1, l));
    EXPECT_EQ(std::string(l, 3), "AAB");
    ASSERT_TRUE(IndexLetters(26, l));
    EXPECT_EQ(std::string(l, 3), "ABA");
    ASSERT_TRUE(IndexLetters(17575, l));
    EXPECT_EQ(std::string(l, 3), "ZZZ");
    EXPECT_FALSE(IndexLetters(17576, l));
    for (uint32_t i : {0u, 7u, 199u, 676u, 17575u}) {
        ASSERT_TRUE(IndexLetters(i, l));
        EXPECT_EQ(IndexFromLetters(l), static_cast<int32_t>(i));
    }
    EXPECT_EQ(IndexFromLetters("AA@"), -1);
    EXPECT_EQ(IndexFromLetters("aab"), -1);
}

TEST(ScriptChunks, ModeValueGivesTheCutAndRefusesTheEdges)
{
    ChunkPlan p;
    ASSERT_TRUE(PlanFromModeValue(kLargeBase + 65000, p));
    EXPECT_TRUE(p.large);
    EXPECT_EQ(p.chunks, 1u);
    ASSERT_TRUE(PlanFromModeValue(kLargeBase + 65001, p));
    EXPECT_EQ(p.chunks, 2u);
    ASSERT_TRUE(PlanFromModeValue(kLargeBase + 650000, p));
    EXPECT_EQ(p.chunks, 10u);
    ASSERT_TRUE(PlanFromModeValue(kSmallBase + 1, p));
    EXPECT_FALSE(p.large);
    EXPECT_EQ(p.chunks, 1u);
    ASSERT_TRUE(PlanFromModeValue(kSmallBase + 200000, p));
    EXPECT_EQ(p.chunks, 200u);
    EXPECT_FALSE(PlanFromModeValue(kSmallBase, p));
    EXPECT_FALSE(PlanFromModeValue(kSmallBase + 200001, p));
    EXPECT_FALSE(PlanFromModeValue(kLargeBase + 650001, p));
    EXPECT_FALSE(PlanFromModeValue(-1, p));
    EXPECT_FALSE(PlanFromModeValue(0x7FFFFFFF, p));
}

TEST(ScriptChunks, HexIsUpperCaseAndDecodingAcceptsNothingElse)
{
    const uint8_t bytes[] = {0x00, 0x9A, 0xFF, 0x3c};
    CQNF_Mem text;
    ASSERT_TRUE(EncodeHex(bytes, 4, text));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(text.GetPtr()), text.GetSize()), "009AFF3C");
    CQNF_Mem back;
    ASSERT_TRUE(DecodeHex("009AFF3C", 8, back));
    ASSERT_EQ(back.GetSize(), 4u);
    EXPECT_EQ(std::memcmp(back.GetPtr(), bytes, 4), 0);
    EXPECT_FALSE(DecodeHex("009aff3c", 8, back));
    EXPECT_FALSE(DecodeHex("009AF", 5, back));
    EXPECT_FALSE(DecodeHex("00\0A", 4, back));
    EXPECT_FALSE(DecodeHex("0G", 2, back));
}

TEST(ScriptChunks, PlaceChunkWritesOnlyInsideItsSlot)
{
    std::string buffer(20, '.');
    auto place = [&](const std::string& chunk, uint32_t chunkSize, uint32_t maxChunks) {
        return PlaceChunk(chunk.data(), chunk.size(), buffer.data(), static_cast<uint32_t>(buffer.size()), chunkSize,
                          maxChunks);
    };
    EXPECT_TRUE(place(std::string("AAB12345", 8) + '\0', 10, 2));
    EXPECT_EQ(buffer, "..........12345.....");
    // 4 bytes or fewer, letters out of range, an index past the maximum.
    EXPECT_FALSE(place(std::string("AAA\0", 4), 10, 2));
    EXPECT_FALSE(place(std::string("AA?12\0", 6), 10, 2));
    EXPECT_FALSE(place(std::string("AAC12\0", 6), 10, 2));
    // No terminator inside the handle, or more characters than a chunk holds.
    EXPECT_FALSE(place("AAA12345", 10, 2));
    EXPECT_FALSE(place(std::string("AAA01234567890\0", 15), 10, 2));
    // A piece ending past the text.
    EXPECT_FALSE(place(std::string("AAB123456789012\0", 16), 15, 2));
    EXPECT_EQ(buffer, "..........12345.....");
}

}  // namespace
