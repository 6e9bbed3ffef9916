#include "imaging/PhotoFacts.h"

#include <libexif/exif-data.h>
#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <vector>

#include <jpeglib.h>

namespace {

constexpr double kCentimetresPerInch = 2.54;
constexpr double kMetresPerInch = 0.0254;
// EXIF resolution units.
constexpr int kExifPerInch = 2;
constexpr int kExifPerCentimetre = 3;

// One EXIF resolution entry in pixels per inch; 0 when it is missing or
// names no size.
double ExifResolution(ExifData* exif, ExifTag tag, int unit, ExifByteOrder order)
{
    ExifEntry* res = exif_data_get_entry(exif, tag);
    if (!res || res->format != EXIF_FORMAT_RATIONAL || res->components < 1)
        return 0.0;
    const ExifRational r = exif_get_rational(res->data, order);
    if (r.denominator == 0 || (unit != kExifPerInch && unit != kExifPerCentimetre))
        return 0.0;
    const double v = static_cast<double>(r.numerator) / r.denominator;
    return unit == kExifPerCentimetre ? v * kCentimetresPerInch : v;
}

// EXIF orientation, and the resolution where the file named none before;
// raw is the APP1 payload ("Exif\0\0" and the TIFF data).
void ReadExif(const unsigned char* raw, size_t size, qntPHOTOFACTS& m)
{
    ExifData* exif = exif_data_new_from_data(raw, static_cast<unsigned int>(size));
    if (!exif)
        return;
    const ExifByteOrder order = exif_data_get_byte_order(exif);
    if (ExifEntry* e = exif_data_get_entry(exif, EXIF_TAG_ORIENTATION);
        e && e->format == EXIF_FORMAT_SHORT && e->components >= 1) {
        const int o = exif_get_short(e->data, order);
        if (o >= 1 && o <= 8)
            m.orientation = o;
    }
    if (m.resolutionX == 0.0) {
        ExifEntry* unit = exif_data_get_entry(exif, EXIF_TAG_RESOLUTION_UNIT);
        const int u = unit && unit->format == EXIF_FORMAT_SHORT ? exif_get_short(unit->data, order) : kExifPerInch;
        const double x = ExifResolution(exif, EXIF_TAG_X_RESOLUTION, u, order);
        const double y = ExifResolution(exif, EXIF_TAG_Y_RESOLUTION, u, order);
        // One of the two alone stands for both.
        m.resolutionX = x > 0.0 ? x : y;
        m.resolutionY = y > 0.0 ? y : x;
    }
    exif_data_unref(exif);
}

// ---- JPEG: JFIF density and the EXIF block, from the header ------------

struct JpegErrors {
    jpeg_error_mgr mgr;
    std::jmp_buf jump;
};

void JpegFail(j_common_ptr cinfo) { std::longjmp(reinterpret_cast<JpegErrors*>(cinfo->err)->jump, 1); }

void JpegQuiet(j_common_ptr, int) {}

// The JFIF density in pixels per inch (units: 1 dots per inch, 2 per
// centimetre, 0 an aspect ratio only, which names no size).
double JfifDensity(unsigned density, int unit)
{
    if (density == 0)
        return 0.0;
    return unit == 1 ? density : unit == 2 ? density * kCentimetresPerInch : 0.0;
}

// A header the library refuses gives no facts (the picture is judged by
// the codec). Nothing with a destructor lives in this frame.
void ReadJpegFacts(const unsigned char* data, size_t size, qntPHOTOFACTS& m)
{
    jpeg_decompress_struct cinfo;
    JpegErrors errors;
    cinfo.err = jpeg_std_error(&errors.mgr);
    errors.mgr.error_exit = JpegFail;
    errors.mgr.emit_message = JpegQuiet;
    if (setjmp(errors.jump)) {
        jpeg_destroy_decompress(&cinfo);
        return;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(size));
    jpeg_save_markers(&cinfo, JPEG_APP0 + 1, 0xFFFF);
    jpeg_read_header(&cinfo, TRUE);
    if (cinfo.saw_JFIF_marker) {
        const double x = JfifDensity(cinfo.X_density, cinfo.density_unit);
        const double y = JfifDensity(cinfo.Y_density, cinfo.density_unit);
        m.resolutionX = x > 0.0 ? x : y;
        m.resolutionY = y > 0.0 ? y : x;
    }
    for (jpeg_saved_marker_ptr marker = cinfo.marker_list; marker; marker = marker->next)
        if (marker->marker == JPEG_APP0 + 1 && marker->data_length > 6 &&
            std::memcmp(marker->data, "Exif\0\0", 6) == 0) {
            ReadExif(marker->data, marker->data_length, m);
            break;
        }
    jpeg_destroy_decompress(&cinfo);
}

// ---- PNG: pHYs and eXIf, from the chunks before the image data ---------

struct PngSource {
    const unsigned char* data;
    size_t size;
    size_t pos;
};

void PngRead(png_structp png, png_bytep out, png_size_t n)
{
    auto* s = static_cast<PngSource*>(png_get_io_ptr(png));
    if (n > s->size - s->pos)
        png_error(png, "truncated");
    std::memcpy(out, s->data + s->pos, n);
    s->pos += n;
}

void PngQuiet(png_structp, png_const_charp) {}

// The eXIf chunk holds the TIFF data alone; libexif reads it after the
// APP1 header a JPEG gives it.
void ReadPngExif(const unsigned char* tiff, size_t size, qntPHOTOFACTS& m)
{
    std::vector<unsigned char> app1(6 + size);
    std::memcpy(app1.data(), "Exif\0\0", 6);
    std::memcpy(app1.data() + 6, tiff, size);
    ReadExif(app1.data(), app1.size(), m);
}

void ReadPngFacts(const unsigned char* data, size_t size, qntPHOTOFACTS& m)
{
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, PngQuiet, PngQuiet);
    if (!png)
        return;
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        return;
    }
    PngSource source{data, size, 0};
    // A chunk the library refuses: no facts. Nothing with a destructor
    // lives until the reading is done.
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        return;
    }
    png_set_read_fn(png, &source, PngRead);
    png_read_info(png, info);
    png_uint_32 x = 0, y = 0;
    int unit = 0;
    if (png_get_pHYs(png, info, &x, &y, &unit) && unit == PNG_RESOLUTION_METER && (x > 0 || y > 0)) {
        m.resolutionX = (x > 0 ? x : y) * kMetresPerInch;
        m.resolutionY = (y > 0 ? y : x) * kMetresPerInch;
    }
    png_bytep exif = nullptr;
    png_uint_32 exifSize = 0;
    png_get_eXIf_1(png, info, &exifSize, &exif);
    std::vector<unsigned char> tiff;
    if (exif && exifSize > 0)
        tiff.assign(exif, exif + exifSize);
    png_destroy_read_struct(&png, &info, nullptr);
    if (!tiff.empty())
        ReadPngExif(tiff.data(), tiff.size(), m);
}

}  // namespace

