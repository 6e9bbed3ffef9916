#include "host/WindowProgress.h"

void CCutterProgress::Progress(uint8_t percent, void*)
{
    if (percent == m_lastPercent)
        return;
    m_lastPercent = percent;
    auto* editor = static_cast<CCutterProgressTarget*>(m_userData);
    if (editor && percent % 5 == 0)
        editor->SetProgressBar(percent);
}

bool CCutterProgress::IsCanceled()
{
    auto* editor = static_cast<CCutterProgressTarget*>(m_userData);
    if (!editor)
        return false;
    editor->ProcessPendingEvents();
    return editor->IsAbortRequested();
}

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
