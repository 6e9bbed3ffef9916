// The live preview of the effect windows: after a slider is released the
// selected pieces are re-rendered with the new setting and composited back
// into the picture. A 24-megapixel RGB picture (6000 x 4000) cut into 20 x 15
// pieces; 1, 30 and 300 of them re-rendered with a bevel and with a Gaussian
// blur, each iteration with the other of two settings so that every listed
// piece really renders. The time covers what the main window does for one
// change: render the changed pieces, then composite the union of their boxes.
// The engine renders independent pieces on several threads, byte for byte as
// on one; TESSOLO_THREADS=1 measures one thread.
//
//   bench_effects --benchmark_filter=Bevel
#include "effects/FxSession.h"
#include "engine/Tessolo.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

namespace {

constexpr int32_t kWidth = 6000, kHeight = 4000;
constexpr uint16_t kColumns = 20, kRows = 15;

struct Cut {
    CTessolo e;
    std::vector<std::vector<uint8_t>> source, target;
    std::vector<uint8_t*> sourcePtrs, targetPtrs;

    Cut()
    {
        source.assign(3, std::vector<uint8_t>(size_t(kWidth) * kHeight));
        for (int k = 0; k < 3; ++k)
            for (int32_t y = 0; y < kHeight; ++y)
                for (int32_t x = 0; x < kWidth; ++x)
                    source[k][size_t(y) * kWidth + x] = uint8_t((x * (k + 1) / 9 + y * (3 - k) / 7 + (x ^ y) % 13) & 0xFF);
        target.assign(4, std::vector<uint8_t>(size_t(kWidth) * kHeight, 0));
        for (auto& p : source)
            sourcePtrs.push_back(p.data());
        for (auto& p : target)
            targetPtrs.push_back(p.data());
        e.Init(kColumns, kRows, 0);
        for (uint16_t c = 0; c + 1 < kColumns; ++c)
            e.m_fColumnGuides[c] = float(c + 1) / kColumns;
        for (uint16_t r = 0; r + 1 < kRows; ++r)
            e.m_fRowGuides[r] = float(r + 1) / kRows;
        e.SplitCells(kWidth, kHeight, nullptr, 0, sourcePtrs.data(), uint32_t(kWidth), 3, 0, 100, 1);
        // Every piece starts without effects.
        for (uint32_t i = 0; i < e.m_nPieces; ++i)
            for (const FxKind* k : {&fxkind::kBevel, &fxkind::kBlur})
                for (uint8_t copy = 0; copy < 3; ++copy)
                    std::memset(k->block(e.m_pPieces[i], copy), 0, k->blockSize);
    }

    // What the main window does for one change of the listed pieces: the
    // engine renders them on every core (TESSOLO_THREADS=1 for one).
    void Rerender(const std::vector<uint32_t>& pieces)
    {
        e.RenderPieces(pieces.data(), uint32_t(pieces.size()));
        qntRECT_s box{kWidth, kHeight, 0, 0};
        for (uint32_t i : pieces) {
            const CTessolo::SPLITEDCELL& p = e.m_pPieces[i];
            box = qntRECT_s{std::min(box.left, p.left), std::min(box.top, p.top), std::max(box.right, p.right),
                            std::max(box.bottom, p.bottom)};
        }
        e.CombineSplitedCells(kWidth, kHeight, targetPtrs.data(), uint32_t(kWidth), 4, nullptr, 0, box, nullptr, 0, 100);
    }
};

Cut& SharedCut()
{
    static std::unique_ptr<Cut> cut = std::make_unique<Cut>();
    return *cut;
}

// The first n pieces of the middle rows, as a user's selection would be.
std::vector<uint32_t> Selection(const CTessolo& e, uint32_t n)
{
    std::vector<uint32_t> list;
    const uint32_t start = e.m_nPieces > n ? (e.m_nPieces - n) / 2 : 0;
    for (uint32_t i = start; i < e.m_nPieces && list.size() < n; ++i)
        list.push_back(i);
    return list;
}

template <class Set>
void Run(benchmark::State& state, Set set)
{
    Cut& cut = SharedCut();
    const std::vector<uint32_t> list = Selection(cut.e, uint32_t(state.range(0)));
    int flip = 0;
    for (auto _ : state) {
        flip ^= 1;
        for (uint32_t i : list)
            set(cut.e.m_pPieces[i], flip);
        cut.Rerender(list);
    }
    state.counters["pieces"] = double(list.size());
    for (uint32_t i : list)  // leave the pieces without the effect
        set(cut.e.m_pPieces[i], -1);
    cut.Rerender(list);
}

void BM_Bevel(benchmark::State& state)
{
    Run(state, [](CTessolo::SPLITEDCELL& p, int flip) {
        CTessolo::SFX_BEVEL& b = p.bevel[CTessolo::FX_REQUESTED];
        b = SharedCut().e.m_DefBevel;
        b.on = flip >= 0;
        b.size = uint8_t(flip > 0 ? 6 : 5);
        b.depth = 100;
        b.soften = 2;
    });
}

void BM_GaussianBlur(benchmark::State& state)
{
    Run(state, [](CTessolo::SPLITEDCELL& p, int flip) {
        p.gaussianBlur[CTessolo::FX_REQUESTED] = CTessolo::SFX_GAUSSIANBLUR{uint8_t(flip >= 0), uint8_t(flip > 0 ? 6 : 5)};
    });
}

}  // namespace

BENCHMARK(BM_Bevel)->Arg(1)->Arg(30)->Arg(300)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_GaussianBlur)->Arg(1)->Arg(30)->Arg(300)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_MAIN();
