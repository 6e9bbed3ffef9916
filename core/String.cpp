#include "core/String.h"

#include <algorithm>
#include <charconv>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <system_error>
#include <utility>

namespace {

// What GetStr() shows for a string that has no buffer (its allocation
// failed), so that callers never receive a null C string.
char g_empty[1] = {0};

constexpr uint32_t kMinCapacity = 20;

uint8_t Upper(uint8_t c) { return (c >= 'a' && c <= 'z') ? uint8_t(c - 'a' + 'A') : c; }

uint32_t CLength(const char* text) { return text ? uint32_t(std::min<size_t>(std::strlen(text), UINT32_MAX)) : 0; }

}  // namespace

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

// ---------------------------------------------------------------------------
// Editing in place

char* CQNF_String::i_Insert(uint32_t pos, const char* text, uint32_t n)
{
    // Built in a separate string, so text may be this string's own bytes.
    CQNF_String joined;
    if (!joined.i_Space(std::max(uint64_t(m_length) + n, uint64_t(pos) + n))) {
        SetError(joined.GetError());
        return nullptr;
    }
    const uint32_t head = std::min(pos, m_length);
    char* out = joined.Buf();
    std::memcpy(out, GetStr(), head);
    std::memcpy(out + pos, text, n);
    std::memcpy(out + size_t(pos) + n, GetStr() + head, m_length - head);
    m_mem = std::move(joined.m_mem);
    m_length = joined.m_length;
    return Buf();
}

char* CQNF_String::InsertAt(uint32_t pos, const CQNF_String& text)
{
    return i_Insert(pos, text.GetStr(), text.m_length);
}

char* CQNF_String::InsertAt(uint32_t pos, char c) { return i_Insert(pos, &c, c ? 1 : 0); }

char* CQNF_String::InsertAt(uint32_t pos, const char* text)
{
    return i_Insert(pos, text ? text : "", CLength(text));
}

char* CQNF_String::DeleteFrom(uint32_t pos, uint32_t n)
{
    if (n == 0 || pos >= m_length)
        return GetStr();
    const uint32_t k = std::min(n, m_length - pos);
    std::memmove(Buf() + pos, Buf() + pos + k, size_t(m_length - pos - k) + 1);
    m_length -= k;
    return Buf();
}

char* CQNF_String::Reverse()
{
    if (m_length)
        std::reverse(Buf(), Buf() + m_length);
    return GetStr();
}

char* CQNF_String::MakeUpper()
{
    for (uint32_t i = 0; i < m_length; ++i)
        Buf()[i] = char(Upper(uint8_t(Buf()[i])));
    ResetError();
    return GetStr();
}

char* CQNF_String::MakeLower()
{
    for (uint32_t i = 0; i < m_length; ++i) {
        const char c = Buf()[i];
        if (c >= 'A' && c <= 'Z')
            Buf()[i] = char(c - 'A' + 'a');
    }
    ResetError();
    return GetStr();
}

char* CQNF_String::TrimLeft()
{
    uint32_t k = 0;
    while (k < m_length && Buf()[k] == ' ')
        ++k;
    if (k) {
        std::memmove(Buf(), Buf() + k, size_t(m_length - k) + 1);
        m_length -= k;
    }
    ResetError();
    return GetStr();
}

char* CQNF_String::TrimRight()
{
    uint32_t n = m_length;
    while (n > 0 && Buf()[n - 1] == ' ')
        --n;
    if (n != m_length) {
        m_length = n;
        Buf()[n] = 0;
    }
    ResetError();
    return GetStr();
}

char* CQNF_String::TrimBoth()
{
    TrimRight();
    return TrimLeft();
}

// ---------------------------------------------------------------------------
// Comparison and search

int CQNF_String::i_Compare(const char* text, uint32_t n, bool foldCase) const
{
    const char* mine = GetStr();
    const uint32_t common = std::min(m_length, n);
    for (uint32_t i = 0; i < common; ++i) {
        uint8_t a = uint8_t(mine[i]);
        uint8_t b = uint8_t(text[i]);
        if (a == b)
            continue;
        if (foldCase) {
            a = Upper(a);
            b = Upper(b);
            if (a == b)
                continue;
        }
        return a < b ? 1 : -1;
    }
    if (m_length == n)
        return 0;
    return m_length < n ? 1 : -1;
}

