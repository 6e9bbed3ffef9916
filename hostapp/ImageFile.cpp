#include "hostapp/ImageFile.h"

#include "hostapp/SafeFile.h"

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>

#include <jpeglib.h>
#include <png.h>

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
        rgb[c] = static_cast<uint8_t>(cmyk[c] * cmyk[3] / 255);
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

namespace {

bool CheckSize(uint32_t w, uint32_t h, std::string& err)
{
    if (w == 0 || h == 0) {
        err = "the image is empty";
        return false;
    }
    if (w > static_cast<uint32_t>(kMaxImageSide) || h > static_cast<uint32_t>(kMaxImageSide)) {
        err = "the image is larger than 30000 pixels a side";
        return false;
    }
    return true;
}

bool ReadPng(const std::string& path, RasterImage& image, std::string& err)
{
    png_image png;
    std::memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&png, path.c_str())) {
        err = std::string("cannot read PNG: ") + png.message;
        return false;
    }
    if (!CheckSize(png.width, png.height, err)) {
        png_image_free(&png);
        return false;
    }
    const bool color = (png.format & PNG_FORMAT_FLAG_COLOR) != 0;
    const bool alpha = (png.format & PNG_FORMAT_FLAG_ALPHA) != 0;
    png.format = color ? (alpha ? PNG_FORMAT_RGBA : PNG_FORMAT_RGB) : (alpha ? PNG_FORMAT_GA : PNG_FORMAT_GRAY);
    const int channels = (color ? 3 : 1) + (alpha ? 1 : 0);
    const size_t n = static_cast<size_t>(png.width) * png.height;
    std::vector<uint8_t> interleaved(n * channels);
    if (!png_image_finish_read(&png, nullptr, interleaved.data(), 0, nullptr)) {
        err = std::string("cannot read PNG: ") + png.message;
        png_image_free(&png);
        return false;
    }
    image.Allocate(color ? ColorMode::RGB : ColorMode::Gray, static_cast<int>(png.width), static_cast<int>(png.height),
                   alpha);
    for (size_t i = 0; i < n; ++i)
        for (int c = 0; c < channels; ++c)
            image.planes[c][i] = interleaved[i * channels + c];
    return true;
}

struct JpegErrorExit {
    jpeg_error_mgr mgr;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

void OnJpegError(j_common_ptr cinfo)
{
    auto* e = reinterpret_cast<JpegErrorExit*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, e->message);
    std::longjmp(e->jump, 1);
}

void OnJpegMessage(j_common_ptr, int) {}

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

// Everything that must survive the longjmp lives outside the function that
// calls setjmp.
struct JpegReadState {
    jpeg_decompress_struct cinfo;
    JpegErrorExit error;
    std::vector<uint8_t> row;
};

bool DecodeJpeg(std::FILE* f, JpegReadState& s, RasterImage& image, std::string& err)
{
    s.cinfo.err = jpeg_std_error(&s.error.mgr);
    s.error.mgr.error_exit = OnJpegError;
    s.error.mgr.emit_message = OnJpegMessage;
    if (setjmp(s.error.jump)) {
        err = std::string("cannot read JPEG: ") + s.error.message;
        jpeg_destroy_decompress(&s.cinfo);
        return false;
    }
    jpeg_create_decompress(&s.cinfo);
    jpeg_stdio_src(&s.cinfo, f);
    jpeg_read_header(&s.cinfo, TRUE);
    ColorMode mode = ColorMode::RGB;
    if (s.cinfo.jpeg_color_space == JCS_GRAYSCALE) {
        s.cinfo.out_color_space = JCS_GRAYSCALE;
        mode = ColorMode::Gray;
    } else if (s.cinfo.jpeg_color_space == JCS_CMYK || s.cinfo.jpeg_color_space == JCS_YCCK) {
        s.cinfo.out_color_space = JCS_CMYK;
        mode = ColorMode::CMYK;
    } else {
        s.cinfo.out_color_space = JCS_RGB;
    }
    jpeg_start_decompress(&s.cinfo);
    if (!CheckSize(s.cinfo.output_width, s.cinfo.output_height, err)) {
        jpeg_destroy_decompress(&s.cinfo);
        return false;
    }
    const int channels = ColorPlanes(mode);
    if (s.cinfo.output_components != channels) {
        err = "cannot read JPEG: unexpected channel count";
        jpeg_destroy_decompress(&s.cinfo);
        return false;
    }
    image.Allocate(mode, static_cast<int>(s.cinfo.output_width), static_cast<int>(s.cinfo.output_height), false);
    s.row.resize(static_cast<size_t>(s.cinfo.output_width) * channels);
    // Files with the Adobe marker store CMYK inverted, which is the plane
    // form already; others store ink amounts.
    const bool invert = mode == ColorMode::CMYK && !s.cinfo.saw_Adobe_marker;
    while (s.cinfo.output_scanline < s.cinfo.output_height) {
        const size_t y = s.cinfo.output_scanline;
        JSAMPROW rows[1] = {s.row.data()};
        jpeg_read_scanlines(&s.cinfo, rows, 1);
        const size_t base = y * static_cast<size_t>(image.width);
        for (size_t x = 0; x < static_cast<size_t>(image.width); ++x)
            for (int c = 0; c < channels; ++c) {
                const uint8_t v = s.row[x * channels + c];
                image.planes[c][base + x] = invert ? static_cast<uint8_t>(255 - v) : v;
            }
    }
    jpeg_finish_decompress(&s.cinfo);
    jpeg_destroy_decompress(&s.cinfo);
    return true;
}

