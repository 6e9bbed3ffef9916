// Storage container and block stages: opening large containers (one pass
// over the records), lookups, appends through the safe file replacement,
// and the zip and MD5 stages. Run from the release build:
//   build/release/bench/bench_storage
#include "core/MD5Digest.h"
#include "core/Storage.h"
#include "core/ZipBlock.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

using Bytes = std::vector<uint8_t>;

void Put32(Bytes& b, uint32_t v)
{
    for (int s = 24; s >= 0; s -= 8)
        b.push_back(uint8_t(v >> s));
}

// A container of n records: 200 folders (some nested), the rest u32, string
// and binary values spread over them, as the resource file looks.
Bytes MakeContainer(uint32_t n)
{
    Bytes b(24, 0);
    std::memcpy(b.data(), "QNCPSv40", 8);
    Put32(b, n);
    Put32(b, n);
    const uint32_t folders = std::min<uint32_t>(200, n);
    std::mt19937 rng(7);
    for (uint32_t id = 1; id <= n; ++id) {
        const bool folder = id <= folders;
        const uint32_t parent = id == 1 ? 0xFFFFFFFF : folder ? (id % 10 == 0 ? 0xFFFFFFFF : 1 + rng() % (id - 1)) : 1 + rng() % folders;
        const std::string name = (folder ? "Folder " : "Record ") + std::to_string(id);
        Bytes payload;
        uint8_t type = 0;
        if (!folder) {
            type = uint8_t(3 + id % 3);  // u32, string, binary
            if (type == 3) {
                Put32(payload, id);
            } else {
                const uint32_t c = 4 + id % 24;
                Put32(payload, c);
                payload.resize(payload.size() + c, 'v');
                if (type == 4)
                    payload.back() = 0;
            }
        }
        Put32(b, uint32_t(11 + name.size() + payload.size()));
        b.push_back(type);
        Put32(b, parent);
        Put32(b, id);
        b.push_back(uint8_t(name.size() >> 8));
        b.push_back(uint8_t(name.size()));
        b.insert(b.end(), name.begin(), name.end());
        b.insert(b.end(), payload.begin(), payload.end());
    }
    const char* t = "QNCPSv40";
    b.insert(b.end(), t, t + 8);
    CQNF_MD5Digest::Compute(b.data() + 24, b.size() - 24, b.data() + 8);
    return b;
}

const Bytes& Container(uint32_t n)
{
    static std::map<uint32_t, Bytes> cache;
    auto it = cache.find(n);
    if (it == cache.end())
        it = cache.emplace(n, MakeContainer(n)).first;
    return it->second;
}

std::string TempPath(const char* name)
{
    return (std::filesystem::temp_directory_path() / (std::string("tessolo_bench_") + name + "_" +
                                                      std::to_string(::getpid())))
        .string();
}

void WriteFile(const std::string& path, const Bytes& b)
{
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
}

}  // namespace

