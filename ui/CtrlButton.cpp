#include "ui/CtrlButton.h"

#include "core/Storage.h"
#include "ui/Window.h"

using qnctl::FirstPresent;
using qnctl::SkinImage;

// ---------------------------------------------------------------------------
// Button

unsigned char CQNF_CtrlButton::i_Build(const Record* records, size_t count, uint8_t initialState)
{
    m_renderRect = qnNullRect;
    for (size_t i = 0; i < count; ++i) {
        records[i].image->Load(*this, records[i].name);
        if (records[i].image != &m_images[HotZone]) {
            qnctl::Widen(m_renderRect, *records[i].image);
        }
    }
    if (!records[0].image->Present() || !m_images[HotZone].Present()) {
        SetError(qnerr::ControlSkin);
        return 0;
    }
    if (!qnIsNullRect(m_renderRect) && m_window) {
        if (!m_layer.Create(m_renderRect, qnimg::ModeRGBA)) {
            SetError(m_layer.GetError());
            return 0;
        }
        m_window->LSAddLayer(&m_layer);
    }
    m_ready = 1;
    SetState(initialState);
    return 1;
}

unsigned char CQNF_CtrlButton::Init(void* window, unsigned long id, CQNF_String name, CQNF_Storage* storage)
{
    if (!CQNF_Control::Init(window, id, name, storage)) {
        return 0;
    }
    const Record records[] = {{"Normal", &m_images[Normal]},
                              {"Highlighted", &m_images[Highlighted]},
                              {"Pressed", &m_images[Pressed]},
                              {"Pressed Mouse Out", &m_images[PressedOut]},
                              {"Disabled", &m_images[Disabled]},
                              {"Data", &m_images[HotZone]}};
    return i_Build(records, std::size(records), StNormal);
}

const SkinImage* CQNF_CtrlButton::ImageFor(uint8_t state, bool& atDisabledOpacity) const
{
    atDisabledOpacity = false;
    switch (state) {
    case StHighlighted: return FirstPresent(&m_images[Highlighted], &m_images[Normal]);
    case StPressed: return FirstPresent(&m_images[Pressed], &m_images[Highlighted], &m_images[Normal]);
    case StPressedOut: return FirstPresent(&m_images[PressedOut], &m_images[Normal]);
    case StDisabled:
        if (m_images[Disabled].Present() && ShowsDisabledPicture()) {
            return &m_images[Disabled];
        }
        atDisabledOpacity = true;
        return FirstPresent(&m_images[Normal]);
    default: return FirstPresent(&m_images[Normal]);
    }
}

void CQNF_CtrlButton::SetState(unsigned char state)
{
    if (!m_ready || !m_layer.HasPixels()) {
        return;
    }
    bool dim = false;
    const SkinImage* image = ImageFor(state, dim);
    m_layer.SetOpacity(dim ? m_disabledOpacity : 255);
    if (state != m_state) {
        qnctl::ShowImage(*this, m_layer, image);
    }
    m_state = state;
    Redraw();
}

void CQNF_CtrlButton::Redraw()
{
    if (!m_ready || !m_layer.HasPixels()) {
        return;
    }
    m_window->RenderRect(m_layer.GetRect());
    m_window->UpdateRect(m_layer.GetRect());
}

void CQNF_CtrlButton::ShowAtPointer()
{
    const qntPOS p = GetMousePos();
    OnMouseMove(short(p.x), short(p.y), 0);
}

unsigned char CQNF_CtrlButton::OnTimer(unsigned short id)
{
    switch (id) {
    case qnctl::HoverTimer:
        if (!PointerStillOver()) {
            StopHoverPoll();
            SetState(RestingState());
        }
        break;
    case RepeatDelayTimer:
        RepeatDelayEnded();
        break;
    case RepeatTimer: SendMessage(qnmsg::Clicked, nullptr); break;
    default: break;
    }
    return 1;
}

unsigned char CQNF_CtrlButton::OnMouseMove(short x, short y, unsigned char)
{
    const bool hit = PtInControl(x, y) != 0;
    if (m_pressed) {
        SetState(hit ? StPressed : StPressedOut);
    } else if (hit) {
        SetState(StHighlighted);
        StartHoverPoll();
    } else {
        StopHoverPoll();
        SetState(StNormal);
    }
    return 1;
}

unsigned char CQNF_CtrlButton::OnLMouseDown(short x, short y, unsigned char mods)
{
    if (m_menuMode) {
        // Report at once and give the release back to the window, so that
        // the button is not left captured while its menu runs.
        unsigned char m = mods;
        SendMessage(qnmsg::Clicked, &m);
        if (m_window) {
            m_window->iLMouseUp(x, y, mods);
        }
        return 1;
    }
    m_pressed = 1;
    SetState(StPressed);
    StopHoverPoll();
    if (m_periodic) {
        StartRepeatDelay();
    }
    return 1;
}

