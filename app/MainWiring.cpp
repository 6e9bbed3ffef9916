#include "app/MainWiring.h"

#include "app/Wnd_Main.h"

uint32_t CMainPieceMapLink::GetPieceCount() const { return m_w.CPieceMap::GetPieceCount(); }

uint32_t CMainPieceMapLink::GetPieceByXY(int32_t x, int32_t y) const
{
    return m_w.CPieceMap::GetPieceByXY(qntPOS{x, y});
}

bool CMainPieceMapLink::IsPieceSelected(uint32_t piece) const { return m_w.CPieceMap::IsPieceSelected(piece); }
bool CMainPieceMapLink::IsPieceHidden(uint32_t piece) const { return m_w.CPieceMap::IsPieceHidden(piece); }
uint8_t CMainPieceMapLink::GetPieceOpacity(uint32_t piece) const { return m_w.CPieceMap::GetPieceOpacity(piece); }
bool CMainPieceMapLink::HasSplitterPiece() const { return m_w.CPieceMap::HasSplitterPiece(); }
bool CMainPieceMapLink::EffectClipboardEmpty() const { return m_w.CPieceMap::EffectClipboardEmpty(); }
bool CMainPieceMapLink::ExtrasShown() const { return m_w.CPieceMap::ExtrasShown(); }

uint16_t CMainPieceMapLink::i_pmfx_GetFXOnSelection(uint32_t piece) const
{
    return m_w.CPieceMap::i_pmfx_GetFXOnSelection(piece);
}

uint32_t CMainPieceMapLink::GetAnchor() const { return m_w.CPieceMap::GetAnchor(); }

void CMainPieceMapLink::SetAnchor(uint32_t piece)
{
    // The gestures set the anchor on the piece just clicked; that piece is
    // also the current one, whose settings an effect window starts from.
    m_w.CPieceMap::SetAnchor(piece);
    m_w.m_nCurrentPiece = piece;
}

void CMainPieceMapLink::SetMenuContext(uint32_t piece, uint16_t fxState)
{
    m_w.CPieceMap::SetMenuContext(piece, fxState);
}

// ---- Selection ------------------------------------------------------------------

void CMainPieceMapLink::pmop_Sel_SetSelectionToPiece(uint32_t piece, uint8_t add, uint8_t remove, uint8_t redraw)
{
    m_w.CPieceMap::pmop_Sel_SetSelectionToPiece(piece, add, remove, redraw);
}

void CMainPieceMapLink::pmop_Sel_SelectAllPieces(uint8_t redraw) { m_w.CPieceMap::pmop_Sel_SelectAllPieces(redraw); }

void CMainPieceMapLink::pmop_Sel_DeselectAllPieces(uint8_t redraw)
{
    m_w.CPieceMap::pmop_Sel_DeselectAllPieces(redraw);
}

void CMainPieceMapLink::pmop_Sel_InvertPiecesSelection(uint8_t redraw)
{
    m_w.CPieceMap::pmop_Sel_InvertPiecesSelection(redraw);
}

void CMainPieceMapLink::pmop_Sel_RandomSelection(uint8_t select, uint8_t redraw)
{
    m_w.CPieceMap::pmop_Sel_RandomSelection(select, redraw);
}

void CMainPieceMapLink::pmop_Sel_AllHidenOrShown(uint8_t hidden, uint8_t redraw)
{
    m_w.CPieceMap::pmop_Sel_AllHidenOrShown(hidden, redraw);
}

void CMainPieceMapLink::pmop_Sel_PieceBlockSelection(uint8_t add, uint8_t remove, uint32_t from, uint32_t to,
                                                     uint8_t redraw)
{
    m_w.CPieceMap::pmop_Sel_PieceBlockSelection(add, remove, from, to, redraw);
}

void CMainPieceMapLink::pmop_Sel_SelectRectLocal(qntRECT_s rect, uint8_t add, uint8_t remove, uint8_t redraw)
{
    m_w.pmop_Sel_SelectRectLocal(rect, add, remove, redraw);
}

void CMainPieceMapLink::pmop_Sel_SelectFreeRgnLocal(const std::vector<uint32_t>& points, uint8_t add, uint8_t remove,
                                                    uint8_t redraw)
{
    m_w.pmop_Sel_SelectFreeRgnLocal(points, add, remove, redraw);
}

void CMainPieceMapLink::pmop_LoadSelection(uint8_t redraw) { m_w.pmop_LoadSelection(redraw); }
void CMainPieceMapLink::i_pmop_PrepareSelLayer() { m_w.i_pmop_PrepareSelLayer(); }

void CMainPieceMapLink::i_pmop_RedrawDragSelection(qntPOS press, qntPOS now, bool rectangle,
                                                   const std::vector<uint32_t>& points)
{
    m_w.i_pmop_RedrawDragSelection(press, now, rectangle, points);
}

void CMainPieceMapLink::i_pmop_HideDragSelection() { m_w.i_pmop_HideDragSelection(); }

// ---- Visibility and extras -----------------------------------------------------------

void CMainPieceMapLink::pmop_ShowHideSelectedPieces(uint8_t show, uint8_t redraw)
{
    m_w.CPieceMap::pmop_ShowHideSelectedPieces(show, redraw);
}

void CMainPieceMapLink::pmop_ShowHidePiece(uint32_t piece, uint8_t show, uint8_t redraw)
{
    m_w.CPieceMap::pmop_ShowHidePiece(piece, show, redraw);
}

void CMainPieceMapLink::pmop_ReverseShownHidden(uint8_t redraw) { m_w.CPieceMap::pmop_ReverseShownHidden(redraw); }
void CMainPieceMapLink::pmop_Extras(uint8_t show, uint8_t redraw) { m_w.CPieceMap::pmop_Extras(show, redraw); }

// ---- Effects and undo ----------------------------------------------------------------

void CMainPieceMapLink::pmfx_SwitchFX(uint8_t bit, uint8_t explicitValue, uint8_t value)
{
    m_w.CPieceMap::pmfx_SwitchFX(bit, explicitValue, value);
}

void CMainPieceMapLink::pmop_CopyAdjustments(uint32_t piece) { m_w.CPieceMap::pmop_CopyAdjustments(piece); }
void CMainPieceMapLink::pmop_PasteAdjustments(uint32_t piece) { m_w.CPieceMap::pmop_PasteAdjustments(piece); }
void CMainPieceMapLink::pmop_ResetAdjustments() { m_w.CPieceMap::pmop_ResetAdjustments(); }
void CMainPieceMapLink::pmfx_DoEffect(uint8_t bit) { m_w.pmfx_DoEffect(bit); }

void CMainPieceMapLink::unpm_PreSave() { m_w.CPieceMap::unpm_PreSave(); }
void CMainPieceMapLink::unpm_SaveState(uint8_t commit) { m_w.CPieceMap::unpm_SaveState(commit); }
void CMainPieceMapLink::unpm_Restore() { m_w.CPieceMap::unpm_Restore(); }
bool CMainPieceMapLink::unpm_HasStep() const { return m_w.CPieceMap::unpm_HasStep(); }

// ---- The window's side ----------------------------------------------------------------

void CWnd_Main::i_WireUp()
{
    if (!m_pOwnPieceMap)
        m_pOwnPieceMap = std::make_unique<CMainPieceMapLink>(*this);
    SetPieceMap(m_pOwnPieceMap.get());
    if (!m_pOwnDialogs)
        m_pOwnDialogs = std::make_unique<CMainDialogsLink>(*this);
    SetDialogs(m_pOwnDialogs.get());
}
