#include "hostapp/PsdDocument.h"

#include "core/ErrorWords.h"
#include "hostapp/RasterImage.h"
#include "imaging/ImageFile.h"
#include "imaging/PSDCodec.h"

namespace hostapp {

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
    if (!psd.LParseLocal()) {
        const std::string why = psd.GetReason().empty() ? qnErrorText(psd.GetError())
                                                        : psd.GetReason() + " (error " +
                                                              std::to_string(psd.GetError()) + ")";
        if (!note || psd.GetError() != qncodec::ErrUnsupported) {
            err = path + ": cannot read the PSD layers: " + why;
            return false;
        }
        *note = path + ": the layers are not read (" + why + "); the merged image is opened as one layer";
        flat = true;
    }
    // Every layer is decoded: the file's bytes are needed no more.
    psd.GetLocalCopy().free();
    // Each layer lives on the canvas, whatever its own size: the document
    // they make is checked before any of them is placed there.
    uint32_t pixelLayers = 0;
    for (uint32_t i = 0; !flat && i < psd.GetLayersCount(); ++i) {
        CQNF_ImagePSD::PSDLayerInfoExt_s info{};
        pixelLayers += psd.GetLayerInfo(i, info) && !info.folder && !info.sectionEnd;
    }
    if (!doc.Fits(uint64_t{pixelLayers} * doc.PixelCount() * uint64_t(colours + 1), err)) {
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
