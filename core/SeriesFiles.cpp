#include "core/SeriesFiles.h"

#include "core/MD5Digest.h"
#include "core/SafeFileSignals.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <filesystem>

#include <dirent.h>
#include <errno.h>
#include <linux/magic.h>
#include <sys/random.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace qnseries {

bool IsPlainName(std::string_view name)
{
    return !name.empty() && name.size() <= 255 && name != "." && name != ".." &&
           name.find('/') == std::string_view::npos && name.find('\0') == std::string_view::npos;
}

namespace {

constexpr char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
constexpr std::string_view kGone = ".gone";

bool AllLettersOrDigits(std::string_view s)
{
    return std::all_of(s.begin(), s.end(), [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; });
}

std::string_view WithoutGone(std::string_view name)
{
    if (name.size() > kGone.size() && name.substr(name.size() - kGone.size()) == kGone)
        name.remove_suffix(kGone.size());
    return name;
}

// The MD5 digest of text under a key of this program's own.
void KeyedDigest(std::string_view text, uint8_t (&digest)[CQNF_MD5Digest::kDigestSize])
{
    static constexpr std::string_view kKey = "tessolo staging folder\n";
    CQNF_MD5Digest md5;
    md5.Update(reinterpret_cast<const uint8_t*>(kKey.data()), kKey.size());
    md5.Update(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    md5.Final(digest);
}

// The check letters of a staging folder's name: its keyed digest in
// letters or digits.
std::string StagingCheck(std::string_view markAndRandom)
{
    uint8_t digest[CQNF_MD5Digest::kDigestSize];
    KeyedDigest(markAndRandom, digest);
    std::string check;
    for (size_t k = 0; k < kStagingCheck; ++k)
        check.push_back(kLetters[digest[k] % (sizeof kLetters - 1)]);
    return check;
}

}  // namespace

std::string NewStagingName()
{
    uint8_t random[kStagingRandom] = {};
    if (::getrandom(random, sizeof random, 0) != ssize_t(sizeof random))
        for (uint8_t& r : random)
            r = uint8_t(std::rand());
    std::string name = CQNF_FileSeries::kStagingMark;
    for (const uint8_t r : random)
        name.push_back(kLetters[r % (sizeof kLetters - 1)]);
    return name + StagingCheck(name);
}

bool IsOwnStagingName(std::string_view name)
{
    name = WithoutGone(name);
    const std::string_view mark = CQNF_FileSeries::kStagingMark;
    return name.size() == mark.size() + kStagingRandom + kStagingCheck && name.substr(0, mark.size()) == mark &&
           AllLettersOrDigits(name.substr(mark.size())) &&
           name.substr(name.size() - kStagingCheck) == StagingCheck(name.substr(0, name.size() - kStagingCheck));
}

bool IsStagingName(std::string name)
{
    if (IsOwnStagingName(name))
        return true;
    name = std::string(WithoutGone(name));
    const std::string mark = CQNF_FileSeries::kStagingMark;
    return name.size() >= mark.size() + 6 && name[0] == '.' &&
           name.compare(name.size() - 6 - mark.size(), mark.size(), mark) == 0;
}

namespace {

// A staging folder's name (".gone" after it left out) under head, sealed
// under this program's key.
std::string SealedName(std::string_view head, std::string_view stagingName)
{
    const std::string body = std::string(head) + std::string(WithoutGone(stagingName)) + '\n';
    uint8_t digest[CQNF_MD5Digest::kDigestSize];
    KeyedDigest(body, digest);
    return body + "seal " + Hex(digest, sizeof digest) + '\n';
}

}  // namespace

std::string MarkBytes(std::string_view stagingName)
{
    return SealedName("tessolo series staging folder\n", stagingName);
}

std::string FinishedBytes(std::string_view stagingName)
{
    return SealedName("tessolo series finished\n", stagingName);
}

namespace {

// Up to most bytes from the start of the regular file of one name open as
// fd; false for anything else, or what cannot be read.
bool ReadStart(int fd, size_t most, std::string& bytes)
{
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1)
        return false;
    bytes.assign(most, '\0');
    size_t got = 0;
    while (got < most) {
        const ssize_t n = ::pread(fd, bytes.data() + got, most - got, off_t(got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            break;
        got += size_t(n);
    }
    bytes.resize(got);
    return true;
}

}  // namespace

namespace {

// Whether the file called file in the folder open as staging holds exactly
// mark.
bool HoldsExactly(int staging, const char* file, const std::string& mark)
{
    const OwnedFd fd{::openat(staging, file, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY)};
    std::string bytes;
    return fd.fd >= 0 && ReadStart(fd.fd, mark.size() + 1, bytes) && bytes == mark;
}

}  // namespace

bool HoldsOwnMark(int staging, std::string_view name) { return HoldsExactly(staging, kMarkName, MarkBytes(name)); }

bool HoldsFinishedMark(int staging, std::string_view name)
{
    return HoldsExactly(staging, kFinishedName, FinishedBytes(name));
}

bool IsBegunMark(int staging, std::string_view name, const std::string& entry)
{
    if (qnsafe::TempTarget(entry) != kMarkName)
        return false;
    const std::string mark = MarkBytes(name);
    const OwnedFd fd{::openat(staging, entry.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY)};
    std::string bytes;
    // A writer that lives holds a lock on its temporary file.
    return fd.fd >= 0 && ReadStart(fd.fd, mark.size() + 1, bytes) && mark.compare(0, bytes.size(), bytes) == 0 &&
           bytes.size() <= mark.size() && ::flock(fd.fd, LOCK_EX | LOCK_NB) == 0;
}

bool IsSeriesMade(std::string_view name)
{
    // The hidden temporary name a file of the series (the journal, a file,
    // an old file) had while it was written, where a run died before it was
    // renamed (core/SafeFile.h).
    if (const std::string_view target = qnsafe::TempTarget(name); !target.empty())
        name = target;
    if (name == kJournalName || name == kMarkName || name == kFinishedName)
        return true;
    const std::string_view old = ".old";
    if (name.size() > old.size() && name.substr(name.size() - old.size()) == old)
        name.remove_suffix(old.size());
    return !name.empty() && name.size() <= 9 && name.find_first_not_of("0123456789") == std::string_view::npos;
}

uint64_t FileSystemOf(int fd)
{
    struct statfs fs;
    if (::fstatfs(fd, &fs) != 0)
        return 0;
    int parts[2];
    static_assert(sizeof parts == sizeof fs.f_fsid);
    std::memcpy(parts, &fs.f_fsid, sizeof parts);
    return uint64_t(uint32_t(parts[0])) << 32 | uint32_t(parts[1]);
}

uint64_t FileSystemTypeOf(int fd)
{
    struct statfs fs;
    return ::fstatfs(fd, &fs) == 0 ? uint64_t(fs.f_type) : 0;
}

bool KeepsInodeNumbers(uint64_t type)
{
    return type != MSDOS_SUPER_MAGIC && type != EXFAT_SUPER_MAGIC && type != FUSE_SUPER_MAGIC;
}

std::string PlaceOnDisk(const std::string& folder)
{
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path path = fs::canonical(folder, ec);
    struct stat st;
    if (ec || ::stat(path.c_str(), &st) != 0)
        return {};
    // The disk's root: the highest folder above it on the same device.
    fs::path root = path;
    while (root.has_relative_path()) {
        struct stat up;
        if (::stat(root.parent_path().c_str(), &up) != 0 || up.st_dev != st.st_dev)
            break;
        root = root.parent_path();
    }
    const std::string rest = path.lexically_relative(root).string();
    return rest == "." ? "/" : "/" + rest;
}

std::string DigestOf(int fd)
{
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        return {};
    CQNF_MD5Digest md5;
    std::vector<uint8_t> chunk(size_t(1) << 16);
    off_t at = 0;
    for (;;) {
        const ssize_t n = ::pread(fd, chunk.data(), chunk.size(), at);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return {};
        if (n == 0)
            break;
        md5.Update(chunk.data(), size_t(n));
        at += n;
    }
    uint8_t digest[CQNF_MD5Digest::kDigestSize];
    md5.Final(digest);
    return Hex(digest, sizeof digest);
}

std::string DigestOf(int dir, const std::string& name)
{
    const OwnedFd fd{::openat(dir, name.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY)};
    return fd.fd < 0 ? std::string() : DigestOf(fd.fd);
}

const char* Program() { return program_invocation_short_name; }

OwnedFd::~OwnedFd()
{
    if (fd >= 0)
        ::close(fd);
}

namespace {

bool IsInsideCharacter(char c) { return (uint8_t(c) & 0xC0) == 0x80; }

}  // namespace

std::string FittedName(const std::string& name, size_t most)
{
    if (name.size() <= most)
        return name;
    // Its end tells apart names that differ only there, as the files of a
    // series do by their numbers: the bytes go from its middle instead,
    // and never through a character of several bytes.
    size_t tailFrom = name.size() - std::min<size_t>(kFittedTail, most / 2);
    while (tailFrom < name.size() && IsInsideCharacter(name[tailFrom]))
        ++tailFrom;
    size_t headEnd = most - (name.size() - tailFrom);
    while (headEnd > 0 && IsInsideCharacter(name[headEnd]))
        --headEnd;
    return name.substr(0, headEnd) + name.substr(tailFrom);
}

int KeepBeside(int staging, const std::string& backup, int dir, const std::string& file, const char* ending,
               std::string& kept)
{
    const size_t slash = file.rfind('/');
    const std::string parent = slash == std::string::npos ? std::string() : file.substr(0, slash + 1);
    const std::string base = file.substr(parent.size());
    long most = parent.empty() ? ::fpathconf(dir, _PC_NAME_MAX) : ::pathconf(parent.c_str(), _PC_NAME_MAX);
    if (most <= 0 || most > 255)
        most = 255;
    for (int n = 1; n <= 1000; ++n) {
        std::string suffix = ending;
        if (n > 1) {
            suffix += '-';
            suffix += std::to_string(n);
        }
        kept = parent + FittedName(base, size_t(most) - suffix.size()) + suffix;
        if (::renameat2(staging, backup.c_str(), dir, kept.c_str(), RENAME_NOREPLACE) == 0)
            return 0;
        if (errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP) {
            // A file system that cannot rename without replacing: a second
            // name never replaces either. One that gives none is renamed to
            // a name looked for first.
            if (::linkat(staging, backup.c_str(), dir, kept.c_str(), 0) == 0)
                return ::unlinkat(staging, backup.c_str(), 0);
            struct stat st;
            if (errno == EPERM || errno == ENOTSUP || errno == EMLINK) {
                if (::fstatat(dir, kept.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0)
                    errno = EEXIST;
                else if (errno == ENOENT)
                    return ::renameat(staging, backup.c_str(), dir, kept.c_str());
            }
        }
        if (errno != EEXIST)
            return -1;
    }
    errno = EEXIST;
    return -1;
}

void RemoveStaging(int dir, const std::string& name, int staging, const std::function<void()>& emptied)
{
    const int listFd = ::openat(staging, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (DIR* list = listFd >= 0 ? ::fdopendir(listFd) : nullptr) {
        std::vector<std::string> names;
        // Anything but what a series makes is not the series' to remove
        // (and the folder then stays).
        // The marks go last, and only with everything else: a folder that
        // stays keeps what tells it this program's, and a finished one what
        // tells that its journal and old files are no longer needed.
        bool marked = false, finished = false, rest = false;
        while (const struct dirent* d = ::readdir(list)) {
            const std::string_view n = d->d_name;
            if (n == kMarkName)
                marked = true;
            else if (n == kFinishedName)
                finished = true;
            else if (IsSeriesMade(n))
                names.emplace_back(n);
            else if (n != "." && n != "..")
                rest = true;
        }
        ::closedir(list);
        for (const std::string& n : names)
            rest = (::unlinkat(staging, n.c_str(), 0) != 0 && errno != ENOENT) || rest;
        if (!rest && emptied)
            emptied();
        // The finished mark goes only once the journal and the old files
        // are gone from the disk: without it they would be put back.
        if (finished && !rest)
            rest = ::fsync(staging) != 0 || ::unlinkat(staging, kFinishedName, 0) != 0;
        if (marked && !rest)
            ::unlinkat(staging, kMarkName, 0);
    } else if (listFd >= 0) {
        ::close(listFd);
    }
    ::unlinkat(dir, name.c_str(), AT_REMOVEDIR);
}

}  // namespace qnseries
