#include "host/WindowProgress.h"

void CMainProgress::Progress(uint8_t percent, void*)
{
    if (percent == m_lastPercent)
        return;
    m_lastPercent = percent;
    if (auto* main = static_cast<CMainProgressTarget*>(m_userData))
        main->UpdateStatusProgress(m_Text.GetStr(), percent);
}

bool CMainProgress::IsCanceled()
{
    if (auto* main = static_cast<CMainProgressTarget*>(m_userData))
        main->ProcessPendingEvents();
    return false;
}
