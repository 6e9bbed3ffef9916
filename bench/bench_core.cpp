#include "core/ErrorManager.h"

#include <benchmark/benchmark.h>

// The cost of the error holder round trip; keeps the benchmark build honest
// from the first commit on.
static void BM_ErrorRoundTrip(benchmark::State& state)
{
    CQNF_FrameWork fw;
    for (auto _ : state) {
        fw.SetError(17);
        benchmark::DoNotOptimize(fw.GetError());
        fw.ResetError();
    }
}
BENCHMARK(BM_ErrorRoundTrip);

BENCHMARK_MAIN();
