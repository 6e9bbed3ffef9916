// CQNF_MD5Block: the MD5 digest (RFC 1321) of the source, as a 16-byte
// destination in the standard byte order.
#pragma once

#include "core/BlockProcessor.h"
#include "core/MD5Digest.h"

class CQNF_MD5Block : public CQNF_BlockProcessor {
public:
    CQNF_MD5Block() = default;
    ~CQNF_MD5Block() override = default;

    // Refuses while a progress is set (81) and an empty source (80: the
    // digest of the empty message is never asked for). Every call digests
    // its source from a fresh start, so a stage can be reused.
    bool Process() override;

private:
    CQNF_MD5Digest m_md5;
};
