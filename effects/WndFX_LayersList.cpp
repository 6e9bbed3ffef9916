#include "effects/WndFX_LayersList.h"

#include "effects/FxStatusTips.h"
#include "ui/App.h"
#include "ui/CtrlButton.h"
#include "ui/CtrlList.h"
#include "ui/CtrlScrollBar.h"
#include "ui/CtrlStatic.h"
#include "ui/KeyCodes.h"
#include "ui/PlatformPopupMenu.h"

#include <algorithm>
#include <cstring>

namespace {

// Where the help pop-up opens, in window coordinates.
constexpr short kHelpX = 441, kHelpY = 30;

bool Is(const char* name, const char* what)
{
    return name && std::strcmp(name, what) == 0;
}

}  // namespace

CQNF_Control* CWnd_LayersList::i_Add(const char* name, uint8_t kind)
{
    const unsigned long id = AddControl(CQNF_String(name), kind);
    return id == None ? nullptr : GetControl(id);
}

const char* CWnd_LayersList::StatusText() const
{
    return m_status ? m_status->GetText().GetStr() : "";
}

unsigned char CWnd_LayersList::OnCreate(CQNF_LayerSet*, unsigned short, unsigned short)
{
    if (!GetResourceRect("Layers_Preview", m_rcPreview))
        return 0;
    m_listFont = AddFont(CQNF_String("List Font"));
    m_infoFont = AddFont(CQNF_String("Info Font"));
    if (m_listFont == None || m_infoFont == None)
        return 0;

    CQNF_Control* closeX = i_Add("Layers_CloseX", qnctl::Button);
    CQNF_Control* cancel = i_Add("Layers_Cancel", qnctl::Button);
    m_ok = i_Add("Layers_Ok", qnctl::Button);
    auto* help = static_cast<CQNF_CtrlButton*>(i_Add("Layers_Help", qnctl::Button));
    m_list = static_cast<CQNF_CtrlList*>(i_Add("Layers_List", qnctl::List));
    const unsigned long bottom = AddControl(CQNF_String("Layers_ScrollV_Bottom"), qnctl::Button);
    const bool twoSided = CQNF_App::GetScrollStyle_TwoSideArrows();
    const unsigned long top =
        AddControl(CQNF_String(twoSided ? "Layers_ScrollV_TopNR" : "Layers_ScrollV_TopMAC"), qnctl::Button);
    const unsigned long scrollId =
        AddControl(CQNF_String(twoSided ? "Layers_ScrollV_NR" : "Layers_ScrollV_MAC"), qnctl::ScrollBar);
    if (!closeX || !cancel || !m_ok || !help || !m_list || bottom == None || top == None || scrollId == None)
        return 0;
    help->SetMenuMode(1);
    static_cast<CQNF_CtrlScrollBar*>(GetControl(scrollId))->SetButtons(top, bottom);
    m_list->SetFont(GetFont(m_listFont));
    m_list->SetOptions(0, 1, 16, 6, 2, scrollId);
    m_list->GetTextLayer()->AddTab(20);

    m_showAll = i_Add("Layers_ShowAll", qnctl::RadioButton);
    m_showFiltered = i_Add("Layers_ShowFiltered", qnctl::RadioButton);
    m_status = static_cast<CQNF_CtrlStaticText*>(i_Add("Layers_Status", qnctl::StaticText));
    if (!m_showAll || !m_showFiltered || !m_status)
        return 0;
    (m_model.showFiltered ? m_showFiltered : m_showAll)->SetCheck(1, 0);
    m_status->SetFont(GetFont(m_infoFont));
    m_status->SetText("", 3, 0, 12);

    // The preview and, above it, the marker of the area to cover.
    if (!m_preview.Create(m_rcPreview, qnimg::ModeRGBA) || !m_marker.Create(m_rcPreview, qnimg::ModeRGBA))
        return 0;
    m_preview.Set(qntRGBA8{0, 0, 0, 0}, 0x0F);
    m_marker.Set(qntRGBA8{0, 0, 0, 0}, 0x0F);
    LSAddLayer(&m_preview);
    LSAddLayer(&m_marker);

    if (!m_host.FxFillLayerTable())
        return 0;
    m_model.table = m_host.FxLayerTable();
    FillList();
    SetTimer(30, kStatusTimer);
    SetTimer(500, kBlinkTimer);
    OnAboveControl(None);
    return 1;
}

