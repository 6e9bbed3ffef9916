// The main window's modes (cut, piece, effect), the knife editor hand-over,
// Apply and Cancel, and the control messages that reach them.
#include "app/Wnd_Main.h"

#include "app/App.h"
#include "core/ProgramOutput.h"
#include "app/CutterStandIn.h"
#include "app/Wnd_MessageBox.h"
#include "host/PluginMain.h"
#include "ui/CtrlButton.h"
#include "ui/CtrlEditLine.h"
#include "ui/CtrlScrollBar.h"
#include "ui/CtrlSlider.h"
#include "ui/CtrlStatic.h"
#include "ui/KeyCodes.h"
#include "ui/PlatformPopupMenu.h"

#include <cstdio>
#include <cstring>

namespace {

// Where the help pop-up opens, in window coordinates.
constexpr short kHelpMenuX = 672, kHelpMenuY = 30;

}  // namespace

void CWnd_Main::i_ApplyState(const qntCTRLSTATE& s)
{
    CQNF_Control* c = FindControl(s.name, s.type);
    if (!c)
        return;
    c->SetDisabledOpacity(s.opacity);
    c->Enable(s.enabled);
    if (s.type == qnctl::EditLine)
        static_cast<CQNF_CtrlEditLine*>(c)->Visible(s.visible);
}

void CWnd_Main::i_BindPreview(CQNF_Image* image)
{
    // Every binding keeps the scroll bars, rulers and navigator: a view
    // without them would leave them showing the first binding's view.
    auto* vbar = static_cast<CQNF_CtrlScrollBar*>(FindControl(
        CQNF_App::GetScrollStyle_TwoSideArrows() ? "Main_ScrollV_NR" : "Main_ScrollV_MAC", qnctl::ScrollBar));
    auto* hbar = static_cast<CQNF_CtrlScrollBar*>(FindControl(
        CQNF_App::GetScrollStyle_TwoSideArrows() ? "Main_ScrollH_NR" : "Main_ScrollH_MAC", qnctl::ScrollBar));
    m_Preview.SetData(m_rcPreview, image, vbar, hbar,
                      static_cast<CQNF_CtrlRuler*>(FindControl("Main_RulerTop", qnctl::Ruler)),
                      static_cast<CQNF_CtrlRuler*>(FindControl("Main_RulerLeft", qnctl::Ruler)),
                      static_cast<CQNF_CtrlStaticImage*>(FindControl("Main_Navigator", qnctl::StaticImage)));
}

void CWnd_Main::OnChangeMode()
{
    if (!GetWindowHandle())
        return;
    qntMODEINPUT in;
    in.cutMode = m_bCutMode;
    in.fxMode = m_bFXMode;
    in.rndKnotsValue = m_fRndKnotsValue;
    in.layersAvailable = m_pPlugin && m_pPlugin->GetPluginDataPtr()->layersAvailable;
    for (const qntCTRLSTATE& s : qnMainModeStates(in))
        i_ApplyState(s);
    if (m_bCutMode) {
        cmop_Extras(1, 1);
        OnChangeSelectedKnots();
        spl_OnKnifeSelChanged();
    }
    auto* modeL = static_cast<CQNF_CtrlStaticImage*>(FindControl("Main_ModeL", qnctl::StaticImage));
    auto* modeP = static_cast<CQNF_CtrlStaticImage*>(FindControl("Main_ModeP", qnctl::StaticImage));
    if (modeL && modeP) {
        modeL->GetControlLayer()->SetVisible(m_bCutMode);
        modeP->GetControlLayer()->SetVisible(!m_bCutMode);
        qntRECT_s r = modeL->GetRenderRect();
        const qntRECT_s p = modeP->GetRenderRect();
        if (qnIsNullRect(r))
            r = p;
        else if (!qnIsNullRect(p))
            r = qntRECT_s{std::min(r.left, p.left), std::min(r.top, p.top), std::max(r.right, p.right),
                          std::max(r.bottom, p.bottom)};
        view_RenderAndUpdate(r);
    }
    m_LastTipControl = kAskTipAgain;
    i_AskTipForPointer();
    i_ShowInfoForPointer();
}

void CWnd_Main::EnterFXMode()
{
    m_bFXMode = 1;
    OnChangeMode();
    // Everything done while the effect window is open is one undo step.
    unpm_PreSave();
}

