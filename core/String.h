// CQNF_String: the system's 8-bit, NUL-terminated string with an explicit
// length, kept in an owned CQNF_Mem whose size is the capacity.
//
// - Fresh strings get a zeroed buffer of max(length + 1, 20) bytes. Appending
//   grows by max(shortfall, 20, hint); Space and everything built on it
//   (Mid, Left, Right, SetFromMem, Format, BufferHEX, InsertAt) grow by
//   max(shortfall, 20). Compact() trims to length + 1.
// - A 32-bit tag travels with copies (copy construction and assignment from
//   a string) and is left alone by everything else. It starts at 0.
// - Compare() returns +1 when this string sorts first, -1 when it sorts
//   last: the opposite sign of strcmp. Bytes compare unsigned.
// - Operations that can fail return the character pointer, or null with the
//   buffer's error number (17) in the string. A string whose buffer could not
//   be had still reads as "" through GetStr().
// - Every operation is safe when its argument is this string itself or
//   points into its buffer.
#pragma once

#include "core/ErrorManager.h"
#include "core/Mem.h"

#include <compare>
#include <cstdint>
#include <string_view>

class CQNF_String : public CQNF_FrameWork {
public:
    CQNF_String();
    CQNF_String(const char* text);  // null gives the empty string
    CQNF_String(const CQNF_String& other);
    ~CQNF_String() override;

    // Deep copy with the tag; resets the error number; on failure the string
    // is empty with error 17.
    CQNF_String& operator=(const CQNF_String& other);
    // Copy of a C string into a fresh buffer; the tag is kept.
    CQNF_String& operator=(const char* text);
    // A one-character string; the character 0 gives the empty string.
    CQNF_String& operator=(char c);

    char* GetStr();
    const char* GetStr() const;
    operator char*() { return GetStr(); }
    operator const char*() const { return GetStr(); }
    uint32_t GetLength() const { return m_length; }
    // The buffer itself. Callers that write into it keep the terminator at
    // GetLength() in place.
    CQNF_Mem& GetMem() { return m_mem; }
    const CQNF_Mem& GetMem() const { return m_mem; }
    uint32_t GetTag() const { return m_tag; }
    void SetTag(uint32_t tag) { m_tag = tag; }

    // The character at i, or 0 at or past the length (negative i included).
    signed char operator[](int i) const { return i < 0 ? 0 : At(uint64_t(i)); }
    signed char operator[](unsigned i) const { return At(i); }
    signed char operator[](long i) const { return i < 0 ? 0 : At(uint64_t(i)); }
    signed char operator[](unsigned long i) const { return At(i); }

    bool Compact();

    // Appending. The hint asks for at least that much growth when the
    // buffer must grow, for callers that append in many small steps.
    char* Append(const CQNF_String& other, uint32_t hint = 0);
    char* Append(const char* text);
    char* Append(char c);  // the character 0 appends nothing
    CQNF_String& operator+=(const CQNF_String& other);
    CQNF_String& operator+=(const char* text);
    CQNF_String& operator+=(char c);

    // Pieces and formatting.
    // n blanks; the whole buffer is blanked before the terminator is set.
    char* Space(uint32_t n);
    // min(count, length - start) characters from start (fromStart != 0), or
    // ending start characters before the end (fromStart == 0). A start past
    // the length gives the empty string and error 1 in this string.
    // When the piece cannot be made it is empty and its error number is
    // also left in this string.
    CQNF_String Mid(uint32_t start, uint32_t count, uint8_t fromStart);
    CQNF_String Left(uint32_t n);
    CQNF_String Right(uint32_t n);
    // The block's bytes up to its first 0 byte (or all of them), limited to
    // max characters when max != 0. A null block gives the empty string.
    char* SetFromMem(const CQNF_Mem& block, uint32_t max = 0);
    char* SetFromMem(const CQNF_Mem* block, uint32_t max = 0);
    // printf-style. An encoding error of the format gives error 1 and null.
    char* Format(const char* format, ...) __attribute__((format(printf, 2, 3)));
    // 2n upper-case hexadecimal digits, high nibble first.
    char* BufferHEX(const void* data, uint32_t n);
    // The first n bytes of the block; all of it when n is 0 or not below its size.
    char* BufferHEX(const CQNF_Mem& block, uint32_t n = 0);
    // '0'..'9', 'A'..'F' for 0..15; the character 0 for anything larger.
    static char HEXDigit(uint8_t value);

