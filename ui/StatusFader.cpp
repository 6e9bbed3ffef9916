#include "ui/StatusFader.h"

#include "ui/CtrlStatic.h"
#include "ui/Window.h"

#include <algorithm>

bool CStatusFader::Request(const char* text)
{
    const std::string t = text ? text : "";
    if (t == m_pending)
        return false;
    m_pending = t;
    m_state = FadingOut;
    return true;
}

uint8_t CStatusFader::Tick(uint8_t opacity, bool& showText)
{
    showText = false;
    switch (m_state) {
    case FadingIn:
        if (opacity > 254) {
            m_state = Idle;
            return opacity;
        }
        return uint8_t(std::min(opacity + 40, 255));
    case FadingOut:
        if (opacity == 0) {
            showText = true;
            m_state = FadingIn;
            return 0;
        }
        return uint8_t(std::max(opacity - 65, 0));
    case Idle:
        break;
    }
    return opacity;
}

bool CStatusFader::TickLine(CQNF_CtrlStaticText& line)
{
    if (m_state == Idle)
        return false;
    bool show = false;
    const uint8_t opacity = line.GetOpacity();
    const uint8_t next = Tick(opacity, show);
    if (show)
        line.SetText(m_pending.c_str());
    else if (next != opacity)
        line.SetOpacity(next);
    return true;
}

void CStatusFader::Start(CQNF_Window& w, CQNF_CtrlStaticText* line)
{
    m_pLine = line;
    m_bTimer = w.SetTimer(kTickMs, kTimer);
}

void CStatusFader::Stop(CQNF_Window& w)
{
    if (m_bTimer)
        w.KillTimer(kTimer);
    m_bTimer = false;
}

bool CStatusFader::OnTimer(unsigned short id)
{
    if (id != kTimer)
        return false;
    if (m_pLine)
        TickLine(*m_pLine);
    return true;
}
