// CQNF_Control: the base of every skinned control a window holds.
//
// A control is a plain object: its window hit-tests it and feeds it mouse,
// key, wheel and timer events, and the control draws itself into a layer of
// the window. This header holds the fields and the virtual operations the
// window's input routing calls, with their base behaviour; the control
// classes (buttons, edit lines, lists ...) derive from it and are made by
// type through the registry below, which the control code fills.
#pragma once

#include "core/ErrorManager.h"
#include "core/String.h"
#include "core/Types.h"

#include <cstdint>

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

class CQNF_Control : public CQNF_FrameWork {
public:
    CQNF_Control() = default;
    ~CQNF_Control() override = default;
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
    void SetDisabledOpacity(unsigned char opacity)
    {
        m_disabledOpacity = opacity;
        Redraw();
    }
    unsigned char IsExternal() const { return m_external; }
    void SetExternal(unsigned char external) { m_external = external; }
    CQNF_Window* GetWindow() const { return m_window; }
    CQNF_Storage* GetStorage() const { return m_storage; }

    // The control's timers, through the window.
    bool SetTimer(unsigned long ms, unsigned short id);
    bool KillTimer(unsigned short id);

protected:
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
};

namespace qnctl {
// Makes a control object of a type; the control code registers one maker per
// class. AddControl refuses a type without a maker like an unknown type.
using Maker = CQNF_Control* (*)();
void RegisterMaker(uint8_t type, Maker maker);
Maker FindMaker(uint8_t type);
}  // namespace qnctl
