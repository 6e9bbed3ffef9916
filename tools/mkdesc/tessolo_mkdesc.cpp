// tessolo-mkdesc: writes a layout settings block as a scripting descriptor
// file for tessolo-host --descriptor (or as a raw block, the form of
// "last.data"), so that a layout can be replayed without the main window.
#include "app/LayoutPlan.h"
#include "core/ErrorWords.h"
#include "core/ProgramOutput.h"
#include "core/SafeFile.h"
#include "core/SafeFileRunInputs.h"
#include "core/StdFile.h"
#include "core/String.h"
#include "engine/LayoutLimits.h"
#include "engine/Tessolo.h"
#include "host/PluginAdapter.h"
#include "host/ScriptChunks.h"
#include "hostapp/OutputFile.h"
#include "hostapp/StandInHost.h"
#include "tools/Arguments.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

namespace {

const char kUsage[] =
    "usage: tessolo-mkdesc [options] OUT.qnds\n"
    "Writes a layout as a scripting descriptor for tessolo-host --descriptor.\n"
    "  --grid CxR      columns and rows, 1..101 each (default 4x3)\n"
    "  --pieces        a replay cuts the pieces (the default, as for tessolo-tool layout new)\n"
    "  --lines         a replay draws only the knife lines, in the foreground colour on the background\n"
    "  --straight      straight knives instead of the jigsaw knob\n"
    "  --knob N        knob size in per cent, 1..100 (100: the knob as drawn)\n"
    "  --width N       knife width in pixels, 1..255 (3); a razor cut is always one pixel wide, so this\n"
    "                  also turns the razor cut off (as --no-cut)\n"
    "  --no-cut        no razor cut: knives of their own width (lines between the pieces)\n"
    "  --no-smooth     aliased knives\n"
    "  --block FILE    take this settings block instead of building one (refused when the replay\n"
    "                  would not read it); the options above build a layout and are refused with it\n"
    "  --raw           write the block itself (the form of \"last.data\"); OUT then ends in .block or .data\n"
    "  --max-text N    write as a host that refuses texts longer than N bytes would have it\n"
    "                  (1004 or more: the smallest text written is a chunk of 1004 bytes); not with --raw\n";

std::vector<uint8_t> g_block;
bool g_written = false;

void WriterEntry(int16_t selector, FilterRecord* record, intptr_t* data, int16_t* result)
{
    *result = 0;
    if (selector != filterSelectorStart)
        return;
    CQNF_8BFPluginVirtual adapter;
    adapter.SetHostPointers(record, data, result);
    g_written = adapter.WriteEncryptedScriptParameter_V2(g_block.data(), static_cast<uint32_t>(g_block.size()));
    adapter.SetHostPointers(nullptr, nullptr, nullptr);
}

int Fail(const std::string& message, int code = qnExitFailed)
{
    std::fprintf(stderr, "tessolo-mkdesc: %s\n", qnShownLine(message).c_str());
    return code;
}

int BadArguments(const std::string& message)
{
    return Fail(message + " (see --help)", qnExitBadArguments);
}

// Says what was written, as every program does: on standard output, or on
// standard error when the file itself went to standard output.
int Wrote(const std::string& out, const char* what, size_t bytes)
{
    std::fprintf(qnReportStream(out), "wrote %s: a %s of %zu bytes\n", qnShownName(out).c_str(), what, bytes);
    return 0;
}

// Whether the engine's reader of settings blocks takes the bytes, as the
// replay will.
bool ReadsAsLayout(const std::vector<uint8_t>& bytes)
{
    CQNF_Mem block;
    if (bytes.empty() || !block.alloc(bytes.size()))
        return false;
    std::memcpy(block.GetPtr(), bytes.data(), bytes.size());
    CTessolo engine;
    uint8_t drawOnly = 0;
    uint32_t count = 0;
    CTessolo::SFX_ONEPIECE* records = nullptr;
    return engine.InitFromLastSettingsBinary(&block, drawOnly, count, &records);
}

// The smallest text limit a host may set and still take a descriptor: the
// writer's smallest chunk, a thousand characters behind their three index
// letters and before their terminating zero.
constexpr int64_t kMinTextLimit = qnscript::kChunkHeader + qnscript::kSmallChunk + 1;

// Reads the command line into the plan, the files and the host's settings.
// Returns true for --help.
bool ReadCommandLine(const tool::Args& args, layoutplan::LayoutPlan& plan, std::string& blockFile,
                     std::string& out, bool& raw, hostapp::HostSettings& settings)
{
    tool::RefuseTogether(args, "--lines", "--pieces");
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        int64_t n = 0;
        if (a == "--help" || a == "-h") {
            return true;
        } else if (a == "--grid") {
            uint32_t c = 0, r = 0;
            if (!qnParseDimensions(tool::OptionValue(args, i), 1, kQnMostGridCells, c, r))
                throw tool::BadArgument("--grid takes CxR with 1.." + std::to_string(kQnMostGridCells) + " each");
            plan.columns = static_cast<uint16_t>(c);
            plan.rows = static_cast<uint16_t>(r);
        } else if (a == "--lines" || a == "--pieces") {
            plan.piecesMode = a == "--pieces";
        } else if (a == "--straight") {
            plan.knife = layoutplan::KnifeShape::Straight();
        } else if (a == "--knob") {
            // The size the Knife Editor and tessolo-tool layout new give a
            // knob: a share of the knob as drawn, never larger.
            if (!qnParseInteger(tool::OptionValue(args, i), kQnLeastKnob, kQnMostKnob, n))
                throw tool::BadArgument("--knob takes a size in per cent, " + std::to_string(kQnLeastKnob) + ".." +
                                        std::to_string(kQnMostKnob));
            plan.knife.knob = static_cast<uint8_t>(n);
        } else if (a == "--width") {
            if (!qnParseInteger(tool::OptionValue(args, i), 1, 255, n))
                throw tool::BadArgument("--width takes 1..255");
            plan.knife.thickness = static_cast<uint8_t>(n);
            plan.cut = false;
        } else if (a == "--no-cut") {
            plan.cut = false;
        } else if (a == "--no-smooth") {
            plan.smooth = false;
        } else if (a == "--block") {
            blockFile = tool::OptionValue(args, i);
            if (blockFile.empty())
                throw tool::BadArgument("FILE is an empty name");
        } else if (a == "--raw") {
            raw = true;
        } else if (a == "--max-text") {
            if (!qnParseInteger(tool::OptionValue(args, i), kMinTextLimit, 0x7FFFFFFF, n))
                throw tool::BadArgument("--max-text takes " + std::to_string(kMinTextLimit) +
                                        " or more: the smallest text a descriptor is written in is a chunk of " +
                                        std::to_string(qnscript::kSmallChunk) + " characters, " +
                                        std::to_string(kMinTextLimit) + " bytes with its index and end");
            settings.maxText = static_cast<int32_t>(n);
        } else if (tool::IsOption(a)) {
            throw tool::BadArgument("unknown option " + a);
        } else if (a.empty()) {
            throw tool::BadArgument("OUT.qnds is an empty name");
        } else if (out.empty()) {
            out = a;
        } else {
            throw tool::BadArgument("unexpected argument " + a);
        }
    }
    if (out.empty())
        throw tool::BadArgument("expected OUT.qnds");
    // An option that would change nothing is refused rather than taken in
    // silence: a block is written as it is, a raw block has no texts, and a
    // straight knife has no knob.
    const auto given = [&args](const char* option) { return std::find(args.begin(), args.end(), option) != args.end(); };
    if (!blockFile.empty())
        for (const char* option : {"--grid", "--pieces", "--lines", "--straight", "--knob", "--width", "--no-cut", "--no-smooth"})
            if (given(option))
                throw tool::BadArgument(std::string(option) + " builds a layout, and --block takes the block's own");
    if (raw && given("--max-text"))
        throw tool::BadArgument("--max-text limits a descriptor's texts, and --raw writes no descriptor");
    if (given("--straight") && given("--knob"))
        throw tool::BadArgument("--knob sizes the jigsaw knob, and a --straight knife has none");
    return false;
}

}  // namespace

