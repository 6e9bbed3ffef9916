// What the programs print: names read from files, made safe for a terminal,
// and standard output, checked when a program ends.
#pragma once

#include "core/Refusal.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// A name from a file as it may go to a terminal: control characters (C0,
// DEL and the C1 range) and bytes that are no part of valid UTF-8 become
// "\xNN", one escape a byte, and a backslash becomes "\\"; everything else,
// letters of any script included, stays as it is. Every backslash printed
// thus begins an escape, so the printed text tells the bytes apart.
std::string qnShownName(std::string_view name);

// The same with the shell's own controls alone escaped (C0, DEL, C1 and
// bytes that are no UTF-8), for a whole line of text that may hold names
// already shown: a file name with a newline never makes a message of two
// lines. A backslash stays as it is.
std::string qnShownLine(std::string_view text);

// Call first in main. Descriptors 0 to 2 that were closed when the program
// started are held by /dev/null, open the wrong way round (reading for 1
// and 2, writing for 0), so that no file the program opens takes their
// place and every write there fails as a write to a closed descriptor does
// (EBADF). When the program ends (returning from main or by exit), standard
// output (std::cout and stdout) is flushed and closed; a write to it that
// failed, then or before, ends the program with one line on standard error,
// "PROGRAM: cannot write -: no space left on device", and failureCode, or
// the exit code it was ending with when that was not 0: a program whose
// output was lost never reports success. A write past the file-size limit
// fails as a write (EFBIG) rather than ending the program.
void qnCheckStandardOutputAtExit(const char* program, int failureCode);

// The name the line above begins with from now on ("tessolo-tool convert"),
// for a program whose commands name themselves in their messages.
void qnNameProgram(const std::string& program);

// The name a line the program prints begins with: the one given above or to
// qnCheckStandardOutputAtExit, else (a library in another's process) the
// process's own.
std::string qnProgramName();

// Why standard output may not take a program's output, or empty: it is one
// of inputs (the same file, by device and inode), which writing would
// replace or append to. Worded as any output that leads to an input.
QnRefusal qnStandardOutputOverInput(const std::vector<std::string>& inputs);

// Every file this program reads passes here when it is opened (fd) or
// named as an input (fd -1: path is looked at). When standard output is that
// very file, which every line the program prints would append to or write
// over, the program ends at once, before any work, with one line in the
// words of any output that leads to an input ("PROGRAM: cannot write -: it
// would write over the input X; name another output") and its failure
// code. Only in a program that called qnCheckStandardOutputAtExit: a
// library in another's process leaves its standard output alone.
void qnRefuseStandardOutputOnInput(int fd, const std::string& path);

// Writes a block to standard output as fwrite does; false when it failed.
// The system's reason is kept for the check at exit, which reports it: a
// large block that fails is written past the stream's buffer, and the
// stream alone would forget why.
bool qnWriteStandardOutput(const void* data, size_t size);

// Why the name of an output does not say one of the formats a program
// writes there, in one line that names them ("OUT: the name must end in
// .png, the format it is written in"), or empty. Endings are matched in any
// letter case. Standard output ("-") takes any format, and a FIFO, socket or
// device (links followed) is left to be refused for what it is.
QnRefusal qnOutputNameRefusal(const std::string& path, const std::vector<std::string>& endings);
