// What the parts of a PNG series (core/FileSeries.cpp writes it,
// core/SeriesRecovery.cpp puts right what a dead run left,
// core/SeriesJournal.cpp reads and writes the journal) share: the names in a
// staging folder and the file steps they all take.
#pragma once

#include "core/FileSeries.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace qnseries {

using Journal = CQNF_FileSeries::Journal;
using JournalEntry = CQNF_FileSeries::JournalEntry;
using Changed = CQNF_FileSeries::Changed;

// In a staging folder: the journal, and each file of the series by its
// number, its old file by the number and ".old". Nine digits at most: the
// names stay short whatever the targets are called.
inline constexpr char kJournalName[] = "journal";
inline constexpr uint64_t kMostIndex = 999999999;
inline std::string StagedName(uint64_t index) { return std::to_string(index); }
inline std::string BackupName(uint64_t index) { return std::to_string(index) + ".old"; }

// A name a folder can hold as a file of its own: no path, no "." or "..".
bool IsPlainName(std::string_view name);
// A fresh name for a staging folder: ".series-", six random letters or
// digits and eight more that check them (kStagingCheck).
inline constexpr size_t kStagingRandom = 6;
inline constexpr size_t kStagingCheck = 8;
std::string NewStagingName();
// Whether name, or name without ".gone" after it (the name a staging folder
// gets from SIGINT, SIGTERM or SIGHUP before it is emptied, which a run
// killed in between leaves behind), is one NewStagingName gives: its check
// tells a folder this program made from a person's of a like name, which
// nobody types by accident.
bool IsOwnStagingName(std::string_view name);
// A name a staging folder of this program has or had: its own, or
// ".series-XXXXXX" and ".STEM.series-XXXXXX" as older versions named them
// (either with ".gone" after it). Only the own form tells who made it: a
// folder of an older form is known as a series' by the journal it holds
// alone.
bool IsStagingName(std::string name);
// What a series writes into its staging folder before anything else, as
// kMarkName: the folder's name (".gone" after it left out) under a magic
// line, sealed with a digest under a key of this program's own. Only a
// folder holding the mark for its own name is one this program can tell
// it made; the name alone, which anyone may give a folder, is not.
inline constexpr char kMarkName[] = "mark";
std::string MarkBytes(std::string_view stagingName);
// Whether the folder open as staging, called name, holds its mark, whole
// and sealed for that name.
bool HoldsOwnMark(int staging, std::string_view name);
// What a series writes into its staging folder, as kFinishedName and synced,
// once every target holds its new file and that is on disk: the folder's
// name, sealed as the mark is, under another magic line. A folder holding
// it whole for its own name is a finished series': nothing in it is put
// back, and everything a series makes in it goes. It stays until
// everything else a series made there is gone, the mark alone after it.
// A folder is never renamed to say so: a FUSE disk (vfat through fusefat)
// loses a renamed folder's files, and their space with them.
inline constexpr char kFinishedName[] = "gone";
std::string FinishedBytes(std::string_view stagingName);
bool HoldsFinishedMark(int staging, std::string_view name);
// Whether the file called entry in the folder open as staging, called
// name, is a beginning of its mark that a run died writing: the mark's
// hidden temporary name, a file of one name that no live writer holds,
// holding nothing but the first bytes of that folder's mark. It holds
// nothing anyone could lose.
bool IsBegunMark(int staging, std::string_view name, const std::string& entry);
// What a series puts in its staging folder: a file's number ("N"), its
// old file ("N.old"), the journal, the mark, the finished mark and their
// hidden temporary names.
bool IsSeriesMade(std::string_view name);
// Bytes in lower-case hexadecimal.
std::string Hex(const uint8_t* bytes, size_t n);
// The identity statfs gives the file system of the file open as fd (0:
// none). Unlike the device number it survives a remount where the file
// system keeps one of its own (ext4, xfs and btrfs take it from their
// UUID).
uint64_t FileSystemOf(int fd);
// The kind of the file system of the file open as fd (statfs's f_type; 0:
// none), and whether a disk of that kind keeps inode numbers from one mount
// to the next (FAT, exFAT and FUSE disks give new ones at each).
uint64_t FileSystemTypeOf(int fd);
bool KeepsInodeNumbers(uint64_t type);
// The path of folder from the root of the disk it lies on ("/" for the
// root itself), which stays where the disk is mounted again elsewhere;
// empty when it cannot be told.
std::string PlaceOnDisk(const std::string& folder);
// The MD5 digest of the regular file open as fd, or of the one called name
// in the folder open as dir (never through a link), in hexadecimal; empty
// when it cannot be read.
std::string DigestOf(int fd);
std::string DigestOf(int dir, const std::string& name);
// The name of this program, for lines it says of itself.
const char* Program();

// A descriptor closed when it goes.
struct OwnedFd {
    int fd = -1;
    OwnedFd(int f) : fd(f) {}
    OwnedFd(const OwnedFd&) = delete;
    OwnedFd& operator=(const OwnedFd&) = delete;
    ~OwnedFd();
};

// name, or where it is longer than most bytes, its start and its last
// kFittedTail bytes or so, cut between characters, in most bytes.
inline constexpr size_t kFittedTail = 16;
std::string FittedName(const std::string& name, size_t most);

// Moves the file called backup in the folder open as staging beside file
// (a name in the folder open as dir, or an absolute path), as FILE and then
// ending (".before-crash"), or, where that is taken, with "-2" and on after
// it: never over anything. Where the disk can neither rename without
// replacing nor give a second name (vfat through FUSE), a name is looked
// for first: the caller holds the folder's lock, which every series takes. A name longer than the folder's file system
// takes is cut to fit (FittedName). 0 with the name (as file is given)
// in kept, or -1 with errno.
int KeepBeside(int staging, const std::string& backup, int dir, const std::string& file, const char* ending,
               std::string& kept);

// Removes what a series made (IsSeriesMade) in the staging folder open as
// staging and called name in dir, its finished mark and then its mark last,
// then the folder itself where that left it empty; never anything else, nor
// what lies deeper. A run killed on the way leaves the marks that tell the
// folder its own, and finished. emptied, when given, is called once
// nothing but the marks is left.
void RemoveStaging(int dir, const std::string& name, int staging, const std::function<void()>& emptied = {});

// A target whose dead run's old file could not be put back: the file as
// the journal names it, why, and the backup it stays in (empty: none).
struct NotPutBack {
    std::string file;
    int error = 0;
    std::string backup;
};

// Puts back what a series replaced (see core/SeriesRecovery.cpp): the
// targets are reached from dir, the staging folder from staging, and the
// folder's device is device; ownRun for the entries of this run's own
// commit, which knows what it moved aside. Targets changed or deleted
// since are added to changed; false when a step failed, each such target
// in failed (the rest are still tried).
bool PutBack(int dir, int staging, const std::vector<JournalEntry>& entries, uint64_t device, bool ownRun,
             std::vector<Changed>& changed, std::vector<NotPutBack>& failed);

// Puts right and removes the staging folders dead runs left in the folder
// open as dir (shown as folder), under its lock. A staging folder that
// cannot be put right is left as it is, with one line for each thing left
// in lines. A file that cannot be put back, though its journal is trusted,
// makes it false, with what and why in failure (one line; "PATH: WHY").
bool RecoverDeadRuns(int dir, const std::string& folder, std::vector<Changed>& changed,
                     std::vector<std::string>& lines, std::string& failure);

}  // namespace qnseries
