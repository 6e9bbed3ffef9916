// The pieces export at full size: a 6000 x 4000 picture cut into 20 x 15
// pieces (300), exported to one layered PSD and to PNG series, against
// writing one flat PSD (the picture as one layer) of the same picture. And
// the layered PSD of a 3000 x 2000 photograph (smooth colour with grain, as
// a camera gives: short literals and runs for PackBits) cut into 20 x 15
// and 40 x 30 pieces, where the writer's own work weighs most.
//
// Times are the export alone, in this process. Peak memory is read from one
// more run in a child process forked from the prepared cut: "peak_MB" is the
// child's largest resident size (the picture and the rendered pieces it
// inherits included), "start_MB" what the process held before.
//
//   bench_export --benchmark_counters_tabular=true
#include "app/ExportPicture.h"
#include "app/PiecesExport.h"
#include "app/Wnd_Main.h"
#include "core/SafeFile.h"
#include "core/StdFile.h"
#include "imaging/PSDCodec.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

// What is cut: the picture's size, the grid and whether it is a photograph.
struct Case {
    uint16_t width = 6000, height = 4000;
    int columns = 20, rows = 15;
    bool photo = false;
    bool operator==(const Case&) const = default;
};

// The picture and its rendered pieces.
struct Prepared {
    const Case c;
    const uint16_t width, height;
    std::vector<uint8_t> planes[3];
    CWindowlessCutter cutter;
    CWnd_Main layout;
    CExportPicture pieces;
    fs::path dir;
    bool ok = false;

    explicit Prepared(const Case& what) : c(what), width(what.width), height(what.height)
    {
        const size_t area = size_t(width) * height;
        uint32_t grain = 12345;
        auto photo = [&](uint32_t x, uint32_t y, int k) {
            grain = grain * 1103515245u + 12345u;
            const double smooth = 96 + 80 * std::sin(x / (300.0 + 40 * k)) * std::cos(y / 250.0);
            return uint8_t(std::clamp(int(smooth) + int(grain >> 29) - 4, 0, 255));
        };
        for (int k = 0; k < 3; ++k) {
            planes[k].resize(area);
            for (uint32_t y = 0; y < height; ++y)
                for (uint32_t x = 0; x < width; ++x)
                    planes[k][size_t(y) * width + x] =
                        c.photo ? photo(x, y, k) : uint8_t((x / (7 + k)) ^ (y / (5 + k)) ^ ((x + y) >> 6));
        }
        layout.SetImageSize(width, height);
        layout.SetCutter(&cutter);
        if (!layout.spl_SplitEvenParts(c.columns, c.rows, 1, 1))
            return;
        layout.spl_DoReFillKnivesFromCutter(0, 0.0f, 0.0f, 0.0f, 0);
        const uint8_t* p[3] = {planes[0].data(), planes[1].data(), planes[2].data()};
        std::string error;
        ok = pieces.Cut(layout, p, width, width, height, nullptr, 0, nullptr, error);
        if (!ok)
            std::fprintf(stderr, "bench_export: %s\n", error.c_str());
        std::string t = (fs::temp_directory_path() / "tessolo-bench-export-XXXXXX").string();
        dir = ::mkdtemp(t.data()) ? fs::path(t) : fs::temp_directory_path();
    }
    ~Prepared()
    {
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
};

// One case at a time: a forked child holds every page of the parent, so
// another case's picture would count in its peak.
Prepared& Cut(const Case& c = {})
{
    static std::unique_ptr<Prepared> p;
    if (!p || !(p->c == c)) {
        p.reset();
        p = std::make_unique<Prepared>(c);
    }
    return *p;
}

long ResidentMB()
{
    long pages = 0, resident = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(f);
    }
    return resident * sysconf(_SC_PAGESIZE) / (1024 * 1024);
}

