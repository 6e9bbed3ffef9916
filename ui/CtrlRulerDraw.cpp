#include "ui/CtrlRulerDraw.h"

#include "imaging/Font.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

namespace qnctl {

namespace {

constexpr uint8_t kShortTick = 4;
constexpr uint8_t kMediumTick = 7;
constexpr uint8_t kLabelTick = 15;
constexpr double kEpsilon = 0.000001;
// Steps beyond this many units (a resolution close to 0) draw no ticks: five
// ruler pixels would already span more than any image.
constexpr double kMaxStep = 1e9;

int64_t FloorDiv(int64_t a, int64_t b)
{
    int64_t q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0))) {
        --q;
    }
    return q;
}

int64_t FloorMod(int64_t a, int64_t b) { return a - FloorDiv(a, b) * b; }

// One tick at a ruler position; label set when a number goes with it.
struct Tick {
    uint8_t length = 0;
    bool labelled = false;
    int64_t label = 0;
};

// Zoom exponents past this are clamped: no view is that far in or out, and
// the shifts stay defined.
int32_t ClampZoom(int8_t z) { return std::clamp<int32_t>(z, -30, 30); }

void PixelTicks(std::vector<Tick>& ticks, int32_t from, int32_t to, const QNF_RulerData& d)
{
    const int32_t z = ClampZoom(d.zoom);
    for (int32_t p = from; p < to; ++p) {
        Tick& t = ticks[size_t(p)];
        const int64_t step = p - from;
        if (z <= 0) {
            // Each ruler pixel covers 2^-z image pixels; ticks count ruler
            // pixels from the image origin so that they stay put on scrolling.
            const int64_t span = int64_t(1) << -z;
            const int64_t r = FloorDiv(d.firstCoord, span) + step;
            const int64_t c = int64_t(d.firstCoord) + step * span;
            if (FloorMod(r, 50) == 0) {
                t = {kLabelTick, true, c};
            } else if (FloorMod(r, 10) == 0) {
                t.length = kMediumTick;
            } else if (FloorMod(r, 5) == 0) {
                t.length = kShortTick;
            }
            continue;
        }
        const int64_t n = int64_t(1) << z;
        const int64_t q = int64_t(d.phase) + step;
        if (FloorMod(q, n) != 0) {
            continue;
        }
        const int64_t c = int64_t(d.firstCoord) + FloorDiv(q, n);
        const int64_t labelEvery = z == 1 ? 50 : z == 2 ? 20 : 10;
        if (FloorMod(c, labelEvery) == 0) {
            t = {kLabelTick, true, c};
        } else if (FloorMod(c, 10) == 0) {
            t.length = kMediumTick;
        } else {
            t.length = kShortTick;
        }
    }
}

// The first value of the sequence fixed..., then last + 5, last + 10, ...
// that v does not exceed; computed at once so a huge v costs nothing.
double FirstStepAtLeast(double v, std::initializer_list<double> fixed)
{
    for (double s : fixed) {
        if (!(v > s)) {
            return s;
        }
    }
    return 5.0 * std::ceil(v / 5.0);
}

struct Level {
    double step;  // units
    uint8_t length;
};

struct Ladder {
    std::vector<Level> drawn;  // finest first
    double step = 0;           // finest drawn step, units
};

Ladder ChooseLadder(uint8_t unit, double v)
{
    static const std::vector<Level> inches = {{1.0 / 32, 2}, {1.0 / 16, 3}, {1.0 / 8, 4},
                                              {1.0 / 4, 5},  {1.0 / 2, 6},  {1.0, 7}};
    static const std::vector<Level> tenths = {{0.1, 3}, {0.5, 5}, {1.0, 7}};
    static const std::vector<Level> millimetres = {{0.5, 3}, {1.0, 5}, {5.0, 6}, {10.0, 7}};
    Ladder out;
    size_t finest = 0;
    const std::vector<Level>* ladder = &tenths;
    bool whole = false;
    if (unit == 2) {
        ladder = &inches;
        while (finest < 5 && v > (*ladder)[finest].step) {
            ++finest;
        }
        whole = finest == 5 && v > 1.0;
        if (whole) {
            out.step = FirstStepAtLeast(v, {1.0, 2.0, 5.0});
        }
    } else if (unit == 4) {
        ladder = &millimetres;
        if (v <= 0.5) {
            finest = 0;
        } else if (v <= 1.0) {
            finest = 1;
        } else if (v <= 5.0) {
            finest = 2;
        } else {
            whole = true;
            out.step = FirstStepAtLeast(v, {10.0});
        }
    } else {
        if (v <= 0.1) {
            finest = 0;
        } else if (v <= 0.5) {
            finest = 1;
        } else {
            whole = true;
            out.step = unit == 5 ? FirstStepAtLeast(v, {1.0, 5.0}) : FirstStepAtLeast(v, {1.0, 2.0, 5.0});
        }
    }
    if (whole) {
        out.drawn = {{out.step, ladder->back().length}};
        return out;
    }
    out.drawn.assign(ladder->begin() + long(finest), ladder->end());
    out.step = out.drawn.front().step;
    return out;
}

