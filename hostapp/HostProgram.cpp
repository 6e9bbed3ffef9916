#include "hostapp/HostProgram.h"

#include "core/SafeFile.h"
#include "core/StdFile.h"
#include "core/String.h"
#include "hostapp/PluginLoader.h"
#include "hostapp/PsdDocument.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace hostapp {

namespace {

bool ParseColor(const std::string& text, uint8_t rgb[3])
{
    if (text.size() != 6)
        return false;
    for (int c = 0; c < 3; ++c) {
        unsigned v = 0;
        for (int k = 0; k < 2; ++k) {
            const char ch = text[static_cast<size_t>(c * 2 + k)];
            unsigned d;
            if (ch >= '0' && ch <= '9')
                d = static_cast<unsigned>(ch - '0');
            else if (ch >= 'a' && ch <= 'f')
                d = static_cast<unsigned>(ch - 'a' + 10);
            else if (ch >= 'A' && ch <= 'F')
                d = static_cast<unsigned>(ch - 'A' + 10);
            else
                return false;
            v = v * 16 + d;
        }
        rgb[c] = static_cast<uint8_t>(v);
    }
    return true;
}

// "FILE[:NAME]"; the name defaults to the file's stem.
LayerArg ParseLayerArg(const std::string& text)
{
    LayerArg a;
    const size_t colon = text.rfind(':');
    if (colon != std::string::npos && colon > 0) {
        a.path = text.substr(0, colon);
        a.name = text.substr(colon + 1);
    } else {
        a.path = text;
    }
    if (a.name.empty())
        a.name = std::filesystem::path(a.path).stem().string();
    return a;
}

int Fail(int code, const std::string& message)
{
    std::fprintf(stderr, "tessolo-host: %s\n", message.c_str());
    return code;
}

}  // namespace

const char* HostUsage()
{
    return "usage: tessolo-host [options] INPUT OUTPUT.png\n"
           "INPUT is a PNG, JPEG or layered PSD image.\n"
           "Runs a filter plug-in on an image as a host would and writes the filtered layer.\n"
           "  --plugin PATH          the plug-in library (default $TESSOLO_PLUGIN, else the bundle beside the program)\n"
           "  --replay | --dialog | --about   Prepare, Start, Finish (default); Parameters first; About only\n"
           "  --descriptor FILE      scripting descriptor kept between runs (read before, written after success)\n"
           "  --play-info N          the descriptor's play information (1 asks for the dialog)\n"
           "  --repeat N             run the sequence N times in one load\n"
           "  --mode gray|rgb|cmyk   convert the document first\n"
           "  --selection MASK       gray image: selection mask\n"
           "  --add-layer FILE[:NAME]  a layer above the input (repeatable)\n"
           "  --target N             index of the layer to filter, bottom first (default: the input, or\n"
           "                         the top layer of a PSD document)\n"
           "  --channel FILE[:NAME]  an extra document channel (repeatable)\n"
           "  --protect-transparency  transparency that the filter may not change\n"
           "  --fg RRGGBB --bg RRGGBB  foreground and background colours (black, white)\n"
           "  --resolution DPI --ruler N --icc FILE --host-sig XXXX\n"
           "  --image-mode N --depth N --filter-case N   send these values instead of the document's\n"
           "  --max-space BYTES      space per request (8388608); --row-pad N pads every row handed out\n"
           "  --loose-space          do not refuse requests above the space offered\n"
           "  --max-text N           refuse descriptor texts longer than N bytes\n"
           "  --abort-after N        the abort test answers yes from its N-th call\n"
           "  --pick RRGGBB|cancel   the colour picker's answer (cancel)\n"
           "  --no-advance-state --no-abort --no-progress --no-color-services --no-properties\n"
           "  --no-handles --no-descriptor --no-suites --no-document-info   offer less\n"
           "  -v                     print what the plug-in asked for\n"
           "exit: 0 done, 1 cancelled, 2 plug-in error, 3 host error, 4 host protocol broken\n";
}

