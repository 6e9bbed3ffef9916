// PSD documents for the codec tests: layers of flat planes written through
// the writer into a file or into bytes.
#pragma once

#include "imaging/PSDCodec.h"

#include "test_codec_util.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace psdtest {

using codectest::Bytes;
using codectest::ReadAll;
using codectest::TempDir;
using PSD = CQNF_ImagePSD;

// One layer's planes, kept alive for the writer.
struct LayerData {
    PSD::PSDMLWRITE_LAYERPARAMS params;
    std::vector<Bytes> planes;  // colour planes, then transparency
    uint32_t stride = 0;
};

inline LayerData MakeLayer(int x, int y, int w, int h, const char* name, std::vector<unsigned char> values,
                           int planeCount = 4)
{
    LayerData l;
    l.params.x = static_cast<int16_t>(x);
    l.params.y = static_cast<int16_t>(y);
    l.params.width = static_cast<uint16_t>(w);
    l.params.height = static_cast<uint16_t>(h);
    std::strncpy(l.params.name, name, 63);
    l.stride = static_cast<uint32_t>(w);
    for (int k = 0; k < planeCount; ++k)
        l.planes.emplace_back(static_cast<size_t>(w) * h, values[k]);
    return l;
}

struct Doc {
    PSD::PSDMLWRITE_INITPARAMS init;
    std::vector<LayerData> layers;
    Doc(int w, int h, uint8_t mode = qncodec::ModeColour)
    {
        init.width = static_cast<uint16_t>(w);
        init.height = static_cast<uint16_t>(h);
        init.mode = mode;
        init.resolution = 72.0;
        init.globalAngle = 130;
    }
};

// Writes a document into path, with the caller's merged picture when given
// (or made by source); returns WritePSD's result.
inline bool WriteDoc(Doc& d, const std::string& path, PSD& psd, CQNF_Progress* progress = nullptr,
                     const unsigned char* const* merged = nullptr, uint32_t mergedStride = 0,
                     const PSD::MergedSource& source = {})
{
    CQNF_StdFile file;
    EXPECT_TRUE(file.Open(path.c_str(), 2));
    EXPECT_TRUE(psd.Create(file));
    EXPECT_TRUE(psd.Write_Init(&d.init));
    for (auto& l : d.layers) {
        unsigned char* planes[5] = {};
        for (size_t k = 0; k < l.planes.size(); ++k)
            planes[k] = l.planes[k].data();
        EXPECT_TRUE(psd.Write_AddLayer(&l.params, planes, l.stride));
    }
    if (merged) {
        EXPECT_TRUE(psd.Write_SetMerged(merged, mergedStride));
    }
    if (source) {
        EXPECT_TRUE(psd.Write_SetMergedSource(source));
    }
    psd.SetProgress(progress);
    const bool ok = psd.WritePSD();
    psd.WriteClean();
    file.Close();
    return ok;
}

inline Bytes WriteDocBytes(Doc& d, const TempDir& dir)
{
    PSD psd;
    EXPECT_TRUE(WriteDoc(d, dir / "doc.psd", psd));
    return ReadAll(dir / "doc.psd");
}

}  // namespace psdtest
