// The text of a series' journal and its seal.
//
// "tessolo series journal 7\n", then a line "FILESYSTEM TYPE FOLDERDEVICE
// FOLDERINODE STAGINGDEVICE STAGINGINODE COUNT" naming where it was written
// and how many entries follow, the folder's path from the root of its disk
// and a 0 byte, the name of the staging folder it was written in and a 0
// byte, then one entry a target: "INDEX SIZE MOVED DIGEST NAME"
// (MOVED 1 where the target's old file is moved aside, else 0), a 0 byte
// (no file name holds one), where the content goes (NAME, a name beside it
// a link of that name leads to, or the absolute path of a link's end
// elsewhere on the disk) and a 0 byte. Last comes the seal, "seal " and the
// MD5 digest of everything before it in lower-case hexadecimal, and a line
// end: a journal changed in any byte, or cut short anywhere, no longer
// matches it.
//
// The older forms are still read: "tessolo series journal 6\n" names no
// staging folder; "tessolo series journal 5\n" neither, its first line
// lacks TYPE, no path follows it, and each entry is "INDEX INODE SIZE
// DIGEST NAME".
#include "core/FileSeries.h"

#include "core/MD5Digest.h"
#include "core/ProgramOutput.h"
#include "core/SeriesFiles.h"

#include <algorithm>
#include <charconv>
#include <initializer_list>
#include <set>
#include <string_view>

namespace {

using Journal = CQNF_FileSeries::Journal;
using JournalEntry = CQNF_FileSeries::JournalEntry;

constexpr std::string_view kHead = "tessolo series journal 7\n";
constexpr std::string_view kHead6 = "tessolo series journal 6\n";
constexpr std::string_view kOlderHead = "tessolo series journal 5\n";
// What journals of every version begin with: one of another version is
// left for a person as a damaged one is, its reason told apart.
constexpr std::string_view kAnyHead = "tessolo series journal ";
constexpr std::string_view kSealWord = "seal ";
constexpr size_t kDigits = 2 * CQNF_MD5Digest::kDigestSize;
constexpr size_t kSealSize = kSealWord.size() + kDigits + 1;
constexpr char kDamaged[] = "is damaged";

}  // namespace

std::string qnseries::Hex(const uint8_t* bytes, size_t n)
{
    static const char kHex[] = "0123456789abcdef";
    std::string hex;
    for (size_t k = 0; k < n; ++k) {
        hex.push_back(kHex[bytes[k] >> 4]);
        hex.push_back(kHex[bytes[k] & 15]);
    }
    return hex;
}

