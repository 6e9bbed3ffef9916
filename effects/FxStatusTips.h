// The status line tips of the effect windows: one chain of tests on the
// control (or zone) name and kind, the first match winning.
#pragma once

#include <cstdint>

// kind: the control kind (qnctl::*), 128 for no control, 255 for a zone.
const char* FxStatusTip(const char* name, uint8_t kind);
