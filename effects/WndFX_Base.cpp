#include "effects/WndFX_Base.h"

#include "effects/FxStatusTips.h"
#include "ui/CtrlButton.h"
#include "ui/CtrlEditLine.h"
#include "ui/EditColours.h"
#include "ui/CtrlStatic.h"
#include "ui/PlatformPopupMenu.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

// The direction pad: control suffix and the direction it grades toward.
struct Pad {
    const char* suffix;
    FxDirection direction;
};
constexpr Pad kPad[8] = {{"_AT", FxDirection::Top},         {"_ATL", FxDirection::TopLeft},
                         {"_AL", FxDirection::Left},        {"_ABL", FxDirection::BottomLeft},
                         {"_AB", FxDirection::Bottom},      {"_ABR", FxDirection::BottomRight},
                         {"_AR", FxDirection::Right},       {"_ATR", FxDirection::TopRight}};

// View shortcuts that reach the main window while an effect window is active.
bool IsViewShortcut(unsigned long command)
{
    return command == 1 || command == 8 || (command >= 12 && command <= 17);
}

bool NameEnds(const char* name, const CQNF_String& prefix, const char* suffix)
{
    if (!name)
        return false;
    const size_t p = std::strlen(prefix.GetStr());
    return std::strncmp(name, prefix.GetStr(), p) == 0 && std::strcmp(name + p, suffix) == 0;
}

}  // namespace

CWndFX_Base::CWndFX_Base(CFxWindowLink& link, const FxKind& kind) : m_link(link), m_prefix("FX")
{
    m_prefix += kind.id;
}

CWndFX_Base::~CWndFX_Base() = default;

const char* CWndFX_Base::StatusText() const
{
    return m_status ? m_status->GetText().GetStr() : "";
}

CQNF_Control* CWndFX_Base::Add(const char* name, uint8_t kind)
{
    const unsigned long id = AddControl(CQNF_String(name), kind);
    return id == None ? nullptr : GetControl(id);
}

CQNF_Control* CWndFX_Base::AddOwn(const char* suffix, uint8_t kind)
{
    CQNF_String name(m_prefix);
    name += suffix;
    return Add(name.GetStr(), kind);
}

CQNF_CtrlEditLine* CWndFX_Base::AddEdit(const char* name, bool negatives)
{
    auto* edit = static_cast<CQNF_CtrlEditLine*>(Add(name, qnctl::EditLine));
    if (!edit)
        return nullptr;
    edit->SetFont(GetFont(m_editFont));
    edit->SetOptions(1, negatives ? 1 : 0, 0, 0, -1, 0);
    edit->SetColors(kPluginEditColours);
    return edit;
}

bool CWndFX_Base::AddBand(const char* rectName, CQNF_Layer& band, qntRECT_s& rect, qntRGBA8 colour)
{
    if (!GetResourceRect(rectName, rect) || !band.Create(rect, qnimg::ModeRGBA))
        return false;
    colour.a = 0;
    band.Set(colour, 0x0F);
    LSAddLayer(&band);
    return true;
}

void CWndFX_Base::DrawBand(CQNF_Layer& band, const qntRECT_s& rect, uint32_t from, uint32_t to)
{
    const uint16_t w = band.GetImageWidth(), h = band.GetImageHeight();
    band.Set(qntRGBA8{0, 0, 0, 0}, 0x08);
    to = std::min<uint32_t>(to, w);
    if (from < to)
        band.Set(qntRGBA8{0, 0, 0, 80}, 0x08, qntRECT_s{int32_t(from), 0, int32_t(to), h});
    Refresh(rect);
}

void CWndFX_Base::SetEditText(CQNF_CtrlEditLine* edit, int32_t value, bool notify)
{
    char text[16];
    std::snprintf(text, sizeof text, "%d", value);
    edit->SetText(text, notify ? 1 : 0);
}

// ---- creation ----------------------------------------------------------------

