// Error numbers in words, for the messages the programs print.
//
// A person reads the words, never the number. Every program words the same
// failure the same way from here:
//   cannot read photo.jpg: no such file
//   cannot write nodir/out.png: no such folder
//   cannot write out.png: the file has no write permission
//   cannot write /mnt/cd/out.png: the folder is on a read-only file system
// A failure the system gave its reason for is named by that reason alone,
// whichever step met it:
//   cannot write /mnt/full/out.png: no space left on device
// A write is worded from its failure alone, never from the disk as it is
// later; a file that cannot be read, or written before any work, is judged
// from the file system, since the number alone does not tell a missing
// folder from a read-only one.
#pragma once

#include "core/Refusal.h"

#include <string>

// Exit codes that every program of the system gives for the same outcome.
inline constexpr int qnExitFailed = 1;        // the work could not be done
inline constexpr int qnExitBadArguments = 2;  // the command line is wrong

// "the folder is on a read-only file system": every write the file system
// refuses for that (EROFS), to a file that is there or to a new one.
std::string qnReadOnlyFileSystemWords();

// "the file has no write permission" (folder: "the folder has ..."): a
// file or folder this user may not write, whatever its mode (0444, 000).
std::string qnNoWritePermissionWords(bool folder);

// A few words for an error number ("out of memory"); "error" for one
// without words.
const char* qnErrorWords(unsigned short number);

// The system's words for an errno value as they go inside a message, in
// lower case: "no space left on device"; EROFS as qnReadOnlyFileSystemWords.
std::string qnSystemWords(int error);

// Whether path (a file or folder; true when missing) may be written: the
// system lets this user write it, and its permission bits do not mark it
// read-only. A read-only file is left alone even by a user whom the system
// would let write it.
bool qnMayWrite(const std::string& path);

// Why a file cannot be read (writing false) or written now, as the file
// system is now, in a few words: "no such folder", "no such file",
// "permission denied", "the file has no write permission", "the folder has
// no write permission", "the folder is on a read-only file system", "is a
// folder", "not a regular file"; otherwise the words of number. Asked
// before a write begins: a write that failed is worded by qnWriteFailure.
std::string qnFileProblem(const std::string& path, bool writing, unsigned short number);

// Why the last write of path in this thread failed, from that failure
// alone: the gate's refusal as it refused it (core/SafeFile.h), else the
// system's reason the write met (qnLastWriteErrno) in words, "no space
// left on device", the folder's for a name no file could be made under
// ("no such folder", "the folder has no write permission", "the folder is
// on a read-only file system"), else the words of number (0: a failed
// write). The disk is never looked at again: what changed on it since
// changes no word.
QnRefusal qnWriteFailure(const std::string& path, unsigned short number);

// "cannot read PATH: why" (as qnFileProblem finds it) or "cannot write
// PATH: why" (as qnWriteFailure words it).
std::string qnFileFailure(const std::string& path, bool writing, unsigned short number);

// "cannot read PATH: why" for an input that the system would not open with
// errno error: worded as qnFileFailure words it ("no such file").
std::string qnReadFailure(const std::string& path, int error);

// "cannot read PATH: why" for an input that qnOpenRegularFile refused with
// errno error: "is a folder" (EISDIR), "not a regular file" (EINVAL: a
// FIFO or a device), else as qnReadFailure words it. Every program names a
// folder or a FIFO given as an input with these words.
std::string qnOpenRegularFailure(const std::string& path, int error);

// Why an output that is, or leads by a link to, kind (a file type, the
// S_IFMT bits of st_mode) cannot be written: "a FIFO, not a regular file
// (name a file, or - for standard output)". Every writer names a FIFO, a
// socket or a device where its file was to go with these words; one whose
// file cannot go to standard output (a file of a series) leaves out "or -".
std::string qnNotRegularWords(unsigned kind, bool standardOutput);

// Why "-" may not name an output of a program that writes files only:
// "written to a file only, not to standard output (name a file)". Every
// program that does not take "-" refuses it with these words; one that
// writes its files into a folder says "folder" for "file".
std::string qnNoStandardOutputWords(bool folder = false);

// "cannot write -: written to a folder only, ..." when a folder a program
// writes its files into is named "-", else empty: "-" is standard output to
// every program, never a folder of that name.
std::string qnStandardOutputFolderRefusal(const std::string& folder);

// Why an output may not be written when it is, or leads by a link to, an
// input of the run: "it would write over the input IN; name another
// output", the input named as what it is (qnRunInputWords: "the plug-in's
// settings IN", "the loaded library IN"). Every writer, of one file or of
// a series, names the output it would write and the input it leads to with
// these words. shown, when given, is IN as the line prints it.
std::string qnOverInputWords(const std::string& input, const std::string& shown = {});

// "cannot write OUTPUT: it would write over the input IN; ...".
std::string qnOverInputFailure(const std::string& output, const std::string& input, const std::string& shown = {});

// The words of number, for a failure that is not about one file.
std::string qnErrorText(unsigned short number);
