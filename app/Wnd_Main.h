// CWnd_Main: the plug-in's main window over the layout model.
//
// It builds the window "Main" of the resource storage (every control, the
// rulers, the source image and its navigator, the preview, the overlay
// layers the model draws the knives into), keeps the controls in step with
// the mode (cut mode while the knife editor is open, piece mode after a
// Cut, effect mode while an effect window is open), shows the information
// panel, the fading status line and the status tips, and closes with Apply
// or Cancel, which ends the run.
//
// Constructed without being created (tools, tests, the fuzz targets) it is
// the plain layout model: every view hook then does what the model's does.
//
// Files: Wnd_MainCreate.cpp (construction), Wnd_MainModes.cpp (modes, the
// knife editor hand-over, closing, control messages), Wnd_MainStatus.cpp
// (information panel, status line, timer, source image and navigator).
#pragma once

#include "app/MainDisplays.h"
#include "app/MainInput.h"
#include "app/MainMenus.h"
#include "app/MainPieceMap.h"
#include "app/MainModel.h"
#include "app/PieceMap.h"
#include "app/Preferences.h"
#include "host/WindowProgress.h"
#include "imaging/Layer.h"
#include "ui/CtrlPreview.h"
#include "ui/Window.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class CPluginMain;
class CQNF_CtrlStaticText;
class CQNF_CtrlSlider;
class CQNF_CtrlEditLine;
class CFxWindowLink;
class CWndFX_Base;

// The knife editor as the main window opens it. Until the editor window
// exists a minimal editor stands in (CCutterStandIn): it holds the current
// shape and settings, never cuts, and keeps the run in cut mode.
class CMainCutter : public CCutterLink {
public:
    // Shows the editor; false when it cannot be made.
    virtual bool Open(CQNF_Window* parent) = 0;
    // True when the editor cut the image into pieces during this opening.
    virtual bool WasCut() const { return false; }
    // True while the editor makes pieces: the main window then takes no
    // command of its own.
    virtual bool IsCutting() const { return false; }
    // True when the layout changed since the pieces got their effects.
    virtual bool LayoutChanged() const { return false; }
    virtual void SaveLastKnife() {}
    virtual void settings_SaveWindowPosition() {}
    // The effect records its Cut matches to the pieces (92 bytes each).
    virtual void SetEffectRecords(const uint8_t* /*records*/, uint32_t /*count*/) {}
    // A loaded document's effect records: they come before those above
    // until the editor's Reset forgets them.
    virtual void SetDocumentRecords(const uint8_t* /*records*/, uint32_t /*count*/) {}
};

class CWnd_Main : public CQNF_Window, public CWnd_MainModel, public CPieceMap, public CMainProgressTarget {
public:
    using CWnd_MainModel::kNone;  // both bases name "none" the same way

    CWnd_Main();
    ~CWnd_Main() override;

    // ---- Host side ---------------------------------------------------------
    CPluginMain* m_pPlugin = nullptr;
    void SetPlugin(CPluginMain* plugin);
    // Makes the knife editor the window opens; null: the stand-in.
    using CutterFactory = std::unique_ptr<CMainCutter> (*)();
    void SetCutterFactory(CutterFactory factory) { m_CutterFactory = factory; }

    // ---- State read by the host adapter after the loop --------------------
    uint8_t m_bApply = 0;
    uint8_t m_bCreated = 0;
    uint8_t m_bFXMode = 0;
    uint8_t m_bPMExtras = 0;
    uint8_t m_nUnits = 1;
    CQNF_Image m_MainImage;    // the pieces composited, document size, RGBA
    CQNF_Image m_SourceImage;  // the document as RGBA
    CQNF_Mem m_SelMask;
    uint8_t* m_pSelMask = nullptr;
    int64_t m_nHoverPiece = -1;
    CPreferences m_Prefs;

    // ---- Window --------------------------------------------------------------
    void Close() override;
    unsigned char OnCreate(CQNF_LayerSet* layers, unsigned short width, unsigned short height) override;
    unsigned char OnTimer(unsigned short id) override;
    unsigned char OnAboveControl(unsigned long index) override;
    unsigned char OnCtrlMessage(unsigned short msg, unsigned long id, char* name, unsigned char type,
                                void* data) override;
    unsigned char OnRMouseDown(short, short, unsigned char) override { return 0; }
    unsigned char OnRMouseUp(short, short, unsigned char) override { return 0; }
    void OnCtrlLostFocus(unsigned long index) override;

