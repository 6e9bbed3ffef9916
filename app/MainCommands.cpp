// The main window's commands: keyboard shortcuts (message 336), buttons, the
// effect check boxes and the preview's notices; the pop-up menu choices
// (304) and the menus are in MainMenuCommands.cpp. Effects mode (an effect window is open) refuses
// every command that would change the layout, the pieces or the run: such a
// command answers 0 and changes nothing.
#include "app/App.h"
#include "app/MainCommandSteps.h"
#include "app/Wnd_Main.h"
#include "host/PluginMain.h"
#include "ui/Control.h"
#include "ui/CtrlPreview.h"
#include "ui/CtrlSlider.h"
#include "ui/CtrlStatic.h"

#include <algorithm>
#include <cstring>

namespace {

using namespace maincmd;
using namespace qnmenu;

// Where the menus open, in window coordinates.
constexpr short kMainMenuX = 422, kSelectMenuX = 484, kAdjustMenuX = 559, kMenuY = 30;

// Effect bits of the piece map, by button or check box name.
struct EffectName {
    const char* name;
    uint8_t bit;
    unsigned long shortcut;  // opens its window
};
constexpr EffectName kEffects[] = {
    {"Main_FXBlur", 0, 26},   {"Main_FXBevel", 1, 24},   {"Main_FXHSL", 2, 27},
    {"Main_FXCOver", 3, 29},  {"Main_FXBC", 4, 31},      {"Main_FXMBlur", 5, 30},
    {"Main_FXOpacity", 6, 25}, {"Main_FXStroke", 8, 44}, {"Main_FXIOver", 9, 45},
};

const EffectName* EffectOf(const char* name)
{
    for (const EffectName& e : kEffects)
        if (!std::strcmp(e.name, name))
            return &e;
    return nullptr;
}

// Shortcut ids that open an effect window, with the effect's bit.
int EffectBitOfShortcut(unsigned long id)
{
    for (const EffectName& e : kEffects)
        if (e.shortcut == id)
            return e.bit;
    return -1;
}

}  // namespace

qntMENUSTATE CWnd_Main::GetMenuState() const
{
    qntMENUSTATE s;
    s.cutMode = m_bCutMode;
    s.fxMode = m_bFXMode;
    const CMainPieceMap* pm = m_pPieceMap;
    if (m_bCutMode) {
        s.undoHasStep = uncm_HasStep();
        i_ForEachKnife([&](const KNIFESTRUCT& k, uint32_t) {
            if (k.selected)
                s.someSelected = 1;
            else
                s.someUnselected = 1;
        });
        s.hasExtraKnife = m_nAuxKnives > 0;
        s.extrasShown = m_bCMExtras;
        s.canShow = m_bCmdShow;
        s.canHide = m_bCmdHide;
        s.canAddKnives = m_bCanAddKnives;
        s.canDelKnives = m_bCmdDelKnives;
        s.knifeCopied = !m_bClipboardEmpty;
        s.canEqualize = check_IsAvail_EqualizeKnobs(1);
        s.auxOnlySelection = m_bAuxOnlySelection;
    } else if (pm) {
        s.undoHasStep = pm->unpm_HasStep();
        for (uint32_t i = 0, n = pm->GetPieceCount(); i < n; ++i) {
            if (pm->IsPieceSelected(i))
                s.someSelected = 1;
            else
                s.someUnselected = 1;
        }
        s.splitterPiece = pm->HasSplitterPiece();
        s.extrasShown = pm->ExtrasShown();
        s.fxWord = pm->i_pmfx_GetFXOnSelection(CMainPieceMap::kNone);
        s.fxClipboardFull = !pm->EffectClipboardEmpty();
    } else {
        s.extrasShown = m_bPMExtras;
    }
    if (m_pPlugin) {
        const CQNF_8BFPluginVirtual::PLUGINDATA* d = m_pPlugin->GetPluginDataPtr();
        s.documentRGB = d->colorMode == 1;
        s.layersAvailable = d->layersAvailable;
    }
    return s;
}

