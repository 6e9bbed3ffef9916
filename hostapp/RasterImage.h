// Image files of the stand-in host: PNG, JPEG and PSD in, PNG out, through
// the system's codecs (imaging/ImageFile.h).
//
// Limits: 8 bits per channel in memory (16-bit PNG is reduced to 8 bits);
// at most 30,000 pixels a side; CMYK only from JPEG and PSD, and written to
// PNG after a plain conversion to RGB.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class CQNF_ImageFile;

namespace hostapp {

// Largest width or height the host accepts.
inline constexpr int kMaxImageSide = 30000;

enum class ColorMode { Gray, RGB, CMYK };

int ColorPlanes(ColorMode mode);

// A planar 8-bit picture: the colour planes of the mode, then alpha when
// hasAlpha. CMYK planes are in plane form (255 = no ink).
struct RasterImage {
    ColorMode mode = ColorMode::RGB;
    int width = 0;
    int height = 0;
    bool hasAlpha = false;
    std::vector<std::vector<uint8_t>> planes;

    size_t PixelCount() const { return static_cast<size_t>(width) * static_cast<size_t>(height); }
    // Sizes the planes for the mode and alpha flag, all bytes set to fill.
    void Allocate(ColorMode m, int w, int h, bool alpha, uint8_t fill = 0);
};

// Reads a picture as every program does (CQNF_ImageFile::Load): a PNG,
// JPEG or PSD, told apart by their signatures, a photo upright by its EXIF
// orientation, a PSD as its merged image (refused where its layers are
// damaged); CMYK comes in plane form whichever convention the file uses.
// On failure returns false with a one-line reason in err.
bool ReadImageFile(const std::string& path, RasterImage& image, std::string& err);

// Writes a PNG: gray, gray + alpha, RGB or RGBA, with its resolution in
// pixels per inch across and down (0 down: as across). A CMYK image is
// converted to RGB first (RGBFromCMYK). An existing file is replaced only
// by a complete new one.
bool WritePngFile(const std::string& path, const RasterImage& image, std::string& err, double resolution = 72.0,
                  double resolutionY = 0.0);

// The plain conversions the host uses where no colour management is wanted.
// CMYK values are in plane form.
uint8_t GrayFromRGB(uint8_t r, uint8_t g, uint8_t b);
void RGBFromCMYK(const uint8_t cmyk[4], uint8_t rgb[3]);
void CMYKFromRGB(const uint8_t rgb[3], uint8_t cmyk[4]);

// The mode a loaded picture (or its header) comes in.
ColorMode ColorModeOf(const CQNF_ImageFile& file);

// The picture a codec file has loaded, as a host image (alpha only where
// the file has transparency).
void ImageFromFile(const CQNF_ImageFile& file, RasterImage& image);

// Converts an image to another colour mode in place (alpha is kept).
void ConvertImage(RasterImage& image, ColorMode to);

// The image's first colour plane as a gray mask (for selections and
// channels); an RGB image gives its gray value, alpha is ignored.
std::vector<uint8_t> GrayPlaneOf(const RasterImage& image);

}  // namespace hostapp
