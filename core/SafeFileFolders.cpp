// The folders files are written into: making the last one, and judging
// whether one can take new files now; and a run's scratch folder.
#include "core/SafeFile.h"

#include "core/ErrorWords.h"
#include "core/ProgramOutput.h"

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

std::string qnMakeLastFolder(const std::string& folder)
{
    struct stat st;
    if (::stat(folder.c_str(), &st) == 0)
        return S_ISDIR(st.st_mode) ? std::string() : "cannot write " + qnShownName(folder) + ": not a folder";
    if (::mkdir(folder.c_str(), 0777) == 0 || errno == EEXIST)
        return {};
    const int why = errno;
    // The folder it would be made in is named as every writer names it.
    const std::string words = why == ENOENT  ? std::string("no such folder")
                              : why == EACCES ? qnNoWritePermissionWords(true)
                                              : qnSystemWords(why);
    return "cannot write " + qnShownName(folder) + ": " + words;
}

QnRefusal qnFolderRefusal(const std::string& folder, size_t longestName)
{
    struct stat st;
    if (::stat(folder.c_str(), &st) != 0)
        return {folder, errno == ENOENT ? std::string("no such folder") : qnSystemWords(errno)};
    if (!S_ISDIR(st.st_mode))
        return {folder, "not a folder"};
    struct statvfs fs {};
    if (::statvfs(folder.c_str(), &fs) == 0 && (fs.f_flag & ST_RDONLY) != 0)
        return {folder, qnReadOnlyFileSystemWords()};
    if (!qnMayWrite(folder))
        return {folder, qnNoWritePermissionWords(true)};
    const long most = ::pathconf(folder.c_str(), _PC_NAME_MAX);
    if (most > 0 && longestName > size_t(most))
        return {folder, "a name of " + std::to_string(longestName) + " bytes is longer than the " + std::to_string(most) +
                           " its file system takes"};
    return {};
}

CQNF_ScratchFolder::CQNF_ScratchFolder(const std::string& prefix)
{
    std::error_code ec;
    std::string pattern = (std::filesystem::temp_directory_path(ec) / (prefix + "_XXXXXX")).string();
    if (ec)
        return;
    // A signal between making the folder and listing it for removal would
    // leave it: it waits until it is listed.
    const CQNF_TerminationHold hold;
    if (::mkdtemp(pattern.data())) {
        m_path = pattern;
        m_slot = qnRemoveFolderOnSignal(m_path);
    }
}

CQNF_ScratchFolder::~CQNF_ScratchFolder()
{
    qnForgetFolderOnSignal(m_slot);
    std::error_code ec;
    if (!m_path.empty())
        std::filesystem::remove_all(m_path, ec);
}
