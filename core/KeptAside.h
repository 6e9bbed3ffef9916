// A damaged file of the plug-in's own (its settings, its presets) is moved
// aside for a person to look at rather than written over: beside itself as
// "NAME.bad", then "NAME.bad2" up to "NAME.bad5".
//
// The copies stay few. Bytes already kept under one of those names are not
// kept twice: the damaged file is then removed, its bytes being in that copy
// (a damage met on every run keeps one copy, not one a run). With all five
// names holding other damaged bytes, the oldest copy gives its name to the
// new one, and the caller says so: nothing goes without a word.
//
// A link fails rather than replace a name, so two runs never take the same
// one; a file system without links gets a rename to a name still free.
#pragma once

#include <string>

struct qntKEPTASIDE {
    std::string path;          // where the bytes are kept; empty: the file stays where it is
    bool alreadyKept = false;  // a copy of the same bytes was there; the file is removed
    bool replacedOldest = false;  // the oldest of the copies made room
};

// The most copies kept beside one file.
inline constexpr int kMaxKeptAside = 5;

qntKEPTASIDE qnKeepDamagedAside(const std::string& path);

// "kept as NAME.bad", "kept as NAME.bad3 in place of the oldest damaged
// copy" or "already kept as NAME.bad2": the words a message gives the place.
std::string qnKeptAsideWords(const qntKEPTASIDE& kept);