void CWnd_Main::ExitFXMode()
{
    m_bFXMode = 0;
    OnChangeMode();
    OnCommonFXChanged();
    unpm_SaveState(1);
}

void CWnd_Main::OnChangeExtrasState()
{
    const uint8_t shown = m_bCutMode ? m_bCMExtras : m_bPMExtras;
    i_SetEnabled("Main_ShowExtras", qnctl::Button, !shown);
    i_SetEnabled("Main_HideExtras", qnctl::Button, shown);
}

bool CWnd_Main::DoCutterWindow()
{
    if (!m_bCreated || !GetWindowHandle())
        return CWnd_MainModel::DoCutterWindow();
    // 1, 2.
    SetCutter(nullptr);
    m_pCutterWnd.reset();
    std::unique_ptr<CMainCutter> cutter = m_CutterFactory ? m_CutterFactory() : std::make_unique<CCutterStandIn>();
    if (!cutter)
        return false;
    cutter->ExtSetColumns(uint32_t(m_nColSplitters) + 1);
    cutter->ExtSetRows(uint32_t(m_nRowSplitters) + 1);
    // 3.
    uint8_t mixedT = 0, mixedK = 0;
    const uint16_t thickness = spl_DoGetKnifeThickness(1, mixedT);
    const uint16_t knob = spl_DoGetKnobSize(1, mixedK);
    cutter->NotifiedByMain_NewThickness(thickness, mixedT, m_bRazorCut);
    cutter->NotifiedByMain_NewKnobSize(knob, mixedK);
    cutter->SetAntiAlias(m_bAntiAlias);
    // 4. The effect records the editor's Cut matches to its pieces.
    CTessolo* engine = m_pPlugin ? &m_pPlugin->GetEngine() : nullptr;
    if (engine && engine->m_nPieces) {
        CQNF_Mem records;
        if (!records.alloc(uint64_t(engine->m_nPieces) * kPieceRecordSize)) {
            ShowMessageBox("Memory allocation problem...", "Error!");
            return false;
        }
        for (uint32_t i = 0; i < engine->m_nPieces; ++i)
            CTessolo::MakeOnePiece(engine->m_pPieces[i]).StoreLE(records.GetPtr() + size_t(i) * kPieceRecordSize);
        cutter->SetEffectRecords(records.GetPtr(), engine->m_nPieces);
    } else if (m_nLoadedRecords) {
        cutter->SetEffectRecords(m_LoadedRecords.GetPtr(), m_nLoadedRecords);
    }
    // 5.
    if (!cutter->Open(this))
        return false;
    m_pCutterWnd = std::move(cutter);
    SetCutter(m_pCutterWnd.get());
    // 6.
    m_KnotRandomness = 0.0f;
    // 7. The knives' layers over the source image.
    m_bKnivesLayerVisible = 1;
    m_bOverlayLayerVisible = 1;
    m_SelKnivesLayer.Set(qntRGBA8{255, 0, 0, 0}, 255, qnNullRect);
    m_bSelKnivesLayerVisible = 1;
    // 8.
    m_bCutMode = 1;
    uncm_Empty();
    pm_End();
    OnChangeMode();
    // 9.
    m_Preview.SetMaskChannel(nullptr, 0);
    m_bPMExtras = 0;
    OnChangeExtrasState();
    // 10.
    i_BindPreview(&m_SourceImage);
    m_Preview.DoRedraw(1, 0);
    return true;
}

