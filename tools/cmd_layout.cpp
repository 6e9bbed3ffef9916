// "layout new|show|block": documents (".qntd") made and read by the main
// window's layout model, without any window.
//   new    an even grid of the default knife, optionally with random knot
//          offsets and an automatic tiling, saved as a document
//   show   what a document holds: grid, guides, knots, knives, extra knives,
//          the cut switches and the pieces' effect records
//   block  the document's settings block alone (the form of "last.data",
//          which tessolo-mkdesc --block turns into a host descriptor)
#include "tools/Command.h"

#include "app/Wnd_Main.h"
#include "core/ErrorWords.h"
#include "core/ProgramOutput.h"
#include "core/SafeFile.h"
#include "core/StdFile.h"
#include "core/String.h"
#include "engine/LayoutLimits.h"
#include "engine/Tessolo.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <unistd.h>

namespace {

const char kName[] = "layout";

// A per cent amount 0..100 as a fraction.
bool ParsePercent(const std::string& text, float& fraction)
{
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (text.empty() || *end || !(v >= 0.0 && v <= 100.0))
        return false;
    fraction = float(v / 100.0);
    return true;
}

int New(const tool::Args& args)
{
    tool::RefuseTogether(args, "--pieces", "--lines");
    uint32_t columns = 0, rows = 0;
    uint64_t seed = 1;
    float amount = 0.0f;
    std::string autoLayout, flip = "none", out;
    bool pieces = true;
    CWindowlessCutter cutter;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--grid") {
            if (!qnParseDimensions(tool::OptionValue(args, i), 1, kQnMostGridCells, columns, rows))
                return tool::BadArguments(kName, "--grid takes COLSxROWS with 1.." + std::to_string(kQnMostGridCells) +
                                                     " each");
        } else if (a == "--seed") {
            if (!qnParseUnsigned(tool::OptionValue(args, i), UINT64_MAX, seed))
                return tool::BadArguments(kName, "--seed takes a whole number");
        } else if (a == "--randomize") {
            if (!ParsePercent(tool::OptionValue(args, i), amount))
                return tool::BadArguments(kName, "--randomize takes a per cent amount 0..100");
        } else if (a == "--mutate") {
            const std::string& v = tool::OptionValue(args, i);
            const size_t c1 = v.find(','), c2 = c1 == std::string::npos ? c1 : v.find(',', c1 + 1);
            if (c2 == std::string::npos || !ParsePercent(v.substr(0, c1), cutter.mutS) ||
                !ParsePercent(v.substr(c1 + 1, c2 - c1 - 1), cutter.mutH) ||
                !ParsePercent(v.substr(c2 + 1), cutter.mutU))
                return tool::BadArguments(kName, "--mutate takes TENSION,ACROSS,ALONG per cent amounts 0..100");
        } else if (a == "--knob") {
            uint64_t n = 0;
            if (!qnParseUnsigned(tool::OptionValue(args, i), kQnMostKnob, n) || n < kQnLeastKnob)
                return tool::BadArguments(kName, "--knob takes a size in per cent, " + std::to_string(kQnLeastKnob) +
                                                     ".." + std::to_string(kQnMostKnob));
            cutter.knob = uint32_t(n);
        } else if (a == "--flip") {
            flip = tool::OptionValue(args, i);
            if (flip != "none" && flip != "random" && flip != "interleaved")
                return tool::BadArguments(kName, "--flip takes none, random or interleaved");
        } else if (a == "--auto") {
            autoLayout = tool::OptionValue(args, i);
            if (autoLayout != "triangular" && autoLayout != "hexagonal")
                return tool::BadArguments(kName, "--auto takes triangular or hexagonal");
        } else if (a == "--pieces" || a == "--lines") {
            pieces = a == "--pieces";
        } else if (tool::IsOption(a)) {
            return tool::BadArguments(kName, "unknown option " + a);
        } else if (out.empty()) {
            out = a;
        } else {
            return tool::BadArguments(kName, "more than one output file (" + out + ", " + a + ")");
        }
    }
    if (columns == 0)
        return tool::BadArguments(kName, "new needs --grid COLSxROWS");
    // Without randomness a seed would change nothing.
    const auto given = [&args](const char* option) { return std::find(args.begin(), args.end(), option) != args.end(); };
    if (given("--seed") && !given("--randomize") && !given("--mutate") && flip != "random")
        return tool::BadArguments(kName, "--seed repeats the randomness of --randomize, --mutate or --flip random: "
                                         "give one of them");
    // A tiling lays its shapes on a grid of more cells than it has shapes,
    // and the grid holds at most 101 x 101: more shapes cannot be made.
    if (!autoLayout.empty()) {
        const bool hexagons = autoLayout == "hexagonal";
        const uint32_t mostColumns = hexagons ? CWnd_Main::kMostHexagonColumns : CWnd_Main::kMostTriangleColumns;
        const uint32_t mostRows = hexagons ? CWnd_Main::kMostHexagonRows : CWnd_Main::kMostTriangleRows;
        if (columns > mostColumns || rows > mostRows)
            return tool::BadArguments(kName, "--auto " + autoLayout + " makes at most " + std::to_string(mostColumns) +
                                                 " x " + std::to_string(mostRows) +
                                                 (hexagons ? " hexagons" : " triangles") + ", not " +
                                                 std::to_string(columns) + " x " + std::to_string(rows));
    }
    if (out.empty())
        return tool::BadArguments(kName, "new needs OUT.qntd");
    if (const int refused = tool::RefuseOutput(kName, out, {}, {".qntd"}))
        return refused;

    CQNF_SeededRandom random(seed);
    CWnd_Main model;
    model.SetImageSize(1000, 1000);
    model.SetCutter(&cutter);
    model.SetRandomSource(&random);
    if (!autoLayout.empty()) {
        if (autoLayout == "triangular")
            model.AutoLayout_Triangles(rows, columns, 0);
        else
            model.AutoLayout_Hexagons(rows, columns, 0);
    } else {
        if (!model.spl_SplitEvenParts(uint16_t(columns), uint16_t(rows), 1, 1))
            return tool::Fail(kName, "out of memory");
        model.spl_DoReFillKnivesFromCutter(0, cutter.mutS, cutter.mutH, cutter.mutU, 0);
    }
    if (cutter.knob != 100)
        model.spl_DoSetKnobSize(cutter.knob, 0);
    // Knobs that all point one way make a grid, not a puzzle: flip them.
    if (flip == "random")
        model.op_RandFlip(1, 1, 0, 0);
    else if (flip == "interleaved")
        model.op_Interleaved(1, 0, 0, 0);
    // Every knife counts for the knot offsets, as with no selection.
    model.op_SetSelToAllKnives(0, 0, 1, 1, 1);
    if (amount > 0.0f) {
        model.m_fRndKnotsValue = amount;
        model.OnUpdateKnotRandomize(amount);
    }
    model.m_bCutMode = pieces ? 0 : 1;
    std::string message;
    qnNoteWriteErrno(0);
    if (!model.settings_SaveDocument(out.c_str(), message)) {
        // A write the system refused says why, as every command does.
        if (qnLastWriteErrno())
            return tool::Fail(kName, qnFileFailure(out, true, qnerr::FileWrite));
        return tool::Fail(kName, out + ": " + message);
    }
    const unsigned knives = model.GetKnifeCount(), extra = model.m_nAuxKnives;
    std::fprintf(qnReportStream(out), "wrote %s: %u x %u cells, %u %s, %u extra %s, %s\n", qnShownName(out).c_str(),
                 model.m_nColSplitters + 1u, model.m_nRowSplitters + 1u, knives, knives == 1 ? "knife" : "knives",
                 extra, extra == 1 ? "knife" : "knives", pieces ? "pieces" : "knife lines");
    if (!autoLayout.empty())
        std::printf("(a %s tiling of %u x %u %s on that grid)\n", autoLayout.c_str(), columns, rows,
                    autoLayout == "triangular" ? "triangles" : "hexagons");
    return 0;
}

