// The files a run reads, known to every part of the process that writes
// files for itself.
//
// A program's outputs are checked against its inputs before any work
// (qnInputRefusal). The files a program writes for its own use (settings,
// preferences, window places, a presets store) need the same check, but
// the code that writes them may not know what the run reads: a plug-in
// does not see the files its host opened. So the inputs are kept here, for
// the whole process: the host program names the files it reads, the
// plug-in the files of its own folder, and a file written for the
// program's own use that leads to any of them is not written.
//
// A refusal names the file it would write over as what it is to the user
// (qnRunInputWhat): the plug-in's own files as the plug-in's, a library the
// process loaded as that, the program as its own file, anything else as
// "the input". The command line and the windows say the same words, since
// both show the gate's line.
//
// The plug-in is a library with its own copy of this code. The host
// program exports its list's readers (the C symbols qnRunInputAt and
// qnRunInputWhatAt), and a copy that finds them in the process reads that
// list too; in a host without them, only what this copy was told is known.
#pragma once

#include "core/Refusal.h"

#include <string>
#include <vector>

// What a file the run reads is, for the words that name it.
enum class QnRunInput {
    Input,           // a file the user named
    PluginLibrary,   // the plug-in's library
    PluginSettings,  // its preferences and window places, last settings, presets
    PluginSkin,      // its skin
    PluginHelp,      // its help guide
    WindowBackend,   // its window backend
};

// Adds paths (empty ones are skipped) to the files this run reads, as what.
void qnAddRunInputs(const std::vector<std::string>& paths, QnRunInput what = QnRunInput::Input);

// Every file this run reads, as far as this process has said, with the
// program's own file and every library mapped into the process at the
// moment of asking (a run that wrote over one would not start again).
std::vector<std::string> qnRunInputs();

// What input, one of the run's inputs as qnRunInputs names it, is to the
// user: "the plug-in's library", "the plug-in's settings", "the plug-in's
// skin", "the plug-in's help guide", "the plug-in's window backend" for
// the files the program said are so; else "the program's own file", "the
// loaded library" (mapped into the process, wherever the loader found it),
// or "the input". A name the run was given as a file of its own stays what
// it was said to be.
std::string qnRunInputWhat(const std::string& input);

// The same words, from what this process knows already: the files it was
// told of, the program's own, and the libraries that were mapped when the
// inputs were last gathered (qnRunInputs). A refusal is worded with these,
// after the check that gathered the inputs found the one it names; wording
// looks at no file and at no library.
std::string qnRunInputWords(const std::string& input);

// Why a file the program writes for its own use may not be written at
// path, in one line that names the file it would write over, or empty: it
// leads to one of the run's inputs, by qnInputRefusal's rule. The input
// that names path's own place (the settings file the run also reads) is no
// other file.
QnRefusal qnOwnFileRefusal(const std::string& path);

// The i-th file of this copy's list, null past its end, and what it is
// (qnRunInputWhat's words). Exported by the host program for the plug-in's
// copy to find.
extern "C" const char* qnRunInputAt(unsigned long i);
extern "C" const char* qnRunInputWhatAt(unsigned long i);

// ---- The file the run will write --------------------------------------------
//
// The run's own output (the host program's OUTPUT, written once the plug-in
// is applied) is no input, yet no other writer of the run may take it: what
// it wrote there would be replaced without a word when the run ends. It is
// named here from the moment it was judged fit until its own writer is
// about to write it, and the gate (core/SafeFile.h) refuses every other
// write that leads to it, by qnInputRefusal's rule. The plug-in's copy
// reads the host program's list as it reads its inputs (the C symbol
// qnRunOutputAt).

// Names path ("-" and empty are skipped) as a file the run will write.
void qnAddRunOutput(const std::string& path);
// Forgets path, just before its own writer writes it.
void qnDropRunOutput(const std::string& path);
// Why a write to path would land on a file the run will write, in one line
// that names both, or empty.
QnRefusal qnRunOutputRefusal(const std::string& path);
// The i-th name of this copy's list (empty once dropped), null past its
// end. Exported by the host program for the plug-in's copy to find.
extern "C" const char* qnRunOutputAt(unsigned long i);
