// Benchmarks of the cutting engine on synthetic pictures (gradients and
// value noise, no data files):
//   Puzzle/6000x4000/20x15   the headline: split + render + composite,
//                            default knife, smooth cut, default bevel
//   Stage*                   the same picture, one stage at a time
//   SizeSeries               10 x 10 pieces from 1 to 64 MP (time per MP)
//   PieceSeries              4000 x 3000 from 2 x 2 to 101 x 101 pieces
//   PlainCut                 the headline with the smooth cut off
//   Recut                    the headline cut again and again in one engine
//   StageRenderPieces        every piece through RenderPieces (all threads)
//   EffectChange             30 pieces rendered again and their area composited
//   Grid                     the whole job at 24 MP for 5 x 4, 20 x 15, 60 x 40
//                            and 100 x 100 pieces, on one thread and on all:
//                            the median of each, the speed-up and the peak
//                            resident size of each, for a first cut and for
//                            a cut again in the same engine (recut_), and
//                            the kernel's CPU time in a first cut (kernel_)
//                            (--benchmark_filter=Grid/)
//   ZigzagKnives             500 free knives that run far past the picture,
//                            drawn as knife lines and cut, against the
//                            plain grid (the ratio of the two)
// Threads: the processors the process may use (taskset -c 0 gives one);
// TESSOLO_THREADS=N sets the number.
// peak_MB is the process's peak resident size: run one benchmark per
// process (--benchmark_filter) to read it for that benchmark alone.
//   build/release/bench/bench_engine   (the release build scripts/test.sh makes)
#include "engine/Tessolo.h"
#include "engine/DefaultKnife.h"
#include "imaging/Parallel.h"

#include <benchmark/benchmark.h>

#include <sys/resource.h>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Picture {
    long w, h;
    std::vector<uint8_t> planes[3];
    uint8_t* ptrs[3];

    Picture(long width, long height) : w(width), h(height)
    {
        uint32_t seed = 12345;
        for (int k = 0; k < 3; ++k) {
            planes[k].resize(size_t(w) * h);
            for (long y = 0; y < h; ++y) {
                uint8_t* row = planes[k].data() + size_t(y) * w;
                for (long x = 0; x < w; ++x) {
                    seed = seed * 1664525u + 1013904223u;
                    row[x] = uint8_t((x * (k + 1) / 7 + y * (3 - k) / 5 + (seed >> 28)) & 0xFF);
                }
            }
            ptrs[k] = planes[k].data();
        }
    }
};

// An even grid of the default knife, as a new layout has it.
void Layout(CTessolo& e, int columns, int rows, bool smooth, uint32_t freeKnives = 0)
{
    constexpr qntDefaultKnife kShape = qnDefaultKnife();
    e.Init(uint16_t(columns), uint16_t(rows), freeKnives);
    for (int i = 0; i < e.m_nInnerColumns; ++i)
        e.m_fColumnGuides[i] = float(i + 1) / float(columns);
    for (int j = 0; j < e.m_nInnerRows; ++j)
        e.m_fRowGuides[j] = float(j + 1) / float(rows);
    auto knife = [&kShape](CTessolo::KNIFESTRUCT_RENDERER& k, bool flip) {
        k.width = kShape.kThickness;
        k.nodes = kShape.kNodes;
        for (uint32_t i = 0; i < kShape.kNodes; ++i) {
            k.U[i] = kShape.U[i];
            k.H[i] = flip ? -kShape.H[i] : kShape.H[i];
            k.S[i] = kShape.S[i];
        }
    };
    for (uint32_t i = 0; i < e.m_nVKnives; ++i)
        knife(e.m_pVKnives[i], i % 2);
    for (uint32_t i = 0; i < e.m_nHKnives; ++i)
        knife(e.m_pHKnives[i], i % 3 == 0);
    e.m_bCut = 1;
    e.m_bSmooth = smooth;
}

double PeakMB()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_maxrss) / 1024.0;
}

struct Composite {
    std::vector<uint8_t> planes[4];
    uint8_t* ptrs[4];
    explicit Composite(size_t area)
    {
        for (int k = 0; k < 4; ++k) {
            planes[k].resize(area);
            ptrs[k] = planes[k].data();
        }
    }
};