namespace {

using qnseries::Hex;

std::string SealOf(std::string_view body)
{
    uint8_t digest[CQNF_MD5Digest::kDigestSize];
    CQNF_MD5Digest::Compute(body.data(), body.size(), digest);
    return std::string(kSealWord) + Hex(digest, sizeof digest) + '\n';
}

// Reads numbers from [p, stop), each followed by one space (the last by
// end); false for anything else.
bool ReadNumbers(const char*& p, const char* stop, std::initializer_list<uint64_t*> fields, char end)
{
    size_t k = 0;
    for (uint64_t* field : fields) {
        const auto [next, ec] = std::from_chars(p, stop, *field);
        const char after = ++k == fields.size() ? end : ' ';
        if (ec != std::errc() || next == stop || *next != after)
            return false;
        p = next + 1;
    }
    return true;
}

bool IsDigest(std::string_view s)
{
    return s.size() == kDigits &&
           std::all_of(s.begin(), s.end(), [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

}  // namespace

bool CQNF_FileSeries::ParseJournal(const uint8_t* data, size_t size, Journal& journal, std::string& why)
{
    journal = Journal();
    why = kDamaged;
    const std::string_view all(reinterpret_cast<const char*>(data), size);
    const bool older = all.substr(0, kOlderHead.size()) == kOlderHead;
    const bool six = all.substr(0, kHead6.size()) == kHead6;
    if (!older && !six && all.substr(0, kHead.size()) != kHead) {
        const std::string_view version = all.size() > kAnyHead.size() ? all.substr(kAnyHead.size(), 2) : "";
        if (all.substr(0, kAnyHead.size()) == kAnyHead && version.size() == 2 && version[0] >= '1' &&
            version[0] <= '4' && version[1] == '\n')
            why = "was written by an older version of this program, whose journals are no longer read";
        return false;
    }
    journal.version = older ? 5 : six ? 6 : 7;
    if (all.size() < kHead.size() + kSealSize)
        return false;
    const std::string_view body = all.substr(0, all.size() - kSealSize);
    if (all.substr(body.size()) != SealOf(body))
        return false;
    const char* p = body.data() + kHead.size();
    const char* const stop = body.data() + body.size();
    uint64_t count = 0;
    if (older ? !ReadNumbers(p, stop,
                             {&journal.fileSystem, &journal.folderDevice, &journal.folderInode,
                              &journal.stagingDevice, &journal.stagingInode, &count},
                             '\n')
              : !ReadNumbers(p, stop,
                             {&journal.fileSystem, &journal.fileSystemType, &journal.folderDevice,
                              &journal.folderInode, &journal.stagingDevice, &journal.stagingInode, &count},
                             '\n'))
        return false;
    if (!older) {
        const char* placeEnd = std::find(p, stop, '\0');
        if (placeEnd == stop || (placeEnd != p && *p != '/'))
            return false;
        journal.place.assign(p, placeEnd);
        p = placeEnd + 1;
    }
    if (!older && !six) {
        const char* nameEnd = std::find(p, stop, '\0');
        if (nameEnd == stop || !qnseries::IsPlainName(std::string_view(p, size_t(nameEnd - p))))
            return false;
        journal.stagingName.assign(p, nameEnd);
        p = nameEnd + 1;
    }
    std::set<std::string_view> names, files;
    std::set<uint64_t> indexes;
    while (p < stop) {
        JournalEntry e;
        const char* nameEnd = std::find(p, stop, '\0');
        uint64_t moved = 0;
        if (nameEnd == stop ||
            !(older ? ReadNumbers(p, nameEnd, {&e.index, &e.inode, &e.size}, ' ')
                    : ReadNumbers(p, nameEnd, {&e.index, &e.size, &moved}, ' ')) ||
            moved > 1 || size_t(nameEnd - p) <= kDigits || p[kDigits] != ' ' ||
            !IsDigest(std::string_view(p, kDigits)))
            return false;
        e.movedAside = moved == 1;
        e.digest.assign(p, kDigits);
        p += kDigits + 1;
        const std::string_view name(p, size_t(nameEnd - p));
        p = nameEnd + 1;
        const char* fileEnd = std::find(p, stop, '\0');
        if (fileEnd == stop)
            return false;
        const std::string_view file(p, size_t(fileEnd - p));
        p = fileEnd + 1;
        // Series names are plain names; the file an entry names is one
        // beside them or an absolute path.
        if (!qnseries::IsPlainName(name) || file.empty() || (file[0] != '/' && !qnseries::IsPlainName(file))) {
            why = "names " + qnShownName(qnseries::IsPlainName(name) ? file : name) +
                  ", which is no name of a file in its folder";
            return false;
        }
        if (e.index == 0 || e.index > qnseries::kMostIndex || !indexes.insert(e.index).second || !names.insert(name).second ||
            !files.insert(file).second)
            return false;
        e.name.assign(name);
        e.file.assign(file);
        journal.entries.push_back(std::move(e));
    }
    if (count != journal.entries.size())
        return false;
    why.clear();
    return true;
}

std::string CQNF_FileSeries::JournalBytes(const Journal& journal)
{
    const bool older = journal.version == 5, six = journal.version == 6;
    std::string text(older ? kOlderHead : six ? kHead6 : kHead);
    text += std::to_string(journal.fileSystem) + ' ';
    if (!older)
        text += std::to_string(journal.fileSystemType) + ' ';
    for (const uint64_t n : {journal.folderDevice, journal.folderInode, journal.stagingDevice, journal.stagingInode})
        text += std::to_string(n) + ' ';
    text += std::to_string(journal.entries.size()) + '\n';
    if (!older) {
        // A path with a 0 byte or not from the root is none.
        if (journal.place.find('\0') == std::string::npos && journal.place.substr(0, 1) == "/")
            text += journal.place;
        text.push_back('\0');
    }
    if (!older && !six) {
        text += journal.stagingName;
        text.push_back('\0');
    }
    for (const JournalEntry& e : journal.entries) {
        text += std::to_string(e.index) + ' ';
        text += older ? std::to_string(e.inode) + ' ' + std::to_string(e.size)
                      : std::to_string(e.size) + ' ' + (e.movedAside ? '1' : '0');
        text += ' ';
        // An entry whose file was missing when the journal was written
        // (its digest none) is never taken for a placed file.
        text += (IsDigest(e.digest) ? e.digest : std::string(kDigits, '0')) + ' ';
        text += e.name;
        text.push_back('\0');
        text += e.file;
        text.push_back('\0');
    }
    return text + SealOf(text);
}
