#include "core/ProgramOutput.h"

#include "core/ErrorWords.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <iostream>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <stdio_ext.h>
#include <unistd.h>

namespace {

const char* g_program = nullptr;
std::string g_programName;
int g_failureCode = 1;
int g_writeErrno = 0;  // the reason a block written past the buffer failed

// The length of the valid UTF-8 sequence at s (a character that is no
// control), or 0.
size_t PrintableSequence(std::string_view s)
{
    const auto b = [&s](size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned char lead = b(0);
    size_t n = 0;
    uint32_t c = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        n = 2;
        c = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        n = 3;
        c = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        n = 4;
        c = lead & 0x07;
    } else {
        return 0;
    }
    if (s.size() < n)
        return 0;
    for (size_t i = 1; i < n; ++i) {
        if ((b(i) & 0xC0) != 0x80)
            return 0;
        c = c << 6 | (b(i) & 0x3F);
    }
    // Overlong forms, surrogates and code points past Unicode's end are no
    // characters; U+0080..U+009F are controls a terminal obeys.
    const uint32_t least[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (c < least[n] || (c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF || c <= 0x9F)
        return 0;
    return n;
}

void CheckAtExit(int status, void*)
{
    int error = g_writeErrno;
    bool failed = std::ferror(stdout) != 0;
    // What is still in the buffer is written now; a failure here has its
    // reason in errno, which only the first attempt tells.
    const bool pending = __fpending(stdout) != 0;
    errno = 0;
    if (std::fflush(stdout) != 0) {
        failed = true;
        error = error ? error : errno;
    }
    // std::cout writes through stdout; its own state tells what it lost.
    std::cout.flush();
    failed = failed || std::cout.bad();
    // Closing reports what some file systems say only then. A standard
    // output closed from the start (EBADF, nothing written) is no failure.
    errno = 0;
    if (std::fclose(stdout) != 0 && (pending || errno != EBADF)) {
        failed = true;
        error = error ? error : errno;
    }
    if (!failed)
        return;
    // Worded as every failed write of an output named "-".
    const std::string words = qnSystemWords(error ? error : EIO);
    std::fprintf(stderr, "%s: cannot write -: %s\n", g_programName.c_str(), words.c_str());
    _exit(status != 0 ? status : g_failureCode);
}

}  // namespace

namespace {

std::string Shown(std::string_view name, bool backslashes)
{
    static const char kHex[] = "0123456789abcdef";
    std::string shown;
    shown.reserve(name.size());
    for (size_t i = 0; i < name.size();) {
        const unsigned char c = static_cast<unsigned char>(name[i]);
        if (c == '\\' && backslashes) {
            shown += "\\\\";
            ++i;
        } else if (c >= 0x20 && c < 0x7F) {
            shown += char(c);
            ++i;
        } else if (const size_t n = c >= 0x80 ? PrintableSequence(name.substr(i)) : 0) {
            shown.append(name.substr(i, n));
            i += n;
        } else {
            shown += "\\x";
            shown += kHex[c >> 4];
            shown += kHex[c & 15];
            ++i;
        }
    }
    return shown;
}

// Holds every descriptor of 0..2 that is closed with /dev/null, open so that
// using it as meant fails with EBADF, as the closed descriptor would.
void HoldClosedStandardDescriptors()
{
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF)
            continue;
        const int held = ::open("/dev/null", fd == 0 ? O_WRONLY : O_RDONLY);
        if (held >= 0 && held != fd) {
            ::dup2(held, fd);
            ::close(held);
        }
    }
}

}  // namespace

std::string qnShownName(std::string_view name) { return Shown(name, true); }

std::string qnShownLine(std::string_view text) { return Shown(text, false); }

void qnNameProgram(const std::string& program) { g_programName = program; }

std::string qnProgramName() { return g_programName.empty() ? program_invocation_short_name : g_programName; }

QnRefusal qnStandardOutputOverInput(const std::vector<std::string>& inputs)
{
    struct stat out {};
    // Only a file can be both: a terminal or a pipe is read by no one else.
    if (::fstat(1, &out) != 0 || !S_ISREG(out.st_mode))
        return {};
    for (const std::string& in : inputs) {
        struct stat st {};
        if (!in.empty() && in != "-" && ::stat(in.c_str(), &st) == 0 && st.st_dev == out.st_dev &&
            st.st_ino == out.st_ino)
            return {"-", qnOverInputWords(in)};
    }
    return {};
}

void qnRefuseStandardOutputOnInput(int fd, const std::string& path)
{
    if (!g_program)
        return;
    struct stat out {}, in {};
    if (::fstat(1, &out) != 0 || !S_ISREG(out.st_mode))
        return;
    if ((fd >= 0 ? ::fstat(fd, &in) : ::stat(path.c_str(), &in)) != 0 || in.st_dev != out.st_dev ||
        in.st_ino != out.st_ino)
        return;
    // Nothing that is still buffered may reach the input either.
    __fpurge(stdout);
    const std::string line = g_programName + ": " + qnOverInputFailure("-", path, qnShownName(path)) + "\n";
    (void)!::write(2, line.data(), line.size());
    _exit(g_failureCode);
}

void qnCheckStandardOutputAtExit(const char* program, int failureCode)
{
    if (g_program)
        return;
    HoldClosedStandardDescriptors();
    g_program = program;
    g_programName = program;
    g_failureCode = failureCode;
    // A write past the file-size limit (ulimit -f) fails with EFBIG and is
    // reported like any failed write, instead of ending the program
    // without a word.
    ::signal(SIGXFSZ, SIG_IGN);
    on_exit(CheckAtExit, nullptr);
}

bool qnWriteStandardOutput(const void* data, size_t size)
{
    errno = 0;
    if (size == 0 || std::fwrite(data, 1, size, stdout) == size)
        return true;
    if (!g_writeErrno)
        g_writeErrno = errno;
    return false;
}

QnRefusal qnOutputNameRefusal(const std::string& path, const std::vector<std::string>& endings)
{
    if (endings.empty() || path == "-")
        return {};
    struct stat st;
    if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode))
        return {};
    // The file's own name, longer than its ending: ".png" alone names no format.
    const std::string name = path.substr(path.rfind('/') == std::string::npos ? 0 : path.rfind('/') + 1);
    const auto endsWith = [&name](const std::string& ending) {
        return name.size() > ending.size() &&
               std::equal(ending.rbegin(), ending.rend(), name.rbegin(), [](char a, char b) {
                   return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
               });
    };
    if (std::any_of(endings.begin(), endings.end(), endsWith))
        return {};
    std::string list;
    for (size_t i = 0; i < endings.size(); ++i)
        list += (i == 0 ? "" : i + 1 == endings.size() ? " or " : ", ") + endings[i];
    return {path, "the name must end in " + list + ", the format it is written in"};
}
