// The one check every output of tessolo-tool passes (see Command.h).
#include "tools/Command.h"

#include "core/ProgramOutput.h"
#include "hostapp/OutputFile.h"

#include <sys/stat.h>

namespace tool {

bool IsStreamOutput(const std::string& path) { return path == "-"; }

bool IsSpecialFile(const std::string& path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode);
}

int RefuseOutput(const char* name, const std::string& out, const std::vector<std::string>& inputs,
                 const std::vector<std::string>& extensions)
{
    if (const std::string why = qnOutputNameRefusal(out, extensions); !why.empty())
        return BadArguments(name, why);
    if (const std::string why = hostapp::OutputRefusal(out, inputs); !why.empty())
        return Fail(name, why);
    return 0;
}

}  // namespace tool