bool ReadJpeg(const std::string& path, RasterImage& image, std::string& err)
{
    std::unique_ptr<std::FILE, FileCloser> f(std::fopen(path.c_str(), "rb"));
    if (!f) {
        err = "cannot open " + path;
        return false;
    }
    auto state = std::make_unique<JpegReadState>();
    return DecodeJpeg(f.get(), *state, image, err);
}

}  // namespace

bool ReadImageFile(const std::string& path, RasterImage& image, std::string& err)
{
    unsigned char magic[8] = {};
    {
        std::unique_ptr<std::FILE, FileCloser> f(std::fopen(path.c_str(), "rb"));
        if (!f) {
            err = "cannot open " + path;
            return false;
        }
        if (std::fread(magic, 1, sizeof magic, f.get()) < 3) {
            err = path + " is too short to be an image";
            return false;
        }
    }
    static const unsigned char kPng[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    if (std::memcmp(magic, kPng, 8) == 0)
        return ReadPng(path, image, err);
    if (magic[0] == 0xFF && magic[1] == 0xD8 && magic[2] == 0xFF)
        return ReadJpeg(path, image, err);
    err = path + ": unknown image format (PNG and JPEG are read)";
    return false;
}

bool WritePngFile(const std::string& path, const RasterImage& source, std::string& err)
{
    const RasterImage* image = &source;
    RasterImage converted;
    if (source.mode == ColorMode::CMYK) {
        converted = source;
        ConvertImage(converted, ColorMode::RGB);
        image = &converted;
    }
    const int channels = static_cast<int>(image->planes.size());
    const size_t n = image->PixelCount();
    std::vector<uint8_t> interleaved(n * channels);
    for (size_t i = 0; i < n; ++i)
        for (int c = 0; c < channels; ++c)
            interleaved[i * channels + c] = image->planes[c][i];

    png_image png;
    std::memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    png.width = static_cast<png_uint_32>(image->width);
    png.height = static_cast<png_uint_32>(image->height);
    const bool color = image->mode != ColorMode::Gray;
    png.format = color ? (image->hasAlpha ? PNG_FORMAT_RGBA : PNG_FORMAT_RGB)
                       : (image->hasAlpha ? PNG_FORMAT_GA : PNG_FORMAT_GRAY);
    png_alloc_size_t size = 0;
    if (!png_image_write_get_memory_size(png, size, 0, interleaved.data(), 0, nullptr)) {
        err = std::string("cannot encode PNG: ") + png.message;
        return false;
    }
    std::vector<uint8_t> bytes(size);
    if (!png_image_write_to_memory(&png, bytes.data(), &size, 0, interleaved.data(), 0, nullptr)) {
        err = std::string("cannot encode PNG: ") + png.message;
        return false;
    }
    bytes.resize(size);
    return WriteFileAtomically(path, bytes, err);
}

}  // namespace hostapp
