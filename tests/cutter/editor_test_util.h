// Shared pieces of the knife editor tests: a main window that records every
// call the editor makes, an editor whose view hooks count and script, and a
// layout model with an image for the Cut.
#pragma once

#include "app/MainModel.h"
#include "core/Mem.h"
#include "cutter/CutterEditor.h"
#include "cutter/DialogModels.h"
#include "engine/Tessolo.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace editor_test {

using SPLINE = CWnd_CutterModel::SPLINE_STRUCT;

// A preview of 225 x 425 pixels at window point (10, 20): the base segment
// is 400 pixels long at zoom 0, from (112, 12.5) to (112, 412.5), and the H
// limit is 0.25.
inline constexpr qntRECT_s kPreview{10, 20, 235, 445};
inline constexpr int16_t kX0 = 10, kY0 = 20;

// Records what the editor tells the main window.
class RecorderLink : public CCutterMainLink {
public:
    struct CALL {
        std::string what;
        float s, h, u;
        uint32_t a, b;
    };
    std::vector<CALL> calls;
    bool putOk = true;
    bool loadOk = true;
    uint32_t ideal = 7;
    std::vector<uint8_t> layout{1, 2, 3};
    std::vector<uint8_t> loaded;
    int pumps = 0;
    int forwarded = 0;

    void Add(const char* w, float s = 0, float h = 0, float u = 0, uint32_t a = 0, uint32_t b = 0)
    {
        calls.push_back(CALL{w, s, h, u, a, b});
    }
    size_t Count(const std::string& what) const
    {
        size_t n = 0;
        for (const CALL& c : calls)
            n += c.what == what;
        return n;
    }
    void OnCutterUpdateShape(float s, float h, float u, uint8_t only, uint8_t undo) override
    {
        Add("shape", s, h, u, only, undo);
    }
    void OnCutterUpdateShape_FlipH(float s, float h, float u) override { Add("flipH", s, h, u); }
    void OnCutterUpdateShape_FlipU(float s, float h, float u) override { Add("flipU", s, h, u); }
    void OnCutterUpdateRowsCols(uint32_t r, uint32_t c) override { Add("rowscols", 0, 0, 0, r, c); }
    void OnCutterUpdateRowsCols_ShowLines(uint32_t r, uint32_t c) override { Add("showlines", 0, 0, 0, r, c); }
    void OnCutterUpdateKnifeThickness(uint32_t t, uint8_t razor) override { Add("thickness", 0, 0, 0, t, razor); }
    void OnCutterUpdateKnifeSize(uint32_t k) override { Add("knob", 0, 0, 0, k); }
    void OnCutterUpdateAntiAliasing(uint8_t on) override { Add("aa", 0, 0, 0, on); }
    uint32_t icGetIdealColumnsForRows(uint32_t) override { return ideal; }
    uint32_t icGetIdealRowsForColumns(uint32_t) override { return ideal; }
    bool settings_SaveCurLayoutAndCellSettingsToMem(CQNF_Mem* block, uint32_t& length) override
    {
        if (!block->alloc(layout.size()))
            return false;
        std::copy(layout.begin(), layout.end(), block->GetPtr());
        length = uint32_t(layout.size());
        return true;
    }
    bool settings_LoadCurLayoutAndCellSettingsFromMem(const uint8_t* data, uint32_t length) override
    {
        loaded.assign(data, data + length);
        return loadOk;
    }
    void uncm_SaveResetState() override { Add("resetundo"); }
    void GetGridState(uint16_t& rows, uint16_t& columns, uint8_t& razor, uint8_t& aa) override
    {
        rows = 3, columns = 4, razor = 1, aa = 1;
    }
    bool engine_PutLayoutToPuzzleEngine(CTessolo*) override { return putOk; }
    void OnCutterClose() override { Add("close"); }
    void PumpWindowEvents() override { ++pumps; }
    bool OnForwardedShortcut(uint16_t) override
    {
        ++forwarded;
        return true;
    }
};

// The editor with its view hooks counted and its key state set by the test.
class Editor : public CWnd_CutterEditor {
public:
    int beeps = 0;
    int ownPumps = 0;
    std::function<void(Editor&)> onPump;  // runs at every pump of the Cut

    void view_Beep() override { ++beeps; }
    void view_PumpOwnEvents() override
    {
        ++ownPumps;
        if (onPump)
            onPump(*this);
    }
    // Public access to what the preview computes.
    using CWnd_CutterEditor::m_NodeRects;

