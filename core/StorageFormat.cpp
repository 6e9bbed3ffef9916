#include "core/StorageFormat.h"

#include "core/ErrorManager.h"
#include "core/ZipBlock.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>
#include <unordered_map>

namespace qnstorage {

namespace {

constexpr Status kMalformed = 113;

// Keys are built from names, and a deep folder chain makes every key below
// it long: bound what a hostile image can make us hold.
uint64_t KeyBudget(size_t imageSize) { return (uint64_t(64) << 20) + 4 * uint64_t(imageSize); }

bool IsValidName(std::string_view name)
{
    return !name.empty() && name.find('>') == std::string_view::npos && name.find('\0') == std::string_view::npos;
}

// Folder keys, resolved along parent chains without recursion. A chain that
// ends at a missing parent or runs in a circle never reaches the root: the
// walk from the root never sees it, so neither do we.
class KeyBuilder {
public:
    KeyBuilder(const uint8_t* data, size_t size, const std::vector<Record>& records)
        : m_data(data), m_records(records), m_budget(KeyBudget(size))
    {
    }

    Status Init()
    {
        m_state.assign(m_records.size(), kUnknown);
        m_keys.resize(m_records.size());
        for (uint32_t i = 0; i < m_records.size(); ++i) {
            const Record& r = m_records[i];
            if (r.type != kFolder)
                continue;
            // A folder with the root's id, or two live folders sharing an id,
            // would put a folder inside itself.
            if (r.id == kRootId || !m_folders.emplace(r.id, i).second)
                return kMalformed;
        }
        return 0;
    }

    // The key of the folder that holds a record with this parent id: null
    // when that folder is not reachable from the root.
    Status Parent(uint32_t parent, const std::string*& key)
    {
        static const std::string kRoot;
        key = nullptr;
        if (parent == kRootId) {
            key = &kRoot;
            return 0;
        }
        const auto it = m_folders.find(parent);
        return it == m_folders.end() ? 0 : Folder(it->second, key);
    }

    // The key of a live folder record, or null when it is not reachable.
    Status Folder(uint32_t record, const std::string*& key)
    {
        key = nullptr;
        if (Status st = Resolve(record))
            return st;
        if (m_state[record] == kReachable)
            key = &m_keys[record];
        return 0;
    }

    // Makes the key parent>name within the limits.
    Status Join(const std::string& parent, std::string_view name, std::string& key)
    {
        const uint64_t n = parent.empty() ? name.size() : parent.size() + 1 + name.size();
        if (n > kMaxKeyLength || n > m_budget)
            return kMalformed;
        m_budget -= n;
        key.reserve(n);
        key = parent;
        if (!parent.empty())
            key += '>';
        key.append(name);
        return 0;
    }

private:
    enum : uint8_t { kUnknown, kVisiting, kReachable, kUnreachable };

    Status Resolve(uint32_t folder)
    {
        if (m_state[folder] == kReachable || m_state[folder] == kUnreachable)
            return 0;
        std::vector<uint32_t> chain;
        uint32_t cur = folder;
        bool reachable = false;
        const std::string* base = nullptr;
        for (;;) {
            const uint8_t s = m_state[cur];
            if (s == kReachable) {
                reachable = true;
                base = &m_keys[cur];
                break;
            }
            if (s == kUnreachable || s == kVisiting)
                break;  // a dead end, or a circle
            m_state[cur] = kVisiting;
            chain.push_back(cur);
            const uint32_t parent = m_records[cur].parent;
            if (parent == kRootId) {
                static const std::string kRoot;
                reachable = true;
                base = &kRoot;
                break;
            }
            const auto it = m_folders.find(parent);
            if (it == m_folders.end())
                break;
            cur = it->second;
        }
        // Keys from the top of the chain down.
        for (size_t i = chain.size(); i-- > 0;) {
            const uint32_t f = chain[i];
            if (!reachable) {
                m_state[f] = kUnreachable;
                continue;
            }
            if (Status st = Join(*base, Name(m_data, m_records[f]), m_keys[f]))
                return st;
            m_state[f] = kReachable;
            base = &m_keys[f];
        }
        return 0;
    }

