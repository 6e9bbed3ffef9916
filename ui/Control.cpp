#include "ui/Control.h"

#include "ui/Window.h"

namespace qnctl {

const char* ResourceFolder(uint8_t type)
{
    switch (type) {
    case Slider: return "UIResources>Sliders>%s";
    case StaticImage:
    case Ruler: return "UIResources>Static Images>%s";
    case StaticText: return "UIResources>Static Texts>%s";
    case Progress: return "UIResources>Progresses>%s";
    case Button: return "UIResources>Buttons>%s";
    case RadioButton: return "UIResources>Radio Buttons>%s";
    case CheckBox: return "UIResources>Check Boxes>%s";
    case EditLine: return "UIResources>Edits>%s";
    case ScrollBar: return "UIResources>Scroll Bars>%s";
    case List: return "UIResources>Lists>%s";
    default: return nullptr;
    }
}

namespace {
Maker g_makers[256] = {};
}

void RegisterMaker(uint8_t type, Maker maker) { g_makers[type] = maker; }
Maker FindMaker(uint8_t type) { return g_makers[type]; }

}  // namespace qnctl

unsigned char CQNF_Control::Init(void* window, unsigned long id, CQNF_String name, CQNF_Storage* storage)
{
    m_window = static_cast<CQNF_Window*>(window);
    m_id = uint32_t(id);
    m_name = name;
    m_storage = storage;
    return 1;
}

void CQNF_Control::SetFocus(unsigned char focused)
{
    if (!m_focusMaster) {
        m_focused = focused;
        if (focused && m_window)
            m_window->OnCtrlFocused(m_id);
        return;
    }
    if (!focused)
        return;
    // The master chain's end holds the focus; a chain that loops back on
    // itself ends where it closes.
    CQNF_Control* end = m_focusMaster;
    for (int guard = 0; end->m_focusMaster && end->m_focusMaster != this && guard < 65536; ++guard)
        end = end->m_focusMaster;
    if (!end->m_focused)
        m_focusMaster->SetFocus(1);
}

bool CQNF_Control::SetTimer(unsigned long ms, unsigned short id)
{
    return m_window && m_window->SetCtrlTimer(ms, id, this);
}

bool CQNF_Control::KillTimer(unsigned short id)
{
    return m_window && m_window->KillCtrlTimer(id, this);
}