std::string DefaultPluginPath()
{
    if (const char* env = std::getenv("TESSOLO_PLUGIN"); env && *env)
        return env;
    std::error_code ec;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec)
        return "Tessolo.so";
    return (self.parent_path().parent_path() / "bundle" / "Tessolo" / "Tessolo.so").string();
}

bool ParseHostCommandLine(const std::vector<std::string>& args, HostCommandLine& out, bool& help, std::string& err)
{
    help = false;
    std::vector<std::string> positional;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](std::string& v) {
            if (i + 1 >= args.size()) {
                err = a + " needs a value";
                return false;
            }
            v = args[++i];
            return true;
        };
        auto number = [&](int64_t lo, int64_t hi, int64_t& v) {
            std::string text;
            if (!value(text))
                return false;
            if (!qnParseInteger(text, lo, hi, v, 0)) {
                err = a + " needs a whole number from " + std::to_string(lo) + " to " + std::to_string(hi);
                return false;
            }
            return true;
        };
        std::string text;
        int64_t n = 0;
        if (a == "--help" || a == "-h") {
            help = true;
            return true;
        } else if (a == "--plugin") {
            if (!value(out.plugin))
                return false;
        } else if (a == "--replay") {
            out.sequence = StandInHost::Sequence::Replay;
        } else if (a == "--dialog") {
            out.sequence = StandInHost::Sequence::Dialog;
        } else if (a == "--about") {
            out.sequence = StandInHost::Sequence::About;
        } else if (a == "--descriptor") {
            if (!value(out.descriptorFile))
                return false;
        } else if (a == "--play-info") {
            if (!number(0, 2, n))
                return false;
            out.settings.playInfo = static_cast<int16_t>(n);
        } else if (a == "--repeat") {
            if (!number(1, 100, n))
                return false;
            out.repeat = static_cast<int>(n);
        } else if (a == "--mode") {
            if (!value(out.mode))
                return false;
            if (out.mode != "gray" && out.mode != "rgb" && out.mode != "cmyk") {
                err = "--mode takes gray, rgb or cmyk";
                return false;
            }
        } else if (a == "--selection") {
            if (!value(out.selection))
                return false;
        } else if (a == "--add-layer" || a == "--channel") {
            if (!value(text))
                return false;
            (a == "--add-layer" ? out.layers : out.channels).push_back(ParseLayerArg(text));
        } else if (a == "--target") {
            if (!number(0, 1000, n))
                return false;
            out.target = static_cast<int>(n);
        } else if (a == "--protect-transparency") {
            out.settings.protectTransparency = true;
        } else if (a == "--fg" || a == "--bg") {
            if (!value(text))
                return false;
            if (!ParseColor(text, a == "--fg" ? out.foreground : out.background)) {
                err = a + " takes a colour as RRGGBB";
                return false;
            }
        } else if (a == "--resolution") {
            if (!number(1, 30000, n))
                return false;
            out.resolution = static_cast<double>(n);
        } else if (a == "--ruler") {
            if (!number(0, 100, n))
                return false;
            out.ruler = static_cast<int>(n);
        } else if (a == "--icc") {
            if (!value(out.icc))
                return false;
        } else if (a == "--host-sig") {
            if (!value(text))
                return false;
            if (text.size() != 4) {
                err = "--host-sig takes four characters";
                return false;
            }
            out.settings.hostSig = FILTER_FOURCC(text[0], text[1], text[2], text[3]);
        } else if (a == "--image-mode") {
            if (!number(0, 32767, n))
                return false;
            out.settings.imageMode = static_cast<int>(n);
        } else if (a == "--depth") {
            if (!number(1, 32, n))
                return false;
            out.settings.depth = static_cast<int>(n);
        } else if (a == "--filter-case") {
            if (!number(-100, 100, n))
                return false;
            out.settings.filterCase = static_cast<int>(n);
        } else if (a == "--max-space") {
            if (!number(0, 0x7FFFFFFF, n))
                return false;
            out.settings.maxSpace = static_cast<int32_t>(n);
        } else if (a == "--row-pad") {
            if (!number(0, 4096, n))
                return false;
            out.settings.rowPad = static_cast<int>(n);
        } else if (a == "--loose-space") {
            out.settings.strictSpace = false;
        } else if (a == "--max-text") {
            if (!number(0, 0x7FFFFFFF, n))
                return false;
            out.settings.maxText = static_cast<int32_t>(n);
        } else if (a == "--abort-after") {
            if (!number(1, 0x7FFFFFFF, n))
                return false;
            out.settings.abortAfter = n;
        } else if (a == "--pick") {
            if (!value(text))
                return false;
            if (text == "cancel") {
                out.settings.pickCancels = true;
            } else if (ParseColor(text, out.settings.pick)) {
                out.settings.pickCancels = false;
            } else {
                err = "--pick takes RRGGBB or cancel";
                return false;
            }
        } else if (a == "--no-advance-state") {
            out.settings.offerAdvanceState = false;
        } else if (a == "--no-abort") {
            out.settings.offerAbort = false;
        } else if (a == "--no-progress") {
            out.settings.offerProgress = false;
        } else if (a == "--no-color-services") {
            out.settings.offerColorServices = false;
        } else if (a == "--no-properties") {
            out.settings.offerProperties = false;
        } else if (a == "--no-handles") {
            out.settings.offerHandles = false;
        } else if (a == "--no-descriptor") {
            out.settings.offerDescriptors = false;
        } else if (a == "--no-suites") {
            out.settings.offerSuites = false;
        } else if (a == "--no-document-info") {
            out.settings.offerDocumentInfo = false;
        } else if (a == "-v") {
            out.verbose = true;
        } else if (!a.empty() && a[0] == '-') {
            err = "unknown option " + a;
            return false;
        } else {
            positional.push_back(a);
        }
    }
    if (out.sequence == StandInHost::Sequence::About ? positional.size() > 2 : positional.size() != 2) {
        err = "expected INPUT and OUTPUT";
        return false;
    }
    if (positional.size() > 0)
        out.input = positional[0];
    if (positional.size() > 1)
        out.output = positional[1];
    if (out.plugin.empty())
        out.plugin = DefaultPluginPath();
    return true;
}

