// Reading a PNG from bytes for the codec tests, and one of its planes.
#pragma once

#include "imaging/PNGCodec.h"

#include "test_codec_util.h"

namespace pngtest {

using codectest::Bytes;
using PNG = CQNF_ImagePNG;

inline bool Decode(PNG& png, const Bytes& b) { return png.ParseImageByPtr(b.data(), b.size()); }

inline Bytes Plane(PNG& png, signed char i)
{
    unsigned short w, h;
    png.GetMainImageSize(w, h);
    const unsigned char* p = png.GetImageDataPtr(i);
    return p ? Bytes(p, p + size_t{w} * h) : Bytes{};
}

}  // namespace pngtest
