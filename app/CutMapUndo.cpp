// The one-step undo of the cut map. A step is either a whole layout (a
// settings block) or one part of it: the splitter positions, the knot
// offsets, or the four flag bytes of every knife. Undo exchanges the held
// step with the current state, so a second Undo brings the change back.
//
// Each partial snapshot records the grid it was taken on; a snapshot of
// another grid is never compared with or written into the current one.
#include "app/MainModel.h"

#include <algorithm>
#include <cmath>
#include <cstring>

using namespace cutflag;

namespace {

void Shape(const CWnd_MainModel& m, CWnd_MainModel::CMUNDOMODE kind, uint32_t out[2])
{
    switch (kind) {
    case CWnd_MainModel::CMUNDO_SPLITTERS:
        out[0] = m.m_nRowSplitters;
        out[1] = m.m_nColSplitters;
        break;
    case CWnd_MainModel::CMUNDO_KNOTS:
        out[0] = m.m_nKnots;
        out[1] = 0;
        break;
    case CWnd_MainModel::CMUNDO_KNIFEFLAGS:
        out[0] = m.m_nColKnives + m.m_nRowKnives;
        out[1] = m.m_nAuxKnives;
        break;
    default:
        out[0] = out[1] = 0;
    }
}

uint64_t SnapshotBytes(const CWnd_MainModel& m, CWnd_MainModel::CMUNDOMODE kind)
{
    switch (kind) {
    case CWnd_MainModel::CMUNDO_SPLITTERS:
        return 4ull * (m.m_nRowSplitters + m.m_nColSplitters);
    case CWnd_MainModel::CMUNDO_KNOTS:
        return 8ull * m.m_nKnots;
    case CWnd_MainModel::CMUNDO_KNIFEFLAGS:
        return 4ull * m.GetKnifeCount();
    default:
        return 0;
    }
}

// The current values of a partial snapshot, in snapshot order.
void Capture(const CWnd_MainModel& m, CWnd_MainModel::CMUNDOMODE kind, uint8_t* out)
{
    if (kind == CWnd_MainModel::CMUNDO_SPLITTERS) {
        std::memcpy(out, m.m_RowSplitters, 4u * m.m_nRowSplitters);
        std::memcpy(out + 4u * m.m_nRowSplitters, m.m_ColSplitters, 4u * m.m_nColSplitters);
    } else if (kind == CWnd_MainModel::CMUNDO_KNOTS) {
        for (uint32_t i = 0; i < m.m_nKnots; ++i) {
            std::memcpy(out + 8 * i, &m.m_Knots[i].dx, 4);
            std::memcpy(out + 8 * i + 4, &m.m_Knots[i].dy, 4);
        }
    } else if (kind == CWnd_MainModel::CMUNDO_KNIFEFLAGS) {
        uint32_t n = 0;
        m.i_ForEachKnife([&](const CWnd_MainModel::KNIFESTRUCT& k, uint32_t) {
            out[4 * n] = k.flipH;
            out[4 * n + 1] = k.flipU;
            out[4 * n + 2] = k.selected;
            out[4 * n + 3] = k.off;
            ++n;
        });
    }
}

void Apply(CWnd_MainModel& m, CWnd_MainModel::CMUNDOMODE kind, const uint8_t* in)
{
    if (kind == CWnd_MainModel::CMUNDO_SPLITTERS) {
        std::memcpy(m.m_RowSplitters, in, 4u * m.m_nRowSplitters);
        std::memcpy(m.m_ColSplitters, in + 4u * m.m_nRowSplitters, 4u * m.m_nColSplitters);
    } else if (kind == CWnd_MainModel::CMUNDO_KNOTS) {
        for (uint32_t i = 0; i < m.m_nKnots; ++i) {
            std::memcpy(&m.m_Knots[i].dx, in + 8 * i, 4);
            std::memcpy(&m.m_Knots[i].dy, in + 8 * i + 4, 4);
        }
    } else if (kind == CWnd_MainModel::CMUNDO_KNIFEFLAGS) {
        uint32_t n = 0;
        m.i_ForEachKnife([&](CWnd_MainModel::KNIFESTRUCT& k, uint32_t) {
            k.flipH = in[4 * n];
            k.flipU = in[4 * n + 1];
            k.selected = in[4 * n + 2];
            k.off = in[4 * n + 3];
            ++n;
        });
    }
}

// Value by value: floats as floats (a value that is not a number counts as
// changed), flag bytes as bytes.
bool Differs(CWnd_MainModel::CMUNDOMODE kind, const uint8_t* a, const uint8_t* b, uint64_t bytes)
{
    if (kind == CWnd_MainModel::CMUNDO_KNIFEFLAGS)
        return std::memcmp(a, b, size_t(bytes)) != 0;
    for (uint64_t i = 0; i + 4 <= bytes; i += 4) {
        float x, y;
        std::memcpy(&x, a + i, 4);
        std::memcpy(&y, b + i, 4);
        if (!(x == y))
            return true;
    }
    return false;
}

}  // namespace

