#include "core/SecureBlock.h"

#include "core/MD5Block.h"

#include <cstring>

namespace {

constexpr uint32_t kDelta = 0x9E3779B9;
constexpr size_t kDigest = 16;
constexpr size_t kHead = 1 + kDigest;  // filler count and enciphered digest

void CipherBlock(uint8_t* block, const uint32_t key[4], bool forward)
{
    const uint32_t in[2] = {qnGetBE32(block), qnGetBE32(block + 4)};
    uint32_t out[2];
    if (forward)
        CQNF_SecureBlock::encipher(in, out, key);
    else
        CQNF_SecureBlock::decipher(in, out, key);
    qnPutBE32(block, out[0]);
    qnPutBE32(block + 4, out[1]);
}

// The digest through a local MD5 stage; on failure its number is in `err`.
bool Digest(const uint8_t* data, size_t n, uint8_t out[kDigest], unsigned short& err)
{
    CQNF_MD5Block md5;
    CQNF_Mem result;
    md5.SetSourceBlock(data, n);
    md5.SetDestBlock(&result);
    if (!md5.Process()) {
        err = md5.GetError();
        return false;
    }
    std::memcpy(out, result.GetPtr(), kDigest);
    return true;
}

}  // namespace

void CQNF_SecureBlock::encipher(const uint32_t in[2], uint32_t out[2], const uint32_t key[4])
{
    uint32_t v0 = in[0], v1 = in[1], sum = 0;
    for (int i = 0; i < 32; ++i) {
        v0 += (((v1 << 4) ^ (v1 >> 5)) + v1) ^ (sum + key[sum & 3]);
        sum += kDelta;
        v1 += (((v0 << 4) ^ (v0 >> 5)) + v0) ^ (sum + key[(sum >> 11) & 3]);
    }
    out[0] = v0;
    out[1] = v1;
}

void CQNF_SecureBlock::decipher(const uint32_t in[2], uint32_t out[2], const uint32_t key[4])
{
    uint32_t v0 = in[0], v1 = in[1], sum = kDelta * 32;
    for (int i = 0; i < 32; ++i) {
        v1 -= (((v0 << 4) ^ (v0 >> 5)) + v0) ^ (sum + key[(sum >> 11) & 3]);
        sum -= kDelta;
        v0 -= (((v1 << 4) ^ (v1 >> 5)) + v1) ^ (sum + key[sum & 3]);
    }
    out[0] = v0;
    out[1] = v1;
}

bool CQNF_SecureBlock::SetPassword(const void* data, size_t size)
{
    uint8_t digest[kDigest];
    unsigned short err = 0;
    if (!Digest(static_cast<const uint8_t*>(data), size, digest, err)) {
        SetError(err);
        return false;
    }
    for (int i = 0; i < 4; ++i)
        m_key[i] = qnGetBE32(digest + 4 * i);
    return true;
}

bool CQNF_SecureBlock::SetPassword(const CQNF_Mem& block) { return SetPassword(block.GetPtr(), block.GetSize()); }

bool CQNF_SecureBlock::SetPassword(const CQNF_String& text) { return SetPassword(text.GetStr(), text.GetLength()); }

bool CQNF_SecureBlock::Process()
{
    if (m_progress) {
        SetError(qnerr::SecureProgress);
        return false;
    }
    ResetError();
    if (!m_source || m_sourceSize == 0) {
        SetError(qnerr::SecureBadArgument);
        return false;
    }
    switch (m_mode) {
    case 0:
        return Encipher();
    case 1:
        return Decipher();
    default:
        SetError(qnerr::SecureBadArgument);
        return false;
    }
}

bool CQNF_SecureBlock::Encipher()
{
    if (!m_source || m_sourceSize == 0) {
        SetError(qnerr::SecureBadArgument);
        return false;
    }
    if (!m_dest)
        SetDestBlock();
    const size_t n = m_sourceSize;
    const size_t p = (8 - n % 8) % 8;
    if (!m_dest->Resize(uint64_t(n) + p + kHead)) {
        SetError(m_dest->GetError());
        return false;
    }
    uint8_t* out = m_dest->GetPtr();
    out[0] = uint8_t(p);
    unsigned short err = 0;
    if (!Digest(m_source, n, out + 1, err)) {
        SetError(err);
        return false;
    }
    std::memcpy(out + kHead, m_source, n);
    // The filler carries no meaning; zeros keep the output reproducible.
    std::memset(out + kHead + n, 0, p);
    const size_t total = kDigest + n + p;
    for (size_t off = 0; off < total; off += 8)
        CipherBlock(out + 1 + off, m_key, true);
    return true;
}

bool CQNF_SecureBlock::Decipher()
{
    if (!m_dest)
        SetDestBlock();
    const size_t s = m_sourceSize;
    if (!m_source || s <= 24) {
        SetError(qnerr::SecureBadEnvelope);
        return false;
    }
    const size_t p = m_source[0];
    const size_t body = s - kHead;  // plain bytes and filler
    // Enciphering writes at most 7 filler bytes, whole cipher blocks and at
    // least one plain byte; anything else would size the output from junk.
    if (p > 7 || body % 8 != 0 || p >= body) {
        SetError(qnerr::SecureBadEnvelope);
        return false;
    }
    const size_t n = body - p;
    if (!m_dest->Resize(n)) {
        SetError(m_dest->GetError());
        return false;
    }
    uint8_t stored[kDigest];
    std::memcpy(stored, m_source + 1, kDigest);
    CipherBlock(stored, m_key, false);
    CipherBlock(stored + 8, m_key, false);

    uint8_t* out = m_dest->GetPtr();
    for (size_t off = 0; off < n; off += 8) {
        uint8_t block[8];
        std::memcpy(block, m_source + kHead + off, 8);
        CipherBlock(block, m_key, false);
        std::memcpy(out + off, block, n - off < 8 ? n - off : 8);
    }
    uint8_t actual[kDigest];
    unsigned short err = 0;
    if (!Digest(out, n, actual, err)) {
        SetError(err);
        return false;
    }
    if (std::memcmp(actual, stored, kDigest) != 0) {
        SetError(qnerr::SecureMismatch);
        return false;
    }
    return true;
}
