// CQNF_Mem: the owned, resizable byte block every other container sits on.
//
// The size is 32 bits wide. Requests are taken as 64-bit values so that a
// size computed from a product (width x height x planes, count x record size)
// can be refused with error 17 when it does not fit, instead of being
// truncated into a small block that a caller then overruns. Use qnMulSize to
// form such products: an overflowing product saturates and is refused too.
//
// Failures leave the reason in the block's error number (CQNF_ErrorManager):
//   2  the block is empty, or an offset lies beyond its end
//   17 memory could not be had (or the request exceeds 32 bits)
#pragma once

#include "core/ErrorManager.h"

#include <cstddef>
#include <cstdint>
#include <initializer_list>

// Product of sizes in 64 bits; UINT64_MAX when it overflows, which every
// allocating operation refuses with error 17.
inline uint64_t qnMulSize(std::initializer_list<uint64_t> factors)
{
    uint64_t r = 1;
    for (uint64_t f : factors)
        if (__builtin_mul_overflow(r, f, &r))
            return UINT64_MAX;
    return r;
}

class CQNF_Mem : public CQNF_FrameWork {
public:
    CQNF_Mem() = default;
    // Allocates n uninitialised bytes as alloc() does.
    explicit CQNF_Mem(uint64_t n);
    // Deep copy of another block; a null source gives an empty block.
    explicit CQNF_Mem(const CQNF_Mem* other);
    CQNF_Mem(const CQNF_Mem& other);
    CQNF_Mem(CQNF_Mem&& other) noexcept;
    // Deep copy; on failure the block is empty with error 17.
    CQNF_Mem& operator=(const CQNF_Mem& other);
    CQNF_Mem& operator=(CQNF_Mem&& other) noexcept;
    ~CQNF_Mem() override;

    // Replaces the block by n uninitialised bytes. The old block is released
    // first, so on failure (error 17) the block is empty. n == 0 leaves an
    // empty block and returns null without storing an error. A success does
    // not reset the error number.
    unsigned char* alloc(uint64_t n);
    unsigned char* allocByte(uint64_t n) { return alloc(n); }
    unsigned char* allocWord(uint64_t n) { return alloc(qnMulSize({n, 2})); }
    unsigned char* allocDWord(uint64_t n) { return alloc(qnMulSize({n, 4})); }
    // As alloc, with every byte zero.
    unsigned char* Zalloc(uint64_t n);
    unsigned char* ZallocByte(uint64_t n) { return Zalloc(n); }
    unsigned char* ZallocWord(uint64_t n) { return Zalloc(qnMulSize({n, 2})); }
    unsigned char* ZallocDWord(uint64_t n) { return Zalloc(qnMulSize({n, 4})); }
    // Releases the block; the error number is left alone. A borrowed block
    // is only forgotten.
    void free();
    // Makes the block a view of n bytes at p that it does not own (memory of
    // an arena that outlives the view): free() and the destructor leave them
    // alone. A copy of the block owns its bytes; alloc() and Resize() make it
    // own fresh ones.
    void Borrow(unsigned char* p, uint32_t n);
    bool IsBorrowed() const { return m_borrowed; }

    uint32_t GetSize() const { return m_size; }
    unsigned char* GetPtr() const { return m_ptr; }
    unsigned char* GetPtr(uint32_t* size) const
    {
        if (size)
            *size = m_size;
        return m_ptr;
    }
    bool IsEmpty() const { return m_size == 0; }

    // Fills. Each resets the error number on success; an empty block gives
    // error 2. The 16- and 32-bit fills write whole words in native order and
    // leave trailing bytes alone.
    bool Set(uint8_t value);
    // Fills min(n, size - offset) bytes from offset; needs offset < size.
    bool Set(uint8_t value, uint32_t offset, uint32_t n);
    bool Set(uint16_t value);
    bool Set(uint32_t value);
    bool Zero() { return Set(uint8_t{0}); }

    // Copies min(GetSize(), src size - srcOffset) bytes of src from srcOffset
    // to the start of this block, limited to max when max != 0. Returns the
    // count copied. Overlapping ranges (src == this) are handled.
    uint32_t Copy(const CQNF_Mem* src, uint32_t srcOffset, uint32_t max);
    // The same into this block at dstOffset.
    uint32_t Copy(uint32_t dstOffset, const CQNF_Mem* src, uint32_t srcOffset, uint32_t max);
    // Copies min(GetSize() - dstOffset, n) bytes of a raw buffer to dstOffset.
    uint32_t Copy(uint32_t dstOffset, const void* src, uint32_t n);

    // A heap copy the caller owns, or null (error 17 in this block).
    CQNF_Mem* Clone();

    // Changes the size keeping the first min(n, old size) bytes; new bytes
    // are zero. n == 0 releases the block. On failure (error 17) the old
    // block stays exactly as it was. Resets the error number.
    bool Resize(uint64_t n);

private:
    // Takes over a fresh buffer of n bytes (n > 0), zeroed when zero is set.
    unsigned char* i_Take(uint64_t n, bool zero);

    void i_Swap(CQNF_Mem& other) noexcept;

    uint32_t m_size = 0;
    unsigned char* m_ptr = nullptr;
    bool m_borrowed = false;
};
