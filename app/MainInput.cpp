// Direct manipulation in the main window's preview: presses, drags and
// releases over the split rulers, the knot markers, the knives and the
// pieces; the cursor; the status-tip zones; the keys and characters.
//
// Command and Shift come with the event; Option and Space are read from the
// keyboard state, as the toolkit delivers them. Every change of the cut map is
// one undo step; during a drag only the affected lines are redrawn and the
// full redraw waits for the release.
#include "app/App.h"
#include "app/StatusTips.h"
#include "app/Wnd_Main.h"
#include "ui/Control.h"
#include "ui/CtrlStatic.h"
#include "ui/KeyCodes.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

using plat::mods::Command;
using plat::mods::Option;
using plat::mods::Shift;

bool In(const qntRECT_s& r, int32_t x, int32_t y) { return x >= r.left && x < r.right && y >= r.top && y < r.bottom; }

// The press hit box of a handle (hx, hy) of a ruler at (left, top).
bool OnHandle(bool rows, const qntRECT_s& ruler, qntPOS h, int32_t x, int32_t y)
{
    const int32_t hx = ruler.left + h.x, hy = ruler.top + h.y;
    if (!rows)
        return x >= hx - 2 && x < hx + 4 && y >= hy - 2 && y < hy + 5;
    return x >= hx - 2 && x < hx + 5 && y >= hy - 2 && y < hy + 4;
}

// The status zone of the status line, fixed with the window's layout.
bool InStatusZone(int32_t x, int32_t y) { return x >= 10 && x <= 720 && y >= 604 && y <= 644; }

uint32_t Pack(int32_t x, int32_t y) { return (uint32_t(uint16_t(x)) << 16) | uint16_t(y); }

}  // namespace

float qnClampSplitter(const float* positions, uint16_t n, uint16_t s, double f, double step)
{
    const double lower = s > 0 ? positions[s - 1] + step : 0.0;
    const double upper = s + 1 < n ? positions[s + 1] - step : 1.0;
    // Neighbours closer than two steps: the splitter stays between them.
    if (lower > upper)
        return static_cast<float>((lower + upper) / 2.0);
    return static_cast<float>(std::max(lower, std::min(f, upper)));
}

float qnKnotOffset(double d, double spanBefore, double spanAfter)
{
    const double span = d >= 0 ? spanAfter : spanBefore;
    if (span < 0.0001)
        return 0.0f;
    return static_cast<float>(std::clamp(d / span, -1.0, 1.0));
}

// ---- Redraws -----------------------------------------------------------------

void CWnd_Main::i_in_FullRedraw() { i_FullRedraw(); }

void CWnd_Main::i_in_Refresh() { view_RenderAndUpdate(m_rcPreview); }

void CWnd_Main::spl_DoRedrawOnKnotMoving(uint8_t update)
{
    const qntRECT_s& view = m_SplitViewRect;
    if (!m_OverlayLayer.GetImageWidth() || qnIsNullRect(view) || view.right <= view.left || view.bottom <= view.top)
        return;
    m_OverlayLayer.Set(qntRGBA8{0, 0, 0, 0}, 8, view);
    m_Drawing.SetClipRect(view);
    const qntGESTURE& g = m_Gesture;
    const uint32_t* nk = g.neighbourKnives;
    if (nk[0] < m_nColKnives)
        i_spl_DrawKnife(&m_ColKnives[nk[0]], g.neighbourPos[0], g.knotPos);
    if (nk[1] < m_nColKnives)
        i_spl_DrawKnife(&m_ColKnives[nk[1]], g.knotPos, g.neighbourPos[1]);
    if (nk[2] < m_nRowKnives)
        i_spl_DrawKnife(&m_RowKnives[nk[2]], g.neighbourPos[2], g.knotPos);
    if (nk[3] < m_nRowKnives)
        i_spl_DrawKnife(&m_RowKnives[nk[3]], g.knotPos, g.neighbourPos[3]);
    for (const qntGESTURE::AUX& a : g.aux) {
        if (a.index >= m_nAuxKnives)
            continue;
        if (a.isA)
            i_spl_DrawKnife(&m_AuxKnives[a.index].knife, g.knotPos, a.other);
        else
            i_spl_DrawKnife(&m_AuxKnives[a.index].knife, a.other, g.knotPos);
    }
    if (update)
        view_RenderAndUpdate(qntRECT_s{view.left + m_rcPreview.left, view.top + m_rcPreview.top,
                                       view.right + m_rcPreview.left, view.bottom + m_rcPreview.top});
}

