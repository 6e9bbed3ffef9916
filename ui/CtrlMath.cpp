#include "ui/CtrlMath.h"

#include "core/BlockProcessor.h"

#include <algorithm>
#include <cmath>

namespace qnctl {

namespace {

constexpr double kU32Max = 4294967295.0;

// Limits to the u32 range and truncates; NaN gives 0.
uint32_t TruncU32(double v)
{
    if (!(v > 0.0)) {
        return 0;
    }
    if (v >= kU32Max) {
        return 0xFFFFFFFFu;
    }
    return static_cast<uint32_t>(v);
}

// The slider mappings round half up, within the u32 range.
uint32_t ScaleRounded(double from, double fromSpan, double toSpan)
{
    return TruncU32(from / fromSpan * toSpan + 0.5);
}

}  // namespace

uint32_t InterpolateValue(uint32_t vL, uint32_t vI, uint32_t j, uint32_t L, uint32_t i)
{
    const double exact = double(vL) + double(j - L) * (double(vI) - double(vL)) / double(i - L);
    uint32_t v = TruncU32(exact);
    if (exact - double(v) > 0.5 && v != 0xFFFFFFFFu) {
        ++v;
    }
    return v;
}

unsigned short BuildSliderPath(const uint8_t* coors, uint32_t size, uint32_t count, uint32_t start, uint32_t end,
                               const std::function<bool(uint32_t, uint32_t&)>& flagged,
                               std::vector<SliderPoint>& out)
{
    constexpr unsigned short kBadSkin = 192;
    out.clear();
    if (count == 0 || coors == nullptr || uint64_t(size) != uint64_t(count) * 5) {
        return kBadSkin;
    }
    out.resize(count);
    for (uint32_t i = 0; i < count; ++i) {
        out[i].x = int16_t(qnGetBE16(coors + 5 * i));
        out[i].y = int16_t(qnGetBE16(coors + 5 * i + 2));
    }
    out[0].value = start;
    out[count - 1].value = end;
    uint32_t last = 0;  // last point with a known value
    uint32_t k = 0;     // flagged points met so far
    auto fill = [&](uint32_t to) {
        for (uint32_t j = last + 1; j < to; ++j) {
            out[j].value = InterpolateValue(out[last].value, out[to].value, j, last, to);
        }
        last = to;
    };
    for (uint32_t i = 0; i < count; ++i) {
        if (coors[5 * i + 4] != 1) {
            continue;
        }
        uint32_t v = 0;
        if (!flagged(k++, v)) {
            out.clear();
            return kBadSkin;
        }
        out[i].value = v;
        fill(i);
    }
    if (count > 1 && last < count - 1) {
        fill(count - 1);
    }
    return 0;
}

bool IsClosedPath(const std::vector<SliderPoint>& path)
{
    if (path.empty()) {
        return false;
    }
    const int64_t dx = int64_t(path.back().x) - path.front().x;
    const int64_t dy = int64_t(path.back().y) - path.front().y;
    return dx * dx + dy * dy < 3;
}

int32_t PointOfValue(const std::vector<SliderPoint>& path, uint32_t value)
{
    for (size_t i = 0; i < path.size(); ++i) {
        if (path[i].value == value) {
            return int32_t(i);
        }
    }
    int32_t best = -1;
    int64_t bestDiff = 1000000000;
    for (size_t i = 0; i < path.size(); ++i) {
        const int64_t diff = std::llabs(int64_t(path[i].value) - int64_t(value));
        if (diff < bestDiff) {
            bestDiff = diff;
            best = int32_t(i);
        }
    }
    return best;
}

int32_t PointNearest(const std::vector<SliderPoint>& path, int32_t x, int32_t y)
{
    int32_t best = -1;
    int64_t bestDist = 0;
    for (size_t i = 0; i < path.size(); ++i) {
        const int64_t dx = int64_t(path[i].x) - x;
        const int64_t dy = int64_t(path[i].y) - y;
        const int64_t dist = dx * dx + dy * dy;
        if (best < 0 || dist < bestDist) {
            best = int32_t(i);
            bestDist = dist;
        }
    }
    return best;
}

uint32_t MapToSlider(uint32_t min, uint32_t max, uint32_t value, uint32_t start, uint32_t end)
{
    if (max == min || end == start) {
        return start;
    }
    // Callers keep value within min..max and start below end; a value beyond
    // the range is taken at the range's nearer end rather than wrapped.
    const double span = double(max) - double(min);
    const double from = std::clamp(double(value) - double(min), std::min(0.0, span), std::max(0.0, span));
    const double mapped = double(start) + double(ScaleRounded(from, span, double(end) - double(start)));
    return TruncU32(mapped);
}

uint32_t MapFromSlider(uint32_t min, uint32_t max, uint32_t value, uint32_t start, uint32_t end)
{
    if (max == min || end == start) {
        return min;
    }
    const double span = double(end) - double(start);
    const double from = std::clamp(double(value) - double(start), std::min(0.0, span), std::max(0.0, span));
    return TruncU32(double(min) + double(ScaleRounded(from, span, double(max) - double(min))));
}

int32_t WheelIndex(uint32_t current, uint32_t count, int32_t step, bool circular)
{
    if (count == 0 || std::llabs(int64_t(step)) >= int64_t(count)) {
        return -1;
    }
    int64_t index = int64_t(current) + step;
    if (circular) {
        if (index < 0) {
            index += count;
        } else if (index >= int64_t(count)) {
            index -= count;
        }
    }
    return int32_t(std::clamp<int64_t>(index, 0, int64_t(count) - 1));
}

int32_t ThumbLength(const ThumbGeometry& g, uint32_t total, uint32_t visible)
{
    const int32_t room = std::max(0, g.track - g.head - g.tail);
    int32_t middle = room;
    if (visible < total) {
        // L / (total / visible) without dividing by a zero visible count.
        const double share = double(g.track) * double(visible) / double(total);
        middle = int32_t(std::clamp(std::trunc(share) - g.head - g.tail, 0.0, double(room)));
    }
    return g.head + middle + g.tail;
}

int32_t ThumbOffset(int32_t track, int32_t thumb, uint32_t total, uint32_t visible, uint32_t first)
{
    const int32_t room = track - thumb;
    if (room <= 0 || total <= visible) {
        return 0;
    }
    const double offset = std::trunc(double(room) / double(total - visible) * double(first));
    return int32_t(std::clamp(offset, 0.0, double(room)));
}

uint32_t FirstFromThumb(int32_t track, int32_t thumb, uint32_t total, uint32_t visible, int32_t offset)
{
    const int32_t room = track - thumb;
    if (room <= 0 || total <= visible || offset <= 0) {
        return 0;
    }
    const double first = std::trunc(double(offset) / (double(room) / double(total - visible)));
    return uint32_t(std::clamp(first, 0.0, double(total - visible)));
}

namespace {

// trunc((value - min) / (max - min) * scale) within 0..scale; 0 for an empty
// range or a value that is not a number.
uint32_t Fraction(double min, double max, double value, double scale)
{
    if (max == min) {
        return 0;
    }
    const double f = std::trunc((value - min) / (max - min) * scale);
    if (!(f > 0.0)) {
        return 0;
    }
    return f >= scale ? uint32_t(scale) : uint32_t(f);
}

}  // namespace

uint8_t ProgressLevel(double min, double max, double value) { return uint8_t(Fraction(min, max, value, 255.0)); }

uint32_t ProgressPercent(double min, double max, double value) { return Fraction(min, max, value, 100.0); }

}  // namespace qnctl
