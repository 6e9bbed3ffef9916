#include "core/SafeFile.h"

#include "core/ErrorWords.h"
#include "core/ProgramOutput.h"
#include "core/SafeFileRunInputs.h"
#include "core/SafeFileSignals.h"
#include "core/SafeFileTarget.h"

#include <algorithm>
#include <iterator>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>
#include <time.h>
#include <unistd.h>

namespace {

using qnsafe::IsStandardOutput;
using qnsafe::kNotRegular;
using qnsafe::Landing;
using qnsafe::RegisterTemp;
using qnsafe::ReleaseTemp;
using qnsafe::Resolve;
using qnsafe::Settle;
using qnsafe::Target;

std::atomic<bool> g_forceNamed{false};

// What the gate refused last in this thread: the path as the writer named
// it and why.
thread_local QnRefusal t_refusal;

bool WriteAll(int fd, const uint8_t* data, size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        size -= size_t(n);
    }
    return true;
}

// ---------------------------------------------------------------- temporary files

// The hidden name of a temporary file of the gate: "." NAME ".tessolo-",
// sixteen random letters or digits and eight more that check them against
// the name before (NAME cut to its first 200 bytes so that the name still
// fits a folder entry). The check is what tells a file this program made
// from a user's of a like name (".notes.txt.tessolo-backup"): only a name
// that carries it is ever removed by a later write, and nobody types one by
// accident. It is in the name, so it holds where a file keeps no mark
// (ramfs, vfat), and the file's bytes are the target's own.
constexpr char kTempTag[] = ".tessolo-";
constexpr size_t kTempRandom = 16;
constexpr size_t kTempCheck = 8;
// Earlier versions ended the name with six letters or digits alone.
constexpr size_t kEarlierRandom = 6;
constexpr char kNameLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";

bool AllLettersOrDigits(std::string_view s)
{
    return std::all_of(s.begin(), s.end(), [](char c) { return std::isalnum(static_cast<unsigned char>(c)); });
}

// The check letters of a temporary name: a hash of all before them.
std::string TempCheck(std::string_view stemAndRandom)
{
    uint64_t h = 0x746573736f6c6f2dull;
    for (const char c : stemAndRandom) {
        h ^= uint8_t(c);
        h *= 0x100000001b3ull;
    }
    h ^= h >> 30;
    h *= 0xbf58476d1ce4e5b9ull;
    h ^= h >> 27;
    h *= 0x94d049bb133111ebull;
    h ^= h >> 31;
    std::string check;
    for (size_t i = 0; i < kTempCheck; ++i, h /= 62)
        check += kNameLetters[h % 62];
    return check;
}

// Whether name is stem followed by random letters and their check.
bool IsTempName(std::string_view stem, std::string_view name)
{
    return name.size() == stem.size() + kTempRandom + kTempCheck && name.substr(0, stem.size()) == stem &&
           AllLettersOrDigits(name.substr(stem.size())) &&
           name.substr(name.size() - kTempCheck) == TempCheck(name.substr(0, name.size() - kTempCheck));
}

std::string TempStem(const Target& t)
{
    return "." + (t.name.size() > 200 ? t.name.substr(0, 200) : t.name) + kTempTag;
}

// A fresh hidden name beside the target, another at each attempt.
std::string TempName(const Target& t, int attempt)
{
    uint8_t random[kTempRandom];
    if (::getrandom(random, sizeof random, GRND_NONBLOCK) != ssize_t(sizeof random)) {
        timespec now{};
        ::clock_gettime(CLOCK_MONOTONIC, &now);
        uint64_t seed = uint64_t(now.tv_nsec) * 2654435761u + uint64_t(::getpid()) * 40503u + uint64_t(attempt);
        for (uint8_t& r : random) {
            seed = seed * 6364136223846793005ull + 1442695040888963407ull;
            r = uint8_t(seed >> 56);
        }
    }
    std::string name = TempStem(t);
    for (const uint8_t r : random)
        name += kNameLetters[r % 62];
    return name + TempCheck(name);
}

