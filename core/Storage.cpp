// Opening and closing the storage container, and its stamp checks.
#include "core/Storage.h"

#include "core/MD5Digest.h"
#include "core/SafeFile.h"
#include "core/StorageInternal.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

using namespace qnstorage;

CQNF_Storage::~CQNF_Storage() { Close(); }

// ---------------------------------------------------------------- opening

void CQNF_Storage::i_Forget()
{
    m_image = nullptr;
    m_imageSize = 0;
    m_buffer.free();
    m_file = nullptr;
    m_path.clear();
    m_mode = 0;
    m_open = 0;
    m_readOnly = 0;
    m_changed = 0;
    m_physicalSize = 0;
    m_c = Container();
    m_undo = Undo();
    m_allKeys.Empty();
    m_allKeysStale = 1;
    m_batch = 0;
    m_pending = 0;
    m_onDisk = DiskId();
    m_lock.Unlock();
}

bool CQNF_Storage::Close()
{
    // Every write is stamped as it is made; only the writes an unfinished
    // update deferred are left to make.
    bool ok = !m_open || EndUpdate();
    if (m_file) {
        if (!m_file->Flush() && ok) {
            SetError(m_file->GetError());
            ok = false;
        }
        m_file->Close();
    }
    i_Forget();
    return ok;
}

bool CQNF_Storage::i_UseImage(bool allowIndexed)
{
    if (const Status st = Parse(m_image, m_imageSize, allowIndexed, m_c)) {
        SetError(st);
        i_Forget();
        return false;
    }
    m_open = 1;
    m_readOnly = m_mode == kOpenReadOnly || m_c.indexed;
    m_physicalSize = m_imageSize;
    m_allKeysStale = 1;
    return true;
}

bool CQNF_Storage::i_NewContainer()
{
    if (m_mode == kOpenReadOnly) {
        SetError(qnerr::BadArgument);
        i_Forget();
        return false;
    }
    if (!m_buffer.Zalloc(kNewSize)) {
        SetError(m_buffer.GetError());
        i_Forget();
        return false;
    }
    m_image = m_buffer.GetPtr();
    m_imageSize = kNewSize;
    std::memcpy(i_Data(), kMagic, kMagicSize);
    std::memcpy(i_Data() + kNewSize - kTrailerSize, kMagic, kMagicSize);
    m_c = Container();
    m_c.recordsEnd = kRecordsOffset;
    m_open = 1;
    m_readOnly = 0;
    i_Begin();
    if (!i_Commit()) {
        i_Forget();
        return false;
    }
    return true;
}

// The magic is not stamped, but bytes without it are no container at all:
// a picture or a text is not reported as a container whose stamp fails.
static bool BeginsAsContainer(const unsigned char* head)
{
    return std::memcmp(head, kMagic, kMagicSize) == 0 || std::memcmp(head, kMagicIndexed, kMagicSize) == 0;
}

bool CQNF_Storage::i_FileIsFramed(CQNF_StdFile& file, uint64_t length)
{
    auto readAt = [&file](uint64_t at, void* out, uint32_t n) {
        return file.SetPos(at) == int64_t(at) && file.Read(out, n) == int64_t(n);
    };
    uint8_t head[kRecordsOffset];
    uint8_t trailer[kTrailerSize];
    if (length < kNewSize || !readAt(0, head, sizeof head) || !readAt(length - kTrailerSize, trailer, sizeof trailer))
        return false;
    const bool indexed = std::memcmp(head, kMagicIndexed, kMagicSize) == 0;
    if (!BeginsAsContainer(head) || std::memcmp(trailer, kMagic, kMagicSize) != 0)
        return false;
    uint64_t end = length - kTrailerSize;
    if (indexed) {
        uint8_t block[4];
        if (!readAt(end - 4, block, 4) || kRecordsOffset + 4 + uint64_t(qnGetBE32(block)) > end)
            return false;
        end -= 4 + uint64_t(qnGetBE32(block));
    }
    // Every record takes at least its head: a count the area cannot hold is
    // refused before the walk.
    const uint32_t count = qnGetBE32(head + kCountOffset);
    if (uint64_t(count) * kRecordHead > end - kRecordsOffset)
        return false;
    uint64_t offset = kRecordsOffset;
    for (uint32_t i = 0; i < count; ++i) {
        uint8_t field[4];
        if (offset + kRecordHead > end || !readAt(offset, field, 4))
            return false;
        const uint32_t recordLength = qnGetBE32(field);
        if (recordLength < kRecordHead - 4 || offset + 4 + recordLength > end)
            return false;
        offset += 4 + uint64_t(recordLength);
    }
    return offset == end && file.SetPos(0) == 0;
}

