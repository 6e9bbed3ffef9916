#include "ui/CtrlEditLine.h"

#include "core/Storage.h"
#include "imaging/Font.h"
#include "ui/App.h"
#include "ui/CtrlSkin.h"
#include "ui/KeyCodes.h"
#include "ui/Window.h"

#include <algorithm>

CQNF_CtrlEditLine::CQNF_CtrlEditLine()
{
    m_type = qnctl::EditLine;
    m_colours = qnui::DefaultEditLineColours();
    m_model.SetHost(this);
    m_model.SetGlyphs(&m_glyphs);
    const uint32_t delay = CQNF_App::GetCaretDelay();
    m_caretDelay = delay ? delay : 500;
}

CQNF_CtrlEditLine::~CQNF_CtrlEditLine()
{
    if (m_ready && m_focused)
        KillTimer(kCaretTimer);
}

unsigned char CQNF_CtrlEditLine::Init(void* window, unsigned long id, CQNF_String name, CQNF_Storage* storage)
{
    if (!CQNF_Control::Init(window, id, name, storage))
        return 0;
    uint16_t left = 0, top = 0, right = 0, bottom = 0;
    if (!m_storage || !m_storage->GetRec(ResourceKey("Rect Left"), left) ||
        !m_storage->GetRec(ResourceKey("Rect Top"), top) || !m_storage->GetRec(ResourceKey("Rect Right"), right) ||
        !m_storage->GetRec(ResourceKey("Rect Bottom"), bottom) || right <= left || bottom <= top) {
        SetError(qnerr::ControlSkin);
        return 0;
    }
    m_rect = {left, top, right, bottom};
    if (!m_layer.Create(m_rect, qnimg::ModeRGBA)) {
        SetError(m_layer.GetError());
        return 0;
    }
    m_window->LSAddLayer(&m_layer);
    m_ready = 1;
    m_textArea = {m_rect.left + m_margins[0], m_rect.top + m_margins[1], m_rect.right - m_margins[2],
                  m_rect.bottom - m_margins[3]};
    m_model.SetGeometry(m_textArea.left, m_textArea.right, m_rect.left, m_rect.right);
    SetState(kNormal);
    return 1;
}

void CQNF_CtrlEditLine::DrawState()
{
    if (!m_ready || !m_glyphs.GetFont())
        return;
    m_caretShown = qnui::PaintEditLine(m_layer, m_rect.left, m_rect.top, m_textArea.top, m_textArea.bottom,
                                       m_textOffset, m_model, &m_glyphs, m_colours, m_state, m_caretWidth)
                       ? 1
                       : 0;
}

void CQNF_CtrlEditLine::Redraw()
{
    if (!m_ready || !m_window)
        return;
    m_window->RenderRect(m_rect);
    m_window->UpdateRect(m_rect);
}

void CQNF_CtrlEditLine::EditRedraw()
{
    DrawState();
    Redraw();
}

void CQNF_CtrlEditLine::SetState(uint8_t state)
{
    if (!m_ready || state == m_state)
        return;
    m_state = state;
    // Disabled, the field dims like every other disabled control.
    m_layer.SetOpacity(state == kDisabled ? m_disabledOpacity : 255);
    DrawState();
    Redraw();
}

void CQNF_CtrlEditLine::SetFont(CQNF_Font* font)
{
    m_glyphs.SetFont(font);
    EditRedraw();
}

void CQNF_CtrlEditLine::SetOptions(unsigned char numeric, unsigned char minusAllowed, unsigned char decimalsAllowed,
                                   unsigned char readOnly, short textOffset, unsigned char tabEndsEditing)
{
    m_model.SetOptions(numeric, minusAllowed, decimalsAllowed, readOnly, tabEndsEditing);
    m_textOffset = textOffset;
    EditRedraw();
}

void CQNF_CtrlEditLine::SetColors(const qntRGBA8 colours[10])
{
    for (int i = 0; i < 10; ++i)
        if (!(colours[i].r == 1 && colours[i].a == 0))
            m_colours.c[i] = colours[i];
    EditRedraw();
}

void CQNF_CtrlEditLine::SetText(const char* text, unsigned char notify)
{
    m_model.SetText(text ? text : "", notify != 0);
}

void CQNF_CtrlEditLine::GetSelection(long* start, long* end, CQNF_String* text) const
{
    std::string selected;
    m_model.GetSelection(start, end, text ? &selected : nullptr);
    if (text)
        *text = selected.c_str();
}

void CQNF_CtrlEditLine::OnChange()
{
    m_text = m_model.GetText().c_str();
    SendMessage(qnmsg::TextEdited, &m_text);
}

void CQNF_CtrlEditLine::Visible(unsigned char visible)
{
    m_layer.SetVisible(visible);
    Redraw();
}

