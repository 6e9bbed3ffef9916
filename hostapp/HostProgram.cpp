#include "hostapp/HostProgram.h"

#include "core/ProgramOutput.h"
#include "core/SafeFile.h"
#include "core/SafeFileRunInputs.h"
#include "core/StdFile.h"
#include "core/TerminalProgress.h"
#include "hostapp/InputDocument.h"
#include "hostapp/PluginLoader.h"
#include "imaging/ImageFile.h"

#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <sys/stat.h>
#include <filesystem>
#include <optional>
#include <utility>

namespace hostapp {

namespace {

// Inputs read whole, refused beyond what their formats can hold: an ICC
// profile in use is a few MB at most; a descriptor holds a settings block
// (some 40 MB at its largest) compressed and written as hexadecimal text.
constexpr uint64_t kMaxIccBytes = uint64_t(64) << 20;
constexpr uint64_t kMaxDescriptorBytes = uint64_t(256) << 20;

int Fail(int code, const std::string& message)
{
    std::fprintf(stderr, "tessolo-host: %s\n", qnShownLine(message).c_str());
    return code;
}

// Whether the picture at path has doc's width and height, judged from its
// header: a picture of the same pixel count turned on its side is not the
// document's size either. what names the picture in the refusal.
bool HeaderHasDocumentSize(const std::string& what, const std::string& path, const HostDocument& doc,
                           CQNF_ImageFile& head, std::string& err)
{
    if (!head.LoadHeader(path, CQNF_ImageFile::AllKinds, kMaxImageSide)) {
        err = head.Reason();
        return false;
    }
    if (head.GetWidth() != doc.width || head.GetHeight() != doc.height) {
        err = what + " (" + path + ") is " + std::to_string(head.GetWidth()) + " x " +
              std::to_string(head.GetHeight()) + " pixels, not the document's " + std::to_string(doc.width) + " x " +
              std::to_string(doc.height);
        return false;
    }
    return true;
}

// The mode --mode names, or the document's own.
ColorMode ModeAfter(const HostCommandLine& cmd, ColorMode own)
{
    if (cmd.mode.empty())
        return own;
    return cmd.mode == "gray" ? ColorMode::Gray : cmd.mode == "cmyk" ? ColorMode::CMYK : ColorMode::RGB;
}

// Whether the pictures the command line adds to a document of doc's size
// and mode (layers, selection, channels) fit it, judged from their headers
// before any is decoded: each must have the document's width and height.
// more receives the bytes they add.
bool AddedFit(const HostCommandLine& cmd, const HostDocument& doc, uint64_t& more, std::string& err)
{
    const uint64_t pixels = doc.PixelCount();
    more = 0;
    for (const LayerArg& l : cmd.layers) {
        CQNF_ImageFile head;
        if (!HeaderHasDocumentSize("layer \"" + l.name + "\"", l.path, doc, head, err))
            return false;
        more += pixels * (uint64_t(ColorPlanes(doc.mode)) + (head.HasAlpha() ? 1 : 0));
    }
    if (!cmd.selection.empty()) {
        CQNF_ImageFile head;
        if (!HeaderHasDocumentSize("the selection", cmd.selection, doc, head, err))
            return false;
    }
    for (const LayerArg& c : cmd.channels) {
        CQNF_ImageFile head;
        if (!HeaderHasDocumentSize("channel \"" + c.name + "\"", c.path, doc, head, err))
            return false;
    }
    // An input opens without a selection: a new one and each channel take
    // one plane.
    more += pixels * ((cmd.selection.empty() ? 0 : 1) + cmd.channels.size());
    return true;
}

// The whole document judged from the headers, INPUT's too, before any
// picture is decoded: within kMaxDocumentBytes with every picture the
// command line adds. INPUT counts as the one layer it opens as (a PSD's
// own layers are weighed again once their records are read). more
// receives the bytes the added pictures take.
bool HeadersFit(const HostCommandLine& cmd, uint64_t& more, std::string& err)
{
    CQNF_ImageFile head;
    if (!head.LoadHeader(cmd.input, CQNF_ImageFile::AllKinds, kMaxImageSide)) {
        err = head.Reason();
        return false;
    }
    HostDocument shape;
    shape.width = head.GetWidth();
    shape.height = head.GetHeight();
    shape.mode = ModeAfter(cmd, ColorModeOf(head));
    if (!AddedFit(cmd, shape, more, err))
        return false;
    const uint64_t own = shape.PixelCount() * (uint64_t(ColorPlanes(shape.mode)) + (head.HasAlpha() ? 1 : 0));
    return shape.Fits(own + more, err);
}

// Builds the document the command line names. note is left with how the
// input was opened when that is not all of it, for the caller to say once
// the output is known to take the document.
bool BuildDocument(const HostCommandLine& cmd, HostDocument& doc, std::string& note, std::string& err)
{
    InputFacts facts;
    uint64_t more = 0;
    if (cmd.input.empty()) {
        // About needs no image; the host still has a document open.
        RasterImage blank;
        blank.Allocate(ColorMode::RGB, 64, 64, false, 255);
        doc = HostDocument::FromImage(std::move(blank), "Layer 1");
        if (!AddedFit(cmd, doc, more, err))
            return false;
    } else if (!HeadersFit(cmd, more, err) || !LoadInputDocument(cmd.input, doc, facts, err)) {
        return false;
    }
    note = facts.note;
    if (!cmd.mode.empty() && !doc.ConvertTo(ModeAfter(cmd, doc.mode), err))
        return false;
    // The document as read (a PSD's layers counted) with what is added.
    if (!doc.Fits(more, err))
        return false;
    for (const LayerArg& l : cmd.layers) {
        RasterImage layer;
        if (!ReadImageFile(l.path, layer, err) || !doc.AddLayer(std::move(layer), l.name, err))
            return false;
    }
    // A --target beyond the layers is a wrong command line, said by
    // OptionsRefusal once the document is whole.
    if (cmd.target >= 0 && static_cast<size_t>(cmd.target) < doc.layers.size())
        doc.target = static_cast<size_t>(cmd.target);
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
    // The command line's resolution (both ways), else the file's, else the
    // screen's 72.
    doc.resolution = cmd.resolution > 0 ? cmd.resolution : facts.resolution > 0 ? facts.resolution : 72.0;
    doc.resolutionY = cmd.resolution > 0 ? cmd.resolution : facts.resolutionY > 0 ? facts.resolutionY : doc.resolution;
    doc.ruler = cmd.ruler;
    // An ICC profile states its size in 32 bits; real ones are far smaller.
    if (!cmd.icc.empty() && !qnReadWholeFile(cmd.icc, doc.icc, err, kMaxIccBytes))
        return false;
    return true;
}

// The options whose range the document sets, judged against it: empty
// when they fit, else the one line for a wrong command line. --target
// counts the layers from 0. A filter case of the filter interface that
// tells of transparency (3 to 7) on a layer without any would have the
// plug-in ask for a plane the host does not have; a number outside the
// interface's cases stays, to see the plug-in refuse it.
std::string OptionsRefusal(const HostCommandLine& cmd, const HostDocument& doc)
{
    const size_t n = doc.layers.size();
    if (cmd.target >= 0 && static_cast<size_t>(cmd.target) >= n)
        return "--target " + std::to_string(cmd.target) + ": the document has " +
               (n == 0   ? std::string("no layers")
                : n == 1 ? std::string("layer 0 only: --target takes 0")
                         : "layers 0 to " + std::to_string(n - 1) + ": --target takes 0 to " + std::to_string(n - 1));
    const std::optional<int>& chosen = cmd.settings.filterCase;
    if (chosen && *chosen >= filterCaseFloatingSelection && *chosen <= filterCaseProtectedTransparencyWithSelection &&
        !doc.Target().pixels.hasAlpha)
        return "--filter-case " + std::to_string(*chosen) +
               " tells of transparency, and the filtered layer has none: it takes 0 to 2 here (3 to 7 on a "
               "transparent layer; -100 to 100 outside them, which the plug-in refuses)";
    return {};
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

// A plug-in's result as the filter interface names it, for the verbose
// log: "-30101: bad mode". Messages say what the result means instead.
std::string ResultText(int16_t result)
{
    const char* name = "a result the filter interface does not define";
    switch (result) {
    case filterNoErr:
        name = "no error";
        break;
    case userCanceledErr:
        name = "cancelled";
        break;
    case memFullErr:
        name = "memory full";
        break;
    case filterBadParameters:
        name = "bad parameters";
        break;
    case filterBadMode:
        name = "bad mode";
        break;
    default:
        break;
    }
    return std::to_string(result) + ": " + name;
}

// What the host sent that a plug-in refusing the image (filterBadMode)
// judged, and the options that chose it: "image mode 9 (Lab, from
// --image-mode), 8 bits per channel, filter case 1 (flat image, no
// selection)".
std::string SentImage(const FilterRecord& r, const HostSettings& s)
{
    static const char* const kModes[] = {"bitmap", "grey",    "indexed colour", "RGB",    "CMYK",
                                         nullptr,  nullptr,   "multichannel",   "duotone", "Lab"};
    static const char* const kCases[] = {"not said",
                                         "flat image, no selection",
                                         "flat image with a selection",
                                         "floating selection",
                                         "editable transparency, no selection",
                                         "editable transparency with a selection",
                                         "protected transparency, no selection",
                                         "protected transparency with a selection"};
    auto named = [](const char* name, bool chosen, const char* option) {
        std::string text = name ? name : "a mode the filter interface does not define";
        return " (" + (chosen ? text + ", from " + option : text) + ")";
    };
    const int mode = r.imageMode;
    const char* modeName = mode >= 0 && mode < 10 ? kModes[mode] : nullptr;
    std::string text = "image mode " + std::to_string(mode) + named(modeName, s.imageMode.has_value(), "--image-mode");
    text += ", " + std::to_string(r.depth) + " bits per channel" + (s.depth != 8 ? " (from --depth)" : "");
    const int fc = r.filterCase;
    text += ", filter case " + std::to_string(fc) +
            named(fc >= 0 && fc < 8 ? kCases[fc] : "no case the filter interface defines", s.filterCase.has_value(),
                  "--filter-case");
    return text;
}

// Whether the X display DISPLAY names can be opened, asked of the X
// library the plug-in's windows use; loaded only here (and kept: the
// plug-in's windows load it again), so that the host links no windowing
// library. Without it the plug-in answers.
bool DisplayOpens()
{
    void* x11 = dlopen("libX11.so.6", RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (!x11)
        return true;
    using OpenFn = void* (*)(const char*);
    using CloseFn = int (*)(void*);
    const auto open = reinterpret_cast<OpenFn>(dlsym(x11, "XOpenDisplay"));
    const auto close = reinterpret_cast<CloseFn>(dlsym(x11, "XCloseDisplay"));
    bool opens = true;
    if (open && close) {
        void* display = open(nullptr);
        opens = display != nullptr;
        if (display)
            close(display);
    }
    return opens;
}

// The files the plug-in reads or loads from its own folder (the folder its
// library lies in, links followed): its window backend, its skin, its
// preferences, its last settings, its knife presets and its help document.
// The plug-in names the same ones for what it writes for itself.
// Each is named as what it is when an output would write over it.
const struct {
    const char* name;
    QnRunInput what;
} kPluginFolderFiles[] = {{"tessolo_gtk.so", QnRunInput::WindowBackend},
                          {"resource_ts31_d.qns4", QnRunInput::PluginSkin},
                          {"plugin.conf", QnRunInput::PluginSettings},
                          {"last.data", QnRunInput::PluginSettings},
                          {"ckss.data", QnRunInput::PluginSettings},
                          {"Quorvin Tessolo 3.1 Help.pdf", QnRunInput::PluginHelp}};
// Those of them the plug-in writes for itself.
const char* const kPluginOwnFiles[] = {"plugin.conf", "last.data", "ckss.data"};

// "cannot read PATH: a FIFO, not a regular file" when the plug-in's last
// settings are there but are no regular file (a folder, a FIFO, a device),
// which the plug-in cannot tell from settings that are missing; else empty.
std::string LastSettingsNotAFile(const std::string& plugin)
{
    std::error_code ec;
    const std::filesystem::path library = std::filesystem::canonical(plugin, ec);
    if (ec)
        return {};
    const std::string path = (library.parent_path() / "last.data").string();
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || S_ISREG(st.st_mode))
        return {};
    const char* what = S_ISDIR(st.st_mode)                          ? "a folder"
                       : S_ISFIFO(st.st_mode)                       ? "a FIFO"
                       : S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode) ? "a device"
                       : S_ISSOCK(st.st_mode)                       ? "a socket"
                                                                    : "no regular file";
    return "cannot read " + qnShownName(path) + ": " + what + ", not a regular file";
}

// Which file the plug-in's last settings are now: the plug-in replaces them
// with a new file whenever it keeps them, so a stamp that did not change
// over a run means they were not kept (a read-only folder, a full disk).
struct LastSettingsStamp {
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    timespec changed{};
    bool operator==(const LastSettingsStamp& o) const
    {
        return exists == o.exists && device == o.device && inode == o.inode && changed.tv_sec == o.changed.tv_sec &&
               changed.tv_nsec == o.changed.tv_nsec;
    }
};

LastSettingsStamp StampLastSettings(const std::string& plugin)
{
    LastSettingsStamp stamp;
    std::error_code ec;
    const std::filesystem::path library = std::filesystem::canonical(plugin, ec);
    struct stat st {};
    if (!ec && ::stat((library.parent_path() / "last.data").c_str(), &st) == 0 && S_ISREG(st.st_mode))
        stamp = LastSettingsStamp{true, st.st_dev, st.st_ino, st.st_ctim};
    return stamp;
}

}  // namespace

namespace {

// RunInputs, each with what it is.
std::vector<std::pair<std::string, QnRunInput>> RunInputsAndWhat(const HostCommandLine& cmd)
{
    std::vector<std::pair<std::string, QnRunInput>> in;
    for (const std::string& user : {cmd.input, cmd.selection, cmd.descriptorFile, cmd.icc})
        in.emplace_back(user, QnRunInput::Input);
    in.emplace_back(cmd.plugin, QnRunInput::PluginLibrary);
    for (const LayerArg& l : cmd.layers)
        in.emplace_back(l.path, QnRunInput::Input);
    for (const LayerArg& c : cmd.channels)
        in.emplace_back(c.path, QnRunInput::Input);
    std::error_code ec;
    const std::filesystem::path library = std::filesystem::canonical(cmd.plugin, ec);
    if (!ec)
        for (const auto& file : kPluginFolderFiles)
            in.emplace_back((library.parent_path() / file.name).string(), file.what);
    return in;
}

}  // namespace

std::vector<std::string> RunInputs(const HostCommandLine& cmd)
{
    std::vector<std::string> in;
    for (auto& input : RunInputsAndWhat(cmd))
        in.push_back(std::move(input.first));
    return in;
}

void AddRunInputs(const HostCommandLine& cmd)
{
    for (const auto& [path, what] : RunInputsAndWhat(cmd))
        qnAddRunInputs({path}, what);
}

int RunHostProgram(const HostCommandLine& cmd)
{
    // What the plug-in writes for itself (its settings, preferences and
    // presets) must not land on any of them either.
    AddRunInputs(cmd);
    // The dialog writes the descriptor too, after a run that changed it:
    // never over another file the run reads, which is a fault of the command
    // line, told before the display is looked at. A replay only reads it,
    // and leaves it as it is.
    const bool writesDescriptor = cmd.sequence == StandInHost::Sequence::Dialog && !cmd.descriptorFile.empty();
    // A file of the plug-in's own that is a link leading to the descriptor
    // is not among the others: it is the plug-in's to leave unwritten (the
    // run goes on, and it says its settings were not kept), not a fault of
    // the descriptor. A descriptor that leads to one of them is.
    if (writesDescriptor) {
        std::vector<std::string> others = RunInputs(cmd);
        others.erase(others.begin() + 2);  // the descriptor itself
        std::error_code ec;
        const std::filesystem::path library = std::filesystem::canonical(cmd.plugin, ec);
        if (!ec)
            for (const char* name : kPluginOwnFiles)
                if (const std::filesystem::path own = library.parent_path() / name;
                    std::filesystem::is_symlink(own, ec))
                    std::erase(others, own.string());
        if (const std::string refusal = qnInputRefusal(cmd.descriptorFile, others); !refusal.empty())
            return Fail(kExitHostError, "--descriptor " + cmd.descriptorFile + ": " + refusal);
        // Apply writes it: a descriptor that could not be written (read-only,
        // also through a link; a missing or read-only folder or file system;
        // a device) is refused before the window opens, as OUTPUT is, not
        // after the picture was applied. It is the host's own file there,
        // read and rewritten.
        if (const QnRefusal refusal = qnWriteRefusal(cmd.descriptorFile, QnWrite::OwnFile, false); !refusal.empty())
            return Fail(kExitHostError, "--descriptor " + cmd.descriptorFile + ": " + refusal.Line());
    }
    // The dialog and About show the plug-in's windows on the X display: one
    // that cannot be opened is the host's to say, before the plug-in runs.
    if (cmd.sequence != StandInHost::Sequence::Replay) {
        const std::string road = cmd.sequence == StandInHost::Sequence::About ? "--about" : "--dialog";
        const char* display = std::getenv("DISPLAY");
        if (!display || !*display)
            return Fail(kExitHostError, road + " needs a display, and DISPLAY is not set");
        if (!DisplayOpens())
            return Fail(kExitHostError,
                        road + " needs a display, and the X display \"" + display + "\" cannot be opened");
    }
    const bool writes = cmd.sequence != StandInHost::Sequence::About && !cmd.output.empty();
    // Refused before any work: a long run must not end in "cannot write".
    if (writes) {
        const std::string refusal = OutputRefusal(cmd.output, RunInputs(cmd));
        if (!refusal.empty())
            return Fail(kExitHostError, refusal);
    }
    // The plug-in's windows may write files of their own (exported pieces,
    // a saved layout) meanwhile: none may land where the output will
    // replace it. Forgotten just before it is written, and on every way
    // out (a process may run the host more than once).
    struct OutputNamed {
        std::string path;
        explicit OutputNamed(std::string p) : path(std::move(p)) { qnAddRunOutput(path); }
        ~OutputNamed() { qnDropRunOutput(path); }
        OutputNamed(const OutputNamed&) = delete;
        OutputNamed& operator=(const OutputNamed&) = delete;
    } outputNamed(writes ? cmd.output : std::string());
    HostDocument doc;
    std::string note, err;
    if (!BuildDocument(cmd, doc, note, err))
        return Fail(kExitHostError, err);
    if (const std::string refusal = OptionsRefusal(cmd, doc); !refusal.empty())
        return Fail(kExitBadArguments, refusal);
    if (writes) {
        const std::string refusal = DocumentRefusal(cmd.output, cmd.outputKind, doc);
        if (!refusal.empty())
            return Fail(kExitHostError, refusal);
    }

    std::vector<uint8_t> descriptor;
    // A replay reads the descriptor named, and only that: the plug-in turns
    // to its last settings when it finds none, which is not what was asked
    // for. The dialog may record a new one.
    const bool replaysDescriptor = !cmd.descriptorFile.empty() && cmd.sequence == StandInHost::Sequence::Replay;
    if (replaysDescriptor && !std::filesystem::exists(cmd.descriptorFile))
        return Fail(kExitBadArguments, "cannot read " + cmd.descriptorFile +
                                           ": no such file (make one with tessolo-mkdesc, or record one with --dialog)");
    if (!cmd.descriptorFile.empty() && std::filesystem::exists(cmd.descriptorFile)) {
        HostDescriptor parsed;
        if (!qnReadWholeFile(cmd.descriptorFile, descriptor, err, kMaxDescriptorBytes))
            return Fail(kExitHostError, err);
        // A file that is there but does not read is damaged, whatever the
        // damage (cut short, overwritten, another kind of file): the same
        // answer as a descriptor whose settings do not read.
        if (!descriptor.empty() && !HostDescriptor::Parse(descriptor.data(), descriptor.size(), parsed, err))
            return Fail(kExitPluginError,
                        err == HostDescriptor::kLayoutNotDescriptor
                            ? cmd.descriptorFile + " is " + err + ": make one from it with tessolo-tool layout block " +
                                  cmd.descriptorFile + " BLOCK, then tessolo-mkdesc --block BLOCK OUT.qnds; the image "
                                  "is unchanged"
                            : cmd.descriptorFile + " is damaged: " + err + "; the image is unchanged");
        if (replaysDescriptor && parsed.items.empty())
            return Fail(kExitPluginError,
                        cmd.descriptorFile + " holds no settings (damaged, or left empty by a dialog whose settings "
                                             "were too large for a descriptor: without --descriptor the last settings "
                                             "replay); the image is unchanged");
    }

    PluginLoader loader;
    if (!loader.Load(cmd.plugin, err))
        return Fail(kExitHostError, err);
    // How the input was opened is said once the run goes on: a refusal
    // before it stands alone, not after a note it contradicts.
    if (!note.empty())
        std::fprintf(stderr, "tessolo-host: %s\n", qnShownLine(note).c_str());

    CQNF_TerminalProgress progress("tessolo-host");
    StandInHost host(std::move(doc), cmd.settings);
    host.SetDescriptor(descriptor);
    host.SetProgressListener(&progress);
    int16_t result = 0;
    const LastSettingsStamp lastBefore = writesDescriptor ? StampLastSettings(cmd.plugin) : LastSettingsStamp{};
    for (int run = 0; run < cmd.repeat && result == 0; ++run) {
        result = host.Run(loader.Entry(), cmd.sequence);
        if (cmd.verbose) {
            std::printf("run %d (%s): result %s, %ld advanceState call(s), %zu request(s), %zu progress report(s), "
                        "%ld abort test(s), %ld layer read(s), recordInfo %d\n",
                        run + 1, SelectorName(cmd.sequence), ResultText(result).c_str(), host.AdvanceCalls(),
                        host.Requests().size(),
                        host.ProgressDone().size(), host.AbortCalls(), host.SuiteReads(), host.RecordInfo());
        }
    }
    // The plug-in's static objects go away here; it may still call the host.
    loader.Unload();
    progress.Finish();

    if (!host.Violations().empty()) {
        for (const std::string& v : host.Violations())
            if (cmd.verbose)
                std::printf("violation: %s\n", qnShownLine(v).c_str());
        return Fail(kExitViolation, "the plug-in broke the host protocol: " + host.Violations().front() + " (" +
                                        std::to_string(host.Violations().size()) + " in all)");
    }
    if (result == userCanceledErr) {
        // A replay has no window where the user could cancel: unless the
        // host did, the plug-in gave up on its own. One that asked for no
        // pixels found no settings; say how to give it some.
        if (cmd.sequence == StandInHost::Sequence::Replay && !host.AbortAnswered()) {
            if (descriptor.empty() && host.Requests().empty()) {
                if (const std::string notAFile = LastSettingsNotAFile(cmd.plugin); !notAFile.empty())
                    return Fail(kExitCancelled, "cancelled: the plug-in found no settings to replay: " + notAFile +
                                                    "; remove it, or pass a descriptor with --descriptor (made with "
                                                    "tessolo-mkdesc), or open the dialog with --dialog; the image "
                                                    "is unchanged");
                return Fail(kExitCancelled,
                            "cancelled: the plug-in found no settings to replay and has no window to ask for them; "
                            "make a descriptor with tessolo-mkdesc (e.g. tessolo-mkdesc --grid 8x6 job.qnds) and "
                            "pass it with --descriptor job.qnds, or open the dialog with --dialog; the image is "
                            "unchanged");
            }
            return Fail(kExitCancelled, "the plug-in stopped its replay on its own, though the host cancelled "
                                        "nothing: its message above says why; the image is unchanged");
        }
        return Fail(kExitCancelled, "the plug-in was cancelled; the image is unchanged");
    }
    if (result == filterBadParameters) {
        // The host's own limits first: without them the plug-in cannot ask
        // for a single row of pixels, whatever its settings.
        const FilterRect16& area = host.Record().filterRect;
        const int32_t row = int32_t{area.right} - area.left;
        if (cmd.settings.maxSpace < row)
            return Fail(kExitHostError, "the host's buffer (--max-space " + std::to_string(cmd.settings.maxSpace) +
                                            " bytes) is smaller than one row of the picture (" + std::to_string(row) +
                                            " bytes), so the plug-in could not ask for its pixels; the image is "
                                            "unchanged");
        if (!cmd.settings.offerAdvanceState)
            return Fail(kExitHostError, "the host offers no advanceState procedure (--no-advance-state), so the "
                                        "plug-in could not ask for its pixels; the image is unchanged");
        if (!descriptor.empty())
            return Fail(kExitPluginError, cmd.descriptorFile +
                                              ": the plug-in could not read the settings in this descriptor "
                                              "(damaged); the image is unchanged");
        return Fail(kExitPluginError, "the last settings the plug-in keeps (\"last.data\" in its folder) are "
                                      "damaged: they do not read as settings; the image is unchanged");
    }
    // The plug-in said why on its own (its window backend could not be
    // loaded): what the host gave it to run with is at fault.
    if (result > 0)
        return kExitHostError;
    if (result == filterBadMode)
        return Fail(kExitPluginError, "the plug-in does not take the image it was sent: " +
                                          SentImage(host.Record(), cmd.settings) + "; the image is unchanged");
    if (result == memFullErr)
        return Fail(kExitPluginError, "the plug-in ran out of memory; the image is unchanged");
    if (result != 0)
        return Fail(kExitPluginError, "the plug-in failed without saying why; the image is unchanged");

    // Its own writer now writes it.
    qnDropRunOutput(outputNamed.path);
    if (writes && !WriteOutput(cmd.output, cmd.outputKind, host.Document(), cmd.quality, err))
        return Fail(kExitHostError, err);
    if (writesDescriptor && host.HasDescriptor()) {
        const std::vector<uint8_t>& bytes = host.DescriptorBytes();
        // The descriptor the run read its settings from is rewritten as the
        // host's own file; it still may lead to no other input.
        if (bytes != descriptor)
            if (const unsigned short error =
                    qnReplaceFile(cmd.descriptorFile, bytes.data(), bytes.size(), QnWrite::OwnFile))
                return Fail(kExitHostError, qnFileFailure(cmd.descriptorFile, true, error));
        // The plug-in's box says why in the window; here the file is named
        // (empty before or not), so the user learns it at Apply rather than
        // at the replay.
        HostDescriptor left;
        std::string why;
        if (HostDescriptor::Parse(bytes.data(), bytes.size(), left, why) && left.items.empty()) {
            const LastSettingsStamp lastAfter = StampLastSettings(cmd.plugin);
            const bool kept = lastAfter.exists && !(lastAfter == lastBefore);
            std::fprintf(stderr, "tessolo-host: %s\n",
                         qnShownLine(cmd.descriptorFile + " holds no settings: they were too large for a descriptor" +
                                     (cmd.settings.maxText >= 0
                                          ? " (--max-text " + std::to_string(cmd.settings.maxText) + ")"
                                          : std::string()) +
                                     "; a replay of it is refused, and " +
                                     (kept ? "the last settings (\"last.data\" in the plug-in's folder) replay this "
                                             "picture: run tessolo-host without --descriptor"
                                           : "the plug-in could not keep them as its last settings either: this "
                                             "picture's settings are kept nowhere"))
                             .c_str());
        }
    }
    if (writes) {
        // Said as every writer says it, on standard output, in a pipe or a
        // log too: the bar (a terminal's only) is cleared first.
        progress.Finish();
        const HostDocument& d = host.Document();
        const int across = static_cast<int>(d.resolution + 0.5), down = static_cast<int>(d.VerticalResolution() + 0.5);
        std::printf("wrote %s, %d x %d pixels at %d%s dpi\n", qnShownName(cmd.output).c_str(), int(d.width),
                    int(d.height), across, down != across ? (" x " + std::to_string(down)).c_str() : "");
    }
    return kExitOk;
}

}  // namespace hostapp