// Reads the whole file into the buffer (from its start).
bool CQNF_Storage::i_OpenFileImage(CQNF_StdFile& file)
{
    // A device or a pipe has no size to trust (/dev/zero reads forever).
    struct stat sb;
    if (::fstat(::fileno(file.GetStream()), &sb) != 0 || !S_ISREG(sb.st_mode)) {
        SetError(qnerr::StorageFormat);
        return false;
    }
    const int64_t length = file.GetLength();
    if (length < 0 || file.SetPos(0) < 0) {
        SetError(file.GetError());
        return false;
    }
    if (uint64_t(length) > kMaxContainerSize) {
        SetError(qnerr::StorageFormat);
        return false;
    }
    // Junk, even junk that begins with the magic, is refused by its frame,
    // before memory is taken for all of it.
    if (length > 0 && !i_FileIsFramed(file, uint64_t(length))) {
        SetError(qnerr::StorageFormat);
        return false;
    }
    if (length > 0) {
        if (!m_buffer.alloc(uint64_t(length))) {
            SetError(m_buffer.GetError());
            return false;
        }
        if (file.Read(m_buffer.GetPtr(), uint32_t(length)) != length) {
            SetError(file.IsError() ? file.GetError() : qnerr::FileRead);
            m_buffer.free();
            return false;
        }
    }
    m_image = m_buffer.GetPtr();
    m_imageSize = uint32_t(length);
    return true;
}

bool CQNF_Storage::Open(const CQNF_String& path, unsigned short mode)
{
    ResetError();
    Close();
    m_mode = mode;
    m_path.assign(path.GetStr(), path.GetLength());
    // A container is a file: one named "-" is that file, never standard output.
    if (m_path == kQnStandardOutput)
        m_path = "./-";
    if (mode == kOpenCreate) {
        // Replacing is refused where truncating would be: a file we may not
        // write stays as it is.
        struct stat sb;
        CQNF_StdFile probe;
        if (::stat(m_path.c_str(), &sb) == 0 && !probe.Open(path, qnfile::kUpdate)) {
            SetError(probe.GetError());
            i_Forget();
            return false;
        }
        return i_ReplaceByPath();
    }
    return i_ReadPath();
}

namespace {

// Why a container file did not open: a device or FIFO is no container
// (it is refused unread); anything else keeps the file's own number.
unsigned short OpenFailure(const std::string& path, unsigned short fileError)
{
    struct stat sb;
    return ::stat(path.c_str(), &sb) == 0 && !S_ISREG(sb.st_mode) && !S_ISDIR(sb.st_mode) ? qnerr::StorageFormat
                                                                                          : fileError;
}

}  // namespace

bool CQNF_Storage::i_ReplaceByPath()
{
    // Another writer's cycle on the old file ends before it is replaced.
    m_lock.Lock(m_path);
    const bool ok = i_NewContainer();
    m_lock.Unlock();
    return ok;
}

bool CQNF_Storage::i_ReadPath()
{
    // For update the file is read under the lock, so that a file found
    // empty gets its new container before another writer reads it.
    if (m_mode != kOpenReadOnly && !m_lock.Lock(m_path)) {
        SetError(qnerr::FileNotOpened);
        i_Forget();
        return false;
    }
    // Mode 0 opens for update so that a file we may not write fails here,
    // not at the first change.
    CQNF_StdFile file;
    if (!file.Open(CQNF_String(m_path.c_str()), m_mode == kOpenReadOnly ? qnfile::kRead : qnfile::kUpdate)) {
        SetError(OpenFailure(m_path, file.GetError()));
        i_Forget();
        return false;
    }
    const bool read = i_OpenFileImage(file);
    file.Close();
    if (!read) {
        i_Forget();
        return false;
    }
    i_NoteOnDisk();
    const bool ok = m_imageSize == 0 ? i_NewContainer() : i_UseImage(true);
    m_lock.Unlock();
    return ok;
}

namespace {

// The path of the file an open stream reads, as the system resolved it.
bool PathOfStream(CQNF_StdFile& file, std::string& path)
{
    FILE* stream = file.GetStream();
    if (!stream)
        return false;
    char buf[PATH_MAX];
    const std::string link = "/proc/self/fd/" + std::to_string(::fileno(stream));
    const ssize_t n = ::readlink(link.c_str(), buf, sizeof buf - 1);
    if (n <= 0)
        return false;
    path.assign(buf, size_t(n));
    return true;
}

}  // namespace

bool CQNF_Storage::Open(const char* name, const FSRef* folder, unsigned short mode)
{
    ResetError();
    Close();
    m_mode = mode;
    const CQNF_String fileName(name);
    // The file's own rules decide which names a folder may hold; the file
    // opened tells where the name led. An existing file is only read here:
    // a new container replaces it as a whole.
    CQNF_StdFile file;
    bool opened = file.Open(fileName, folder, mode == kOpenReadOnly ? qnfile::kRead : qnfile::kUpdate);
    if (!opened && mode == kOpenCreate) {
        // A missing file is made empty through the gate, as every file
        // written is, then opened as an existing one.
        const std::string made = folder && !folder->path.empty() ? folder->path + "/" + name : std::string(name);
        opened = qnReplaceFile(made, "", 0, QnWrite::OwnFile) == 0 &&
                 file.Open(fileName, folder, qnfile::kUpdate);
    }
    if (!opened || !PathOfStream(file, m_path)) {
        SetError(opened ? qnerr::FileNotOpened : file.GetError());
        i_Forget();
        return false;
    }
    file.Close();
    return mode == kOpenCreate ? i_ReplaceByPath() : i_ReadPath();
}

