// libFuzzer target: the PNG reader on arbitrary bytes.
#include "imaging/PNGCodec.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    qntCODECLIMITS limits;
    limits.maxBytes = 64u << 20;
    CQNF_ImagePNG png;
    png.SetLimits(limits);
    png.GetImageInfoByPtr(data, size);
    if (png.ParseImageByPtr(data, size)) {
        unsigned short w, h;
        png.GetMainImageSize(w, h);
        // Every plane the mode promises is there, whole.
        const int planes = png.GetImageMode() == qncodec::ModeGrey ? 1 : 3;
        for (signed char k = -1; k < planes; ++k) {
            CQNF_Mem* m = png.GetImageDataMem(k);
            if (!m || m->GetSize() != uint64_t{w} * h)
                __builtin_trap();
        }
    }
    return 0;
}
