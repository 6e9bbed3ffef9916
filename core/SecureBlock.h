// CQNF_SecureBlock: enciphers or deciphers a whole block with XTEA (64-bit
// blocks, 128-bit key, 32 cycles), keyed by the MD5 digest of a password.
//
// Envelope for n >= 1 plain bytes, p = (8 - n mod 8) mod 8 filler bytes:
//   [0]        p
//   [1..16]    MD5 of the plain bytes, enciphered
//   [17..]     the plain bytes and p filler bytes, enciphered
// Each 8-byte cipher block is two big-endian 32-bit words; blocks are
// enciphered independently (no chaining). Nothing in the plug-in uses this
// stage; it is kept for the framework's completeness.
#pragma once

#include "core/BlockProcessor.h"

#include <cstdint>

class CQNF_SecureBlock : public CQNF_BlockProcessor {
public:
    CQNF_SecureBlock() = default;
    ~CQNF_SecureBlock() override = default;

    // 0 encipher, 1 decipher. Until set, Process() refuses (96).
    void SetMode(unsigned char mode) { m_mode = mode; }
    unsigned char GetMode() const { return m_mode; }

    // The key becomes the MD5 of the password: key word i is the big-endian
    // value of digest bytes 4i..4i+3. An empty password fails (80) and
    // leaves the key as it was.
    bool SetPassword(const void* data, size_t size);
    bool SetPassword(const CQNF_Mem& block);
    bool SetPassword(const CQNF_String& text);

    bool Process() override;
    bool Encipher();
    // Fails with 98 for an envelope that enciphering cannot have made (24
    // bytes or fewer, a filler count above 7, cipher blocks incomplete) and
    // with 97 when the data does not match its digest.
    bool Decipher();

    // One 64-bit block through 32 XTEA cycles.
    static void encipher(const uint32_t in[2], uint32_t out[2], const uint32_t key[4]);
    static void decipher(const uint32_t in[2], uint32_t out[2], const uint32_t key[4]);

private:
    unsigned char m_mode = 0xFF;
    uint32_t m_key[4] = {0, 0, 0, 0};
};
