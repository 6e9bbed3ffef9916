#include "hostapp/SafeFile.h"

#include "core/StorageFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace hostapp {

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& bytes, std::string& err)
{
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        err = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    bytes.clear();
    uint8_t chunk[65536];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, f)) > 0)
        bytes.insert(bytes.end(), chunk, chunk + got);
    const bool failed = std::ferror(f) != 0;
    std::fclose(f);
    if (failed) {
        err = "cannot read " + path;
        return false;
    }
    return true;
}

bool WriteFileAtomically(const std::string& path, const std::vector<uint8_t>& bytes, std::string& err)
{
    if (qnstorage::ReplaceFile(path, bytes.data(), bytes.size()) != 0) {
        err = "cannot write " + path;
        return false;
    }
    return true;
}

}  // namespace hostapp
