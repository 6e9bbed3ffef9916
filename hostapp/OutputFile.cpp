#include "hostapp/OutputFile.h"

#include "core/ErrorWords.h"
#include "core/SafeFile.h"
#include "imaging/ImageFile.h"
#include "imaging/PSDCodec.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include <jpeglib.h>

namespace hostapp {

namespace {

std::string Lower(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

// ---- JPEG ---------------------------------------------------------------

struct JpegErrors {
    jpeg_error_mgr mgr;
    std::jmp_buf jump;
};

void JpegFail(j_common_ptr cinfo)
{
    std::longjmp(reinterpret_cast<JpegErrors*>(cinfo->err)->jump, 1);
}

// Encodes interleaved rows into a malloc'd buffer (the caller frees it).
// Nothing with a destructor lives in this frame.
bool EncodeJpeg(const uint8_t* pixels, int width, int height, int components, int quality, double resolution,
                double resolutionY, unsigned char** out, unsigned long* outSize)
{
    jpeg_compress_struct cinfo;
    JpegErrors errors;
    cinfo.err = jpeg_std_error(&errors.mgr);
    errors.mgr.error_exit = JpegFail;
    if (setjmp(errors.jump)) {
        jpeg_destroy_compress(&cinfo);
        return false;
    }
    jpeg_create_compress(&cinfo);
    jpeg_mem_dest(&cinfo, out, outSize);
    cinfo.image_width = static_cast<JDIMENSION>(width);
    cinfo.image_height = static_cast<JDIMENSION>(height);
    cinfo.input_components = components;
    cinfo.in_color_space = components == 1 ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    // JFIF density in dots per inch, the field's 16 bits at most.
    cinfo.write_JFIF_header = TRUE;
    cinfo.density_unit = 1;
    cinfo.X_density = static_cast<UINT16>(std::clamp(std::round(resolution), 1.0, 65535.0));
    cinfo.Y_density = static_cast<UINT16>(std::clamp(std::round(resolutionY), 1.0, 65535.0));
    jpeg_start_compress(&cinfo, TRUE);
    const size_t rowBytes = static_cast<size_t>(width) * static_cast<size_t>(components);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(pixels + cinfo.next_scanline * rowBytes);
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return true;
}

bool WriteJpeg(const std::string& path, const RasterImage& layer, double resolution, double resolutionY, int quality,
               std::string& err)
{
    // JPEG has no transparency: the layer is laid over white, as editors
    // export it. CMYK goes the plain way to RGB.
    RasterImage image = layer;
    if (image.mode == ColorMode::CMYK)
        ConvertImage(image, ColorMode::RGB);
    const int colours = ColorPlanes(image.mode);
    const size_t n = image.PixelCount();
    std::vector<uint8_t> pixels(n * static_cast<size_t>(colours));
    for (size_t i = 0; i < n; ++i) {
        const unsigned a = image.hasAlpha ? image.planes.back()[i] : 255u;
        for (int c = 0; c < colours; ++c)
            pixels[i * colours + c] =
                static_cast<uint8_t>((image.planes[static_cast<size_t>(c)][i] * a + 255u * (255u - a) + 127u) / 255u);
    }
    unsigned char* encoded = nullptr;
    unsigned long size = 0;
    const bool ok = EncodeJpeg(pixels.data(), image.width, image.height, colours, quality, resolution, resolutionY,
                               &encoded, &size);
    unsigned short error = ok ? qnReplaceFile(path, encoded, size) : qnerr::NoMemory;
    std::free(encoded);
    if (error != 0) {
        err = qnFileFailure(path, true, error);
        return false;
    }
    return true;
}

// ---- PSD ----------------------------------------------------------------

// A layer kept whole beyond the canvas, with its canvas part as it is now.
RasterImage WholeLayer(const HostLayer& layer, int width, int height)
{
    RasterImage whole = layer.beyond;
    const int x0 = std::max(0, layer.beyondLeft), x1 = std::min(width, layer.beyondLeft + whole.width);
    const int y0 = std::max(0, layer.beyondTop), y1 = std::min(height, layer.beyondTop + whole.height);
    for (size_t c = 0; c < whole.planes.size(); ++c)
        for (int y = y0; y < y1 && x0 < x1; ++y) {
            uint8_t* to = whole.planes[c].data() + size_t(y - layer.beyondTop) * size_t(whole.width) +
                          size_t(x0 - layer.beyondLeft);
            if (c < layer.pixels.planes.size())
                std::memcpy(to, layer.pixels.planes[c].data() + size_t(y) * size_t(width) + size_t(x0), size_t(x1 - x0));
            else
                std::memset(to, 255, size_t(x1 - x0));
        }
    return whole;
}

bool WritePsd(const std::string& path, const HostDocument& doc, std::string& err)
{
    err = DocumentRefusal(path, OutputKind::PSD, doc);
    if (!err.empty())
        return false;
    const int colours = ColorPlanes(doc.mode);
    CQNF_ImagePSD psd;
    CQNF_ImagePSD::PSDMLWRITE_INITPARAMS init;
    init.width = static_cast<uint16_t>(doc.width);
    init.height = static_cast<uint16_t>(doc.height);
    init.mode = doc.mode == ColorMode::Gray ? qncodec::ModeGrey
                : doc.mode == ColorMode::CMYK ? qncodec::ModeCMYK
                                              : qncodec::ModeColour;
    init.resolution = doc.resolution;
    init.resolutionY = doc.VerticalResolution();
    if (!psd.Write_Init(&init)) {
        err = qnFileFailure(path, true, psd.GetError());
        return false;
    }
    // Every layer carries a transparency plane; an opaque one gets a full one.
    const std::vector<uint8_t> opaque(doc.PixelCount(), 255);
    // A layer kept whole beyond the canvas is written whole, its canvas
    // part as the filter left it; the copies live until the file is written.
    std::vector<RasterImage> wholes;
    wholes.reserve(doc.layers.size());
    for (const HostLayer& layer : doc.layers) {
        CQNF_ImagePSD::PSDMLWRITE_LAYERPARAMS p;
        p.width = init.width;
        p.height = init.height;
        p.visible = layer.visible ? 1 : 0;
        p.opacity = layer.opacity;
        std::strncpy(p.name, layer.name.c_str(), sizeof p.name - 1);
        const RasterImage* image = &layer.pixels;
        if (!layer.beyond.planes.empty()) {
            wholes.push_back(WholeLayer(layer, doc.width, doc.height));
            image = &wholes.back();
            p.width = static_cast<uint16_t>(image->width);
            p.height = static_cast<uint16_t>(image->height);
            p.x = static_cast<int16_t>(layer.beyondLeft);
            p.y = static_cast<int16_t>(layer.beyondTop);
        }
        unsigned char* planes[5] = {};
        for (int c = 0; c < colours; ++c)
            planes[c] = const_cast<unsigned char*>(image->planes[static_cast<size_t>(c)].data());
        planes[colours] =
            const_cast<unsigned char*>(image->hasAlpha ? image->planes.back().data() : opaque.data());
        if (!psd.Write_AddLayer(&p, planes, p.width)) {
            err = qnFileFailure(path, true, psd.GetError());
            return false;
        }
    }
    CQNF_SafeFile out;
    if (!out.Open(path) || !psd.Create(out.File()) || !psd.WritePSD() || !out.Commit()) {
        const unsigned short error = psd.GetError() ? psd.GetError() : out.GetError();
        err = qnFileFailure(path, true, error ? error : qnerr::FileWrite);
        return false;
    }
    return true;
}

}  // namespace

std::string DocumentRefusal(const std::string& output, OutputKind kind, const HostDocument& doc)
{
    if (kind != OutputKind::PSD)
        return {};
    if (doc.layers.size() > CQNF_ImagePSD::MaxLayers)
        return output + ": a PSD file holds at most " + std::to_string(CQNF_ImagePSD::MaxLayers) +
               " layers and the document has " + std::to_string(doc.layers.size()) +
               "; write a PNG or JPEG (the filtered layer) instead";
    if (!doc.unkept.empty())
        return output + ": the PSD would lose " + doc.unkept +
               ", which the host does not keep; write a PNG or JPEG (the filtered layer) instead";
    for (const HostLayer& layer : doc.layers)
        if (!layer.beyond.planes.empty() &&
            (layer.beyondLeft < INT16_MIN || layer.beyondLeft > INT16_MAX || layer.beyondTop < INT16_MIN ||
             layer.beyondTop > INT16_MAX))
            return output + ": layer \"" + layer.name + "\" lies at " + std::to_string(layer.beyondLeft) + "," +
                   std::to_string(layer.beyondTop) + ", beyond the -32768 to 32767 a written PSD layer may lie at";
    return {};
}

OutputKind OutputKindOf(const std::string& path)
{
    const std::string ext = Lower(std::filesystem::path(path).extension().string());
    if (ext == ".png")
        return OutputKind::PNG;
    if (ext == ".jpg" || ext == ".jpeg")
        return OutputKind::JPEG;
    if (ext == ".psd")
        return OutputKind::PSD;
    return OutputKind::None;
}

std::string OutputRefusal(const std::string& output, const std::vector<std::string>& inputs,
                          bool takesStandardOutput)
{
    if (std::string why = qnInputRefusal(output, inputs); !why.empty())
        return why;
    if (std::string why = qnTargetRefusal(output, takesStandardOutput); !why.empty())
        return why;
    // What the gate will refuse at the end (the program's own file, say)
    // is told before any work too.
    return qnWriteRefusal(output, QnWrite::Output, takesStandardOutput).Line();
}

bool WriteOutput(const std::string& path, OutputKind kind, const HostDocument& doc, int quality, std::string& err)
{
    switch (kind) {
    case OutputKind::PNG:
        return WritePngFile(path, doc.Target().pixels, err, doc.resolution, doc.VerticalResolution());
    case OutputKind::JPEG:
        return WriteJpeg(path, doc.Target().pixels, doc.resolution, doc.VerticalResolution(), quality, err);
    case OutputKind::PSD:
        return WritePsd(path, doc, err);
    case OutputKind::None:
        break;
    }
    err = path + ": the name must end in .png, .jpg, .jpeg or .psd";
    return false;
}

}  // namespace hostapp
