// The string's construction, access, appending, pieces and formatting; editing,
// comparison and search are in StringEdit.cpp.
#include "core/String.h"
#include "core/StringInternal.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <utility>

namespace {

// What GetStr() shows for a string that has no buffer (its allocation
// failed), so that callers never receive a null C string.
char g_empty[1] = {0};

constexpr uint32_t kMinCapacity = 20;

}  // namespace

using qnstring::CLength;

// ---------------------------------------------------------------------------
// Construction and assignment

CQNF_String::CQNF_String() : CQNF_String(static_cast<const char*>(nullptr)) {}

CQNF_String::CQNF_String(const char* text)
{
    const uint32_t n = CLength(text);
    if (!m_mem.Zalloc(std::max<uint64_t>(uint64_t(n) + 1, kMinCapacity))) {
        SetError(m_mem.GetError());
        return;
    }
    if (n)
        std::memcpy(Buf(), text, n);
    m_length = n;
}

CQNF_String::CQNF_String(const CQNF_String& other)
    : CQNF_FrameWork(), m_tag(other.m_tag), m_mem(&other.m_mem), m_length(other.m_length)
{
    if (m_mem.GetSize() != other.m_mem.GetSize()) {
        SetError(m_mem.GetError());
        m_length = 0;
    }
}

CQNF_String::~CQNF_String() = default;

CQNF_String& CQNF_String::operator=(const CQNF_String& other)
{
    if (this == &other) {
        ResetError();
        return *this;
    }
    CQNF_Mem copy(&other.m_mem);
    if (copy.GetSize() != other.m_mem.GetSize()) {
        m_mem.free();
        m_length = 0;
        SetError(copy.GetError());
        return *this;
    }
    m_mem = std::move(copy);
    m_length = other.m_length;
    m_tag = other.m_tag;
    ResetError();
    return *this;
}

CQNF_String& CQNF_String::operator=(const char* text)
{
    // A fresh buffer first: text may point into the current one.
    const uint32_t n = CLength(text);
    CQNF_Mem fresh;
    if (!fresh.Zalloc(std::max<uint64_t>(uint64_t(n) + 1, kMinCapacity))) {
        m_mem.free();
        m_length = 0;
        SetError(fresh.GetError());
        return *this;
    }
    if (n)
        std::memcpy(fresh.GetPtr(), text, n);
    m_mem = std::move(fresh);
    m_length = n;
    return *this;
}

CQNF_String& CQNF_String::operator=(char c)
{
    const char text[2] = {c, 0};
    return *this = text;
}

// ---------------------------------------------------------------------------
// Access

char* CQNF_String::GetStr() { return m_mem.GetSize() ? Buf() : g_empty; }

const char* CQNF_String::GetStr() const { return m_mem.GetSize() ? Buf() : g_empty; }

signed char CQNF_String::At(uint64_t i) const { return i < m_length ? static_cast<signed char>(Buf()[i]) : 0; }

bool CQNF_String::Compact()
{
    if (!m_mem.Resize(uint64_t(m_length) + 1)) {
        SetError(m_mem.GetError());
        return false;
    }
    Buf()[m_length] = 0;
    return true;
}

bool CQNF_String::i_Owns(const void* p) const
{
    const auto at = reinterpret_cast<uintptr_t>(p);
    const auto begin = reinterpret_cast<uintptr_t>(m_mem.GetPtr());
    return m_mem.GetSize() && at >= begin && at - begin < m_mem.GetSize();
}

const char* CQNF_String::i_Aside(const void* p, uint32_t n, CQNF_Mem& aside)
{
    if (!aside.alloc(n)) {
        SetError(aside.GetError());
        return nullptr;
    }
    std::memcpy(aside.GetPtr(), p, n);
    return reinterpret_cast<const char*>(aside.GetPtr());
}

bool CQNF_String::i_Grow(uint64_t needed, uint64_t minGrow)
{
    const uint64_t capacity = m_mem.GetSize();
    if (needed <= capacity)
        return true;
    if (!m_mem.Resize(capacity + std::max(needed - capacity, minGrow))) {
        SetError(m_mem.GetError());
        return false;
    }
    return true;
}

// ---------------------------------------------------------------------------
// Appending

char* CQNF_String::i_AppendBytes(const char* text, uint32_t n, uint32_t hint)
{
    if (n && i_Owns(text)) {
        // Growing would move the bytes being appended: take them aside.
        CQNF_Mem aside;
        const char* copy = i_Aside(text, n, aside);
        return copy ? i_AppendBytes(copy, n, hint) : nullptr;
    }
    if (!i_Grow(uint64_t(m_length) + n + 1, std::max<uint64_t>(kMinCapacity, hint)))
        return nullptr;
    if (n)
        std::memcpy(Buf() + m_length, text, n);
    m_length += n;
    Buf()[m_length] = 0;
    return Buf();
}

char* CQNF_String::Append(const CQNF_String& other, uint32_t hint)
{
    return i_AppendBytes(other.GetStr(), other.m_length, hint);
}

char* CQNF_String::Append(const char* text) { return i_AppendBytes(text, CLength(text), 0); }

char* CQNF_String::Append(char c) { return i_AppendBytes(&c, c ? 1 : 0, 0); }

CQNF_String& CQNF_String::operator+=(const CQNF_String& other)
{
    Append(other);
    return *this;
}

