// "engine lines|pieces|render [options] INPUT.png OUTPUT.png": the cutting
// engine on a picture, so that a person can look at what it makes.
//   lines   the knife-line coverage of the layout, as a grey picture
//   pieces  a false-colour map of the pieces (and a line per piece on stdout)
//   render  the pieces rendered with their effects and composited (RGBA)
// The layout is an even grid of the default knife, or a settings block.
#include "tools/Command.h"

#include "app/LayoutPlan.h"
#include "core/ErrorWords.h"
#include "core/ProgramOutput.h"
#include "core/SafeFile.h"
#include "core/Mem.h"
#include "core/StdFile.h"
#include "core/String.h"
#include "engine/LayoutLimits.h"
#include "engine/Tessolo.h"
#include "imaging/ImageFile.h"
#include "imaging/Parallel.h"
#include "engine/DefaultKnife.h"

#include "core/TerminalProgress.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <optional>
#include <cstring>
#include <numeric>
#include <random>
#include <string>
#include <vector>

namespace {

const char kName[] = "engine";

struct Options {
    std::string mode;
    std::string input;
    std::string output;
    std::string block;
    int columns = 8;
    int rows = 6;
    // Unset: the layout's own switch (on for a grid).
    std::optional<bool> smooth;
    std::optional<bool> cut;
    unsigned seed = 0;
    bool bevel = true;
    int blur = 0;
    int stroke = 0;
    bool selectAll = false;
    bool time = false;  // render: print each stage's time and the thread count
};

// The picture as planes: red, green, blue.
struct Picture {
    uint32_t w = 0, h = 0;
    std::vector<uint8_t> planes[3];
};

// A grey picture becomes three equal planes; where a picture is transparent
// its colour is laid over black.
bool ReadPng(const std::string& path, Picture& pic, std::string& error)
{
    CQNF_ImageFile file;
    if (!file.Load(path, CQNF_ImageFile::KindPNG, 30000)) {
        error = file.Reason();
        return false;
    }
    pic.w = file.GetWidth();
    pic.h = file.GetHeight();
    const bool grey = file.GetMode() == qncodec::ModeGrey;
    const unsigned char* alpha = file.HasAlpha() ? file.GetPlane(qncodec::PlaneAlpha) : nullptr;
    for (int k = 0; k < 3; ++k) {
        const unsigned char* src = file.GetPlane(static_cast<signed char>(grey ? 0 : k));
        pic.planes[k].resize(size_t(pic.w) * pic.h);
        for (size_t i = 0; i < pic.planes[k].size(); ++i)
            pic.planes[k][i] = alpha ? uint8_t((src[i] * alpha[i] + 127) / 255) : src[i];
    }
    return true;
}

// Grey (one plane), RGB (three) or RGBA (four), the planes one after
// another in pixels.
bool WritePng(const std::string& path, uint32_t w, uint32_t h, int planes, const std::vector<uint8_t>& pixels,
              std::string& error)
{
    const size_t area = size_t(w) * h;
    const unsigned char* p[4] = {};
    for (int k = 0; k < planes && k < 3; ++k)
        p[k] = pixels.data() + k * area;
    unsigned short code = 0;
    if (!qnCodecSavePNG(path.c_str(), uint16_t(w), uint16_t(h), planes == 1 ? qncodec::ModeGrey : qncodec::ModeColour,
                        p, planes == 4 ? pixels.data() + 3 * area : nullptr, w, 72.0, "tessolo-tool", code,
                        planes == 4)) {
        error = qnFileFailure(path, true, code);
        return false;
    }
    return true;
}

// The default knife shape of a new layout, optionally flipped.
void DefaultKnife(CTessolo::KNIFESTRUCT_RENDERER& k, bool across, bool along)
{
    constexpr qntDefaultKnife kShape = qnDefaultKnife();
    constexpr uint32_t n = kShape.kNodes;
    k.width = kShape.kThickness;
    k.nodes = n;
    for (uint32_t i = 0; i < n; ++i) {
        const uint32_t slot = along ? n - 1 - i : i;
        k.U[slot] = along ? 1.0f - kShape.U[i] : kShape.U[i];
        k.H[slot] = across ? -kShape.H[i] : kShape.H[i];
        k.S[slot] = kShape.S[i];
    }
}

// Why the engine's last split or drawing failed, as the user can act on it.
std::string SplitFailure(const CTessolo& e)
{
    const char* why = CTessolo::SplitFailureText(e.LastSplitFailure());
    return *why ? why : "the engine refused the picture";
}

bool BuildLayout(CTessolo& e, const Options& o, std::vector<CTessolo::SFX_ONEPIECE>& records, std::string& error)
{
    if (!o.block.empty()) {
        // Layout blocks are small; a file of more than 64 MB is none.
        std::vector<uint8_t> bytes;
        if (!qnReadWholeFile(o.block, bytes, error, uint64_t(64) << 20))
            return false;
        CQNF_Mem block;
        if (!bytes.empty()) {
            if (!block.alloc(bytes.size())) {
                error = "out of memory";
                return false;
            }
            std::memcpy(block.GetPtr(), bytes.data(), bytes.size());
        }
        uint8_t drawOnly = 0;
        uint32_t count = 0;
        CTessolo::SFX_ONEPIECE* recs = nullptr;
        if (!e.InitFromLastSettingsBinary(&block, drawOnly, count, &recs)) {
            error = layoutplan::NotABlock(o.block);
            return false;
        }
        records.assign(recs, recs + count);
        // The command line's switches win over the block's.
        if (o.cut)
            e.m_bCut = *o.cut;
        if (o.smooth)
            e.m_bSmooth = *o.smooth;
        return true;
    }
    if (!e.Init(uint16_t(o.columns), uint16_t(o.rows), 0)) {
        error = "cannot make the layout";
        return false;
    }
    // The grid every other road lays, knot for knot.
    CTessolo::EvenGuides(e.m_fColumnGuides, uint16_t(e.m_nInnerColumns));
    CTessolo::EvenGuides(e.m_fRowGuides, uint16_t(e.m_nInnerRows));
    std::mt19937 rng(o.seed);
    auto knife = [&](CTessolo::KNIFESTRUCT_RENDERER& k) {
        const unsigned flips = o.seed ? rng() % 4 : 0;
        DefaultKnife(k, flips & 1, flips & 2);
    };
    for (uint32_t i = 0; i < e.m_nVKnives; ++i)
        knife(e.m_pVKnives[i]);
    for (uint32_t i = 0; i < e.m_nHKnives; ++i)
        knife(e.m_pHKnives[i]);
    if (o.seed) {
        std::uniform_real_distribution<float> jitter(-0.15f, 0.15f);
        for (uint32_t i = 0; i < e.m_nKnots; ++i)
            e.m_pKnots[i] = CTessolo::KNOT{jitter(rng), jitter(rng)};
    }
    e.m_bCut = o.cut.value_or(true);
    e.m_bSmooth = o.smooth.value_or(true);
    return true;
}

int Run(const tool::Args& args)
{
    tool::RefuseTogether(args, "--grid", "--block");
    Options o;
    std::vector<std::string> positional;
    std::string renderOnly;  // the first option only a render takes
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (renderOnly.empty() && (a == "--blur" || a == "--stroke" || a == "--no-bevel" || a == "--time"))
            renderOnly = a;
        auto value = [&](std::string& v) {
            if (i + 1 >= args.size())
                return false;
            v = args[++i];
            return true;
        };
        std::string v;
        uint64_t n = 0;
        if (a == "--grid") {
            uint32_t columns = 0, rows = 0;
            if (!value(v) || !qnParseDimensions(v, 1, kQnMostGridCells, columns, rows))
                return tool::BadArguments(kName, "--grid needs COLUMNSxROWS, each 1 to " +
                                                     std::to_string(kQnMostGridCells));
            o.columns = int(columns);
            o.rows = int(rows);
        } else if (a == "--block") {
            if (!value(o.block))
                return tool::BadArguments(kName, "--block needs a file");
        } else if (a == "--seed") {
            if (!value(v) || !qnParseUnsigned(v, 1000000000, n))
                return tool::BadArguments(kName, "--seed needs a number");
            o.seed = unsigned(n);
        } else if (a == "--blur") {
            if (!value(v) || !qnParseUnsigned(v, 255, n))
                return tool::BadArguments(kName, "--blur needs a radius 0 to 255");
            o.blur = int(n);
        } else if (a == "--stroke") {
            if (!value(v) || !qnParseUnsigned(v, 255, n))
                return tool::BadArguments(kName, "--stroke needs a size 0 to 255");
            o.stroke = int(n);
        } else if (a == "--no-smooth") {
            o.smooth = false;
        } else if (a == "--no-cut") {
            o.cut = false;
        } else if (a == "--no-bevel") {
            o.bevel = false;
        } else if (a == "--time") {
            o.time = true;
        } else if (tool::IsOption(a)) {
            return tool::BadArguments(kName, "unknown option " + a);
        } else {
            positional.push_back(a);
        }
    }
    if (positional.size() != 3)
        return tool::BadArguments(kName, "expected lines|pieces|render INPUT.png OUTPUT.png");
    o.mode = positional[0];
    o.input = positional[1];
    o.output = positional[2];
    if (o.mode != "lines" && o.mode != "pieces" && o.mode != "render")
        return tool::BadArguments(kName, "unknown mode " + o.mode + " (lines, pieces or render)");
    // Lines and the piece map draw no bevel, blur or stroke: an option that
    // would change nothing is refused rather than taken in silence.
    if (o.mode != "render" && !renderOnly.empty())
        return tool::BadArguments(kName, renderOnly + " is taken by engine render only");
    // A block's knots and knives are its own: a seed would vary nothing.
    if (!o.block.empty() && std::find(args.begin(), args.end(), "--seed") != args.end())
        return tool::BadArguments(kName, "--seed varies a --grid only; a --block keeps its own knots and knives");
    if (const int refused = tool::RefuseOutput(kName, o.output, {o.input, o.block}, {".png"}))
        return refused;

