// The room for the seal in the plug-in's libraries: a note of its own that
// tessolo-seal fills with a checksum of the mapped bytes after linking, by
// which the plug-in and the host tell a library whose code or tables
// changed from the one that was built (core/LibraryFile.h).
#include "core/LibraryFile.h"

namespace {

// Aligned as notes are (the compiler would give an object of this size 32).
[[gnu::section(".note.tessolo"), gnu::used]] alignas(4) const qnLibrarySealNote kSeal{};

}  // namespace