// The first bytes of a document the model has already accepted: its
// version, and the block's two mode bytes (pieces flag, replay mode).
struct Head {
    int version = 3;
    uint8_t piecesFlag = 0;
    uint8_t piecesMode = 0;
};

Head ReadHead(const std::string& path)
{
    Head h;
    uint8_t bytes[8] = {};
    const int fd = qnOpenRegularFile(path.c_str(), O_RDONLY);
    FILE* f = fd >= 0 ? ::fdopen(fd, "rb") : nullptr;
    if (fd >= 0 && !f)
        ::close(fd);
    const size_t n = f ? std::fread(bytes, 1, 8, f) : 0;
    if (f)
        std::fclose(f);
    if (n >= 6 && std::memcmp(bytes, CWnd_Main::kDocumentMagicV2, 6) == 0)
        h.version = 2;
    else if (n == 8) {
        h.piecesFlag = bytes[6];
        h.piecesMode = bytes[7];
    }
    return h;
}

// The document at path in a model of the size every action works at.
bool Load(const std::string& path, CWnd_Main& model, CWindowlessCutter& cutter, int& exitCode)
{
    model.SetImageSize(1000, 1000);
    model.SetCutter(&cutter);
    std::string message;
    // The model reads the whole file: devices and files far beyond any
    // layout (its largest settings block is some 40 MB) go before that.
    if (!qnCheckInputFile(path, CWnd_Main::kMaxDocumentBytes, message)) {
        exitCode = tool::Fail(kName, message);
        return false;
    }
    if (!model.settings_LoadDocument(path.c_str(), message)) {
        exitCode = tool::Fail(kName, tool::LayoutFailure(path, message));
        return false;
    }
    return true;
}

