// "export pieces|knives": the main window's exports without a window.
//   pieces  a layout document (".qntd") cuts a picture; the pieces (with the
//           document's effect records, selection and visibility when it was
//           saved with pieces) go to one layered PSD file or a PNG series
//   knives  the document's knives as vector paths in an EPS or AI file
// Both run the export code the dialogs run, with the dialogs' settings as
// options.
#include "tools/Command.h"

#include "app/ExportPicture.h"
#include "app/KnivesExport.h"
#include "app/PiecesExport.h"
#include "app/Wnd_Main.h"
#include "core/ErrorWords.h"
#include "core/PictureLimits.h"
#include "core/ProgramOutput.h"
#include "core/SafeFile.h"
#include "core/StdFile.h"
#include "core/String.h"
#include "core/TerminalProgress.h"
#include "engine/CompositeRow.h"
#include "imaging/ImageFile.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

namespace {

const char kName[] = "export";

bool EndsWith(const std::string& s, const char* tail)
{
    const std::string t(tail);
    if (s.size() < t.size())
        return false;
    for (size_t i = 0; i < t.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(s[s.size() - t.size() + i])) != t[i])
            return false;
    return true;
}

// The ending of the last part of path (".jpg", or "." for a name that
// ends in a dot), or empty when it has none; a leading dot makes a hidden
// name, not an ending.
std::string Ending(const std::string& path)
{
    const size_t slash = path.rfind('/');
    const std::string name = path.substr(slash == std::string::npos ? 0 : slash + 1);
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0)
        return {};
    return name.substr(dot);
}

bool LoadLayout(const std::string& path, uint32_t w, uint32_t h, CWnd_Main& model, CWindowlessCutter& cutter,
                std::string& error)
{
    model.SetImageSize(w, h);
    model.SetCutter(&cutter);
    // Devices, FIFOs and files far beyond any layout go before reading.
    if (!qnCheckInputFile(path, CWnd_Main::kMaxDocumentBytes, error))
        return false;
    if (!model.settings_LoadDocument(path.c_str(), error)) {
        error = tool::LayoutFailure(path, error);
        return false;
    }
    return true;
}

// The part of the picture the host's filter would work on: without the
// clear border of a transparent one.
qntRECT_s WorkBox(const uint8_t* alpha, uint16_t w, uint16_t h)
{
    qntRECT_s box{0, 0, w, h};
    if (alpha)
        tessolo_composite::OpaqueBox(alpha, w, h, box.left, box.top, box.right, box.bottom);
    return box;
}

// Pixels per inch as the PSD and PNG files store them.
double Resolution(const tool::Args& args, size_t& i)
{
    return tool::RealNumber(tool::OptionValue(args, i), "--resolution", 1.0, 65535.0);
}

