// The bytes of the storage container, and the reader that turns a container
// image into its record table and key index.
//
//   0        "QNCPSv40" ("QNCPSv4S": a stored key index precedes the trailer)
//   8        MD5 of bytes 24..end (the stamp)
//   24       u32 record count, removed records included
//   28       u32 last id handed out
//   32       records
//   end - 8  trailer "QNCPSv40"
//
// Record: u32 length (bytes after this field), u8 type, u32 parent id
// (0xFFFFFFFF: root), u32 id, u16 name length n, n name bytes, payload.
// Every integer is big-endian; the double is IEEE 754, big-endian.
//
// The reader trusts no byte: every record must lie inside the records area
// and the records must fill it exactly; a live record's name must be
// non-empty and free of ">" and NUL, and its payload must fit its length;
// folder ids must be unique among live folders (a shared id would hang a
// folder inside itself); keys are unique and bounded in length. Anything
// else is error 113. The key index it builds is the one a walk from the root
// through every folder gives: each live record whose parent chain reaches
// the root, under the ">"-joined names of that chain, sorted byte-wise.
#pragma once

#include "core/BlockProcessor.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qnstorage {

inline constexpr char kMagic[8] = {'Q', 'N', 'C', 'P', 'S', 'v', '4', '0'};
inline constexpr char kMagicIndexed[8] = {'Q', 'N', 'C', 'P', 'S', 'v', '4', 'S'};
inline constexpr uint32_t kStampOffset = 8;
inline constexpr uint32_t kStampedFrom = 24;  // the stamp covers bytes 24..end
inline constexpr uint32_t kCountOffset = 24;
inline constexpr uint32_t kLastIdOffset = 28;
inline constexpr uint32_t kRecordsOffset = 32;
inline constexpr uint32_t kTrailerSize = 8;
inline constexpr uint32_t kNewSize = 40;
inline constexpr uint32_t kRecordHead = 15;  // length, type, parent, id, name length
inline constexpr uint32_t kTypeOffset = 4;   // a record's type byte follows its u32 length
inline constexpr uint32_t kRootId = 0xFFFFFFFF;
inline constexpr uint32_t kMagicSize = 8;    // the magic and the trailer
inline constexpr uint32_t kStampSize = 16;   // an MD5 digest
// A string or binary payload begins with its u32 byte count.
inline constexpr uint32_t kPayloadCountSize = 4;
// Offsets and lengths are 32-bit: no container is larger.
inline constexpr uint64_t kMaxContainerSize = UINT32_MAX;
// A name's length is a u16 field.
inline constexpr uint32_t kMaxNameLength = 0xFFFF;

// Access modes of CQNF_Storage::Open by path or name.
inline constexpr unsigned short kOpenUpdate = 0;    // read and write an existing container
inline constexpr unsigned short kOpenReadOnly = 1;  // read only
inline constexpr unsigned short kOpenCreate = 2;    // a new, empty container replaces any file

inline constexpr uint8_t kFolder = 0;
inline constexpr uint8_t kU8 = 1;
inline constexpr uint8_t kU16 = 2;
inline constexpr uint8_t kU32 = 3;
inline constexpr uint8_t kString = 4;
inline constexpr uint8_t kBinary = 5;
inline constexpr uint8_t kDouble = 6;
inline constexpr uint8_t kRemoved = 0x63;

// Longest full key accepted, read or written.
inline constexpr uint32_t kMaxKeyLength = 65535;
// Stored index entries hold keys shorter than this.
inline constexpr uint32_t kMaxIndexedKey = 1000;

double GetBEDouble(const uint8_t* p);
void PutBEDouble(uint8_t* p, double v);

// Fixed payload size of a value type; 0 for folders, strings, binaries and
// unknown types.
uint32_t FixedPayloadSize(uint8_t type);

struct Record {
    uint32_t offset;  // of the length field
    uint32_t length;  // bytes after the length field
    uint32_t parent;
    uint32_t id;
    uint16_t nameLength;
    uint8_t type;

    uint32_t NameOffset() const { return offset + kRecordHead; }
    uint32_t PayloadOffset() const { return offset + kRecordHead + nameLength; }
    // Bytes behind the name, up to the end of the record.
    uint32_t PayloadRoom() const { return length - (kRecordHead - kTypeOffset) - nameLength; }
    uint32_t End() const { return offset + 4 + length; }
    bool IsLive() const { return type != kRemoved; }
};

struct IndexEntry {
    std::string key;
    uint32_t offset;  // of its record
    uint32_t record;  // position in the record table
};

// Byte-wise order with the shorter of two equal beginnings first: the
// case-sensitive order of the framework's strings.
inline bool KeyLess(std::string_view a, std::string_view b) { return a < b; }

struct Container {
    bool indexed = false;
    uint32_t recordCount = 0;
    uint32_t lastId = 0;
    uint32_t maxId = 0;       // highest id of any record, or parent id other than the root
    uint32_t recordsEnd = 0;  // where the records stop
    std::vector<Record> records;     // in file order
    std::vector<IndexEntry> index;   // sorted by key
};

// Result of the readers: 0, or an error number (113 malformed, 17 memory,
// 64 a broken stored index block).
using Status = unsigned short;

// Reads a whole container image. allowIndexed: accept "QNCPSv4S".
Status Parse(const uint8_t* data, size_t size, bool allowIndexed, Container& out);

// Checks and reads the record at `offset` of a records area ending at `end`.
Status ReadRecord(const uint8_t* data, uint32_t offset, uint32_t end, Record& rec);

// Rebuilds out.index from out.records (after a removal or a rename). Fails
// only when the records break the rules above (a rename could not do that)
// or on memory.
Status BuildIndex(const uint8_t* data, Container& out);

// Where live records that no walk from the root reaches are cut off from it
// (the index leaves them out, with everything below them): a record whose
// parent id no live folder has, a folder that is its own parent, or folders
// that are each other's parents in a circle.
struct CutOff {
    enum Cause : uint8_t { kMissingParent, kOwnParent, kCycle };
    Cause cause;
    // The records where the chain breaks, by position in the record table:
    // the one with the missing parent, the folder that holds itself, or the
    // folders of the circle in the order each holds the one before.
    std::vector<uint32_t> at;
    // Live records held, directly or not, by those: cut off with them.
    uint32_t below = 0;
};

// Every cut in a parsed container.
std::vector<CutOff> FindCutOffs(const Container& c);

// Position of key in a sorted index, or -1.
ptrdiff_t Find(const std::vector<IndexEntry>& index, std::string_view key);

// The name of a record, as stored.
inline std::string_view Name(const uint8_t* data, const Record& r)
{
    return {reinterpret_cast<const char*>(data) + r.NameOffset(), r.nameLength};
}

// A key is writable when it is not empty, has no empty segment and is not
// too long; each name then fits the 16-bit name length.
bool IsValidKey(std::string_view key);

}  // namespace qnstorage
