#include "core/LibraryFile.h"
#include "core/SealHash.h"

#include "core/ErrorWords.h"
#include "core/SafeFile.h"
#include "core/StdFile.h"

#include <algorithm>
#include <climits>
#include <bit>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

#include <dlfcn.h>
#include <elf.h>
#include <fcntl.h>
#include <link.h>
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

#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
constexpr unsigned char kData = ELFDATA2LSB, kOtherData = ELFDATA2MSB;
#else
constexpr unsigned char kData = ELFDATA2MSB, kOtherData = ELFDATA2LSB;
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
// Far more than the notes, or the names of the sections, of any library;
// a larger part is none of them.
constexpr uint64_t kMostNoteBytes = uint64_t(1) << 20;
// Far more sections than any linker writes (a table of 64 MiB); a count
// above it is a changed one, never read.
constexpr uint64_t kMostSections = uint64_t(1) << 20;

// What to do about a library that is not whole, said by every refusal.
const char kAgain[] = "; install or copy it again";

std::string CutShort(uint64_t size, uint64_t needed)
{
    return "it is cut short: the file has " + std::to_string(size) + " bytes and its headers need " +
           std::to_string(needed) + " (a copy that did not finish?)" + kAgain;
}

std::string DamagedWords(const char* what)
{
    return std::string("it is damaged: ") + what + " (a copy that did not finish, or a disk that lost blocks?)" +
           kAgain;
}

// [at, at + n) within [0, size), without wrapping.
bool Within(uint64_t at, uint64_t n, uint64_t size) { return at <= size && n <= size - at; }

// a + b * c, false when it does not fit in 64 bits.
bool Sum(uint64_t a, uint64_t b, uint64_t c, uint64_t& sum)
{
    uint64_t product = 0;
    return !__builtin_mul_overflow(b, c, &product) && !__builtin_add_overflow(a, product, &sum);
}

// One file being judged: its size, how it is read, and its loaded
// segments, by which an address of the running library is found in the
// file. The first read that fails is kept: the file is then refused for
// it, whatever the part that read it would have concluded.
struct Library {
    int fd;
    uint64_t size;
    const qnLibraryRead* reader = nullptr;
    std::vector<Phdr> loads;
    bool failed = false;
    int error = 0;  // of the read that failed; 0: the file ended first

    bool Read(uint64_t at, void* into, size_t n)
    {
        auto* p = static_cast<unsigned char*>(into);
        while (n > 0 && !failed) {
            errno = 0;
            const ssize_t got = reader && *reader ? (*reader)(fd, p, n, off_t(at)) : ::pread(fd, p, n, off_t(at));
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0) {
                failed = true;
                error = got < 0 ? errno : 0;
                break;
            }
            p += got;
            at += uint64_t(got);
            n -= size_t(got);
        }
        return !failed;
    }

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

    // Whether the n bytes at file offset at are all inside one loaded part.
    bool Mapped(uint64_t at, uint64_t n) const
    {
        for (const Phdr& p : loads)
            if (at >= p.p_offset && Within(at - p.p_offset, n, p.p_filesz))
                return true;
        return false;
    }

    // A string table of n bytes at offset at: begins and ends with a NUL,
    // as every table the linker writes does.
    bool StringTable(uint64_t at, uint64_t n)
    {
        unsigned char first = 1, last = 1;
        return n > 0 && Within(at, n, size) && Read(at, &first, 1) && Read(at + n - 1, &last, 1) && first == 0 &&
               last == 0;
    }
};

