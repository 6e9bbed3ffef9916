// Paints the preview's view into the window's bottom layer. Only the visible
// part of the image is read: each view row maps to one image row (or one
// block of rows when reduced) and each view column through a table built
// once per paint, so a pan or zoom step costs the view's size, whatever the
// image's. Transparent pixels lie over a checkerboard anchored at the image's
// origin (it scrolls with it), the margins show a second checkerboard.
#pragma once

#include "core/Types.h"
#include "ui/PreviewGeometry.h"

#include <cstdint>

class CQNF_Image;

namespace qnui {

struct PreviewPaintOptions {
    qntRGBA8 inner1{255, 255, 255, 255};  // behind transparent image pixels
    qntRGBA8 inner2{192, 192, 192, 255};
    qntRGBA8 outer1{204, 204, 204, 255};  // around the image
    qntRGBA8 outer2{200, 200, 200, 255};
    bool washOut = false;                  // opaque pixels at half contrast toward white
    bool quality = false;                  // reduced levels average each block
    const uint8_t* mask = nullptr;         // optional mask channel in image coordinates
    uint32_t maskRowLength = 0;
    qntRGBA8 maskColour{255, 0, 0, 255};
};

// Paints the view of image (RGBA, planar) into canvas (3 or 4 planes, only
// red, green and blue are written) over previewRect, clipped to the canvas.
// False when the image is not RGBA or the canvas has no colour planes.
bool PaintPreview(const CQNF_Image& image, CQNF_Image& canvas, qntRECT_s previewRect, const PreviewGeometry& g,
                  const PreviewPaintOptions& options);

}  // namespace qnui
