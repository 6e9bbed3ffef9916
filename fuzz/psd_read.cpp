// libFuzzer target: the PSD reader on arbitrary bytes (header, merged image,
// layers and every layer's description).
#include "imaging/PSDCodec.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    qntCODECLIMITS limits;
    limits.maxBytes = 64u << 20;
    CQNF_ImagePSD psd;
    psd.SetLimits(limits);
    psd.GetImageInfoByPtr(data, size);
    psd.ParseImageByPtr(data, size);
    if (psd.LParseByPtr(data, size)) {
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
    }
    return 0;
}
