// Putting right what a dead series left in its folder.
//
// A run killed in its commit leaves its staging folder with the journal,
// the old files of the targets it replaced ("N.old") and the new files it
// had not placed yet ("N"). The next series in that folder puts every
// target back that still holds exactly what the dead run placed (the same
// inode, size and content); a target the dead run placed and the user
// changed or deleted since, or one it had not placed and the user deleted,
// stays as the user left it, its old file kept beside it. A staging folder
// whose journal cannot be trusted, or without a journal but with old files,
// is left for a person: one line says where, and the folder stays open to
// new series. An old file that cannot go back stays too, and the series
// that met it fails, saying why and where the old file is.
//
// Only a folder this program can tell it made is ever emptied: one whose
// name carries its check (NewStagingName) and that holds the mark a series
// writes into it first, sealed for that name, or a sealed journal; or one
// of an older version's form that holds a journal of this program's. A
// folder named as a series names its own that holds neither is left whole,
// in one line that says so (an empty one goes: that loses nothing, nor
// does a mark a run died writing); any other folder of a like name is a
// person's, and is left whole without a word.
#include "core/SeriesFiles.h"

#include "core/ErrorWords.h"
#include "core/ProgramOutput.h"
#include "core/SafeFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qnseries {

namespace {

// A journal names at most as many files as a series has, each in a few
// hundred bytes: anything larger is no journal.
constexpr size_t kJournalMost = size_t(64) << 20;
// What the line of a staging folder left for a person adds: what to do.
constexpr char kLeftForAPerson[] =
    "; it is left as it is, with the old files it keeps (put them back by hand, then remove it)";

bool SameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// Reads the whole journal open as fd; false with why.
bool ReadAll(int fd, std::vector<uint8_t>& bytes, std::string& why)
{
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        why = "is not a file";
        return false;
    }
    if (uint64_t(st.st_size) > kJournalMost) {
        why = "is damaged";
        return false;
    }
    bytes.resize(size_t(st.st_size));
    size_t got = 0;
    while (got < bytes.size()) {
        const ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            why = n < 0 ? "cannot be read: " + qnSystemWords(errno) : std::string("is damaged");
            return false;
        }
        got += size_t(n);
    }
    return true;
}

// Whether name, in the folder open as dir (shown as folder), is a symbolic
// link whose end is the file at the absolute path end: the same name in the
// same folder, compared by the folders' device and inode.
bool IsLinkLeadingTo(int dir, const std::string& folder, const std::string& name, const std::string& end)
{
    struct stat st;
    if (::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISLNK(st.st_mode))
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
           ::stat(endParent.c_str(), &b) == 0 && SameFile(a, b);
}

// Whether the staging folder open as staging, called name in the folder
// open as dir (shown as folder), is the one the journal was written for;
// otherwise why not. A journal names the staging folder it was written in:
// a copy of that folder under another name, beside it, holds a journal
// like its own, which is not to be put back from, nor its folder emptied
// (the older form names none, and was written only in a folder whose name
// carries its check). Device numbers last only while a disk stays mounted:
// the file system's own identity and the inode numbers, which a disk
// mounted again keeps, bind a journal. A disk that keeps no inode numbers (FAT, exFAT,
// FUSE) gives new ones at each mount, and no identity of its own: there a
// journal of this form binds by the kind of file system and the folder's
// path on its disk, which a copy into another folder does not keep.
bool IsWrittenHere(int dir, int staging, const std::string& folder, const std::string& name, const Journal& journal,
                   std::string& why)
{
    struct stat folderSt, stagingSt;
    if (::fstat(dir, &folderSt) != 0 || ::fstat(staging, &stagingSt) != 0) {
        why = "cannot be checked: " + qnSystemWords(errno);
        return false;
    }
    why.clear();
    const uint64_t type = FileSystemTypeOf(dir);
    if (journal.version >= 7 ? journal.stagingName != name : journal.version == 6 && !IsOwnStagingName(name)) {
        why = "was written in another staging folder (this one is a copy, or was renamed)";
        return false;
    }
    if (journal.version >= 6 && !KeepsInodeNumbers(type)) {
        if (journal.fileSystemType != type)
            why = "was written on another disk (this folder was copied from there)";
        else if (journal.place.empty() || PlaceOnDisk(folder) != journal.place)
            why = "was written in another folder (copied or moved here)";
        return why.empty();
    }
    if (uint64_t(folderSt.st_ino) != journal.folderInode || uint64_t(stagingSt.st_ino) != journal.stagingInode ||
        stagingSt.st_dev != folderSt.st_dev) {
        why = "was written in another folder (copied or moved here)";
        return false;
    }
    const uint64_t fileSystem = FileSystemOf(dir);
    if (fileSystem != 0 || journal.fileSystem != 0) {
        if (fileSystem != journal.fileSystem)
            why = "was written on another disk (this folder was copied from there)";
        return fileSystem == journal.fileSystem;
    }
    // Without the file system's identity only the device number tells it.
    if (uint64_t(folderSt.st_dev) != journal.folderDevice) {
        why = "was written under another device number, which this file system cannot tell from another disk";
        return false;
    }
    return true;
}

