#include "core/FileSeries.h"

#include "core/ErrorWords.h"
#include "core/MD5Digest.h"
#include "core/ProgramOutput.h"
#include "core/SafeFile.h"
#include "core/StdFile.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <mutex>
#include <set>
#include <string_view>
#include <thread>

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace {

std::atomic<CQNF_FileSeries::CommitHook> g_commitHook{nullptr};

void CallHook(size_t placed)
{
    if (const CQNF_FileSeries::CommitHook hook = g_commitHook.load())
        hook(placed);
}

using Journal = CQNF_FileSeries::Journal;
using JournalEntry = CQNF_FileSeries::JournalEntry;

// A replaced target's old file, kept in the staging folder until the series
// is in place. No name of a series ends so: series names are plain names.
std::string BackupName(const std::string& name) { return name + "~"; }

// The journal in a staging folder. Its name ends in two '~': no series
// name ends in one, so it is neither a series file nor a backup.
constexpr char kJournalName[] = "journal~~";
// The journal's first line, then a line "FILESYSTEM FOLDERDEVICE
// FOLDERINODE STAGINGDEVICE STAGINGINODE COUNT" naming where it was written
// and how many entries follow; then one entry a target: "DEVICE INODE SIZE
// DIGEST NAME", a 0 byte (no file name holds one), where the content goes
// (NAME, a name beside it a link of that name leads to, or the absolute
// path of a link's end elsewhere) and a 0 byte. Nothing follows the last
// entry.
constexpr char kJournalHead[] = "tessolo series journal 4\n";
// Earlier journals: version 3 without the file system and the digests,
// which a target is judged without by when it was last written; versions
// 2 and 1 also without the line of folders, where the content went as the
// path the run was given (version 2) or not at all (version 1: the name in
// the folder).
constexpr char kJournalHeadBound[] = "tessolo series journal 3\n";
constexpr char kJournalHeadTyped[] = "tessolo series journal 2\n";
constexpr char kJournalHeadNamesOnly[] = "tessolo series journal 1\n";
// What a refusal of a dead run's staging folder adds: what to do.
constexpr char kLeftForAPerson[] = "; nothing was written (put back by hand any old files it keeps, then remove it)";
// A journal names at most as many files as a series has, each in a few
// hundred bytes: anything larger is no journal.
constexpr size_t kJournalMost = size_t(64) << 20;

// A name a folder can hold as a file of its own: no path, no "." or "..".
bool IsPlainName(std::string_view name)
{
    return !name.empty() && name.size() <= 255 && name != "." && name != ".." &&
           name.find('/') == std::string_view::npos && name.find('\0') == std::string_view::npos;
}

bool SameFile(const struct stat& st, uint64_t device, uint64_t inode)
{
    return uint64_t(st.st_dev) == device && uint64_t(st.st_ino) == inode;
}

// The identity statfs gives the file system of the file open as fd (0:
// none). Unlike the device number it survives a remount where the file
// system keeps one of its own (ext4, xfs and btrfs take it from their
// UUID).
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

// The MD5 digest of the regular file open as fd, read from its start, in
// lower-case hexadecimal; empty when it cannot be read.
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
    static const char kHex[] = "0123456789abcdef";
    std::string hex;
    for (const uint8_t b : digest) {
        hex.push_back(kHex[b >> 4]);
        hex.push_back(kHex[b & 15]);
    }
    return hex;
}

