// Files of the plug-in folder: the configuration storage and whole-file blobs.
#include "host/PluginAdapter.h"

#include "core/ErrorWords.h"
#include "core/KeptAside.h"
#include "core/ProgramOutput.h"
#include "core/StdFile.h"
#include "core/Storage.h"
#include "core/SafeFile.h"
#include "core/SafeFileRunInputs.h"

#include <cerrno>
#include <cstdio>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string PathInFolder(const FSRef& folder, const char* name)
{
    std::string path = folder.path;
    if (!path.empty() && path.back() != '/')
        path.push_back('/');
    return path + name;
}

bool Exists(const std::string& path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

// Only bytes that are not a container are set aside; a file that could not
// be read this time (no memory, a read error, a lock) may be whole.
bool ContentIsDamaged(unsigned short error)
{
    return error == qnerr::StorageFormat || error == qnerr::ZipNotABlock;
}

}  // namespace

bool CQNF_8BFPluginVirtual::ConfStorage_Open(const char* name)
{
    ResetError();
    m_bConfOpen = 0;
    if (!name || m_Folder.path.empty()) {
        SetError(qnerr::BadArgument);
        return false;
    }
    const std::string path = PathInFolder(m_Folder, name);
    if (const std::string refusal = qnOwnFileRefusal(path).Line(); !refusal.empty()) {
        std::fprintf(stderr, "Tessolo: %s; preferences and window places are not kept in this run\n",
                     qnShownLine(refusal).c_str());
        if (m_pConfStorage)
            m_pConfStorage->Close();
        SetError(qnerr::FileAccess);
        return false;
    }
    if (!m_pConfStorage)
        m_pConfStorage = new CQNF_Storage;
    // Reopening closes (and stamps) the container opened by the last Start.
    if (m_pConfStorage->Open(name, &m_Folder, 0)) {
        m_bConfOpen = 1;
        return true;
    }
    // Create only what is missing. A file that exists but cannot be used is
    // kept aside under ".bad" (a few numbered copies at most, each bytes
    // kept once: core/KeptAside.h) rather than truncated, so nothing is lost.
    if (Exists(path)) {
        // A file that could not be opened or read (read-only, say) is left
        // alone: the run goes on with the defaults and writes none of them.
        const unsigned short error = m_pConfStorage->GetError();
        if (!ContentIsDamaged(error)) {
            SetError(error);
            return false;
        }
        const qntKEPTASIDE aside = qnKeepDamagedAside(path);
        if (aside.path.empty()) {
            SetError(error);
            return false;
        }
        // The user's settings are in the copy; say where it went.
        std::fprintf(stderr, "Tessolo: %s\n",
                     qnShownLine(path + " is damaged; it was " + qnKeptAsideWords(aside) + " and a new one begun").c_str());
    }
    if (!m_pConfStorage->Open(name, &m_Folder, 2)) {
        SetError(m_pConfStorage->GetError());
        return false;
    }
    m_bConfOpen = 1;
    return true;
}

bool CQNF_8BFPluginVirtual::ConfFile_Read(CQNF_Mem* block, const char* name, const char*)
{
    ResetError();
    if (!block || !name) {
        SetError(qnerr::BadArgument);
        return false;
    }
    CQNF_StdFile file;
    if (!file.Open(CQNF_String(name), &m_Folder, 1)) {
        SetError(file.GetError());
        return false;
    }
    const int64_t length = file.GetLength();
    if (length < 0) {
        SetError(file.GetError());
        return false;
    }
    if (length == 0) {
        block->free();
        return true;
    }
    // The blobs kept here are settings blocks ("last.data"), some 40 MB at
    // their largest; a file far beyond is refused before it is read.
    // Such a file cannot be a blob of ours: it does not read.
    constexpr int64_t kMaxBlobBytes = int64_t(64) << 20;
    if (length > kMaxBlobBytes) {
        SetError(qnerr::FileRead);
        return false;
    }
    if (!block->Resize(static_cast<uint64_t>(length))) {
        SetError(block->GetError() ? block->GetError() : qnerr::NoMemory);
        return false;
    }
    if (file.Read(block->GetPtr(), static_cast<uint32_t>(length)) != length) {
        SetError(file.GetError() ? file.GetError() : qnerr::FileRead);
        return false;
    }
    return true;
}

bool CQNF_8BFPluginVirtual::ConfFile_Write(const void* data, uint32_t size, const char* name, const char*)
{
    ResetError();
    m_ConfRefusal.clear();
    const std::string_view n = name ? name : "";
    if ((!data && size > 0) || n.empty() || n == "." || n == ".." || n.find('/') != n.npos ||
        m_Folder.path.empty()) {
        SetError(qnerr::BadArgument);
        return false;
    }
    const std::string path = PathInFolder(m_Folder, name);
    if (std::string refusal = qnOwnFileRefusal(path).Line(); !refusal.empty()) {
        m_ConfRefusal = std::move(refusal);
        SetError(qnerr::FileAccess);
        return false;
    }
    // The new content replaces the old file only when it is complete: a full
    // disk never costs the last good settings.
    const unsigned short error = qnReplaceFile(path, data, size, QnWrite::OwnFile);
    if (error) {
        // The reason, in the words every program gives it ("the folder is
        // on a read-only file system"), not a guess at one.
        m_ConfRefusal = qnFileFailure(path, true, error);
        SetError(error);
        return false;
    }
    return true;
}

bool CQNF_8BFPluginVirtual::ConfFile_Write(const CQNF_Mem* block, const char* name, const char* unused)
{
    if (!block) {
        SetError(qnerr::BadArgument);
        return false;
    }
    return ConfFile_Write(block->GetPtr(), block->GetSize(), name, unused);
}
