// Writing the open container: every operation changes the bytes in memory,
// then puts the whole container in place in one step (or undoes itself).
#include "core/Storage.h"

#include "core/MD5Digest.h"
#include "core/SafeFile.h"
#include "core/StorageInternal.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <string>

#include <sys/stat.h>

using namespace qnstorage;

// ---------------------------------------------------------------- writing

bool CQNF_Storage::i_CanWrite()
{
    if (!m_open) {
        SetError(qnerr::Empty);
        return false;
    }
    if (m_readOnly) {
        SetError(qnerr::StorageReadOnly);
        return false;
    }
    return true;
}

void CQNF_Storage::i_Begin()
{
    m_undo.size = m_imageSize;
    std::memcpy(m_undo.head, m_image, kRecordsOffset);
    m_undo.patches.clear();
}

void CQNF_Storage::i_Rollback()
{
    // Most refusals (a folder that exists, a missing parent) change nothing.
    if (m_undo.patches.empty() && m_imageSize == m_undo.size)
        return;
    unsigned char* data = i_Data();
    for (size_t i = m_undo.patches.size(); i-- > 0;) {
        const Patch& p = m_undo.patches[i];
        std::memcpy(data + p.offset, p.old.data(), p.old.size());
    }
    m_undo.patches.clear();
    m_imageSize = m_undo.size;
    std::memcpy(data, m_undo.head, kRecordsOffset);
    std::memcpy(data + m_imageSize - kTrailerSize, kMagic, kMagicSize);
    // The bytes are those of before the operation, which parsed then.
    const unsigned short error = GetError();
    if (Parse(m_image, m_imageSize, false, m_c) != 0) {
        i_Forget();
        SetError(qnerr::NoMemory);
        return;
    }
    SetError(error);
    m_allKeysStale = 1;
}

bool CQNF_Storage::i_Reserve(uint64_t size)
{
    if (size <= m_buffer.GetSize())
        return true;
    if (size > kMaxContainerSize) {
        SetError(qnerr::NoMemory);
        return false;
    }
    // Geometric growth keeps a run of appends linear; small containers grow
    // by a page at least.
    constexpr uint64_t kMinGrowth = 4096;
    const uint64_t grown =
        std::min<uint64_t>(kMaxContainerSize, std::max<uint64_t>({size, uint64_t(m_buffer.GetSize()) * 2, kMinGrowth}));
    if (!m_buffer.Resize(grown) && !m_buffer.Resize(size)) {
        SetError(m_buffer.GetError());
        return false;
    }
    m_image = m_buffer.GetPtr();
    return true;
}

void CQNF_Storage::i_Patch(uint32_t offset, const void* bytes, uint32_t n)
{
    unsigned char* at = i_Data() + offset;
    m_undo.patches.push_back({offset, std::string(reinterpret_cast<const char*>(at), n)});
    std::memcpy(at, bytes, n);
}

void CQNF_Storage::i_Stamp()
{
    // The stamp covers bytes 24 to the end; the magic is written with it.
    uint8_t digest[kStampSize];
    CQNF_MD5Digest::Compute(m_image + kStampedFrom, m_imageSize - kStampedFrom, digest);
    std::memcpy(i_Data(), kMagic, kMagicSize);
    std::memcpy(i_Data() + kStampOffset, digest, kStampSize);
}

bool CQNF_Storage::i_Write()
{
    // The stamp goes in with the bytes it covers: the file is never seen
    // with a stamp that does not match.
    i_Stamp();
    if (m_batch) {
        m_pending = 1;
        return true;
    }
    unsigned short error = 0;
    struct stat written {};
    if (!m_path.empty()) {
        // The container rewrites the file it was read from: that earlier
        // version is no other input of the run.
        error = qnReplaceFile(m_path, m_image, m_imageSize, written, QnWrite::OwnFile);
    } else if (m_file) {
        if (m_file->SetPos(0) < 0 || m_file->Write(m_image, m_imageSize) != int64_t(m_imageSize) ||
            !m_file->Flush())
            error = m_file->IsError() ? m_file->GetError() : qnerr::FileWrite;
    }
    if (error) {
        SetError(error);
        return false;
    }
    m_pending = 0;
    m_physicalSize = m_imageSize;
    // What we wrote, not what the path names now: another writer may have
    // replaced it already.
    m_onDisk = m_path.empty() ? DiskId() : DiskId::Of(written);
    return true;
}

