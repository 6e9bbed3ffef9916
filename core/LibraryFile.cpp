#include "core/LibraryFile.h"

#include <cstdint>
#include <cstring>

#include <elf.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

#if UINTPTR_MAX == 0xFFFFFFFFFFFFFFFFu
using Ehdr = Elf64_Ehdr;
using Phdr = Elf64_Phdr;
constexpr unsigned char kClass = ELFCLASS64;
#else
using Ehdr = Elf32_Ehdr;
using Phdr = Elf32_Phdr;
constexpr unsigned char kClass = ELFCLASS32;
#endif

#if defined(__x86_64__)
constexpr uint16_t kMachine = EM_X86_64;
#elif defined(__aarch64__)
constexpr uint16_t kMachine = EM_AARCH64;
#elif defined(__i386__)
constexpr uint16_t kMachine = EM_386;
#else
constexpr uint16_t kMachine = EM_NONE;  // not judged: the loader says
#endif

bool ReadAt(int fd, uint64_t at, void* into, size_t n)
{
    auto* p = static_cast<unsigned char*>(into);
    while (n > 0) {
        const ssize_t got = ::pread(fd, p, n, off_t(at));
        if (got <= 0)
            return false;
        p += got;
        at += uint64_t(got);
        n -= size_t(got);
    }
    return true;
}

std::string CutShort(uint64_t size, uint64_t needed)
{
    return "it is cut short: the file has " + std::to_string(size) + " bytes and its headers need " +
           std::to_string(needed) + " (a copy that did not finish?)";
}

}  // namespace

qnLibraryFile qnJudgeLibraryFile(const std::string& path, std::string& why)
{
    why.clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return qnLibraryFile::Unreadable;
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat st;
    if (::fstat(fd, &st) != 0)
        return qnLibraryFile::Unreadable;
    const uint64_t size = uint64_t(st.st_size);
    unsigned char ident[EI_NIDENT] = {};
    if (size < SELFMAG)
        return qnLibraryFile::NotLibrary;
    if (!ReadAt(fd, 0, ident, SELFMAG))
        return qnLibraryFile::Unreadable;
    if (std::memcmp(ident, ELFMAG, SELFMAG) != 0)
        return qnLibraryFile::NotLibrary;
    if (size < sizeof(Ehdr)) {
        why = CutShort(size, sizeof(Ehdr));
        return qnLibraryFile::CutShort;
    }
    Ehdr header;
    if (!ReadAt(fd, 0, &header, sizeof header))
        return qnLibraryFile::Unreadable;
    if (header.e_ident[EI_CLASS] != kClass || (kMachine != EM_NONE && header.e_machine != kMachine))
        return qnLibraryFile::NotLibrary;
    if (header.e_phentsize != sizeof(Phdr) || header.e_phnum == 0)
        return qnLibraryFile::NotLibrary;
    const uint64_t tableEnd = uint64_t(header.e_phoff) + uint64_t(header.e_phnum) * sizeof(Phdr);
    if (tableEnd > size) {
        why = CutShort(size, tableEnd);
        return qnLibraryFile::CutShort;
    }
    uint64_t needed = 0;
    for (uint16_t i = 0; i < header.e_phnum; ++i) {
        Phdr segment;
        if (!ReadAt(fd, uint64_t(header.e_phoff) + uint64_t(i) * sizeof(Phdr), &segment, sizeof segment))
            return qnLibraryFile::Unreadable;
        if (segment.p_type != PT_LOAD)
            continue;
        const uint64_t end = uint64_t(segment.p_offset) + uint64_t(segment.p_filesz);
        if (end < uint64_t(segment.p_offset))  // wraps: no file holds it
            return qnLibraryFile::NotLibrary;
        needed = end > needed ? end : needed;
    }
    if (needed > size) {
        why = CutShort(size, needed);
        return qnLibraryFile::CutShort;
    }
    return qnLibraryFile::Sound;
}
