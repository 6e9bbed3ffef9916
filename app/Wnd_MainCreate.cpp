// The main window's construction: preferences, rectangles, fonts, every
// control, the ruler and overlay layers, the source image and navigator,
// the preview with its on-load zoom, the last settings and the timer.
#include "app/Wnd_Main.h"

#include "app/CutterStandIn.h"
#include "app/MainWiring.h"
#include "app/StatusTips.h"
#include "effects/WndFX_Base.h"
#include "host/PluginMain.h"
#include "ui/App.h"
#include "ui/CtrlButton.h"
#include "ui/CtrlEditLine.h"
#include "ui/EditColours.h"
#include "ui/CtrlScrollBar.h"
#include "ui/CtrlSlider.h"
#include "ui/CtrlStatic.h"

#include <cstring>
#include <utility>

namespace {

// The last settings through the plug-in: the host's scripting descriptor
// and "last.data" of the plug-in folder.
class CPluginLastSettings : public CWnd_MainModel::LastSettingsStore {
public:
    explicit CPluginLastSettings(CPluginMain* plugin) : m_p(plugin) {}
    bool WriteDescriptor(const uint8_t* data, uint32_t size) override
    {
        return m_p->WriteEncryptedScriptParameter_V2(data, size);
    }
    bool ReadDescriptor(CQNF_Mem* block) override
    {
        uint8_t showDialog = 0;
        return m_p->ReadEncryptedScriptParameter_V2(block, showDialog);
    }
    bool ConfFile_Write(const uint8_t* data, uint32_t size, const char* name) override
    {
        return m_p->ConfFile_Write(data, size, name);
    }
    bool ConfFile_Read(CQNF_Mem* block, const char* name) override { return m_p->ConfFile_Read(block, name); }
    std::string WriteRefusal() const override { return m_p->ConfFile_Refusal(); }
    std::string DescriptorRefusal() const override { return m_p->ScriptRefusal(); }

private:
    CPluginMain* m_p;
};

constexpr const char* kEffects[9] = {"Main_FXBevel", "Main_FXHSL",   "Main_FXBC",     "Main_FXBlur",  "Main_FXMBlur",
                                     "Main_FXOpacity", "Main_FXCOver", "Main_FXIOver", "Main_FXStroke"};

}  // namespace

CWnd_Main::CWnd_Main() = default;

CWnd_Main::~CWnd_Main()
{
    // The editor may still point into this window.
    m_pCutterWnd.reset();
    SetCutter(nullptr);
}

void CWnd_Main::SetPlugin(CPluginMain* plugin)
{
    m_pPlugin = plugin;
    if (plugin) {
        m_pStore = std::make_unique<CPluginLastSettings>(plugin);
        SetLastSettingsStore(m_pStore.get());
    } else {
        SetLastSettingsStore(nullptr);
        m_pStore.reset();
    }
}

bool CWnd_Main::i_AddControl(const char* name, uint8_t type, unsigned long* id)
{
    const unsigned long i = AddControl(CQNF_String(name), type);
    if (i == None)
        return false;
    m_Ctrls.push_back(CtrlRef{name, type, i});
    if (id)
        *id = i;
    return true;
}

unsigned long CWnd_Main::FindControlId(const char* name, uint8_t type) const
{
    for (const CtrlRef& c : m_Ctrls)
        if (c.type == type && std::strcmp(c.name, name) == 0)
            return c.id;
    return None;
}

CQNF_Control* CWnd_Main::FindControl(const char* name, uint8_t type) const
{
    const unsigned long id = FindControlId(name, type);
    return id == None ? nullptr : GetControl(id);
}

