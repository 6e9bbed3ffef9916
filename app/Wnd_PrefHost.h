// What the modal dialogs of the main window and of the knife editor need
// from the program around them, and the fading status line they share.
//
//   CDialogHost    the configuration storage, window positions, status
//                  tips, the help pop-up menu, the colour picker, questions
//                  and error messages. Every service has a sound answer of
//                  its own (no storage, centred windows, no tips, an empty
//                  help menu, no picker, a question counting as OK, messages
//                  through the platform alert), so a dialog runs with the
//                  plain base class; CAppDialogHost (Wnd_PrefAppHost.h)
//                  gives the running application's.
//   CDialogStatus  the status line: a new tip fades the old text out by 65
//                  a 30 ms tick, then fades the new one in by 40.
//
// Dialogs are opened by one call each (DoPrefDialog, DoExportDialog,
// DoExportLMDialog in app/; DoPresMngWindow, DoAddShapeToPresets,
// DoAutoLayoutWindow, DoCustomMutationsWindow and the shape name in
// cutter/); each takes the parent window, the host and the model it edits.
#pragma once

#include "core/String.h"
#include "core/Types.h"

#include <cstdint>
#include <string>

class CQNF_Control;
class CQNF_CtrlStaticText;
class CQNF_PlatformPopupMenu;
class CQNF_Storage;
class CQNF_Window;

class CDialogHost {
public:
    virtual ~CDialogHost() = default;

    // "plugin.conf", or null when it is not open.
    virtual CQNF_Storage* Conf() { return nullptr; }
    // The stored top-left corner of window name opened over owner;
    // (-32000, -32000) centres it.
    virtual qntPOS WindowPos(const char* /*name*/, const char* /*owner*/) { return {-32000, -32000}; }
    virtual void PutWindowPos(const char* /*name*/, const char* /*owner*/, qntPOS /*pos*/) {}
    // The tip of a control (an empty name: the window's own tip) of window.
    virtual std::string StatusTip(const char* /*control*/, const char* /*window*/, uint8_t /*mode*/,
                                  uint8_t /*type*/)
    {
        return {};
    }
    // The help pop-up menu: its items, and a chosen item (true when it was
    // one of them).
    virtual void FillHelpMenu(CQNF_PlatformPopupMenu& /*menu*/) {}
    virtual bool HelpMenuDispatcher(unsigned short /*id*/, CQNF_Window* /*window*/) { return false; }
    // The colour picker on colour; false when cancelled or unavailable.
    virtual bool SelectColor(qntRGBA8& /*colour*/) { return false; }
    // A question with OK and Cancel; true for OK. A question that cannot be
    // asked counts as OK.
    virtual bool AskOkCancel(CQNF_Window* /*parent*/, const char* /*title*/, const char* /*text*/) { return true; }
    // An error or notice with an OK button.
    virtual void ShowMessage(CQNF_Window* parent, const char* title, const char* text);
    // Progress of a long export, 0..100; false asks it to stop.
    virtual bool Progress(uint8_t /*percent*/) { return true; }
};

// A control of w by name (and type, unless -1), or null.
CQNF_Control* qnFindControl(const CQNF_Window& w, const char* name, int type = -1);
// Creates a modal dialog from its resource window over parent at the
// position stored for (name, owner), draws it and runs it: 1 OK, 0 Cancel,
// -1 when it could not be made.
int qnRunDialog(CQNF_Window& dialog, CDialogHost& host, const char* name, const char* owner, CQNF_Window* parent);
// The same for a dialog whose position is kept under a name (posName) other
// than its resource window's.
int qnRunDialog(CQNF_Window& dialog, CDialogHost& host, const char* name, const char* posName, const char* owner,
                CQNF_Window* parent);
// The status tip of the control at index of w (none: the window's own).
std::string qnControlTip(CDialogHost& host, const CQNF_Window& w, unsigned long index, const char* window);

// Opens the help pop-up menu of a dialog at (x, y) in the window; the choice
// comes back as pop-up message 304.
void qnDialogHelpMenu(CDialogHost& host, CQNF_Window* window, short x, short y);
// Pop-up message 304 of a dialog: the help menu's choice to the host. 1
// when handled.
unsigned char qnDialogPopup(CDialogHost& host, CQNF_Window* window, unsigned short msg, void* data);

class CDialogStatus {
public:
    static constexpr unsigned short kTimer = 1;
    static constexpr uint32_t kTickMs = 30;

    // Shows on text and starts the fading timer of w.
    void Start(CQNF_Window& w, CQNF_CtrlStaticText* text);
    // Stops the timer (the dialog is closing).
    void Stop(CQNF_Window& w);
    // Timer 1 of the dialog; false for other timers.
    bool OnTimer(unsigned short id);
    // A new text starts the fade; the same text changes nothing.
    void Update(const std::string& text);
    // One tick of timer 1.
    void OnTick();
    const std::string& Held() const { return m_Held; }
    uint8_t State() const { return m_State; }

private:
    CQNF_CtrlStaticText* m_pText = nullptr;
    std::string m_Held;
    uint8_t m_State = 0;  // 0 still, 1 fading in, 2 fading out
    uint8_t m_bTimer = 0;
};

// The ten colours of the numeric and name edit lines of the dialogs.
const qntRGBA8* qnDialogEditColors();
