// CPieceMap: the main window's piece map, without any window.
//
// After a Cut the main window works on the pieces of the engine's piece
// table: it selects them (one by one, by block, rectangle, free-hand region,
// at random, all, none, inverted, the hidden or the shown ones), shows and
// hides them, switches each effect on or off, copies, pastes and resets
// effects, re-renders exactly the pieces whose requested effects differ from
// what their pixels show, composites the changed area again, and keeps a
// one-step undo of all of it. A selection map (one byte a pixel, 255 under
// a selected piece) is painted as the selection changes; the window shows
// it over the preview.
//
// The main window derives from this class and supplies the view through the
// virtual pm_ hooks (preview redraw, overlay, control refresh, status line
// progress, event pumping, the open effect window). Everything else runs
// headless on a real engine split: Begin() binds the engine, the rendered
// image, the composite alpha and the selection map.
//
// Re-rendering is never re-entered: while one runs (its progress may pump
// window events), a nested request only records its piece list, which the
// running one takes over at its next step; compositing asked for meanwhile
// is added to the running one's area; undo waits until it has finished.
//
// Piece indices are u32; 0xFFFFFFFF means none or "the selection".
// Single-threaded, like the rest of the plug-in.
#pragma once

#include "core/Array.h"
#include "core/Mem.h"
#include "core/Types.h"
#include "engine/Tessolo.h"
#include "host/WindowProgress.h"

#include <cstdint>
#include <vector>

class CQNF_Image;
class CQNF_RandomSource;

class CPieceMap {
public:
    static constexpr uint32_t kNone = 0xFFFFFFFFu;
    static constexpr uint32_t kUndoRecord = CTessolo::kSettingsRecordSize;  // 92 bytes a piece

    // Effect numbers: the bits of the effect-state word.
    enum FX : uint8_t {
        FX_BLUR = 0,
        FX_BEVEL = 1,
        FX_HSL = 2,
        FX_COLOROVERLAY = 3,
        FX_BRIGHTCONTRAST = 4,
        FX_MOTIONBLUR = 5,
        FX_OPACITY = 6,
        FX_INVERT = 7,
        FX_STROKE = 8,
        FX_IMAGEOVERLAY = 9
    };
    static constexpr uint16_t kSomeHidden = 1u << 14;
    static constexpr uint16_t kSomeShown = 1u << 15;

    CPieceMap();
    virtual ~CPieceMap();
    CPieceMap(const CPieceMap&) = delete;
    CPieceMap& operator=(const CPieceMap&) = delete;

    // ---- Set-up ---------------------------------------------------------------
    // Binds the piece map to the engine's pieces (piece mode begins): image
    // is the rendered RGBA picture (width x height), document the picture
    // the pieces were cut from (its colours are where every composite of
    // image starts, as Apply's does), alpha the composite alpha plane and
    // selMap the selection map, both width x height with stride width, none
    // of them owned. Paints the selection map from the pieces' flags, clears
    // the block anchor and the undo step; allocates the undo buffer. False
    // (nothing bound) on a memory failure or unusable arguments.
    bool pm_Begin(CTessolo* engine, CQNF_Image* image, const CQNF_Image* document, const uint8_t* alpha,
                  uint8_t* selMap, uint32_t width, uint32_t height, uint8_t colorMode);
    // Unbinds (cut mode again, or the pieces are gone).
    void pm_End();
    bool pm_IsBound() const { return m_pEngine != nullptr && m_pSelMap != nullptr; }
    void pm_SetRandomSource(CQNF_RandomSource* random);
    uint32_t pm_PieceCount() const { return m_pEngine ? m_pEngine->m_nPieces : 0; }
    const uint8_t* pm_SelMap() const { return m_pSelMap; }
    // The first piece that area selections consider: 1 while the engine's
    // piece 0 is the knife lines, else 0 (the setting of the cut itself, not
    // of the layout edited since).
    uint32_t pm_FirstAreaPiece() const { return m_pEngine && m_pEngine->m_bLinesMode ? 1 : 0; }

