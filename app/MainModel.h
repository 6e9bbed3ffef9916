// CWnd_MainModel: the main window's layout model, without any window.
//
// It holds the cut map the user edits in cut mode: the column and row
// splitters, the knots at their crossings (each moved by an offset), one grid
// knife on every splitter segment between two knots, and extra knives that
// join any two knots. Around it: the editing operations, the three automatic
// tilings, the drawing of the knives into overlay images, the settings block
// that stores a whole layout (documents, "last.data", the host's scripting
// descriptor), the one-step undo of the cut map, and the hand-over of the
// layout to the cutting engine.
//
// The main window derives from this class: it supplies the view through the
// virtual hooks below (render and blit a rectangle, status line, control
// states, message boxes, closing) and forwards its control messages, mouse
// and keys to the operations. The knife editor is reached through
// CCutterLink; random operations draw from an injectable CQNF_RandomSource.
//
// Knife ids: column knife k is k, row knife k is 1 000 000 + k, extra knife k
// is 2 000 000 + k, in every list of knives the operations take or return.
//
// Single-threaded, like the rest of the plug-in.
#pragma once

#include "app/CutterLink.h"
#include "core/2DMath.h"
#include "core/Array.h"
#include "core/Mem.h"
#include "core/RandomSource.h"
#include "core/Types.h"
#include "engine/LayoutLimits.h"
#include "imaging/Image.h"
#include "imaging/ImageDrawing.h"
#include "imaging/Layer.h"

#include <cstdint>
#include <string>
#include <vector>

class CTessolo;

// Writes the 32 bits of a float most significant byte first: every float of
// the settings block goes through it.
void qnPlatformFLOATtoMac(float value, unsigned char* out);

// Error numbers of the layout model beyond the core's.
namespace qnerr {
inline constexpr unsigned short LayoutBlockDamaged = 96;    // a settings block failed its checks
inline constexpr unsigned short LayoutUnknownFormat = 97;   // a document without a known magic
inline constexpr unsigned short LayoutEngineMismatch = 98;  // the engine's layout does not match the cut map
}  // namespace qnerr

// Names for the one-byte flags of the cut-map operations below, whose
// signatures stay byte-wide: a call reads
// op_Flip(kFlipH, kNoFlip, kOnlySelected, kRedraw), not op_Flip(1, 0, 1, 1).
namespace cutflag {
inline constexpr uint8_t kNoRedraw = 0, kRedraw = 1;                    // redraw the knives afterwards
inline constexpr uint8_t kAllKnives = 0, kOnlySelected = 1;             // which knives an operation touches
inline constexpr uint8_t kAllNodes = 0, kOnlySelectedNodes = 1;         // which nodes of a shape change
inline constexpr uint8_t kDeselect = 0, kSelect = 1;                    // the selection value to set
inline constexpr uint8_t kHide = 0, kShow = 1;                          // knives switched off or on
inline constexpr uint8_t kShownKnives = 0, kHiddenKnives = 1;           // which knives to select
inline constexpr uint8_t kNoKey = 0, kCommandKey = 1, kShiftKey = 1, kOptionKey = 1;  // modifier keys of a click
inline constexpr uint8_t kSend = 0, kNoSend = 1;                        // tell the knife editor, or set quietly
inline constexpr uint8_t kSkip = 0, kColumnKnives = 1, kRowKnives = 1, kExtraKnives = 1;  // kinds included
inline constexpr uint8_t kNoFlip = 0, kFlipH = 1, kFlipU = 1, kFlip = 1, kFlipAcross = 1;  // mirror a shape
inline constexpr uint8_t kKeepSizes = 0, kTakeSizes = 1;                // knob size and thickness taken too
inline constexpr uint8_t kIfChanged = 0, kForce = 1;                    // rebuild a grid of the same size
inline constexpr uint8_t kKeepExtras = 0, kResetExtras = 1;             // extra knives dropped with the grid
inline constexpr uint8_t kRow = 0, kColumn = 1;                         // the kind of a knife or splitter
inline constexpr uint8_t kColumnSplitter = 0, kRowSplitter = 1;         // a splitter named by its row flag
inline constexpr uint8_t kGridKnife = 0, kExtraKnife = 1;               // a grid knife or an extra one
inline constexpr uint8_t kDropMarks = 0, kKeepMarks = 1;                // knot marks of deleted extra knives
inline constexpr uint8_t kMarkedKnots = 0, kAllKnots = 1;               // which knots are filled anew
inline constexpr uint8_t kDamagedOnly = 0, kClearAll = 1;               // how much of the knives layer is cleared
inline constexpr uint8_t kNoRazorCut = 0, kRazorCut = 1;                // knife lines drawn one hairline wide
inline constexpr uint8_t kNoUndoStep = 0, kUndoStep = 1;                // an edit that keeps an undo step
}  // namespace cutflag

