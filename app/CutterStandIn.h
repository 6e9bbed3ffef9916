// The knife editor's stand-in: what the main window opens in cut mode until
// the editor window exists. It holds a knob shape and the knives' settings
// that new knives take, answers the main window's notifications, and never
// cuts, so the run stays in cut mode and applies the knife lines.
#pragma once

#include "app/Wnd_Main.h"

class CCutterStandIn : public CMainCutter {
public:
    CCutterStandIn();

    bool Open(CQNF_Window*) override
    {
        m_open = true;
        return true;
    }
    void Close() { m_open = false; }

    bool IsOpen() const override { return m_open; }
    const SHAPE& GetShape() const override { return m_shape; }
    void GetMutation(float& s, float& h, float& u) const override { s = h = u = 0.0f; }
    uint32_t GetKnobSize() const override { return m_knob; }
    uint32_t GetThickness() const override { return m_thickness; }
    void ExtSetRows(uint32_t rows) override { m_rows = rows; }
    void ExtSetColumns(uint32_t columns) override { m_columns = columns; }
    void ShowRows(uint32_t rows) override { m_rows = rows; }
    void NotifiedByMain_NewKnobSize(uint32_t size, uint8_t) override { m_knob = size; }
    void NotifiedByMain_NewThickness(uint32_t thickness, uint8_t, uint8_t razorCut) override
    {
        m_thickness = thickness;
        m_razor = razorCut;
    }
    void SetAntiAlias(uint8_t on) override { m_antiAlias = on; }
    void SetInitialStatesToControls() override {}
    void opSetShapeFromData(const SHAPE& shape, uint8_t) override { m_shape = shape; }

    uint32_t m_rows = 0, m_columns = 0;
    uint8_t m_razor = 1, m_antiAlias = 1;

private:
    bool m_open = false;
    SHAPE m_shape;
    uint32_t m_knob = 100;
    uint32_t m_thickness = 1;
};
