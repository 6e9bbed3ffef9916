// What the knife editor asks of the main window, and the adapter that
// answers it from the layout model.
//
// The editor sends every shape change, its rows, columns, thickness, knob
// size and anti-aliasing, takes the reset undo step and reloads the opening
// layout through this interface; the Cut hands the layout to the engine
// through it. Tests put a recorder in its place; the main window gives the
// editor a CCutterMainAdapter over its CWnd_MainModel and overrides the few
// calls that only a window can answer (closing, the piece-map undo, the
// shortcut table of the main window, pumping its events).
//
// Mutation amounts always travel in the order S, H, U here, as the layout
// model takes them; the editor keeps them as S, U, H.
#pragma once

#include <cstdint>

class CQNF_Mem;
class CTessolo;
class CWnd_MainModel;

class CCutterMainLink {
public:
    static constexpr uint32_t kNotGiven = 0xFFFFFFFFu;

    virtual ~CCutterMainLink() = default;

    // ---- Shape and layout parameters ------------------------------------
    virtual void OnCutterUpdateShape(float mutS, float mutH, float mutU, uint8_t onlySelectedNodes, uint8_t undo) = 0;
    virtual void OnCutterUpdateShape_FlipH(float mutS, float mutH, float mutU) = 0;
    virtual void OnCutterUpdateShape_FlipU(float mutS, float mutH, float mutU) = 0;
    // kNotGiven for a count that is not given.
    virtual void OnCutterUpdateRowsCols(uint32_t rows, uint32_t columns) = 0;
    virtual void OnCutterUpdateRowsCols_ShowLines(uint32_t rows, uint32_t columns) = 0;
    virtual void OnCutterUpdateKnifeThickness(uint32_t thickness, uint8_t razorCut) = 0;
    virtual void OnCutterUpdateKnifeSize(uint32_t knobSize) = 0;
    virtual void OnCutterUpdateAntiAliasing(uint8_t on) = 0;
    virtual uint32_t icGetIdealColumnsForRows(uint32_t rows) = 0;
    virtual uint32_t icGetIdealRowsForColumns(uint32_t columns) = 0;

    // ---- Opening layout, Reset ----------------------------------------------
    virtual bool settings_SaveCurLayoutAndCellSettingsToMem(CQNF_Mem* block, uint32_t& length) = 0;
    virtual bool settings_LoadCurLayoutAndCellSettingsFromMem(const uint8_t* data, uint32_t length) = 0;
    // The whole-layout undo step Reset takes before it reloads.
    virtual void uncm_SaveResetState() = 0;
    // Rows, columns and the razor-cut and anti-aliasing flags of the grid.
    virtual void GetGridState(uint16_t& rows, uint16_t& columns, uint8_t& razorCut, uint8_t& antiAlias) = 0;

    // ---- Cut and closing -------------------------------------------------------
    virtual bool engine_PutLayoutToPuzzleEngine(CTessolo* engine) = 0;
    // The pieces just made may be undone to the ones before (piece-map undo).
    virtual void MarkPieceUndoAvailable() {}
    // The editor closed; the main window takes over.
    virtual void OnCutterClose() {}
    // Pending timer and window events of every window (not the editor's
    // input), so that the windows repaint during a Cut.
    virtual void PumpWindowEvents() {}
    // A shortcut of the editor's table that it does not handle itself;
    // true when the main window handled it.
    virtual bool OnForwardedShortcut(uint16_t /*command*/) { return false; }
};

// The interface answered from the layout model.
class CCutterMainAdapter : public CCutterMainLink {
public:
    explicit CCutterMainAdapter(CWnd_MainModel& main) : m_Main(main) {}

    void OnCutterUpdateShape(float mutS, float mutH, float mutU, uint8_t onlySelectedNodes, uint8_t undo) override;
    void OnCutterUpdateShape_FlipH(float mutS, float mutH, float mutU) override;
    void OnCutterUpdateShape_FlipU(float mutS, float mutH, float mutU) override;
    void OnCutterUpdateRowsCols(uint32_t rows, uint32_t columns) override;
    void OnCutterUpdateRowsCols_ShowLines(uint32_t rows, uint32_t columns) override;
    void OnCutterUpdateKnifeThickness(uint32_t thickness, uint8_t razorCut) override;
    void OnCutterUpdateKnifeSize(uint32_t knobSize) override;
    void OnCutterUpdateAntiAliasing(uint8_t on) override;
    uint32_t icGetIdealColumnsForRows(uint32_t rows) override;
    uint32_t icGetIdealRowsForColumns(uint32_t columns) override;
    bool settings_SaveCurLayoutAndCellSettingsToMem(CQNF_Mem* block, uint32_t& length) override;
    bool settings_LoadCurLayoutAndCellSettingsFromMem(const uint8_t* data, uint32_t length) override;
    void uncm_SaveResetState() override;
    void GetGridState(uint16_t& rows, uint16_t& columns, uint8_t& razorCut, uint8_t& antiAlias) override;
    bool engine_PutLayoutToPuzzleEngine(CTessolo* engine) override;

protected:
    CWnd_MainModel& m_Main;
};
