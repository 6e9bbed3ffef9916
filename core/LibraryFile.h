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
// that holds the CRC-32 of what the loader maps, written after linking
// (qnSealLibraryFile). A library that carries the note is whole only when
// it matches; one without it (a system library, another program's
// plug-in) is judged by its tables alone, unless the caller requires the
// seal (a library that is always this plug-in's own).
//
// Only the mapped bytes are sealed, so that what packagers do to a
// library keeps it whole: strip (of debug data, of symbols) and a debug
// link rewrite the file's unmapped sections and its section table, and
// leave every loaded segment as it was, but for the header's fields that
// say where the section table is.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include <sys/types.h>

enum class qnLibraryFile {
    Sound,       // an ELF library of this machine, whole as far as can be told
    NotLibrary,  // no ELF file, one of another machine or word size, or no library
    CutShort,    // its headers or a part the loader maps end past its end
    Damaged,     // its tables do not hold together, its seal does not match, or a required seal is missing
    ReadFails,   // it was opened, but reading it failed: never to be handed to the loader
    Unreadable,  // it could not be opened (the loader says why)
};

// Whether a library without the seal may still be judged by its tables.
enum class qnLibrarySeal { Optional, Required };

// How the judge reads the file, as pread(2) does. Tests hand one that
// counts the bytes read or fails.
using qnLibraryRead = std::function<ssize_t(int fd, void* into, size_t n, off_t at)>;

// Judges the file at path; for CutShort, Damaged and ReadFails, why holds
// the words that say so ("it is cut short: ...", "it is damaged: ...",
// "it cannot be read: ..."). It reads the headers, the tables and the
// mapped bytes, never the rest, and compares lengths before it reads.
qnLibraryFile qnJudgeLibraryFile(const std::string& path, std::string& why,
                                 qnLibrarySeal seal = qnLibrarySeal::Optional, const qnLibraryRead& read = {});

// The seal note: owner "Tessolo", of type kQnSealNoteType, in a section of
// its own (kQnSealSection), in a loaded segment. Its description is the
// CRC-32 of the loaded segments' file bytes, in the order of the program
// headers, counted with these 4 bytes and the header's section-table
// fields (e_shoff, e_shnum, e_shstrndx) as zeros; then where the loaded
// bytes end in the file and that length's complement (8 bytes each, in the
// machine's byte order). All zeros: a library linked but never sealed.
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

// Seals the library at path, which carries the note: writes the loaded
// bytes' length and CRC-32 into the note and replaces the file through
// the safe writer.
// Empty, or one line that names the file and the fault.
std::string qnSealLibraryFile(const std::string& path);
