// compare_gl: the opaque high-quality render (second generation RenderHQ_Opt,
// one light, no shadows) side by side with Mesa's software rasterisers
// through OSMesa on the same scene: llvmpipe on one thread
// (LP_NUM_THREADS=0) and softpipe (GALLIUM_DRIVER=softpipe), each in a child
// process of this program started with that environment.
//
// Scene: a wave grid of n x n cells (2 n^2 triangles) over the picture, a
// 1024 x 1024 opaque texture sampled nearest without mipmaps, depth test,
// one directional light. Supersampling q is matched by rendering GL q times
// larger and box-downsampling on the CPU, inside GL's timed part. Times are
// the best of several runs of the draw alone (context, buffers and texture
// are made before), in CPU time of the process.
//
//   compare_gl [--large] [--runs N]     the table (--large adds 2M triangles and 3840 x 2160)
//   compare_gl --ours [--large] [--runs N]     our times alone, one line per case
//   --cells N                                  only the cases of an N x N grid (N = 32, 64, 100, 316, 1000)
//   --q N                                      only the cases of supersampling N (1 or 2)
//   compare_gl --worker [--large] [--runs N]   one GL driver, as the environment chooses
#include "surface3d/Surface2.h"

#include <GL/gl.h>
#include <GL/osmesa.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <string>
#include <tuple>
#include <vector>

namespace {

constexpr int kTex = 1024;

struct Case {
    int n, w, h, q;
};

int g_onlyCells = 0;  // --cells N: the cases of an N x N grid only
int g_onlyQ = 0;      // --q N: the cases of supersampling N only

std::vector<Case> Cases(bool large)
{
    std::vector<Case> out;
    const int cells[] = {32, 64, 100, 316, 1000};
    const int sizes[][2] = {{1024, 1024}, {3840, 2160}};
    for (const auto& sz : sizes)
        for (int n : cells)
            for (int q : {1, 2}) {
                const bool big = n == 1000 || sz[0] == 3840;
                if ((big && !large) || (g_onlyCells && n != g_onlyCells) || (g_onlyQ && q != g_onlyQ))
                    continue;
                out.push_back(Case{n, sz[0], sz[1], q});
            }
    return out;
}

// The scene, shared by both sides.
struct Scene {
    int n, w, h;
    std::vector<float> pos, nrm, uv;  // per vertex
    std::vector<uint32_t> idx;        // per triangle, three
    std::vector<uint8_t> texRGBA;     // kTex x kTex
    std::vector<uint8_t> tex[4];      // alpha, red, green, blue planes

    Scene(int cells, int width, int height) : n(cells), w(width), h(height)
    {
        const int nv = (n + 1) * (n + 1);
        pos.resize(3 * nv);
        nrm.resize(3 * nv);
        uv.resize(2 * nv);
        for (int j = 0; j <= n; ++j)
            for (int i = 0; i <= n; ++i) {
                const int v = j * (n + 1) + i;
                const float x = float(w) * i / n, y = float(h) * j / n;
                pos[3 * v] = x;
                pos[3 * v + 1] = y;
                pos[3 * v + 2] = 30.0f * std::sin(x / 60.0f) * std::cos(y / 45.0f);
                // The height field's normal, for GL's per-vertex lighting.
                const float dzdx = 0.5f * std::cos(x / 60.0f) * std::cos(y / 45.0f);
                const float dzdy = -30.0f / 45.0f * std::sin(x / 60.0f) * std::sin(y / 45.0f);
                const float len = std::sqrt(dzdx * dzdx + dzdy * dzdy + 1.0f);
                nrm[3 * v] = -dzdx / len;
                nrm[3 * v + 1] = -dzdy / len;
                nrm[3 * v + 2] = 1.0f / len;
                uv[2 * v] = x * float(kTex - 1) / float(w);
                uv[2 * v + 1] = y * float(kTex - 1) / float(h);
            }
        for (int j = 0; j < n; ++j)
            for (int i = 0; i < n; ++i) {
                const uint32_t a = j * (n + 1) + i, b = a + 1, c = a + n + 2, d = a + n + 1;
                idx.insert(idx.end(), {a, b, c, a, c, d});
            }
        texRGBA.resize(size_t(kTex) * kTex * 4);
        for (auto& p : tex)
            p.resize(size_t(kTex) * kTex);
        for (int y = 0; y < kTex; ++y)
            for (int x = 0; x < kTex; ++x) {
                const size_t i = size_t(y) * kTex + x;
                const bool odd = ((x / 32 + y / 32) & 1) != 0;
                const uint8_t rgb[3] = {uint8_t(odd ? 110 : 200), uint8_t(odd ? 160 : 170), uint8_t(odd ? 210 : 140)};
                tex[0][i] = 255;
                for (int c = 0; c < 3; ++c) {
                    tex[c + 1][i] = rgb[c];
                    texRGBA[4 * i + c] = rgb[c];
                }
                texRGBA[4 * i + 3] = 255;
            }
    }
};

// CPU time of the whole process (every thread a driver may start), so that
// other work on a shared machine does not count against either side.
double Now()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) * 1e-6;
}