// The dynamic table, by which the loader finds the library's symbols,
// names and relocations: it must end, and each table it names must lie in
// the file, in the segment that holds it.
bool DynamicHolds(Library& lib, const Phdr& dynamic, bool& program)
{
    program = false;
    if (!Within(dynamic.p_offset, dynamic.p_filesz, lib.size))
        return false;
    uint64_t count = dynamic.p_filesz / sizeof(Dyn);
    count = count < kMostDynamicEntries ? count : kMostDynamicEntries;
    std::vector<Dyn> entries(size_t(count), Dyn{});
    if (count == 0 || !lib.Read(dynamic.p_offset, entries.data(), entries.size() * sizeof(Dyn)))
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

// The section table, read by the one reader every part uses: where it is,
// and how many sections it counts and which holds their names, honouring
// the counts too large for the header (kept in the first section).
struct SectionTable {
    enum Status { None, Read, CutShort, Broken } status = None;
    std::vector<Shdr> table;
    uint64_t namesIndex = 0;
    uint64_t needed = 0;      // CutShort: where the table ends
    std::vector<char> names;  // the names' bytes, when they could be read
};

// Whether a section table the header places past the end is one a copy
// that stopped cut short: where the linker puts it (aligned, starting in
// the file), its first entry the empty one, the file ending inside an
// entry. A header changed to place the table elsewhere, or to count more
// entries than it has, fails one of them: its table is damaged.
bool TableCutShort(Library& lib, const Ehdr& header)
{
    const uint64_t at = header.e_shoff;
    if (header.e_shnum == 0 || at % alignof(Shdr) != 0 || at > lib.size || (lib.size - at) % sizeof(Shdr) == 0)
        return false;
    if (!Within(at, sizeof(Shdr), lib.size))
        return true;
    Shdr first{};
    static const Shdr empty{};
    return lib.Read(at, &first, sizeof first) && std::memcmp(&first, &empty, sizeof first) == 0;
}

SectionTable ReadSections(Library& lib, const Ehdr& header)
{
    SectionTable sections;
    if (header.e_shoff == 0 && header.e_shnum == 0)
        return sections;  // stripped of it: nothing to judge
    sections.status = SectionTable::Broken;
    if (header.e_shentsize != sizeof(Shdr))
        return sections;
    Shdr first{};
    uint64_t count = header.e_shnum, end = 0;
    if (Within(header.e_shoff, sizeof(Shdr), lib.size)) {
        if (!lib.Read(header.e_shoff, &first, sizeof first))
            return sections;
        // More sections than the header can count are counted in the first.
        if (count == 0)
            count = first.sh_size;
    }
    if (!Sum(header.e_shoff, count, sizeof(Shdr), end) || end > lib.size) {
        if (Sum(header.e_shoff, count, sizeof(Shdr), end) && TableCutShort(lib, header)) {
            sections.needed = end;
            sections.status = SectionTable::CutShort;
        }
        return sections;
    }
    sections.namesIndex = header.e_shstrndx != SHN_XINDEX ? header.e_shstrndx : uint64_t(first.sh_link);
    if (count < 2 || count > kMostSections || sections.namesIndex == 0 || sections.namesIndex >= count)
        return sections;
    sections.table.assign(size_t(count), Shdr{});
    if (!lib.Read(header.e_shoff, sections.table.data(), sections.table.size() * sizeof(Shdr)))
        return sections;
    const Shdr& names = sections.table[size_t(sections.namesIndex)];
    if (names.sh_size <= kMostNoteBytes && Within(names.sh_offset, names.sh_size, lib.size)) {
        sections.names.resize(size_t(names.sh_size));
        if (!lib.Read(names.sh_offset, sections.names.data(), sections.names.size()))
            sections.names.clear();
    }
    sections.status = SectionTable::Read;
    return sections;
}

// The section table: every section named in its table of names, of a kind
// that exists, in the file, and where it is loaded, in the segment that
// loads it at the same place.
enum class Sections { Hold, Broken, Names };

Sections SectionsHold(Library& lib, const SectionTable& sections)
{
    if (sections.status == SectionTable::None)
        return Sections::Hold;
    if (sections.status != SectionTable::Read)
        return Sections::Broken;
    const std::vector<Shdr>& table = sections.table;
    const uint64_t count = table.size();
    const Shdr& first = table[0];
    if (first.sh_type != SHT_NULL || first.sh_flags != 0 || first.sh_addr != 0 || first.sh_offset != 0)
        return Sections::Broken;
    const Shdr& namesSection = table[size_t(sections.namesIndex)];
    if (namesSection.sh_type != SHT_STRTAB || sections.names.empty() ||
        !lib.StringTable(namesSection.sh_offset, namesSection.sh_size))
        return Sections::Names;
    for (size_t i = 1; i < table.size(); ++i) {
        const Shdr& s = table[i];
        const uint32_t type = s.sh_type;
        const bool known = (type != SHT_NULL && type < SHT_NUM) || (type >= SHT_LOOS && type <= SHT_HIPROC);
        if (!known || s.sh_link >= count || (s.sh_addralign & (s.sh_addralign - 1)) != 0 || s.sh_entsize > 4096)
            return Sections::Broken;
        if (s.sh_name == 0 || s.sh_name >= sections.names.size())
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

// Where the seal is: found whole (its description's offset in the file),
// found as the older way wrote it, not there, or there but not whole (its
// owner with another type or size, its section without it, or outside
// what the loader maps).
enum class SealAt { None, Found, Older, Broken };

uint64_t AlignUp(uint64_t n, uint64_t align) { return (n + align - 1) / align * align; }

// The notes in the n bytes at offset at, laid out at align.
SealAt SealAmongNotes(Library& lib, uint64_t at, uint64_t n, uint64_t align, uint64_t& description)
{
    if (n < 12 || n > kMostNoteBytes || !Within(at, n, lib.size))
        return SealAt::None;
    std::vector<unsigned char> notes(size_t(n), 0);
    if (!lib.Read(at, notes.data(), notes.size()))
        return SealAt::None;
    const qnLibrarySealNote own;
    for (uint64_t pos = 0; pos + 12 <= n;) {
        uint32_t head[3];
        std::memcpy(head, notes.data() + pos, sizeof head);
        const uint64_t name = pos + 12, desc = name + AlignUp(head[0], align);
        if (head[0] > n || head[1] > n || desc > n)
            break;
        if (head[0] == own.nameSize && std::memcmp(notes.data() + name, own.name, sizeof own.name) == 0) {
            if (head[1] != own.descriptionSize || (head[2] != own.type && head[2] != kQnOlderSealNoteType) ||
                desc + kQnSealSize > n || !lib.Mapped(at + desc, kQnSealSize))
                return SealAt::Broken;
            description = at + desc;
            return head[2] == own.type ? SealAt::Found : SealAt::Older;
        }
        pos = desc + AlignUp(head[1], align);
    }
    return SealAt::None;
}

// Looked for by two roads, so that no one changed byte hides it: the
// segments of notes the program headers list, and the sections of notes
// (and the section of its name, whatever its type says).
SealAt FindSeal(Library& lib, const std::vector<Phdr>& segments, const SectionTable& sections, uint64_t& description)
{
    for (const Phdr& p : segments)
        if (p.p_type == PT_NOTE) {
            const SealAt seal = SealAmongNotes(lib, p.p_offset, p.p_filesz, p.p_align == 8 ? 8 : 4, description);
            if (seal != SealAt::None)
                return seal;
        }
    const std::vector<char>& names = sections.names;
    const size_t ownNameSize = std::strlen(kQnSealSection) + 1;
    for (const Shdr& s : sections.table) {
        const bool own = s.sh_name < names.size() && names.size() - s.sh_name >= ownNameSize &&
                         std::memcmp(names.data() + s.sh_name, kQnSealSection, ownNameSize) == 0;
        if (s.sh_type != SHT_NOTE && !own)
            continue;
        const SealAt seal = SealAmongNotes(lib, s.sh_offset, s.sh_size, s.sh_addralign == 8 ? 8 : 4, description);
        if (seal != SealAt::None)
            return seal;
        if (own)
            return SealAt::Broken;
    }
    return SealAt::None;
}

// The seal's description: the checksum, the length and its complement's
// low 4 bytes.
struct Seal {
    uint64_t sum = 0, length = 0;
    uint32_t check = 0;
    bool never = true;  // all zeros: linked, never sealed
    bool Holds() const { return !never && check == uint32_t(~length); }
};

Seal ReadSeal(const unsigned char* description)
{
    Seal seal;
    std::memcpy(&seal.sum, description, 8);
    std::memcpy(&seal.length, description + 8, 8);
    std::memcpy(&seal.check, description + 16, 4);
    for (uint32_t i = 0; i < kQnSealSize; ++i)
        seal.never = seal.never && description[i] == 0;
    return seal;
}

// Where the loaded bytes end in the file: the sealed length.
uint64_t LoadedEnd(const std::vector<Phdr>& loads)
{
    uint64_t end = 0;
    for (const Phdr& p : loads)
        end = std::max(end, uint64_t(p.p_offset) + uint64_t(p.p_filesz));
    return end;
}

// The XXH3 of the loaded segments' file bytes, the seal's own 8 bytes at
// sumAt and the header's fields that strip and a debug link rewrite
// counted as zeros; fetch reads n bytes at an offset, false when it cannot.
template <class Fetch>
bool LoadedSum(const std::vector<Phdr>& loads, uint64_t sumAt, Fetch&& fetch, uint64_t& sum)
{
    const struct {
        uint64_t at, n;
    } zeros[] = {{sumAt, 8},
                 {offsetof(Ehdr, e_shoff), sizeof(Ehdr::e_shoff)},
                 {offsetof(Ehdr, e_shnum), sizeof(Ehdr::e_shnum)},
                 {offsetof(Ehdr, e_shstrndx), sizeof(Ehdr::e_shstrndx)}};
    constexpr uint64_t kBlock = uint64_t(1) << 18;
    // Every byte of it is read before it is counted: never cleared first.
    const auto block = std::make_unique_for_overwrite<unsigned char[]>(size_t(std::min(kBlock, LoadedEnd(loads))));
    qnSealHash hash;
    for (const Phdr& p : loads) {
        const uint64_t end = uint64_t(p.p_offset) + uint64_t(p.p_filesz);
        for (uint64_t at = p.p_offset; at < end;) {
            const uint64_t n = std::min(end - at, kBlock);
            if (!fetch(at, block.get(), size_t(n)))
                return false;
            for (const auto& z : zeros)
                for (uint64_t i = std::max(z.at, at); i < z.at + z.n && i < at + n; ++i)
                    block[size_t(i - at)] = 0;
            hash.Update(block.get(), size_t(n));
            at += n;
        }
    }
    sum = hash.Digest();
    return true;
}

const char kChanged[] =
    "it is damaged: it is not the file that was built (changed since, or a copy that went wrong?); install or "
    "copy it again";

// A library that carries the seal: whole only when what the loader maps
// matches it. The loaded part was found within the file before.
qnLibraryFile JudgeSeal(Library& lib, const Seal& seal, uint64_t description, std::string& why)
{
    if (seal.never) {
        why = "it is damaged: it was never sealed when it was built, so it cannot be told whole; seal it "
              "(tessolo-seal LIBRARY), or install or copy it again";
        return qnLibraryFile::Damaged;
    }
    uint64_t sum = 0;
    if (!seal.Holds() || seal.length != LoadedEnd(lib.loads)) {
        why = kChanged;
        return qnLibraryFile::Damaged;
    }
    if (!LoadedSum(lib.loads, description, [&](uint64_t at, void* into, size_t n) { return lib.Read(at, into, n); },
                   sum))
        return qnLibraryFile::ReadFails;
    if (sum != seal.sum) {
        why = kChanged;
        return qnLibraryFile::Damaged;
    }
    return qnLibraryFile::Sound;
}

// The file's header and program headers, read for the judge and the sealer.
// PastEnd: the program headers are placed past the file's end (needed:
// where they would end, or UINT64_MAX when that does not fit in 64 bits).
enum class Headers { Read, NotLibrary, CutShort, Damaged, Unreadable, PastEnd };

// Whether two values differ in one bit: a field of a header that was one
// (this machine's, a library's) and lost a bit, rather than another kind
// of file's.
template <class T>
bool OneBitFrom(T value, T expected)
{
    return std::popcount(uint64_t(value ^ expected)) == 1;
}

// The header of a library of this machine, whatever its magic says.
bool OwnIdentity(const Ehdr& header)
{
    return header.e_ident[EI_CLASS] == kClass && header.e_ident[EI_DATA] == kData &&
           header.e_ident[EI_VERSION] == EV_CURRENT && header.e_type == ET_DYN &&
           (kMachine == EM_NONE || header.e_machine == kMachine) && header.e_phentsize == sizeof(Phdr);
}

Headers ReadHeaders(Library& lib, Ehdr& header, std::vector<Phdr>& segments, uint64_t& needed)
{
    if (lib.size < SELFMAG)
        return Headers::NotLibrary;
    if (!lib.Read(0, &header, size_t(std::min<uint64_t>(lib.size, sizeof header))))
        return Headers::Unreadable;
    if (std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0) {
        // One byte of the magic changed in what is otherwise the header of
        // a library of this machine: a library damaged there, not some
        // other file.
        int changed = 0;
        for (size_t i = 0; i < SELFMAG; ++i)
            changed += header.e_ident[i] != ELFMAG[i];
        return changed == 1 && lib.size >= sizeof header && OwnIdentity(header) ? Headers::Damaged
                                                                                : Headers::NotLibrary;
    }
    if (lib.size < sizeof(Ehdr)) {
        needed = sizeof(Ehdr);
        return Headers::CutShort;
    }
    // Another word size or byte order is another machine's file; a value
    // that no ELF file holds is a header that was changed.
    const unsigned char wordSize = header.e_ident[EI_CLASS], order = header.e_ident[EI_DATA];
    if (wordSize != kClass)
        return wordSize == ELFCLASS32 || wordSize == ELFCLASS64 ? Headers::NotLibrary : Headers::Damaged;
    if (order != kData)
        return order == kOtherData ? Headers::NotLibrary : Headers::Damaged;
    if (header.e_ident[EI_VERSION] != EV_CURRENT)
        return Headers::Damaged;
    if (kMachine != EM_NONE && header.e_machine != kMachine)
        return OneBitFrom(header.e_machine, kMachine) ? Headers::Damaged : Headers::NotLibrary;
    // An object file (no program headers) or a core file is no library;
    // a program is told by its program headers (Judge); any other type is
    // no kind of file.
    if (header.e_type != ET_DYN && header.e_type != ET_EXEC)
        return (header.e_type == ET_REL && header.e_phnum == 0) || header.e_type == ET_CORE ? Headers::NotLibrary
                                                                                            : Headers::Damaged;
    if (header.e_phentsize != sizeof(Phdr) || header.e_phnum == 0)
        return header.e_type == ET_DYN ? Headers::Damaged : Headers::NotLibrary;
    if (!Sum(header.e_phoff, header.e_phnum, sizeof(Phdr), needed))
        needed = UINT64_MAX;
    if (needed > lib.size)
        return Headers::PastEnd;
    segments.assign(header.e_phnum, Phdr{});
    if (!lib.Read(header.e_phoff, segments.data(), segments.size() * sizeof(Phdr)))
        return Headers::Unreadable;
    return Headers::Read;
}

// The loaded segments into lib.loads and the dynamic one; false when a
// segment's end wraps (no file holds it) or its place in the file and in
// memory differ by other than a multiple of its alignment (the loader
// cannot map it).
bool FindLoads(Library& lib, const std::vector<Phdr>& segments, const Phdr*& dynamic)
{
    dynamic = nullptr;
    for (const Phdr& segment : segments) {
        if (segment.p_type == PT_DYNAMIC)
            dynamic = &segment;
        if (segment.p_type != PT_LOAD)
            continue;
        uint64_t end = 0;
        if (!Sum(segment.p_offset, segment.p_filesz, 1, end))
            return false;
        if (segment.p_align > 1 && (uint64_t(segment.p_vaddr) - uint64_t(segment.p_offset)) % segment.p_align != 0)
            return false;
        lib.loads.push_back(segment);
    }
    return true;
}

// Whether a file typed as a program is one: a program's code is placed at
// an address of its own; a library's, which a changed type makes look like
// a program, at 0.
bool LoadedAtZero(const std::vector<Phdr>& segments)
{
    for (const Phdr& segment : segments)
        if (segment.p_type == PT_LOAD)
            return segment.p_vaddr == 0;
    return false;
}

// An open file, closed when it goes.
struct OpenFile {
    int fd;
    explicit OpenFile(int opened) : fd(opened) {}
    ~OpenFile()
    {
        if (fd >= 0)
            ::close(fd);
    }
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;
};

qnLibraryFile Judge(Library& lib, qnLibrarySeal required, std::string& why)
{
    const uint64_t size = lib.size;
    Ehdr header{};
    std::vector<Phdr> segments;
    uint64_t needed = 0;
    const Headers headers = ReadHeaders(lib, header, segments, needed);
    switch (headers) {
    case Headers::Read:
    case Headers::PastEnd:
        break;
    case Headers::NotLibrary:
        return qnLibraryFile::NotLibrary;
    case Headers::CutShort:
        why = CutShort(size, needed);
        return qnLibraryFile::CutShort;
    case Headers::Damaged:
        why = DamagedWords("its header is not whole");
        return qnLibraryFile::Damaged;
    case Headers::Unreadable:
        return qnLibraryFile::ReadFails;
    }
    if (header.e_type == ET_EXEC) {
        if (headers != Headers::Read || !LoadedAtZero(segments))
            return qnLibraryFile::NotLibrary;
        why = DamagedWords("its header is not whole");
        return qnLibraryFile::Damaged;
    }
    // Lengths first: a part the headers place past the end is told before
    // anything more than the headers, the section table and the notes is
    // read. The seal, when it is there, tells a file cut short from one
    // whose program headers were changed to need more than it holds.
    const Phdr* dynamic = nullptr;
    if (!FindLoads(lib, segments, dynamic) || (headers == Headers::Read && lib.loads.empty())) {
        why = DamagedWords("its program headers are not whole");
        return qnLibraryFile::Damaged;
    }
    const uint64_t phdrsEnd = needed;
    needed = LoadedEnd(lib.loads);
    const SectionTable sections = ReadSections(lib, header);
    uint64_t description = 0;
    const SealAt sealAt = FindSeal(lib, segments, sections, description);
    unsigned char bytes[kQnSealSize] = {};
    if ((sealAt == SealAt::Found || sealAt == SealAt::Older) && !lib.Read(description, bytes, sizeof bytes))
        return qnLibraryFile::ReadFails;
    const Seal seal = ReadSeal(bytes);
    const bool sealed = sealAt == SealAt::Found && seal.Holds();
    if (sealAt == SealAt::Broken || (sealed && (seal.length != needed || !dynamic))) {
        why = kChanged;
        return qnLibraryFile::Damaged;
    }
    if (headers == Headers::PastEnd) {
        // Cut short only where the linker puts the program headers, in a
        // file whose table of sections at its end is gone with the rest
        // (a seal found through it says the file is all there).
        if (sealAt != SealAt::None || header.e_phoff != sizeof(Ehdr) || phdrsEnd == UINT64_MAX) {
            why = DamagedWords("its program headers lie past its end");
            return qnLibraryFile::Damaged;
        }
        why = CutShort(size, phdrsEnd);
        return qnLibraryFile::CutShort;
    }
    if (!dynamic)
        return qnLibraryFile::NotLibrary;
    if (needed > size) {
        why = CutShort(size, needed);
        return qnLibraryFile::CutShort;
    }
    if (sections.status == SectionTable::CutShort) {
        why = CutShort(size, sections.needed);
        return qnLibraryFile::CutShort;
    }
    if (sealAt == SealAt::Older) {
        why = "it is damaged: it was sealed the older way (a CRC-32), which is no longer checked; seal it again "
              "(tessolo-seal LIBRARY), or install or copy it again";
        return qnLibraryFile::Damaged;
    }
    // A sealed library is judged by its seal first: it tells a change
    // anywhere in what is mapped, which its tables alone do not.
    if (sealAt == SealAt::None && required == qnLibrarySeal::Required && !lib.failed) {
        why = "it is damaged: it carries no seal, so it cannot be told to be the one built with this plug-in; "
              "install or copy it again";
        return qnLibraryFile::Damaged;
    }
    if (sealAt == SealAt::Found) {
        if (const qnLibraryFile verdict = JudgeSeal(lib, seal, description, why); verdict != qnLibraryFile::Sound)
            return verdict;
    }
    switch (SectionsHold(lib, sections)) {
    case Sections::Hold:
        break;
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

}  // namespace

qnLibraryFile qnJudgeLibraryFd(int fd, std::string& why, qnLibrarySeal seal, const qnLibraryRead& read)
{
    why.clear();
    struct stat st;
    if (::fstat(fd, &st) != 0)
        return qnLibraryFile::Unreadable;
    Library lib{fd, uint64_t(st.st_size), &read, {}, false, 0};
    const qnLibraryFile verdict = Judge(lib, seal, why);
    // A read that failed makes every conclusion drawn after it unsound:
    // the file is refused for it, never handed to the loader (which would
    // meet the same fault as a signal).
    if (lib.failed) {
        why = "it cannot be read: " +
              (lib.error != 0 ? qnSystemWords(lib.error) : std::string("it got shorter while it was read")) +
              " (a disk that lost blocks, or a file being replaced?)";
        return qnLibraryFile::ReadFails;
    }
    return verdict;
}

qnLibraryFile qnJudgeLibraryFile(const std::string& path, std::string& why, qnLibrarySeal seal,
                                 const qnLibraryRead& read)
{
    why.clear();
    const OpenFile file(qnOpenRegularFile(path.c_str(), O_RDONLY));
    if (file.fd < 0)
        return qnLibraryFile::Unreadable;
    return qnJudgeLibraryFd(file.fd, why, seal, read);
}

std::string qnSealLibraryFile(const std::string& path)
{
    const std::string cannot = "cannot seal " + path + ": ";
    uint64_t description = 0;
    std::vector<Phdr> loads;
    {
        // A FIFO or a device is refused without waiting on it.
        const OpenFile file(qnOpenRegularFile(path.c_str(), O_RDONLY));
        if (file.fd < 0)
            return qnOpenRegularFailure(path, errno);
        struct stat st;
        if (::fstat(file.fd, &st) != 0)
            return qnReadFailure(path, errno);
        Library lib{file.fd, uint64_t(st.st_size), nullptr, {}, false, 0};
        Ehdr header{};
        std::vector<Phdr> segments;
        uint64_t needed = 0;
        const Phdr* dynamic = nullptr;
        if (ReadHeaders(lib, header, segments, needed) != Headers::Read || header.e_type != ET_DYN ||
            !FindLoads(lib, segments, dynamic) || lib.loads.empty() || LoadedEnd(lib.loads) > lib.size)
            return lib.failed ? qnReadFailure(path, lib.error != 0 ? lib.error : EIO)
                              : cannot + "it is no whole library of this machine";
        const SectionTable sections = ReadSections(lib, header);
        const SealAt found = FindSeal(lib, segments, sections, description);
        if (found != SealAt::Found && found != SealAt::Older)
            return lib.failed ? qnReadFailure(path, lib.error != 0 ? lib.error : EIO)
                              : cannot + "it has no room for a seal (no whole " + kQnSealSection +
                                    " note in a loaded part)";
        loads = lib.loads;
    }
    std::vector<uint8_t> bytes;
    std::string error;
    if (!qnReadWholeFile(path, bytes, error, uint64_t(1) << 32))
        return error;
    // The note's type sits 12 bytes before its description (after the
    // owner's name, 8 bytes).
    if (description < 12 || description + kQnSealSize > bytes.size() || LoadedEnd(loads) > bytes.size())
        return cannot + "it changed while it was read";
    // The type (a seal of the older way is sealed anew) and the length
    // first: the checksum counts them, and counts its own 8 bytes as zeros.
    const uint64_t length = LoadedEnd(loads);
    const uint32_t check = uint32_t(~length);
    unsigned char* seal = bytes.data() + description;
    std::memcpy(seal - 12, &kQnSealNoteType, 4);
    std::memcpy(seal + 8, &length, 8);
    std::memcpy(seal + 16, &check, 4);
    uint64_t sum = 0;
    LoadedSum(
        loads, description,
        [&](uint64_t at, void* into, size_t n) {
            std::memcpy(into, bytes.data() + at, n);
            return true;
        },
        sum);
    std::memcpy(seal, &sum, 8);
    if (const unsigned short number = qnReplaceFile(path, bytes.data(), bytes.size()))
        return qnFileFailure(path, true, number);
    // What the loader's programs will find: judged as they judge it.
    std::string why;
    if (qnJudgeLibraryFile(path, why, qnLibrarySeal::Required) != qnLibraryFile::Sound)
        return cannot + "once sealed it is not judged whole: " + (why.empty() ? "it is no library" : why);
    return {};
}