bool CWnd_Main::i_AddControls()
{
    using namespace qnctl;
    unsigned long id = None;
    if (!i_AddControl("Main_Info", StaticText, &id))
        return false;
    m_pInfo = static_cast<CQNF_CtrlStaticText*>(GetControl(id));
    m_pInfo->SetFont(GetFont(m_InfoFont));
    m_pInfo->SetText("", 1, 0, 15);
    m_pInfo->AddTab(140);
    m_pInfo->AddTab(300);
    if (!i_AddControl("Main_Status", StaticText, &id))
        return false;
    m_pStatus = static_cast<CQNF_CtrlStaticText*>(GetControl(id));
    m_pStatus->SetFont(GetFont(m_InfoFont));
    m_pStatus->SetText("", 1, 2, 15);
    m_pStatus->AddTab(265);
    const std::pair<const char*, const qntRECT_s*> rulers[] = {{"Main_RulerTop", &m_rcHSplitRuler},
                                                               {"Main_RulerLeft", &m_rcVSplitRuler}};
    for (const auto& [r, split] : rulers) {
        if (!i_AddControl(r, Ruler, &id))
            return false;
        auto* ruler = static_cast<CQNF_CtrlRuler*>(GetControl(id));
        ruler->SetFont(GetFont(m_SmallFont));
        // The split ruler's handles lie over part of it.
        ruler->SetCoveredRect(*split);
    }
    for (const char* n : {"Main_RulerCover_Top", "Main_RulerCover_Left", "Main_ModeL", "Main_ModeP"})
        if (!i_AddControl(n, StaticImage))
            return false;
    static_cast<CQNF_CtrlStaticImage*>(FindControl("Main_ModeL", StaticImage))->GetControlLayer()->SetVisible(0);
    static_cast<CQNF_CtrlStaticImage*>(FindControl("Main_ModeP", StaticImage))->GetControlLayer()->SetVisible(1);
    for (const char* n : {"Main_Show", "Main_Hide", "Main_RevShowHide", "Main_ShowExtras", "Main_HideExtras",
                          "Main_Apply", "Main_ApplyLM", "Main_Cancel", "Main_Export", "Main_Relayout", "Main_Help",
                          "Main_CloseX", "Main_Main", "Main_Select", "Main_Adjust", "Main_Ruler", "Main_AddKnives",
                          "Main_DelKnives", "Main_ResetKnots", "Main_RndKnots"})
        if (!i_AddControl(n, Button))
            return false;
    for (const char* n : {"Main_ShowExtras", "Main_HideExtras", "Main_Apply", "Main_ApplyLM"})
        FindControl(n, Button)->SetDisabledOpacity(0);
    FindControl("Main_ShowExtras", Button)->Enable(0);
    FindControl("Main_Apply", Button)->Enable(0);
    for (const char* n : {"Main_Help", "Main_Ruler", "Main_Main", "Main_Select", "Main_Adjust"})
        static_cast<CQNF_CtrlButton*>(FindControl(n, Button))->SetMenuMode(1);
    for (const char* fx : kEffects)
        if (!i_AddControl(fx, CheckBox) || !i_AddControl(fx, Button))
            return false;
    if (!i_AddControl("Main_Zoom", Slider, &id))
        return false;
    m_pZoom = static_cast<CQNF_CtrlSlider*>(GetControl(id));
    if (!i_AddControl("Main_RndKnots", Slider, &id))
        return false;
    m_pRndSlider = static_cast<CQNF_CtrlSlider*>(GetControl(id));
    if (!i_AddControl("Main_RndKnots", EditLine, &id))
        return false;
    m_pRndEdit = static_cast<CQNF_CtrlEditLine*>(GetControl(id));
    m_pRndEdit->SetFont(GetFont(m_EditFont));
    m_pRndEdit->SetOptions(1, 0, 0, 0, -1, 0);
    m_pRndEdit->SetWheelStepValue(1);
    m_pRndEdit->SetColors(kPluginEditColours);
    const bool twoSided = CQNF_App::GetScrollStyle_TwoSideArrows();
    unsigned long down = None, up = None, bar = None, right = None, left = None, hbar = None;
    if (!i_AddControl("Main_ScrollV_Bottom", Button, &down) ||
        !i_AddControl(twoSided ? "Main_ScrollV_TopNR" : "Main_ScrollV_TopMAC", Button, &up) ||
        !i_AddControl(twoSided ? "Main_ScrollV_NR" : "Main_ScrollV_MAC", ScrollBar, &bar))
        return false;
    static_cast<CQNF_CtrlScrollBar*>(GetControl(bar))->SetButtons(up, down);
    if (!i_AddControl("Main_ScrollH_Right", Button, &right) ||
        !i_AddControl(twoSided ? "Main_ScrollH_LeftNR" : "Main_ScrollH_LeftMAC", Button, &left) ||
        !i_AddControl(twoSided ? "Main_ScrollH_NR" : "Main_ScrollH_MAC", ScrollBar, &hbar))
        return false;
    static_cast<CQNF_CtrlScrollBar*>(GetControl(hbar))->SetButtons(left, right);
    GetControl(hbar)->InvertWheel(1);
    return i_AddControl("Main_Navigator", StaticImage);
}