// Opening a memory image: every record checked, the tree and the sorted key
// index built in one pass.
static void BM_StorageOpenMemory(benchmark::State& state)
{
    const Bytes& img = Container(uint32_t(state.range(0)));
    for (auto _ : state) {
        CQNF_Storage st;
        if (!st.Open(img.data(), img.size()))
            state.SkipWithError("open failed");
        benchmark::DoNotOptimize(st.GetTotalRecords());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
    state.SetBytesProcessed(state.iterations() * int64_t(img.size()));
}
BENCHMARK(BM_StorageOpenMemory)->Arg(1000)->Arg(10000)->Arg(50000)->Unit(benchmark::kMillisecond);

// The same from a file by path (read whole, then parsed).
static void BM_StorageOpenFile(benchmark::State& state)
{
    const std::string path = TempPath("open");
    WriteFile(path, Container(uint32_t(state.range(0))));
    for (auto _ : state) {
        CQNF_Storage st;
        if (!st.Open(CQNF_String(path.c_str()), 1))
            state.SkipWithError("open failed");
        benchmark::DoNotOptimize(st.GetTotalRecords());
    }
    std::filesystem::remove(path);
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_StorageOpenFile)->Arg(1000)->Arg(50000)->Unit(benchmark::kMillisecond);

// For scale: the walk that rescans all records once per folder, in memory
// (no sort, no file seeks), which a one-pass open replaces.
static void BM_StorageWalkPerFolder(benchmark::State& state)
{
    const Bytes& img = Container(uint32_t(state.range(0)));
    auto get32 = [&](size_t at) {
        return uint32_t(img[at]) << 24 | uint32_t(img[at + 1]) << 16 | uint32_t(img[at + 2]) << 8 | img[at + 3];
    };
    const uint32_t count = get32(24);
    for (auto _ : state) {
        std::vector<std::string> keys;
        std::function<void(const std::string&, uint32_t)> walk = [&](const std::string& prefix, uint32_t id) {
            size_t off = 32;
            for (uint32_t i = 0; i < count; ++i) {
                const uint32_t len = get32(off);
                if (get32(off + 5) == id && img[off + 4] != 0x63) {
                    const size_t n = size_t(img[off + 13]) << 8 | img[off + 14];
                    const std::string name(reinterpret_cast<const char*>(&img[off + 15]), n);
                    const std::string key = prefix.empty() ? name : prefix + ">" + name;
                    keys.push_back(key);
                    if (img[off + 4] == 0)
                        walk(key, get32(off + 9));
                }
                off += 4 + len;
            }
        };
        walk("", 0xFFFFFFFF);
        benchmark::DoNotOptimize(keys.size());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_StorageWalkPerFolder)->Arg(1000)->Arg(10000)->Arg(50000)->Unit(benchmark::kMillisecond);

static void BM_StorageGetRec(benchmark::State& state)
{
    const Bytes& img = Container(50000);
    CQNF_Storage st;
    st.Open(img.data(), img.size());
    CQNF_StringArray* all = st.GetAllRecordsArray();
    std::vector<CQNF_String> keys;
    for (uint32_t i = 0; i < all->GetSize(); i += 97)
        keys.push_back((*all)[i]);
    size_t i = 0;
    for (auto _ : state) {
        _QNSTORAGEDATA v{};
        benchmark::DoNotOptimize(st.GetRec(keys[i++ % keys.size()], v));
    }
}
BENCHMARK(BM_StorageGetRec);

// One write on a file container: the whole new container goes to a
// temporary file that is synced and renamed over the old one.
static void BM_StorageSetRecordFile(benchmark::State& state)
{
    const std::string path = TempPath("set");
    WriteFile(path, Container(uint32_t(state.range(0))));
    CQNF_Storage st;
    st.Open(CQNF_String(path.c_str()), 0);
    uint32_t v = 0;
    for (auto _ : state) {
        if (!st.SetRecord("Folder 1>Counter", v++))
            state.SkipWithError("write failed");
    }
    st.Close();
    std::filesystem::remove(path);
}
BENCHMARK(BM_StorageSetRecordFile)->Arg(100)->Arg(10000)->Unit(benchmark::kMillisecond);

static void BM_ZipInflate(benchmark::State& state)
{
    Bytes raw(size_t(state.range(0)));
    std::mt19937 rng(3);
    for (size_t i = 0; i < raw.size(); ++i)
        raw[i] = uint8_t(i % 61 < 40 ? 0 : rng());
    CQNF_ZipBlock pack;
    pack.SetSourceBlock(raw.data(), raw.size());
    pack.Process();
    const CQNF_Mem* block = pack.GetDestBlock();
    for (auto _ : state) {
        CQNF_ZipBlock zip;
        zip.SetMode(0);
        zip.SetSourceBlock(*block);
        benchmark::DoNotOptimize(zip.Process());
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_ZipInflate)->Arg(1 << 20)->Unit(benchmark::kMillisecond);

static void BM_MD5(benchmark::State& state)
{
    Bytes data(size_t(state.range(0)), 0x5A);
    uint8_t digest[16];
    for (auto _ : state) {
        CQNF_MD5Digest::Compute(data.data(), data.size(), digest);
        benchmark::DoNotOptimize(digest[0]);
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_MD5)->Arg(8 << 20)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