bool CQNF_Storage::i_Commit()
{
    if (!i_Write()) {
        i_Rollback();
        return false;
    }
    m_undo.patches.clear();
    m_changed = 1;
    m_allKeysStale = 1;
    return true;
}

bool CQNF_Storage::i_Rebuild()
{
    if (const Status st = BuildIndex(m_image, m_c)) {
        SetError(st);
        return false;
    }
    return true;
}

bool CQNF_Storage::i_NextId(uint32_t& id)
{
    // Past the highest id in the file, even when the header lags behind it:
    // two live folders must never share an id, and a new folder must not
    // adopt records left with a parent id nobody has. 0xFFFFFFFF is the
    // root's.
    const uint32_t base = std::max(m_c.lastId, m_c.maxId);
    if (base >= kRootId - 1) {
        SetError(qnerr::BadArgument);
        return false;
    }
    id = base + 1;
    return true;
}

bool CQNF_Storage::i_Append(uint8_t type, uint32_t parent, uint32_t id, std::string_view name, const void* payload,
                            uint32_t payloadSize, const void* payload2, uint32_t payload2Size, uint32_t& recordIndex)
{
    const uint64_t length = 11 + uint64_t(name.size()) + payloadSize + payload2Size;
    const uint64_t newSize = uint64_t(m_imageSize) + 4 + length;
    if (name.size() > kMaxNameLength || m_c.recordCount == UINT32_MAX) {
        SetError(qnerr::BadArgument);
        return false;
    }
    if (newSize > kMaxContainerSize) {
        SetError(qnerr::NoMemory);
        return false;
    }
    try {
        m_c.records.reserve(m_c.records.size() + 1);
    } catch (const std::bad_alloc&) {
        SetError(qnerr::NoMemory);
        return false;
    }
    if (!i_Reserve(newSize))
        return false;

    // The record goes over the old trailer, which is written again behind it.
    const uint32_t offset = m_imageSize - kTrailerSize;
    unsigned char* p = i_Data() + offset;
    qnPutBE32(p, uint32_t(length));
    p[kTypeOffset] = type;
    qnPutBE32(p + 5, parent);
    qnPutBE32(p + 9, id);
    qnPutBE16(p + 13, uint16_t(name.size()));
    std::memcpy(p + kRecordHead, name.data(), name.size());
    p += kRecordHead + name.size();
    if (payloadSize)
        std::memcpy(p, payload, payloadSize);
    if (payload2Size)
        std::memcpy(p + payloadSize, payload2, payload2Size);
    m_imageSize = uint32_t(newSize);
    std::memcpy(i_Data() + m_imageSize - kTrailerSize, kMagic, kMagicSize);

    m_c.recordCount += 1;
    qnPutBE32(i_Data() + kCountOffset, m_c.recordCount);
    m_c.recordsEnd = m_imageSize - kTrailerSize;
    m_c.maxId = std::max(m_c.maxId, id);
    Record rec{offset, uint32_t(length), parent, id, uint16_t(name.size()), type};
    recordIndex = uint32_t(m_c.records.size());
    m_c.records.push_back(rec);
    return true;
}

bool CQNF_Storage::i_ParentId(std::string_view parent, uint32_t& id, unsigned short missing,
                              unsigned short notFolder)
{
    if (parent.empty()) {
        id = kRootId;
        return true;
    }
    const Record* r = i_Lookup(parent);
    if (!r) {
        SetError(missing);
        return false;
    }
    if (r->type != kFolder) {
        SetError(notFolder);
        return false;
    }
    id = r->id;
    return true;
}

// Appends a new record under a key that is absent, and indexes it.
bool CQNF_Storage::i_AppendNew(std::string_view key, uint8_t type, const void* payload, uint32_t payloadSize,
                               const void* payload2, uint32_t payload2Size)
{
    if (!IsValidKey(key)) {
        SetError(qnerr::BadArgument);
        return false;
    }
    std::string_view parent, name;
    SplitKey(key, parent, name);
    uint32_t parentId = 0, id = 0, recordIndex = 0;
    if (!i_ParentId(parent, parentId, qnerr::StorageNotFolder, qnerr::StorageNotFolder) || !i_NextId(id))
        return false;
    if (!i_Append(type, parentId, id, name, payload, payloadSize, payload2, payload2Size, recordIndex))
        return false;
    m_c.lastId = id;
    qnPutBE32(i_Data() + kLastIdOffset, id);
    try {
        const auto at = std::lower_bound(m_c.index.begin(), m_c.index.end(), key,
                                         [](const IndexEntry& e, std::string_view k) { return KeyLess(e.key, k); });
        m_c.index.insert(at, IndexEntry{std::string(key), m_c.records[recordIndex].offset, recordIndex});
    } catch (const std::bad_alloc&) {
        SetError(qnerr::NoMemory);
        return false;
    }
    return true;
}

