#include "cutter/ShapeIo.h"

#include "core/Mem.h"
#include "core/StdFile.h"
#include "core/Storage.h"

#include <string>
#include <sys/mman.h>
#include <unistd.h>

const char* ShapeIoMessage(ShapeIoError error)
{
    switch (error) {
    case ShapeIoError::EmptyFile:
        return "File corrupt... (0-length file)";
    case ShapeIoError::NoMemory:
        return "Memory allocation problem...";
    case ShapeIoError::ReadFailed:
        return "Error reading data file...";
    case ShapeIoError::BadFormat:
        return "Unknown file format, or the file is damaged.";
    case ShapeIoError::WriteFailed:
        return "Cannot write file...";
    case ShapeIoError::UpdateFailed:
        return "Cannot update presets file...";
    case ShapeIoError::None:
    case ShapeIoError::Refused:
        break;
    }
    return nullptr;
}

ShapeIoError qnReadWholeFile(CQNF_StdFile* file, size_t limit, CQNF_Mem& block)
{
    if (!file || !file->IsOpened())
        return ShapeIoError::ReadFailed;
    const int64_t length = file->GetLength();
    if (length < 0)
        return ShapeIoError::ReadFailed;
    if (length == 0)
        return ShapeIoError::EmptyFile;
    if (uint64_t(length) > limit)
        return ShapeIoError::BadFormat;
    if (!block.alloc(uint64_t(length)))
        return ShapeIoError::NoMemory;
    if (file->SetPos(0) != 0 || file->Read(block.GetPtr(), uint32_t(length)) != length)
        return ShapeIoError::ReadFailed;
    return ShapeIoError::None;
}

ShapeIoError qnWriteWholeFile(CQNF_StdFile* file, const CQNF_Mem& image)
{
    if (!file || !file->IsOpened() || !file->IsAllowToWrite())
        return ShapeIoError::WriteFailed;
    if (file->SetPos(0) != 0 || file->Write(image.GetPtr(), image.GetSize()) != int64_t(image.GetSize()) ||
        !file->Flush())
        return ShapeIoError::WriteFailed;
    return ShapeIoError::None;
}

// The container is written to an anonymous in-memory file: the storage
// writes through a file, and the bytes then go to their target in one piece
// (a save dialog's file, or a safe replacement of a path).
CQNF_StorageImageBuilder::CQNF_StorageImageBuilder() = default;

CQNF_StorageImageBuilder::~CQNF_StorageImageBuilder()
{
    if (m_storage) {
        m_storage->Close();
        delete m_storage;
    }
    delete m_file;
    if (m_fd >= 0)
        ::close(m_fd);
}

CQNF_Storage* CQNF_StorageImageBuilder::Begin()
{
    if (m_storage)
        return nullptr;
    m_fd = ::memfd_create("tessolo_container", MFD_CLOEXEC);
    if (m_fd < 0)
        return nullptr;
    const std::string path = "/proc/self/fd/" + std::to_string(m_fd);
    m_file = new CQNF_StdFile;
    m_storage = new CQNF_Storage;
    if (!m_file->Open(CQNF_String(path.c_str()), 4) || !m_storage->Open(m_file, 2))
        return nullptr;
    return m_storage;
}

bool CQNF_StorageImageBuilder::Finish(CQNF_Mem& image)
{
    if (!m_storage || !m_storage->IsOpened())
        return false;
    if (!m_storage->Close())
        return false;
    const off_t length = ::lseek(m_fd, 0, SEEK_END);
    if (length <= 0 || !image.alloc(uint64_t(length)))
        return false;
    return ::pread(m_fd, image.GetPtr(), size_t(length), 0) == ssize_t(length);
}
