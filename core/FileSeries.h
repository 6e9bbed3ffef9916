// CQNF_FileSeries: a series of files written into one folder, all or nothing.
//
// Every file of the series is first written complete into a hidden staging
// folder beside the targets, ".series-" and six random letters or digits
// with eight more that check them, which holds before anything else a
// sealed mark naming it (so that only a folder this program made is ever
// emptied), under a short name of its own (its number in the
// series): the names a series writes for itself are
// short whatever the targets are called, so any target name the folder's
// file system takes can be written. Commit then puts them all in place;
// when one cannot be, it puts back what it had already replaced, so the
// folder holds either the whole new series or exactly what it held before.
// An existing target keeps its owner, group and mode bits, as a single
// replaced file does. A target that is a symbolic link stays one: the file
// it names (or is to name) is replaced, as a single file written through
// CQNF_SafeFile is; a link to another disk, where no rename reaches, is
// refused before any work. The series is part of the gate every write
// passes (qnWriteRefusal, core/SafeFile.h): a target the gate would refuse
// as a single file (a folder or anything but a regular file, links
// followed; a read-only file, whoever runs the program; one that leads to
// a file the run reads, core/SafeFileRunInputs.h, or to one of the
// protected paths), and two names that lead to one file, fail the series
// before anything moves, in the gate's words.
//
// A replaced target's old file stays in the staging folder as a backup
// until the whole series is in place. Before the first target moves, a
// journal naming the staging folder, every target, the file meant for it
// and the digest of its content is written and synced into the staging folder, sealed with the
// digest of its whole text (core/SeriesJournal.cpp); it goes once the
// series is in place and that is on disk. A run that dies in between
// (SIGKILL, out of memory, power loss) leaves its journal, and the next
// series in that folder puts things right (core/SeriesRecovery.cpp) before
// it deletes anything: a target still holding exactly what the dead run put
// there gets its old file back (or goes, when it had none).
//
// A target the dead run had put in place and that was changed or deleted
// since, or one it had not replaced yet that was deleted since, is the
// user's: it stays as the user left it, its old file is kept
// beside it as "NAME.before-crash" (never over another file), and a line on
// standard error says so. Where the series that puts things right replaces
// such a target itself, the changed file is kept beside it too, as
// "NAME.changed-after-crash", and that line says so instead. A kept name
// the file system would not take is cut to fit, and the line names it.
//
// A file of a dead run whose journal is trusted but that cannot be put back
// (the disk refuses it) fails the series, in words that name the file, why
// and where its old file is kept; the next series tries again.
//
// A dead run never blocks its folder otherwise. A journal found on disk is
// input like any other, and its seal guards against damage only: anyone can compute
// it. A dead run's staging folder is trusted only as a private temporary
// folder is: this user's, no link, and written by no one else; its journal
// this user's file with no other name. One that is not, a journal whose
// seal does not match, of an older version, written in another folder or
// on another disk than the one it lies in, or naming anything but a file
// in its folder is refused, its staging folder is left as it is for a
// person, one line on standard error says where and why, and the series
// goes on in its own staging folder. So is a staging folder without a
// journal that holds an old file with no other name: a series marks its
// staging folder finished once every target is in place and before its
// journal goes, with a sealed file naming the folder (older versions
// renamed it, to NAME.gone, which is still taken so), and only a marked one
// is emptied of what a series makes whatever old files it holds. A marked
// one is a finished series: a journal still in it is not read, nothing is
// put back, and the new files stay. A journal, and a mark, found in a
// staging folder of another name than the one they were written for (a
// copy) are not trusted. A folder named as older versions named their staging
// folders is taken for one only when it holds a journal of this program's;
// any other folder of a like name is a person's, left whole without a word.
// One named as this version names them is taken for one only when it holds
// its mark or a sealed journal; without either it is left whole, in one
// line, unless it holds nothing (or no more than a mark begun).
//
// Series in one folder take turns: a lock on the folder itself is held
// while a staging folder is made, while dead runs' staging folders are put
// right and removed, and through a commit. A series that has waited for it
// a while says so once on standard error and goes on waiting: the other
// writer may be stopped, and would lose its work if this one went ahead. A
// running series also holds a lock on its own staging folder, which it
// takes before the folder lock goes, so no other run ever sees it unlocked
// and takes it for a dead one's.
//
// The staging folder goes on failure, on Abandon, with the object, and on
// SIGINT, SIGTERM or SIGHUP, which wait while Commit moves the files.
#pragma once

#include "core/Refusal.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

class CQNF_FileSeries {
public:
    CQNF_FileSeries() = default;
    CQNF_FileSeries(const CQNF_FileSeries&) = delete;
    CQNF_FileSeries& operator=(const CQNF_FileSeries&) = delete;
    ~CQNF_FileSeries() { Abandon(); }

    // Makes the staging folder in folder, after putting right and removing
    // what dead runs left there. False with the failure set.
    bool Begin(const std::string& folder);
    // Why a series whose file names are up to longestName bytes long could
    // not be written into folder now (the file or folder and why), or empty: asked before
    // the files are made, so that a long run never ends refused. A link in
    // folder whose name starts with prefix and ends in ending (the names
    // the series may have; an empty prefix: none looked at) that leads to
    // another disk, or that the gate would refuse to write through, is
    // named.
    static QnRefusal Refusal(const std::string& folder, size_t longestName, const std::string& prefix = {},
                             const std::string& ending = {});
    // Paths no file of the series may replace.
    void Protect(const std::vector<std::string>& paths) { m_protected = paths; }
    // Where the file called name is to be written before Add(name).
    std::string StagedPath(const std::string& name);
    // Records name (a plain file name) as written complete.
    void Add(const std::string& name) { m_names.push_back(name); }
    // Puts every file added in place; false with the failure set and the
    // folder as it was.
    bool Commit();
    // Drops the staging folder and everything in it.
    void Abandon();