class CWnd_MainModel {
public:
    // ---- Limits ---------------------------------------------------------
    static constexpr uint16_t kMaxSplitters = kQnMostGridCells - 1;
    static constexpr uint32_t kMaxNodes = 64;
    // A random flip turns a knife over when its draw (0 .. 2^31 - 1) is at
    // most this: just under one draw in two.
    static constexpr uint32_t kRandFlipLimit = 0x3FFFFFFEu;
    static constexpr uint32_t kMaxAuxKnives = 19999;
    static constexpr uint32_t kRowKnifeId = 1000000;
    static constexpr uint32_t kAuxKnifeId = 2000000;
    static constexpr uint32_t kNone = 0xFFFFFFFFu;
    static constexpr uint32_t kPieceRecordSize = 92;

    // ---- Records ----------------------------------------------------------

    // One knife of the cut map. The first ten fields are stored in the
    // settings block; centerU, length, points, pointCount and moving are
    // working state. points is owned (released by spl_CleanKnives or when an
    // extra knife is deleted): a copy of a knife never keeps it.
    struct KNIFESTRUCT {
        uint8_t flipH;       // mirrored across the cut (every H negated)
        uint8_t flipU;       // mirrored along the cut (nodes reversed, U -> 1 - U)
        uint8_t off;         // turned off: drawn faint, not a cut
        uint8_t selected;
        uint32_t knobSize;   // percent, 100 = the shape as stored
        uint32_t thickness;  // line thickness in image pixels
        uint32_t nodeCount;  // 0..64; 0 is a straight line
        float U[kMaxNodes];  // along the cut, 0 at the start knot, 1 at the end knot
        float H[kMaxNodes];  // across the cut, in units of the knot distance
        float S[kMaxNodes];  // spline tension
        float centerU;       // mean U: the centre of the knob scaling
        float length;        // knot distance in preview pixels at the last full redraw
        CQNF_Mem* points;    // drawn polyline (qntFPOS), owned
        uint32_t pointCount;
        uint8_t moving;      // meets the knot being dragged
    };

    struct AUXKNIFESTRUCT {
        KNIFESTRUCT knife;
        uint32_t knotA;
        uint32_t knotB;
        uint8_t deleteMark;
    };

    struct KNOTSTRUCT {
        float dx;    // offset from the crossing, fraction -1..1 of the gap on its side
        float dy;
        qntFPOS pos;  // preview position at the last drawing
    };

    struct KNOTMARKER {
        qntRECT_s rect;
        uint32_t knot;
        uint8_t fixed;  // a corner knot: can be selected, not dragged
    };

    // Kinds of cut-map undo steps.
    enum CMUNDOMODE : uint8_t { CMUNDO_LAYOUT = 0, CMUNDO_SPLITTERS = 1, CMUNDO_KNOTS = 2, CMUNDO_KNIFEFLAGS = 3 };
    // What follows a whole-layout snapshot.
    enum CMUNDOMODE_GLOBALSUB : uint8_t {
        CMSUB_NONE = 0,
        CMSUB_NEWLAYOUT = 1,
        CMSUB_SPLITTERS = 2,
        CMSUB_SHAPE = 3,
        CMSUB_RESET = 4,
        CMSUB_PASTE = 5,
        CMSUB_KNOBSIZE = 6,
        CMSUB_THICKNESS = 7,
        CMSUB_ADDKNIVES = 8,
        CMSUB_DELKNIVES = 9
    };

    // The knife last clicked: the anchor of range selection.
    struct ANCHOR {
        uint32_t knife = kNone;
        uint8_t isColumn = 1;
        uint8_t isAux = 0;
    };

