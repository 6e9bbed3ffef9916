#include "hostapp/RasterImage.h"

#include "core/ErrorWords.h"
#include "imaging/ImageFile.h"


namespace hostapp {

int ColorPlanes(ColorMode mode)
{
    switch (mode) {
    case ColorMode::Gray:
        return 1;
    case ColorMode::RGB:
        return 3;
    case ColorMode::CMYK:
        return 4;
    }
    return 3;
}

void RasterImage::Allocate(ColorMode m, int w, int h, bool alpha, uint8_t fill)
{
    mode = m;
    width = w;
    height = h;
    hasAlpha = alpha;
    planes.assign(static_cast<size_t>(ColorPlanes(m) + (alpha ? 1 : 0)),
                  std::vector<uint8_t>(static_cast<size_t>(w) * static_cast<size_t>(h), fill));
}

uint8_t GrayFromRGB(uint8_t r, uint8_t g, uint8_t b)
{
    return static_cast<uint8_t>((r + g + b) / 3);
}

void RGBFromCMYK(const uint8_t cmyk[4], uint8_t rgb[3])
{
    for (int c = 0; c < 3; ++c)
        rgb[c] = qncodec::RGBFromCMYK(cmyk[c], cmyk[3]);
}

void CMYKFromRGB(const uint8_t rgb[3], uint8_t cmyk[4])
{
    cmyk[0] = rgb[0];
    cmyk[1] = rgb[1];
    cmyk[2] = rgb[2];
    cmyk[3] = 255;
}

void ConvertImage(RasterImage& image, ColorMode to)
{
    if (image.mode == to)
        return;
    const size_t n = image.PixelCount();
    RasterImage out;
    out.Allocate(to, image.width, image.height, image.hasAlpha);
    for (size_t i = 0; i < n; ++i) {
        uint8_t rgb[3];
        switch (image.mode) {
        case ColorMode::Gray:
            rgb[0] = rgb[1] = rgb[2] = image.planes[0][i];
            break;
        case ColorMode::RGB:
            for (int c = 0; c < 3; ++c)
                rgb[c] = image.planes[c][i];
            break;
        case ColorMode::CMYK: {
            const uint8_t cmyk[4] = {image.planes[0][i], image.planes[1][i], image.planes[2][i], image.planes[3][i]};
            RGBFromCMYK(cmyk, rgb);
            break;
        }
        }
        switch (to) {
        case ColorMode::Gray:
            out.planes[0][i] = GrayFromRGB(rgb[0], rgb[1], rgb[2]);
            break;
        case ColorMode::RGB:
            for (int c = 0; c < 3; ++c)
                out.planes[c][i] = rgb[c];
            break;
        case ColorMode::CMYK: {
            uint8_t cmyk[4];
            CMYKFromRGB(rgb, cmyk);
            for (int c = 0; c < 4; ++c)
                out.planes[c][i] = cmyk[c];
            break;
        }
        }
    }
    if (image.hasAlpha)
        out.planes.back() = std::move(image.planes.back());
    image = std::move(out);
}

std::vector<uint8_t> GrayPlaneOf(const RasterImage& image)
{
    if (image.mode == ColorMode::Gray)
        return image.planes[0];
    RasterImage copy = image;
    ConvertImage(copy, ColorMode::Gray);
    return std::move(copy.planes[0]);
}

bool ReadImageFile(const std::string& path, RasterImage& image, std::string& err)
{
    CQNF_ImageFile file;
    if (!file.Load(path, CQNF_ImageFile::AllKinds, kMaxImageSide)) {
        err = file.Reason();
        return false;
    }
    ImageFromFile(file, image);
    return true;
}

ColorMode ColorModeOf(const CQNF_ImageFile& file)
{
    return file.GetMode() == qncodec::ModeGrey   ? ColorMode::Gray
           : file.GetMode() == qncodec::ModeCMYK ? ColorMode::CMYK
                                                 : ColorMode::RGB;
}

void ImageFromFile(const CQNF_ImageFile& file, RasterImage& image)
{
    const ColorMode mode = ColorModeOf(file);
    image.mode = mode;
    image.width = file.GetWidth();
    image.height = file.GetHeight();
    image.hasAlpha = file.HasAlpha();
    // Each plane is made as a copy of the codec's: no pass that clears it
    // first (a 24-megapixel picture's planes are 72 MB written once, not twice).
    const size_t n = image.PixelCount();
    const int colours = ColorPlanes(mode);
    image.planes.clear();
    image.planes.reserve(static_cast<size_t>(colours + (image.hasAlpha ? 1 : 0)));
    auto copy = [&](signed char index) {
        const unsigned char* p = file.GetPlane(index);
        image.planes.emplace_back(p, p + n);
    };
    for (int c = 0; c < colours; ++c)
        copy(static_cast<signed char>(c));
    if (image.hasAlpha)
        copy(qncodec::PlaneAlpha);
}

bool WritePngFile(const std::string& path, const RasterImage& image, std::string& err, double resolution,
                  double resolutionY)
{
    if (image.width < 1 || image.height < 1 || image.width > kMaxImageSide || image.height > kMaxImageSide) {
        err = "cannot write " + path + ": the image must be 1 to 30000 pixels a side";
        return false;
    }
    const uint8_t mode = image.mode == ColorMode::Gray   ? qncodec::ModeGrey
                         : image.mode == ColorMode::CMYK ? qncodec::ModeCMYK
                                                         : qncodec::ModeColour;
    const unsigned char* planes[4] = {};
    for (int c = 0; c < ColorPlanes(image.mode); ++c)
        planes[c] = image.planes[static_cast<size_t>(c)].data();
    const unsigned char* alpha = image.hasAlpha ? image.planes.back().data() : nullptr;
    unsigned short error = 0;
    if (!qnCodecSavePNG(path.c_str(), static_cast<uint16_t>(image.width), static_cast<uint16_t>(image.height), mode,
                        planes, alpha, static_cast<uint32_t>(image.width), resolution, resolutionY, "tessolo-host", error,
                        image.hasAlpha)) {
        err = qnFileFailure(path, true, error);
        return false;
    }
    return true;
}

}  // namespace hostapp
