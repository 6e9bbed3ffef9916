// CWnd_CutterEditor: the knife editor without its window.
//
// Everything the knife editor decides lives here, so that it runs and is
// tested without any window: the preview geometry per zoom, the node hit
// rectangles and transform handles, the gestures of the preview (node drag,
// insertion on the curve, selection rectangle, scale and rotate handles with
// their snapping), the node commands and the shape menu, the editor's own
// undo, the status line fade, the clone modes and every notification to the
// main window, the layout parameters (rows, columns, thickness, knob size,
// anti-aliasing, razor cut), closing, Reset and the Cut.
//
// The window (CWnd_Cutter) derives from this class and from the toolkit's
// window: it forwards control messages, mouse, keys and timer ticks here,
// shows the state of m_Ctl in its controls, pops up the menus this class
// describes (ShapeMenu, CloneMenu) and overrides the view hooks. The curve
// and the extras are drawn here into two RGBA images of the preview's size,
// which the window adds to its layer set.
//
// The main window is reached through CCutterMainLink; the main window reaches
// the editor through CCutterLink. Single-threaded.
#pragma once

#include "app/CutterLink.h"
#include "core/2DMath.h"
#include "core/Array.h"
#include "core/Mem.h"
#include "core/Types.h"
#include "cutter/CutterModel.h"
#include "cutter/CutterMainLink.h"
#include "host/CutterProgress.h"
#include "imaging/Image.h"
#include "imaging/ImageDrawing.h"
#include "imaging/Layer.h"
#include "ui/StatusFader.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class CQNF_Storage;
class CTessolo;

// The status line, the toolkit's fade (CStatusFader) over a line the editor
// draws itself: it keeps the shown text and its opacity, and the new text
// goes on in the tick that finishes fading the old one out.
class CCutterStatusFader {
public:
    enum : uint8_t {
        kIdle = CStatusFader::Idle,
        kFadingIn = CStatusFader::FadingIn,
        kFadingOut = CStatusFader::FadingOut,
    };
    // A text equal to the pending one changes nothing.
    void Update(const std::string& text) { m_Fade.Request(text); }
    // One timer tick; true when the shown text or its opacity changed.
    bool Tick();
    const std::string& Shown() const { return m_Shown; }
    const std::string& Pending() const { return m_Fade.Pending(); }
    uint8_t Opacity() const { return m_Opacity; }
    uint8_t State() const { return m_Fade.GetState(); }

private:
    CStatusFader m_Fade;
    std::string m_Shown;
    uint8_t m_Opacity = 255;
};

// The editor's linear undo of the shape (nodes, smoothness, selection).
class CKnifeShapeUndo {
public:
    using SPLINE = CWnd_CutterModel::SPLINE_STRUCT;
    static constexpr uint32_t kDepth = 200;

    void Init(const SPLINE& shape);
    // Records shape as a new step; with check, nothing when it equals the
    // current snapshot. True when a step was recorded.
    bool OnNewOperation(const SPLINE& shape, bool check);
    bool CanUndo() const { return m_nCurrent > 0; }
    bool CanRedo() const { return m_nCurrent < m_nTop; }
    // Moves the current index; the snapshot to restore, or null.
    const SPLINE* Undo();
    const SPLINE* Redo();
    const SPLINE* Current() const;
    uint32_t CurrentIndex() const { return m_nCurrent; }
    uint32_t TopIndex() const { return m_nTop; }
    // Same count, H, U, S and selection (NaN never equal).
    static bool Equal(const SPLINE& a, const SPLINE& b);

private:
    std::vector<std::unique_ptr<SPLINE>> m_Snapshots;
    uint32_t m_nCurrent = 0;
    uint32_t m_nTop = 0;
};

