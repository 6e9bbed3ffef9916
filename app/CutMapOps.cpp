// Editing operations on the cut map, part one: the helpers the operations
// share, knot randomness and selection, knife selection, and on and off.
// Flips, knob sizes, copy and paste and extra knives are in
// CutMapOpsShape.cpp; splitters and the knife editor's updates in
// CutMapOpsGrid.cpp.
#include "app/MainModel.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>

using namespace cutflag;

void CWnd_MainModel::i_CutterMutation(float& s, float& h, float& u) const
{
    s = h = u = 0.0f;
    if (m_pCutter)
        m_pCutter->GetMutation(s, h, u);
}

void CWnd_MainModel::i_KnivesTakeCutterShape()
{
    float s, h, u;
    i_CutterMutation(s, h, u);
    OnCutterUpdateShape(s, h, u, kAllNodes, kNoUndoStep);
    spl_DoRedrawHVSplitRulers();
    spl_OnKnifeSelChanged();
}

void CWnd_MainModel::i_FullRedraw()
{
    if (m_bClosing)
        return;
    spl_DoRedrawSplitting(m_SplitViewRect, m_SplitImageRect, kDamagedOnly);
    view_RenderAndUpdate(m_rcPreview);
}

// ---- Knots ------------------------------------------------------------------

void CWnd_MainModel::OnEditRandomKnots(const char* text)
{
    int v = text ? std::atoi(text) : 0;
    if (v > 99) {
        view_RandomKnotsControls(100, 0, false);
        m_fRndKnotsValue = 1.0f;
    } else {
        v = std::max(v, 0);
        view_RandomKnotsControls(uint32_t(v), 0, false);
        m_fRndKnotsValue = float(v) / 100.0f;
    }
}

void CWnd_MainModel::OnEditRandomKnotsLF(const char* text)
{
    const int v = std::clamp(text ? std::atoi(text) : 0, 0, 100);
    view_RandomKnotsControls(uint32_t(v), 1, true);
    m_fRndKnotsValue = float(v) / 100.0f;
    OnUpdateKnotRandomize(float(v) / 100.0f);
}

void CWnd_MainModel::OnSldrRandomKnots(uint32_t value, uint8_t tracking)
{
    value = std::min<uint32_t>(value, 100);
    view_RandomKnotsControls(value, 0, true);
    m_fRndKnotsValue = float(value) / 100.0f;
    if (!tracking)
        OnUpdateKnotRandomize(float(value) / 100.0f);
}

void CWnd_MainModel::OnUpdateKnotRandomize(float amount)
{
    if (!m_bCutMode || m_bClosing)
        return;
    // A value that is not a number counts as not 0.
    m_bCanRndKnots = !(m_fRndKnotsValue == 0.0f);
    view_ControlsChanged();
    uncm_PreSave(CMUNDO_KNOTS);
    m_KnotRandomness = std::isnan(amount) ? 0.0f : std::clamp(amount, 0.0f, 1.0f);
    spl_AutoFillKnots(kMarkedKnots);
    i_FullRedraw();
    uncm_SaveState(CMUNDO_KNOTS, CMSUB_NONE);
}

void CWnd_MainModel::i_cmop_KnotClickToSelect(uint32_t knot)
{
    if (m_nSelKnots == 0) {
        m_SelKnot1 = knot;
        m_nSelKnots = 1;
    } else if (m_nSelKnots == 1) {
        if (knot == m_SelKnot1) {
            m_nSelKnots = 0;
        } else if (i_cmop_IsPossibleKnotsForAuxKnife(m_SelKnot1, knot)) {
            m_SelKnot2 = knot;
            m_nSelKnots = 2;
        } else {
            m_SelKnot1 = knot;
        }
    } else {
        if (knot == m_SelKnot1) {
            m_SelKnot1 = m_SelKnot2;
            m_nSelKnots = 1;
        } else if (knot == m_SelKnot2) {
            m_nSelKnots = 1;
        } else {
            m_SelKnot1 = m_SelKnot2;
            if (i_cmop_IsPossibleKnotsForAuxKnife(m_SelKnot1, knot)) {
                m_SelKnot2 = knot;
                m_nSelKnots = 2;
            } else {
                m_SelKnot1 = knot;
                m_nSelKnots = 1;
            }
        }
    }
    OnChangeSelectedKnots();
}

