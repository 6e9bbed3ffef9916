// The one check every output of tessolo-tool passes (see Command.h).
#include "tools/Command.h"

#include "app/MainModel.h"
#include "core/ErrorManager.h"
#include "core/ErrorWords.h"
#include "core/ProgramOutput.h"
#include "core/SafeFileRunInputs.h"
#include "hostapp/OutputFile.h"

#include <cstdio>
#include <cstring>

#include <sys/stat.h>

namespace tool {

bool IsStreamOutput(const std::string& path) { return path == "-"; }

bool IsSpecialFile(const std::string& path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode);
}

int RefuseOutput(const char* name, const std::string& out, const std::vector<std::string>& inputs,
                 const std::vector<std::string>& extensions, bool takesStandardOutput)
{
    if (const QnRefusal why = qnOutputNameRefusal(out, extensions); !why.empty())
        return BadArguments(name, why.Detail());
    if (const std::string why = hostapp::OutputRefusal(out, inputs, takesStandardOutput); !why.empty())
        return Fail(name, why);
    // The gate refuses every later write that would reach an input too.
    qnAddRunInputs(inputs);
    return 0;
}

std::string LayoutFailure(const std::string& path, const std::string& message)
{
    char head[4] = {};
    std::FILE* f = IsSpecialFile(path) ? nullptr : std::fopen(path.c_str(), "rb");
    const bool descriptor = f && std::fread(head, 1, 4, f) == 4 && std::memcmp(head, "QNDS", 4) == 0;
    if (f)
        std::fclose(f);
    if (descriptor)
        return path + " is a descriptor, not a layout document: replay it with tessolo-host --descriptor " + path +
               ", or give a layout document (.qntd, made by tessolo-tool layout new or saved by the plug-in)";
    // The model words its faults for the window's message box.
    if (message == CWnd_MainModel::kMsgUnknown)
        return "cannot read " + path + ": not a layout document, or a damaged one";
    if (message == CWnd_MainModel::kMsgRead)
        return qnFileFailure(path, false, qnerr::FileRead);
    if (message == CWnd_MainModel::kMsgMemory)
        return qnFileFailure(path, false, qnerr::NoMemory);
    return path + ": " + message;
}

}  // namespace tool