// Our side: the second generation's RenderHQ_Opt, best of `runs`.
double RunOurs(const Scene& sc, int q, int runs)
{
    CQNF_3D_Surface2 s;
    const uint32_t nv = uint32_t(sc.pos.size() / 3), nt = uint32_t(sc.idx.size() / 3);
    s.Create(nv, nt);
    for (uint32_t v = 0; v < nv; ++v)
        *s.GetVertex(v) = qnt3D_VERTEX{sc.pos[3 * v], sc.pos[3 * v + 1], sc.pos[3 * v + 2]};
    for (uint32_t t = 0; t < nt; ++t)
        *s.GetTriMesh(t) = {sc.idx[3 * t], sc.idx[3 * t + 1], sc.idx[3 * t + 2], 1};
    s.RecreateMappingArrayFromCurrentValues();
    for (uint32_t v = 0; v < nv; ++v)
        *s.GetMapping(v) = qnt2D_VERTEX{sc.uv[2 * v], sc.uv[2 * v + 1]};
    static char name[] = "Key";
    CQNF_3D_Surface2::LIGHT_SOURCE l{};
    l.name = name;
    l.x = -0.4f;
    l.y = -0.3f;
    l.z = 1.0f;
    l.zKept = 1;
    l.diffuseOpacity = 70.0f;
    for (auto& c : l.diffuseColour)
        c = 255;
    l.diffuseInHighlight = 1;
    s.Light_Add(&l);
    uint8_t white[8] = {255, 255, 255, 255, 255, 255, 255, 255};
    s.Light_SetAmbientLight(white, 30.0f, white, 30.0f, 0, 0);
    s.Light_PrecalculateLights(1);
    std::vector<uint8_t> dst[4];
    for (auto& p : dst)
        p.assign(size_t(sc.w) * sc.h, 0);
    Scene& m = const_cast<Scene&>(sc);
    uint8_t* t[3] = {m.tex[1].data(), m.tex[2].data(), m.tex[3].data()};
    double best = 1e30;
    for (int r = 0; r <= runs; ++r) {
        const double t0 = Now();
        const uint8_t ok = s.RenderHQ_Opt(0, qnt3D_VERTEX{0, 0, 0}, 0, 0, uint8_t(q), 4, dst[1].data(), dst[2].data(),
                                          dst[3].data(), nullptr, dst[0].data(), sc.w, sc.w, sc.h, 0, nullptr, t[0],
                                          t[1], t[2], nullptr, 0, nullptr, t[0], t[1], t[2], nullptr,
                                          m.tex[0].data(), kTex, kTex, kTex, nullptr, nullptr, kTex, 0.0f, 0.0f,
                                          qnNullRect, -1.0f);
        const double ms = Now() - t0;
        if (!ok) {
            std::fprintf(stderr, "compare_gl: render failed (error %u)\n", s.GetError());
            std::exit(1);
        }
        if (r > 0)  // the first run warms up
            best = std::min(best, ms);
    }
    return best;
}

