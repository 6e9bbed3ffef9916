#include "core/FileSeries.h"

#include "core/ErrorWords.h"
#include "core/SafeFile.h"

#include <cerrno>
#include <cstring>
#include <filesystem>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A replaced target's old file, kept in the staging folder until the series
// is in place. No name of a series ends so: series names are plain names.
std::string BackupName(const std::string& name) { return name + "~"; }

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

bool IsStagingName(const std::string& name)
{
    const std::string mark = CQNF_FileSeries::kStagingMark;
    return name.size() > mark.size() + 7 && name[0] == '.' &&
           name.compare(name.size() - 6 - mark.size(), mark.size(), mark) == 0;
}

}  // namespace

bool CQNF_FileSeries::i_Fail(const std::string& path, int error)
{
    return i_Fail(path, error ? std::string(std::strerror(error)) : std::string("cannot write"));
}

bool CQNF_FileSeries::i_Fail(const std::string& path, const std::string& why)
{
    m_failure = path + ": " + why;
    return false;
}

void CQNF_FileSeries::i_RemoveStale()
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
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
            RemoveFolder(it->path().string());
        ::close(fd);
    }
}

bool CQNF_FileSeries::Begin(const std::string& folder, const std::string& stem)
{
    Abandon();
    m_failure.clear();
    m_names.clear();
    m_folder = folder.empty() ? "." : folder;
    i_RemoveStale();
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
    // Each target as it is now: whether it exists and, when it does, a second
    // name for its file in the staging folder that the rename below leaves
    // alone. Nothing outside the staging folder changes in this first pass.
    struct Slot {
        std::string target;
        bool existed = false;
        bool linked = false;  // the backup is a link (else the file moves aside)
        bool placed = false;
    };
    std::vector<Slot> slots(m_names.size());
    bool ok = true;
    for (size_t k = 0; ok && k < m_names.size(); ++k) {
        Slot& s = slots[k];
        s.target = m_folder + "/" + m_names[k];
        std::error_code ec;
        for (const std::string& keep : m_protected)
            if (fs::equivalent(keep, s.target, ec))
                ok = i_Fail(s.target, "is one of the inputs");
        struct stat st;
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

    // The renames, with SIGINT and SIGTERM waiting; a failure puts back
    // every target already replaced.
    qnHoldTermination();
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
            if (s.existed && !s.linked)
                ::rename(backup.c_str(), s.target.c_str());
            break;
        }
        s.placed = true;
    }
    for (size_t k = 0; !ok && k < slots.size(); ++k) {
        if (!slots[k].placed)
            continue;
        if (slots[k].existed)
            ::rename(StagedPath(BackupName(m_names[k])).c_str(), slots[k].target.c_str());
        else
            ::unlink(slots[k].target.c_str());
    }
    SyncFolder(m_folder);
    Abandon();
    qnReleaseTermination();
    return ok;
}
