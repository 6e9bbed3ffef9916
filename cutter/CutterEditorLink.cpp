// The knife editor and the main window: cloning and its mutation modes, the
// layout parameters (grid, thickness, knob size, razor cut) both ways, and
// the shape and mutation the main window reads (CCutterLink).
#include "cutter/CutterEditor.h"
#include "cutter/CutterEditorHelpers.h"

#include <algorithm>
#include <cmath>
#include <cstring>

using namespace cutteredit;

// ---- Cloning -----------------------------------------------------------------------------

void CWnd_CutterEditor::SetCloneMode(uint32_t mode)
{
    if (mode > 6)
        return;
    m_nCloneMode = mode;
    OnCloneModeChanged();
}

void CWnd_CutterEditor::OnCloneModeChanged()
{
    if (m_nCloneMode < 7 && kCloneModes[m_nCloneMode].setsAmounts) {
        m_fMutS = kCloneModes[m_nCloneMode].s;
        m_fMutU = kCloneModes[m_nCloneMode].u;
        m_fMutH = kCloneModes[m_nCloneMode].h;
    }
    i_UpdateReClone();
    DoUpdateCloneDisplay();
    view_ControlsChanged();
    NotifyMain_ShapeChanged(1);
}

void CWnd_CutterEditor::OnCustomMutationsOk(const CCustomMutationsModel& dialog, CQNF_Storage* conf)
{
    CWnd_CutterModel::OnCustomMutationsOk(dialog, conf);
    OnCloneModeChanged();
}

void CWnd_CutterEditor::DoUpdateCloneDisplay()
{
    if (m_nCloneMode < 7)
        m_Ctl.cloneDisplay = kCloneModes[m_nCloneMode].display;
}

void CWnd_CutterEditor::i_UpdateReClone()
{
    const uint32_t n = std::min<uint32_t>(m_Shape.nodeCount, kMaxNodes);
    m_Ctl.reClone = m_nCloneMode != 0 && (i_SelectedCount() > 0 || n == 0);
}

void CWnd_CutterEditor::NotifyMain_ShapeChanged(uint8_t onlySelectedNodes)
{
    if (m_nCloneMode == 0 || !m_pMain)
        return;
    m_pMain->OnCutterUpdateShape(m_fMutS, m_fMutH, m_fMutU, onlySelectedNodes, 1);
}

void CWnd_CutterEditor::NotifyMain_ShapeChanged_FlipH()
{
    if (m_nCloneMode == 0 || !m_pMain)
        return;
    m_pMain->OnCutterUpdateShape_FlipH(m_fMutS, m_fMutH, m_fMutU);
}

void CWnd_CutterEditor::NotifyMain_ShapeChanged_FlipU()
{
    if (m_nCloneMode == 0 || !m_pMain)
        return;
    m_pMain->OnCutterUpdateShape_FlipU(m_fMutS, m_fMutH, m_fMutU);
}

// ---- Layout parameters -------------------------------------------------------------------

void CWnd_CutterEditor::i_OnGridSlider(bool rows, uint32_t value, bool final)
{
    // The slider moved and the one it may be linked to.
    const uint32_t v = GridCells(value);
    uint32_t& mine = rows ? m_Ctl.rowsSlider : m_Ctl.columnsSlider;
    uint32_t& other = rows ? m_Ctl.columnsSlider : m_Ctl.rowsSlider;
    std::string& otherEdit = rows ? m_Ctl.columnsEdit : m_Ctl.rowsEdit;
    mine = v;
    (rows ? m_Ctl.rowsEdit : m_Ctl.columnsEdit) = Number(v);
    if (!m_pMain)
        return;
    if (!final && ((view_GetKeysStatus() & KM_SHIFT) || m_Ctl.linkRC)) {
        other = GridCells(rows ? m_pMain->icGetIdealColumnsForRows(v) : m_pMain->icGetIdealRowsForColumns(v));
        otherEdit = Number(other);
    }
    if (final)
        m_pMain->OnCutterUpdateRowsCols(m_Ctl.rowsSlider, m_Ctl.columnsSlider);
    else
        m_pMain->OnCutterUpdateRowsCols_ShowLines(m_Ctl.rowsSlider, m_Ctl.columnsSlider);
}

void CWnd_CutterEditor::i_OnThickness(uint32_t value, bool final)
{
    const uint32_t t = std::clamp<uint32_t>(value, 1, 100);
    m_nThickness = uint16_t(t);
    m_Ctl.thicknessSlider = t;
    m_Ctl.thicknessEdit = Number(t);
    if (final && !m_bNotifiedByMain && m_pMain)
        m_pMain->OnCutterUpdateKnifeThickness(t, m_bRazorCut);
}

