// The seal of the plug-in's libraries: tessolo-seal writes it, and the
// judge of a library file tells any changed byte of a sealed one.
#include "core/LibraryFile.h"
#include "core/SafeFile.h"
#include "core/StdFile.h"
#include "tests/library_loads.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
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
                       " (a copy that did not finish?)");
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

// The judge reads the headers, the tables and the mapped bytes, never the
// rest: a library padded to 4 and 64 GB (sparse) is judged from what it
// reads of the library. A read that fails, or finds the file ended,
// wherever it comes, refuses the file in words (never left to the loader).
TEST(LibrarySeal, TheJudgeReadsOnlyWhatItNeedsAndRefusesAFailedRead)
{
    const Folder folder;
    const std::string library = folder.File("sealed.so");
    fs::copy_file(TESSOLO_SEALABLE_LIBRARY, library);
    std::string why, text;
    ASSERT_EQ(RunLine(kSeal + " " + library, text), 0) << text;
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