bool CWnd_Main::cmd_Dispatch(unsigned short msg, unsigned long id, const char* name, unsigned char type, void* data,
                             unsigned char& result)
{
    const char* n = name ? name : "";
    result = 1;
    if (msg == qnmsg::Shortcut) {
        result = OnShortcut(id);
        return true;
    }
    if (type == 255) {
        if (msg != qnmsg::PopupChoice)
            return true;
        const unsigned short item = data ? *static_cast<unsigned short*>(data) : 0;
        auto* app = dynamic_cast<CApp*>(m_App);
        if (app && app->HelpMenuDispatcher(item, this))
            return true;
        result = OnMenuCommand(item);
        return true;
    }
    if (type == qnctl::Button) {
        result = OnButton(n);
        return true;
    }
    if (type == qnctl::CheckBox) {
        const EffectName* e = EffectOf(n);
        if (!e)
            return true;
        const CQNF_Control* box = GetControl(id);
        const qntMENUSTATE s = GetMenuState();
        if (m_bFXMode || (m_bCutMode && (e->bit == 8 || e->bit == 9)) || (e->bit == 9 && !s.layersAvailable) ||
            (e->bit == 2 && !s.documentRGB)) {
            result = 0;
            return true;
        }
        if (m_pPieceMap) {
            m_pPieceMap->SetMenuContext(CMainPieceMap::kNone, 0xFFFF);
            const uint8_t on = box ? box->GetCheck() : 0;
            PieceBracket(m_pPieceMap, [&](CMainPieceMap& pm) { pm.pmfx_SwitchFX(e->bit, 1, on); });
        }
        return true;
    }
    if (type == qnctl::Preview) {
        switch (msg) {
        case qnmsg::PreviewZoom:
            if (data) {
                m_nZoom = std::min<uint8_t>(*static_cast<uint8_t*>(data), 8);
                if (m_pZoom)
                    m_pZoom->SetValue(m_nZoom, 0);
            }
            i_in_ForgetHoverPiece();
            return true;
        case qnmsg::PreviewMouse:
            if (data)
                UpdateInfoPanel(*static_cast<qntPOS*>(data), 0);
            return true;
        case qnmsg::PreviewFullRedraw:
            i_SyncViewFromPreview();
            i_in_ForgetHoverPiece();
            // The view moved under a pointer that may stay where it is.
            i_ShowInfoForPointer();
            if (m_Gesture.dragSelection && m_pPieceMap) {
                const qntPOS now = GetMousePos();
                m_pPieceMap->i_pmop_PrepareSelLayer();
                m_pPieceMap->i_pmop_RedrawDragSelection(m_Gesture.pressPoint, now, m_Gesture.rectangleDrag,
                                                        m_Gesture.lasso);
            }
            return true;
        case qnmsg::PreviewQuickRedraw: {
            const qntPOS off = m_Preview.GetOffset();
            m_nScrollX = off.x;
            m_nScrollY = off.y;
            spl_DoRedrawHVSplitRulers();
            i_in_ForgetHoverPiece();
            i_ShowInfoForPointer();
            return true;
        }
        default: return true;
        }
    }
    return false;
}

void CWnd_Main::i_SetZoomSlider(int32_t value)
{
    // The zoom stays within its steps whatever the slider would take.
    value = std::clamp(value, 0, 8);
    if (m_pZoom)
        m_pZoom->SetValue(uint32_t(value), 1);
    else
        m_nZoom = uint8_t(value);
}

uint8_t qnFitZoomStep(uint32_t imageW, uint32_t imageH, int32_t previewW, int32_t previewH)
{
    for (int k = 4; k >= -3; --k) {
        const uint64_t w = k >= 0 ? uint64_t(imageW) << k : imageW >> -k;
        const uint64_t h = k >= 0 ? uint64_t(imageH) << k : imageH >> -k;
        if (w <= uint64_t(std::max(previewW, 0)) && h <= uint64_t(std::max(previewH, 0)))
            return uint8_t(k + 4);
    }
    return 0;
}

void CWnd_Main::i_FitOnPreview()
{
    i_SetZoomSlider(qnFitZoomStep(m_nImageWidth, m_nImageHeight, m_rcPreview.right - m_rcPreview.left,
                                  m_rcPreview.bottom - m_rcPreview.top));
}

