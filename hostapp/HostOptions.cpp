// tessolo-host's command line: one table of options with their help, from
// which both the parser and the usage text are made.
#include "hostapp/HostProgram.h"

#include "core/String.h"

#include <cstdlib>
#include <filesystem>
#include <utility>
#include <vector>

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

// What an option's handler gets: the command line, the option's value
// (empty for a switch) and where to put a reason.
struct Use {
    HostCommandLine& cmd;
    const std::string& option;
    const std::string& value;
    std::string& err;

    bool Number(int64_t lo, int64_t hi, int64_t& n) const
    {
        if (qnParseInteger(value, lo, hi, n, 0))
            return true;
        err = option + " needs a whole number from " + std::to_string(lo) + " to " + std::to_string(hi);
        return false;
    }
    bool Colour(uint8_t rgb[3]) const
    {
        if (ParseColor(value, rgb))
            return true;
        err = option + " takes a colour as RRGGBB";
        return false;
    }
};

// The roads a run takes: which of them an option is of use to.
enum Road : unsigned { kReplay = 1, kDialog = 2, kAbout = 4, kFiltering = kReplay | kDialog, kEveryRoad = 7 };

struct Option {
    const char* name;  // "--fg", "--replay"
    const char* value;  // what the value is called; null for a switch
    const char* help;
    bool (*apply)(const Use& u);
    // The roads that use it: About shows a window and filters nothing, and
    // only the dialog's windows ask for a colour.
    unsigned roads = kFiltering;
};

template <class T>
bool SetNumber(const Use& u, int64_t lo, int64_t hi, T& to)
{
    int64_t n = 0;
    if (!u.Number(lo, hi, n))
        return false;
    to = static_cast<T>(n);
    return true;
}

