// CQNF_Window: the event handler and the input dispatch to controls and
// the window.
#include "ui/App.h"
#include "ui/Control.h"
#include "ui/KeyCodes.h"
#include "ui/Window.h"

#include <algorithm>
#include <cstdlib>

namespace {
constexpr int kHandled = 0;
constexpr int kNotHandled = -9874;

plat::Platform* P() { return qnui::Toolkit::Get().P(); }

bool IsLetterOrDigit(uint8_t c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); }
}  // namespace

int CQNF_Window::windowEventHandler(const plat::Event& e, CQNF_Window* w)
{
    const int result = iDispatch(e, w);
    // A press, a release or a key may have changed what lies under a pointer
    // that did not move (a button that gives way to another, a control
    // turned off): its tip follows at once. The handler may have closed the
    // window for good; then there is nothing to follow.
    using plat::Kind;
    const bool input = e.kind == Kind::MouseDown || e.kind == Kind::MouseUp || e.kind == Kind::KeyDown ||
                       e.kind == Kind::KeyRepeat || e.kind == Kind::KeyUp || e.kind == Kind::MouseWheel;
    qnui::Toolkit& tk = qnui::Toolkit::Get();
    if (input && w->m_window && tk.Find(w->m_window) == w)
        w->iFollowStateUnderPointer(e.mods);
    // A key one window passes on to another (an effect window's Ctrl+H to
    // the main window's extras) changes that window under a pointer that may
    // rest on it: its tip follows too. Each window looks only when the
    // pointer is over it; one that a follow closed is passed over.
    const bool key = e.kind == Kind::KeyDown || e.kind == Kind::KeyRepeat || e.kind == Kind::KeyUp;
    if (key)
        for (const plat::WinId id : tk.WindowIds())
            if (CQNF_Window* other = tk.Find(id); other && other != w && other->m_window == id)
                other->iFollowStateUnderPointer(e.mods);
    return result;
}

void CQNF_Window::iFollowStateUnderPointer(unsigned char mods)
{
    if (m_closing || !m_window || GetControl(m_captured))
        return;
    // Under a modal window of another the pointer's moves do not reach this one.
    if (const CQNF_Window* top = qnui::Toolkit::Get().TopModal(); top && top != this)
        return;
    const qntPOS m = GetMousePos();
    const qntRECT_s wr = GetWindowRect();
    if (WindowFromPoint(qntPOS{m.x + wr.left, m.y + wr.top}) != m_window)
        return;
    const uint32_t under = uint32_t(ControlUnderPoint(short(m.x), short(m.y)));
    const CQNF_Control* c = GetControl(under);
    const uint8_t enabled = c ? c->IsEnabled() : 1;
    if (under != m_underPointer) {
        // As a move onto it: the control under the pointer shows that it is.
        iMouseMove(short(m.x), short(m.y), mods);
    } else if (enabled != m_underEnabled) {
        m_underEnabled = enabled;
        OnAboveControl(under);
    }
}