    std::string error;
    Picture pic;
    if (!ReadPng(o.input, pic, error))
        return tool::Fail(kName, error);
    CTessolo e;
    std::vector<CTessolo::SFX_ONEPIECE> records;
    if (!BuildLayout(e, o, records, error))
        return tool::Fail(kName, error);
    const long w = long(pic.w), h = long(pic.h);
    const size_t area = size_t(w) * size_t(h);

    if (o.mode == "lines") {
        std::vector<uint8_t> plane(area);
        if (!e.DrawSplitting(w, h, plane.data(), uint32_t(w), 0, 100))
            return tool::Fail(kName, "cannot draw the knife lines: " + SplitFailure(e));
        if (!WritePng(o.output, pic.w, pic.h, 1, plane, error))
            return tool::Fail(kName, error);
        const unsigned knives = e.m_nVKnives + e.m_nHKnives + e.m_nFreeKnives;
        std::fprintf(qnReportStream(o.output), "%s: %u %s drawn\n", qnShownName(o.output).c_str(), knives, knives == 1 ? "knife" : "knives");
        return 0;
    }

    // A bar on a terminal: the cut takes all of it for a piece map, half
    // of it before rendering.
    CQNF_TerminalProgress progress("tessolo-tool engine " + o.mode);
    const bool render = o.mode == "render";
    uint8_t* planes[3] = {pic.planes[0].data(), pic.planes[1].data(), pic.planes[2].data()};
    e.m_nColorMode = 1;
    e.m_pProgress = &progress;
    using Clock = std::chrono::steady_clock;
    const auto ms = [](Clock::time_point a, Clock::time_point b) {
        return std::chrono::duration<double, std::milli>(b - a).count();
    };
    const Clock::time_point splitStart = Clock::now();
    const bool split = e.SplitCells(w, h, nullptr, 0, planes, uint32_t(w), 3, 0, render ? 50 : 100, 0);
    const Clock::time_point splitEnd = Clock::now();
    e.m_pProgress = nullptr;
    if (!split)
        return tool::Fail(kName, "cannot split the picture: " + SplitFailure(e));
    const std::string summary = "tessolo-tool engine: " + std::to_string(e.m_nPieces) + " pieces, " +
                                std::to_string(w) + " x " + std::to_string(h) + " pixels, wrote " + o.output;

