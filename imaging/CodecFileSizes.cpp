// The most bytes a PNG, JPEG or PSD file can take for the picture its header
// describes: a file longer than that is refused before it is read whole, so
// a small picture followed by gigabytes costs nothing.
#include "imaging/JPEGCodec.h"
#include "imaging/PNGCodec.h"
#include "imaging/PSDBytes.h"
#include "imaging/PSDCodec.h"

#include <string_view>

namespace {

// Room for what a picture's pixels do not explain: colour profiles, EXIF,
// text and thumbnails.
constexpr uint64_t kMetadataRoom = uint64_t(64) << 20;

bool ReadAt(CQNF_StdFile& file, uint64_t at, unsigned char* out, uint32_t n)
{
    return file.SetPos(at) == int64_t(at) && file.Read(out, n) == int64_t(n);
}

uint32_t BigEndian(const unsigned char* p, int n)
{
    uint32_t v = 0;
    for (int i = 0; i < n; ++i)
        v = (v << 8) | p[i];
    return v;
}

}  // namespace

uint64_t CQNF_ImagePNG::LargestFile(CQNF_StdFile& file, uint64_t length)
{
    // The header chunk comes first: width, height, bit depth, colour type.
    unsigned char h[29];
    if (!ReadAt(file, 0, h, sizeof h) || std::string_view(reinterpret_cast<char*>(h + 12), 4) != "IHDR")
        return length;
    const uint64_t w = BigEndian(h + 16, 4), rows = BigEndian(h + 20, 4), depth = h[24];
    const uint8_t colourType = h[25];
    const uint64_t channels = colourType == 2 ? 3 : colourType == 4 ? 2 : colourType == 6 ? 4 : 1;
    // Filtered rows, with a filter byte per row of every interlace pass;
    // deflate and chunking add far less than as much again.
    const uint64_t raw = rows * ((w * channels * depth + 7) / 8 + 2);
    return 2 * raw + kMetadataRoom;
}

uint64_t CQNF_ImageJPEG::LargestFile(CQNF_StdFile& file, uint64_t length)
{
    // The markers up to the frame header give the size and components. A
    // coded 8 x 8 block takes well under 16 bytes a sample even with byte
    // stuffing and the refinement scans of a progressive file.
    uint64_t at = 2;
    for (int markers = 0; markers < 100000 && at + 4 <= length; ++markers) {
        unsigned char m[4];
        if (!ReadAt(file, at, m, 4) || m[0] != 0xFF)
            return length;
        const uint8_t code = m[1];
        if (code == 0xFF) {  // fill byte
            ++at;
            continue;
        }
        if (code == 0x01 || (code >= 0xD0 && code <= 0xD7)) {  // no length
            at += 2;
            continue;
        }
        const bool frame = code >= 0xC0 && code <= 0xCF && code != 0xC4 && code != 0xC8 && code != 0xCC;
        if (frame) {
            unsigned char f[6];
            if (!ReadAt(file, at + 4, f, 6))
                return length;
            const uint64_t rows = BigEndian(f + 1, 2), columns = BigEndian(f + 3, 2), components = f[5];
            const uint64_t blocks = ((rows + 15) / 16 * 16) * ((columns + 15) / 16 * 16);
            return at + blocks * components * 16 + kMetadataRoom;
        }
        if (code == 0xDA || code == 0xD9)  // scan or end before any frame
            return length;
        at += 2 + BigEndian(m + 2, 2);
    }
    return length;
}

uint64_t CQNF_ImagePSD::LargestFile(CQNF_StdFile& file, uint64_t length)
{
    // Every section before the merged image states its length; the merged
    // image takes at most its channels' rows packed, and their row counts.
    // A packed row is at most twice as long as its bytes (every byte a
    // literal of its own, as a writer may leave it).
    unsigned char h[26];
    if (!ReadAt(file, 0, h, sizeof h))
        return length;
    const uint64_t channels = qnpsd::GetU16(h + 12), rows = qnpsd::GetU32(h + 14), columns = qnpsd::GetU32(h + 18);
    const uint64_t depthBytes = (uint64_t{qnpsd::GetU16(h + 22)} + 7) / 8;
    uint64_t at = 26;
    for (int section = 0; section < 3; ++section) {
        unsigned char n[4];
        if (!ReadAt(file, at, n, 4))
            return length;
        at += 4 + uint64_t{qnpsd::GetU32(n)};
    }
    const uint64_t row = columns * depthBytes;
    return at + 2 + channels * rows * (2 + 2 * row);
}