void CWnd_MainModel::OnChangeSelectedKnots()
{
    if (!m_bCutMode)
        return;
    m_bCanAddKnives = m_nSelKnots == 2 && i_cmop_IsPossibleKnotsForAuxKnife(m_SelKnot1, m_SelKnot2);
    view_ControlsChanged();
}

// ---- Knife selection -------------------------------------------------------

void CWnd_MainModel::op_SetSelToKnives(uint8_t command, uint8_t shift, uint8_t option, const CQNF_DWordArray* ids,
                                       uint8_t noSend, uint8_t value, uint8_t redraw)
{
    if (!ids || ids->GetSize() == 0)
        return;
    if (!command && !shift && !option)
        i_ForEachKnife([](KNIFESTRUCT& k, uint32_t) { k.selected = 0; });

    for (uint32_t n = 0; n < ids->GetSize(); ++n) {
        const uint32_t id = (*ids)[n];
        KNIFESTRUCT* k = GetKnifeById(id);
        if (!k)
            continue;
        if (n == 0 && !noSend)
            op_SendKnifeToCutter(k);
        const uint8_t isAux = id >= kAuxKnifeId;
        const uint8_t isColumn = id < kRowKnifeId;
        const uint32_t index = isAux ? id - kAuxKnifeId : isColumn ? id : id - kRowKnifeId;
        const ANCHOR here{index, isColumn, isAux};
        const bool gridAnchor = m_Anchor.knife != kNone && !m_Anchor.isAux;

        if (!command && !shift && !option) {
            k->selected = 1;
            m_Anchor = here;
        } else if (command && !shift && !option) {
            m_Anchor = here;
            k->selected = noSend ? value : uint8_t(!k->selected);
        } else if (command && shift && !option) {
            k->flipH = !k->flipH;
        } else if (command && shift && option) {
            k->flipU = !k->flipU;
        } else if (shift && !option) {
            if (isAux)
                continue;
            if (gridAnchor)
                op_SetSelToKnivesBlock(kSelect, m_Anchor.knife, m_Anchor.isColumn, index, isColumn);
            else
                k->selected = 1;
            m_Anchor = here;
        } else if (shift && option) {
            if (gridAnchor && !isAux)
                op_SetSelToKnivesBlock(kDeselect, m_Anchor.knife, m_Anchor.isColumn, index, isColumn);
            else
                k->selected = 1;
            m_Anchor = here;
        }
    }
    spl_OnKnifeSelChanged();
    if (redraw)
        i_FullRedraw();
}

void CWnd_MainModel::op_SetSelToKnivesBlock(uint8_t value, uint32_t knifeA, uint8_t aIsColumn, uint32_t knifeB,
                                            uint8_t bIsColumn)
{
    const uint32_t C = m_nColSplitters, R = m_nRowSplitters;
    auto cell = [&](uint32_t k, uint8_t isColumn, int64_t& x, int64_t& y) {
        if (isColumn) {
            if (C == 0 || k >= m_nColKnives)
                return false;
            x = 2 * int64_t(k % C) + 1;
            y = 2 * int64_t(k / C);
        } else {
            if (k >= m_nRowKnives)
                return false;
            x = 2 * int64_t(k % (C + 1));
            y = 2 * int64_t(k / (C + 1)) + 1;
        }
        return true;
    };
    int64_t ax, ay, bx, by;
    if (cell(knifeA, aIsColumn, ax, ay) && cell(knifeB, bIsColumn, bx, by)) {
        for (int64_t y = std::min(ay, by); y <= std::max(ay, by); ++y)
            for (int64_t x = std::min(ax, bx); x <= std::max(ax, bx); ++x) {
                if ((x & 1) && !(y & 1)) {
                    const int64_t r = y / 2, c = (x - 1) / 2;
                    if (r <= R && c < C)
                        m_ColKnives[size_t(r * C + c)].selected = value;
                } else if (!(x & 1) && (y & 1)) {
                    const int64_t r = (y - 1) / 2, c = x / 2;
                    if (r < R && c <= C)
                        m_RowKnives[size_t(r * (C + 1) + c)].selected = value;
                }
            }
    }
    spl_OnKnifeSelChanged();
}

