#include "core/FileLock.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

bool CQNF_FileLock::Lock(const std::string& path)
{
    Unlock();
    for (;;) {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
        if (fd < 0)
            return false;
        int rc;
        do
            rc = ::flock(fd, LOCK_EX);
        while (rc != 0 && errno == EINTR);
        struct stat held, named;
        if (rc != 0 || ::fstat(fd, &held) != 0) {
            const int saved = errno;
            ::close(fd);
            errno = saved;
            return false;
        }
        // The holder before us may have renamed a new file over the path.
        if (::stat(path.c_str(), &named) == 0 && named.st_dev == held.st_dev && named.st_ino == held.st_ino) {
            m_fd = fd;
            return true;
        }
        ::close(fd);
    }
}

void CQNF_FileLock::Unlock()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}