class CWnd_CutterEditor : public CWnd_CutterModel, public CCutterLink, public CCutterProgressTarget {
public:
    // ---- Constants ----------------------------------------------------------
    static constexpr uint32_t kMaxNodes = CWnd_CutterModel::kMaxNodes;
    static constexpr double kInsertDistance = 3.0;  // px from the curve for an insertion
    static constexpr int32_t kMinBox = 14;          // dead zone of the scale handles
    // Toolkit message numbers and control types the editor handles.
    enum : uint16_t {
        MSG_SLIDER_FINAL = 256,
        MSG_SLIDER_TRACK = 261,
        MSG_CLICK = 272,
        MSG_EDIT = 288,
        MSG_POPUP = 304,
        MSG_SHORTCUT = 336
    };
    enum : uint8_t {
        CT_SLIDER = 1,
        CT_STATIC_IMAGE = 2,
        CT_STATIC_TEXT = 3,
        CT_PROGRESS = 4,
        CT_BUTTON = 5,
        CT_RADIO = 6,
        CT_CHECK = 7,
        CT_EDIT = 8,
        CT_MENU = 255
    };
    // Modifier bits of the toolkit.
    enum : uint8_t { KM_OPTION = 1, KM_SHIFT = 2, KM_CONTROL = 4, KM_COMMAND = 8, KM_SPACE = 16 };
    // Keys.
    enum : uint8_t { KEY_ESC = 7, KEY_FORWARD_DELETE = 8 };
    // Pop-up item ids.
    enum : uint16_t {
        ID_CLONE_FIRST = 16,  // 16..21: modes 0..5
        ID_CLONE_CUSTOM = 22,
        ID_SAVE_SHAPE = 32,
        ID_SELECT_ALL = 48,
        ID_DESELECT = 49,
        ID_INVERSE = 50,
        ID_DELETE = 51,
        ID_EXTRAS = 52,
        ID_ANCHORS = 53,
        ID_ALIGN_FIRST = 54,  // 54..59: top, v centre, bottom, left, h centre, right
        ID_DISTRIBUTE_V = 60,
        ID_DISTRIBUTE_H = 61,
        ID_UNDO = 62,
        ID_REDO = 63
    };
    // Cursor resource ids.
    enum : uint16_t {
        CUR_DEFAULT = 136,
        CUR_HORIZONTAL = 138,
        CUR_VERTICAL = 139,
        CUR_MOVE = 143,
        CUR_ROTATE = 144,
        CUR_BASE = 0  // outside the preview: the window's own cursor
    };
    // What a pop-up menu shows (separators have id 0 and text "-").
    struct MENUITEM {
        std::string text;
        uint16_t id;
        uint8_t enabled;
        uint8_t checked;
        const char* shortcut;  // shown only; null for none
    };
    static constexpr qntPOS kShapeMenuAtPreview = {2147483647, 2147483647};
    static constexpr qntPOS kClonePopupAt = {77, 384};
    // The same window points as the knife editor has always used, whatever
    // the skin's button places, so that a user's habits and guides hold.
    static constexpr qntPOS kSavePopupAt = {300, 109};
    static constexpr qntPOS kHelpPopupAt = {328, 30};

    // One clone mode: its menu item, its display text and its amounts.
    struct CLONEMODE {
        const char* menu;
        const char* display;
        float s, u, h;
        uint8_t setsAmounts;
    };
    static const CLONEMODE kCloneModes[7];

    // Node indices ordered by the nodes' U (byU) or H values, for Distribute.
    // An index at or past the node count, or no editor, compares equal, so a
    // stale index never reads outside the shape.
    class CNodesSorterIDS : public CQNF_DWordArray {
    public:
        CNodesSorterIDS(const CWnd_CutterEditor* editor, bool byU) : m_pEditor(editor), m_bByU(byU) {}
        // -1 when b's value is greater, 0 when equal, 1 otherwise.
        int CompareElements(const void* a, const void* b) override;

    private:
        const CWnd_CutterEditor* m_pEditor;
        bool m_bByU;
    };

    // What the controls show; the window copies it into its controls after
    // every call that changes it (view_ControlsChanged).
    struct CONTROLS {
        uint8_t undo = 0, redo = 0, reClone = 0;
        uint8_t cancel = 1, closeX = 1;
        uint8_t smoothnessEnabled = 0;
        uint32_t smoothnessSlider = 50;
        std::string smoothnessEdit;
        uint32_t rowsSlider = 1, columnsSlider = 1;
        std::string rowsEdit = "1", columnsEdit = "1";
        uint32_t thicknessSlider = 1;
        std::string thicknessEdit = "1";
        uint8_t thicknessEnabled = 0;
        uint32_t knobSlider = 100;
        std::string knobEdit = "100";
        uint8_t antiAliasing = 1, razorCut = 1, linkRC = 0;
        std::string cloneDisplay;
        uint8_t zoomRadio = 0;
        // While cutting: cover, abort button and progress bar shown, every
        // other control filtered.
        uint8_t cutting = 0;
        uint8_t progress = 0;
    };

