// The knife editor's node commands (add, delete, select, align, distribute,
// flip, smoothness, a shape from outside) and their undo.
#include "cutter/CutterEditor.h"

#include <algorithm>
#include <cmath>
#include <cstring>

// ---- Node operations ---------------------------------------------------------------------------

uint8_t CWnd_CutterEditor::opAddNode(qntFPOS point, uint8_t keepSelection, uint32_t position)
{
    const uint32_t n = std::min<uint32_t>(m_Shape.nodeCount, kMaxNodes);
    if (n >= kMaxNodes) {
        view_Beep();
        return 0;
    }
    position = std::min(position, n);
    const qntFPOS hu = i_ToHU(point.x, point.y);
    SPLINE_STRUCT s = m_Shape;
    for (uint32_t i = n; i > position; --i) {
        s.pos[i] = s.pos[i - 1];
        s.S[i] = s.S[i - 1];
        s.selected[i] = s.selected[i - 1];
    }
    s.pos[position] = {hu.x, hu.y};
    s.S[position] = m_fNewSmoothness;
    s.nodeCount = uint8_t(n + 1);
    for (uint32_t i = 0; i <= n; ++i)
        if (!keepSelection)
            s.selected[i] = 0;
    s.selected[position] = 1;
    m_Shape = s;
    DoRedrawSpline();
    OnNewOperation(true);
    OnChangeNodeSelection();
    return 1;
}

void CWnd_CutterEditor::opDelSelectedNodes()
{
    const uint32_t n = std::min<uint32_t>(m_Shape.nodeCount, kMaxNodes);
    uint32_t k = 0;
    for (uint32_t i = 0; i < n; ++i) {
        if (m_Shape.selected[i])
            continue;
        m_Shape.pos[k] = m_Shape.pos[i];
        m_Shape.S[k] = m_Shape.S[i];
        m_Shape.selected[k] = 0;
        ++k;
    }
    m_Shape.nodeCount = uint8_t(k);
    DoRedrawSpline();
    OnNewOperation(true);
    OnChangeNodeSelection();
    NotifyMain_ShapeChanged(0);
}

namespace {

template <class F>
void ForNodes(CWnd_CutterModel::SPLINE_STRUCT& s, F f)
{
    for (uint32_t i = 0; i < s.nodeCount && i < CWnd_CutterModel::kMaxNodes; ++i)
        f(i);
}

}  // namespace

void CWnd_CutterEditor::i_SetSelection(int mode)
{
    ForNodes(m_Shape, [&](uint32_t i) { m_Shape.selected[i] = mode < 0 ? !m_Shape.selected[i] : mode > 0; });
    m_bAnchorsShown = 1;
    DoRedrawExtras(1);
    OnChangeNodeSelection();
    OnNewOperation(true);
}

void CWnd_CutterEditor::opSelectAllNodes() { i_SetSelection(1); }

void CWnd_CutterEditor::opUnSelectAllNodes() { i_SetSelection(0); }

void CWnd_CutterEditor::opInvertSelection() { i_SetSelection(-1); }

void CWnd_CutterEditor::opAlign(uint8_t mode)
{
    bool any = false;
    double minH = 0, maxH = 0, minU = 0, maxU = 0;
    ForNodes(m_Shape, [&](uint32_t i) {
        if (!m_Shape.selected[i])
            return;
        const double h = m_Shape.pos[i].H, u = m_Shape.pos[i].U;
        if (!any) {
            minH = maxH = h, minU = maxU = u;
            any = true;
        }
        minH = std::min(minH, h), maxH = std::max(maxH, h), minU = std::min(minU, u), maxU = std::max(maxU, u);
    });
    if (any)
        ForNodes(m_Shape, [&](uint32_t i) {
            if (!m_Shape.selected[i])
                return;
            auto& p = m_Shape.pos[i];
            switch (mode) {
            case 0: p.U = minU; break;
            case 1: p.U = (minU + maxU) / 2; break;
            case 2: p.U = maxU; break;
            // Positive H lies to the left of the knife.
            case 3: p.H = maxH; break;
            case 4: p.H = (minH + maxH) / 2; break;
            case 5: p.H = minH; break;
            default: break;
            }
        });
    DoRedrawSpline();
    OnNewOperation(true);
    NotifyMain_ShapeChanged(0);
}

int CWnd_CutterEditor::CNodesSorterIDS::CompareElements(const void* a, const void* b)
{
    uint32_t i, j;
    std::memcpy(&i, a, 4);
    std::memcpy(&j, b, 4);
    if (!m_pEditor)
        return 0;
    const SPLINE_STRUCT& s = m_pEditor->m_Shape;
    const uint32_t n = std::min<uint32_t>(s.nodeCount, kMaxNodes);
    if (i >= n || j >= n)
        return 0;
    const double x = m_bByU ? s.pos[i].U : s.pos[i].H;
    const double y = m_bByU ? s.pos[j].U : s.pos[j].H;
    if (x == y)
        return 0;
    return y > x ? -1 : 1;
}

void CWnd_CutterEditor::opDistribute(uint8_t mode)
{
    // The array's exchange sort stays within bounds whatever the values
    // (a NaN compares unordered both ways).
    CNodesSorterIDS ids(this, mode == 0);
    ForNodes(m_Shape, [&](uint32_t i) {
        if (m_Shape.selected[i])
            ids.Add(i);
    });
    if (ids.GetSize() < 3 || !ids.SortElements(1))
        return;
    auto value = [&](uint32_t i) -> double& { return mode == 0 ? m_Shape.pos[i].U : m_Shape.pos[i].H; };
    const uint32_t c = ids.GetSize();
    const double first = value(ids[0]), last = value(ids[c - 1]);
    for (uint32_t k = 1; k + 1 < c; ++k)
        value(ids[k]) = first + double(k) * (last - first) / double(c - 1);
    DoRedrawSpline();
    OnNewOperation(true);
    NotifyMain_ShapeChanged(0);
}