int CQNF_String::Compare(const CQNF_String& other) const { return i_Compare(other.GetStr(), other.m_length, false); }

int CQNF_String::Compare(const char* text) const { return i_Compare(text ? text : "", CLength(text), false); }

int CQNF_String::Compare(char c) const { return i_Compare(&c, c ? 1 : 0, false); }

int CQNF_String::CompareNoCase(const CQNF_String& other) const
{
    return i_Compare(other.GetStr(), other.m_length, true);
}

int CQNF_String::CompareNoCase(const char* text) const { return i_Compare(text ? text : "", CLength(text), true); }

int CQNF_String::CompareNoCase(char c) const { return i_Compare(&c, c ? 1 : 0, true); }

int32_t CQNF_String::i_Find(const char* sub, uint32_t n, int32_t start, uint8_t forward) const
{
    if (start < 0 || int64_t(start) >= int64_t(m_length))
        return -1;
    if (n == 0)
        return start;
    const std::string_view text(GetStr(), m_length);
    const std::string_view pattern(sub, n);
    if (forward) {
        const size_t at = text.find(pattern, size_t(start));
        return at == std::string_view::npos ? -1 : int32_t(at);
    }
    // Searching the reversed text from start is searching the original for
    // the last occurrence that ends at least start characters before the end.
    if (uint64_t(m_length) - uint64_t(start) < n)
        return -1;
    const size_t at = text.rfind(pattern, size_t(m_length) - size_t(start) - n);
    return at == std::string_view::npos ? -1 : int32_t(m_length - (at + n));
}

int32_t CQNF_String::Find(const CQNF_String& sub, int32_t start, uint8_t forward) const
{
    return i_Find(sub.GetStr(), sub.m_length, start, forward);
}

int32_t CQNF_String::Find(char c, int32_t start, uint8_t forward) const
{
    return i_Find(&c, c ? 1 : 0, start, forward);
}

int32_t CQNF_String::Find(const char* sub, int32_t start, uint8_t forward) const
{
    return i_Find(sub ? sub : "", CLength(sub), start, forward);
}

namespace {

// The digits of a number and their base; base 0 reads C's prefixes.
std::string_view DigitsOf(std::string_view text, int& base)
{
    if (base != 0)
        return text;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        return text.substr(2);
    }
    if (text.size() > 1 && text[0] == '0') {
        base = 8;
        return text.substr(1);
    }
    base = 10;
    return text;
}

}  // namespace

bool qnParseUnsigned(std::string_view text, uint64_t max, uint64_t& out, int base)
{
    const std::string_view digits = DigitsOf(text, base);
    uint64_t v = 0;
    const char* end = digits.data() + digits.size();
    // from_chars takes no sign, space or prefix: what remains must be digits.
    const auto r = std::from_chars(digits.data(), end, v, base);
    if (digits.empty() || r.ec != std::errc() || r.ptr != end || v > max)
        return false;
    out = v;
    return true;
}

bool qnParseInteger(std::string_view text, int64_t lo, int64_t hi, int64_t& out, int base)
{
    const bool negative = !text.empty() && text[0] == '-';
    uint64_t magnitude = 0;
    const uint64_t limit = negative ? uint64_t{1} << 63 : uint64_t(INT64_MAX);
    if (!qnParseUnsigned(text.substr(negative ? 1 : 0), limit, magnitude, base))
        return false;
    const int64_t v = negative ? int64_t(0 - magnitude) : int64_t(magnitude);
    if (v < lo || v > hi)
        return false;
    out = v;
    return true;
}

bool qnParseDimensions(std::string_view text, uint32_t lo, uint32_t hi, uint32_t& a, uint32_t& b)
{
    const size_t x = text.find_first_of("xX");
    uint64_t first = 0, second = 0;
    if (x == std::string_view::npos || !qnParseUnsigned(text.substr(0, x), hi, first) ||
        !qnParseUnsigned(text.substr(x + 1), hi, second) || first < lo || second < lo)
        return false;
    a = uint32_t(first);
    b = uint32_t(second);
    return true;
}
