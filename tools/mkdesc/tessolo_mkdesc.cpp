// tessolo-mkdesc: writes a layout settings block as a scripting descriptor
// file for tessolo-host --descriptor (or as a raw block, the form of
// "last.data"), so that a layout can be replayed without the main window.
#include "app/LayoutPlan.h"
#include "core/ErrorWords.h"
#include "core/SafeFile.h"
#include "core/StdFile.h"
#include "core/String.h"
#include "host/PluginAdapter.h"
#include "hostapp/OutputFile.h"
#include "hostapp/StandInHost.h"

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

namespace {

const char kUsage[] =
    "usage: tessolo-mkdesc [options] OUT\n"
    "Writes a layout as a scripting descriptor for tessolo-host --descriptor.\n"
    "  --grid CxR      columns and rows, 1..101 each (default 4x3)\n"
    "  --pieces        a replay cuts the pieces (the default, as for tessolo-tool layout new)\n"
    "  --lines         a replay draws only the knife lines, in the foreground colour on the background\n"
    "  --straight      straight knives instead of the jigsaw knob\n"
    "  --knob N        knob size in per cent (100)\n"
    "  --width N       knife width in pixels (3); a razor cut is always one pixel wide, so this\n"
    "                  also turns the razor cut off (as --no-cut)\n"
    "  --no-cut        no razor cut: knives of their own width (lines between the pieces)\n"
    "  --no-smooth     aliased knives\n"
    "  --block FILE    take this settings block instead of building one\n"
    "  --raw           write the block itself (the form of \"last.data\")\n"
    "  --max-text N    write as a host that refuses texts longer than N bytes would have it\n";

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
    std::fprintf(stderr, "tessolo-mkdesc: %s\n", message.c_str());
    return code;
}

int BadArguments(const std::string& message)
{
    return Fail(message + " (see --help)", qnExitBadArguments);
}

}  // namespace

int main(int argc, char** argv)
try {
    layoutplan::LayoutPlan plan;
    plan.columns = 4;
    plan.rows = 3;
    std::string blockFile, out;
    bool raw = false;
    hostapp::HostSettings settings;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool hasValue = i + 1 < argc;
        int64_t n = 0;
        if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (a == "--grid" && hasValue) {
            uint32_t c = 0, r = 0;
            if (!qnParseDimensions(argv[++i], 1, 101, c, r))
                return BadArguments("--grid takes CxR with 1..101 each");
            plan.columns = static_cast<uint16_t>(c);
            plan.rows = static_cast<uint16_t>(r);
        } else if (a == "--lines" || a == "--pieces") {
            plan.piecesMode = a == "--pieces";
        } else if (a == "--straight") {
            plan.knife = layoutplan::KnifeShape::Straight();
        } else if (a == "--knob" && hasValue) {
            if (!qnParseInteger(argv[++i], 1, 255, n))
                return BadArguments("--knob takes 1..255");
            plan.knife.knob = static_cast<uint8_t>(n);
        } else if (a == "--width" && hasValue) {
            if (!qnParseInteger(argv[++i], 1, 255, n))
                return BadArguments("--width takes 1..255");
            plan.knife.thickness = static_cast<uint8_t>(n);
            plan.cut = false;
        } else if (a == "--no-cut") {
            plan.cut = false;
        } else if (a == "--no-smooth") {
            plan.smooth = false;
        } else if (a == "--block" && hasValue) {
            blockFile = argv[++i];
        } else if (a == "--raw") {
            raw = true;
        } else if (a == "--max-text" && hasValue) {
            if (!qnParseInteger(argv[++i], 1, 0x7FFFFFFF, n))
                return BadArguments("--max-text takes a positive number");
            settings.maxText = static_cast<int32_t>(n);
        } else if (!a.empty() && a[0] != '-' && out.empty()) {
            out = a;
        } else {
            return BadArguments((!a.empty() && a[0] == '-' ? "unknown option " : "unexpected argument ") + a);
        }
    }
    if (out.empty())
        return BadArguments("expected OUT");
    // As the host keeps its output: never over the block read, never over a
    // read-only file.
    if (const std::string why = hostapp::OutputRefusal(out, {blockFile}); !why.empty())
        return Fail(why);
    std::string err;
    if (!blockFile.empty()) {
        // A settings block is some 40 MB at its largest.
        if (!qnReadWholeFile(blockFile, g_block, err, uint64_t(64) << 20))
            return Fail(err);
        if (g_block.empty())
            return Fail(blockFile + " is empty");
    } else {
        g_block = layoutplan::BuildLayoutBlock(plan);
    }
    if (raw) {
        if (const unsigned short error = qnReplaceFile(out, g_block.data(), g_block.size()))
            return Fail(qnFileFailure(out, true, error));
        return 0;
    }

    // The descriptor is written by the plug-in's own writer, through the
    // stand-in host's descriptor procedures.
    hostapp::RasterImage pixel;
    pixel.Allocate(hostapp::ColorMode::RGB, 1, 1, false, 0);
    hostapp::StandInHost host(hostapp::HostDocument::FromImage(pixel, "L"), settings);
    if (host.Run(&WriterEntry, hostapp::StandInHost::Sequence::Replay) != 0 || !g_written || !host.HasDescriptor())
        return Fail("the layout does not fit into a scripting descriptor");
    const std::vector<uint8_t>& bytes = host.DescriptorBytes();
    if (const unsigned short error = qnReplaceFile(out, bytes.data(), bytes.size()))
        return Fail(qnFileFailure(out, true, error));
    return 0;
} catch (const std::exception& e) {
    // No program ends by an exception nobody caught: one line, and a failure.
    std::fprintf(stderr, "tessolo-mkdesc: %s\n", e.what());
    return 1;
} catch (...) {
    std::fprintf(stderr, "tessolo-mkdesc: an unexpected failure\n");
    return 1;
}
