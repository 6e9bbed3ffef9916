// Test helper: the parts of an ELF library's file that the loader maps
// (its loaded segments' file bytes), read from the library's bytes.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include <elf.h>

namespace library_loads {

struct Range {
    uint64_t at = 0, n = 0;
};

inline std::vector<Range> Loaded(const std::vector<uint8_t>& bytes)
{
    std::vector<Range> loads;
    Elf64_Ehdr header;
    if (bytes.size() < sizeof header)
        return loads;
    std::memcpy(&header, bytes.data(), sizeof header);
    for (uint64_t i = 0; i < header.e_phnum; ++i) {
        Elf64_Phdr p;
        const uint64_t at = header.e_phoff + i * sizeof p;
        if (at + sizeof p > bytes.size())
            break;
        std::memcpy(&p, bytes.data() + at, sizeof p);
        if (p.p_type == PT_LOAD)
            loads.push_back({p.p_offset, p.p_filesz});
    }
    return loads;
}

// Whether any of the n bytes at at is mapped.
inline bool Overlaps(const std::vector<Range>& loads, uint64_t at, uint64_t n)
{
    for (const Range& r : loads)
        if (at < r.at + r.n && r.at < at + n)
            return true;
    return false;
}

}  // namespace library_loads
