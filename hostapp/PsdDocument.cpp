#include "hostapp/PsdDocument.h"

#include "hostapp/SafeFile.h"
#include "imaging/PSDCodec.h"

#include <cstdio>
#include <cstring>

namespace hostapp {

bool IsPsdFile(const std::string& path)
{
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
        return false;
    char magic[4] = {};
    const bool psd = std::fread(magic, 1, 4, f) == 4 && std::memcmp(magic, "8BPS", 4) == 0;
    std::fclose(f);
    return psd;
}

bool ReadPsdDocument(const std::string& path, HostDocument& doc, std::string& err)
{
    std::vector<uint8_t> bytes;
    if (!ReadWholeFile(path, bytes, err))
        return false;
    CQNF_ImagePSD psd;
    if (!psd.ParseImageByPtr(bytes.data(), bytes.size())) {
        err = path + ": cannot read PSD (error " + std::to_string(psd.GetError()) + ")";
        return false;
    }
    unsigned short w = 0, h = 0;
    psd.GetMainImageSize(w, h);
    if (w > kMaxImageSide || h > kMaxImageSide) {
        err = path + ": the image is larger than 30000 pixels a side";
        return false;
    }
    ColorMode mode;
    switch (psd.GetImageMode()) {
    case qncodec::ModeGrey:
        mode = ColorMode::Gray;
        break;
    case qncodec::ModeCMYK:
        mode = ColorMode::CMYK;
        break;
    default:
        mode = ColorMode::RGB;
        break;
    }
    const int colours = ColorPlanes(mode);
    RasterImage merged;
    merged.Allocate(mode, w, h, false);
    for (int c = 0; c < colours; ++c)
        std::memcpy(merged.planes[static_cast<size_t>(c)].data(), psd.GetImageDataPtr(static_cast<signed char>(c)),
                    merged.PixelCount());

    doc = HostDocument{};
    doc.mode = mode;
    doc.width = w;
    doc.height = h;
    if (!psd.LParseByPtr(bytes.data(), bytes.size())) {
        err = path + ": cannot read the PSD layers (error " + std::to_string(psd.GetError()) + ")";
        return false;
    }
    for (uint32_t i = 0; i < psd.GetLayersCount(); ++i) {
        CQNF_ImagePSD::PSDLayerInfoExt_s info{};
        if (!psd.GetLayerInfo(i, info) || info.folder || info.sectionEnd)
            continue;
        HostLayer layer;
        layer.id = static_cast<int32_t>(doc.layers.size() + 1);
        layer.name = info.name ? info.name : "";
        layer.visible = info.visible != 0;
        layer.opacity = info.opacity;
        // Layers live on the canvas; what lies outside it is cut off.
        layer.pixels.Allocate(mode, w, h, true, 0);
        for (uint32_t y = 0; y < info.height; ++y) {
            const int64_t cy = int64_t{info.top} + y;
            if (cy < 0 || cy >= h)
                continue;
            for (uint32_t x = 0; x < info.width; ++x) {
                const int64_t cx = int64_t{info.left} + x;
                if (cx < 0 || cx >= w)
                    continue;
                const size_t src = static_cast<size_t>(y) * info.width + x;
                const size_t dst = static_cast<size_t>(cy) * w + static_cast<size_t>(cx);
                for (int c = 0; c < colours; ++c)
                    if (info.planes[c])
                        layer.pixels.planes[static_cast<size_t>(c)][dst] = info.planes[c]->GetPtr()[src];
                layer.pixels.planes[static_cast<size_t>(colours)][dst] =
                    info.transparency ? info.transparency->GetPtr()[src] : 255;
            }
        }
        doc.layers.push_back(std::move(layer));
    }
    if (doc.layers.empty()) {
        HostLayer background;
        background.id = 1;
        background.name = "Background";
        background.pixels = std::move(merged);
        doc.layers.push_back(std::move(background));
    }
    doc.target = doc.layers.size() - 1;
    return true;
}

}  // namespace hostapp
