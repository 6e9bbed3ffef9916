#include "app/Wnd_ChannelList.h"

#include "app/App.h"
#include "app/StatusTips.h"
#include "imaging/ImageFX.h"
#include "ui/App.h"
#include "ui/CtrlButton.h"
#include "ui/CtrlList.h"
#include "ui/CtrlStatic.h"
#include "ui/KeyCodes.h"
#include "ui/Window.h"
#include "ui/PlatformPopupMenu.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

// Where the help pop-up opens, in window coordinates.
constexpr short kHelpMenuX = 440, kHelpMenuY = 30;
constexpr const char* kTipWindow = "ChannelsList";

}  // namespace

// ---- The host's channels -----------------------------------------------------------

std::vector<qntCHANNELITEM> CHostChannelSource::Items()
{
    return qnChannelListItems(*m_host.GetPluginDataPtr(), m_host.GetChannelNames());
}

uint32_t CHostChannelSource::Width()
{
    const qntRECT_s r = m_host.GetPluginDataPtr()->filterRect;
    return r.right > r.left ? uint32_t(r.right - r.left) : 0;
}

uint32_t CHostChannelSource::Height()
{
    const qntRECT_s r = m_host.GetPluginDataPtr()->filterRect;
    return r.bottom > r.top ? uint32_t(r.bottom - r.top) : 0;
}

bool CHostChannelSource::Read(uint32_t value, uint8_t* buffer)
{
    return qnReadChannel(m_host, value, buffer, Width(), Height());
}

// ---- The dialog ------------------------------------------------------------------------

bool CWnd_ChannelList::i_Add(const char* name, uint8_t type, unsigned long* id)
{
    const unsigned long i = AddControl(CQNF_String(name), type);
    if (id)
        *id = i;
    return i != None;
}

unsigned char CWnd_ChannelList::OnCreate(CQNF_LayerSet*, unsigned short, unsigned short)
{
    if (!m_pSource || !GetResourceRect("ChannelList_Preview", m_rcPreview))
        return 0;
    const unsigned long listFont = AddFont(CQNF_String("List Font"));
    const unsigned long infoFont = AddFont(CQNF_String("Info Font"));
    unsigned long help = None, list = None, status = None, invert = None, scroll = None;
    const bool nr = CQNF_App::GetScrollStyle_TwoSideArrows();
    if (!i_Add("ChannelList_CloseX", qnctl::Button) || !i_Add("ChannelList_Cancel", qnctl::Button) ||
        !i_Add("ChannelList_Ok", qnctl::Button, &m_idOk) || !i_Add("ChannelList_Help", qnctl::Button, &help) ||
        !i_Add("ChannelList_List", qnctl::List, &list) || !i_Add("ChannelList_ScrollV_Bottom", qnctl::Button) ||
        !i_Add(nr ? "ChannelList_ScrollV_TopNR" : "ChannelList_ScrollV_TopMAC", qnctl::Button) ||
        !i_Add(nr ? "ChannelList_ScrollV_NR" : "ChannelList_ScrollV_MAC", qnctl::ScrollBar, &scroll) ||
        !i_Add("ChannelList_SelNew", qnctl::RadioButton, &m_idSel[0]) ||
        !i_Add("ChannelList_SelAdd", qnctl::RadioButton, &m_idSel[1]) ||
        !i_Add("ChannelList_SelSub", qnctl::RadioButton, &m_idSel[2]) ||
        !i_Add("ChannelList_SelInter", qnctl::RadioButton, &m_idSel[3]) ||
        !i_Add("ChannelList_Status", qnctl::StaticText, &status) ||
        !i_Add("ChannelList_Invert", qnctl::CheckBox, &invert))
        return 0;
    static_cast<CQNF_CtrlButton*>(GetControl(help))->SetMenuMode(1);
    m_pList = static_cast<CQNF_CtrlList*>(GetControl(list));
    m_pList->SetFont(GetFont(listFont));
    m_pList->SetOptions(0, 1, 16, 6, 2, scroll);
    m_pStatus = static_cast<CQNF_CtrlStaticText*>(GetControl(status));
    m_pStatus->SetFont(GetFont(infoFont));
    m_pStatus->SetText("", 1, 2, 15);
    m_pInvert = static_cast<CQNF_CtrlCheckBox*>(GetControl(invert));
    m_pInvert->SetCheck(m_bInvert, 1);
    GetControl(m_idSel[0])->SetCheck(1, 0);
    m_nOperation = 0;
    for (int k = 1; k < 4; ++k)
        GetControl(m_idSel[k])->Enable(m_bCombineAllowed);
    // The preview: a grey picture of the channel, drawn on every choice.
    if (!m_PreviewLayer.Create(m_rcPreview, 2))
        return 0;
    m_PreviewLayer.Set(qntRGBA8{0, 0, 0, 0}, 15, qnNullRect);
    LSAddLayer(&m_PreviewLayer);
    m_nWidth = m_pSource->Width();
    m_nHeight = m_pSource->Height();
    const size_t n = size_t(m_nWidth) * m_nHeight;
    if (!n || !m_Channel.alloc(n))
        return 0;
    m_Channel.Set(uint8_t(255));
    FillList();
    m_pList->SelectItems(0, 0, 1, 0, 1, 1, 1);
    if (m_pList->GetSelectedItem() < 0)
        GetControl(m_idOk)->Enable(0);
    SetTimer(30, 1);
    OnAboveControl(None);
    return 1;
}

void CWnd_ChannelList::FillList()
{
    m_Items = m_pSource->Items();
    m_pList->RemoveAllItems(0, 0);
    for (size_t i = 0; i < m_Items.size(); ++i)
        m_pList->AddItem(m_Items[i].text.c_str(), 0, nullptr, i + 1 < m_Items.size());
}