    CWnd_MainModel();
    virtual ~CWnd_MainModel();
    CWnd_MainModel(const CWnd_MainModel&) = delete;
    CWnd_MainModel& operator=(const CWnd_MainModel&) = delete;

    // The reason of the last failure (qnerr numbers), never shown to the user.
    unsigned short GetModelError() const { return m_nModelError; }

    // ---- Set-up -----------------------------------------------------------
    void SetImageSize(uint32_t width, uint32_t height);
    void SetCutter(CCutterLink* cutter) { m_pCutter = cutter; }
    void SetRandomSource(CQNF_RandomSource* random);
    // Creates the three overlay images (RGBA, preview size) and the two ruler
    // images, and places the view. Without it the model draws nothing.
    bool SetView(qntRECT_s preview, qntRECT_s hRuler, qntRECT_s vRuler, uint8_t zoom, int32_t scrollX,
                 int32_t scrollY);
    bool IsCutterOpen() const { return m_pCutter && m_pCutter->IsOpen(); }

    // ---- Cut map model ----------------------------------------------------
    uint8_t spl_SplitEvenParts(uint16_t columns, uint16_t rows, uint8_t force, uint8_t resetAux);
    void spl_AutoFillKnots(uint8_t all);
    void spl_CleanKnives();
    uint8_t spl_InitAuxKnivesMem(uint32_t n);
    static KNIFESTRUCT* settings_SetDefaultKnife(KNIFESTRUCT* knife);
    int32_t i_CovertKnotID(uint32_t knot, uint8_t insert, uint8_t column, uint16_t splitter) const;
    qntFPOS i_spl_ConvertKnot(uint32_t col, uint32_t row, double width, double height, qntFPOS origin) const;
    qntFPOS i_spl_ConvertKnot(uint32_t knot, double width, double height, qntFPOS origin) const;
    void i_spl_SetKnife(KNIFESTRUCT* knife, float mutS, float mutH, float mutU, uint8_t onlySelectedNodes, uint8_t flip,
                        uint8_t flipAcross, uint8_t takeSizes);
    void spl_DoSetKnifeTh(uint32_t thickness, uint8_t razorCut, uint8_t onlySelected);
    void spl_DoSetKnobSize(uint32_t knobSize, uint8_t onlySelected);
    uint16_t spl_DoGetKnifeThickness(uint8_t onlySelected, uint8_t& mixed) const;
    uint16_t spl_DoGetKnobSize(uint8_t onlySelected, uint8_t& mixed) const;
    uint32_t icGetIdealColumnsForRows(uint32_t rows) const;
    uint32_t icGetIdealRowsForColumns(uint32_t columns) const;
    uint8_t op_TestAllowRCInsertion(uint8_t column, int16_t x, int16_t y) const;
    uint8_t i_spl_XYInKnife(const KNIFESTRUCT* knife, long x, long y);
    uint8_t spl_GetKnifeByXY(long x, long y, CQNF_DWordArray* ids);
    uint8_t i_cmop_IsPossibleKnotsForAuxKnife(uint32_t knotA, uint32_t knotB) const;

    // The knife of an id (null when out of range), and whether it is extra.
    KNIFESTRUCT* GetKnifeById(uint32_t id);
    const KNIFESTRUCT* GetKnifeById(uint32_t id) const;
    uint32_t GetKnifeCount() const { return m_nColKnives + m_nRowKnives + m_nAuxKnives; }

    // ---- Editing operations -------------------------------------------------
    void OnEditRandomKnots(const char* text);
    void OnEditRandomKnotsLF(const char* text);
    void OnSldrRandomKnots(uint32_t value, uint8_t tracking);
    void OnUpdateKnotRandomize(float amount);
    void i_cmop_KnotClickToSelect(uint32_t knot);
    void OnChangeSelectedKnots();

    void op_SetSelToKnives(uint8_t command, uint8_t shift, uint8_t option, const CQNF_DWordArray* ids, uint8_t noSend,
                           uint8_t value, uint8_t redraw);
    void op_SetSelToKnivesBlock(uint8_t value, uint32_t knifeA, uint8_t aIsColumn, uint32_t knifeB, uint8_t bIsColumn);
    void op_SetSelToAllKnives(uint8_t value, uint8_t redraw, uint8_t columnKnives, uint8_t rowKnives,
                              uint8_t extraKnives);
    void op_InvertSelToAllKnives(uint8_t redraw);
    void op_SetSelToHiddenOrShownKnives(uint8_t hidden, uint8_t redraw);
    void op_AddRemoveRowColumnToSelection(uint16_t splitter, uint8_t row, uint8_t value, uint8_t redraw);
    void op_SelRandom(uint8_t select, uint8_t redraw);
    void spl_OnKnifeSelChanged();
    void OnCMSelChanged();