// ---- Press ---------------------------------------------------------------------

void CWnd_Main::i_in_StartKnotDrag(uint32_t k)
{
    qntGESTURE& g = m_Gesture;
    uncm_PreSave(CMUNDO_KNOTS);
    g.knotDrag = 1;
    g.knotMoved = 0;
    g.dragKnot = k;
    std::fill(std::begin(g.neighbourKnives), std::end(g.neighbourKnives), qntGESTURE::kNone);
    const uint32_t KC = m_nKnotCols, KR = m_nKnotRows, C = m_nColSplitters;
    const uint32_t r = k / KC, c = k % KC;
    g.knotPos = m_Knots[k].pos;
    if (r > 0)
        g.neighbourPos[0] = m_Knots[k - KC].pos;
    if (r + 1 < KR)
        g.neighbourPos[1] = m_Knots[k + KC].pos;
    if (c > 0)
        g.neighbourPos[2] = m_Knots[k - 1].pos;
    if (c + 1 < KC)
        g.neighbourPos[3] = m_Knots[k + 1].pos;
    if (r > 0 && r + 1 < KR) {
        if (c > 0)
            g.neighbourKnives[2] = (r - 1) * (C + 1) + c - 1;
        if (c + 1 < KC)
            g.neighbourKnives[3] = (r - 1) * (C + 1) + c;
    }
    if (c > 0 && c + 1 < KC) {
        if (r > 0)
            g.neighbourKnives[0] = (r - 1) * C + c - 1;
        if (r + 1 < KR)
            g.neighbourKnives[1] = r * C + c - 1;
    }
    g.aux.clear();
    for (uint32_t i = 0; i < m_nAuxKnives; ++i) {
        AUXKNIFESTRUCT& a = m_AuxKnives[i];
        a.knife.moving = 0;
        if ((a.knotA == k || a.knotB == k) && g.aux.size() < qntGESTURE::kMaxAux && a.knotA < m_nKnots &&
            a.knotB < m_nKnots) {
            const uint8_t isA = a.knotA == k;
            g.aux.push_back(qntGESTURE::AUX{m_Knots[isA ? a.knotB : a.knotA].pos, isA, i});
            a.knife.moving = 1;
        }
    }
    for (uint32_t i = 0; i < m_nColKnives; ++i)
        m_ColKnives[i].moving = i == g.neighbourKnives[0] || i == g.neighbourKnives[1];
    for (uint32_t i = 0; i < m_nRowKnives; ++i)
        m_RowKnives[i].moving = i == g.neighbourKnives[2] || i == g.neighbourKnives[3];
    m_bKnotDragging = 1;
    spl_DoRedrawSplitting(m_SplitViewRect, m_SplitImageRect, 0);
    m_OverlayLayer.Set(qntRGBA8{0, 0, 0, 0}, 8, qnNullRect);
    spl_DoRedrawOnKnotMoving(0);
    i_in_Refresh();
}