// The digest of the file name (reached from dir) names, never through a
// link; empty when it cannot be read.
std::string DigestOf(int dir, const std::string& name)
{
    const int fd = ::openat(dir, name.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return {};
    std::string digest = DigestOf(fd);
    ::close(fd);
    return digest;
}

// What a file a series placed is known again by, besides its inode and
// size: for journals that hold digests, its content and the folder's file
// system as it is now; for older ones, its device and not having been
// written since the journal was.
struct Witness {
    int version = 4;
    uint64_t device = 0;
    struct timespec written {};
};

// Whether the target's file (reached from dir) is still exactly the one the
// series placed there: changed since, it is the user's.
bool IsHeldBy(int dir, const JournalEntry& e, const struct stat& st, const Witness& w)
{
    if (e.inode == 0 || !S_ISREG(st.st_mode) || uint64_t(st.st_ino) != e.inode || uint64_t(st.st_size) != e.size)
        return false;
    if (w.version >= 4)
        return uint64_t(st.st_dev) == w.device && !e.digest.empty() && DigestOf(dir, e.file) == e.digest;
    return uint64_t(st.st_dev) == e.device &&
           (st.st_mtim.tv_sec < w.written.tv_sec ||
            (st.st_mtim.tv_sec == w.written.tv_sec && st.st_mtim.tv_nsec <= w.written.tv_nsec));
}

// A descriptor closed when it goes.
struct OwnedFd {
    int fd = -1;
    OwnedFd(int f) : fd(f) {}
    OwnedFd(const OwnedFd&) = delete;
    OwnedFd& operator=(const OwnedFd&) = delete;
    ~OwnedFd()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

// The name of this program, for lines it says of itself.
const char* Program() { return program_invocation_short_name; }

// Moves a file kept in staging as backup beside the target file (reached
// from dir) as FILE and then ending (".before-crash" for a dead run's old
// file) or, where that is taken, with "-2" and on after it: never over
// anything. 0 with the name in kept, or -1 with errno.
int KeepBeside(int staging, const std::string& backup, int dir, const std::string& file, const char* ending,
               std::string& kept)
{
    for (int n = 1; n <= 1000; ++n) {
        kept = file;
        kept += ending;
        if (n > 1) {
            kept += '-';
            kept += std::to_string(n);
        }
        if (::renameat2(staging, backup.c_str(), dir, kept.c_str(), RENAME_NOREPLACE) == 0)
            return 0;
        if (errno == EINVAL || errno == ENOSYS) {
            // A file system that cannot rename without replacing: a second
            // name never replaces either.
            if (::linkat(staging, backup.c_str(), dir, kept.c_str(), 0) == 0)
                return ::unlinkat(staging, backup.c_str(), 0);
        }
        if (errno != EEXIST)
            return -1;
    }
    errno = EEXIST;
    return -1;
}

// Removes the files in the staging folder open as staging and called name
// in dir, then the folder itself (never what lies deeper).
void RemoveStaging(int dir, const std::string& name, int staging)
{
    const int listFd = ::openat(staging, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (DIR* list = listFd >= 0 ? ::fdopendir(listFd) : nullptr) {
        std::vector<std::string> names;
        while (const struct dirent* d = ::readdir(list))
            if (std::strcmp(d->d_name, ".") != 0 && std::strcmp(d->d_name, "..") != 0)
                names.emplace_back(d->d_name);
        ::closedir(list);
        for (const std::string& n : names)
            ::unlinkat(staging, n.c_str(), 0);
    } else if (listFd >= 0) {
        ::close(listFd);
    }
    ::unlinkat(dir, name.c_str(), AT_REMOVEDIR);
}

// ".STEM.series-XXXXXX", or that with ".gone" after it: the name a staging
// folder gets from SIGINT or SIGTERM before it is emptied, which a run
// killed in between leaves behind.
bool IsStagingName(std::string name)
{
    const std::string gone = ".gone";
    if (name.size() > gone.size() && name.compare(name.size() - gone.size(), gone.size(), gone) == 0)
        name.resize(name.size() - gone.size());
    const std::string mark = CQNF_FileSeries::kStagingMark;
    return name.size() > mark.size() + 7 && name[0] == '.' &&
           name.compare(name.size() - 6 - mark.size(), mark.size(), mark) == 0;
}

}  // namespace

// An exclusive lock on a folder itself, held while the object lives: the
// series in one folder take turns with it.
class CQNF_FileSeries::FolderLock {
public:
    FolderLock() = default;
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;
    ~FolderLock()
    {
        if (m_fd >= 0) {
            ::flock(m_fd, LOCK_UN);
            ::close(m_fd);
        }
    }

    // Waits for the lock on the folder open as dir (shown as folder);
    // false with errno set when it cannot be locked. A folder this user may
    // write but not read is open only as a place (see OpenFolder): it
    // cannot be locked, nor can anything in it be seen or swept, and it
    // goes unlocked.
    bool Lock(int dir, const std::string& folder)
    {
        if ((::fcntl(dir, F_GETFL) & O_PATH) != 0)
            return true;
        // A copy of the descriptor holds the lock, so that it lasts until
        // this object goes even when the folder's descriptor is closed
        // first (and its number given to another file).
        m_fd = ::fcntl(dir, F_DUPFD_CLOEXEC, 0);
        if (m_fd < 0)
            return false;
        int rc = ::flock(m_fd, LOCK_EX | LOCK_NB);
        if (rc != 0 && errno == EWOULDBLOCK)
            rc = Wait(folder);
        if (rc != 0) {
            const int error = errno;
            ::close(m_fd);
            m_fd = -1;
            errno = error;
            return false;
        }
        return true;
    }

private:
    // How long a series waits for another writer of its folder before it
    // says so.
    static constexpr std::chrono::seconds kPatience{1};

    // Waits for the lock another writer holds; after kPatience says once,
    // on standard error, whom it waits for. A writer that is stopped (or
    // slow) would lose its work if this one went ahead, so it waits on.
    // flock's return.
    int Wait(const std::string& folder)
    {
        std::mutex mutex;
        std::condition_variable done;
        bool locked = false;
        // The watcher takes no signal: they stay with the threads that
        // handle them.
        sigset_t all, old;
        ::sigfillset(&all);
        ::pthread_sigmask(SIG_SETMASK, &all, &old);
        std::thread watcher([&] {
            std::unique_lock<std::mutex> hold(mutex);
            if (!done.wait_for(hold, kPatience, [&] { return locked; }))
                std::fprintf(stderr,
                             "%s: waiting for another program that is writing into %s to finish (if it is "
                             "stopped, it must be let go on or ended)\n",
                             Program(), qnShownName(folder).c_str());
        });
        ::pthread_sigmask(SIG_SETMASK, &old, nullptr);
        int rc;
        do
            rc = ::flock(m_fd, LOCK_EX);
        while (rc != 0 && errno == EINTR);
        const int error = errno;
        {
            const std::lock_guard<std::mutex> hold(mutex);
            locked = true;
        }
        done.notify_one();
        watcher.join();
        errno = error;
        return rc;
    }

    int m_fd = -1;
};

namespace {

// The folder a series goes into, open for reading (to be listed and
// locked) or, where this user may write it but not read it, as a place.
int OpenFolder(const std::string& folder)
{
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0 || errno != EACCES)
        return fd;
    return ::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
}

// Reads the whole journal open as fd; false with why.
bool ReadAll(int fd, std::vector<uint8_t>& bytes, std::string& why)
{
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        why = "is not a file";
        return false;
    }
    if (uint64_t(st.st_size) > kJournalMost) {
        why = "is damaged (far too large)";
        return false;
    }
    bytes.resize(size_t(st.st_size));
    size_t got = 0;
    while (got < bytes.size()) {
        const ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            why = n < 0 ? "cannot be read: " + qnSystemWords(errno) : std::string("is damaged (cut short)");
            return false;
        }
        got += size_t(n);
    }
    return true;
}

