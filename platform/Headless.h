// The headless backend: everything a window test needs, without a display.
//
// - A fake clock that moves only when a test advances it or a loop waits.
// - Fake screens (the main screen first).
// - Windows with position, size, z-order, visibility, shape mask and an xRGB
//   framebuffer each, filled by Blit; tests read pixels or save them.
// - Injected input: pointer moves, presses, releases, wheel turns and keys are
//   pushed to the sink exactly as a real backend would push them; a press goes
//   to the window under the pointer, and everything to that window until the
//   button comes up. Keys go to the active window. Nothing activates a window
//   by itself: tests do, as a window manager would (Activate).
// - Scripted steps: when a loop would wait, the next step runs (it injects
//   input, advances the clock, or calls anything). With no step left, a wait
//   with a timeout advances the clock by it; a wait without one, or more waits
//   than the budget allows, throws plat::LoopStuck.
// - Scripted answers for pop-up menus and file dialogs, and logs of what was
//   shown. A dialog or menu without a scripted answer throws LoopStuck too.
// - A save dialog whose refusal refuses a scripted name logs the alert a
//   user would see over the chooser (parent 0, the chooser's; its text the
//   refusal box's, DescribeRefusal) and takes the next answer, as the
//   chooser that stays open would.
#pragma once

#include "platform/Platform.h"

#include <array>
#include <deque>
#include <map>
#include <optional>

namespace plat {

class HeadlessPlatform : public Platform {
public:
    HeadlessPlatform();
    ~HeadlessPlatform() override;

    // --- test controls -----------------------------------------------------
    void Advance(uint32_t ms) { m_now += ms; }
    void SetScreens(std::vector<Rect> workAreas) { m_screens = std::move(workAreas); }
    void SetDoubleClickMs(uint32_t ms) { m_doubleClickMs = ms; }
    // Steps run one per wait of a loop, in order.
    void Script(std::function<void()> step) { m_script.push_back(std::move(step)); }
    size_t ScriptLeft() const { return m_script.size(); }
    // Waits allowed from now on before LoopStuck.
    void SetLoopBudget(uint32_t waits) { m_budget = waits; }

    void MoveMouse(Point global);
    void Press(uint8_t button = 1, uint8_t mods = 0);
    void Release(uint8_t button = 1, uint8_t mods = 0);
    // Move, press and release at a point.
    void Click(Point global, uint8_t mods = 0);
    void Wheel(int16_t delta, uint8_t mods = 0);
    void Key(uint8_t vkey, uint8_t ch, uint8_t mods = 0, bool repeat = false);
    void KeyUp(uint8_t vkey, uint8_t ch, uint8_t mods = 0);
    void SetKeyState(uint32_t state) { m_keyState = state; }

    // Window state as the backend holds it.
    bool Exists(WinId w) const { return m_windows.count(w) != 0; }
    uint32_t Pixel(WinId w, int32_t x, int32_t y) const;  // 0xFFFFFFFF outside
    const std::vector<uint32_t>* Framebuffer(WinId w, uint16_t& width, uint16_t& height) const;
    bool InShape(WinId w, int32_t x, int32_t y) const;  // window coordinates
    std::vector<WinId> ZOrder() const { return m_z; }   // back to front
    uint32_t FlushCount() const { return m_flushes; }
    uint32_t BlitCount() const { return m_blits; }

    // Services logs and scripted answers.
    struct AlertShown {
        std::string title, text;
        WinId parent = 0;
    };
    std::vector<AlertShown> alerts;
    // Moves of a window while it was on the screen (a user sees it jump).
    struct MoveShown {
        WinId win;
        Point to;
    };
    std::vector<MoveShown> movesShown;
    uint32_t beeps = 0;
    int32_t cursor = 0;
    std::string clipboard;
    bool clipboardHasText = false;
    std::vector<std::string> urlsOpened;
    std::vector<std::vector<MenuItem>> menusShown;
    std::vector<Point> menuPoints;
    std::deque<int> menuAnswers;
    std::vector<FileDialogSpec> dialogsShown;
    std::deque<std::optional<std::string>> openAnswers;  // nullopt = cancel
    std::deque<std::optional<SaveChoice>> saveAnswers;
    std::vector<std::array<uint16_t, 3>> colorsOffered;        // what each pick opened on
    std::deque<std::optional<std::array<uint16_t, 3>>> colorAnswers;  // nullopt = cancel
    bool scrollArrowsAtBothEnds = true;

