// The arithmetic of the value controls, apart from any window: slider paths
// and their value mappings, scroll-bar thumb geometry and paging, and the
// progress bar's fill level. The control classes call these; the tests drive
// them directly with tables.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

namespace qnctl {

// One point of a slider path: window coordinates and the value the slider
// takes while its thumb stands there.
struct SliderPoint {
    int16_t x = 0;
    int16_t y = 0;
    uint32_t value = 0;
};

// Value of point j between two points L < i with known values, on the
// straight stretch from vL to vI: rounded to nearest, an exact half rounding
// down, limited to the u32 range.
uint32_t InterpolateValue(uint32_t vL, uint32_t vI, uint32_t j, uint32_t L, uint32_t i);

// Builds the path from the coordinate record (5 bytes a point: BE u16 x,
// BE u16 y, u8 flag) and the value of the first and last point. flagged(k, v)
// gives the value of the k-th flagged point (false when it is missing). The
// first point takes start and the last takes end, unless they are flagged.
// Returns 0, or 192 when the count is 0 (a path must have a point to stand
// on), the record's size is not 5 x count, or a flagged value is missing.
unsigned short BuildSliderPath(const uint8_t* coors, uint32_t size, uint32_t count, uint32_t start, uint32_t end,
                               const std::function<bool(uint32_t k, uint32_t& value)>& flagged,
                               std::vector<SliderPoint>& out);

// A path whose ends lie within squared distance 2 of each other is a ring.
bool IsClosedPath(const std::vector<SliderPoint>& path);

// Index of the first point with exactly this value; else of the point nearest
// to it (ties to the lowest index) among those less than 1,000,000,000 away;
// -1 when none qualifies. Distances are taken in 64 bits, so values far apart
// never wrap into a small distance.
int32_t PointOfValue(const std::vector<SliderPoint>& path, uint32_t value);

// Index of the point nearest to (x, y) by squared distance, ties to the
// lowest index; -1 for an empty path.
int32_t PointNearest(const std::vector<SliderPoint>& path, int32_t x, int32_t y);

// A value of the caller's range min..max mapped onto the slider's start..end,
// and back; both round half up. A degenerate range (max = min or end = start)
// maps to start and to min.
uint32_t MapToSlider(uint32_t min, uint32_t max, uint32_t value, uint32_t start, uint32_t end);
uint32_t MapFromSlider(uint32_t min, uint32_t max, uint32_t value, uint32_t start, uint32_t end);

// The index a wheel turn of `step` points leads to from `current` on a path
// of `count` points (wrapping on a ring, clamped otherwise); -1 when the turn
// is as long as the path or longer, which is ignored.
int32_t WheelIndex(uint32_t current, uint32_t count, int32_t step, bool circular);

// Scroll-bar geometry along its axis. L is the track length; head and tail
// are the fixed ends of the thumb, the middle stretches.
struct ThumbGeometry {
    int32_t track = 0;
    int32_t head = 0;
    int32_t tail = 0;
};

// Thumb length for the visible share of the items. A list that shows every
// item (visible >= total, also 0 of 0) gets a thumb as long as the track.
int32_t ThumbLength(const ThumbGeometry& g, uint32_t total, uint32_t visible);
// Offset of the thumb from the track start for the first visible item,
// within 0..L - thumb.
int32_t ThumbOffset(int32_t track, int32_t thumb, uint32_t total, uint32_t visible, uint32_t first);
// The first visible item for a thumb standing `offset` pixels into the track,
// within 0..total - visible. A thumb that fills the track gives 0.
uint32_t FirstFromThumb(int32_t track, int32_t thumb, uint32_t total, uint32_t visible, int32_t offset);
// The largest first visible item.
inline uint32_t LastFirst(uint32_t total, uint32_t visible) { return total > visible ? total - visible : 0; }
// Items a page moves: one less than a screenful, at least one.
inline uint32_t PageSize(uint32_t visible) { return visible > 1 ? visible - 1 : 1; }

// Progress bar: the fill threshold 0..255 and the reported percent 0..100.
// An empty range (max = min) or a value that is not a number gives 0.
uint8_t ProgressLevel(double min, double max, double value);
uint32_t ProgressPercent(double min, double max, double value);

}  // namespace qnctl
