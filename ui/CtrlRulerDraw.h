// Ruler drawing: ticks, numbers and the mouse marker written into the alpha
// plane of the ruler's picture, whose colour planes the skin provides. The
// picture's shape decides the orientation (narrower than tall is vertical);
// ticks stand at the far edge across the ruler.
#pragma once

#include <cstdint>

class CQNF_Font;

// What a ruler shows. Compared and copied whole.
struct QNF_RulerData {
    uint8_t unit = 1;            // 1 pixels, 2 inches, 3 centimetres, 4 millimetres, 5 percent
    uint16_t leadingBlank = 0;   // ruler pixels before the image begins
    uint16_t trailingBlank = 0;  // ruler pixels after it ends
    uint16_t insetBefore = 0;    // pixels across the ruler kept clear at its start side
    uint16_t insetAfter = 0;     // pixels across the ruler kept clear at its far side
    int8_t zoom = 0;             // one image pixel spans 2^zoom ruler pixels
    int32_t firstCoord = 0;      // image coordinate at the first image pixel
    uint8_t phase = 0;           // ruler pixels already passed of that image pixel (zoom > 0)
    uint16_t marker = 0xFFFF;    // ruler pixel of the mouse marker; at or past the length: none
    double resolution = 0.0;     // pixels per inch; for percent the image's size along the axis

    bool operator==(const QNF_RulerData&) const = default;
};

namespace qnctl {

// Rewrites the whole alpha plane (width x height, rows of width bytes) for
// the record. Without a font no numbers are drawn. Every write stays inside
// the plane, whatever the record or the font holds.
void DrawRuler(uint8_t* alpha, uint32_t width, uint32_t height, const QNF_RulerData& data, CQNF_Font* font);

}  // namespace qnctl
