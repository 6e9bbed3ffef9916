#include "core/FileSeries.h"

#include "core/ErrorWords.h"
#include "core/SafeFile.h"
#include "core/StdFile.h"

#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <set>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::atomic<CQNF_FileSeries::CommitHook> g_commitHook{nullptr};

void CallHook(size_t placed)
{
    if (const CQNF_FileSeries::CommitHook hook = g_commitHook.load())
        hook(placed);
}

// A replaced target's old file, kept in the staging folder until the series
// is in place. No name of a series ends so: series names are plain names.
std::string BackupName(const std::string& name) { return name + "~"; }

// The journal in a staging folder. Its name ends in two '~': no series
// name ends in one, so it is neither a series file nor a backup.
constexpr char kJournalName[] = "journal~~";
// The journal's first line; then one entry a target, each ended by a 0
// byte (no file name holds one): "DEVICE INODE SIZE NAME", then the path of
// the file replaced (where a symbolic link of that name leads) and a 0 byte.
constexpr char kJournalHead[] = "tessolo series journal 2\n";
// The first journals named no targets: each was the name in the folder.
constexpr char kJournalHeadNamesOnly[] = "tessolo series journal 1\n";

void SyncFolder(const std::string& folder)
{
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

// Removes the files in folder, then the folder (never what lies deeper).
void RemoveFolder(const std::string& folder)
{
    namespace fs = std::filesystem;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
        ::unlink(it->path().c_str());
    ::rmdir(folder.c_str());
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

// An exclusive lock on a folder itself, held while the object lives: the
// series in one folder take turns with it.
class FolderLock {
public:
    FolderLock() = default;
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;
    ~FolderLock()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }

    // Waits for the lock; false with errno set when the folder cannot be
    // opened or locked. A folder this user may write but not read cannot be
    // locked, nor can anything in it be seen or swept: it goes unlocked.
    bool Lock(const std::string& folder)
    {
        m_fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (m_fd < 0)
            return errno == EACCES && ::access(folder.c_str(), W_OK | X_OK) == 0;
        int rc;
        do
            rc = ::flock(m_fd, LOCK_EX);
        while (rc != 0 && errno == EINTR);
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
    int m_fd = -1;
};

// A target of a series and the file meant for it, known by where it lies on
// disk: a rename keeps that, so the target is seen to hold it once placed.
struct Entry {
    std::string name;
    std::string target;  // the file the name's content goes to
    uint64_t device = 0;
    uint64_t inode = 0;
    uint64_t size = 0;

    bool IsHeldBy(const struct stat& st) const
    {
        return inode != 0 && uint64_t(st.st_dev) == device && uint64_t(st.st_ino) == inode &&
               uint64_t(st.st_size) == size;
    }
};

std::string JournalText(const std::vector<Entry>& entries)
{
    std::string text = kJournalHead;
    for (const Entry& e : entries) {
        text += std::to_string(e.device) + ' ' + std::to_string(e.inode) + ' ' + std::to_string(e.size) + ' ';
        text += e.name;
        text.push_back('\0');
        text += e.target;
        text.push_back('\0');
    }
    return text;
}

// False for a journal that does not read whole.
bool ReadJournal(const std::string& folder, const std::string& path, std::vector<Entry>& entries)
{
    std::vector<uint8_t> bytes;
    std::string error;
    if (!qnReadWholeFile(path, bytes, error))
        return false;
    const std::string text(bytes.begin(), bytes.end());
    const size_t headSize = sizeof kJournalHead - 1;
    const bool withTargets = text.compare(0, headSize, kJournalHead) == 0;
    if (!withTargets && text.compare(0, headSize, kJournalHeadNamesOnly) != 0)
        return false;
    entries.clear();
    for (size_t at = headSize; at < text.size();) {
        const size_t end = text.find('\0', at);
        if (end == std::string::npos)
            return false;
        Entry e;
        const char* p = text.data() + at;
        const char* stop = text.data() + end;
        for (uint64_t* field : {&e.device, &e.inode, &e.size}) {
            const auto [next, ec] = std::from_chars(p, stop, *field);
            if (ec != std::errc() || next == stop || *next != ' ')
                return false;
            p = next + 1;
        }
        e.name.assign(p, stop);
        if (e.name.empty() || e.name.find('/') != std::string::npos)
            return false;
        at = end + 1;
        e.target = folder + "/" + e.name;
        if (withTargets) {
            const size_t targetEnd = text.find('\0', at);
            if (targetEnd == std::string::npos || targetEnd == at)
                return false;
            e.target = text.substr(at, targetEnd - at);
            at = targetEnd + 1;
        }
        entries.push_back(std::move(e));
    }
    return true;
}

// Puts back what a series replaced: a target that holds the series' file
// gets its old file back from the backup, or goes when it had none; a
// target moved aside and not yet replaced gets its old file back. A target
// that holds anything else (its old file, linked as the backup, or a file
// someone wrote since) stays. False, with the target and errno, when a
// step failed; the rest are still tried.
bool PutBack(const std::string& staging, const std::vector<Entry>& entries, std::string& failedTarget, int& error)
{
    bool ok = true;
    for (const Entry& e : entries) {
        const std::string& target = e.target;
        const std::string backup = staging + "/" + BackupName(e.name);
        struct stat st;
        const bool hasTarget = ::lstat(target.c_str(), &st) == 0;
        const bool ours = hasTarget && e.IsHeldBy(st);
        const bool hasBackup = ::lstat(backup.c_str(), &st) == 0;
        int rc = 0;
        if (hasBackup && (ours || !hasTarget))
            rc = ::rename(backup.c_str(), target.c_str());
        else if (ours)
            rc = ::unlink(target.c_str());
        if (rc != 0 && ok) {
            ok = false;
            failedTarget = target;
            error = errno;
        }
    }
    return ok;
}

}  // namespace

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
    namespace fs = std::filesystem;
    std::error_code ec;
    for (fs::directory_iterator it(m_folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        struct stat st;
        if (!IsStagingName(name) || ::lstat(it->path().c_str(), &st) != 0 || !S_ISDIR(st.st_mode) ||
            st.st_uid != ::geteuid())
            continue;
        const int fd = ::open(it->path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW);
        if (fd < 0)
            continue;
        // A series still running holds its lock.
        bool remove = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
        const std::string staging = it->path().string();
        const std::string journal = staging + "/" + kJournalName;
        if (remove && ::lstat(journal.c_str(), &st) == 0) {
            // The run died while replacing targets: its old files go back
            // before its backups can go. A journal that does not read keeps
            // the folder, and the old files in it, for a person to see.
            std::vector<Entry> entries;
            std::string target;
            int error = 0;
            remove = ReadJournal(m_folder, journal, entries);
            if (remove && !PutBack(staging, entries, target, error)) {
                ::close(fd);
                return i_Fail(target, error);
            }
            SyncFolder(m_folder);
        }
        if (remove)
            RemoveFolder(staging);
        ::close(fd);
    }
    return true;
}

bool CQNF_FileSeries::Begin(const std::string& folder, const std::string& stem)
{
    Abandon();
    m_failure.clear();
    m_names.clear();
    m_folder = folder.empty() ? "." : folder;
    // A folder whose mode forbids writing is refused as a single file in it
    // would be, even where the system would let this process write.
    if (std::string why = Refusal(m_folder, 0); !why.empty()) {
        m_failure = std::move(why);
        return false;
    }
    // The staging folder is made and locked under the folder's lock, which
    // every sweep holds: none ever sees it unlocked.
    FolderLock folderLock;
    if (!folderLock.Lock(m_folder))
        return i_Fail(m_folder, errno);
    if (!i_Recover())
        return false;
    std::string base = stem.empty() ? std::string("series") : stem;
    if (base.size() > 100)
        base.resize(100);
    m_staging = m_folder + "/." + base + kStagingMark + "XXXXXX";
    if (!::mkdtemp(m_staging.data())) {
        const int error = errno;
        m_staging.clear();
        return i_Fail(m_folder, error);
    }
    m_signalSlot = qnRemoveFolderOnSignal(m_staging);
    m_lock = ::open(m_staging.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (m_lock < 0 || ::flock(m_lock, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        Abandon();
        return i_Fail(m_folder, error);
    }
    return true;
}

std::string CQNF_FileSeries::Refusal(const std::string& folder, size_t longestName)
{
    // A replaced file's backup takes its name and one character more.
    return qnFolderRefusal(folder.empty() ? "." : folder, longestName ? longestName + 1 : 0);
}

std::vector<std::string> CQNF_FileSeries::Targets() const
{
    std::vector<std::string> targets;
    for (const std::string& name : m_names)
        targets.push_back(m_folder + "/" + name);
    return targets;
}

void CQNF_FileSeries::Abandon()
{
    if (!m_staging.empty())
        RemoveFolder(m_staging);
    qnForgetFolderOnSignal(m_signalSlot);
    m_signalSlot = -1;
    if (m_lock >= 0)
        ::close(m_lock);
    m_lock = -1;
    m_staging.clear();
}

bool CQNF_FileSeries::Commit()
{
    namespace fs = std::filesystem;
    if (m_staging.empty())
        return i_Fail(m_folder, EBADF);
    // One commit in a folder at a time, and only after what dead runs left
    // is put right: a dead run's journal then never meets a target that a
    // later series replaced.
    FolderLock folderLock;
    if (!folderLock.Lock(m_folder)) {
        const int error = errno;
        Abandon();
        return i_Fail(m_folder, error);
    }
    if (!i_Recover()) {
        Abandon();
        return false;
    }

    // Each target as it is now: whether it exists and, when it does, a second
    // name for its file in the staging folder that the rename below leaves
    // alone. Nothing outside the staging folder changes in this first pass.
    struct Slot {
        std::string target;
        bool existed = false;
        bool linked = false;  // the backup is a link (else the file moves aside)
    };
    std::vector<Slot> slots(m_names.size());
    std::vector<Entry> entries(m_names.size());
    std::set<std::string> reached;
    bool ok = true;
    for (size_t k = 0; ok && k < m_names.size(); ++k) {
        Slot& s = slots[k];
        // A symbolic link stays and the file it names is replaced, as a
        // single file's link is.
        s.target = qnWrittenPath(m_folder + "/" + m_names[k]);
        struct stat st;
        if (::stat(s.target.c_str(), &st) != 0 && errno == ELOOP)
            ok = i_Fail(s.target, ELOOP);
        entries[k].name = m_names[k];
        entries[k].target = s.target;
        if (::lstat(StagedPath(m_names[k]).c_str(), &st) == 0) {
            entries[k].device = uint64_t(st.st_dev);
            entries[k].inode = uint64_t(st.st_ino);
            entries[k].size = uint64_t(st.st_size);
        }
        std::error_code ec;
        if (m_names[k].empty() || m_names[k].back() == '~' || m_names[k].find('/') != std::string::npos)
            ok = i_Fail(s.target, "not a plain file name");
        for (const std::string& keep : m_protected)
            if (ok && fs::equivalent(keep, s.target, ec))
                ok = i_Fail(s.target, "is one of the inputs");
        if (ok && !reached.insert(fs::weakly_canonical(s.target, ec).string()).second)
            ok = i_Fail(s.target, "two files of the series lead to it");
        if (!ok || ::lstat(s.target.c_str(), &st) != 0)
            continue;
        s.existed = true;
        if (S_ISDIR(st.st_mode))
            ok = i_Fail(s.target, EISDIR);
        else if (!S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode))
            ok = i_Fail(s.target, "not a regular file");
        else if (!qnMayWrite(s.target))
            ok = i_Fail(s.target, "the file is read-only (permission denied)");
        else if (::link(s.target.c_str(), StagedPath(BackupName(m_names[k])).c_str()) == 0)
            s.linked = true;
        else if (errno != EPERM && errno != ENOTSUP && errno != EMLINK)
            ok = i_Fail(s.target, errno);
        if (ok && S_ISREG(st.st_mode))
            ::chmod(StagedPath(m_names[k]).c_str(), st.st_mode & 07777);
    }
    // The journal, synced with the backups' links beside it, before any
    // target changes: from here a run that dies is put right by the next.
    const std::string journal = StagedPath(kJournalName);
    if (ok) {
        const std::string text = JournalText(entries);
        if (qnReplaceFile(journal, text.data(), text.size()) != 0)
            ok = i_Fail(m_folder, qnLastWriteErrno());
    }

    // The renames, with SIGINT and SIGTERM waiting; a failure puts back
    // every target already replaced.
    qnHoldTermination();
    if (ok)
        CallHook(0);
    for (size_t k = 0; ok && k < slots.size(); ++k) {
        Slot& s = slots[k];
        const std::string staged = StagedPath(m_names[k]);
        const std::string backup = StagedPath(BackupName(m_names[k]));
        if (s.existed && !s.linked && ::rename(s.target.c_str(), backup.c_str()) != 0) {
            ok = i_Fail(s.target, errno);
            break;
        }
        if (::rename(staged.c_str(), s.target.c_str()) != 0) {
            ok = i_Fail(s.target, errno);
            break;
        }
        CallHook(k + 1);
    }
    bool keep = false;
    if (!ok) {
        std::string target;
        int error = 0;
        // Old files that cannot go back stay with the journal in the
        // staging folder, for the next series here to put back.
        keep = !PutBack(m_staging, entries, target, error);
    }
    SyncFolder(m_folder);
    if (ok) {
        // The series is in place once the journal is gone from the disk.
        ::unlink(journal.c_str());
        SyncFolder(m_staging);
    }
    if (keep) {
        qnForgetFolderOnSignal(m_signalSlot);
        m_signalSlot = -1;
        m_staging.clear();
    }
    Abandon();
    qnReleaseTermination();
    return ok;
}
