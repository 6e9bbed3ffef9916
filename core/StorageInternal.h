// Helpers shared by the storage container's source files (opening and
// stamps, reading, writing); not part of its interface.
#pragma once

#include "core/String.h"

#include <string_view>

namespace qnstorage {

inline std::string_view View(const CQNF_String& s) { return {s.GetStr(), s.GetLength()}; }

// Splits a key at its last ">": what comes before, and the name after it.
inline void SplitKey(std::string_view key, std::string_view& parent, std::string_view& name)
{
    const size_t gt = key.rfind('>');
    if (gt == std::string_view::npos) {
        parent = {};
        name = key;
    } else {
        parent = key.substr(0, gt);
        name = key.substr(gt + 1);
    }
}

}  // namespace qnstorage
