// The numbers behind the effect windows' controls: the percent scale of
// stored 0..255 opacities, typed values, graded values, the motion blur dial,
// the range bands and the on-screen colour of a colour record. Pure
// functions, shared by the effect models and their windows.
#pragma once

#include "engine/Tessolo.h"

#include <cstdint>

namespace fxnum {

// A stored 0..255 value as the percentage the controls show: q = v x 1000 /
// 255, shown q / 10, plus 1 when the tenth is 6 or more.
uint8_t PercentFromStored(uint8_t stored);
// A percentage (clamped to 0..100) as it is stored: p x 255 / 100.
uint8_t StoredFromPercent(int32_t percent);

// The leading integer of typed text (optional sign, then digits; 0 when
// there is none), saturated to the 32-bit range however many digits follow,
// then clamped to lo..hi. Null counts as empty.
int32_t ParseClamped(const char* text, int32_t lo, int32_t hi);

// A value between first and second at t (0..1), rounded half up to an
// integer and clamped to lo..hi; t = 0 gives first and t = 1 second.
int32_t Grade(double first, double second, double t, int32_t lo, int32_t hi);

// The motion blur dials: a position 0..359 around the dial and the angle
// -90..90 it stands for (a direction and its opposite are the same blur).
int32_t DialToAngle(uint32_t position);
uint32_t AngleToDial(int32_t angle);

// Columns [from, to) of a range band between two slider positions a and b
// of a track that spans 0..scale, drawn over a band width pixels wide.
struct BandSpan {
    uint32_t from;
    uint32_t to;
};
BandSpan LinearBand(uint32_t a, uint32_t b, uint32_t scale, uint32_t width);
// The bevel's depth band: 0..100 fill the first half, 100..999 the second.
BandSpan DepthBand(uint32_t a, uint32_t b, uint32_t width);

// Red, green and blue a colour record is shown with: its grey level three
// times in a Grayscale document (colour mode 0), else its bytes 1-3.
void DisplayColor(const CTessolo::SFX_COLOR& record, uint8_t colorMode, uint8_t rgb[3]);

}  // namespace fxnum