// GL side: draw at q times the size, then box-downsample; best of `runs`.
bool RunGL(const Scene& sc, int q, int runs, double& best, std::string& renderer)
{
    const int W = sc.w * q, H = sc.h * q;
    OSMesaContext ctx = OSMesaCreateContextExt(OSMESA_RGBA, 24, 0, 0, nullptr);
    if (!ctx)
        return false;
    std::vector<uint8_t> buf(size_t(W) * H * 4), out(size_t(sc.w) * sc.h * 4);
    if (!OSMesaMakeCurrent(ctx, buf.data(), GL_UNSIGNED_BYTE, W, H)) {
        OSMesaDestroyContext(ctx);
        return false;
    }
    renderer = reinterpret_cast<const char*>(glGetString(GL_RENDERER));
    glViewport(0, 0, W, H);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(0, sc.w, sc.h, 0, -1000, 1000);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LESS);
    GLuint tex = 0;
    glGenTextures(1, &tex);
    glBindTexture(GL_TEXTURE_2D, tex);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, kTex, kTex, 0, GL_RGBA, GL_UNSIGNED_BYTE, sc.texRGBA.data());
    glEnable(GL_TEXTURE_2D);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
    glMatrixMode(GL_TEXTURE);
    glLoadIdentity();
    glScalef(1.0f / kTex, 1.0f / kTex, 1.0f);
    glMatrixMode(GL_MODELVIEW);
    glEnable(GL_LIGHTING);
    glEnable(GL_LIGHT0);
    const GLfloat dir[4] = {0.4f, -0.3f, 1.0f, 0.0f}, diffuse[4] = {0.7f, 0.7f, 0.7f, 1}, ambient[4] = {0.3f, 0.3f,
                                                                                                        0.3f, 1};
    glLightfv(GL_LIGHT0, GL_POSITION, dir);
    glLightfv(GL_LIGHT0, GL_DIFFUSE, diffuse);
    glLightfv(GL_LIGHT0, GL_AMBIENT, ambient);
    glShadeModel(GL_FLAT);
    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_NORMAL_ARRAY);
    glEnableClientState(GL_TEXTURE_COORD_ARRAY);
    glVertexPointer(3, GL_FLOAT, 0, sc.pos.data());
    glNormalPointer(GL_FLOAT, 0, sc.nrm.data());
    glTexCoordPointer(2, GL_FLOAT, 0, sc.uv.data());
    glClearColor(0, 0, 0, 0);
    best = 1e30;
    for (int r = 0; r <= runs; ++r) {
        const double t0 = Now();
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        glDrawElements(GL_TRIANGLES, GLsizei(sc.idx.size()), GL_UNSIGNED_INT, sc.idx.data());
        glFinish();
        if (q > 1) {
            const uint32_t qq = uint32_t(q * q);
            for (int y = 0; y < sc.h; ++y)
                for (int x = 0; x < sc.w; ++x) {
                    uint32_t sum[4] = {0, 0, 0, 0};
                    for (int sy = 0; sy < q; ++sy) {
                        const uint8_t* p = buf.data() + (size_t(y * q + sy) * W + size_t(x) * q) * 4;
                        for (int sx = 0; sx < q; ++sx)
                            for (int c = 0; c < 4; ++c)
                                sum[c] += p[4 * sx + c];
                    }
                    for (int c = 0; c < 4; ++c)
                        out[(size_t(y) * sc.w + x) * 4 + c] = uint8_t(sum[c] / qq);
                }
        }
        const double ms = Now() - t0;
        if (r > 0)
            best = std::min(best, ms);
    }
    glDeleteTextures(1, &tex);
    OSMesaDestroyContext(ctx);
    return true;
}

int Worker(bool large, int runs)
{
    for (const Case& c : Cases(large)) {
        Scene sc(c.n, c.w, c.h);
        double ms = 0;
        std::string renderer;
        if (!RunGL(sc, c.q, runs, ms, renderer)) {
            std::fprintf(stderr, "compare_gl: OSMesa context failed\n");
            return 1;
        }
        std::printf("%d %d %d %d %.3f %s\n", c.n, c.w, c.h, c.q, ms, renderer.c_str());
        std::fflush(stdout);
    }
    return 0;
}

using Key = std::tuple<int, int, int, int>;

// Runs this program as a worker under the environment and reads its times.
bool FromChild(const std::string& env, bool large, int runs, std::map<Key, double>& times, std::string& renderer)
{
    char self[4096];
    const ssize_t len = readlink("/proc/self/exe", self, sizeof self - 1);
    if (len <= 0)
        return false;
    self[len] = 0;
    const std::string cmd = env + " '" + self + "' --worker --runs " + std::to_string(runs) + (large ? " --large" : "") +
                            (g_onlyCells ? " --cells " + std::to_string(g_onlyCells) : "") +
                            (g_onlyQ ? " --q " + std::to_string(g_onlyQ) : "");
    FILE* p = popen(cmd.c_str(), "r");
    if (!p)
        return false;
    char line[1024];
    while (std::fgets(line, sizeof line, p)) {
        int n, w, h, q, used = 0;
        double ms;
        if (std::sscanf(line, "%d %d %d %d %lf %n", &n, &w, &h, &q, &ms, &used) == 5) {
            times[Key{n, w, h, q}] = ms;
            renderer = std::string(line + used);
            while (!renderer.empty() && (renderer.back() == '\n' || renderer.back() == '\r'))
                renderer.pop_back();
        }
    }
    return pclose(p) == 0;
}

}  // namespace