void CQNF_CtrlEditLine::SetVisibility(unsigned char visible)
{
    m_layer.SetVisible(visible);
    EditRedraw();
}

void CQNF_CtrlEditLine::Hover()
{
    if (!m_enabled)
        return;
    if (PtInControl(short(GetMousePos().x), short(GetMousePos().y))) {
        SetState(kHovered);
        StartHoverPoll();
    } else {
        StopHoverPoll();
        SetState(kNormal);
    }
}

void CQNF_CtrlEditLine::SetFocus(unsigned char focused)
{
    if (focused && !m_focused) {
        // The window's sweep of SetFocus(0) must not find this field focused.
        NotifyParentCtrlFocuseed();
        m_focused = 1;
        StopHoverPoll();
        m_model.FocusGained();
        m_state = kEditing;
        EditRedraw();
        SetTimer(m_caretDelay, kCaretTimer);
    } else if (!focused && m_focused) {
        // The window reads and checks the value here.
        NotifyParentCtrlLostFocus();
        m_focused = 0;
        KillTimer(kCaretTimer);
        m_model.FocusLost();
        m_state = 255;
        Hover();
        if (m_state == 255)
            SetState(m_enabled ? kNormal : kDisabled);
    }
}

void CQNF_CtrlEditLine::Enable(unsigned char enabled)
{
    CQNF_Control::Enable(enabled);
    if (enabled) {
        const qntPOS p = GetMousePos();
        OnMouseMove(short(p.x), short(p.y), 0);
    } else {
        StopHoverPoll();
        SetState(kDisabled);
    }
}

unsigned char CQNF_CtrlEditLine::OnTimer(unsigned short id)
{
    if (id == kHoverTimer) {
        if (!PointerStillOver()) {
            StopHoverPoll();
            if (!m_focused && m_enabled)
                SetState(kNormal);
        }
    } else if (id == kCaretTimer && m_ready && m_glyphs.GetFont()) {
        if (qnui::ToggleCaret(m_layer, m_rect.left, m_rect.top, m_textArea.top, m_textArea.bottom, m_model,
                              m_caretWidth))
            m_caretShown ^= 1;
        Redraw();
    }
    return 1;
}

unsigned char CQNF_CtrlEditLine::OnMouseMove(short x, short, unsigned char)
{
    if (!m_focused)
        Hover();
    else if (m_model.IsDragging())
        m_model.MouseDrag(x);
    return 1;
}

unsigned char CQNF_CtrlEditLine::OnLMouseDown(short x, short, unsigned char mods)
{
    m_model.MouseDown(x, mods);
    return 1;
}

unsigned char CQNF_CtrlEditLine::OnLMouseUp(short, short, unsigned char)
{
    m_model.MouseUp();
    return 1;
}

unsigned char CQNF_CtrlEditLine::OnLMouseDoubleClick(short, short, unsigned char)
{
    m_model.DoubleClick();
    return 0;
}

unsigned char CQNF_CtrlEditLine::OnLMouseTripleClick(short, short, unsigned char)
{
    m_model.TripleClick();
    return 1;
}

unsigned char CQNF_CtrlEditLine::OnMouseWheel(short, short, unsigned char mods, short delta)
{
    return m_model.Wheel(delta, mods) ? 1 : 0;
}

unsigned char CQNF_CtrlEditLine::OnKeyDown(unsigned char key, unsigned char mods)
{
    m_model.KeyDown(key, mods);
    // Every key is the line's, in a dialog as in a window that stays open:
    // Return confirms the value typed and Esc takes it back, each ending the
    // edit alone. Only the next press, with no line focused, answers the
    // dialog, so a slip in one field never throws the others' changes away.
    return 1;
}

unsigned char CQNF_CtrlEditLine::OnKeyChar(unsigned char ch, unsigned char mods)
{
    m_model.KeyChar(ch, mods);
    return 1;
}

unsigned char CQNF_CtrlEditLine::PtAboveControl(short x, short y)
{
    return m_ready && x >= m_rect.left && x < m_rect.right && y >= m_rect.top && y < m_rect.bottom;
}

void CQNF_CtrlEditLine::EditBeep() { CQNF_App::SystemBeep(); }

bool CQNF_CtrlEditLine::ClipboardHasText() { return CQNF_App::Clipboard_IsTextDataAvailable(); }

bool CQNF_CtrlEditLine::ClipboardGetText(std::string& text)
{
    CQNF_String s;
    if (!CQNF_App::Clipboard_GetText(s))
        return false;
    text.assign(s.GetStr(), s.GetLength());
    return true;
}

void CQNF_CtrlEditLine::ClipboardSetText(const std::string& text)
{
    CQNF_App::Clipboard_SetText(CQNF_String(text.c_str()));
}