void PrintKnives(const char* name, const std::vector<CWnd_Main::KNIFESTRUCT>& list, uint32_t count)
{
    uint32_t off = 0, selected = 0, flippedH = 0, flippedU = 0, straight = 0, maxNodes = 0;
    for (uint32_t i = 0; i < count; ++i) {
        const CWnd_Main::KNIFESTRUCT& k = list[i];
        off += k.off != 0;
        selected += k.selected != 0;
        flippedH += k.flipH != 0;
        flippedU += k.flipU != 0;
        straight += k.nodeCount == 0;
        maxNodes = std::max(maxNodes, k.nodeCount);
    }
    std::printf("%-14s %u (off %u, selected %u, flipped across %u, along %u, straight %u, at most %u nodes)\n", name,
                count, off, selected, flippedH, flippedU, straight, maxNodes);
}

int Show(const tool::Args& args)
{
    tool::RefuseOptions(args);
    if (args.size() != 1)
        return tool::BadArguments(kName, "show takes one FILE.qntd");
    CWindowlessCutter cutter;
    CWnd_Main model;
    int code = 0;
    if (!Load(args[0], model, cutter, code))
        return code;

    const Head head = ReadHead(args[0]);
    std::printf("document       %s (version %d)\n", qnShownName(args[0]).c_str(), head.version);
    const unsigned columns = model.m_nColSplitters + 1u, rows = model.m_nRowSplitters + 1u;
    std::printf("grid           %u column%s x %u row%s\n", columns, columns == 1 ? "" : "s", rows, rows == 1 ? "" : "s");
    std::printf("column guides ");
    for (uint32_t i = 0; i < model.m_nColSplitters; ++i)
        std::printf(" %.4f", model.m_ColSplitters[i]);
    std::printf("\nrow guides    ");
    for (uint32_t i = 0; i < model.m_nRowSplitters; ++i)
        std::printf(" %.4f", model.m_RowSplitters[i]);
    float largest = 0.0f;
    uint32_t moved = 0;
    for (uint32_t i = 0; i < model.m_nKnots; ++i) {
        largest = std::max({largest, std::abs(model.m_Knots[i].dx), std::abs(model.m_Knots[i].dy)});
        moved += model.m_Knots[i].dx != 0.0f || model.m_Knots[i].dy != 0.0f;
    }
    std::printf("\nknots          %u (%u moved, largest offset %.3f)\n", model.m_nKnots, moved, largest);
    PrintKnives("column knives", model.m_ColKnives, model.m_nColKnives);
    PrintKnives("row knives", model.m_RowKnives, model.m_nRowKnives);
    std::printf("extra knives   %u\n", model.m_nAuxKnives);
    for (uint32_t i = 0; i < model.m_nAuxKnives; ++i) {
        const CWnd_Main::AUXKNIFESTRUCT& a = model.m_AuxKnives[i];
        std::printf("  %u: knot %u -> knot %u, %u nodes%s\n", i, a.knotA, a.knotB, a.knife.nodeCount,
                    a.knife.off ? ", off" : "");
    }
    std::printf("razor cut      %s\nanti-aliasing  %s\n", model.m_bRazorCut ? "on" : "off",
                model.m_bAntiAlias ? "on" : "off");

    std::printf("replay         %s\n", head.piecesMode ? "cuts and renders the pieces" : "draws the knife lines");
    std::printf("effect records %u\n", model.m_nDocumentRecords);
    static const char* const kEffects[] = {"brightness-contrast", "bevel", "blur", "colour overlay", "image overlay",
                                           "stroke", "hue-saturation", "motion blur", "opacity", "invert"};
    for (uint32_t i = 0; i < model.m_nDocumentRecords; ++i) {
        const CTessolo::SFX_ONEPIECE r =
            CTessolo::SFX_ONEPIECE::LoadLE(model.m_DocumentRecords.GetPtr() + size_t(i) * CWnd_Main::kPieceRecordSize);
        const uint8_t on[10] = {r.brightnessContrast.on, r.bevel.on, r.gaussianBlur.on, r.colorOverlay.on,
                                r.imageOverlay.on, r.stroke.on, r.hsl.on, r.motionBlur.on, r.opacity.on, r.invert};
        std::printf("  piece %u: row %u column %u, %s%s", i, r.row, r.column, r.shown ? "shown" : "hidden",
                    r.selected ? ", selected" : "");
        for (int e = 0; e < 10; ++e)
            if (on[e])
                std::printf(", %s", kEffects[e]);
        std::printf("\n");
    }
    return 0;
}

