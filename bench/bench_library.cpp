// The judge of a plug-in library before it is loaded, on the plug-in this
// build made: its headers, tables and the checksum of every byte the
// loader maps, as tessolo-host runs it on each load; beside it, reading
// those bytes alone, the least any check of them costs. Run from the
// release build:
//   build/release/bench/bench_library
#include "core/LibraryFile.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <elf.h>
#include <fcntl.h>
#include <unistd.h>

namespace {

const std::string kPlugin = std::string(TESSOLO_BINARY_DIR) + "/bundle/Tessolo/Tessolo.so";

// The loaded parts of the plug-in's file: offset and length of each.
std::vector<std::pair<uint64_t, uint64_t>> LoadedParts(int fd)
{
    std::vector<std::pair<uint64_t, uint64_t>> parts;
    Elf64_Ehdr header{};
    if (::pread(fd, &header, sizeof header, 0) != ssize_t(sizeof header))
        return parts;
    for (uint64_t i = 0; i < header.e_phnum; ++i) {
        Elf64_Phdr p{};
        if (::pread(fd, &p, sizeof p, off_t(header.e_phoff + i * sizeof p)) != ssize_t(sizeof p))
            return {};
        if (p.p_type == PT_LOAD)
            parts.emplace_back(p.p_offset, p.p_filesz);
    }
    return parts;
}

void BM_JudgePlugin(benchmark::State& state)
{
    std::string why;
    uint64_t mapped = 0;
    if (const int fd = ::open(kPlugin.c_str(), O_RDONLY | O_CLOEXEC); fd >= 0) {
        for (const auto& part : LoadedParts(fd))
            mapped += part.second;
        ::close(fd);
    }
    if (mapped == 0 || qnJudgeLibraryFile(kPlugin, why, qnLibrarySeal::Required) != qnLibraryFile::Sound) {
        state.SkipWithError(("the plug-in " + kPlugin + " is not built whole: " + why).c_str());
        return;
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(qnJudgeLibraryFile(kPlugin, why, qnLibrarySeal::Required));
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(mapped));
    state.counters["mapped_MB"] = double(mapped) / 1e6;
}
BENCHMARK(BM_JudgePlugin)->Unit(benchmark::kMillisecond);

void BM_ReadMappedBytes(benchmark::State& state)
{
    const int fd = ::open(kPlugin.c_str(), O_RDONLY | O_CLOEXEC);
    const auto parts = fd >= 0 ? LoadedParts(fd) : decltype(LoadedParts(fd)){};
    if (parts.empty()) {
        state.SkipWithError(("cannot read the plug-in " + kPlugin).c_str());
        if (fd >= 0)
            ::close(fd);
        return;
    }
    std::vector<unsigned char> block(size_t(1) << 18);
    uint64_t mapped = 0;
    for (auto _ : state) {
        mapped = 0;
        for (const auto& [at, n] : parts)
            for (uint64_t done = 0; done < n;) {
                const size_t chunk = size_t(std::min<uint64_t>(n - done, block.size()));
                if (::pread(fd, block.data(), chunk, off_t(at + done)) != ssize_t(chunk)) {
                    state.SkipWithError("a read of the plug-in failed");
                    ::close(fd);
                    return;
                }
                done += chunk;
            }
        for (const auto& part : parts)
            mapped += part.second;
        benchmark::DoNotOptimize(block.data());
    }
    ::close(fd);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(mapped));
}
BENCHMARK(BM_ReadMappedBytes)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
