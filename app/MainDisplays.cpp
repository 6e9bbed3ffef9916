// The main window's displays and mode table, as plain values.
#include "app/MainDisplays.h"

#include "core/Mem.h"
#include "core/Storage.h"
#include "core/String.h"
#include "imaging/ImageFile.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>

namespace {

std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* fmt, ...)
{
    char buf[512];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    return buf;
}

// The view's resolutions as every reader takes a picture's.
struct Resolutions {
    double x, y;
    explicit Resolutions(const qntINFOVIEW& v) : x(v.resX), y(v.resY) { qnTakenResolution(x, y); }
};

}  // namespace

// ---- Status line -------------------------------------------------------------------

std::string qnStatusProgressLine(const char* text, uint8_t percent)
{
    std::string line = Format("%s %d%%\t", text ? text : "", int(percent));
    if (percent) {
        line.append(percent, 'I');
        line += ' ';
    }
    return line;
}

// ---- Information panel ------------------------------------------------------------

std::string qnInfoSizeText(const qntINFOVIEW& v)
{
    const int w = int(v.width), h = int(v.height);
    const Resolutions res(v);
    const double rx = res.x, ry = res.y;
    switch (v.unit) {
    case 1:
    case 5:
        return Format("Image Size (W x H): %d pixels x %d pixels", w, h);
    case 2:
        return Format("Image Size (W x H): %.2f inches x %.2f inches (%d px x %d px)", w / rx, h / ry, w, h);
    case 3:
        return Format("Image Size (W x H): %.2f cm x %.2f cm (%d px x %d px)", w / (rx / 2.54), h / (ry / 2.54), w,
                      h);
    case 4:
        return Format("Image Size (W x H): %.1f mm x %.1f mm (%d px x %d px)", w / (rx / 25.4), h / (ry / 25.4), w,
                      h);
    default:
        return "";
    }
}

namespace {

// One axis of the position text: "X" or "\tY".
std::string AxisText(const char* label, int32_t p, uint32_t size, double res, uint8_t unit)
{
    if (p == -1 || p == 0xFFFF)
        return Format("%s: ---", label);
    double v = 0.0;
    const char* name = nullptr;
    switch (unit) {
    case 1:
        return Format("%s: %d pixels", label, int(p));
    case 2:
        v = p / res;
        name = "inches";
        break;
    case 3:
        v = p / (res / 2.54);
        name = "cm";
        break;
    case 4:
        v = p / (res / 25.4);
        name = "mm";
        break;
    case 5: {
        // A one-pixel image has no second pixel to measure against.
        const double pct = size > 1 ? p / double(size - 1) * 100.0 : 0.0;
        return Format("%s: %.1f (%%) (%d px)", label, pct, int(p));
    }
    default:
        return "";
    }
    const int decimals = v < 100.0 ? 2 : v < 1000.0 ? 1 : 0;
    return Format("%s: %.*f %s (%d px)", label, decimals, v, name, int(p));
}

std::string SplitterNumber(double value, double res, double size, uint8_t unit)
{
    switch (unit) {
    case 1:
        return Format("%.1f (px)", value);
    case 2:
        return Format("%.2f (in)", value / res);
    case 3:
        return Format("%.2f (cm)", value / (res / 2.54));
    case 4:
        return Format("%.1f (mm)", value / (res / 25.4));
    case 5:
        return Format("%.1f (%%)", size > 0 ? value * 100.0 / size : 0.0);
    default:
        return "";
    }
}

}  // namespace

std::string qnInfoPositionText(const qntINFOVIEW& v, int32_t x, int32_t y, const qntINFOPIECE* piece)
{
    const Resolutions res(v);
    std::string s = AxisText("X", x, v.width, res.x, v.unit) + AxisText("\tY", y, v.height, res.y, v.unit);
    if (!piece)
        return s;
    if (piece->index < 0)
        s += Format(" \tPiece: ??? (%d)", int(piece->count));
    else if (piece->index == 0 && piece->splitter)
        s += Format(" \tPiece info: ID: %d (%d); Splitter", 0, int(piece->count));
    else
        s += Format(" \tPiece info: ID: %d (%d); Column: %d; Row: %d", int(piece->index), int(piece->count),
                    int(piece->column), int(piece->row));
    return s;
}

