// libFuzzer target: the JPEG reader on arbitrary bytes, held to what it
// promises besides memory safety:
// - every refusal names a cause that fits: 48 or 49 with a reason, 49's
//   reason saying "truncated" or "damaged";
// - a picture it decodes is the library's own decoding of the same bytes
//   through the library's own memory source, sample for sample, and that
//   decoding met no sign of missing data (no rows of grey fill) nor of
//   damage (a code no table holds, scans out of their order);
// - the same file cut inside its headers, or inside the coded data of its
//   first scan where the data left cannot hold a bit for every block (with
//   an end marker after the cut or not), is refused as truncated.
#include "fuzz/ReaderCause.h"
#include "imaging/JPEGCodec.h"
#include "imaging/JPEGSource.h"

#include <jerror.h>

#include <csetjmp>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr uint64_t kLimit = 64u << 20;

struct Reference {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    bool missingData;
};

void ReferenceExit(j_common_ptr cinfo) { std::longjmp(reinterpret_cast<Reference*>(cinfo->err)->jump, 1); }

void ReferenceWarning(j_common_ptr cinfo, int level)
{
    auto* r = reinterpret_cast<Reference*>(cinfo->err);
    const int code = r->pub.msg_code;
    if (level < 0 && (code == JWRN_HIT_MARKER || code == JWRN_HUFF_BAD_CODE || code == JWRN_ARITH_BAD_CODE ||
                      code == JWRN_MUST_RESYNC || code == JWRN_BOGUS_PROGRESSION))
        r->missingData = true;
}

void UseReference(jpeg_decompress_struct& cinfo, Reference& err)
{
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = ReferenceExit;
    err.pub.emit_message = ReferenceWarning;
}

// The library's decoding with its own source and defaults into out
// (interleaved rows); false when it stops or warns of missing data. No
// frame here holds anything with a destructor across the jump.
bool DecodeWithLibrary(const uint8_t* data, size_t size, unsigned char* out, size_t outSize)
{
    jpeg_decompress_struct cinfo;
    Reference err{};
    UseReference(cinfo, err);
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    jpeg_create_decompress(&cinfo);
    cinfo.mem->max_memory_to_use = long(kLimit);
    jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(size));
    jpeg_read_header(&cinfo, TRUE);
    jpeg_start_decompress(&cinfo);
    const size_t row = size_t{cinfo.output_width} * cinfo.output_components;
    if (row * cinfo.output_height != outSize) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW at = out + row * cinfo.output_scanline;
        jpeg_read_scanlines(&cinfo, &at, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return !err.missingData;
}

// The first scan as the library's header reading leaves it: where its
// coded data starts, and how many bytes can surely not hold it (each of
// its blocks takes at least one bit under Huffman coding, when the scan
// codes DC values). 0 bytes when no cut can be judged that way.
struct FirstScan {
    size_t dataStart = 0;
    size_t tooFew = 0;
};

FirstScan ReadFirstScan(const uint8_t* data, size_t size)
{
    FirstScan scan;
    jpeg_decompress_struct cinfo;
    Reference err{};
    UseReference(cinfo, err);
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&cinfo);
        return FirstScan{};
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(size));
    jpeg_read_header(&cinfo, TRUE);
    scan.dataStart = size - cinfo.src->bytes_in_buffer;
    if (!cinfo.arith_code && cinfo.Ss == 0) {
        uint64_t blocks = 0;
        for (int i = 0; i < cinfo.comps_in_scan; ++i)
            blocks += uint64_t{cinfo.cur_comp_info[i]->width_in_blocks} * cinfo.cur_comp_info[i]->height_in_blocks;
        scan.tooFew = blocks > 0 ? size_t((blocks - 1) / 8 + 1) : 0;
    }
    jpeg_destroy_decompress(&cinfo);
    return scan;
}

void ExpectTruncated(const std::vector<uint8_t>& cut)
{
    qntCODECLIMITS limits;
    limits.maxBytes = kLimit;
    CQNF_ImageJPEG jpeg;
    jpeg.SetLimits(limits);
    if (jpeg.ParseImageByPtr(cut.data(), cut.size()) || jpeg.GetError() != qncodec::ErrCorrupt ||
        jpeg.GetReason().rfind("truncated", 0) != 0)
        __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    qntCODECLIMITS limits;
    limits.maxBytes = kLimit;
    CQNF_ImageJPEG jpeg;
    jpeg.SetLimits(limits);
    if (!jpeg.GetImageInfoByPtr(data, size))
        CheckCause(jpeg, true);
    if (!jpeg.ParseImageByPtr(data, size)) {
        CheckCause(jpeg, true);
        return 0;
    }
    unsigned short w, h;
    jpeg.GetMainImageSize(w, h);
    const int planes = jpeg.GetImageMode() == qncodec::ModeGrey ? 1 : jpeg.GetImageMode() == qncodec::ModeCMYK ? 4 : 3;
    const size_t pixels = size_t{w} * h;
    for (signed char k = 0; k < planes; ++k) {
        CQNF_Mem* m = jpeg.GetImageDataMem(k);
        if (!m || m->GetSize() != pixels)
            __builtin_trap();
    }
    if (jpeg.GetImageDataMem(-1))
        __builtin_trap();

    std::vector<unsigned char> reference(pixels * planes);
    if (!DecodeWithLibrary(data, size, reference.data(), reference.size()))
        __builtin_trap();
    for (signed char k = 0; k < planes; ++k) {
        const unsigned char* plane = jpeg.GetImageDataPtr(k);
        for (size_t i = 0; i < pixels; ++i)
            if (plane[i] != reference[i * planes + k])
                __builtin_trap();
    }

    // Cuts where the picture cannot be whole; the last bytes choose where.
    const FirstScan scan = ReadFirstScan(data, size);
    if (scan.dataStart < 3 || scan.dataStart > size)
        return 0;
    const uint8_t pick = data[size - 1], pick2 = data[size / 2];
    const size_t inHeaders = 2 + (size_t(pick) * 257 + pick2) % (scan.dataStart - 2);
    ExpectTruncated(std::vector<uint8_t>(data, data + inHeaders));
    if (scan.tooFew > 0) {
        const size_t room = std::min(scan.tooFew, size - scan.dataStart + 1);
        std::vector<uint8_t> cut(data, data + scan.dataStart + (size_t(pick2) * 131 + pick) % room);
        if (pick & 1) {
            cut.push_back(0xFF);
            cut.push_back(0xD9);
        }
        ExpectTruncated(cut);
    }
    return 0;
}