// Times job in this process, then runs it once more in a child forked from
// here to read the child's peak resident size (a forked child starts with
// the parent's pages, the cut included, and copies only what it writes).
template <class Job>
void Measure(benchmark::State& state, Job job, const Case& c = {})
{
    Prepared& p = Cut(c);
    if (!p.ok) {
        state.SkipWithError("the picture could not be cut");
        return;
    }
    for (auto _ : state)
        if (!job(p)) {
            state.SkipWithError("the export failed");
            return;
        }
    const long start = ResidentMB();
    const pid_t pid = ::fork();
    if (pid == 0)
        ::_exit(job(p) ? 0 : 1);
    int status = 0;
    rusage ru{};
    ::wait4(pid, &status, 0, &ru);
    state.counters["start_MB"] = double(start);
    state.counters["peak_MB"] = double(ru.ru_maxrss / 1024);
    state.counters["pieces"] = double(p.pieces.Engine().m_nPieces);
}

bool ExportPieces(Prepared& p, uint8_t to, uint8_t preserve, const std::string& name)
{
    CPiecesExport::REQUEST r;
    r.settings.exportWhat = CExportSettings::kAll;
    r.settings.exportTo = to;
    r.settings.preservePosition = preserve;
    r.path = (p.dir / name).string();
    r.width = p.width;
    r.height = p.height;
    CPiecesExport x(p.pieces.Engine());
    CPiecesExport::RESULT result;
    return x.Export(r, result);
}

// One flat PSD: the picture as one opaque layer, and the merged image.
void BM_FlatPSD(benchmark::State& state)
{
    Measure(state, [](Prepared& p) {
        std::vector<uint8_t> alpha(size_t(p.width) * p.height, 255);
        unsigned char* planes[4] = {p.planes[0].data(), p.planes[1].data(), p.planes[2].data(), alpha.data()};
        // Written as safely as the export writes: a temporary file, synced,
        // then renamed into place.
        CQNF_SafeFile safe;
        if (!safe.Open((p.dir / "flat.psd").string()))
            return false;
        CQNF_StdFile& file = safe.File();
        CQNF_ImagePSD psd;
        CQNF_ImagePSD::PSDMLWRITE_INITPARAMS init;
        init.width = p.width;
        init.height = p.height;
        init.mode = qncodec::ModeColour;
        init.globalAngle = 130;
        CQNF_ImagePSD::PSDMLWRITE_LAYERPARAMS layer;
        layer.width = p.width;
        layer.height = p.height;
        std::snprintf(layer.name, sizeof layer.name, "Picture");
        return psd.Create(file) && psd.Write_Init(&init) && psd.Write_AddLayer(&layer, planes, p.width) &&
               psd.WritePSD() && safe.Commit();
    });
}
BENCHMARK(BM_FlatPSD)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_PiecesPSD(benchmark::State& state)
{
    Measure(state, [](Prepared& p) { return ExportPieces(p, CExportSettings::kToPSD, 0, "pieces.psd"); });
}
BENCHMARK(BM_PiecesPSD)->Unit(benchmark::kMillisecond)->Iterations(3);

// A 3000 x 2000 photograph in columns x rows pieces, to one layered PSD:
// its CPU time is the whole process's (the pieces are rendered before, on
// every core; the writer works on one).
void BM_PhotoPiecesPSD(benchmark::State& state)
{
    Case c;
    c.width = 3000;
    c.height = 2000;
    c.columns = int(state.range(0));
    c.rows = int(state.range(1));
    c.photo = true;
    Measure(state, [](Prepared& p) { return ExportPieces(p, CExportSettings::kToPSD, 0, "photo.psd"); }, c);
}
BENCHMARK(BM_PhotoPiecesPSD)
    ->Args({20, 15})
    ->Args({40, 30})
    ->ArgNames({"columns", "rows"})
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->Iterations(5);

// Each piece alone, in its own box.
void BM_PiecesPNG(benchmark::State& state)
{
    Measure(state, [](Prepared& p) { return ExportPieces(p, CExportSettings::kToPNG, 0, "alone"); });
}
BENCHMARK(BM_PiecesPNG)->Unit(benchmark::kMillisecond)->Iterations(1);

// Each piece in its place on a full canvas.
void BM_PiecesPNGPositioned(benchmark::State& state)
{
    Measure(state, [](Prepared& p) { return ExportPieces(p, CExportSettings::kToPNG, 1, "placed"); });
}
BENCHMARK(BM_PiecesPNGPositioned)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
