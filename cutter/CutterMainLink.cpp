// The knife editor's calls answered by the layout model.
#include "cutter/CutterMainLink.h"

#include "app/MainModel.h"

void CCutterMainAdapter::OnCutterUpdateShape(float mutS, float mutH, float mutU, uint8_t onlySelectedNodes,
                                             uint8_t undo)
{
    m_Main.OnCutterUpdateShape(mutS, mutH, mutU, onlySelectedNodes, undo);
}

void CCutterMainAdapter::OnCutterUpdateShape_FlipH(float mutS, float mutH, float mutU)
{
    m_Main.OnCutterUpdateShape_FlipH(mutS, mutH, mutU);
}

void CCutterMainAdapter::OnCutterUpdateShape_FlipU(float mutS, float mutH, float mutU)
{
    m_Main.OnCutterUpdateShape_FlipU(mutS, mutH, mutU);
}

void CCutterMainAdapter::OnCutterUpdateRowsCols(uint32_t rows, uint32_t columns)
{
    m_Main.OnCutterUpdateRowsCols(rows, columns);
}

void CCutterMainAdapter::OnCutterUpdateRowsCols_ShowLines(uint32_t rows, uint32_t columns)
{
    m_Main.OnCutterUpdateRowsCols_ShowLines(rows, columns);
}

void CCutterMainAdapter::OnCutterUpdateKnifeThickness(uint32_t thickness, uint8_t razorCut)
{
    m_Main.OnCutterUpdateKnifeThickness(thickness, razorCut);
}

void CCutterMainAdapter::OnCutterUpdateKnifeSize(uint32_t knobSize) { m_Main.OnCutterUpdateKnifeSize(knobSize); }

void CCutterMainAdapter::OnCutterUpdateAntiAliasing(uint8_t on) { m_Main.OnCutterUpdateAntiAliasing(on); }

uint32_t CCutterMainAdapter::icGetIdealColumnsForRows(uint32_t rows) { return m_Main.icGetIdealColumnsForRows(rows); }

uint32_t CCutterMainAdapter::icGetIdealRowsForColumns(uint32_t columns)
{
    return m_Main.icGetIdealRowsForColumns(columns);
}

bool CCutterMainAdapter::settings_SaveCurLayoutAndCellSettingsToMem(CQNF_Mem* block, uint32_t& length)
{
    return m_Main.settings_SaveCurLayoutAndCellSettingsToMem(block, length);
}

bool CCutterMainAdapter::settings_LoadCurLayoutAndCellSettingsFromMem(const uint8_t* data, uint32_t length)
{
    uint32_t count = 0;
    return m_Main.settings_LoadCurLayoutAndCellSettingsFromMem(data, length, nullptr, count, 1);
}

void CCutterMainAdapter::uncm_SaveResetState()
{
    m_Main.uncm_SaveState(CWnd_MainModel::CMUNDO_LAYOUT, CWnd_MainModel::CMSUB_RESET);
}

void CCutterMainAdapter::GetGridState(uint16_t& rows, uint16_t& columns, uint8_t& razorCut, uint8_t& antiAlias)
{
    rows = uint16_t(m_Main.m_nRowSplitters + 1u);
    columns = uint16_t(m_Main.m_nColSplitters + 1u);
    razorCut = m_Main.m_bRazorCut;
    antiAlias = m_Main.m_bAntiAlias;
}

bool CCutterMainAdapter::engine_PutLayoutToPuzzleEngine(CTessolo* engine)
{
    return m_Main.engine_PutLayoutToPuzzleEngine(engine) != 0;
}