const Option kOptions[] = {
    {"--plugin", "PATH", "the plug-in library (default $TESSOLO_PLUGIN, else the bundle beside the program)",
     [](const Use& u) { return u.cmd.plugin = u.value, true; }, kEveryRoad},
    {"--replay", nullptr, "run Prepare, Start, Finish without the dialog (the default)",
     [](const Use& u) { return u.cmd.sequence = StandInHost::Sequence::Replay, true; }, kEveryRoad},
    {"--dialog", nullptr, "ask for the dialog first (Parameters)",
     [](const Use& u) { return u.cmd.sequence = StandInHost::Sequence::Dialog, true; }, kEveryRoad},
    {"--about", nullptr, "show the About box only",
     [](const Use& u) { return u.cmd.sequence = StandInHost::Sequence::About, true; }, kEveryRoad},
    {"--descriptor", "FILE",
     "scripting descriptor: a replay reads it and leaves it as it is; --dialog reads it and writes it after success",
     [](const Use& u) { return u.cmd.descriptorFile = u.value, true; }},
    {"--play-info", "N", "the descriptor's play information, 0..2 (1 asks for the dialog)",
     [](const Use& u) { return SetNumber(u, 0, 2, u.cmd.settings.playInfo); }},
    {"--repeat", "N", "run the sequence N times in one load, 1..100",
     [](const Use& u) { return SetNumber(u, 1, 100, u.cmd.repeat); }, kEveryRoad},
    {"--quality", "N", "a .jpg or .jpeg OUTPUT's quality, 1..100 (90)",
     [](const Use& u) { return SetNumber(u, 1, 100, u.cmd.quality); }},
    {"--mode", "gray|rgb|cmyk", "convert the document first",
     [](const Use& u) {
         if (u.value != "gray" && u.value != "rgb" && u.value != "cmyk")
             return u.err = "--mode takes gray, rgb or cmyk", false;
         return u.cmd.mode = u.value, true;
     }},
    {"--selection", "MASK", "gray image: selection mask", [](const Use& u) { return u.cmd.selection = u.value, true; }},
    {"--add-layer", "FILE[:NAME]", "a layer above the input (repeatable)",
     [](const Use& u) { return u.cmd.layers.push_back(ParseLayerArg(u.value)), true; }},
    {"--target", "N",
     "index of the layer to filter, bottom first, 0 to the layers less 1 (default: the input, or the top layer "
     "of a PSD document)",
     [](const Use& u) { return SetNumber(u, 0, 1000, u.cmd.target); }},
    {"--channel", "FILE[:NAME]", "an extra document channel (repeatable)",
     [](const Use& u) { return u.cmd.channels.push_back(ParseLayerArg(u.value)), true; }},
    {"--protect-transparency", nullptr, "transparency that the filter may not change",
     [](const Use& u) { return u.cmd.settings.protectTransparency = true, true; }},
    {"--fg", "RRGGBB", "foreground colour (black); layout mode draws the lines in it",
     [](const Use& u) { return u.Colour(u.cmd.foreground); }},
    {"--bg", "RRGGBB", "background colour (white); layout mode draws the lines on it",
     [](const Use& u) { return u.Colour(u.cmd.background); }},
    {"--resolution", "DPI", "the document's resolution, 1..30000 (default: the input's, else 72)",
     [](const Use& u) { return SetNumber(u, 1, 30000, u.cmd.resolution); }},
    {"--ruler", "N", "the ruler-units property, 0..100", [](const Use& u) { return SetNumber(u, 0, 100, u.cmd.ruler); }},
    {"--icc", "FILE", "an ICC profile for the document", [](const Use& u) { return u.cmd.icc = u.value, true; }},
    {"--host-sig", "XXXX", "the host signature sent",
     [](const Use& u) {
         if (u.value.size() != 4)
             return u.err = "--host-sig takes four characters", false;
         const std::string& t = u.value;
         return u.cmd.settings.hostSig = FILTER_FOURCC(t[0], t[1], t[2], t[3]), true;
     }},
    {"--image-mode", "N", "send this mode number instead of the document's",
     [](const Use& u) { return SetNumber(u, 0, 32767, u.cmd.settings.imageMode.emplace()); }},
    {"--depth", "N", "send this depth instead of 8", [](const Use& u) { return SetNumber(u, 1, 32, u.cmd.settings.depth); }},
    {"--filter-case", "N",
     "send this filter case instead of the document's, -100..100; 3 to 7 (transparency) on a transparent layer only",
     [](const Use& u) { return SetNumber(u, -100, 100, u.cmd.settings.filterCase.emplace()); }},
    {"--max-space", "BYTES", "space per request (8388608)",
     [](const Use& u) { return SetNumber(u, 0, 0x7FFFFFFF, u.cmd.settings.maxSpace); }},
    {"--row-pad", "N", "pad every row handed out by N bytes",
     [](const Use& u) { return SetNumber(u, 0, 4096, u.cmd.settings.rowPad); }},
    {"--loose-space", nullptr, "do not refuse requests above the space offered",
     [](const Use& u) { return u.cmd.settings.strictSpace = false, true; }},
    {"--max-text", "N", "refuse descriptor texts longer than N bytes",
     [](const Use& u) { return SetNumber(u, 0, 0x7FFFFFFF, u.cmd.settings.maxText); }},
    {"--abort-after", "N", "the abort test answers yes from its N-th call",
     [](const Use& u) { return SetNumber(u, 1, 0x7FFFFFFF, u.cmd.settings.abortAfter); }},
    {"--pick", "RRGGBB|cancel", "the colour picker's answer, cancel by default",
     [](const Use& u) {
         if (u.value == "cancel")
             return u.cmd.settings.pickCancels = true, true;
         if (!ParseColor(u.value, u.cmd.settings.pick))
             return u.err = "--pick takes RRGGBB or cancel", false;
         return u.cmd.settings.pickCancels = false, true;
     },
     kDialog},
    {"--no-advance-state", nullptr, "offer no advanceState procedure",
     [](const Use& u) { return u.cmd.settings.offerAdvanceState = false, true; }},
    {"--no-abort", nullptr, "offer no abort procedure", [](const Use& u) { return u.cmd.settings.offerAbort = false, true; }},
    {"--no-progress", nullptr, "offer no progress procedure",
     [](const Use& u) { return u.cmd.settings.offerProgress = false, true; }},
    {"--no-color-services", nullptr, "offer no colour services (the plug-in then opens the desktop's colour chooser)",
     [](const Use& u) { return u.cmd.settings.offerColorServices = false, true; }},
    {"--no-properties", nullptr, "offer no properties",
     [](const Use& u) { return u.cmd.settings.offerProperties = false, true; }},
    {"--no-handles", nullptr, "offer no handle procedures",
     [](const Use& u) { return u.cmd.settings.offerHandles = false, true; }},
    {"--no-descriptor", nullptr, "offer no scripting descriptors",
     [](const Use& u) { return u.cmd.settings.offerDescriptors = false, true; }},
    {"--no-suites", nullptr, "offer no suites", [](const Use& u) { return u.cmd.settings.offerSuites = false, true; }},
    {"--no-document-info", nullptr, "offer no document information",
     [](const Use& u) { return u.cmd.settings.offerDocumentInfo = false, true; }},
    {"-v", nullptr, "print what the plug-in asked for", [](const Use& u) { return u.cmd.verbose = true, true; },
     kEveryRoad},
};

