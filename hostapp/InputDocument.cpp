#include "hostapp/InputDocument.h"

#include "hostapp/PsdDocument.h"
#include "imaging/ImageFile.h"
#include "imaging/PSDCodec.h"

#include <libexif/exif-data.h>
#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <vector>

#include <jpeglib.h>

namespace hostapp {

namespace {

constexpr double kCentimetresPerInch = 2.54;
constexpr double kMetresPerInch = 0.0254;
// EXIF resolution units.
constexpr int kExifPerInch = 2;
constexpr int kExifPerCentimetre = 3;

// What a picture's metadata says.
struct Metadata {
    double resolution = 0.0;
    int orientation = 1;
};

// EXIF orientation and resolution; raw is the APP1 payload ("Exif\0\0" and
// the TIFF data).
void ReadExif(const unsigned char* raw, size_t size, Metadata& m)
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
    ExifEntry* res = exif_data_get_entry(exif, EXIF_TAG_X_RESOLUTION);
    ExifEntry* unit = exif_data_get_entry(exif, EXIF_TAG_RESOLUTION_UNIT);
    if (m.resolution == 0.0 && res && res->format == EXIF_FORMAT_RATIONAL && res->components >= 1) {
        const ExifRational r = exif_get_rational(res->data, order);
        const int u = unit && unit->format == EXIF_FORMAT_SHORT ? exif_get_short(unit->data, order) : kExifPerInch;
        if (r.denominator != 0 && (u == kExifPerInch || u == kExifPerCentimetre)) {
            const double v = static_cast<double>(r.numerator) / r.denominator;
            m.resolution = u == kExifPerCentimetre ? v * kCentimetresPerInch : v;
        }
    }
    exif_data_unref(exif);
}

// ---- JPEG: JFIF density and the EXIF block, from the header ------------

struct JpegErrors {
    jpeg_error_mgr mgr;
    std::jmp_buf jump;
};

void JpegFail(j_common_ptr cinfo)
{
    std::longjmp(reinterpret_cast<JpegErrors*>(cinfo->err)->jump, 1);
}

void JpegQuiet(j_common_ptr, int) {}

// The header's facts; a header the library refuses gives none (the picture
// itself was decoded already). Nothing with a destructor lives in this frame.
void ReadJpegMetadata(const unsigned char* data, size_t size, Metadata& m)
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
    if (cinfo.saw_JFIF_marker && cinfo.X_density > 0) {
        // Units: 1 dots per inch, 2 per centimetre, 0 an aspect ratio only.
        if (cinfo.density_unit == 1)
            m.resolution = cinfo.X_density;
        else if (cinfo.density_unit == 2)
            m.resolution = cinfo.X_density * kCentimetresPerInch;
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
void ReadPngExif(const unsigned char* tiff, size_t size, Metadata& m)
{
    std::vector<unsigned char> app1(6 + size);
    std::memcpy(app1.data(), "Exif\0\0", 6);
    std::memcpy(app1.data() + 6, tiff, size);
    ReadExif(app1.data(), app1.size(), m);
}

void ReadPngMetadata(const unsigned char* data, size_t size, Metadata& m)
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
    // A chunk the library refuses: no facts (the picture was decoded
    // already). Nothing with a destructor lives until the reading is done.
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        return;
    }
    png_set_read_fn(png, &source, PngRead);
    png_read_info(png, info);
    png_uint_32 x = 0, y = 0;
    int unit = 0;
    if (png_get_pHYs(png, info, &x, &y, &unit) && unit == PNG_RESOLUTION_METER && x > 0)
        m.resolution = x * kMetresPerInch;
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

// What a loaded PNG or JPEG says of itself.
Metadata PhotoMetadata(CQNF_ImageFile& file)
{
    Metadata m;
    if (file.GetKind() != CQNF_ImageFile::KindJPEG && file.GetKind() != CQNF_ImageFile::KindPNG)
        return m;
    CQNF_Mem& bytes = file.GetReader()->GetLocalCopy();
    if (file.GetKind() == CQNF_ImageFile::KindJPEG)
        ReadJpegMetadata(bytes.GetPtr(), bytes.GetSize(), m);
    else
        ReadPngMetadata(bytes.GetPtr(), bytes.GetSize(), m);
    return m;
}

}  // namespace

int PhotoOrientation(CQNF_ImageFile& file) { return PhotoMetadata(file).orientation; }

void ApplyOrientation(RasterImage& image, int orientation)
{
    if (orientation < 2 || orientation > 8)
        return;
    const int w = image.width, h = image.height;
    const bool turned = orientation >= 5;
    const int ow = turned ? h : w, oh = turned ? w : h;
    // The stored pixel each upright pixel (x, y) shows.
    auto source = [&](int x, int y) -> size_t {
        int sx = x, sy = y;
        switch (orientation) {
        case 2: sx = w - 1 - x; break;                   // mirrored
        case 3: sx = w - 1 - x; sy = h - 1 - y; break;   // upside down
        case 4: sy = h - 1 - y; break;                   // mirrored upside down
        case 5: sx = y; sy = x; break;                   // mirrored, turned
        case 6: sx = y; sy = h - 1 - x; break;           // turned a quarter left
        case 7: sx = w - 1 - y; sy = h - 1 - x; break;   // mirrored, turned
        case 8: sx = w - 1 - y; sy = x; break;           // turned a quarter right
        default: break;
        }
        return static_cast<size_t>(sy) * static_cast<size_t>(w) + static_cast<size_t>(sx);
    };
    for (std::vector<uint8_t>& plane : image.planes) {
        std::vector<uint8_t> out(plane.size());
        size_t i = 0;
        for (int y = 0; y < oh; ++y)
            for (int x = 0; x < ow; ++x)
                out[i++] = plane[source(x, y)];
        plane = std::move(out);
    }
    image.width = ow;
    image.height = oh;
}

bool LoadInputDocument(const std::string& path, HostDocument& doc, InputFacts& facts, std::string& err)
{
    CQNF_ImageFile file;
    if (!file.Load(path, CQNF_ImageFile::AllKinds, kMaxImageSide)) {
        err = file.Reason();
        return false;
    }
    facts = InputFacts{};
    if (file.GetKind() == CQNF_ImageFile::KindPSD) {
        auto& psd = static_cast<CQNF_ImagePSD&>(*file.GetReader());
        facts.resolution = psd.GetResolution();
        return DocumentFromPsd(file, path, doc, err, &facts.note);
    }
    const Metadata m = PhotoMetadata(file);
    RasterImage image;
    ImageFromFile(file, image);
    ApplyOrientation(image, m.orientation);
    facts.resolution = m.resolution;
    facts.orientation = m.orientation;
    doc = HostDocument::FromImage(std::move(image), "Layer 1");
    return true;
}

}  // namespace hostapp
