// Test helpers of the engine tests: layouts, images, progress probes.
#pragma once

#include "core/Progress.h"
#include "engine/Tessolo.h"
#include "engine_block_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <random>
#include <vector>

namespace engine_test {

// Loads a cut map into the engine through the settings block reader.
inline void Load(CTessolo& e, const CutMap& m)
{
    CQNF_Mem block = ToMem(WriteBlock(m));
    uint8_t drawOnly = 0;
    uint32_t count = 0;
    CTessolo::SFX_ONEPIECE* records = nullptr;
    ASSERT_TRUE(e.InitFromLastSettingsBinary(&block, drawOnly, count, &records));
}

inline void Load(CTessolo& e, uint16_t columns, uint16_t rows, bool cut, bool smooth,
                 const Knife& shape = DefaultKnife())
{
    CutMap m = EvenMap(columns, rows, shape);
    m.razor = cut;
    m.antiAlias = smooth;
    Load(e, m);
}

// A random layout: jittered knots, random shapes and flips, a few knives
// off and a few free knives.
inline CutMap RandomMap(std::mt19937& rng, uint16_t columns, uint16_t rows, int freeKnives)
{
    std::uniform_real_distribution<float> jitter(-0.4f, 0.4f), unit(0.0f, 1.0f), across(-0.4f, 0.4f),
        tension(-1.0f, 1.0f);
    auto knife = [&]() {
        Knife k;
        const int n = int(rng() % 7);
        for (int i = 0; i < n; ++i) {
            k.U.push_back(unit(rng));
            k.H.push_back(across(rng));
            k.S.push_back(tension(rng));
        }
        k.flags = uint8_t(rng() % 4);
        if (rng() % 10 == 0)
            k.flags |= 4;
        k.knob = uint8_t(60 + rng() % 80);
        k.thickness = uint8_t(1 + rng() % 5);
        return k;
    };
    CutMap m = EvenMap(columns, rows);
    for (auto& k : m.knots)
        k = CTessolo::KNOT{jitter(rng), jitter(rng)};
    for (auto& k : m.columnKnives)
        k = knife();
    for (auto& k : m.rowKnives)
        k = knife();
    for (int i = 0; i < freeKnives; ++i) {
        ExtraKnife x;
        x.knife = knife();
        x.knotA = uint32_t(rng() % m.knots.size());
        x.knotB = uint32_t(rng() % m.knots.size());
        m.extra.push_back(x);
    }
    return m;
}

// A planar test image: colour planes with distinct gradients and noise.
struct TestImage {
    int32_t w = 0, h = 0;
    uint8_t channels = 0;
    std::vector<std::vector<uint8_t>> planes;
    std::vector<uint8_t*> ptrs;

    TestImage(int32_t width, int32_t height, uint8_t n, uint32_t seed = 1) : w(width), h(height), channels(n)
    {
        std::mt19937 rng(seed);
        planes.assign(n, std::vector<uint8_t>(size_t(w) * h));
        for (uint8_t k = 0; k < n; ++k)
            for (int32_t y = 0; y < h; ++y)
                for (int32_t x = 0; x < w; ++x)
                    planes[k][size_t(y) * w + x] = uint8_t((x * (k + 3) + y * (7 - k) + rng() % 17) & 0xFF);
        for (auto& p : planes)
            ptrs.push_back(p.data());
    }
    uint8_t** Planes() { return ptrs.data(); }
};

// Records every report; cancels from the n-th cancel query on (0: never).
class ProbeProgress : public CQNF_Progress {
public:
    std::vector<int> reports;
    int queries = 0;
    int cancelAt = 0;
    std::function<void()> onReport;

    void Progress(uint8_t percent, void*) override
    {
        reports.push_back(percent);
        if (onReport)
            onReport();
    }
    bool IsCanceled() override
    {
        ++queries;
        return cancelAt > 0 && queries >= cancelAt;
    }
};

// A piece's mask placed into a full-size plane.
inline std::vector<uint8_t> PlacedMask(const CTessolo::SPLITEDCELL& p, int32_t w, int32_t h)
{
    std::vector<uint8_t> out(size_t(w) * h, 0);
    const int32_t bw = p.Width();
    for (int32_t y = p.top; y < p.bottom; ++y)
        for (int32_t x = p.left; x < p.right; ++x)
            out[size_t(y) * w + x] = p.mask->GetPtr()[size_t(y - p.top) * bw + (x - p.left)];
    return out;
}

// A rendered piece's planes as the composite reads them (its alpha may be
// its mask), one after the other.
inline std::vector<uint8_t> RenderedBytes(const CTessolo& e, const CTessolo::SPLITEDCELL& p)
{
    std::vector<uint8_t> out;
    for (uint8_t k = 0; k < e.m_nWorkPlaneCount; ++k)
        for (int32_t y = 0; y < p.Height(); ++y) {
            const uint8_t* row = p.planePtrs[k] + size_t(y) * p.planeStrides[k];
            out.insert(out.end(), row, row + p.Width());
        }
    return out;
}

// Whether every plane of a piece, its own alpha included, reads 0.
inline bool PlanesReadZero(const CTessolo::SPLITEDCELL& p, uint8_t planeCount)
{
    const size_t area = size_t(p.Width()) * p.Height();
    const uint8_t* colours = p.planes->GetPtr();
    const uint8_t* alpha = p.alpha->GetPtr();
    return std::all_of(colours, colours + area * (planeCount - 1u), [](uint8_t v) { return v == 0; }) &&
           std::all_of(alpha, alpha + area, [](uint8_t v) { return v == 0; }) && p.planePtrs[planeCount - 1] == alpha;
}

// Switches every effect of every piece off (requested copies).
inline void NoEffects(CTessolo& e)
{
    for (uint32_t i = 0; i < e.m_nPieces; ++i)
        e.m_pPieces[i].bevel[CTessolo::FX_REQUESTED].on = 0;
}

}  // namespace engine_test
