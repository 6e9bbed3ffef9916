// The string's editing in place, comparison and search, and the number
// parsers that read from strings.
#include "core/String.h"
#include "core/StringInternal.h"

#include <charconv>
#include <cstring>
#include <string_view>
#include <system_error>

using qnstring::CLength;
using qnstring::Upper;

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
