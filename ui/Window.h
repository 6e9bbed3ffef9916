// CQNF_Window: the base of every window of the system.
//
// A window is skinned and shaped: its look comes from image records of the
// UI resource storage, its outline is the opaque part of its background
// image, and everything in it is drawn by compositing its layer set and
// blitting the result through its offscreen bitmap. Controls are plain
// objects the window builds from the storage, hit-tests and feeds with
// events. Subclasses override the virtual handlers.
//
// Files: Window.cpp (creation, canvas, controls, resources, closing),
// WindowEvents.cpp (the event handler and the input dispatch), WindowTimers.cpp
// (timers, pumping, modal loops).
//
// Error numbers: 1 bad control type, missing control folder, or a font record
// that is not binary; 2 no resource storage; 144 the platform window could
// not be made; 145 the window exists already; 146 no such layer; 192 a window
// image is missing or of the wrong size.
#pragma once

#include "core/Array.h"
#include "core/ErrorManager.h"
#include "core/Mem.h"
#include "core/String.h"
#include "core/Types.h"
#include "imaging/Layer.h"
#include "platform/Platform.h"
#include "ui/OffscreenBitmap.h"
#include "ui/Toolkit.h"

#include <cstdint>
#include <vector>

class CQNF_Control;
class CQNF_Font;

namespace qnerr {
inline constexpr unsigned short WindowPlatform = 144;
inline constexpr unsigned short WindowExists = 145;
inline constexpr unsigned short WindowNoLayer = 146;
inline constexpr unsigned short WindowImage = 192;
}  // namespace qnerr

// Control messages only a window receives.
namespace qnmsg {
inline constexpr unsigned short Shortcut = 336;
inline constexpr unsigned short PopupChoice = 304;
}  // namespace qnmsg

// A window's outline: one byte per pixel of the window (nonzero = inside),
// or empty for the whole rectangle. Window-local coordinates.
struct qntREGION {
    uint16_t width = 0, height = 0;
    std::vector<uint8_t> mask;
    bool Contains(int32_t x, int32_t y) const
    {
        if (x < 0 || y < 0 || x >= width || y >= height)
            return false;
        return mask.empty() || mask[size_t(y) * width + x] != 0;
    }
};

class CQNF_Window : public CQNF_FrameWork {
public:
    static constexpr uint32_t None = 0xFFFFFFFFu;  // "no control", "no layer"

    CQNF_Window();
    ~CQNF_Window() override;
    CQNF_Window(const CQNF_Window&) = delete;
    CQNF_Window& operator=(const CQNF_Window&) = delete;

    // --- virtual operations ------------------------------------------------
    virtual void Close();
    virtual void PreCloseWindow();
    virtual bool PtInCaption(short x, short y);
    virtual bool PtInCaptionGCoors(short x, short y);
    virtual unsigned char OnCreate(CQNF_LayerSet*, unsigned short, unsigned short) { return 1; }
    virtual unsigned char OnRedraw(qntRECT_s rect);
    virtual unsigned char OnTimer(unsigned short) { return 1; }
    virtual unsigned char OnMouseMove(short, short, unsigned char) { return 0; }
    virtual unsigned char OnLMouseDown(short, short, unsigned char) { return 0; }
    virtual unsigned char OnLMouseUp(short, short, unsigned char) { return 0; }
    virtual unsigned char OnRMouseDown(short, short, unsigned char) { return 0; }
    virtual unsigned char OnRMouseUp(short, short, unsigned char) { return 0; }
    virtual unsigned char OnContextMenu(short, short, unsigned char) { return 0; }
    virtual unsigned char OnMouseWheel(short, short, unsigned char, short) { return 1; }
    virtual unsigned char OnKeyDown(unsigned char, unsigned char) { return 0; }
    virtual unsigned char OnKeyUp(unsigned char, unsigned char) { return 0; }
    virtual unsigned char OnKeyChar(unsigned char, unsigned char) { return 0; }
    virtual unsigned char OnSetCursor(short x, short y);
    virtual unsigned char OnLMouseDoubleClick(short, short, unsigned char) { return 0; }
    virtual unsigned char OnLMouseTripleClick(short, short, unsigned char) { return 0; }
    virtual unsigned char OnAboveControl(unsigned long) { return 1; }
    virtual unsigned char OnCtrlMessage(unsigned short, unsigned long, char*, unsigned char, void*) { return 1; }
    virtual void OnCtrlFocused(unsigned long index);
    virtual void OnCtrlLostFocus(unsigned long index);
    virtual void OnCtrlNewGroupMaster(unsigned long index, unsigned char group);

