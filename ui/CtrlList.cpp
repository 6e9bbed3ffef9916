#include "ui/CtrlList.h"

#include "core/Storage.h"
#include "ui/CtrlScrollBar.h"
#include "ui/Window.h"

#include <algorithm>
#include <string>

namespace {
const char* const kSkinNames[10] = {"Background_Normal",  "Background_Highlighted", "Background_Working",
                                    "Background_Disabled", "Background_Selected",    "Foreground_Normal",
                                    "Foreground_Highlighted", "Foreground_Working", "Foreground_Disabled",
                                    "Foreground_Selected"};
}  // namespace

unsigned char CQNF_CtrlList::Init(void* window, unsigned long id, CQNF_String name, CQNF_Storage* storage)
{
    if (!CQNF_Control::Init(window, id, name, storage))
        return 0;
    if (!m_storage) {
        SetError(qnerr::ControlSkin);
        return 0;
    }
    for (int i = 0; i < 10; ++i)
        m_skins[i].Load(*this, kSkinNames[i]);
    uint16_t left = 0, top = 0, right = 0, bottom = 0;
    if (!m_skins[kBgSelected].Present() || !m_skins[kFgNormal + 4].Present() ||
        !m_storage->GetRec(ResourceKey("Rect Left"), left) || !m_storage->GetRec(ResourceKey("Rect Top"), top) ||
        !m_storage->GetRec(ResourceKey("Rect Right"), right) ||
        !m_storage->GetRec(ResourceKey("Rect Bottom"), bottom) || right <= left || bottom <= top) {
        SetError(qnerr::ControlSkin);
        return 0;
    }
    m_area = {left, top, right, bottom};
    m_model.SetArea(m_area);
    // The background covers its four state images; without any, the item area.
    qntRECT_s render = qnNullRect;
    for (int i = kBgNormal; i <= kBgDisabled; ++i)
        qnctl::Widen(render, m_skins[i]);
    if (qnIsNullRect(render))
        render = m_area;
    if (!m_text.Create(short(m_area.left), short(m_area.top), 1, uint16_t(right - left), uint16_t(bottom - top)) ||
        !m_background.Create(render, qnimg::ModeRGBA)) {
        SetError(qnerr::NoMemory);
        return 0;
    }
    m_window->LSAddLayer(&m_background);
    m_window->LSAddLayer(&m_text);
    m_ready = 1;
    SetState(kNormal);
    return 1;
}

void CQNF_CtrlList::SetState(unsigned char s)
{
    if (!m_ready)
        return;
    m_background.SetOpacity(255);
    m_text.SetOpacity(255);
    const bool refresh = s == kQuiet || s == kRefresh;
    const uint8_t show = refresh ? m_state : s;
    int bg = kBgNormal;
    int fg = kFgNormal;
    const int stateIndex = show == kHovered ? 1 : show == kWorking ? 2 : show == kDisabled ? 3 : 0;
    // A disabled opacity of 0 hides the list whatever its skin has.
    const bool pictures = show != kDisabled || ShowsDisabledPicture();
    if (stateIndex) {
        if (pictures && m_skins[kBgNormal + stateIndex].Present())
            bg = kBgNormal + stateIndex;
        else if (show == kDisabled)
            m_background.SetOpacity(m_disabledOpacity);
        if (pictures && m_skins[kFgNormal + stateIndex].Present())
            fg = kFgNormal + stateIndex;
        else if (show == kDisabled)
            m_text.SetOpacity(m_disabledOpacity);
    }
    if (s != m_state || refresh) {
        qnctl::ShowImage(*this, m_background, m_skins[bg].Present() ? &m_skins[bg] : nullptr);
        if (!refresh)
            m_state = s;
        m_text.Set(qntRGBA8{0, 0, 0, 0}, 15);
        if (m_skins[fg].Present())
            SetDataToImage(&m_text, 0, 0, m_skins[fg].pixels, m_skins[fg].rect, 0, 0);
    }

    // Selection bands of the rows shown.
    const qnctl::SkinImage& fgSel = m_skins[kFgNormal + 4];
    const qnctl::SkinImage& bgSel = m_skins[kBgSelected];
    const int lh = int(m_model.GetLineHeight());
    const qntRECT_s layer = m_background.GetRect();
    for (int y : m_model.BandRows(GetFocus() != 0)) {
        SetDataToImage(&m_text, 0, short(y), fgSel.pixels, fgSel.rect, short(y), short(lh));
        const int rows = std::min(lh, m_area.bottom - (m_area.top + y));
        if (rows > 0)
            SetDataToImage(&m_background, short(bgSel.rect.left - layer.left),
                           short(y + m_area.top - layer.top), bgSel.pixels, bgSel.rect, short(y), short(rows));
    }

    const std::string text = m_model.VisibleText();
    m_text.SetText(CQNF_String(text.c_str()), qntRGBA8{0, 0, 0, 0}, uint16_t(lh), m_model.GetTextX(),
                   m_model.GetTextY());
    Redraw();

    const uint32_t first = m_model.GetFirstVisible();
    if (int64_t(first) != m_lastScrollPos) {
        m_lastScrollPos = first;
        if (s != kQuiet && m_scrollBar)
            m_scrollBar->SetPosition(first);
    }
}

