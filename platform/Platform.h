// The seam between the window toolkit and whatever shows windows.
//
// Everything with behaviour that the toolkit's windows depend on (the event
// queue, peeking and taking events by kind, event-loop timers, the
// application and modal loops, the routing of input to windows and controls)
// lives above this interface in ui/, written once. A backend only makes
// windows, puts pixels on them, turns native input into Event records pushed
// to the sink, waits, and offers the native services (dialogs, menus,
// clipboard, alerts). Two backends exist: a headless one for tests (fake
// clock, injected input, readable framebuffers, scripted answers) and GTK 3
// on X11.
//
// Conventions:
// - Coordinates are global screen pixels unless a name says otherwise.
//   Rectangles exclude their right and bottom edges.
// - Modifier bits are the toolkit's: 1 Option, 2 Shift, 4 Control, 8 Command.
//   The GTK backend maps Alt to Option, Shift to Shift, Super to Control and
//   Ctrl to Command, so the usual Ctrl shortcuts of this desktop work.
// - Keys cross the seam as positional virtual key codes of the classic
//   keyboard layout (0 = A, 1 = S, 36 = Return, 53 = Escape, 126 = Up ...)
//   plus the 8-bit character typed, so the toolkit's key tables apply as they
//   stand. Text is 8-bit Latin-1 above the seam.
// - Pixels handed to Blit are 32-bit words 0x00RRGGBB.
#pragma once