void CWnd_CutterEditor::i_OnKnob(uint32_t value, bool final)
{
    const uint32_t k = KnobSize(value);
    m_nKnobSize = uint16_t(k);
    m_Ctl.knobSlider = k;
    m_Ctl.knobEdit = Number(k);
    if (final && !m_bNotifiedByMain && m_pMain)
        m_pMain->OnCutterUpdateKnifeSize(k);
}

void CWnd_CutterEditor::i_OnRazor(uint8_t on)
{
    m_bRazorCut = on;
    m_Ctl.razorCut = on;
    m_Ctl.thicknessEnabled = on ? 0 : 1;
    if (!m_bNotifiedByMain && m_pMain)
        m_pMain->OnCutterUpdateKnifeThickness(m_nThickness, m_bRazorCut);
}

void CWnd_CutterEditor::ExtSetRows(uint32_t rows)
{
    // Kept as the editor's own too: the controls are filled from it again
    // at creation and by Reset.
    const uint32_t r = GridCells(rows);
    m_nRows = uint16_t(r);
    m_Ctl.rowsSlider = r;
    m_Ctl.rowsEdit = Number(r);
    view_ControlsChanged();
}

void CWnd_CutterEditor::ExtSetColumns(uint32_t columns)
{
    const uint32_t c = GridCells(columns);
    m_nColumns = uint16_t(c);
    m_Ctl.columnsSlider = c;
    m_Ctl.columnsEdit = Number(c);
    view_ControlsChanged();
}

void CWnd_CutterEditor::NotifiedByMain_NewKnobSize(uint32_t size, uint8_t mixed)
{
    m_bNotifiedByMain = 1;
    m_nKnobSize = uint16_t(KnobSize(size));
    m_bKnobMixed = mixed;
    if (m_bCreated) {
        m_Ctl.knobSlider = m_nKnobSize;
        // Mixed sizes show " ???"; otherwise the slider's notification
        // writes the number (the guard keeps it from going back).
        if (mixed)
            m_Ctl.knobEdit = " ???";
        else
            i_OnKnob(m_nKnobSize, true);
        view_ControlsChanged();
    }
    m_bNotifiedByMain = 0;
}

void CWnd_CutterEditor::NotifiedByMain_NewThickness(uint32_t thickness, uint8_t mixed, uint8_t razorCut)
{
    m_bNotifiedByMain = 1;
    m_nThickness = uint16_t(std::clamp<uint32_t>(thickness, 1, 100));
    m_bThicknessMixed = mixed;
    m_bRazorCut = razorCut;
    if (m_bCreated) {
        i_OnRazor(razorCut);
        m_Ctl.thicknessSlider = m_nThickness;
        if (mixed)
            m_Ctl.thicknessEdit = " ???";
        else
            i_OnThickness(m_nThickness, true);
        view_ControlsChanged();
    }
    m_bNotifiedByMain = 0;
}

void CWnd_CutterEditor::SetAntiAlias(uint8_t on)
{
    m_bAntiAlias = on;
    m_Ctl.antiAliasing = on;
    view_ControlsChanged();
}

void CWnd_CutterEditor::SetInitialStatesToControls()
{
    m_Ctl.rowsSlider = GridCells(m_nRows);
    m_Ctl.rowsEdit = Number(m_Ctl.rowsSlider);
    m_Ctl.columnsSlider = GridCells(m_nColumns);
    m_Ctl.columnsEdit = Number(m_Ctl.columnsSlider);
    m_Ctl.thicknessSlider = std::clamp<uint32_t>(m_nThickness, 1, 100);
    m_Ctl.thicknessEdit = m_bThicknessMixed ? " ???" : Number(m_Ctl.thicknessSlider);
    m_Ctl.knobSlider = KnobSize(m_nKnobSize);
    m_Ctl.knobEdit = m_bKnobMixed ? " ???" : Number(m_Ctl.knobSlider);
    m_Ctl.antiAliasing = m_bAntiAlias;
    m_Ctl.razorCut = m_bRazorCut;
    m_Ctl.thicknessEnabled = m_bRazorCut ? 0 : 1;
    DoUpdateCloneDisplay();
    view_ControlsChanged();
}

// ---- CCutterLink --------------------------------------------------------------------------

const CCutterLink::SHAPE& CWnd_CutterEditor::GetShape() const
{
    m_LinkShape = ToLinkShape(m_Shape);
    return m_LinkShape;
}

void CWnd_CutterEditor::GetMutation(float& s, float& h, float& u) const
{
    s = m_fMutS;
    h = m_fMutH;
    u = m_fMutU;
}

void CWnd_CutterEditor::opSetShapeFromData(const SHAPE& shape, uint8_t notify)
{
    opSetShapeFromData(FromLinkShape(shape), notify);
}
