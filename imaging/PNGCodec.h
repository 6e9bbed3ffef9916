// CQNF_ImagePNG: PNG files through libpng.
//
// WritePNG encodes an RGBA (mode 1), grey-and-alpha (mode 2), RGB (mode 3)
// or grey (mode 4) image from planes into the bound file, 8 bits per sample, with two tEXt chunks
// ("Generator" = "Quorvin FrameWork", "Product" = the caller's text) and a
// pHYs chunk for the resolution. A libpng error or a failed file write makes
// it fail with the reason in the error number; it never reports success for
// an incomplete file.
//
// The reader decodes every PNG colour type and depth into 8-bit planes:
// grey and grey-with-alpha images give mode 2 (plane 0), the others mode 1
// (planes 0..2); plane -1 always holds the alpha (255 where the file has
// none; HasAlpha tells whether it has an alpha channel or a transparent
// colour). Truncated or damaged data fails with 49, a kind not read or an
// image beyond GetLimits() with 48, each with the reason (GetReason()).
//
// libpng reports errors by longjmp: every libpng call runs inside a small
// guard whose frames hold nothing with a destructor, and everything that
// needs releasing is released by the caller after the guard returns.
#pragma once

#include "imaging/CodecFormat.h"

#include <cstddef>
#include <cstdint>

struct png_struct_def;  // libpng's write state, private to PNGCodec.cpp

class CQNF_ImagePNG : public CQNF_ImageReader, public CQNF_ImageWriter {
public:
    struct PNGWRITE_PARAMS {
        uint16_t width = 0;
        uint16_t height = 0;
        uint8_t mode = 1;  // 1 RGBA, 2 grey with alpha, 3 RGB, 4 grey
        unsigned char* planes[4] = {};  // R, G, B[, A] (modes 1, 3) or grey[, alpha] (modes 2, 4)
        uint32_t stride = 0;            // bytes per row of every plane
        const char* product = nullptr;  // text of the "Product" chunk
        double resolution = 72.0;       // pixels per inch (across)
        double resolutionY = 0.0;       // pixels per inch down; 0: as resolution
        // Default: libpng's own compression and filter choice (what the
        // pieces export writes). Fast: the Sub filter on every row and
        // zlib level 1, by runs where rows compress poorly (a photo: two
        // and a half times faster than level 1 alone, and smaller), and
        // compressed in bands of rows on every core (PNGBands.h); for
        // pictures saved for a user.
        enum class Speed : uint8_t { Default, Fast } speed = Speed::Default;
    };
    static constexpr uint8_t WriteRGBA = 1;
    static constexpr uint8_t WriteGreyAlpha = 2;
    static constexpr uint8_t WriteRGB = 3;
    static constexpr uint8_t WriteGrey = 4;

    CQNF_ImagePNG() = default;
    ~CQNF_ImagePNG() override = default;

    bool GetImageInfoByPtr(const void* data, size_t size) override;
    bool ParseImageByPtr(const void* data, size_t size) override;
    bool WritePNG(const PNGWRITE_PARAMS* params);
    // After reading the header: whether the file carries transparency.
    bool HasAlpha() const { return m_hasAlpha; }

    // Pixels per metre of the pHYs chunk for a resolution in pixels per inch.
    static uint32_t PixelsPerMetre(double resolution);

protected:
    bool JudgeHeader(CQNF_StdFile& file, uint64_t length, uint64_t& largest) override;
    bool ReadHeaderBytes(CQNF_StdFile& file, uint64_t length) override;

private:
    // Bytes a decoding takes for a picture of the size and PNG colour type:
    // the planes (alpha always) and, for an interlaced picture, the whole
    // picture put together first with its row pointers. The one row a
    // picture in one pass goes through is not counted (see qntCODECLIMITS).
    static uint64_t DecodeBytes(uint64_t width, uint64_t height, uint8_t colourType, bool interlaced);
    bool i_Decode(const void* data, size_t size, bool infoOnly);
    // Error and reason for a stop inside libpng, from its error message and
    // its first warning, over the data being read.
    bool i_Failed(const char* error, const char* warning, const unsigned char* data, size_t size);
    // The fast form's image data and end chunk, after the header chunks.
    bool i_WriteFastData(png_struct_def* png, const PNGWRITE_PARAMS& p, int channels);
    // Flushes the file and reports the end.
    bool i_Finish();

    bool m_hasAlpha = false;
};
