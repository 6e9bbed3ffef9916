// Benchmarks of the knife editor without its window, on a 6000 x 4000 image
// laid out in 20 x 15 cells whose knives are clones of the editor's knife:
//   CutterDrag/EditorMove        one mouse move of a node drag: the shape
//                                moves and the editor's preview (curve and
//                                extras) is redrawn
//   CutterDrag/MoveAndClone      the same, and the main window takes the
//                                shape onto every knife and redraws them all
//                                at fit zoom (what a release of the mouse
//                                costs, or a preview that follows the drag)
//   CutterCut/Editor             the Cut from the editor: hand-over, split,
//                                carry-over, rendering of every piece, with
//                                the progress callbacks and event pumps
//   CutterCut/Engine             the engine's split, then every piece
//                                rendered, same layout, no progress: the
//                                reference
//   CutterCut/EngineRenderAll    the same with the engine rendering inside
//                                its split
#include "app/MainModel.h"
#include "cutter/CutterEditor.h"
#include "cutter/CutterMainLink.h"
#include "engine/Tessolo.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

namespace {

constexpr uint32_t kW = 6000, kH = 4000;
constexpr uint16_t kColumns = 20, kRows = 15;
constexpr qntRECT_s kEditorPreview{10, 20, 410, 445};

class Main : public CWnd_MainModel {
public:
    CQNF_SeededRandom random{5};
    Main()
    {
        SetImageSize(kW, kH);
        SetRandomSource(&random);
    }
};

class Link : public CCutterMainAdapter {
public:
    using CCutterMainAdapter::CCutterMainAdapter;
    uint32_t pumps = 0;
    void PumpWindowEvents() override { ++pumps; }
};

class Editor : public CWnd_CutterEditor {
public:
    uint32_t bars = 0;
    void CutterProgress_SetBar(uint8_t percent) override
    {
        ++bars;
        CWnd_CutterEditor::CutterProgress_SetBar(percent);
    }
};

struct Picture {
    std::vector<uint8_t> planes[3];
    Picture()
    {
        uint32_t seed = 12345;
        for (int k = 0; k < 3; ++k) {
            planes[k].resize(size_t(kW) * kH);
            for (uint32_t y = 0; y < kH; ++y) {
                uint8_t* row = planes[k].data() + size_t(y) * kW;
                for (uint32_t x = 0; x < kW; ++x) {
                    seed = seed * 1664525u + 1013904223u;
                    row[x] = uint8_t((x * (k + 1) / 7 + y * (3 - k) / 5 + (seed >> 28)) & 0xFF);
                }
            }
        }
    }
};

// The main model, the editor and the engine wired as the windows wire them,
// the knives cloned from the editor's default knife, the main preview at fit
// zoom (1 : 8, 750 x 500).
struct Rig {
    Main main;
    Link link{main};
    Editor ed;
    CTessolo engine;

    explicit Rig(Picture* picture = nullptr)
    {
        main.SetCutter(&ed);
        ed.SetMain(&link);
        ed.SetEngine(&engine);
        main.SetView(qntRECT_s{0, 0, 800, 560}, qntRECT_s{0, 0, 0, 0}, qntRECT_s{0, 0, 0, 0}, 1, 0, 0);
        if (picture) {
            CWnd_CutterEditor::CUTSOURCE src;
            src.width = kW;
            src.height = kH;
            for (int k = 0; k < 3; ++k)
                src.planes[k] = picture->planes[k].data();
            ed.SetCutSource(src);
        }
        ed.OnCreate(kEditorPreview, 0);
        main.OnCutterUpdateRowsCols(kRows, kColumns);
        ed.SetCloneMode(1);
    }
};

void DragRun(benchmark::State& state, bool clone)
{
    Rig rig;
    Editor& ed = rig.ed;
    // Grab the middle node of the knob.
    const qntPOS c = ed.NodeCentre(2);
    const int16_t x = int16_t(kEditorPreview.left + c.x), y = int16_t(kEditorPreview.top + c.y);
    ed.OnLMouseDown(x, y, 0);
    if (!ed.m_bNodeDrag)
        state.SkipWithError("no node under the mouse");
    int step = 0;
    for (auto _ : state) {
        const int16_t dx = int16_t((step++ % 20) - 10);
        ed.OnMouseMove(int16_t(x + dx), y, 0);
        if (clone)
            ed.NotifyMain_ShapeChanged(1);
        benchmark::DoNotOptimize(rig.main.m_KnivesLayer.GetPlane(3));
    }
    state.counters["knives"] = rig.main.GetKnifeCount();
}

void BM_EditorMove(benchmark::State& state) { DragRun(state, false); }
BENCHMARK(BM_EditorMove)->Name("CutterDrag/EditorMove")->Unit(benchmark::kMicrosecond);

void BM_MoveAndClone(benchmark::State& state) { DragRun(state, true); }
BENCHMARK(BM_MoveAndClone)->Name("CutterDrag/MoveAndClone")->Unit(benchmark::kMillisecond);

Picture& SharedPicture()
{
    static Picture picture;
    return picture;
}

void BM_CutEditor(benchmark::State& state)
{
    Rig rig(&SharedPicture());
    uint32_t pieces = 0;
    for (auto _ : state) {
        if (!rig.ed.DoCutting())
            state.SkipWithError("cut failed");
        pieces = rig.engine.m_nPieces;
    }
    state.counters["pieces"] = pieces;
    state.counters["bar_updates"] = benchmark::Counter(rig.ed.bars, benchmark::Counter::kAvgIterations);
    state.counters["pumps"] = benchmark::Counter(rig.link.pumps, benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_CutEditor)->Name("CutterCut/Editor")->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

// renderAll: the engine renders inside its split; otherwise the split and
// then RenderPiece per piece, as the editor drives it, without progress.
void CutEngine(benchmark::State& state, bool renderAll)
{
    Picture& picture = SharedPicture();
    Rig rig;
    uint8_t* planes[3] = {picture.planes[0].data(), picture.planes[1].data(), picture.planes[2].data()};
    uint32_t pieces = 0;
    for (auto _ : state) {
        if (!rig.main.engine_PutLayoutToPuzzleEngine(&rig.engine) || !rig.engine.FreeSpliting() ||
            !rig.engine.SplitCells(kW, kH, nullptr, kW, planes, kW, 3, 0, 100, renderAll ? 1 : 0))
            state.SkipWithError("split failed");
        for (uint32_t i = 0; !renderAll && i < rig.engine.m_nPieces; ++i)
            rig.engine.RenderPiece(i);
        pieces = rig.engine.m_nPieces;
    }
    state.counters["pieces"] = pieces;
}

void BM_CutEngine(benchmark::State& state) { CutEngine(state, false); }
BENCHMARK(BM_CutEngine)->Name("CutterCut/Engine")->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

void BM_CutEngineRenderAll(benchmark::State& state) { CutEngine(state, true); }
BENCHMARK(BM_CutEngineRenderAll)
    ->Name("CutterCut/EngineRenderAll")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
