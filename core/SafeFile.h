// Replacing a file safely, so that a failure never costs the user a good file.
//
// The new content goes to a temporary file made in the target's own folder,
// so the final rename stays on one file system. Where the system allows it
// the temporary file has no name at all (O_TMPFILE) until it is complete, so
// a writer killed half-way leaves nothing behind; elsewhere (vfat, exfat),
// and where /proc (through which it gets its name) is not mounted, it is a
// hidden ".NAME.tessolo-" and 24 letters or digits, the last eight a check
// of the rest, that is removed on failure and on SIGINT, SIGTERM or SIGHUP.
// Its writer holds a lock on it while it lives: one that SIGKILL ended (or
// that died between naming its file and the rename) leaves it unlocked, and
// the next write of NAME in that folder removes it, on any local file
// system that takes locks. A file whose name lacks the check (a user's
// ".NAME.tessolo-backup"), one that cannot be locked, one a live writer
// holds, and any on a network disk, is never removed. Once
// complete it gets the replaced file's owner and group (as far as this
// process may give them, as cp keeps them when it writes into a file) and
// its mode bits, set-id bits included (a new file gets 0666 less the
// umask), is synced, and is renamed over the target in one step; the
// folder is synced after. Any failure leaves the target as it was.
//
// A symbolic link is followed: the file it names is replaced and the link
// stays, also when that file does not exist yet (a dangling link: the file
// is made where it points). Where the links lead is settled once, and every
// step after works in that folder, on that name: a link re-pointed while
// the file is written (at the input, say) is never followed again. A
// program settles it before its work, when it checks the target
// (qnTargetRefusal); a writer that did not check settles it when it opens.
//
// The gate: every file written passes qnWriteRefusal before anything is
// made, inside qnReplaceFile, CQNF_SafeFile::Open and the series
// (core/FileSeries.h), so no writer can come in by another door. It refuses
// what qnTargetRefusal refuses (a read-only file whoever runs the program,
// a device, FIFO or folder, a missing or read-only folder) and a name that
// leads to a file the run reads (core/SafeFileRunInputs.h), through any
// link. The line it refused with is kept for the writer's message
// (qnGateRefusal), so a write refused there reads as the command line's
// own refusal, in a window too.
//
// Only regular files are ever written: a folder, a FIFO, a socket or a
// device is refused (a FIFO nobody reads would hold the writer for ever, and
// replacing any of them would put a file where something else was). The
// name "-" means standard output: `convert in.png - | viewer` works. The
// file for it is still gathered first, in memory in a file of no folder
// (no temporary folder is needed, nor left anything in), and copied out on
// Commit, so writers may seek and an abandoned file sends nothing; a copy
// that gets back fewer bytes than the file holds fails.
//
//   qnReplaceFile   a whole buffer at once
//   CQNF_SafeFile   a file written through a CQNF_StdFile, then Commit() or
//                   Abandon() (dropping it without Commit abandons it)
//
// Error numbers: 1 an empty path; 32 the gate refused the target, or the
// temporary file cannot be opened; 33 it cannot be written, synced or
// renamed into place (or the file's own number when its stream failed); 37
// Commit without an open file. The system's reason for a failure, also one
// while the stream was written, is qnLastWriteErrno (core/StdFile.h).
#pragma once

#include "core/ErrorManager.h"
#include "core/Refusal.h"
#include "core/StdFile.h"

#include <cstddef>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

struct stat;

// The target name that means standard output.
inline constexpr const char* kQnStandardOutput = "-";

// Where a program reports what it wrote: standard error when the file
// itself goes to standard output, so that the two never mix.
inline std::FILE* qnReportStream(const std::string& target)
{
    return target == kQnStandardOutput ? stderr : stdout;
}

