// Editing operations on the cut map: knot randomness and selection, knife
// selection, on and off, flips, knob equalising, copy and paste, extra
// knives, splitters, and the updates the knife editor sends.
#include "app/MainModel.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

void MutationOf(const CCutterLink* cutter, float& s, float& h, float& u)
{
    s = h = u = 0.0f;
    if (cutter)
        cutter->GetMutation(s, h, u);
}

}  // namespace

void CWnd_MainModel::i_FullRedraw()
{
    if (m_bClosing)
        return;
    spl_DoRedrawSplitting(m_SplitViewRect, m_SplitImageRect, 0);
    view_RenderAndUpdate(m_rcPreview);
}

// ---- Knots ------------------------------------------------------------------

void CWnd_MainModel::OnEditRandomKnots(const char* text)
{
    int v = text ? std::atoi(text) : 0;
    if (v > 99) {
        view_RandomKnotsControls(100, 0);
        m_fRndKnotsValue = 1.0f;
    } else {
        v = std::max(v, 0);
        view_RandomKnotsControls(uint32_t(v), 0);
        m_fRndKnotsValue = float(v) / 100.0f;
    }
}

void CWnd_MainModel::OnEditRandomKnotsLF(const char* text)
{
    const int v = std::clamp(text ? std::atoi(text) : 0, 0, 100);
    view_RandomKnotsControls(uint32_t(v), 1);
    m_fRndKnotsValue = float(v) / 100.0f;
    OnUpdateKnotRandomize(float(v) / 100.0f);
}

