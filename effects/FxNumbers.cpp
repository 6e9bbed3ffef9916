#include "effects/FxNumbers.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace fxnum {

uint8_t PercentFromStored(uint8_t stored)
{
    const uint32_t q = uint32_t(stored) * 1000u / 255u;
    return uint8_t(q / 10u + (q % 10u >= 6u ? 1u : 0u));
}

uint8_t StoredFromPercent(int32_t percent)
{
    const int32_t p = std::clamp(percent, 0, 100);
    return uint8_t(p * 255 / 100);
}

int32_t ParseClamped(const char* text, int32_t lo, int32_t hi)
{
    // atoi is undefined once the digits overflow and the edit lines have no
    // length limit: read the number ourselves and saturate.
    int64_t value = 0;
    if (text) {
        const char* s = text;
        while (*s == ' ' || *s == '\t' || *s == '\n' || *s == '\r' || *s == '\f' || *s == '\v')
            ++s;
        bool negative = false;
        if (*s == '+' || *s == '-')
            negative = *s++ == '-';
        constexpr int64_t kLimit = int64_t(std::numeric_limits<int32_t>::max()) + 1;
        for (; *s >= '0' && *s <= '9'; ++s)
            value = std::min<int64_t>(value * 10 + (*s - '0'), kLimit);
        if (negative)
            value = -value;
        value = std::clamp<int64_t>(value, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max());
    }
    return int32_t(std::clamp<int64_t>(value, lo, hi));
}

int32_t Grade(double first, double second, double t, int32_t lo, int32_t hi)
{
    // Half up to the nearest integer. Truncating toward zero after adding
    // one half would move every negative value one step toward zero, even
    // at the ends: value 1 of -50 would reach the piece at t = 0 as -49.
    const double v = std::floor(first + (second - first) * t + 0.5);
    if (!(v == v))
        return lo;
    return int32_t(std::clamp(v, double(lo), double(hi)));
}

int32_t DialToAngle(uint32_t position)
{
    const int32_t p = int32_t(position % 360u);
    if (p <= 90)
        return p;
    if (p <= 270)
        return p - 180;
    return p - 360;
}

uint32_t AngleToDial(int32_t angle)
{
    return angle >= 0 ? uint32_t(angle) : uint32_t(angle + 360);
}

BandSpan LinearBand(uint32_t a, uint32_t b, uint32_t scale, uint32_t width)
{
    const uint32_t lo = std::min(a, b), hi = std::max(a, b);
    const uint32_t w = width ? width - 1 : 0;
    return BandSpan{uint32_t(uint64_t(lo) * w / scale), uint32_t(uint64_t(hi) * w / scale + 1)};
}

BandSpan DepthBand(uint32_t a, uint32_t b, uint32_t width)
{
    const uint32_t w = width ? width - 1 : 0;
    auto pos = [w](uint32_t v) -> uint32_t {
        if (v <= 100)
            return v * w / 200;
        return w / 2 + w * ((v - 100) / 2) / 899;
    };
    return BandSpan{pos(std::min(a, b)), pos(std::max(a, b)) + 1};
}

void DisplayColor(const CTessolo::SFX_COLOR& record, uint8_t colorMode, uint8_t rgb[3])
{
    if (colorMode == 0) {
        rgb[0] = rgb[1] = rgb[2] = record.gray;
    } else {
        rgb[0] = record.red;
        rgb[1] = record.green;
        rgb[2] = record.blue;
    }
}

}  // namespace fxnum
