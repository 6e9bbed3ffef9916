// Builds layout settings blocks without the main window, for demos and tests:
// an even grid of C columns and R rows, every grid knife with the same shape,
// optional free knives and per-piece effect records.
//
// Block layout (numbers big-endian, floats as their IEEE bits):
//   u8 pieces flag, u8 pieces mode, u16 rows - 1, u16 columns - 1,
//   u32 free knife count, f32 row guides, f32 column guides,
//   u32 knot count, (f32 dx, f32 dy) per knot,
//   u32 vertical knife count, knives, u32 horizontal knife count, knives,
//   u32 free knife count, (knife, u32 knot A, u32 knot B) per free knife,
//   u8 cut, u8 smooth, and with the pieces flag u32 record count and the
//   92-byte records as given.
//   knife: u8 flags, u16 node count n, u8 knob size, u8 width, n f32 U,
//   n f32 H, n f32 S.
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
    bool piecesMode = true;   // false: a replay draws only the knife lines
    bool pieceRecords = false;  // the pieces flag: records follow
    std::vector<std::array<uint8_t, 92>> records;
    // Knot offsets in row-major order over (columns + 1) x (rows + 1) knots;
    // empty for all zero.
    std::vector<std::array<float, 2>> knots;
};

std::vector<uint8_t> BuildLayoutBlock(const LayoutPlan& plan);

}  // namespace hostapp
