#include "core/MD5Digest.h"

#include <cstring>

namespace {

// The padding: one 1 bit, then zero bits up to 56 bytes modulo 64.
const uint8_t kPadding[64] = {0x80};

inline uint32_t ByteToDWord(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

inline void DWordToByte(uint32_t v, uint8_t* p)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}

inline uint32_t Rotl(uint32_t x, int s) { return (x << s) | (x >> (32 - s)); }

inline uint32_t F(uint32_t x, uint32_t y, uint32_t z) { return (x & y) | (~x & z); }
inline uint32_t G(uint32_t x, uint32_t y, uint32_t z) { return (x & z) | (y & ~z); }
inline uint32_t H(uint32_t x, uint32_t y, uint32_t z) { return x ^ y ^ z; }
inline uint32_t I(uint32_t x, uint32_t y, uint32_t z) { return y ^ (x | ~z); }

// Per-step shift amounts of the four rounds.
const int kShift[4][4] = {{7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};

// The sine table: floor(abs(sin(i + 1)) * 2^32) for i = 0..63.
const uint32_t kSine[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391,
};

}  // namespace

void CQNF_MD5Digest::Init()
{
    m_state[0] = 0x67452301;
    m_state[1] = 0xefcdab89;
    m_state[2] = 0x98badcfe;
    m_state[3] = 0x10325476;
    m_bitCount[0] = m_bitCount[1] = 0;
    std::memset(m_buffer, 0, sizeof m_buffer);
}

void CQNF_MD5Digest::Transform(const uint8_t block[64])
{
    uint32_t x[16];
    for (int i = 0; i < 16; ++i)
        x[i] = ByteToDWord(block + 4 * i);

    uint32_t a = m_state[0], b = m_state[1], c = m_state[2], d = m_state[3];
    for (int i = 0; i < 64; ++i) {
        const int round = i / 16;
        uint32_t f;
        int k;
        switch (round) {
        case 0:
            f = F(b, c, d);
            k = i;
            break;
        case 1:
            f = G(b, c, d);
            k = (5 * i + 1) % 16;
            break;
        case 2:
            f = H(b, c, d);
            k = (3 * i + 5) % 16;
            break;
        default:
            f = I(b, c, d);
            k = (7 * i) % 16;
            break;
        }
        const uint32_t t = d;
        d = c;
        c = b;
        b = b + Rotl(a + f + kSine[i] + x[k], kShift[round][i % 4]);
        a = t;
    }
    m_state[0] += a;
    m_state[1] += b;
    m_state[2] += c;
    m_state[3] += d;
}

void CQNF_MD5Digest::Update(const void* data, size_t n)
{
    const uint8_t* in = static_cast<const uint8_t*>(data);
    size_t used = (m_bitCount[0] >> 3) & 63;

    // The bit count is 64 bits wide and wraps, as the message length modulo 2^64.
    const uint64_t bits = (uint64_t(m_bitCount[1]) << 32 | m_bitCount[0]) + (uint64_t(n) << 3);
    m_bitCount[0] = uint32_t(bits);
    m_bitCount[1] = uint32_t(bits >> 32);

    if (used) {
        const size_t take = n < 64 - used ? n : 64 - used;
        std::memcpy(m_buffer + used, in, take);
        used += take;
        in += take;
        n -= take;
        if (used < 64)
            return;
        Transform(m_buffer);
    }
    for (; n >= 64; n -= 64, in += 64)
        Transform(in);
    if (n)
        std::memcpy(m_buffer, in, n);
}

void CQNF_MD5Digest::Final(uint8_t digest[kDigestSize])
{
    uint8_t bits[8];
    DWordToByte(m_bitCount[0], bits);
    DWordToByte(m_bitCount[1], bits + 4);

    const size_t used = (m_bitCount[0] >> 3) & 63;
    const size_t pad = used < 56 ? 56 - used : 120 - used;
    Update(kPadding, pad);
    Update(bits, 8);

    for (int i = 0; i < 4; ++i)
        DWordToByte(m_state[i], digest + 4 * i);
    // Leave nothing of the message behind.
    std::memset(m_buffer, 0, sizeof m_buffer);
}

void CQNF_MD5Digest::Compute(const void* data, size_t n, uint8_t digest[kDigestSize])
{
    CQNF_MD5Digest md5;
    md5.Update(data, n);
    md5.Final(digest);
}
