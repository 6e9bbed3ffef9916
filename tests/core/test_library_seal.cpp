// The seal of the plug-in's libraries: tessolo-seal writes it, and the
// judge of a library file tells any changed byte of a sealed one.
#include "core/LibraryFile.h"
#include "core/SafeFile.h"
#include "core/SealHash.h"
#include "core/StdFile.h"
#include "tests/library_loads.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include <elf.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

const std::string kSeal = std::string(TESSOLO_BINARY_DIR) + "/tools/tessolo-seal";

// Runs a command line; its exit code (-1 for a signal) and all it printed.
int RunLine(const std::string& cmd, std::string& out)
{
    FILE* p = ::popen((cmd + " 2>&1").c_str(), "r");
    if (!p)
        return -1;
    out.clear();
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, n);
    const int status = ::pclose(p);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

struct Folder {
    Folder()
    {
        std::string pattern = (fs::temp_directory_path() / "tessolo_seal_XXXXXX").string();
        EXPECT_NE(::mkdtemp(pattern.data()), nullptr);
        path = pattern;
    }
    ~Folder()
    {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
    std::string File(const char* name) const { return (path / name).string(); }
    // A copy of the sealable library by that name, sealed by tessolo-seal.
    std::string Sealed(const char* name) const
    {
        const std::string library = File(name);
        fs::copy_file(TESSOLO_SEALABLE_LIBRARY, library);
        std::string text;
        EXPECT_EQ(RunLine(kSeal + " " + library, text), 0) << text;
        return library;
    }
    fs::path path;
};

}  // namespace

// Linked with room for the seal and never sealed, a library is damaged;
// sealed, it is whole; then every byte of it, one at a time, changed: in
// the ELF header it may read as no library, anywhere else the loader maps
// it is damaged, and where it maps nothing (symbols, the section table)
// the library is whole or damaged, never taken for a file cut short.
// Bytes added after it are nothing the loader maps; one byte less cuts
// short the section table its header places at the end.
// Both builds of the checksum (the processor's widest vector unit and the
// baseline one) give one sum for the same bytes, however they are cut into
// updates: a library sealed on one machine is whole on another. The empty
// input's sum is XXH3's own.
TEST(LibrarySeal, BothBuildsOfTheChecksumGiveOneSum)
{
    std::mt19937 random(7);
    std::vector<unsigned char> bytes(300000);
    for (unsigned char& b : bytes)
        b = static_cast<unsigned char>(random());
    alignas(64) unsigned char base[qnSealHash::kStateBytes], wide[qnSealHash::kStateBytes];
    qnseal_xxh3::Reset(base);
    EXPECT_EQ(qnseal_xxh3::Digest(base), 0x2D06800538D394C2ull);
    for (const size_t size : {size_t(0), size_t(1), size_t(63), size_t(240), size_t(241), size_t(1025), size_t(300000)})
        for (const size_t cut : {size_t(0), size_t(1), size_t(200), size_t(1024), size_t(65536)}) {
            if (cut > size)
                continue;
            qnseal_xxh3::Reset(base);
            qnseal_xxh3::Update(base, bytes.data(), cut);
            qnseal_xxh3::Update(base, bytes.data() + cut, size - cut);
            qnSealHash chosen;
            chosen.Update(bytes.data(), size);
#if defined(__x86_64__) || defined(__i386__)
            // The wide build only where this processor runs it.
            if (__builtin_cpu_supports("avx2")) {
                qnseal_xxh3::ResetAvx2(wide);
                qnseal_xxh3::UpdateAvx2(wide, bytes.data(), size);
                EXPECT_EQ(qnseal_xxh3::Digest(base), qnseal_xxh3::DigestAvx2(wide)) << size << " cut at " << cut;
            }
#endif
            EXPECT_EQ(chosen.Digest(), qnseal_xxh3::Digest(base)) << size;
        }
}