bool CQNF_Storage::i_AddFolder(std::string_view key)
{
    if (i_Lookup(key)) {
        SetError(qnerr::StorageFolderExists);
        return false;
    }
    return i_AppendNew(key, kFolder, nullptr, 0, nullptr, 0);
}

bool CQNF_Storage::i_SetRecord(std::string_view key, unsigned char type, const _QNSTORAGEDATA& value, uint32_t size)
{
    if (type == kFolder)
        return i_AddFolder(key);
    const bool counted = type == kString || type == kBinary;
    if (type > kDouble || (counted && size > 0 && !value.ptr)) {
        SetError(qnerr::BadArgument);
        return false;
    }

    // The payload: the value big-endian, or a count and the caller's bytes.
    uint8_t fixed[8];
    uint32_t fixedSize = 0;
    switch (type) {
    case kU8:
        fixed[0] = value.u8;
        fixedSize = 1;
        break;
    case kU16:
        qnPutBE16(fixed, value.u16);
        fixedSize = 2;
        break;
    case kU32:
        qnPutBE32(fixed, value.u32);
        fixedSize = 4;
        break;
    case kDouble:
        PutBEDouble(fixed, value.f64);
        fixedSize = 8;
        break;
    default:
        qnPutBE32(fixed, size);
        fixedSize = 4;
        break;
    }
    const void* bytes = counted ? value.ptr : nullptr;
    const uint32_t bytesSize = counted ? size : 0;

    const Record* r = i_Lookup(key);
    if (!r)
        return i_AppendNew(key, type, fixed, fixedSize, bytes, bytesSize);
    if (r->type == type) {
        const uint32_t at = r->PayloadOffset();
        if (!counted) {
            i_Patch(at, fixed, fixedSize);
            return true;
        }
        // A value no longer than the stored one is rewritten in place; the
        // record keeps its length. The stored count never exceeds the
        // record's room (the reader checked), so neither does this.
        if (size <= qnGetBE32(m_image + at)) {
            i_Patch(at, fixed, 4);
            if (bytesSize)
                i_Patch(at + 4, bytes, bytesSize);
            return true;
        }
    }
    // Another type, or a longer value: remove and append.
    return i_KillRec(key) && i_AppendNew(key, type, fixed, fixedSize, bytes, bytesSize);
}

bool CQNF_Storage::i_KillRec(std::string_view key)
{
    if (!i_Lookup(key)) {
        SetError(qnerr::StorageNoKey);
        return false;
    }
    // The key itself and every key below it ("A" and "A>...", not "AB").
    std::vector<uint32_t> doomed;
    const std::string prefix = std::string(key) + '>';
    doomed.push_back(m_c.index[size_t(Find(m_c.index, key))].record);
    auto it = std::lower_bound(m_c.index.begin(), m_c.index.end(), std::string_view(prefix),
                               [](const IndexEntry& e, std::string_view k) { return KeyLess(e.key, k); });
    for (; it != m_c.index.end() && std::string_view(it->key).substr(0, prefix.size()) == prefix; ++it)
        doomed.push_back(it->record);
    const uint8_t removed = kRemoved;
    for (uint32_t rec : doomed) {
        i_Patch(m_c.records[rec].offset + kTypeOffset, &removed, 1);
        m_c.records[rec].type = kRemoved;
    }
    return i_Rebuild();
}

// ---------------------------------------------------------------- public writers

bool CQNF_Storage::AddFolder(const CQNF_String& key)
{
    const Cycle cycle(*this);
    if (!cycle.ready)
        return false;
    ResetError();
    i_Begin();
    if (!i_AddFolder(View(key))) {
        i_Rollback();
        return false;
    }
    return i_Commit();
}

bool CQNF_Storage::SetRecord(const CQNF_String& key, unsigned char type, _QNSTORAGEDATA value, uint32_t size)
{
    const Cycle cycle(*this);
    if (!cycle.ready)
        return false;
    ResetError();
    i_Begin();
    bool ok;
    try {
        ok = i_SetRecord(View(key), type, value, size);
    } catch (const std::bad_alloc&) {
        SetError(qnerr::NoMemory);
        ok = false;
    }
    if (!ok) {
        i_Rollback();
        return false;
    }
    return i_Commit();
}

