// Where the safe writer's file lands (core/SafeFile.h): the path settled to
// a name in a folder held open, so that no link along the way is followed
// again once it is settled. Shared by the safe writer's own files.
#pragma once

#include "core/SafeFile.h"

#include <cerrno>
#include <string>
#include <utility>

#include <sys/types.h>
#include <unistd.h>

namespace qnsafe {

inline bool IsStandardOutput(const std::string& path) { return path == kQnStandardOutput; }

// Where a replacement lands: a name in a folder held open, so that no link
// along the way is followed again once it is settled.
struct Target {
    std::string path;    // where the file lands, links followed
    std::string folder;  // its folder's path (for messages and signals)
    std::string name;    // its name in that folder
    int dir = -1;        // the folder; -1 with dirErrno when it cannot be opened
    int dirErrno = 0;
    // Why the name found there can be no target: ELOOP (links that come
    // back on themselves name no file; writing there would put a file in
    // place of one of them), EISDIR, or kNotRegular; 0 when it can.
    int refused = 0;
    mode_t kind = 0;  // what the name found was, when refused
    bool standardOutput = false;

    Target() = default;
    Target(const Target&) = delete;
    Target& operator=(const Target&) = delete;
    Target(Target&& o) noexcept { *this = std::move(o); }
    Target& operator=(Target&& o) noexcept
    {
        if (this != &o) {
            Close();
            path = std::move(o.path);
            folder = std::move(o.folder);
            name = std::move(o.name);
            dir = std::exchange(o.dir, -1);
            dirErrno = o.dirErrno;
            refused = o.refused;
            kind = o.kind;
            standardOutput = o.standardOutput;
        }
        return *this;
    }
    ~Target() { Close(); }
    void Close()
    {
        if (dir >= 0)
            ::close(dir);
        dir = -1;
    }
};

// A FIFO, a socket or a device where a file was to go. No errno says it;
// the writer that finds one words it from its kind, as the gate does.
constexpr int kNotRegular = EINVAL;

// Where a chain of symbolic links that ends nowhere ends: the path of the
// missing file its last link names (path itself when it is no link). A chain
// that loops or runs too long is left to fail as the path itself.
std::string DanglingLinkEnd(const std::string& path);

// Where path lands now, links followed, its folder opened.
Target Resolve(const std::string& path);

// Remembers where path leads now (t), for the write at the end of the run.
void Settle(const std::string& path, const Target& t);

// Where path was settled to lead, or where it leads now when it was not.
Target Landing(const std::string& path);

}  // namespace qnsafe