// What became of a dead run's staging folder when it was looked at.
struct Staging {
    enum Kind { Skip, Remove, PutBack, Refuse } kind = Skip;
    int fd = -1;  // the staging folder, open (and locked unless skipped)
    Journal journal;
    struct timespec written {};  // when its journal was last written
    std::string why;             // for Refuse, in a few words

    Staging() = default;
    Staging(const Staging&) = delete;
    Staging& operator=(const Staging&) = delete;
    ~Staging()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

// Whether name, in the folder open as dir (shown as folder), is a symbolic
// link whose end is the file at the absolute path end: the same name in the
// same folder, compared by the folders' device and inode.
bool IsLinkLeadingTo(int dir, const std::string& folder, const std::string& name, const std::string& end)
{
    struct stat st;
    if (!IsPlainName(name) || ::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISLNK(st.st_mode))
        return false;
    const std::string reached = qnWrittenPath(folder + "/" + name);
    const auto split = [](const std::string& path) {
        const size_t slash = path.rfind('/');
        if (slash == std::string::npos)
            return std::pair<std::string, std::string>(".", path);
        return std::pair<std::string, std::string>(slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1));
    };
    const auto [reachedParent, reachedBase] = split(reached);
    const auto [endParent, endBase] = split(end);
    struct stat a, b;
    return IsPlainName(endBase) && reachedBase == endBase && ::stat(reachedParent.c_str(), &a) == 0 &&
           ::stat(endParent.c_str(), &b) == 0 && SameFile(a, uint64_t(b.st_dev), uint64_t(b.st_ino));
}

// Whether the staging folder open as staging, in the folder open as dir,
// is the one a bound journal was written for; otherwise why not, in a few
// words. Device numbers last only while a disk stays mounted: the file
// system's own identity and the inode numbers, which a disk mounted again
// keeps, are what a journal of version 4 is bound by.
bool IsWrittenHere(int dir, int staging, const Journal& journal, std::string& why)
{
    struct stat folderSt, stagingSt;
    if (::fstat(dir, &folderSt) != 0 || ::fstat(staging, &stagingSt) != 0) {
        why = "cannot be checked: " + qnSystemWords(errno);
        return false;
    }
    if (uint64_t(folderSt.st_ino) != journal.folderInode || uint64_t(stagingSt.st_ino) != journal.stagingInode ||
        stagingSt.st_dev != folderSt.st_dev) {
        why = "was written in another folder (copied or moved here)";
        return false;
    }
    const uint64_t fileSystem = journal.version >= 4 ? FileSystemOf(dir) : 0;
    if (fileSystem != 0 || journal.fileSystem != 0) {
        if (fileSystem != journal.fileSystem)
            why = "was written on another disk (this folder was copied from there)";
        return fileSystem == journal.fileSystem;
    }
    // Without the file system's identity only the device number tells it.
    const bool sameDevice = uint64_t(folderSt.st_dev) == journal.folderDevice;
    if (!sameDevice)
        why = std::string("was written under another device number (on this disk before it was mounted again, or on "
                          "another disk), which ") +
              (journal.version >= 4 ? "this file system" : "a journal of this older form") + " cannot tell apart";
    return sameDevice;
}

