// The pieces export at full size: a 6000 x 4000 picture cut into 20 x 15
// pieces (300), exported to one layered PSD and to PNG series, against
// writing one flat PSD (the picture as one layer) of the same picture.
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

#include <chrono>
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
constexpr uint16_t kWidth = 6000, kHeight = 4000;

// The picture and its 300 rendered pieces, made once.
struct Prepared {
    std::vector<uint8_t> planes[3];
    CWindowlessCutter cutter;
    CWnd_Main layout;
    CExportPicture pieces;
    fs::path dir;
    bool ok = false;

    Prepared()
    {
        const size_t area = size_t(kWidth) * kHeight;
        for (int k = 0; k < 3; ++k) {
            planes[k].resize(area);
            for (uint32_t y = 0; y < kHeight; ++y)
                for (uint32_t x = 0; x < kWidth; ++x)
                    planes[k][size_t(y) * kWidth + x] = uint8_t((x / (7 + k)) ^ (y / (5 + k)) ^ ((x + y) >> 6));
        }
        layout.SetImageSize(kWidth, kHeight);
        layout.SetCutter(&cutter);
        if (!layout.spl_SplitEvenParts(20, 15, 1, 1))
            return;
        layout.spl_DoReFillKnivesFromCutter(0, 0.0f, 0.0f, 0.0f, 0);
        const uint8_t* p[3] = {planes[0].data(), planes[1].data(), planes[2].data()};
        std::string error;
        ok = pieces.Cut(layout, p, kWidth, kWidth, kHeight, nullptr, 0, nullptr, error);
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

Prepared& Cut()
{
    static Prepared p;
    return p;
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
void Measure(benchmark::State& state, Job job)
{
    Prepared& p = Cut();
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
    r.width = kWidth;
    r.height = kHeight;
    CPiecesExport x(p.pieces.Engine());
    CPiecesExport::RESULT result;
    return x.Export(r, result);
}

// One flat PSD: the picture as one opaque layer, and the merged image.
void BM_FlatPSD(benchmark::State& state)
{
    Measure(state, [](Prepared& p) {
        std::vector<uint8_t> alpha(size_t(kWidth) * kHeight, 255);
        unsigned char* planes[4] = {p.planes[0].data(), p.planes[1].data(), p.planes[2].data(), alpha.data()};
        // Written as safely as the export writes: a temporary file, synced,
        // then renamed into place.
        CQNF_SafeFile safe;
        if (!safe.Open((p.dir / "flat.psd").string()))
            return false;
        CQNF_StdFile& file = safe.File();
        CQNF_ImagePSD psd;
        CQNF_ImagePSD::PSDMLWRITE_INITPARAMS init;
        init.width = kWidth;
        init.height = kHeight;
        init.mode = qncodec::ModeColour;
        init.globalAngle = 130;
        CQNF_ImagePSD::PSDMLWRITE_LAYERPARAMS layer;
        layer.width = kWidth;
        layer.height = kHeight;
        std::snprintf(layer.name, sizeof layer.name, "Picture");
        return psd.Create(file) && psd.Write_Init(&init) && psd.Write_AddLayer(&layer, planes, kWidth) &&
               psd.WritePSD() && safe.Commit();
    });
}
BENCHMARK(BM_FlatPSD)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_PiecesPSD(benchmark::State& state)
{
    Measure(state, [](Prepared& p) { return ExportPieces(p, CExportSettings::kToPSD, 0, "pieces.psd"); });
}
BENCHMARK(BM_PiecesPSD)->Unit(benchmark::kMillisecond)->Iterations(3);

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