unsigned char CWndFX_Base::OnCreate(CQNF_LayerSet*, unsigned short, unsigned short)
{
    m_colorMode = m_link.FxColorMode();
    m_link.FxCheckerColors(m_checker1, m_checker2);

    m_infoFont = AddFont("Info Font");
    m_editFont = AddFont("Edit Font");
    if (m_infoFont == None || m_editFont == None)
        return 0;

    // The sample lies over a checkerboard in the main window's colours.
    CQNF_String previewName(m_prefix);
    previewName += "_Preview";
    if (!GetResourceRect(previewName.GetStr(), m_previewRect) || !m_background.Create(m_previewRect, qnimg::ModeRGBA) ||
        !m_sampleLayer.Create(m_previewRect, qnimg::ModeRGBA))
        return 0;
    m_background.Set(4, 4, m_checker1, m_checker2, qnNullRect);
    m_background.Set(qntRGBA8{0, 0, 0, 255}, 0x08);
    LSAddLayer(&m_background);
    m_sampleLayer.Set(qntRGBA8{0, 0, 0, 0}, 0x0F);
    LSAddLayer(&m_sampleLayer);

    m_frame = static_cast<CQNF_CtrlStaticImage*>(AddOwn("_GFrm", qnctl::StaticImage));
    m_object = static_cast<CQNF_CtrlStaticImage*>(AddOwn("_Object", qnctl::StaticImage));
    if (!m_frame || !m_object)
        return 0;
    m_frame->GetControlLayer()->SetVisible(0);
    m_object->GetControlLayer()->SetVisible(0);

    m_closeX = static_cast<CQNF_CtrlButton*>(AddOwn("_CloseX", qnctl::Button));
    m_cancel = static_cast<CQNF_CtrlButton*>(AddOwn("_Cancel", qnctl::Button));
    m_ok = static_cast<CQNF_CtrlButton*>(AddOwn("_Ok", qnctl::Button));
    auto* help = static_cast<CQNF_CtrlButton*>(AddOwn("_Help", qnctl::Button));
    CQNF_Control* reset = AddOwn("_Reset", qnctl::Button);
    m_previewButton = static_cast<CQNF_CtrlButton*>(AddOwn("_Preview", qnctl::Button));
    m_random = static_cast<CQNF_CtrlButton*>(AddOwn("_ARND", qnctl::Button));
    if (!m_closeX || !m_cancel || !m_ok || !help || !reset || !m_previewButton || !m_random)
        return 0;
    help->SetMenuMode(1);
    for (int i = 0; i < 8; ++i)
        if (!(m_radios[i] = static_cast<CQNF_CtrlButton*>(AddOwn(kPad[i].suffix, qnctl::RadioButton))))
            return 0;
    m_previewCheck = AddOwn("_Preview", qnctl::CheckBox);
    m_autoCheck = AddOwn("_AAdjust", qnctl::CheckBox);
    m_status = static_cast<CQNF_CtrlStaticText*>(AddOwn("_Status", qnctl::StaticText));
    if (!m_previewCheck || !m_autoCheck || !m_status)
        return 0;
    m_status->SetFont(GetFont(m_infoFont));
    m_status->SetText("", 3, 0, 12);

    if (!i_CreateSample())
        return 0;

    if (!m_session->OnPreparePieces() || m_session->Pieces().empty())
        return 0;
    if (m_session->Pieces().size() == 1)
        m_autoCheck->Enable(0);

    // Live preview: on unless the stored switch says otherwise.
    CQNF_String key(m_prefix);
    key += "_MainPreview";
    uint8_t live = 1;
    if (!m_link.FxReadSwitch(key.GetStr(), live))
        live = 1;
    m_previewCheck->SetCheck(live == 1 ? 1 : 0, 0);
    m_previewButton->Enable(live == 1 ? 0 : 1);
    m_session->InitLivePreview(live == 1);

    m_session->onModality = [this](bool on) { EnableModalityButtons(on); };
    SetTimer(50, CFxSession::kBusyTimer);
    SetTimer(30, CFxSession::kStatusTimer);
    OnAboveControl(None);
    return 1;
}

unsigned char CWndFX_Base::FinishCreate()
{
    EnableAutoAdjustments(false);
    m_created = 1;
    m_session->SetCreating(true);
    Init();
    m_session->SetCreating(false);
    return 1;
}