bool CQNF_Storage::SetRecord(const CQNF_String& key, uint8_t value)
{
    _QNSTORAGEDATA v{};
    v.u8 = value;
    return SetRecord(key, kU8, v, 0);
}

bool CQNF_Storage::SetRecord(const CQNF_String& key, uint16_t value)
{
    _QNSTORAGEDATA v{};
    v.u16 = value;
    return SetRecord(key, kU16, v, 0);
}

bool CQNF_Storage::SetRecord(const CQNF_String& key, uint32_t value)
{
    _QNSTORAGEDATA v{};
    v.u32 = value;
    return SetRecord(key, kU32, v, 0);
}

bool CQNF_Storage::SetRecord(const CQNF_String& key, double value)
{
    _QNSTORAGEDATA v{};
    v.f64 = value;
    return SetRecord(key, kDouble, v, 0);
}

bool CQNF_Storage::SetRecord(const CQNF_String& key, const CQNF_String& value)
{
    _QNSTORAGEDATA v{};
    v.ptr = const_cast<char*>(value.GetStr());
    return SetRecord(key, kString, v, value.GetLength() + 1);
}

bool CQNF_Storage::SetRecord(const CQNF_String& key, const unsigned char* data, uint32_t size)
{
    _QNSTORAGEDATA v{};
    v.ptr = const_cast<unsigned char*>(data);
    return SetRecord(key, kBinary, v, size);
}

bool CQNF_Storage::KillRec(const CQNF_String& key)
{
    const Cycle cycle(*this);
    if (!cycle.ready)
        return false;
    ResetError();
    i_Begin();
    bool ok;
    try {
        ok = i_KillRec(View(key));
    } catch (const std::bad_alloc&) {
        SetError(qnerr::NoMemory);
        ok = false;
    }
    if (!ok) {
        i_Rollback();
        return false;
    }
    return i_Commit();
}

bool CQNF_Storage::Rename(const CQNF_String& oldKey, const CQNF_String& newKey)
{
    const Cycle cycle(*this);
    if (!cycle.ready)
        return false;
    ResetError();
    const std::string_view from = View(oldKey), to = View(newKey);
    if (from == to)
        return true;
    const Record* old = i_Lookup(from);
    if (!old) {
        SetError(qnerr::StorageNoKey);
        return false;
    }
    // A folder moved below itself would hang in the air, its whole subtree
    // lost at the next rebuild.
    if (i_Lookup(to) || !IsValidKey(to) ||
        (to.size() > from.size() && to.substr(0, from.size()) == from && to[from.size()] == '>')) {
        SetError(qnerr::BadArgument);
        return false;
    }
    std::string_view parent, name;
    SplitKey(to, parent, name);
    uint32_t parentId = 0;
    if (!i_ParentId(parent, parentId, qnerr::BadArgument, qnerr::BadArgument))
        return false;

    const Record moved = *old;
    const uint32_t movedIndex = uint32_t(old - m_c.records.data());
    uint32_t payloadSize;
    if (moved.type == kFolder)
        payloadSize = 0;
    else if (moved.type == kString || moved.type == kBinary)
        payloadSize = kPayloadCountSize + qnGetBE32(m_image + moved.PayloadOffset());
    else if (const uint32_t fixed = FixedPayloadSize(moved.type))
        payloadSize = fixed;
    else
        payloadSize = moved.PayloadRoom();  // a type we do not know: all of it

    i_Begin();
    bool ok;
    try {
        // The payload is copied first: appending may move the buffer.
        const std::string payload(reinterpret_cast<const char*>(m_image) + moved.PayloadOffset(), payloadSize);
        uint32_t recordIndex = 0;
        const uint8_t removed = kRemoved;
        ok = i_Append(moved.type, parentId, moved.id, name, payload.data(), payloadSize, nullptr, 0, recordIndex);
        if (ok) {
            // The record keeps its id, so the children of a folder follow it.
            i_Patch(moved.offset + kTypeOffset, &removed, 1);
            m_c.records[movedIndex].type = kRemoved;
            ok = i_Rebuild();
        }
    } catch (const std::bad_alloc&) {
        SetError(qnerr::NoMemory);
        ok = false;
    }
    if (!ok) {
        i_Rollback();
        return false;
    }
    return i_Commit();
}
