// What the layout model asks of the knife editor, and tells it.
//
// The knife editor window holds the current knife shape, the mutation
// amounts, the knob size and thickness that new knives take, and the row and
// column controls. The layout model reaches it only through this interface,
// so the model runs (and is tested) without any window; the editor window
// implements it when it exists.
#pragma once

#include "engine/DefaultKnife.h"

#include <cstdint>

class CCutterLink {
public:
    static constexpr uint32_t kMaxNodes = 64;

    // One knife shape: per node the position along the knife (U, 0..1), the
    // offset across it in units of its length (H) and the spline tension (S),
    // and whether the node is selected in the editor.
    struct SHAPE {
        uint32_t nodeCount = 0;
        double U[kMaxNodes] = {};
        double H[kMaxNodes] = {};
        double S[kMaxNodes] = {};
        uint8_t selected[kMaxNodes] = {};

        // The shape every new layout starts with.
        static SHAPE Default()
        {
            constexpr qntDefaultKnife kShape = qnDefaultKnife();
            SHAPE s;
            s.nodeCount = kShape.kNodes;
            for (uint32_t i = 0; i < kShape.kNodes; ++i) {
                s.U[i] = kShape.U[i];
                s.H[i] = kShape.H[i];
                s.S[i] = kShape.S[i];
            }
            return s;
        }
    };

    virtual ~CCutterLink() = default;

    // True while the editor window is open (the main window is in cut mode).
    virtual bool IsOpen() const = 0;
    virtual const SHAPE& GetShape() const = 0;
    // The current mutation amounts, in the editor's order S, H, U.
    virtual void GetMutation(float& s, float& h, float& u) const = 0;
    virtual uint32_t GetKnobSize() const = 0;
    virtual uint32_t GetThickness() const = 0;

    // The grid changed in the main window.
    virtual void ExtSetRows(uint32_t rows) = 0;
    virtual void ExtSetColumns(uint32_t columns) = 0;
    // Shows a row count in the rows edit and slider without notifying back.
    virtual void ShowRows(uint32_t rows) = 0;
    virtual void NotifiedByMain_NewKnobSize(uint32_t size, uint8_t mixed) = 0;
    virtual void NotifiedByMain_NewThickness(uint32_t thickness, uint8_t mixed, uint8_t razorCut) = 0;
    virtual void SetAntiAlias(uint8_t on) = 0;
    virtual void SetInitialStatesToControls() = 0;
    // Takes a knife's shape as the editor's current one.
    virtual void opSetShapeFromData(const SHAPE& shape, uint8_t notify) = 0;
};

// The knife editor of a run without windows (the tools, the benchmarks): the
// shape, mutation amounts and knob size new knives take, as the caller sets
// them; what the main window tells it is of no use to anyone and dropped.
class CWindowlessCutter : public CCutterLink {
public:
    // open: whether the model sees an editor (cut mode); a closed one hands
    // out an empty shape.
    explicit CWindowlessCutter(bool open = true) : m_open(open), m_shape(open ? SHAPE::Default() : SHAPE{}) {}

    float mutS = 0.0f, mutH = 0.0f, mutU = 0.0f;
    uint32_t knob = 100;

    bool IsOpen() const override { return m_open; }
    const SHAPE& GetShape() const override { return m_shape; }
    void GetMutation(float& s, float& h, float& u) const override
    {
        s = mutS;
        h = mutH;
        u = mutU;
    }
    uint32_t GetKnobSize() const override { return knob; }
    uint32_t GetThickness() const override { return 3; }
    void ExtSetRows(uint32_t) override {}
    void ExtSetColumns(uint32_t) override {}
    void ShowRows(uint32_t) override {}
    void NotifiedByMain_NewKnobSize(uint32_t, uint8_t) override {}
    void NotifiedByMain_NewThickness(uint32_t, uint8_t, uint8_t) override {}
    void SetAntiAlias(uint8_t) override {}
    void SetInitialStatesToControls() override {}
    void opSetShapeFromData(const SHAPE&, uint8_t) override {}

private:
    bool m_open;
    SHAPE m_shape;
};