    // --- Platform ----------------------------------------------------------
    void SetSink(EventSink* sink) override { m_sink = sink; }
    uint32_t NowMs() override { return m_now; }
    void WaitForEvents(int32_t timeoutMs) override;
    std::vector<Rect> ScreenWorkAreas() override { return m_screens; }
    Rect DesktopBounds() override;
    WinId CreateWindow(const WindowSpec& spec) override;
    void DestroyWindow(WinId w) override;
    void SetShape(WinId w, const uint8_t* mask, uint16_t width, uint16_t height, Point origin) override;
    void Show(WinId w) override;
    void Hide(WinId w) override;
    bool IsVisible(WinId w) override;
    void Activate(WinId w) override;
    void Collapse(WinId w) override;
    void Move(WinId w, Point global) override;
    Rect ContentRect(WinId w) override;
    WinId WindowAt(Point global) override;
    WinId ActiveWindow() override { return m_active; }
    void Blit(WinId w, const uint32_t* xrgb, uint32_t strideWords, Rect src, Point dst) override;
    void Flush(WinId w, Rect r) override;
    Point PointerGlobal() override { return m_pointer; }
    uint32_t KeyState() override { return m_keyState; }
    uint32_t DoubleClickMs() override { return m_doubleClickMs; }
    uint32_t CaretBlinkMs() override { return 530; }
    void SetCursor(int32_t id) override { cursor = id; }
    bool ClipboardHasText() override { return clipboardHasText; }
    bool ClipboardGetText(std::string& latin1) override;
    bool ClipboardSetText(const std::string& latin1) override;
    void Beep() override { ++beeps; }
    int Alert(const std::string& title, const std::string& text, WinId parent) override;
    bool ScrollArrowsAtBothEnds() override { return scrollArrowsAtBothEnds; }
    int PopupMenu(WinId w, Point global, const std::vector<MenuItem>& items) override;
    bool FileOpenDialog(const FileDialogSpec& spec, std::string& path) override;
    bool FileSaveDialog(const FileDialogSpec& spec, SaveChoice& choice) override;
    bool OpenURL(const std::string& url) override;
    bool PickColor(uint16_t rgb[3]) override;

private:
    struct Win {
        WindowSpec spec;
        Point pos;
        bool visible = false;
        bool collapsed = false;
        std::vector<uint32_t> pixels;
        std::vector<uint8_t> mask;  // empty: rectangular
    };
    Win* Find(WinId w);
    const Win* Find(WinId w) const;
    void Send(Event e);
    void SendInput(Kind kind, WinId w, uint8_t button, uint8_t mods, uint8_t vkey = kNoKey, uint8_t ch = 0,
                   int16_t wheel = 0);
    // The grab window while a button is down, else the window under the pointer.
    WinId PointerTarget();
    void Raise(WinId w);
    void SetActive(WinId w);

    EventSink* m_sink = nullptr;
    uint32_t m_now = 1000;
    std::vector<Rect> m_screens{{0, 0, 1280, 1024}};
    uint32_t m_doubleClickMs = 500;
    std::deque<std::function<void()>> m_script;
    uint32_t m_budget = 10000;
    std::map<WinId, Win> m_windows;
    std::vector<WinId> m_z;
    WinId m_next = 1;
    WinId m_active = 0;
    WinId m_grab = 0;
    uint8_t m_buttons = 0;
    Point m_pointer{-1, -1};
    uint32_t m_keyState = 0;
    uint32_t m_flushes = 0;
    uint32_t m_blits = 0;
};

}  // namespace plat
