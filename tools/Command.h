// Sub-commands of tessolo-tool register themselves here, one file each, so the
// tool grows without a central list to edit.
#pragma once

#include "tools/Arguments.h"

#include <string>
#include <vector>

namespace tool {
// Returns the process exit code. args excludes the program and command names.
using CommandFn = int (*)(const Args& args);

struct Command {
    const char* name;
    const char* usage;    // one line: "NAME ARGS..."
    const char* summary;  // what it does, one line
    CommandFn run;
};

// Adds a command to the tool; used through a static Registrar in each command file.
void Register(const Command& c);
const std::vector<Command>& Commands();

struct Registrar {
    explicit Registrar(const Command& c) { Register(c); }
};

// Prints "usage: tessolo-tool <usage>" to stdout.
void PrintUsage(const Command& c);
// For a command of sub-commands ("layout new|show|block"), when args begin
// with one of them: prints that one's usage form alone, with the notes that
// are not another sub-command's, and returns true.
bool PrintActionUsage(const Command& c, const Args& args);
// Prints "tessolo-tool <name>: <message>" to stderr and returns 1
// (qnExitFailed): the work could not be done.
int Fail(const char* name, const std::string& message);
// The same for a wrong command line, pointing to --help; returns 2
// (qnExitBadArguments), the code every program of the system gives for it.
int BadArguments(const char* name, const std::string& message);
// Every file a command writes passes here before any work: the rules the
// stand-in host keeps for its output. Returns 0 when out may be written,
// else the exit code after one line on stderr: 2 when the name's extension
// is not one of extensions (the name chooses the format; an empty list
// takes any name; "-" takes any format), 1 when out is one of inputs, a
// FIFO, socket, device or folder, a read-only file or in a folder that
// cannot take it.
// A command that takes "-" (takesStandardOutput) names it to a user who
// gave a FIFO or device.
int RefuseOutput(const char* name, const std::string& out, const std::vector<std::string>& inputs,
                 const std::vector<std::string>& extensions, bool takesStandardOutput = false);
// Standard output ("-"): written straight through, with no file name to
// choose a format by.
bool IsStreamOutput(const std::string& path);
// A FIFO, socket or device (links followed): no output is written there.
bool IsSpecialFile(const std::string& path);
// The one line for a layout document (".qntd") that did not read with the
// reader's message: a descriptor given in its place is named as what it is,
// with what to do, as the host names a layout document given as a
// descriptor; a file that is no layout document reads "cannot read PATH:
// not a layout document, or a damaged one", a failed read as every program
// words it.
std::string LayoutFailure(const std::string& path, const std::string& message);
// True when any argument is --help or -h.
bool WantsHelp(const Args& args);

}  // namespace tool
