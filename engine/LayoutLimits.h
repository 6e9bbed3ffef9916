// The sizes of a layout that every program and window takes alike: the
// columns and rows of a grid, and a knob's size. The command lines refuse
// what is outside, the windows take the nearest, and the engine holds them.
#pragma once

#include <cstdint>

// Columns, or rows, of a grid: 1 to this many.
inline constexpr uint32_t kQnMostGridCells = 101;

// A knob's size in per cent of the knob as drawn: this range, 100 the knob
// as drawn (a knob is never larger, and one of 0 would be no knob).
inline constexpr uint32_t kQnLeastKnob = 1, kQnMostKnob = 100;