void CWnd_LayersList::FillList()
{
    m_list->RemoveAllItems(1, 1);
    int32_t select = -1;
    m_rows = m_model.Rows(select);
    for (size_t i = 0; i < m_rows.size(); ++i)
        m_list->AddItem(m_rows[i].text.c_str(), 0, reinterpret_cast<void*>(uintptr_t(m_rows[i].index)), 1);
    m_list->UpdateAfterChanges();
    m_remembered = 0;
    if (m_rows.empty())
        return;
    m_list->SelectItems(uint32_t(select), uint32_t(select), 1, 0, 1, 1, 1);
    m_remembered = 0;
}

void CWnd_LayersList::i_ShowPreview()
{
    RenderRect(m_rcPreview);
    UpdateRect(m_rcPreview);
}

void CWnd_LayersList::DoRedrawPreview()
{
    const long row = m_list ? m_list->GetSelectedItem() : -1;
    bool ok = false;
    if (row < 0) {
        m_preview.Set(qntRGBA8{0, 0, 0, 255}, 0x0F);
        m_marker.Set(qntRGBA8{255, 255, 255, 0}, 0x0F);
    } else {
        void* data = nullptr;
        m_list->GetItem(uint32_t(row), nullptr, nullptr, &data);
        const uint32_t index = uint32_t(reinterpret_cast<uintptr_t>(data));
        if (index >= m_model.table.size())
            return;
        ok = m_model.DrawPreview(index, m_host, m_host.FxTransparencyDisplay(), m_preview, m_marker);
    }
    m_marker.SetOpacity(255);
    m_ok->Enable(ok ? 1 : 0);
    m_ok->Redraw();
    i_ShowPreview();
}

void CWnd_LayersList::i_Ok()
{
    const qntRECT_s r = GetWindowRect();
    m_host.FxStoreLayersPosition(qntPOS{r.left, r.top});
    EndModal(1);
}

unsigned char CWnd_LayersList::OnCtrlMessage(unsigned short msg, unsigned long, char* name, unsigned char type,
                                             void* data)
{
    if (msg == qnmsg::PopupChoice && type >= 255 && data)
        return m_host.FxLayersHelpChosen(*static_cast<unsigned short*>(data), this);
    switch (type) {
    case qnctl::Button:
        if (msg != qnmsg::Clicked)
            return 0;
        if (Is(name, "Layers_Cancel") || Is(name, "Layers_CloseX")) {
            EndModal(0);
        } else if (Is(name, "Layers_Ok")) {
            i_Ok();
        } else if (Is(name, "Layers_Help")) {
            CQNF_PlatformPopupMenu menu;
            if (menu.Create()) {
                m_host.FxFillLayersHelpMenu(menu);
                menu.DoPopup(this, kHelpX, kHelpY);
            }
        } else {
            return 0;
        }
        return 1;
    case qnctl::List: {
        const unsigned long rows = m_list->GetItemsCount();
        if (rows == 0)
            return 1;
        long row = m_list->GetSelectedItem();
        if (row < 0) {
            // A click beside the rows keeps the last one selected.
            row = std::min<long>(m_remembered, long(rows) - 1);
            m_list->SelectItems(uint32_t(row), uint32_t(row), 1, 0, 1, 1, 0);
        }
        m_remembered = row;
        DoRedrawPreview();
        return 1;
    }
    case qnctl::RadioButton:
        if (m_showFiltered->GetCheck())
            m_model.showFiltered = 1;
        else if (m_showAll->GetCheck())
            m_model.showFiltered = 0;
        FillList();
        DoRedrawPreview();
        return 1;
    case qnctl::CheckBox:
        return 1;
    default:
        return 0;
    }
}

void CWnd_LayersList::Close()
{
    KillTimer(kStatusTimer);
    KillTimer(kBlinkTimer);
    CQNF_Window::Close();
}

unsigned char CWnd_LayersList::OnTimer(unsigned short id)
{
    if (id == kBlinkTimer) {
        if (m_ok && !m_ok->IsEnabled()) {
            m_marker.SetOpacity(m_marker.GetOpacity() ? 0 : 255);
            i_ShowPreview();
        }
        return 0;
    }
    if (id != kStatusTimer || !m_status)
        return 0;
    m_Fader.TickLine(*m_status);
    return 0;
}

unsigned char CWnd_LayersList::OnAboveControl(unsigned long index)
{
    CQNF_Control* c = index == None ? nullptr : GetControl(index);
    UpdateStatus(m_host.FxLayersTip(c ? c->GetName() : "", c ? c->IsEnabled() != 0 : true,
                                    c ? c->GetType() : 128));
    return 1;
}

const char* CWnd_LayersList::i_PreviewTip(bool in)
{
    return m_host.FxLayersTip(in ? "Zone_Preview" : "", true, 255);
}
