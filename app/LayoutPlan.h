// Builds layout settings blocks without the main window, for demos and tests:
// an even grid of C columns and R rows, every grid knife with the same shape,
// optional free knives and per-piece effect records. The plan becomes a plain
// layout (app/PlainLayout.h), which the main window's layout model writes with
// its own settings writer: there is one writer of the format. It lives beside
// that writer so that the block maker and the tests reach it without the
// stand-in host knowing the plug-in's application code.
//
// A plan in pieces mode sets the block's pieces flag, with its records (none
// when it has none): the writer keeps the flag and the mode together.
#pragma once

#include "app/PlainLayout.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace layoutplan {

// A knife shape: flags (bit 0 flip across, bit 1 flip along, bit 2 off),
// knob size, thickness and nodes.
struct KnifeShape : qntPlainKnife {
    // The five-node jigsaw knob every new layout starts with.
    static KnifeShape DefaultKnob();
    // A straight cut between the two knots.
    static KnifeShape Straight();
};

using FreeKnife = qntPlainFreeKnife;

struct LayoutPlan {
    uint16_t columns = 2;  // cells, 1..101
    uint16_t rows = 2;
    KnifeShape knife = KnifeShape::DefaultKnob();
    std::vector<FreeKnife> freeKnives;
    bool cut = true;
    bool smooth = true;
    bool piecesMode = true;  // false: a replay draws only the knife lines
    std::vector<std::array<uint8_t, 92>> records;  // pieces mode only
    // Knot offsets in row-major order over (columns + 1) x (rows + 1) knots;
    // empty for all zero.
    std::vector<std::array<float, 2>> knots;
};

std::vector<uint8_t> BuildLayoutBlock(const LayoutPlan& plan);

// The one line every program gives for a file that does not read as a
// layout settings block, with where such a block comes from.
std::string NotABlock(const std::string& path);

}  // namespace layoutplan