std::string qnInfoSplitterText(const qntINFOVIEW& v, bool column, const float* g, uint32_t n, uint32_t i)
{
    if (!g || i >= n)
        return "";
    const double S = column ? v.width : v.height;
    const double res = column ? Resolutions(v).x : Resolutions(v).y;
    const double pos = g[i] * S;
    const double before = i == 0 ? pos : (g[i] - g[i - 1]) * S;
    const double after = i + 1 >= n ? (1.0 - g[i]) * S : (g[i + 1] - g[i]) * S;
    return Format(column ? "Position: %s Columns: %s | %s" : "Position: %s Rows: %s | %s",
                  SplitterNumber(pos, res, S, v.unit).c_str(), SplitterNumber(before, res, S, v.unit).c_str(),
                  SplitterNumber(after, res, S, v.unit).c_str());
}

// ---- Construction -------------------------------------------------------------------

uint8_t qnOnLoadZoom(uint32_t imageW, uint32_t imageH, uint32_t previewW, uint32_t previewH)
{
    for (uint32_t k = 0; k <= 4; ++k) {
        if (previewW >= (imageW >> k) && previewH >= (imageH >> k))
            return uint8_t(4 - k);
    }
    return 0;
}

uint8_t qnUnitFromHost(uint8_t hostUnit) { return hostUnit <= 4 ? uint8_t(hostUnit + 1) : 1; }

// ---- Modes ------------------------------------------------------------------------------

namespace {

constexpr const char* kEffects[9] = {"Main_FXBevel", "Main_FXHSL",     "Main_FXBC",
                                     "Main_FXBlur",  "Main_FXMBlur",   "Main_FXOpacity",
                                     "Main_FXCOver", "Main_FXIOver",   "Main_FXStroke"};

}  // namespace

std::vector<qntCTRLSTATE> qnMainModeStates(const qntMODEINPUT& in)
{
    std::vector<qntCTRLSTATE> s;
    auto add = [&](const char* name, uint8_t type, uint8_t opacity, bool enabled, bool visible = true) {
        s.push_back(qntCTRLSTATE{name, type, opacity, uint8_t(enabled), uint8_t(visible)});
    };
    if (in.cutMode) {
        add("Main_Relayout", 5, 0, false);
        add("Main_Apply", 5, 0, false);
        for (const char* fx : kEffects) {
            add(fx, 5, 0, false);
            add(fx, 7, 0, false);
        }
        add("Main_ApplyLM", 5, 80, true);
        add("Main_AddKnives", 5, 80, false);
        add("Main_DelKnives", 5, 80, true);
        add("Main_ResetKnots", 5, 80, true);
        // A value that is not a number counts as not 0.
        add("Main_RndKnots", 5, 80, !(in.rndKnotsValue == 0.0f));
        add("Main_RndKnots", 1, 80, true);
        add("Main_RndKnots", 8, 80, true, true);
        return s;
    }
    add("Main_ApplyLM", 5, 0, false);
    add("Main_AddKnives", 5, 0, false);
    add("Main_DelKnives", 5, 0, false);
    add("Main_ResetKnots", 5, 0, false);
    // The knot randomness belongs to cut mode: its button, field and slider
    // are hidden in piece mode.
    add("Main_RndKnots", 5, 0, false);
    add("Main_RndKnots", 8, 0, false, false);
    add("Main_RndKnots", 1, 0, false);
    const bool e = !in.fxMode;
    for (const char* n : {"Main_Relayout", "Main_Show", "Main_Hide", "Main_RevShowHide", "Main_Apply", "Main_Cancel",
                          "Main_Export", "Main_CloseX", "Main_Main", "Main_Select", "Main_Adjust"})
        add(n, 5, 80, e);
    for (const char* fx : kEffects) {
        const bool on = e && (std::string(fx) != "Main_FXIOver" || in.layersAvailable);
        add(fx, 5, 80, on);
        add(fx, 7, 80, on);
    }
    return s;
}