    // ---- Queries (the commands and gestures) ------------------------------------
    uint32_t GetPieceCount() const { return pm_PieceCount(); }
    uint32_t GetPieceByXY(int32_t x, int32_t y) const { return GetPieceByXY(qntPOS{x, y}); }
    bool IsPieceSelected(uint32_t piece) const { return piece < pm_PieceCount() && i_Piece(piece)->selected; }
    bool IsPieceHidden(uint32_t piece) const { return piece < pm_PieceCount() && !i_Piece(piece)->shown; }
    // The opacity the piece's applied opacity effect gives it (255: opaque or off).
    uint8_t GetPieceOpacity(uint32_t piece) const;
    bool HasSplitterPiece() const { return pm_FirstAreaPiece() == 1; }
    bool EffectClipboardEmpty() const { return m_bFXClipEmpty != 0; }
    bool ExtrasShown() const { return m_bPMOverlay != 0; }
    uint32_t GetAnchor() const { return m_nBlockAnchor; }
    void SetAnchor(uint32_t piece) { m_nBlockAnchor = piece; }
    // The piece and effect-state word the next menu command applies to.
    void SetMenuContext(uint32_t piece, uint16_t fxState)
    {
        m_nMenuPiece = piece;
        m_nMenuFXState = fxState;
    }

    // ---- Selection and visibility ----------------------------------------------
    uint32_t GetPieceByXY(qntPOS p) const;
    void pmop_Sel_SelectAllPieces(uint8_t redraw);
    void pmop_Sel_DeselectAllPieces(uint8_t redraw);
    void pmop_Sel_SetSelectionToPiece(uint32_t piece, uint8_t add, uint8_t remove, uint8_t redraw);
    void pmop_Sel_SelectSplitter(uint8_t add, uint8_t redraw);
    void pmop_Sel_InvertPiecesSelection(uint8_t redraw);
    void pmop_Sel_PieceBlockSelection(uint8_t add, uint8_t remove, uint32_t pieceA, uint32_t pieceB, uint8_t redraw);
    void pmop_Sel_SelectRect(qntRECT_s r, uint8_t add, uint8_t remove, uint8_t redraw);
    void pmop_Sel_SelectFreeRgn(const long* xs, const long* ys, long n, uint8_t add, uint8_t remove, uint8_t redraw);
    void pmop_Sel_RandomSelection(uint8_t add, uint8_t redraw);
    void pmop_Sel_AllHidenOrShown(uint8_t hidden, uint8_t redraw);
    void pmop_ShowHidePiece(uint32_t piece, uint8_t show, uint8_t redraw);
    void pmop_ShowHideSelectedPieces(uint8_t show, uint8_t redraw);
    void pmop_ReverseShownHidden(uint8_t redraw);
    void pmop_Extras(uint8_t on, uint8_t redraw);
    // Composites the shown pieces into the rendered image within r.
    void pmop_DoRerenderRect(qntRECT_s r, uint8_t redraw, uint8_t fromPercent, uint8_t toPercent);
    // Selects pieces from a channel (one byte a pixel, width x height, row
    // stride width): operation 0 new, 1 add, 2 subtract, 3 intersect; a
    // piece counts as inside when one of its pixels is below 128 (above 127
    // with invert).
    void pmop_LoadSelectionFromMap(const uint8_t* map, uint32_t width, uint32_t height, uint8_t operation,
                                   uint8_t invert, uint8_t redraw);