bool CWnd_Main::i_in_PressCut(short x, short y, bool cmd, bool shift, bool option)
{
    qntGESTURE& g = m_Gesture;
    for (int rows = 0; rows < 2; ++rows) {
        const qntRECT_s& ruler = rows ? m_rcVSplitRuler : m_rcHSplitRuler;
        const uint16_t n = rows ? m_nRowHandles : m_nColHandles;
        const qntPOS* h = rows ? m_RowHandles : m_ColHandles;
        const uint16_t* sp = rows ? m_RowHandleSplitter : m_ColHandleSplitter;
        const uint8_t column = !rows;
        for (uint16_t i = 0; i < n; ++i) {
            if (!OnHandle(rows, ruler, h[i], x, y))
                continue;
            const uint16_t s = sp[i];
            if (cmd && option) {
                uncm_SaveState(CMUNDO_LAYOUT, CMSUB_SPLITTERS);
                op_DeleteRC(column, s);
            } else if (cmd || shift || option) {
                const uint8_t add = cmd || shift;
                uncm_PreSave(CMUNDO_KNIFEFLAGS);
                op_AddRemoveRowColumnToSelection(s, uint8_t(rows), add, 1);
                uncm_SaveState(CMUNDO_KNIFEFLAGS, CMSUB_NONE);
            } else {
                uncm_PreSave(CMUNDO_SPLITTERS);
                g.splitterDrag = 1;
                g.dragRowSplitter = uint8_t(rows);
                g.dragSplitter = s;
                g.dragGrab = int16_t(rows ? y - h[i].y : x - h[i].x);
                UpdateInfoPanel(qnNullPOS, 1);
            }
            return true;
        }
        if (cmd && shift && In(ruler, x, y)) {
            uncm_SaveState(CMUNDO_LAYOUT, CMSUB_SPLITTERS);
            op_InsertRC(column, x, y);
            return true;
        }
    }
    const int32_t px = x - m_rcPreview.left, py = y - m_rcPreview.top;
    if (m_bCMExtras) {
        for (uint32_t i = 0; i < m_nKnotMarkers; ++i) {
            const KNOTMARKER& m = m_KnotMarkers[i];
            if (px < m.rect.left || px > m.rect.right || py < m.rect.top || py > m.rect.bottom || m.knot >= m_nKnots)
                continue;
            const uint32_t k = m.knot;
            if (cmd) {
                uncm_PreSave(CMUNDO_KNOTS);
                m_Knots[k].dx = m_Knots[k].dy = 0.0f;
                i_in_FullRedraw();
                uncm_SaveState(CMUNDO_KNOTS, CMSUB_NONE);
            } else if (shift || m.fixed) {
                i_cmop_KnotClickToSelect(k);
                i_in_FullRedraw();
            } else {
                i_in_StartKnotDrag(k);
            }
            return true;
        }
    }
    if (!In(m_rcPreview, x, y) || (GetKeysStatus() & plat::mods::Space) || m_Preview.IsInPanningMode())
        return false;
    CQNF_DWordArray list;
    spl_GetKnifeByXY(px, py, &list);
    if (list.GetSize()) {
        uncm_PreSave(CMUNDO_KNIFEFLAGS);
        op_SetSelToKnives(cmd, shift, option, &list, 0, 0, 1);
        uncm_SaveState(CMUNDO_KNIFEFLAGS, CMSUB_NONE);
    } else if (!cmd && !shift && !option) {
        uncm_PreSave(CMUNDO_KNIFEFLAGS);
        op_SetSelToAllKnives(0, 1, 1, 1, 1);
        m_Anchor = ANCHOR{};
        uncm_SaveState(CMUNDO_KNIFEFLAGS, CMSUB_NONE);
    }
    return true;
}

int64_t CWnd_Main::i_in_PieceAt(qntPOS ip)
{
    if (ip.x != m_Gesture.hoverImagePoint.x || ip.y != m_Gesture.hoverImagePoint.y) {
        m_Gesture.hoverImagePoint = ip;
        const uint32_t p = m_pPieceMap ? m_pPieceMap->GetPieceByXY(ip.x, ip.y) : CMainPieceMap::kNone;
        m_nHoverPiece = p == CMainPieceMap::kNone ? -1 : int64_t(p);
    }
    return m_nHoverPiece;
}

