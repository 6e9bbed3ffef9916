// CQNF_Control: the base of every skinned control a window holds.
//
// A control is a plain object: its window hit-tests it and feeds it mouse,
// key, wheel and timer events, and the control draws itself into a layer of
// the window's layer set and asks the window to recomposite and blit the
// changed rectangle. It reports to its window, or to the control that is its
// focus master, with control messages (qnmsg below). The control classes
// (buttons, sliders, edit lines, lists ...) derive from it and are made by
// type through the registry at the end of this header.
//
// Skins: each state of a control is an image record of the resource storage,
// a zip block that unpacks to the image's place in window coordinates (BE u16
// left, top, right, bottom) and its planar red, green, blue and alpha planes.
// A hot-zone record has the same form; its first plane is the hit mask.
#pragma once

#include "core/ErrorManager.h"
#include "core/Mem.h"
#include "core/String.h"
#include "core/Types.h"

#include <cstdint>

class CQNF_Layer;
class CQNF_Storage;
class CQNF_Window;

namespace qnctl {
// Control types, as resource folders and AddControl know them.
inline constexpr uint8_t Slider = 1;
inline constexpr uint8_t StaticImage = 2;
inline constexpr uint8_t StaticText = 3;
inline constexpr uint8_t Progress = 4;
inline constexpr uint8_t Button = 5;
inline constexpr uint8_t RadioButton = 6;
inline constexpr uint8_t CheckBox = 7;
inline constexpr uint8_t EditLine = 8;
inline constexpr uint8_t ScrollBar = 9;
inline constexpr uint8_t List = 10;
inline constexpr uint8_t Preview = 11;
inline constexpr uint8_t Ruler = 12;

// The resource folder format of a type ("%s" = the control's name), or null
// for a type that has none.
const char* ResourceFolder(uint8_t type);
}  // namespace qnctl

// Control messages.
namespace qnmsg {
inline constexpr unsigned short ValueChanged = 256;   // slider, scroll bar, progress: pointer to the u32 value
inline constexpr unsigned short ValueTracking = 261;  // slider, scroll bar while dragged: pointer to the u32 value
inline constexpr unsigned short Clicked = 272;        // button, check box, radio button
inline constexpr unsigned short TextEdited = 288;     // edit line: pointer to its CQNF_String
inline constexpr unsigned short ImageMouseMove = 336;   // static image to its master: qnctl::ImageMouse
inline constexpr unsigned short ImageMouseDown = 337;
inline constexpr unsigned short ImageMouseUp = 338;
inline constexpr unsigned short ImageMouseWheel = 339;
inline constexpr unsigned short SelectionChanged = 352;  // list
}  // namespace qnmsg

namespace qnerr {
inline constexpr unsigned short ControlSkin = 192;  // a required skin record is missing or malformed
}  // namespace qnerr

class CQNF_Control : public CQNF_FrameWork {
public:
    CQNF_Control() = default;
    // An external control tells its window that it is gone.
    ~CQNF_Control() override;
    CQNF_Control(const CQNF_Control&) = delete;
    CQNF_Control& operator=(const CQNF_Control&) = delete;

    // Virtual operations; coordinates are window-local, handlers answer 1
    // when they handled the event.
    virtual void Enable(unsigned char enabled) { m_enabled = enabled; }
    virtual void SetFocus(unsigned char focused);
    virtual void SetCheck(unsigned char, unsigned char) {}
    virtual unsigned char Init(void* window, unsigned long id, CQNF_String name, CQNF_Storage* storage);
    virtual qntRECT_s GetRenderRect() { return qnNullRect; }
    virtual void Redraw() {}
    virtual unsigned char OnTimer(unsigned short) { return 1; }
    virtual unsigned char OnMouseMove(short, short, unsigned char) { return 0; }
    virtual unsigned char OnLMouseDown(short, short, unsigned char) { return 0; }
    virtual unsigned char OnLMouseUp(short, short, unsigned char) { return 0; }
    virtual unsigned char OnMouseWheel(short, short, unsigned char, short) { return 0; }
    virtual unsigned char OnKeyDown(unsigned char, unsigned char) { return 0; }
    virtual unsigned char OnKeyUp(unsigned char, unsigned char) { return 0; }
    virtual unsigned char OnKeyChar(unsigned char, unsigned char) { return 0; }
    virtual unsigned char OnLMouseDoubleClick(short, short, unsigned char) { return 0; }
    virtual unsigned char OnLMouseTripleClick(short, short, unsigned char) { return 0; }
    virtual unsigned char PtInControl(short x, short y) { return m_enabled ? PtAboveControl(x, y) : 0; }
    virtual unsigned char PtAboveControl(short, short) { return 0; }
    // Receives the messages of the controls whose focus master this one is.
    virtual unsigned char OnCtrlMessage(unsigned short, unsigned long, char*, unsigned char, void*) { return 0; }