    qntRECT_s i_pmop_GetPieceRealRect(uint32_t piece) const;
    static uint32_t i_pmop_PtInRgn(const long* xs, const long* ys, long n, long x, long y);
    uint32_t i_pmop_RectRgnIntersection(const long* xs, const long* ys, long n, qntRECT_s r);
    uint8_t i_pmop_CheckPieceByMap(uint32_t piece, const uint8_t* map, uint32_t width, uint32_t height,
                                   uint8_t threshold, uint8_t invert) const;
    uint16_t i_pmfx_GetFXOnSelection(uint32_t piece) const;
    // The effect check boxes and the Show/Hide buttons follow the selection.
    void OnCommonFXChanged();
    void OnPMSelChanged() { OnCommonFXChanged(); }
    void OnPMFXChanged() { OnCommonFXChanged(); }
    uint32_t SelectedCount() const;

    // ---- Effects --------------------------------------------------------------
    // Switches one effect for the menu piece or the selection (all pieces when
    // none is selected): explicit 1 sets it to on, 0 toggles it against the
    // menu effect state (captured here when none is).
    void pmfx_SwitchFX(uint8_t effect, uint8_t explicitOn, uint8_t on);
    void pmop_CopyAdjustments(uint32_t piece);
    void pmop_PasteAdjustments(uint32_t piece);
    void pmop_ResetAdjustments();
    // The same for every piece, selected or not (after a new cut).
    void pm_ResetAllPieces();
    // The re-render API the effect windows use as well: renders every listed
    // piece whose requested effects differ from its applied ones and
    // composites the union of their boxes once, with the progress in the
    // status line. Called while one runs, it records the list for the
    // running one to restart with and returns 1 at once. 0 when the engine
    // failed to render a piece (what was rendered is still composited).
    uint8_t pmop_RerenderPieces(const CQNF_DWordArray* pieces, uint8_t redraw, uint8_t interruptible);
    uint8_t pmop_RerenderPieces(const std::vector<uint32_t>& pieces, uint8_t redraw, uint8_t interruptible);
    uint8_t i_pmop_CheckPieceFXUpdates(uint32_t piece) const;
    bool pm_IsRendering() const { return m_bBusy != 0; }
    bool pm_ClipboardEmpty() const { return m_bFXClipEmpty != 0; }

    // Set by the menus before a command acts on one piece or toggles.
    uint16_t m_nMenuFXState = 0xFFFF;
    uint32_t m_nMenuPiece = kNone;
    // The piece last clicked: where a Shift-click block selection starts.
    uint32_t m_nBlockAnchor = kNone;

    // ---- Undo -------------------------------------------------------------------
    void unpm_PreSave();
    void unpm_SaveState(uint8_t compare);
    void unpm_Restore();
    bool unpm_HasStep() const { return !m_bUnpmEmpty; }
    // The current piece (the one last clicked), saved and restored with a step.
    uint32_t m_nCurrentPiece = kNone;

protected:
    // ---- View hooks (the window overrides them) ---------------------------------
    // Redraw the preview (full; high quality or quick).
    virtual void pm_RedrawPreview(uint8_t /*highQuality*/) {}
    // The overlay of the selection map was switched on or off.
    virtual void pm_OnExtrasChanged(uint8_t /*on*/) {}
    // Bring the effect check boxes and Show/Hide buttons up to date.
    virtual void pm_RefreshControls(uint16_t /*fxWord*/) {}
    // The status line fades from a progress text back to its tip.
    virtual void pm_StatusDone() {}
    // Where the status progress goes; null: nowhere.
    virtual CMainProgressTarget* pm_ProgressTarget() { return nullptr; }
    // Pending window events, between the batches of pieces of an interruptible
    // re-render.
    virtual void pm_ProcessEvents() {}
    virtual bool pm_HasFXWindow() const { return false; }
    virtual void pm_DeleteFXWindow() {}
    // Renders one piece from its requested effects.
    virtual bool pm_RenderPiece(uint32_t piece);
    // Renders pieces side by side on the machine's threads; how many of
    // them, from the first, were rendered (all of them, or 0 on a failure).
    // With an area, composites where those pieces lie (the rendered ones
    // among them) in the same job, as the progress from 70 to 100.
    virtual uint32_t pm_RenderPieces(const std::vector<uint32_t>& pieces, const std::vector<uint32_t>* area = nullptr);