void CWnd_MainModel::op_SetSelToAllKnives(uint8_t value, uint8_t redraw, uint8_t columnKnives, uint8_t rowKnives,
                                          uint8_t extraKnives)
{
    i_ForEachKnife([&](KNIFESTRUCT& k, uint32_t id) {
        const bool take = id >= kAuxKnifeId ? extraKnives : id >= kRowKnifeId ? rowKnives : columnKnives;
        if (take)
            k.selected = value;
    });
    spl_OnKnifeSelChanged();
    if (redraw)
        i_FullRedraw();
}

void CWnd_MainModel::op_InvertSelToAllKnives(uint8_t redraw)
{
    i_ForEachKnife([](KNIFESTRUCT& k, uint32_t) { k.selected = !k.selected; });
    spl_OnKnifeSelChanged();
    if (redraw)
        i_FullRedraw();
}

void CWnd_MainModel::op_SetSelToHiddenOrShownKnives(uint8_t hidden, uint8_t redraw)
{
    i_ForEachKnife([&](KNIFESTRUCT& k, uint32_t) { k.selected = hidden ? uint8_t(k.off != 0) : uint8_t(!k.off); });
    spl_OnKnifeSelChanged();
    if (redraw)
        i_FullRedraw();
}

void CWnd_MainModel::op_AddRemoveRowColumnToSelection(uint16_t splitter, uint8_t row, uint8_t value, uint8_t redraw)
{
    const uint32_t C = m_nColSplitters, R = m_nRowSplitters;
    if (!row && splitter < C) {
        for (uint32_t r = 0; r <= R; ++r)
            m_ColKnives[r * C + splitter].selected = value;
    } else if (row && splitter < R) {
        for (uint32_t c = 0; c <= C; ++c)
            m_RowKnives[splitter * (C + 1) + c].selected = value;
    }
    spl_OnKnifeSelChanged();
    if (redraw)
        i_FullRedraw();
}

void CWnd_MainModel::op_SelRandom(uint8_t select, uint8_t redraw)
{
    std::vector<uint32_t> candidates;
    i_ForEachKnife([&](KNIFESTRUCT& k, uint32_t id) {
        if (uint8_t(k.selected != 0) != uint8_t(select != 0))
            candidates.push_back(id);
    });
    if (!candidates.empty()) {
        const uint32_t total = GetKnifeCount();
        const uint32_t count = uint32_t(candidates.size());
        const uint32_t m = std::min<uint32_t>(count, std::max<uint32_t>(1, total / 20));
        std::vector<uint8_t> used(count, 0);
        for (uint32_t n = 0; n < m; ++n) {
            // The product wraps in 32 bits, as the draw is defined.
            const uint32_t product = i_Rand() * i_Rand();
            const uint32_t start = product % count;
            uint32_t i = start;
            bool found = true;
            while (used[i]) {
                i = (i + 1) % count;
                if (i == start) {
                    found = false;
                    break;
                }
            }
            if (!found)
                break;
            GetKnifeById(candidates[i])->selected = select;
            used[i] = 1;
        }
    }
    spl_OnKnifeSelChanged();
    if (redraw)
        i_FullRedraw();
}