int CQNF_Window::iDispatch(const plat::Event& e, CQNF_Window* w)
{
    using plat::Kind;
    const uint32_t bit = plat::Bit(e.kind);
    short x = 0, y = 0;
    if (bit & (plat::kMouseKinds | plat::kKeyKinds)) {
        const plat::Point g = (bit & plat::kMouseKinds) || !P() ? e.global : P()->PointerGlobal();
        const qntRECT_s r = w->GetWindowRect();
        x = short(g.x - r.left);
        y = short(g.y - r.top);
        w->OnSetCursor(x, y);
    }
    const bool control = (e.mods & plat::mods::Control) != 0;
    const bool left = e.button == 1 && !control;
    const bool right = e.button == 2 || (e.button == 1 && control);
    switch (e.kind) {
    case Kind::MouseDown:
        // The main window ignores presses while another window of ours is
        // the active one.
        if (w->m_isMainWindow && P() && P()->ActiveWindow() != w->m_window)
            return kNotHandled;
        if (left)
            w->iLMouseDown(x, y, e.mods);
        else if (right)
            w->iRMouseDown(x, y, e.mods);
        return kNotHandled;
    case Kind::MouseUp:
        if (left)
            w->iLMouseUp(x, y, e.mods);
        else if (right)
            w->OnRMouseUp(x, y, e.mods);
        return kHandled;
    case Kind::MouseMoved:
    case Kind::MouseDragged: w->iMouseMove(x, y, e.mods); return kHandled;
    case Kind::MouseWheel: {
        const plat::WinId under = WindowFromPoint({e.global.x, e.global.y});
        if (!under)
            return kNotHandled;
        if (under == w->m_window) {
            w->iMouseWheel(x, y, e.mods, e.wheel);
            return kNotHandled;
        }
        if (CQNF_Window* other = qnui::Toolkit::Get().Find(under)) {
            plat::Event fwd = e;
            fwd.win = under;
            windowEventHandler(fwd, other);
        }
        return kNotHandled;
    }
    case Kind::KeyDown:
    case Kind::KeyRepeat: {
        const uint8_t code = qnkey::KeyCodeOf(e.vkey);
        // A modifier alone types nothing and names no shortcut: the window
        // alone is told of its press, not the focused control.
        if (code == qnkey::Modifier) {
            if (e.kind == Kind::KeyDown)
                w->OnKeyDown(code, e.mods);
            return kHandled;
        }
        // A focused edit line takes every key: Ctrl+Z undoes its typing and
        // Ctrl+A selects its text, never the window's commands as well.
        CQNF_Control* focused = w->GetControl(w->m_focused);
        const bool editing = focused && focused->GetType() == qnctl::EditLine && !focused->IsCtrlFiltered();
        if (e.kind == Kind::KeyDown && m_App && !editing) {
            uint8_t key = 0;
            if (IsLetterOrDigit(e.ch))
                key = e.ch;
            else if (code >= qnkey::F1 && code <= qnkey::F12)
                key = code;
            else
                key = qnkey::ShortcutCharOf(e.vkey);
            if (key)
                m_App->TranslateAccelerator(key, e.mods, w);
        }
        if (code)
            w->iKeyDown(code, e.mods);
        else
            w->iKeyChar((e.mods & plat::mods::Command) ? uint8_t(e.ch - 96) : e.ch, e.mods);
        return kHandled;
    }
    case Kind::KeyUp:
        w->iKeyUp(qnkey::KeyCodeOf(e.vkey), e.mods);
        return kNotHandled;
    case Kind::WinDraw: w->OnRedraw(qnNullRect); return kHandled;
    case Kind::WinActivated: w->iSetActiveCaption(1); return kNotHandled;
    case Kind::WinDeactivated: w->iSetActiveCaption(0); return kNotHandled;
    case Kind::WinDisposed: {
        qnui::Toolkit& tk = qnui::Toolkit::Get();
        // A modal loop ends with its window however the window went; the
        // application loop ends only with the window that runs it.
        tk.QuitModalLoopsOf(w);
        if (!w->m_parent && w->m_appLoop && !w->m_inModalLoop)
            tk.QuitApplicationLoopOf(w);
        return kNotHandled;
    }
    default: return kNotHandled;
    }
}

