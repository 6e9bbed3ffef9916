// A progress bar on stderr for the command-line programs.
//
// It draws only when stderr is a terminal, so logs and pipes get nothing
// extra: one line, redrawn in place ("\r"), cleared by Finish(). The closing
// summary (Summary) follows the same rule.
#pragma once

#include "core/Progress.h"

#include <chrono>
#include <string>

class CQNF_TerminalProgress : public CQNF_Progress {
public:
    // label names the work ("cutting"); shown tells whether to draw (by
    // default: whether stderr is a terminal).
    explicit CQNF_TerminalProgress(std::string label);
    CQNF_TerminalProgress(std::string label, bool shown);
    ~CQNF_TerminalProgress() override;

    void Progress(uint8_t percent, void* data) override;
    // Clears the bar's line.
    void Finish();
    // Prints one closing line after the bar when shown: the text and the
    // time since the progress was made ("... in 2.4 s").
    void Summary(const std::string& text);
    bool Shown() const { return m_shown; }
    double Seconds() const;

private:
    std::string m_label;
    bool m_shown;
    bool m_drawn = false;
    std::chrono::steady_clock::time_point m_start;
};