bool CWnd_Main::i_CreateOverlayLayers()
{
    // The model made the images at SetView: place them over their rectangles.
    struct {
        CQNF_Layer* layer;
        qntRECT_s rect;
        uint32_t* index;
    } layers[5] = {{&m_HSplitRulerImage, m_rcHSplitRuler, &m_idHRulerLayer},
                   {&m_VSplitRulerImage, m_rcVSplitRuler, &m_idVRulerLayer},
                   {&m_KnivesLayer, m_rcPreview, &m_idKnivesLayer},
                   {&m_SelKnivesLayer, m_rcPreview, &m_idSelKnivesLayer},
                   {&m_OverlayLayer, m_rcPreview, &m_idOverlayLayer}};
    for (auto& l : layers) {
        if (!l.layer->HasPixels() || !l.layer->SetPos(short(l.rect.left), short(l.rect.top)))
            return false;
        *l.index = uint32_t(LSAddLayer(l.layer));
        if (*l.index == None)
            return false;
    }
    for (CQNF_Layer* l : {&m_KnivesLayer, &m_SelKnivesLayer, &m_OverlayLayer})
        l->SetVisible(0);
    return true;
}

unsigned char CWnd_Main::OnCreate(CQNF_LayerSet*, unsigned short, unsigned short)
{
    // The piece map and the dialogs the commands reach.
    i_WireUp();
    // 1. Preferences.
    m_Prefs = CPreferences{};
    m_Prefs.settings_Load(m_pPlugin ? m_pPlugin->ConfStorage_GetStorage() : nullptr);
    m_nDelKnifeOpacity = m_Prefs.delKnifeOpacity;
    // 2. Rectangles.
    if (!GetResourceRect("Main_Preview", m_rcPreview) || !GetResourceRect("Main_HSplitRuler", m_rcHSplitRuler) ||
        !GetResourceRect("Main_VSplitRuler", m_rcVSplitRuler))
        return 0;
    // 3. Ruler unit.
    const CQNF_8BFPluginVirtual::PLUGINDATA* data = m_pPlugin ? m_pPlugin->GetPluginDataPtr() : nullptr;
    m_nUnits = data ? qnUnitFromHost(data->rulerUnit) : 1;
    // 4. Fonts.
    m_SmallFont = uint32_t(AddFont(CQNF_String("Small Font")));
    m_InfoFont = uint32_t(AddFont(CQNF_String("Info Font")));
    m_EditFont = uint32_t(AddFont(CQNF_String("Edit Font")));
    if (m_SmallFont == None || m_InfoFont == None || m_EditFont == None)
        return 0;
    // 5. Controls.
    if (!i_AddControls())
        return 0;
    // 7. (The zoom slider before any image is there.)
    m_pZoom->SetValue(4, 0);
    // 8. Source image and navigator.
    if (!GetSourceDataInRGBA() || !SetSourceToNavigator())
        return 0;
    SetImageSize(m_SourceImage.GetImageWidth(), m_SourceImage.GetImageHeight());
    // 6 and 13. Split-ruler and overlay layers, drawn by the model.
    if (!SetView(m_rcPreview, m_rcHSplitRuler, m_rcVSplitRuler, 4, 0, 0) || !i_CreateOverlayLayers())
        return 0;
    // 9. The preview.
    m_idPreview = AddControl_External(&m_Preview);
    if (m_idPreview == None)
        return 0;
    // 10. Checkerboards.
    m_Prefs.TransparencyPair(m_Preview.m_inner1, m_Preview.m_inner2);
    m_Prefs.FramePair(m_Preview.m_outer1, m_Preview.m_outer2);
    // 11.
    i_BindPreview(&m_SourceImage);
    m_Preview.m_horizontalResolution = data ? data->resolutionH : 72.0;
    m_Preview.m_verticalResolution = data ? data->resolutionV : 72.0;
    m_Preview.m_rulerUnit = m_nUnits;
    // 12. Zoom on load (the slider tells the preview, which redraws).
    const uint32_t pw = uint32_t(m_rcPreview.right - m_rcPreview.left);
    const uint32_t ph = uint32_t(m_rcPreview.bottom - m_rcPreview.top);
    const uint8_t zoom = m_Prefs.onLoadZoom ? qnOnLoadZoom(m_nImageWidth, m_nImageHeight, pw, ph) : 4;
    m_pZoom->SetValue(zoom, 0);
    m_Preview.SetZoom(zoom, -1, -1, 0, 1);
    i_SyncViewFromPreview();
    // 14. The last settings become the document.
    if (!settings_LoadCurLayoutAndCellSettings() && m_bClosing)
        return 0;
    // 15.
    SetTimer(30, 1);
    // 16.
    m_pRndSlider->SetValue(0, 0);
    m_pRndEdit->SetText("0", 0);
    m_fRndKnotsValue = 0.0f;
    i_SetEnabled("Main_RndKnots", qnctl::Button, 0);
    // 17. Every run starts in cut mode; a run without the knife editor
    // could apply pieces that do not exist, so its failure fails the window.
    m_bCreated = 1;
    if (!DoCutterWindow()) {
        m_bCreated = 0;
        return 0;
    }
    // The panel starts with the image size, the status line with the
    // window's own tip, which gives way to the tip of what the pointer is
    // over already.
    UpdateInfoPanel(qnNullPOS, 1);
    m_Fader.Show(qnGetStatusTip("", "Main", i_TipMode(), kTipNoControl));
    m_pStatus->SetText(m_Fader.Pending().c_str());
    i_AskTipForPointer();
    return 1;
}