    // ---- Modes and closing -----------------------------------------------------
    void OnChangeMode();
    void EnterFXMode();
    void ExitFXMode();
    void OnChangeExtrasState();
    bool DoCutterWindow() override;
    void OnCutterClose();
    uint8_t OnApply();
    void localClose() override;
    CMainCutter* GetCutter() const { return m_pCutterWnd.get(); }

    // ---- Displays -----------------------------------------------------------------
    void UpdateInfoPanel(qntPOS p, unsigned char outside);
    void UpdateStatus(const char* text);
    void UpdateStatusProgress(const char* text, uint8_t percent) override;
    void ProcessPendingEvents() override;
    bool StopRequested() override;
    void EndStatusProgress() override { pm_StatusDone(); }
    uint8_t GetSourceDataInRGBA();
    uint8_t SetSourceToNavigator();
    const CStatusFader& GetFader() const { return m_Fader; }
    CQNF_CtrlPreview& GetPreview() { return m_Preview; }

    // A control of the window by name and type, or null.
    CQNF_Control* FindControl(const char* name, uint8_t type) const;
    unsigned long FindControlId(const char* name, uint8_t type) const;

    // ---- Commands and menus (MainCommands.cpp) ----------------------------
    // The piece map and the dialogs the commands reach; null: nothing happens.
    void SetPieceMap(CMainPieceMap* map) { m_pPieceMap = map; }
    void SetDialogs(CMainDialogs* dialogs) { m_pDialogs = dialogs; }
    CMainPieceMap* GetPieceMap() const { return m_pPieceMap; }
    // Opens the effect window of an effect bit (effect mode until it
    // closes); effects without a window are refused quietly (MainWiring.cpp).
    void pmfx_DoEffect(uint8_t bit);
    // The same for one effect each (the commands pass the bit they hold).
    void pmfx_DoBlur() { pmfx_DoEffect(CPieceMap::FX_BLUR); }
    void pmfx_DoBevel() { pmfx_DoEffect(CPieceMap::FX_BEVEL); }
    void pmfx_DoHSL() { pmfx_DoEffect(CPieceMap::FX_HSL); }
    void pmfx_DoColorOverlay() { pmfx_DoEffect(CPieceMap::FX_COLOROVERLAY); }
    void pmfx_DoBrightContrast() { pmfx_DoEffect(CPieceMap::FX_BRIGHTCONTRAST); }
    void pmfx_DoMotionBlur() { pmfx_DoEffect(CPieceMap::FX_MOTIONBLUR); }
    void pmfx_DoOpacity() { pmfx_DoEffect(CPieceMap::FX_OPACITY); }
    void pmfx_DoStroke() { pmfx_DoEffect(CPieceMap::FX_STROKE); }
    void pmfx_DoImageOverlay() { pmfx_DoEffect(CPieceMap::FX_IMAGEOVERLAY); }
    // The effect window last opened (closed once effect mode ended), or null.
    CWndFX_Base* GetFXWindow() const { return m_pFXWnd.get(); }
    // The commands of shortcuts (336), menus (304), buttons, effect check
    // boxes and the preview; false for messages it leaves to the caller.
    bool cmd_Dispatch(unsigned short msg, unsigned long id, const char* name, unsigned char type, void* data,
                      unsigned char& result);
    unsigned char OnShortcut(unsigned long command);
    unsigned char OnMenuCommand(unsigned short item);
    unsigned char OnButton(const char* name);
    qntMENUSTATE GetMenuState() const;
    void DoPreviewMenu(qntPOS p);
    void DoMesurementMenu(qntPOS p);
    unsigned char OnContextMenu(short x, short y, unsigned char mods) override;
    // Documents (MainDocuments.cpp).
    void OnSaveDocument();
    void OnLoadDocument();
    // Menu context of the last menu.
    CQNF_DWordArray m_MenuKnives;
    uint32_t m_MenuKnot = 0xFFFFFFFFu;
    uint32_t m_MenuPiece = 0xFFFFFFFFu;
    uint16_t m_RulerSplitter = 0;
    uint8_t m_bRulerRows = 0;
    qntPOS m_RulerPoint{0, 0};

