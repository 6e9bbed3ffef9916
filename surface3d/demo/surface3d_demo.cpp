// surface3d-demo: builds small scenes for the mesh renderer (a wave, a card
// floating above a sheet), renders them with any renderer of either
// generation or draws a light's shadow map, and writes PNG files for a person
// to look at.
//
//   surface3d-demo --scene wave|card --view VIEW [--gen 1|2] [--size WxH]
//                  [--light X,Y,Z] [--generator pairwise|tiled] [--ss Q] -o FILE.png
//   surface3d-demo --all OUTDIR
//   surface3d-demo --contact-sheet FILE.png
//
// VIEW is a preview (flat, flat-grid, grid, grid-aa, draft), shadowmap, or a
// high-quality render: hq-simple, hq-opt (lights, shadow maps, perspective),
// hq-phong (interpolated normals), and for the first generation hq-full (all
// lights) and bgshadow (the shadow on a ground behind the mesh under an
// hq-full render). Renders are composited over a grey checkerboard so that
// uncovered pixels show; a shadow map is written as a grey picture in texture
// space (white = lit). The contact sheet shows every renderer of both
// generations, each labelled.
#include "core/ErrorWords.h"
#include "core/ProgramOutput.h"
#include "core/SafeFile.h"
#include "core/String.h"
#include "imaging/Image.h"
#include "imaging/ImageFile.h"
#include "surface3d/Surface.h"
#include "surface3d/Surface2.h"
#include "surface3d/demo/demo_scene.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <exception>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <string>
#include <vector>

using s3demo::Options;
using s3demo::Picture;
using s3demo::Produce;