void CWnd_MainModel::uncm_Empty()
{
    m_Uncm.empty = 1;
    m_Uncm.fresh = 1;
    m_Uncm.preValid = 0;
}

void CWnd_MainModel::uncm_PreSave(CMUNDOMODE kind)
{
    if (kind == CMUNDO_LAYOUT || m_bClosing)
        return;
    const uint64_t bytes = SnapshotBytes(*this, kind);
    if (m_Uncm.pre.GetSize() < bytes && !m_Uncm.pre.alloc(bytes)) {
        m_Uncm.preValid = 0;
        ShowMessageBox("Memory allocation problem...", "Error!");
        localClose();
        return;
    }
    if (bytes)
        Capture(*this, kind, m_Uncm.pre.GetPtr());
    m_Uncm.preKind = kind;
    Shape(*this, kind, m_Uncm.preShape);
    m_Uncm.preValid = 1;
    if (kind == CMUNDO_KNOTS)
        m_Uncm.preRandomness = m_KnotRandomness;
    if (kind == CMUNDO_KNIFEFLAGS)
        m_Uncm.preAnchor = m_Anchor;
}

void CWnd_MainModel::uncm_SaveState(CMUNDOMODE kind, CMUNDOMODE_GLOBALSUB sub)
{
    if (m_bClosing)
        return;
    if (kind != CMUNDO_LAYOUT) {
        uint32_t shape[2];
        Shape(*this, kind, shape);
        if (!m_Uncm.preValid || m_Uncm.preKind != kind || shape[0] != m_Uncm.preShape[0] ||
            shape[1] != m_Uncm.preShape[1])
            return;
        const uint64_t bytes = SnapshotBytes(*this, kind);
        CQNF_Mem now;
        if (bytes && !now.alloc(bytes)) {
            ShowMessageBox("Memory allocation problem...", "Error!");
            localClose();
            return;
        }
        if (bytes)
            Capture(*this, kind, now.GetPtr());
        if (bytes == 0 || !Differs(kind, m_Uncm.pre.GetPtr(), now.GetPtr(), bytes))
            return;
        if (m_Uncm.data.GetSize() < bytes && !m_Uncm.data.alloc(bytes)) {
            ShowMessageBox("Memory allocation problem...", "Error!");
            localClose();
            return;
        }
        std::memcpy(m_Uncm.data.GetPtr(), m_Uncm.pre.GetPtr(), size_t(bytes));
        m_Uncm.dataLength = uint32_t(bytes);
        m_Uncm.empty = 0;
        m_Uncm.kind = kind;
        m_Uncm.sub = CMSUB_NONE;
        m_Uncm.fresh = 1;
        m_Uncm.dataShape[0] = shape[0];
        m_Uncm.dataShape[1] = shape[1];
        if (kind == CMUNDO_KNIFEFLAGS)
            m_Uncm.anchor = m_Uncm.preAnchor;
        if (kind == CMUNDO_KNOTS)
            m_Uncm.randomness = m_Uncm.preRandomness;
        return;
    }

    // Repeated whole-layout changes of one kind merge into one step whose
    // snapshot is the state before the first of them.
    if (!m_Uncm.empty && m_Uncm.kind == CMUNDO_LAYOUT && !m_Uncm.fresh && m_Uncm.sub == sub)
        return;
    CQNF_Mem block;
    uint32_t length = 0;
    if (!settings_SaveCurLayoutAndCellSettingsToMem(&block, length))
        return;
    m_Uncm.data = std::move(block);
    m_Uncm.dataLength = length;
    m_Uncm.sub = sub;
    m_Uncm.empty = 0;
    m_Uncm.kind = CMUNDO_LAYOUT;
    m_Uncm.fresh = 0;
}

