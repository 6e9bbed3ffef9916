// The writer of a PNG series: its staging folder, the turns series in one
// folder take, and the commit that puts every file in place or none.
#include "core/FileSeries.h"

#include "core/ErrorWords.h"
#include "core/ProgramOutput.h"
#include "core/SafeFile.h"
#include "core/SeriesFiles.h"
#include "core/StdFile.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <set>
#include <thread>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace qnseries;

namespace {

std::atomic<CQNF_FileSeries::CommitHook> g_commitHook{nullptr};
std::atomic<CQNF_FileSeries::CommitHook> g_asideHook{nullptr};

void CallHook(size_t placed, const std::atomic<CQNF_FileSeries::CommitHook>& which = g_commitHook)
{
    if (const CQNF_FileSeries::CommitHook hook = which.load())
        hook(placed);
}

// What a link of the series that leads to another disk is told: a rename,
// which puts a file in place in one step, reaches no other disk.
constexpr char kOtherDisk[] = "is a link to another disk, and a series is written all or none only on one disk";

// Whether the file a link leads to, at end (it need not exist), lies on
// another disk than the folder open as dir. Anything but a file there is
// refused for what it is.
bool OnAnotherDisk(int dir, const std::string& end)
{
    struct stat endSt;
    if (::stat(end.c_str(), &endSt) == 0 && !S_ISREG(endSt.st_mode))
        return false;
    const size_t slash = end.rfind('/');
    const std::string parent = slash == std::string::npos ? "." : slash == 0 ? "/" : end.substr(0, slash);
    struct stat folderSt, parentSt;
    return ::fstat(dir, &folderSt) == 0 && ::stat(parent.c_str(), &parentSt) == 0 &&
           folderSt.st_dev != parentSt.st_dev;
}

// Why the gate every write passes (core/SafeFile.h) refuses the series'
// file path, or empty: what a single file written there would be refused
// for, and a name leading to one of protected too.
QnRefusal GateRefusal(const std::string& path, const std::vector<std::string>& protectedPaths)
{
    QnRefusal why = qnWriteRefusal(path, QnWrite::Output, false);
    if (why.empty() && !qnInputRefusal(path, protectedPaths).empty())
        for (const std::string& kept : protectedPaths)
            if (!qnInputRefusal(path, {kept}).empty())
                return {path, qnOverInputWords(kept)};
    return why;
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
        std::thread watcher = qnStartThreadWithoutSignals([&] {
            std::unique_lock<std::mutex> hold(mutex);
            if (!done.wait_for(hold, kPatience, [&] { return locked; }))
                std::fprintf(stderr,
                             "%s: waiting for another program that is writing into %s to finish (if it is "
                             "stopped, it must be let go on or ended)\n",
                             Program(), qnShownName(folder).c_str());
        });
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

}  // namespace

void CQNF_FileSeries::SetCommitHook(CommitHook hook) { g_commitHook.store(hook); }

bool CQNF_FileSeries::i_Fail(const std::string& path, int error)
{
    return i_Fail(path, error ? qnSystemWords(error) : std::string("cannot write"));
}

bool CQNF_FileSeries::i_Fail(const std::string& path, const std::string& why)
{
    m_failure = qnShownName(path) + ": " + why;
    return false;
}

bool CQNF_FileSeries::i_Recover()
{
    std::vector<std::string> lines;
    std::string failure;
    const bool whole = RecoverDeadRuns(m_dir, m_folder, m_changed, lines, failure);
    // A dead run's staging folder left for a person is said once a run,
    // though each look at the folder meets it again.
    for (const std::string& line : lines) {
        if (std::find(m_said.begin(), m_said.end(), line) != m_said.end())
            continue;
        m_said.push_back(line);
        std::fprintf(stderr, "%s: %s\n", Program(), line.c_str());
    }
    if (!whole)
        m_failure = failure;
    return whole;
}

bool CQNF_FileSeries::i_LockAndRecover(FolderLock& folderLock)
{
    if (!folderLock.Lock(m_dir, m_folder)) {
        const int error = errno;
        Abandon();
        return i_Fail(m_folder, error);
    }
    // A dead run's file that cannot be put back fails the series: the
    // folder is neither the old set nor the new, and the old file waits in
    // the dead run's staging folder for the next series to try again.
    if (!i_Recover()) {
        const std::string failure = m_failure;
        Abandon();
        m_failure = failure;
        return false;
    }
    return true;
}

bool CQNF_FileSeries::Begin(const std::string& folder)
{
    Abandon();
    m_failure.clear();
    m_names.clear();
    m_index.clear();
    m_folder = folder.empty() ? "." : folder;
    // A folder whose mode forbids writing is refused as a single file in it
    // would be, even where the system would let this process write.
    if (const QnRefusal why = qnFolderRefusal(m_folder, 0); !why.empty()) {
        m_failure = why.Detail();
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
    // A signal between making the staging folder and listing it for
    // removal would leave it: it waits until it is listed.
    CQNF_TerminationHold hold;
    int error = EEXIST;
    for (int attempt = 0; attempt < 100 && error == EEXIST; ++attempt) {
        std::string name = NewStagingName();
        error = ::mkdirat(m_dir, name.c_str(), 0700) == 0 ? 0 : errno;
        if (error == 0)
            m_stagingName = std::move(name);
    }
    if (error != 0) {
        hold.Release();
        Abandon();
        return i_Fail(m_folder, error);
    }
    m_staging = m_folder + "/" + m_stagingName;
    m_signalSlot = qnRemoveFolderOnSignal(m_staging);
    hold.Release();
    m_lock = ::openat(m_dir, m_stagingName.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW);
    if (m_lock < 0 || ::flock(m_lock, LOCK_EX | LOCK_NB) != 0) {
        error = errno;
        if (m_lock < 0)
            ::unlinkat(m_dir, m_stagingName.c_str(), AT_REMOVEDIR);
        Abandon();
        return i_Fail(m_folder, error);
    }
    // The mark, synced before anything else goes into the folder: only a
    // folder holding it is ever taken for one a series made. A run killed
    // before it is whole leaves the folder empty, or holding no more than
    // a beginning of it, which the next series removes.
    const std::string mark = MarkBytes(m_stagingName);
    if (qnReplaceFile(m_staging + "/" + kMarkName, mark.data(), mark.size()) != 0) {
        error = qnLastWriteErrno();
        Abandon();
        return i_Fail(m_folder, error);
    }
    return true;
}

QnRefusal CQNF_FileSeries::Refusal(const std::string& folder, size_t longestName, const std::string& prefix,
                                   const std::string& ending)
{
    const std::string dir = folder.empty() ? "." : folder;
    // The names a series gives its own files are short: the targets' are
    // the longest it writes.
    if (QnRefusal why = qnFolderRefusal(dir, longestName); !why.empty())
        return why;
    if (prefix.empty())
        return {};
    const OwnedFd fd{::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
    DIR* list = fd.fd >= 0 ? ::fdopendir(::fcntl(fd.fd, F_DUPFD_CLOEXEC, 0)) : nullptr;
    QnRefusal refused;
    if (!list)
        return refused;
    while (const struct dirent* d = ::readdir(list)) {
        const std::string name = d->d_name;
        struct stat st;
        if (name.size() < prefix.size() + ending.size() || name.compare(0, prefix.size(), prefix) != 0 ||
            name.compare(name.size() - ending.size(), ending.size(), ending) != 0 ||
            ::fstatat(fd.fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISLNK(st.st_mode))
            continue;
        if (OnAnotherDisk(fd.fd, qnWrittenPath(dir + "/" + name))) {
            refused = {qnShownName(dir + "/" + name), kOtherDisk};
            break;
        }
        // A link the series may write through is judged as the gate will
        // judge it when the series commits: one to a file the run reads, a
        // read-only file or a device is refused before any work.
        if (refused = GateRefusal(dir + "/" + name, {}); !refused.empty())
            break;
    }
    ::closedir(list);
    return refused;
}

std::string CQNF_FileSeries::StagedPath(const std::string& name)
{
    uint64_t& index = m_index[name];
    if (index == 0)
        index = m_index.size();
    return m_staging + "/" + StagedName(index);
}

std::vector<std::string> CQNF_FileSeries::Targets() const
{
    std::vector<std::string> targets;
    for (const std::string& name : m_names)
        targets.push_back(m_folder + "/" + name);
    return targets;
}

void CQNF_FileSeries::i_SayWhatWasKept()
{
    for (const Changed& c : m_changed) {
        const std::string at = c.file[0] == '/' ? std::string() : m_folder + "/";
        const auto shown = [&](const std::string& name) { return qnShownName(at + name); };
        const std::string file = shown(c.file);
        std::string what;
        if (!c.changed.empty()) {
            what = "that changed file is kept as " + shown(c.changed);
            if (!c.before.empty())
                what += ", the file it replaced as " + shown(c.before);
            what += ", and " + file + " now holds the new file of this run";
        } else if (c.deleted && c.written) {
            what = "the file it replaced is kept as " + shown(c.before) + ", and " + file +
                   " now holds the new file of this run";
        } else if (c.deleted) {
            what = "it stays deleted, and the file it replaced is kept as " + shown(c.before);
        } else if (!c.before.empty()) {
            what = "it stays as it is, and the file it replaced is kept as " + shown(c.before);
        } else {
            continue;  // it stays, and nothing was kept beside it
        }
        std::fprintf(stderr, "%s: %s was %s after a series that was writing it was interrupted: %s\n", Program(),
                     file.c_str(), c.deleted ? "deleted" : "changed", what.c_str());
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
    journal.fileSystem = FileSystemOf(m_dir);
    journal.fileSystemType = FileSystemTypeOf(m_dir);
    journal.place = PlaceOnDisk(m_folder);
    journal.stagingName = m_stagingName;
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
        s.named = m_folder + "/" + m_names[k];
        const auto index = m_index.find(e.name);
        if (!IsPlainName(e.name) || index == m_index.end()) {
            ok = i_Fail(s.named, index == m_index.end() ? "was never written" : "not a plain file name");
            continue;
        }
        e.index = index->second;
        // A symbolic link stays and the file it names is replaced, as a
        // single file's link is. Its end is reached by the name beside the
        // link when it lies in this folder, else by its absolute path.
        // What is wrong with a target is said of the series' own file, as a
        // single file's writer names the link it was given; a failed move
        // names where the content was to land.
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
            if (OnAnotherDisk(m_dir, end)) {
                ok = i_Fail(s.named, kOtherDisk);
                continue;
            }
            const size_t slash = end.rfind('/');
            const std::string base = end.substr(slash + 1);
            struct stat parentSt;
            const bool beside = IsPlainName(base) &&
                                ::stat(slash == 0 ? "/" : end.substr(0, slash).c_str(), &parentSt) == 0 &&
                                parentSt.st_dev == folderSt.st_dev && parentSt.st_ino == folderSt.st_ino;
            e.file = beside ? base : end;
        }
        // The staged file as it is to be placed, its content included: a
        // dead run's file is put back only over a target still holding
        // exactly that.
        const OwnedFd staged{::openat(m_lock, StagedName(e.index).c_str(),
                                      O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY)};
        if (staged.fd < 0 || ::fstat(staged.fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            ok = i_Fail(s.named, staged.fd < 0 ? errno : EINVAL);
            continue;
        }
        e.inode = uint64_t(st.st_ino);
        e.size = uint64_t(st.st_size);
        e.digest = DigestOf(staged.fd);
        // The series is part of the one gate every write passes: what it
        // would refuse for a single file there (a file the run reads,
        // through any link, a read-only file, a device, FIFO or folder) the
        // series refuses before anything moves, in its words.
        if (const QnRefusal why = GateRefusal(s.named, m_protected); !why.empty()) {
            m_failure = why.Detail();
            ok = false;
            continue;
        }
        std::error_code ec;
        if (!reached.insert(fs::weakly_canonical(s.shown, ec).string()).second)
            ok = i_Fail(s.shown, "two files of the series lead to it");
        if (!ok || ::fstatat(m_dir, e.file.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        s.existed = true;
        if (!S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode))
            ok = i_Fail(s.named, qnNotRegularWords(st.st_mode & S_IFMT, false));
        else if (::linkat(m_dir, e.file.c_str(), m_lock, BackupName(e.index).c_str(), 0) == 0)
            s.linked = true;
        else if (errno == EXDEV)
            ok = i_Fail(s.named, kOtherDisk);
        else if (errno != EPERM && errno != ENOTSUP && errno != EMLINK)
            ok = i_Fail(s.shown, errno);
        if (ok && S_ISREG(st.st_mode))
            qnTakeOwnerAndMode(staged.fd, st);
        e.movedAside = s.existed && !s.linked;
    }
    // The journal, synced with the backups' links beside it, before any
    // target changes: from here a run that dies is put right by the next.
    const std::string journalPath = m_staging + "/" + kJournalName;
    if (ok) {
        const std::string text = JournalBytes(journal);
        if (qnReplaceFile(journalPath, text.data(), text.size()) != 0)
            ok = i_Fail(m_folder, qnLastWriteErrno());
    }

    // The renames, with SIGINT, SIGTERM and SIGHUP waiting; a failure puts
    // back every target already replaced.
    const CQNF_TerminationHold hold;
    if (ok)
        CallHook(0);
    for (size_t k = 0; ok && k < slots.size(); ++k) {
        const Slot& s = slots[k];
        const JournalEntry& e = entries[k];
        if (s.existed && !s.linked) {
            if (::renameat(m_dir, e.file.c_str(), m_lock, BackupName(e.index).c_str()) != 0) {
                ok = i_Fail(s.shown, errno);
                break;
            }
            CallHook(k, g_asideHook);
        }
        if (::renameat(m_lock, StagedName(e.index).c_str(), m_dir, e.file.c_str()) != 0) {
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
        for (Changed& c : m_changed) {
            if (c.file != entries[k].file || !c.changed.empty())
                continue;
            c.written = true;
            if (!slots[k].existed)
                break;
            if (KeepBeside(m_lock, BackupName(entries[k].index), m_dir, c.file, ".changed-after-crash", c.changed) !=
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
        for (Changed& c : m_changed)
            c.written = false;
        for (const auto& [c, k] : keptChanged) {
            ::renameat(m_dir, c->changed.c_str(), m_lock, BackupName(entries[k].index).c_str());
            c->changed.clear();
        }
    }
    bool keep = false;
    if (!ok) {
        // Old files that cannot go back stay with the journal in the
        // staging folder, for the next series here to put back.
        std::vector<NotPutBack> failed;
        keep = !PutBack(m_dir, m_lock, entries, uint64_t(folderSt.st_dev), true, m_changed, failed);
        for (const NotPutBack& f : failed)
            std::fprintf(stderr, "%s: %s: cannot be put back as it was (%s)%s\n", Program(),
                         qnShownName(f.file[0] == '/' ? f.file : m_folder + "/" + f.file).c_str(),
                         qnSystemWords(f.error).c_str(),
                         f.backup.empty() ? ""
                                          : ("; its old file is kept as " + qnShownName(m_staging + "/" + f.backup))
                                                .c_str());
    }
    ::fsync(m_dir);
    if (ok) {
        // The series is in place once the journal is gone from the disk.
        // A staging folder without a journal keeps the old files for a
        // person, unless it is marked finished: the mark comes first, synced
        // inside the folder, so that a run killed while it empties the
        // folder leaves nothing that needs one. The folder keeps its name: a
        // FUSE disk loses what a renamed folder holds.
        const std::string finished = FinishedBytes(m_stagingName);
        qnReplaceFile(m_staging + "/" + kFinishedName, finished.data(), finished.size());
        CallHook(slots.size() + 1);
        ::unlinkat(m_lock, kJournalName, 0);
        ::fsync(m_lock);
        CallHook(slots.size() + 2);
        const size_t emptied = slots.size() + 3;
        RemoveStaging(m_dir, m_stagingName, m_lock, [emptied] { CallHook(emptied); });
        m_stagingName.clear();
    }
    if (keep) {
        qnForgetFolderOnSignal(m_signalSlot);
        m_signalSlot = -1;
        m_stagingName.clear();
    }
    Abandon();
    return ok;
}

void CQNF_FileSeries::SetAsideHook(CommitHook hook) { g_asideHook.store(hook); }