// Whether the folder open as folder holds a file "journal" that begins as
// this program's journals begin: what tells a staging folder of an older
// version's form from a person's folder of a like name.
bool HoldsSeriesJournal(int folder)
{
    static constexpr std::string_view kAnyHead = "tessolo series journal ";
    const OwnedFd fd{::openat(folder, kJournalName, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY)};
    struct stat st;
    if (fd.fd < 0 || ::fstat(fd.fd, &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    char head[kAnyHead.size()];
    return ::pread(fd.fd, head, sizeof head, 0) == ssize_t(sizeof head) &&
           std::string_view(head, sizeof head) == kAnyHead;
}

// What became of a dead run's staging folder when it was looked at.
struct Staging {
    enum Kind { Skip, Remove, PutBack, Refuse } kind = Skip;
    int fd = -1;  // the staging folder, open and locked unless skipped
    Journal journal;
    std::string why;  // for Refuse, in a few words
    // For Refuse: what the line ends with (empty: it keeps old files of a
    // series, for a person to put back).
    std::string ending;

    Staging() = default;
    Staging(const Staging&) = delete;
    Staging& operator=(const Staging&) = delete;
    ~Staging()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

// Why the staging folder whose status is st cannot be trusted as this
// user's own private folder (empty: it can). A journal is sealed against
// damage only: anyone may compute its seal. What keeps one from being
// forged is that only this user can have written it, as into a private
// temporary folder: the staging folder is this user's and no one else may
// write in it, and the journal is this user's file, no one else's to
// write, with no other name.
std::string NotPrivate(const struct stat& st)
{
    if (st.st_uid != ::geteuid())
        return "belongs to user " + std::to_string(st.st_uid) + ", not to this one";
    if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0)
        return "may be written by other users";
    return {};
}

// The first entry of the folder open as folder, "." and ".." left out, for
// which fits is false: false when the folder cannot be listed.
template <typename Fits>
bool FirstMisfit(int folder, Fits fits, std::string& misfit)
{
    misfit.clear();
    const int listFd = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* list = listFd >= 0 ? ::fdopendir(listFd) : nullptr;
    if (!list) {
        if (listFd >= 0)
            ::close(listFd);
        return false;
    }
    while (const struct dirent* d = ::readdir(list)) {
        const std::string name = d->d_name;
        if (name != "." && name != ".." && !fits(name)) {
            misfit = name;
            break;
        }
    }
    ::closedir(list);
    return true;
}

// The first entry of the staging folder open as staging that no series
// made (IsSeriesMade), or empty.
std::string Stranger(int staging)
{
    std::string stranger;
    FirstMisfit(staging, [](const std::string& name) { return IsSeriesMade(name); }, stranger);
    return stranger;
}

// Whether the staging folder open as staging holds an old file a dead run
// moved aside that has no other name: the only copy of a file it replaced.
bool HoldsOnlyCopies(int staging)
{
    const std::string old = ".old";
    const auto noCopy = [&](const std::string& name) {
        struct stat st;
        return !(name.size() > old.size() && name.compare(name.size() - old.size(), old.size(), old) == 0 &&
                 ::fstatat(staging, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                 (!S_ISREG(st.st_mode) || st.st_nlink == 1));
    };
    // What cannot be looked at may hold anything.
    std::string copy;
    return !FirstMisfit(staging, noCopy, copy) || !copy.empty();
}

// Whether the folder open as staging holds a journal that matches its
// seal.
bool HoldsSealedJournal(int staging)
{
    const OwnedFd fd{::openat(staging, kJournalName, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY)};
    std::vector<uint8_t> bytes;
    std::string why;
    Journal journal;
    return fd.fd >= 0 && ReadAll(fd.fd, bytes, why) &&
           CQNF_FileSeries::ParseJournal(bytes.data(), bytes.size(), journal, why);
}

// Whether the staging folder open as staging, called name, holds nothing
// but a beginning of its mark that a run died writing (or nothing at all).
bool HoldsOnlyABegunMark(int staging, const std::string& name)
{
    std::string misfit;
    return FirstMisfit(staging, [&](const std::string& entry) { return IsBegunMark(staging, name, entry); }, misfit) &&
           misfit.empty();
}

// Looks at the entry called name in the folder open as dir (shown as
// folder): whether it is a dead run's staging folder to remove, one whose
// journal is to be put back (every entry then names a file of the folder,
// and every backup is a file), one to refuse, or none of those. A folder
// whose lock is held belongs to a running series; one of another user that
// this user cannot open may too, and is none of this run's business.
void Examine(int dir, const std::string& folder, const std::string& name, Staging& s)
{
    s.kind = Staging::Skip;
    struct stat st;
    if (!IsStagingName(name) || ::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return;
    const bool own = IsOwnStagingName(name);
    if (S_ISLNK(st.st_mode)) {
        // A link is never followed to a dead run's files; it is said only
        // where it leads to what a series keeps.
        const OwnedFd through{::openat(dir, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
        if (own || (through.fd >= 0 && HoldsSeriesJournal(through.fd))) {
            s.kind = Staging::Refuse;
            s.why = "is a symbolic link where a series keeps its files";
        }
        return;
    }
    if (!S_ISDIR(st.st_mode))
        return;
    s.fd = ::openat(dir, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW);
    if (s.fd < 0 || ::flock(s.fd, LOCK_EX | LOCK_NB) != 0 || ::fstat(s.fd, &st) != 0)
        return;
    // A folder named as older versions named theirs, without a journal of
    // this program's, may be anyone's (a person's ".series-photos", or on a
    // vfat disk, where every folder has one mode, anything): it is left
    // whole, and said nothing of.
    if (!own && !HoldsSeriesJournal(s.fd))
        return;
    // A name anyone may give a folder: without the mark a series writes in
    // first, or a sealed journal, what it holds may be anyone's. Only what
    // loses nothing goes: an empty folder, or one holding just the
    // beginning of its mark, from a run killed as it made the folder.
    if (own && !HoldsOwnMark(s.fd, name) && !HoldsSealedJournal(s.fd)) {
        if (HoldsOnlyABegunMark(s.fd, name)) {
            s.kind = Staging::Remove;
            return;
        }
        s.kind = Staging::Refuse;
        s.why = "is named as a staging folder of a series, but holds no mark that a series made it";
        s.ending = "; it is left as it is, and may be removed by whoever knows nothing in it is needed";
        return;
    }
    s.kind = Staging::Refuse;
    // A folder whose name carries the check but that holds what no series
    // makes has been filled by a person since: it is left whole.
    if (own) {
        if (const std::string stranger = Stranger(s.fd); !stranger.empty()) {
            s.why = "holds " + qnShownName(stranger) + ", which no series makes, so it is left to whoever put it there";
            s.ending = "; it is left as it is";
            return;
        }
    }
    if (std::string why = NotPrivate(st); !why.empty()) {
        s.why = why + ", so nothing in it is trusted";
        return;
    }
    // A series marks its staging folder finished only once every target
    // holds its new file and that is on disk: a journal still inside (the
    // run died before it went) is not read, nor is anything put back from
    // it. The old files it keeps are no longer needed. Older versions
    // renamed the folder to mark it so; the finished mark is sealed for the
    // folder's own name, which a copy of it under another does not hold.
    const std::string gone = ".gone";
    if (name.compare(name.size() - gone.size(), gone.size(), gone) == 0 || HoldsFinishedMark(s.fd, name)) {
        s.kind = Staging::Remove;
        return;
    }
    const OwnedFd journalFd{::openat(s.fd, kJournalName, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK)};
    const int opened = errno;
    if (journalFd.fd < 0 && opened == ENOENT) {
        // Without a journal the old files it keeps cannot be put back, and
        // are not lost either: they stay for a person.
        if (HoldsOnlyCopies(s.fd)) {
            s.why = "has no journal, but holds old files of an interrupted series";
            return;
        }
        s.kind = Staging::Remove;
        return;
    }
    // A dead run's journal: the run died while replacing targets, and its
    // old files go back before its backups can go.
    const std::string journal = "the journal of an interrupted series ";
    std::vector<uint8_t> bytes;
    std::string why;
    if (journalFd.fd < 0) {
        s.why = journal + "cannot be read: " + qnSystemWords(opened);
        return;
    }
    if (::fstat(journalFd.fd, &st) == 0 && S_ISREG(st.st_mode)) {
        why = NotPrivate(st);
        if (why.empty() && st.st_nlink != 1)
            why = "has other names (hard links)";
        if (!why.empty()) {
            s.why = journal + why + ", so it is not trusted";
            return;
        }
    }
    if (!ReadAll(journalFd.fd, bytes, why) || !CQNF_FileSeries::ParseJournal(bytes.data(), bytes.size(), s.journal, why) ||
        !IsWrittenHere(dir, s.fd, folder, name, s.journal, why)) {
        s.why = journal + why;
        return;
    }
    for (JournalEntry& e : s.journal.entries) {
        // An absolute path is where the series' file was a link leading out
        // of the folder: taken only while that link still leads there. A
        // link the user deleted since is the user's deletion, as of any
        // target: the entry is then the series' own name in the folder,
        // which stays deleted with the old file kept beside it, and the
        // other targets are put back. Anything else there is no link the
        // journal can be trusted on.
        struct stat named;
        if (e.file[0] == '/' && ::fstatat(dir, e.name.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0 &&
            errno == ENOENT) {
            e.file = e.name;
        } else if (e.file[0] == '/' && !IsLinkLeadingTo(dir, folder, e.name, e.file)) {
            s.why = journal + "names " + qnShownName(e.file) + ", not a file in " + qnShownName(folder);
            return;
        }
        if (::fstatat(s.fd, BackupName(e.index).c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISREG(st.st_mode)) {
            s.why = "the old file it keeps for " + qnShownName(e.name) + " is not a file";
            return;
        }
    }
    s.kind = Staging::PutBack;
}

}  // namespace

// Each target, by what it holds now:
// - exactly the file the series placed: it gets its old file back, or goes
//   when it had none;
// - anything else, where the series had placed its file: the user changed
//   or deleted it since. It stays as it is, its old file kept beside it;
// - nothing, where the series never placed its file: the user deleted it
//   since (a run that dies keeps its old file linked as the backup), and it
//   stays deleted, its old file kept beside it. Where the series moved that
//   old file aside itself (a disk that gives no second names, or a run
//   putting back its own failed commit), the target is missing because of
//   the series, between its two renames, and the old file goes back;
// - anything else, where the series never placed its file: the target is
//   as the series found it or as the user made it since, and stays.
// A target is acted on only while it is still the file found: a name
// replaced in between is the user's.
bool PutBack(int dir, int staging, const std::vector<JournalEntry>& entries, uint64_t device, bool ownRun,
             std::vector<Changed>& changed, std::vector<NotPutBack>& failed)
{
    bool ok = true;
    for (const JournalEntry& e : entries) {
        const std::string backup = BackupName(e.index);
        struct stat targetSt, backupSt, stagedSt, nowSt;
        const bool hasBackup =
            ::fstatat(staging, backup.c_str(), &backupSt, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(backupSt.st_mode);
        // A link's end elsewhere is reached through its folder, opened once:
        // what is looked at below and what is done reach the same folder,
        // whatever is renamed on the way in between.
        const size_t slash = e.file[0] == '/' ? e.file.rfind('/') : std::string::npos;
        const std::string parent = slash == std::string::npos ? std::string() : e.file.substr(0, slash + 1);
        const std::string base = e.file.substr(parent.size());
        const OwnedFd parentFd{parent.empty() ? -1 : ::open(parent.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC)};
        const int at = parent.empty() ? dir : parentFd.fd;
        if (at < 0) {
            ok = false;
            failed.push_back({e.file, errno, hasBackup ? backup : std::string()});
            continue;
        }
        const bool hasTarget = ::fstatat(at, base.c_str(), &targetSt, AT_SYMLINK_NOFOLLOW) == 0;
        // By its size and content, which a disk mounted again keeps; by its
        // inode too where the journal names it.
        bool ours = hasTarget && S_ISREG(targetSt.st_mode) && (e.inode == 0 || uint64_t(targetSt.st_ino) == e.inode) &&
                    uint64_t(targetSt.st_size) == e.size && uint64_t(targetSt.st_dev) == device &&
                    DigestOf(at, base) == e.digest;
        const bool placed = ::fstatat(staging, StagedName(e.index).c_str(), &stagedSt, AT_SYMLINK_NOFOLLOW) != 0;
        // Once more just before the step: still the very file read.
        ours = ours && ::fstatat(at, base.c_str(), &nowSt, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(nowSt.st_mode) &&
               nowSt.st_ino == targetSt.st_ino && nowSt.st_dev == targetSt.st_dev;
        int rc = 0;
        if (hasBackup && (ours || ((ownRun || e.movedAside) && !hasTarget && !placed))) {
            rc = ::renameat(staging, backup.c_str(), at, base.c_str());
        } else if (ours) {
            rc = ::unlinkat(at, base.c_str(), 0);
        } else if (placed || !hasTarget) {
            Changed c;
            c.file = e.file;
            c.deleted = !hasTarget;
            if (hasBackup && (rc = KeepBeside(staging, backup, at, base, ".before-crash", c.before)) == 0)
                c.before = parent + c.before;
            if (rc == 0 && (hasBackup || hasTarget))
                changed.push_back(std::move(c));
        }
        if (rc != 0) {
            ok = false;
            failed.push_back({e.file, errno, hasBackup ? backup : std::string()});
        }
    }
    return ok;
}

bool RecoverDeadRuns(int dir, const std::string& folder, std::vector<Changed>& changed,
                     std::vector<std::string>& lines, std::string& failure)
{
    // Listed from its own descriptor, the folder is the one the targets are
    // reached from; a folder open only as a place cannot be listed.
    const int listFd = ::openat(dir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
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
    struct stat folderSt {};
    ::fstat(dir, &folderSt);
    bool whole = true;
    for (const std::string& name : names) {
        Staging s;
        Examine(dir, folder, name, s);
        const std::string shown = qnShownName(folder + "/" + name);
        if (s.kind == Staging::Refuse) {
            // A link or a file of that name keeps no old files of a series.
            struct stat st {};
            const bool folderOfItsOwn =
                ::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode);
            lines.push_back(shown + ": " + s.why +
                            (!s.ending.empty() ? s.ending : !folderOfItsOwn ? "; it is left as it is" : kLeftForAPerson));
            continue;
        }
        if (s.kind == Staging::PutBack) {
            std::vector<NotPutBack> failed;
            const bool putBack =
                PutBack(dir, s.fd, s.journal.entries, uint64_t(folderSt.st_dev), false, changed, failed);
            ::fsync(dir);
            // What could not go back stays with the journal, for a person
            // or the next series here, which tries again; this one fails.
            for (const NotPutBack& f : failed) {
                const std::string at = f.file[0] == '/' ? std::string() : folder + "/";
                const std::string line =
                    qnShownName(at + f.file) + ": cannot be put back as it was before an interrupted series (" +
                    qnSystemWords(f.error) + ")" +
                    (f.backup.empty() ? std::string() : "; its old file is kept as " + shown + "/" + f.backup);
                if (whole)
                    failure = line;
                else
                    lines.push_back(line);
                whole = false;
            }
            if (!putBack)
                continue;
        }
        if (s.kind != Staging::Skip)
            RemoveStaging(dir, name, s.fd);
    }
    return whole;
}

}  // namespace qnseries