uint8_t CWnd_Main::i_ShowExtrasToggle()
{
    if (m_bCutMode) {
        cmop_Extras(!m_bCMExtras, 1);
    } else if (m_pPieceMap) {
        m_pPieceMap->pmop_Extras(!m_pPieceMap->ExtrasShown(), 1);
        m_bPMExtras = m_pPieceMap->ExtrasShown();
    } else {
        m_bPMExtras = !m_bPMExtras;
    }
    OnChangeExtrasState();
    return 1;
}

unsigned char CWnd_Main::OnShortcut(unsigned long command)
{
    CMainPieceMap* pm = m_pPieceMap;
    const bool fx = m_bFXMode;
    switch (command) {
    case 1:
    case 8: return i_ShowExtrasToggle();
    case 2:
        if (fx)
            return 0;
        if (m_bCutMode)
            Bracket3(*this, [&] { op_SetSelToAllKnives(1, 1, 1, 1, 1); });
        else
            PieceBracket(pm, [](CMainPieceMap& p) { p.pmop_Sel_SelectAllPieces(1); });
        return 1;
    case 3:
    case 4:
        if (fx)
            return 0;
        if (m_bCutMode)
            uncm_Restore();
        else if (pm)
            pm->unpm_Restore();
        return 1;
    case 10:
        if (fx)
            return 0;
        if (m_bCutMode)
            Bracket3(*this, [&] { op_InvertSelToAllKnives(1); });
        else
            PieceBracket(pm, [](CMainPieceMap& p) { p.pmop_Sel_InvertPiecesSelection(1); });
        return 1;
    case 11:
        if (fx)
            return 0;
        if (m_bCutMode)
            Bracket3(*this, [&] { op_SetSelToAllKnives(0, 1, 1, 1, 1); });
        else
            PieceBracket(pm, [](CMainPieceMap& p) { p.pmop_Sel_DeselectAllPieces(1); });
        return 1;
    case 12: i_SetZoomSlider(4); return 1;
    case 13: i_FitOnPreview(); return 1;
    case 14:
    case 15: i_SetZoomSlider(int32_t(m_pZoom ? m_pZoom->GetValue() : m_nZoom) + 1); return 1;
    case 16:
    case 17: i_SetZoomSlider(int32_t(m_pZoom ? m_pZoom->GetValue() : m_nZoom) - 1); return 1;
    case 18: case 19: case 20: case 21: case 22: case 23:
        if (!m_bCutMode)
            return 0;
        return OnMenuCommand(uint16_t(FlipH + (command - 18)));
    case 32: return OnMenuCommand(Save);
    case 33: return OnMenuCommand(Load);
    case 34: return OnMenuCommand(Export);
    case 35:
        if (!m_bCutMode || fx)
            return 0;
        return OnMenuCommand(SelExtra);
    case 36: DoPreviewMenu(qnNullPOS); return 1;
    case 37:
    case 38: {
        if (fx)
            return 0;
        const uint8_t sel = command == 37;
        if (m_bCutMode)
            Bracket3(*this, [&] { op_SelRandom(sel, 1); });
        else
            PieceBracket(pm, [&](CMainPieceMap& p) { p.pmop_Sel_RandomSelection(sel, 1); });
        return 1;
    }
    case 39:
    case 40:
        if (m_bCutMode || fx)
            return 0;
        PieceBracket(pm, [&](CMainPieceMap& p) {
            if (p.HasSplitterPiece() && p.GetPieceCount())
                p.pmop_Sel_SetSelectionToPiece(0, command == 39, command == 40, 1);
        });
        return 1;
    case 41: return fx ? 0 : OnMenuCommand(Copy);
    case 42: return fx ? 0 : OnMenuCommand(Paste);
    case 43:
        if (m_bCutMode || fx || !pm)
            return 0;
        pm->SetMenuContext(CMainPieceMap::kNone, pm->i_pmfx_GetFXOnSelection(CMainPieceMap::kNone));
        return OnMenuCommand(Invert);
    default: break;
    }
    const int bit = EffectBitOfShortcut(command);
    if (bit < 0)
        return 1;  // unused ids do nothing
    if (m_bCutMode || fx || !pm)
        return 0;
    const qntMENUSTATE s = GetMenuState();
    if ((bit == 9 && !s.layersAvailable) || (bit == 2 && !s.documentRGB))
        return 0;
    pm->pmfx_DoEffect(uint8_t(bit));
    return 1;
}

