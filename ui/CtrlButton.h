// Buttons, check boxes and radio buttons: click controls that show one skin
// image per visual state in one layer of the window, follow the pointer with
// a hover poll, capture the press and report a click with qnmsg::Clicked.
//
// A button can repeat while held (periodic mode: nothing for 550 ms, the
// 500 ms delay and one 50 ms interval, then a click every 50 ms) or report
// on the press (menu mode, for buttons that open a pop-up menu). A check box
// toggles and reports its new state; a radio button checks itself, unchecks
// the rest of its group and reports.
#pragma once

#include "imaging/Layer.h"
#include "ui/Control.h"
#include "ui/CtrlSkin.h"

#include <cstdint>

class CQNF_CtrlButton : public CQNF_Control {
public:
    // Image slots; a check box keeps its checked images here, a radio button
    // its Normal On and Disabled On.
    enum Slot : uint8_t { Normal, Highlighted, Pressed, PressedOut, Disabled, HotZone, SlotCount };
    // Button states.
    static constexpr uint8_t StNormal = 1, StHighlighted = 2, StPressed = 4, StDisabled = 8, StPressedOut = 16;
    // Timer ids: the hover poll, the repeat delay and the repeat.
    static constexpr unsigned short RepeatDelayTimer = 2, RepeatTimer = 3;

    CQNF_CtrlButton() { m_type = qnctl::Button; }
    ~CQNF_CtrlButton() override = default;

    void Enable(unsigned char enabled) override;
    unsigned char Init(void* window, unsigned long id, CQNF_String name, CQNF_Storage* storage) override;
    qntRECT_s GetRenderRect() override { return m_renderRect; }
    void Redraw() override;
    unsigned char OnTimer(unsigned short id) override;
    unsigned char OnMouseMove(short x, short y, unsigned char mods) override;
    unsigned char OnLMouseDown(short x, short y, unsigned char mods) override;
    unsigned char OnLMouseUp(short x, short y, unsigned char mods) override;
    unsigned char PtInControl(short x, short y) override { return m_enabled ? PtAboveControl(x, y) : 0; }
    unsigned char PtAboveControl(short x, short y) override { return qnctl::HotZoneHit(m_images[HotZone], x, y); }

    void SetPeriodicMode(unsigned char on) { m_periodic = on; }
    unsigned char GetPeriodicMode() const { return m_periodic; }
    void SetMenuMode(unsigned char on) { m_menuMode = on; }
    unsigned char GetMenuMode() const { return m_menuMode; }
    // Shows a state of the class's table (nothing before Init).
    void SetState(unsigned char state);
    unsigned char GetState() const { return m_state; }
    CQNF_Layer* GetControlLayer() { return &m_layer; }

protected:
    struct Record {
        const char* name;
        qnctl::SkinImage* image;
    };
    // Loads the records (the first and the hot zone required), makes the
    // layer over the union of the images and shows the initial state.
    unsigned char i_Build(const Record* records, size_t count, uint8_t initialState);
    // The image a state shows; sets atDisabledOpacity when it borrows an
    // enabled image for a disabled state.
    virtual const qnctl::SkinImage* ImageFor(uint8_t state, bool& atDisabledOpacity) const;
    // The state shown when the pointer has left.
    virtual uint8_t RestingState() const { return StNormal; }
    // Each class's Enable(0) picks its own disabled state.
    void ShowDisabledAgain() override
    {
        m_state = qnctl::NoState;
        Enable(0);
    }
    void ShowAtPointer();

    qnctl::SkinImage m_images[SlotCount];
    CQNF_Layer m_layer;
    qntRECT_s m_renderRect = qnNullRect;
    uint8_t m_state = qnctl::NoState;
    uint8_t m_pressed = 0;
    uint8_t m_periodic = 0;
    uint8_t m_menuMode = 0;
};

class CQNF_CtrlCheckBox : public CQNF_CtrlButton {
public:
    // States: odd checked, even unchecked.
    static constexpr uint8_t StOn = 1, StOff = 2, StHighOn = 3, StHighOff = 4, StPressOn = 5, StPressOff = 6,
                             StOutOn = 7, StOutOff = 8, StDisOn = 9, StDisOff = 10;

    CQNF_CtrlCheckBox() { m_type = qnctl::CheckBox; }

    void Enable(unsigned char enabled) override;
    void SetCheck(unsigned char check, unsigned char notify) override;
    unsigned char Init(void* window, unsigned long id, CQNF_String name, CQNF_Storage* storage) override;
    unsigned char OnTimer(unsigned short id) override;
    unsigned char OnMouseMove(short x, short y, unsigned char mods) override;
    unsigned char OnLMouseDown(short x, short y, unsigned char mods) override;
    unsigned char OnLMouseUp(short x, short y, unsigned char mods) override;

protected:
    const qnctl::SkinImage* ImageFor(uint8_t state, bool& atDisabledOpacity) const override;
    uint8_t RestingState() const override { return m_check ? StOn : StOff; }
    // The checked or unchecked member of a pair of states.
    uint8_t Pick(uint8_t onState) const { return m_check ? onState : uint8_t(onState + 1); }

    // Normal Off, Highlighted Off, Pressed Off, Pressed Mouse Out Off, Disabled Off.
    qnctl::SkinImage m_off[5];
};

class CQNF_CtrlRadioButton : public CQNF_CtrlButton {
public:
    static constexpr uint8_t StOn = 1, StOff = 2, StHigh = 4, StPress = 8, StOut = 16, StDisOn = 32, StDisOff = 64;

    CQNF_CtrlRadioButton()
    {
        m_type = qnctl::RadioButton;
        m_group = 0;
    }

    void Enable(unsigned char enabled) override;
    void SetCheck(unsigned char check, unsigned char notify) override;
    unsigned char Init(void* window, unsigned long id, CQNF_String name, CQNF_Storage* storage) override;
    unsigned char OnTimer(unsigned short id) override;
    unsigned char OnMouseMove(short x, short y, unsigned char mods) override;
    unsigned char OnLMouseDown(short x, short y, unsigned char mods) override;
    unsigned char OnLMouseUp(short x, short y, unsigned char mods) override;

protected:
    const qnctl::SkinImage* ImageFor(uint8_t state, bool& atDisabledOpacity) const override;
    uint8_t RestingState() const override { return m_check ? StOn : StOff; }

    qnctl::SkinImage m_normalOff;
    qnctl::SkinImage m_disabledOff;
};
