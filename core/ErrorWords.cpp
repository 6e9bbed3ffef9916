#include "core/ErrorWords.h"

#include "core/ErrorManager.h"
#include "core/SafeFile.h"
#include "core/SafeFileRunInputs.h"
#include "core/Storage.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

struct Words {
    unsigned short number;
    const char* words;
};

const Words kWords[] = {
    {qnerr::BadArgument, "invalid value"},
    {qnerr::Empty, "nothing to work on"},
    {qnerr::NoMemory, "out of memory"},
    {qnerr::FileNotOpened, "cannot open the file"},
    {qnerr::FileWrite, "cannot write the file (is the disk full?)"},
    {qnerr::FileRead, "file is truncated"},
    {qnerr::FileAccess, "file access refused"},
    {qnerr::FileSeek, "file is truncated"},
    {qnerr::FileClosed, "file was closed"},
    {qnerr::ImageUnsupported, "a kind of picture this program does not read"},
    {qnerr::ImageCorrupt, "file is damaged or truncated"},
    // A file that does not begin as a storage container, whatever it holds
    // and whichever program reads it (an empty or a short file too).
    {qnerr::StorageFormat, "not a storage container, or a damaged one"},
};

}  // namespace

const char* qnErrorWords(unsigned short number)
{
    for (const Words& w : kWords)
        if (w.number == number)
            return w.words;
    return "error";
}

std::string qnErrorText(unsigned short number)
{
    return qnErrorWords(number);
}

std::string qnReadOnlyFileSystemWords() { return "the folder is on a read-only file system"; }

std::string qnNoWritePermissionWords(bool folder)
{
    return folder ? "the folder has no write permission" : "the file has no write permission";
}

std::string qnSystemWords(int error)
{
    // Said as the gate says it, whichever step met it.
    if (error == EROFS)
        return qnReadOnlyFileSystemWords();
    std::string words = std::strerror(error);
    if (!words.empty())
        words[0] = char(std::tolower(static_cast<unsigned char>(words[0])));
    return words;
}

bool qnMayWrite(const std::string& path)
{
    struct stat st {};
    if (stat(path.c_str(), &st) != 0)
        return true;
    return access(path.c_str(), W_OK) == 0 && (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0;
}

namespace {

bool OnReadOnlyFileSystem(const std::string& path)
{
    struct statvfs on {};
    return ::statvfs(path.c_str(), &on) == 0 && (on.f_flag & ST_RDONLY) != 0;
}

// Why a file cannot be read or written now, as the file system is now.
std::string FileProblem(const std::string& path, bool writing, unsigned short number)
{
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path file(path);
    fs::path folder = file.parent_path();
    if (folder.empty())
        folder = ".";
    if (!fs::is_directory(folder, ec))
        return fs::exists(folder, ec) ? "not a folder: " + folder.string() : "no such folder";
    const bool exists = fs::exists(file, ec);
    if (exists && fs::is_directory(file, ec))
        return "is a folder";
    // "-" names standard output where a program takes it, never standard
    // input: a reader given it is told so.
    if (!writing && !exists)
        return path == "-" ? "no such file ('-' is standard output only, never standard input: name a file)"
                           : "no such file";
    if (exists && !fs::is_regular_file(file, ec))
        return "not a regular file";
    // A file system mounted read-only is named as the write gate names it:
    // no change of the file's or the folder's mode would help there.
    if (writing && exists && !qnMayWrite(path))
        return OnReadOnlyFileSystem(path) ? qnReadOnlyFileSystemWords() : qnNoWritePermissionWords(false);
    if (writing && !qnMayWrite(folder.string()))
        return OnReadOnlyFileSystem(folder.string()) ? qnReadOnlyFileSystemWords() : qnNoWritePermissionWords(true);
    if (!writing && access(path.c_str(), R_OK) != 0)
        return "permission denied";
    return qnErrorWords(number);
}

}  // namespace

std::string qnFileProblem(const std::string& path, bool writing, unsigned short number)
{
    return FileProblem(path, writing, number);
}

namespace {

// A failed write's reason in words, from its error number alone.
std::string WriteFailureWords(const std::string& path, int error)
{
    switch (error) {
    // Every writer makes its file new in the folder and renames it into
    // place: a name that is missing, or that no file may be made under, is
    // the folder's.
    case ENOENT: return "no such folder";
    case ENOTDIR: {
        const std::filesystem::path folder = std::filesystem::path(path).parent_path();
        return "not a folder: " + (folder.empty() ? std::string(".") : folder.string());
    }
    case EISDIR: return "is a folder";
    case EACCES: return qnNoWritePermissionWords(true);
    default: return qnSystemWords(error);
    }
}

}  // namespace

QnRefusal qnWriteFailure(const std::string& path, unsigned short number)
{
    if (QnRefusal gate = qnGateRefusal(path); !gate.empty())
        return gate;
    // The system's reason names the failure whichever step met it: the
    // same full disk reads the same from every program.
    if (const int error = qnLastWriteErrno())
        return {path, WriteFailureWords(path, error)};
    return {path, qnErrorWords(number ? number : qnerr::FileWrite)};
}

std::string qnFileFailure(const std::string& path, bool writing, unsigned short number)
{
    if (writing)
        return qnWriteFailure(path, number).Line();
    return "cannot read " + path + ": " + FileProblem(path, false, number ? number : qnerr::FileRead);
}

std::string qnReadFailure(const std::string& path, int error)
{
    // What is missing or closed is judged as every reader judges it; any
    // other refusal is the system's own.
    if (error == ENOENT || error == ENOTDIR || error == EACCES || error == EISDIR)
        return qnFileFailure(path, false, qnerr::FileNotOpened);
    return "cannot read " + path + ": " + qnSystemWords(error);
}

std::string qnOpenRegularFailure(const std::string& path, int error)
{
    if (error == EISDIR)
        return "cannot read " + path + ": is a folder";
    if (error == EINVAL)
        return "cannot read " + path + ": not a regular file";
    return qnReadFailure(path, error);
}

std::string qnNotRegularWords(unsigned kind, bool standardOutput)
{
    const char* what = kind == S_IFIFO                     ? "a FIFO"
                       : kind == S_IFSOCK                  ? "a socket"
                       : kind == S_IFCHR || kind == S_IFBLK ? "a device"
                                                            : "no regular file";
    return std::string(what) + ", not a regular file (name a file" +
           (standardOutput ? ", or - for standard output)" : ")");
}

std::string qnNoStandardOutputWords(bool folder)
{
    return folder ? "written to a folder only, not to standard output (name a folder)"
                  : "written to a file only, not to standard output (name a file)";
}

std::string qnStandardOutputFolderRefusal(const std::string& folder)
{
    return folder == "-" ? "cannot write -: " + qnNoStandardOutputWords(true) : std::string();
}

std::string qnOverInputWords(const std::string& input, const std::string& shown)
{
    return "it would write over " + qnRunInputWords(input) + " " + (shown.empty() ? input : shown) +
           "; name another output";
}

std::string qnOverInputFailure(const std::string& output, const std::string& input, const std::string& shown)
{
    return "cannot write " + output + ": " + qnOverInputWords(input, shown);
}
