// Whole-block transform stages: a stage is given a source (borrowed bytes, or
// its own copy of a string), writes its result into a destination CQNF_Mem
// that it owns or borrows from the caller, and runs in one Process() call.
//
// The base stage copies. CQNF_ZipBlock (zlib behind a "QNCV2-01" header),
// CQNF_MD5Block (16-byte digest) and CQNF_SecureBlock (XTEA envelope) derive
// from it. Every user follows one pattern: a local stage, SetSourceBlock,
// SetDestBlock(&callersBlock), the mode, Process(), read the caller's block.
//
// A destination handed in with SetDestBlock(CQNF_Mem*) stays the caller's:
// the stage never deletes it. Its own destination dies with the stage, at the
// next SetDestBlock, or at Clean().
#pragma once

#include "core/Bytes.h"
#include "core/ErrorManager.h"
#include "core/Mem.h"
#include "core/Progress.h"
#include "core/String.h"

#include <cstddef>
#include <cstdint>

// Error numbers of the block stages.
namespace qnerr {
inline constexpr unsigned short ZipNotABlock = 64;    // bad header, packed size past the data, corrupt or short stream
inline constexpr unsigned short ZipCompress = 65;     // zlib buffer or memory error while compressing
inline constexpr unsigned short ZipBadArgument = 66;  // no or empty source, mode above 3, invalid level
inline constexpr unsigned short ZipProgress = 67;     // a progress reporter is set
inline constexpr unsigned short MD5NoSource = 80;
inline constexpr unsigned short MD5Progress = 81;
inline constexpr unsigned short SecureBadArgument = 96;  // no or empty source, mode not 0 or 1
inline constexpr unsigned short SecureMismatch = 97;     // deciphered data does not match its digest
inline constexpr unsigned short SecureBadEnvelope = 98;  // envelope too short or malformed
inline constexpr unsigned short SecureProgress = 99;
}  // namespace qnerr

class CQNF_BlockProcessor : public CQNF_FrameWork {
public:
    CQNF_BlockProcessor();
    ~CQNF_BlockProcessor() override;
    CQNF_BlockProcessor(const CQNF_BlockProcessor&) = delete;
    CQNF_BlockProcessor& operator=(const CQNF_BlockProcessor&) = delete;

    // Copies the source into the destination (resized to the source size).
    // False without a destination or with an empty source (no error number
    // for either), or with the block's number when it cannot be resized.
    virtual bool Process();

    // Borrows size bytes at data; they must stay valid until Process() ran.
    virtual bool SetSourceBlock(const void* data, size_t size);
    // Borrows the block's current bytes.
    virtual bool SetSourceBlock(const CQNF_Mem& block);
    // Keeps its own copy of the text; the source is its characters without
    // the terminating NUL.
    virtual bool SetSourceBlock(const CQNF_String& text);
    // Adopts the caller's block as destination (never deleted by the stage).
    virtual CQNF_Mem* SetDestBlock(CQNF_Mem* block);
    // Gives the stage a new empty destination of its own.
    virtual CQNF_Mem* SetDestBlock();

    CQNF_Mem* GetDestBlock() const { return m_dest; }
    // Drops the stage's own destination; afterwards there is none.
    void Clean();
    // No stage reports progress: while one is set, Process() of every
    // derived stage refuses to run.
    void SetProgress(CQNF_Progress& progress) { m_progress = &progress; }

protected:
    void i_DropDest();

    const uint8_t* m_source = nullptr;
    size_t m_sourceSize = 0;
    CQNF_String m_sourceText;
    CQNF_Mem* m_dest = nullptr;
    uint8_t m_destIsCallers = 0;
    CQNF_Progress* m_progress = nullptr;
};
