#include "ui/Toolkit.h"

#include "ui/App.h"
#include "ui/Window.h"

#include <algorithm>

namespace qnui {

namespace {
bool Due(uint32_t due, uint32_t now) { return int32_t(due - now) <= 0; }
}  // namespace

Toolkit& Toolkit::Get()
{
    static Toolkit toolkit;
    return toolkit;
}

void Toolkit::Attach(plat::Platform* platform)
{
    if (m_p)
        m_p->SetSink(nullptr);
    m_p = platform;
    m_queue.clear();
    m_timers.clear();
    m_windows.clear();
    if (m_p)
        m_p->SetSink(this);
}

void Toolkit::Poll()
{
    if (m_p)
        m_p->WaitForEvents(0);
}

bool Toolkit::Peek(uint32_t kinds) const
{
    return std::any_of(m_queue.begin(), m_queue.end(), [&](const plat::Event& e) { return kinds & plat::Bit(e.kind); });
}

bool Toolkit::Take(uint32_t kinds, plat::Event& out)
{
    for (auto it = m_queue.begin(); it != m_queue.end(); ++it)
        if (kinds & plat::Bit(it->kind)) {
            out = *it;
            m_queue.erase(it);
            return true;
        }
    return false;
}

void Toolkit::Flush(uint32_t kinds)
{
    std::erase_if(m_queue, [&](const plat::Event& e) { return (kinds & plat::Bit(e.kind)) != 0; });
}

void Toolkit::Register(plat::WinId id, CQNF_Window* w)
{
    if (id)
        m_windows[id] = w;
}

void Toolkit::Unregister(plat::WinId id)
{
    m_windows.erase(id);
    // Nothing queued for a window that is gone may reach a new window that
    // happens to get the same id.
    std::erase_if(m_queue, [&](const plat::Event& e) { return e.win == id; });
}

CQNF_Window* Toolkit::Find(plat::WinId id) const
{
    auto it = m_windows.find(id);
    return it == m_windows.end() ? nullptr : it->second;
}

std::vector<plat::WinId> Toolkit::WindowIds() const
{
    std::vector<plat::WinId> ids;
    ids.reserve(m_windows.size());
    for (const auto& [id, w] : m_windows)
        ids.push_back(id);
    return ids;
}

Toolkit::TimerRef Toolkit::AddTimer(CQNF_Window* w, uint32_t ms)
{
    if (!m_p)
        return 0;
    TimerRef ref = m_nextTimer++;
    m_timers[ref] = Timer{w, ms, m_p->NowMs() + ms};
    return ref;
}

void Toolkit::RemoveTimer(TimerRef t) { m_timers.erase(t); }

void Toolkit::FireDueTimers()
{
    if (!m_p)
        return;
    const uint32_t now = m_p->NowMs();
    // Handlers set and kill timers (their own among them): walk a snapshot
    // and look each timer up again before its tick.
    std::vector<TimerRef> due;
    for (const auto& [ref, t] : m_timers)
        if (Due(t.due, now))
            due.push_back(ref);
    std::sort(due.begin(), due.end(), [&](TimerRef a, TimerRef b) {
        return int32_t(m_timers[a].due - m_timers[b].due) < 0 || (m_timers[a].due == m_timers[b].due && a < b);
    });
    for (TimerRef ref : due) {
        auto it = m_timers.find(ref);
        if (it == m_timers.end())
            continue;
        Timer& t = it->second;
        // Next tick one interval on; ticks missed while nothing ran are not
        // made up.
        t.due += std::max<uint32_t>(t.interval, 1);
        if (Due(t.due, now))
            t.due = now + std::max<uint32_t>(t.interval, 1);
        CQNF_Window::TimerAction(ref, t.window);
    }
}

int32_t Toolkit::MsToNextTimer() const
{
    if (!m_p || m_timers.empty())
        return -1;
    const uint32_t now = m_p->NowMs();
    int32_t best = INT32_MAX;
    for (const auto& [ref, t] : m_timers)
        best = std::min(best, std::max<int32_t>(0, int32_t(t.due - now)));
    return best;
}

void Toolkit::RunLoop(Frame& frame)
{
    if (!m_p)
        return;
    struct Guard {
        std::vector<Frame*>& frames;
        ~Guard() { frames.pop_back(); }
    } guard{m_frames};
    m_frames.push_back(&frame);
    while (!frame.quit) {
        FireDueTimers();
        if (frame.quit)
            break;
        plat::Event e;
        if (Take(plat::kAllKinds, e)) {
            Dispatch(e);
            continue;
        }
        m_p->WaitForEvents(MsToNextTimer());
    }
}

void Toolkit::QuitModalLoopsOf(const CQNF_Window* w)
{
    for (Frame* f : m_frames)
        if (f->modal && f->owner == w)
            f->quit = true;
}

bool Toolkit::QuitApplicationLoopOf(const CQNF_Window* w)
{
    bool any = false;
    for (Frame* f : m_frames)
        if (!f->modal && f->owner == w) {
            f->quit = true;
            any = true;
        }
    return any;
}

CQNF_Window* Toolkit::TopModal() const
{
    for (auto it = m_frames.rbegin(); it != m_frames.rend(); ++it)
        if ((*it)->modal && !(*it)->quit)
            return (*it)->owner;
    return nullptr;
}

bool Toolkit::InputAllowed(const CQNF_Window* w) const
{
    const CQNF_Window* modal = TopModal();
    if (!modal)
        return true;
    for (const CQNF_Window* p = w; p; p = p->GetParent())
        if (p == modal)
            return true;
    return false;
}

void Toolkit::Dispatch(const plat::Event& e)
{
    // Application events and window updates are also the host's to see.
    if ((plat::Bit(e.kind) & (plat::kAppKinds | plat::Bit(plat::Kind::WinDraw))) && m_App)
        m_App->i_AppEvent(e);
    CQNF_Window* w = Find(e.win);
    if (!w)
        return;
    if ((plat::Bit(e.kind) & (plat::kMouseKinds | plat::kKeyKinds)) && !InputAllowed(w)) {
        CQNF_Window* modal = TopModal();
        if ((plat::Bit(e.kind) & plat::kKeyKinds) && modal && modal->GetWindowHandle()) {
            plat::Event to = e;
            to.win = modal->GetWindowHandle();
            CQNF_Window::windowEventHandler(to, modal);
            return;
        }
        if (e.kind == plat::Kind::MouseDown && m_p) {
            m_p->Beep();
            ToFront(modal);
        }
        return;
    }
    // A window that is not modal keeps the keyboard only while it is the
    // one last clicked: a press on the main window beside an effect window
    // leaves the keys there, for the main window's own shortcuts.
    CQNF_Window::windowEventHandler(e, w);
}

void Toolkit::ToFront(const CQNF_Window* w)
{
    if (m_p && w && w->GetWindowHandle())
        m_p->Activate(w->GetWindowHandle());
}

void Toolkit::PumpFor(uint32_t ms)
{
    if (!m_p)
        return;
    const uint32_t end = m_p->NowMs() + ms;
    for (;;) {
        Poll();
        FireDueTimers();
        plat::Event e;
        while (Take(plat::kAllKinds, e)) {
            Dispatch(e);
            FireDueTimers();
        }
        const uint32_t now = m_p->NowMs();
        if (Due(end, now))
            break;
        int32_t wait = int32_t(end - now);
        int32_t next = MsToNextTimer();
        if (next >= 0)
            wait = std::min(wait, std::max(next, 1));
        m_p->WaitForEvents(wait);
    }
}

}  // namespace qnui
