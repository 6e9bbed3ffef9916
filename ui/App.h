// CQNF_App: the application object of one interactive run.
//
// It holds the UI resource storage every window and control is skinned from,
// the keyboard shortcut table read from it, the main window and a callback
// for application events the host wants to see; it runs the application
// loop; and it offers the small platform services windows and controls use
// (clipboard text, beep, message box, timing constants, scroll-bar style).
// The global m_App points to the running application object.
//
// Shortcut records ("UIResources>Accelerators", a zip block unpacking to
// 108-byte records back to back; a remainder is ignored):
//   0 u8 required state of the main modifier (0 up, 1 down)
//   1 u8 required state of Option   2 u8 required state of Shift
//   3 u8 main modifier: nonzero Command (Control then up), 0 Control (Command then up)
//   4 u8 key: upper-case letter, digit, punctuation, or 220..231 for F1..F12
//   6 u16 little-endian: the command number sent to the window as message 336
#pragma once

#include <string>

#include "core/ErrorManager.h"
#include "core/FSRef.h"
#include "core/Mem.h"
#include "core/Storage.h"
#include "core/String.h"
#include "platform/Platform.h"

#include <cstdint>

class CQNF_Window;

namespace qnerr {
inline constexpr unsigned short NoResourceStorage = 160;
}

// What the event callback receives: application activation and deactivation,
// and window updates.
struct qntAPPEVENT {
    enum Kind : uint8_t { Activated = 1, Deactivated = 2, WindowUpdate = 3 } kind;
    plat::WinId window;
    uint32_t timeMs;
};

class CQNF_App : public CQNF_FrameWork {
public:
    static constexpr uint32_t kShortcutSize = 108;
    static constexpr unsigned short kNoCommand = 65535;
    using EventCallback = void (*)(const qntAPPEVENT&);

    CQNF_App() = default;
    ~CQNF_App() override;
    CQNF_App(const CQNF_App&) = delete;
    CQNF_App& operator=(const CQNF_App&) = delete;

    virtual int Run();
    virtual void PreCloseWindow(CQNF_Window*) {}

    // Resource storage.
    bool InitStorgaeResource(const char* name, const FSRef* folder, unsigned char checkMD5);
    bool InitStorgaeResource(const char* path, unsigned char checkMD5);
    // The form that reads the storage from the plug-in's own resources: this
    // system keeps no resources inside its binary, so it answers 160.
    bool InitStorgaeResource(unsigned char checkMD5);
    unsigned char CleanStorgaeResource() { return 1; }
    CQNF_Storage* GetStorage() { return m_storageOpen ? &m_storage : nullptr; }

    // Keyboard shortcuts.
    void LoadAcceleratorsFromStorage();
    const unsigned char* GetAccelerators(unsigned long& count) const
    {
        count = m_shortcutCount;
        return m_shortcuts;
    }
    unsigned short GetAcceleratorCmd(unsigned char key, unsigned char control, unsigned char option,
                                     unsigned char shift, unsigned char command) const;
    void TranslateAccelerator(unsigned char key, unsigned char modifiers, CQNF_Window* window);
    void TranslateAccelerator(unsigned char key, CQNF_Window* window);

    void SetMainWindow(CQNF_Window* w) { m_mainWindow = w; }
    CQNF_Window* GetMainWnd() const { return m_mainWindow; }
    void SetEventCallback(EventCallback cb) { m_eventCallback = cb; }
    bool IsEventHandlerInstalled() const { return m_handlerInstalled; }
    // Hands an application event to the callback while the loop runs.
    void i_AppEvent(const plat::Event& e);

    static int DoAppSpecialModal();

    // Timing, all in milliseconds and compared with each other only.
    static uint32_t GetDoubleClickTime();
    static uint32_t GetCaretDelay();
    static uint32_t GetPeriodicCounter();

    // Platform services.
    static bool Clipboard_IsTextDataAvailable();
    static bool Clipboard_GetText(CQNF_String& text);
    static bool Clipboard_SetText(CQNF_String text);
    static void SystemBeep();
    // A note alert: the title as its message, the text as its explanation,
    // both cut to 250 characters; blocks until dismissed.
    static int PlatformMessageBox(const char* text, const char* title, CQNF_Window* window);
    static bool GetScrollStyle_TwoSideArrows();

private:
    bool i_Opened();

    EventCallback m_eventCallback = nullptr;
    CQNF_Window* m_mainWindow = nullptr;
    CQNF_Storage m_storage;
    uint8_t m_storageOpen = 0;
    CQNF_Mem m_shortcutBlock;
    const unsigned char* m_shortcuts = nullptr;
    uint32_t m_shortcutCount = 0;
    bool m_handlerInstalled = false;
};

// The running application object.
extern CQNF_App* m_App;

// Why window windowName (what, as a person calls it: "the edit gallery")
// could not be made from the resource file with error: said in words, as
// every program that builds a window from a resource file says it. Most
// often the file is another one's (the plug-in's own holds no gallery
// windows).
std::string qnWindowNotMadeWords(const std::string& what, const std::string& resource, const char* windowName,
                                 unsigned short error);