namespace {

const char* const kUsage =
    "usage: surface3d-demo --scene wave|card --view "
    "flat|flat-grid|grid|grid-aa|draft|shadowmap|hq-simple|hq-opt|hq-phong|hq-full|bgshadow [--gen 1|2] "
    "[--size WxH] [--light X,Y,Z] [--generator pairwise|tiled] [--ss Q] -o FILE.png\n"
    "       surface3d-demo --all OUTDIR\n"
    "       surface3d-demo --contact-sheet FILE.png\n"
    "  --scene (card) and --view (flat) pick the scene and the renderer; --gen picks the renderers'\n"
    "    generation, 2 by default: hq-full and bgshadow belong to the first alone, so they need --gen 1\n"
    "  --size WxH is the picture's size, 16..4096 a side (320x240); --light X,Y,Z the key light's\n"
    "    direction, Z above 0 (0.5,0.4,1); --generator how --gen 2 makes the shadowmap view (pairwise);\n"
    "    --ss Q the high-quality renders' supersampling, 1..16 (3)\n"
    "  --all writes 15 pictures of both scenes and generations into OUTDIR (made when missing);\n"
    "    --contact-sheet draws every renderer of both generations on one labelled sheet\n";

const char* const kViews[] = {"flat",   "flat-grid", "grid",     "grid-aa", "draft",   "shadowmap",
                              "hq-simple", "hq-opt", "hq-phong", "hq-full", "bgshadow"};

bool IsView(const std::string& v)
{
    for (const char* k : kViews)
        if (v == k)
            return true;
    return false;
}

int Fail(const std::string& message)
{
    std::fprintf(stderr, "surface3d-demo: %s\n", qnShownLine(message).c_str());
    return 1;
}

// A wrong command line: one line pointing to --help, and exit 2.
int BadArguments(const std::string& message)
{
    Fail(message + " (see --help)");
    return qnExitBadArguments;
}

// Writes 8-bit rows, grey or interleaved RGB, as a PNG; the file is replaced
// only once the new one is complete.
bool WritePng(const std::string& path, int width, int height, bool grey, const std::vector<uint8_t>& pixels,
              std::string& error)
{
    const size_t n = static_cast<size_t>(width) * height;
    std::vector<uint8_t> planar;
    const unsigned char* planes[4] = {pixels.data(), nullptr, nullptr, nullptr};
    if (!grey) {
        planar.resize(n * 3);
        for (size_t i = 0; i < n; ++i)
            for (size_t c = 0; c < 3; ++c)
                planar[c * n + i] = pixels[i * 3 + c];
        for (size_t c = 0; c < 3; ++c)
            planes[c] = planar.data() + c * n;
    }
    unsigned short code = 0;
    if (!qnCodecSavePNG(path.c_str(), static_cast<uint16_t>(width), static_cast<uint16_t>(height),
                        grey ? qncodec::ModeGrey : qncodec::ModeColour, planes, nullptr,
                        static_cast<uint32_t>(width), 72.0, "surface3d-demo", code, false)) {
        error = qnFileFailure(path, true, code);
        return false;
    }
    return true;
}

int RunOne(const Options& o)
{
    if (const std::string why = qnTargetRefusal(o.output); !why.empty())
        return Fail(why);
    std::string error;
    Picture pic;
    if (!Produce(o, pic, error) || !WritePng(o.output, pic.width, pic.height, pic.grey, pic.pixels, error))
        return Fail(error);
    std::printf("wrote %s\n", qnShownName(o.output).c_str());
    return 0;
}

// A 3 x 5 pixel font for the contact sheet's labels: capitals, digits and a
// few signs, five rows of three bits per glyph.
uint16_t Glyph(char c)
{
    static const struct {
        char c;
        uint16_t bits;
    } font[] = {
        {'A', 0x2BED}, {'B', 0x6BAE}, {'C', 0x7927}, {'D', 0x6B6E}, {'E', 0x79A7}, {'F', 0x79A4}, {'G', 0x796F},
        {'H', 0x5BED}, {'I', 0x7497}, {'J', 0x124E}, {'K', 0x5BAD}, {'L', 0x4927}, {'M', 0x5FED}, {'N', 0x6B6D},
        {'O', 0x2B6A}, {'P', 0x6BA4}, {'Q', 0x2B73}, {'R', 0x6BAD}, {'S', 0x388E}, {'T', 0x7492}, {'U', 0x5B6F},
        {'V', 0x5B6A}, {'W', 0x5BFD}, {'X', 0x5AAD}, {'Y', 0x5A92}, {'Z', 0x72A7}, {'0', 0x7B6F}, {'1', 0x2C97},
        {'2', 0x62A7}, {'3', 0x728E}, {'4', 0x5BC9}, {'5', 0x798E}, {'6', 0x39EF}, {'7', 0x7249}, {'8', 0x7BEF},
        {'9', 0x7BCE}, {'+', 0x05D0}, {'-', 0x01C0}, {'/', 0x12A4}, {'.', 0x0002}, {' ', 0x0000},
    };
    const char u = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    for (const auto& g : font)
        if (g.c == u)
            return g.bits;
    return 0x7FFF;
}

void Label(std::vector<uint8_t>& rgb, int width, int x, int y, const std::string& text, int scale)
{
    for (char ch : text) {
        const uint16_t bits = Glyph(ch);
        for (int r = 0; r < 5; ++r)
            for (int c = 0; c < 3; ++c)
                if (bits & (1u << (14 - (r * 3 + c))))
                    for (int dy = 0; dy < scale; ++dy)
                        for (int dx = 0; dx < scale; ++dx) {
                            const size_t i = (static_cast<size_t>(y + r * scale + dy) * width + x + c * scale + dx) * 3;
                            if (i + 2 < rgb.size())
                                rgb[i] = rgb[i + 1] = rgb[i + 2] = 255;
                        }
        x += 4 * scale;
    }
}

// One picture of the contact sheet or of --all: a scene, a view and the
// generation drawing it; name is the cell's label or the file's name.
struct Shot {
    const char* scene;
    const char* view;
    int gen;
    const char* generator;  // empty: the base options' own
    const char* name;
};

Options ForShot(const Options& base, const Shot& shot)
{
    Options o = base;
    o.scene = shot.scene;
    o.view = shot.view;
    o.gen = shot.gen;
    if (*shot.generator)
        o.generator = shot.generator;
    return o;
}

// Every renderer of both generations, one labelled cell each.
int ContactSheet(const Options& base, const std::string& output)
{
    const Shot cells[] = {
        {"wave", "grid-aa", 2, "", "2 GRID AA"},
        {"wave", "flat-grid", 2, "", "2 FLAT + GRID"},
        {"card", "draft", 2, "", "2 DRAFT"},
        {"card", "shadowmap", 2, "pairwise", "2 SHADOW MAP PAIRWISE"},
        {"card", "shadowmap", 2, "tiled", "2 SHADOW MAP TILED"},
        {"card", "hq-simple", 2, "", "2 HQ SIMPLE"},
        {"card", "hq-opt", 2, "", "2 HQ OPT SHADOW PERSP"},
        {"wave", "hq-phong", 2, "", "2 HQ INTERPOLATED"},
        {"wave", "hq-opt", 2, "", "2 HQ OPT"},
        {"wave", "grid", 1, "", "1 GRID"},
        {"card", "flat-grid", 1, "", "1 FLAT + GRID"},
        {"wave", "draft", 1, "", "1 DRAFT"},
        {"card", "shadowmap", 1, "pairwise", "1 SHADOW MAP"},
        {"card", "hq-simple", 1, "", "1 HQ SIMPLE"},
        {"card", "hq-opt", 1, "", "1 HQ OPT SHADOW PERSP"},
        {"wave", "hq-phong", 1, "", "1 HQ PHONG"},
        {"card", "hq-full", 1, "", "1 HQ FULL"},
        {"card", "bgshadow", 1, "", "1 HQ FULL + BG SHADOW"},
    };
    const int cw = 280, ch = 210, strip = 14, cols = 6;
    const int rows = static_cast<int>((std::size(cells) + cols - 1) / cols);
    const int W = cols * cw, H = rows * (ch + strip);
    std::vector<uint8_t> sheet(static_cast<size_t>(W) * H * 3, 40);
    for (size_t k = 0; k < std::size(cells); ++k) {
        Options o = ForShot(base, cells[k]);
        o.width = cw;
        o.height = ch;
        Picture pic;
        std::string error;
        if (!Produce(o, pic, error))
            return Fail(std::string(cells[k].name) + ": " + error);
        const int x0 = static_cast<int>(k % cols) * cw, y0 = static_cast<int>(k / cols) * (ch + strip) + strip;
        // Shadow maps are texture-sized: scaled to the cell, nearest.
        for (int y = 0; y < ch; ++y)
            for (int x = 0; x < cw; ++x) {
                const int sx = x * pic.width / cw, sy = y * pic.height / ch;
                const size_t d = (static_cast<size_t>(y0 + y) * W + x0 + x) * 3;
                for (int c = 0; c < 3; ++c)
                    sheet[d + c] = pic.grey ? pic.pixels[static_cast<size_t>(sy) * pic.width + sx]
                                            : pic.pixels[(static_cast<size_t>(sy) * pic.width + sx) * 3 + c];
            }
        Label(sheet, W, x0 + 4, y0 - strip + 2, cells[k].name, 2);
    }
    std::string error;
    if (!WritePng(output, W, H, false, sheet, error))
        return Fail(error);
    std::printf("wrote %s\n", qnShownName(output).c_str());
    return 0;
}

bool ParseFloats(const std::string& s, float* out, int n)
{
    const char* p = s.c_str();
    for (int i = 0; i < n; ++i) {
        char* end = nullptr;
        out[i] = std::strtof(p, &end);
        if (end == p || !std::isfinite(out[i]))
            return false;
        p = end;
        if (i + 1 < n) {
            if (*p != ',')
                return false;
            ++p;
        }
    }
    return *p == 0;
}

}  // namespace

