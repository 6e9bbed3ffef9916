#include "engine/PieceArena.h"

#include <algorithm>

#if defined(__unix__) || defined(__APPLE__)
#include <sys/mman.h>
#define PIECE_ARENA_MAPS 1
#endif

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#define PIECE_ARENA_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#include <sanitizer/asan_interface.h>
#define PIECE_ARENA_ASAN 1
#endif
#endif

namespace {

constexpr size_t kPage = size_t(2) << 20;   // a large page
constexpr size_t kLargest = size_t(4) << 30;  // the largest block or loan
constexpr size_t kAlign = 64;
#if defined(PIECE_ARENA_ASAN)
// Blocks are laid out with a poisoned gap between them, so that a write past
// a piece's plane is still caught as it is on the heap.
constexpr size_t kGap = 64;
void Poison(uint8_t* p, size_t n) { ASAN_POISON_MEMORY_REGION(p, n); }
void Unpoison(uint8_t* p, size_t n) { ASAN_UNPOISON_MEMORY_REGION(p, n); }
#else
constexpr size_t kGap = 0;
void Poison(uint8_t*, size_t) {}
void Unpoison(uint8_t*, size_t) {}
#endif

size_t RoundUp(size_t n, size_t to) { return (n + to - 1) / to * to; }

}  // namespace

bool PieceArena::i_AddChunk(size_t atLeast)
{
#if defined(PIECE_ARENA_MAPS)
    const size_t size = std::max(m_chunk, RoundUp(atLeast, kPage));
    // Mapped a page larger and cut to a large-page boundary on both sides,
    // so that every 2 MB of the chunk can be one page.
    void* raw = mmap(nullptr, size + kPage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED)
        return false;
    uint8_t* const start = static_cast<uint8_t*>(raw);
    uint8_t* const base = reinterpret_cast<uint8_t*>(RoundUp(reinterpret_cast<uintptr_t>(start), kPage));
    if (base > start)
        munmap(start, size_t(base - start));
    if (base + size < start + size + kPage)
        munmap(base + size, size_t(start + size + kPage - (base + size)));
#if defined(MADV_HUGEPAGE) && defined(MADV_NOHUGEPAGE)
    madvise(base, size, m_largePages ? MADV_HUGEPAGE : MADV_NOHUGEPAGE);
#endif
    try {
        m_chunks.push_back(Chunk{base, size, 0, 0});
    } catch (...) {
        munmap(base, size);
        return false;
    }
    Poison(base, size);
    return true;
#else
    (void)atLeast;
    return false;
#endif
}

uint8_t* PieceArena::Take(uint64_t n, bool& zeroed)
{
    if (n == 0 || n > kLargest)
        return nullptr;
    const size_t need = RoundUp(size_t(n), kAlign) + kGap;
    while (m_current < m_chunks.size() && m_chunks[m_current].size - m_chunks[m_current].used < need)
        ++m_current;
    if (m_current == m_chunks.size() && !i_AddChunk(need))
        return nullptr;
    Chunk& c = m_chunks[m_current];
    uint8_t* const p = c.base + c.used;
    zeroed = c.used >= c.clean;
    c.used += need;
    c.clean = std::max(c.clean, c.used);
    Unpoison(p, size_t(n));
#if defined(PIECE_ARENA_ASAN)
    m_blocks.emplace_back(p, size_t(n));
#endif
    return p;
}

uint8_t* PieceArena::Lend(uint64_t offset, uint64_t n)
{
    if (n == 0 || offset > kLargest || n > kLargest)
        return nullptr;
    const size_t need = RoundUp(size_t(offset + n), kAlign);
    while (m_current < m_chunks.size() && m_chunks[m_current].size - m_chunks[m_current].used < need)
        ++m_current;
    if (m_current == m_chunks.size() && !i_AddChunk(need))
        return nullptr;
    Chunk& c = m_chunks[m_current];
    uint8_t* const p = c.base + c.used + offset;
    c.clean = std::max(c.clean, c.used + need);
    Unpoison(p, size_t(n));
    return p;
}

void PieceArena::Reset()
{
    for (Chunk& c : m_chunks) {
        Poison(c.base, c.used);
        c.used = 0;
    }
    m_current = 0;
    m_blocks.clear();
}

void PieceArena::Trim()
{
#if defined(PIECE_ARENA_ASAN)
    // Lent memory is no longer in use: only the blocks handed out are
    // addressable again, their gaps and what lies past them poisoned. Past
    // `clean` nothing was handed out nor lent: it is poisoned still.
    for (Chunk& c : m_chunks)
        Poison(c.base, c.clean);
    for (const auto& [p, n] : m_blocks)
        Unpoison(p, n);
#endif
#if defined(PIECE_ARENA_MAPS)
    // The chunks in use keep their pages up to their last block; the pages
    // past it read 0 again once given back.
    const size_t keep = std::min(m_current + 1, m_chunks.size());
    for (size_t i = 0; i < keep; ++i) {
        Chunk& c = m_chunks[i];
        const size_t from = RoundUp(c.used, size_t(4096));
        if (c.clean > from) {
            madvise(c.base + from, c.clean - from, MADV_DONTNEED);
            c.clean = from;
        }
    }
    for (size_t i = keep; i < m_chunks.size(); ++i) {
        Unpoison(m_chunks[i].base, m_chunks[i].size);
        munmap(m_chunks[i].base, m_chunks[i].size);
    }
    m_chunks.resize(keep);
#endif
}

void PieceArena::Release()
{
#if defined(PIECE_ARENA_MAPS)
    for (Chunk& c : m_chunks) {
        Unpoison(c.base, c.size);
        munmap(c.base, c.size);
    }
#endif
    m_chunks.clear();
    m_current = 0;
    m_blocks.clear();
}

size_t PieceArena::Mapped() const
{
    size_t total = 0;
    for (const Chunk& c : m_chunks)
        total += c.size;
    return total;
}
