// compare_peers: the image filters side by side with libvips, ImageMagick
// (MagickWand) and GEGL, each called in this process on the same 8-bit
// picture, one thread each, timed the same way: the best of several runs of
// the operation with its 8-bit result written to memory (for ours the filter
// call; for vips the pipeline computed into memory; for ImageMagick the
// operation and the export of its 8-bit pixels; for GEGL the graph blitted
// into an 8-bit buffer). Loading, and building the peers' input objects, is
// outside the timed part. Large blocks are kept by the allocator between runs
// (mallopt), so that no side pays page faults the other does not.
//
// Each side works on its own layout: ours planar, the peers interleaved RGB.
// The last column is ours / fastest peer: below 1 we are faster. Where a
// peer's operation is not quite ours, the row says so.
//
//   build/release/bench/compare_peers [--size WxH] [--repeat N] [--only TEXT] [--cpu]
//
// --only keeps the rows whose name holds TEXT (say "Gaussian"). --cpu times
// with the process's processor time (every thread of it) instead of the
// wall clock: on a loaded machine, time spent waiting for the core no
// longer counts, for every side alike.
//
// Ours runs on one thread as each peer does, whatever TESSOLO_THREADS or
// the machine's cores would give it: the first line says so.
//
// Built when the peers' development files are found (scripts/setup.sh
// --bench installs them); a peer that is missing shows "-".
#include "imaging/ImageFX.h"
#include "imaging/Parallel.h"

#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <random>
#include <string>
#include <vector>

#if defined(TESSOLO_PEER_VIPS)
#include <vips/vips.h>
#endif
#if defined(TESSOLO_PEER_MAGICK)
#include <wand/MagickWand.h>
#endif
#if defined(TESSOLO_PEER_GEGL)
#include <gegl.h>
#endif

namespace {

int g_w = 4000, g_h = 3000, g_repeat = 3;
std::string g_only;
bool g_cpu = false;

bool Wanted(const std::string& name) { return g_only.empty() || name.find(g_only) != std::string::npos; }

double Now()
{
    if (!g_cpu)
        return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + ts.tv_nsec * 1e-9;
}

double Seconds(const std::function<void()>& f)
{
    const double t0 = Now();
    f();
    return Now() - t0;
}

// Best of the runs, in milliseconds; each run may prepare untimed first.
double Best(const std::function<void()>& prepare, const std::function<void()>& run)
{
    double best = 1e30;
    for (int i = 0; i < g_repeat; ++i) {
        prepare();
        best = std::min(best, Seconds(run));
    }
    return best * 1000.0;
}

// A photo-like picture: smooth waves, edges and a little noise.
struct Picture {
    std::vector<uint8_t> rgb;     // interleaved
    std::vector<uint8_t> planar;  // three planes
    Picture()
    {
        const size_t n = size_t(g_w) * g_h;
        rgb.resize(n * 3);
        planar.resize(n * 3);
        std::mt19937 rng(7);
        for (int y = 0; y < g_h; ++y)
            for (int x = 0; x < g_w; ++x) {
                const double v = 128 + 70 * std::sin(x / 210.0) * std::cos(y / 170.0) + ((x / 97 + y / 89) % 2) * 30;
                for (int c = 0; c < 3; ++c) {
                    const int b = std::clamp(int(v * (0.6 + 0.2 * c)) + int(rng() % 9), 0, 255);
                    rgb[(size_t(y) * g_w + x) * 3 + c] = uint8_t(b);
                    planar[size_t(c) * n + size_t(y) * g_w + x] = uint8_t(b);
                }
            }
    }
};

using Op = std::function<void(CQNF_ImageFX&)>;

double Ours(Picture& pic, const Op& op)
{
    const size_t n = size_t(g_w) * g_h;
    std::vector<uint8_t> out(n * 3);
    uint8_t* src[3] = {pic.planar.data(), pic.planar.data() + n, pic.planar.data() + 2 * n};
    uint8_t* dst[3] = {out.data(), out.data() + n, out.data() + 2 * n};
    CQNF_ImageFX fx;
    fx.SetSource(src, uint32_t(g_w), 3, 0, uint16_t(g_w), uint16_t(g_h));
    fx.SetDestination(dst, uint32_t(g_w), 3, 0, uint16_t(g_w), uint16_t(g_h));
    return Best([] {}, [&] { op(fx); });
}

#if defined(TESSOLO_PEER_VIPS)
using VipsOp = std::function<int(VipsImage*, VipsImage**)>;
double Vips(Picture& pic, const VipsOp& op)
{
    VipsImage* in = vips_image_new_from_memory(pic.rgb.data(), pic.rgb.size(), g_w, g_h, 3, VIPS_FORMAT_UCHAR);
    const double t = Best([] {}, [&] {
        VipsImage* out = nullptr;
        if (op(in, &out) != 0) {
            std::fprintf(stderr, "vips: %s\n", vips_error_buffer());
            std::exit(1);
        }
        size_t len = 0;
        void* mem = vips_image_write_to_memory(out, &len);
        g_free(mem);
        g_object_unref(out);
    });
    g_object_unref(in);
    return t;
}
#endif

#if defined(TESSOLO_PEER_MAGICK)
using MagickOp = std::function<void(MagickWand*)>;
double Magick(Picture& pic, const MagickOp& op)
{
    MagickWand* base = NewMagickWand();
    MagickConstituteImage(base, size_t(g_w), size_t(g_h), "RGB", CharPixel, pic.rgb.data());
    std::vector<uint8_t> out(pic.rgb.size());
    MagickWand* w = nullptr;
    const double t = Best(
        [&] {
            if (w)
                DestroyMagickWand(w);
            w = CloneMagickWand(base);
        },
        [&] {
            op(w);
            MagickExportImagePixels(w, 0, 0, size_t(g_w), size_t(g_h), "RGB", CharPixel, out.data());
        });
    DestroyMagickWand(w);
    DestroyMagickWand(base);
    return t;
}
#endif

#if defined(TESSOLO_PEER_GEGL)
using GeglOp = std::function<GeglNode*(GeglNode* graph)>;
double Gegl(Picture& pic, const GeglOp& op)
{
    const Babl* fmt = babl_format("R'G'B' u8");
    GeglRectangle all{0, 0, g_w, g_h};
    GeglBuffer* in = gegl_buffer_linear_new_from_data(pic.rgb.data(), fmt, &all, g_w * 3, nullptr, nullptr);
    std::vector<uint8_t> out(pic.rgb.size());
    GeglNode* graph = nullptr;
    GeglNode* last = nullptr;
    const double t = Best(
        [&] {
            if (graph)
                g_object_unref(graph);
            graph = gegl_node_new();
            GeglNode* src = gegl_node_new_child(graph, "operation", "gegl:buffer-source", "buffer", in, nullptr);
            last = op(graph);
            gegl_node_link(src, last);
        },
        [&] { gegl_node_blit(last, 1.0, &all, fmt, out.data(), g_w * 3, GEGL_BLIT_DEFAULT); });
    g_object_unref(graph);
    g_object_unref(in);
    return t;
}
#endif

void Row(const char* name, double ours, double vips, double magick, double gegl, const char* note = "")
{
    double fastest = 1e30;
    for (double t : {vips, magick, gegl})
        if (t >= 0)
            fastest = std::min(fastest, t);
    auto cell = [](double t) {
        char b[32];
        if (t < 0)
            std::snprintf(b, sizeof b, "%9s", "-");
        else
            std::snprintf(b, sizeof b, "%9.1f", t);
        return std::string(b);
    };
    char ratio[32] = "        -";
    if (fastest < 1e30)
        std::snprintf(ratio, sizeof ratio, "%9.2f", ours / fastest);
    std::printf("%-30s %s %s %s %s %s  %s\n", name, cell(ours).c_str(), cell(vips).c_str(), cell(magick).c_str(),
                cell(gegl).c_str(), ratio, note);
}

}  // namespace

