// libFuzzer target: the JPEG reader on arbitrary bytes.
#include "imaging/JPEGCodec.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    qntCODECLIMITS limits;
    limits.maxBytes = 64u << 20;
    CQNF_ImageJPEG jpeg;
    jpeg.SetLimits(limits);
    jpeg.GetImageInfoByPtr(data, size);
    if (jpeg.ParseImageByPtr(data, size)) {
        unsigned short w, h;
        jpeg.GetMainImageSize(w, h);
        const int planes = jpeg.GetImageMode() == qncodec::ModeGrey ? 1 : jpeg.GetImageMode() == qncodec::ModeCMYK ? 4 : 3;
        for (signed char k = 0; k < planes; ++k) {
            CQNF_Mem* m = jpeg.GetImageDataMem(k);
            if (!m || m->GetSize() != uint64_t{w} * h)
                __builtin_trap();
        }
        if (jpeg.GetImageDataMem(-1))
            __builtin_trap();
    }
    return 0;
}
