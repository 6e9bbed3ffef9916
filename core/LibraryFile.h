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
//
// Blocks lost or scrambled in the middle of a file leave those tables
// whole, so the plug-in's own libraries carry a seal as well: an ELF note
// that holds the file's length and its CRC-32, written after linking
// (qnSealLibraryFile). A library that carries the note is whole only when
// both match; one without it (a system library, another program's
// plug-in) is judged by its tables alone.
#pragma once

#include <cstdint>
#include <string>

enum class qnLibraryFile {
    Sound,       // an ELF library of this machine, whole as far as can be told
    NotLibrary,  // no ELF file, one of another machine or word size, or no library
    CutShort,    // its headers or a part the loader maps end past its end
    Damaged,     // of the right length, but its tables do not hold together, or its seal does not match
    Unreadable,  // it could not be opened or read (the loader says why)
};

// Judges the file at path; for CutShort and Damaged, why holds the words
// that say so ("it is cut short: ...", "it is damaged: ...").
qnLibraryFile qnJudgeLibraryFile(const std::string& path, std::string& why);

// The seal note: owner "Tessolo", of type kQnSealNoteType, in a section of
// its own (kQnSealSection). Its description is the CRC-32 of the whole
// file, counted with these 4 bytes as zeros, then the file's length and
// the length's complement (8 bytes each, in the machine's byte order), so
// that a changed length is told from a file cut short. All zeros: a
// library linked but never sealed.
inline constexpr const char* kQnSealSection = ".note.tessolo";
inline constexpr uint32_t kQnSealNoteType = 0x4c414553;
inline constexpr uint32_t kQnSealSize = 20;
struct qnLibrarySealNote {
    uint32_t nameSize = 8;
    uint32_t descriptionSize = kQnSealSize;
    uint32_t type = kQnSealNoteType;
    char name[8] = {'T', 'e', 's', 's', 'o', 'l', 'o', 0};
    unsigned char description[kQnSealSize] = {};
};

// Seals the library at path, which carries the note: writes its length and
// CRC-32 into the note and replaces the file through the safe writer.
// Empty, or one line that names the file and the fault.
std::string qnSealLibraryFile(const std::string& path);