void CWnd_ChannelList::DoRedrawPreview()
{
    const long sel = m_pList ? m_pList->GetSelectedItem() : -1;
    if (sel >= 0 && size_t(sel) < m_Items.size()) {
        // A channel that cannot be read leaves nothing to apply: OK waits
        // for one that can.
        m_bChannelValid = m_pSource->Read(m_Items[size_t(sel)].value, m_Channel.GetPtr()) ? 1 : 0;
        GetControl(m_idOk)->Enable(m_bChannelValid);
        if (m_bChannelValid) {
            m_bInvert = m_pInvert && m_pInvert->GetCheck() ? 1 : 0;
            const uint16_t pw = uint16_t(m_PreviewLayer.GetImageWidth());
            const uint16_t ph = uint16_t(m_PreviewLayer.GetImageHeight());
            const size_t n = size_t(pw) * ph;
            // The channel scaled twice, with margins of 0 and of 255: where
            // the two agree lies the picture, where they differ the margin.
            std::vector<uint8_t> low(n), high(n);
            for (std::vector<uint8_t>* out : {&low, &high}) {
                CQNF_ImageFX fx;
                fx.SetSource(m_Channel.GetPtr(), m_nWidth, 1, 0, uint16_t(std::min<uint32_t>(m_nWidth, 65535)),
                             uint16_t(std::min<uint32_t>(m_nHeight, 65535)));
                fx.SetDestination(out->data(), pw, 1, 0, pw, ph);
                fx.SetFillByte(out == &low ? 0 : 255);
                fx.Resize_Int_ZO(1);
            }
            // An opaque grey picture of the channel, black where it counts as
            // inside (below 128, or above 127 with Invert): the dark of the
            // picture is what OK selects. The margins stay transparent.
            uint8_t* planes[4] = {m_PreviewLayer.GetPlane(0), m_PreviewLayer.GetPlane(1), m_PreviewLayer.GetPlane(2),
                                  m_PreviewLayer.GetPlane(3)};
            for (size_t i = 0; i < n; ++i) {
                const bool picture = low[i] == high[i];
                const uint8_t grey = m_bInvert ? uint8_t(255 - low[i]) : low[i];
                planes[0][i] = planes[1][i] = planes[2][i] = picture ? grey : 0;
                planes[3][i] = picture ? 255 : 0;
            }
        }
    }
    RenderRect(m_rcPreview);
    UpdateRect(m_rcPreview);
}

void CWnd_ChannelList::i_Ok()
{
    if (!m_bChannelValid)
        return;
    m_ClosedAt = GetWindowRect();
    EndModal(1);
}

unsigned char CWnd_ChannelList::OnCtrlMessage(unsigned short msg, unsigned long id, char* name, unsigned char type,
                                              void* data)
{
    if (msg == qnmsg::PopupChoice && type == 255 && data) {
        auto* app = dynamic_cast<CApp*>(m_App);
        return app && app->HelpMenuDispatcher(*static_cast<unsigned short*>(data), this) ? 1 : 0;
    }
    const char* n = name ? name : "";
    if (type == qnctl::List || (type == qnctl::CheckBox && !std::strcmp(n, "ChannelList_Invert"))) {
        DoRedrawPreview();
        return 1;
    }
    if (type == qnctl::RadioButton) {
        for (uint8_t k = 0; k < 4; ++k)
            if (GetControl(m_idSel[k]) && GetControl(m_idSel[k])->GetCheck()) {
                m_nOperation = k;
                break;
            }
        return 1;
    }
    if (msg == qnmsg::Clicked && type == qnctl::Button) {
        if (!std::strcmp(n, "ChannelList_CloseX") || !std::strcmp(n, "ChannelList_Cancel")) {
            EndModal(0);
        } else if (id == m_idOk) {
            i_Ok();
        } else if (!std::strcmp(n, "ChannelList_Help")) {
            if (auto* app = dynamic_cast<CApp*>(m_App)) {
                CQNF_PlatformPopupMenu menu;
                menu.Create();
                app->FillHelpMenu(&menu, 0);
                menu.DoPopup(this, kHelpMenuX, kHelpMenuY);
            }
        }
    }
    return 1;
}

void CWnd_ChannelList::Close()
{
    KillTimer(1);
    CQNF_Window::Close();
}

unsigned char CWnd_ChannelList::OnAboveControl(unsigned long index)
{
    const char* name = "";
    uint8_t type = kTipNoControl;
    if (index != None)
        if (CQNF_Control* c = GetControl(index)) {
            name = c->GetName();
            type = c->GetType();
        }
    UpdateStatus(qnGetStatusTip(name, kTipWindow, m_nTipMode ? 1 : 2, type));
    return 1;
}

const char* CWnd_ChannelList::i_PreviewTip(bool in)
{
    return in ? qnGetStatusTip("Zone_Preview", kTipWindow, 1, kTipZone)
              : qnGetStatusTip("", kTipWindow, m_nTipMode ? 1 : 2, kTipZone);
}

unsigned char CWnd_ChannelList::OnTimer(unsigned short id)
{
    if (id != 1 || !m_pStatus || m_Fader.GetState() == CStatusFader::Idle)
        return 1;
    bool show = false;
    const uint8_t o = m_Fader.Tick(m_pStatus->GetOpacity(), show);
    if (show)
        m_pStatus->SetText(m_Fader.Pending().c_str());
    m_pStatus->SetOpacity(o);
    RenderRect(m_pStatus->GetRenderRect());
    UpdateRect(m_pStatus->GetRenderRect());
    return 1;
}
