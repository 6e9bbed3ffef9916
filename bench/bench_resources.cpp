// The resource file at run time: opening it (stamp check, storage open),
// reading every window's records (background, captions, control skins,
// rectangles) as the windows fetch them, and unpacking every skin as the
// windows do when they create their layers.
//
// The file is looked for in TESSOLO_RESOURCE_FILE, else in the build folder
// above this program's own.
#include "resources/ResourceFile.h"

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdlib>
#include <string>

namespace {

using Unpack = qnres::ResourceFile::Unpack;

std::string ResourcePath()
{
    if (const char* env = std::getenv("TESSOLO_RESOURCE_FILE"))
        return env;
    char self[4096];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    std::string dir = n > 0 ? std::string(self, size_t(n)) : std::string(".");
    dir = dir.substr(0, dir.rfind('/'));
    return dir + "/../" + qnres::kFileName;
}

// Opens the file and loads the windows named (all when `only` is empty).
void Load(benchmark::State& state, Unpack unpack, const std::string& only)
{
    const std::string path = ResourcePath();
    size_t records = 0;
    for (auto _ : state) {
        qnres::ResourceFile file;
        std::string why;
        if (!file.Open(path, why)) {
            state.SkipWithError((path + ": " + why).c_str());
            return;
        }
        records = 0;
        for (const std::string& name : file.WindowNames()) {
            if (!only.empty() && name != only)
                continue;
            qnres::WindowSkin w;
            if (!file.LoadWindow(name, w, why, unpack)) {
                state.SkipWithError(why.c_str());
                return;
            }
            for (const auto& c : w.controls)
                records += c.records.size();
            records += w.windowRecords.size();
            benchmark::DoNotOptimize(w.background.planes.data());
        }
    }
    state.counters["records"] = double(records);
}

void BM_ResourceOpen(benchmark::State& state) { Load(state, Unpack::No, "-none-"); }
void BM_ResourceOpenAndReadEveryWindow(benchmark::State& state) { Load(state, Unpack::No, ""); }
void BM_ResourceOpenAndUnpackEveryWindow(benchmark::State& state) { Load(state, Unpack::Yes, ""); }
void BM_ResourceOpenAndUnpackMain(benchmark::State& state) { Load(state, Unpack::Yes, "Main"); }

BENCHMARK(BM_ResourceOpen)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ResourceOpenAndReadEveryWindow)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ResourceOpenAndUnpackEveryWindow)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ResourceOpenAndUnpackMain)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
