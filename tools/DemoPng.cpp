#include "tools/DemoPng.h"

#include <png.h>

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

// Everything libpng may jump out of lives in this function with trivially
// destructible locals only; the rows are prepared by the caller.
bool EncodeRows(FILE* f, unsigned width, unsigned height, int colourType, unsigned char** rows)
{
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (!png)
        return false;
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_init_io(png, f);
    png_set_IHDR(png, info, width, height, 8, colourType, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    png_write_image(png, rows);
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return true;
}

}  // namespace

namespace tool {

bool WriteImagePng(CQNF_Image& image, const std::string& path, std::string& error)
{
    const unsigned w = image.GetImageWidth();
    const unsigned h = image.GetImageHeight();
    const unsigned channels = image.GetImageMode() == qnimg::ModeRGBA ? 4 : 3;
    if (!image.HasPixels() || (image.GetImageMode() != qnimg::ModeRGB && channels != 4)) {
        error = "no RGB or RGBA picture to write";
        return false;
    }
    // Planar to interleaved.
    std::vector<unsigned char> pixels(size_t(w) * h * channels);
    for (unsigned p = 0; p < channels; ++p) {
        const unsigned char* src = image.GetPlane(p);
        for (size_t i = 0; i < size_t(w) * h; ++i)
            pixels[i * channels + p] = src[i];
    }
    std::vector<unsigned char*> rows(h);
    for (unsigned y = 0; y < h; ++y)
        rows[y] = pixels.data() + size_t(y) * w * channels;

    const std::string tmp = path + ".tmp";
    FILE* f = std::fopen(tmp.c_str(), "wb");
    if (!f) {
        error = "cannot create " + tmp + ": " + std::strerror(errno);
        return false;
    }
    const bool encoded =
        EncodeRows(f, w, h, channels == 4 ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB, rows.data());
    const bool closed = std::fclose(f) == 0;
    if (!encoded || !closed || std::rename(tmp.c_str(), path.c_str()) != 0) {
        std::remove(tmp.c_str());
        error = "cannot write " + path;
        return false;
    }
    return true;
}

}  // namespace tool
