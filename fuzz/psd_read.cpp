// libFuzzer target: the PSD reader on arbitrary bytes (header, merged image,
// layers and every layer's description), held to what it promises besides
// memory safety:
// - every refusal names a cause that fits: 48 with a reason, 49 whose
//   reason, when it gives one, says "truncated" or "damaged";
// - of a file whose merged image it decodes, every cut before the merged
//   image's first data byte is refused as truncated;
// - the layers' damage is judged before their size: the judgement alone
//   (LJudgeByPtr, which the programs reading only the merged image make)
//   refuses what the layered parse refuses, for the same cause, and a
//   budget no layer fits in finds the same files damaged.
#include "fuzz/ReaderCause.h"
#include "imaging/PSDBytes.h"
#include "imaging/PSDCodec.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace {

constexpr uint64_t kLimit = 64u << 20;

// Where the merged image's data begins: after the header, the three
// sections of stated length and the compression word.
size_t MergedDataStart(const uint8_t* data, size_t size)
{
    uint64_t at = 26;
    for (int section = 0; section < 3; ++section) {
        if (at + 4 > size)
            return 0;
        at += 4 + uint64_t{qnpsd::GetU32(data + at)};
    }
    return at + 2 <= size ? size_t(at + 2) : 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    qntCODECLIMITS limits;
    limits.maxBytes = kLimit;
    CQNF_ImagePSD psd;
    psd.SetLimits(limits);
    if (!psd.GetImageInfoByPtr(data, size))
        CheckCause(psd, false);
    const bool merged = psd.ParseImageByPtr(data, size);
    if (!merged)
        CheckCause(psd, false);
    // The judgement first, beside the merged image: it leaves that as it was.
    const bool judged = psd.LJudgeByPtr(data, size);
    const unsigned short judgedError = psd.GetError();
    const std::string judgedReason = psd.GetReason();
    if (merged && !psd.GetImageDataPtr(0))
        __builtin_trap();
    qntCODECLIMITS tiny = limits;
    tiny.maxBytes = 1;
    CQNF_ImagePSD small;
    small.SetLimits(tiny);
    const bool smallJudged = small.LJudgeByPtr(data, size);
    if (!smallJudged)
        CheckCause(small, false);
    if ((!judged && judgedError == qncodec::ErrCorrupt) !=
        (!smallJudged && small.GetError() == qncodec::ErrCorrupt))
        __builtin_trap();
    const bool layered = psd.LParseByPtr(data, size);
    if (!judged && (layered || psd.GetError() != judgedError || psd.GetReason() != judgedReason))
        __builtin_trap();
    if (layered) {
        unsigned sum = 0;
        for (uint32_t i = 0; i < psd.GetLayersCount(); ++i) {
            CQNF_ImagePSD::PSDLayerInfoExt_s info;
            if (!psd.GetLayerInfo(i, info))
                __builtin_trap();
            for (CQNF_Mem* m : info.planes)
                if (m && m->GetSize() != uint64_t{info.width} * info.height)
                    __builtin_trap();
            if (info.transparency)
                sum += info.transparency->GetPtr()[info.transparency->GetSize() - 1];
            sum += static_cast<unsigned char>(info.name[0]);
        }
        // Reading every plane's last byte and every name lets the sanitizers
        // check them.
        if (sum == 0xFFFFFFFF)
            __builtin_trap();
    } else {
        CheckCause(psd, false);
    }
    if (!merged)
        return 0;
    const size_t start = MergedDataStart(data, size);
    if (start == 0)
        __builtin_trap();  // decoded a merged image the data cannot hold
    const size_t cut = (size_t(data[size - 1]) * 263 + data[size / 2]) % start;
    CQNF_ImagePSD again;
    again.SetLimits(limits);
    if (again.ParseImageByPtr(data, cut) || again.GetError() != qncodec::ErrCorrupt ||
        again.GetReason().rfind("truncated", 0) != 0)
        __builtin_trap();
    return 0;
}
