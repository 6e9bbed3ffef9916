// Framework core: the operations that sit in inner loops of later
// subsystems (key building, id lists, resource key lookups).
//   build/release/bench/bench_core   (the release build scripts/test.sh makes)
#include "core/Array.h"
#include "core/Mem.h"
#include "core/String.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>

// Building a string one character at a time: the buffer grows by 20 bytes
// per step, so this is quadratic in copying; the hinted form is the remedy.
static void BM_StringAppendChar(benchmark::State& state)
{
    const int64_t n = state.range(0);
    for (auto _ : state) {
        CQNF_String s;
        for (int64_t i = 0; i < n; ++i)
            s += char('a' + i % 26);
        benchmark::DoNotOptimize(s.GetStr());
    }
    state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_StringAppendChar)->Arg(64)->Arg(1024)->Arg(16384);

static void BM_StringAppendHinted(benchmark::State& state)
{
    const int64_t n = state.range(0);
    CQNF_String chunk("0123456789abcdef");
    for (auto _ : state) {
        CQNF_String s;
        for (int64_t i = 0; i < n / 16; ++i)
            s.Append(chunk, uint32_t(n));
        benchmark::DoNotOptimize(s.GetStr());
    }
    state.SetBytesProcessed(state.iterations() * n);
}
BENCHMARK(BM_StringAppendHinted)->Arg(1024)->Arg(16384);

// Storage keys are formatted and compared constantly.
static void BM_StringFormatCompare(benchmark::State& state)
{
    CQNF_String key, other("Preferences>Window>Main>Left");
    for (auto _ : state) {
        key.Format("Preferences>Window>%s>%s", "Main", "Left");
        benchmark::DoNotOptimize(key.Compare(other));
    }
}
BENCHMARK(BM_StringFormatCompare);

// Adding grows the buffer by ten slots at a time, a full copy each time.
static void BM_DWordArrayAdd(benchmark::State& state)
{
    const int64_t n = state.range(0);
    for (auto _ : state) {
        CQNF_DWordArray a;
        for (int64_t i = 0; i < n; ++i)
            a.Add(uint32_t(i));
        benchmark::DoNotOptimize(a.GetSize());
    }
    state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_DWordArrayAdd)->Arg(100)->Arg(1000)->Arg(10000);

// The exchange sort is quadratic; piece id lists are a few hundred long.
static void BM_DWordArraySort(benchmark::State& state)
{
    const int64_t n = state.range(0);
    std::mt19937 rng(1);
    CQNF_DWordArray source;
    for (int64_t i = 0; i < n; ++i)
        source.Add(uint32_t(rng()));
    for (auto _ : state) {
        CQNF_DWordArray a(source);
        a.SortElements(1);
        benchmark::DoNotOptimize(a[0]);
    }
    state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_DWordArraySort)->Arg(100)->Arg(300)->Arg(1000);

// Sorting and looking up keys as the storage container's index does.
static void BM_StringArraySortSearch(benchmark::State& state)
{
    const int64_t n = state.range(0);
    CQNF_StringArray keys;
    CQNF_String k;
    for (int64_t i = 0; i < n; ++i) {
        k.Format("Section%03lld>Key%05lld", static_cast<long long>(i % 37), static_cast<long long>(i * 7919 % n));
        keys.Add(k);
    }
    for (auto _ : state) {
        CQNF_StringArray a(keys);
        a.SortElements(1);
        int64_t found = 0;
        for (int64_t i = 0; i < n; i += 7)
            found += a.BSearch(keys[uint32_t(i)], 1) >= 0;
        benchmark::DoNotOptimize(found);
    }
    state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_StringArraySortSearch)->Arg(100)->Arg(500);

static void BM_MemResizeGrow(benchmark::State& state)
{
    for (auto _ : state) {
        CQNF_Mem m;
        for (uint32_t size = 4096; size <= (1u << 20); size *= 2)
            m.Resize(size);
        benchmark::DoNotOptimize(m.GetPtr());
    }
}
BENCHMARK(BM_MemResizeGrow);

BENCHMARK_MAIN();
