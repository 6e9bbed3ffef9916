// tessolo-seal: writes the seal into a library of the plug-in after it was
// linked (the build runs it on the plug-in and on its window backend), so
// that a copy whose mapped bytes changed is refused before it is loaded.
#include "core/ErrorWords.h"
#include "core/LibraryFile.h"
#include "core/ProgramOutput.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

const char kUsage[] =
    "usage: tessolo-seal LIBRARY\n"
    "Writes the checksum (XXH3) and length of what the loader maps of LIBRARY, a library of the plug-in\n"
    "linked with room for them, into its seal, so that the plug-in and tessolo-host refuse a copy whose code,\n"
    "data or tables for the loader changed as damaged; a stripped or debug-linked copy stays whole. A library\n"
    "sealed the older way (a CRC-32) is sealed anew.\n";

int Fail(const std::string& message, int code)
{
    std::fprintf(stderr, "tessolo-seal: %s\n", qnShownLine(message).c_str());
    return code;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (argc != 2)
        return Fail("name one library to seal (see --help)", qnExitBadArguments);
    const std::string library = argv[1];
    if (library.empty())
        return Fail("LIBRARY is an empty name (see --help)", qnExitBadArguments);
    if (library[0] == '-')
        return Fail("unknown option " + library + " (see --help)", qnExitBadArguments);
    if (const std::string why = qnSealLibraryFile(library); !why.empty())
        return Fail(why, qnExitFailed);
    std::printf("sealed %s\n", qnShownName(library).c_str());
    return 0;
}