int main(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--size" && i + 1 < argc) {
            if (std::sscanf(argv[++i], "%dx%d", &g_w, &g_h) != 2 || g_w < 16 || g_h < 16 || g_w > 65535 ||
                g_h > 65535) {
                std::fprintf(stderr, "compare_peers: --size needs WxH (16 to 65535)\n");
                return 2;
            }
        } else if (a == "--cpu") {
            g_cpu = true;
        } else if (a == "--only" && i + 1 < argc) {
            g_only = argv[++i];
        } else if (a == "--repeat" && i + 1 < argc) {
            g_repeat = std::max(1, std::atoi(argv[++i]));
        } else {
            std::printf("usage: compare_peers [--size WxH] [--repeat N] [--only TEXT] [--cpu]\n"
                        "  the filters against libvips, ImageMagick and GEGL in this process, one thread each\n");
            return a == "--help" || a == "-h" ? 0 : 2;
        }
    }
    // Our filters would otherwise use every core the process may run on.
    setenv("TESSOLO_THREADS", "1", 1);
    mallopt(M_MMAP_THRESHOLD, 1 << 30);
    mallopt(M_TRIM_THRESHOLD, -1);
#if defined(TESSOLO_PEER_VIPS)
    if (VIPS_INIT(argv[0]))
        return 1;
    vips_concurrency_set(1);
    vips_cache_set_max(0);
#endif
#if defined(TESSOLO_PEER_MAGICK)
    MagickWandGenesis();
    MagickSetResourceLimit(ThreadResource, 1);
#endif
#if defined(TESSOLO_PEER_GEGL)
    gegl_init(&argc, &argv);
    g_object_set(gegl_config(), "threads", 1, nullptr);