void CQNF_CtrlList::Redraw()
{
    if (!m_ready || !m_window)
        return;
    const qntRECT_s r = m_background.GetRect();
    m_window->RenderRect(r);
    m_window->UpdateRect(r);
    const qntRECT_s t = m_text.GetRect();
    if (t.left < r.left || t.top < r.top || t.right > r.right || t.bottom > r.bottom) {
        m_window->RenderRect(t);
        m_window->UpdateRect(t);
    }
}

void CQNF_CtrlList::SetOptions(unsigned char multiSelect, unsigned char showSelectionUnfocused,
                               unsigned short lineHeight, short textX, short textY, unsigned long scrollBarId)
{
    m_model.SetOptions(multiSelect, showSelectionUnfocused, lineHeight, textX, textY);
    // Only a real scroll bar is adopted; without one the list scrolls by keys alone.
    CQNF_Control* bar = GetControlByID(scrollBarId);
    m_scrollBar = (bar && bar != this && bar->GetType() == qnctl::ScrollBar) ? static_cast<CQNF_CtrlScrollBar*>(bar)
                                                                             : nullptr;
    if (m_scrollBar) {
        m_scrollBar->SetFocusMaster(this);
        m_scrollBar->EnableMessageForwardingToFocusMaster(1);
    }
    SetState(m_state);
}

void CQNF_CtrlList::SyncScrollInfo()
{
    if (m_scrollBar)
        m_scrollBar->SetInfo(m_model.GetItemsCount(), m_model.GetVisibleRows() - 1);
}

void CQNF_CtrlList::Report(bool redraw, bool notify)
{
    if (redraw)
        SetState(kRefresh);
    if (notify)
        SendMessage(qnmsg::SelectionChanged, nullptr);
}

unsigned long CQNF_CtrlList::AddItem(const char* text, unsigned char selected, void* data, unsigned char deferUpdate)
{
    const uint32_t index = m_model.AddItem(text ? text : "", selected != 0, data);
    if (!deferUpdate) {
        SetState(kRefresh);
        SyncScrollInfo();
    }
    return index;
}

unsigned char CQNF_CtrlList::UpdateAfterChanges()
{
    SetState(kRefresh);
    SyncScrollInfo();
    return 1;
}

void CQNF_CtrlList::RemoveAllItems(unsigned char redraw, unsigned char notify)
{
    m_model.RemoveAllItems();
    if (redraw) {
        SetState(kRefresh);
        SyncScrollInfo();
    }
    Report(false, notify);
}

unsigned char CQNF_CtrlList::GetItem(unsigned long index, CQNF_String* text, unsigned char* selected,
                                     void** data) const
{
    std::string t;
    bool sel = false;
    if (index > 0xFFFFFFFFul || !m_model.GetItem(uint32_t(index), &t, &sel, data))
        return 0;
    if (text)
        *text = t.c_str();
    if (selected)
        *selected = sel;
    return 1;
}