void CWnd_Main::OnCutterClose()
{
    if (!m_pCutterWnd)
        return;
    m_bCutMode = 0;
    m_KnivesLayer.SetVisible(0);
    m_SelKnivesLayer.SetVisible(0);
    m_OverlayLayer.SetVisible(0);
    OnChangeMode();
    int32_t w = 0, h = 0;
    const uint8_t* alpha = m_pPlugin ? m_pPlugin->GetCompositeAlpha(w, h) : nullptr;
    CTessolo* engine = m_pPlugin ? &m_pPlugin->GetEngine() : nullptr;
    if (!m_pCutterWnd->WasCut()) {
        // Without a Cut only pieces that still exist keep piece mode.
        if (!engine || !engine->m_nPieces || m_MainImage.GetImageWidth() != w || m_MainImage.GetImageHeight() != h ||
            !BeginPieceMode(w, h, alpha)) {
            localClose();
            return;
        }
    } else {
        if ((m_MainImage.GetImageWidth() != w || m_MainImage.GetImageHeight() != h) &&
            !m_MainImage.Create(uint16_t(w), uint16_t(h), 2)) {
            localClose();
            return;
        }
        const size_t n = size_t(w) * size_t(h);
        if (m_SelMask.GetSize() < n && !m_SelMask.alloc(n)) {
            CQNF_App::PlatformMessageBox("Memory allocation problem...", "Error!", this);
            localClose();
            return;
        }
        m_SelMask.Set(uint8_t(0));
        m_pSelMask = m_SelMask.GetPtr();
        uint8_t* planes[4] = {m_MainImage.GetPlane(0), m_MainImage.GetPlane(1), m_MainImage.GetPlane(2),
                              m_MainImage.GetPlane(3)};
        // The picture starts from the document's colours, as Apply's does.
        const bool document = m_SourceImage.GetImageWidth() == w && m_SourceImage.GetImageHeight() == h;
        const uint8_t* start[3] = {m_SourceImage.GetPlane(0), m_SourceImage.GetPlane(1), m_SourceImage.GetPlane(2)};
        engine->CombineSplitedCells(w, h, planes, uint32_t(w), 4, const_cast<uint8_t*>(alpha), uint32_t(w),
                                    qnNullRect, document ? start : nullptr, 0, 100);
        if (!BeginPieceMode(w, h, alpha)) {
            CQNF_App::PlatformMessageBox("Memory allocation problem...", "Error!", this);
            localClose();
            return;
        }
        if (m_pCutterWnd->LayoutChanged()) {
            i_BindPreview(&m_MainImage);
            m_Preview.DoRedraw(1, 1);
            // The pieces keep their effects unless the user asks to reset
            // them: then every piece takes the default effects again (one
            // undo step; only the pieces that change are rendered).
            if (CWnd_MessageBox::Ask(this, "Pieces Layout Has Changed", "Do you want to reset effects?",
                                     CWnd_MessageBox::YES, CWnd_MessageBox::NO) == 1) {
                unpm_PreSave();
                pm_ResetAllPieces();
                unpm_SaveState(1);
            }
        }
    }
    m_Preview.SetMaskChannel(m_pSelMask, uint32_t(w));
    m_bPMExtras = 1;
    OnChangeExtrasState();
    i_BindPreview(&m_MainImage);
    m_Preview.DoRedraw(1, 0);
    OnCommonFXChanged();
    // The editor and the question about the effects have gone from over the
    // pointer, which has pieces under it now.
    i_AskTipForPointer();
    i_ShowInfoForPointer();
}

bool CWnd_Main::settings_GetPieceRecords(CQNF_Mem* records, uint32_t& count)
{
    if (m_pPlugin && m_pPlugin->GetEngine().m_nPieces && !settings_TakePieceRecordsFromEngine(m_pPlugin->GetEngine()))
        return false;
    return CWnd_MainModel::settings_GetPieceRecords(records, count);
}

uint8_t CWnd_Main::OnApply()
{
    m_bApply = 0;
    // The picture is applied all the same; only the next run loses out.
    std::string why;
    const bool kept = settings_SaveCurLayoutAndCellSettings(&why);
    // A descriptor left without settings is refused at replay, never
    // replays an older picture; the user learns it now, not at the replay.
    if (!why.empty()) {
        const std::string text = qnShownLine(
            "The host's descriptor holds no settings: " + why + ". A replay of it is refused" +
            (kept ? "; without it, the last settings (\"" + std::string(kLastSettingsName) + "\") replay this picture"
                  : std::string()) +
            ". The picture is applied.");
        // Shown in the window only: the host names its descriptor's file
        // in a line of its own.
        ShowMessageBox(text.c_str(), "Warning!");
    }
    if (!kept) {
        // What the write met is named (a file of the folder that leads to
        // one the run reads, a read-only file system); a failure before any
        // write is most likely a folder that may not be written.
        const std::string refusal = m_pLastStore ? m_pLastStore->WriteRefusal() : std::string();
        const std::string text = qnShownLine("The settings could not be kept for the next run (" +
                                             (refusal.empty() ? std::string("is the plug-in folder writable?") : refusal) +
                                             "). The picture is applied.");
        std::fprintf(stderr, "Tessolo: %s\n", text.c_str());
        ShowMessageBox(text.c_str(), "Warning!");
    }
    if (m_bCutMode && m_pCutterWnd)
        m_pCutterWnd->SaveLastKnife();
    if (!m_pPlugin || !engine_PutLayoutToPuzzleEngine(&m_pPlugin->GetEngine()))
        return 0;
    m_bApply = 1;
    return 1;
}