    bool Down(int px, int py, uint8_t mods = 0) { return OnLMouseDown(int16_t(kX0 + px), int16_t(kY0 + py), mods); }
    bool Move(int px, int py, uint8_t mods = 0) { return OnMouseMove(int16_t(kX0 + px), int16_t(kY0 + py), mods); }
    bool Up() { return OnLMouseUp(0, 0, 0); }
    void Click(const char* button) { OnCtrlMessage(MSG_CLICK, 0, button, CT_BUTTON, nullptr); }
    void Slider(const char* name, uint32_t v, bool final)
    {
        OnCtrlMessage(final ? MSG_SLIDER_FINAL : MSG_SLIDER_TRACK, 0, name, CT_SLIDER, &v);
    }
    void Edit(const char* name, const char* text) { OnCtrlMessage(MSG_EDIT, 0, name, CT_EDIT, text); }
    void Popup(uint16_t id) { OnCtrlMessage(MSG_POPUP, 0xFFFFFFFFu, "Menu", CT_MENU, &id); }
    // Sets the shape (all nodes selected) without telling anyone.
    void Shape(std::initializer_list<std::pair<double, double>> hu, double s = 0.5)
    {
        SPLINE sh{};
        for (const auto& p : hu) {
            sh.pos[sh.nodeCount] = {p.first, p.second};
            sh.S[sh.nodeCount] = s;
            ++sh.nodeCount;
        }
        const uint32_t mode = m_nCloneMode;
        m_nCloneMode = 0;
        opSetShapeFromData(sh, 0);
        m_nCloneMode = mode;
    }
    void Select(std::initializer_list<uint32_t> ids)
    {
        std::fill(std::begin(m_Shape.selected), std::end(m_Shape.selected), uint8_t(0));
        for (uint32_t i : ids)
            m_Shape.selected[i] = 1;
        DoRedrawExtras(0);
    }
    // The custom mutations dialog closed with OK and these amounts.
    void Custom(float s, float u, float h)
    {
        CCustomMutationsModel dialog;
        dialog.m_fAmount[CCustomMutationsModel::kS] = s;
        dialog.m_fAmount[CCustomMutationsModel::kU] = u;
        dialog.m_fAmount[CCustomMutationsModel::kH] = h;
        OnCustomMutationsOk(dialog, nullptr);
    }
    // The preview point of a node's centre.
    qntPOS At(uint32_t i) const { return NodeCentre(i); }
};

// An editor created over a recorder; pieces: what the engine holds.
struct Fixture {
    RecorderLink link;
    Editor ed;
    explicit Fixture(uint32_t pieces = 1)
    {
        ed.SetMain(&link);
        EXPECT_TRUE(ed.OnCreate(kPreview, pieces));
    }
};

// A layout model without a window.
class MainModel : public CWnd_MainModel {
public:
    CQNF_SeededRandom random{11};
    MainModel(uint32_t w, uint32_t h)
    {
        SetImageSize(w, h);
        SetRandomSource(&random);
    }
    std::vector<uint8_t> Block()
    {
        CQNF_Mem mem;
        uint32_t len = 0;
        if (!settings_SaveCurLayoutAndCellSettingsToMem(&mem, len))
            return {};
        return std::vector<uint8_t>(mem.GetPtr(), mem.GetPtr() + len);
    }
};

// The main window's calls answered by a layout model, with the pumps
// counted.
class ModelLink : public CCutterMainAdapter {
public:
    using CCutterMainAdapter::CCutterMainAdapter;
    int pumps = 0;
    int undoMarked = 0;
    void PumpWindowEvents() override { ++pumps; }
    void MarkPieceUndoAvailable() override { ++undoMarked; }
};

// An image, the layout model, the engine and the editor wired together.
struct CutRig {
    long w, h;
    std::vector<uint8_t> planes[3];
    MainModel main;
    ModelLink link{main};
    CTessolo engine;
    Editor ed;

    CutRig(long width, long height, uint16_t columns, uint16_t rows, uint32_t piecesAtOpening = 0)
        : w(width), h(height), main(uint32_t(width), uint32_t(height))
    {
        for (int k = 0; k < 3; ++k) {
            planes[k].resize(size_t(w) * size_t(h));
            for (size_t i = 0; i < planes[k].size(); ++i)
                planes[k][i] = uint8_t(i * (k + 3));
        }
        main.SetCutter(&ed);
        ed.SetMain(&link);
        ed.SetEngine(&engine);
        CWnd_CutterEditor::CUTSOURCE src;
        src.width = w;
        src.height = h;
        for (int k = 0; k < 3; ++k)
            src.planes[k] = planes[k].data();
        ed.SetCutSource(src);
        // The grid comes first, with straight knives (the editor's shape is
        // still empty), so that the pieces are the grid's cells; the editor
        // then holds it as its layout at opening.
        main.OnCutterUpdateRowsCols(rows, columns);
        EXPECT_TRUE(ed.OnCreate(kPreview, piecesAtOpening));
    }
};

}  // namespace editor_test