    void op_ShowHideSelectedKnives(uint8_t show, uint8_t redraw);
    void op_ShowHideListOfKnives(uint8_t show, const CQNF_DWordArray* ids, uint8_t redraw);
    void op_ReverseShownHidden(uint8_t redraw);

    void op_Flip(uint8_t flipH, uint8_t flipU, uint8_t onlySelected, uint8_t redraw);
    void op_RandFlip(uint8_t flipH, uint8_t flipU, uint8_t onlySelected, uint8_t redraw);
    void op_Interleaved(uint8_t flipH, uint8_t flipU, uint8_t onlySelected, uint8_t redraw);
    void op_NonInterleaved(uint8_t flipH, uint8_t flipU, uint8_t onlySelected, uint8_t redraw);

    uint8_t check_IsAvail_EqualizeKnobs(uint8_t onlySelected) const;
    void op_EqualizeKnobs(uint8_t onlySelected, uint8_t redraw);
    void i_op_EqualizeKnobs_SetKnobSize(KNIFESTRUCT* knife, double refU, double refH, double refLength);

    void op_CopyKnife(uint32_t index, uint8_t column, uint8_t extra);
    void op_PasteKnife(const CQNF_DWordArray* ids);
    void i_op_PasteKnife(uint32_t index, uint8_t column, uint8_t extra);
    void op_SendKnifeToCutter(const KNIFESTRUCT* knife);

    void op_AddAuxKnifeToSelectedKnots(uint8_t redraw);
    bool i_op_AddAuxKnifeToKnots(uint32_t knotA, uint32_t knotB);
    void op_DelAuxKnives(uint8_t onlySelected, const CQNF_DWordArray* ids, uint8_t keepMarks, uint8_t redraw);
    void cmop_Extras(uint8_t show, uint8_t redraw);

    // Inserting at a window point goes through the ruler mapping; the
    // fraction form is the same operation at a known image fraction.
    bool op_InsertRC(uint8_t column, int16_t x, int16_t y);
    bool op_InsertRCAt(uint8_t column, double fraction);
    bool op_DeleteRC(uint8_t column, uint16_t splitter);
    void op_CenterSplitingHandle(uint8_t row, uint16_t splitter, uint8_t redraw);
    void op_ArrangeSplitingHandles(uint8_t row, uint8_t redraw);

    void OnCutterUpdateRowsCols(uint32_t rows, uint32_t columns);
    void OnCutterUpdateRowsCols_ShowLines(uint32_t rows, uint32_t columns);
    void OnCutterUpdateKnifeSize(uint32_t knobSize);
    void OnCutterUpdateKnifeThickness(uint32_t thickness, uint8_t razorCut);
    void OnCutterUpdateShape(float mutS, float mutH, float mutU, uint8_t onlySelectedNodes, uint8_t undo);
    void OnCutterUpdateShape_FlipU(float mutS, float mutH, float mutU);
    void OnCutterUpdateShape_FlipH(float mutS, float mutH, float mutU);
    void OnCutterUpdateAntiAliasing(uint8_t on);
    void spl_DoReFillKnivesFromCutter(uint8_t onlySelected, float mutS, float mutH, float mutU,
                                      uint8_t onlySelectedNodes);
    void spl_DoReFillKnivesFromCutter_FlipU(uint8_t onlySelected, float mutS, float mutH, float mutU);
    void spl_DoReFillKnivesFromCutter_FlipH(uint8_t onlySelected, float mutS, float mutH, float mutU);

