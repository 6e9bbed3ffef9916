#include "core/Mem.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

CQNF_Mem::CQNF_Mem(uint64_t n) { alloc(n); }

CQNF_Mem::CQNF_Mem(const CQNF_Mem* other)
{
    if (!other || other->m_size == 0)
        return;
    if (alloc(other->m_size))
        std::memcpy(m_ptr, other->m_ptr, m_size);
}

CQNF_Mem::CQNF_Mem(const CQNF_Mem& other) : CQNF_Mem(&other) {}

CQNF_Mem::CQNF_Mem(CQNF_Mem&& other) noexcept
    : CQNF_FrameWork(other),
      m_size(std::exchange(other.m_size, 0)),
      m_ptr(std::exchange(other.m_ptr, nullptr)),
      m_borrowed(std::exchange(other.m_borrowed, false))
{
}

void CQNF_Mem::i_Swap(CQNF_Mem& other) noexcept
{
    std::swap(m_size, other.m_size);
    std::swap(m_ptr, other.m_ptr);
    std::swap(m_borrowed, other.m_borrowed);
}

CQNF_Mem& CQNF_Mem::operator=(const CQNF_Mem& other)
{
    if (this == &other)
        return *this;
    CQNF_Mem copy(&other);
    if (other.m_size != 0 && copy.m_size != other.m_size) {
        free();
        SetError(copy.GetError());
        return *this;
    }
    i_Swap(copy);
    ResetError();
    return *this;
}

CQNF_Mem& CQNF_Mem::operator=(CQNF_Mem&& other) noexcept
{
    if (this == &other)
        return *this;
    free();
    CQNF_ErrorManager::operator=(other);
    m_size = std::exchange(other.m_size, 0);
    m_ptr = std::exchange(other.m_ptr, nullptr);
    m_borrowed = std::exchange(other.m_borrowed, false);
    return *this;
}

CQNF_Mem::~CQNF_Mem() { free(); }

unsigned char* CQNF_Mem::i_Take(uint64_t n, bool zero)
{
    // A 32-bit size cannot describe more; refusing keeps callers from
    // working on a block smaller than they asked for.
    if (n > UINT32_MAX) {
        SetError(qnerr::NoMemory);
        return nullptr;
    }
    void* p = zero ? std::calloc(static_cast<size_t>(n), 1) : std::malloc(static_cast<size_t>(n));
    if (!p) {
        SetError(qnerr::NoMemory);
        return nullptr;
    }
    m_ptr = static_cast<unsigned char*>(p);
    m_size = static_cast<uint32_t>(n);
    return m_ptr;
}

unsigned char* CQNF_Mem::alloc(uint64_t n)
{
    free();
    if (n == 0)
        return nullptr;
    return i_Take(n, false);
}

unsigned char* CQNF_Mem::Zalloc(uint64_t n)
{
    free();
    if (n == 0)
        return nullptr;
    return i_Take(n, true);
}

void CQNF_Mem::free()
{
    if (!m_borrowed)
        std::free(m_ptr);
    m_ptr = nullptr;
    m_size = 0;
    m_borrowed = false;
}

void CQNF_Mem::Borrow(unsigned char* p, uint32_t n)
{
    free();
    if (!p || n == 0)
        return;
    m_ptr = p;
    m_size = n;
    m_borrowed = true;
}

bool CQNF_Mem::Set(uint8_t value)
{
    if (m_size == 0) {
        SetError(qnerr::Empty);
        return false;
    }
    std::memset(m_ptr, value, m_size);
    ResetError();
    return true;
}

bool CQNF_Mem::Set(uint8_t value, uint32_t offset, uint32_t n)
{
    if (m_size == 0 || offset >= m_size) {
        SetError(qnerr::Empty);
        return false;
    }
    std::memset(m_ptr + offset, value, std::min(n, m_size - offset));
    ResetError();
    return true;
}

bool CQNF_Mem::Set(uint16_t value)
{
    if (m_size == 0) {
        SetError(qnerr::Empty);
        return false;
    }
    const uint32_t words = m_size / 2;
    for (uint32_t i = 0; i < words; ++i)
        std::memcpy(m_ptr + 2 * size_t(i), &value, 2);
    ResetError();
    return true;
}

bool CQNF_Mem::Set(uint32_t value)
{
    if (m_size == 0) {
        SetError(qnerr::Empty);
        return false;
    }
    const uint32_t words = m_size / 4;
    for (uint32_t i = 0; i < words; ++i)
        std::memcpy(m_ptr + 4 * size_t(i), &value, 4);
    ResetError();
    return true;
}

uint32_t CQNF_Mem::Copy(const CQNF_Mem* src, uint32_t srcOffset, uint32_t max)
{
    return Copy(0, src, srcOffset, max);
}

uint32_t CQNF_Mem::Copy(uint32_t dstOffset, const CQNF_Mem* src, uint32_t srcOffset, uint32_t max)
{
    if (!src) {
        SetError(qnerr::BadArgument);
        return 0;
    }
    // Offsets past either end would make the remaining lengths wrap around.
    if (m_size == 0 || dstOffset > m_size || srcOffset > src->m_size) {
        SetError(qnerr::Empty);
        return 0;
    }
    uint32_t n = std::min(m_size - dstOffset, src->m_size - srcOffset);
    if (max != 0)
        n = std::min(n, max);
    if (n)
        std::memmove(m_ptr + dstOffset, src->m_ptr + srcOffset, n);
    ResetError();
    return n;
}

uint32_t CQNF_Mem::Copy(uint32_t dstOffset, const void* src, uint32_t n)
{
    if (m_size == 0 || dstOffset > m_size) {
        SetError(qnerr::Empty);
        return 0;
    }
    n = std::min(n, m_size - dstOffset);
    if (n && !src) {
        SetError(qnerr::BadArgument);
        return 0;
    }
    if (n)
        std::memmove(m_ptr + dstOffset, src, n);
    ResetError();
    return n;
}

CQNF_Mem* CQNF_Mem::Clone()
{
    CQNF_Mem* c = new (std::nothrow) CQNF_Mem(this);
    if (!c || c->m_size != m_size) {
        delete c;
        SetError(qnerr::NoMemory);
        return nullptr;
    }
    ResetError();
    return c;
}

bool CQNF_Mem::Resize(uint64_t n)
{
    ResetError();
    if (n == m_size)
        return true;
    if (n == 0) {
        free();
        return true;
    }
    CQNF_Mem fresh;
    if (!fresh.Zalloc(n)) {
        SetError(fresh.GetError());
        return false;
    }
    if (m_size != 0)
        std::memcpy(fresh.m_ptr, m_ptr, std::min<uint64_t>(n, m_size));
    i_Swap(fresh);
    return true;
}