    // The image handed to the Cut: the composite's alpha mask and the three
    // colour planes of the document, each width x height bytes.
    struct CUTSOURCE {
        long width = 0;
        long height = 0;
        uint8_t* mask = nullptr;
        uint8_t* planes[3] = {nullptr, nullptr, nullptr};
    };

    CWnd_CutterEditor();
    ~CWnd_CutterEditor() override;
    CWnd_CutterEditor(const CWnd_CutterEditor&) = delete;
    CWnd_CutterEditor& operator=(const CWnd_CutterEditor&) = delete;

    // ---- Set-up (by the main window, before creation) -------------------------
    void SetMain(CCutterMainLink* main) { m_pMain = main; }
    // "plugin.conf", or null while it is not open.
    void SetConf(CQNF_Storage* conf) { m_pConf = conf; }
    CQNF_Storage* GetConf() const { return m_pConf; }
    void SetEngine(CTessolo* engine) { m_pEngine = engine; }
    void SetCutSource(const CUTSOURCE& source) { m_CutSource = source; }
    // Effect records (92 bytes each, as stored) of the current pieces or the
    // pending ones of the last settings, and those of a loaded document.
    bool SetOpeningRecords(const uint8_t* bytes, uint32_t count);
    bool SetDocumentRecords(const uint8_t* bytes, uint32_t count);
    uint32_t GetDocumentRecordCount() const { return m_nDocumentRecords; }

    // ---- Creation ---------------------------------------------------------------
    // The headless part of the window's creation, for a preview of the given
    // rectangle (window coordinates) and the engine's current piece count:
    // the layers, the controls' states, the last knife, the undo, the layout
    // at opening and the cutter options. False when the layers cannot be made.
    bool OnCreate(qntRECT_s preview, uint32_t enginePieces);
    bool IsCreated() const { return m_bCreated != 0; }

    // ---- Window events (coordinates in the window) --------------------------------
    // Control messages: name and type select the control; data is the u32
    // value of a slider, the characters of an edit line's text, the u8 new
    // state of a check box, the u16 item id of a pop-up. False when not
    // handled.
    bool OnCtrlMessage(uint16_t message, uint32_t id, const char* name, uint8_t type, const void* data);
    bool OnCtrlLostFocus(const char* name, const char* text);
    bool OnLMouseDown(int16_t x, int16_t y, uint8_t modifiers);
    bool OnMouseMove(int16_t x, int16_t y, uint8_t modifiers);
    bool OnLMouseUp(int16_t x, int16_t y, uint8_t modifiers);
    bool OnKeyDown(uint8_t key, uint8_t modifiers);
    // Timer 1 (30 ms): the status fade. True when the status line changed.
    bool OnTimer(uint16_t timer);
    // True when the tick just counted is one of every fifth (the first, the
    // sixth, ...): the window then asks CursorAt for the mouse position.
    bool IsCursorTick() const { return m_bCursorTick != 0; }
    // The pop-up of the preview: the shape menu at (x, y) inside the preview
    // while no Cut runs.
    bool OnContextMenu(int16_t x, int16_t y);
    // The pointer is above a control (null name: none); its status tip is
    // asked for, except for the Cut's cover, abort button and progress bar.
    // Until the pointer leaves the controls, moves ask for no zone tip.
    void OnAboveControl(const char* name, uint8_t enabled, uint8_t type);
    // The cursor resource id for a window point (CUR_BASE outside the preview).
    uint16_t CursorAt(int16_t x, int16_t y) const;
    // The pending status tip for a control (empty name: none) or zone.
    void UpdateStatus(const std::string& text) { m_Status.Update(text); }
    const CCutterStatusFader& Status() const { return m_Status; }

