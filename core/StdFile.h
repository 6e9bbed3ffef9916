// CQNF_StdFile: one C library stream opened in binary mode, by path, by
// file-system reference, or by a name inside a folder.
//
// Access modes:  1 "rb" read an existing file      2 "wb"  create or truncate, write
//                3 "r+b" read and write existing   4 "w+b" create or truncate, read and write
//
// Positions, lengths and transfer counts are 64-bit; failure is -1 (compare
// with -1 or < 0). A short read or write returns the count moved and is not
// an error; moving nothing is. Error numbers:
//   1 mode not 1..4 / null buffer     32 the file did not open
//   33 a write (or the final flush on close) wrote nothing
//   34 a read read nothing            35 the mode does not allow the transfer
//   36 positioning failed             37 the file is not open
//
// Switching between reading and writing on an update stream repositions in
// between, as the C library requires, so callers may mix them freely.
//
// A failed write, flush, positioning or close of a file open for writing
// also keeps the system's reason (errno) for qnLastWriteErrno: the error
// number says what failed, the reason why ("no space left on device").
#pragma once

#include "core/ErrorManager.h"
#include "core/FSRef.h"
#include "core/Mem.h"
#include "core/String.h"

#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

// Access modes of CQNF_StdFile::Open (see above).
namespace qnfile {
inline constexpr uint32_t kRead = 1;       // "rb"
inline constexpr uint32_t kWrite = 2;      // "wb"
inline constexpr uint32_t kUpdate = 3;     // "r+b"
inline constexpr uint32_t kReadWrite = 4;  // "w+b"
}  // namespace qnfile

class CQNF_StdFile : public CQNF_FrameWork {
public:
    CQNF_StdFile() = default;
    CQNF_StdFile(const CQNF_String& path, uint32_t mode);
    CQNF_StdFile(const CQNF_StdFile&) = delete;
    CQNF_StdFile& operator=(const CQNF_StdFile&) = delete;
    ~CQNF_StdFile() override;

    // Each closes an open stream first. Success resets the error number;
    // failure leaves the file closed with both access flags clear. Folders
    // are refused (32), and what is read (modes 1 and 3) must be a regular
    // file: a FIFO or a device is refused (32) without waiting on it.
    bool Open(const CQNF_String& path, uint32_t mode);
    bool Open(const FSRef* ref, uint32_t mode);
    // A name inside a folder. The name must be a single entry: not empty,
    // not "." or "..", without '/' and at most 255 UTF-16 units (else 32).
    bool Open(const CQNF_String& name, const FSRef* folder, uint32_t mode);
    // Takes over an open descriptor (closed with the file, and on failure)
    // with access mode 1..4; nothing is truncated.
    bool OpenDescriptor(int fd, uint32_t mode);
    // True; false (33) only when data still buffered could not be written.
    bool Close();

    bool IsOpened() const { return m_stream != nullptr; }
    bool IsAllowToRead() const { return m_canRead != 0; }
    bool IsAllowToWrite() const { return m_canWrite != 0; }

    // From the start; returns the offset.
    int64_t SetPos(uint64_t offset);
    // Relative to the current position; returns the new position.
    int64_t OffsetPos(int64_t delta);
    int64_t GetPos();
    // Seeks to the end and back: the position is kept.
    int64_t GetLength();

    // n == 0 gives 0.
    int64_t Read(void* buffer, uint32_t n);
    // n bytes into the block when 0 < n < its size, else the block's size.
    int64_t Read(CQNF_Mem& block, uint32_t n = 0);
    int64_t Write(const void* data, uint32_t n);
    // n bytes of the block when 0 < n < its size, else the whole block.
    int64_t Write(const CQNF_Mem& block, uint32_t n = 0);
    bool Flush();

    // The open stream, for code that must reach its descriptor; null when
    // closed. The file keeps owning it.
    FILE* GetStream() const { return m_stream; }

    // Opens the file with the user's default application (CQNF_Launcher).
    // False (32) when the file does not exist or nothing could open it.
    bool LaunchFile(const FSRef* ref);
    bool LaunchFile(const CQNF_String& name, const FSRef* folder);

    // Converts an 8-bit file name to UTF-16 units. Encoding 65535 is the
    // system's: UTF-8; a name that is not valid UTF-8 is read as Latin-1.
    // No normalisation is applied: the folder entry gets the name as given.
    // Returns 0, or -50 for a null output or another encoding, or -8785
    // when the name needs more than 255 units (out->length is then 0).
    static int32_t HFSNameGetUnicodeName(const char* name, HFSUniStr255* out, uint32_t encoding);

private:
    enum class LastOp : uint8_t { None, Read, Write };
    // Repositions in place when the transfer direction changes.
    bool i_Turn(LastOp next);
    // The path of a name in a folder, or false (32) for an unusable name.
    bool i_PathInFolder(const CQNF_String& name, const FSRef* folder, CQNF_String& path);
    bool i_Closed();
    void i_Adopt(FILE* stream, uint32_t mode);
    // Sets number, keeping errno as the reason when the file is written.
    void i_Failed(unsigned short number);

    FILE* m_stream = nullptr;
    uint8_t m_canRead = 0;
    uint8_t m_canWrite = 0;
    LastOp m_last = LastOp::None;
};

// The system's reason (errno) for the last failed write in this thread: of
// a file open for writing (a write, flush, positioning or close), or of
// qnReplaceFile or a CQNF_SafeFile's Open or Commit; 0 when it gave none.
// Opening a file for writing clears it.
int qnLastWriteErrno();
// Keeps error as that reason (0 clears it).
void qnNoteWriteErrno(int error);

// Opens path with open(2) flags (O_RDONLY or O_RDWR; close-on-exec added)
// when it is a regular file, else -1: the kind is checked on a descriptor
// opened without waiting, so a FIFO or a device never blocks the caller.
// errno: open's, EISDIR for a folder, EINVAL for anything else.
int qnOpenRegularFile(const char* path, int flags);

// Empty when path is a regular file that can be opened to read; else the
// one line qnReadWholeFile would give ("cannot read X: not a regular file"), found
// without waiting on a FIFO or device. For readers that open by name.
std::string qnRegularFileProblem(const std::string& path);

// The cap of qnReadWholeFile for callers that state none; a reader that
// knows its format's largest input passes that instead.
inline constexpr uint64_t kQnWholeFileDefaultMax = uint64_t(256) << 20;

// Reads the whole file at path into bytes. A regular file larger than
// maxSize is refused before anything is read; folders, FIFOs and devices
// (/dev/zero) are refused without waiting on them. False with a one-line
// reason in error: "cannot open PATH: why", "cannot read PATH", "PATH is not
// a regular file" or "PATH is too large (over N bytes)".
bool qnReadWholeFile(const std::string& path, std::vector<uint8_t>& bytes, std::string& error,
                     uint64_t maxSize = kQnWholeFileDefaultMax);
// The same for standard input, which may be a pipe: read up to maxSize
// (named "standard input" in error).
bool qnReadWholeStdin(std::vector<uint8_t>& bytes, std::string& error, uint64_t maxSize);

// For readers that load a whole file through their own code: true when path
// is a regular file of at most maxSize bytes. Else false with a one-line
// reason in error, before anything of size has been read. What the file
// holds is the reader's to judge, in the words it gives every program.
bool qnCheckInputFile(const std::string& path, uint64_t maxSize, std::string& error);
