// CQNF_Window: timers, pumping pending events, and modal loops.
//
// Timer ids: 0..31999 are the window's own; a control's timer t (1..3) of
// the control at index i is 32000 + 10000 t + i, as long as that fits 16 bits.
#include "ui/Control.h"
#include "ui/KeyCodes.h"
#include "ui/Window.h"

#include <vector>

namespace {
constexpr uint32_t kFirstControlId = 32000;
constexpr uint32_t kControlStride = 10000;
constexpr unsigned short kMaxControlTimer = 3;

// Saves a window's timers flag, sets it, and puts the saved value back, so
// that a nested pump never turns on the ticks an outer caller turned off.
class TimersFlag {
public:
    TimersFlag(CQNF_Window& w, unsigned char on) : m_w(w), m_saved(w.AreTimersEnabled()) { w.EnableTimers(on); }
    ~TimersFlag() { m_w.EnableTimers(m_saved); }

private:
    CQNF_Window& m_w;
    unsigned char m_saved;
};
}  // namespace

bool CQNF_Window::SetTimer(unsigned long ms, unsigned short id)
{
    if (!m_window)
        return false;
    const qnui::Toolkit::TimerRef ref = qnui::Toolkit::Get().AddTimer(this, uint32_t(ms));
    if (!ref)
        return false;
    if (m_timerRefs.Add(reinterpret_cast<void*>(uintptr_t(ref))) < 0 || m_timerIds.Add(id) < 0) {
        qnui::Toolkit::Get().RemoveTimer(ref);
        if (m_timerRefs.GetSize() > m_timerIds.GetSize())
            m_timerRefs.DeleteAt(m_timerRefs.GetSize() - 1);
        return false;
    }
    return true;
}

bool CQNF_Window::KillTimer(unsigned short id)
{
    if (!m_window)
        return false;
    for (uint32_t i = 0; i < m_timerIds.GetSize(); ++i)
        if (m_timerIds[i] == id) {
            qnui::Toolkit::Get().RemoveTimer(reinterpret_cast<uintptr_t>(m_timerRefs[i]));
            m_timerRefs.DeleteAt(i);
            m_timerIds.DeleteAt(i);
            break;
        }
    return true;
}

bool CQNF_Window::EncodeCtrlTimer(unsigned short controlTimerId, const CQNF_Control* control, unsigned short& id) const
{
    // Ids above 3, and indexes that would run past 16 bits, cannot be decoded
    // back to the same control: they are refused rather than aliased.
    if (controlTimerId > kMaxControlTimer)
        return false;
    const int32_t index = i_IndexOf(control);
    if (index < 0 || uint32_t(index) >= kControlStride)
        return false;
    const uint32_t encoded = kFirstControlId + kControlStride * controlTimerId + uint32_t(index);
    if (encoded > 65535)
        return false;
    id = uint16_t(encoded);
    return true;
}

bool CQNF_Window::SetCtrlTimer(unsigned long ms, unsigned short controlTimerId, CQNF_Control* control)
{
    unsigned short id = 0;
    return EncodeCtrlTimer(controlTimerId, control, id) && SetTimer(ms, id);
}

bool CQNF_Window::KillCtrlTimer(unsigned short controlTimerId, CQNF_Control* control)
{
    unsigned short id = 0;
    return EncodeCtrlTimer(controlTimerId, control, id) && KillTimer(id);
}

void CQNF_Window::TimerAction(qnui::Toolkit::TimerRef timer, void* window)
{
    auto* w = static_cast<CQNF_Window*>(window);
    const void* ref = reinterpret_cast<void*>(uintptr_t(timer));
    // Handlers set and kill timers: collect the ids first, then deliver each
    // only while its entry is still there.
    std::vector<unsigned short> ids;
    for (uint32_t i = 0; i < w->m_timerRefs.GetSize(); ++i)
        if (w->m_timerRefs[i] == ref)
            ids.push_back(w->m_timerIds[i]);
    for (unsigned short id : ids) {
        bool still = false;
        for (uint32_t i = 0; i < w->m_timerRefs.GetSize() && !still; ++i)
            still = w->m_timerRefs[i] == ref && w->m_timerIds[i] == id;
        if (still)
            w->iOnTimer(id);
    }
}

unsigned char CQNF_Window::iOnTimer(unsigned short id)
{
    if (!m_timersEnabled)
        return 0;
    if (id < kFirstControlId)
        return OnTimer(id);
    const uint32_t index = (id - kFirstControlId) % kControlStride;
    const unsigned short t = uint16_t((id - kFirstControlId) / kControlStride);
    CQNF_Control* c = GetControl(index);
    return c ? c->OnTimer(t) : 0;
}

void CQNF_Window::SubProcessMessages(CQNF_Window* target, unsigned char timers, unsigned char windowEvents,
                                     unsigned char keys, unsigned char mouse)
{
    qnui::Toolkit& tk = qnui::Toolkit::Get();
    uint32_t kinds = 0;
    if (mouse)
        kinds |= plat::kMouseKinds;
    if (keys)
        kinds |= plat::kKeyKinds;
    if (windowEvents)
        kinds |= plat::kWindowKinds;
    TimersFlag flag(*this, timers);
    tk.Poll();
    tk.FireDueTimers();
    plat::Event e;
    while (kinds && tk.Take(kinds, e)) {
        if (target)
            windowEventHandler(e, target);
        else
            tk.Dispatch(e);
        tk.FireDueTimers();
    }
}

unsigned char CQNF_Window::CheckForInputMessagesInQueue()
{
    TimersFlag flag(*this, 0);
    qnui::Toolkit& tk = qnui::Toolkit::Get();
    tk.Poll();
    return tk.Peek(plat::kMouseKinds | plat::kKeyKinds) ? 1 : 0;
}

unsigned char CQNF_Window::ESCIsInMessageQueue()
{
    TimersFlag flag(*this, 0);
    qnui::Toolkit& tk = qnui::Toolkit::Get();
    tk.Poll();
    plat::Event e;
    while (tk.Take(plat::kKeyKinds, e)) {
        if (e.kind == plat::Kind::KeyUp)
            continue;
        if (e.vkey == qnkey::vk::Escape || ((e.mods & plat::mods::Command) && e.ch == '.'))
            return 1;
    }
    return 0;
}

void CQNF_Window::CleanMessageQueue()
{
    qnui::Toolkit& tk = qnui::Toolkit::Get();
    tk.Poll();
    tk.Flush();
}

long CQNF_Window::DoModal()
{
    if (!m_window)
        return -1;
    m_inModalLoop = 1;
    m_modalResult = 0;
    SetFocus();
    m_appLoop = 1;
    qnui::Toolkit::Frame frame;
    frame.owner = this;
    frame.modal = true;
    qnui::Toolkit::Get().RunLoop(frame);
    m_appLoop = 0;
    m_inModalLoop = 0;
    return m_modalResult;
}

void CQNF_Window::EndModal(long result)
{
    Close();
    qnui::Toolkit::Get().QuitModalLoopsOf(this);
    m_inModalLoop = 0;
    m_modalResult = int32_t(result);
}