    // ---- Menus as data ------------------------------------------------------------------
    std::vector<MENUITEM> ShapeMenu() const;
    std::vector<MENUITEM> CloneMenu() const;
    std::vector<MENUITEM> SaveMenu() const;
    // Where the shape menu opens: the given window point, or the preview's
    // top-left corner for kShapeMenuAtPreview.
    qntPOS ShapeMenuPoint(qntPOS at) const;
    // A pop-up item chosen (the commands of the table). False for other ids.
    bool OnCommand(uint16_t id);

    // ---- Node operations ----------------------------------------------------------------
    // point in preview coordinates.
    uint8_t opAddNode(qntFPOS point, uint8_t keepSelection, uint32_t position);
    void opDelSelectedNodes();
    void opSelectAllNodes();
    void opUnSelectAllNodes();
    void opInvertSelection();
    void opAlign(uint8_t mode);
    void opDistribute(uint8_t mode);
    void opFlipU();
    void opFlipH();
    void opSetSmoothness(double s, uint8_t commit);
    void opSetShapeFromData(const SPLINE_STRUCT& shape, uint8_t notify);
    void OnChangeNodeSelection();
    void opUndo();
    void opRedo();
    void opReclone() { NotifyMain_ShapeChanged(1); }
    void DoHideNodes();
    void DoHideExtras();
    void DoEsc();

    // ---- Cloning --------------------------------------------------------------------------
    void SetCloneMode(uint32_t mode);
    void OnCloneModeChanged();
    // The custom mutations dialog ended with OK: its amounts are stored and
    // become the editor's in the custom mode, which is then sent.
    void OnCustomMutationsOk(const CCustomMutationsModel& dialog, CQNF_Storage* conf);
    void NotifyMain_ShapeChanged(uint8_t onlySelectedNodes);
    void NotifyMain_ShapeChanged_FlipH();
    void NotifyMain_ShapeChanged_FlipU();

    // ---- Closing, Reset, Cut ------------------------------------------------------------------
    // Close request (Cancel, close box, Esc): false when refused.
    bool Close();
    bool IsClosed() const { return m_bClosed != 0; }
    void OnBtnReset();
    // The Cut; 1 when the pieces were made.
    uint8_t DoCutting();
    void DoStopCutting();
    // The row-column lookup of the carry-over: record k of records for
    // (row, column), through the table (built on first use).
    static bool i_DoCuttingSetFXByRC(uint8_t* out, const uint8_t* records, uint32_t count, uint32_t row,
                                     uint32_t column, CQNF_Mem* table);

    // ---- CCutterLink ------------------------------------------------------------------------
    bool IsOpen() const override { return m_bCreated && !m_bClosed; }
    const SHAPE& GetShape() const override;
    void GetMutation(float& s, float& h, float& u) const override;
    uint32_t GetKnobSize() const override { return m_nKnobSize; }
    uint32_t GetThickness() const override { return m_nThickness; }
    void ExtSetRows(uint32_t rows) override;
    void ExtSetColumns(uint32_t columns) override;
    void ShowRows(uint32_t rows) override { ExtSetRows(rows); }
    void NotifiedByMain_NewKnobSize(uint32_t size, uint8_t mixed) override;
    void NotifiedByMain_NewThickness(uint32_t thickness, uint8_t mixed, uint8_t razorCut) override;
    void SetAntiAlias(uint8_t on) override;
    void SetInitialStatesToControls() override;
    void opSetShapeFromData(const SHAPE& shape, uint8_t notify) override;

    // ---- CCutterProgressTarget -----------------------------------------------------------------
    void CutterProgress_SetBar(uint8_t percent) override;
    void CutterProgress_PumpEvents() override;
    bool CutterProgress_AbortRequested() const override { return m_bAbortRequested != 0; }

