// The status-line tips of every window of the plug-in: one fixed decision
// chain over the window's name, the name of the control (or zone) under the
// pointer, a mode byte the window supplies and the control's type.
//
// Names compare without regard to the case of a to z. A rule tests the whole
// control name, its ending (suffix), any name, or is its window's default.
// Type 128 means no control under the pointer, 255 a named zone.
//
// Modes: "Main" passes 2 in cut mode, 3 in piece mode, 4 while an effect
// window is open; "ChannelsList" 1 when it selects knives, 2 pieces; every
// other window its control's enabled flag (1 for zones and no control).
#pragma once

#include <cstdint>

// The tip text: constant, lives for the whole run, never null. A window name
// that is none of the nine known gives "\nReady...".
const char* qnGetStatusTip(const char* control, const char* window, uint8_t mode, uint8_t type);

// The type a window passes when the pointer is above no control, and for a zone.
inline constexpr uint8_t kTipNoControl = 128;
inline constexpr uint8_t kTipZone = 255;