    // ---- Preview input (MainInput.cpp) -----------------------------------
    unsigned char OnLMouseDown(short x, short y, unsigned char mods) override;
    unsigned char OnMouseMove(short x, short y, unsigned char mods) override;
    unsigned char OnLMouseUp(short x, short y, unsigned char mods) override;
    unsigned char OnSetCursor(short x, short y) override;
    unsigned char OnKeyDown(unsigned char key, unsigned char mods) override;
    unsigned char OnKeyChar(unsigned char ch, unsigned char mods) override;
    // Redraws the knives that meet the dragged knot into the overlay.
    void spl_DoRedrawOnKnotMoving(uint8_t update);
    const qntGESTURE& GetGesture() const { return m_Gesture; }

    // ---- Model hooks ------------------------------------------------------------------
    void view_RenderAndUpdate(qntRECT_s rect) override;
    void view_StatusClear() override;
    void view_ControlsChanged() override;
    void view_RandomKnotsControls(uint32_t percent, uint8_t notify, bool field) override;
    void ShowMessageBox(const char* text, const char* title) override;
    // The pieces' effects as the engine's piece table holds them now: the
    // effect windows, the piece map's switches and their undo change the
    // engine's records, and the last settings, the scripting descriptor and
    // documents must keep what the user sees.
    bool settings_GetPieceRecords(CQNF_Mem* records, uint32_t& count) override;

    // ---- Piece map (Wnd_MainPieces.cpp) -----------------------------------------
    // Binds the piece map to the pieces just composited; false on a memory
    // failure.
    bool BeginPieceMode(int32_t width, int32_t height, const uint8_t* alpha);
    // Selects pieces (piece mode) or knives (cut mode) from a document
    // channel chosen in the channels dialog (the command brackets the undo).
    void pmop_LoadSelection(uint8_t redraw);
    void op_LoadSelection(uint8_t unused);
    // The document channels dialog over the host's channels; 1 after OK.
    long DoChannelListDialog(class CWnd_ChannelList& dialog, uint8_t combineAllowed, uint8_t tipMode);
    // Selections in preview coordinates (the mouse gestures): the corners or
    // the points (window coordinates, x in the high and y in the low 16
    // bits) become image coordinates through the preview.
    void pmop_Sel_SelectRectLocal(qntRECT_s r, uint8_t add, uint8_t remove, uint8_t redraw);
    void pmop_Sel_SelectFreeRgnLocal(const CQNF_DWordArray* points, uint8_t add, uint8_t remove, uint8_t redraw);
    // The outline of a selection being dragged, in the second overlay layer:
    // prepared when the drag starts, redrawn on every move (window
    // coordinates). m_bPMRectDrag, m_PMDragStart and m_PMFreePoints are set
    // by the gestures.
    void i_pmop_PrepareSelLayer();
    void i_pmop_RedrawDragSelection(short x, short y);
    // The same for gestures that keep their own state: press and now in
    // window coordinates, the lasso's points relative to the preview.
    void pmop_Sel_SelectFreeRgnLocal(const std::vector<uint32_t>& previewPoints, uint8_t add, uint8_t remove,
                                     uint8_t redraw);
    void i_pmop_RedrawDragSelection(qntPOS press, qntPOS now, bool rectangle,
                                    const std::vector<uint32_t>& previewPoints);
    void i_pmop_HideDragSelection();
    uint8_t m_bPMRectDrag = 1;
    qntPOS m_PMDragStart{0, 0};
    CQNF_DWordArray m_PMFreePoints;
    // The source the dialog reads channels from (tests set their own).
    class CChannelSource* m_pChannelSource = nullptr;

protected:
    uint32_t i_PackPreview(int32_t x, int32_t y) const;
    void pm_RedrawPreview(uint8_t highQuality) override;
    void pm_OnExtrasChanged(uint8_t on) override;
    void pm_RefreshControls(uint16_t fxWord) override;
    void pm_StatusDone() override;
    CMainProgressTarget* pm_ProgressTarget() override { return this; }
    void pm_ProcessEvents() override;
    // The open effect window (MainWiringFx.cpp).
    bool pm_HasFXWindow() const override;
    void pm_DeleteFXWindow() override;

private:
    bool i_AddControls();
    bool i_AddControl(const char* name, uint8_t type, unsigned long* id = nullptr);
    void i_ApplyState(const qntCTRLSTATE& s);
    void i_SetEnabled(const char* name, uint8_t type, uint8_t enabled);
    void i_SyncOverlayLayers();
    void i_SyncViewFromPreview();
    // Binds the preview to image with the window's scroll bars, rulers and navigator.
    void i_BindPreview(CQNF_Image* image);
    bool i_CreateOverlayLayers();
    qntINFOVIEW i_InfoView() const;
public:
    // Where the window's picture lies on the canvas the host handed: a
    // transparent border is left out of the cut, not out of the picture,
    // so the image size shown and the exported files keep the whole canvas.
    struct CANVAS {
        uint32_t width = 0, height = 0;  // the canvas
        uint32_t left = 0, top = 0;      // the window's picture on it
    };
    CANVAS i_Canvas() const;
private:
    uint8_t i_TipMode() const { return m_bCutMode ? 2 : m_bFXMode ? 4 : 3; }
    void i_Help();
    void i_ShowProgressLine(bool force);
    // What lies under a still pointer changes with the mode, the pieces and
    // the view, and when a dialog or menu over it goes: the tip and the
    // information panel are asked for again for where the pointer is now.
    void i_AskTipForPointer();
    void i_ShowInfoForPointer();
    bool i_PointerOver(qntPOS m) const;
    void i_ShowInfoAt(qntPOS m, bool over);