void CWnd_MainModel::i_UpdateCutterAfterLoad()
{
    if (!IsCutterOpen())
        return;
    m_pCutter->ExtSetColumns(m_nColSplitters + 1u);
    m_pCutter->ExtSetRows(m_nRowSplitters + 1u);
    uint8_t mixed = 0;
    const uint16_t thickness = spl_DoGetKnifeThickness(kOnlySelected, mixed);
    m_pCutter->NotifiedByMain_NewThickness(thickness, mixed, m_bRazorCut);
    const uint16_t knob = spl_DoGetKnobSize(kOnlySelected, mixed);
    m_pCutter->NotifiedByMain_NewKnobSize(knob, mixed);
    m_pCutter->SetAntiAlias(m_bAntiAlias);
    m_pCutter->SetInitialStatesToControls();
}

void CWnd_MainModel::uncm_Restore()
{
    if (m_Uncm.empty || m_bClosing)
        return;
    if (m_Uncm.kind == CMUNDO_LAYOUT) {
        CQNF_Mem before;
        uint32_t length = 0;
        if (!settings_SaveCurLayoutAndCellSettingsToMem(&before, length))
            return;
        uint32_t count = 0;
        settings_LoadCurLayoutAndCellSettingsFromMem(m_Uncm.data.GetPtr(), m_Uncm.dataLength, nullptr, count, 1);
        i_UpdateCutterAfterLoad();
        m_Uncm.data = std::move(before);
        m_Uncm.dataLength = length;
        m_Uncm.fresh = 1;
        return;
    }

    const CMUNDOMODE kind = m_Uncm.kind;
    float randomness = 0.0f;
    if (kind == CMUNDO_KNOTS)
        randomness = std::isnan(m_Uncm.randomness) ? 0.0f : std::clamp(m_Uncm.randomness, 0.0f, 1.0f);
    uncm_PreSave(kind);
    if (m_bClosing)
        return;
    uint32_t shape[2];
    Shape(*this, kind, shape);
    const bool fits = shape[0] == m_Uncm.dataShape[0] && shape[1] == m_Uncm.dataShape[1] &&
                      m_Uncm.data.GetSize() >= SnapshotBytes(*this, kind);
    if (kind == CMUNDO_KNOTS)
        m_KnotRandomness = randomness;
    if (!fits)
        return;
    Apply(*this, kind, m_Uncm.data.GetPtr());
    if (kind == CMUNDO_KNIFEFLAGS) {
        m_Anchor = m_Uncm.anchor;
        spl_OnKnifeSelChanged();
    }
    uncm_SaveState(kind, CMSUB_NONE);
    DoRedrawOverlay();
    view_RenderAndUpdate(m_rcPreview);
    if (kind == CMUNDO_KNOTS) {
        const uint32_t percent = std::min<uint32_t>(uint32_t(std::lround(randomness * 100.0f)), 100);
        m_fRndKnotsValue = float(percent) / 100.0f;
        view_RandomKnotsControls(percent, 0, true);
        m_bCanRndKnots = percent != 0;
        view_ControlsChanged();
    }
}