namespace {

bool BuildDocument(const HostCommandLine& cmd, HostDocument& doc, std::string& err)
{
    RasterImage input;
    if (!cmd.input.empty() && IsPsdFile(cmd.input)) {
        if (!ReadPsdDocument(cmd.input, doc, err))
            return false;
    } else {
        if (cmd.input.empty()) {
            // About needs no image; the host still has a document open.
            input.Allocate(ColorMode::RGB, 64, 64, false, 255);
        } else if (!ReadImageFile(cmd.input, input, err)) {
            return false;
        }
        doc = HostDocument::FromImage(std::move(input), "Layer 1");
    }
    if (cmd.mode == "gray")
        doc.ConvertTo(ColorMode::Gray);
    else if (cmd.mode == "rgb")
        doc.ConvertTo(ColorMode::RGB);
    else if (cmd.mode == "cmyk")
        doc.ConvertTo(ColorMode::CMYK);
    for (const LayerArg& l : cmd.layers) {
        RasterImage layer;
        if (!ReadImageFile(l.path, layer, err) || !doc.AddLayer(std::move(layer), l.name, err))
            return false;
    }
    if (cmd.target >= 0) {
        if (static_cast<size_t>(cmd.target) >= doc.layers.size()) {
            err = "--target " + std::to_string(cmd.target) + ": the document has " +
                  std::to_string(doc.layers.size()) + " layer(s)";
            return false;
        }
        doc.target = static_cast<size_t>(cmd.target);
    }
    if (!cmd.selection.empty()) {
        RasterImage mask;
        if (!ReadImageFile(cmd.selection, mask, err) || !doc.SetSelection(GrayPlaneOf(mask), err))
            return false;
        bool any = false;
        for (uint8_t v : doc.selection)
            any = any || v != 0;
        if (!any) {
            err = "the selection is empty";
            return false;
        }
    }
    for (const LayerArg& c : cmd.channels) {
        RasterImage plane;
        if (!ReadImageFile(c.path, plane, err) || !doc.AddChannel(GrayPlaneOf(plane), c.name, err))
            return false;
    }
    for (int c = 0; c < 3; ++c) {
        doc.foreground[c] = cmd.foreground[c];
        doc.background[c] = cmd.background[c];
    }
    doc.resolution = cmd.resolution;
    doc.ruler = cmd.ruler;
    if (!cmd.icc.empty() && !qnReadWholeFile(cmd.icc, doc.icc, err))
        return false;
    return true;
}

const char* SelectorName(StandInHost::Sequence s)
{
    switch (s) {
    case StandInHost::Sequence::Replay:
        return "replay";
    case StandInHost::Sequence::Dialog:
        return "dialog";
    case StandInHost::Sequence::About:
        return "about";
    }
    return "";
}

}  // namespace

