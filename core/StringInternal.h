// Helpers shared by the string's source files (building and appending;
// editing, comparison and search); not part of its interface.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace qnstring {

inline uint8_t Upper(uint8_t c) { return (c >= 'a' && c <= 'z') ? uint8_t(c - 'a' + 'A') : c; }

inline uint32_t CLength(const char* text)
{
    return text ? uint32_t(std::min<size_t>(std::strlen(text), UINT32_MAX)) : 0;
}

}  // namespace qnstring
