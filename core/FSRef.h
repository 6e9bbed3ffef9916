// Our own stand-ins for the file-system reference and the 255-unit Unicode
// file name that file code is written against.
//
// An FSRef names a file or a folder by its POSIX path. It is a plain value:
// it does not keep the file open and does not follow it when it moves.
#pragma once

#include <cstdint>
#include <string>

struct FSRef {
    std::string path;
};

// A file name as up to 255 UTF-16 code units (the longest name a file system
// entry may have here as well as on the platforms the data files come from).
struct HFSUniStr255 {
    uint16_t length = 0;
    uint16_t unicode[255] = {};
};

// Status results of the name conversion; 0 is success.
namespace qnos {
inline constexpr int32_t NoErr = 0;
inline constexpr int32_t ParamErr = -50;       // null output or unknown encoding
inline constexpr int32_t BadNameErr = -37;     // a name no folder entry can have
inline constexpr int32_t NameTooLongErr = -8785;  // more than 255 UTF-16 units
// The text encoding of the system: file names are UTF-8 here.
inline constexpr uint32_t SystemEncoding = 65535;
}  // namespace qnos