    unsigned char GetType() const { return m_type; }
    const char* GetName() const { return m_name.GetStr(); }
    unsigned long GetControlID() const { return m_id; }
    unsigned char IsEnabled() const { return m_enabled; }
    unsigned char GetCheck() const { return m_check; }
    unsigned char GetGroupID() const { return m_group; }
    unsigned char IsFocused() const { return m_focused; }
    unsigned char IsCtrlFiltered() const { return m_filtered; }
    void SetCtrlFiltered(unsigned char filtered) { m_filtered = filtered; }
    unsigned char GetDisabledOpacity() const { return m_disabledOpacity; }
    // Stores the opacity. A disabled control shows itself again at once: the
    // opacity, and the picture it picks (0 hides whatever the skin has), are
    // on the screen when this returns.
    void SetDisabledOpacity(unsigned char opacity)
    {
        m_disabledOpacity = opacity;
        if (m_enabled) {
            Redraw();
        } else {
            ShowDisabledAgain();
        }
    }
    // A disabled state shows the skin's Disabled picture, if any, unless the
    // disabled opacity is 0: that hides the control whatever the skin has.
    bool ShowsDisabledPicture() const { return m_disabledOpacity != 0; }
    unsigned char IsExternal() const { return m_external; }
    void SetExternal(unsigned char external) { m_external = external; }
    // The window is going away first: nothing may reach it through this control.
    void ForgetWindow() { m_window = nullptr; }
    CQNF_Window* GetWindow() const { return m_window; }
    CQNF_Storage* GetStorage() const { return m_storage; }
    unsigned char IsReady() const { return m_ready; }

    void InvertWheel(unsigned char invert) { m_wheelInvert = invert; }
    void SetWheelSpeed(unsigned char speed) { m_wheelSpeed = speed; }
    CQNF_Control* GetFocusMaster() const { return m_focusMaster; }
    void SetFocusMaster(CQNF_Control* master) { m_focusMaster = master; }
    void EnableMessageForwardingToFocusMaster(unsigned char on) { m_forwardToMaster = on; }

    // The control's timers (ids 1 to 3), through the window.
    bool SetTimer(unsigned long ms, unsigned short id);
    bool KillTimer(unsigned short id);
    // The pointer in window-local coordinates.
    qntPOS GetMousePos() const;
    CQNF_Control* GetControlByID(unsigned long id) const;

    // Delivers a message to the focus master (forwarding on; dropped with 0
    // when there is none) or to the window; the receiver's answer.
    unsigned char SendMessage(unsigned short msg, void* data);
    void NotifyParentCtrlFocuseed();
    void NotifyParentCtrlLostFocus();
    // The window unchecks every other control of this one's group.
    void NotifyGroup();
    // The focused flag of the end of the focus-master chain. A chain that
    // loops ends where it would repeat itself.
    unsigned char GetFocus() const;

    // Reads and unpacks the skin record at the full key into pixels (kept by
    // the caller) and sets rect; the first plane, or null when the record is
    // missing, does not unpack, or does not hold 8 + 4 x w x h bytes for its
    // rectangle.
    unsigned char* LoadImageData(CQNF_String key, qntRECT_s* rect, CQNF_Mem* pixels);
    // Copies rows of a state image (planar RGBA, rect's size) into the layer
    // at (dx, dy); firstRow = rowCount = 0 clears the layer and copies the
    // whole image. Only the part that lies inside the layer is written,
    // whatever the offsets. Always 1.
    unsigned char SetDataToImage(CQNF_Layer* layer, short dx, short dy, unsigned char* pixels, qntRECT_s rect,
                                 short firstRow, short rowCount);

    // The full key of a record ("Normal") in this control's resource folder.
    CQNF_String ResourceKey(const char* record) const;

protected:
    // Draws the disabled state afresh, as if it had just been entered: its
    // opacity or its picture may have changed.
    virtual void ShowDisabledAgain() { Redraw(); }
    // The control without a master at the end of the chain from this one;
    // null when the chain loops.
    const CQNF_Control* ChainEnd() const;
    // True while the pointer is over this control and no other window covers
    // it there: what keeps a hover poll running.
    bool PointerStillOver();
    // The hover poll (control timer 1, every 50 ms) that notices a pointer
    // leaving without a move event.
    void StartHoverPoll();
    void StopHoverPoll();
    // Repeat while held (buttons in periodic mode, scroll-bar tracks): timer 2
    // waits 500 ms once, then timer 3 ticks every 50 ms until StopRepeat.
    void StartRepeatDelay();
    void RepeatDelayEnded();
    void StopRepeat();

    uint8_t m_external = 0;
    uint8_t m_type = 0;
    uint32_t m_id = 0;
    uint8_t m_wheelInvert = 0;
    uint8_t m_wheelSpeed = 1;
    uint8_t m_enabled = 1;
    uint8_t m_disabledOpacity = 80;
    uint8_t m_focused = 0;
    uint8_t m_group = 255;
    uint8_t m_check = 0;
    CQNF_Control* m_focusMaster = nullptr;
    uint8_t m_forwardToMaster = 0;
    uint8_t m_ready = 0;
    CQNF_Window* m_window = nullptr;
    CQNF_String m_name;
    CQNF_Storage* m_storage = nullptr;
    uint8_t m_filtered = 0;
    uint8_t m_hoverPoll = 0;
    uint8_t m_repeatDelay = 0;
    uint8_t m_repeating = 0;
};

namespace qnctl {
// Makes a control object of a type; the control code registers one maker per
// class. AddControl refuses a type without a maker like an unknown type. The
// toolkit's own classes are known without registration.
using Maker = CQNF_Control* (*)();
void RegisterMaker(uint8_t type, Maker maker);
Maker FindMaker(uint8_t type);
// The maker of a class of the toolkit's own, or null (CtrlMakers.cpp).
Maker BuiltInMaker(uint8_t type);
}  // namespace qnctl
