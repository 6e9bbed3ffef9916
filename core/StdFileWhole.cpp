// Whole files read at once, within a limit the reader states (StdFile.h).
#include "core/StdFile.h"

#include "core/ErrorWords.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string TooLarge(const std::string& name, uint64_t maxSize)
{
    return name + " is too large (over " + std::to_string(maxSize) + " bytes)";
}

// Opens a regular file, or says in one line why not.
std::FILE* OpenRegular(const std::string& path, std::string& error)
{
    const int fd = qnOpenRegularFile(path.c_str(), O_RDONLY);
    std::FILE* f = fd >= 0 ? ::fdopen(fd, "rb") : nullptr;
    if (f)
        return f;
    const int why = errno;
    if (fd >= 0)
        ::close(fd);
    error = qnOpenRegularFailure(path, why);
    return nullptr;
}

}  // namespace

std::string qnRegularFileProblem(const std::string& path)
{
    std::string error;
    if (std::FILE* f = OpenRegular(path, error))
        std::fclose(f);
    return error;
}

namespace {

// Reads f to its end, refusing more than maxSize bytes.
bool ReadStream(std::FILE* f, const std::string& name, std::vector<uint8_t>& bytes, std::string& error,
                uint64_t maxSize)
{
    uint8_t chunk[1 << 16];
    size_t got;
    bool tooLarge = false;
    try {
        while (!tooLarge && (got = std::fread(chunk, 1, sizeof chunk, f)) > 0) {
            tooLarge = got > maxSize - bytes.size();
            if (!tooLarge)
                bytes.insert(bytes.end(), chunk, chunk + got);
        }
    } catch (const std::bad_alloc&) {
        bytes = {};
        error = name + " does not fit into memory";
        return false;
    }
    if (tooLarge) {
        bytes = {};
        error = TooLarge(name, maxSize);
        return false;
    }
    if (std::ferror(f) != 0) {
        bytes = {};
        error = "cannot read " + name;
        return false;
    }
    return true;
}

}  // namespace

bool qnReadWholeFile(const std::string& path, std::vector<uint8_t>& bytes, std::string& error, uint64_t maxSize)
{
    bytes.clear();
    std::FILE* f = OpenRegular(path, error);
    if (!f)
        return false;
    // The size is checked before anything is read.
    struct stat st {};
    if (::fstat(::fileno(f), &st) != 0 || uint64_t(st.st_size) > maxSize) {
        std::fclose(f);
        error = TooLarge(path, maxSize);
        return false;
    }
    bool ok = true;
    try {
        bytes.reserve(size_t(st.st_size));
    } catch (const std::bad_alloc&) {
        error = path + " does not fit into memory";
        ok = false;
    }
    ok = ok && ReadStream(f, path, bytes, error, maxSize);
    std::fclose(f);
    return ok;
}

bool qnReadWholeStdin(std::vector<uint8_t>& bytes, std::string& error, uint64_t maxSize)
{
    bytes.clear();
    return ReadStream(stdin, "standard input", bytes, error, maxSize);
}

bool qnCheckInputFile(const std::string& path, uint64_t maxSize, std::string& error)
{
    std::FILE* f = OpenRegular(path, error);
    if (!f)
        return false;
    struct stat st {};
    bool ok = ::fstat(::fileno(f), &st) == 0 && uint64_t(st.st_size) <= maxSize;
    if (!ok)
        error = path + " is too large (over " + std::to_string(maxSize) + " bytes)";
    std::fclose(f);
    return ok;
}