    CTessolo::SPLITEDCELL* i_Piece(uint32_t i) const { return &m_pEngine->m_pPieces[i]; }
    void i_RedrawEnding(uint8_t redraw);
    void i_PaintPiece(uint32_t piece, uint8_t value);
    void i_DeselectAllQuiet();
    void i_Take(uint32_t piece, uint8_t remove);
    void i_SetProgress(const char* text);
    void i_Report(uint8_t percent);
    void i_EndProgress();
    void i_ShowHideList(const std::vector<uint32_t>& pieces, int show, uint8_t redraw);
    void i_CloseFXWindow();
    void i_SwitchFX(uint8_t effect, uint8_t explicitOn, uint8_t on);
    void i_Reset(const std::vector<uint32_t>& targets);
    std::vector<uint32_t> i_TargetsSelectedOrAll() const;
    uint8_t i_RerenderRun(uint8_t redraw, uint8_t interruptible);
    bool i_Composite(qntRECT_s r, uint8_t fromPercent, uint8_t toPercent);
    // Only where the pieces lie, row by row inside their boxes (after their
    // effects changed), after rendering `render` in the same job.
    bool i_CompositePieces(const std::vector<uint32_t>& pieces, uint8_t fromPercent, uint8_t toPercent,
                           const std::vector<uint32_t>* render = nullptr);

    CTessolo* m_pEngine = nullptr;
    CQNF_Image* m_pImage = nullptr;
    const uint8_t* m_pAlpha = nullptr;
    // What the composites' alpha is limited by: the composite alpha, or
    // none when it is 255 everywhere (a picture without selection or
    // transparency), which limits nothing and would only be read.
    const uint8_t* m_pLimit = nullptr;
    uint8_t* m_pSelMap = nullptr;
    uint32_t m_nWidth = 0;
    uint32_t m_nHeight = 0;
    uint8_t m_nColorMode = 1;
    const uint8_t* m_pStart[3] = {};  // the document's colour planes
    uint8_t m_bPMOverlay = 1;
    CQNF_RandomSource* m_pRandom = nullptr;
    // One reporter for the map's whole life: the engine holds it while it
    // renders or composites, and an operation run from the events it pumps
    // must not replace it.
    class CPieceProgress : public CMainProgress {
    public:
        void Restart() { m_lastPercent = 0xFF; }
    };
    CPieceProgress m_Progress;
    uint8_t m_bEndPending = 0;  // pm_End asked for while a render ran
    void i_EndIfPending();
    // Composites r and whatever was asked for meanwhile; then what waited.
    void i_CompositeAll(qntRECT_s r, uint8_t fromPercent, uint8_t toPercent);
    void i_AfterBusy();

    // Effects: the clipboard (one piece's applied blocks) and the re-render guard.
    CTessolo::SFX_ONEPIECE m_FXClip{};
    uint8_t m_bFXClipEmpty = 1;
    uint8_t m_bBusy = 0;
    uint8_t m_bRestart = 0;
    uint8_t m_bFXDeletePending = 0;
    std::vector<uint32_t> m_RenderList;   // the list the running re-render works on
    std::vector<uint32_t> m_PendingList;  // the newest list asked for while it runs
    qntRECT_s m_PendingRect = qnNullRect;  // compositing asked for while it runs

    // Undo: held step then pre-save area, 92 bytes a piece each.
    CQNF_Mem m_Unpm;
    uint32_t m_nUnpmPieces = 0;
    uint8_t m_bUnpmEmpty = 1;
    uint32_t m_nUnpmPrePiece = kNone;
    uint32_t m_nUnpmHeldPiece = kNone;
};

// qntRECT_s helpers of the piece map: union (a null rectangle is empty).
qntRECT_s qnUnionRect(qntRECT_s a, qntRECT_s b);