    // ---- Auto layouts -------------------------------------------------------
    // The most shapes a tiling makes across and down (larger counts are cut
    // to these): its grid, with the margin cells of a regular tiling, must
    // stay within 101 x 101 cells.
    static constexpr uint32_t kMostTriangleColumns = 97, kMostTriangleRows = 98;
    static constexpr uint32_t kMostHexagonColumns = 48, kMostHexagonRows = 97;
    void AutoLayout_Triangles(uint32_t rows, uint32_t columns, uint8_t regular);
    void AutoLayout_Hexagons(uint32_t rows, uint32_t columns, uint8_t regular);
    void AutoLayout_Hexagons_R(uint32_t rows, uint32_t columns, uint8_t regular);

    // ---- Drawing --------------------------------------------------------------
    void spl_DoRedrawSplitting(qntRECT_s view, qntRECT_s image, uint8_t clearAll);
    void i_spl_DrawKnife(KNIFESTRUCT* knife, qntFPOS start, qntFPOS end);
    // The polyline a knife is drawn as from start to end: the spline through
    // its nodes with its flips and knob size applied, or the straight line.
    // points receives count qntFPOS; false when it cannot be made.
    bool spl_KnifePolyline(const KNIFESTRUCT& knife, qntFPOS start, qntFPOS end, CQNF_Mem& points,
                           unsigned long& count);
    void spl_DoShowFurtherSplitting(uint16_t columns, uint16_t rows, qntRECT_s view, qntRECT_s image);
    void spl_DoRedrawBySimpleLines(uint16_t nCols, uint16_t nRows, const float* colPos, const float* rowPos,
                                   qntRECT_s view, qntRECT_s image);
    void spl_DoRedrawHVSplitRulers();
    // Redraws the rulers and, in cut mode, the knives over the visible part.
    void DoRedrawOverlay();
    // The full redraw of the editing operations.
    void i_FullRedraw();

    // ---- Settings block -----------------------------------------------------
    bool settings_SaveCurLayoutAndCellSettingsToMem(CQNF_Mem* block, uint32_t& length);
    // Reads a version-3 block. records (when not null) is pointed at the
    // first 92-byte piece record inside the caller's bytes, count at their
    // number; the caller copies them before it frees its bytes.
    bool settings_LoadCurLayoutAndCellSettingsFromMem(const uint8_t* data, uint32_t size, const uint8_t** records,
                                                      uint32_t& count, uint8_t redraw);
    bool settings_LoadCurLayoutAndCellSettingsFromMem_old_v2(const uint8_t* data, uint32_t size,
                                                             const uint8_t** records, uint32_t& count,
                                                             uint8_t redraw);
    bool settings_LoadDefaults();
    // Whether a block passes every check of its reader (version 3 or 2),
    // without changing anything.
    static bool settings_CheckBlock(const uint8_t* data, uint32_t size, uint8_t version);

    // ---- Documents and last settings ----------------------------------------
    static constexpr const char* kDocumentMagic = "QNTS30";
    static constexpr const char* kDocumentMagicV2 = "QNTS20";
    // The largest document read: its settings block is some 40 MB at most.
    static constexpr uint64_t kMaxDocumentBytes = uint64_t(64) << 20;
    static constexpr const char* kLastSettingsName = "last.data";
    // The message box words of a document that does not load; the command
    // line puts the same faults in its own words, as its other lines.
    static constexpr const char* kMsgUnknown = "Unknown file format, or the file is damaged.";
    static constexpr const char* kMsgRead = "Error reading data file...";
    static constexpr const char* kMsgMemory = "Memory allocation problem...";
    // Writes "QNTS30" and the block to path (through a temporary file that
    // replaces it only when complete). On failure message holds the text.
    bool settings_SaveDocument(const char* path, std::string& message);
    // Loads a document into the cut map. A file that cannot be read, has no
    // known magic or whose block fails its checks is refused with the
    // message and the current layout kept. On success one whole-layout undo
    // step holds the layout before the load, and the document's piece
    // records (if any) are in m_DocumentRecords.
    bool settings_LoadDocument(const char* path, std::string& message);
    bool settings_LoadDocumentFromMem(const uint8_t* data, uint32_t size, std::string& message);
    // The last settings: the host's scripting descriptor and "last.data".
    class LastSettingsStore {
    public:
        virtual ~LastSettingsStore() = default;
        virtual bool WriteDescriptor(const uint8_t* data, uint32_t size) = 0;
        // False when the descriptor holds no settings.
        virtual bool ReadDescriptor(CQNF_Mem* block) = 0;
        virtual bool ConfFile_Write(const uint8_t* data, uint32_t size, const char* name) = 0;
        virtual bool ConfFile_Read(CQNF_Mem* block, const char* name) = 0;
        // Why the last ConfFile_Write failed (its file leads to one the run
        // reads, a read-only file system), or empty.
        virtual std::string WriteRefusal() const { return {}; }
        // Why the last WriteDescriptor left the host's descriptor without
        // settings ("they are too large for a descriptor (...)"), or empty:
        // also when the host offers no descriptor.
        virtual std::string DescriptorRefusal() const { return {}; }
    };
    void SetLastSettingsStore(LastSettingsStore* store) { m_pLastStore = store; }
    // Writes the last settings: the host's descriptor, then "last.data";
    // false when "last.data" is not written. descriptorRefusal, when given,
    // says why the descriptor was left without them (empty: it holds them,
    // or the host offers none).
    bool settings_SaveCurLayoutAndCellSettings(std::string* descriptorRefusal = nullptr);
    bool settings_LoadCurLayoutAndCellSettings();