void CWnd_Main::i_in_HoverLookup(short x, short y)
{
    i_in_PieceAt(m_Preview.GetImageCoorsByPreviewCoors(qntPOS{x - m_rcPreview.left, y - m_rcPreview.top}));
}

void CWnd_Main::i_in_PressPiece(short x, short y, bool cmd, bool shift, bool option)
{
    if ((GetKeysStatus() & plat::mods::Space) || !In(m_rcPreview, x, y) || m_bFXMode)
        return;
    qntGESTURE& g = m_Gesture;
    g.pieceMouseDown = 1;
    g.pressPoint = qntPOS{x, y};
    i_in_HoverLookup(x, y);
    CMainPieceMap* pm = m_pPieceMap;
    if (m_Preview.IsInPanningMode() || !pm)
        return;
    const uint32_t count = pm->GetPieceCount();
    const uint32_t p = m_nHoverPiece < 0 ? CMainPieceMap::kNone : uint32_t(m_nHoverPiece);
    const bool valid = p < count;
    auto bracket = [pm](auto f) {
        pm->unpm_PreSave();
        f();
        pm->unpm_SaveState(1);
    };
    if (!cmd && !shift && !option) {
        bracket([&] {
            if (valid) {
                pm->pmop_Sel_SetSelectionToPiece(p, 0, 0, 1);
                pm->SetAnchor(p);
            } else {
                pm->pmop_Sel_DeselectAllPieces(1);
            }
        });
    } else if (cmd && !shift && !option) {
        if (!valid)
            return;
        bracket([&] {
            const bool sel = pm->IsPieceSelected(p);
            pm->pmop_Sel_SetSelectionToPiece(p, !sel, sel, 1);
            if (!sel)
                pm->SetAnchor(p);
        });
    } else if (shift && !cmd) {
        // The knife lines piece (index 0 when the cut kept them) joins no block.
        const bool lines = pm->HasSplitterPiece();
        const uint32_t anchor = pm->GetAnchor();
        const bool hasAnchor = anchor != CMainPieceMap::kNone;
        if (hasAnchor && (!lines || (anchor != 0 && p != 0))) {
            if (valid)
                bracket([&] {
                    pm->pmop_Sel_PieceBlockSelection(!option, option, anchor, p, 1);
                    pm->SetAnchor(p);
                });
        } else if (lines && p == 0 && hasAnchor && anchor != 0) {
            // Nothing: the lines piece is not part of a block.
        } else if (valid) {
            bracket([&] {
                pm->pmop_Sel_SetSelectionToPiece(p, 1, 0, 1);
                pm->SetAnchor(p);
            });
        }
    }
}

unsigned char CWnd_Main::OnLMouseDown(short x, short y, unsigned char mods)
{
    if (!m_bCreated)
        return 0;
    const bool cmd = mods & Command, shift = mods & Shift, option = GetKeysStatus() & Option;
    if (m_bCutMode)
        return i_in_PressCut(x, y, cmd, shift, option) ? 1 : 0;
    i_in_PressPiece(x, y, cmd, shift, option);
    return 0;
}

// ---- Move ------------------------------------------------------------------------

