// Whether a file may be handed to the system's loader as a library.
//
// The loader maps a library's segments as its headers say, and takes a file
// that ends before them (a copy cut short by a full disk): the first touch
// of a page past the end then kills the process with a bus error, after
// dlopen said yes. The headers are judged against the file's size first,
// so that such a file is refused in words.
#pragma once

#include <string>

enum class qnLibraryFile {
    Sound,       // an ELF file of this machine whose loaded parts all lie in it
    NotLibrary,  // no ELF file, or one of another machine or word size
    CutShort,    // its headers or a part the loader maps end past its end
    Unreadable,  // it could not be opened or read (the loader says why)
};

// Judges the file at path; for CutShort, why holds the words that say so
// ("it is cut short: ...").
qnLibraryFile qnJudgeLibraryFile(const std::string& path, std::string& why);
