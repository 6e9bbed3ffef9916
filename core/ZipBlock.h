// CQNF_ZipBlock: zlib compression behind a 16-byte header.
//
//   offset 0   8 bytes  "QNCV2-01"
//   offset 8   u32 BE   raw size (bytes before compression)
//   offset 12  u32 BE   packed size (bytes of the zlib stream that follows)
//   offset 16  the zlib stream as compress2 makes it; bytes after it are ignored
//
// Zip blocks arrive from files other people made (resource skins, fonts, the
// scripting descriptor, the indexed storage's key index), so the reader takes
// nothing on trust: the packed size must lie within the source, the raw size
// must be one a zlib stream of that packed size can produce and stay below
// kQnZipMaxRawSize, and the stream must yield exactly the raw size.
#pragma once

#include "core/BlockProcessor.h"

#include <cstddef>
#include <cstdint>

inline constexpr char kQnZipMagic[8] = {'Q', 'N', 'C', 'V', '2', '-', '0', '1'};
inline constexpr size_t kQnZipHeaderSize = 16;
// Deflate never expands more than 1032 to 1 (a 258-byte match in 2 bits).
inline constexpr uint64_t kQnZipMaxRatio = 1032;
// No block of this system comes near this size; a header asking for more is
// refused instead of allocated.
inline constexpr uint32_t kQnZipMaxRawSize = 256u << 20;

struct qnZipHeader {
    uint32_t rawSize = 0;
    uint32_t packedSize = 0;
};

// Reads and checks the header of a zip block of n bytes. False when the bytes
// are not a zip block this reader accepts (error 64).
bool qnZipReadHeader(const uint8_t* src, size_t n, qnZipHeader& header);
// Inflates the stream of a checked block into dst, which holds
// header.rawSize bytes. Returns 0, or the error number (17 no memory, 64
// corrupt stream or a size other than the raw size).
unsigned short qnZipInflate(const uint8_t* src, const qnZipHeader& header, uint8_t* dst);
// Room Compress() reserves for n source bytes, header included.
inline uint64_t qnZipCapacity(uint64_t n) { return n * 12 / 10 + 30; }

class CQNF_ZipBlock : public CQNF_BlockProcessor {
public:
    // 0 decompress; 1, 2, 3 compress at level 9, 6, 1.
    CQNF_ZipBlock() = default;
    ~CQNF_ZipBlock() override = default;

    void SetMode(unsigned char mode) { m_mode = mode; }
    unsigned char GetMode() const { return m_mode; }

    // Runs the mode. Refuses while a progress is set (67) and a mode above 3
    // (66). Resets the error number before the work.
    bool Process() override;
    // The two halves of Process, callable directly; they need a destination.
    bool Compress(unsigned char level);
    bool Decompress();

private:
    unsigned char m_mode = 1;
};
