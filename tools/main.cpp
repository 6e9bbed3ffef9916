// tessolo-tool: inspects and converts the system's files and runs its demos.
#include "tools/Command.h"

#include "core/ErrorWords.h"
#include "core/ProgramOutput.h"

#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <string>

namespace tool {

std::vector<Command>& Registry()
{
    static std::vector<Command> commands;
    return commands;
}

void Register(const Command& c) { Registry().push_back(c); }
const std::vector<Command>& Commands() { return Registry(); }

void PrintUsage(const Command& c) { std::printf("usage: tessolo-tool %s\n  %s\n", c.usage, c.summary); }

int Fail(const char* name, const std::string& message)
{
    std::fprintf(stderr, "tessolo-tool %s: %s\n", name, qnShownLine(message).c_str());
    return qnExitFailed;
}

int BadArguments(const char* name, const std::string& message)
{
    const bool pointed = message.find("--help") != std::string::npos;
    Fail(name, pointed ? message : message + " (see --help)");
    return qnExitBadArguments;
}

bool WantsHelp(const Args& args)
{
    for (const auto& a : args)
        if (a == "--help" || a == "-h")
            return true;
    return false;
}

}  // namespace tool

static void PrintAll()
{
    std::printf("usage: tessolo-tool COMMAND [ARGS...]\n\ncommands:\n");
    for (const auto& c : tool::Commands())
        std::printf("  %-10s %s\n", c.name, c.summary);
    std::printf("\n'tessolo-tool COMMAND --help' shows a command's arguments.\n");
}

int main(int argc, char** argv)
try {
    qnCheckStandardOutputAtExit("tessolo-tool", qnExitFailed);
    if (argc < 2) {
        // A wrong command line, answered as every other: one line, exit 2.
        std::fprintf(stderr, "tessolo-tool: no COMMAND given: tessolo-tool COMMAND [ARGS...] (see --help)\n");
        return qnExitBadArguments;
    }
    if (!std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h") || !std::strcmp(argv[1], "help")) {
        PrintAll();
        return 0;
    }
    for (const auto& c : tool::Commands()) {
        if (std::strcmp(c.name, argv[1]) != 0)
            continue;
        // A lost standard output is named by the command, as its other faults are.
        qnNameProgram(std::string("tessolo-tool ") + c.name);
        tool::Args args(argv + 2, argv + argc);
        if (tool::WantsHelp(args)) {
            tool::PrintUsage(c);
            return 0;
        }
        try {
            // An empty name names no file: one wording for every command.
            tool::RefuseEmptyNames(c.usage, args);
            return c.run(args);
        } catch (const tool::BadArgument& e) {
            return tool::BadArguments(c.name, e.what());
        } catch (const std::filesystem::filesystem_error& e) {
            // The library's own text ("filesystem error: status: ...") is
            // no line for a person: the path and the system's reason.
            const std::string path = e.path1().empty() ? std::string() : e.path1().string() + ": ";
            return tool::Fail(c.name, path + qnSystemWords(e.code().value()));
        } catch (const std::exception& e) {
            return tool::Fail(c.name, e.what());
        }
    }
    std::fprintf(stderr, "tessolo-tool: unknown command '%s' (see --help)\n", qnShownLine(argv[1]).c_str());
    return qnExitBadArguments;
} catch (const std::exception& e) {
    // No program ends by an exception nobody caught: one line, and a failure.
    std::fprintf(stderr, "tessolo-tool: %s\n", qnShownLine(e.what()).c_str());
    return 1;
} catch (...) {
    std::fprintf(stderr, "tessolo-tool: an unexpected failure\n");
    return 1;
}