unsigned char CQNF_CtrlButton::OnLMouseUp(short x, short y, unsigned char mods)
{
    const bool wasPressed = m_pressed != 0;
    m_pressed = 0;
    StopRepeat();
    if (PtInControl(x, y)) {
        SetState(StHighlighted);
        StartHoverPoll();
        if (wasPressed && !m_menuMode) {
            unsigned char m = mods;
            SendMessage(qnmsg::Clicked, &m);
        }
    } else {
        StopHoverPoll();
        SetState(StNormal);
    }
    return 1;
}

void CQNF_CtrlButton::Enable(unsigned char enabled)
{
    CQNF_Control::Enable(enabled);
    if (enabled) {
        ShowAtPointer();
    } else {
        StopHoverPoll();
        SetState(StDisabled);
    }
}

// ---------------------------------------------------------------------------
// Check box

unsigned char CQNF_CtrlCheckBox::Init(void* window, unsigned long id, CQNF_String name, CQNF_Storage* storage)
{
    if (!CQNF_Control::Init(window, id, name, storage)) {
        return 0;
    }
    const Record records[] = {{"Normal On", &m_images[Normal]},
                              {"Normal Off", &m_off[Normal]},
                              {"Disabled On", &m_images[Disabled]},
                              {"Disabled Off", &m_off[Disabled]},
                              {"Highlighted On", &m_images[Highlighted]},
                              {"Highlighted Off", &m_off[Highlighted]},
                              {"Pressed On", &m_images[Pressed]},
                              {"Pressed Off", &m_off[Pressed]},
                              {"Pressed Mouse Out On", &m_images[PressedOut]},
                              {"Pressed Mouse Out Off", &m_off[PressedOut]},
                              {"Data", &m_images[HotZone]}};
    return i_Build(records, std::size(records), StOff);
}

const SkinImage* CQNF_CtrlCheckBox::ImageFor(uint8_t state, bool& atDisabledOpacity) const
{
    atDisabledOpacity = false;
    const SkinImage* set = (state & 1) ? m_images : m_off;
    switch ((state + 1) / 2) {
    case 2: return FirstPresent(&set[Highlighted], &set[Normal]);
    case 3: return FirstPresent(&set[Pressed], &set[Highlighted], &set[Normal]);
    case 4: return FirstPresent(&set[PressedOut], &set[Normal]);
    case 5:
        if (set[Disabled].Present() && ShowsDisabledPicture()) {
            return &set[Disabled];
        }
        atDisabledOpacity = true;
        return FirstPresent(&set[Normal]);
    default: return FirstPresent(&set[Normal]);
    }
}

unsigned char CQNF_CtrlCheckBox::OnTimer(unsigned short id)
{
    return id == qnctl::HoverTimer ? CQNF_CtrlButton::OnTimer(id) : 1;
}

unsigned char CQNF_CtrlCheckBox::OnMouseMove(short x, short y, unsigned char)
{
    const bool hit = PtInControl(x, y) != 0;
    if (m_pressed) {
        SetState(Pick(hit ? StPressOn : StOutOn));
    } else if (hit) {
        SetState(Pick(StHighOn));
        StartHoverPoll();
    } else {
        StopHoverPoll();
        SetState(Pick(StOn));
    }
    return 1;
}

unsigned char CQNF_CtrlCheckBox::OnLMouseDown(short, short, unsigned char)
{
    m_pressed = 1;
    SetState(Pick(StPressOn));
    StopHoverPoll();
    return 1;
}

unsigned char CQNF_CtrlCheckBox::OnLMouseUp(short x, short y, unsigned char)
{
    const bool wasPressed = m_pressed != 0;
    m_pressed = 0;
    if (!PtInControl(x, y)) {
        StopHoverPoll();
        SetState(Pick(StOn));
        return 1;
    }
    if (wasPressed) {
        m_check = m_check ? 0 : 1;
    }
    SetState(Pick(StHighOn));
    StartHoverPoll();
    if (wasPressed) {
        SendMessage(qnmsg::Clicked, &m_check);
    }
    return 1;
}

void CQNF_CtrlCheckBox::SetCheck(unsigned char check, unsigned char notify)
{
    check = check ? 1 : 0;
    if (check == m_check) {
        return;
    }
    m_check = check;
    if (m_enabled) {
        ShowAtPointer();
    } else {
        SetState(Pick(StDisOn));
    }
    if (notify) {
        SendMessage(qnmsg::Clicked, &m_check);
    }
}