#include "core/Refusal.h"

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace plat {

using WinId = uint32_t;  // 0 = no window

struct Rect {
    int32_t left = 0, top = 0, right = 0, bottom = 0;
    int32_t Width() const { return right - left; }
    int32_t Height() const { return bottom - top; }
    bool Contains(int32_t x, int32_t y) const { return x >= left && x < right && y >= top && y < bottom; }
    bool operator==(const Rect&) const = default;
};

struct Point {
    int32_t x = 0, y = 0;
    bool operator==(const Point&) const = default;
};

namespace mods {
inline constexpr uint8_t Option = 1;
inline constexpr uint8_t Shift = 2;
inline constexpr uint8_t Control = 4;
inline constexpr uint8_t Command = 8;
inline constexpr uint32_t Space = 16;  // KeyState() only
}  // namespace mods

enum class Kind : uint8_t {
    MouseDown,
    MouseUp,
    MouseMoved,
    MouseDragged,
    MouseWheel,
    KeyDown,
    KeyRepeat,
    KeyUp,
    WinDraw,
    WinActivated,
    WinDeactivated,
    WinDisposed,
    AppActivated,
    AppDeactivated,
};

// One bit per kind, for taking and peeking by kind.
inline constexpr uint32_t Bit(Kind k) { return 1u << unsigned(k); }
inline constexpr uint32_t kMouseKinds = Bit(Kind::MouseDown) | Bit(Kind::MouseUp) | Bit(Kind::MouseMoved) |
                                        Bit(Kind::MouseDragged) | Bit(Kind::MouseWheel);
inline constexpr uint32_t kKeyKinds = Bit(Kind::KeyDown) | Bit(Kind::KeyRepeat) | Bit(Kind::KeyUp);
inline constexpr uint32_t kWindowKinds =
    Bit(Kind::WinDraw) | Bit(Kind::WinActivated) | Bit(Kind::WinDeactivated) | Bit(Kind::WinDisposed);
inline constexpr uint32_t kAppKinds = Bit(Kind::AppActivated) | Bit(Kind::AppDeactivated);
inline constexpr uint32_t kAllKinds = 0xFFFFFFFFu;

inline constexpr uint8_t kNoKey = 0xFF;

struct Event {
    Kind kind = Kind::MouseMoved;
    WinId win = 0;       // the window the event is for (0: the application)
    uint32_t timeMs = 0;
    Point global;        // pointer position, also for key events
    uint8_t button = 0;  // 1 primary, 2 secondary, 3 and above others
    uint8_t mods = 0;    // toolkit modifier bits
    int16_t wheel = 0;   // notches, positive away from the user
    uint8_t vkey = kNoKey;
    uint8_t ch = 0;      // character typed (Latin-1), as typed: not reduced by Command
    Rect dirty;          // WinDraw
};

class EventSink {
public:
    virtual ~EventSink() = default;
    virtual void Push(const Event& e) = 0;
};

// The events a change of the active window gives, in order: the old
// window's deactivation (when it still exists), the new one's activation,
// and the application's own activation or deactivation when the focus comes
// from, or goes to, none of its windows.
inline std::vector<Event> FocusChange(WinId old, bool oldExists, WinId now)
{
    std::vector<Event> out;
    auto add = [&](Kind k, WinId w) {
        Event e;
        e.kind = k;
        e.win = w;
        out.push_back(e);
    };
    if (old && oldExists)
        add(Kind::WinDeactivated, old);
    if (now)
        add(Kind::WinActivated, now);
    if (!old && now)
        add(Kind::AppActivated, 0);
    if (old && !now)
        add(Kind::AppDeactivated, 0);
    return out;
}

struct WindowSpec {
    std::string name;
    Point pos;
    uint16_t width = 0, height = 0;
    bool modal = false;  // a movable modal dialog
    enum class Group : uint8_t { Normal, Floating, Modal } group = Group::Normal;
    WinId parent = 0;
};

struct MenuItem {
    std::string text;  // Latin-1
    bool separator = false;
    bool checked = false;
    bool disabled = false;
    bool cmd = false, shift = false, option = false;  // shortcut shown
    std::string key;                                  // shortcut key text; empty: none
};

struct FileDialogSpec {
    std::string title;
    std::string folder;        // where the dialog opens; empty: the platform's choice
    std::string proposedName;  // save dialogs
    WinId parent = 0;
    bool showPackages = false;
    // Which files the dialog lists (folders are always listed), under the
    // name filterName; without it every file.
    std::function<bool(const std::string& fileName)> filter;
    std::string filterName;  // Latin-1
    // Save dialogs: why the chosen path may not be written (the file it
    // names, the chosen one or one it stands for, and why; Latin-1), or
    // empty. A backend asks it when the user accepts a name, before any
    // question of its own about replacing a file; a refused name is told in
    // a message box over the chooser, which then stays open for another
    // name. Without it every name is taken.
    std::function<QnRefusal(const std::string& path)> refusal;
};

// The headline of the box that tells why a chosen name was refused, shown
// inside the box (a display without a window manager shows no title) and
// as its title.
inline constexpr const char* kRefusedSaveTitle = "Cannot Save Here";

// What that box says, from the refusal and the path the user chose: the
// headline, the file the refusal names (the chosen one when it names none)
// on a line of its own, why, and what to do, each said once (the reason
// without the command line's own advice). Every backend shows these parts in
// this order; the name is broken anywhere (a path has no words) and the
// rest between words, within kColumns characters, so a long name keeps the
// box inside the screen.
struct RefusalBox {
    static constexpr int kColumns = 60;
    std::string headline, name, reason, advice;
    // The parts as one text, one to a line, the advice after a blank line.
    std::string Text() const { return headline + "\n" + name + "\n" + reason + "\n\n" + advice; }
};
RefusalBox DescribeRefusal(const QnRefusal& refusal, const std::string& chosen);

struct SaveChoice {
    std::string folder;
    std::string name;
    bool replaceConfirmed = false;  // the user agreed to replace an existing file
};

// Thrown by the headless backend when a loop would wait with nothing left to
// happen, or ran past its budget: a test fails loudly instead of hanging.
class LoopStuck : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class Platform {
public:
    virtual ~Platform() = default;

    virtual void SetSink(EventSink* sink) = 0;

    // Clock and waiting. WaitForEvents pushes what arrives to the sink and
    // returns when at least one event came or the timeout passed (0 polls,
    // negative waits without limit).
    virtual uint32_t NowMs() = 0;
    virtual void WaitForEvents(int32_t timeoutMs) = 0;

    // Screens: the area where windows may go on each screen, the main screen
    // first, and the bounds of the whole desktop.
    virtual std::vector<Rect> ScreenWorkAreas() = 0;
    virtual Rect DesktopBounds() = 0;

    // Windows: made hidden and undecorated; 0 when none could be made.
    virtual WinId CreateWindow(const WindowSpec& spec) = 0;
    virtual void DestroyWindow(WinId w) = 0;
    // One byte per pixel of width x height, nonzero = inside; origin is the
    // mask's top-left corner in window coordinates.
    virtual void SetShape(WinId w, const uint8_t* mask, uint16_t width, uint16_t height, Point origin) = 0;
    virtual void Show(WinId w) = 0;
    virtual void Hide(WinId w) = 0;
    virtual bool IsVisible(WinId w) = 0;
    virtual void Activate(WinId w) = 0;  // to the front, with the focus
    virtual void Collapse(WinId w) = 0;
    virtual void Move(WinId w, Point global) = 0;
    virtual Rect ContentRect(WinId w) = 0;
    // The topmost visible window of this program whose shape holds the point.
    virtual WinId WindowAt(Point global) = 0;
    virtual WinId ActiveWindow() = 0;

    // Drawing. The backend keeps what was blitted and repaints exposed parts
    // from it. Flush puts a rectangle on the screen at once.
    virtual void Blit(WinId w, const uint32_t* xrgb, uint32_t strideWords, Rect src, Point dst) = 0;
    virtual void Flush(WinId w, Rect r) = 0;

    // Input state and timing.
    virtual Point PointerGlobal() = 0;
    virtual uint32_t KeyState() = 0;  // modifier bits, plus mods::Space
    virtual uint32_t DoubleClickMs() = 0;
    virtual uint32_t CaretBlinkMs() = 0;
    // 0 arrow, 1 I-beam, 128 and above the application's cursors (unknown:
    // the arrow).
    virtual void SetCursor(int32_t id) = 0;

    // Services.
    virtual bool ClipboardHasText() = 0;
    virtual bool ClipboardGetText(std::string& latin1) = 0;
    virtual bool ClipboardSetText(const std::string& latin1) = 0;
    virtual void Beep() = 0;
    // A note alert with one OK button, over the parent (0: the active
    // window, if any); blocks until dismissed.
    virtual int Alert(const std::string& title, const std::string& text, WinId parent) = 0;
    virtual bool ScrollArrowsAtBothEnds() = 0;
    // Shows a pop-up menu with its top-left corner at the point; the index
    // of the chosen item, or -1 when dismissed.
    virtual int PopupMenu(WinId w, Point global, const std::vector<MenuItem>& items) = 0;
    virtual bool FileOpenDialog(const FileDialogSpec& spec, std::string& path) = 0;
    virtual bool FileSaveDialog(const FileDialogSpec& spec, SaveChoice& choice) = 0;
    virtual bool OpenURL(const std::string& url) = 0;
    // The desktop's colour chooser, modal, opened on rgb (16 bits a channel);
    // true with the chosen colour in rgb, false when cancelled.
    virtual bool PickColor(uint16_t rgb[3]) = 0;
};

}  // namespace plat