TEST(LibrarySeal, ASealedLibraryIsWholeAndOneChangedMappedByteIsDamage)
{
    const Folder folder;
    const std::string library = folder.File("sealed.so");
    fs::copy_file(TESSOLO_SEALABLE_LIBRARY, library);
    std::string why, text;
    EXPECT_EQ(qnJudgeLibraryFile(library, why), qnLibraryFile::Damaged);
    EXPECT_EQ(why.rfind("it is damaged: it was never sealed", 0), 0u) << why;
    ASSERT_EQ(RunLine(kSeal + " " + library, text), 0) << text;
    EXPECT_EQ(text, "sealed " + library + "\n");
    ASSERT_EQ(qnJudgeLibraryFile(library, why, qnLibrarySeal::Required), qnLibraryFile::Sound) << why;
    std::vector<uint8_t> whole;
    ASSERT_TRUE(qnReadWholeFile(library, whole, text)) << text;
    const std::vector<library_loads::Range> loads = library_loads::Loaded(whole);
    ASSERT_FALSE(loads.empty());
    const int fd = ::open(library.c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    size_t mapped = 0, damaged = 0;
    for (size_t at = 0; at < whole.size(); ++at) {
        const uint8_t changed = uint8_t(whole[at] ^ (1 + (at * 2654435761u >> 11) % 255));
        ASSERT_EQ(::pwrite(fd, &changed, 1, off_t(at)), 1);
        const qnLibraryFile verdict = qnJudgeLibraryFile(library, why);
        if (at < sizeof(Elf64_Ehdr)) {
            EXPECT_NE(verdict, qnLibraryFile::Sound) << "byte " << at;
        } else if (library_loads::Overlaps(loads, at, 1)) {
            ++mapped;
            damaged += verdict == qnLibraryFile::Damaged;
            EXPECT_EQ(verdict, qnLibraryFile::Damaged) << "byte " << at << ": " << why;
            EXPECT_EQ(why.rfind("it is damaged: ", 0), 0u) << why;
        } else {
            EXPECT_TRUE(verdict == qnLibraryFile::Sound || verdict == qnLibraryFile::Damaged)
                << "byte " << at << ": " << why;
        }
        ASSERT_EQ(::pwrite(fd, &whole[at], 1, off_t(at)), 1);
    }
    ::close(fd);
    uint64_t loaded = 0;
    for (const library_loads::Range& r : loads)
        loaded += r.n;
    EXPECT_EQ(mapped + sizeof(Elf64_Ehdr), loaded);
    EXPECT_EQ(damaged, mapped);
    EXPECT_EQ(qnJudgeLibraryFile(library, why), qnLibraryFile::Sound) << why;
    fs::resize_file(library, whole.size() + 1);
    EXPECT_EQ(qnJudgeLibraryFile(library, why), qnLibraryFile::Sound) << why;
    fs::resize_file(library, whole.size() - 1);
    EXPECT_EQ(qnJudgeLibraryFile(library, why), qnLibraryFile::CutShort) << why;
    EXPECT_EQ(why, "it is cut short: the file has " + std::to_string(whole.size() - 1) +
                       " bytes and its headers need " + std::to_string(whole.size()) +
                       " (a copy that did not finish?); install or copy it again");
}

// What a packager does to a sealed library (strip it of what it can lose,
// give it a debug link) leaves it whole, its seal required; one byte
// changed in its code, data or tables for the loader is still damage.
// Without its seal (the note removed) it is refused where the seal is
// required and judged by its tables where it is not.
TEST(LibrarySeal, AStrippedOrDebugLinkedLibraryIsWholeAndAChangedMappedByteIsStillDamage)
{
    const Folder folder;
    const std::string sealed = folder.File("sealed.so"), copy = folder.File("copy.so");
    fs::copy_file(TESSOLO_SEALABLE_LIBRARY, sealed);
    std::string why, text;
    ASSERT_EQ(RunLine(kSeal + " " + sealed, text), 0) << text;
    ASSERT_EQ(RunLine("objcopy --only-keep-debug " + sealed + " " + folder.File("sealed.debug"), text), 0) << text;
    const std::string packagings[] = {"strip --strip-unneeded", "strip --strip-debug", "strip --strip-all",
                                      "objcopy --add-gnu-debuglink=" + folder.File("sealed.debug")};
    for (const std::string& packaging : packagings) {
        SCOPED_TRACE(packaging);
        fs::remove(copy);
        fs::copy_file(sealed, copy);
        ASSERT_EQ(RunLine(packaging + " " + copy, text), 0) << text;
        std::vector<uint8_t> bytes, before;
        ASSERT_TRUE(qnReadWholeFile(copy, bytes, text)) << text;
        ASSERT_TRUE(qnReadWholeFile(sealed, before, text)) << text;
        ASSERT_NE(bytes, before);  // the packaging changed the file
        EXPECT_EQ(qnJudgeLibraryFile(copy, why, qnLibrarySeal::Required), qnLibraryFile::Sound) << why;
        // A byte in the middle of each loaded part, and one of the dynamic
        // table's tags.
        std::vector<uint64_t> places;
        for (const library_loads::Range& r : library_loads::Loaded(bytes))
            places.push_back(r.at + r.n / 2);
        Elf64_Ehdr header;
        std::memcpy(&header, bytes.data(), sizeof header);
        for (uint64_t i = 0; i < header.e_phnum; ++i) {
            Elf64_Phdr p;
            std::memcpy(&p, bytes.data() + header.e_phoff + i * sizeof p, sizeof p);
            if (p.p_type == PT_DYNAMIC)
                places.push_back(p.p_offset + sizeof(Elf64_Dyn));
        }
        ASSERT_GE(places.size(), 3u);
        for (const uint64_t at : places) {
            std::vector<uint8_t> changed = bytes;
            changed[at] ^= 0x10;
            ASSERT_EQ(qnReplaceFile(copy, changed.data(), changed.size()), 0);
            EXPECT_EQ(qnJudgeLibraryFile(copy, why), qnLibraryFile::Damaged) << "byte " << at;
            EXPECT_EQ(why.rfind("it is damaged: ", 0), 0u) << why;
        }
    }
    fs::remove(copy);
    ASSERT_EQ(RunLine("objcopy --remove-section " + std::string(kQnSealSection) + " " + sealed + " " + copy, text), 0)
        << text;
    EXPECT_EQ(qnJudgeLibraryFile(copy, why, qnLibrarySeal::Required), qnLibraryFile::Damaged);
    EXPECT_EQ(why.rfind("it is damaged: it carries no seal", 0), 0u) << why;
    EXPECT_EQ(qnJudgeLibraryFile(copy, why), qnLibraryFile::Sound) << why;
}

#ifdef TESSOLO_PLUGIN_FILE
// Bits of the built plug-in's ELF header and program headers flipped,
// one at a time, in a copy of its full length: refused as damaged, in words
// that say to install or copy it again and name no length beyond the
// file's, never as cut short or as another kind of file; or still whole,
// only where the header places the table of sections, which packagers
// rewrite and the seal does not count.
TEST(LibrarySeal, EveryFlippedBitOfThePluginsHeadersIsCalledDamaged)
{
    const Folder folder;
    const std::string library = folder.File("Tessolo.so");
    fs::copy_file(TESSOLO_PLUGIN_FILE, library);
    std::vector<uint8_t> whole;
    std::string why, text;
    ASSERT_TRUE(qnReadWholeFile(library, whole, text, uint64_t(1) << 32)) << text;
    ASSERT_EQ(qnJudgeLibraryFile(library, why, qnLibrarySeal::Required), qnLibraryFile::Sound) << why;
    Elf64_Ehdr header;
    std::memcpy(&header, whole.data(), sizeof header);
    const uint64_t end = header.e_phoff + uint64_t(header.e_phnum) * sizeof(Elf64_Phdr);
    ASSERT_EQ(header.e_phoff, sizeof header);
    const struct {
        size_t at, n;
    } unsealed[] = {{offsetof(Elf64_Ehdr, e_shoff), 8}, {offsetof(Elf64_Ehdr, e_shnum), 2},
                    {offsetof(Elf64_Ehdr, e_shstrndx), 2}};
    const int fd = ::open(library.c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    size_t stillWhole = 0;
    // Every bit of the ELF header; in the program headers one bit of each
    // byte, its place turning with the byte, so that every field gets its
    // low and its high bits flipped (bit 8k+k of an 8-byte field) at an
    // eighth of the judges.
    for (uint64_t at = 0; at < end; ++at)
        for (int bit = 0; bit < 8; ++bit) {
            if (at >= sizeof header && bit != int(at % 8))
                continue;
            const uint8_t flipped = uint8_t(whole[at] ^ (1u << bit));
            ASSERT_EQ(::pwrite(fd, &flipped, 1, off_t(at)), 1);
            const qnLibraryFile verdict = qnJudgeLibraryFile(library, why);
            const std::string what = "byte " + std::to_string(at) + " bit " + std::to_string(bit) + ": " + why;
            if (verdict == qnLibraryFile::Sound) {
                ++stillWhole;
                EXPECT_TRUE(std::any_of(std::begin(unsealed), std::end(unsealed),
                                        [&](const auto& u) { return at >= u.at && at < u.at + u.n; }))
                    << what;
            } else {
                EXPECT_EQ(verdict, qnLibraryFile::Damaged) << what;
                EXPECT_EQ(why.rfind("it is damaged: ", 0), 0u) << what;
                const std::string advice = "; install or copy it again";
                EXPECT_TRUE(why.size() > advice.size() &&
                            why.compare(why.size() - advice.size(), advice.size(), advice) == 0)
                    << what;
                for (size_t i = 0; i < why.size();) {
                    const size_t digits = why.find_first_of("0123456789", i);
                    if (digits == std::string::npos)
                        break;
                    const size_t after = why.find_first_not_of("0123456789", digits);
                    const std::string number = why.substr(digits, after - digits);
                    EXPECT_TRUE(number.size() < 20 && std::stoull(number) <= whole.size()) << what;
                    i = after == std::string::npos ? why.size() : after;
                }
            }
            ASSERT_EQ(::pwrite(fd, &whole[at], 1, off_t(at)), 1);
        }
    ::close(fd);
    EXPECT_LT(stillWhole, 8 * sizeof unsealed);
    EXPECT_EQ(qnJudgeLibraryFile(library, why, qnLibrarySeal::Required), qnLibraryFile::Sound) << why;
}
#endif

// A library sealed the older way (a CRC-32, in a note of the older type)
// is refused in words that say to seal it again, and tessolo-seal seals it
// anew: then it is whole.
TEST(LibrarySeal, ALibrarySealedTheOlderWayIsToBeSealedAgain)
{
    const Folder folder;
    const std::string library = folder.Sealed("older.so");
    std::string why, text;
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(qnReadWholeFile(library, bytes, text)) << text;
    // The note's head: its owner's name is preceded by its type.
    const char owner[] = "Tessolo";
    const auto name = std::search(bytes.begin(), bytes.end(), owner, owner + sizeof owner);
    ASSERT_NE(name, bytes.end());
    const uint32_t older = kQnOlderSealNoteType;
    std::memcpy(&*name - 4, &older, 4);
    ASSERT_EQ(qnReplaceFile(library, bytes.data(), bytes.size()), 0);
    for (const qnLibrarySeal seal : {qnLibrarySeal::Optional, qnLibrarySeal::Required}) {
        EXPECT_EQ(qnJudgeLibraryFile(library, why, seal), qnLibraryFile::Damaged);
        EXPECT_EQ(why,
                  "it is damaged: it was sealed the older way (a CRC-32), which is no longer checked; seal it again "
                  "(tessolo-seal LIBRARY), or install or copy it again");
    }
    ASSERT_EQ(RunLine(kSeal + " " + library, text), 0) << text;
    EXPECT_EQ(qnJudgeLibraryFile(library, why, qnLibrarySeal::Required), qnLibraryFile::Sound) << why;
}

// The judge reads the headers, the tables and the mapped bytes, never the
// rest: a library padded to 4 and 64 GB (sparse) is judged from what it
// reads of the library. A read that fails, or finds the file ended,
// wherever it comes, refuses the file in words (never left to the loader).
TEST(LibrarySeal, TheJudgeReadsOnlyWhatItNeedsAndRefusesAFailedRead)
{
    const Folder folder;
    const std::string library = folder.Sealed("sealed.so");
    std::string why;
    const uint64_t size = fs::file_size(library);
    uint64_t bytesRead = 0, reads = 0;
    const qnLibraryRead counting = [&](int fd, void* into, size_t n, off_t at) {
        const ssize_t got = ::pread(fd, into, n, at);
        bytesRead += got > 0 ? uint64_t(got) : 0;
        ++reads;
        return got;
    };
    ASSERT_EQ(qnJudgeLibraryFile(library, why, qnLibrarySeal::Required, counting), qnLibraryFile::Sound) << why;
    const uint64_t wholeReads = reads;
    EXPECT_LE(bytesRead, 2 * size);
    for (const uint64_t padded : {uint64_t(4) << 30, uint64_t(64) << 30}) {
        fs::resize_file(library, padded);
        bytesRead = 0;
        EXPECT_EQ(qnJudgeLibraryFile(library, why, qnLibrarySeal::Required, counting), qnLibraryFile::Sound) << why;
        EXPECT_LE(bytesRead, 2 * size) << padded;
    }
    fs::resize_file(library, size);
    ASSERT_GE(wholeReads, 5u);
    for (uint64_t failing = 0; failing < wholeReads; ++failing)
        for (const bool ended : {false, true}) {
            uint64_t call = 0;
            const qnLibraryRead fails = [&](int fd, void* into, size_t n, off_t at) -> ssize_t {
                if (call++ < failing)
                    return ::pread(fd, into, n, at);
                errno = EIO;
                return ended ? 0 : -1;
            };
            EXPECT_EQ(qnJudgeLibraryFile(library, why, qnLibrarySeal::Required, fails), qnLibraryFile::ReadFails)
                << "read " << failing;
            EXPECT_EQ(why, std::string("it cannot be read: ") +
                               (ended ? "it got shorter while it was read" : "input/output error") +
                               " (a disk that lost blocks, or a file being replaced?)")
                << "read " << failing;
        }
}

// The build's tool: its usage, and one line and a failure for what it
// cannot seal, leaving that file as it was.
TEST(LibrarySeal, TheSealToolRefusesWhatItCannotSealInOneLine)
{
    const Folder folder;
    std::string text;
    EXPECT_EQ(RunLine(kSeal + " --help", text), 0);
    EXPECT_EQ(text.rfind("usage: tessolo-seal LIBRARY\n", 0), 0u) << text;
    // A file of the right kind without room for the seal (this test
    // program, copied), a text, a file that is not there, a folder.
    const std::string plain = folder.File("plain.so"), note = folder.File("note.txt");
    fs::copy_file(fs::canonical("/proc/self/exe"), plain);
    ASSERT_EQ(std::system(("printf 'no library' > " + note).c_str()), 0);
    std::vector<uint8_t> before;
    ASSERT_TRUE(qnReadWholeFile(plain, before, text)) << text;
    const struct {
        std::string args;
        int code;
        std::string says;
    } cases[] = {{"", 2, "tessolo-seal: name one library to seal (see --help)"},
                 {"--frobnicate", 2, "tessolo-seal: unknown option --frobnicate (see --help)"},
                 {plain, 1, "tessolo-seal: cannot seal " + plain + ": it has no room for a seal"},
                 {note, 1, "tessolo-seal: cannot seal " + note + ": it is no whole library of this machine"},
                 {folder.File("missing.so"), 1, "tessolo-seal: cannot read " + folder.File("missing.so")},
                 {folder.path.string(), 1, "tessolo-seal: cannot read " + folder.path.string()}};
    for (const auto& c : cases) {
        EXPECT_EQ(RunLine(kSeal + " " + c.args, text), c.code) << c.args << ": " << text;
        EXPECT_EQ(text.rfind(c.says, 0), 0u) << c.args << ": " << text;
        EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text;
    }
    std::vector<uint8_t> after;
    ASSERT_TRUE(qnReadWholeFile(plain, after, text)) << text;
    EXPECT_EQ(after, before);
}
