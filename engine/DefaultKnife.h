// The knife shape every new layout starts with: a jigsaw knob of five
// nodes, each with its place along the knife (U), its offset across it (H)
// and its tension (S). The main window, the tools, the stand-in host's
// layout builder, the benchmarks and the tests all take it from here.
#pragma once

#include <cstdint>

struct qntDefaultKnife {
    static constexpr uint32_t kNodes = 5;
    static constexpr uint8_t kKnobSize = 100;   // per cent
    static constexpr uint8_t kThickness = 3;    // line width in pixels
    float U[kNodes];
    float H[kNodes];
    float S[kNodes];
};

constexpr qntDefaultKnife qnDefaultKnife()
{
    return {{0.434f, 0.3515f, 0.5f, 0.6485f, 0.566f}, {0.0f, -0.165f, -0.297f, -0.165f, 0.0f},
            {0.5f, 0.5f, 0.5f, 0.5f, 0.5f}};
}