// Why no file can be written at path now, in one line that names it, or
// empty. Writers ask before any work, so that a long run never ends in
// "cannot write": a folder, a FIFO, a socket, a device, a read-only file, a
// name longer than its file system takes, and a folder that is missing,
// read-only or on a read-only file system are refused at once. Links are
// followed as the writers follow them. When path may be written, where it
// leads is settled here for every later write to path in this process (see
// above). Only a program that takes "-" for standard output
// (takesStandardOutput) may be given it, and it says so to the user who
// named a FIFO or device; the others refuse "-" (qnNoStandardOutputWords).
std::string qnTargetRefusal(const std::string& path, bool takesStandardOutput = false);
// The same for files to be made in folder whose names are up to longestName
// bytes long (0: the folder alone); the line names the folder.
QnRefusal qnFolderRefusal(const std::string& folder, size_t longestName);

// Makes folder when it is not there, its own folder only: a folder in a
// missing one is refused as every writer refuses a name there ("cannot
// write X: no such folder"), so a mistyped name never becomes a chain of
// folders. Empty, or one line naming the fault.
std::string qnMakeLastFolder(const std::string& folder);

// Why writing output would write over one of inputs, in one line that
// names the input, or empty: both lead to one file, by device and inode
// after links (a hard link or a symbolic one to an input), or, where that
// file is not there yet, to one place (a link to where an input is to be
// made). Empty names and "-" are skipped; an output named "-" is refused
// when standard output is one of the inputs (qnStandardOutputOverInput).
std::string qnInputRefusal(const std::string& output, const std::vector<std::string>& inputs);

// Where a file written to path lands: path itself, or the file a symbolic
// link there names (where it is to be made, when it does not exist yet).
std::string qnWrittenPath(const std::string& path);

// Gives the file open as fd the owner and group of the file whose status is
// old, as far as this process may give them (the owner only as root, the
// group where the user is in it; a refusal is no failure, as cp keeps them
// when it writes into a file), then its mode bits, set-id bits included,
// which a change of owner would clear. Every writer that replaces a file
// does this; false when the mode could not be set (a file system that
// keeps no mode bits is no failure).
bool qnTakeOwnerAndMode(int fd, const struct stat& old);

// What a write is for. A file the program rewrites for its own use
// (settings, preferences, presets) is also read by the run: its own
// earlier version at that place is no other input.
enum class QnWrite { Output, OwnFile };

// Why the gate would refuse to write path now, in one line that names it,
// or empty (see above). Windows ask it while their file chooser is still
// open, so that the user can pick another name. A writer whose files can
// never be "-" (a series) says so (takesStandardOutput false), and its user
// is not told to name "-" for a FIFO or device.
QnRefusal qnWriteRefusal(const std::string& path, QnWrite kind = QnWrite::Output, bool takesStandardOutput = true);

// What the gate refused path for in this thread's last write (the file
// as the writer named it and why), or empty when that write was not
// refused by the gate (or was of another path). qnWriteFailure words a
// refused write with it.
QnRefusal qnGateRefusal(const std::string& path);

// Returns 0 or the error number.
unsigned short qnReplaceFile(const std::string& path, const void* data, size_t size,
                             QnWrite kind = QnWrite::Output);
// The same, and on success the status of the file put in place, as it was
// before the rename made it the target: a later writer's file can never be
// mistaken for it.
unsigned short qnReplaceFile(const std::string& path, const void* data, size_t size, struct stat& written,
                             QnWrite kind = QnWrite::Output);

// Makes an empty file where path leads when nothing is there, never over
// anything, once the gate lets path be written: a link stays a link, and a
// dangling one gets its file where it points. 0 when it was made (its
// status in made), EEXIST when a file was there already, or the system's
// reason (also qnLastWriteErrno; a refusal of the gate is qnGateRefusal's).
int qnMakeEmptyFile(const std::string& path, struct stat& made, QnWrite kind = QnWrite::Output);