    // Editing in place. InsertAt past the end pads with blanks up to pos.
    char* InsertAt(uint32_t pos, const CQNF_String& text);
    char* InsertAt(uint32_t pos, char c);
    char* InsertAt(uint32_t pos, const char* text);
    // Removes min(n, length - pos) characters at pos.
    char* DeleteFrom(uint32_t pos, uint32_t n);
    char* Reverse();
    // ASCII letters only; other bytes stay. These and the trims reset the
    // error number.
    char* MakeUpper();
    char* MakeLower();
    // Blanks (0x20) only; tabs and other bytes stay.
    char* TrimLeft();
    char* TrimRight();
    char* TrimBoth();

    // 0 equal, +1 this sorts first, -1 this sorts last. The character 0
    // compares as the empty string. CompareNoCase folds a..z to A..Z only
    // where two bytes differ.
    int Compare(const CQNF_String& other) const;
    int Compare(const char* text) const;
    int Compare(char c) const;
    int CompareNoCase(const CQNF_String& other) const;
    int CompareNoCase(const char* text) const;
    int CompareNoCase(char c) const;

    // Forward: index of the first occurrence at or after start. Backward
    // (forward == 0): the count of characters between the end of the last
    // occurrence and the end of the text, skipping occurrences that end
    // fewer than start characters before the end ("a>b>c" backward for ">"
    // gives 1). An empty sub is found at start. -1 when not found or when
    // start is negative or not below the length.
    int32_t Find(const CQNF_String& sub, int32_t start = 0, uint8_t forward = 1) const;
    int32_t Find(char c, int32_t start = 0, uint8_t forward = 1) const;
    int32_t Find(const char* sub, int32_t start = 0, uint8_t forward = 1) const;

    // Ordering on Compare(): a < b when a sorts before b.
    friend bool operator==(const CQNF_String& a, const CQNF_String& b) { return a.Compare(b) == 0; }
    friend bool operator==(const CQNF_String& a, const char* b) { return a.Compare(b) == 0; }
    friend bool operator==(const CQNF_String& a, char b) { return a.Compare(b) == 0; }
    friend std::strong_ordering operator<=>(const CQNF_String& a, const CQNF_String& b)
    {
        return 0 <=> a.Compare(b);
    }
    friend std::strong_ordering operator<=>(const CQNF_String& a, const char* b) { return 0 <=> a.Compare(b); }
    friend std::strong_ordering operator<=>(const CQNF_String& a, char b) { return 0 <=> a.Compare(b); }

private:
    signed char At(uint64_t i) const;
    char* Buf() { return reinterpret_cast<char*>(m_mem.GetPtr()); }
    const char* Buf() const { return reinterpret_cast<const char*>(m_mem.GetPtr()); }
    // True when p points into this string's buffer.
    bool i_Owns(const void* p) const;
    // A copy of n bytes in aside, for bytes of this string's own buffer that
    // an operation would move or overwrite; null (with the error number)
    // when no memory is left.
    const char* i_Aside(const void* p, uint32_t n, CQNF_Mem& aside);
    // Makes room for `needed` bytes, growing by at least minGrow; false
    // with the buffer's error number when it cannot.
    bool i_Grow(uint64_t needed, uint64_t minGrow);
    // Space with a 64-bit count, so that doubled or summed lengths are
    // refused rather than wrapped.
    char* i_Space(uint64_t n);
    // Replaces the contents by n bytes from text, which may point into
    // this string's own buffer.
    char* i_SetBytes(const char* text, uint32_t n);
    char* i_AppendBytes(const char* text, uint32_t n, uint32_t hint);
    char* i_Insert(uint32_t pos, const char* text, uint32_t n);
    int i_Compare(const char* text, uint32_t n, bool foldCase) const;
    int32_t i_Find(const char* sub, uint32_t n, int32_t start, uint8_t forward) const;

    uint32_t m_tag = 0;
    CQNF_Mem m_mem;
    uint32_t m_length = 0;
};

CQNF_String operator+(const CQNF_String& a, const CQNF_String& b);
CQNF_String operator+(const CQNF_String& a, const char* b);
CQNF_String operator+(const CQNF_String& a, char b);
CQNF_String operator+(const char* a, const CQNF_String& b);
CQNF_String operator+(char a, const CQNF_String& b);

// Whole numbers in text, as command lines give them: the text must be the
// number and nothing else (no spaces, no '+'); base 10, or 0 for C's
// prefixes (0x hexadecimal, a leading 0 octal). False when the text is no
// such number or the number lies outside the range; out is left alone then.
bool qnParseInteger(std::string_view text, int64_t lo, int64_t hi, int64_t& out, int base = 10);
bool qnParseUnsigned(std::string_view text, uint64_t max, uint64_t& out, int base = 10);
// "AxB" (or "AXB") in base 10, both numbers in lo..hi: grid and picture sizes.
bool qnParseDimensions(std::string_view text, uint32_t lo, uint32_t hi, uint32_t& a, uint32_t& b);
