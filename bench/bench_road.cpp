// The user road: tessolo-host cuts a 6000 x 4000 photo into 20 x 15 pieces
// and saves the result as PNG (decode, cut, encode), on one thread, as a
// user runs it; beside it the two codec steps alone, in this process.
//
// The photo is made here: smooth colour ramps under strong noise, as a
// photo with sensor noise (the hardest case for PNG), saved in the fast
// form. The road is the programs themselves (tessolo-mkdesc writes the
// layout, tessolo-host replays it); its time is the child's CPU time (user
// and system), so other work on the machine counts less than in wall time.
// Pin it for steady figures:
//   taskset -c 2 build/release/bench/bench_road --benchmark_counters_tabular=true
#include "hostapp/RasterImage.h"
#include "imaging/ImageFile.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
constexpr int kWidth = 6000, kHeight = 4000;
// The whole road on one core must stay within this.
constexpr double kGoalSeconds = 2.5;

fs::path Folder()
{
    static const fs::path dir = [] {
        fs::path d = fs::temp_directory_path() / ("tessolo-bench-road-" + std::to_string(getpid()));
        fs::create_directories(d);
        return d;
    }();
    return dir;
}

const hostapp::RasterImage& Photo()
{
    static const hostapp::RasterImage image = [] {
        hostapp::RasterImage img;
        img.Allocate(hostapp::ColorMode::RGB, kWidth, kHeight, false);
        uint32_t noise = 12345;
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x) {
                const size_t i = static_cast<size_t>(y) * kWidth + x;
                for (int c = 0; c < 3; ++c) {
                    noise = noise * 1664525u + 1013904223u;
                    const int base = (x * (c + 1) / 40 + y * (3 - c) / 30) % 200 + 28;
                    img.planes[static_cast<size_t>(c)][i] = static_cast<uint8_t>(base + static_cast<int>(noise >> 27) - 16);
                }
            }
        return img;
    }();
    return image;
}

const std::string& PhotoFile()
{
    static const std::string path = [] {
        const std::string p = (Folder() / "photo.png").string();
        std::string err;
        if (!hostapp::WritePngFile(p, Photo(), err))
            std::fprintf(stderr, "bench_road: %s\n", err.c_str());
        return p;
    }();
    return path;
}

// Runs a program of the build with TESSOLO_THREADS=1; its CPU seconds, or a
// negative number when it failed.
double RunChild(const std::vector<std::string>& args)
{
    const pid_t pid = fork();
    if (pid < 0)
        return -1.0;
    if (pid == 0) {
        setenv("TESSOLO_THREADS", "1", 1);
        std::vector<char*> argv;
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return -1.0;
    auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec * 1e-6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// The build's programs: the host in hostapp/, the descriptor maker among the tools.
std::string Program(const char* folder, const char* name)
{
    return (fs::path(TESSOLO_BINARY_DIR) / folder / name).string();
}

void BM_UserRoad(benchmark::State& state)
{
    const std::string photo = PhotoFile();
    const std::string layout = (Folder() / "layout.qnds").string();
    const std::string descriptor = (Folder() / "run.qnds").string();
    const std::string out = (Folder() / "out.png").string();
    if (RunChild({Program("tools", "tessolo-mkdesc"), "--grid", "20x15", layout}) < 0) {
        state.SkipWithError("tessolo-mkdesc failed (is it built?)");
        return;
    }
    double total = 0.0;
    for (auto _ : state) {
        // The host writes the descriptor back after a run: every run starts
        // from the same layout.
        fs::copy_file(layout, descriptor, fs::copy_options::overwrite_existing);
        const double cpu = RunChild({Program("hostapp", "tessolo-host"), "--descriptor", descriptor, photo, out});
        if (cpu < 0) {
            state.SkipWithError("tessolo-host failed (are it and the plug-in built?)");
            return;
        }
        state.SetIterationTime(cpu);
        total += cpu;
    }
    state.counters["cpu_s"] = total / static_cast<double>(state.iterations());
    state.counters["goal_s"] = kGoalSeconds;
    state.counters["out_MB"] = static_cast<double>(fs::file_size(out)) / 1e6;
}
BENCHMARK(BM_UserRoad)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

// The road's first step alone: the PNG read into planes.
void BM_RoadDecode(benchmark::State& state)
{
    const std::string photo = PhotoFile();
    setenv("TESSOLO_THREADS", "1", 1);
    for (auto _ : state) {
        CQNF_ImageFile file;
        if (!file.Load(photo)) {
            state.SkipWithError(file.Reason().c_str());
            return;
        }
        hostapp::RasterImage image;
        hostapp::ImageFromFile(file, image);
        benchmark::DoNotOptimize(image.planes.data());
    }
    unsetenv("TESSOLO_THREADS");
}
BENCHMARK(BM_RoadDecode)->Unit(benchmark::kMillisecond)->Iterations(3);

// The road's last step alone: the cut picture saved as the host saves it.
void BM_RoadEncode(benchmark::State& state)
{
    const hostapp::RasterImage& image = Photo();
    const std::string out = (Folder() / "encoded.png").string();
    setenv("TESSOLO_THREADS", "1", 1);
    for (auto _ : state) {
        std::string err;
        if (!hostapp::WritePngFile(out, image, err)) {
            state.SkipWithError(err.c_str());
            return;
        }
    }
    unsetenv("TESSOLO_THREADS");
    state.counters["out_MB"] = static_cast<double>(fs::file_size(out)) / 1e6;
}
BENCHMARK(BM_RoadEncode)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code ec;
    fs::remove_all(Folder(), ec);
    return 0;
}