class CQNF_SafeFile : public CQNF_FrameWork {
public:
    CQNF_SafeFile() = default;
    CQNF_SafeFile(const CQNF_SafeFile&) = delete;
    CQNF_SafeFile& operator=(const CQNF_SafeFile&) = delete;
    ~CQNF_SafeFile() override { Abandon(); }

    // Makes the temporary file for target, open for writing (any earlier
    // one is abandoned), once the gate let it be written. A writer may seek
    // back into it; it is never read back through the stream.
    bool Open(const char* target, QnWrite kind = QnWrite::Output);
    bool Open(const std::string& target, QnWrite kind = QnWrite::Output) { return Open(target.c_str(), kind); }
    CQNF_StdFile& File() { return m_file; }
    // Makes the written file the target; false (and a regular target
    // untouched) when any step fails.
    bool Commit();
    // Closes and removes the temporary file.
    void Abandon();

private:
    bool i_CopyOut();

    CQNF_StdFile m_file;
    int m_dir = -1;         // the folder the file goes into, open
    std::string m_target;   // the target as the writer named it
    std::string m_folder;   // its path, for the signal clean-up list
    std::string m_name;     // the file's name in it
    std::string m_temp;     // the hidden name there of a named temporary file
    int m_slot = -1;        // its entry in the signal clean-up list
    bool m_direct = false;  // standard output
};

// A folder of temporary files (a series of files being written, a
// program's scratch folder) that SIGINT, SIGTERM or SIGHUP empties and
// removes, as it removes the temporary files themselves. Returns the slot to forget it by (-1: none free).
int qnRemoveFolderOnSignal(const std::string& folder);
void qnForgetFolderOnSignal(int slot);

// A private folder in the system's temporary folder for a run's scratch
// files, "PREFIX_XXXXXX": removed with what it holds when it goes, and by
// SIGINT, SIGTERM or SIGHUP before they end the program. Path() is empty
// when none could be made.
class CQNF_ScratchFolder {
public:
    explicit CQNF_ScratchFolder(const std::string& prefix);
    CQNF_ScratchFolder(const CQNF_ScratchFolder&) = delete;
    CQNF_ScratchFolder& operator=(const CQNF_ScratchFolder&) = delete;
    ~CQNF_ScratchFolder();
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
    int m_slot = -1;
};

// While one lives, SIGINT, SIGTERM and SIGHUP wait: a few renames that must
// all happen or none are finished first, or a temporary folder made is
// listed for removal (qnRemoveFolderOnSignal), then the signal takes its
// course. Holds nest. A hold is let go when it goes, however its scope is
// left (an exception thrown inside too), or earlier by Release(): a hold
// never outlives its work and leaves later signals swallowed.
class CQNF_TerminationHold {
public:
    CQNF_TerminationHold();
    CQNF_TerminationHold(const CQNF_TerminationHold&) = delete;
    CQNF_TerminationHold& operator=(const CQNF_TerminationHold&) = delete;
    ~CQNF_TerminationHold() { Release(); }
    // Lets go now; a signal that came meanwhile takes its course. Once only.
    void Release();

private:
    bool m_held = true;
};

// Starts body on a thread of its own that takes no signal, so that SIGINT,
// SIGTERM and the rest stay with the threads that handle them. Every
// signal is held back from this thread only while the new one is started
// (it inherits that mask), and the caller's own mask is as it was when this
// returns, also when no thread could be started (std::system_error, as
// std::thread throws it).
std::thread qnStartThreadWithoutSignals(std::function<void()> body);

// For tests: true makes every qnStartThreadWithoutSignals fail as on a
// system that has no thread left to give.
void qnSafeFileFailThreadStarts(bool fail);

// For tests: true makes every temporary file a named one, as on systems
// without O_TMPFILE.
void qnSafeFileForceNamedTemp(bool force);
// For tests: hook (nullptr: none) is called with the path of each temporary
// file once it has its hidden name and its writer's lock: as it is made, or
// for an unnamed one just before its rename.
void qnSafeFileSetNamedHook(void (*hook)(const std::string& temp));
