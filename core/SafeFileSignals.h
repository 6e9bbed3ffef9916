// The temporary files and folders that SIGINT or SIGTERM removes before
// the program ends as the signal would end it: the safe writer's own
// bookkeeping (core/SafeFile.h), shared by its files.
#pragma once

#include <string>

namespace qnsafe {

// Lists path (a named temporary file, or a folder of them) for removal on
// SIGINT or SIGTERM. Returns the slot, or -1 when all are taken (the file
// is then only removed on an ordinary failure).
int RegisterTemp(const std::string& path, bool folder = false);
// Forgets the slot (-1: none) and sets it to -1.
void ReleaseTemp(int& slot);

}  // namespace qnsafe
