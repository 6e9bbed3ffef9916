#include "core/ZipBlock.h"

#include <zlib.h>

#include <cstring>

bool qnZipReadHeader(const uint8_t* src, size_t n, qnZipHeader& header)
{
    if (!src || n < kQnZipHeaderSize || std::memcmp(src, kQnZipMagic, sizeof kQnZipMagic) != 0)
        return false;
    const uint32_t raw = qnGetBE32(src + 8);
    const uint32_t packed = qnGetBE32(src + 12);
    // 64-bit sums: a packed size near 2^32 must not wrap into range.
    if (uint64_t(packed) + kQnZipHeaderSize > n)
        return false;
    // A block is never empty, and a raw size no stream of this length can
    // reach is a lie that would only cost an allocation.
    if (raw == 0 || packed == 0 || raw > kQnZipMaxRawSize || uint64_t(raw) > uint64_t(packed) * kQnZipMaxRatio)
        return false;
    header.rawSize = raw;
    header.packedSize = packed;
    return true;
}

unsigned short qnZipInflate(const uint8_t* src, const qnZipHeader& header, uint8_t* dst)
{
    uLongf produced = header.rawSize;
    const int rc = uncompress(dst, &produced, src + kQnZipHeaderSize, header.packedSize);
    if (rc == Z_MEM_ERROR)
        return qnerr::NoMemory;
    // A stream that ends early would leave a tail of zeros or stale bytes
    // behind a success; one that holds more is Z_BUF_ERROR.
    if (rc != Z_OK || produced != header.rawSize)
        return qnerr::ZipNotABlock;
    return 0;
}

bool CQNF_ZipBlock::Process()
{
    if (m_progress) {
        SetError(qnerr::ZipProgress);
        return false;
    }
    if (!m_dest)
        SetDestBlock();
    ResetError();
    switch (m_mode) {
    case 0:
        return Decompress();
    case 1:
        return Compress(9);
    case 2:
        return Compress(6);
    case 3:
        return Compress(1);
    default:
        SetError(qnerr::ZipBadArgument);
        return false;
    }
}

bool CQNF_ZipBlock::Compress(unsigned char level)
{
    // The header holds the raw size in 32 bits.
    if (!m_dest || !m_source || m_sourceSize == 0 || m_sourceSize > UINT32_MAX) {
        SetError(qnerr::ZipBadArgument);
        return false;
    }
    const uint64_t capacity = qnZipCapacity(m_sourceSize);
    if (!m_dest->Resize(capacity)) {
        SetError(m_dest->GetError());
        return false;
    }
    uint8_t* out = m_dest->GetPtr();
    std::memcpy(out, kQnZipMagic, sizeof kQnZipMagic);
    qnPutBE32(out + 8, uint32_t(m_sourceSize));

    uLongf packed = uLongf(capacity - kQnZipHeaderSize);
    const int rc = compress2(out + kQnZipHeaderSize, &packed, m_source, uLong(m_sourceSize), level);
    if (rc == Z_STREAM_ERROR) {
        SetError(qnerr::ZipBadArgument);
        return false;
    }
    if (rc != Z_OK) {
        SetError(qnerr::ZipCompress);
        return false;
    }
    ResetError();
    qnPutBE32(out + 12, uint32_t(packed));
    if (!m_dest->Resize(uint64_t(packed) + kQnZipHeaderSize)) {
        SetError(m_dest->GetError());
        return false;
    }
    return true;
}

bool CQNF_ZipBlock::Decompress()
{
    qnZipHeader header;
    if (!m_dest || !qnZipReadHeader(m_source, m_sourceSize, header)) {
        SetError(qnerr::ZipNotABlock);
        return false;
    }
    if (!m_dest->Resize(header.rawSize)) {
        SetError(m_dest->GetError());
        return false;
    }
    if (const unsigned short err = qnZipInflate(m_source, header, m_dest->GetPtr())) {
        SetError(err);
        return false;
    }
    ResetError();
    return true;
}
