// "shapes ls|show|convert": knife shapes on disk, without any window.
//   ls       the shapes a file holds: a knife shape (".qnth" or the legacy
//            53-byte form), a shape set (".qntk") or the presets store
//            ("ckss.data"; any file ending in ".data")
//   show     every node of every shape, or of the shape at --index N; with
//            --png OUT the shapes drawn as the presets manager draws its icons
//   convert  writes one shape (a legacy file's, or the one at --index N of a
//            set or store) as a ".qnth" knife shape file
#include "tools/Command.h"

#include "core/ErrorWords.h"
#include "core/ProgramOutput.h"
#include "core/SafeFile.h"
#include "core/Mem.h"
#include "core/StdFile.h"
#include "core/Storage.h"
#include "core/String.h"
#include "cutter/CutterModel.h"
#include "cutter/PresetsModel.h"
#include "imaging/Image.h"
#include "imaging/ImageFile.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

// A node value in a column of ten: fixed for the values shapes hold, with an
// exponent for one far outside them that a file may hold (1e300 would
// otherwise take 300 digits).
std::string NodeValue(double v)
{
    char text[32];
    std::snprintf(text, sizeof text, std::fabs(v) < 1e6 ? "%10.6f" : "%10.4g", v);
    return text;
}

const char kName[] = "shapes";
using PM = CWnd_PresetsManagerModel;
using SPLINE = CWnd_CutterModel::SPLINE_STRUCT;

struct Shape {
    std::string name;
    SPLINE spline;
};

struct Loaded {
    std::string kind;
    std::vector<Shape> shapes;
};

bool EndsWith(const std::string& s, const char* tail)
{
    const size_t n = std::strlen(tail);
    return s.size() >= n && s.compare(s.size() - n, n, tail) == 0;
}

// The command line's words for a shape file that does not read; the
// windows keep their own message boxes (ShapeIoMessage).
std::string IoText(ShapeIoError e)
{
    switch (e) {
    case ShapeIoError::EmptyFile:
        return "the file is empty";
    case ShapeIoError::NoMemory:
        return qnErrorText(qnerr::NoMemory);
    case ShapeIoError::ReadFailed:
        return qnErrorText(qnerr::FileRead);
    case ShapeIoError::BadFormat:
        return "not a knife shape, a shape set or a presets store, or the file is damaged";
    case ShapeIoError::WriteFailed:
    case ShapeIoError::UpdateFailed:
        return qnErrorText(qnerr::FileWrite);
    case ShapeIoError::None:
    case ShapeIoError::Refused:
        break;
    }
    return "a shape set of another version";
}

// Reads whatever shape file path names; false with message.
bool Load(const std::string& path, Loaded& out, std::string& message)
{
    if (EndsWith(path, ".data")) {
        CQNF_PresetsFileAtPath file(path);
        std::vector<PM::SHAPESETREC> recs;
        std::string damage;
        switch (PM::ShapeMng_Load(file, recs, &damage)) {
        case CQNF_PresetsFile::ReadResult::Absent:
            message = path + ": no such file";
            return false;
        case CQNF_PresetsFile::ReadResult::Failed:
            message = "cannot read " + path + ": " + IoText(ShapeIoError::ReadFailed);
            return false;
        case CQNF_PresetsFile::ReadResult::Damaged:
            message = path + ": a damaged presets store: " + damage;
            return false;
        case CQNF_PresetsFile::ReadResult::Ok:
            break;
        }
        // A store cut to nothing holds no shape to list, show or convert.
        if (recs.empty()) {
            message = path + ": an empty presets store: it holds no shapes";
            return false;
        }
        out.kind = "presets store";
        for (const auto& r : recs)
            out.shapes.push_back({r.name, PM::ToSpline(r)});
        return true;
    }
    CQNF_StdFile file;
    if (!file.Open(CQNF_String(path.c_str()), 1)) {
        message = qnFileFailure(path, false, file.GetError());
        return false;
    }
    CQNF_Mem block;
    ShapeIoError e = qnReadWholeFile(&file, kMaxShapeSetFileSize, block);
    if (e != ShapeIoError::None) {
        message = "cannot read " + path + ": " + IoText(e);
        return false;
    }
    const uint8_t* data = block.GetPtr();
    const size_t size = block.GetSize();
    CQNF_Storage st;
    CQNF_String version;
    const bool container = st.CheckMD5(data, size) && st.Open(data, size) && st.GetRec("Version", version);
    st.Close();
    if (container && version.Compare(PM::kSetVersion) == 0) {
        std::vector<PM::SHAPESETREC> recs;
        e = PM::ReadShapeSet(data, size, recs);
        if (e != ShapeIoError::None) {
            message = "cannot read " + path + ": " + IoText(e);
            return false;
        }
        out.kind = "shape set";
        for (const auto& r : recs)
            out.shapes.push_back({r.name, PM::ToSpline(r)});
        return true;
    }
    Shape s{};
    e = CWnd_CutterModel::stLoadShapeFromMem(data, size, &s.spline);
    if (e != ShapeIoError::None) {
        message = "cannot read " + path + ": " + IoText(e);
        return false;
    }
    out.kind = size == CWnd_CutterModel::kLegacyFileSize && !container ? "legacy knife shape" : "knife shape";
    out.shapes.push_back(s);
    return true;
}