void UnitTicks(std::vector<Tick>& ticks, int32_t from, int32_t to, const QNF_RulerData& d)
{
    static const double perInch[] = {1.0, 2.54, 25.4, 100.0};
    const int32_t z = ClampZoom(d.zoom);
    double u = perInch[d.unit - 2] / d.resolution;
    u = z > 0 ? u / double(int64_t(1) << z) : u * double(int64_t(1) << -z);
    if (!(u > 0.0) || !std::isfinite(u)) {
        return;
    }
    const Ladder ladder = ChooseLadder(d.unit, 5.0 * u);
    if (!(ladder.step < kMaxStep)) {
        return;
    }
    // Finest steps per tick of each drawn level.
    std::vector<int64_t> counts;
    for (const Level& level : ladder.drawn) {
        counts.push_back(int64_t(std::llround(level.step / ladder.step)));
    }
    const int64_t topCount = counts.back();
    const int64_t top = int64_t(std::trunc(ladder.step * double(topCount)));
    if (top <= 0) {
        return;
    }
    // Labels every m top ticks, m the first of 1, 2, 5, 10, 15 ... (percent:
    // 1, 5, 10, 15 ...) whose span reaches 50 ruler pixels.
    const double need = 50.0 * u / double(top);
    const double m = d.unit == 5 ? FirstStepAtLeast(need, {1.0, 5.0}) : FirstStepAtLeast(need, {1.0, 2.0, 5.0});
    if (!(m < kMaxStep)) {
        return;
    }
    const int64_t labelEvery = int64_t(m) * top;

    const int64_t origin = z > 0 ? int64_t(d.firstCoord) * (int64_t(1) << z) : FloorDiv(d.firstCoord, int64_t(1) << -z);
    const double start = (double(origin) + d.phase) * u;
    // Index of the last step boundary at or before a unit position; a tick
    // goes on the first ruler pixel that reaches a boundary.
    auto boundary = [&](double units) { return int64_t(std::floor((units + kEpsilon) / ladder.step)); };
    int64_t previous = boundary(start) - 1;
    if (double(previous + 1) * ladder.step < start - kEpsilon) {
        ++previous;  // the ruler starts between boundaries
    }
    for (int32_t p = from; p < to; ++p) {
        const int64_t b = boundary(start + double(p - from) * u);
        if (b == previous) {
            continue;
        }
        previous = b;
        Tick& t = ticks[size_t(p)];
        for (size_t l = 0; l < counts.size(); ++l) {
            if (FloorMod(b, counts[l]) == 0) {
                t.length = ladder.drawn[l].length;
            }
        }
        if (FloorMod(b, topCount) == 0) {
            const int64_t value = FloorDiv(b, topCount) * top;
            if (FloorMod(value, labelEvery) == 0) {
                t = {kLabelTick, true, value};
            }
        }
    }
}

}  // namespace

void DrawRuler(uint8_t* alpha, uint32_t width, uint32_t height, const QNF_RulerData& d, CQNF_Font* font)
{
    if (alpha == nullptr || width == 0 || height == 0) {
        return;
    }
    const bool vertical = width < height;
    const int32_t L = int32_t(vertical ? height : width);
    const int32_t T = int32_t(vertical ? width : height);
    auto at = [&](int32_t along, int32_t across) -> uint8_t& {
        return vertical ? alpha[size_t(along) * width + size_t(across)] : alpha[size_t(across) * width + size_t(along)];
    };

    const int32_t from = std::min<int32_t>(L, d.leadingBlank);
    const int32_t to = std::max(from, L - int32_t(d.trailingBlank));
    std::vector<Tick> ticks(static_cast<size_t>(L));
    const bool byUnits = d.unit >= 2 && d.unit <= 5 && d.resolution > 0.0;
    if (byUnits) {
        UnitTicks(ticks, from, to, d);
    } else {
        PixelTicks(ticks, from, to, d);
    }

    // Ticks stand at the far edge, between the two insets.
    const int32_t farEdge = T - int32_t(d.insetAfter);
    for (int32_t p = 0; p < L; ++p) {
        const int32_t length = (p >= from && p < to) ? ticks[size_t(p)].length : 0;
        for (int32_t a = 0; a < T; ++a) {
            const bool on = a >= d.insetBefore && a < farEdge && a >= farEdge - length;
            at(p, a) = on ? 255 : 0;
        }
    }

    if (font != nullptr && font->IsOpen()) {
        for (int32_t p = from; p < to; ++p) {
            if (!ticks[size_t(p)].labelled) {
                continue;
            }
            char text[24];
            std::snprintf(text, sizeof text, "%lld", static_cast<long long>(ticks[size_t(p)].label));
            int32_t pen = p + 2;
            for (const char* c = text; *c != 0 && pen < L; ++c) {
                short a = 0;
                short after = 0;
                short top = 0;
                unsigned long w = 0;
                unsigned long h = 0;
                const unsigned char* glyph = font->GetChar(static_cast<unsigned char>(*c), a, after, top, w, h);
                if (glyph == nullptr) {
                    continue;
                }
                for (unsigned long gy = 0; gy < h; ++gy) {
                    for (unsigned long gx = 0; gx < w; ++gx) {
                        const int64_t along = pen + int64_t(vertical ? gy : gx);
                        const int64_t across = int64_t(d.insetBefore) + int64_t(vertical ? gx : gy);
                        if (along < L && across < T) {
                            at(int32_t(along), int32_t(across)) = glyph[gy * w + gx];
                        }
                    }
                }
                pen += int32_t(vertical ? h : w) + 1;
            }
        }
    }

    if (d.marker < L) {
        for (int32_t a = 0; a < T; ++a) {
            at(d.marker, a) = (a & 1) ? 255 : 0;
        }
    }
}

}  // namespace qnctl