    const uint8_t* m_data;
    const std::vector<Record>& m_records;
    uint64_t m_budget;
    std::unordered_map<uint32_t, uint32_t> m_folders;  // id -> record of a live folder
    std::vector<uint8_t> m_state;
    std::vector<std::string> m_keys;
};

bool HasDuplicates(const std::vector<IndexEntry>& index)
{
    for (size_t i = 1; i < index.size(); ++i)
        if (index[i - 1].key == index[i].key)
            return true;
    return false;
}

void SortIndex(std::vector<IndexEntry>& index)
{
    std::sort(index.begin(), index.end(),
              [](const IndexEntry& a, const IndexEntry& b) { return KeyLess(a.key, b.key); });
}

// Reads the stored key index of the indexed variant (a zip block of u16 k,
// k key bytes, u32 offset entries). Every entry must name a key the records
// give for exactly that record; the walk's index is in out.index.
Status LoadStoredIndex(const uint8_t* block, uint32_t blockSize, Container& out)
{
    qnZipHeader header;
    if (!qnZipReadHeader(block, blockSize, header))
        return qnerr::ZipNotABlock;
    std::vector<uint8_t> raw(header.rawSize);
    if (Status st = qnZipInflate(block, header, raw.data()))
        return st;

    std::vector<IndexEntry> stored;
    size_t pos = 0;
    while (pos < raw.size()) {
        if (raw.size() - pos < 2)
            return kMalformed;
        const uint16_t k = qnGetBE16(raw.data() + pos);
        pos += 2;
        if (k == 0 || k >= kMaxIndexedKey || raw.size() - pos < size_t(k) + 4)
            return kMalformed;
        const std::string_view key(reinterpret_cast<const char*>(raw.data()) + pos, k);
        const uint32_t offset = qnGetBE32(raw.data() + pos + k);
        pos += size_t(k) + 4;
        const ptrdiff_t at = Find(out.index, key);
        if (at < 0 || out.index[size_t(at)].offset != offset)
            return kMalformed;
        stored.push_back(out.index[size_t(at)]);
    }
    // Stored in ascending order by the writer; sorting costs nothing then and
    // keeps lookups right when it was not.
    SortIndex(stored);
    if (HasDuplicates(stored))
        return kMalformed;
    out.index = std::move(stored);
    return 0;
}

}  // namespace

double GetBEDouble(const uint8_t* p)
{
    const uint64_t bits = uint64_t(qnGetBE32(p)) << 32 | qnGetBE32(p + 4);
    return std::bit_cast<double>(bits);
}

void PutBEDouble(uint8_t* p, double v)
{
    const uint64_t bits = std::bit_cast<uint64_t>(v);
    qnPutBE32(p, uint32_t(bits >> 32));
    qnPutBE32(p + 4, uint32_t(bits));
}

uint32_t FixedPayloadSize(uint8_t type)
{
    switch (type) {
    case kU8:
        return 1;
    case kU16:
        return 2;
    case kU32:
        return 4;
    case kDouble:
        return 8;
    default:
        return 0;
    }
}

Status ReadRecord(const uint8_t* data, uint32_t offset, uint32_t end, Record& rec)
{
    if (uint64_t(offset) + kRecordHead > end)
        return kMalformed;
    const uint8_t* p = data + offset;
    rec.offset = offset;
    rec.length = qnGetBE32(p);
    rec.type = p[kTypeOffset];
    rec.parent = qnGetBE32(p + 5);
    rec.id = qnGetBE32(p + 9);
    rec.nameLength = qnGetBE16(p + 13);
    if (rec.length < 11 || uint64_t(offset) + 4 + rec.length > end)
        return kMalformed;
    if (!rec.IsLive())
        return 0;  // skipped by every reader: only its extent matters
    if (uint32_t(11) + rec.nameLength > rec.length || !IsValidName(Name(data, rec)))
        return kMalformed;
    const uint32_t room = rec.PayloadRoom();
    if (room < FixedPayloadSize(rec.type))
        return kMalformed;
    if (rec.type == kString || rec.type == kBinary) {
        if (room < kPayloadCountSize || qnGetBE32(data + rec.PayloadOffset()) > room - kPayloadCountSize)
            return kMalformed;
    }
    return 0;
}

Status BuildIndex(const uint8_t* data, Container& out)
{
    try {
        out.index.clear();
        KeyBuilder keys(data, out.recordsEnd, out.records);
        if (Status st = keys.Init())
            return st;
        out.index.reserve(out.records.size());
        for (uint32_t i = 0; i < out.records.size(); ++i) {
            const Record& r = out.records[i];
            if (!r.IsLive())
                continue;
            IndexEntry e{std::string(), r.offset, i};
            const std::string* key = nullptr;
            if (r.type == kFolder) {
                if (Status st = keys.Folder(i, key))
                    return st;
                if (!key)
                    continue;  // not reachable from the root
                e.key = *key;
            } else {
                if (Status st = keys.Parent(r.parent, key))
                    return st;
                if (!key)
                    continue;
                if (Status st = keys.Join(*key, Name(data, r), e.key))
                    return st;
            }
            out.index.push_back(std::move(e));
        }
        SortIndex(out.index);
        if (HasDuplicates(out.index))
            return kMalformed;
        return 0;
    } catch (const std::bad_alloc&) {
        return qnerr::NoMemory;
    }
}

Status Parse(const uint8_t* data, size_t size, bool allowIndexed, Container& out)
{
    try {
        out = Container();
        if (!data || size < kNewSize || size > kMaxContainerSize)
            return kMalformed;
        if (std::memcmp(data, kMagic, kMagicSize) == 0)
            out.indexed = false;
        else if (allowIndexed && std::memcmp(data, kMagicIndexed, kMagicSize) == 0)
            out.indexed = true;
        else
            return kMalformed;
        if (std::memcmp(data + size - kTrailerSize, kMagic, kMagicSize) != 0)
            return kMalformed;

        out.recordCount = qnGetBE32(data + kCountOffset);
        out.lastId = qnGetBE32(data + kLastIdOffset);
        uint32_t end = uint32_t(size) - kTrailerSize;
        uint32_t blockSize = 0;
        if (out.indexed) {
            blockSize = qnGetBE32(data + end - 4);
            if (uint64_t(kRecordsOffset) + 4 + blockSize > end)
                return kMalformed;
            end -= 4 + blockSize;
        }
        out.recordsEnd = end;

        // Every record takes at least 15 bytes: a hostile count cannot make
        // us reserve more than the image can hold.
        out.records.reserve(std::min<uint64_t>(out.recordCount, (end - kRecordsOffset) / kRecordHead));
        uint32_t offset = kRecordsOffset;
        for (uint32_t i = 0; i < out.recordCount; ++i) {
            Record rec;
            if (Status st = ReadRecord(data, offset, end, rec))
                return st;
            out.records.push_back(rec);
            out.maxId = std::max(out.maxId, rec.id);
            if (rec.parent != kRootId)
                out.maxId = std::max(out.maxId, rec.parent);
            offset = rec.End();
        }
        // Records that stop short of the end would put the next append after
        // bytes no reader can walk.
        if (offset != end)
            return kMalformed;

        if (Status st = BuildIndex(data, out))
            return st;
        if (out.indexed)
            return LoadStoredIndex(data + end, blockSize, out);
        return 0;
    } catch (const std::bad_alloc&) {
        return qnerr::NoMemory;
    }
}

std::vector<CutOff> FindCutOffs(const Container& c)
{
    std::unordered_map<uint32_t, uint32_t> folders;  // id -> record of a live folder (ids are unique)
    for (uint32_t i = 0; i < c.records.size(); ++i)
        if (c.records[i].type == kFolder)
            folders.emplace(c.records[i].id, i);
    // Each record's fate: reached from the root, on the chain being
    // followed, or the cut it hangs from (an index into cuts).
    constexpr uint32_t kUnknown = UINT32_MAX, kReached = UINT32_MAX - 1, kVisiting = UINT32_MAX - 2;
    std::vector<uint32_t> fate(c.records.size(), kUnknown);
    std::vector<CutOff> cuts;
    std::vector<uint32_t> chain;
    for (uint32_t i = 0; i < c.records.size(); ++i) {
        if (!c.records[i].IsLive() || fate[i] != kUnknown)
            continue;
        // Up the parent chain to the root, to a record whose fate is known,
        // or to where it breaks.
        chain.clear();
        uint32_t cur = i;
        uint32_t result = kReached;
        bool newCut = false;
        for (;;) {
            if (fate[cur] == kVisiting) {
                const size_t from = size_t(std::find(chain.begin(), chain.end(), cur) - chain.begin());
                CutOff cut{chain.size() - from == 1 ? CutOff::kOwnParent : CutOff::kCycle,
                           std::vector<uint32_t>(chain.begin() + ptrdiff_t(from), chain.end())};
                result = uint32_t(cuts.size());
                cuts.push_back(std::move(cut));
                newCut = true;
                break;
            }
            if (fate[cur] != kUnknown) {
                result = fate[cur];
                break;
            }
            fate[cur] = kVisiting;
            chain.push_back(cur);
            const uint32_t parent = c.records[cur].parent;
            if (parent == kRootId)
                break;
            const auto it = folders.find(parent);
            if (it == folders.end()) {
                result = uint32_t(cuts.size());
                cuts.push_back(CutOff{CutOff::kMissingParent, {cur}});
                newCut = true;
                break;
            }
            cur = it->second;
        }
        for (const uint32_t r : chain)
            fate[r] = result;
        if (result != kReached)
            cuts[result].below += uint32_t(chain.size() - (newCut ? cuts[result].at.size() : 0));
    }
    return cuts;
}

ptrdiff_t Find(const std::vector<IndexEntry>& index, std::string_view key)
{
    const auto it = std::lower_bound(index.begin(), index.end(), key,
                                     [](const IndexEntry& e, std::string_view k) { return KeyLess(e.key, k); });
    if (it == index.end() || it->key != key)
        return -1;
    return it - index.begin();
}

bool IsValidKey(std::string_view key)
{
    if (key.empty() || key.size() > kMaxKeyLength || key.find('\0') != std::string_view::npos)
        return false;
    size_t start = 0;
    for (;;) {
        const size_t gt = key.find('>', start);
        const size_t end = gt == std::string_view::npos ? key.size() : gt;
        if (end == start)
            return false;  // an empty name
        if (gt == std::string_view::npos)
            return true;
        start = gt + 1;
    }
}

}  // namespace qnstorage