CQNF_String& CQNF_String::operator+=(const char* text)
{
    Append(text);
    return *this;
}

CQNF_String& CQNF_String::operator+=(char c)
{
    Append(c);
    return *this;
}

CQNF_String operator+(const CQNF_String& a, const CQNF_String& b)
{
    CQNF_String r(a);
    r.Append(b);
    return r;
}

CQNF_String operator+(const CQNF_String& a, const char* b)
{
    CQNF_String r(a);
    r.Append(b);
    return r;
}

CQNF_String operator+(const CQNF_String& a, char b)
{
    CQNF_String r(a);
    r.Append(b);
    return r;
}

CQNF_String operator+(const char* a, const CQNF_String& b)
{
    CQNF_String r(a);
    r.Append(b);
    return r;
}

CQNF_String operator+(char a, const CQNF_String& b)
{
    CQNF_String r;
    r = a;
    r.Append(b);
    return r;
}

// ---------------------------------------------------------------------------
// Pieces and formatting

char* CQNF_String::i_Space(uint64_t n)
{
    // n + 1 cannot wrap in 64 bits; a count beyond 32 bits fails to grow (17).
    if (!i_Grow(n + 1, kMinCapacity))
        return nullptr;
    std::memset(Buf(), ' ', m_mem.GetSize());
    Buf()[n] = 0;
    m_length = uint32_t(n);
    return Buf();
}

char* CQNF_String::Space(uint32_t n) { return i_Space(n); }

char* CQNF_String::i_SetBytes(const char* text, uint32_t n)
{
    if (n && i_Owns(text)) {
        // Space() blanks the buffer the bytes come from: take them aside.
        CQNF_Mem aside;
        const char* copy = i_Aside(text, n, aside);
        return copy ? i_SetBytes(copy, n) : nullptr;
    }
    if (!i_Space(n))
        return nullptr;
    if (n)
        std::memcpy(Buf(), text, n);
    return Buf();
}

CQNF_String CQNF_String::Mid(uint32_t start, uint32_t count, uint8_t fromStart)
{
    CQNF_String piece;
    if (start > m_length) {
        SetError(qnerr::BadArgument);
        return piece;
    }
    const uint32_t n = std::min(count, m_length - start);
    const uint32_t from = fromStart ? start : m_length - start - n;
    if (!piece.i_SetBytes(GetStr() + from, n))
        SetError(piece.GetError());
    return piece;
}

CQNF_String CQNF_String::Left(uint32_t n) { return Mid(0, n, 1); }

CQNF_String CQNF_String::Right(uint32_t n) { return Mid(0, n, 0); }

char* CQNF_String::SetFromMem(const CQNF_Mem& block, uint32_t max)
{
    const char* bytes = reinterpret_cast<const char*>(block.GetPtr());
    uint32_t n = block.GetSize();
    if (n) {
        if (const void* nul = std::memchr(bytes, 0, n))
            n = uint32_t(static_cast<const char*>(nul) - bytes);
    }
    if (max != 0)
        n = std::min(n, max);
    return i_SetBytes(n ? bytes : "", n);
}

char* CQNF_String::SetFromMem(const CQNF_Mem* block, uint32_t max)
{
    if (!block)
        return i_SetBytes("", 0);
    return SetFromMem(*block, max);
}

char* CQNF_String::Format(const char* format, ...)
{
    if (!format) {
        SetError(qnerr::BadArgument);
        return nullptr;
    }
    va_list args, again;
    va_start(args, format);
    va_copy(again, args);
    const int n = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    if (n < 0) {
        va_end(again);
        SetError(qnerr::BadArgument);
        return nullptr;
    }
    // Formatted into a block of its own: the arguments may be this string.
    CQNF_Mem out;
    if (!out.alloc(uint64_t(n) + 1)) {
        va_end(again);
        SetError(out.GetError());
        return nullptr;
    }
    std::vsnprintf(reinterpret_cast<char*>(out.GetPtr()), size_t(n) + 1, format, again);
    va_end(again);
    return i_SetBytes(reinterpret_cast<const char*>(out.GetPtr()), uint32_t(n));
}

char CQNF_String::HEXDigit(uint8_t value)
{
    if (value < 10)
        return char('0' + value);
    if (value < 16)
        return char('A' + value - 10);
    return 0;
}

char* CQNF_String::BufferHEX(const void* data, uint32_t n)
{
    if (n && !data) {
        SetError(qnerr::BadArgument);
        return nullptr;
    }
    const char* bytes = static_cast<const char*>(data);
    if (n && i_Owns(bytes)) {
        // The digits overwrite the bytes they come from: take them aside.
        CQNF_Mem aside;
        const char* copy = i_Aside(bytes, n, aside);
        return copy ? BufferHEX(copy, n) : nullptr;
    }
    if (!i_Space(uint64_t(n) * 2))
        return nullptr;
    char* out = Buf();
    for (uint32_t i = 0; i < n; ++i) {
        const uint8_t b = static_cast<uint8_t>(bytes[i]);
        out[2 * size_t(i)] = HEXDigit(b >> 4);
        out[2 * size_t(i) + 1] = HEXDigit(b & 15);
    }
    return out;
}

char* CQNF_String::BufferHEX(const CQNF_Mem& block, uint32_t n)
{
    if (n == 0 || n >= block.GetSize())
        n = block.GetSize();
    return BufferHEX(block.GetPtr(), n);
}