    // ---- Cut-map undo ---------------------------------------------------------
    void uncm_PreSave(CMUNDOMODE kind);
    void uncm_SaveState(CMUNDOMODE kind, CMUNDOMODE_GLOBALSUB sub);
    void uncm_Restore();
    void uncm_Empty();
    bool uncm_HasStep() const { return !m_Uncm.empty; }

    // ---- Engine ---------------------------------------------------------------
    // Copies the cut map into the engine (grid, guides, knots, knives with
    // their flips and knob sizes applied, cut and smooth options).
    uint8_t engine_PutLayoutToPuzzleEngine(CTessolo* engine);
    // Takes the effect records of the engine's pieces (92 bytes each, as the
    // settings block stores them) for the next block written in piece mode.
    bool settings_TakePieceRecordsFromEngine(const CTessolo& engine);

    // ---- View hooks (the window overrides them) ------------------------------
    // Composite and blit a rectangle of the window.
    virtual void view_RenderAndUpdate(qntRECT_s /*rect*/) {}
    virtual void UpdateStatusProgress(const char* /*text*/, uint8_t /*percent*/) {}
    virtual void view_StatusClear() {}
    // Control states changed (m_bCmd* and m_bCanAddKnives below).
    virtual void view_ControlsChanged() {}
    // Shows the knot randomness on its slider and, unless it comes from the
    // field itself while the user types there, in its field.
    virtual void view_RandomKnotsControls(uint32_t /*percent*/, uint8_t /*notify*/, bool /*field*/) {}
    virtual void ShowMessageBox(const char* text, const char* title);
    // Ends the run as by Cancel; operations stop once it was called.
    virtual void localClose() { m_bClosing = 1; }
    // The effect records of the engine's pieces (92 bytes each, stored as the
    // settings block keeps them) for a block written in piece mode.
    virtual bool settings_GetPieceRecords(CQNF_Mem* records, uint32_t& count);

