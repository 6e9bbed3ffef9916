#include "core/LibraryFile.h"

#include <cstdint>
#include <cstring>
#include <vector>

#include <elf.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

#if UINTPTR_MAX == 0xFFFFFFFFFFFFFFFFu
using Ehdr = Elf64_Ehdr;
using Phdr = Elf64_Phdr;
using Shdr = Elf64_Shdr;
using Dyn = Elf64_Dyn;
constexpr unsigned char kClass = ELFCLASS64;
#else
using Ehdr = Elf32_Ehdr;
using Phdr = Elf32_Phdr;
using Shdr = Elf32_Shdr;
using Dyn = Elf32_Dyn;
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

// Far more entries than any linker writes in a dynamic table; a table
// without its end within them is not one.
constexpr uint64_t kMostDynamicEntries = 4096;

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

std::string DamagedWords(const char* what)
{
    return std::string("it is damaged: ") + what + " (a copy that did not finish, or a disk that lost blocks?)";
}

// [at, at + n) within [0, size), without wrapping.
bool Within(uint64_t at, uint64_t n, uint64_t size) { return at <= size && n <= size - at; }

// One file being judged: its size, and its loaded segments, by which an
// address of the running library is found in the file.
struct Library {
    int fd;
    uint64_t size;
    std::vector<Phdr> loads;

    // The file offset of the n bytes at address addr, all inside the part
    // of one segment the file holds; false when they are not.
    bool Offset(uint64_t addr, uint64_t n, uint64_t& at) const
    {
        for (const Phdr& p : loads)
            if (addr >= p.p_vaddr && Within(addr - p.p_vaddr, n, p.p_filesz)) {
                at = p.p_offset + (addr - p.p_vaddr);
                return true;
            }
        return false;
    }

    // A string table of n bytes at offset at: begins and ends with a NUL,
    // as every table the linker writes does.
    bool StringTable(uint64_t at, uint64_t n) const
    {
        unsigned char first = 1, last = 1;
        return n > 0 && Within(at, n, size) && ReadAt(fd, at, &first, 1) && ReadAt(fd, at + n - 1, &last, 1) &&
               first == 0 && last == 0;
    }
};

// The dynamic table, by which the loader finds the library's symbols,
// names and relocations: it must end, and each table it names must lie in
// the file, in the segment that holds it.
bool DynamicHolds(const Library& lib, const Phdr& dynamic, bool& program)
{
    program = false;
    if (!Within(dynamic.p_offset, dynamic.p_filesz, lib.size))
        return false;
    uint64_t count = dynamic.p_filesz / sizeof(Dyn);
    count = count < kMostDynamicEntries ? count : kMostDynamicEntries;
    std::vector<Dyn> entries(size_t(count), Dyn{});
    if (count == 0 || !ReadAt(lib.fd, dynamic.p_offset, entries.data(), entries.size() * sizeof(Dyn)))
        return false;
    uint64_t value[DT_NUM] = {};
    bool seen[DT_NUM] = {}, ended = false, hash = false;
    std::vector<uint64_t> names;  // offsets into the string table
    for (const Dyn& d : entries) {
        if (d.d_tag == DT_NULL) {
            ended = true;
            break;
        }
        if (d.d_tag == DT_NEEDED || d.d_tag == DT_SONAME || d.d_tag == DT_RPATH || d.d_tag == DT_RUNPATH)
            names.push_back(uint64_t(d.d_un.d_val));
        if (d.d_tag == DT_GNU_HASH)
            hash = true;
        if (d.d_tag == DT_FLAGS_1 && (d.d_un.d_val & DF_1_PIE) != 0)
            program = true;
        if (d.d_tag >= 0 && d.d_tag < DT_NUM) {
            value[d.d_tag] = uint64_t(d.d_un.d_val);
            seen[d.d_tag] = true;
        }
    }
    if (!ended || !seen[DT_STRTAB] || !seen[DT_STRSZ] || !seen[DT_SYMTAB] || !(hash || seen[DT_HASH]))
        return false;
    uint64_t at = 0;
    if (!lib.Offset(value[DT_STRTAB], value[DT_STRSZ], at) || !lib.StringTable(at, value[DT_STRSZ]))
        return false;
    for (const uint64_t name : names)
        if (name >= value[DT_STRSZ])
            return false;
    if (!lib.Offset(value[DT_SYMTAB], 1, at))
        return false;
    // Each table given with its size.
    const struct {
        int table, bytes;
    } sized[] = {{DT_RELA, DT_RELASZ},
                 {DT_REL, DT_RELSZ},
                 {DT_JMPREL, DT_PLTRELSZ},
                 {DT_INIT_ARRAY, DT_INIT_ARRAYSZ},
                 {DT_FINI_ARRAY, DT_FINI_ARRAYSZ}};
    for (const auto& s : sized)
        if (seen[s.table] && value[s.bytes] > 0 && !lib.Offset(value[s.table], value[s.bytes], at))
            return false;
    return true;
}

// The section table: every section named in its table of names, of a kind
// that exists, in the file, and where it is loaded, in the segment that
// loads it at the same place.
enum class Sections { Hold, CutShort, Broken, Names };