void CWnd_MainModel::spl_OnKnifeSelChanged()
{
    bool any = false, grid = false, aux = false;
    for (uint32_t i = 0; i < m_nColKnives && !grid; ++i)
        grid = m_ColKnives[i].selected;
    for (uint32_t i = 0; i < m_nRowKnives && !grid; ++i)
        grid = m_RowKnives[i].selected;
    for (uint32_t i = 0; i < m_nAuxKnives && !aux; ++i)
        aux = m_AuxKnives[i].knife.selected;
    any = grid || aux;
    m_bKnifeSelection = any;
    m_bAuxOnlySelection = !grid && aux;
    if (!any)
        m_Anchor = ANCHOR{};

    if (m_bCutMode) {
        m_bSelHasOn = m_bSelHasOff = m_bSelHasAux = 0;
        auto look = [&](const KNIFESTRUCT& k) {
            if (!i_Considered(k, true))
                return;
            if (k.off)
                m_bSelHasOff = 1;
            else
                m_bSelHasOn = 1;
        };
        for (uint32_t i = 0; i < m_nColKnives && !(m_bSelHasOn && m_bSelHasOff); ++i)
            look(m_ColKnives[i]);
        for (uint32_t i = 0; i < m_nRowKnives && !(m_bSelHasOn && m_bSelHasOff); ++i)
            look(m_RowKnives[i]);
        for (uint32_t i = 0; i < m_nAuxKnives; ++i) {
            const KNIFESTRUCT& k = m_AuxKnives[i].knife;
            if (!i_Considered(k, true))
                continue;
            m_bSelHasAux = 1;
            if (!(m_bSelHasOn && m_bSelHasOff))
                look(k);
        }
        if (IsCutterOpen())
            i_RefreshCutterSizes();
    }
    OnCMSelChanged();
}

void CWnd_MainModel::i_RefreshCutterSizes()
{
    uint8_t mixed = 0;
    const uint16_t knob = spl_DoGetKnobSize(kOnlySelected, mixed);
    m_pCutter->NotifiedByMain_NewKnobSize(knob, mixed);
    const uint16_t thickness = spl_DoGetKnifeThickness(kOnlySelected, mixed);
    m_pCutter->NotifiedByMain_NewThickness(thickness, mixed, m_bRazorCut);
}

void CWnd_MainModel::OnCMSelChanged()
{
    if (!m_bCutMode)
        return;
    m_bCmdDelKnives = m_bSelHasAux;
    m_bCmdShow = m_bSelHasOff;
    m_bCmdHide = m_bSelHasOn;
    view_ControlsChanged();
}

// ---- On and off ---------------------------------------------------------------

void CWnd_MainModel::op_ShowHideSelectedKnives(uint8_t show, uint8_t redraw)
{
    i_ForEachKnife([&](KNIFESTRUCT& k, uint32_t) {
        if (i_Considered(k, true))
            k.off = !show;
    });
    if (redraw) {
        i_FullRedraw();
        spl_OnKnifeSelChanged();
    }
}

void CWnd_MainModel::op_ShowHideListOfKnives(uint8_t show, const CQNF_DWordArray* ids, uint8_t redraw)
{
    if (!ids || ids->GetSize() == 0)
        return;
    for (uint32_t n = 0; n < ids->GetSize(); ++n)
        if (KNIFESTRUCT* k = GetKnifeById((*ids)[n]))
            k->off = !show;
    if (redraw)
        i_FullRedraw();
}

void CWnd_MainModel::op_ReverseShownHidden(uint8_t redraw)
{
    i_ForEachKnife([&](KNIFESTRUCT& k, uint32_t) {
        if (i_Considered(k, true))
            k.off = !k.off;
    });
    if (redraw) {
        i_FullRedraw();
        spl_OnKnifeSelChanged();
    }
}