qntPHOTOFACTS qnJpegPhotoFacts(const unsigned char* data, size_t size)
{
    qntPHOTOFACTS m;
    if (data && size)
        ReadJpegFacts(data, size, m);
    return m;
}

qntPHOTOFACTS qnPngPhotoFacts(const unsigned char* data, size_t size)
{
    qntPHOTOFACTS m;
    if (data && size)
        ReadPngFacts(data, size, m);
    return m;
}

void qnTurnUpright(const unsigned char* in, int width, int height, int orientation, unsigned char* out)
{
    // Upright pixel (x, y) shows stored pixel base + x * dx + y * dy.
    const ptrdiff_t w = width, h = height, last = (h - 1) * w;
    ptrdiff_t base = 0, dx = 1, dy = w;
    switch (orientation) {
    case 2: base = w - 1, dx = -1, dy = w; break;          // mirrored
    case 3: base = last + w - 1, dx = -1, dy = -w; break;  // upside down
    case 4: base = last, dx = 1, dy = -w; break;           // mirrored upside down
    case 5: base = 0, dx = w, dy = 1; break;               // mirrored, turned
    case 6: base = last, dx = -w, dy = 1; break;           // turned a quarter left
    case 7: base = last + w - 1, dx = -w, dy = -1; break;  // mirrored, turned
    case 8: base = w - 1, dx = w, dy = -1; break;          // turned a quarter right
    default: break;
    }
    const bool turned = orientation >= 5 && orientation <= 8;
    const ptrdiff_t ow = turned ? h : w, oh = turned ? w : h;
    for (ptrdiff_t y = 0; y < oh; ++y) {
        const unsigned char* s = in + base + y * dy;
        unsigned char* d = out + y * ow;
        for (ptrdiff_t x = 0; x < ow; ++x)
            d[x] = s[x * dx];
    }
}