void CWnd_Main::i_in_StatusTip(short x, short y)
{
    qntGESTURE& g = m_Gesture;
    const uint8_t mode = i_TipMode();
    if (m_bBadgeKeepsTip && m_underPointer == None) {
        // Off a mode badge to no control: the place's own tip now.
        if (i_IsModeBadge(ControlUnderPoint(x, y)))
            return;
        m_bBadgeKeepsTip = 0;
        OnAboveControl(None);
    }
    if (m_underPointer != None) {
        g.lastZone = 255;
        g.lastTipMode = mode;
        return;
    }
    uint8_t zone = 255;
    const char* name = "";
    if (InStatusZone(x, y)) {
        zone = 3;
        name = "Zone_Status";
    } else if (In(m_rcPreview, x, y)) {
        zone = 0;
        name = "Zone_Preview";
    } else if (In(m_rcHSplitRuler, x, y)) {
        zone = 1;
        name = "Zone_HSplitter";
    } else if (In(m_rcVSplitRuler, x, y)) {
        zone = 2;
        name = "Zone_VSplitter";
    }
    if (zone != g.lastZone || (zone == 0 && mode != g.lastTipMode)) {
        if (auto* app = dynamic_cast<CApp*>(m_App))
            UpdateStatus(app->GetStatusTip(name, "Main", mode, 255));
        g.lastZone = zone;
    }
    g.lastTipMode = mode;
}

void CWnd_Main::i_in_MoveSplitter(short x, short y)
{
    const qntGESTURE& g = m_Gesture;
    const bool rows = g.dragRowSplitter;
    const uint32_t size = rows ? m_nImageHeight : m_nImageWidth;
    const uint16_t n = rows ? m_nRowSplitters : m_nColSplitters;
    if (!size || g.dragSplitter >= n)
        return;
    const double step = 3.0 / size;
    const qntRECT_s& ruler = rows ? m_rcVSplitRuler : m_rcHSplitRuler;
    const int32_t low = rows ? m_rcPreview.top - ruler.top : m_rcPreview.left - ruler.left;
    const int32_t high = rows ? m_rcPreview.bottom - ruler.top - 1 : m_rcPreview.right - ruler.left - 1;
    const int32_t v = std::clamp<int32_t>((rows ? y : x) - g.dragGrab, low, std::max(low, high));
    const double offset = rows ? m_PreviewMap[2] : m_PreviewMap[0];
    const double scale = rows ? m_PreviewMap[3] : m_PreviewMap[1];
    if (!(scale > 0.0))
        return;
    float* pos = rows ? m_RowSplitters : m_ColSplitters;
    pos[g.dragSplitter] = qnClampSplitter(pos, n, g.dragSplitter, (v + offset) / scale, step);
    spl_DoRedrawBySimpleLines(m_nColSplitters, m_nRowSplitters, m_ColSplitters, m_RowSplitters, m_SplitViewRect,
                              m_SplitImageRect);
    spl_DoRedrawHVSplitRulers();
    i_in_Refresh();
    UpdateInfoPanel(qnNullPOS, 1);
}

void CWnd_Main::i_in_MoveKnot(short x, short y)
{
    qntGESTURE& g = m_Gesture;
    const uint32_t KC = m_nKnotCols, KR = m_nKnotRows;
    if (!KC || g.dragKnot >= m_nKnots)
        return;
    g.knotMoved = 1;
    const uint32_t k = g.dragKnot, r = k / KC, c = k % KC;
    KNOTSTRUCT& knot = m_Knots[k];
    // One axis: i is the knot's column (or row) among n, splitter i - 1 the
    // one it sits on; the offset is the fraction of the gap on the side the
    // pointer went to, and the drawn coordinate follows it.
    auto axis = [](uint32_t i, uint32_t n, const float* pos, double scale, double offset, int32_t pointer,
                   int32_t rulerLow, int32_t previewLow, float& out, double& drawn) {
        const double fs = pos[i - 1];
        const double at = fs * scale - offset;
        const double d = std::trunc(double(pointer - rulerLow) - at);
        const double next = i + 2 < n ? pos[i] : 1.0;
        const double prev = i > 1 ? pos[i - 2] : 0.0;
        const double after = (next - fs) * scale, before = (fs - prev) * scale;
        out = qnKnotOffset(d, before, after);
        const double span = d >= 0 ? after : before;
        drawn = at + (span < 0.0001 ? 0.0 : span * out) + (rulerLow - previewLow);
    };
    if (c > 0 && c + 1 < KC)
        axis(c, KC, m_ColSplitters, m_PreviewMap[1], m_PreviewMap[0], x, m_rcHSplitRuler.left, m_rcPreview.left,
             knot.dx, g.knotPos.x);
    if (r > 0 && r + 1 < KR)
        axis(r, KR, m_RowSplitters, m_PreviewMap[3], m_PreviewMap[2], y, m_rcVSplitRuler.top, m_rcPreview.top,
             knot.dy, g.knotPos.y);
    spl_DoRedrawOnKnotMoving(1);
}

