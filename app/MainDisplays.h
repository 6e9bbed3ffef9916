// What the main window shows besides the preview, without any window: the
// information panel's texts, the progress line, the on-load zoom and the
// control states of each mode. The status line fades with CStatusFader
// (ui/StatusFader.h); the preferences are CPreferences (app/Preferences.h).
#pragma once

#include "core/Types.h"
#include "ui/StatusFader.h"

#include <cstdint>
#include <string>
#include <vector>

class CQNF_Storage;

// ---- Status line ----------------------------------------------------------------
// The fade is the toolkit's CStatusFader (ui/StatusFader.h).

// "text N%\t" and, for N above 0, N capital I's and a space.
std::string qnStatusProgressLine(const char* text, uint8_t percent);

// ---- Information panel ------------------------------------------------------------
// Units: 1 pixels, 2 inches, 3 centimetres, 4 millimetres, 5 percent.
struct qntINFOVIEW {
    uint32_t width = 0, height = 0;  // the source image
    double resX = 72.0, resY = 72.0;  // pixels per inch, taken as a picture's (qnTakenResolution)
    uint8_t unit = 1;
};
// What the panel tells of the piece under the pointer (piece mode only).
struct qntINFOPIECE {
    int64_t index = -1;  // -1: no piece there
    uint32_t count = 0;
    uint8_t splitter = 0;  // piece 0 is the knife lines
    uint32_t column = 0, row = 0;
};
std::string qnInfoSizeText(const qntINFOVIEW& v);
// x, y in image pixels; -1 or 65535 shows "---". piece null: cut mode.
std::string qnInfoPositionText(const qntINFOVIEW& v, int32_t x, int32_t y, const qntINFOPIECE* piece);
// The dragged splitter i of positions g[0..n-1] (fractions of the width for
// columns, of the height for rows).
std::string qnInfoSplitterText(const qntINFOVIEW& v, bool column, const float* g, uint32_t n, uint32_t i);

// ---- Construction ---------------------------------------------------------------------
// The zoom slider's value on load: 4 - k for the smallest k in 0..4 at which
// the image shrunk by 2^k fits the preview, 0 when none does.
uint8_t qnOnLoadZoom(uint32_t imageW, uint32_t imageH, uint32_t previewW, uint32_t previewH);
// The host's ruler unit 0..4 as the window's 1..5; anything else is pixels.
uint8_t qnUnitFromHost(uint8_t hostUnit);


// ---- Modes ------------------------------------------------------------------------------
struct qntCTRLSTATE {
    const char* name;
    uint8_t type;     // control type (5 button, 7 check box, 1 slider, 8 edit)
    uint8_t opacity;  // disabled opacity: 0 invisible when disabled, 80 dimmed
    uint8_t enabled;
    uint8_t visible;  // edit lines only: shown
};
struct qntMODEINPUT {
    uint8_t cutMode = 1;
    uint8_t fxMode = 0;
    float rndKnotsValue = 0.0f;
    uint8_t layersAvailable = 0;  // the host offers the document's layers
};
// The mode-dependent controls and their states, in the order they are set.
std::vector<qntCTRLSTATE> qnMainModeStates(const qntMODEINPUT& in);
