// The memory of the pieces' masks and planes: blocks carved one after the
// other out of a few large mappings, which are kept when the pieces are
// freed. A cut's pieces are then a few mappings made and dropped at once,
// not hundreds of blocks allocated and given back one by one, and a cut
// after the first writes into pages already there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

// One block of the arena: its bytes and their count.
struct PieceBlock {
    uint8_t* ptr = nullptr;
    uint32_t size = 0;
    uint8_t* GetPtr() const { return ptr; }
    uint32_t GetSize() const { return size; }
};

class PieceArena {
public:
    PieceArena() = default;
    ~PieceArena();
    PieceArena(const PieceArena&) = delete;
    PieceArena& operator=(const PieceArena&) = delete;

    // A block of `bytes` (below 4 GB), zeroed when asked, aligned to 64
    // bytes; valid until Reset. Null when memory cannot be had. (Blocks
    // written at different times belong in different arenas: the large
    // pages of a block written early bring in the pages of its neighbours.)
    PieceBlock* Take(uint64_t bytes, bool zero);
    // Every block given back at once; the memory is kept for the next ones.
    void Reset();
    // Mappings no block lies in are dropped.
    void Trim();
    // The bytes the arena holds mapped.
    uint64_t Mapped() const;

private:
    struct Chunk {
        uint8_t* base = nullptr;
        uint64_t size = 0;
        uint64_t used = 0;   // bytes handed out since the last Reset
        uint64_t dirty = 0;  // bytes ever written since the mapping was made
    };
    static bool MapChunk(uint64_t bytes, Chunk& out);
    static void UnmapChunk(const Chunk& c);
    std::vector<Chunk> m_chunks;
    size_t m_current = 0;
    // The blocks' records, apart from their bytes: a record written beside
    // the bytes would bring in their page long before they are used.
    std::deque<PieceBlock> m_blocks;
};
