// Builds layout settings blocks without the main window, for demos and tests:
// an even grid of C columns and R rows, every grid knife with the same shape,
// optional free knives and per-piece effect records. The plan is laid into
// the main window's layout model, whose own settings writer makes the block
// (app/SettingsBlock.cpp), so there is one writer of the format.
//
// A plan in pieces mode sets the block's pieces flag, with its records (none
// when it has none): the writer keeps the flag and the mode together.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace hostapp {

struct KnifeShape {
    uint8_t flags = 0;  // bit 0 flip across, bit 1 flip along, bit 2 off
    uint8_t knob = 100;
    uint8_t width = 3;
    std::vector<float> U, H, S;

    // The five-node jigsaw knob every new layout starts with.
    static KnifeShape DefaultKnob();
    // A straight cut between the two knots.
    static KnifeShape Straight();
};

struct FreeKnife {
    KnifeShape shape;
    uint32_t knotA = 0;
    uint32_t knotB = 0;
};

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

}  // namespace hostapp