const Option* FindOption(const std::string& name)
{
    for (const Option& o : kOptions)
        if (name == o.name)
            return &o;
    return nullptr;
}

bool ChoosesRoad(const std::string& name)
{
    return name == "--replay" || name == "--dialog" || name == "--about";
}

// "--plugin, --repeat and -v": the options About has a use for beside
// itself.
std::string AboutOptions()
{
    std::vector<std::string> names;
    for (const Option& o : kOptions)
        if ((o.roads & kAbout) && !ChoosesRoad(o.name))
            names.push_back(o.name);
    std::string text;
    for (size_t k = 0; k < names.size(); ++k)
        text += (k == 0 ? "" : k + 1 == names.size() ? " and " : ", ") + names[k];
    return text;
}

Road RoadOf(StandInHost::Sequence s)
{
    return s == StandInHost::Sequence::About ? kAbout : s == StandInHost::Sequence::Dialog ? kDialog : kReplay;
}

// Why an option given is of no use to the run the rest of the line asks
// for; empty when it is. Taken in silence, it would leave the user
// believing it had done something.
std::string UnusedOptionReason(const Option& o, const HostCommandLine& cmd)
{
    const std::string name = o.name;
    const Road road = RoadOf(cmd.sequence);
    if (!(o.roads & road)) {
        if (road == kAbout)
            return name + " has no use with --about, which only shows the About window (it takes " + AboutOptions() +
                   ")";
        return name + " answers the plug-in's windows, which only --dialog opens: a replay opens none";
    }
    if (name == "--quality" && cmd.outputKind != OutputKind::JPEG && cmd.outputKind != OutputKind::None)
        return "--quality sets a JPEG output's quality, and OUTPUT (" + cmd.output + ") is " +
               (cmd.outputKind == OutputKind::PSD ? "a PSD document" : "a PNG image") + ": name it .jpg or .jpeg";
    // A host without descriptors or handles hands the plug-in no
    // descriptor: it could neither replay one nor record one.
    if (name == "--descriptor" && (!cmd.settings.offerDescriptors || !cmd.settings.offerHandles))
        return std::string("--descriptor cannot be ") + (road == kReplay ? "replayed" : "read or recorded") +
               " by a host that offers " +
               (cmd.settings.offerDescriptors ? "no handles (--no-handles)" : "no descriptors (--no-descriptor)");
    return {};
}

}  // namespace

