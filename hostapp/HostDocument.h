// The stand-in host's document: a canvas of layers in one colour mode, the
// layer the filter works on, an optional selection and extra channels, and
// the host's colours and settings that the filter can ask for.
#pragma once

#include "hostapp/RasterImage.h"

#include <cstdint>
#include <string>
#include <vector>

namespace hostapp {

// The most memory a document's planes may take: its layers at the canvas
// size with their transparency, its channels and its selection. A document
// that would grow beyond it is refused before the planes are made, since
// the host's work on it takes a few times as much again.
inline constexpr uint64_t kMaxDocumentBytes = uint64_t(2) << 30;

struct HostLayer {
    int32_t id = 0;  // the host's sheet id
    std::string name;
    RasterImage pixels;  // canvas-sized; alpha when the layer has transparency
    bool visible = true;
    uint8_t opacity = 255;
    // A PSD layer that reaches beyond the canvas, whole at its own place in
    // canvas coordinates, so that a PSD output keeps what the canvas does
    // not show; its canvas part is pixels, the part the filter works on.
    // Empty for a layer inside the canvas.
    RasterImage beyond;
    int32_t beyondLeft = 0;
    int32_t beyondTop = 0;
};

struct HostChannel {
    std::string name;
    std::vector<uint8_t> plane;  // canvas-sized
};

struct HostDocument {
    ColorMode mode = ColorMode::RGB;
    int width = 0;
    int height = 0;
    std::vector<HostLayer> layers;  // bottom first
    size_t target = 0;              // index of the layer being filtered
    std::vector<uint8_t> selection; // canvas-sized, empty when nothing is selected
    std::vector<HostChannel> channels;
    uint8_t foreground[3] = {0, 0, 0};  // RGB
    uint8_t background[3] = {255, 255, 255};
    double resolution = 72.0;  // pixels per inch across
    double resolutionY = 0.0;  // and down; 0: as across (see VerticalResolution)
    int ruler = 0;  // the ruler-units property value
    std::vector<uint8_t> icc;
    // What of its input a PSD written from the document would not hold, in
    // words ("the input's layer groups"), or empty.
    std::string unkept;

    // A document of one layer made from an image: an image with alpha is a
    // transparent layer, one without a flat background.
    static HostDocument FromImage(RasterImage image, const std::string& name);

    // Adds a layer on top, converted to the document's mode; it must have the
    // canvas size. These three, and ConvertTo, keep the document within
    // kMaxDocumentBytes, else fail with err.
    bool AddLayer(RasterImage image, const std::string& name, std::string& err);
    bool SetSelection(std::vector<uint8_t> mask, std::string& err);
    bool AddChannel(std::vector<uint8_t> plane, const std::string& name, std::string& err);
    // Converts every layer to another mode.
    bool ConvertTo(ColorMode to, std::string& err);

    // Bytes of the document's planes.
    uint64_t PlaneBytes() const;
    // Whether the planes, grown by more bytes, stay within kMaxDocumentBytes;
    // else false with a one-line reason in err.
    bool Fits(uint64_t more, std::string& err) const;

    const HostLayer& Target() const { return layers[target]; }
    HostLayer& Target() { return layers[target]; }
    size_t PixelCount() const { return static_cast<size_t>(width) * static_cast<size_t>(height); }
    // Pixels per inch down the document.
    double VerticalResolution() const { return resolutionY > 0.0 ? resolutionY : resolution; }

    // All visible layers blended bottom first with normal "over" at their
    // opacity; the result has alpha when any layer has.
    RasterImage Composite() const;
};

// The host's colours in a document mode, in plane form for CMYK.
void ColorInMode(const uint8_t rgb[3], ColorMode mode, uint8_t out[4]);

}  // namespace hostapp
