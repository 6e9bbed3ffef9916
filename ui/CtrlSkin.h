// Skin pieces shared by the control classes: one loaded state image, the
// four-state image sets of the value controls, rectangle unions and the
// hot-zone test.
#pragma once

#include "core/Mem.h"
#include "core/Types.h"
#include "ui/Control.h"

#include <cstdint>

class CQNF_Layer;

namespace qnctl {

// State codes of the value controls (sliders, scroll bars).
inline constexpr uint8_t StateNormal = 1;
inline constexpr uint8_t StateHighlighted = 2;
inline constexpr uint8_t StatePressed = 4;
inline constexpr uint8_t StateDisabled = 8;
inline constexpr uint8_t NoState = 255;

// The hover poll's timer and period.
inline constexpr unsigned short HoverTimer = 1;
inline constexpr unsigned long HoverMs = 50;

// One skin image: its place in window coordinates, its unpacked record and
// the first plane inside it (null while absent).
struct SkinImage {
    qntRECT_s rect = qnNullRect;
    CQNF_Mem block;
    unsigned char* pixels = nullptr;

    bool Present() const { return pixels != nullptr; }
    int32_t Width() const { return rect.right - rect.left; }
    int32_t Height() const { return rect.bottom - rect.top; }
    // Loads the record ("Normal") of the control's folder; false when absent.
    bool Load(CQNF_Control& control, const char* record);
};

// The union of two rectangles where qnNullRect is "nothing"; a union without
// area is qnNullRect.
qntRECT_s UnionRect(const qntRECT_s& a, const qntRECT_s& b);
// Widens r by the image's rectangle when the image is present.
void Widen(qntRECT_s& r, const SkinImage& image);
// The point lies in the mask's rectangle (right and bottom exclusive) and the
// mask byte there is above 128.
bool HotZoneHit(const SkinImage& mask, int32_t x, int32_t y);
// The first present image of up to three, or null.
const SkinImage* FirstPresent(const SkinImage* a, const SkinImage* b = nullptr, const SkinImage* c = nullptr);

// Normal, Highlighted, Pressed and Disabled images of one layer of a value
// control: records prefix + "_Normal" ... ("Background", "Thumb").
struct StateImages {
    SkinImage image[4];
    uint8_t present = 0;  // bit 0 Normal, 1 Highlighted, 2 Pressed, 3 Disabled
    qntRECT_s unionRect = qnNullRect;

    void Load(CQNF_Control& control, const char* prefix);
    // The image a state shows (Pressed falls back to Highlighted, then
    // Normal; Disabled and Highlighted to Normal), or null. atDisabledOpacity
    // is set when the disabled state borrows the Normal image.
    const SkinImage* Choose(uint8_t state, bool& atDisabledOpacity) const;
};

// Clears the layer and copies the image into it at the image's offset from
// `origin`, the window place of the layer's top-left pixel as the skin lays
// it out (a moving thumb's layer keeps its skin origin wherever it stands).
// A null image leaves the layer clear.
void ShowImage(CQNF_Control& control, CQNF_Layer& layer, const SkinImage* image, const qntRECT_s& origin);
// The same for a layer that stays where the skin put it.
void ShowImage(CQNF_Control& control, CQNF_Layer& layer, const SkinImage* image);

}  // namespace qnctl