std::string HostUsage()
{
    std::string text =
        "usage: tessolo-host [options] INPUT OUTPUT\n"
        "Runs a filter plug-in on an image as a host would and saves the result.\n"
        "INPUT is a PNG, JPEG or layered PSD image; a photo is turned upright by its EXIF orientation, and its\n"
        "resolution is kept. OUTPUT's name picks the format: .png or .jpg/.jpeg (the filtered layer), .psd (every\n"
        "layer, the filtered one in place). The output is never the input, nor a file without write permission.\n"
        "Without --descriptor and without a dialog the plug-in replays its last settings (\"last.data\").\n"
        "The options serve a run that filters (a replay, or --dialog) unless they say otherwise; --about takes\n" +
        AboutOptions() + " only. An option the run has no use for is refused.\n";
    for (const Option& o : kOptions) {
        std::string head = std::string("  ") + o.name + (o.value ? std::string(" ") + o.value : std::string());
        head.resize(std::max<size_t>(head.size() + 1, 26), ' ');
        text += head + o.help + (o.roads == kDialog ? " (--dialog only)" : "") + "\n";
    }
    text += "exit: 0 done, 1 cancelled, 2 bad command line, 3 host error (input, output, plug-in), 4 host protocol "
            "broken, 5 plug-in error\n";
    return text;
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
    std::vector<const Option*> given;
    const Option* road = nullptr;  // --replay, --dialog or --about
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--help" || a == "-h") {
            help = true;
            return true;
        }
        if (a.empty() || a[0] != '-' || a == "-") {
            positional.push_back(a);
            continue;
        }
        const Option* o = FindOption(a);
        if (!o) {
            err = "unknown option " + a;
            return false;
        }
        static const std::string kNone;
        // No option takes an empty value: "--descriptor ''" would otherwise
        // name no descriptor, and the last settings would replay instead.
        if (o->value && (i + 1 >= args.size() || args[i + 1].empty())) {
            // An empty name of a file or folder is worded as every program words it.
            const std::string word = std::string(o->value).substr(0, std::string(o->value).find('['));
            const bool names = i + 1 < args.size() && (word == "FILE" || word == "PATH" || word == "MASK");
            err = names ? word + " is an empty name" : a + " needs a value";
            return false;
        }
        const std::string& value = o->value ? args[++i] : kNone;
        if (!o->apply(Use{out, a, value, err}))
            return false;
        if (ChoosesRoad(a)) {
            // The last would win, and the other be taken in silence.
            if (road && road != o) {
                err = std::string(road->name) + " and " + a + " cannot be given together";
                return false;
            }
            road = o;
        }
        given.push_back(o);
    }
    if (out.sequence == StandInHost::Sequence::About ? positional.size() > 2 : positional.size() != 2) {
        err = "expected INPUT and OUTPUT";
        return false;
    }
    // An empty name is no file: the host would otherwise open a blank
    // document of its own (as About does) and filter that.
    for (size_t k = 0; k < positional.size(); ++k) {
        if (positional[k].empty()) {
            err = std::string(k == 0 ? "INPUT" : "OUTPUT") + " is an empty name";
            return false;
        }
    }
    if (positional.size() > 0)
        out.input = positional[0];
    if (positional.size() > 1) {
        out.output = positional[1];
        out.outputKind = OutputKindOf(out.output);
        // "-" is refused with the output's faults, as every program that
        // writes files only refuses it.
        if (out.outputKind == OutputKind::None && out.output != "-") {
            err = out.output + ": the output name must end in .png, .jpg, .jpeg or .psd";
            return false;
        }
    }
    for (const Option* o : given)
        if (std::string reason = UnusedOptionReason(*o, out); !reason.empty()) {
            err = std::move(reason);
            return false;
        }
    if (out.plugin.empty())
        out.plugin = DefaultPluginPath();
    return true;
}

}  // namespace hostapp
