// CQNF_FileLock: an exclusive advisory lock (flock) on a file that writers
// replace by renaming a new file over it, held for one read-modify-write
// cycle so that two processes updating the file never lose each other's
// changes.
//
// A lock on a file that has since been replaced guards nothing: after
// waiting, Lock() checks that the path still names the file it locked and
// otherwise locks the new one. Every writer of the file must take the lock;
// readers need not, since a replacement appears in one step.
#pragma once

#include <string>

class CQNF_FileLock {
public:
    CQNF_FileLock() = default;
    CQNF_FileLock(const CQNF_FileLock&) = delete;
    CQNF_FileLock& operator=(const CQNF_FileLock&) = delete;
    ~CQNF_FileLock() { Unlock(); }

    // Waits for the lock on the file at path. False (nothing held) when the
    // file does not exist or cannot be opened; errno tells why.
    bool Lock(const std::string& path);
    void Unlock();
    bool IsLocked() const { return m_fd >= 0; }

private:
    int m_fd = -1;
};