    // ---- State (public: the window, the tools and the tests read it) -------
    // Grid.
    uint16_t m_nColSplitters = 0;
    uint16_t m_nRowSplitters = 0;
    float m_ColSplitters[kMaxSplitters] = {};
    float m_RowSplitters[kMaxSplitters] = {};
    // Knots.
    uint16_t m_nKnotCols = 0;
    uint16_t m_nKnotRows = 0;
    uint32_t m_nKnots = 0;
    std::vector<KNOTSTRUCT> m_Knots;
    std::vector<KNOTMARKER> m_KnotMarkers;
    uint32_t m_nKnotMarkers = 0;
    float m_KnotRandomness = 0.0f;
    float m_fRndKnotsValue = 0.0f;
    uint32_t m_nSelKnots = 0;
    uint32_t m_SelKnot1 = 0;
    uint32_t m_SelKnot2 = 0;
    // Grid knives: column knives C by R+1, row knives C+1 by R.
    std::vector<KNIFESTRUCT> m_ColKnives;
    uint32_t m_nColKnives = 0;
    uint16_t m_nColKnivesW = 0;
    uint16_t m_nColKnivesH = 0;
    std::vector<KNIFESTRUCT> m_RowKnives;
    uint32_t m_nRowKnives = 0;
    uint16_t m_nRowKnivesW = 0;
    uint16_t m_nRowKnivesH = 0;
    // Extra knives; the vector's size is the capacity.
    std::vector<AUXKNIFESTRUCT> m_AuxKnives;
    uint32_t m_nAuxKnives = 0;
    // Layout-wide state.
    uint8_t m_bKnifeSelection = 0;
    uint8_t m_bAuxOnlySelection = 0;
    uint8_t m_bSelHasOn = 0;
    uint8_t m_bSelHasOff = 0;
    uint8_t m_bSelHasAux = 0;
    uint8_t m_bRazorCut = 1;
    uint8_t m_bAntiAlias = 1;
    ANCHOR m_Anchor;
    KNIFESTRUCT m_KnifeClipboard{};
    uint8_t m_bClipboardEmpty = 1;
    uint8_t m_bCMExtras = 1;
    uint8_t m_bCutMode = 1;
    uint8_t m_bKnotDragging = 0;
    uint8_t m_bClosing = 0;
    // Control states the window shows.
    uint8_t m_bCmdShow = 0;      // Main_Show: some considered knife is off
    uint8_t m_bCmdHide = 0;      // Main_Hide: some considered knife is on
    uint8_t m_bCmdDelKnives = 0; // Main_DelKnives: an extra knife is considered
    uint8_t m_bCanAddKnives = 0; // Main_AddKnives: two knots that may carry an extra knife
    uint8_t m_bCanRndKnots = 0;  // Main_RndKnots: the amount is not 0
    // Image and view.
    uint32_t m_nImageWidth = 0;
    uint32_t m_nImageHeight = 0;
    uint8_t m_nZoom = 4;
    int32_t m_nScrollX = 0;
    int32_t m_nScrollY = 0;
    qntRECT_s m_rcPreview{0, 0, 0, 0};
    qntRECT_s m_rcHSplitRuler{0, 0, 0, 0};
    qntRECT_s m_rcVSplitRuler{0, 0, 0, 0};
    uint8_t m_nDelKnifeOpacity = 70;
    // Overlay images (RGBA; the knives write their alpha) and their
    // visibility; layers, so the window composites them as they are.
    CQNF_Layer m_KnivesLayer;
    CQNF_Layer m_SelKnivesLayer;
    CQNF_Layer m_OverlayLayer;
    uint8_t m_bKnivesLayerVisible = 1;
    uint8_t m_bSelKnivesLayerVisible = 0;
    uint8_t m_bOverlayLayerVisible = 1;
    CQNF_Layer m_HSplitRulerImage;
    CQNF_Layer m_VSplitRulerImage;
    qntRECT_s m_SplitViewRect = qnNullRect;
    qntRECT_s m_SplitImageRect = qnNullRect;
    double m_PreviewMap[4] = {0.0, 1.0, 0.0, 1.0};  // offsetX, extentX, offsetY, extentY
    qntPOS m_ColHandles[kMaxSplitters] = {};
    uint16_t m_ColHandleSplitter[kMaxSplitters] = {};
    uint16_t m_nColHandles = 0;
    qntPOS m_RowHandles[kMaxSplitters] = {};
    uint16_t m_RowHandleSplitter[kMaxSplitters] = {};
    uint16_t m_nRowHandles = 0;
    // Piece records read with the last settings (for the knife editor) and
    // with the last document, 92 bytes each.
    CQNF_Mem m_LoadedRecords;
    uint32_t m_nLoadedRecords = 0;
    CQNF_Mem m_DocumentRecords;
    uint32_t m_nDocumentRecords = 0;
    // Piece records a block written in piece mode carries when no window
    // supplies them (tools): 92 bytes each.
    CQNF_Mem m_PieceRecords;
    uint32_t m_nPieceRecords = 0;
    // The last message box (text and title), for tools and tests.
    std::string m_LastMessage;
    std::string m_LastMessageTitle;

