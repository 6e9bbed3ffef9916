// Whole files read at once, within a limit the reader states (StdFile.h).
#include "core/StdFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include <sys/stat.h>

bool qnReadWholeFile(const std::string& path, std::vector<uint8_t>& bytes, std::string& error, uint64_t maxSize)
{
    bytes.clear();
    std::FILE* f = std::fopen(path.c_str(), "rbe");
    if (!f) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    const std::string tooLargeText = path + " is too large (over " + std::to_string(maxSize) + " bytes)";
    // The size is checked before anything is read. A device has no size to
    // check and may never end (/dev/zero): only files and pipes are read.
    struct stat st;
    if (::fstat(::fileno(f), &st) != 0 || !(S_ISREG(st.st_mode) || S_ISFIFO(st.st_mode))) {
        std::fclose(f);
        error = path + (S_ISDIR(st.st_mode) ? " is a folder, not a file" : " is not a regular file");
        return false;
    }
    if (S_ISREG(st.st_mode) && uint64_t(st.st_size) > maxSize) {
        std::fclose(f);
        error = tooLargeText;
        return false;
    }
    uint8_t chunk[1 << 16];
    size_t got;
    bool tooLarge = false;
    try {
        if (S_ISREG(st.st_mode))
            bytes.reserve(size_t(st.st_size));
        while (!tooLarge && (got = std::fread(chunk, 1, sizeof chunk, f)) > 0) {
            tooLarge = got > maxSize - bytes.size();
            if (!tooLarge)
                bytes.insert(bytes.end(), chunk, chunk + got);
        }
    } catch (const std::bad_alloc&) {
        std::fclose(f);
        bytes = {};
        error = path + " does not fit into memory";
        return false;
    }
    const bool failed = std::ferror(f) != 0;
    std::fclose(f);
    if (tooLarge) {
        bytes = {};
        error = tooLargeText;
        return false;
    }
    if (failed) {
        bytes = {};
        error = "cannot read " + path;
        return false;
    }
    return true;
}

bool qnCheckInputFile(const std::string& path, uint64_t maxSize, std::initializer_list<std::string_view> magics,
                      std::string& error)
{
    std::FILE* f = std::fopen(path.c_str(), "rbe");
    if (!f) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    struct stat st;
    bool ok = ::fstat(::fileno(f), &st) == 0 && S_ISREG(st.st_mode);
    if (!ok)
        error = path + (S_ISDIR(st.st_mode) ? " is a folder, not a file" : " is not a regular file");
    else if (uint64_t(st.st_size) > maxSize) {
        ok = false;
        error = path + " is too large (over " + std::to_string(maxSize) + " bytes)";
    }
    if (ok && magics.size() > 0) {
        char head[16] = {};
        const size_t got = std::fread(head, 1, sizeof head, f);
        ok = false;
        for (const std::string_view m : magics)
            ok = ok || (m.size() <= got && std::string_view(head, m.size()) == m);
        if (!ok)
            error = path + " is not of the kind expected (it does not begin as one)";
    }
    std::fclose(f);
    return ok;
}
