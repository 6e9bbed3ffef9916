#include "host/ScriptChunks.h"

#include "core/String.h"

#include <cstring>

namespace qnscript {

uint32_t LargeKey(uint32_t index)
{
    return 0x716E6530u + index;  // 'qne0'
}

uint32_t SmallKey(uint32_t index)
{
    return 0x716E0000u | (static_cast<uint32_t>('a' + index / 26) << 8) | static_cast<uint32_t>('a' + index % 26);
}

bool IndexLetters(uint32_t index, char out[3])
{
    if (index >= kMaxChunkIndex)
        return false;
    out[0] = static_cast<char>('A' + index / 676);
    out[1] = static_cast<char>('A' + index / 26 % 26);
    out[2] = static_cast<char>('A' + index % 26);
    return true;
}

int32_t IndexFromLetters(const char letters[3])
{
    int32_t v = 0;
    for (int i = 0; i < 3; ++i) {
        if (letters[i] < 'A' || letters[i] > 'Z')
            return -1;
        v = v * 26 + (letters[i] - 'A');
    }
    return v;
}

bool PlanFromModeValue(int32_t value, ChunkPlan& plan)
{
    plan = ChunkPlan{};
    if (value > kSmallBase && value <= kLargeBase) {
        plan.large = false;
        plan.length = static_cast<uint32_t>(value - kSmallBase);
        plan.chunkSize = kSmallChunk;
        plan.maxChunks = kSmallMaxChunks;
    } else if (value > kLargeBase) {
        plan.large = true;
        plan.length = static_cast<uint32_t>(value - kLargeBase);
        plan.chunkSize = kLargeChunk;
        plan.maxChunks = kLargeMaxChunks;
    } else {
        return false;
    }
    if (plan.length > kMaxText)
        return false;
    plan.chunks = (plan.length - 1) / plan.chunkSize + 1;
    return plan.chunks <= plan.maxChunks;
}

bool EncodeHex(const uint8_t* data, uint32_t n, CQNF_Mem& text)
{
    if (!data || n == 0 || !text.alloc(qnMulSize({n, 2})))
        return false;
    char* out = reinterpret_cast<char*>(text.GetPtr());
    for (uint32_t i = 0; i < n; ++i) {
        out[2 * size_t{i}] = CQNF_String::HEXDigit(static_cast<uint8_t>(data[i] >> 4));
        out[2 * size_t{i} + 1] = CQNF_String::HEXDigit(static_cast<uint8_t>(data[i] & 15));
    }
    return true;
}

namespace {

int Nibble(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

}  // namespace

bool DecodeHex(const char* text, uint32_t length, CQNF_Mem& out)
{
    if (!text || length == 0 || length % 2 != 0 || !out.alloc(length / 2))
        return false;
    for (uint32_t i = 0; i < length / 2; ++i) {
        const int hi = Nibble(text[2 * size_t{i}]);
        const int lo = Nibble(text[2 * size_t{i} + 1]);
        if (hi < 0 || lo < 0)
            return false;
        out.GetPtr()[i] = static_cast<uint8_t>(hi << 4 | lo);
    }
    return true;
}

bool PlaceChunk(const char* chunk, size_t size, char* buffer, uint32_t bufferLength, uint32_t chunkSize,
                uint32_t maxChunks)
{
    if (!chunk || !buffer || size <= 4)
        return false;
    const int32_t index = IndexFromLetters(chunk);
    if (index < 0 || static_cast<uint32_t>(index) >= maxChunks)
        return false;
    const void* end = std::memchr(chunk + kChunkHeader, 0, size - kChunkHeader);
    if (!end)
        return false;
    const size_t characters = static_cast<size_t>(static_cast<const char*>(end) - chunk) - kChunkHeader;
    if (characters == 0 || characters > chunkSize)
        return false;
    const uint64_t at = uint64_t{static_cast<uint32_t>(index)} * chunkSize;
    if (at + characters > bufferLength)
        return false;
    std::memcpy(buffer + at, chunk + kChunkHeader, characters);
    return true;
}

uint32_t SingleKey(uint32_t index)
{
    return 0x716E6561u + index;  // 'qnea'
}

bool PlaceSingleChunk(const char* chunk, size_t size, char* buffer, uint32_t& index, uint32_t& characters)
{
    if (!chunk || !buffer || size <= 2 || chunk[0] < 'A' || chunk[0] > 'Z')
        return false;
    const void* end = std::memchr(chunk + 1, 0, size - 1);
    if (!end)
        return false;
    const size_t n = static_cast<size_t>(static_cast<const char*>(end) - chunk) - 1;
    if (n == 0 || n > kSingleChunk)
        return false;
    index = static_cast<uint32_t>(chunk[0] - 'A');
    characters = static_cast<uint32_t>(n);
    std::memcpy(buffer + size_t{index} * kSingleChunk, chunk + 1, n);
    return true;
}

uint32_t SingleTextLength(const uint32_t lengths[kSingleMaxChunks])
{
    uint32_t count = 0;
    while (count < kSingleMaxChunks && lengths[count] != 0)
        ++count;
    if (count == 0)
        return 0;
    for (uint32_t i = count; i < kSingleMaxChunks; ++i)
        if (lengths[i] != 0)
            return 0;  // a gap: a chunk is missing
    for (uint32_t i = 0; i + 1 < count; ++i)
        if (lengths[i] != kSingleChunk)
            return 0;
    return (count - 1) * kSingleChunk + lengths[count - 1];
}

}  // namespace qnscript
