// What the main window's commands, menus and preview gestures reach in the
// running program: the window's own piece map (CPieceMap, which the window
// derives from) behind the commands' CMainPieceMap interface.
//
// The window makes one when it is created and hands it to SetPieceMap, so
// every piece-mode command, menu choice and gesture acts on the real pieces.
// Selections in preview coordinates, the drag outline, a selection from a
// document channel and the effect windows are the window's own additions;
// everything else is the piece map's.
//
// CMainFxLink is what the effect windows ask of the window: its busy flag,
// the current piece, re-rendering, effect mode, the checkerboard colours,
// the view shortcuts and help (MainWiringFx.cpp).
//
// The same way CMainDialogsLink opens the Preferences and the two export
// dialogs over the window, with the application's services
// (MainWiringDialogs.cpp).
#pragma once

#include "app/MainPieceMap.h"
#include "core/RandomSource.h"
#include "effects/FxPluginLink.h"

class CWnd_Main;

class CMainPieceMapLink final : public CMainPieceMap {
public:
    explicit CMainPieceMapLink(CWnd_Main& window) : m_w(window) {}

    uint32_t GetPieceCount() const override;
    uint32_t GetPieceByXY(int32_t x, int32_t y) const override;
    bool IsPieceSelected(uint32_t piece) const override;
    bool IsPieceHidden(uint32_t piece) const override;
    uint8_t GetPieceOpacity(uint32_t piece) const override;
    bool HasSplitterPiece() const override;
    bool EffectClipboardEmpty() const override;
    bool ExtrasShown() const override;
    uint16_t i_pmfx_GetFXOnSelection(uint32_t piece) const override;
    uint32_t GetAnchor() const override;
    void SetAnchor(uint32_t piece) override;
    void SetMenuContext(uint32_t piece, uint16_t fxState) override;

    void pmop_Sel_SetSelectionToPiece(uint32_t piece, uint8_t add, uint8_t remove, uint8_t redraw) override;
    void pmop_Sel_SelectAllPieces(uint8_t redraw) override;
    void pmop_Sel_DeselectAllPieces(uint8_t redraw) override;
    void pmop_Sel_InvertPiecesSelection(uint8_t redraw) override;
    void pmop_Sel_RandomSelection(uint8_t select, uint8_t redraw) override;
    void pmop_Sel_AllHidenOrShown(uint8_t hidden, uint8_t redraw) override;
    void pmop_Sel_PieceBlockSelection(uint8_t add, uint8_t remove, uint32_t from, uint32_t to,
                                      uint8_t redraw) override;
    void pmop_Sel_SelectRectLocal(qntRECT_s rect, uint8_t add, uint8_t remove, uint8_t redraw) override;
    void pmop_Sel_SelectFreeRgnLocal(const std::vector<uint32_t>& points, uint8_t add, uint8_t remove,
                                     uint8_t redraw) override;
    void pmop_LoadSelection(uint8_t redraw) override;
    void i_pmop_PrepareSelLayer() override;
    void i_pmop_RedrawDragSelection(qntPOS press, qntPOS now, bool rectangle,
                                    const std::vector<uint32_t>& points) override;
    void i_pmop_HideDragSelection() override;

    void pmop_ShowHideSelectedPieces(uint8_t show, uint8_t redraw) override;
    void pmop_ShowHidePiece(uint32_t piece, uint8_t show, uint8_t redraw) override;
    void pmop_ReverseShownHidden(uint8_t redraw) override;
    void pmop_Extras(uint8_t show, uint8_t redraw) override;

    void pmfx_SwitchFX(uint8_t bit, uint8_t explicitValue, uint8_t value) override;
    void pmop_CopyAdjustments(uint32_t piece) override;
    void pmop_PasteAdjustments(uint32_t piece) override;
    void pmop_ResetAdjustments() override;
    void pmfx_DoEffect(uint8_t bit) override;

    void unpm_PreSave() override;
    void unpm_SaveState(uint8_t commit) override;
    void unpm_Restore() override;
    bool unpm_HasStep() const override;

private:
    CWnd_Main& m_w;
};

class CMainDialogsLink final : public CMainDialogs {
public:
    explicit CMainDialogsLink(CWnd_Main& window) : m_w(window) {}

    // OK: the preview takes the new colours at once, the knives the new
    // opacity in cut mode; all ten records go to "plugin.conf".
    void DoPrefDialog() override;
    // The pieces export (piece mode) and the knives export (cut mode).
    void DoExportDialog() override;
    void DoExportLMDialog() override;
    void op_LoadSelection(uint8_t redraw) override;

private:
    CWnd_Main& m_w;
};

class CMainFxLink final : public CFxPluginLink {
public:
    CMainFxLink(CWnd_Main& window, CPluginMain& plugin) : CFxPluginLink(plugin), m_w(window) {}

    uint32_t FxCurrentPiece() override;
    bool FxBusy() override;
    bool FxRerenderPieces(const std::vector<uint32_t>& pieces, bool interruptible) override;
    void FxExitMode() override;
    CQNF_RandomSource& FxRandom() override { return m_random; }
    CQNF_Window* FxParentWindow() override;
    void FxCheckerColors(qntRGBA8& first, qntRGBA8& second) override;
    void FxEnterMode() override;
    unsigned char FxForwardShortcut(unsigned short msg, unsigned long id, char* name, unsigned char type,
                                    void* data) override;
    void FxFillHelpMenu(CQNF_PlatformPopupMenu& menu) override;
    unsigned char FxHelpChosen(unsigned short item, CQNF_Window* window) override;
    // The document layers list (MainWiringFx.cpp).
    FxAlphaDisplay FxTransparencyDisplay() override;
    const char* FxLayersTip(const char* name, bool enabled, uint8_t kind) override;
    void FxFillLayersHelpMenu(CQNF_PlatformPopupMenu& menu) override { FxFillHelpMenu(menu); }
    unsigned char FxLayersHelpChosen(unsigned short item, CQNF_Window* window) override
    {
        return FxHelpChosen(item, window);
    }

private:
    CWnd_Main& m_w;
    CQNF_StdRandom m_random;
};
