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

// The grid as it was before a splitter is inserted or deleted, and how a
// line index of the new grid maps to the old one along the changed direction.
struct CWnd_MainModel::GridBefore {
    uint32_t C = 0, R = 0;  // splitters
    std::vector<float> cols, rows;
    std::vector<KNOTSTRUCT> knots;
    std::vector<KNIFESTRUCT> colKnives, rowKnives;
    std::vector<int32_t> auxMap;  // new knot ids of each extra knife's ends (-1: gone)
    bool insert = false;

    // Old index of new line j when line `line` was inserted or deleted (-1: new).
    int64_t OldLine(int64_t j, int64_t line) const
    {
        if (insert)
            return j == line ? -1 : j < line ? j : j - 1;
        return j < line ? j : j + 1;
    }
};

bool CWnd_MainModel::i_RebuildGrid(uint8_t column, uint16_t s, bool insert, float fraction)
{
    GridBefore before;
    if (!i_TakeGridBefore(before, column, s, insert))
        return false;
    const int d = insert ? 1 : -1;
    const uint16_t newColumns = uint16_t(before.C + 1 + (column ? d : 0));
    const uint16_t newRows = uint16_t(before.R + 1 + (column ? 0 : d));
    if (!spl_SplitEvenParts(newColumns, newRows, kIfChanged, kKeepExtras))
        return false;
    i_RemapExtraKnives(before);

    // Splitter positions.
    std::vector<float>& changed = column ? before.cols : before.rows;
    if (insert)
        changed.insert(changed.begin() + s, fraction);
    else
        changed.erase(changed.begin() + s);
    std::copy(before.cols.begin(), before.cols.end(), m_ColSplitters);
    std::copy(before.rows.begin(), before.rows.end(), m_RowSplitters);

    i_RemapKnots(before, column, s);
    i_RemapGridKnives(before, column, s);
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

bool CWnd_MainModel::i_TakeGridBefore(GridBefore& before, uint8_t column, uint16_t s, bool insert)
{
    before.C = m_nColSplitters;
    before.R = m_nRowSplitters;
    before.insert = insert;
    try {
        before.cols.assign(m_ColSplitters, m_ColSplitters + before.C);
        before.rows.assign(m_RowSplitters, m_RowSplitters + before.R);
        before.knots.assign(m_Knots.begin(), m_Knots.begin() + m_nKnots);
        before.colKnives.assign(m_ColKnives.begin(), m_ColKnives.begin() + m_nColKnives);
        before.rowKnives.assign(m_RowKnives.begin(), m_RowKnives.begin() + m_nRowKnives);
        before.auxMap.resize(size_t(m_nAuxKnives) * 2);
    } catch (const std::bad_alloc&) {
        return false;
    }
    for (KNIFESTRUCT& k : before.colKnives)
        k.points = nullptr;
    for (KNIFESTRUCT& k : before.rowKnives)
        k.points = nullptr;
    for (uint32_t i = 0; i < m_nAuxKnives; ++i) {
        before.auxMap[2 * i] = i_CovertKnotID(m_AuxKnives[i].knotA, insert, column, s);
        before.auxMap[2 * i + 1] = i_CovertKnotID(m_AuxKnives[i].knotB, insert, column, s);
    }
    return true;
}

// Extra knives follow their knots; those on a deleted knot line go.
void CWnd_MainModel::i_RemapExtraKnives(const GridBefore& before)
{
    bool anyGone = false;
    for (uint32_t i = 0; i < m_nAuxKnives; ++i) {
        AUXKNIFESTRUCT& a = m_AuxKnives[i];
        a.deleteMark = before.auxMap[2 * i] < 0 || before.auxMap[2 * i + 1] < 0;
        anyGone = anyGone || a.deleteMark;
        if (!a.deleteMark) {
            a.knotA = uint32_t(before.auxMap[2 * i]);
            a.knotB = uint32_t(before.auxMap[2 * i + 1]);
        }
    }
    if (anyGone) {
        const uint8_t mode = m_bCutMode;
        m_bCutMode = 1;
        op_DelAuxKnives(kAllKnives, nullptr, kKeepMarks, kNoRedraw);
        m_bCutMode = mode;
    }
}

// Knots keep their offsets; those of the new line start at 0.
void CWnd_MainModel::i_RemapKnots(const GridBefore& before, uint8_t column, uint16_t s)
{
    const uint32_t oldStride = before.C + 2;
    for (uint32_t r = 0; r < m_nKnotRows; ++r)
        for (uint32_t c = 0; c < m_nKnotCols; ++c) {
            KNOTSTRUCT& k = m_Knots[r * m_nKnotCols + c];
            const int64_t oc = column ? before.OldLine(c, s + 1u) : c;
            const int64_t orow = column ? r : before.OldLine(r, s + 1u);
            if (oc < 0 || orow < 0) {
                k.dx = k.dy = 0.0f;
            } else {
                k.dx = before.knots[size_t(orow * oldStride + oc)].dx;
                k.dy = before.knots[size_t(orow * oldStride + oc)].dy;
            }
        }
}

// Grid knives: the knives of the new splitter and of the split segment take
// the editor's shape, every other knife its old self.
void CWnd_MainModel::i_RemapGridKnives(const GridBefore& before, uint8_t column, uint16_t s)
{
    float ms, mh, mu;
    i_CutterMutation(ms, mh, mu);
    auto fill = [&](KNIFESTRUCT& dst, int64_t oldIndex, const std::vector<KNIFESTRUCT>& old) {
        if (oldIndex < 0)
            i_spl_SetKnife(&dst, ms, mh, mu, kAllNodes, kNoFlip, kNoFlip, kTakeSizes);
        else
            TakeOver(dst, old[size_t(oldIndex)]);
    };
    // Old index of a knife in a grid whose rows hold `perRow` knives.
    auto oldIndex = [&](uint32_t r, uint32_t c, uint32_t perRow) -> int64_t {
        if (column) {
            const int64_t oc = before.OldLine(c, s);
            return oc < 0 ? -1 : int64_t(r) * perRow + oc;
        }
        const int64_t orow = before.OldLine(r, s);
        return orow < 0 ? -1 : orow * perRow + c;
    };
    const uint32_t nc = m_nColSplitters, nr = m_nRowSplitters;
    for (uint32_t r = 0; r <= nr; ++r)
        for (uint32_t c = 0; c < nc; ++c)
            fill(m_ColKnives[r * nc + c], oldIndex(r, c, before.C), before.colKnives);
    for (uint32_t r = 0; r < nr; ++r)
        for (uint32_t c = 0; c <= nc; ++c)
            fill(m_RowKnives[r * (nc + 1) + c], oldIndex(r, c, before.C + 1), before.rowKnives);
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
    rows = std::min<uint32_t>(rows, kQnMostGridCells);
    columns = std::min<uint32_t>(columns, kQnMostGridCells);
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
    spl_DoShowFurtherSplitting(uint16_t(std::min<uint32_t>(columns, kQnMostGridCells)),
                               uint16_t(std::min<uint32_t>(rows, kQnMostGridCells)),
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
