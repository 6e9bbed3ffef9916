#include "core/SafeFileTarget.h"

#include "core/ErrorWords.h"
#include "core/ProgramOutput.h"
#include "core/SafeFile.h"

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>

namespace {

using qnsafe::Target;
using qnsafe::kNotRegular;

// The folder a file goes into, open for the *at calls and for syncing; a
// folder this process may write but not list is still usable by O_PATH.
int OpenFolder(const std::string& folder)
{
    int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0 && errno == EACCES)
        fd = ::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    return fd;
}

void SplitLanding(Target& t, const std::string& lands)
{
    t.path = lands;
    const size_t slash = lands.rfind('/');
    t.folder = slash == std::string::npos ? "." : slash == 0 ? "/" : lands.substr(0, slash);
    t.name = slash == std::string::npos ? lands : lands.substr(slash + 1);
}

// ---------------------------------------------------------------- settled targets

// Where each path a program checked before its work leads, as it led then:
// the write at the end of the run goes there, whatever links changed
// meanwhile. The latest check of a path wins; a program checks a few
// outputs, so the oldest is let go past a handful.
struct Settled {
    std::string path;
    std::string folder;
    std::string name;
    int dir;
};
constexpr size_t kMostSettled = 16;
std::mutex g_settledLock;
std::vector<Settled> g_settled;

}  // namespace

namespace qnsafe {

std::string DanglingLinkEnd(const std::string& path)
{
    std::string at = path;
    for (int hop = 0; hop < 40; ++hop) {
        struct stat st;
        if (::lstat(at.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
            return at;
        char link[PATH_MAX];
        const ssize_t n = ::readlink(at.c_str(), link, sizeof link - 1);
        if (n <= 0)
            return path;
        link[n] = '\0';
        const size_t slash = at.rfind('/');
        at = link[0] == '/' || slash == std::string::npos ? std::string(link) : at.substr(0, slash + 1) + link;
    }
    return path;
}

Target Resolve(const std::string& path)
{
    Target t;
    t.path = path;
    if (IsStandardOutput(path)) {
        t.standardOutput = true;
        return t;
    }
    struct stat st;
    if (::stat(path.c_str(), &st) == 0) {
        if (!S_ISREG(st.st_mode)) {
            t.refused = S_ISDIR(st.st_mode) ? EISDIR : kNotRegular;
            t.kind = st.st_mode & S_IFMT;
            return t;
        }
        char resolved[PATH_MAX];
        SplitLanding(t, ::realpath(path.c_str(), resolved) ? std::string(resolved) : path);
    } else {
        if (errno == ELOOP) {
            t.refused = ELOOP;
            return t;
        }
        // A link to a file not made yet names where the new file goes; the
        // link itself stays.
        SplitLanding(t, DanglingLinkEnd(path));
    }
    t.dir = OpenFolder(t.folder);
    t.dirErrno = t.dir < 0 ? errno : 0;
    return t;
}

void Settle(const std::string& path, const Target& t)
{
    const int dir = t.dir >= 0 ? ::fcntl(t.dir, F_DUPFD_CLOEXEC, 0) : -1;
    if (dir < 0)
        return;
    const std::lock_guard<std::mutex> guard(g_settledLock);
    for (auto it = g_settled.begin(); it != g_settled.end();) {
        if (it->path == path || g_settled.size() >= kMostSettled) {
            ::close(it->dir);
            it = g_settled.erase(it);
        } else {
            ++it;
        }
    }
    g_settled.push_back({path, t.folder, t.name, dir});
}

Target Landing(const std::string& path)
{
    {
        const std::lock_guard<std::mutex> guard(g_settledLock);
        for (const Settled& s : g_settled) {
            if (s.path != path)
                continue;
            Target t;
            t.folder = s.folder;
            t.name = s.name;
            t.path = s.folder == "/" ? "/" + s.name : s.folder + "/" + s.name;
            t.dir = ::fcntl(s.dir, F_DUPFD_CLOEXEC, 0);
            t.dirErrno = t.dir < 0 ? errno : 0;
            return t;
        }
    }
    return Resolve(path);
}

}  // namespace qnsafe

// ---- Where a write lands, and whether an input is there -----------------------

using qnsafe::DanglingLinkEnd;

std::string qnWrittenPath(const std::string& path)
{
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
        return path;
    char resolved[PATH_MAX];
    if (::stat(path.c_str(), &st) == 0)
        return ::realpath(path.c_str(), resolved) ? std::string(resolved) : path;
    return DanglingLinkEnd(path);
}

std::string qnInputRefusal(const std::string& output, const std::vector<std::string>& inputs)
{
    namespace fs = std::filesystem;
    if (output == kQnStandardOutput)
        return qnStandardOutputOverInput(inputs).Line();
    if (output.empty())
        return {};
    // Where a file that is not there yet would be made: the end of its
    // links, in its folder as the folder's own links lead.
    const auto landing = [](const std::string& path) {
        std::error_code ec;
        const fs::path at = fs::weakly_canonical(fs::absolute(qnWrittenPath(path), ec), ec);
        return ec ? fs::path() : at;
    };
    struct stat out {};
    const bool outThere = ::stat(output.c_str(), &out) == 0;
    const fs::path outLanding = outThere ? fs::path() : landing(output);
    for (const std::string& in : inputs) {
        if (in.empty() || in == kQnStandardOutput)
            continue;
        struct stat st {};
        const bool same = ::stat(in.c_str(), &st) == 0
                              ? outThere && st.st_dev == out.st_dev && st.st_ino == out.st_ino
                              : !outThere && !outLanding.empty() && landing(in) == outLanding;
        if (same)
            return qnOverInputFailure(output, in);
    }
    return {};
}
