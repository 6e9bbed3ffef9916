// CQNF_ImageJPEG: JPEG decoding through the IJG library (libjpeg-turbo).
//
// Decodes into 8-bit planes as the library delivers them: RGB (from YCbCr
// or RGB data, mode 1, planes 0..2), greyscale (mode 2, plane 0) or CMYK
// (from CMYK or YCCK data, mode 3, planes 0..3); no alpha plane. The pixels
// are those of the library's default decompression, the same as `djpeg`:
// CMYK comes as the file stores it, inverted (255 = no ink) in files with
// the Adobe marker (InvertedCMYK), ink amounts in others.
//
// Data that ends early is refused (49) rather than decoded into grey rows;
// a file that lacks only its final marker still decodes. The library's
// working memory and the planes are held to GetLimits().
//
// The library reports errors through an exit routine that longjmps back to
// the running operation: every library call runs in a small guard whose
// frames hold nothing with a destructor.
#pragma once

#include "imaging/CodecFormat.h"

#include <cstddef>

class CQNF_ImageJPEG : public CQNF_ImageReader {
public:
    CQNF_ImageJPEG() = default;
    ~CQNF_ImageJPEG() override = default;

    bool GetImageInfoByPtr(const void* data, size_t size) override;
    bool ParseImageByPtr(const void* data, size_t size) override;
    // After reading the header: whether CMYK data is stored inverted.
    bool InvertedCMYK() const { return m_inverted; }

protected:
    uint64_t LargestFile(CQNF_StdFile& file, uint64_t length) override;

private:
    bool i_Parse(const void* data, size_t size);

    bool m_inverted = false;
};