// Whether name is stem followed by exactly kEarlierRandom letters or digits.
bool IsEarlierTempName(std::string_view stem, std::string_view name)
{
    return name.size() == stem.size() + kEarlierRandom && name.substr(0, stem.size()) == stem &&
           AllLettersOrDigits(name.substr(stem.size()));
}

// A writer holds an exclusive lock on its temporary file from before the
// file has a name (or an instant after, where it is made by name) until it
// is renamed over the target or removed: a file of such a name that nobody
// holds is one a killed writer left (no signal can be caught between naming
// a file and renaming it, nor anywhere in SIGKILL), and the next write of
// the target removes it when its name says this program made it. Neither
// needs a mark on the file, so this holds on file systems that keep no
// extended attributes (ramfs, vfat, exfat). A file that cannot be locked
// is never removed: where the file system takes no locks, or takes none on
// a file open only for reading (NFS), nothing is.
bool LockTemp(int fd)
{
    int rc;
    do
        rc = ::flock(fd, LOCK_EX);
    while (rc != 0 && errno == EINTR);
    return rc == 0;
}

// Whether the name in dir still names the file open as fd.
bool StillNamed(int dir, const std::string& name, int fd)
{
    struct stat mine, named;
    return ::fstat(fd, &mine) == 0 && ::fstatat(dir, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
           mine.st_dev == named.st_dev && mine.st_ino == named.st_ino;
}

// Earlier versions named their temporary files "." NAME "." and six letters
// or digits, and told theirs from a user's file of such a name by this
// mark: what they left is removed when it carries the mark.
constexpr char kEarlierMark[] = "user.tessolo.unplaced";

// Removes the temporary files of t's target that dead writers left: of our
// name, a regular file of one name only, and locked by no live writer. It
// is removed while this writer holds the lock, so no live writer can take
// it meanwhile.
// A network file system: there a lock may be this machine's alone (NFS
// mounted with local locks, or none), so a file another machine's live
// writer holds could look dead. Nothing is removed on one.
bool OnNetworkDisk(int dir)
{
    static constexpr uint32_t kNetworkKinds[] = {
        0x6969,      // NFS
        0x517b,      // SMB
        0xff534d42,  // CIFS
        0xfe534d42,  // SMB2
        0x00c36400,  // Ceph
        0x5346414f,  // OpenAFS
        0x6b414653,  // kAFS
        0x73757245,  // Coda
        0x564c,      // NCP
        0x01021997,  // 9p
        0x01161970,  // GFS2
        0x7461636f,  // OCFS2
        0x0bd00bd0,  // Lustre
        0x47504653,  // GPFS
        0x20030528,  // OrangeFS
    };
    struct statfs fs {};
    if (::fstatfs(dir, &fs) != 0)
        return true;
    return std::find(std::begin(kNetworkKinds), std::end(kNetworkKinds), uint32_t(fs.f_type)) !=
           std::end(kNetworkKinds);
}

void RemoveDeadTemps(const Target& t)
{
    if (OnNetworkDisk(t.dir))
        return;
    const int listFd = ::openat(t.dir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* list = listFd >= 0 ? ::fdopendir(listFd) : nullptr;
    if (!list) {
        if (listFd >= 0)
            ::close(listFd);
        return;
    }
    const std::string stem = TempStem(t);
    const std::string earlierStem = stem.substr(0, stem.size() - std::strlen(kTempTag)) + ".";
    // Held until the names are gone: the list is not changed while it is read.
    std::vector<std::pair<std::string, int>> dead;
    constexpr size_t kMostAtOnce = 64;
    while (const struct dirent* d = ::readdir(list)) {
        if (dead.size() >= kMostAtOnce)
            break;
        const bool ours = IsTempName(stem, d->d_name);
        if (!ours && !IsEarlierTempName(earlierStem, d->d_name))
            continue;
        const int fd = ::openat(t.dir, d->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            continue;
        struct stat st;
        char mark = 0;
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_nlink == 1 &&
            (ours || ::fgetxattr(fd, kEarlierMark, &mark, 1) == 1) && ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
            StillNamed(t.dir, d->d_name, fd))
            dead.emplace_back(d->d_name, fd);
        else
            ::close(fd);
    }
    ::closedir(list);
    for (const auto& [name, fd] : dead) {
        ::unlinkat(t.dir, name.c_str(), 0);
        ::close(fd);
    }
}

// For tests: called once a temporary file has its hidden name and its lock.
std::atomic<void (*)(const std::string&)> g_namedHook{nullptr};

// The path of a name in t's folder, as the signal clean-up list holds it.
std::string InFolder(const Target& t, const std::string& name)
{
    return t.folder == "/" ? "/" + name : t.folder + "/" + name;
}

// Where an unnamed file's descriptor can be named: an unnamed temporary
// file gets its name for the final rename through there.
constexpr char kOwnDescriptors[] = "/proc/self/fd/";

// Makes a hidden name in t's folder: by creating a new empty file there
// (fd < 0) or by linking the unnamed file fd there. The name is listed for
// removal on signals before it exists, so that no moment leaves it unlisted.
bool MakeName(const Target& t, int fd, std::string& temp, int& slot, int& made)
{
    const std::string source = fd >= 0 ? kOwnDescriptors + std::to_string(fd) : std::string();
    for (int attempt = 0; attempt < 100; ++attempt) {
        temp = TempName(t, attempt);
        slot = RegisterTemp(InFolder(t, temp));
        bool ok;
        if (fd >= 0) {
            ok = ::linkat(AT_FDCWD, source.c_str(), t.dir, temp.c_str(), AT_SYMLINK_FOLLOW) == 0;
        } else {
            made = ::openat(t.dir, temp.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
            ok = made >= 0;
            // Another writer may take the file for a dead one's in the
            // instant before it is locked, and remove it: then it was
            // empty, and another is made.
            if (ok && LockTemp(made) && !StillNamed(t.dir, temp, made)) {
                ::close(made);
                made = -1;
                ReleaseTemp(slot);
                errno = EEXIST;
                continue;
            }
        }
        if (ok) {
            if (const auto hook = g_namedHook.load())
                hook(InFolder(t, temp));
            return true;
        }
        ReleaseTemp(slot);
        if (errno != EEXIST)
            break;
    }
    temp.clear();
    return false;
}

// A temporary file in t's folder: unnamed where the system can make it and
// later name it (temp stays empty), else a hidden named one listed for
// removal on signals. -1 on failure. Without /proc (some containers) an
// unnamed file could never be named: the named route is taken from the
// start.
int MakeTemp(const Target& t, std::string& temp, int& slot)
{
    temp.clear();
    slot = -1;
    if (t.dir < 0) {
        errno = t.dirErrno;
        return -1;
    }
    RemoveDeadTemps(t);
    if (!g_forceNamed.load() && ::access(kOwnDescriptors, X_OK) == 0) {
        const int fd = ::openat(t.dir, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
        if (fd >= 0) {
            // Locked before it has a name: nobody ever sees it unlocked.
            LockTemp(fd);
            return fd;
        }
        // Only a folder whose file system lacks O_TMPFILE takes the named
        // route; any other reason would fail there too.
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
            return -1;
    }
    int fd = -1;
    if (!MakeName(t, -1, temp, slot, fd))
        return -1;
    return fd;
}

// Standard output gathers its bytes in memory, in a file that has no name
// and lives in no folder: it needs no temporary folder (TMPDIR may be
// missing, read-only or full while standard output itself is fine), and
// nothing of it is left anywhere when the writer ends, however it ends.
int AnonymousFile() { return ::memfd_create("tessolo-out", MFD_CLOEXEC); }

void RemoveTemp(int dir, std::string& temp, int& slot)
{
    ReleaseTemp(slot);
    if (!temp.empty() && dir >= 0)
        ::unlinkat(dir, temp.c_str(), 0);
    temp.clear();
}

// Gives the file open as fd mode; a file system that keeps no mode bits
// (one of FUSE without the call, as fusefat is) is no failure.
bool SetMode(int fd, mode_t mode)
{
    return ::fchmod(fd, mode) == 0 || errno == ENOSYS || errno == EOPNOTSUPP;
}

mode_t NewFileMode()
{
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

// Gives a written temporary file what the file it replaces had (see
// qnTakeOwnerAndMode), and syncs it. A new file gets what the umask leaves
// of 0666. The name found now in the folder must still be a regular file
// (or none, or a link that took its place, which the rename replaces, never
// follows): what took its place since the gate let path be written is
// refused as the gate refuses it, in its words.
bool Seal(int fd, const Target& t, const std::string& path)
{
    struct stat st;
    mode_t mode = NewFileMode();
    if (::fstatat(t.dir, t.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISLNK(st.st_mode)) {
        if (!S_ISREG(st.st_mode)) {
            const bool folder = S_ISDIR(st.st_mode);
            t_refusal = {path, folder ? std::string("is a folder") : qnNotRegularWords(st.st_mode & S_IFMT, true)};
            errno = folder ? EISDIR : kNotRegular;
            return false;
        }
        return qnTakeOwnerAndMode(fd, st) && ::fsync(fd) == 0;
    }
    return SetMode(fd, mode) && ::fsync(fd) == 0;
}

// Puts a complete, sealed temporary file in place of the target. The rename
// is made durable by syncing the folder; a folder that cannot be synced
// still holds the complete file.
bool MoveIntoPlace(int fd, std::string& temp, int& slot, const Target& t)
{
    int unused = -1;
    if (temp.empty() && !MakeName(t, fd, temp, slot, unused))
        return false;
    if (::renameat(t.dir, temp.c_str(), t.dir, t.name.c_str()) != 0) {
        const int failure = errno;
        RemoveTemp(t.dir, temp, slot);
        errno = failure;
        return false;
    }
    ReleaseTemp(slot);
    temp.clear();
    ::fsync(t.dir);
    return true;
}

// The open failure a target found unfit gives: its reason as errno.
int RefusedErrno(const Target& t) { return t.refused ? t.refused : t.dirErrno; }

}  // namespace

std::string_view qnsafe::TempTarget(std::string_view name)
{
    if (name.size() < 2 || name[0] != '.')
        return {};
    const size_t tag = std::strlen(kTempTag);
    // "." NAME ".tessolo-" and its random letters with their check.
    if (const size_t at = name.rfind(kTempTag);
        at != std::string_view::npos && at > 1 && IsTempName(name.substr(0, at + tag), name))
        return name.substr(1, at - 1);
    // Earlier versions' ".tessolo-" or "." and six letters or digits.
    if (name.size() < 2 + kEarlierRandom || !AllLettersOrDigits(name.substr(name.size() - kEarlierRandom)))
        return {};
    name.remove_suffix(kEarlierRandom);
    if (name.size() > 1 + tag && name.substr(name.size() - tag) == kTempTag)
        return name.substr(1, name.size() - 1 - tag);
    return name.size() > 2 && name.back() == '.' ? name.substr(1, name.size() - 2) : std::string_view();
}

bool qnTakeOwnerAndMode(int fd, const struct stat& old)
{
    struct stat own;
    if (::fstat(fd, &own) == 0 && (own.st_uid != old.st_uid || own.st_gid != old.st_gid) &&
        ::fchown(fd, old.st_uid, old.st_gid) != 0 && own.st_gid != old.st_gid) {
        [[maybe_unused]] const int groupOnly = ::fchown(fd, uid_t(-1), old.st_gid);
    }
    return SetMode(fd, old.st_mode & 07777);
}

namespace {

// Why t, where path leads, can take no file now, naming path, or empty:
// the checks every writer's target passes (see qnTargetRefusal).
QnRefusal TargetRefusal(const std::string& path, const Target& t, bool takesStandardOutput)
{
    const auto refused = [&path](std::string why) { return QnRefusal{path, std::move(why)}; };
    if (t.standardOutput)
        return takesStandardOutput ? QnRefusal{} : refused(qnNoStandardOutputWords());
    if (t.refused == ELOOP)
        return refused(qnSystemWords(ELOOP));
    if (t.refused == EISDIR)
        return refused("is a folder");
    if (t.refused)
        return refused(qnNotRegularWords(t.kind, takesStandardOutput));
    struct stat st;
    const bool exists = ::stat(t.path.c_str(), &st) == 0;
    if (exists && !qnMayWrite(t.path)) {
        struct statvfs on {};
        if (::statvfs(t.path.c_str(), &on) == 0 && (on.f_flag & ST_RDONLY) != 0)
            return refused(qnReadOnlyFileSystemWords());
        return refused(qnNoWritePermissionWords(false));
    }
    // The file's own name, and the hidden name its content is first
    // written under, must fit a folder entry.
    const size_t name = t.name.size();
    const size_t longest = std::max(name, std::min<size_t>(name, 200) + 1 + std::strlen(kTempTag) + kTempRandom + kTempCheck);
    if (name == 0)
        return refused("no file name");
    if (t.path.size() >= PATH_MAX)
        return refused(qnSystemWords(ENAMETOOLONG));
    // A folder missing or closed is said as every failed write says it.
    struct stat folder;
    struct statvfs fs {};
    const bool readOnlyMount = ::statvfs(t.folder.c_str(), &fs) == 0 && (fs.f_flag & ST_RDONLY) != 0;
    if (::stat(t.folder.c_str(), &folder) != 0 || !S_ISDIR(folder.st_mode) ||
        (!readOnlyMount && !qnMayWrite(t.folder)))
        return refused(qnFileProblem(t.path, true, qnerr::FileNotOpened));
    if (QnRefusal why = qnFolderRefusal(t.folder, longest); !why.empty())
        return refused(std::move(why.reason));
    if (t.dir < 0)
        return refused(qnSystemWords(t.dirErrno));
    return {};
}

// The gate every file written passes: t (where path leads, as settled)
// must be fit to take a file, and no file the run reads may be reached
// through it. A file the program rewrites for itself (ownFile) is read
// by the run too; its own earlier version is no other file. Notes and
// returns the refusal, or empty.
QnRefusal GateRefusal(const std::string& path, const Target& t, QnWrite kind, bool takesStandardOutput = true)
{
    t_refusal = {};
    QnRefusal why = TargetRefusal(path, t, takesStandardOutput);
    if (why.empty() && t.standardOutput)
        why = qnStandardOutputOverInput(qnRunInputs());
    else if (why.empty() && kind == QnWrite::OwnFile)
        why = qnOwnFileRefusal(path);
    else if (why.empty()) {
        // The run's inputs include every library it has loaded, many in a
        // windowed run: the target is looked at once for all of them, and
        // the one it reaches is found only when there is one.
        const std::vector<std::string> inputs = qnRunInputs();
        if (!qnInputRefusal(t.path, inputs).empty())
            for (const std::string& in : inputs)
                if (!qnInputRefusal(t.path, {in}).empty()) {
                    why = {path, qnOverInputWords(in)};
                    break;
                }
    }
    // The run's own output is no input, but is written over when the run
    // ends: nothing else may be written there meanwhile.
    if (why.empty() && !t.standardOutput)
        why = qnRunOutputRefusal(path);
    t_refusal = why;
    return why;
}

}  // namespace

std::string qnTargetRefusal(const std::string& path, bool takesStandardOutput)
{
    if (path.empty())
        return "no file name given";
    const Target t = Resolve(path);
    if (QnRefusal why = TargetRefusal(path, t, takesStandardOutput); !why.empty())
        return why.Line();
    // What was checked is what is written.
    Settle(path, t);
    return {};
}

QnRefusal qnWriteRefusal(const std::string& path, QnWrite kind, bool takesStandardOutput)
{
    if (path.empty())
        return {{}, "no file name given"};
    return GateRefusal(path, Landing(path), kind, takesStandardOutput);
}

QnRefusal qnGateRefusal(const std::string& path)
{
    return !t_refusal.empty() && t_refusal.file == path ? t_refusal : QnRefusal{};
}

void qnSafeFileForceNamedTemp(bool force) { g_forceNamed.store(force); }

void qnSafeFileSetNamedHook(void (*hook)(const std::string& temp)) { g_namedHook.store(hook); }

unsigned short qnReplaceFile(const std::string& path, const void* data, size_t size, QnWrite kind)
{
    struct stat written;
    return qnReplaceFile(path, data, size, written, kind);
}

unsigned short qnReplaceFile(const std::string& path, const void* data, size_t size, struct stat& written,
                             QnWrite kind)
{
    written = {};
    qnNoteWriteErrno(0);
    t_refusal = {};
    if (path.empty())
        return qnerr::BadArgument;
    const Target t = Landing(path);
    if (!GateRefusal(path, t, kind).empty()) {
        qnNoteWriteErrno(RefusedErrno(t));
        return qnerr::FileNotOpened;
    }
    const auto* bytes = static_cast<const uint8_t*>(data);
    if (t.standardOutput) {
        const int fd = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0);
        if (fd < 0) {
            qnNoteWriteErrno(errno);
            return qnerr::FileNotOpened;
        }
        const bool ok = WriteAll(fd, bytes, size);
        const int writeErrno = errno;
        if (::close(fd) == 0 && ok)
            return 0;
        qnNoteWriteErrno(ok ? errno : writeErrno);
        return qnerr::FileWrite;
    }
    if (t.refused || t.dir < 0) {
        qnNoteWriteErrno(RefusedErrno(t));
        return qnerr::FileNotOpened;
    }
    std::string temp;
    int slot = -1;
    const int fd = MakeTemp(t, temp, slot);
    if (fd < 0) {
        qnNoteWriteErrno(errno);
        return qnerr::FileNotOpened;
    }
    const bool ok = WriteAll(fd, bytes, size) && Seal(fd, t, path) && ::fstat(fd, &written) == 0 &&
                    MoveIntoPlace(fd, temp, slot, t);
    const int failure = errno;
    ::close(fd);
    if (!ok) {
        qnNoteWriteErrno(failure);
        RemoveTemp(t.dir, temp, slot);
        return qnerr::FileWrite;
    }
    return 0;
}

int qnMakeEmptyFile(const std::string& path, struct stat& made, QnWrite kind)
{
    made = {};
    qnNoteWriteErrno(0);
    t_refusal = {};
    if (path.empty() || IsStandardOutput(path)) {
        qnNoteWriteErrno(EINVAL);
        return EINVAL;
    }
    const Target t = Landing(path);
    // An existing file is no refusal here: nothing is written over it.
    struct stat there;
    if (::stat(path.c_str(), &there) == 0 && S_ISREG(there.st_mode))
        return EEXIST;
    if (!GateRefusal(path, t, kind).empty() || t.refused || t.dir < 0) {
        const int error = RefusedErrno(t) ? RefusedErrno(t) : EACCES;
        qnNoteWriteErrno(error);
        return error;
    }
    const int fd = ::openat(t.dir, t.name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd < 0) {
        const int error = errno;
        if (error != EEXIST)
            qnNoteWriteErrno(error);
        return error;
    }
    const bool ok = ::fstat(fd, &made) == 0;
    const int error = ok ? 0 : errno;
    ::close(fd);
    ::fsync(t.dir);
    if (!ok)
        qnNoteWriteErrno(error);
    return error;
}

bool CQNF_SafeFile::Open(const char* target, QnWrite kind)
{
    Abandon();
    ResetError();
    qnNoteWriteErrno(0);
    t_refusal = {};
    if (!target || !*target) {
        SetError(qnerr::BadArgument);
        return false;
    }
    Target t = Landing(target);
    if (!GateRefusal(target, t, kind).empty() || t.refused || (!t.standardOutput && t.dir < 0)) {
        qnNoteWriteErrno(RefusedErrno(t));
        SetError(qnerr::FileNotOpened);
        return false;
    }
    const int fd = t.standardOutput ? AnonymousFile() : MakeTemp(t, m_temp, m_slot);
    // Open for writing alone: the C library fills its buffer from a file it
    // may read at every seek, and a disk that gives back other bytes than
    // were written there (a vfat stick through FUSE) would have a writer
    // that goes back to patch a length put its bytes in the wrong place.
    if (fd < 0 || !m_file.OpenDescriptor(fd, qnfile::kWrite)) {
        qnNoteWriteErrno(errno);
        SetError(qnerr::FileNotOpened);
        RemoveTemp(t.dir, m_temp, m_slot);
        return false;
    }
    m_dir = std::exchange(t.dir, -1);
    m_target = target;
    m_folder = t.folder;
    m_name = t.name;
    m_direct = t.standardOutput;
    return true;
}

bool CQNF_SafeFile::i_CopyOut()
{
    // Every byte the file holds must come back: a read that fails or ends
    // early fails the write, never sends a file cut short.
    const int in = fileno(m_file.GetStream());
    struct stat st;
    if (::fstat(in, &st) != 0)
        return false;
    const int out = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0);
    if (out < 0)
        return false;
    bool ok = true;
    uint8_t chunk[1 << 16];
    for (off_t at = 0; ok && at < st.st_size;) {
        const ssize_t n = ::pread(in, chunk, size_t(std::min<off_t>(st.st_size - at, off_t(sizeof chunk))), at);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = EIO;
            ok = false;
            break;
        }
        ok = WriteAll(out, chunk, size_t(n));
        at += n;
    }
    const int failure = errno;
    if (::close(out) != 0)
        return false;
    errno = failure;
    return ok;
}

bool CQNF_SafeFile::Commit()
{
    if (!m_file.IsOpened()) {
        SetError(qnerr::FileClosed);
        return false;
    }
    // A write the stream lost before (its buffer flushed by a seek, say, on
    // a full disk) leaves only the stream's error mark: a file missing
    // bytes is never put in place.
    bool ok = m_file.Flush();
    if (ok && std::ferror(m_file.GetStream())) {
        ok = false;
        errno = qnLastWriteErrno() ? qnLastWriteErrno() : EIO;
    }
    if (m_direct) {
        ok = ok && i_CopyOut();
    } else {
        Target t;
        t.folder = m_folder;
        t.name = m_name;
        t.dir = m_dir;
        const int fd = fileno(m_file.GetStream());
        ok = ok && Seal(fd, t, m_target) && MoveIntoPlace(fd, m_temp, m_slot, t);
        t.dir = -1;  // still m_dir's
    }
    const int failure = ok ? 0 : errno;
    const bool closed = m_file.Close();
    if (!ok || !closed) {
        // A failed close keeps its own reason.
        qnNoteWriteErrno(failure ? failure : qnLastWriteErrno());
        SetError(m_file.GetError() && m_file.GetError() != qnerr::FileSeek ? m_file.GetError() : qnerr::FileWrite);
        Abandon();
        return false;
    }
    Abandon();
    return true;
}

void CQNF_SafeFile::Abandon()
{
    if (m_file.IsOpened())
        m_file.Close();
    RemoveTemp(m_dir, m_temp, m_slot);
    if (m_dir >= 0)
        ::close(m_dir);
    m_dir = -1;
    m_direct = false;
}