bool CWndFX_Base::i_CreateSample()
{
    qntRECT_s objectRect{};
    uint8_t* pixels = m_object->GetStateMemPtr(1, &objectRect);
    if (!pixels)
        return false;
    const qntRECT_s r{std::max(objectRect.left, m_previewRect.left), std::max(objectRect.top, m_previewRect.top),
                      std::min(objectRect.right, m_previewRect.right),
                      std::min(objectRect.bottom, m_previewRect.bottom)};
    if (r.right <= r.left || r.bottom <= r.top)
        return false;
    const uint32_t ow = uint32_t(objectRect.right - objectRect.left);
    const size_t oplane = size_t(ow) * uint32_t(objectRect.bottom - objectRect.top);
    const uint32_t pw = m_sampleLayer.GetImageWidth();
    uint8_t* src[4];
    uint8_t* dst[4];
    for (int p = 0; p < 4; ++p) {
        src[p] = pixels + p * oplane + size_t(r.top - objectRect.top) * ow + size_t(r.left - objectRect.left);
        dst[p] = m_sampleLayer.GetPlane(unsigned(p)) + size_t(r.top - m_previewRect.top) * pw +
                 size_t(r.left - m_previewRect.left);
    }
    const uint16_t w = uint16_t(r.right - r.left), h = uint16_t(r.bottom - r.top);
    if (!m_sampleFX.SetSource(src, ow, 4, 1, w, h) || !m_sampleFX.SetDestination(dst, pw, 4, 1, w, h))
        return false;
    if (m_colorMode == 0) {
        // A Grayscale document's sample is grey, and so is its picture.
        if (m_sampleFX.ConvertSourceToGray() == 0 && m_sampleFX.GetError())
            return false;
        m_object->DoRedraw();
    }
    return true;
}

// ---- timers, keys, status ------------------------------------------------------

unsigned char CWndFX_Base::OnTimer(unsigned short id)
{
    if (id == CFxSession::kStatusTimer)
        i_StatusFade();
    else if (m_session)
        m_session->OnTimer(id);
    return 1;
}

void CWndFX_Base::i_StatusFade()
{
    if (!m_status)
        return;
    m_fader.TickLine(*m_status);
}

void CWndFX_Base::UpdateStatus(const char* text)
{
    m_fader.Request(text);
}

unsigned char CWndFX_Base::OnAboveControl(unsigned long index)
{
    CQNF_Control* c = index == None ? nullptr : GetControl(index);
    UpdateStatus(FxStatusTip(c ? c->GetName() : "", c ? c->GetType() : 128));
    return 1;
}

unsigned char CWndFX_Base::OnKeyDown(unsigned char key, unsigned char)
{
    if (key == 6 || key == 7) {  // Return or Enter: OK; Esc: Cancel
        m_okFlag = key == 6 ? 1 : 0;
        Close();
        return 1;
    }
    return 0;
}

void CWndFX_Base::OnCtrlLostFocus(unsigned long index)
{
    CQNF_Window::OnCtrlLostFocus(index);
    CQNF_Control* c = GetControl(index);
    if (m_created && c && c->GetType() == qnctl::EditLine)
        OnEditLostFocus(c);
}

// ---- the common controls ---------------------------------------------------------

