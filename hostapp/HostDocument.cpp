#include "hostapp/HostDocument.h"

#include <cstring>

namespace hostapp {

HostDocument HostDocument::FromImage(RasterImage image, const std::string& name)
{
    HostDocument doc;
    doc.mode = image.mode;
    doc.width = image.width;
    doc.height = image.height;
    HostLayer layer;
    layer.id = 1;
    layer.name = image.hasAlpha ? name : "Background";
    layer.pixels = std::move(image);
    doc.layers.push_back(std::move(layer));
    doc.target = 0;
    return doc;
}

uint64_t HostDocument::PlaneBytes() const
{
    uint64_t planes = selection.empty() ? 0 : 1;
    planes += channels.size();
    uint64_t beyond = 0;
    for (const HostLayer& layer : layers) {
        planes += layer.pixels.planes.size();
        beyond += uint64_t{layer.beyond.PixelCount()} * layer.beyond.planes.size();
    }
    return planes * PixelCount() + beyond;
}

bool HostDocument::Fits(uint64_t more, std::string& err) const
{
    const uint64_t bytes = PlaneBytes() + more;
    if (bytes <= kMaxDocumentBytes)
        return true;
    err = "the document would take " + std::to_string((bytes + (1 << 20) - 1) >> 20) + " MiB with all its layers at " +
          std::to_string(width) + " x " + std::to_string(height) + ", more than the " +
          std::to_string(kMaxDocumentBytes >> 20) + " MiB a document may take";
    return false;
}

bool HostDocument::AddLayer(RasterImage image, const std::string& name, std::string& err)
{
    if (image.width != width || image.height != height) {
        err = "layer \"" + name + "\" does not have the size of the document";
        return false;
    }
    if (!Fits(PixelCount() * (ColorPlanes(mode) + (image.hasAlpha ? 1u : 0u)), err))
        return false;
    ConvertImage(image, mode);
    HostLayer layer;
    int32_t id = 0;
    for (const HostLayer& l : layers)
        id = l.id > id ? l.id : id;
    layer.id = id + 1;
    layer.name = name;
    layer.pixels = std::move(image);
    layers.push_back(std::move(layer));
    return true;
}

bool HostDocument::SetSelection(std::vector<uint8_t> mask, std::string& err)
{
    if (mask.size() != PixelCount()) {
        err = "the selection does not have the size of the document";
        return false;
    }
    if (selection.empty() && !Fits(PixelCount(), err))
        return false;
    selection = std::move(mask);
    return true;
}

bool HostDocument::AddChannel(std::vector<uint8_t> plane, const std::string& name, std::string& err)
{
    if (plane.size() != PixelCount()) {
        err = "channel \"" + name + "\" does not have the size of the document";
        return false;
    }
    if (!Fits(PixelCount(), err))
        return false;
    channels.push_back(HostChannel{name, std::move(plane)});
    return true;
}

bool HostDocument::ConvertTo(ColorMode to, std::string& err)
{
    // Every layer gains or loses the difference in colour planes.
    const int64_t change = int64_t(ColorPlanes(to)) - ColorPlanes(mode);
    uint64_t pixels = 0;
    for (const HostLayer& layer : layers)
        pixels += PixelCount() + layer.beyond.PixelCount();
    if (change > 0 && !Fits(pixels * uint64_t(change), err))
        return false;
    for (HostLayer& layer : layers) {
        ConvertImage(layer.pixels, to);
        if (!layer.beyond.planes.empty())
            ConvertImage(layer.beyond, to);
    }
    mode = to;
    return true;
}

RasterImage HostDocument::Composite() const
{
    bool anyAlpha = false;
    for (const HostLayer& layer : layers)
        anyAlpha = anyAlpha || layer.pixels.hasAlpha;
    RasterImage out;
    out.Allocate(mode, width, height, anyAlpha, 0);
    const int colours = ColorPlanes(mode);
    const size_t n = PixelCount();
    // The coverage so far. It never leaves 0..255 (the over below gives at
    // most (255 * 255 + 127) / 255), so a byte holds it, and with
    // transparency it is the result's own plane.
    std::vector<uint8_t> own;
    uint8_t* alpha = nullptr;
    if (anyAlpha) {
        alpha = out.planes[static_cast<size_t>(colours)].data();
    } else {
        own.assign(n, 0);
        alpha = own.data();
    }
    for (const HostLayer& layer : layers) {
        if (!layer.visible)
            continue;
        const RasterImage& src = layer.pixels;
        // An opaque layer at full opacity covers whatever lies below.
        if (!src.hasAlpha && layer.opacity == 255) {
            for (int c = 0; c < colours; ++c)
                std::memcpy(out.planes[static_cast<size_t>(c)].data(), src.planes[static_cast<size_t>(c)].data(), n);
            std::memset(alpha, 255, n);
            continue;
        }
        for (size_t i = 0; i < n; ++i) {
            const uint32_t sa = (src.hasAlpha ? src.planes[colours][i] : 255) * layer.opacity / 255;
            if (sa == 0)
                continue;
            const uint32_t da = alpha[i];
            // Over, in integers: the destination's weight is da * (255 - sa) / 255.
            const uint32_t dw = da * (255 - sa);
            const uint32_t oa = sa * 255 + dw;  // result alpha times 255
            for (int c = 0; c < colours; ++c) {
                const uint32_t v = (src.planes[c][i] * sa * 255 + out.planes[c][i] * dw + oa / 2) / oa;
                out.planes[c][i] = static_cast<uint8_t>(v);
            }
            alpha[i] = static_cast<uint8_t>((oa + 127) / 255);
        }
    }
    return out;
}

void ColorInMode(const uint8_t rgb[3], ColorMode mode, uint8_t out[4])
{
    out[0] = out[1] = out[2] = out[3] = 0;
    switch (mode) {
    case ColorMode::Gray:
        out[0] = GrayFromRGB(rgb[0], rgb[1], rgb[2]);
        break;
    case ColorMode::RGB:
        out[0] = rgb[0];
        out[1] = rgb[1];
        out[2] = rgb[2];
        break;
    case ColorMode::CMYK:
        CMYKFromRGB(rgb, out);
        break;
    }
}

}  // namespace hostapp