// --index N (-1 when absent) and, where png is given, --png OUT among the
// arguments after the files.
bool ParseOptions(const tool::Args& args, size_t from, int64_t& index, std::string& message,
                  std::string* png = nullptr)
{
    index = -1;
    for (size_t i = from; i < args.size(); ++i) {
        if (args[i] == "--index") {
            if (!qnParseInteger(tool::OptionValue(args, i), 0, INT32_MAX, index)) {
                message = "--index takes a shape number from 0";
                return false;
            }
        } else if (png && args[i] == "--png") {
            *png = tool::OptionValue(args, i);
        } else if (args[i].size() > 1 && args[i][0] == '-') {
            message = "unknown option " + args[i];
            return false;
        } else {
            message = "unexpected argument '" + args[i] + "'";
            return false;
        }
    }
    return true;
}

int Ls(const tool::Args& args)
{
    tool::RefuseOptions(args);
    if (args.size() != 1)
        return tool::BadArguments(kName, "ls takes one FILE");
    Loaded l;
    std::string message;
    if (!Load(args[0], l, message))
        return tool::Fail(kName, message);
    std::printf("%s: %s, %zu shape%s\n", qnShownName(args[0]).c_str(), l.kind.c_str(), l.shapes.size(),
                l.shapes.size() == 1 ? "" : "s");
    for (size_t i = 0; i < l.shapes.size(); ++i)
        std::printf("  %4zu  %-32s %2u node%s\n", i, ('"' + qnShownName(l.shapes[i].name) + '"').c_str(),
                    unsigned(l.shapes[i].spline.nodeCount), l.shapes[i].spline.nodeCount == 1 ? "" : "s");
    return 0;
}

// The shapes as icons of 48 x 96 pixels, eight a row, in the presets
// manager's ink on white.
bool SavePicture(const std::string& path, const std::vector<const Shape*>& shapes, std::string& message)
{
    const int cell = 56, w = 48, h = 96, perRow = 8;
    const int n = int(shapes.size());
    const int cols = std::max(1, std::min(n, perRow)), rows = std::max(1, (n + perRow - 1) / perRow);
    if (rows * (h + 8) + 8 > 65535) {
        message = "too many shapes for one picture";
        return false;
    }
    CQNF_Image layer;
    if (!layer.Create(uint16_t(cols * cell + 8), uint16_t(rows * (h + 8) + 8), 2)) {
        message = "no memory for the picture";
        return false;
    }
    std::memset(layer.GetPlane(3), 0, layer.PlaneSize());
    for (int i = 0; i < n; ++i) {
        const int32_t x = 8 + (i % perRow) * cell, y = 8 + (i / perRow) * (h + 8);
        PM::DrawSpline(layer, qntRECT_s{x, y, x + w, y + h}, PM::MakeRecord("", shapes[size_t(i)]->spline));
    }
    // Ink (70, 70, 70) by coverage over white, opaque.
    uint8_t* alpha = layer.GetPlane(3);
    for (size_t p = 0; p < layer.PlaneSize(); ++p) {
        const uint8_t v = uint8_t(255 - alpha[p] * (255 - 70) / 255);
        layer.GetPlane(0)[p] = layer.GetPlane(1)[p] = layer.GetPlane(2)[p] = v;
        alpha[p] = 255;
    }
    unsigned short error = 0;
    if (!qnSaveImagePNG(path.c_str(), layer, "tessolo-tool", error)) {
        message = qnFileFailure(path, true, error);
        return false;
    }
    return true;
}