int Pieces(const tool::Args& args)
{
    CPiecesExport::REQUEST r;
    r.settings.exportWhat = CExportSettings::kAll;
    bool resolutionGiven = false;
    std::string to;
    std::vector<std::string> files;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--to") {
            to = tool::OptionValue(args, i);
            if (to != "psd" && to != "png")
                return tool::BadArguments(kName, "--to takes psd or png");
        } else if (a == "--what") {
            const std::string& v = tool::OptionValue(args, i);
            if (v == "merged")
                r.settings.exportWhat = CExportSettings::kMerged;
            else if (v == "selected")
                r.settings.exportWhat = CExportSettings::kSelected;
            else if (v == "all")
                r.settings.exportWhat = CExportSettings::kAll;
            else
                return tool::BadArguments(kName, "--what takes merged, selected or all");
        } else if (a == "--names") {
            const std::string& v = tool::OptionValue(args, i);
            if (v != "simple" && v != "extended")
                return tool::BadArguments(kName, "--names takes simple or extended");
            r.settings.namingMode = v == "simple" ? CExportSettings::kNamesSimple : CExportSettings::kNamesExtended;
        } else if (a == "--resolution") {
            r.resolution = Resolution(args, i);
            resolutionGiven = true;
        } else if (a == "--no-composite") {
            r.settings.includeComposite = 0;
        } else if (a == "--without-bevel") {
            r.settings.exportWOBevel = 1;
        } else if (a == "--hidden") {
            r.settings.includeHiddenPieces = 1;
        } else if (a == "--pieces-alone") {
            r.settings.preservePosition = 0;
        } else if (tool::IsOption(a)) {
            return tool::BadArguments(kName, "unknown option " + a);
        } else {
            files.push_back(a);
        }
    }
    if (files.size() != 3)
        return tool::BadArguments(kName, "pieces takes LAYOUT.qntd PICTURE OUT");
    // The name chooses the format: a ".psd" file, or else a PNG series into
    // OUT when it is a folder, or named after OUT, which then ends in .png or
    // has no ending: a name of another format ("photo.jpg") is a slip, not
    // the first part of the files' names.
    // Standard output has no name to go by: --to psd sends the PSD there.
    // A FIFO, socket or device takes neither a PSD nor a series.
    if (tool::IsSpecialFile(files[2]))
        return tool::RefuseOutput(kName, files[2], {files[0], files[1]}, {});
    const bool stream = tool::IsStreamOutput(files[2]);
    const bool psdName = EndsWith(files[2], ".psd") || (stream && to == "psd");
    if (stream && to == "png")
        return tool::Fail(kName, qnStandardOutputFolderRefusal(files[2]));
    if (stream && !psdName)
        return tool::BadArguments(kName, files[2] + ": a PNG series needs a folder or a file name; --to psd writes "
                                                    "one PSD there");
    const bool psd = to.empty() ? psdName : to == "psd";
    // A name too long for any folder is no folder: it is refused below in
    // the words of every writer, never by the library's exception.
    std::error_code ec;
    const bool intoFolder = !psd && std::filesystem::is_directory(files[2], ec);
    const bool nameFits = psd ? psdName : intoFolder || (!psdName && (Ending(files[2]).empty() || EndsWith(files[2], ".png")));
    if (!nameFits) {
        const std::vector<std::string> endings =
            psd ? std::vector<std::string>{".psd"}
                : to.empty() ? std::vector<std::string>{".psd", ".png"} : std::vector<std::string>{".png"};
        if (const QnRefusal why = qnOutputNameRefusal(files[2], endings); !why.empty())
            return tool::BadArguments(kName, why.Detail());
    }
    // An option the chosen format or --what has no use for would change
    // nothing: refused rather than taken in silence.
    const auto given = [&args](const char* option) { return std::find(args.begin(), args.end(), option) != args.end(); };
    if (r.settings.exportWhat == CExportSettings::kMerged)
        for (const char* option : {"--names", "--no-composite", "--without-bevel", "--hidden", "--pieces-alone"})
            if (given(option))
                return tool::BadArguments(kName, std::string(option) + " is not taken with --what merged, which writes "
                                                                      "the merged picture alone");
    if (given("--no-composite") && r.settings.exportWhat != CExportSettings::kSelected)
        return tool::BadArguments(kName, "--no-composite is taken with --what selected only: the layer it leaves out "
                                         "lies under the selected pieces");
    if (!psd && given("--hidden"))
        return tool::BadArguments(kName, "--hidden is taken by a PSD only: a PNG series leaves hidden pieces out");
    if (psd && given("--pieces-alone"))
        return tool::BadArguments(kName, "--pieces-alone is taken by a PNG series only: a PSD keeps every layer on its "
                                         "canvas");
    r.settings.exportTo = psd ? CExportSettings::kToPSD : CExportSettings::kToPNG;
    r.path = files[2];
    r.keep = {files[0], files[1]};
    if (psd) {
        if (const int refused = tool::RefuseOutput(kName, r.path, r.keep, {".psd"}, true))
            return refused;
    } else if (intoFolder) {
        r.path = (std::filesystem::path(r.path) / "piece").string();
    } else if (r.path.back() == '/') {
        return tool::Fail(kName, "cannot write " + r.path + ": no such folder");
    } else if (r.path.find('/') == std::string::npos && !EndsWith(r.path, ".png")) {
        // A bare name is taken for the folder the files go into, as the
        // usage says; were it read as the files' first name when no such
        // folder exists, a typing slip would spill the series into the
        // current folder.
        return tool::Fail(kName, "cannot write " + r.path + ": no such folder (name the files after it with ./" + r.path + " or " +
                                     r.path + ".png)");
    }
    if (!psd)
        if (const QnRefusal why = CPiecesExport::SeriesRefusal(r.path, r.settings, nullptr, false, r.keep); !why.empty())
            return tool::Fail(kName, why.Line());

    CQNF_ImageFile picture;
    if (!picture.Load(files[1], CQNF_ImageFile::AllKinds, uint32_t(kQnMaxPictureSide)))
        return tool::Fail(kName, picture.Reason());
    // The files keep the picture's resolution, as the window's export and
    // Apply keep the document's: taken as the reader takes it.
    if (!resolutionGiven)
        r.resolution = picture.GetResolutionX();
    // A CMYK picture is cut in RGB, each colour times the black, as the
    // host turns one into the RGB document the window exports; in place,
    // so that it costs no second copy.
    if (picture.GetMode() == qncodec::ModeCMYK) {
        const size_t n = size_t{picture.GetWidth()} * picture.GetHeight();
        const uint8_t* black = picture.GetPlane(3);
        for (signed char k = 0; k < 3; ++k) {
            uint8_t* colour = picture.GetPlane(k);
            for (size_t i = 0; i < n; ++i)
                colour[i] = qncodec::RGBFromCMYK(colour[i], black[i]);
        }
    }
    const bool grey = picture.GetMode() == qncodec::ModeGrey;
    const uint8_t* planes[3];
    for (int k = 0; k < 3; ++k)
        planes[k] = picture.GetPlane(static_cast<signed char>(grey ? 0 : k));

    // The picture's transparency cuts the pieces and limits the merged
    // picture, as the document's does in the window, Apply and the replay;
    // as there, a transparent border is left out of the cut, and the files
    // keep the whole canvas with every piece in its place.
    const uint8_t* alpha = picture.HasAlpha() ? picture.GetPlane(qncodec::PlaneAlpha) : nullptr;
    const qntRECT_s box = WorkBox(alpha, picture.GetWidth(), picture.GetHeight());
    const size_t at = size_t(box.top) * picture.GetWidth() + size_t(box.left);
    const uint8_t* boxPlanes[3] = {planes[0] + at, planes[1] + at, planes[2] + at};

    CWindowlessCutter cutter(false);
    CWnd_Main layout;
    std::string error;
    if (!LoadLayout(files[0], uint32_t(box.right - box.left), uint32_t(box.bottom - box.top), layout, cutter, error))
        return tool::Fail(kName, error);
    // A bar on a terminal, as the host shows: the cut and its rendering
    // take the first half, the writing the second.
    CQNF_TerminalProgress progress("tessolo-tool export pieces");
    CQNF_SubProgress cutting, writing;
    cutting.SetMasterProgress(&progress, 0, 50);
    writing.SetMasterProgress(&progress, 50, 100);
    CExportPicture pieces;
    if (!pieces.Cut(layout, boxPlanes, picture.GetWidth(), uint16_t(box.right - box.left),
                    uint16_t(box.bottom - box.top), layout.m_DocumentRecords.GetPtr(), layout.m_nDocumentRecords,
                    &cutting, error, alpha ? alpha + at : nullptr)) {
        progress.Finish();
        return tool::Fail(kName, files[1] + ": " + error);
    }
    r.width = pieces.Width();
    r.height = pieces.Height();
    r.canvasWidth = picture.GetWidth();
    r.canvasHeight = picture.GetHeight();
    r.left = uint16_t(box.left);
    r.top = uint16_t(box.top);
    // The merged picture starts from the picture's colours, as the window's
    // export and Apply start from the document's.
    for (int k = 0; k < 3; ++k)
        r.colours[k] = pieces.Plane(k);
    r.limit = pieces.Alpha();

    CPiecesExport exporter(pieces.Engine());
    exporter.SetProgress(&writing);
    CPiecesExport::RESULT result;
    const bool exported = exporter.Export(r, result);
    progress.Finish();
    if (!exported) {
        // A write that failed reads as every program's: "cannot write PATH:
        // why", naming the file the detail names, or else the target.
        const std::string& detail = exporter.Detail();
        if (exporter.Message() != CPiecesExport::kCannotWriteMessage)
            return tool::Fail(kName, exporter.Message() + " (" + detail + ")");
        // A series names its folder, or a file in it, itself.
        const size_t slash = r.path.rfind('/');
        const std::string folder =
            slash == std::string::npos ? "." : slash == 0 ? "/" : r.path.substr(0, slash);
        const bool named = detail.rfind(r.path + ": ", 0) == 0 || detail.rfind(folder + ": ", 0) == 0 ||
                           detail.rfind(folder + "/", 0) == 0;
        return tool::Fail(kName, "cannot write " + (named ? detail : r.path + ": " + detail));
    }
    const uint32_t cut = pieces.Engine().m_nPieces;
    const std::string from = " from " + std::to_string(cut) + (cut == 1 ? " piece" : " pieces");
    if (r.settings.exportTo == CExportSettings::kToPSD)
        std::fprintf(qnReportStream(r.path), "wrote %s: %u layer%s%s\n", qnShownName(r.path).c_str(), result.layers,
                     result.layers == 1 ? "" : "s", from.c_str());
    else if (result.files.size() == 1)
        std::printf("wrote %s%s\n", qnShownName(result.files.front()).c_str(), from.c_str());
    else
        std::printf("wrote %u PNG files (%s ... %s)%s\n", result.layers,
                    qnShownName(result.files.front()).c_str(), qnShownName(result.files.back()).c_str(), from.c_str());
    return 0;
}

