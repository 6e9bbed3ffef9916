// The gesture state of the main window's preview and the pure rules of its
// input: the splitter-drag clamp, the knot-drag offset and the cursor choice.
// The window (MainInput.cpp) feeds them with its events.
#pragma once

#include "core/Types.h"

#include <cstdint>
#include <vector>

struct qntGESTURE {
    static constexpr uint32_t kNone = 0xFFFFFFFFu;
    static constexpr uint32_t kMaxAux = 49;

    // Splitter drag. The splitter index is kept, not the handle's place in
    // the ruler's list: that list is rebuilt while the drag redraws.
    uint8_t splitterDrag = 0;
    uint8_t dragRowSplitter = 0;
    uint16_t dragSplitter = 0;
    int16_t dragGrab = 0;

    // Knot drag.
    uint8_t knotDrag = 0;
    uint8_t knotMoved = 0;
    uint32_t dragKnot = 0;
    uint32_t neighbourKnives[4] = {kNone, kNone, kNone, kNone};  // column above, below; row left, right
    qntFPOS knotPos{0, 0};
    qntFPOS neighbourPos[4] = {};  // above, below, left, right
    struct AUX {
        qntFPOS other;
        uint8_t isA;
        uint32_t index;
    };
    std::vector<AUX> aux;

    // Piece mode.
    uint8_t pieceMouseDown = 0;
    qntPOS pressPoint{0, 0};
    qntPOS hoverImagePoint = qnNullPOS;
    uint8_t dragSelection = 0;  // the outline is shown
    uint8_t rectangleDrag = 0;  // else the lasso
    std::vector<uint32_t> lasso;

    // Status tips: 0 preview, 1 horizontal ruler, 2 vertical ruler, 3 status zone, 255 none;
    // kAskAgain asks for the zone's tip whatever it is.
    static constexpr uint8_t kAskAgain = 254;
    uint8_t lastZone = 255;
    uint8_t lastTipMode = 0;
};

// Splitter s of n at the fraction f, kept 3 image pixels (step) from its
// neighbours and within 0..1. Neighbours closer than two steps meet halfway.
float qnClampSplitter(const float* positions, uint16_t n, uint16_t s, double f, double step);

// The knot offset along one axis for a pointer d preview pixels from the
// knot's splitter: the fraction of the gap on that side (span), within -1..1.
float qnKnotOffset(double d, double spanBefore, double spanAfter);

// Cursor ids of the main window (the first rule that applies wins).
namespace qncursor {
inline constexpr int32_t PanBoth = 128, PanNone = 129, PanVertical = 130, PanHorizontal = 131;
inline constexpr int32_t ZoomOut = 132, ZoomIn = 133, Navigator = 134, NoPiece = 135, Arrow = 136;
inline constexpr int32_t HiddenPiece = 137, DragColumn = 138, DragRow = 139, InsertSplitter = 140;
inline constexpr int32_t DeleteSplitter = 141;
inline constexpr int32_t TransparentPiece = 142;
}  // namespace qncursor

// The Fit on Preview zoom step (0..8) of an image in a preview.
uint8_t qnFitZoomStep(uint32_t imageW, uint32_t imageH, int32_t previewW, int32_t previewH);
