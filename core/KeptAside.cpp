#include "core/KeptAside.h"

#include "core/SafeFileRunInputs.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string AsideName(const std::string& path, int n)
{
    return path + ".bad" + (n == 1 ? std::string() : std::to_string(n));
}

// A name that leads to a file the run reads is no copy of ours: it holds
// no kept bytes and is never taken.
bool Ours(const std::string& aside)
{
    return qnOwnFileRefusal(aside).empty();
}

// Reads up to size bytes, short only at the end of the file or on a failure.
ssize_t ReadFully(int fd, char* buf, size_t size)
{
    size_t got = 0;
    while (got < size) {
        const ssize_t n = ::read(fd, buf + got, size - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        got += size_t(n);
    }
    return ssize_t(got);
}

// Whether two regular files hold the same bytes.
bool SameBytes(const std::string& a, const std::string& b)
{
    struct stat sa, sb;
    if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0 || !S_ISREG(sa.st_mode) ||
        !S_ISREG(sb.st_mode) || sa.st_size != sb.st_size)
        return false;
    const int fa = ::open(a.c_str(), O_RDONLY | O_CLOEXEC);
    const int fb = fa < 0 ? -1 : ::open(b.c_str(), O_RDONLY | O_CLOEXEC);
    bool same = fa >= 0 && fb >= 0;
    static constexpr size_t kChunk = 64 * 1024;
    char* bufA = same ? new char[2 * kChunk] : nullptr;
    while (same) {
        const ssize_t na = ReadFully(fa, bufA, kChunk), nb = ReadFully(fb, bufA + kChunk, kChunk);
        if (na < 0 || na != nb || std::memcmp(bufA, bufA + kChunk, size_t(na)) != 0) {
            same = false;
            break;
        }
        if (na == 0)
            break;
    }
    delete[] bufA;
    if (fa >= 0)
        ::close(fa);
    if (fb >= 0)
        ::close(fb);
    return same;
}

}  // namespace

qntKEPTASIDE qnKeepDamagedAside(const std::string& path)
{
    qntKEPTASIDE kept;
    // Nor is a file the run reads ever moved for being damaged as ours.
    if (!Ours(path))
        return kept;
    for (int n = 1; n <= kMaxKeptAside; ++n) {
        const std::string aside = AsideName(path, n);
        if (Ours(aside) && SameBytes(path, aside)) {
            if (::unlink(path.c_str()) != 0)
                return kept;
            kept.path = aside;
            kept.alreadyKept = true;
            return kept;
        }
    }
    for (int n = 1; n <= kMaxKeptAside; ++n) {
        const std::string aside = AsideName(path, n);
        if (::link(path.c_str(), aside.c_str()) == 0) {
            if (::unlink(path.c_str()) == 0)
                kept.path = aside;
            return kept;
        }
        if (errno == EEXIST)
            continue;
        // A file system without links: a rename, to a name still free.
        struct stat st;
        if (::lstat(aside.c_str(), &st) != 0 && errno == ENOENT && std::rename(path.c_str(), aside.c_str()) == 0)
            kept.path = aside;
        return kept;
    }
    // Every name holds other damaged bytes: the oldest copy makes room.
    std::string oldest;
    struct timespec when {};
    for (int n = 1; n <= kMaxKeptAside; ++n) {
        const std::string aside = AsideName(path, n);
        struct stat st;
        if (::lstat(aside.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || !Ours(aside))
            continue;
        if (oldest.empty() || st.st_mtim.tv_sec < when.tv_sec ||
            (st.st_mtim.tv_sec == when.tv_sec && st.st_mtim.tv_nsec < when.tv_nsec)) {
            oldest = aside;
            when = st.st_mtim;
        }
    }
    if (!oldest.empty() && std::rename(path.c_str(), oldest.c_str()) == 0) {
        kept.path = oldest;
        kept.replacedOldest = true;
    }
    return kept;
}

std::string qnKeptAsideWords(const qntKEPTASIDE& kept)
{
    if (kept.alreadyKept)
        return "already kept as " + kept.path;
    return "kept as " + kept.path + (kept.replacedOldest ? " in place of the oldest damaged copy" : "");
}
