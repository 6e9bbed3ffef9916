// A layout in plain values, and its settings block written by the layout
// model's own writer (settings_SaveCurLayoutAndCellSettingsToMem), so that
// the demos' block builder (app/LayoutPlan.h) and the tests make blocks with
// the one writer of the format. Values are written as given: a plain layout
// may disagree with itself (counts that do not fit the grid), as a reader's
// tests need; only knives of more than 64 nodes are cut to 64.
#pragma once

#include "engine/Tessolo.h"

#include <cstdint>
#include <vector>

struct qntPlainKnife {
    uint8_t flags = 0;  // bit 0 flip across, bit 1 flip along, bit 2 off, bit 3 selected
    uint8_t knob = 100;
    uint8_t thickness = 3;
    std::vector<float> U, H, S;  // missing H or S values are 0
};

// The knife every new layout starts with (engine/DefaultKnife.h).
qntPlainKnife qnPlainDefaultKnife();

struct qntPlainFreeKnife {
    qntPlainKnife knife;
    uint32_t knotA = 0;
    uint32_t knotB = 0;
};

struct qntPlainLayout {
    uint16_t rowSplitters = 0;     // R
    uint16_t columnSplitters = 0;  // C
    std::vector<float> rowGuides;  // R values, at most 100 are kept
    std::vector<float> columnGuides;
    std::vector<CTessolo::KNOT> knots;       // (C + 2) x (R + 2)
    std::vector<qntPlainKnife> columnKnives;  // C x (R + 1)
    std::vector<qntPlainKnife> rowKnives;     // R x (C + 1)
    std::vector<qntPlainFreeKnife> extra;
    uint8_t razor = 1;
    uint8_t antiAlias = 1;
    bool pieceMode = false;  // a replay cuts pieces; the records follow
    std::vector<CTessolo::SFX_ONEPIECE> records;
};

// The settings block of a plain layout; empty when memory runs out.
std::vector<uint8_t> qnWritePlainLayout(const qntPlainLayout& layout);