unsigned char CWnd_Main::OnMouseMove(short x, short y, unsigned char mods)
{
    if (!m_bCreated)
        return 0;
    qntGESTURE& g = m_Gesture;
    i_in_StatusTip(x, y);
    if (g.splitterDrag) {
        i_in_MoveSplitter(x, y);
        return 1;
    }
    if (!m_Preview.PtInControl(x, y))
        UpdateInfoPanel(qnNullPOS, 1);
    if (g.knotDrag) {
        i_in_MoveKnot(x, y);
        return 0;
    }
    if (m_bCutMode || m_Preview.IsInPanningMode() || !m_pPieceMap)
        return 0;
    // The lasso's points stay on the preview, so no point wraps when packed.
    const int32_t pw = std::max(m_rcPreview.right - m_rcPreview.left, 1);
    const int32_t ph = std::max(m_rcPreview.bottom - m_rcPreview.top, 1);
    const int32_t lx = std::clamp<int32_t>(x - m_rcPreview.left, 0, pw - 1);
    const int32_t ly = std::clamp<int32_t>(y - m_rcPreview.top, 0, ph - 1);
    if (g.dragSelection) {
        if (!g.rectangleDrag)
            g.lasso.push_back(Pack(lx, ly));
        m_pPieceMap->i_pmop_RedrawDragSelection(g.pressPoint, qntPOS{x, y}, g.rectangleDrag, g.lasso);
        OnSetCursor(x, y);
        return 0;
    }
    if (!g.pieceMouseDown)
        return 0;
    if (std::abs(x - g.pressPoint.x) <= 5 && std::abs(y - g.pressPoint.y) <= 5)
        return 0;
    const bool cmd = mods & Command, shift = mods & Shift, option = GetKeysStatus() & Option;
    if (!cmd) {
        g.rectangleDrag = 1;
    } else if (shift || option) {
        g.rectangleDrag = 0;
        g.lasso.clear();
        g.lasso.push_back(Pack(std::clamp<int32_t>(g.pressPoint.x - m_rcPreview.left, 0, pw - 1),
                               std::clamp<int32_t>(g.pressPoint.y - m_rcPreview.top, 0, ph - 1)));
        g.lasso.push_back(Pack(lx, ly));
    } else {
        return 0;
    }
    m_pPieceMap->i_pmop_PrepareSelLayer();
    g.dragSelection = 1;
    m_pPieceMap->i_pmop_RedrawDragSelection(g.pressPoint, qntPOS{x, y}, g.rectangleDrag, g.lasso);
    return 0;
}

// ---- Release -----------------------------------------------------------------------