int RunHostProgram(const HostCommandLine& cmd)
{
    // The dialog and About show the plug-in's windows on the X display.
    if (cmd.sequence != StandInHost::Sequence::Replay) {
        const char* display = std::getenv("DISPLAY");
        if (!display || !*display)
            return Fail(kExitHostError, std::string(cmd.sequence == StandInHost::Sequence::About ? "--about" : "--dialog") +
                                            " needs a display, and DISPLAY is not set");
    }
    HostDocument doc;
    std::string err;
    if (!BuildDocument(cmd, doc, err))
        return Fail(kExitHostError, err);

    std::vector<uint8_t> descriptor;
    if (!cmd.descriptorFile.empty() && std::filesystem::exists(cmd.descriptorFile)) {
        HostDescriptor parsed;
        if (!qnReadWholeFile(cmd.descriptorFile, descriptor, err))
            return Fail(kExitHostError, err);
        if (!descriptor.empty() && !HostDescriptor::Parse(descriptor.data(), descriptor.size(), parsed, err))
            return Fail(kExitHostError, cmd.descriptorFile + ": " + err);
    }

    PluginLoader loader;
    if (!loader.Load(cmd.plugin, err))
        return Fail(kExitHostError, err);

    StandInHost host(std::move(doc), cmd.settings);
    host.SetDescriptor(descriptor);
    int16_t result = 0;
    for (int run = 0; run < cmd.repeat && result == 0; ++run) {
        result = host.Run(loader.Entry(), cmd.sequence);
        if (cmd.verbose) {
            std::printf("run %d (%s): result %d, %ld advanceState call(s), %zu request(s), %zu progress report(s), "
                        "%ld abort test(s), %ld layer read(s), recordInfo %d\n",
                        run + 1, SelectorName(cmd.sequence), result, host.AdvanceCalls(), host.Requests().size(),
                        host.ProgressDone().size(), host.AbortCalls(), host.SuiteReads(), host.RecordInfo());
        }
    }
    // The plug-in's static objects go away here; it may still call the host.
    loader.Unload();

    if (!host.Violations().empty()) {
        for (const std::string& v : host.Violations())
            if (cmd.verbose)
                std::printf("violation: %s\n", v.c_str());
        return Fail(kExitViolation, "the plug-in broke the host protocol: " + host.Violations().front() + " (" +
                                        std::to_string(host.Violations().size()) + " in all)");
    }
    if (result == userCanceledErr)
        return Fail(kExitCancelled, "the plug-in was cancelled; the image is unchanged");
    if (result != 0)
        return Fail(kExitPluginError,
                    "the plug-in failed with result " + std::to_string(result) + "; the image is unchanged");

    if (cmd.sequence != StandInHost::Sequence::About && !cmd.output.empty()) {
        if (!WritePngFile(cmd.output, host.Document().Target().pixels, err))
            return Fail(kExitHostError, err);
    }
    if (!cmd.descriptorFile.empty() && host.HasDescriptor() && host.DescriptorBytes() != descriptor) {
        const std::vector<uint8_t>& bytes = host.DescriptorBytes();
        if (qnReplaceFile(cmd.descriptorFile, bytes.data(), bytes.size()) != 0)
            return Fail(kExitHostError, "cannot write " + cmd.descriptorFile);
    }
    return kExitOk;
}

}  // namespace hostapp
