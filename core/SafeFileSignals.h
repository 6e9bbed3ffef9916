// The temporary files and folders that SIGINT, SIGTERM or SIGHUP removes
// before the program ends as the signal would end it: the safe writer's own
// bookkeeping (core/SafeFile.h), shared by its files.
#pragma once

#include <string>
#include <string_view>

namespace qnsafe {

// Lists path (a named temporary file, or a folder of them) for removal on
// SIGINT, SIGTERM or SIGHUP. Returns the slot, or -1 when all are taken
// (the file is then only removed on an ordinary failure).
int RegisterTemp(const std::string& path, bool folder = false);
// Forgets the slot (-1: none) and sets it to -1.
void ReleaseTemp(int& slot);

// The name of the file whose hidden temporary name name is: "." NAME
// ".tessolo-" and letters or digits with their check (core/SafeFile.cpp),
// or "." NAME ".tessolo-" or "." NAME "." and six letters or digits as
// earlier versions named them; empty when it is no such name. The earlier
// forms say nothing of who made a file: they are only taken for this
// program's in a folder that is its own.
std::string_view TempTarget(std::string_view name);

}  // namespace qnsafe
