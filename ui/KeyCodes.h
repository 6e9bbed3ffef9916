// Key codes the windows receive, and the characters keyboard shortcuts are
// looked up by, both from the positional virtual key code of a key.
#pragma once

#include <cstdint>

namespace qnkey {
inline constexpr uint8_t Up = 1;
inline constexpr uint8_t Down = 2;
inline constexpr uint8_t Left = 3;
inline constexpr uint8_t Right = 4;
inline constexpr uint8_t Backspace = 5;
inline constexpr uint8_t Return = 6;
inline constexpr uint8_t Escape = 7;
inline constexpr uint8_t Delete = 8;
inline constexpr uint8_t End = 9;
inline constexpr uint8_t Home = 10;
inline constexpr uint8_t Tab = 11;
// Shift, Ctrl, Alt and their kin pressed or released alone: only the
// window hears of it (About closes on any key), never a control.
inline constexpr uint8_t Modifier = 12;
inline constexpr uint8_t F1 = 220;
inline constexpr uint8_t F12 = 231;

// Virtual key codes used by the backends and the tests.
namespace vk {
inline constexpr uint8_t A = 0, S = 1, D = 2, Z = 6, X = 7, C = 8, V = 9, Q = 12, W = 13, One = 18, Two = 19;
inline constexpr uint8_t Return = 36, Tab = 48, Space = 49, Backspace = 51, Escape = 53, Period = 47;
inline constexpr uint8_t KeypadEnter = 76, KeypadPlus = 69, KeypadMinus = 78;
inline constexpr uint8_t F1 = 122, F2 = 120, F3 = 99, F4 = 118, F5 = 96, F6 = 97, F7 = 98, F8 = 100, F9 = 101,
                         F10 = 109, F11 = 103, F12 = 111;
inline constexpr uint8_t Home = 115, PageUp = 116, ForwardDelete = 117, End = 119, PageDown = 121;
inline constexpr uint8_t Command = 55, Shift = 56, CapsLock = 57, Option = 58, Control = 59, RightShift = 60,
                         RightOption = 61, RightControl = 62;
inline constexpr uint8_t LeftArrow = 123, RightArrow = 124, DownArrow = 125, UpArrow = 126;
}  // namespace vk

// The key code of a key that types no character, or 0.
uint8_t KeyCodeOf(uint8_t vkey);
// The character a shortcut is looked up by (the key's character on a US
// layout), or 0 for a key that has none.
uint8_t ShortcutCharOf(uint8_t vkey);
}  // namespace qnkey