// Looks at the entry called name in the folder open as dir (shown as
// folder): whether it is a dead run's staging folder to remove, one whose
// journal is to be put back (every entry then names a file in dir, and
// every backup is a file), one to refuse, or none of those. Takes the
// staging folder's lock exclusive (to put it right) or shared (only to
// look); a folder whose lock is held belongs to a running series.
void Examine(int dir, const std::string& folder, const std::string& name, bool exclusive, Staging& s)
{
    s.kind = Staging::Skip;
    struct stat st;
    if (!IsStagingName(name) || ::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || st.st_uid != ::geteuid())
        return;
    if (S_ISLNK(st.st_mode)) {
        s.kind = Staging::Refuse;
        s.why = "is a symbolic link where a series keeps its files";
        return;
    }
    if (!S_ISDIR(st.st_mode))
        return;
    s.fd = ::openat(dir, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW);
    if (s.fd < 0 || ::flock(s.fd, (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0)
        return;
    const int journalFd = ::openat(s.fd, kJournalName, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (journalFd < 0 && errno == ENOENT) {
        s.kind = Staging::Remove;
        return;
    }
    // A dead run's journal: the run died while replacing targets, and its
    // old files go back before its backups can go.
    s.kind = Staging::Refuse;
    std::vector<uint8_t> bytes;
    std::string why;
    if (journalFd < 0) {
        s.why = "the journal of an interrupted series cannot be read: " + qnSystemWords(errno);
        return;
    }
    const bool read = ReadAll(journalFd, bytes, why);
    if (::fstat(journalFd, &st) == 0)
        s.written = st.st_mtim;
    ::close(journalFd);
    if (!read || !CQNF_FileSeries::ParseJournal(bytes.data(), bytes.size(), s.journal, why)) {
        s.why = "the journal of an interrupted series " + why;
        return;
    }
    // Inode numbers mean something only on the disk, and in the folders,
    // they were taken in: a journal copied or moved along with its staging
    // folder would take other files for the ones its run placed.
    if (s.journal.bound && !IsWrittenHere(dir, s.fd, s.journal, why)) {
        s.why = "the journal of an interrupted series " + why;
        return;
    }
    struct stat folderSt;
    for (JournalEntry& e : s.journal.entries) {
        const std::string shown = qnShownName(e.file);
        if (s.journal.version == 2) {
            // Version 2 holds the path the dead run was given, which may
            // be relative to a folder other than this run's: it is taken
            // only where it leads to a plain name in this very folder.
            const size_t slash = e.file.rfind('/');
            const std::string parent =
                slash == std::string::npos ? "." : slash == 0 ? "/" : e.file.substr(0, slash);
            std::string base = slash == std::string::npos ? e.file : e.file.substr(slash + 1);
            struct stat parentSt;
            if (!IsPlainName(base) || ::fstat(dir, &folderSt) != 0 || ::stat(parent.c_str(), &parentSt) != 0 ||
                !SameFile(parentSt, uint64_t(folderSt.st_dev), uint64_t(folderSt.st_ino))) {
                s.why = "the journal of an interrupted series names " + shown + ", not a file in " + qnShownName(folder);
                return;
            }
            e.file = std::move(base);
        }
        // A bound entry names an absolute path where the series' file was a
        // link leading out of the folder: taken only while that link is
        // still there and still leads to it.
        const bool linkEnd = s.journal.bound && e.file[0] == '/' && IsLinkLeadingTo(dir, folder, e.name, e.file);
        if (!linkEnd && !IsPlainName(e.file)) {
            s.why = "the journal of an interrupted series names " + shown + ", not a file in " + qnShownName(folder);
            return;
        }
        if (::fstatat(s.fd, BackupName(e.name).c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISREG(st.st_mode)) {
            s.why = "the old file it keeps for " + qnShownName(e.name) + " is not a file";
            return;
        }
    }
    s.kind = Staging::PutBack;
}

// Whether a target that had no old file and no longer holds what the
// series placed there is the user's: that file changed in place, or any
// file written after the journal was (when that time is known). An old
// file that a series on a file system without hard links never moved
// aside is neither.
bool IsChangedSince(const JournalEntry& e, const struct stat& st, const Witness& w)
{
    const uint64_t device = w.version >= 4 ? w.device : e.device;
    if (S_ISREG(st.st_mode) && e.inode != 0 && SameFile(st, device, e.inode))
        return true;
    const bool known = w.written.tv_sec != 0 || w.written.tv_nsec != 0;
    return known && (st.st_mtim.tv_sec > w.written.tv_sec ||
                     (st.st_mtim.tv_sec == w.written.tv_sec && st.st_mtim.tv_nsec > w.written.tv_nsec));
}

// Puts back what a series replaced: a target that still holds the series'
// file as placed gets its old file back from the backup, or goes when it
// had none; a target moved aside and not yet replaced gets its old file
// back. A target that holds anything else (its old file, linked as the
// backup, or a file someone wrote or changed since) stays, and an old file
// of its own is kept beside it. Each target changed since is told to
// changed, with the name its old file is kept under (empty: none), for the
// line that says so. The targets are reached from dir, the backups from
// staging. False, with the target and errno, when a step failed; the rest
// are still tried.
bool PutBack(int dir, int staging, const std::vector<JournalEntry>& entries, const Witness& w,
             const std::function<void(const std::string& file, const std::string& kept)>& changed,
             std::string& failedTarget, int& error)
{
    bool ok = true;
    for (const JournalEntry& e : entries) {
        const std::string backup = BackupName(e.name);
        struct stat targetSt, backupSt;
        const bool hasTarget = ::fstatat(dir, e.file.c_str(), &targetSt, AT_SYMLINK_NOFOLLOW) == 0;
        const bool ours = hasTarget && IsHeldBy(dir, e, targetSt, w);
        const bool hasBackup =
            ::fstatat(staging, backup.c_str(), &backupSt, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(backupSt.st_mode);
        int rc = 0;
        if (hasBackup && (ours || !hasTarget)) {
            rc = ::renameat(staging, backup.c_str(), dir, e.file.c_str());
        } else if (ours) {
            rc = ::unlinkat(dir, e.file.c_str(), 0);
        } else if (hasBackup && !SameFile(targetSt, uint64_t(backupSt.st_dev), uint64_t(backupSt.st_ino))) {
            std::string kept;
            rc = KeepBeside(staging, backup, dir, e.file, ".before-crash", kept);
            if (rc == 0)
                changed(e.file, kept);
        } else if (hasTarget && !ours && !hasBackup && IsChangedSince(e, targetSt, w)) {
            changed(e.file, std::string());
        }
        if (rc != 0 && ok) {
            ok = false;
            failedTarget = e.file;
            error = errno;
        }
    }
    return ok;
}

// Reads numbers from [p, stop), each followed by one space (the last by
// end); false for anything else.
bool ReadNumbers(const char*& p, const char* stop, std::initializer_list<uint64_t*> fields, char end)
{
    size_t k = 0;
    for (uint64_t* field : fields) {
        const auto [next, ec] = std::from_chars(p, stop, *field);
        const char after = ++k == fields.size() ? end : ' ';
        if (ec != std::errc() || next == stop || *next != after)
            return false;
        p = next + 1;
    }
    return true;
}

}  // namespace

bool CQNF_FileSeries::ParseJournal(const uint8_t* data, size_t size, Journal& journal, std::string& why)
{
    journal = Journal();
    const char* text = reinterpret_cast<const char*>(data);
    const char* stop = text + size;
    const size_t headSize = sizeof kJournalHead - 1;
    const std::string_view head(text, std::min(size, headSize));
    if (head == kJournalHead)
        journal.version = 4;
    else if (head == kJournalHeadBound)
        journal.version = 3;
    else if (head == kJournalHeadTyped)
        journal.version = 2;
    else if (head == kJournalHeadNamesOnly)
        journal.version = 1;
    else {
        why = size < headSize ? "is damaged (cut short)" : "is damaged (not a journal)";
        return false;
    }
    const char* p = text + headSize;
    uint64_t count = 0;
    if (journal.version >= 3) {
        journal.bound = true;
        const bool read =
            journal.version == 3
                ? ReadNumbers(p, stop,
                              {&journal.folderDevice, &journal.folderInode, &journal.stagingDevice,
                               &journal.stagingInode, &count},
                              '\n')
                : ReadNumbers(p, stop,
                              {&journal.fileSystem, &journal.folderDevice, &journal.folderInode,
                               &journal.stagingDevice, &journal.stagingInode, &count},
                              '\n');
        if (!read) {
            why = "is damaged (its second line)";
            return false;
        }
    }
    std::set<std::string_view> names, files;
    while (p < stop) {
        const std::string entry = "is damaged (entry " + std::to_string(journal.entries.size() + 1) + ")";
        JournalEntry e;
        const char* nameEnd = std::find(p, stop, '\0');
        if (nameEnd == stop) {
            why = "is damaged (cut short)";
            return false;
        }
        if (!ReadNumbers(p, nameEnd, {&e.device, &e.inode, &e.size}, ' ')) {
            why = entry;
            return false;
        }
        if (journal.version >= 4) {
            constexpr size_t kDigits = 2 * CQNF_MD5Digest::kDigestSize;
            if (size_t(nameEnd - p) <= kDigits || p[kDigits] != ' ' ||
                !std::all_of(p, p + kDigits, [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); })) {
                why = entry;
                return false;
            }
            e.digest.assign(p, kDigits);
            p += kDigits + 1;
        }
        const std::string_view name(p, size_t(nameEnd - p));
        p = nameEnd + 1;
        std::string_view file = name;
        if (journal.version >= 2) {
            const char* fileEnd = std::find(p, stop, '\0');
            if (fileEnd == stop) {
                why = "is damaged (cut short)";
                return false;
            }
            file = std::string_view(p, size_t(fileEnd - p));
            p = fileEnd + 1;
        }
        // Series names are plain names that never end in '~'; the file a
        // bound entry names is one beside them or an absolute path.
        const bool nameIsPlain = IsPlainName(name) && name.back() != '~';
        if (!nameIsPlain || file.empty() || (journal.bound && file[0] != '/' && !IsPlainName(file))) {
            why = "names " + qnShownName(nameIsPlain ? file : name) + ", which is no name of a file in its folder";
            return false;
        }
        if (!names.insert(name).second || !files.insert(file).second) {
            why = entry + ": a name twice";
            return false;
        }
        e.name.assign(name);
        e.file.assign(file);
        journal.entries.push_back(std::move(e));
    }
    if (journal.bound && count != journal.entries.size()) {
        why = count > journal.entries.size() ? "is damaged (cut short)" : "is damaged (too many entries)";
        return false;
    }
    return true;
}

std::string CQNF_FileSeries::JournalBytes(const Journal& journal)
{
    std::string text = kJournalHead;
    for (const uint64_t n : {journal.fileSystem, journal.folderDevice, journal.folderInode, journal.stagingDevice,
                             journal.stagingInode})
        text += std::to_string(n) + ' ';
    text += std::to_string(journal.entries.size()) + '\n';
    for (const JournalEntry& e : journal.entries) {
        text += std::to_string(e.device) + ' ' + std::to_string(e.inode) + ' ' + std::to_string(e.size) + ' ';
        // An entry whose file was missing when the journal was written
        // (its inode 0) is never taken for a placed file.
        constexpr size_t kDigits = 2 * CQNF_MD5Digest::kDigestSize;
        text += (e.digest.size() == kDigits ? e.digest : std::string(kDigits, '0')) + ' ';
        text += e.name;
        text.push_back('\0');
        text += e.file;
        text.push_back('\0');
    }
    return text;
}

void CQNF_FileSeries::SetCommitHook(CommitHook hook) { g_commitHook.store(hook); }

bool CQNF_FileSeries::i_Fail(const std::string& path, int error)
{
    return i_Fail(path, error ? qnSystemWords(error) : std::string("cannot write"));
}

bool CQNF_FileSeries::i_Fail(const std::string& path, const std::string& why)
{
    m_failure = path + ": " + why;
    return false;
}

bool CQNF_FileSeries::i_Recover()
{
    // Listed from its own descriptor, the folder is the one the targets are
    // reached from; a folder open only as a place cannot be listed.
    const int listFd = ::openat(m_dir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* list = listFd >= 0 ? ::fdopendir(listFd) : nullptr;
    if (!list) {
        if (listFd >= 0)
            ::close(listFd);
        return true;
    }
    std::vector<std::string> names;
    while (const struct dirent* d = ::readdir(list))
        if (IsStagingName(d->d_name))
            names.emplace_back(d->d_name);
    ::closedir(list);
    for (const std::string& name : names) {
        Staging s;
        Examine(m_dir, m_folder, name, true, s);
        if (s.kind == Staging::Refuse)
            return i_Fail(m_folder + "/" + qnShownName(name),
                          s.why + kLeftForAPerson);
        if (s.kind == Staging::PutBack) {
            std::string target;
            int error = 0;
            struct stat folderSt {};
            ::fstat(m_dir, &folderSt);
            Witness w;
            w.version = s.journal.version;
            w.device = uint64_t(folderSt.st_dev);
            w.written = s.written;
            if (!PutBack(m_dir, s.fd, s.journal.entries, w, i_Changed(), target, error))
                return i_Fail(m_folder + "/" + qnShownName(target), error);
            ::fsync(m_dir);
        }
        if (s.kind != Staging::Skip)
            RemoveStaging(m_dir, name, s.fd);
    }
    return true;
}

bool CQNF_FileSeries::i_LockAndRecover(FolderLock& folderLock)
{
    if (!folderLock.Lock(m_dir, m_folder)) {
        const int error = errno;
        Abandon();
        return i_Fail(m_folder, error);
    }
    if (i_Recover())
        return true;
    Abandon();
    return false;
}

bool CQNF_FileSeries::Begin(const std::string& folder, const std::string& stem)
{
    Abandon();
    m_failure.clear();
    m_names.clear();
    m_folder = folder.empty() ? "." : folder;
    // A folder whose mode forbids writing is refused as a single file in it
    // would be, even where the system would let this process write.
    if (std::string why = qnFolderRefusal(m_folder, 0); !why.empty()) {
        m_failure = std::move(why);
        return false;
    }
    m_dir = OpenFolder(m_folder);
    if (m_dir < 0)
        return i_Fail(m_folder, errno);
    // The staging folder is made and locked under the folder's lock, which
    // every sweep holds: none ever sees it unlocked.
    FolderLock folderLock;
    if (!i_LockAndRecover(folderLock))
        return false;
    std::string base = stem.empty() ? std::string("series") : stem;
    if (base.size() > 100)
        base.resize(100);
    static const char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    int error = EEXIST;
    for (int attempt = 0; attempt < 100 && error == EEXIST; ++attempt) {
        uint8_t random[6] = {};
        if (::getrandom(random, sizeof random, 0) != ssize_t(sizeof random))
            for (uint8_t& r : random)
                r = uint8_t(std::rand());
        std::string name = "." + base + kStagingMark;
        for (const uint8_t r : random)
            name.push_back(kLetters[r % (sizeof kLetters - 1)]);
        error = ::mkdirat(m_dir, name.c_str(), 0700) == 0 ? 0 : errno;
        if (error == 0)
            m_stagingName = std::move(name);
    }
    if (error != 0) {
        Abandon();
        return i_Fail(m_folder, error);
    }
    m_staging = m_folder + "/" + m_stagingName;
    m_signalSlot = qnRemoveFolderOnSignal(m_staging);
    m_lock = ::openat(m_dir, m_stagingName.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW);
    if (m_lock < 0 || ::flock(m_lock, LOCK_EX | LOCK_NB) != 0) {
        error = errno;
        if (m_lock < 0)
            ::unlinkat(m_dir, m_stagingName.c_str(), AT_REMOVEDIR);
        Abandon();
        return i_Fail(m_folder, error);
    }
    return true;
}

std::string CQNF_FileSeries::Refusal(const std::string& folder, size_t longestName)
{
    const std::string dir = folder.empty() ? "." : folder;
    // A replaced file's backup takes its name and one character more.
    if (std::string why = qnFolderRefusal(dir, longestName ? longestName + 1 : 0); !why.empty())
        return why;
    // A dead run's journal that the series would refuse, found before the
    // work rather than after it; only looked at, under a shared lock.
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* list = fd >= 0 ? ::fdopendir(::dup(fd)) : nullptr;
    std::string refused;
    if (list) {
        while (const struct dirent* d = ::readdir(list)) {
            Staging s;
            Examine(fd, dir, d->d_name, false, s);
            if (s.kind == Staging::Refuse) {
                refused = dir + "/" + qnShownName(d->d_name) + ": " + s.why +
                          kLeftForAPerson;
                break;
            }
        }
        ::closedir(list);
    }
    if (fd >= 0)
        ::close(fd);
    return refused;
}

std::vector<std::string> CQNF_FileSeries::Targets() const
{
    std::vector<std::string> targets;
    for (const std::string& name : m_names)
        targets.push_back(m_folder + "/" + name);
    return targets;
}

std::function<void(const std::string&, const std::string&)> CQNF_FileSeries::i_Changed()
{
    return [this](const std::string& file, const std::string& kept) { m_changed.push_back({file, kept, {}}); };
}

void CQNF_FileSeries::i_SayWhatWasKept()
{
    for (const Changed& c : m_changed) {
        const std::string at = c.file[0] == '/' ? std::string() : m_folder + "/";
        const std::string file = at + qnShownName(c.file);
        std::string what;
        if (!c.changed.empty()) {
            what = "that changed file is kept as " + at + qnShownName(c.changed);
            if (!c.before.empty())
                what += ", the file it replaced as " + at + qnShownName(c.before);
            what += ", and " + file + " now holds the new file of this run";
        } else if (!c.before.empty()) {
            what = "it stays as it is, and the file it replaced is kept as " + at + qnShownName(c.before);
        } else {
            continue;  // it stays, and nothing was kept beside it
        }
        std::fprintf(stderr, "%s: %s was changed after a series that was writing it was interrupted: %s\n", Program(),
                     file.c_str(), what.c_str());
    }
    m_changed.clear();
}

void CQNF_FileSeries::Abandon()
{
    i_SayWhatWasKept();
    if (m_lock >= 0 && m_dir >= 0 && !m_stagingName.empty())
        RemoveStaging(m_dir, m_stagingName, m_lock);
    qnForgetFolderOnSignal(m_signalSlot);
    m_signalSlot = -1;
    if (m_lock >= 0)
        ::close(m_lock);
    m_lock = -1;
    if (m_dir >= 0)
        ::close(m_dir);
    m_dir = -1;
    m_staging.clear();
    m_stagingName.clear();
}

bool CQNF_FileSeries::Commit()
{
    namespace fs = std::filesystem;
    if (m_lock < 0)
        return i_Fail(m_folder, EBADF);
    // One commit in a folder at a time, and only after what dead runs left
    // is put right: a dead run's journal then never meets a target that a
    // later series replaced.
    FolderLock folderLock;
    if (!i_LockAndRecover(folderLock))
        return false;
    struct stat folderSt, stagingSt;
    if (::fstat(m_dir, &folderSt) != 0 || ::fstat(m_lock, &stagingSt) != 0) {
        const int error = errno;
        Abandon();
        return i_Fail(m_folder, error);
    }

    // Each target as it is now: whether it exists and, when it does, a second
    // name for its file in the staging folder that the rename below leaves
    // alone. Nothing outside the staging folder changes in this first pass.
    struct Slot {
        std::string named;  // the series' file as messages about it name it
        std::string shown;  // where its content lands, links followed
        bool existed = false;
        bool linked = false;  // the backup is a link (else the file moves aside)
    };
    std::vector<Slot> slots(m_names.size());
    Journal journal;
    journal.version = 4;
    journal.bound = true;
    journal.fileSystem = FileSystemOf(m_dir);
    journal.folderDevice = uint64_t(folderSt.st_dev);
    journal.folderInode = uint64_t(folderSt.st_ino);
    journal.stagingDevice = uint64_t(stagingSt.st_dev);
    journal.stagingInode = uint64_t(stagingSt.st_ino);
    std::vector<JournalEntry>& entries = journal.entries;
    entries.resize(m_names.size());
    std::set<std::string> reached;
    bool ok = true;
    for (size_t k = 0; ok && k < m_names.size(); ++k) {
        Slot& s = slots[k];
        JournalEntry& e = entries[k];
        e.name = m_names[k];
        e.file = m_names[k];
        if (!IsPlainName(e.name) || e.name.back() == '~') {
            ok = i_Fail(m_folder + "/" + e.name, "not a plain file name");
            continue;
        }
        // A symbolic link stays and the file it names is replaced, as a
        // single file's link is. Its end is reached by the name beside the
        // link when it lies in this folder, else by its absolute path.
        // What is wrong with a target is said of the series' own file, as a
        // single file's writer names the link it was given; a failed move
        // names where the content was to land.
        s.named = m_folder + "/" + qnShownName(m_names[k]);
        s.shown = qnWrittenPath(m_folder + "/" + m_names[k]);
        struct stat st;
        if (::fstatat(m_dir, e.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode)) {
            if (::stat(s.shown.c_str(), &st) != 0 && errno == ELOOP) {
                ok = i_Fail(s.named, ELOOP);
                continue;
            }
            std::string end = s.shown;
            if (end[0] != '/') {
                std::error_code ec;
                end = (fs::current_path(ec) / end).string();
            }
            const size_t slash = end.rfind('/');
            const std::string base = end.substr(slash + 1);
            struct stat parentSt;
            const bool beside = IsPlainName(base) &&
                                ::stat(slash == 0 ? "/" : end.substr(0, slash).c_str(), &parentSt) == 0 &&
                                SameFile(parentSt, journal.folderDevice, journal.folderInode);
            e.file = beside ? base : end;
        }
        // The staged file as it is to be placed, its content included: a
        // dead run's file is put back only over a target still holding
        // exactly that.
        const OwnedFd staged{
            ::openat(m_lock, e.name.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY)};
        const int stagedFd = staged.fd;
        if (stagedFd >= 0 && ::fstat(stagedFd, &st) == 0 && S_ISREG(st.st_mode)) {
            e.device = uint64_t(st.st_dev);
            e.inode = uint64_t(st.st_ino);
            e.size = uint64_t(st.st_size);
            e.digest = DigestOf(stagedFd);
        }
        std::error_code ec;
        for (const std::string& keep : m_protected)
            if (ok && fs::equivalent(keep, s.shown, ec))
                ok = i_Fail(s.named, qnOverInputWords(keep));
        if (ok && !reached.insert(fs::weakly_canonical(s.shown, ec).string()).second)
            ok = i_Fail(s.shown, "two files of the series lead to it");
        if (!ok || ::fstatat(m_dir, e.file.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        s.existed = true;
        if (S_ISDIR(st.st_mode))
            ok = i_Fail(s.named, "is a folder");
        else if (!S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode))
            ok = i_Fail(s.named, qnNotRegularWords(st.st_mode & S_IFMT, false));
        else if (!qnMayWrite(s.shown))
            ok = i_Fail(s.named, "the file is read-only");
        else if (::linkat(m_dir, e.file.c_str(), m_lock, BackupName(e.name).c_str(), 0) == 0)
            s.linked = true;
        else if (errno != EPERM && errno != ENOTSUP && errno != EMLINK)
            ok = i_Fail(s.shown, errno);
        if (ok && S_ISREG(st.st_mode) && stagedFd >= 0)
            qnTakeOwnerAndMode(stagedFd, st);
    }
    // The journal, synced with the backups' links beside it, before any
    // target changes: from here a run that dies is put right by the next.
    const std::string journalPath = StagedPath(kJournalName);
    if (ok) {
        const std::string text = JournalBytes(journal);
        if (qnReplaceFile(journalPath, text.data(), text.size()) != 0)
            ok = i_Fail(m_folder, qnLastWriteErrno());
    }

    // The renames, with SIGINT and SIGTERM waiting; a failure puts back
    // every target already replaced.
    qnHoldTermination();
    if (ok)
        CallHook(0);
    for (size_t k = 0; ok && k < slots.size(); ++k) {
        const Slot& s = slots[k];
        const JournalEntry& e = entries[k];
        if (s.existed && !s.linked &&
            ::renameat(m_dir, e.file.c_str(), m_lock, BackupName(e.name).c_str()) != 0) {
            ok = i_Fail(s.shown, errno);
            break;
        }
        if (::renameat(m_lock, e.name.c_str(), m_dir, e.file.c_str()) != 0) {
            ok = i_Fail(s.shown, errno);
            break;
        }
        CallHook(k + 1);
    }
    // A target a dead run's recovery found changed since is the user's file:
    // where this series has just replaced it, it is kept beside, never lost.
    // Should that fail, those already kept go back to be put back with the
    // rest.
    std::vector<std::pair<Changed*, size_t>> keptChanged;
    for (size_t k = 0; ok && k < slots.size(); ++k) {
        if (!slots[k].existed)
            continue;
        for (Changed& c : m_changed) {
            if (c.file != entries[k].file || !c.changed.empty())
                continue;
            if (KeepBeside(m_lock, BackupName(entries[k].name), m_dir, c.file, ".changed-after-crash", c.changed) !=
                0) {
                c.changed.clear();
                ok = i_Fail(slots[k].shown, errno);
            } else {
                keptChanged.emplace_back(&c, k);
            }
            break;
        }
    }
    if (!ok) {
        for (const auto& [c, k] : keptChanged) {
            ::renameat(m_dir, c->changed.c_str(), m_lock, BackupName(entries[k].name).c_str());
            c->changed.clear();
        }
    }
    bool keep = false;
    if (!ok) {
        std::string target;
        int error = 0;
        // Old files that cannot go back stay with the journal in the
        // staging folder, for the next series here to put back.
        Witness w;
        w.device = uint64_t(folderSt.st_dev);
        keep = !PutBack(m_dir, m_lock, entries, w, i_Changed(), target, error);
    }
    ::fsync(m_dir);
    if (ok) {
        // The series is in place once the journal is gone from the disk.
        ::unlinkat(m_lock, kJournalName, 0);
        ::fsync(m_lock);
    }
    if (keep) {
        qnForgetFolderOnSignal(m_signalSlot);
        m_signalSlot = -1;
        m_stagingName.clear();
    }
    Abandon();
    qnReleaseTermination();
    return ok;
}
