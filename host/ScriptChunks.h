// The text form in which the settings block travels through the host's
// scripting descriptor, apart from the descriptor calls themselves.
//
// The compressed block is written as upper-case hexadecimal text of length L
// (2 .. 650,000) and cut into chunks: large mode 65,000 characters under the
// keys 'qne0'..'qne9', small mode 1,000 characters under 'qnaa'..'qnhz' (at
// most 200 used). The integer under 'qneS' is L + 20,000,000 (large) or
// L + 10,000,000 (small). Each chunk's text is its index in three letters
// 'A'..'Z' (base 26, most significant first), the hexadecimal characters and
// a terminating 0.
#pragma once

#include "core/Mem.h"

#include <cstddef>
#include <cstdint>

namespace qnscript {

inline constexpr uint32_t kModeKey = 0x716E6553;  // 'qneS'
inline constexpr int32_t kLargeBase = 20000000;
inline constexpr int32_t kSmallBase = 10000000;
inline constexpr uint32_t kLargeChunk = 65000;
inline constexpr uint32_t kSmallChunk = 1000;
inline constexpr uint32_t kLargeMaxChunks = 10;
inline constexpr uint32_t kSmallMaxChunks = 200;
inline constexpr uint32_t kSmallKeys = 208;
inline constexpr uint32_t kMinText = 2;
inline constexpr uint32_t kMaxText = 650000;
inline constexpr uint32_t kMaxChunkIndex = 17576;  // three letters
inline constexpr uint32_t kChunkHeader = 3;

// 'qne0' + i for i < 10.
uint32_t LargeKey(uint32_t index);
// 'qnaa', 'qnab', ... 'qnhz' for i < 208.
uint32_t SmallKey(uint32_t index);

// The three index letters; false for an index of 17,576 or more.
bool IndexLetters(uint32_t index, char out[3]);
// The index the letters give, or -1 when one is not 'A'..'Z'.
int32_t IndexFromLetters(const char letters[3]);

// How a text of the length the 'qneS' value gives was cut.
struct ChunkPlan {
    bool large = false;
    uint32_t length = 0;     // L
    uint32_t chunkSize = 0;  // 65,000 or 1,000
    uint32_t chunks = 0;     // (L - 1) / chunkSize + 1
    uint32_t maxChunks = 0;  // 10 or 200
};

// Reads the 'qneS' value; false for a value that is neither mode, a length
// above 650,000 or a small mode needing more than 200 chunks.
bool PlanFromModeValue(int32_t value, ChunkPlan& plan);

// Upper-case hexadecimal of n bytes into text (2n characters, no terminator).
bool EncodeHex(const uint8_t* data, uint32_t n, CQNF_Mem& text);
// Decodes text of even length made of '0'-'9' and 'A'-'F' only.
bool DecodeHex(const char* text, uint32_t length, CQNF_Mem& out);

// Checks one chunk text of size bytes (as the host handed it over) and puts
// its characters into the text buffer of bufferLength at index x chunkSize.
// Refused: 4 bytes or fewer, letters outside 'A'..'Z', an index at or above
// maxChunks, no terminator inside the bytes, more characters than chunkSize,
// or a piece that would end past the buffer.
bool PlaceChunk(const char* chunk, size_t size, char* buffer, uint32_t bufferLength, uint32_t chunkSize,
                uint32_t maxChunks);

// The earlier single-level form: up to 26 chunks of 250 characters under the
// keys 'qnea'..'qnez', each chunk's text being one index letter 'A'..'Z', the
// hexadecimal characters and a terminating 0. No length key: the chunks
// present, 0 to n - 1 without a gap, every one but the last full, give the
// text's length.
inline constexpr uint32_t kSingleChunk = 250;
inline constexpr uint32_t kSingleMaxChunks = 26;
inline constexpr uint32_t kSingleMaxText = kSingleChunk * kSingleMaxChunks;

// 'qnea' + i for i < 26.
uint32_t SingleKey(uint32_t index);

// Checks one single-level chunk text of size bytes and puts its characters
// into buffer (kSingleMaxText long) at index x 250. Refused: 2 bytes or
// fewer, a letter outside 'A'..'Z', no terminator, no characters or more
// than 250. On success index and characters tell where it landed.
bool PlaceSingleChunk(const char* chunk, size_t size, char* buffer, uint32_t& index, uint32_t& characters);

// The text length the placed chunks give: lengths[i] is chunk i's character
// count, 0 when absent. 0 when no chunk 0, a gap, or a chunk before the last
// that is not full.
uint32_t SingleTextLength(const uint32_t lengths[kSingleMaxChunks]);

}  // namespace qnscript
