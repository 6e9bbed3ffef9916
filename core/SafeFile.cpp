#include "core/SafeFile.h"

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Where a replacement lands: the file a link names, its folder, and the
// permission bits the new file gets.
struct Target {
    std::string path;
    std::string folder;
    mode_t mode = 0;
};

Target Resolve(const std::string& path)
{
    Target t;
    t.path = path;
    struct stat st;
    if (::stat(path.c_str(), &st) == 0) {
        char resolved[PATH_MAX];
        if (::realpath(path.c_str(), resolved))
            t.path = resolved;
        t.mode = st.st_mode & 07777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        t.mode = 0666 & ~mask;
    }
    const size_t slash = t.path.rfind('/');
    t.folder = slash == std::string::npos ? "." : slash == 0 ? "/" : t.path.substr(0, slash);
    return t;
}

// A hidden name beside the target; long names are cut so that the suffix
// still fits a folder entry.
int MakeTemp(const Target& t, std::string& temp)
{
    const size_t slash = t.path.rfind('/');
    std::string base = slash == std::string::npos ? t.path : t.path.substr(slash + 1);
    if (base.size() > 200)
        base.resize(200);
    temp = t.folder + "/." + base + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0)
        temp.clear();
    return fd;
}

bool WriteAll(int fd, const uint8_t* data, size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        size -= size_t(n);
    }
    return true;
}

// Permissions and sync for a written temporary file.
bool Seal(int fd, mode_t mode) { return ::fchmod(fd, mode) == 0 && ::fsync(fd) == 0; }

// The rename is made durable by syncing the folder; a folder that cannot be
// synced still holds the complete file.
bool MoveIntoPlace(const std::string& temp, const std::string& target, const std::string& folder)
{
    if (::rename(temp.c_str(), target.c_str()) != 0)
        return false;
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

}  // namespace

unsigned short qnReplaceFile(const std::string& path, const void* data, size_t size)
{
    if (path.empty())
        return qnerr::BadArgument;
    const Target t = Resolve(path);
    std::string temp;
    const int fd = MakeTemp(t, temp);
    if (fd < 0)
        return qnerr::FileNotOpened;
    bool ok = WriteAll(fd, static_cast<const uint8_t*>(data), size) && Seal(fd, t.mode);
    ok = ::close(fd) == 0 && ok;
    ok = ok && MoveIntoPlace(temp, t.path, t.folder);
    if (!ok) {
        ::unlink(temp.c_str());
        return qnerr::FileWrite;
    }
    return 0;
}

bool CQNF_SafeFile::Open(const char* target)
{
    Abandon();
    ResetError();
    if (!target || !*target) {
        SetError(qnerr::BadArgument);
        return false;
    }
    const Target t = Resolve(target);
    const int fd = MakeTemp(t, m_temp);
    if (fd < 0) {
        SetError(qnerr::FileNotOpened);
        return false;
    }
    ::close(fd);
    if (!m_file.Open(m_temp.c_str(), 4)) {
        SetError(m_file.GetError());
        ::unlink(m_temp.c_str());
        m_temp.clear();
        return false;
    }
    m_target = t.path;
    m_folder = t.folder;
    m_mode = t.mode;
    return true;
}

bool CQNF_SafeFile::Commit()
{
    if (m_temp.empty() || !m_file.IsOpened()) {
        SetError(qnerr::FileClosed);
        return false;
    }
    bool ok = m_file.Flush() && Seal(fileno(m_file.GetStream()), static_cast<mode_t>(m_mode));
    ok = m_file.Close() && ok;
    ok = ok && MoveIntoPlace(m_temp, m_target, m_folder);
    if (!ok) {
        SetError(m_file.GetError() ? m_file.GetError() : qnerr::FileWrite);
        Abandon();
        return false;
    }
    m_temp.clear();
    return true;
}

void CQNF_SafeFile::Abandon()
{
    if (m_file.IsOpened())
        m_file.Close();
    if (!m_temp.empty()) {
        ::unlink(m_temp.c_str());
        m_temp.clear();
    }
}
