// The tessolo-host program: command line, document set-up, the run and its
// exit code.
#pragma once

#include "core/ErrorWords.h"
#include "hostapp/OutputFile.h"
#include "hostapp/StandInHost.h"

#include <string>
#include <vector>

namespace hostapp {

// Exit codes of tessolo-host.
enum HostExit {
    kExitOk = 0,
    kExitCancelled = 1,                      // the plug-in answered userCanceledErr
    kExitBadArguments = qnExitBadArguments,  // the command line is wrong (as every program)
    kExitHostError = 3,  // unreadable input, unwritable output, plug-in not loadable
    kExitViolation = 4,  // the plug-in broke the host protocol
    kExitPluginError = 5  // any other non-zero result
};

struct LayerArg {
    std::string path;
    std::string name;
};

struct HostCommandLine {
    std::string input;
    std::string output;
    std::string plugin;
    StandInHost::Sequence sequence = StandInHost::Sequence::Replay;
    std::string descriptorFile;
    int repeat = 1;
    std::string mode;  // "", "gray", "rgb", "cmyk"
    std::string selection;
    std::vector<LayerArg> layers;
    std::vector<LayerArg> channels;
    int target = -1;
    uint8_t foreground[3] = {0, 0, 0};
    uint8_t background[3] = {255, 255, 255};
    double resolution = 0.0;  // pixels per inch; 0 for the input's (72 when it names none)
    int quality = kDefaultJpegQuality;
    OutputKind outputKind = OutputKind::None;
    int ruler = 0;
    std::string icc;
    bool verbose = false;
    HostSettings settings;
};

// The usage text, made from the table of options.
std::string HostUsage();

// Parses the arguments after the program name. On failure err holds a
// one-line reason. --help sets help.
bool ParseHostCommandLine(const std::vector<std::string>& args, HostCommandLine& out, bool& help, std::string& err);

// Every file the run reads or loads, the plug-in's own among them: the
// output may be none of them, nor may what the plug-in writes for itself.
std::vector<std::string> RunInputs(const HostCommandLine& cmd);

// Says them to the process (qnAddRunInputs), each as what it is: the
// plug-in's library, its settings, its skin... or a file the user named.
void AddRunInputs(const HostCommandLine& cmd);

// Runs the program; messages go to stderr, the verbose log to stdout.
int RunHostProgram(const HostCommandLine& cmd);

// The plug-in next to the program: <program folder>/../bundle/Tessolo/Tessolo.so.
std::string DefaultPluginPath();

}  // namespace hostapp
