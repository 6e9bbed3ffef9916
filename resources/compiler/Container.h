// Writes a storage container image in one pass: records are appended to one
// byte buffer in creation order, parents before children, ids 1..n, and the
// MD5 stamp is computed once at the end. Building a file of thousands of
// records through the storage's own appends would re-sort the key table on
// every append; this writer never sorts, because readers build their index
// themselves. The layout is the one core/StorageFormat.h describes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace rc {

class ContainerWriter {
public:
    ContainerWriter();

    // Every key is ">"-joined; missing parent folders are created on the way.
    // A key written twice, or a value whose parent is not a folder, throws.
    void Folder(std::string_view key);
    void U8(std::string_view key, uint8_t v);
    void U16(std::string_view key, uint16_t v);
    void U32(std::string_view key, uint32_t v);
    // The stored count includes the terminating NUL.
    void String(std::string_view key, std::string_view text);
    void Binary(std::string_view key, const std::vector<uint8_t>& bytes);

    bool Has(std::string_view key) const;
    uint32_t RecordCount() const { return m_count; }

    // The finished, stamped container image.
    std::vector<uint8_t> Finish() const;

private:
    uint32_t ParentOf(std::string_view key, std::string_view& name);
    uint32_t FolderId(std::string_view key);
    void Value(std::string_view key, uint8_t type, const uint8_t* payload, size_t size);
    uint32_t Append(uint8_t type, uint32_t parent, std::string_view name, const uint8_t* payload, size_t size);

    std::vector<uint8_t> m_bytes;
    std::unordered_map<std::string, uint32_t> m_folders;
    std::unordered_set<std::string> m_values;
    uint32_t m_count = 0;
};

}  // namespace rc