// Split + render every piece + composite, the whole job of a pieces apply.
void RunPuzzle(benchmark::State& state, long w, long h, int columns, int rows, bool smooth)
{
    Picture pic(w, h);
    Composite out(size_t(w) * h);
    uint32_t pieces = 0;
    for (auto _ : state) {
        CTessolo e;
        Layout(e, columns, rows, smooth);
        if (!e.SplitCells(w, h, nullptr, 0, pic.ptrs, uint32_t(w), 3, 0, 100, 1))
            state.SkipWithError("split failed");
        if (!e.CombineSplitedCells(w, h, out.ptrs, uint32_t(w), 4, nullptr, 0, qnNullRect, nullptr, 0, 100))
            state.SkipWithError("composite failed");
        pieces = e.m_nPieces;
        benchmark::DoNotOptimize(out.planes[3].data());
    }
    const double mp = double(w) * double(h) / 1e6;
    state.counters["pieces"] = pieces;
    state.counters["MP"] = mp;
    state.counters["s_per_MP"] =
        benchmark::Counter(mp, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.counters["peak_MB"] = PeakMB();
    state.counters["threads"] = qnpar::ThreadCount();
}

// The goals beside the figures: the headline within 500 ms on one core and
// 150 ms on eight, in at most 400 MB.
void BM_Puzzle(benchmark::State& state)
{
    RunPuzzle(state, 6000, 4000, 20, 15, true);
    state.counters["goal_ms"] = qnpar::ThreadCount() >= 8 ? 150 : 500;
    state.counters["goal_peak_MB"] = 400;
}
BENCHMARK(BM_Puzzle)->Name("Puzzle/6000x4000/20x15")->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime();

// The headline again in one engine, as the windows cut again after an
// edit: the engine's memory of the last cut is reused.
void BM_Recut(benchmark::State& state)
{
    Picture pic(6000, 4000);
    Composite out(size_t(pic.w) * pic.h);
    CTessolo e;
    // Page faults of every cut after the first: memory the engine had to
    // take anew although the last cut had it.
    long faults = 0, cuts = 0;
    for (auto _ : state) {
        rusage before{}, after{};
        getrusage(RUSAGE_SELF, &before);
        e.FreeSpliting();
        Layout(e, 20, 15, true);
        if (!e.SplitCells(pic.w, pic.h, nullptr, 0, pic.ptrs, uint32_t(pic.w), 3, 0, 100, 1) ||
            !e.CombineSplitedCells(pic.w, pic.h, out.ptrs, uint32_t(pic.w), 4, nullptr, 0, qnNullRect, nullptr, 0, 100))
            state.SkipWithError("cut failed");
        getrusage(RUSAGE_SELF, &after);
        if (cuts++ > 0)
            faults += after.ru_minflt - before.ru_minflt;
    }
    state.counters["peak_MB"] = PeakMB();
    state.counters["faults_per_recut"] = cuts > 1 ? double(faults) / double(cuts - 1) : 0;
}
BENCHMARK(BM_Recut)->Name("Recut/6000x4000/20x15")->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

void BM_PlainCut(benchmark::State& state) { RunPuzzle(state, 6000, 4000, 20, 15, false); }
BENCHMARK(BM_PlainCut)->Name("PlainCut/6000x4000/20x15")->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime();

void BM_SizeSeries(benchmark::State& state)
{
    const long side = state.range(0);
    RunPuzzle(state, side, side, 10, 10, true);
}
BENCHMARK(BM_SizeSeries)
    ->Name("SizeSeries/10x10")
    ->Arg(1000)
    ->Arg(2000)
    ->Arg(4000)
    ->Arg(8000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2)
    ->UseRealTime();

void BM_PieceSeries(benchmark::State& state)
{
    const int n = int(state.range(0));
    RunPuzzle(state, 4000, 3000, n, n, true);
}
BENCHMARK(BM_PieceSeries)
    ->Name("PieceSeries/4000x3000")
    ->Arg(2)
    ->Arg(10)
    ->Arg(40)
    ->Arg(101)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2)
    ->UseRealTime();

// The headline layout split on the picture, its pieces rendered when asked.
void SplitHeadline(CTessolo& e, Picture& pic, bool render)
{
    Layout(e, 20, 15, true);
    e.SplitCells(pic.w, pic.h, nullptr, 0, pic.ptrs, uint32_t(pic.w), 3, 0, 100, render ? 1 : 0);
}

