#include "engine/PieceArena.h"

#include <algorithm>
#include <cstring>
#include <new>

#include <sys/mman.h>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#define QN_POISON(p, n) ASAN_POISON_MEMORY_REGION(p, n)
#define QN_UNPOISON(p, n) ASAN_UNPOISON_MEMORY_REGION(p, n)
#else
#define QN_POISON(p, n) ((void)(p), (void)(n))
#define QN_UNPOISON(p, n) ((void)(p), (void)(n))
#endif

namespace {

constexpr uint64_t kAlign = 64;
constexpr uint64_t kChunkBytes = 64ull << 20;
// Under the address checker a gap follows every block, so that a write past
// a block's end is caught instead of landing in the next one.
#if defined(__SANITIZE_ADDRESS__)
constexpr uint64_t kGap = kAlign;
#else
constexpr uint64_t kGap = 0;
#endif

uint64_t RoundUp(uint64_t v, uint64_t to) { return (v + to - 1) / to * to; }

}  // namespace

bool PieceArena::MapChunk(uint64_t bytes, Chunk& out)
{
    // Small pages: here a large one is cleared whole at its first touch,
    // which costs more than the faults it saves.
    const uint64_t size = RoundUp(bytes, kAlign);
    void* raw = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED)
        return false;
    out = Chunk{static_cast<uint8_t*>(raw), size, 0, 0};
    QN_POISON(out.base, size);
    return true;
}

void PieceArena::UnmapChunk(const Chunk& c)
{
    QN_UNPOISON(c.base, c.size);
    munmap(c.base, c.size);
}

PieceArena::~PieceArena()
{
    for (const Chunk& c : m_chunks)
        UnmapChunk(c);
}

PieceBlock* PieceArena::Take(uint64_t bytes, bool zero)
{
    if (bytes >= (1ull << 32))
        return nullptr;
    const uint64_t need = RoundUp(bytes, kAlign) + kGap;
    while (m_current < m_chunks.size() && m_chunks[m_current].used + need > m_chunks[m_current].size)
        ++m_current;
    if (m_current == m_chunks.size()) {
        Chunk c;
        try {
            m_chunks.reserve(m_chunks.size() + 1);
        } catch (const std::bad_alloc&) {
            return nullptr;
        }
        if (!MapChunk(std::max(need, kChunkBytes), c))
            return nullptr;
        m_chunks.push_back(c);
    }
    Chunk& c = m_chunks[m_current];
    PieceBlock* block = nullptr;
    try {
        block = &m_blocks.emplace_back(PieceBlock{c.base + c.used, uint32_t(bytes)});
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    QN_UNPOISON(block->ptr, bytes);
    // Bytes never written since the mapping was made are still zero.
    if (zero && c.used < c.dirty)
        std::memset(block->ptr, 0, size_t(std::min(bytes, c.dirty - c.used)));
    c.used += need;
    c.dirty = std::max(c.dirty, c.used);
    return block;
}

void PieceArena::Reset()
{
    for (Chunk& c : m_chunks) {
        QN_POISON(c.base, c.used);
        c.used = 0;
    }
    m_current = 0;
    m_blocks.clear();
}

void PieceArena::Trim()
{
    size_t kept = 0;
    for (const Chunk& c : m_chunks) {
        if (c.used > 0)
            m_chunks[kept++] = c;
        else
            UnmapChunk(c);
    }
    m_chunks.resize(kept);
    m_current = std::min(m_current, kept > 0 ? kept - 1 : 0);
}

uint64_t PieceArena::Mapped() const
{
    uint64_t total = 0;
    for (const Chunk& c : m_chunks)
        total += c.size;
    return total;
}
