#include "core/MD5Block.h"

bool CQNF_MD5Block::Process()
{
    if (m_progress) {
        SetError(qnerr::MD5Progress);
        return false;
    }
    if (!m_source || m_sourceSize == 0) {
        SetError(qnerr::MD5NoSource);
        return false;
    }
    if (!m_dest)
        SetDestBlock();
    if (!m_dest->Resize(CQNF_MD5Digest::kDigestSize)) {
        SetError(m_dest->GetError());
        return false;
    }
    m_md5.Init();
    m_md5.Update(m_source, m_sourceSize);
    m_md5.Final(m_dest->GetPtr());
    ResetError();
    return true;
}
