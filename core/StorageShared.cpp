// Sharing a container file with other processes: each write operation (or
// update of several) locks the file, takes in what others wrote since, and
// remembers what it wrote itself.
#include "core/Storage.h"

#include <cerrno>
#include <cstring>
#include <utility>

#include <sys/stat.h>

using namespace qnstorage;

CQNF_Storage::DiskId CQNF_Storage::DiskId::Of(const struct stat& sb)
{
    return {uint64_t(sb.st_dev), uint64_t(sb.st_ino), uint64_t(sb.st_size), int64_t(sb.st_mtim.tv_sec),
            int64_t(sb.st_mtim.tv_nsec)};
}

CQNF_Storage::Cycle::Cycle(CQNF_Storage& storage) : st(storage)
{
    ready = st.i_CanWrite();
    // Inside an update the lock is held already; a caller's file is the
    // caller's to share.
    if (!ready || st.m_batch || st.m_path.empty())
        return;
    ready = st.i_LockAndRefresh();
    locked = ready;
}

CQNF_Storage::Cycle::~Cycle()
{
    if (locked)
        st.m_lock.Unlock();
}

bool CQNF_Storage::i_LockAndRefresh()
{
    // A file that is gone is made again by the write; any other reason it
    // cannot be locked would fail the write too.
    if (!m_lock.Lock(m_path) && errno != ENOENT) {
        SetError(qnerr::FileNotOpened);
        return false;
    }
    struct stat sb;
    if (::stat(m_path.c_str(), &sb) != 0 || DiskId::Of(sb) == m_onDisk || sb.st_size == 0)
        return true;
    // Another process wrote the file since we read it: its changes are the
    // base this operation applies to.
    CQNF_StdFile file;
    CQNF_Mem bytes;
    const int64_t length = file.Open(CQNF_String(m_path.c_str()), qnfile::kRead) ? file.GetLength() : -1;
    Container fresh;
    if (length < int64_t(kNewSize) || uint64_t(length) > kMaxContainerSize || !bytes.alloc(uint64_t(length)) ||
        file.Read(bytes.GetPtr(), uint32_t(length)) != length) {
        SetError(qnerr::FileRead);
        m_lock.Unlock();
        return false;
    }
    if (const Status st = Parse(bytes.GetPtr(), bytes.GetSize(), false, fresh)) {
        SetError(st);
        m_lock.Unlock();
        return false;
    }
    if (!m_buffer.Resize(bytes.GetSize())) {
        SetError(m_buffer.GetError());
        m_lock.Unlock();
        return false;
    }
    std::memcpy(m_buffer.GetPtr(), bytes.GetPtr(), bytes.GetSize());
    m_image = m_buffer.GetPtr();
    m_imageSize = uint32_t(bytes.GetSize());
    m_physicalSize = m_imageSize;
    m_c = std::move(fresh);
    m_allKeysStale = 1;
    m_onDisk = DiskId::Of(sb);
    return true;
}

void CQNF_Storage::i_NoteOnDisk()
{
    struct stat sb;
    m_onDisk = !m_path.empty() && ::stat(m_path.c_str(), &sb) == 0 ? DiskId::Of(sb) : DiskId();
}

bool CQNF_Storage::BeginUpdate()
{
    if (m_batch)
        return true;
    Cycle cycle(*this);
    if (!cycle.ready)
        return false;
    // The lock passes from the cycle to the update.
    m_batch = 1;
    cycle.locked = false;
    return true;
}

bool CQNF_Storage::EndUpdate()
{
    if (!m_batch)
        return true;
    m_batch = 0;
    bool ok = true;
    if (m_pending && !i_Write()) {
        ok = false;
        // The file keeps what it held before the update; so does the
        // container, read from it again (or closed when that fails).
        const unsigned short error = GetError();
        m_onDisk = DiskId();
        m_pending = 0;
        if (m_path.empty() || !i_LockAndRefresh())
            i_Forget();
        SetError(error);
    }
    m_lock.Unlock();
    return ok;
}
