// Big-endian byte helpers of the PSD codec (private to imaging/PSD*.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace qnpsd {

inline void PutU16(unsigned char* p, uint16_t v)
{
    p[0] = static_cast<unsigned char>(v >> 8);
    p[1] = static_cast<unsigned char>(v);
}

inline void PutU32(unsigned char* p, uint32_t v)
{
    p[0] = static_cast<unsigned char>(v >> 24);
    p[1] = static_cast<unsigned char>(v >> 16);
    p[2] = static_cast<unsigned char>(v >> 8);
    p[3] = static_cast<unsigned char>(v);
}

inline uint16_t GetU16(const unsigned char* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }

inline uint32_t GetU32(const unsigned char* p)
{
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}

// A bounded reading position over untrusted bytes. Every read checks that
// the bytes lie inside [begin, end); once a read fails the cursor stays
// failed, so a sequence of reads can be checked once at its end.
class Cursor {
public:
    Cursor(const unsigned char* data, size_t end, size_t pos = 0) : m_data(data), m_end(end), m_pos(pos)
    {
        if (m_pos > m_end)
            m_ok = false;
    }

    bool Ok() const { return m_ok; }
    size_t Pos() const { return m_pos; }
    size_t Left() const { return m_ok ? m_end - m_pos : 0; }
    const unsigned char* Here() const { return m_data + m_pos; }

    bool Has(uint64_t n) const { return m_ok && n <= m_end - m_pos; }
    bool Skip(uint64_t n)
    {
        if (!Has(n))
            return m_ok = false;
        m_pos += static_cast<size_t>(n);
        return true;
    }
    uint8_t U8()
    {
        if (!Has(1)) {
            m_ok = false;
            return 0;
        }
        return m_data[m_pos++];
    }
    uint16_t U16()
    {
        if (!Has(2)) {
            m_ok = false;
            return 0;
        }
        const uint16_t v = GetU16(m_data + m_pos);
        m_pos += 2;
        return v;
    }
    uint32_t U32()
    {
        if (!Has(4)) {
            m_ok = false;
            return 0;
        }
        const uint32_t v = GetU32(m_data + m_pos);
        m_pos += 4;
        return v;
    }
    int32_t I32() { return static_cast<int32_t>(U32()); }
    bool Tag(const char* four)
    {
        if (!Has(4)) {
            m_ok = false;
            return false;
        }
        const bool same = std::memcmp(m_data + m_pos, four, 4) == 0;
        m_pos += 4;
        return same;
    }
    bool Peek(const char* four) const { return Has(4) && std::memcmp(m_data + m_pos, four, 4) == 0; }

private:
    const unsigned char* m_data;
    size_t m_end;
    size_t m_pos;
    bool m_ok = true;
};

}  // namespace qnpsd