    // ---- Geometry (valid after every drawing) --------------------------------------------------
    struct GEOMETRY {
        double length = 0;  // L
        qntFPOS start{0, 0};
        qntFPOS end{0, 0};
        double hLimit = 1.0;
    };
    static GEOMETRY ComputeGeometry(int32_t width, int32_t height, uint8_t zoom);
    const GEOMETRY& Geometry() const { return m_Geo; }
    // The node centre in preview pixels (truncated) and exactly.
    qntPOS NodeCentre(uint32_t i) const;
    qntFPOS NodeCentreExact(uint32_t i) const;
    const qntRECT_s& NodeRect(uint32_t i) const { return m_NodeRects[i]; }
    const qntRECT_s& HandleRect(uint32_t i) const { return m_HandleRects[i]; }
    bool HandleEnabled(uint32_t i) const { return m_bHandleEnabled[i] != 0; }
    uint32_t SampledCount() const { return m_nSampled; }
    const qntFPOS* Sampled() const { return reinterpret_cast<const qntFPOS*>(m_Sampled.GetPtr()); }

    // Draws the curve and the extras (DoRedrawSpline) or the extras only.
    void DoRedrawSpline();
    void DoRedrawExtras(uint8_t show);
    // Layers placed over the preview rectangle, for the window's layer set.
    const CQNF_Layer& CurveLayer() const { return m_CurveLayer; }
    const CQNF_Layer& ExtrasLayer() const { return m_ExtrasLayer; }
    CQNF_Layer& CurveLayer() { return m_CurveLayer; }
    CQNF_Layer& ExtrasLayer() { return m_ExtrasLayer; }

    // ---- View hooks (the window overrides them) --------------------------------------------------
    virtual void view_ControlsChanged() {}
    // Composite and show the preview rectangle.
    virtual void view_UpdatePreview() {}
    virtual void view_Beep() {}
    // Key state at this moment (Option, Space; KM_* bits).
    virtual uint8_t view_GetKeysStatus() const { return m_nKeys; }
    // The status tip of a control or zone of the window "Cutter" (the
    // application's tip table); without one, the name itself.
    virtual std::string view_GetStatusTip(const char* name, uint8_t /*enabled*/, uint8_t /*type*/)
    {
        return name ? name : "";
    }
    // Every event of the editor while cutting (the abort button, Esc).
    virtual void view_PumpOwnEvents() {}
    // Dialogs and pop-ups the editor opens; the window overrides them.
    virtual void DoCloneMenu() {}
    virtual void DoShaperMenu(qntPOS /*at*/) {}
    virtual void SetCustomMutationsMode() {}
    virtual void DoAutoLayoutWindow() {}
    virtual void DoPresMngWindow() {}
    virtual void DoAddShapeToPresets() {}
    virtual void opLoadShape() {}
    virtual void opSaveShapeQNTH() {}
    virtual void DoHelpMenu() {}
    // A pop-up choice goes to the application's help menu first; true when
    // it was one of the help entries.
    virtual bool view_HelpMenuDispatcher(uint16_t /*id*/) { return false; }
    virtual void DoSaveMenu() {}
    // The base window closing itself (after the position is stored).
    virtual void view_Close() {}

