// The one check every output of tessolo-tool passes (see Command.h).
#include "tools/Command.h"

#include "hostapp/OutputFile.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

#include <sys/stat.h>

namespace tool {

namespace {

std::string Lower(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return s;
}

}  // namespace

bool IsStreamOutput(const std::string& path) { return path == "-"; }

bool IsSpecialFile(const std::string& path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode);
}

int RefuseOutput(const char* name, const std::string& out, const std::vector<std::string>& inputs,
                 const std::vector<std::string>& extensions)
{
    // A FIFO, socket or device is refused for what it is, whatever its name.
    if (!extensions.empty() && !IsStreamOutput(out) && !IsSpecialFile(out)) {
        const std::string ext = Lower(std::filesystem::path(out).extension().string());
        if (std::find(extensions.begin(), extensions.end(), ext) == extensions.end()) {
            std::string list;
            for (const std::string& e : extensions)
                list += (list.empty() ? "" : e == extensions.back() ? " or " : ", ") + e;
            return BadArguments(name, out + ": the name must end in " + list + ", the format it is written in");
        }
    }
    if (const std::string why = hostapp::OutputRefusal(out, inputs); !why.empty())
        return Fail(name, why);
    return 0;
}

}  // namespace tool
