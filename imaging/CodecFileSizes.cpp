// What the header of a PNG, JPEG or PSD file says before the file is read
// whole: a picture too large for the limits is refused by its header, and a
// file longer than its format can take for the picture its header describes
// is refused unread, so a small picture followed by gigabytes costs nothing.
#include "imaging/JPEGCodec.h"
#include "imaging/PNGCodec.h"
#include "imaging/PSDBytes.h"
#include "imaging/PSDCodec.h"

#include <zlib.h>

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

bool CQNF_ImagePNG::JudgeHeader(CQNF_StdFile& file, uint64_t, uint64_t& largest)
{
    // The header chunk comes first: width, height, bit depth, colour type,
    // compression, filter and interlace method, and its checksum.
    unsigned char h[33];
    if (!ReadAt(file, 0, h, sizeof h) || std::string_view(reinterpret_cast<char*>(h + 12), 4) != "IHDR")
        return true;
    if (crc32(0, h + 12, 17) != BigEndian(h + 29, 4))
        return i_Damaged("the checksum of its IHDR chunk does not match");
    const uint64_t w = BigEndian(h + 16, 4), rows = BigEndian(h + 20, 4), depth = h[24];
    const uint8_t colourType = h[25];
    const bool interlaced = h[28] != 0;
    // Sizes the format does not have are the decoder's to name.
    const bool sized = w > 0 && rows > 0 && w <= 0x7FFFFFFF && rows <= 0x7FFFFFFF;
    if (sized && !i_WithinLimits(w, rows, DecodeBytes(w, rows, colourType, interlaced)))
        return false;
    const uint64_t channels = colourType == 2 ? 3 : colourType == 4 ? 2 : colourType == 6 ? 4 : 1;
    // Filtered rows, with a filter byte per row of every interlace pass;
    // deflate and chunking add far less than as much again.
    const uint64_t raw = rows * ((w * channels * depth + 7) / 8 + 2);
    largest = 2 * raw + kMetadataRoom;
    return true;
}

bool CQNF_ImageJPEG::JudgeHeader(CQNF_StdFile& file, uint64_t length, uint64_t& largest)
{
    // The markers up to the frame header give the size and components. A
    // coded 8 x 8 block takes well under 16 bytes a sample even with byte
    // stuffing and the refinement scans of a progressive file.
    uint64_t at = 2;
    for (int markers = 0; markers < 100000 && at + 4 <= length; ++markers) {
        unsigned char m[4];
        if (!ReadAt(file, at, m, 4) || m[0] != 0xFF)
            return true;
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
                return true;
            const uint64_t rows = BigEndian(f + 1, 2), columns = BigEndian(f + 3, 2), components = f[5];
            // One plane a component for grey, colour and CMYK; other counts
            // and empty sizes are the decoder's to name.
            if (rows > 0 && columns > 0 && (components == 1 || components == 3 || components == 4) &&
                !i_WithinLimits(columns, rows, columns * rows * components))
                return false;
            const uint64_t blocks = ((rows + 15) / 16 * 16) * ((columns + 15) / 16 * 16);
            largest = at + blocks * components * 16 + kMetadataRoom;
            return true;
        }
        if (code == 0xDA || code == 0xD9)  // scan or end before any frame
            return true;
        at += 2 + BigEndian(m + 2, 2);
    }
    return true;
}

bool CQNF_ImagePNG::ReadHeaderBytes(CQNF_StdFile& file, uint64_t length)
{
    // The chunks before the first image data chunk, and that chunk's length
    // and type: what libpng reads before the picture's rows.
    uint64_t at = 8;
    for (int chunks = 0; chunks < 100000 && at + 8 <= length && at <= kMetadataRoom; ++chunks) {
        unsigned char c[8];
        if (!ReadAt(file, at, c, 8))
            return false;
        if (std::string_view(reinterpret_cast<char*>(c + 4), 4) == "IDAT")
            return i_ReadOpening(file, at + 8);
        at += 12 + uint64_t{BigEndian(c, 4)};
    }
    return false;
}

bool CQNF_ImageJPEG::ReadHeaderBytes(CQNF_StdFile& file, uint64_t length)
{
    // The markers up to and with the first scan's header: what the library
    // reads before the coded data.
    uint64_t at = 2;
    for (int markers = 0; markers < 100000 && at + 4 <= length && at <= kMetadataRoom; ++markers) {
        unsigned char m[4];
        if (!ReadAt(file, at, m, 4) || m[0] != 0xFF)
            return false;
        const uint8_t code = m[1];
        if (code == 0xFF) {
            ++at;
            continue;
        }
        if (code == 0x01 || (code >= 0xD0 && code <= 0xD7)) {
            at += 2;
            continue;
        }
        if (code == 0xD9)
            return false;
        at += 2 + uint64_t{BigEndian(m + 2, 2)};
        if (code == 0xDA)
            return at <= length && i_ReadOpening(file, at);
    }
    return false;
}

bool CQNF_ImagePSD::JudgeHeader(CQNF_StdFile& file, uint64_t, uint64_t& largest)
{
    unsigned char h[26];
    if (!ReadAt(file, 0, h, sizeof h))
        return i_Truncated("it ends inside its header");
    if (!GetImageInfoByPtr(h, sizeof h))
        return false;
    // The merged image's planes, for the depth the reader decodes.
    if (m_depth == 8 && !i_WithinLimits(m_width, m_height, uint64_t{m_width} * m_height * ColourPlanes(m_mode)))
        return false;
    // Every section before the merged image states its length; the merged
    // image takes at most its channels' rows packed, and their row counts.
    // A packed row is at most twice as long as its bytes (every byte a
    // literal of its own, as a writer may leave it).
    const uint64_t channels = qnpsd::GetU16(h + 12), rows = m_height, columns = m_width;
    const uint64_t depthBytes = (uint64_t{m_depth} + 7) / 8;
    uint64_t at = 26;
    for (int section = 0; section < 3; ++section) {
        unsigned char n[4];
        if (!ReadAt(file, at, n, 4))
            return true;
        at += 4 + uint64_t{qnpsd::GetU32(n)};
    }
    const uint64_t row = columns * depthBytes;
    largest = at + 2 + channels * rows * (2 + 2 * row);
    return true;
}

bool CQNF_ImagePSD::ReadHeaderBytes(CQNF_StdFile& file, uint64_t length)
{
    // The file header, the colour data and the image resources (where the
    // resolution lies): what comes before the layers and the merged image.
    uint64_t at = 26;
    for (int section = 0; section < 2; ++section) {
        unsigned char n[4];
        if (at + 4 > length || !ReadAt(file, at, n, 4))
            return false;
        at += 4 + uint64_t{qnpsd::GetU32(n)};
        if (at > length || at > kMetadataRoom)
            return false;
    }
    return i_ReadOpening(file, at);
}
