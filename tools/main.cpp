// tessolo-tool: inspects and converts the system's files and runs its demos.
#include "tools/Command.h"

#include "core/ErrorWords.h"
#include "core/ProgramOutput.h"

#include <algorithm>
#include <cctype>
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

namespace {

std::string Trimmed(const std::string& s)
{
    const size_t first = s.find_first_not_of(" \n");
    return first == std::string::npos ? std::string() : s.substr(first, s.find_last_not_of(" \n") - first + 1);
}

// The sub-commands a usage form begins with ("lines|pieces|render" of
// "engine lines|pieces|render ..."), and the form's text after them.
std::vector<std::string> FormActions(const Command& c, const std::string& form, std::string& rest)
{
    std::string text = form;
    if (text.rfind(std::string(c.name) + " ", 0) == 0)
        text = Trimmed(text.substr(std::strlen(c.name)));
    const size_t end = text.find_first_of(" \n");
    const std::string word = text.substr(0, end);
    rest = end == std::string::npos ? std::string() : text.substr(end);
    std::vector<std::string> actions;
    if (word.empty() || word[0] < 'a' || word[0] > 'z')
        return actions;
    for (size_t at = 0; at <= word.size();) {
        const size_t bar = std::min(word.find('|', at), word.size());
        actions.push_back(word.substr(at, bar - at));
        at = bar + 1;
    }
    return actions;
}

}  // namespace

bool PrintActionUsage(const Command& c, const Args& args)
{
    if (args.empty() || IsOption(args[0]))
        return false;
    const std::string& action = args[0];
    // The usage proper ends where a line of two spaces and a word begins
    // the notes; its forms are parted by a '|' of their own outside brackets.
    const std::string usage = c.usage;
    size_t head = usage.size();
    for (size_t at = usage.find("\n  "); at != std::string::npos; at = usage.find("\n  ", at + 1))
        if (at + 3 < usage.size() && usage[at + 3] != ' ' && usage[at + 3] != '|') {
            head = at;
            break;
        }
    std::vector<std::string> forms(1);
    int depth = 0;
    for (size_t i = 0; i < head; ++i) {
        const char ch = usage[i];
        depth += ch == '[' || ch == '(' ? 1 : ch == ']' || ch == ')' ? -1 : 0;
        const bool alone = i > 0 && i + 1 < head && std::isspace(static_cast<unsigned char>(usage[i - 1])) &&
                           std::isspace(static_cast<unsigned char>(usage[i + 1]));
        if (ch == '|' && depth == 0 && alone)
            forms.emplace_back();
        else
            forms.back() += ch;
    }
    std::vector<std::string> every;
    std::string chosen;
    for (const std::string& form : forms) {
        std::string rest;
        const std::vector<std::string> actions = FormActions(c, Trimmed(form), rest);
        every.insert(every.end(), actions.begin(), actions.end());
        if (chosen.empty() && std::find(actions.begin(), actions.end(), action) != actions.end())
            chosen = std::string(c.name) + " " + action + rest;
    }
    if (chosen.empty())
        return false;
    // A note that begins with another sub-command's name ("new: ...") and
    // the lines indented under it are that one's alone.
    std::string notes;
    bool kept = true;
    for (size_t at = head; at < usage.size();) {
        const size_t end = std::min(usage.find('\n', at + 1), usage.size());
        const std::string line = usage.substr(at + 1, end - at - 1);
        if (line.size() > 2 && line[2] != ' ') {
            const std::string first = line.substr(2, line.find(' ', 2) - 2);
            const bool named = first.size() > 1 && first.back() == ':' &&
                               std::find(every.begin(), every.end(), first.substr(0, first.size() - 1)) != every.end();
            // A note on an argument ("PATH: ...") goes with the forms that take it.
            const std::string word = first.substr(0, first.size() - 1);
            const bool argument =
                first.size() > 1 && first.back() == ':' && std::isupper(static_cast<unsigned char>(word[0]));
            // A note on an option ("--time prints ...") goes with the forms that list it.
            const std::string option = first.back() == ':' ? word : first;
            const bool onOption = option.rfind("--", 0) == 0;
            kept = named ? first == action + ":"
                         : (!argument && !onOption) || chosen.find(onOption ? option : word) != std::string::npos;
        }
        if (kept && !line.empty())
            notes += line + "\n";
        at = end;
    }
    std::printf("usage: tessolo-tool %s\n%s  %s\n", Trimmed(chosen).c_str(), notes.c_str(), c.summary);
    return true;
}

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
            // "layout show --help": that sub-command's own usage.
            if (!tool::PrintActionUsage(c, args))
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
