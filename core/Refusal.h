// A write refused before it began: the file as the writer named it and why,
// in words. The command line says it in one line ("cannot write FILE: WHY");
// a series' failure carries it as "FILE: WHY" for its writer to put "cannot
// write " before, once; a window shows the two parts apart, so that a name
// holding ": " is never split at the wrong place.
#pragma once

#include <string>

struct QnRefusal {
    std::string file;    // the file or folder refused; empty: none of its own
    std::string reason;  // why; empty: not refused

    bool empty() const { return reason.empty(); }
    // "FILE: WHY", or WHY alone when no file is named; empty when not refused.
    std::string Detail() const { return empty() || file.empty() ? reason : file + ": " + reason; }
    // "cannot write FILE: WHY"; empty when not refused.
    std::string Line() const { return empty() || file.empty() ? reason : "cannot write " + Detail(); }
};
