// The main window's pop-up menu choices (message 304) and the menus it opens:
// the main, selection and adjustment menus, the preview's menu and the
// measurement units' menu. Effects mode refuses every choice that would
// change the layout, the pieces or the run, as the other commands do
// (MainCommands.cpp).
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
#include <utility>

namespace {

using namespace maincmd;
using namespace qnmenu;

// Where the preview's menu opens, in window coordinates.
constexpr short kViewMenuX = 32, kViewMenuY = 59;

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

}  // namespace

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
        const int64_t hover = i_in_PieceAt(ip);
        const uint32_t piece = hover < 0 ? CMainPieceMap::kNone : uint32_t(hover);
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
    // The rulers and the covers at their ends, whose tips offer the units.
    const std::pair<const char*, uint8_t> units[] = {{"Main_RulerTop", qnctl::Ruler},
                                                     {"Main_RulerLeft", qnctl::Ruler},
                                                     {"Main_RulerCover_Top", qnctl::StaticImage},
                                                     {"Main_RulerCover_Left", qnctl::StaticImage}};
    for (const auto& [name, type] : units) {
        if (CQNF_Control* c = FindControl(name, type); c && c->PtAboveControl(x, y)) {
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