void CWnd_Main::localClose()
{
    // Before the window is complete a failure is reported by OnCreate
    // itself: the half-made window is never closed from inside.
    if (!GetWindowHandle() || !m_bCreated) {
        CWnd_MainModel::localClose();
        return;
    }
    if (m_pCutterWnd && m_pCutterWnd->IsCutting())
        return;
    if (m_bCutMode && m_pCutterWnd)
        m_pCutterWnd->settings_SaveWindowPosition();
    if (m_bApply && !OnApply()) {
        // The layout could not be handed over: say so and keep the window,
        // the user's work is still there (and in the last settings).
        CQNF_App::PlatformMessageBox("The layout cannot be applied.", "Error!", this);
        return;
    }
    m_bClosing = 1;
    Close();
}

void CWnd_Main::Close()
{
    if (m_bFXMode)
        return;
    if (m_pPlugin && GetWindowHandle()) {
        const qntRECT_s r = GetWindowRect();
        m_pPlugin->PutWindowPosToConf("Main", "ROOT", qntPOS{r.left, r.top});
        if (m_bApply)
            m_pPlugin->HostSetRetCode_NoError();
        else
            m_pPlugin->HostSetRetCode_Cancel();
    }
    KillTimer(1);
    CQNF_Window::Close();
}

void CWnd_Main::i_Help()
{
    auto* app = dynamic_cast<CApp*>(m_App);
    if (!app)
        return;
    CQNF_PlatformPopupMenu menu;
    menu.Create();
    app->FillHelpMenu(&menu, 0);
    menu.DoPopup(this, kHelpMenuX, kHelpMenuY);
}

void CWnd_Main::i_SyncViewFromPreview()
{
    const qntPOS off = m_Preview.GetOffset();
    m_nZoom = m_Preview.GetZoom();
    m_nScrollX = off.x;
    m_nScrollY = off.y;
    DoRedrawOverlay();
}

unsigned char CWnd_Main::OnCtrlMessage(unsigned short msg, unsigned long id, char* name, unsigned char type,
                                       void* data)
{
    // While the editor makes pieces the layout must stay as it is: nothing
    // of the main window's own runs (the editor pumps its events).
    if (m_pCutterWnd && m_pCutterWnd->IsCutting())
        return 1;
    // Commands, menus, buttons and the preview's notices (MainCommands.cpp).
    if (unsigned char r = 1; cmd_Dispatch(msg, id, name, type, data, r))
        return r;
    // What cmd_Dispatch leaves: the sliders and the edit line.
    const char* n = name ? name : "";
    if ((msg == qnmsg::ValueChanged || msg == qnmsg::ValueTracking) && type == qnctl::Slider && data) {
        const uint32_t v = *static_cast<uint32_t*>(data);
        if (!std::strcmp(n, "Main_Zoom")) {
            m_Preview.SetZoom(uint8_t(std::min<uint32_t>(v, 8)), -1, -1, msg == qnmsg::ValueChanged, 0);
        } else if (!std::strcmp(n, "Main_RndKnots") && m_bCutMode) {
            OnSldrRandomKnots(v, msg == qnmsg::ValueTracking);
        }
        return 1;
    }
    if (msg == qnmsg::TextEdited && type == qnctl::EditLine && !std::strcmp(n, "Main_RndKnots") && data) {
        OnEditRandomKnots(static_cast<CQNF_String*>(data)->GetStr());
        return 1;
    }
    return 1;
}

void CWnd_Main::OnCtrlLostFocus(unsigned long index)
{
    CQNF_Window::OnCtrlLostFocus(index);
    if (index != FindControlId("Main_RndKnots", qnctl::EditLine) || !m_pRndEdit)
        return;
    // Esc took the typing back: the slider and the value follow the text
    // again, and the knots stay as they are. Any other end randomises them.
    if (m_pRndEdit->GetModel().EndedByEsc())
        OnEditRandomKnots(m_pRndEdit->GetText().GetStr());
    else
        OnEditRandomKnotsLF(m_pRndEdit->GetText().GetStr());
}