unsigned char CQNF_Window::iLMouseDown(short x, short y, unsigned char mods)
{
    if (PtInCaption(x, y)) {
        // From where the press happened, which the pointer may have left.
        const qntRECT_s r = GetWindowRect();
        i_DragWindow({r.left + x, r.top + y});
        return 1;
    }
    // Click counting.
    const uint32_t now = CQNF_App::GetPeriodicCounter();
    int clicks = 1;
    if (now - m_lastClickTime < m_doubleClickTime && std::abs(x - m_lastClickX) <= m_dblTolX &&
        std::abs(y - m_lastClickY) <= m_dblTolY) {
        if (m_doubleClickPending) {
            clicks = 3;
            m_doubleClickPending = 0;
        } else {
            clicks = 2;
            m_doubleClickPending = 1;
        }
    } else {
        m_doubleClickPending = 0;
    }
    m_lastClickX = x;
    m_lastClickY = y;
    m_lastClickTime = clicks == 3 ? 0 : now;

    CQNF_Control* consumer = nullptr;
    for (int32_t i = int32_t(m_controls.GetSize()) - 1; i >= 0; --i) {
        CQNF_Control* c = GetControl(uint32_t(i));
        if (!c || c->IsCtrlFiltered() || !c->PtInControl(x, y))
            continue;
        m_captured = uint32_t(i);
        if (m_focused != uint32_t(i))
            c->SetFocus(1);
        if (c->OnLMouseDown(x, y, mods)) {
            consumer = c;
            break;
        }
    }
    if (!consumer)
        OnCtrlFocused(None);
    const unsigned char result = OnLMouseDown(x, y, mods);
    if (clicks == 2) {
        if (consumer)
            consumer->OnLMouseDoubleClick(x, y, mods);
        OnLMouseDoubleClick(x, y, mods);
    } else if (clicks == 3) {
        if (consumer)
            consumer->OnLMouseTripleClick(x, y, mods);
        OnLMouseTripleClick(x, y, mods);
    }
    return result;
}

unsigned char CQNF_Window::iLMouseUp(short x, short y, unsigned char mods)
{
    if (CQNF_Control* c = GetControl(m_captured)) {
        m_captured = None;
        c->OnLMouseUp(x, y, mods);
    } else {
        m_captured = None;
        for (int32_t i = int32_t(m_controls.GetSize()) - 1; i >= 0; --i) {
            CQNF_Control* k = GetControl(uint32_t(i));
            if (k && !k->IsCtrlFiltered() && k->PtInControl(x, y) && k->OnLMouseUp(x, y, mods))
                break;
        }
    }
    return OnLMouseUp(x, y, mods);
}

namespace {

// A control that can be under the pointer: not filtered, and not a disabled
// one drawn invisible.
bool Hoverable(const CQNF_Control* c)
{
    return c && !c->IsCtrlFiltered() && (c->IsEnabled() || c->GetDisabledOpacity() != 0);
}

}  // namespace

unsigned long CQNF_Window::ControlUnderPoint(short x, short y) const
{
    for (int32_t i = int32_t(m_controls.GetSize()) - 1; i >= 0; --i)
        if (CQNF_Control* k = GetControl(uint32_t(i)); Hoverable(k) && k->PtAboveControl(x, y))
            return uint32_t(i);
    return None;
}

unsigned char CQNF_Window::iMouseMove(short x, short y, unsigned char mods)
{
    uint32_t under = None;
    auto report = [&](uint32_t index) {
        if (index != m_underPointer) {
            if (OnAboveControl(index))
                m_underPointer = index;
            else
                under = None;
        }
    };
    if (CQNF_Control* c = GetControl(m_captured)) {
        under = m_captured;
        report(under);
        c->OnMouseMove(x, y, mods);
    } else {
        under = uint32_t(ControlUnderPoint(x, y));
        if (under != None)
            report(under);
        for (int32_t i = int32_t(m_controls.GetSize()) - 1; i >= 0; --i) {
            CQNF_Control* k = GetControl(uint32_t(i));
            if (Hoverable(k) && k->PtAboveControl(x, y) && k->PtInControl(x, y) && k->OnMouseMove(x, y, mods))
                break;
        }
    }
    if (under != m_underPointer) {
        m_underPointer = under;
        OnAboveControl(under);
    }
    const CQNF_Control* now = GetControl(m_underPointer);
    m_underEnabled = now ? now->IsEnabled() : 1;
    return OnMouseMove(x, y, mods);
}

