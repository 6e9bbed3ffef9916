#include "hostapp/PsdDocument.h"

#include "core/ErrorWords.h"
#include "hostapp/RasterImage.h"
#include "imaging/ImageFile.h"
#include "imaging/PSDCodec.h"

#include <cstring>

namespace hostapp {

namespace {

// Whether a layer with pixels reaches beyond a canvas of w x h.
bool Beyond(const CQNF_ImagePSD::PSDLayerInfoExt_s& info, int w, int h)
{
    return info.width && info.height &&
           (info.left < 0 || info.top < 0 || int64_t{info.left} + info.width > w || int64_t{info.top} + info.height > h);
}

}  // namespace

bool ReadPsdDocument(const std::string& path, HostDocument& doc, std::string& err, std::string* note)
{
    CQNF_ImageFile file;
    if (!file.Load(path, CQNF_ImageFile::KindPSD, kMaxImageSide)) {
        err = file.Reason();
        return false;
    }
    return DocumentFromPsd(file, path, doc, err, note);
}

bool DocumentFromPsd(CQNF_ImageFile& file, const std::string& path, HostDocument& doc, std::string& err,
                     std::string* note)
{
    RasterImage merged;
    ImageFromFile(file, merged);
    // The codec's copy of the merged image has been taken over.
    for (signed char k = -1; k < 4; ++k)
        if (CQNF_Mem* plane = file.GetReader()->GetImageDataMem(k))
            plane->free();
    const ColorMode mode = merged.mode;
    const int w = merged.width, h = merged.height;
    const int colours = ColorPlanes(mode);

    doc = HostDocument{};
    doc.mode = mode;
    doc.width = w;
    doc.height = h;
    // The layers, from the copy of the file the merged image came from.
    auto& psd = static_cast<CQNF_ImagePSD&>(*file.GetReader());
    bool flat = false;
    if (!psd.LParseLayersLocal()) {
        const std::string why = psd.GetReason().empty() ? qnErrorText(psd.GetError()) : psd.GetReason();
        if (!note || psd.GetError() != qncodec::ErrUnsupported) {
            err = path + ": cannot read the PSD layers: " + why;
            return false;
        }
        *note = path + ": the layers are not read (" + why + "); the merged image is opened as one layer";
        doc.unkept = "the input's layers (" + why + ")";
        flat = true;
    }
    // Every layer is decoded: the file's bytes are needed no more.
    psd.GetLocalCopy().free();
    // Each layer lives on the canvas, whatever its own size: the document
    // they make is checked before any of them is placed there.
    // A layer reaching beyond the canvas is kept whole besides.
    uint32_t pixelLayers = 0;
    uint64_t beyondPixels = 0;
    bool groups = false;
    for (uint32_t i = 0; !flat && i < psd.GetLayersCount(); ++i) {
        CQNF_ImagePSD::PSDLayerInfoExt_s info{};
        if (!psd.GetLayerInfo(i, info))
            continue;
        groups = groups || info.folder || info.sectionEnd;
        pixelLayers += !info.folder && !info.sectionEnd;
        if (!info.folder && !info.sectionEnd && Beyond(info, w, h))
            beyondPixels += uint64_t{info.width} * info.height;
    }
    if (groups)
        doc.unkept = "the input's layer groups";
    if (!doc.Fits((uint64_t{pixelLayers} * doc.PixelCount() + beyondPixels) * uint64_t(colours + 1), err)) {
        err = path + ": " + err;
        return false;
    }
    if (pixelLayers > 0)
        merged = RasterImage{};
    for (uint32_t i = 0; !flat && i < psd.GetLayersCount(); ++i) {
        CQNF_ImagePSD::PSDLayerInfoExt_s info{};
        if (!psd.GetLayerInfo(i, info) || info.folder || info.sectionEnd)
            continue;
        HostLayer layer;
        layer.id = static_cast<int32_t>(doc.layers.size() + 1);
        layer.name = info.name ? info.name : "";
        layer.visible = info.visible != 0;
        layer.opacity = info.opacity;
        // The filter sees the canvas part; the whole layer stays beside it.
        layer.pixels.Allocate(mode, w, h, true, 0);
        if (Beyond(info, w, h)) {
            layer.beyond.Allocate(mode, static_cast<int>(info.width), static_cast<int>(info.height), true, 0);
            layer.beyondLeft = info.left;
            layer.beyondTop = info.top;
            const size_t n = layer.beyond.PixelCount();
            for (int c = 0; c < colours; ++c)
                if (info.planes[c])
                    std::memcpy(layer.beyond.planes[static_cast<size_t>(c)].data(), info.planes[c]->GetPtr(), n);
            if (info.transparency)
                std::memcpy(layer.beyond.planes[static_cast<size_t>(colours)].data(), info.transparency->GetPtr(), n);
            else
                std::memset(layer.beyond.planes[static_cast<size_t>(colours)].data(), 255, n);
        }
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
        // The codec's planes of the layer, placed, are needed no more.
        for (CQNF_Mem* plane : info.planes)
            if (plane)
                plane->free();
        if (info.transparency)
            info.transparency->free();
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
