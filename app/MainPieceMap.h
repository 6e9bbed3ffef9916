// What the main window's commands, menus and preview input ask of the piece
// map and of the dialogs they open, as two small interfaces.
//
// The piece map (selection, visibility, effects and their undo) and the
// dialogs (preferences, the two exports) live in files of their own; the
// window reaches them only through these calls, so its commands and gestures
// are tested with recording stand-ins. Without a piece map the piece-mode
// commands do nothing; without dialogs their commands do nothing.
#pragma once

#include "core/Types.h"

#include <cstdint>
#include <vector>

class CMainPieceMap {
public:
    static constexpr uint32_t kNone = 0xFFFFFFFFu;
    virtual ~CMainPieceMap() = default;

    // ---- Queries ----------------------------------------------------------
    virtual uint32_t GetPieceCount() const = 0;
    // The piece at an image point, or kNone.
    virtual uint32_t GetPieceByXY(int32_t x, int32_t y) const = 0;
    virtual bool IsPieceSelected(uint32_t piece) const = 0;
    virtual bool IsPieceHidden(uint32_t piece) const = 0;
    // The opacity the piece's opacity effect gives it (255: opaque or off).
    virtual uint8_t GetPieceOpacity(uint32_t piece) const = 0;
    // Whether the pieces were cut with the knife lines as a piece of their
    // own (piece 0, the splitter piece): razor cut off at the cut.
    virtual bool HasSplitterPiece() const = 0;
    virtual bool EffectClipboardEmpty() const = 0;
    virtual bool ExtrasShown() const = 0;
    // The effect-state word of a piece, or of the considered pieces for kNone.
    virtual uint16_t i_pmfx_GetFXOnSelection(uint32_t piece) const = 0;
    // The block anchor of range selection (kNone: none).
    virtual uint32_t GetAnchor() const = 0;
    virtual void SetAnchor(uint32_t piece) = 0;
    // The piece and effect-state word a menu command applies to.
    virtual void SetMenuContext(uint32_t piece, uint16_t fxState) = 0;

    // ---- Selection ----------------------------------------------------------
    virtual void pmop_Sel_SetSelectionToPiece(uint32_t piece, uint8_t add, uint8_t remove, uint8_t redraw) = 0;
    virtual void pmop_Sel_SelectAllPieces(uint8_t redraw) = 0;
    virtual void pmop_Sel_DeselectAllPieces(uint8_t redraw) = 0;
    virtual void pmop_Sel_InvertPiecesSelection(uint8_t redraw) = 0;
    virtual void pmop_Sel_RandomSelection(uint8_t select, uint8_t redraw) = 0;
    virtual void pmop_Sel_AllHidenOrShown(uint8_t hidden, uint8_t redraw) = 0;
    virtual void pmop_Sel_PieceBlockSelection(uint8_t add, uint8_t remove, uint32_t from, uint32_t to,
                                              uint8_t redraw) = 0;
    // A rectangle relative to the preview; the lasso's points are preview
    // points packed as (x << 16) | y.
    virtual void pmop_Sel_SelectRectLocal(qntRECT_s rect, uint8_t add, uint8_t remove, uint8_t redraw) = 0;
    virtual void pmop_Sel_SelectFreeRgnLocal(const std::vector<uint32_t>& points, uint8_t add, uint8_t remove,
                                             uint8_t redraw) = 0;
    virtual void pmop_LoadSelection(uint8_t redraw) = 0;
    // The outline of a drag selection: prepared once, drawn at each move
    // (rectangle from the press point, or the lasso through points), hidden.
    virtual void i_pmop_PrepareSelLayer() = 0;
    virtual void i_pmop_RedrawDragSelection(qntPOS press, qntPOS now, bool rectangle,
                                            const std::vector<uint32_t>& points) = 0;
    virtual void i_pmop_HideDragSelection() = 0;

    // ---- Visibility and extras ----------------------------------------------
    virtual void pmop_ShowHideSelectedPieces(uint8_t show, uint8_t redraw) = 0;
    virtual void pmop_ShowHidePiece(uint32_t piece, uint8_t show, uint8_t redraw) = 0;
    virtual void pmop_ReverseShownHidden(uint8_t redraw) = 0;
    virtual void pmop_Extras(uint8_t show, uint8_t redraw) = 0;

    // ---- Effects --------------------------------------------------------------
    // bit: 0 blur, 1 bevel, 2 hue-saturation, 3 colour overlay, 4 brightness-
    // contrast, 5 motion blur, 6 opacity, 7 invert, 8 stroke, 9 image overlay.
    // explicitValue 1: set the effect to value; 0: toggle it.
    virtual void pmfx_SwitchFX(uint8_t bit, uint8_t explicitValue, uint8_t value) = 0;
    virtual void pmop_CopyAdjustments(uint32_t piece) = 0;
    virtual void pmop_PasteAdjustments(uint32_t piece) = 0;
    virtual void pmop_ResetAdjustments() = 0;
    // Opens the effect window of a bit (the window enters effects mode).
    virtual void pmfx_DoEffect(uint8_t bit) = 0;

    // ---- Undo ------------------------------------------------------------------
    virtual void unpm_PreSave() = 0;
    virtual void unpm_SaveState(uint8_t commit) = 0;
    virtual void unpm_Restore() = 0;
    virtual bool unpm_HasStep() const = 0;
};

// The dialogs the window's commands open, and what the cut map needs of the
// document channels.
class CMainDialogs {
public:
    virtual ~CMainDialogs() = default;
    virtual void DoPrefDialog() = 0;
    virtual void DoExportDialog() = 0;
    virtual void DoExportLMDialog() = 0;
    // Loads a channel as the knife selection (cut mode).
    virtual void op_LoadSelection(uint8_t redraw) = 0;
};