unsigned char CQNF_CtrlList::SetItem(unsigned long index, CQNF_String* text, unsigned char* selected, void** data,
                                     unsigned char redraw)
{
    const std::string t = text ? std::string(text->GetStr()) : std::string();
    const bool sel = selected && *selected;
    if (index > 0xFFFFFFFFul ||
        !m_model.SetItem(uint32_t(index), text ? &t : nullptr, selected ? &sel : nullptr, data))
        return 0;
    if (redraw)
        SetState(kRefresh);
    return 1;
}

void CQNF_CtrlList::RemoveSelection(unsigned char redraw, unsigned char notify)
{
    m_model.RemoveSelection();
    Report(redraw, notify);
}

void CQNF_CtrlList::SelectItems(unsigned long from, unsigned long to, unsigned char clear, unsigned char toggle,
                                unsigned char scroll, unsigned char redraw, unsigned char notify)
{
    m_model.SelectItems(uint32_t(from), uint32_t(to), clear, toggle, scroll);
    Report(redraw, notify);
}

void CQNF_CtrlList::Hover()
{
    if (!m_enabled)
        return;
    const qntPOS p = GetMousePos();
    if (PtInControl(short(p.x), short(p.y))) {
        SetState(kHovered);
        StartHoverPoll();
    } else {
        StopHoverPoll();
        SetState(kNormal);
    }
}

void CQNF_CtrlList::SetFocus(unsigned char focused)
{
    if (focused && !m_focused) {
        NotifyParentCtrlFocuseed();
        m_focused = 1;
        StopHoverPoll();
        SetState(kWorking);
    } else if (!focused && m_focused) {
        NotifyParentCtrlLostFocus();
        m_focused = 0;
        if (m_enabled)
            Hover();
    }
}

void CQNF_CtrlList::Enable(unsigned char enabled)
{
    CQNF_Control::Enable(enabled);
    if (!enabled)
        StopHoverPoll();
    SetState(enabled ? kNormal : kDisabled);
}

unsigned char CQNF_CtrlList::OnTimer(unsigned short id)
{
    if (id == kHoverTimer && !PointerStillOver()) {
        StopHoverPoll();
        if (!m_focused && m_enabled)
            SetState(kNormal);
    }
    return 1;
}

unsigned char CQNF_CtrlList::OnMouseMove(short, short, unsigned char)
{
    if (!m_focused)
        Hover();
    return 1;
}

unsigned char CQNF_CtrlList::OnLMouseDown(short x, short y, unsigned char mods)
{
    if (m_model.Click(x, y, mods))
        Report(true, true);
    return 1;
}

unsigned char CQNF_CtrlList::OnMouseWheel(short x, short y, unsigned char mods, short delta)
{
    return m_scrollBar ? m_scrollBar->OnMouseWheel(x, y, mods, delta) : 0;
}

unsigned char CQNF_CtrlList::OnKeyDown(unsigned char key, unsigned char mods)
{
    if (!m_model.Key(key, mods))
        return 0;
    Report(true, true);
    return 1;
}

unsigned char CQNF_CtrlList::PtAboveControl(short x, short y)
{
    return m_ready && x >= m_area.left && x < m_area.right && y >= m_area.top && y < m_area.bottom;
}

unsigned char CQNF_CtrlList::OnCtrlMessage(unsigned short msg, unsigned long id, char*, unsigned char, void* data)
{
    if (!m_scrollBar || id != m_scrollBar->GetControlID() || !data)
        return 0;
    if (msg != qnmsg::ValueChanged && msg != qnmsg::ValueTracking)
        return 0;
    m_model.SetFirstVisible(*static_cast<uint32_t*>(data));
    // While the thumb is dragged the bar is not told back where it is.
    SetState(msg == qnmsg::ValueChanged ? kRefresh : kQuiet);
    return 1;
}