Sections SectionsHold(const Library& lib, const Ehdr& header, uint64_t& needed)
{
    if (header.e_shoff == 0 && header.e_shnum == 0)
        return Sections::Hold;  // stripped of it: nothing to judge
    if (header.e_shentsize != sizeof(Shdr))
        return Sections::Broken;
    Shdr first{};
    if (!Within(header.e_shoff, sizeof(Shdr), lib.size)) {
        needed = uint64_t(header.e_shoff) + sizeof(Shdr);
        return header.e_shoff > lib.size ? Sections::CutShort : Sections::Broken;
    }
    if (!ReadAt(lib.fd, header.e_shoff, &first, sizeof first))
        return Sections::Broken;
    // More sections than the header can count are counted in the first.
    const uint64_t count = header.e_shnum != 0 ? header.e_shnum : uint64_t(first.sh_size);
    const uint64_t namesIndex = header.e_shstrndx != SHN_XINDEX ? header.e_shstrndx : uint64_t(first.sh_link);
    if (count > lib.size / sizeof(Shdr) || !Within(header.e_shoff, count * sizeof(Shdr), lib.size)) {
        needed = uint64_t(header.e_shoff) + count * sizeof(Shdr);
        return header.e_shnum != 0 ? Sections::CutShort : Sections::Broken;
    }
    if (count < 2 || namesIndex == 0 || namesIndex >= count)
        return Sections::Broken;
    std::vector<Shdr> table(size_t(count), Shdr{});
    if (!ReadAt(lib.fd, header.e_shoff, table.data(), table.size() * sizeof(Shdr)))
        return Sections::Broken;
    if (first.sh_type != SHT_NULL || first.sh_flags != 0 || first.sh_addr != 0 || first.sh_offset != 0)
        return Sections::Broken;
    const Shdr& namesSection = table[size_t(namesIndex)];
    if (namesSection.sh_type != SHT_STRTAB || !lib.StringTable(namesSection.sh_offset, namesSection.sh_size))
        return Sections::Names;
    std::vector<char> names(size_t(namesSection.sh_size));
    if (!ReadAt(lib.fd, namesSection.sh_offset, names.data(), names.size()))
        return Sections::Names;
    for (size_t i = 1; i < table.size(); ++i) {
        const Shdr& s = table[i];
        const uint32_t type = s.sh_type;
        const bool known = (type != SHT_NULL && type < SHT_NUM) || (type >= SHT_LOOS && type <= SHT_HIPROC);
        if (!known || s.sh_link >= count || (s.sh_addralign & (s.sh_addralign - 1)) != 0 || s.sh_entsize > 4096)
            return Sections::Broken;
        if (s.sh_name == 0 || s.sh_name >= names.size())
            return Sections::Names;
        if (type == SHT_NOBITS)
            continue;
        if (s.sh_size > 0 && (s.sh_offset < sizeof(Ehdr) || !Within(s.sh_offset, s.sh_size, lib.size)))
            return Sections::Broken;
        if ((type == SHT_SYMTAB || type == SHT_DYNSYM) && table[s.sh_link].sh_type != SHT_STRTAB)
            return Sections::Broken;
        if (type == SHT_STRTAB && !lib.StringTable(s.sh_offset, s.sh_size))
            return Sections::Broken;
        uint64_t at = 0;
        if ((s.sh_flags & SHF_ALLOC) != 0 && s.sh_size > 0 &&
            (!lib.Offset(s.sh_addr, s.sh_size, at) || at != s.sh_offset))
            return Sections::Broken;
    }
    return Sections::Hold;
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
    Library lib{fd, uint64_t(st.st_size), {}};
    const uint64_t size = lib.size;
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
    // A program or an object file is no library the loader opens.
    if (header.e_type != ET_DYN || header.e_phentsize != sizeof(Phdr) || header.e_phnum == 0)
        return qnLibraryFile::NotLibrary;
    const uint64_t tableEnd = uint64_t(header.e_phoff) + uint64_t(header.e_phnum) * sizeof(Phdr);
    if (tableEnd > size) {
        why = CutShort(size, tableEnd);
        return qnLibraryFile::CutShort;
    }
    std::vector<Phdr> segments(header.e_phnum, Phdr{});
    if (!ReadAt(fd, header.e_phoff, segments.data(), segments.size() * sizeof(Phdr)))
        return qnLibraryFile::Unreadable;
    uint64_t needed = 0;
    const Phdr* dynamic = nullptr;
    for (const Phdr& segment : segments) {
        if (segment.p_type == PT_DYNAMIC)
            dynamic = &segment;
        if (segment.p_type != PT_LOAD)
            continue;
        const uint64_t end = uint64_t(segment.p_offset) + uint64_t(segment.p_filesz);
        if (end < uint64_t(segment.p_offset))  // wraps: no file holds it
            return qnLibraryFile::NotLibrary;
        needed = end > needed ? end : needed;
        lib.loads.push_back(segment);
    }
    if (lib.loads.empty() || !dynamic)
        return qnLibraryFile::NotLibrary;
    if (needed > size) {
        why = CutShort(size, needed);
        return qnLibraryFile::CutShort;
    }
    switch (SectionsHold(lib, header, needed)) {
    case Sections::Hold:
        break;
    case Sections::CutShort:
        why = CutShort(size, needed);
        return qnLibraryFile::CutShort;
    case Sections::Names:
        why = DamagedWords("the names of its sections are not whole");
        return qnLibraryFile::Damaged;
    case Sections::Broken:
        why = DamagedWords("its table of sections is not whole");
        return qnLibraryFile::Damaged;
    }
    bool program = false;
    if (!DynamicHolds(lib, *dynamic, program)) {
        why = DamagedWords("its table for the loader is not whole");
        return qnLibraryFile::Damaged;
    }
    // A program built to load anywhere is of the same kind, and no library.
    return program ? qnLibraryFile::NotLibrary : qnLibraryFile::Sound;
}