int Show(const tool::Args& args)
{
    if (args.empty() || tool::IsOption(args[0]))
        return tool::BadArguments(kName, "show takes FILE [--index N] [--png OUT], the file first");
    int64_t index = -1;
    std::string message, png;
    Loaded l;
    if (!ParseOptions(args, 1, index, message, &png))
        return tool::BadArguments(kName, message);
    if (!png.empty())
        if (const int refused = tool::RefuseOutput(kName, png, {args[0]}, {".png"}))
            return refused;
    if (!Load(args[0], l, message))
        return tool::Fail(kName, message);
    if (index >= int64_t(l.shapes.size()))
        return tool::Fail(kName, "no shape " + std::to_string(index) + " (the file holds " +
                                     std::to_string(l.shapes.size()) + ")");
    for (size_t i = 0; i < l.shapes.size(); ++i) {
        if (index >= 0 && size_t(index) != i)
            continue;
        const SPLINE& s = l.shapes[i].spline;
        std::printf("shape %zu \"%s\": %u node%s\n", i, qnShownName(l.shapes[i].name).c_str(), unsigned(s.nodeCount),
                    s.nodeCount == 1 ? "" : "s");
        if (s.nodeCount)
            std::printf("  node          U          H          S\n");
        for (uint32_t n = 0; n < s.nodeCount; ++n)
            std::printf("  %4u %s %s %s\n", unsigned(n), NodeValue(s.pos[n].U).c_str(), NodeValue(s.pos[n].H).c_str(),
                        NodeValue(s.S[n]).c_str());
    }
    if (!png.empty()) {
        std::vector<const Shape*> shown;
        for (size_t i = 0; i < l.shapes.size(); ++i)
            if (index < 0 || size_t(index) == i)
                shown.push_back(&l.shapes[i]);
        if (!SavePicture(png, shown, message))
            return tool::Fail(kName, message);
        // After the listing, as every writer says what it wrote.
        std::printf("wrote %s: %zu shape%s\n", qnShownName(png).c_str(), shown.size(), shown.size() == 1 ? "" : "s");
    }
    return 0;
}

int Convert(const tool::Args& args)
{
    if (args.size() < 2 || tool::IsOption(args[0]) || tool::IsOption(args[1]))
        return tool::BadArguments(kName, "convert takes FILE OUT.qnth [--index N], the files first");
    int64_t index = -1;
    std::string message;
    Loaded l;
    if (!ParseOptions(args, 2, index, message))
        return tool::BadArguments(kName, message);
    if (const int refused = tool::RefuseOutput(kName, args[1], {args[0]}, {".qnth"}, true))
        return refused;
    if (!Load(args[0], l, message))
        return tool::Fail(kName, message);
    if (index < 0 && l.shapes.size() != 1)
        return tool::Fail(kName, args[0] + " holds " + std::to_string(l.shapes.size()) +
                                     " shapes: choose one with --index N");
    const size_t pick = index < 0 ? 0 : size_t(index);
    if (pick >= l.shapes.size())
        return tool::Fail(kName, "no shape " + std::to_string(pick) + " (the file holds " +
                                     std::to_string(l.shapes.size()) + ")");
    const ShapeIoError e = CWnd_CutterModel::SaveShapeFile(args[1], l.shapes[pick].spline);
    if (e == ShapeIoError::WriteFailed)
        return tool::Fail(kName, qnFileFailure(args[1], true, qnerr::FileWrite));
    if (e != ShapeIoError::None)
        return tool::Fail(kName, "cannot write " + args[1] + ": " + IoText(e));
    const unsigned nodes = unsigned(l.shapes[pick].spline.nodeCount);
    std::fprintf(qnReportStream(args[1]), "%s: knife shape of %u node%s\n", qnShownName(args[1]).c_str(), nodes,
                 nodes == 1 ? "" : "s");
    return 0;
}

int Run(const tool::Args& args)
{
    if (args.empty())
        return tool::BadArguments(kName, "needs ls, show or convert");
    const tool::Args rest(args.begin() + 1, args.end());
    if (args[0] == "ls")
        return Ls(rest);
    if (args[0] == "show")
        return Show(rest);
    if (args[0] == "convert")
        return Convert(rest);
    return tool::BadArguments(kName, "unknown action '" + args[0] + "' (ls, show or convert)");
}

const tool::Registrar reg({kName, "shapes ls FILE | shapes show FILE [--index N] [--png OUT] | shapes convert FILE OUT.qnth [--index N]",
                           "lists, shows and converts knife shapes, shape sets and the presets store", Run});

}  // namespace
