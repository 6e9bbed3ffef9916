// CQNF_CtrlEditLine (type 8): the single-line text field of the skinned
// windows, drawn entirely by code into its own layer: flat background
// colours by state, bitmap-font glyphs, a selection band and an inverted
// caret that blinks on control timer 2. Only its rectangle comes from the
// resource storage ("Rect Left/Top/Right/Bottom" in "UIResources>Edits>name").
//
// The editing itself (keys, mouse selection, numeric stepping, clipboard,
// undo, scrolling) is qnui::EditLineModel; this class wires it to the window:
// focus, timers, drawing, and message 288 after every change.
#pragma once

#include "core/String.h"
#include "imaging/Layer.h"
#include "ui/Control.h"
#include "ui/EditLineModel.h"

#include <cstdint>

class CQNF_Font;

class CQNF_CtrlEditLine : public CQNF_Control, private qnui::EditLineHost {
public:
    static constexpr unsigned short kHoverTimer = 1, kCaretTimer = 2;
    // States: 1 normal, 2 hovered, 4 editing (focused), 8 disabled.
    static constexpr uint8_t kNormal = 1, kHovered = 2, kEditing = 4, kDisabled = 8;

    CQNF_CtrlEditLine();
    ~CQNF_CtrlEditLine() override;

    void Enable(unsigned char enabled) override;
    void SetFocus(unsigned char focused) override;
    unsigned char Init(void* window, unsigned long id, CQNF_String name, CQNF_Storage* storage) override;
    qntRECT_s GetRenderRect() override { return m_ready ? m_rect : qnNullRect; }
    void Redraw() override;
    unsigned char OnTimer(unsigned short id) override;
    unsigned char OnMouseMove(short x, short y, unsigned char mods) override;
    unsigned char OnLMouseDown(short x, short y, unsigned char mods) override;
    unsigned char OnLMouseUp(short x, short y, unsigned char mods) override;
    unsigned char OnMouseWheel(short x, short y, unsigned char mods, short delta) override;
    unsigned char OnKeyDown(unsigned char key, unsigned char mods) override;
    unsigned char OnKeyUp(unsigned char, unsigned char) override { return 1; }
    unsigned char OnKeyChar(unsigned char ch, unsigned char mods) override;
    unsigned char OnLMouseDoubleClick(short x, short y, unsigned char mods) override;
    unsigned char OnLMouseTripleClick(short x, short y, unsigned char mods) override;
    unsigned char PtAboveControl(short x, short y) override;

    // The font the glyphs come from (the window's; not owned).
    void SetFont(CQNF_Font* font);
    void SetOptions(unsigned char numeric, unsigned char minusAllowed, unsigned char decimalsAllowed,
                    unsigned char readOnly, short textOffset, unsigned char tabEndsEditing);
    void SetWheelStepValue(double step) { m_model.SetWheelStep(step); }
    // The ten colours by role; an entry with red 1 and alpha 0 keeps its colour.
    void SetColors(const qntRGBA8 colours[10]);
    void SetColors(qntRGBA8 c0, qntRGBA8 c1, qntRGBA8 c2, qntRGBA8 c3, qntRGBA8 c4, qntRGBA8 c5, qntRGBA8 c6,
                   qntRGBA8 c7, qntRGBA8 c8, qntRGBA8 c9)
    {
        const qntRGBA8 all[10] = {c0, c1, c2, c3, c4, c5, c6, c7, c8, c9};
        SetColors(all);
    }
    void SetText(const char* text, unsigned char notify);
    CQNF_String GetText() const { return CQNF_String(m_model.GetText().c_str()); }
    void SetSelection(long start, long end) { m_model.SetSelection(start, end); }
    void GetSelection(long* start, long* end, CQNF_String* text) const;
    void SetCaretPos(long pos) { m_model.SetCaretPos(pos); }
    long GetCaretPos() const { return m_model.GetCaretPos(); }
    void SelectAll() { m_model.SelectAll(); }
    long GetCharByXY(short x, short) const { return m_model.CharAtX(x); }
    void Visible(unsigned char visible);
    void SetVisibility(unsigned char visible);
    unsigned char IsVisible() const { return m_layer.GetVisible(); }
    // Sends 288 with the text.
    void OnChange();

    uint8_t GetState() const { return m_state; }
    CQNF_Layer* GetControlLayer() { return &m_layer; }
    const qnui::EditLineModel& GetModel() const { return m_model; }

private:
    void SetState(uint8_t state);
    void ShowDisabledAgain() override
    {
        m_state = 255;
        SetState(kDisabled);
    }
    void DrawState();
    void Hover();

    // What the model asks for.
    void EditRedraw() override;
    void EditChanged() override { OnChange(); }
    void EditEndFocus() override { SetFocus(0); }
    void EditBeep() override;
    bool ClipboardHasText() override;
    bool ClipboardGetText(std::string& text) override;
    void ClipboardSetText(const std::string& text) override;

    CQNF_Layer m_layer;
    uint8_t m_state = 255;
    qnui::EditLineColours m_colours;
    qnui::EditLineModel m_model;
    qnui::FontGlyphs m_glyphs;
    CQNF_String m_text;  // what 288 points to
    uint32_t m_caretDelay = 500;
    uint8_t m_caretShown = 0;
    uint8_t m_caretWidth = 1;
    uint16_t m_margins[4] = {1, 1, 1, 1};  // left, top, right, bottom
    int16_t m_textOffset = 0;
    qntRECT_s m_rect{0, 0, 0, 0};
    qntRECT_s m_textArea{0, 0, 0, 0};
};