    struct CtrlRef {
        const char* name;
        uint8_t type;
        unsigned long id;
    };
    std::vector<CtrlRef> m_Ctrls;
    uint32_t m_SmallFont = None, m_InfoFont = None, m_EditFont = None;
    unsigned long m_idPreview = None;
    CQNF_CtrlStaticText* m_pInfo = nullptr;
    CQNF_CtrlStaticText* m_pStatus = nullptr;
    CQNF_CtrlSlider* m_pZoom = nullptr;
    CQNF_CtrlSlider* m_pRndSlider = nullptr;
    CQNF_CtrlEditLine* m_pRndEdit = nullptr;
    CQNF_CtrlPreview m_Preview;
    uint32_t m_idKnivesLayer = None, m_idSelKnivesLayer = None, m_idOverlayLayer = None;
    uint32_t m_idHRulerLayer = None, m_idVRulerLayer = None;

    // Commands and input.
    void i_FitOnPreview();
    void i_SetZoomSlider(int32_t value);
    uint8_t i_ShowExtrasToggle();
    void i_in_FullRedraw();
    void i_in_Refresh();
    void i_in_StartKnotDrag(uint32_t knot);
    void i_in_MoveKnot(short x, short y);
    void i_in_MoveSplitter(short x, short y);
    bool i_in_PressCut(short x, short y, bool cmd, bool shift, bool option);
    void i_in_PressPiece(short x, short y, bool cmd, bool shift, bool option);
    void i_in_StatusTip(short x, short y);
    void i_in_HoverLookup(short x, short y);
    // The piece at an image point (-1 none), looked up again only when the
    // point differs from the last one asked for or the pieces changed.
    int64_t i_in_PieceAt(qntPOS image);
    void i_in_ForgetHoverPiece() { m_Gesture.hoverImagePoint = qnNullPOS; }
    int32_t i_in_Cursor(short x, short y);
    CMainPieceMap* m_pPieceMap = nullptr;
    CMainDialogs* m_pDialogs = nullptr;
    // The window's own piece map and dialogs behind the commands'
    // interfaces, made and set when the window is created (MainWiring.cpp).
    std::unique_ptr<CMainPieceMap> m_pOwnPieceMap;
    std::unique_ptr<CMainDialogs> m_pOwnDialogs;
    // The effect windows' link to this window, then the effect window last
    // opened (it refers to the link, so it goes first).
    std::unique_ptr<CFxWindowLink> m_pFxLink;
    std::unique_ptr<CWndFX_Base> m_pFXWnd;
    void i_WireUp();
    qntGESTURE m_Gesture;

    std::unique_ptr<CMainCutter> m_pCutterWnd;
    CutterFactory m_CutterFactory = nullptr;
    std::unique_ptr<LastSettingsStore> m_pStore;

    CStatusFader m_Fader;
    std::string m_ProgressLine;
    uint8_t m_bProgressPending = 0;
    qntPOS m_LastInfoPos{0, 0};
    qntPOS m_LastMousePos{-32000, -32000};
    uint8_t m_nMouseTick = 0;
    static constexpr unsigned long kAskTipAgain = 0xFFFFFFFE;
    unsigned long m_LastTipControl = kAskTipAgain;
    uint8_t m_LastTipMode = 0;
    // The pointer is over a mode badge, which leaves the tip shown alone.
    uint8_t m_bBadgeKeepsTip = 0;
    bool i_IsModeBadge(unsigned long index) const;
};
