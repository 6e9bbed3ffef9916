// Replacing a file safely: the new content goes to a temporary file in the
// same folder, is synced, and is renamed over the target only when it is
// complete, so a failure at any point leaves the old file untouched.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace qnstorage {

// Returns 0, or 32 when the temporary file cannot be created, 33 when it
// cannot be written, synced or renamed into place. An existing target keeps
// its permission bits; a new one gets the usual ones (0666 less the umask).
// A symbolic link is followed: the file it names is replaced.
unsigned short ReplaceFile(const std::string& path, const uint8_t* data, size_t size);

}  // namespace qnstorage