    // --- creation ----------------------------------------------------------
    // x, y: global position; -32000 for both places the window where
    // FirstPlace says.
    bool CreateFromResource(CQNF_String name, short x, short y, CQNF_Window* parent, unsigned char modal);
    // For a window whose content needs more room than its resource gives
    // (a message of many lines), set before CreateFromResource: every image
    // of the window (its background, its controls' skins) that spans row
    // (window coordinates) has that row repeated extra times, and every one
    // below the row moves extra down. The window is as much taller.
    void SetStretch(int32_t row, uint16_t extra)
    {
        m_stretchRow = row;
        m_stretchExtra = extra;
    }
    // An image record's block (its rectangle, 4 big-endian 16-bit numbers,
    // then 4 planes of pixels) as the stretch makes it; false (the block as
    // it was) when it cannot be made.
    bool StretchImage(CQNF_Mem& block) const;
    bool Create(CQNF_String name, short x, short y, unsigned short width, unsigned short height,
                unsigned char flag, CQNF_Window* parent, unsigned char modal, unsigned char callOnCreate);
    // Where a window created at (-32000, -32000) shows first: the middle of
    // the first screen (screens may be empty). A window that belongs
    // elsewhere says so here, so that it never shows in the middle first.
    virtual qntPOS FirstPlace(const std::vector<plat::Rect>& screens, unsigned short width, unsigned short height);
    // The outline from an RGBA image: inside where alpha is above 128. A
    // layer's own position places it in the window.
    void SetWindowShape(CQNF_Image* image);

    // --- canvas and redraw -------------------------------------------------
    bool RenderRect(qntRECT_s rect);
    unsigned char UpdateRect(qntRECT_s rect);
    bool UpdateRect_Direct(CQNF_Image* image, qntRECT_s rect);
    bool RenderLayer(CQNF_String name);
    bool RenderLayer(unsigned long index);
    bool UpdateLayer(CQNF_String name);
    bool UpdateLayer(unsigned long index);
    void ForceRedrawRect(qntRECT_s rect);
    void LockWindow(unsigned char locked) { m_locked = locked; }
    unsigned char IsWindowLocked() const { return m_locked; }
    CQNF_LayerSet* GetLayerSet() { return &m_layerSet; }
    unsigned long LSAddLayer(CQNF_Layer* layer);
    CQNF_Layer* GetLayer(CQNF_String name);
    CQNF_Layer* GetLayer(unsigned long index);
    CQNF_Layer* GetCaptionLayer();
    void SetCaptionLayer(unsigned long index) { m_captionLayerIndex = uint32_t(index); }
    void SetCaptionLayer(CQNF_String name);

    // --- controls, fonts, resources ------------------------------------------
    unsigned long AddControl(CQNF_String name, unsigned char type);
    // The index of the first control of this name and type, or None.
    unsigned long FindControlByName(const char* name, unsigned char type) const;
    unsigned long AddControl_External(CQNF_Control* control);
    // An external control that goes away before its window takes itself off the list.
    void ForgetControl(const CQNF_Control* control);
    CQNF_Control* GetControl(unsigned long index) const;
    unsigned long GetControlCount() const { return m_controls.GetSize(); }
    unsigned long AddFont(CQNF_String name);
    CQNF_Font* GetFont(unsigned long index) const;
    bool GetResourceRect(const char* name, qntRECT_s& rect);
    bool GetResourceString(const char* name, CQNF_String& out);

    // --- platform window ---------------------------------------------------
    plat::WinId GetWindowHandle() const { return m_window; }
    const qntREGION* GetWindowRgnHandle() const { return m_hasShape ? &m_shape : nullptr; }
    CQNF_Window* GetParent() const { return m_parent; }
    const char* GetName() const { return m_name.GetStr(); }
    unsigned short GetWidth() const { return m_width; }
    unsigned short GetHeight() const { return m_height; }
    unsigned char Show();
    unsigned char Hide();
    bool IsVisible() const;
    void Minimize();
    void SetFocus();
    unsigned char MoveWindow(short x, short y);
    qntRECT_s GetWindowRect() const;
    qntPOS GetMousePos() const;
    static plat::WinId WindowFromPoint(qntPOS global);
    void SetMainWindowFlag(unsigned char on) { m_isMainWindow = on; }
    unsigned char IsMainWindow() const { return m_isMainWindow; }
    void SetAppLoopFlag(unsigned char on) { m_appLoop = on; }
    unsigned char GetAppLoopFlag() const { return m_appLoop; }
    unsigned char IsClosing() const { return m_closing; }