    // ---- State (public: the window and the tests read it) -------------------------------------------
    CONTROLS m_Ctl;
    uint8_t m_nKeys = 0;  // key state when no window answers view_GetKeysStatus
    qntRECT_s m_rcPreview{0, 0, 0, 0};
    uint8_t m_nZoom = 0;
    double m_fNewSmoothness = 0.5;
    uint8_t m_bAnchorsShown = 1;
    uint8_t m_bExtrasVisible = 1;
    // Node drag.
    uint8_t m_bNodeDrag = 0;
    uint8_t m_nAnchorNode = 0;
    int32_t m_nGrabX = 0, m_nGrabY = 0;
    // Selection rectangle.
    uint8_t m_bSelRect = 0;
    int32_t m_SelRect[4] = {0, 0, 0, 0};  // start x, y, end x, y
    uint8_t m_SelAtStart[kMaxNodes] = {};
    // Handle drag.
    uint8_t m_bHandleDrag = 0;
    uint8_t m_nHandle = 0;
    int32_t m_HandleBox[4] = {0, 0, 0, 0};  // left, top, right, bottom of the selected centres
    int32_t m_HandleStart[2] = {0, 0};
    double m_HandleKept[kMaxNodes][2] = {};
    uint8_t m_bRotate = 0;
    double m_RotCentre[2] = {0, 0};
    int16_t m_nRotRadius = 0;
    int32_t m_RotGrip[2] = {0, 0};
    // Flags.
    uint8_t m_bCreated = 0;
    uint8_t m_bSmoothnessLive = 1;
    uint8_t m_bClosingAfterCut = 0;
    uint8_t m_bFXMatchedByRC = 0;
    uint8_t m_bClosed = 0;
    // Layout parameters.
    uint16_t m_nRows = 1;
    uint16_t m_nColumns = 1;
    uint16_t m_nThickness = 1;
    uint8_t m_bThicknessMixed = 0;
    uint16_t m_nKnobSize = 100;
    uint8_t m_bKnobMixed = 0;
    uint8_t m_bAntiAlias = 1;
    uint8_t m_bRazorCut = 1;
    // Guards and the Cut.
    uint8_t m_bNotifiedByMain = 0;
    uint8_t m_bCutting = 0;
    uint8_t m_bAbortRequested = 0;
    uint8_t m_bCancelAllowed = 1;
    // Every percentage the last Cut reported, in order (the bar shows the
    // multiples of 5).
    std::vector<uint8_t> m_CutReported;
    // The layout at opening (the main window's settings block).
    CQNF_Mem m_OpeningLayout;
    uint32_t m_nOpeningLayout = 0;
    CKnifeShapeUndo m_Undo;

protected:
    uint32_t i_SelectedCount() const;
    bool i_SelectedCentreBox(int32_t box[4]) const;
    void i_ComputeNodeRects();
    void i_ComputeHandles();
    bool i_SampleCurve();
    void OnNewOperation(bool check);
    void UndoRestore();
    void i_UpdateUndoButtons();
    // The history starts again from the shape as shown (creation, Reset).
    void UndoInit();
    void OnChangeUndoBtnsState(uint8_t undoEnabled, uint8_t redoEnabled);
    void i_EndDrags();
    void i_SetSmoothnessControls(uint32_t value, bool mixed);
    qntFPOS i_ToHU(double x, double y) const;
    void i_MoveSelectedTo(const qntFPOS* points);
    // Layout parameter controls.
    void i_OnGridSlider(bool rows, uint32_t value, bool final);
    // 1 select all, 0 deselect all, -1 inverse.
    void i_SetSelection(int mode);
    void i_OnThickness(uint32_t value, bool send);
    void i_OnKnob(uint32_t value, bool send);
    void i_OnRazor(uint8_t on);
    void DoUpdateCloneDisplay();
    void i_UpdateReClone();
    void i_CutPump();
    void i_CutReport(CCutterProgress& progress, uint8_t percent);
    uint8_t i_CutFail(bool piecesGone);

    CCutterMainLink* m_pMain = nullptr;
    CQNF_Storage* m_pConf = nullptr;
    CTessolo* m_pEngine = nullptr;
    CUTSOURCE m_CutSource;
    CCutterStatusFader m_Status;
    // A control lies under the pointer: its tip stands, the preview's zone
    // tip is not asked for over it.
    uint8_t m_bAboveControl = 0;
    uint32_t m_nTicks = 0;
    uint8_t m_bCursorTick = 0;
    GEOMETRY m_Geo;
    qntRECT_s m_NodeRects[kMaxNodes] = {};
    qntRECT_s m_HandleRects[8] = {};
    uint8_t m_bHandleEnabled[8] = {};
    CQNF_2DMath m_Math;
    CQNF_2DMath::QNSPLINEPOINT m_SplinePoints[kMaxNodes + 2] = {};
    CQNF_Mem m_Sampled;
    CQNF_Mem m_SampledIndex;
    uint32_t m_nSampled = 0;
    CQNF_Layer m_CurveLayer;
    CQNF_Layer m_ExtrasLayer;
    CQNF_ImageDrawing m_Drawing;
    mutable SHAPE m_LinkShape;
    CQNF_Mem m_OpeningRecords;
    uint32_t m_nOpeningRecords = 0;
    CQNF_Mem m_DocumentRecords;
    uint32_t m_nDocumentRecords = 0;
    uint8_t m_bCancelAtOpening = 1;
};
