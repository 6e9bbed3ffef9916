// The stand-in host's scripting descriptor: the typed values a plug-in stored
// under four-character keys, kept in the order they were written.
//
// Serialised form (the bytes of the descriptor handle and of the file given
// with --descriptor; numbers big-endian):
//   "QNDS", u32 item count, then per item u32 key, u32 type, u32 length and
//   the value's bytes. An integer is 4 bytes; a text is stored byte for byte
//   as the plug-in handed it over, terminator included.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace hostapp {

struct DescriptorItem {
    uint32_t key = 0;
    uint32_t type = 0;
    std::vector<uint8_t> value;
};

struct HostDescriptor {
    std::vector<DescriptorItem> items;

    void PutInteger(uint32_t key, int32_t value);
    void PutText(uint32_t key, const std::vector<uint8_t>& bytes);
    const DescriptorItem* Find(uint32_t key) const;
    static int32_t IntegerOf(const DescriptorItem& item);

    std::vector<uint8_t> Serialize() const;
    // Parse's err for a layout document (".qntd") given as a descriptor.
    static constexpr const char* kLayoutNotDescriptor = "a layout document, not a descriptor";
    // Refuses bad magic, truncated items, integers not 4 bytes long and
    // counts that the bytes cannot hold.
    static bool Parse(const uint8_t* data, size_t size, HostDescriptor& out, std::string& err);
};

}  // namespace hostapp
