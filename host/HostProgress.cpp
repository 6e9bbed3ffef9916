#include "host/HostProgress.h"

#include "host/PluginAdapter.h"

void CHostProgress::Progress(uint8_t percent, void*)
{
    m_lastPercent = percent;
    if (auto* adapter = static_cast<CQNF_8BFPluginVirtual*>(m_userData))
        adapter->HostProgress(100, percent);
}

bool CHostProgress::IsCanceled()
{
    auto* adapter = static_cast<CQNF_8BFPluginVirtual*>(m_userData);
    const bool now = adapter && adapter->HostCancel() != 0;
    m_canceled = m_canceled || now;
    return now;
}
