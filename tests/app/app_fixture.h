// Shared pieces of the layout model tests: a knife editor stand-in, a random
// source that replays given values and counts draws, and a model that
// records what it asked of the window.
#pragma once

#include "app/Wnd_Main.h"

#include <cstdint>
#include <string>
#include <vector>

using namespace cutflag;

namespace app_test {

class FakeCutter : public CCutterLink {
public:
    SHAPE shape;
    bool open = true;
    float mutS = 0, mutH = 0, mutU = 0;
    uint32_t knob = 100, thickness = 3;
    uint32_t rowsSet = 0, columnsSet = 0, rowsShown = 0;
    uint32_t knobNotified = 0, thicknessNotified = 0;
    uint8_t knobMixed = 0, thicknessMixed = 0, razorNotified = 0, antiAlias = 0;
    int initialStates = 0;
    SHAPE received;
    int shapesReceived = 0;

    FakeCutter() : shape(SHAPE::Default()) {}

    bool IsOpen() const override { return open; }
    const SHAPE& GetShape() const override { return shape; }
    void GetMutation(float& s, float& h, float& u) const override
    {
        s = mutS;
        h = mutH;
        u = mutU;
    }
    uint32_t GetKnobSize() const override { return knob; }
    uint32_t GetThickness() const override { return thickness; }
    void ExtSetRows(uint32_t rows) override { rowsSet = rows; }
    void ExtSetColumns(uint32_t columns) override { columnsSet = columns; }
    void ShowRows(uint32_t rows) override { rowsShown = rows; }
    void NotifiedByMain_NewKnobSize(uint32_t size, uint8_t mixed) override
    {
        knobNotified = size;
        knobMixed = mixed;
    }
    void NotifiedByMain_NewThickness(uint32_t t, uint8_t mixed, uint8_t razor) override
    {
        thicknessNotified = t;
        thicknessMixed = mixed;
        razorNotified = razor;
    }
    void SetAntiAlias(uint8_t on) override { antiAlias = on; }
    void SetInitialStatesToControls() override { ++initialStates; }
    void opSetShapeFromData(const SHAPE& s, uint8_t) override
    {
        received = s;
        ++shapesReceived;
    }
};

// Replays the given values (then repeats the last), counting draws.
class ScriptedRandom : public CQNF_RandomSource {
public:
    std::vector<uint32_t> values;
    size_t draws = 0;
    uint32_t Next() override
    {
        const uint32_t v = values.empty() ? 0 : values[draws < values.size() ? draws : values.size() - 1];
        ++draws;
        return v;
    }
};

class Model : public CWnd_Main {
public:
    FakeCutter cutter;
    CQNF_SeededRandom random{7};
    int renders = 0;
    int closes = 0;

    Model(uint32_t w = 800, uint32_t h = 600)
    {
        SetImageSize(w, h);
        SetCutter(&cutter);
        SetRandomSource(&random);
    }
    void view_RenderAndUpdate(qntRECT_s) override { ++renders; }
    void localClose() override
    {
        ++closes;
        CWnd_Main::localClose();
    }
    // Public access to the protected helpers the tests drive directly.
    using CWnd_Main::m_nModelError;
    bool UndoEmpty() const { return m_Uncm.empty; }
    uint8_t UndoKind() const { return m_Uncm.kind; }
    uint8_t UndoSub() const { return m_Uncm.sub; }

    std::vector<uint8_t> Block()
    {
        CQNF_Mem mem;
        uint32_t len = 0;
        if (!settings_SaveCurLayoutAndCellSettingsToMem(&mem, len))
            return {};
        return std::vector<uint8_t>(mem.GetPtr(), mem.GetPtr() + len);
    }
    bool Load(const std::vector<uint8_t>& b)
    {
        uint32_t count = 0;
        return settings_LoadCurLayoutAndCellSettingsFromMem(b.data(), uint32_t(b.size()), nullptr, count, 0);
    }
};

// A layout with everything the block can hold, from a seed.
inline void RandomLayout(Model& m, uint64_t seed)
{
    CQNF_SeededRandom pick(seed);
    m.m_KnotRandomness = float(pick.Next() % 100) / 100.0f;
    const uint16_t cols = uint16_t(1 + pick.Next() % 9), rows = uint16_t(1 + pick.Next() % 7);
    if (!m.spl_SplitEvenParts(cols, rows, kForce, kResetExtras))
        return;
    m.cutter.shape.nodeCount = pick.Next() % 65;
    for (uint32_t i = 0; i < m.cutter.shape.nodeCount; ++i) {
        m.cutter.shape.U[i] = (pick.Next() % 1000) / 1000.0;
        m.cutter.shape.H[i] = (double(pick.Next() % 2000) - 1000.0) / 1000.0;
        m.cutter.shape.S[i] = (pick.Next() % 1000) / 1000.0;
    }
    m.cutter.knob = 1 + pick.Next() % 100;
    m.cutter.thickness = pick.Next() % 40;
    for (uint32_t n = 0; n < 6; ++n) {
        const uint32_t a = pick.Next() % m.m_nKnots, b = pick.Next() % m.m_nKnots;
        m.i_op_AddAuxKnifeToKnots(a, b);
    }
    m.spl_DoReFillKnivesFromCutter(kAllKnives, 0.3f, 0.3f, 0.3f, kAllNodes);
    m.op_RandFlip(kFlipH, kFlipU, kAllKnives, kNoRedraw);
    m.op_SelRandom(kSelect, kNoRedraw);
    if (pick.Next() & 1)
        m.op_ShowHideSelectedKnives(kHide, kNoRedraw);
    m.op_SelRandom(kSelect, kNoRedraw);
    m.m_bRazorCut = pick.Next() & 1;
    m.m_bAntiAlias = pick.Next() & 1;
    m.spl_OnKnifeSelChanged();
}

inline CQNF_DWordArray Ids(std::initializer_list<uint32_t> ids)
{
    CQNF_DWordArray a;
    for (uint32_t id : ids)
        a.Add(id);
    return a;
}

}  // namespace app_test
