// Reading the open container: typed records, folder listings and the key
// index.
#include "core/Storage.h"
#include "core/StorageInternal.h"

#include <cstring>
#include <string>

using namespace qnstorage;

// ---------------------------------------------------------------- reading

const Record* CQNF_Storage::i_Lookup(std::string_view key) const
{
    const ptrdiff_t at = Find(m_c.index, key);
    return at < 0 ? nullptr : &m_c.records[m_c.index[size_t(at)].record];
}

unsigned char CQNF_Storage::GetRecType(const CQNF_String& key)
{
    const Record* r = i_Lookup(View(key));
    if (!r) {
        SetError(qnerr::StorageNoKey);
        return kQnStorageNoRecord;
    }
    return r->type;
}

unsigned char CQNF_Storage::GetRec(const CQNF_String& key, _QNSTORAGEDATA& value)
{
    const Record* r = i_Lookup(View(key));
    if (!r) {
        SetError(qnerr::StorageNoKey);
        return kQnStorageNoRecord;
    }
    const unsigned char* p = m_image + r->PayloadOffset();
    switch (r->type) {
    case kFolder:
        value.u8 = 0;
        break;
    case kU8:
        value.u8 = p[0];
        break;
    case kU16:
        value.u16 = qnGetBE16(p);
        break;
    case kU32:
        value.u32 = qnGetBE32(p);
        break;
    case kDouble:
        value.f64 = GetBEDouble(p);
        break;
    case kString:
    case kBinary: {
        const uint32_t count = qnGetBE32(p);
        if (value.ptr)
            std::memcpy(value.ptr, p + kPayloadCountSize, count);
        else
            value.u32 = count;
        break;
    }
    default:
        break;  // a type this system does not know: only its number
    }
    return r->type;
}

const unsigned char* CQNF_Storage::i_Payload(const CQNF_String& key, uint8_t type)
{
    ResetError();
    const Record* r = i_Lookup(View(key));
    if (!r) {
        SetError(qnerr::StorageNoKey);
        return nullptr;
    }
    if (r->type != type) {
        SetError(qnerr::StorageWrongType);
        return nullptr;
    }
    return m_image + r->PayloadOffset();
}

bool CQNF_Storage::GetRec(const CQNF_String& key, uint8_t& value)
{
    const unsigned char* p = i_Payload(key, kU8);
    if (p)
        value = p[0];
    return p != nullptr;
}

bool CQNF_Storage::GetRec(const CQNF_String& key, uint16_t& value)
{
    const unsigned char* p = i_Payload(key, kU16);
    if (p)
        value = qnGetBE16(p);
    return p != nullptr;
}

bool CQNF_Storage::GetRec(const CQNF_String& key, uint32_t& value)
{
    const unsigned char* p = i_Payload(key, kU32);
    if (p)
        value = qnGetBE32(p);
    return p != nullptr;
}

bool CQNF_Storage::GetRec(const CQNF_String& key, double& value)
{
    const unsigned char* p = i_Payload(key, kDouble);
    if (p)
        value = GetBEDouble(p);
    return p != nullptr;
}

bool CQNF_Storage::GetRec(const CQNF_String& key, CQNF_String& value)
{
    const unsigned char* p = i_Payload(key, kString);
    if (!p)
        return false;
    const uint32_t count = qnGetBE32(p);
    // A string is stored with its terminator: a count of 0 is not one.
    if (count == 0) {
        SetError(qnerr::StorageFormat);
        return false;
    }
    const char* chars = reinterpret_cast<const char*>(p + kPayloadCountSize);
    const std::string text(chars, strnlen(chars, count - 1));
    CQNF_String result(text.c_str());
    if (result.IsError()) {
        SetError(result.GetError());
        return false;
    }
    const uint32_t tag = value.GetTag();
    value = result;
    value.SetTag(tag);
    if (value.IsError()) {
        SetError(value.GetError());
        return false;
    }
    return true;
}

bool CQNF_Storage::GetRec(const CQNF_String& key, CQNF_Mem& value)
{
    const unsigned char* p = i_Payload(key, kBinary);
    if (!p)
        return false;
    const uint32_t count = qnGetBE32(p);
    if (count == 0) {
        value.free();
        return true;
    }
    if (!value.alloc(count)) {
        SetError(value.GetError());
        return false;
    }
    std::memcpy(value.GetPtr(), p + kPayloadCountSize, count);
    return true;
}

bool CQNF_Storage::GetRec(const CQNF_String& key, unsigned char* buffer, uint32_t& size)
{
    ResetError();
    const Record* r = i_Lookup(View(key));
    if (!r) {
        SetError(qnerr::StorageNoKey);
        return false;
    }
    if (r->type != kString && r->type != kBinary) {
        SetError(qnerr::StorageWrongType);
        return false;
    }
    const unsigned char* p = m_image + r->PayloadOffset();
    const uint32_t count = qnGetBE32(p);
    if (buffer && count > size) {
        size = count;
        SetError(qnerr::BadArgument);
        return false;
    }
    if (buffer)
        std::memcpy(buffer, p + kPayloadCountSize, count);
    size = count;
    return true;
}

bool CQNF_Storage::GetAllRecords(const CQNF_String& folder, CQNF_StringArray& out)
{
    ResetError();
    out.Empty();
    uint32_t id = kRootId;
    if (folder.GetLength() != 0) {
        const Record* r = i_Lookup(View(folder));
        if (!r || r->type != kFolder) {
            SetError(qnerr::StorageNotFolder);
            return false;
        }
        id = r->id;
    }
    for (const Record& r : m_c.records) {
        if (!r.IsLive() || r.parent != id)
            continue;
        const std::string name(Name(m_image, r));
        if (out.Add(CQNF_String(name.c_str()), r.type) < 0) {
            SetError(out.GetError());
            return false;
        }
    }
    return true;
}

CQNF_StringArray* CQNF_Storage::GetAllRecordsArray()
{
    if (m_allKeysStale) {
        m_allKeys.Empty();
        m_allKeys.SetArraySize(m_c.index.size());
        for (const IndexEntry& e : m_c.index) {
            if (m_allKeys.Add(CQNF_String(e.key.c_str()), e.offset) < 0) {
                SetError(m_allKeys.GetError());
                break;
            }
        }
        m_allKeysStale = 0;
    }
    return &m_allKeys;
}

std::vector<QnStorageCutOff> CQNF_Storage::GetCutOffs() const
{
    std::vector<QnStorageCutOff> all;
    if (!m_open)
        return all;
    for (const CutOff& cut : FindCutOffs(m_c)) {
        QnStorageCutOff shown{cut.cause, {}, cut.below};
        for (const uint32_t r : cut.at) {
            const Record& rec = m_c.records[r];
            shown.at.push_back({std::string(Name(m_image, rec)), rec.type, rec.id, rec.parent});
        }
        all.push_back(std::move(shown));
    }
    return all;
}

bool SplitPath(const CQNF_String& key, CQNF_String& parent, CQNF_String& name)
{
    std::string_view p, n;
    SplitKey(View(key), p, n);
    parent = std::string(p).c_str();
    name = std::string(n).c_str();
    return true;
}
