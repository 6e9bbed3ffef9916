// Streaming MD5 (RFC 1321): the digest behind the MD5 block stage, the storage
// container's stamp and the md5 tool.
//
// Words are moved to and from bytes least significant byte first by hand, so
// the digest is the standard value whatever the processor's byte order.
#pragma once

#include <cstddef>
#include <cstdint>

class CQNF_MD5Digest {
public:
    static constexpr size_t kDigestSize = 16;

    CQNF_MD5Digest() { Init(); }

    // Starts a new message; a digest object can be reused after Final.
    void Init();
    // Feeds n more bytes of the message (n may be 0).
    void Update(const void* data, size_t n);
    // Pads, appends the bit count and writes the 16 digest bytes (state words
    // A, B, C, D, each least significant byte first). The object then holds
    // no message: call Init before reusing it.
    void Final(uint8_t digest[kDigestSize]);

    // The digest of one contiguous message.
    static void Compute(const void* data, size_t n, uint8_t digest[kDigestSize]);

private:
    void Transform(const uint8_t block[64]);

    uint32_t m_state[4];
    uint32_t m_bitCount[2];  // message length in bits, low word first
    uint8_t m_buffer[64];    // input not yet consumed by Transform
};
