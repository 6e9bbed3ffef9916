// The seal of the plug-in's libraries: tessolo-seal writes it, and the
// judge of a library file tells any changed byte of a sealed one.
#include "core/LibraryFile.h"
#include "core/StdFile.h"

#include <gtest/gtest.h>

#include <algorithm>
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
// the ELF header it may read as no library, anywhere else it is damaged.
TEST(LibrarySeal, ASealedLibraryIsWholeAndOneChangedByteAnywhereIsDamage)
{
    const Folder folder;
    const std::string library = folder.File("sealed.so");
    fs::copy_file(TESSOLO_SEALABLE_LIBRARY, library);
    std::string why, text;
    EXPECT_EQ(qnJudgeLibraryFile(library, why), qnLibraryFile::Damaged);
    EXPECT_EQ(why.rfind("it is damaged: it was never sealed", 0), 0u) << why;
    ASSERT_EQ(RunLine(kSeal + " " + library, text), 0) << text;
    EXPECT_EQ(text, "sealed " + library + "\n");
    ASSERT_EQ(qnJudgeLibraryFile(library, why), qnLibraryFile::Sound) << why;
    std::vector<uint8_t> whole;
    ASSERT_TRUE(qnReadWholeFile(library, whole, text)) << text;
    const int fd = ::open(library.c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    size_t damaged = 0;
    for (size_t at = 0; at < whole.size(); ++at) {
        const uint8_t changed = uint8_t(whole[at] ^ (1 + (at * 2654435761u >> 11) % 255));
        ASSERT_EQ(::pwrite(fd, &changed, 1, off_t(at)), 1);
        const qnLibraryFile verdict = qnJudgeLibraryFile(library, why);
        if (at < sizeof(Elf64_Ehdr)) {
            EXPECT_NE(verdict, qnLibraryFile::Sound) << "byte " << at;
        } else {
            EXPECT_EQ(verdict, qnLibraryFile::Damaged) << "byte " << at << ": " << why;
            EXPECT_EQ(why.rfind("it is damaged: ", 0), 0u) << why;
        }
        damaged += verdict == qnLibraryFile::Damaged;
        ASSERT_EQ(::pwrite(fd, &whole[at], 1, off_t(at)), 1);
    }
    ::close(fd);
    EXPECT_GT(damaged, whole.size() - sizeof(Elf64_Ehdr) - 1);
    EXPECT_EQ(qnJudgeLibraryFile(library, why), qnLibraryFile::Sound) << why;
    // A byte more or a byte less is a file of another length.
    fs::resize_file(library, whole.size() + 1);
    EXPECT_EQ(qnJudgeLibraryFile(library, why), qnLibraryFile::Damaged) << why;
    fs::resize_file(library, whole.size() - 1);
    EXPECT_EQ(qnJudgeLibraryFile(library, why), qnLibraryFile::CutShort) << why;
    EXPECT_EQ(why.rfind("it is cut short: the file has " + std::to_string(whole.size() - 1) + " bytes of the " +
                            std::to_string(whole.size()) + " it was built with",
                        0),
              0u)
        << why;
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
