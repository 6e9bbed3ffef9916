#include "effects/WndFX_ImageOverlay.h"

#include "effects/WndFX_LayersList.h"
#include "ui/CtrlButton.h"
#include "ui/CtrlStatic.h"
#include "ui/PlatformPopupMenu.h"

namespace {

// Where the choose menu opens, in window coordinates.
constexpr short kChooseX = 87, kChooseY = 209;

}  // namespace

CWndFX_ImageOverlay::CWndFX_ImageOverlay(CFxWindowLink& link)
    : CWndFX_Graded(link, fxkind::kImageOverlay), m_model(link, *this), m_layers(link.FxHostLayers())
{
    Bind(m_model);
    m_opacity.hi = 255;
    m_opacity.percent = true;
    m_opacity.BindTo(m_model, &CFxImageOverlayModel::Block::opacity);
    // A released opacity slider shows in the main window at once.
    m_releaseDelay = CFxSession::kNow;
}

unsigned char CWndFX_ImageOverlay::OnCreate(CQNF_LayerSet* set, unsigned short width, unsigned short height)
{
    if (!CWndFX_Base::OnCreate(set, width, height))
        return 0;
    if (!AddParam(m_opacity, nullptr, "FXiovr_Opacity", "FXiovr_Opacity", "FXiovr_Opacity2", "FXiovr_RangeOpacity",
                  false))
        return 0;
    m_choose = Add("FXiovr_ChooseImage", qnctl::Button);
    m_object2 = static_cast<CQNF_CtrlStaticImage*>(Add("FXiovr_Object2", qnctl::StaticImage));
    m_current = static_cast<CQNF_CtrlStaticText*>(Add("FXiovr_CurrentImage", qnctl::StaticText));
    if (!m_choose || !m_object2 || !m_current)
        return 0;
    static_cast<CQNF_CtrlButton*>(m_choose)->SetMenuMode(1);
    m_current->SetFont(GetFont(m_infoFont));
    m_current->SetText("", 3, 0, 12);
    m_piecesRect = m_model.PiecesRect(m_layers ? m_layers->FxFilterOrigin() : qntPOS{0, 0});
    // The sample is the picture itself with the overlay picture over it.
    ShowLayer(SampleLayer(), false);
    SampleObject()->GetControlLayer()->SetVisible(1);
    m_object2->GetControlLayer()->SetVisible(1);
    return FinishCreate();
}

void CWndFX_ImageOverlay::LoadValues()
{
    m_model.LoadInitialValues();
}

void CWndFX_ImageOverlay::Init()
{
    CWndFX_Graded::Init();
    UpdateDisplay();
}

void CWndFX_ImageOverlay::UpdatePreview()
{
    SampleObject()->GetControlLayer()->SetOpacity(255);
    if (m_object2) {
        m_object2->GetControlLayer()->SetOpacity(m_model.SampleBlock().opacity);
        Refresh(m_object2->GetControlLayer()->GetRect());
    }
    RedrawPreview();
}

const char* CWndFX_ImageOverlay::CurrentChoiceText() const
{
    return m_model.value1.layerChoice ? "From Manually Selected Layer" : "From Auto-Selected Layers";
}

void CWndFX_ImageOverlay::UpdateDisplay()
{
    if (!m_current)
        return;
    m_current->SetText(CurrentChoiceText());  // shows itself
}

unsigned char CWndFX_ImageOverlay::OnOwnMessage(unsigned short msg, CQNF_Control* c, void*)
{
    if (msg != qnmsg::Clicked || c != m_choose)
        return 0;
    CQNF_PlatformPopupMenu menu;
    if (menu.Create()) {
        const bool manual = m_model.value1.layerChoice != 0;
        menu.AddItem("From Document Layer (Auto)", kItemAuto, manual ? 0 : 1, 0, nullptr);
        menu.AddItem("From Document Layer...", kItemLayers, manual ? 1 : 0, 0, nullptr);
        menu.DoPopup(this, kChooseX, kChooseY);
    }
    return 1;
}

unsigned char CWndFX_ImageOverlay::OnCtrlMessage(unsigned short msg, unsigned long id, char* name,
                                                 unsigned char type, void* data)
{
    if (m_created && msg == qnmsg::PopupChoice && type >= 255 && data) {
        const unsigned short item = *static_cast<unsigned short*>(data);
        if (item == kItemAuto) {
            m_model.ChooseAutomatic();
            Changes(CFxSession::kDelayed);
            UpdateDisplay();
            return 1;
        }
        if (item == kItemLayers) {
            DoLayersWindow();
            return 1;
        }
    }
    return CWndFX_Graded::OnCtrlMessage(msg, id, name, type, data);
}

void CWndFX_ImageOverlay::DoLayersWindow()
{
    if (!m_layers)
        return;
    CWnd_LayersList list(*m_layers);
    list.SetTarget(m_piecesRect);
    list.SetChosen(m_model.PreselectedLayer());
    uint8_t show = 1;
    if (!m_layers->FxReadShowFiltered(show))
        show = 1;
    list.SetShowFiltered(show);
    const qntPOS at = m_layers->FxLayersPosition();
    if (!list.CreateFromResource(CQNF_String("Layers"), short(at.x), short(at.y), this, 1))
        return;
    list.RenderRect(qnNullRect);
    if (list.DoModal() != 1)
        return;
    m_layers->FxStoreShowFiltered(list.ShowFiltered());
    // Return with no covering layer selected ends with OK too: the setting stays.
    if (list.Chosen() == CFxLayersListModel::kNone)
        return;
    m_model.ChooseLayer(list.Chosen());
    Changes(CFxSession::kDelayed);
    UpdateDisplay();
}