    // The targets, in the order added.
    std::vector<std::string> Targets() const;
    // The failure: the path it concerns and why, in one line.
    const std::string& Failure() const { return m_failure; }

    // The hidden folders a series stages in carry this before six random
    // letters or digits and eight that check them (core/SeriesFiles.h).
    static constexpr const char* kStagingMark = ".series-";

    // For tests: called in Commit once the journal is on disk (with 0),
    // after each target is replaced (with how many are), and once every
    // target is in place, after the staging folder is marked finished (with
    // one more than the targets), after its journal is gone (with two more)
    // and once nothing but its marks is left in it (with three more), under
    // the folder lock; nullptr for none.
    using CommitHook = void (*)(size_t placed);
    static void SetCommitHook(CommitHook hook);
    // For tests: called in Commit once a target's old file is moved aside
    // and before its new file is moved in (with how many targets are
    // already replaced), where the disk gives a file no second name to keep
    // it by; nullptr for none.
    static void SetAsideHook(CommitHook hook);

    // A journal as its bytes tell it, before anything on disk is looked at.
    struct JournalEntry {
        // The series' file in the staging folder is named by this number,
        // its old file by the number and ".old".
        uint64_t index = 0;
        // The new file as it lay in the staging folder when the journal was
        // written (a rename keeps that), so a target is seen to hold it once
        // placed: its size and MD5 digest, 32 lower-case hexadecimal digits,
        // which a disk mounted again keeps; the older form of the journal
        // also names its inode, and a placed file is then known by that too.
        uint64_t inode = 0;
        uint64_t size = 0;
        std::string digest;
        // The target's old file is moved aside into the staging folder
        // rather than kept there by a second name (a disk that gives files
        // none): a target found missing while its new file is still staged
        // was moved aside by the series, not deleted by the user.
        bool movedAside = false;
        std::string name;  // the series' name, a plain name
        // Where the new file goes: a plain name in the folder (name itself,
        // or a link's end beside it), or the absolute path of a link's end
        // elsewhere on the disk.
        std::string file;
    };
    struct Journal {
        // The form it is written in: 7; 6 for the older one, which names no
        // staging folder; or 5 for the oldest, which knows placed files by
        // their inodes and its folder by its inode alone.
        unsigned version = 7;
        // The name of the staging folder it was written in: a copy of that
        // folder under another name is not it, on any disk.
        std::string stagingName;
        // Which folder and staging folder it was written for, with the
        // identity of their file system that statfs gives (0: none).
        uint64_t fileSystem = 0;
        // The kind of that file system (statfs's f_type) and the folder's
        // path from the root of its disk: a disk that keeps no inode
        // numbers (FAT, exFAT, FUSE) gives others at each mount, and the
        // folder is then known by where it lies on the disk.
        uint64_t fileSystemType = 0;
        std::string place;
        uint64_t folderDevice = 0;
        uint64_t folderInode = 0;
        uint64_t stagingDevice = 0;
        uint64_t stagingInode = 0;
        std::vector<JournalEntry> entries;
    };
    // Reads a journal from its bytes; false, with why in a few words, for
    // bytes that are no whole journal of this version (damaged, cut short,
    // not matching their seal, or older), names that are no plain names, a
    // name or number twice.
    static bool ParseJournal(const uint8_t* data, size_t size, Journal& journal, std::string& why);
    // The bytes of journal, sealed.
    static std::string JournalBytes(const Journal& journal);

    // A target a dead run's series had placed that was changed or deleted
    // since: the user's file. Its line is said once this series is
    // committed or dropped, when what became of it is known.
    struct Changed {
        std::string file;     // as the journal names it
        std::string before;   // its old file, kept beside it (empty: none)
        std::string changed;  // the changed file, kept beside once this series replaced it
        bool deleted = false;
        bool written = false;  // this series wrote a new file there
    };

private:
    class FolderLock;

    bool i_Fail(const std::string& path, int error);
    bool i_Fail(const std::string& path, const std::string& why);
    // Puts right and removes the staging folders of dead runs, under the
    // folder lock; what cannot be put right is said and left. False, with
    // the failure set, where a file it trusts the journal of cannot be put
    // back.
    bool i_Recover();
    // Takes the folder's lock and puts right what dead runs left; false
    // with the failure set and the series abandoned.
    bool i_LockAndRecover(FolderLock& folderLock);
    // One line on standard error for each changed target kept beside or
    // replaced, saying what became of it; then forgets them.
    void i_SayWhatWasKept();

    std::string m_folder;
    std::string m_staging;
    std::string m_stagingName;
    int m_dir = -1;      // the folder, opened once: every target is reached from it
    int m_lock = -1;     // the staging folder, open and locked
    int m_signalSlot = -1;
    std::vector<std::string> m_names;
    std::map<std::string, uint64_t> m_index;  // each name's number in the staging folder
    std::vector<std::string> m_protected;
    std::vector<Changed> m_changed;
    std::vector<std::string> m_said;  // lines said already of dead runs' staging folders
    std::string m_failure;
};
