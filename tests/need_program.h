// Programs the tests run beside ours (independent readers of our files, the
// tools that drive a display). scripts/setup.sh installs every one of them;
// a test that cannot find one fails and names the Debian package that
// brings it, so that a machine set up short is seen rather than passed over.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace need {

// Whether a shell command runs and succeeds, its output thrown away.
inline bool Runs(const std::string& command)
{
    return std::system(("(" + command + ") >/dev/null 2>&1").c_str()) == 0;
}

inline std::string MissingLine(const std::string& what, const char* package)
{
    return what + " is not installed: it comes with Debian's package " + package +
           ", which scripts/setup.sh installs";
}

}  // namespace need

// Fails the test (a fatal failure: the test stops) when PROGRAM is not on
// the path.
#define NEED_PROGRAM(program, package)                                            \
    do {                                                                          \
        if (!::need::Runs(std::string("command -v ") + (program)))                \
            FAIL() << ::need::MissingLine(std::string(program), (package));      \
    } while (0)

// The same for a module of Debian's own Python 3 (/usr/bin/python3).
#define NEED_PYTHON_MODULE(module, package)                                                        \
    do {                                                                                           \
        if (!::need::Runs(std::string("/usr/bin/python3 -c 'import ") + (module) + "'"))          \
            FAIL() << ::need::MissingLine(std::string("Python 3 with ") + (module), (package));    \
    } while (0)
