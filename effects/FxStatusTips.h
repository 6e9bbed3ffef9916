// The status line tips of the effect windows: one chain of tests on the
// control (or zone) name and kind, the first match winning.
#pragma once

#include <cstdint>

// kind: the control kind (qnctl::*), 128 for no control, 255 for a zone.
const char* FxStatusTip(const char* name, uint8_t kind);

class CQNF_CtrlStaticText;
class CQNF_String;

// The status line changes by fading: out by 65 a tick, to the pending tip,
// then in by 40 a tick. fade: 0 idle, 1 fading in, 2 fading out.
void FxStatusFadeTick(CQNF_CtrlStaticText& status, uint8_t& fade, const char* pending);
// A tip to show: a new one (other than the pending) starts the fade.
void FxStatusRequest(CQNF_String& pending, uint8_t& fade, const char* text);