    if (o.mode == "pieces") {
        std::vector<uint8_t> rgb(area * 3, 0);
        std::mt19937 rng(12345);
        for (uint32_t i = 0; i < e.m_nPieces; ++i) {
            const CTessolo::SPLITEDCELL& p = e.m_pPieces[i];
            const uint8_t col[3] = {uint8_t(64 + rng() % 192), uint8_t(64 + rng() % 192), uint8_t(64 + rng() % 192)};
            for (int32_t y = p.top; y < p.bottom; ++y)
                for (int32_t x = p.left; x < p.right; ++x) {
                    const unsigned m = p.mask->GetPtr()[size_t(y - p.top) * p.Width() + (x - p.left)];
                    const size_t at = size_t(y) * w + x;
                    for (int k = 0; k < 3; ++k) {
                        uint8_t& d = rgb[k * area + at];
                        d = uint8_t(std::min(255u, d + col[k] * m / 255));
                    }
                }
            std::printf("piece %u: row %d column %d box %d,%d-%d,%d pixels %u\n", i, p.row, p.column, p.left, p.top,
                        p.right, p.bottom, p.pixels);
        }
        if (!WritePng(o.output, pic.w, pic.h, 3, rgb, error))
            return tool::Fail(kName, error);
        std::fprintf(qnReportStream(o.output), "%s: %u piece%s\n", qnShownName(o.output).c_str(), e.m_nPieces, e.m_nPieces == 1 ? "" : "s");
        progress.Summary(summary);
        return 0;
    }