unsigned char CQNF_Window::iMouseWheel(short x, short y, unsigned char mods, short delta)
{
    bool editTook = false;
    if (CQNF_Control* f = GetControl(m_focused); f && f->GetType() == qnctl::EditLine)
        editTook = f->OnMouseWheel(x, y, mods, delta) != 0;
    if (!editTook && !GetControl(m_captured)) {
        for (int32_t i = int32_t(m_controls.GetSize()) - 1; i >= 0; --i) {
            CQNF_Control* k = GetControl(uint32_t(i));
            if (k && !k->IsCtrlFiltered() && k->PtInControl(x, y) && k->OnMouseWheel(x, y, mods, delta))
                return 1;
        }
    }
    if (editTook)
        return 1;
    if (CQNF_Control* c = GetControl(m_captured); c && c->OnMouseWheel(x, y, mods, delta))
        return 1;
    return OnMouseWheel(x, y, mods, delta);
}

unsigned char CQNF_Window::iRMouseDown(short x, short y, unsigned char mods)
{
    if (OnRMouseDown(x, y, mods))
        return 1;
    return OnContextMenu(x, y, mods);
}

unsigned char CQNF_Window::iRMouseUp(short x, short y, unsigned char mods) { return OnRMouseUp(x, y, mods); }

unsigned char CQNF_Window::iKeyDown(unsigned char key, unsigned char mods)
{
    if (CQNF_Control* f = GetControl(m_focused); f && f->OnKeyDown(key, mods))
        return 1;
    return OnKeyDown(key, mods);
}

unsigned char CQNF_Window::iKeyChar(unsigned char key, unsigned char mods)
{
    if (CQNF_Control* f = GetControl(m_focused))
        f->OnKeyChar(key, mods);
    return OnKeyChar(key, mods);
}

unsigned char CQNF_Window::iKeyUp(unsigned char key, unsigned char mods)
{
    if (CQNF_Control* f = GetControl(m_focused))
        f->OnKeyUp(key, mods);
    return OnKeyUp(key, mods);
}

void CQNF_Window::iSetActiveCaption(unsigned char active)
{
    if (m_hasActiveCaption && m_hasInactiveCaption) {
        m_captionActive.SetVisible(active ? 1 : 0);
        m_captionInactive.SetVisible(active ? 0 : 1);
        const qntRECT_s r = m_captionActive.GetRect();
        RenderRect(r);
        UpdateRect(r);
    }
    if (!active)
        OnCtrlFocused(None);
}

bool CQNF_Window::PtInCaption(short x, short y)
{
    // Where the caption does not take the point the drag area decides.
    if (CQNF_Layer* cap = GetCaptionLayer(); cap && cap->GetImageMode() == qnimg::ModeRGBA) {
        const qntRECT_s r = cap->GetRect();
        if (x >= r.left && x < r.right && y >= r.top && y < r.bottom &&
            cap->GetPixel(uint16_t(x - r.left), uint16_t(y - r.top)).a > 128)
            return true;
    }
    if (m_dragMask && x >= m_dragRect.left && x < m_dragRect.right && y >= m_dragRect.top && y < m_dragRect.bottom) {
        const int32_t w = m_dragRect.right - m_dragRect.left;
        return m_dragMask[size_t(y - m_dragRect.top) * w + size_t(x - m_dragRect.left)] > 128;
    }
    return false;
}

bool CQNF_Window::PtInCaptionGCoors(short x, short y)
{
    const qntRECT_s r = GetWindowRect();
    return PtInCaption(short(x - r.left), short(y - r.top));
}

unsigned char CQNF_Window::OnSetCursor(short x, short y)
{
    auto isEdit = [](CQNF_Control* c) { return c && !c->IsCtrlFiltered() && c->GetType() == qnctl::EditLine; };
    if (CQNF_Control* c = GetControl(m_captured)) {
        if (isEdit(c)) {
            SetIBeamCursor();
            return 1;
        }
    } else {
        for (uint32_t i = 0; i < m_controls.GetSize(); ++i) {
            CQNF_Control* k = GetControl(i);
            if (isEdit(k) && k->PtInControl(x, y)) {
                SetIBeamCursor();
                return 1;
            }
        }
    }
    if (x >= 0 && x < m_width && y >= 0 && y < m_height)
        SetNormalCursor();
    return 1;
}

