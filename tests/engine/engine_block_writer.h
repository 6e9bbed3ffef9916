// Test helper: writes layout settings blocks the way the main window's
// settings writer does (version 3), from a plain description of a cut map.
#pragma once

#include "core/Mem.h"
#include "engine/Tessolo.h"
#include "engine/DefaultKnife.h"

#include <bit>
#include <cstdint>
#include <cstring>
#include <vector>

namespace engine_test {

struct Knife {
    uint8_t flags = 0;  // bit 0 flip across, bit 1 flip along, bit 2 off, bit 3 selected
    uint8_t knob = 100;
    uint8_t thickness = 3;
    std::vector<float> U, H, S;
};

struct ExtraKnife {
    Knife knife;
    uint32_t knotA = 0;
    uint32_t knotB = 0;
};

// The cut map as the main window holds it.
struct CutMap {
    uint16_t rowSplitters = 0;     // R
    uint16_t columnSplitters = 0;  // C
    std::vector<float> rowGuides;
    std::vector<float> columnGuides;
    std::vector<CTessolo::KNOT> knots;  // (C + 2) x (R + 2)
    std::vector<Knife> columnKnives;   // C x (R + 1)
    std::vector<Knife> rowKnives;      // R x (C + 1)
    std::vector<ExtraKnife> extra;
    uint8_t razor = 1;
    uint8_t antiAlias = 1;
    bool pieceMode = false;
    std::vector<CTessolo::SFX_ONEPIECE> records;
};

// The default knife shape of a new layout.
inline Knife DefaultKnife()
{
    constexpr qntDefaultKnife kShape = qnDefaultKnife();
    Knife k;
    k.U.assign(kShape.U, kShape.U + kShape.kNodes);
    k.H.assign(kShape.H, kShape.H + kShape.kNodes);
    k.S.assign(kShape.S, kShape.S + kShape.kNodes);
    return k;
}

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

class BlockWriter {
public:
    std::vector<uint8_t> bytes;

    void U8(uint8_t v) { bytes.push_back(v); }
    void U16(uint16_t v)
    {
        U8(uint8_t(v >> 8));
        U8(uint8_t(v));
    }
    void U32(uint32_t v)
    {
        for (int s = 24; s >= 0; s -= 8)
            U8(uint8_t(v >> s));
    }
    void F32(float f) { U32(std::bit_cast<uint32_t>(f)); }

    void WriteKnife(const Knife& k)
    {
        U8(k.flags & 0x0F);
        U16(uint16_t(k.U.size()));
        U8(k.knob);
        U8(k.thickness);
        for (float v : k.U)
            F32(v);
        for (float v : k.H)
            F32(v);
        for (float v : k.S)
            F32(v);
    }

    void Write(const CutMap& m)
    {
        U8(m.pieceMode ? 1 : 0);
        U8(m.pieceMode ? 1 : 0);
        U16(m.rowSplitters);
        U16(m.columnSplitters);
        U32(uint32_t(m.extra.size()));
        for (float g : m.rowGuides)
            F32(g);
        for (float g : m.columnGuides)
            F32(g);
        U32(uint32_t(m.knots.size()));
        for (const auto& k : m.knots) {
            F32(k.dx);
            F32(k.dy);
        }
        U32(uint32_t(m.columnKnives.size()));
        for (const auto& k : m.columnKnives)
            WriteKnife(k);
        U32(uint32_t(m.rowKnives.size()));
        for (const auto& k : m.rowKnives)
            WriteKnife(k);
        U32(uint32_t(m.extra.size()));
        for (const auto& e : m.extra) {
            WriteKnife(e.knife);
            U32(e.knotA);
            U32(e.knotB);
        }
        U8(m.razor ? 1 : 0);
        U8(m.antiAlias ? 1 : 0);
        if (m.pieceMode) {
            U32(uint32_t(m.records.size()));
            for (const auto& r : m.records) {
                uint8_t b[92];
                r.StoreLE(b);
                bytes.insert(bytes.end(), b, b + 92);
            }
        }
    }
};

inline std::vector<uint8_t> WriteBlock(const CutMap& m)
{
    BlockWriter w;
    w.Write(m);
    return w.bytes;
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
