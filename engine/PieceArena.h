// Private to the engine: the memory of one cut's pieces (their masks and
// planes), handed out front to back from large chunks and taken back all at
// once, as pieces are.
//
// Hundreds of pieces of a few hundred kilobytes each, as separate heap
// blocks, come in one 4 KB page fault at a time when they are first written
// and go back page by page when the engine lets them go: on a 24-megapixel
// cut that is tens of thousands of faults, a fifth of the cut. Chunks are
// asked for in 2 MB pages where the system has them, unless most of what is
// handed out is never written (a page written then comes in alone).
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

class PieceArena {
public:
    // Chunks of `chunk` bytes at least: address space only, pages come in
    // as they are written. A cut's rasters and the split's working memory
    // are lent in one chunk, in front of the planes that reuse their pages.
    explicit PieceArena(size_t chunk = size_t(256) << 20, bool largePages = true)
        : m_chunk(chunk), m_largePages(largePages)
    {
    }
    PieceArena(const PieceArena&) = delete;
    PieceArena& operator=(const PieceArena&) = delete;
    ~PieceArena() { Release(); }

    // n bytes (n > 0) on a 64-byte boundary, or null when no chunk could be
    // had (the caller then uses the heap). `zeroed` tells whether they still
    // read 0: bytes never handed out since their chunk came from the system.
    uint8_t* Take(uint64_t n, bool& zeroed);
    // n bytes from `offset` past where the next block will be handed out,
    // lent for scratch use (a split's rasters) until blocks are handed out
    // there: the caller must be done with them before anyone writes a block
    // taken after this call. They no longer read 0. Null when no chunk
    // could be had. Lent memory is the pages the pieces use next, so that a
    // second cut's rasters need no fresh pages, nor the planes after them.
    uint8_t* Lend(uint64_t offset, uint64_t n);
    // Everything handed out is free again; the chunks stay for the next cut.
    void Reset();
    // Gives back what the pieces handed out since the last Reset do not use:
    // the chunks after the one in use, and the pages past its last block.
    void Trim();
    // Gives every chunk back to the system.
    void Release();

    // Bytes taken from the system (for tests).
    size_t Mapped() const;

private:
    struct Chunk {
        uint8_t* base = nullptr;
        size_t size = 0;
        size_t used = 0;   // bytes handed out since the last Reset
        size_t clean = 0;  // from here on never handed out: reads 0
    };
    bool i_AddChunk(size_t atLeast);

    size_t m_chunk;
    bool m_largePages;
    std::vector<Chunk> m_chunks;
    size_t m_current = 0;
    // Under the address checker: the blocks handed out since the last Reset,
    // to poison all else again after memory was lent.
    std::vector<std::pair<uint8_t*, size_t>> m_blocks;
};
