// CQNF_ImageJPEG: JPEG decoding through the IJG library (libjpeg-turbo).
//
// Decodes into 8-bit planes as the library delivers them: RGB (from YCbCr
// or RGB data, mode 1, planes 0..2), greyscale (mode 2, plane 0) or CMYK
// (from CMYK or YCCK data, mode 3, planes 0..3); no alpha plane. The pixels
// are those of the library's default decompression, the same as `djpeg`:
// CMYK comes as the file stores it, inverted (255 = no ink) in files with
// the Adobe marker (InvertedCMYK), ink amounts in others.
//
// Data that ends early is refused as truncated (49) rather than decoded into
// grey rows, whatever ends the file (nothing, an end marker): a scan whose
// data stops before its blocks do, a progressive file whose scans stop
// before every coefficient is whole, a file of one scan a component that
// misses one, and a file too small for the coded blocks its frame describes
// (refused before any plane is allocated). A file that lacks only its final
// marker still decodes. Arithmetic coding may legally end its data early,
// so a cut there is seen only where the data runs out before it. Damage the
// library reports (a restart marker out of order or missing, a code no table
// holds, a marker inside a scan's data, scans out of their order) is refused
// as damaged (49) at the first sign, naming what was found, as is a scan that
// sends nothing new and a file of more than 256 scans, before the decoder
// spends a pass over the picture on each; every refusal says why in
// GetReason(). The library's working memory and the planes are held to
// GetLimits() together.
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
    bool JudgeHeader(CQNF_StdFile& file, uint64_t length, uint64_t& largest) override;
    bool ReadHeaderBytes(CQNF_StdFile& file, uint64_t length) override;

private:
    struct Job;
    bool i_Parse(const void* data, size_t size);
    // Creates the decompressor over data and reads the header; checks the
    // mode, the limits and that the file can hold the coded picture.
    bool i_ReadHeader(Job& job, const unsigned char* data, size_t size);
    // Error and reason for a stop inside the library, after what it met.
    bool i_Failed(Job& job);

    bool m_inverted = false;
};