// ---- Model hooks -----------------------------------------------------------------

void CWnd_Main::i_SyncOverlayLayers()
{
    m_KnivesLayer.SetVisible(m_bCutMode && m_bKnivesLayerVisible);
    m_SelKnivesLayer.SetVisible(m_bCutMode ? m_bSelKnivesLayerVisible : m_SelKnivesLayer.GetVisible());
    m_OverlayLayer.SetVisible(m_bCutMode && m_bOverlayLayerVisible);
}

void CWnd_Main::view_RenderAndUpdate(qntRECT_s rect)
{
    if (!GetWindowHandle())
        return;
    i_SyncOverlayLayers();
    RenderRect(rect);
    UpdateRect(rect);
}

void CWnd_Main::view_StatusClear() { m_Fader.Restart(); }

void CWnd_Main::view_ControlsChanged()
{
    if (!GetWindowHandle() || !m_bCutMode)
        return;
    i_SetEnabled("Main_Show", qnctl::Button, m_bCmdShow);
    i_SetEnabled("Main_Hide", qnctl::Button, m_bCmdHide);
    i_SetEnabled("Main_DelKnives", qnctl::Button, m_bCmdDelKnives);
    i_SetEnabled("Main_AddKnives", qnctl::Button, m_bCanAddKnives);
    i_SetEnabled("Main_RndKnots", qnctl::Button, m_bCanRndKnots);
}

void CWnd_Main::view_RandomKnotsControls(uint32_t percent, uint8_t notify, bool field)
{
    if (!GetWindowHandle() || !m_pRndSlider || !m_pRndEdit)
        return;
    m_pRndSlider->SetValue(percent, notify);
    // Rewriting the field under the user's keys would put the caret back
    // at its start: "25" typed would read "52". It takes "%d" when it
    // loses the focus.
    if (field)
        m_pRndEdit->SetText(std::to_string(percent).c_str(), 0);
}

void CWnd_Main::ShowMessageBox(const char* text, const char* title)
{
    CWnd_MainModel::ShowMessageBox(text, title);
    if (GetWindowHandle())
        CQNF_App::PlatformMessageBox(text, title, this);
}

void CWnd_Main::i_SetEnabled(const char* name, uint8_t type, uint8_t enabled)
{
    if (CQNF_Control* c = FindControl(name, type))
        c->Enable(enabled);
}