int main(int argc, char** argv)
try {
    qnCheckStandardOutputAtExit("tessolo-mkdesc", qnExitFailed);
    layoutplan::LayoutPlan plan;
    plan.columns = 4;
    plan.rows = 3;
    std::string blockFile, out;
    bool raw = false;
    hostapp::HostSettings settings;
    try {
        if (ReadCommandLine(tool::Args(argv + 1, argv + argc), plan, blockFile, out, raw, settings)) {
            std::fputs(kUsage, stdout);
            return 0;
        }
    } catch (const tool::BadArgument& e) {
        return BadArguments(e.what());
    }
    // The name says what is written: a descriptor, or with --raw a block
    // (a ".block" file, or the plug-in's "last.data").
    const std::vector<std::string> endings = raw ? std::vector<std::string>{".block", ".data"}
                                                 : std::vector<std::string>{".qnds"};
    if (const QnRefusal why = qnOutputNameRefusal(out, endings); !why.empty())
        return BadArguments(why.Detail());
    // As the host keeps its output: never over the block read, never over a
    // read-only file.
    if (const std::string why = hostapp::OutputRefusal(out, {blockFile}, true); !why.empty())
        return Fail(why);
    qnAddRunInputs({blockFile});
    std::string err;
    if (!blockFile.empty()) {
        // A settings block is some 40 MB at its largest.
        if (!qnReadWholeFile(blockFile, g_block, err, uint64_t(64) << 20))
            return Fail(err);
        // Only a block the plug-in's replay takes is written: a descriptor
        // that the replay then refuses would pass this step in silence.
        if (!ReadsAsLayout(g_block))
            return Fail(layoutplan::NotABlock(blockFile));
    } else {
        g_block = layoutplan::BuildLayoutBlock(plan);
    }
    if (raw) {
        if (const unsigned short error = qnReplaceFile(out, g_block.data(), g_block.size()))
            return Fail(qnFileFailure(out, true, error));
        return Wrote(out, "settings block", g_block.size());
    }

    // The descriptor is written by the plug-in's own writer, through the
    // stand-in host's descriptor procedures.
    hostapp::RasterImage pixel;
    pixel.Allocate(hostapp::ColorMode::RGB, 1, 1, false, 0);
    hostapp::StandInHost host(hostapp::HostDocument::FromImage(pixel, "L"), settings);
    // Settings too large for a descriptor still replay as the plug-in's
    // last settings, which hold any size: the line says how.
    const std::string instead = "; replay them as the plug-in's last settings instead: tessolo-mkdesc --raw" +
                                std::string(blockFile.empty() ? "" : " --block " + blockFile) +
                                " PLUGIN_FOLDER/last.data, then tessolo-host without --descriptor";
    if (host.Run(&WriterEntry, hostapp::StandInHost::Sequence::Replay) != 0 || !g_written || !host.HasDescriptor())
        return Fail((settings.maxText < 0
                         ? "the settings do not fit into a scripting descriptor (at most " +
                               std::to_string(qnscript::kMaxText) + " characters of text)"
                         : "the settings do not fit into a scripting descriptor whose texts hold at most " +
                               std::to_string(settings.maxText) + " bytes (in chunks of " +
                               std::to_string(qnscript::kSmallChunk) + " characters at most " +
                               std::to_string(qnscript::kSmallMaxChunks) + " chunks go in)") +
                    instead);
    const std::vector<uint8_t>& bytes = host.DescriptorBytes();
    if (const unsigned short error = qnReplaceFile(out, bytes.data(), bytes.size()))
        return Fail(qnFileFailure(out, true, error));
    return Wrote(out, "descriptor", bytes.size());
} catch (const std::exception& e) {
    // No program ends by an exception nobody caught: one line, and a failure.
    std::fprintf(stderr, "tessolo-mkdesc: %s\n", qnShownLine(e.what()).c_str());
    return 1;
} catch (...) {
    std::fprintf(stderr, "tessolo-mkdesc: an unexpected failure\n");
    return 1;
}