    // f(knife, id) for every column, row and extra knife, in that order.
    template <class F>
    void i_ForEachKnife(F f)
    {
        i_ForEachKnifeOf(*this, f);
    }
    template <class F>
    void i_ForEachKnife(F f) const
    {
        i_ForEachKnifeOf(*this, f);
    }

protected:
    template <class Self, class F>
    static void i_ForEachKnifeOf(Self& m, F& f)
    {
        for (uint32_t i = 0; i < m.m_nColKnives; ++i)
            f(m.m_ColKnives[i], i);
        for (uint32_t i = 0; i < m.m_nRowKnives; ++i)
            f(m.m_RowKnives[i], kRowKnifeId + i);
        for (uint32_t i = 0; i < m.m_nAuxKnives; ++i)
            f(m.m_AuxKnives[i].knife, kAuxKnifeId + i);
    }
    // The knife lists an operation considers.
    bool i_Considered(const KNIFESTRUCT& k, bool limited) const
    {
        return !limited || !m_bKnifeSelection || k.selected;
    }
    void i_MarkKnotsOfSelection(std::vector<uint8_t>& marks) const;
    // The splitters between cells (at most 100), and n splitters evenly over
    // 0..1, accumulated in single precision.
    static uint16_t i_SplitterCount(uint32_t cells);
    static void i_EvenSplit(float* pos, uint16_t n);
    // The knife editor's mutation; all 0 without an editor.
    void i_CutterMutation(float& s, float& h, float& u) const;
    // After a new grid: every knife takes the editor's shape, the rulers and
    // the selection follow.
    void i_KnivesTakeCutterShape();
    // The end of an automatic tiling: the above, and the editor shows the
    // new grid.
    void i_FinishTiling();
    void i_RefreshCutterSizes();
    void i_UpdateCutterAfterLoad();
    bool i_ReadBlock(const uint8_t* data, uint32_t size, uint8_t version, const uint8_t** records,
                     uint32_t& count);
    bool i_LoadBlock(const uint8_t* data, uint32_t size, uint8_t version, const uint8_t** records, uint32_t& count,
                     uint8_t redraw);
    void i_AfterRead(uint8_t redraw);
    void i_DrawKnotMarker(qntFPOS p, uint32_t knot, uint8_t fixed);
    bool i_RebuildGrid(uint8_t column, uint16_t splitter, bool insert, float fraction);
    // The stages of i_RebuildGrid (CutMapOpsGrid.cpp).
    struct GridBefore;
    bool i_TakeGridBefore(GridBefore& before, uint8_t column, uint16_t splitter, bool insert);
    void i_RemapExtraKnives(const GridBefore& before);
    void i_RemapKnots(const GridBefore& before, uint8_t column, uint16_t splitter);
    void i_RemapGridKnives(const GridBefore& before, uint8_t column, uint16_t splitter);
    void i_ReleaseAuxPoints(AUXKNIFESTRUCT& aux);
    float i_RandomOffset(float a);
    uint32_t i_Rand() { return m_pRandom->Next(); }
    int32_t i_ZoomValue(int32_t v) const;

    // Leaving piece mode for cut mode before a document replaces the layout;
    // the window opens the knife editor here. False: stay as it is.
    virtual bool DoCutterWindow();

    unsigned short m_nModelError = 0;
    CCutterLink* m_pCutter = nullptr;
    CQNF_RandomSource* m_pRandom = nullptr;
    CQNF_StdRandom m_StdRandom;
    LastSettingsStore* m_pLastStore = nullptr;
    CQNF_ImageDrawing m_Drawing;
    CQNF_2DMath m_Math;
    CQNF_2DMath::QNSPLINEPOINT m_KnifeSplinePoints[kMaxNodes + 2] = {};

    // Cut-map undo: the one step held, and the state taken before an edit
    // (pre), which becomes the step once the edit is kept.
    struct CutMapUndo {
        uint8_t empty = 1;
        CMUNDOMODE kind = CMUNDO_LAYOUT;
        CMUNDOMODE_GLOBALSUB sub = CMSUB_NONE;
        CQNF_Mem data;
        uint32_t dataLength = 0;
        uint32_t dataShape[2] = {0, 0};  // the grid the held step was taken on
        float randomness = 0.0f;
        ANCHOR anchor;
        uint8_t fresh = 1;
        CQNF_Mem pre;
        CMUNDOMODE preKind = CMUNDO_LAYOUT;
        uint32_t preShape[2] = {0, 0};
        float preRandomness = 0.0f;
        ANCHOR preAnchor;
        uint8_t preValid = 0;
    };
    CutMapUndo m_Uncm;
};