unsigned char CWnd_Main::OnLMouseUp(short x, short y, unsigned char)
{
    qntGESTURE& g = m_Gesture;
    const bool option = GetKeysStatus() & Option;
    if (g.splitterDrag) {
        g.splitterDrag = 0;
        i_in_FullRedraw();
        uncm_SaveState(CMUNDO_SPLITTERS, CMSUB_NONE);
        return 1;
    }
    if (g.knotDrag) {
        g.knotDrag = 0;
        m_bKnotDragging = 0;
        for (int i = 0; i < 4; ++i) {
            const uint32_t n = g.neighbourKnives[i];
            if (i < 2 && n < m_nColKnives)
                m_ColKnives[n].moving = 0;
            else if (i >= 2 && n < m_nRowKnives)
                m_RowKnives[n].moving = 0;
            g.neighbourKnives[i] = qntGESTURE::kNone;
        }
        for (const qntGESTURE::AUX& a : g.aux)
            if (a.index < m_nAuxKnives)
                m_AuxKnives[a.index].knife.moving = 0;
        g.aux.clear();
        if (!g.knotMoved) {
            i_cmop_KnotClickToSelect(g.dragKnot);
            OnChangeSelectedKnots();
        }
        i_in_FullRedraw();
        uncm_SaveState(CMUNDO_KNOTS, CMSUB_NONE);
        return 1;
    }
    g.pieceMouseDown = 0;
    if (!g.dragSelection)
        return 0;
    CMainPieceMap* pm = m_pPieceMap;
    if (pm) {
        if (g.rectangleDrag) {
            const qntRECT_s drag{std::min<int32_t>(x, g.pressPoint.x), std::min<int32_t>(y, g.pressPoint.y),
                                 std::max<int32_t>(x, g.pressPoint.x) + 1, std::max<int32_t>(y, g.pressPoint.y) + 1};
            const qntRECT_s r{std::max(drag.left, m_rcPreview.left), std::max(drag.top, m_rcPreview.top),
                              std::min(drag.right, m_rcPreview.right), std::min(drag.bottom, m_rcPreview.bottom)};
            if (r.right > r.left && r.bottom > r.top) {
                pm->unpm_PreSave();
                pm->pmop_Sel_SelectRectLocal(qntRECT_s{r.left - m_rcPreview.left, r.top - m_rcPreview.top,
                                                       r.right - m_rcPreview.left, r.bottom - m_rcPreview.top},
                                             !option, option, 1);
                pm->unpm_SaveState(1);
            }
        } else {
            pm->unpm_PreSave();
            pm->pmop_Sel_SelectFreeRgnLocal(g.lasso, !option, option, 1);
            pm->unpm_SaveState(1);
        }
        pm->i_pmop_HideDragSelection();
    }
    g.dragSelection = 0;
    g.lasso.clear();
    i_in_Refresh();
    return 0;
}

// ---- Cursor ---------------------------------------------------------------------------

int32_t CWnd_Main::i_in_Cursor(short x, short y)
{
    using namespace qncursor;
    const qntGESTURE& g = m_Gesture;
    const uint32_t keys = GetKeysStatus();
    const bool cmd = keys & Command, shift = keys & Shift, option = keys & Option;
    if (m_bCutMode && g.splitterDrag)
        return g.dragRowSplitter ? DragRow : DragColumn;
    if (m_bCutMode) {
        for (int rows = 0; rows < 2; ++rows) {
            const qntRECT_s& ruler = rows ? m_rcVSplitRuler : m_rcHSplitRuler;
            // The ruler's far edge counts as inside.
            if (x < ruler.left || x > ruler.right || y < ruler.top || y > ruler.bottom)
                continue;
            const uint16_t n = rows ? m_nRowHandles : m_nColHandles;
            const qntPOS* h = rows ? m_RowHandles : m_ColHandles;
            for (uint16_t i = 0; i < n; ++i) {
                if (!OnHandle(rows, ruler, h[i], x, y))
                    continue;
                if (!cmd && !shift)
                    return option ? Arrow : (rows ? DragRow : DragColumn);
                if (cmd && option)
                    return DeleteSplitter;
                return Arrow;
            }
            if (cmd && shift && op_TestAllowRCInsertion(!rows, x, y))
                return InsertSplitter;
            return Arrow;
        }
    }
    const bool panning = m_Preview.IsInPanningMode();
    if (!In(m_Preview.GetRenderRect(), x, y) && !panning) {
        CQNF_Control* nav = FindControl("Main_Navigator", qnctl::StaticImage);
        if (nav && In(nav->GetRenderRect(), x, y))
            return Navigator;
        return -1;
    }
    if (((keys & plat::mods::Space) || panning) && !g.dragSelection) {
        if (option)
            return ZoomOut;
        if (cmd)
            return ZoomIn;
        auto enabled = [this](const char* a, const char* b) {
            CQNF_Control* c = FindControl(a, qnctl::ScrollBar);
            if (!c)
                c = FindControl(b, qnctl::ScrollBar);
            return c && c->IsEnabled();
        };
        const bool h = enabled("Main_ScrollH_MAC", "Main_ScrollH_NR");
        const bool v = enabled("Main_ScrollV_MAC", "Main_ScrollV_NR");
        return h && v ? PanBoth : v ? PanVertical : h ? PanHorizontal : PanNone;
    }
    if (m_bCutMode || !m_pPieceMap)
        return Arrow;
    i_in_HoverLookup(x, y);
    if (m_nHoverPiece < 0)
        return NoPiece;
    const uint32_t p = uint32_t(m_nHoverPiece);
    if (p >= m_pPieceMap->GetPieceCount())
        return Arrow;
    if (m_pPieceMap->IsPieceHidden(p))
        return HiddenPiece;
    if (m_pPieceMap->GetPieceOpacity(p) != 255)
        return TransparentPiece;
    return Arrow;
}