unsigned char CWndFX_Base::OnCtrlMessage(unsigned short msg, unsigned long id, char* name, unsigned char type,
                                         void* data)
{
    if (msg == qnmsg::PopupChoice && name && std::strcmp(name, "Menu") == 0 && data)
        return m_link.FxHelpChosen(*static_cast<unsigned short*>(data), this);
    if (msg == qnmsg::Shortcut)
        return IsViewShortcut(id) ? m_link.FxForwardShortcut(msg, id, name, type, data) : 0;
    if (msg != qnmsg::Clicked || !name)
        return 0;
    CQNF_Control* c = GetControl(id);
    const bool on = c && c->GetCheck();
    if (type == qnctl::CheckBox) {
        if (NameEnds(name, m_prefix, "_AAdjust")) {
            OnAutoAdjustments(on);
            return 1;
        }
        if (NameEnds(name, m_prefix, "_Preview")) {
            OnMainPreview(on);
            return 1;
        }
        return 0;
    }
    if (type == qnctl::Button) {
        if (NameEnds(name, m_prefix, "_Cancel") || NameEnds(name, m_prefix, "_CloseX") ||
            NameEnds(name, m_prefix, "_Ok")) {
            m_okFlag = NameEnds(name, m_prefix, "_Ok") ? 1 : 0;
            Close();
            return 1;
        }
        if (NameEnds(name, m_prefix, "_Reset")) {
            Init();
            return 1;
        }
        if (NameEnds(name, m_prefix, "_Help")) {
            CQNF_PlatformPopupMenu menu;
            if (menu.Create()) {
                m_link.FxFillHelpMenu(menu);
                // The same window point in all nine windows, whatever their
                // skins.
                menu.DoPopup(this, 229, 30);
            }
            return 1;
        }
        if (NameEnds(name, m_prefix, "_ARND")) {
            ResetAADirection();
            OnChangeAAMode(FxDirection::Random);
            return 1;
        }
        if (NameEnds(name, m_prefix, "_Preview")) {
            m_session->PushPreview();
            return 1;
        }
        return 0;
    }
    if (type == qnctl::RadioButton) {
        for (const Pad& pad : kPad)
            if (NameEnds(name, m_prefix, pad.suffix)) {
                OnChangeAAMode(pad.direction);
                return 1;
            }
    }
    return 0;
}

void CWndFX_Base::OnAutoAdjustments(bool on)
{
    m_session->SetAutoAdjust(on);
    EnableAutoAdjustments(on);
    Changes(CFxSession::kDelayed);
}

void CWndFX_Base::OnMainPreview(bool on)
{
    // The button pushes one preview while live preview is off.
    m_previewButton->Enable(on ? 0 : 1);
    m_previewButton->Redraw();
    m_session->SetLivePreview(on);
}

void CWndFX_Base::OnChangeAAMode(FxDirection mode)
{
    m_session->SetAAMode(mode);
    Changes(CFxSession::kDelayed);
}

void CWndFX_Base::EnableAutoAdjustments(bool on)
{
    m_session->SetAutoAdjust(on);
    if (!on) {
        SetMode(0);
        ResetAADirection();
        m_session->SetAAMode(FxDirection::Random);
    }
    m_random->Enable(on ? 1 : 0);
    m_random->Redraw();
    for (CQNF_CtrlButton* r : m_radios) {
        r->Enable(on ? 1 : 0);
        r->Redraw();
    }
}

bool CWndFX_Base::AutoAdjustChecked() const
{
    return m_autoCheck && m_autoCheck->GetCheck();
}

void CWndFX_Base::SetAutoAdjust(bool on, bool notify)
{
    // Unchanged, the box sends nothing.
    m_autoCheck->SetCheck(on ? 1 : 0, notify ? 1 : 0);
}

void CWndFX_Base::ResetAADirection()
{
    for (CQNF_CtrlButton* r : m_radios)
        r->SetCheck(0, 0);
}

void CWndFX_Base::SetMode(uint8_t mode)
{
    m_session->SetMode(mode);
    m_frame->GetControlLayer()->SetVisible(mode ? 1 : 0);
    Refresh(m_frame->GetControlLayer()->GetRect());
    UpdatePreview();
    OnChangeMode(mode);
}

void CWndFX_Base::RedrawPreview()
{
    Refresh(m_previewRect);
}

void CWndFX_Base::EnableModalityButtons(bool on)
{
    for (CQNF_CtrlButton* b : {m_ok, m_cancel, m_closeX}) {
        b->Enable(on ? 1 : 0);
        b->Redraw();
    }
}

// ---- closing -------------------------------------------------------------------

void CWndFX_Base::Close()
{
    if (!m_session || m_session->Closed() || !m_created) {
        CQNF_Window::Close();
        return;
    }
    // While the main window renders the window stays; the buttons come back
    // once the render is done.
    if (m_link.FxBusy())
        return;
    KillTimer(CFxSession::kStatusTimer);
    if (m_okFlag) {
        const qntRECT_s r = GetWindowRect();
        m_link.FxStoreOnOk(Prefix(), qntPOS{r.left, r.top}, m_previewCheck->GetCheck() ? 1 : 0);
    }
    m_session->Close(m_okFlag != 0);
    CQNF_Window::Close();
}
