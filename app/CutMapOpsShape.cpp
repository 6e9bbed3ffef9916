// Editing operations on the cut map, part two: flips, knob equalising, copy
// and paste of knife shapes, and the extra knives between knots.
#include "app/MainModel.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>

using namespace cutflag;

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
        if (flipH && i_Rand() <= kRandFlipLimit)
            k.flipH = !k.flipH;
        if (flipU && i_Rand() <= kRandFlipLimit)
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
            i_op_PasteKnife(id - kAuxKnifeId, kRow, kExtraKnife);
        else if (id >= kRowKnifeId)
            i_op_PasteKnife(id - kRowKnifeId, kRow, kGridKnife);
        else
            i_op_PasteKnife(id, kColumn, kGridKnife);
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
    i_CutterMutation(s, h, u);
    i_spl_SetKnife(&a.knife, s, h, u, kAllNodes, kNoFlip, kNoFlip, kTakeSizes);
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