// The headline picture one stage at a time.
void BM_StageSplit(benchmark::State& state)
{
    Picture pic(6000, 4000);
    for (auto _ : state) {
        CTessolo e;
        Layout(e, 20, 15, state.range(0) != 0);
        if (!e.SplitCells(pic.w, pic.h, nullptr, 0, pic.ptrs, uint32_t(pic.w), 3, 0, 100, 0))
            state.SkipWithError("split failed");
    }
}
BENCHMARK(BM_StageSplit)->Name("StageSplit/6000x4000/20x15/smooth")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime();

void BM_StageRender(benchmark::State& state)
{
    Picture pic(6000, 4000);
    CTessolo e;
    Layout(e, 20, 15, true);
    e.SplitCells(pic.w, pic.h, nullptr, 0, pic.ptrs, uint32_t(pic.w), 3, 0, 100, 0);
    for (auto _ : state)
        for (uint32_t i = 0; i < e.m_nPieces; ++i)
            e.RenderPiece(i);
}
BENCHMARK(BM_StageRender)->Name("StageRender/6000x4000/20x15/bevel")->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime();

// The same pieces through RenderPieces, on the threads the machine (or
// TESSOLO_THREADS) gives.
void BM_StageRenderPieces(benchmark::State& state)
{
    Picture pic(6000, 4000);
    CTessolo e;
    SplitHeadline(e, pic, false);
    std::vector<uint32_t> all(e.m_nPieces);
    for (uint32_t i = 0; i < e.m_nPieces; ++i)
        all[i] = i;
    for (auto _ : state)
        e.RenderPieces(all.data(), uint32_t(all.size()));
    state.counters["threads"] = qnpar::ThreadCount();
}
BENCHMARK(BM_StageRenderPieces)->Name("StageRenderPieces/6000x4000/20x15/bevel")->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

// An effect changed on 30 pieces of the 24 MP picture, as the main window
// takes it: those pieces rendered again in the window's batches, the last
// batch in the same job as the composite of the area they cover, started
// from the picture's colours.
void BM_EffectChange(benchmark::State& state)
{
    Picture pic(6000, 4000);
    CTessolo e;
    SplitHeadline(e, pic, true);
    Composite out(size_t(pic.w) * pic.h);
    // The picture has no selection nor transparency: the main window then
    // composites without limiting alpha, as here.
    const uint8_t* const* start = pic.ptrs;
    e.CombineSplitedCells(pic.w, pic.h, out.ptrs, uint32_t(pic.w), 4, nullptr, 0, qnNullRect, start, 0, 100);
    std::vector<uint32_t> chosen;
    for (uint32_t i = 0; i < 30; ++i)
        chosen.push_back(i * 10);
    const unsigned threads = qnpar::ThreadCount();
    for (auto _ : state) {
        for (uint32_t i : chosen) {
            uint16_t& depth = e.m_pPieces[i].bevel[CTessolo::FX_REQUESTED].depth;
            depth = uint16_t(depth % 400 + 10);
        }
        for (uint32_t first = 0, last = 0; first < chosen.size(); first = last) {
            uint64_t pixels = 0;
            for (; last < chosen.size() && !CTessolo::RenderBatchFull(last - first, pixels, threads); ++last)
                pixels += uint64_t(e.m_pPieces[chosen[last]].Width()) * uint64_t(e.m_pPieces[chosen[last]].Height());
            if (last < chosen.size())
                e.RenderPieces(chosen.data() + first, last - first);
            else
                e.CombinePieceAreas(pic.w, pic.h, out.ptrs, uint32_t(pic.w), 4, nullptr, 0, chosen.data(),
                                    uint32_t(chosen.size()), start, 0, 100, chosen.data() + first, last - first);
        }
    }
    state.counters["threads"] = qnpar::ThreadCount();
    state.counters["goal_ms"] = qnpar::ThreadCount() >= 8 ? 5 : 30;
}
BENCHMARK(BM_EffectChange)->Name("EffectChange/6000x4000/30pieces")->Unit(benchmark::kMillisecond)->Iterations(20)->UseRealTime();

void BM_StageComposite(benchmark::State& state)
{
    Picture pic(6000, 4000);
    CTessolo e;
    Layout(e, 20, 15, true);
    e.SplitCells(pic.w, pic.h, nullptr, 0, pic.ptrs, uint32_t(pic.w), 3, 0, 100, 1);
    Composite out(size_t(pic.w) * pic.h);
    for (auto _ : state)
        e.CombineSplitedCells(pic.w, pic.h, out.ptrs, uint32_t(pic.w), 4, nullptr, 0, qnNullRect, nullptr, 0, 100);
}
BENCHMARK(BM_StageComposite)->Name("StageComposite/6000x4000/20x15")->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

