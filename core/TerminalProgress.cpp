#include "core/TerminalProgress.h"

#include <algorithm>
#include <cstdio>
#include <unistd.h>

namespace {

constexpr int kBarWidth = 30;

}  // namespace

CQNF_TerminalProgress::CQNF_TerminalProgress(std::string label)
    : CQNF_TerminalProgress(std::move(label), isatty(STDERR_FILENO) == 1)
{
}

CQNF_TerminalProgress::CQNF_TerminalProgress(std::string label, bool shown)
    : m_label(std::move(label)), m_shown(shown), m_start(std::chrono::steady_clock::now())
{
}

CQNF_TerminalProgress::~CQNF_TerminalProgress() { Finish(); }

void CQNF_TerminalProgress::Progress(uint8_t percent, void*)
{
    percent = std::min<uint8_t>(percent, 100);
    if (!m_shown || percent == m_lastPercent)
        return;
    m_lastPercent = percent;
    const int filled = percent * kBarWidth / 100;
    std::string bar(static_cast<size_t>(filled), '#');
    bar.append(static_cast<size_t>(kBarWidth - filled), '.');
    std::fprintf(stderr, "\r%s [%s] %3u%%", m_label.c_str(), bar.c_str(), unsigned{percent});
    std::fflush(stderr);
    m_drawn = true;
}

void CQNF_TerminalProgress::Finish()
{
    if (!m_drawn)
        return;
    // Blank the bar's line and return to its start.
    std::fprintf(stderr, "\r%*s\r", static_cast<int>(m_label.size()) + kBarWidth + 9, "");
    std::fflush(stderr);
    m_drawn = false;
    m_lastPercent = 0xFF;
}

double CQNF_TerminalProgress::Seconds() const
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count();
}

void CQNF_TerminalProgress::Summary(const std::string& text)
{
    Finish();
    if (m_shown)
        std::fprintf(stderr, "%s in %.1f s\n", text.c_str(), Seconds());
}
