// CQNF_Storage: the hierarchical container of typed records addressed by
// keys of names joined by ">" ("Preferences>OnLoadZoom"), kept in a file or
// read from a memory image, stamped with an MD5 digest (format: StorageFormat.h).
//
// How it is kept:
// - Opening reads the whole container once and builds the folder tree and
//   the sorted key index in one pass. A malformed container does not open
//   (113); see StorageFormat.h for what is checked. Only regular files are
//   opened, and one that does not begin with the magic is refused before
//   it is read.
// - The container's bytes stay in memory. A file opened by path is never
//   written in place: every write operation puts the complete new container,
//   stamped, in a temporary file beside it and renames that over the old
//   file only once it is complete and synced. A failed write leaves the old
//   file as it was, and the open container as it was before the operation.
//   The file on disk always carries a matching stamp.
// - Two processes may update one file at once: each write operation holds
//   an advisory lock on the file (CQNF_FileLock) from the moment it takes in
//   what the other wrote since (reading the file again) to its own write.
//   BeginUpdate / EndUpdate hold it over several operations, which then
//   reach the file in one write.
// - A container on a caller's file (the save dialog's fresh file) is
//   rewritten from its start after each write operation.
// - Memory images are read-only and borrowed: they must outlive Close().
// - The indexed variant ("QNCPSv4S") is read-only: appending behind its
//   stored index would make it unreadable.
//
// Access modes (qnstorage::kOpen...): 0 read and write an existing
// container, 1 read only, 2 create (an existing file is replaced by a new,
// empty container).
#pragma once

#include "core/Array.h"
#include "core/ErrorManager.h"
#include "core/FileLock.h"
#include "core/Mem.h"
#include "core/StdFile.h"
#include "core/StorageFormat.h"
#include "core/String.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct stat;

// Error numbers of the storage container.
namespace qnerr {
inline constexpr unsigned short StorageStamp = 112;         // stamp differs; marking a removal failed
inline constexpr unsigned short StorageFormat = 113;        // not a container, or a malformed one
inline constexpr unsigned short StorageNoKey = 114;         // key not found
inline constexpr unsigned short StorageReadOnly = 115;      // write on a read-only container
inline constexpr unsigned short StorageFolderExists = 116;  // AddFolder of a key that exists
inline constexpr unsigned short StorageNotFolder = 117;     // parent is not a folder or is absent
inline constexpr unsigned short StorageWrongType = 118;     // record of another type than asked
}  // namespace qnerr

// What the general readers return for a key that is absent; never stored as
// an error number.
inline constexpr unsigned char kQnStorageNoRecord = 199;

// Where records of an open container are cut off from its root (see
// qnstorage::FindCutOffs), with the records where the chain breaks as
// stored.
struct QnStorageCutOff {
    struct Record {
        std::string name;
        uint8_t type;
        uint32_t id;
        uint32_t parent;
    };
    qnstorage::CutOff::Cause cause;
    std::vector<Record> at;
    uint32_t below;  // live records held by those, cut off with them
};

// The value slot of the general record operations. Types 1, 2, 3 and 6 use
// u8, u16, u32 and f64. For types 4 and 5, ptr is the caller's buffer: a
// reader given a null ptr stores the payload's byte count in u32 instead (a
// string's count includes its terminating 0); a reader given a buffer copies
// that many bytes into it, so the buffer must hold the count such a first
// call returned. A writer takes the bytes from ptr and the count from its
// size argument.
union _QNSTORAGEDATA {
    uint8_t u8;
    uint16_t u16;
    uint32_t u32;
    double f64;
    void* ptr;
};
static_assert(sizeof(_QNSTORAGEDATA) == 8);

class CQNF_Storage : public CQNF_FrameWork {
public:
    CQNF_Storage() = default;
    ~CQNF_Storage() override;
    CQNF_Storage(const CQNF_Storage&) = delete;
    CQNF_Storage& operator=(const CQNF_Storage&) = delete;