int Knives(const tool::Args& args)
{
    tool::RefuseTogether(args, "--size", "--picture");
    CExportLMSettings s;
    s.exportWhat = CExportLMSettings::kAll;
    std::string to, picturePath;
    uint32_t w = 0, h = 0;
    double resolution = 72.0;
    std::vector<std::string> files;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--to") {
            to = tool::OptionValue(args, i);
            if (to != "eps" && to != "ai")
                return tool::BadArguments(kName, "--to takes eps or ai");
        } else if (a == "--what") {
            const std::string& v = tool::OptionValue(args, i);
            if (v != "selected" && v != "all")
                return tool::BadArguments(kName, "--what takes selected or all");
            s.exportWhat = v == "all" ? CExportLMSettings::kAll : CExportLMSettings::kSelected;
        } else if (a == "--size") {
            if (!qnParseDimensions(tool::OptionValue(args, i), 1, uint32_t(kQnMaxPictureSide), w, h))
                return tool::BadArguments(kName, "--size takes WIDTHxHEIGHT in pixels, 1 to " +
                                                     std::to_string(kQnMaxPictureSide) + " each");
        } else if (a == "--picture") {
            picturePath = tool::OptionValue(args, i);
        } else if (a == "--resolution") {
            resolution = Resolution(args, i);
        } else if (tool::IsOption(a)) {
            return tool::BadArguments(kName, "unknown option " + a);
        } else {
            files.push_back(a);
        }
    }
    if (files.size() != 2)
        return tool::BadArguments(kName, "knives takes LAYOUT.qntd OUT");
    if (!picturePath.empty()) {
        // The page is the picture's size upright, which its headers tell:
        // no pixel is read (a large picture would cost its whole size in
        // memory for two numbers), a PSD's layers and merged image no more
        // than a photo's data. The memory a decoding would take is no limit
        // here, since none is made; the side limit of every export stays.
        CQNF_ImageFile picture;
        if (!picture.LoadHeader(picturePath, CQNF_ImageFile::AllKinds, uint32_t(kQnMaxPictureSide), UINT64_MAX,
                                CQNF_ImageFile::PsdRead::Opening))
            return tool::Fail(kName, picture.Reason());
        w = picture.GetWidth();
        h = picture.GetHeight();
    }
    if (!w)
        return tool::BadArguments(kName, "knives needs --size WIDTHxHEIGHT or --picture FILE for the page");
    if (const int refused = tool::RefuseOutput(kName, files[1], {files[0], picturePath},
                                               to.empty() ? std::vector<std::string>{".eps", ".ai"}
                                                          : std::vector<std::string>{"." + to}))
        return refused;
    s.exportTo = EndsWith(files[1], ".ai") ? CExportLMSettings::kToAI : CExportLMSettings::kToEPS;

    CWindowlessCutter cutter(false);
    CWnd_Main layout;
    std::string error;
    if (!LoadLayout(files[0], w, h, layout, cutter, error))
        return tool::Fail(kName, error);
    uint32_t written = 0;
    std::string message;
    if (!CKnivesExport::ExportLM(layout, s, files[1], w, h, resolution, written, message, error))
        return tool::Fail(kName, error.rfind("cannot write ", 0) == 0 ? error : message + " (" + error + ")");
    std::printf("wrote %s: %u %s\n", qnShownName(files[1]).c_str(), written, written == 1 ? "knife" : "knives");
    return 0;
}

int Run(const tool::Args& args)
{
    if (args.empty())
        return tool::BadArguments(kName, "expected pieces or knives");
    const tool::Args rest(args.begin() + 1, args.end());
    if (args[0] == "pieces")
        return Pieces(rest);
    if (args[0] == "knives")
        return Knives(rest);
    return tool::BadArguments(kName, "unknown action " + args[0] + " (expected pieces or knives)");
}

tool::Registrar reg({kName,
                     "export pieces [--to psd|png] [--what merged|selected|all] [--names simple|extended] "
                     "[--no-composite] [--without-bevel] [--hidden] [--pieces-alone] [--resolution PPI] "
                     "LAYOUT.qntd PICTURE OUT\n"
                     "  | export knives [--to eps|ai] [--what selected|all] (--size WxH | --picture FILE) "
                     "[--resolution PPI] LAYOUT.qntd OUT\n"
                     "  pieces: --hidden goes with a PSD only, --pieces-alone with a PNG series only,\n"
                     "    --no-composite with --what selected only; --what merged takes none of --names,\n"
                     "    --no-composite, --without-bevel, --hidden and --pieces-alone",
                     "cut a picture by a layout document and export the pieces (PSD, PNG) or the knives (EPS, AI)",
                     Run});

}  // namespace
