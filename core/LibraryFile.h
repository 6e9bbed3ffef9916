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
// that holds a checksum of what the loader maps (XXH3, made for speed: the
// host checks it on every load), written after linking (qnSealLibraryFile).
// A library that carries the note is whole only when it matches; one
// without it (a system library, another program's plug-in) is judged by
// its tables alone, unless the caller requires the seal (a library that is
// always this plug-in's own).
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
    CutShort,    // it ends inside what its headers place in it, as a copy that stopped does
    Damaged,     // its headers or tables do not hold together, its seal does not match, or a required seal is missing
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
// "it cannot be read: ...") and what to do. It reads the headers, the
// tables and the mapped bytes, never the rest, and compares lengths before
// it reads. A file that reads as a library of this machine but for one
// changed field of its identity (its magic, class, byte order, type or
// machine one bit from this machine's) is damaged, not another kind of file.
qnLibraryFile qnJudgeLibraryFile(const std::string& path, std::string& why,
                                 qnLibrarySeal seal = qnLibrarySeal::Optional, const qnLibraryRead& read = {});
// As qnJudgeLibraryFile, of a file open for reading at fd.
qnLibraryFile qnJudgeLibraryFd(int fd, std::string& why, qnLibrarySeal seal = qnLibrarySeal::Optional,
                               const qnLibraryRead& read = qnLibraryRead{});

// A library opened once, judged and then loaded from the same open file: a
// file renamed over its name in between is neither judged nor loaded.
class qnOpenLibrary {
public:
    // Opens path for reading; a FIFO or a device is refused without waiting.
    explicit qnOpenLibrary(const std::string& path);
    ~qnOpenLibrary();
    qnOpenLibrary(const qnOpenLibrary&) = delete;
    qnOpenLibrary& operator=(const qnOpenLibrary&) = delete;

    // 0 when opened, else why it could not be (errno).
    int OpenError() const { return m_fd < 0 ? m_error : 0; }
    // As qnJudgeLibraryFile, of the open file.
    qnLibraryFile Judge(std::string& why, qnLibrarySeal seal = qnLibrarySeal::Optional,
                        const qnLibraryRead& read = {});
    // dlopen of the open file (flags as dlopen's); null with dlerror set.
    // The loader knows a library by the name it was opened by, here the
    // descriptor's: one loaded for the first time keeps the descriptor open
    // for the rest of the process, so that its name stays its file's (the
    // library's folder is found through it) and is never another file's.
    void* Load(int flags);
    // Why Load failed: the loader's words, the file named by its path.
    const std::string& LoadError() const { return m_loadError; }

    // Called between the judge and the load (tests swap the file there).
    static void SetJudgedHook(std::function<void(const std::string& path)> hook);

private:
    std::string m_path;
    int m_fd = -1;
    int m_error = 0;
    std::string m_loadError;
};

// The file a library the loader knows by name is: for one loaded by
// qnOpenLibrary, whose name is its descriptor's (/proc/self/fd/N), the path
// that descriptor leads to; any other name as it is.
std::string qnLoadedLibraryFile(const std::string& name);

// The seal note: owner "Tessolo", of type kQnSealNoteType, in a section of
// its own (kQnSealSection), in a loaded segment. Its description is the
// XXH3 (64 bits) of the loaded segments' file bytes, in the order of the
// program headers, counted with these 8 bytes and the header's
// section-table fields (e_shoff, e_shnum, e_shstrndx) as zeros; then where
// the loaded bytes end in the file (8 bytes) and the low 4 bytes of that
// length's complement, all in the machine's byte order. All zeros: a
// library linked but never sealed. A library sealed the older way holds a
// CRC-32 in the same room, in a note of type kQnOlderSealNoteType: it is
// refused with words that say to seal it again, which tessolo-seal does.
inline constexpr const char* kQnSealSection = ".note.tessolo";
inline constexpr uint32_t kQnSealNoteType = 0x33414553;
inline constexpr uint32_t kQnOlderSealNoteType = 0x4c414553;
inline constexpr uint32_t kQnSealSize = 20;
struct qnLibrarySealNote {
    uint32_t nameSize = 8;
    uint32_t descriptionSize = kQnSealSize;
    uint32_t type = kQnSealNoteType;
    char name[8] = {'T', 'e', 's', 's', 'o', 'l', 'o', 0};
    unsigned char description[kQnSealSize] = {};
};

// Seals the library at path, which carries the note (or one sealed the
// older way): writes the loaded bytes' length and checksum into the note
// and replaces the file through the safe writer.
// Empty, or one line that names the file and the fault.
std::string qnSealLibraryFile(const std::string& path);
