// Editing operations on the cut map, part three: inserting, deleting and
// centring splitters, and the updates the knife editor sends.
#include "app/MainModel.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>

using namespace cutflag;

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
    if (!spl_SplitEvenParts(newColumns, newRows, kIfChanged, kKeepExtras))
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
        op_DelAuxKnives(kAllKnives, nullptr, kKeepMarks, kNoRedraw);
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
    i_CutterMutation(ms, mh, mu);
    auto fill = [&](KNIFESTRUCT& dst, int64_t oldIndex, const std::vector<KNIFESTRUCT>& old) {
        if (oldIndex < 0)
            i_spl_SetKnife(&dst, ms, mh, mu, kAllNodes, kNoFlip, kNoFlip, kTakeSizes);
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
    spl_DoRedrawSplitting(m_SplitViewRect, m_SplitImageRect, kDamagedOnly);
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
    i_EvenSplit(row ? m_RowSplitters : m_ColSplitters, n);
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
    if (!spl_SplitEvenParts(uint16_t(columns), uint16_t(rows), kIfChanged, kResetExtras))
        return;
    i_KnivesTakeCutterShape();
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
    spl_DoSetKnobSize(knobSize, kOnlySelected);
    i_FullRedraw();
}

void CWnd_MainModel::OnCutterUpdateKnifeThickness(uint32_t thickness, uint8_t razorCut)
{
    uncm_SaveState(CMUNDO_LAYOUT, CMSUB_THICKNESS);
    spl_DoSetKnifeTh(thickness, razorCut, kOnlySelected);
    i_FullRedraw();
}

void CWnd_MainModel::OnCutterUpdateShape(float mutS, float mutH, float mutU, uint8_t onlySelectedNodes, uint8_t undo)
{
    if (undo)
        uncm_SaveState(CMUNDO_LAYOUT, CMSUB_SHAPE);
    spl_DoReFillKnivesFromCutter(kOnlySelected, mutS, mutH, mutU, onlySelectedNodes);
    i_FullRedraw();
}

void CWnd_MainModel::OnCutterUpdateShape_FlipU(float mutS, float mutH, float mutU)
{
    uncm_SaveState(CMUNDO_LAYOUT, CMSUB_SHAPE);
    spl_DoReFillKnivesFromCutter_FlipU(kOnlySelected, mutS, mutH, mutU);
    i_FullRedraw();
}

void CWnd_MainModel::OnCutterUpdateShape_FlipH(float mutS, float mutH, float mutU)
{
    uncm_SaveState(CMUNDO_LAYOUT, CMSUB_SHAPE);
    spl_DoReFillKnivesFromCutter_FlipH(kOnlySelected, mutS, mutH, mutU);
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
            i_spl_SetKnife(&k, mutS, mutH, mutU, onlySelectedNodes, kNoFlip, kNoFlip, kKeepSizes);
    });
}

void CWnd_MainModel::spl_DoReFillKnivesFromCutter_FlipU(uint8_t onlySelected, float mutS, float mutH, float mutU)
{
    i_ForEachKnife([&](KNIFESTRUCT& k, uint32_t) {
        if (i_Considered(k, onlySelected))
            i_spl_SetKnife(&k, mutS, mutH, mutU, kOnlySelectedNodes, kFlip, kNoFlip, kKeepSizes);
    });
}

void CWnd_MainModel::spl_DoReFillKnivesFromCutter_FlipH(uint8_t onlySelected, float mutS, float mutH, float mutU)
{
    i_ForEachKnife([&](KNIFESTRUCT& k, uint32_t) {
        if (i_Considered(k, onlySelected))
            i_spl_SetKnife(&k, mutS, mutH, mutU, kOnlySelectedNodes, kFlip, kFlipAcross, kKeepSizes);
    });
}