void CQNF_CtrlCheckBox::Enable(unsigned char enabled)
{
    CQNF_Control::Enable(enabled);
    if (enabled) {
        ShowAtPointer();
    } else {
        StopHoverPoll();
        SetState(Pick(StDisOn));
    }
}

// ---------------------------------------------------------------------------
// Radio button

unsigned char CQNF_CtrlRadioButton::Init(void* window, unsigned long id, CQNF_String name, CQNF_Storage* storage)
{
    if (!CQNF_Control::Init(window, id, name, storage)) {
        return 0;
    }
    const Record records[] = {{"Normal On", &m_images[Normal]},
                              {"Normal Off", &m_normalOff},
                              {"Disabled On", &m_images[Disabled]},
                              {"Disabled Off", &m_disabledOff},
                              {"Highlighted", &m_images[Highlighted]},
                              {"Pressed", &m_images[Pressed]},
                              {"Pressed Mouse Out", &m_images[PressedOut]},
                              {"Data", &m_images[HotZone]}};
    uint8_t group = 0;
    if (m_storage && m_storage->GetRecType(ResourceKey("Group ID")) == 1 &&
        m_storage->GetRec(ResourceKey("Group ID"), group)) {
        m_group = group;
    }
    return i_Build(records, std::size(records), StOff);
}

const SkinImage* CQNF_CtrlRadioButton::ImageFor(uint8_t state, bool& atDisabledOpacity) const
{
    atDisabledOpacity = false;
    switch (state) {
    case StOff: return FirstPresent(&m_normalOff);
    case StHigh: return FirstPresent(&m_images[Highlighted], &m_normalOff);
    case StPress: return FirstPresent(&m_images[Pressed], &m_images[Highlighted], &m_normalOff);
    case StOut: return FirstPresent(&m_images[PressedOut], &m_normalOff);
    case StDisOn:
        if (m_images[Disabled].Present() && ShowsDisabledPicture()) {
            return &m_images[Disabled];
        }
        atDisabledOpacity = true;
        return FirstPresent(&m_images[Normal]);
    case StDisOff:
        if (m_disabledOff.Present() && ShowsDisabledPicture()) {
            return &m_disabledOff;
        }
        atDisabledOpacity = true;
        return FirstPresent(&m_normalOff);
    default: return FirstPresent(&m_images[Normal]);
    }
}

unsigned char CQNF_CtrlRadioButton::OnTimer(unsigned short id)
{
    return id == qnctl::HoverTimer ? CQNF_CtrlButton::OnTimer(id) : 1;
}

unsigned char CQNF_CtrlRadioButton::OnMouseMove(short x, short y, unsigned char)
{
    if (m_check) {
        return 1;
    }
    const bool hit = PtInControl(x, y) != 0;
    if (m_pressed) {
        SetState(hit ? StPress : StOut);
    } else if (hit) {
        SetState(StHigh);
        StartHoverPoll();
    } else {
        StopHoverPoll();
        SetState(StOff);
    }
    return 1;
}

unsigned char CQNF_CtrlRadioButton::OnLMouseDown(short, short, unsigned char)
{
    if (m_check) {
        return 1;
    }
    m_pressed = 1;
    SetState(StPress);
    StopHoverPoll();
    return 1;
}

unsigned char CQNF_CtrlRadioButton::OnLMouseUp(short x, short y, unsigned char mods)
{
    if (m_check) {
        return 1;
    }
    const bool wasPressed = m_pressed != 0;
    m_pressed = 0;
    if (!PtInControl(x, y)) {
        StopHoverPoll();
        SetState(StOff);
    } else if (wasPressed) {
        SetState(StOn);
        m_check = 1;
        StopHoverPoll();
        NotifyGroup();
        unsigned char m = mods;
        SendMessage(qnmsg::Clicked, &m);
    } else {
        SetState(StHigh);
        StartHoverPoll();
    }
    return 1;
}

void CQNF_CtrlRadioButton::SetCheck(unsigned char check, unsigned char notify)
{
    check = check ? 1 : 0;
    if (check == m_check) {
        return;
    }
    m_check = check;
    if (!check) {
        if (m_enabled) {
            ShowAtPointer();
        } else {
            SetState(StDisOff);
        }
        return;
    }
    SetState(m_enabled ? StOn : StDisOn);
    StopHoverPoll();
    if (notify) {
        NotifyGroup();
        SendMessage(qnmsg::Clicked, nullptr);
    }
}

void CQNF_CtrlRadioButton::Enable(unsigned char enabled)
{
    CQNF_Control::Enable(enabled);
    if (!enabled) {
        StopHoverPoll();
        SetState(m_check ? StDisOn : StDisOff);
    } else if (m_check) {
        SetState(StOn);
    } else {
        ShowAtPointer();
    }
}