// The process's peak resident size is set back to what it holds now, so
// that the next PeakMB() is the peak of what runs in between (Linux; where
// it cannot be, the peak stays the process's).
void ResetPeak()
{
#if defined(__GLIBC__)
    // What earlier runs freed but the heap still holds would count too.
    malloc_trim(0);
#endif
    if (FILE* f = std::fopen("/proc/self/clear_refs", "w")) {
        std::fputs("5", f);
        std::fclose(f);
    }
}

// The peak resident size since the last ResetPeak, in MB.
double PeakSinceResetMB()
{
    double kb = 0;
    if (FILE* f = std::fopen("/proc/self/status", "r")) {
        char line[256];
        while (std::fgets(line, sizeof line, f))
            if (std::strncmp(line, "VmHWM:", 6) == 0)
                kb = std::atof(line + 6);
        std::fclose(f);
    }
    return kb > 0 ? kb / 1024.0 : PeakMB();
}

// One grid of pieces at 24 MP, the whole job on one thread and on all: the
// median time of a few runs on each, the speed-up, and each one's peak. A
// first cut (a new engine, whose memory the system hands over page by page)
// and a cut again in the same engine (what the window does on every change
// of the layout) are timed apart. Beside a first cut's time stands the CPU
// time the kernel spent in it, over all threads: mostly zeroing the fresh
// pages. On a virtual machine that gives idle memory back to its host, that
// share can grow tenfold from one run to the next; the engine's own share
// is the rest.
void BM_Grid(benchmark::State& state)
{
    const long w = 6000, h = 4000;
    const int columns = int(state.range(0)), rows = int(state.range(1));
    constexpr int kRuns = 3;
    Picture pic(w, h);
    Composite out(size_t(w) * h);
    const char* set = std::getenv("TESSOLO_THREADS");
    const std::string saved = set ? set : "";
    const unsigned all = qnpar::ThreadCount();
    double ms[2] = {}, peak[2] = {}, splitMs[2] = {}, recutMs[2] = {}, kernelMs[2] = {};
    uint32_t pieces = 0;
    auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    for (auto _ : state) {
        for (int pass = 0; pass < 2; ++pass) {
            setenv("TESSOLO_THREADS", std::to_string(pass == 0 ? 1u : all).c_str(), 1);
            std::vector<double> times, splits, recuts, kernel;
            peak[pass] = 0;
            // The whole job in e; the time it took, and that of its split.
            auto cut = [&](CTessolo& e, std::vector<double>& total, std::vector<double>* split) {
                const auto t0 = std::chrono::steady_clock::now();
                e.FreeSpliting();
                Layout(e, columns, rows, true);
                const bool ok = e.SplitCells(w, h, nullptr, 0, pic.ptrs, uint32_t(w), 3, 0, 100, 1);
                if (split)
                    split->push_back(
                        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
                if (!ok || !e.CombineSplitedCells(w, h, out.ptrs, uint32_t(w), 4, nullptr, 0, qnNullRect, nullptr, 0, 100))
                    state.SkipWithError("cut failed");
                pieces = e.m_nPieces;
                benchmark::DoNotOptimize(out.planes[3].data());
                total.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
            };
            for (int run = 0; run < kRuns; ++run) {
                ResetPeak();
                {
                    rusage before{}, after{};
                    getrusage(RUSAGE_SELF, &before);
                    CTessolo e;
                    cut(e, times, &splits);
                    getrusage(RUSAGE_SELF, &after);
                    kernel.push_back(double(after.ru_stime.tv_sec - before.ru_stime.tv_sec) * 1e3 +
                                     double(after.ru_stime.tv_usec - before.ru_stime.tv_usec) / 1e3);
                }
                peak[pass] = std::max(peak[pass], PeakSinceResetMB());
            }
            {
                CTessolo e;
                std::vector<double> first;
                cut(e, first, nullptr);
                for (int run = 0; run < kRuns; ++run)
                    cut(e, recuts, nullptr);
            }
            ms[pass] = median(times);
            splitMs[pass] = median(splits);
            recutMs[pass] = median(recuts);
            kernelMs[pass] = median(kernel);
        }
        state.SetIterationTime(ms[1] / 1000.0);
    }
    if (set)
        setenv("TESSOLO_THREADS", saved.c_str(), 1);
    else
        unsetenv("TESSOLO_THREADS");
    state.counters["pieces"] = pieces;
    state.counters["threads"] = all;
    state.counters["ms_1"] = ms[0];
    state.counters["ms_all"] = ms[1];
    state.counters["speedup"] = ms[1] > 0 ? ms[0] / ms[1] : 0;
    state.counters["split_ms_1"] = splitMs[0];  // the rest is rendering and compositing
    state.counters["split_ms_all"] = splitMs[1];
    state.counters["kernel_ms_1"] = kernelMs[0];  // CPU time, all threads, of a first cut
    state.counters["kernel_ms_all"] = kernelMs[1];
    state.counters["recut_ms_1"] = recutMs[0];
    state.counters["recut_ms_all"] = recutMs[1];
    state.counters["recut_speedup"] = recutMs[1] > 0 ? recutMs[0] / recutMs[1] : 0;
    state.counters["peak_MB_1"] = peak[0];
    state.counters["peak_MB_all"] = peak[1];
}
BENCHMARK(BM_Grid)
    ->Name("Grid/6000x4000")
    ->Args({5, 4})
    ->Args({20, 15})
    ->Args({60, 40})
    ->Args({100, 100})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->UseManualTime();

// The 4 x 3 grid with free knives that cost far more than the lines they
// draw: each of 64 nodes zigzagging 0.9 of its length to either side, so
// that most of the line runs outside the picture; they join opposite
// corners, the two diagonals in turn.
void ZigzagKnives(CTessolo& e, uint32_t knives, bool smooth)
{
    Layout(e, 4, 3, smooth, knives);
    for (uint32_t i = 0; i < knives; ++i) {
        CTessolo::FREEKNIFE_RENDERER& fk = e.m_pFreeKnives[i];
        fk.knotA = i % 2 ? 4 : 0;
        fk.knotB = i % 2 ? 15 : 19;
        fk.knife.width = 3;
        fk.knife.nodes = CTessolo::kMaxNodes;
        for (uint32_t k = 0; k < CTessolo::kMaxNodes; ++k) {
            fk.knife.U[k] = float(k) / float(CTessolo::kMaxNodes - 1);
            fk.knife.H[k] = k % 2 ? -0.9f : 0.9f;
            fk.knife.S[k] = 0.0f;
        }
    }
}

// A replay's knife work with 500 such knives against the grid alone, in one
// run: lines mode (the knife lines drawn into the lines plane, range 0) and
// pieces mode (the split that draws them into the test raster and fills the
// pieces, range 1), on all threads. ratio = with knives / grid alone; the
// goal is within 3 for the whole replay, whose decoding and encoding the
// grid's time here leaves out.
void BM_ZigzagKnives(benchmark::State& state)
{
    const long w = 4000, h = 3000;
    const bool pieces = state.range(0) != 0;
    const uint32_t knives = 500;
    Picture pic(w, h);
    std::vector<uint8_t> plane(size_t(w) * h);
    double ms[2] = {};
    for (auto _ : state) {
        for (int pass = 0; pass < 2; ++pass) {
            CTessolo e;
            ZigzagKnives(e, pass == 0 ? 0 : knives, true);
            const auto t0 = std::chrono::steady_clock::now();
            bool ok;
            if (pieces)
                ok = e.SplitCells(w, h, nullptr, 0, pic.ptrs, uint32_t(w), 3, 0, 100, 0);
            else
                ok = e.DrawSplitting(w, h, plane.data(), uint32_t(w), 5, 95);
            ms[pass] = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
            if (!ok)
                state.SkipWithError("drawing failed");
            benchmark::DoNotOptimize(plane.data());
        }
        state.SetIterationTime(ms[1] / 1000.0);
    }
    state.counters["threads"] = qnpar::ThreadCount();
    state.counters["grid_ms"] = ms[0];
    state.counters["knives_ms"] = ms[1];
    state.counters["ratio"] = ms[0] > 0 ? ms[1] / ms[0] : 0;
    state.counters["peak_MB"] = PeakMB();
}
BENCHMARK(BM_ZigzagKnives)
    ->Name("ZigzagKnives/4000x3000/500")
    ->ArgName("pieces")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->UseManualTime();

}  // namespace

BENCHMARK_MAIN();