unsigned char CWnd_Main::OnSetCursor(short x, short y)
{
    if (!m_bCreated)
        return CQNF_Window::OnSetCursor(x, y);
    const int32_t id = i_in_Cursor(x, y);
    if (id < 0)
        return CQNF_Window::OnSetCursor(x, y);
    SetCursorByID(id);
    return 1;
}

// ---- Keys -------------------------------------------------------------------------------

unsigned char CWnd_Main::OnKeyDown(unsigned char key, unsigned char)
{
    if (m_bFXMode || !m_bCreated)
        return 0;
    qntGESTURE& g = m_Gesture;
    CMainPieceMap* pm = m_pPieceMap;
    switch (key) {
    case qnkey::Backspace:
    case qnkey::Delete: {
        const uint8_t show = key == qnkey::Backspace;
        if (m_bCutMode) {
            uncm_PreSave(CMUNDO_KNIFEFLAGS);
            op_ShowHideSelectedKnives(show, 1);
            uncm_SaveState(CMUNDO_KNIFEFLAGS, CMSUB_NONE);
        } else if (pm) {
            pm->unpm_PreSave();
            pm->pmop_ShowHideSelectedPieces(show, 1);
            pm->unpm_SaveState(1);
        }
        return 1;
    }
    case qnkey::Escape:
        if (m_bCutMode) {
            if (m_nSelKnots) {
                --m_nSelKnots;
                i_in_FullRedraw();
                OnChangeSelectedKnots();
            }
        } else if (g.dragSelection) {
            // The drag ends without touching the selection.
            g.pieceMouseDown = 0;
            g.dragSelection = 0;
            g.lasso.clear();
            if (pm)
                pm->i_pmop_HideDragSelection();
            i_in_Refresh();
        }
        return 1;
    default: return 0;
    }
}

unsigned char CWnd_Main::OnKeyChar(unsigned char ch, unsigned char)
{
    if (!m_bCutMode || !m_bCreated)
        return 0;
    // A character typed into an edit line is the line's, not a command.
    if (CQNF_Control* f = GetControl(GetFocusedControl()); f && f->GetType() == qnctl::EditLine)
        return 0;
    const char* name = nullptr;
    if (ch == '+' || ch == '=')
        name = "Main_AddKnives";
    else if (ch == '-' || ch == '_')
        name = "Main_DelKnives";
    if (!name)
        return 0;
    const unsigned long id = FindControlId(name, qnctl::Button);
    CQNF_Control* c = GetControl(id);
    if (!c || !c->IsEnabled())
        return 0;
    char text[16];
    std::snprintf(text, sizeof(text), "%s", name);
    return OnCtrlMessage(0, id, text, qnctl::Button, nullptr);
}
