// tessolo-host: the stand-in image editor that runs the filter plug-in.
#include "core/ProgramOutput.h"
#include "hostapp/HostProgram.h"

#include <cstdio>
#include <exception>

int main(int argc, char** argv)
try {
    // Output lost on the way out is the host's failure, not the plug-in's.
    qnCheckStandardOutputAtExit("tessolo-host", hostapp::kExitHostError);
    std::vector<std::string> args(argv + 1, argv + argc);
    hostapp::HostCommandLine cmd;
    bool help = false;
    std::string err;
    if (!hostapp::ParseHostCommandLine(args, cmd, help, err)) {
        std::fprintf(stderr, "tessolo-host: %s (see --help)\n", qnShownLine(err).c_str());
        return hostapp::kExitBadArguments;
    }
    if (help) {
        std::fputs(hostapp::HostUsage().c_str(), stdout);
        return hostapp::kExitOk;
    }
    return hostapp::RunHostProgram(cmd);
} catch (const std::exception& e) {
    // No program ends by an exception nobody caught: one line, and a failure.
    std::fprintf(stderr, "tessolo-host: %s\n", qnShownLine(e.what()).c_str());
    return hostapp::kExitHostError;
} catch (...) {
    std::fprintf(stderr, "tessolo-host: an unexpected failure\n");
    return hostapp::kExitHostError;
}