    // Opening. Each resets the error number and closes what was open.
    // A file by path: mode 0 needs an existing, writable file (32 otherwise),
    // mode 1 an existing file, mode 2 replaces or creates it. An empty file
    // gets a new container (refused with 1 in mode 1).
    bool Open(const CQNF_String& path, unsigned short mode);
    // The same for a name inside a folder.
    bool Open(const char* name, const FSRef* folder, unsigned short mode);
    // A file the caller opened and keeps owning; it is read from its start.
    // A container in it is opened as it is (in every mode); an empty file
    // gets a new one (refused with 1 in mode 1). Close() flushes and closes
    // the file but does not destroy it.
    bool Open(CQNF_StdFile* file, unsigned short mode);
    // A read-only container on the caller's bytes (plain variant only; the
    // stamp is not checked).
    bool Open(const unsigned char* image, size_t size);
    bool Open(const CQNF_Mem* block);
    // Ends an unfinished update and forgets the container. False when the
    // update could not be written: the file then keeps its content, and the
    // container is released all the same. A caller's file is flushed and
    // closed, not destroyed.
    bool Close();
    bool IsOpened() const { return m_open; }

    // Stamp checks: true when bytes 8..23 hold the MD5 of bytes 24..end.
    // An image below 25 bytes or one that does not begin with the magic
    // fails with 113 (the file forms pass an empty file), a wrong stamp with
    // 112.
    bool CheckMD5(const unsigned char* image, size_t size);
    bool CheckMD5(const CQNF_String& path);
    bool CheckMD5(const char* name, const FSRef* folder);
    // The rest of an open file from its current position; a device or pipe
    // fails with 113.
    bool CheckMD5(CQNF_StdFile* file);
    // The open container's own bytes as they were read (2 when none is open).
    bool CheckMD5();

    // Several write operations as one: the file is locked from BeginUpdate
    // (which first takes in what other processes wrote) to EndUpdate, which
    // writes the result once. A failed EndUpdate leaves the file as it was
    // and reads the container from it again. Close ends an open update.
    bool BeginUpdate();
    bool EndUpdate();

    // Reading. The general readers return the record's type, or
    // kQnStorageNoRecord with error 114.
    unsigned char GetRecType(const CQNF_String& key);
    unsigned char GetRec(const CQNF_String& key, _QNSTORAGEDATA& value);
    // Typed readers: reset the error number; false with 114 (absent) or 118
    // (another type), the variable then keeps its value.
    bool GetRec(const CQNF_String& key, uint8_t& value);
    bool GetRec(const CQNF_String& key, uint16_t& value);
    bool GetRec(const CQNF_String& key, uint32_t& value);
    bool GetRec(const CQNF_String& key, double& value);
    // A string record (type 4): the characters before the terminator.
    bool GetRec(const CQNF_String& key, CQNF_String& value);
    // A binary record (type 5), the block allocated to its size.
    bool GetRec(const CQNF_String& key, CQNF_Mem& value);
    // A string or binary record into a buffer of `size` bytes. A null buffer
    // asks for the count, stored in size. A count above size fails (1) and
    // stores the count needed.
    bool GetRec(const CQNF_String& key, unsigned char* buffer, uint32_t& size);
    // The names of a folder's direct children in file order, each tagged
    // with its type; the empty key lists the root. 117 for a key that is not
    // a folder.
    bool GetAllRecords(const CQNF_String& folder, CQNF_StringArray& out);
    // Every key, sorted, each tagged with its record's offset.
    CQNF_StringArray* GetAllRecordsArray();
    uint32_t GetTotalRecords() const { return uint32_t(m_c.index.size()); }
    // The live records the key index leaves out because their parent chain
    // never reaches the root (damage: no writer makes such a container).
    std::vector<QnStorageCutOff> GetCutOffs() const;
    uint32_t GetPhysicalSize() const { return m_physicalSize; }
    bool IsChanged() const { return m_changed != 0; }