void CWnd_MainModel::OnSldrRandomKnots(uint32_t value, uint8_t tracking)
{
    value = std::min<uint32_t>(value, 100);
    view_RandomKnotsControls(value, 0);
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
    spl_AutoFillKnots(0);
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
                op_SetSelToKnivesBlock(1, m_Anchor.knife, m_Anchor.isColumn, index, isColumn);
            else
                k->selected = 1;
            m_Anchor = here;
        } else if (shift && option) {
            if (gridAnchor && !isAux)
                op_SetSelToKnivesBlock(0, m_Anchor.knife, m_Anchor.isColumn, index, isColumn);
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
    const uint16_t knob = spl_DoGetKnobSize(1, mixed);
    m_pCutter->NotifiedByMain_NewKnobSize(knob, mixed);
    const uint16_t thickness = spl_DoGetKnifeThickness(1, mixed);
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

// ---- Flips ---------------------------------------------------------------------

void CWnd_MainModel::op_Flip(uint8_t flipH, uint8_t flipU, uint8_t onlySelected, uint8_t redraw)
{
    i_ForEachKnife([&](KNIFESTRUCT& k, uint32_t) {
        if (!i_Considered(k, onlySelected))
            return;
        if (flipH)
            k.flipH = !k.flipH;
        if (flipU)
            k.flipU = !k.flipU;
    });
    if (redraw)
        i_FullRedraw();
}

void CWnd_MainModel::op_RandFlip(uint8_t flipH, uint8_t flipU, uint8_t onlySelected, uint8_t redraw)
{
    i_ForEachKnife([&](KNIFESTRUCT& k, uint32_t) {
        if (!i_Considered(k, onlySelected))
            return;
        if (flipH && i_Rand() <= 0x3FFFFFFEu)
            k.flipH = !k.flipH;
        if (flipU && i_Rand() <= 0x3FFFFFFEu)
            k.flipU = !k.flipU;
    });
    if (redraw)
        i_FullRedraw();
}

void CWnd_MainModel::op_Interleaved(uint8_t flipH, uint8_t flipU, uint8_t onlySelected, uint8_t redraw)
{
    auto walk = [&](std::vector<KNIFESTRUCT>& list, uint32_t count) {
        uint8_t parity = 0;
        for (uint32_t i = 0; i < count; ++i) {
            KNIFESTRUCT& k = list[i];
            if (!i_Considered(k, onlySelected))
                continue;
            if (flipH)
                k.flipH = parity;
            if (flipU)
                k.flipU = parity;
            parity ^= 1;
        }
    };
    walk(m_ColKnives, m_nColKnives);
    walk(m_RowKnives, m_nRowKnives);
    if (redraw)
        i_FullRedraw();
}

void CWnd_MainModel::op_NonInterleaved(uint8_t flipH, uint8_t flipU, uint8_t onlySelected, uint8_t redraw)
{
    auto walk = [&](std::vector<KNIFESTRUCT>& list, uint32_t count) {
        for (uint32_t i = 0; i < count; ++i) {
            KNIFESTRUCT& k = list[i];
            if (!i_Considered(k, onlySelected))
                continue;
            if (flipH)
                k.flipH = 0;
            if (flipU)
                k.flipU = 0;
        }
    };
    walk(m_ColKnives, m_nColKnives);
    walk(m_RowKnives, m_nRowKnives);
    if (redraw)
        i_FullRedraw();
}

// ---- Knob sizes ------------------------------------------------------------------

namespace {

void Extents(const CWnd_MainModel::KNIFESTRUCT& k, double& du, double& dh)
{
    float minU = k.U[0], maxU = k.U[0], minH = k.H[0], maxH = k.H[0];
    for (uint32_t i = 1; i < k.nodeCount && i < CWnd_MainModel::kMaxNodes; ++i) {
        minU = std::min(minU, k.U[i]);
        maxU = std::max(maxU, k.U[i]);
        minH = std::min(minH, k.H[i]);
        maxH = std::max(maxH, k.H[i]);
    }
    du = double(maxU) - minU;
    dh = double(maxH) - minH;
}

bool Measurable(const CWnd_MainModel::KNIFESTRUCT& k) { return k.length > 0.0f && k.nodeCount >= 2; }

}  // namespace

uint8_t CWnd_MainModel::check_IsAvail_EqualizeKnobs(uint8_t onlySelected) const
{
    uint32_t n = 0;
    auto look = [&](const KNIFESTRUCT& k) {
        if (i_Considered(k, onlySelected) && Measurable(k))
            ++n;
    };
    for (uint32_t i = 0; i < m_nColKnives; ++i)
        look(m_ColKnives[i]);
    for (uint32_t i = 0; i < m_nRowKnives; ++i)
        look(m_RowKnives[i]);
    for (uint32_t i = 0; i < m_nAuxKnives; ++i)
        look(m_AuxKnives[i].knife);
    return n >= 2;
}

void CWnd_MainModel::op_EqualizeKnobs(uint8_t onlySelected, uint8_t redraw)
{
    KNIFESTRUCT* ref = nullptr;
    i_ForEachKnife([&](KNIFESTRUCT& k, uint32_t) {
        if (i_Considered(k, onlySelected) && Measurable(k) && (!ref || k.length < ref->length))
            ref = &k;
    });
    if (!ref)
        return;
    uncm_SaveState(CMUNDO_LAYOUT, CMSUB_KNOBSIZE);
    double du, dh;
    Extents(*ref, du, dh);
    const double refU = du * ref->knobSize / 100.0;
    const double refH = dh * ref->knobSize / 100.0;
    const double refLength = ref->length;
    i_ForEachKnife([&](KNIFESTRUCT& k, uint32_t) {
        if (&k != ref && i_Considered(k, onlySelected))
            i_op_EqualizeKnobs_SetKnobSize(&k, refU, refH, refLength);
    });
    if (redraw)
        i_FullRedraw();
}

void CWnd_MainModel::i_op_EqualizeKnobs_SetKnobSize(KNIFESTRUCT* knife, double refU, double refH, double refLength)
{
    if (!knife || knife->nodeCount < 2 || !(refLength > 0.0))
        return;
    double du, dh;
    Extents(*knife, du, dh);
    const double ratio = knife->length / refLength;
    // An axis on which the reference has no extent says nothing about size.
    double m = 0.0;
    if (refU > 0.0)
        m = std::max(m, du * ratio / refU);
    if (refH > 0.0)
        m = std::max(m, dh * ratio / refH);
    if (!(m > 0.0) || !std::isfinite(m))
        return;
    const double size = std::min(100.0 / m + 0.5, 1000.0);
    uint32_t knob = static_cast<uint32_t>(size);
    if (knob > 99)
        knob = 100;
    if (knob == 0)
        knob = 1;
    knife->knobSize = knob;
}

// ---- Copy and paste ----------------------------------------------------------------

void CWnd_MainModel::op_CopyKnife(uint32_t index, uint8_t column, uint8_t extra)
{
    const KNIFESTRUCT* src = nullptr;
    if (index != kNone) {
        src = GetKnifeById(extra ? (index < kRowKnifeId ? kAuxKnifeId + index : kNone)
                           : column ? (index < kRowKnifeId ? index : kNone)
                                    : (index < kRowKnifeId ? kRowKnifeId + index : kNone));
    } else {
        i_ForEachKnife([&](KNIFESTRUCT& k, uint32_t) {
            if (!src && i_Considered(k, true))
                src = &k;
        });
    }
    if (!src)
        return;
    m_KnifeClipboard = *src;
    m_KnifeClipboard.points = nullptr;
    m_KnifeClipboard.pointCount = 0;
    m_KnifeClipboard.moving = 0;
    m_bClipboardEmpty = 0;
}

void CWnd_MainModel::i_op_PasteKnife(uint32_t index, uint8_t column, uint8_t extra)
{
    if (m_bClipboardEmpty || index >= kRowKnifeId)
        return;
    KNIFESTRUCT* k = GetKnifeById(extra ? kAuxKnifeId + index : column ? index : kRowKnifeId + index);
    if (!k)
        return;
    const KNIFESTRUCT& c = m_KnifeClipboard;
    k->flipH = c.flipH;
    k->flipU = c.flipU;
    k->nodeCount = c.nodeCount;
    k->knobSize = c.knobSize;
    k->thickness = c.thickness;
    std::memcpy(k->U, c.U, sizeof(k->U));
    std::memcpy(k->H, c.H, sizeof(k->H));
    std::memcpy(k->S, c.S, sizeof(k->S));
    k->centerU = c.centerU;
    k->length = 0.0f;
}

void CWnd_MainModel::op_PasteKnife(const CQNF_DWordArray* ids)
{
    if (m_bClipboardEmpty)
        return;
    auto paste = [&](uint32_t id) {
        if (id >= kAuxKnifeId)
            i_op_PasteKnife(id - kAuxKnifeId, 0, 1);
        else if (id >= kRowKnifeId)
            i_op_PasteKnife(id - kRowKnifeId, 0, 0);
        else
            i_op_PasteKnife(id, 1, 0);
    };
    if (ids) {
        for (uint32_t n = 0; n < ids->GetSize(); ++n)
            paste((*ids)[n]);
    } else {
        std::vector<uint32_t> targets;
        i_ForEachKnife([&](KNIFESTRUCT& k, uint32_t id) {
            if (i_Considered(k, true))
                targets.push_back(id);
        });
        for (uint32_t id : targets)
            paste(id);
    }
    if (m_bCutMode && IsCutterOpen())
        i_RefreshCutterSizes();
    i_FullRedraw();
    spl_OnKnifeSelChanged();
}

void CWnd_MainModel::op_SendKnifeToCutter(const KNIFESTRUCT* knife)
{
    if (!knife || !IsCutterOpen())
        return;
    CCutterLink::SHAPE shape;
    shape.nodeCount = std::min<uint32_t>(knife->nodeCount, kMaxNodes);
    for (uint32_t i = 0; i < shape.nodeCount; ++i) {
        shape.U[i] = knife->U[i];
        shape.H[i] = knife->H[i];
        shape.S[i] = knife->S[i];
    }
    m_pCutter->opSetShapeFromData(shape, 0);
}

// ---- Extra knives ------------------------------------------------------------------

void CWnd_MainModel::op_AddAuxKnifeToSelectedKnots(uint8_t redraw)
{
    if (!m_bCutMode || m_nSelKnots != 2)
        return;
    i_op_AddAuxKnifeToKnots(m_SelKnot1, m_SelKnot2);
    if (redraw) {
        i_FullRedraw();
        OnChangeSelectedKnots();
        spl_OnKnifeSelChanged();
    }
}

bool CWnd_MainModel::i_op_AddAuxKnifeToKnots(uint32_t knotA, uint32_t knotB)
{
    if (m_nAuxKnives + 1 >= 20000 || !i_cmop_IsPossibleKnotsForAuxKnife(knotA, knotB))
        return false;
    if (!spl_InitAuxKnivesMem(m_nAuxKnives + 1))
        return false;
    AUXKNIFESTRUCT& a = m_AuxKnives[m_nAuxKnives++];
    i_ReleaseAuxPoints(a);
    std::memset(&a, 0, sizeof(a));
    a.knotA = knotA;
    a.knotB = knotB;
    a.knife.knobSize = 100;
    a.knife.thickness = 3;
    float s, h, u;
    MutationOf(m_pCutter, s, h, u);
    i_spl_SetKnife(&a.knife, s, h, u, 0, 0, 0, 1);
    return true;
}

void CWnd_MainModel::op_DelAuxKnives(uint8_t onlySelected, const CQNF_DWordArray* ids, uint8_t keepMarks,
                                     uint8_t redraw)
{
    if (!m_bCutMode)
        return;
    if (!keepMarks) {
        for (uint32_t i = 0; i < m_nAuxKnives; ++i) {
            AUXKNIFESTRUCT& a = m_AuxKnives[i];
            a.deleteMark = ids ? 0 : uint8_t(!(onlySelected && m_bKnifeSelection && !a.knife.selected));
        }
        if (ids)
            for (uint32_t n = 0; n < ids->GetSize(); ++n) {
                const uint32_t id = (*ids)[n];
                if (id >= kAuxKnifeId && id - kAuxKnifeId < m_nAuxKnives)
                    m_AuxKnives[id - kAuxKnifeId].deleteMark = 1;
            }
    }
    uint32_t kept = 0;
    for (uint32_t i = 0; i < m_nAuxKnives; ++i) {
        if (m_AuxKnives[i].deleteMark) {
            i_ReleaseAuxPoints(m_AuxKnives[i]);
            continue;
        }
        if (kept != i) {
            m_AuxKnives[kept] = m_AuxKnives[i];
            m_AuxKnives[i].knife.points = nullptr;  // moved, not shared
        }
        ++kept;
    }
    m_nAuxKnives = kept;
    if (redraw) {
        i_FullRedraw();
        OnChangeSelectedKnots();
        spl_OnKnifeSelChanged();
    }
}

void CWnd_MainModel::cmop_Extras(uint8_t show, uint8_t redraw)
{
    if (!m_bCutMode || m_bKnotDragging)
        return;
    m_bCMExtras = show;
    view_ControlsChanged();
    if (redraw)
        i_FullRedraw();
}

// ---- Splitters ------------------------------------------------------------------------

bool CWnd_MainModel::op_InsertRC(uint8_t column, int16_t x, int16_t y)
{
    if (!op_TestAllowRCInsertion(column, x, y))
        return false;
    const double f = column ? (x - m_rcHSplitRuler.left + m_PreviewMap[0]) / m_PreviewMap[1]
                            : (y - m_rcVSplitRuler.top + m_PreviewMap[2]) / m_PreviewMap[3];
    return op_InsertRCAt(column, f);
}

bool CWnd_MainModel::op_InsertRCAt(uint8_t column, double fraction)
{
    if (!IsCutterOpen() || !(fraction >= 0.0 && fraction <= 1.0))
        return false;
    const uint16_t n = column ? m_nColSplitters : m_nRowSplitters;
    if (n > 98)
        return false;
    const float* pos = column ? m_ColSplitters : m_RowSplitters;
    const float f = static_cast<float>(fraction);
    uint16_t i = 0;
    while (i < n && !(pos[i] > f))
        ++i;
    return i_RebuildGrid(column, i, true, f);
}

bool CWnd_MainModel::op_DeleteRC(uint8_t column, uint16_t splitter)
{
    if (splitter >= (column ? m_nColSplitters : m_nRowSplitters) || !IsCutterOpen())
        return false;
    return i_RebuildGrid(column, splitter, false, 0.0f);
}

namespace {

// A knife's own fields taken over when the grid is rebuilt around it.
void TakeOver(CWnd_MainModel::KNIFESTRUCT& dst, const CWnd_MainModel::KNIFESTRUCT& src)
{
    dst.flipH = src.flipH;
    dst.flipU = src.flipU;
    std::memcpy(dst.U, src.U, sizeof(dst.U));
    std::memcpy(dst.H, src.H, sizeof(dst.H));
    std::memcpy(dst.S, src.S, sizeof(dst.S));
    dst.nodeCount = src.nodeCount;
    dst.off = src.off;
    dst.selected = src.selected;
    dst.centerU = src.centerU;
    dst.knobSize = src.knobSize;
    dst.thickness = src.thickness;
    dst.length = 0.0f;
}

}  // namespace

bool CWnd_MainModel::i_RebuildGrid(uint8_t column, uint16_t s, bool insert, float fraction)
{
    const uint32_t C = m_nColSplitters, R = m_nRowSplitters;
    const uint32_t oldStride = C + 2;
    std::vector<float> oldCols(m_ColSplitters, m_ColSplitters + C), oldRows(m_RowSplitters, m_RowSplitters + R);
    std::vector<KNOTSTRUCT> oldKnots;
    std::vector<KNIFESTRUCT> oldColKnives, oldRowKnives;
    std::vector<int32_t> auxMap;
    try {
        oldKnots.assign(m_Knots.begin(), m_Knots.begin() + m_nKnots);
        oldColKnives.assign(m_ColKnives.begin(), m_ColKnives.begin() + m_nColKnives);
        oldRowKnives.assign(m_RowKnives.begin(), m_RowKnives.begin() + m_nRowKnives);
        auxMap.resize(size_t(m_nAuxKnives) * 2);
    } catch (const std::bad_alloc&) {
        return false;
    }
    for (KNIFESTRUCT& k : oldColKnives)
        k.points = nullptr;
    for (KNIFESTRUCT& k : oldRowKnives)
        k.points = nullptr;
    for (uint32_t i = 0; i < m_nAuxKnives; ++i) {
        auxMap[2 * i] = i_CovertKnotID(m_AuxKnives[i].knotA, insert, column, s);
        auxMap[2 * i + 1] = i_CovertKnotID(m_AuxKnives[i].knotB, insert, column, s);
    }

    const int d = insert ? 1 : -1;
    const uint16_t newColumns = uint16_t(C + 1 + (column ? d : 0));
    const uint16_t newRows = uint16_t(R + 1 + (column ? 0 : d));
    if (!spl_SplitEvenParts(newColumns, newRows, 0, 0))
        return false;

    // Extra knives follow their knots; those on a deleted knot line go.
    bool anyGone = false;
    for (uint32_t i = 0; i < m_nAuxKnives; ++i) {
        AUXKNIFESTRUCT& a = m_AuxKnives[i];
        a.deleteMark = auxMap[2 * i] < 0 || auxMap[2 * i + 1] < 0;
        anyGone = anyGone || a.deleteMark;
        if (!a.deleteMark) {
            a.knotA = uint32_t(auxMap[2 * i]);
            a.knotB = uint32_t(auxMap[2 * i + 1]);
        }
    }
    if (anyGone) {
        const uint8_t mode = m_bCutMode;
        m_bCutMode = 1;
        op_DelAuxKnives(0, nullptr, 1, 0);
        m_bCutMode = mode;
    }

    // Splitter positions.
    std::vector<float>& changed = column ? oldCols : oldRows;
    if (insert)
        changed.insert(changed.begin() + s, fraction);
    else
        changed.erase(changed.begin() + s);
    std::copy(oldCols.begin(), oldCols.end(), m_ColSplitters);
    std::copy(oldRows.begin(), oldRows.end(), m_RowSplitters);

    // Old index of a new line index along the changed direction (-1: new).
    auto oldLine = [&](int64_t j, int64_t line) -> int64_t {
        if (insert)
            return j == line ? -1 : j < line ? j : j - 1;
        return j < line ? j : j + 1;
    };
    const uint32_t nc = m_nColSplitters, nr = m_nRowSplitters;
    for (uint32_t r = 0; r < m_nKnotRows; ++r)
        for (uint32_t c = 0; c < m_nKnotCols; ++c) {
            KNOTSTRUCT& k = m_Knots[r * m_nKnotCols + c];
            const int64_t oc = column ? oldLine(c, s + 1u) : c;
            const int64_t orow = column ? r : oldLine(r, s + 1u);
            if (oc < 0 || orow < 0) {
                k.dx = k.dy = 0.0f;
            } else {
                k.dx = oldKnots[size_t(orow * oldStride + oc)].dx;
                k.dy = oldKnots[size_t(orow * oldStride + oc)].dy;
            }
        }

    // Grid knives: the knives of the new splitter and of the split segment
    // take the editor's shape, every other knife its old self.
    float ms, mh, mu;
    MutationOf(m_pCutter, ms, mh, mu);
    auto fill = [&](KNIFESTRUCT& dst, int64_t oldIndex, const std::vector<KNIFESTRUCT>& old) {
        if (oldIndex < 0)
            i_spl_SetKnife(&dst, ms, mh, mu, 0, 0, 0, 1);
        else
            TakeOver(dst, old[size_t(oldIndex)]);
    };
    for (uint32_t r = 0; r <= nr; ++r)
        for (uint32_t c = 0; c < nc; ++c) {
            int64_t o;
            if (column) {
                const int64_t oc = oldLine(c, s);
                o = oc < 0 ? -1 : int64_t(r) * C + oc;
            } else {
                const int64_t orow = oldLine(r, s);
                o = orow < 0 ? -1 : orow * C + c;
            }
            fill(m_ColKnives[r * nc + c], o, oldColKnives);
        }
    for (uint32_t r = 0; r < nr; ++r)
        for (uint32_t c = 0; c <= nc; ++c) {
            int64_t o;
            if (column) {
                const int64_t oc = oldLine(c, s);
                o = oc < 0 ? -1 : int64_t(r) * (C + 1) + oc;
            } else {
                const int64_t orow = oldLine(r, s);
                o = orow < 0 ? -1 : orow * (C + 1) + c;
            }
            fill(m_RowKnives[r * (nc + 1) + c], o, oldRowKnives);
        }

    if (IsCutterOpen()) {
        if (column)
            m_pCutter->ExtSetColumns(m_nColSplitters + 1u);
        else
            m_pCutter->ExtSetRows(m_nRowSplitters + 1u);
    }
    spl_OnKnifeSelChanged();
    spl_DoRedrawSplitting(m_SplitViewRect, m_SplitImageRect, 0);
    spl_DoRedrawHVSplitRulers();
    view_RenderAndUpdate(m_rcPreview);
    return true;
}

void CWnd_MainModel::op_CenterSplitingHandle(uint8_t row, uint16_t splitter, uint8_t redraw)
{
    uncm_PreSave(CMUNDO_SPLITTERS);
    const uint16_t n = row ? m_nRowSplitters : m_nColSplitters;
    float* pos = row ? m_RowSplitters : m_ColSplitters;
    if (n > 1) {
        if (splitter >= n)
            return;
        if (splitter == 0)
            pos[0] = pos[1] / 2.0f;
        else if (splitter == n - 1)
            pos[n - 1] = (pos[n - 2] + 1.0f) / 2.0f;
        else
            pos[splitter] = (pos[splitter - 1] + pos[splitter + 1]) / 2.0f;
    } else {
        pos[0] = 0.5f;
    }
    if (redraw) {
        spl_DoRedrawHVSplitRulers();
        i_FullRedraw();
    }
    uncm_SaveState(CMUNDO_SPLITTERS, CMSUB_NONE);
}

void CWnd_MainModel::op_ArrangeSplitingHandles(uint8_t row, uint8_t redraw)
{
    uncm_PreSave(CMUNDO_SPLITTERS);
    const uint16_t n = row ? m_nRowSplitters : m_nColSplitters;
    float* pos = row ? m_RowSplitters : m_ColSplitters;
    const float step = 1.0f / float(n + 1);
    float p = step;
    for (uint16_t i = 0; i < n; ++i) {
        pos[i] = p;
        p += step;
    }
    if (redraw) {
        spl_DoRedrawHVSplitRulers();
        i_FullRedraw();
    }
    uncm_SaveState(CMUNDO_SPLITTERS, CMSUB_NONE);
}

// ---- Updates from the knife editor ---------------------------------------------------

void CWnd_MainModel::OnCutterUpdateRowsCols(uint32_t rows, uint32_t columns)
{
    // "Unchanged" is the current count, never a count of its own.
    if (rows == kNone)
        rows = m_nRowSplitters + 1u;
    if (columns == kNone)
        columns = m_nColSplitters + 1u;
    rows = std::min<uint32_t>(rows, 101);
    columns = std::min<uint32_t>(columns, 101);
    const uint16_t c = columns == 0 ? 0 : uint16_t(columns - 1);
    const uint16_t r = rows == 0 ? 0 : uint16_t(rows - 1);
    if (c == m_nColSplitters && r == m_nRowSplitters && m_nKnotCols == c + 2)
        return;
    uncm_SaveState(CMUNDO_LAYOUT, CMSUB_NEWLAYOUT);
    if (!spl_SplitEvenParts(uint16_t(columns), uint16_t(rows), 0, 1))
        return;
    float s, h, u;
    MutationOf(m_pCutter, s, h, u);
    OnCutterUpdateShape(s, h, u, 0, 0);
    spl_DoRedrawHVSplitRulers();
    spl_OnKnifeSelChanged();
}

void CWnd_MainModel::OnCutterUpdateRowsCols_ShowLines(uint32_t rows, uint32_t columns)
{
    if (rows == kNone)
        rows = m_nRowSplitters + 1u;
    if (columns == kNone)
        columns = m_nColSplitters + 1u;
    spl_DoShowFurtherSplitting(uint16_t(std::min<uint32_t>(columns, 101)), uint16_t(std::min<uint32_t>(rows, 101)),
                               m_SplitViewRect, m_SplitImageRect);
    const qntRGBA8 clear{0, 0, 0, 0};
    if (m_HSplitRulerImage.GetImageWidth())
        m_HSplitRulerImage.Set(clear, 8, qnNullRect);
    if (m_VSplitRulerImage.GetImageWidth())
        m_VSplitRulerImage.Set(clear, 8, qnNullRect);
    qntRECT_s u = m_rcPreview;
    for (const qntRECT_s& o : {m_rcHSplitRuler, m_rcVSplitRuler}) {
        u.left = std::min(u.left, o.left);
        u.top = std::min(u.top, o.top);
        u.right = std::max(u.right, o.right);
        u.bottom = std::max(u.bottom, o.bottom);
    }
    view_RenderAndUpdate(u);
}

void CWnd_MainModel::OnCutterUpdateKnifeSize(uint32_t knobSize)
{
    uncm_SaveState(CMUNDO_LAYOUT, CMSUB_KNOBSIZE);
    spl_DoSetKnobSize(knobSize, 1);
    i_FullRedraw();
}

void CWnd_MainModel::OnCutterUpdateKnifeThickness(uint32_t thickness, uint8_t razorCut)
{
    uncm_SaveState(CMUNDO_LAYOUT, CMSUB_THICKNESS);
    spl_DoSetKnifeTh(thickness, razorCut, 1);
    i_FullRedraw();
}

void CWnd_MainModel::OnCutterUpdateShape(float mutS, float mutH, float mutU, uint8_t onlySelectedNodes, uint8_t undo)
{
    if (undo)
        uncm_SaveState(CMUNDO_LAYOUT, CMSUB_SHAPE);
    spl_DoReFillKnivesFromCutter(1, mutS, mutH, mutU, onlySelectedNodes);
    i_FullRedraw();
}

void CWnd_MainModel::OnCutterUpdateShape_FlipU(float mutS, float mutH, float mutU)
{
    uncm_SaveState(CMUNDO_LAYOUT, CMSUB_SHAPE);
    spl_DoReFillKnivesFromCutter_FlipU(1, mutS, mutH, mutU);
    i_FullRedraw();
}

void CWnd_MainModel::OnCutterUpdateShape_FlipH(float mutS, float mutH, float mutU)
{
    uncm_SaveState(CMUNDO_LAYOUT, CMSUB_SHAPE);
    spl_DoReFillKnivesFromCutter_FlipH(1, mutS, mutH, mutU);
    i_FullRedraw();
}

void CWnd_MainModel::OnCutterUpdateAntiAliasing(uint8_t on)
{
    m_bAntiAlias = on;
    i_FullRedraw();
}

void CWnd_MainModel::spl_DoReFillKnivesFromCutter(uint8_t onlySelected, float mutS, float mutH, float mutU,
                                                  uint8_t onlySelectedNodes)
{
    i_ForEachKnife([&](KNIFESTRUCT& k, uint32_t) {
        if (i_Considered(k, onlySelected))
            i_spl_SetKnife(&k, mutS, mutH, mutU, onlySelectedNodes, 0, 0, 0);
    });
}

void CWnd_MainModel::spl_DoReFillKnivesFromCutter_FlipU(uint8_t onlySelected, float mutS, float mutH, float mutU)
{
    i_ForEachKnife([&](KNIFESTRUCT& k, uint32_t) {
        if (i_Considered(k, onlySelected))
            i_spl_SetKnife(&k, mutS, mutH, mutU, 1, 1, 0, 0);
    });
}

void CWnd_MainModel::spl_DoReFillKnivesFromCutter_FlipH(uint8_t onlySelected, float mutS, float mutH, float mutU)
{
    i_ForEachKnife([&](KNIFESTRUCT& k, uint32_t) {
        if (i_Considered(k, onlySelected))
            i_spl_SetKnife(&k, mutS, mutH, mutU, 1, 1, 1, 0);
    });
}
