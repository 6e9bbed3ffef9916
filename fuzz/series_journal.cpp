// Fuzz target: the reader of a PNG series' journal, which a run finds on
// disk in a dead run's staging folder. The bytes are read as they come and
// also sealed, so that the reader's checks past the seal are reached. A
// journal it takes names only plain names (or absolute paths, which the
// recovery then weighs), each once, with a digest of 32 hexadecimal digits;
// written again it reads back the same, and any change of one byte of the
// sealed text is refused; a refusal is one line.
#include "core/FileSeries.h"
#include "core/MD5Digest.h"

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
    if (a.version != b.version || a.fileSystem != b.fileSystem || a.fileSystemType != b.fileSystemType ||
        a.place != b.place || a.stagingName != b.stagingName || a.folderDevice != b.folderDevice || a.folderInode != b.folderInode ||
        a.stagingDevice != b.stagingDevice || a.stagingInode != b.stagingInode || a.entries.size() != b.entries.size())
        return false;
    for (size_t k = 0; k < a.entries.size(); ++k) {
        const auto& x = a.entries[k];
        const auto& y = b.entries[k];
        if (x.index != y.index || x.inode != y.inode || x.size != y.size || x.digest != y.digest || x.name != y.name ||
            x.file != y.file || x.movedAside != y.movedAside)
            return false;
    }
    return true;
}

bool Parse(const std::string& bytes, CQNF_FileSeries::Journal& journal)
{
    std::string why;
    const bool read =
        CQNF_FileSeries::ParseJournal(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), journal, why);
    if (!read && (why.empty() || why.find('\n') != std::string::npos))
        __builtin_trap();
    return read;
}

// The bytes with the seal a writer gives them.
std::string Sealed(const std::string& body)
{
    uint8_t digest[CQNF_MD5Digest::kDigestSize];
    CQNF_MD5Digest::Compute(body.data(), body.size(), digest);
    static const char kHex[] = "0123456789abcdef";
    std::string sealed = body + "seal ";
    for (const uint8_t b : digest) {
        sealed.push_back(kHex[b >> 4]);
        sealed.push_back(kHex[b & 15]);
    }
    return sealed + '\n';
}

void Check(const std::string& bytes, size_t changeAt)
{
    CQNF_FileSeries::Journal journal;
    if (!Parse(bytes, journal))
        return;
    if (journal.version == 7 && !IsPlain(journal.stagingName))
        __builtin_trap();
    std::set<std::string> names, files;
    std::set<uint64_t> indexes;
    for (const auto& e : journal.entries) {
        if (!IsPlain(e.name) || e.file.empty() || (e.file[0] != '/' && !IsPlain(e.file)) ||
            !names.insert(e.name).second || !files.insert(e.file).second || e.index == 0 ||
            !indexes.insert(e.index).second)
            __builtin_trap();
        if (e.digest.size() != 32u || e.digest.find_first_not_of("0123456789abcdef") != std::string::npos)
            __builtin_trap();
    }
    // A sealed journal reads back as it was written, and only so.
    const std::string again = CQNF_FileSeries::JournalBytes(journal);
    CQNF_FileSeries::Journal reread;
    if (!Parse(again, reread) || !Same(journal, reread))
        __builtin_trap();
    std::string changed = again;
    changed[changeAt % changed.size()] ^= char(1 + changeAt % 255);
    if (Parse(changed, reread) || Parse(again.substr(0, again.size() - 1 - changeAt % again.size()), reread))
        __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    Check(bytes, size);
    Check(Sealed(bytes), size * 7);
    return 0;
}