bool CQNF_Storage::Open(CQNF_StdFile* file, unsigned short mode)
{
    ResetError();
    Close();
    if (!file) {
        SetError(qnerr::BadArgument);
        return false;
    }
    m_mode = mode;
    m_file = file;
    if (!i_OpenFileImage(*file)) {
        i_Forget();
        return false;
    }
    if (m_imageSize == 0)
        return i_NewContainer();
    return i_UseImage(true);
}

bool CQNF_Storage::Open(const unsigned char* image, size_t size)
{
    ResetError();
    Close();
    m_mode = 1;
    if (!image || size < kNewSize || size > kMaxContainerSize) {
        SetError(qnerr::StorageFormat);
        i_Forget();
        return false;
    }
    m_image = image;
    m_imageSize = uint32_t(size);
    return i_UseImage(false);
}

bool CQNF_Storage::Open(const CQNF_Mem* block)
{
    if (!block) {
        ResetError();
        Close();
        SetError(qnerr::BadArgument);
        return false;
    }
    return Open(block->GetPtr(), block->GetSize());
}

// ---------------------------------------------------------------- stamp checks

bool CQNF_Storage::i_CheckStamp(const unsigned char* image, size_t size)
{
    if (!image || size <= kStampedFrom || !BeginsAsContainer(image)) {
        SetError(qnerr::StorageFormat);
        return false;
    }
    uint8_t digest[kStampSize];
    CQNF_MD5Digest::Compute(image + kStampedFrom, size - kStampedFrom, digest);
    if (std::memcmp(digest, image + kStampOffset, kStampSize) != 0) {
        SetError(qnerr::StorageStamp);
        return false;
    }
    return true;
}

bool CQNF_Storage::CheckMD5(const unsigned char* image, size_t size)
{
    ResetError();
    return i_CheckStamp(image, size);
}

bool CQNF_Storage::CheckMD5(CQNF_StdFile* file)
{
    ResetError();
    if (!file || !file->IsOpened()) {
        SetError(file ? qnerr::FileClosed : qnerr::BadArgument);
        return false;
    }
    struct stat sb;
    if (::fstat(::fileno(file->GetStream()), &sb) != 0 || !S_ISREG(sb.st_mode)) {
        SetError(qnerr::StorageFormat);
        return false;
    }
    const int64_t pos = file->GetPos();
    const int64_t length = file->GetLength();
    if (pos < 0 || length < 0) {
        SetError(file->GetError());
        return false;
    }
    const int64_t rest = length > pos ? length - pos : 0;
    if (rest == 0)
        return true;
    if (rest <= int64_t(kStampedFrom)) {
        SetError(qnerr::StorageFormat);
        return false;
    }
    // Streamed: the stamp of a file of any size costs no more memory.
    uint8_t head[kStampedFrom];
    if (file->Read(head, kStampedFrom) != kStampedFrom) {
        SetError(file->IsError() ? file->GetError() : qnerr::FileRead);
        return false;
    }
    if (!BeginsAsContainer(head)) {
        SetError(qnerr::StorageFormat);
        return false;
    }
    CQNF_MD5Digest md5;
    std::vector<uint8_t> chunk(1 << 16);
    for (int64_t left = rest - kStampedFrom; left > 0;) {
        const uint32_t want = uint32_t(std::min<int64_t>(left, int64_t(chunk.size())));
        if (file->Read(chunk.data(), want) != want) {
            SetError(file->IsError() ? file->GetError() : qnerr::FileRead);
            return false;
        }
        md5.Update(chunk.data(), want);
        left -= want;
    }
    uint8_t digest[kStampSize];
    md5.Final(digest);
    if (std::memcmp(digest, head + kStampOffset, kStampSize) != 0) {
        SetError(qnerr::StorageStamp);
        return false;
    }
    return true;
}

bool CQNF_Storage::CheckMD5()
{
    ResetError();
    if (!m_open) {
        SetError(qnerr::Empty);
        return false;
    }
    return i_CheckStamp(m_image, m_imageSize);
}

bool CQNF_Storage::CheckMD5(const CQNF_String& path)
{
    ResetError();
    CQNF_StdFile file;
    if (!file.Open(path, qnfile::kRead)) {
        SetError(OpenFailure(std::string(path.GetStr(), path.GetLength()), file.GetError()));
        return false;
    }
    return CheckMD5(&file);
}

bool CQNF_Storage::CheckMD5(const char* name, const FSRef* folder)
{
    ResetError();
    CQNF_StdFile file;
    if (!file.Open(CQNF_String(name), folder, qnfile::kRead)) {
        SetError(file.GetError());
        return false;
    }
    return CheckMD5(&file);
}
