#include "resources/compiler/Container.h"

#include "core/BlockProcessor.h"
#include "core/MD5Digest.h"
#include "core/StorageFormat.h"
#include "resources/compiler/Error.h"

#include <cstring>

namespace rc {

ContainerWriter::ContainerWriter() : m_bytes(qnstorage::kRecordsOffset, 0)
{
    std::memcpy(m_bytes.data(), qnstorage::kMagic, sizeof qnstorage::kMagic);
}

uint32_t ContainerWriter::Append(uint8_t type, uint32_t parent, std::string_view name, const uint8_t* payload,
                                 size_t size)
{
    if (name.empty() || name.size() > 0xFFFF || name.find('>') != std::string_view::npos ||
        name.find('\0') != std::string_view::npos)
        throw Error("bad record name '" + std::string(name) + "'");
    const uint64_t length = 11 + uint64_t(name.size()) + size;
    if (length + m_bytes.size() > 0xFFFFFF00u)
        throw Error("container too large");
    const uint32_t id = ++m_count;
    const size_t at = m_bytes.size();
    m_bytes.resize(at + 4 + length);
    uint8_t* p = m_bytes.data() + at;
    qnPutBE32(p, uint32_t(length));
    p[4] = type;
    qnPutBE32(p + 5, parent);
    qnPutBE32(p + 9, id);
    qnPutBE16(p + 13, uint16_t(name.size()));
    std::memcpy(p + 15, name.data(), name.size());
    if (size)
        std::memcpy(p + 15 + name.size(), payload, size);
    return id;
}

uint32_t ContainerWriter::FolderId(std::string_view key)
{
    if (key.empty())
        return qnstorage::kRootId;
    if (auto it = m_folders.find(std::string(key)); it != m_folders.end())
        return it->second;
    if (m_values.count(std::string(key)))
        throw Error("'" + std::string(key) + "' is a value, not a folder");
    std::string_view name;
    const uint32_t parent = ParentOf(key, name);
    const uint32_t id = Append(qnstorage::kFolder, parent, name, nullptr, 0);
    m_folders.emplace(std::string(key), id);
    return id;
}

uint32_t ContainerWriter::ParentOf(std::string_view key, std::string_view& name)
{
    const size_t cut = key.rfind('>');
    if (cut == std::string_view::npos) {
        name = key;
        return qnstorage::kRootId;
    }
    name = key.substr(cut + 1);
    return FolderId(key.substr(0, cut));
}

void ContainerWriter::Folder(std::string_view key)
{
    if (m_folders.count(std::string(key)))
        throw Error("folder '" + std::string(key) + "' written twice");
    FolderId(key);
}

void ContainerWriter::Value(std::string_view key, uint8_t type, const uint8_t* payload, size_t size)
{
    const std::string k(key);
    if (m_values.count(k) || m_folders.count(k))
        throw Error("record '" + k + "' written twice");
    std::string_view name;
    const uint32_t parent = ParentOf(key, name);
    Append(type, parent, name, payload, size);
    m_values.insert(k);
}

void ContainerWriter::U8(std::string_view key, uint8_t v) { Value(key, qnstorage::kU8, &v, 1); }

void ContainerWriter::U16(std::string_view key, uint16_t v)
{
    uint8_t b[2];
    qnPutBE16(b, v);
    Value(key, qnstorage::kU16, b, 2);
}

void ContainerWriter::U32(std::string_view key, uint32_t v)
{
    uint8_t b[4];
    qnPutBE32(b, v);
    Value(key, qnstorage::kU32, b, 4);
}

// Strings and binaries are counted: a BE u32 byte count, then the bytes.
static std::vector<uint8_t> Counted(const uint8_t* data, size_t n)
{
    if (n > 0xFFFFFF00u)
        throw Error("record too large");
    std::vector<uint8_t> b(4 + n);
    qnPutBE32(b.data(), uint32_t(n));
    if (n)
        std::memcpy(b.data() + 4, data, n);
    return b;
}

void ContainerWriter::String(std::string_view key, std::string_view text)
{
    std::vector<uint8_t> withNul(text.begin(), text.end());
    withNul.push_back(0);  // the count includes the terminator
    const std::vector<uint8_t> b = Counted(withNul.data(), withNul.size());
    Value(key, qnstorage::kString, b.data(), b.size());
}

void ContainerWriter::Binary(std::string_view key, const std::vector<uint8_t>& bytes)
{
    const std::vector<uint8_t> b = Counted(bytes.data(), bytes.size());
    Value(key, qnstorage::kBinary, b.data(), b.size());
}

bool ContainerWriter::Has(std::string_view key) const
{
    const std::string k(key);
    return m_values.count(k) || m_folders.count(k);
}

std::vector<uint8_t> ContainerWriter::Finish() const
{
    std::vector<uint8_t> out = m_bytes;
    out.insert(out.end(), qnstorage::kMagic, qnstorage::kMagic + sizeof qnstorage::kMagic);
    qnPutBE32(out.data() + qnstorage::kCountOffset, m_count);
    qnPutBE32(out.data() + qnstorage::kLastIdOffset, m_count);
    CQNF_MD5Digest::Compute(out.data() + qnstorage::kStampedFrom, out.size() - qnstorage::kStampedFrom,
                            out.data() + qnstorage::kStampOffset);
    return out;
}

}  // namespace rc