    // render: records of a block go to the pieces in table order; otherwise
    // the engine's defaults with the options on top.
    for (uint32_t i = 0; i < e.m_nPieces; ++i) {
        CTessolo::SPLITEDCELL& p = e.m_pPieces[i];
        if (i < records.size()) {
            CTessolo::PutOnePieceRequested(records[i], p);
        } else {
            p.bevel[CTessolo::FX_REQUESTED].on = o.bevel;
            if (o.blur)
                p.gaussianBlur[CTessolo::FX_REQUESTED] = {1, uint8_t(o.blur)};
            if (o.stroke) {
                p.stroke[CTessolo::FX_REQUESTED].on = 1;
                p.stroke[CTessolo::FX_REQUESTED].size = uint8_t(o.stroke);
            }
        }
    }
    // Every piece at once on every core: the same bytes as one at a time.
    std::vector<uint32_t> all(e.m_nPieces);
    std::iota(all.begin(), all.end(), 0u);
    const Clock::time_point renderStart = Clock::now();
    if (!e.RenderPieces(all.data(), e.m_nPieces))
        return tool::Fail(kName, "cannot render the pieces: out of memory");
    const Clock::time_point renderEnd = Clock::now();
    progress.Progress(90, nullptr);
    std::vector<uint8_t> rgba(area * 4, 0);
    uint8_t* dst[4] = {&rgba[0], &rgba[area], &rgba[2 * area], &rgba[3 * area]};
    const Clock::time_point compositeStart = Clock::now();
    if (!e.CombineSplitedCells(w, h, dst, uint32_t(w), 4, nullptr, 0, qnNullRect, nullptr, 0, 100))
        return tool::Fail(kName, "cannot composite the pieces");
    if (o.time)
        std::fprintf(qnReportStream(o.output), "split %.1f ms, render %.1f ms, composite %.1f ms, %u thread%s\n",
                     ms(splitStart, splitEnd), ms(renderStart, renderEnd), ms(compositeStart, Clock::now()),
                     qnpar::ThreadCount(), qnpar::ThreadCount() == 1 ? "" : "s");
    if (!WritePng(o.output, pic.w, pic.h, 4, rgba, error))
        return tool::Fail(kName, error);
    std::fprintf(qnReportStream(o.output), "%s: %u piece%s rendered\n", qnShownName(o.output).c_str(), e.m_nPieces,
                 e.m_nPieces == 1 ? "" : "s");
    progress.Summary(summary);
    return 0;
}

tool::Registrar reg({kName,
                     "engine lines|pieces [--grid CxR [--seed N] | --block FILE] [--no-smooth] [--no-cut] "
                     "INPUT.png OUTPUT.png\n"
                     "  | engine render [--grid CxR [--seed N] | --block FILE] [--no-smooth] [--no-cut] [--no-bevel] "
                     "[--blur R] [--stroke S] [--time] INPUT.png OUTPUT.png\n"
                     "  --seed varies the grid's knots and knives; a --block keeps its own\n"
                     "  --no-smooth and --no-cut also switch off those settings of a --block\n"
                     "  --time prints the split, render and composite times and the thread count",
                     "cut a picture into jigsaw pieces: knife lines, piece map or rendered pieces", Run});

}  // namespace