void CQNF_Window::OnCtrlFocused(unsigned long index)
{
    if (m_focused == uint32_t(index))
        return;
    for (uint32_t i = 0; i < m_controls.GetSize(); ++i)
        if (CQNF_Control* c = GetControl(i))
            c->SetFocus(0);
    m_focused = uint32_t(index);
}

void CQNF_Window::OnCtrlLostFocus(unsigned long index)
{
    if (m_focused == uint32_t(index))
        m_focused = None;
}

void CQNF_Window::OnCtrlNewGroupMaster(unsigned long index, unsigned char group)
{
    for (uint32_t i = 0; i < m_controls.GetSize(); ++i)
        if (CQNF_Control* c = GetControl(i); c && i != index && c->GetGroupID() == group)
            c->SetCheck(0, 0);
}

void CQNF_Window::FilterControl(unsigned char filtered, unsigned long index)
{
    if (uint32_t(index) == None) {
        for (uint32_t i = 0; i < m_controls.GetSize(); ++i)
            if (CQNF_Control* c = GetControl(i))
                c->SetCtrlFiltered(filtered);
    } else if (CQNF_Control* c = GetControl(index)) {
        c->SetCtrlFiltered(filtered);
    } else {
        return;
    }
    if (uint32_t(index) == None || uint32_t(index) == m_focused) {
        OnCtrlFocused(None);
        m_captured = None;
    }
}

uint32_t CQNF_Window::GetKeysStatus() { return P() ? (P()->KeyState() & 0x1F) : 0; }
bool CQNF_Window::IsKeyDown_Spacebar() { return (GetKeysStatus() & plat::mods::Space) != 0; }

void CQNF_Window::SetNormalCursor()
{
    if (P())
        P()->SetCursor(0);
}

void CQNF_Window::SetIBeamCursor()
{
    if (P())
        P()->SetCursor(1);
}

void CQNF_Window::SetCursorByID(long id)
{
    if (P())
        P()->SetCursor(int32_t(id));
}

void CQNF_Window::i_DragWindow(plat::Point start)
{
    plat::Platform* p = P();
    qnui::Toolkit& tk = qnui::Toolkit::Get();
    if (!p || !m_window)
        return;
    plat::Rect bounds = p->DesktopBounds();
    if (bounds.Width() <= 0 || bounds.Height() <= 0) {
        auto screens = p->ScreenWorkAreas();
        if (!screens.empty())
            bounds = screens.front();
    }
    const plat::Rect origin = p->ContentRect(m_window);
    const uint32_t kinds = plat::Bit(plat::Kind::MouseMoved) | plat::Bit(plat::Kind::MouseDragged) |
                           plat::Bit(plat::Kind::MouseUp);
    // Tracks the pointer until the button comes up, as the platform's own
    // window drag does; window drawing goes on meanwhile.
    for (;;) {
        plat::Event e;
        if (tk.Take(kinds, e)) {
            plat::Point g = e.global;
            if (bounds.Width() > 0 && bounds.Height() > 0) {
                g.x = std::clamp(g.x, bounds.left, bounds.right - 1);
                g.y = std::clamp(g.y, bounds.top, bounds.bottom - 1);
            }
            p->Move(m_window, {origin.left + g.x - start.x, origin.top + g.y - start.y});
            if (e.kind == plat::Kind::MouseUp || !m_window)
                return;
            continue;
        }
        if (tk.Take(plat::Bit(plat::Kind::WinDraw), e)) {
            tk.Dispatch(e);
            continue;
        }
        p->WaitForEvents(50);
    }
}
