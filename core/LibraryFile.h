// Whether a file may be handed to the system's loader as a library.
//
// The loader maps a library's segments as its headers say and believes
// what it finds there. A file that ends before them (a copy cut short by a
// full disk) is touched past its end at the first call; one of the right
// length whose tail was lost (zeros or garbage where a copy stopped on a
// disk that preallocates, blocks lost in a crash) hands the loader and the
// caller code and tables that are not there. Either kills the process with
// a signal after dlopen said yes. So the file is judged first: its headers
// against its size, its dynamic table, and its section table, which the
// linker writes last, at the very end of the file: a lost tail always
// takes it, or part of it, with it.
#pragma once

#include <string>

enum class qnLibraryFile {
    Sound,       // an ELF library of this machine, whole as far as can be told
    NotLibrary,  // no ELF file, one of another machine or word size, or no library
    CutShort,    // its headers or a part the loader maps end past its end
    Damaged,     // of the right length, but its tables do not hold together
    Unreadable,  // it could not be opened or read (the loader says why)
};

// Judges the file at path; for CutShort and Damaged, why holds the words
// that say so ("it is cut short: ...", "it is damaged: ...").
qnLibraryFile qnJudgeLibraryFile(const std::string& path, std::string& why);
