// Fuzz target: the reader of a PNG series' journal, which a run finds on
// disk in a dead run's staging folder. A journal it takes names only plain
// names (and, in the forms bound to their folder, absolute paths that the
// recovery then refuses), each once; only the latest form holds digests;
// written again it reads back the same; a refusal is one line. Older forms
// are read too.
#include "core/FileSeries.h"

#include <cstdint>
#include <set>
#include <string>

namespace {

bool IsPlain(const std::string& name)
{
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.find('\0') == std::string::npos;
}

bool Same(const CQNF_FileSeries::Journal& a, const CQNF_FileSeries::Journal& b)
{
    if (a.fileSystem != b.fileSystem || a.folderDevice != b.folderDevice || a.folderInode != b.folderInode ||
        a.stagingDevice != b.stagingDevice || a.stagingInode != b.stagingInode || a.entries.size() != b.entries.size())
        return false;
    for (size_t k = 0; k < a.entries.size(); ++k) {
        const auto& x = a.entries[k];
        const auto& y = b.entries[k];
        if (x.device != y.device || x.inode != y.inode || x.size != y.size || x.digest != y.digest ||
            x.name != y.name || x.file != y.file)
            return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    CQNF_FileSeries::Journal journal;
    std::string why;
    if (!CQNF_FileSeries::ParseJournal(data, size, journal, why)) {
        if (why.empty() || why.find('\n') != std::string::npos)
            __builtin_trap();
        return 0;
    }
    if (journal.version < 1 || journal.version > 4 || journal.bound != (journal.version >= 3))
        __builtin_trap();
    std::set<std::string> names, files;
    for (const auto& e : journal.entries) {
        if (!IsPlain(e.name) || e.name.back() == '~' || e.file.empty() || !names.insert(e.name).second ||
            !files.insert(e.file).second)
            __builtin_trap();
        if (journal.version == 1 && e.file != e.name)
            __builtin_trap();
        if (journal.bound && e.file[0] != '/' && !IsPlain(e.file))
            __builtin_trap();
        // Only the latest form holds digests, each of 32 hexadecimal digits.
        if (e.digest.size() != (journal.version == 4 ? 32u : 0u) ||
            e.digest.find_first_not_of("0123456789abcdef") != std::string::npos)
            __builtin_trap();
    }
    if (journal.version == 4) {
        const std::string again = CQNF_FileSeries::JournalBytes(journal);
        CQNF_FileSeries::Journal reread;
        if (!CQNF_FileSeries::ParseJournal(reinterpret_cast<const uint8_t*>(again.data()), again.size(), reread,
                                           why) ||
            !Same(journal, reread))
            __builtin_trap();
    }
    return 0;
}