#endif
    Picture pic;
    const unsigned threads = qnpar::ThreadCount();
    std::printf("ours on %u thread%s, each peer on one\n", threads, threads == 1 ? "" : "s");
    std::printf("%-30s %9s %9s %9s %9s %9s\n", ("operation " + std::to_string(g_w) + "x" + std::to_string(g_h)).c_str(),
                "ours ms", "vips ms", "IM ms", "gegl ms", "ours/best");
    const double none = -1;
    for (double s : {0.5, 1.0, 1.5, 5.0, 20.0}) {
        const std::string name = "Gaussian blur sigma " + std::to_string(s).substr(0, 4);
        if (!Wanted(name))
            continue;
        double v = none, m = none, g = none;
#if defined(TESSOLO_PEER_VIPS)
        v = Vips(pic, [s](VipsImage* in, VipsImage** out) { return vips_gaussblur(in, out, s, nullptr); });
#endif
#if defined(TESSOLO_PEER_MAGICK)
        m = Magick(pic, [s](MagickWand* w) { MagickBlurImage(w, 0.0, s); });
#endif
#if defined(TESSOLO_PEER_GEGL)
        g = Gegl(pic, [s](GeglNode* graph) {
            return gegl_node_new_child(graph, "operation", "gegl:gaussian-blur", "std-dev-x", s, "std-dev-y", s,
                                       nullptr);
        });
#endif
        Row(name.c_str(), Ours(pic, [s](CQNF_ImageFX& fx) { fx.GaussianBlur(s, 0, 0); }), v, m, g);
    }
    if (Wanted("Motion blur 30 deg, 10")) {
        double m = none, g = none;
#if defined(TESSOLO_PEER_MAGICK)
        m = Magick(pic, [](MagickWand* w) { MagickMotionBlurImage(w, 0.0, 10.0, 30.0); });
#endif
#if defined(TESSOLO_PEER_GEGL)
        g = Gegl(pic, [](GeglNode* graph) {
            return gegl_node_new_child(graph, "operation", "gegl:motion-blur-linear", "length", 40.0, "angle", 30.0,
                                       nullptr);
        });
#endif
        Row("Motion blur 30 deg, 10", Ours(pic, [](CQNF_ImageFX& fx) { fx.MotionBlur(30.0, 10.0, 0, 0); }), none,
            m, g, "IM one-sided");
    }
    if (Wanted("Hue/saturation/lightness")) {
        double m = none, g = none;
#if defined(TESSOLO_PEER_MAGICK)
        m = Magick(pic, [](MagickWand* w) { MagickModulateImage(w, 90.0, 130.0, 110.0); });
#endif
#if defined(TESSOLO_PEER_GEGL)
        g = Gegl(pic, [](GeglNode* graph) {
            return gegl_node_new_child(graph, "operation", "gegl:hue-chroma", "hue", -18.0, "chroma", 30.0,
                                       "lightness", 10.0, nullptr);
        });
#endif
        Row("Hue/saturation/lightness", Ours(pic, [](CQNF_ImageFX& fx) { fx.HSLCorrection(-18, 30, 10, 1); }),
            none, m, g, "GEGL in LCh");
    }
    if (Wanted("Brightness/contrast 10, 20")) {
        double v = none, m = none, g = none;
#if defined(TESSOLO_PEER_VIPS)
        v = Vips(pic, [](VipsImage* in, VipsImage** out) {
            return vips_linear1(in, out, 1.25, -22.0, "uchar", TRUE, nullptr);
        });
#endif
#if defined(TESSOLO_PEER_MAGICK)
        m = Magick(pic, [](MagickWand* w) { MagickBrightnessContrastImage(w, 10.0, 20.0); });
#endif
#if defined(TESSOLO_PEER_GEGL)
        g = Gegl(pic, [](GeglNode* graph) {
            return gegl_node_new_child(graph, "operation", "gegl:brightness-contrast", "contrast", 1.25,
                                       "brightness", 0.04, nullptr);
        });
#endif
        Row("Brightness/contrast 10, 20", Ours(pic, [](CQNF_ImageFX& fx) { fx.BrightnessContrast(10, 20, 128); }), v,
            m, g);
    }
    if (Wanted("Invert")) {
        double v = none, m = none, g = none;
#if defined(TESSOLO_PEER_VIPS)
        v = Vips(pic, [](VipsImage* in, VipsImage** out) { return vips_invert(in, out, nullptr); });
#endif
#if defined(TESSOLO_PEER_MAGICK)
        m = Magick(pic, [](MagickWand* w) { MagickNegateImage(w, MagickFalse); });
#endif
#if defined(TESSOLO_PEER_GEGL)
        g = Gegl(pic, [](GeglNode* graph) {
            return gegl_node_new_child(graph, "operation", "gegl:invert-gamma", nullptr);
        });
#endif
        Row("Invert", Ours(pic, [](CQNF_ImageFX& fx) { fx.Invert(); }), v, m, g);
    }
#if defined(TESSOLO_PEER_MAGICK)
    MagickWandTerminus();
#endif
#if defined(TESSOLO_PEER_GEGL)
    gegl_exit();
#endif
#if defined(TESSOLO_PEER_VIPS)
    vips_shutdown();
#endif
    return 0;
}
