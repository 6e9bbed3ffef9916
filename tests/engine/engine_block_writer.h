// Test helper: layout settings blocks from a plain description of a cut map,
// written by the main window's own settings writer (version 3).
#pragma once

#include "app/PlainLayout.h"
#include "core/Mem.h"
#include "engine/Tessolo.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace engine_test {

// The cut map as the main window holds it, in plain values (app/PlainLayout.h).
using Knife = qntPlainKnife;
using ExtraKnife = qntPlainFreeKnife;
using CutMap = qntPlainLayout;

// The default knife shape of a new layout.
inline Knife DefaultKnife() { return qnPlainDefaultKnife(); }

// An even grid of columns x rows cells with one knife shape everywhere.
inline CutMap EvenMap(uint16_t columns, uint16_t rows, const Knife& shape = DefaultKnife())
{
    CutMap m;
    m.columnSplitters = uint16_t(columns - 1);
    m.rowSplitters = uint16_t(rows - 1);
    for (uint16_t j = 0; j < m.rowSplitters; ++j)
        m.rowGuides.push_back(float(j + 1) / rows);
    for (uint16_t i = 0; i < m.columnSplitters; ++i)
        m.columnGuides.push_back(float(i + 1) / columns);
    m.knots.assign(size_t(m.columnSplitters + 2) * (m.rowSplitters + 2), CTessolo::KNOT{0, 0});
    m.columnKnives.assign(size_t(m.columnSplitters) * (m.rowSplitters + 1), shape);
    m.rowKnives.assign(size_t(m.rowSplitters) * (m.columnSplitters + 1), shape);
    return m;
}

// The block of a cut map, written by the main window's own settings writer.
// Blocks the writer never makes (a knife of more than 64 nodes, fewer
// guides than the header counts) are made from its output with the byte
// offsets below.
inline std::vector<uint8_t> WriteBlock(const CutMap& m) { return qnWritePlainLayout(m); }

// Byte offsets in a block of m: the last row guide, and the node count of a
// row knife (after its flags byte).
inline size_t LastRowGuideOffset(const CutMap& m) { return 10 + 4 * size_t(m.rowSplitters - 1); }
inline size_t RowKnifeNodeCountOffset(const CutMap& m, size_t index)
{
    auto knifeBytes = [](const Knife& k) { return 5 + 12 * k.U.size(); };
    size_t at = 10 + 4 * size_t(m.rowSplitters + m.columnSplitters) + 4 + 8 * m.knots.size() + 4;
    for (const Knife& k : m.columnKnives)
        at += knifeBytes(k);
    at += 4;
    for (size_t i = 0; i < index; ++i)
        at += knifeBytes(m.rowKnives[i]);
    return at + 1;
}

inline CQNF_Mem ToMem(const std::vector<uint8_t>& bytes)
{
    CQNF_Mem m;
    if (!bytes.empty()) {
        m.alloc(bytes.size());
        std::memcpy(m.GetPtr(), bytes.data(), bytes.size());
    }
    return m;
}

}  // namespace engine_test
