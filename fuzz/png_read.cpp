// libFuzzer target: the PNG reader on arbitrary bytes, held to what it
// promises besides memory safety:
// - every refusal names a cause that fits: 48 or 49 with a reason, 49's
//   reason saying "truncated" or "damaged";
// - of a file it decodes, every cut before the end of its IEND chunk is
//   refused as truncated, and a wrong checksum on any of its IHDR, IDAT
//   and IEND chunks as damaged, naming that chunk.
#include "fuzz/ReaderCause.h"
#include "imaging/PNGCodec.h"

#include <png.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr uint64_t kLimit = 64u << 20;

bool Parse(CQNF_ImagePNG& png, const uint8_t* data, size_t size)
{
    qntCODECLIMITS limits;
    limits.maxBytes = kLimit;
    png.SetLimits(limits);
    return png.ParseImageByPtr(data, size);
}

void ExpectRefused(const std::vector<uint8_t>& bytes, const std::string& reason)
{
    CQNF_ImagePNG png;
    if (Parse(png, bytes.data(), bytes.size()) || png.GetError() != qncodec::ErrCorrupt ||
        png.GetReason().rfind(reason, 0) != 0)
        __builtin_trap();
}

struct Chunk {
    size_t at;  // of its length field
    uint32_t length;
    char type[5];
};

// The chunks from the signature up to IEND, as libpng walks them; empty
// when the walk does not reach IEND inside the data.
std::vector<Chunk> Chunks(const uint8_t* data, size_t size)
{
    std::vector<Chunk> chunks;
    for (size_t at = 8; at + 12 <= size;) {
        Chunk c{at, png_get_uint_32(data + at), {}};
        std::memcpy(c.type, data + at + 4, 4);
        if (c.length > size - at - 12)
            break;
        chunks.push_back(c);
        if (std::strcmp(c.type, "IEND") == 0)
            return chunks;
        at += 12 + size_t{c.length};
    }
    return {};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    CQNF_ImagePNG png;
    if (!png.GetImageInfoByPtr(data, size))
        CheckCause(png, true);
    if (!Parse(png, data, size)) {
        CheckCause(png, true);
        return 0;
    }
    unsigned short w, h;
    png.GetMainImageSize(w, h);
    // Every plane the mode promises is there, whole.
    const int planes = png.GetImageMode() == qncodec::ModeGrey ? 1 : 3;
    for (signed char k = -1; k < planes; ++k) {
        CQNF_Mem* m = png.GetImageDataMem(k);
        if (!m || m->GetSize() != uint64_t{w} * h)
            __builtin_trap();
    }

    const std::vector<Chunk> chunks = Chunks(data, size);
    if (chunks.empty())
        __builtin_trap();  // decoded without reaching an end chunk inside the data
    const size_t end = chunks.back().at + 12;
    const uint8_t pick = data[size - 1], pick2 = data[size / 2];
    // A cut anywhere after the signature, before the end chunk is whole.
    const size_t cut = 8 + (size_t(pick) * 263 + pick2) % (end - 8);
    ExpectRefused(std::vector<uint8_t>(data, data + cut), "truncated");
    // A bit of one critical chunk's checksum flipped.
    std::vector<const Chunk*> critical;
    for (const Chunk& c : chunks)
        if (std::strcmp(c.type, "IHDR") == 0 || std::strcmp(c.type, "IDAT") == 0 || std::strcmp(c.type, "IEND") == 0)
            critical.push_back(&c);
    const Chunk& spoilt = *critical[pick2 % critical.size()];
    std::vector<uint8_t> flipped(data, data + size);
    flipped[spoilt.at + 8 + spoilt.length + pick % 4] ^= uint8_t(1u << (pick2 % 8));
    ExpectRefused(flipped, std::string("damaged: the checksum of its ") + spoilt.type + " chunk does not match");
    return 0;
}