int main(int argc, char** argv)
{
    bool large = false, worker = false, oursOnly = false;
    int runs = 3;
    // A whole number above 0, or 0 for anything else.
    const auto count = [](const char* text) {
        char* end = nullptr;
        const long v = std::strtol(text, &end, 10);
        return end != text && *end == '\0' && v > 0 && v <= 1000000 ? int(v) : 0;
    };
    const auto bad = [](const std::string& why) {
        std::fprintf(stderr, "compare_gl: %s (see --help)\n", why.c_str());
        return 2;
    };
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool valued = a == "--cells" || a == "--q" || a == "--runs";
        if (valued && i + 1 >= argc)
            return bad(a + " needs a value");
        if (a == "--large")
            large = true;
        else if (a == "--worker")
            worker = true;
        else if (a == "--ours")
            oursOnly = true;
        else if (a == "--cells")
            g_onlyCells = count(argv[++i]);
        else if (a == "--q")
            g_onlyQ = count(argv[++i]);
        else if (a == "--runs") {
            if (!(runs = count(argv[++i])))
                return bad("--runs takes a whole number above 0, not '" + std::string(argv[i]) + "'");
        } else if (a == "--help" || a == "-h") {
            std::printf("usage: compare_gl [--ours] [--large] [--runs N] [--cells 32|64|100|316|1000] [--q 1|2]\n"
                        "  --cells 1000 goes with --large\n");
            return 0;
        } else {
            return bad("bad argument " + a);
        }
        // Only the grids and supersamplings of the table are measured: any
        // other would make an empty table.
        if (a == "--cells" && g_onlyCells != 32 && g_onlyCells != 64 && g_onlyCells != 100 && g_onlyCells != 316 &&
            g_onlyCells != 1000)
            return bad("--cells takes 32, 64, 100, 316 or 1000, not '" + std::string(argv[i]) + "'");
        if (a == "--q" && g_onlyQ != 1 && g_onlyQ != 2)
            return bad("--q takes 1 or 2, not '" + std::string(argv[i]) + "'");
    }
    if (g_onlyCells == 1000 && !large)
        return bad("--cells 1000 goes with --large");
    if (worker)
        return Worker(large, runs);
    if (oursOnly) {
        for (const Case& c : Cases(large)) {
            Scene sc(c.n, c.w, c.h);
            std::printf("ours: %d triangles, %dx%d, q%d: %.2f ms\n", 2 * c.n * c.n, c.w, c.h, c.q,
                        RunOurs(sc, c.q, runs));
            std::fflush(stdout);
        }
        return 0;
    }

    std::map<Key, double> llvm, soft;
    std::string llvmName, softName;
    if (!FromChild("GALLIUM_DRIVER=llvmpipe LP_NUM_THREADS=0", large, runs, llvm, llvmName) ||
        !FromChild("GALLIUM_DRIVER=softpipe", large, runs, soft, softName)) {
        std::fprintf(stderr, "compare_gl: a GL worker failed\n");
        return 1;
    }
    std::printf("GL renderers: %s (LP_NUM_THREADS=0); %s\n\n", llvmName.c_str(), softName.c_str());
    std::printf("| triangles | size | q | RenderHQ_Opt ms | llvmpipe 1 thread ms | softpipe ms | HQ / llvmpipe | "
                "HQ / softpipe |\n|---:|---|---:|---:|---:|---:|---:|---:|\n");
    for (const Case& c : Cases(large)) {
        Scene sc(c.n, c.w, c.h);
        const double ours = RunOurs(sc, c.q, runs);
        const Key k{c.n, c.w, c.h, c.q};
        const double l = llvm.count(k) ? llvm[k] : NAN, s = soft.count(k) ? soft[k] : NAN;
        std::printf("| %d | %dx%d | %d | %.1f | %.1f | %.1f | %.2f | %.2f |\n", 2 * c.n * c.n, c.w, c.h, c.q, ours, l,
                    s, ours / l, ours / s);
        std::fflush(stdout);
    }
    return 0;
}
