#include "core/Progress.h"

#include <algorithm>

void CQNF_Progress::Progress(uint8_t, void*) {}

void CQNF_Progress::Cancel() { m_canceled = 1; }

bool CQNF_Progress::IsCanceled() { return m_canceled != 0; }

void CQNF_SubProgress::SetMasterProgress(CQNF_Progress* master, uint8_t from, uint8_t to)
{
    m_master = master;
    m_from = std::min<uint8_t>(from, 100);
    m_to = std::min<uint8_t>(to, 100);
}

void CQNF_SubProgress::Progress(uint8_t percent, void* data)
{
    if (!m_master)
        return;
    const double v = m_from + (m_to - m_from) * percent / 100.0;
    uint8_t mapped = 0;
    if (v > 100.0)
        mapped = 100;
    else if (v > 0.0)
        mapped = static_cast<uint8_t>(v);
    m_master->Progress(mapped, data);
}

bool CQNF_SubProgress::IsCanceled() { return m_master ? m_master->IsCanceled() : false; }
