// The main window's commands: keyboard shortcuts (message 336), pop-up menu
// choices (304), buttons, the effect check boxes and the preview's notices,
// and the menus they open. Effects mode (an effect window is open) refuses
// every command that would change the layout, the pieces or the run: such a
// command answers 0 and changes nothing.
#include "app/App.h"
#include "app/Wnd_Main.h"
#include "host/PluginMain.h"
#include "ui/Control.h"
#include "ui/CtrlPreview.h"
#include "ui/CtrlSlider.h"
#include "ui/CtrlStatic.h"

#include <algorithm>
#include <cstring>

namespace {

using namespace qnmenu;

// Where the menus open, in window coordinates.
constexpr short kMainMenuX = 422, kSelectMenuX = 484, kAdjustMenuX = 559, kMenuY = 30;
constexpr short kViewMenuX = 32, kViewMenuY = 59;

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

// Menu items that open an effect window, and the shortcut they send.
unsigned long ShortcutOfEffectItem(unsigned short item)
{
    switch (item) {
    case Bevel: return 24;
    case Blur: return 26;
    case MBlur: return 30;
    case Opacity: return 25;
    case HSL: return 27;
    case BC: return 31;
    case COver: return 29;
    case Stroke: return 44;
    case IOver: return 45;
    default: return 0;
    }
}

// The effect bit a switch item toggles, or -1.
int SwitchBitOfItem(unsigned short item)
{
    switch (item) {
    case EnBevel: return 1;
    case EnBlur: return 0;
    case EnMBlur: return 5;
    case EnOpacity: return 6;
    case EnHSL: return 2;
    case EnBC: return 4;
    case EnCOver: return 3;
    case EnStroke: return 8;
    case EnIOver: return 9;
    case Invert: return 7;
    default: return -1;
    }
}

// A cut-map change of knife flags, one undo step when it changed anything.
template <class F>
void Bracket3(CWnd_Main& w, F f)
{
    w.uncm_PreSave(CWnd_MainModel::CMUNDO_KNIFEFLAGS);
    f();
    w.uncm_SaveState(CWnd_MainModel::CMUNDO_KNIFEFLAGS, CWnd_MainModel::CMSUB_NONE);
}

template <class F>
void PieceBracket(CMainPieceMap* pm, F f)
{
    if (!pm)
        return;
    pm->unpm_PreSave();
    f(*pm);
    pm->unpm_SaveState(1);
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
            m_Gesture.hoverImagePoint = qnNullPOS;
            return true;
        case qnmsg::PreviewMouse:
            if (data)
                UpdateInfoPanel(*static_cast<qntPOS*>(data), 0);
            return true;
        case qnmsg::PreviewFullRedraw:
            i_SyncViewFromPreview();
            m_Gesture.hoverImagePoint = qnNullPOS;
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
            m_Gesture.hoverImagePoint = qnNullPOS;
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

unsigned char CWnd_Main::OnMenuCommand(unsigned short item)
{
    CMainPieceMap* pm = m_pPieceMap;
    const bool fx = m_bFXMode;
    const bool cut = m_bCutMode;
    if (item >= UnitsPixels && item <= UnitsPercent) {
        const uint8_t units = uint8_t(item - UnitsPixels + 1);
        const bool physical = units >= 2 && units <= 4;
        const double res = m_pPlugin ? m_pPlugin->GetPluginDataPtr()->resolutionH : 0.0;
        if (physical && !(res > 0.0))
            return 1;
        m_nUnits = units;
        m_Preview.m_rulerUnit = units;
        UpdateInfoPanel(qnNullPOS, 1);
        if (GetWindowHandle())
            m_Preview.DoRedraw(1, 0);
        return 1;
    }
    switch (item) {
    case SelectAll: return OnShortcut(2);
    case Deselect: return OnShortcut(11);
    case Inverse: return OnShortcut(10);
    case SelHidden:
    case SelShown: {
        if (fx)
            return 0;
        const uint8_t hidden = item == SelHidden;
        if (cut)
            Bracket3(*this, [&] { op_SetSelToHiddenOrShownKnives(hidden, 1); });
        else
            PieceBracket(pm, [&](CMainPieceMap& p) { p.pmop_Sel_AllHidenOrShown(hidden, 1); });
        return 1;
    }
    case SelColumns:
    case SelRows:
    case SelExtra: {
        if (!cut || fx)
            return 0;
        const uint8_t c = item == SelColumns, r = item == SelRows, x = item == SelExtra;
        Bracket3(*this, [&] {
            op_SetSelToAllKnives(0, 0, !c, !r, !x);
            op_SetSelToAllKnives(1, 1, c, r, x);
        });
        return 1;
    }
    case LoadSelection:
        if (fx)
            return 0;
        if (cut) {
            if (m_pDialogs)
                Bracket3(*this, [&] { m_pDialogs->op_LoadSelection(1); });
        } else {
            PieceBracket(pm, [](CMainPieceMap& p) { p.pmop_LoadSelection(1); });
        }
        return 1;
    case SelRandom: return OnShortcut(37);
    case DeselRandom: return OnShortcut(38);
    case AddSplitter: return OnShortcut(39);
    case DeselSplitter: return OnShortcut(40);
    case Extras: return OnShortcut(1);
    case ActualPixels: return OnShortcut(12);
    case FitOnPreview: return OnShortcut(13);
    case ZoomIn: return OnShortcut(14);
    case ZoomOut: return OnShortcut(16);
    case RulerArrange: op_ArrangeSplitingHandles(m_bRulerRows, 1); return 1;
    case RulerCenter: op_CenterSplitingHandle(m_bRulerRows, m_RulerSplitter, 1); return 1;
    case RulerInsert:
        uncm_SaveState(CMUNDO_LAYOUT, CMSUB_SPLITTERS);
        op_InsertRC(!m_bRulerRows, int16_t(m_RulerPoint.x), int16_t(m_RulerPoint.y));
        return 1;
    case RulerDelete:
        uncm_SaveState(CMUNDO_LAYOUT, CMSUB_SPLITTERS);
        op_DeleteRC(!m_bRulerRows, m_RulerSplitter);
        return 1;
    case RulerSelect:
    case RulerDeselect:
        Bracket3(*this,
                 [&] { op_AddRemoveRowColumnToSelection(m_RulerSplitter, m_bRulerRows, item == RulerSelect, 1); });
        return 1;
    case Undo:
        // Refused in effects mode like its shortcut: an undo under an open
        // effect window would pull the pieces from under its backups.
        return OnShortcut(3);
    case Preferences:
        if (m_pDialogs)
            m_pDialogs->DoPrefDialog();
        return 1;
    case Save:
        if (fx)
            return 0;
        OnSaveDocument();
        return 1;
    case Cancel: return OnButton("Main_Cancel");
    case ApplyLM:
    case Apply: return OnButton("Main_Apply");
    case Load:
        if (fx)
            return 0;
        OnLoadDocument();
        return 1;
    case Export:
        if (cut) {
            if (m_pDialogs)
                m_pDialogs->DoExportLMDialog();
            return 1;
        }
        if (fx)
            return 0;
        if (m_pDialogs)
            m_pDialogs->DoExportDialog();
        return 1;
    case Relayout:
        if (!cut)
            DoCutterWindow();
        return 1;
    case qnmenu::Show: return OnButton("Main_Show");
    case qnmenu::Hide: return OnButton("Main_Hide");
    case Reverse: return OnButton("Main_RevShowHide");
    case FlipH: case FlipU: case FlipHU: case RandH: case RandU: case RandHU:
    case InterH: case InterU: case InterHU: case NonInterH: case NonInterU: case NonInterHU: {
        if (!cut || fx)
            return 0;
        const int k = (item - FlipH) % 3;
        const uint8_t h = k != 1, u = k != 0;
        const int family = (item - FlipH) / 3;
        Bracket3(*this, [&] {
            switch (family) {
            case 0: op_Flip(h, u, 1, 1); break;
            case 1: op_RandFlip(h, u, 1, 1); break;
            case 2: op_Interleaved(h, u, 1, 1); break;
            default: op_NonInterleaved(h, u, 1, 1); break;
            }
        });
        return 1;
    }
    case Copy:
        if (fx)
            return 0;
        if (cut)
            op_CopyKnife(kNone, 0, 0);
        else if (pm)
            pm->pmop_CopyAdjustments(CMainPieceMap::kNone);
        return 1;
    case Paste:
        if (fx)
            return 0;
        if (cut) {
            uncm_SaveState(CMUNDO_LAYOUT, CMSUB_PASTE);
            op_PasteKnife(nullptr);
        } else {
            PieceBracket(pm, [](CMainPieceMap& p) { p.pmop_PasteAdjustments(CMainPieceMap::kNone); });
        }
        return 1;
    case ResetFX:
        if (cut || fx)
            return 0;
        PieceBracket(pm, [](CMainPieceMap& p) { p.pmop_ResetAdjustments(); });
        return 1;
    case KAdd: case KDeselect: case KFlipH: case KFlipU: case KFlipHU:
        Bracket3(*this, [&] {
            switch (item) {
            case KAdd: op_SetSelToKnives(1, 0, 0, &m_MenuKnives, 1, 1, 1); break;
            case KDeselect: op_SetSelToKnives(1, 0, 0, &m_MenuKnives, 1, 0, 1); break;
            case KFlipH: op_SetSelToKnives(1, 1, 0, &m_MenuKnives, 1, 0, 1); break;
            case KFlipU: op_SetSelToKnives(1, 1, 1, &m_MenuKnives, 1, 0, 1); break;
            default:
                op_SetSelToKnives(1, 1, 0, &m_MenuKnives, 1, 0, 1);
                op_SetSelToKnives(1, 1, 1, &m_MenuKnives, 1, 0, 1);
                break;
            }
        });
        return 1;
    case KOn:
    case KOff:
        Bracket3(*this, [&] { op_ShowHideListOfKnives(item == KOn, &m_MenuKnives, 1); });
        return 1;
    case KResetKnot:
        if (m_MenuKnot < m_nKnots) {
            uncm_PreSave(CMUNDO_KNOTS);
            m_Knots[m_MenuKnot].dx = m_Knots[m_MenuKnot].dy = 0.0f;
            i_in_FullRedraw();
            uncm_SaveState(CMUNDO_KNOTS, CMSUB_NONE);
        }
        return 1;
    case KCopy:
        if (m_MenuKnives.GetSize()) {
            const uint32_t id = m_MenuKnives[0];
            if (id >= kAuxKnifeId)
                op_CopyKnife(id - kAuxKnifeId, 0, 1);
            else if (id >= kRowKnifeId)
                op_CopyKnife(id - kRowKnifeId, 0, 0);
            else
                op_CopyKnife(id, 1, 0);
        }
        return 1;
    case KPaste:
        uncm_SaveState(CMUNDO_LAYOUT, CMSUB_PASTE);
        op_PasteKnife(&m_MenuKnives);
        return 1;
    case KDelete:
        if (!cut || fx)
            return 0;
        uncm_SaveState(CMUNDO_LAYOUT, CMSUB_DELKNIVES);
        op_DelAuxKnives(0, &m_MenuKnives, 0, 1);
        return 1;
    case PAdd:
    case PDeselect:
    case PShow:
    case PHide:
    case PPaste:
        PieceBracket(pm, [&](CMainPieceMap& p) {
            // The piece the menu was opened on.
            const uint32_t piece = m_MenuPiece;
            if (piece == CMainPieceMap::kNone)
                return;
            if (item == PAdd || item == PDeselect)
                p.pmop_Sel_SetSelectionToPiece(piece, item == PAdd, item == PDeselect, 1);
            else if (item == PPaste)
                p.pmop_PasteAdjustments(piece);
            else
                p.pmop_ShowHidePiece(piece, item == PShow, 1);
        });
        return 1;
    case PCopy:
        if (pm && m_MenuPiece != CMainPieceMap::kNone)
            pm->pmop_CopyAdjustments(m_MenuPiece);
        return 1;
    case AddExtra:
    case DelExtra:
        if (!cut || fx)
            return 0;
        return OnButton(item == AddExtra ? "Main_AddKnives" : "Main_DelKnives");
    case Equalize:
        if (cut)
            op_EqualizeKnobs(1, 1);
        return 1;
    default: break;
    }
    if (const unsigned long sc = ShortcutOfEffectItem(item))
        return OnShortcut(sc);
    if (const int bit = SwitchBitOfItem(item); bit >= 0) {
        if (fx)
            return 0;
        PieceBracket(pm, [&](CMainPieceMap& p) { p.pmfx_SwitchFX(uint8_t(bit), 0, 1); });
        return 1;
    }
    return 1;
}

void CWnd_Main::DoPreviewMenu(qntPOS p)
{
    const qntMENUSTATE s = GetMenuState();
    const bool at = !(p.x == qnNullPOS.x && p.y == qnNullPOS.y);
    if (at && m_bCutMode) {
        m_MenuKnives.Empty();
        const long px = p.x - m_rcPreview.left, py = p.y - m_rcPreview.top;
        spl_GetKnifeByXY(px, py, &m_MenuKnives);
        qntKNIFEMENUSTATE k;
        k.knives = m_MenuKnives.GetSize();
        for (uint32_t i = 0; i < k.knives; ++i) {
            const KNIFESTRUCT* knife = GetKnifeById(m_MenuKnives[i]);
            if (!knife)
                continue;
            (knife->off ? k.someOff : k.someOn) = 1;
            (knife->selected ? k.someSelected : k.someUnselected) = 1;
            if (m_MenuKnives[i] >= kAuxKnifeId)
                k.someExtra = 1;
        }
        k.knifeCopied = !m_bClipboardEmpty;
        m_MenuKnot = kNone;
        for (uint32_t i = 0; i < m_nKnotMarkers; ++i) {
            const KNOTMARKER& m = m_KnotMarkers[i];
            if (px >= m.rect.left && px < m.rect.right && py >= m.rect.top && py < m.rect.bottom) {
                const bool selected = (m_nSelKnots >= 1 && m.knot == m_SelKnot1) ||
                                      (m_nSelKnots >= 2 && m.knot == m_SelKnot2);
                if (!selected && m.knot < m_nKnots) {
                    m_MenuKnot = m.knot;
                    k.knot = 1;
                    k.knotAtOrigin = m_Knots[m.knot].dx == 0.0f && m_Knots[m.knot].dy == 0.0f;
                }
                break;
            }
        }
        const qntMENU menu = qnKnivesMenu(k);
        if (!menu.empty()) {
            qnShowMenu(menu, this, short(p.x), short(p.y));
            return;
        }
    } else if (at && !m_bFXMode && m_pPieceMap) {
        const qntPOS ip =
            m_Preview.GetImageCoorsByPreviewCoors(qntPOS{p.x - m_rcPreview.left, p.y - m_rcPreview.top});
        const uint32_t piece = m_pPieceMap->GetPieceByXY(ip.x, ip.y);
        m_nHoverPiece = piece == CMainPieceMap::kNone ? -1 : int64_t(piece);
        m_Gesture.hoverImagePoint = ip;
        if (piece != CMainPieceMap::kNone && piece < m_pPieceMap->GetPieceCount()) {
            qntMENUSTATE ps = s;
            ps.fxWord = m_pPieceMap->i_pmfx_GetFXOnSelection(piece);
            m_MenuPiece = piece;
            m_pPieceMap->SetMenuContext(piece, ps.fxWord);
            qnShowMenu(qnPieceMenu(ps, m_pPieceMap->IsPieceSelected(piece), m_pPieceMap->IsPieceHidden(piece)),
                       this, short(p.x), short(p.y));
            return;
        }
        m_MenuPiece = CMainPieceMap::kNone;
        m_pPieceMap->SetMenuContext(CMainPieceMap::kNone, s.fxWord);
    }
    if (at)
        qnShowMenu(qnGeneralViewMenu(s), this, short(p.x), short(p.y));
    else
        qnShowMenu(qnGeneralViewMenu(s), this, kViewMenuX, kViewMenuY);
}

unsigned char CWnd_Main::OnContextMenu(short x, short y, unsigned char)
{
    for (const char* ruler : {"Main_RulerTop", "Main_RulerLeft"}) {
        if (CQNF_Control* c = FindControl(ruler, qnctl::Ruler); c && c->PtAboveControl(x, y)) {
            DoMesurementMenu(qntPOS{x, y});
            return 1;
        }
    }
    auto in = [x, y](const qntRECT_s& r) { return x >= r.left && x < r.right && y >= r.top && y < r.bottom; };
    if (in(m_rcPreview)) {
        DoPreviewMenu(qntPOS{x, y});
        return 1;
    }
    if (!m_bCutMode)
        return 0;
    for (int rows = 0; rows < 2; ++rows) {
        const qntRECT_s& r = rows ? m_rcVSplitRuler : m_rcHSplitRuler;
        if (!in(r))
            continue;
        const uint16_t n = rows ? m_nRowHandles : m_nColHandles;
        const qntPOS* h = rows ? m_RowHandles : m_ColHandles;
        const uint16_t* sp = rows ? m_RowHandleSplitter : m_ColHandleSplitter;
        m_bRulerRows = uint8_t(rows);
        for (uint16_t i = 0; i < n; ++i) {
            const int32_t hx = r.left + h[i].x, hy = r.top + h[i].y;
            if (x >= hx - 3 && x < hx + 3 && y >= hy - 3 && y < hy + 3) {
                m_RulerSplitter = sp[i];
                qnShowMenu(qnRulerHandleMenu(), this, x, y);
                return 1;
            }
        }
        m_RulerPoint = qntPOS{x, y};
        const uint16_t splitters = rows ? m_nRowSplitters : m_nColSplitters;
        qnShowMenu(qnRulerInsertMenu(splitters > 0, op_TestAllowRCInsertion(!rows, x, y)), this, x, y);
        return 1;
    }
    return 0;
}

void CWnd_Main::DoMesurementMenu(qntPOS p)
{
    if (p.x == qnNullPOS.x && p.y == qnNullPOS.y)
        p = qntPOS{0, 0};
    qnShowMenu(qnUnitsMenu(m_nUnits), this, short(p.x), short(p.y));
}