    // Writing: 115 on a read-only container, 2 when none is open; keys with
    // an empty name anywhere give 1; a missing or non-folder parent gives
    // 117. Missing parent folders are not created.
    bool AddFolder(const CQNF_String& key);
    // Any type 0..6 (0 is AddFolder). An existing record of the same type is
    // overwritten in place when the new value fits; otherwise (and for
    // another type) the old record is removed and a new one appended.
    bool SetRecord(const CQNF_String& key, unsigned char type, _QNSTORAGEDATA value, uint32_t size);
    bool SetRecord(const CQNF_String& key, uint8_t value);
    bool SetRecord(const CQNF_String& key, uint16_t value);
    bool SetRecord(const CQNF_String& key, uint32_t value);
    bool SetRecord(const CQNF_String& key, double value);
    // A string record: the characters and their terminator.
    bool SetRecord(const CQNF_String& key, const CQNF_String& value);
    // A binary record of size bytes.
    bool SetRecord(const CQNF_String& key, const unsigned char* data, uint32_t size);
    // Removes a record and everything below it (114 when absent).
    bool KillRec(const CQNF_String& key);
    // Moves a record (with everything below it) to another name and parent.
    // 114 when oldKey is absent; 1 when newKey exists, when the new parent is
    // not a folder, or when a folder would move into itself.
    bool Rename(const CQNF_String& oldKey, const CQNF_String& newKey);

private:
    // What identifies the file's content as we last read or wrote it.
    struct DiskId {
        uint64_t dev = 0, ino = 0, size = 0;
        int64_t sec = 0, nsec = 0;
        static DiskId Of(const struct stat& sb);
        bool operator==(const DiskId&) const = default;
    };
    // One write operation on a file by path: locked, and up to date with
    // the file, while it lives (unless an update holds the lock already).
    struct Cycle {
        explicit Cycle(CQNF_Storage& storage);
        ~Cycle();
        Cycle(const Cycle&) = delete;
        Cycle& operator=(const Cycle&) = delete;
        CQNF_Storage& st;
        bool ready = false;
        bool locked = false;
    };
    struct Patch {
        uint32_t offset;
        std::string old;
    };
    struct Undo {
        uint32_t size = 0;
        uint8_t head[qnstorage::kRecordsOffset] = {};
        std::vector<Patch> patches;
    };

    bool i_OpenFileImage(CQNF_StdFile& file);
    // Whether the file of that length is framed as a container: the magic at
    // both ends and record lengths that chain to the end of the records
    // area. A few small reads, so that a large file that is no container is
    // refused before it is read whole.
    static bool i_FileIsFramed(CQNF_StdFile& file, uint64_t length);
    bool i_ReadPath();
    bool i_ReplaceByPath();
    bool i_LockAndRefresh();
    void i_NoteOnDisk();
    void i_Stamp();
    bool i_UseImage(bool allowIndexed);
    bool i_NewContainer();
    void i_Forget();

    const qnstorage::Record* i_Lookup(std::string_view key) const;
    // The payload of the record under key when it has this type; otherwise
    // null with 114 or 118. Resets the error number first.
    const unsigned char* i_Payload(const CQNF_String& key, uint8_t type);
    bool i_CanWrite();
    bool i_CheckStamp(const unsigned char* image, size_t size);

    // Write operations on the in-memory container; the public operations
    // wrap them in i_Begin / i_Commit.
    void i_Begin();
    bool i_Commit();
    bool i_Write();
    void i_Rollback();
    bool i_Reserve(uint64_t size);
    void i_Patch(uint32_t offset, const void* bytes, uint32_t n);
    bool i_Append(uint8_t type, uint32_t parent, uint32_t id, std::string_view name, const void* payload,
                  uint32_t payloadSize, const void* payload2, uint32_t payload2Size, uint32_t& recordIndex);
    bool i_AppendNew(std::string_view key, uint8_t type, const void* payload, uint32_t payloadSize,
                     const void* payload2, uint32_t payload2Size);
    bool i_ParentId(std::string_view parent, uint32_t& id, unsigned short missing, unsigned short notFolder);
    bool i_AddFolder(std::string_view key);
    bool i_SetRecord(std::string_view key, unsigned char type, const _QNSTORAGEDATA& value, uint32_t size);
    bool i_KillRec(std::string_view key);
    bool i_Rebuild();
    bool i_NextId(uint32_t& id);
    unsigned char* i_Data() const { return const_cast<unsigned char*>(m_image); }

    // The container's bytes: the caller's (memory image) or m_buffer's.
    const unsigned char* m_image = nullptr;
    uint32_t m_imageSize = 0;
    CQNF_Mem m_buffer;  // capacity beyond m_imageSize is room to append
    CQNF_StdFile* m_file = nullptr;  // a caller's file
    std::string m_path;              // the file written by path
    unsigned short m_mode = 0;
    uint8_t m_open = 0;
    uint8_t m_readOnly = 0;
    uint8_t m_changed = 0;
    uint32_t m_physicalSize = 0;
    qnstorage::Container m_c;
    Undo m_undo;
    CQNF_StringArray m_allKeys;  // GetAllRecordsArray's copy of the index
    uint8_t m_allKeysStale = 1;
    uint8_t m_batch = 0;    // inside BeginUpdate / EndUpdate
    uint8_t m_pending = 0;  // the update has writes still to make
    DiskId m_onDisk;
    CQNF_FileLock m_lock;
};

// Splits a key at its last ">": parent is what comes before, name what
// comes after; a key without ">" has parent "" and name = key. Always true.
bool SplitPath(const CQNF_String& key, CQNF_String& parent, CQNF_String& name);