void CWnd_CutterEditor::opFlipH()
{
    ForNodes(m_Shape, [&](uint32_t i) { m_Shape.pos[i].H = -m_Shape.pos[i].H; });
    DoRedrawSpline();
    OnNewOperation(true);
    NotifyMain_ShapeChanged_FlipH();
}

void CWnd_CutterEditor::opFlipU()
{
    const uint32_t n = std::min<uint32_t>(m_Shape.nodeCount, kMaxNodes);
    ForNodes(m_Shape, [&](uint32_t i) { m_Shape.pos[i].U = 1.0 - m_Shape.pos[i].U; });
    std::reverse(m_Shape.pos, m_Shape.pos + n);
    std::reverse(m_Shape.S, m_Shape.S + n);
    std::reverse(m_Shape.selected, m_Shape.selected + n);
    DoRedrawSpline();
    OnNewOperation(true);
    NotifyMain_ShapeChanged_FlipU();
}

void CWnd_CutterEditor::opSetSmoothness(double s, uint8_t commit)
{
    m_fNewSmoothness = s;
    bool changed = false;
    ForNodes(m_Shape, [&](uint32_t i) {
        if (m_Shape.selected[i] && m_Shape.S[i] != s) {
            m_Shape.S[i] = s;
            changed = true;
        }
    });
    if (changed)
        DoRedrawSpline();
    if (commit) {
        OnNewOperation(true);
        NotifyMain_ShapeChanged(1);
    }
}

void CWnd_CutterEditor::opSetShapeFromData(const SPLINE_STRUCT& shape, uint8_t notify)
{
    SPLINE_STRUCT s{};
    s.nodeCount = uint8_t(std::min<uint32_t>(shape.nodeCount, kMaxNodes));
    for (uint32_t i = 0; i < s.nodeCount; ++i) {
        s.pos[i] = shape.pos[i];
        s.S[i] = shape.S[i];
        s.selected[i] = 1;
    }
    m_Shape = s;
    DoRedrawSpline();
    OnNewOperation(false);
    OnChangeNodeSelection();
    if (notify)
        NotifyMain_ShapeChanged(0);
}

void CWnd_CutterEditor::i_SetSmoothnessControls(uint32_t value, bool mixed)
{
    m_Ctl.smoothnessSlider = std::min<uint32_t>(value, 100);
    m_Ctl.smoothnessEdit = mixed ? " ???" : std::to_string(m_Ctl.smoothnessSlider);
}

void CWnd_CutterEditor::OnChangeNodeSelection()
{
    m_bSmoothnessLive = 0;
    const uint32_t n = std::min<uint32_t>(m_Shape.nodeCount, kMaxNodes);
    uint32_t count = 0;
    double sum = 0, common = 0;
    bool differ = false;
    for (uint32_t i = 0; i < n; ++i) {
        if (!m_Shape.selected[i])
            continue;
        if (count == 0)
            common = m_Shape.S[i];
        else if (m_Shape.S[i] != common)
            differ = true;
        sum += m_Shape.S[i];
        ++count;
    }
    auto percent = [](double v) -> uint32_t {
        const double p = v * 100.0;
        return p >= 100.0 ? 100u : p > 0.0 ? uint32_t(p) : 0u;
    };
    if (count) {
        m_Ctl.smoothnessEnabled = 1;
        if (differ)
            i_SetSmoothnessControls(percent(sum / count), true);
        else
            i_SetSmoothnessControls(percent(common), false);
    } else {
        m_Ctl.smoothnessEnabled = 0;
    }
    i_UpdateReClone();
    m_bSmoothnessLive = 1;
    view_ControlsChanged();
}

// ---- Undo glue ------------------------------------------------------------------------------

void CWnd_CutterEditor::OnChangeUndoBtnsState(uint8_t undoEnabled, uint8_t redoEnabled)
{
    m_Ctl.undo = undoEnabled;
    m_Ctl.redo = redoEnabled;
}

void CWnd_CutterEditor::i_UpdateUndoButtons() { OnChangeUndoBtnsState(m_Undo.CanUndo(), m_Undo.CanRedo()); }

void CWnd_CutterEditor::UndoInit()
{
    m_Undo.Init(m_Shape);
    i_UpdateUndoButtons();
}

void CWnd_CutterEditor::OnNewOperation(bool check)
{
    m_Undo.OnNewOperation(m_Shape, check);
    i_UpdateUndoButtons();
    view_ControlsChanged();
}

void CWnd_CutterEditor::UndoRestore()
{
    const SPLINE_STRUCT* s = m_Undo.Current();
    if (!s)
        return;
    m_Shape = *s;
    DoRedrawSpline();
    OnChangeNodeSelection();
    NotifyMain_ShapeChanged(0);
}

void CWnd_CutterEditor::opUndo()
{
    if (m_Undo.Undo())
        UndoRestore();
    i_UpdateUndoButtons();
    view_ControlsChanged();
}

void CWnd_CutterEditor::opRedo()
{
    if (m_Undo.Redo())
        UndoRestore();
    i_UpdateUndoButtons();
    view_ControlsChanged();
}