int main(int argc, char** argv)
try {
    qnCheckStandardOutputAtExit("surface3d-demo", qnExitFailed);
    std::vector<std::string> args(argv + 1, argv + argc);
    Options o;
    std::string allDir, sheet;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        const bool known = a == "--scene" || a == "--view" || a == "--ss" || a == "--contact-sheet" ||
                           a == "--gen" || a == "--size" || a == "--light" || a == "--generator" || a == "-o" ||
                           a == "--all";
        if (!known)
            return BadArguments(a.rfind('-', 0) == 0 ? "unknown option " + a : "unexpected argument '" + a + "'");
        if (i + 1 >= args.size())
            return BadArguments(a + " needs a value");
        // An empty name names no file and no folder.
        const bool names = a == "-o" || a == "--all" || a == "--contact-sheet";
        if (args[i + 1].empty())
            return BadArguments(names ? std::string(a == "--all" ? "OUTDIR" : "FILE.png") + " is an empty name"
                                      : a + " needs a value");
        const std::string& v = args[++i];
        int64_t number = 0;
        uint32_t w = 0, h = 0;
        if (a == "--scene") {
            if (v != "wave" && v != "card")
                return BadArguments("unknown scene '" + v + "' (wave or card)");
            o.scene = v;
        } else if (a == "--view") {
            if (!IsView(v))
                return BadArguments("unknown view '" + v + "'");
            o.view = v;
        } else if (a == "--ss") {
            if (!qnParseInteger(v, 1, 16, number))
                return BadArguments("--ss takes a whole number from 1 to 16, not '" + v + "'");
            o.ss = static_cast<int>(number);
        } else if (a == "--gen") {
            if (v != "1" && v != "2")
                return BadArguments("--gen takes 1 or 2, not '" + v + "'");
            o.gen = v[0] - '0';
        } else if (a == "--size") {
            if (!qnParseDimensions(v, 16, 4096, w, h))
                return BadArguments("--size takes WxH, each from 16 to 4096, not '" + v + "'");
            o.width = static_cast<int>(w);
            o.height = static_cast<int>(h);
        } else if (a == "--light") {
            if (!ParseFloats(v, o.light, 3) || !(o.light[2] > 0))
                return BadArguments("--light takes X,Y,Z with Z above 0, not '" + v + "'");
        } else if (a == "--generator") {
            if (v != "pairwise" && v != "tiled")
                return BadArguments("unknown generator '" + v + "' (pairwise or tiled)");
            o.generator = v;
        } else {
            (a == "-o" ? o.output : a == "--all" ? allDir : sheet) = v;
        }
    }
    if (int(!o.output.empty()) + int(!allDir.empty()) + int(!sheet.empty()) > 1)
        return BadArguments("-o, --all and --contact-sheet cannot be given together");
    // The second generation lacks these two renderers.
    if (o.gen == 2 && (o.view == "hq-full" || o.view == "bgshadow"))
        return BadArguments(o.view + " belongs to the first generation only (--gen 1)");
    // A picture is written as PNG, and its name says so.
    for (const std::string& picture : {o.output, sheet})
        if (!picture.empty())
            if (const QnRefusal why = qnOutputNameRefusal(picture, {".png"}); !why.empty())
                return BadArguments(why.Detail());
    if (!sheet.empty()) {
        if (const std::string why = qnTargetRefusal(sheet); !why.empty())
            return Fail(why);
        return ContactSheet(o, sheet);
    }
    if (!allDir.empty()) {
        if (const std::string why = qnStandardOutputFolderRefusal(allDir); !why.empty())
            return Fail(why);
        if (const std::string why = qnMakeLastFolder(allDir); !why.empty())
            return Fail(why);
        const Shot jobs[] = {
            {"wave", "flat", 2, "", "wave_flat.png"},
            {"wave", "flat-grid", 2, "", "wave_flat_grid.png"},
            {"wave", "grid", 1, "", "wave_grid.png"},
            {"wave", "grid-aa", 2, "", "wave_grid_aa.png"},
            {"wave", "draft", 2, "", "wave_draft.png"},
            {"card", "flat-grid", 1, "", "card_flat_grid.png"},
            {"card", "draft", 2, "", "card_draft.png"},
            {"card", "shadowmap", 2, "pairwise", "card_shadowmap_pairwise.png"},
            {"card", "shadowmap", 2, "tiled", "card_shadowmap_tiled.png"},
            {"card", "shadowmap", 1, "pairwise", "card_shadowmap_gen1.png"},
            {"card", "hq-opt", 2, "", "card_hq_opt.png"},
            {"wave", "hq-phong", 2, "", "wave_hq_interpolated.png"},
            {"card", "hq-simple", 1, "", "card_hq_simple_gen1.png"},
            {"wave", "hq-phong", 1, "", "wave_hq_phong_gen1.png"},
            {"card", "bgshadow", 1, "", "card_bgshadow_gen1.png"},
        };
        for (const Shot& j : jobs) {
            Options jo = ForShot(o, j);
            jo.ss = 1;  // quick: this runs as a test under the sanitizers
            jo.output = (std::filesystem::path(allDir) / j.name).string();
            if (const int rc = RunOne(jo))
                return rc;
        }
        return 0;
    }
    if (o.output.empty())
        return BadArguments("no output file (-o FILE.png)");
    return RunOne(o);
} catch (const std::exception& e) {
    // No program ends by an exception nobody caught: one line, and a failure.
    std::fprintf(stderr, "surface3d-demo: %s\n", qnShownLine(e.what()).c_str());
    return 1;
} catch (...) {
    std::fprintf(stderr, "surface3d-demo: an unexpected failure\n");
    return 1;
}
