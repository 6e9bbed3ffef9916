// "resources dump|sheet": lists the records of a resource file and draws
// contact sheets of its windows.
#include "tools/Command.h"

#include "core/ErrorWords.h"
#include "core/FileSeries.h"
#include "core/SafeFile.h"
#include "core/ProgramOutput.h"
#include "core/StorageFormat.h"
#include "core/StdFile.h"
#include "imaging/Image.h"
#include "imaging/ImageFile.h"
#include "resources/ResourceFile.h"

#include <cstdio>
#include <filesystem>
#include <string>

namespace {

const char* kName = "resources";

const char* TypeName(unsigned char t)
{
    switch (t) {
    case qnstorage::kFolder: return "folder";
    case qnstorage::kU8: return "u8";
    case qnstorage::kU16: return "u16";
    case qnstorage::kU32: return "u32";
    case qnstorage::kString: return "string";
    case qnstorage::kBinary: return "binary";
    case qnstorage::kDouble: return "double";
    default: return "?";
    }
}

int Dump(const std::string& path)
{
    qnres::ResourceFile file;
    if (const std::string refused = file.OpenNamed(path); !refused.empty())
        return tool::Fail(kName, refused);
    CQNF_Storage& st = file.Storage();
    CQNF_StringArray* keys = st.GetAllRecordsArray();
    if (!keys)
        return tool::Fail(kName, path + ": cannot list the records");
    for (uint32_t i = 0; i < keys->GetSize(); ++i) {
        const CQNF_String key = (*keys)[i];
        const unsigned char type = st.GetRecType(key);
        std::string summary;
        uint32_t size = 0;
        if (type == qnstorage::kBinary || type == qnstorage::kString) {
            st.GetRec(key, nullptr, size);
            if (type == qnstorage::kBinary) {
                CQNF_Mem block;
                st.GetRec(key, block);
                qnres::Picture pic;
                if (!qnres::DecodePicture(block.GetPtr(), block.GetSize(), pic))
                    summary = "image " + std::to_string(pic.left) + "," + std::to_string(pic.top) + " " +
                              std::to_string(pic.Width()) + "x" + std::to_string(pic.Height());
                else if (size >= 8 && !std::memcmp(block.GetPtr(), "QNCPSv40", 8))
                    summary = "storage container";
                else if (size >= 8 && !std::memcmp(block.GetPtr(), "QNCV2-01", 8))
                    summary = "zip block of " + std::to_string(qnGetBE32(block.GetPtr() + 8)) + " bytes";
                else
                    summary = "raw";
            } else {
                CQNF_String s;
                st.GetRec(key, s);
                summary = '"' + qnShownName(s.GetStr()) + '"';
            }
        } else if (type != qnstorage::kFolder) {
            _QNSTORAGEDATA v{};
            st.GetRec(key, v);
            size = qnstorage::FixedPayloadSize(type);
            summary = type == qnstorage::kU8    ? std::to_string(v.u8)
                      : type == qnstorage::kU16 ? std::to_string(v.u16)
                      : type == qnstorage::kU32 ? std::to_string(v.u32)
                                                : std::to_string(v.f64);
        }
        std::printf("%-64s %-6s %8u  %s\n", qnShownName(key.GetStr()).c_str(), TypeName(type), size, summary.c_str());
    }
    std::printf("%u records, %zu windows\n", keys->GetSize(), file.WindowNames().size());
    return 0;
}

int Sheet(const tool::Args& args)
{
    std::string in, out, only;
    for (size_t i = 1; i < args.size(); ++i) {
        if (args[i] == "--window")
            only = tool::OptionValue(args, i);
        else if (args[i].size() > 1 && args[i][0] == '-')
            return tool::BadArguments(kName, "unknown option " + args[i]);
        else if (in.empty())
            in = args[i];
        else if (out.empty())
            out = args[i];
        else
            return tool::BadArguments(kName, "unexpected argument '" + args[i] + "'");
    }
    if (in.empty() || out.empty())
        return tool::BadArguments(kName, "sheet needs FILE and OUT.png");
    // OUT.png shows the windows; OUT-states.png every state of every control.
    // Standard output has no name for a second sheet to follow: it takes
    // the first alone.
    const std::string base = out.size() > 4 && out.compare(out.size() - 4, 4, ".png") == 0 ? out.substr(0, out.size() - 4) : out;
    std::vector<std::string> paths = {out};
    if (!tool::IsStreamOutput(out))
        paths.push_back(base + "-states.png");
    for (const std::string& path : paths)
        if (const int refused = tool::RefuseOutput(kName, path, {in}, {".png"}, true))
            return refused;
    // The two sheets are put in place as a pair (a series): both new, or
    // after any failure (a full disk on the second, say) both as they were.
    // A link to another disk, where no pair can be put in place at once, is
    // refused before any work.
    const bool pair = paths.size() == 2;
    const std::filesystem::path parent = std::filesystem::path(out).parent_path();
    const std::string folder = parent.empty() ? std::string(".") : parent.string();
    for (size_t k = 0; pair && k < paths.size(); ++k) {
        const std::string name = std::filesystem::path(paths[k]).filename().string();
        if (const QnRefusal refused = CQNF_FileSeries::Refusal(folder, name.size(), name); !refused.empty())
            return tool::Fail(kName, refused.Line());
    }
    qnres::ResourceFile file;
    if (const std::string refused = file.OpenNamed(in); !refused.empty())
        return tool::Fail(kName, refused);
    std::string why;
    std::vector<qnres::WindowSkin> windows;
    for (const std::string& name : file.WindowNames()) {
        if (!only.empty() && name != only)
            continue;
        windows.emplace_back();
        if (!file.LoadWindow(name, windows.back(), why))
            return tool::Fail(kName, in + ": " + why);
    }
    if (windows.empty())
        return tool::Fail(kName, only.empty() ? in + ": no windows" : "no window '" + only + "'");
    CQNF_FileSeries series;
    series.Protect({in});
    if (pair && !series.Begin(folder))
        return tool::Fail(kName, "cannot write " + series.Failure());
    std::string said;
    for (size_t k = 0; k < paths.size(); ++k) {
        const bool states = k == 1;
        CQNF_Image sheet;
        if (!qnres::ComposeSheet(file, windows, states, sheet, why))
            return tool::Fail(kName, why);
        const std::string& path = paths[k];
        const std::string name = std::filesystem::path(path).filename().string();
        unsigned short error = 0;
        if (!qnSaveImagePNG(pair ? series.StagedPath(name).c_str() : path.c_str(), sheet, "tessolo-tool", error))
            return tool::Fail(kName, qnFileFailure(path, true, error));
        if (pair)
            series.Add(name);
        said += "wrote " + qnShownName(path) + ": " + std::to_string(sheet.GetImageWidth()) + " x " +
                std::to_string(sheet.GetImageHeight()) + "\n";
    }
    if (pair && !series.Commit())
        return tool::Fail(kName, "cannot write " + series.Failure() + "; nothing was written");
    std::fputs(said.c_str(), qnReportStream(out));
    return 0;
}

int Run(const tool::Args& args)
{
    if (!args.empty() && args[0] == "dump") {
        tool::RefuseOptions(args);
        if (args.size() == 2)
            return Dump(args[1]);
    }
    if (!args.empty() && args[0] == "sheet")
        return Sheet(args);
    return tool::BadArguments(kName, "expected 'dump FILE' or 'sheet FILE OUT.png [--window NAME]'");
}

const tool::Registrar reg({kName, "resources dump FILE | resources sheet FILE OUT.png [--window NAME]",
                           "list a resource file's records, or draw contact sheets of its windows (OUT.png and "
                           "OUT-states.png)",
                           Run});

}  // namespace