int Block(const tool::Args& args)
{
    tool::RefuseOptions(args);
    if (args.size() != 2)
        return tool::BadArguments(kName, "block takes FILE.qntd and OUT");
    // A block is kept as a ".block" file, or as the plug-in's "last.data".
    if (const int refused = tool::RefuseOutput(kName, args[1], {args[0]}, {".block", ".data"}, true))
        return refused;
    CWindowlessCutter cutter;
    CWnd_Main model;
    int code = 0;
    if (!Load(args[0], model, cutter, code))
        return code;
    // A document saved in piece mode keeps that mode and its records.
    if (ReadHead(args[0]).piecesFlag == 1) {
        model.m_bCutMode = 0;
        model.m_PieceRecords = model.m_DocumentRecords;
        model.m_nPieceRecords = model.m_nDocumentRecords;
    }
    CQNF_Mem block;
    uint32_t length = 0;
    if (!model.settings_SaveCurLayoutAndCellSettingsToMem(&block, length))
        return tool::Fail(kName, "out of memory");
    if (const unsigned short error = qnReplaceFile(args[1], block.GetPtr(), length))
        return tool::Fail(kName, qnFileFailure(args[1], true, error));
    std::fprintf(qnReportStream(args[1]), "wrote %s: %u bytes\n", qnShownName(args[1]).c_str(), length);
    return 0;
}

int Run(const tool::Args& args)
{
    if (args.empty())
        return tool::BadArguments(kName, "expected new, show or block (see --help)");
    const tool::Args rest(args.begin() + 1, args.end());
    if (args[0] == "new")
        return New(rest);
    if (args[0] == "show")
        return Show(rest);
    if (args[0] == "block")
        return Block(rest);
    return tool::BadArguments(kName, "unknown action " + args[0] + " (expected new, show or block)");
}

tool::Registrar reg({kName,
                     "layout new --grid COLSxROWS [--seed N] [--randomize PERCENT] [--flip none|random|interleaved]\n"
                     "       [--mutate TENSION,ACROSS,ALONG] [--knob PERCENT] [--auto triangular|hexagonal]\n"
                     "       [--pieces|--lines] OUT.qntd\n"
                     "  | layout show FILE.qntd | layout block FILE.qntd OUT.block\n"
                     "  new: an even grid of the jigsaw knife. --randomize moves every knot at random by up to\n"
                     "    PERCENT of its cell; above about 10 (sooner on a dense grid, with --flip and --mutate,\n"
                     "    or on cells a few pixels wide) neighbouring knobs can meet and knives can cross,\n"
                     "    which cuts slivers and loose knob heads. --flip turns knobs at random or every other\n"
                     "    one, as in a real puzzle; --mutate varies each knife's nodes by these per cent amounts;\n"
                     "    --knob sizes the knob (100). --seed repeats the same randomness of --randomize, --mutate\n"
                     "    or --flip random, and is refused without one of them. A replay cuts the\n"
                     "    pieces (--pieces, the default) or draws the knife lines (--lines).\n"
                     "    --auto triangular: COLS triangles across ROWS rows, at most 97 x 98 (on a grid of\n"
                     "    COLS+1 x ROWS cells); --auto hexagonal: COLS x ROWS hexagons, at most 48 x 97 (on a grid\n"
                     "    of 2*COLS+1 x ROWS+1 cells)",
                     "make, read and unpack layout documents", Run});

}  // namespace