    // --- event routing -----------------------------------------------------
    // The platform event handler: 0 handled, -9874 not handled.
    static int windowEventHandler(const plat::Event& e, CQNF_Window* window);
    // After input that may have changed a control's state while the pointer
    // rested: tells the window of the control now under the pointer, or of
    // the same control in its new enabled state, as a move there would.
    void iFollowStateUnderPointer(unsigned char mods);
    unsigned char iLMouseDown(short x, short y, unsigned char mods);
    unsigned char iLMouseUp(short x, short y, unsigned char mods);
    unsigned char iMouseMove(short x, short y, unsigned char mods);
    unsigned char iMouseWheel(short x, short y, unsigned char mods, short delta);
    unsigned char iRMouseDown(short x, short y, unsigned char mods);
    unsigned char iRMouseUp(short x, short y, unsigned char mods);
    unsigned char iKeyDown(unsigned char key, unsigned char mods);
    unsigned char iKeyChar(unsigned char key, unsigned char mods);
    unsigned char iKeyUp(unsigned char key, unsigned char mods);
    unsigned char iSetCursor(short x, short y) { return OnSetCursor(x, y); }
    void iSetActiveCaption(unsigned char active);
    void FilterControl(unsigned char filtered, unsigned long index);
    static uint32_t GetKeysStatus();
    static bool IsKeyDown_Spacebar();
    static void SetNormalCursor();
    static void SetIBeamCursor();
    static void SetCursorByID(long id);
    // The topmost control the pointer would be above at (x, y) (window
    // coordinates), as a move there finds it; None for none.
    unsigned long ControlUnderPoint(short x, short y) const;
    unsigned long GetCapturedControl() const { return m_captured; }
    unsigned long GetFocusedControl() const { return m_focused; }

    // --- timers and modal loops ------------------------------------------------
    bool SetTimer(unsigned long ms, unsigned short id);
    bool KillTimer(unsigned short id);
    bool SetCtrlTimer(unsigned long ms, unsigned short controlTimerId, CQNF_Control* control);
    bool KillCtrlTimer(unsigned short controlTimerId, CQNF_Control* control);
    static void TimerAction(qnui::Toolkit::TimerRef timer, void* window);
    unsigned char iOnTimer(unsigned short id);
    void SubProcessMessages(CQNF_Window* target, unsigned char timers, unsigned char windowEvents,
                            unsigned char keys, unsigned char mouse);
    unsigned char CheckForInputMessagesInQueue();
    unsigned char ESCIsInMessageQueue();
    void CleanMessageQueue();
    long DoModal();
    void EndModal(long result);
    unsigned char IsModal() const { return m_inModalLoop; }
    void EnableTimers(unsigned char on) { m_timersEnabled = on; }
    unsigned char AreTimersEnabled() const { return m_timersEnabled; }
    // The encoded window timer id of a control timer; false when it does not
    // fit the 16-bit id or the control is not in this window.
    bool EncodeCtrlTimer(unsigned short controlTimerId, const CQNF_Control* control, unsigned short& id) const;

protected:
    // Builds a layer from an image record; false with 192 or the layer's
    // error. Shared by the background and the caption layers.
    bool i_LayerFromRecord(const CQNF_String& key, CQNF_Layer& layer);
    int32_t i_IndexOf(const CQNF_Control* control) const;
    // The caption drag: moves the window with the pointer until the button
    // comes up.
    void i_DragWindow(plat::Point startGlobal);
    void i_Dispose();
    static int iDispatch(const plat::Event& e, CQNF_Window* w);

    uint8_t m_timersEnabled = 1;
    uint8_t m_locked = 0;
    uint32_t m_captionLayerIndex = None;
    uint8_t m_createFlag = 1;
    uint16_t m_width = 0, m_height = 0;
    int32_t m_stretchRow = 0;
    uint16_t m_stretchExtra = 0;
    uint8_t m_inModalLoop = 0;
    int32_t m_modalResult = 0;
    uint8_t m_modal = 0;
    CQNF_Window* m_parent = nullptr;
    CQNF_String m_name;
    CQNF_LayerSet m_layerSet;
    CQNF_OffscreenBitmap m_offscreen;
    CQNF_Layer m_background;
    CQNF_Layer m_captionActive;
    CQNF_Layer m_captionInactive;
    uint8_t m_hasActiveCaption = 0, m_hasInactiveCaption = 0;
    uint32_t m_activeCaptionIndex = None, m_inactiveCaptionIndex = None;
    CQNF_Mem m_dragBlock;
    const uint8_t* m_dragMask = nullptr;
    qntRECT_s m_dragRect{0, 0, 0, 0};
    CQNF_PtrArray m_controls;
    uint32_t m_captured = None;
    uint32_t m_focused = None;
    CQNF_PtrArray m_fonts;
    uint32_t m_doubleClickTime;
    int32_t m_lastClickX = -32000, m_lastClickY = -32000;
    int32_t m_dblTolX = 4, m_dblTolY = 4;
    uint32_t m_lastClickTime = 0;
    uint8_t m_doubleClickPending = 0;
    uint32_t m_underPointer = uint32_t(-16);
    uint8_t m_underEnabled = 1;  // the enabled state it was reported in
    uint8_t m_closing = 0;
    plat::WinId m_window = 0;
    qntREGION m_shape;
    uint8_t m_hasShape = 0;
    CQNF_PtrArray m_timerRefs;
    CQNF_WordArray m_timerIds;
    uint8_t m_appLoop = 0;
    uint8_t m_isMainWindow = 0;
};
