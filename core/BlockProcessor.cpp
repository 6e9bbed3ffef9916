#include "core/BlockProcessor.h"

#include <cstring>

CQNF_BlockProcessor::CQNF_BlockProcessor() { SetDestBlock(); }

CQNF_BlockProcessor::~CQNF_BlockProcessor() { i_DropDest(); }

void CQNF_BlockProcessor::i_DropDest()
{
    if (!m_destIsCallers)
        delete m_dest;
    m_dest = nullptr;
    m_destIsCallers = 0;
}

bool CQNF_BlockProcessor::SetSourceBlock(const void* data, size_t size)
{
    m_source = static_cast<const uint8_t*>(data);
    m_sourceSize = data ? size : 0;
    return true;
}

bool CQNF_BlockProcessor::SetSourceBlock(const CQNF_Mem& block)
{
    return SetSourceBlock(block.GetPtr(), block.GetSize());
}

bool CQNF_BlockProcessor::SetSourceBlock(const CQNF_String& text)
{
    m_sourceText = text;
    return SetSourceBlock(m_sourceText.GetStr(), m_sourceText.GetLength());
}

CQNF_Mem* CQNF_BlockProcessor::SetDestBlock(CQNF_Mem* block)
{
    i_DropDest();
    m_dest = block;
    m_destIsCallers = 1;
    return m_dest;
}

CQNF_Mem* CQNF_BlockProcessor::SetDestBlock()
{
    i_DropDest();
    m_dest = new CQNF_Mem;
    return m_dest;
}

void CQNF_BlockProcessor::Clean() { i_DropDest(); }

bool CQNF_BlockProcessor::Process()
{
    if (!m_dest)
        return false;
    if (!m_dest->Resize(m_sourceSize)) {
        SetError(m_dest->GetError());
        return false;
    }
    if (!m_source || m_sourceSize == 0)
        return false;
    std::memcpy(m_dest->GetPtr(), m_source, m_sourceSize);
    return true;
}