unsigned char CWnd_Main::OnButton(const char* n)
{
    auto is = [n](const char* name) { return !std::strcmp(n, name); };
    CMainPieceMap* pm = m_pPieceMap;
    const bool fx = m_bFXMode;
    if (is("Main_Cancel") || is("Main_CloseX") || is("Main_Apply") || is("Main_ApplyLM")) {
        if (fx)
            return 0;
        m_bApply = is("Main_Apply") || is("Main_ApplyLM");
        localClose();
        return 1;
    }
    if (is("Main_Help")) {
        i_Help();
        return 1;
    }
    if (is("Main_Main")) {
        qnShowMenu(qnMainMenu(GetMenuState()), this, kMainMenuX, kMenuY);
        return 1;
    }
    if (is("Main_Select")) {
        qnShowMenu(qnSelectMenu(GetMenuState()), this, kSelectMenuX, kMenuY);
        return 1;
    }
    if (is("Main_Adjust")) {
        const qntMENUSTATE s = GetMenuState();
        if (!m_bCutMode && pm)
            pm->SetMenuContext(CMainPieceMap::kNone, s.fxWord);
        qnShowMenu(qnAdjustMenu(s), this, kAdjustMenuX, kMenuY);
        return 1;
    }
    if (is("Main_Ruler")) {
        DoPreviewMenu(qnNullPOS);
        return 1;
    }
    if (is("Main_ShowExtras") || is("Main_HideExtras")) {
        const uint8_t show = is("Main_ShowExtras");
        if (m_bCutMode) {
            cmop_Extras(show, 1);
        } else if (pm) {
            pm->pmop_Extras(show, 1);
            m_bPMExtras = show;
        } else {
            m_bPMExtras = show;
        }
        OnChangeExtrasState();
        return 1;
    }
    if (is("Main_Relayout")) {
        DoCutterWindow();
        return 1;
    }
    if (is("Main_Show") || is("Main_Hide")) {
        if (fx)
            return 0;
        const uint8_t show = is("Main_Show");
        if (m_bCutMode)
            Bracket3(*this, [&] { op_ShowHideSelectedKnives(show, 1); });
        else
            PieceBracket(pm, [&](CMainPieceMap& p) { p.pmop_ShowHideSelectedPieces(show, 1); });
        return 1;
    }
    if (is("Main_RevShowHide")) {
        if (fx)
            return 0;
        if (m_bCutMode)
            Bracket3(*this, [&] { op_ReverseShownHidden(1); });
        else
            PieceBracket(pm, [](CMainPieceMap& p) { p.pmop_ReverseShownHidden(1); });
        return 1;
    }
    if (is("Main_Export"))
        return OnMenuCommand(Export);
    if (is("Main_AddKnives")) {
        if (!m_bCutMode)
            return 0;
        uncm_SaveState(CMUNDO_LAYOUT, CMSUB_ADDKNIVES);
        op_AddAuxKnifeToSelectedKnots(1);
        return 1;
    }
    if (is("Main_DelKnives")) {
        if (!m_bCutMode)
            return 0;
        uncm_SaveState(CMUNDO_LAYOUT, CMSUB_DELKNIVES);
        op_DelAuxKnives(1, nullptr, 0, 1);
        return 1;
    }
    if (is("Main_RndKnots")) {
        if (m_bCutMode)
            OnUpdateKnotRandomize(m_fRndKnotsValue);
        return 1;
    }
    if (is("Main_ResetKnots")) {
        if (m_pRndSlider)
            m_pRndSlider->SetValue(0, 1);
        else if (m_bCutMode)
            OnSldrRandomKnots(0, 0);
        return 1;
    }
    if (const EffectName* e = EffectOf(n)) {
        // Shift-click switches the effect without opening its window.
        if (GetKeysStatus() & plat::mods::Shift) {
            const unsigned long id = FindControlId(n, qnctl::CheckBox);
            if (CQNF_Control* box = GetControl(id); box && box->IsEnabled())
                box->SetCheck(!box->GetCheck(), 1);
            return 1;
        }
        return OnShortcut(e->shortcut);
    }
    return 1;
}
